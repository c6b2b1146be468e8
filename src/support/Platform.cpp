#include "Platform.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {
int64_t (*timeSource)() = nullptr;
int (*writeFault)(const char*) = nullptr;
} // namespace

int64_t CurrentTime() {
    return timeSource != nullptr ? timeSource() : std::time(nullptr);
}

void SetTimeSourceForTesting(int64_t (*source)()) {
    timeSource = source;
}

bool LocalTime(int64_t t, struct ::tm& out) {
    std::time_t tt = static_cast<std::time_t>(t);
    return ::localtime_r(&tt, &out) != nullptr;
}

bool StandardTime(int64_t t, struct ::tm& out) {
    ::tzset();
    // timezone: seconds west of UTC of the zone's standard time.
    std::time_t tt = static_cast<std::time_t>(t - static_cast<int64_t>(::timezone));
    if (::gmtime_r(&tt, &out) == nullptr) {
        return false;
    }
    out.tm_isdst = 0;
    return true;
}

void SetWriteFaultForTesting(int (*fault)(const char*)) {
    writeFault = fault;
}

bool Exists(const char* path) {
    return path != nullptr && ::access(path, F_OK) == 0;
}

bool IsDirectory(const char* path) {
    struct stat st {};
    return path != nullptr && ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

int CheckReadableFile(const char* path) {
    struct stat st {};
    if (path == nullptr || ::stat(path, &st) != 0) {
        return path == nullptr ? EINVAL : errno;
    }
    if (S_ISDIR(st.st_mode)) {
        return EISDIR;
    }
    if (!S_ISREG(st.st_mode)) {
        return EINVAL;
    }
    return ::access(path, R_OK) == 0 ? 0 : errno;
}

int GetFileTimes(const char* path, FileTimes& times) {
#if defined(STATX_BTIME)
    struct statx sx {};
    if (::statx(AT_FDCWD, path, 0, STATX_MTIME | STATX_BTIME | STATX_CTIME, &sx) != 0) {
        return errno;
    }
    times.modified = sx.stx_mtime.tv_sec;
    times.created = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime.tv_sec : sx.stx_ctime.tv_sec;
    return 0;
#else
    struct stat st {};
    if (::stat(path, &st) != 0) {
        return errno;
    }
    times.modified = st.st_mtime;
    times.created = st.st_ctime;
    return 0;
#endif
}

int CreateEmptyFile(const char* path) {
    int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        return errno;
    }
    return ::close(fd) == 0 ? 0 : errno;
}

int CreateNewFile(const char* path, const void* data, std::size_t size, bool sync) {
    int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        return errno;
    }
    const char* p = static_cast<const char*>(data);
    int err = writeFault != nullptr && size > 0 ? writeFault(path) : 0;
    while (err == 0 && size > 0) {
        ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            err = errno;
            break;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    if (err == 0 && sync && ::fsync(fd) != 0) {
        err = errno;
    }
    if (::close(fd) != 0 && err == 0) {
        err = errno;
    }
    if (err != 0) {
        ::unlink(path);
    }
    return err;
}

int RemoveFile(const char* path) {
    return ::unlink(path) == 0 ? 0 : errno;
}

int ListFolder(const char* path, std::vector<std::string>& names) {
    names.clear();
    DIR* dir = ::opendir(path);
    if (dir == nullptr) {
        return errno;
    }
    while (const dirent* d = ::readdir(dir)) {
        const std::string name = d->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    ::closedir(dir);
    return 0;
}

int MakeDirectory(const char* path) {
    return ::mkdir(path, 0777) == 0 ? 0 : errno;
}

// ---- whole files

int WriteFileAtomically(const char* path, const void* data, std::size_t size) {
    std::string target = path != nullptr ? path : "";
    const std::size_t slash = target.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    if (name.empty()) {
        return EINVAL;
    }
    const std::string hidden = folder + "/." + name + "." + std::to_string(::getpid()) + ".part";
    ::unlink(hidden.c_str()); // a leftover of a run that was stopped
    int err = CreateNewFile(hidden.c_str(), data, size, true);
    if (err != 0) {
        return err;
    }
    if (::rename(hidden.c_str(), target.c_str()) != 0) {
        err = errno;
        ::unlink(hidden.c_str());
        return err;
    }
    return SyncDirectory(folder.c_str());
}

int RenameFile(const char* from, const char* to) {
    return ::rename(from, to) == 0 ? 0 : errno;
}

int SyncDirectory(const char* path) {
    int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    int err = ::fsync(fd) == 0 ? 0 : errno;
    // Some file systems cannot sync a folder; that is no failure of the save.
    if (err == EINVAL || err == EROFS) {
        err = 0;
    }
    ::close(fd);
    return err;
}

int ReadWholeFile(const char* path, std::size_t maxSize, std::string& out) {
    out.clear();
    int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return errno;
    }
    struct stat st {};
    int err = 0;
    if (::fstat(fd, &st) != 0) {
        err = errno;
    } else if (S_ISDIR(st.st_mode)) {
        err = EISDIR;
    } else if (!S_ISREG(st.st_mode)) {
        err = EINVAL;
    } else if (static_cast<unsigned long long>(st.st_size) > maxSize) {
        err = EFBIG;
    }
    if (err == 0) {
        // The size may change while reading; never read past maxSize.
        out.resize(static_cast<std::size_t>(st.st_size));
        std::size_t done = 0;
        for (;;) {
            if (done == out.size()) {
                if (out.size() >= maxSize) {
                    char probe;
                    ssize_t more = ::read(fd, &probe, 1);
                    if (more > 0) {
                        err = EFBIG;
                    }
                    break;
                }
                out.resize(std::min(maxSize, out.size() + 65536));
            }
            ssize_t n = ::read(fd, out.data() + done, out.size() - done);
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                err = errno;
                break;
            }
            if (n == 0) {
                break;
            }
            done += static_cast<std::size_t>(n);
        }
        out.resize(done);
    }
    ::close(fd);
    if (err != 0) {
        out.clear();
    }
    return err;
}

} // namespace platform
