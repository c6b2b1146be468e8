#include "FolderEndPoint.h"
#include "IMG_Exception.h"
#include "Paths.h"
#include "QOR_Configuration.h"
#include "QOR_EndPoint.h"
#include "QOR_Stream.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

const std::string kSep(1, kPathSeparator);

std::string Join(const std::vector<std::string>& lines, const std::string& end = "\n") {
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += end;
    }
    return text;
}

void Append(std::vector<std::string>& to, const std::vector<std::string>& more) {
    to.insert(to.end(), more.begin(), more.end());
}

std::vector<std::string> Repeat(const std::string& line, int count) {
    return std::vector<std::string>(static_cast<std::size_t>(count), line);
}

// Writes the text to a file of its own and opens a stream on it.
class StreamFile {
public:
    explicit StreamFile(const std::string& bytes) {
        WriteFile(path, bytes);
        stream.Open(path.c_str(), "rb");
    }

    QOR_FileStream stream;

private:
    TempDir dir;
    std::string path = dir / "lines.txt";
};

// Every line the stream gives with the given max, until it reports the end.
// The buffer is exactly max+1 bytes so that the sanitizers see any overrun.
std::vector<std::string> AllLines(QOR_FileStream& stream, int max) {
    std::vector<std::string> lines;
    for (int guard = 0; guard < 100000; ++guard) {
        std::unique_ptr<char[]> buffer(new char[static_cast<std::size_t>(max) + 1]);
        std::memset(buffer.get(), 'Z', static_cast<std::size_t>(max) + 1);
        int result = stream.ReadLine(buffer.get(), max);
        if (result != 0) {
            EXPECT_EQ(result, -1);
            EXPECT_STREQ(buffer.get(), "");
            return lines;
        }
        EXPECT_LE(std::strlen(buffer.get()), static_cast<std::size_t>(max));
        lines.emplace_back(buffer.get());
    }
    ADD_FAILURE() << "the stream never reported its end";
    return lines;
}

// ---------------------------------------------------------------------------
// Fixture writers: each builds a section as the server writes it.

struct ColorSection {
    int version = 260;
    std::string modes = "0 2 5";
    std::string texts[4] = {"text one", "text two", "text three", "text four"};
};

std::vector<std::string> ColorLines(const ColorSection& s) {
    std::vector<std::string> lines = {
        "????",     "3",       std::to_string(s.version), "c1", "c2", "c3", "c4", s.modes,
        s.texts[0], s.texts[1]};
    if (s.version < 257) {
        lines.push_back("only before 257");
    }
    lines.push_back(s.texts[2]);
    lines.push_back(s.texts[3]);
    if (s.version >= 259) {
        Append(lines, {"since 259 a", "since 259 b"});
    }
    return lines;
}

// A file-options section; blocks[i] are the option lines after format i.
std::vector<std::string> FileLines(int version, const int (&formats)[3],
                                   const std::vector<std::string> (&blocks)[3]) {
    std::vector<std::string> lines = {"????",
                                      "7",
                                      std::to_string(version),
                                      "f-drop",
                                      std::to_string(formats[0]),
                                      std::to_string(formats[1]),
                                      std::to_string(formats[2])};
    if (version > 257) {
        lines.push_back("f-drop since 258");
    }
    for (const std::vector<std::string>& block : blocks) {
        Append(lines, {"pre", "pre", "pre"});
        Append(lines, block);
    }
    return lines;
}

// The option block of one format: `count` lines; for format 8 the second line
// holds the variant number.
std::vector<std::string> Block(int format, int count, int variant = 0) {
    std::vector<std::string> lines = Repeat("blk", count);
    if (format == 8 && count >= 2) {
        lines[1] = std::to_string(variant);
    }
    return lines;
}

struct ProcessingSet {
    int version;
    int m; // only written from version 258 on
};

struct CurparamFile {
    int style = 1;
    int version = 258;
    std::vector<std::string> listA;
    std::vector<std::string> listB;
    std::vector<int> skipped = {2, 0, 1, 3}; // only the first when version <= 256
    std::vector<ProcessingSet> sets;
    std::vector<std::string> profiles;
};

std::vector<std::string> CurparamLines(const CurparamFile& c) {
    std::vector<std::string> lines = {"????", std::to_string(c.style), std::to_string(c.version),
                                      "cp-drop"};
    for (const auto* list : {&c.listA, &c.listB}) {
        lines.push_back(std::to_string(list->size()));
        for (const std::string& entry : *list) {
            lines.push_back("set file");
            lines.push_back(entry);
        }
    }
    std::size_t lists = c.version > 256 ? 4 : 1;
    for (std::size_t i = 0; i < lists; ++i) {
        lines.push_back(std::to_string(c.skipped[i]));
        Append(lines, Repeat("skipped", c.skipped[i]));
    }
    lines.push_back(std::to_string(c.sets.size()));
    for (const ProcessingSet& set : c.sets) {
        Append(lines, {"????", "1", std::to_string(set.version)});
        Append(lines, Repeat("set line", set.version >= 259 ? 4 : 3));
        Append(lines, Repeat("set body", 10));
        if (set.version > 257) {
            lines.push_back(std::to_string(set.m));
            if (set.m != 0) {
                lines.push_back("set extra");
            }
        }
    }
    if (c.version > 257) {
        lines.push_back("cp-drop");
        lines.push_back(std::to_string(c.profiles.size()));
        Append(lines, c.profiles);
    }
    return lines;
}

// ---------------------------------------------------------------------------
// ReadLine

struct LineCase {
    const char* name;
    std::string bytes;
    int max;
    std::vector<std::string> lines;
};

TEST(ConfigReadLine, SplitsLinesByTheCommentAndLineEndRules) {
    const LineCase cases[] = {
        {"remark after text", "text ##remark\nnext\n", 256, {"text ", "next"}},
        {"remark-only line skipped", "##only a remark\nnext\n", 256, {"next"}},
        {"several remark lines", "##a\r\n##b\r##c\nreal", 256, {"real"}},
        {"three hashes are a remark", "###x\ny\n", 256, {"y"}},
        {"remark right after text", "a##\nb\n", 256, {"a", "b"}},
        {"remark at the end of the file", "x ##c", 256, {"x "}},
        {"remark-only file", "##c", 256, {}},
        {"single hash between letters", "a#b\n", 256, {"a#b"}},
        {"single hash at end of line", "end#\nnext\n", 256, {"end#", "next"}},
        {"single hash at end of file", "ab#", 256, {"ab#"}},
        {"hash blank hash", "# #\n", 256, {"# #"}},
        {"lone hash", "#\n", 256, {"#"}},
        {"LF", "a\nb\n", 256, {"a", "b"}},
        {"CR", "a\rb\r", 256, {"a", "b"}},
        {"CRLF", "a\r\nb\r\n", 256, {"a", "b"}},
        {"mixed line ends", "a\rb\nc\r\nd", 256, {"a", "b", "c", "d"}},
        {"two CRs make an empty line", "a\r\rb", 256, {"a", "", "b"}},
        {"LF CR is two line ends", "a\n\rb", 256, {"a", "", "b"}},
        {"empty lines count", "\n\nx\n\n", 256, {"", "", "x", ""}},
        {"last line without line end", "first\nlast", 256, {"first", "last"}},
        {"empty file", "", 256, {}},
        {"cut at max", "abcdefg\n", 3, {"abc", "def", "g"}},
        {"line of exactly max", "abc\nd\n", 3, {"abc", "d"}},
        {"line of exactly max, CRLF", "abc\r\nd", 3, {"abc", "d"}},
        {"line of exactly max, CR", "abc\rd", 3, {"abc", "d"}},
        {"remark right behind the cut", "ab##c\nd\n", 2, {"ab", "d"}},
        {"hash pair across the cut", "a##b\nc", 1, {"a", "c"}},
        {"max of one", "ab\n\nc", 1, {"a", "b", "", "c"}},
        {"blank remark line is text", "  ##c\n", 256, {"  "}},
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE(c.name);
        StreamFile file(c.bytes);
        EXPECT_EQ(AllLines(file.stream, c.max), c.lines);
        // The end stays the end.
        char buffer[8];
        EXPECT_EQ(file.stream.ReadLine(buffer, 7), -1);
    }
}

