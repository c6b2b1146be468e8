// The TIFF and JPEG readers on files made by libtiff and libjpeg, or byte by byte.
#include "Proxy_JPEG.h"
#include "Proxy_TIFF.h"
#include "ReaderRuns.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <tuple>

#include <jpeglib.h>
#include <tiffio.h>

namespace {

using namespace std::string_literals;

// The proxy tag: "KRYO", four unread bytes, the pair count, the (columns,
// rows) pairs, the name length and the name; the counts given replace the true.
std::string ZpaxTag(const std::vector<std::pair<uint32_t, uint32_t>>& pairs,
                    const std::string& name, std::optional<uint32_t> pairCount = std::nullopt,
                    std::optional<uint32_t> nameLength = std::nullopt) {
    std::string s = "KRYO" + Be32(0xA5A5A5A5) + Be32(pairCount.value_or(pairs.size()));
    for (const auto& [columns, rows] : pairs)
        s += Be32(columns) + Be32(rows);
    return s + Be32(nameLength.value_or(static_cast<uint32_t>(name.size()))) + name;
}

// The processing-mark tag: "KRYO", two unread bytes, K, T and the text.
std::string ProcOptTag(int8_t count, int8_t length, const std::string& text) {
    return "KRYO\x7f\x7f"s + static_cast<char>(count) + static_cast<char>(length) + text;
}

// A TIFF page as libtiff writes it (one strip of zero pixels); layers: tag 37724.
struct TiffPage {
    uint32_t width = 20, height = 10;
    uint16_t bits = 8, samples = 3, photometric = PHOTOMETRIC_RGB;
    std::optional<float> xResolution = 300.0f;
    std::optional<uint16_t> unit = RESUNIT_INCH;
    std::optional<std::string> description{}, model{}, opi{}, zpax{}, procOpt{}, layers{};
};

// A TIFF of the page; mode "w8" makes a BigTIFF.
void WriteTiffPage(const std::string& path, const TiffPage& page, const char* mode = "w") {
    Proxy_TIFF_RegisterPrivateTags();
    std::filesystem::remove(path);
    TIFF* tif = TIFFOpen(path.c_str(), mode);
    if (tif == nullptr)
        throw std::runtime_error("cannot write " + path);
    const uint16_t p = page.photometric;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, page.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, page.height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, page.bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, page.samples);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, p);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, page.height);
    // Samples beyond the photometric's colour channels are extra samples.
    const int channels = p == PHOTOMETRIC_SEPARATED                       ? 4
                         : p == PHOTOMETRIC_RGB || p >= PHOTOMETRIC_YCBCR ? 3
                                                                          : 1;
    std::vector<uint16_t> extra(std::max(page.samples - channels, 0), EXTRASAMPLE_UNSPECIFIED);
    if (!extra.empty())
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, static_cast<uint16_t>(extra.size()), extra.data());
    std::vector<uint16_t> map(p == PHOTOMETRIC_PALETTE ? std::size_t{1} << page.bits : 0, 0);
    if (p == PHOTOMETRIC_PALETTE)
        TIFFSetField(tif, TIFFTAG_COLORMAP, map.data(), map.data(), map.data());
    for (uint32_t tag : {TIFFTAG_XRESOLUTION, TIFFTAG_YRESOLUTION})
        if (page.xResolution)
            TIFFSetField(tif, tag, static_cast<double>(*page.xResolution));
    if (page.unit)
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, *page.unit);
    for (const auto& [tag, text] : {std::pair{TIFFTAG_IMAGEDESCRIPTION, &page.description},
                                    {TIFFTAG_MODEL, &page.model},
                                    {kTiffTagOpiImageId, &page.opi}})
        if (*text)
            TIFFSetField(tif, tag, (*text)->c_str());
    for (const auto& [tag, bytes] :
         {std::pair<uint32_t, const std::optional<std::string>*>{kTiffTagZpaxOpt, &page.zpax},
          {kTiffTagProcOpt, &page.procOpt},
          {TIFFTAG_IMAGESOURCEDATA, &page.layers}})
        if (*bytes &&
            TIFFSetField(tif, tag, static_cast<uint32_t>((*bytes)->size()), (*bytes)->data()) != 1)
            throw std::runtime_error("cannot set tag " + std::to_string(tag));
    std::vector<uint8_t> strip(static_cast<std::size_t>(TIFFStripSize(tif)), 0);
    const bool written =
        TIFFWriteEncodedStrip(tif, 0, strip.data(), static_cast<tmsize_t>(strip.size())) >= 0 &&
        TIFFWriteDirectory(tif) == 1;
    TIFFClose(tif);
    if (!written)
        throw std::runtime_error("cannot write the image of " + path);
}

