#pragma once

// A fresh host whose session carries the plug-in's preferences (saved with
// the session) and its server link, as the orders, dialogs and panel tests
// need it.

#include "IOrdoPrefsData.h"
#include "IOrdoQORData.h"
#include "ISession.h"
#include "ObjectModel.h"
#include "SessionIDs.h"

inline void RegisterOrdoSession() {
    ResetHostForTesting();
    ObjectModel& m = ObjectModel::Get();
    m.Reset();
    RegisterHostServices();
    RegisterPreferenceImplementations();
    RegisterServerLinkImplementations();
    m.AddIn(kSessionBoss, IID_IORDOPREFSDATA, kOrdoPrefsDataPersistImpl);
    m.AddIn(kSessionBoss, IID_IORDOQORDATA, kOrdoQORDataNonPersistImpl);
}
