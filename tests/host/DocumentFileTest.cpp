// The document file: saving and loading back, atomic replacement, and the
// refusal of damaged and foreign files.

#include "DocumentTestKit.h"

#include "DocumentFile.h"
#include "DocumentModel.h"
#include "DocumentUtils.h"
#include "IGeometry.h"
#include "IHierarchy.h"
#include "ISpread.h"
#include "ITransform.h"
#include "ImportUtils.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

using namespace dockit;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

std::string Base64(const std::vector<uint8_t>& bytes) {
    static const char* alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0, n = bytes.size(); i < n; i += 3) {
        uint32_t v = uint32_t{bytes[i]} << 16 | (i + 1 < n ? uint32_t{bytes[i + 1]} << 8 : 0u) |
                     (i + 2 < n ? bytes[i + 2] : 0u);
        out += {alphabet[v >> 18], alphabet[(v >> 12) & 63],
                i + 1 < n ? alphabet[(v >> 6) & 63] : '=', i + 2 < n ? alphabet[v & 63] : '='};
    }
    return out;
}

// Little-endian 32-bit words.
std::vector<uint8_t> Words(const std::vector<uint32_t>& words) {
    std::vector<uint8_t> out;
    for (uint32_t v : words) {
        out.insert(out.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
    }
    return out;
}

// The bytes of a hierarchy: parent, count, children.
std::string HierarchyData(uint32_t parent, std::vector<uint32_t> children) {
    children.insert(children.begin(), {parent, static_cast<uint32_t>(children.size())});
    return Base64(Words(children));
}

std::vector<uint32_t> ChildUIDs(const UIDRef& parent) {
    std::vector<uint32_t> uids;
    InterfacePtr<IHierarchy> h = InterfaceOf<IHierarchy>(parent);
    for (int32_t i = 0; i < h->GetChildCount(); ++i) {
        uids.push_back(h->GetChildUID(i).Get());
    }
    return uids;
}

std::string HexID(uint32_t id) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", id);
    return text;
}

// A document file's JSON, with ways to reach its objects.
struct FileJson {
    json j;

    json& Object(uint32_t uid) {
        for (auto& o : j["objects"]) {
            if (o["uid"] == uid) {
                return o;
            }
        }
        throw std::runtime_error("no object " + std::to_string(uid));
    }
    json& Data(uint32_t uid, ImplementationID impl) {
        for (auto& i : Object(uid)["implementations"]) {
            if (i["id"] == HexID(impl.Get())) {
                return i["data"];
            }
        }
        throw std::runtime_error("no implementation");
    }
    void AddObject(uint32_t uid, ClassID cls, json implementations = json::array()) {
        j["objects"].push_back(
            {{"uid", uid}, {"class", HexID(cls.Get())}, {"implementations", implementations}});
    }
    std::optional<std::string> raw; // the whole text instead of j
    std::string Text() const { return raw ? *raw : j.dump(1); }
};

using Edit = std::function<void(FileJson&)>;
Edit Raw(std::string text) {
    return [text](FileJson& f) { f.raw = text; };
}
Edit Set(const char* pointer, json value) {
    return [p = json::json_pointer(pointer), value](FileJson& f) { f.j[p] = value; };
}
Edit Erase(const char* pointer) {
    return
        [p = json::json_pointer(pointer)](FileJson& f) { f.j[p.parent_pointer()].erase(p.back()); };
}
Edit Repeat(const char* pointer) { // a copy of the element appended to its list
    return [p = json::json_pointer(pointer)](FileJson& f) {
        f.j[p.parent_pointer()].push_back(json(f.j[p]));
    };
}
Edit SetData(uint32_t uid, ImplementationID impl, std::string data) {
    return [=](FileJson& f) { f.Data(uid, impl) = data; };
}
Edit Links(uint32_t uid, uint32_t parent, const std::vector<uint32_t>& children) {
    return SetData(uid, kHierarchyImpl, HierarchyData(parent, children));
}
Edit All(std::vector<Edit> edits) {
    return [edits](FileJson& f) {
        for (const Edit& e : edits) {
            e(f);
        }
    };
}

