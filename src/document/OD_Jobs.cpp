#include "OD_Jobs.h"

#include "DocumentModel.h"
#include "DocumentUtils.h"
#include "ICommand.h"
#include "IDocument.h"
#include "IOrdoData.h"
#include "OD_DataAccessor.h"
#include "OD_Pickup.h"
#include "OrdoCommands.h"
#include "PMString.h"
#include "Paths.h"
#include "Platform.h"
#include "QOR_EndPointFile.h"

#include <algorithm>
#include <cerrno>
#include <map>
#include <unistd.h>

namespace {

// Keys of the documents never saved, by database, for this run.
std::map<const IDataBase*, std::string>& UnsavedKeys() {
    static std::map<const IDataBase*, std::string> keys;
    return keys;
}

bool IsReadyStatus(uint16_t status) {
    return status == kODStatusReady || status == kODStatusReadyAlt;
}

struct StoredOrder {
    UIDRef item;
    OD_ProcData order;
};

// Every order the document's page items carry.
std::vector<StoredOrder> ReadOrders(IDataBase* db) {
    std::vector<StoredOrder> orders;
    if (db == nullptr) {
        return orders;
    }
    for (UID uid : db->AllUIDs()) {
        const UIDRef ref(db, uid);
        if (!InterfaceOf<IOrdoData>(ref)) {
            continue;
        }
        OD_ProcData order;
        if (OD_DataAccessor(ref).Read(order) == 0 && ODStatusIsOrdered(order.status)) {
            orders.push_back({ref, order});
        }
    }
    return orders;
}

// The order is Ready and its job may still be out: the same page item and
// image, and a job that is not its own.
bool ReadyWithJobOut(const StoredOrder& s, const OD_JobEntry& e) {
    return s.item.GetUID().Get() == e.item && IsReadyStatus(s.order.status) &&
           s.order.sourcePath.GetUTF8String() == e.source &&
           s.order.jobName.GetUTF8String() != e.job;
}

// The document still waits for the job: an order Sent under it, or one that
// shows Ready while it is out.
bool WaitsFor(const std::vector<StoredOrder>& orders, const OD_JobEntry& e) {
    for (const StoredOrder& s : orders) {
        if ((s.order.status == kODStatusSent && s.order.jobName.GetUTF8String() == e.job) ||
            ReadyWithJobOut(s, e)) {
            return true;
        }
    }
    return false;
}

// The document holds the job's result: an order of that job past Sent.
bool HoldsResult(const std::vector<StoredOrder>& orders, const OD_JobEntry& e) {
    for (const StoredOrder& s : orders) {
        if (s.order.jobName.GetUTF8String() == e.job && s.order.status != kODStatusSent) {
            return true;
        }
    }
    return false;
}

void LogLine(OD_Log* log, const std::string& line) {
    if (log != nullptr) {
        log->Append(line.c_str());
        log->Show();
    }
}

// A job sent in an earlier run, before the document was saved: a send that
// was stopped after the job's record was written may not have unlocked it
// (the job is whole: it was synced before its record), and a withdrawal that
// was stopped may have moved it aside already. True when the job is out and
// its order is to wait for it; false when it was withdrawn (the order stays
// Ready and may go again).
bool FinishSending(const OD_JobJournal& journal, const OD_JobEntry& e) {
    if (e.state != OD_JobEntry::State::sent) {
        return true;
    }
    QOR_EndPointFile endpoint;
    if (endpoint.Open(e.server.c_str()) != 0) {
        return true; // the server cannot be reached now: wait for the job
    }
    if (endpoint.PublishJob(e.job.c_str()) == ENOENT && endpoint.WithdrawJob(e.job.c_str()) == 0) {
        // Not in the hot folder, but moved aside: withdrawn before the stop.
        if (journal.Remove(e.job) == 0) {
            endpoint.ForgetWithdrawnJob(e.job.c_str());
        }
        return false;
    }
    return true;
}

} // namespace

std::string OrdoMessage(const char* key, const std::vector<int32_t>& numbers,
                        const std::string& tail) {
    PMString text(key);
    text.Translate();
    std::string out = text.GetUTF8String();
    std::size_t next = 0;
    for (int32_t n : numbers) {
        const std::size_t at = out.find("%d", next);
        if (at == std::string::npos) {
            break;
        }
        const std::string value = std::to_string(n);
        out.replace(at, 2, value);
        next = at + value.size();
    }
    return out + tail;
}

std::string OrderImageName(const OD_ProcData& order) {
    const std::string& link = order.linkPath.GetUTF8String();
    const std::string& path = link.empty() ? order.sourcePath.GetUTF8String() : link;
    return FileNamePart(path.c_str());
}

