#include "TempDir.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "ordodesk-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a temporary folder");
    }
    path = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
}

std::string TempDir::operator/(const std::string& name) const {
    return (fs::path(path) / name).string();
}

void WriteFile(const std::string& path, const std::string& bytes) {
    fs::path p(path);
    if (p.has_parent_path()) {
        fs::create_directories(p.parent_path());
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> FolderNames(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

int CountLines(const std::string& folder, const std::string& text) {
    int n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::istringstream lines(ReadFile(entry.path().string()));
        std::string line;
        while (std::getline(lines, line)) {
            n += line == text ? 1 : 0;
        }
    }
    return n;
}

void MakeDirs(const std::string& path) {
    fs::create_directories(path);
}

bool PathExists(const std::string& path) {
    return fs::exists(path);
}

std::string MakeServerTree(const std::string& root, bool withQor2) {
    fs::path r(root);
    fs::create_directories(r / "Data" / "service");
    if (withQor2) {
        fs::create_directories(r / "Data" / "service" / "qor2");
    }
    fs::create_directories(r / "Data" / "tmp");
    fs::create_directories(r / "Data" / "clients");
    std::string server = (r / "qorserver").string();
    WriteFile(server, "");
    return server;
}

std::string SharedTestData() {
    const char* dir = std::getenv("ORDODESK_TESTDATA");
    if (dir == nullptr || !fs::is_directory(dir)) {
        return "";
    }
    return dir;
}

AsUnprivilegedUser::AsUnprivilegedUser() {
    if (::geteuid() != 0) {
        active = true;
        return;
    }
    wasRoot = true;
    // "nobody" on Debian; the real and saved IDs stay 0, so the change can be undone.
    const gid_t nogroup = 65534;
    const uid_t nobody = 65534;
    active = ::setegid(nogroup) == 0 && ::seteuid(nobody) == 0;
}

AsUnprivilegedUser::~AsUnprivilegedUser() {
    if (wasRoot) {
        if (::seteuid(0) != 0 || ::setegid(0) != 0) {
            std::abort(); // later tests would run with the wrong rights
        }
    }
}
