#include "IMG_Exception.h"
#include "IMG_File.h"
#include "IMG_ImageInfo.h"
#include "IMG_OpenImageFile.h"
#include "Proxy_PCD.h"
#include "Proxy_PSD.h"
#include "ReaderRuns.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdint>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

// The Photoshop reader refuses the modes and channel counts it cannot take
// with a plain integer.
template <> inline constexpr bool kMayThrowPlainInt<Proxy_PSD> = true;

namespace {

// ---------------------------------------------------------------------------
// Byte builders

std::string Be16(uint16_t v) {
    return {static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)};
}

std::string Be32(uint32_t v) {
    return Be16(static_cast<uint16_t>(v >> 16)) + Be16(v & 0xFFFF);
}

// One image-resource entry. The name and the data are padded to even sizes;
// the data's pad byte is left out when pad is false.
std::string Resource(uint16_t id, const std::string& name, const std::string& data,
                     const std::string& signature = "8BIM", bool pad = true) {
    std::string out = signature + Be16(id) + static_cast<char>(name.size()) + name;
    out.resize(out.size() + (1 + name.size()) % 2, '\0');
    out += Be32(static_cast<uint32_t>(data.size())) + data;
    out.resize(out.size() + (pad ? data.size() % 2 : 0), '\0');
    return out;
}

// The resolution-information data: horizontal resolution (16.16 fixed), its
// unit, the width unit, then the same for the vertical direction.
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
    uint16_t version = 1;
    uint16_t channels = 3;
    uint32_t rows = 2;
    uint32_t columns = 3;
    uint16_t depth = 8;
    uint16_t mode = 3;
    std::string colourData{};
    std::optional<uint32_t> colourLength{};
    std::string resources = Resource(1033, "", "thumb") + ResolutionEntry(300u << 16);
    std::optional<uint32_t> resourceLength{};
    // Layer-info length 0, then a global mask length 0.
    std::string layerSection = Be32(0) + Be32(0);
    std::optional<uint32_t> layerLength{};
    uint16_t compression = 0;
    std::string afterCompression{}; // row byte counts and image data

    std::size_t CompressionOffset() const {
        return 26 + 4 + colourData.size() + 4 + resources.size() + 4 + layerSection.size();
    }

    std::string Bytes() const {
        std::string out = signature + Be16(version) + std::string(6, '\0') + Be16(channels) +
                          Be32(rows) + Be32(columns) + Be16(depth) + Be16(mode);
        out += Be32(colourLength.value_or(static_cast<uint32_t>(colourData.size()))) + colourData;
        out += Be32(resourceLength.value_or(static_cast<uint32_t>(resources.size()))) + resources;
        out +=
            Be32(layerLength.value_or(static_cast<uint32_t>(layerSection.size()))) + layerSection;
        return out + Be16(compression) + afterCompression;
    }
};

// A run-length document: one byte count per row of every channel, then rows
// of two packed bytes each.
Psd RunLength(Psd p) {
    p.compression = 1;
    const uint32_t rows = uint32_t{p.channels} * p.rows;
    p.afterCompression.clear();
    for (uint32_t i = 0; i < rows; ++i) {
        p.afterCompression += Be16(2);
    }
    for (uint32_t i = 0; i < rows; ++i) {
        p.afterCompression += std::string("\x02\x00", 2);
    }
    return p;
}

// A Photo CD pack: anything up to byte 2048, the signature, then more.
std::string PhotoCd(const std::string& signature = "PCD_IPI", std::size_t tail = 2000) {
    std::string out;
    for (int i = 0; i < 2048; ++i) {
        out += static_cast<char>((i * 37 + 11) & 0xFF);
    }
    return out + signature + std::string(tail, '\xA5');
}

// ReadFileHeader on the bytes, which are written to a file first.
bool ReadHeader(const TempDir& dir, const std::string& bytes, IMG_FilePsd& file) {
    const std::string path = dir / "doc.psd";
    WriteFresh(path, bytes);
    file.Open(path.c_str(), "rb");
    return file.ReadFileHeader();
}

