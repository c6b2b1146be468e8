// shell, run and demo: the host session with the plug-in, driven from the
// terminal, from a script, or by the demo's own script.
#include "Commands.h"

#include "HostShell.h"
#include "IIdleTask.h"
#include "SampleFiles.h"
#include "ShellWords.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdlib.h>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct SessionOptions {
    std::string systemFolder;
    std::string sessionFile;
    std::string locale = "en";
};

void AddSessionOptions(CLI::App* cmd, SessionOptions& o) {
    cmd->add_option("--system-folder", o.systemFolder,
                    "The host's system folder; the plug-in keeps its preference files under it "
                    "(default ~/.ordodesk/system)");
    cmd->add_option("--session", o.sessionFile,
                    "The session file that keeps the preferences between runs "
                    "(default ~/.ordodesk/session.odsession)");
    cmd->add_option("--locale", o.locale, "Language of the plug-in's texts")
        ->check(CLI::IsMember({"en", "fr", "es"}));
}

ShellOptions ToShellOptions(const SessionOptions& o, bool echo) {
    ShellOptions s;
    s.systemFolder = o.systemFolder;
    s.sessionFile = o.sessionFile;
    s.locale = o.locale;
    s.echo = echo;
    return s;
}

struct ShellArgs {
    SessionOptions session;
    std::string document;
    bool listCommands = false;
    bool live = false;
};

int Shell(const ShellArgs& a) {
    if (a.listCommands) {
        std::cout << ShellCommandHelp();
        return 0;
    }
    HostShell shell(ToShellOptions(a.session, false), std::cout, std::cerr);
    std::string why;
    if (!shell.Start(why)) {
        std::cerr << "ordodesk: " << why << "\n";
        return 1;
    }
    if (!a.document.empty() && !shell.OpenDocument(a.document)) {
        return 1;
    }
    // Live: the host's clock follows the real one, so the idle tasks (the
    // pickup among them) run on time while the user types or waits.
    std::unique_ptr<LineSource> console =
        a.live ? MakeConsoleSource([] { HostClock::SyncWithRealTime(); }) : MakeConsoleSource();
    if (console->Interactive()) {
        std::cout << "OrdoDesk host shell: help lists the commands, quit ends.\n";
    }
    shell.Run(*console, false);
    shell.Stop();
    return 0;
}

struct RunArgs {
    SessionOptions session;
    std::string script;
    std::vector<std::string> variables;
    bool echo = false;
};

int RunScript(const RunArgs& a) {
    // A folder opens as a stream that reads nothing; it is no script.
    std::error_code folderError;
    const bool folder = fs::is_directory(a.script, folderError);
    std::ifstream in;
    if (!folder) {
        in.open(a.script);
    }
    if (folder || !in) {
        std::cerr << "ordodesk: cannot read the script " << a.script
                  << (folder ? ": it is a folder" : "") << "\n";
        return 1;
    }
    HostShell shell(ToShellOptions(a.session, a.echo), std::cout, std::cerr);
    std::error_code ec;
    shell.SetVariable("SCRIPT_DIR", fs::absolute(a.script, ec).parent_path().string());
    for (const std::string& v : a.variables) {
        std::string name;
        std::string value;
        if (!SplitAssignment(v, name, value)) {
            std::cerr << "ordodesk: --set takes NAME=VALUE, not " << v << "\n";
            return 1;
        }
        shell.SetVariable(name, value);
    }
    std::string why;
    if (!shell.Start(why)) {
        std::cerr << "ordodesk: " << why << "\n";
        return 1;
    }
    std::unique_ptr<LineSource> source = MakeStreamSource(in, a.script);
    const int code = shell.Run(*source, true);
    shell.Stop();
    return code;
}

// ---- the demo

struct DemoArgs {
    std::string keep;
    std::string locale = "en";
};

