// The session's link to its server, against real server trees made as the
// reference server makes them.

#include "OD_ServerLink.h"

#include "OrdoSessionKit.h"

#include "CAlert.h"
#include "ObjectModel.h"
#include "QOR_Configuration.h"
#include "QOR_EndPointFile.h"
#include "ServerTree.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

namespace fs = std::filesystem;

TEST(ServerLinkRecord, CopiesHoldTheirOwnObjects) {
    TempDir dir;
    std::string why;
    ASSERT_TRUE(InitServerTree(dir.Path(), why)) << why;
    const std::string serverPath = dir / kServerAppName;

    OD_QORData a; // a new record: a closed endpoint and an empty configuration
    EXPECT_EQ(a.GetEndPoint()->GetState(false), 0);
    EXPECT_EQ(a.GetParameters()->Curparam().ProfileCount(), 0);
    ASSERT_EQ(a.GetEndPoint()->OpenPath(serverPath.c_str()), 0);
    std::unique_ptr<QOR_Parameters> loaded = LoadParameters(a.GetEndPoint());
    ASSERT_NE(loaded, nullptr);
    a.SetParameters(loaded.get());

    OD_QORData b = a;
    ASSERT_NE(b.GetEndPoint(), a.GetEndPoint());
    ASSERT_NE(b.GetParameters(), a.GetParameters());
    const auto* fa = dynamic_cast<QOR_EndPointFile*>(a.GetEndPoint());
    const auto* fb = dynamic_cast<QOR_EndPointFile*>(b.GetEndPoint());
    ASSERT_NE(fb, nullptr);
    EXPECT_STREQ(fb->ClientId(), fa->ClientId());
    char pa[600] = "";
    char pb[600] = "";
    a.GetEndPoint()->GetServerPath(pa, sizeof pa);
    b.GetEndPoint()->GetServerPath(pb, sizeof pb);
    EXPECT_STREQ(pa, pb);
    EXPECT_EQ(b.GetParameters()->JobProfileCount(), a.GetParameters()->JobProfileCount());
    EXPECT_EQ(b.GetParameters()->Curparam().ProfileCount(), 4);

    // A record without objects copies as one without them.
    OD_QORData empty;
    empty.AssignEndPoint(nullptr);
    empty.SetParameters(nullptr);
    b = empty;
    EXPECT_EQ(b.GetEndPoint(), nullptr);
    EXPECT_EQ(b.GetParameters(), nullptr);
    b = a;
    EXPECT_NE(b.GetEndPoint(), nullptr);
    const OD_QORData& same = b;
    b = same;
    EXPECT_NE(b.GetEndPoint(), nullptr);
    EXPECT_EQ(b.GetParameters()->Curparam().ProfileCount(), 4);
}

