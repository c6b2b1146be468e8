#include "IDataBase.h"

#include "HostObject.h"
#include "IPMStream.h"

#include <algorithm>
#include <cstdio>
#include <set>

IDatabaseObserver::~IDatabaseObserver() = default;

// What one command changed: the implementations it touched, as they were and
// as they became, and the objects it made or deleted with their whole state.
struct IDataBase::Step {
    PMString name;
    struct Change {
        UID uid;
        ImplementationID implementation;
        std::vector<uint8_t> before;
        std::vector<uint8_t> after;
        bool hasAfter = false;
    };
    struct Lifetime {
        bool created; // else deleted
        StoredObject state;
    };
    std::vector<Change> changes;
    std::vector<Lifetime> lifetimes;
    std::set<UID> createdHere;

    bool Empty() const { return changes.empty() && lifetimes.empty(); }
};

std::vector<uint8_t> WriteImplementation(HostImplementation& implementation, ImplementationID id) {
    MemoryStream out;
    implementation.ReadWrite(&out, id);
    return out.TakeBytes();
}

bool ReadImplementation(HostImplementation& implementation, ImplementationID id,
                        const std::vector<uint8_t>& bytes) {
    MemoryStream in(bytes);
    implementation.ReadWrite(&in, id);
    return in.Good() && in.Remaining() == 0;
}

IDataBase::IDataBase() = default;
IDataBase::~IDataBase() = default;

void IDataBase::Bury(UID uid) {
    auto it = objects.find(uid);
    if (it != objects.end()) {
        graveyard.push_back(std::move(it->second));
        objects.erase(it);
    }
}

HostObject* IDataBase::Find(UID uid) const {
    auto it = objects.find(uid);
    return it != objects.end() ? it->second.get() : nullptr;
}

UID IDataBase::NewUID(ClassID classID) {
    if (!ObjectModel::Get().HasClass(classID)) {
        return kInvalidUID;
    }
    UID uid(nextUID++);
    objects[uid] = std::make_unique<HostObject>(classID, this, uid);
    modified = true;
    if (open) {
        open->createdHere.insert(uid);
        open->lifetimes.push_back({true, StoredObject{uid, classID, {}}});
    }
    return uid;
}

void IDataBase::DeleteUID(UID uid) {
    HostObject* object = Find(uid);
    if (object == nullptr) {
        return;
    }
    if (open) {
        if (open->createdHere.count(uid) != 0) {
            // Made and deleted in one step: the step never shows it.
            std::erase_if(open->lifetimes,
                          [&](const Step::Lifetime& l) { return l.state.uid == uid; });
            std::erase_if(open->changes, [&](const Step::Change& c) { return c.uid == uid; });
            open->createdHere.erase(uid);
        } else {
            open->lifetimes.push_back({false, Store(*object)});
        }
    }
    ClassID classID = object->GetClass();
    Bury(uid);
    modified = true;
    if (!open) {
        NotifyChanged(uid, classID);
    }
}

bool IDataBase::IsValidUID(UID uid) const {
    return Find(uid) != nullptr;
}

ClassID IDataBase::GetClass(UID uid) const {
    HostObject* object = Find(uid);
    return object != nullptr ? object->GetClass() : kInvalidClass;
}

IPMUnknown* IDataBase::Instantiate(UID uid, PMIID interfaceID) const {
    HostObject* object = Find(uid);
    return object != nullptr ? object->QueryInterface(interfaceID) : nullptr;
}

std::vector<UID> IDataBase::AllUIDs() const {
    std::vector<UID> all;
    all.reserve(objects.size());
    for (const auto& [uid, object] : objects) {
        all.push_back(uid);
    }
    return all;
}

// ---- undo steps

void IDataBase::BeginTransaction(const PMString& name) {
    if (open) {
        return; // nested commands join the step of the outer one
    }
    open = std::make_unique<Step>();
    open->name = name;
}

bool IDataBase::InTransaction() const {
    return open != nullptr;
}

void IDataBase::PreDirty(HostObject* object, ImplementationID implementation) {
    modified = true;
    if (!open || object == nullptr || !ObjectModel::Get().IsPersistent(implementation)) {
        return;
    }
    UID uid = object->GetUID();
    if (open->createdHere.count(uid) != 0) {
        return;
    }
    for (const auto& change : open->changes) {
        if (change.uid == uid && change.implementation == implementation) {
            return; // the step already holds what it was
        }
    }
    HostImplementation* impl = object->Implementation(implementation);
    if (impl == nullptr) {
        return;
    }
    open->changes.push_back({uid, implementation, WriteImplementation(*impl, implementation), {}});
}

