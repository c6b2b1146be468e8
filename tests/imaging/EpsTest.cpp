#include "Proxy_EPS.h"
#include "ReaderRuns.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <tuple>

namespace {

using namespace std::string_literals;

// An inspection with what only the EPS readers tell.
struct Result : Inspected {
    int encoding = 0;
    std::string creator, title;
};

template <typename Reader> Result InspectEps(const std::string& bytes) {
    Result r;
    static_cast<Inspected&>(r) = InspectBytes<Reader>(bytes, false, [&](Reader& reader) {
        r.encoding = reader.DataEncoding();
        r.creator = reader.Creator();
        r.title = reader.Title();
    });
    return r;
}

// Width, or the error code when the reader rejects the file.
template <typename Reader = Proxy_EPS_Std> int64_t WidthOrCode(const std::string& bytes) {
    const Result r = InspectEps<Reader>(bytes);
    return r.code != 0 ? r.code : static_cast<int64_t>(r.info.width);
}

// A plain EPS: the version line, the body, and %%EOF.
std::string Eps(const std::string& body) {
    return "%!PS-Adobe-3.0 EPSF-3.0\n" + body + "%%EOF\n";
}

// The 30-byte header of a DOS EPS (no WMF part, checksum FFFF), numbers little-endian.
std::string BinaryHeader(uint32_t psOffset, uint32_t psLength, uint32_t previewOffset,
                         uint32_t previewLength) {
    std::string s = "\xC5\xD0\xD3\xC6"s;
    for (uint32_t v : {psOffset, psLength, 0u, 0u, previewOffset, previewLength})
        s += Le32(v);
    return s + "\xFF\xFF";
}

// A few bytes that begin like a little-endian TIFF, as a preview does.
const std::string kTiffPreview = "II*\0\x08\0\0\0\0\0"s;

// The image's own %ImageData: line, and one a reader that lost its place would take.
const std::string kImageData = "%ImageData: 1000 800 8 3 0 1 2 \"beginimage\"\n";
const std::string kDecoy = "%ImageData: 7 7 8 1 0 1 1 \"decoy\"\n";

} // namespace

TEST(EpsReaderOpen, HeadersThatDoNotHoldUpAreRejectedAndNoHandleIsLeft) {
    const std::string ps = Eps(kImageData);
    const uint32_t n = static_cast<uint32_t>(ps.size());
    // The width 1000 when the file is read, else the code.
    const std::tuple<const char*, std::string, int> cases[] = {
        {"empty file", "", -8},
        {"three bytes", "%!P", -8},
        {"not PostScript", "GIF89a and more", -11},
        {"PostScript without the version", "%!\n" + kImageData + "%%EOF\n", -11},
        {"binary header cut short", BinaryHeader(30, 10, 0, 0).substr(0, 20), -11},
        {"plain", ps, 1000},
        {"binary, no preview", BinaryHeader(30, n, 0, 0) + ps, 1000},
        {"binary, preview before", BinaryHeader(40, n, 30, 10) + kTiffPreview + ps, 1000},
        {"PostScript offset past the end", BinaryHeader(30 + n, n, 0, 0) + ps, -11},
        {"PostScript offset far past the end", BinaryHeader(0xFFFFFFF0u, 10, 0, 0) + ps, -11},
        {"PostScript offset inside the header", BinaryHeader(12, n, 0, 0) + ps, -11},
        {"preview offset past the end", BinaryHeader(30, n, 0x7FFFFFFFu, 0) + ps, -11},
        {"preview past the end", BinaryHeader(30, n, 30 + n, 100) + ps, -11},
        {"preview length wraps", BinaryHeader(30, n, 30, 0xFFFFFFFFu) + ps, -11},
        {"preview inside the header", BinaryHeader(40, n, 0, 10) + kTiffPreview + ps, -11},
        {"only the first %ImageData: counts", Eps(kImageData + kDecoy), 1000},
        // Blocks that end with the file.
        {"binary", "%!PS-Adobe-3.0\n%%BeginBinary: 4\nabcd", -11},
        {"binary and line end", "%!PS-Adobe-3.0\n%%BeginBinary: 4\nabcd\n", -11},
        {"hex bytes cut", "%!PS-Adobe-3.0\n%%BeginData: 4 Hex Bytes\n0a0b0c", -11},
        {"hex bytes", "%!PS-Adobe-3.0\n%%BeginData: 4 Hex Bytes\n0a0b0c0d\n", -11},
        {"ASCII bytes", "%!PS-Adobe-3.0\n%%BeginData: 6 ASCII Bytes\nabc", -11},
        {"ASCII lines", "%!PS-Adobe-3.0\n%%BeginData: 2 ASCII Lines\nabc\n", -11},
        {"Photoshop", "%!PS-Adobe-3.0\n%BeginPhotoshop: 4\n% 3842494D\n", -11}};
    for (const auto& [what, bytes, result] : cases)
        EXPECT_EQ(WidthOrCode(bytes), result) << what;
    ExpectCloseHarmlessAndNoLeak<Proxy_EPS_Std>(Eps(kImageData), 0x200u, {"GIF89a and more"});
    EXPECT_EQ(Inspect<Proxy_EPS_OPI>(TempDir().Path()).code, -4); // a folder is no file
}

