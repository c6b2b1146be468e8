#include "IApplication.h"

#include "DocumentFile.h"
#include "DocumentUtils.h"
#include "HostRegistration.h"
#include "IActionManager.h"
#include "IDataBase.h"
#include "IDocument.h"
#include "IIdleTask.h"
#include "IMenuManager.h"
#include "ISession.h"
#include "IShortcutManager.h"
#include "ISubject.h"
#include "Signals.h"
#include "Widgets.h"

#include <algorithm>

namespace {

class DocumentList : public CPMUnknown<IDocumentList> {
public:
    explicit DocumentList(IPMUnknown* object) : CPMUnknown<IDocumentList>(object) {}

    int32_t GetDocCount() const override { return static_cast<int32_t>(documents.size()); }

    UIDRef GetNthDoc(int32_t n) const override {
        const Document* d = Nth(n);
        return d != nullptr ? d->Ref() : UIDRef();
    }

    int32_t Location(const IDataBase* db) const override {
        for (std::size_t i = 0; i < documents.size(); ++i) {
            if (documents[i].db == db) {
                return static_cast<int32_t>(i);
            }
        }
        return -1;
    }

    ErrorCode AddNewDocument(IDataBase* db, UID documentUID, const PMString& name) override {
        return Add(db, documentUID, name,
                   {kBeforeNewDocSignalResponderService, kDuringNewDocSignalResponderService,
                    kAfterNewDocSignalResponderService});
    }

    ErrorCode AddOpenedDocument(IDataBase* db, UID documentUID, const PMString& name) override {
        return Add(db, documentUID, name,
                   {kBeforeOpenDocSignalResponderService, kDuringOpenDocSignalResponderService,
                    kAfterOpenDocSignalResponderService});
    }

    ErrorCode CloseDocument(IDataBase* db) override {
        int32_t at = Location(db);
        if (db == nullptr || at < 0) {
            return kFailure;
        }
        UIDRef ref = documents[static_cast<std::size_t>(at)].Ref();
        PMString name = documents[static_cast<std::size_t>(at)].name;
        DocumentSignals::Signal(kBeforeCloseDocSignalResponderService, ref, name);
        // A responder may have closed it already.
        at = Location(db);
        if (at >= 0) {
            documents.erase(documents.begin() + at);
            if (front == db) {
                front = documents.empty() ? nullptr : documents.back().db;
            }
        }
        DocumentSignals::Signal(kAfterCloseDocSignalResponderService, ref, name);
        DocumentFile::DocumentClosed(db);
        return kSuccess;
    }

    ErrorCode SaveDocument(IDataBase* db, const PMString& path, std::string& why,
                           std::vector<std::string>* warnings) override {
        int32_t at = Location(db);
        if (db == nullptr || at < 0) {
            why = "the document is not open";
            return kFailure;
        }
        UIDRef ref = documents[static_cast<std::size_t>(at)].Ref();
        InterfacePtr<IDocument> doc = DocumentUtils::QueryDocument(db);
        const bool sameFile = doc && doc->GetFilePath() == path;
        DocumentSignals::Signal(sameFile ? kBeforeSaveDocSignalResponderService
                                         : kBeforeSaveAsDocSignalResponderService,
                                ref, documents[static_cast<std::size_t>(at)].name);
        if (DocumentFile::Save(db, path, why, warnings) != kSuccess) {
            return kFailure;
        }
        at = Location(db);
        if (at >= 0) {
            documents[static_cast<std::size_t>(at)].name = doc ? doc->GetName() : path;
            DocumentSignals::Signal(sameFile ? kAfterSaveDocSignalResponderService
                                             : kAfterSaveAsDocSignalResponderService,
                                    ref, documents[static_cast<std::size_t>(at)].name);
        }
        return kSuccess;
    }

    IDataBase* GetFrontDocument() const override { return front; }

    UIDRef GetFrontDocumentRef() const override {
        int32_t at = Location(front);
        return at >= 0 ? documents[static_cast<std::size_t>(at)].Ref() : UIDRef();
    }

    bool SetFrontDocument(IDataBase* db) override {
        if (Location(db) < 0) {
            return false;
        }
        front = db;
        return true;
    }

    bool SetDocumentSelection(IDataBase* db, IPMUnknown* selection) override {
        int32_t at = Location(db);
        if (at < 0) {
            return false;
        }
        if (selection != nullptr) {
            selection->AddRef();
        }
        documents[static_cast<std::size_t>(at)].selection.reset(selection);
        return true;
    }

    IPMUnknown* GetDocumentSelection(const IDataBase* db) const override {
        int32_t at = Location(db);
        return at >= 0 ? documents[static_cast<std::size_t>(at)].selection.get() : nullptr;
    }

private:
    struct Document {
        IDataBase* db;
        UID uid;
        PMString name;
        InterfacePtr<IPMUnknown> selection;

        UIDRef Ref() const { return UIDRef(db, uid.Get() != 0 ? uid : db->GetRootUID()); }
    };

    const Document* Nth(int32_t n) const {
        return n >= 0 && n < GetDocCount() ? &documents[static_cast<std::size_t>(n)] : nullptr;
    }

    ErrorCode Add(IDataBase* db, UID uid, const PMString& name, const ServiceID (&signals)[3]) {
        if (db == nullptr || Location(db) >= 0) {
            return kFailure;
        }
        Document doc{db, uid, name, {}};
        UIDRef ref = doc.Ref();
        DocumentSignals::Signal(signals[0], ref, name);
        documents.push_back(std::move(doc));
        DocumentSignals::Signal(signals[1], ref, name);
        if (Location(db) >= 0) {
            front = db;
        }
        DocumentSignals::Signal(signals[2], ref, name);
        return kSuccess;
    }

