// The TIFF and JPEG readers on files made here: by libtiff and libjpeg for the
// well-formed cases, byte by byte for the ones whose counts and offsets lie.
#include "IMG_Exception.h"
#include "IMG_OpenImageFile.h"
#include "Proxy_JPEG.h"
#include "Proxy_TIFF.h"
#include "ReaderRuns.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <jpeglib.h>
#include <tiffio.h>

namespace {

// ---------------------------------------------------------------------------
// Running a reader

// What one inspection gave: code 0 when it succeeded, else the exception's.
struct Inspected {
    int code = 0;
    uint32_t formatCode = 0;
    IMG_ImageInfo info;
    bool hasInfo = false;
    int processCount = -1;
    std::string linkedName;
    bool hasLinkedName = false;
};

// Begin, Run and End as the factory calls them; End also after a failure.
template <typename Reader> Inspected Inspect(const char* path) {
    Inspected result;
    Reader reader;
    result.code = RunInspection(reader, path);
    if (result.code != 0) {
        return result;
    }
    result.formatCode = reader.GetFormatCode();
    if (const IMG_ImageInfo* info = reader.GetImageInfo()) {
        result.info = *info;
        result.hasInfo = true;
    }
    result.processCount = reader.GetProcessCount();
    if (reader.LinkedName() != nullptr) {
        result.hasLinkedName = true;
        result.linkedName = reader.LinkedName();
    }
    return result;
}

template <typename Reader> Inspected Inspect(const std::string& path) {
    return Inspect<Reader>(path.c_str());
}

// Open file descriptors of this process, or -1 where that cannot be told.
int OpenFileCount() {
    std::error_code error;
    std::filesystem::directory_iterator it("/proc/self/fd", error);
    if (error) {
        return -1;
    }
    int n = 0;
    for (; it != std::filesystem::directory_iterator(); it.increment(error)) {
        ++n;
    }
    return n;
}

// Closing a reader that has nothing open, or twice, is harmless, opening
// again starts afresh, and no reader keeps a file open after it is gone,
// whether it accepted the file, refused it or was never closed.
template <typename Reader>
void ExpectCloseHarmlessAndNoLeak(const TempDir& dir, const char* good, uint32_t goodFormat,
                                  std::initializer_list<const char*> names) {
    const int before = OpenFileCount();
    {
        Reader reader;
        reader.CloseRead(); // nothing open
        reader.SetFileName((dir / good).c_str());
        reader.OpenRead();
        reader.OpenRead();
        EXPECT_EQ(reader.GetFormatCode(), goodFormat);
        reader.CloseRead();
        reader.CloseRead();
    }
    for (const char* name : names) {
        Reader reader; // destroyed without CloseRead
        reader.SetFileName((dir / name).c_str());
        try {
            reader.OpenRead();
        } catch (const IMG_Exception&) {
        }
    }
    if (before >= 0) {
        EXPECT_EQ(OpenFileCount(), before);
    }
}

// Writes a file anew. Removing it first rather than truncating it keeps the
// file system from flushing the old contents on every one of many rewrites.
void WriteFresh(const std::string& path, const std::string& bytes) {
    std::filesystem::remove(path);
    WriteFile(path, bytes);
}

// ---------------------------------------------------------------------------
// Tag values of the processing server

std::string BigEndian32(uint32_t v) {
    std::string s(4, '\0');
    s[0] = static_cast<char>(v >> 24);
    s[1] = static_cast<char>(v >> 16);
    s[2] = static_cast<char>(v >> 8);
    s[3] = static_cast<char>(v);
    return s;
}

// The proxy tag: "KRYO", four unread bytes, the pair count, the pairs, the
// name length and the name. pairCount and nameLength replace the true values
// when given.
std::string ZpaxTag(const std::vector<std::pair<uint32_t, uint32_t>>& pairs,
                    const std::string& name, std::optional<uint32_t> pairCount = std::nullopt,
                    std::optional<uint32_t> nameLength = std::nullopt) {
    std::string s = "KRYO" + BigEndian32(0xA5A5A5A5);
    s += BigEndian32(pairCount.value_or(static_cast<uint32_t>(pairs.size())));
    for (const auto& [columns, rows] : pairs) {
        s += BigEndian32(columns) + BigEndian32(rows);
    }
    s += BigEndian32(nameLength.value_or(static_cast<uint32_t>(name.size())));
    return s + name;
}

// The processing-mark tag: "KRYO", two unread bytes, K, T and the text.
std::string ProcOptTag(int8_t count, int8_t length, const std::string& text) {
    std::string s = "KRYO";
    s += '\x7f';
    s += '\x7f';
    s += static_cast<char>(count);
    s += static_cast<char>(length);
    return s + text;
}

// ---------------------------------------------------------------------------
// TIFF files written by libtiff

struct TiffPage {
    uint32_t width = 20;
    uint32_t height = 10;
    uint16_t bits = 8;
    uint16_t samples = 3;
    uint16_t photometric = PHOTOMETRIC_RGB;
    std::optional<float> xResolution = 300.0f;
    std::optional<uint16_t> unit = RESUNIT_INCH;
    std::optional<std::string> description;
    std::optional<std::string> model;
    std::optional<std::string> opi;     // OPI image-ID tag text
    std::optional<std::string> zpax;    // proxy tag bytes
    std::optional<std::string> procOpt; // processing-mark tag bytes
    std::optional<std::string> layers;  // Photoshop layer data (tag 37724)
};

// Colour channels that a photometric value brings; the rest are extra samples.
uint16_t ColourChannels(uint16_t photometric) {
    switch (photometric) {
    case PHOTOMETRIC_RGB:
    case PHOTOMETRIC_YCBCR:
    case PHOTOMETRIC_CIELAB:
    case PHOTOMETRIC_ICCLAB:
    case PHOTOMETRIC_ITULAB:
        return 3;
    case PHOTOMETRIC_SEPARATED:
        return 4;
    default:
        return 1;
    }
}

void SetBytes(TIFF* tif, uint32_t tag, const std::string& bytes) {
    if (TIFFSetField(tif, tag, static_cast<uint32_t>(bytes.size()), bytes.data()) != 1) {
        throw std::runtime_error("cannot set tag " + std::to_string(tag));
    }
}

// Writes the pages (one strip of zero pixels each); mode "w8" makes a BigTIFF.
void WriteTiffPages(const std::string& path, const std::vector<TiffPage>& pages,
                    const char* mode = "w") {
    Proxy_TIFF_RegisterPrivateTags();
    std::filesystem::remove(path);
    TIFF* tif = TIFFOpen(path.c_str(), mode);
    if (tif == nullptr) {
        throw std::runtime_error("cannot write " + path);
    }
    for (const TiffPage& page : pages) {
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, page.width);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, page.height);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, page.bits);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, page.samples);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, page.photometric);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, page.height);
        const uint16_t channels = ColourChannels(page.photometric);
        if (page.samples > channels) {
            std::vector<uint16_t> extra(page.samples - channels, EXTRASAMPLE_UNSPECIFIED);
            TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, static_cast<uint16_t>(extra.size()),
                         extra.data());
        }
        std::vector<uint16_t> map;
        if (page.photometric == PHOTOMETRIC_PALETTE) {
            map.assign(std::size_t{1} << page.bits, 0);
            TIFFSetField(tif, TIFFTAG_COLORMAP, map.data(), map.data(), map.data());
        }
        if (page.xResolution) {
            TIFFSetField(tif, TIFFTAG_XRESOLUTION, static_cast<double>(*page.xResolution));
            TIFFSetField(tif, TIFFTAG_YRESOLUTION, static_cast<double>(*page.xResolution));
        }
        if (page.unit) {
            TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, *page.unit);
        }
        if (page.description) {
            TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, page.description->c_str());
        }
        if (page.model) {
            TIFFSetField(tif, TIFFTAG_MODEL, page.model->c_str());
        }
        if (page.opi) {
            TIFFSetField(tif, kTiffTagOpiImageId, page.opi->c_str());
        }
        if (page.zpax) {
            SetBytes(tif, kTiffTagZpaxOpt, *page.zpax);
        }
        if (page.procOpt) {
            SetBytes(tif, kTiffTagProcOpt, *page.procOpt);
        }
        if (page.layers) {
            SetBytes(tif, TIFFTAG_IMAGESOURCEDATA, *page.layers);
        }
        std::vector<uint8_t> strip(static_cast<std::size_t>(TIFFStripSize(tif)), 0);
        if (TIFFWriteEncodedStrip(tif, 0, strip.data(), static_cast<tmsize_t>(strip.size())) < 0 ||
            TIFFWriteDirectory(tif) != 1) {
            TIFFClose(tif);
            throw std::runtime_error("cannot write the image of " + path);
        }
    }
    TIFFClose(tif);
}