namespace {

constexpr ClassID kTestPrefsDialogBoss{0x90311};

// One server tree made by the reference server's init.
struct Server {
    Server() {
        std::string why;
        if (!InitServerTree(dir.Path(), why)) {
            throw std::runtime_error(why);
        }
        path = dir / kServerAppName;
    }
    std::string Tmp() const { return dir / "Data/tmp"; }
    // The lines of the job files in the tmp folder that are the word.
    int Count(const std::string& word) const { return CountLines(Tmp(), word); }
    std::size_t Files() const {
        std::size_t n = 0;
        for ([[maybe_unused]] const auto& entry : fs::directory_iterator(Tmp())) {
            ++n;
        }
        return n;
    }
    TempDir dir;
    std::string path;
};

class SessionLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterOrdoSession();
        ObjectModel& m = ObjectModel::Get();
        m.DefineClass({kTestPrefsDialogBoss,
                       kInvalidClass,
                       {{IID_IORDOPREFSDATA, kOrdoPrefsDataNonPersistImpl},
                        {IID_IORDOQORDATA, kOrdoQORDataNonPersistImpl}}});
        session = GetExecutionContextSession();
        dialog = InterfacePtr<IOrdoPrefsData>(
            static_cast<IOrdoPrefsData*>(m.CreateObject(kTestPrefsDialogBoss, IID_IORDOPREFSDATA)));
        ASSERT_TRUE(dialog);
    }
    void TearDown() override {
        dialog.reset();
        ResetHostForTesting();
    }

    void UseServer(const std::string& path) const {
        OD_PrefsData prefs = Prefs();
        ASSERT_TRUE(prefs.SetServerPath(path.c_str()));
        InterfacePtr<IOrdoPrefsData> data(session, IID_IORDOPREFSDATA);
        data->Set(prefs);
        dialog->Set(prefs);
    }
    OD_PrefsData Prefs() const {
        InterfacePtr<IOrdoPrefsData> data(session, IID_IORDOPREFSDATA);
        return data->Get();
    }
    OD_QORData Link(IPMUnknown* owner = nullptr) const {
        InterfacePtr<IOrdoQORData> data(owner != nullptr ? owner : session, IID_IORDOQORDATA);
        return data->Get();
    }
    std::string ClientId(IPMUnknown* owner = nullptr) const {
        return dynamic_cast<QOR_EndPointFile*>(Link(owner).GetEndPoint())->ClientId();
    }
    std::string LinkServerPath(IPMUnknown* owner = nullptr) const {
        char path[600] = "";
        Link(owner).GetEndPoint()->GetServerPath(path, sizeof path);
        return path;
    }
    int State() const { return Link().GetEndPoint()->GetState(false); }

    ISession* session = nullptr;
    InterfacePtr<IOrdoPrefsData> dialog;
};

} // namespace

TEST_F(SessionLinkTest, OpeningReadsTheConfigurationAndHandsOutACopy) {
    EXPECT_FALSE(OpenServerLink(session, true, false)) << "an empty server path fails";
    EXPECT_EQ(ConnectForSending(session, false), nullptr);
    Server server;
    UseServer(server.path);
    // Without update the configuration is left; a closed link reopens.
    ASSERT_TRUE(OpenServerLink(session, false, false));
    EXPECT_EQ(LinkServerPath(), server.path);
    EXPECT_EQ(Link().GetParameters()->Curparam().ProfileCount(), 0);
    const std::string first = ClientId();
    std::unique_ptr<QOR_EndPoint> copy;
    ASSERT_TRUE(OpenServerLink(session, true, true, &copy));
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(ClientId(), first);
    EXPECT_EQ(State(), 0);
    EXPECT_EQ(LinkServerPath(), server.path);
    EXPECT_EQ(Link().GetParameters()->Curparam().ProfileCount(), 4);
    EXPECT_EQ(Link().GetParameters()->JobProfileCount(), 5);
    EXPECT_TRUE(Link().GetParameters()->JobProfile(0)->IsUsable());
    EXPECT_FALSE(PathConversions().empty());
    EXPECT_EQ(dynamic_cast<QOR_EndPointFile*>(copy.get())->ClientId(), ClientId());
    // Opening writes nothing.
    EXPECT_EQ(server.Files(), 0u);
}

TEST_F(SessionLinkTest, AServerWithoutItsFoldersFailsAndWarnsOnlyWhenAsked) {
    RecordingAlertSink alerts;
    ScopedAlertSink scope(&alerts);
    TempDir nowhere;
    UseServer(nowhere / "missing/qorserver");
    EXPECT_FALSE(OpenServerLink(session, true, false));
    EXPECT_TRUE(alerts.Alerts().empty());
    std::unique_ptr<QOR_EndPoint> copy;
    EXPECT_FALSE(OpenServerLink(session, true, true, &copy));
    EXPECT_EQ(copy, nullptr);
    ASSERT_EQ(alerts.Alerts().size(), 1u);
    EXPECT_EQ(alerts.Alerts()[0].kind, AlertKind::kWarning);
    EXPECT_EQ(ConnectForSending(session, true), nullptr);
    EXPECT_EQ(alerts.Alerts().size(), 2u);
    // The session's link is as it was.
    EXPECT_EQ(LinkServerPath(), "");
    EXPECT_EQ(State(), 0);
}

