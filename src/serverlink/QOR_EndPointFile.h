#pragma once

#include "QOR_EndPoint.h"

#include <cstdint>

// The hot-folder endpoint. Folders, relative to the server's root (the folder
// that holds the server application named by the server path):
//   Data/service        must exist for Open
//   Data/service/qor2   must exist for Connect
//   Data/tmp            job files and their lock files are written here
//   Data/clients/<clientId>/<job>   the reply to a job, with "<job>.lock"
//                       beside it while the server writes it
//   Data/service/alive/<serverId>   a running server's heartbeat: rewritten
//                       whole every 2 seconds at least, removed when the
//                       server stops; one line "qor-refserver <serverId> <pid>
//                       <unix seconds> idle", or "... busy <job file name>".
//                       Only its modification time is read here; names
//                       starting with '.' are a server's files being written
//   Data/<file>         the server's configuration files
class QOR_EndPointFile : public QOR_EndPoint {
public:
    static constexpr int kPathCapacity = 513;
    static constexpr int kClientIdCapacity = 257;
    static constexpr int kMessageCapacity = 512;

    QOR_EndPointFile();
    ~QOR_EndPointFile() override;

    QOR_EndPoint* Clone() const override;
    QOR_EndPoint& Assign(const QOR_EndPoint& other) override;
    int OpenPath(const char* hostPath) override;
    int Open(const char* path) override;
    int ConnectPath(const char* hostPath) override;
    int Connect(const char* path) override;
    int Disconnect() override;
    // Writes one job file; exactly strlen(body) bytes are written whatever the
    // length says. 0, -5 when the lock file cannot be made, -4 when the job
    // file cannot.
    int Send(const char* body, int length) override;
    int SendNamed(char* outName, const char* body, int length) override;
    // Send with the sender's hooks: a name the hooks say is in use is not
    // taken, and beforePublish runs while the job is still locked.
    int SendNamedWith(char* outName, const char* body, int length,
                      const QOR_SendHooks& hooks) override;
    int WithdrawJob(const char* messageName) override;
    void ForgetWithdrawnJob(const char* messageName) override;
    int PublishJob(const char* messageName) override;
    int LastSystemError() const override;
    // -1 before a successful Open or Connect, for a name that does not fit,
    // or when Data/tmp cannot be looked at.
    int JobWaiting(const char* messageName) const override;
    // Looks at the files of Data/service/alive; 0 when the folder is missing
    // or holds none, -1 before a successful Open or Connect or when the
    // folder cannot be read.
    int ServerHeartbeat(int64_t now, int64_t& newestAge) const override;
    // Reads the reply named by the message name into text, which holds
    // capacity bytes; never writes past it.
    int Receive(char* text, int& capacity) override;
    int ReceiveFor(const char* messageName, char* text, int& capacity) override;
    int GetState(bool checkAccess) override;
    char* GetMessageName(char* out, int capacity) const override;
    QOR_FileStream* OpenDataStream(const char* fileName) const override;
    char* GetServerPath(char* out, int capacity) const override;
    // Forgets a reply that was read and deletes its file. 0, or -3 when no
    // such reply is held and there is no such file.
    int ReleaseReply(const char* messageName) override;

    const char* ClientId() const { return clientId; }
    const char* Suffix() const { return suffix; }

    // Sets the job-name suffix, as if this endpoint had drawn it.
    void SetSuffixForTesting(const char* value);
    // Forgets the process-wide time stamp and reply cache, as a new process would.
    static void ResetProcessStateForTesting();
    // Number of replies held in the process-wide cache.
    static std::size_t CachedReplyCount();

private:
    enum class Check { open, connect };
    int SetFolders(const char* path, Check check);
    // Makes a name of eight digits (day, hour, minute, second), a point and up
    // to three digits; false when it does not fit into capacity.
    bool MakeUniqueName(char* out, int capacity);
    int SendJob(const char* body, int length, const QOR_SendHooks& hooks);
    // Whether a job named so may still have a reply waiting.
    bool NameTaken(const char* name, const QOR_SendHooks& hooks) const;
    // The job file of a message name in tmp, its lock and its hidden
    // withdrawn name; false when they do not fit.
    bool JobPaths(const char* messageName, char* job, char* lock, char* withdrawn) const;

    char serviceDir[kPathCapacity];
    char clientsDir[kPathCapacity];
    char tmpDir[kPathCapacity];
    char clientId[kClientIdCapacity];
    char serverPath[kPathCapacity];
    char suffix[5];
    int32_t state;
    char messageName[kMessageCapacity];
    int lastError = 0;
};
