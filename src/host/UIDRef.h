#pragma once

#include <cstdint>
#include <functional>
#include <vector>

class IDataBase;

// An object's number within its database; 0 is no object.
struct UID {
    uint32_t value = 0;

    constexpr UID() = default;
    constexpr explicit UID(uint32_t v) : value(v) {}
    constexpr uint32_t Get() const { return value; }
    friend constexpr bool operator==(UID a, UID b) = default;
    friend constexpr auto operator<=>(UID a, UID b) = default;
};

inline constexpr UID kInvalidUID{};

template <> struct std::hash<UID> {
    std::size_t operator()(UID id) const noexcept { return std::hash<uint32_t>()(id.value); }
};

// An object named by its database and its UID.
class UIDRef {
public:
    UIDRef() = default;
    UIDRef(IDataBase* db, UID uid) : db(db), uid(uid) {}

    IDataBase* GetDataBase() const { return db; }
    UID GetUID() const { return uid; }
    bool ExistsInDB() const;
    friend bool operator==(const UIDRef& a, const UIDRef& b) = default;

    static const UIDRef gNull;

private:
    IDataBase* db = nullptr;
    UID uid;
};

// UIDs of one database, in order.
class UIDList {
public:
    UIDList() = default;
    explicit UIDList(IDataBase* db) : db(db) {}
    explicit UIDList(const UIDRef& ref) : db(ref.GetDataBase()) { Append(ref.GetUID()); }

    IDataBase* GetDataBase() const { return db; }
    int32_t Length() const { return static_cast<int32_t>(uids.size()); }
    bool IsEmpty() const { return uids.empty(); }
    UID operator[](int32_t i) const { return uids[static_cast<std::size_t>(i)]; }
    UIDRef GetRef(int32_t i) const { return UIDRef(db, (*this)[i]); }
    void Append(UID uid) { uids.push_back(uid); }
    void Append(const UIDRef& ref) { uids.push_back(ref.GetUID()); }
    // Position of uid, or -1.
    int32_t Location(UID uid) const;
    void Remove(int32_t i) { uids.erase(uids.begin() + i); }
    void Clear() { uids.clear(); }
    auto begin() const { return uids.begin(); }
    auto end() const { return uids.end(); }

private:
    IDataBase* db = nullptr;
    std::vector<UID> uids;
};