// The bytes of the TIFF of the page.
std::string TiffBytes(const TiffPage& page, const char* mode = "w") {
    TempDir dir;
    WriteTiffPage(dir / "page.tif", page, mode);
    return ReadFile(dir / "page.tif");
}

// The page inspected (and run every way when asked).
Inspected InspectPage(const TiffPage& page, bool everyWay = false) {
    return InspectBytes<Proxy_TIFF>(TiffBytes(page), everyWay);
}

// A directory entry of a TIFF built byte by byte (little-endian, one directory).
struct RawEntry {
    uint16_t tag, type;
    uint32_t count;
    std::string value;                   // placed in the entry when 4 bytes or fewer
    std::optional<uint32_t> offset = {}; // where the entry says its value is, instead
};

// The tags of an 8-bit gray image whose strips all share the pixel byte at 8.
std::vector<RawEntry> GrayEntries(uint32_t width, uint32_t height) {
    std::vector<RawEntry> entries;
    for (const auto& [tag, value] : {std::pair<uint16_t, uint32_t>{TIFFTAG_IMAGEWIDTH, width},
                                     {TIFFTAG_IMAGELENGTH, height},
                                     {TIFFTAG_STRIPOFFSETS, 8}, // the pixel byte after the header
                                     {TIFFTAG_ROWSPERSTRIP, height},
                                     {TIFFTAG_STRIPBYTECOUNTS, 1}})
        entries.push_back({tag, TIFF_LONG, 1, Le32(value)});
    for (const auto& [tag, value] : {std::pair<uint16_t, uint16_t>{TIFFTAG_BITSPERSAMPLE, 8},
                                     {TIFFTAG_COMPRESSION, COMPRESSION_NONE},
                                     {TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK},
                                     {TIFFTAG_SAMPLESPERPIXEL, 1}})
        entries.push_back({tag, TIFF_SHORT, 1, Le16(value)});
    return entries;
}

// Header, one pixel byte, the sorted directory, then the values too long for it.
std::string RawTiff(std::vector<RawEntry> entries) {
    std::sort(entries.begin(), entries.end(),
              [](const RawEntry& a, const RawEntry& b) { return a.tag < b.tag; });
    const uint32_t ifdOffset = 10;
    std::string out = "II*\0"s + Le32(ifdOffset) + std::string(2, '\0');
    const uint32_t valuesOffset = ifdOffset + 2 + 12 * static_cast<uint32_t>(entries.size()) + 4;
    std::string values;
    out += Le16(static_cast<uint16_t>(entries.size()));
    for (const RawEntry& e : entries) {
        out += Le16(e.tag) + Le16(e.type) + Le32(e.count);
        if (e.offset) {
            out += Le32(*e.offset);
        } else if (e.value.size() <= 4) {
            out += e.value + std::string(4 - e.value.size(), '\0');
        } else {
            out += Le32(valuesOffset + static_cast<uint32_t>(values.size()));
            values += e.value;
            values.resize(values.size() + values.size() % 2, '\0');
        }
    }
    return out + Le32(0) + values;
}

