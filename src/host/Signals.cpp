#include "Signals.h"

#include "HostRegistration.h"
#include "ISession.h"

#include <algorithm>
#include <map>

namespace {

// The session's registry: one object per provider class, kept in the order
// the classes were registered.
class K2ServiceRegistry : public CPMUnknown<IK2ServiceRegistry> {
public:
    explicit K2ServiceRegistry(IPMUnknown* object) : CPMUnknown<IK2ServiceRegistry>(object) {}

    bool AddServiceProviderClass(ClassID providerClass) override {
        for (const auto& entry : providers) {
            if (entry.classID == providerClass) {
                return true;
            }
        }
        auto provider = CreateObject2<IK2ServiceProvider>(providerClass, IID_IK2SERVICEPROVIDER);
        if (!provider) {
            return false;
        }
        providers.push_back({providerClass, provider});
        return true;
    }

    void RemoveServiceProviderClass(ClassID providerClass) override {
        std::erase_if(providers, [&](const Entry& e) { return e.classID == providerClass; });
    }

    int32_t GetServiceProviderCount(ServiceID service) const override {
        return static_cast<int32_t>(ProvidersOf(service).size());
    }

    IK2ServiceProvider* QueryNthServiceProvider(ServiceID service, int32_t n) const override {
        auto all = ProvidersOf(service);
        if (n < 0 || n >= static_cast<int32_t>(all.size())) {
            return nullptr;
        }
        IK2ServiceProvider* provider = all[static_cast<std::size_t>(n)];
        provider->AddRef();
        return provider;
    }

    IK2ServiceProvider* QueryDefaultServiceProvider(ServiceID service) const override {
        auto all = ProvidersOf(service);
        if (all.empty()) {
            return nullptr;
        }
        IK2ServiceProvider* chosen = all.front();
        for (IK2ServiceProvider* provider : all) {
            if (provider->IsDefaultServiceProvider()) {
                chosen = provider;
                break;
            }
        }
        chosen->AddRef();
        return chosen;
    }

private:
    struct Entry {
        ClassID classID;
        InterfacePtr<IK2ServiceProvider> provider;
    };

    std::vector<IK2ServiceProvider*> ProvidersOf(ServiceID service) const {
        std::vector<IK2ServiceProvider*> all;
        if (!service.IsValid()) {
            return all;
        }
        for (const auto& entry : providers) {
            std::vector<ServiceID> ids;
            entry.provider->GetServiceIDs(ids);
            if (std::find(ids.begin(), ids.end(), service) != ids.end()) {
                all.push_back(entry.provider.get());
            }
        }
        return all;
    }

    std::vector<Entry> providers;
};

class SignalMgr : public CPMUnknown<ISignalMgr> {
public:
    explicit SignalMgr(IPMUnknown* object) : CPMUnknown<ISignalMgr>(object) {}
    ServiceID GetServiceID() const override { return service; }
    void SetServiceID(ServiceID id) override { service = id; }

private:
    ServiceID service;
};

class DocumentSignalData : public CPMUnknown<IDocumentSignalData> {
public:
    explicit DocumentSignalData(IPMUnknown* object) : CPMUnknown<IDocumentSignalData>(object) {}
    UIDRef GetDocument() const override { return document; }
    PMString GetDocumentName() const override { return name; }
    void Set(const UIDRef& doc, const PMString& docName) override {
        document = doc;
        name = docName;
    }

private:
    UIDRef document;
    PMString name;
};

} // namespace

void RegisterSignalImplementations() {
    ObjectModel& model = ObjectModel::Get();
    model.RegisterImplementation({kServiceRegistryImpl, "K2ServiceRegistry",
                                  CreateImplementation<K2ServiceRegistry>, false});
    model.RegisterImplementation(
        {kSignalMgrImpl, "SignalMgr", CreateImplementation<SignalMgr>, false});
    model.RegisterImplementation({kDocumentSignalDataImpl, "DocumentSignalData",
                                  CreateImplementation<DocumentSignalData>, false});
    model.RegisterImplementation({kStartupShutdownProviderImpl, "StartupShutdownProvider",
                                  CreateImplementation<StartupShutdownProvider>, false});
    EnsureHostClass(
        kDocumentSignalMgrBoss, kInvalidClass,
        {{IID_ISIGNALMGR, kSignalMgrImpl}, {IID_IDOCUMENTSIGNALDATA, kDocumentSignalDataImpl}});
}

int32_t DocumentSignals::Signal(ServiceID service, const UIDRef& document,
                                const PMString& documentName) {
    InterfacePtr<IK2ServiceRegistry> registry(GetExecutionContextSession(), IID_IK2SERVICEREGISTRY);
    if (!registry) {
        return 0;
    }
    auto signal = CreateObject2<ISignalMgr>(kDocumentSignalMgrBoss, IID_ISIGNALMGR);
    InterfacePtr<IDocumentSignalData> data(signal, IID_IDOCUMENTSIGNALDATA);
    if (!signal || !data) {
        return 0;
    }
    signal->SetServiceID(service);
    data->Set(document, documentName);

    // The providers are taken first, so that a responder that registers or
    // removes providers does not change who hears this signal.
    std::vector<InterfacePtr<IK2ServiceProvider>> providers;
    for (int32_t n = 0; n < registry->GetServiceProviderCount(service); ++n) {
        providers.emplace_back(registry->QueryNthServiceProvider(service, n));
    }
    int32_t responded = 0;
    for (const auto& provider : providers) {
        InterfacePtr<IResponder> responder(provider, IID_IRESPONDER);
        if (responder) {
            responder->Respond(signal.get());
            ++responded;
        }
    }
    return responded;
}

void CDatabaseObserver::AutoAttach() {
    IDataBase* db = ::GetDataBase(this);
    if (db == nullptr || attachedTo == db) {
        return;
    }
    db->AddObserver(this);
    attachedTo = db;
}

void CDatabaseObserver::AutoDetach() {
    if (attachedTo != nullptr) {
        attachedTo->RemoveObserver(this);
        attachedTo = nullptr;
    }
}
