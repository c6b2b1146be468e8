#pragma once

#include "HostIDs.h"
#include "IPMUnknown.h"
#include "OD_ServerLink.h"

inline constexpr PMIID IID_IORDOQORDATA{0x71906};

// The only implementation of IOrdoQORData: a plain holder, never saved. The
// link lives as long as the session (or the dialog) that carries it.
inline constexpr ImplementationID kOrdoQORDataNonPersistImpl{0x71917};

// The server-link record carried by an object. Callers work on copies: Get
// hands one out, Set copies one in (see OD_QORData for what a copy holds).
class IOrdoQORData : public IPMUnknown {
public:
    enum { kDefaultIID = IID_IORDOQORDATA.value };

    virtual OD_QORData Get() const = 0;
    virtual void Set(const OD_QORData& data) = 0;
};

// Registers the factory of OrdoQORDataNonPersist with the session's object
// model. Which classes carry it is the plug-in frame's business.
void RegisterServerLinkImplementations();
