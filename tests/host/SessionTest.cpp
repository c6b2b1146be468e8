#include "CAlert.h"
#include "CObserver.h"
#include "HostStrings.h"
#include "HostTestKit.h"
#include "IActionManager.h"
#include "IApplication.h"
#include "IDataBase.h"
#include "IIdleTask.h"
#include "IMenuManager.h"
#include "IPMStream.h"
#include "ISession.h"
#include "IShortcutManager.h"
#include "ISubject.h"
#include "Signals.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

// ---- test classes (IDs of their own, apart from the host's and any plug-in's)

constexpr PMIID IID_ITESTPREFS{0x91001};
constexpr PMIID IID_ITESTCOUNTER{0x91002};
constexpr PMIID IID_ITESTDBOBSERVER{0x91003};
constexpr ImplementationID kTestPrefsImpl{0x91001};
constexpr ImplementationID kTestCounterImpl{0x91002};
constexpr ImplementationID kTestIdleTaskImpl{0x91003};
constexpr ImplementationID kTestStartupImpl{0x91004};
constexpr ImplementationID kTestProviderImpl{0x91005};
constexpr ImplementationID kTestResponderImpl{0x91006};
constexpr ImplementationID kTestDBObserverImpl{0x91007};
constexpr ImplementationID kTestActionComponentImpl{0x91008};
constexpr ImplementationID kTestAppObserverImpl{0x91009};
constexpr ClassID kTestIdleTaskBoss{0x91001};
constexpr ClassID kTestStartupBoss{0x91002};
constexpr ClassID kTestResponderBoss{0x91003};
constexpr ClassID kTestDocBoss{0x91004};
constexpr ClassID kTestActionComponentBoss{0x91005};
constexpr ClassID kTestAppObserverBoss{0x91006};
constexpr ClassID kTestItemBoss{0x91007};

std::vector<std::string> events;

// The persistent record on the session: a number and a text.
using ITestPrefs = hosttest::ITestValue;
using TestPrefs = hosttest::TestValue;

// A second persistent record: one counter.
class ITestCounter : public IPMUnknown {
public:
    virtual int32_t Get() const = 0;
    virtual void Set(int32_t v) = 0;
};

class TestCounter : public CPMUnknown<ITestCounter> {
public:
    explicit TestCounter(IPMUnknown* o) : CPMUnknown<ITestCounter>(o) {}
    int32_t Get() const override { return count; }
    void Set(int32_t v) override { count = v; }
    void ReadWrite(IPMStream* s, ImplementationID) override { s->XferInt32(count); }

private:
    int32_t count = 0;
};

// An idle task that runs a script: what it returns (and does) at each run is
// decided by the test; each run is logged as "name@time".
int liveTasks = 0;
class TestIdleTask : public CIdleTask {
public:
    explicit TestIdleTask(IPMUnknown* o) : CIdleTask(o, "TestIdleTask") { ++liveTasks; }
    ~TestIdleTask() override { --liveTasks; }
    uint32_t RunTask(uint32_t appFlags, IdleTimer* timeCheck) override {
        lastFlags = appFlags;
        EXPECT_NE(timeCheck, nullptr);
        events.push_back(name + "@" + std::to_string(HostClock::Now()));
        return behaviour ? behaviour(this) : 1000;
    }

    std::string name;
    std::function<uint32_t(TestIdleTask*)> behaviour;
    uint32_t lastFlags = 0;
};

// Started and stopped with the application; attaches an application
// observer at startup, as a plug-in does.
class TestStartup : public CPMUnknown<IStartupShutdownService> {
public:
    explicit TestStartup(IPMUnknown* o) : CPMUnknown<IStartupShutdownService>(o) {}
    void Startup() override;
    void Shutdown() override;

private:
    InterfacePtr<IObserver> observer;
};

int appStartedMessages = 0;
class TestAppObserver : public CObserver {
public:
    using CObserver::CObserver;
    void Update(ClassID change, ISubject*, PMIID protocol, void*) override {
        if (change == kAppStartedMessage && protocol == IID_IAPPLICATIONSTARTUP) {
            ++appStartedMessages;
            InterfacePtr<IApplication> app(GetExecutionContextSession()->QueryApplication());
            EXPECT_EQ(app->GetApplicationState(), IApplication::kAppRunning);
        }
    }
};

void TestStartup::Startup() {
    events.push_back("startup");
    InterfacePtr<IApplication> app(GetExecutionContextSession()->QueryApplication());
    InterfacePtr<ISubject> subject(app, IID_ISUBJECT);
    observer = CreateObject2<IObserver>(kTestAppObserverBoss, IID_IOBSERVER);
    subject->AttachObserver(observer.get(), IID_IAPPLICATIONSTARTUP);
}

void TestStartup::Shutdown() {
    events.push_back("shutdown");
    InterfacePtr<IApplication> app(GetExecutionContextSession()->QueryApplication());
    InterfacePtr<ISubject> subject(app, IID_ISUBJECT);
    subject->DetachObserver(observer.get(), IID_IAPPLICATIONSTARTUP);
    observer.reset();
}

// A responder for the services the test asks for (the document signals a
// plug-in follows by default).
std::vector<ServiceID> responderServices = {kAfterNewDocSignalResponderService,
                                            kDuringOpenDocSignalResponderService,
                                            kBeforeCloseDocSignalResponderService};
struct Heard {
    ServiceID service;
    UIDRef document;
    std::string name;
};
std::vector<Heard> heard;

class TestProvider : public CServiceProvider {
public:
    using CServiceProvider::CServiceProvider;
    ServiceID GetServiceID() override {
        return responderServices.empty() ? kInvalidService : responderServices.front();
    }
    void GetServiceIDs(std::vector<ServiceID>& ids) override {
        ids.insert(ids.end(), responderServices.begin(), responderServices.end());
    }
};

// The database observer on the test document: counts what it is told.
class TestDBObserver : public CDatabaseObserver {
public:
    using CDatabaseObserver::CDatabaseObserver;
    void Changed(UID, ClassID) override { ++changes; }
    void Flushed() override { ++flushes; }
    int changes = 0;
    int flushes = 0;
};

class TestResponder : public CResponder {
public:
    using CResponder::CResponder;
    void Respond(ISignalMgr* signal) override {
        InterfacePtr<IDocumentSignalData> data(signal, IID_IDOCUMENTSIGNALDATA);
        ASSERT_TRUE(data);
        UIDRef doc = data->GetDocument();
        heard.push_back({signal->GetServiceID(), doc, data->GetDocumentName().GetUTF8String()});
        ServiceID id = signal->GetServiceID();
        if (id == kAfterNewDocSignalResponderService ||
            id == kDuringOpenDocSignalResponderService ||
            id == kBeforeCloseDocSignalResponderService) {
            InterfacePtr<IDBObserver> observer(static_cast<IDBObserver*>(
                doc.GetDataBase()->Instantiate(doc.GetUID(), IID_ITESTDBOBSERVER)));
            ASSERT_TRUE(observer);
            if (id == kBeforeCloseDocSignalResponderService) {
                observer->AutoDetach();
            } else {
                observer->AutoAttach();
            }
        }
    }
};

