#include "HostPlatform.h"
#include "IPMStream.h"
#include "OD_ClientSettings.h"
#include "OD_Preferences.h"
#include "PreferenceFiles.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <sys/xattr.h>
#include <vector>

namespace {

// Bytes in the record's stream encoding, put together by hand: little-endian
// integers and doubles, texts as a 32-bit count and their bytes, path fields
// as a 32-bit count and the text with its NUL.
class Bytes {
public:
    Bytes& I16(int16_t v) { return Le(static_cast<uint16_t>(v), 2); }
    Bytes& I32(int32_t v) { return Le(static_cast<uint32_t>(v), 4); }
    Bytes& Real(double v) {
        uint64_t bits;
        std::memcpy(&bits, &v, 8);
        return Le(bits, 8);
    }
    Bytes& Raw(const std::string& s) {
        data.insert(data.end(), s.begin(), s.end());
        return *this;
    }
    Bytes& Text(const std::string& s) { return I32(static_cast<int32_t>(s.size())).Raw(s); }
    Bytes& Path(const std::string& s) {
        return I32(static_cast<int32_t>(s.size() + 1)).Raw(s).Raw(std::string(1, '\0'));
    }
    std::vector<uint8_t> data;

private:
    Bytes& Le(uint64_t v, int n) {
        for (int i = 0; i < n; ++i) {
            data.push_back(static_cast<uint8_t>(v >> (8 * i)));
        }
        return *this;
    }
};

// A record whose every value differs from its default.
OD_PrefsData Full() {
    OD_PrefsData r;
    r.SetHeadFlag(false);
    r.SetResolution(300.5);
    r.SetDownSmpMin(20.25);
    r.SetUpSmpMax(120.75);
    EXPECT_TRUE(r.SetServerPath("/srv/qor/QOR.exe"));
    EXPECT_TRUE(r.SetOutFolder("/out"));
    r.SetRepSrc(true);
    r.SetDelSrc(true);
    r.SetDefaultProcess(PMString("Sharp"));
    r.SetOvrWrDest(true);
    r.SetCheckSrc(false);
    r.SetAutoUpdt(false);
    r.SetFrequency(9);
    r.SetOpiActive(true);
    r.SetOpiText1(PMString("t1"));
    r.SetOpiText2(PMString("t2"));
    r.SetOpiValue(4);
    r.SetOpiSuffix(PMString("_lr"));
    EXPECT_TRUE(r.SetOpiLoResFolder("/lowres"));
    EXPECT_TRUE(r.SetClassDefault(0, 2, PMString("p0"), PMString("r0")));
    EXPECT_TRUE(r.SetClassDefault(1, 11, PMString("p1"), PMString("r1")));
    EXPECT_TRUE(r.SetClassDefault(2, 21, PMString("p2"), PMString("r2")));
    r.SetSpareFlagA(false);
    r.SetAutoImport(true);
    r.SetSpareFlagB(true);
    r.SetSpareText(PMString("spare"));
    r.SetQualityControl(false);
    r.SetShowPrefs(true);
    return r;
}

using R = OD_PrefsData;

// Copies slot i's code, prefix or profile (part 0, 1 or 2) from one record to another.
void CopySlotPart(R& to, const R& from, int i, int part) {
    to.SetClassDefault(i, (part == 0 ? from : to).GetDefaultCode(i),
                       (part == 1 ? from : to).GetDefaultPrefix(i),
                       (part == 2 ? from : to).GetDefaultProfile(i));
}

// Every field with the version it came at and a copy of it between records.
struct Field {
    const char* name;
    int since;
    void (*copy)(R& to, const R& from);
};
Field Copying(const char* name, int since, void (*copy)(R&, const R&)) {
    return {name, since, copy};
}
#define FIELD(since, F) Copying(#F, since, [](R& t, const R& f) { t.Set##F(f.Get##F()); })
#define SLOT(name, i, part)                                                                        \
    Copying(name, 256, [](R& t, const R& f) { CopySlotPart(t, f, i, part); })
const Field kFields[] = {FIELD(256, HeadFlag),
                         FIELD(256, Resolution),
                         FIELD(256, DownSmpMin),
                         FIELD(256, UpSmpMax),
                         FIELD(260, ServerPath),
                         FIELD(256, OutFolder),
                         FIELD(257, RepSrc),
                         FIELD(257, DelSrc),
                         FIELD(256, DefaultProcess),
                         FIELD(256, OvrWrDest),
                         FIELD(256, CheckSrc),
                         FIELD(256, AutoUpdt),
                         FIELD(256, Frequency),
                         FIELD(256, OpiActive),
                         FIELD(259, OpiText1),
                         FIELD(259, OpiText2),
                         FIELD(259, OpiSuffix),
                         FIELD(259, OpiValue),
                         FIELD(256, OpiLoResFolder),
                         SLOT("defaultCode 2", 2, 0),
                         SLOT("defaultPrefix 1", 1, 1),
                         SLOT("defaultProfile 0", 0, 2),
                         FIELD(258, SpareFlagA),
                         FIELD(258, AutoImport),
                         FIELD(259, SpareFlagB),
                         FIELD(259, SpareText),
                         FIELD(261, QualityControl),
                         FIELD(262, ShowPrefs)};
#undef SLOT
#undef FIELD

// The stream of a record at a version, laid out field by field with the
// versions at which each field came. outFolder, when given, replaces the
// encoded outFolder field.
std::vector<uint8_t> Layout(int16_t version, const OD_PrefsData& v = Full(),
                            const std::optional<Bytes>& outFolder = std::nullopt) {
    Bytes b;
    b.I16(version).I16(v.GetHeadFlag()).Real(v.GetResolution()).Real(v.GetDownSmpMin());
    b.Real(v.GetUpSmpMax());
    if (version >= 260) {
        b.Path(v.GetServerPath());
    }
    if (outFolder) {
        b.Raw(std::string(outFolder->data.begin(), outFolder->data.end()));
    } else {
        b.Path(v.GetOutFolder());
    }
    if (version >= 257) {
        b.I16(v.GetRepSrc()).I16(v.GetDelSrc());
    }
    b.Text(v.GetDefaultProcess().GetUTF8String()).I16(v.GetOvrWrDest()).I16(v.GetCheckSrc());
    b.I16(v.GetAutoUpdt()).I16(v.GetFrequency()).I16(v.GetOpiActive());
    if (version >= 259) {
        b.I16(257).Text(v.GetOpiText1().GetUTF8String()).Text(v.GetOpiText2().GetUTF8String());
        b.I16(v.GetOpiValue()).Text(v.GetOpiSuffix().GetUTF8String());
    }
    b.Path(v.GetOpiLoResFolder());
    for (int i = 0; i < 3; ++i) {
        b.I16(v.GetDefaultCode(i)).Text(v.GetDefaultPrefix(i).GetUTF8String());
        b.Text(v.GetDefaultProfile(i).GetUTF8String());
    }
    if (version >= 258) {
        b.I16(v.GetSpareFlagA()).I16(v.GetAutoImport());
    }
    if (version >= 259) {
        b.I16(v.GetSpareFlagB()).Text(v.GetSpareText().GetUTF8String());
    }
    if (version >= 261) {
        b.I16(v.GetQualityControl());
    }
    if (version >= 262) {
        b.I16(v.GetShowPrefs());
    }
    return b.data;
}

std::vector<uint8_t> Written(const OD_PrefsData& r) {
    MemoryStream out;
    r.Write(&out);
    EXPECT_TRUE(out.Good());
    return out.TakeBytes();
}

OD_PrefsReadResult ReadInto(OD_PrefsData& r, const std::vector<uint8_t>& bytes,
                            std::size_t* left = nullptr) {
    MemoryStream in(bytes);
    OD_PrefsReadResult result = r.Read(&in);
    EXPECT_EQ(result.error == OD_PrefsReadError::kNone, in.Good());
    if (left != nullptr) {
        *left = in.Remaining();
    }
    return result;
}

class PreferencesTest : public ::testing::Test {
protected:
    void SetUp() override {
        HostPlatform::SetSystemFolder(system.Path());
        OD_PrefsData::ResetIdentityFolderForTesting();
    }
    void TearDown() override {
        HostPlatform::Reset();
        OD_PrefsData::ResetIdentityFolderForTesting();
    }
    TempDir system;
};

} // namespace

