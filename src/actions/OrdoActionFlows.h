#pragma once

#include "OD_DataAccessor.h"

// The flows behind the plug-in's actions. The action component dispatches
// to them; each ends quietly when what it works on (the panel, the front
// document, the selection, a dialog) is not there.

#include "HostIDs.h"
#include "OD_ProcData.h"
#include "UIDRef.h"

#include <vector>

class IActiveContext;

// The enabled state of the panel menu's actions that depend on the orders
// list; the others keep the state the host gave them.
struct OrdoActionStates {
    bool sendSelected = false;
    bool editSelected = false;
    bool sendAll = false;
    bool undoRedo = false;
    bool showSelected = false;
    bool pickup = false; // an order of the list waits for its result
};

// The states for the orders list (all its items) and its selected items.
OrdoActionStates ComputeOrdoActionStates(const UIDList& listItems, const UIDList& selected);

// "About": the product and its version in a modal alert.
void ShowOrdoAbout();

// "Add Selected Item(s)...": every placed image under the layout selection
// of the context's document that carries no order becomes a provisional
// order and is offered in the image options dialog, one image at a time.
void AddSelectedItems(IActiveContext* ac);

// "Edit Selected Item ...": the ready orders among the selected items, one
// dialog per image class present.
void EditSelectedItems();

// "Send Selected Orders ..." (all false) and "Send all orders ..." (all
// true): the ready orders of the source list go to the selected server.
void SendListedOrders(bool all);

// "Preferences ...": the preferences dialog, with the idle tasks stopped
// while it is up.
void EditPreferences();

// "Show Selected Item": selects the first selected order's page item in the
// layout and brings it into view.
void ShowSelectedItem();

// "Undo Redo Process" on the selected items.
void UndoRedoSelectedItems();

// The items of a list whose references still name a live object, in order,
// in the list's database.
UIDList UsableItems(const UIDList& items);
