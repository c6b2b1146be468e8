#include "OrdoActions.h"

#include "OrdoPickupFlow.h"

#include "CAlert.h"
#include "IActionManager.h"
#include "IApplication.h"
#include "IMG_Exception.h"
#include "IMenuManager.h"
#include "ISession.h"
#include "OrdoActionFlows.h"
#include "OrdoImgOptDialog.h"
#include "OrdoPanel.h"
#include "OrdoPanelState.h"
#include "OrdoPrefsDialog.h"

#include <cstdio>
#include <exception>
#include <utility>

namespace {

OrdoIdleTaskSwitch gStop = nullptr;
OrdoIdleTaskSwitch gStart = nullptr;
OrdoOptionsDialogRunner gOptionsDialog;

void SetState(ActionStateList* list, int32_t n, bool enabled) {
    int16_t state = list->GetNthActionState(n);
    state = static_cast<int16_t>(enabled ? (state | kEnabledAction) : (state & ~kEnabledAction));
    list->SetNthActionState(n, state);
}

// Runs one flow; nothing a flow raises reaches the host.
template <class Flow> void Guarded(const char* name, Flow flow) {
    try {
        flow();
    } catch (const IMG_Exception&) {
        std::fprintf(stderr, "OrdoDesk: %s stopped on an error\n", name);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "OrdoDesk: %s stopped: %s\n", name, e.what());
    }
}

class OrdoActionComponent : public CActionComponent {
public:
    explicit OrdoActionComponent(IPMUnknown* object) : CActionComponent(object) {}

    void DoAction(IActiveContext* ac, ActionID actionID, IPMUnknown*) override {
        switch (actionID.Get()) {
        case kOrdoAboutActionID.Get():
        case kOrdoPanelAboutActionID.Get():
            Guarded("About", ShowOrdoAbout);
            break;
        case kOrdoAddSelectionActionID.Get():
            Guarded("Add Selected Item(s)", [ac] { AddSelectedItems(ac); });
            break;
        case kOrdoSendSelectionActionID.Get():
            Guarded("Send Selected Orders", [] { SendListedOrders(false); });
            break;
        case kOrdoPreferencesActionID.Get():
            Guarded("Preferences", EditPreferences);
            break;
        case kOrdoEditSelectionActionID.Get():
            Guarded("Edit Selected Item", EditSelectedItems);
            break;
        case kOrdoSendAllActionID.Get():
            Guarded("Send all orders", [] { SendListedOrders(true); });
            break;
        case kOrdoUndoRedoActionID.Get():
            Guarded("Undo Redo Process", UndoRedoSelectedItems);
            break;
        case kOrdoShowSelectedActionID.Get():
            Guarded("Show Selected Item", ShowSelectedItem);
            break;
        case kOrdoPickupActionID.Get():
            Guarded("Pick Up Results", PickUpResults);
            break;
        default:
            break;
        }
    }

    void UpdateActionStates(IActiveContext*, ActionStateList* list, IPMUnknown*) override {
        if (list == nullptr || GetOrdoPanelList() == nullptr) {
            return;
        }
        OrdoActionStates states;
        try {
            states = ComputeOrdoActionStates(OrdoPanelItemList(), OrdoPanelSelectedItems());
        } catch (const std::exception&) {
            return;
        } catch (const IMG_Exception&) {
            return;
        }
        for (int32_t n = 0; n < list->Length(); ++n) {
            const ActionID action = list->GetNthAction(n);
            if (action == kOrdoSendSelectionActionID) {
                SetState(list, n, states.sendSelected);
            } else if (action == kOrdoEditSelectionActionID) {
                SetState(list, n, states.editSelected);
            } else if (action == kOrdoSendAllActionID) {
                SetState(list, n, states.sendAll);
            } else if (action == kOrdoUndoRedoActionID) {
                SetState(list, n, states.undoRedo);
            } else if (action == kOrdoShowSelectedActionID) {
                SetState(list, n, states.showSelected);
            } else if (action == kOrdoPickupActionID) {
                SetState(list, n, states.pickup);
            }
        }
    }
};

// The actions whose state follows the orders list.
bool FollowsOrdersList(ActionID action) {
    return action == kOrdoSendSelectionActionID || action == kOrdoEditSelectionActionID ||
           action == kOrdoSendAllActionID || action == kOrdoUndoRedoActionID ||
           action == kOrdoShowSelectedActionID || action == kOrdoPickupActionID;
}

void AddActions(IActionManager* actions) {
    actions->AddAction({kOrdoAboutActionID, kOrdoActionComponentBoss,
                        PMString("0x71900kOrdoAboutMenuKey"), false, true});
    actions->AddAction({kOrdoPanelAboutActionID, kOrdoActionComponentBoss,
                        PMString("About this pl&ug-in..."), false, true});
    for (const OrdoShortcutAction& entry : kOrdoShortcutActions) {
        actions->AddAction({entry.action, kOrdoActionComponentBoss, PMString(entry.nameKey),
                            FollowsOrdersList(entry.action), true});
    }
}

void AddMenuEntries(IMenuManager* menus) {
    menus->AddMenuItem({kOrdoAboutActionID, PMString(kOrdoAboutMenuPath), 1.0, false, PMString()});
    const PMString panelMenu(kOrdoPanelMenuPath);
    double position = 1.0;
    for (const OrdoShortcutAction& entry : kOrdoShortcutActions) {
        menus->AddMenuItem({entry.action, panelMenu, position, false, PMString()});
        position += 1.0;
    }
    menus->AddMenuItem({kOrdoSeparatorActionID, panelMenu, 10.0, true, PMString()});
    menus->AddMenuItem({kOrdoPanelAboutActionID, panelMenu, 11.0, false, PMString()});
}

} // namespace

void EditPreferences() {
    // The pickup must not use the server link while the user changes it.
    if (gStop != nullptr) {
        gStop();
    }
    RunPreferencesDialog();
    if (gStart != nullptr) {
        gStart();
    }
}

void RegisterOrdoActions() {
    ObjectModel& model = ObjectModel::Get();
    model.RegisterImplementation({kOrdoActionComponentImpl, "OrdoActionComponent",
                                  CreateImplementation<OrdoActionComponent>, false});
    if (!model.HasClass(kOrdoActionComponentBoss)) {
        model.DefineClass({kOrdoActionComponentBoss,
                           kInvalidClass,
                           {{IID_IACTIONCOMPONENT, kOrdoActionComponentImpl}}});
    }
    ISession* session = GetExecutionContextSession();
    InterfacePtr<IApplication> app(session != nullptr ? session->QueryApplication() : nullptr);
    if (!app) {
        return;
    }
    if (InterfacePtr<IActionManager> actions{app->QueryActionManager()}) {
        AddActions(actions.get());
    }
    if (InterfacePtr<IMenuManager> menus{app->QueryMenuManager()}) {
        AddMenuEntries(menus.get());
    }
}

void SetOrdoIdleTaskSwitch(OrdoIdleTaskSwitch stop, OrdoIdleTaskSwitch start) {
    gStop = stop;
    gStart = start;
}

void SetOrdoOptionsDialogRunner(OrdoOptionsDialogRunner runner) {
    gOptionsDialog = std::move(runner);
}

bool RunOrdoOptionsDialog(OD_ProcData& record, const PMString& statusText,
                          const PMString& heading) {
    return gOptionsDialog ? gOptionsDialog(record, statusText, heading)
                          : RunImageOptionsDialog(record, statusText, heading);
}
