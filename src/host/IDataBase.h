#pragma once

#include "HostIDs.h"
#include "IPMUnknown.h"
#include "PMString.h"
#include "UIDRef.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class HostObject;
class HostImplementation;

// Told of what changes in a database: after each command, undo and redo.
class IDatabaseObserver {
public:
    virtual ~IDatabaseObserver();
    // An object was made, changed or deleted (its class given).
    virtual void Changed(UID uid, ClassID classID) = 0;
    // A command, undo or redo finished.
    virtual void Flushed() = 0;
};

// One document's objects by UID, with the undo history of the commands that
// changed them. Persistent implementations are kept as the bytes their
// ReadWrite writes whenever a change must be undone or saved.
class IDataBase {
public:
    IDataBase();
    ~IDataBase();
    IDataBase(const IDataBase&) = delete;
    IDataBase& operator=(const IDataBase&) = delete;

    // Makes an object of the class in this database; kInvalidUID for an
    // unknown class.
    UID NewUID(ClassID classID);
    void DeleteUID(UID uid);
    bool IsValidUID(UID uid) const;
    ClassID GetClass(UID uid) const;
    // The object's implementation of the interface with a reference added, or null.
    IPMUnknown* Instantiate(UID uid, PMIID interfaceID) const;
    // Every UID, in increasing order.
    std::vector<UID> AllUIDs() const;
    UID GetRootUID() const { return root; }
    void SetRootUID(UID uid) { root = uid; }

    // Undo steps. A command opens a step; implementations call PreDirty before
    // they change; the step keeps what they were and, when it ends, what they
    // became.
    void BeginTransaction(const PMString& name);
    void EndTransaction();
    // Ends the open step without dropping what can be redone, for changes the
    // application makes by itself (in idle time) rather than at the user's
    // word. When an object part the step changed is also changed by a step
    // that can be redone, the two cannot be kept apart: the step is undone and
    // dropped instead (false), and the change is to be tried again later.
    bool EndTransactionKeepingRedo();
    // Whether a step that can be redone changes the object.
    bool RedoTouches(UID uid) const;
    // Puts back everything the open step changed and drops the step.
    void AbortTransaction();
    bool InTransaction() const;
    bool CanUndo() const;
    bool CanRedo() const;
    PMString GetUndoName() const;
    PMString GetRedoName() const;
    bool Undo();
    bool Redo();
    int32_t UndoCount() const;

    // Called by an implementation about to change (see CPMUnknown::PreDirty).
    void PreDirty(HostObject* object, ImplementationID implementation);
    // The database holds changes not yet saved.
    bool IsModified() const { return modified; }
    void SetModified(bool value) { modified = value; }

    void AddObserver(IDatabaseObserver* observer);
    void RemoveObserver(IDatabaseObserver* observer);
    int32_t ObserverCount() const { return static_cast<int32_t>(observers.size()); }

    // The persistent state of every object: class and the bytes of each
    // persistent implementation. Restore replaces the whole content.
    struct StoredObject {
        UID uid;
        ClassID classID;
        std::map<uint32_t, std::vector<uint8_t>> implementations; // by implementation ID
    };
    std::vector<StoredObject> Snapshot() const;
    // Fails (false, with a reason) when an object names an unknown class or an
    // implementation does not read its bytes back whole.
    bool Restore(const std::vector<StoredObject>& objects, UID rootUID, std::string& why);

private:
    struct Step;
    HostObject* Find(UID uid) const;
    // Takes a deleted object out of the database; it is kept until the
    // database goes, so that an interface still held on it stays valid.
    void Bury(UID uid);
    StoredObject Store(const HostObject& object) const;
    bool Load(const StoredObject& stored, std::string* why);
    void Apply(Step& step, bool forward);
    void NotifyChanged(UID uid, ClassID classID);
    void NotifyFlushed();

    std::map<UID, std::unique_ptr<HostObject>> objects;
    std::vector<std::unique_ptr<HostObject>> graveyard;
    uint32_t nextUID = 1;
    UID root;
    std::vector<std::unique_ptr<Step>> undoSteps;
    std::vector<std::unique_ptr<Step>> redoSteps;
    std::unique_ptr<Step> open;
    bool modified = false;
    std::vector<IDatabaseObserver*> observers;
};

// The persistent bytes of one implementation, and their reading back.
std::vector<uint8_t> WriteImplementation(HostImplementation& implementation, ImplementationID id);
bool ReadImplementation(HostImplementation& implementation, ImplementationID id,
                        const std::vector<uint8_t>& bytes);
