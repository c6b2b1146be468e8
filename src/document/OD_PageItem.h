#pragma once

#include "UIDRef.h"

#include <cstdint>

// Page items as the order code sees them: a small wrapper that tells the kind
// of an item and walks its children, and the search for the placed images
// under an item or on the pages of the front document.

// One page item, named by its database and UID; the invalid reference (no
// database, kInvalidUID) until one is given.
class OD_PageItem {
public:
    enum Kind : int32_t {
        kOther = 0,
        kGraphic = 1, // a placed image
        kFrame = 2,
        kGroup = 3,
    };

    OD_PageItem() = default;
    explicit OD_PageItem(const UIDRef& item) : item(item) {}
    virtual ~OD_PageItem() = default;
    OD_PageItem(const OD_PageItem&) = default;
    OD_PageItem& operator=(const OD_PageItem&) = default;

    const UIDRef& GetRef() const { return item; }
    void SetRef(const UIDRef& ref) { item = ref; }

    // The number of children in the item's hierarchy; 0 when it has none.
    virtual int32_t GetChildCount() const;
    // The child at the index, in the item's database; the invalid reference
    // when the index is out of range or the item has no hierarchy.
    virtual UIDRef GetChild(int32_t index) const;
    // A group: a hierarchy with more than one child and no outline of its own.
    // A frame: a graphic frame, a text frame or an unassigned frame. A graphic:
    // a placed image. Anything else (no item, a page, a deleted item): kOther.
    virtual Kind GetKind() const;

private:
    UIDRef item;
};

// A placed image: never has children, always a graphic.
class OD_ImageItem : public OD_PageItem {
public:
    OD_ImageItem() = default;
    explicit OD_ImageItem(const UIDRef& image) : OD_PageItem(image) {}

    int32_t GetChildCount() const override { return 0; }
    UIDRef GetChild(int32_t) const override { return UIDRef(); }
    Kind GetKind() const override { return kGraphic; }
};

// True for a placed image: an item that the host classifies as a graphic and
// that is not itself a graphic frame.
bool IsPlacedImage(const UIDRef& item);

// Appends every placed image at or below the item to the list, depth first,
// children in hierarchy order (back to front); a frame gives its image, never
// itself. What the list holds already is not looked at: collecting under a
// frame and then under its own image (both selected, say) gives the image
// twice.
//
// An empty list without a database takes the item's; a list of another
// database is left as it is, since its UIDs would name objects of another
// document.
void CollectImages(const UIDRef& item, UIDList& list);

// Replaces the list with the placed images on the pages of the front document:
// spread by spread, page by page, the page's top-level items back to front.
// Items on the pasteboard are not searched. Without a front document the list
// is left as it was.
void CollectDocumentImages(UIDList& list);
// True when the item lies on one of its spread's pages, and so is among the
// document's images; false on the pasteboard.
bool LiesOnAPage(const UIDRef& item);
