#pragma once

// The inside of the host shell, shared by its source files:
//   HostShell.cpp          start and stop, running commands, the alert, dialog
//                          and chooser sinks, the host parts, the public face
//   HostShellViews.cpp     what is shown: the panel, menus, dialogs, page
//                          items, preferences (as JSON; the panel also as
//                          the table `panel` prints), printed only through
//                          DumpJson: a text that is not UTF-8 (a Latin-1
//                          file name) must not end the session
//   HostShellCommands.cpp  every command but expect and render
//   HostShellExpect.cpp    expect, the checks of scripts
//   RenderCommand.cpp      render, of the shell and of the command line
// What only one of them uses stays inside it.

#include "HostShell.h"
#include "JsonOutput.h"
#include "ShellWords.h"

#include "CAlert.h"
#include "Choosers.h"
#include "IApplication.h"
#include "IDataBase.h"
#include "Widgets.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace hostshell {

using nlohmann::ordered_json;

// A command that cannot do what it was asked; the text says why.
struct ShellError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] inline void Fail(const std::string& message) {
    throw ShellError(message);
}

// ---- arguments

inline std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

inline long long ParseInteger(const std::string& text, const char* what, long long low,
                              long long high) {
    std::size_t used = 0;
    long long value = 0;
    try {
        value = std::stoll(text, &used, 0);
    } catch (const std::exception&) {
        used = 0;
    }
    if (text.empty() || used != text.size()) {
        Fail(std::string(what) + " is not a whole number: " + text);
    }
    if (value < low || value > high) {
        Fail(std::string(what) + " is out of range (" + std::to_string(low) + ".." +
             std::to_string(high) + "): " + text);
    }
    return value;
}

// A finite number written as it stands (no blanks, nothing after it).
inline double ParseNumber(const std::string& text, const char* what) {
    if (text.empty()) {
        Fail(std::string("missing ") + what);
    }
    std::size_t used = 0;
    double value = 0.0;
    try {
        value = std::stod(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != text.size() || !std::isfinite(value)) {
        Fail(std::string(what) + " is not a number: " + text);
    }
    return value;
}

// The words after the command's name, with its options taken out by name.
class Args {
public:
    explicit Args(std::vector<std::string> words) : words(std::move(words)) {}

    bool Flag(const std::string& name) {
        auto it = std::find(words.begin(), words.end(), name);
        if (it == words.end()) {
            return false;
        }
        words.erase(it);
        return true;
    }
    // The option's count values, or nothing when the option is not given.
    std::optional<std::vector<std::string>> Option(const std::string& name, std::size_t count) {
        auto it = std::find(words.begin(), words.end(), name);
        if (it == words.end()) {
            return std::nullopt;
        }
        const auto at = static_cast<std::size_t>(it - words.begin());
        if (at + count >= words.size()) {
            Fail(name + " needs " + std::to_string(count) + (count == 1 ? " value" : " values"));
        }
        std::vector<std::string> values(words.begin() + static_cast<long>(at) + 1,
                                        words.begin() + static_cast<long>(at + count) + 1);
        words.erase(words.begin() + static_cast<long>(at),
                    words.begin() + static_cast<long>(at + count) + 1);
        return values;
    }
    std::optional<std::string> Option(const std::string& name) {
        auto values = Option(name, 1);
        return values ? std::optional<std::string>((*values)[0]) : std::nullopt;
    }
    // Every word, options or not.
    const std::vector<std::string>& Words() const { return words; }
    // What is left once the options are taken; an unknown option is refused.
    const std::vector<std::string>& Rest() {
        for (const std::string& w : words) {
            if (w.size() > 2 && w.compare(0, 2, "--") == 0) {
                Fail("unknown option " + w);
            }
        }
        return words;
    }
    // Exactly between low and high words left.
    const std::vector<std::string>& Expect(std::size_t low, std::size_t high, const char* usage) {
        const auto& rest = Rest();
        if (rest.size() < low || rest.size() > high) {
            Fail(std::string("usage: ") + usage);
        }
        return rest;
    }

private:
    std::vector<std::string> words;
};

inline std::string Absolute(const std::string& path) {
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(path, ec);
    return ec ? path : p.lexically_normal().string();
}

// ---- text

inline std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

inline std::string Text(const PMString& s) {
    return s.Translated().GetUTF8String();
}

// The text followed by blanks up to width characters (UTF-8 aware), and one
// blank more.
inline std::string Pad(const std::string& text, std::size_t width) {
    std::size_t chars = 0;
    for (unsigned char c : text) {
        chars += (c & 0xC0) != 0x80 ? 1 : 0;
    }
    return text + std::string(width > chars ? width - chars : 0, ' ') + " ";
}

// ---- names

// The plug-in's actions by the names the commands give them (about,
// send-all, ...), an unknown ID as its number; ActionByName also takes a
// number. Defined with the action commands in HostShellCommands.cpp.
std::string NameOfAction(ActionID id);
ActionID ActionByName(const std::string& name);

// The orders panel's own menu.
inline constexpr const char* kPanelMenuPath = "0x71900kOrdoInternalPopupMenuNameKey";

// ---- render

// The options of render as written, from the command line or the shell:
// given or not, checked when the pages are written.
struct RenderRequest {
    std::string output; // .png or .pdf
    std::optional<std::string> page, pages, dpi, settings;
    bool badges = false;
    bool frameEdges = false;
    bool highResolution = false;
    bool replace = false;
};

inline const char* AlertKindName(AlertKind kind) {
    switch (kind) {
    case AlertKind::kWarning:
        return "warning";
    case AlertKind::kError:
        return "error";
    case AlertKind::kInformation:
        return "information";
    case AlertKind::kModal:
        return "modal";
    }
    return "alert";
}

} // namespace hostshell

