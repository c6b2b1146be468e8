// The words of the host shell's command lines, without a host: splitting,
// quotes, comments, variables and `--set NAME=VALUE`.
#include "ShellWords.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Words = std::vector<std::string>;

TEST(ShellWords, LinesSplitIntoWordsWithQuotesAndComments) {
    const std::pair<const char*, Words> cases[] = {
        {"", {}}, // blank lines and comments have no words
        {" \t \v\f", {}},
        {"# place a b c", {}},
        {"   #comment 'not closed", {}},
        {"\tnew  \t doc   ", {"new", "doc"}},
        {"echo a#b # c", {"echo", "a#b"}}, // only a word that begins with '#' is a comment
        {"echo '#a' \"#b\" #c", {"echo", "#a", "#b"}},
        {"a'b c'\"d e\"f", {"ab cd ef"}},              // quotes join what they hold to the word
        {"set X '' \"\"", {"set", "X", "", ""}},       // empty quotes still make a word
        {R"("a \"b\" \\ \n c")", {R"(a "b" \ \n c)"}}, // "" take \" and \\, other backslashes stay
        {R"('a \" b\\')", {R"(a \" b\\)"}},            // '' take everything as it stands
        {R"(a\ b)", {R"(a\)", "b"}},                   // a backslash outside quotes is a character
        {R"('"' "'")", {"\"", "'"}}, // a quote inside the other kind is a character
    };
    for (const auto& [line, words] : cases) {
        EXPECT_EQ(SplitWords(line), words) << line;
    }
}

TEST(ShellWords, UnclosedQuotesAndUnknownOrUnclosedVariablesAreRefused) {
    const std::pair<const char*, std::string> cases[] = {
        {"echo 'open", "a quote (') is not closed"},
        {"echo \"open", "a quote (\") is not closed"},
        {"echo 'a' \"b", "a quote (\") is not closed"},
        {R"(echo "a\")", "a quote (\") is not closed"}, // an escaped quote does not close
        {R"(echo "a\)", "a quote (\") is not closed"},  // nor a backslash at the end
        {"echo ${NOPE}", "unknown variable ${NOPE}"},
        {"echo ${w}", "unknown variable ${w}"},
        {"echo ${}", "unknown variable ${}"},
        {"echo ${W", "a ${ is not closed"},
        {"echo ${W}/${", "a ${ is not closed"},
        {"echo ${W} # ${NOPE} 'open", ""}, // nothing is read in a comment
    };
    for (const auto& [line, refusal] : cases) {
        std::string said;
        try {
            CommandWords(line, {{"W", "/w"}});
        } catch (const ShellSyntaxError& e) {
            said = e.what();
        }
        EXPECT_EQ(said, refusal) << line;
    }
}

} // namespace
