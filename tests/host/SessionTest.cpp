#include "CAlert.h"
#include "CObserver.h"
#include "HostStrings.h"
#include "HostTestKit.h"
#include "IActionManager.h"
#include "IApplication.h"
#include "IDataBase.h"
#include "IIdleTask.h"
#include "IMenuManager.h"
#include "ISession.h"
#include "IShortcutManager.h"
#include "ISubject.h"
#include "Signals.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

// Test classes, with IDs of their own apart from the host's and any plug-in's.
constexpr PMIID IID_ITESTPREFS{0x91001}, IID_ITESTCOUNTER{0x91002};
constexpr ImplementationID kTestPrefsImpl{0x91001}, kTestCounterImpl{0x91002},
    kTestIdleTaskImpl{0x91003}, kTestStartupImpl{0x91004}, kTestActionComponentImpl{0x91008},
    kTestAppObserverImpl{0x91009};
constexpr ClassID kTestIdleTaskBoss{0x91001}, kTestStartupBoss{0x91002},
    kTestActionComponentBoss{0x91005}, kTestAppObserverBoss{0x91006}, kTestItemBoss{0x91007};

using Log = std::vector<std::string>;
Log events;

InterfacePtr<IApplication> App() {
    return InterfacePtr<IApplication>(GetExecutionContextSession()->QueryApplication());
}

// Two persistent records: the plug-in's preferences on the session, a counter.
class ITestCounter : public hosttest::ITestValue {};
using TestCounter = hosttest::TestValueOf<ITestCounter>;

// An idle task whose runs are logged as "name@time"; what it returns (and does) is up to the test.
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

// Started and stopped with the application; attaches an application observer
// at startup, as a plug-in does.
int appStartedMessages = 0;
class TestAppObserver : public CObserver {
public:
    using CObserver::CObserver;
    void Update(ClassID change, ISubject*, PMIID protocol, void*) override {
        if (change == kAppStartedMessage && protocol == IID_IAPPLICATIONSTARTUP) {
            ++appStartedMessages;
            EXPECT_EQ(App()->GetApplicationState(), IApplication::kAppRunning);
        }
    }
};

class TestStartup : public CPMUnknown<IStartupShutdownService> {
public:
    explicit TestStartup(IPMUnknown* o) : CPMUnknown<IStartupShutdownService>(o) {}
    void Startup() override {
        events.push_back("startup");
        observer = CreateObject2<IObserver>(kTestAppObserverBoss, IID_IOBSERVER);
        InterfacePtr<ISubject>(App(), IID_ISUBJECT)->AttachObserver(observer.get(), kStartup);
    }
    void Shutdown() override {
        events.push_back("shutdown");
        InterfacePtr<ISubject>(App(), IID_ISUBJECT)->DetachObserver(observer.get(), kStartup);
        observer.reset();
    }

private:
    static constexpr PMIID kStartup = IID_IAPPLICATIONSTARTUP;
    InterfacePtr<IObserver> observer;
};

