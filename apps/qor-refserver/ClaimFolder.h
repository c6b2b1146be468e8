#pragma once

#include <string>

// A server's claim folder, Data/work/<server id>: the jobs it has taken from
// Data/tmp and not yet finished. Only the server of that id writes there, and
// it holds ".owner" locked while it serves. Beside a job whose output was
// written, "<claimed name>.target" records where the output goes.

// The host name when it is a plain folder name, else "server".
std::string DefaultServerId();

// The name a job takes in the claim folder: its own, or its own with "~N"
// appended when that name is taken there, already ends in "~" and digits, or
// ends in ".target". So JobNameOf gives the job's name back, no taken file is
// replaced and no job reads as a target record.
std::string ClaimName(const std::string& claimFolder, const std::string& job);
std::string JobNameOf(const std::string& claimed);

// True for the name of a target record.
bool IsTargetRecord(const std::string& name);
inline constexpr const char* kTargetRecordEnd = ".target";

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
