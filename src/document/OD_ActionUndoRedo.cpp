#include "OD_ActionUndoRedo.h"

#include "IDataBase.h"
#include "PMString.h"

#include "IMG_Exception.h"
#include "IOrdoUndoData.h"
#include "OD_DataAccessor.h"
#include "OD_Geometry.h"
#include "OD_Pickup.h"
#include "Paths.h"
#include "Platform.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

namespace {

// What a swap works from, as read from the item.
struct SwapInputs {
    OD_UndoData undo;
    OD_ProcData order;
    char linked[kODLinkPathSize] = {};
};

// Whether two paths name one file as far as the paths tell: the same path
// once "." parts and doubled separators are taken out.
bool SamePath(const char* a, const char* b) {
    return std::filesystem::path(a).lexically_normal() ==
           std::filesystem::path(b).lexically_normal();
}

// A regular file that this process may read; looked at, not opened, since
// opening a named pipe would hold the host.
bool IsReadableFile(const char* path) {
    return platform::CheckReadableFile(path) == 0;
}

// The log line of a refusal: the linked image's file name, ": ", the
// translated text of the key, then after.
std::string Reason(const char* linked, const char* key, const char* after) {
    std::string line = FileNamePart(linked);
    PMString text(key);
    text.Translate();
    line += ": ";
    line += text.GetUTF8String();
    line += after;
    return line;
}

// Reads what the swap of item works from and says whether it can be done.
OD_UndoRedoState ReadSwap(const UIDRef& item, SwapInputs& in, std::string* why) {
    if (!IsUsableItemRef(item) || OD_UndoDataAccessor(item).Read(in.undo) != 0 ||
        in.undo.savedStatus == 0 || OD_DataAccessor(item).Read(in.order) != 0 ||
        GetLinkPath(item, in.linked, sizeof in.linked) != 0) {
        return OD_UndoRedoState::kNothingToSwap;
    }
    if (SamePath(in.undo.otherFile, in.linked)) {
        if (why != nullptr) {
            *why = Reason(in.linked, kODUndoRedoReplacedKey, "");
        }
        return OD_UndoRedoState::kOriginalReplaced;
    }
    if (!IsReadableFile(in.undo.otherFile)) {
        if (why != nullptr) {
            *why = Reason(in.linked, kODUndoRedoGoneKey, in.undo.otherFile);
        }
        return OD_UndoRedoState::kOtherFileGone;
    }
    return OD_UndoRedoState::kSwappable;
}

bool Swap(UIDRef& item, SwapInputs& in, uint8_t option1, uint8_t option2,
          std::vector<UIDRef>* panelItems) {
    // The file linked now becomes the other file: a path that does not fit
    // the record would be cut into another file's name, so the swap is
    // refused before anything changes.
    OD_UndoData swapped = in.undo;
    if (swapped.SetOtherFile(in.linked) != 0) {
        return false;
    }
    const OD_UndoPlacement& placement =
        in.order.status == kODStatusReady ? in.undo.processedPlacement : in.undo.originalPlacement;
    const OD_CaptureRecord record = placement.ToCapture();
    UIDRef made;
    if (RelinkWithGeometry(item, in.undo.otherFile, &record, option1, option2, made) != 0) {
        return false;
    }
    ReplacePanelItem(panelItems, item, made);
    item = made;
    swapped.savedStatus = in.order.status;
    in.order.status = in.undo.savedStatus;
    OD_UndoDataAccessor(item).Write(swapped);
    OD_DataAccessor(item).Write(in.order);
    return true;
}

} // namespace

OD_UndoRedoState GetUndoRedoState(const UIDRef& item, std::string* why) {
    SwapInputs in;
    return ReadSwap(item, in, why);
}

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
    next.log = params.log;
    // One step in the host's history for the whole swap: the relinks, the
    // moves and both records of every item undo and redo together.
    IDataBase* db = params.Count() > 0 ? params.At(0).GetDataBase() : nullptr;
    const bool outer = db != nullptr && !db->InTransaction();
    if (outer) {
        db->BeginTransaction(PMString(kOrdoUndoRedoStepKey));
    }
    // An item that cannot be swapped is left alone, and the user learns why:
    // each reason once, however often its item is listed.
    std::vector<std::string> logged;
    for (int32_t i = 0; i < params.Count(); ++i) {
        UIDRef item = params.At(i);
        SwapInputs in;
        std::string why;
        if (ReadSwap(item, in, &why) == OD_UndoRedoState::kSwappable) {
            Swap(item, in, params.option1, params.option2, params.panelItems);
        } else if (!why.empty() && std::find(logged.begin(), logged.end(), why) == logged.end()) {
            logged.push_back(why);
            if (params.log != nullptr) {
                params.log->Append(why.c_str());
            }
        }
        next.Append(item);
    }
    if (outer) {
        db->EndTransaction();
    }
    if (!logged.empty() && params.log != nullptr) {
        params.log->Show();
    }
    params = std::move(next);
}

bool UndoRedoProcess(UIDRef& item, uint8_t option1, uint8_t option2,
                     std::vector<UIDRef>* panelItems) {
    SwapInputs in;
    return ReadSwap(item, in, nullptr) == OD_UndoRedoState::kSwappable &&
           Swap(item, in, option1, option2, panelItems);
}
