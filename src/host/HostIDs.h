#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

// Typed identifiers of the host's four ID spaces (class, interface,
// implementation, widget/action) and of services. Values of different spaces
// never mix: each space is its own type.
template <typename Tag> struct HostID {
    uint32_t value = 0;

    constexpr HostID() = default;
    constexpr explicit HostID(uint32_t v) : value(v) {}
    constexpr uint32_t Get() const { return value; }
    constexpr bool IsValid() const { return value != 0; }
    friend constexpr bool operator==(HostID a, HostID b) = default;
    friend constexpr auto operator<=>(HostID a, HostID b) = default;
};

using ClassID = HostID<struct ClassIDTag>;
using PMIID = HostID<struct InterfaceIDTag>;
using ImplementationID = HostID<struct ImplementationIDTag>;
using WidgetID = HostID<struct WidgetIDTag>;
using ActionID = HostID<struct ActionIDTag>;
using ServiceID = HostID<struct ServiceIDTag>;

inline constexpr ClassID kInvalidClass{};
inline constexpr PMIID kInvalidInterfaceID{};
inline constexpr ImplementationID kInvalidImpl{};
inline constexpr WidgetID kInvalidWidgetID{};
inline constexpr ActionID kInvalidActionID{};
inline constexpr ServiceID kInvalidService{};

template <typename Tag> struct std::hash<HostID<Tag>> {
    std::size_t operator()(HostID<Tag> id) const noexcept {
        return std::hash<uint32_t>()(id.value);
    }
};

using ErrorCode = int32_t;
inline constexpr ErrorCode kSuccess = 0;
inline constexpr ErrorCode kFailure = 1;
