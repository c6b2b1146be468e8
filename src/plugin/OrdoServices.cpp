#include "OrdoServices.h"

#include "OD_Jobs.h"
#include "Platform.h"

#include "IActionManager.h"
#include "IApplication.h"
#include "IDataBase.h"
#include "ISession.h"
#include "IShortcutManager.h"
#include "ISubject.h"
#include "OD_ServerLink.h"
#include "OrdoActions.h"
#include "OrdoPanel.h"
#include "OrdoPanelState.h"
#include "SessionIDs.h"

#include <algorithm>
#include <map>
#include <string>

namespace {

// The startup service that runs now; the task switch works through it.
OrdoStartupShutdown* gRunning = nullptr;

InterfacePtr<IApplication> SessionApplication() {
    ISession* session = GetExecutionContextSession();
    return InterfacePtr<IApplication>(session != nullptr ? session->QueryApplication() : nullptr);
}

} // namespace

// ---- startup and shutdown

OrdoStartupShutdown::OrdoStartupShutdown(IPMUnknown* object)
    : CPMUnknown<IStartupShutdownService>(object) {}

OrdoStartupShutdown::~OrdoStartupShutdown() {
    if (gRunning == this) {
        gRunning = nullptr;
        SetOrdoIdleTaskSwitch(nullptr, nullptr);
    }
}

namespace {

// Records of jobs whose documents were never saved again go after
// kODJobKeepDays days, with their replies on the server; the log says so.
void CleanOldJobRecords() {
    const OD_JobJournal journal = OD_JobJournal::ForIdentityFolder();
    if (!journal.Usable()) {
        return;
    }
    // Writes stopped by a crash leave hidden files behind; none is being
    // written while the application starts.
    journal.RemoveLeftovers(platform::CurrentTime() - 60);
    const int32_t removed =
        CleanOldJobs(journal, platform::CurrentTime(), kODJobKeepDays, std::vector<std::string>());
    if (removed > 0 && GetOrdoLog() != nullptr) {
        GetOrdoLog()->Append(
            OrdoMessage("0x71900kOrdoLogJobsCleaned", {removed, kODJobKeepDays}).c_str());
    }
}

} // namespace

void OrdoStartupShutdown::Startup() {
    if (!idleTask) {
        idleTask = CreateObject2<IIdleTask>(kOrdoIdleTaskBoss, IID_IIDLETASK);
    }
    if (!updateTask) {
        updateTask = CreateObject2<IIdleTask>(kOrdoIdleUpdateTaskBoss, IID_IIDLETASK);
    }
    tasksInstalled = false;
    StartTasks();
    gRunning = this;
    CleanOldJobRecords();
    SetOrdoIdleTaskSwitch(StopOrdoIdleTasks, StartOrdoIdleTasks);

    InterfacePtr<IApplication> app = SessionApplication();
    InterfacePtr<ISubject> subject(app, IID_ISUBJECT);
    if (!subject) {
        return;
    }
    if (!appObserver) {
        appObserver = CreateObject2<IObserver>(kOrdoAppObserverBoss, IID_IOBSERVER);
    }
    if (appObserver) {
        subject->AttachObserver(appObserver.get(), IID_IAPPLICATIONSTARTUP);
    }
}

void OrdoStartupShutdown::Shutdown() {
    if (idleTask) {
        idleTask->UninstallTask();
        idleTask.reset();
    }
    if (updateTask) {
        updateTask->UninstallTask();
        updateTask.reset();
    }
    tasksInstalled = false;
    if (gRunning == this) {
        gRunning = nullptr;
        SetOrdoIdleTaskSwitch(nullptr, nullptr);
    }
    if (appObserver) {
        // The subject keeps a plain pointer: it must not outlive the
        // observer's object.
        InterfacePtr<IApplication> app = SessionApplication();
        if (InterfacePtr<ISubject> subject{app, IID_ISUBJECT}) {
            subject->DetachObserver(appObserver.get(), IID_IAPPLICATIONSTARTUP);
        }
        appObserver.reset();
    }
    if (HasOrdoLog()) {
        DeleteOrdoLog();
    }
}

