// The words of the host shell's command lines, without a host: splitting,
// quotes, comments, variables and `--set NAME=VALUE`.
#include "ShellWords.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Words = std::vector<std::string>;

// The message of the syntax error that reading the line throws, or "" when
// it reads.
std::string Refusal(const std::string& line, const ShellVariables& variables = {}) {
    try {
        CommandWords(line, variables);
    } catch (const ShellSyntaxError& e) {
        return e.what();
    }
    return "";
}

TEST(ShellWords, BlankLinesAndCommentsHaveNoWords) {
    EXPECT_EQ(SplitWords(""), Words{});
    EXPECT_EQ(SplitWords(" \t \v\f"), Words{});
    EXPECT_EQ(SplitWords("# place a b c"), Words{});
    EXPECT_EQ(SplitWords("   #comment 'not closed"), Words{});
    EXPECT_EQ(SplitWords("\tnew  \t doc   "), (Words{"new", "doc"}));
}

TEST(ShellWords, OnlyAWordThatBeginsWithHashIsAComment) {
    EXPECT_EQ(SplitWords("echo a#b # c"), (Words{"echo", "a#b"}));
    EXPECT_EQ(SplitWords("echo '#a' \"#b\" #c"), (Words{"echo", "#a", "#b"}));
}

TEST(ShellWords, QuotesJoinWhatTheyHoldToTheWord) {
    EXPECT_EQ(SplitWords("a'b c'\"d e\"f"), (Words{"ab cd ef"}));
    // Quotes with nothing in them still make a word.
    EXPECT_EQ(SplitWords("set X '' \"\""), (Words{"set", "X", "", ""}));
    // Double quotes take \" and \\; any other backslash stays.
    EXPECT_EQ(SplitWords(R"("a \"b\" \\ \n c")"), (Words{R"(a "b" \ \n c)"}));
    // Single quotes take everything as it stands, backslashes too.
    EXPECT_EQ(SplitWords(R"('a \" b\\')"), (Words{R"(a \" b\\)"}));
    // A backslash outside quotes is an ordinary character.
    EXPECT_EQ(SplitWords(R"(a\ b)"), (Words{R"(a\)", "b"}));
}

TEST(ShellWords, AQuoteThatIsNotClosedIsRefused) {
    EXPECT_EQ(Refusal("echo 'open"), "a quote (') is not closed");
    EXPECT_EQ(Refusal("echo \"open"), "a quote (\") is not closed");
    EXPECT_EQ(Refusal("echo 'a' \"b"), "a quote (\") is not closed");
    // An escaped quote does not close the quotes, nor a backslash at the end.
    EXPECT_EQ(Refusal(R"(echo "a\")"), "a quote (\") is not closed");
    EXPECT_EQ(Refusal(R"(echo "a\)"), "a quote (\") is not closed");
    // A quote inside the other kind is an ordinary character.
    EXPECT_EQ(SplitWords(R"('"' "'")"), (Words{"\"", "'"}));
}

TEST(ShellWords, VariablesAreReplacedInsideEachWord) {
    const ShellVariables variables = {{"D", "a folder"}, {"Q", "it's \"x\" # y"}, {"E", ""}};
    EXPECT_EQ(CommandWords("place ${D}/p.tif --name f", variables),
              (Words{"place", "a folder/p.tif", "--name", "f"}));
    // Quotes and '#' in a value are only text, and an empty value leaves an
    // empty word.
    EXPECT_EQ(CommandWords("echo ${Q} ${E} x${E}y", variables),
              (Words{"echo", "it's \"x\" # y", "", "xy"}));
    // Single quotes do not stop the replacement.
    EXPECT_EQ(CommandWords("echo '${D}'", variables), (Words{"echo", "a folder"}));
    // A '$' without a brace stays as it is.
    EXPECT_EQ(CommandWords("echo $D $ a$", variables), (Words{"echo", "$D", "$", "a$"}));
}

TEST(ShellWords, AValueIsNotReplacedAgain) {
    const ShellVariables variables = {{"A", "${B}"}, {"B", "b"}};
    EXPECT_EQ(ExpandVariables("${A}-${B}", variables), "${B}-b");
}

TEST(ShellWords, AnUnknownOrUnclosedVariableIsRefused) {
    const ShellVariables variables = {{"W", "/w"}};
    EXPECT_EQ(Refusal("echo ${NOPE}", variables), "unknown variable ${NOPE}");
    EXPECT_EQ(Refusal("echo ${w}", variables), "unknown variable ${w}");
    EXPECT_EQ(Refusal("echo ${}", variables), "unknown variable ${}");
    EXPECT_EQ(Refusal("echo ${W", variables), "a ${ is not closed");
    EXPECT_EQ(Refusal("echo ${W}/${", variables), "a ${ is not closed");
    // Nothing is read in a comment.
    EXPECT_EQ(Refusal("echo ${W} # ${NOPE} 'open", variables), "");
}

TEST(ShellWords, AssignmentsSplitAtTheFirstEqualsSign) {
    std::string name;
    std::string value;
    ASSERT_TRUE(SplitAssignment("D=a=b c", name, value));
    EXPECT_EQ(name, "D");
    EXPECT_EQ(value, "a=b c");
    ASSERT_TRUE(SplitAssignment("E=", name, value));
    EXPECT_EQ(name, "E");
    EXPECT_EQ(value, "");
    EXPECT_FALSE(SplitAssignment("=x", name, value));
    EXPECT_FALSE(SplitAssignment("novalue", name, value));
    EXPECT_FALSE(SplitAssignment("", name, value));
}

} // namespace
