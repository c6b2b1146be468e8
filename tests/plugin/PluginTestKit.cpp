#include "PluginTestKit.h"

namespace plugkit {

void PluginTest::SetUp() {
    ResetHostForTesting();
    ObjectModel::Get().Reset();
    ResetOrdoPanelStateForTesting();
    HostStrings::Reset();
    QOR_EndPointFile::ResetProcessStateForTesting();
    SetOrdoBusy(false);
    SetOrdoListRebuildHook(nullptr);
    ErrorUtils::PMSetGlobalErrorCode(kSuccess);
    CAlert::ResetDontShowAgain();
    RegisterHostServices();
    RegisterDocumentModel();
    ASSERT_TRUE(LoadOrdoPlugIn());
    alertScope = std::make_unique<ScopedAlertSink>(&alerts);
    dialogScope = std::make_unique<ScopedDialogSink>(&dialogs);
}

void PluginTest::TearDown() {
    SetOrdoOptionsDialogRunner(nullptr);
    ClosePanel();
    dialogScope.reset();
    alertScope.reset();
    if (InterfacePtr<IDocumentList> list{App() ? App()->QueryDocumentList() : nullptr}) {
        for (const auto& db : databases) {
            if (db && list->Location(db.get()) >= 0) {
                list->CloseDocument(db.get());
            }
        }
    }
    ResetHostForTesting();
    ResetOrdoPanelStateForTesting();
    SetOrdoListRebuildHook(nullptr);
    databases.clear();
    HostStrings::Reset();
    QOR_EndPointFile::ResetProcessStateForTesting();
    ObjectModel::Get().Reset();
}

IDataBase* PluginTest::NewDocument(const std::string& name) {
    databases.push_back(DocumentUtils::NewDocument({.name = PMString(name)}));
    IDataBase* db = databases.back().get();
    InterfacePtr<IDocumentList> list(App()->QueryDocumentList());
    EXPECT_EQ(list->AddNewDocument(db, kInvalidUID, PMString(name)), kSuccess);
    list->SetDocumentSelection(db, NewDocumentSelection(db).get());
    return db;
}

OD_ProcData PluginTest::MakeOrder(uint16_t status, uint32_t imageClass, const std::string& name) {
    OD_ProcData order;
    order.status = status;
    order.imageClass = imageClass;
    order.processCode = imageClass == kODClassCMYK   ? kODProcessCMYKBase
                        : imageClass == kODClassGray ? kODProcessGrayBase
                                                     : kODProcessRGBBase;
    order.outputName = PMString(name);
    order.profile = PMString("profile-" + name);
    order.prefix = PMString("P");
    order.formatCode = 0x100;
    order.resolution = 72;
    order.pixelWidth = 40;
    order.pixelHeight = 20;
    return order;
}

void PluginTest::OpenPanel() {
    panel = CreateOrdoPanel();
    ASSERT_TRUE(panel) << "the orders panel cannot be made";
    InterfacePtr<IPanelMgr> panels(App()->QueryPanelManager());
    ASSERT_TRUE(panels->RegisterPanel(panel.get()));
    ASSERT_TRUE(panels->ShowPanel(panel->GetWidgetID()));
    ASSERT_NE(GetOrdoPanelList(), nullptr);
}

// Row r shows item r of the list (the panel's tests check the index cells).
void PluginTest::SelectItems(const std::vector<UIDRef>& items) const {
    InterfacePtr<IListBoxController> rows(GetOrdoPanelList(), IID_ILISTBOXCONTROLLER);
    ASSERT_TRUE(rows);
    const std::vector<UIDRef>& shown = OrdoPanelItems();
    ASSERT_EQ(static_cast<std::size_t>(rows->GetRowCount()), shown.size());
    std::vector<int32_t> wanted;
    for (const UIDRef& item : items) {
        const auto at = std::find(shown.begin(), shown.end(), item);
        ASSERT_NE(at, shown.end()) << "an item has no row";
        wanted.push_back(static_cast<int32_t>(at - shown.begin()));
    }
    std::sort(wanted.begin(), wanted.end());
    ASSERT_TRUE(rows->SetSelection(wanted));
}

} // namespace plugkit
