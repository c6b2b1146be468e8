#pragma once

// Placement geometry: how a placed image sits in its frame, turned into the
// processing parameters of a job ticket, and captured before its file is
// swapped so that it can be put back afterwards.
//
// Lengths are in points (72 to the inch, y growing downward) unless said
// otherwise; angles in degrees. The image item's matrix maps its own
// coordinates into its frame's (the frame is the image item's parent).

#include "PMMatrix.h"
#include "PMRect.h"
#include "UIDRef.h"

#include <cstddef>
#include <cstdint>

// Two points that differ by less than this are taken as the same.
inline constexpr double kODMatchTolerance = 1e-8;
// One millimetre in points: how much of the image a frame may leave out at
// its far edge and still count as showing the image up to that edge.
inline constexpr double kODCropTolerance = 2.834645669291339;

// Size of the buffer that takes the path of an image's link: 511 bytes and
// the NUL.
inline constexpr std::size_t kODLinkPathSize = 512;

// Where the image lies in its frame.
struct OD_PlacementGeometry {
    // The image item's matrix into its frame's coordinates.
    PMMatrix imageMatrix;
    // The frame's bounding box measured from the top-left corner of the box
    // that the image takes in the frame: a frame that starts inside the image
    // has a positive left (top).
    PMRect cropRect;
};

// What the job ticket says of the placement.
struct OD_TicketGeometry {
    double top = 0.0;    // inches
    double left = 0.0;   // inches
    double width = 0.0;  // inches
    double height = 0.0; // inches
    double scaleX = 1.0; // factor, 1.0 = 100 %, never negative
    double scaleY = 1.0;
    double angle = 0.0; // degrees, in [-90, 90]
    int32_t flipGD = 0; // 1: mirrored left to right
    int32_t flipHB = 0; // 1: mirrored top to bottom
    double skewH = 0.0; // degrees
};

// The placement of an image in its frame as it was captured: the parts of its
// matrix, the offset of its top-left corner from the frame's, and its own
// bounding box. The first eight fields are what the undo record keeps.
// A default-made record is the identity: no rotation, skew or mirror, scales
// 1, offsets 0.
struct OD_CaptureRecord {
    double rotation = 0.0; // degrees
    double xSkew = 0.0;    // degrees
    double xScale = 1.0;   // signed: negative on a mirrored axis
    double yScale = 1.0;
    // Frame's left (top) edge minus the x (y) of the image's top-left
    // corner, in the frame's coordinates.
    double xOffset = 0.0;
    double yOffset = 0.0;
    bool xMirrored = false;
    bool yMirrored = false;
    // The image item's own bounding box.
    double boundsLeft = 0.0;
    double boundsTop = 0.0;
    double boundsRight = 0.0;
    double boundsBottom = 0.0;

    static constexpr OD_CaptureRecord Identity() { return {}; }
};

// The frame's own transformation, taken apart, and its bounding box.
struct OD_FrameValues {
    double rotation = 0.0;
    double xSkew = 0.0;
    double xScale = 1.0;
    double yScale = 1.0;
    bool xMirrored = false;
    bool yMirrored = false;
    PMRect bounds;
};

// Which edges of the image the frame reaches. A: the frame starts at or
// before the image's left (top) edge, or reaches to within 1 mm of its far
// edge; B: the frame starts left of (above) the image and ends inside it.
// Exactly one horizontal and one vertical flag is set.
struct OD_CropFlags {
    bool horizontalA = true;
    bool verticalA = true;
    bool horizontalB = false;
    bool verticalB = false;
};

// Everything a capture gives.
struct OD_PlacementCapture {
    OD_CaptureRecord record;
    PMRect cropRect; // as in OD_PlacementGeometry
    OD_CropFlags cropFlags;
    OD_FrameValues frame;
};

// The image item's matrix and crop rectangle. 0, or -1 (geometry untouched)
// when the item has no transformation or no geometry, or its parent (the
// frame) has none.
int GetPlacementGeometry(const UIDRef& item, OD_PlacementGeometry& geometry);

// The ticket's crop, scale, angle, mirror and skew values for a placement.
// formatCode and imageResolution are the order's (its reader's format code
// and the resolution, in pixels per inch, that the file's header gives):
// for a plain TIFF (0x100) or a JPEG (0x400) whose header resolution differs
// from what the host recorded when it placed the file, the scales are
// corrected by header / recorded, since the host sized the image by its own
// figure. When the host's figure cannot be read the correction is 1. A header
// resolution of 0 (none given) counts as kODUnknownResolution, never as a
// scale of 0.
OD_TicketGeometry ComputeTicketGeometry(const UIDRef& item, uint32_t formatCode,
                                        double imageResolution,
                                        const OD_PlacementGeometry& geometry);

// Captures the placement of an image item: 0, or -1 (capture untouched) in
// the cases of GetPlacementGeometry.
int CapturePlacement(const UIDRef& item, OD_PlacementCapture& capture);

// Gives the image item the rotation, skew and scales of the record and moves
// it so that its top-left corner lies at the recorded offset from the
// frame's. One undo step. 0, or -1 in the cases of GetPlacementGeometry or
// when the item's matrix cannot take the record's parts (nothing changed).
int RestorePlacement(const UIDRef& item, const OD_CaptureRecord& record);

// Copies the full path of the image's link, as 8-bit text with its NUL, into
// buffer (kODLinkPathSize bytes as a rule). 0 when copied; -1 when the item
// does not have exactly one link; -2 when the path does not fit. On failure
// the buffer holds the empty text (when capacity is not 0): a path is never
// cut short into the name of some other file.
int GetLinkPath(const UIDRef& item, char* buffer, std::size_t capacity = kODLinkPathSize);

// Links a placed image to another file and puts its placement back: the
// image goes to the identity placement (its top-left corner on the frame's,
// at 100 %, unrotated), then, when a record is given, to the record's
// placement. The host replaces the item by a new one; its reference is
// written to newItem. The two option bytes are the callers' (first 1, second
// 0 as a rule) and change nothing here. One undo step ("Relink"). 0 on
// success; -1 when the item is not a placed image in a frame or the path is
// missing, -2 when the host cannot link the file, -3 when the placement
// cannot be put back; on failure the document is as it was and newItem is
// the item given.
int RelinkWithGeometry(const UIDRef& item, const char* path, const OD_CaptureRecord* record,
                       uint8_t option1, uint8_t option2, UIDRef& newItem);
