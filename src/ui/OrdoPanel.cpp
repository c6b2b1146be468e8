#include "OrdoPanel.h"

#include "DocumentModel.h"
#include "DocumentUtils.h"
#include "IApplication.h"
#include "IDocument.h"
#include "IOrdoData.h"
#include "IOrdoPrefsData.h"
#include "ISession.h"
#include "ISpread.h"
#include "ITransform.h"
#include "OD_DataAccessor.h"
#include "OD_Jobs.h"
#include "OD_OrderFromImage.h"
#include "OD_PageItem.h"
#include "OD_Pickup.h"
#include "OD_Resampling.h"
#include "OD_ServerLink.h"
#include "OrdoImgOptDialog.h"
#include "OrdoPanelInternal.h"
#include "OrdoPanelState.h"
#include "Widgets.h"

#include <exception>
#include <iterator>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {

uint64_t rebuildCount = 0;

// The open rebuild scopes and what was asked of them.
struct DeferredRebuild {
    int scopes = 0;
    bool asked = false;
    bool rebuildRows = false;
    bool addNewImages = false;
};
DeferredRebuild deferred;

// The icons of the rows of images that cannot be ordered: the file cannot be
// read (or is missing), the pixel type is not supported.
constexpr int32_t kOrdoIconUnreadable = 134;
constexpr int32_t kOrdoIconUnsupported = 135;

// The string key of the image type text (the list shows it translated).
const PMString& ImageTypeKey(uint32_t imageClass) {
    static const PMString gray("0x71900kStrImageTypeGray");
    static const PMString rgb("0x71900kStrImageTypeRGB");
    static const PMString cmyk("0x71900kStrImageTypeCMYK");
    static const PMString lab("0x71900kStrImageTypeLab");
    static const PMString unknown("0x71900kStrImageTypeUnknown");
    switch (imageClass) {
    case kODClassGray:
        return gray;
    case kODClassRGB:
        return rgb;
    case kODClassCMYK:
        return cmyk;
    case kODClassLab:
        return lab;
    default:
        return unknown;
    }
}

// ---- the widget tree

WidgetResource Widget(ClassID classID, WidgetID id, const PMRect& frame, const char* text = "",
                      const char* tip = "") {
    WidgetResource w;
    w.classID = classID;
    w.widgetID = id;
    w.frame = frame;
    w.text = PMString(text);
    w.tip = PMString(tip);
    return w;
}

// The panel as its resource describes it (points). The log area sits under
// the list, hidden until the show-log box is set; the list then gives up the
// area's height.
WidgetResource PanelResource() {
    constexpr double kWidth = 420.0;
    constexpr double kHeader = 18.0;
    constexpr double kListBottom = 236.0;
    constexpr double kButtonsTop = 242.0;

    WidgetResource panel = Widget(kOrdoPanelWidgetBoss, kOrdoPanelWidgetID,
                                  PMRect(0, 0, kWidth, 270), "0x71900kOrdoPanelTitleKey");
    panel.children.push_back(Widget(kStaticTextWidgetBoss, kOrdoStatusHeaderWidgetID,
                                    PMRect(0, 0, 48, kHeader), "0x71900kOrdoStatusTextStringKey"));
    panel.children.push_back(Widget(kStaticTextWidgetBoss, kOrdoPageHeaderWidgetID,
                                    PMRect(48, 0, 88, kHeader), "0x71900kOrdoPageTextStringKey"));
    panel.children.push_back(Widget(kStaticTextWidgetBoss, kOrdoNameHeaderWidgetID,
                                    PMRect(88, 0, 240, kHeader), "0x71900kOrdoNameTextStringKey"));
    panel.children.push_back(Widget(kStaticTextWidgetBoss, kOrdoOptionsHeaderWidgetID,
                                    PMRect(240, 0, kWidth, kHeader),
                                    "0x71900kOrdoOptionsTextStringKey"));

    WidgetResource list =
        Widget(kOrdoListBoxWidgetBoss, kOrdoListBoxWidgetID,
               PMRect(0, kHeader, kWidth, kListBottom), "", "0x71900kOrdoListItemsStringTip");
    list.multipleSelection = true;
    panel.children.push_back(list);

    WidgetResource logArea =
        Widget(kGroupPanelWidgetBoss, kOrdoLogAreaWidgetID,
               PMRect(0, kListBottom - kOrdoLogAreaHeight + 2, kWidth, kListBottom));
    logArea.visible = false;
    logArea.children.push_back(Widget(kStaticTextWidgetBoss, kOrdoLogTextWidgetID,
                                      PMRect(0, 0, kWidth - 28, kOrdoLogAreaHeight - 4), "",
                                      "0x71900kOrdoLogTextStringTip"));
    logArea.children.push_back(Widget(kButtonWidgetBoss, kOrdoClearLogWidgetID,
                                      PMRect(kWidth - 24, 0, kWidth, 22), "",
                                      "0x71900kOrdoEraseLogStringTip"));
    panel.children.push_back(logArea);

    WidgetResource trash = Widget(kButtonWidgetBoss, kOrdoTrashButtonWidgetID,
                                  PMRect(0, kButtonsTop, 24, kButtonsTop + 22), "",
                                  "0x71900kOrdoTrashButtonStringTip");
    trash.enabled = false;
    panel.children.push_back(trash);
    WidgetResource go =
        Widget(kButtonWidgetBoss, kOrdoGoButtonWidgetID,
               PMRect(28, kButtonsTop, 52, kButtonsTop + 22), "", "0x71900kOrdoGoButtonStringTip");
    go.enabled = false;
    panel.children.push_back(go);
    panel.children.push_back(Widget(
        kCheckBoxWidgetBoss, kOrdoShowLogWidgetID, PMRect(60, kButtonsTop, 220, kButtonsTop + 22),
        "0x71900kOrdoShowHideLogStringKey", "0x71900kOrdoLogChkBoxStringTip"));
    return panel;
}

