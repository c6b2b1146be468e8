// IDML packages: the real files read as the README and their own XML say,
// written back unchanged or changed only where the model changed, bad
// packages refused, pages drawn, and the whole road of orders in the shell.
#include "../apps/OrdodeskRun.h"

#include "DocumentModel.h"
#include "DocumentUtils.h"
#include "IDataLink.h"
#include "IDocument.h"
#include "IGeometry.h"
#include "IHierarchy.h"
#include "ISpread.h"
#include "ITransform.h"
#include "IdmlDocument.h"
#include "ImageRaster.h"
#include "ImportUtils.h"
#include "ObjectModel.h"
#include "PdfExport.h"
#include "SampleImages.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <vips/vips8>

#include <algorithm>
#include <map>
#include <sstream>

using namespace idml;

namespace {

struct RealFile { // a row of the README's table
    const char* name;
    int spreads, pages;
    std::vector<std::string> links; // file names, in document order
};
const std::vector<std::string> kFiveLinks = {
    "y0iCjgVeMPy8bMp4vha7oL0VKv8.jpg", "8NGc5eSMZE98tLMspkRTU5c4dpc.jpg",
    "QVjnVo0BD8qPasmCKxqd77bZbQk.jpg", "qK8qugnH1zIkJcJ8dlJpRgZU1I0.jpg",
    "jabo2rkSJeO5UoCxf-u0mCWRZmQ.jpg"};
const RealFile kRealFiles[] = {
    {"article-1photo.idml", 1, 1, {"default.jpg"}},
    {"4-pages.idml", 3, 4, {}},
    {"interview.idml", 1, 1, {}},
    {"magazineA-edito.idml", 2, 2, {}},
    {"example-3-linked-images.idml", 1, 2, kFiveLinks},
};

// The folder, on its author's machine, of the first file that a package links.
std::string LinkFolder(const Package& p) {
    pugi::xpath_node uri = p.Find("Spreads/Spread_ud6.xml")->xml->select_node("//@LinkResourceURI");
    std::string path = PathOfFileURI(uri.attribute().value()).value_or("");
    return path.substr(0, path.rfind('/'));
}

// The real files; a test that needs them skips when they are not there.
#define REQUIRE_IDML_FOLDER(dir)                                                                   \
    const std::string dir = SharedTestData() + "/idml";                                            \
    if (!PathExists(dir)) {                                                                        \
        GTEST_SKIP() << "no testdata/idml folder beside the checkout";                             \
    }

Package Read(const std::string& path) {
    Package p;
    std::string why;
    EXPECT_TRUE(ReadPackageFile(path, p, why)) << path << ": " << why;
    return p;
}

std::unique_ptr<IDataBase> Make(Package p, const LinkMap& links = {},
                                std::vector<std::string>* messages = nullptr) {
    std::vector<std::string> m;
    std::string why;
    auto db = MakeDocument(std::move(p), links, messages != nullptr ? *messages : m, why);
    EXPECT_TRUE(db) << why;
    return db;
}

std::map<std::string, std::string> PartsOf(const Package& package) {
    std::map<std::string, std::string> parts;
    for (const Part& p : package.parts) {
        parts[p.name] = p.bytes;
    }
    return parts;
}

// The parts of the package that the document's model writes now.
std::map<std::string, std::string> Written(IDataBase* db, const LinkMap& links = {}) {
    std::vector<std::string> messages;
    std::string why, zip;
    Package back;
    EXPECT_TRUE(UpdatePackage(db, links, messages, why) && WritePackage(*PackageOf(db), zip, why) &&
                ReadPackage(zip, back, why))
        << why;
    return PartsOf(back);
}

struct ModelCounts { // page items by class, and the images' link names
    std::map<std::string, int> items;
    std::vector<std::string> links;
};
void Walk(IDataBase* db, UID uid, ModelCounts& counts) {
    const std::pair<ClassID, const char*> kClasses[] = {
        {kSplineItemBoss, "frame"}, {kShapeItemBoss, "shape"}, {kTextFrameItemBoss, "text"},
        {kGroupItemBoss, "group"},  {kImageItemBoss, "image"},
    };
    InterfacePtr<IHierarchy> h = InterfaceOf<IHierarchy>(UIDRef(db, uid));
    for (int32_t i = 0; h && i < h->GetChildCount(); ++i) {
        UID child = h->GetChildUID(i);
        for (const auto& [cls, name] : kClasses) {
            counts.items[name] += ObjectModel::Get().IsA(db->GetClass(child), cls) ? 1 : 0;
        }
        if (auto link = InterfaceOf<IDataLink>(UIDRef(db, child))) {
            counts.links.push_back(link->GetShortName().GetUTF8String());
        }
        Walk(db, child, counts);
    }
}

int XPathCount(const Package& p, const char* query) {
    int n = 0;
    for (const Part& part : p.parts) {
        if (part.name.rfind("Spreads/", 0) == 0) {
            n += static_cast<int>(part.xml->select_nodes(query).size());
        }
    }
    return n;
}

} // namespace

