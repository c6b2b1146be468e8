#pragma once

// The orders panel: a list of the front document's orders (one row per
// placed image with an order), the trash and go buttons, the message log
// under the list; it follows the document and the layout selection, takes
// page items dropped on the list and opens an order on a double-click.

#include "HostIDs.h"
#include "IPMUnknown.h"
#include "OD_ProcData.h"
#include "PMString.h"
#include "UIDRef.h"

#include <cstdint>
#include <functional>

class IControlView;
struct ListRow;

// Classes.
inline constexpr ClassID kOrdoPanelWidgetBoss{0x71904};
inline constexpr ClassID kOrdoListBoxWidgetBoss{0x71907};
inline constexpr ClassID kOrdoListCellWidgetBoss{0x71908};
inline constexpr ClassID kOrdoListElementBoss{0x71909};

// Widgets.
inline constexpr WidgetID kOrdoPanelWidgetID{0x71900};
inline constexpr WidgetID kOrdoLogTextWidgetID{0x71901};
inline constexpr WidgetID kOrdoTrashButtonWidgetID{0x71902};
inline constexpr WidgetID kOrdoGoButtonWidgetID{0x71903};
inline constexpr WidgetID kOrdoShowLogWidgetID{0x71904};
inline constexpr WidgetID kOrdoListBoxWidgetID{0x71906};
inline constexpr WidgetID kOrdoLogAreaWidgetID{0x7190F};
inline constexpr WidgetID kOrdoClearLogWidgetID{0x71912};

// Row cells.
inline constexpr WidgetID kOrdoRowIndexCellID{0x7190C};
inline constexpr WidgetID kOrdoStatusIconCellID{0x71909};
inline constexpr WidgetID kOrdoPageCellID{0x7190D};
inline constexpr WidgetID kOrdoNameCellID{0x71908};
inline constexpr WidgetID kOrdoOptionsCellID{0x71919};
inline constexpr WidgetID kOrdoProcessCellID{0x7190B};
inline constexpr WidgetID kOrdoImageTypeCellID{0x7191A};

// The row element (what a double-click goes to) and the group of its option
// cells; the column headers above the list.
inline constexpr WidgetID kOrdoListElementWidgetID{0x71905};
inline constexpr WidgetID kOrdoOptionsGroupWidgetID{0x7190A};
inline constexpr WidgetID kOrdoStatusHeaderWidgetID{0x71930};
inline constexpr WidgetID kOrdoPageHeaderWidgetID{0x71931};
inline constexpr WidgetID kOrdoNameHeaderWidgetID{0x71932};
inline constexpr WidgetID kOrdoOptionsHeaderWidgetID{0x71933};

// Implementations.
inline constexpr ImplementationID kOrdoControlViewImpl{0x71901};
inline constexpr ImplementationID kOrdoListBoxObserverImpl{0x71902};
inline constexpr ImplementationID kOrdoListBoxEHImpl{0x71903};
inline constexpr ImplementationID kOrdoListBoxTgtDropTargetImpl{0x71904};
inline constexpr ImplementationID kOrdoPanelWidgetObserverImpl{0x7190E};

// Status icons (icon resource IDs of the plug-in).
inline constexpr int32_t kOrdoIconDone = 128;
inline constexpr int32_t kOrdoIconReady = 129;
inline constexpr int32_t kOrdoIconSent = 130;
inline constexpr int32_t kOrdoIconFailed = 131;
inline constexpr int32_t kOrdoIconResampling = 132;
inline constexpr int32_t kOrdoIconDoneWithWarning = 133;

// The action the go button performs ("Send Selected Orders ...").
inline constexpr ActionID kOrdoGoButtonActionID{0x7190C};

// How far the list's bottom edge moves when the log is shown or hidden.
inline constexpr double kOrdoLogAreaHeight = 70.0;

// The panel's size limits (points).
inline constexpr double kOrdoPanelMinWidth = 207.0;
inline constexpr double kOrdoPanelMaxWidth = 1200.0;
inline constexpr double kOrdoPanelMinHeight = 112.0;
inline constexpr double kOrdoPanelMaxHeight = 1024.0;

// The document notification the list rebuilds on: sent through the front
// document's subject with this protocol and change.
inline constexpr PMIID kOrdoDocumentProtocol{0x0E01};
inline constexpr ClassID kOrdoDocumentChangedMessage{0x0E0A};

// Don't-show-again ID of the warning before an order that has already been
// processed is opened again.
inline constexpr uint32_t kOrdoAlreadyProcessedAlertID = 0x71911;

// Registers the panel's implementations and classes with the object model.
// Calling it again changes nothing.
void RegisterOrdoPanel();

// Makes the panel's widget tree (not yet shown).
InterfacePtr<IControlView> CreateOrdoPanel();

// Rebuilds the orders list: rows (rebuildRows) from the front document's
// placed images, turning new images into orders first (addNewImages, when
// the preferences ask for it). Skipped while the busy flag is up.
void RebuildOrdoList(IControlView* list, bool rebuildRows, bool addNewImages);

// A rebuild asked for by a change to the document (the commands' rebuild
// hook, the document message): done at once, unless a rebuild scope is open
// (then noted, and done when the outermost scope ends). Nothing while the busy
// flag is up.
void RequestOrdoListRebuild(IControlView* list, bool rebuildRows, bool addNewImages);

// While one lives, the rebuilds asked for wait: a user action that runs many
// commands rebuilds the list once, when it ends, with every option asked for,
// on the panel's list if it is still open.
class OrdoListRebuildScope {
public:
    OrdoListRebuildScope();
    ~OrdoListRebuildScope();
    OrdoListRebuildScope(const OrdoListRebuildScope&) = delete;
    OrdoListRebuildScope& operator=(const OrdoListRebuildScope&) = delete;
};

// The page items of the panel's list (all of them, or those of the selected
// rows), in row order; empty without a panel list.
UIDList OrdoPanelItemList();
UIDList OrdoPanelSelectedItems();

// Rebuilds actually made (not skipped) since the process started.
uint64_t OrdoListRebuildCount();

// The icon a row shows for an order's status (the status shown, after the
// resampling check), or 0 when the status gives no row.
int32_t OrdoStatusIcon(uint16_t shownStatus);

// The image status the image options dialog shows for an order of item: that
// its file is missing (naming it), or the resampling check's outcome with the
// session's preferences; at most 255 bytes.
PMString OrdoImageStatusText(const UIDRef& item, const OD_ProcData& order);

// The object of one row: an element of class kOrdoListElementBoss holding
// the row's cells, each a widget of the cell's ID (texts in ITextControlData,
// the icon as the view's resource ID). Its IEventHandler takes the
// double-click. Null when the classes are not registered.
InterfacePtr<IControlView> CreateOrdoListElement(const ListRow& row);

// What the double-click opens for an order: the image options dialog
// (RunImageOptionsDialog) unless replaced; null puts the dialog back.
using OrdoImageOptionsRunner =
    std::function<bool(OD_ProcData& record, const PMString& statusText, const PMString& heading)>;
void SetOrdoImageOptionsRunner(OrdoImageOptionsRunner runner);
