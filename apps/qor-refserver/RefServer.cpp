#include "RefServer.h"

#include "FileSteps.h"
#include "ImageJob.h"
#include "JobFile.h"
#include "Platform.h"
#include "Volumes.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
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
// One line, no line ends, never empty; cut to limit bytes when one is given.
std::string OneLine(const std::string& text, const char* fallback, std::size_t limit = 255) {
    std::string line;
    for (char c : text) {
        line.push_back(c == '\n' || c == '\r' ? ' ' : c);
    }
    if (line.size() > limit) {
        line.resize(limit);
    }
    return line.find_first_not_of(' ') == std::string::npos ? fallback : line;
}

// The names of the regular files of a folder, in name order.
std::vector<std::string> FileNames(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (it->is_regular_file(typeError)) {
            names.push_back(it->path().filename().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Of these, the names that are neither hidden nor lock files (nor records, in
// a claim folder).
std::vector<std::string> JobNames(const std::vector<std::string>& files, bool claimFolder) {
    std::vector<std::string> names;
    for (const std::string& name : files) {
        if (!name.empty() && name[0] != '.' && !EndsWith(name, ".lock") &&
            !(claimFolder && IsRecordName(name))) {
            names.push_back(name);
        }
    }
    return names;
}

std::string Reason(int error) {
    return std::strerror(error);
}

// Marks the heartbeat busy with a job while it lives.
class BusyWith {
public:
    BusyWith(Heartbeat& heartbeat, const std::string& job) : beat(heartbeat) { beat.Set(job); }
    ~BusyWith() { beat.Set(""); }
    BusyWith(const BusyWith&) = delete;
    BusyWith& operator=(const BusyWith&) = delete;

private:
    Heartbeat& beat;
};

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
           // A cut path would name another file: the path goes whole.
           OneLine(outputPath, "-", std::string::npos) + "\n";
}

RefServer::RefServer(const std::string& root, std::ostream& logStream, const std::string& serverId)
    : folders(root), id(serverId), claimDir((fs::path(folders.claimed) / serverId).string()),
      tag(serverId), outputTag(serverId + "." + std::to_string(static_cast<long long>(::getpid()))),
      log(logStream), heartbeat(folders.alive, serverId) {}

bool RefServer::Check(std::string& error) const {
    for (const std::string& dir : {folders.qor2, folders.tmp, folders.clients}) {
        if (!platform::IsDirectory(dir.c_str())) {
            error = "not a server tree (run init first): " + dir + " is missing";
            return false;
        }
    }
    if (!IsPlainFolderName(id)) {
        error = "server id \"" + id + "\" is not a plain folder name";
        return false;
    }
    return true;
}

bool RefServer::Start(std::string& error) {
    if (hold.Held()) {
        return true;
    }
    if (!IsPlainFolderName(id)) {
        error = "server id \"" + id + "\" is not a plain folder name";
        return false;
    }
    std::error_code ec;
    fs::create_directories(claimDir, ec);
    if (ec) {
        error = "cannot make the claim folder " + claimDir + ": " + ec.message();
        return false;
    }
    int rc = hold.Take(claimDir);
    if (rc == EWOULDBLOCK) {
        std::string holder;
        platform::ReadWholeFile((claimDir + "/.owner").c_str(), 64, holder);
        holder = holder.substr(0, holder.find('\n'));
        error = "a server with the id \"" + id + "\" serves this tree already" +
                (holder.empty() ? std::string() : " (process " + holder + ")") +
                "; give this one another id with --id";
        return false;
    }
    if (rc != 0) {
        error = "cannot hold the claim folder " + claimDir + ": " + Reason(rc);
        return false;
    }
    return true;
}

int RefServer::RunOnce() {
    std::string error;
    if (!Start(error)) {
        log << "qor-refserver: " << error << "\n";
        log.flush();
        return 0;
    }
    heartbeat.Beat();
    if (stop != nullptr) {
        heartbeat.Keep(); // fresh while a job takes long
    }
    NoteHeartbeat();
    int handled = 0;
    // What a run that stopped midway left, first.
    auto stopping = [this] { return stop != nullptr && stop->load(); };
    const std::vector<std::string> left = FileNames(claimDir);
    for (const std::string& name : left) {
        const std::string path = (fs::path(claimDir) / name).string();
        if (IsHiddenName(name, tag)) {
            platform::RemoveFile(path.c_str()); // a record whose writing was cut off
        } else if (EndsWith(name, kAnsweredEnd)) {
            if (!GivenUp(path)) {
                CloseAnswered(name.substr(0, name.size() - std::strlen(kAnsweredEnd)));
                ++handled;
            }
        } else if (IsRecordName(name)) {
            // The records of a job that is gone and answered.
            const std::string claimed = name.substr(0, name.rfind('.'));
            const std::string job = (fs::path(claimDir) / claimed).string();
            if (!platform::Exists(job.c_str()) && !platform::Exists((job + kAnsweredEnd).c_str())) {
                DropRecords(claimed);
            }
        }
    }
    for (const std::string& claimed : JobNames(left, true)) {
        if (stopping()) {
            return handled;
        }
        if (!GivenUp((fs::path(claimDir) / claimed).string())) {
            HandleClaimed(claimed, true);
            ++handled;
        }
    }
    std::vector<std::string> waiting = FileNames(folders.tmp);
    if (!stopping()) {
        ClearLeftLocks(waiting, handled);
        waiting = FileNames(folders.tmp);
    }
    for (const std::string& name : JobNames(waiting, false)) {
        if (stopping()) {
            break; // the rest is left to the next run or to other servers
        }
        Claim(name, handled);
    }
    return handled;
}

void RefServer::Claim(const std::string& name, int& handled) {
    const std::string job = (fs::path(folders.tmp) / name).string();
    if (platform::Exists((job + ".lock").c_str()) || GivenUp(job)) {
        return; // still being written, or given up on
    }
    const std::string claimed = ClaimName(claimDir, name);
    const std::string to = (fs::path(claimDir) / claimed).string();
    if (std::rename(job.c_str(), to.c_str()) != 0) {
        const int rc = errno;
        if (rc != ENOENT) { // ENOENT: another server took it
            GiveUp(job);
            Log("-", name, "claim-failed", 0, "cannot be taken from Data/tmp: " + Reason(rc));
        }
        return;
    }
    HandleClaimed(claimed, false);
    ++handled;
}

void RefServer::ClearLeftLocks(const std::vector<std::string>& files, int& handled) {
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    // Unchanged for longer than the limit: no client is writing it.
    auto left = [now](const struct stat& st) {
        return now - static_cast<int64_t>(st.st_mtime) > kStaleLockSeconds;
    };
    for (const std::string& lockName : files) {
        if (lockName.empty() || lockName[0] == '.' || !EndsWith(lockName, ".lock")) {
            continue;
        }
        const std::string name = lockName.substr(0, lockName.size() - 5);
        const std::string lock = (fs::path(folders.tmp) / lockName).string();
        const std::string job = (fs::path(folders.tmp) / name).string();
        struct stat lockStat {};
        if (name.empty() || EndsWith(name, ".lock") || ::lstat(lock.c_str(), &lockStat) != 0 ||
            !left(lockStat)) {
            continue;
        }
        struct stat jobStat {};
        if (::lstat(job.c_str(), &jobStat) != 0) {
            if (errno == ENOENT) {
                platform::RemoveFile(lock.c_str()); // the client stopped before it wrote the job
            }
            continue;
        }
        if (!S_ISREG(jobStat.st_mode) || !left(jobStat) || GivenUp(job)) {
            continue;
        }
        // The job goes first: while its lock is there no server takes it.
        const int rc = MoveToRejected(job, name, "its sender never unlocked it");
        if (rc == ENOENT) {
            continue; // another server set it aside
        }
        ++counts.rejected;
        ++handled;
        if (rc != 0) {
            GiveUp(job);
            Log("-", name, "rejected", 0,
                "its sender never unlocked it, cannot be set aside: " + Reason(rc) +
                    "; the job stays in Data/tmp");
            continue;
        }
        platform::RemoveFile(lock.c_str());
        Log("-", name, "rejected", 0, "its sender never unlocked it");
    }
}

void RefServer::Run(const std::atomic<bool>& stopFlag, int pollMs) {
    pollMs = std::clamp(pollMs, 1, 60000);
    stop = &stopFlag;
    // The kernel tells of files written, moved or removed in Data/tmp (a
    // job's lock removed), so that a job is taken at once; the poll stays for
    // what it does not see (another machine writing into a shared tree) and
    // where there is no inotify.
    int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch >= 0 && ::inotify_add_watch(watch, folders.tmp.c_str(),
                                          IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE) < 0) {
        ::close(watch);
        watch = -1;
    }
    while (!stopFlag.load()) {
        RunOnce();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(pollMs);
        while (!stopFlag.load()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0) {
                break;
            }
            // The stop flag is looked at every tenth of a second at least.
            const int wait = static_cast<int>(std::min<int64_t>(left, 100));
            if (watch < 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(wait));
                continue;
            }
            struct pollfd ready = {watch, POLLIN, 0};
            if (::poll(&ready, 1, wait) > 0) {
                char events[4096];
                while (::read(watch, events, sizeof events) > 0) {
                }
                break;
            }
        }
    }
    if (watch >= 0) {
        ::close(watch);
    }
    if (hold.Held()) {
        heartbeat.Remove();
    }
    stop = nullptr;
}

