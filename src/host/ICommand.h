#pragma once

#include "HostInterfaceIDs.h"
#include "IPMUnknown.h"
#include "ObjectModel.h"
#include "PMString.h"
#include "UIDRef.h"

// A change to a document, made by class ID and processed by the host: each
// processed command is one undo step, named by its string key.
class ICommand : public IPMUnknown {
public:
    enum { kDefaultIID = IID_ICOMMAND.value };

    virtual void SetItemList(const UIDList& items) = 0;
    virtual const UIDList& GetItemList() const = 0;
    // The host's calls, in this order: Do, then DoNotify when Do succeeded.
    virtual void Do() = 0;
    virtual void DoNotify() = 0;
    // The undo step's name (a string key, translated when shown).
    virtual PMString GetName() const = 0;
};

// Base of command implementations.
class CCommand : public CPMUnknown<ICommand> {
public:
    explicit CCommand(IPMUnknown* object) : CPMUnknown<ICommand>(object) {}

    void SetItemList(const UIDList& items) override { itemList = items; }
    const UIDList& GetItemList() const override { return itemList; }
    void DoNotify() override {}
    PMString GetName() const override { return name; }
    void SetName(const PMString& value) { name = value; }

protected:
    UIDList itemList;
    PMString name;
};

namespace ErrorUtils {
// The host's global error code: set by a failed command, read by its caller.
void PMSetGlobalErrorCode(ErrorCode code);
ErrorCode PMGetGlobalErrorCode();
} // namespace ErrorUtils

namespace CmdUtils {
// A new command of the class (its ICommand, reference held), or null.
ICommand* CreateCommand(ClassID classID);
// Runs the command as one undo step of its items' database: Do, then, when
// Do left the global error code at 0, DoNotify. A failed command leaves the
// database as it was and the global error code at 1. Returns the code.
ErrorCode ProcessCommand(ICommand* command);
} // namespace CmdUtils
