// The orders panel's implementations: the panel's control view and widget
// observer, the list box observer and drop target, and the rows' event
// handler with the double-click flow.

#include "CAlert.h"
#include "IActionManager.h"
#include "IApplication.h"
#include "IDataBase.h"
#include "ILayoutSelection.h"
#include "IOrdoPrefsData.h"
#include "IOrdoSuite.h"
#include "ISession.h"
#include "OD_DataAccessor.h"
#include "OD_OrderFromImage.h"
#include "OD_PageItem.h"
#include "OD_Resampling.h"
#include "OrdoCommands.h"
#include "OrdoPanel.h"
#include "OrdoPanelInternal.h"
#include "OrdoPanelState.h"
#include "Widgets.h"

#include <cmath>
#include <string>
#include <unordered_set>

namespace {

// ---- helpers

InterfacePtr<IApplication> Application() {
    return InterfacePtr<IApplication>(GetExecutionContextSession()->QueryApplication());
}

IDataBase* FrontDocument() {
    InterfacePtr<IApplication> app = Application();
    InterfacePtr<IDocumentList> documents(app ? app->QueryDocumentList() : nullptr);
    return documents ? documents->GetFrontDocument() : nullptr;
}

bool IsOpenDocument(const IDataBase* db) {
    InterfacePtr<IApplication> app = Application();
    InterfacePtr<IDocumentList> documents(app ? app->QueryDocumentList() : nullptr);
    return db != nullptr && documents && documents->Location(db) >= 0;
}

InterfacePtr<ISubject> DocumentSubject(IDataBase* db) {
    return InterfacePtr<ISubject>(
        static_cast<ISubject*>(db->Instantiate(db->GetRootUID(), IID_ISUBJECT)));
}

// The text of an error of AddOrders and of the order filling.
const char* AddErrorKey(int32_t code) {
    switch (code) {
    case -1:
        return "0x71900kOrdoErrStrUnsupportedFormat";
    case -2:
        return "0x71900kOrdoErrStrUnsupportedPixelType";
    default:
        return "0x71900kOrdoErrInternal";
    }
}

void RebuildHook(bool rebuildRows, bool addNewImages) {
    RequestOrdoListRebuild(GetOrdoPanelList(), rebuildRows, addNewImages);
}

void ShowLogText(const std::string& text) {
    PMString shown(text);
    shown.SetTranslatable(false);
    WidgetUtils::SetText(OrdoRootView(GetOrdoPanelList()), kOrdoLogTextWidgetID, shown);
}

// The placed images at or under the items, each once, in order.
UIDList ImagesUnder(const UIDList& items) {
    UIDList found(items.GetDataBase());
    for (int32_t i = 0; i < items.Length(); ++i) {
        UIDRef item = items.GetRef(i);
        if (IsUsableItemRef(item)) {
            CollectImages(item, found);
        }
    }
    UIDList images(items.GetDataBase());
    std::unordered_set<UID> seen;
    for (UID uid : found) {
        if (seen.insert(uid).second) {
            images.Append(uid);
        }
    }
    return images;
}

// ---- the panel's view: its size limits

class OrdoControlView : public CControlView {
public:
    using CControlView::CControlView;

    PMPoint ConstrainDimensions(const PMPoint& dimensions) const override {
        return {
            Limit(dimensions.X(), kOrdoPanelMinWidth, kSmallWidth, kOrdoPanelMaxWidth, kLargeWidth),
            Limit(dimensions.Y(), kOrdoPanelMinHeight, kSmallHeight, kOrdoPanelMaxHeight,
                  kLargeHeight)};
    }

private:
    // A size above the largest by more than a hair is the largest; one at or
    // a hair below the smallest is the smallest, so that sizes computed in
    // floating point do not flip at the edges. Not a number: the smallest.
    static constexpr double kSmallWidth = 206.99999999;
    static constexpr double kLargeWidth = 1200.00000001;
    static constexpr double kSmallHeight = 111.99999999;
    static constexpr double kLargeHeight = 1024.00000001;

    static double Limit(double value, double smallest, double smallLimit, double largest,
                        double largeLimit) {
        if (std::isnan(value) || value <= smallLimit) {
            return smallest;
        }
        if (value > largeLimit) {
            return largest;
        }
        return value;
    }
};

// ---- the panel's buttons and log box

class OrdoPanelWidgetObserver : public CDialogObserver {
public:
    using CDialogObserver::CDialogObserver;

