#include "OD_ActionUndoRedo.h"

#include "IDataBase.h"
#include "PMString.h"

#include "IMG_Exception.h"
#include "IOrdoUndoData.h"
#include "OD_DataAccessor.h"
#include "OD_Geometry.h"
#include "OD_Pickup.h"

#include <cstring>
#include <utility>

void OD_ActionParameters::SetItems(const UIDList& list) {
    items.clear();
    for (int32_t i = 0; i < list.Length(); ++i) {
        items.push_back(list.GetRef(i));
    }
}

void OD_ActionParameters::Append(const UIDRef& item) {
    items.push_back(item);
}

int32_t OD_ActionParameters::Count() const {
    return static_cast<int32_t>(items.size());
}

UIDRef OD_ActionParameters::At(int32_t index) const {
    if (index < 0 || index >= Count()) {
        return UIDRef();
    }
    return items[static_cast<std::size_t>(index)];
}

OD_ActionUndoRedoItemsParams::OD_ActionUndoRedoItemsParams(const OD_ActionParameters& from) {
    target = from.target;
    for (int32_t i = 0; i < from.Count(); ++i) {
        items.push_back(from.At(i));
    }
}

void OD_ActionUndoRedoItems::SetParameters(const OD_ActionParameters& parameters) {
    const auto* own = dynamic_cast<const OD_ActionUndoRedoItemsParams*>(&parameters);
    if (own == nullptr) {
        throw IMG_Exception(-1);
    }
    params = *own;
}

void OD_ActionUndoRedoItems::Execute() {
    OD_ActionUndoRedoItemsParams next;
    next.target = params.target;
    next.option1 = params.option1;
    next.option2 = params.option2;
    // One step in the host's history for the whole swap: the relinks, the
    // moves and both records of every item undo and redo together.
    IDataBase* db = params.Count() > 0 ? params.At(0).GetDataBase() : nullptr;
    const bool outer = db != nullptr && !db->InTransaction();
    if (outer) {
        db->BeginTransaction(PMString(kOrdoUndoRedoStepKey));
    }
    for (int32_t i = 0; i < params.Count(); ++i) {
        UIDRef item = params.At(i);
        UndoRedoProcess(item, params.option1, params.option2, params.panelItems);
        next.Append(item);
    }
    if (outer) {
        db->EndTransaction();
    }
    params = std::move(next);
}

bool UndoRedoProcess(UIDRef& item, uint8_t option1, uint8_t option2,
                     std::vector<UIDRef>* panelItems) {
    if (!IsUsableItemRef(item)) {
        return false;
    }
    OD_UndoData undo;
    if (OD_UndoDataAccessor(item).Read(undo) != 0 || undo.savedStatus == 0) {
        return false;
    }
    OD_ProcData order;
    if (OD_DataAccessor(item).Read(order) != 0) {
        return false;
    }
    char linked[kODLinkPathSize];
    if (GetLinkPath(item, linked, sizeof linked) != 0) {
        return false;
    }
    // The file linked now becomes the other file: a path that does not fit
    // the record would be cut into another file's name, so the swap is
    // refused before anything changes.
    OD_UndoData swapped = undo;
    if (swapped.SetOtherFile(linked) != 0) {
        return false;
    }
    const OD_UndoPlacement& placement =
        order.status == kODStatusReady ? undo.processedPlacement : undo.originalPlacement;
    const OD_CaptureRecord record = placement.ToCapture();
    UIDRef made;
    if (RelinkWithGeometry(item, undo.otherFile, &record, option1, option2, made) != 0) {
        return false;
    }
    ReplacePanelItem(panelItems, item, made);
    item = made;
    swapped.savedStatus = order.status;
    order.status = undo.savedStatus;
    OD_UndoDataAccessor(item).Write(swapped);
    OD_DataAccessor(item).Write(order);
    return true;
}
