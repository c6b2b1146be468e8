#include "QOR_EndPointFile.h"

#include "IMG_Exception.h"
#include "Paths.h"
#include "Platform.h"
#include "QOR_Stream.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

// The time stamp last given to a name; names made in one process are strictly
// increasing, one second apart at least.
int64_t lastTimeStamp = 0;

// Replies read from disk, by their full path (exact, case-sensitive). A reply
// is read from its file once and served from here until it is released.
std::unordered_map<std::string, std::string>& ReplyCache() {
    static std::unordered_map<std::string, std::string> cache;
    return cache;
}

// A reply line ends at LF, at CR or at the end of the file. Lines are read
// whole up to this many characters (a reply is read into a kilobyte); the rest
// of a longer line is dropped, never taken as the next line, so that a long
// message can never be read as the path of the processed file.
constexpr int kReplyLineMax = 1023;

// How often Send takes the next name when a name is already taken.
constexpr int kSendAttempts = 64;

// path := folder + name (with a separator between them when join is set), and
// lock := path + ".lock"; false when either would not fit capacity.
bool PathWithLock(char* path, char* lock, std::size_t capacity, const char* folder,
                  const char* name, bool join) {
    return CopyBounded(path, capacity, folder) &&
           (join ? AppendPathPart(path, capacity, name) : AppendBounded(path, capacity, name)) &&
           CopyBounded(lock, capacity, path) && AppendBounded(lock, capacity, ".lock");
}

// A reply whose last line has no line end may still be being written while
// its file is younger than this many seconds.
constexpr int64_t kReplySettleSeconds = 2;
// A reply that is still not whole this many seconds after its file last
// changed (and without its lock) was cut short for good.
constexpr int64_t kReplyCutSeconds = 30;

// Whether the lines of a reply file make a whole reply: the status word on
// the fourth line, the message after it and, for a finish or a warning, the
// path of the processed file. (A status word this client does not know is a
// whole answer too once its message follows: the handler decides what it
// means.)
bool ReplyLinesWhole(const std::vector<std::string>& lines) {
    if (lines.size() < 4) {
        return false;
    }
    const std::string& word = lines[3];
    return lines.size() >= (word == "finish" || word == "warning" ? 6u : 5u);
}

// The layout of the C library's asctime, without depending on its locale or
// its static buffer: "Sun Sep 16 01:03:52 1973\n".
void FormatAscTime(const struct tm& t, char (&out)[64]) {
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::snprintf(out, sizeof out, "%.3s %.3s%3d %.2d:%.2d:%.2d %d\n",
                  days[(t.tm_wday % 7 + 7) % 7], months[(t.tm_mon % 12 + 12) % 12], t.tm_mday,
                  t.tm_hour, t.tm_min, t.tm_sec, 1900 + t.tm_year);
}

// Draws the suffix of an endpoint: a point and up to three digits. The draw
// comes from the system's entropy source, so that clients started alike still
// differ.
void DrawSuffix(char (&suffix)[5]) {
    std::random_device entropy;
    long value = static_cast<long>(entropy() & 0x7fffffff);
    char text[24];
    std::snprintf(text, sizeof text, ".%ld", value);
    CopyBounded(suffix, sizeof suffix, text);
}

} // namespace

QOR_EndPoint::~QOR_EndPoint() = default;

QOR_EndPoint& QOR_EndPoint::Assign(const QOR_EndPoint&) {
    throw "Call of pure virtual method!";
}

int QOR_EndPoint::SendNamedWith(char* outName, const char* body, int length,
                                const QOR_SendHooks& hooks) {
    int result = SendNamed(outName, body, length);
    if (result == 0 && hooks.beforePublish && !hooks.beforePublish(outName)) {
        return kQorSendRefused;
    }
    return result;
}

int QOR_EndPoint::WithdrawJob(const char*) {
    return -1;
}

void QOR_EndPoint::ForgetWithdrawnJob(const char*) {}

int QOR_EndPoint::PublishJob(const char*) {
    return -1;
}

int QOR_EndPoint::LastSystemError() const {
    return 0;
}

