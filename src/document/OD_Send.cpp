#include "OD_Send.h"

#include "ICommand.h"
#include "IOrdoData.h"
#include "OD_DataAccessor.h"
#include "OD_Resampling.h"
#include "OD_Ticket.h"
#include "OrdoCommands.h"

int SendOrder(const UIDRef& item, QOR_EndPoint* endpoint, OD_ProcData& updated) {
    OD_ProcData order;
    if (OD_DataAccessor(item).Read(order) != 0) {
        return -1;
    }
    return SendOrder(item, order, endpoint, updated);
}

int32_t SendOrders(const UIDList& items, QOR_EndPoint* endpoint, std::vector<int>* results) {
    if (results != nullptr) {
        results->assign(static_cast<std::size_t>(items.Length()), -1);
    }
    UIDList sent(items.GetDataBase());
    std::vector<OD_ProcData> records;
    for (int32_t i = 0; i < items.Length(); ++i) {
        OD_ProcData updated;
        const int result = SendOrder(items.GetRef(i), endpoint, updated);
        if (results != nullptr) {
            (*results)[static_cast<std::size_t>(i)] = result;
        }
        if (result == 0) {
            sent.Append(items[i]);
            records.push_back(updated);
        }
    }
    if (sent.Length() == 0) {
        return 0;
    }
    InterfacePtr<ICommand> command(CmdUtils::CreateCommand(kOrdoSetDataCmdBoss));
    InterfacePtr<IOrdoDataArray> array(command, IID_IORDODATAARRAY);
    if (!command || !array) {
        return kODSendStoreError;
    }
    command->SetItemList(sent);
    array->SetCount(sent.Length());
    for (int32_t i = 0; i < sent.Length(); ++i) {
        array->SetAt(records[static_cast<std::size_t>(i)], i);
    }
    if (CmdUtils::ProcessCommand(command.get()) != kSuccess) {
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
