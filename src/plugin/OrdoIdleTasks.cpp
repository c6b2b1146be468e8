#include "OrdoIdleTasks.h"

#include "OD_Jobs.h"

#include "IApplication.h"
#include "IDataBase.h"
#include "IMG_Exception.h"
#include "IOrdoPrefsData.h"
#include "ISession.h"
#include "OD_DataAccessor.h"
#include "OD_Pickup.h"
#include "OD_Preferences.h"
#include "OD_ServerLink.h"
#include "OrdoPanel.h"
#include "OrdoPanelState.h"
#include "OrdoPickupFlow.h"
#include "OrdoPlugInIDs.h"
#include "QOR_EndPoint.h"

#include <cstdio>
#include <exception>
#include <functional>
#include <memory>

namespace {

bool IsBusy(uint32_t appFlags) {
    return (appFlags & IApplication::kAppBusyFlags) != 0;
}

} // namespace

uint32_t PickupDelayForFrequency(int16_t frequency) {
    // The period is signed where it is kept; a negative one would come to
    // the host as a delay of weeks.
    return frequency > 0 ? static_cast<uint32_t>(frequency) * 1000u : 0u;
}

uint32_t OrdoIdleTask::RunTask(uint32_t appFlags, IdleTimer*) {
    if (IsBusy(appFlags)) {
        return kOnFlagChange;
    }
    ISession* session = GetExecutionContextSession();
    if (session != nullptr && session->GetApplicationState() == IApplication::kAppRunning &&
        IsOrdoRefreshNeeded()) {
        if (IControlView* list = GetOrdoPanelList()) {
            try {
                RebuildOrdoList(list, true, true);
            } catch (const IMG_Exception&) {
                std::fprintf(stderr, "OrdoDesk: the orders list could not be rebuilt\n");
            } catch (const std::exception& e) {
                std::fprintf(stderr, "OrdoDesk: the orders list could not be rebuilt: %s\n",
                             e.what());
            }
        }
    }
    return kOrdoIdleTaskPeriod;
}

uint32_t OrdoIdleUpdateTask::RunTask(uint32_t appFlags, IdleTimer*) {
    uint32_t delay = kOrdoIdleUpdateTaskDefaultDelay;
    if (IsBusy(appFlags)) {
        return kOnFlagChange;
    }
    ISession* session = GetExecutionContextSession();
    if (!OrdoPanelDocumentIsOpen()) {
        return delay;
    }
    InterfacePtr<IOrdoPrefsData> prefsData(session, IID_IORDOPREFSDATA);
    if (!prefsData) {
        return delay;
    }
    const OD_PrefsData prefs = prefsData->Get();
    delay = PickupDelayForFrequency(prefs.GetFrequency());
    // "Automatic Update" off: results wait until the user asks for them.
    if (!prefs.GetAutoUpdt()) {
        return delay;
    }
    try {
        PickUpResults();
    } catch (const IMG_Exception&) {
        std::fprintf(stderr, "OrdoDesk: the results could not be picked up\n");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "OrdoDesk: the results could not be picked up: %s\n", e.what());
    }
    return delay;
}
