#pragma once

// A fresh host whose session carries the plug-in's preferences (saved with
// the session) and its server link, as the orders, dialogs and panel tests
// need it.

#include "IOrdoPrefsData.h"
#include "IOrdoQORData.h"
#include "ISession.h"
#include "ObjectModel.h"
#include "SessionIDs.h"

inline void RegisterOrdoSession(bool withPrefs = true, bool withLink = true) {
    ResetHostForTesting();
    ObjectModel& m = ObjectModel::Get();
    m.Reset();
    RegisterHostServices();
    RegisterPreferenceImplementations();
    RegisterServerLinkImplementations();
    if (withPrefs) {
        m.AddIn(kSessionBoss, IID_IORDOPREFSDATA, kOrdoPrefsDataPersistImpl);
    }
    if (withLink) {
        m.AddIn(kSessionBoss, IID_IORDOQORDATA, kOrdoQORDataNonPersistImpl);
    }
}

// The session's preferences.
inline OD_PrefsData OrdoPrefs() {
    return InterfacePtr<IOrdoPrefsData>(GetExecutionContextSession(), IID_IORDOPREFSDATA)->Get();
}
inline void SetOrdoPrefs(const OD_PrefsData& prefs) {
    InterfacePtr<IOrdoPrefsData>(GetExecutionContextSession(), IID_IORDOPREFSDATA)->Set(prefs);
}
