#include "FileStream.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace {

constexpr SysOSType kODPF = MakeOSType("ODPF");
constexpr SysOSType kInDn = MakeOSType("InDn");
constexpr SysOSType kTEXT = MakeOSType("TEXT");

// Writes bytes through a writing stream and commits.
FileStreamError Save(const std::string& path, std::string bytes, SysOSType type, SysOSType creator,
                     bool* recorded = nullptr) {
    FileStreamWrite out(path, type, creator);
    out.XferByte(reinterpret_cast<uint8_t*>(bytes.data()), bytes.size());
    FileStreamError e = out.Commit();
    if (recorded != nullptr) {
        *recorded = out.TypeRecorded();
    }
    return e;
}

std::string ReadAll(FileStreamRead& in) {
    std::string bytes(in.Remaining(), '\0');
    in.XferByte(reinterpret_cast<uint8_t*>(bytes.data()), bytes.size());
    return bytes;
}

class FileStreamTest : public ::testing::Test {
protected:
    void TearDown() override { filestream_testing::RefuseAttributes(false); }
    TempDir dir;
};

} // namespace

TEST(FileTypeCodes, PackFirstCharacterHighestAndReadBack) {
    EXPECT_EQ(std::tuple(kODPF, OSTypeText(kODPF), OSTypeText(kInDn), OSTypeText(0),
                         OSTypeText(0x41000142u)),
              std::tuple(0x4F445046u, "ODPF", "InDn", "", "A??B"));
}

// Written files carry their type and creator; a file recorded as another
// kind is refused, one without a record accepted.
TEST_F(FileStreamTest, TypeAndCreatorAreRecordedAndChecked) {
    std::string probe = dir / "probe";
    WriteFile(probe, "x");
    bool kept = ::setxattr(probe.c_str(), "user.probe", "1", 1, 0) == 0;
    ::unlink(probe.c_str());
    if (!kept) {
        GTEST_SKIP() << "the temporary folder's file system keeps no extended attributes";
    }
    // Name, type record spoilt after writing, type and creator written, type expected, opens.
    const std::tuple<const char*, bool, SysOSType, SysOSType, SysOSType, bool> cases[] = {
        {"same type and creator", false, kODPF, kInDn, kODPF, true},
        {"same type, other creator", false, kODPF, MakeOSType("XXXX"), kODPF, true},
        {"other type", false, kTEXT, kInDn, kODPF, false},
        {"other type, any type expected", false, kTEXT, kInDn, 0, true},
        {"no record at all", false, 0, 0, kODPF, true},
        {"type recorded without creator", false, kODPF, 0, kODPF, true},
        {"a record that is no four-byte code", true, 0, 0, kODPF, false},
    };
    for (const auto& [name, malformed, writtenType, writtenCreator, expected, opens] : cases) {
        SCOPED_TRACE(name);
        std::string path = dir / "file";
        bool recorded = false;
        ASSERT_EQ(Save(path, "data", writtenType, writtenCreator, &recorded),
                  FileStreamError::kNone);
        EXPECT_EQ(recorded, writtenType != 0);
        for (auto [attribute, code] : {std::pair(kFileTypeAttribute, writtenType),
                                       std::pair(kFileCreatorAttribute, writtenCreator)}) {
            char value[8] = {};
            if (code != 0) {
                ASSERT_EQ(::getxattr(path.c_str(), attribute, value, sizeof value), 4);
                EXPECT_EQ(std::string(value, 4), OSTypeText(code));
            }
        }
        if (malformed) {
            ASSERT_EQ(::setxattr(path.c_str(), kFileTypeAttribute, "ODP", 3, 0), 0);
        }
        FileStreamRead in(path, expected, kInDn);
        EXPECT_EQ(in.IsOpen(), opens);
        if (opens) {
            EXPECT_EQ(std::tuple(in.RecordedType(), in.RecordedCreator(), in.Size()),
                      std::tuple(writtenType, writtenCreator, 4u));
            EXPECT_EQ(ReadAll(in), "data");
            EXPECT_EQ(std::tuple(in.Good(), in.Remaining()), std::tuple(true, 0u));
        } else {
            EXPECT_EQ(std::pair(in.Error(), in.Good()),
                      std::pair(FileStreamError::kWrongType, false));
            EXPECT_NE(in.ErrorText().find("another kind"), std::string::npos) << in.ErrorText();
            uint8_t b = 0;
            in.XferByte(&b, 1);
            EXPECT_FALSE(in.Good()) << "a refused stream reads nothing";
        }
    }
}

