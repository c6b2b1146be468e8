#include "FileSteps.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int SyncDescriptorOf(const std::string& path, int flags) {
    int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    int rc = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return rc;
}

int WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return n < 0 ? errno : EIO;
        }
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

} // namespace

int SyncFile(const std::string& path) {
    return SyncDescriptorOf(path, O_RDONLY);
}

int SyncFolder(const std::string& folder) {
    return SyncDescriptorOf(folder, O_RDONLY | O_DIRECTORY);
}

std::string HiddenName(const std::string& name, const std::string& tag) {
    return "." + name + "." + tag + ".part";
}

bool IsHiddenName(const std::string& fileName, const std::string& tag, bool anyProcess) {
    const std::string end = ".part";
    if (tag.empty() || fileName.size() < 2 + tag.size() + end.size() || fileName[0] != '.' ||
        fileName.compare(fileName.size() - end.size(), end.size(), end) != 0) {
        return false;
    }
    std::string rest = fileName.substr(0, fileName.size() - end.size());
    const std::string withTag = "." + tag;
    auto endsWithTag = [&] {
        return rest.size() > withTag.size() + 1 &&
               rest.compare(rest.size() - withTag.size(), withTag.size(), withTag) == 0;
    };
    if (endsWithTag()) {
        return true;
    }
    const std::size_t digits = rest.find_last_not_of("0123456789");
    if (!anyProcess || digits == std::string::npos || digits + 1 == rest.size() ||
        rest[digits] != '.') {
        return false;
    }
    rest.resize(digits);
    return endsWithTag();
}

int PublishFile(const std::string& folder, const std::string& name, const std::string& text,
                const std::string& tag) {
    const std::string hidden = folder + "/" + HiddenName(name, tag);
    const std::string target = folder + "/" + name;
    int fd = ::open(hidden.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return errno;
    }
    int rc = WriteAll(fd, text);
    if (rc == 0 && ::fsync(fd) != 0) {
        rc = errno;
    }
    if (::close(fd) != 0 && rc == 0) {
        rc = errno;
    }
    if (rc == 0 && ::rename(hidden.c_str(), target.c_str()) != 0) {
        rc = errno;
    }
    if (rc != 0) {
        ::unlink(hidden.c_str());
        return rc;
    }
    return SyncFolder(folder);
}

int MoveWithoutReplacing(const std::string& from, const std::string& to) {
    struct stat source {};
    struct stat there {};
    int rc = ::link(from.c_str(), to.c_str()) == 0 ? 0 : errno;
    if (rc == EEXIST && ::stat(from.c_str(), &source) == 0 && ::stat(to.c_str(), &there) == 0 &&
        source.st_dev == there.st_dev && source.st_ino == there.st_ino) {
        rc = 0; // made by this call, though a network file system answered otherwise
    }
    if (rc == 0) {
        ::unlink(from.c_str());
        return 0;
    }
    if (rc != EPERM && rc != EOPNOTSUPP) {
        return rc;
    }
    if (::lstat(to.c_str(), &there) == 0) {
        return EEXIST;
    }
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

int RenameWithoutReplacing(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    const int rc = errno;
    if (rc != EINVAL && rc != ENOSYS && rc != EOPNOTSUPP) {
        return rc;
    }
    struct stat there {};
    if (::lstat(to.c_str(), &there) == 0) {
        return EEXIST;
    }
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}
