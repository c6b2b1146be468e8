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

namespace {

constexpr ClassID kTestPrefsDialogBoss{0x90311};

// One server tree made by the reference server's init.
struct Server {
    Server() {
        std::string why;
        EXPECT_TRUE(InitServerTree(dir.Path(), why)) << why;
    }
    std::string Tmp() const { return dir / "Data/tmp"; }
    auto Files() const { return std::distance(fs::directory_iterator(Tmp()), {}); }
    TempDir dir;
    std::string path = dir / kServerAppName;
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
        OD_PrefsData prefs = OrdoPrefs();
        ASSERT_TRUE(prefs.SetServerPath(path.c_str()));
        SetOrdoPrefs(prefs);
        dialog->Set(prefs);
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

    ISession* session = nullptr;
    InterfacePtr<IOrdoPrefsData> dialog;
};

} // namespace

TEST_F(SessionLinkTest, ChoosingAServerThatDoesNotExistLeavesTheSessionAlone) {
    Server server;
    UseServer(server.path);
    ASSERT_NE(ConnectForSending(session, false), nullptr);
    const std::string id = ClientId();
    const auto files = server.Files();

    TempDir nowhere;
    EXPECT_FALSE(ChangeServer(dialog.get(), session, (nowhere / "missing/qorserver").c_str()));
    EXPECT_STREQ(OrdoPrefs().GetServerPath(), server.path.c_str());
    EXPECT_STREQ(dialog->Get().GetServerPath(), server.path.c_str());
    EXPECT_EQ(ClientId(), id);
    EXPECT_EQ(LinkServerPath(), server.path);
    EXPECT_NE(Link().GetEndPoint()->GetState(false), 0);
    EXPECT_EQ(server.Files(), files);
    EXPECT_EQ(CountLines(server.Tmp(), "DECONNECT"), 0);

    // Nor is it taken when the dialog's link is a copy of the session's connected one, which the
    // trial must not take as already open.
    InterfacePtr<IOrdoQORData> dialogLink(dialog, IID_IORDOQORDATA);
    dialogLink->Set(Link());
    EXPECT_FALSE(ChangeServer(dialog.get(), session, (nowhere / "missing/qorserver").c_str()));
    EXPECT_STREQ(OrdoPrefs().GetServerPath(), server.path.c_str());
    EXPECT_EQ(LinkServerPath(dialog.get()), server.path);

    // A path too long for the record is refused as well.
    const std::string longPath = "/" + std::string(600, 'x');
    EXPECT_FALSE(ChangeServer(dialog.get(), session, longPath.c_str()));
    EXPECT_STREQ(OrdoPrefs().GetServerPath(), server.path.c_str());
}

TEST_F(SessionLinkTest, AnUnreadableConfigurationKeepsThePreviousOneAndNoLinkFailsQuietly) {
    Server first;
    Server second;
    fs::remove(second.dir / "Data/curparam.txt");
    UseServer(first.path);
    ASSERT_TRUE(OpenServerLink(session, true, false));
    ASSERT_EQ(Link().GetParameters()->Curparam().ProfileCount(), 5);

    OD_PrefsData prefs = OrdoPrefs();
    ASSERT_TRUE(prefs.SetServerPath(second.path.c_str()));
    UseSessionPreferences(session, prefs);
    EXPECT_EQ(LinkServerPath(), second.path);
    EXPECT_EQ(Link().GetParameters()->Curparam().ProfileCount(), 5);

    // An owner without the interfaces fails quietly.
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
