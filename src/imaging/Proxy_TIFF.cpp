#include "Proxy_TIFF.h"

#include "IMG_Exception.h"
#include "IMG_PathNames.h"

#include <tiffio.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

namespace {

// Field names as libtiff reports them.
char kNameFileOpt[] = "velmarisFileOpt";
char kNameProcOpt[] = "velmarisProcOpt";
char kNameGeoOpt[] = "velmarisGeoOpt";
char kNameIccOpt[] = "velmarisIccOpt";
char kNameZpaxOpt[] = "velmarisZpaxOpt";
char kNameOpiImageId[] = "OPI Hi-Res Path";

// The server's tags: BYTE, any count, count and pointer passed together. The
// OPI image-ID tag is not in libtiff's own table, so it is added as ASCII: the
// library then hands back a NUL-terminated text whatever the file holds.
const TIFFFieldInfo kPrivateFields[] = {
    {kTiffTagFileOpt, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_BYTE, FIELD_CUSTOM, 1, 1, kNameFileOpt},
    {kTiffTagProcOpt, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_BYTE, FIELD_CUSTOM, 1, 1, kNameProcOpt},
    {kTiffTagGeoOpt, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_BYTE, FIELD_CUSTOM, 1, 1, kNameGeoOpt},
    {kTiffTagIccOpt, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_BYTE, FIELD_CUSTOM, 1, 1, kNameIccOpt},
    {kTiffTagZpaxOpt, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_BYTE, FIELD_CUSTOM, 1, 1, kNameZpaxOpt},
    {kTiffTagOpiImageId, TIFF_VARIABLE, TIFF_VARIABLE, TIFF_ASCII, FIELD_CUSTOM, 1, 0,
     kNameOpiImageId},
};

TIFFExtendProc parentExtender = nullptr;

// Called by libtiff whenever it sets up a directory, before any tag is read.
void ExtendTags(TIFF* tif) {
    TIFFMergeFieldInfo(tif, kPrivateFields, sizeof kPrivateFields / sizeof kPrivateFields[0]);
    if (parentExtender != nullptr) {
        parentExtender(tif);
    }
}

// No single directory value larger than this is loaded while a file is
// inspected. Photoshop stores a TIFF's whole layer stack in tag 37724, often
// tens of megabytes that inspection never looks at and libtiff would otherwise
// read and copy when it opens the directory; a larger value is dropped by the
// library and the directory still opens. Every value this reader needs is a
// few hundred bytes at most.
constexpr tmsize_t kMaxValueBytes = 4 * 1024 * 1024;

// Read-only; "m": plain reads rather than a mapping of the file, so a file
// that shrinks while it is open cannot fault; "D": strip and tile offsets are
// loaded only when asked for (never, here); "c": no strip chopping.
constexpr char kOpenMode[] = "rmDc";

struct OpenOptionsFree {
    void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

uint32_t BigEndian32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

bool HasMarker(const uint8_t* data, uint32_t count) {
    return count >= 4 && std::memcmp(data, "KRYO", 4) == 0;
}

// What the proxy tag tells, its every length checked against the tag's size.
struct ProxyTag {
    uint32_t width = 0;  // largest column count of the pairs
    uint32_t height = 0; // largest row count
    const uint8_t* name = nullptr;
    uint32_t nameLength = 0;
};

ProxyTag ParseProxyTag(const uint8_t* data, uint32_t count) {
    if (!HasMarker(data, count) || count < 12) {
        throw IMG_Exception(-11);
    }
    const uint64_t pairs = BigEndian32(data + 8);
    const uint64_t pairsEnd = 12 + 8 * pairs;
    if (pairsEnd + 4 > count) {
        throw IMG_Exception(-11);
    }
    const uint64_t nameLength = BigEndian32(data + pairsEnd);
    if (pairsEnd + 4 + nameLength > count) {
        throw IMG_Exception(-11);
    }
    ProxyTag tag;
    for (uint64_t i = 0; i < pairs; ++i) {
        const uint8_t* pair = data + 12 + 8 * i;
        const uint32_t columns = BigEndian32(pair);
        const uint32_t rows = BigEndian32(pair + 4);
        if (columns > tag.width) {
            tag.width = columns;
        }
        if (rows > tag.height) {
            tag.height = rows;
        }
    }
    tag.name = data + pairsEnd + 4;
    tag.nameLength = static_cast<uint32_t>(nameLength);
    return tag;
}

// Colour model of a PhotometricInterpretation value, or none.
uint32_t ModelOfPhotometric(uint16_t photometric) {
    switch (photometric) {
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_MINISBLACK:
        return kImgModelGray;
    case PHOTOMETRIC_RGB:
    case PHOTOMETRIC_YCBCR:
        return kImgModelRGB;
    case PHOTOMETRIC_PALETTE:
        return kImgModelPalette;
    case PHOTOMETRIC_SEPARATED:
        return kImgModelCMYK;
    case PHOTOMETRIC_CIELAB:
        return kImgModelLab;
    default:
        return kImgModelNone;
    }
}

constexpr std::size_t kMarkMax = 255; // characters of the processing-mark text

} // namespace

void Proxy_TIFF_RegisterPrivateTags() {
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetErrorHandlerExt(nullptr);
        TIFFSetWarningHandler(nullptr);
        TIFFSetWarningHandlerExt(nullptr);
        parentExtender = TIFFSetTagExtender(ExtendTags);
    });
}

