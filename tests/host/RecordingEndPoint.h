#pragma once

// An endpoint for tests that send orders: it keeps every ticket it is given
// and names the jobs job0001, job0002, ... or refuses with the answer set.

#include "QOR_EndPoint.h"

#include <cstdio>
#include <string>
#include <vector>

class RecordingEndPoint : public QOR_EndPoint {
public:
    QOR_EndPoint* Clone() const override { return new RecordingEndPoint(*this); }
    int OpenPath(const char*) override { return 0; }
    int Open(const char*) override { return 0; }
    int ConnectPath(const char*) override { return 0; }
    int Connect(const char*) override { return 0; }
    int Disconnect() override { return 0; }
    int Send(const char*, int) override { return -1; }
    int SendNamed(char* outName, const char* body, int length) override {
        bodies.emplace_back(body);
        lastLength = length;
        if (answer != 0) {
            return answer;
        }
        std::snprintf(outName, 512, "job%04d", static_cast<int>(bodies.size()));
        return 0;
    }
    int Receive(char*, int&) override { return -1; }
    int ReceiveFor(const char*, char*, int&) override { return -1; }
    int GetState(bool) override { return 1; }
    char* GetMessageName(char* out, int capacity) const override {
        if (capacity > 0) {
            out[0] = '\0';
        }
        return out;
    }
    QOR_FileStream* OpenDataStream(const char*) const override { return nullptr; }
    char* GetServerPath(char* out, int capacity) const override {
        return GetMessageName(out, capacity);
    }
    int ReleaseReply(const char*) override { return -3; }

    int Calls() const { return static_cast<int>(bodies.size()); }
    std::string LastBody() const { return bodies.empty() ? std::string() : bodies.back(); }

    int answer = 0;
    int lastLength = 0;
    std::vector<std::string> bodies;
};
