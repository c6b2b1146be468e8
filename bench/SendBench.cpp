// SendOrder against the bare file-system calls that sending cannot avoid,
// measured in the same run. The ratio is the counter "ratio_to_bare" on
// SendOrder's row (the bare row runs first).
//
//   SendOrder of 1000 orders   vs  create, write, sync, close of 1000 files
//   (ticket from preferences,      of 600 bytes (the tickets here are a
//   placement and order, then      little shorter; the sync dominates)
//   the endpoint's job file)

#include "../tests/host/DocumentTestKit.h"
#include "BareFiles.h"
#include "DocumentModel.h"
#include "DocumentUtils.h"
#include "ICommand.h"
#include "IOrdoPrefsData.h"
#include "ISession.h"
#include "ImportUtils.h"
#include "OD_Preferences.h"
#include "OD_Ticket.h"
#include "ObjectModel.h"
#include "QOR_EndPointFile.h"
#include "SessionIDs.h"
#include "TempDir.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kOrders = 1000;

double bareSeconds = 0;
std::size_t ticketBytes = 600;

// A document with kOrders placed images, each with a Ready order, and a
// server tree with an endpoint open on it.
struct SendSetup {
    TempDir dir;
    std::string server;
    std::unique_ptr<IDataBase> db;
    std::vector<UIDRef> items;
    std::vector<OD_ProcData> orders;
    QOR_EndPointFile endpoint;
    bool ok = true;

    SendSetup() {
        ResetHostForTesting();
        ObjectModel::Get().Reset();
        RegisterHostServices();
        RegisterDocumentModel();
        RegisterPreferenceImplementations();
        ObjectModel::Get().AddIn(kSessionBoss, IID_IORDOPREFSDATA, kOrdoPrefsDataPersistImpl);
        InterfacePtr<IOrdoPrefsData> prefsData(GetExecutionContextSession(), IID_IORDOPREFSDATA);
        OD_PrefsData prefs = prefsData->Get();
        const std::string out = dir / "out";
        MakeDirs(out);
        ok = prefs.SetOutFolder(out.c_str());
        prefsData->Set(prefs);

        server = MakeServerTree(dir.Path());
        QOR_EndPointFile::ResetProcessStateForTesting();
        ok = ok && endpoint.Open(server.c_str()) == 0;

        const std::string image = dir / "photo.tif";
        dockit::WriteTiff(image, 40, 20, 72);
        db = DocumentUtils::NewDocument();
        const UIDRef page = DocumentUtils::GetNthPage(db.get(), 0);
        for (int i = 0; i < kOrders && ok; ++i) {
            ErrorCode error = kFailure;
            const double x = 10 + (i % 20) * 25;
            const double y = 10 + (i / 20) * 12;
            UIDRef frame =
                DocumentUtils::AddGraphicFrame(page, PMRect(x, y, x + 20, y + 10), &error);
            UIDRef item = ImportUtils::PlaceFile(frame, PMString(image), &error);
            ok = error == kSuccess;
            items.push_back(item);
            OD_ProcData order;
            order.status = kODStatusReady;
            order.processCode = 12;
            order.outputName = PMString("photo" + std::to_string(i));
            order.prefix = PMString("ABCDE");
            order.profile = PMString("Magazine");
            order.sourcePath = PMString(image);
            order.formatCode = 0x100;
            order.resolution = 72;
            orders.push_back(order);
        }
    }
    ~SendSetup() {
        db.reset();
        ResetHostForTesting();
    }
};

void BM_BareCreateWriteSyncClose(benchmark::State& state) {
    TempDir dir;
    bareSeconds = benchkit::BareCreateWriteSyncClose(state, dir.Path(), kOrders,
                                                     std::string(ticketBytes, 'x'));
}

void BM_SendOrder(benchmark::State& state) {
    SendSetup setup;
    if (!setup.ok) {
        state.SkipWithError("cannot set the document and server up");
        return;
    }
    double total = 0;
    int64_t rounds = 0;
    OD_ProcData updated;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kOrders; ++i) {
            if (SendOrder(setup.items[static_cast<std::size_t>(i)],
                          setup.orders[static_cast<std::size_t>(i)], &setup.endpoint,
                          updated) != 0) {
                state.SkipWithError("send failed");
                break;
            }
        }
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ++rounds;
        state.PauseTiming();
        benchkit::ClearFolder(setup.dir / "Data/tmp");
        state.ResumeTiming();
    }
    if (bareSeconds > 0) {
        state.counters["ratio_to_bare"] = total / static_cast<double>(rounds) / bareSeconds;
    }
}

BENCHMARK(BM_BareCreateWriteSyncClose)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_SendOrder)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace
