// Photoshop paths: real files against independently measured facts, exact
// coordinates of records written here, and resources that are refused.
#include "ClipPath.h"

#include "TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <filesystem>
#include <string>
#include <tuple>

using namespace clip;

namespace {

// A 26-byte record: selector, then three points, each vertical then horizontal.
std::string Record(uint32_t selector, std::initializer_list<uint32_t> fixed) {
    std::string r = Be16(selector);
    for (uint32_t f : fixed) {
        r += Be32(f);
    }
    return r + std::string(26 - r.size(), '\0');
}

std::string Block(uint32_t id, const std::string& name, const std::string& data) {
    std::string n = std::string(1, static_cast<char>(name.size())) + name;
    n += std::string(n.size() % 2, '\0');
    return "8BIM" + Be16(id) + n + Be32(static_cast<uint32_t>(data.size())) + data +
           std::string(data.size() % 2, '\0');
}

ReadResult Parse(const std::string& bytes, uint32_t width = 200, uint32_t height = 100) {
    return ParseImageResources(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), width,
                               height);
}

// One closed subpath of two knots: a linked one at (0.5, 0.25) of the image
// with its controls beside it, an unlinked one at the far corner.
const std::string kTwoKnots =
    Record(6, {}) + Record(0, {2u << 16}) +
    Record(1, {0x00400000, 0x00700000, 0x00400000, 0x00800000, 0x00400000, 0x00900000}) +
    Record(2, {0x01000000, 0x01000000, 0x01000000, 0x01000000, 0x01000000, 0x01000000});

} // namespace

TEST(ClipPath, RealFilesGiveTheMeasuredPaths) {
    const std::filesystem::path folder = std::filesystem::path(SharedTestData()) / "clippaths";
    if (SharedTestData().empty() || !std::filesystem::exists(folder / "manifest.json")) {
        GTEST_SKIP() << "no shared test data (ORDODESK_TESTDATA/clippaths)";
    }
    const auto manifest = nlohmann::json::parse(ReadFile((folder / "manifest.json").string()));
    ASSERT_EQ(manifest.size(), 3u);
    for (const auto& entry : manifest) {
        const std::string name = entry["file"];
        SCOPED_TRACE(name);
        const ReadResult r = ReadClippingPaths((folder / name).string());
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(std::tie(r.list.width, r.list.height, r.list.clippingPathName),
                  std::make_tuple(entry["width"], entry["height"], entry["clippingPath"]));
        ASSERT_EQ(r.list.paths.size(), entry["paths"].size());
        ASSERT_NE(r.list.ClippingPath(), nullptr);
        for (std::size_t i = 0; i < r.list.paths.size(); ++i) {
            const Path& p = r.list.paths[i];
            const auto& want = entry["paths"][i];
            EXPECT_EQ(std::make_tuple(p.id, p.name, p.subpaths.size(), KnotCount(p)),
                      std::make_tuple(want["id"], want["name"], want["subpaths"], want["knots"]));
            const Box b = AnchorBounds(p);
            const double got[] = {b.x0, b.y0, b.x1, b.y1};
            for (int k = 0; k < 4; ++k) {
                EXPECT_NEAR(got[k], want["bbox"][k].get<double>(), 0.05) << k;
            }
        }
    }
}

TEST(ClipPath, RecordsGiveExactPointsInPixels) {
    const ReadResult r = Parse(Block(1000, "", "x") + Block(2000, "Outline", kTwoKnots) +
                               Block(2999, "", std::string("\x07Outline", 8) + Be16(0x0003)) +
                               Block(2001, "Open", ""));
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.list.paths.size(), 2u);
    const Path& p = r.list.paths[0];
    EXPECT_EQ(std::tie(p.id, p.name, r.list.clippingPathName),
              std::make_tuple(2000, std::string("Outline"), std::string("Outline")));
    EXPECT_EQ(r.list.ClippingPath(), &p);
    ASSERT_EQ(p.subpaths.size(), 1u);
    ASSERT_EQ(p.subpaths[0].knots.size(), 2u);
    const Knot& k = p.subpaths[0].knots[0];
    EXPECT_EQ(std::make_tuple(p.subpaths[0].closed, k.linked, p.subpaths[0].knots[1].linked),
              std::make_tuple(true, true, false));
    // 0x00400000 is a quarter, 0x00800000 a half: of a 200 x 100 image.
    EXPECT_EQ(std::make_tuple(k.before.x, k.anchor.x, k.after.x, k.anchor.y),
              std::make_tuple(87.5, 100.0, 112.5, 25.0));
    EXPECT_EQ(p.subpaths[0].knots[1].anchor.x, 200.0);
    const Box b = AnchorBounds(p);
    EXPECT_EQ(std::make_tuple(b.x0, b.y0, b.x1, b.y1), std::make_tuple(100.0, 25.0, 200.0, 100.0));
    EXPECT_TRUE(r.list.paths[1].subpaths.empty());
    // An open subpath; and no paths at all is an empty list.
    const ReadResult open = Parse(Block(2000, "o", Record(3, {1u << 16}) + Record(5, {})));
    ASSERT_TRUE(open.ok) << open.error;
    EXPECT_FALSE(open.list.paths[0].subpaths[0].closed);
    EXPECT_TRUE(Parse("").ok);
    EXPECT_EQ(Parse("").list.ClippingPath(), nullptr);
}