TEST_F(FileStreamTest, ASaveThatDoesNotCompleteLeavesTheOldFileWholeAndNoLitter) {
    std::string path = dir / "doc.opf";
    WriteFile(path, "old contents");
    const auto before = FolderNames(dir.Path());

    // Destroyed without commit, or a transfer failed and Commit says so.
    for (bool spoil : {false, true}) {
        SCOPED_TRACE(spoil ? "a transfer failed" : "destroyed without commit");
        {
            FileStreamWrite out(path, kODPF, kInDn);
            ASSERT_TRUE(out.IsOpen());
            int32_t v = 42;
            out.XferInt32(v);
            if (spoil) {
                out.SetFailed();
                EXPECT_EQ(out.Commit(), FileStreamError::kStreamFailed);
                EXPECT_EQ(out.Error(), FileStreamError::kStreamFailed);
            }
        }
        EXPECT_EQ(ReadFile(path), "old contents");
        EXPECT_EQ(FolderNames(dir.Path()), before);
    }

    // The target is a folder: the rename cannot take its place.
    std::string folder = dir / "taken";
    MakeDirs(folder + "/inside");
    EXPECT_EQ(Save(folder, "new", kODPF, kInDn), FileStreamError::kCannotReplace);
    EXPECT_TRUE(std::filesystem::is_directory(folder + "/inside"));
    EXPECT_EQ(FolderNames(dir.Path()), (std::vector<std::string>{"doc.opf", "taken"}));

    // The folder does not exist: nothing is opened, and commit says so.
    FileStreamWrite nowhere(dir / "missing/doc.opf", kODPF, kInDn);
    EXPECT_EQ(std::pair(nowhere.IsOpen(), nowhere.Good()), std::pair(false, false));
    EXPECT_EQ(nowhere.Commit(), FileStreamError::kCannotWrite);
    EXPECT_NE(nowhere.ErrorText().find("No such file"), std::string::npos) << nowhere.ErrorText();

    // The folder is read-only.
    ::chmod(dir.Path().c_str(), 0555);
    {
        AsUnprivilegedUser user;
        ASSERT_TRUE(user.Active()) << "cannot act as an unprivileged user";
        EXPECT_EQ(Save(path, "new", kODPF, kInDn), FileStreamError::kCannotWrite);
    }
    ::chmod(dir.Path().c_str(), 0755);
    EXPECT_EQ(ReadFile(path), "old contents");
}

TEST_F(FileStreamTest, ACommittedSaveReplacesTheFileKeepsItsRightsAndCommitsOnce) {
    std::string path = dir / "doc.opf";
    WriteFile(path, "old contents that are longer");
    ::chmod(path.c_str(), 0640);

    // Larger than the stream's buffer, so that it is written in pieces.
    std::string big(200 * 1024 + 3, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>(i * 7 + i / 300);
    }
    FileStreamWrite out(path, kODPF, kInDn);
    out.XferByte(reinterpret_cast<uint8_t*>(big.data()), big.size());
    ASSERT_EQ(out.Commit(), FileStreamError::kNone);
    EXPECT_EQ(std::tuple(ReadFile(path), std::filesystem::status(path).permissions(),
                         FolderNames(dir.Path())),
              std::tuple(big, std::filesystem::perms{0640}, std::vector<std::string>{"doc.opf"}));

    EXPECT_NE(out.Commit(), FileStreamError::kNone) << "a stream commits once";
    EXPECT_EQ(ReadFile(path), big);

    // A file system without attributes still saves, and the file reads back.
    filestream_testing::RefuseAttributes(true);
    path = dir / "plain.opf";
    bool recorded = true;
    ASSERT_EQ(Save(path, "abc", kODPF, kInDn, &recorded), FileStreamError::kNone);
    EXPECT_FALSE(recorded);
    char value[8];
    EXPECT_LT(::getxattr(path.c_str(), kFileTypeAttribute, value, sizeof value), 0)
        << "no half record is left";
    FileStreamRead in(path, kODPF, kInDn);
    EXPECT_EQ(std::tuple(in.IsOpen(), in.RecordedType(), ReadAll(in)), std::tuple(true, 0u, "abc"));
}
