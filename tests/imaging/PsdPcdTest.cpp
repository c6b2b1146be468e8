#include "IMG_File.h"
#include "Proxy_PCD.h"
#include "Proxy_PSD.h"
#include "ReaderRuns.h"

#include <cstdint>
#include <optional>
#include <tuple>

// The Photoshop reader refuses some modes and channel counts with a plain integer.
template <> inline constexpr bool kMayThrowPlainInt<Proxy_PSD> = true;

namespace {

using namespace std::string_literals;

// One image-resource entry, name and data padded to even sizes (the data's
// pad byte left out when pad is false).
std::string Resource(uint16_t id, const std::string& name, const std::string& data,
                     const std::string& signature = "8BIM", bool pad = true) {
    std::string out = signature + Be16(id) + static_cast<char>(name.size()) + name;
    out.resize(out.size() + (1 + name.size()) % 2, '\0');
    out += Be32(static_cast<uint32_t>(data.size())) + data;
    out.resize(out.size() + (pad ? data.size() % 2 : 0), '\0');
    return out;
}

// Resolution information: 16.16 fixed and its units, horizontally then vertically.
std::string ResolutionData(uint32_t fixed) {
    return Be32(fixed) + Be16(1) + Be16(2) + Be32(fixed) + Be16(1) + Be16(2);
}
std::string ResolutionEntry(uint32_t fixed) {
    return Resource(1005, "", ResolutionData(fixed));
}

// A Photoshop document laid out field by field; the optional lengths replace
// the true ones to make a header lie.
struct Psd {
    std::string signature = "8BPS";
    uint16_t version = 1, channels = 3;
    uint32_t rows = 2, columns = 3;
    uint16_t depth = 8, mode = 3;
    std::string colourData{};
    std::optional<uint32_t> colourLength{};
    std::string resources = Resource(1033, "", "thumb") + ResolutionEntry(300u << 16);
    std::optional<uint32_t> resourceLength{};
    std::string layerSection = Be32(0) + Be32(0); // layer-info and global mask lengths 0
    std::optional<uint32_t> layerLength{};
    uint16_t compression = 0;
    std::string afterCompression{}; // row byte counts and image data