void WriteTiff(const std::string& path, const TiffPage& page) {
    WriteTiffPages(path, {page});
}

// The page written as a file of the name in the folder, then inspected.
Inspected InspectPage(const TempDir& dir, const std::string& name, const TiffPage& page) {
    WriteTiff(dir / name, page);
    return Inspect<Proxy_TIFF>(dir / name);
}

// ---------------------------------------------------------------------------
// TIFF files built byte by byte (little-endian, one directory)

struct RawEntry {
    uint16_t tag;
    uint16_t type;
    uint32_t count;
    std::string value;                   // placed in the entry when 4 bytes or fewer
    std::optional<uint32_t> offset = {}; // where the entry says its value is, instead
};

std::string LittleEndian16(uint16_t v) {
    return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}

std::string LittleEndian32(uint32_t v) {
    return LittleEndian16(static_cast<uint16_t>(v & 0xFFFF)) +
           LittleEndian16(static_cast<uint16_t>(v >> 16));
}

RawEntry Short(uint16_t tag, uint16_t v) {
    return {tag, TIFF_SHORT, 1, LittleEndian16(v)};
}
RawEntry Long(uint16_t tag, uint32_t v) {
    return {tag, TIFF_LONG, 1, LittleEndian32(v)};
}
RawEntry Rational(uint16_t tag, uint32_t numerator, uint32_t denominator) {
    return {tag, TIFF_RATIONAL, 1, LittleEndian32(numerator) + LittleEndian32(denominator)};
}
RawEntry Bytes(uint16_t tag, const std::string& bytes) {
    return {tag, TIFF_BYTE, static_cast<uint32_t>(bytes.size()), bytes};
}
RawEntry Ascii(uint16_t tag, const std::string& text) {
    return {tag, TIFF_ASCII, static_cast<uint32_t>(text.size() + 1), text + '\0'};
}

constexpr uint32_t kRawPixelOffset = 8; // the one pixel byte follows the header

// The tags of an 8-bit gray image of width x height whose strips all share
// the single pixel byte at offset 8.
std::vector<RawEntry> GrayEntries(uint32_t width, uint32_t height) {
    return {
        Long(TIFFTAG_IMAGEWIDTH, width),
        Long(TIFFTAG_IMAGELENGTH, height),
        Short(TIFFTAG_BITSPERSAMPLE, 8),
        Short(TIFFTAG_COMPRESSION, COMPRESSION_NONE),
        Short(TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK),
        Long(TIFFTAG_STRIPOFFSETS, kRawPixelOffset),
        Short(TIFFTAG_SAMPLESPERPIXEL, 1),
        Long(TIFFTAG_ROWSPERSTRIP, height),
        Long(TIFFTAG_STRIPBYTECOUNTS, 1),
    };
}

// Header, one pixel byte, the directory (entries sorted by tag), then the
// values that do not fit in their entries.
std::string RawTiff(std::vector<RawEntry> entries) {
    std::sort(entries.begin(), entries.end(),
              [](const RawEntry& a, const RawEntry& b) { return a.tag < b.tag; });
    const uint32_t ifdOffset = 10;
    std::string out = "II*";
    out += '\0';
    out += LittleEndian32(ifdOffset);
    out += std::string(2, '\0'); // pixel byte and a pad byte
    uint32_t valuesOffset = ifdOffset + 2 + 12 * static_cast<uint32_t>(entries.size()) + 4;
    std::string values;
    out += LittleEndian16(static_cast<uint16_t>(entries.size()));
    for (const RawEntry& e : entries) {
        out += LittleEndian16(e.tag) + LittleEndian16(e.type) + LittleEndian32(e.count);
        if (e.offset) {
            out += LittleEndian32(*e.offset);
        } else if (e.value.size() <= 4) {
            out += e.value + std::string(4 - e.value.size(), '\0');
        } else {
            out += LittleEndian32(valuesOffset + static_cast<uint32_t>(values.size()));
            values += e.value;
            if (values.size() % 2 != 0) {
                values += '\0';
            }
        }
    }
    out += LittleEndian32(0);
    return out + values;
}

// ---------------------------------------------------------------------------
// JPEG files written by libjpeg

struct JpegRecipe {
    JDIMENSION width = 24;
    JDIMENSION height = 16;
    J_COLOR_SPACE input = JCS_RGB;
    int components = 3;
    J_COLOR_SPACE stored = JCS_YCbCr;
    bool jfif = true;
    UINT8 unit = 1;
    UINT16 xDensity = 72;
    UINT16 yDensity = 72;
    bool progressive = false;
};

std::string JpegBytes(const JpegRecipe& recipe) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = recipe.width;
    cinfo.image_height = recipe.height;
    cinfo.input_components = recipe.components;
    cinfo.in_color_space = recipe.input;
    jpeg_set_defaults(&cinfo);
    jpeg_set_colorspace(&cinfo, recipe.stored);
    cinfo.write_JFIF_header = recipe.jfif ? TRUE : FALSE;
    cinfo.density_unit = recipe.unit;
    cinfo.X_density = recipe.xDensity;
    cinfo.Y_density = recipe.yDensity;
    if (recipe.progressive) {
        jpeg_simple_progression(&cinfo);
    }
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(static_cast<std::size_t>(recipe.width) * recipe.components, 128);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::string bytes(reinterpret_cast<const char*>(buffer), size);
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return bytes;
}

// Where the scan header (the SOS marker segment) ends, and where the identifier
// of its last component ends: libjpeg checks the rest of the segment (table
// selectors, spectral selection, approximation) only when decoding starts.
struct ScanHeader {
    std::size_t lastComponentEnd;
    std::size_t end;
};

ScanHeader FindScanHeader(const std::string& jpeg) {
    const std::size_t at = jpeg.find("\xFF\xDA");
    if (at == std::string::npos) {
        throw std::runtime_error("no SOS");
    }
    const std::size_t length =
        (static_cast<uint8_t>(jpeg[at + 2]) << 8) | static_cast<uint8_t>(jpeg[at + 3]);
    const std::size_t components = static_cast<uint8_t>(jpeg[at + 4]);
    return {at + 5 + 2 * components - 1, at + 2 + length};
}

