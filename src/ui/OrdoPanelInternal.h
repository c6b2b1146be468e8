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

// What one row shows, as the rebuild fills it; the texts are the caller's.
struct OrdoRowData {
    int32_t index = 0;                    // position of the order in the panel item list
    int32_t iconID = 0;                   // status icon
    const PMString* imageType = nullptr;  // string key of the image type
    const PMString* options = nullptr;    // prefix or profile (shown as it is)
    int32_t page = 0;                     // page number; 0 or less shows "?"
    const PMString* outputName = nullptr; // (shown as it is)
    const PMString* process = nullptr;    // string key of the process text
};

// Writes the row of data into row, its cells in this order: the index, the
// status icon, the page, the output name, the options, the process and the
// image type. The index, the page, the output name and the options are marked
// not translatable; the icon cell's empty text and the two string keys stay
// translatable. The row's cells and texts are reused, so one record can be
// filled row after row without allocating.
void SetOrdoRow(ListRow& row, const OrdoRowData& data);

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
