#pragma once

#include "HostIDs.h"

#include <cstddef>
#include <utility>

// Base of every host interface. An object (a "boss") carries several
// implementations, each reached by its interface ID; references are counted
// on the object, not on the interface.
class IPMUnknown {
public:
    // The object's implementation of interfaceID with a reference added, or null.
    virtual IPMUnknown* QueryInterface(PMIID interfaceID) const = 0;
    virtual void AddRef() const = 0;
    virtual void Release() const = 0;

protected:
    virtual ~IPMUnknown() = default;
};

// Holds one reference to an interface and releases it when it goes.
template <class T> class InterfacePtr {
public:
    InterfacePtr() = default;
    // Adopts a reference that the caller already holds.
    explicit InterfacePtr(T* adopted) : p(adopted) {}
    // Queries another interface of the same object.
    InterfacePtr(const IPMUnknown* object, PMIID interfaceID)
        : p(object != nullptr ? static_cast<T*>(object->QueryInterface(interfaceID)) : nullptr) {}
    template <class U>
    InterfacePtr(const InterfacePtr<U>& other, PMIID interfaceID)
        : InterfacePtr(static_cast<const IPMUnknown*>(other.get()), interfaceID) {}
    InterfacePtr(const InterfacePtr& other) : p(other.p) {
        if (p != nullptr) {
            p->AddRef();
        }
    }
    InterfacePtr(InterfacePtr&& other) noexcept : p(other.p) { other.p = nullptr; }
    InterfacePtr& operator=(InterfacePtr other) noexcept {
        std::swap(p, other.p);
        return *this;
    }
    ~InterfacePtr() {
        if (p != nullptr) {
            p->Release();
        }
    }

    T* get() const { return p; }
    T* operator->() const { return p; }
    T& operator*() const { return *p; }
    explicit operator bool() const { return p != nullptr; }
    bool operator==(std::nullptr_t) const { return p == nullptr; }
    // Gives the reference up to the caller.
    T* forget() {
        T* r = p;
        p = nullptr;
        return r;
    }
    void reset(T* adopted = nullptr) { InterfacePtr(adopted).swap(*this); }
    void swap(InterfacePtr& other) noexcept { std::swap(p, other.p); }

private:
    T* p = nullptr;
};