void OrdoStartupShutdown::StartTasks() {
    if (tasksInstalled) {
        return;
    }
    if (idleTask) {
        idleTask->InstallTask(kOrdoIdleTaskFirstDelay);
    }
    if (updateTask) {
        updateTask->InstallTask(kOrdoIdleUpdateTaskFirstDelay);
    }
    tasksInstalled = true;
}

void OrdoStartupShutdown::StopTasks() {
    if (!tasksInstalled) {
        return;
    }
    if (idleTask) {
        idleTask->UninstallTask();
    }
    if (updateTask) {
        updateTask->UninstallTask();
    }
    tasksInstalled = false;
}

void OrdoStartupShutdown::ToggleTask() {
    if (!idleTask) {
        return;
    }
    if (tasksInstalled) {
        idleTask->UninstallTask();
    } else {
        idleTask->InstallTask(kOrdoIdleTaskFirstDelay);
    }
    tasksInstalled = !tasksInstalled;
}

void StartOrdoIdleTasks() {
    if (gRunning != nullptr) {
        gRunning->StartTasks();
    }
}

void StopOrdoIdleTasks() {
    if (gRunning != nullptr) {
        gRunning->StopTasks();
    }
}

void ToggleOrdoIdleTask() {
    if (gRunning != nullptr) {
        gRunning->ToggleTask();
    }
}

bool OrdoIdleTasksInstalled() {
    return gRunning != nullptr && gRunning->TasksInstalled();
}

int64_t OrdoStartupShutdown::MillisecondsToNextPickup() const {
    InterfacePtr<IApplication> app = SessionApplication();
    InterfacePtr<IIdleTaskMgr> tasks(app ? app->QueryIdleTaskManager() : nullptr);
    return tasks && updateTask ? tasks->MillisecondsUntilRun(updateTask.get()) : -1;
}

int64_t MillisecondsToNextOrdoPickup() {
    return gRunning != nullptr ? gRunning->MillisecondsToNextPickup() : -1;
}

// ---- document signals

OrdoServiceProvider::OrdoServiceProvider(IPMUnknown* object) : CServiceProvider(object) {
    services = {
        kBeforeNewDocSignalResponderService,       kDuringNewDocSignalResponderService,
        kAfterNewDocSignalResponderService,        kBeforeOpenDocSignalResponderService,
        kDuringOpenDocSignalResponderService,      kAfterOpenDocSignalResponderService,
        kBeforeSaveDocSignalResponderService,      kAfterSaveDocSignalResponderService,
        kBeforeSaveAsDocSignalResponderService,    kAfterSaveAsDocSignalResponderService,
        kBeforeSaveACopyDocSignalResponderService, kAfterSaveACopyDocSignalResponderService,
        kBeforeRevertDocSignalResponderService,    kAfterRevertDocSignalResponderService,
        kBeforeCloseDocSignalResponderService,     kAfterCloseDocSignalResponderService,
    };
}

void OrdoServiceProvider::GetName(PMString* name) {
    if (name != nullptr) {
        *name = PMString(kOrdoResponderServiceName);
        name->SetTranslatable(false);
    }
}

ServiceID OrdoServiceProvider::GetServiceID() {
    return services.empty() ? kInvalidService : services.front();
}

void OrdoServiceProvider::GetServiceIDs(std::vector<ServiceID>& serviceIDs) {
    if (services.empty()) {
        serviceIDs.push_back(kInvalidService);
        return;
    }
    serviceIDs.insert(serviceIDs.end(), services.begin(), services.end());
}

