// Property lists: real files against what an independent reader makes of
// them, values written and read back, and texts that are refused with why.
#include "PList.h"

#include "TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <tuple>

using namespace plist;

namespace {

// The value in the typed JSON form of the data folder's expected.json.
nlohmann::json Typed(const Value& v) {
    using nlohmann::json;
    switch (v.GetKind()) {
    case Kind::kDictionary: {
        json d = json::object();
        for (const auto& [key, value] : *v.AsDictionary()) {
            d[key] = Typed(value);
        }
        return {{"dict", d}};
    }
    case Kind::kArray: {
        json a = json::array();
        for (const Value& item : *v.AsArray()) {
            a.push_back(Typed(item));
        }
        return {{"array", a}};
    }
    case Kind::kString:
        return {{"string", *v.AsString()}};
    case Kind::kInteger: {
        const Integer& i = *v.AsInteger();
        return {{"integer",
                 i.negative ? json(static_cast<int64_t>(~i.magnitude + 1)) : json(i.magnitude)}};
    }
    case Kind::kReal:
        return {{"real", *v.AsReal()}};
    case Kind::kBoolean:
        return {{"boolean", *v.AsBoolean()}};
    case Kind::kDate:
        return {{"date", FormatDate(*v.AsDate())}};
    case Kind::kData:
        return {{"data", EncodeBase64(*v.AsData())}};
    }
    return {};
}

// A random value of every kind, strings with the characters XML makes hard.
Value Random(std::mt19937_64& rng, int depth) {
    const int kind = static_cast<int>(rng() % (depth < 4 ? 8 : 6));
    switch (kind) {
    case 0: {
        std::string s;
        for (uint64_t n = rng() % 12; n > 0; --n) {
            static const std::string pool[] = {"a",    "&",        "<",    ">",           "\"",
                                               "'",    "\r",       "\r\n", "\t",          " ",
                                               "\x01", "\xC3\xA9", "]]>",  "\xE6\x97\xA5"};
            s += pool[rng() % std::size(pool)];
        }
        return s;
    }
    case 1: {
        // Down to -2^63, up to 2^64 - 1.
        const bool negative = rng() % 4 == 0;
        const uint64_t magnitude = rng() >> (rng() % 64);
        if (negative && rng() % 8 == 0) {
            return Integer{true, uint64_t{1} << 63};
        }
        return Integer{negative, negative ? magnitude >> 1 : magnitude};
    }
    case 2: {
        constexpr double inf = std::numeric_limits<double>::infinity();
        const double special[] = {0.0, -0.0, 1e308, 5e-324, inf, -inf};
        return rng() % 3 == 0
                   ? special[rng() % std::size(special)]
                   : std::ldexp(static_cast<double>(rng()), static_cast<int>(rng() % 200) - 100);
    }
    case 3:
        return rng() % 2 == 0;
    case 4: // years 1 to 9999
        return Date{static_cast<int64_t>(rng() % 315537897600ULL) - 62135596800LL};
    case 5: {
        Data d(rng() % 7);
        for (uint8_t& b : d) {
            b = static_cast<uint8_t>(rng());
        }
        return d;
    }
    case 6: {
        Array a;
        for (uint64_t n = rng() % 4; n > 0; --n) {
            a.push_back(Random(rng, depth + 1));
        }
        return a;
    }
    default: {
        Dictionary d;
        for (uint64_t n = rng() % 4; n > 0; --n) {
            d.emplace_back("k" + std::to_string(n) + (n % 2 ? "&<" : ""), Random(rng, depth + 1));
        }
        return d;
    }
    }
}

} // namespace

TEST(PList, RealFilesReadAsTheIndependentReaderReadsThemAndWriteBackTheSame) {
    const std::filesystem::path folder = std::filesystem::path(SharedTestData()) / "plist";
    if (SharedTestData().empty() || !std::filesystem::exists(folder / "expected.json")) {
        GTEST_SKIP() << "no shared test data (ORDODESK_TESTDATA/plist)";
    }
    const auto expected = nlohmann::json::parse(ReadFile((folder / "expected.json").string()));
    ASSERT_GE(expected.size(), 17u);
    for (const auto& entry : expected) {
        const std::string name = entry["file"];
        SCOPED_TRACE(name);
        const ReadResult read = ReadXml(ReadFile((folder / name).string()));
        // A bare ampersand is kept as text here: the XML library does not
        // refuse it, and a hand-edited settings file reads rather than fails.
        const bool valid = entry["valid"] || name == "amp.plist";
        ASSERT_EQ(read.ok, valid) << read.error;
        if (!read.ok) {
            EXPECT_FALSE(read.error.empty());
            continue;
        }
        if (name == "amp.plist") {
            EXPECT_EQ(*read.value.Find("test&amp")->AsString(), "value");
        } else {
            EXPECT_EQ(Typed(read.value), entry["value"]);
        }
        const std::string written = WriteXml(read.value);
        const ReadResult again = ReadXml(written);
        ASSERT_TRUE(again.ok) << again.error;
        EXPECT_EQ(again.value, read.value);
        EXPECT_EQ(WriteXml(again.value), written);
    }
    // Keys keep the order of the file.
    const Value order = ReadXml(ReadFile((folder / "order.plist").string())).value;
    EXPECT_EQ(std::tie(order.AsDictionary()->front().first, order.AsDictionary()->back().first),
              std::make_tuple("test", "foo"));
}

