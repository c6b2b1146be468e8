#include "HostStrings.h"
#include "PMPoint.h"
#include "PMRect.h"
#include "PMString.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace {

// UTF-8 spelled out byte by byte so that the source encoding does not matter.
const std::string kE_Acute = "\xC3\xA9";      // U+00E9, 2 bytes
const std::string kEuro = "\xE2\x82\xAC";     // U+20AC, 3 bytes
const std::string kGrin = "\xF0\x9F\x98\x80"; // U+1F600, 4 bytes

TEST(PMStringText, BuildAppendAndCompare) {
    EXPECT_TRUE(PMString(static_cast<const char*>(nullptr)).IsEmpty());
    EXPECT_EQ(PMString(std::string("x\0y", 3)).ByteCount(), 3u);
    EXPECT_EQ(PMString("abcdef", 2), PMString("ab"));
    EXPECT_TRUE(PMString().IsTranslatable()) << "strings are translatable unless marked";
    PMString s("Page ");
    s.Append(PMString("1"));
    s.Append("/");
    s.Append('2');
    s.AppendNumber(-34);
    s += PMString("!");
    s.Append(static_cast<const char*>(nullptr));
    EXPECT_EQ(s, "Page 1/2-34!");
    EXPECT_STREQ(s.c_str(), "Page 1/2-34!");
    s.Clear();
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_LT(PMString("ab"), PMString("abc"));
    EXPECT_GT(PMString(kE_Acute), PMString("z")) << "bytes compare unsigned";
    EXPECT_NE(PMString("a"), PMString("A"));
    PMString marked("x");
    marked.SetTranslatable(false);
    EXPECT_EQ(marked, PMString("x")) << "the mark does not take part";
    marked.SetString("y");
    EXPECT_FALSE(marked.IsTranslatable()) << "setting the text keeps the mark";
    marked.SetCString(nullptr);
    EXPECT_TRUE(marked.IsEmpty());
}

TEST(PMStringText, GetAsNumber) {
    const std::pair<const char*, int> good[] = {{"0", 0},
                                                {"17", 17},
                                                {"-17", -17},
                                                {"+17", 17},
                                                {"  42\t", 42},
                                                {"2147483647", INT_MAX},
                                                {"-2147483648", INT_MIN}};
    for (auto [text, value] : good) {
        bool ok = false;
        EXPECT_EQ(PMString(text).GetAsNumber(&ok), value) << '"' << text << '"';
        EXPECT_TRUE(ok) << '"' << text << '"';
    }
    for (const char* text : {"2147483648", "", " ", "-", "+", "+-1", "12a", "1 2", "0x10", "1.5"}) {
        bool ok = true;
        EXPECT_EQ(PMString(text).GetAsNumber(&ok), 0) << '"' << text << '"';
        EXPECT_FALSE(ok) << '"' << text << '"';
    }
    EXPECT_EQ(PMString("9").GetAsNumber(), 9) << "the flag is optional";
}

// Bounded conversion to 8-bit text: never past the capacity, never inside a
// character, -1 when cut.
TEST(PMStringCString, TableOfCuts) {
    const struct {
        std::string text;
        std::size_t capacity;
        std::string expected;
        int result;
    } cases[] = {
        {"abc", 4, "abc", 0}, // exact fit
        {"abc", 3, "ab", -1},
        {"", 1, "", 0},
        {kE_Acute, 2, "", -1}, // the 2-byte sequence needs 3 bytes with the NUL
        {"a" + kEuro, 4, "a", -1},
        {"ab" + kGrin, 5, "ab", -1},
        {std::string("ab\0cd", 5), 10, "ab", -1},           // ends at a NUL inside the text
        {"\x80\x80\x80\x80", 3, "\x80\x80", -1},            // stray bytes cut anywhere
        {"\xC3", 2, "\xC3", 0},                             // a lead byte at the end stands alone
        {std::string("\xE2\x82") + "a", 3, "\xE2\x82", -1}, // a cut sequence: its bytes stand alone
        {std::string("\xF0\x9F\x98") + "a", 4, "\xF0\x9F\x98", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.text << " into " << c.capacity);
        std::vector<char> buffer(c.capacity + 8, '#');
        EXPECT_EQ(PMString(c.text).GetAsCString(buffer.data(), c.capacity), c.result);
        EXPECT_STREQ(buffer.data(), c.expected.c_str());
        for (std::size_t i = c.capacity; i < buffer.size(); ++i) {
            ASSERT_EQ(buffer[i], '#') << "wrote past the capacity at " << i;
        }
    }
    char sentinel = '#';
    EXPECT_EQ(PMString("").GetAsCString(&sentinel, 0), -1) << "no room even for the NUL";
    EXPECT_EQ(sentinel, '#');
    EXPECT_EQ(PMString("abc").GetAsCString(nullptr, 0), -1);
}