TEST_F(SessionLinkTest, AnOwnerWithoutTheInterfacesFailsQuietly) {
    RecordingAlertSink alerts;
    ScopedAlertSink scope(&alerts);
    ObjectModel::Get().DefineClass(
        {ClassID{0x90312}, kInvalidClass, {{IID_IORDOPREFSDATA, kOrdoPrefsDataNonPersistImpl}}});
    InterfacePtr<IOrdoPrefsData> prefsOnly(static_cast<IOrdoPrefsData*>(
        ObjectModel::Get().CreateObject(ClassID{0x90312}, IID_IORDOPREFSDATA)));
    EXPECT_FALSE(OpenServerLink(prefsOnly.get(), true, true));
    EXPECT_EQ(ConnectForSending(prefsOnly.get(), true), nullptr);
    DisconnectServer(prefsOnly.get());
    EXPECT_FALSE(OpenServerLink(nullptr, true, true));
    EXPECT_TRUE(alerts.Alerts().empty());
}

TEST_F(SessionLinkTest, SendingTwiceConnectsOnce) {
    Server server;
    UseServer(server.path);
    ASSERT_TRUE(OpenServerLink(session, true, false));
    std::unique_ptr<QOR_EndPoint> first = ConnectForSending(session, true);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(server.Count("CONNECT"), 1);
    EXPECT_NE(State(), 0);
    std::unique_ptr<QOR_EndPoint> second = ConnectForSending(session, true);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(server.Count("CONNECT"), 1);
    EXPECT_EQ(dynamic_cast<QOR_EndPointFile*>(second.get())->ClientId(), ClientId());

    // Opening a connected link neither reopens it nor draws a new client.
    const std::string id = ClientId();
    ASSERT_TRUE(OpenServerLink(session, true, false));
    EXPECT_EQ(ClientId(), id);

    DisconnectServer(session);
    EXPECT_EQ(server.Count("DECONNECT"), 1);
    EXPECT_EQ(State(), 0);
    // A closed link is not disconnected again.
    DisconnectServer(session);
    EXPECT_EQ(server.Count("DECONNECT"), 1);
    // And the next send connects again.
    ASSERT_NE(ConnectForSending(session, false), nullptr);
    EXPECT_EQ(server.Count("CONNECT"), 2);
}

TEST_F(SessionLinkTest, ChoosingAServerThatDoesNotExistLeavesTheSessionAlone) {
    Server server;
    UseServer(server.path);
    ASSERT_NE(ConnectForSending(session, false), nullptr);
    const std::string id = ClientId();
    const std::size_t files = server.Files();

    TempDir nowhere;
    EXPECT_FALSE(ChangeServer(dialog.get(), session, (nowhere / "missing/qorserver").c_str()));
    EXPECT_STREQ(Prefs().GetServerPath(), server.path.c_str());
    EXPECT_STREQ(dialog->Get().GetServerPath(), server.path.c_str());
    EXPECT_EQ(ClientId(), id);
    EXPECT_EQ(LinkServerPath(), server.path);
    EXPECT_NE(State(), 0);
    EXPECT_EQ(server.Files(), files);
    EXPECT_EQ(server.Count("DECONNECT"), 0);

    // Nor is it taken when the dialog's link is a copy of the session's
    // connected one, which the trial must not take as already open.
    InterfacePtr<IOrdoQORData> dialogLink(dialog, IID_IORDOQORDATA);
    dialogLink->Set(Link());
    EXPECT_FALSE(ChangeServer(dialog.get(), session, (nowhere / "missing/qorserver").c_str()));
    EXPECT_STREQ(Prefs().GetServerPath(), server.path.c_str());
    EXPECT_EQ(LinkServerPath(dialog.get()), server.path);

    // A path too long for the record is refused as well.
    const std::string longPath = "/" + std::string(600, 'x');
    EXPECT_FALSE(ChangeServer(dialog.get(), session, longPath.c_str()));
    EXPECT_STREQ(Prefs().GetServerPath(), server.path.c_str());
}