void RefServer::HandleClaimed(const std::string& claimed, bool leftover) {
    const auto start = std::chrono::steady_clock::now();
    auto elapsed = [&] {
        return static_cast<int64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                        std::chrono::steady_clock::now() - start)
                                        .count());
    };
    const std::string name = JobNameOf(claimed);
    const BusyWith busy(heartbeat, name);
    NoteHeartbeat();
    const std::string path = (fs::path(claimDir) / claimed).string();
    const std::string kept = "; the job stays in Data/claimed/" + id;
    std::string text;
    int rc = platform::ReadWholeFile(path.c_str(), kMaxJobBytes, text);
    if (rc == ENOENT) {
        return; // gone meanwhile
    }
    if (rc != 0) {
        bool moved =
            SetAside(claimed, rc == EFBIG ? "job file too large" : "job file cannot be read");
        Log("-", name, "rejected", elapsed(),
            (rc == EFBIG ? "too large" : "unreadable: " + Reason(rc)) +
                (moved ? "" : ", cannot be set aside" + kept));
        return;
    }
    JobFile job;
    std::string error;
    if (!ParseJobFile(text, job, error)) {
        bool moved = SetAside(claimed, error);
        Log("-", name, "rejected", elapsed(),
            error + (moved ? "" : ", cannot be set aside" + kept));
        return;
    }
    const std::string clientDir = (fs::path(folders.clients) / job.clientId).string();
    const std::string reply = (fs::path(clientDir) / name).string();
    const JobKind kind = KindOf(job.body);

    if (kind == JobKind::connect || kind == JobKind::disconnect) {
        std::error_code ec;
        bool done = true;
        std::string message = job.program;
        if (kind == JobKind::connect) {
            fs::create_directories(clientDir, ec);
            done = !ec;
            message = done ? job.program : "client folder cannot be made" + kept;
        } else {
            bool removed = fs::remove(clientDir, ec); // only when it holds no reply
            message = removed ? "folder removed" : "folder kept (replies waiting or none made)";
        }
        ++counts.sessions;
        Log(job.clientId, name,
            !done                      ? "error"
            : kind == JobKind::connect ? "connect"
                                       : "disconnect",
            elapsed(), message);
        if (done) {
            platform::RemoveFile(path.c_str());
        } else {
            GiveUp(path);
        }
        return;
    }
    if (leftover && platform::Exists(reply.c_str()) &&
        !platform::Exists((reply + ".lock").c_str())) {
        // Answered before the run stopped; only the job file was left.
        const bool marked = MarkAnswered(claimed);
        Log(job.clientId, name, "answered", elapsed(), "reply was published before a restart");
        if (marked) {
            CleanUp(claimed);
        }
        return;
    }

    JobResult result;
    JobTicket ticket;
    if (kind == JobKind::unknown) {
        result = {ReplyStatus::error, "job is neither CONNECT, DECONNECT nor a PROCESS ticket",
                  "-"};
    } else if (!ParseTicket(job.body, ticket, error)) {
        result = {ReplyStatus::error, error, "-"};
    } else if (!leftover || !OutputFromRecord(claimed, ticket, result)) {
        DropRecords(claimed); // and what a run that stopped wrote of the output
        OutputSteps steps;
        steps.tag = outputTag;
        // The hidden name is recorded before the output is written there, so
        // that a rerun removes what a run that stopped left under it.
        steps.beforeWrite = [&](const std::string& part, std::string& why) {
            int written = PublishFile(claimDir, claimed + kOutputRecordEnd, part + "\n", tag);
            why = "the output's hidden name cannot be recorded in Data/claimed/" + id + ": " +
                  Reason(written);
            return written == 0;
        };
        // The target is recorded before the output is moved there, so that a
        // rerun answers with it instead of making the output twice.
        steps.beforeMove = [&](const JobResult& planned, const std::string& part,
                               std::string& why) {
            TargetRecord r{planned.outputPath, part, StatusWord(planned.status), planned.message};
            int written =
                PublishFile(claimDir, claimed + kTargetRecordEnd, TargetRecordText(r), tag);
            why = "the output's target cannot be recorded in Data/claimed/" + id + ": " +
                  Reason(written);
            return written == 0;
        };
        try {
            result = ProcessTicket(folders, ticket, steps);
        } catch (const std::exception& e) {
            result = JobResult{ReplyStatus::error, std::string("processing failed: ") + e.what(),
                               ticket.pathIn};
        }
    }
    if (result.status != ReplyStatus::error) {
        WriteLowResolutionIfAsked(folders, ticket, tag, result);
    }
    const char* word = StatusWord(result.status);
    bool marked = false;
    if (!Answer(claimed, job.clientId,
                ReplyText(name, elapsed() / 1000, word, result.message, result.outputPath),
                marked)) {
        Log(job.clientId, name, "error", elapsed(), "reply cannot be written" + kept);
        ++counts.errors;
        GiveUp(path);
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
    if (marked) {
        CleanUp(claimed);
    }
}