std::string AsText(std::span<const uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// ===========================================================================
// IMG_FilePsd

TEST(PsdFileHeader, ReadsFieldsBlocksAndPositions) {
    struct Case {
        const char* what;
        Psd doc;
        int16_t layerCount;
        uint32_t layerInfoLength;
    };
    const Case cases[] = {
        {"raw RGB", Psd{}, 0, 0},
        {"run-length RGB", RunLength(Psd{}), 0, 0},
        {"indexed with palette",
         {.channels = 1, .mode = 2, .colourData = std::string(768, '\x7F')},
         0,
         0},
        {"duotone with its data", {.mode = 8, .colourData = "duotone curves"}, 0, 0},
        {"negative layer count", RunLength({.layerSection = Be32(2) + Be16(0xFFFF) + Be32(0)}), -1,
         2},
        // A layer section shorter than its layer-info fields: they are read
        // from the compression and the data, and the image data still starts
        // right after the section.
        {"empty layer section",
         {.layerSection = "", .afterCompression = std::string(20, '\x33')},
         0x3333,
         0x3333},
        {"layers skipped by length",
         RunLength({.layerSection = Be32(12) + Be16(3) + std::string(300, '\x55')}), 3, 12},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        IMG_FilePsd file;
        ASSERT_TRUE(ReadHeader(dir, c.doc.Bytes(), file));
        EXPECT_EQ(std::tuple(file.Channels(), file.Rows(), file.Columns(), file.Depth(),
                             file.Mode(), file.Compression()),
                  std::tuple(c.doc.channels, c.doc.rows, c.doc.columns, c.doc.depth, c.doc.mode,
                             c.doc.compression));
        EXPECT_EQ(AsText(file.ColourModeData()), c.doc.colourData);
        // The resource section is found in place, not copied.
        EXPECT_EQ(file.ResourcesOffset(),
                  static_cast<int64_t>(26 + 4 + c.doc.colourData.size() + 4));
        EXPECT_EQ(c.doc.Bytes().substr(static_cast<std::size_t>(file.ResourcesOffset()),
                                       file.ResourcesLength()),
                  c.doc.resources);
        EXPECT_EQ(file.LayerAndMaskLength(), c.doc.layerSection.size());
        EXPECT_EQ(file.LayerInfoLength(), c.layerInfoLength);
        EXPECT_EQ(file.LayerCount(), c.layerCount);
        EXPECT_EQ(file.FirstExtraChannelIsTransparency(), c.layerCount < 0);
        const int64_t counts = static_cast<int64_t>(c.doc.CompressionOffset()) + 2;
        EXPECT_EQ(file.RowCountsOffset(), counts);
        EXPECT_EQ(file.ImageDataOffset(),
                  counts + (c.doc.compression == 1 ? int64_t{c.doc.channels} * c.doc.rows * 2 : 0));
    }
}

TEST(PsdFileHeader, ChecksSignatureVersionDepthModeAndCompression) {
    struct Case {
        std::string what;
        Psd doc;
        bool accepted;
    };
    std::vector<Case> cases = {
        {"plain", Psd{}, true},
        {"signature 8BPB", {.signature = "8BPB"}, false},
        {"signature lower case", {.signature = "8bps"}, false},
        {"version 0", {.version = 0}, false},
        {"version 2 (large document)", {.version = 2}, false},
        {"empty resources", {.resources = ""}, true},
        {"no layer-info bytes at all", {.layerSection = ""}, false},
    };
    for (uint16_t depth : {0, 1, 2, 4, 8, 15, 16, 32}) {
        cases.push_back({"depth " + std::to_string(depth),
                         {.depth = depth},
                         depth == 1 || depth == 8 || depth == 16});
    }
    for (uint16_t mode = 0; mode <= 12; ++mode) {
        cases.push_back({"mode " + std::to_string(mode),
                         {.mode = mode},
                         mode <= 4 || (mode >= 7 && mode <= 9)});
        // Colour-mode data belongs to indexed and duotone documents only.
        cases.push_back({"colour-mode data, mode " + std::to_string(mode),
                         {.mode = mode, .colourData = "abc"},
                         mode == 2 || mode == 8});
    }
    for (uint16_t method : {0, 1, 2, 3, 0x100}) {
        Psd doc = RunLength(Psd{});
        doc.compression = method;
        cases.push_back({"compression " + std::to_string(method), doc, method == 0 || method == 1});
    }
    TempDir dir;
    for (const auto& c : cases) {
        IMG_FilePsd file;
        EXPECT_EQ(ReadHeader(dir, c.doc.Bytes(), file), c.accepted) << c.what;
    }
}

TEST(PsdFileHeader, RejectsLengthsThatLieAboutTheFile) {
    struct Case {
        const char* what;
        Psd doc;
        bool accepted;
    };
    auto lie = [](const std::function<void(Psd&)>& change) {
        Psd p = RunLength(Psd{});
        change(p);
        return p;
    };
    const Case cases[] = {
        {"colour-mode length 4 GiB - 1", lie([](Psd& p) {
             p.mode = 2;
             p.colourData = "pal";
             p.colourLength = 0xFFFFFFFF;
         }),
         false},
        {"colour-mode length one past the end", lie([](Psd& p) {
             p.mode = 2;
             p.afterCompression.clear();
             p.colourLength =
                 static_cast<uint32_t>(4 + p.resources.size() + 4 + p.layerSection.size() + 2 + 1);
         }),
         false},
        {"resource length 4 GiB - 16", lie([](Psd& p) { p.resourceLength = 0xFFFFFFF0; }), false},
        {"resource length 2 GiB", lie([](Psd& p) { p.resourceLength = 0x80000000; }), false},
        {"resource length past the end", lie([](Psd& p) {
             p.resourceLength =
                 static_cast<uint32_t>(p.resources.size() + 4 + p.layerSection.size() + 2 +
                                       p.afterCompression.size() + 1);
         }),
         false},
        {"layer-and-mask length 4 GiB - 1", lie([](Psd& p) { p.layerLength = 0xFFFFFFFF; }), false},
        {"layer-and-mask length to the very end (no compression left)", lie([](Psd& p) {
             p.layerLength =
                 static_cast<uint32_t>(p.layerSection.size() + 2 + p.afterCompression.size());
         }),
         false},
        {"layer-and-mask length to the last two bytes", lie([](Psd& p) {
             p.compression = 0;
             p.afterCompression = std::string(10, '\0');
             p.layerLength = static_cast<uint32_t>(p.layerSection.size() + 10);
         }),
         true},
        {"row counts for 4 billion rows", lie([](Psd& p) { p.rows = 0xFFFFFFFF; }), false},
        {"row counts for 65535 channels of 4 billion rows", lie([](Psd& p) {
             p.channels = 0xFFFF;
             p.rows = 0xFFFFFFFF;
         }),
         false},
        {"one row count short",
         lie([](Psd& p) { p.afterCompression.resize(p.channels * p.rows * 2 - 1); }), false},
        {"row counts exactly to the end",
         lie([](Psd& p) { p.afterCompression.resize(p.channels * p.rows * 2); }), true},
        {"raw data absent (sizes are not checked without compression)", lie([](Psd& p) {
             p.compression = 0;
             p.rows = 0xFFFFFFFF;
             p.afterCompression.clear();
         }),
         true},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        IMG_FilePsd file;
        EXPECT_EQ(ReadHeader(dir, c.doc.Bytes(), file), c.accepted);
        if (!c.accepted) {
            // Through the reader the same lie is "not this format".
            const Inspected r = InspectBytes<Proxy_PSD>(c.doc.Bytes());
            EXPECT_EQ(r.code, -11);
            EXPECT_FALSE(r.plainInt);
        }
    }
}

TEST(PsdFileHeader, EveryTruncationIsRejectedAsNotTheFormat) {
    Psd doc = RunLength(Psd{});
    doc.mode = 4;
    doc.channels = 5;
    doc.layerSection = Be32(6) + Be16(0xFFFE) + std::string(17, '\x22');
    const std::string bytes = doc.Bytes();
    // The header ends with the row byte counts; the image data is not needed.
    const std::size_t needed = doc.CompressionOffset() + 2 + doc.channels * doc.rows * 2;
    TempDir dir;
    for (std::size_t size = 0; size <= bytes.size(); ++size) {
        SCOPED_TRACE("cut to " + std::to_string(size));
        IMG_FilePsd file;
        EXPECT_EQ(ReadHeader(dir, bytes.substr(0, size), file), size >= needed);
        file.Close();
        const Inspected r = Inspect<Proxy_PSD>(dir / "doc.psd");
        ExpectSameWithTheFileLent<Proxy_PSD>(dir / "doc.psd");
        EXPECT_EQ(r.code, size >= needed ? 0 : -11);
        EXPECT_FALSE(r.plainInt);
        if (size >= needed) {
            EXPECT_EQ(r.info.pixelType, 0x0882u);
        }
    }
}

TEST(PsdFile, OpensForReadingOnlyAndClosesSafely) {
    TempDir dir;
    const std::string path = dir / "doc.psd";
    WriteFile(path, Psd{}.Bytes());

    IMG_FilePsd file;
    EXPECT_EQ(file.GetOpenState(), IMG_File::kClosed);
    EXPECT_FALSE(file.ReadFileHeader()); // nothing open
    file.Close();                        // nothing open: harmless
    file.Open(path.c_str(), "rb");
    EXPECT_EQ(file.GetOpenState(), IMG_File::kOpenRead);
    EXPECT_STREQ(file.GetName(), path.c_str());
    EXPECT_TRUE(file.ReadFileHeader());
    EXPECT_TRUE(file.ReadFileHeader()); // again from the start
    EXPECT_EQ(file.Columns(), 3u);
    EXPECT_FALSE(file.CanWrite());
    file.Close();
    EXPECT_EQ(file.GetOpenState(), IMG_File::kClosed);
    EXPECT_EQ(file.ResourcesLength(), 0u);
    file.Close();
    EXPECT_FALSE(file.ReadFileHeader());

    const struct {
        std::string path;
        const char* mode;
        int code;
    } failures[] = {
        {dir / "missing.psd", "rb", -2},
        {dir.Path(), "rb", 0}, // a folder opens but cannot be read as a document
        {path, "wb", -26},
        {path, "", -2},
    };
    for (const auto& c : failures) {
        IMG_FilePsd other;
        try {
            other.Open(c.path.c_str(), c.mode);
            EXPECT_EQ(c.code, 0) << c.path << " " << c.mode;
            EXPECT_FALSE(other.ReadFileHeader());
        } catch (const IMG_Exception& e) {
            EXPECT_EQ(e.Code(), c.code) << c.path << " " << c.mode;
            EXPECT_EQ(other.GetOpenState(), IMG_File::kClosed);
        }
    }
    // Opening for writing must not have touched the document.
    EXPECT_EQ(ReadFile(path), Psd{}.Bytes());
    uint8_t row[4];
    EXPECT_EQ(ThrownCode([&] { file.ReadChannelRows(0, row, sizeof row); }), -26);
}

TEST(PsdFile, BaseClassProvidesNoFormat) {
    IMG_File file;
    EXPECT_EQ(ThrownCode([&] { file.Open("x", "rb"); }), -26);
    EXPECT_EQ(ThrownCode([&] { file.Close(); }), -26);
    EXPECT_EQ(ThrownCode([&] { file.WriteFileHeader(); }), -26);
    EXPECT_EQ(file.GetName(), nullptr);
    std::string name = "first name";
    file.SetName(name.c_str());
    name[0] = 'X'; // the stored name is a copy
    EXPECT_STREQ(file.GetName(), "first name");
    file.SetName(nullptr);
    EXPECT_EQ(file.GetName(), nullptr);
}

// ===========================================================================
// Proxy_PSD

TEST(PsdReader, ReportsSizeChannelsAndPixelType) {
    struct Case {
        uint16_t mode, channels;
        uint32_t pixelType;
    };
    const Case cases[] = {
        {1, 1, 0x280A}, {1, 2, 0x208A}, {1, 3, 0x208A}, {3, 3, 0x2101}, {3, 4, 0x0881},
        {3, 7, 0x0881}, {4, 4, 0x0802}, {4, 5, 0x0882}, {4, 9, 0x0882},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("mode " + std::to_string(c.mode) + " channels " + std::to_string(c.channels));
        const Inspected r = InspectBytes<Proxy_PSD>(
            RunLength({.channels = c.channels, .rows = 1234, .columns = 0x00FEDCBA, .mode = c.mode})
                .Bytes());
        EXPECT_EQ(r.info.resolution, 300.0f);
        EXPECT_EQ(Facts(r), Facts(0x1000, 0x00FEDCBA, 1234, 300, c.pixelType, c.channels, 0));
    }
}

TEST(PsdReader, RejectsDocumentsItDoesNotTake) {
    struct Case {
        const char* what;
        Psd doc;
        int code;
        bool plainInt = false;
    };
    const Case cases[] = {
        // The file class takes 1 and 16 bits; the reader only 8.
        {"16 bits", {.depth = 16}, -11},
        {"1 bit bitmap", {.channels = 1, .depth = 1, .mode = 0}, -11},
        {"32 bits", {.depth = 32}, -11},
        {"RGB with colour-mode data", {.colourData = std::string(768, 1)}, -11},
        {"not a document", {.signature = std::string("II*\0", 4)}, -11},
        {"8-bit bitmap mode", {.mode = 0}, -1, true},
        {"indexed", {.channels = 1, .mode = 2, .colourData = std::string(768, 1)}, -1, true},
        {"multichannel", {.mode = 7}, -1, true},
        {"duotone", {.mode = 8}, -1, true},
        {"Lab", {.mode = 9}, -1, true},
        // Channel counts without a pixel type.
        {"RGB with 2 channels", {.channels = 2}, -1},
        {"CMYK with 3 channels", {.channels = 3, .mode = 4}, -1},
        {"gray without channels", {.channels = 0, .mode = 1}, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Inspected r = InspectBytes<Proxy_PSD>(c.doc.Bytes());
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.plainInt, c.plainInt);
    }
}

TEST(PsdReader, ResolutionFromTheResourceWalk) {
    const std::string other = Resource(1036, "", "thumbnail");
    const std::string entry = ResolutionEntry(300u << 16);
    struct Case {
        const char* what;
        std::string resources;
        float resolution;
        std::string layerSection = Be32(0) + Be32(0);
    };
    const Case cases[] = {
        {"300 ppi", entry, 300.0f},
        {"fraction 0x8000", ResolutionEntry((300u << 16) | 0x8000), 300.5f},
        {"GIMP's 118.11", ResolutionEntry(0x00761C29), 118.11f},
        {"largest integer part", ResolutionEntry(0xFFFF0000), 65535.0f},
        {"after other entries", other + Resource(1010, "", "") + ResolutionEntry(600u << 16),
         600.0f},
        {"first 1005 wins", ResolutionEntry(150u << 16) + ResolutionEntry(600u << 16), 150.0f},
        {"no 1005", other + Resource(1004, "", "ab"), 72.0f},
        {"empty block", "", 72.0f},
        // Names: length byte plus characters padded to an even count.
        {"name of 1 character (no pad)", Resource(1000, "a", "xy") + ResolutionEntry(200u << 16),
         200.0f},
        {"name of 2 characters (padded)", Resource(1000, "ab", "xy") + ResolutionEntry(200u << 16),
         200.0f},
        {"name on the 1005 entry", Resource(1005, "res", ResolutionData(240u << 16)), 240.0f},
        {"odd data size padded", Resource(1000, "", "odd") + ResolutionEntry(250u << 16), 250.0f},
        {"last entry without its pad byte",
         other + Resource(1005, "", ResolutionData(400u << 16) + "x", "8BIM", false), 400.0f},
        {"odd last entry without its pad byte", other + Resource(1000, "", "odd", "8BIM", false),
         72.0f},
        {"4-byte 1005 entry", Resource(1005, "", Be32(96u << 16)), 96.0f},
        {"1005 shorter than 4 bytes", Resource(1005, "", "abc") + ResolutionEntry(9u << 16), 72.0f},
        {"other signature stops the walk", Resource(1000, "", "xy", "MeSa") + entry, 72.0f},
        {"stray bytes stop the walk", "8BIX" + entry, 72.0f},
        {"entry size past the block",
         Resource(1000, "", "xy").substr(0, 8) + Be32(0x7FFFFFFF) + entry, 72.0f},
        {"entry size 4 GiB - 1",
         std::string("8BIM") + Be16(1000) + '\0' + '\0' + Be32(0xFFFFFFFF) + entry, 72.0f},
        {"name past the block", std::string("8BIM") + Be16(1005) + '\xFF' + "short", 72.0f},
        {"size field cut by the block end",
         std::string("8BIM") + Be16(1005) + '\0' + '\0' + std::string(2, '\0'), 72.0f},
        {"1005 data cut by the block end", entry.substr(0, 12 + 3), 72.0f},
        {"fewer bytes than an entry header", "8BIM\x03", 72.0f},
        // The 1005 data lies in the file right after the block, but the block
        // ends inside the entry: it is not read.
        {"walk stays inside the block", entry.substr(0, 12), 72.0f,
         entry.substr(12) + Be32(0) + Be32(0)},
    };
    TempDir dir;
    const std::string path = dir / "doc.psd";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Psd doc;
        doc.resources = c.resources;
        doc.layerSection = c.layerSection;
        WriteFresh(path, doc.Bytes());
        const Inspected r = Inspect<Proxy_PSD>(path);
        ASSERT_EQ(r.code, 0);
        EXPECT_FLOAT_EQ(r.info.resolution, c.resolution);
        ExpectAlikeEveryWay<Proxy_PSD>(path);
    }
}

