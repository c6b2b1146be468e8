#pragma once

#include <cstddef>
#include <cstdint>

class QOR_FileStream;

// The client end of the hot-folder link to the QOR server. Every exchange goes
// through files in the server's folder tree: job files into Data/tmp, replies
// from Data/clients/<clientId>, configuration files from Data.
class QOR_EndPoint {
public:
    virtual ~QOR_EndPoint();
    virtual QOR_EndPoint* Clone() const = 0;
    // Copies the link of another endpoint of the same kind (never its message name).
    virtual QOR_EndPoint& Assign(const QOR_EndPoint& other);
    virtual int OpenPath(const char* hostPath) = 0;
    virtual int Open(const char* path) = 0;
    virtual int ConnectPath(const char* hostPath) = 0;
    virtual int Connect(const char* path) = 0;
    virtual int Disconnect() = 0;
    virtual int Send(const char* body, int length) = 0;
    virtual int SendNamed(char* outName, const char* body, int length) = 0;
    virtual int Receive(char* text, int& capacity) = 0;
    virtual int ReceiveFor(const char* messageName, char* text, int& capacity) = 0;
    virtual int GetState(bool checkAccess) = 0;
    virtual char* GetMessageName(char* out, int capacity) const = 0;
    // Opens <root>/Data/<fileName> for reading; the caller owns the stream. Null
    // when the file cannot be opened.
    virtual QOR_FileStream* OpenDataStream(const char* fileName) const = 0;
    virtual char* GetServerPath(char* out, int capacity) const = 0;
    virtual int ReleaseReply(const char* messageName) = 0;
};