TEST_F(PreferencesTest, ASlotOutsideTheThreeGivesCodeZeroAndTheFirstSlotsTexts) {
    OD_PrefsData r = Full();
    for (int slot : {3, 4, 100, -1}) {
        SCOPED_TRACE(slot);
        EXPECT_EQ(r.GetDefaultCode(slot), 0);
        EXPECT_EQ(r.GetDefaultPrefix(slot), PMString("p0"));
        EXPECT_EQ(r.GetDefaultProfile(slot), PMString("r0"));
        EXPECT_FALSE(r.SetClassDefault(slot, 5, PMString("x"), PMString("y")));
    }
    EXPECT_EQ(r, Full()) << "a refused slot changes nothing";
}

TEST_F(PreferencesTest, PathFieldsTakeAtMost260CharactersAndRefuseLongerOnes) {
    const std::tuple<const char*, const char* (R::*)() const, bool (R::*)(const char*)> fields[] = {
        {"serverPath", &R::GetServerPath, &R::SetServerPath},
        {"outFolder", &R::GetOutFolder, &R::SetOutFolder},
        {"opiLoResFolder", &R::GetOpiLoResFolder, &R::SetOpiLoResFolder},
    };
    const std::string longest(260, 'p');
    for (const auto& [name, get, set] : fields) {
        SCOPED_TRACE(name);
        OD_PrefsData r;
        EXPECT_TRUE((r.*set)(longest.c_str()));
        EXPECT_EQ((r.*get)(), longest);
        EXPECT_FALSE((r.*set)((longest + "q").c_str()));
        EXPECT_EQ((r.*get)(), longest) << "a refused text keeps the old one";
        EXPECT_TRUE((r.*set)(nullptr));
        EXPECT_STREQ((r.*get)(), "");
    }
}

