#pragma once

#include "DocumentIDs.h"
#include "IDataBase.h"
#include "IPMUnknown.h"
#include "UIDRef.h"

#include <cstdint>

// Registers the document model's implementations and classes with the
// session's object model. Calling it again changes nothing; interfaces that
// plug-ins added to the model's classes (ObjectModel::AddIn), before or after,
// stay on them.
void RegisterDocumentModel();

// True for the implementation IDs of the document model itself (as opposed to
// those that plug-ins add to its classes).
bool IsDocumentModelImplementation(ImplementationID id);

// Groups nest at most this deep below their spread (a frame in the deepest
// group and its image included); the document file loader enforces it too.
inline constexpr int32_t kMaxNestingDepth = 64;

// The interface of the object that ref names, with a reference held by the
// caller, or null.
template <class T>
InterfacePtr<T> InterfaceOf(const UIDRef& ref, PMIID iid = PMIID(T::kDefaultIID)) {
    IDataBase* db = ref.GetDataBase();
    return InterfacePtr<T>(db != nullptr ? static_cast<T*>(db->Instantiate(ref.GetUID(), iid))
                                         : nullptr);
}

// Deletes a page item with everything in it, taking it out of its parent.
// Used inside a change (DocumentUtils::ProcessChange) so that it can be undone.
void DeleteItemTree(IDataBase* db, UID item);
