// The host shell: the front end's side of the host session. It owns the open
// documents, answers the host's alerts, dialogs and choosers, and turns text
// commands into what a user does in the host. This file starts and stops the
// session, runs the command lines and answers the sinks; what the commands
// show is in HostShellViews.cpp, the commands themselves in
// HostShellCommands.cpp and HostShellExpect.cpp.
#include "HostShellImpl.h"

#include "DocumentModel.h"
#include "DocumentUtils.h"
#include "HostPlatform.h"
#include "HostStrings.h"
#include "IOrdoSuite.h"
#include "ISession.h"
#include "IdmlDocument.h"
#include "ImageRaster.h"
#include "OrdoPanel.h"
#include "OrdoPlugIn.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <sstream>
#include <unistd.h>

#include <editline/readline.h>
#include <poll.h>
#include <vips/vips.h>

using namespace hostshell;

namespace {

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
// else with a plain prompt. A live console runs `waiting` while it waits for
// input, at least every kLiveSlice, so that the host's idle tasks keep time.
constexpr int kLiveSliceMs = 100;

std::function<void()> gWhileWaiting;

// Waits until standard input has something to read (or is at its end),
// running gWhileWaiting between slices.
void WaitForInput() {
    pollfd in{STDIN_FILENO, POLLIN, 0};
    while (gWhileWaiting) {
        const int ready = ::poll(&in, 1, kLiveSliceMs);
        if (ready != 0 && !(ready < 0 && errno == EINTR)) {
            return;
        }
        gWhileWaiting();
    }
}

// libedit's character reader, when live.
int LiveGetc(FILE* stream) {
    WaitForInput();
    unsigned char c = 0;
    ssize_t n = 0;
    do {
        n = ::read(fileno(stream), &c, 1);
    } while (n < 0 && errno == EINTR);
    return n == 1 ? c : EOF;
}

class ConsoleSource : public LineSource {
public:
    explicit ConsoleSource(std::function<void()> whileWaiting)
        : terminal(::isatty(STDIN_FILENO) == 1), live(static_cast<bool>(whileWaiting)) {
        gWhileWaiting = std::move(whileWaiting);
        if (live && terminal) {
            rl_getc_function = &LiveGetc;
        }
    }
    ~ConsoleSource() override { gWhileWaiting = nullptr; }
    ConsoleSource(const ConsoleSource&) = delete;
    ConsoleSource& operator=(const ConsoleSource&) = delete;

    bool Next(std::string& line, const char* prompt) override {
        if (live) {
            gWhileWaiting(); // between commands too
        }
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
            if (!(live ? ReadLineLive(line) : static_cast<bool>(std::getline(std::cin, line)))) {
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
    // A line of a pipe or file read byte-wise from the descriptor (standard
    // input's own buffer would hide what is waiting), the clock kept.
    bool ReadLineLive(std::string& line) {
        line.clear();
        for (;;) {
            const std::size_t end = pending.find('\n');
            if (end != std::string::npos) {
                line = pending.substr(0, end);
                pending.erase(0, end + 1);
                return true;
            }
            if (atEnd) {
                line = pending;
                pending.clear();
                return !line.empty();
            }
            WaitForInput();
            char buffer[4096];
            const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (n > 0) {
                pending.append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                atEnd = true;
            }
        }
    }

    bool terminal;
    bool live;
    int number = 0;
    std::string pending;
    bool atEnd = false;
};

// ---- start-up

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

// ---- the chooser sink's words

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

} // namespace

std::unique_ptr<LineSource> MakeStreamSource(std::istream& in, const std::string& name) {
    return std::make_unique<StreamSource>(in, name);
}

std::unique_ptr<LineSource> MakeConsoleSource(std::function<void()> whileWaiting) {
    return std::make_unique<ConsoleSource>(std::move(whileWaiting));
}

// ---- the commands by name

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
    {"linkmap", &HostShellImpl::CmdLinkMap, true},
    {"place", &HostShellImpl::CmdPlace, false},
    {"group", &HostShellImpl::CmdGroup, false},
    {"delete", &HostShellImpl::CmdDelete, false},
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
    {"jobs", &HostShellImpl::CmdJobs, true},
    {"server", &HostShellImpl::CmdServer, true},
    {"samples", &HostShellImpl::CmdSamples, true},
    {"mkdir", &HostShellImpl::CmdMkdir, true},
    {"render", &HostShellImpl::CmdRender, false},
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
    idml::RegisterDocumentFormat();
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
        render::ReleaseStaticData();
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

bool HostShell::RunLine(const std::string& line) {
    return impl->ExecuteLine(line);
}

IDataBase* HostShell::FrontDocument() const {
    return impl->FrontDb();
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
  open PATH | save [PATH] | close the front document's file (PATH.idml: an IDML package)
  linkmap [add PREFIX FOLDER | remove PREFIX | clear]
                                  where IDML links under a foreign prefix are found here
  place IMAGE X Y W H [--page N] [--scale S] [--rotate DEG] [--skew DEG]
        [--flip h|v] [--image-offset DX DY] [--name VAR]
                                  a graphic frame with the image placed in it;
                                  --name sets ${VAR} (frame) and ${VAR_image}
  group UID...                    groups page items
  delete UID...                   deletes page items with what they hold (one undo
                                  step each)
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
  jobs [--json]                   the record of jobs out: each job sent and not yet
                                  let go, its document, state and the days left before
                                  it is cleaned away with its reply
  server init ROOT | server once ROOT
                                  the reference QOR server, in this process
  samples FOLDER                  writes sample images of every supported format
  mkdir FOLDER                    makes a folder (and its parents)
Pictures of the pages
  render OUT.png|OUT.pdf [--page N | --pages A-B] [--dpi D] [--badges]
         [--frame-edges] [--high-res] [--settings FILE] [--replace]
                                  the front document's pages as PNG pictures (several
                                  pages: OUT-N.png) or a PDF file (--settings: its export
                                  settings, which the options replace); an existing file
                                  only with --replace
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
