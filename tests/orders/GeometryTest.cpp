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
#include "IImageAttributes.h"
#include "ITransform.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <numbers>
#include <random>
#include <string>
#include <vector>

using dockit::SameArea;
using dockit::VisibleArea;

namespace {

constexpr double kEps = 1e-9;

class PlacementTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterDocumentModel();
        ErrorUtils::PMSetGlobalErrorCode(kSuccess);
        db = DocumentUtils::NewDocument();
    }

    IDataBase* Db() const { return db.get(); }
    UIDRef Page() const { return DocumentUtils::GetNthPage(db.get(), 0); }

    // A graphic frame on the first page; bounds in page coordinates.
    UIDRef Frame(const PMRect& bounds) const { return dockit::AddFrame(db.get(), bounds); }
    std::string Tiff(const std::string& name, uint32_t w, uint32_t h, double resolution) const {
        std::string path = dir / name;
        dockit::WriteTiff(path, w, h, resolution);
        return path;
    }
    std::string Jpeg(const std::string& name, uint32_t w, uint32_t h, int density) const {
        std::string path = dir / name;
        dockit::WriteJpeg(path, w, h, 1, density);
        return path;
    }
    static UIDRef Place(const UIDRef& frame, const std::string& path) {
        return dockit::PlaceFile(frame, path);
    }
    // An image of w x h points (pixels at 72 ppi) in a frame of fw x fh
    // points on the page.
    UIDRef PlacedImage(double fw, double fh, uint32_t w = 200, uint32_t h = 100) {
        std::string path = Tiff("img" + std::to_string(++files) + ".tif", w, h, 72);
        return Place(Frame(PMRect(50, 60, 50 + fw, 60 + fh)), path);
    }
    // Runs a change as one undo step; asserts it worked.
    void Change(const std::function<void()>& change) const { dockit::Change(db.get(), change); }
    static void SetMatrix(const UIDRef& item, const PMMatrix& m) { dockit::SetMatrix(item, m); }
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
        Change([&] { InterfaceOf<IDataLink>(item)->SetLongName(PMString(text)); });
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

// Same rotation, skew and scales: the same linear part.
::testing::AssertionResult SameLinearPart(const PMMatrix& got, const PMMatrix& want, double eps) {
    if (std::fabs(got.A() - want.A()) <= eps && std::fabs(got.B() - want.B()) <= eps &&
        std::fabs(got.C() - want.C()) <= eps && std::fabs(got.D() - want.D()) <= eps) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << got << " instead of " << want;
}

// The linear part `m` moved so that the transformed box of the 200 x 100
// point image (or the given box) starts at the frame's corner.
PMMatrix At(const PMMatrix& m, const PMRect& imageBox = PMRect(0, 0, 200, 100)) {
    PMRect b = TransformedBounds(imageBox, m);
    return m * PMMatrix::MakeTranslation(-b.Left(), -b.Top());
}

// The linear part `m` moved so that the image point (u, v) (fractions of its
// box) lies at the frame point (fu, fv) (fractions of the frame's box).
PMMatrix PointAt(const PMMatrix& m, const PMRect& imageBox, double u, double v,
                 const PMRect& frameBox, double fu, double fv) {
    PMPoint p(imageBox.Left() + u * imageBox.Width(), imageBox.Top() + v * imageBox.Height());
    m.Transform(p);
    PMPoint q(frameBox.Left() + fu * frameBox.Width(), frameBox.Top() + fv * frameBox.Height());
    PMMatrix linear(m.A(), m.B(), m.C(), m.D(), 0, 0);
    return linear * PMMatrix::MakeTranslation(q.X() - p.X() + m.Tx(), q.Y() - p.Y() + m.Ty());
}