// The road of an order as a user walks it: the server chosen in the
// preferences, frames with images, "Add Selected Item(s)...", the panel,
// sending, the server's pass, the pickup and relink (pictures of the pages
// before and after, and a PDF), "Undo Redo Process", saving. ${WS} is the
// workspace.
const char* const kDemoScript = R"(# The reference QOR server and its folder tree
server init ${WS}/server
# Preferences: the user picks the server application and the output folder
answer ${WS}/server/qorserver
answer ${WS}/processed
action preferences
dialog click 0x71950
dialog click 0x71939
dialog
dialog ok
# A document whose frames scale, rotate, mirror, skew and crop the images
new --pages 2
place ${WS}/images/photo-rgb.tif 36 36 220 160 --scale 0.9 --name photo
place ${WS}/images/press-cmyk.tif 300 36 200 160 --rotate 15 --name press
place ${WS}/images/scan-gray.tif 36 230 150 150 --flip h --name scan
place ${WS}/images/web-rgb.jpg 220 230 200 150 --scale 0.5 --image-offset -40 -30 --name web
place ${WS}/images/layout-rgb.psd 36 420 170 120 --skew 10 --name layout
place ${WS}/images/drawing-gray.eps 260 420 80 60 --name drawing
place ${WS}/images/opi-lowres.eps 36 60 220 150 --page 2 --name opi
items
panel open
panel log show
# Add Selected Item(s)...: one image options dialog per image; the first
# order takes the server's "General" process, then a correction with CMYK
# conversion (the third process type)
select --all
action add-selected
dialog
dialog set 0x71918 General
dialog set 0x71916 @2
dialog ok
ok
ok
ok
ok
ok
ok
panel
menu
# The pages as drawn, each image through its frame's transformation, with
# the frames' edges and each order's badge (R: ready)
mkdir ${WS}/pictures
render ${WS}/pictures/before.png --frame-edges --badges
# Send Selected Orders ...
panel select 1 2 3 4 5 6 7
action send-selected
panel
# The server takes the jobs; the next pickup relinks each image to its result
server once ${WS}/server
idle 5
panel
items
# The pages again: the processed images in place (D: done, X: failed); and
# the document as PDF
render ${WS}/pictures/after.png --frame-edges --badges
render ${WS}/pictures/document.pdf
# Undo Redo Process: back to the original file, then to the processed one
panel select 1
action undo-redo
panel
panel select 1
action undo-redo
panel
alerts
save ${WS}/demo-document.odoc
)";

std::string MakeWorkspace(const std::string& keep, std::string& why) {
    std::error_code ec;
    if (!keep.empty()) {
        // A folder with things in it could hold an earlier run's jobs and
        // results, which the server and the pickup would take up again.
        if (fs::exists(keep, ec) && !fs::is_empty(keep, ec)) {
            why = "the folder " + keep + " is not empty; --keep needs a new or empty folder";
            return "";
        }
        fs::create_directories(keep, ec);
        if (ec) {
            why = "cannot make " + keep + ": " + ec.message();
            return "";
        }
        return fs::absolute(keep).lexically_normal().string();
    }
    std::string pattern = (fs::temp_directory_path(ec) / "ordodesk-demo-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr) {
        why = "cannot make a temporary folder";
        return "";
    }
    return buffer.data();
}

