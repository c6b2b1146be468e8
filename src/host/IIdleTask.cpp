#include "IIdleTask.h"

#include "HostRegistration.h"
#include "IApplication.h"
#include "ISession.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <optional>

IdleTimer::~IdleTimer() = default;

namespace {

// The time left in a pass is not measured: the host clock does not move while
// a task runs, so every task is given the whole slice.
class FixedIdleTimer : public IdleTimer {
public:
    uint32_t MillisecondsLeft() const override { return 50; }
};

InterfacePtr<IIdleTaskMgr> SessionIdleTaskMgr() {
    ISession* session = GetExecutionContextSession();
    if (session == nullptr) {
        return {};
    }
    InterfacePtr<IApplication> app(session->QueryApplication());
    if (!app) {
        return {};
    }
    return InterfacePtr<IIdleTaskMgr>(app->QueryIdleTaskManager());
}

class IdleTaskMgr : public CPMUnknown<IIdleTaskMgr> {
public:
    explicit IdleTaskMgr(IPMUnknown* object) : CPMUnknown<IIdleTaskMgr>(object) {}

    void AddTask(IIdleTask* task, uint32_t millisecondsBeforeFirstRun) override {
        if (task == nullptr) {
            return;
        }
        Entry* entry = Find(task);
        if (entry == nullptr) {
            task->AddRef();
            entries.push_back({InterfacePtr<IIdleTask>(task), 0, 0, 0, false, 0});
            entry = &entries.back();
        }
        entry->installation = ++installations;
        Schedule(*entry, millisecondsBeforeFirstRun);
    }

    void RemoveTask(IIdleTask* task) override {
        // The entry's reference goes last: the task may be held by nothing else.
        auto it = std::find_if(entries.begin(), entries.end(),
                               [&](const Entry& e) { return e.task.get() == task; });
        if (it != entries.end()) {
            InterfacePtr<IIdleTask> keep = std::move(it->task);
            entries.erase(it);
        }
    }

    bool IsInstalled(const IIdleTask* task) const override {
        return std::any_of(entries.begin(), entries.end(),
                           [&](const Entry& e) { return e.task.get() == task; });
    }

    int32_t GetTaskCount() const override { return static_cast<int32_t>(entries.size()); }

    int64_t MillisecondsUntilRun(const IIdleTask* task) const override {
        for (const Entry& e : entries) {
            if (e.task.get() == task) {
                if (e.waitingForFlags) {
                    return -1;
                }
                return e.due > now ? static_cast<int64_t>(e.due - now) : 0;
            }
        }
        return -1;
    }

    uint64_t Now() const override { return now; }

    void AdvanceTo(uint64_t time) override {
        if (running) {
            return;
        }
        running = true;
        ++pass;
        uint64_t target = std::max(time, now);
        FixedIdleTimer timer;
        while (Entry* next = NextDue(target)) {
            now = std::max(now, next->due);
            InterfacePtr<IIdleTask> task = next->task; // kept through the run
            uint64_t installation = next->installation;
            uint32_t flags = CurrentFlags();
            uint32_t delay = task->RunTask(flags, &timer);
            // The task may have removed or reinstalled itself (or others)
            // while it ran; only the installation that ran takes the result.
            Entry* entry = Find(task.get());
            if (entry == nullptr || entry->installation != installation) {
                continue;
            }
            if (delay == IIdleTask::kEndOfTime) {
                RemoveTask(task.get());
            } else if (delay == IIdleTask::kOnFlagChange) {
                entry->waitingForFlags = true;
            } else {
                Schedule(*entry, delay);
            }
        }
        now = target;
        running = false;
    }

    int64_t MillisecondsToNextTask() const override {
        std::optional<uint64_t> earliest;
        for (const Entry& e : entries) {
            if (!e.waitingForFlags && (!earliest || e.due < *earliest)) {
                earliest = e.due;
            }
        }
        if (!earliest) {
            return -1;
        }
        return *earliest > now ? static_cast<int64_t>(*earliest - now) : 0;
    }

    void FlagsChanged() override {
        for (Entry& e : entries) {
            if (e.waitingForFlags) {
                e.waitingForFlags = false;
                Schedule(e, 0);
            }
        }
    }

private:
    struct Entry {
        InterfacePtr<IIdleTask> task;
        uint64_t due;
        // Order among tasks due at the same time: when they were scheduled.
        uint64_t sequence;
        // Which InstallTask this entry stands for.
        uint64_t installation;
        bool waitingForFlags;
        // The pass in which it was scheduled with no delay: it waits for the
        // next one.
        uint64_t notInPass;
    };

    Entry* Find(const IIdleTask* task) {
        for (Entry& e : entries) {
            if (e.task.get() == task) {
                return &e;
            }
        }
        return nullptr;
    }

    void Schedule(Entry& e, uint32_t delay) {
        e.waitingForFlags = false;
        e.due = now + delay;
        e.sequence = ++sequences;
        // No delay: the next pass. Outside a pass the next pass is the next
        // one started, which counts up first.
        e.notInPass = delay == 0 ? pass : 0;
    }

    Entry* NextDue(uint64_t target) {
        Entry* best = nullptr;
        for (Entry& e : entries) {
            if (e.waitingForFlags || e.due > target || (e.notInPass != 0 && e.notInPass == pass)) {
                continue;
            }
            if (best == nullptr || e.due < best->due ||
                (e.due == best->due && e.sequence < best->sequence)) {
                best = &e;
            }
        }
        return best;
    }

    uint32_t CurrentFlags() const {
        InterfacePtr<IApplication> app(Owner(), IID_IAPPLICATION);
        return app ? app->GetAppFlags() : 0;
    }

    // A deque keeps the entries where they are while others are added.
    std::deque<Entry> entries;
    uint64_t now = 0;
    uint64_t pass = 0;
    uint64_t sequences = 0;
    uint64_t installations = 0;
    bool running = false;
};

} // namespace

void CIdleTask::InstallTask(uint32_t millisecondsBeforeFirstRun) {
    if (auto mgr = SessionIdleTaskMgr()) {
        mgr->AddTask(this, millisecondsBeforeFirstRun);
    }
}

void CIdleTask::UninstallTask() {
    if (auto mgr = SessionIdleTaskMgr()) {
        mgr->RemoveTask(this);
    }
}

uint64_t HostClock::Now() {
    auto mgr = SessionIdleTaskMgr();
    return mgr ? mgr->Now() : 0;
}

void HostClock::Advance(uint32_t ms) {
    if (auto mgr = SessionIdleTaskMgr()) {
        mgr->AdvanceTo(mgr->Now() + ms);
    }
}

void HostClock::SyncWithRealTime() {
    using std::chrono::steady_clock;
    static std::optional<steady_clock::time_point> last;
    steady_clock::time_point now = steady_clock::now();
    std::chrono::milliseconds elapsed(0);
    if (last) {
        // Whole milliseconds only; the rest counts toward the next call.
        elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - *last);
        *last += elapsed;
    } else {
        last = now;
    }
    if (auto mgr = SessionIdleTaskMgr()) {
        mgr->AdvanceTo(mgr->Now() + static_cast<uint64_t>(std::max<int64_t>(elapsed.count(), 0)));
    }
}

int64_t HostClock::MillisecondsToNextTask() {
    auto mgr = SessionIdleTaskMgr();
    return mgr ? mgr->MillisecondsToNextTask() : -1;
}

void RegisterIdleTaskImplementations() {
    ObjectModel::Get().RegisterImplementation(
        {kIdleTaskMgrImpl, "IdleTaskMgr", CreateImplementation<IdleTaskMgr>, false});
}
