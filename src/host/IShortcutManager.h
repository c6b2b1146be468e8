#pragma once

#include "IPMUnknown.h"
#include "ObjectModel.h"
#include "PMString.h"
#include "SessionIDs.h"

#include <cstdint>
#include <string>
#include <vector>

// Keyboard shortcuts: a key with modifiers, bound to an action in a context.
//
// Shortcut texts are written as the host shows them: modifiers first, each
// followed by '+', then the key: "Ctrl+F2", "Alt+Ctrl+F1", "Shift+Ctrl+A",
// "Ctrl++". Reading accepts any order and case of the modifiers, blanks
// around the parts, and the synonyms Control (Ctrl), Cmd and Command (Ctrl),
// Opt and Option (Alt); writing gives the modifiers in the order Alt, Shift,
// Ctrl and each name as above.
//
// Keys: the letters A-Z, the digits 0-9, F1 to F24, the named keys Space,
// Tab, Enter (Return), Esc (Escape), Backspace, Del (Delete), Ins (Insert),
// Home, End, PgUp (PageUp), PgDn (PageDown), Up, Down, Left, Right, and the
// punctuation keys , . ; ' / \ [ ] - = ` and +.

struct VirtualKey {
    uint32_t code = 0;

    constexpr VirtualKey() = default;
    constexpr explicit VirtualKey(uint32_t c) : code(c) {}
    constexpr bool IsValid() const { return code != 0; }
    friend constexpr bool operator==(VirtualKey a, VirtualKey b) = default;
};

inline constexpr VirtualKey kVirtualNullKey{};
// Letters, digits and punctuation have their ASCII code (letters upper case);
// function keys kVirtualF1Key + n - 1; the named keys follow.
inline constexpr VirtualKey kVirtualF1Key{0x100 + 1};
inline constexpr VirtualKey kVirtualSpaceKey{0x200};
inline constexpr VirtualKey kVirtualTabKey{0x201};
inline constexpr VirtualKey kVirtualEnterKey{0x202};
inline constexpr VirtualKey kVirtualEscapeKey{0x203};
inline constexpr VirtualKey kVirtualBackspaceKey{0x204};
inline constexpr VirtualKey kVirtualDeleteKey{0x205};
inline constexpr VirtualKey kVirtualInsertKey{0x206};
inline constexpr VirtualKey kVirtualHomeKey{0x207};
inline constexpr VirtualKey kVirtualEndKey{0x208};
inline constexpr VirtualKey kVirtualPageUpKey{0x209};
inline constexpr VirtualKey kVirtualPageDownKey{0x20A};
inline constexpr VirtualKey kVirtualUpArrowKey{0x20B};
inline constexpr VirtualKey kVirtualDownArrowKey{0x20C};
inline constexpr VirtualKey kVirtualLeftArrowKey{0x20D};
inline constexpr VirtualKey kVirtualRightArrowKey{0x20E};

constexpr VirtualKey FunctionKey(int n) {
    return n >= 1 && n <= 24 ? VirtualKey(kVirtualF1Key.code + static_cast<uint32_t>(n) - 1)
                             : kVirtualNullKey;
}

// Modifier bits.
enum ShortcutModifiers : int16_t {
    kNoModifiers = 0,
    kShiftModifier = 0x1,
    // Ctrl on Windows (the command key elsewhere).
    kCtrlModifier = 0x2,
    // Alt on Windows (the option key elsewhere).
    kAltModifier = 0x4,
};

namespace ShortcutUtils {
// Reads a shortcut text into its key and modifiers. On failure returns false,
// leaves key and modifiers as they were and, when why is given, says what is
// wrong with the text.
bool ParseShortcutString(const PMString& text, VirtualKey& key, int16_t& modifiers,
                         std::string* why = nullptr);
// The text of a shortcut; empty for an invalid key or unknown modifier bits.
PMString GetShortcutString(VirtualKey key, int16_t modifiers);
} // namespace ShortcutUtils

inline constexpr const char* kDefaultShortcutContext = "DefaultContext";

struct ShortcutBinding {
    ActionID action;
    PMString context;
    VirtualKey key;
    int16_t modifiers = 0;
};

// The application's shortcuts (on the action manager object). A key with its
// modifiers names at most one action in a context.
class IShortcutManager : public IPMUnknown {
public:
    enum { kDefaultIID = IID_ISHORTCUTMANAGER.value };

    // Contexts; "DefaultContext" always exists.
    virtual bool IsValidContext(const PMString& context) const = 0;

    // Binds the shortcut to the action. Refused (false, with the reason) for
    // an unknown action or context, an invalid key, or a shortcut that the
    // context already gives to another action. Binding a shortcut the action
    // already has succeeds and changes nothing.
    virtual bool AddShortcut(ActionID action, const PMString& context, VirtualKey key,
                             int16_t modifiers, std::string* why = nullptr) = 0;
    // The same from a shortcut text; an unparsable text binds nothing.
    virtual bool AddShortcut(ActionID action, const PMString& context, const PMString& text,
                             std::string* why = nullptr) = 0;
    virtual bool RemoveShortcut(ActionID action, const PMString& context, VirtualKey key,
                                int16_t modifiers) = 0;
    // Every binding of the action, in every context, in binding order.
    virtual std::vector<ShortcutBinding> GetShortcutsForAction(ActionID action) const = 0;
    virtual int32_t GetNumShortcutsForAction(ActionID action) const = 0;
    // The action the shortcut runs in the context, or kInvalidActionID.
    virtual ActionID GetActionFromShortcut(const PMString& context, VirtualKey key,
                                           int16_t modifiers) const = 0;
};
