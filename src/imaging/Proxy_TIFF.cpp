#include "Proxy_TIFF.h"

#include "IMG_Exception.h"
#include "IMG_PathNames.h"

#include <tiffio.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

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

// Reads shorter than this are served from a block of the file read ahead.
constexpr std::size_t kBlockBytes = 4096;
// A read at least this long may be one that starts a value larger than
// kMaxValueBytes.
constexpr uint64_t kLargeRead = 64 * 1024;

struct OpenOptionsFree {
    void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

// The options of every open; libtiff only reads them while it opens a file.
TIFFOpenOptions* OpenOptions() {
    static const std::unique_ptr<TIFFOpenOptions, OpenOptionsFree> options = [] {
        std::unique_ptr<TIFFOpenOptions, OpenOptionsFree> made(TIFFOpenOptionsAlloc());
        if (made) {
            TIFFOpenOptionsSetMaxSingleMemAlloc(made.get(), kMaxValueBytes);
        }
        return made;
    }();
    return options.get();
}

uint32_t BigEndian32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

bool IsStripOrTileArray(uint16_t tag) {
    return tag == TIFFTAG_STRIPOFFSETS || tag == TIFFTAG_STRIPBYTECOUNTS ||
           tag == TIFFTAG_TILEOFFSETS || tag == TIFFTAG_TILEBYTECOUNTS;
}

} // namespace

// The file under a libtiff handle, read with pread through a descriptor, so
// that a seek only sets a number. A short read is served from a block read
// ahead: the header takes one read, and so, as a rule, do the directory and
// its short values together. A long read goes straight to libtiff's buffer.
//
// A value that libtiff drops anyway because it is larger than kMaxValueBytes
// is not read at all. libtiff reads a value of that size in steps and finds
// out that it may not keep it only after reading the first megabyte. So the
// first time a long read is asked for, the first directory (the only one
// libtiff reads when it opens a file) is looked over, and a long read that
// starts where nothing but such values begin yields no bytes: libtiff then
// drops the value straight away, as it would have done one megabyte later.
//
// When the factory lent the file, every read goes through it instead of the
// descriptor and the block.
struct Proxy_TIFFSource {
    int fd = -1;
    IMG_FileView* lent = nullptr;
    uint64_t size = 0;
    uint64_t position = 0;

    uint64_t blockStart = 0;
    std::size_t blockLength = 0;
    bool directoryLookedOver = false;
    std::vector<uint64_t> droppedValues; // where values too large to keep begin, sorted
    uint8_t block[kBlockBytes];

    Proxy_TIFFSource() = default;
    Proxy_TIFFSource(const Proxy_TIFFSource&) = delete;
    Proxy_TIFFSource& operator=(const Proxy_TIFFSource&) = delete;
    ~Proxy_TIFFSource() { Close(); }

    int Close() {
        const int result = fd >= 0 ? ::close(fd) : 0;
        fd = -1;
        return result;
    }

    // Up to count bytes at offset straight from the file; fewer at its end,
    // -1 on an error.
    tmsize_t ReadFromFile(uint64_t offset, uint8_t* out, std::size_t count) const {
        std::size_t done = 0;
        while (done < count) {
            const ssize_t n =
                ::pread(fd, out + done, count - done, static_cast<off_t>(offset + done));
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else if (n == 0) {
                break;
            } else if (errno != EINTR) {
                return -1;
            }
        }
        return static_cast<tmsize_t>(done);
    }

    // Up to count bytes at offset, through the block when they are few.
    tmsize_t ReadAt(uint64_t offset, uint8_t* out, std::size_t count) {
        if (lent != nullptr) {
            return static_cast<tmsize_t>(lent->Read(offset, out, count));
        }
        if (offset >= blockStart && offset - blockStart <= blockLength &&
            count <= blockLength - (offset - blockStart)) {
            std::memcpy(out, block + (offset - blockStart), count);
            return static_cast<tmsize_t>(count);
        }
        if (count >= kBlockBytes) {
            return ReadFromFile(offset, out, count);
        }
        const tmsize_t got = ReadFromFile(offset, block, kBlockBytes);
        if (got < 0) {
            blockLength = 0;
            return -1;
        }
        blockStart = offset;
        blockLength = static_cast<std::size_t>(got);
        const std::size_t n = count < blockLength ? count : blockLength;
        std::memcpy(out, block, n);
        return static_cast<tmsize_t>(n);
    }

