#pragma once

#include "ObjectModel.h"

#include <atomic>
#include <memory>
#include <vector>

// An object of a class: one implementation per interface of its class. An
// object without a database lives while references are held; an object of a
// database lives until the database deletes it.
class HostObject final : public IPMUnknown {
public:
    HostObject(ClassID classID, IDataBase* db, UID uid);
    ~HostObject() override;

    IPMUnknown* QueryInterface(PMIID interfaceID) const override;
    void AddRef() const override;
    void Release() const override;

    ClassID GetClass() const { return classID; }
    IDataBase* GetDataBase() const { return db; }
    UID GetUID() const { return uid; }

    struct Slot {
        PMIID interfaceID;
        ImplementationID implementationID;
        std::unique_ptr<HostImplementation> implementation;
    };
    const std::vector<Slot>& Slots() const { return slots; }
    // The implementation ID of an implementation of this object.
    ImplementationID ImplementationOf(const HostImplementation* implementation) const;
    HostImplementation* Implementation(ImplementationID id) const;

    // The object behind any of its interfaces (null for a foreign interface).
    static HostObject* From(const IPMUnknown* anInterface);

private:
    ClassID classID;
    IDataBase* db;
    UID uid;
    std::vector<Slot> slots;
    mutable int32_t references = 0;
};
