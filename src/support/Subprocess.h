#pragma once

// Running a helper program (Ghostscript) on a file that may be hostile: in a
// temporary folder of its own, with a small environment, a time limit and a
// limit on what it may write.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// The program's path along PATH (or /usr/bin:/bin when PATH is empty), or
// empty when no executable file of that name is found.
std::string FindProgram(const std::string& name);

// A new folder under the system's temporary folder, removed with everything
// in it when the holder goes; Path() is empty when it could not be made.
class TempFolder {
public:
    explicit TempFolder(const std::string& prefix);
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& Path() const { return path; }

private:
    std::string path;
};

struct ConfinedRun {
    // The program's working folder and its only temporary folder (TMPDIR,
    // TEMP, TMP, HOME); nothing of the caller's environment reaches it but
    // PATH=/usr/bin:/bin and LC_ALL=C.
    std::string folder;
    // Standard output and errors go into this file; standard input is empty.
    std::string log;
    std::chrono::milliseconds timeLimit{60000};
    // Largest file it may write, in bytes; 0 for no limit of our own.
    uint64_t maxWrittenBytes = 0;
};

struct RunResult {
    int exitStatus = -1; // -1: not started, ended by a signal, or stopped
    bool timedOut = false;
};

// Runs args[0] (a full path) with the arguments; a program still running at
// the time limit is killed.
RunResult RunConfined(const std::vector<std::string>& args, const ConfinedRun& how);

// The last line of a text file that is not blank, cut to at most max bytes
// (a program's last word on why it failed); empty when there is none.
std::string LastTextLine(const std::string& path, std::size_t max);

} // namespace platform
