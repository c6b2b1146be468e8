#pragma once

#include "DocumentIDs.h"
#include "IPMUnknown.h"
#include "UIDRef.h"

// The page items selected in a document's layout, and the item last brought
// into view. Every change that alters the selection is told through the
// document's ISubject: kSelectionChangedMessage with the protocol
// IID_ILAYOUTSELECTION (and kItemBroughtIntoViewMessage for BringIntoView).
// The selection is not part of the document's content: undo leaves it alone,
// and items that no longer exist drop out of it.
class ILayoutSelection : public IPMUnknown {
public:
    enum { kDefaultIID = IID_ILAYOUTSELECTION.value };
    enum SelectionMode { kReplace, kAddTo };

    // Selects the page items of the list (other UIDs are ignored), replacing
    // the selection or adding to it.
    virtual void Select(const UIDList& items, SelectionMode mode = kReplace) = 0;
    virtual void Deselect(const UIDList& items) = 0;
    virtual void DeselectAll() = 0;
    virtual bool HasSelectedItems() const = 0;
    // The selected items that still exist, in the order they were selected.
    virtual UIDList GetSelectedItems() const = 0;
    virtual bool IsSelected(UID item) const = 0;
    // Puts one selected item in place of another (used when an item is
    // replaced by a new one); nothing when `from` is not selected.
    virtual void ReplaceItem(UID from, UID to) = 0;

    // Scrolls the layout to show the item; the stand-in records it.
    virtual void BringIntoView(UID item) = 0;
    // The item last brought into view, or kInvalidUID.
    virtual UID GetItemBroughtIntoView() const = 0;
};
