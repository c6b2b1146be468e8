#pragma once

#include "HostInterfaceIDs.h"
#include "IPMUnknown.h"
#include "ObjectModel.h"
#include "SessionIDs.h"

#include <cstdint>

// Idle tasks: work the host does between user events, on its main thread.
//
// A task is installed with the delay before its first run. Each run returns
// the delay before the next one, in milliseconds, or one of these values:
//
//   0                  run again at the next idle pass (never twice in one
//                      pass, so a task that always returns 0 runs once per
//                      pass and cannot hold the host);
//   kOnFlagChange      (0xFFFFFFFE, -2 as a signed value) run again at the
//                      first idle pass after the application's flags or state
//                      change (IApplication::SetAppFlags, the application
//                      starting or stopping);
//   kEndOfTime         (0xFFFFFFFF) never again: the task is uninstalled.
//
// Any other value is a delay; a negative delay computed by a task comes here
// as a large unsigned number and so means "much later".
//
// Time is the host clock's: milliseconds since the host started, moved on by
// the front end in real time (HostClock::SyncWithRealTime) and by tests by
// hand (HostClock::Advance). An idle pass is one move of the clock: it runs
// every task whose time has come, earliest first (tasks due at the same time
// in the order they were scheduled), each at its due time, rescheduling each
// by what it returns, so a task with a 1000 ms period runs three times in a
// pass that moves the clock by 3000 ms.

// How long the current idle slice still lasts; a task with more to do than
// fits may stop early and ask to be called again.
class IdleTimer {
public:
    virtual ~IdleTimer();
    virtual uint32_t MillisecondsLeft() const = 0;
};

class IIdleTask : public IPMUnknown {
public:
    enum { kDefaultIID = IID_IIDLETASK.value };

    static constexpr uint32_t kEndOfTime = 0xFFFFFFFFu;
    static constexpr uint32_t kOnFlagChange = 0xFFFFFFFEu;

    // Does the task's work; appFlags are the application's flags
    // (IApplication::kAppFlag...). Returns the delay before the next run.
    virtual uint32_t RunTask(uint32_t appFlags, IdleTimer* timeCheck) = 0;
    // Adds the task to the session's idle-task manager, to run first after
    // the delay; installing an installed task reschedules it.
    virtual void InstallTask(uint32_t millisecondsBeforeFirstRun) = 0;
    virtual void UninstallTask() = 0;
    virtual const char* TaskName() = 0;
};

// Base of idle-task implementations: install and uninstall through the
// session's idle-task manager.
class CIdleTask : public CPMUnknown<IIdleTask> {
public:
    explicit CIdleTask(IPMUnknown* object, const char* name = "")
        : CPMUnknown<IIdleTask>(object), name(name) {}

    void InstallTask(uint32_t millisecondsBeforeFirstRun) override;
    void UninstallTask() override;
    const char* TaskName() override { return name; }

private:
    const char* name;
};

// The application's idle-task manager. It holds a reference to each
// installed task.
class IIdleTaskMgr : public IPMUnknown {
public:
    enum { kDefaultIID = IID_IIDLETASKMGR.value };

    virtual void AddTask(IIdleTask* task, uint32_t millisecondsBeforeFirstRun) = 0;
    virtual void RemoveTask(IIdleTask* task) = 0;
    virtual bool IsInstalled(const IIdleTask* task) const = 0;
    virtual int32_t GetTaskCount() const = 0;
    // Milliseconds until the task's next run; -1 when it is not installed or
    // waits for a flag change.
    virtual int64_t MillisecondsUntilRun(const IIdleTask* task) const = 0;

    // The clock: now, and one idle pass that moves it (see above). A pass
    // started from inside a task does nothing: idle passes do not nest.
    virtual uint64_t Now() const = 0;
    virtual void AdvanceTo(uint64_t time) = 0;
    // Milliseconds until the next task is due (0 when one is due now), or -1
    // when no task is scheduled (none installed, or all wait for flags).
    virtual int64_t MillisecondsToNextTask() const = 0;

    // Called by the application when its flags or state change: the tasks
    // that wait for that run at the next pass.
    virtual void FlagsChanged() = 0;
};

// The host clock that drives the session's idle-task manager.
class HostClock {
public:
    // Milliseconds since the host started.
    static uint64_t Now();
    // One idle pass that moves the clock by ms.
    static void Advance(uint32_t ms);
    // One idle pass without moving the clock (runs what is due now, and the
    // tasks that asked for the next pass).
    static void RunIdlePass() { Advance(0); }
    // One idle pass that moves the clock by the real time elapsed since the
    // previous call (the first call moves it by nothing). Front ends call it
    // from their event loop.
    static void SyncWithRealTime();
    // See IIdleTaskMgr::MillisecondsToNextTask.
    static int64_t MillisecondsToNextTask();
};