TEST(PList, AnyValueWrittenReadsBackTheSame) {
    std::mt19937_64 rng(0x9151);
    for (int round = 0; round < 2000; ++round) {
        const Value v = Random(rng, 0);
        const std::string written = WriteXml(v);
        const ReadResult read = ReadXml(written);
        ASSERT_TRUE(read.ok) << read.error << "\n" << written;
        ASSERT_EQ(read.value, v) << written;
    }
    const Value top = Dictionary{{"Name", "Bright"}, {"Resolution", 300.5}, {"Empty", Array{}}};
    EXPECT_EQ(WriteXml(top), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                             "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                             "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                             "<plist version=\"1.0\">\n<dict>\n\t<key>Name</key>\n"
                             "\t<string>Bright</string>\n\t<key>Resolution</key>\n"
                             "\t<real>300.5</real>\n\t<key>Empty</key>\n\t<array/>\n</dict>\n"
                             "</plist>\n");
}

TEST(PList, IntegersDatesAndDataAtTheirLimits) {
    const double inf = std::numeric_limits<double>::infinity();
    const std::pair<std::string, Value> values[] = {
        {"<integer>18446744073709551615</integer>", Integer{false, ~uint64_t{0}}},
        {"<integer>-9223372036854775808</integer>", Integer::Of(INT64_MIN)},
        {"<integer> 0x73709551615 </integer>", Integer{false, 0x73709551615}},
        {"<integer>-0</integer>", Integer{}},
        {"<integer>+7</integer>", Integer{false, 7}},
        {"<real> +1e4 </real>", 10000.0},
        {"<real>-infinity</real>", -inf},
        {"<data>\n\tAAEC\n\t/w==\n</data>", Data{0, 1, 2, 0xFF}},
        {"<string>  </string>", "  "},
        {"<string>a<!-- c --><![CDATA[<b>]]></string>", "a<b>"},
        // A key given twice keeps its first place and its last value.
        {"<dict><key>a</key><true/><key>b</key><true/><key>a</key><false/></dict>",
         Dictionary{{"a", false}, {"b", true}}}};
    for (const auto& [text, want] : values) {
        const ReadResult r = ReadXml(text);
        ASSERT_TRUE(r.ok) << text << ": " << r.error;
        EXPECT_EQ(r.value, want) << text;
    }
    EXPECT_EQ(Integer::Of(INT64_MIN), (Integer{true, uint64_t{1} << 63}));
    const std::pair<const char*, int64_t> dates[] = {{"1970-01-01T00:00:00Z", 0},
                                                     {"1869-01-03T08:16:32Z", -3187007008},
                                                     {"2000-02-29T23:59:59Z", 951868799},
                                                     {"0001-01-01T00:00:00Z", -62135596800}};
    for (const auto& [text, seconds] : dates) {
        Date d;
        ASSERT_TRUE(ParseDate(text, d)) << text;
        EXPECT_EQ(d.seconds, seconds) << text;
        EXPECT_EQ(FormatDate(d), text);
    }
}

TEST(PList, TextsThatAreNoPropertyListAreRefusedWithWhy) {
    std::string deep;
    for (int i = 0; i <= kMaxDepth; ++i) {
        deep = "<array>" + deep + "</array>";
    }
    const std::pair<std::string, const char*> cases[] = {
        {"", "not well-formed"},
        {"<plist><dict>", "not well-formed"},
        {"<plist></plist>", "holds no value"},
        {"<plist><true/><false/></plist>", "more than one value"},
        {"<integer>18446744073709551616</integer>", "not an integer of 64 bits"},
        {"<integer>-9223372036854775809</integer>", "below the smallest"},
        {"<integer>1.5</integer>", "not an integer"},
        {"<integer></integer>", "not an integer"},
        {"<real>ten</real>", "not a number"},
        {"<date>2010-02-30T00:00:00Z</date>", "not a date"},
        {"<date>1900-02-29T00:00:00Z</date>", "not a date"},
        {"<date>2010-11-12 13:14:15Z</date>", "not a date"},
        {"<date>2010-+1-12T13:14:15Z</date>", "not a date"},
        {"<real>+-1</real>", "not a number"},
        {"<data>AB=C</data>", "not base64"},
        {"<data>A</data>", "middle of a byte"},
        {"<true>yes</true>", "is not empty"},
        {"<dict><key>a</key></dict>", "has no value"},
        {"<dict><string>a</string></dict>", "where a <key> was expected"},
        {"<dict>text<key>a</key><true/></dict>", "text outside"},
        {"<array><![CDATA[1]]><true/></array>", "text outside"},
        {"<string>a<b/></string>", "holds an element"},
        {"<set/>", "not a property-list value"},
        {deep, "nested deeper than"},
    };
    for (const auto& [text, why] : cases) {
        const ReadResult r = ReadXml(text);
        EXPECT_FALSE(r.ok) << text;
        EXPECT_NE(r.error.find(why), std::string::npos) << text << ": " << r.error;
    }
}
