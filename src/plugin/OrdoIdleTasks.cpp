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
    FilterItems(live, pattern, kODFilterStatus, waiting);
    // Orders that show Ready while a job of theirs is still out (a host Undo
    // of the send): taken back from the server, or Sent again under it. Not
    // while the user can still redo the send: a job taken back now would
    // leave a redone order Sent for a job nobody answers.
    pattern.status = kODStatusSendable;
    UIDList ready(db);
    FilterItems(live, pattern, kODFilterStatus, ready);
    const std::vector<OD_JobEntry> entries =
        ready.IsEmpty() ? std::vector<OD_JobEntry>() : OD_JobJournal::ForIdentityFolder().List();
    UIDList settle(db);
    for (int32_t i = 0; i < ready.Length() && !entries.empty(); ++i) {
        OD_ProcData order;
        OD_JobEntry out;
        if (!db->RedoTouches(ready[i]) && OD_DataAccessor(ready.GetRef(i)).Read(order) == 0 &&
            FindJobOut(entries, ready.GetRef(i), order, out)) {
            settle.Append(ready[i]);
        }
    }
    if (waiting.IsEmpty() && settle.IsEmpty()) {
        return delay;
    }

    // Each order's change is one step in the host's history, made without
    // dropping what the user can redo; an order whose change would clash
    // with a step the user can redo waits until that step is redone or
    // dropped.
    auto asOneStep = [&](const std::function<void()>& change) {
        const std::vector<UIDRef> panelBefore = OrdoPanelItems();
        db->BeginTransaction(PMString(kOrdoPickupStepKey));
        try {
            change();
        } catch (...) {
            db->AbortTransaction();
            OrdoPanelItems() = panelBefore;
            throw;
        }
        if (!db->EndTransactionKeepingRedo()) {
            OrdoPanelItems() = panelBefore; // the relink was undone
        }
    };
    for (int32_t i = 0; i < settle.Length(); ++i) {
        asOneStep([&] { SettleReadyOrder(settle.GetRef(i), GetOrdoLog()); });
    }
    if (waiting.IsEmpty()) {
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
        if (db->RedoTouches(item.GetUID())) {
            continue; // the user's Redo of this order's pickup is still to come
        }
        try {
            asOneStep([&] { HandleFinishedOrder(item, context); });
        } catch (const IMG_Exception&) {
            std::fprintf(stderr, "OrdoDesk: the result of one order could not be picked up\n");
        } catch (const std::exception& e) {
            std::fprintf(stderr, "OrdoDesk: the result of one order could not be picked up: %s\n",
                         e.what());
        }
    }
    return delay;
}
