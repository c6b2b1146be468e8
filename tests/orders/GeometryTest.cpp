// Placement geometry: ticket values, capture, restore, link paths and the
// relink that keeps an image's placement, on the host's page model.

#include "OD_Geometry.h"

#include "../host/AreaCheck.h"
#include "../host/DocumentTestKit.h"
#include "DocumentModel.h"
#include "DocumentUtils.h"
#include "IDataLink.h"
#include "IGeometry.h"
#include "IHierarchy.h"
#include "ITransform.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <numbers>
#include <optional>
#include <random>
#include <string>
#include <vector>

using namespace dockit;

namespace {

constexpr double kEps = 1e-9;

class PlacementTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterDocumentModel();
        ErrorUtils::PMSetGlobalErrorCode(kSuccess);
        db = DocumentUtils::NewDocument();
    }

    // A flat image file of w x h pixels at ppi in the test's folder: a JPEG or TIFF by its name.
    std::string Image(const std::string& name, uint32_t w, uint32_t h, int ppi) const {
        std::string path = dir / name;
        name.ends_with(".jpg") ? WriteJpeg(path, w, h, 1, ppi) : WriteTiff(path, w, h, ppi);
        return path;
    }
    // An image of 200 x 100 points (pixels at 72 ppi) in a frame of fw x fh points on the page.
    UIDRef PlacedImage(double fw, double fh) {
        std::string path = Image("img" + std::to_string(++files) + ".tif", 200, 100, 72);
        return PlaceFile(AddFrame(db.get(), PMRect(50, 60, 50 + fw, 60 + fh)), path);
    }
    static PMMatrix Matrix(const UIDRef& item) {
        return InterfaceOf<ITransform>(item)->GetInnerToParentMatrix();
    }
    static PMRect Box(const UIDRef& item) { return InterfaceOf<IGeometry>(item)->GetBoundingBox(); }
    static UIDRef Parent(const UIDRef& item) {
        return UIDRef(item.GetDataBase(), InterfaceOf<IHierarchy>(item)->GetParentUID());
    }
    // An image whose link reads as the text (the file need not exist).
    UIDRef LinkedTo(const std::string& text) {
        UIDRef item = PlacedImage(10, 10);
        Change(db.get(), [&] { InterfaceOf<IDataLink>(item)->SetLongName(PMString(text)); });
        return item;
    }
    static std::string LinkOf(const UIDRef& item) {
        return InterfaceOf<IDataLink>(item)->GetLongName().GetUTF8String();
    }

    TempDir dir;
    std::unique_ptr<IDataBase> db;
    int files = 0;
};

// Each value within eps of the wanted one.
::testing::AssertionResult Near(std::initializer_list<double> got,
                                std::initializer_list<double> want, double eps = kEps) {
    for (std::size_t i = 0; i < got.size(); ++i) {
        if (!(std::fabs(got.begin()[i] - want.begin()[i]) <= eps)) {
            return ::testing::AssertionFailure()
                   << "value " << i << ": " << got.begin()[i] << " instead of " << want.begin()[i];
        }
    }
    return ::testing::AssertionSuccess();
}

// Same rotation, skew and scales within eps: the same linear part; and, given moveEps, the same
// translation within it.
::testing::AssertionResult SameLinearPart(const PMMatrix& got, const PMMatrix& want, double eps,
                                          double moveEps = INFINITY) {
    auto linear =
        Near({got.A(), got.B(), got.C(), got.D()}, {want.A(), want.B(), want.C(), want.D()}, eps);
    return linear ? Near({got.Tx(), got.Ty()}, {want.Tx(), want.Ty()}, moveEps) : linear;
}

const auto scale = [](double x, double y) { return PMMatrix::MakeScale(x, y); };
const auto move = [](double x, double y) { return PMMatrix::MakeTranslation(x, y); };
const auto turn = [](double degrees) { return PMMatrix::MakeRotation(degrees); };
const auto skew = [](double degrees) { return PMMatrix::MakeXSkew(degrees); };

// The box of the placed image: 200 x 100 points.
const PMRect kImageBox(0, 0, 200, 100);

