#include "IMG_OpenImageFile.h"

#include "IMG_FileView.h"
#include "Proxy_EPS.h"
#include "Proxy_JPEG.h"
#include "Proxy_PCD.h"
#include "Proxy_PSD.h"
#include "Proxy_TIFF.h"

#include <new>

namespace {

template <typename Reader> Proxy_FileIOProcess* Make() {
    return new (std::nothrow) Reader();
}

} // namespace

const IMG_ReaderEntry kImgReaders[7] = {
    {"Proxy_TIFF", false, Make<Proxy_TIFF>, Proxy_TIFF::CanBe},
    {"Proxy_JPEG", false, Make<Proxy_JPEG>, Proxy_JPEG::CanBe},
    {"Proxy_PCD", false, Make<Proxy_PCD>, Proxy_PCD::CanBe},
    {"Proxy_PSD", false, Make<Proxy_PSD>, Proxy_PSD::CanBe},
    {"Proxy_EPS_OPI", true, Make<Proxy_EPS_OPI>, Proxy_EPS::CanBe},
    {"Proxy_EPS_Std", false, Make<Proxy_EPS_Std>, Proxy_EPS::CanBe},
    {"Proxy_EPS_OPI_Other", true, Make<Proxy_EPS_OPI_Other>, Proxy_EPS::CanBe},
};

const char* const kImgNoReaderAccepts = "no reader accepts this file";

std::unique_ptr<Proxy_FileIOProcess> IMG_OpenImageFile(const char* path, const char* /*openMode*/,
                                                       bool acceptOpi, std::string* why) {
    // The TIFF reader sets up libtiff (private tags, no messages) before it
    // opens anything; that happens whether or not it gets to see this file.
    Proxy_TIFF_RegisterPrivateTags();

    // What cannot be opened as a regular file is given to no reader: a
    // reader that opened a named pipe itself would wait for a writer.
    IMG_FileView file;
    if (!file.Open(path)) {
        if (why != nullptr) {
            *why = file.Refusal();
        }
        return nullptr;
    }

    for (const auto& entry : kImgReaders) {
        if (entry.placeholderReader && !acceptOpi) {
            continue;
        }
        if (!entry.canBe(file)) {
            continue; // the reader would refuse it at its first check
        }
        std::unique_ptr<Proxy_FileIOProcess> reader;
        try {
            reader.reset(entry.make());
            if (!reader) {
                continue; // no memory for this attempt
            }
            reader->SetFileName(path);
            reader->SetMode(kImgModeInspect);
            reader->LendFile(&file);
            reader->Begin();
            reader->Run();
            reader->End();
            reader->LendFile(nullptr);
            return reader;
        } catch (...) {
            // Any failure ends this attempt; whatever OpenRead opened is closed.
            if (reader) {
                try {
                    reader->End();
                } catch (...) {
                }
            }
        }
    }
    if (why != nullptr) {
        *why = kImgNoReaderAccepts;
    }
    return nullptr;
}
