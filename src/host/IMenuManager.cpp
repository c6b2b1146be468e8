#include "IMenuManager.h"

#include "HostRegistration.h"
#include "IActionManager.h"

#include <algorithm>
#include <string>

namespace {

std::string WithoutAccessMarks(const PMString& path) {
    std::string text = path.GetUTF8String();
    std::erase(text, '&');
    return text;
}

class MenuManager : public CPMUnknown<IMenuManager> {
public:
    explicit MenuManager(IPMUnknown* object) : CPMUnknown<IMenuManager>(object) {}

    bool AddMenuItem(const MenuItemDefinition& item) override {
        if (item.menuPath.IsEmpty() || !item.action.IsValid()) {
            return false;
        }
        Menu* menu = Find(item.menuPath);
        if (menu == nullptr) {
            menus.push_back({item.menuPath, WithoutAccessMarks(item.menuPath), {}});
            menu = &menus.back();
        }
        bool taken =
            std::any_of(menu->items.begin(), menu->items.end(),
                        [&](const MenuItemDefinition& i) { return i.action == item.action; });
        if (taken) {
            return false;
        }
        // Kept sorted; an equal position goes after the entries already there.
        auto at = std::upper_bound(
            menu->items.begin(), menu->items.end(), item.position,
            [](double position, const MenuItemDefinition& i) { return position < i.position; });
        menu->items.insert(at, item);
        return true;
    }

    std::vector<MenuItemDefinition> GetMenuItems(const PMString& menuPath) const override {
        const Menu* menu = const_cast<MenuManager*>(this)->Find(menuPath);
        return menu != nullptr ? menu->items : std::vector<MenuItemDefinition>();
    }

    std::vector<PMString> GetMenuPaths() const override {
        std::vector<PMString> paths;
        for (const Menu& m : menus) {
            paths.push_back(m.path);
        }
        return paths;
    }

private:
    struct Menu {
        PMString path; // as first given
        std::string key;
        std::vector<MenuItemDefinition> items;
    };

    Menu* Find(const PMString& path) {
        std::string key = WithoutAccessMarks(path);
        for (Menu& m : menus) {
            if (m.key == key) {
                return &m;
            }
        }
        return nullptr;
    }

    std::vector<Menu> menus;
};

} // namespace

void RegisterMenuImplementations() {
    ObjectModel::Get().RegisterImplementation(
        {kMenuManagerImpl, "MenuManager", CreateImplementation<MenuManager>, false});
}

std::vector<MenuItemDefinition> MenuItemsToShow(const IMenuManager& menus, IActionManager& actions,
                                                const PMString& menuPath) {
    std::vector<MenuItemDefinition> items = menus.GetMenuItems(menuPath);
    std::vector<ActionID> ids;
    for (const MenuItemDefinition& item : items) {
        if (!item.separator) {
            ids.push_back(item.action);
        }
    }
    if (!ids.empty()) {
        actions.UpdateActionStates(nullptr, ids);
    }
    return items;
}
