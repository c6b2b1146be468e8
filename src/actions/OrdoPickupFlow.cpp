#include "OrdoPickupFlow.h"

#include "IApplication.h"
#include "IDataBase.h"
#include "IIdleTask.h"
#include "IOrdoPrefsData.h"
#include "ISession.h"
#include "OD_ClientSettings.h"
#include "OD_DataAccessor.h"
#include "OD_Jobs.h"
#include "OD_Pickup.h"
#include "OD_Preferences.h"
#include "OD_ServerLink.h"
#include "OrdoPanelState.h"
#include "Platform.h"
#include "QOR_EndPointFile.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace {

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

// The endpoints of one pass: the selected server's, and one per other server
// that a job still out was sent to.
class PassEndpoints {
public:
    PassEndpoints(ISession* session, const OD_PrefsData& prefs) : selected(prefs.GetServerPath()) {
        if (!OpenServerLink(session, true, false, &own)) {
            own.reset();
        }
    }
    QOR_EndPoint* For(const OD_JobEntry* entry) {
        if (entry == nullptr || entry->server.empty() || entry->server == selected) {
            return own.get();
        }
        std::unique_ptr<QOR_EndPoint>& other = others[entry->server];
        if (!other) {
            auto endpoint = std::make_unique<QOR_EndPointFile>();
            if (endpoint->Open(entry->server.c_str()) == 0) {
                other = std::move(endpoint);
            }
        }
        return other.get();
    }

private:
    std::string selected;
    std::unique_ptr<QOR_EndPoint> own;
    std::map<std::string, std::unique_ptr<QOR_EndPoint>> others;
};

void LogLine(const std::string& line) {
    OrdoLog* log = GetOrdoLog();
    log->Append(line.c_str());
    log->Show();
}

// Whether the server of a job that has waited past the limit is at work: its
// heartbeat is fresh; or, for a server that keeps none, it has taken the job.
bool ServerAnswers(const std::string& job, const QOR_EndPoint* endpoint, int64_t now, int limit) {
    if (endpoint == nullptr) {
        return false;
    }
    int64_t age = 0;
    switch (endpoint->ServerHeartbeat(now, age)) {
    case 1:
        return age < static_cast<int64_t>(limit);
    case 0:
        return endpoint->JobWaiting(job.c_str()) == 0;
    default:
        return false;
    }
}

// The server of an order that it was not answering answers again.
void LogAnswering(const OD_ProcData& order, const OD_JobEntry* entry) {
    LogLine(OrderImageName(order) + ": " +
            OrdoMessage("0x71900kOrdoLogAnswering", {},
                        entry != nullptr ? entry->server : std::string()));
}

// Notes how long an order still out has waited and whether its server
// answers; the log hears of a change to or from "not answering" once.
void NoteWait(const std::string& job, const OD_ProcData& order, const OD_JobEntry* entry,
              QOR_EndPoint* endpoint, int64_t now, int limit) {
    auto [at, made] = OrdoWaits().try_emplace(job);
    OrdoWait& wait = at->second;
    if (made) {
        wait.sinceHostMs = HostClock::Now();
    }
    const int64_t byHost = static_cast<int64_t>((HostClock::Now() - wait.sinceHostMs) / 1000);
    const int64_t byRecord = entry != nullptr && entry->sent > 0 ? now - entry->sent : 0;
    const int64_t waited = std::max(byHost, byRecord);
    OrdoWaitKind kind = OrdoWaitKind::waiting;
    if (waited >= limit) {
        kind = ServerAnswers(job, endpoint, now, limit) ? OrdoWaitKind::busy
                                                        : OrdoWaitKind::notAnswering;
    }
    const std::string server = entry != nullptr ? entry->server : std::string();
    if (kind == OrdoWaitKind::notAnswering && wait.kind != OrdoWaitKind::notAnswering) {
        LogLine(OrderImageName(order) + ": " +
                OrdoMessage("0x71900kOrdoLogNotAnswering", {static_cast<int32_t>(waited / 60)},
                            server));
    } else if (kind != OrdoWaitKind::notAnswering && wait.kind == OrdoWaitKind::notAnswering) {
        LogAnswering(order, entry);
    }
    // The rows show the wait in minutes and the server's state.
    if (kind != wait.kind || waited / 60 != wait.waitedSeconds / 60) {
        SetOrdoRefreshNeeded(true);
    }
    wait.kind = kind;
    wait.waitedSeconds = waited;
}