// Runs the actions 0x91100-0x911FF; enables those with an even number among
// the actions it is asked about, except 0x91150 which it leaves as given.
struct Performed {
    ActionID action;
    IDataBase* document;
};
std::vector<Performed> performed;
int componentsMade = 0;
class TestActionComponent : public CActionComponent {
public:
    explicit TestActionComponent(IPMUnknown* o) : CActionComponent(o) { ++componentsMade; }
    void DoAction(IActiveContext* ac, ActionID id, IPMUnknown*) override {
        performed.push_back({id, ac != nullptr ? ac->GetContextDocument() : nullptr});
    }
    void UpdateActionStates(IActiveContext*, ActionStateList* list, IPMUnknown*) override {
        for (int32_t n = 0; n < list->Length(); ++n) {
            ActionID id = list->GetNthAction(n);
            if (id == ActionID(0x91150)) {
                continue;
            }
            list->SetNthActionState(n, id.Get() % 2 == 0 ? kEnabledAction : kDisabled_Unselected);
        }
    }
};

class HostTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetHostForTesting();
        ObjectModel& m = ObjectModel::Get();
        m.Reset();
        RegisterHostServices();
        m.RegisterImplementation(
            {kTestPrefsImpl, "TestPrefs", CreateImplementation<TestPrefs>, true});
        m.RegisterImplementation(
            {kTestCounterImpl, "TestCounter", CreateImplementation<TestCounter>, true});
        m.RegisterImplementation(
            {kTestIdleTaskImpl, "TestIdleTask", CreateImplementation<TestIdleTask>, false});
        m.RegisterImplementation(
            {kTestStartupImpl, "TestStartup", CreateImplementation<TestStartup>, false});
        m.RegisterImplementation(
            {kTestProviderImpl, "TestProvider", CreateImplementation<TestProvider>, false});
        m.RegisterImplementation(
            {kTestResponderImpl, "TestResponder", CreateImplementation<TestResponder>, false});
        m.RegisterImplementation(
            {kTestDBObserverImpl, "TestDBObserver", CreateImplementation<TestDBObserver>, false});
        m.RegisterImplementation({kTestActionComponentImpl, "TestActionComponent",
                                  CreateImplementation<TestActionComponent>, false});
        m.RegisterImplementation({kTestAppObserverImpl, "TestAppObserver",
                                  CreateImplementation<TestAppObserver>, false});
        m.DefineClass({kTestIdleTaskBoss, kInvalidClass, {{IID_IIDLETASK, kTestIdleTaskImpl}}});
        m.DefineClass({kTestStartupBoss,
                       kInvalidClass,
                       {{IID_IK2SERVICEPROVIDER, kStartupShutdownProviderImpl},
                        {IID_ISTARTUPSHUTDOWN, kTestStartupImpl}}});
        m.DefineClass(
            {kTestResponderBoss,
             kInvalidClass,
             {{IID_IK2SERVICEPROVIDER, kTestProviderImpl}, {IID_IRESPONDER, kTestResponderImpl}}});
        m.DefineClass({kTestDocBoss, kInvalidClass, {{IID_ITESTDBOBSERVER, kTestDBObserverImpl}}});
        m.DefineClass({kTestItemBoss, kInvalidClass, {{IID_ITESTCOUNTER, kTestCounterImpl}}});
        m.DefineClass({kTestActionComponentBoss,
                       kInvalidClass,
                       {{IID_IACTIONCOMPONENT, kTestActionComponentImpl}}});
        m.DefineClass(
            {kTestAppObserverBoss, kInvalidClass, {{IID_IOBSERVER, kTestAppObserverImpl}}});
        // The plug-in's way onto the session: additions to its class.
        m.AddIn(kSessionBoss, IID_ITESTPREFS, kTestPrefsImpl);

        events.clear();
        heard.clear();
        performed.clear();
        componentsMade = 0;
        appStartedMessages = 0;
        responderServices = {kAfterNewDocSignalResponderService,
                             kDuringOpenDocSignalResponderService,
                             kBeforeCloseDocSignalResponderService};
    }

    void TearDown() override {
        ResetHostForTesting();
        ObjectModel::Get().Reset();
        HostStrings::Reset();
    }

    static InterfacePtr<IApplication> App() {
        return InterfacePtr<IApplication>(GetExecutionContextSession()->QueryApplication());
    }
    static InterfacePtr<ITestPrefs> Prefs() {
        return InterfacePtr<ITestPrefs>(GetExecutionContextSession(), IID_ITESTPREFS);
    }
    static InterfacePtr<ITestCounter> Counter() {
        return InterfacePtr<ITestCounter>(GetExecutionContextSession(), IID_ITESTCOUNTER);
    }
};

// ---- the session and its file

// The session file's layout, written out independently of the host: magic,
// version, records, and the CRC-32 of all that.
uint32_t Crc32(const std::string& bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char c : bytes) {
        crc ^= c;
        for (int k = 0; k < 8; ++k) {
            crc = (crc & 1u) != 0 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
        }
    }
    return ~crc;
}

void PutU32(std::string& out, uint32_t v) {
    for (int k = 0; k < 4; ++k) {
        out.push_back(static_cast<char>((v >> (8 * k)) & 0xFF));
    }
}

std::string PrefsBytes(int32_t value, const std::string& text) {
    std::string out;
    PutU32(out, static_cast<uint32_t>(value));
    PutU32(out, static_cast<uint32_t>(text.size()));
    return out + text;
}

struct Record {
    uint32_t id;
    std::string bytes;
};

std::string Body(uint32_t version, const std::vector<Record>& records, uint32_t count) {
    std::string out("ODSESSN", 8);
    PutU32(out, version);
    PutU32(out, count);
    for (const Record& r : records) {
        PutU32(out, r.id);
        PutU32(out, static_cast<uint32_t>(r.bytes.size()));
        out += r.bytes;
    }
    return out;
}

std::string Sealed(std::string body) {
    PutU32(body, Crc32(body));
    return body;
}

std::string SessionFile(const std::vector<Record>& records, uint32_t version = 1) {
    return Sealed(Body(version, records, static_cast<uint32_t>(records.size())));
}

} // namespace

TEST_F(HostTest, TheSessionIsOneObjectOfTheSessionClassWithThePluginsAdditions) {
    ISession* session = GetExecutionContextSession();
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(GetExecutionContextSession(), session);
    EXPECT_EQ(GetClass(session), kSessionBoss);
    ASSERT_TRUE(Prefs());
    EXPECT_TRUE(InterfacePtr<IK2ServiceRegistry>(session, IID_IK2SERVICEREGISTRY));

    InterfacePtr<IApplication> app = App();
    ASSERT_TRUE(app);
    EXPECT_EQ(InterfacePtr<IApplication>(session->QueryApplication()).get(), app.get());
    InterfacePtr<IActionManager> actions(app->QueryActionManager());
    InterfacePtr<IShortcutManager> shortcuts(app->QueryShortcutManager());
    ASSERT_TRUE(actions && shortcuts);
    EXPECT_EQ(InterfacePtr<IShortcutManager>(actions, IID_ISHORTCUTMANAGER).get(), shortcuts.get());
    EXPECT_TRUE(InterfacePtr<IIdleTaskMgr>(app->QueryIdleTaskManager()));
    EXPECT_TRUE(InterfacePtr<IMenuManager>(app->QueryMenuManager()));
    EXPECT_TRUE(InterfacePtr<IDocumentList>(app->QueryDocumentList()));

    // Registering again keeps the plug-in's additions.
    RegisterHostServices();
    ResetHostForTesting();
    EXPECT_TRUE(Prefs());
}