// Each real file: read as its README and its own XML say, drawn, and written
// back unchanged when nothing changed.
TEST(IdmlRealFiles, AreReadDrawnAndWrittenBackUnchanged) {
    REQUIRE_IDML_FOLDER(dir);
    TempDir w;
    for (const RealFile& f : kRealFiles) {
        SCOPED_TRACE(f.name);
        Package p = Read(dir + "/" + f.name);
        const std::map<std::string, std::string> asRead = PartsOf(p);
        Layout layout;
        std::string why;
        ASSERT_TRUE(ReadLayout(p, layout, why)) << why;
        LayoutCounts c = Count(layout);
        // The README, and an independent count over the spread parts.
        EXPECT_EQ(std::tuple(c.spreads, c.pages, c.images),
                  std::tuple(f.spreads, f.pages, static_cast<int>(f.links.size())));
        EXPECT_EQ(c.spreads, XPathCount(p, "/*/Spread"));
        EXPECT_EQ(c.pages, XPathCount(p, "//Spread/Page"));
        EXPECT_EQ(c.images, XPathCount(p, "//Image|//EPS|//PDF|//ImportedPage"));
        int frames = 0; // graphic frames in the model
        for (ItemKind k : {ItemKind::kRectangle, ItemKind::kOval, ItemKind::kPolygon,
                           ItemKind::kGraphicLine, ItemKind::kTextFrame, ItemKind::kGroup}) {
            EXPECT_EQ(c.items[k], XPathCount(p, (std::string("//") + KindName(k)).c_str()))
                << KindName(k);
            frames += k <= ItemKind::kPolygon ? c.items[k] : 0;
        }
        // The document of it; no link maps anywhere, each one is named.
        std::vector<std::string> messages;
        auto db = Make(std::move(p), {}, &messages);
        ASSERT_TRUE(db);
        EXPECT_EQ(
            std::count_if(messages.begin(), messages.end(),
                          [](const std::string& m) { return m.find("maps nowhere") < m.size(); }),
            static_cast<long>(f.links.size()));
        InterfacePtr<IDocument> doc = DocumentUtils::QueryDocument(db.get());
        EXPECT_EQ(doc->GetSpreadCount(), f.spreads);
        EXPECT_EQ(doc->GetPages().Length(), f.pages);
        ModelCounts model;
        for (int32_t s = 0; s < doc->GetSpreadCount(); ++s) {
            Walk(db.get(), doc->GetNthSpreadUID(s), model);
        }
        EXPECT_EQ(model.items,
                  (std::map<std::string, int>{{"frame", frames},
                                              {"shape", c.items[ItemKind::kGraphicLine]},
                                              {"text", c.items[ItemKind::kTextFrame]},
                                              {"group", c.items[ItemKind::kGroup]},
                                              {"image", c.images}}));
        EXPECT_EQ(model.links, f.links);
        // Missing links are drawn as crossed boxes and named, on every page
        // of their spread.
        render::OutputReport report;
        EXPECT_TRUE(
            render::WritePng(db.get(), {}, w / (f.name + std::string(".png")), false, report))
            << report.error;
        EXPECT_EQ(report.written.size(), static_cast<std::size_t>(f.pages));
        EXPECT_EQ(report.drawing.problems.size(), f.links.size() * (f.spreads == 1 ? f.pages : 1));
        EXPECT_EQ(Written(db.get()), asRead);
        Forget(db.get());
    }
}

