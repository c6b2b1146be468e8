#include "HostStrings.h"

#include <functional>
#include <map>

namespace {

using Table = std::map<std::string, std::string, std::less<>>;

struct Registry {
    std::map<int, Table> tables;
    int locale = 0;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

const Table* FindTable(int tableId) {
    const auto& tables = TheRegistry().tables;
    auto it = tables.find(tableId);
    return it == tables.end() ? nullptr : &it->second;
}

const std::string* FindIn(const Table* table, std::string_view key) {
    if (table == nullptr) {
        return nullptr;
    }
    auto it = table->find(key);
    return it == table->end() ? nullptr : &it->second;
}

} // namespace

void HostStrings::RegisterStringTable(int tableId, const Entries& entries) {
    Table& table = TheRegistry().tables[tableId];
    for (const auto& [key, text] : entries) {
        table.insert_or_assign(key, text);
    }
}

bool HostStrings::HasStringTable(int tableId) {
    return FindTable(tableId) != nullptr;
}

int HostStrings::TableForLocale(int hostLocale) noexcept {
    switch (hostLocale) {
    case 4:
        return kFrenchTable;
    case 6:
        return kSpanishTable;
    default:
        return kDefaultTable;
    }
}

void HostStrings::SetLocale(int hostLocale) noexcept {
    TheRegistry().locale = hostLocale;
}

int HostStrings::CurrentTable() {
    int table = TableForLocale(TheRegistry().locale);
    return HasStringTable(table) ? table : kDefaultTable;
}

const std::string* HostStrings::Lookup(std::string_view key) {
    int current = CurrentTable();
    if (const std::string* text = FindIn(FindTable(current), key)) {
        return text;
    }
    if (current != kDefaultTable) {
        return FindIn(FindTable(kDefaultTable), key);
    }
    return nullptr;
}

const std::string* HostStrings::LookupInTable(int tableId, std::string_view key) {
    return FindIn(FindTable(tableId), key);
}

void HostStrings::Reset() {
    Registry& registry = TheRegistry();
    registry.tables.clear();
    registry.locale = 0;
}