TEST(PMStringCString, EveryCapacityGivesTheLongestWholePrefix) {
    // Valid UTF-8 only: the length of a character follows from its first byte.
    const std::string texts[] = {
        "plain ascii",
        "Proc" + kE_Acute + "d" + kE_Acute + " " + kEuro + kGrin + "x" + kGrin,
        kGrin + kGrin + kGrin,
        kEuro + kE_Acute + "z" + kEuro,
    };
    auto charLength = [](char lead) {
        auto b = static_cast<unsigned char>(lead);
        return b < 0x80 ? 1u : b >= 0xF0 ? 4u : b >= 0xE0 ? 3u : 2u;
    };
    for (const std::string& text : texts) {
        for (std::size_t cap = 1; cap <= text.size() + 2; ++cap) {
            SCOPED_TRACE(testing::Message() << text << " into " << cap);
            std::vector<char> buffer(cap + 4, '#');
            int result = PMString(text).GetAsCString(buffer.data(), cap);
            std::size_t n = std::strlen(buffer.data());
            ASSERT_LT(n, cap);
            ASSERT_EQ(std::string(buffer.data(), n), text.substr(0, n)) << "a prefix";
            ASSERT_EQ(result, n == text.size() ? 0 : -1);
            if (n < text.size()) {
                ASSERT_NE(static_cast<unsigned char>(text[n]) & 0xC0, 0x80)
                    << "cut inside a character";
                ASSERT_GT(n + charLength(text[n]), cap - 1) << "the next character fitted";
            }
            for (std::size_t i = cap; i < buffer.size(); ++i) {
                ASSERT_EQ(buffer[i], '#');
            }
        }
    }
}

class Translation : public testing::Test {
protected:
    void SetUp() override {
        HostStrings::Reset();
        HostStrings::RegisterStringTable(301, {{"0x71900kOrdoStatusTextStringKey", "Status"},
                                               {"0x71900kOrdoShowHideLogStringKey", "Show Log"},
                                               {"0x71900kStrImageTypeLab", "Lab"}});
        HostStrings::RegisterStringTable(
            304, {{"0x71900kOrdoStatusTextStringKey", "Statut"},
                  {"0x71900kOrdoShowHideLogStringKey", "Afficher le journal"}});
        HostStrings::RegisterStringTable(306, {{"0x71900kOrdoStatusTextStringKey", "Estado"}});
    }
    void TearDown() override { HostStrings::Reset(); }

    static std::string Shown(const char* key) {
        PMString s(key);
        s.Translate();
        return s.GetUTF8String();
    }
};

TEST_F(Translation, EachLocaleUsesItsTableAndFallsBackToEnglish) {
    const struct {
        int locale;
        const char* key;
        const char* shown;
    } cases[] = {
        {0, "0x71900kOrdoStatusTextStringKey", "Status"},
        {4, "0x71900kOrdoStatusTextStringKey", "Statut"},
        {6, "0x71900kOrdoStatusTextStringKey", "Estado"},
        {5, "0x71900kOrdoStatusTextStringKey", "Status"}, // 305 is not carried
        {4, "0x71900kOrdoShowHideLogStringKey", "Afficher le journal"},
        {6, "0x71900kOrdoShowHideLogStringKey", "Show Log"}, // missing in Spanish
        {4, "0x71900kStrImageTypeLab", "Lab"},
        {4, "0x71900kNoSuchKey", "0x71900kNoSuchKey"}, // unknown keys stay
        {0, "", ""},
        {0, "0x71900kordostatustextstringkey", "0x71900kordostatustextstringkey"}, // exact keys
        {0, "0x71900kOrdoStatusTextStringKey ", "0x71900kOrdoStatusTextStringKey "},
    };
    for (const auto& c : cases) {
        HostStrings::SetLocale(c.locale);
        EXPECT_EQ(Shown(c.key), c.shown) << "locale " << c.locale << ", " << c.key;
    }
    // A locale whose table comes later uses the default until then.
    HostStrings::Reset();
    HostStrings::RegisterStringTable(301, {{"k", "English"}});
    HostStrings::SetLocale(4);
    EXPECT_EQ(Shown("k"), "English");
    HostStrings::RegisterStringTable(304, {{"k", "Fran" + kE_Acute + "ais"}});
    EXPECT_EQ(Shown("k"), "Fran" + kE_Acute + "ais");
}