TEST(EpsReaderStd, PhotoshopEpsImageDataValuesBoundingBoxesAndDcsPlates) {
    const std::string binary = "beginimage\r\n" + std::string(96, '\x7F') + "\r\n";
    const std::string ps = "%!PS-Adobe-3.0 EPSF-3.0\r\n%%Creator: Adobe Photoshop Version 7.0\r\n"
                           "%%Title: photo.eps\r\n%%CreationDate: 7/18/05 2:33 PM\r\n"
                           "%%BoundingBox: 0 0 240 192\r\n%%SuppressDotGainCompensation\r\n"
                           "%%EndComments\r\n%%BeginProlog\r\n%%EndProlog\r\n"
                           "%ImageData: 1000 800 8 3 0 1 2 \"beginimage\"\r\n%BeginPhotoshop: 8\r\n"
                           "% 3842494D03ED0000\r\n%EndPhotoshop\r\n%%BeginBinary: " +
                           std::to_string(binary.size()) + "\r\n" + binary +
                           "%%EndBinary\r\n%%EOF\r\n";
    for (const std::string& bytes :
         {ps, BinaryHeader(40, static_cast<uint32_t>(ps.size()), 30, 10) + kTiffPreview + ps}) {
        const Result r = InspectEps<Proxy_EPS_Std>(bytes);
        EXPECT_EQ(Facts(r), Facts(0x200, 1000, 800, 300, 0x2101, 3, 24));
        EXPECT_EQ(std::tuple(r.info.colourSpace, r.encoding, r.creator, r.title),
                  std::tuple(3u, kEpsEncodingHex, " Adobe Photoshop Version 7.0"s, " photo.eps"s));
    }
    // %ImageData: values read (the code, size, pixel type and encoding)...
    auto inspect = [](const std::string& value) {
        const Result r =
            InspectEps<Proxy_EPS_Std>(Eps("%%BoundingBox: 0 0 10 10\n%ImageData:" + value + "\n"));
        return std::tuple(r.code, r.info.width, r.info.height, r.info.pixelType, r.encoding);
    };
    const std::tuple<const char*, uint32_t, uint32_t, uint32_t, int> accepted[] = {
        {" 1000 800 8 3 0 1 2 \"beginimage\"", 1000, 800, 0x2101, kEpsEncodingHex},
        {"1000 800 8 3 0 1 2 beginimage", 1000, 800, 0x2101, kEpsEncodingHex},
        {" 1000\t800  8 3 0 1 2 \"b\"  ", 1000, 800, 0x2101, kEpsEncodingHex},
        {" 10 20 8 1 0 10 1 \"b\"", 10, 20, 0x280A, kEpsEncodingBinary},
        {" 10 20 8 2 0 10 3 \"b\"", 10, 20, 0x2108, kEpsEncodingAscii},
        {" 10 20 16 4 0 10 4 \"b\"", 10, 20, 0x0802, kEpsEncodingAscii},
        {" 10 20 8 4 1 10 5 \"b\"", 10, 20, 0x0802, kEpsEncodingAscii},
        {" 10 20 8 9 0 10 6 \"b\"", 10, 20, 0, kEpsEncodingAscii}, // unknown mode
        {" 0 0 8 3 0 0 1 \"b\"", 0, 0, 0x2101, kEpsEncodingBinary},
        {" 4294967295 1 8 3 0 1 1 \"b\"", 4294967295u, 1, 0x2101, kEpsEncodingBinary}};
    for (const auto& [value, width, height, pixelType, encoding] : accepted)
        EXPECT_EQ(inspect(value), std::tuple(0, width, height, pixelType, encoding)) << value;
    // ... and rejected: encodings outside 1 to 6, bitmaps, missing or unreadable items.
    for (const char* value :
         {" 10 20 8 3 0 10 0 \"b\"", " 10 20 8 3 0 10 7 \"b\"", " 10 20 8 3 0 10 -2 \"b\"",
          " 100 67 1 1 0 13 1 \"b\"", " 10 20 8 3 0 10 2", " 10 20 8 3 0 10 2   ", " 10 20 8 3",
          " 10 x 8 3 0 10 2 \"b\"", "", " -10 20 8 3 0 10 2 \"b\"", " 10 -20 8 3 0 10 2 \"b\"",
          " 4294967296 20 8 3 0 10 2 \"b\"", " 99999999999999999999999 20 8 3 0 10 2 \"b\"",
          " 10 20 8 99999999999 0 10 2 \"b\""})
        EXPECT_EQ(inspect(value), std::tuple(-11, 0u, 0u, 0u, 0)) << value;
    // The resolution of 600 columns in the box; deferred boxes are rejected.
    auto resolution = [](const std::string& comments) {
        const Result r =
            InspectEps<Proxy_EPS_Std>(Eps(comments + "%ImageData: 600 300 8 1 0 600 1 \"b\"\n"));
        return std::pair(r.code, r.code == 0 ? r.info.resolution : 0.0f);
    };
    const std::pair<const char*, float> boxes[] = {
        {"%%BoundingBox: 0 0 200 100\n", 216.0f},
        {"%%BoundingBox:126 267 486 526\n", 120.0f},
        {"%%BoundingBox:   36   36  576  756\n", 80.0f},
        {"%%BoundingBox: 0 0 200 100\n%%HiResBoundingBox: 0 0 150 100.5\n", 288.0f},
        {"%%HiResBoundingBox: 0 0 150 100.5\n%%BoundingBox: 0 0 200 100\n", 288.0f},
        {"%%HiResBoundingBox: 10.5 0 160.5 100\n%%BoundingBox: (atend)\n", 288.0f},
        {"%%BoundingBox: 0 0 200 100\n%%BoundingBox: (atend)\n", 216.0f},
        {"%%BoundingBox: 50 0 50 100\n", 0.0f},
        {"%%BoundingBox: 60 0 50 100\n", 0.0f},
        {"", 0.0f}};
    for (const auto& [comments, ppi] : boxes)
        EXPECT_EQ(resolution(comments), std::pair(0, ppi)) << comments;
    for (const char* comments :
         {"%%BoundingBox: (atend)\n", "%%BoundingBox: (atend)\n%%HiResBoundingBox: 0 0 150 100\n",
          "%%BoundingBox: 0 0 200\n", "%%BoundingBox: 0,0,200,100\n",
          "%%BoundingBox: 0 0 1e999 100\n", "%%BoundingBox: 0 0 nan 100\n",
          "%%BoundingBox: 0 0 200 100\n%%HiResBoundingBox: (atend)\n"})
        EXPECT_EQ(resolution(comments), std::pair(-11, 0.0f)) << comments;
    const std::string dcs2Plates =
        "%%PlateFile: (Cyan) EPS #12345 6789\n%%PlateFile: (Magenta) EPS #23456 6789\n"
        "%%PlateFile: (Yellow) EPS #34567 6789\n%%PlateFile: (Black) EPS #45678 6789\n";
    const std::string dcs1Plates = "%%CyanPlate: photo.C\n%%MagentaPlate: photo.M\n"
                                   "%%YellowPlate: photo.Y\n%%BlackPlate: photo.K\n";
    const std::string box = "%%BoundingBox: 0 0 240 192\n";
    // DCS 2 plates before %ImageData: decide, the size stays unknown; DCS 1 plate comments do not
    // stop a later %ImageData:; a plate file comment for another ink is no DCS 2 plate. The width
    // (0, or 1000 with 800 rows at 300 ppi) and the pixel type.
    const std::tuple<const char*, std::string, uint32_t, uint32_t> plates[] = {
        {"DCS 2, plates first", box + dcs2Plates + kImageData, 0, 0x0802},
        {"DCS 2, one plate first", box + "%%PlateFile: (Black) EPS #1 2\n" + kImageData, 0, 0x0802},
        {"DCS 2, image data first", box + kImageData + dcs2Plates, 1000, 0x0802},
        {"DCS 1, plates only", box + dcs1Plates, 0, 0x0802},
        {"DCS 1, image data first", box + kImageData + dcs1Plates, 1000, 0x0802},
        {"DCS 1, plates first", box + dcs1Plates + kImageData, 1000, 0x2101},
        {"spot plate", box + "%%PlateFile: (PANTONE 185) EPS #1 2\n" + kImageData, 1000, 0x2101}};
    for (const auto& [what, body, width, pixelType] : plates) {
        const Result r = InspectEps<Proxy_EPS_Std>(Eps(body));
        EXPECT_EQ(
            std::tuple(r.code, r.info.pixelType, r.info.width, r.info.height, r.info.resolution),
            std::tuple(0, pixelType, width, width == 0 ? 0u : 800u, width == 0 ? 0.0f : 300.0f))
            << what;
    }
}