int QOR_EndPoint::JobWaiting(const char*) const {
    return -1;
}

int QOR_EndPoint::ServerHeartbeat(int64_t, int64_t&) const {
    return -1;
}

QOR_EndPointFile::QOR_EndPointFile()
    : serviceDir{}, clientsDir{}, tmpDir{}, clientId{}, serverPath{}, suffix{},
      state(0), messageName{} {}

QOR_EndPointFile::~QOR_EndPointFile() = default;

QOR_EndPoint* QOR_EndPointFile::Clone() const {
    auto* copy = new QOR_EndPointFile();
    copy->Assign(*this);
    return copy;
}

QOR_EndPoint& QOR_EndPointFile::Assign(const QOR_EndPoint& other) {
    const auto* file = dynamic_cast<const QOR_EndPointFile*>(&other);
    if (file == nullptr || file == this) {
        return *this;
    }
    std::memcpy(serviceDir, file->serviceDir, sizeof serviceDir);
    std::memcpy(clientsDir, file->clientsDir, sizeof clientsDir);
    std::memcpy(tmpDir, file->tmpDir, sizeof tmpDir);
    std::memcpy(clientId, file->clientId, sizeof clientId);
    std::memcpy(suffix, file->suffix, sizeof suffix);
    std::memcpy(serverPath, file->serverPath, sizeof serverPath);
    state = file->state;
    return *this;
}

int QOR_EndPointFile::SetFolders(const char* path, Check check) {
    // A path that does not fit is refused rather than cut: a cut path names
    // another folder.
    bool fits = CopyBounded(serverPath, sizeof serverPath, path);
    fits = CopyBounded(serviceDir, sizeof serviceDir, path) && fits;
    if (!fits) {
        return -1;
    }
    char* last = LastSeparator(serviceDir);
    if (last == nullptr) {
        return -1;
    }
    *last = '\0'; // serviceDir now holds the root
    if (!AppendPathPart(serviceDir, sizeof serviceDir, "Data")) {
        return -1;
    }
    std::memcpy(tmpDir, serviceDir, sizeof tmpDir);
    std::memcpy(clientsDir, serviceDir, sizeof clientsDir);
    if (!AppendPathPart(serviceDir, sizeof serviceDir, "service")) {
        return -1;
    }
    if (check == Check::open) {
        if (!platform::Exists(serviceDir)) {
            return -1;
        }
        if (!AppendPathPart(serviceDir, sizeof serviceDir, "qor2")) {
            return -1;
        }
    } else {
        if (!AppendPathPart(serviceDir, sizeof serviceDir, "qor2") ||
            !platform::Exists(serviceDir)) {
            return -1;
        }
    }
    if (!AppendPathPart(tmpDir, sizeof tmpDir, "tmp") || !platform::Exists(tmpDir)) {
        return -1;
    }
    const char sep[2] = {kPathSeparator, '\0'};
    if (!AppendPathPart(clientsDir, sizeof clientsDir, "clients") ||
        !AppendBounded(clientsDir, sizeof clientsDir, sep)) {
        return -1;
    }
    return MakeUniqueName(clientId, sizeof clientId) ? 0 : -1;
}

bool QOR_EndPointFile::MakeUniqueName(char* out, int capacity) {
    int64_t t = platform::CurrentTime();
    if (t <= lastTimeStamp) {
        t = lastTimeStamp + 1;
    }
    lastTimeStamp = t;

    // Local standard time: the names' time never goes back when summer time
    // ends, so a name of the hour before is not made again.
    struct tm local {};
    if (!platform::StandardTime(t, local)) {
        return false;
    }
    char name[32];
    std::snprintf(name, sizeof name, "%02d%02d%02d%02d", local.tm_mday % 100, local.tm_hour % 100,
                  local.tm_min % 100, local.tm_sec % 100);
    if (suffix[0] == '\0') {
        DrawSuffix(suffix);
    }
    return AppendBounded(name, sizeof name, suffix) && CopyBounded(out, capacity, name);
}