TEST_F(HostTest, TheSessionFileBringsBackEveryPersistentInterface) {
    ObjectModel::Get().AddIn(kSessionBoss, IID_ITESTCOUNTER, kTestCounterImpl);
    TempDir dir;
    std::string path = dir / "session.bin";
    std::string longText(300, 'q');
    Prefs()->Set(263, longText + "é");
    Counter()->Set(-7);
    std::string why;
    ASSERT_EQ(GetExecutionContextSession()->WriteSessionFile(path, &why), kSuccess) << why;
    EXPECT_FALSE(PathExists(path + ".tmp"));

    // The layout is the documented one, records in the order of the class
    // (with the standard checksum).
    ASSERT_EQ(Crc32("123456789"), 0xCBF43926u);
    EXPECT_EQ(ReadFile(path),
              SessionFile({{kTestPrefsImpl.Get(), PrefsBytes(263, longText + "é")},
                           {kTestCounterImpl.Get(), std::string("\xF9\xFF\xFF\xFF", 4)}}));

    Prefs()->Set(1, "changed");
    Counter()->Set(99);
    ASSERT_EQ(GetExecutionContextSession()->ReadSessionFile(path, &why), kSuccess) << why;
    EXPECT_EQ(Prefs()->Get(), 263);
    EXPECT_EQ(Prefs()->Text(), longText + "é");
    EXPECT_EQ(Counter()->Get(), -7);
}

TEST_F(HostTest, RecordsOfInterfacesTheSessionLacksAreSkipped) {
    TempDir dir;
    std::string path = dir / "session.bin";
    WriteFile(path, SessionFile({{0x7777, "whatever the other plug-in wrote"},
                                 {kTestPrefsImpl.Get(), PrefsBytes(5, "five")}}));
    std::string why;
    ASSERT_EQ(GetExecutionContextSession()->ReadSessionFile(path, &why), kSuccess) << why;
    EXPECT_EQ(Prefs()->Get(), 5);
    EXPECT_EQ(Prefs()->Text(), "five");
}

TEST_F(HostTest, ADamagedSessionFileIsRefusedAndChangesNothing) {
    ObjectModel::Get().AddIn(kSessionBoss, IID_ITESTCOUNTER, kTestCounterImpl);
    const Record goodPrefs{kTestPrefsImpl.Get(), PrefsBytes(42, "new")};
    const Record goodCounter{kTestCounterImpl.Get(), std::string("\x05\0\0\0", 4)};
    const std::string whole = SessionFile({goodPrefs, goodCounter});
    std::string flipped = whole;
    flipped[20] = static_cast<char>(flipped[20] ^ 0x01);
    std::string lying = Body(1, {goodPrefs}, 1);
    lying[16 + 4] = '\x7F'; // the record's byte count runs past the end

    struct Case {
        const char* name;
        std::string bytes;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"empty", "", "too short"},
        {"header only", whole.substr(0, 12), "too short"},
        {"cut short", whole.substr(0, whole.size() - 1), "checksum"},
        {"another kind of file", "PK\x03\x04" + whole.substr(4), "not a session file"},
        {"one bit flipped", flipped, "checksum"},
        {"a later version", SessionFile({goodPrefs}, 2), "version 2"},
        {"a record longer than the file", Sealed(lying), "runs past the end"},
        {"a count larger than the records", Sealed(Body(1, {goodPrefs}, 2)), "runs past the end"},
        {"bytes after the records", Sealed(Body(1, {goodPrefs}, 1) + "xx"),
         "after its last record"},
        {"the same record twice", SessionFile({goodPrefs, goodPrefs}), "twice"},
        // The first record reads, the second does not: the first is put back.
        {"a record that does not read back",
         SessionFile({goodPrefs, {kTestCounterImpl.Get(), std::string("\x05\0\0", 3)}}),
         "does not read back"},
        {"a record with bytes left over",
         SessionFile({goodCounter, {kTestPrefsImpl.Get(), PrefsBytes(42, "new") + "!"}}),
         "does not read back"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Prefs()->Set(7, "kept");
        Counter()->Set(8);
        std::string path = dir / "damaged.bin";
        WriteFile(path, c.bytes);
        std::string why;
        EXPECT_EQ(GetExecutionContextSession()->ReadSessionFile(path, &why), kFailure);
        EXPECT_NE(why.find(c.reason), std::string::npos) << why;
        EXPECT_NE(why.find(path), std::string::npos) << "the reason names the file: " << why;
        EXPECT_EQ(Prefs()->Get(), 7);
        EXPECT_EQ(Prefs()->Text(), "kept");
        EXPECT_EQ(Counter()->Get(), 8);
    }
    std::string why;
    EXPECT_EQ(GetExecutionContextSession()->ReadSessionFile(dir / "missing.bin", &why), kFailure);
    EXPECT_NE(why.find("cannot open"), std::string::npos) << why;
    // The whole file still reads.
    WriteFile(dir / "whole.bin", whole);
    ASSERT_EQ(GetExecutionContextSession()->ReadSessionFile(dir / "whole.bin", &why), kSuccess)
        << why;
    EXPECT_EQ(Prefs()->Get(), 42);
    EXPECT_EQ(Counter()->Get(), 5);
}

TEST_F(HostTest, AFailedSessionWriteLeavesTheOldFileWhole) {
    TempDir dir;
    std::string path = dir / "session.bin";
    Prefs()->Set(1, "first");
    std::string why;
    ASSERT_EQ(GetExecutionContextSession()->WriteSessionFile(path, &why), kSuccess) << why;
    std::string before = ReadFile(path);

    // The temporary file's name is taken by a folder: the write cannot start.
    MakeDirs(path + ".tmp");
    WriteFile(path + ".tmp/keep", "x");
    Prefs()->Set(2, "second");
    EXPECT_EQ(GetExecutionContextSession()->WriteSessionFile(path, &why), kFailure);
    EXPECT_NE(why.find("session.bin.tmp"), std::string::npos) << why;
    EXPECT_EQ(ReadFile(path), before);

    EXPECT_EQ(GetExecutionContextSession()->WriteSessionFile(dir / "no/such/folder/s.bin", &why),
              kFailure);
    EXPECT_FALSE(why.empty());
    EXPECT_EQ(GetExecutionContextSession()->WriteSessionFile("", &why), kFailure);
}

// ---- application start and stop

