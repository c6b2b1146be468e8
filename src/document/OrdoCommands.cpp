#include "OrdoCommands.h"

#include "DocumentIDs.h"
#include "ICommand.h"
#include "IDataBase.h"
#include "IOrdoData.h"
#include "IOrdoUndoData.h"
#include "ISubject.h"
#include "ObjectModel.h"

#include <cstring>
#include <vector>

namespace {

OrdoListRebuildHook listRebuildHook = nullptr;

// What differs between the two commands: the record, the interface that
// holds it on a page item, the command's array and its class.
struct OrderRecords {
    using Record = OD_ProcData;
    using Holder = IOrdoData;
    using Array = IOrdoDataArray;
    static constexpr PMIID kHolderIID = IID_IORDODATA;
    static constexpr PMIID kArrayIID = IID_IORDODATAARRAY;
    static constexpr ClassID kCommandClass = kOrdoSetDataCmdBoss;
    static bool Storable(const Record&) { return true; }
};

struct UndoRecords {
    using Record = OD_UndoData;
    using Holder = IOrdoUndoData;
    using Array = IOrdoUndoDataArray;
    static constexpr PMIID kHolderIID = IID_IORDOUNDODATA;
    static constexpr PMIID kArrayIID = IID_IORDOUNDODATAARRAY;
    static constexpr ClassID kCommandClass = kOrdoSetUndoDataCmdBoss;
    // A path that does not end inside its field could not be saved.
    static bool Storable(const Record& r) {
        return ::strnlen(r.otherFile, kODUndoPathSize) < kODUndoPathSize;
    }
};

// Gives each item of the list the record of its slot in the command's array.
template <class Records> class OrdoSetRecordsCmd : public CCommand {
public:
    explicit OrdoSetRecordsCmd(IPMUnknown* object) : CCommand(object) {
        SetName(PMString(kOrdoCommandStringKey));
    }

    void Do() override {
        previous.clear();
        const int32_t n = itemList.Length();
        if (n == 0) {
            ErrorUtils::PMSetGlobalErrorCode(kFailure);
            return;
        }
        InterfacePtr<typename Records::Array> records(this, Records::kArrayIID);
        if (!records || records->GetCount() < n) {
            ErrorUtils::PMSetGlobalErrorCode(kFailure);
            return;
        }
        for (int32_t i = 0; i < n; ++i) {
            if (!Records::Storable(records->GetAt(i))) {
                ErrorUtils::PMSetGlobalErrorCode(kFailure);
                return;
            }
        }
        IDataBase* db = itemList.GetDataBase();
        for (int32_t i = 0; i < n; ++i) {
            InterfacePtr<typename Records::Holder> holder(
                db != nullptr ? static_cast<typename Records::Holder*>(
                                    db->Instantiate(itemList[i], Records::kHolderIID))
                              : nullptr);
            if (!holder) {
                continue; // not an item that carries the record
            }
            previous.push_back(holder->Get());
            holder->Set(records->GetAt(i));
        }
    }

    void DoNotify() override {
        if (itemList.IsEmpty()) {
            ErrorUtils::PMSetGlobalErrorCode(kFailure);
            return;
        }
        if (listRebuildHook != nullptr) {
            listRebuildHook(true, false);
        }
        // Broadcast on the items' document.
        IDataBase* db = itemList.GetDataBase();
        if (db == nullptr) {
            return;
        }
        InterfacePtr<ISubject> subject(
            static_cast<ISubject*>(db->Instantiate(db->GetRootUID(), IID_ISUBJECT)));
        if (subject) {
            subject->Change(Records::kCommandClass, Records::kHolderIID,
                            static_cast<ICommand*>(this));
        }
    }

private:
    // The records the items held before Do, for whoever wants to look; the
    // host's undo does not need them.
    std::vector<typename Records::Record> previous;
};

using OrdoSetDataCmd = OrdoSetRecordsCmd<OrderRecords>;
using OrdoSetUndoDataCmd = OrdoSetRecordsCmd<UndoRecords>;

} // namespace

void SetOrdoListRebuildHook(OrdoListRebuildHook hook) {
    listRebuildHook = hook;
}

void RegisterOrdoData() {
    RegisterOrdoDataImplementations();
    RegisterOrdoUndoDataImplementations();
    ObjectModel& model = ObjectModel::Get();
    const ImplementationFactory commands[] = {
        {kOrdoSetDataCmdImpl, "OrdoSetDataCmd", CreateImplementation<OrdoSetDataCmd>, false},
        {kOrdoSetUndoDataCmdImpl, "OrdoSetUndoDataCmd", CreateImplementation<OrdoSetUndoDataCmd>,
         false},
    };
    for (const ImplementationFactory& factory : commands) {
        if (!model.IsRegistered(factory.id)) {
            model.RegisterImplementation(factory);
        }
    }
    if (!model.HasClass(kOrdoSetDataCmdBoss)) {
        model.DefineClass({kOrdoSetDataCmdBoss,
                           kInvalidClass,
                           {{IID_ICOMMAND, kOrdoSetDataCmdImpl},
                            {IID_IORDODATAARRAY, kOrdoDataArrayNonPersistImpl}}});
    }
    if (!model.HasClass(kOrdoSetUndoDataCmdBoss)) {
        model.DefineClass({kOrdoSetUndoDataCmdBoss,
                           kInvalidClass,
                           {{IID_ICOMMAND, kOrdoSetUndoDataCmdImpl},
                            {IID_IORDOUNDODATAARRAY, kOrdoUndoDataArrayNonPersistImpl}}});
    }
}

void AddOrdoDataToImageItems() {
    ObjectModel& model = ObjectModel::Get();
    model.AddIn(kImageItemBoss, IID_IORDODATA, kOrdoDataPersistImpl);
    model.AddIn(kImageItemBoss, IID_IORDOUNDODATA, kOrdoUndoDataPersistImpl);
}