std::string DocumentKey(IDataBase* db) {
    if (db == nullptr) {
        return std::string();
    }
    if (InterfacePtr<IDocument> doc = DocumentUtils::QueryDocument(db)) {
        const std::string path = doc->GetFilePath().GetUTF8String();
        if (!path.empty()) {
            return path;
        }
    }
    auto& keys = UnsavedKeys();
    auto it = keys.find(db);
    if (it == keys.end()) {
        static int serial = 0;
        it = keys.emplace(db, "unsaved:" + std::to_string(static_cast<long>(::getpid())) + "-" +
                                  std::to_string(platform::CurrentTime()) + "-" +
                                  std::to_string(++serial))
                 .first;
    }
    return it->second;
}

void ForgetDocumentKey(IDataBase* db) {
    UnsavedKeys().erase(db);
}

bool FindJobOut(const std::vector<OD_JobEntry>& entries, const UIDRef& item,
                const OD_ProcData& order, OD_JobEntry& entry) {
    if (!IsReadyStatus(order.status)) {
        return false;
    }
    const std::string key = DocumentKey(item.GetDataBase());
    const StoredOrder stored{item, order};
    for (const OD_JobEntry& e : entries) {
        if (e.document == key && ReadyWithJobOut(stored, e) && !(e.saved && e.released)) {
            entry = e;
            return true;
        }
    }
    return false;
}

bool FindJobOut(const OD_JobJournal& journal, const UIDRef& item, const OD_ProcData& order,
                OD_JobEntry& entry) {
    return journal.Usable() && IsReadyStatus(order.status) &&
           FindJobOut(journal.List(), item, order, entry);
}

OD_JobOutcome SettleJobOut(const OD_JobJournal& journal, const OD_JobEntry& entry,
                           const OD_ProcData& order, OD_ProcData& updated) {
    // Only a job that is still in the hot folder can be taken back; one with
    // a reply, or one whose server cannot be reached, is waited for.
    if (entry.state == OD_JobEntry::State::sent) {
        QOR_EndPointFile endpoint;
        if (endpoint.Open(entry.server.c_str()) == 0 &&
            endpoint.WithdrawJob(entry.job.c_str()) == 0) {
            // Noted before the job's last trace goes: a stop in between finds
            // it withdrawn again.
            if (journal.Remove(entry.job) == 0) {
                endpoint.ForgetWithdrawnJob(entry.job.c_str());
            }
            return OD_JobOutcome::withdrawn;
        }
    }
    updated = order;
    updated.status = kODStatusSent;
    updated.jobName = PMString(entry.job.c_str());
    return OD_JobOutcome::adopted;
}

bool SettleReadyOrder(const UIDRef& item, OD_Log* log) {
    const OD_JobJournal journal = OD_JobJournal::ForIdentityFolder();
    OD_ProcData order;
    OD_JobEntry entry;
    if (OD_DataAccessor(item).Read(order) != 0 || !FindJobOut(journal, item, order, entry)) {
        return false;
    }
    OD_ProcData updated;
    if (SettleJobOut(journal, entry, order, updated) == OD_JobOutcome::withdrawn) {
        LogLine(log, OrdoMessage("0x71900kOrdoLogJobWithdrawn", {}, entry.job));
        return true;
    }
    if (StoreOrderRecords(UIDList(item), {updated}) != kSuccess) {
        return false;
    }
    LogLine(log, OrdoMessage("0x71900kOrdoLogJobAdopted", {}, entry.job));
    return true;
}

bool RecordedReply(const OD_JobJournal& journal, const std::string& job, std::string& text) {
    OD_JobEntry entry;
    if (!journal.Find(job, entry) || entry.state != OD_JobEntry::State::answered ||
        entry.reply.empty()) {
        return false;
    }
    text = entry.reply;
    return true;
}

int RecordReply(const OD_JobJournal& journal, const UIDRef& item, const OD_ProcData& order,
                const QOR_EndPoint* endpoint, const std::string& text) {
    if (!journal.Usable()) {
        return ENOENT;
    }
    const std::string job = order.jobName.GetUTF8String();
    OD_JobEntry entry;
    if (!journal.Find(job, entry)) {
        // Sent before the record was kept (or its entry was lost).
        entry = OD_JobEntry();
        entry.job = job;
        char server[QOR_EndPointFile::kPathCapacity] = "";
        if (endpoint != nullptr) {
            endpoint->GetServerPath(server, sizeof server);
        }
        entry.server = server;
        entry.document = DocumentKey(item.GetDataBase());
        entry.item = item.GetUID().Get();
        entry.source = order.sourcePath.GetUTF8String();
        entry.sent = platform::CurrentTime();
    }
    entry.state = OD_JobEntry::State::answered;
    entry.reply = text;
    entry.saved = false;
    return journal.Write(entry);
}