TEST_F(HostTest, StartupRunsTheStartupServicesOnceThenAnnouncesTheStart) {
    InterfacePtr<IK2ServiceRegistry> registry(GetExecutionContextSession(), IID_IK2SERVICEREGISTRY);
    ASSERT_TRUE(registry->AddServiceProviderClass(kTestStartupBoss));
    EXPECT_TRUE(registry->AddServiceProviderClass(kTestStartupBoss)) << "once only";
    EXPECT_EQ(registry->GetServiceProviderCount(kStartupShutdownService), 1);
    EXPECT_FALSE(registry->AddServiceProviderClass(kTestItemBoss)) << "not a provider";
    EXPECT_FALSE(registry->AddServiceProviderClass(ClassID(0x12345)));

    auto app = App();
    EXPECT_EQ(GetExecutionContextSession()->GetApplicationState(), IApplication::kAppNotStarted);
    ASSERT_EQ(app->Startup(), kSuccess);
    EXPECT_EQ(events, std::vector<std::string>{"startup"});
    EXPECT_EQ(appStartedMessages, 1);
    EXPECT_EQ(app->GetApplicationState(), IApplication::kAppRunning);

    EXPECT_EQ(app->Startup(), kFailure);
    EXPECT_EQ(appStartedMessages, 1);
    EXPECT_EQ(events.size(), 1u);

    app->Shutdown();
    app->Shutdown();
    EXPECT_EQ(events, (std::vector<std::string>{"startup", "shutdown"}));
    EXPECT_EQ(app->GetApplicationState(), IApplication::kAppStopped);
}

// ---- documents and their signals

namespace {

struct TestDocument {
    IDataBase db;
    UID uid;
    TestDocument() {
        uid = db.NewUID(kTestDocBoss);
        db.SetRootUID(uid);
    }
    int Observers() const { return db.ObserverCount(); }
    TestDBObserver* Observer() {
        InterfacePtr<IDBObserver> o(
            static_cast<IDBObserver*>(db.Instantiate(uid, IID_ITESTDBOBSERVER)));
        return static_cast<TestDBObserver*>(o.get());
    }
};

} // namespace

TEST_F(HostTest, DocumentSignalsReachTheRespondersOnceEach) {
    InterfacePtr<IK2ServiceRegistry> registry(GetExecutionContextSession(), IID_IK2SERVICEREGISTRY);
    ASSERT_TRUE(registry->AddServiceProviderClass(kTestResponderBoss));
    auto app = App();
    InterfacePtr<IDocumentList> docs(app->QueryDocumentList());

    TestDocument one, two;
    ASSERT_EQ(docs->AddNewDocument(&one.db, kInvalidUID, "One"), kSuccess);
    ASSERT_EQ(docs->AddOpenedDocument(&two.db, two.uid, "Two"), kSuccess);
    ASSERT_EQ(heard.size(), 2u);
    EXPECT_EQ(heard[0].service, kAfterNewDocSignalResponderService);
    EXPECT_EQ(heard[0].document, UIDRef(&one.db, one.uid)) << "the root object stands for it";
    EXPECT_EQ(heard[0].name, "One");
    EXPECT_EQ(heard[1].service, kDuringOpenDocSignalResponderService);
    EXPECT_EQ(heard[1].document, UIDRef(&two.db, two.uid));
    EXPECT_EQ(one.Observers(), 1);
    EXPECT_EQ(two.Observers(), 1);
    EXPECT_EQ(docs->GetDocCount(), 2);
    EXPECT_EQ(docs->GetFrontDocument(), &two.db);

    // A change in document one reaches its observer only.
    one.db.BeginTransaction("Make");
    one.db.NewUID(kTestItemBoss);
    one.db.EndTransaction();
    EXPECT_EQ(one.Observer()->changes, 1);
    EXPECT_EQ(one.Observer()->flushes, 1);
    EXPECT_EQ(two.Observer()->changes, 0);

    heard.clear();
    ASSERT_EQ(docs->CloseDocument(&two.db), kSuccess);
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].service, kBeforeCloseDocSignalResponderService);
    EXPECT_EQ(two.Observers(), 0);
    EXPECT_EQ(one.Observers(), 1) << "closing one document leaves the other watched";
    EXPECT_EQ(docs->GetFrontDocument(), &one.db);
    EXPECT_EQ(docs->Location(&two.db), -1);
    EXPECT_EQ(docs->CloseDocument(&two.db), kFailure);
    EXPECT_EQ(heard.size(), 1u);
}

TEST_F(HostTest, TheFrontDocumentAndItsSelectionMakeTheActionContext) {
    auto app = App();
    InterfacePtr<IDocumentList> docs(app->QueryDocumentList());
    EXPECT_EQ(app->GetActiveContext()->GetContextDocument(), nullptr);
    TestDocument a, b;
    docs->AddNewDocument(&a.db, a.uid, "A");
    docs->AddNewDocument(&b.db, b.uid, "B");
    EXPECT_TRUE(docs->SetFrontDocument(&a.db));
    EXPECT_FALSE(docs->SetFrontDocument(nullptr));
    auto selection = CreateObject2<ITestCounter>(kTestItemBoss, IID_ITESTCOUNTER);
    EXPECT_TRUE(docs->SetDocumentSelection(&a.db, selection.get()));
    IActiveContext* ac = app->GetActiveContext();
    EXPECT_EQ(ac->GetContextDocument(), &a.db);
    EXPECT_EQ(ac->GetContextDocumentRef(), UIDRef(&a.db, a.uid));
    EXPECT_EQ(ac->GetContextSelection(), selection.get());
    EXPECT_EQ(docs->GetNthDocName(1).GetUTF8String(), "B");
    EXPECT_EQ(docs->GetNthDocDataBase(2), nullptr);
    // Closing the front one brings the one opened last forward.
    docs->CloseDocument(&a.db);
    EXPECT_EQ(app->GetActiveContext()->GetContextDocument(), &b.db);
    EXPECT_EQ(app->GetActiveContext()->GetContextSelection(), nullptr);
    docs->CloseDocument(&b.db);
    EXPECT_EQ(docs->GetFrontDocument(), nullptr);
}

// ---- idle tasks

namespace {

InterfacePtr<IIdleTask> MakeTask(const std::string& name,
                                 std::function<uint32_t(TestIdleTask*)> behaviour = {}) {
    auto task = CreateObject2<IIdleTask>(kTestIdleTaskBoss, IID_IIDLETASK);
    auto* impl = static_cast<TestIdleTask*>(task.get());
    impl->name = name;
    impl->behaviour = std::move(behaviour);
    return task;
}

std::vector<std::string> TakeEvents() {
    std::vector<std::string> all;
    all.swap(events);
    return all;
}

using Log = std::vector<std::string>;

} // namespace