TEST(ClipPath, DamagedResourcesAndFilesAreRefusedWithWhy) {
    const std::string knot = Record(1, {});
    const std::string jpeg = "\xFF\xD8\xFF\xED" + Be16(40);
    // {as a file (else as image resources), bytes, why}
    const std::tuple<bool, std::string, const char*> cases[] = {
        {false, "8BIM", "not 8BIM blocks"},
        {false, "8BIX" + Be16(2000) + Be16(0) + Be32(0), "not 8BIM blocks"},
        {false, "8BIM" + Be16(2000) + std::string("\x09", 1) + "abcde", "cut short in its name"},
        {false, "8BIM" + Be16(2000) + Be16(0) + Be32(27) + kTwoKnots.substr(0, 26),
         "runs past the end"},
        {false, Block(2000, "p", kTwoKnots.substr(0, 30)), "not whole"},
        {false, Block(2000, "p", knot), "a knot outside its subpath"},
        {false, Block(2000, "p", Record(3, {1u << 16}) + knot), "a knot outside its subpath"},
        {false, Block(2000, "p", Record(0, {2u << 16}) + knot), "lacks knots"},
        {false, Block(2000, "p", Record(0, {1u << 16}) + Record(0, {})), "before its knots"},
        {false, Block(2000, "p", Record(9, {})), "unknown kind 9"},
        {true, "", "not a Photoshop, TIFF or JPEG file"},
        {true, "GIF89a", "not a Photoshop, TIFF or JPEG file"},
        {true, "8BPS" + std::string(10, '\0'), "header does not hold up"},
        {true, "8BPS" + Be16(1) + std::string(20, '\0') + Be32(100), "header does not hold up"},
        {true, jpeg + "Photoshop", "cut short in a segment"},
        {true, "\xFF\xD8\xFF\xE0" + Be16(1), "shorter than its length field"},
        {true, "\xFF\xD8junk", "do not follow each other"},
        {true, std::string("II*\0", 4) + std::string(4, '\xFF'), "not a TIFF file"},
    };
    TempDir dir;
    for (const auto& [file, bytes, why] : cases) {
        WriteFile(dir / "file", bytes);
        const ReadResult r = file ? ReadClippingPaths(dir / "file") : Parse(bytes);
        EXPECT_FALSE(r.ok) << why;
        EXPECT_NE(r.error.find(why), std::string::npos) << r.error;
    }
    EXPECT_NE(Parse(Block(2000, "p", kTwoKnots), 0, 0).error.find("without a size"),
              std::string::npos);
    EXPECT_NE(ReadClippingPaths(dir / "missing").error.find("cannot open"), std::string::npos);
    // A JPEG with paths and a size, written here, with junk and a fill byte before a marker.
    const std::string app13 = std::string("Photoshop 3.0", 14) + Block(2000, "p", kTwoKnots);
    WriteFile(dir / "made.jpg", "\xFF\xD8\xFF\xED" + Be16(static_cast<uint16_t>(app13.size() + 2)) +
                                    app13 + "junk\xFF\xFF\xC0" + Be16(11) + "\x08" + Be16(100) +
                                    Be16(200) + std::string(4, '\0') + "\xFF\xDA");
    const ReadResult made = ReadClippingPaths(dir / "made.jpg");
    ASSERT_TRUE(made.ok) << made.error;
    EXPECT_EQ(AnchorBounds(made.list.paths.at(0)).x1, 200.0);
}
