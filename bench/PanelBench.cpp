// The orders panel's rebuild over a document of n placed images with orders
// (six in ten Ready, with the resampling check on, two Sent, two Done; ten
// images a page), against reading the order records alone (IOrdoData Get
// over the same items), measured in the same run at the same size.
//
// Sizes 100, 1000 and 10000 show how the rebuild grows; each row reports
// "ratio_to_records" (rebuild / records alone), "us_per_item" and the two
// times in milliseconds, all in the thread's processor time and without the
// clock's own cost ("clock_us", measured in the same run).
#include "../tests/orders/OrdoSessionKit.h"
#include "DocumentModel.h"
#include "DocumentUtils.h"
#include "IApplication.h"
#include "ICommand.h"
#include "IDataBase.h"
#include "IOrdoData.h"
#include "IOrdoPrefsData.h"
#include "IOrdoQORData.h"
#include "IOrdoSuite.h"
#include "ISession.h"
#include "ImportUtils.h"
#include "OD_Pickup.h"
#include "ObjectModel.h"
#include "OrdoCommands.h"
#include "OrdoPanel.h"
#include "OrdoPanelState.h"
#include "TempDir.h"
#include "Widgets.h"

#include "../tests/host/DocumentTestKit.h"

#include <benchmark/benchmark.h>

#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kImagesPerPage = 10;

InterfacePtr<IApplication> App() {
    return InterfacePtr<IApplication>(GetExecutionContextSession()->QueryApplication());
}

void SetUpHost() {
    RegisterOrdoSession();
    RegisterDocumentModel();
    RegisterOrdoData();
    AddOrdoDataToImageItems();
    RegisterOrdoSuite();
    RegisterOrdoPanel();
    ResetOrdoPanelStateForTesting();
    SetOrdoBusy(false);
    SetOrdoListRebuildHook(nullptr);
    ErrorUtils::PMSetGlobalErrorCode(kSuccess);
}

// A document of n placed images with orders, open in the session.
struct Document {
    std::unique_ptr<IDataBase> db;
    std::vector<UIDRef> items;

    Document(const std::string& image, int n) {
        DocumentUtils::NewDocumentOptions options;
        options.pageCount = (n + kImagesPerPage - 1) / kImagesPerPage;
        db = DocumentUtils::NewDocument(options);
        for (int i = 0; i < n; ++i) {
            const UIDRef page = DocumentUtils::GetNthPage(db.get(), i / kImagesPerPage);
            const double y = (i % kImagesPerPage) * 60.0;
            UIDRef frame = DocumentUtils::AddGraphicFrame(page, PMRect(36, y, 236, y + 50));
            items.push_back(ImportUtils::PlaceFile(frame, PMString(image)));
        }
        // Every order in one command.
        InterfacePtr<ICommand> command(CmdUtils::CreateCommand(kOrdoSetDataCmdBoss));
        InterfacePtr<IOrdoDataArray> records(command, IID_IORDODATAARRAY);
        UIDList list(db.get());
        records->SetCount(n);
        for (int i = 0; i < n; ++i) {
            OD_ProcData order;
            const int kind = i % 10;
            order.status = kind < 6 ? kODStatusReady : kind < 8 ? kODStatusSent : kODStatusDone;
            order.processCode = static_cast<int16_t>(10 + i % 8);
            order.outputName = PMString("photo" + std::to_string(i));
            order.prefix = PMString("PRE");
            order.profile = PMString("Magazine");
            order.imageClass = kODClassRGB;
            order.resolution = 200.0;
            records->SetAt(order, i);
            list.Append(items[static_cast<std::size_t>(i)]);
        }
        command->SetItemList(list);
        CmdUtils::ProcessCommand(command.get());
        InterfacePtr<IDocumentList> docs(App()->QueryDocumentList());
        docs->AddNewDocument(db.get(), kInvalidUID, "Bench");
    }
    ~Document() {
        InterfacePtr<IDocumentList> docs(App()->QueryDocumentList());
        docs->CloseDocument(db.get());
    }
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;
};

// The thread's processor time: the machine may be busy with other work, and
// both passes run on this thread only.
double Now() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void BM_PanelRebuild(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    SetUpHost();
    TempDir dir;
    const std::string image = dir / "photo.tif";
    dockit::WriteTiff(image, 400, 200, 200);
    auto doc = std::make_unique<Document>(image, n);
    InterfacePtr<IControlView> panel = CreateOrdoPanel();
    InterfacePtr<IPanelMgr> panels(App()->QueryPanelManager());
    panels->RegisterPanel(panel.get());
    panels->ShowPanel(kOrdoPanelWidgetID);
    IControlView* list = GetOrdoPanelList();
    InterfacePtr<IListBoxController> rows(list, IID_ILISTBOXCONTROLLER);
    if (!rows || rows->GetRowCount() != n) {
        state.SkipWithError("the panel does not show every order");
        return;
    }

    // Reading the clock costs about a microsecond of the thread's time here
    // (a system call), and part of that cost falls inside every interval it
    // measures: about 15 percent of reading 100 records. The same run's empty
    // interval is taken off both times, so that the ratio compares the work
    // alone.
    double recordsTotal = 0;
    double rebuildTotal = 0;
    double clockTotal = 0;
    for (auto _ : state) {
        double start = Now();
        clockTotal += Now() - start;

        start = Now();
        for (const UIDRef& item : doc->items) {
            InterfacePtr<IOrdoData> data = InterfaceOf<IOrdoData>(item);
            OD_ProcData order = data->Get();
            benchmark::DoNotOptimize(order);
        }
        recordsTotal += Now() - start;

        start = Now();
        RebuildOrdoList(list, true, true);
        const double took = Now() - start;
        rebuildTotal += took;
        state.SetIterationTime(took);
    }
    if (rows->GetRowCount() != n) {
        state.SkipWithError("the rebuild lost rows");
    }
    const double iterations = static_cast<double>(state.iterations());
    recordsTotal -= clockTotal;
    rebuildTotal -= clockTotal;
    state.counters["clock_us"] = clockTotal / iterations * 1e6;
    state.counters["records_ms"] = recordsTotal / iterations * 1e3;
    state.counters["rebuild_ms"] = rebuildTotal / iterations * 1e3;
    state.counters["us_per_item"] = rebuildTotal / iterations / n * 1e6;
    state.counters["ratio_to_records"] = rebuildTotal / recordsTotal;

    panels->UnregisterPanel(kOrdoPanelWidgetID);
    panel.reset();
    doc.reset();
    ResetHostForTesting();
    ResetOrdoPanelStateForTesting();
}

} // namespace

BENCHMARK(BM_PanelRebuild)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
