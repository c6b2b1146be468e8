#include "ICommand.h"

#include "IDataBase.h"

namespace {
ErrorCode globalErrorCode = kSuccess;
}

void ErrorUtils::PMSetGlobalErrorCode(ErrorCode code) {
    globalErrorCode = code;
}

ErrorCode ErrorUtils::PMGetGlobalErrorCode() {
    return globalErrorCode;
}

ICommand* CmdUtils::CreateCommand(ClassID classID) {
    return static_cast<ICommand*>(ObjectModel::Get().CreateObject(classID, IID_ICOMMAND));
}

ErrorCode CmdUtils::ProcessCommand(ICommand* command) {
    if (command == nullptr) {
        ErrorUtils::PMSetGlobalErrorCode(kFailure);
        return kFailure;
    }
    IDataBase* db = command->GetItemList().GetDataBase();
    bool outer = db != nullptr && !db->InTransaction();
    if (outer) {
        db->BeginTransaction(command->GetName());
    }
    ErrorUtils::PMSetGlobalErrorCode(kSuccess);
    try {
        command->Do();
    } catch (...) {
        ErrorUtils::PMSetGlobalErrorCode(kFailure);
    }
    ErrorCode code = ErrorUtils::PMGetGlobalErrorCode();
    if (code != kSuccess) {
        if (outer) {
            db->AbortTransaction();
        }
        ErrorUtils::PMSetGlobalErrorCode(kFailure);
        return kFailure;
    }
    if (outer) {
        db->EndTransaction();
    }
    command->DoNotify();
    return kSuccess;
}