// An order that no longer waits: a server that was not answering did.
void EndWait(const std::string& job, const OD_ProcData& order, const OD_JobEntry* entry) {
    auto at = OrdoWaits().find(job);
    if (at == OrdoWaits().end()) {
        return;
    }
    if (at->second.kind == OrdoWaitKind::notAnswering) {
        LogAnswering(order, entry);
    }
    OrdoWaits().erase(at);
}

// The open document that the open panel's list shows, or null.
IDataBase* OpenPanelDocument() {
    ISession* session = GetExecutionContextSession();
    if (session == nullptr || session->GetApplicationState() != IApplication::kAppRunning ||
        GetOrdoPanelList() == nullptr) {
        return nullptr;
    }
    InterfacePtr<IApplication> app(session->QueryApplication());
    InterfacePtr<IDocumentList> documents(app ? app->QueryDocumentList() : nullptr);
    IDataBase* db = documents ? PanelDocument(OrdoPanelItems(), documents.get()) : nullptr;
    return db != nullptr && documents->Location(db) >= 0 ? db : nullptr;
}

} // namespace

bool OrdoPanelDocumentIsOpen() {
    return OpenPanelDocument() != nullptr;
}

void PickUpResults() {
    IDataBase* db = OpenPanelDocument();
    // The orders shown, as they are now: the handler may relink some.
    const std::vector<UIDRef> shown = OrdoPanelItems();
    if (db == nullptr || shown.empty()) {
        return;
    }
    ISession* session = GetExecutionContextSession();
    InterfacePtr<IOrdoPrefsData> prefsData(session, IID_IORDOPREFSDATA);
    if (!prefsData) {
        return;
    }
    const OD_PrefsData prefs = prefsData->Get();

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
    const OD_JobJournal journal = OD_JobJournal::ForIdentityFolder();
    const std::vector<OD_JobEntry> entries =
        ready.IsEmpty() || !journal.Usable() ? std::vector<OD_JobEntry>() : journal.List();
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
        return;
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
        return;
    }

    PassEndpoints endpoints(session, prefs);
    const int limit = NotAnsweringSeconds();
    OD_PickupContext context;
    context.prefs = &prefs;
    context.log = GetOrdoLog();
    context.panelItems = &OrdoPanelItems();
    context.now = platform::CurrentTime();
    context.waitLimitSeconds = limit;
    for (int32_t i = 0; i < waiting.Length(); ++i) {
        UIDRef item = waiting.GetRef(i);
        if (db->RedoTouches(item.GetUID())) {
            continue; // the user's Redo of this order's pickup is still to come
        }
        OD_ProcData order;
        if (OD_DataAccessor(item).Read(order) != 0) {
            continue;
        }
        const std::string job = order.jobName.GetUTF8String();
        OD_JobEntry entry;
        const OD_JobEntry* known = journal.Usable() && journal.Find(job, entry) ? &entry : nullptr;
        context.endpoint = endpoints.For(known);
        if (context.endpoint != nullptr) {
            try {
                asOneStep([&] { HandleFinishedOrder(item, context); });
            } catch (const std::exception& e) {
                std::fprintf(stderr,
                             "OrdoDesk: the result of one order could not be picked up: %s\n",
                             e.what());
            }
        }
        OD_ProcData after;
        if (OD_DataAccessor(item).Read(after) == 0 && after.status == kODStatusSent) {
            NoteWait(job, order, known, context.endpoint, context.now, limit);
        } else {
            EndWait(job, order, known);
        }
    }
}
