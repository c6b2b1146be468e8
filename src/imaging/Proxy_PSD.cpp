#include "Proxy_PSD.h"

#include "IMG_Exception.h"

#include <cstring>
#include <span>

namespace {

// Longest path the reader opens; a longer one cannot be opened (-4).
constexpr std::size_t kMaxPathLength = 1023;

constexpr uint16_t kResolutionInfo = 1005;
constexpr float kDefaultResolution = 72.0f;

uint16_t Be16(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

uint32_t Be32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// Walks the image resources for the first resolution entry (1005) and returns
// its horizontal resolution, a 16.16 fixed-point number of pixels per inch.
// The walk stops at the end of the block, at an entry that is not "8BIM" and
// at an entry whose name, size field or data would reach past the block; a
// document without a usable entry keeps the default resolution. An empty
// block is an error of its own (-27).
float ResolutionFromResources(std::span<const uint8_t> block) {
    if (block.empty()) {
        throw IMG_Exception(-27);
    }
    const uint8_t* base = block.data();
    const uint64_t end = block.size();
    uint64_t pos = 0;
    // Signature, identifier and the name's length byte.
    while (end - pos >= 7) {
        const uint8_t* entry = base + pos;
        if (std::memcmp(entry, "8BIM", 4) != 0) {
            break;
        }
        const uint16_t id = Be16(entry + 4);
        // The name (length byte and characters) is padded to an even size.
        uint64_t nameField = 1 + uint64_t{entry[6]};
        nameField += nameField & 1;
        const uint64_t headerSize = 6 + nameField + 4;
        if (headerSize > end - pos) {
            break;
        }
        const uint32_t dataSize = Be32(entry + 6 + nameField);
        if (dataSize > end - pos - headerSize) {
            break;
        }
        if (id == kResolutionInfo) {
            if (dataSize < 4) {
                break;
            }
            const uint8_t* data = entry + headerSize;
            const uint32_t fixed = Be32(data);
            return static_cast<float>(fixed >> 16) + static_cast<float>(fixed & 0xFFFF) / 65536.0f;
        }
        // The data is padded to an even size too; the last entry may lack
        // its pad byte.
        pos += headerSize + dataSize + (dataSize & 1);
        if (pos > end) {
            break;
        }
    }
    return kDefaultResolution;
}

} // namespace

Proxy_PSD::~Proxy_PSD() = default;

void Proxy_PSD::OpenRead() {
    CloseRead();
    const char* path = GetFileName();
    if (path == nullptr || std::strlen(path) > kMaxPathLength) {
        throw IMG_Exception(-4);
    }
    try {
        document.reset(new IMG_FilePsd());
        document->Open(path, "rb");
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
        image.resolution = ResolutionFromResources(document->Resources());
    } catch (...) {
        image.resolution = kDefaultResolution;
    }

    formatCode = kImgFormatPhotoshop;
}

void Proxy_PSD::CloseRead() {
    document.reset();
}