bool ReleaseRecordedReply(const OD_JobEntry& entry) {
    QOR_EndPointFile endpoint;
    if (endpoint.Open(entry.server.c_str()) != 0) {
        return false;
    }
    // Released, or no longer there: either way no reply of this job waits.
    endpoint.ReleaseReply(entry.job.c_str());
    return true;
}

void NoteDocumentSaved(IDataBase* db, const std::string& previousKey) {
    const OD_JobJournal journal = OD_JobJournal::ForIdentityFolder();
    if (!journal.Usable() || db == nullptr) {
        return;
    }
    const std::string key = DocumentKey(db);
    if (previousKey != key) {
        ForgetDocumentKey(db);
    }
    const std::vector<StoredOrder> orders = ReadOrders(db);
    for (OD_JobEntry e : journal.List()) {
        if (e.document != key && e.document != previousKey) {
            continue;
        }
        OD_JobEntry before = e;
        e.document = key;
        // Nothing in the saved file waits for the job: its result is there, or
        // its order is gone. (The entry keeps the reply until the document
        // closes, for an undo that brings the order back.)
        e.saved = !WaitsFor(orders, e);
        if (e.saved && e.state == OD_JobEntry::State::answered && !e.released) {
            e.released = ReleaseRecordedReply(e);
        }
        if (!(e == before)) {
            journal.Write(e);
        }
    }
}

void NoteDocumentClosing(IDataBase* db) {
    const OD_JobJournal journal = OD_JobJournal::ForIdentityFolder();
    if (journal.Usable() && db != nullptr) {
        const std::string key = DocumentKey(db);
        const bool neverSaved = key.rfind("unsaved:", 0) == 0;
        for (const OD_JobEntry& e : journal.List()) {
            if (e.document != key) {
                continue;
            }
            if (e.saved && e.released) {
                journal.Remove(e.job);
            } else if (neverSaved && e.state == OD_JobEntry::State::answered &&
                       ReleaseRecordedReply(e)) {
                // Nothing can ever take this result again.
                journal.Remove(e.job);
            }
        }
    }
    ForgetDocumentKey(db);
}

int32_t NoteDocumentOpened(IDataBase* db, OD_Log* log) {
    const OD_JobJournal journal = OD_JobJournal::ForIdentityFolder();
    if (!journal.Usable() || db == nullptr) {
        return 0;
    }
    const std::string key = DocumentKey(db);
    const std::vector<StoredOrder> orders = ReadOrders(db);
    UIDList found(db);
    std::vector<OD_ProcData> records;
    for (const OD_JobEntry& e : journal.List()) {
        if (e.document != key) {
            continue;
        }
        bool waited = false;
        for (const StoredOrder& s : orders) {
            if (s.order.status == kODStatusSent && s.order.jobName.GetUTF8String() == e.job) {
                waited = true; // the pickup takes it from here
            } else if (ReadyWithJobOut(s, e) && !(e.saved && e.released) &&
                       found.Location(s.item.GetUID()) < 0 && FinishSending(journal, e)) {
                OD_ProcData updated = s.order;
                updated.status = kODStatusSent;
                updated.jobName = PMString(e.job.c_str());
                found.Append(s.item.GetUID());
                records.push_back(updated);
                waited = true;
            }
        }
        if (!waited && HoldsResult(orders, e)) {
            // The file holds the result: the reply is no longer needed.
            if (e.state != OD_JobEntry::State::answered || e.released || ReleaseRecordedReply(e)) {
                journal.Remove(e.job);
            }
        }
    }
    if (found.IsEmpty() || StoreOrderRecords(found, records) != kSuccess) {
        return 0;
    }
    LogLine(log, OrdoMessage("0x71900kOrdoLogJobsFound", {found.Length()}));
    return found.Length();
}

int32_t CleanOldJobs(const OD_JobJournal& journal, int64_t now, int days,
                     const std::vector<std::string>& openDocuments) {
    int32_t removed = 0;
    const int64_t limit = static_cast<int64_t>(days) * 24 * 3600;
    for (const OD_JobEntry& e : journal.List()) {
        if (now - e.sent <= limit || std::find(openDocuments.begin(), openDocuments.end(),
                                               e.document) != openDocuments.end()) {
            continue;
        }
        if (!e.released) {
            ReleaseRecordedReply(e);
        }
        if (journal.Remove(e.job) == 0) {
            ++removed;
        }
    }
    return removed;
}