// A row's element: the index cell (not shown), the status icon, the page,
// the output name, and the options group with the options, process and
// image type texts.
WidgetResource ElementResource(const ListRow& row) {
    auto cell = [&](WidgetID id, const PMRect& frame, const char* tip = "") {
        WidgetResource w = Widget(kOrdoListCellWidgetBoss, id, frame, "", tip);
        if (const ListCell* c = row.FindCell(id)) {
            w.text = c->text;
            w.rsrcID = c->iconID;
        }
        return w;
    };
    WidgetResource element = Widget(kOrdoListElementBoss, kOrdoListElementWidgetID,
                                    PMRect(0, 0, 420, 18), "", "0x71900kOrdoListItemsStringTip");
    WidgetResource index = cell(kOrdoRowIndexCellID, PMRect(0, 0, 0, 18));
    index.visible = false;
    element.children.push_back(index);
    element.children.push_back(
        cell(kOrdoStatusIconCellID, PMRect(0, 0, 48, 18), "0x71900kOrdoIconWidgetStringTip"));
    element.children.push_back(cell(kOrdoPageCellID, PMRect(48, 0, 88, 18)));
    element.children.push_back(
        cell(kOrdoNameCellID, PMRect(88, 0, 240, 18), "0x71900kOrdoTextWidgetStringTip"));
    WidgetResource options =
        Widget(kGroupPanelWidgetBoss, kOrdoOptionsGroupWidgetID, PMRect(240, 0, 420, 18), "",
               "0x71900kOrdoProcessIconStringTip");
    options.children.push_back(cell(kOrdoOptionsCellID, PMRect(0, 0, 60, 18)));
    options.children.push_back(cell(kOrdoProcessCellID, PMRect(60, 0, 140, 18)));
    options.children.push_back(cell(kOrdoImageTypeCellID, PMRect(140, 0, 180, 18)));
    element.children.push_back(options);
    return element;
}

// ---- the rebuild

IDataBase* FrontDocument() {
    InterfacePtr<IApplication> app(GetExecutionContextSession()->QueryApplication());
    InterfacePtr<IDocumentList> documents(app ? app->QueryDocumentList() : nullptr);
    return documents ? documents->GetFrontDocument() : nullptr;
}

// A placed image of the front document and the number of the page it is on.
struct PanelItem {
    UID uid;
    int32_t page;
};