namespace {

// The orders panel shows the front document: a document made or opened
// becomes the front one, so the list is rebuilt at the next idle run. A
// document about to close takes its rows with it at once, so that nothing
// reaches its page items once it is gone.
void FollowDocumentInPanel(IDataBase* db, bool closing) {
    IControlView* list = GetOrdoPanelList();
    if (list == nullptr) {
        return;
    }
    if (closing) {
        const std::vector<UIDRef>& items = OrdoPanelItems();
        const bool shown = std::any_of(items.begin(), items.end(), [db](const UIDRef& item) {
            return item.GetDataBase() == db;
        });
        if (shown) {
            RebuildOrdoList(list, false, false);
        }
    }
    SetOrdoRefreshNeeded(true);
}

// The record of jobs out follows the document: a save releases the replies
// whose results the file now holds, a close lets go of the entries it no
// longer needs, an open finds again the orders that went out before a crash.
void KeepJobRecord(ServiceID service, IDataBase* db) {
    static std::map<const IDataBase*, std::string> keysBeforeSave;
    if (service == kBeforeSaveDocSignalResponderService ||
        service == kBeforeSaveAsDocSignalResponderService) {
        keysBeforeSave[db] = DocumentKey(db);
    } else if (service == kAfterSaveDocSignalResponderService ||
               service == kAfterSaveAsDocSignalResponderService) {
        auto it = keysBeforeSave.find(db);
        const std::string previous = it != keysBeforeSave.end() ? it->second : DocumentKey(db);
        if (it != keysBeforeSave.end()) {
            keysBeforeSave.erase(it);
        }
        NoteDocumentSaved(db, previous);
    } else if (service == kBeforeCloseDocSignalResponderService) {
        keysBeforeSave.erase(db);
        NoteDocumentClosing(db);
    } else if (service == kAfterOpenDocSignalResponderService) {
        NoteDocumentOpened(db, GetOrdoLog());
    }
}

} // namespace

void OrdoResponder::Respond(ISignalMgr* signalMgr) {
    if (signalMgr == nullptr) {
        return;
    }
    const ServiceID service = signalMgr->GetServiceID();
    InterfacePtr<IDocumentSignalData> data(signalMgr, IID_IDOCUMENTSIGNALDATA);
    if (!data) {
        return;
    }
    const UIDRef document = data->GetDocument();
    IDataBase* db = document.GetDataBase();
    if (db == nullptr) {
        return;
    }
    KeepJobRecord(service, db);
    const bool attach = service == kAfterNewDocSignalResponderService ||
                        service == kDuringOpenDocSignalResponderService;
    const bool detach = service == kBeforeCloseDocSignalResponderService;
    if (!attach && !detach) {
        return;
    }
    InterfacePtr<IDBObserver> observer(
        static_cast<IDBObserver*>(db->Instantiate(document.GetUID(), IID_IORDODBOBSERVER)));
    if (!observer) {
        return;
    }
    if (attach) {
        observer->AutoAttach();
    } else {
        observer->AutoDetach();
    }
    FollowDocumentInPanel(db, detach);
}

// ---- database observer

void OrdoDataBaseObserver::Changed(UID, ClassID) {
    if (GetOrdoPanelList() != nullptr) {
        SetOrdoRefreshNeeded(true);
    }
}

void OrdoDataBaseObserver::Flushed() {
    if (GetOrdoPanelList() != nullptr) {
        SetOrdoRefreshNeeded(true);
    }
}

// ---- application observer

void InstallDefaultShortcuts() {
    InterfacePtr<IApplication> app = SessionApplication();
    if (!app) {
        return;
    }
    InterfacePtr<IActionManager> actions(app->QueryActionManager());
    InterfacePtr<IShortcutManager> shortcuts(app->QueryShortcutManager());
    if (!actions || !shortcuts) {
        return;
    }
    const PMString context(kDefaultShortcutContext);
    for (const OrdoShortcutAction& entry : kOrdoShortcutActions) {
        if (!actions->IsValidAction(entry.action) ||
            shortcuts->GetNumShortcutsForAction(entry.action) > 0) {
            continue;
        }
        const PMString text = PMString(entry.shortcutKey).Translated();
        VirtualKey key;
        int16_t modifiers = 0;
        if (!ShortcutUtils::ParseShortcutString(text, key, modifiers)) {
            continue;
        }
        // A shortcut the user gave to another action stays theirs: the
        // manager refuses to take it away.
        shortcuts->AddShortcut(entry.action, context, key, modifiers);
    }
}

void OrdoAppObserver::Update(ClassID theChange, ISubject*, PMIID, void*) {
    if (!IsEnabled() || theChange != kAppStartedMessage) {
        return;
    }
    InstallDefaultShortcuts();
    // The selected server's configuration is read once at start.
    OpenServerLink(GetExecutionContextSession(), true, false);
}
