#pragma once

// The plug-in's user commands: one action component runs the flows behind
// the orders panel's menu, the About entry of the Help menu and their
// shortcuts, and tells the host which of the panel menu's items are enabled.

#include "HostIDs.h"
#include "OD_ProcData.h"
#include "PMString.h"

#include <functional>

inline constexpr ClassID kOrdoActionComponentBoss{0x71900};
inline constexpr ImplementationID kOrdoActionComponentImpl{0x71900};

inline constexpr ActionID kOrdoAboutActionID{0x71900};
inline constexpr ActionID kOrdoSeparatorActionID{0x71902};
inline constexpr ActionID kOrdoPanelAboutActionID{0x71903};
inline constexpr ActionID kOrdoAddSelectionActionID{0x7190B};
inline constexpr ActionID kOrdoSendSelectionActionID{0x7190C};
inline constexpr ActionID kOrdoPreferencesActionID{0x7190D};
inline constexpr ActionID kOrdoEditSelectionActionID{0x7190E};
inline constexpr ActionID kOrdoSendAllActionID{0x7190F};
inline constexpr ActionID kOrdoUndoRedoActionID{0x71910};
inline constexpr ActionID kOrdoShowSelectedActionID{0x71911};
// "Pick Up Results": the pickup at once, also with "Automatic Update" off.
inline constexpr ActionID kOrdoPickupActionID{0x71912};

// Where the entries live: the Help menu's About, and the panel's own menu
// (named by its string key).
inline constexpr const char* kOrdoAboutMenuPath = "Main:&Help:AboutPlugins:velmaris";
inline constexpr const char* kOrdoPanelMenuPath = "0x71900kOrdoInternalPopupMenuNameKey";

// The About alert's text: the product and its version.
inline constexpr const char* kOrdoAboutText = "OrdoDesk, version 5.0.0 beta";

// One of the panel menu's actions with the string keys of its name and of
// its default shortcut, in the order the shortcuts are installed.
struct OrdoShortcutAction {
    ActionID action;
    const char* nameKey;
    const char* shortcutKey;
};
inline constexpr OrdoShortcutAction kOrdoShortcutActions[] = {
    {kOrdoAddSelectionActionID, "0x71900kOrdoItemAddSelectionMenuItemKey",
     "0x71900kOrdoItemAddSelectionMenuItemKBSC"},
    {kOrdoSendSelectionActionID, "0x71900kOrdoItemSendSelectionMenuItemKey",
     "0x71900kOrdoItemSendSelMenuItemKBSC"},
    {kOrdoPreferencesActionID, "0x71900kOrdoItemPreferencesMenuItemKey",
     "0x71900kOrdoItemPrefsMenuItemKBSC"},
    {kOrdoEditSelectionActionID, "0x71900kOrdoItemEditSelectionMenuItemKey",
     "0x71900kOrdoItemEditSelMenuItemKBSC"},
    {kOrdoSendAllActionID, "0x71900kOrdoItemSendAllMenuItemKey",
     "0x71900kOrdoItemSendAllMenuItemKBSC"},
    {kOrdoUndoRedoActionID, "0x71900kOrdoUndoMenuItemKey", "0x71900kOrdoUndoMenuItemKBSC"},
    {kOrdoShowSelectedActionID, "0x71900kOrdoGotoMenuItemKey", "0x71900kOrdoGotoMenuItemKBSC"},
    {kOrdoPickupActionID, "0x71900kOrdoPickupMenuItemKey", "0x71900kOrdoPickupMenuItemKBSC"},
};

// Registers the action component, the actions with the host's action
// manager and the menu entries (the panel menu and the Help menu's About).
// Calling it again changes nothing.
void RegisterOrdoActions();

// How the preferences flow stops and restarts the idle tasks: the frame
// installs the two functions at startup (null: nothing to stop).
using OrdoIdleTaskSwitch = void (*)();
void SetOrdoIdleTaskSwitch(OrdoIdleTaskSwitch stop, OrdoIdleTaskSwitch start);

// What the add and edit flows open for an order: the image options dialog
// (RunImageOptionsDialog) unless replaced; null puts the dialog back. True
// when the user confirmed, with the edited record in record.
using OrdoOptionsDialogRunner =
    std::function<bool(OD_ProcData& record, const PMString& statusText, const PMString& heading)>;
void SetOrdoOptionsDialogRunner(OrdoOptionsDialogRunner runner);
bool RunOrdoOptionsDialog(OD_ProcData& record, const PMString& statusText, const PMString& heading);
