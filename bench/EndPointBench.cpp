// The hot-folder endpoint against the bare file-system calls it cannot avoid,
// measured in the same run. Each pair reports its ratio as the counter
// "ratio_to_bare" on the endpoint's row (the bare row runs first).
//
//   Send of 1000 tickets      vs  create, write, sync, close of 1000 files
//   poll of 1000 replies,     vs  the lock check and stat of 1000 paths and the
//   100 of them arrived           reading of the 100 that are there
#include "BareFiles.h"
#include "Paths.h"
#include "QOR_EndPointFile.h"
#include "TempDir.h"

#include <benchmark/benchmark.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kTickets = 1000;
constexpr int kReplies = 1000;
constexpr int kArrived = 100;

// A ticket of the usual size.
std::string Ticket() {
    std::string t = "PROCESS\n";
    for (int i = 0; i < 22; ++i) {
        t += "line " + std::to_string(i) + " of the job ticket with a path /srv/images/photo.tif\n";
    }
    return t;
}

double bareSendSeconds = 0;
double barePollSeconds = 0;

void BM_BareCreateWriteSyncClose(benchmark::State& state) {
    TempDir dir;
    bareSendSeconds = benchkit::BareCreateWriteSyncClose(state, dir.Path(), kTickets, Ticket());
}

void BM_EndPointSend(benchmark::State& state) {
    TempDir dir;
    std::string server = MakeServerTree(dir.Path());
    QOR_EndPointFile ep;
    if (ep.Open(server.c_str()) != 0) {
        state.SkipWithError("cannot open the server tree");
        return;
    }
    std::string ticket = Ticket();
    double total = 0;
    int64_t rounds = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kTickets; ++i) {
            if (ep.Send(ticket.c_str(), 1024) != 0) {
                state.SkipWithError("send failed");
            }
        }
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ++rounds;
        state.PauseTiming();
        benchkit::ClearFolder(dir / "Data/tmp");
        state.ResumeTiming();
    }
    if (bareSendSeconds > 0) {
        state.counters["ratio_to_bare"] = total / static_cast<double>(rounds) / bareSendSeconds;
    }
}

// A server tree with kReplies outstanding message names, kArrived of them answered.
struct PollTree {
    TempDir dir;
    std::string server;
    QOR_EndPointFile ep;
    std::vector<std::string> names; // message names (client, separator, job)
    std::vector<std::string> paths; // full reply paths

    PollTree() {
        server = MakeServerTree(dir.Path());
        ep.Open(server.c_str());
        std::string clientDir = dir / (std::string("Data/clients/") + ep.ClientId());
        MakeDirs(clientDir);
        for (int i = 0; i < kReplies; ++i) {
            char job[32];
            std::snprintf(job, sizeof job, "%08d.%d", i, 7);
            names.push_back(std::string(ep.ClientId()) + kPathSeparator + job);
            paths.push_back(clientDir + "/" + job);
            if (i % (kReplies / kArrived) == 0) {
                WriteFile(paths.back(), "QOR\n2\njob\nfinish\nProcessed\n/srv/out/photo.tif\n");
            }
        }
    }
};

void BM_BareStatPoll(benchmark::State& state) {
    PollTree tree;
    double total = 0;
    int64_t rounds = 0;
    char text[1024];
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        for (const auto& path : tree.paths) {
            struct stat st {};
            bool locked = ::access((path + ".lock").c_str(), F_OK) == 0;
            if (!locked && ::stat(path.c_str(), &st) == 0) {
                std::FILE* f = std::fopen(path.c_str(), "rb");
                benchmark::DoNotOptimize(std::fread(text, 1, sizeof text, f));
                std::fclose(f);
            }
        }
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ++rounds;
    }
    barePollSeconds = total / static_cast<double>(rounds);
}

void BM_EndPointPoll(benchmark::State& state) {
    PollTree tree;
    double total = 0;
    int64_t rounds = 0;
    char text[1024];
    int arrived = 0;
    for (auto _ : state) {
        arrived = 0;
        auto start = std::chrono::steady_clock::now();
        for (const auto& name : tree.names) {
            int cap = sizeof text;
            arrived += tree.ep.ReceiveFor(name.c_str(), text, cap) == 0;
        }
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ++rounds;
        // Forget what was read, so that every round reads the arrived replies
        // from disk as the first poll after they come does.
        state.PauseTiming();
        QOR_EndPointFile::ResetProcessStateForTesting();
        state.ResumeTiming();
    }
    if (arrived != kArrived) {
        state.SkipWithError("wrong number of replies read");
    }
    if (barePollSeconds > 0) {
        state.counters["ratio_to_bare"] = total / static_cast<double>(rounds) / barePollSeconds;
    }
}

} // namespace

BENCHMARK(BM_BareCreateWriteSyncClose)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_EndPointSend)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_BareStatPoll)->Unit(benchmark::kMillisecond)->MinTime(0.5);
BENCHMARK(BM_EndPointPoll)->Unit(benchmark::kMillisecond)->MinTime(0.5);