TEST_F(HostTest, IdleTasksRunInDueOrderAndAreRescheduledByWhatTheyReturn) {
    auto a = MakeTask("a");                                      // every 1000 ms
    auto b = MakeTask("b", [](TestIdleTask*) { return 2500u; }); // every 2500 ms
    auto c = MakeTask("c", [](TestIdleTask*) { return 1000u; }); // every 1000 ms
    a->InstallTask(1000);
    b->InstallTask(5000);
    c->InstallTask(1000); // due with a, installed after it

    struct Move {
        uint32_t ms;
        Log expected;
    };
    const std::vector<Move> moves = {
        {999, {}},
        {1, {"a@1000", "c@1000"}},
        {2500, {"a@2000", "c@2000", "a@3000", "c@3000"}},
        // b was scheduled before a and c were rescheduled for 5000.
        {2000, {"a@4000", "c@4000", "b@5000", "a@5000", "c@5000"}},
        {2000, {"a@6000", "c@6000", "a@7000", "c@7000", "b@7500"}},
    };
    for (const Move& move : moves) {
        SCOPED_TRACE(move.ms);
        HostClock::Advance(move.ms);
        EXPECT_EQ(TakeEvents(), move.expected);
    }
    EXPECT_EQ(HostClock::Now(), 7500u);
    EXPECT_EQ(HostClock::MillisecondsToNextTask(), 500);
    InterfacePtr<IIdleTaskMgr> mgr(App()->QueryIdleTaskManager());
    EXPECT_EQ(mgr->MillisecondsUntilRun(b.get()), 2500);
    EXPECT_EQ(mgr->GetTaskCount(), 3);
}

TEST_F(HostTest, ANoDelayTaskRunsOncePerIdlePass) {
    auto zero = MakeTask("z", [](TestIdleTask*) { return 0u; });
    zero->InstallTask(0);
    HostClock::RunIdlePass();
    HostClock::Advance(5000);
    HostClock::RunIdlePass();
    EXPECT_EQ(TakeEvents(), (Log{"z@0", "z@0", "z@5000"}));
    EXPECT_EQ(HostClock::MillisecondsToNextTask(), 0);
}

TEST_F(HostTest, AWaitingTaskRunsAtThePassAfterTheFlagsChange) {
    auto app = App();
    // Works only when the application is not busy, as the plug-in's tasks do.
    auto task = MakeTask("t", [](TestIdleTask* t) {
        return (t->lastFlags & IApplication::kAppBusyFlags) != 0 ? IIdleTask::kOnFlagChange : 1000u;
    });
    app->SetAppFlags(IApplication::kAppFlagModalDialog, true);
    task->InstallTask(1000);
    HostClock::Advance(10000);
    EXPECT_EQ(TakeEvents(), Log{"t@1000"}) << "then it waits for the flags";
    EXPECT_EQ(HostClock::MillisecondsToNextTask(), -1);

    app->SetAppFlags(IApplication::kAppFlagModalDialog, true); // no change
    HostClock::Advance(1000);
    EXPECT_TRUE(TakeEvents().empty());

    app->SetAppFlags(IApplication::kAppFlagInBackground, true); // a change, still busy
    HostClock::RunIdlePass();
    EXPECT_EQ(TakeEvents(), Log{"t@11000"});

    app->SetAppFlags(IApplication::kAppFlagModalDialog, false);
    HostClock::Advance(1500);
    EXPECT_EQ(TakeEvents(), (Log{"t@11000", "t@12000"}));
    auto* impl = static_cast<TestIdleTask*>(task.get());
    EXPECT_EQ(impl->lastFlags, static_cast<uint32_t>(IApplication::kAppFlagInBackground));

    // The application's start is a change too.
    impl->behaviour = [](TestIdleTask*) { return IIdleTask::kOnFlagChange; };
    HostClock::Advance(1000);
    TakeEvents();
    app->Startup();
    HostClock::RunIdlePass();
    EXPECT_EQ(TakeEvents(), Log{"t@13500"});
}

TEST_F(HostTest, EndOfTimeUninstallsAndTheManagerLetsGoOfTheTask) {
    {
        auto once = MakeTask("once", [](TestIdleTask*) { return IIdleTask::kEndOfTime; });
        once->InstallTask(10);
        EXPECT_EQ(liveTasks, 1);
    }
    EXPECT_EQ(liveTasks, 1) << "the manager holds an installed task";
    HostClock::Advance(100);
    HostClock::Advance(100);
    EXPECT_EQ(TakeEvents(), Log{"once@10"});
    EXPECT_EQ(liveTasks, 0);
}

TEST_F(HostTest, TasksMayUninstallOrReinstallThemselvesAndOthersWhileTheyRun) {
    InterfacePtr<IIdleTask> victim = MakeTask("victim");
    auto self = MakeTask("self", [](TestIdleTask* t) {
        t->UninstallTask();
        return 10u; // ignored: it is no longer installed
    });
    auto again = MakeTask("again", [](TestIdleTask* t) {
        t->InstallTask(300);
        return 10u; // ignored: the new installation decides
    });
    auto killer = MakeTask("killer", [&](TestIdleTask*) {
        victim->UninstallTask();
        return IIdleTask::kEndOfTime;
    });
    killer->InstallTask(100);
    victim->InstallTask(100);
    self->InstallTask(100);
    again->InstallTask(100);
    // A nested pass from inside a task does nothing.
    auto nested = MakeTask("nested", [](TestIdleTask*) {
        HostClock::Advance(100000);
        return IIdleTask::kEndOfTime;
    });
    nested->InstallTask(150);

    HostClock::Advance(1000);
    EXPECT_EQ(TakeEvents(), (Log{"killer@100", "self@100", "again@100", "nested@150", "again@400",
                                 "again@700", "again@1000"}));
    InterfacePtr<IIdleTaskMgr> mgr(App()->QueryIdleTaskManager());
    EXPECT_FALSE(mgr->IsInstalled(victim.get()));
    EXPECT_FALSE(mgr->IsInstalled(self.get()));
    EXPECT_EQ(mgr->MillisecondsUntilRun(self.get()), -1);
    EXPECT_EQ(HostClock::Now(), 1000u);

    // Installing an installed task reschedules it.
    again->InstallTask(50);
    HostClock::Advance(60);
    EXPECT_EQ(TakeEvents(), Log{"again@1050"});
}

TEST_F(HostTest, ANegativeDelayMeansMuchLaterNotWaitingForFlags) {
    auto task = MakeTask("neg", [](TestIdleTask*) { return static_cast<uint32_t>(-5 * 1000); });
    task->InstallTask(0);
    HostClock::RunIdlePass();
    InterfacePtr<IIdleTaskMgr> mgr(App()->QueryIdleTaskManager());
    EXPECT_EQ(mgr->MillisecondsUntilRun(task.get()), int64_t{0xFFFFFFFFu - 4999});
    App()->SetAppFlags(IApplication::kAppFlagDragging, true);
    HostClock::Advance(100000);
    EXPECT_EQ(TakeEvents(), Log{"neg@0"});
}

// ---- actions

namespace {

void DefineActions(IActionManager* actions, std::initializer_list<uint32_t> ids,
                   bool custom = true) {
    for (uint32_t id : ids) {
        ActionDefinition def;
        def.actionID = ActionID(id);
        def.componentClass = kTestActionComponentBoss;
        def.name = PMString("key" + std::to_string(id));
        def.customEnabling = custom;
        ASSERT_TRUE(actions->AddAction(def));
    }
}

} // namespace

