#include "Volumes.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// The path with every symbolic link resolved; empty when it does not exist.
std::string Real(const std::string& path) {
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) != nullptr ? std::string(buffer) : std::string();
}

bool Inside(const std::string& path, const std::string& folder) {
    if (folder == "/") {
        return true;
    }
    return path == folder ||
           (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
            path[folder.size()] == '/');
}

bool InsideAny(const std::vector<std::string>& volumes, const std::string& path) {
    return std::any_of(volumes.begin(), volumes.end(),
                       [&](const std::string& v) { return Inside(path, v); });
}

} // namespace

std::string VolumesText(const std::string& root, const std::vector<std::string>& volumes) {
    std::ostringstream s;
    s << "## folders this server reads images from and writes results into, one full path a\n"
      << "## line; its own tree always counts\n";
    if (volumes.empty()) {
        s << fs::absolute(root).lexically_normal().parent_path().string() << "\n";
    }
    for (const std::string& v : volumes) {
        s << fs::absolute(v).lexically_normal().string() << "\n";
    }
    return s.str();
}

std::vector<std::string> ReadVolumes(const ServerFolders& folders) {
    std::vector<std::string> named;
    std::ifstream in(fs::path(folders.data) / kVolumesFile);
    if (!in) {
        named.push_back(fs::absolute(folders.root).lexically_normal().parent_path().string());
    }
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!line.empty() && line.rfind("##", 0) != 0 && fs::path(line).is_absolute()) {
            named.push_back(line);
        }
    }
    named.push_back(folders.root);
    std::vector<std::string> volumes;
    for (const std::string& v : named) {
        if (std::string real = Real(v); !real.empty()) {
            volumes.push_back(real);
        }
    }
    return volumes;
}

bool CheckTicketPath(const std::vector<std::string>& volumes, const std::string& path, bool input,
                     std::string& resolved, std::string& error) {
    const char* what = input ? "input" : "output";
    const fs::path p(path);
    if (!p.is_absolute()) {
        error = std::string(what) + " path is not a full path: " + path;
        return false;
    }
    for (const fs::path& part : p) {
        if (part == ".." || part == ".") {
            error = std::string(what) + " path holds \"..\" or \".\": " + path;
            return false;
        }
    }
    const std::string folder = Real(p.parent_path().string());
    if (folder.empty()) {
        error = std::string(what) + " folder does not exist: " + p.parent_path().string();
        return false;
    }
    if (!InsideAny(volumes, folder)) {
        error = std::string(what) + " path lies outside the volumes this server serves: " + path;
        return false;
    }
    resolved = (fs::path(folder) / p.filename()).string();
    struct stat st {};
    const bool exists = ::lstat(resolved.c_str(), &st) == 0;
    if (exists && S_ISLNK(st.st_mode)) {
        error = std::string(what) +
                " path is a symbolic link, which this server does not follow: " + path;
        return false;
    }
    if (input && !(exists && S_ISREG(st.st_mode))) {
        error = exists ? "input is not a plain file: " + path : "input image not found: " + path;
        return false;
    }
    return true;
}

TicketPath::~TicketPath() {
    if (fd >= 0) {
        ::close(fd);
    }
}

bool TicketPath::Open(const std::vector<std::string>& volumes, const std::string& path, bool input,
                      std::string& error) {
    std::string resolved;
    if (!CheckTicketPath(volumes, path, input, resolved, error)) {
        return false;
    }
    const std::string what = input ? "input" : "output";
    const std::string target = input ? resolved : fs::path(resolved).parent_path().string();
    // An input is not opened with close-on-exec: Ghostscript reads it through
    // the descriptor it inherits. Opened without blocking, a pipe put there
    // meanwhile does not hold the job up; fstat then refuses it.
    const int flags =
        input ? O_RDONLY | O_NOFOLLOW | O_NONBLOCK : O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    fd = ::open(target.c_str(), flags);
    if (fd < 0) {
        error = what + (input ? " image" : " folder") + " cannot be opened: " + path + " (" +
                std::strerror(errno) + ")";
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || (input && !S_ISREG(st.st_mode))) {
        error = "input is not a plain file: " + path;
        return false;
    }
    if (input) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    }
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    char real[PATH_MAX];
    const ssize_t n = ::readlink(self.c_str(), real, sizeof real - 1);
    if (n <= 0) {
        io = target;
        return true;
    }
    // Where it really is, now that it is open.
    const std::string opened(real, static_cast<std::size_t>(n));
    const std::string folder = input ? fs::path(opened).parent_path().string() : opened;
    if (!InsideAny(volumes, folder)) {
        error =
            what + " path led outside the volumes this server serves while it was opened: " + path;
        return false;
    }
    io = input ? "/dev/fd/" + std::to_string(fd) : self;
    return true;
}