// A JPEG file as libjpeg writes it, of rows of the value 128.
struct JpegRecipe {
    J_COLOR_SPACE input = JCS_RGB;
    int components = 3;
    J_COLOR_SPACE stored = JCS_YCbCr;
    bool jfif = true;
    UINT8 unit = 1;
    UINT16 xDensity = 72, yDensity = 72;
    JDIMENSION width = 24, height = 16;
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
    if (recipe.progressive)
        jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(static_cast<std::size_t>(recipe.width) * recipe.components, 128);
    for (JSAMPROW rows[1] = {row.data()}; cinfo.next_scanline < cinfo.image_height;)
        jpeg_write_scanlines(&cinfo, rows, 1);
    jpeg_finish_compress(&cinfo);
    std::string bytes(reinterpret_cast<const char*>(buffer), size);
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return bytes;
}

} // namespace

TEST(TiffReaderPages, ProxySourceImageLyingTagsSizeResolutionPixelTypeAndProcessingCount) {
    // Columns, resolution and unit of the page itself, then the source's name, size and resolution.
    // With mixed pairs the largest columns and rows come from different pairs; the last row has
    // four of the eight name bytes and more bytes after the name.
    const uint16_t in = RESUNIT_INCH, cm = RESUNIT_CENTIMETER, unitless = RESUNIT_NONE;
    const std::string c = "C:\\Images\\source.tif", v = "/Volumes/Images/a.tif";
    using Case = std::tuple<const char*, std::string, uint32_t, float, uint16_t, std::string,
                            uint32_t, uint32_t, float>;
    const Case cases[] = {
        {"two sizes", ZpaxTag({{1000, 800}, {4000, 3000}}, c), 1000, 300, in, c, 4000, 3000, 1200},
        {"mixed pairs", ZpaxTag({{4000, 800}, {1000, 3000}}, v), 500, 100, in, v, 4000, 3000, 800},
        {"centimetres", ZpaxTag({{2000, 1000}}, "n"), 500, 100, cm, "n", 2000, 1000, 1016},
        {"unit none", ZpaxTag({{2000, 1000}}, "n"), 1000, 50, unitless, "n", 2000, 1000, 100},
        {"smaller source", ZpaxTag({{250, 100}}, "n"), 1000, 400, in, "n", 250, 100, 100},
        {"no pairs", ZpaxTag({}, "n"), 1000, 300, in, "n", 0, 0, 0},
        {"empty name", ZpaxTag({{10, 10}}, ""), 10, 72, in, "", 10, 10, 72},
        {"name stops at its length", ZpaxTag({{100, 50}}, "/a/b.tif", std::nullopt, 4) + "trail",
         20, 300, in, "/a/b", 100, 50, 1500}};
    for (const auto& [what, tag, ownWidth, xResolution, unit, name, width, height, resolution] :
         cases) {
        SCOPED_TRACE(what);
        const TiffPage page{
            .width = ownWidth, .xResolution = xResolution, .unit = unit, .zpax = tag};
        EXPECT_EQ(Facts(InspectPage(page, true)),
                  Facts(0x101, width, height, resolution, 0x2101, 3, 8, -1, &name));
    }
    const std::string good = ZpaxTag({{1000, 800}, {4000, 3000}}, "/src/a.tif");
    // Proxy tags (first) and processing marks that lie, each refused with -11.
    const std::tuple<const char*, std::string, bool> lies[] = {
        {"wrong marker", "KRYX" + good.substr(4), true},
        {"three bytes", "KRY", true},
        {"marker only", "KRYO", true},
        {"no pair count", good.substr(0, 11), true},
        {"pair count one too many", ZpaxTag({{1000, 800}, {4000, 3000}}, "/a.tif", 3), true},
        {"pair count whose bytes wrap 32 bits", ZpaxTag({{1, 1}}, "", 0x20000000), true},
        {"largest pair count", ZpaxTag({{1, 1}}, "n", 0xFFFFFFFF), true},
        {"pairs cut", good.substr(0, 12 + 8 + 3), true},
        {"no name length", good.substr(0, 12 + 16), true},
        {"name length one too many", ZpaxTag({{1, 1}}, "abc", std::nullopt, 4), true},
        {"name length that wraps", ZpaxTag({{1, 1}}, "abc", std::nullopt, 0xFFFFFFF0), true},
        {"largest name length", ZpaxTag({}, "abc", std::nullopt, 0xFFFFFFFF), true},
        {"name cut", good.substr(0, good.size() - 1), true},
        {"mark: wrong marker", "KRYX\x7f\x7f\x02\x01"s + "2", false},
        {"mark: marker only", "KRYO", false},
        {"mark: no length byte", ProcOptTag(2, 1, "2").substr(0, 7), false},
        {"mark: length beyond the tag", ProcOptTag(2, 5, "2ab"), false},
        {"mark: longest length, short text", ProcOptTag(2, 127, "2"), false}};
    for (const auto& [what, tag, proxy] : lies)
        EXPECT_EQ(InspectPage(proxy ? TiffPage{.zpax = tag} : TiffPage{.procOpt = tag}).code, -11)
            << what;
    const uint16_t gray = PHOTOMETRIC_MINISBLACK, white = PHOTOMETRIC_MINISWHITE,
                   cmyk = PHOTOMETRIC_SEPARATED, pal = PHOTOMETRIC_PALETTE, mask = PHOTOMETRIC_MASK;
    const std::string zpax = ZpaxTag({{10, 10}}, "n");
    // Plain pages and proxies of pixels the reader does not take, the pixel
    // type (0: rejected with the code) and the resolution.
    const std::tuple<const char*, TiffPage, uint32_t, int, float> plain[] = {
        {"gray 8", {.samples = 1, .photometric = gray}, 0x280A, 0, 300},
        {"gray 16 min-is-white", {.bits = 16, .samples = 1, .photometric = white}, 0x000A, 0, 300},
        {"gray 32", {.bits = 32, .samples = 1, .photometric = gray}, 0x270A, 0, 300},
        {"gray and alpha", {.samples = 2, .photometric = gray}, 0x208A, 0, 300},
        {"RGB 8", {}, 0x2101, 0, 300},
        {"RGB 16", {.bits = 16}, 0x2901, 0, 300},
        {"RGB and alpha", {.samples = 4}, 0x0881, 0, 300},
        {"RGB and two extra", {.samples = 5}, 0x0881, 0, 300},
        {"RGB 16 and alpha", {.bits = 16, .samples = 4}, 0x2981, 0, 300},
        {"YCbCr", {.photometric = PHOTOMETRIC_YCBCR}, 0x2101, 0, 300},
        {"palette 8", {.samples = 1, .photometric = pal}, 0x0010, 0, 300},
        {"palette 4", {.bits = 4, .samples = 1, .photometric = pal}, 0x0010, 0, 300},
        {"CMYK 8", {.samples = 4, .photometric = cmyk}, 0x0802, 0, 300},
        {"CMYK 16", {.bits = 16, .samples = 4, .photometric = cmyk}, 0x2A02, 0, 300},
        {"CMYK and alpha", {.samples = 5, .photometric = cmyk}, 0x0882, 0, 300},
        {"Lab 8", {.photometric = PHOTOMETRIC_CIELAB}, 0x2108, 0, 300},
        {"Lab and alpha", {.samples = 4, .photometric = PHOTOMETRIC_CIELAB}, 0, -1, 300},
        {"bilevel", {.bits = 1, .samples = 1, .photometric = gray}, 0, -1, 300},
        {"gray 4", {.bits = 4, .samples = 1, .photometric = white}, 0, -1, 300},
        {"transparency mask", {.bits = 1, .samples = 1, .photometric = mask}, 0, -11, 300},
        {"mask proxy", {.bits = 1, .samples = 1, .photometric = mask, .zpax = zpax}, 0, -11, 0},
        {"bilevel proxy", {.bits = 1, .samples = 1, .photometric = gray, .zpax = zpax}, 0, -1, 0},
        {"ICC Lab", {.photometric = PHOTOMETRIC_ICCLAB}, 0, -11, 300},
        {"ITU Lab", {.photometric = PHOTOMETRIC_ITULAB}, 0, -11, 300},
        {"centimetres", {.xResolution = 100.0f, .unit = cm}, 0x2101, 0, 254},
        {"unit none", {.xResolution = 100.0f, .unit = RESUNIT_NONE}, 0x2101, 0, 100},
        {"no unit: inches", {.xResolution = 100.0f, .unit = std::nullopt}, 0x2101, 0, 100},
        {"no resolution", {.xResolution = std::nullopt}, 0x2101, 0, 72},
        {"no resolution, centimetres", {.xResolution = {}, .unit = cm}, 0x2101, 0, 182.88f},
        {"resolution 0", {.xResolution = 0.0f}, 0x2101, 0, 0}};
    for (const auto& [what, page, pixelType, code, resolution] : plain)
        EXPECT_EQ(Facts(InspectPage(page)),
                  code != 0 ? "refused with " + std::to_string(code)
                            : Facts(0x100, 20, 10, resolution, pixelType, page.samples, page.bits))
            << what;
    const std::nullopt_t none = std::nullopt;
    // While the mark is there the description ("5 passes") is never looked
    // at; the mark's count and text as the reader sees them in the comments.
    using Text = std::optional<std::string>;
    const std::tuple<const char*, Text, Text, Text, int> marks[] = {
        {"text is the count", ProcOptTag(2, 1, "2"), "5 passes", none, 2},
        {"text is not the count", ProcOptTag(3, 1, "x"), "5 passes", none, 3},          // "3 x"
        {"text names another count", ProcOptTag(5, 1, "7"), "5 passes", none, 5},       // "5 7"
        {"two-digit count", ProcOptTag(12, 1, "x"), "5 passes", none, 1},               // "12 x"
        {"negative count", ProcOptTag(-1, 1, "x"), "5 passes", none, -1},               // "-1 x"
        {"zero count, NUL text", ProcOptTag(0, 1, std::string(1, '\0')), "5", none, 0}, // "0 "
        {"longer text", ProcOptTag(4, 3, "4ab"), "5 passes", none, 4},
        {"longest text", ProcOptTag(9, 127, "9" + std::string(126, 'z')), "5 passes", none, 9},
        {"no text", ProcOptTag(6, 0, ""), "5 passes", none, -1},
        {"negative length", ProcOptTag(6, -5, "6abcd"), "5 passes", none, -1},
        {"text longer than its length", ProcOptTag(8, 1, "8xyz"), "5 passes", none, 8},
        {"description with a digit", none, "1 pass", none, 1},
        {"model replaces it", none, "1 pass", "Scanner 9", -1},
        {"digit in the model", none, "scanned", "7", 7},
        {"digit in both", none, "3", "8", 8},
        {"empty model replaces", none, "2", "", -1},
        {"neither", none, none, none, -1},
        {"no digit first", none, " 1", none, -1},
        {"long description", none, "6" + std::string(400, 'q'), none, 6}};
    for (const auto& [what, procOpt, description, model, count] : marks)
        EXPECT_EQ(
            Facts(InspectPage({.description = description, .model = model, .procOpt = procOpt})),
            Facts(0x100, 20, 10, 300, 0x2101, 3, 8, count))
            << what;
}

