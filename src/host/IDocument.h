#pragma once

#include "DocumentIDs.h"
#include "IPMUnknown.h"
#include "PMString.h"
#include "UIDRef.h"

#include <cstdint>

class IDataBase;

// The document: the root object of its database, holding the spreads in
// order. The name and the file path belong to the open document, not to its
// content: they are not saved in the file and undo leaves them alone.
class IDocument : public IPMUnknown {
public:
    enum { kDefaultIID = IID_IDOCUMENT.value };

    virtual IDataBase* GetDocDataBase() const = 0;

    virtual PMString GetName() const = 0;
    virtual void SetName(const PMString& name) = 0;
    // The file the document was opened from or last saved to; empty for a
    // document that was never saved.
    virtual PMString GetFilePath() const = 0;
    virtual void SetFilePath(const PMString& path) = 0;

    virtual int32_t GetSpreadCount() const = 0;
    // kInvalidUID when out of range.
    virtual UID GetNthSpreadUID(int32_t index) const = 0;
    virtual UIDList GetSpreads() const = 0;
    // Every page, spread by spread.
    virtual UIDList GetPages() const = 0;

    // Building the document: puts a spread in at a position (-1: last).
    virtual void AddSpread(UID spread, int32_t position = -1) = 0;
};
