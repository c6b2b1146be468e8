#pragma once

// What the plug-in's frame and action tests share: a host with the plug-in
// loaded, documents with placed images made on the spot, the orders panel,
// alerts and dialogs answered by script, a server tree made as the reference
// server makes it.

#include "../document/OrdoDocumentKit.h"
#include "CAlert.h"
#include "IShortcutManager.h"
#include "OrdoActions.h"
#include "OrdoPanel.h"
#include "OrdoPanelState.h"
#include "OrdoPlugIn.h"
#include "OrdoServices.h"
#include "Widgets.h"

namespace plugkit {

using ordokit::LinkOf;
using ordokit::ListOf;
using ordokit::Order;

// A server tree made by the reference server's init.
struct Server {
    Server() {
        std::string why;
        if (!InitServerTree(dir.Path(), why)) {
            throw std::runtime_error(why);
        }
        path = dir / kServerAppName;
    }
    // One pass of the reference server: the job files handled.
    int RunOnce() {
        std::ostringstream log;
        return RefServer(dir.Path(), log).RunOnce();
    }
    // The job files waiting in the hot folder.
    std::size_t JobFiles() const {
        return static_cast<std::size_t>(
            std::distance(fs::directory_iterator(dir / "Data/tmp"), {}));
    }
    TempDir dir;
    std::string path;
};

class PluginTest : public ::testing::Test {
public:
    void SetUp() override;
    void TearDown() override;

    static ISession* Session() { return GetExecutionContextSession(); }
    static InterfacePtr<IApplication> App() {
        return InterfacePtr<IApplication>(Session() ? Session()->QueryApplication() : nullptr);
    }
    static InterfacePtr<IDocumentList> Documents() {
        return InterfacePtr<IDocumentList>(App() ? App()->QueryDocumentList() : nullptr);
    }

    // A new document, taken in by the document list as made (opened when
    // opened is set), with its layout selection; the front document.
    IDataBase* NewDocument(const std::string& name, bool opened = false);

    // A gray TIFF of w x h pixels at 72 ppi placed in a new frame on the
    // document's first page.
    UIDRef PlaceImage(IDataBase* db, const PMRect& frame, uint32_t w = 40, uint32_t h = 20) {
        const std::string path = dir / ("image" + std::to_string(++images) + ".tif");
        dockit::WriteTiff(path, w, h, 72);
        return dockit::PlaceFile(dockit::AddFrame(db, frame), path);
    }
    // The frame that holds a placed image.
    static UIDRef FrameOf(const UIDRef& image) {
        return UIDRef(image.GetDataBase(), InterfaceOf<IHierarchy>(image)->GetParentUID());
    }

    static OD_ProcData MakeOrder(uint16_t status, uint32_t imageClass = kODClassGray,
                                 const std::string& name = "photo");
    static void SetOrder(const UIDRef& item, const OD_ProcData& order) {
        ASSERT_EQ(OD_DataAccessor(item).Write(order), kSuccess);
    }
    static void SetStatus(const UIDRef& item, uint16_t status) {
        OD_ProcData order = Order(item);
        order.status = status;
        SetOrder(item, order);
    }

    // The session's preferences, changed by edit.
    static void EditPrefs(const std::function<void(OD_PrefsData&)>& edit) {
        InterfacePtr<IOrdoPrefsData> data(Session(), IID_IORDOPREFSDATA);
        OD_PrefsData prefs = data->Get();
        edit(prefs);
        data->Set(prefs);
    }
    static void UseServer(const std::string& serverPath) {
        EditPrefs([&](OD_PrefsData& p) { ASSERT_TRUE(p.SetServerPath(serverPath.c_str())); });
    }

    // Selects page items in the document's layout.
    static void SelectInLayout(IDataBase* db, const std::vector<UIDRef>& items) {
        InterfacePtr<ILayoutSelection> layout(DocumentUtils::QueryDocument(db),
                                              IID_ILAYOUTSELECTION);
        layout->Select(ListOf(db, items), ILayoutSelection::kReplace);
    }

    void OpenPanel(); // shown: its list observer attaches and rebuilds
    void ClosePanel() {
        InterfacePtr<IPanelMgr> panels(App() ? App()->QueryPanelManager() : nullptr);
        if (panels && panel) {
            panels->UnregisterPanel(panel->GetWidgetID());
        }
        panel.reset();
    }
    // The rows of the list, and the selection of the rows that show the items.
    int32_t RowCount() const {
        InterfacePtr<IListBoxController> rows(GetOrdoPanelList(), IID_ILISTBOXCONTROLLER);
        return rows ? rows->GetRowCount() : 0;
    }
    void SelectItems(const std::vector<UIDRef>& items) const;

    // An action run, or its state asked, through the host's action manager.
    static void Perform(ActionID action) {
        ASSERT_EQ(InterfacePtr<IActionManager>(App()->QueryActionManager())->PerformAction(action),
                  kSuccess);
    }
    static bool Enabled(ActionID action) {
        InterfacePtr<IActionManager> actions(App()->QueryActionManager());
        actions->UpdateActionStates(nullptr, {action});
        return actions->IsEnabled(action);
    }

    ordokit::ScopedSystemFolder systemFolder;
    TempDir dir;
    RecordingAlertSink alerts;
    ScriptedDialogSink dialogs;
    std::vector<std::unique_ptr<IDataBase>> databases;
    InterfacePtr<IControlView> panel;
    int images = 0;

private:
    std::unique_ptr<ScopedAlertSink> alertScope;
    std::unique_ptr<ScopedDialogSink> dialogScope;
};

} // namespace plugkit