TEST(IdmlRealFiles, RelinkChangesOnlyTheLinkAndTheImage) {
    REQUIRE_IDML_FOLDER(dir);
    TempDir w;
    MakeDirs(w / "links");
    samples::WriteJpeg(w / "links/default.jpg", {303, 360, 3}, samples::Flat(200));
    samples::WriteJpeg(w / "new photo.jpg", {400, 300, 3}, samples::Flat(90), {144, 1, 75});
    LinkMap links;
    std::string why;
    Package original = Read(dir + "/article-1photo.idml");
    ASSERT_TRUE(links.Add(LinkFolder(original) + "/", w / "links", why));
    std::map<std::string, std::string> before = PartsOf(original);
    std::vector<std::string> messages;
    auto db = Make(std::move(original), links, &messages);
    ASSERT_TRUE(db && messages.empty()) << messages.front();
    UIDRef image(db.get(), UID(5));
    EXPECT_EQ(InterfaceOf<IDataLink>(image)->GetLongName().GetUTF8String(),
              w / "links/default.jpg");
    ASSERT_TRUE(LinkUtils::RelinkImage(image, PMString(w / "new photo.jpg")).GetDataBase());
    std::map<std::string, std::string> after = Written(db.get(), links);
    // Only the spread changed, and in it only the lines of the changed values.
    for (const auto& [name, text] : before) {
        EXPECT_EQ(after[name] == text, name != "Spreads/Spread_ud6.xml") << name;
    }
    std::istringstream a(before["Spreads/Spread_ud6.xml"]), b(after["Spreads/Spread_ud6.xml"]);
    std::string la, lb;
    std::vector<std::string> changed; // the elements on the lines that changed
    while (std::getline(a, la) && std::getline(b, lb)) {
        if (la != lb) {
            changed.push_back(lb.substr(lb.find('<'), 5));
        }
    }
    EXPECT_EQ(changed, (std::vector<std::string>{"<Grap", "<Link"})); // the matrix stays
    const std::string& spread = after["Spreads/Spread_ud6.xml"];
    EXPECT_NE(spread.find("URI=\"file:" + w.Path() + "/new%20photo.jpg\""), std::string::npos);
    EXPECT_NE(spread.find("Right=\"200\" Bottom=\"150\""), std::string::npos);
    Forget(db.get());
}

// A frame made in the document is written on top of its spread with its
// image and link; a deleted frame leaves the package; a deleted text frame
// stays, with its story, and a message says so.
TEST(IdmlRealFiles, FramesMadeAndDeletedInTheDocumentAreWrittenBack) {
    REQUIRE_IDML_FOLDER(dir);
    TempDir w;
    samples::WriteJpeg(w / "added.jpg", {400, 300, 3}, samples::Flat(90), {144, 1, 75});
    auto db = Make(Read(dir + "/article-1photo.idml"));
    ASSERT_TRUE(db);
    const UIDRef page = DocumentUtils::GetNthPage(db.get(), 0);
    const UIDRef frame = DocumentUtils::AddGraphicFrame(page, PMRect(300, 400, 500, 550));
    ASSERT_TRUE(ImportUtils::PlaceFile(frame, PMString(w / "added.jpg")).GetDataBase());
    ASSERT_EQ(DocumentUtils::DeletePageItem(UIDRef(db.get(), UID(4))), kSuccess); // image frame
    ASSERT_EQ(DocumentUtils::DeletePageItem(UIDRef(db.get(), UID(6))), kSuccess); // text frame
    std::vector<std::string> messages;
    std::string why, zip;
    ASSERT_TRUE(UpdatePackage(db.get(), {}, messages, why)) << why;
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("text frame u185 was deleted"), std::string::npos) << messages[0];
    ASSERT_TRUE(WritePackage(*PackageOf(db.get()), zip, why)) << why;
    Package back;
    ASSERT_TRUE(ReadPackage(zip, back, why)) << why;
    EXPECT_EQ(XPathCount(back, "//Rectangle"), 1);
    EXPECT_EQ(XPathCount(back, "//TextFrame"), 3);
    auto reopened = Make(std::move(back));
    ModelCounts counts;
    Walk(reopened.get(), UID(2), counts);
    EXPECT_EQ(counts.links, std::vector<std::string>{"added.jpg"});
    const UIDRef made(reopened.get(), UID(7));
    const UIDRef image(reopened.get(), InterfaceOf<IHierarchy>(made)->GetChildUID(0));
    EXPECT_EQ(InterfaceOf<IGeometry>(image)->GetBoundingBox(), PMRect(0, 0, 200, 150));
    EXPECT_EQ(InterfaceOf<IGeometry>(made)->GetBoundingBox(),
              InterfaceOf<IGeometry>(frame)->GetBoundingBox());
    EXPECT_EQ(InterfaceOf<ITransform>(made)->GetInnerToParentMatrix(),
              InterfaceOf<ITransform>(frame)->GetInnerToParentMatrix());
    Forget(db.get());
    Forget(reopened.get());
}