TEST_F(HostTest, ActionsRunThroughTheirComponentWithTheFrontDocument) {
    auto app = App();
    InterfacePtr<IActionManager> actions(app->QueryActionManager());
    DefineActions(actions.get(), {0x91101, 0x91102});
    ActionDefinition dup;
    dup.actionID = ActionID(0x91101);
    EXPECT_FALSE(actions->AddAction(dup));
    EXPECT_FALSE(actions->AddAction(ActionDefinition{}));
    EXPECT_EQ(actions->GetNumActions(), 2);
    EXPECT_EQ(actions->GetActionName(ActionID(0x91102)).GetUTF8String(), "key594178");

    TestDocument doc;
    InterfacePtr<IDocumentList>(app->QueryDocumentList())->AddNewDocument(&doc.db, doc.uid, "D");
    EXPECT_EQ(actions->PerformAction(ActionID(0x91102)), kSuccess);
    EXPECT_EQ(actions->PerformAction(ActionID(0x91101)), kSuccess);
    EXPECT_EQ(actions->PerformAction(ActionID(0x99999)), kFailure);
    ASSERT_EQ(performed.size(), 2u);
    EXPECT_EQ(performed[0].action, ActionID(0x91102));
    EXPECT_EQ(performed[0].document, &doc.db);
    EXPECT_EQ(componentsMade, 1) << "one component object serves all its actions";

    HostActiveContext other;
    actions->PerformAction(ActionID(0x91101), &other);
    EXPECT_EQ(performed.back().document, nullptr);

    // A component class that cannot be made runs nothing.
    ActionDefinition orphan;
    orphan.actionID = ActionID(0x91200);
    orphan.componentClass = ClassID(0x12345);
    actions->AddAction(orphan);
    EXPECT_EQ(actions->PerformAction(orphan.actionID), kFailure);
    InterfacePtr<IDocumentList>(app->QueryDocumentList())->CloseDocument(&doc.db);
}

TEST_F(HostTest, TheComponentDecidesTheStatesOfItsCustomActionsOnly) {
    InterfacePtr<IActionManager> actions(App()->QueryActionManager());
    DefineActions(actions.get(), {0x91101, 0x91102, 0x91150});
    DefineActions(actions.get(), {0x91103}, false);

    struct Expect {
        uint32_t id;
        bool enabled;
    };
    actions->UpdateActionStates(nullptr, {});
    for (Expect e :
         std::vector<Expect>{{0x91101, false}, {0x91102, true}, {0x91150, true}, {0x91103, true}}) {
        SCOPED_TRACE(e.id);
        EXPECT_EQ(actions->IsEnabled(ActionID(e.id)), e.enabled);
    }
    EXPECT_FALSE(actions->IsEnabled(ActionID(0x99999)));

    EXPECT_EQ(actions->PerformActionIfEnabled(ActionID(0x91101)), kFailure);
    EXPECT_EQ(actions->PerformActionIfEnabled(ActionID(0x91102)), kSuccess);
    EXPECT_EQ(actions->PerformActionIfEnabled(ActionID(0x91103)), kSuccess);
    ASSERT_EQ(performed.size(), 2u);
    EXPECT_EQ(performed[0].action, ActionID(0x91102));
}

// ---- shortcuts

namespace {

struct ParseCase {
    const char* text;
    VirtualKey key;
    int16_t modifiers;
    const char* written;
};

const ParseCase kGoodShortcuts[] = {
    {"Ctrl+F2", FunctionKey(2), kCtrlModifier, "Ctrl+F2"},
    {"Alt+Ctrl+F1", FunctionKey(1), kAltModifier | kCtrlModifier, "Alt+Ctrl+F1"},
    {"Shift+Ctrl+A", VirtualKey('A'), kShiftModifier | kCtrlModifier, "Shift+Ctrl+A"},
    {"ctrl+shift+a", VirtualKey('A'), kShiftModifier | kCtrlModifier, "Shift+Ctrl+A"},
    {"  Ctrl +  F6 ", FunctionKey(6), kCtrlModifier, "Ctrl+F6"},
    {"Ctrl+Alt+Shift+F24", FunctionKey(24), kAltModifier | kShiftModifier | kCtrlModifier,
     "Alt+Shift+Ctrl+F24"},
    {"Cmd+Opt+z", VirtualKey('Z'), kAltModifier | kCtrlModifier, "Alt+Ctrl+Z"},
    {"Control+Option+Del", kVirtualDeleteKey, kAltModifier | kCtrlModifier, "Alt+Ctrl+Del"},
    {"Ctrl+PageUp", kVirtualPageUpKey, kCtrlModifier, "Ctrl+PgUp"},
    {"Shift+escape", kVirtualEscapeKey, kShiftModifier, "Shift+Esc"},
    {"Ctrl++", VirtualKey('+'), kCtrlModifier, "Ctrl++"},
    {"Ctrl+ +", VirtualKey('+'), kCtrlModifier, "Ctrl++"},
    {"+", VirtualKey('+'), kNoModifiers, "+"},
    {"Ctrl+,", VirtualKey(','), kCtrlModifier, "Ctrl+,"},
    {"Ctrl+1", VirtualKey('1'), kCtrlModifier, "Ctrl+1"},
    {"F12", FunctionKey(12), kNoModifiers, "F12"},
    {"Space", kVirtualSpaceKey, kNoModifiers, "Space"},
};

const char* const kBadShortcuts[] = {
    "",           "   ",       "Ctrl",     "Ctrl+",     "Ctrl+Ctrl+A",
    "Ctrl+F2+F3", "Hyper+A",   "Ctrl+F25", "Ctrl+F0",   "Ctrl+F01",
    "Ctrl+AB",    "F2+Ctrl",   "+A",       "Ctrl++A",   "Ctrl+\xC3\xA9",
    "++",         "Shift+Alt", "Ctrl+ ",   "Ctrl+Tab2",
};

} // namespace

TEST(ShortcutTexts, AreReadIntoKeyAndModifiersAndWrittenBack) {
    for (const ParseCase& c : kGoodShortcuts) {
        SCOPED_TRACE(c.text);
        VirtualKey key;
        int16_t modifiers = -1;
        std::string why;
        ASSERT_TRUE(ShortcutUtils::ParseShortcutString(c.text, key, modifiers, &why)) << why;
        EXPECT_EQ(key, c.key);
        EXPECT_EQ(modifiers, c.modifiers);
        PMString written = ShortcutUtils::GetShortcutString(key, modifiers);
        EXPECT_EQ(written.GetUTF8String(), c.written);
        EXPECT_FALSE(written.IsTranslatable());
        // What is written reads back the same.
        VirtualKey again;
        int16_t againModifiers = 0;
        ASSERT_TRUE(ShortcutUtils::ParseShortcutString(written, again, againModifiers));
        EXPECT_EQ(again, key);
        EXPECT_EQ(againModifiers, modifiers);
    }
}

TEST(ShortcutTexts, UnreadableTextsFailWithAReasonAndChangeNothing) {
    for (const char* text : kBadShortcuts) {
        SCOPED_TRACE(text);
        VirtualKey key('Q');
        int16_t modifiers = kShiftModifier;
        std::string why;
        EXPECT_FALSE(ShortcutUtils::ParseShortcutString(text, key, modifiers, &why));
        EXPECT_FALSE(why.empty());
        EXPECT_EQ(key, VirtualKey('Q'));
        EXPECT_EQ(modifiers, kShiftModifier);
    }
    VirtualKey key;
    int16_t modifiers = 0;
    EXPECT_FALSE(ShortcutUtils::ParseShortcutString("x+", key, modifiers))
        << "no reason asked: still a clean failure";
}