void IDataBase::EndTransaction() {
    if (!open) {
        return;
    }
    std::unique_ptr<Step> step = std::move(open);
    std::set<UID> touched;
    for (auto& change : step->changes) {
        touched.insert(change.uid);
        if (HostObject* object = Find(change.uid)) {
            if (HostImplementation* impl = object->Implementation(change.implementation)) {
                change.after = WriteImplementation(*impl, change.implementation);
                change.hasAfter = true;
            }
        }
    }
    for (auto& lifetime : step->lifetimes) {
        touched.insert(lifetime.state.uid);
        if (lifetime.created) {
            if (HostObject* object = Find(lifetime.state.uid)) {
                lifetime.state = Store(*object);
            }
        }
    }
    if (!step->Empty()) {
        undoSteps.push_back(std::move(step));
        redoSteps.clear();
    }
    for (UID uid : touched) {
        NotifyChanged(uid, GetClass(uid));
    }
    NotifyFlushed();
}

bool IDataBase::EndTransactionKeepingRedo() {
    if (!open) {
        return true;
    }
    if (!redoSteps.empty()) {
        std::set<std::pair<uint32_t, uint32_t>> parts; // (UID, implementation); 0: the whole object
        auto collect = [](const Step& step, std::set<std::pair<uint32_t, uint32_t>>& out) {
            for (const auto& change : step.changes) {
                out.insert({change.uid.Get(), change.implementation.Get()});
            }
            for (const auto& lifetime : step.lifetimes) {
                out.insert({lifetime.state.uid.Get(), 0});
            }
        };
        collect(*open, parts);
        for (const auto& redo : redoSteps) {
            std::set<std::pair<uint32_t, uint32_t>> other;
            collect(*redo, other);
            for (const auto& part : other) {
                const bool same = parts.count(part) != 0 || parts.count({part.first, 0}) != 0 ||
                                  (part.second == 0 &&
                                   std::any_of(parts.begin(), parts.end(), [&](const auto& p) {
                                       return p.first == part.first;
                                   }));
                if (same) {
                    AbortTransaction();
                    return false;
                }
            }
        }
    }
    std::vector<std::unique_ptr<Step>> keep;
    keep.swap(redoSteps);
    EndTransaction();
    keep.swap(redoSteps);
    return true;
}

bool IDataBase::RedoTouches(UID uid) const {
    for (const auto& step : redoSteps) {
        for (const auto& change : step->changes) {
            if (change.uid == uid) {
                return true;
            }
        }
        for (const auto& lifetime : step->lifetimes) {
            if (lifetime.state.uid == uid) {
                return true;
            }
        }
    }
    return false;
}

void IDataBase::AbortTransaction() {
    if (!open) {
        return;
    }
    std::unique_ptr<Step> step = std::move(open);
    Apply(*step, false);
}

void IDataBase::Apply(Step& step, bool forward) {
    std::set<UID> touched;
    if (forward) {
        for (const auto& lifetime : step.lifetimes) {
            if (lifetime.created) {
                Load(lifetime.state, nullptr);
            }
        }
        for (const auto& change : step.changes) {
            HostObject* object = Find(change.uid);
            HostImplementation* impl =
                object ? object->Implementation(change.implementation) : nullptr;
            if (impl != nullptr && change.hasAfter) {
                ReadImplementation(*impl, change.implementation, change.after);
            }
            touched.insert(change.uid);
        }
        for (const auto& lifetime : step.lifetimes) {
            if (!lifetime.created) {
                Bury(lifetime.state.uid);
            }
            touched.insert(lifetime.state.uid);
        }
    } else {
        for (auto it = step.lifetimes.rbegin(); it != step.lifetimes.rend(); ++it) {
            if (!it->created) {
                Load(it->state, nullptr);
            }
        }
        for (auto it = step.changes.rbegin(); it != step.changes.rend(); ++it) {
            HostObject* object = Find(it->uid);
            HostImplementation* impl =
                object ? object->Implementation(it->implementation) : nullptr;
            if (impl != nullptr) {
                ReadImplementation(*impl, it->implementation, it->before);
            }
            touched.insert(it->uid);
        }
        for (const auto& lifetime : step.lifetimes) {
            if (lifetime.created) {
                Bury(lifetime.state.uid);
            }
            touched.insert(lifetime.state.uid);
        }
    }
    modified = true;
    for (UID uid : touched) {
        NotifyChanged(uid, GetClass(uid));
    }
    NotifyFlushed();
}

bool IDataBase::CanUndo() const {
    return !undoSteps.empty() && !open;
}
bool IDataBase::CanRedo() const {
    return !redoSteps.empty() && !open;
}

PMString IDataBase::GetUndoName() const {
    return undoSteps.empty() ? PMString() : undoSteps.back()->name;
}

PMString IDataBase::GetRedoName() const {
    return redoSteps.empty() ? PMString() : redoSteps.back()->name;
}

