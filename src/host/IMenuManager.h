#pragma once

#include "IPMUnknown.h"
#include "ObjectModel.h"
#include "PMString.h"
#include "SessionIDs.h"

#include <cstdint>
#include <vector>

class IActionManager;

// Menus by path. A path names a menu by its chain of menu names, separated by
// ':' ("Main:&Help:AboutPlugins:velmaris"); a panel's own menu is named by
// its string key. The '&' that marks a menu name's access key is not part of
// the name: "Main:&Help" and "Main:Help" are one menu.
struct MenuItemDefinition {
    ActionID action;
    PMString menuPath;
    // Place in the menu: entries are listed by increasing position, entries
    // of equal position in the order they were added.
    double position = 0.0;
    bool separator = false;
    // The entry's text (a string key); empty means the action's name.
    PMString text;
};

class IMenuManager : public IPMUnknown {
public:
    enum { kDefaultIID = IID_IMENUMANAGER.value };

    // False for an empty path, an invalid action ID, or an action that the
    // menu already holds.
    virtual bool AddMenuItem(const MenuItemDefinition& item) = 0;
    // The menu's entries in position order (empty for an unknown menu).
    virtual std::vector<MenuItemDefinition> GetMenuItems(const PMString& menuPath) const = 0;
    // Every menu that has entries, in the order they were first used.
    virtual std::vector<PMString> GetMenuPaths() const = 0;
};

// The menu's entries as the host shows them: just before, the action
// components are asked for the states of the entries' actions.
std::vector<MenuItemDefinition> MenuItemsToShow(const IMenuManager& menus, IActionManager& actions,
                                                const PMString& menuPath);
