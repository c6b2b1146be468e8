// Placement geometry of placed images: ticket values, capture and restore,
// and the relink that keeps the placement.

#include "OD_Geometry.h"
#include "OD_ProcData.h"

#include "DocumentModel.h"
#include "DocumentUtils.h"
#include "IDocument.h"
#include "IGeometry.h"
#include "IHierarchy.h"
#include "IImageAttributes.h"
#include "ILayoutSelection.h"
#include "IMG_ImageInfo.h"
#include "ITransform.h"
#include "ImportUtils.h"
#include "PMString.h"

#include <cmath>

namespace {

// The interfaces a placement is read from: the image item's and its frame's.
struct PlacementParts {
    InterfacePtr<ITransform> imageTransform;
    InterfacePtr<IGeometry> imageGeometry;
    InterfacePtr<ITransform> frameTransform;
    InterfacePtr<IGeometry> frameGeometry;
};

bool QueryPlacementParts(const UIDRef& item, PlacementParts& parts) {
    parts.imageTransform = InterfaceOf<ITransform>(item);
    parts.imageGeometry = InterfaceOf<IGeometry>(item);
    if (!parts.imageTransform || !parts.imageGeometry) {
        return false;
    }
    InterfacePtr<IHierarchy> hierarchy = InterfaceOf<IHierarchy>(item);
    if (!hierarchy) {
        return false;
    }
    UIDRef frame(item.GetDataBase(), hierarchy->GetParentUID());
    if (frame.GetUID() == kInvalidUID) {
        return false;
    }
    parts.frameTransform = InterfaceOf<ITransform>(frame);
    parts.frameGeometry = InterfaceOf<IGeometry>(frame);
    return parts.frameTransform && parts.frameGeometry;
}

// The box that the image's corners take in the frame, and where its
// top-left corner went.
struct Extent {
    double minX = 0.0;
    double maxX = 0.0;
    double minY = 0.0;
    double maxY = 0.0;
    PMPoint leftTop;
};

// The corners go through the matrix in the order left-top, right-top,
// right-bottom, left-bottom. A corner widens the box only when it lies
// beyond it by more than the matching tolerance, so rounding noise on an
// edge that several corners share does not move it.
Extent TransformedExtent(const PMRect& box, const PMMatrix& m) {
    PMPoint corners[4] = {box.LeftTop(), box.RightTop(), box.RightBottom(), box.LeftBottom()};
    for (PMPoint& p : corners) {
        m.Transform(p);
    }
    Extent e;
    e.leftTop = corners[0];
    e.minX = e.maxX = corners[0].X();
    e.minY = e.maxY = corners[0].Y();
    for (int i = 1; i < 4; ++i) {
        double x = corners[i].X();
        double y = corners[i].Y();
        if (x < e.minX - kODMatchTolerance) {
            e.minX = x;
        } else if (x > e.maxX + kODMatchTolerance) {
            e.maxX = x;
        }
        if (y < e.minY - kODMatchTolerance) {
            e.minY = y;
        } else if (y > e.maxY + kODMatchTolerance) {
            e.maxY = y;
        }
    }
    return e;
}

// The frame's box measured from the top-left corner of the image's box.
PMRect CropRect(const PMRect& frameBox, const Extent& e) {
    PMRect r = frameBox;
    r.MoveRel(-e.minX, -e.minY);
    return r;
}

// One axis of the crop flags: true for A, false for B. `start` is where the
// frame starts measured from the image's near edge, `length` the frame's
// size along the axis, `extent` the image's.
bool CropsAtNearEdge(double start, double length, double extent) {
    if (start >= 0.0) {
        return true;
    }
    // The frame starts before the image; B when it ends inside the image,
    // more than 1 mm short of the image's far edge.
    return !(length + kODCropTolerance < (extent - start) - kODMatchTolerance);
}

// The host's recorded resolution of the placed image, when it has one.
bool RecordedResolutions(const UIDRef& item, double& x, double& y) {
    InterfacePtr<IImageAttributes> attributes = InterfaceOf<IImageAttributes>(item);
    PMFixed fx = 0;
    PMFixed fy = 0;
    if (!attributes || !attributes->GetXResolution(fx) || !attributes->GetYResolution(fy)) {
        return false;
    }
    x = PMFixedToDouble(fx);
    y = PMFixedToDouble(fy);
    return true;
}

double ResolutionFactor(double resolution, double recorded) {
    return recorded == resolution || recorded == 0.0 ? 1.0 : resolution / recorded;
}

} // namespace

int GetPlacementGeometry(const UIDRef& item, OD_PlacementGeometry& geometry) {
    PlacementParts parts;
    if (!QueryPlacementParts(item, parts)) {
        return -1;
    }
    PMMatrix m = parts.imageTransform->GetInnerToParentMatrix();
    Extent e = TransformedExtent(parts.imageGeometry->GetBoundingBox(), m);
    geometry.imageMatrix = m;
    geometry.cropRect = CropRect(parts.frameGeometry->GetBoundingBox(), e);
    return 0;
}

