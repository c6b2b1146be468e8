#pragma once

#include "ServerTree.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

// Watches Data/tmp of one server tree and answers the jobs found there.
//
// A job file is taken only while no file of its name with ".lock" appended
// exists. Its text is read and the file removed before the job is handled.
// "CONNECT" makes the client's folder under Data/clients, "DECONNECT" ends the
// client's session (its folder goes when it holds no reply), a "PROCESS"
// ticket is processed and answered with a reply file in the client's folder,
// written while "<job>.lock" exists beside it. A file that is no job file is
// moved into Data/rejected with a "<name>.reason" text beside it.
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

    // log receives one line per job besides the log file in Data/service/qor2.
    RefServer(const std::string& root, std::ostream& log);

    // False with a reason when the root is no server tree.
    bool Check(std::string& error) const;

    // Handles every job file that is there now, in name order; returns how
    // many were handled.
    int RunOnce();

    // Polls every pollMs milliseconds until stop becomes true; the job in hand
    // is finished first.
    void Run(const std::atomic<bool>& stop, int pollMs);

    const Counts& Totals() const { return counts; }
    const ServerFolders& Folders() const { return folders; }

private:
    void HandleJob(const std::string& name);
    void SetAside(const std::string& name, const std::string& reason);
    bool WriteReply(const std::string& clientId, const std::string& jobName,
                    const std::string& text);
    void Log(const std::string& client, const std::string& job, const std::string& outcome,
             int64_t micros, const std::string& message);

    ServerFolders folders;
    std::ostream& log;
    Counts counts;
};

// The reply file's text: job name, path style, milliseconds spent, status
// word, message and output path, one line each and none empty.
std::string ReplyText(const std::string& jobName, int64_t millis, const char* status,
                      const std::string& message, const std::string& outputPath);
