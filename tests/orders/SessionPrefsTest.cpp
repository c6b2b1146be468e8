// The preferences as the plug-in keeps them: on the host session, saved and
// restored by the host with its session file.
#include "OrdoSessionKit.h"
#include "TempDir.h"

#include <gtest/gtest.h>

TEST(PrefsOnTheSession, TheSessionFileKeepsThemAndADamagedOneChangesNothing) {
    RegisterOrdoSession(true, false);
    ISession* session = GetExecutionContextSession();
    ASSERT_NE(session, nullptr);
    InterfacePtr<IOrdoPrefsData> prefs(session, IID_IORDOPREFSDATA);
    ASSERT_TRUE(prefs);

    OD_PrefsData record = prefs->Get();
    EXPECT_EQ(record.GetResolution(), 200.0);
    record.SetResolution(300.0);
    prefs->Set(record);

    TempDir dir;
    std::string path = dir / "session";
    std::string why;
    ASSERT_EQ(session->WriteSessionFile(path, &why), kSuccess) << why;

    record.SetResolution(96.0);
    prefs->Set(record);
    ASSERT_EQ(session->ReadSessionFile(path, &why), kSuccess) << why;
    EXPECT_EQ(prefs->Get().GetResolution(), 300.0);

    std::string bytes = ReadFile(path);
    WriteFile(path, bytes.substr(0, bytes.size() / 2));
    record.SetResolution(72.0);
    prefs->Set(record);
    EXPECT_NE(session->ReadSessionFile(path, &why), kSuccess);
    EXPECT_FALSE(why.empty());
    EXPECT_EQ(prefs->Get().GetResolution(), 72.0);
    ResetHostForTesting();
}
