#include "Proxy_PCD.h"

#include "IMG_Exception.h"

#include <cstring>

namespace {

// An image pack carries "PCD_IPI" at byte 2048, after the disc's own sectors.
constexpr long kSignatureOffset = 2048;
constexpr char kSignature[] = "PCD_IPI";
constexpr std::size_t kSignatureLength = sizeof kSignature - 1;

} // namespace

Proxy_PCD::~Proxy_PCD() {
    CloseRead();
}

void Proxy_PCD::OpenRead() {
    CloseRead();
    const char* path = GetFileName();
    if (path == nullptr) {
        throw IMG_Exception(-4);
    }
    file = std::fopen(path, "rb");
    if (file == nullptr) {
        throw IMG_Exception(-4);
    }
    if (std::fseek(file, kSignatureOffset, SEEK_SET) != 0) {
        throw IMG_Exception(-11);
    }
    char signature[kSignatureLength];
    if (std::fread(signature, 1, kSignatureLength, file) != kSignatureLength ||
        std::memcmp(signature, kSignature, kSignatureLength) != 0) {
        throw IMG_Exception(-11);
    }

    // Every pack holds its base image at 3072 x 2048, 8-bit RGB; the rest of
    // the file is not consulted.
    IMG_ImageInfo& image = Info();
    image.samplesPerPixel = 3;
    image.resolution = 768.0f;
    image.width = 3072;
    image.height = 2048;
    ComputePixelType(image, 8, 3, kImgModelRGB);
    formatCode = kImgFormatPhotoCd;
}

void Proxy_PCD::CloseRead() {
    if (file != nullptr) {
        std::fclose(file);
        file = nullptr;
    }
}
