#pragma once

#include "DocumentIDs.h"
#include "IPMUnknown.h"
#include "UIDRef.h"

#include <cstdint>

// Where a page item sits: its parent and its children, back to front. A
// spread is the top of the hierarchy (it has no parent); its children are the
// top-level page items. A graphic frame's one child is its placed image; a
// group's children are the items it groups.
class IHierarchy : public IPMUnknown {
public:
    enum { kDefaultIID = IID_IHIERARCHY.value };

    virtual UID GetParentUID() const = 0;
    // The parent's hierarchy with a reference held by the caller, or null.
    virtual IHierarchy* QueryParent() const = 0;

    virtual int32_t GetChildCount() const = 0;
    // kInvalidUID when the index is not below the child count.
    virtual UID GetChildUID(int32_t index) const = 0;
    // The child's hierarchy with a reference held by the caller, or null.
    virtual IHierarchy* QueryChild(int32_t index) const = 0;
    // The position of a child, or -1.
    virtual int32_t GetChildIndex(UID child) const = 0;

    // The spread at the top of the item's hierarchy (the item itself for a
    // spread), or kInvalidUID when the item is on none.
    virtual UID GetSpreadUID() const = 0;

    // Changes (made inside a command so that they can be undone). AddChild
    // takes the child out of its former parent and puts it in at the position
    // (-1 or past the end: in front of the others); it refuses (false) an
    // item that is not a page item of this database, the item itself, and an
    // ancestor of it. RemoveChild leaves the child without a parent.
    virtual bool AddChild(UID child, int32_t position = -1) = 0;
    virtual void RemoveChild(UID child) = 0;
    // Sets the parent only; AddChild and RemoveChild keep both sides in step.
    virtual void SetParentUID(UID parent) = 0;
};
