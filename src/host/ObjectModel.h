#pragma once

#include "HostIDs.h"
#include "IPMUnknown.h"
#include "UIDRef.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

class HostObject;
class IPMStream;

// What every implementation is to the object model, beside the interface it
// implements: a way back to that interface, and the transfer of its state
// through a persistence stream (persistent implementations only).
class HostImplementation {
public:
    virtual ~HostImplementation();
    virtual IPMUnknown* Unknown() = 0;
    // The object that carries this implementation.
    virtual IPMUnknown* Owner() const = 0;
    // Moves the whole state through the stream, which reads or writes.
    virtual void ReadWrite(IPMStream* stream, ImplementationID implementation);
};

// Base of implementations: forwards the object's reference counting and
// interface queries to the object that carries it.
template <class Interface> class CPMUnknown : public Interface, public HostImplementation {
public:
    explicit CPMUnknown(IPMUnknown* object) : object(object) {}

    IPMUnknown* QueryInterface(PMIID interfaceID) const override {
        return object->QueryInterface(interfaceID);
    }
    void AddRef() const override { object->AddRef(); }
    void Release() const override { object->Release(); }
    IPMUnknown* Unknown() override { return static_cast<Interface*>(this); }
    IPMUnknown* Owner() const override { return object; }

protected:
    // Tells the host that this implementation is about to change, so that the
    // change is saved and can be undone.
    void PreDirty();

private:
    IPMUnknown* object;
};

// Tells the database of the object that carries the implementation that it is
// about to change; nothing for objects outside a database.
void HostPreDirty(IPMUnknown* object, HostImplementation* implementation);

template <class Interface> void CPMUnknown<Interface>::PreDirty() {
    HostPreDirty(object, this);
}

// An implementation factory, as a plug-in registers it.
struct ImplementationFactory {
    ImplementationID id;
    const char* name;
    HostImplementation* (*create)(IPMUnknown* object);
    bool persistent;
};

template <class Impl> HostImplementation* CreateImplementation(IPMUnknown* object) {
    return new Impl(object);
}

// A class (boss): its interfaces with the implementation of each; a class
// takes its parent's interfaces too.
struct ClassDefinition {
    ClassID id;
    ClassID parent;
    std::vector<std::pair<PMIID, ImplementationID>> interfaces;
};

// The session's object model: implementation factories, the class table and
// additions to classes, and the making of objects.
class ObjectModel {
public:
    static ObjectModel& Get();

    void RegisterImplementation(const ImplementationFactory& factory);
    void DefineClass(const ClassDefinition& definition);
    // Puts one more interface on an existing class (and so on its subclasses).
    void AddIn(ClassID onClass, PMIID interfaceID, ImplementationID implementation);

    bool IsRegistered(ImplementationID id) const;
    bool IsPersistent(ImplementationID id) const;
    const char* ImplementationName(ImplementationID id) const;
    bool HasClass(ClassID id) const;
    // True when child is the class or one of its descendants.
    bool IsA(ClassID child, ClassID ancestor) const;
    // Every interface of the class with its implementation, the class's own
    // first, then its parents'.
    std::vector<std::pair<PMIID, ImplementationID>> InterfacesOf(ClassID id) const;

    // A new object that lives while references are held; null for an unknown
    // class. The caller holds the one reference (of the interface asked for).
    IPMUnknown* CreateObject(ClassID classID, PMIID interfaceID) const;

    // A new implementation for an object; null for an unregistered ID.
    HostImplementation* MakeImplementation(ImplementationID id, IPMUnknown* object) const;

    // Forgets every registration (tests and the end of a session).
    void Reset();

private:
    struct Impl;
    ObjectModel();
    std::unique_ptr<Impl> impl;
};

// The object that carries an interface: its class, database and UID.
ClassID GetClass(const IPMUnknown* anInterface);
IDataBase* GetDataBase(const IPMUnknown* anInterface);
UID GetUID(const IPMUnknown* anInterface);
UIDRef GetUIDRef(const IPMUnknown* anInterface);

// Creates an object of a class through the session's object model and returns
// the asked interface, with its reference held by the caller.
template <class T> InterfacePtr<T> CreateObject2(ClassID classID, PMIID interfaceID) {
    return InterfacePtr<T>(static_cast<T*>(ObjectModel::Get().CreateObject(classID, interfaceID)));
}