TEST_F(PlacementTest, PlacementsGiveTheirTicketValues) {
    const PMRect image(0, 0, 200, 100);
    const PMMatrix mirrorX = PMMatrix::MakeScale(-1, 1);
    const PMMatrix mirrorY = PMMatrix::MakeScale(1, -1);
    auto turn = [](double a) { return PMMatrix::MakeRotation(a); };
    struct Case {
        const char* name;
        double fw, fh; // frame size
        PMMatrix m;    // image into frame
        double scaleX, scaleY, angle;
        int32_t flipGD, flipHB;
        double skewH;
    } cases[] = {
        {"50 % showing all", 100, 50, PMMatrix::MakeScale(0.5, 0.5), 0.5, 0.5, 0, 0, 0, 0},
        {"frame 36 pt inside the left edge", 100, 100, PMMatrix::MakeTranslation(-36, 0), 1, 1, 0,
         0, 0, 0},
        {"frame 18 pt inside the top, 9 pt left of the image", 100, 100,
         PMMatrix::MakeTranslation(9, -18), 1, 1, 0, 0, 0, 0},
        {"turned 180", 200, 100, At(turn(180)), 1, 1, 0, 1, 1, 0},
        {"135 on the ticket", 100, 100, At(turn(-135)), 1, 1, -45, 1, 1, 0},
        {"-135 on the ticket", 100, 100, At(turn(135)), 1, 1, 45, 1, 1, 0},
        {"45 on the ticket", 100, 100, At(turn(-45)), 1, 1, 45, 0, 0, 0},
        {"turned 200", 100, 100, At(turn(200)), 1, 1, -20, 1, 1, 0},
        {"exactly 90 on the ticket", 100, 200, At(turn(-90)), 1, 1, 90, 0, 0, 0},
        {"exactly -90 on the ticket", 100, 200, At(turn(90)), 1, 1, -90, 0, 0, 0},
        {"turned 270 is -90 on the page, 90 on the ticket", 100, 200, At(turn(270)), 1, 1, 90, 0, 0,
         0},
        // Exact quarter turns, mirrored: reported as mirrored down, turned -90.
        {"mirrored across, turned -90", 100, 200, At(mirrorX * turn(-90)), 1, 1, -90, 0, 1, 0},
        {"mirrored down, turned 90", 100, 200, At(mirrorY * turn(90)), 1, 1, -90, 0, 1, 0},
        {"mirrored left to right", 200, 100, At(mirrorX), 1, 1, 0, 1, 0, 0},
        {"mirrored top to bottom at 80 %", 160, 80, At(PMMatrix::MakeScale(0.8, -0.8)), 0.8, 0.8, 0,
         0, 1, 0},
        {"mirrored left to right at 30 % by 60 %", 60, 60, At(PMMatrix::MakeScale(-0.3, 0.6)), 0.3,
         0.6, 0, 1, 0, 0},
        {"mirrored, then turned 120", 100, 100, At(mirrorX * turn(120)), 1, 1, 60, 0, 1, 0},
        {"skewed 20", 250, 100, At(PMMatrix::MakeXSkew(20)), 1, 1, 0, 0, 0, -20},
        {"skewed -35 at 150 %", 100, 100, At(PMMatrix::Compose(1.5, 1.5, -35, 0)), 1.5, 1.5, 0, 0,
         0, 35},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UIDRef item = PlacedImage(c.fw, c.fh);
        ASSERT_EQ(Box(item), image);
        SetMatrix(item, c.m);

        OD_PlacementGeometry g;
        ASSERT_EQ(GetPlacementGeometry(item, g), 0);
        EXPECT_EQ(g.imageMatrix, c.m);
        // The crop rectangle is the frame measured from the image's box.
        PMRect box = TransformedBounds(image, c.m);
        EXPECT_TRUE(
            Near({g.cropRect.Left(), g.cropRect.Top(), g.cropRect.Width(), g.cropRect.Height()},
                 {-box.Left(), -box.Top(), c.fw, c.fh}));

        // The ticket gives the crop and the frame in inches.
        OD_TicketGeometry t = ComputeTicketGeometry(item, 0, 72, g);
        EXPECT_TRUE(
            Near({t.top, t.left}, {g.cropRect.Top() / 72.0, g.cropRect.Left() / 72.0}, 1e-12));
        EXPECT_TRUE(Near(
            {t.width, t.height, t.scaleX, t.scaleY, t.skewH, double(t.flipGD), double(t.flipHB)},
            {c.fw / 72.0, c.fh / 72.0, c.scaleX, c.scaleY, c.skewH, double(c.flipGD),
             double(c.flipHB)}));
        if (std::fabs(c.angle) == 90) {
            EXPECT_EQ(t.angle, c.angle); // an exact quarter turn is left alone
        } else {
            EXPECT_NEAR(t.angle, c.angle, kEps);
        }
    }
}