TEST(TiffJpegFiles, NotOpenableAndCloseIsHarmlessAndTheHandleNeverLeaks) {
    const std::string raw = RawTiff(GrayEntries(4, 4));
    std::string lyingCount = raw, lyingOffset = raw;
    lyingCount[10] = '\x40'; // 64 entries claimed, 9 there
    lyingOffset[4] = '\x70'; // directory beyond the end
    const std::pair<const char*, std::string> files[] = {
        {"empty.tif", ""},
        {"text.tif", "This is not an image at all.\n"},
        {"header-only.tif", "II*\0"s},
        {"motorola-header-only.tif", "MM\0*\0\0\0\x08"s},
        {"jpeg.jpg", JpegBytes({})},
        {"cut-directory.tif", raw.substr(0, 20)},
        {"lying-entry-count.tif", lyingCount},
        {"directory-beyond-end.tif", lyingOffset}};
    for (const auto& [name, bytes] : files)
        EXPECT_EQ(InspectBytes<Proxy_TIFF>(bytes).code, -4) << name;
    EXPECT_EQ(Inspect<Proxy_TIFF>(TempDir().Path()).code, -4); // a folder
    // BigTIFF is refused, the same page in a classic TIFF read (below).
    EXPECT_EQ(InspectBytes<Proxy_TIFF>(TiffBytes({}, "w8")).code, -4);

    // The JPEG and the classic TIFF, and files each reader refuses.
    ExpectCloseHarmlessAndNoLeak<Proxy_JPEG>(JpegBytes({}), 0x400u, {"\xFF\xD8\xFF\xD9"});
    const TiffPage mask{.bits = 1, .samples = 1, .photometric = PHOTOMETRIC_MASK};
    ExpectCloseHarmlessAndNoLeak<Proxy_TIFF>(TiffBytes({}), 0x100u,
                                             {TiffBytes(mask), TiffBytes({.zpax = "KRYO"})});
}