OD_TicketGeometry ComputeTicketGeometry(const UIDRef& item, uint32_t formatCode,
                                        double imageResolution,
                                        const OD_PlacementGeometry& geometry) {
    const PMMatrix& m = geometry.imageMatrix;
    OD_TicketGeometry t;

    double sx = m.GetXScale();
    double sy = m.GetYScale();
    t.flipGD = sx <= 0.0 ? 1 : 0;
    t.flipHB = sy <= 0.0 ? 1 : 0;

    // The server turns the other way round. A half turn is a mirror of both
    // axes, so the angle is folded into [-90, 90] and the flags carry the
    // rest; a quarter turn exactly stays as it is.
    double a = -m.GetRotationAngle(false);
    while (a < -180.0) {
        a += 360.0;
    }
    while (a > 180.0) {
        a -= 360.0;
    }
    if (a < -90.0) {
        a += 180.0;
        t.flipGD ^= 1;
        t.flipHB ^= 1;
    } else if (a > 90.0) {
        a -= 180.0;
        t.flipGD ^= 1;
        t.flipHB ^= 1;
    }
    t.angle = a;

    // The host sizes a TIFF or JPEG by the resolution it recorded; when the
    // header says otherwise the server, which goes by the header, must scale
    // by the difference.
    double fx = 1.0;
    double fy = 1.0;
    double hx = 0.0;
    double hy = 0.0;
    if ((formatCode == kImgFormatJpeg || formatCode == kImgFormatTiff) &&
        RecordedResolutions(item, hx, hy)) {
        const double known = ODKnownResolution(imageResolution);
        fx = ResolutionFactor(known, hx);
        fy = ResolutionFactor(known, hy);
    }
    t.scaleX = std::fabs(sx * fx);
    t.scaleY = std::fabs(sy * fy);
    t.skewH = -m.GetXSkewAngle();

    const PMRect& r = geometry.cropRect;
    t.top = r.Top() / 72.0;
    t.left = r.Left() / 72.0;
    t.width = r.Width() / 72.0;
    t.height = r.Height() / 72.0;
    return t;
}

int CapturePlacement(const UIDRef& item, OD_PlacementCapture& capture) {
    PlacementParts parts;
    if (!QueryPlacementParts(item, parts)) {
        return -1;
    }
    OD_PlacementCapture c;

    PMMatrix m = parts.imageTransform->GetInnerToParentMatrix();
    PMMatrix::Parts p = m.Decompose();
    OD_CaptureRecord& rec = c.record;
    rec.rotation = m.GetRotationAngle(false);
    rec.xSkew = p.xSkew;
    rec.xScale = p.xScale;
    rec.yScale = p.yScale;
    rec.xOffset = m.GetXTranslation();
    rec.yOffset = m.GetYTranslation();
    rec.xMirrored = rec.xScale < -kODMatchTolerance;
    rec.yMirrored = rec.yScale < -kODMatchTolerance;

    PMRect box = parts.imageGeometry->GetBoundingBox();
    rec.boundsLeft = box.Left();
    rec.boundsTop = box.Top();
    rec.boundsRight = box.Right();
    rec.boundsBottom = box.Bottom();
    Extent e = TransformedExtent(box, m);

    PMRect frameBox = parts.frameGeometry->GetBoundingBox();
    PMMatrix fm = parts.frameTransform->GetInnerToParentMatrix();
    PMMatrix::Parts fp = fm.Decompose();
    c.frame.rotation = fm.GetRotationAngle(false);
    c.frame.xSkew = fp.xSkew;
    c.frame.xScale = fp.xScale;
    c.frame.yScale = fp.yScale;
    c.frame.xMirrored = fp.xScale < -kODMatchTolerance;
    c.frame.yMirrored = fp.yScale < -kODMatchTolerance;
    c.frame.bounds = frameBox;

    // The offsets are those of the image's own top-left corner (which may lie
    // anywhere on the box once the image is turned), not of its box.
    rec.xOffset = frameBox.Left() - e.leftTop.X();
    rec.yOffset = frameBox.Top() - e.leftTop.Y();

    c.cropRect = CropRect(frameBox, e);
    const PMRect& r = c.cropRect;
    c.cropFlags.horizontalA = CropsAtNearEdge(r.Left(), r.Width(), e.maxX - e.minX);
    c.cropFlags.horizontalB = !c.cropFlags.horizontalA;
    c.cropFlags.verticalA = CropsAtNearEdge(r.Top(), r.Height(), e.maxY - e.minY);
    c.cropFlags.verticalB = !c.cropFlags.verticalA;

    capture = c;
    return 0;
}

