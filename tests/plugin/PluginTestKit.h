#pragma once

// What the plug-in's frame and action tests share: a host with the plug-in loaded, documents with
// placed images made on the spot, the orders panel, alerts and dialogs answered by script, a
// server tree made as the reference server makes it.

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
using ordokit::Store;

// A server tree made by the reference server's init.
struct Server {
    Server() {
        std::string why;
        if (!InitServerTree(dir.Path(), why)) {
            throw std::runtime_error(why);
        }
    }
    // One pass of the reference server: the job files handled.
    int RunOnce() {
        std::ostringstream log;
        return RefServer(dir.Path(), log).RunOnce();
    }
    // The job files waiting in the hot folder.
    std::ptrdiff_t JobFiles() const {
        return std::distance(fs::directory_iterator(dir / "Data/tmp"), {});
    }
    TempDir dir;
    std::string path = dir / kServerAppName;
};

class PluginTest : public ::testing::Test {
public:
    void SetUp() override;
    void TearDown() override;

    static ISession* Session() { return GetExecutionContextSession(); }
    static InterfacePtr<IApplication> App() {
        return InterfacePtr<IApplication>(Session() ? Session()->QueryApplication() : nullptr);
    }

    // A new document taken in by the document list, with its layout selection: the front one.
    IDataBase* NewDocument(const std::string& name);

    // A gray TIFF of 40 x 20 pixels at 72 ppi placed in a new frame on the document's first page.
    UIDRef PlaceImage(IDataBase* db, const PMRect& frame) {
        const std::string path = dir / ("image" + std::to_string(++images) + ".tif");
        dockit::WriteTiff(path, 40, 20, 72);
        return dockit::PlaceFile(dockit::AddFrame(db, frame), path);
    }
    // The frame that holds a placed image.
    static UIDRef FrameOf(const UIDRef& image) {
        return UIDRef(image.GetDataBase(), InterfaceOf<IHierarchy>(image)->GetParentUID());
    }

    static OD_ProcData MakeOrder(uint16_t status, uint32_t imageClass = kODClassGray,
                                 const std::string& name = "photo");
    static void SetStatus(const UIDRef& item, uint16_t status) {
        OD_ProcData order = Order(item);
        order.status = status;
        Store(item, order);
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
        InterfacePtr<ILayoutSelection>(DocumentUtils::QueryDocument(db), IID_ILAYOUTSELECTION)
            ->Select(ListOf(db, items), ILayoutSelection::kReplace);
    }

    void OpenPanel(); // shown: its list observer attaches and rebuilds
    void ClosePanel() {
        InterfacePtr<IPanelMgr> panels(App() ? App()->QueryPanelManager() : nullptr);
        if (panels && panel) {
            panels->UnregisterPanel(panel->GetWidgetID());
        }
        panel.reset();
    }
    // The selection of the rows that show the items.
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