// The placed images of the document the panel follows, kept from one
// rebuild to the next while nothing but image items changes: what changes
// the list (items added, deleted, moved, regrouped, relinked, pages and
// spreads) always changes an object of another class too (a frame, a group,
// a spread), and the database tells of every change when its step ends.
class ImageListCache : public IDatabaseObserver {
public:
    void Changed(UID, ClassID classID) override {
        if (!ObjectModel::Get().IsA(classID, kImageItemBoss)) {
            valid = false;
        }
    }
    void Flushed() override {}

    void Watch(IDataBase* next, bool previousIsOpen) {
        if (db != nullptr && previousIsOpen) {
            db->RemoveObserver(this);
        }
        db = next;
        valid = false;
        items.clear();
        if (db != nullptr) {
            db->AddObserver(this);
        }
    }

    // The cached list for db, or null. A step still open may have changed
    // the document without telling yet.
    const std::vector<PanelItem>* Find(IDataBase* of) const {
        return valid && of == db && !db->InTransaction() ? &items : nullptr;
    }
    void Keep(IDataBase* of, const std::vector<PanelItem>& list) {
        if (of == db && !db->InTransaction()) {
            items = list;
            valid = true;
        }
    }

private:
    IDataBase* db = nullptr;
    bool valid = false;
    std::vector<PanelItem> items;
};

ImageListCache imageCache;

// The placed images of the front document, spread by spread, page by page,
// each page's items back to front (as CollectDocumentImages finds them),
// with their page numbers.
std::vector<PanelItem> FrontDocumentImages(IDataBase*& db) {
    std::vector<PanelItem> items;
    db = FrontDocument();
    InterfacePtr<IDocument> document = DocumentUtils::QueryDocument(db);
    if (!document) {
        db = nullptr;
        return items;
    }
    if (const std::vector<PanelItem>* cached = imageCache.Find(db)) {
        return *cached;
    }
    int32_t pageNumber = 0;
    UIDList images(db);
    for (int32_t s = 0; s < document->GetSpreadCount(); ++s) {
        InterfacePtr<ISpread> spread =
            InterfaceOf<ISpread>(UIDRef(db, document->GetNthSpreadUID(s)));
        if (!spread) {
            continue;
        }
        for (int32_t p = 0; p < spread->GetNumPages(); ++p) {
            ++pageNumber;
            for (UID item : spread->GetItemsOnPage(p, false)) {
                images.Clear();
                CollectImages(UIDRef(db, item), images);
                for (UID image : images) {
                    items.push_back({image, pageNumber});
                }
            }
        }
    }
    imageCache.Keep(db, items);
    return items;
}

// Clears the busy flag however the rebuild ends.
class BusyScope {
public:
    BusyScope() { SetOrdoBusy(true); }
    ~BusyScope() { SetOrdoBusy(false); }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;
};

// What a rebuild needs of each process code, found once per code (a document
// uses few of them): the string key of its text, and whether it has a
// correction (the row then shows the order's prefix).
class ProcessCodes {
public:
    struct Entry {
        bool hasCorrection;
        PMString key;
    };

    const Entry& Of(int16_t code) {
        auto it = entries.find(code);
        if (it == entries.end()) {
            it = entries.emplace(code, Entry{HasCorrection(code), ProcessCodeTextKey(code)}).first;
        }
        return it->second;
    }

private:
    std::unordered_map<int16_t, Entry> entries;
};

// The order of a placed image; an empty record (no order, so no row) when it
// cannot be read.
OD_ProcData ReadOrder(const IOrdoData& data) {
    try {
        return data.Get();
    } catch (const std::exception&) {
        return {};
    }
}

// The resampling check of a Ready order. A placed image always sits in its
// graphic frame, so of its placement only the image's own matrix is needed
// (the check of the whole placement would read the frame's too, once per
// row). The image is the object whose order was just read.
bool NeedsResampling(const IOrdoData* image, const OD_ProcData& order, const OD_PrefsData& prefs) {
    InterfacePtr<ITransform> transform(image, IID_ITRANSFORM);
    if (!transform) {
        return false;
    }
    int factor = 0;
    int result = CheckResamplingMatrix(transform->GetInnerToParentMatrix(), &order, prefs, factor);
    return result == kODResamplingTooSmall || result == kODResamplingTooBig;
}