    void AutoAttach() override {
        for (WidgetID id : kButtons) {
            AttachToWidget(id, IID_ITRISTATECONTROLDATA);
        }
        AttachToWidget(kOrdoListBoxWidgetID, IID_ILISTBOXCONTROLLER);
        UpdateButtons();
    }

    void AutoDetach() override {
        DetachFromWidget(kOrdoListBoxWidgetID, IID_ILISTBOXCONTROLLER);
        for (WidgetID id : kButtons) {
            DetachFromWidget(id, IID_ITRISTATECONTROLDATA);
        }
    }

    void Update(ClassID change, ISubject* subject, PMIID protocol, void*) override {
        if (protocol == IID_ILISTBOXCONTROLLER) {
            if (change == kListSelectionChangedMessage) {
                UpdateButtons();
            }
            return;
        }
        if (protocol != IID_ITRISTATECONTROLDATA) {
            return;
        }
        InterfacePtr<IControlView> view(subject, IID_ICONTROLVIEW);
        if (!view) {
            return;
        }
        const WidgetID id = view->GetWidgetID();
        const bool on = change == kTrueStateMessage;
        if (id == kOrdoShowLogWidgetID) {
            ShowLog(on);
        } else if (!on) {
            return;
        } else if (id == kOrdoTrashButtonWidgetID) {
            Trash();
        } else if (id == kOrdoGoButtonWidgetID) {
            Go();
        } else if (id == kOrdoClearLogWidgetID) {
            GetOrdoLog()->Clear();
        }
    }

private:
    static constexpr WidgetID kButtons[] = {kOrdoTrashButtonWidgetID, kOrdoGoButtonWidgetID,
                                            kOrdoShowLogWidgetID, kOrdoClearLogWidgetID};

    void UpdateButtons() {
        InterfacePtr<IListBoxController> rows(WidgetUtils::FindWidget(this, kOrdoListBoxWidgetID),
                                              IID_ILISTBOXCONTROLLER);
        const bool any = rows && !rows->GetSelected().empty();
        WidgetUtils::Enable(this, kOrdoTrashButtonWidgetID, any);
        WidgetUtils::Enable(this, kOrdoGoButtonWidgetID, any);
    }

    // The selected orders become provisional, which is no order: they leave
    // the list at the rebuild that their command asks for.
    static void Trash() {
        UIDList items = OrdoPanelSelectedItems();
        if (items.IsEmpty()) {
            return;
        }
        int32_t code = AddOrders(items, true);
        if (code != 0) {
            CAlert::WarningAlert(PMString(AddErrorKey(code)));
        }
    }

    static void Go() {
        InterfacePtr<IApplication> app = Application();
        InterfacePtr<IActionManager> actions(app ? app->QueryActionManager() : nullptr);
        if (actions) {
            actions->PerformActionIfEnabled(kOrdoGoButtonActionID);
        }
    }

    // The log area comes and goes under the list, which gives up its height
    // or takes it back.
    void ShowLog(bool show) {
        IControlView* area = WidgetUtils::FindWidget(this, kOrdoLogAreaWidgetID);
        IControlView* list = WidgetUtils::FindWidget(this, kOrdoListBoxWidgetID);
        if (area == nullptr || list == nullptr || area->IsVisible() == show) {
            return;
        }
        area->Show(show);
        PMRect frame = list->GetFrame();
        frame.Bottom(frame.Bottom() + (show ? -kOrdoLogAreaHeight : kOrdoLogAreaHeight));
        list->SetFrame(frame);
    }
};

// ---- the list: document, layout selection and double-clicks

class OrdoListBoxObserver : public CObserver {
public:
    using CObserver::CObserver;

    ~OrdoListBoxObserver() override {
        if (document != nullptr) {
            Follow(nullptr);
        }
    }

    void AutoAttach() override {
        if (attached) {
            return;
        }
        attached = true;
        InterfacePtr<IControlView> list(this, IID_ICONTROLVIEW);
        InterfacePtr<ISubject> subject(this, IID_ISUBJECT);
        if (subject) {
            subject->AttachObserver(this, IID_ILISTBOXCONTROLLER);
        }
        SetOrdoPanelList(list.get());
        SetOrdoListRebuildHook(&RebuildHook);
        SetOrdoLogWidget(&ShowLogText);
        FollowFrontDocument();
        RebuildOrdoList(list.get(), true, true);
        if (HasOrdoLog()) {
            GetOrdoLog()->Show();
        }
    }