TEST(PsdReader, ResolutionFarIntoALargeResourceSection) {
    // Large entries before the resolution, and layer data after the section:
    // the entries' data is passed over, not read.
    Psd doc;
    const std::string thumb = Resource(1036, "thumb", std::string(300000, 't'));
    doc.resources = thumb + Resource(1039, "", std::string(70001, 'i')) +
                    ResolutionEntry(240u << 16) + Resource(1060, "", std::string(5000, 'x'));
    doc.layerSection = Be32(10) + Be16(2) + std::string(200000, 'l');
    TempDir dir;
    const std::string path = dir / "large.psd";
    WriteFile(path, doc.Bytes());
    const Inspected r = Inspect<Proxy_PSD>(path);
    ASSERT_EQ(r.code, 0);
    EXPECT_FLOAT_EQ(r.info.resolution, 240.0f);
    ExpectAlikeEveryWay<Proxy_PSD>(path);

    IMG_FilePsd file;
    ASSERT_TRUE(ReadHeader(dir, doc.Bytes(), file));
    int64_t at = 0;
    uint32_t size = 0;
    ASSERT_TRUE(file.FindResource(1039, at, size));
    EXPECT_EQ(size, 70001u);
    EXPECT_EQ(at, file.ResourcesOffset() + static_cast<int64_t>(thumb.size()) + 12);
    std::string data(4, '\0');
    ASSERT_TRUE(file.ReadAt(at, data.data(), data.size()));
    EXPECT_EQ(data, "iiii");
    ASSERT_TRUE(file.FindResource(1005, at, size));
    EXPECT_EQ(size, ResolutionData(0).size());
    ASSERT_TRUE(file.FindResource(1060, at, size));
    EXPECT_FALSE(file.FindResource(1061, at, size)); // not there
    EXPECT_FALSE(file.ReadAt(static_cast<int64_t>(doc.Bytes().size()) - 2, data.data(), 4));
}

