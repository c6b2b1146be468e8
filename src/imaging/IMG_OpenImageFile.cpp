#include "IMG_OpenImageFile.h"

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
    {"Proxy_TIFF", false, Make<Proxy_TIFF>},
    {"Proxy_JPEG", false, Make<Proxy_JPEG>},
    {"Proxy_PCD", false, Make<Proxy_PCD>},
    {"Proxy_PSD", false, Make<Proxy_PSD>},
    {"Proxy_EPS_OPI", true, Make<Proxy_EPS_OPI>},
    {"Proxy_EPS_Std", false, Make<Proxy_EPS_Std>},
    {"Proxy_EPS_OPI_Other", true, Make<Proxy_EPS_OPI_Other>},
};

std::unique_ptr<Proxy_FileIOProcess> IMG_OpenImageFile(const char* path, const char* /*openMode*/,
                                                       bool acceptOpi) {
    for (const auto& entry : kImgReaders) {
        if (entry.placeholderReader && !acceptOpi) {
            continue;
        }
        std::unique_ptr<Proxy_FileIOProcess> reader;
        try {
            reader.reset(entry.make());
            if (!reader) {
                continue; // no memory for this attempt
            }
            reader->SetFileName(path);
            reader->SetMode(kImgModeInspect);
            reader->Begin();
            reader->Run();
            reader->End();
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
    return nullptr;
}