    void AutoDetach() override {
        if (!attached) {
            return;
        }
        InterfacePtr<IControlView> list(this, IID_ICONTROLVIEW);
        RebuildOrdoList(list.get(), false, false);
        InterfacePtr<ISubject> subject(this, IID_ISUBJECT);
        if (subject) {
            subject->DetachObserver(this, IID_ILISTBOXCONTROLLER);
        }
        Follow(nullptr);
        if (GetOrdoPanelList() == list.get()) {
            SetOrdoListRebuildHook(nullptr);
            SetOrdoLogWidget(nullptr);
            SetOrdoPanelList(nullptr);
            OrdoPanelItems().clear();
        }
        attached = false;
    }

    void Update(ClassID change, ISubject*, PMIID protocol, void* changedBy) override {
        if (protocol == IID_ILISTBOXCONTROLLER && change == kListDoubleClickMessage &&
            changedBy != nullptr) {
            DoubleClick(*static_cast<const int32_t*>(changedBy));
        } else if (protocol == IID_ILAYOUTSELECTION && change == kSelectionChangedMessage) {
            FollowLayoutSelection(static_cast<ILayoutSelection*>(changedBy));
        } else if (protocol == kOrdoDocumentProtocol && change == kOrdoDocumentChangedMessage) {
            InterfacePtr<IControlView> list(this, IID_ICONTROLVIEW);
            RequestOrdoListRebuild(list.get(), true, true);
        }
    }

    // Watches the front document (a closed one is let go, never touched).
    void FollowFrontDocument() {
        if (attached) {
            Follow(FrontDocument());
        }
    }

private:
    void Watch(IDataBase* db, bool on) {
        InterfacePtr<ISubject> subject = DocumentSubject(db);
        if (!subject) {
            return;
        }
        for (PMIID protocol : {IID_ILAYOUTSELECTION, kOrdoDocumentProtocol}) {
            if (on && !subject->IsAttached(this, protocol)) {
                subject->AttachObserver(this, protocol);
            } else if (!on) {
                subject->DetachObserver(this, protocol);
            }
        }
    }

    void Follow(IDataBase* db) {
        const bool previousIsOpen = document != nullptr && IsOpenDocument(document);
        // The same database still watched, or one made where a closed one was.
        if (db != nullptr && db == document && previousIsOpen && IsWatching(db)) {
            return;
        }
        if (previousIsOpen) {
            Watch(document, false);
        }
        OrdoWatchDocumentImages(db, previousIsOpen);
        document = db;
        if (document != nullptr) {
            Watch(document, true);
        }
    }

    bool IsWatching(IDataBase* db) {
        InterfacePtr<ISubject> subject = DocumentSubject(db);
        return subject && subject->IsAttached(this, IID_ILAYOUTSELECTION);
    }

    void DoubleClick(int32_t row) {
        InterfacePtr<IListBoxController> rows(this, IID_ILISTBOXCONTROLLER);
        if (!rows || row < 0 || row >= rows->GetRowCount()) {
            return;
        }
        InterfacePtr<IControlView> element = CreateOrdoListElement(rows->GetRow(row));
        InterfacePtr<IEventHandler> handler(element, IID_IEVENTHANDLER);
        if (handler) {
            InterfacePtr<IControlView> list(this, IID_ICONTROLVIEW);
            element->SetParentView(list.get());
            handler->LButtonDblClk();
            element->SetParentView(nullptr);
        }
    }

    // Selects the rows that show the images selected in the layout.
    void FollowLayoutSelection(ILayoutSelection* layout) {
        if (document == nullptr) {
            return;
        }
        UIDList selected(document);
        InterfacePtr<IApplication> app = Application();
        IActiveContext* context = app ? app->GetActiveContext() : nullptr;
        InterfacePtr<IOrdoSuite> suite(context != nullptr &&
                                               context->GetContextDocument() == document
                                           ? context->GetContextSelection()
                                           : nullptr,
                                       IID_IORDOSUITE);
        if (suite) {
            suite->GetSelectedItems(selected);
        } else if (layout != nullptr) {
            selected = layout->GetSelectedItems();
        }
        const UIDList images = ImagesUnder(selected);
        std::unordered_set<UID> wanted(images.begin(), images.end());
        std::vector<int32_t> chosen;
        const std::vector<UIDRef>& items = OrdoPanelItems();
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (items[i].GetDataBase() == images.GetDataBase() &&
                wanted.contains(items[i].GetUID())) {
                chosen.push_back(static_cast<int32_t>(i));
            }
        }
        InterfacePtr<IListBoxController> rows(this, IID_ILISTBOXCONTROLLER);
        if (rows) {
            if (!rows->IsMultipleSelection() && chosen.size() > 1) {
                chosen.resize(1);
            }
            rows->SetSelection(chosen);
        }
    }

