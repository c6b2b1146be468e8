#pragma once

// What the orders panel's parts share among themselves: the row element's
// event handler interface, the row record, and the calls between the rebuild
// and the list box observer.

#include "HostInterfaceIDs.h"
#include "IPMUnknown.h"
#include "OrdoPanel.h"
#include "PMString.h"

#include <cstdint>

class IControlView;
class IListBoxController;

// Takes the user's events on a widget that has no data interface of its own
// (a list row).
class IEventHandler : public IPMUnknown {
public:
    enum { kDefaultIID = IID_IEVENTHANDLER.value };

    // A double-click on the widget; true when it was handled.
    virtual bool LButtonDblClk() = 0;
};

// One row as the rebuild fills it, in this order.
struct OrdoRowData {
    int32_t index = 0;   // position of the order in the panel item list
    int32_t iconID = 0;  // status icon
    PMString imageType;  // string key of the image type
    PMString options;    // prefix or profile (not translatable)
    PMString page;       // page number or "?" (not translatable)
    PMString outputName; // (not translatable)
    PMString process;    // string key of the process text
};

ListRow MakeOrdoRow(OrdoRowData data);

// The panel item index a row shows (its index cell), or -1.
int32_t OrdoRowIndex(const ListRow& row);

// The list box observer of the list, when it is the panel's; makes it watch
// the front document (rebuilds call it before reading the document).
void OrdoListFollowFrontDocument(IControlView* list);

// The document whose placed images the rebuild may keep from one rebuild to
// the next (null: none); previousIsOpen tells whether the one watched so far
// is still open (a closed one is not touched).
class IDataBase;
void OrdoWatchDocumentImages(IDataBase* db, bool previousIsOpen);

// Opens the order of the panel item for editing (the double-click).
void OpenOrdoItem(int32_t itemIndex);

// Runs what the double-click opens (see SetOrdoImageOptionsRunner).
bool RunOrdoImageOptions(OD_ProcData& record, const PMString& statusText, const PMString& heading);

// Registers the observers, event handler, drop target and control view, and
// the panel's classes.
void RegisterOrdoPanelImplementations();

// The widget that holds the whole tree of a widget (no reference added).
IControlView* OrdoRootView(IControlView* widget);
