#include "HostPlatform.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

namespace {

class HostPlatformTest : public ::testing::Test {
protected:
    void TearDown() override { HostPlatform::Reset(); }
    TempDir dir;
};

} // namespace

TEST_F(HostPlatformTest, TheSystemFolderIsCopiedOutOrSizedAndFileCallsReportWhatIsThere) {
    char buffer[16] = "xxxxxxxxxxxxxxx";
    EXPECT_EQ(HostPlatform::GetSystemFolder(buffer, sizeof buffer), 0u) << "none set";
    EXPECT_STREQ(buffer, "");

    HostPlatform::SetSystemFolder("/sys/folder");
    EXPECT_EQ(HostPlatform::GetSystemFolder(buffer, sizeof buffer), 11u);
    EXPECT_STREQ(buffer, "/sys/folder");
    EXPECT_EQ(HostPlatform::GetSystemFolder(buffer, 11), 12u) << "needs its NUL too";
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(HostPlatform::GetSystemFolder(nullptr, 0), 12u);

    std::string longest(HostPlatform::kSystemFolderMax, 'd');
    longest[0] = '/';
    std::vector<char> big(HostPlatform::kSystemFolderMax + 1);
    HostPlatform::SetSystemFolder(longest);
    EXPECT_EQ(HostPlatform::GetSystemFolder(big.data(), big.size()), longest.size());
    HostPlatform::SetSystemFolder(longest + "d");
    EXPECT_EQ(HostPlatform::GetSystemFolder(big.data(), big.size()), 0u)
        << "longer than the host hands out";

    std::string running = HostPlatform::GetModulePath(); // the running program
    EXPECT_FALSE(running.empty());
    EXPECT_TRUE(HostPlatform::Access(running.c_str()));
    std::string file = dir / "a.txt";
    WriteFile(file, "x");
    MakeDirs(dir / "sub.opf");

    HostPlatform::FileInfo info;
    ASSERT_EQ(HostPlatform::Stat(file.c_str(), info), 0);
    EXPECT_FALSE(info.isDirectory);
    EXPECT_GT(info.modified, 0);
    ASSERT_EQ(HostPlatform::Stat(dir.Path().c_str(), info), 0);
    EXPECT_TRUE(info.isDirectory);
    EXPECT_EQ(HostPlatform::Stat((dir / "none").c_str(), info), ENOENT);
    EXPECT_EQ(HostPlatform::Stat(nullptr, info), EINVAL);

    EXPECT_TRUE(HostPlatform::Access(file.c_str()));
    EXPECT_TRUE(HostPlatform::IsDirectory(dir.Path().c_str()));
    EXPECT_FALSE(HostPlatform::IsDirectory(file.c_str()));
    EXPECT_FALSE(HostPlatform::Access(nullptr));

    WriteFile(dir / "b.txt", "y");
    std::vector<std::string> names;
    ASSERT_EQ(HostPlatform::ListFiles(dir.Path().c_str(), names), 0);
    EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "b.txt"})) << "files only, sorted";
    EXPECT_EQ(HostPlatform::ListFiles((dir / "none").c_str(), names), ENOENT);
    EXPECT_TRUE(names.empty());

    EXPECT_EQ(HostPlatform::Unlink(file.c_str()), 0);
    EXPECT_FALSE(HostPlatform::Access(file.c_str()));
    EXPECT_EQ(HostPlatform::Unlink(file.c_str()), ENOENT);
}
