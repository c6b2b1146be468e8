#include "QorReply.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

int Parse(const std::string& text, QorReply& reply) {
    return ParseReply(text.c_str(), static_cast<int>(text.size()) + 1, reply);
}

// Result, path style, status, message, path and times, as one line.
std::string Parsed(const std::string& text) {
    QorReply r;
    r.status = 99;
    const int result = Parse(text, r);
    return std::to_string(result) + "|" + std::to_string(r.pathStyle) + "|" +
           std::to_string(r.status) + "|" + r.message + "|" + r.outputPath + "|" +
           std::to_string(r.time1) + "|" + std::to_string(r.time2);
}

} // namespace

// Empty lines vanish, numbers are forgiving (not a number: left as it was;
// past 2038 stays right), the message is bounded and an overlong path refused. Status words
// are exact.
TEST(ParseReply, ReadsEachLineOfTheReply) {
    const std::string p511(511, 'p');
    std::vector<std::pair<std::string, std::string>> cases = {
        {"QOR\n2\njob\nfinish\nAll done\n/srv/out/a.tif\n1600000000\n1500000000\n",
         "0|2|0|All done|/srv/out/a.tif|1600000000|1500000000"},
        {"\n\na\n\n 1x\nb\nwarning\n\nm\np\n-5\nnot a number\nlater\n", "0|1|-1|m|p|-5|0"},
        {"a\nnope\nb\nfinish\nm\np\n4102444800\n99999999999999999999999\n",
         "0|0|0|m|p|4102444800|" + std::to_string(INT64_MAX)},
        {"a\n1\nb\nerror\n" + std::string(300, 'm') + "\np\n",
         "0|1|-2|" + std::string(255, 'm') + "|p|0|0"},
        {"a\n1\nb\nerror\nm\n" + p511 + "\n", "0|1|-2|m|" + p511 + "|0|0"},
        {"a\n1\nb\nerror\nm\n" + p511 + "p\n", "-1|1|-2|m||0|0"}};
    const std::pair<const char*, int> words[] = {{"finish", 0},   {"warning", -1}, {"error", -2},
                                                 {"stop", -3},    {"Finish", 99},  {"FINISH", 99},
                                                 {"finish ", 99}, {"done", 99}};
    for (auto [word, status] : words) {
        cases.emplace_back(std::string("a\n1\nb\n") + word + "\nmsg\n",
                           "0|1|" + std::to_string(status) + "|msg||0|0");
    }
    for (const auto& [text, parsed] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(Parsed(text), parsed);
    }
}

TEST(ParseReply, NeedsTheMessageLineAndStaysInsideTheCapacity) {
    QorReply r;
    r.status = 99;
    // An empty status line vanishes: the message becomes the status word.
    EXPECT_EQ(Parse("a\n1\nb\n\nmsg\n", r), -1);
    EXPECT_EQ(r.status, 99);
    EXPECT_EQ(Parse("", r), -1);
    EXPECT_EQ(Parse("\n\n\n", r), -1);
    EXPECT_EQ(Parse("a\n1\nb\nfinish\n", r), -1);
    EXPECT_EQ(Parse("a\n1\nb\nfinish\nm", r), 0);
    EXPECT_EQ(ParseReply(nullptr, 10, r), -1);
    // The text is not terminated within the capacity given.
    std::string text = "a\n1\nb\nfinish\nmsg\n/out/x.tif";
    EXPECT_EQ(ParseReply(text.data(), 15, r), 0); // up to "ms"
    EXPECT_STREQ(r.message, "ms");
    EXPECT_STREQ(r.outputPath, "");
    EXPECT_EQ(ParseReply(text.data(), 0, r), -1);
}
