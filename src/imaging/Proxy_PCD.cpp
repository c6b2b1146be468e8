#include "Proxy_PCD.h"

#include "IMG_Exception.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// An image pack carries "PCD_IPI" at byte 2048, after the disc's own sectors.
constexpr off_t kSignatureOffset = 2048;
constexpr char kSignature[] = "PCD_IPI";
constexpr std::size_t kSignatureLength = sizeof kSignature - 1;

} // namespace

Proxy_PCD::~Proxy_PCD() {
    CloseRead();
}

bool Proxy_PCD::CanBe(const IMG_FileView& file) {
    return file.MayHold(kSignatureOffset, kSignature, kSignatureLength);
}

void Proxy_PCD::OpenRead() {
    CloseRead();
    const char* path = GetFileName();
    if (path == nullptr) {
        throw IMG_Exception(-4);
    }
    // Only the seven bytes of the signature are read, where they should be;
    // a file too short for them, or one that cannot be read there (not a
    // regular file), does not carry it.
    char signature[kSignatureLength];
    std::size_t got = 0;
    if (lentFile != nullptr) {
        got = lentFile->Read(kSignatureOffset, signature, kSignatureLength);
    } else {
        fd = ::open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            throw IMG_Exception(-4);
        }
        while (got < kSignatureLength) {
            const ssize_t n = ::pread(fd, signature + got, kSignatureLength - got,
                                      kSignatureOffset + static_cast<off_t>(got));
            if (n > 0) {
                got += static_cast<std::size_t>(n);
            } else if (n == 0 || errno != EINTR) {
                break;
            }
        }
    }
    if (got != kSignatureLength || std::memcmp(signature, kSignature, kSignatureLength) != 0) {
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
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}
