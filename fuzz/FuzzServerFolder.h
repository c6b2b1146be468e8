#pragma once

// A throw-away server folder for the configuration fuzz targets: an endpoint
// whose Data folder lies in a fresh temporary folder, removed at exit.

#include "../tests/serverlink/FolderEndPoint.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

class FuzzServerFolder : public FolderEndPoint {
public:
    FuzzServerFolder() : FolderEndPoint(MakeRoot()) {
        std::filesystem::create_directories(DataPath("profiles"));
    }
    ~FuzzServerFolder() override {
        std::error_code ec;
        std::filesystem::remove_all(Root(), ec);
    }
    FuzzServerFolder(const FuzzServerFolder&) = delete;
    FuzzServerFolder& operator=(const FuzzServerFolder&) = delete;

    std::string ProfilePath(const std::string& name) const {
        return DataPath(std::string("profiles") + kPathSeparator + name);
    }

    // Writes bytes as a file of the Data folder (or removes it for null data).
    void Put(const std::string& path, const uint8_t* data, std::size_t size) const {
        if (data == nullptr) {
            std::error_code ec;
            std::filesystem::remove(path, ec);
            return;
        }
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    void Put(const std::string& path, const std::string& text) const {
        Put(path, reinterpret_cast<const uint8_t*>(text.data()), text.size());
    }

    // The folder goes with this object: no copies.
    QOR_EndPoint* Clone() const override { return nullptr; }

private:
    static std::string MakeRoot() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "ordodesk-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        return pattern;
    }
};