int Demo(const DemoArgs& a) {
    std::string why;
    const std::string ws = MakeWorkspace(a.keep, why);
    if (ws.empty()) {
        std::cerr << "ordodesk: " << why << "\n";
        return 1;
    }
    std::cout << "OrdoDesk demo: the road of an order, from a placed image to its processed file\n"
              << "workspace " << ws << (a.keep.empty() ? " (removed at the end)" : "") << "\n\n"
              << "Sample images written by OrdoDesk:\n";
    int code = 0;
    try {
        for (const SampleFile& f : WriteSampleFiles(ws + "/images")) {
            std::cout << "  images/" << f.name << ": " << f.description << "\n";
        }
        fs::create_directories(ws + "/processed");
    } catch (const std::exception& e) {
        std::cerr << "ordodesk: " << e.what() << "\n";
        code = 1;
    }
    if (code == 0) {
        ShellOptions options;
        options.systemFolder = ws + "/system";
        options.sessionFile = ws + "/session.odsession";
        options.locale = a.locale;
        options.echo = true;
        HostShell shell(options, std::cout, std::cerr);
        shell.SetVariable("WS", ws);
        if (!shell.Start(why)) {
            std::cerr << "ordodesk: " << why << "\n";
            code = 1;
        } else {
            std::cout << "\n";
            std::istringstream script(kDemoScript);
            std::unique_ptr<LineSource> source = MakeStreamSource(script, "demo");
            code = shell.Run(*source, true);
            shell.Stop();
        }
    }
    std::cout << "\nWhere things are:\n"
              << "  document        " << ws << "/demo-document.odoc\n"
              << "  processed files " << ws << "/processed\n";
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(ws + "/processed", ec)) {
        std::cout << "    " << entry.path().filename().string() << "\n";
    }
    std::cout << "  pictures        " << ws << "/pictures\n";
    std::vector<std::string> pictures;
    for (const auto& entry : fs::directory_iterator(ws + "/pictures", ec)) {
        pictures.push_back(entry.path().filename().string());
    }
    std::sort(pictures.begin(), pictures.end());
    for (const std::string& name : pictures) {
        std::cout << "    " << name << "\n";
    }
    std::cout << "  server log      " << ws << "/server/Data/service/qor2/jobs.log\n";
    if (a.keep.empty()) {
        fs::remove_all(ws, ec);
        std::cout << "(the workspace is removed; ordodesk demo --keep DIR keeps it)\n";
    }
    std::cout << (code == 0 ? "demo finished\n" : "demo failed\n");
    return code;
}

} // namespace

void AddShellCommands(CLI::App& app, int& exitCode) {
    auto shellArgs = std::make_shared<ShellArgs>();
    auto* shell = app.add_subcommand(
        "shell", "Run a host session with the OrdoDesk plug-in and type commands into it "
                 "(help lists them).");
    shell->add_option("DOCUMENT", shellArgs->document, "Document file to open first");
    shell->add_flag("--help-commands", shellArgs->listCommands,
                    "Print the shell's commands (those of run scripts too) and exit");
    shell->add_flag("--live", shellArgs->live,
                    "Keep the host's clock on real time: idle tasks (the result pickup) run "
                    "between commands and while the shell waits at its prompt, with no idle "
                    "command");
    AddSessionOptions(shell, shellArgs->session);
    shell->callback([&exitCode, shellArgs] { exitCode = Shell(*shellArgs); });

    auto runArgs = std::make_shared<RunArgs>();
    auto* run = app.add_subcommand(
        "run", "Run the shell's commands from a script file ('#' starts a comment); stops at the "
               "first command that fails, names its line and exits with 1.");
    run->add_option("SCRIPT", runArgs->script, "Script file")->required();
    run->add_option("--set", runArgs->variables,
                    "NAME=VALUE: ${NAME} in the script stands for VALUE (repeatable)")
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    run->add_flag("--echo", runArgs->echo, "Print each command before it runs");
    AddSessionOptions(run, runArgs->session);
    run->callback([&exitCode, runArgs] { exitCode = RunScript(*runArgs); });

    auto demoArgs = std::make_shared<DemoArgs>();
    auto* demo = app.add_subcommand(
        "demo", "Walk the road of an order through the plug-in in a scratch workspace: sample "
                "images, a document, the reference QOR server in this process, adding, sending, "
                "pickup and relink, pictures of the pages and a PDF, undo/redo, saving.");
    demo->add_option("--keep", demoArgs->keep, "Keep the workspace in this folder");
    demo->add_option("--locale", demoArgs->locale, "Language of the plug-in's texts")
        ->check(CLI::IsMember({"en", "fr", "es"}));
    demo->callback([&exitCode, demoArgs] { exitCode = Demo(*demoArgs); });
}
