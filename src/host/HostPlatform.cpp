#include "HostPlatform.h"

#include "Platform.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace {

struct PlatformState {
    std::string systemFolder;
};

PlatformState& State() {
    static PlatformState state;
    return state;
}

std::string RunningProgram() {
    char buffer[4096];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buffer) {
        return std::string();
    }
    return std::string(buffer, static_cast<std::size_t>(n));
}

} // namespace

void HostPlatform::SetSystemFolder(const std::string& path) {
    std::string folder = path;
    while (folder.size() > 1 && folder.back() == kSeparator) {
        folder.pop_back();
    }
    State().systemFolder = folder;
}

const std::string& HostPlatform::GetSystemFolder() {
    return State().systemFolder;
}

std::size_t HostPlatform::GetSystemFolder(char* buffer, std::size_t capacity) {
    const std::string& folder = State().systemFolder;
    if (folder.empty() || folder.size() > kSystemFolderMax) {
        if (buffer != nullptr && capacity > 0) {
            buffer[0] = '\0';
        }
        return 0;
    }
    if (buffer == nullptr || folder.size() + 1 > capacity) {
        if (buffer != nullptr && capacity > 0) {
            buffer[0] = '\0';
        }
        return folder.size() + 1;
    }
    std::memcpy(buffer, folder.c_str(), folder.size() + 1);
    return folder.size();
}

std::string HostPlatform::GetModulePath() {
    return RunningProgram();
}

bool HostPlatform::Access(const char* path) {
    return platform::Exists(path);
}

bool HostPlatform::IsDirectory(const char* path) {
    return platform::IsDirectory(path);
}

int HostPlatform::Stat(const char* path, FileInfo& info) {
    if (path == nullptr) {
        return EINVAL;
    }
    platform::FileTimes times;
    if (int err = platform::GetFileTimes(path, times); err != 0) {
        return err;
    }
    info.isDirectory = platform::IsDirectory(path);
    info.modified = times.modified;
    info.created = times.created;
    return 0;
}

int HostPlatform::Unlink(const char* path) {
    return path != nullptr ? platform::RemoveFile(path) : EINVAL;
}

int HostPlatform::ListFiles(const char* folder, std::vector<std::string>& names) {
    names.clear();
    if (folder == nullptr) {
        return EINVAL;
    }
    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec);
    std::vector<std::string> found;
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        std::error_code kind;
        if (it->is_regular_file(kind)) {
            found.push_back(it->path().filename().string());
        }
    }
    if (ec) {
        return ec.value();
    }
    std::sort(found.begin(), found.end());
    names = std::move(found);
    return 0;
}

void HostPlatform::Reset() {
    State() = PlatformState();
}