TEST_F(PlacementTest, ResolutionsFromRealFiles) {
    // A JPEG at 300 ppi is recorded at 300 by the host, so there is nothing
    // to correct; the host's figure is what counts, not the file's.
    UIDRef jpeg = Place(Frame(PMRect(0, 0, 100, 100)), Jpeg("a.jpg", 600, 300, 300));
    UIDRef tiff = Place(Frame(PMRect(0, 0, 100, 100)), Tiff("a.tif", 600, 300, 300));
    for (const UIDRef& item : {jpeg, tiff}) {
        ASSERT_EQ(Box(item), PMRect(0, 0, 144, 72));
        OD_PlacementGeometry g;
        ASSERT_EQ(GetPlacementGeometry(item, g), 0);
        EXPECT_NEAR(ComputeTicketGeometry(item, 0x400, 300, g).scaleX, 1, 1e-12);
        EXPECT_NEAR(ComputeTicketGeometry(item, 0x100, 300, g).scaleY, 1, 1e-12);
        // An order that reads the file at 600 ppi is scaled by 600 / 300.
        EXPECT_NEAR(ComputeTicketGeometry(item, 0x400, 600, g).scaleX, 2, 1e-12);
    }
    // Without image attributes (the frame itself) the correction stays 1.
    OD_PlacementGeometry g;
    ASSERT_EQ(GetPlacementGeometry(jpeg, g), 0);
    OD_TicketGeometry t = ComputeTicketGeometry(Parent(jpeg), 0x400, 300, g);
    EXPECT_EQ(t.scaleX, 1);
    EXPECT_EQ(t.scaleY, 1);
}

TEST_F(PlacementTest, ItemsWithoutAFrameWithGeometryGiveMinusOne) {
    UIDRef image = PlacedImage(100, 100);
    UIDRef frame = Parent(image);
    UIDRef spread = Parent(frame);
    UIDRef loose = PlacedImage(100, 100);
    Change([&] { InterfaceOf<IHierarchy>(Parent(loose))->RemoveChild(loose.GetUID()); });
    ASSERT_EQ(Parent(loose).GetUID(), kInvalidUID);

    struct Case {
        const char* name;
        UIDRef item;
    } cases[] = {
        {"no item", UIDRef()},
        {"unknown UID", UIDRef(Db(), UID(9999))},
        {"a spread: no transformation, no geometry", spread},
        {"a page: no hierarchy", Page()},
        {"a frame: its parent, the spread, has no geometry", frame},
        {"an image out of its frame: no parent", loose},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string before = dockit::Content(*Db());

        OD_PlacementGeometry g;
        g.cropRect = PMRect(1, 2, 3, 4);
        g.imageMatrix = PMMatrix::MakeScale(7, 7);
        EXPECT_EQ(GetPlacementGeometry(c.item, g), -1);
        EXPECT_EQ(g.cropRect, PMRect(1, 2, 3, 4));
        EXPECT_EQ(g.imageMatrix, PMMatrix::MakeScale(7, 7));

        OD_PlacementCapture capture;
        capture.record.xOffset = 42;
        EXPECT_EQ(CapturePlacement(c.item, capture), -1);
        EXPECT_EQ(capture.record.xOffset, 42);

        OD_CaptureRecord record;
        record.xScale = 2;
        EXPECT_EQ(RestorePlacement(c.item, record), -1);

        UIDRef out(Db(), UID(1234));
        EXPECT_EQ(
            RelinkWithGeometry(c.item, Tiff("other.tif", 10, 10, 72).c_str(), &record, 1, 0, out),
            -1);
        EXPECT_EQ(out, c.item);
        EXPECT_EQ(dockit::Content(*Db()), before);
    }
}

