#include "OrdoActionFlows.h"

#include "CAlert.h"
#include "ISession.h"
#include "OD_Jobs.h"
#include "OD_Send.h"
#include "OD_ServerLink.h"
#include "OrdoPanel.h"
#include "OrdoPanelState.h"
#include "QOR_EndPoint.h"

#include <cstring>
#include <new>

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
    OD_ProcData pattern;
    pattern.status = kODStatusSendable;
    UIDList ready(source.GetDataBase());
    FilterItems(source, pattern, kODFilterStatus, ready);
    if (ready.IsEmpty()) {
        // Nothing to send: the server is not bothered (nor the user told it
        // cannot be reached).
        return;
    }
    std::unique_ptr<QOR_EndPoint> endpoint = ConnectForSending(GetExecutionContextSession(), true);
    if (!endpoint) {
        return;
    }
    int32_t sent = 0;
    OD_SendReport report;
    try {
        sent = SendOrders(ready, endpoint.get(), nullptr, &report);
    } catch (const std::bad_alloc&) {
        CAlert::ErrorAlert(PMString(kErrInternalKey));
        return;
    }
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
        PMString shown(message.c_str());
        shown.SetTranslatable(false);
        CAlert::ErrorAlert(shown);
    }
}
