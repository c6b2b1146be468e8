#include "OD_Send.h"

#include "ICommand.h"
#include "IOrdoData.h"
#include "OD_DataAccessor.h"
#include "OD_Jobs.h"
#include "OD_Resampling.h"
#include "OD_Ticket.h"
#include "OrdoCommands.h"
#include "Paths.h"
#include "Platform.h"
#include "QOR_EndPointFile.h"

#include "IOrdoPrefsData.h"
#include "ISession.h"
#include "OD_Geometry.h"
#include "OD_Pickup.h"
#include "OD_Preferences.h"
#include "OD_Ticket.h"

#include <cerrno>
#include <cstring>
#include <map>

namespace {

// The string-table key of why an order is not sent.
const char* RefusalKey(int result) {
    switch (result) {
    case kODSendPathInTooLong:
        return "0x71900kOrdoRefusePathIn";
    case kODSendPathOutTooLong:
        return "0x71900kOrdoRefusePathOut";
    case kODSendNoOutFolder:
        return "0x71900kOrdoRefuseNoFolder";
    case kODSendTicketTooLong:
        return "0x71900kOrdoRefuseTicket";
    case kODSendBadResolution:
        return "0x71900kOrdoRefuseResolution";
    case kODSendSourceMissing:
        return "0x71900kOrdoRefuseSourceMissing";
    case kODSendLinkPathTooLong:
        return "0x71900kOrdoRefuseLinkLong";
    case kODSendSameOutput:
        return "0x71900kOrdoRefuseSameOutput";
    default:
        return "0x71900kOrdoRefuseNotReady";
    }
}

// The order as Send takes it: a failed one goes again as a Ready one.
OD_ProcData AsSendable(OD_ProcData order) {
    if (order.status == kODStatusReplyMinus2) {
        order.status = kODStatusReady;
    }
    return order;
}

// Reads the order that the item carries, as Send takes it.
bool ReadSendable(const UIDRef& item, OD_ProcData& order) {
    if (OD_DataAccessor(item).Read(order) != 0) {
        return false;
    }
    order = AsSendable(order);
    return true;
}

} // namespace

bool IsSendableOrRetry(uint16_t status) {
    return status == kODStatusReady || status == kODStatusReadyAlt ||
           status == kODStatusReplyMinus2;
}

std::vector<OD_SendCheck> CheckOrdersForSending(const UIDList& items, const UIDList& placed) {
    // The files placed in the document's list: a processed file written over
    // one of them would change what another frame shows.
    std::map<std::string, std::string> placedFiles;
    for (int32_t i = 0; i < placed.Length(); ++i) {
        char link[kODLinkPathSize];
        if (GetLinkPath(placed.GetRef(i), link, sizeof link) == 0 && link[0] != '\0') {
            placedFiles.emplace(PathStem(link), FileNamePart(link));
        }
    }
    InterfacePtr<IOrdoPrefsData> prefsData(GetExecutionContextSession(), IID_IORDOPREFSDATA);
    std::map<std::string, std::string> outputs; // output path -> image
    std::vector<OD_SendCheck> checks;
    for (int32_t i = 0; i < items.Length(); ++i) {
        OD_SendCheck check;
        check.item = items.GetRef(i);
        if (OD_DataAccessor(check.item).Read(check.order) != 0 ||
            !IsSendableOrRetry(check.order.status)) {
            continue;
        }
        const OD_ProcData order = AsSendable(check.order);
        const std::string image = OrderImageName(order);
        char ticket[kODTicketSize];
        char pathOut[kODTicketPathSize] = "";
        char link[kODLinkPathSize] = "";
        check.result = BuildTicket(check.item, order, ticket, pathOut);
        check.outputPath = pathOut;
        if (check.result == 0) {
            if (const int error =
                    platform::CheckReadableFile(order.sourcePath.GetUTF8String().c_str());
                error != 0) {
                check.result = kODSendSourceMissing;
                check.detail = order.sourcePath.GetUTF8String() + " (" + std::strerror(error) + ")";
            } else if (GetLinkPath(check.item, link, sizeof link) == 0 &&
                       std::strlen(link) > kODRelinkPathMax) {
                check.result = kODSendLinkPathTooLong;
            }
        }
        if (check.result == 0) {
            const bool replacing =
                prefsData && GoverningPreferences(prefsData->Get(), order).GetRepSrc();
            // The server names its file after the output path and an
            // extension of its choosing: paths are compared without theirs.
            const std::string key = PathStem(check.outputPath);
            auto other = outputs.find(key);
            auto file = placedFiles.find(key);
            if (other != outputs.end()) {
                check.result = kODSendSameOutput;
                check.clash = other->second;
            } else if (file != placedFiles.end() && !(replacing && check.outputPath == link)) {
                check.result = kODSendSameOutput;
                check.clash = file->second;
            } else {
                outputs.emplace(key, image);
            }
        }
        checks.push_back(std::move(check));
    }
    return checks;
}

std::string SendRefusalText(const OD_SendCheck& check) {
    std::string tail = check.detail;
    if (check.result == kODSendSameOutput) {
        tail = check.outputPath + " (" + check.clash + ")";
    }
    return OrderImageName(check.order) + ": " + OrdoMessage(RefusalKey(check.result), {}, tail);
}

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

    InterfacePtr<IOrdoPrefsData> prefsData(GetExecutionContextSession(), IID_IORDOPREFSDATA);
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
        } else if (!ReadSendable(item, order)) {
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
                if (prefsData) {
                    entry.opi =
                        GoverningPreferences(prefsData->Get(), order).GetOpiActive() ? 1 : 0;
                }
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
