#include "OrdoActionFlows.h"

#include "CAlert.h"
#include "IIdleTask.h"
#include "ISession.h"
#include "OD_DataAccessor.h"
#include "OD_Jobs.h"
#include "OD_Send.h"
#include "OD_ServerLink.h"
#include "OrdoPanel.h"
#include "OrdoPanelState.h"
#include "QOR_EndPoint.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

// "Send Selected Orders ..." and "Send all orders ...".

namespace {

constexpr const char* kErrInternalKey = "0x71900kOrdoErrInternal";
constexpr const char* kErrSendFolderKey = "0x71900kOrdoErrSendFolder";
constexpr const char* kErrSendJournalKey = "0x71900kOrdoErrSendJournal";

} // namespace

void SendListedOrders(bool all) {
    if (GetOrdoPanelList() == nullptr) {
        return;
    }
    const UIDList source = UsableItems(all ? OrdoPanelItemList() : OrdoPanelSelectedItems());
    if (source.IsEmpty()) {
        return;
    }
    // "Send all" takes the Ready orders; failed orders go again when the user
    // selects them and sends.
    UIDList candidates(source.GetDataBase());
    for (int32_t i = 0; i < source.Length(); ++i) {
        OD_ProcData order;
        if (OD_DataAccessor(source.GetRef(i)).Read(order) == 0 && IsSendableOrRetry(order.status) &&
            !(all && order.status == kODStatusReplyMinus2)) {
            candidates.Append(source[i]);
        }
    }
    if (candidates.IsEmpty()) {
        // Nothing to send: the server is not bothered (nor the user told it
        // cannot be reached).
        return;
    }

    // Every order is checked before anything goes out: those that cannot go
    // are named, with why, in one alert and in the log, and stay as they
    // are; when none can go the server is not even connected.
    const std::vector<OD_SendCheck> checks =
        CheckOrdersForSending(candidates, UsableItems(OrdoPanelItemList()));
    UIDList going(source.GetDataBase());
    std::vector<bool> again;
    std::vector<std::string> refused;
    for (const OD_SendCheck& check : checks) {
        if (check.result == 0) {
            going.Append(check.item.GetUID());
            again.push_back(check.order.status == kODStatusReplyMinus2);
        } else {
            refused.push_back(SendRefusalText(check));
        }
    }
    // Those that cannot go, one line each, in one alert and in the log.
    auto tellRefused = [&] {
        TellInLogAndAlert(
            OrdoMessage("0x71900kOrdoRefusedAlert", {static_cast<int32_t>(refused.size())}),
            refused);
    };
    if (going.IsEmpty()) {
        tellRefused();
        return;
    }

    std::unique_ptr<QOR_EndPoint> endpoint = ConnectForSending(GetExecutionContextSession(), true);
    if (!endpoint) {
        tellRefused();
        return;
    }
    OrdoLog* log = GetOrdoLog();
    int32_t sent = 0;
    OD_SendReport report;
    std::vector<int> results;
    try {
        sent = SendOrders(going, endpoint.get(), &results, &report);
    } catch (const std::bad_alloc&) {
        CAlert::ErrorAlert(PMString(kErrInternalKey));
        return;
    }
    for (std::size_t i = 0; i < results.size(); ++i) {
        OD_ProcData order;
        if (results[i] != 0 ||
            OD_DataAccessor(going.GetRef(static_cast<int32_t>(i))).Read(order) != 0) {
            continue;
        }
        const std::string line =
            OrderImageName(order) + ": " +
            OrdoMessage(again[i] ? "0x71900kOrdoLogResent" : "0x71900kOrdoLogSent", {},
                        order.jobName.GetUTF8String());
        log->Append(line.c_str());
        // The wait is counted from now on this host's clock as well.
        OrdoWaits()[order.jobName.GetUTF8String()].sinceHostMs = HostClock::Now();
    }
    log->Show();
    tellRefused();
    if (sent == kODSendStoreError) {
        // The jobs are with the server but the orders could not be marked
        // sent: the user must know before sending them again.
        CAlert::ErrorAlert(PMString(kErrInternalKey));
    }
    if (report.stopResult != 0) {
        // One alert for the batch: how many stay Ready, and why.
        const std::string message = OrdoMessage(
            report.stopResult == kODSendNoJournal ? kErrSendJournalKey : kErrSendFolderKey,
            {report.notSent},
            report.systemError != 0 ? std::string(" (") + std::strerror(report.systemError) + ")"
                                    : std::string());
        log->Append(message.c_str());
        log->Show();
        PMString shown(message.c_str());
        shown.SetTranslatable(false);
        CAlert::ErrorAlert(shown);
    }
}