bool RefServer::OutputFromRecord(const std::string& claimed, const JobTicket& ticket,
                                 JobResult& result) {
    const std::string record = (fs::path(claimDir) / claimed).string() + kTargetRecordEnd;
    std::string text;
    TargetRecord r;
    if (platform::ReadWholeFile(record.c_str(), 4096, text) != 0 || !ParseTargetRecord(text, r)) {
        return false;
    }
    std::error_code ec;
    if (platform::Exists(r.part.c_str())) {
        // Still under its hidden name: moved only when a link gave it the
        // target's name too.
        const bool moved = fs::equivalent(r.part, r.target, ec);
        RemoveOwnHidden(r.part);
        if (!moved) {
            return false;
        }
    } else if (!fs::is_regular_file(r.target, ec)) {
        return false;
    }
    result.status = r.status == "warning" ? ReplyStatus::warning : ReplyStatus::finish;
    result.message = r.message;
    result.outputPath = r.target;
    DeleteSourceIfAsked(ReadVolumes(folders), ticket, result);
    return true;
}

bool RefServer::Answer(const std::string& claimed, const std::string& clientId,
                       const std::string& text, bool& marked) {
    const std::string jobName = JobNameOf(claimed);
    const fs::path dir = fs::path(folders.clients) / clientId;
    std::error_code ec;
    fs::create_directories(dir, ec);
    const std::string lock = (dir / jobName).string() + ".lock";
    if (platform::CreateEmptyFile(lock.c_str()) != 0) {
        return false;
    }
    // Replaces a reply of the same name, one half written when a run stopped
    // among them.
    int rc = PublishFile(dir.string(), jobName, text, tag);
    // Marked answered while the client cannot take the reply yet: once it
    // can, and may release it, a rerun finds the job answered.
    marked = rc == 0 && MarkAnswered(claimed);
    platform::RemoveFile(lock.c_str());
    return rc == 0;
}