TEST(PsdReader, OpeningAndClosing) {
    TempDir dir;
    WriteFile(dir / "doc.psd", Psd{}.Bytes());
    WriteFile(dir / "bad.psd", Psd{.mode = 7}.Bytes());
    ExpectCloseHarmlessAndNoLeak<Proxy_PSD>(dir / "doc.psd", 0x1000u, {dir / "bad.psd"});
    // A path longer than the reader opens.
    EXPECT_EQ(Inspect<Proxy_PSD>(dir / (std::string(1100, 'a') + ".psd")).code, -4);
}

// ===========================================================================
// Proxy_PCD

TEST(PcdReader, ReportsTheFixedBaseImageOfAPackWithTheSignature) {
    const std::string pack = PhotoCd("PCD_IPI", 0);
    const std::pair<const char*, std::string> accepted[] = {
        {"pack with more data", PhotoCd()},
        {"signature at the very end", pack},
        {"signature followed by a PSD header", pack + Psd{}.Bytes()},
    };
    const std::pair<const char*, std::string> refused[] = {
        {"empty file", ""},
        {"short file", std::string(100, 'P')},
        {"ends before the signature", pack.substr(0, 2048)},
        {"signature cut to 6 of 7 bytes (2054 bytes)", pack.substr(0, 2054)},
        {"one byte early", pack.substr(1)},
        {"one byte late", "X" + pack},
        {"last character differs", PhotoCd("PCD_IPJ")},
        {"lower case", PhotoCd("pcd_ipi")},
        {"signature at the start only", "PCD_IPI" + std::string(4000, '\0')},
    };
    TempDir dir;
    const std::string path = dir / "image.pcd";
    for (const auto& [what, bytes] : accepted) {
        SCOPED_TRACE(what);
        WriteFresh(path, bytes);
        const Inspected r = Inspect<Proxy_PCD>(path);
        ExpectSameWithTheFileLent<Proxy_PCD>(path);
        EXPECT_EQ(r.info.resolution, 768.0f);
        EXPECT_EQ(Facts(r), Facts(0x800, 3072, 2048, 768, 0x2101, 3, 0));
    }
    for (const auto& [what, bytes] : refused) {
        SCOPED_TRACE(what);
        WriteFresh(path, bytes);
        EXPECT_EQ(Inspect<Proxy_PCD>(path).code, -11);
        ExpectAlikeEveryWay<Proxy_PCD>(path);
    }
    WriteFresh(path, PhotoCd());
    ExpectCloseHarmlessAndNoLeak<Proxy_PCD>(path, 0x800u, {});
}