    // Whether a long read at offset starts a value that libtiff would drop.
    bool Drops(uint64_t offset) {
        if (!directoryLookedOver) {
            directoryLookedOver = true;
            LookOverDirectory();
        }
        return std::binary_search(droppedValues.begin(), droppedValues.end(), offset);
    }

    // Notes where the values of the first directory that are too large to
    // keep begin; a place where any other value also begins is not noted, nor
    // are the strip and tile arrays, which libtiff may read only in part.
    // Anything unusual (not a classic TIFF, a directory that cannot be read)
    // leaves the list empty, and every read is then served.
    void LookOverDirectory() {
        uint8_t header[8];
        if (ReadAt(0, header, sizeof header) != static_cast<tmsize_t>(sizeof header)) {
            return;
        }
        bool bigEndian = false;
        if (header[0] == 'M' && header[1] == 'M') {
            bigEndian = true;
        } else if (header[0] != 'I' || header[1] != 'I') {
            return;
        }
        auto u16 = [bigEndian](const uint8_t* p) {
            return static_cast<uint16_t>(bigEndian ? (p[0] << 8) | p[1] : (p[1] << 8) | p[0]);
        };
        auto u32 = [bigEndian](const uint8_t* p) {
            return bigEndian
                       ? BigEndian32(p)
                       : (static_cast<uint32_t>(p[3]) << 24) | (static_cast<uint32_t>(p[2]) << 16) |
                             (static_cast<uint32_t>(p[1]) << 8) | static_cast<uint32_t>(p[0]);
        };
        if (u16(header + 2) != 42) {
            return;
        }
        const uint64_t directory = u32(header + 4);
        uint8_t countBytes[2];
        if (ReadAt(directory, countBytes, 2) != 2) {
            return;
        }
        const std::size_t count = u16(countBytes);
        std::vector<uint8_t> entries(count * 12);
        if (ReadAt(directory + 2, entries.data(), entries.size()) !=
            static_cast<tmsize_t>(entries.size())) {
            return;
        }
        struct Value {
            uint64_t offset;
            bool dropped;
        };
        std::vector<Value> values;
        for (std::size_t i = 0; i < count; ++i) {
            const uint8_t* entry = entries.data() + i * 12;
            const uint16_t tag = u16(entry);
            // A type number outside libtiff's list is no value of its enumeration;
            // libtiff reads nothing for it, so it has no width here either.
            const uint16_t rawType = u16(entry + 2);
            const int width =
                rawType <= TIFF_IFD8 ? TIFFDataWidth(static_cast<TIFFDataType>(rawType)) : 0;
            const uint64_t bytes = uint64_t{u32(entry + 4)} * static_cast<uint64_t>(width);
            if (bytes <= 4) {
                continue; // held in the entry itself, or of a type libtiff does not read
            }
            values.push_back({u32(entry + 8), bytes > static_cast<uint64_t>(kMaxValueBytes) &&
                                                  !IsStripOrTileArray(tag)});
        }
        std::sort(values.begin(), values.end(),
                  [](const Value& a, const Value& b) { return a.offset < b.offset; });
        for (std::size_t i = 0; i < values.size();) {
            std::size_t j = i;
            bool dropped = true;
            for (; j < values.size() && values[j].offset == values[i].offset; ++j) {
                dropped = dropped && values[j].dropped;
            }
            if (dropped && values[i].offset != 0 && values[i].offset != directory + 2) {
                droppedValues.push_back(values[i].offset);
            }
            i = j;
        }
    }
};

