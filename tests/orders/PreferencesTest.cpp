#include "HostPlatform.h"
#include "IPMStream.h"
#include "OD_ClientSettings.h"
#include "OD_Preferences.h"
#include "PreferenceFiles.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <sys/xattr.h>
#include <vector>

namespace {

// The record's stream encoding by hand: little-endian integers and doubles, texts as a
// 32-bit count and their bytes, path fields as a 32-bit count and the text with its NUL.
class Bytes {
public:
    Bytes& I16(int16_t v) { return Le(static_cast<uint16_t>(v), 2); }
    Bytes& I32(int32_t v) { return Le(static_cast<uint32_t>(v), 4); }
    Bytes& Real(double v) { return Le(std::bit_cast<uint64_t>(v), 8); }
    Bytes& Raw(const std::string& s) {
        data.insert(data.end(), s.begin(), s.end());
        return *this;
    }
    Bytes& Text(const std::string& s) { return I32(static_cast<int32_t>(s.size())).Raw(s); }
    Bytes& Path(const std::string& s) {
        return I32(static_cast<int32_t>(s.size() + 1)).Raw(s).Raw(std::string(1, '\0'));
    }
    // A field by its type: flags and numbers in 16 bits.
    Bytes& Put(int v) { return I16(static_cast<int16_t>(v)); }
    Bytes& Put(double v) { return Real(v); }
    Bytes& Put(const char* path) { return Path(path); }
    Bytes& Put(const PMString& text) { return Text(text.GetUTF8String()); }
    std::vector<uint8_t> data;

private:
    Bytes& Le(uint64_t v, int n) {
        for (int i = 0; i < n; ++i) {
            data.push_back(static_cast<uint8_t>(v >> (8 * i)));
        }
        return *this;
    }
};

using R = OD_PrefsData;

// Copies slot i's code, prefix or profile (part 0, 1 or 2) from one record to another.
void CopySlotPart(R& to, const R& from, int i, int part) {
    to.SetClassDefault(i, (part == 0 ? from : to).GetDefaultCode(i),
                       (part == 1 ? from : to).GetDefaultPrefix(i),
                       (part == 2 ? from : to).GetDefaultProfile(i));
}

// Every field in the order of the stream, with the version it came at, a
// value other than its default, its encoding and a copy of it between records.
struct Field {
    const char* name;
    int since;
    void (*set)(R& r);
    void (*put)(Bytes& b, const R& v);
    void (*copy)(R& to, const R& from);
};
#define FIELD(since, F, value)                                                                     \
    Field(                                                                                         \
        #F, since, [](R& r) { r.Set##F(value); }, [](Bytes& b, const R& v) { b.Put(v.Get##F()); }, \
        [](R& t, const R& f) { t.Set##F(f.Get##F()); })
// Slot i is set and encoded whole; only its part (0 code, 1 prefix, 2 profile) is copied.
#define SLOT(i, part, code, prefix, profile)                                                       \
    Field(                                                                                         \
        "slot " #i, 256, [](R& r) { EXPECT_TRUE(r.SetClassDefault(i, code, prefix, profile)); },   \
        [](Bytes& b, const R& v) {                                                                 \
            b.Put(v.GetDefaultCode(i)).Put(v.GetDefaultPrefix(i)).Put(v.GetDefaultProfile(i));     \
        },                                                                                         \
        [](R& t, const R& f) { CopySlotPart(t, f, i, part); })
const Field kFields[] = {
    FIELD(256, HeadFlag, false),
    FIELD(256, Resolution, 300.5),
    FIELD(256, DownSmpMin, 20.25),
    FIELD(256, UpSmpMax, 120.75),
    FIELD(260, ServerPath, "/srv/qor/QOR.exe"),
    FIELD(256, OutFolder, "/out"),
    FIELD(257, RepSrc, true),
    FIELD(257, DelSrc, true),
    FIELD(256, DefaultProcess, PMString("Sharp")),
    FIELD(256, OvrWrDest, true),
    FIELD(256, CheckSrc, false),
    FIELD(256, AutoUpdt, false),
    FIELD(256, Frequency, 9),
    FIELD(256, OpiActive, true),
    FIELD(259, OpiText1, PMString("t1")),
    FIELD(259, OpiText2, PMString("t2")),
    FIELD(259, OpiValue, 4),
    FIELD(259, OpiSuffix, PMString("_lr")),
    FIELD(256, OpiLoResFolder, "/lowres"),
    SLOT(0, 2, 2, "p0", "r0"),
    SLOT(1, 1, 11, "p1", "r1"),
    SLOT(2, 0, 21, "p2", "r2"),
    FIELD(258, SpareFlagA, false),
    FIELD(258, AutoImport, true),
    FIELD(259, SpareFlagB, true),
    FIELD(259, SpareText, PMString("spare")),
    FIELD(261, QualityControl, false),
    FIELD(262, ShowPrefs, true),
};
#undef SLOT
#undef FIELD

// A record whose every value differs from its default.
OD_PrefsData Full() {
    OD_PrefsData r;
    for (const Field& f : kFields) {
        f.set(r);
    }
    return r;
}

// A record's stream at a version: the version, then its fields (outFolder's, when given).
std::vector<uint8_t> Layout(int16_t version, const OD_PrefsData& v = Full(),
                            const std::optional<Bytes>& outFolder = std::nullopt) {
    Bytes b;
    b.I16(version);
    for (const Field& f : kFields) {
        const std::string_view name = f.name;
        if (version < f.since) {
            continue;
        }
        if (name == "OpiText1") {
            b.I16(257); // the OPI part's own version
        }
        if (outFolder && name == "OutFolder") {
            b.Raw(std::string(outFolder->data.begin(), outFolder->data.end()));
        } else {
            f.put(b, v);
        }
    }
    return b.data;
}

std::vector<uint8_t> Written(const OD_PrefsData& r) {
    MemoryStream out;
    r.Write(&out);
    EXPECT_TRUE(out.Good());
    return out.TakeBytes();
}

// Reads a stream; a record read takes all of it.
OD_PrefsReadResult ReadInto(OD_PrefsData& r, const std::vector<uint8_t>& bytes) {
    MemoryStream in(bytes);
    OD_PrefsReadResult result = r.Read(&in);
    EXPECT_EQ(result.error == OD_PrefsReadError::kNone, in.Good());
    EXPECT_TRUE(!result || in.Remaining() == 0) << in.Remaining() << " bytes left";
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

TEST_F(PreferencesTest, FieldsCountInComparisonAreWrittenInOrderAndKeptWhenAVersionLacksThem) {
    OD_PrefsData slots = Full();
    for (int slot : {3, 4, 100, -1}) {
        SCOPED_TRACE(slot);
        EXPECT_EQ(slots.GetDefaultCode(slot), 0);
        EXPECT_EQ(slots.GetDefaultPrefix(slot), PMString("p0"));
        EXPECT_EQ(slots.GetDefaultProfile(slot), PMString("r0"));
        EXPECT_FALSE(slots.SetClassDefault(slot, 5, PMString("x"), PMString("y")));
    }
    EXPECT_EQ(slots, Full()) << "a refused slot changes nothing";

    const OD_PrefsData base;
    for (const Field& f : kFields) {
        OD_PrefsData changed = base;
        f.copy(changed, Full());
        EXPECT_FALSE(changed == base) << f.name;
        OD_PrefsData copy = changed;
        EXPECT_TRUE(copy == changed) << f.name << ": a copy holds every field";
    }

    // Path fields take at most 260 characters and refuse longer ones.
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

    // Writing lays the fields out in their order at the current version.
    EXPECT_EQ(Written(Full()), Layout(263));
    // A fresh record: 121 bytes, starting with the version 263 (0x0107).
    EXPECT_EQ(Written(OD_PrefsData()), Layout(263, OD_PrefsData()));
    EXPECT_EQ(Layout(263, OD_PrefsData()).size(), 121u);

    // Every value differs from its default, so each field shows whether it was read: one the
    // version lacks stays the default in a fresh record and as it was in a full one.
    for (int16_t version = 256; version <= 263; ++version) {
        SCOPED_TRACE(version);
        OD_PrefsData want = Full();
        for (const Field& f : kFields) {
            if (version < f.since) {
                f.copy(want, base);
            }
        }
        OD_PrefsData r;
        auto result = ReadInto(r, Layout(version));
        ASSERT_TRUE(result) << result.reason;
        EXPECT_EQ(result.version, version);
        EXPECT_EQ(r, want);
        OD_PrefsData full = Full();
        ASSERT_TRUE(ReadInto(full, Layout(version)));
        EXPECT_EQ(full, Full());
    }
}

TEST_F(PreferencesTest, DamagedStreamsAreRefusedWithTheReasonAndPathsNeverPassTheirField) {
    using E = OD_PrefsReadError;
    auto full = Layout(263);
    auto with = [&](std::size_t at, std::initializer_list<uint8_t> bytes) {
        auto b = full;
        std::copy(bytes.begin(), bytes.end(), b.begin() + at);
        return b;
    };
    auto path = [](const Bytes& outFolder) { return Layout(263, Full(), outFolder); };
    const std::string a260(260, 'a');
    const std::string a261 = a260 + "a";
    // defaultProcess's length sits after version, flag, reals, two paths, two flags.
    const std::size_t textAt = 2 + 2 + 24 + (4 + 16 + 1) + (4 + 4 + 1) + 4;
    // {name, stream, error, what the reason names (refused) or the outFolder read}
    const std::tuple<const char*, std::vector<uint8_t>, E, std::string> cases[] = {
        {"empty", {}, E::kEndOfData, "version"},
        {"version 255", with(0, {0xFF, 0x00}), E::kBadVersion, "255"},
        {"version 264", with(0, {0x08, 0x01}), E::kBadVersion, "264"},
        {"version -1", with(0, {0xFF, 0xFF}), E::kBadVersion, "-1"},
        {"headFlag 2", with(2, {2}), E::kBadFlag, "headFlag"},
        {"last flag 257", with(full.size() - 1, {1}), E::kBadFlag, "showPrefs"},
        {"text length < 0", with(textAt + 3, {0x80}), E::kBadLength, "defaultProcess"},
        {"text past the end", with(textAt + 2, {0x01}), E::kEndOfData, "defaultProcess"},
        {"path of 260 and the NUL", path(Bytes().Path(a260)), E::kNone, a260},
        {"261, no end", path(Bytes().I32(261).Raw(a261)), E::kTextTooLong, "outFolder"},
        {"262 bytes", path(Bytes().I32(262).Raw(a261 + "a")), E::kTextTooLong, "outFolder"},
        {"a huge path", path(Bytes().I32(0x7FFFFFFF).Raw("abc")), E::kTextTooLong, "outFolder"},
        {"path length -5", path(Bytes().I32(-5).Raw("abc")), E::kBadLength, "outFolder"},
        {"no NUL in a path", path(Bytes().I32(5).Raw("abcde")), E::kNone, "abcde"},
        {"a NUL inside a path", path(Bytes().I32(4).Raw(std::string("ab\0c", 4))), E::kNone, "ab"},
        {"path length 0 keeps it", path(Bytes().I32(0)), E::kNone, "before"},
    };
    OD_PrefsData r;
    r.SetOutFolder("before");
    r.SetFrequency(77);
    const OD_PrefsData before = r;
    for (const auto& [name, bytes, error, text] : cases) {
        SCOPED_TRACE(name);
        r = before;
        auto result = ReadInto(r, bytes);
        EXPECT_EQ(result.error, error) << result.reason;
        if (error == E::kNone) {
            EXPECT_EQ(r.GetOutFolder(), text);
            EXPECT_EQ(r.GetFrequency(), 9);
        } else {
            EXPECT_NE(result.reason.find(text), std::string::npos) << result.reason;
            EXPECT_EQ(r, before) << "a refused record changes nothing";
        }
    }

    // Cut anywhere, the stream ends inside a field; ReadWrite leaves the stream failed.
    r = before;
    for (std::size_t length = 0; length < full.size(); ++length) {
        SCOPED_TRACE("cut at " + std::to_string(length));
        const std::vector<uint8_t> cut(full.begin(), full.begin() + length);
        EXPECT_EQ(ReadInto(r, cut).error, E::kEndOfData);
        EXPECT_EQ(r, before);
        MemoryStream in(cut);
        r.ReadWrite(&in);
        EXPECT_FALSE(in.Good());
        EXPECT_EQ(r, before);
    }
    MemoryStream failed(full);
    failed.SetFailed();
    EXPECT_FALSE(r.Read(&failed));
    EXPECT_EQ(r, before);
}

TEST_F(PreferencesTest, TheIdentityFolderIsOD_IDElseTheSystemFolderAndNeverCut) {
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

    // Preference files are named and listed in it.
    MakeDirs(own + sep + "sub.opf");
    EXPECT_EQ(PreferenceFilePath("Studio.opf"), own + sep + "Studio.opf");
    for (const std::string& bad :
         std::vector<std::string>{"", ".", "..", "a/b.opf", std::string(256, 'n')}) {
        EXPECT_EQ(PreferenceFilePath(bad), "") << bad;
    }
    for (const char* name : {"b.opf", "A.OPF", "notes.txt", "opf", ".opf.bak"}) {
        WriteFile(own + sep + name, "x");
    }
    EXPECT_EQ(ListPreferenceFiles(), (std::vector<std::string>{"A.OPF", "b.opf"}));

    // An OD_ID folder of 260 characters is used, not one of 261; the system folder fits anyway.
    const std::string tail = sep + "velmaris" + sep + "OD_ID";
    for (const std::size_t ownSize : {260u, 261u}) {
        SCOPED_TRACE(ownSize);
        std::string deep = system.Path() + sep + std::to_string(ownSize) + sep;
        deep += std::string(ownSize - tail.size() - deep.size(), 'd');
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

TEST_F(PreferencesTest, PreferenceFilesAndTheLimitBesideThemAreSavedLoadedAndRefusedWhenDamaged) {
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
    ASSERT_TRUE(SavePreferenceFile(OD_PrefsData(), path));
    ASSERT_TRUE(LoadPreferenceFile(path, loaded));
    EXPECT_EQ(loaded, OD_PrefsData());

    // A file is read into a fresh record: what an older version lacks is the default.
    const auto old = Layout(261);
    WriteFile(path, std::string(old.begin(), old.end()));
    loaded.SetShowPrefs(true);
    ASSERT_TRUE(LoadPreferenceFile(path, loaded));
    EXPECT_FALSE(loaded.GetShowPrefs());
    EXPECT_EQ(loaded.GetFrequency(), 9);

    // A failed save says why and keeps the old file.
    const std::string kept = ReadFile(path);
    auto failed = SavePreferenceFile(OD_PrefsData(), system / "missing/x.opf");
    EXPECT_EQ(failed.code, PrefsFileCode::kCannotWrite);
    EXPECT_FALSE(failed.reason.empty());
    MakeDirs(system / "folder.opf/inside");
    failed = SavePreferenceFile(OD_PrefsData(), system / "folder.opf");
    EXPECT_EQ(failed.code, PrefsFileCode::kCannotWrite);
    EXPECT_NE(failed.reason.find("replaced"), std::string::npos) << failed.reason;
    EXPECT_EQ(ReadFile(path), kept);

    // A damaged or foreign file leaves every preference and says why.
    auto good = Layout(263);
    const std::string goodText(good.begin(), good.end());
    auto put = [&](const std::string& name, const std::string& bytes) {
        WriteFile(system / name, bytes);
        return system / name;
    };
    using C = PrefsFileCode;
    FileStreamWrite typed(system / "typed.opf", MakeOSType("TEXT"), kPrefsFileCreator);
    typed.XferByte(good.data(), good.size());
    ASSERT_EQ(typed.Commit(), FileStreamError::kNone);

    const std::size_t size = goodText.size();
    std::vector<std::tuple<const char*, std::string, C, const char*>> cases = {
        {"missing", system / "none.opf", C::kCannotOpen, "no such file"},
        {"a folder", system.Path(), C::kCannotOpen, "not a plain file"},
        {"empty", put("empty.opf", ""), C::kDamaged, "empty"},
        {"truncated", put("cut.opf", goodText.substr(0, size / 2)), C::kDamaged, "ends inside"},
        {"a byte short", put("short.opf", goodText.substr(0, size - 1)), C::kDamaged, "showPrefs"},
        {"bytes after the record", put("long.opf", goodText + "x"), C::kDamaged, "1 bytes follow"},
        {"version 255", put("v255.opf", std::string("\xFF\0", 2) + goodText.substr(2)),
         C::kBadVersion, "255"},
        {"a path longer than its field",
         put("path.opf",
             goodText.substr(0, 28) + std::string("\x07\x01\0\0", 4) + goodText.substr(32)),
         C::kDamaged, "serverPath"},
        {"a document file", put("doc.opf", "{\"document\": {\"spreads\": []}}\n"), C::kBadVersion,
         "version"},
    };
    if (typed.TypeRecorded()) {
        cases.push_back(
            {"recorded as another kind", system / "typed.opf", C::kWrongType, "another kind"});
    }
    for (const auto& [name, file, code, says] : cases) {
        SCOPED_TRACE(name);
        OD_PrefsData r = Full();
        r.SetFrequency(321);
        const OD_PrefsData before = r;
        auto refused = LoadPreferenceFile(file, r);
        EXPECT_EQ(refused.code, code) << refused.reason;
        EXPECT_FALSE(refused);
        EXPECT_NE(refused.reason.find(says), std::string::npos) << refused.reason;
        EXPECT_EQ(r, before);
    }

    // The not-answering limit is parsed, stored beside the preferences and read once.
    ForgetClientSettingsForTesting();
    EXPECT_EQ(NotAnsweringSeconds(), kODNotAnsweringDefaultSeconds);
    EXPECT_FALSE(SetNotAnsweringSeconds(0));
    ASSERT_TRUE(SetNotAnsweringSeconds(120));
    ForgetClientSettingsForTesting();
    EXPECT_EQ(NotAnsweringSeconds(), 120) << "read back as a new process would";
    std::filesystem::remove(system / kODClientSettingsFileName);
    EXPECT_EQ(NotAnsweringSeconds(), 120) << "read once";
    ForgetClientSettingsForTesting();

    // Parsing takes the last good limit and says when a line does not read.
    const std::tuple<const char*, bool, int> settings[] = {
        {"", true, kODNotAnsweringDefaultSeconds},
        {"notAnsweringSeconds 90\n", true, 90},
        {"other key\r\nnotAnsweringSeconds 5\r\n\n", true, 5},
        {"notAnsweringSeconds 86400", true, 86400},
        {"notAnsweringSeconds 86401", false, kODNotAnsweringDefaultSeconds},
        {"notAnsweringSeconds 0", false, kODNotAnsweringDefaultSeconds},
        {"notAnsweringSeconds 9x", false, kODNotAnsweringDefaultSeconds},
        {"notAnsweringSeconds", false, kODNotAnsweringDefaultSeconds},
        {"notAnsweringSeconds 7\nbroken", false, 7}};
    for (const auto& [text, whole, seconds] : settings) {
        SCOPED_TRACE(text);
        int got = -1;
        EXPECT_EQ(ParseClientSettings(text, got), whole);
        EXPECT_EQ(got, seconds);
    }
}