TEST(ConfigReadLine, LongLinesNeverOverrunTheBuffer) {
    std::string longLine(5000, 'x');
    for (int max : {1, 2, 31, 255, 256, 4999, 5000, 5001}) {
        SCOPED_TRACE(max);
        StreamFile file(longLine + "\n" + longLine);
        std::vector<std::string> lines = AllLines(file.stream, max);
        std::string joined;
        for (const std::string& line : lines) {
            EXPECT_LE(line.size(), static_cast<std::size_t>(max));
            joined += line;
        }
        EXPECT_EQ(joined, longLine + longLine);
    }
}

TEST(ConfigReadLine, ABufferWithoutRoomReadsNothing) {
    StreamFile file("abc\n");
    char one = 'Z';
    EXPECT_EQ(file.stream.ReadLine(&one, 0), -1);
    EXPECT_EQ(one, '\0');
    EXPECT_EQ(file.stream.ReadLine(nullptr, 10), -1);
    EXPECT_EQ(file.stream.ReadLine(&one, -5), -1);
    // Nothing was consumed.
    EXPECT_EQ(AllLines(file.stream, 10), std::vector<std::string>{"abc"});
}

TEST(ConfigStream, OpenCloseAndGoodState) {
    TempDir dir;
    QOR_FileStream stream;
    EXPECT_FALSE(stream.IsGood());
    EXPECT_EQ(stream.Close(), 0);
    char buffer[16];
    EXPECT_EQ(stream.ReadLine(buffer, 15), -1);

    try {
        stream.Open((dir / "absent.txt").c_str(), "rb");
        FAIL() << "opening a missing file must throw";
    } catch (const IMG_Exception& e) {
        EXPECT_EQ(e.Code(), -4);
    }
    EXPECT_FALSE(stream.IsGood());

    WriteFile(dir / "two.txt", "one\ntwo");
    stream.Open((dir / "two.txt").c_str(), "rb");
    EXPECT_TRUE(stream.IsGood());
    EXPECT_EQ(stream.ReadLine(buffer, 15), 0);
    EXPECT_TRUE(stream.IsGood());
    EXPECT_EQ(stream.ReadLine(buffer, 15), 0);
    EXPECT_STREQ(buffer, "two");
    EXPECT_FALSE(stream.IsGood()); // the end was met while reading "two"
    EXPECT_EQ(stream.Close(), 0);
    EXPECT_EQ(stream.Close(), 0);
    EXPECT_FALSE(stream.IsGood());
}

TEST(ConfigStream, ParseIntTakesOneDecimalNumber) {
    struct Case {
        const char* text;
        int result;
        int value;
    };
    const Case cases[] = {
        {"12", 0, 12},
        {"  -7 rest", 0, -7},
        {"+3", 0, 3},
        {"0x1F", 0, 0},
        {"42abc", 0, 42},
        {"\t260\r", 0, 260},
        {"2147483647", 0, INT_MAX},
        {"99999999999999999999", 0, INT_MAX},
        {"-99999999999999999999", 0, INT_MIN},
        {"x1", -1, 555},
        {"", -1, 555},
        {"-", -1, 555},
        {"????", -1, 555},
        {nullptr, -1, 555},
    };
    QOR_FileStream stream;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text != nullptr ? c.text : "(null)");
        int value = 555;
        EXPECT_EQ(stream.ParseInt(c.text, value), c.result);
        EXPECT_EQ(value, c.value);
    }
}

// ---------------------------------------------------------------------------
// Colour-correction section

TEST(ConfigColorCorrection, EachVersionConsumesExactlyItsLines) {
    for (int version : {256, 257, 258, 259, 260, 261}) {
        SCOPED_TRACE(version);
        ColorSection section;
        section.version = version;
        section.modes = "1 -3 6";
        std::vector<std::string> lines = ColorLines(section);
        lines.push_back("AFTER");
        StreamFile file(Join(lines));

        QOR_ColorCorrectionOptions options;
        ASSERT_EQ(options.Read(file.stream), 0);
        EXPECT_EQ(options.valid, 1);
        EXPECT_EQ(options.GetVersion(), version);
        EXPECT_EQ(options.modes[0], 1);
        EXPECT_EQ(options.modes[1], -3);
        EXPECT_EQ(options.modes[2], 6);
        for (int i = 0; i < 4; ++i) {
            EXPECT_STREQ(options.texts[i], section.texts[i].c_str());
        }
        EXPECT_EQ(AllLines(file.stream, 256), std::vector<std::string>{"AFTER"});
    }
}

TEST(ConfigColorCorrection, ReadsThroughRemarksAndLineEnds) {
    ColorSection section;
    std::vector<std::string> lines = ColorLines(section);
    lines[2] += " ##the version";
    lines.insert(lines.begin() + 3, "## a remark line");
    StreamFile file(Join(lines, "\r\n"));
    QOR_ColorCorrectionOptions options;
    ASSERT_EQ(options.Read(file.stream), 0);
    EXPECT_EQ(options.valid, 1);
    EXPECT_STREQ(options.texts[3], "text four");
}

TEST(ConfigColorCorrection, KeepsLongTextsWhole) {
    ColorSection section;
    section.texts[1] = std::string(256, 't');
    StreamFile file(Join(ColorLines(section)));
    QOR_ColorCorrectionOptions options;
    ASSERT_EQ(options.Read(file.stream), 0);
    EXPECT_EQ(options.valid, 1);
    EXPECT_EQ(std::string(options.texts[1]), section.texts[1]);
    EXPECT_STREQ(options.texts[2], "text three");
}

TEST(ConfigColorCorrection, ASectionWithoutHeaderIsEmptyAndInvalid) {
    ColorSection section;
    std::vector<std::string> lines = ColorLines(section);
    lines[0] = "???";
    StreamFile file(Join(lines));
    QOR_ColorCorrectionOptions options;
    EXPECT_EQ(options.Read(file.stream), 0);
    EXPECT_EQ(options.valid, 0);
    EXPECT_EQ(options.modes[0], 0);
    EXPECT_STREQ(options.texts[0], "");
    // Only the header line was taken.
    char next[257];
    ASSERT_EQ(file.stream.ReadLine(next, 256), 0);
    EXPECT_STREQ(next, "3");
}

TEST(ConfigColorCorrection, AModesLineWithoutThreeNumbersIsInvalid) {
    for (const char* modes : {"1 2", "1, 2, 3", "a b c", ""}) {
        SCOPED_TRACE(modes);
        ColorSection section;
        section.modes = modes;
        StreamFile file(Join(ColorLines(section)));
        QOR_ColorCorrectionOptions options;
        EXPECT_EQ(options.Read(file.stream), 0);
        EXPECT_EQ(options.valid, 0);
        EXPECT_EQ(ProcessOutcome(options, 1), 0);
    }
}

TEST(ConfigColorCorrection, ATruncatedSectionFailsAtEveryPoint) {
    std::vector<std::string> lines = ColorLines(ColorSection{});
    for (std::size_t keep = 1; keep < lines.size(); ++keep) {
        SCOPED_TRACE(keep);
        std::vector<std::string> head(lines.begin(), lines.begin() + static_cast<long>(keep));
        StreamFile file(Join(head));
        QOR_ColorCorrectionOptions options;
        EXPECT_EQ(options.Read(file.stream), -1);
        EXPECT_EQ(options.valid, 0);
    }
}

TEST(ConfigColorCorrection, ANumberLineWithoutNumberFails) {
    for (std::size_t line : {1u, 2u}) {
        SCOPED_TRACE(line);
        std::vector<std::string> lines = ColorLines(ColorSection{});
        lines[line] = "no number";
        StreamFile file(Join(lines));
        QOR_ColorCorrectionOptions options;
        EXPECT_EQ(options.Read(file.stream), -1);
        EXPECT_EQ(options.valid, 0);
    }
}

// ---------------------------------------------------------------------------
// File-options section

struct BlockRow {
    int format;
    int version;
    int variant; // the number in a format-8 block
    int lines;   // option lines the block holds
};

// The option-block lengths per format and version, as the server writes them.
std::vector<BlockRow> BlockTable() {
    std::vector<BlockRow> rows = {
        {1, 256, 0, 33}, {1, 257, 0, 35}, {1, 259, 0, 36}, {1, 260, 0, 36}, {1, 261, 0, 36},
        {4, 256, 0, 1},  {4, 257, 0, 1},  {4, 259, 0, 1},  {4, 260, 0, 3},  {4, 261, 0, 4},
    };
    for (int version : {256, 257, 259, 260, 261}) {
        rows.push_back({0, version, 0, 3});
        rows.push_back({5, version, 0, 2});
        rows.push_back({8, version, 2, 5});
        rows.push_back({8, version, 1, 4});
        rows.push_back({8, version, 0, 4});
        rows.push_back({8, version, -2, 4});
        for (int other : {2, 3, 6, 7, 9, -1, 100000}) {
            rows.push_back({other, version, 0, 0});
        }
    }
    return rows;
}

