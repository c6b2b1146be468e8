#pragma once

#include "HostInterfaceIDs.h"
#include "IPMUnknown.h"
#include "ObjectModel.h"
#include "PMString.h"
#include "SessionIDs.h"
#include "UIDRef.h"

#include <cstdint>
#include <vector>

class IDataBase;

// What an action works on: the front document and its selection, as the
// host saw them when the action was asked for.
class IActiveContext {
public:
    virtual ~IActiveContext();
    // The document's database, or null when no document is open.
    virtual IDataBase* GetContextDocument() const = 0;
    // The document object.
    virtual UIDRef GetContextDocumentRef() const = 0;
    // The object that carries the selection suites of the document (null
    // without a document or without a selection object).
    virtual IPMUnknown* GetContextSelection() const = 0;
};

// A context made from given parts.
class HostActiveContext : public IActiveContext {
public:
    HostActiveContext() = default;
    HostActiveContext(const UIDRef& document, IPMUnknown* selection)
        : document(document), selection(selection) {}
    IDataBase* GetContextDocument() const override { return document.GetDataBase(); }
    UIDRef GetContextDocumentRef() const override { return document; }
    IPMUnknown* GetContextSelection() const override { return selection; }

private:
    UIDRef document;
    IPMUnknown* selection = nullptr;
};

// Action states.
enum ActionStateFlags : int16_t {
    kDisabled_Unselected = 0,
    kEnabledAction = 1,
    // Shown with a check mark.
    kSelectedAction = 2,
};

// The actions whose state an action component is asked for, each with the
// state the host gives it; the component changes the states it decides.
class ActionStateList {
public:
    void AddAction(ActionID action, int16_t state) { entries.push_back({action, state}); }
    int32_t Length() const { return static_cast<int32_t>(entries.size()); }
    ActionID GetNthAction(int32_t n) const;
    int16_t GetNthActionState(int32_t n) const;
    // Out-of-range n is ignored.
    void SetNthActionState(int32_t n, int16_t state);

private:
    struct Entry {
        ActionID action;
        int16_t state;
    };
    std::vector<Entry> entries;
};

// Handles a plug-in's actions: an interface on the component class that the
// actions name.
class IActionComponent : public IPMUnknown {
public:
    enum { kDefaultIID = IID_IACTIONCOMPONENT.value };

    // Runs the action; widget is the widget that asked for it, if any.
    virtual void DoAction(IActiveContext* ac, ActionID actionID, IPMUnknown* widget = nullptr) = 0;
    // Sets the states of the listed actions that the component decides.
    virtual void UpdateActionStates(IActiveContext* ac, ActionStateList* listToUpdate,
                                    IPMUnknown* widget = nullptr) = 0;
};

// Base of action components: does nothing and leaves every state as given.
class CActionComponent : public CPMUnknown<IActionComponent> {
public:
    explicit CActionComponent(IPMUnknown* object) : CPMUnknown<IActionComponent>(object) {}
    void DoAction(IActiveContext*, ActionID, IPMUnknown*) override {}
    void UpdateActionStates(IActiveContext*, ActionStateList*, IPMUnknown*) override {}
};

// One action as a plug-in defines it.
struct ActionDefinition {
    ActionID actionID;
    // The class whose IActionComponent runs the action.
    ClassID componentClass;
    // String key of the action's name (menus, the shortcut editor).
    PMString name;
    // The component is asked for the action's state (UpdateActionStates);
    // otherwise the state stays as defined.
    bool customEnabling = true;
    // The state before the component is first asked (or for good).
    bool enabled = true;
};

// The application's actions, by ID (on the action manager object, which also
// carries the shortcut manager).
class IActionManager : public IPMUnknown {
public:
    enum { kDefaultIID = IID_IACTIONMANAGER.value };

    // False when the ID is invalid or already defined.
    virtual bool AddAction(const ActionDefinition& definition) = 0;
    virtual bool RemoveAction(ActionID actionID) = 0;
    virtual bool IsValidAction(ActionID actionID) const = 0;
    virtual int32_t GetNumActions() const = 0;
    // Actions in the order they were added; kInvalidActionID out of range.
    virtual ActionID GetNthAction(int32_t n) const = 0;
    virtual PMString GetActionName(ActionID actionID) const = 0;
    virtual ClassID GetComponentClass(ActionID actionID) const = 0;

    // The state the action had when last updated (false for an unknown one).
    virtual bool IsEnabled(ActionID actionID) const = 0;
    virtual bool IsChecked(ActionID actionID) const = 0;
    // Asks the components for the states of the actions (all actions when
    // the list is empty). A null context means the application's current one.
    virtual void UpdateActionStates(IActiveContext* ac, const std::vector<ActionID>& actions) = 0;

    // Runs the action through its component, whatever its state (a caller
    // that goes by the state updates and tests it first). kFailure for an
    // unknown action or a component class that cannot be made.
    virtual ErrorCode PerformAction(ActionID actionID, IActiveContext* ac = nullptr,
                                    IPMUnknown* widget = nullptr) = 0;
    // Updates the action's state and runs it only when it is enabled.
    virtual ErrorCode PerformActionIfEnabled(ActionID actionID, IActiveContext* ac = nullptr) = 0;
};
