#pragma once

// The file-system floor the hot-folder benchmarks compare against: creating,
// writing, syncing and closing plain files, with nothing of the protocol.

#include <benchmark/benchmark.h>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace benchkit {

inline void ClearFolder(const std::string& dir) {
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        std::filesystem::remove(e.path());
    }
}

// Runs the benchmark's loop: each round creates count new files in dir, each
// holding text, synced and closed, then empties dir outside the timing.
// Returns the mean time of a round, in seconds.
inline double BareCreateWriteSyncClose(benchmark::State& state, const std::string& dir, int count,
                                       const std::string& text) {
    double total = 0;
    int64_t rounds = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < count; ++i) {
            const std::string path = dir + "/" + std::to_string(i);
            int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd < 0 || ::write(fd, text.data(), text.size()) < 0 || ::fsync(fd) != 0) {
                state.SkipWithError("bare write failed");
            }
            if (fd >= 0) {
                ::close(fd);
            }
        }
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ++rounds;
        state.PauseTiming();
        ClearFolder(dir);
        state.ResumeTiming();
    }
    return rounds > 0 ? total / static_cast<double>(rounds) : 0.0;
}

} // namespace benchkit
