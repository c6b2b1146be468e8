#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The host's translation registry: the string tables of the plug-ins, by
// table ID, and the user's locale.
//
// Tables are registered at start-up; each maps a string key to its text in
// one language. The host locale picks a table through the locale index
// (TableForLocale); a locale whose table is not registered uses the default
// table 301, and a key missing from the current table is looked up in 301.
//
// Process-wide state used from the host's main thread only; nothing locks.
class HostStrings {
public:
    static constexpr int kDefaultTable = 301; // English
    static constexpr int kFrenchTable = 304;
    static constexpr int kSpanishTable = 306;

    using Entries = std::vector<std::pair<std::string, std::string>>;

    // Adds the entries to the table tableId (made on first use). An entry whose
    // key the table already holds replaces the old text; within one call the
    // last entry of a key wins.
    static void RegisterStringTable(int tableId, const Entries& entries);

    // True when a table of that ID has been registered.
    static bool HasStringTable(int tableId);

    // The locale index: host locale 4 gives 304 (French), 6 gives 306
    // (Spanish), every other locale the default table 301.
    static int TableForLocale(int hostLocale) noexcept;

    // The host locale in use (0 until set), and the table it selects after
    // the fallback to 301 for a table that is not registered.
    static void SetLocale(int hostLocale) noexcept;
    static int CurrentTable();

    // The text of key in the current table, else in the default table, else
    // null. The pointer stays valid until the tables change.
    static const std::string* Lookup(std::string_view key);

    // The text of key in one table only, or null.
    static const std::string* LookupInTable(int tableId, std::string_view key);

    // Drops every table and sets the locale back to 0 (shutdown and tests).
    static void Reset();
};