// Whether libtiff, with the reader's 4 MB limit on one value, keeps the description.
static bool LibtiffKeepsTheDescription(const std::string& path) {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, 4 * 1024 * 1024);
    TIFF* tif = TIFFOpenExt(path.c_str(), "rmDc", options);
    TIFFOpenOptionsFree(options);
    char* text = nullptr;
    const bool kept = tif && TIFFGetField(tif, TIFFTAG_IMAGEDESCRIPTION, &text) == 1 && text;
    if (tif)
        TIFFClose(tif);
    return kept;
}

TEST(TiffReaderFiles, EveryCutAndDamagedByteIsHandledAndValuesUpToTheLimitAreRead) {
    std::vector<RawEntry> entries = GrayEntries(64, 32);
    for (const auto& [tag, type, value] :
         {std::tuple<uint16_t, uint16_t, std::string>{
              kTiffTagZpaxOpt, TIFF_BYTE, ZpaxTag({{640, 320}, {1280, 640}}, "/src/a.tif")},
          {kTiffTagProcOpt, TIFF_BYTE, ProcOptTag(2, 3, "2ab")},
          {kTiffTagOpiImageId, TIFF_ASCII, "/hires/a.tif\0"s},
          {TIFFTAG_IMAGEDESCRIPTION, TIFF_ASCII, "7 passes\0"s}})
        entries.push_back({tag, type, static_cast<uint32_t>(value.size()), value});
    entries.push_back({TIFFTAG_XRESOLUTION, TIFF_RATIONAL, 1, Le32(300) + Le32(1)});
    const std::string whole = RawTiff(entries);
    const Inspected full = InspectBytes<Proxy_TIFF>(whole);
    EXPECT_EQ(Facts(full),
              Facts(0x101, 1280, 640, 6000, full.info.pixelType, 1, 8, 2, &full.linkedName));
    EXPECT_EQ(full.linkedName, "/src/a.tif");
    // A proxy is only ever reported with its whole tag.
    ExpectEveryCutAndDamageHandled<Proxy_TIFF>(
        whole, whole.size(), {0, -1, -4, -11}, [](std::size_t, const Inspected& r) {
            if (r.code == 0 && r.formatCode == 0x101) {
                EXPECT_EQ(std::pair(r.info.width, r.linkedName), std::pair(1280u, "/src/a.tif"s));
            }
        });
    // The description's first digit is the processing count. A description
    // of 2 MB is read like a short one; one beyond 4 MB is dropped and the
    // count stays unknown; so is Photoshop's layer data beside either.
    const uint32_t mb = 1024 * 1024;
    const std::tuple<const char*, std::size_t, std::size_t, int> cases[] = {
        {"short.tif", 10, 0, 7},
        {"two-megabytes.tif", 2 * mb, 0, 7},
        {"at-the-limit.tif", 4 * mb, 0, 7},
        {"past-the-limit.tif", 4 * mb + 1, 0, -1},
        {"two-megabytes-and-layers.tif", 2 * mb, 6 * mb, 7},
        {"short-and-layers.tif", 10, 48 * mb, 7}};
    TempDir dir;
    auto expectCount = [](const std::string& path, int processCount) {
        SCOPED_TRACE(path);
        EXPECT_EQ(Inspect<Proxy_TIFF>(path).processCount, processCount);
        // libtiff draws the same line
        EXPECT_EQ(LibtiffKeepsTheDescription(path), processCount != -1);
        ExpectAlikeEveryWay<Proxy_TIFF>(path);
    };
    for (const auto& [name, descriptionBytes, layerBytes, processCount] : cases) {
        // The description's bytes count its NUL.
        WriteTiffPage(
            dir / name,
            {.description = "7" + std::string(descriptionBytes - 2, 'd'),
             .layers = layerBytes ? std::optional(std::string(layerBytes, 'L')) : std::nullopt});
        expectCount(dir / name, processCount);
    }
    // A description of 2 MB and layer data of 5 MB that begins with it: the
    // layer data is dropped, the description read.
    std::vector<RawEntry> sharing = GrayEntries(4, 4);
    const uint32_t shared = static_cast<uint32_t>(RawTiff(sharing).size()) + 2 * 12 + 16;
    sharing.push_back({TIFFTAG_IMAGEDESCRIPTION, TIFF_ASCII, 2 * mb, "", shared});
    sharing.push_back({TIFFTAG_IMAGESOURCEDATA, TIFF_UNDEFINED, 5 * mb, "", shared});
    std::string bytes = RawTiff(sharing);
    ASSERT_LE(bytes.size(), shared);
    bytes.resize(shared, '\0');
    WriteFresh(dir / "shared.tif", bytes + "3 passes!"s + '\0' + std::string(5 * mb, 'L'));
    expectCount(dir / "shared.tif", 3);
}

