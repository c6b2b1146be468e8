#pragma once

// The two idle tasks: the orders list refresh (OrdoIdleTask) and the result
// pickup (OrdoIdleUpdateTask). Both are made and installed by the startup
// service and removed at shutdown.

#include "IIdleTask.h"

#include <cstdint>

inline constexpr const char* kOrdoIdleTaskName = "OrdoIdleTask: used to do cool things";
inline constexpr const char* kOrdoIdleUpdateTaskName = "OrdoIdleUpdateTask: used to do cool things";

// Rebuilds the orders list after a change to its document, at most once a
// period: nothing while the application is busy (kOnFlagChange), nor unless
// it runs, the refresh flag is up and the panel's list exists.
class OrdoIdleTask : public CIdleTask {
public:
    explicit OrdoIdleTask(IPMUnknown* object) : CIdleTask(object, kOrdoIdleTaskName) {}
    uint32_t RunTask(uint32_t appFlags, IdleTimer* timeCheck) override;
};

// Picks up the results of the sent orders shown in the panel: opens the
// server link once for all of them and hands each to the finished-order
// handler. Runs again after the preferences' period (a negative period is
// taken as 0); without a panel, or while the panel's document is not open,
// it does nothing and keeps the default delay.
class OrdoIdleUpdateTask : public CIdleTask {
public:
    explicit OrdoIdleUpdateTask(IPMUnknown* object) : CIdleTask(object, kOrdoIdleUpdateTaskName) {}
    uint32_t RunTask(uint32_t appFlags, IdleTimer* timeCheck) override;
};

// The pickup's period for a preference period in seconds.
uint32_t PickupDelayForFrequency(int16_t frequency);
