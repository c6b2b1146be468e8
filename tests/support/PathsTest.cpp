#include "Paths.h"
#include "PathKind.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(PathKind, ClassifiesEachStyle) {
    // A lower-case drive's colon makes it Mac style; a colon only at the first character does not.
    const std::pair<const char*, int> cases[] = {{nullptr, -1},
                                                 {"", -1},
                                                 {"C:\\Images\\a.tif", 1},
                                                 {"c:\\Images\\a.tif", 0},
                                                 {"\\\\server\\share\\a.tif", 1},
                                                 {"\\\\server", -1},
                                                 {"Vol:Images:a.tif", 0},
                                                 {":a.tif", -1},
                                                 {"/srv/images/a.tif", 2},
                                                 {"/srv/", 2},
                                                 {"/a.tif", -1},
                                                 {"a.tif", -1},
                                                 {"images/a.tif", -1},
                                                 {"images/a:b", 0},
                                                 {"Z:", 1},
                                                 {"\\\\\\", 1}};
    for (const auto& [text, kind] : cases) {
        EXPECT_EQ(PathKind(text), kind) << (text ? text : "(null)");
    }
}

TEST(Paths, BoundedCopiesSayWhenTheyCut) {
    char buf[8];
    EXPECT_TRUE(CopyBounded(buf, sizeof buf, "1234567"));
    EXPECT_STREQ(buf, "1234567");
    EXPECT_FALSE(CopyBounded(buf, sizeof buf, "12345678"));
    EXPECT_STREQ(buf, "1234567");
    EXPECT_TRUE(CopyBounded(buf, sizeof buf, nullptr));
    EXPECT_STREQ(buf, "");

    CopyBounded(buf, sizeof buf, "ab");
    EXPECT_TRUE(AppendPathPart(buf, sizeof buf, "cd"));
    EXPECT_EQ(std::strlen(buf), 5u);
    EXPECT_EQ(buf[2], kPathSeparator);
    EXPECT_FALSE(AppendPathPart(buf, sizeof buf, "ef"));
    EXPECT_EQ(std::strlen(buf), 7u); // never past the capacity

    char full[4] = {'a', 'b', 'c', 'd'}; // not terminated: nothing can be appended
    EXPECT_FALSE(AppendBounded(full, sizeof full, "x"));
    EXPECT_FALSE(AppendBounded(full, sizeof full, "")) << "not even nothing: it is no string";
}