TEST(DataBlock, BlocksLargeOrSmallAreSkippedByWhatTheirCommentsSayAndAlikeByAllReaders) {
    // 64 MB of binary image data, made sparse, with a decoy at its end.
    const int64_t dataSize = int64_t{64} << 20;
    TempDir dir;
    const std::string path = dir / "large.eps";
    const std::string head =
        "%!PS-Adobe-3.0 EPSF-3.0\r\n%%BoundingBox: 0 0 240 192\r\n%%BeginBinary: " +
        std::to_string(dataSize) + "\r\n";
    WriteFile(path, head);
    std::filesystem::resize_file(path, head.size() + dataSize - kDecoy.size());
    std::ofstream(path, std::ios::binary | std::ios::app) << kDecoy << "\r\n%%EndBinary\r\n"
                                                          << kImageData << "%%EOF\r\n";
    const Inspected r = Inspect<Proxy_EPS_Std>(path);
    EXPECT_EQ(std::tuple(r.code, r.info.width, r.info.resolution), std::tuple(0, 1000u, 300.0f));
    ExpectSameWithTheFileLent<Proxy_EPS_OPI>(path);
    ExpectSameWithTheFileLent<Proxy_EPS_OPI_Other>(path);
    ExpectAlikeEveryWay<Proxy_EPS_Std>(path);
    // The same block said to be 4 GB longer does not fit the file.
    const std::string lying = "%!PS-Adobe-3.0 EPSF-3.0\r\n%%BeginBinary: " +
                              std::to_string(dataSize + (int64_t{1} << 32)) + "\r\n";
    std::fstream(path, std::ios::binary | std::ios::in | std::ios::out)
        << lying << std::string(head.size() - lying.size() - 2, ' ') << "\r\n";
    EXPECT_EQ(Inspect<Proxy_EPS_Std>(path).code, -11);
    // 1024 bytes of binary data holding the decoy, line ends, NULs and "%%EOF".
    std::string bin = "\n\0\r"s + kDecoy + "%%EOF\n%%EndBinary\n";
    bin += Pattern(1024 - bin.size());
    const std::string text = "some text\n" + kDecoy + "more text\n";
    const std::string icc = "%%BeginICCProfile: (Photoshop Profile) ",
                      resources = "% 3842494D03ED0000\n% 00100000\n%EndPhotoshop\n"; // 12 bytes
    // %%BeginData: <count> <type> [<unit>] and 1024 bytes of binary data.
    auto data = [&](std::string w) { return "%%BeginData:" + w + "\n" + bin + "\n%%EndData\n"; };
    auto block = [](std::string w, std::string c) {
        return "%%BeginData: " + w + "\n" + c + "%%EndData\n";
    };
    auto binary = [&](std::string n) {
        return "%%BeginBinary:" + n + "\n" + bin + "\n%%EndBinary\n";
    };
    // Data blocks between the header comments and the image's %ImageData:
    // line: the width tells whether the scan came out of the block where the
    // block ends (1000), stumbled on the decoy (7), or failed (the code).
    const std::tuple<const char*, std::string, int64_t> cases[] = {
        {"binary bytes", data(" 1024 Binary Bytes"), 1000},
        {"binary, unit left out", data(" 1024 Binary"), 1000},
        {"blanks and tabs", data("\t 1024  Binary\tBytes \t"), 1000},
        {"no blank after the colon", data("1024 Binary Bytes"), 1000},
        {"CR LF line ends", "%%BeginData: 1024 Binary Bytes\r\n" + bin + "\r\n%%EndData\r\n", 1000},
        {"CR line ends", "%%BeginData: 1024 Binary Bytes\r" + bin + "\r%%EndData\r", 1000},
        {"count only", data(" 1024"), -11},
        {"count and unit only", data(" 1024 Bytes"), -11},
        {"type in lower case", data(" 1024 binary Bytes"), -11},
        {"unknown type", data(" 1024 Octal Bytes"), -11},
        {"no count", data(" Binary Bytes"), -11},
        {"count not a number", data(" many Binary Bytes"), -11},
        {"count too large to read", data(" 99999999999999999999999 Binary Bytes"), -11},
        {"count beyond 32 bits", data(" 4294968320 Binary Bytes"), -11},
        {"count past the end", data(" 2000 Binary Bytes"), -11},
        {"negative count", data(" -2 Binary Bytes"), -11},
        {"unknown count", block("-1 Binary Bytes", text), 1000},
        {"unknown count, no end", "%%BeginData: -1 Binary Bytes\n" + text, -11},
        {"hex lines", block("3 Hex Lines", "0A0B\n" + kDecoy + "0C0D\n"), 1000},
        {"ASCII lines", block("2 ASCII Lines", "abc\r\n\r\n" + kDecoy), 1000},
        {"more lines than the file has", block("300 ASCII Lines", text), -11},
        {"hex bytes", block("4 Hex Bytes", "0a0B\n0c0D\n"), 1000},
        {"hex bytes, comment-wrapped", block("4 Hex Bytes", "%0a0B\n%0c0D\n"), 1000},
        {"hex bytes with blanks", block("4 Hex Bytes", "% 0a 0B\t\r\n% 0c 0D\n"), 1000},
        {"hex bytes running into a comment", "%%BeginData: 4 Hex Bytes\n%0a0B\n%%0c0D\n", -11},
        {"hex bytes with another character", block("4 Hex Bytes", "0a0G0c0D\n"), -11},
        {"hex bytes, count past the end", block("400 Hex Bytes", "0a0B\n"), -11},
        {"ASCII bytes", block(std::to_string(kDecoy.size()) + " ASCII Bytes", kDecoy), 1000},
        {"ASCII bytes, single percent signs", block("7 ASCII Bytes", "a%b%c%d\n"), 1000},
        {"ASCII bytes with %%", block("9 ASCII Bytes", "ab%%cdefg\n"), -11},
        {"ASCII bytes with % line end %", block("9 ASCII Bytes", "ab%\r\n %cd\n"), -11},
        // The data begins right after the line end of the opening comment.
        {"ASCII bytes beginning with line ends", block("5 ASCII Bytes", "\n\nab%\n"), 1000},
        {"ICC, unknown size", icc + "-1 Hex\n% 00000C48\n" + kDecoy + "%%EndICCProfile\n", 1000},
        {"ICC, known size", icc + "4 Hex Bytes\n% 00000C48\n%%EndICCProfile\n", 1000},
        {"binary", binary(" 1024"), 1000},
        {"binary, no blank", "%%BeginBinary:1024\r\n" + bin + "\r\n%%EndBinary\r\n", 1000},
        {"binary, count past the end", binary(" 1500"), -11},
        {"binary, count beyond 32 bits", binary(" 4294968320"), -11},
        {"binary, negative count", binary(" -7"), -11},
        {"binary, unknown count", "%%BeginBinary: -1\n" + text + "%%EndBinary\n", 1000},
        {"binary, unreadable count", "%%BeginBinary: lots\n" + text + "%%EndBinary\n", 1000},
        // %BeginPhotoshop: <bytes>, hex
        {"Photoshop resources", "%BeginPhotoshop: 12\n" + resources, 1000},
        {"Photoshop, count too large", "%BeginPhotoshop: 13\n" + resources + kImageData, -11},
        {"Photoshop, no size", "%BeginPhotoshop:\n% 3842494D\n" + kDecoy + "%EndPhotoshop\n",
         1000}};
    const std::string after = kImageData + "%%BoundingBox: 0 0 240 192\n";
    for (const auto& [what, bytes, result] : cases)
        EXPECT_EQ(WidthOrCode(Eps("%%Creator: test\n" + bytes + after)), result) << what;
    // Text that each reader would take, inside a block that hides it, and outside.
    const std::string hidden = "%ALDImageFileName: (Vol:Hidden.tif)\n%%BeginOPI: 2.0\n"
                               "%ArchReplaceImage: (Vol:Hidden.tif)\n" +
                               kDecoy;
    const std::string hiding = Eps("%%BeginData: " + std::to_string(hidden.size()) +
                                   " Binary Bytes\n" + hidden + "%%EndData\n");
    EXPECT_EQ(std::tuple(InspectEps<Proxy_EPS_OPI>(hiding).code, WidthOrCode(hiding),
                         InspectEps<Proxy_EPS_OPI_Other>(hiding).code),
              std::tuple(-11, 0, -11));
    const std::string open = Eps(hidden);
    EXPECT_EQ(std::tuple(InspectEps<Proxy_EPS_OPI>(open).linkedName, WidthOrCode(open),
                         InspectEps<Proxy_EPS_OPI_Other>(open).linkedName),
              std::tuple("Vol:Hidden.tif"s, 7, "Vol:Hidden.tif"s));
}

