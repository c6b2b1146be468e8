#pragma once

#include "HostInterfaceIDs.h"
#include "IPMUnknown.h"
#include "ObjectModel.h"

#include <vector>

class ISubject;

// Told of the changes of the subjects it is attached to.
class IObserver : public IPMUnknown {
public:
    enum { kDefaultIID = IID_IOBSERVER.value };

    virtual void Update(ClassID theChange, ISubject* theSubject, PMIID protocol,
                        void* changedBy) = 0;
    virtual void AutoAttach() {}
    virtual void AutoDetach() {}
    virtual void SetEnabled(bool value) { enabled = value; }
    virtual bool IsEnabled() const { return enabled; }

private:
    bool enabled = true;
};

// Something that changes and tells its observers, each attached for one
// protocol (the interface ID that names what kind of change it wants).
class ISubject : public IPMUnknown {
public:
    enum { kDefaultIID = IID_ISUBJECT.value };

    virtual void AttachObserver(IObserver* observer, PMIID protocol) = 0;
    virtual void DetachObserver(IObserver* observer, PMIID protocol) = 0;
    virtual bool IsAttached(IObserver* observer, PMIID protocol) const = 0;
    // Tells every enabled observer attached for the protocol.
    virtual void Change(ClassID theChange, PMIID protocol, void* changedBy = nullptr) = 0;
};

// The subject implementation that any class can carry.
class CSubject : public CPMUnknown<ISubject> {
public:
    explicit CSubject(IPMUnknown* object) : CPMUnknown<ISubject>(object) {}

    void AttachObserver(IObserver* observer, PMIID protocol) override;
    void DetachObserver(IObserver* observer, PMIID protocol) override;
    bool IsAttached(IObserver* observer, PMIID protocol) const override;
    void Change(ClassID theChange, PMIID protocol, void* changedBy = nullptr) override;

private:
    struct Attachment {
        IObserver* observer;
        PMIID protocol;
    };
    std::vector<Attachment> attachments;
};
