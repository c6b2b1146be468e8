#pragma once
// The record of jobs out: what this client has sent to a QOR server and what
// came back, kept on disk in the identity folder until the document that
// holds the result is saved. It is what lets an order survive a crash, an
// undo or a document closed without saving:
// - an entry is written (and forced to disk) before its job is published, so
//   an order that went out is found again even when the document that says
//   so was never saved;
// - the server's reply is copied into the entry before the document takes
//   the result, so the result can be taken again after an undo or a crash;
// - the server's reply file is released once a saved document holds the
//   result, and the entry goes when the document closes with it saved.
// Entries of documents that are never saved again are removed after
// kODJobKeepDays days, their server replies with them.
//
// One file per job, "<client id>_<job name>.job" in the folder "OD_Jobs",
// written whole or not at all. The text:
//   OrdoDesk job 1
//   job <message name: client id, separator, job name>
//   server <server path>
//   document <document key>
//   item <UID of the page item>
//   source <path of the image sent>
//   sent <seconds since 1970>
//   state sent|answered
//   released 0|1     the server's reply file was released
//   saved 0|1        the document's last save holds the result
//   opi 0|1          whether the job went out with "Accept OPI Images" on;
//                    left out by entries written before it was kept
//   reply <byte count>
//   <the reply's text, that many bytes>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline constexpr int kODJobKeepDays = 30;
inline constexpr const char* kODJobFolderName = "OD_Jobs";

struct OD_JobEntry {
    enum class State { sent, answered };

    std::string job;
    std::string server;
    std::string document;
    uint32_t item = 0;
    std::string source;
    int64_t sent = 0;
    State state = State::sent;
    bool released = false;
    bool saved = false;
    int opi = -1; // -1: not known
    std::string reply;

    friend bool operator==(const OD_JobEntry&, const OD_JobEntry&) = default;
};

// The entry's text, and its reading back. Parse refuses (false, with why)
// anything but the layout above: a missing or repeated key, a number out of
// range, a text with a line end, a reply count that does not match.
std::string FormatJobEntry(const OD_JobEntry& entry);
bool ParseJobEntry(std::string_view text, OD_JobEntry& entry, std::string& why);

class OD_JobJournal {
public:
    // The journal in the given folder (made when the first entry is written).
    explicit OD_JobJournal(std::string folder);
    // The journal of this client: "OD_Jobs" in the identity folder; not usable
    // when there is no identity folder.
    static OD_JobJournal ForIdentityFolder();

    bool Usable() const { return !folder.empty(); }
    const std::string& Folder() const { return folder; }

    // Writes (or replaces) the entry of its job, whole or not at all; 0 or the
    // error number.
    int Write(const OD_JobEntry& entry) const;
    // Removes the entry of a job; 0, or the error number (ENOENT when none).
    int Remove(const std::string& job) const;
    // The entry of a job; false when there is none or it does not read.
    bool Find(const std::string& job, OD_JobEntry& entry) const;
    // Every entry that reads, in job order; entries that do not read are
    // counted in unreadable when given.
    std::vector<OD_JobEntry> List(int* unreadable = nullptr) const;

    // Removes the hidden files of writes that were stopped before they were
    // renamed into place, older than the given time. The number removed.
    int RemoveLeftovers(int64_t olderThan) const;

private:
    std::string PathOf(const std::string& job) const;

    std::string folder;
};
