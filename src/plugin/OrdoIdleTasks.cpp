#include "OrdoIdleTasks.h"

#include "IApplication.h"
#include "IMG_Exception.h"
#include "IOrdoPrefsData.h"
#include "ISession.h"
#include "OD_DataAccessor.h"
#include "OD_Pickup.h"
#include "OD_Preferences.h"
#include "OD_ServerLink.h"
#include "OrdoPanel.h"
#include "OrdoPanelState.h"
#include "OrdoPlugInIDs.h"
#include "QOR_EndPoint.h"

#include <cstdio>
#include <exception>
#include <memory>

namespace {

bool IsBusy(uint32_t appFlags) {
    return (appFlags & IApplication::kAppBusyFlags) != 0;
}

// The document the panel's list shows: that of its items, or the front one
// while it shows none.
IDataBase* PanelDocument(const std::vector<UIDRef>& shown, IDocumentList* documents) {
    for (const UIDRef& item : shown) {
        if (item.GetDataBase() != nullptr) {
            return item.GetDataBase();
        }
    }
    return documents != nullptr ? documents->GetFrontDocument() : nullptr;
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
    if (session == nullptr || session->GetApplicationState() != IApplication::kAppRunning ||
        GetOrdoPanelList() == nullptr) {
        return delay;
    }
    InterfacePtr<IApplication> app(session->QueryApplication());
    InterfacePtr<IDocumentList> documents(app ? app->QueryDocumentList() : nullptr);
    if (!documents) {
        return delay;
    }

    // The orders shown, as they are now: the handler may relink some.
    const std::vector<UIDRef> shown = OrdoPanelItems();
    IDataBase* db = PanelDocument(shown, documents.get());
    if (db == nullptr || documents->Location(db) < 0) {
        return delay;
    }

    InterfacePtr<IOrdoPrefsData> prefsData(session, IID_IORDOPREFSDATA);
    if (!prefsData) {
        return delay;
    }
    const OD_PrefsData prefs = prefsData->Get();
    delay = PickupDelayForFrequency(prefs.GetFrequency());
    if (shown.empty()) {
        return delay;
    }

    // Items deleted since the list was built are passed over, so that the
    // orders after them are still looked at.
    UIDList live(db);
    for (const UIDRef& item : shown) {
        if (item.GetDataBase() == db && IsUsableItemRef(item)) {
            live.Append(item.GetUID());
        }
    }
    OD_ProcData pattern;
    pattern.status = kODStatusSent;
    UIDList waiting(db);
    if (FilterItems(live, pattern, kODFilterStatus, waiting) == 0) {
        return delay;
    }

    std::unique_ptr<QOR_EndPoint> endpoint;
    if (!OpenServerLink(session, true, false, &endpoint) || !endpoint) {
        return delay;
    }
    OD_PickupContext context;
    context.endpoint = endpoint.get();
    context.prefs = &prefs;
    context.log = GetOrdoLog();
    context.panelItems = &OrdoPanelItems();
    for (int32_t i = 0; i < waiting.Length(); ++i) {
        UIDRef item = waiting.GetRef(i);
        try {
            HandleFinishedOrder(item, context);
        } catch (const IMG_Exception&) {
            std::fprintf(stderr, "OrdoDesk: the result of one order could not be picked up\n");
        } catch (const std::exception& e) {
            std::fprintf(stderr, "OrdoDesk: the result of one order could not be picked up: %s\n",
                         e.what());
        }
    }
    return delay;
}
