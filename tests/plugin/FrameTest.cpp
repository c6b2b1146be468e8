// The plug-in frame as the host drives it: loading, the startup and shutdown service, the document
// responder with its database observer, the default shortcuts, and the two idle tasks.

#include "PluginTestKit.h"

[[maybe_unused]] testing::Environment* const kVips =
    testing::AddGlobalTestEnvironment(new VipsEnvironment("plugin_tests"));

namespace {

using namespace plugkit;

using FrameTest = PluginTest;

TEST_F(FrameTest, LoadingPutsThePlugInsInterfacesOnTheHostsObjects) {
    ASSERT_NE(GetPlugIn(), nullptr);
    EXPECT_EQ(GetPlugIn()->GetPluginID(), kOrdoPlugInID);
    std::size_t count = 0;
    const ImplementationFactory* factories = OrdoFrameFactories(count);
    for (std::size_t i = 0; i < count; ++i) {
        EXPECT_TRUE(ObjectModel::Get().IsRegistered(factories[i].id)) << factories[i].name;
    }

    // The session carries the preferences and the server link; a placed
    // image its order; a document its database observer.
    EXPECT_TRUE(InterfacePtr<IOrdoPrefsData>(Session(), IID_IORDOPREFSDATA));
    EXPECT_TRUE(InterfacePtr<IOrdoQORData>(Session(), IID_IORDOQORDATA));
    IDataBase* db = NewDocument("one");
    const UIDRef image = PlaceImage(db, PMRect(10, 10, 50, 30));
    EXPECT_TRUE(InterfaceOf<IOrdoData>(image));
    InterfacePtr<IDBObserver> observer(
        static_cast<IDBObserver*>(db->Instantiate(db->GetRootUID(), IID_IORDODBOBSERVER)));
    ASSERT_TRUE(observer);
    EXPECT_EQ(observer->GetPriority(), 9);

    // The document responder answers for sixteen document signals.
    InterfacePtr<IK2ServiceRegistry> registry(Session(), IID_IK2SERVICEREGISTRY);
    ASSERT_TRUE(registry);
    InterfacePtr<IK2ServiceProvider> provider(
        registry->QueryDefaultServiceProvider(kBeforeNewDocSignalResponderService));
    ASSERT_TRUE(provider);
    EXPECT_TRUE(provider->IsDefaultServiceProvider());
    EXPECT_EQ(provider->GetServiceID(), kBeforeNewDocSignalResponderService);
    std::vector<ServiceID> ids;
    provider->GetServiceIDs(ids);
    ASSERT_EQ(ids.size(), 16u);
    for (uint32_t id = 0xE0A; id <= 0xE1A; ++id) {
        const bool listed = std::find(ids.begin(), ids.end(), ServiceID(id)) != ids.end();
        EXPECT_EQ(listed, id != 0xE15) << std::hex << id;
        EXPECT_EQ(registry->GetServiceProviderCount(ServiceID(id)), id != 0xE15 ? 1 : 0);
    }

    // A second load changes nothing.
    const auto before = ObjectModel::Get().InterfacesOf(kSessionBoss);
    EXPECT_TRUE(LoadOrdoPlugIn());
    EXPECT_EQ(ObjectModel::Get().InterfacesOf(kSessionBoss), before);
    EXPECT_EQ(InterfacePtr<IActionManager>(App()->QueryActionManager())->GetNumActions(), 10);
}

TEST_F(FrameTest, ALoadAfterTheSessionWasMadeIsRefused) {
    ResetHostForTesting();
    ObjectModel::Get().Reset();
    RegisterHostServices();
    ASSERT_NE(GetExecutionContextSession(), nullptr);
    EXPECT_FALSE(LoadOrdoPlugIn());
}

TEST_F(FrameTest, StartupInstallsBothTasksAndShutdownRemovesThemAndTheLog) {
    InterfacePtr<IApplication> app = App();
    ASSERT_EQ(app->Startup(), kSuccess);
    InterfacePtr<IIdleTaskMgr> tasks(app->QueryIdleTaskManager());
    EXPECT_EQ(tasks->GetTaskCount(), 2);
    EXPECT_TRUE(OrdoIdleTasksInstalled());
    // The list refresh first, after a second; it runs every second.
    EXPECT_EQ(tasks->MillisecondsToNextTask(), 1000);
    HostClock::Advance(1000);
    EXPECT_EQ(tasks->MillisecondsToNextTask(), 1000);

    // The preferences flow's switch, each turn with the tasks it leaves.
    const std::pair<void (*)(), int> turns[] = {{StopOrdoIdleTasks, 0},  {StopOrdoIdleTasks, 0},
                                                {StartOrdoIdleTasks, 2}, {StartOrdoIdleTasks, 2},
                                                {ToggleOrdoIdleTask, 1}, {ToggleOrdoIdleTask, 2}};
    for (const auto& [flip, count] : turns) {
        flip();
        EXPECT_EQ(tasks->GetTaskCount(), count);
    }

    ASSERT_FALSE(HasOrdoLog());
    app->Shutdown();
    EXPECT_EQ(tasks->GetTaskCount(), 0);
    EXPECT_FALSE(OrdoIdleTasksInstalled());
    EXPECT_FALSE(HasOrdoLog());
    // The switch does nothing once the service has stopped.
    StartOrdoIdleTasks();
    EXPECT_EQ(tasks->GetTaskCount(), 0);

    // The application observer went with the service: another start message binds nothing again.
    InterfacePtr<IShortcutManager> shortcuts(app->QueryShortcutManager());
    const ShortcutBinding bound = shortcuts->GetShortcutsForAction(kOrdoSendAllActionID).at(0);
    ASSERT_TRUE(
        shortcuts->RemoveShortcut(kOrdoSendAllActionID, bound.context, bound.key, bound.modifiers));
    InterfacePtr<ISubject>(app, IID_ISUBJECT)->Change(kAppStartedMessage, IID_IAPPLICATIONSTARTUP);
    EXPECT_EQ(shortcuts->GetNumShortcutsForAction(kOrdoSendAllActionID), 0);

    // Started again: its shutdown deletes a log, and a second one finds nothing to release.
    InterfacePtr<IStartupShutdownService> service =
        CreateObject2<IStartupShutdownService>(kOrdoStartupShutdownBoss, IID_ISTARTUPSHUTDOWN);
    ASSERT_TRUE(service);
    service->Startup();
    GetOrdoLog()->Append("a line");
    ASSERT_TRUE(HasOrdoLog());
    service->Shutdown();
    EXPECT_FALSE(HasOrdoLog());
    service->Shutdown();
    EXPECT_EQ(tasks->GetTaskCount(), 0);
}

// ---- the idle tasks, run as the host runs them

TEST_F(FrameTest, BusyFlagsPutBothTasksToSleepAndTheListIsRebuiltOnlyWhenDue) {
    const auto refresh = CreateObject2<IIdleTask>(kOrdoIdleTaskBoss, IID_IIDLETASK);
    const auto pickup = CreateObject2<IIdleTask>(kOrdoIdleUpdateTaskBoss, IID_IIDLETASK);
    ASSERT_TRUE(refresh && pickup);
    for (uint32_t flag : {0x01u, 0x04u, 0x08u, 0x10u, 0x1Du}) {
        EXPECT_EQ(refresh->RunTask(flag, nullptr), IIdleTask::kOnFlagChange) << flag;
        EXPECT_EQ(pickup->RunTask(flag, nullptr), IIdleTask::kOnFlagChange) << flag;
    }
    // In the background the tasks go on.
    EXPECT_EQ(refresh->RunTask(IApplication::kAppFlagInBackground, nullptr), 1000u);
    EXPECT_EQ(pickup->RunTask(IApplication::kAppFlagInBackground, nullptr), 5000u);

    // The list is rebuilt only when flagged while running with the panel open.
    IDataBase* db = NewDocument("doc");
    const UIDRef image = PlaceImage(db, PMRect(10, 10, 50, 30));
    uint64_t before = OrdoListRebuildCount();
    auto turn = [&](uint64_t rebuilt) {
        EXPECT_EQ(refresh->RunTask(0, nullptr), 1000u);
        EXPECT_EQ(OrdoListRebuildCount(), before + rebuilt);
    };
    SetOrdoRefreshNeeded(true);
    turn(0); // the panel closed: no work
    OpenPanel();
    before = OrdoListRebuildCount();
    // A burst of changes raises the flag once; the application not yet running, it waits.
    for (int i = 0; i < 5; ++i) {
        dockit::AddFrame(db, PMRect(60 + 40 * i, 60, 90 + 40 * i, 90));
    }
    EXPECT_TRUE(IsOrdoRefreshNeeded());
    turn(0);
    EXPECT_TRUE(IsOrdoRefreshNeeded());
    ASSERT_EQ(App()->Startup(), kSuccess);
    turn(1);
    EXPECT_FALSE(IsOrdoRefreshNeeded());
    turn(1); // nothing changed since: no rebuild
    // A change while the list is busy is left for the next turn.
    SetOrdoBusy(true);
    Store(image, MakeOrder(kODStatusReady));
    EXPECT_TRUE(IsOrdoRefreshNeeded());
    EXPECT_EQ(OrdoListRebuildCount(), before + 1);
    SetOrdoBusy(false);
    turn(2);
    EXPECT_FALSE(IsOrdoRefreshNeeded());
}

// Sent orders with their replies on a server tree; the session connected as sending leaves it,
// the application running with the panel open.
class PickupTaskTest : public PluginTest {
protected:
    void SetUp() override {
        PluginTest::SetUp();
        UseServer(server.path);
        ASSERT_NE(ConnectForSending(Session(), false), nullptr);
        ASSERT_EQ(server.RunOnce(), 1); // CONNECT makes the client's folder
        const OD_QORData data = InterfacePtr<IOrdoQORData>(Session(), IID_IORDOQORDATA)->Get();
        const auto* endpoint = dynamic_cast<const QOR_EndPointFile*>(data.GetEndPoint());
        ASSERT_NE(endpoint, nullptr);
        clientId = endpoint->ClientId();
        EditPrefs([](OD_PrefsData& p) { p.SetFrequency(5); });
        db = NewDocument("doc");
        ASSERT_EQ(App()->Startup(), kSuccess);
        OpenPanel();
    }