    std::size_t CompressionOffset() const {
        return 26 + 4 + colourData.size() + 4 + resources.size() + 4 + layerSection.size();
    }
    std::string Bytes() const {
        auto block = [](const std::string& s, std::optional<uint32_t> length) {
            return Be32(length.value_or(static_cast<uint32_t>(s.size()))) + s;
        };
        return signature + Be16(version) + std::string(6, '\0') + Be16(channels) + Be32(rows) +
               Be32(columns) + Be16(depth) + Be16(mode) + block(colourData, colourLength) +
               block(resources, resourceLength) + block(layerSection, layerLength) +
               Be16(compression) + afterCompression;
    }
};

// A run-length document: a byte count per row of every channel, rows of two bytes.
Psd RunLength(Psd p) {
    std::string counts, data;
    for (uint32_t i = 0; i < uint32_t{p.channels} * p.rows; ++i)
        counts += Be16(2), data += std::string("\x02\x00", 2);
    p.compression = 1;
    p.afterCompression = counts + data;
    return p;
}

// A Photo CD pack: anything up to byte 2048, the signature, then more.
std::string PhotoCd(const std::string& signature = "PCD_IPI", std::size_t tail = 2000) {
    return Pattern(2048) + signature + std::string(tail, '\xA5');
}

// ReadFileHeader on the bytes, which are written to a file first.
bool ReadHeader(const TempDir& dir, const std::string& bytes, IMG_FilePsd& file) {
    WriteFresh(dir / "doc.psd", bytes);
    file.Open((dir / "doc.psd").c_str(), "rb");
    return file.ReadFileHeader();
}

TEST(PsdFileHeader, ReadsFieldsBlocksAndPositionsAndChecksEveryFieldLengthAndCut) {
    // A layer section shorter than its layer-info fields ("empty section"): they are read from the
    // compression and the data, and the image data still starts right after the section.
    const std::string threes(20, '3');
    const std::tuple<const char*, int16_t, uint32_t, Psd> readable[] = {
        {"raw RGB", 0, 0, Psd{}},
        {"run-length RGB", 0, 0, RunLength(Psd{})},
        {"indexed", 0, 0, {.channels = 1, .mode = 2, .colourData = std::string(768, 1)}},
        {"duotone with its data", 0, 0, {.mode = 8, .colourData = "duotone curves"}},
        {"layer count -1", -1, 2, RunLength({.layerSection = Be32(2) + Be16(0xFFFF) + Be32(0)})},
        {"empty section", 0x3333, 0x3333, {.layerSection = "", .afterCompression = threes}},
        {"layers skipped by length", 3, 12,
         RunLength({.layerSection = Be32(12) + Be16(3) + std::string(300, 'U')})}};
    TempDir dir;
    for (const auto& [what, layerCount, layerInfoLength, doc] : readable) {
        SCOPED_TRACE(what);
        IMG_FilePsd file;
        ASSERT_TRUE(ReadHeader(dir, doc.Bytes(), file));
        EXPECT_EQ(
            std::tuple(file.Channels(), file.Rows(), file.Columns(), file.Depth(), file.Mode(),
                       file.Compression()),
            std::tuple(doc.channels, doc.rows, doc.columns, doc.depth, doc.mode, doc.compression));
        // The resource section is found in place, not copied.
        const auto colour = file.ColourModeData();
        const std::size_t resources = 26 + 4 + doc.colourData.size() + 4;
        EXPECT_EQ(std::tuple(std::string(colour.begin(), colour.end()), file.ResourcesOffset(),
                             doc.Bytes().substr(resources, file.ResourcesLength())),
                  std::tuple(doc.colourData, static_cast<int64_t>(resources), doc.resources));
        const int64_t counts = static_cast<int64_t>(doc.CompressionOffset()) + 2;
        EXPECT_EQ(
            std::tuple(file.LayerAndMaskLength(), file.LayerInfoLength(), file.LayerCount(),
                       file.FirstExtraChannelIsTransparency(), file.RowCountsOffset(),
                       file.ImageDataOffset()),
            std::tuple(doc.layerSection.size(), layerInfoLength, layerCount, layerCount < 0, counts,
                       counts + (doc.compression == 1 ? int64_t{doc.channels} * doc.rows * 2 : 0)));
    }
    // The lies are told in a run-length RGB document (layer section of 8
    // bytes, 12 of row counts and 12 of data).
    const std::string rle = RunLength(Psd{}).afterCompression;
    const uint32_t resources = static_cast<uint32_t>(Psd{}.resources.size());
    std::vector<std::tuple<std::string, bool, Psd>> cases = {
        {"signature 8BPB", false, {.signature = "8BPB"}},
        {"signature lower case", false, {.signature = "8bps"}},
        {"version 0", false, {.version = 0}},
        {"version 2 (large document)", false, {.version = 2}},
        {"empty resources", true, {.resources = ""}},
        {"no layer-info bytes at all", false, {.layerSection = ""}},
        {"colour-mode length 4 GiB - 1", false,
         RunLength({.mode = 2, .colourData = "pal", .colourLength = 0xFFFFFFFF})},
        {"colour-mode length one past the end", false,
         Psd{.mode = 2, .colourLength = 4 + resources + 4 + 8 + 2 + 1, .compression = 1}},
        {"resource length 4 GiB - 16", false, RunLength({.resourceLength = 0xFFFFFFF0})},
        {"resource length 2 GiB", false, RunLength({.resourceLength = 0x80000000})},
        {"resource length past the end", false,
         RunLength({.resourceLength = resources + 4 + 8 + 2 + 24 + 1})},
        {"layer-and-mask length 4 GiB - 1", false, RunLength({.layerLength = 0xFFFFFFFF})},
        {"layer length to the end, no compression", false, RunLength({.layerLength = 8 + 2 + 24})},
        {"layer-and-mask length to the last two bytes", true,
         Psd{.layerLength = 8 + 10, .afterCompression = std::string(10, '\0')}},
        {"row counts for 4 billion rows", false,
         Psd{.rows = 0xFFFFFFFF, .compression = 1, .afterCompression = rle}},
        {"row counts for 65535 channels of 4 billion rows", false,
         Psd{.channels = 0xFFFF, .rows = 0xFFFFFFFF, .compression = 1, .afterCompression = rle}},
        {"one row count short", false, {.compression = 1, .afterCompression = rle.substr(0, 11)}},
        {"row counts to the end", true, {.compression = 1, .afterCompression = rle.substr(0, 12)}},
        {"uncompressed data absent: unchecked", true, {.rows = 0xFFFFFFFF}}};
    for (uint16_t depth : {0, 1, 2, 4, 8, 15, 16, 32})
        cases.push_back({"depth " + std::to_string(depth), depth == 1 || depth == 8 || depth == 16,
                         Psd{.depth = depth}});
    for (uint16_t mode = 0; mode <= 12; ++mode) {
        cases.push_back({"mode " + std::to_string(mode), mode <= 4 || (mode >= 7 && mode <= 9),
                         Psd{.mode = mode}});
        // Colour-mode data belongs to indexed and duotone documents only.
        cases.push_back({"colour-mode data, mode " + std::to_string(mode), mode == 2 || mode == 8,
                         Psd{.mode = mode, .colourData = "abc"}});
    }
    for (uint16_t method : {0, 1, 2, 3, 0x100})
        cases.push_back({"compression " + std::to_string(method), method == 0 || method == 1,
                         Psd{.compression = method, .afterCompression = rle}});
    for (const auto& [what, accepted, doc] : cases) {
        SCOPED_TRACE(what);
        IMG_FilePsd file;
        EXPECT_EQ(ReadHeader(dir, doc.Bytes(), file), accepted);
        // Through the reader the same lie is "not this format", never a plain integer.
        const Inspected r = InspectBytes<Proxy_PSD>(doc.Bytes());
        EXPECT_TRUE(accepted || (r.code == -11 && !r.plainInt)) << r.code;
    }
    Psd doc = RunLength(
        {.channels = 5, .mode = 4, .layerSection = Be32(6) + Be16(0xFFFE) + std::string(17, '"')});
    const std::string bytes = doc.Bytes();
    // The header ends with the row byte counts; the image data is not needed.
    const std::size_t needed = doc.CompressionOffset() + 2 + doc.channels * doc.rows * 2;
    ExpectEveryCutAndDamageHandled<Proxy_PSD>(
        bytes, 0, {0, -11}, [&](std::size_t size, const Inspected& r) {
            IMG_FilePsd file;
            EXPECT_EQ(ReadHeader(dir, bytes.substr(0, size), file), size >= needed);
            EXPECT_EQ(std::tuple(r.code, r.plainInt, r.info.pixelType),
                      std::tuple(size >= needed ? 0 : -11, false, size >= needed ? 0x0882u : 0u));
        });
}

TEST(PsdFile, FileReaderAndBaseClassOpenAndCloseSafely) {
    TempDir dir;
    const std::string path = dir / "doc.psd";
    WriteFile(path, Psd{}.Bytes());
    IMG_FilePsd file;
    EXPECT_EQ(file.GetOpenState(), IMG_File::kClosed);
    EXPECT_FALSE(file.ReadFileHeader()); // nothing open
    file.Close();                        // nothing open: harmless
    file.Open(path.c_str(), "rb");
    EXPECT_EQ(std::tuple(file.GetOpenState(), std::string(file.GetName()), file.CanWrite()),
              std::tuple(IMG_File::kOpenRead, path, false));
    EXPECT_TRUE(file.ReadFileHeader());
    EXPECT_TRUE(file.ReadFileHeader()); // again from the start
    EXPECT_EQ(file.Columns(), 3u);
    file.Close();
    EXPECT_EQ(std::tuple(file.GetOpenState(), file.ResourcesLength()),
              std::tuple(IMG_File::kClosed, 0u));
    file.Close();
    EXPECT_FALSE(file.ReadFileHeader());
    // A folder opens (code 0) but cannot be read as a document.
    const std::tuple<std::string, const char*, int> failures[] = {
        {dir / "missing.psd", "rb", -2}, {dir.Path(), "rb", 0}, {path, "wb", -26}, {path, "", -2}};
    for (const auto& [name, mode, code] : failures) {
        IMG_FilePsd other;
        EXPECT_EQ(ThrownCode([&] { other.Open(name.c_str(), mode); }), code) << name << " " << mode;
        EXPECT_TRUE(code == 0 ? !other.ReadFileHeader()
                              : other.GetOpenState() == IMG_File::kClosed);
    }
    // Opening for writing must not have touched the document.
    EXPECT_EQ(ReadFile(path), Psd{}.Bytes());
    uint8_t row[4];
    EXPECT_EQ(ThrownCode([&] { file.ReadChannelRows(0, row, sizeof row); }), -26);
    // The reader alike.
    ExpectCloseHarmlessAndNoLeak<Proxy_PSD>(Psd{}.Bytes(), 0x1000u, {Psd{.mode = 7}.Bytes()});
    IMG_File base; // no format: nothing it can do
    EXPECT_EQ(ThrownCode([&] { base.Open("x", "rb"); }), -26);
    EXPECT_EQ(ThrownCode([&] { base.Close(); }), -26);
    EXPECT_EQ(ThrownCode([&] { base.WriteFileHeader(); }), -26);
    EXPECT_EQ(base.GetName(), nullptr);
    std::string name = "first name";
    base.SetName(name.c_str());
    name[0] = 'X'; // the stored name is a copy
    EXPECT_STREQ(base.GetName(), "first name");
    base.SetName(nullptr);
    EXPECT_EQ(base.GetName(), nullptr);
}

TEST(PsdReader, ReportsSizeChannelsPixelTypeAndResolution) {
    const std::tuple<uint16_t, uint16_t, uint32_t> kinds[] = {
        {1, 1, 0x280A}, {1, 2, 0x208A}, {1, 3, 0x208A}, {3, 3, 0x2101}, {3, 4, 0x0881},
        {3, 7, 0x0881}, {4, 4, 0x0802}, {4, 5, 0x0882}, {4, 9, 0x0882}};
    for (const auto& [mode, channels, pixelType] : kinds) {
        SCOPED_TRACE("mode " + std::to_string(mode) + " channels " + std::to_string(channels));
        const Inspected r = InspectBytes<Proxy_PSD>(
            RunLength({.channels = channels, .rows = 1234, .columns = 0x00FEDCBA, .mode = mode})
                .Bytes());
        EXPECT_EQ(r.info.resolution, 300.0f);
        EXPECT_EQ(Facts(r), Facts(0x1000, 0x00FEDCBA, 1234, 300, pixelType, channels, 0));
    }
    const std::string other = Resource(1036, "", "thumbnail");
    auto ppi = [](uint32_t n) { return ResolutionEntry(n << 16); };
    const std::string entry = ppi(300);
    const std::string mask = Be32(0) + Be32(0);
    // Names: a length byte and characters padded to an even count. In the last row the 1005 data
    // lies in the file right after the block, but the block ends inside the entry: it is not read.
    const std::tuple<const char*, std::string, float> cases[] = {
        {"300 ppi", entry, 300.0f},
        {"fraction 0x8000", ResolutionEntry((300u << 16) | 0x8000), 300.5f},
        {"GIMP's 118.11", ResolutionEntry(0x00761C29), 118.11f},
        {"largest integer part", ResolutionEntry(0xFFFF0000), 65535.0f},
        {"after other entries", other + Resource(1010, "", "") + ppi(600), 600.0f},
        {"first 1005 wins", ppi(150) + ppi(600), 150.0f},
        {"no 1005", other + Resource(1004, "", "ab"), 72.0f},
        {"empty block", "", 72.0f},
        {"1-character name, no pad", Resource(1000, "a", "xy") + ppi(200), 200.0f},
        {"2-character name, padded", Resource(1000, "ab", "xy") + ppi(200), 200.0f},
        {"name on the 1005 entry", Resource(1005, "res", ResolutionData(240u << 16)), 240.0f},
        {"odd data size padded", Resource(1000, "", "odd") + ppi(250), 250.0f},
        {"last entry, no pad byte",
         other + Resource(1005, "", ResolutionData(400u << 16) + "x", "8BIM", false), 400.0f},
        {"odd last entry, no pad byte", other + Resource(1000, "", "odd", "8BIM", false), 72.0f},
        {"4-byte 1005 entry", Resource(1005, "", Be32(96u << 16)), 96.0f},
        {"1005 shorter than 4 bytes", Resource(1005, "", "abc") + ppi(9), 72.0f},
        {"other signature stops the walk", Resource(1000, "", "xy", "MeSa") + entry, 72.0f},
        {"stray bytes stop the walk", "8BIX" + entry, 72.0f},
        {"entry size past the block",
         Resource(1000, "", "xy").substr(0, 8) + Be32(0x7FFFFFFF) + entry, 72.0f},
        {"entry size 4 GiB - 1", "8BIM" + Be16(1000) + Be16(0) + Be32(0xFFFFFFFF) + entry, 72.0f},
        {"name past the block", "8BIM" + Be16(1005) + '\xFF' + "short", 72.0f},
        {"size field cut by the block end", "8BIM" + Be16(1005) + Be32(0), 72.0f},
        {"1005 data cut by the block end", entry.substr(0, 12 + 3), 72.0f},
        {"fewer bytes than an entry header", "8BIM\x03", 72.0f},
        {"walk stays inside the block", entry.substr(0, 12), 72.0f}};
    for (const auto& [what, resources, resolution] : cases) {
        SCOPED_TRACE(what);
        const std::string after = resources == entry.substr(0, 12) ? entry.substr(12) : "";
        const Inspected r = InspectBytes<Proxy_PSD>(
            Psd{.resources = resources, .layerSection = after + mask}.Bytes(), true);
        ASSERT_EQ(r.code, 0);
        EXPECT_FLOAT_EQ(r.info.resolution, resolution);
    }
}

TEST(PcdReader, ReportsTheFixedBaseImageOfAPackWithTheSignature) {
    const std::string pack = PhotoCd("PCD_IPI", 0);
    const std::tuple<const char*, std::string, bool> cases[] = {
        {"pack with more data", PhotoCd(), true},
        {"signature at the very end", pack, true},
        {"signature followed by a PSD header", pack + Psd{}.Bytes(), true},
        {"empty file", "", false},
        {"short file", std::string(100, 'P'), false},
        {"ends before the signature", pack.substr(0, 2048), false},
        {"signature cut to 6 of 7 bytes (2054 bytes)", pack.substr(0, 2054), false},
        {"one byte early", pack.substr(1), false},
        {"one byte late", "X" + pack, false},
        {"last character differs", PhotoCd("PCD_IPJ"), false},
        {"lower case", PhotoCd("pcd_ipi"), false},
        {"signature at the start only", "PCD_IPI" + std::string(4000, '\0'), false}};
    for (const auto& [what, bytes, accepted] : cases) {
        SCOPED_TRACE(what);
        const Inspected r = InspectBytes<Proxy_PCD>(bytes, true);
        EXPECT_EQ(Facts(r),
                  accepted ? Facts(0x800, 3072, 2048, 768, 0x2101, 3, 0) : "refused with -11");
        EXPECT_EQ(r.info.resolution, accepted ? 768.0f : 72.0f);
    }
    ExpectCloseHarmlessAndNoLeak<Proxy_PCD>(PhotoCd(), 0x800u, {});
}

} // namespace