// What a sent order's row says of its wait; empty before the pickup has
// seen it wait.
PMString WaitText(const std::string& job) {
    const auto at = OrdoWaits().find(job);
    if (at == OrdoWaits().end()) {
        return PMString();
    }
    const char* key = at->second.kind == OrdoWaitKind::notAnswering
                          ? "0x71900kOrdoRowNotAnsweringKey"
                      : at->second.kind == OrdoWaitKind::busy ? "0x71900kOrdoRowBusyKey"
                                                              : "0x71900kOrdoRowWaitingKey";
    PMString text(OrdoMessage(key, {static_cast<int32_t>(at->second.waitedSeconds / 60)}).c_str());
    text.SetTranslatable(false);
    return text;
}

// The rows of the front document's orders, into the list and the panel
// item list.
void FillRows(IListBoxController& rows, bool addNewImages) {
    ISession* session = GetExecutionContextSession();
    InterfacePtr<IOrdoPrefsData> prefsData(session, IID_IORDOPREFSDATA);
    const bool havePrefs = prefsData != nullptr;
    const OD_PrefsData prefs = havePrefs ? prefsData->Get() : OD_PrefsData();
    const bool checkResampling = havePrefs && prefs.GetQualityControl();
    const bool autoImport = addNewImages && havePrefs && prefs.GetAutoImport();
    OpenServerLink(session, true, false);

    IDataBase* db = nullptr;
    std::vector<PanelItem> images = FrontDocumentImages(db);

    // Images that are not orders yet become orders first, all in one
    // command, when the preferences ask for it.
    if (autoImport) {
        UIDList newImages(db);
        for (const PanelItem& image : images) {
            InterfacePtr<IOrdoData> data = InterfaceOf<IOrdoData>(UIDRef(db, image.uid));
            if (data && data->Get().status == kODStatusNone) {
                newImages.Append(image.uid);
            }
        }
        if (!newImages.IsEmpty()) {
            AddOrders(newImages, false);
        }
    }

    std::vector<UIDRef>& panelItems = OrdoPanelItems();
    panelItems.clear();
    panelItems.reserve(images.size());
    ProcessCodes processCodes;
    // One row record for the whole fill: each row is written over the last
    // one, its texts reusing their storage, and the list box copies it.
    ListRow row;
    for (const PanelItem& image : images) {
        const UIDRef item(db, image.uid);
        InterfacePtr<IOrdoData> data;
        try {
            data = InterfaceOf<IOrdoData>(item);
        } catch (const std::exception&) {
            continue;
        }
        if (!data) {
            continue;
        }
        const OD_ProcData order = ReadOrder(*data);
        uint16_t shown = order.status;
        if (shown == kODStatusReady && checkResampling &&
            NeedsResampling(data.get(), order, prefs)) {
            shown = kODStatusReadyAlt;
        }
        const int32_t icon = OrdoStatusIcon(shown);
        if (icon == 0) {
            continue;
        }
        OrdoRowData fields;
        fields.index = static_cast<int32_t>(panelItems.size());
        fields.iconID = icon;
        fields.imageType = &ImageTypeKey(order.imageClass);
        fields.page = image.page;
        fields.outputName = &order.outputName;
        // An image that cannot be ordered says so where the options stand,
        // and why where the process does.
        PMString problemState;
        PMString problem;
        if (const char* problemKey = OrderProblemKey(order)) {
            problemState = PMString(icon == kOrdoIconUnreadable ? "0x71900kOrdoRowUnreadableKey"
                                                                : "0x71900kOrdoRowUnsupportedKey")
                               .Translated();
            problem = PMString(problemKey);
            fields.options = &problemState;
            fields.process = &problem;
        } else {
            const ProcessCodes::Entry& process = processCodes.Of(order.processCode);
            fields.options =
                process.hasCorrection && !order.prefix.IsEmpty() ? &order.prefix : &order.profile;
            fields.process = &process.key;
        }
        // A sent order says how long it has waited, and past the time limit
        // whether the server is busy or not answering.
        PMString wait;
        if (order.status == kODStatusSent) {
            wait = WaitText(order.jobName.GetUTF8String());
            if (!wait.IsEmpty()) {
                fields.options = &wait;
            }
        }
        SetOrdoRow(row, fields);
        rows.AddRow(row);
        panelItems.push_back(item);
    }
}

