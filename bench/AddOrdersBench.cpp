// "Add Selected Item(s)..." over a document of n placed images, all selected
// in the layout, each offered in the image options dialog and confirmed: the
// plug-in loaded in the host, the session on a server made by the reference
// server's init, the action performed through the host's action manager.
//
// Each row runs the add twice in the same run, on documents made alike: with
// the orders panel closed, then open. It reports both times in seconds
// ("closed_s", "open_s": the thread's processor time, the machine may be busy
// with other work), "ratio_open_to_closed", the same ratio of wall-clock times
// ("wall_ratio"), and the list rebuilds and dialogs of the add with the panel
// open.
#include "DocumentModel.h"
#include "DocumentUtils.h"
#include "HostPlatform.h"
#include "HostStrings.h"
#include "IActionManager.h"
#include "IApplication.h"
#include "ICommand.h"
#include "ILayoutSelection.h"
#include "IOrdoData.h"
#include "IOrdoPrefsData.h"
#include "IOrdoSuite.h"
#include "ISession.h"
#include "ImportUtils.h"
#include "OD_Pickup.h"
#include "OD_Preferences.h"
#include "OD_ServerLink.h"
#include "ObjectModel.h"
#include "OrdoActions.h"
#include "OrdoCommands.h"
#include "OrdoPanel.h"
#include "OrdoPanelState.h"
#include "OrdoPlugIn.h"
#include "QOR_EndPointFile.h"
#include "ServerTree.h"
#include "TempDir.h"
#include "Widgets.h"

#include "../tests/host/DocumentTestKit.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int kImagesPerPage = 10;

InterfacePtr<IApplication> App() {
    return InterfacePtr<IApplication>(GetExecutionContextSession()->QueryApplication());
}

// The user confirms every dialog as it opens.
class ConfirmingSink : public IDialogSink {
public:
    DialogAnswer RunDialog(IControlView*, WidgetID) override {
        ++runs;
        return DialogAnswer::kOK;
    }
    int runs = 0;
};

// The host with the plug-in loaded, its system folder and a server of its
// own, the session's link open on it as at start-up.
struct Host {
    Host() {
        ResetHostForTesting();
        ObjectModel::Get().Reset();
        ResetOrdoPanelStateForTesting();
        HostStrings::Reset();
        QOR_EndPointFile::ResetProcessStateForTesting();
        SetOrdoBusy(false);
        SetOrdoListRebuildHook(nullptr);
        ErrorUtils::PMSetGlobalErrorCode(kSuccess);
        HostPlatform::SetSystemFolder(system.Path());
        OD_PrefsData::ResetIdentityFolderForTesting();
        RegisterHostServices();
        RegisterDocumentModel();
        std::string why;
        ok = LoadOrdoPlugIn() && InitServerTree(server.Path(), why);
        if (!ok) {
            return;
        }
        // A server in use, whose configuration was written well before: a file
        // of this very second is read again at every look.
        const auto past = fs::file_time_type::clock::now() - std::chrono::hours(1);
        std::error_code error;
        for (const auto& entry : fs::recursive_directory_iterator(server / "Data", error)) {
            fs::last_write_time(entry.path(), past, error);
        }
        ISession* session = GetExecutionContextSession();
        InterfacePtr<IOrdoPrefsData> prefs(session, IID_IORDOPREFSDATA);
        OD_PrefsData edited = prefs->Get();
        ok = edited.SetServerPath((server / kServerAppName).c_str());
        prefs->Set(edited);
        ok = ok && OpenServerLink(session, true, false);
        dialogScope = std::make_unique<ScopedDialogSink>(&dialogs);
    }
    ~Host() {
        dialogScope.reset();
        ResetHostForTesting();
        ResetOrdoPanelStateForTesting();
        SetOrdoListRebuildHook(nullptr);
        HostPlatform::SetSystemFolder("");
        OD_PrefsData::ResetIdentityFolderForTesting();
        QOR_EndPointFile::ResetProcessStateForTesting();
        ObjectModel::Get().Reset();
    }
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    TempDir system;
    TempDir server;
    ConfirmingSink dialogs;
    std::unique_ptr<ScopedDialogSink> dialogScope;
    bool ok = false;
};

// A front document of n placed images with no orders, every frame selected
// in its layout.
struct Document {
    std::unique_ptr<IDataBase> db;

