#include "QorReply.h"

#include <gtest/gtest.h>

#include <string>

namespace {

int Parse(const std::string& text, QorReply& reply) {
    return ParseReply(text.c_str(), static_cast<int>(text.size()) + 1, reply);
}

} // namespace

TEST(ParseReply, ReadsAFinishedReplyWithItsTimes) {
    QorReply r;
    r.status = 99;
    ASSERT_EQ(Parse("QOR\n2\njob\nfinish\nAll done\n/srv/out/a.tif\n1600000000\n1500000000\n", r),
              0);
    EXPECT_EQ(r.pathStyle, 2);
    EXPECT_EQ(r.status, 0);
    EXPECT_STREQ(r.message, "All done");
    EXPECT_STREQ(r.outputPath, "/srv/out/a.tif");
    EXPECT_EQ(r.time1, 1600000000);
    EXPECT_EQ(r.time2, 1500000000);
}

TEST(ParseReply, StatusWordsAreExact) {
    const std::pair<const char*, int> words[] = {{"finish", 0},   {"warning", -1}, {"error", -2},
                                                 {"stop", -3},    {"Finish", 99},  {"FINISH", 99},
                                                 {"finish ", 99}, {"done", 99}};
    for (auto [word, status] : words) {
        QorReply r;
        r.status = 99;
        EXPECT_EQ(Parse(std::string("a\n1\nb\n") + word + "\nmsg\n", r), 0) << word;
        EXPECT_EQ(r.status, status) << word;
    }
}

TEST(ParseReply, NeedsTheMessageLine) {
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
}

TEST(ParseReply, EmptyLinesVanishAndNumbersAreForgiving) {
    QorReply r;
    ASSERT_EQ(Parse("\n\na\n\n 1x\nb\nwarning\n\nm\np\n-5\nnot a number\nlater\n", r), 0);
    EXPECT_EQ(r.pathStyle, 1);
    EXPECT_EQ(r.status, -1);
    EXPECT_STREQ(r.message, "m");
    EXPECT_STREQ(r.outputPath, "p");
    EXPECT_EQ(r.time1, -5);
    EXPECT_EQ(r.time2, 0); // not a number: left as it was

    QorReply s;
    ASSERT_EQ(Parse("a\nnope\nb\nfinish\nm\np\n4102444800\n99999999999999999999999\n", s), 0);
    EXPECT_EQ(s.pathStyle, 0);
    EXPECT_EQ(s.time1, 4102444800); // past 2038 stays right
    EXPECT_EQ(s.time2, INT64_MAX);
}

TEST(ParseReply, BoundsMessageAndRefusesAnOverlongPath) {
    QorReply r;
    ASSERT_EQ(Parse("a\n1\nb\nerror\n" + std::string(300, 'm') + "\np\n", r), 0);
    EXPECT_EQ(std::string(r.message), std::string(255, 'm'));

    QorReply s;
    EXPECT_EQ(Parse("a\n1\nb\nerror\nm\n" + std::string(511, 'p') + "\n", s), 0);
    EXPECT_EQ(std::string(s.outputPath), std::string(511, 'p'));
    EXPECT_EQ(Parse("a\n1\nb\nerror\nm\n" + std::string(512, 'p') + "\n", s), -1);
    EXPECT_STREQ(s.outputPath, "");
}

TEST(ParseReply, StaysInsideTheCapacity) {
    // The text is not terminated within the capacity given.
    std::string text = "a\n1\nb\nfinish\nmsg\n/out/x.tif";
    QorReply r;
    EXPECT_EQ(ParseReply(text.data(), 15, r), 0); // up to "ms"
    EXPECT_STREQ(r.message, "ms");
    EXPECT_STREQ(r.outputPath, "");
    EXPECT_EQ(ParseReply(text.data(), 0, r), -1);
}
