#include "IMG_FileIOProcess.h"

#include "IMG_Exception.h"

#include <cstring>
#include <new>

IMG_Image::~IMG_Image() = default;
IMG_ImageFactory::~IMG_ImageFactory() = default;
IMG_Progress::~IMG_Progress() = default;
IMG_Process::~IMG_Process() = default;
IMG_ImageConsumer::~IMG_ImageConsumer() = default;

IMG_FileIOProcess::IMG_FileIOProcess() {
    description.reset(new (std::nothrow) IMG_ImageInfo());
    if (!description) {
        throw IMG_Exception(-2);
    }
}

IMG_FileIOProcess::~IMG_FileIOProcess() = default;

void IMG_FileIOProcess::SetFileName(const char* name) {
    if (name == nullptr) {
        return;
    }
    std::size_t n = std::strlen(name);
    std::unique_ptr<char[]> copy(new (std::nothrow) char[n + 1]());
    if (!copy) {
        throw IMG_Exception(-2);
    }
    std::memcpy(copy.get(), name, n);
    path = std::move(copy);
}

void IMG_FileIOProcess::Begin() {
    if (mode == kImgModeRead || mode == kImgModeInspect) {
        OpenRead();
    } else if (mode == kImgModeWrite) {
        OpenWrite();
    }
}

void IMG_FileIOProcess::Run() {
    switch (mode) {
    case kImgModeInspect:
        ReadHeader();
        break;
    case kImgModeRead:
        ReadHeader();
        if (imageFactory != nullptr) {
            IMG_Image* image = imageFactory->MakeImage(*description);
            if (image == nullptr) {
                throw IMG_Exception(-2);
            }
            targetImage = image;
        }
        ReadRows();
        break;
    case kImgModeWrite:
        PrepareRows();
        WriteHeader();
        WriteRows();
        break;
    default:
        break;
    }
}

void IMG_FileIOProcess::End() {
    if (mode == kImgModeRead || mode == kImgModeInspect) {
        CloseRead();
    } else if (mode == kImgModeWrite) {
        CloseWrite();
    }
}

// Walks every row of the transfer description: a row buffer from the image,
// the row moved, the buffer handed back, progress told after each row.
template <typename MoveRow> void IMG_FileIOProcess::EachRow(MoveRow move) {
    const uint32_t rows = description->height;
    if (progress != nullptr) {
        progress->Start(rows);
    }
    for (uint32_t row = 0; row < rows; ++row) {
        uint8_t* buffer = targetImage != nullptr ? targetImage->GetRow(row) : nullptr;
        if (buffer == nullptr) {
            throw IMG_Exception(-2);
        }
        move(row, buffer);
        targetImage->ReleaseRow(row, buffer);
        if (progress != nullptr && !progress->Step()) {
            throw IMG_Exception(-25);
        }
    }
    if (progress != nullptr) {
        progress->Finish();
    }
}

void IMG_FileIOProcess::ReadRows() {
    EachRow([this](uint32_t row, uint8_t* buffer) { ReadRow(row, buffer); });
}

void IMG_FileIOProcess::WriteRows() {
    EachRow([this](uint32_t row, uint8_t* buffer) { WriteRow(row, buffer); });
}

Proxy_FileIOProcess::Proxy_FileIOProcess() = default;
Proxy_FileIOProcess::~Proxy_FileIOProcess() = default;

void Proxy_FileIOProcess::WriteHeader() {
    throw IMG_Exception(-1);
}
void Proxy_FileIOProcess::ReadRow(uint32_t, uint8_t*) {
    throw IMG_Exception(-1);
}
void Proxy_FileIOProcess::WriteRow(uint32_t, const uint8_t*) {
    throw IMG_Exception(-1);
}
void Proxy_FileIOProcess::OpenWrite() {
    throw IMG_Exception(-1);
}
void Proxy_FileIOProcess::CloseWrite() {
    throw IMG_Exception(-1);
}

void Proxy_FileIOProcess::GetLinkedName(char* buffer, std::size_t max) const {
    if (linkedName && buffer != nullptr) {
        std::strncpy(buffer, linkedName.get(), max);
    }
}

IMG_ImageInfo& Proxy_FileIOProcess::Info() {
    if (!info) {
        info.reset(new (std::nothrow) IMG_ImageInfo());
        if (!info) {
            throw IMG_Exception(-2);
        }
    }
    return *info;
}

void Proxy_FileIOProcess::SetLinkedName(const char* text, std::size_t length) {
    std::unique_ptr<char[]> copy(new (std::nothrow) char[length + 1]());
    if (!copy) {
        throw IMG_Exception(-2);
    }
    if (length > 0) {
        std::memcpy(copy.get(), text, length);
    }
    linkedName = std::move(copy);
}
