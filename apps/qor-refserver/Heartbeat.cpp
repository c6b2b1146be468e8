#include "Heartbeat.h"

#include "FileSteps.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace {

// 0 or the error number.
int WriteText(const std::string& path, const std::string& text) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return errno;
    }
    int rc = 0;
    for (std::size_t done = 0; rc == 0 && done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n == 0 || errno != EINTR) {
            rc = n == 0 ? EIO : errno;
        }
    }
    if (::close(fd) != 0 && rc == 0) {
        rc = errno;
    }
    return rc;
}

} // namespace

Heartbeat::Heartbeat(std::string aliveFolder, std::string serverId)
    : folder(std::move(aliveFolder)), id(std::move(serverId)), path(folder + "/" + id),
      // One server of an id serves a tree at a time: a hidden file a killed
      // one left is written over by the next.
      hidden(folder + "/" + HiddenName(id, id)) {}

Heartbeat::~Heartbeat() {
    Stop();
}

void Heartbeat::Set(const std::string& jobName) {
    std::lock_guard<std::mutex> lock(mutex);
    job = jobName;
    WriteLocked();
}

void Heartbeat::Beat() {
    std::lock_guard<std::mutex> lock(mutex);
    WriteLocked();
}

void Heartbeat::Keep() {
    std::lock_guard<std::mutex> lock(mutex);
    if (!thread.joinable() && !cannotKeep) {
        quit = false;
        // The thread takes no signals: a stop request reaches the thread that
        // serves, and no write of the heartbeat is cut off by one.
        sigset_t all;
        sigset_t before;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &before);
        try {
            thread = std::thread([this] { Loop(); });
        } catch (const std::system_error& e) {
            cannotKeep = true; // written once a pass from now on
            failure = "cannot be kept fresh: " + std::string(e.what());
        }
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
    }
}

void Heartbeat::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        quit = true;
    }
    wake.notify_all();
    if (thread.joinable()) {
        thread.join();
    }
}

void Heartbeat::Remove() {
    Stop();
    ::unlink(path.c_str());
}

std::string Heartbeat::TakeFailure() {
    std::lock_guard<std::mutex> lock(mutex);
    return std::exchange(failure, std::string());
}

void Heartbeat::Loop() {
    const auto period = std::chrono::seconds(kPeriodSeconds);
    std::unique_lock<std::mutex> lock(mutex);
    auto next = std::chrono::steady_clock::now() + period;
    while (!wake.wait_until(lock, next, [this] { return quit; })) {
        WriteLocked();
        // On a fixed beat, so that the period holds between two writes; after
        // a write that took longer than a period, a period from now.
        const auto now = std::chrono::steady_clock::now();
        next = next + period > now ? next + period : now + period;
    }
}

void Heartbeat::WriteLocked() {
    // A job's name is a file name: it may hold anything but a line end here.
    std::string shown = job;
    for (char& c : shown) {
        c = c == '\n' || c == '\r' ? ' ' : c;
    }
    const std::string line = "qor-refserver " + id + " " +
                             std::to_string(static_cast<long long>(::getpid())) + " " +
                             std::to_string(static_cast<long long>(std::time(nullptr))) +
                             (job.empty() ? " idle" : " busy " + shown) + "\n";
    int rc = WriteText(hidden, line);
    if (rc == ENOENT) {
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        rc = WriteText(hidden, line);
    }
    if (rc == 0 && std::rename(hidden.c_str(), path.c_str()) != 0) {
        rc = errno;
    }
    if (rc == 0) {
        failing = false;
        return;
    }
    ::unlink(hidden.c_str());
    if (!failing) {
        failing = true;
        failure = path + " cannot be written: " + std::strerror(rc);
    }
}