// Offset of the SOF0 or SOF2 marker.
std::size_t FrameHeader(const std::string& jpeg) {
    std::size_t at = jpeg.find("\xFF\xC0");
    if (at == std::string::npos) {
        at = jpeg.find("\xFF\xC2");
    }
    if (at == std::string::npos) {
        throw std::runtime_error("no SOF");
    }
    return at;
}

} // namespace

// ===========================================================================
// TIFF

TEST(TiffReaderProxy, ReportsTheSourceImageOfTheProxyTag) {
    struct Case {
        const char* what;
        std::vector<std::pair<uint32_t, uint32_t>> pairs;
        uint32_t ownWidth;
        float xResolution;
        uint16_t unit;
        std::string name;
        uint32_t width, height;
        float resolution;
    };
    const Case cases[] = {
        {"two sizes",
         {{1000, 800}, {4000, 3000}},
         1000,
         300,
         RESUNIT_INCH,
         "C:\\Images\\source.tif",
         4000,
         3000,
         1200},
        {"largest columns and rows from different pairs",
         {{4000, 800}, {1000, 3000}},
         500,
         100,
         RESUNIT_INCH,
         "/Volumes/Images/a.tif",
         4000,
         3000,
         800},
        {"centimetres", {{2000, 1000}}, 500, 100, RESUNIT_CENTIMETER, "n", 2000, 1000, 1016},
        {"unit none", {{2000, 1000}}, 1000, 50, RESUNIT_NONE, "n", 2000, 1000, 100},
        {"smaller source", {{250, 100}}, 1000, 400, RESUNIT_INCH, "n", 250, 100, 100},
        {"no pairs", {}, 1000, 300, RESUNIT_INCH, "n", 0, 0, 0},
        {"empty name", {{10, 10}}, 10, 72, RESUNIT_INCH, "", 10, 10, 72},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TiffPage page;
        page.width = c.ownWidth;
        page.xResolution = c.xResolution;
        page.unit = c.unit;
        page.zpax = ZpaxTag(c.pairs, c.name);
        Inspected r = InspectPage(dir, "proxy.tif", page);
        ASSERT_EQ(r.code, 0);
        EXPECT_EQ(r.formatCode, 0x101u);
        EXPECT_EQ(r.info.width, c.width);
        EXPECT_EQ(r.info.height, c.height);
        EXPECT_NEAR(r.info.resolution, c.resolution, 0.01);
        EXPECT_EQ(r.info.pixelType, 0x2101u);
        EXPECT_EQ(r.info.samplesPerPixel, 3);
        EXPECT_EQ(r.info.bitsPerSample, 8);
        ASSERT_TRUE(r.hasLinkedName);
        EXPECT_EQ(r.linkedName, c.name);
        EXPECT_EQ(r.processCount, -1);
    }
}

TEST(TiffReaderProxy, NameStopsAtItsLengthAndMayBeFollowedByMoreBytes) {
    TempDir dir;
    TiffPage page;
    page.zpax = ZpaxTag({{100, 50}}, "/a/b.tif", std::nullopt, 4) + "trailing";
    Inspected r = InspectPage(dir, "p.tif", page);
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(r.linkedName, "/a/b"); // four of the eight name bytes
    EXPECT_EQ(r.formatCode, 0x101u);
}

TEST(TiffReaderProxy, LyingOrDamagedProxyTagIsRejected) {
    const std::string good = ZpaxTag({{1000, 800}, {4000, 3000}}, "/src/a.tif");
    struct Case {
        const char* what;
        std::string tag;
    };
    const Case cases[] = {
        {"wrong marker", "KRYX" + good.substr(4)},
        {"three bytes", "KRY"},
        {"marker only", "KRYO"},
        {"no pair count", good.substr(0, 11)},
        {"pair count one too many", ZpaxTag({{1000, 800}, {4000, 3000}}, "/src/a.tif", 3)},
        {"pair count whose bytes wrap 32 bits", ZpaxTag({{1, 1}}, "", 0x20000000)},
        {"largest pair count", ZpaxTag({{1, 1}}, "n", 0xFFFFFFFF)},
        {"pairs cut", good.substr(0, 12 + 8 + 3)},
        {"no name length", good.substr(0, 12 + 16)},
        {"name length one too many", ZpaxTag({{1, 1}}, "abc", std::nullopt, 4)},
        {"name length that wraps 32 bits", ZpaxTag({{1, 1}}, "abc", std::nullopt, 0xFFFFFFF0)},
        {"largest name length", ZpaxTag({}, "abc", std::nullopt, 0xFFFFFFFF)},
        {"name cut", good.substr(0, good.size() - 1)},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TiffPage page;
        page.zpax = c.tag;
        EXPECT_EQ(InspectPage(dir, "lie.tif", page).code, -11);
    }
}

TEST(TiffReaderProxy, ProxyWinsOverTheOpiTagAndStillReadsTheMark) {
    TempDir dir;
    TiffPage page;
    page.zpax = ZpaxTag({{400, 200}}, "C:\\src.tif");
    page.opi = "C:\\hires.tif";
    page.procOpt = ProcOptTag(4, 1, "4");
    Inspected r = InspectPage(dir, "both.tif", page);
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(r.formatCode, 0x101u);
    EXPECT_EQ(r.linkedName, "C:\\src.tif");
    EXPECT_EQ(r.info.width, 400u);
    EXPECT_EQ(r.processCount, 4);
}

TEST(TiffReaderProxy, ProxyWithUnsupportedPixelsFails) {
    TempDir dir;
    TiffPage mask;
    mask.photometric = PHOTOMETRIC_MASK;
    mask.bits = 1;
    mask.samples = 1;
    mask.zpax = ZpaxTag({{10, 10}}, "n");
    WriteTiff(dir / "mask.tif", mask);
    EXPECT_EQ(Inspect<Proxy_TIFF>(dir / "mask.tif").code, -11);

    TiffPage bilevel;
    bilevel.photometric = PHOTOMETRIC_MINISBLACK;
    bilevel.bits = 1;
    bilevel.samples = 1;
    bilevel.zpax = ZpaxTag({{10, 10}}, "n");
    WriteTiff(dir / "bilevel.tif", bilevel);
    EXPECT_EQ(Inspect<Proxy_TIFF>(dir / "bilevel.tif").code, -1);
}

TEST(TiffReaderOpi, ReportsTheNamedImageWithoutASize) {
    struct Case {
        const char* what;
        std::string tag;
        std::string name;
    };
    const Case cases[] = {
        {"Windows path", "C:\\Hires\\photo.tif", "C:\\Hires\\photo.tif"},
        {"Unix path", "/srv/hires/photo.tif", "/srv/hires/photo.tif"},
        {"PostScript string", "(Volume:Folder:photo\\(1\\).tif)", "Volume:Folder:photo(1).tif"},
        {"relative name", "photo.tif", ""},
        {"empty", "", ""},
        {"long path cut to 515", "/hires/" + std::string(600, 'a'),
         "/hires/" + std::string(508, 'a')},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TiffPage page;
        page.width = 640;
        page.height = 480;
        page.xResolution = 100;
        page.unit = RESUNIT_CENTIMETER;
        page.opi = c.tag;
        Inspected r = InspectPage(dir, "opi.tif", page);
        ASSERT_EQ(r.code, 0);
        EXPECT_EQ(r.formatCode, 0x111u);
        EXPECT_EQ(r.info.width, 0u);
        EXPECT_EQ(r.info.height, 0u);
        EXPECT_NEAR(r.info.resolution, 254.0, 0.01);
        EXPECT_EQ(r.info.pixelType, 0x2101u);
        ASSERT_TRUE(r.hasLinkedName);
        EXPECT_EQ(r.linkedName, c.name);
    }
}

