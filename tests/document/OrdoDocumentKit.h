#pragma once

// What the document-layer tests share: the registrations a document with the
// plug-in's records needs, and reading the records an item carries.

#include "../host/DocumentTestKit.h"
#include "DocumentModel.h"
#include "HostPlatform.h"
#include "HostStrings.h"
#include "ICommand.h"
#include "IDataBase.h"
#include "OD_DataAccessor.h"
#include "OD_Preferences.h"
#include "ObjectModel.h"
#include "OrdoCommands.h"
#include "StringTables.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

namespace ordokit {

// A system folder of the test's own for as long as it lives: preference files
// and the record of jobs out are kept there.
class ScopedSystemFolder {
public:
    ScopedSystemFolder() {
        HostPlatform::SetSystemFolder(folder.Path());
        OD_PrefsData::ResetIdentityFolderForTesting();
    }
    ~ScopedSystemFolder() {
        HostPlatform::SetSystemFolder("");
        OD_PrefsData::ResetIdentityFolderForTesting();
    }
    ScopedSystemFolder(const ScopedSystemFolder&) = delete;
    ScopedSystemFolder& operator=(const ScopedSystemFolder&) = delete;
    const std::string& Path() const { return folder.Path(); }

private:
    TempDir folder;
};

// A fresh object model with the document model, the plug-in's records on
// image items and the string tables; no list rebuild hook.
inline void RegisterOrdoDocument() {
    ObjectModel::Get().Reset();
    RegisterDocumentModel();
    RegisterOrdoData();
    AddOrdoDataToImageItems();
    HostStrings::Reset();
    RegisterStringTables();
    ErrorUtils::PMSetGlobalErrorCode(kSuccess);
    SetOrdoListRebuildHook(nullptr);
}

// The records an item carries; expects them to read.
inline OD_ProcData Order(const UIDRef& item) {
    OD_ProcData order;
    EXPECT_EQ(OD_DataAccessor(item).Read(order), 0);
    return order;
}
inline OD_UndoData Undo(const UIDRef& item) {
    OD_UndoData undo;
    EXPECT_EQ(OD_UndoDataAccessor(item).Read(undo), 0);
    return undo;
}

inline UIDList ListOf(IDataBase* db, std::initializer_list<UIDRef> refs) {
    UIDList list(db);
    for (const UIDRef& r : refs) {
        list.Append(r);
    }
    return list;
}

} // namespace ordokit
