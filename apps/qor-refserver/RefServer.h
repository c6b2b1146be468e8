#pragma once

#include "ClaimFolder.h"
#include "Heartbeat.h"
#include "ServerTree.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

struct JobTicket;
struct JobResult;

// Watches Data/tmp of one server tree and answers the jobs found there.
//
// A job file is taken only while no file of its name with ".lock" appended
// exists, and by one rename into the server's claim folder, Data/claimed/<id>:
// of several servers on one tree one wins and the others find it gone. The
// job is worked on from there and its file removed only once what it made is
// stored: "CONNECT" makes the client's folder under Data/clients, "DECONNECT"
// ends the client's session (its folder goes when it holds no reply), a
// "PROCESS" ticket is processed and answered with a reply file in the client's
// folder, published whole while "<job>.lock" exists beside it. A file that is
// no job file is moved into Data/rejected with a "<name>.reason" text beside
// it.
//
// A job file left in Data/tmp with its lock by a client that was stopped
// while it sent is taken by no server; when neither the lock nor the job has
// changed for kStaleLockSeconds, a pass moves the job into Data/rejected and
// removes the lock. A lock without its job, as old, is removed.
//
// Each pass first finishes the jobs its claim folder holds from a run that
// stopped midway: a job marked answered is only cleaned up, with the hidden
// files its run left. A job that cannot be taken, read, set aside or answered
// is logged once and left where it is while the object lives.
//
// Once it holds its claim folder the server keeps its heartbeat,
// Data/service/alive/<id> (Heartbeat.h): written at the start of every pass,
// busy with the job in hand while it handles one, and while Run runs rewritten
// every Heartbeat::kPeriodSeconds by a thread of its own, then removed when Run
// returns. A heartbeat that cannot be written is logged once and the server
// goes on.
class RefServer {
public:
    struct Counts {
        int finished = 0;
        int warnings = 0;
        int errors = 0;
        int sessions = 0;
        int rejected = 0;
        int Total() const { return finished + warnings + errors + sessions + rejected; }
    };

    // How long a locked job, or a lock without its job, lies unchanged in
    // Data/tmp before it is taken for left behind.
    static constexpr int64_t kStaleLockSeconds = 60 * 60;

    // log receives one line per job besides the log file in Data/service/qor2.
    // id names the claim folder; it must be a plain folder name.
    RefServer(const std::string& root, std::ostream& log,
              const std::string& id = DefaultServerId());

    // False with a reason when the root is no server tree or the id is no
    // plain folder name.
    bool Check(std::string& error) const;

    // Makes the claim folder and takes hold of it; false with a reason when
    // another server of this id holds it. The first pass does it when it was
    // not done.
    bool Start(std::string& error);

    // Finishes the jobs left in the claim folder, then takes and handles every
    // job file that is in Data/tmp now, in name order; returns how many were
    // handled.
    int RunOnce();

    // Polls every pollMs milliseconds until stop becomes true; the job in hand
    // is finished first, the jobs not taken yet stay in Data/tmp, and the
    // heartbeat is removed.
    void Run(const std::atomic<bool>& stop, int pollMs);

    const Counts& Totals() const { return counts; }
    const ServerFolders& Folders() const { return folders; }
    const std::string& Id() const { return id; }
    const std::string& ClaimFolder() const { return claimDir; }
    const std::string& HeartbeatFile() const { return heartbeat.Path(); }

private:
    // A file as it was when it was given up on: a file of the same name that
    // is not this one is looked at again.
    struct Stamp {
        uint64_t device = 0;
        uint64_t inode = 0;
        int64_t modified = 0;
        bool operator==(const Stamp&) const = default;
    };

    void Claim(const std::string& name, int& handled);
    // Sets aside the locked jobs of Data/tmp whose senders were stopped, and
    // removes their locks and the locks without a job, all older than
    // kStaleLockSeconds.
    void ClearLeftLocks(const std::vector<std::string>& files, int& handled);
    void HandleClaimed(const std::string& claimed, bool leftover);
    bool OutputFromRecord(const std::string& claimed, const JobTicket& ticket, JobResult& result);
    bool SetAside(const std::string& claimed, const std::string& reason);
    // Moves a file into Data/rejected under name (or name.N when that is
    // taken) with "<name>.reason" beside it; 0 or the move's error number
    // (ENOENT: the file is gone).
    int MoveToRejected(const std::string& from, const std::string& name, const std::string& reason);
    // Publishes the reply under its lock and marks the job answered before the
    // lock goes; false when the reply cannot be written. marked is false when
    // the job could not be marked (it is given up on then).
    bool Answer(const std::string& claimed, const std::string& clientId, const std::string& text,
                bool& marked);
    // In one step: renames the job to "<claimed>.answered" (removes it where
    // that fails) and forces the claim folder to disk.
    bool MarkAnswered(const std::string& claimed);
    // A job found marked answered: the reply lock left beside its reply goes,
    // then what CleanUp removes.
    void CloseAnswered(const std::string& claimed);
    // The records of an answered job, then the job itself.
    void CleanUp(const std::string& claimed);
    // The records of a job, and its hidden output when it is still there.
    void DropRecords(const std::string& claimed);
    // Removes a file only when its name is a hidden name of this server's, as
    // this or an earlier process gave it.
    void RemoveOwnHidden(const std::string& path);
    // Logs a heartbeat that could not be written, once until one is.
    void NoteHeartbeat();
    bool GivenUp(const std::string& path);
    void GiveUp(const std::string& path);
    void Log(const std::string& client, const std::string& job, const std::string& outcome,
             int64_t micros, const std::string& message);

    ServerFolders folders;
    std::string id;
    std::string claimDir;
    std::string tag; // in the hidden names of replies and records: the id
    // In those of outputs: the id and the process, as servers of one id on two
    // trees may write into one folder. A rerun finds them by their record.
    std::string outputTag;
    std::ostream& log;
    Counts counts;
    ClaimLock hold;
    Heartbeat heartbeat;
    const std::atomic<bool>* stop = nullptr; // while Run runs
    std::map<std::string, Stamp> givenUp;    // by path
};

// The reply file's text: job name, path style, milliseconds spent, status
// word, message and output path, one line each and none empty.
std::string ReplyText(const std::string& jobName, int64_t millis, const char* status,
                      const std::string& message, const std::string& outputPath);