class DocumentFileTest : public ::testing::Test {
protected:
    // Every test has a sample document: two spreads; on page 1 a group of two frames with images
    // (one carrying a plug-in note), an empty frame, a text frame; on page 3 a turned image; a
    // frame on the pasteboard.
    struct Sample {
        std::unique_ptr<IDataBase> db;
        UIDRef spread1, group, frameA, imageA, frameB, imageB, empty, frameC, imageC, pasteboard;
    };
    void SetUp() override {
        RegisterDocumentModel();
        RegisterTestNote();
        ErrorUtils::PMSetGlobalErrorCode(kSuccess);
        s.db = DocumentUtils::NewDocument({.pageCount = 3, .pagesPerSpread = 2});
        IDataBase* d = s.db.get();
        const std::string tiff = dir / "a.tif", jpeg = dir / "b.jpg";
        WriteTiff(tiff, 300, 200, 300);
        WriteJpeg(jpeg, 64, 48, 1, 96);
        UIDRef page1 = DocumentUtils::GetNthPage(d, 0), page3 = DocumentUtils::GetNthPage(d, 2);
        s.spread1 = UIDRef(d, InterfaceOf<IPage>(page1)->GetSpreadUID());
        s.frameA = DocumentUtils::AddGraphicFrame(page1, PMRect(36, 36, 236, 186));
        s.imageA = ImportUtils::PlaceFile(s.frameA, PMString(tiff));
        s.frameB = DocumentUtils::AddGraphicFrame(page1, PMRect(300, 36, 400, 136));
        s.imageB = ImportUtils::PlaceFile(s.frameB, PMString(jpeg));
        s.empty = DocumentUtils::AddGraphicFrame(page1, PMRect(36, 400, 100, 500));
        DocumentUtils::AddPageItem(kTextFrameItemBoss, page1, PMRect(36, 600, 300, 700));
        UIDList two(s.frameA);
        two.Append(s.frameB.GetUID());
        s.group = DocumentUtils::GroupItems(two);
        s.frameC = DocumentUtils::AddGraphicFrame(page3, PMRect(10, 10, 210, 210));
        s.imageC = ImportUtils::PlaceFile(s.frameC, PMString(jpeg));
        InterfaceOf<ITransform>(s.imageC)->SetRotationAngle(-33.5, PMPoint(20, 20));
        InterfaceOf<ITransform>(s.imageC)->SetScale(-0.8, 1.25);
        s.pasteboard = DocumentUtils::AddGraphicFrame(
            UIDRef(d, InterfaceOf<IPage>(page3)->GetSpreadUID()), PMRect(-300, 0, -100, 100));
        InterfaceOf<ITestNote>(s.imageA)->Set(8, "job 0042 ✓");
        EXPECT_NE(s.imageC, UIDRef());
    }

    std::string Saved(IDataBase* db) {
        std::string why;
        std::string text = DocumentFile::Serialize(db, why);
        EXPECT_FALSE(text.empty()) << why;
        return text;
    }

    TempDir dir;
    Sample s;
};