TEST(ShortcutTexts, InvalidKeysAndBitsAreNotWritten) {
    EXPECT_TRUE(ShortcutUtils::GetShortcutString(kVirtualNullKey, kCtrlModifier).IsEmpty());
    EXPECT_TRUE(ShortcutUtils::GetShortcutString(VirtualKey(0x7FFF), 0).IsEmpty());
    EXPECT_TRUE(ShortcutUtils::GetShortcutString(FunctionKey(2), 0x40).IsEmpty());
    EXPECT_FALSE(FunctionKey(25).IsValid());
}

TEST_F(HostTest, AnActionThatHasAShortcutKeepsItWhenADefaultIsOffered) {
    auto app = App();
    InterfacePtr<IActionManager> actions(app->QueryActionManager());
    InterfacePtr<IShortcutManager> shortcuts(app->QueryShortcutManager());
    DefineActions(actions.get(), {0x9110B, 0x9110C, 0x9110D});

    // The user's own binding, made before the application started.
    ASSERT_TRUE(shortcuts->AddShortcut(ActionID(0x9110C), kDefaultShortcutContext, "Ctrl+F9"));

    // Defaults are bound only where an action has none, as a plug-in binds them.
    struct Default {
        uint32_t action;
        const char* text;
    };
    for (Default d : std::vector<Default>{
             {0x9110B, "Ctrl+F2"}, {0x9110C, "Alt+Ctrl+F1"}, {0x9110D, "Ctrl+F5"}}) {
        if (shortcuts->GetNumShortcutsForAction(ActionID(d.action)) == 0) {
            std::string why;
            EXPECT_TRUE(
                shortcuts->AddShortcut(ActionID(d.action), kDefaultShortcutContext, d.text, &why))
                << why;
        }
    }
    auto kept = shortcuts->GetShortcutsForAction(ActionID(0x9110C));
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(ShortcutUtils::GetShortcutString(kept[0].key, kept[0].modifiers).GetUTF8String(),
              "Ctrl+F9");
    EXPECT_EQ(shortcuts->GetActionFromShortcut(kDefaultShortcutContext, FunctionKey(1),
                                               kAltModifier | kCtrlModifier),
              kInvalidActionID);
    EXPECT_EQ(
        shortcuts->GetActionFromShortcut(kDefaultShortcutContext, FunctionKey(2), kCtrlModifier),
        ActionID(0x9110B));
    EXPECT_EQ(shortcuts->GetNumShortcutsForAction(ActionID(0x9110D)), 1);
}

TEST_F(HostTest, ShortcutBindingsThatCannotBeAreRefusedWithAReason) {
    auto app = App();
    InterfacePtr<IActionManager> actions(app->QueryActionManager());
    InterfacePtr<IShortcutManager> shortcuts(app->QueryShortcutManager());
    DefineActions(actions.get(), {0x91101, 0x91102});
    const PMString context(kDefaultShortcutContext);

    struct Case {
        const char* name;
        std::function<bool(std::string*)> bind;
        const char* reason;
    };
    ASSERT_TRUE(shortcuts->AddShortcut(ActionID(0x91101), context, "Ctrl+F2"));
    const std::vector<Case> cases = {
        {"unknown action",
         [&](std::string* w) {
             return shortcuts->AddShortcut(ActionID(0x99999), context, "Ctrl+F3", w);
         },
         "not defined"},
        {"unknown context",
         [&](std::string* w) {
             return shortcuts->AddShortcut(ActionID(0x91102), "Nowhere", "Ctrl+F3", w);
         },
         "no shortcut context"},
        {"unreadable text",
         [&](std::string* w) {
             return shortcuts->AddShortcut(ActionID(0x91102), context, "Ctrl+Hyper", w);
         },
         "not a key"},
        {"taken by another action",
         [&](std::string* w) {
             return shortcuts->AddShortcut(ActionID(0x91102), context, "ctrl+f2", w);
         },
         "already runs action 0x91101"},
        {"no key",
         [&](std::string* w) {
             return shortcuts->AddShortcut(ActionID(0x91102), context, kVirtualNullKey,
                                           kCtrlModifier, w);
         },
         "not a valid key"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string why;
        EXPECT_FALSE(c.bind(&why));
        EXPECT_NE(why.find(c.reason), std::string::npos) << why;
        EXPECT_EQ(shortcuts->GetNumShortcutsForAction(ActionID(0x91102)), 0);
    }
    // The same binding again changes nothing; another context is separate.
    EXPECT_TRUE(shortcuts->AddShortcut(ActionID(0x91101), context, "Ctrl+F2"));
    EXPECT_EQ(shortcuts->GetNumShortcutsForAction(ActionID(0x91101)), 1);
    ASSERT_TRUE(shortcuts->AddShortcutContext("Text"));
    EXPECT_TRUE(shortcuts->AddShortcut(ActionID(0x91102), "Text", "Ctrl+F2"));
    EXPECT_TRUE(
        shortcuts->RemoveShortcut(ActionID(0x91101), context, FunctionKey(2), kCtrlModifier));
    EXPECT_EQ(shortcuts->GetNumShortcutsForAction(ActionID(0x91101)), 0);
    EXPECT_EQ(shortcuts->GetShortcutContexts().size(), 2u);
}

// ---- menus

TEST_F(HostTest, MenusListTheirEntriesInPositionOrder) {
    InterfacePtr<IMenuManager> menus(App()->QueryMenuManager());
    const PMString panelMenu("0x71900kOrdoInternalPopupMenuNameKey");
    struct Entry {
        uint32_t action;
        double position;
        bool separator;
    };
    // Added out of order, as resources come.
    for (Entry e : std::vector<Entry>{{0x71903, 11.0, false},
                                      {0x7190D, 3.0, false},
                                      {0x7190B, 1.0, false},
                                      {0x71902, 10.0, true},
                                      {0x7190C, 2.0, false}}) {
        ASSERT_TRUE(
            menus->AddMenuItem({ActionID(e.action), panelMenu, e.position, e.separator, {}}));
    }
    ASSERT_TRUE(menus->AddMenuItem({ActionID(0x71900), "Main:&Help:AboutPlugins:velmaris", 1.0,
                                    false, "0x71900kOrdoAboutMenuKey"}));

    std::vector<uint32_t> order;
    for (const auto& item : menus->GetMenuItems(panelMenu)) {
        order.push_back(item.action.Get());
        EXPECT_EQ(item.separator, item.action == ActionID(0x71902));
    }
    EXPECT_EQ(order, (std::vector<uint32_t>{0x7190B, 0x7190C, 0x7190D, 0x71902, 0x71903}));

    // The access-key mark is not part of a menu's name.
    auto help = menus->GetMenuItems("Main:Help:AboutPlugins:velmaris");
    ASSERT_EQ(help.size(), 1u);
    EXPECT_EQ(help[0].text.GetUTF8String(), "0x71900kOrdoAboutMenuKey");
    EXPECT_FALSE(menus->AddMenuItem(
        {ActionID(0x71900), "Main:Help:AboutPlugins:&velmaris", 2.0, false, {}}));
    EXPECT_FALSE(menus->AddMenuItem({ActionID(0x71901), "", 1.0, false, {}}));
    EXPECT_FALSE(menus->AddMenuItem({kInvalidActionID, panelMenu, 1.0, false, {}}));
    EXPECT_EQ(menus->GetMenuPaths().size(), 2u);
    EXPECT_EQ(menus->FindMenusOfAction(ActionID(0x71900)).size(), 1u);
    EXPECT_TRUE(menus->GetMenuItems("Main:Window").empty());

    // Equal positions keep the order they were added in.
    menus->AddMenuItem({ActionID(0x91001), "M", 1.0, false, {}});
    menus->AddMenuItem({ActionID(0x91002), "M", 1.0, false, {}});
    menus->AddMenuItem({ActionID(0x91003), "M", 0.5, false, {}});
    auto m = menus->GetMenuItems("M");
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[0].action, ActionID(0x91003));
    EXPECT_EQ(m[1].action, ActionID(0x91001));
    EXPECT_EQ(m[2].action, ActionID(0x91002));
    EXPECT_TRUE(menus->RemoveMenuItem("M", ActionID(0x91001)));
    EXPECT_FALSE(menus->RemoveMenuItem("M", ActionID(0x91001)));
    EXPECT_TRUE(MenuUtils::SameMenuPath("Main:&Help", "Main:Help"));
    EXPECT_FALSE(MenuUtils::SameMenuPath("Main:Help", "Main:Hel"));
}