namespace {

tmsize_t SourceRead(thandle_t handle, void* buffer, tmsize_t count) {
    auto& source = *static_cast<Proxy_TIFFSource*>(handle);
    if (count <= 0) {
        return 0;
    }
    if (static_cast<uint64_t>(count) >= kLargeRead && source.Drops(source.position)) {
        return 0;
    }
    const tmsize_t n = source.ReadAt(source.position, static_cast<uint8_t*>(buffer),
                                     static_cast<std::size_t>(count));
    if (n > 0) {
        source.position += static_cast<uint64_t>(n);
    }
    return n;
}

tmsize_t SourceWrite(thandle_t, void*, tmsize_t) {
    return -1; // opened for reading only
}

// As lseek: the offset counts as signed, and no position may be negative.
toff_t SourceSeek(thandle_t handle, toff_t offset, int whence) {
    auto& source = *static_cast<Proxy_TIFFSource*>(handle);
    int64_t base = 0;
    switch (whence) {
    case SEEK_SET:
        break;
    case SEEK_CUR:
        base = static_cast<int64_t>(source.position);
        break;
    case SEEK_END:
        base = static_cast<int64_t>(source.size);
        break;
    default:
        return static_cast<toff_t>(-1);
    }
    int64_t target = 0;
    if (__builtin_add_overflow(base, static_cast<int64_t>(offset), &target) || target < 0) {
        return static_cast<toff_t>(-1);
    }
    source.position = static_cast<uint64_t>(target);
    return source.position;
}

int SourceClose(thandle_t handle) {
    return static_cast<Proxy_TIFFSource*>(handle)->Close();
}

toff_t SourceSize(thandle_t handle) {
    return static_cast<Proxy_TIFFSource*>(handle)->size;
}

int SourceMap(thandle_t, void**, toff_t*) {
    return 0; // never mapped
}

void SourceUnmap(thandle_t, void*, toff_t) {}

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

Proxy_TIFF::Proxy_TIFF() = default;

Proxy_TIFF::~Proxy_TIFF() {
    CloseRead();
}

void Proxy_TIFF::CloseRead() {
    if (handle != nullptr) {
        TIFFClose(handle); // closes the source's descriptor too
        handle = nullptr;
    }
    source.reset();
}

bool Proxy_TIFF::CanBe(const IMG_FileView& file) {
    // libtiff reads the 8-byte header first and wants a byte order: "II",
    // "MM", or "EP" (Microsoft's MDI files, which this build of libtiff also
    // takes, in little-endian order), then the version in that order.
    if (file.Size() < 8) {
        return false;
    }
    if (file.HeadLength() < 4) {
        return true;
    }
    const uint8_t* p = file.Head();
    uint16_t version = 0;
    if ((p[0] == 'I' && p[1] == 'I') || (p[0] == 'E' && p[1] == 'P')) {
        version = static_cast<uint16_t>(p[2] | (p[3] << 8));
    } else if (p[0] == 'M' && p[1] == 'M') {
        version = static_cast<uint16_t>((p[2] << 8) | p[3]);
    } else {
        return false;
    }
    return version == 42;
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

    TIFFOpenOptions* options = OpenOptions();
    if (options == nullptr) {
        throw IMG_Exception(-2);
    }
    std::unique_ptr<Proxy_TIFFSource> opened(new (std::nothrow) Proxy_TIFFSource());
    if (!opened) {
        throw IMG_Exception(-2);
    }
    if (lentFile != nullptr) {
        opened->lent = lentFile;
        opened->size = lentFile->Size();
    } else {
        opened->fd = ::open(name, O_RDONLY | O_CLOEXEC);
        struct stat st {};
        if (opened->fd < 0 || ::fstat(opened->fd, &st) != 0) {
            throw IMG_Exception(-4);
        }
        opened->size = st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
    }
    handle = TIFFClientOpenExt(name, kOpenMode, opened.get(), SourceRead, SourceWrite, SourceSeek,
                               SourceClose, SourceSize, SourceMap, SourceUnmap, options);
    if (handle == nullptr) {
        throw IMG_Exception(-4); // the source closes its descriptor as it goes
    }
    source = std::move(opened);
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