TEST(ConfigFileOptions, EveryFormatBlockIsSkippedExactly) {
    for (const BlockRow& row : BlockTable()) {
        SCOPED_TRACE("format " + std::to_string(row.format) + " version " +
                     std::to_string(row.version) + " variant " + std::to_string(row.variant));
        const int formats[3] = {row.format, row.format, row.format};
        const std::vector<std::string> block = Block(row.format, row.lines, row.variant);
        const std::vector<std::string> blocks[3] = {block, block, block};
        // A profile file: the file options, then a colour-correction section
        // that only reads when every line before it was consumed exactly.
        std::vector<std::string> lines = FileLines(row.version, formats, blocks);
        ColorSection color;
        color.texts[0] = "colour after file options";
        Append(lines, ColorLines(color));
        lines.push_back("AFTER");
        StreamFile file(Join(lines));

        QOR_JobProfileOptions profile;
        ASSERT_EQ(profile.Read(file.stream), 0);
        EXPECT_EQ(profile.fileOptions.valid, 1);
        EXPECT_EQ(profile.fileOptions.GetVersion(), row.version);
        for (int32_t format : profile.fileOptions.formats) {
            EXPECT_EQ(format, row.format);
        }
        EXPECT_EQ(profile.colorCorrection.valid, 1);
        EXPECT_STREQ(profile.colorCorrection.texts[0], "colour after file options");
        EXPECT_TRUE(profile.IsUsable());
        EXPECT_EQ(AllLines(file.stream, 256), std::vector<std::string>{"AFTER"});
    }
}

TEST(ConfigFileOptions, MixedFormatsInOneProfile) {
    struct Mix {
        int version;
        int formats[3];
        int lines[3];
    };
    const Mix mixes[] = {
        {260, {0, 4, 1}, {3, 3, 36}},
        {256, {0, 4, 1}, {3, 1, 33}},
        {261, {8, 1, 4}, {4, 36, 4}},
        {257, {5, 2, 1}, {2, 0, 35}},
    };
    for (const Mix& mix : mixes) {
        SCOPED_TRACE(mix.version);
        const std::vector<std::string> blocks[3] = {Block(mix.formats[0], mix.lines[0], 1),
                                                    Block(mix.formats[1], mix.lines[1], 1),
                                                    Block(mix.formats[2], mix.lines[2], 1)};
        std::vector<std::string> lines = FileLines(mix.version, mix.formats, blocks);
        ColorSection color;
        color.modes = "4 7 2";
        Append(lines, ColorLines(color));
        StreamFile file(Join(lines));

        QOR_JobProfileOptions profile;
        ASSERT_EQ(profile.Read(file.stream), 0);
        EXPECT_TRUE(profile.IsUsable());
        EXPECT_EQ(profile.fileOptions.formats[0], mix.formats[0]);
        EXPECT_EQ(profile.fileOptions.formats[1], mix.formats[1]);
        EXPECT_EQ(profile.fileOptions.formats[2], mix.formats[2]);
        EXPECT_EQ(profile.colorCorrection.modes[1], 7);
        EXPECT_EQ(AllLines(file.stream, 256), std::vector<std::string>{});
    }
}

TEST(ConfigFileOptions, AFormat8LineWithoutNumberIsNotVariant2) {
    const int formats[3] = {8, 2, 2};
    std::vector<std::string> block = Block(8, 4);
    block[1] = "two";
    const std::vector<std::string> blocks[3] = {block, {}, {}};
    std::vector<std::string> lines = FileLines(260, formats, blocks);
    lines.push_back("AFTER");
    StreamFile file(Join(lines));
    QOR_FileOptions options;
    ASSERT_EQ(options.Read(file.stream), 0);
    EXPECT_EQ(options.valid, 1);
    EXPECT_EQ(AllLines(file.stream, 256), std::vector<std::string>{"AFTER"});
}

TEST(ConfigFileOptions, ASectionThatEndsEarlyReportsTheFailedRead) {
    const int formats[3] = {1, 0, 4};
    const std::vector<std::string> blocks[3] = {Block(1, 36), Block(0, 3), Block(4, 3)};
    std::vector<std::string> lines = FileLines(260, formats, blocks);
    for (std::size_t keep = 1; keep < lines.size(); ++keep) {
        SCOPED_TRACE(keep);
        std::vector<std::string> head(lines.begin(), lines.begin() + static_cast<long>(keep));
        StreamFile file(Join(head));
        QOR_FileOptions options;
        EXPECT_EQ(options.Read(file.stream), -1);
        // A profile built from such a section is never offered.
        StreamFile again(Join(head));
        QOR_JobProfileOptions profile;
        EXPECT_NE(profile.Read(again.stream), 0);
        EXPECT_FALSE(profile.IsUsable());
    }
}

TEST(ConfigFileOptions, AFormatLineWithoutNumberFails) {
    const int formats[3] = {0, 0, 0};
    const std::vector<std::string> blocks[3] = {Block(0, 3), Block(0, 3), Block(0, 3)};
    std::vector<std::string> lines = FileLines(260, formats, blocks);
    lines[5] = "RGB";
    StreamFile file(Join(lines));
    QOR_FileOptions options;
    EXPECT_EQ(options.Read(file.stream), -1);
    EXPECT_EQ(options.valid, 0);
}

TEST(ConfigFileOptions, ASectionWithoutHeaderIsEmptyAndInvalid) {
    StreamFile file("TIFF\n0\n0\n");
    QOR_FileOptions options;
    EXPECT_EQ(options.Read(file.stream), 0);
    EXPECT_EQ(options.valid, 0);
    EXPECT_EQ(options.formats[0], 0);
}

TEST(ConfigOptions, ClassVersionsAndWrite) {
    QOR_GrayConversionOptions gray;
    QOR_RGBGrayConversionOptions rgbGray;
    QOR_ColorCorrectionOptions color;
    QOR_FileOptions file;
    QOR_JobProfileOptions profile;
    QOR_CurparamData curparam;
    EXPECT_EQ(gray.GetCurrentVersion(), 258);
    EXPECT_EQ(rgbGray.GetCurrentVersion(), 260);
    EXPECT_EQ(color.GetCurrentVersion(), 260);
    EXPECT_EQ(file.GetCurrentVersion(), 260);
    EXPECT_EQ(profile.GetCurrentVersion(), 260);
    EXPECT_EQ(curparam.GetCurrentVersion(), 256);

    // Writing is not something the client does; nothing reaches the file.
    TempDir dir;
    WriteFile(dir / "w.txt", "");
    QOR_FileStream stream;
    stream.Open((dir / "w.txt").c_str(), "rb");
    QOR_ConfigurationData* all[] = {&gray, &rgbGray, &color, &file, &profile, &curparam};
    for (QOR_ConfigurationData* data : all) {
        EXPECT_EQ(data->Write(stream), 0);
    }
    stream.Close();
    EXPECT_EQ(ReadFile(dir / "w.txt"), "");

    color.SetVersion(259);
    EXPECT_EQ(color.GetVersion(), 259);
    // The conversion blocks read nothing.
    StreamFile lines("keep\n");
    EXPECT_EQ(gray.Read(lines.stream), 0);
    EXPECT_EQ(rgbGray.Read(lines.stream), 0);
    EXPECT_EQ(AllLines(lines.stream, 256), std::vector<std::string>{"keep"});
}

// ---------------------------------------------------------------------------
// curparam.txt

std::vector<std::string> NamesOf(const QOR_CurparamData& data,
                                 char* (QOR_CurparamData::*lookup)(int, char*, std::size_t) const,
                                 int count) {
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        char name[64];
        std::memset(name, 'Z', sizeof name);
        (data.*lookup)(i, name, sizeof name);
        names.emplace_back(name);
    }
    return names;
}