int QOR_EndPointFile::OpenPath(const char* hostPath) {
    // Host paths are native paths here; only their length is checked.
    char path[kPathCapacity - 1];
    if (!CopyBounded(path, sizeof path, hostPath)) {
        return -1;
    }
    return Open(path);
}

int QOR_EndPointFile::Open(const char* path) {
    return SetFolders(path, Check::open);
}

int QOR_EndPointFile::ConnectPath(const char* hostPath) {
    char path[kPathCapacity - 1];
    if (!CopyBounded(path, sizeof path, hostPath)) {
        return -1;
    }
    return Connect(path);
}

int QOR_EndPointFile::Connect(const char* path) {
    int result = SetFolders(path, Check::connect);
    if (result != 0) {
        return result;
    }
    static const char kConnect[] = "CONNECT";
    result = Send(kConnect, sizeof kConnect - 1);
    if (result == 0) {
        state = 1;
    }
    return result;
}

int QOR_EndPointFile::Disconnect() {
    state = 0;
    static const char kDisconnect[] = "DECONNECT";
    return Send(kDisconnect, sizeof kDisconnect - 1);
}

int QOR_EndPointFile::Send(const char* body, int length) {
    return SendJob(body, length, QOR_SendHooks());
}

bool QOR_EndPointFile::NameTaken(const char* name, const QOR_SendHooks& hooks) const {
    // A reply, or a reply being written, under this name in this client's
    // folder; or a job out under it that the caller knows of.
    char message[kMessageCapacity];
    const char sep[2] = {kPathSeparator, '\0'};
    if (!CopyBounded(message, sizeof message, clientId) ||
        !AppendBounded(message, sizeof message, sep) ||
        !AppendBounded(message, sizeof message, name)) {
        return true;
    }
    if (hooks.nameInUse && hooks.nameInUse(message)) {
        return true;
    }
    char reply[kPathCapacity];
    char replyLock[kPathCapacity];
    if (!PathWithLock(reply, replyLock, kPathCapacity, clientsDir, message, false)) {
        return true;
    }
    return platform::Exists(reply) || platform::Exists(replyLock);
}

int QOR_EndPointFile::SendJob(const char* body, int /*length*/, const QOR_SendHooks& hooks) {
    lastError = 0;
    // Header, then the body's own bytes up to its terminator.
    std::string job;
    job.reserve(512);
    job += "VLMP\n1\n256\n";
    job += clientId;
    job += '\n';
    struct tm local {};
    char stamp[64] = "";
    if (platform::LocalTime(platform::CurrentTime(), local)) {
        FormatAscTime(local, stamp);
    }
    job += stamp;
    job += "OrdoDesk Brisk\n";
    if (body != nullptr) {
        job += body;
    }

    // The job file is created only where no file of that name exists, so that
    // two clients that drew the same name never replace each other's job; the
    // lock file is ours alone for the same reason. A name under which a reply
    // may still be waiting is not taken either. On a clash the next name is
    // taken. The job is on disk before its lock goes, so the server never
    // takes half a job; a job that cannot be written whole is removed.
    for (int attempt = 0; attempt < kSendAttempts; ++attempt) {
        char name[kClientIdCapacity];
        char jobPath[kPathCapacity];
        char lockPath[kPathCapacity];
        if (!MakeUniqueName(name, sizeof name) ||
            !PathWithLock(jobPath, lockPath, kPathCapacity, tmpDir, name, true)) {
            lastError = ENAMETOOLONG;
            return -5;
        }
        if (NameTaken(name, hooks)) {
            continue;
        }
        int err = platform::CreateNewFile(lockPath, "", 0, false);
        if (err == EEXIST) {
            continue;
        }
        if (err != 0) {
            lastError = err;
            return -5;
        }
        err = platform::CreateNewFile(jobPath, job.data(), job.size(), true);
        if (err != 0) {
            platform::RemoveFile(lockPath);
            if (err == EEXIST) {
                continue;
            }
            lastError = err;
            return -4;
        }
        char message[kMessageCapacity];
        const char sep[2] = {kPathSeparator, '\0'};
        if (!CopyBounded(message, sizeof message, clientId) ||
            !AppendBounded(message, sizeof message, sep) ||
            !AppendBounded(message, sizeof message, name)) {
            platform::RemoveFile(jobPath);
            platform::RemoveFile(lockPath);
            lastError = ENAMETOOLONG;
            return -4;
        }
        if (hooks.beforePublish && !hooks.beforePublish(message)) {
            platform::RemoveFile(jobPath);
            platform::RemoveFile(lockPath);
            return kQorSendRefused;
        }
        std::memcpy(messageName, message, sizeof messageName);
        platform::RemoveFile(lockPath);
        return 0;
    }
    lastError = EEXIST;
    return -4;
}