// ===========================================================================
// Real Photoshop and Photo CD files, against the expectations of the shared
// test corpus: the reader that should take a file takes it with the expected
// values, and a file that no reader takes is refused by both with the
// expected code.

TEST(PsdReaderRealFiles, AgreeWithTheCorpus) {
    const std::string data = SharedTestData();
    if (data.empty()) {
        GTEST_SKIP() << "no shared test data";
    }
    const std::string folder = data + "/images";
    std::ifstream in(folder + "/manifest.json");
    if (!in) {
        GTEST_SKIP() << "no image manifest";
    }
    const nlohmann::json manifest = nlohmann::json::parse(in);
    auto hex = [](const nlohmann::json& v) {
        return std::stoul(v.get<std::string>(), nullptr, 16);
    };
    // The code a reader is expected to fail with, from "Proxy_PSD: -11 ...".
    auto expectedCode = [](const nlohmann::json& rejections, const std::string& reader) {
        for (const auto& r : rejections) {
            const std::string text = r.get<std::string>();
            if (text.rfind(reader + ": ", 0) == 0) {
                return std::stoi(text.substr(reader.size() + 2));
            }
        }
        return 0;
    };
    int seen = 0;
    for (const auto& entry : manifest) {
        const std::string file = entry["file"].get<std::string>();
        if (file.rfind("psd", 0) != 0 && file.rfind("psb", 0) != 0 && file.rfind("pcd", 0) != 0) {
            continue;
        }
        ++seen;
        SCOPED_TRACE(file);
        const std::string path = folder + "/" + file;
        const nlohmann::json& want = entry["expected_no_opi"];
        const Inspected psd = Inspect<Proxy_PSD>(path);
        const Inspected pcd = Inspect<Proxy_PCD>(path);
        if (want["reader"].is_null()) {
            EXPECT_NE(psd.code, 0);
            EXPECT_NE(pcd.code, 0);
            EXPECT_EQ(psd.code, expectedCode(want["rejections"], "Proxy_PSD"));
            EXPECT_EQ(pcd.code, expectedCode(want["rejections"], "Proxy_PCD"));
            continue;
        }
        const std::string reader = want["reader"].get<std::string>();
        ASSERT_TRUE(reader == "Proxy_PSD" || reader == "Proxy_PCD");
        const Inspected& got = reader == "Proxy_PSD" ? psd : pcd;
        const Inspected& other = reader == "Proxy_PSD" ? pcd : psd;
        ASSERT_EQ(got.code, 0) << "code " << got.code;
        EXPECT_NE(other.code, 0);
        EXPECT_EQ(got.formatCode, hex(want["formatCode"]));
        EXPECT_EQ(got.info.pixelType, hex(want["pixelType"]));
        EXPECT_EQ(got.info.width, want["width"].get<uint32_t>());
        EXPECT_EQ(got.info.height, want["height"].get<uint32_t>());
        EXPECT_EQ(got.info.samplesPerPixel, want["samplesPerPixel"].get<int>());
        EXPECT_EQ(got.info.bitsPerSample, want["bitsPerSample"].get<int>());
        EXPECT_EQ(got.processCount, want["processCount"].get<int>());
        EXPECT_NEAR(got.info.resolution, want["resolution"].get<double>(), 0.01);
    }
    EXPECT_GT(seen, 0);
}

} // namespace