TEST(DataBlock, SkipBlockRejectsWhatItCannotSkip) {
    // Count, unit, type, closing comment, then the code (0: skipped) and the lines after the block,
    // the one that ends the scan included. Binary data is skipped by its size; the line end after
    // it is then taken for the closing comment.
    const std::tuple<int64_t, int, int, const char*, int, std::vector<std::string>> cases[] = {
        {-1, kEpsUnitUnknown, kEpsTypeUnknown, "%%EndData", 0, {"end"}},
        {10, kEpsUnitBytes, kEpsTypeUnknown, "%%EndData", 0, {"end"}},
        {10, kEpsUnitBytes, kEpsTypeAscii, "%%EndData", 0, {"end"}},
        {5, kEpsUnitBytes, kEpsTypeHex, "%%EndData", 0, {"end"}},
        {10, kEpsUnitBytes, kEpsTypeBinary, "%%EndData", 0, {"%%EndData", "end"}},
        {0, kEpsUnitBytes, kEpsTypeBinary, "", 0, {"0123456789", "%%EndData", "end"}},
        {1, kEpsUnitLines, kEpsTypeHex, "", 0, {"%%EndData", "end"}},
        {-1, kEpsUnitUnknown, kEpsTypeUnknown, "", -11, {}},
        {-1, kEpsUnitUnknown, kEpsTypeUnknown, nullptr, -11, {}},
        {-1, kEpsUnitBytes, kEpsTypeBinary, "%%NoSuchEnd", -11, {}},
        {10, 7, kEpsTypeBinary, "%%EndData", -11, {}},
        {10, kEpsUnitBytes, 9, "%%EndData", -11, {}},
        {-3, kEpsUnitBytes, kEpsTypeBinary, "%%EndData", -11, {}},
        {INT64_MAX, kEpsUnitBytes, kEpsTypeBinary, "%%EndData", -11, {}},
        {INT64_MAX, kEpsUnitBytes, kEpsTypeHex, "%%EndData", -11, {}},
        {INT64_MAX, kEpsUnitBytes, kEpsTypeAscii, "%%EndData", -11, {}},
        {INT64_MAX, kEpsUnitLines, kEpsTypeAscii, "%%EndData", -11, {}}};
    TempDir dir;
    WriteFile(dir / "lines.eps", "%!PS-Adobe-3.0\n%%BeginData: x\n0123456789\n%%EndData\nend\n");
    for (const auto& [count, unit, type, endKeyword, code, rest] : cases) {
        SCOPED_TRACE(testing::Message() << count << " " << unit << " " << type);
        Proxy_EPS_Std reader;
        reader.SetFileName((dir / "lines.eps").c_str());
        reader.OpenRead();
        char line[Proxy_EPS::kLineMax + 1];
        int lookAhead = Proxy_EPS::kLookAheadNone;
        ASSERT_GE(reader.ReadDscLine(line, lookAhead), 0);
        ASSERT_GE(reader.ReadDscLine(line, lookAhead), 0);
        ASSERT_STREQ(line, "%%BeginData: x");
        EXPECT_EQ(ThrownCode([&] { reader.SkipBlock(count, unit, type, endKeyword, lookAhead); }),
                  code);
        // Each DSC line up to the end of the scan (-1), then the one that ends it.
        std::vector<std::string> lines;
        for (int length = 0; code == 0 && length >= 0 && lines.size() < 100000;) {
            length = reader.ReadDscLine(line, lookAhead);
            EXPECT_TRUE(length < 0 || static_cast<std::size_t>(length) == std::strlen(line));
            lines.emplace_back(line);
        }
        EXPECT_EQ(lines, rest);
        reader.CloseRead();
    }
    Proxy_EPS_Std closed;
    int lookAhead = Proxy_EPS::kLookAheadNone;
    EXPECT_THROW(closed.SkipBlock(1, kEpsUnitBytes, kEpsTypeBinary, "", lookAhead), IMG_Exception);
}

