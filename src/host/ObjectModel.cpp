#include "ObjectModel.h"

#include "HostObject.h"
#include "IDataBase.h"

#include <algorithm>
#include <unordered_map>

HostImplementation::~HostImplementation() = default;

void HostImplementation::ReadWrite(IPMStream*, ImplementationID) {}

struct ObjectModel::Impl {
    std::unordered_map<ImplementationID, ImplementationFactory> factories;
    std::unordered_map<ClassID, ClassDefinition> classes;
};

ObjectModel::ObjectModel() : impl(std::make_unique<Impl>()) {}

ObjectModel& ObjectModel::Get() {
    static ObjectModel model;
    return model;
}

void ObjectModel::RegisterImplementation(const ImplementationFactory& factory) {
    impl->factories[factory.id] = factory;
}

void ObjectModel::DefineClass(const ClassDefinition& definition) {
    impl->classes[definition.id] = definition;
}

void ObjectModel::AddIn(ClassID onClass, PMIID interfaceID, ImplementationID implementation) {
    auto& definition = impl->classes[onClass];
    definition.id = onClass;
    for (auto& entry : definition.interfaces) {
        if (entry.first == interfaceID) {
            entry.second = implementation;
            return;
        }
    }
    definition.interfaces.emplace_back(interfaceID, implementation);
}

bool ObjectModel::IsRegistered(ImplementationID id) const {
    return impl->factories.count(id) != 0;
}

bool ObjectModel::IsPersistent(ImplementationID id) const {
    auto it = impl->factories.find(id);
    return it != impl->factories.end() && it->second.persistent;
}

const char* ObjectModel::ImplementationName(ImplementationID id) const {
    auto it = impl->factories.find(id);
    return it != impl->factories.end() ? it->second.name : "";
}

bool ObjectModel::HasClass(ClassID id) const {
    return impl->classes.count(id) != 0;
}

bool ObjectModel::IsA(ClassID child, ClassID ancestor) const {
    for (int depth = 0; depth < 64 && child.IsValid(); ++depth) {
        if (child == ancestor) {
            return true;
        }
        auto it = impl->classes.find(child);
        if (it == impl->classes.end()) {
            return false;
        }
        child = it->second.parent;
    }
    return false;
}

std::vector<std::pair<PMIID, ImplementationID>> ObjectModel::InterfacesOf(ClassID id) const {
    std::vector<std::pair<PMIID, ImplementationID>> all;
    // A class's own entry wins over its parent's for the same interface; the
    // depth bound keeps a cycle in a class table from looping.
    for (int depth = 0; depth < 64 && id.IsValid(); ++depth) {
        auto it = impl->classes.find(id);
        if (it == impl->classes.end()) {
            break;
        }
        for (const auto& entry : it->second.interfaces) {
            bool shadowed = std::any_of(all.begin(), all.end(),
                                        [&](const auto& e) { return e.first == entry.first; });
            if (!shadowed) {
                all.push_back(entry);
            }
        }
        id = it->second.parent;
    }
    return all;
}

IPMUnknown* ObjectModel::CreateObject(ClassID classID, PMIID interfaceID) const {
    if (!HasClass(classID)) {
        return nullptr;
    }
    auto* object = new HostObject(classID, nullptr, kInvalidUID);
    object->AddRef();
    IPMUnknown* result = object->QueryInterface(interfaceID);
    object->Release(); // the object now lives by the reference of result, if any
    return result;
}

HostImplementation* ObjectModel::MakeImplementation(ImplementationID id, IPMUnknown* object) const {
    auto it = impl->factories.find(id);
    return it != impl->factories.end() ? it->second.create(object) : nullptr;
}

void ObjectModel::Reset() {
    impl->factories.clear();
    impl->classes.clear();
}

// ---- objects

HostObject::HostObject(ClassID classID, IDataBase* db, UID uid)
    : classID(classID), db(db), uid(uid) {
    const ObjectModel& model = ObjectModel::Get();
    for (const auto& [interfaceID, implementationID] : model.InterfacesOf(classID)) {
        Slot slot{interfaceID, implementationID, nullptr};
        // Two interfaces served by one implementation share one instance.
        if (Implementation(implementationID) == nullptr) {
            slot.implementation.reset(model.MakeImplementation(implementationID, this));
        }
        slots.push_back(std::move(slot));
    }
}

HostObject::~HostObject() = default;

HostImplementation* HostObject::Implementation(ImplementationID id) const {
    for (const auto& slot : slots) {
        if (slot.implementationID == id && slot.implementation) {
            return slot.implementation.get();
        }
    }
    return nullptr;
}

ImplementationID HostObject::ImplementationOf(const HostImplementation* implementation) const {
    for (const auto& slot : slots) {
        if (slot.implementation.get() == implementation) {
            return slot.implementationID;
        }
    }
    return kInvalidImpl;
}

IPMUnknown* HostObject::QueryInterface(PMIID interfaceID) const {
    for (const auto& slot : slots) {
        if (slot.interfaceID == interfaceID) {
            HostImplementation* implementation = Implementation(slot.implementationID);
            if (implementation == nullptr) {
                return nullptr;
            }
            AddRef();
            return implementation->Unknown();
        }
    }
    return nullptr;
}

void HostObject::AddRef() const {
    ++references;
}

void HostObject::Release() const {
    if (--references == 0 && db == nullptr) {
        delete this;
    }
}

HostObject* HostObject::From(const IPMUnknown* anInterface) {
    if (anInterface == nullptr) {
        return nullptr;
    }
    if (const auto* object = dynamic_cast<const HostObject*>(anInterface)) {
        return const_cast<HostObject*>(object);
    }
    const auto* implementation = dynamic_cast<const HostImplementation*>(anInterface);
    if (implementation == nullptr) {
        return nullptr;
    }
    return dynamic_cast<HostObject*>(implementation->Owner());
}

ClassID GetClass(const IPMUnknown* anInterface) {
    HostObject* o = HostObject::From(anInterface);
    return o != nullptr ? o->GetClass() : kInvalidClass;
}

IDataBase* GetDataBase(const IPMUnknown* anInterface) {
    HostObject* o = HostObject::From(anInterface);
    return o != nullptr ? o->GetDataBase() : nullptr;
}

UID GetUID(const IPMUnknown* anInterface) {
    HostObject* o = HostObject::From(anInterface);
    return o != nullptr ? o->GetUID() : kInvalidUID;
}

UIDRef GetUIDRef(const IPMUnknown* anInterface) {
    HostObject* o = HostObject::From(anInterface);
    return o != nullptr ? UIDRef(o->GetDataBase(), o->GetUID()) : UIDRef();
}

void HostPreDirty(IPMUnknown* object, HostImplementation* implementation) {
    auto* host = dynamic_cast<HostObject*>(object);
    if (host == nullptr || host->GetDataBase() == nullptr) {
        return;
    }
    host->GetDataBase()->PreDirty(host, host->ImplementationOf(implementation));
}