    // A placed image with a Sent order whose job the server answered with the processed file.
    UIDRef SentWithReply(int n) {
        const UIDRef image = PlaceImage(db, PMRect(10 + 60 * n, 10, 50 + 60 * n, 30));
        const std::string job = clientId + kPathSeparator + "job" + std::to_string(n);
        OD_ProcData order = MakeOrder(kODStatusSent);
        order.jobName = PMString(job);
        Store(image, order);
        const std::string processed = dir / ("processed" + std::to_string(n) + ".tif");
        dockit::WriteTiff(processed, 40, 20, 72);
        std::ofstream(server.dir / ("Data/clients/" + job), std::ios::binary)
            << ReplyText(job, 3, "finish", "done", processed);
        return image;
    }

    plugkit::Server server;
    std::string clientId;
    IDataBase* db = nullptr;
};

TEST_F(PickupTaskTest, OrdersStillFinishWhicheverWayTheHostsHistoryGoesAndDeletedOnesAreSkipped) {
    const auto pickup = CreateObject2<IIdleTask>(kOrdoIdleUpdateTaskBoss, IID_IIDLETASK);
    ASSERT_TRUE(pickup);
    const UIDRef image = PlaceImage(db, PMRect(10, 10, 50, 30));
    OD_ProcData order = MakeOrder(kODStatusReady);
    order.profile = PMString("");
    char link[kODLinkPathSize];
    ASSERT_EQ(GetLinkPath(image, link, sizeof link), 0);
    order.sourcePath = PMString(link);
    Store(image, order);
    std::unique_ptr<QOR_EndPoint> endpoint = ConnectForSending(Session(), false);
    ASSERT_EQ(SendOrders(UIDList(image), endpoint.get()), 1);
    const std::string job = Order(image).jobName.GetUTF8String();

    // The host's Undo of the send: the order shows Ready while its job is out.
    // While the send can be redone, the job stays where it is...
    ASSERT_TRUE(db->Undo());
    EXPECT_EQ(Order(image).status, kODStatusReady);
    pickup->RunTask(0, nullptr);
    EXPECT_EQ(Order(image).status, kODStatusReady);
    EXPECT_EQ(server.JobFiles(), 1);
    // ...so that a Redo finds it waiting.
    ASSERT_TRUE(db->Redo());
    ASSERT_TRUE(db->Undo());
    ASSERT_EQ(server.RunOnce(), 1);                   // the server takes and answers the job
    dockit::AddFrame(db, PMRect(100, 100, 120, 120)); // the user goes on: no redo
    pickup->RunTask(0, nullptr);
    EXPECT_EQ(Order(image).status, kODStatusSent); // under its job, not sent again
    EXPECT_EQ(Order(image).jobName.GetUTF8String(), job);
    EXPECT_EQ(server.JobFiles(), 0);

    pickup->RunTask(0, nullptr);
    const UIDRef done = OrdoPanelItems().at(0);
    EXPECT_EQ(Order(done).status, kODStatusDone);
    EXPECT_EQ(ordokit::Undo(done).savedStatus, kODStatusReady);

    // The host's Undo of the pickup: one step back to Sent and the original,
    // left so while it can be redone; Redo brings the result back.
    ASSERT_TRUE(db->Undo());
    EXPECT_EQ(Order(image).status, kODStatusSent);
    EXPECT_EQ(ordokit::Undo(image).savedStatus, 0);
    pickup->RunTask(0, nullptr);
    EXPECT_EQ(Order(image).status, kODStatusSent);
    ASSERT_TRUE(db->CanRedo());
    ASSERT_TRUE(db->Redo());
    EXPECT_EQ(Order(done).status, kODStatusDone);

    // A deleted item is skipped and the others are picked up.
    const UIDRef gone = SentWithReply(1);
    const UIDRef kept = SentWithReply(2);
    ASSERT_EQ(DocumentUtils::DeletePageItem(FrameOf(gone)), kSuccess);
    // The list as it was before the deletion was noticed.
    OrdoPanelItems() = {gone, kept};
    EXPECT_EQ(pickup->RunTask(0, nullptr), 5000u);
    ASSERT_EQ(OrdoPanelItems().size(), 2u);
    EXPECT_EQ(OrdoPanelItems()[0], gone);
    EXPECT_EQ(Order(OrdoPanelItems()[1]).status, kODStatusDone);
}

} // namespace
