#pragma once

#include "HostInterfaceIDs.h"
#include "ISubject.h"

// Base of observer implementations: does nothing until a subclass says
// otherwise. AutoAttach and AutoDetach are called by whoever shows and hides
// what the observer watches (a panel, a dialog, the plug-in's own startup).
class CObserver : public CPMUnknown<IObserver> {
public:
    explicit CObserver(IPMUnknown* object, PMIID observerID = IID_IOBSERVER)
        : CPMUnknown<IObserver>(object), observerID(observerID) {}

    void Update(ClassID, ISubject*, PMIID, void*) override {}
    // The interface ID under which this observer sits on its object.
    PMIID GetObserverID() const { return observerID; }

private:
    PMIID observerID;
};