bool RefServer::MarkAnswered(const std::string& claimed) {
    const std::string path = (fs::path(claimDir) / claimed).string();
    if (platform::RenameFile(path.c_str(), (path + kAnsweredEnd).c_str()) != 0 &&
        platform::RemoveFile(path.c_str()) != 0) {
        GiveUp(path);
        return false;
    }
    SyncFolder(claimDir);
    return true;
}

void RefServer::CloseAnswered(const std::string& claimed) {
    const std::string answered = (fs::path(claimDir) / claimed).string() + kAnsweredEnd;
    const std::string name = JobNameOf(claimed);
    std::string text;
    std::string error;
    JobFile job;
    if (platform::ReadWholeFile(answered.c_str(), kMaxJobBytes, text) == 0 &&
        ParseJobFile(text, job, error)) {
        // The reply is whole: it was published before the job was marked.
        const std::string lock =
            (fs::path(folders.clients) / job.clientId / name).string() + ".lock";
        platform::RemoveFile(lock.c_str());
    }
    Log(job.clientId, name, "answered", 0, "reply was published before a restart");
    CleanUp(claimed);
}

void RefServer::CleanUp(const std::string& claimed) {
    DropRecords(claimed);
    const std::string answered = (fs::path(claimDir) / claimed).string() + kAnsweredEnd;
    if (platform::RemoveFile(answered.c_str()) != 0 && platform::Exists(answered.c_str())) {
        GiveUp(answered);
    }
}