// Runs the actions 0x91100-0x911FF; enables those with an even number among
// the actions it is asked about, except 0x91150 which it leaves as given.
// What it performed: the action's number and the context's document.
using Performed = std::pair<uint32_t, IDataBase*>;
std::vector<Performed> performed;
int componentsMade = 0;
class TestActionComponent : public CActionComponent {
public:
    explicit TestActionComponent(IPMUnknown* o) : CActionComponent(o) { ++componentsMade; }
    void DoAction(IActiveContext* ac, ActionID id, IPMUnknown*) override {
        performed.push_back({id.Get(), ac != nullptr ? ac->GetContextDocument() : nullptr});
    }
    void UpdateActionStates(IActiveContext*, ActionStateList* list, IPMUnknown*) override {
        for (int32_t n = 0; n < list->Length(); ++n) {
            ActionID id = list->GetNthAction(n);
            if (id != ActionID(0x91150)) {
                list->SetNthActionState(n,
                                        id.Get() % 2 == 0 ? kEnabledAction : kDisabled_Unselected);
            }
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
        const ImplementationFactory impls[] = {
            {kTestPrefsImpl, "TestPrefs", CreateImplementation<hosttest::TestValue>, true},
            {kTestCounterImpl, "TestCounter", CreateImplementation<TestCounter>, true},
            {kTestIdleTaskImpl, "TestIdleTask", CreateImplementation<TestIdleTask>, false},
            {kTestStartupImpl, "TestStartup", CreateImplementation<TestStartup>, false},
            {kTestActionComponentImpl, "TestActionComponent",
             CreateImplementation<TestActionComponent>, false},
            {kTestAppObserverImpl, "TestAppObserver", CreateImplementation<TestAppObserver>, false},
        };
        for (const ImplementationFactory& f : impls) {
            m.RegisterImplementation(f);
        }
        const std::tuple<ClassID, PMIID, ImplementationID> classes[] = {
            {kTestIdleTaskBoss, IID_IIDLETASK, kTestIdleTaskImpl},
            {kTestItemBoss, IID_ITESTCOUNTER, kTestCounterImpl},
            {kTestActionComponentBoss, IID_IACTIONCOMPONENT, kTestActionComponentImpl},
            {kTestAppObserverBoss, IID_IOBSERVER, kTestAppObserverImpl},
            {kTestStartupBoss, IID_ISTARTUPSHUTDOWN, kTestStartupImpl}};
        for (auto [cls, iid, impl] : classes) {
            m.DefineClass({cls, kInvalidClass, {{iid, impl}}});
        }
        m.AddIn(kTestStartupBoss, IID_IK2SERVICEPROVIDER, kStartupShutdownProviderImpl);
        // The plug-in's way onto the session: additions to its class.
        m.AddIn(kSessionBoss, IID_ITESTPREFS, kTestPrefsImpl);
        events.clear();
        performed.clear();
        componentsMade = 0;
        appStartedMessages = 0;
    }

    void TearDown() override {
        ResetHostForTesting();
        ObjectModel::Get().Reset();
        HostStrings::Reset();
    }

    static ISession* Session() { return GetExecutionContextSession(); }
    static Log TakeEvents() { return std::exchange(events, {}); }
    static auto Prefs() { return InterfacePtr<hosttest::ITestValue>(Session(), IID_ITESTPREFS); }
    static auto Counter() { return InterfacePtr<ITestCounter>(Session(), IID_ITESTCOUNTER); }
    // The preferences' number and text, and the counter's number.
    static auto Values() { return std::tuple(Prefs()->Get(), Prefs()->Text(), Counter()->Get()); }
};

// The session file's layout, written out independently of the host: magic,
// version, record count, records (ID, size, bytes), and the CRC-32 of all that.
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

// The bytes of a TestValue record.
std::string ValueBytes(int32_t value, const std::string& text = "") {
    return Le32(static_cast<uint32_t>(value)) + Le32(static_cast<uint32_t>(text.size())) + text;
}

// A record: its implementation ID and its bytes.
using Record = std::pair<uint32_t, std::string>;

std::string Body(uint32_t version, const std::vector<Record>& records, uint32_t count) {
    std::string out = std::string("ODSESSN", 8) + Le32(version) + Le32(count);
    for (const auto& [id, bytes] : records) {
        out += Le32(id) + Le32(static_cast<uint32_t>(bytes.size())) + bytes;
    }
    return out;
}

std::string Sealed(const std::string& body) {
    return body + Le32(Crc32(body));
}

std::string SessionFile(const std::vector<Record>& records, uint32_t version = 1) {
    return Sealed(Body(version, records, static_cast<uint32_t>(records.size())));
}

InterfacePtr<IIdleTask> MakeTask(const std::string& name,
                                 std::function<uint32_t(TestIdleTask*)> behaviour = {}) {
    auto task = CreateObject2<IIdleTask>(kTestIdleTaskBoss, IID_IIDLETASK);
    auto* impl = static_cast<TestIdleTask*>(task.get());
    impl->name = name;
    impl->behaviour = std::move(behaviour);
    return task;
}

void DefineActions(IActionManager* actions, std::initializer_list<uint32_t> ids,
                   bool custom = true) {
    for (uint32_t id : ids) {
        ASSERT_TRUE(actions->AddAction({.actionID = ActionID(id),
                                        .componentClass = kTestActionComponentBoss,
                                        .name = PMString("key" + std::to_string(id)),
                                        .customEnabling = custom}));
    }
}

} // namespace