// Saved and loaded back; saving again replaces the file and leaves nothing else beside it.
TEST_F(DocumentFileTest, ADocumentWithPlugInDataLoadsBackIdentical) {
    std::string path = dir / "sample.odd", why;
    ASSERT_EQ(DocumentFile::Save(s.db.get(), PMString(path), why), kSuccess) << why;
    std::vector<std::string> warnings;
    std::unique_ptr<IDataBase> loaded = DocumentFile::Open(PMString(path), why, &warnings);
    ASSERT_TRUE(loaded) << why;
    EXPECT_EQ(
        std::tuple(Content(*loaded), warnings.empty(), loaded->GetRootUID(), loaded->CanUndo()),
        std::tuple(Content(*s.db), true, s.db->GetRootUID(), false));
    for (IDataBase* db : {s.db.get(), loaded.get()}) { // the saved one and the loaded one
        InterfacePtr<IDocument> doc = DocumentUtils::QueryDocument(db);
        EXPECT_EQ(std::tuple(doc->GetName(), doc->GetFilePath(), db->IsModified()),
                  std::tuple(PMString("sample.odd"), PMString(path), false));
    }

    // The loaded document works like the one that was saved.
    auto there = [d = loaded.get()](const UIDRef& item) { return UIDRef(d, item.GetUID()); };
    auto page = [&](const UIDRef& item) { return LayoutUtils::GetPageNumber(there(item)); };
    EXPECT_EQ(InterfaceOf<ITestNote>(there(s.imageA))->Text(), "job 0042 ✓");
    EXPECT_EQ(std::tuple(page(s.imageB), page(s.imageC), page(s.pasteboard)), std::tuple(1, 3, 0));
    EXPECT_EQ(InterfaceOf<IGeometry>(there(s.group))->GetBoundingBox(),
              InterfaceOf<IGeometry>(s.group)->GetBoundingBox());
    UIDRef relinked = LinkUtils::RelinkImage(there(s.imageA), PMString(std::string(dir / "b.jpg")));
    ASSERT_NE(relinked, UIDRef());
    EXPECT_GT(relinked.GetUID().Get(), s.pasteboard.GetUID().Get()) << "new UIDs follow the old";
    EXPECT_EQ(InterfaceOf<ITestNote>(relinked)->Get(), 8);

    // Saving again writes the same text.
    EXPECT_EQ(ReadFile(path), Saved(s.db.get()));
    ASSERT_EQ(DocumentUtils::DeletePageItem(s.group), kSuccess);
    EXPECT_TRUE(s.db->IsModified());
    // A folder that takes the first temporary name does not stop the save.
    std::string taken = path + ".saving-" + std::to_string(::getpid()) + "-0";
    MakeDirs(taken);
    ASSERT_EQ(DocumentFile::Save(s.db.get(), PMString(path), why), kSuccess) << why;
    EXPECT_EQ(std::pair(ReadFile(path), s.db->IsModified()), std::pair(Saved(s.db.get()), false));
    fs::remove(taken);
    EXPECT_EQ(FolderNames(dir.Path()), (std::vector<std::string>{"a.tif", "b.jpg", "sample.odd"}));
}

// Fields of later versions are ignored; data of plug-ins not loaded is dropped with a warning.
TEST_F(DocumentFileTest, TheFileIsJsonWithAHeaderAndBase64DataAndUnknownFieldsAreIgnored) {
    FileJson f{json::parse(Saved(s.db.get())), {}};
    EXPECT_EQ(std::tuple(f.j["format"], f.j["version"], f.j["root"], f.j["objects"].size()),
              std::tuple(json(DocumentFile::kFormatName), json(DocumentFile::kFormatVersion),
                         json(s.db->GetRootUID().Get()), s.db->AllUIDs().size()));
    // Only persistent implementations. Two spreads: count 2, then their UIDs, little-endian.
    InterfacePtr<IDocument> doc = DocumentUtils::QueryDocument(s.db.get());
    const json document = {
        {"id", HexID(kDocumentImpl.Get())},
        {"name", "Document"},
        {"data", Base64(Words({2, doc->GetNthSpreadUID(0).Get(), doc->GetNthSpreadUID(1).Get()}))}};
    EXPECT_EQ(f.j["objects"][0], (json{{"uid", 1},
                                       {"class", HexID(kDocBoss.Get())},
                                       {"implementations", json::array({document})}}));

    f.j["generator"] = {{"name", "x"}, {"list", {1, {{"deep", {nullptr, true}}}}}};
    f.Object(1)["comment"] = json::array({json::object(), 2.5});
    f.Object(1)["implementations"][0]["checksum"] = "abc";
    f.Object(s.imageA.GetUID().Get())["implementations"].push_back(
        {{"id", "0x90999"}, {"name", "Elsewhere"}, {"data", "AAAA"}});
    std::string why;
    std::vector<std::string> warnings;
    auto db = DocumentFile::Parse(f.Text(), why, &warnings);
    ASSERT_TRUE(db) << why;
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("0x90999"), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[0].find("object " + std::to_string(s.imageA.GetUID().Get())),
              std::string::npos);
    EXPECT_EQ(Content(*db), Content(*s.db));
    IDataBase bare;
    EXPECT_TRUE(DocumentFile::Serialize(&bare, why).empty());
    EXPECT_NE(why.find("no document"), std::string::npos);
}