TEST(TiffReaderPlain, SizeResolutionAndPixelType) {
    struct Case {
        const char* what;
        uint16_t photometric, bits, samples;
        std::optional<float> xResolution;
        std::optional<uint16_t> unit;
        uint32_t pixelType; // 0: rejected with code
        int code;
        float resolution;
    };
    const std::optional<uint16_t> inch = RESUNIT_INCH;
    const Case cases[] = {
        {"gray 8", PHOTOMETRIC_MINISBLACK, 8, 1, 300.0f, inch, 0x280A, 0, 300},
        {"gray 16 min-is-white", PHOTOMETRIC_MINISWHITE, 16, 1, 300.0f, inch, 0x000A, 0, 300},
        {"gray 32", PHOTOMETRIC_MINISBLACK, 32, 1, 300.0f, inch, 0x270A, 0, 300},
        {"gray and alpha", PHOTOMETRIC_MINISBLACK, 8, 2, 300.0f, inch, 0x208A, 0, 300},
        {"RGB 8", PHOTOMETRIC_RGB, 8, 3, 300.0f, inch, 0x2101, 0, 300},
        {"RGB 16", PHOTOMETRIC_RGB, 16, 3, 300.0f, inch, 0x2901, 0, 300},
        {"RGB and alpha", PHOTOMETRIC_RGB, 8, 4, 300.0f, inch, 0x0881, 0, 300},
        {"RGB and two extra", PHOTOMETRIC_RGB, 8, 5, 300.0f, inch, 0x0881, 0, 300},
        {"RGB 16 and alpha", PHOTOMETRIC_RGB, 16, 4, 300.0f, inch, 0x2981, 0, 300},
        {"YCbCr", PHOTOMETRIC_YCBCR, 8, 3, 300.0f, inch, 0x2101, 0, 300},
        {"palette 8", PHOTOMETRIC_PALETTE, 8, 1, 300.0f, inch, 0x0010, 0, 300},
        {"palette 4", PHOTOMETRIC_PALETTE, 4, 1, 300.0f, inch, 0x0010, 0, 300},
        {"CMYK 8", PHOTOMETRIC_SEPARATED, 8, 4, 300.0f, inch, 0x0802, 0, 300},
        {"CMYK 16", PHOTOMETRIC_SEPARATED, 16, 4, 300.0f, inch, 0x2A02, 0, 300},
        {"CMYK and alpha", PHOTOMETRIC_SEPARATED, 8, 5, 300.0f, inch, 0x0882, 0, 300},
        {"Lab 8", PHOTOMETRIC_CIELAB, 8, 3, 300.0f, inch, 0x2108, 0, 300},
        {"Lab and alpha", PHOTOMETRIC_CIELAB, 8, 4, 300.0f, inch, 0, -1, 0},
        {"bilevel", PHOTOMETRIC_MINISBLACK, 1, 1, 300.0f, inch, 0, -1, 0},
        {"gray 4", PHOTOMETRIC_MINISWHITE, 4, 1, 300.0f, inch, 0, -1, 0},
        {"transparency mask", PHOTOMETRIC_MASK, 1, 1, 300.0f, inch, 0, -11, 0},
        {"ICC Lab", PHOTOMETRIC_ICCLAB, 8, 3, 300.0f, inch, 0, -11, 0},
        {"ITU Lab", PHOTOMETRIC_ITULAB, 8, 3, 300.0f, inch, 0, -11, 0},
        // resolution
        {"centimetres", PHOTOMETRIC_RGB, 8, 3, 100.0f, RESUNIT_CENTIMETER, 0x2101, 0, 254},
        {"unit none", PHOTOMETRIC_RGB, 8, 3, 100.0f, RESUNIT_NONE, 0x2101, 0, 100},
        {"no unit: inches", PHOTOMETRIC_RGB, 8, 3, 100.0f, std::nullopt, 0x2101, 0, 100},
        {"no resolution", PHOTOMETRIC_RGB, 8, 3, std::nullopt, inch, 0x2101, 0, 72},
        {"no resolution, centimetres", PHOTOMETRIC_RGB, 8, 3, std::nullopt, RESUNIT_CENTIMETER,
         0x2101, 0, 182.88f},
        {"resolution 0", PHOTOMETRIC_RGB, 8, 3, 0.0f, inch, 0x2101, 0, 0},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TiffPage page;
        page.width = 34;
        page.height = 12;
        page.photometric = c.photometric;
        page.bits = c.bits;
        page.samples = c.samples;
        page.xResolution = c.xResolution;
        page.unit = c.unit;
        Inspected r = InspectPage(dir, "plain.tif", page);
        if (c.pixelType == 0) {
            EXPECT_EQ(r.code, c.code);
            continue;
        }
        ASSERT_EQ(r.code, 0);
        EXPECT_EQ(r.formatCode, 0x100u);
        EXPECT_EQ(r.info.width, 34u);
        EXPECT_EQ(r.info.height, 12u);
        EXPECT_NEAR(r.info.resolution, c.resolution, 0.01);
        EXPECT_EQ(r.info.pixelType, c.pixelType);
        EXPECT_EQ(r.info.samplesPerPixel, c.samples);
        EXPECT_EQ(r.info.bitsPerSample, c.bits);
        EXPECT_FALSE(r.hasLinkedName);
        EXPECT_EQ(r.processCount, -1);
    }
}

TEST(TiffReaderPlain, OnlyTheFirstPageCounts) {
    TempDir dir;
    TiffPage first;
    first.width = 30;
    first.height = 20;
    TiffPage second;
    second.width = 10;
    second.height = 10;
    second.photometric = PHOTOMETRIC_MINISBLACK;
    second.samples = 1;
    second.zpax = ZpaxTag({{5000, 5000}}, "/other.tif");
    WriteTiffPages(dir / "pages.tif", {first, second});
    Inspected r = Inspect<Proxy_TIFF>(dir / "pages.tif");
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(r.formatCode, 0x100u);
    EXPECT_EQ(r.info.width, 30u);
    EXPECT_EQ(r.info.height, 20u);
    EXPECT_EQ(r.info.pixelType, 0x2101u);
}

TEST(TiffReaderMark, ProcessingMarkTag) {
    struct Case {
        const char* what;
        std::string tag;
        int processCount;
    };
    const Case cases[] = {
        {"text is the count", ProcOptTag(2, 1, "2"), 2},
        {"text is not the count", ProcOptTag(3, 1, "x"), 3},                 // "3 x"
        {"text names another count", ProcOptTag(5, 1, "7"), 5},              // "5 7"
        {"two-digit count", ProcOptTag(12, 1, "x"), 1},                      // "12 x"
        {"negative count", ProcOptTag(-1, 1, "x"), -1},                      // "-1 x"
        {"zero count, NUL text", ProcOptTag(0, 1, std::string(1, '\0')), 0}, // "0 "
        {"longer text", ProcOptTag(4, 3, "4ab"), 4},
        {"longest text", ProcOptTag(9, 127, "9" + std::string(126, 'z')), 9},
        {"no text", ProcOptTag(6, 0, ""), -1},
        {"negative length", ProcOptTag(6, -5, "6abcd"), -1},
        {"text longer than its length", ProcOptTag(8, 1, "8xyz"), 8},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TiffPage page;
        page.procOpt = c.tag;
        page.description = "5 passes"; // never looked at while the mark is there
        Inspected r = InspectPage(dir, "mark.tif", page);
        ASSERT_EQ(r.code, 0);
        EXPECT_EQ(r.processCount, c.processCount);
        EXPECT_EQ(r.formatCode, 0x100u);
    }
}

