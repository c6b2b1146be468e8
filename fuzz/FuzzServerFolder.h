#pragma once

// A throw-away server folder for the configuration fuzz targets: an endpoint
// whose Data folder lies in a fresh temporary folder, removed at exit.

#include "IMG_Exception.h"
#include "Paths.h"
#include "QOR_EndPoint.h"
#include "QOR_Stream.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <system_error>

class FuzzServerFolder : public QOR_EndPoint {
public:
    FuzzServerFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "ordodesk-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        root = pattern;
        std::filesystem::create_directories(DataPath("profiles"));
    }
    ~FuzzServerFolder() override {
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
    FuzzServerFolder(const FuzzServerFolder&) = delete;
    FuzzServerFolder& operator=(const FuzzServerFolder&) = delete;

    const std::string& Root() const { return root; }
    std::string DataPath(const std::string& name) const {
        return root + kPathSeparator + "Data" + kPathSeparator + name;
    }
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

    QOR_EndPoint* Clone() const override { return nullptr; }
    int OpenPath(const char*) override { return -1; }
    int Open(const char*) override { return -1; }
    int ConnectPath(const char*) override { return -1; }
    int Connect(const char*) override { return -1; }
    int Disconnect() override { return -1; }
    int Send(const char*, int) override { return -1; }
    int SendNamed(char*, const char*, int) override { return -1; }
    int Receive(char*, int&) override { return -1; }
    int ReceiveFor(const char*, char*, int&) override { return -1; }
    int GetState(bool) override { return -1; }
    char* GetMessageName(char* out, int) const override { return out; }
    int ReleaseReply(const char*) override { return -1; }

    QOR_FileStream* OpenDataStream(const char* fileName) const override {
        auto stream = std::make_unique<QOR_FileStream>();
        try {
            stream->Open(DataPath(fileName).c_str(), "rb");
        } catch (const IMG_Exception&) {
            return nullptr;
        }
        return stream.release();
    }
    char* GetServerPath(char* out, int capacity) const override {
        CopyBounded(out, static_cast<std::size_t>(capacity),
                    (root + kPathSeparator + "QORServer").c_str());
        return out;
    }

private:
    std::string root;
};