TEST_F(DocumentFileTest, AFailedSaveLeavesThePreviousFileWholeAndSaysWhy) {
    const std::string folder = dir / "docs", path = folder + "/doc.odd";
    MakeDirs(folder + "/taken.odd/inside");
    std::string why;
    ASSERT_EQ(DocumentFile::Save(s.db.get(), PMString(path), why), kSuccess) << why;
    std::string previous = ReadFile(path);
    ASSERT_EQ(DocumentUtils::DeletePageItem(s.imageC), kSuccess); // a change not saved yet
    WriteFile(dir / "plain", "a file, not a folder");

    rlimit savedLimit{};
    getrlimit(RLIMIT_FSIZE, &savedLimit);
    const rlimit smallLimit{100, savedLimit.rlim_max};
    void (*savedHandler)(int) = SIG_DFL;
    std::optional<AsUnprivilegedUser> user;
    // Name, target, what the message says, what is done before and after the save.
    using Step = std::function<void()>;
    const Step none = [] {};
    const std::tuple<const char*, std::string, const char*, Step, Step> cases[] = {
        {"a write error (file size limit)", path, std::strerror(EFBIG),
         [&] {
             savedHandler = std::signal(SIGXFSZ, SIG_IGN);
             setrlimit(RLIMIT_FSIZE, &smallLimit);
         },
         [&] {
             setrlimit(RLIMIT_FSIZE, &savedLimit);
             std::signal(SIGXFSZ, savedHandler);
         }},
        {"the target is a folder", folder + "/taken.odd", "taken.odd", none, none},
        {"the folder is a file", dir / "plain/doc.odd", std::strerror(ENOTDIR), none, none},
        {"no such folder", dir / "nowhere/doc.odd", std::strerror(ENOENT), none, none},
        {"no file name", folder + "/", "no file name", none, none},
        {"in the middle of a change", folder + "/x.odd", "in progress",
         [&] { s.db->BeginTransaction(PMString("open")); }, [&] { s.db->EndTransaction(); }},
        {"a read-only folder", path, std::strerror(EACCES),
         [&] {
             ::chmod(dir.Path().c_str(), 0755);
             ::chmod(folder.c_str(), 0555);
             user.emplace();
             EXPECT_TRUE(user->Active()) << "cannot act as an unprivileged user";
         },
         [&] {
             user.reset();
             ::chmod(folder.c_str(), 0755);
         }},
    };
    InterfacePtr<IDocument> doc = DocumentUtils::QueryDocument(s.db.get());
    for (const auto& [name, target, reason, before, after] : cases) {
        SCOPED_TRACE(name);
        before();
        why.clear();
        ErrorCode code = DocumentFile::Save(s.db.get(), PMString(target), why);
        after();
        EXPECT_NE(why.find(reason), std::string::npos) << why;
        EXPECT_EQ(std::tuple(code, ReadFile(path), FolderNames(folder), ReadFile(dir / "plain"),
                             fs::is_directory(folder + "/taken.odd/inside"), s.db->IsModified(),
                             doc->GetFilePath()),
                  std::tuple(kFailure, previous, std::vector<std::string>{"doc.odd", "taken.odd"},
                             "a file, not a folder", true, true, PMString(path)));
    }
}

