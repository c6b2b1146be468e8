#include "Volumes.h"

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

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
    bool inside = false;
    for (const std::string& v : volumes) {
        inside = inside || Inside(folder, v);
    }
    if (!inside) {
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