int QOR_EndPointFile::SendNamed(char* outName, const char* body, int length) {
    return SendNamedWith(outName, body, length, QOR_SendHooks());
}

int QOR_EndPointFile::SendNamedWith(char* outName, const char* body, int length,
                                    const QOR_SendHooks& hooks) {
    int result = SendJob(body, length, hooks);
    if (result == 0 && outName != nullptr) {
        CopyBounded(outName, kMessageCapacity, messageName);
    }
    return result;
}

bool QOR_EndPointFile::JobPaths(const char* name, char* job, char* lock, char* withdrawn) const {
    // The job file in tmp carries the part of the message name after the
    // client's folder.
    const char* base = name != nullptr ? std::strrchr(name, kPathSeparator) : nullptr;
    base = base != nullptr ? base + 1 : name;
    if (base == nullptr || base[0] == '\0') {
        return false;
    }
    const std::string hidden = std::string(".withdrawn.") + base;
    char unusedLock[kPathCapacity];
    return PathWithLock(job, lock, kPathCapacity, tmpDir, base, true) &&
           PathWithLock(withdrawn, unusedLock, kPathCapacity, tmpDir, hidden.c_str(), true);
}

int QOR_EndPointFile::WithdrawJob(const char* name) {
    char job[kPathCapacity];
    char lock[kPathCapacity];
    char withdrawn[kPathCapacity];
    if (!JobPaths(name, job, lock, withdrawn)) {
        return ENAMETOOLONG;
    }
    if (platform::Exists(withdrawn)) {
        return 0; // moved aside before, the caller never heard
    }
    // A server takes a job by moving it away, and passes over hidden names:
    // whoever moves the file first has it.
    const int err = platform::RenameFile(job, withdrawn);
    if (err == 0) {
        platform::RemoveFile(lock); // a job that was never published
    }
    return err;
}

void QOR_EndPointFile::ForgetWithdrawnJob(const char* name) {
    char job[kPathCapacity];
    char lock[kPathCapacity];
    char withdrawn[kPathCapacity];
    if (JobPaths(name, job, lock, withdrawn)) {
        platform::RemoveFile(withdrawn);
        platform::RemoveFile(lock);
    }
}

int QOR_EndPointFile::PublishJob(const char* name) {
    char job[kPathCapacity];
    char lock[kPathCapacity];
    char withdrawn[kPathCapacity];
    if (!JobPaths(name, job, lock, withdrawn)) {
        return ENAMETOOLONG;
    }
    if (!platform::Exists(job)) {
        return ENOENT;
    }
    // The job file was synced before its record was written: it is whole.
    const int err = platform::RemoveFile(lock);
    return err == ENOENT ? 0 : err;
}

int QOR_EndPointFile::LastSystemError() const {
    return lastError;
}

int QOR_EndPointFile::JobWaiting(const char* name) const {
    char job[kPathCapacity];
    char lock[kPathCapacity];
    char withdrawn[kPathCapacity];
    if (clientId[0] == '\0' || !JobPaths(name, job, lock, withdrawn)) {
        return -1;
    }
    // A server takes a job by moving it out of tmp, so a job that is there
    // has not been taken.
    platform::FileTimes times;
    const int err = platform::GetFileTimes(job, times);
    if (err == 0) {
        return 1;
    }
    // Not there: taken, unless tmp itself is out of reach (a share that went
    // away).
    return (err == ENOENT || err == ENOTDIR) && platform::IsDirectory(tmpDir) ? 0 : -1;
}

