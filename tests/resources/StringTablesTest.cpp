#include "StringTables.h"

#include "HostStrings.h"
#include "PMString.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <regex>
#include <set>
#include <string>

namespace {

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos;
         at = text.find(what, at + what.size())) {
        ++n;
    }
    return n;
}

std::map<std::string, std::string> AsMap(int tableId) {
    std::map<std::string, std::string> table;
    for (const auto& [key, text] : OrdoStringTable(tableId)) {
        EXPECT_TRUE(table.emplace(key, text).second) << tableId << " holds twice: " << key;
    }
    return table;
}

// Every "%" is "%d" or stands for itself before a blank, a ")" or the end.
bool OnlyDPlaceholders(const std::string& text) {
    for (std::size_t at = text.find('%'); at != std::string::npos; at = text.find('%', at + 1)) {
        if (at + 1 < text.size() && std::string("d )").find(text[at + 1]) == std::string::npos) {
            return false;
        }
    }
    return true;
}

// Any of "Alt+", "Ctrl+", "Shift+", then F1 to F12.
bool IsShortcut(const std::string& text) {
    static const std::regex shortcut("((Alt|Ctrl|Shift)\\+)*F([1-9]|1[0-2])");
    return std::regex_match(text, shortcut);
}

bool IsKey(const std::string& key) {
    return key.rfind("0x71900k", 0) == 0;
}

class StringTablesTest : public ::testing::Test {
protected:
    void TearDown() override { HostStrings::Reset(); }
};

} // namespace

TEST_F(StringTablesTest, TheThreeTablesHoldTheSameKeysAndNoEmptyText) {
    const auto english = AsMap(HostStrings::kDefaultTable);
    ASSERT_GT(english.size(), 100u);
    for (int id : {HostStrings::kFrenchTable, HostStrings::kSpanishTable}) {
        SCOPED_TRACE(id);
        const auto other = AsMap(id);
        EXPECT_EQ(other.size(), english.size());
        for (const auto& [key, text] : other) {
            EXPECT_TRUE(english.count(key)) << key;
            EXPECT_FALSE(text.empty()) << key;
        }
    }
    for (const auto& [key, text] : english) {
        EXPECT_FALSE(text.empty()) << key;
        EXPECT_TRUE(IsKey(key) || key == "velmaris" || key == "About this pl&ug-in...")
            << "not a key of the plug-in: " << key;
    }
    EXPECT_TRUE(OrdoStringTable(305).empty()) << "a table the plug-in does not carry";
}

TEST_F(StringTablesTest, EveryPlaceholderOfAnEnglishTextIsInItsTranslations) {
    const auto english = AsMap(HostStrings::kDefaultTable);
    const auto french = AsMap(HostStrings::kFrenchTable);
    const auto spanish = AsMap(HostStrings::kSpanishTable);
    int withPlaceholder = 0;
    for (const auto& [key, text] : english) {
        std::size_t n = Count(text, "%d");
        withPlaceholder += n > 0;
        EXPECT_EQ(Count(french.at(key), "%d"), n) << key << ": " << french.at(key);
        EXPECT_EQ(Count(spanish.at(key), "%d"), n) << key << ": " << spanish.at(key);
        // No other conversion may sneak in.
        for (const std::string* t : {&text, &french.at(key), &spanish.at(key)}) {
            EXPECT_TRUE(OnlyDPlaceholders(*t)) << key << ": " << *t;
        }
    }
    // The two resampling messages, the three refusals of a batch of sends,
    // the two counts of the record of jobs out and the five waits.
    EXPECT_EQ(withPlaceholder, 12);
}

TEST_F(StringTablesTest, ShortcutTextsAreTheSameEverywhereAndParseable) {
    const auto english = AsMap(HostStrings::kDefaultTable);
    int found = 0;
    for (int id : kOrdoStringTableIDs) {
        for (const auto& [key, text] : AsMap(id)) {
            if (key.size() > 4 && key.compare(key.size() - 4, 4, "KBSC") == 0) {
                ++found;
                EXPECT_TRUE(IsShortcut(text)) << id << " " << key << ": " << text;
                EXPECT_EQ(text, english.at(key)) << id << " " << key;
            }
        }
    }
    EXPECT_EQ(found, 24);
}

TEST_F(StringTablesTest, EveryProcessCodeOfTheTablesHasItsTextAndNoOtherCodeHasOne) {
    const auto english = AsMap(HostStrings::kDefaultTable);
    const std::set<int> codes = {0, 1, 2, 3, 4, 10, 11, 12, 13, 14, 15, 16, 17, 20, 21, 22, 23, 24};
    for (int code = -1; code <= 30; ++code) {
        std::string key = "0x71900kOrdoProcessBaseKey" + std::to_string(code);
        EXPECT_EQ(english.count(key), codes.count(code)) << key;
    }
}
