#pragma once

// Running the ordodesk program as a user runs it from a shell.

#include "TempDir.h"

#include <cstdio>
#include <string>
#include <sys/wait.h>
#include <vector>

struct ProgramRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// The text in single quotes for the shell.
inline std::string ShellQuoted(const std::string& a) {
    std::string q = "'";
    for (char c : a) {
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return q + "'";
}

// Runs a command line through the shell: its standard output and exit code
// (-1 when it did not exit by itself or could not be started).
inline ProgramRun RunCommand(const std::string& command) {
    ProgramRun run;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return run;
    }
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        run.out.append(buffer, n);
    }
    const int status = ::pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// Runs ordodesk with the arguments and no input; its error output is kept in
// the folder.
inline ProgramRun Ordodesk(const std::vector<std::string>& args, const TempDir& dir) {
    std::string command = ShellQuoted(ORDODESK_EXE);
    for (const auto& a : args) {
        command += " " + ShellQuoted(a);
    }
    const std::string errPath = dir / "stderr.txt";
    ProgramRun run = RunCommand(command + " 2>" + ShellQuoted(errPath) + " </dev/null");
    if (PathExists(errPath)) {
        run.err = ReadFile(errPath);
    }
    return run;
}