TEST_F(HostTest, ADamagedSessionFileIsRefusedAndAFailedWriteChangesNothing) {
    ObjectModel::Get().AddIn(kSessionBoss, IID_ITESTCOUNTER, kTestCounterImpl);
    const Record goodPrefs{kTestPrefsImpl.Get(), ValueBytes(42, "new")};
    const Record goodCounter{kTestCounterImpl.Get(), ValueBytes(5)};
    const std::string whole = SessionFile({goodPrefs, goodCounter});
    std::string flipped = whole;
    flipped[20] = static_cast<char>(flipped[20] ^ 0x01);
    std::string lying = Body(1, {goodPrefs}, 1);
    lying[16 + 4] = '\x7F'; // the record's byte count runs past the end
    const std::tuple<const char*, std::string, const char*> cases[] = {
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
         SessionFile({goodPrefs, {kTestCounterImpl.Get(), ValueBytes(5).substr(0, 7)}}),
         "does not read back"},
        {"a record with bytes left over",
         SessionFile({goodCounter, {kTestPrefsImpl.Get(), ValueBytes(42, "new") + "!"}}),
         "does not read back"},
    };
    TempDir dir;
    std::string path = dir / "damaged.bin";
    for (const auto& [name, bytes, reason] : cases) {
        SCOPED_TRACE(name);
        Prefs()->Set(7, "kept");
        Counter()->Set(8, "");
        WriteFile(path, bytes);
        std::string why;
        EXPECT_EQ(Session()->ReadSessionFile(path, &why), kFailure);
        EXPECT_NE(why.find(reason), std::string::npos) << why;
        EXPECT_NE(why.find(path), std::string::npos) << "the reason names the file: " << why;
        EXPECT_EQ(Values(), std::tuple(7, "kept", 8));
    }
    std::string why;
    EXPECT_EQ(Session()->ReadSessionFile(dir / "missing.bin", &why), kFailure);
    EXPECT_NE(why.find("cannot open"), std::string::npos) << why;
    WriteFile(path, whole);
    ASSERT_EQ(Session()->ReadSessionFile(path, &why), kSuccess) << why;
    EXPECT_EQ(Values(), std::tuple(42, "new", 5));

    // A failed write leaves the old file whole.
    path = dir / "session.bin";
    Prefs()->Set(1, "first");
    ASSERT_EQ(Session()->WriteSessionFile(path, &why), kSuccess) << why;
    std::string before = ReadFile(path);
    // The temporary file's name is taken by a folder: the write cannot start.
    MakeDirs(path + ".tmp");
    WriteFile(path + ".tmp/keep", "x");
    Prefs()->Set(2, "second");
    EXPECT_EQ(Session()->WriteSessionFile(path, &why), kFailure);
    EXPECT_NE(why.find("session.bin.tmp"), std::string::npos) << why;
    EXPECT_EQ(ReadFile(path), before);
    why.clear();
    EXPECT_EQ(Session()->WriteSessionFile(dir / "no/such/folder/s.bin", &why), kFailure);
    EXPECT_FALSE(why.empty());
    EXPECT_EQ(Session()->WriteSessionFile("", &why), kFailure);
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
    for (auto* t : {killer.get(), victim.get(), self.get(), again.get()}) {
        t->InstallTask(100);
    }
    // A nested pass from inside a task does nothing.
    MakeTask("nested", [](TestIdleTask*) {
        HostClock::Advance(100000);
        return IIdleTask::kEndOfTime;
    })->InstallTask(150);
    HostClock::Advance(1000);
    EXPECT_EQ(TakeEvents(), (Log{"killer@100", "self@100", "again@100", "nested@150", "again@400",
                                 "again@700", "again@1000"}));
    InterfacePtr<IIdleTaskMgr> mgr(App()->QueryIdleTaskManager());
    EXPECT_EQ(std::tuple(mgr->IsInstalled(victim.get()), mgr->IsInstalled(self.get()),
                         mgr->MillisecondsUntilRun(self.get()), HostClock::Now()),
              std::tuple(false, false, -1, 1000u));
    // Installing an installed task reschedules it.
    again->InstallTask(50);
    HostClock::Advance(60);
    EXPECT_EQ(TakeEvents(), Log{"again@1050"});
}

