#pragma once

#include "HostStrings.h"

#include <cstddef>

// The plug-in's three string tables: 301 English (the default), 304 French,
// 306 Spanish. Every user-visible text is looked up by a key that begins with
// "0x71900k"; the English table also holds the two identity entries
// "velmaris" and "About this pl&ug-in...", which the other two translate.
//
// The tables hold the same keys. A "%d" in a text is replaced by a number
// after translation, so every translation keeps each "%d" of its English
// text. Shortcut texts ("...KBSC" keys, such as "Ctrl+F2" or "Alt+Ctrl+F1")
// are read by the host's shortcut parser, which knows the modifier names
// "Alt", "Ctrl" and "Shift" only; they stay the same in every language.
inline constexpr int kOrdoStringTableIDs[] = {HostStrings::kDefaultTable, HostStrings::kFrenchTable,
                                              HostStrings::kSpanishTable};

// One string key with its text in each of the three languages.
struct OrdoStringEntry {
    const char* key;
    const char* english;
    const char* french;
    const char* spanish;
};

// Every entry, in no particular order.
const OrdoStringEntry* OrdoStringEntries(std::size_t& count);

// The entries of one table (301, 304 or 306); empty for any other ID.
HostStrings::Entries OrdoStringTable(int tableId);

// Registers the three tables with the host.
void RegisterStringTables();
