#include "IShortcutManager.h"

#include "HostRegistration.h"
#include "IActionManager.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <iterator>
#include <string>
#include <string_view>

namespace {

struct NamedKey {
    const char* name; // the written name
    VirtualKey key;
};

// Written names first; synonyms after, so that the first match of a key is
// the name it is written with.
constexpr std::array<NamedKey, 21> kNamedKeys{{
    {"Space", kVirtualSpaceKey},
    {"Tab", kVirtualTabKey},
    {"Enter", kVirtualEnterKey},
    {"Esc", kVirtualEscapeKey},
    {"Backspace", kVirtualBackspaceKey},
    {"Del", kVirtualDeleteKey},
    {"Ins", kVirtualInsertKey},
    {"Home", kVirtualHomeKey},
    {"End", kVirtualEndKey},
    {"PgUp", kVirtualPageUpKey},
    {"PgDn", kVirtualPageDownKey},
    {"Up", kVirtualUpArrowKey},
    {"Down", kVirtualDownArrowKey},
    {"Left", kVirtualLeftArrowKey},
    {"Right", kVirtualRightArrowKey},
    {"Return", kVirtualEnterKey},
    {"Escape", kVirtualEscapeKey},
    {"Delete", kVirtualDeleteKey},
    {"Insert", kVirtualInsertKey},
    {"PageUp", kVirtualPageUpKey},
    {"PageDown", kVirtualPageDownKey},
}};

constexpr std::string_view kPunctuation = ",.;'/\\[]-=`+";

struct NamedModifier {
    const char* name;
    int16_t bit;
};

constexpr std::array<NamedModifier, 8> kModifierNames{{
    {"Ctrl", kCtrlModifier},
    {"Control", kCtrlModifier},
    {"Cmd", kCtrlModifier},
    {"Command", kCtrlModifier},
    {"Alt", kAltModifier},
    {"Opt", kAltModifier},
    {"Option", kAltModifier},
    {"Shift", kShiftModifier},
}};

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) {
        s.remove_prefix(1);
    }
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) {
        s.remove_suffix(1);
    }
    return s;
}

VirtualKey KeyFromName(std::string_view name) {
    if (name.size() == 1) {
        unsigned char c = static_cast<unsigned char>(name[0]);
        if (std::isalpha(c)) {
            return VirtualKey(static_cast<uint32_t>(std::toupper(c)));
        }
        if (std::isdigit(c) || kPunctuation.find(name[0]) != std::string_view::npos) {
            return VirtualKey(c);
        }
        return kVirtualNullKey;
    }
    if ((name[0] == 'F' || name[0] == 'f') && name.size() <= 3) {
        int n = 0;
        for (char c : name.substr(1)) {
            if (!std::isdigit(static_cast<unsigned char>(c))) {
                return kVirtualNullKey;
            }
            n = n * 10 + (c - '0');
        }
        // "F01" is not a key name.
        if (name[1] == '0') {
            return kVirtualNullKey;
        }
        return FunctionKey(n);
    }
    for (const NamedKey& k : kNamedKeys) {
        if (EqualNoCase(name, k.name)) {
            return k.key;
        }
    }
    return kVirtualNullKey;
}

std::string KeyName(VirtualKey key) {
    uint32_t c = key.code;
    if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
        (c < 0x80 && c != 0 && kPunctuation.find(static_cast<char>(c)) != std::string_view::npos)) {
        return std::string(1, static_cast<char>(c));
    }
    if (c >= kVirtualF1Key.code && c < kVirtualF1Key.code + 24) {
        return "F" + std::to_string(c - kVirtualF1Key.code + 1);
    }
    for (const NamedKey& k : kNamedKeys) {
        if (k.key == key) {
            return k.name;
        }
    }
    return "";
}

bool Fail(std::string* why, std::string text) {
    if (why != nullptr) {
        *why = std::move(text);
    }
    return false;
}

} // namespace

bool ShortcutUtils::ParseShortcutString(const PMString& text, VirtualKey& key, int16_t& modifiers,
                                        std::string* why) {
    std::string_view all = Trim(text.GetUTF8String());
    if (all.empty()) {
        return Fail(why, "the shortcut text is empty");
    }
    // The key is the part after the last '+', except that a '+' at the very
    // end that follows another '+' (or stands alone) is the plus key itself.
    std::string_view keyPart;
    std::string_view modifierPart;
    bool hasModifiers = true;
    if (all == "+") {
        hasModifiers = false;
        keyPart = all;
    } else if (all.size() >= 2 && all.back() == '+' &&
               Trim(all.substr(0, all.size() - 1)).ends_with('+')) {
        keyPart = all.substr(all.size() - 1);
        std::string_view rest = Trim(all.substr(0, all.size() - 1));
        modifierPart = rest.substr(0, rest.size() - 1);
    } else {
        std::size_t plus = all.rfind('+');
        if (plus == std::string_view::npos) {
            keyPart = all;
            hasModifiers = false;
        } else {
            keyPart = Trim(all.substr(plus + 1));
            modifierPart = all.substr(0, plus);
            if (keyPart.empty()) {
                return Fail(why, "\"" + std::string(all) + "\" has no key after its last '+'");
            }
        }
    }

    int16_t bits = 0;
    if (hasModifiers) {
        std::string_view rest = modifierPart;
        while (true) {
            std::size_t plus = rest.find('+');
            std::string_view part = Trim(rest.substr(0, plus));
            if (part.empty()) {
                return Fail(why, "\"" + std::string(all) + "\" has an empty part");
            }
            const NamedModifier* found = nullptr;
            for (const NamedModifier& m : kModifierNames) {
                if (EqualNoCase(part, m.name)) {
                    found = &m;
                    break;
                }
            }
            if (found == nullptr) {
                return Fail(why,
                            "\"" + std::string(part) + "\" is not a modifier (Ctrl, Alt or Shift)");
            }
            if ((bits & found->bit) != 0) {
                return Fail(why, "\"" + std::string(all) + "\" names a modifier twice");
            }
            bits = static_cast<int16_t>(bits | found->bit);
            if (plus == std::string_view::npos) {
                break;
            }
            rest = rest.substr(plus + 1);
        }
    }

    VirtualKey parsed = KeyFromName(keyPart);
    if (!parsed.IsValid()) {
        for (const NamedModifier& m : kModifierNames) {
            if (EqualNoCase(keyPart, m.name)) {
                return Fail(why, "\"" + std::string(all) + "\" has modifiers but no key");
            }
        }
        return Fail(why, "\"" + std::string(keyPart) + "\" is not a key");
    }
    key = parsed;
    modifiers = bits;
    return true;
}