TEST_F(PlacementTest, APathThatDoesNotFitIsRefusedNotCut) {
    const std::string e = "\xC3\xA9"; // two bytes of UTF-8
    struct Case {
        const char* name;
        std::string text;
        std::size_t capacity;
        int result;
    } cases[] = {
        {"511 bytes fit", "/" + std::string(510, 'a'), kODLinkPathSize, 0},
        {"512 bytes do not", "/" + std::string(511, 'a'), kODLinkPathSize, -2},
        {"a character ending on byte 511 fits", "/" + std::string(508, 'a') + e, kODLinkPathSize,
         0},
        {"a character across the end does not", "/" + std::string(509, 'a') + e, kODLinkPathSize,
         -2},
        {"a NUL inside the path", std::string("/a/b") + '\0' + "c.tif", kODLinkPathSize, -2},
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
}

TEST_F(PlacementTest, NoSingleLinkGivesAnEmptyPath) {
    UIDRef item = PlacedImage(10, 10);
    char buffer[kODLinkPathSize];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(GetLinkPath(Parent(item), buffer), -1); // a frame
    EXPECT_EQ(buffer[0], '\0');
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(GetLinkPath(UIDRef(), buffer), -1);
    EXPECT_EQ(buffer[0], '\0');
    UIDRef unlinked = LinkedTo("");
    EXPECT_EQ(GetLinkPath(unlinked, buffer), -1);
    EXPECT_EQ(GetLinkPath(item, nullptr, 0), -2);
    EXPECT_EQ(GetLinkPath(item, buffer, 0), -2);
}

TEST_F(PlacementTest, WithoutARecordTheImageSitsUnturnedAtTheFramesCorner) {
    UIDRef item = PlacedImage(100, 80);
    SetMatrix(item, PMMatrix::Compose(-0.5, 2, 20, 33, 17, -40));
    std::string other = Tiff("other.tif", 30, 60, 144);
    for (uint8_t first : {0, 1}) {
        SCOPED_TRACE(int(first));
        UIDRef made;
        ASSERT_EQ(RelinkWithGeometry(item, other.c_str(), nullptr, first, 0, made), 0);
        EXPECT_NE(made, item);
        EXPECT_FALSE(item.ExistsInDB());
        EXPECT_EQ(LinkOf(made), other);
        EXPECT_EQ(Box(made), PMRect(0, 0, 15, 30));
        PMMatrix m = Matrix(made);
        EXPECT_TRUE(SameLinearPart(m, PMMatrix(), kEps));
        EXPECT_NEAR(m.Tx(), 0, kEps);
        EXPECT_NEAR(m.Ty(), 0, kEps);
        // One undo step brings the old item back as it was.
        EXPECT_EQ(Db()->GetUndoName(), PMString("Relink"));
        ASSERT_TRUE(Db()->Undo());
        EXPECT_TRUE(item.ExistsInDB());
        EXPECT_FALSE(made.ExistsInDB());
        EXPECT_EQ(Matrix(item), PMMatrix::Compose(-0.5, 2, 20, 33, 17, -40));
    }
}

TEST_F(PlacementTest, FailuresLeaveTheDocumentAsItWas) {
    UIDRef item = PlacedImage(100, 80);
    SetMatrix(item, PMMatrix::Compose(0.5, 0.5, 0, 30, 10, 10));
    std::string before = dockit::Content(*Db());
    PMString undoName = Db()->GetUndoName();
    OD_CaptureRecord record;
    OD_CaptureRecord flat;
    flat.yScale = 0; // a matrix that collapses the image: the relink is undone
    struct Case {
        const char* name;
        UIDRef item;
        std::string path;
        bool nullPath;
        int result;
        const OD_CaptureRecord* record;
    } cases[] = {
        {"no file there", item, dir / "missing.tif", false, -2, &record},
        {"not an image file", item, dir / "notes.txt", false, -2, &record},
        {"no path", item, "", true, -1, &record},
        {"an empty path", item, "", false, -1, &record},
        {"a frame, not an image", Parent(item), Tiff("b.tif", 5, 5, 72), false, -1, &record},
        {"a record that cannot be restored", item, dir / "b.tif", false, -3, &flat},
    };
    WriteFile(dir / "notes.txt", "not an image");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UIDRef out;
        EXPECT_EQ(
            RelinkWithGeometry(c.item, c.nullPath ? nullptr : c.path.c_str(), c.record, 1, 0, out),
            c.result);
        EXPECT_EQ(out, c.item);
        EXPECT_EQ(dockit::Content(*Db()), before);
        EXPECT_EQ(Db()->GetUndoName(), undoName);
    }
}