// The linear part `m` moved so that the image's transformed box starts at the frame's corner.
PMMatrix At(const PMMatrix& m) {
    PMRect b = TransformedBounds(kImageBox, m);
    return m * PMMatrix::MakeTranslation(-b.Left(), -b.Top());
}

TEST_F(PlacementTest, PlacementsGiveTheirTicketValues) {
    struct Case {
        const char* name;
        double fw, fh; // frame size
        PMMatrix m;    // image into frame
        double scaleX, scaleY, angle, skewH;
        int32_t flipGD, flipHB;
    } cases[] = {
        {"50 % showing all", 100, 50, scale(0.5, 0.5), 0.5, 0.5, 0, 0, 0, 0},
        {"frame 36 pt inside the left edge", 100, 100, move(-36, 0), 1, 1, 0, 0, 0, 0},
        {"18 pt inside the top, 9 pt left of the image", 100, 100, move(9, -18), 1, 1, 0, 0, 0, 0},
        {"turned 180", 200, 100, At(turn(180)), 1, 1, 0, 0, 1, 1},
        {"135 on the ticket", 100, 100, At(turn(-135)), 1, 1, -45, 0, 1, 1},
        {"-135 on the ticket", 100, 100, At(turn(135)), 1, 1, 45, 0, 1, 1},
        {"45 on the ticket", 100, 100, At(turn(-45)), 1, 1, 45, 0, 0, 0},
        {"turned 200", 100, 100, At(turn(200)), 1, 1, -20, 0, 1, 1},
        {"exactly 90 on the ticket", 100, 200, At(turn(-90)), 1, 1, 90, 0, 0, 0},
        {"exactly -90 on the ticket", 100, 200, At(turn(90)), 1, 1, -90, 0, 0, 0},
        {"270 is -90 on the page, 90 on the ticket", 100, 200, At(turn(270)), 1, 1, 90, 0, 0, 0},
        // Exact quarter turns, mirrored: reported as mirrored down, turned -90.
        {"mirrored across, turned -90", 100, 200, At(scale(-1, 1) * turn(-90)), 1, 1, -90, 0, 0, 1},
        {"mirrored down, turned 90", 100, 200, At(scale(1, -1) * turn(90)), 1, 1, -90, 0, 0, 1},
        {"mirrored left to right", 200, 100, At(scale(-1, 1)), 1, 1, 0, 0, 1, 0},
        {"mirrored top to bottom at 80 %", 160, 80, At(scale(0.8, -0.8)), 0.8, 0.8, 0, 0, 0, 1},
        {"mirrored across at 30 % by 60 %", 60, 60, At(scale(-0.3, 0.6)), 0.3, 0.6, 0, 0, 1, 0},
        {"mirrored, then turned 120", 100, 100, At(scale(-1, 1) * turn(120)), 1, 1, 60, 0, 0, 1},
        {"skewed 20", 250, 100, At(skew(20)), 1, 1, 0, -20, 0, 0},
        {"skewed -35 at 150 %", 100, 100, At(PMMatrix::Compose(1.5, 1.5, -35, 0)), 1.5, 1.5, 0, 35,
         0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UIDRef item = PlacedImage(c.fw, c.fh);
        ASSERT_EQ(Box(item), kImageBox);
        SetMatrix(item, c.m);

        OD_PlacementGeometry g;
        ASSERT_EQ(GetPlacementGeometry(item, g), 0);
        EXPECT_EQ(g.imageMatrix, c.m);
        // The crop rectangle is the frame measured from the image's box.
        PMRect box = TransformedBounds(kImageBox, c.m);
        EXPECT_TRUE(
            Near({g.cropRect.Left(), g.cropRect.Top(), g.cropRect.Width(), g.cropRect.Height()},
                 {-box.Left(), -box.Top(), c.fw, c.fh}));

        // The ticket gives the crop and the frame in inches.
        OD_TicketGeometry t = ComputeTicketGeometry(item, 0, 72, g);
        EXPECT_TRUE(
            Near({t.top, t.left}, {g.cropRect.Top() / 72.0, g.cropRect.Left() / 72.0}, 1e-12));
        EXPECT_TRUE(Near({t.width, t.height, t.scaleX, t.scaleY, t.skewH},
                         {c.fw / 72.0, c.fh / 72.0, c.scaleX, c.scaleY, c.skewH}));
        EXPECT_EQ(std::pair(t.flipGD, t.flipHB), std::pair(c.flipGD, c.flipHB));
        // An exact quarter turn is left alone.
        EXPECT_TRUE(Near({t.angle}, {c.angle}, std::fabs(c.angle) == 90 ? 0.0 : kEps));
    }
}

TEST_F(PlacementTest, ResolutionsFromRealFiles) {
    // A JPEG at 300 ppi is recorded at 300 by the host, so there is nothing
    // to correct; the host's figure is what counts, not the file's.
    for (const std::string& file : {Image("a.jpg", 600, 300, 300), Image("a.tif", 600, 300, 300)}) {
        SCOPED_TRACE(file);
        UIDRef item = PlaceFile(AddFrame(db.get(), PMRect(0, 0, 100, 100)), file);
        ASSERT_EQ(Box(item), PMRect(0, 0, 144, 72));
        OD_PlacementGeometry g;
        ASSERT_EQ(GetPlacementGeometry(item, g), 0);
        EXPECT_NEAR(ComputeTicketGeometry(item, 0x400, 300, g).scaleX, 1, 1e-12);
        EXPECT_NEAR(ComputeTicketGeometry(item, 0x100, 300, g).scaleY, 1, 1e-12);
        // An order that reads the file at 600 ppi is scaled by 600 / 300.
        EXPECT_NEAR(ComputeTicketGeometry(item, 0x400, 600, g).scaleX, 2, 1e-12);
        // Without image attributes (the frame itself) the correction stays 1.
        EXPECT_EQ(ComputeTicketGeometry(Parent(item), 0x400, 300, g).scaleX, 1);
        EXPECT_EQ(ComputeTicketGeometry(Parent(item), 0x400, 300, g).scaleY, 1);
    }
}

TEST_F(PlacementTest, ItemsWithoutAFrameWithGeometryGiveMinusOne) {
    UIDRef frame = Parent(PlacedImage(100, 100));
    UIDRef spread = Parent(frame);
    UIDRef loose = PlacedImage(100, 100);
    Change(db.get(), [&] { InterfaceOf<IHierarchy>(Parent(loose))->RemoveChild(loose.GetUID()); });
    ASSERT_EQ(Parent(loose).GetUID(), kInvalidUID);
    const std::string other = Image("other.tif", 10, 10, 72);

    const std::pair<const char*, UIDRef> cases[] = {
        {"no item", UIDRef()},
        {"unknown UID", UIDRef(db.get(), UID(9999))},
        {"a spread: no transformation, no geometry", spread},
        {"a page: no hierarchy", DocumentUtils::GetNthPage(db.get(), 0)},
        {"a frame: its parent, the spread, has no geometry", frame},
        {"an image out of its frame: no parent", loose},
    };
    for (const auto& [name, item] : cases) {
        SCOPED_TRACE(name);
        std::string before = Content(*db);

        OD_PlacementGeometry g{.imageMatrix = scale(7, 7), .cropRect = PMRect(1, 2, 3, 4)};
        EXPECT_EQ(GetPlacementGeometry(item, g), -1);
        EXPECT_EQ(g.cropRect, PMRect(1, 2, 3, 4));
        EXPECT_EQ(g.imageMatrix, scale(7, 7));

        OD_PlacementCapture capture;
        capture.record.xOffset = 42;
        EXPECT_EQ(CapturePlacement(item, capture), -1);
        EXPECT_EQ(capture.record.xOffset, 42);

        OD_CaptureRecord record{.xScale = 2};
        EXPECT_EQ(RestorePlacement(item, record), -1);

        UIDRef out(db.get(), UID(1234));
        EXPECT_EQ(RelinkWithGeometry(item, other.c_str(), &record, 1, 0, out), -1);
        EXPECT_EQ(out, item);
        EXPECT_EQ(Content(*db), before);
    }
}

TEST_F(PlacementTest, APathThatDoesNotFitIsRefusedNotCutAndNoSingleLinkGivesAnEmptyOne) {
    const std::string e = "\xC3\xA9"; // two bytes of UTF-8
    const std::size_t full = kODLinkPathSize;
    struct Case {
        const char* name;
        std::string text;
        std::size_t capacity;
        int result;
    } cases[] = {
        {"511 bytes fit", "/" + std::string(510, 'a'), full, 0},
        {"512 bytes do not", "/" + std::string(511, 'a'), full, -2},
        {"a character ending on byte 511 fits", "/" + std::string(508, 'a') + e, full, 0},
        {"a character across the end does not", "/" + std::string(509, 'a') + e, full, -2},
        {"a NUL inside the path", std::string("/a/b") + '\0' + "c.tif", full, -2},
        {"a small buffer", "/images/photo.tif", 8, -2},
        {"a buffer just large enough", "/images/photo.tif", 18, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UIDRef item = LinkedTo(c.text);
        std::vector<char> buffer(c.capacity, 'x');
        ASSERT_EQ(GetLinkPath(item, buffer.data(), buffer.size()), c.result);
        if (c.result == 0) {
            EXPECT_EQ(std::string(buffer.data()), c.text);
        } else {
            EXPECT_EQ(buffer[0], '\0');
        }
    }

    // No single link (a frame, no item, an empty link) gives an empty path.
    UIDRef item = PlacedImage(10, 10);
    char buffer[kODLinkPathSize];
    for (const UIDRef& unlinked : {Parent(item), UIDRef(), LinkedTo("")}) {
        std::memset(buffer, 'x', sizeof buffer);
        EXPECT_EQ(GetLinkPath(unlinked, buffer), -1);
        EXPECT_EQ(buffer[0], '\0');
    }
    EXPECT_EQ(GetLinkPath(item, nullptr, 0), -2);
    EXPECT_EQ(GetLinkPath(item, buffer, 0), -2);
}

TEST_F(PlacementTest, WithoutARecordTheImageSitsUnturnedAtTheCornerAndFailuresChangeNothing) {
    UIDRef item = PlacedImage(100, 80);
    SetMatrix(item, PMMatrix::Compose(-0.5, 2, 20, 33, 17, -40));
    std::string other = Image("other.tif", 30, 60, 144);
    for (uint8_t first : {0, 1}) {
        SCOPED_TRACE(int(first));
        UIDRef made;
        ASSERT_EQ(RelinkWithGeometry(item, other.c_str(), nullptr, first, 0, made), 0);
        EXPECT_NE(made, item);
        EXPECT_FALSE(item.ExistsInDB());
        EXPECT_EQ(LinkOf(made), other);
        EXPECT_EQ(Box(made), PMRect(0, 0, 15, 30));
        EXPECT_TRUE(SameLinearPart(Matrix(made), PMMatrix(), kEps, kEps));
        // One undo step brings the old item back as it was.
        EXPECT_EQ(db->GetUndoName(), PMString("Relink"));
        ASSERT_TRUE(db->Undo());
        EXPECT_TRUE(item.ExistsInDB());
        EXPECT_FALSE(made.ExistsInDB());
        EXPECT_EQ(Matrix(item), PMMatrix::Compose(-0.5, 2, 20, 33, 17, -40));
    }

    // Failures leave the document as it was.
    SetMatrix(item, PMMatrix::Compose(0.5, 0.5, 0, 30, 10, 10));
    std::string before = Content(*db);
    PMString undoName = db->GetUndoName();
    OD_CaptureRecord record;
    OD_CaptureRecord flat{.yScale = 0}; // a matrix that collapses the image: the relink is undone
    struct Case {
        const char* name;
        UIDRef item;
        std::optional<std::string> path; // none: no path at all
        int result;
        const OD_CaptureRecord* record;
    } cases[] = {
        {"no file there", item, dir / "missing.tif", -2, &record},
        {"not an image file", item, dir / "notes.txt", -2, &record},
        {"no path", item, std::nullopt, -1, &record},
        {"an empty path", item, "", -1, &record},
        {"a frame, not an image", Parent(item), Image("b.tif", 5, 5, 72), -1, &record},
        {"a record that cannot be restored", item, dir / "b.tif", -3, &flat},
    };
    WriteFile(dir / "notes.txt", "not an image");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UIDRef out;
        EXPECT_EQ(
            RelinkWithGeometry(c.item, c.path ? c.path->c_str() : nullptr, c.record, 1, 0, out),
            c.result);
        EXPECT_EQ(out, c.item);
        EXPECT_EQ(Content(*db), before);
        EXPECT_EQ(db->GetUndoName(), undoName);
    }
}

TEST_F(PlacementTest, CaptureRecordsMatrixPartsCornerOffsetCropAndCropFlags) {
    const double halfPoint = std::atan(0.005) * 180 / std::numbers::pi;
    const double tiny = std::atan(5e-11) * 180 / std::numbers::pi;
    struct Case {
        const char* name;
        double fw, fh;
        PMMatrix m;
        double rotation, skew, xScale, yScale, xOffset, yOffset;
        bool xMirrored, yMirrored;
        PMRect crop;
    } cases[] = {
        {"unscaled, frame inside the image", 100, 80, move(-20, -10), 0, 0, 1, 1, 20, 10, false,
         false, PMRect(20, 10, 120, 90)},
        {"mirrored left to right: the corner is on the right", 100, 80, scale(-1, 1) * move(150, 0),
         0, 0, -1, 1, -150, 0, true, false, PMRect(50, 0, 150, 80)},
        {"mirrored top to bottom at 50 %", 100, 80, scale(0.5, -0.5) * move(0, 50), 0, 0, 0.5, -0.5,
         0, -50, false, true, PMRect(0, 0, 100, 80)},
        {"turned 90: the corner is at the bottom", 100, 80, turn(90) * move(0, 200), 90, 0, 1, 1, 0,
         -200, false, false, PMRect(0, 0, 100, 80)},
        {"turned 180 is not a mirror", 300, 150, turn(180) * move(210, 120), 180, 0, 1, 1, -210,
         -120, false, false, PMRect(-10, -20, 290, 130)},
        {"skewed 45: the top edge leans", 400, 100, skew(45), 0, 45, 1, 1, 0, 0, false, false,
         PMRect(100, 0, 500, 100)},
        {"skewed so a corner lies half a point left of the image's", 100, 100, skew(halfPoint), 0,
         halfPoint, 1, 1, 0, 0, false, false, PMRect(0.5, 0, 100.5, 100)},
        {"a corner within the matching tolerance does not widen the box", 100, 100, skew(tiny), 0,
         tiny, 1, 1, 0, 0, false, false, PMRect(0, 0, 100, 100)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UIDRef item = PlacedImage(c.fw, c.fh);
        SetMatrix(item, c.m);
        OD_PlacementCapture cap;
        ASSERT_EQ(CapturePlacement(item, cap), 0);
        const OD_CaptureRecord& r = cap.record;
        EXPECT_TRUE(Near({r.rotation, r.xSkew, r.xScale, r.yScale, r.xOffset, r.yOffset},
                         {c.rotation, c.skew, c.xScale, c.yScale, c.xOffset, c.yOffset}));
        EXPECT_EQ(std::pair(r.xMirrored, r.yMirrored), std::pair(c.xMirrored, c.yMirrored));
        EXPECT_EQ(PMRect(r.boundsLeft, r.boundsTop, r.boundsRight, r.boundsBottom), kImageBox);
        EXPECT_TRUE(Near(
            {cap.cropRect.Left(), cap.cropRect.Top(), cap.cropRect.Right(), cap.cropRect.Bottom()},
            {c.crop.Left(), c.crop.Top(), c.crop.Right(), c.crop.Bottom()}));

        // The capture's crop rectangle is the placement geometry's.
        OD_PlacementGeometry g;
        ASSERT_EQ(GetPlacementGeometry(item, g), 0);
        EXPECT_EQ(g.cropRect, cap.cropRect);
    }

    // The crop flags tell whether the frame ends inside the image. The frame's left-top corner
    // lies at the given place of the image's; 1 mm = 2.8346... points of grace at the far edge.
    struct Flags {
        const char* name;
        double x, y;   // where the image's corner lies in the frame
        double fw, fh; // frame size
        bool hA, vA;
    } flags[] = {
        {"frame starts inside the image", -5, -5, 50, 50, true, true},
        {"frame starts exactly at the image", 0, 0, 50, 50, true, true},
        {"frame holds the whole image", 10, 10, 250, 150, true, true},
        {"frame starts before and ends inside", 10, 10, 50, 50, false, false},
        {"frame ends 1 mm and a bit short of the far edge", 10, 10, 207, 107, false, false},
        {"frame ends less than 1 mm short of the far edge", 10, 10, 208, 108, true, true},
        {"across only", 10, -5, 50, 50, false, true},
        {"down only", -5, 10, 50, 50, true, false},
    };
    for (const Flags& c : flags) {
        SCOPED_TRACE(c.name);
        UIDRef item = PlacedImage(c.fw, c.fh);
        SetMatrix(item, move(c.x, c.y));
        OD_PlacementCapture cap;
        ASSERT_EQ(CapturePlacement(item, cap), 0);
        const auto& f = cap.cropFlags;
        EXPECT_EQ(std::tuple(f.horizontalA, f.horizontalB, f.verticalA, f.verticalB),
                  std::tuple(c.hA, !c.hA, c.vA, !c.vA));
    }
}

// Random placements (mirrored, skewed, exact quarter turns, cropped anywhere, in frames turned or
// mirrored themselves): relinking away and back with the capture shows the same part of the image
// with the same matrix, on the spread too; restoring onto another placement gives the captured one.
TEST_F(PlacementTest, RelinkingAwayAndBackWithTheCaptureShowsTheSameArea) {
    struct File {
        std::string path;
        PMRect box;
    };
    const std::vector<File> firsts = {{Image("f1.tif", 120, 80, 72), PMRect(0, 0, 120, 80)},
                                      {Image("f2.tif", 300, 200, 300), PMRect(0, 0, 72, 48)},
                                      {Image("f3.jpg", 64, 96, 150), PMRect(0, 0, 30.72, 46.08)}};
    const std::vector<std::string> seconds = {
        Image("s1.tif", 50, 70, 96), Image("s2.tif", 400, 100, 200), Image("s3.jpg", 80, 80, 300)};

    std::mt19937_64 rng(0x0D6E0A11u);
    auto uniform = [&](double lo, double hi) {
        return std::uniform_real_distribution<double>(lo, hi)(rng);
    };
    auto pick = [&](std::size_t n) {
        return static_cast<std::size_t>(std::uniform_int_distribution<std::size_t>(0, n - 1)(rng));
    };
    auto anyScale = [&] {
        double s = std::exp(uniform(std::log(0.05), std::log(5.0)));
        return pick(2) == 0 ? -s : s;
    };
    auto angle = [&] {
        return pick(5) == 0 ? 90.0 * static_cast<double>(pick(8)) - 270.0 : uniform(-180, 180);
    };
    // Draws in a braced list are taken in order, so the sequence does not hang on the order
    // in which a compiler takes arguments.
    auto linear = [&] {
        const auto [sx, sy, slant, rotation] =
            std::array{anyScale(), anyScale(), pick(4) == 0 ? 0.0 : uniform(-70, 70), angle()};
        return pick(2) == 0 ? scale(sx, sy) * skew(slant) * turn(rotation)
                            : PMMatrix::Compose(sx, sy, slant, rotation);
    };
    // The linear part moved so that some image point (u, v), possibly outside it, lies on
    // some frame point (fu, fv); both as fractions of their boxes.
    auto placed = [&](const PMMatrix& m, const PMRect& box, const PMRect& frame) {
        const auto [u, v, fu, fv] = std::array{uniform(-0.2, 1.2), uniform(-0.2, 1.2),
                                               uniform(-0.2, 1.2), uniform(-0.2, 1.2)};
        PMPoint p(box.Left() + u * box.Width(), box.Top() + v * box.Height());
        m.Transform(p);
        PMPoint q(frame.Left() + fu * frame.Width(), frame.Top() + fv * frame.Height());
        PMMatrix linear(m.A(), m.B(), m.C(), m.D(), 0, 0);
        return linear * PMMatrix::MakeTranslation(q.X() - p.X() + m.Tx(), q.Y() - p.Y() + m.Ty());
    };

    int failures = 0;
    for (int i = 0; i < 300 && failures < 5; ++i) {
        const File& first = firsts[pick(firsts.size())];
        const std::string& second = seconds[pick(seconds.size())];
        const auto [fw, fh] = std::array{uniform(10, 400), uniform(10, 400)};
        PMMatrix lin = linear();
        bool withRecordAway = pick(2) == 0;
        bool frameMoved = pick(4) == 0;
        const std::array f{anyScale(), std::fabs(anyScale()), uniform(-30, 30),
                           angle(),    uniform(0, 500),       uniform(0, 700)};
        PMMatrix frameMatrix = PMMatrix::Compose(f[0], f[1], f[2], f[3], f[4], f[5]);

        UIDRef item = PlaceFile(AddFrame(db.get(), PMRect(30, 40, 30 + fw, 40 + fh)), first.path);
        ASSERT_EQ(Box(item), first.box);
        if (frameMoved) {
            SetMatrix(Parent(item), frameMatrix);
        }
        PMMatrix m = placed(lin, first.box, Box(Parent(item)));
        PMMatrix start = placed(linear(), first.box, Box(Parent(item)));
        SCOPED_TRACE(::testing::Message()
                     << "case " << i << ": " << first.path << " via " << second << ", frame " << fw
                     << " x " << fh << ", image " << m << ", start " << start
                     << (withRecordAway ? ", away with the record" : ", away without")
                     << (frameMoved ? ", frame matrix " : "")
                     << (frameMoved ? ::testing::PrintToString(frameMatrix) : ""));
        SetMatrix(item, m);
        std::array<PMPoint, 4> shown = VisibleArea(item);
        PMMatrix onSpread = InterfaceOf<ITransform>(item)->GetInnerToSpreadMatrix();

        OD_PlacementCapture cap;
        ASSERT_EQ(CapturePlacement(item, cap), 0);
        UIDRef away;
        ASSERT_EQ(RelinkWithGeometry(item, second.c_str(), withRecordAway ? &cap.record : nullptr,
                                     1, 0, away),
                  0);
        EXPECT_EQ(LinkOf(away), second);
        if (withRecordAway) {
            EXPECT_TRUE(SameArea(VisibleArea(away), shown, 1e-6));
            EXPECT_TRUE(SameLinearPart(Matrix(away), m, 1e-9));
        }
        UIDRef back;
        ASSERT_EQ(RelinkWithGeometry(away, first.path.c_str(), &cap.record, 1, 0, back), 0);
        ASSERT_EQ(Box(back), first.box);
        EXPECT_TRUE(SameArea(VisibleArea(back), shown, 1e-6));
        EXPECT_TRUE(SameLinearPart(Matrix(back), m, 1e-9));
        EXPECT_TRUE(SameLinearPart(InterfaceOf<ITransform>(back)->GetInnerToSpreadMatrix(),
                                   onSpread, 1e-9, 1e-6));

        // Restored straight onto some other placement, not through a relink.
        SetMatrix(back, start);
        ASSERT_EQ(RestorePlacement(back, cap.record), 0);
        EXPECT_TRUE(SameLinearPart(Matrix(back), m, 1e-9, 1e-6));
        failures += HasFailure() ? 1 : 0; // a few cases past the first failure, not 300
        ASSERT_EQ(DocumentUtils::DeletePageItem(Parent(back)), kSuccess);
    }
}

} // namespace
