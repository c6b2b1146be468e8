#pragma once

// The host shell: a host session with the OrdoDesk plug-in loaded, driven by
// text commands as a user drives the host (documents, frames and images, the
// layout selection, menus and shortcuts, the orders panel, dialogs, choosers,
// alerts, idle time). `ordodesk shell` reads the commands from the terminal,
// `ordodesk run` from a script file, `ordodesk demo` from a script it writes.

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>

struct ShellOptions {
    // The host's system folder (the plug-in keeps its preference files under
    // it) and the session file that carries the preferences between runs.
    std::string systemFolder;
    std::string sessionFile;
    // "en", "fr" or "es".
    std::string locale = "en";
    // Print each command before running it (scripts and the demo).
    bool echo = false;
};

// Where commands come from: a script file or the terminal.
class LineSource {
public:
    virtual ~LineSource() = default;
    // The next line, false at the end. prompt is what an interactive source
    // shows before reading.
    virtual bool Next(std::string& line, const char* prompt) = 0;
    // The number of the line last read (from 1).
    virtual int LineNumber() const = 0;
    // The name used in error messages ("script.ods", "stdin").
    virtual std::string Name() const = 0;
    virtual bool Interactive() const { return false; }
};

// Lines of a file or of any text stream.
std::unique_ptr<LineSource> MakeStreamSource(std::istream& in, const std::string& name);
// The terminal with line editing and history (libedit) when standard input is
// a terminal, else standard input with a plain prompt. With whileWaiting set
// (a live console) it is called before each command and, while the console
// waits for input, every tenth of a second.
std::unique_ptr<LineSource> MakeConsoleSource(std::function<void()> whileWaiting = {});

class HostShellImpl;
class IDataBase;

class HostShell {
public:
    HostShell(const ShellOptions& options, std::ostream& out, std::ostream& err);
    ~HostShell();
    HostShell(const HostShell&) = delete;
    HostShell& operator=(const HostShell&) = delete;

    // Starts the host session: the plug-in loaded, the session file read, the
    // application started (the plug-in's startup services run), the orders
    // panel registered, the front end's sinks attached. False with the reason.
    bool Start(std::string& why);

    // Opens a document file as `open` does; false after printing the error.
    bool OpenDocument(const std::string& path);

    // Runs the commands of the source until `quit` or its end. With
    // stopOnError the first failed command ends the run. Returns the exit
    // code: 0, or 1 when a command failed (with stopOnError) or the source
    // ended with a dialog still open.
    int Run(LineSource& source, bool stopOnError);

    // Runs one command line as a script line runs (without stopping the
    // session on an error, which is printed): true when it succeeded.
    bool RunLine(const std::string& line);

    // The front document's database, or null when no document is open.
    IDataBase* FrontDocument() const;

    // Sets ${name} for the commands that follow.
    void SetVariable(const std::string& name, const std::string& value);

    // Stops the application, writes the session file and lets the session
    // go. Called by the destructor when not called before.
    void Stop();

private:
    std::unique_ptr<HostShellImpl> impl;
};

// The text of `ordodesk shell --help-commands`: every command with its use.
std::string ShellCommandHelp();
