#include "FolderEndPoint.h"
#include "QOR_Configuration.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <filesystem>
#include <random>
#include <tuple>
#include <vector>

namespace {

using Lines = std::vector<std::string>;
const std::string kSep(1, kPathSeparator);

std::string Join(const Lines& lines, const std::string& end = "\n") {
    std::string text;
    for (const std::string& line : lines) {
        text += line + end;
    }
    return text;
}

void Append(Lines& to, const Lines& more) {
    to.insert(to.end(), more.begin(), more.end());
}

// Writes the text to a file of its own and opens a stream on it.
struct StreamFile {
    explicit StreamFile(const std::string& bytes) {
        WriteFile(path, bytes);
        stream.Open(path.c_str(), "rb");
    }
    TempDir dir;
    std::string path = dir / "lines.txt";
    QOR_FileStream stream;
};

// Every line the stream gives with the given max, until it reports the end.
// The buffer is exactly max+1 bytes so that the sanitizers see any overrun.
Lines AllLines(QOR_FileStream& stream, int max) {
    Lines lines;
    for (int guard = 0; guard < 100000; ++guard) {
        std::vector<char> buffer(static_cast<std::size_t>(max) + 1, 'Z');
        int result = stream.ReadLine(buffer.data(), max);
        if (result != 0) {
            EXPECT_EQ(result, -1);
            EXPECT_STREQ(buffer.data(), "");
            EXPECT_EQ(stream.ReadLine(buffer.data(), max), -1); // the end stays the end
            return lines;
        }
        EXPECT_LE(std::strlen(buffer.data()), static_cast<std::size_t>(max));
        lines.emplace_back(buffer.data());
    }
    ADD_FAILURE() << "the stream never reported its end";
    return lines;
}

// Reads the text into data; rest gets the lines the reader left behind.
template <class T> int ReadText(T& data, const std::string& text, Lines* rest = nullptr) {
    StreamFile file(text);
    const int result = data.Read(file.stream);
    if (rest != nullptr) {
        *rest = AllLines(file.stream, 256);
    }
    return result;
}
template <class T> int ReadLines(T& data, const Lines& lines, Lines* rest = nullptr) {
    return ReadText(data, Join(lines), rest);
}

struct ColorSection {
    int version = 260;
    std::string modes = "0 2 5";
    std::string texts[4] = {"text one", "text two", "text three", "text four"};
};

Lines ColorLines(const ColorSection& s) {
    Lines lines = {
        "????",     "3",       std::to_string(s.version), "c1", "c2", "c3", "c4", s.modes,
        s.texts[0], s.texts[1]};
    lines.insert(lines.end(), s.version < 257 ? 1 : 0, "only before 257");
    Append(lines, {s.texts[2], s.texts[3]});
    Append(lines, s.version >= 259 ? Lines{"since 259 a", "since 259 b"} : Lines{});
    return lines;
}

// A file-options section; after format i come counts[i] option lines, of
// which for format 8 the second holds the variant number (kNoNumber: a word).
constexpr int kNoNumber = INT_MIN;
Lines FileLines(int version, const int (&formats)[3], const int (&counts)[3], int variant = 0) {
    Lines lines = {"????", "7", std::to_string(version), "f-drop"};
    for (int format : formats) {
        lines.push_back(std::to_string(format));
    }
    lines.insert(lines.end(), version > 257 ? 1 : 0, "f-drop since 258");
    for (int i = 0; i < 3; ++i) {
        Append(lines, {"pre", "pre", "pre"});
        lines.insert(lines.end(), static_cast<std::size_t>(counts[i]), "blk");
        if (formats[i] == 8 && counts[i] >= 2) {
            *(lines.end() - counts[i] + 1) = variant == kNoNumber ? "two" : std::to_string(variant);
        }
    }
    return lines;
}

// Version 260, with the block lengths of that version.
Lines FileLines260(const int (&formats)[3]) {
    const auto count = [](int f) {
        return f == 0 || f == 4 ? 3 : f == 1 ? 36 : f == 5 ? 2 : f == 8 ? 4 : 0;
    };
    return FileLines(260, formats, {count(formats[0]), count(formats[1]), count(formats[2])});
}

struct CurparamFile {
    int style = 1, version = 258;
    Lines listA = {}, listB = {};
    std::vector<int> skipped = {2, 0, 1, 3};    // only the first when version <= 256
    std::vector<std::pair<int, int>> sets = {}; // version, m (written from version 258 on)
    Lines profiles = {};
};

Lines CurparamLines(const CurparamFile& c) {
    Lines lines = {"????", std::to_string(c.style), std::to_string(c.version), "cp-drop"};
    for (const auto* list : {&c.listA, &c.listB}) {
        lines.push_back(std::to_string(list->size()));
        for (const std::string& entry : *list) {
            Append(lines, {"set file", entry});
        }
    }
    for (std::size_t i = 0; i < (c.version > 256 ? 4u : 1u); ++i) {
        lines.push_back(std::to_string(c.skipped[i]));
        lines.insert(lines.end(), static_cast<std::size_t>(c.skipped[i]), "skipped");
    }
    lines.push_back(std::to_string(c.sets.size()));
    for (const auto& [version, m] : c.sets) {
        Append(lines, {"????", "1", std::to_string(version)});
        lines.insert(lines.end(), version >= 259 ? 4 : 3, "set line");
        lines.insert(lines.end(), 10, "set body");
        if (version > 257) {
            lines.push_back(std::to_string(m));
            lines.insert(lines.end(), m != 0 ? 1 : 0, "set extra");
        }
    }
    if (c.version > 257) {
        Append(lines, {"cp-drop", std::to_string(c.profiles.size())});
        Append(lines, c.profiles);
    }
    return lines;
}

// Both lists, one processing set, one profile.
const CurparamFile kFull{
    .listA = {"C:\\s\\A#1"}, .listB = {"C:\\s\\B#1"}, .sets = {{259, 1}}, .profiles = {"C:\\p\\P"}};

// The profile names, the names of list A and of list B, each list ended by "|".
std::string Names(const QOR_CurparamData& d) {
    using Name = char* (QOR_CurparamData::*)(int, char*, std::size_t) const;
    const std::pair<int, Name> lists[] = {{d.ProfileCount(), &QOR_CurparamData::ProfileName},
                                          {d.ParameterCountA(), &QOR_CurparamData::ParameterNameA},
                                          {d.ParameterCountB(), &QOR_CurparamData::ParameterNameB}};
    std::string s;
    for (const auto& [count, lookup] : lists) {
        for (int i = 0; i < count; ++i) {
            std::string name(64, 'Z');
            s += std::string((d.*lookup)(i, name.data(), name.size())) + ",";
        }
        s += "|";
    }
    return s;
}
// Names, then per profile: usable and valid flags, modes, formats, first and last text.
std::string Summary(const QOR_Parameters& p) {
    std::string s = Names(p.Curparam());
    for (int i = 0; i < p.JobProfileCount(); ++i) {
        const QOR_ColorCorrectionOptions& c = p.JobProfile(i)->colorCorrection;
        const QOR_FileOptions& f = p.JobProfile(i)->fileOptions;
        s += std::to_string(p.JobProfile(i)->IsUsable()) + std::to_string(c.valid) +
             std::to_string(f.valid);
        for (int k = 0; k < 3; ++k) {
            s += " " + std::to_string(c.modes[k]) + "/" + std::to_string(f.formats[k]);
        }
        s += std::string(" ") + c.texts[0] + "/" + c.texts[3] + "|";
    }
    return s;
}

TEST(ConfigStream, SplitsLinesByTheCommentAndLineEndRulesAndKeepsItsState) {
    const struct {
        std::string name, bytes;
        int max;
        Lines lines;
    } cases[] = {{"remark after text", "text ##remark\nnext\n", 256, {"text ", "next"}},
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
                 {"blank remark line is text", "  ##c\n", 256, {"  "}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        StreamFile file(c.bytes);
        EXPECT_EQ(AllLines(file.stream, c.max), c.lines);
    }
    // Long lines never overrun the buffer (AllLines holds every line to max) and lose nothing.
    const std::string longLine(5000, 'x');
    for (int max : {1, 2, 31, 255, 256, 4999, 5000, 5001}) {
        SCOPED_TRACE(max);
        StreamFile file(longLine + "\n" + longLine);
        EXPECT_EQ(Join(AllLines(file.stream, max), ""), longLine + longLine);
    }
    // Opening, closing and the good state.
    QOR_FileStream stream;
    EXPECT_FALSE(stream.IsGood());
    EXPECT_EQ(stream.Close(), 0);
    char buffer[16];
    EXPECT_EQ(stream.ReadLine(buffer, 15), -1);
    StreamFile abc("abc\n"); // a buffer without room reads nothing
    buffer[0] = 'Z';
    EXPECT_EQ(abc.stream.ReadLine(buffer, 0), -1);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(abc.stream.ReadLine(nullptr, 10), -1);
    EXPECT_EQ(abc.stream.ReadLine(buffer, -5), -1);
    EXPECT_EQ(AllLines(abc.stream, 10), Lines{"abc"}); // nothing was consumed
    try {
        stream.Open((abc.dir / "absent.txt").c_str(), "rb");
        FAIL() << "opening a missing file must throw";
    } catch (const IMG_Exception& e) {
        EXPECT_EQ(e.Code(), -4);
    }
    EXPECT_FALSE(stream.IsGood());
    WriteFile(abc.dir / "two.txt", "one\ntwo");
    stream.Open((abc.dir / "two.txt").c_str(), "rb");
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

TEST(ConfigSections, EveryVersionAndFormatBlockReadsBackWholeAndFailsWhenCut) {
    for (int version : {256, 257, 258, 259, 260, 261}) {
        for (bool remarked : {false, true}) {
            SCOPED_TRACE(std::to_string(version) + (remarked ? " with remarks and CRLF" : ""));
            // Long texts are kept whole.
            const ColorSection section{
                version, "1 -3 6", {"text one", std::string(256, 't'), "text three", "text four"}};
            Lines lines = ColorLines(section);
            if (remarked) { // a remark line before every third line
                lines[2] += " ##the version";
                for (std::size_t i = 0; i < lines.size(); i += 4) {
                    lines.insert(lines.begin() + static_cast<long>(i),
                                 "## remark " + std::to_string(i));
                }
            }
            lines.push_back("AFTER");
            QOR_ColorCorrectionOptions o;
            Lines rest;
            ASSERT_EQ(ReadText(o, Join(lines, remarked ? "\r\n" : "\n"), &rest), 0);
            EXPECT_EQ(std::tuple(o.valid, o.GetVersion(), o.modes[0], o.modes[1], o.modes[2],
                                 Lines(o.texts, o.texts + 4), rest),
                      std::tuple(1, version, 1, -3, 6, Lines(section.texts, section.texts + 4),
                                 Lines{"AFTER"}));
        }
    }
    // A section cut after any of its lines reports the failed read and is never
    // offered; a curparam.txt keeps what it read, never more.
    const auto cut = [](const Lines& all, const auto& check) {
        for (std::size_t keep = 1; keep < all.size(); ++keep) {
            SCOPED_TRACE("lines kept: " + std::to_string(keep));
            check(Lines(all.begin(), all.begin() + keep));
        }
    };
    cut(ColorLines({}), [](const Lines& head) {
        QOR_ColorCorrectionOptions options;
        EXPECT_EQ(ReadLines(options, head), -1);
        EXPECT_EQ(options.valid, 0);
    });
    cut(FileLines260({1, 0, 4}), [](const Lines& head) {
        QOR_FileOptions options;
        EXPECT_EQ(ReadLines(options, head), -1);
        QOR_JobProfileOptions profile;
        EXPECT_NE(ReadLines(profile, head), 0);
        EXPECT_FALSE(profile.IsUsable());
    });
    cut(CurparamLines(kFull), [](const Lines& head) {
        QOR_CurparamData data;
        EXPECT_EQ(ReadLines(data, head), -1);
        EXPECT_LE(data.ParameterCountA(), 1);
        EXPECT_EQ(data.ProfileCount(), 0);
    });
    // Every format's option block of every version, alone or mixed in one profile, is skipped
    // exactly: the colour correction behind it only reads when every line before it was taken.
    struct Row {
        int version, formats[3], lines[3], variant; // variant: the number in a format-8 block
    };
    std::vector<Row> rows = {{260, {0, 4, 1}, {3, 3, 36}, 1},
                             {256, {0, 4, 1}, {3, 1, 33}, 1},
                             {261, {8, 1, 4}, {4, 36, 4}, 1},
                             {257, {5, 2, 1}, {2, 0, 35}, 1}};
    const auto alone = [&](int format, int version, int lines, int variant) {
        rows.push_back({version, {format, format, format}, {lines, lines, lines}, variant});
    };
    const int fixed[][3] = {{1, 256, 33}, {1, 257, 35}, {1, 259, 36}, {1, 260, 36}, {1, 261, 36},
                            {4, 256, 1},  {4, 257, 1},  {4, 259, 1},  {4, 260, 3},  {4, 261, 4}};
    for (const auto& [format, version, lines] : fixed) {
        alone(format, version, lines, 0);
    }
    for (int version : {256, 257, 259, 260, 261}) {
        alone(0, version, 3, 0);
        alone(5, version, 2, 0);
        alone(8, version, 5, 2);
        for (int variant : {1, 0, -2, kNoNumber}) { // only variant 2 has a fifth line
            alone(8, version, 4, variant);
        }
        for (int other : {2, 3, 6, 7, 9, -1, 100000}) {
            alone(other, version, 0, 0);
        }
    }
    for (const Row& row : rows) {
        SCOPED_TRACE("formats " + testing::PrintToString(row.formats) + " version " +
                     std::to_string(row.version) + " variant " + std::to_string(row.variant));
        Lines lines = FileLines(row.version, row.formats, row.lines, row.variant);
        Append(lines, ColorLines({}));
        lines.push_back("AFTER");
        QOR_JobProfileOptions profile;
        Lines rest;
        ASSERT_EQ(ReadLines(profile, lines, &rest), 0);
        const QOR_FileOptions& f = profile.fileOptions;
        const QOR_ColorCorrectionOptions& c = profile.colorCorrection;
        EXPECT_EQ(std::tuple(f.valid, f.GetVersion(), f.formats[0], f.formats[1], f.formats[2],
                             c.valid, std::string(c.texts[0]), profile.IsUsable(), rest),
                  std::tuple(1, row.version, row.formats[0], row.formats[1], row.formats[2], 1,
                             std::string("text one"), true, Lines{"AFTER"}));
    }
}

TEST(ConfigCurparam, NamesAreTheLastPartCutAtTheFirstHashAndBadCountsFailClearly) {
    const std::string longName(40, 'n');
    const struct {
        int style;
        Lines entries, raw;
    } cases[] = {
        {0, {"Server:Sets:Sharp#2", "Sharp#2", "Vol:a/b"}, {"Sharp#2", "", "a/b"}},
        {1, {"C:\\x\\Sharp#2", "C:/x/Sharp#2", "\\\\s\\x\\"}, {"Sharp#2", "", ""}},
        {2, {"/x/Sharp#2", "C:\\x\\y", "/x/" + longName}, {"Sharp#2", "", longName.substr(0, 31)}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.style);
        CurparamFile file{.style = c.style, .listA = c.entries, .listB = c.entries};
        file.profiles = c.entries;
        QOR_CurparamData d;
        ASSERT_EQ(ReadLines(d, CurparamLines(file)), 0);
        const int n = static_cast<int>(c.raw.size());
        ASSERT_EQ(
            std::tuple(d.PathStyle(), d.ParameterCountA(), d.ParameterCountB(), d.ProfileCount()),
            std::tuple(c.style, n, n, n));
        for (int i = 0; i < d.ProfileCount(); ++i) {
            EXPECT_EQ((Lines{d.ParameterEntryA(i), d.ParameterEntryB(i), d.ProfileEntry(i)}),
                      Lines(3, c.raw[static_cast<std::size_t>(i)]));
        }
    }
    // Parameter names are cut at the first hash.
    const CurparamFile hashes{.listA = {"C:\\s\\Sharp#3", "C:\\s\\NoHash", "C:\\s\\#7",
                                        "C:\\s\\Two#a#b", "C:\\s\\Trail#"},
                              .listB = {"C:\\s\\" + std::string(30, 'b') + "#1", "C:\\s\\Plain"},
                              .profiles = {"C:\\p\\Prof#1"}};
    QOR_CurparamData data;
    ASSERT_EQ(ReadLines(data, CurparamLines(hashes)), 0);
    // Profile names are not cut.
    EXPECT_EQ(Names(data), "Prof#1,|Sharp,,,Two,Trail,|" + std::string(30, 'b') + ",,|");
    // Indexes outside the lists give empty names.
    for (int index : {-1, 5, 1000, INT_MIN, INT_MAX}) {
        char a[32] = "unchanged", b[32] = "unchanged", p[32] = "unchanged";
        EXPECT_EQ(std::string(data.ParameterNameA(index, a, sizeof a)) +
                      data.ParameterNameB(index, b, sizeof b) +
                      data.ProfileName(index, p, sizeof p) + data.ParameterEntryA(index),
                  "")
            << index;
    }
    // A small buffer gets a cut, terminated name.
    char small[4];
    EXPECT_STREQ(data.ParameterNameA(0, small, sizeof small), "Sha");
    EXPECT_STREQ(data.ProfileName(0, small, sizeof small), "Pro");
    // Every count line made negative fails as a bad format; made huge or no
    // number, as a failed read; and never more entries are kept than the file holds.
    const Lines good = CurparamLines(kFull);
    // Lines holding counts (list A, list B, first skip list, sets, profiles).
    const std::size_t counts[] = {4, 7, 10, good.size() - 1 - 3 - 19, good.size() - 2};
    ASSERT_EQ(good[counts[3] + 1], "????");
    const int bad = kConfigBadFormat;
    const std::pair<const char*, int> values[] = {
        {"-1", bad}, {"-2147483648", bad}, {"2147483647", -1}, {"99999999999999", -1}, {"one", -1}};
    // An unknown path style, a style or a version that is no number.
    std::vector<std::tuple<std::size_t, std::string, int>> edits = {
        {1, "3", bad}, {1, "-1", bad}, {1, "mac", -1}, {2, "v258", -1}};
    for (std::size_t line : counts) {
        ASSERT_EQ(good[line], line == 10 ? "2" : "1");
        for (const auto& [text, result] : values) {
            edits.emplace_back(line, text, result);
        }
    }
    for (const auto& [line, text, result] : edits) {
        SCOPED_TRACE("line " + std::to_string(line) + ": " + text);
        Lines lines = good;
        lines[line] = text;
        QOR_CurparamData broken;
        EXPECT_EQ(ReadLines(broken, lines), result);
        EXPECT_LE(broken.ProfileCount(), 1);
        EXPECT_LE(broken.ParameterCountA(), static_cast<int>(good.size()));
        EXPECT_LE(broken.ParameterCountB(), static_cast<int>(good.size()));
    }
}

struct ConfigServer : ::testing::Test {
    std::string Data(const std::string& name) const { return dir / ("Data" + kSep + name); }
    void WriteData(const std::string& name, const Lines& l) { WriteFile(Data(name), Join(l)); }
    // A profile file of version 260: file options with the given formats and
    // a colour correction with the given modes.
    void WriteProfile(const std::string& name, const int (&formats)[3], const std::string& modes) {
        Lines lines = FileLines260(formats);
        Append(lines,
               ColorLines({.modes = modes,
                           .texts = {"profile " + name, "text two", "text three", "text four"}}));
        WriteData("profiles" + kSep + name, lines);
    }

    // The path conversions as loaded, "first|second" a pair.
    static Lines Pairs() {
        Lines pairs;
        for (const QOR_PathConversion& c : PathConversions()) {
            pairs.push_back(c.first + "|" + c.second);
        }
        return pairs;
    }

    TempDir dir;
    FolderEndPoint endpoint{dir.Path()};
};

// Profiles that are missing, cut, headless or garbage stay unusable; copies
// keep every profile and name when the original changes afterwards.
TEST_F(ConfigServer, LoadsTheDefaultAndTheNamedProfilesAndCopiesThemFromAnyCurparam) {
    WriteData("curparam.txt",
              CurparamLines({.listA = {"C:\\s\\Sharp#3", "C:\\s\\Hidden"},
                             .listB = {"C:\\s\\Gray#1"},
                             .profiles = {"C:\\p\\Good", "C:\\p\\Missing", "C:\\p\\Truncated",
                                          "C:\\p\\NoHeader", "C:\\p\\Garbage", "C:\\p\\Second"}}));
    WriteData("ccoopt.txt",
              ColorLines({.modes = "1 3 1",
                          .texts = {"text one", "text two", "text three", "default four"}}));
    WriteData("fileopt.txt", FileLines260({4, 0, 1}));
    WriteProfile("Good", {0, 1, 4}, "4 5 2");
    WriteProfile("Second", {8, 8, 5}, "0 0 0");
    WriteData("profiles" + kSep + "Truncated", {"????", "7", "260", "drop", "0"});
    WriteData("profiles" + kSep + "NoHeader", {"TIFF", "0"});
    WriteFile(Data("profiles" + kSep + "Garbage"), std::string("\0\xff\x01????\n\n", 9));
    std::unique_ptr<QOR_Parameters> original = LoadParameters(&endpoint);
    ASSERT_NE(original, nullptr);
    EXPECT_EQ(original->JobProfile(7), nullptr);
    EXPECT_EQ(original->JobProfile(-1), nullptr);
    const std::string loaded = Summary(*original);
    EXPECT_EQ(loaded,
              "Good,Missing,Truncated,NoHeader,Garbage,Second,|Sharp,,|Gray,|"
              "111 1/4 3/0 1/1 text one/default four|111 4/0 5/1 2/4 profile Good/text four|"
              "000 0/0 0/0 0/0 /|000 0/0 0/0 0/0 /|000 0/0 0/0 0/0 /|000 0/0 0/0 0/0 /|"
              "111 0/8 0/8 0/5 profile Second/text four|");
    QOR_Parameters copy(*original);
    QOR_Parameters assigned;
    assigned = *original;
    original->JobProfile(1)->colorCorrection.modes[0] = 99;
    std::strcpy(original->JobProfile(1)->colorCorrection.texts[0], "changed");
    original->JobProfile(0)->fileOptions.valid = 0;
    original->Curparam() = QOR_CurparamData();
    EXPECT_EQ(Summary(copy), loaded);
    EXPECT_EQ(Summary(assigned), loaded);
    // Assigning over a larger set takes the other's size.
    QOR_Parameters big(10);
    big = copy;
    const QOR_Parameters& alias = big;
    big = alias;
    EXPECT_EQ(Summary(big), loaded);
    // Version 256 has no profile list; a curparam.txt that breaks off or is no
    // configuration file still gives the default profile; without one, nothing.
    Lines cut = CurparamLines({.profiles = {"C:\\p\\A", "C:\\p\\B", "C:\\p\\C"}});
    cut.pop_back(); // the last profile name is missing
    const struct {
        std::string name, text;
        int count; // 0: no parameters
    } cases[] = {{"256", Join(CurparamLines({.version = 256, .listA = {"C:\\s\\Sharp#3"}})), 1},
                 {"cut", Join(cut), 3},
                 {"garbage", "not a configuration file\x01\x02", 1},
                 {"absent", "", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(Data("curparam.txt"), c.text);
        if (c.count == 0) {
            std::filesystem::remove(Data("curparam.txt"));
        }
        std::unique_ptr<QOR_Parameters> parameters = LoadParameters(&endpoint);
        ASSERT_EQ(parameters != nullptr, c.count != 0);
        if (parameters != nullptr) {
            EXPECT_EQ(parameters->JobProfileCount(), c.count);
            EXPECT_TRUE(parameters->JobProfile(0)->IsUsable());
        }
    }
    EXPECT_EQ(LoadParameters(nullptr), nullptr);
    EXPECT_EQ(LoadCurparam(nullptr), nullptr);
    EXPECT_EQ(LoadJobProfile(nullptr, nullptr), nullptr);
    EXPECT_EQ(LoadJobProfile(nullptr, "Good"), nullptr);
    // Profile names never leave the profiles folder; Mac-style names can hold
    // characters that are separators here.
    WriteData("curparam.txt", CurparamLines({.style = 0,
                                             .profiles = {"Srv:Profiles:sub/Inner",
                                                          "Srv:Profiles:..", "Srv:Profiles:.",
                                                          "Srv:Profiles:", "Srv:Profiles:Plain"}}));
    WriteProfile("sub" + kSep + "Inner", {0, 0, 0}, "0 0 0");
    WriteProfile("Plain", {0, 0, 0}, "0 0 0");
    std::unique_ptr<QOR_Parameters> parameters = LoadParameters(&endpoint);
    ASSERT_NE(parameters, nullptr);
    ASSERT_EQ(parameters->JobProfileCount(), 6);
    for (int i = 1; i <= 5; ++i) {
        EXPECT_EQ(parameters->JobProfile(i)->IsUsable(), i == 5) << i;
    }
    EXPECT_EQ(LoadJobProfile(&endpoint, "sub/Inner"), nullptr);
    EXPECT_NE(LoadJobProfile(&endpoint, "Plain"), nullptr);
}

struct MapPath : ConfigServer {
    void SetUp() override {
        WriteFile(dir / ("Images" + kSep + "pic.tif"), "image");
        WriteFile(dir / ("local" + kSep + "sub" + kSep + "pic.tif"), "image");
    }
    void Conversions(const std::vector<std::pair<std::string, std::string>>& pairs) {
        Lines lines;
        for (const auto& pair : pairs) {
            lines.push_back("\"" + pair.first + "\" \"" + pair.second + "\"");
        }
        WriteData("convpath.txt", lines);
        ASSERT_EQ(LoadPathConversions(&endpoint), 0);
        ASSERT_EQ(PathConversions().size(), pairs.size());
    }
    struct MapCase {
        std::string name, path;
        int style, result;
        std::string mapped = ""; // empty: the path stays as it was
    };
    // Maps each path in a full-size path buffer.
    void ExpectMaps(const std::vector<MapCase>& cases) {
        for (const MapCase& c : cases) {
            SCOPED_TRACE(c.name);
            char path[kServerPathCapacity];
            CopyBounded(path, sizeof path, c.path.c_str());
            EXPECT_EQ(MapServerPath(&endpoint, path, c.style), c.result);
            EXPECT_EQ(path, c.mapped.empty() ? c.path : c.mapped);
        }
    }

    std::string local = dir / "local";
    std::string mapped = local + kSep + "sub" + kSep + "pic.tif";
};

// Pairs are read one by one up to a line without complete quotes, and each load replaces them.
// Relative paths lie under the server root; absolute ones go through the pairs, turned or not,
// the longest first; paths that would not fit fail.
TEST_F(MapPath, PairsLoadOneByOneAndMapEveryKindOfPath) {
    const auto loads = [&](const Lines& lines, const Lines& pairs) {
        WriteData("convpath.txt", lines);
        EXPECT_EQ(LoadPathConversions(&endpoint), 0);
        EXPECT_EQ(Pairs(), pairs);
    };
    loads({"\"Server:Images:\" \"/mnt/images/\"", "", "## a remark", "",
           "  \"\\\\srv\\share\"\t\"/mnt/share\" trailing text", "\"\" \"empty first\""},
          {"Server:Images:|/mnt/images/", "\\\\srv\\share|/mnt/share", "|empty first"});
    const std::pair<std::string, std::string> bad[] = {
        {"just text", "|"}, {"\"open", "|"}, {"\"A:x\"", "A:x|"}, {"\"A:x\" \"/b", "A:x|"}};
    for (const auto& [line, pair] : bad) {
        SCOPED_TRACE(line);
        loads({"\"V:a\" \"/x/a\"", line, "\"V:b\" \"/x/b\""}, {"V:a|/x/a", pair});
    }
    loads({"\"V:c\" \"/x/c\""}, {"V:c|/x/c"});
    std::filesystem::remove(Data("convpath.txt"));
    EXPECT_EQ(LoadPathConversions(&endpoint), kConfigMissingFile);
    EXPECT_TRUE(PathConversions().empty());
    WriteData("convpath.txt", {"\"V:c\" \"/x/c\""});
    EXPECT_EQ(LoadPathConversions(nullptr), kConfigMissingFile);
    EXPECT_TRUE(PathConversions().empty());
    loads({}, {});
    const std::string image = dir / ("Images" + kSep + "pic.tif");
    const std::string absent = dir / ("Images" + kSep + "none.tif");
    ExpectMaps({{"Windows folder and file", "Images\\pic.tif", 1, 0, image},
                {"Windows leading backslash", "\\Images\\pic.tif", 1, 0, image},
                {"Windows, file absent", "Images\\none.tif", 1, -1, absent},
                {"Mac leading colon", ":Images:pic.tif", 0, 0, image},
                {"Mac, file absent", ":Images:none.tif", 0, -1, absent},
                {"Unix", "Images/pic.tif", 2, 0, image},
                {"Unix empty is the root", "", 2, 0, dir.Path() + kSep}});
    // Absolute paths go through the conversion pairs.
    Conversions({
        {"Server:Images:", dir / "nowhere/"},      // matches, but the file is not there
        {"Other:Vol", local + kSep},               // does not match
        {"SERVER:images", local + kSep},           // matches without case
        {"\\\\srv\\share", local + kSep},          // Windows share
        {local + kSep + "x" + kSep, "D:\\Data\\"}, // server text second
        {local + kSep, "/srv/images/"},            // Unix: the second text is tried first
        {"plain", "words"},                        // no path kind: never used
    });
    ExpectMaps({{"Mac, second pair fits", "Server:Images:sub:pic.tif", 0, 0, mapped},
                {"Mac, no file anywhere", "Server:Images:sub:none.tif", 0, -1},
                {"Mac, no pair", "Elsewhere:sub:pic.tif", 0, -1},
                {"Windows share", "\\\\SRV\\share\\sub\\pic.tif", 1, 0, mapped},
                {"Windows drive, file absent", "d:\\data\\sub\\pic.tif", 1, -1},
                {"Unix", "/srv/images/sub/pic.tif", 2, 0, mapped},
                {"existing path stays", mapped, 2, 0, mapped},
                {"style 3", "Server:Images:sub:pic.tif", 3, -1},
                {"style -1", "Server:Images:sub:pic.tif", -1, -1}});
    Conversions({{local + kSep, "D:\\Data"}}); // a turned pair maps to its first text
    ExpectMaps({{"turned pair", "D:\\DATA\\sub\\pic.tif", 1, 0, mapped}});
    // A prefix without separator skips one more character.
    Conversions({{"Vol:Images", local + kSep}, {"Vol:Pics:", local + kSep}});
    ExpectMaps({{"no separator", "Vol:Images:sub:pic.tif", 0, 0, mapped},
                {"separator", "Vol:Pics:sub:pic.tif", 0, 0, mapped},
                {"just the prefix is not cut beyond its end", "Vol:Images", 0, 0, local + kSep}});
    // Pairs fit whole folders, and the longest wins.
    const auto file = [&](const std::string& folder, const std::string& name) {
        return dir / (folder + kSep + name);
    };
    for (const char* folder : {"one", "two", "deep"}) {
        WriteFile(file(folder, "photo.tif"), "image");
        WriteFile(file(folder, "Images2" + kSep + "photo.tif"), "image");
    }
    Conversions({{"Server:Images", dir / "one" + kSep},
                 {"Server:Images2", dir / "two" + kSep},
                 {"Vol:", dir / "one" + kSep},
                 {"Vol:Images2:", dir / "deep" + kSep},
                 {"Vol:Images2:Later", dir / "nowhere" + kSep}});
    ExpectMaps({{"a sibling folder is not the shorter pair's", "Server:Images2:photo.tif", 0, 0,
                 file("two", "photo.tif")},
                {"the shorter pair still fits its own folder", "Server:Images:photo.tif", 0, 0,
                 file("one", "photo.tif")},
                {"the longer pair wins over the volume", "Vol:Images2:photo.tif", 0, 0,
                 file("deep", "photo.tif")},
                {"the longest pair whose file is absent is not left for a shorter one",
                 "Vol:Images2:Later:photo.tif", 0, -1},
                {"a name that only begins like a folder", "Server:Images3:photo.tif", 0, -1}});
    // Paths that would not fit fail, and an unterminated buffer is refused.
    Conversions({{"Vol:", local + kSep}});
    // The longest path the buffer holds: its rest alone nearly fills it, so the
    // local folder in front pushes the candidate past the limit.
    const std::string longPath = "Vol:" + std::string(240, 'a') + ":" + std::string(240, 'b') +
                                 ":" + std::string(kServerPathCapacity - 1 - 4 - 482, 'c');
    ASSERT_EQ(longPath.size(), kServerPathCapacity - 1);
    const std::string relative = std::string(500, 'a') + "\\pic.tif";
    const std::string onePast(kServerPathCapacity - 1 - dir.Path().size(), 'a');
    const std::string fits = onePast.substr(1);
    ExpectMaps({{"candidate too long", longPath, 0, -1},
                {"relative result too long", relative, 1, -1},
                {"relative result one past the limit", onePast, 2, -1},
                // The result is stored even though no file is there.
                {"one character less fits", fits, 2, -1, dir.Path() + kSep + fits}});
    char path[kServerPathCapacity];
    std::memset(path, 'a', sizeof path);
    path[1] = ':';
    EXPECT_EQ(MapServerPath(&endpoint, path, 0), -1);
    EXPECT_EQ(MapServerPath(&endpoint, nullptr, 0), -1);
    char windows[] = "Images\\pic.tif";
    EXPECT_EQ(MapServerPath(nullptr, windows, 1), -1);
    EXPECT_STREQ(windows, "Images\\pic.tif");
}

TEST(ConfigOutcome, EveryKindModeAndFormat) {
    // Per kind, the outcomes of its modes -3 to 12 (the other kinds' modes 99);
    // an invalid section gives 0 always.
    const std::string expected[] = {"0 0 0 10 10 0 0 2 2 0 0 0 0 0 0 0 ",
                                    "0 0 0 1 10 1 10 2 2 2 2 0 0 0 0 0 ",
                                    "0 0 0 2 10 1 0 0 2 2 0 0 0 0 0 0 "};
    for (int kind = 0; kind < 3; ++kind) {
        QOR_ColorCorrectionOptions options;
        options.modes[0] = options.modes[1] = options.modes[2] = 99;
        std::string outcomes;
        for (options.modes[kind] = -3; options.modes[kind] <= 12; ++options.modes[kind]) {
            options.valid = 0;
            EXPECT_EQ(ProcessOutcome(options, kind), 0) << options.modes[kind];
            options.valid = 1;
            outcomes += std::to_string(ProcessOutcome(options, kind)) + " ";
        }
        EXPECT_EQ(outcomes, expected[kind]) << kind;
    }
    QOR_ColorCorrectionOptions options;
    options.valid = 1;
    for (int kind : {-1, 3, 4, INT_MIN, INT_MAX}) {
        EXPECT_EQ(ProcessOutcome(options, kind), 0) << kind;
    }
    options.modes[1] = INT_MIN;
    EXPECT_EQ(ProcessOutcome(options, 1), 0);
    // The format of each result, and the name of each format.
    QOR_FileOptions file;
    std::ranges::copy(std::array{4, 1, 8}, file.formats);
    const std::pair<int, int> formats[] = {{10, 4}, {1, 1}, {2, 8}, {0, -1}, {3, -1}};
    for (const auto& [outcome, format] : formats) {
        EXPECT_EQ(ResultFormat(file, outcome), format) << outcome;
    }
    const std::pair<int, const char*> names[] = {
        {0, "TIFF"},  {1, "EPS "},   {2, "????"},       {3, "????"},      {4, "JPEG"},
        {5, "TGA "},  {6, "PCD "},   {7, "????"},       {8, "ZPAX"},      {9, "????"},
        {-1, "????"}, {256, "????"}, {INT_MIN, "????"}, {INT_MAX, "????"}};
    for (const auto& [code, name] : names) {
        EXPECT_STREQ(FormatCodeName(code), name) << code;
    }
}

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
        for (const std::string& input : {bytes, "????\n" + bytes}) {
            const bool headed = input[0] == '?';
            QOR_ColorCorrectionOptions color;
            ReadText(color, input);
            EXPECT_TRUE(headed || color.valid == 0);
            QOR_FileOptions file;
            ReadText(file, input);
            EXPECT_TRUE(headed || file.valid == 0);
            QOR_JobProfileOptions profile;
            ReadText(profile, input);
            QOR_CurparamData data;
            ReadText(data, input);
            EXPECT_LE(data.ProfileCount(), static_cast<int>(input.size()));
        }
    }
}

} // namespace