// The page items of the rows, by the rows' index cells.
std::vector<UIDRef> ItemsOfRows(const IListBoxController& rows, const std::vector<int32_t>& which) {
    std::vector<UIDRef> items;
    const std::vector<UIDRef>& panelItems = OrdoPanelItems();
    for (int32_t r : which) {
        int32_t index = OrdoRowIndex(rows.GetRow(r));
        if (index >= 0 && static_cast<std::size_t>(index) < panelItems.size()) {
            items.push_back(panelItems[static_cast<std::size_t>(index)]);
        }
    }
    return items;
}

void TellSelectionChanged(IControlView* list) {
    InterfacePtr<ISubject> subject(list, IID_ISUBJECT);
    if (subject) {
        subject->Change(kListSelectionChangedMessage, IID_ILISTBOXCONTROLLER);
    }
}

OrdoImageOptionsRunner& ImageOptionsRunner() {
    static OrdoImageOptionsRunner runner;
    return runner;
}

} // namespace

// ---- the row record

void SetOrdoRow(ListRow& row, const OrdoRowData& data) {
    static constexpr WidgetID kCells[] = {
        kOrdoRowIndexCellID, kOrdoStatusIconCellID, kOrdoPageCellID,     kOrdoNameCellID,
        kOrdoOptionsCellID,  kOrdoProcessCellID,    kOrdoImageTypeCellID};
    row.cells.resize(std::size(kCells));
    for (std::size_t i = 0; i < std::size(kCells); ++i) {
        row.cells[i].cellID = kCells[i];
        row.cells[i].iconID = 0;
    }
    auto number = [](PMString& text, long long value) {
        text.Clear();
        text.AppendNumber(value);
        text.SetTranslatable(false);
    };
    auto fixed = [](PMString& text, const PMString& value) {
        text = value;
        text.SetTranslatable(false);
    };
    number(row.cells[0].text, data.index);
    row.cells[1].text.Clear();
    row.cells[1].text.SetTranslatable(true);
    row.cells[1].iconID = data.iconID;
    if (data.page > 0) {
        number(row.cells[2].text, data.page);
    } else {
        row.cells[2].text.SetCString("?");
        row.cells[2].text.SetTranslatable(false);
    }
    fixed(row.cells[3].text, *data.outputName);
    fixed(row.cells[4].text, *data.options);
    row.cells[5].text = *data.process;
    row.cells[6].text = *data.imageType;
}

int32_t OrdoRowIndex(const ListRow& row) {
    const ListCell* cell = row.FindCell(kOrdoRowIndexCellID);
    bool ok = false;
    int index = cell != nullptr ? cell->text.GetAsNumber(&ok) : -1;
    return ok && index >= 0 ? index : -1;
}

int32_t OrdoStatusIcon(uint16_t shownStatus) {
    switch (shownStatus) {
    case kODStatusReady:
        return kOrdoIconReady;
    case kODStatusReadyAlt:
        return kOrdoIconResampling;
    case kODStatusSent:
        return kOrdoIconSent;
    case kODStatusDone:
        return kOrdoIconDone;
    case kODStatusReplyMinus2:
        return kOrdoIconFailed;
    case kODStatusReplyMinus1:
        return kOrdoIconDoneWithWarning;
    case kODStatusUnreadable:
        return kOrdoIconUnreadable;
    case kODStatusUnsupported:
        return kOrdoIconUnsupported;
    default:
        return 0;
    }
}

IControlView* OrdoRootView(IControlView* widget) {
    IControlView* root = widget;
    while (root != nullptr && root->GetParentView() != nullptr) {
        root = root->GetParentView();
    }
    return root;
}

// ---- the contract

InterfacePtr<IControlView> CreateOrdoPanel() {
    RegisterHostServices();
    RegisterOrdoPanel();
    return CreateWidgetTree(PanelResource());
}

InterfacePtr<IControlView> CreateOrdoListElement(const ListRow& row) {
    if (!ObjectModel::Get().HasClass(kOrdoListElementBoss)) {
        return {};
    }
    return CreateWidgetTree(ElementResource(row));
}

