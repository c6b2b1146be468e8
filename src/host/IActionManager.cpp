#include "IActionManager.h"

#include "HostRegistration.h"
#include "IApplication.h"
#include "ISession.h"

#include <algorithm>
#include <map>

IActiveContext::~IActiveContext() = default;

ActionID ActionStateList::GetNthAction(int32_t n) const {
    return n >= 0 && n < Length() ? entries[static_cast<std::size_t>(n)].action : kInvalidActionID;
}

int16_t ActionStateList::GetNthActionState(int32_t n) const {
    return n >= 0 && n < Length() ? entries[static_cast<std::size_t>(n)].state
                                  : static_cast<int16_t>(kDisabled_Unselected);
}

void ActionStateList::SetNthActionState(int32_t n, int16_t state) {
    if (n >= 0 && n < Length()) {
        entries[static_cast<std::size_t>(n)].state = state;
    }
}

namespace {

class ActionManager : public CPMUnknown<IActionManager> {
public:
    explicit ActionManager(IPMUnknown* object) : CPMUnknown<IActionManager>(object) {}

    bool AddAction(const ActionDefinition& definition) override {
        if (!definition.actionID.IsValid() || Find(definition.actionID) != nullptr) {
            return false;
        }
        Action action{definition, static_cast<int16_t>(definition.enabled ? kEnabledAction
                                                                          : kDisabled_Unselected)};
        actions.push_back(action);
        return true;
    }

    bool RemoveAction(ActionID actionID) override {
        auto it = std::find_if(actions.begin(), actions.end(),
                               [&](const Action& a) { return a.definition.actionID == actionID; });
        if (it == actions.end()) {
            return false;
        }
        actions.erase(it);
        return true;
    }

    bool IsValidAction(ActionID actionID) const override { return Find(actionID) != nullptr; }
    int32_t GetNumActions() const override { return static_cast<int32_t>(actions.size()); }

    ActionID GetNthAction(int32_t n) const override {
        return n >= 0 && n < GetNumActions()
                   ? actions[static_cast<std::size_t>(n)].definition.actionID
                   : kInvalidActionID;
    }

    PMString GetActionName(ActionID actionID) const override {
        const Action* a = Find(actionID);
        return a != nullptr ? a->definition.name : PMString();
    }

    ClassID GetComponentClass(ActionID actionID) const override {
        const Action* a = Find(actionID);
        return a != nullptr ? a->definition.componentClass : kInvalidClass;
    }

    bool IsEnabled(ActionID actionID) const override {
        const Action* a = Find(actionID);
        return a != nullptr && (a->state & kEnabledAction) != 0;
    }

    bool IsChecked(ActionID actionID) const override {
        const Action* a = Find(actionID);
        return a != nullptr && (a->state & kSelectedAction) != 0;
    }

    void UpdateActionStates(IActiveContext* ac, const std::vector<ActionID>& wanted) override {
        if (ac == nullptr) {
            ac = CurrentContext();
        }
        // One list per component, in the order the actions were asked for.
        std::vector<std::pair<ClassID, ActionStateList>> lists;
        auto consider = [&](const Action& a) {
            if (!a.definition.customEnabling) {
                return;
            }
            auto it = std::find_if(lists.begin(), lists.end(), [&](const auto& l) {
                return l.first == a.definition.componentClass;
            });
            if (it == lists.end()) {
                lists.emplace_back(a.definition.componentClass, ActionStateList());
                it = lists.end() - 1;
            }
            it->second.AddAction(a.definition.actionID, a.state);
        };
        if (wanted.empty()) {
            for (const Action& a : actions) {
                consider(a);
            }
        } else {
            for (ActionID id : wanted) {
                if (const Action* a = Find(id)) {
                    consider(*a);
                }
            }
        }
        for (auto& [componentClass, list] : lists) {
            InterfacePtr<IActionComponent> component = Component(componentClass);
            if (!component) {
                continue;
            }
            component->UpdateActionStates(ac, &list);
            for (int32_t n = 0; n < list.Length(); ++n) {
                if (Action* a = Find(list.GetNthAction(n))) {
                    a->state = list.GetNthActionState(n);
                }
            }
        }
    }

    ErrorCode PerformAction(ActionID actionID, IActiveContext* ac, IPMUnknown* widget) override {
        const Action* a = Find(actionID);
        if (a == nullptr) {
            return kFailure;
        }
        InterfacePtr<IActionComponent> component = Component(a->definition.componentClass);
        if (!component) {
            return kFailure;
        }
        component->DoAction(ac != nullptr ? ac : CurrentContext(), actionID, widget);
        return kSuccess;
    }

    ErrorCode PerformActionIfEnabled(ActionID actionID, IActiveContext* ac) override {
        if (!IsValidAction(actionID)) {
            return kFailure;
        }
        UpdateActionStates(ac, {actionID});
        if (!IsEnabled(actionID)) {
            return kFailure;
        }
        return PerformAction(actionID, ac, nullptr);
    }

private:
    struct Action {
        ActionDefinition definition;
        int16_t state;
    };

    const Action* Find(ActionID id) const {
        for (const Action& a : actions) {
            if (a.definition.actionID == id) {
                return &a;
            }
        }
        return nullptr;
    }
    Action* Find(ActionID id) {
        return const_cast<Action*>(static_cast<const ActionManager*>(this)->Find(id));
    }

    // One object per component class, made at first use and kept.
    InterfacePtr<IActionComponent> Component(ClassID componentClass) {
        auto it = components.find(componentClass);
        if (it == components.end()) {
            auto made = CreateObject2<IActionComponent>(componentClass, IID_IACTIONCOMPONENT);
            if (!made) {
                return {};
            }
            it = components.emplace(componentClass, made).first;
        }
        return it->second;
    }

    static IActiveContext* CurrentContext() {
        ISession* session = GetExecutionContextSession();
        InterfacePtr<IApplication> app(session != nullptr ? session->QueryApplication() : nullptr);
        return app ? app->GetActiveContext() : nullptr;
    }

    std::vector<Action> actions;
    std::map<ClassID, InterfacePtr<IActionComponent>> components;
};

} // namespace

void RegisterActionImplementations() {
    ObjectModel::Get().RegisterImplementation(
        {kActionManagerImpl, "ActionManager", CreateImplementation<ActionManager>, false});
}
