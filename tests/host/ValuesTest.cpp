#include "PMString.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace {

// UTF-8 spelled out byte by byte so that the source encoding does not matter.
const std::string kE_Acute = "\xC3\xA9"; // U+00E9, 2 bytes

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
    const std::pair<const char*, int> good[] = {
        {"0", 0},
        {"17", 17},
        {"-17", -17},
        {"+17", 17},
        {"  42\t", 42},
        {"2147483647", INT_MAX},
        {"-2147483648", INT_MIN},
    };
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
        {kE_Acute, 2, "", -1},                    // the 2-byte sequence needs 3 bytes with the NUL
        {"a\xE2\x82\xAC", 4, "a", -1},            // U+20AC, 3 bytes
        {"ab\xF0\x9F\x98\x80", 5, "ab", -1},      // U+1F600, 4 bytes
        {std::string("ab\0cd", 5), 10, "ab", -1}, // ends at a NUL inside the text
        {"\x80\x80\x80\x80", 3, "\x80\x80", -1},  // stray bytes cut anywhere
        {"\xC3", 2, "\xC3", 0},                   // a lead byte at the end stands alone
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

} // namespace