void RefServer::DropRecords(const std::string& claimed) {
    const std::string path = (fs::path(claimDir) / claimed).string();
    std::string text;
    if (platform::ReadWholeFile((path + kOutputRecordEnd).c_str(), 4096, text) == 0 &&
        text.find('\n') != std::string::npos) {
        RemoveOwnHidden(text.substr(0, text.find('\n')));
    }
    platform::RemoveFile((path + kTargetRecordEnd).c_str());
    platform::RemoveFile((path + kOutputRecordEnd).c_str());
}

void RefServer::RemoveOwnHidden(const std::string& path) {
    const fs::path file(path);
    if (file.is_absolute() && IsHiddenName(file.filename().string(), id, true)) {
        platform::RemoveFile(path.c_str());
    }
}

bool RefServer::SetAside(const std::string& claimed, const std::string& reason) {
    ++counts.rejected;
    const std::string from = (fs::path(claimDir) / claimed).string();
    if (MoveToRejected(from, JobNameOf(claimed), reason) != 0) {
        GiveUp(from);
        return false;
    }
    return true;
}

int RefServer::MoveToRejected(const std::string& from, const std::string& name,
                              const std::string& reason) {
    std::error_code ec;
    fs::create_directories(folders.rejected, ec);
    std::string target = (fs::path(folders.rejected) / name).string();
    int rc = RenameWithoutReplacing(from, target);
    for (int n = 1; rc == EEXIST && n < 10000; ++n) {
        target = (fs::path(folders.rejected) / (name + "." + std::to_string(n))).string();
        rc = RenameWithoutReplacing(from, target);
    }
    if (rc == 0) {
        std::ofstream(target + ".reason") << reason << "\n";
    }
    return rc;
}

void RefServer::NoteHeartbeat() {
    const std::string failure = heartbeat.TakeFailure();
    if (!failure.empty()) {
        log << "qor-refserver: the heartbeat " << failure << "; serving goes on\n";
        log.flush();
    }
}

bool RefServer::GivenUp(const std::string& path) {
    auto it = givenUp.find(path);
    if (it == givenUp.end()) {
        return false;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 &&
        it->second == Stamp{st.st_dev, st.st_ino, static_cast<int64_t>(st.st_mtime)}) {
        return true;
    }
    givenUp.erase(it); // another file under the name now
    return false;
}

void RefServer::GiveUp(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        givenUp[path] = Stamp{st.st_dev, st.st_ino, static_cast<int64_t>(st.st_mtime)};
    }
}

void RefServer::Log(const std::string& client, const std::string& job, const std::string& outcome,
                    int64_t micros, const std::string& message) {
    char ms[32];
    std::snprintf(ms, sizeof ms, "%.1f", static_cast<double>(micros) / 1000.0);
    std::string line = Now() + " client=" + OneLine(client, "-") + " job=" + OneLine(job, "-") +
                       " outcome=" + outcome + " ms=" + ms + " server=" + id + " " +
                       OneLine(message, "-");
    log << line + "\n"; // one write: workers share the stream
    log.flush();
    std::ofstream(folders.log, std::ios::app) << line << "\n";
}
