#include "IOrdoPrefsData.h"
#include "IPMStream.h"
#include "ObjectModel.h"

namespace {

// The dialog's copy of the preferences: a plain value.
class OrdoPrefsDataNonPersist : public CPMUnknown<IOrdoPrefsData> {
public:
    explicit OrdoPrefsDataNonPersist(IPMUnknown* object) : CPMUnknown<IOrdoPrefsData>(object) {}

    OD_PrefsData Get() const override { return prefs; }
    void Set(const OD_PrefsData& value) override { prefs = value; }

protected:
    OD_PrefsData prefs;
};

// The session's preferences, saved and restored by the host.
class OrdoPrefsDataPersist : public OrdoPrefsDataNonPersist {
public:
    using OrdoPrefsDataNonPersist::OrdoPrefsDataNonPersist;

    void Set(const OD_PrefsData& value) override {
        PreDirty();
        prefs = value;
    }

    // A stream that does not read as a record leaves the preferences as they
    // were, in its error state, so that the host sees the failure.
    void ReadWrite(IPMStream* stream, ImplementationID) override { prefs.ReadWrite(stream); }
};

} // namespace

void RegisterPreferenceImplementations() {
    ObjectModel& model = ObjectModel::Get();
    model.RegisterImplementation({kOrdoPrefsDataPersistImpl, "OrdoPrefsDataPersist",
                                  CreateImplementation<OrdoPrefsDataPersist>, true});
    model.RegisterImplementation({kOrdoPrefsDataNonPersistImpl, "OrdoPrefsDataNonPersist",
                                  CreateImplementation<OrdoPrefsDataNonPersist>, false});
}
