// The host shell: the front end's side of the host session. It owns the open
// documents, answers the host's alerts, dialogs and choosers, and turns text
// commands into what a user does in the host.
#include "HostShell.h"

#include "SampleFiles.h"
#include "ShellWords.h"

#include "CAlert.h"
#include "Choosers.h"
#include "DocumentFile.h"
#include "DocumentIDs.h"
#include "DocumentModel.h"
#include "DocumentUtils.h"
#include "HostPlatform.h"
#include "HostStrings.h"
#include "IActionManager.h"
#include "IApplication.h"
#include "IDataLink.h"
#include "IDocument.h"
#include "IGeometry.h"
#include "IHierarchy.h"
#include "IIdleTask.h"
#include "ILayoutSelection.h"
#include "IMenuManager.h"
#include "IOrdoPrefsData.h"
#include "IOrdoSuite.h"
#include "ISession.h"
#include "IShortcutManager.h"
#include "ISpread.h"
#include "ITransform.h"
#include "ImportUtils.h"
#include "OD_DataAccessor.h"
#include "OD_Preferences.h"
#include "OD_ProcData.h"
#include "OrdoActions.h"
#include "OrdoPanel.h"
#include "OrdoPanelState.h"
#include "OrdoPlugIn.h"
#include "RefServer.h"
#include "ServerTree.h"
#include "Widgets.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

#include <editline/readline.h>
#include <fstream>
#include <vips/vips.h>

using nlohmann::ordered_json;