int QOR_EndPointFile::ServerHeartbeat(int64_t now, int64_t& newestAge) const {
    char alive[kPathCapacity];
    if (clientId[0] == '\0' || !CopyBounded(alive, sizeof alive, serverPath)) {
        return -1;
    }
    char* last = LastSeparator(alive);
    if (last == nullptr) {
        return -1;
    }
    *last = '\0';
    if (!AppendPathPart(alive, sizeof alive, "Data") ||
        !AppendPathPart(alive, sizeof alive, "service") ||
        !AppendPathPart(alive, sizeof alive, "alive")) {
        return -1;
    }
    std::vector<std::string> names;
    if (const int err = platform::ListFolder(alive, names); err != 0) {
        return err == ENOENT || err == ENOTDIR ? 0 : -1;
    }
    bool found = false;
    int64_t newest = 0;
    for (const std::string& name : names) {
        char path[kPathCapacity];
        platform::FileTimes times;
        // Hidden names are heartbeats being written; a file that went meanwhile
        // was removed by its stopping server.
        if (name.empty() || name[0] == '.' || !CopyBounded(path, sizeof path, alive) ||
            !AppendPathPart(path, sizeof path, name.c_str()) || platform::IsDirectory(path) ||
            platform::GetFileTimes(path, times) != 0) {
            continue;
        }
        newest = found ? std::max(newest, times.modified) : times.modified;
        found = true;
    }
    if (found) {
        newestAge = now - newest;
    }
    return found ? 1 : 0;
}

int QOR_EndPointFile::Receive(char* text, int& capacity) {
    if (text != nullptr && capacity > 0) {
        text[0] = '\0';
    }
    const std::string key = messageName;

    auto& cache = ReplyCache();
    auto cached = cache.find(key);
    if (cached != cache.end()) {
        capacity -= static_cast<int>(cached->second.size() + 1);
        if (capacity <= 0 || text == nullptr) {
            return -3;
        }
        std::memcpy(text, cached->second.c_str(), cached->second.size() + 1);
        return 0;
    }

    if (platform::Exists((key + ".lock").c_str())) {
        return -5;
    }
    platform::FileTimes times;
    if (int err = platform::GetFileTimes(key.c_str(), times); err != 0) {
        return err;
    }
    std::FILE* file = std::fopen(key.c_str(), "rb");
    if (file == nullptr) {
        return -3;
    }

    // The capacity counts the lines' lengths, as the callers expect; the text
    // itself is bounded by the buffer: a line goes in only while it, its
    // newline and the two time lines still leave room for the terminator.
    char times_text[48];
    std::snprintf(times_text, sizeof times_text, "%lld\n%lld\n",
                  static_cast<long long>(times.modified), static_cast<long long>(times.created));
    const std::size_t timesLength = std::strlen(times_text);
    const std::size_t room = text != nullptr && capacity > 1
                                 ? static_cast<std::size_t>(capacity) - 1
                                 : 0; // bytes before the terminator
    std::string reply;
    bool full = false;
    int remaining = capacity;
    char line[kReplyLineMax + 1];
    std::vector<std::string> lines; // the first lines, to tell a whole reply
    int last = EOF;                 // the file's last byte
    for (;;) {
        int length = 0;
        int c = EOF;
        while ((c = std::fgetc(file)) != EOF && c != '\n' && c != '\r') {
            if (length < kReplyLineMax) {
                line[length++] = static_cast<char>(c);
            }
            last = c;
        }
        if (c != EOF) {
            last = c;
        }
        if (length == 0 && c == EOF) {
            break;
        }
        if (length > 0 && lines.size() < 6) {
            lines.emplace_back(line, static_cast<std::size_t>(length));
        }
        remaining -= length;
        if (remaining > 0 && length > 0 && !full) {
            if (reply.size() + length + 1 + timesLength < room) {
                reply.append(line, length);
                reply += '\n';
            } else {
                full = true; // later lines would leave a gap
            }
        }
        if (c == EOF) {
            break;
        }
    }
    std::fclose(file);

    // A server writes its reply under a lock; one that writes without it (or
    // a lock that went early) can leave a reply that is not whole yet. Such a
    // text is no answer: it is neither given nor kept, and read again later.
    // One that stays short of a whole reply long after its last change was
    // cut short: it will never be whole, and the client is told so.
    const bool lastLineEnded = last == '\n' || last == '\r';
    const int64_t age = platform::CurrentTime() - times.modified;
    const bool settled = age >= kReplySettleSeconds;
    if (!ReplyLinesWhole(lines)) {
        return age >= kReplyCutSeconds ? kQorReplyCut : kQorReplyIncomplete;
    }
    if (!lastLineEnded && !settled) {
        return kQorReplyIncomplete;
    }
    capacity = remaining;

    if (reply.size() + timesLength < room) {
        reply += times_text;
    }
    if (room > 0) {
        std::memcpy(text, reply.c_str(), reply.size() + 1);
    }

    // The file stays until the reply is released, so that a reply read just
    // before the host stops is read again next time.
    cache.emplace(key, std::move(reply));
    return 0;
}