TEST_F(PreferencesTest, EveryFieldTakesPartInComparison) {
    const OD_PrefsData base;
    for (const Field& f : kFields) {
        OD_PrefsData changed = base;
        f.copy(changed, Full());
        EXPECT_FALSE(changed == base) << f.name;
        OD_PrefsData copy = changed;
        EXPECT_TRUE(copy == changed) << f.name << ": a copy holds every field";
    }
}

TEST_F(PreferencesTest, WritingLaysTheFieldsOutInTheirOrderAtTheCurrentVersion) {
    EXPECT_EQ(Written(Full()), Layout(263));
    // A fresh record: 121 bytes, starting with the version 263 (0x0107).
    auto fresh = Written(OD_PrefsData());
    ASSERT_EQ(fresh.size(), 121u);
    EXPECT_EQ(fresh[0], 0x07);
    EXPECT_EQ(fresh[1], 0x01);
}

TEST_F(PreferencesTest, OlderVersionsKeepWhatTheyDoNotHold) {
    // Every value differs from its default, so each field shows whether it was
    // read or kept.
    const OD_PrefsData d;
    for (int16_t version = 256; version <= 263; ++version) {
        SCOPED_TRACE(version);
        OD_PrefsData want = Full();
        for (const Field& f : kFields) {
            if (version < f.since) {
                f.copy(want, d);
            }
        }
        OD_PrefsData r;
        std::size_t left = 99;
        auto result = ReadInto(r, Layout(version), &left);
        ASSERT_TRUE(result) << result.reason;
        EXPECT_EQ(result.version, version);
        EXPECT_EQ(left, 0u);
        EXPECT_EQ(r, want);
    }
}

TEST_F(PreferencesTest, AVersion261RecordKeepsShowPrefsAsItWas) {
    OD_PrefsData shown;
    shown.SetShowPrefs(true);
    ASSERT_TRUE(ReadInto(shown, Layout(261)));
    EXPECT_TRUE(shown.GetShowPrefs()) << "fields a version lacks keep the values they had";
    EXPECT_FALSE(shown.GetQualityControl());
    // A file is read into a fresh record: what it lacks is the default.
    auto bytes = Layout(261);
    WriteFile(system / "old.opf", std::string(bytes.begin(), bytes.end()));
    ASSERT_TRUE(LoadPreferenceFile(system / "old.opf", shown));
    EXPECT_FALSE(shown.GetShowPrefs());
    EXPECT_EQ(shown.GetFrequency(), 9);
}