int32_t IDataBase::UndoCount() const {
    return static_cast<int32_t>(undoSteps.size());
}

bool IDataBase::Undo() {
    if (!CanUndo()) {
        return false;
    }
    std::unique_ptr<Step> step = std::move(undoSteps.back());
    undoSteps.pop_back();
    Apply(*step, false);
    redoSteps.push_back(std::move(step));
    return true;
}

bool IDataBase::Redo() {
    if (!CanRedo()) {
        return false;
    }
    std::unique_ptr<Step> step = std::move(redoSteps.back());
    redoSteps.pop_back();
    Apply(*step, true);
    undoSteps.push_back(std::move(step));
    return true;
}

// ---- stored state

IDataBase::StoredObject IDataBase::Store(const HostObject& object) const {
    StoredObject stored{object.GetUID(), object.GetClass(), {}};
    const ObjectModel& model = ObjectModel::Get();
    for (const auto& slot : object.Slots()) {
        if (slot.implementation && model.IsPersistent(slot.implementationID)) {
            stored.implementations[slot.implementationID.Get()] =
                WriteImplementation(*slot.implementation, slot.implementationID);
        }
    }
    return stored;
}

bool IDataBase::Load(const StoredObject& stored, std::string* why) {
    if (!ObjectModel::Get().HasClass(stored.classID) || !stored.uid.Get()) {
        if (why != nullptr) {
            *why = "object " + std::to_string(stored.uid.Get()) + " has an unknown class 0x" + [&] {
                char hex[16];
                std::snprintf(hex, sizeof hex, "%X", stored.classID.Get());
                return std::string(hex);
            }();
        }
        return false;
    }
    auto object = std::make_unique<HostObject>(stored.classID, this, stored.uid);
    for (const auto& [id, bytes] : stored.implementations) {
        ImplementationID implementationID(id);
        HostImplementation* impl = object->Implementation(implementationID);
        if (impl == nullptr) {
            continue; // a plug-in that is not loaded: its data is dropped
        }
        if (!ReadImplementation(*impl, implementationID, bytes)) {
            if (why != nullptr) {
                *why = "object " + std::to_string(stored.uid.Get()) + ": the data of " +
                       ObjectModel::Get().ImplementationName(implementationID) +
                       " does not read back";
            }
            return false;
        }
    }
    objects[stored.uid] = std::move(object);
    nextUID = std::max(nextUID, stored.uid.Get() + 1);
    return true;
}

std::vector<IDataBase::StoredObject> IDataBase::Snapshot() const {
    std::vector<StoredObject> all;
    for (const auto& [uid, object] : objects) {
        all.push_back(Store(*object));
    }
    return all;
}

bool IDataBase::Restore(const std::vector<StoredObject>& stored, UID rootUID, std::string& why) {
    std::map<UID, std::unique_ptr<HostObject>> previous;
    previous.swap(objects);
    uint32_t previousNext = nextUID;
    nextUID = 1;
    for (const auto& object : stored) {
        if (objects.count(object.uid) != 0) {
            why = "object " + std::to_string(object.uid.Get()) + " appears twice";
        } else if (Load(object, &why)) {
            continue;
        }
        objects = std::move(previous);
        nextUID = previousNext;
        return false;
    }
    if (rootUID.Get() != 0 && objects.count(rootUID) == 0) {
        why = "the root object " + std::to_string(rootUID.Get()) + " is missing";
        objects = std::move(previous);
        nextUID = previousNext;
        return false;
    }
    for (auto& [uid, object] : previous) {
        graveyard.push_back(std::move(object));
    }
    root = rootUID;
    undoSteps.clear();
    redoSteps.clear();
    open.reset();
    modified = false;
    return true;
}

// ---- observers

void IDataBase::AddObserver(IDatabaseObserver* observer) {
    if (std::find(observers.begin(), observers.end(), observer) == observers.end()) {
        observers.push_back(observer);
    }
}

void IDataBase::RemoveObserver(IDatabaseObserver* observer) {
    std::erase(observers, observer);
}

void IDataBase::NotifyChanged(UID uid, ClassID classID) {
    for (IDatabaseObserver* observer : std::vector<IDatabaseObserver*>(observers)) {
        observer->Changed(uid, classID);
    }
}

void IDataBase::NotifyFlushed() {
    for (IDatabaseObserver* observer : std::vector<IDatabaseObserver*>(observers)) {
        observer->Flushed();
    }
}

bool UIDRef::ExistsInDB() const {
    return db != nullptr && db->IsValidUID(uid);
}

const UIDRef UIDRef::gNull;

int32_t UIDList::Location(UID uid) const {
    auto it = std::find(uids.begin(), uids.end(), uid);
    return it != uids.end() ? static_cast<int32_t>(it - uids.begin()) : -1;
}