// ---- the shell

class HostShellImpl : public IAlertSink, public IDialogSink, public IChooserSink {
public:
    HostShellImpl(const ShellOptions& options, std::ostream& out, std::ostream& err)
        : options(options), out(out), err(err) {}

    ~HostShellImpl() override { Stop(); }

    bool Start(std::string& why);
    void Stop();
    int Run(LineSource& source, bool stopOnError);
    bool OpenDocument(const std::string& path);
    void SetVariable(const std::string& name, const std::string& value) { variables[name] = value; }
    // Writes the front document's pages as render does: each file written
    // and the images drawn on `to`, each image that could not be shown on
    // `warnings`. Fails (ShellError) on an option it refuses, a page the
    // document lacks, an output that exists (unless replace), or when not
    // everything could be written.
    void RenderFront(const hostshell::RenderRequest& request, std::ostream& to,
                     std::ostream& warnings);

    // Sinks.
    AlertResponse ShowAlert(const AlertRequest& alert) override;
    DialogAnswer RunDialog(IControlView* dialog, WidgetID invalidField) override;
    std::optional<std::string> Choose(const ChooserRequest& request) override;

    // One command line; false when it failed (the error is printed).
    bool ExecuteLine(const std::string& line);
    // The front document, or null.
    IDataBase* FrontDb() const;

private:
    using Args = hostshell::Args;
    using ordered_json = hostshell::ordered_json;

    using Handler = void (HostShellImpl::*)(Args&);
    struct Command {
        const char* name;
        Handler run;
        // Usable while a modal dialog is open.
        bool whileModal;
    };
    static const Command kCommands[];

    void Execute(const std::vector<std::string>& words);
    std::string Where(int line) const;
    const char* Prompt() const { return dialogs.empty() ? "ordodesk> " : "ordodesk dialog> "; }

