#pragma once

// An endpoint over a folder whose Data holds the server's configuration files;
// everything but the two calls the configuration loaders make fails.

#include "IMG_Exception.h"
#include "Paths.h"
#include "QOR_EndPoint.h"
#include "QOR_Stream.h"

#include <cstddef>
#include <memory>
#include <string>
#include <utility>

class FolderEndPoint : public QOR_EndPoint {
public:
    explicit FolderEndPoint(std::string root) : root(std::move(root)) {}

    const std::string& Root() const { return root; }
    std::string DataPath(const std::string& name) const {
        return root + kPathSeparator + "Data" + kPathSeparator + name;
    }

    QOR_EndPoint* Clone() const override { return new FolderEndPoint(root); }
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
