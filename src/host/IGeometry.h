#pragma once

#include "DocumentIDs.h"
#include "IPMUnknown.h"
#include "PMMatrix.h"
#include "PMRect.h"

// A page item's bounding box in its own (inner) coordinates, in points. Its
// transformation (ITransform) takes it to the parent. A group's box is the
// box around its children and follows them; setting it changes nothing.
class IGeometry : public IPMUnknown {
public:
    enum { kDefaultIID = IID_IGEOMETRY.value };

    virtual PMRect GetBoundingBox() const = 0;
    // The box around the four corners of the bounding box moved through m
    // (for example the item's matrix: the box it takes in its parent).
    virtual PMRect GetBoundingBox(const PMMatrix& m) const = 0;
    virtual void SetBoundingBox(const PMRect& box) = 0;
};

// The outline of a frame or a shape. Groups and placed images have none, which
// is how a group is told from a frame with children.
class IPathGeometry : public IPMUnknown {
public:
    enum { kDefaultIID = IID_IPATHGEOMETRY.value };

    // Every outline here is one closed path: the bounding box.
    virtual int32_t GetNumPaths() const = 0;
    virtual PMRect GetPathBoundingBox() const = 0;
};

// The axis-parallel box around the four corners of r (left-top, right-top,
// right-bottom, left-bottom) moved through m.
PMRect TransformedBounds(const PMRect& r, const PMMatrix& m);
