#include "ClaimFolder.h"

#include "JobFile.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Where a "~N" mark begins in the name, or npos when it has none.
std::size_t MarkAt(const std::string& name) {
    std::size_t tilde = name.rfind('~');
    if (tilde == std::string::npos || tilde == 0 || tilde + 1 == name.size()) {
        return std::string::npos;
    }
    for (std::size_t i = tilde + 1; i < name.size(); ++i) {
        if (std::isdigit(static_cast<unsigned char>(name[i])) == 0) {
            return std::string::npos;
        }
    }
    return tilde;
}

constexpr const char* kRecordEnds[] = {kOutputRecordEnd, kTargetRecordEnd, kAnsweredEnd};

bool Taken(const std::string& folder, const std::string& name) {
    struct stat st {};
    const std::string path = folder + "/" + name;
    if (::lstat(path.c_str(), &st) == 0) {
        return true;
    }
    for (const char* end : kRecordEnds) {
        if (::lstat((path + end).c_str(), &st) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

std::string DefaultServerId() {
    char host[HOST_NAME_MAX + 1] = {};
    if (::gethostname(host, sizeof host - 1) == 0 && IsPlainFolderName(host)) {
        return host;
    }
    return "server";
}

bool IsRecordName(const std::string& name) {
    for (const char* end : kRecordEnds) {
        if (EndsWith(name, end)) {
            return true;
        }
    }
    return false;
}

std::string ClaimName(const std::string& claimFolder, const std::string& job) {
    if (MarkAt(job) == std::string::npos && !IsRecordName(job) && !Taken(claimFolder, job)) {
        return job;
    }
    std::string name;
    for (unsigned n = 1;; ++n) {
        name = job + "~" + std::to_string(n);
        if (!Taken(claimFolder, name)) {
            return name;
        }
    }
}

std::string JobNameOf(const std::string& claimed) {
    std::size_t mark = MarkAt(claimed);
    return mark == std::string::npos ? claimed : claimed.substr(0, mark);
}

std::string TargetRecordText(const TargetRecord& r) {
    std::string text;
    for (const std::string* line : {&r.target, &r.part, &r.status, &r.message}) {
        for (char c : *line) {
            text.push_back(c == '\n' || c == '\r' ? ' ' : c);
        }
        text.push_back('\n');
    }
    return text;
}

bool ParseTargetRecord(const std::string& text, TargetRecord& r) {
    std::string* lines[] = {&r.target, &r.part, &r.status, &r.message};
    std::size_t pos = 0;
    for (std::string* line : lines) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) {
            return false;
        }
        *line = text.substr(pos, end - pos);
        pos = end + 1;
    }
    return !r.target.empty() && !r.part.empty();
}

ClaimLock::~ClaimLock() {
    if (fd >= 0) {
        ::close(fd); // the lock goes with the last descriptor of the open file
    }
}

int ClaimLock::Take(const std::string& folder) {
    if (fd >= 0) {
        return 0;
    }
    const std::string owner = folder + "/.owner";
    int f = ::open(owner.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (f < 0) {
        return errno;
    }
    if (::flock(f, LOCK_EX | LOCK_NB) != 0) {
        int rc = errno;
        ::close(f);
        return rc;
    }
    // Who holds it, for the message of a server refused.
    const std::string holder = std::to_string(::getpid()) + "\n";
    if (::ftruncate(f, 0) != 0 || ::write(f, holder.data(), holder.size()) < 0) {
        // the lock holds all the same
    }
    fd = f;
    return 0;
}