TEST_F(Translation, NotTranslatableTextsNeverChange) {
    PMString name("0x71900kOrdoStatusTextStringKey"); // a file could be called that
    name.SetTranslatable(false);
    name.Translate();
    EXPECT_EQ(name.GetUTF8String(), "0x71900kOrdoStatusTextStringKey");
    EXPECT_FALSE(name.IsTranslatable());
    name.SetTranslatable(true);
    HostStrings::SetLocale(6);
    EXPECT_EQ(name.Translated(), PMString("Estado"));
    EXPECT_EQ(name.GetUTF8String(), "0x71900kOrdoStatusTextStringKey") << "Translated copies";
    HostStrings::Reset();
    name.Translate();
    EXPECT_EQ(name.GetUTF8String(), "0x71900kOrdoStatusTextStringKey") << "no table registered";
    EXPECT_EQ(HostStrings::Lookup("0x71900kOrdoStatusTextStringKey"), nullptr);
}

TEST_F(Translation, RegisteringAddsAndReplacesEntries) {
    HostStrings::RegisterStringTable(301, {{"new", "first"}, {"new", "second"}});
    EXPECT_EQ(Shown("new"), "second") << "the last entry of a key wins";
    EXPECT_EQ(Shown("0x71900kOrdoStatusTextStringKey"), "Status") << "earlier entries stay";
    HostStrings::RegisterStringTable(301, {{"0x71900kOrdoStatusTextStringKey", "State"}});
    EXPECT_EQ(Shown("0x71900kOrdoStatusTextStringKey"), "State");
    EXPECT_EQ(HostStrings::LookupInTable(306, "0x71900kOrdoShowHideLogStringKey"), nullptr)
        << "one table only, no fallback";
}

// Only the first %d takes the number; the result is not translated again.
TEST(PMStringFormat, FirstPercentDOnly) {
    const struct {
        const char* pattern;
        int value;
        const char* expected;
    } cases[] = {
        {"Too many pixels, the minimum scale factor is : %d %", 150,
         "Too many pixels, the minimum scale factor is : 150 %"},
        {"%d", INT_MIN, "-2147483648"},
        {"%d and %d", 2, "2 and %d"},
        {"no number here", 5, "no number here"},
        {"", 5, ""},
        {"100%% %d", 3, "100%% 3"},
        {"%%d", 4, "%4"},
        {"%s %n %x %d", 9, "%s %n %x 9"},
        {"ends with %", 1, "ends with %"},
        {"% d", 1, "% d"},
        {"%D", 1, "%D"},
    };
    for (const auto& c : cases) {
        PMString result = PMString::Format(PMString(c.pattern), c.value);
        EXPECT_EQ(result.GetUTF8String(), c.expected) << c.pattern;
        EXPECT_FALSE(result.IsTranslatable()) << "built at run time";
    }
    HostStrings::RegisterStringTable(301, {{"0x71900kOrdoErrImgTooSmall", "max : %d %"}});
    PMString shown = PMString::Format(PMString("0x71900kOrdoErrImgTooSmall").Translated(), 87);
    shown.Translate();
    EXPECT_EQ(shown.GetUTF8String(), "max : 87 %");
    HostStrings::Reset();
}

TEST(PMRectValues, CornersSizeAndMoves) {
    const struct {
        PMRect r;
        PMPoint lt, rt, rb, lb;
        double width, height;
        bool empty;
    } cases[] = {
        {{10, 20, 110, 70}, {10, 20}, {110, 20}, {110, 70}, {10, 70}, 100, 50, false},
        {{0, 0, 0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, 0, 0, true},
        {{5, 5, 1, 9}, {5, 5}, {1, 5}, {1, 9}, {5, 9}, -4, 4, true}, // edges kept as given
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.r.LeftTop(), c.lt) << c.r;
        EXPECT_EQ(c.r.RightTop(), c.rt) << c.r;
        EXPECT_EQ(c.r.RightBottom(), c.rb) << c.r;
        EXPECT_EQ(c.r.LeftBottom(), c.lb) << c.r;
        EXPECT_EQ(c.r.Width(), c.width) << c.r;
        EXPECT_EQ(c.r.Height(), c.height) << c.r;
        EXPECT_EQ(c.r.IsEmpty(), c.empty) << c.r;
    }
    PMRect r(PMPoint(10, 20), PMPoint(110, 70));
    EXPECT_EQ(r.GetCenter(), PMPoint(60, 45));
    r.MoveRel(-10, -20);
    EXPECT_EQ(r, PMRect(0, 0, 100, 50));
}

} // namespace
