#pragma once

#include "DocumentIDs.h"
#include "IPMUnknown.h"
#include "PMString.h"

// The link of a placed image to its file: the long name is the full path,
// the short name the file's name (the part after the last separator).
class IDataLink : public IPMUnknown {
public:
    enum { kDefaultIID = IID_IDATALINK.value };

    virtual PMString GetShortName() const = 0;
    virtual PMString GetLongName() const = 0;
    // Links to the file at the path (an empty path: no link).
    virtual void SetLongName(const PMString& path) = 0;
};
