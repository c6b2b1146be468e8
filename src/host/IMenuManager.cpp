#include "IMenuManager.h"

#include "HostRegistration.h"

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

    bool RemoveMenuItem(const PMString& menuPath, ActionID action) override {
        Menu* menu = Find(menuPath);
        if (menu == nullptr) {
            return false;
        }
        auto before = menu->items.size();
        std::erase_if(menu->items, [&](const MenuItemDefinition& i) { return i.action == action; });
        bool removed = menu->items.size() != before;
        if (menu->items.empty()) {
            std::erase_if(menus, [&](const Menu& m) { return &m == menu; });
        }
        return removed;
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

    std::vector<PMString> FindMenusOfAction(ActionID action) const override {
        std::vector<PMString> paths;
        for (const Menu& m : menus) {
            if (std::any_of(m.items.begin(), m.items.end(),
                            [&](const MenuItemDefinition& i) { return i.action == action; })) {
                paths.push_back(m.path);
            }
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

bool MenuUtils::SameMenuPath(const PMString& a, const PMString& b) {
    return WithoutAccessMarks(a) == WithoutAccessMarks(b);
}

void RegisterMenuImplementations() {
    ObjectModel::Get().RegisterImplementation(
        {kMenuManagerImpl, "MenuManager", CreateImplementation<MenuManager>, false});
}
