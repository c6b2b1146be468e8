#include "OrdoActionFlows.h"

#include "CAlert.h"
#include "DocumentUtils.h"
#include "IActionManager.h"
#include "ICommand.h"
#include "ILayoutSelection.h"
#include "IMG_Exception.h"
#include "IOrdoData.h"
#include "IOrdoPrefsData.h"
#include "IOrdoSuite.h"
#include "ISession.h"
#include "OD_ActionUndoRedo.h"
#include "OD_DataAccessor.h"
#include "OD_Jobs.h"
#include "OD_OrderFromImage.h"
#include "OD_PageItem.h"
#include "OD_Preferences.h"
#include "OD_Resampling.h"
#include "OD_Send.h"
#include "OD_ServerLink.h"
#include "OrdoActions.h"
#include "OrdoCommands.h"
#include "OrdoPanel.h"
#include "OrdoPanelState.h"
#include "OrdoPrefsDialog.h"
#include "QOR_EndPoint.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>

namespace {

constexpr const char* kErrInternalKey = "0x71900kOrdoErrInternal";
constexpr const char* kErrAddSkippedKey = "0x71900kOrdoErrAddSkipped";
constexpr const char* kErrOnPasteboardKey = "0x71900kOrdoErrOnPasteboard";

// The image classes in the order the edit flow takes them.
constexpr uint32_t kEditClasses[] = {kODClassGray, kODClassRGB,       kODClassLab,
                                     kODClassCMYK, kODClassFullColor, kODClassUnknown};

bool IsReady(uint16_t status) {
    return status == kODStatusReady || status == kODStatusReadyAlt;
}

std::optional<OD_ProcData> ReadOrder(const UIDRef& item) {
    OD_ProcData record;
    if (OD_DataAccessor(item).Read(record) != 0) {
        return std::nullopt;
    }
    return record;
}

bool HasUndoRecord(const UIDRef& item) {
    OD_UndoData undo;
    return OD_UndoDataAccessor(item).Read(undo) == 0 && undo.savedStatus != 0;
}

PMString ClassHeading(uint32_t imageClass) {
    return PMString(ImageClassTextKey(imageClass)).Translated();
}

// The placed images under the page items, in order, each once (a frame and
// its own image both selected would otherwise give the image twice, and the
// user would be asked about it twice).
UIDList CollectSelectedImages(const UIDList& selected) {
    UIDList collected(selected.GetDataBase());
    for (int32_t i = 0; i < selected.Length(); ++i) {
        CollectImages(selected.GetRef(i), collected);
    }
    UIDList images(collected.GetDataBase());
    for (UID uid : collected) {
        if (images.Location(uid) < 0) {
            images.Append(uid);
        }
    }
    return images;
}

// Gives one image a provisional order, filled from its file, into record:
// kSuccess, or kFailure when the order could not be stored. The record says
// when the image cannot be ordered (OrderProblemKey).
ErrorCode AddProvisionalOrder(const UIDRef& image, OD_ProcData& record) {
    if (AddOrder(image, true) != 0) {
        return kFailure;
    }
    std::optional<OD_ProcData> added = ReadOrder(image);
    if (!added) {
        return kFailure;
    }
    record = *added;
    return kSuccess;
}

// Whether "Add Selected Item(s)..." offers the image: it carries no order, or
// one whose file could not be taken, which is read again.
bool IsOfferedForAdding(const UIDRef& image) {
    if (!IsOrdered(image)) {
        return true;
    }
    std::optional<OD_ProcData> order = ReadOrder(image);
    return order && ODStatusIsUnorderable(order->status);
}

} // namespace

UIDList UsableItems(const UIDList& items) {
    UIDList usable(items.GetDataBase());
    for (int32_t i = 0; i < items.Length(); ++i) {
        if (IsUsableItemRef(items.GetRef(i))) {
            usable.Append(items[i]);
        }
    }
    return usable;
}

OrdoActionStates ComputeOrdoActionStates(const UIDList& listItems, const UIDList& selected) {
    OrdoActionStates states;
    for (int32_t i = 0; i < listItems.Length() && !(states.sendAll && states.pickup); ++i) {
        std::optional<OD_ProcData> order = ReadOrder(listItems.GetRef(i));
        states.sendAll = states.sendAll || (order && IsReady(order->status));
        states.pickup = states.pickup || (order && order->status == kODStatusSent);
    }
    if (selected.IsEmpty()) {
        return states;
    }
    states.showSelected = true;
    bool anyReady = false;
    for (int32_t i = 0; i < selected.Length(); ++i) {
        const UIDRef item = selected.GetRef(i);
        std::optional<OD_ProcData> order = ReadOrder(item);
        if (order && IsReady(order->status)) {
            anyReady = true;
        }
        // A failed order is sent again when the user selects it and sends.
        states.sendSelected =
            states.sendSelected || (order && order->status == kODStatusReplyMinus2);
        if ((order && (order->status == kODStatusDone || order->status == kODStatusReplyMinus1)) ||
            HasUndoRecord(item)) {
            states.undoRedo = true;
        }
    }
    states.sendSelected = states.sendSelected || anyReady;
    states.editSelected = anyReady;
    return states;
}

void ShowOrdoAbout() {
    PMString text(kOrdoAboutText);
    text.SetTranslatable(false);
    CAlert::ModalAlert(text, PMString(CAlert::kOKString), PMString(), PMString(), CAlert::kOKButton,
                       AlertIcon::kInformationIcon);
}

