#pragma once

#include <string>

// A server's claim folder, Data/claimed/<server id>: the jobs it has taken from
// Data/tmp and not yet finished. Only the server of that id writes there, and
// it holds ".owner" locked while it serves. Beside a job it keeps records:
//   <claimed name>.output  the hidden name its output is being written under
//   <claimed name>.target  where the written output goes (TargetRecord)
// A job whose reply is published is renamed to "<claimed name>.answered"; the
// records go next, the answered job last.

// The host name when it is a plain folder name, else "server".
std::string DefaultServerId();

inline constexpr const char* kOutputRecordEnd = ".output";
inline constexpr const char* kTargetRecordEnd = ".target";
inline constexpr const char* kAnsweredEnd = ".answered";

// True for a name ending in one of the three ends above: a record or an
// answered job, never a job to handle.
bool IsRecordName(const std::string& name);

// The name a job takes in the claim folder: its own, or its own with "~N"
// appended when that name is taken there (by a job, its records or its
// answered file), already ends in "~" and digits, or is a record's name. So
// JobNameOf gives the job's name back, no taken file is replaced and no job
// reads as a record.
std::string ClaimName(const std::string& claimFolder, const std::string& job);
std::string JobNameOf(const std::string& claimed);

// What a target record holds: the output's path, the hidden name it was
// written under before it was moved, and the reply's status word and message.
struct TargetRecord {
    std::string target;
    std::string part;
    std::string status;
    std::string message;
};
std::string TargetRecordText(const TargetRecord& record);
bool ParseTargetRecord(const std::string& text, TargetRecord& record);

// The hold on a claim folder: its ".owner" file locked with flock(2) while
// the object lives. Two holders of one folder are refused even within one
// process, and over a network file system that carries the locks.
class ClaimLock {
public:
    ClaimLock() = default;
    ~ClaimLock();
    ClaimLock(const ClaimLock&) = delete;
    ClaimLock& operator=(const ClaimLock&) = delete;

    // 0, EWOULDBLOCK while another holds the folder, or the error number.
    int Take(const std::string& folder);
    bool Held() const { return fd >= 0; }

private:
    int fd = -1;
};