int RestorePlacement(const UIDRef& item, const OD_CaptureRecord& record) {
    PlacementParts parts;
    if (!QueryPlacementParts(item, parts)) {
        return -1;
    }
    const PMPoint origin;
    ErrorCode code = DocumentUtils::ProcessChange(
        item.GetDataBase(), PMString("Restore Placement"), [&]() -> ErrorCode {
            // The setters keep the other parts as the matrix reads them now,
            // and a matrix reads back in its canonical form: a mirror plus a
            // turn of more than a quarter is read as the other axis mirrored
            // and the turn 180 degrees away. Setting a mirroring scale on an
            // image that does not mirror and is turned by more than 90
            // degrees would then keep that turn in the other form, and the
            // record's rotation, set next, would leave the image upside
            // down. Taking the turn out first makes the scale read back as
            // given, so scale, rotation and skew set one after the other give
            // the record's matrix from any start (the relink starts from the
            // identity, where this changes nothing).
            ITransform* t = parts.imageTransform.get();
            if (!t->SetRotationAngle(0.0, origin) ||
                !t->SetScale(record.xScale, record.yScale, origin) ||
                !t->SetRotationAngle(record.rotation, origin) ||
                !t->SetXSkewAngle(record.xSkew, origin)) {
                return kFailure;
            }

            OD_PlacementCapture now;
            if (CapturePlacement(item, now) != 0) {
                return kFailure;
            }
            // How far the image must go for its corner to lie at the
            // recorded offset from the frame's. Both offsets are measured in
            // the frame's own coordinates, and the image item moves in those
            // same coordinates (its matrix maps into the frame), so their
            // difference is the move as it stands. The frame's own scale and
            // mirroring (its frame values) would turn a distance inside the
            // frame into one on the spread; applied to a move made inside the
            // frame they would put the image off by the frame's scale, or on
            // the wrong side, whenever the frame itself is scaled or
            // mirrored. For a frame that is neither they are 1 and no sign
            // change, so nothing else changes.
            const PMRect& frameBox = now.frame.bounds;
            double dx = now.record.xOffset - record.xOffset;
            double dy = now.record.yOffset - record.yOffset;
            // The target of the image box's left-top corner; the box's corner
            // now lies at the frame's edge less the crop rectangle's, and the
            // item moves by the difference.
            double targetX = dx + frameBox.Left() - now.cropRect.Left();
            double targetY = dy + frameBox.Top() - now.cropRect.Top();
            double cornerX = frameBox.Left() - now.cropRect.Left();
            double cornerY = frameBox.Top() - now.cropRect.Top();
            t->MoveBy(targetX - cornerX, targetY - cornerY);
            return kSuccess;
        });
    return code == kSuccess ? 0 : -1;
}

int GetLinkPath(const UIDRef& item, char* buffer, std::size_t capacity) {
    if (buffer == nullptr || capacity == 0) {
        return -2;
    }
    buffer[0] = '\0';
    PMString shortName;
    PMString longName;
    if (!LinkUtils::GetLinkNames(item, shortName, longName)) {
        return -1;
    }
    if (longName.GetAsCString(buffer, capacity) != 0) {
        buffer[0] = '\0';
        return -2;
    }
    return 0;
}

int RelinkWithGeometry(const UIDRef& item, const char* path, const OD_CaptureRecord* record,
                       uint8_t option1, uint8_t option2, UIDRef& newItem) {
    // The options belong to the callers' protocol; linking here needs neither.
    (void)option1;
    (void)option2;
    newItem = item;
    if (path == nullptr || *path == '\0' || !PageItemTypeUtils::IsGraphic(item)) {
        return -1;
    }
    OD_PlacementCapture before;
    if (CapturePlacement(item, before) != 0) {
        return -1;
    }

    IDataBase* db = item.GetDataBase();
    UIDRef made;
    int result = 0;
    ErrorCode code = DocumentUtils::ProcessChange(db, PMString("Relink"), [&]() -> ErrorCode {
        ErrorCode error = kFailure;
        made = LinkUtils::RelinkImage(item, PMString(path), &error);
        if (error != kSuccess || made.GetDataBase() == nullptr) {
            made = UIDRef();
            result = -2;
            return kFailure;
        }
        if (RestorePlacement(made, OD_CaptureRecord::Identity()) != 0 ||
            (record != nullptr && RestorePlacement(made, *record) != 0)) {
            result = -3;
            return kFailure;
        }
        return kSuccess;
    });
    if (code != kSuccess) {
        // The host moved the selection over to the new item, which the
        // undone step took away again.
        if (made.GetDataBase() != nullptr) {
            if (InterfacePtr<IDocument> doc = DocumentUtils::QueryDocument(db)) {
                InterfacePtr<ILayoutSelection> selection(doc.get(), IID_ILAYOUTSELECTION);
                if (selection) {
                    selection->ReplaceItem(made.GetUID(), item.GetUID());
                }
            }
        }
        return result != 0 ? result : -3;
    }
    newItem = made;
    return 0;
}