    bool attached = false;
    // The document whose subject this observer is attached to (its
    // database), or null.
    IDataBase* document = nullptr;
};

// ---- drops

class OrdoListBoxTgtDropTarget : public CDragDropTarget {
public:
    using CDragDropTarget::CDragDropTarget;

    bool CouldAcceptTypes(const DragDropData& data) const override {
        return !data.pageItems.IsEmpty() && data.pageItems.GetDataBase() != nullptr;
    }

    // The dropped images that are not orders yet become Ready orders with
    // the default options, in one command.
    ErrorCode ProcessDragDropCommand(const DragDropData& data) override {
        if (!CouldAcceptTypes(data)) {
            return kFailure;
        }
        const UIDList images = ImagesUnder(data.pageItems);
        UIDList fresh(images.GetDataBase());
        std::vector<std::string> onPasteboard;
        for (int32_t i = 0; i < images.Length(); ++i) {
            if (IsOrdered(images.GetRef(i))) {
                continue;
            }
            // The list shows the images on pages only.
            if (!LiesOnAPage(images.GetRef(i))) {
                onPasteboard.push_back(
                    ImageProblemLine(images.GetRef(i), OD_ProcData(), "0x71900kOrdoErrOnPasteboard")
                        .GetUTF8String());
            } else {
                fresh.Append(images[i]);
            }
        }
        TellInLogAndAlert(PMString("0x71900kOrdoErrAddSkipped").Translated().GetUTF8String(),
                          onPasteboard);
        if (fresh.IsEmpty()) {
            return kFailure;
        }
        int32_t code = AddOrders(fresh, false);
        if (code != 0) {
            CAlert::WarningAlert(PMString(AddErrorKey(code)));
            return kFailure;
        }
        return kSuccess;
    }
};

// ---- the rows

class OrdoListBoxEH : public CPMUnknown<IEventHandler> {
public:
    explicit OrdoListBoxEH(IPMUnknown* object) : CPMUnknown<IEventHandler>(object) {}

    bool LButtonDblClk() override {
        bool ok = false;
        int index = WidgetUtils::GetText(this, kOrdoRowIndexCellID).GetAsNumber(&ok);
        if (!ok || index < 0) {
            return false;
        }
        OpenOrdoItem(index);
        return true;
    }
};

// The options the user chose for an order, kept when the order is filled
// again from its image.
void KeepOptions(const OD_ProcData& from, OD_ProcData& to) {
    to.processCode = from.processCode;
    to.profile = from.profile;
    to.prefix = from.prefix;
    to.outputName = from.outputName;
    to.prefsFileName = from.prefsFileName;
    to.auxText = from.auxText;
    to.auxFlag = from.auxFlag;
}

// The dialog's heading: the order's image class.
PMString DialogHeading(const OD_ProcData& order) {
    PMString heading = PMString(ImageClassTextKey(order.imageClass)).Translated();
    heading.SetTranslatable(false);
    return heading;
}

// Tells why the image could not be taken, in an alert and a line of the log.
void ReportImageProblem(const PMString& line) {
    TellInLogAndAlert(PMString("0x71900kOrdoErrAddSkipped").Translated().GetUTF8String(),
                      {line.GetUTF8String()});
}

// An image whose file could not be taken is read again as a new image: a
// provisional order offered in the dialog when it reads now, the row with its
// reason kept otherwise.
void RetryOrdoItem(const UIDRef& item) {
    OD_ProcData fresh;
    if (AddOrder(item, true) != 0 || OD_DataAccessor(item).Read(fresh) != 0) {
        ReportImageProblem(ImageProblemLine(item, fresh, "0x71900kOrdoErrInternal"));
        return;
    }
    if (const char* problem = OrderProblemKey(fresh)) {
        ReportImageProblem(ImageProblemLine(item, fresh, problem));
        return;
    }
    if (RunOrdoImageOptions(fresh, OrdoImageStatusText(item, fresh), DialogHeading(fresh))) {
        OD_DataAccessor(item).Write(fresh);
    }
}

} // namespace

