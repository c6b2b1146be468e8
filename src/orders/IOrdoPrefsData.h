#pragma once

#include "HostIDs.h"
#include "IPMUnknown.h"
#include "OD_Preferences.h"

inline constexpr PMIID IID_IORDOPREFSDATA{0x71905};

// Implementations of IOrdoPrefsData: the persistent one on the host session
// (saved and restored by the host with the session), the plain copy on the
// preferences dialog.
inline constexpr ImplementationID kOrdoPrefsDataPersistImpl{0x71912};
inline constexpr ImplementationID kOrdoPrefsDataNonPersistImpl{0x71916};

// The preferences record carried by an object. Callers always work on a copy:
// Get hands one out, Set copies one in.
class IOrdoPrefsData : public IPMUnknown {
public:
    enum { kDefaultIID = IID_IORDOPREFSDATA.value };

    virtual OD_PrefsData Get() const = 0;
    // The persistent implementation tells the host first that it is about to
    // change, so that the change is saved.
    virtual void Set(const OD_PrefsData& prefs) = 0;
};

// Registers the factories of OrdoPrefsDataPersist and OrdoPrefsDataNonPersist
// with the session's object model. Which classes carry them is the plug-in
// frame's business.
void RegisterPreferenceImplementations();
