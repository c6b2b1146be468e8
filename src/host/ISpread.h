#pragma once

#include "DocumentIDs.h"
#include "IPMUnknown.h"
#include "PMRect.h"
#include "UIDRef.h"

#include <cstdint>

// A spread: pages side by side, and the page items laid on them. The page
// items are the spread's children in its hierarchy; an item belongs to the
// page whose box (in spread coordinates) holds the centre of the item's
// top-level ancestor, and to none (the pasteboard) when no page does.
class ISpread : public IPMUnknown {
public:
    enum { kDefaultIID = IID_ISPREAD.value };

    virtual int32_t GetNumPages() const = 0;
    // kInvalidUID when out of range.
    virtual UID GetNthPageUID(int32_t index) const = 0;
    // The page's position in this spread, or -1.
    virtual int32_t GetPageIndex(UID page) const = 0;
    // The top-level page items on a page, back to front, with the page itself
    // first when includePage is set; empty for an index out of range.
    virtual UIDList GetItemsOnPage(int32_t pageIndex, bool includePage = false) const = 0;
    // The index of the page whose box holds the point (spread coordinates),
    // or -1. Page boxes hold their left and top edges, not their right and
    // bottom ones, so that a point on a shared edge belongs to one page.
    virtual int32_t GetPageIndexAt(const PMPoint& point) const = 0;

    // Building the document: puts a page in at a position (-1: last).
    virtual void AddPage(UID page, int32_t position = -1) = 0;
};

// A page: its number, its spread, and its box. The page's IGeometry holds the
// box in its own coordinates and its ITransform places it on the spread.
class IPage : public IPMUnknown {
public:
    enum { kDefaultIID = IID_IPAGE.value };

    // The page's number in the document, counting from 1 over the spreads in
    // order; 0 when the page is not in its document's page list.
    virtual int32_t GetPageNumber() const = 0;
    virtual UID GetSpreadUID() const = 0;
    virtual void SetSpreadUID(UID spread) = 0;
    // The page's box in its spread's coordinates.
    virtual PMRect GetBoundsInSpread() const = 0;
};