PMString OrdoImageStatusText(const UIDRef& item, const OD_ProcData& order) {
    bool missing = false;
    LinkedFileName(item, &missing);
    PMString text;
    if (missing) {
        text = ImageProblemLine(item, order, kODFileMissingKey);
    } else {
        InterfacePtr<IOrdoPrefsData> prefsData(GetExecutionContextSession(), IID_IORDOPREFSDATA);
        int factor = 0;
        int result =
            prefsData ? CheckResampling(item, &order, prefsData->Get(), factor) : kODResamplingOK;
        text = ResamplingText(result, factor);
    }
    char cut[256];
    text.GetAsCString(cut, sizeof cut);
    PMString shown(cut);
    shown.SetTranslatable(false);
    return shown;
}

void OpenOrdoItem(int32_t itemIndex) {
    const std::vector<UIDRef>& items = OrdoPanelItems();
    if (itemIndex < 0 || static_cast<std::size_t>(itemIndex) >= items.size()) {
        return;
    }
    const UIDRef item = items[static_cast<std::size_t>(itemIndex)];
    // The retry's two commands rebuild the list once.
    OrdoListRebuildScope rebuildOnce;
    OD_ProcData order;
    if (OD_DataAccessor(item).Read(order) != 0) {
        return;
    }
    if (ODStatusIsUnorderable(order.status)) {
        RetryOrdoItem(item);
        return;
    }
    switch (order.status) {
    case kODStatusSent:
        return;
    case kODStatusDone:
    case kODStatusReplyMinus2:
    case kODStatusReplyMinus1:
        if (CAlert::ModalAlert(PMString("0x71900kOrdoImgOptAlreadyProcStr"),
                               PMString(CAlert::kOKString), PMString(CAlert::kCancelString),
                               PMString(), CAlert::kOKButton, AlertIcon::kWarningIcon,
                               PMString("0x71900kOrdoImgOptAlreadyProcTitleStr"),
                               kOrdoAlreadyProcessedAlertID) != CAlert::kOKButton) {
            return;
        }
        break;
    default:
        break;
    }

    OD_ProcData edited = order;
    FillOrderFromImage(item, edited, false);
    KeepOptions(order, edited);
    const PMString status = OrdoImageStatusText(item, edited);
    if (RunOrdoImageOptions(edited, status, DialogHeading(edited))) {
        OD_DataAccessor(item).Write(edited);
    }
}

void OrdoListFollowFrontDocument(IControlView* list) {
    InterfacePtr<IObserver> observer(list, IID_IOBSERVER);
    if (auto* own = dynamic_cast<OrdoListBoxObserver*>(observer.get())) {
        own->FollowFrontDocument();
    }
}

void RegisterOrdoPanelImplementations() {
    ObjectModel& model = ObjectModel::Get();
    const ImplementationFactory factories[] = {
        {kOrdoControlViewImpl, "OrdoControlView", CreateImplementation<OrdoControlView>, false},
        {kOrdoListBoxObserverImpl, "OrdoListBoxObserver", CreateImplementation<OrdoListBoxObserver>,
         false},
        {kOrdoListBoxEHImpl, "OrdoListBoxEH", CreateImplementation<OrdoListBoxEH>, false},
        {kOrdoListBoxTgtDropTargetImpl, "OrdoListBoxTgtDropTarget",
         CreateImplementation<OrdoListBoxTgtDropTarget>, false},
        {kOrdoPanelWidgetObserverImpl, "OrdoPanelWidgetObserver",
         CreateImplementation<OrdoPanelWidgetObserver>, false},
    };
    for (const ImplementationFactory& factory : factories) {
        if (!model.IsRegistered(factory.id)) {
            model.RegisterImplementation(factory);
        }
    }
    const ClassDefinition classes[] = {
        {kOrdoPanelWidgetBoss,
         kPalettePanelWidgetBoss,
         {{IID_ICONTROLVIEW, kOrdoControlViewImpl}, {IID_IOBSERVER, kOrdoPanelWidgetObserverImpl}}},
        {kOrdoListBoxWidgetBoss,
         kWidgetListBoxWidgetBoss,
         {{IID_IOBSERVER, kOrdoListBoxObserverImpl},
          {IID_IDRAGDROPTARGET, kOrdoListBoxTgtDropTargetImpl}}},
        {kOrdoListCellWidgetBoss, kListCellWidgetBoss, {}},
        {kOrdoListElementBoss, kListElementWidgetBoss, {{IID_IEVENTHANDLER, kOrdoListBoxEHImpl}}},
    };
    for (const ClassDefinition& definition : classes) {
        if (!model.HasClass(definition.id)) {
            model.DefineClass(definition);
        }
    }
}
