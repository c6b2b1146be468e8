// One result-pickup pass: the finished-order handler over every Sent order of
// a document, a tenth of which have their reply and processed file waiting,
// against the bare file-system calls the pass cannot avoid, measured in the
// same run at the same size:
//
//   for every order     the lock check and the stat of its reply
//   for each reply      reading it, the existence test and the header read of
//                       the processed file, and deleting the reply
//
// Sizes 250, 500, 1000 and 2000 orders show how the pass grows; each pass row
// reports "ratio_to_bare" and "us_per_order", and the time inside the handler
// split between the orders still waiting and those finished.
#include "DocumentModel.h"
#include "DocumentUtils.h"
#include "ICommand.h"
#include "IDataBase.h"
#include "ImportUtils.h"
#include "OD_DataAccessor.h"
#include "OD_Pickup.h"
#include "OD_Preferences.h"
#include "ObjectModel.h"
#include "OrdoCommands.h"
#include "Paths.h"
#include "QOR_EndPointFile.h"
#include "RefServer.h"
#include "ServerTree.h"
#include "TempDir.h"

#include "../tests/host/DocumentTestKit.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kReplyEvery = 10; // one order in ten has its reply

std::map<int64_t, double> bareSeconds; // by number of orders

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

// A server tree with a connected endpoint and its client's folder.
struct Server {
    TempDir root;
    QOR_EndPointFile endpoint;
    std::string clientsDir;
    std::string processed;
    bool ok = false;

    Server() {
        std::string why;
        if (!InitServerTree(root.Path(), why)) {
            return;
        }
        const std::string path = root / kServerAppName;
        if (endpoint.Open(path.c_str()) != 0 || endpoint.Connect(path.c_str()) != 0) {
            return;
        }
        std::ostringstream log;
        RefServer server(root.Path(), log);
        server.RunOnce();
        clientsDir = root / "Data/clients";
        processed = root / "processed.tif";
        dockit::WriteTiff(processed, 100, 50, 72);
        ok = fs::is_directory(fs::path(clientsDir) / endpoint.ClientId());
    }
    std::string Job(int i) const {
        return std::string(endpoint.ClientId()) + kPathSeparator + "job" + std::to_string(i);
    }
    std::string ReplyPath(int i) const { return clientsDir + kPathSeparator + Job(i); }
    void WriteReplies(int orders) const {
        for (int i = 0; i < orders; i += kReplyEvery) {
            WriteText(ReplyPath(i), ReplyText(Job(i), 3, "finish", "done", processed));
        }
    }
};

// A document of n placed images, each with a Sent order.
struct Document {
    std::unique_ptr<IDataBase> db;
    std::vector<UIDRef> items;

    Document(const Server& server, const std::string& image, int n) {
        db = DocumentUtils::NewDocument();
        const UIDRef page = DocumentUtils::GetNthPage(db.get(), 0);
        for (int i = 0; i < n; ++i) {
            const double x = (i % 40) * 12.0;
            const double y = (i / 40) * 12.0;
            UIDRef frame = DocumentUtils::AddGraphicFrame(page, PMRect(x, y, x + 10, y + 10));
            UIDRef placed = ImportUtils::PlaceFile(frame, PMString(image));
            OD_ProcData order;
            order.status = kODStatusSent;
            order.jobName = PMString(server.Job(i));
            OD_DataAccessor(placed).Write(order);
            items.push_back(placed);
        }
    }
};

void SetUpHost() {
    ObjectModel::Get().Reset();
    RegisterDocumentModel();
    RegisterOrdoData();
    AddOrdoDataToImageItems();
    ErrorUtils::PMSetGlobalErrorCode(kSuccess);
    SetOrdoListRebuildHook(nullptr);
}

void BM_BarePickupCalls(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    Server server;
    if (!server.ok) {
        state.SkipWithError("no server tree");
        return;
    }
    char text[1024];
    double total = 0;
    int64_t rounds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        server.WriteReplies(n);
        state.ResumeTiming();
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < n; ++i) {
            const std::string reply = server.ReplyPath(i);
            struct stat st {};
            if (::access((reply + ".lock").c_str(), F_OK) == 0 || ::stat(reply.c_str(), &st) != 0) {
                continue;
            }
            std::FILE* f = std::fopen(reply.c_str(), "rb");
            benchmark::DoNotOptimize(std::fread(text, 1, sizeof text, f));
            std::fclose(f);
            benchmark::DoNotOptimize(::access(server.processed.c_str(), F_OK));
            std::FILE* img = std::fopen(server.processed.c_str(), "rb");
            benchmark::DoNotOptimize(std::fread(text, 1, sizeof text, img));
            std::fclose(img);
            ::unlink(reply.c_str());
        }
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ++rounds;
    }
    bareSeconds[n] = total / static_cast<double>(rounds);
}

void BM_PickupPass(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    SetUpHost();
    Server server;
    if (!server.ok) {
        state.SkipWithError("no server tree");
        return;
    }
    TempDir images;
    const std::string image = images / "photo.tif";
    dockit::WriteTiff(image, 200, 100, 72);
    OD_PrefsData prefs;
    OD_PickupContext context;
    context.endpoint = &server.endpoint;
    context.prefs = &prefs;

    double total = 0;
    int64_t rounds = 0;
    int64_t finished = 0;
    double finishedSeconds = 0; // inside the handler, orders with their reply
    double waitingSeconds = 0;  // inside the handler, orders still waiting
    for (auto _ : state) {
        state.PauseTiming();
        QOR_EndPointFile::ResetProcessStateForTesting();
        auto doc = std::make_unique<Document>(server, image, n);
        server.WriteReplies(n);
        std::vector<UIDRef> panel = doc->items;
        context.panelItems = &panel;
        state.ResumeTiming();

        auto start = std::chrono::steady_clock::now();
        for (UIDRef item : doc->items) {
            auto one = std::chrono::steady_clock::now();
            const bool done = HandleFinishedOrder(item, context) == 0;
            const double took =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - one).count();
            if (done) {
                ++finished;
                finishedSeconds += took;
            } else {
                waitingSeconds += took;
            }
        }
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ++rounds;

        state.PauseTiming();
        doc.reset();
        state.ResumeTiming();
    }
    const double pass = total / static_cast<double>(rounds);
    if (finished != rounds * ((n + kReplyEvery - 1) / kReplyEvery)) {
        state.SkipWithError("not every waiting order was finished");
        return;
    }
    state.counters["us_per_order"] = pass / n * 1e6;
    state.counters["us_per_waiting"] =
        waitingSeconds / static_cast<double>(rounds * n - finished) * 1e6;
    state.counters["us_per_finished"] = finishedSeconds / static_cast<double>(finished) * 1e6;
    if (bareSeconds[n] > 0) {
        state.counters["ratio_to_bare"] = pass / bareSeconds[n];
    }
}

} // namespace

BENCHMARK(BM_BarePickupCalls)
    ->Arg(250)
    ->Arg(500)
    ->Arg(1000)
    ->Arg(2000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PickupPass)
    ->Arg(250)
    ->Arg(500)
    ->Arg(1000)
    ->Arg(2000)
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);