TEST(TiffReaderMark, LyingOrDamagedMarkIsRejected) {
    struct Case {
        const char* what;
        std::string tag;
    };
    const Case cases[] = {
        {"wrong marker", "KRYX\x7f\x7f\x02\x01"
                         "2"},
        {"marker only", "KRYO"},
        {"no length byte", ProcOptTag(2, 1, "2").substr(0, 7)},
        {"length beyond the tag", ProcOptTag(2, 5, "2ab")},
        {"longest length, short text", ProcOptTag(2, 127, "2")},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TiffPage page;
        page.procOpt = c.tag;
        EXPECT_EQ(InspectPage(dir, "lie.tif", page).code, -11);
    }
}

TEST(TiffReaderMark, DescriptionAndModelWithoutTheMark) {
    struct Case {
        const char* what;
        std::optional<std::string> description, model;
        int processCount;
    };
    const Case cases[] = {
        {"description with a digit", "1 pass", std::nullopt, 1},
        {"model replaces it", "1 pass", "Scanner 9", -1},
        {"digit in the model", "scanned", "7", 7},
        {"digit in both", "3", "8", 8},
        {"empty model replaces", "2", "", -1},
        {"neither", std::nullopt, std::nullopt, -1},
        {"no digit first", " 1", std::nullopt, -1},
        {"long description", "6" + std::string(400, 'q'), std::nullopt, 6},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TiffPage page;
        page.description = c.description;
        page.model = c.model;
        Inspected r = InspectPage(dir, "text.tif", page);
        ASSERT_EQ(r.code, 0);
        EXPECT_EQ(r.processCount, c.processCount);
    }
}

TEST(TiffReaderMark, MarkCountsForOpiTiffsToo) {
    TempDir dir;
    TiffPage page;
    page.opi = "/hires/a.tif";
    page.model = "3rd generation";
    Inspected r = InspectPage(dir, "opi.tif", page);
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(r.formatCode, 0x111u);
    EXPECT_EQ(r.processCount, 3);
}

TEST(TiffReaderFiles, NotOpenable) {
    TempDir dir;
    WriteFresh(dir / "empty.tif", "");
    WriteFresh(dir / "text.tif", "This is not an image at all.\n");
    WriteFresh(dir / "header-only.tif", std::string("II*\0", 4));
    WriteFresh(dir / "motorola-header-only.tif", std::string("MM\0*\0\0\0\x08", 8));
    WriteFresh(dir / "jpeg.jpg", JpegBytes({}));
    std::string raw = RawTiff(GrayEntries(4, 4));
    WriteFresh(dir / "cut-directory.tif", raw.substr(0, 20));
    std::string lyingCount = raw;
    lyingCount[10] = '\x40'; // 64 entries claimed, 9 there
    WriteFresh(dir / "lying-entry-count.tif", lyingCount);
    std::string lyingOffset = raw;
    lyingOffset[4] = '\x70'; // directory beyond the end
    WriteFresh(dir / "directory-beyond-end.tif", lyingOffset);
    MakeDirs(dir / "folder.tif");
    for (const char* name : {"empty.tif", "text.tif", "header-only.tif", "motorola-header-only.tif",
                             "jpeg.jpg", "cut-directory.tif", "lying-entry-count.tif",
                             "directory-beyond-end.tif", "folder.tif", "missing.tif"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Inspect<Proxy_TIFF>(dir / name).code, -4);
    }
    EXPECT_EQ(Inspect<Proxy_TIFF>(static_cast<const char*>(nullptr)).code, -4);
}

TEST(TiffReaderFiles, BigTiffIsNotAccepted) {
    TempDir dir;
    WriteTiffPages(dir / "big.tif", {TiffPage{}}, "w8");
    EXPECT_EQ(Inspect<Proxy_TIFF>(dir / "big.tif").code, -4);
    WriteTiffPages(dir / "classic.tif", {TiffPage{}}, "w");
    EXPECT_EQ(Inspect<Proxy_TIFF>(dir / "classic.tif").code, 0);
}

TEST(TiffReaderFiles, ByteBuiltDirectories) {
    // The library drops a value that lies beyond the end of the file; the
    // file then reads as if the tag were absent.
    const std::string zpax = ZpaxTag({{800, 600}}, "/a.tif");
    struct Case {
        const char* what;
        std::vector<RawEntry> extra;
        int code;
        uint32_t formatCode;
        int processCount;
    };
    const Case cases[] = {
        {"well-formed proxy", {Bytes(kTiffTagZpaxOpt, zpax)}, 0, 0x101, -1},
        {"proxy value past the end",
         {{kTiffTagZpaxOpt, TIFF_BYTE, static_cast<uint32_t>(zpax.size()), "", 4000}},
         0,
         0x100,
         -1},
        {"proxy count past the end", {{kTiffTagZpaxOpt, TIFF_BYTE, 100000, "", 12}}, 0, 0x100, -1},
        {"mark past the end, description used",
         {{kTiffTagProcOpt, TIFF_BYTE, 9, "", 0x7FFFFFF0}, Ascii(TIFFTAG_IMAGEDESCRIPTION, "4")},
         0,
         0x100,
         4},
        {"mark stored as UNDEFINED",
         {{kTiffTagProcOpt, TIFF_UNDEFINED, 9, ProcOptTag(2, 1, "2")}},
         0,
         0x100,
         2},
        {"OPI text without its NUL", {{kTiffTagOpiImageId, TIFF_ASCII, 6, "/a/b.c"}}, 0, 0x111, -1},
        {"resolution with a zero denominator",
         {Rational(TIFFTAG_XRESOLUTION, 300, 0)},
         0,
         0x100,
         -1},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<RawEntry> entries = GrayEntries(200, 100);
        entries.insert(entries.end(), c.extra.begin(), c.extra.end());
        WriteFresh(dir / "raw.tif", RawTiff(entries));
        Inspected r = Inspect<Proxy_TIFF>(dir / "raw.tif");
        ASSERT_EQ(r.code, c.code);
        if (c.code != 0) {
            continue;
        }
        EXPECT_EQ(r.formatCode, c.formatCode);
        EXPECT_EQ(r.processCount, c.processCount);
        EXPECT_EQ(r.info.pixelType, 0x280Au);
        if (c.formatCode == 0x100) {
            EXPECT_EQ(r.info.width, 200u);
            EXPECT_EQ(r.info.height, 100u);
        } else if (c.formatCode == 0x111) {
            EXPECT_EQ(r.linkedName, "/a/b.c");
        } else {
            EXPECT_EQ(r.info.width, 800u);
            EXPECT_EQ(r.linkedName, "/a.tif");
        }
    }
}

TEST(TiffReaderFiles, ProxyOfZeroWidthIsRejected) {
    TempDir dir;
    std::vector<RawEntry> entries = GrayEntries(0, 10);
    entries.push_back(Bytes(kTiffTagZpaxOpt, ZpaxTag({{100, 100}}, "/a.tif")));
    WriteFresh(dir / "zero.tif", RawTiff(entries));
    Inspected r = Inspect<Proxy_TIFF>(dir / "zero.tif");
    EXPECT_NE(r.code, 0); // the library refuses it, or the reader does
    EXPECT_TRUE(r.code == -4 || r.code == -11) << r.code;
}