PMString ShortcutUtils::GetShortcutString(VirtualKey key, int16_t modifiers) {
    constexpr int16_t kAll = kShiftModifier | kCtrlModifier | kAltModifier;
    std::string name = KeyName(key);
    if (name.empty() || (modifiers & ~kAll) != 0) {
        return PMString();
    }
    std::string text;
    if ((modifiers & kAltModifier) != 0) {
        text += "Alt+";
    }
    if ((modifiers & kShiftModifier) != 0) {
        text += "Shift+";
    }
    if ((modifiers & kCtrlModifier) != 0) {
        text += "Ctrl+";
    }
    PMString result(text + name);
    result.SetTranslatable(false);
    return result;
}

namespace {

class ShortcutManager : public CPMUnknown<IShortcutManager> {
public:
    explicit ShortcutManager(IPMUnknown* object) : CPMUnknown<IShortcutManager>(object) {
        contexts.emplace_back(kDefaultShortcutContext);
    }

    bool IsValidContext(const PMString& context) const override {
        return std::find(contexts.begin(), contexts.end(), context) != contexts.end();
    }

    bool AddShortcut(ActionID action, const PMString& context, VirtualKey key, int16_t modifiers,
                     std::string* why) override {
        InterfacePtr<IActionManager> actions(this, IID_IACTIONMANAGER);
        if (!actions || !actions->IsValidAction(action)) {
            return Fail(why, "action 0x" + Hex(action.Get()) + " is not defined");
        }
        if (!IsValidContext(context)) {
            return Fail(why, "there is no shortcut context \"" + context.GetUTF8String() + "\"");
        }
        if (ShortcutUtils::GetShortcutString(key, modifiers).IsEmpty()) {
            return Fail(why, "not a valid key and modifiers");
        }
        ActionID holder = GetActionFromShortcut(context, key, modifiers);
        if (holder == action) {
            return true;
        }
        if (holder.IsValid()) {
            return Fail(why, ShortcutUtils::GetShortcutString(key, modifiers).GetUTF8String() +
                                 " already runs action 0x" + Hex(holder.Get()) + " in " +
                                 context.GetUTF8String());
        }
        bindings.push_back({action, context, key, modifiers});
        return true;
    }

    bool AddShortcut(ActionID action, const PMString& context, const PMString& text,
                     std::string* why) override {
        VirtualKey key;
        int16_t modifiers = 0;
        if (!ShortcutUtils::ParseShortcutString(text, key, modifiers, why)) {
            return false;
        }
        return AddShortcut(action, context, key, modifiers, why);
    }

    bool RemoveShortcut(ActionID action, const PMString& context, VirtualKey key,
                        int16_t modifiers) override {
        auto before = bindings.size();
        std::erase_if(bindings, [&](const ShortcutBinding& b) {
            return b.action == action && b.context == context && b.key == key &&
                   b.modifiers == modifiers;
        });
        return bindings.size() != before;
    }

    std::vector<ShortcutBinding> GetShortcutsForAction(ActionID action) const override {
        std::vector<ShortcutBinding> found;
        std::copy_if(bindings.begin(), bindings.end(), std::back_inserter(found),
                     [&](const ShortcutBinding& b) { return b.action == action; });
        return found;
    }

    int32_t GetNumShortcutsForAction(ActionID action) const override {
        return static_cast<int32_t>(
            std::count_if(bindings.begin(), bindings.end(),
                          [&](const ShortcutBinding& b) { return b.action == action; }));
    }

    ActionID GetActionFromShortcut(const PMString& context, VirtualKey key,
                                   int16_t modifiers) const override {
        for (const ShortcutBinding& b : bindings) {
            if (b.context == context && b.key == key && b.modifiers == modifiers) {
                return b.action;
            }
        }
        return kInvalidActionID;
    }

private:
    static std::string Hex(uint32_t value) {
        char text[16];
        std::snprintf(text, sizeof text, "%X", value);
        return text;
    }

    std::vector<PMString> contexts;
    std::vector<ShortcutBinding> bindings;
};

} // namespace

void RegisterShortcutImplementations() {
    ObjectModel::Get().RegisterImplementation(
        {kShortcutManagerImpl, "ShortcutManager", CreateImplementation<ShortcutManager>, false});
}
