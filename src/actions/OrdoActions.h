#pragma once

// The plug-in's user commands: one action component runs the flows behind
// the orders panel's menu, the About entry of the Help menu and their
// shortcuts, and tells the host which of the panel menu's items are enabled.

#include "HostIDs.h"

inline constexpr ClassID kOrdoActionComponentBoss{0x71900};

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

// Registers the action component, the actions with the host's action
// manager and the menu entries (the panel menu and the Help menu's About).
// Calling it again changes nothing.
void RegisterOrdoActions();

// How the preferences flow stops and restarts the idle tasks: the frame
// installs the two functions at startup (null: nothing to stop).
using OrdoIdleTaskSwitch = void (*)();
void SetOrdoIdleTaskSwitch(OrdoIdleTaskSwitch stop, OrdoIdleTaskSwitch start);