TEST_F(PreferencesTest, PathLengthsNeverWritePastTheFieldAndLongOnesAreRefused) {
    const std::string a260(260, 'a');
    // {name, encoded field, error, outFolder after a successful read}
    const std::tuple<const char*, Bytes, OD_PrefsReadError, std::string> cases[] = {
        {"260 characters and the NUL", Bytes().I32(261).Raw(a260).Raw(std::string(1, '\0')),
         OD_PrefsReadError::kNone, a260},
        {"261 bytes without an end", Bytes().I32(261).Raw(a260 + "a"),
         OD_PrefsReadError::kTextTooLong, ""},
        {"262 bytes", Bytes().I32(262).Raw(a260 + "aa"), OD_PrefsReadError::kTextTooLong, ""},
        {"a huge length", Bytes().I32(0x7FFFFFFF).Raw("abc"), OD_PrefsReadError::kTextTooLong, ""},
        {"a negative length", Bytes().I32(-5).Raw("abc"), OD_PrefsReadError::kBadLength, ""},
        {"no NUL within a short length", Bytes().I32(5).Raw("abcde"), OD_PrefsReadError::kNone,
         "abcde"},
        {"a NUL inside", Bytes().I32(4).Raw(std::string("ab\0c", 4)), OD_PrefsReadError::kNone,
         "ab"},
        {"length 0 keeps the field", Bytes().I32(0), OD_PrefsReadError::kNone, "before"},
    };
    for (const auto& [name, encoded, error, text] : cases) {
        SCOPED_TRACE(name);
        OD_PrefsData r;
        r.SetOutFolder("before");
        r.SetFrequency(77);
        const OD_PrefsData before = r;
        auto result = ReadInto(r, Layout(263, Full(), encoded));
        EXPECT_EQ(result.error, error) << result.reason;
        if (error == OD_PrefsReadError::kNone) {
            EXPECT_EQ(r.GetOutFolder(), text);
            EXPECT_EQ(r.GetFrequency(), 9);
        } else {
            EXPECT_EQ(r, before) << "a refused record changes nothing";
            EXPECT_NE(result.reason.find("outFolder"), std::string::npos) << result.reason;
        }
    }
}

TEST_F(PreferencesTest, DamagedStreamsAreRefusedWithTheReasonAndChangeNothing) {
    auto full = Layout(263);
    auto with = [&](std::size_t at, std::initializer_list<uint8_t> bytes) {
        auto b = full;
        std::copy(bytes.begin(), bytes.end(), b.begin() + at);
        return b;
    };
    // defaultProcess's length sits after version, flag, reals, two paths, two flags.
    const std::size_t defaultProcessAt = 2 + 2 + 24 + (4 + 16 + 1) + (4 + 4 + 1) + 4;
    const std::tuple<const char*, std::vector<uint8_t>, OD_PrefsReadError, const char*> cases[] = {
        {"empty", {}, OD_PrefsReadError::kEndOfData, "version"},
        {"version 255", with(0, {0xFF, 0x00}), OD_PrefsReadError::kBadVersion, "255"},
        {"version 264", with(0, {0x08, 0x01}), OD_PrefsReadError::kBadVersion, "264"},
        {"version -1", with(0, {0xFF, 0xFF}), OD_PrefsReadError::kBadVersion, "-1"},
        {"headFlag 2", with(2, {2}), OD_PrefsReadError::kBadFlag, "headFlag"},
        {"last flag 257", with(full.size() - 1, {1}), OD_PrefsReadError::kBadFlag, "showPrefs"},
        {"text length negative", with(defaultProcessAt + 3, {0x80}), OD_PrefsReadError::kBadLength,
         "defaultProcess"},
        {"text length past the end", with(defaultProcessAt + 2, {0x01}),
         OD_PrefsReadError::kEndOfData, "defaultProcess"},
    };
    for (const auto& [name, bytes, error, says] : cases) {
        SCOPED_TRACE(name);
        OD_PrefsData r;
        r.SetResolution(1234);
        const OD_PrefsData before = r;
        auto result = ReadInto(r, bytes);
        EXPECT_EQ(result.error, error);
        EXPECT_NE(result.reason.find(says), std::string::npos) << result.reason;
        EXPECT_EQ(r, before);
    }

    // Cut anywhere, the stream ends inside some field.
    for (std::size_t length = 0; length < full.size(); ++length) {
        OD_PrefsData r;
        r.SetResolution(1234);
        const OD_PrefsData before = r;
        auto result = ReadInto(r, std::vector<uint8_t>(full.begin(), full.begin() + length));
        EXPECT_EQ(result.error, OD_PrefsReadError::kEndOfData) << "cut at " << length;
        EXPECT_EQ(r, before) << "cut at " << length;
    }
}