TEST(TiffReaderFiles, EveryCutAndEveryDamagedByteIsHandled) {
    std::vector<RawEntry> entries = GrayEntries(64, 32);
    entries.push_back(Bytes(kTiffTagZpaxOpt, ZpaxTag({{640, 320}, {1280, 640}}, "/src/a.tif")));
    entries.push_back(Bytes(kTiffTagProcOpt, ProcOptTag(2, 3, "2ab")));
    entries.push_back(Ascii(kTiffTagOpiImageId, "/hires/a.tif"));
    entries.push_back(Ascii(TIFFTAG_IMAGEDESCRIPTION, "7 passes"));
    entries.push_back(Rational(TIFFTAG_XRESOLUTION, 300, 1));
    const std::string whole = RawTiff(entries);
    TempDir dir;
    const std::string path = dir / "cut.tif";

    WriteFresh(path, whole);
    Inspected full = Inspect<Proxy_TIFF>(path);
    ASSERT_EQ(full.code, 0);
    ASSERT_EQ(full.formatCode, 0x101u);
    EXPECT_EQ(full.info.width, 1280u);
    EXPECT_EQ(full.info.height, 640u);
    EXPECT_NEAR(full.info.resolution, 6000.0, 0.01);
    EXPECT_EQ(full.processCount, 2);

    for (std::size_t n = 0; n < whole.size(); ++n) {
        WriteFresh(path, whole.substr(0, n));
        Inspected r = Inspect<Proxy_TIFF>(path);
        SCOPED_TRACE("cut at " + std::to_string(n));
        ExpectSameWithTheFileLent<Proxy_TIFF>(path);
        EXPECT_TRUE(r.code == 0 || r.code == -1 || r.code == -4 || r.code == -11) << r.code;
        if (r.code == 0 && r.formatCode == 0x101) {
            // A proxy is only ever reported with its whole tag.
            EXPECT_EQ(r.info.width, 1280u);
            EXPECT_EQ(r.linkedName, "/src/a.tif");
        }
    }
    for (std::size_t at = 0; at < whole.size(); ++at) {
        for (char value : {'\x00', '\xFF', '\x80'}) {
            std::string damaged = whole;
            damaged[at] = value;
            WriteFresh(path, damaged);
            Inspected r = Inspect<Proxy_TIFF>(path);
            EXPECT_TRUE(r.code == 0 || r.code == -1 || r.code == -4 || r.code == -11)
                << "byte " << at << ": " << r.code;
            ExpectSameWithTheFileLent<Proxy_TIFF>(path);
        }
    }
}

TEST(TiffReaderFiles, ManyStripsAndLargeValuesInspectAlikeWithTheFileLent) {
    TempDir dir;
    // 600 000 one-row strips: offset and count arrays of several megabytes
    // that inspection has no need to load, beside 6 MB of layer data.
    const uint32_t rows = 600000;
    std::string offsets;
    std::string counts;
    for (uint32_t i = 0; i < rows; ++i) {
        offsets += LittleEndian32(kRawPixelOffset);
        counts += LittleEndian32(1);
    }
    std::vector<RawEntry> entries = GrayEntries(1, rows);
    for (RawEntry& e : entries) {
        if (e.tag == TIFFTAG_STRIPOFFSETS) {
            e = {TIFFTAG_STRIPOFFSETS, TIFF_LONG, rows, offsets};
        } else if (e.tag == TIFFTAG_STRIPBYTECOUNTS) {
            e = {TIFFTAG_STRIPBYTECOUNTS, TIFF_LONG, rows, counts};
        } else if (e.tag == TIFFTAG_ROWSPERSTRIP) {
            e = Long(TIFFTAG_ROWSPERSTRIP, 1);
        }
    }
    entries.push_back(Ascii(TIFFTAG_MODEL, "5 runs"));
    entries.push_back({TIFFTAG_IMAGESOURCEDATA, TIFF_UNDEFINED, 6 * 1024 * 1024,
                       std::string(6 * 1024 * 1024, 'L')});
    const std::string path = dir / "tall.tif";
    WriteFresh(path, RawTiff(entries));
    Inspected tall = Inspect<Proxy_TIFF>(path);
    ASSERT_EQ(tall.code, 0);
    EXPECT_EQ(tall.info.width, 1u);
    EXPECT_EQ(tall.info.height, rows);
    EXPECT_EQ(tall.processCount, 5);
    ExpectSameWithTheFileLent<Proxy_TIFF>(path);
    ExpectFactoryAsEachReaderAlone(path);

    // Photoshop layer data of 6 MB beside the server's tags.
    TiffPage page;
    page.zpax = ZpaxTag({{1000, 800}, {4000, 3000}}, "/src/layered.tif");
    page.procOpt = ProcOptTag(1, 1, "1");
    page.layers = std::string("Adobe Photoshop Document Data Block\0", 36) +
                  std::string(6 * 1024 * 1024, 'L');
    page.width = 1000;
    Inspected layered = InspectPage(dir, "layers.tif", page);
    ASSERT_EQ(layered.code, 0);
    EXPECT_EQ(layered.formatCode, 0x101u);
    EXPECT_EQ(layered.info.width, 4000u);
    EXPECT_NEAR(layered.info.resolution, 1200.0, 0.01);
    EXPECT_EQ(layered.linkedName, "/src/layered.tif");
    EXPECT_EQ(layered.processCount, 1);
}

TEST(TiffReaderFiles, ProxyTagBeyondTheValueLimitIsNotLoaded) {
    // Values of more than 4 MB are not loaded for inspection; a proxy tag that
    // large (a name of megabytes) reads as if it were absent.
    TempDir dir;
    TiffPage page;
    page.zpax = ZpaxTag({{4000, 3000}}, "/" + std::string(5 * 1024 * 1024, 'n'));
    Inspected r = InspectPage(dir, "huge.tif", page);
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(r.formatCode, 0x100u);
    EXPECT_EQ(r.info.width, page.width);
}

namespace {

// Whether libtiff, opening the file itself with the reader's 4 MB limit on a
// single value, keeps its description.
bool LibtiffKeepsTheDescription(const std::string& path) {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, 4 * 1024 * 1024);
    TIFF* tif = TIFFOpenExt(path.c_str(), "rmDc", options);
    TIFFOpenOptionsFree(options);
    if (tif == nullptr) {
        return false;
    }
    char* text = nullptr;
    const bool kept = TIFFGetField(tif, TIFFTAG_IMAGEDESCRIPTION, &text) == 1 && text != nullptr;
    TIFFClose(tif);
    return kept;
}

} // namespace

