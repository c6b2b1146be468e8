#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

class QOR_FileStream;

// Send: the sender's hook refused the job before it was published; the job
// file and its lock are removed.
inline constexpr int kQorSendRefused = -6;
// Receive: the reply file is there but not whole yet (its status word or a
// line it needs is missing, or its last line is cut and the file has just
// been written); it is read again next time and not kept.
inline constexpr int kQorReplyIncomplete = -7;
// Receive: the reply file is not whole and has not changed for half a minute:
// it was cut short and never will be whole.
inline constexpr int kQorReplyCut = -8;

// What a sender adds to the sending of one job.
struct QOR_SendHooks {
    // True when a reply to this message name may still be waiting where the
    // endpoint cannot see it (the client's own record of jobs out): the name
    // is then not taken. May be empty.
    std::function<bool(const char* messageName)> nameInUse;
    // Called with the message name when the job file is on disk and before
    // its lock goes, that is before the server may take it. False: the job
    // is removed and not sent. May be empty.
    std::function<bool(const char* messageName)> beforePublish;
};

// The client end of the hot-folder link to the QOR server. Every exchange goes
// through files in the server's folder tree: job files into Data/tmp, replies
// from Data/clients/<clientId>, configuration files from Data, and the
// servers' heartbeats from Data/service/alive.
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

    // SendNamed with the sender's hooks. The plain version, for endpoints that
    // publish in one step, sends and then calls beforePublish.
    virtual int SendNamedWith(char* outName, const char* body, int length,
                              const QOR_SendHooks& hooks);
    // Takes a job back while the server has not taken it, in one step that
    // no server can come between (the job is moved aside under a hidden
    // name): 0 when it was withdrawn (now or by an earlier call whose caller
    // did not get to ForgetWithdrawnJob), ENOENT when it is no longer waiting
    // (taken or answered), another error number when it cannot be moved.
    virtual int WithdrawJob(const char* messageName);
    // Removes what is left of a withdrawn job, once the caller has noted it.
    virtual void ForgetWithdrawnJob(const char* messageName);
    // Finishes the publishing of a job that a sender wrote but did not get
    // to unlock (it was stopped in between): 0 when the job is waiting
    // unlocked now, ENOENT when it is not in the hot folder.
    virtual int PublishJob(const char* messageName);
    // The system's error number of the last send that failed (ENOSPC for a
    // full disk, EACCES, EROFS...), or 0.
    virtual int LastSystemError() const;

    // Whether the job of a message name still waits in the hot folder, not
    // taken by a server yet (a job still locked waits too): 1 it waits, 0 it
    // is not there (a server took it, or it is gone), -1 unknown.
    virtual int JobWaiting(const char* messageName) const;
    // Whether a server lives: 1 when at least one server keeps a heartbeat,
    // with newestAge set to now minus the modification time of the newest
    // (seconds, the clock of the file times); 0 when none does; -1 unknown.
    // A server rewrites its heartbeat every few seconds while it runs, busy
    // or not, and removes it when it stops: a heartbeat that has aged well
    // past that belongs to a server that was killed or hangs.
    virtual int ServerHeartbeat(int64_t now, int64_t& newestAge) const;
};