TEST_F(PreferencesTest, ReadWriteOfAStreamThatFailsPutsItInItsErrorStateAndKeepsTheRecord) {
    OD_PrefsData r;
    r.SetFrequency(42);
    const OD_PrefsData before = r;
    auto bytes = Layout(263);
    bytes.pop_back();
    MemoryStream in(bytes);
    r.ReadWrite(&in);
    EXPECT_FALSE(in.Good());
    EXPECT_EQ(r, before);

    MemoryStream failed(Layout(263));
    failed.SetFailed();
    auto result = r.Read(&failed);
    EXPECT_FALSE(result);
    EXPECT_EQ(r, before);
}

TEST_F(PreferencesTest, TheIdentityFolderIsOD_IDWhenItExistsElseTheSystemFolder) {
    const std::string sep(1, kPathSeparator);
    const std::string own = system.Path() + sep + "velmaris" + sep + "OD_ID";
    const std::tuple<const char*, std::function<void()>, std::string, std::string> cases[] = {
        {"no velmaris folder", [] {}, system.Path(), system.Path()},
        {"velmaris without OD_ID", [&] { MakeDirs(system / "velmaris"); }, system.Path(),
         system.Path()},
        {"OD_ID is a file", [&] { WriteFile(own, "x"); }, system.Path(), system.Path()},
        {"OD_ID exists", [&] { MakeDirs(own); }, system.Path(), own},
        {"given with a trailing separator", [&] { MakeDirs(own); }, system.Path() + sep, own},
    };
    for (const auto& [name, layout, systemFolder, expected] : cases) {
        SCOPED_TRACE(name);
        std::filesystem::remove_all(system / "velmaris");
        layout();
        HostPlatform::SetSystemFolder(systemFolder);
        OD_PrefsData::ResetIdentityFolderForTesting();
        OD_PrefsData first;
        EXPECT_EQ(OD_PrefsData::IdentityFolder(), expected);
        EXPECT_STREQ(OD_PrefsData::IdentityFolderProblem(), "");
    }
}

TEST_F(PreferencesTest, AnIdentityFolderThatDoesNotFitIsNotUsedRatherThanCut) {
    // An OD_ID folder of 260 characters is used, one of 261 is not; the
    // system folder above it fits either way.
    const std::string tail = std::string(1, kPathSeparator) + "velmaris" + kPathSeparator + "OD_ID";
    for (const std::size_t ownSize : {260u, 261u}) {
        SCOPED_TRACE(ownSize);
        std::string deep = system.Path() + kPathSeparator + std::to_string(ownSize);
        while (deep.size() < ownSize - tail.size()) {
            deep += kPathSeparator +
                    std::string(std::min<std::size_t>(60, ownSize - tail.size() - deep.size() - 1),
                                'd');
        }
        ASSERT_EQ(deep.size() + tail.size(), ownSize);
        MakeDirs(deep);
        HostPlatform::SetSystemFolder(deep);
        OD_PrefsData::ResetIdentityFolderForTesting();
        EXPECT_EQ(OD_PrefsData::IdentityFolder(), deep) << "without OD_ID the system folder fits";

        MakeDirs(deep + tail);
        OD_PrefsData::ResetIdentityFolderForTesting();
        EXPECT_EQ(OD_PrefsData::IdentityFolder(), ownSize == 260 ? deep + tail : "");
    }
    EXPECT_NE(std::string(OD_PrefsData::IdentityFolderProblem()).find("260"), std::string::npos);
    EXPECT_EQ(PreferenceFilePath("a.opf"), "") << "no path is made without a folder";

    HostPlatform::SetSystemFolder("");
    OD_PrefsData::ResetIdentityFolderForTesting();
    EXPECT_STREQ(OD_PrefsData::IdentityFolder(), "");
    EXPECT_NE(std::string(OD_PrefsData::IdentityFolderProblem()).find("no system folder"),
              std::string::npos);
}

