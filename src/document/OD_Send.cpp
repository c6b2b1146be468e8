#include "OD_Send.h"

#include "ICommand.h"
#include "IOrdoData.h"
#include "OD_DataAccessor.h"
#include "OD_Jobs.h"
#include "OD_Resampling.h"
#include "OD_Ticket.h"
#include "OrdoCommands.h"
#include "Platform.h"
#include "QOR_EndPointFile.h"

#include <cerrno>

int SendOrder(const UIDRef& item, QOR_EndPoint* endpoint, OD_ProcData& updated) {
    OD_ProcData order;
    if (OD_DataAccessor(item).Read(order) != 0) {
        return -1;
    }
    return SendOrder(item, order, endpoint, updated);
}

int32_t SendOrders(const UIDList& items, QOR_EndPoint* endpoint, std::vector<int>* results,
                   OD_SendReport* report) {
    OD_SendReport local;
    OD_SendReport& r = report != nullptr ? *report : local;
    r = OD_SendReport();
    if (results != nullptr) {
        results->assign(static_cast<std::size_t>(items.Length()), -1);
    }
    const OD_JobJournal journal = OD_JobJournal::ForIdentityFolder();
    const std::string document = DocumentKey(items.GetDataBase());
    const std::vector<OD_JobEntry> entries =
        journal.Usable() ? journal.List() : std::vector<OD_JobEntry>();
    char server[QOR_EndPointFile::kPathCapacity] = "";
    if (endpoint != nullptr) {
        endpoint->GetServerPath(server, sizeof server);
    }

    UIDList sent(items.GetDataBase());
    std::vector<OD_ProcData> records;
    for (int32_t i = 0; i < items.Length(); ++i) {
        const UIDRef item = items.GetRef(i);
        int result = -1;
        OD_ProcData order;
        OD_ProcData updated;
        OD_JobEntry out;
        int journalError = 0;
        if (r.stopResult != 0) {
            ++r.notSent;
        } else if (OD_DataAccessor(item).Read(order) != 0) {
            result = -1;
        } else if (!journal.Usable()) {
            result = kODSendNoJournal;
            journalError = ENOENT;
        } else if (FindJobOut(entries, item, order, out) &&
                   SettleJobOut(journal, out, order, updated) == OD_JobOutcome::adopted) {
            result = 0;
            ++r.waiting;
        } else {
            QOR_SendHooks hooks;
            hooks.nameInUse = [&](const char* message) {
                OD_JobEntry known;
                return journal.Find(message, known);
            };
            hooks.beforePublish = [&](const char* message) {
                OD_JobEntry entry;
                entry.job = message;
                entry.server = server;
                entry.document = document;
                entry.item = item.GetUID().Get();
                entry.source = order.sourcePath.GetUTF8String();
                entry.sent = platform::CurrentTime();
                journalError = journal.Write(entry);
                return journalError == 0;
            };
            result = SendOrder(item, order, endpoint, updated, &hooks);
            if (result == kQorSendRefused) {
                result = kODSendNoJournal;
            }
            if (result == 0) {
                ++r.sent;
            }
        }
        if (results != nullptr) {
            (*results)[static_cast<std::size_t>(i)] = result;
        }
        if (result == 0) {
            sent.Append(items[i]);
            records.push_back(updated);
        } else if (result == kODSendNoJournal || result == -4 || result == -5) {
            // The hot folder or the record refuses jobs: the next would fare
            // no better.
            r.stopResult = result;
            r.systemError = result == kODSendNoJournal
                                ? journalError
                                : (endpoint != nullptr ? endpoint->LastSystemError() : 0);
            ++r.notSent;
        }
    }
    if (sent.Length() == 0) {
        return 0;
    }
    if (StoreOrderRecords(sent, records) != kSuccess) {
        return kODSendStoreError;
    }
    return sent.Length();
}

int CheckResampling(const UIDRef& item, const OD_PrefsData& prefs, int& factor) {
    OD_ProcData order;
    if (OD_DataAccessor(item).Read(order) != 0) {
        return CheckResampling(item, nullptr, prefs, factor);
    }
    return CheckResampling(item, &order, prefs, factor);
}