TEST_F(DocumentFileTest, DamagedForeignAndUnreadableFilesAreRefusedWithTheirReason) {
    const std::string good = Saved(s.db.get());
    const uint32_t spread = s.spread1.GetUID().Get(), group = s.group.GetUID().Get(),
                   frameA = s.frameA.GetUID().Get(), imageA = s.imageA.GetUID().Get(),
                   frameB = s.frameB.GetUID().Get(), imageB = s.imageB.GetUID().Get(),
                   empty = s.empty.GetUID().Get(), root = s.db->GetRootUID().Get(),
                   page1 = DocumentUtils::GetNthPage(s.db.get(), 0).GetUID().Get();
    const std::vector<uint32_t> topItems = ChildUIDs(s.spread1);
    std::string stray = HierarchyData(spread, {}); // 8 bytes: one '='
    stray[stray.size() - 2] = 'B';
    auto with = [](std::vector<uint32_t> v, uint32_t x) {
        v.push_back(x);
        return v;
    };
    auto without = [](std::vector<uint32_t> v, uint32_t x) {
        std::erase(v, x);
        return v;
    };

    const std::tuple<const char*, Edit, const char*> cases[] = {
        {"empty", Raw(""), "empty"},
        {"binary", Raw(std::string("PK\x03\x04\x00\x01", 6)), "not JSON"},
        {"a cut file", Raw(good.substr(0, good.size() / 2)), "cut short"},
        {"JSON that is a list", Raw("[1, 2, 3]"), "not an object"},
        {"another program's JSON", Raw(R"({"name": "x", "items": [1]})"), "no \"format\""},
        {"a field twice", Raw("{\"root\": 1, " + good.substr(1)), "\"root\" appears twice"},
        {"another format", Set("/format", "Layout 2000"), "its format is \"Layout 2000\""},
        {"format not a text", Set("/format", 7), "\"format\" must be a text"},
        {"a newer version", Set("/version", 2), "newer version"},
        {"version 0", Set("/version", 0), "version 0 is not valid"},
        {"version as text", Set("/version", "1"), "\"version\" must be a whole number"},
        {"no version", Erase("/version"), "no format \"version\""},
        {"no root", Erase("/root"), "no \"root\""},
        {"no objects", Erase("/objects"), "no \"objects\""},
        {"objects not a list", Set("/objects", {{"a", 1}}), "\"objects\" must be a list"},
        {"root not in the file", Set("/root", 999), "root object 999 is not in the file"},
        {"root not a document", Set("/root", spread), "is not a document (it is a spread)"},
        {"an object without uid", Erase("/objects/2/uid"), "entry 3 of \"objects\" has no \"uid\""},
        {"uid 0", Set("/objects/1/uid", 0), "\"uid\" must be"},
        {"negative uid", Set("/objects/1/uid", -4), "\"uid\" must be"},
        {"uid with a fraction", Set("/objects/1/uid", 2.5), "\"uid\" must be"},
        {"class not an ID", Set("/objects/1/class", "spread"), "\"class\" must be a class ID"},
        {"an unknown class", Set("/objects/1/class", "0x7777"), "unknown class 0x7777"},
        {"a uid twice", Repeat("/objects/1"), "appears twice"},
        {"implementations not a list", Set("/objects/1/implementations", "none"), "must be a list"},
        {"an implementation twice", Repeat("/objects/1/implementations/0"), "appears twice"},
        {"too many implementations",
         [](FileJson& f) {
             auto& impls = f.j["objects"][1]["implementations"];
             for (uint32_t id = 0x80001; id <= 0x80001 + DocumentFile::kMaxImplementationsPerObject;
                  ++id) {
                 impls.push_back({{"id", HexID(id)}, {"data", ""}});
             }
         },
         "more than 256 implementations"},
        {"an implementation without data", Erase("/objects/1/implementations/0/data"),
         "has no \"data\""},
        {"data that is not base64", SetData(frameA, kGeometryImpl, "@@@@"), "not valid base64"},
        {"base64 with stray bits", SetData(empty, kHierarchyImpl, stray), "not valid base64"},
        {"data cut short", SetData(frameA, kGeometryImpl, Base64(std::vector<uint8_t>(24, 0))),
         "does not read back"},
        {"data with bytes over",
         SetData(frameA, kGeometryImpl, Base64(std::vector<uint8_t>(36, 0))), "does not read back"},
        {"a box that is not a number", // a NaN in the first double
         SetData(frameA, kGeometryImpl, Base64(Words({0, 0x7FF80000, 0, 0, 0, 0, 0, 0}))),
         "does not read back"},
        {"a child count beyond the data",
         SetData(frameA, kHierarchyImpl, Base64(Words({group, 0x7FFFFFFF}))), "does not read back"},
        {"a child that is not there", Links(empty, spread, {4242}),
         "lists child 4242, which is not in the file"},
        {"an item in two places", Links(spread, 0, with(topItems, empty)), "reached twice"},
        {"a parent that does not match", Links(imageA, frameB, {}), "as its parent"},
        {"an image straight on the spread",
         All({Links(frameA, group, {}), Links(imageA, spread, {}),
              Links(spread, 0, with(topItems, imageA))}),
         "cannot hold object"},
        {"two images in a frame",
         All({Links(frameA, group, {imageA, imageB}), Links(imageB, frameA, {}),
              Links(frameB, group, {})}),
         "holds more than one item"},
        {"an item no spread holds",
         All({Links(spread, 0, without(topItems, empty)), Links(empty, 0, {})}),
         "no spread holds it"},
        {"two groups holding each other",
         All({Links(spread, 0, without(topItems, group)), Links(group, 900, {900}),
              [&](FileJson& f) {
                  f.AddObject(900, kGroupItemBoss,
                              json::array({{{"id", HexID(kHierarchyImpl.Get())},
                                            {"data", HierarchyData(group, {group})}}}));
              }}),
         "not part of the document"},
        {"a second document", [](FileJson& f) { f.AddObject(901, kDocBoss); },
         "not part of the document"},
        {"a spread that is a page", SetData(root, kDocumentImpl, Base64(Words({2, spread, page1}))),
         "as a spread, but it is a page"},
        {"a page that is a frame", SetData(spread, kSpreadImpl, Base64(Words({1, frameA}))),
         "as a page, but it is a graphic frame"},
    };
    for (const auto& [name, edit, reason] : cases) {
        SCOPED_TRACE(name);
        FileJson f{json::parse(good), {}};
        edit(f);
        std::string why;
        std::vector<std::string> warnings;
        EXPECT_FALSE(DocumentFile::Parse(f.Text(), why, &warnings));
        EXPECT_NE(why.find(reason), std::string::npos) << why;
        EXPECT_TRUE(warnings.empty());
    }

    // Groups in groups above the group, its frames and their images: one level too many, one less.
    const std::pair<uint32_t, bool> nestings[] = {{kMaxNestingDepth - 2, false},
                                                  {kMaxNestingDepth - 3, true}};
    for (const auto& [levels, loads] : nestings) {
        SCOPED_TRACE(levels);
        FileJson f{json::parse(good), {}};
        const uint32_t last = 1000 + levels - 1; // groups 1000 to last, each in the one before
        for (uint32_t uid = 1000; uid <= last; ++uid) {
            std::string links =
                HierarchyData(uid == 1000 ? spread : uid - 1, {uid < last ? uid + 1 : group});
            f.AddObject(uid, kGroupItemBoss,
                        json::array({{{"id", HexID(kHierarchyImpl.Get())}, {"data", links}},
                                     {{"id", HexID(kTransformImpl.Get())},
                                      {"data", f.Data(group, kTransformImpl)}}}));
        }
        All({Links(spread, 0, with(without(topItems, group), 1000)),
             Links(group, last, ChildUIDs(s.group))})(f);
        std::string why;
        EXPECT_EQ(DocumentFile::Parse(f.Text(), why) != nullptr, loads) << why;
        EXPECT_EQ(why.find("deeper than 64") != std::string::npos, !loads) << why;
    }

    // Open says why it cannot read a file; a huge one (sparse: no room taken) goes unread.
    WriteFile(dir / "huge.odd", "{");
    fs::resize_file(dir / "huge.odd", DocumentFile::kMaxFileSize + 1);
    WriteFile(dir / "notes.txt", "Dear diary,\n");
    const std::tuple<std::string, std::string, std::string> unreadable[] = {
        {dir / "missing.odd", std::strerror(ENOENT), "missing.odd"},
        {dir.Path(), "is a folder", ""},
        {dir / "huge.odd", "larger than 256 MiB", ""},
        {dir / "notes.txt", "not JSON", ""}};
    for (const auto& [path, reason, named] : unreadable) {
        SCOPED_TRACE(path);
        std::string why;
        EXPECT_FALSE(DocumentFile::Open(PMString(path), why));
        EXPECT_NE(why.find(reason), std::string::npos) << why;
        EXPECT_NE(why.find(named), std::string::npos) << why;
    }
}

} // namespace