TEST(OpiReader, ImageTypeResolutionNamesInksImageDataAndMainImage) {
    // OPI 1.3: the type, the resolution comment (null: none), the code, pixel type and resolution.
    const std::tuple<const char*, const char*, int, uint32_t, float> cases[] = {
        {" 4 8", " 300 300", 0, 0x0802, 300}, {" 1 8", " 0 150.5", 0, 0x280A, 150.5f},
        {" 3 8", " 0 0", 0, 0x2101, 0},       {"3\t8", " 72 144", 0, 0x2101, 72},
        {" 2 8", nullptr, 0, 0, 0},           {" 5 8", nullptr, 0, 0, 0},
        {" 4 16", nullptr, -11, 0, 0},        {" 4 1", nullptr, -11, 0, 0},
        {" 4", nullptr, -11, 0, 0},           {" four 8", nullptr, -11, 0, 0},
        {" 4 8", " 300", -11, 0, 0},          {" 4 8", " (300) (300)", -11, 0, 0}};
    for (const auto& [type, resolution, code, pixelType, ppi] : cases) {
        const std::string comment = resolution ? "%ALDImageResolution:"s + resolution + "\n" : "";
        const Result r =
            InspectEps<Proxy_EPS_OPI>(Eps("%ALDImageFileName: (Vol:Images:Photo.tif)\n" + comment +
                                          "%ALDImageType:" + type + "\n"));
        EXPECT_EQ(std::tuple(r.code, r.info.pixelType, r.code == 0 ? r.info.resolution : 0.0f),
                  std::tuple(code, pixelType, ppi))
            << type;
    }
    // %ALDImageFileName: and %ALDImageID: (null: no such comment), then the name (null: rejected).
    const std::tuple<const char*, const char*, const char*> names[] = {
        {"(Vol:Images:Photo.tif)", nullptr, "Vol:Images:Photo.tif"},
        {" (Vol:Images:Photo.tif)", nullptr, "Vol:Images:Photo.tif"},
        {" \t (Vol:Images:Photo.tif)", nullptr, "Vol:Images:Photo.tif"},
        {" (Vol:My \\(old\\) Images:Photo.tif)", nullptr, "Vol:My (old) Images:Photo.tif"},
        {" /Volumes/Images/Photo.tif", nullptr, "/Volumes/Images/Photo.tif"},
        {" (C:\\\\Images\\\\Photo.tif)", nullptr, "C:\\Images\\Photo.tif"},
        {" \\\\server\\share\\Photo.tif", nullptr, "\\\\server\\share\\Photo.tif"},
        {" (Vol:Lo:Photo.tif)", " (Srv:Hi:Photo.tif)", "Srv:Hi:Photo.tif"},
        {" (Vol:Lo:Photo.tif)", " (Photo.tif)", "Vol:Lo:Photo.tif"},
        {" (Vol:Lo:Photo.tif)", " ", "Vol:Lo:Photo.tif"},
        {nullptr, " (Srv:Hi:Photo.tif)", "Srv:Hi:Photo.tif"},
        {" (Photo.tif)", nullptr, nullptr},
        {" (Photo.tif)", " (Images/Photo.tif)", nullptr},
        {" ()", nullptr, nullptr}};
    for (const auto& [fileName, imageId, linked] : names) {
        const std::string body = (fileName ? "%ALDImageFileName:"s + fileName + "\n" : "") +
                                 (imageId ? "%ALDImageID:"s + imageId + "\n" : "") +
                                 "%ALDImageType: 4 8\n";
        const Result r = InspectEps<Proxy_EPS_OPI>(Eps(body));
        EXPECT_EQ(std::pair(r.code, r.linkedName),
                  std::pair(linked ? 0 : -11, std::string(linked ? linked : "")))
            << body;
    }
    // OPI 2.0: the comments inside the block, then what is read; no name: rejected.
    const std::string file = "%%ImageFileName: (Vol:Images:Photo.tif)\n",
                      photo = "Vol:Images:Photo.tif";
    const std::tuple<const char*, std::string, uint32_t, uint32_t, std::string> opi20[] = {
        {"full colour", file + "%%ImageInks: full_color\n", 0x000B, 0, photo},
        {"no blank", file + "%%ImageInks:full_color\n", 0x000B, 0, photo},
        {"blanks and tab", file + "%%ImageInks: \t full_color 4 (Cyan) 1\n", 0x000B, 0, photo},
        {"monochrome", file + "%%ImageInks: monochrome 1 (Black) 0.5\n", 0x280A, 0, photo},
        {"registration", file + "%%ImageInks: registration\n", 0, 0, photo},
        {"no inks", file, 0, 0, photo},
        {"image data wins", file + "%%ImageInks: monochrome\n" + kImageData, 0x2101, 1000, photo},
        {"image data of another mode",
         file + "%%ImageInks: monochrome\n%ImageData: 10 10 8 9 0 10 1 \"b\"\n", 0x280A, 10, photo},
        {"main image wins", "%%MainImage: (Srv:Hi:Photo.tif)\n" + file, 0, 0, "Srv:Hi:Photo.tif"},
        // Without %%BeginOPI (no OPI version), without a usable name, with no comment at all.
        {"no OPI version", file + "%%ImageInks: full_color\n", 0, 0, ""},
        {"no name", "%%ImageInks: full_color\n", 0, 0, ""},
        {"relative name", "%%ImageFileName: (Photo.tif)\n", 0, 0, ""},
        {"no OPI comment", kImageData, 0, 0, ""}};
    for (const auto& [what, comments, pixelType, width, linked] : opi20) {
        const bool bare = std::string(what).starts_with("no OPI");
        const std::string body = bare ? comments : "%%BeginOPI: 2.0\n" + comments + "%%EndOPI\n";
        const Result r = InspectEps<Proxy_EPS_OPI>(Eps(body));
        EXPECT_EQ(std::tuple(r.code, r.info.pixelType, r.info.width, r.linkedName),
                  std::tuple(linked.empty() ? -11 : 0, pixelType, width, linked))
            << what;
    }
}