// Random placements (mirrored, skewed, exact quarter turns, cropped anywhere,
// in frames that are themselves turned or mirrored): relinking away and back
// with the capture shows the same part of the image with the same matrix, on
// the spread too; restoring onto any other placement gives the captured one.
TEST_F(PlacementTest, CropFlagsTellWhetherTheFrameEndsInsideTheImage) {
    // The image is 200 x 100 points; the frame's left-top corner lies at the
    // given place of the image's. 1 mm = 2.8346... points of grace at the far
    // edge.
    struct Case {
        const char* name;
        double x, y;   // where the image's corner lies in the frame
        double fw, fh; // frame size
        bool hA, vA;
    } cases[] = {
        {"frame starts inside the image", -5, -5, 50, 50, true, true},
        {"frame starts exactly at the image", 0, 0, 50, 50, true, true},
        {"frame holds the whole image", 10, 10, 250, 150, true, true},
        {"frame starts before and ends inside", 10, 10, 50, 50, false, false},
        {"frame ends 1 mm and a bit short of the far edge", 10, 10, 207, 107, false, false},
        {"frame ends less than 1 mm short of the far edge", 10, 10, 208, 108, true, true},
        {"across only", 10, -5, 50, 50, false, true},
        {"down only", -5, 10, 50, 50, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UIDRef item = PlacedImage(c.fw, c.fh);
        SetMatrix(item, PMMatrix::MakeTranslation(c.x, c.y));
        OD_PlacementCapture cap;
        ASSERT_EQ(CapturePlacement(item, cap), 0);
        EXPECT_EQ(cap.cropFlags.horizontalA, c.hA);
        EXPECT_EQ(cap.cropFlags.horizontalB, !c.hA);
        EXPECT_EQ(cap.cropFlags.verticalA, c.vA);
        EXPECT_EQ(cap.cropFlags.verticalB, !c.vA);
    }
}

TEST_F(PlacementTest, RecordsTheMatrixPartsTheCornerOffsetAndTheCrop) {
    const PMRect image(0, 0, 200, 100);
    struct Case {
        const char* name;
        double fw, fh;
        PMMatrix m;
        double rotation, skew, xScale, yScale, xOffset, yOffset;
        bool xMirrored, yMirrored;
        PMRect crop;
    } cases[] = {
        {"unscaled, frame inside the image", 100, 80, PMMatrix::MakeTranslation(-20, -10), 0, 0, 1,
         1, 20, 10, false, false, PMRect(20, 10, 120, 90)},
        {"mirrored left to right: the corner is on the right", 100, 80,
         PMMatrix::MakeScale(-1, 1) * PMMatrix::MakeTranslation(150, 0), 0, 0, -1, 1, -150, 0, true,
         false, PMRect(50, 0, 150, 80)},
        {"mirrored top to bottom at 50 %", 100, 80,
         PMMatrix::MakeScale(0.5, -0.5) * PMMatrix::MakeTranslation(0, 50), 0, 0, 0.5, -0.5, 0, -50,
         false, true, PMRect(0, 0, 100, 80)},
        {"turned 90: the corner is at the bottom", 100, 80,
         PMMatrix::MakeRotation(90) * PMMatrix::MakeTranslation(0, 200), 90, 0, 1, 1, 0, -200,
         false, false, PMRect(0, 0, 100, 80)},
        {"turned 180 is not a mirror", 300, 150,
         PMMatrix::MakeRotation(180) * PMMatrix::MakeTranslation(210, 120), 180, 0, 1, 1, -210,
         -120, false, false, PMRect(-10, -20, 290, 130)},
        {"skewed 45: the top edge leans", 400, 100, PMMatrix::MakeXSkew(45), 0, 45, 1, 1, 0, 0,
         false, false, PMRect(100, 0, 500, 100)},
        {"skewed so a corner lies half a point left of the image's", 100, 100,
         PMMatrix::MakeXSkew(std::atan(0.005) * 180 / std::numbers::pi), 0,
         std::atan(0.005) * 180 / std::numbers::pi, 1, 1, 0, 0, false, false,
         PMRect(0.5, 0, 100.5, 100)},
        {"a corner within the matching tolerance does not widen the box", 100, 100,
         PMMatrix::MakeXSkew(std::atan(5e-11) * 180 / std::numbers::pi), 0,
         std::atan(5e-11) * 180 / std::numbers::pi, 1, 1, 0, 0, false, false,
         PMRect(0, 0, 100, 100)},
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
        EXPECT_EQ(r.xMirrored, c.xMirrored);
        EXPECT_EQ(r.yMirrored, c.yMirrored);
        EXPECT_EQ(PMRect(r.boundsLeft, r.boundsTop, r.boundsRight, r.boundsBottom), image);
        EXPECT_TRUE(Near(
            {cap.cropRect.Left(), cap.cropRect.Top(), cap.cropRect.Right(), cap.cropRect.Bottom()},
            {c.crop.Left(), c.crop.Top(), c.crop.Right(), c.crop.Bottom()}));

        // The capture's crop rectangle is the placement geometry's.
        OD_PlacementGeometry g;
        ASSERT_EQ(GetPlacementGeometry(item, g), 0);
        EXPECT_EQ(g.cropRect, cap.cropRect);
    }
}

TEST_F(PlacementTest, RelinkingAwayAndBackWithTheCaptureShowsTheSameArea) {
    struct File {
        std::string path;
        PMRect box;
    };
    const std::vector<File> firsts = {
        {Tiff("f1.tif", 120, 80, 72), PMRect(0, 0, 120, 80)},
        {Tiff("f2.tif", 300, 200, 300), PMRect(0, 0, 72, 48)},
        {Jpeg("f3.jpg", 64, 96, 150), PMRect(0, 0, 30.72, 46.08)},
    };
    const std::vector<std::string> seconds = {
        Tiff("s1.tif", 50, 70, 96),
        Tiff("s2.tif", 400, 100, 200),
        Jpeg("s3.jpg", 80, 80, 300),
    };

    std::mt19937_64 rng(0x0D6E0A11u);
    auto uniform = [&](double lo, double hi) {
        return std::uniform_real_distribution<double>(lo, hi)(rng);
    };
    auto pick = [&](std::size_t n) {
        return static_cast<std::size_t>(std::uniform_int_distribution<std::size_t>(0, n - 1)(rng));
    };
    auto scale = [&] {
        double s = std::exp(uniform(std::log(0.05), std::log(5.0)));
        return pick(2) == 0 ? -s : s;
    };
    auto angle = [&] {
        return pick(5) == 0 ? 90.0 * static_cast<double>(pick(8)) - 270.0 : uniform(-180, 180);
    };
    // One draw after the other, so the sequence does not hang on the order in
    // which a compiler takes arguments.
    auto linear = [&] {
        double sx = scale();
        double sy = scale();
        double skew = pick(4) == 0 ? 0.0 : uniform(-70, 70);
        double rotation = angle();
        return pick(2) == 0 ? PMMatrix::MakeScale(sx, sy) * PMMatrix::MakeXSkew(skew) *
                                  PMMatrix::MakeRotation(rotation)
                            : PMMatrix::Compose(sx, sy, skew, rotation);
    };
    // Some image point, possibly outside it, on some frame point.
    auto placed = [&](const PMMatrix& lin, const PMRect& box, const PMRect& frameBox) {
        double u = uniform(-0.2, 1.2);
        double v = uniform(-0.2, 1.2);
        double fu = uniform(-0.2, 1.2);
        double fv = uniform(-0.2, 1.2);
        return PointAt(lin, box, u, v, frameBox, fu, fv);
    };

    int failures = 0;
    for (int i = 0; i < 300 && failures < 5; ++i) {
        const File& first = firsts[pick(firsts.size())];
        const std::string& second = seconds[pick(seconds.size())];
        double fw = uniform(10, 400);
        double fh = uniform(10, 400);
        PMMatrix lin = linear();
        bool withRecordAway = pick(2) == 0;
        bool frameMoved = pick(4) == 0;
        double frameX = scale();
        double frameY = std::fabs(scale());
        double frameSkew = uniform(-30, 30);
        double frameRotation = angle();
        double frameLeft = uniform(0, 500);
        double frameTop = uniform(0, 700);
        PMMatrix frameMatrix =
            PMMatrix::Compose(frameX, frameY, frameSkew, frameRotation, frameLeft, frameTop);

        UIDRef item = Place(Frame(PMRect(30, 40, 30 + fw, 40 + fh)), first.path);
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
        PMMatrix after = InterfaceOf<ITransform>(back)->GetInnerToSpreadMatrix();
        EXPECT_TRUE(SameLinearPart(after, onSpread, 1e-9));
        EXPECT_NEAR(after.Tx(), onSpread.Tx(), 1e-6);
        EXPECT_NEAR(after.Ty(), onSpread.Ty(), 1e-6);

        // Restored straight onto some other placement, not through a relink.
        SetMatrix(back, start);
        ASSERT_EQ(RestorePlacement(back, cap.record), 0);
        PMMatrix got = Matrix(back);
        EXPECT_TRUE(SameLinearPart(got, m, 1e-9));
        EXPECT_NEAR(got.Tx(), m.Tx(), 1e-6);
        EXPECT_NEAR(got.Ty(), m.Ty(), 1e-6);
        failures += HasFailure() ? 1 : 0; // a few cases past the first failure, not 300
        ASSERT_EQ(DocumentUtils::DeletePageItem(Parent(back)), kSuccess);
    }
}

} // namespace