TEST_F(SessionLinkTest, ChangingServersDisconnectsTheOldOneFirst) {
    Server oldServer;
    Server newServer;
    // The new server offers one profile fewer, so that its configuration is
    // told apart from the old one's.
    fs::remove(newServer.dir / "Data/profiles/Gray");
    UseServer(oldServer.path);
    ASSERT_TRUE(OpenServerLink(session, true, false));
    ASSERT_NE(ConnectForSending(session, false), nullptr);
    const std::string oldId = ClientId();

    ASSERT_TRUE(ChangeServer(dialog.get(), session, newServer.path.c_str()));
    EXPECT_EQ(oldServer.Count("DECONNECT"), 1);
    // Nothing was written to the new server: opening does not connect.
    EXPECT_EQ(newServer.Files(), 0u);
    EXPECT_STREQ(Prefs().GetServerPath(), newServer.path.c_str());
    EXPECT_EQ(LinkServerPath(), newServer.path);
    EXPECT_EQ(State(), 0);
    EXPECT_NE(ClientId(), oldId);
    // The trial open on the dialog did not read the configuration; the
    // session's open did.
    EXPECT_EQ(Link(dialog.get()).GetParameters()->Curparam().ProfileCount(), 0);
    EXPECT_EQ(LinkServerPath(dialog.get()), newServer.path);
    EXPECT_EQ(Link().GetParameters()->Curparam().ProfileCount(), 4);
    EXPECT_FALSE(Link().GetParameters()->JobProfile(4)->IsUsable());

    // The next send goes to the new server.
    ASSERT_NE(ConnectForSending(session, false), nullptr);
    EXPECT_EQ(newServer.Count("CONNECT"), 1);
    EXPECT_EQ(oldServer.Count("CONNECT"), 1);
}

TEST_F(SessionLinkTest, ChangingServersWhileClosedSendsNothing) {
    Server oldServer;
    Server newServer;
    UseServer(oldServer.path);
    ASSERT_TRUE(OpenServerLink(session, true, false));
    ASSERT_TRUE(ChangeServer(dialog.get(), session, newServer.path.c_str()));
    EXPECT_EQ(oldServer.Files(), 0u);
    EXPECT_EQ(newServer.Files(), 0u);
    EXPECT_EQ(LinkServerPath(), newServer.path);
}

TEST_F(SessionLinkTest, AServerWhoseConfigurationCannotBeReadKeepsThePreviousOne) {
    Server first;
    Server second;
    fs::remove(second.dir / "Data/curparam.txt");
    UseServer(first.path);
    ASSERT_TRUE(OpenServerLink(session, true, false));
    ASSERT_EQ(Link().GetParameters()->Curparam().ProfileCount(), 4);

    OD_PrefsData prefs = Prefs();
    ASSERT_TRUE(prefs.SetServerPath(second.path.c_str()));
    UseSessionPreferences(session, prefs);
    EXPECT_EQ(LinkServerPath(), second.path);
    EXPECT_EQ(Link().GetParameters()->Curparam().ProfileCount(), 4);
}

TEST_F(SessionLinkTest, TheHolderIsNotSavedAndHandsOutCopies) {
    EXPECT_FALSE(ObjectModel::Get().IsPersistent(kOrdoQORDataNonPersistImpl));
    InterfacePtr<IOrdoQORData> data(session, IID_IORDOQORDATA);
    ASSERT_TRUE(data);
    OD_QORData record = data->Get();
    record.SetParameters(nullptr);
    EXPECT_NE(data->Get().GetParameters(), nullptr);
    data->Set(record);
    EXPECT_EQ(data->Get().GetParameters(), nullptr);
}
