#pragma once

#include "HostInterfaceIDs.h"
#include "IDataBase.h"
#include "IPMUnknown.h"
#include "ObjectModel.h"
#include "PMString.h"
#include "SessionIDs.h"
#include "UIDRef.h"

#include <cstdint>
#include <vector>

// Services, responders and database observers.
//
// A service provider is an object whose class carries IK2ServiceProvider; it
// names the services it answers for. Classes of providers are registered with
// the session's service registry, which makes one object of each and keeps
// it. The host asks the providers of a service when it needs it: the startup
// and shutdown services when the application starts and stops, the document
// signal responders when a document is made, opened or closed.

class IK2ServiceProvider : public IPMUnknown {
public:
    enum { kDefaultIID = IID_IK2SERVICEPROVIDER.value };

    virtual void GetName(PMString* name) = 0;
    // The provider's first (main) service.
    virtual ServiceID GetServiceID() = 0;
    // True when this provider is the one to use when a service has several.
    virtual bool IsDefaultServiceProvider() = 0;
    // Appends every service the provider answers for.
    virtual void GetServiceIDs(std::vector<ServiceID>& serviceIDs) = 0;
};

// Base of providers that answer for one service.
class CServiceProvider : public CPMUnknown<IK2ServiceProvider> {
public:
    explicit CServiceProvider(IPMUnknown* object) : CPMUnknown<IK2ServiceProvider>(object) {}

    void GetName(PMString* name) override {
        if (name != nullptr) {
            name->Clear();
        }
    }
    ServiceID GetServiceID() override { return kInvalidService; }
    bool IsDefaultServiceProvider() override { return false; }
    void GetServiceIDs(std::vector<ServiceID>& serviceIDs) override {
        serviceIDs.push_back(GetServiceID());
    }
};

// The host's provider of kStartupShutdownService (implementation 0x1A9): a
// class with it and an IStartupShutdownService is started and stopped with
// the application.
class StartupShutdownProvider : public CServiceProvider {
public:
    using CServiceProvider::CServiceProvider;
    void GetName(PMString* name) override {
        if (name != nullptr) {
            *name = PMString("Startup/Shutdown Service");
        }
    }
    ServiceID GetServiceID() override { return kStartupShutdownService; }
};

// Started once when the application starts, stopped once when it stops.
class IStartupShutdownService : public IPMUnknown {
public:
    enum { kDefaultIID = IID_ISTARTUPSHUTDOWN.value };

    virtual void Startup() = 0;
    virtual void Shutdown() = 0;
};

// The signal a responder is given: the service that was signalled. Signals
// about a document also carry IDocumentSignalData on the same object.
class ISignalMgr : public IPMUnknown {
public:
    enum { kDefaultIID = IID_ISIGNALMGR.value };

    virtual ServiceID GetServiceID() const = 0;
    virtual void SetServiceID(ServiceID id) = 0;
};

// The document a signal is about: its object (database and UID) and name.
class IDocumentSignalData : public IPMUnknown {
public:
    enum { kDefaultIID = IID_IDOCUMENTSIGNALDATA.value };

    virtual UIDRef GetDocument() const = 0;
    virtual PMString GetDocumentName() const = 0;
    virtual void Set(const UIDRef& document, const PMString& name) = 0;
};

// Answers the signals of the services its object's provider names.
class IResponder : public IPMUnknown {
public:
    enum { kDefaultIID = IID_IRESPONDER.value };

    virtual void Respond(ISignalMgr* signalMgr) = 0;
};

// Base of responder implementations.
class CResponder : public CPMUnknown<IResponder> {
public:
    explicit CResponder(IPMUnknown* object) : CPMUnknown<IResponder>(object) {}
    void Respond(ISignalMgr*) override {}
};

// The session's registry of service providers (on the session object).
class IK2ServiceRegistry : public IPMUnknown {
public:
    enum { kDefaultIID = IID_IK2SERVICEREGISTRY.value };

    // Makes (once) an object of the class and registers its provider. False
    // when the class is unknown or carries no IK2ServiceProvider.
    virtual bool AddServiceProviderClass(ClassID providerClass) = 0;
    virtual void RemoveServiceProviderClass(ClassID providerClass) = 0;
    virtual int32_t GetServiceProviderCount(ServiceID service) const = 0;
    // The n-th provider of the service (registration order), reference added;
    // null when n is out of range.
    virtual IK2ServiceProvider* QueryNthServiceProvider(ServiceID service, int32_t n) const = 0;
    // The provider that says it is the default, else the first; null if none.
    virtual IK2ServiceProvider* QueryDefaultServiceProvider(ServiceID service) const = 0;
};

namespace DocumentSignals {
// Tells every responder registered for the service (in registration order,
// once each) about the document; returns how many responded. A provider of
// the service without an IResponder is passed over.
int32_t Signal(ServiceID service, const UIDRef& document, const PMString& documentName);
} // namespace DocumentSignals

// A database observer that lives on an object of the database it watches
// (typically the document object) and is reached by an interface ID of its
// own. Told of every change (Changed) and of the end of every command, undo
// and redo (Flushed).
class IDBObserver : public IPMUnknown, public IDatabaseObserver {
public:
    enum { kDefaultIID = IID_IDBOBSERVER.value };

    // Starts and stops watching the database of the object that carries it.
    virtual void AutoAttach() = 0;
    virtual void AutoDetach() = 0;
    virtual bool IsAttached() const = 0;
    // Observers with a higher priority would be told first; kept for callers
    // that ask, the host tells observers in attach order.
    virtual int32_t GetPriority() const = 0;
};

// Base of database observers: attaches to the database of its own object.
// Such an observer is destroyed only with its database, so it never has to
// detach on its way out.
class CDatabaseObserver : public CPMUnknown<IDBObserver> {
public:
    explicit CDatabaseObserver(IPMUnknown* object) : CPMUnknown<IDBObserver>(object) {}

    void AutoAttach() override;
    void AutoDetach() override;
    bool IsAttached() const override { return attachedTo != nullptr; }
    int32_t GetPriority() const override { return 0; }
    void Changed(UID, ClassID) override {}
    void Flushed() override {}

private:
    IDataBase* attachedTo = nullptr;
};