TEST(JpegReaderHeader, ColourSpacesDensitiesDamagedHeadersAndEveryCut) {
    // The recipe, then the pixel type (0: rejected with -11), samples and resolution.
    const J_COLOR_SPACE rgb = JCS_RGB, ycc = JCS_YCbCr, cmyk = JCS_CMYK;
    const std::tuple<const char*, JpegRecipe, uint32_t, int16_t, float> cases[] = {
        {"gray", {JCS_GRAYSCALE, 1, JCS_GRAYSCALE, true, 1, 100}, 0x280A, 1, 100},
        {"YCbCr", {rgb, 3, ycc, true, 1, 300}, 0x2101, 3, 300},
        {"RGB", {rgb, 3, rgb, false, 0, 1}, 0x2101, 3, 72},
        {"CMYK", {cmyk, 4, cmyk, false, 0, 1}, 0x0802, 4, 72},
        {"CMYK with JFIF", {cmyk, 4, cmyk, true, 1, 200}, 0x0802, 4, 200},
        {"YCCK", {cmyk, 4, JCS_YCCK, false, 0, 1}, 0x0802, 4, 72},
        {"two components", {JCS_UNKNOWN, 2, JCS_UNKNOWN, false, 0, 1}, 0, 0, 0},
        {"unit 0", {rgb, 3, ycc, true, 0, 100}, 0x2101, 3, 72},
        {"unit 1, density 10", {rgb, 3, ycc, true, 1, 10}, 0x2101, 3, 72},
        {"unit 1, density 16", {rgb, 3, ycc, true, 1, 16}, 0x2101, 3, 72},
        {"unit 1, density 17", {rgb, 3, ycc, true, 1, 17}, 0x2101, 3, 17},
        {"unit 1, X density only", {rgb, 3, ycc, true, 1, 300, 150}, 0x2101, 3, 300},
        {"unit 2, density 6", {rgb, 3, ycc, true, 2, 6}, 0x2101, 3, 72},
        {"unit 2, density 7", {rgb, 3, ycc, true, 2, 7}, 0x2101, 3, 17.78f},
        {"unit 3 taken as it is", {rgb, 3, ycc, true, 3, 200}, 0x2101, 3, 200},
        {"no JFIF marker", {rgb, 3, ycc, false, 1, 300}, 0x2101, 3, 72},
        {"progressive and wide", {.width = 3000, .height = 7, .progressive = true}, 0x2101, 3, 72}};
    for (const auto& [what, recipe, pixelType, samples, resolution] : cases)
        EXPECT_EQ(Facts(InspectBytes<Proxy_JPEG>(JpegBytes(recipe))),
                  pixelType == 0 ? "refused with -11"
                                 : Facts(0x400, recipe.width, recipe.height, resolution, pixelType,
                                         samples, 0))
            << what;
    const std::string good = JpegBytes({}), whole = JpegBytes({.unit = 2, .xDensity = 118});
    const std::size_t sof = good.find("\xFF\xC0");
    ASSERT_NE(sof, std::string::npos);
    // The bytes at the offsets from the frame header set to the values.
    auto changed = [&](std::initializer_list<std::pair<std::size_t, char>> bytes) {
        std::string s = good;
        for (const auto& [at, value] : bytes)
            s[sof + at] = value;
        return s;
    };
    const std::pair<const char*, std::string> damaged[] = {
        {"tables only", "\xFF\xD8\xFF\xD9"},
        {"text", "JFIF? no, just text\n"},
        {"TIFF", "II*\0\x08\0\0\0"s},
        {"12-bit samples", changed({{4, 12}})},
        {"width 0", changed({{7, 0}, {8, 0}})},
        {"no components", changed({{9, 0}})},
        {"no frame header", changed({{1, '\xEF'}})}}; // the frame header becomes APP15
    for (const auto& [what, bytes] : damaged)
        EXPECT_EQ(InspectBytes<Proxy_JPEG>(bytes).code, -11) << what;
    // Where the scan header (SOS) ends, and where the identifier of its last
    // component ends: libjpeg checks the rest of the segment (table selectors,
    // spectral selection, approximation) only when decoding starts.
    const std::size_t sos = whole.find("\xFF\xDA");
    ASSERT_NE(sos, std::string::npos);
    const std::size_t scanEnd = sos + 2 + (uint8_t(whole[sos + 2]) << 8 | uint8_t(whole[sos + 3]));
    const std::size_t lastComponentEnd = sos + 5 + 2 * uint8_t(whole[sos + 4]) - 1;
    ASSERT_EQ(scanEnd - lastComponentEnd, 4u); // a table selector and three scan bytes
    // Every cut before the scan's components is rejected (the empty file and the start-of-image
    // marker alone too), every later one read (unit 2, density 118 whole).
    ExpectEveryCutAndDamageHandled<Proxy_JPEG>(
        whole, scanEnd, {0, -1, -11}, [&](std::size_t n, const Inspected& r) {
            EXPECT_EQ(Facts(r), n < lastComponentEnd ? "refused with -11"
                                                     : Facts(0x400, 24, 16, 299.72, 0x2101, 3, 0));
        });
}
