#include "RefServer.h"

#include "ImageJob.h"
#include "JobFile.h"
#include "Platform.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The largest job file taken: a ticket is at most 1024 bytes after a short
// header; anything far larger is no job.
constexpr std::size_t kMaxJobBytes = 64 * 1024;
constexpr int kPathStyle = 2; // this server writes '/' paths

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// One line, no line ends, at most 255 bytes, never empty.
std::string OneLine(const std::string& text, const char* fallback) {
    std::string line;
    for (char c : text) {
        line.push_back(c == '\n' || c == '\r' ? ' ' : c);
    }
    if (line.size() > 255) {
        line.resize(255);
    }
    return line.find_first_not_of(' ') == std::string::npos ? fallback : line;
}

std::string Now() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &tm);
    return buffer;
}

} // namespace

std::string ReplyText(const std::string& jobName, int64_t millis, const char* status,
                      const std::string& message, const std::string& outputPath) {
    return OneLine(jobName, "job") + "\n" + std::to_string(kPathStyle) + "\n" +
           std::to_string(millis) + "\n" + status + "\n" + OneLine(message, "no message") + "\n" +
           OneLine(outputPath, "-") + "\n";
}

RefServer::RefServer(const std::string& root, std::ostream& logStream)
    : folders(root), log(logStream) {}

bool RefServer::Check(std::string& error) const {
    for (const std::string& dir : {folders.qor2, folders.tmp, folders.clients}) {
        if (!platform::IsDirectory(dir.c_str())) {
            error = "not a server tree (run init first): " + dir + " is missing";
            return false;
        }
    }
    return true;
}

int RefServer::RunOnce() {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folders.tmp, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (name.empty() || name[0] == '.' || EndsWith(name, ".lock")) {
            continue;
        }
        std::error_code typeError;
        if (!it->is_regular_file(typeError)) {
            continue;
        }
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    int handled = 0;
    for (const std::string& name : names) {
        std::string job = (fs::path(folders.tmp) / name).string();
        if (platform::Exists((job + ".lock").c_str()) || !platform::Exists(job.c_str())) {
            continue; // still being written, or taken by another server
        }
        HandleJob(name);
        ++handled;
    }
    return handled;
}

void RefServer::Run(const std::atomic<bool>& stop, int pollMs) {
    pollMs = std::clamp(pollMs, 1, 60000);
    while (!stop.load()) {
        RunOnce();
        for (int waited = 0; waited < pollMs && !stop.load(); waited += 10) {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min(10, pollMs - waited)));
        }
    }
}

void RefServer::HandleJob(const std::string& name) {
    const auto start = std::chrono::steady_clock::now();
    auto elapsed = [&] {
        return static_cast<int64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                        std::chrono::steady_clock::now() - start)
                                        .count());
    };
    const std::string path = (fs::path(folders.tmp) / name).string();
    std::string text;
    int rc = platform::ReadWholeFile(path.c_str(), kMaxJobBytes, text);
    if (rc == ENOENT) {
        return; // gone meanwhile
    }
    if (rc != 0) {
        SetAside(name, rc == EFBIG ? "job file too large" : "job file cannot be read");
        Log("-", name, "rejected", elapsed(), rc == EFBIG ? "too large" : "unreadable");
        return;
    }
    JobFile job;
    std::string error;
    if (!ParseJobFile(text, job, error)) {
        SetAside(name, error);
        Log("-", name, "rejected", elapsed(), error);
        return;
    }
    platform::RemoveFile(path.c_str());
    const std::string clientDir = (fs::path(folders.clients) / job.clientId).string();

    switch (KindOf(job.body)) {
    case JobKind::connect: {
        std::error_code ec;
        fs::create_directories(clientDir, ec);
        ++counts.sessions;
        Log(job.clientId, name, ec ? "error" : "connect", elapsed(),
            ec ? "client folder cannot be made" : job.program);
        return;
    }
    case JobKind::disconnect: {
        std::error_code ec;
        bool removed = fs::remove(clientDir, ec); // only when it holds no reply
        ++counts.sessions;
        Log(job.clientId, name, "disconnect", elapsed(),
            removed ? "folder removed" : "folder kept (replies waiting or none made)");
        return;
    }
    case JobKind::unknown: {
        ++counts.errors;
        std::string message = "job is neither CONNECT, DECONNECT nor a PROCESS ticket";
        WriteReply(job.clientId, name, ReplyText(name, elapsed() / 1000, "error", message, "-"));
        Log(job.clientId, name, "error", elapsed(), message);
        return;
    }
    case JobKind::process:
        break;
    }

    JobTicket ticket;
    JobResult result;
    if (!ParseTicket(job.body, ticket, error)) {
        result.status = ReplyStatus::error;
        result.message = error;
        result.outputPath = "-";
    } else {
        try {
            result = ProcessTicket(folders, ticket);
        } catch (const std::exception& e) {
            result = JobResult{ReplyStatus::error, std::string("processing failed: ") + e.what(),
                               ticket.pathIn};
        }
    }
    const char* word = StatusWord(result.status);
    if (!WriteReply(job.clientId, name,
                    ReplyText(name, elapsed() / 1000, word, result.message, result.outputPath))) {
        Log(job.clientId, name, "error", elapsed(), "reply cannot be written");
        ++counts.errors;
        return;
    }
    switch (result.status) {
    case ReplyStatus::finish:
        ++counts.finished;
        break;
    case ReplyStatus::warning:
        ++counts.warnings;
        break;
    case ReplyStatus::error:
        ++counts.errors;
        break;
    }
    Log(job.clientId, name, word, elapsed(), result.message);
}

bool RefServer::WriteReply(const std::string& clientId, const std::string& jobName,
                           const std::string& text) {
    const fs::path dir = fs::path(folders.clients) / clientId;
    std::error_code ec;
    fs::create_directories(dir, ec);
    const std::string reply = (dir / jobName).string();
    const std::string lock = reply + ".lock";
    if (platform::CreateEmptyFile(lock.c_str()) != 0) {
        return false;
    }
    platform::RemoveFile(reply.c_str()); // an old reply of the same name
    int rc = platform::CreateNewFile(reply.c_str(), text.data(), text.size(), true);
    platform::RemoveFile(lock.c_str());
    return rc == 0;
}

void RefServer::SetAside(const std::string& name, const std::string& reason) {
    std::error_code ec;
    fs::create_directories(folders.rejected, ec);
    fs::path target = fs::path(folders.rejected) / name;
    for (int n = 1; fs::exists(target, ec) && n < 10000; ++n) {
        target = fs::path(folders.rejected) / (name + "." + std::to_string(n));
    }
    fs::rename(fs::path(folders.tmp) / name, target, ec);
    if (ec) {
        // Cannot be moved: removed, so that it is not read again and again.
        fs::remove(fs::path(folders.tmp) / name, ec);
    } else {
        std::ofstream(target.string() + ".reason") << reason << "\n";
    }
    ++counts.rejected;
}

void RefServer::Log(const std::string& client, const std::string& job, const std::string& outcome,
                    int64_t micros, const std::string& message) {
    char ms[32];
    std::snprintf(ms, sizeof ms, "%.1f", static_cast<double>(micros) / 1000.0);
    std::string line = Now() + " client=" + OneLine(client, "-") + " job=" + OneLine(job, "-") +
                       " outcome=" + outcome + " ms=" + ms + " " + OneLine(message, "-");
    log << line << "\n";
    log.flush();
    std::ofstream(folders.log, std::ios::app) << line << "\n";
}