Proxy_TIFF::~Proxy_TIFF() {
    CloseRead();
}

void Proxy_TIFF::CloseRead() {
    if (handle != nullptr) {
        TIFFClose(handle);
        handle = nullptr;
    }
}

bool Proxy_TIFF::GetBytes(uint32_t tag, const uint8_t*& data, uint32_t& count) const {
    uint32_t n = 0;
    void* value = nullptr;
    if (TIFFGetField(handle, tag, &n, &value) != 1 || value == nullptr || n == 0) {
        return false;
    }
    data = static_cast<const uint8_t*>(value);
    count = n;
    return true;
}

void Proxy_TIFF::ReadResolution(IMG_ImageInfo& target) const {
    float x = 0.0f;
    if (TIFFGetField(handle, TIFFTAG_XRESOLUTION, &x) == 1) {
        target.resolution = x;
    }
    uint16_t unit = RESUNIT_INCH;
    TIFFGetField(handle, TIFFTAG_RESOLUTIONUNIT, &unit);
    if (unit == RESUNIT_CENTIMETER) {
        target.resolution = static_cast<float>(target.resolution * 2.54);
    }
}

void Proxy_TIFF::ReadPixelType(IMG_ImageInfo& target) {
    // Bits and samples are left as they were when the file lacks them.
    uint16_t samples = static_cast<uint16_t>(target.samplesPerPixel);
    uint16_t bits = static_cast<uint16_t>(target.bitsPerSample);
    TIFFGetField(handle, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetField(handle, TIFFTAG_BITSPERSAMPLE, &bits);
    target.samplesPerPixel = static_cast<int16_t>(samples);
    target.bitsPerSample = static_cast<int16_t>(bits);

    uint16_t photometric = 0;
    uint32_t model = kImgModelNone;
    if (TIFFGetField(handle, TIFFTAG_PHOTOMETRIC, &photometric) == 1) {
        model = ModelOfPhotometric(photometric);
    }
    if (model == kImgModelNone) {
        CloseRead();
        throw IMG_Exception(-11);
    }
    ComputePixelType(target, bits, samples, model);
}

void Proxy_TIFF::ReadProcessingMark() {
    char text[kMarkMax + 1] = {};
    const uint8_t* mark = nullptr;
    uint32_t markBytes = 0;
    if (GetBytes(kTiffTagProcOpt, mark, markBytes)) {
        // "KRYO", two bytes not read, the count K, the text length T, the text.
        if (!HasMarker(mark, markBytes) || markBytes < 8) {
            throw IMG_Exception(-11);
        }
        const auto count = static_cast<int8_t>(mark[6]);
        const auto length = static_cast<int8_t>(mark[7]);
        if (length >= 1) {
            if (8u + static_cast<uint32_t>(length) > markBytes) {
                throw IMG_Exception(-11);
            }
            char taken[128] = {};
            std::memcpy(taken, mark + 8, static_cast<std::size_t>(length));
            if (taken[0] - '0' == count) {
                std::memcpy(text, taken, sizeof taken);
            } else {
                std::snprintf(text, sizeof text, "%hd %s", static_cast<short>(count), taken);
            }
        }
    } else {
        // Without the mark a digit that opens the description or the model
        // (the model wins when both are there) is taken as the count.
        char* value = nullptr;
        if (TIFFGetField(handle, TIFFTAG_IMAGEDESCRIPTION, &value) == 1 && value != nullptr) {
            std::strncpy(text, value, kMarkMax);
        }
        value = nullptr;
        if (TIFFGetField(handle, TIFFTAG_MODEL, &value) == 1 && value != nullptr) {
            std::strncpy(text, value, kMarkMax);
        }
    }
    if (text[0] >= '0' && text[0] <= '9') {
        processCount = text[0] - '0';
    }
}

void Proxy_TIFF::OpenRead() {
    // Tags known and the library silent before the first file is opened.
    Proxy_TIFF_RegisterPrivateTags();
    const char* name = GetFileName();
    if (name == nullptr) {
        throw IMG_Exception(-4);
    }
    CloseRead();

    std::unique_ptr<TIFFOpenOptions, OpenOptionsFree> options(TIFFOpenOptionsAlloc());
    if (!options) {
        throw IMG_Exception(-2);
    }
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), kMaxValueBytes);
    handle = TIFFOpenExt(name, kOpenMode, options.get());
    if (handle == nullptr) {
        throw IMG_Exception(-4);
    }
    // The server and its files are classic TIFF; a BigTIFF is not one of them.
    if (TIFFIsBigTIFF(handle)) {
        CloseRead();
        throw IMG_Exception(-4);
    }

    const uint8_t* proxy = nullptr;
    uint32_t proxyBytes = 0;
    char* opiName = nullptr;
    if (GetBytes(kTiffTagZpaxOpt, proxy, proxyBytes)) {
        // A proxy made by the server: the size of the source image and the
        // resolution the source has when printed at the proxy's size.
        const ProxyTag tag = ParseProxyTag(proxy, proxyBytes);
        IMG_ImageInfo& target = Info();
        target.width = tag.width;
        target.height = tag.height;
        uint32_t ownWidth = 0;
        TIFFGetField(handle, TIFFTAG_IMAGEWIDTH, &ownWidth);
        if (ownWidth == 0) {
            throw IMG_Exception(-11);
        }
        ReadResolution(target);
        target.resolution =
            static_cast<float>(tag.width) / static_cast<float>(ownWidth) * target.resolution;
        ReadPixelType(target);
        SetLinkedName(reinterpret_cast<const char*>(tag.name), tag.nameLength);
        formatCode = kImgFormatTiffProxy;
    } else if (TIFFGetField(handle, kTiffTagOpiImageId, &opiName) == 1 && opiName != nullptr) {
        // A placeholder that names its high-resolution image; its size is
        // that image's business.
        IMG_ImageInfo& target = Info();
        ReadResolution(target);
        ReadPixelType(target);
        constexpr std::size_t kNameMax = 515;
        std::unique_ptr<char[]> linked(new (std::nothrow) char[kNameMax + 1]());
        if (!linked) {
            throw IMG_Exception(-2);
        }
        NameFromDscValue(opiName, linked.get(), kNameMax);
        linkedName = std::move(linked);
        formatCode = kImgFormatTiffOpi;
    } else {
        IMG_ImageInfo& target = Info();
        TIFFGetField(handle, TIFFTAG_IMAGEWIDTH, &target.width);
        TIFFGetField(handle, TIFFTAG_IMAGELENGTH, &target.height);
        ReadResolution(target);
        ReadPixelType(target);
        formatCode = kImgFormatTiff;
    }
    ReadProcessingMark();
}
