#pragma once

// The frame's services: the startup and shutdown service, the document
// responder with its service provider, the document's database observer and
// the application observer.

#include "CObserver.h"
#include "IIdleTask.h"
#include "OrdoPlugInIDs.h"
#include "Signals.h"

#include <vector>

// Starts the idle tasks and attaches the application observer when the
// application starts; undoes it all when it stops.
class OrdoStartupShutdown : public CPMUnknown<IStartupShutdownService> {
public:
    explicit OrdoStartupShutdown(IPMUnknown* object);
    ~OrdoStartupShutdown() override;

    void Startup() override;
    void Shutdown() override;

    // Installs both tasks (their first runs after 1000 and 5000 ms) unless
    // they are installed.
    void StartTasks();
    // Uninstalls both tasks when they are installed.
    void StopTasks();
    // Installs or uninstalls the list refresh task alone.
    void ToggleTask();
    bool TasksInstalled() const { return tasksInstalled; }
    // Milliseconds until the pickup runs next; -1 when it is not installed.
    int64_t MillisecondsToNextPickup() const;

private:
    InterfacePtr<IIdleTask> idleTask;
    InterfacePtr<IIdleTask> updateTask;
    bool tasksInstalled = false;
    InterfacePtr<IObserver> appObserver;
};

// The idle-task switch of the running startup service (nothing when none
// runs): what the preferences flow calls around its dialog.
void StartOrdoIdleTasks();
void StopOrdoIdleTasks();
void ToggleOrdoIdleTask();
bool OrdoIdleTasksInstalled();
// Milliseconds until the result pickup runs next, on the host's clock; -1
// when no pickup is scheduled.
int64_t MillisecondsToNextOrdoPickup();

// Names the document signals the responder answers for.
class OrdoServiceProvider : public CServiceProvider {
public:
    explicit OrdoServiceProvider(IPMUnknown* object);

    void GetName(PMString* name) override;
    ServiceID GetServiceID() override;
    bool IsDefaultServiceProvider() override { return true; }
    void GetServiceIDs(std::vector<ServiceID>& serviceIDs) override;

private:
    std::vector<ServiceID> services;
};

// Attaches the database observer to each document made or opened, and
// detaches it when the document is about to close.
class OrdoResponder : public CResponder {
public:
    explicit OrdoResponder(IPMUnknown* object) : CResponder(object) {}
    void Respond(ISignalMgr* signalMgr) override;
};

// Tells the orders panel that its document changed: raises the refresh flag
// while the panel's list exists, so that a burst of changes costs one
// rebuild at the next idle run.
class OrdoDataBaseObserver : public CDatabaseObserver {
public:
    explicit OrdoDataBaseObserver(IPMUnknown* object) : CDatabaseObserver(object) {}
    void Changed(UID uid, ClassID classID) override;
    void Flushed() override;
    int32_t GetPriority() const override { return kOrdoDataBaseObserverPriority; }
};

// Once the application has started: binds the default shortcuts of the
// plug-in's actions that have none, and reads the selected server's
// configuration.
class OrdoAppObserver : public CObserver {
public:
    explicit OrdoAppObserver(IPMUnknown* object) : CObserver(object) {}
    void Update(ClassID theChange, ISubject* theSubject, PMIID protocol, void* changedBy) override;
};

// Binds the default shortcut of each of the plug-in's actions that has no
// shortcut yet; a user's own binding is never replaced.
void InstallDefaultShortcuts();
