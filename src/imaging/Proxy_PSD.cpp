#include "Proxy_PSD.h"

#include "IMG_Exception.h"

#include <cstring>

namespace {

// Longest path the reader opens; a longer one cannot be opened (-4).
constexpr std::size_t kMaxPathLength = 1023;

constexpr uint16_t kResolutionInfo = 1005;
constexpr float kDefaultResolution = 72.0f;

uint32_t Be32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// The horizontal resolution of the first resolution entry (1005) of the
// image resources, a 16.16 fixed-point number of pixels per inch. A document
// without a usable entry (none before the walk ends, or one shorter than the
// number) keeps the default resolution. An empty block is an error of its own
// (-27).
float ResolutionFromResources(IMG_FilePsd& document) {
    if (document.ResourcesLength() == 0) {
        throw IMG_Exception(-27);
    }
    int64_t at = 0;
    uint32_t size = 0;
    uint8_t data[4];
    if (!document.FindResource(kResolutionInfo, at, size) || size < 4 ||
        !document.ReadAt(at, data, sizeof data)) {
        return kDefaultResolution;
    }
    const uint32_t fixed = Be32(data);
    return static_cast<float>(fixed >> 16) + static_cast<float>(fixed & 0xFFFF) / 65536.0f;
}

} // namespace

Proxy_PSD::~Proxy_PSD() = default;

bool Proxy_PSD::CanBe(const IMG_FileView& file) {
    // The document class reads the first 26 bytes at once and wants the
    // signature "8BPS" and version 1 (large documents are version 2).
    static const uint8_t kSignatureAndVersion[6] = {'8', 'B', 'P', 'S', 0, 1};
    return file.Size() >= 26 && file.MayHold(0, kSignatureAndVersion, 6);
}

void Proxy_PSD::OpenRead() {
    CloseRead();
    const char* path = GetFileName();
    if (path == nullptr || std::strlen(path) > kMaxPathLength) {
        throw IMG_Exception(-4);
    }
    try {
        document.reset(new IMG_FilePsd());
        if (lentFile != nullptr) {
            document->OpenThrough(path, *lentFile);
        } else {
            document->Open(path, "rb");
        }
    } catch (...) {
        document.reset();
        throw IMG_Exception(-4);
    }

    if (!document->ReadFileHeader() || document->Depth() != 8) {
        throw IMG_Exception(-11);
    }

    IMG_ImageInfo& image = Info();
    image.width = document->Columns();
    image.height = document->Rows();
    image.samplesPerPixel = static_cast<int16_t>(document->Channels());

    uint32_t model = kImgModelNone;
    switch (document->Mode()) {
    case 1:
        model = kImgModelGray;
        break;
    case 3:
        model = kImgModelRGB;
        break;
    case 4:
        model = kImgModelCMYK;
        break;
    default:
        // Bitmap, indexed, multichannel, duotone and Lab documents are not
        // taken; this failure is a plain integer, as the factory catches
        // anything.
        throw -1;
    }
    ComputePixelType(image, 8, document->Channels(), model);

    // A resolution that cannot be found is no reason to refuse the document.
    try {
        image.resolution = ResolutionFromResources(*document);
    } catch (...) {
        image.resolution = kDefaultResolution;
    }

    formatCode = kImgFormatPhotoshop;
}

void Proxy_PSD::CloseRead() {
    document.reset();
}