TEST_F(PreferencesTest, ASavedPreferenceFileIsExactlyTheRecordsStreamAndLoadsBack) {
    OD_PrefsData saved = Full();
    ASSERT_TRUE(saved.SetOutFolder(std::string(260, 'o').c_str()));
    const std::string path = system / "OrdoDeskPref.opf";
    auto result = SavePreferenceFile(saved, path);
    ASSERT_TRUE(result) << result.reason;
    const auto stream = Written(saved);
    EXPECT_EQ(ReadFile(path), std::string(stream.begin(), stream.end()));
    char type[4];
    if (::getxattr(path.c_str(), kFileTypeAttribute, type, sizeof type) == 4) {
        EXPECT_EQ(std::string(type, 4), "ODPF");
    }

    OD_PrefsData loaded;
    result = LoadPreferenceFile(path, loaded);
    ASSERT_TRUE(result) << result.reason;
    EXPECT_EQ(loaded, saved);

    // Saving again replaces the file whole.
    OD_PrefsData shorter;
    ASSERT_TRUE(SavePreferenceFile(shorter, path));
    ASSERT_TRUE(LoadPreferenceFile(path, loaded));
    EXPECT_EQ(loaded, shorter);
}

TEST_F(PreferencesTest, ADamagedOrForeignPreferenceFileLeavesEveryPreferenceAndSaysWhy) {
    const auto good = Layout(263);
    const std::string goodText(good.begin(), good.end());
    auto put = [&](const std::string& name, const std::string& bytes) {
        WriteFile(system / name, bytes);
        return system / name;
    };
    std::string wrongType = system / "typed.opf";
    FileStreamWrite typed(wrongType, MakeOSType("TEXT"), kPrefsFileCreator);
    std::vector<uint8_t> copy = good;
    typed.XferByte(copy.data(), copy.size());
    ASSERT_EQ(typed.Commit(), FileStreamError::kNone);
    const bool typesRecorded = typed.TypeRecorded();

    const std::string version255 = std::string("\xFF\x00", 2) + goodText.substr(2);
    std::string longPath =
        goodText.substr(0, 28) + std::string("\x07\x01\x00\x00", 4) + goodText.substr(32);
    std::vector<std::tuple<const char*, std::string, PrefsFileCode, const char*>> cases = {
        {"missing", system / "none.opf", PrefsFileCode::kCannotOpen, "no such file"},
        {"a folder", system.Path(), PrefsFileCode::kCannotOpen, "not a plain file"},
        {"empty", put("empty.opf", ""), PrefsFileCode::kDamaged, "empty"},
        {"truncated", put("cut.opf", goodText.substr(0, goodText.size() / 2)),
         PrefsFileCode::kDamaged, "ends inside"},
        {"one byte short", put("short.opf", goodText.substr(0, goodText.size() - 1)),
         PrefsFileCode::kDamaged, "showPrefs"},
        {"bytes after the record", put("long.opf", goodText + "x"), PrefsFileCode::kDamaged,
         "1 bytes follow"},
        {"version 255", put("v255.opf", version255), PrefsFileCode::kBadVersion, "255"},
        {"a path longer than its field", put("path.opf", longPath), PrefsFileCode::kDamaged,
         "serverPath"},
        {"a document file", put("doc.opf", "{\"document\": {\"spreads\": []}}\n"),
         PrefsFileCode::kBadVersion, "version"},
    };
    if (typesRecorded) {
        cases.push_back(
            {"recorded as another kind", wrongType, PrefsFileCode::kWrongType, "another kind"});
    }
    for (const auto& [name, path, code, says] : cases) {
        SCOPED_TRACE(name);
        OD_PrefsData r = Full();
        r.SetFrequency(321);
        const OD_PrefsData before = r;
        auto result = LoadPreferenceFile(path, r);
        EXPECT_EQ(result.code, code) << result.reason;
        EXPECT_FALSE(result);
        EXPECT_NE(result.reason.find(says), std::string::npos) << result.reason;
        EXPECT_EQ(r, before);
    }
}