int QOR_EndPointFile::ReceiveFor(const char* name, char* text, int& capacity) {
    char message[kMessageCapacity];
    if (!CopyBounded(message, sizeof message, clientsDir) ||
        !AppendBounded(message, sizeof message, name != nullptr ? name : "")) {
        if (text != nullptr && capacity > 0) {
            text[0] = '\0';
        }
        return -3; // a cut name would read another client's reply
    }
    std::memcpy(messageName, message, sizeof messageName);
    return Receive(text, capacity);
}

int QOR_EndPointFile::GetState(bool checkAccess) {
    if (checkAccess && !platform::Exists(serviceDir)) {
        state = 0;
        return 0;
    }
    if (state == 1 && platform::Exists(clientsDir)) {
        state = 2;
    }
    return state;
}

char* QOR_EndPointFile::GetMessageName(char* out, int capacity) const {
    if (out != nullptr && capacity > 0) {
        CopyBounded(out, static_cast<std::size_t>(capacity), messageName);
    }
    return out;
}

QOR_FileStream* QOR_EndPointFile::OpenDataStream(const char* fileName) const {
    char path[kPathCapacity];
    if (!CopyBounded(path, sizeof path, serverPath)) {
        return nullptr;
    }
    char* last = LastSeparator(path);
    if (last == nullptr || fileName == nullptr) {
        return nullptr;
    }
    *last = '\0';
    if (!AppendPathPart(path, sizeof path, "Data") ||
        !AppendPathPart(path, sizeof path, fileName)) {
        return nullptr;
    }
    auto* stream = new QOR_FileStream();
    try {
        stream->Open(path, "rb");
    } catch (const IMG_Exception&) {
        delete stream;
        return nullptr;
    }
    return stream;
}

char* QOR_EndPointFile::GetServerPath(char* out, int capacity) const {
    if (out != nullptr && capacity > 0) {
        CopyBounded(out, static_cast<std::size_t>(capacity), serverPath);
    }
    return out;
}

int QOR_EndPointFile::ReleaseReply(const char* name) {
    std::string key = std::string(clientsDir) + (name != nullptr ? name : "");
    auto& cache = ReplyCache();
    const bool cached = cache.erase(key) != 0;
    // A reply read by an earlier run of the client is no longer held here,
    // but its file is still released.
    const bool removed = platform::RemoveFile(key.c_str()) == 0;
    return cached || removed ? 0 : -3;
}

void QOR_EndPointFile::SetSuffixForTesting(const char* value) {
    CopyBounded(suffix, sizeof suffix, value);
}

void QOR_EndPointFile::ResetProcessStateForTesting() {
    lastTimeStamp = 0;
    ReplyCache().clear();
}

std::size_t QOR_EndPointFile::CachedReplyCount() {
    return ReplyCache().size();
}
