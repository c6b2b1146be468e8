#pragma once

// The orders panel: a list of the front document's orders (one row per
// placed image with an order), the trash and go buttons, the message log
// under the list; it follows the document and the layout selection, takes
// page items dropped on the list and opens an order on a double-click.

#include "HostIDs.h"
#include "IPMUnknown.h"
#include "UIDRef.h"

class IControlView;

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

// Registers the panel's implementations and classes with the object model.
// Calling it again changes nothing.
void RegisterOrdoPanel();

// Makes the panel's widget tree (not yet shown).
InterfacePtr<IControlView> CreateOrdoPanel();

// Rebuilds the orders list: rows (rebuildRows) from the front document's
// placed images, turning new images into orders first (addNewImages, when
// the preferences ask for it). Skipped while the busy flag is up.
void RebuildOrdoList(IControlView* list, bool rebuildRows, bool addNewImages);

// The page items of the panel's list (all of them, or those of the selected
// rows), in row order; empty without a panel list.
UIDList OrdoPanelItemList();
UIDList OrdoPanelSelectedItems();