// A negative delay is no wait for the flags; end of time uninstalls the task.
TEST_F(HostTest, ANegativeDelayMeansMuchLaterAndEndOfTimeLetsGoOfTheTask) {
    auto task = MakeTask("neg", [](TestIdleTask*) { return static_cast<uint32_t>(-5 * 1000); });
    task->InstallTask(0);
    MakeTask("once", [](TestIdleTask*) { return IIdleTask::kEndOfTime; })->InstallTask(10);
    EXPECT_EQ(liveTasks, 2) << "the manager holds an installed task";
    HostClock::RunIdlePass();
    InterfacePtr<IIdleTaskMgr> mgr(App()->QueryIdleTaskManager());
    EXPECT_EQ(mgr->MillisecondsUntilRun(task.get()), int64_t{0xFFFFFFFFu - 4999});
    App()->SetAppFlags(IApplication::kAppFlagDragging, true);
    HostClock::Advance(100);
    HostClock::Advance(100000);
    EXPECT_EQ(TakeEvents(), (Log{"neg@0", "once@10"}));
    EXPECT_EQ(liveTasks, 1);
}

// Actions run through their component with the front document; the component decides the states of
// its custom actions only; shortcut bindings that cannot be are refused with a reason.
TEST_F(HostTest, ActionsRunThroughTheirComponentWhichDecidesTheirStatesAndTakeShortcuts) {
    auto app = App();
    InterfacePtr<IActionManager> actions(app->QueryActionManager());
    DefineActions(actions.get(), {0x91101, 0x91102});
    EXPECT_FALSE(actions->AddAction({ActionID(0x91101), {}, {}}));
    EXPECT_FALSE(actions->AddAction(ActionDefinition{}));
    EXPECT_EQ(actions->GetNumActions(), 2);
    EXPECT_EQ(actions->GetActionName(ActionID(0x91102)).GetUTF8String(), "key594178");

    IDataBase db;
    UID uid = db.NewUID(kTestItemBoss);
    db.SetRootUID(uid);
    InterfacePtr<IDocumentList> docs(app->QueryDocumentList());
    docs->AddNewDocument(&db, uid, "D");
    EXPECT_EQ(actions->PerformAction(ActionID(0x91102)), kSuccess);
    EXPECT_EQ(actions->PerformAction(ActionID(0x91101)), kSuccess);
    EXPECT_EQ(actions->PerformAction(ActionID(0x99999)), kFailure);
    EXPECT_EQ(performed, (std::vector<Performed>{{0x91102, &db}, {0x91101, &db}}));
    EXPECT_EQ(componentsMade, 1) << "one component object serves all its actions";
    HostActiveContext other;
    actions->PerformAction(ActionID(0x91101), &other);
    EXPECT_EQ(performed.back().second, nullptr);
    // A component class that cannot be made runs nothing.
    actions->AddAction({ActionID(0x91200), ClassID(0x12345), {}});
    EXPECT_EQ(actions->PerformAction(ActionID(0x91200)), kFailure);
    docs->CloseDocument(&db);

    DefineActions(actions.get(), {0x91150});
    DefineActions(actions.get(), {0x91103}, false);
    performed.clear();
    actions->UpdateActionStates(nullptr, {});
    const std::pair<uint32_t, bool> states[] = {
        {0x91101, false}, {0x91102, true}, {0x91150, true}, {0x91103, true}, {0x99999, false}};
    for (auto [id, enabled] : states) {
        EXPECT_EQ(actions->IsEnabled(ActionID(id)), enabled) << id;
        EXPECT_EQ(actions->PerformActionIfEnabled(ActionID(id)), enabled ? kSuccess : kFailure);
    }
    EXPECT_EQ(performed,
              (std::vector<Performed>{{0x91102, nullptr}, {0x91150, nullptr}, {0x91103, nullptr}}));

    InterfacePtr<IShortcutManager> shortcuts(app->QueryShortcutManager());
    const PMString context(kDefaultShortcutContext);
    ASSERT_TRUE(shortcuts->AddShortcut(ActionID(0x91101), context, "Ctrl+F2"));
    // The action, the context, the text (null: no key at all), the reason.
    const std::tuple<uint32_t, const char*, const char*, const char*> cases[] = {
        {0x99999, kDefaultShortcutContext, "Ctrl+F3", "not defined"},
        {0x91102, "Nowhere", "Ctrl+F3", "no shortcut context"},
        {0x91102, kDefaultShortcutContext, "Ctrl+Hyper", "not a key"},
        {0x91102, kDefaultShortcutContext, "ctrl+f2", "already runs action 0x91101"},
        {0x91102, kDefaultShortcutContext, nullptr, "not a valid key"},
    };
    for (const auto& [action, where, text, reason] : cases) {
        SCOPED_TRACE(reason);
        std::string why;
        EXPECT_FALSE(text != nullptr
                         ? shortcuts->AddShortcut(ActionID(action), where, text, &why)
                         : shortcuts->AddShortcut(ActionID(action), where, kVirtualNullKey,
                                                  kCtrlModifier, &why));
        EXPECT_NE(why.find(reason), std::string::npos) << why;
        EXPECT_EQ(shortcuts->GetNumShortcutsForAction(ActionID(0x91102)), 0);
    }
    // The same binding again changes nothing.
    EXPECT_TRUE(shortcuts->AddShortcut(ActionID(0x91101), context, "Ctrl+F2"));
    EXPECT_EQ(shortcuts->GetNumShortcutsForAction(ActionID(0x91101)), 1);
    EXPECT_TRUE(
        shortcuts->RemoveShortcut(ActionID(0x91101), context, FunctionKey(2), kCtrlModifier));
    EXPECT_EQ(shortcuts->GetNumShortcutsForAction(ActionID(0x91101)), 0);

    // Shortcut texts are read into key and modifiers; what is written reads back the same;
    // unreadable texts fail with a reason and change nothing.
    // The text, the key and modifiers read from it, the text written for them.
    const std::tuple<const char*, VirtualKey, int16_t, const char*> good[] = {
        {"Ctrl+F2", FunctionKey(2), kCtrlModifier, "Ctrl+F2"},
        {"Alt+Ctrl+F1", FunctionKey(1), kAltModifier | kCtrlModifier, "Alt+Ctrl+F1"},
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
    for (const auto& [text, expectedKey, expectedModifiers, expectedText] : good) {
        SCOPED_TRACE(text);
        VirtualKey key, again;
        int16_t modifiers = -1, againModifiers = 0;
        std::string why;
        ASSERT_TRUE(ShortcutUtils::ParseShortcutString(text, key, modifiers, &why)) << why;
        EXPECT_EQ(std::pair(key, modifiers), std::pair(expectedKey, expectedModifiers));
        PMString written = ShortcutUtils::GetShortcutString(key, modifiers);
        EXPECT_EQ(written.GetUTF8String(), expectedText);
        EXPECT_FALSE(written.IsTranslatable());
        ASSERT_TRUE(ShortcutUtils::ParseShortcutString(written, again, againModifiers));
        EXPECT_EQ(std::pair(again, againModifiers), std::pair(key, modifiers));
    }
    for (const char* text : {"",           "   ",       "Ctrl",     "Ctrl+",     "Ctrl+Ctrl+A",
                             "Ctrl+F2+F3", "Hyper+A",   "Ctrl+F25", "Ctrl+F0",   "Ctrl+F01",
                             "Ctrl+AB",    "F2+Ctrl",   "+A",       "Ctrl++A",   "Ctrl+\xC3\xA9",
                             "++",         "Shift+Alt", "Ctrl+ ",   "Ctrl+Tab2", "x+"}) {
        SCOPED_TRACE(text);
        VirtualKey key('Q');
        int16_t modifiers = kShiftModifier;
        std::string why;
        EXPECT_FALSE(ShortcutUtils::ParseShortcutString(text, key, modifiers))
            << "no reason asked: still a clean failure";
        EXPECT_FALSE(ShortcutUtils::ParseShortcutString(text, key, modifiers, &why));
        EXPECT_FALSE(why.empty());
        EXPECT_EQ(std::pair(key, modifiers), std::pair(VirtualKey('Q'), int16_t{kShiftModifier}));
    }
    // Invalid keys and modifier bits are not written.
    EXPECT_TRUE(ShortcutUtils::GetShortcutString(kVirtualNullKey, kCtrlModifier).IsEmpty());
    EXPECT_TRUE(ShortcutUtils::GetShortcutString(VirtualKey(0x7FFF), 0).IsEmpty());
    EXPECT_TRUE(ShortcutUtils::GetShortcutString(FunctionKey(2), 0x40).IsEmpty());
    EXPECT_FALSE(FunctionKey(25).IsValid());
}

TEST_F(HostTest, MenusListTheirEntriesInOrderAlertsTakeTheDefaultStartupServicesRunOnce) {
    InterfacePtr<IMenuManager> menus(App()->QueryMenuManager());
    const PMString panelMenu("0x71900kOrdoInternalPopupMenuNameKey");
    // Added out of order, as resources come; equal positions keep the order they were added in.
    const std::tuple<uint32_t, double, bool> entries[] = {
        {0x71903, 11.0, false}, {0x7190D, 3.0, false}, {0x7190B, 1.0, false},
        {0x71902, 10.0, true},  {0x7190C, 2.0, false}, {0x7190A, 3.0, false}};
    for (auto [action, position, separator] : entries) {
        ASSERT_TRUE(menus->AddMenuItem({ActionID(action), panelMenu, position, separator, {}}));
    }
    ASSERT_TRUE(menus->AddMenuItem({ActionID(0x71900), "Main:&Help:AboutPlugins:velmaris", 1.0,
                                    false, "0x71900kOrdoAboutMenuKey"}));
    std::vector<uint32_t> order;
    for (const auto& item : menus->GetMenuItems(panelMenu)) {
        order.push_back(item.action.Get());
        EXPECT_EQ(item.separator, item.action == ActionID(0x71902));
    }
    EXPECT_EQ(order, (std::vector<uint32_t>{0x7190B, 0x7190C, 0x7190D, 0x7190A, 0x71902, 0x71903}));
    // The access-key mark is not part of a menu's name.
    auto help = menus->GetMenuItems("Main:Help:AboutPlugins:velmaris");
    ASSERT_EQ(help.size(), 1u);
    EXPECT_EQ(help[0].text.GetUTF8String(), "0x71900kOrdoAboutMenuKey");
    EXPECT_FALSE(menus->AddMenuItem(
        {ActionID(0x71900), "Main:Help:AboutPlugins:&velmaris", 2.0, false, {}}));
    EXPECT_FALSE(menus->AddMenuItem({ActionID(0x71901), "", 1.0, false, {}}));
    EXPECT_FALSE(menus->AddMenuItem({kInvalidActionID, panelMenu, 1.0, false, {}}));
    EXPECT_EQ(menus->GetMenuPaths().size(), 2u);
    EXPECT_TRUE(menus->GetMenuItems("Main:Window").empty());

    // Alerts go to stderr.
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

    // Startup runs the startup services once, then announces the start.
    InterfacePtr<IK2ServiceRegistry> registry(Session(), IID_IK2SERVICEREGISTRY);
    ASSERT_TRUE(registry->AddServiceProviderClass(kTestStartupBoss));
    EXPECT_TRUE(registry->AddServiceProviderClass(kTestStartupBoss)) << "once only";
    EXPECT_EQ(registry->GetServiceProviderCount(kStartupShutdownService), 1);
    EXPECT_FALSE(registry->AddServiceProviderClass(kTestItemBoss)) << "not a provider";
    EXPECT_FALSE(registry->AddServiceProviderClass(ClassID(0x12345)));
    auto app = App();
    EXPECT_EQ(Session()->GetApplicationState(), IApplication::kAppNotStarted);
    ASSERT_EQ(app->Startup(), kSuccess);
    EXPECT_EQ(app->Startup(), kFailure);
    EXPECT_EQ(std::tuple(events, appStartedMessages, app->GetApplicationState()),
              std::tuple(Log{"startup"}, 1, IApplication::kAppRunning));
    app->Shutdown();
    app->Shutdown();
    EXPECT_EQ(events, (std::vector<std::string>{"startup", "shutdown"}));
    EXPECT_EQ(app->GetApplicationState(), IApplication::kAppStopped);
}