namespace {

// A command that cannot do what it was asked; the text says why.
struct ShellError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void Fail(const std::string& message) {
    throw ShellError(message);
}

// ---- line sources

class StreamSource : public LineSource {
public:
    StreamSource(std::istream& in, std::string name) : in(in), name(std::move(name)) {}
    bool Next(std::string& line, const char*) override {
        if (!std::getline(in, line)) {
            return false;
        }
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        ++number;
        return true;
    }
    int LineNumber() const override { return number; }
    std::string Name() const override { return name; }

private:
    std::istream& in;
    std::string name;
    int number = 0;
};

// Standard input: with libedit's line editing and history on a terminal,
// else with a plain prompt.
class ConsoleSource : public LineSource {
public:
    ConsoleSource() : terminal(::isatty(STDIN_FILENO) == 1) {}
    bool Next(std::string& line, const char* prompt) override {
        if (terminal) {
            char* text = ::readline(prompt);
            if (text == nullptr) {
                std::cout << "\n";
                return false;
            }
            line = text;
            std::free(text);
            if (!line.empty()) {
                ::add_history(line.c_str());
            }
        } else {
            std::cout << prompt << std::flush;
            if (!std::getline(std::cin, line)) {
                std::cout << "\n";
                return false;
            }
        }
        ++number;
        return true;
    }
    int LineNumber() const override { return number; }
    std::string Name() const override { return "stdin"; }
    bool Interactive() const override { return terminal; }

private:
    bool terminal;
    int number = 0;
};

// ---- arguments

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

double ParseNumber(const std::string& text, const char* what) {
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

long long ParseInteger(const std::string& text, const char* what, long long low, long long high) {
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

std::string Absolute(const std::string& path) {
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(path, ec);
    return ec ? path : p.lexically_normal().string();
}

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

std::string Number(double value) {
    // Short and stable: at most three decimals, no trailing zeros, no "-0".
    double rounded = std::round(value * 1000.0) / 1000.0;
    if (rounded == 0.0) {
        rounded = 0.0;
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", rounded);
    std::string s = text;
    while (!s.empty() && s.back() == '0') {
        s.pop_back();
    }
    if (!s.empty() && s.back() == '.') {
        s.pop_back();
    }
    return s;
}

// Lengths and angles as the JSON output gives them: three decimals.
double Rounded(double value) {
    const double r = std::round(value * 1000.0) / 1000.0;
    return r == 0.0 ? 0.0 : r;
}

std::string Text(const PMString& s) {
    return s.Translated().GetUTF8String();
}

// The text followed by blanks up to width characters (UTF-8 aware), and one
// blank more.
std::string Pad(const std::string& text, std::size_t width) {
    std::size_t chars = 0;
    for (unsigned char c : text) {
        chars += (c & 0xC0) != 0x80 ? 1 : 0;
    }
    return text + std::string(width > chars ? width - chars : 0, ' ') + " ";
}

// ---- what the panel shows

struct StatusIcon {
    int32_t icon;
    const char* symbol;
    const char* meaning;
};

// The panel's status icons as this front end draws them.
constexpr StatusIcon kStatusIcons[] = {
    {129, "[R]", "ready"},
    {132, "[R!]", "ready, resampling warning"},
    {130, "[S]", "sent, waiting"},
    {128, "[D]", "done"},
    {131, "[X]", "failed on the server"},
    {133, "[D!]", "done with a server warning"},
};

std::string IconSymbol(int32_t icon) {
    for (const StatusIcon& s : kStatusIcons) {
        if (s.icon == icon) {
            return s.symbol;
        }
    }
    return icon == 0 ? "[ ]" : "[" + std::to_string(icon) + "]";
}

std::string IconMeaning(int32_t icon) {
    for (const StatusIcon& s : kStatusIcons) {
        if (s.icon == icon) {
            return s.meaning;
        }
    }
    return "";
}

// ---- the actions by name

struct ActionName {
    const char* name;
    ActionID id;
};

const ActionName kActionNames[] = {
    {"about", kOrdoAboutActionID},
    {"about-panel", kOrdoPanelAboutActionID},
    {"add-selected", kOrdoAddSelectionActionID},
    {"send-selected", kOrdoSendSelectionActionID},
    {"preferences", kOrdoPreferencesActionID},
    {"edit-selected", kOrdoEditSelectionActionID},
    {"send-all", kOrdoSendAllActionID},
    {"undo-redo", kOrdoUndoRedoActionID},
    {"show-selected", kOrdoShowSelectedActionID},
};

std::string NameOfAction(ActionID id) {
    for (const ActionName& a : kActionNames) {
        if (a.id == id) {
            return a.name;
        }
    }
    return Hex(id.Get());
}

ActionID ActionByName(const std::string& name) {
    for (const ActionName& a : kActionNames) {
        if (Lower(name) == a.name) {
            return a.id;
        }
    }
    if (!name.empty() && std::isdigit(static_cast<unsigned char>(name[0]))) {
        return ActionID(static_cast<uint32_t>(ParseInteger(name, "action ID", 1, 0xFFFFFFFFll)));
    }
    std::string known;
    for (const ActionName& a : kActionNames) {
        known += std::string(known.empty() ? "" : ", ") + a.name;
    }
    Fail("unknown action \"" + name + "\" (known: " + known + ")");
}

// The orders panel's own menu.
inline constexpr const char* kPanelMenuPath = "0x71900kOrdoInternalPopupMenuNameKey";

const char* AlertKindName(AlertKind kind) {
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

const char* ChooserKindName(ChooserKind kind) {
    switch (kind) {
    case ChooserKind::kOpenFile:
        return "open file";
    case ChooserKind::kSaveFile:
        return "save file";
    case ChooserKind::kFolder:
        return "folder";
    }
    return "chooser";
}

int HostLocaleOf(const std::string& locale) {
    if (locale == "fr") {
        return 4;
    }
    if (locale == "es") {
        return 6;
    }
    return 0;
}

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    return home != nullptr && home[0] != '\0' ? std::string(home) : std::string(".");
}

} // namespace

std::unique_ptr<LineSource> MakeStreamSource(std::istream& in, const std::string& name) {
    return std::make_unique<StreamSource>(in, name);
}

std::unique_ptr<LineSource> MakeConsoleSource() {
    return std::make_unique<ConsoleSource>();
}

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

    // Sinks.
    AlertResponse ShowAlert(const AlertRequest& alert) override;
    DialogAnswer RunDialog(IControlView* dialog, WidgetID invalidField) override;
    std::optional<std::string> Choose(const ChooserRequest& request) override;

private:
    using Handler = void (HostShellImpl::*)(Args&);
    struct Command {
        const char* name;
        Handler run;
        // Usable while a modal dialog is open.
        bool whileModal;
    };
    static const Command kCommands[];

    // One command line; false when it failed (the error is printed).
    bool ExecuteLine(const std::string& line);
    void Execute(const std::vector<std::string>& words);
    std::string Where(int line) const;
    const char* Prompt() const { return dialogs.empty() ? "ordodesk> " : "ordodesk dialog> "; }

    // Host parts.
    InterfacePtr<IApplication> App() const;
    InterfacePtr<IDocumentList> Documents() const;
    IDataBase* FrontDb() const;
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

    // What is shown.
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
    void RunAction(ActionID id, bool force, const std::string& shown);

    // Commands.
    void CmdHelp(Args& a);
    void CmdEcho(Args& a);
    void CmdSet(Args& a);
    void CmdQuit(Args& a);
    void CmdNew(Args& a);
    void CmdOpen(Args& a);
    void CmdSave(Args& a);
    void CmdClose(Args& a);
    void CmdPlace(Args& a);
    void CmdGroup(Args& a);
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
    void CmdServer(Args& a);
    void CmdSamples(Args& a);
    void CmdMkdir(Args& a);
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

const HostShellImpl::Command HostShellImpl::kCommands[] = {
    {"help", &HostShellImpl::CmdHelp, true},
    {"echo", &HostShellImpl::CmdEcho, true},
    {"set", &HostShellImpl::CmdSet, true},
    {"quit", &HostShellImpl::CmdQuit, true},
    {"exit", &HostShellImpl::CmdQuit, true},
    {"new", &HostShellImpl::CmdNew, false},
    {"open", &HostShellImpl::CmdOpen, false},
    {"save", &HostShellImpl::CmdSave, false},
    {"close", &HostShellImpl::CmdClose, false},
    {"place", &HostShellImpl::CmdPlace, false},
    {"group", &HostShellImpl::CmdGroup, false},
    {"items", &HostShellImpl::CmdItems, true},
    {"select", &HostShellImpl::CmdSelect, false},
    {"action", &HostShellImpl::CmdAction, false},
    {"shortcut", &HostShellImpl::CmdShortcut, false},
    {"menu", &HostShellImpl::CmdMenu, true},
    {"panel", &HostShellImpl::CmdPanel, true},
    {"dialog", &HostShellImpl::CmdDialog, true},
    {"ok", &HostShellImpl::CmdOk, true},
    {"cancel", &HostShellImpl::CmdCancel, true},
    {"answer", &HostShellImpl::CmdAnswer, true},
    {"alert-answer", &HostShellImpl::CmdAlertAnswer, true},
    {"alerts", &HostShellImpl::CmdAlerts, true},
    {"idle", &HostShellImpl::CmdIdle, false},
    {"undo", &HostShellImpl::CmdUndo, false},
    {"redo", &HostShellImpl::CmdRedo, false},
    {"prefs", &HostShellImpl::CmdPrefs, true},
    {"server", &HostShellImpl::CmdServer, true},
    {"samples", &HostShellImpl::CmdSamples, true},
    {"mkdir", &HostShellImpl::CmdMkdir, true},
    {"expect", &HostShellImpl::CmdExpect, true},
};

// ---- start and stop

bool HostShellImpl::Start(std::string& why) {
    if (options.systemFolder.empty()) {
        options.systemFolder = HomeFolder() + "/.ordodesk/system";
    }
    if (options.sessionFile.empty()) {
        options.sessionFile = HomeFolder() + "/.ordodesk/session.odsession";
    }
    options.systemFolder = Absolute(options.systemFolder);
    options.sessionFile = Absolute(options.sessionFile);
    if (options.locale != "en" && options.locale != "fr" && options.locale != "es") {
        why = "unknown locale \"" + options.locale + "\" (en, fr or es)";
        return false;
    }
    std::error_code ec;
    std::filesystem::create_directories(options.systemFolder, ec);
    if (ec) {
        why = "cannot make the system folder " + options.systemFolder + ": " + ec.message();
        return false;
    }
    const std::filesystem::path sessionFolder =
        std::filesystem::path(options.sessionFile).parent_path();
    if (!sessionFolder.empty()) {
        std::filesystem::create_directories(sessionFolder, ec);
        if (ec) {
            why = "cannot make the folder of the session file " + options.sessionFile + ": " +
                  ec.message();
            return false;
        }
    }

    // The system folder first: the plug-in fixes its identity folder from it
    // the first time it makes a preferences record.
    HostPlatform::SetSystemFolder(options.systemFolder);
    RegisterHostServices();
    RegisterDocumentModel();
    if (!LoadOrdoPlugIn()) {
        err << "ordodesk: warning: the OrdoDesk plug-in did not load; the host runs without it\n";
    }
    // The selection classes are the host's; the plug-in's suite sits on them.
    RegisterOrdoSuite();
    HostStrings::SetLocale(HostLocaleOf(options.locale));

    ISession* session = GetExecutionContextSession();
    if (std::filesystem::exists(options.sessionFile)) {
        std::string reason;
        if (session->ReadSessionFile(options.sessionFile, &reason) != kSuccess) {
            err << "ordodesk: warning: the session file " << options.sessionFile
                << " is not used: " << reason << "\n";
        }
    }

    previousAlertSink = CAlert::SetAlertSink(this);
    previousDialogSink = DialogMgr::SetDialogSink(this);
    previousChooserSink = Choosers::SetChooserSink(this);
    started = true;

    InterfacePtr<IApplication> app = App();
    if (!app || app->Startup() != kSuccess) {
        why = "the host application did not start";
        return false;
    }
    InterfacePtr<IPanelMgr> panels(app->QueryPanelManager());
    if (panels && panels->GetPanelFromWidgetID(kOrdoPanelWidgetID) == nullptr) {
        RegisterOrdoPanel();
        panel = CreateOrdoPanel();
        if (panel) {
            panels->RegisterPanel(panel.get());
        }
    }
    return true;
}

void HostShellImpl::Stop() {
    if (!started || stopped) {
        return;
    }
    stopped = true;
    if (InterfacePtr<IDocumentList> docs = Documents()) {
        while (!databases.empty()) {
            docs->CloseDocument(databases.back().get());
            databases.pop_back();
        }
    }
    databases.clear();
    if (InterfacePtr<IApplication> app = App()) {
        if (InterfacePtr<IPanelMgr> panels{app->QueryPanelManager()}) {
            panels->HideAll();
        }
        if (app->GetApplicationState() == IApplication::kAppRunning) {
            app->Shutdown();
        }
    }
    std::string reason;
    if (GetExecutionContextSession()->WriteSessionFile(options.sessionFile, &reason) != kSuccess) {
        err << "ordodesk: warning: the session file " << options.sessionFile
            << " was not written: " << reason << "\n";
    }
    panel.reset();
    CAlert::SetAlertSink(previousAlertSink);
    DialogMgr::SetDialogSink(previousDialogSink);
    Choosers::SetChooserSink(previousChooserSink);
    ResetHostForTesting();
    HostStrings::SetLocale(0);
    if (vipsStarted) {
        vips_shutdown();
        vipsStarted = false;
    }
}

// ---- running commands

int HostShellImpl::Run(LineSource& src, bool stop) {
    LineSource* previous = source;
    const bool previousStop = stopOnError;
    source = &src;
    stopOnError = stop;
    int code = 0;
    std::string line;
    while (!quitting && source->Next(line, Prompt())) {
        const bool ok = ExecuteLine(line);
        if ((!ok || aborting || failed) && stopOnError) {
            code = 1;
            break;
        }
    }
    source = previous;
    stopOnError = previousStop;
    return code;
}

std::string HostShellImpl::Where(int line) const {
    if (source == nullptr || source->Interactive()) {
        return "error";
    }
    return source->Name() + ":" + std::to_string(line) + ": error";
}

bool HostShellImpl::ExecuteLine(const std::string& line) {
    const int lineNumber = source != nullptr ? source->LineNumber() : 0;
    const int outerLine = commandLine;
    commandLine = lineNumber;
    bool ok = true;
    try {
        const std::vector<std::string> words = CommandWords(line, variables);
        if (!words.empty()) {
            if (options.echo && (source == nullptr || !source->Interactive())) {
                out << (dialogs.empty() ? "> " : "  dialog> ")
                    << line.substr(line.find_first_not_of(" \t")) << "\n";
            }
            Execute(words);
        }
    } catch (const ShellError& e) {
        err << "ordodesk: " << Where(lineNumber) << ": " << e.what() << "\n";
        ok = false;
    } catch (const std::exception& e) {
        err << "ordodesk: " << Where(lineNumber) << ": " << e.what() << "\n";
        ok = false;
    }
    out.flush();
    commandLine = outerLine;
    return ok;
}

void HostShellImpl::Execute(const std::vector<std::string>& words) {
    const std::string name = Lower(words[0]);
    for (const Command& c : kCommands) {
        if (name == c.name) {
            if (!dialogs.empty() && !c.whileModal) {
                Fail("\"" + name +
                     "\" cannot be used while a dialog is open (dialog ok or cancel first)");
            }
            Args args(std::vector<std::string>(words.begin() + 1, words.end()));
            (this->*c.run)(args);
            return;
        }
    }
    Fail("unknown command \"" + words[0] + "\" (help lists the commands)");
}

// ---- sinks

AlertResponse HostShellImpl::ShowAlert(const AlertRequest& alert) {
    AlertResponse response;
    response.button = alert.defaultButton;
    if (!aborting && !alertAnswers.empty()) {
        response = alertAnswers.front();
        alertAnswers.pop_front();
    }
    if (response.button < 1 || response.button > static_cast<int16_t>(alert.buttons.size())) {
        response.button = alert.defaultButton;
    }
    alerts.push_back({alert, response.button});
    out << "alert (" << AlertKindName(alert.kind) << ")";
    if (!alert.title.IsEmpty()) {
        out << " " << alert.title.GetUTF8String() << ":";
    }
    out << " " << alert.message.GetUTF8String();
    if (alert.buttons.size() > 1) {
        out << " [";
        for (std::size_t i = 0; i < alert.buttons.size(); ++i) {
            out << (i ? "/" : "") << alert.buttons[i].GetUTF8String();
        }
        const auto chosen = static_cast<std::size_t>(response.button - 1);
        out << "] -> "
            << (chosen < alert.buttons.size() ? alert.buttons[chosen].GetUTF8String() : "");
    }
    out << "\n";
    return response;
}

std::optional<std::string> HostShellImpl::Choose(const ChooserRequest& request) {
    std::optional<std::string> answer;
    if (!aborting && !chooserAnswers.empty()) {
        answer = chooserAnswers.front();
        chooserAnswers.pop_front();
    }
    out << "chooser (" << ChooserKindName(request.kind) << ")";
    if (!request.title.IsEmpty()) {
        out << " \"" << Text(request.title) << "\"";
    }
    out << ": " << (answer ? *answer : std::string("cancelled")) << "\n";
    return answer;
}

DialogAnswer HostShellImpl::RunDialog(IControlView* dialog, WidgetID invalidField) {
    if (aborting || quitting || source == nullptr || dialog == nullptr) {
        return DialogAnswer::kCancel;
    }
    dialogs.push_back({dialog, std::nullopt});
    const std::string title = Text(WidgetUtils::GetText(dialog, dialog->GetWidgetID()));
    out << "dialog \"" << title << "\" (" << Hex(dialog->GetWidgetID().Get()) << ") is open";
    if (invalidField.IsValid()) {
        out << "; the value of widget " << Hex(invalidField.Get()) << " was refused";
    }
    out << "\n";
    std::string line;
    while (!dialogs.back().answer) {
        if (!source->Next(line, Prompt())) {
            err << "ordodesk: " << source->Name()
                << ": error: the commands ended while the dialog \"" << title
                << "\" was open; it is cancelled\n";
            // Nothing more will come: every dialog from here on is cancelled.
            failed = true;
            aborting = true;
            dialogs.back().answer = DialogAnswer::kCancel;
            break;
        }
        const bool ok = ExecuteLine(line);
        if (!ok && stopOnError) {
            aborting = true;
        }
        if (aborting || quitting) {
            dialogs.back().answer = DialogAnswer::kCancel;
        }
    }
    const DialogAnswer answer = *dialogs.back().answer;
    dialogs.pop_back();
    out << "dialog \"" << title << "\" closed with "
        << (answer == DialogAnswer::kOK ? "OK" : "Cancel") << "\n";
    return answer;
}

// ---- host parts

InterfacePtr<IApplication> HostShellImpl::App() const {
    ISession* session = GetExecutionContextSession();
    return InterfacePtr<IApplication>(session != nullptr ? session->QueryApplication() : nullptr);
}

InterfacePtr<IDocumentList> HostShellImpl::Documents() const {
    InterfacePtr<IApplication> app = App();
    return InterfacePtr<IDocumentList>(app ? app->QueryDocumentList() : nullptr);
}

IDataBase* HostShellImpl::FrontDb() const {
    InterfacePtr<IDocumentList> docs = Documents();
    return docs ? docs->GetFrontDocument() : nullptr;
}

IDataBase* HostShellImpl::RequireDocument() const {
    IDataBase* db = FrontDb();
    if (db == nullptr) {
        Fail("no document is open (new or open first)");
    }
    return db;
}

UIDRef HostShellImpl::ItemRef(const std::string& uidText) const {
    IDataBase* db = RequireDocument();
    const auto value = static_cast<uint32_t>(ParseInteger(uidText, "UID", 1, 0xFFFFFFFFll));
    const UIDRef ref(db, UID(value));
    if (!db->IsValidUID(UID(value)) || !PageItemTypeUtils::IsPageItem(ref)) {
        Fail("no page item has the UID " + uidText);
    }
    return ref;
}

void HostShellImpl::AddDocument(std::unique_ptr<IDataBase> db, const PMString& name, bool opened) {
    InterfacePtr<IDocumentList> docs = Documents();
    if (!docs) {
        Fail("the host has no document list");
    }
    const ErrorCode code = opened ? docs->AddOpenedDocument(db.get(), kInvalidUID, name)
                                  : docs->AddNewDocument(db.get(), kInvalidUID, name);
    if (code != kSuccess) {
        Fail("the document could not be added to the session");
    }
    InterfacePtr<IIntegratorTarget> selection = NewDocumentSelection(db.get());
    if (selection) {
        docs->SetDocumentSelection(db.get(), selection.get());
    }
    databases.push_back(std::move(db));
}

IControlView* HostShellImpl::Panel() const {
    if (!panel) {
        Fail("the orders panel is not available (the plug-in made none)");
    }
    return panel.get();
}

IListBoxController* HostShellImpl::PanelList() const {
    IControlView* list = WidgetUtils::FindWidget(Panel(), kOrdoListBoxWidgetID);
    InterfacePtr<IListBoxController> controller(list, IID_ILISTBOXCONTROLLER);
    if (!controller) {
        Fail("the orders panel has no orders list");
    }
    return controller.get(); // held by the panel's tree
}

bool HostShellImpl::PanelShown() const {
    InterfacePtr<IApplication> app = App();
    InterfacePtr<IPanelMgr> panels(app ? app->QueryPanelManager() : nullptr);
    return panels && panels->IsPanelShown(kOrdoPanelWidgetID);
}

IControlView* HostShellImpl::CurrentDialog() const {
    if (dialogs.empty()) {
        Fail("no dialog is open");
    }
    return dialogs.back().view;
}

// A widget named by its ID (0x71950, or decimal) or by its label as shown
// (case does not matter, nor the '&' of an access key).
IControlView* HostShellImpl::FindWidget(IControlView* root, const std::string& ref,
                                        bool forValue) const {
    if (!ref.empty() && std::isdigit(static_cast<unsigned char>(ref[0]))) {
        const auto id = static_cast<uint32_t>(ParseInteger(ref, "widget ID", 1, 0xFFFFFFFFll));
        IControlView* view = WidgetUtils::FindWidget(root, WidgetID(id));
        if (view == nullptr) {
            Fail("no widget " + Hex(id) + " in the dialog");
        }
        return view;
    }
    auto plain = [](std::string s) {
        s.erase(std::remove(s.begin(), s.end(), '&'), s.end());
        return Lower(s);
    };
    auto takesValue = [](const IControlView* view) {
        switch (view->GetKind()) {
        case WidgetKind::kEditBox:
        case WidgetKind::kCheckBox:
        case WidgetKind::kRadioButton:
        case WidgetKind::kDropDownList:
        case WidgetKind::kListBox:
            return true;
        default:
            return false;
        }
    };
    const std::vector<IControlView*> all = WidgetUtils::AllWidgets(root);
    for (std::size_t i = 0; i < all.size(); ++i) {
        IControlView* view = all[i];
        InterfacePtr<ITextControlData> text(view, IID_ITEXTCONTROLDATA);
        if (!text || view->GetKind() == WidgetKind::kEditBox ||
            plain(Text(text->GetString())) != plain(ref)) {
            continue;
        }
        // A static text labels the control that follows it.
        if (forValue && view->GetKind() == WidgetKind::kStaticText) {
            for (std::size_t j = i + 1; j < all.size(); ++j) {
                if (takesValue(all[j])) {
                    return all[j];
                }
            }
        }
        return view;
    }
    Fail("no widget labelled \"" + ref + "\" in the dialog");
}

// ---- views

std::vector<HostShellImpl::RowView> HostShellImpl::PanelRows() const {
    std::vector<RowView> rows;
    IListBoxController* list = PanelList();
    const std::vector<UIDRef>& items = OrdoPanelItems();
    for (int32_t r = 0; r < list->GetRowCount(); ++r) {
        const ListRow row = list->GetRow(r);
        RowView v;
        v.row = r + 1;
        auto cell = [&](WidgetID id) -> const ListCell* { return row.FindCell(id); };
        auto text = [&](WidgetID id) {
            const ListCell* c = cell(id);
            return c != nullptr ? Text(c->text) : std::string();
        };
        bool numberOk = false;
        const int index = PMString(text(kOrdoRowIndexCellID)).GetAsNumber(&numberOk);
        v.index = numberOk ? index : -1;
        if (const ListCell* c = cell(kOrdoStatusIconCellID)) {
            v.icon = c->iconID;
        }
        v.page = text(kOrdoPageCellID);
        v.name = text(kOrdoNameCellID);
        v.options = text(kOrdoOptionsCellID);
        v.process = text(kOrdoProcessCellID);
        v.type = text(kOrdoImageTypeCellID);
        v.selected = list->IsSelected(r);
        // Rows the panel has not rebuilt since their document closed name a
        // database that is gone: only items of open documents are read.
        if (v.index >= 0 && static_cast<std::size_t>(v.index) < items.size() &&
            IsOpen(items[static_cast<std::size_t>(v.index)].GetDataBase())) {
            v.item = items[static_cast<std::size_t>(v.index)];
            OD_ProcData record;
            if (IsUsableItemRef(v.item) && OD_DataAccessor(v.item).Read(record) == 0) {
                v.orderStatus = record.status;
            }
        }
        rows.push_back(v);
    }
    return rows;
}

std::string HostShellImpl::LogText() const {
    return HasOrdoLog() ? GetOrdoLog()->Text() : std::string();
}

ordered_json HostShellImpl::PanelJson() const {
    IControlView* p = Panel();
    ordered_json j;
    j["open"] = PanelShown();
    ordered_json rows = ordered_json::array();
    for (const RowView& v : PanelRows()) {
        ordered_json r;
        r["row"] = v.row;
        r["index"] = v.index;
        r["icon"] = v.icon;
        r["iconMeaning"] = IconMeaning(v.icon);
        r["page"] = v.page;
        r["name"] = v.name;
        r["options"] = v.options;
        r["process"] = v.process;
        r["type"] = v.type;
        r["selected"] = v.selected;
        r["uid"] = v.item.GetUID().Get();
        r["status"] = v.orderStatus;
        rows.push_back(r);
    }
    j["rows"] = rows;
    auto button = [&](WidgetID id) {
        ordered_json b;
        IControlView* view = WidgetUtils::FindWidget(p, id);
        b["enabled"] = view != nullptr && view->IsEnabled();
        b["visible"] = view != nullptr && view->IsVisible();
        return b;
    };
    j["trash"] = button(kOrdoTrashButtonWidgetID);
    j["go"] = button(kOrdoGoButtonWidgetID);
    j["showLog"] = WidgetUtils::IsChecked(p, kOrdoShowLogWidgetID);
    IControlView* area = WidgetUtils::FindWidget(p, kOrdoLogAreaWidgetID);
    j["logAreaVisible"] = area != nullptr && area->IsVisible();
    j["refreshNeeded"] = IsOrdoRefreshNeeded();
    j["log"] = LogText();
    return j;
}

void HostShellImpl::PrintPanel() const {
    const ordered_json j = PanelJson();
    out << "Orders panel (" << (j["open"].get<bool>() ? "open" : "closed") << "), "
        << j["rows"].size() << (j["rows"].size() == 1 ? " row" : " rows") << "\n";
    if (!j["rows"].empty()) {
        out << "    " << Pad("#", 3) << Pad("St", 5) << Pad("Page", 4) << Pad("File Name", 24)
            << Pad("Options", 10) << Pad("Process", 34) << "Type\n";
        for (const auto& r : j["rows"]) {
            out << "  " << (r["selected"].get<bool>() ? '>' : ' ') << " "
                << Pad(std::to_string(r["row"].get<int>()), 3)
                << Pad(IconSymbol(r["icon"].get<int32_t>()), 5)
                << Pad(r["page"].get<std::string>(), 4) << Pad(r["name"].get<std::string>(), 24)
                << Pad(r["options"].get<std::string>(), 10)
                << Pad(r["process"].get<std::string>(), 34) << r["type"].get<std::string>() << "\n";
        }
    }
    out << "  buttons: trash " << (j["trash"]["enabled"].get<bool>() ? "enabled" : "disabled")
        << ", go " << (j["go"]["enabled"].get<bool>() ? "enabled" : "disabled") << "; log "
        << (j["logAreaVisible"].get<bool>() ? "shown" : "hidden") << "\n";
    const std::string log = j["log"].get<std::string>();
    if (!log.empty()) {
        out << "  log:\n";
        std::istringstream lines(log);
        std::string l;
        while (std::getline(lines, l)) {
            out << "    " << l << "\n";
        }
    }
}

ordered_json HostShellImpl::MenuJson(const std::string& path) const {
    InterfacePtr<IApplication> app = App();
    InterfacePtr<IMenuManager> menus(app->QueryMenuManager());
    InterfacePtr<IActionManager> actions(app->QueryActionManager());
    InterfacePtr<IShortcutManager> shortcuts(actions.get(), IID_ISHORTCUTMANAGER);
    if (!menus || !actions) {
        Fail("the host has no menu or action manager");
    }
    const std::vector<MenuItemDefinition> items = menus->GetMenuItems(PMString(path));
    std::vector<ActionID> ids;
    for (const MenuItemDefinition& item : items) {
        if (!item.separator) {
            ids.push_back(item.action);
        }
    }
    // The host asks the components for the states just before it shows a menu.
    if (!ids.empty()) {
        actions->UpdateActionStates(nullptr, ids);
    }
    ordered_json list = ordered_json::array();
    for (const MenuItemDefinition& item : items) {
        ordered_json e;
        e["action"] = Hex(item.action.Get());
        e["name"] = NameOfAction(item.action);
        e["separator"] = item.separator;
        if (item.separator) {
            e["text"] = "";
            e["enabled"] = false;
        } else {
            // Shown as the host draws it: a single '&' marks the access key.
            std::string text =
                Text(item.text.IsEmpty() ? actions->GetActionName(item.action) : item.text);
            for (std::size_t i = 0; i < text.size(); ++i) {
                if (text[i] == '&') {
                    text.erase(i, 1);
                }
            }
            e["text"] = text;
            e["enabled"] = actions->IsEnabled(item.action);
        }
        e["checked"] = !item.separator && actions->IsChecked(item.action);
        std::string keys;
        if (shortcuts && !item.separator) {
            for (const ShortcutBinding& b : shortcuts->GetShortcutsForAction(item.action)) {
                keys += (keys.empty() ? "" : ", ") +
                        ShortcutUtils::GetShortcutString(b.key, b.modifiers).GetUTF8String();
            }
        }
        e["shortcut"] = keys;
        e["position"] = item.position;
        list.push_back(e);
    }
    return list;
}

ordered_json HostShellImpl::WidgetJson(IControlView* view) const {
    ordered_json w;
    w["id"] = Hex(view->GetWidgetID().Get());
    w["kind"] = WidgetKindName(view->GetKind());
    InterfacePtr<ITextControlData> text(view, IID_ITEXTCONTROLDATA);
    InterfacePtr<ITriStateControlData> state(view, IID_ITRISTATECONTROLDATA);
    InterfacePtr<IStringListControlData> strings(view, IID_ISTRINGLISTCONTROLDATA);
    InterfacePtr<IDropDownListController> dropDown(view, IID_IDROPDOWNLISTCONTROLLER);
    InterfacePtr<IListBoxController> listBox(view, IID_ILISTBOXCONTROLLER);
    const std::string shown = text ? Text(text->GetString()) : std::string();
    switch (view->GetKind()) {
    case WidgetKind::kEditBox:
    case WidgetKind::kStaticText:
        w["label"] = "";
        w["value"] = shown;
        break;
    case WidgetKind::kCheckBox:
    case WidgetKind::kRadioButton:
        w["label"] = shown;
        w["value"] = state && state->IsSelected() ? "on" : "off";
        break;
    case WidgetKind::kDropDownList:
        w["label"] = "";
        w["value"] = strings && dropDown && dropDown->GetSelected() >= 0
                         ? Text(strings->GetString(dropDown->GetSelected()))
                         : "";
        break;
    default:
        w["label"] = shown;
        w["value"] = "";
        break;
    }
    w["enabled"] = view->IsEnabled();
    w["visible"] = view->IsVisible();
    ordered_json entries = ordered_json::array();
    if (strings) {
        for (int32_t i = 0; i < strings->Length(); ++i) {
            entries.push_back(Text(strings->GetString(i)));
        }
    }
    w["entries"] = entries;
    ordered_json selection = ordered_json::array();
    if (dropDown && dropDown->GetSelected() >= 0) {
        selection.push_back(dropDown->GetSelected());
    }
    if (listBox) {
        for (int32_t r : listBox->GetSelected()) {
            selection.push_back(r);
        }
    }
    w["selection"] = selection;
    return w;
}

ordered_json HostShellImpl::DialogJson(IControlView* dialog) const {
    ordered_json j;
    j["id"] = Hex(dialog->GetWidgetID().Get());
    j["title"] = Text(WidgetUtils::GetText(dialog, dialog->GetWidgetID()));
    ordered_json widgets = ordered_json::array();
    for (IControlView* view : WidgetUtils::AllWidgets(dialog)) {
        if (view != dialog) {
            widgets.push_back(WidgetJson(view));
        }
    }
    j["widgets"] = widgets;
    return j;
}

namespace {

const char* ItemKind(const UIDRef& ref) {
    using namespace PageItemTypeUtils;
    switch (GetPageItemType(ref)) {
    case PageItemType::kGraphicFrame:
        return "frame";
    case PageItemType::kGroup:
        return "group";
    case PageItemType::kImage:
        return "image";
    case PageItemType::kOther:
        break;
    }
    if (IsTextFrame(ref)) {
        return "text";
    }
    if (IsUnassignedFrame(ref)) {
        return "shape";
    }
    return "other";
}

void CollectItems(IDataBase* db, UID uid, int depth, ordered_json& list) {
    const UIDRef ref(db, uid);
    InterfacePtr<IHierarchy> hierarchy = InterfaceOf<IHierarchy>(ref);
    if (!hierarchy) {
        return;
    }
    ordered_json e;
    e["uid"] = uid.Get();
    e["kind"] = ItemKind(ref);
    e["depth"] = depth;
    e["parent"] = hierarchy->GetParentUID().Get();
    e["page"] = LayoutUtils::GetPageNumber(ref);
    InterfacePtr<IGeometry> geometry = InterfaceOf<IGeometry>(ref);
    InterfacePtr<ITransform> transform = InterfaceOf<ITransform>(ref);
    if (geometry && transform) {
        // Bounds as the page sees them: spread coordinates less the page's
        // position on its spread, so they read like the place command's.
        PMRect box = geometry->GetBoundingBox(transform->GetInnerToSpreadMatrix());
        const UID pageUID = LayoutUtils::GetOwnerPageUID(ref);
        if (InterfacePtr<IPage> page = InterfaceOf<IPage>(UIDRef(db, pageUID))) {
            const PMRect pageBox = page->GetBoundsInSpread();
            box.MoveRel(-pageBox.Left(), -pageBox.Top());
        }
        e["bounds"] = {Rounded(box.Left()), Rounded(box.Top()), Rounded(box.Right()),
                       Rounded(box.Bottom())};
        const PMMatrix m = transform->GetInnerToParentMatrix();
        const PMMatrix::Parts parts = m.Decompose();
        ordered_json t;
        t["xScale"] = Rounded(parts.xScale);
        t["yScale"] = Rounded(parts.yScale);
        t["rotation"] = Rounded(parts.rotation);
        t["skew"] = Rounded(parts.xSkew);
        t["tx"] = Rounded(parts.xTranslation);
        t["ty"] = Rounded(parts.yTranslation);
        e["transform"] = t;
    }
    InterfacePtr<IDataLink> link = InterfaceOf<IDataLink>(ref);
    e["link"] = link ? link->GetLongName().GetUTF8String() : "";
    OD_ProcData record;
    if (PageItemTypeUtils::IsGraphic(ref) && OD_DataAccessor(ref).Read(record) == 0 &&
        record.status != 0) {
        e["orderStatus"] = record.status;
        e["outputName"] = record.outputName.GetUTF8String();
    }
    list.push_back(e);
    for (int32_t i = 0; i < hierarchy->GetChildCount(); ++i) {
        CollectItems(db, hierarchy->GetChildUID(i), depth + 1, list);
    }
}

} // namespace

ordered_json HostShellImpl::ItemsJson() const {
    IDataBase* db = RequireDocument();
    InterfacePtr<IDocument> doc = DocumentUtils::QueryDocument(db);
    ordered_json list = ordered_json::array();
    for (UID spread : doc->GetSpreads()) {
        InterfacePtr<IHierarchy> hierarchy = InterfaceOf<IHierarchy>(UIDRef(db, spread));
        for (int32_t i = 0; hierarchy && i < hierarchy->GetChildCount(); ++i) {
            CollectItems(db, hierarchy->GetChildUID(i), 0, list);
        }
    }
    return list;
}

ordered_json HostShellImpl::PrefsJson() const {
    InterfacePtr<IOrdoPrefsData> data(GetExecutionContextSession(), IID_IORDOPREFSDATA);
    if (!data) {
        Fail("the session carries no preferences (the plug-in is not loaded)");
    }
    const OD_PrefsData p = data->Get();
    ordered_json j;
    j["serverPath"] = p.GetServerPath();
    j["resolution"] = p.GetResolution();
    j["downSmpMin"] = p.GetDownSmpMin();
    j["upSmpMax"] = p.GetUpSmpMax();
    j["outFolder"] = p.GetOutFolder();
    j["repSrc"] = p.GetRepSrc();
    j["delSrc"] = p.GetDelSrc();
    j["ovrWrDest"] = p.GetOvrWrDest();
    j["checkSrc"] = p.GetCheckSrc();
    j["defaultProcess"] = p.GetDefaultProcess().GetUTF8String();
    j["autoUpdt"] = p.GetAutoUpdt();
    j["frequency"] = p.GetFrequency();
    j["opiActive"] = p.GetOpiActive();
    j["opiSuffix"] = p.GetOpiSuffix().GetUTF8String();
    j["opiLoResFolder"] = p.GetOpiLoResFolder();
    j["autoImport"] = p.GetAutoImport();
    j["qualityControl"] = p.GetQualityControl();
    j["showPrefs"] = p.GetShowPrefs();
    j["identityFolder"] = OD_PrefsData::IdentityFolder();
    return j;
}

const HostShellImpl::RowView& HostShellImpl::Row(const std::vector<RowView>& rows,
                                                 const std::string& text) const {
    const long long row = ParseInteger(text, "row", 1, 1000000);
    if (static_cast<std::size_t>(row) > rows.size()) {
        Fail("the panel has no row " + text + " (" + std::to_string(rows.size()) + " rows)");
    }
    return rows[static_cast<std::size_t>(row - 1)];
}

void HostShellImpl::RunAction(ActionID id, bool force, const std::string& shown) {
    InterfacePtr<IApplication> app = App();
    InterfacePtr<IActionManager> actions(app->QueryActionManager());
    if (!actions || !actions->IsValidAction(id)) {
        Fail("the action " + shown + " is not defined (is the plug-in loaded?)");
    }
    if (!force) {
        actions->UpdateActionStates(nullptr, {id});
        if (!actions->IsEnabled(id)) {
            Fail("the action " + shown + " is disabled");
        }
    }
    if (actions->PerformAction(id) != kSuccess) {
        Fail("the action " + shown + " failed");
    }
}

// ---- commands

void HostShellImpl::CmdHelp(Args& a) {
    a.Expect(0, 0, "help");
    out << ShellCommandHelp();
}

void HostShellImpl::CmdEcho(Args& a) {
    const auto& words = a.Words();
    for (std::size_t i = 0; i < words.size(); ++i) {
        out << (i ? " " : "") << words[i];
    }
    out << "\n";
}

void HostShellImpl::CmdSet(Args& a) {
    const auto& w = a.Expect(2, 2, "set NAME VALUE");
    variables[w[0]] = w[1];
}

void HostShellImpl::CmdQuit(Args& a) {
    a.Expect(0, 0, "quit");
    quitting = true;
    for (OpenDialog& d : dialogs) {
        d.answer = DialogAnswer::kCancel;
    }
}

void HostShellImpl::CmdNew(Args& a) {
    DocumentUtils::NewDocumentOptions o;
    if (auto pages = a.Option("--pages")) {
        o.pageCount = static_cast<int32_t>(ParseInteger(*pages, "page count", 1, 1000));
    }
    a.Expect(0, 0, "new [--pages N]");
    o.name = PMString("Untitled-" + std::to_string(++untitled));
    std::unique_ptr<IDataBase> db = DocumentUtils::NewDocument(o);
    AddDocument(std::move(db), o.name, false);
    out << "new document " << o.name.GetUTF8String() << " (" << o.pageCount
        << (o.pageCount == 1 ? " page" : " pages") << ")\n";
}

bool HostShellImpl::OpenDocument(const std::string& path) {
    try {
        Args a({path});
        CmdOpen(a);
        return true;
    } catch (const std::exception& e) {
        err << "ordodesk: error: " << e.what() << "\n";
        return false;
    }
}

void HostShellImpl::CmdOpen(Args& a) {
    const std::string path = Absolute(a.Expect(1, 1, "open PATH")[0]);
    std::string why;
    std::vector<std::string> warnings;
    std::unique_ptr<IDataBase> db = DocumentFile::Open(PMString(path), why, &warnings);
    if (!db) {
        Fail("cannot open " + path + ": " + why);
    }
    for (const std::string& w : warnings) {
        out << "warning: " << w << "\n";
    }
    InterfacePtr<IDocument> doc = DocumentUtils::QueryDocument(db.get());
    const PMString name = doc ? doc->GetName() : PMString(path);
    AddDocument(std::move(db), name, true);
    out << "opened " << name.GetUTF8String() << "\n";
}

void HostShellImpl::CmdSave(Args& a) {
    const auto& w = a.Expect(0, 1, "save [PATH]");
    IDataBase* db = RequireDocument();
    InterfacePtr<IDocument> doc = DocumentUtils::QueryDocument(db);
    std::string path = w.empty() ? doc->GetFilePath().GetUTF8String() : Absolute(w[0]);
    if (path.empty()) {
        Fail("the document was never saved: give a path");
    }
    std::string why;
    if (DocumentFile::Save(db, PMString(path), why) != kSuccess) {
        Fail("cannot save " + path + ": " + why);
    }
    out << "saved " << path << "\n";
}

void HostShellImpl::CmdClose(Args& a) {
    a.Expect(0, 0, "close");
    IDataBase* db = RequireDocument();
    InterfacePtr<IDocumentList> docs = Documents();
    const bool modified = db->IsModified();
    std::string name;
    if (InterfacePtr<IDocument> doc = DocumentUtils::QueryDocument(db)) {
        name = doc->GetName().GetUTF8String();
    }
    docs->CloseDocument(db);
    auto it = std::find_if(databases.begin(), databases.end(),
                           [&](const std::unique_ptr<IDataBase>& d) { return d.get() == db; });
    if (it != databases.end()) {
        databases.erase(it);
    }
    out << "closed " << name << (modified ? " (its changes were not saved)" : "") << "\n";
}

void HostShellImpl::CmdPlace(Args& a) {
    const auto pageOption = a.Option("--page");
    const auto scaleOption = a.Option("--scale");
    const auto rotateOption = a.Option("--rotate");
    const auto skewOption = a.Option("--skew");
    const auto flipOption = a.Option("--flip");
    const auto offsetOption = a.Option("--image-offset", 2);
    const auto nameOption = a.Option("--name");
    const auto& w = a.Expect(5, 5,
                             "place IMAGE X Y W H [--page N] [--scale S] [--rotate DEG] "
                             "[--skew DEG] [--flip h|v] [--image-offset DX DY] [--name VAR]");
    IDataBase* db = RequireDocument();
    const std::string path = Absolute(w[0]);
    const double x = ParseNumber(w[1], "X");
    const double y = ParseNumber(w[2], "Y");
    const double width = ParseNumber(w[3], "W");
    const double height = ParseNumber(w[4], "H");
    if (width <= 0 || height <= 0) {
        Fail("the frame needs a positive width and height");
    }
    const int32_t pageNumber =
        pageOption ? static_cast<int32_t>(ParseInteger(*pageOption, "page", 1, 100000)) : 1;
    const UIDRef page = DocumentUtils::GetNthPage(db, pageNumber - 1);
    if (!page.GetUID().Get()) {
        Fail("the document has no page " + std::to_string(pageNumber));
    }
    double scale = 1.0, rotate = 0.0, skew = 0.0;
    if (scaleOption) {
        scale = ParseNumber(*scaleOption, "scale");
        if (scale <= 0) {
            Fail("the scale must be positive");
        }
    }
    if (rotateOption) {
        rotate = ParseNumber(*rotateOption, "rotation");
    }
    if (skewOption) {
        skew = ParseNumber(*skewOption, "skew");
        if (std::abs(skew) >= 89.0) {
            Fail("the skew must lie between -89 and 89 degrees");
        }
    }
    if (flipOption && *flipOption != "h" && *flipOption != "v") {
        Fail("--flip takes h (left to right) or v (top to bottom)");
    }
    double dx = 0, dy = 0;
    if (offsetOption) {
        dx = ParseNumber((*offsetOption)[0], "DX");
        dy = ParseNumber((*offsetOption)[1], "DY");
    }

    // The frame, the place and the transformation make one undo step, and a
    // failure anywhere leaves the document as it was. The scale is about the
    // frame's left-top corner (where placing puts the image); mirror, skew and
    // rotation about the frame's centre; then the image moves.
    UIDRef frame;
    UIDRef image;
    std::string failure;
    const PMPoint centre(width / 2.0, height / 2.0);
    const ErrorCode result =
        DocumentUtils::ProcessChange(db, PMString("Place"), [&]() -> ErrorCode {
            ErrorCode error = kSuccess;
            frame =
                DocumentUtils::AddGraphicFrame(page, PMRect(x, y, x + width, y + height), &error);
            if (error != kSuccess) {
                failure = std::string("cannot make the frame: ") + DocumentErrorText(error);
                return error;
            }
            image = ImportUtils::PlaceFile(frame, PMString(path), &error);
            if (error != kSuccess) {
                failure = "cannot place " + path + ": " + DocumentErrorText(error);
                return error;
            }
            InterfacePtr<ITransform> t = InterfaceOf<ITransform>(image);
            bool ok = t != nullptr;
            if (ok && scaleOption) {
                ok = t->SetScale(scale, scale, PMPoint(0, 0));
            }
            if (ok && flipOption) {
                const PMMatrix::Parts parts = t->GetInnerToParentMatrix().Decompose();
                ok = *flipOption == "h" ? t->SetScale(-parts.xScale, parts.yScale, centre)
                                        : t->SetScale(parts.xScale, -parts.yScale, centre);
            }
            if (ok && skewOption) {
                ok = t->SetXSkewAngle(skew, centre);
            }
            if (ok && rotateOption) {
                ok = t->SetRotationAngle(rotate, centre);
            }
            if (ok && offsetOption) {
                t->MoveBy(dx, dy);
            }
            if (!ok) {
                failure = "the image could not be transformed as asked";
                return kFailure;
            }
            return kSuccess;
        });
    if (result != kSuccess) {
        Fail(failure.empty() ? std::string("cannot place ") + path : failure);
    }
    out << "placed " << std::filesystem::path(path).filename().string() << ": frame "
        << frame.GetUID().Get() << ", image " << image.GetUID().Get() << "\n";
    if (nameOption) {
        variables[*nameOption] = std::to_string(frame.GetUID().Get());
        variables[*nameOption + "_image"] = std::to_string(image.GetUID().Get());
    }
}

void HostShellImpl::CmdGroup(Args& a) {
    const auto& w = a.Expect(1, 1000, "group UID...");
    IDataBase* db = RequireDocument();
    UIDList list(db);
    for (const std::string& u : w) {
        list.Append(ItemRef(u));
    }
    ErrorCode error = kSuccess;
    const UIDRef group = DocumentUtils::GroupItems(list, &error);
    if (error != kSuccess) {
        Fail(std::string("cannot group: ") + DocumentErrorText(error));
    }
    out << "group " << group.GetUID().Get() << "\n";
}

void HostShellImpl::CmdItems(Args& a) {
    const bool json = a.Flag("--json");
    a.Expect(0, 0, "items [--json]");
    const ordered_json items = ItemsJson();
    if (json) {
        out << items.dump(2) << "\n";
        return;
    }
    for (const auto& e : items) {
        out << std::string(static_cast<std::size_t>(e["depth"].get<int>()) * 2 + 2, ' ')
            << e["kind"].get<std::string>() << " " << e["uid"].get<uint32_t>() << " page "
            << e["page"].get<int>();
        if (e.contains("bounds")) {
            const auto& b = e["bounds"];
            out << " [" << Number(b[0].get<double>()) << ", " << Number(b[1].get<double>()) << ", "
                << Number(b[2].get<double>()) << ", " << Number(b[3].get<double>()) << "]";
            const auto& t = e["transform"];
            out << " scale " << Number(t["xScale"].get<double>()) << "/"
                << Number(t["yScale"].get<double>()) << " rot "
                << Number(t["rotation"].get<double>()) << " skew "
                << Number(t["skew"].get<double>());
        }
        if (!e["link"].get<std::string>().empty()) {
            out << " link " << e["link"].get<std::string>();
        }
        if (e.contains("orderStatus")) {
            out << " order " << Hex(e["orderStatus"].get<uint32_t>());
        }
        out << "\n";
    }
}

void HostShellImpl::CmdSelect(Args& a) {
    const bool all = a.Flag("--all");
    const bool add = a.Flag("--add");
    const auto& w = a.Rest();
    IDataBase* db = RequireDocument();
    InterfacePtr<IDocument> doc = DocumentUtils::QueryDocument(db);
    InterfacePtr<ILayoutSelection> selection(doc.get(), IID_ILAYOUTSELECTION);
    if (!selection) {
        Fail("the document has no layout selection");
    }
    UIDList list(db);
    if (all) {
        for (UID spread : doc->GetSpreads()) {
            InterfacePtr<IHierarchy> h = InterfaceOf<IHierarchy>(UIDRef(db, spread));
            for (int32_t i = 0; h && i < h->GetChildCount(); ++i) {
                list.Append(h->GetChildUID(i));
            }
        }
    }
    for (const std::string& u : w) {
        list.Append(ItemRef(u));
    }
    if (list.IsEmpty() && !add) {
        selection->DeselectAll();
    } else {
        selection->Select(list, add ? ILayoutSelection::kAddTo : ILayoutSelection::kReplace);
    }
    const UIDList now = selection->GetSelectedItems();
    out << "selected:";
    for (UID u : now) {
        out << " " << u.Get();
    }
    out << (now.IsEmpty() ? " nothing\n" : "\n");
}

void HostShellImpl::CmdAction(Args& a) {
    const bool force = a.Flag("--force");
    const std::string name = a.Expect(1, 1, "action NAME [--force]")[0];
    RunAction(ActionByName(name), force, name);
}

void HostShellImpl::CmdShortcut(Args& a) {
    const bool force = a.Flag("--force");
    const auto& w = a.Expect(1, 1, "shortcut TEXT");
    VirtualKey key;
    int16_t modifiers = 0;
    std::string why;
    if (!ShortcutUtils::ParseShortcutString(PMString(w[0]), key, modifiers, &why)) {
        Fail("not a shortcut: " + w[0] + " (" + why + ")");
    }
    InterfacePtr<IApplication> app = App();
    InterfacePtr<IShortcutManager> shortcuts(app->QueryShortcutManager());
    const ActionID id =
        shortcuts
            ? shortcuts->GetActionFromShortcut(PMString(kDefaultShortcutContext), key, modifiers)
            : kInvalidActionID;
    if (!id.IsValid()) {
        Fail("no action has the shortcut " +
             ShortcutUtils::GetShortcutString(key, modifiers).GetUTF8String());
    }
    out << ShortcutUtils::GetShortcutString(key, modifiers).GetUTF8String() << ": "
        << NameOfAction(id) << "\n";
    RunAction(id, force, NameOfAction(id));
}

void HostShellImpl::CmdMenu(Args& a) {
    const bool json = a.Flag("--json");
    const bool listMenus = a.Flag("--list");
    const auto& w = a.Expect(0, 1, "menu [PATH] [--json] [--list]");
    if (listMenus) {
        InterfacePtr<IApplication> app = App();
        InterfacePtr<IMenuManager> menus(app->QueryMenuManager());
        for (const PMString& p : menus->GetMenuPaths()) {
            out << p.GetUTF8String() << "\n";
        }
        return;
    }
    const std::string path = w.empty() ? kPanelMenuPath : w[0];
    const ordered_json items = MenuJson(path);
    if (json) {
        out << items.dump(2) << "\n";
        return;
    }
    if (items.empty()) {
        Fail("the menu " + path + " has no entries (is the plug-in loaded?)");
    }
    for (const auto& e : items) {
        if (e["separator"].get<bool>()) {
            out << "  ----\n";
            continue;
        }
        out << "  [" << (e["enabled"].get<bool>() ? 'x' : ' ') << "] "
            << Pad(e["text"].get<std::string>(), 42) << Pad(e["shortcut"].get<std::string>(), 12)
            << e["name"].get<std::string>() << "\n";
    }
}

void HostShellImpl::CmdPanel(Args& a) {
    const bool json = a.Flag("--json");
    const std::vector<std::string> w = a.Rest();
    const std::string sub = w.empty() ? "" : Lower(w[0]);
    if (!sub.empty() && !dialogs.empty()) {
        Fail("the panel cannot be used while a dialog is open (dialog ok or cancel first)");
    }
    IControlView* p = Panel();
    auto needRows = [&](std::size_t low) {
        if (w.size() < low) {
            Fail("usage: panel " + sub + " ROW...");
        }
    };
    if (sub.empty()) {
        if (json) {
            out << PanelJson().dump(2) << "\n";
        } else {
            PrintPanel();
        }
        return;
    }
    if (sub == "open" || sub == "close") {
        InterfacePtr<IApplication> app = App();
        InterfacePtr<IPanelMgr> panels(app->QueryPanelManager());
        const bool ok = sub == "open" ? panels->ShowPanel(kOrdoPanelWidgetID)
                                      : panels->HidePanel(kOrdoPanelWidgetID);
        if (!ok) {
            Fail("the panel could not be " + std::string(sub == "open" ? "opened" : "closed"));
        }
        out << "panel " << (sub == "open" ? "open" : "closed") << "\n";
        return;
    }
    if (!PanelShown()) {
        Fail("the panel is closed (panel open first)");
    }
    if (sub == "select") {
        std::vector<int32_t> rows;
        const int32_t count = PanelList()->GetRowCount();
        for (std::size_t i = 1; i < w.size(); ++i) {
            const long long r = ParseInteger(w[i], "row", 1, 1000000);
            if (r > count) {
                Fail("the panel has no row " + w[i] + " (" + std::to_string(count) + " rows)");
            }
            rows.push_back(static_cast<int32_t>(r - 1));
        }
        if (!WidgetDriver::SelectRows(p, kOrdoListBoxWidgetID, rows)) {
            Fail("the rows could not be selected");
        }
        return;
    }
    if (sub == "double-click") {
        needRows(2);
        const long long r = ParseInteger(w[1], "row", 1, 1000000);
        if (r > PanelList()->GetRowCount()) {
            Fail("the panel has no row " + w[1]);
        }
        if (!WidgetDriver::DoubleClickRow(p, kOrdoListBoxWidgetID, static_cast<int32_t>(r - 1))) {
            Fail("the row could not be double-clicked");
        }
        return;
    }
    if (sub == "trash" || sub == "go") {
        const WidgetID id = sub == "trash" ? kOrdoTrashButtonWidgetID : kOrdoGoButtonWidgetID;
        if (!WidgetDriver::Press(p, id)) {
            Fail("the " + sub + " button is disabled");
        }
        return;
    }
    if (sub == "log") {
        const std::string what = w.size() == 2 ? Lower(w[1]) : "";
        bool ok = false;
        if (what == "show" || what == "hide") {
            ok = WidgetDriver::SetChecked(p, kOrdoShowLogWidgetID, what == "show");
        } else if (what == "clear") {
            ok = WidgetDriver::Press(p, kOrdoClearLogWidgetID);
        } else {
            Fail("usage: panel log show|hide|clear");
        }
        if (!ok) {
            Fail("the log control is not usable");
        }
        return;
    }
    if (sub == "drop") {
        needRows(2);
        DragDropData data;
        data.pageItems = UIDList(RequireDocument());
        for (std::size_t i = 1; i < w.size(); ++i) {
            data.pageItems.Append(ItemRef(w[i]));
        }
        const ErrorCode code = WidgetDriver::Drop(p, kOrdoListBoxWidgetID, data);
        if (code != kSuccess) {
            Fail("the orders list did not take the drop");
        }
        return;
    }
    Fail("unknown panel command \"" + w[0] +
         "\" (open, close, select, double-click, trash, go, log, drop)");
}

void HostShellImpl::CmdDialog(Args& a) {
    const bool json = a.Flag("--json");
    const std::vector<std::string> w = a.Rest();
    IControlView* dialog = CurrentDialog();
    if (w.empty()) {
        const ordered_json j = DialogJson(dialog);
        if (json) {
            out << j.dump(2) << "\n";
            return;
        }
        out << "dialog \"" << j["title"].get<std::string>() << "\" (" << j["id"].get<std::string>()
            << ")\n";
        for (const auto& e : j["widgets"]) {
            out << "  " << e["id"].get<std::string>() << " " << e["kind"].get<std::string>();
            if (!e["label"].get<std::string>().empty()) {
                out << " \"" << e["label"].get<std::string>() << "\"";
            }
            if (!e["value"].get<std::string>().empty() || e["kind"] == "edit box") {
                std::string value = e["value"].get<std::string>();
                for (std::size_t i = 0; (i = value.find('\n', i)) != std::string::npos;) {
                    value.replace(i, 1, "\\n");
                }
                out << " = \"" << value << "\"";
            }
            if (!e["enabled"].get<bool>()) {
                out << " (disabled)";
            }
            if (!e["visible"].get<bool>()) {
                out << " (hidden)";
            }
            if (!e["entries"].empty()) {
                out << " entries:";
                int i = 0;
                for (const auto& entry : e["entries"]) {
                    out << (i++ ? " |" : "") << " " << entry.get<std::string>();
                }
            }
            out << "\n";
        }
        return;
    }
    const std::string sub = Lower(w[0]);
    if (sub == "ok" || sub == "cancel") {
        if (w.size() != 1) {
            Fail("usage: dialog " + sub);
        }
        dialogs.back().answer = sub == "ok" ? DialogAnswer::kOK : DialogAnswer::kCancel;
        return;
    }
    if (sub == "click") {
        if (w.size() != 2) {
            Fail("usage: dialog click WIDGET");
        }
        IControlView* view = FindWidget(dialog, w[1]);
        if (!WidgetDriver::Press(dialog, view->GetWidgetID())) {
            Fail("widget " + Hex(view->GetWidgetID().Get()) +
                 " cannot be clicked (disabled, hidden "
                 "or not a button or box)");
        }
        return;
    }
    if (sub == "set") {
        if (w.size() < 3) {
            Fail("usage: dialog set WIDGET VALUE");
        }
        IControlView* view = FindWidget(dialog, w[1], true);
        const WidgetID id = view->GetWidgetID();
        std::string value = w[2];
        for (std::size_t i = 3; i < w.size(); ++i) {
            value += " " + w[i];
        }
        bool ok = false;
        switch (view->GetKind()) {
        case WidgetKind::kEditBox:
            ok = WidgetDriver::Type(dialog, id, PMString(value));
            break;
        case WidgetKind::kCheckBox:
        case WidgetKind::kRadioButton: {
            const std::string v = Lower(value);
            const bool on = v == "on" || v == "1" || v == "true" || v == "yes";
            if (!on && v != "off" && v != "0" && v != "false" && v != "no") {
                Fail("a box takes on or off");
            }
            ok = WidgetDriver::SetChecked(dialog, id, on);
            break;
        }
        case WidgetKind::kDropDownList:
            ok = WidgetDriver::ChooseEntry(dialog, id, PMString(value));
            if (!ok && !value.empty() && value[0] == '@') {
                ok = WidgetDriver::Choose(
                    dialog, id,
                    static_cast<int32_t>(ParseInteger(value.substr(1), "entry", 0, 100000)));
            }
            break;
        case WidgetKind::kListBox: {
            std::vector<int32_t> rows;
            for (std::size_t i = 2; i < w.size(); ++i) {
                rows.push_back(static_cast<int32_t>(ParseInteger(w[i], "row", 0, 1000000)));
            }
            ok = WidgetDriver::SelectRows(dialog, id, rows);
            break;
        }
        default:
            Fail("widget " + Hex(id.Get()) + " (" + WidgetKindName(view->GetKind()) +
                 ") takes no value");
        }
        if (!ok) {
            Fail("widget " + Hex(id.Get()) + " did not take \"" + value +
                 "\" (disabled, hidden, or not one of its entries)");
        }
        return;
    }
    Fail("unknown dialog command \"" + w[0] + "\" (set, click, ok, cancel)");
}

void HostShellImpl::CmdOk(Args& a) {
    a.Expect(0, 0, "ok");
    CurrentDialog();
    dialogs.back().answer = DialogAnswer::kOK;
}

void HostShellImpl::CmdCancel(Args& a) {
    a.Expect(0, 0, "cancel");
    CurrentDialog();
    dialogs.back().answer = DialogAnswer::kCancel;
}

void HostShellImpl::CmdAnswer(Args& a) {
    const auto& w = a.Expect(1, 1, "answer PATH|cancel");
    if (w[0] == "cancel") {
        chooserAnswers.push_back(std::nullopt);
    } else {
        chooserAnswers.push_back(Absolute(w[0]));
    }
}

void HostShellImpl::CmdAlertAnswer(Args& a) {
    const bool dontShow = a.Flag("--dont-show-again");
    const auto& w = a.Expect(1, 1, "alert-answer N|ok|cancel [--dont-show-again]");
    AlertResponse r;
    const std::string v = Lower(w[0]);
    if (v == "ok") {
        r.button = CAlert::kOKButton;
    } else if (v == "cancel") {
        r.button = CAlert::kCancelButton;
    } else {
        r.button = static_cast<int16_t>(ParseInteger(w[0], "button", 1, 3));
    }
    r.dontShowAgain = dontShow;
    alertAnswers.push_back(r);
}

void HostShellImpl::CmdAlerts(Args& a) {
    const bool json = a.Flag("--json");
    a.Expect(0, 0, "alerts [--json]");
    ordered_json list = ordered_json::array();
    for (const ShownAlert& s : alerts) {
        ordered_json e;
        e["kind"] = AlertKindName(s.request.kind);
        e["title"] = s.request.title.GetUTF8String();
        e["message"] = s.request.message.GetUTF8String();
        ordered_json buttons = ordered_json::array();
        for (const PMString& b : s.request.buttons) {
            buttons.push_back(b.GetUTF8String());
        }
        e["buttons"] = buttons;
        e["answer"] = s.answer;
        list.push_back(e);
    }
    if (json) {
        out << list.dump(2) << "\n";
    } else if (list.empty()) {
        out << "no alerts\n";
    } else {
        for (const auto& e : list) {
            out << "  " << e["kind"].get<std::string>() << ": " << e["message"].get<std::string>()
                << "\n";
        }
    }
    alerts.clear();
}

void HostShellImpl::CmdIdle(Args& a) {
    const auto& w = a.Expect(1, 1, "idle SECONDS");
    const double seconds = ParseNumber(w[0], "seconds");
    if (seconds < 0 || seconds > 4e6) {
        Fail("idle takes 0 to 4000000 seconds");
    }
    HostClock::Advance(static_cast<uint32_t>(std::llround(seconds * 1000.0)));
}

void HostShellImpl::CmdUndo(Args& a) {
    a.Expect(0, 0, "undo");
    IDataBase* db = RequireDocument();
    if (!db->CanUndo()) {
        Fail("nothing to undo");
    }
    const std::string name = Text(db->GetUndoName());
    db->Undo();
    out << "undone: " << name << "\n";
}

void HostShellImpl::CmdRedo(Args& a) {
    a.Expect(0, 0, "redo");
    IDataBase* db = RequireDocument();
    if (!db->CanRedo()) {
        Fail("nothing to redo");
    }
    const std::string name = Text(db->GetRedoName());
    db->Redo();
    out << "redone: " << name << "\n";
}

void HostShellImpl::CmdPrefs(Args& a) {
    const bool json = a.Flag("--json");
    a.Expect(0, 0, "prefs [--json]");
    const ordered_json j = PrefsJson();
    if (json) {
        out << j.dump(2) << "\n";
        return;
    }
    for (const auto& [key, value] : j.items()) {
        out << "  " << key << ": " << (value.is_string() ? value.get<std::string>() : value.dump())
            << "\n";
    }
}

void HostShellImpl::CmdServer(Args& a) {
    const auto& w = a.Expect(2, 2, "server init|once ROOT");
    const std::string what = Lower(w[0]);
    const std::string root = Absolute(w[1]);
    if (what == "init") {
        std::string why;
        if (!InitServerTree(root, why)) {
            Fail("cannot make the server tree: " + why);
        }
        out << "server tree " << root << " (server path " << ServerFolders(root).app << ")\n";
        return;
    }
    if (what == "once") {
        // libvips starts with the first pass and stops with the session.
        if (!vipsStarted) {
            if (VIPS_INIT("ordodesk") != 0) {
                Fail("the image library of the reference server did not start");
            }
            vipsStarted = true;
        }
        std::ostringstream log;
        RefServer server(root, log);
        std::string why;
        if (!server.Check(why)) {
            Fail("not a server tree: " + why);
        }
        const int handled = server.RunOnce();
        std::istringstream lines(log.str());
        std::string l;
        while (std::getline(lines, l)) {
            out << "  server: " << l << "\n";
        }
        out << "server pass: " << handled << (handled == 1 ? " job\n" : " jobs\n");
        return;
    }
    Fail("usage: server init|once ROOT");
}

void HostShellImpl::CmdSamples(Args& a) {
    const auto& w = a.Expect(1, 1, "samples FOLDER");
    const std::string folder = Absolute(w[0]);
    for (const SampleFile& f : WriteSampleFiles(folder)) {
        out << "  " << f.name << ": " << f.description << "\n";
    }
}

void HostShellImpl::CmdMkdir(Args& a) {
    const std::string folder = Absolute(a.Expect(1, 1, "mkdir FOLDER")[0]);
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        Fail("cannot make " + folder + ": " + ec.message());
    }
}

void HostShellImpl::CmdExpect(Args& a) {
    std::vector<std::string> w = a.Rest();
    bool negate = false;
    if (!w.empty() && w[0] == "not") {
        negate = true;
        w.erase(w.begin());
    }
    if (w.empty()) {
        Fail("usage: expect [not] WHAT ... (help lists them)");
    }
    const std::string what = Lower(w[0]);
    auto need = [&](std::size_t n, const char* usage) {
        if (w.size() != n) {
            Fail(std::string("usage: expect ") + usage);
        }
    };
    auto contains = [](const std::string& hay, const std::string& needle) {
        return hay.find(needle) != std::string::npos;
    };
    bool holds = false;
    std::string actual;
    if (what == "panel-rows") {
        need(2, "panel-rows N");
        const auto n = static_cast<std::size_t>(ParseInteger(w[1], "row count", 0, 1000000));
        const std::size_t rows = PanelRows().size();
        holds = rows == n;
        actual = std::to_string(rows) + " rows";
    } else if (what == "status" || what == "icon") {
        need(3, "status|icon ROW VALUE");
        const std::vector<RowView> rows = PanelRows();
        const RowView& r = Row(rows, w[1]);
        const long long want = ParseInteger(w[2], "value", -1, 0xFFFF);
        const long long have = what == "status" ? r.orderStatus : r.icon;
        holds = have == want;
        actual = have < 0 ? what + " unknown (no order read)"
                          : what + " " +
                                (what == "status" ? Hex(static_cast<uint32_t>(have))
                                                  : std::to_string(have));
    } else if (what == "row") {
        need(3, "row ROW TEXT");
        const std::vector<RowView> rows = PanelRows();
        const RowView& r = Row(rows, w[1]);
        actual = r.name + " | " + r.options + " | " + r.process + " | " + r.type + " | " + r.page;
        holds = contains(actual, w[2]);
    } else if (what == "link") {
        need(3, "link ROW TEXT");
        const std::vector<RowView> rows = PanelRows();
        const RowView& r = Row(rows, w[1]);
        PMString shortName, longName;
        if (r.item.GetDataBase() != nullptr) {
            LinkUtils::GetLinkNames(r.item, shortName, longName);
        }
        actual = longName.GetUTF8String();
        holds = contains(actual, w[2]);
    } else if (what == "menu") {
        need(3, "menu ACTION enabled|disabled");
        const ActionID id = ActionByName(w[1]);
        const std::string want = Lower(w[2]);
        if (want != "enabled" && want != "disabled") {
            Fail("usage: expect menu ACTION enabled|disabled");
        }
        bool found = false;
        for (const auto& e : MenuJson(kPanelMenuPath)) {
            if (e["action"] == Hex(id.Get())) {
                found = true;
                actual = e["enabled"].get<bool>() ? "enabled" : "disabled";
            }
        }
        if (!found) {
            Fail("the panel menu has no entry " + w[1]);
        }
        holds = actual == want;
    } else if (what == "button") {
        need(3, "button trash|go enabled|disabled");
        const std::string b = Lower(w[1]);
        if (b != "trash" && b != "go") {
            Fail("usage: expect button trash|go enabled|disabled");
        }
        const ordered_json j = PanelJson();
        actual = j[b]["enabled"].get<bool>() ? "enabled" : "disabled";
        holds = actual == Lower(w[2]);
    } else if (what == "log") {
        need(2, "log TEXT");
        actual = LogText();
        holds = contains(actual, w[1]);
    } else if (what == "alert") {
        need(2, "alert TEXT");
        for (const ShownAlert& s : alerts) {
            actual += s.request.message.GetUTF8String() + "\n";
            holds = holds || contains(s.request.message.GetUTF8String(), w[1]) ||
                    contains(s.request.title.GetUTF8String(), w[1]);
        }
    } else if (what == "alerts") {
        need(2, "alerts N");
        const auto n = static_cast<std::size_t>(ParseInteger(w[1], "count", 0, 1000000));
        holds = alerts.size() == n;
        actual = std::to_string(alerts.size()) + " alerts";
    } else if (what == "dialog") {
        need(2, "dialog ID|TITLE|none");
        if (dialogs.empty()) {
            actual = "none";
            holds = Lower(w[1]) == "none";
        } else {
            IControlView* d = dialogs.back().view;
            const std::string title = Text(WidgetUtils::GetText(d, d->GetWidgetID()));
            actual = Hex(d->GetWidgetID().Get()) + " \"" + title + "\"";
            holds = std::isdigit(static_cast<unsigned char>(w[1][0]))
                        ? d->GetWidgetID().Get() == ParseInteger(w[1], "dialog ID", 1, 0xFFFFFFFFll)
                        : title == w[1];
        }
    } else if (what == "widget") {
        if (w.size() < 3) {
            Fail("usage: expect widget WIDGET value TEXT|enabled|disabled|visible|hidden");
        }
        const ordered_json e = WidgetJson(FindWidget(CurrentDialog(), w[1], true));
        const std::string prop = Lower(w[2]);
        if (prop == "value") {
            need(4, "widget WIDGET value TEXT");
            actual = e["value"].get<std::string>();
            holds = actual == w[3];
        } else if (prop == "entries") {
            need(4, "widget WIDGET entries N");
            actual = std::to_string(e["entries"].size()) + " entries";
            holds = e["entries"].size() ==
                    static_cast<std::size_t>(ParseInteger(w[3], "count", 0, 1000000));
        } else {
            need(3, "widget WIDGET enabled|disabled|visible|hidden");
            actual = std::string(e["enabled"].get<bool>() ? "enabled" : "disabled") + ", " +
                     (e["visible"].get<bool>() ? "visible" : "hidden");
            if (prop == "enabled" || prop == "disabled") {
                holds = e["enabled"].get<bool>() == (prop == "enabled");
            } else if (prop == "visible" || prop == "hidden") {
                holds = e["visible"].get<bool>() == (prop == "visible");
            } else {
                Fail("expect widget: unknown property " + w[2]);
            }
        }
    } else if (what == "file") {
        need(2, "file PATH");
        holds = std::filesystem::exists(Absolute(w[1]));
        actual = holds ? "exists" : "missing";
    } else if (what == "file-contains") {
        need(3, "file-contains PATH TEXT");
        std::ifstream in(Absolute(w[1]), std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        actual = in ? "the file's text" : "no such file";
        holds = in && contains(text.str(), w[2]);
    } else if (what == "files") {
        need(3, "files FOLDER N");
        std::size_t count = 0;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(Absolute(w[1]), ec)) {
            if (entry.is_regular_file()) {
                ++count;
            }
        }
        holds = count == static_cast<std::size_t>(ParseInteger(w[2], "count", 0, 1000000));
        actual = std::to_string(count) + " files";
    } else if (what == "refresh") {
        need(2, "refresh up|down");
        actual = IsOrdoRefreshNeeded() ? "up" : "down";
        holds = actual == Lower(w[1]);
    } else if (what == "items") {
        need(3, "items KIND N");
        std::size_t count = 0;
        for (const auto& e : ItemsJson()) {
            count += e["kind"] == Lower(w[1]) ? 1 : 0;
        }
        holds = count == static_cast<std::size_t>(ParseInteger(w[2], "count", 0, 1000000));
        actual = std::to_string(count) + " " + w[1] + " items";
    } else if (what == "prefs") {
        need(3, "prefs FIELD TEXT");
        const ordered_json j = PrefsJson();
        if (!j.contains(w[1])) {
            Fail("no preferences field " + w[1]);
        }
        actual = j[w[1]].is_string() ? j[w[1]].get<std::string>() : j[w[1]].dump();
        holds = contains(actual, w[2]);
    } else if (what == "selected") {
        IDataBase* db = RequireDocument();
        InterfacePtr<IDocument> doc = DocumentUtils::QueryDocument(db);
        InterfacePtr<ILayoutSelection> selection(doc.get(), IID_ILAYOUTSELECTION);
        std::string want;
        if (w.size() == 3 && w[1] == "row") {
            // The page item that a panel row shows.
            const std::vector<RowView> rows = PanelRows();
            want = std::to_string(Row(rows, w[2]).item.GetUID().Get());
        } else {
            for (std::size_t i = 1; i < w.size(); ++i) {
                want += (i > 1 ? " " : "") + w[i];
            }
        }
        for (UID u : selection->GetSelectedItems()) {
            actual += (actual.empty() ? "" : " ") + std::to_string(u.Get());
        }
        holds = actual == want;
    } else if (what == "undo") {
        need(2, "undo NAME|none");
        IDataBase* db = RequireDocument();
        actual = db->CanUndo() ? Text(db->GetUndoName()) : "none";
        holds = actual == w[1];
    } else {
        Fail("unknown expectation \"" + w[0] + "\" (help lists them)");
    }
    if (holds == negate) {
        std::string said;
        for (const std::string& s : w) {
            said += " " + s;
        }
        Fail("expected" + std::string(negate ? " not" : "") + said + "; found " +
             (actual.empty() ? "nothing" : actual));
    }
}

// ---- the public face

HostShell::HostShell(const ShellOptions& options, std::ostream& out, std::ostream& err)
    : impl(std::make_unique<HostShellImpl>(options, out, err)) {}

HostShell::~HostShell() = default;

bool HostShell::Start(std::string& why) {
    return impl->Start(why);
}

bool HostShell::OpenDocument(const std::string& path) {
    return impl->OpenDocument(path);
}

int HostShell::Run(LineSource& source, bool stopOnError) {
    return impl->Run(source, stopOnError);
}

void HostShell::SetVariable(const std::string& name, const std::string& value) {
    impl->SetVariable(name, value);
}

void HostShell::Stop() {
    impl->Stop();
}

std::string ShellCommandHelp() {
    std::ostringstream h;
    h << R"(Documents and page items (coordinates in points, UIDs as items prints them)
  new [--pages N]                 a new document, the front one
  open PATH | save [PATH] | close the front document's file
  place IMAGE X Y W H [--page N] [--scale S] [--rotate DEG] [--skew DEG]
        [--flip h|v] [--image-offset DX DY] [--name VAR]
                                  a graphic frame with the image placed in it;
                                  --name sets ${VAR} (frame) and ${VAR_image}
  group UID...                    groups page items
  items [--json]                  page items: kind, UID, page, bounds, transform, link, order
  select [--all] [--add] UID...   the layout selection (nothing: deselect all)
  undo | redo                     the front document's undo steps
Menus and actions
  action NAME [--force]           runs a plug-in action if enabled: about, about-panel,
                                  add-selected, send-selected, edit-selected, send-all,
                                  preferences, undo-redo, show-selected
  shortcut TEXT                   the action bound to a shortcut (shortcut Ctrl+F2)
  menu [PATH] [--json] [--list]   the panel menu with enabled states
Orders panel (ROW counts from 1)
  panel [--json]                  rows, buttons and log
  panel open | close
  panel select ROW... | panel double-click ROW | panel trash | panel go
  panel log show|hide|clear | panel drop UID...
  Status icons: [R] 129 ready, [R!] 132 ready with a resampling warning,
  [S] 130 sent, [D] 128 done, [X] 131 failed, [D!] 133 done with a warning
Dialogs (while one is open, commands are read for it until ok or cancel;
WIDGET is an ID such as 0x71950 or a label such as "QOR...")
  dialog [--json]                 the open dialog's widgets
  dialog set WIDGET VALUE         edit box text, box on|off, drop-down entry (or @N,
                                  its index from 0), list rows
  dialog click WIDGET | dialog ok | dialog cancel (also: ok, cancel)
Choosers and alerts
  answer PATH|cancel              queues the answer of the next file or folder chooser
                                  (none queued: the chooser is cancelled)
  alert-answer N|ok|cancel [--dont-show-again]
                                  queues the answer of the next alert (none: its default)
  alerts [--json]                 the alerts shown since the last call
Time, preferences, server
  idle SECONDS                    moves the host clock; due idle tasks run
  prefs [--json]                  the session's preferences
  server init ROOT | server once ROOT
                                  the reference QOR server, in this process
  samples FOLDER                  writes sample images of every supported format
  mkdir FOLDER                    makes a folder (and its parents)
Scripts
  set NAME VALUE                  ${NAME} in later lines is replaced by VALUE
  echo TEXT... | help | quit
  expect [not] panel-rows N | status ROW HEX | icon ROW ID | row ROW TEXT
         | link ROW TEXT | menu ACTION enabled|disabled | button trash|go enabled|disabled
         | log TEXT | alert TEXT | alerts N | dialog ID|TITLE|none
         | widget WIDGET value TEXT|entries N|enabled|disabled|visible|hidden
         | file PATH | file-contains PATH TEXT | files FOLDER N | refresh up|down
         | items KIND N | prefs FIELD TEXT | selected UID...|row ROW | undo NAME|none
)";
    return h.str();
}