void AddSelectedItems(IActiveContext* ac) {
    if (ac == nullptr || ac->GetContextDocument() == nullptr) {
        return;
    }
    InterfacePtr<IOrdoSuite> suite(ac->GetContextSelection(), IID_IORDOSUITE);
    if (!suite) {
        return;
    }
    UIDList selected(ac->GetContextDocument());
    suite->GetSelectedItems(selected);
    const UIDList images = CollectSelectedImages(selected);
    // An image that cannot be taken is named at the end and the others go
    // on; an order that cannot be stored stops the add.
    std::vector<std::string> skipped;
    // The two commands of each image rebuild the list once, when the last
    // image is done.
    std::optional<OrdoListRebuildScope> rebuildOnce(std::in_place);
    for (int32_t i = 0; i < images.Length(); ++i) {
        const UIDRef image = images.GetRef(i);
        if (!IsOfferedForAdding(image)) {
            continue;
        }
        OD_ProcData record;
        // The orders list shows the images on pages only: an order on the
        // pasteboard would be one the user never sees.
        if (!LiesOnAPage(image)) {
            skipped.push_back(ImageProblemLine(image, record, kErrOnPasteboardKey).GetUTF8String());
            continue;
        }
        if (AddProvisionalOrder(image, record) != kSuccess) {
            skipped.push_back(ImageProblemLine(image, record, kErrInternalKey).GetUTF8String());
            break;
        }
        if (const char* problem = OrderProblemKey(record)) {
            skipped.push_back(ImageProblemLine(image, record, problem).GetUTF8String());
            continue;
        }
        // Confirmed, the edited record is ready and replaces the provisional
        // one; cancelled, the order stays provisional, which counts as none.
        if (RunOrdoOptionsDialog(record, OrdoImageStatusText(image, record),
                                 ClassHeading(record.imageClass)) &&
            OD_DataAccessor(image).Write(record) != kSuccess) {
            skipped.push_back(ImageProblemLine(image, record, kErrInternalKey).GetUTF8String());
            break;
        }
    }
    rebuildOnce.reset();
    // Those it could not take, one line each, in one alert and in the log.
    TellInLogAndAlert(PMString(kErrAddSkippedKey).Translated().GetUTF8String(), skipped);
}

void EditSelectedItems() {
    if (GetOrdoPanelList() == nullptr) {
        return;
    }
    const UIDList selected = UsableItems(OrdoPanelSelectedItems());
    if (selected.IsEmpty()) {
        return;
    }
    OrdoListRebuildScope rebuildOnce; // one command per image class
    for (uint32_t imageClass : kEditClasses) {
        OD_ProcData pattern;
        pattern.status = kODStatusReady;
        pattern.imageClass = imageClass;
        UIDList group(selected.GetDataBase());
        FilterItems(selected, pattern, kODFilterStatus | kODFilterImageClass, group);
        if (group.IsEmpty()) {
            continue;
        }
        std::vector<OD_ProcData> records;
        for (int32_t i = 0; i < group.Length(); ++i) {
            std::optional<OD_ProcData> order = ReadOrder(group.GetRef(i));
            records.push_back(order ? *order : OD_ProcData());
        }
        OD_ProcData edited = records.front();
        PMString status;
        if (group.Length() >= 2) {
            // One dialog for several images: no name or image status of one
            // of them stands for all.
            edited.outputName.Clear();
        } else {
            status = OrdoImageStatusText(group.GetRef(0), records.front());
        }
        if (!RunOrdoOptionsDialog(edited, status, ClassHeading(imageClass))) {
            continue;
        }
        if (group.Length() == 1) {
            records.front() = edited;
        } else {
            for (OD_ProcData& record : records) {
                record.processCode = edited.processCode;
                record.profile = edited.profile;
                record.auxText = edited.auxText;
                record.prefix = edited.prefix;
                record.prefsFileName = edited.prefsFileName;
            }
        }
        if (StoreOrderRecords(group, records) != kSuccess) {
            CAlert::ErrorAlert(PMString(kErrInternalKey));
            return;
        }
    }
}

void ShowSelectedItem() {
    const UIDList selected = OrdoPanelSelectedItems();
    if (selected.IsEmpty()) {
        return;
    }
    const UIDRef item = selected.GetRef(0);
    if (!IsUsableItemRef(item) || !PageItemTypeUtils::IsPageItem(item)) {
        return;
    }
    InterfacePtr<IDocument> document = DocumentUtils::QueryDocument(item.GetDataBase());
    InterfacePtr<ILayoutSelection> layout(document, IID_ILAYOUTSELECTION);
    if (!layout) {
        return;
    }
    layout->Select(UIDList(item), ILayoutSelection::kReplace);
    layout->BringIntoView(item.GetUID());
}

void UndoRedoSelectedItems() {
    const UIDList selected = OrdoPanelSelectedItems();
    if (selected.IsEmpty()) {
        return;
    }
    OD_ActionParameters parameters;
    parameters.SetItems(selected);
    OD_ActionUndoRedoItemsParams undoRedo(parameters);
    undoRedo.panelItems = &OrdoPanelItems();
    // An item that has nothing to go back to stays as it is, and the log says why.
    undoRedo.log = GetOrdoLog();
    OD_ActionUndoRedoItems action;
    action.SetParameters(undoRedo);
    OrdoListRebuildScope rebuildOnce; // the commands of every item's swap
    action.Execute();
}