    std::vector<Document> documents;
    IDataBase* front = nullptr;
};

class Application : public CPMUnknown<IApplication> {
public:
    explicit Application(IPMUnknown* object) : CPMUnknown<IApplication>(object) {}

    int32_t GetApplicationState() const override { return state; }
    uint32_t GetAppFlags() const override { return flags; }

    void SetAppFlags(uint32_t which, bool on) override {
        uint32_t next = on ? (flags | which) : (flags & ~which);
        if (next != flags) {
            flags = next;
            WakeIdleTasks();
        }
    }

    ErrorCode Startup() override {
        if (state != kAppNotStarted) {
            return kFailure;
        }
        SetState(kAppStarting);
        InterfacePtr<IK2ServiceRegistry> registry(GetExecutionContextSession(),
                                                  IID_IK2SERVICEREGISTRY);
        if (registry) {
            std::vector<InterfacePtr<IStartupShutdownService>> services;
            for (int32_t n = 0; n < registry->GetServiceProviderCount(kStartupShutdownService);
                 ++n) {
                InterfacePtr<IK2ServiceProvider> provider(
                    registry->QueryNthServiceProvider(kStartupShutdownService, n));
                InterfacePtr<IStartupShutdownService> service(provider, IID_ISTARTUPSHUTDOWN);
                if (service) {
                    services.push_back(service);
                }
            }
            for (const auto& service : services) {
                service->Startup();
                started.push_back(service);
            }
        }
        SetState(kAppRunning);
        InterfacePtr<ISubject> subject(this, IID_ISUBJECT);
        if (subject) {
            subject->Change(kAppStartedMessage, IID_IAPPLICATIONSTARTUP, nullptr);
        }
        return kSuccess;
    }

    void Shutdown() override {
        if (state != kAppRunning) {
            return;
        }
        SetState(kAppShuttingDown);
        if (InterfacePtr<IPanelMgr> panels{QueryPanelManager()}) {
            panels->HideAll();
        }
        while (!started.empty()) {
            InterfacePtr<IStartupShutdownService> service = std::move(started.back());
            started.pop_back();
            service->Shutdown();
        }
        SetState(kAppStopped);
    }

    IDocumentList* QueryDocumentList() override { return Query<IDocumentList>(IID_IDOCUMENTLIST); }
    IIdleTaskMgr* QueryIdleTaskManager() override { return Query<IIdleTaskMgr>(IID_IIDLETASKMGR); }
    IMenuManager* QueryMenuManager() override { return Query<IMenuManager>(IID_IMENUMANAGER); }
    IPanelMgr* QueryPanelManager() override { return Query<IPanelMgr>(IID_IPANELMGR); }

    IActionManager* QueryActionManager() override {
        if (!actionManager) {
            actionManager = CreateObject2<IActionManager>(kActionManagerBoss, IID_IACTIONMANAGER);
        }
        if (actionManager) {
            actionManager->AddRef();
        }
        return actionManager.get();
    }

    IShortcutManager* QueryShortcutManager() override {
        InterfacePtr<IActionManager> actions(QueryActionManager());
        InterfacePtr<IShortcutManager> shortcuts(actions, IID_ISHORTCUTMANAGER);
        return shortcuts.forget();
    }

    IActiveContext* GetActiveContext() override {
        InterfacePtr<IDocumentList> list(QueryDocumentList());
        if (!list) {
            context = HostActiveContext();
        } else {
            context = HostActiveContext(list->GetFrontDocumentRef(),
                                        list->GetDocumentSelection(list->GetFrontDocument()));
        }
        return &context;
    }

private:
    template <class T> T* Query(PMIID iid) { return static_cast<T*>(QueryInterface(iid)); }

    void SetState(ApplicationState next) {
        state = next;
        WakeIdleTasks();
    }

    void WakeIdleTasks() {
        InterfacePtr<IIdleTaskMgr> tasks(QueryIdleTaskManager());
        if (tasks) {
            tasks->FlagsChanged();
        }
    }

    ApplicationState state = kAppNotStarted;
    uint32_t flags = 0;
    InterfacePtr<IActionManager> actionManager;
    std::vector<InterfacePtr<IStartupShutdownService>> started;
    HostActiveContext context;
};

} // namespace

void RegisterApplicationImplementations() {
    ObjectModel& model = ObjectModel::Get();
    model.RegisterImplementation(
        {kApplicationImpl, "Application", CreateImplementation<Application>, false});
    model.RegisterImplementation(
        {kDocumentListImpl, "DocumentList", CreateImplementation<DocumentList>, false});
    EnsureHostClass(kAppBoss, kInvalidClass,
                    {{IID_IAPPLICATION, kApplicationImpl},
                     {IID_ISUBJECT, kHostSubjectImpl},
                     {IID_IDOCUMENTLIST, kDocumentListImpl},
                     {IID_IIDLETASKMGR, kIdleTaskMgrImpl},
                     {IID_IMENUMANAGER, kMenuManagerImpl},
                     {IID_IPANELMGR, kPanelMgrImpl}});
    EnsureHostClass(
        kActionManagerBoss, kInvalidClass,
        {{IID_IACTIONMANAGER, kActionManagerImpl}, {IID_ISHORTCUTMANAGER, kShortcutManagerImpl}});
}