// Edits find an element's end past elements of its name nested in it.
TEST(IdmlPackages, EditsOfNestedElementsOfOneName) {
    Part part;
    part.bytes = "<S><G a=\"1\"><G><G/></G><!-- </G> --></G><G>\n\t<x/>\n</G></S>";
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(part.bytes.c_str()));
    TextEdits edits(part);
    pugi::xml_node first = doc.child("S").child("G");
    EXPECT_TRUE(edits.Remove(first));
    EXPECT_TRUE(edits.InsertLast(first.next_sibling("G"), "<y/>"));
    EXPECT_FALSE(edits.InsertLast(first.child("G").child("G"), "<z/>")); // written as <G/>
    EXPECT_EQ(edits.Apply(), "<S><G>\n\t<x/>\n<y/></G></S>");
}

TEST(IdmlPackages, BadOnesAreRefusedWithAReason) {
    auto zip = [](std::vector<std::pair<std::string, std::string>> entries) {
        Package p;
        for (auto& [name, bytes] : entries) {
            p.parts.emplace_back().name = name;
            p.parts.back().bytes = bytes;
        }
        std::string out, why;
        EXPECT_TRUE(WritePackage(p, out, why)) << why;
        return out;
    };
    const std::string designmap = "<Document><idPkg:Spread src=\"Spreads/S.xml\"/></Document>";
    const std::pair<std::string, std::string> cases[] = {
        {"just text, not a zip", "it is not a zip file"},
        {zip({{"mimetype", "application/vnd.adobe.indesign-idml-package"}}), "no designmap.xml"},
        {zip({{"designmap.xml", "<Document><Spread"}}), "designmap.xml\" is not well-formed"},
        {zip({{"designmap.xml", designmap}, {"Stories/big.xml", std::string(8 << 20, ' ')}}),
         "as in a zip bomb"},
        {zip({{"designmap.xml", designmap}, {"../x", "x"}}), "climbs out of the package"},
        {zip({{"designmap.xml", designmap}, {"/etc/x", "x"}}), "has an absolute path"},
        {zip({{"designmap.xml", designmap}}), "Spreads/S.xml, which is not in the package"},
    };
    Package p;
    std::string why;
    std::vector<std::string> messages;
    for (const auto& [bytes, says] : cases) {
        bool read = ReadPackage(bytes, p, why);
        EXPECT_FALSE(read && MakeDocument(std::move(p), {}, messages, why)) << says;
        EXPECT_NE(why.find(says), std::string::npos) << why;
    }
    // Limits on the entries' count and sizes.
    Limits small{1 << 20, 1, 1 << 20, 100};
    EXPECT_FALSE(ReadPackage(zip({{"designmap.xml", designmap}, {"a", "b"}}), p, why, small));
    EXPECT_NE(why.find("more than 1 entries"), std::string::npos) << why;
    small.maxEntries = 10;
    EXPECT_FALSE(
        ReadPackage(zip({{"designmap.xml", designmap + std::string(99, ' ')}}), p, why, small));
    EXPECT_NE(why.find("unpack to more than 100 bytes"), std::string::npos) << why;
}

TEST(IdmlLinks, FileUrisAndTheLinkPathMap) {
    const std::pair<const char*, const char*> uris[] = {
        {"file:///C:/Jobs/a%20b.jpg", "C:/Jobs/a b.jpg"},
        {"file:/Volumes/x/%C3%A9t%C3%A9.tif", "/Volumes/x/\xC3\xA9t\xC3\xA9.tif"},
        {"file:///Volumes/Jobs/x.jpg", "/Volumes/Jobs/x.jpg"},
        {"file://server/share/x.jpg", "//server/share/x.jpg"},
        {"file:/a%2", ""},
        {"http://x/y.jpg", ""},
        {"file:/a%00b", ""},
    };
    for (const auto& [uri, path] : uris) {
        EXPECT_EQ(PathOfFileURI(uri).value_or(""), path) << uri;
        EXPECT_TRUE(!*path || PathOfFileURI(FileURIOfPath(path)) == path) << path;
    }
    LinkMap map;
    std::string why;
    ASSERT_TRUE(map.Add("/Volumes/Jobs", "/data/jobs", why));
    ASSERT_TRUE(map.Add("/Volumes/Jobs/Big", "/big", why));
    ASSERT_TRUE(map.Add("C:\\Work\\", "/data/c-drive", why));
    EXPECT_FALSE(map.Add("", "/x", why));
    const std::pair<const char*, const char*> paths[] = {
        {"/Volumes/Jobs/a.jpg", "/data/jobs/a.jpg"},
        {"/volumes/jobs/a.jpg", "/data/jobs/a.jpg"},
        {"/Volumes/Jobs2/a.jpg", ""},
        {"/Volumes/Jobs/Big/b.tif", "/big/b.tif"},
        {"/Volumes/Jobs/../etc/passwd", ""},
        {"C:/Work/x/y.psd", "/data/c-drive/x/y.psd"},
    };
    for (const auto& [foreign, local] : paths) {
        EXPECT_EQ(map.ToLocal(foreign).value_or(""), local) << foreign;
    }
    EXPECT_EQ(map.ToForeign("/big/b.tif").value_or(""), "/Volumes/Jobs/Big/b.tif");
    EXPECT_FALSE(map.ToForeign("/bigger/b.tif"));
}

