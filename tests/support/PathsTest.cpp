#include "Paths.h"
#include "PathKind.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

TEST(PathKind, ClassifiesEachStyle) {
    // A lower-case drive's colon makes it Mac style; a colon only at the first character does not.
    // {kind, paths of that kind}: -1 none, 0 Mac, 1 Windows, 2 Unix.
    const std::pair<int, std::vector<const char*>> byKind[] = {
        {-1, {nullptr, "", "\\\\server", ":a.tif", "/a.tif", "a.tif", "images/a.tif"}},
        {0, {"c:\\Images\\a.tif", "Vol:Images:a.tif", "images/a:b"}},
        {1, {"C:\\Images\\a.tif", "\\\\server\\share\\a.tif", "Z:", "\\\\\\"}},
        {2, {"/srv/images/a.tif", "/srv/"}}};
    for (const auto& [kind, paths] : byKind) {
        for (const char* text : paths) {
            EXPECT_EQ(PathKind(text), kind) << (text ? text : "(null)");
        }
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