    Document(const std::string& image, int n) {
        DocumentUtils::NewDocumentOptions options;
        options.pageCount = (n + kImagesPerPage - 1) / kImagesPerPage;
        db = DocumentUtils::NewDocument(options);
        UIDList frames(db.get());
        for (int i = 0; i < n; ++i) {
            const UIDRef page = DocumentUtils::GetNthPage(db.get(), i / kImagesPerPage);
            const double y = (i % kImagesPerPage) * 60.0;
            UIDRef frame = DocumentUtils::AddGraphicFrame(page, PMRect(36, y, 236, y + 50));
            ImportUtils::PlaceFile(frame, PMString(image));
            frames.Append(frame.GetUID());
        }
        InterfacePtr<IDocumentList> docs(App()->QueryDocumentList());
        docs->AddNewDocument(db.get(), kInvalidUID, "Bench");
        docs->SetDocumentSelection(db.get(), NewDocumentSelection(db.get()).get());
        InterfacePtr<ILayoutSelection>(DocumentUtils::QueryDocument(db.get()), IID_ILAYOUTSELECTION)
            ->Select(frames, ILayoutSelection::kReplace);
    }
    ~Document() {
        InterfacePtr<IDocumentList> docs(App()->QueryDocumentList());
        docs->CloseDocument(db.get());
    }
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    // The Ready orders of the document.
    int ReadyOrders() const {
        int ready = 0;
        for (UID uid : db->AllUIDs()) {
            InterfacePtr<IOrdoData> data(
                static_cast<IOrdoData*>(db->Instantiate(uid, IID_IORDODATA)));
            ready += data && data->Get().status == kODStatusReady ? 1 : 0;
        }
        return ready;
    }
};

double ThreadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct Took {
    double cpu = 0;
    double wall = 0;
};

// One add over a new document of n images; false when an image was left
// without its Ready order (or, with the panel open, without its row).
bool AddAll(const std::string& image, int n, bool panelOpen, Took& took, uint64_t& rebuilds) {
    Document doc(image, n);
    InterfacePtr<IControlView> panel;
    InterfacePtr<IPanelMgr> panels(App()->QueryPanelManager());
    if (panelOpen) {
        panel = CreateOrdoPanel();
        panels->RegisterPanel(panel.get());
        panels->ShowPanel(kOrdoPanelWidgetID);
    }
    InterfacePtr<IActionManager> actions(App()->QueryActionManager());
    const double cpu = ThreadSeconds();
    const auto wall = std::chrono::steady_clock::now();
    const uint64_t before = OrdoListRebuildCount();
    actions->PerformAction(kOrdoAddSelectionActionID);
    rebuilds = OrdoListRebuildCount() - before;
    took.cpu = ThreadSeconds() - cpu;
    took.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count();
    bool ok = doc.ReadyOrders() == n;
    if (panelOpen) {
        InterfacePtr<IListBoxController> rows(GetOrdoPanelList(), IID_ILISTBOXCONTROLLER);
        ok = ok && rows && rows->GetRowCount() == n;
        panels->UnregisterPanel(kOrdoPanelWidgetID);
    }
    return ok;
}

void BM_AddOrders(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    Host host;
    if (!host.ok) {
        state.SkipWithError("the host, the plug-in or the server cannot be set up");
        return;
    }
    TempDir dir;
    const std::string image = dir / "photo.tif";
    dockit::WriteTiff(image, 400, 200, 200);
    Took closed;
    Took open;
    uint64_t rebuilds = 0;
    for (auto _ : state) {
        if (!AddAll(image, n, false, closed, rebuilds)) {
            state.SkipWithError("the add with the panel closed left images without orders");
            return;
        }
        host.dialogs.runs = 0;
        if (!AddAll(image, n, true, open, rebuilds)) {
            state.SkipWithError("the add with the panel open left images without orders or rows");
            return;
        }
        state.SetIterationTime(open.cpu);
    }
    state.counters["closed_s"] = closed.cpu;
    state.counters["open_s"] = open.cpu;
    state.counters["ratio_open_to_closed"] = open.cpu / closed.cpu;
    state.counters["wall_ratio"] = open.wall / closed.wall;
    state.counters["rebuilds"] = static_cast<double>(rebuilds);
    state.counters["dialogs"] = host.dialogs.runs;
}

} // namespace

BENCHMARK(BM_AddOrders)
    ->Arg(1000)
    ->Arg(4000)
    ->Arg(8000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);
