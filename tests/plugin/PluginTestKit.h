#pragma once

// What the plug-in's frame and action tests share: a host with the plug-in
// loaded, documents with placed images made on the spot, the orders panel,
// alerts and dialogs answered by script, a server tree made as the reference
// server makes it.

#include "../document/OrdoDocumentKit.h"
#include "CAlert.h"
#include "IActionManager.h"
#include "IApplication.h"
#include "IDataBase.h"
#include "IHierarchy.h"
#include "IOrdoPrefsData.h"
#include "ISession.h"
#include "OD_DataAccessor.h"
#include "OD_Preferences.h"
#include "OD_ProcData.h"
#include "PMRect.h"
#include "TempDir.h"
#include "UIDRef.h"
#include "Widgets.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace plugkit {

// A server tree made by the reference server's init.
struct Server {
    Server();
    int RunOnce();                // one pass of the reference server: the job files handled
    std::size_t JobFiles() const; // the job files waiting in the hot folder
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
    void CloseDocument(IDataBase* db) { ASSERT_EQ(Documents()->CloseDocument(db), kSuccess); }

    // A gray TIFF of w x h pixels at 72 ppi placed in a new frame on the
    // document's first page.
    UIDRef PlaceImage(IDataBase* db, const PMRect& frame, uint32_t w = 40, uint32_t h = 20);
    // The frame that holds a placed image.
    static UIDRef FrameOf(const UIDRef& image) {
        return UIDRef(image.GetDataBase(), InterfaceOf<IHierarchy>(image)->GetParentUID());
    }

    static OD_ProcData MakeOrder(uint16_t status, uint32_t imageClass = kODClassGray,
                                 const std::string& name = "photo");
    static void SetOrder(const UIDRef& item, const OD_ProcData& order) {
        ASSERT_EQ(OD_DataAccessor(item).Write(order), kSuccess);
    }
    static OD_ProcData Order(const UIDRef& item) {
        OD_ProcData order;
        EXPECT_EQ(OD_DataAccessor(item).Read(order), 0);
        return order;
    }

    static OD_PrefsData Prefs() {
        return InterfacePtr<IOrdoPrefsData>(Session(), IID_IORDOPREFSDATA)->Get();
    }
    static void SetPrefs(const OD_PrefsData& p) {
        InterfacePtr<IOrdoPrefsData>(Session(), IID_IORDOPREFSDATA)->Set(p);
    }
    static void UseServer(const std::string& serverPath) {
        OD_PrefsData prefs = Prefs();
        ASSERT_TRUE(prefs.SetServerPath(serverPath.c_str()));
        SetPrefs(prefs);
    }

    // Selects page items in the document's layout.
    static void SelectInLayout(IDataBase* db, const std::vector<UIDRef>& items);

    void OpenPanel(); // shown: its list observer attaches and rebuilds
    void ClosePanel();
    // The rows of the list, and the selection of the rows that show the items.
    int32_t RowCount() const;
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
