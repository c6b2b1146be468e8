#pragma once

#include "DocumentIDs.h"
#include "IDataBase.h"
#include "IDocument.h"
#include "IPMUnknown.h"
#include "PMRect.h"
#include "PMString.h"
#include "UIDRef.h"

#include <cstdint>
#include <functional>
#include <memory>

// Making documents and their items, for front ends and tests.
namespace DocumentUtils {

struct NewDocumentOptions {
    PMString name{"Untitled-1"};
    int32_t pageCount = 1;
    int32_t pagesPerSpread = 1;
    double pageWidth = 612.0; // points (US Letter)
    double pageHeight = 792.0;
};

// A new document: a database whose root is the document, with its spreads
// and pages (pages side by side on their spread, the first at the spread's
// origin). Page counts below 1 give one page. The new document is unmodified
// and has nothing to undo. The caller owns the database; the document's
// objects live as long as it does.
std::unique_ptr<IDataBase> NewDocument(const NewDocumentOptions& options = {});

// The document of a database (its root object), or null.
InterfacePtr<IDocument> QueryDocument(IDataBase* db);

// The page at an index in document order (from 0), or an invalid reference.
UIDRef GetNthPage(IDataBase* db, int32_t index);

// Runs a change to the document as one undo step named `name`: the change
// returns kSuccess, or an error code, and then the database is as it was
// before. Inside an open step the change joins it. Returns the change's code.
ErrorCode ProcessChange(IDataBase* db, const PMString& name,
                        const std::function<ErrorCode()>& change);

// A new page item of the class (kSplineItemBoss, kTextFrameItemBoss or
// kShapeItemBoss) in front of the others on a page or a spread. `where` names
// a page (the bounds are in the page's coordinates) or a spread (the bounds
// are in the spread's coordinates: an item outside every page lies on the
// pasteboard). The item's own bounding box is (0, 0, width, height); its
// matrix places it. One undo step. Returns the item, or an invalid reference
// with *error set.
UIDRef AddPageItem(ClassID itemClass, const UIDRef& where, const PMRect& bounds,
                   ErrorCode* error = nullptr);
UIDRef AddGraphicFrame(const UIDRef& where, const PMRect& bounds, ErrorCode* error = nullptr);

// Groups page items that share one parent: the group takes the place of the
// frontmost of them, keeps them in their order and where they are on the page
// (its matrix is the identity). One undo step.
UIDRef GroupItems(const UIDList& items, ErrorCode* error = nullptr);

// Deletes a page item with everything in it. One undo step.
ErrorCode DeletePageItem(const UIDRef& item);

} // namespace DocumentUtils

// How page items are classified.
namespace PageItemTypeUtils {

enum class PageItemType { kOther, kGraphicFrame, kGroup, kImage };

// kOther also for anything that is not a page item.
PageItemType GetPageItemType(const UIDRef& item);
bool IsPageItem(const UIDRef& item);
// A placed image.
bool IsGraphic(const UIDRef& item);
bool IsGraphicFrame(const UIDRef& item);
bool IsGroup(const UIDRef& item);
// The two frames that are not graphic frames: text frames, and drawn shapes
// with no content (unassigned frames).
bool IsTextFrame(const UIDRef& item);
bool IsUnassignedFrame(const UIDRef& item);

} // namespace PageItemTypeUtils

// Where page items are in the layout.
namespace LayoutUtils {

// The page that holds the item: the page whose box holds the centre of the
// item's top-level ancestor (the item itself when it lies on the spread), so
// an image is on the page of its frame. kInvalidUID for an item on the
// pasteboard or not on a spread.
UID GetOwnerPageUID(const UIDRef& item);
// That page's number (from 1), or 0 when there is none.
int32_t GetPageNumber(const UIDRef& item);

} // namespace LayoutUtils