void RebuildOrdoList(IControlView* list, bool rebuildRows, bool addNewImages) {
    InterfacePtr<IListBoxController> rows(list, IID_ILISTBOXCONTROLLER);
    if (!rows || IsOrdoBusy()) {
        return;
    }
    BusyScope busy;
    ++rebuildCount;

    const std::vector<int32_t> selectedBefore = rows->GetSelected();
    const std::vector<UIDRef> remembered = ItemsOfRows(*rows, selectedBefore);
    rows->Clear(false);
    SetOrdoRefreshNeeded(false);

    if (rebuildRows) {
        OrdoListFollowFrontDocument(list);
        FillRows(*rows, addNewImages);
    } else {
        OrdoPanelItems().clear();
    }

    // The rows that show the items selected before, wherever they are now.
    std::vector<int32_t> selectedAfter;
    if (!remembered.empty()) {
        std::unordered_map<uint32_t, int32_t> rowOf;
        const std::vector<UIDRef>& panelItems = OrdoPanelItems();
        for (std::size_t i = 0; i < panelItems.size(); ++i) {
            rowOf.emplace(panelItems[i].GetUID().Get(), static_cast<int32_t>(i));
        }
        for (const UIDRef& item : remembered) {
            auto it = rowOf.find(item.GetUID().Get());
            if (it != rowOf.end() && panelItems[static_cast<std::size_t>(it->second)] == item) {
                selectedAfter.push_back(it->second);
            }
        }
        if (!rows->IsMultipleSelection() && selectedAfter.size() > 1) {
            selectedAfter.resize(1);
        }
        rows->SetSelection(selectedAfter, false);
    }
    if (rows->GetSelected() != selectedBefore) {
        TellSelectionChanged(list);
    }
}

void RequestOrdoListRebuild(IControlView* list, bool rebuildRows, bool addNewImages) {
    if (IsOrdoBusy()) {
        return;
    }
    if (deferred.scopes == 0) {
        RebuildOrdoList(list, rebuildRows, addNewImages);
        return;
    }
    deferred.asked = true;
    deferred.rebuildRows = deferred.rebuildRows || rebuildRows;
    deferred.addNewImages = deferred.addNewImages || addNewImages;
}

OrdoListRebuildScope::OrdoListRebuildScope() {
    ++deferred.scopes;
}

OrdoListRebuildScope::~OrdoListRebuildScope() {
    if (--deferred.scopes > 0 || !deferred.asked) {
        return;
    }
    const DeferredRebuild asked = deferred;
    deferred = DeferredRebuild();
    try {
        RebuildOrdoList(GetOrdoPanelList(), asked.rebuildRows, asked.addNewImages);
    } catch (...) {
        // The refresh task tries again.
        SetOrdoRefreshNeeded(true);
    }
}

UIDList OrdoPanelItemList() {
    if (GetOrdoPanelList() == nullptr) {
        return {};
    }
    const std::vector<UIDRef>& items = OrdoPanelItems();
    UIDList list(items.empty() ? nullptr : items.front().GetDataBase());
    for (const UIDRef& item : items) {
        if (item.GetDataBase() == list.GetDataBase()) {
            list.Append(item.GetUID());
        }
    }
    return list;
}

UIDList OrdoPanelSelectedItems() {
    InterfacePtr<IListBoxController> rows(GetOrdoPanelList(), IID_ILISTBOXCONTROLLER);
    if (!rows) {
        return {};
    }
    std::vector<UIDRef> items = ItemsOfRows(*rows, rows->GetSelected());
    UIDList list(items.empty() ? nullptr : items.front().GetDataBase());
    for (const UIDRef& item : items) {
        if (item.GetDataBase() == list.GetDataBase()) {
            list.Append(item.GetUID());
        }
    }
    return list;
}

uint64_t OrdoListRebuildCount() {
    return rebuildCount;
}

void SetOrdoImageOptionsRunner(OrdoImageOptionsRunner runner) {
    ImageOptionsRunner() = std::move(runner);
}

bool RunOrdoImageOptions(OD_ProcData& record, const PMString& statusText, const PMString& heading) {
    const OrdoImageOptionsRunner& runner = ImageOptionsRunner();
    if (runner) {
        return runner(record, statusText, heading);
    }
    return RunImageOptionsDialog(record, statusText, heading);
}

void OrdoWatchDocumentImages(IDataBase* db, bool previousIsOpen) {
    imageCache.Watch(db, previousIsOpen);
}

void RegisterOrdoPanel() {
    RegisterOrdoPanelImplementations();
}