TEST(TiffReaderFiles, ValuesUpToTheLimitAreReadAndLargerOnesDropped) {
    // The description's first digit is the processing count. A description
    // of 2 MB is read like a short one; one beyond 4 MB is dropped and the
    // count stays unknown; so is Photoshop's layer data beside either.
    TempDir dir;
    struct Case {
        const char* name;
        std::size_t descriptionBytes;
        std::size_t layerBytes;
        int processCount;
    };
    const Case cases[] = {
        {"short.tif", 10, 0, 7},
        {"two-megabytes.tif", 2 * 1024 * 1024, 0, 7},
        {"at-the-limit.tif", 4 * 1024 * 1024, 0, 7},
        {"past-the-limit.tif", 4 * 1024 * 1024 + 1, 0, -1},
        {"two-megabytes-and-layers.tif", 2 * 1024 * 1024, 6 * 1024 * 1024, 7},
        {"short-and-layers.tif", 10, 48 * 1024 * 1024, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TiffPage page;
        page.description = "7" + std::string(c.descriptionBytes - 2, 'd'); // and its NUL
        if (c.layerBytes > 0) {
            page.layers = std::string(c.layerBytes, 'L');
        }
        const std::string path = dir / c.name;
        WriteTiff(path, page);
        Inspected r = Inspect<Proxy_TIFF>(path);
        ASSERT_EQ(r.code, 0);
        EXPECT_EQ(r.processCount, c.processCount);
        // libtiff on its own draws the same line.
        EXPECT_EQ(LibtiffKeepsTheDescription(path), c.processCount == 7);
        ExpectSameWithTheFileLent<Proxy_TIFF>(path);
        ExpectFactoryAsEachReaderAlone(path);
    }
}

TEST(TiffReaderFiles, AValueThatSharesItsPlaceWithALargeOneIsStillRead) {
    // Two entries point at the same bytes: a description of 2 MB and layer
    // data of 5 MB that begins with it. The layer data is dropped, the
    // description read.
    TempDir dir;
    const uint32_t layerBytes = 5 * 1024 * 1024;
    std::vector<RawEntry> entries = GrayEntries(4, 4);
    const std::string probe = RawTiff(entries);
    const uint32_t shared = static_cast<uint32_t>(probe.size()) + 2 * 12 + 16;
    entries.push_back({TIFFTAG_IMAGEDESCRIPTION, TIFF_ASCII, 2 * 1024 * 1024, "", shared});
    entries.push_back({TIFFTAG_IMAGESOURCEDATA, TIFF_UNDEFINED, layerBytes, "", shared});
    std::string bytes = RawTiff(entries);
    ASSERT_LE(bytes.size(), shared);
    bytes.resize(shared, '\0');
    bytes += std::string("3 passes!") + '\0';
    bytes += std::string(layerBytes, 'L');
    const std::string path = dir / "shared.tif";
    WriteFresh(path, bytes);
    Inspected r = Inspect<Proxy_TIFF>(path);
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(r.processCount, 3);
    EXPECT_TRUE(LibtiffKeepsTheDescription(path));
    ExpectSameWithTheFileLent<Proxy_TIFF>(path);
    ExpectFactoryAsEachReaderAlone(path);
}

TEST(TiffReaderLifecycle, CloseIsHarmlessAndTheHandleNeverLeaks) {
    TempDir dir;
    TiffPage good;
    WriteTiff(dir / "good.tif", good);
    TiffPage mask;
    mask.photometric = PHOTOMETRIC_MASK;
    mask.bits = 1;
    mask.samples = 1;
    WriteTiff(dir / "mask.tif", mask);
    TiffPage lying;
    lying.zpax = "KRYO";
    WriteTiff(dir / "lying.tif", lying);

    ExpectCloseHarmlessAndNoLeak<Proxy_TIFF>(dir, "good.tif", 0x100u,
                                             {"good.tif", "mask.tif", "lying.tif"});
}

TEST(TiffReaderLifecycle, TheFactoryTakesAProxyTiff) {
    TempDir dir;
    TiffPage page;
    page.zpax = ZpaxTag({{3000, 2000}}, "C:\\Jobs\\big.tif");
    WriteTiff(dir / "proxy.tif", page);
    for (bool acceptOpi : {true, false}) {
        auto reader = IMG_OpenImageFile((dir / "proxy.tif").c_str(), "r", acceptOpi);
        ASSERT_NE(reader, nullptr);
        EXPECT_STREQ(reader->ReaderName(), "Proxy_TIFF");
        EXPECT_EQ(reader->GetFormatCode(), 0x101u);
        char name[512];
        std::memset(name, 'x', sizeof name);
        reader->GetLinkedName(name, sizeof name);
        EXPECT_STREQ(name, "C:\\Jobs\\big.tif");
    }
}

// ===========================================================================
// JPEG

TEST(JpegReaderHeader, ColourSpacesAndDensities) {
    struct Case {
        const char* what;
        JpegRecipe recipe;
        int code;
        uint32_t pixelType;
        int16_t samples;
        float resolution;
    };
    auto recipe = [](J_COLOR_SPACE input, int components, J_COLOR_SPACE stored, bool jfif,
                     UINT8 unit, UINT16 x, UINT16 y = 72) {
        JpegRecipe s;
        s.input = input;
        s.components = components;
        s.stored = stored;
        s.jfif = jfif;
        s.unit = unit;
        s.xDensity = x;
        s.yDensity = y;
        return s;
    };
    const Case cases[] = {
        // colour spaces
        {"gray", recipe(JCS_GRAYSCALE, 1, JCS_GRAYSCALE, true, 1, 100), 0, 0x280A, 1, 100},
        {"YCbCr", recipe(JCS_RGB, 3, JCS_YCbCr, true, 1, 300), 0, 0x2101, 3, 300},
        {"RGB", recipe(JCS_RGB, 3, JCS_RGB, false, 0, 1), 0, 0x2101, 3, 72},
        {"CMYK", recipe(JCS_CMYK, 4, JCS_CMYK, false, 0, 1), 0, 0x0802, 4, 72},
        {"CMYK with JFIF", recipe(JCS_CMYK, 4, JCS_CMYK, true, 1, 200), 0, 0x0802, 4, 200},
        {"YCCK", recipe(JCS_CMYK, 4, JCS_YCCK, false, 0, 1), 0, 0x0802, 4, 72},
        {"two components", recipe(JCS_UNKNOWN, 2, JCS_UNKNOWN, false, 0, 1), -11, 0, 0, 0},
        // JFIF densities
        {"unit 0", recipe(JCS_RGB, 3, JCS_YCbCr, true, 0, 100), 0, 0x2101, 3, 72},
        {"unit 1, density 10", recipe(JCS_RGB, 3, JCS_YCbCr, true, 1, 10), 0, 0x2101, 3, 72},
        {"unit 1, density 16", recipe(JCS_RGB, 3, JCS_YCbCr, true, 1, 16), 0, 0x2101, 3, 72},
        {"unit 1, density 17", recipe(JCS_RGB, 3, JCS_YCbCr, true, 1, 17), 0, 0x2101, 3, 17},
        {"unit 1, X density only", recipe(JCS_RGB, 3, JCS_YCbCr, true, 1, 300, 150), 0, 0x2101, 3,
         300},
        {"unit 2, density 118", recipe(JCS_RGB, 3, JCS_YCbCr, true, 2, 118), 0, 0x2101, 3, 299.72f},
        {"unit 2, density 6", recipe(JCS_RGB, 3, JCS_YCbCr, true, 2, 6), 0, 0x2101, 3, 72},
        {"unit 2, density 7", recipe(JCS_RGB, 3, JCS_YCbCr, true, 2, 7), 0, 0x2101, 3, 17.78f},
        {"unit 3 taken as it is", recipe(JCS_RGB, 3, JCS_YCbCr, true, 3, 200), 0, 0x2101, 3, 200},
        {"no JFIF marker", recipe(JCS_RGB, 3, JCS_YCbCr, false, 1, 300), 0, 0x2101, 3, 72},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFresh(dir / "a.jpg", JpegBytes(c.recipe));
        Inspected r = Inspect<Proxy_JPEG>(dir / "a.jpg");
        ASSERT_EQ(r.code, c.code);
        if (c.code != 0) {
            continue;
        }
        EXPECT_EQ(r.formatCode, 0x400u);
        EXPECT_EQ(r.info.width, 24u);
        EXPECT_EQ(r.info.height, 16u);
        EXPECT_EQ(r.info.pixelType, c.pixelType);
        EXPECT_EQ(r.info.samplesPerPixel, c.samples);
        EXPECT_EQ(r.info.bitsPerSample, 0);
        EXPECT_NEAR(r.info.resolution, c.resolution, 0.01);
        EXPECT_EQ(r.processCount, -1);
        EXPECT_FALSE(r.hasLinkedName);
    }
}

TEST(JpegReaderHeader, ProgressiveAndLargeImages) {
    TempDir dir;
    JpegRecipe progressive;
    progressive.progressive = true;
    progressive.width = 3000;
    progressive.height = 7;
    WriteFresh(dir / "p.jpg", JpegBytes(progressive));
    Inspected r = Inspect<Proxy_JPEG>(dir / "p.jpg");
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(r.info.width, 3000u);
    EXPECT_EQ(r.info.height, 7u);
    EXPECT_EQ(r.info.pixelType, 0x2101u);
}

TEST(JpegReaderHeader, DamagedHeadersAreRejected) {
    const std::string good = JpegBytes({});
    const std::size_t sof = FrameHeader(good);
    struct Case {
        const char* what;
        std::string bytes;
    };
    std::string precision12 = good;
    precision12[sof + 4] = 12;
    std::string zeroWidth = good;
    zeroWidth[sof + 7] = 0;
    zeroWidth[sof + 8] = 0;
    std::string zeroComponents = good;
    zeroComponents[sof + 9] = 0;
    std::string noSof = good;
    noSof[sof + 1] = '\xEF'; // the frame header becomes an APP15 segment
    const Case cases[] = {
        {"empty", ""},
        {"SOI only", "\xFF\xD8"},
        {"tables only", "\xFF\xD8\xFF\xD9"},
        {"text", "JFIF? no, just text\n"},
        {"TIFF", std::string("II*\0\x08\0\0\0", 8)},
        {"12-bit samples", precision12},
        {"width 0", zeroWidth},
        {"no components", zeroComponents},
        {"no frame header", noSof},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFresh(dir / "bad.jpg", c.bytes);
        EXPECT_EQ(Inspect<Proxy_JPEG>(dir / "bad.jpg").code, -11);
    }
    EXPECT_EQ(Inspect<Proxy_JPEG>(dir / "missing.jpg").code, -4);
    EXPECT_EQ(Inspect<Proxy_JPEG>(static_cast<const char*>(nullptr)).code, -4);
}

TEST(JpegReaderHeader, EveryCutBeforeTheScanIsRejectedAndEveryLaterOneRead) {
    JpegRecipe recipe;
    recipe.unit = 2;
    recipe.xDensity = 118;
    const std::string whole = JpegBytes(recipe);
    const ScanHeader scan = FindScanHeader(whole);
    ASSERT_EQ(scan.end - scan.lastComponentEnd, 4u); // a table selector and three scan bytes
    TempDir dir;
    const std::string path = dir / "cut.jpg";
    for (std::size_t n = 0; n <= whole.size(); ++n) {
        SCOPED_TRACE("cut at " + std::to_string(n));
        WriteFresh(path, whole.substr(0, n));
        Inspected r = Inspect<Proxy_JPEG>(path);
        ExpectSameWithTheFileLent<Proxy_JPEG>(path);
        if (n < scan.lastComponentEnd) {
            EXPECT_EQ(r.code, -11);
        } else {
            ASSERT_EQ(r.code, 0);
            EXPECT_EQ(r.info.width, 24u);
            EXPECT_EQ(r.info.height, 16u);
            EXPECT_NEAR(r.info.resolution, 299.72, 0.01);
        }
    }
}

TEST(JpegReaderHeader, EveryDamagedHeaderByteIsHandled) {
    const std::string whole = JpegBytes({});
    const std::size_t headerEnd = FindScanHeader(whole).end;
    TempDir dir;
    const std::string path = dir / "damaged.jpg";
    for (std::size_t at = 0; at < headerEnd; ++at) {
        for (char value : {'\x00', '\xFF', '\x80'}) {
            std::string damaged = whole;
            damaged[at] = value;
            WriteFresh(path, damaged);
            Inspected r = Inspect<Proxy_JPEG>(path);
            EXPECT_TRUE(r.code == 0 || r.code == -1 || r.code == -11)
                << "byte " << at << ": " << r.code;
            ExpectSameWithTheFileLent<Proxy_JPEG>(path);
        }
    }
}

TEST(JpegReaderHeader, LongSegmentsBeforeTheFrameReadAlikeWithTheFileLent) {
    // Comment segments of 60 KB each before the frame header: the header
    // reaches far past the head of the file, and every cut of it ends the
    // reading somewhere else.
    const std::string plain = JpegBytes({});
    std::string comments;
    for (int i = 0; i < 3; ++i) {
        const std::size_t length = 60000;
        comments += "\xFF\xFE";
        comments += static_cast<char>((length + 2) >> 8);
        comments += static_cast<char>((length + 2) & 0xFF);
        comments += std::string(length, static_cast<char>('a' + i));
    }
    const std::string whole = plain.substr(0, 2) + comments + plain.substr(2);
    TempDir dir;
    const std::string path = dir / "long.jpg";
    WriteFresh(path, whole);
    Inspected r = Inspect<Proxy_JPEG>(path);
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(r.info.width, 24u);
    ExpectSameWithTheFileLent<Proxy_JPEG>(path);
    ExpectFactoryAsEachReaderAlone(path);
    for (std::size_t n : {std::size_t{4095}, std::size_t{4096}, std::size_t{4097},
                          std::size_t{60005}, std::size_t{65536}, std::size_t{120010},
                          whole.size() - plain.size() + 2, whole.size() - 1}) {
        SCOPED_TRACE(n);
        WriteFresh(path, whole.substr(0, n));
        ExpectSameWithTheFileLent<Proxy_JPEG>(path);
        ExpectFactoryAsEachReaderAlone(path);
    }
}

TEST(JpegReaderLifecycle, CloseIsHarmlessAndTheFileNeverLeaks) {
    TempDir dir;
    WriteFresh(dir / "good.jpg", JpegBytes({}));
    WriteFresh(dir / "bad.jpg", "\xFF\xD8\xFF\xD9");
    ExpectCloseHarmlessAndNoLeak<Proxy_JPEG>(dir, "good.jpg", 0x400u, {"good.jpg", "bad.jpg"});
}

TEST(JpegReaderLifecycle, TheFactoryTakesAJpegAfterTheTiffReaderRefusedIt) {
    TempDir dir;
    JpegRecipe recipe;
    recipe.input = JCS_CMYK;
    recipe.components = 4;
    recipe.stored = JCS_CMYK;
    WriteFresh(dir / "cmyk.jpg", JpegBytes(recipe));
    EXPECT_EQ(Inspect<Proxy_TIFF>(dir / "cmyk.jpg").code, -4);
    auto reader = IMG_OpenImageFile((dir / "cmyk.jpg").c_str(), "r", false);
    ASSERT_NE(reader, nullptr);
    EXPECT_STREQ(reader->ReaderName(), "Proxy_JPEG");
    EXPECT_EQ(reader->GetFormatCode(), 0x400u);
    EXPECT_EQ(reader->GetImageInfo()->pixelType, 0x0802u);
}