TEST_F(PreferencesTest, AFailedSaveSaysWhyAndKeepsTheOldFile) {
    const std::string path = system / "keep.opf";
    const OD_PrefsData old = Full();
    ASSERT_TRUE(SavePreferenceFile(old, path));
    const std::string before = ReadFile(path);

    auto result = SavePreferenceFile(OD_PrefsData(), system / "missing/x.opf");
    EXPECT_EQ(result.code, PrefsFileCode::kCannotWrite);
    EXPECT_FALSE(result.reason.empty());

    MakeDirs(system / "folder.opf/inside");
    result = SavePreferenceFile(OD_PrefsData(), system / "folder.opf");
    EXPECT_EQ(result.code, PrefsFileCode::kCannotWrite);
    EXPECT_NE(result.reason.find("replaced"), std::string::npos) << result.reason;
    EXPECT_EQ(ReadFile(path), before);
}

TEST_F(PreferencesTest, PreferenceFilesAreNamedAndListedInTheIdentityFolder) {
    MakeDirs(system / "velmaris/OD_ID/sub.opf");
    OD_PrefsData::ResetIdentityFolderForTesting();
    const std::string folder = system / "velmaris/OD_ID";
    ASSERT_EQ(OD_PrefsData::IdentityFolder(), folder);

    EXPECT_EQ(PreferenceFilePath("Studio.opf"), folder + kPathSeparator + "Studio.opf");
    for (const std::string& bad :
         std::vector<std::string>{"", ".", "..", "a/b.opf", std::string(256, 'n')}) {
        EXPECT_EQ(PreferenceFilePath(bad), "") << bad;
    }

    for (const char* name : {"b.opf", "A.OPF", "notes.txt", "opf", ".opf.bak"}) {
        WriteFile(folder + kPathSeparator + name, "x");
    }
    EXPECT_EQ(ListPreferenceFiles(), (std::vector<std::string>{"A.OPF", "b.opf"}));
}

TEST(ClientSettings, ParseTakesTheLastGoodLimitAndSaysWhenALineDoesNotRead) {
    const std::tuple<const char*, bool, int> cases[] = {
        {"", true, kODNotAnsweringDefaultSeconds},
        {"notAnsweringSeconds 90\n", true, 90},
        {"other key\r\nnotAnsweringSeconds 5\r\n\n", true, 5},
        {"notAnsweringSeconds 86400", true, 86400},
        {"notAnsweringSeconds 86401", false, kODNotAnsweringDefaultSeconds},
        {"notAnsweringSeconds 0", false, kODNotAnsweringDefaultSeconds},
        {"notAnsweringSeconds 9x", false, kODNotAnsweringDefaultSeconds},
        {"notAnsweringSeconds", false, kODNotAnsweringDefaultSeconds},
        {"notAnsweringSeconds 7\nbroken", false, 7}};
    for (const auto& [text, whole, seconds] : cases) {
        SCOPED_TRACE(text);
        int got = -1;
        EXPECT_EQ(ParseClientSettings(text, got), whole);
        EXPECT_EQ(got, seconds);
    }
}

TEST_F(PreferencesTest, TheNotAnsweringLimitIsStoredBesideThePreferencesAndReadOnce) {
    ForgetClientSettingsForTesting();
    EXPECT_EQ(NotAnsweringSeconds(), kODNotAnsweringDefaultSeconds);
    EXPECT_FALSE(SetNotAnsweringSeconds(0));
    ASSERT_TRUE(SetNotAnsweringSeconds(120));
    ForgetClientSettingsForTesting();
    EXPECT_EQ(NotAnsweringSeconds(), 120) << "read back as a new process would";
    std::filesystem::remove(system / kODClientSettingsFileName);
    EXPECT_EQ(NotAnsweringSeconds(), 120) << "read once";
    ForgetClientSettingsForTesting();
}