TEST(ConfigCurparam, VersionsAndProcessingSets) {
    struct Case {
        const char* name;
        CurparamFile file;
        std::vector<std::string> profiles;
    };
    const Case cases[] = {
        {"256: one skip list, no profile list",
         {1, 256, {"C:\\Sets\\Sharp#3"}, {"C:\\Sets\\Soft#1"}, {2}, {{257, 0}, {259, 0}}, {}},
         {}},
        {"257: four skip lists, sets of every version",
         {1,
          257,
          {"C:\\Sets\\Sharp#3"},
          {"C:\\Sets\\Soft#1"},
          {1, 0, 2, 3},
          {{256, 0}, {258, 0}, {258, 4}, {259, 0}, {259, 1}},
          {}},
         {}},
        {"258: profile list",
         {1,
          258,
          {"C:\\Sets\\Sharp#3"},
          {"C:\\Sets\\Soft#1"},
          {0, 0, 0, 0},
          {{260, -1}},
          {"C:\\Profiles\\Newsprint", "C:\\Profiles\\Art paper", "C:\\Profiles\\Web"}},
         {"Newsprint", "Art paper", "Web"}},
        {"261: no processing sets",
         {1, 261, {"C:\\Sets\\Sharp#3"}, {"C:\\Sets\\Soft#1"}, {5, 1, 1, 0}, {}, {"C:\\P\\Only"}},
         {"Only"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> lines = CurparamLines(c.file);
        lines.push_back("AFTER");
        StreamFile file(Join(lines));
        QOR_CurparamData data;
        ASSERT_EQ(data.Read(file.stream), 0);
        EXPECT_EQ(data.PathStyle(), 1);
        EXPECT_EQ(data.FileVersion(), c.file.version);
        EXPECT_EQ(data.GetVersion(), c.file.version);
        EXPECT_EQ(NamesOf(data, &QOR_CurparamData::ParameterNameA, data.ParameterCountA()),
                  std::vector<std::string>{"Sharp"});
        EXPECT_EQ(NamesOf(data, &QOR_CurparamData::ParameterNameB, data.ParameterCountB()),
                  std::vector<std::string>{"Soft"});
        EXPECT_EQ(NamesOf(data, &QOR_CurparamData::ProfileName, data.ProfileCount()), c.profiles);
        EXPECT_EQ(AllLines(file.stream, 256), std::vector<std::string>{"AFTER"});
    }
}

TEST(ConfigCurparam, NamesAreTheLastPartInEachPathStyle) {
    struct Case {
        int style;
        std::vector<std::string> entries;
        std::vector<std::string> raw;
    };
    const std::string longName(40, 'n');
    const Case cases[] = {
        {0, {"Server:Sets:Sharp#2", "Sharp#2", "Vol:a/b"}, {"Sharp#2", "", "a/b"}},
        {1, {"C:\\x\\Sharp#2", "C:/x/Sharp#2", "\\\\s\\x\\"}, {"Sharp#2", "", ""}},
        {2, {"/x/Sharp#2", "C:\\x\\y", "/x/" + longName}, {"Sharp#2", "", longName.substr(0, 31)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.style);
        CurparamFile layout;
        layout.style = c.style;
        layout.listA = c.entries;
        layout.listB = c.entries;
        layout.profiles = c.entries;
        StreamFile file(Join(CurparamLines(layout)));
        QOR_CurparamData data;
        ASSERT_EQ(data.Read(file.stream), 0);
        EXPECT_EQ(data.PathStyle(), c.style);
        ASSERT_EQ(data.ParameterCountA(), static_cast<int>(c.raw.size()));
        ASSERT_EQ(data.ParameterCountB(), static_cast<int>(c.raw.size()));
        ASSERT_EQ(data.ProfileCount(), static_cast<int>(c.raw.size()));
        for (int i = 0; i < data.ProfileCount(); ++i) {
            EXPECT_EQ(data.ParameterEntryA(i), c.raw[static_cast<std::size_t>(i)]);
            EXPECT_EQ(data.ParameterEntryB(i), c.raw[static_cast<std::size_t>(i)]);
            EXPECT_EQ(data.ProfileEntry(i), c.raw[static_cast<std::size_t>(i)]);
        }
    }
}

TEST(ConfigCurparam, ParameterNamesAreCutAtTheFirstHash) {
    CurparamFile layout;
    layout.listA = {"C:\\s\\Sharp#3", "C:\\s\\NoHash", "C:\\s\\#7", "C:\\s\\Two#a#b",
                    "C:\\s\\Trail#"};
    layout.listB = {"C:\\s\\" + std::string(30, 'b') + "#1", "C:\\s\\Plain"};
    layout.profiles = {"C:\\p\\Prof#1"};
    StreamFile file(Join(CurparamLines(layout)));
    QOR_CurparamData data;
    ASSERT_EQ(data.Read(file.stream), 0);

    EXPECT_EQ(NamesOf(data, &QOR_CurparamData::ParameterNameA, 5),
              (std::vector<std::string>{"Sharp", "", "", "Two", "Trail"}));
    EXPECT_EQ(NamesOf(data, &QOR_CurparamData::ParameterNameB, 2),
              (std::vector<std::string>{std::string(30, 'b'), ""}));
    // Profile names are not cut.
    EXPECT_EQ(NamesOf(data, &QOR_CurparamData::ProfileName, 1), std::vector<std::string>{"Prof#1"});

    // Indexes outside the lists give empty names.
    for (int index : {-1, 5, 1000, INT_MIN, INT_MAX}) {
        char name[32] = "unchanged";
        EXPECT_STREQ(data.ParameterNameA(index, name, sizeof name), "");
        std::strcpy(name, "unchanged");
        EXPECT_STREQ(data.ParameterNameB(index, name, sizeof name), "");
        std::strcpy(name, "unchanged");
        EXPECT_STREQ(data.ProfileName(index, name, sizeof name), "");
        EXPECT_STREQ(data.ParameterEntryA(index), "");
    }
    // A small buffer gets a cut, terminated name.
    char small[4];
    EXPECT_STREQ(data.ParameterNameA(0, small, sizeof small), "Sha");
    EXPECT_STREQ(data.ProfileName(0, small, sizeof small), "Pro");
}

TEST(ConfigCurparam, RemarksAndCRLFDoNotShiftTheLines) {
    CurparamFile layout;
    layout.listA = {"C:\\s\\Sharp#3"};
    layout.sets = {{259, 1}};
    layout.profiles = {"C:\\p\\News ##the daily paper"};
    std::vector<std::string> lines = CurparamLines(layout);
    std::vector<std::string> remarked;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i % 3 == 0) {
            remarked.push_back("## remark " + std::to_string(i));
        }
        remarked.push_back(lines[i]);
    }
    StreamFile file(Join(remarked, "\r\n"));
    QOR_CurparamData data;
    ASSERT_EQ(data.Read(file.stream), 0);
    EXPECT_EQ(NamesOf(data, &QOR_CurparamData::ProfileName, data.ProfileCount()),
              std::vector<std::string>{"News "});
}

TEST(ConfigCurparam, AProcessingSetWithoutHeaderEndsTheSets) {
    // Three sets announced, one written; the line after it is taken as the
    // missing header, then the profile list follows as usual.
    CurparamFile layout;
    layout.sets = {{258, 1}};
    layout.profiles = {"C:\\p\\A", "C:\\p\\B"};
    std::vector<std::string> lines = CurparamLines(layout);
    auto setHeader = std::find(lines.begin() + 1, lines.end(), "????");
    ASSERT_NE(setHeader, lines.end());
    ASSERT_EQ(*(setHeader - 1), "1");
    *(setHeader - 1) = "3";
    auto profileDrop = std::find(lines.rbegin(), lines.rend(), "cp-drop");
    lines.insert(profileDrop.base() - 1, "END OF SETS");
    lines.push_back("AFTER");
    StreamFile file(Join(lines));
    QOR_CurparamData data;
    ASSERT_EQ(data.Read(file.stream), 0);
    EXPECT_EQ(NamesOf(data, &QOR_CurparamData::ProfileName, data.ProfileCount()),
              (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(AllLines(file.stream, 256), std::vector<std::string>{"AFTER"});
}

TEST(ConfigCurparam, AZeroProfileCountKeepsNoProfiles) {
    CurparamFile layout;
    layout.version = 300;
    StreamFile file(Join(CurparamLines(layout)));
    QOR_CurparamData data;
    ASSERT_EQ(data.Read(file.stream), 0);
    EXPECT_EQ(data.ProfileCount(), 0);
}

TEST(ConfigCurparam, MalformedFiles) {
    CurparamFile layout;
    layout.listA = {"C:\\s\\A#1"};
    layout.listB = {"C:\\s\\B#1"};
    layout.sets = {{259, 1}};
    layout.profiles = {"C:\\p\\P"};
    const std::vector<std::string> good = CurparamLines(layout);

    // Lines holding counts, by their index in the good file.
    const std::size_t countA = 4;
    const std::size_t countB = 7;
    const std::size_t firstSkip = 10;
    const std::size_t setCount = good.size() - 1 - 3 - 19;
    const std::size_t profileCount = good.size() - 2;
    ASSERT_EQ(good[setCount], "1");
    ASSERT_EQ(good[setCount + 1], "????");
    ASSERT_EQ(good[profileCount], "1");

    struct Case {
        const char* name;
        std::size_t line;
        std::string text;
        int result;
    };
    const Case cases[] = {
        {"unknown path style", 1, "3", kConfigBadFormat},
        {"negative path style", 1, "-1", kConfigBadFormat},
        {"style not a number", 1, "mac", -1},
        {"version not a number", 2, "v258", -1},
        {"negative count A", countA, "-1", kConfigBadFormat},
        {"negative count B", countB, "-2147483648", kConfigBadFormat},
        {"negative skip count", firstSkip, "-5", kConfigBadFormat},
        {"negative set count", setCount, "-1", kConfigBadFormat},
        {"negative profile count", profileCount, "-3", kConfigBadFormat},
        {"huge count A", countA, "2147483647", -1},
        {"huge count B", countB, "99999999999999", -1},
        {"huge skip count", firstSkip, "2147483647", -1},
        {"huge set count", setCount, "2147483647", -1},
        {"huge profile count", profileCount, "2147483647", -1},
        {"count not a number", countA, "one", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> lines = good;
        lines[c.line] = c.text;
        StreamFile file(Join(lines));
        QOR_CurparamData data;
        EXPECT_EQ(data.Read(file.stream), c.result);
        EXPECT_LE(data.ProfileCount(), 1);
        EXPECT_LE(data.ParameterCountA(), static_cast<int>(good.size()));
        EXPECT_LE(data.ParameterCountB(), static_cast<int>(good.size()));
    }

    // A file cut anywhere fails but keeps what it read, never more.
    for (std::size_t keep = 1; keep < good.size(); ++keep) {
        SCOPED_TRACE(keep);
        std::vector<std::string> head(good.begin(), good.begin() + static_cast<long>(keep));
        StreamFile file(Join(head));
        QOR_CurparamData data;
        EXPECT_EQ(data.Read(file.stream), -1);
        EXPECT_LE(data.ParameterCountA(), 1);
        EXPECT_EQ(data.ProfileCount(), 0);
    }

    // Without its header the file is an empty set of names.
    std::vector<std::string> lines = good;
    lines[0] = "curparam";
    StreamFile file(Join(lines));
    QOR_CurparamData data;
    EXPECT_EQ(data.Read(file.stream), 0);
    EXPECT_EQ(data.PathStyle(), -1);
    EXPECT_EQ(data.ParameterCountA(), 0);
    EXPECT_EQ(data.ProfileCount(), 0);
}

TEST(ConfigCurparam, AHugeCountKeepsOnlyTheEntriesThatExist) {
    CurparamFile layout;
    layout.profiles = {"C:\\p\\A", "C:\\p\\B"};
    std::vector<std::string> lines = CurparamLines(layout);
    lines[lines.size() - 3] = "2147483647";
    StreamFile file(Join(lines));
    QOR_CurparamData data;
    EXPECT_EQ(data.Read(file.stream), -1);
    EXPECT_EQ(NamesOf(data, &QOR_CurparamData::ProfileName, data.ProfileCount()),
              (std::vector<std::string>{"A", "B"}));
}

// ---------------------------------------------------------------------------
// LoadParameters

class ConfigServer : public ::testing::Test {
protected:
    std::string Data(const std::string& name) const { return dir / ("Data" + kSep + name); }

    void WriteData(const std::string& name, const std::vector<std::string>& lines) {
        WriteFile(Data(name), Join(lines));
    }

    // A profile file of version 260: file options with the given formats and
    // a colour correction with the given modes.
    void WriteProfile(const std::string& name, int (&&formats)[3], const std::string& modes) {
        auto block = [](int format) {
            switch (format) {
            case 0:
            case 4:
                return Block(format, 3);
            case 1:
                return Block(format, 36);
            case 5:
                return Block(format, 2);
            case 8:
                return Block(format, 4);
            default:
                return Block(format, 0);
            }
        };
        const std::vector<std::string> blocks[3] = {block(formats[0]), block(formats[1]),
                                                    block(formats[2])};
        std::vector<std::string> lines = FileLines(260, formats, blocks);
        ColorSection color;
        color.modes = modes;
        color.texts[0] = "profile " + name;
        Append(lines, ColorLines(color));
        WriteData("profiles" + kSep + name, lines);
    }

    void WriteDefaultProfile() {
        ColorSection color;
        color.modes = "1 3 1";
        color.texts[3] = "default four";
        WriteData("ccoopt.txt", ColorLines(color));
        const int formats[3] = {4, 0, 1};
        const std::vector<std::string> blocks[3] = {Block(4, 3), Block(0, 3), Block(1, 36)};
        WriteData("fileopt.txt", FileLines(260, formats, blocks));
    }

    TempDir dir;
    FolderEndPoint endpoint{dir.Path()};
};

TEST_F(ConfigServer, LoadsTheDefaultAndTheNamedProfiles) {
    CurparamFile curparam;
    curparam.listA = {"C:\\s\\Sharp#3", "C:\\s\\Hidden"};
    curparam.listB = {"C:\\s\\Gray#1"};
    curparam.profiles = {"C:\\p\\Good",     "C:\\p\\Missing", "C:\\p\\Truncated",
                         "C:\\p\\NoHeader", "C:\\p\\Garbage", "C:\\p\\Second"};
    WriteData("curparam.txt", CurparamLines(curparam));
    WriteDefaultProfile();
    WriteProfile("Good", {0, 1, 4}, "4 5 2");
    WriteProfile("Second", {8, 8, 5}, "0 0 0");
    WriteData("profiles" + kSep + "Truncated", {"????", "7", "260", "drop", "0"});
    WriteData("profiles" + kSep + "NoHeader", {"TIFF", "0"});
    WriteFile(Data("profiles" + kSep + "Garbage"), std::string("\0\xff\x01????\n\n", 9));

    std::unique_ptr<QOR_Parameters> parameters = LoadParameters(&endpoint);
    ASSERT_NE(parameters, nullptr);
    const QOR_CurparamData& names = parameters->Curparam();
    EXPECT_EQ(NamesOf(names, &QOR_CurparamData::ProfileName, names.ProfileCount()),
              (std::vector<std::string>{"Good", "Missing", "Truncated", "NoHeader", "Garbage",
                                        "Second"}));
    EXPECT_EQ(NamesOf(names, &QOR_CurparamData::ParameterNameA, names.ParameterCountA()),
              (std::vector<std::string>{"Sharp", ""}));
    EXPECT_EQ(NamesOf(names, &QOR_CurparamData::ParameterNameB, names.ParameterCountB()),
              std::vector<std::string>{"Gray"});
    ASSERT_EQ(parameters->JobProfileCount(), 7);
    EXPECT_EQ(parameters->JobProfile(7), nullptr);
    EXPECT_EQ(parameters->JobProfile(-1), nullptr);

    struct Expect {
        bool usable;
        int modes[3];
        int formats[3];
    };
    const Expect expect[] = {
        {true, {1, 3, 1}, {4, 0, 1}}, // default
        {true, {4, 5, 2}, {0, 1, 4}}, // Good
        {false, {0, 0, 0}, {0, 0, 0}}, {false, {0, 0, 0}, {0, 0, 0}}, {false, {0, 0, 0}, {0, 0, 0}},
        {false, {0, 0, 0}, {0, 0, 0}}, {true, {0, 0, 0}, {8, 8, 5}}, // Second
    };
    for (int i = 0; i < parameters->JobProfileCount(); ++i) {
        SCOPED_TRACE(i);
        const QOR_JobProfileOptions* profile = parameters->JobProfile(i);
        const Expect& e = expect[i];
        EXPECT_EQ(profile->IsUsable(), e.usable);
        EXPECT_EQ(profile->colorCorrection.valid, e.usable ? 1 : 0);
        EXPECT_EQ(profile->fileOptions.valid, e.usable ? 1 : 0);
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(profile->colorCorrection.modes[k], e.modes[k]);
            EXPECT_EQ(profile->fileOptions.formats[k], e.formats[k]);
        }
    }
    EXPECT_STREQ(parameters->JobProfile(0)->colorCorrection.texts[3], "default four");
    EXPECT_STREQ(parameters->JobProfile(1)->colorCorrection.texts[0], "profile Good");

    // What the dialogs show for the default profile: a gray image gives a gray
    // JPEG, an RGB image a gray TIFF, a CMYK image a gray JPEG.
    const QOR_JobProfileOptions& def = *parameters->JobProfile(0);
    int outcomes[3];
    for (int kind = 0; kind < 3; ++kind) {
        outcomes[kind] = ProcessOutcome(def.colorCorrection, kind);
    }
    EXPECT_EQ(outcomes[0], 10);
    EXPECT_EQ(outcomes[1], 10);
    EXPECT_EQ(outcomes[2], 10);
    EXPECT_STREQ(FormatCodeName(ResultFormat(def.fileOptions, outcomes[0])), "JPEG");
    // The Good profile: gray -> CMYK, RGB -> CMYK, CMYK -> RGB.
    const QOR_JobProfileOptions& good = *parameters->JobProfile(1);
    EXPECT_EQ(ProcessOutcome(good.colorCorrection, 0), 2);
    EXPECT_EQ(ProcessOutcome(good.colorCorrection, 1), 2);
    EXPECT_EQ(ProcessOutcome(good.colorCorrection, 2), 1);
    EXPECT_STREQ(FormatCodeName(ResultFormat(good.fileOptions, 2)), "JPEG");
    EXPECT_STREQ(FormatCodeName(ResultFormat(good.fileOptions, 1)), "EPS ");
}

TEST_F(ConfigServer, Version256HasOnlyTheDefaultProfile) {
    CurparamFile curparam;
    curparam.version = 256;
    curparam.listA = {"C:\\s\\Sharp#3"};
    WriteData("curparam.txt", CurparamLines(curparam));
    WriteDefaultProfile();
    std::unique_ptr<QOR_Parameters> parameters = LoadParameters(&endpoint);
    ASSERT_NE(parameters, nullptr);
    EXPECT_EQ(parameters->Curparam().ProfileCount(), 0);
    ASSERT_EQ(parameters->JobProfileCount(), 1);
    EXPECT_TRUE(parameters->JobProfile(0)->IsUsable());
}

TEST_F(ConfigServer, ADefaultProfileThatDoesNotLoadStaysInvalid) {
    CurparamFile curparam;
    curparam.profiles = {"C:\\p\\Good"};
    WriteData("curparam.txt", CurparamLines(curparam));
    WriteProfile("Good", {0, 0, 0}, "0 0 0");

    struct Case {
        const char* name;
        bool ccoopt;
        bool fileopt;
    };
    const Case cases[] = {{"no files", false, false},
                          {"no fileopt.txt", true, false},
                          {"no ccoopt.txt", false, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteDefaultProfile();
        if (!c.ccoopt) {
            std::filesystem::remove(Data("ccoopt.txt"));
        }
        if (!c.fileopt) {
            std::filesystem::remove(Data("fileopt.txt"));
        }
        EXPECT_EQ(LoadJobProfile(&endpoint, nullptr), nullptr);
        std::unique_ptr<QOR_Parameters> parameters = LoadParameters(&endpoint);
        ASSERT_NE(parameters, nullptr);
        ASSERT_EQ(parameters->JobProfileCount(), 2);
        EXPECT_FALSE(parameters->JobProfile(0)->IsUsable());
        EXPECT_EQ(parameters->JobProfile(0)->colorCorrection.valid, 0);
        EXPECT_EQ(parameters->JobProfile(0)->fileOptions.valid, 0);
        EXPECT_TRUE(parameters->JobProfile(1)->IsUsable());
    }
}

TEST_F(ConfigServer, WithoutCurparamThereAreNoParameters) {
    WriteDefaultProfile();
    EXPECT_EQ(LoadParameters(&endpoint), nullptr);
    EXPECT_EQ(LoadParameters(nullptr), nullptr);
    EXPECT_EQ(LoadCurparam(nullptr), nullptr);
    EXPECT_EQ(LoadJobProfile(nullptr, nullptr), nullptr);
    EXPECT_EQ(LoadJobProfile(nullptr, "Good"), nullptr);
}

TEST_F(ConfigServer, ACurparamThatBreaksOffStillGivesParameters) {
    CurparamFile curparam;
    curparam.profiles = {"C:\\p\\A", "C:\\p\\B", "C:\\p\\C"};
    std::vector<std::string> lines = CurparamLines(curparam);
    lines.pop_back(); // the last profile name is missing
    WriteData("curparam.txt", lines);
    WriteDefaultProfile();
    std::unique_ptr<QOR_Parameters> parameters = LoadParameters(&endpoint);
    ASSERT_NE(parameters, nullptr);
    EXPECT_EQ(parameters->JobProfileCount(), 3);

    WriteFile(Data("curparam.txt"), "not a configuration file\x01\x02");
    parameters = LoadParameters(&endpoint);
    ASSERT_NE(parameters, nullptr);
    EXPECT_EQ(parameters->JobProfileCount(), 1);
    EXPECT_TRUE(parameters->JobProfile(0)->IsUsable());
}

TEST_F(ConfigServer, ProfileNamesNeverLeaveTheProfilesFolder) {
    // Mac-style names can hold characters that are separators here.
    CurparamFile curparam;
    curparam.style = 0;
    curparam.profiles = {"Srv:Profiles:sub/Inner", "Srv:Profiles:..", "Srv:Profiles:.",
                         "Srv:Profiles:", "Srv:Profiles:Plain"};
    WriteData("curparam.txt", CurparamLines(curparam));
    WriteDefaultProfile();
    WriteProfile("sub" + kSep + "Inner", {0, 0, 0}, "0 0 0");
    WriteProfile("Plain", {0, 0, 0}, "0 0 0");
    std::unique_ptr<QOR_Parameters> parameters = LoadParameters(&endpoint);
    ASSERT_NE(parameters, nullptr);
    ASSERT_EQ(parameters->JobProfileCount(), 6);
    for (int i = 1; i <= 4; ++i) {
        EXPECT_FALSE(parameters->JobProfile(i)->IsUsable()) << i;
    }
    EXPECT_TRUE(parameters->JobProfile(5)->IsUsable());
    EXPECT_EQ(LoadJobProfile(&endpoint, "sub/Inner"), nullptr);
    EXPECT_NE(LoadJobProfile(&endpoint, "Plain"), nullptr);
}

TEST_F(ConfigServer, CopiesCarryNamesAndEveryProfile) {
    CurparamFile curparam;
    curparam.listA = {"C:\\s\\Sharp#3"};
    curparam.listB = {"C:\\s\\Gray#1", "C:\\s\\Dark#2"};
    curparam.profiles = {"C:\\p\\Good", "C:\\p\\Missing"};
    WriteData("curparam.txt", CurparamLines(curparam));
    WriteDefaultProfile();
    WriteProfile("Good", {0, 1, 4}, "4 5 2");
    std::unique_ptr<QOR_Parameters> original = LoadParameters(&endpoint);
    ASSERT_NE(original, nullptr);

    QOR_Parameters copy(*original);
    QOR_Parameters assigned;
    assigned = *original;
    // Changing the original afterwards must not reach the copies.
    original->JobProfile(1)->colorCorrection.modes[0] = 99;
    std::strcpy(original->JobProfile(1)->colorCorrection.texts[0], "changed");
    original->JobProfile(0)->fileOptions.valid = 0;
    original->Curparam() = QOR_CurparamData();

    for (const QOR_Parameters* p : {&copy, &assigned}) {
        const QOR_CurparamData& names = p->Curparam();
        EXPECT_EQ(NamesOf(names, &QOR_CurparamData::ProfileName, names.ProfileCount()),
                  (std::vector<std::string>{"Good", "Missing"}));
        EXPECT_EQ(NamesOf(names, &QOR_CurparamData::ParameterNameA, names.ParameterCountA()),
                  std::vector<std::string>{"Sharp"});
        EXPECT_EQ(NamesOf(names, &QOR_CurparamData::ParameterNameB, names.ParameterCountB()),
                  (std::vector<std::string>{"Gray", "Dark"}));
        ASSERT_EQ(p->JobProfileCount(), 3);
        EXPECT_TRUE(p->JobProfile(0)->IsUsable());
        EXPECT_TRUE(p->JobProfile(1)->IsUsable());
        EXPECT_FALSE(p->JobProfile(2)->IsUsable());
        EXPECT_EQ(p->JobProfile(1)->colorCorrection.modes[0], 4);
        EXPECT_EQ(p->JobProfile(1)->colorCorrection.modes[2], 2);
        EXPECT_STREQ(p->JobProfile(1)->colorCorrection.texts[0], "profile Good");
        EXPECT_STREQ(p->JobProfile(1)->colorCorrection.texts[2], "text three");
        EXPECT_EQ(p->JobProfile(1)->fileOptions.formats[2], 4);
    }
    // Assigning over a larger set takes the other's size.
    QOR_Parameters big(10);
    big = copy;
    EXPECT_EQ(big.JobProfileCount(), 3);
    const QOR_Parameters& alias = big;
    big = alias;
    EXPECT_EQ(big.JobProfileCount(), 3);
}

// ---------------------------------------------------------------------------
// Path conversion

TEST_F(ConfigServer, PathConversionsAreReadPairByPair) {
    WriteData("convpath.txt",
              {"\"Server:Images:\" \"/mnt/images/\"", "", "## a remark", "",
               "  \"\\\\srv\\share\"\t\"/mnt/share\" trailing text", "\"\" \"empty first\""});
    ASSERT_EQ(LoadPathConversions(&endpoint), 0);
    const std::vector<QOR_PathConversion>& list = PathConversions();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].first, "Server:Images:");
    EXPECT_EQ(list[0].second, "/mnt/images/");
    EXPECT_EQ(list[1].first, "\\\\srv\\share");
    EXPECT_EQ(list[1].second, "/mnt/share");
    EXPECT_EQ(list[2].first, "");
    EXPECT_EQ(list[2].second, "empty first");
}

TEST_F(ConfigServer, ALineWithoutCompleteQuotesEndsTheList) {
    struct Case {
        const char* name;
        std::string bad;
        std::string first;
        std::string second;
    };
    const Case cases[] = {
        {"no quotes", "just text", "", ""},
        {"one quote", "\"open", "", ""},
        {"first pair only", "\"A:x\"", "A:x", ""},
        {"second pair open", "\"A:x\" \"/b", "A:x", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteData("convpath.txt", {"\"V:a\" \"/x/a\"", c.bad, "\"V:b\" \"/x/b\""});
        ASSERT_EQ(LoadPathConversions(&endpoint), 0);
        const std::vector<QOR_PathConversion>& list = PathConversions();
        ASSERT_EQ(list.size(), 2u);
        EXPECT_EQ(list[0].first, "V:a");
        EXPECT_EQ(list[1].first, c.first);
        EXPECT_EQ(list[1].second, c.second);
    }
}

TEST_F(ConfigServer, EachLoadReplacesThePathConversions) {
    WriteData("convpath.txt", {"\"V:a\" \"/x/a\"", "\"V:b\" \"/x/b\""});
    ASSERT_EQ(LoadPathConversions(&endpoint), 0);
    ASSERT_EQ(PathConversions().size(), 2u);
    WriteData("convpath.txt", {"\"V:c\" \"/x/c\""});
    ASSERT_EQ(LoadPathConversions(&endpoint), 0);
    ASSERT_EQ(PathConversions().size(), 1u);
    EXPECT_EQ(PathConversions()[0].first, "V:c");

    std::filesystem::remove(Data("convpath.txt"));
    EXPECT_EQ(LoadPathConversions(&endpoint), kConfigMissingFile);
    EXPECT_TRUE(PathConversions().empty());
    WriteData("convpath.txt", {"\"V:c\" \"/x/c\""});
    EXPECT_EQ(LoadPathConversions(nullptr), kConfigMissingFile);
    EXPECT_TRUE(PathConversions().empty());
    WriteFile(Data("convpath.txt"), "");
    EXPECT_EQ(LoadPathConversions(&endpoint), 0);
    EXPECT_TRUE(PathConversions().empty());
}

// ---------------------------------------------------------------------------
// MapServerPath

class MapPath : public ConfigServer {
protected:
    void SetUp() override {
        WriteFile(dir / ("Images" + kSep + "pic.tif"), "image");
        WriteFile(dir / ("local" + kSep + "sub" + kSep + "pic.tif"), "image");
        local = dir / "local";
    }
    void Conversions(const std::vector<std::pair<std::string, std::string>>& pairs) {
        std::vector<std::string> lines;
        for (const auto& pair : pairs) {
            lines.push_back("\"" + pair.first + "\" \"" + pair.second + "\"");
        }
        WriteData("convpath.txt", lines);
        ASSERT_EQ(LoadPathConversions(&endpoint), 0);
        ASSERT_EQ(PathConversions().size(), pairs.size());
    }
    // Maps the text in a full-size path buffer; result and mapped text.
    std::pair<int, std::string> Map(const std::string& text, int style) {
        char path[kServerPathCapacity];
        CopyBounded(path, sizeof path, text.c_str());
        int result = MapServerPath(&endpoint, path, style);
        return {result, path};
    }
    struct MapCase {
        const char* name;
        std::string path;
        int style;
        int result;
        std::string mapped;
    };
    void ExpectMaps(const std::vector<MapCase>& cases) {
        for (const MapCase& c : cases) {
            SCOPED_TRACE(c.name);
            EXPECT_EQ(Map(c.path, c.style), std::make_pair(c.result, c.mapped));
        }
    }

    std::string local;
};

TEST_F(MapPath, RelativePathsLieUnderTheServerRoot) {
    Conversions({});
    const std::string image = dir / ("Images" + kSep + "pic.tif");
    const std::string absent = dir / ("Images" + kSep + "none.tif");
    ExpectMaps({
        {"Windows folder and file", "Images\\pic.tif", 1, 0, image},
        {"Windows leading backslash", "\\Images\\pic.tif", 1, 0, image},
        {"Windows, file absent", "Images\\none.tif", 1, -1, absent},
        {"Mac leading colon", ":Images:pic.tif", 0, 0, image},
        {"Mac, file absent", ":Images:none.tif", 0, -1, absent},
        {"Unix", "Images/pic.tif", 2, 0, image},
        {"Unix empty is the root", "", 2, 0, dir.Path() + kSep},
    });
}

TEST_F(MapPath, AbsolutePathsGoThroughTheConversionPairs) {
    const std::string mapped = local + kSep + "sub" + kSep + "pic.tif";
    Conversions({
        {"Server:Images:", dir / "nowhere/"},      // matches, but the file is not there
        {"Other:Vol", local + kSep},               // does not match
        {"SERVER:images", local + kSep},           // matches without case
        {"\\\\srv\\share", local + kSep},          // Windows share
        {local + kSep + "x" + kSep, "D:\\Data\\"}, // server text second
        {local + kSep, "/srv/images/"},            // Unix: the second text is tried first
        {"plain", "words"},                        // no path kind: never used
    });
    ExpectMaps({
        {"Mac, second pair fits", "Server:Images:sub:pic.tif", 0, 0, mapped},
        {"Mac, no file anywhere", "Server:Images:sub:none.tif", 0, -1,
         "Server:Images:sub:none.tif"},
        {"Mac, no pair", "Elsewhere:sub:pic.tif", 0, -1, "Elsewhere:sub:pic.tif"},
        {"Windows share", "\\\\SRV\\share\\sub\\pic.tif", 1, 0, mapped},
        {"Windows drive, file absent", "d:\\data\\sub\\pic.tif", 1, -1, "d:\\data\\sub\\pic.tif"},
        {"Unix", "/srv/images/sub/pic.tif", 2, 0, mapped},
        {"existing path stays", mapped, 2, 0, mapped},
        {"style 3", "Server:Images:sub:pic.tif", 3, -1, "Server:Images:sub:pic.tif"},
        {"style -1", "Server:Images:sub:pic.tif", -1, -1, "Server:Images:sub:pic.tif"},
    });
}

TEST_F(MapPath, ATurnedPairMapsToItsFirstText) {
    WriteFile(dir / ("x" + kSep + "sub" + kSep + "pic.tif"), "image");
    Conversions({{dir / "x" + kSep, "D:\\Data"}});
    EXPECT_EQ(Map("D:\\DATA\\sub\\pic.tif", 1),
              std::make_pair(0, dir / ("x" + kSep + "sub" + kSep + "pic.tif")));
}

TEST_F(MapPath, APrefixWithoutSeparatorSkipsOneMoreCharacter) {
    Conversions({{"Vol:Images", local + kSep}, {"Vol:Pics:", local + kSep}});
    const std::string mapped = local + kSep + "sub" + kSep + "pic.tif";
    EXPECT_EQ(Map("Vol:Images:sub:pic.tif", 0), std::make_pair(0, mapped));
    EXPECT_EQ(Map("Vol:Pics:sub:pic.tif", 0), std::make_pair(0, mapped));
    // A path that is just the prefix is not cut beyond its end.
    EXPECT_EQ(Map("Vol:Images", 0), std::make_pair(0, local + kSep));
}

TEST_F(MapPath, PairsFitWholeFoldersAndTheLongestWins) {
    const auto file = [&](const std::string& folder, const std::string& name) {
        return dir / (folder + kSep + name);
    };
    for (const char* folder : {"one", "two", "deep"}) {
        WriteFile(file(folder, "photo.tif"), "image");
        WriteFile(file(folder, "Images2" + kSep + "photo.tif"), "image");
    }
    Conversions({
        {"Server:Images", dir / "one" + kSep},
        {"Server:Images2", dir / "two" + kSep},
        {"Vol:", dir / "one" + kSep},
        {"Vol:Images2:", dir / "deep" + kSep},
        {"Vol:Images2:Later", dir / "nowhere" + kSep},
    });
    ExpectMaps({
        {"a sibling folder is not the shorter pair's", "Server:Images2:photo.tif", 0, 0,
         file("two", "photo.tif")},
        {"the shorter pair still fits its own folder", "Server:Images:photo.tif", 0, 0,
         file("one", "photo.tif")},
        {"the longer pair wins over the volume", "Vol:Images2:photo.tif", 0, 0,
         file("deep", "photo.tif")},
        {"the longest pair whose file is absent is not left for a shorter one",
         "Vol:Images2:Later:photo.tif", 0, -1, "Vol:Images2:Later:photo.tif"},
        {"a name that only begins like a folder", "Server:Images3:photo.tif", 0, -1,
         "Server:Images3:photo.tif"},
    });
}

TEST_F(MapPath, PathsThatWouldNotFitFail) {
    Conversions({{"Vol:", local + kSep}});
    // The longest path the buffer holds: its rest alone nearly fills it, so the
    // local folder in front pushes the candidate past the limit.
    const std::string longRest = std::string(240, 'a') + ":" + std::string(240, 'b') + ":" +
                                 std::string(kServerPathCapacity - 1 - 4 - 482, 'c');
    const std::string longPath = "Vol:" + longRest;
    ASSERT_EQ(longPath.size(), kServerPathCapacity - 1);
    struct Case {
        const char* name;
        std::string path;
        int style;
    };
    const Case cases[] = {
        {"candidate too long", longPath, 0},
        {"relative result too long", std::string(500, 'a') + "\\pic.tif", 1},
        {"relative result one past the limit",
         std::string(kServerPathCapacity - 1 - dir.Path().size(), 'a'), 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_LT(c.path.size(), kServerPathCapacity);
        EXPECT_EQ(Map(c.path, c.style), std::make_pair(-1, c.path));
    }
    // One character less fits: the result is stored even though no file is there.
    const std::string fits(kServerPathCapacity - 2 - dir.Path().size(), 'a');
    EXPECT_EQ(Map(fits, 2), std::make_pair(-1, dir.Path() + kSep + fits));
}

TEST_F(MapPath, AnUnterminatedBufferIsRefused) {
    Conversions({{"Vol:", local + kSep}});
    char path[kServerPathCapacity];
    std::memset(path, 'a', sizeof path);
    path[1] = ':';
    EXPECT_EQ(MapServerPath(&endpoint, path, 0), -1);
    EXPECT_EQ(MapServerPath(&endpoint, nullptr, 0), -1);
    char relative[] = "Images\\pic.tif";
    EXPECT_EQ(MapServerPath(nullptr, relative, 1), -1);
    EXPECT_STREQ(relative, "Images\\pic.tif");
}

// ---------------------------------------------------------------------------
// Outcomes and format names

TEST(ConfigOutcome, EveryKindAndMode) {
    struct Row {
        int kind;
        std::vector<int> gray;
        std::vector<int> rgb;
        std::vector<int> cmyk;
    };
    // The modes that give each result; every other mode gives 0.
    const Row rows[] = {
        {0, {0, 1}, {}, {4, 5}},
        {1, {1, 3}, {0, 2}, {4, 5, 6, 7}},
        {2, {1}, {2}, {0, 5, 6}},
    };
    auto contains = [](const std::vector<int>& v, int x) {
        return std::find(v.begin(), v.end(), x) != v.end();
    };
    for (const Row& row : rows) {
        for (int mode = -3; mode <= 12; ++mode) {
            SCOPED_TRACE("kind " + std::to_string(row.kind) + " mode " + std::to_string(mode));
            QOR_ColorCorrectionOptions options;
            options.valid = 1;
            options.modes[0] = options.modes[1] = options.modes[2] = 99;
            options.modes[row.kind] = mode;
            int expected = contains(row.gray, mode)   ? 10
                           : contains(row.rgb, mode)  ? 1
                           : contains(row.cmyk, mode) ? 2
                                                      : 0;
            EXPECT_EQ(ProcessOutcome(options, row.kind), expected);
            options.valid = 0;
            EXPECT_EQ(ProcessOutcome(options, row.kind), 0);
        }
    }
    QOR_ColorCorrectionOptions options;
    options.valid = 1;
    for (int kind : {-1, 3, 4, INT_MIN, INT_MAX}) {
        EXPECT_EQ(ProcessOutcome(options, kind), 0) << kind;
    }
    options.modes[1] = INT_MIN;
    EXPECT_EQ(ProcessOutcome(options, 1), 0);
}

TEST(ConfigOutcome, FormatOfEachResult) {
    QOR_FileOptions options;
    options.formats[0] = 4;
    options.formats[1] = 1;
    options.formats[2] = 8;
    EXPECT_EQ(ResultFormat(options, 10), 4);
    EXPECT_EQ(ResultFormat(options, 1), 1);
    EXPECT_EQ(ResultFormat(options, 2), 8);
    EXPECT_EQ(ResultFormat(options, 0), -1);
    EXPECT_EQ(ResultFormat(options, 3), -1);
    EXPECT_STREQ(FormatCodeName(ResultFormat(options, 0)), "????");
}

TEST(ConfigOutcome, FormatCodeNames) {
    const std::pair<int, const char*> names[] = {
        {0, "TIFF"},  {1, "EPS "},   {2, "????"},       {3, "????"},       {4, "JPEG"},
        {5, "TGA "},  {6, "PCD "},   {7, "????"},       {8, "ZPAX"},       {9, "????"},
        {-1, "????"}, {256, "????"}, {INT_MIN, "????"}, {INT_MAX, "????"},
    };
    for (const auto& [code, name] : names) {
        EXPECT_STREQ(FormatCodeName(code), name) << code;
    }
}

// ---------------------------------------------------------------------------
// Garbage

TEST(ConfigGarbage, BinaryInputReadsAsInvalidWithoutHarm) {
    std::mt19937 random(20240517);
    for (int round = 0; round < 200; ++round) {
        SCOPED_TRACE(round);
        std::string bytes(static_cast<std::size_t>(random() % 3000), '\0');
        for (char& b : bytes) {
            // Mostly line material, so that the readers go deep.
            unsigned r = random() % 16;
            b = r < 4    ? '\n'
                : r < 6  ? '#'
                : r < 10 ? static_cast<char>('0' + random() % 10)
                         : static_cast<char>(random());
        }
        const std::string inputs[2] = {bytes, "????\n" + bytes};
        for (const std::string& input : inputs) {
            {
                StreamFile file(input);
                QOR_ColorCorrectionOptions options;
                options.Read(file.stream);
                if (input[0] != '?') {
                    EXPECT_EQ(options.valid, 0);
                }
            }
            {
                StreamFile file(input);
                QOR_FileOptions options;
                options.Read(file.stream);
                if (input[0] != '?') {
                    EXPECT_EQ(options.valid, 0);
                }
            }
            {
                StreamFile file(input);
                QOR_JobProfileOptions options;
                options.Read(file.stream);
            }
            {
                StreamFile file(input);
                QOR_CurparamData data;
                data.Read(file.stream);
                EXPECT_LE(data.ProfileCount(), static_cast<int>(input.size()));
            }
        }
    }
}

} // namespace
