#pragma once

#include "DocumentIDs.h"
#include "IPMUnknown.h"
#include "PMMatrix.h"
#include "PMPoint.h"

// A page item's transformation: the matrix that takes its own coordinates to
// its parent's (an image into its frame, a frame onto its spread or into its
// group; a page onto its spread). Changes are made inside a command so that
// they can be undone.
class ITransform : public IPMUnknown {
public:
    enum { kDefaultIID = IID_ITRANSFORM.value };

    virtual PMMatrix GetInnerToParentMatrix() const = 0;
    // The matrix to the coordinates of the spread the item is on: its own
    // matrix followed by those of its parents below the spread.
    virtual PMMatrix GetInnerToSpreadMatrix() const = 0;
    virtual void SetInnerToParentMatrix(const PMMatrix& m) = 0;

    // Set one part of the matrix as PMMatrix decomposes it, keeping the others
    // and keeping the item point that sits at `about` (parent coordinates)
    // where it is. False, and nothing changed, when the matrix is singular.
    virtual bool SetScale(double xScale, double yScale, const PMPoint& about = PMPoint()) = 0;
    virtual bool SetRotationAngle(double degrees, const PMPoint& about = PMPoint()) = 0;
    virtual bool SetXSkewAngle(double degrees, const PMPoint& about = PMPoint()) = 0;

    // Moves the item by (dx, dy) in its parent's coordinates.
    virtual void MoveBy(double dx, double dy) = 0;
    // Moves the item so that the left-top corner of the box its bounding box
    // takes in the parent (IGeometry::GetBoundingBox of the matrix) lands on
    // the point. Only the translation changes.
    virtual void MoveTo(const PMPoint& leftTop) = 0;
};