TEST(IdmlShell, OrdersSurviveSendPickupSaveAndReopen) {
    REQUIRE_IDML_FOLDER(dir);
    TempDir w;
    MakeDirs(w / "links"); // the linked file, of the size the package records
    // Squares of 12 pixels: a result drawn a little off its place shows.
    samples::WriteJpeg(w / "links/default.jpg", {303, 360, 3},
                       [](const samples::Raster&, uint32_t x, uint32_t y, uint8_t* out) {
                           const bool dark = (x / 12 + y / 12) % 2 != 0;
                           out[0] = dark ? 40 : 220;
                           out[1] = dark ? 90 : 200;
                           out[2] = static_cast<uint8_t>(y / 2);
                       });
    const ProgramRun run =
        Ordodesk({"run", "--set", "W=" + w.Path(), "--set", "IDML=" + dir + "/article-1photo.idml",
                  "--set", "FOREIGN=" + LinkFolder(Read(dir + "/article-1photo.idml")),
                  SHELL_SCRIPTS_DIR "/idml-orders.ods", "--system-folder", w / "system",
                  "--session", w / "session.odsession"},
                 w);
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    // The save went through the document list: the record of jobs out knows
    // the result is in a saved file and has let the server's reply go.
    const std::size_t jobsAt = run.out.find("---jobs-after-save---");
    ASSERT_NE(jobsAt, std::string::npos) << run.out;
    const nlohmann::json jobs = nlohmann::json::parse(
        run.out.substr(jobsAt + 22, run.out.find("\nclosed", jobsAt) - jobsAt - 22));
    ASSERT_EQ(jobs["jobs"].size(), 1u) << jobs.dump();
    EXPECT_TRUE(jobs["jobs"][0]["resultSaved"].get<bool>()) << jobs.dump();
    EXPECT_TRUE(jobs["jobs"][0]["replyReleased"].get<bool>()) << jobs.dump();
    // The page with the result is the page with the original, the image in
    // the same place (the bound is well below what a shift of 3 pt gives).
    ASSERT_TRUE(render::EnsureVips());
    const vips::VImage original = vips::VImage::new_from_file((w / "before.png").c_str());
    const vips::VImage result = vips::VImage::new_from_file((w / "after.png").c_str());
    const auto differ = [](const vips::VImage& a, const vips::VImage& b) {
        return (a.cast(VIPS_FORMAT_DOUBLE) - b.cast(VIPS_FORMAT_DOUBLE)).abs().avg();
    };
    const double same = differ(original, result);
    const double shifted = differ(original, result.embed(3, 0, result.width(), result.height()));
    EXPECT_LT(same, 0.25 * shifted) << same << " against " << shifted;
    RecordProperty("result_vs_original",
                   std::to_string(same) + " (shifted 3 pt: " + std::to_string(shifted) + ")");
    // The saved package: the link names the processed file, the order is in
    // the image's label.
    Package after = Read(w / "out.idml");
    pugi::xml_node image = after.Find("Spreads/Spread_ud6.xml")->xml->select_node("//Image").node();
    EXPECT_EQ(std::string(image.child("Link").attribute("LinkResourceURI").value()),
              "file:" + w.Path() + "/processed/default.tif");
    EXPECT_TRUE(image.select_node("Properties/Label/KeyValuePair[starts-with(@Key,'OrdoDesk:')]"));
}