    // Host parts.
    InterfacePtr<IApplication> App() const;
    InterfacePtr<IDocumentList> Documents() const;
    IDataBase* RequireDocument() const;
    bool IsOpen(const IDataBase* db) const {
        return std::any_of(databases.begin(), databases.end(),
                           [db](const std::unique_ptr<IDataBase>& d) { return d.get() == db; });
    }
    UIDRef ItemRef(const std::string& uidText) const;
    void AddDocument(std::unique_ptr<IDataBase> db, const PMString& name, bool opened);
    IControlView* Panel() const;
    IListBoxController* PanelList() const;
    bool PanelShown() const;
    IControlView* CurrentDialog() const;
    // forValue: a static text's label names the control after it.
    IControlView* FindWidget(IControlView* root, const std::string& ref,
                             bool forValue = false) const;

    // What is shown (HostShellViews.cpp).
    struct RowView {
        int32_t row = 0;
        int32_t index = -1;
        int32_t icon = 0;
        std::string page, name, options, process, type;
        bool selected = false;
        UIDRef item;
        int32_t orderStatus = -1;
    };
    std::vector<RowView> PanelRows() const;
    ordered_json PanelJson() const;
    void PrintPanel() const;
    ordered_json MenuJson(const std::string& path) const;
    ordered_json DialogJson(IControlView* dialog) const;
    ordered_json WidgetJson(IControlView* view) const;
    ordered_json ItemsJson() const;
    ordered_json PrefsJson() const;
    std::string LogText() const;
    const RowView& Row(const std::vector<RowView>& rows, const std::string& text) const;

    // Runs an action as its menu entry does: refused when it is disabled,
    // unless forced. shown names it in the errors.
    void RunAction(ActionID id, bool force, const std::string& shown);

    // Commands (HostShellCommands.cpp; CmdExpect in HostShellExpect.cpp).
    void CmdHelp(Args& a);
    void CmdEcho(Args& a);
    void CmdSet(Args& a);
    void CmdQuit(Args& a);
    void CmdNew(Args& a);
    void CmdOpen(Args& a);
    void CmdSave(Args& a);
    void CmdClose(Args& a);
    void CmdLinkMap(Args& a);
    void CmdPlace(Args& a);
    void CmdGroup(Args& a);
    void CmdDelete(Args& a);
    void CmdItems(Args& a);
    void CmdSelect(Args& a);
    void CmdAction(Args& a);
    void CmdShortcut(Args& a);
    void CmdMenu(Args& a);
    void CmdPanel(Args& a);
    void CmdDialog(Args& a);
    void CmdOk(Args& a);
    void CmdCancel(Args& a);
    void CmdAnswer(Args& a);
    void CmdAlertAnswer(Args& a);
    void CmdAlerts(Args& a);
    void CmdIdle(Args& a);
    void CmdUndo(Args& a);
    void CmdRedo(Args& a);
    void CmdPrefs(Args& a);
    void CmdJobs(Args& a);
    void CmdServer(Args& a);
    void CmdSamples(Args& a);
    void CmdMkdir(Args& a);
    void CmdRender(Args& a);
    void CmdExpect(Args& a);

    ShellOptions options;
    std::ostream& out;
    std::ostream& err;

    bool started = false;
    bool stopped = false;
    std::vector<std::unique_ptr<IDataBase>> databases;
    InterfacePtr<IControlView> panel;
    int untitled = 0;

    IAlertSink* previousAlertSink = nullptr;
    IDialogSink* previousDialogSink = nullptr;
    IChooserSink* previousChooserSink = nullptr;

    LineSource* source = nullptr;
    bool stopOnError = false;
    // A failed command inside a dialog of a script: every open dialog is
    // cancelled and the run ends.
    bool aborting = false;
    bool failed = false;
    bool quitting = false;
    int commandLine = 0;

    struct OpenDialog {
        IControlView* view;
        std::optional<DialogAnswer> answer;
    };
    std::vector<OpenDialog> dialogs;

    struct ShownAlert {
        AlertRequest request;
        int16_t answer;
    };
    std::vector<ShownAlert> alerts;
    std::deque<AlertResponse> alertAnswers;
    std::deque<std::optional<std::string>> chooserAnswers;

    ShellVariables variables;
    bool vipsStarted = false;
};