// ---- alerts

TEST_F(HostTest, AlertsReachTheSinkTranslatedAndItsAnswersComeBack) {
    HostStrings::RegisterStringTable(
        HostStrings::kDefaultTable,
        {{"0x71900kOrdoErrInternal", "Internal Error"},
         {"0x71900kOrdoImgOptAlreadyProcTitleStr", "Processed Image Warning"}});
    RecordingAlertSink sink;
    ScopedAlertSink installed(&sink);

    CAlert::WarningAlert("0x71900kOrdoErrInternal");
    PMString runTime("0x71900kOrdoErrInternal");
    runTime.SetTranslatable(false);
    CAlert::ErrorAlert(runTime);
    CAlert::InformationAlert("Done");
    sink.Answer(CAlert::kCancelButton);
    int16_t chosen = CAlert::ModalAlert("Reprocess?", CAlert::kOKString, CAlert::kCancelString, "",
                                        CAlert::kOKButton, AlertIcon::kWarningIcon,
                                        "0x71900kOrdoImgOptAlreadyProcTitleStr");
    EXPECT_EQ(chosen, CAlert::kCancelButton);

    const auto& alerts = sink.Alerts();
    ASSERT_EQ(alerts.size(), 4u);
    struct Expect {
        AlertKind kind;
        AlertIcon icon;
        const char* message;
        std::size_t buttons;
    };
    const Expect expected[] = {
        {AlertKind::kWarning, AlertIcon::kWarningIcon, "Internal Error", 1},
        {AlertKind::kError, AlertIcon::kErrorIcon, "0x71900kOrdoErrInternal", 1},
        {AlertKind::kInformation, AlertIcon::kInformationIcon, "Done", 1},
        {AlertKind::kModal, AlertIcon::kWarningIcon, "Reprocess?", 2},
    };
    for (std::size_t i = 0; i < alerts.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(alerts[i].kind, expected[i].kind);
        EXPECT_EQ(alerts[i].icon, expected[i].icon);
        EXPECT_EQ(alerts[i].message.GetUTF8String(), expected[i].message);
        EXPECT_EQ(alerts[i].buttons.size(), expected[i].buttons);
        EXPECT_EQ(alerts[i].buttons[0].GetUTF8String(), "OK");
    }
    EXPECT_EQ(alerts[3].title.GetUTF8String(), "Processed Image Warning");

    // An answer that names no button counts as the default.
    sink.Answer(7);
    EXPECT_EQ(CAlert::ModalAlert("?", "Yes", "No", "Maybe", 3), 3);
    sink.Answer(0);
    EXPECT_EQ(CAlert::ModalAlert("?", "Yes", "No", "", 9), 1) << "a bad default becomes button 1";
    EXPECT_EQ(CAlert::ModalAlert("?", "", "", "", 1), 1);
    EXPECT_EQ(sink.Alerts().back().buttons.size(), 1u) << "no button at all gives OK";
}

TEST_F(HostTest, ATickedDontShowAgainBoxAnswersLaterAlertsWithoutShowingThem) {
    RecordingAlertSink sink;
    ScopedAlertSink installed(&sink);
    auto ask = [](uint32_t id) {
        return CAlert::ModalAlert("again?", CAlert::kOKString, CAlert::kCancelString, "",
                                  CAlert::kOKButton, AlertIcon::kWarningIcon, "", id);
    };
    sink.Answer(CAlert::kCancelButton, false);
    EXPECT_EQ(ask(0x71911), CAlert::kCancelButton);
    sink.Answer(CAlert::kOKButton, true);
    EXPECT_EQ(ask(0x71911), CAlert::kOKButton);
    EXPECT_TRUE(CAlert::IsSuppressed(0x71911));
    sink.Answer(CAlert::kCancelButton);
    EXPECT_EQ(ask(0x71911), CAlert::kOKButton) << "not shown: answered as when ticked";
    EXPECT_EQ(sink.Alerts().size(), 2u);
    EXPECT_EQ(sink.Alerts()[0].dontShowAgainID, 0x71911u);

    // The box of another alert, or no ID at all, is separate.
    EXPECT_EQ(ask(0x71912), CAlert::kCancelButton);
    sink.Answer(CAlert::kCancelButton, true);
    EXPECT_EQ(ask(0), CAlert::kCancelButton);
    sink.Answer(CAlert::kCancelButton);
    EXPECT_EQ(ask(0), CAlert::kCancelButton);
    EXPECT_EQ(sink.Alerts().size(), 5u);

    CAlert::ResetDontShowAgain(0x71911);
    ask(0x71911);
    EXPECT_EQ(sink.Alerts().size(), 6u);
}

TEST_F(HostTest, WithoutAFrontEndAlertsGoToStderrAndTakeTheDefault) {
    ASSERT_EQ(CAlert::GetAlertSink(), nullptr);
    testing::internal::CaptureStderr();
    int16_t chosen =
        CAlert::ModalAlert("Delete?", "Keep", "Delete", "", 2, AlertIcon::kWarningIcon);
    CAlert::ErrorAlert("Broken");
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(chosen, 2);
    EXPECT_NE(said.find("Delete?"), std::string::npos);
    EXPECT_NE(said.find("[Error] Broken"), std::string::npos);
    {
        RecordingAlertSink sink;
        ScopedAlertSink installed(&sink);
        EXPECT_EQ(CAlert::GetAlertSink(), &sink);
    }
    EXPECT_EQ(CAlert::GetAlertSink(), nullptr);
}
