#include "OD_DataAccessor.h"

#include "ICommand.h"
#include "IDataBase.h"
#include "OD_OrderFromImage.h"
#include "OrdoCommands.h"

namespace {

template <class Holder> InterfacePtr<Holder> QueryRecord(const UIDRef& item, PMIID iid) {
    if (!IsUsableItemRef(item)) {
        return InterfacePtr<Holder>();
    }
    return InterfacePtr<Holder>(
        static_cast<Holder*>(item.GetDataBase()->Instantiate(item.GetUID(), iid)));
}

// Runs the command of the class over one item with one record.
template <class Array, class Record>
ErrorCode WriteOne(const UIDRef& item, ClassID commandClass, PMIID arrayIID, const Record& value) {
    if (!IsUsableItemRef(item)) {
        return kFailure;
    }
    InterfacePtr<ICommand> command(CmdUtils::CreateCommand(commandClass));
    InterfacePtr<Array> records(command, arrayIID);
    if (!command || !records) {
        ErrorUtils::PMSetGlobalErrorCode(kFailure);
        return kFailure;
    }
    command->SetItemList(UIDList(item));
    records->SetCount(1);
    records->SetAt(value, 0);
    return CmdUtils::ProcessCommand(command.get());
}

} // namespace

bool IsUsableItemRef(const UIDRef& item) {
    IDataBase* db = item.GetDataBase();
    return db != nullptr && item.GetUID() != kInvalidUID &&
           db->GetClass(item.GetUID()) != kInvalidClass;
}

int32_t OD_DataAccessor::Read(OD_ProcData& value) {
    InterfacePtr<IOrdoData> data = QueryRecord<IOrdoData>(item, IID_IORDODATA);
    if (!data) {
        return kODNoItemRecordError;
    }
    value = data->Get();
    return 0;
}

ErrorCode OD_DataAccessor::Write(const OD_ProcData& value) {
    return WriteOne<IOrdoDataArray>(item, kOrdoSetDataCmdBoss, IID_IORDODATAARRAY, value);
}

int32_t OD_UndoDataAccessor::Read(OD_UndoData& value) {
    InterfacePtr<IOrdoUndoData> data = QueryRecord<IOrdoUndoData>(item, IID_IORDOUNDODATA);
    if (!data) {
        return kODNoItemRecordError;
    }
    value = data->Get();
    return 0;
}

ErrorCode OD_UndoDataAccessor::Write(const OD_UndoData& value) {
    return WriteOne<IOrdoUndoDataArray>(item, kOrdoSetUndoDataCmdBoss, IID_IORDOUNDODATAARRAY,
                                        value);
}

bool IsOrdered(const UIDRef& item) {
    InterfacePtr<IOrdoData> data = QueryRecord<IOrdoData>(item, IID_IORDODATA);
    return data && ODStatusIsOrdered(data->Get().status);
}

int32_t AddOrders(const UIDList& items, bool provisional, const OD_OrderFiller& fill) {
    InterfacePtr<ICommand> command(CmdUtils::CreateCommand(kOrdoSetDataCmdBoss));
    InterfacePtr<IOrdoDataArray> records(command, IID_IORDODATAARRAY);
    if (!command || !records) {
        return kODAddOrdersError;
    }
    command->SetItemList(items);
    records->SetCount(items.Length());
    for (int32_t i = 0; i < items.Length(); ++i) {
        OD_ProcData record;
        int result = fill ? fill(items.GetRef(i), record, provisional) : 0;
        records->SetAt(record, i);
        if (result != 0) {
            break;
        }
    }
    return CmdUtils::ProcessCommand(command.get()) == kSuccess ? 0 : kODAddOrdersError;
}

int32_t AddOrder(const UIDRef& item, bool provisional, const OD_OrderFiller& fill) {
    return AddOrders(UIDList(item), provisional, fill);
}

int32_t AddOrders(const UIDList& items, bool provisional) {
    return AddOrders(items, provisional, FillOrderFromImage);
}

int32_t AddOrder(const UIDRef& item, bool provisional) {
    return AddOrders(UIDList(item), provisional, FillOrderFromImage);
}

int32_t FilterItems(const UIDList& items, const OD_ProcData& pattern, uint32_t mask, UIDList& out) {
    for (int32_t i = 0; i < items.Length(); ++i) {
        InterfacePtr<IOrdoData> data = QueryRecord<IOrdoData>(items.GetRef(i), IID_IORDODATA);
        if (!data) {
            break;
        }
        const OD_ProcData record = data->Get();
        if ((mask & kODFilterStatus) != 0 && (record.status & pattern.status) == 0) {
            continue;
        }
        if ((mask & kODFilterProcessCode) != 0 && record.processCode != pattern.processCode) {
            continue;
        }
        if ((mask & kODFilterImageClass) != 0 && record.imageClass != pattern.imageClass) {
            continue;
        }
        out.Append(items[i]);
    }
    return out.Length();
}

ErrorCode StoreOrderRecords(const UIDList& items, const std::vector<OD_ProcData>& records) {
    if (items.IsEmpty() || records.size() != static_cast<std::size_t>(items.Length())) {
        return kFailure;
    }
    InterfacePtr<ICommand> command(CmdUtils::CreateCommand(kOrdoSetDataCmdBoss));
    InterfacePtr<IOrdoDataArray> array(command, IID_IORDODATAARRAY);
    if (!command || !array) {
        return kFailure;
    }
    command->SetItemList(items);
    array->SetCount(items.Length());
    for (int32_t i = 0; i < items.Length(); ++i) {
        array->SetAt(records[static_cast<std::size_t>(i)], i);
    }
    return CmdUtils::ProcessCommand(command.get());
}
