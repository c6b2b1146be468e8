#include "OrdoPlugIn.h"

#include "DocumentIDs.h"
#include "HostPlatform.h"
#include "HostStrings.h"
#include "IOrdoPrefsData.h"
#include "IOrdoQORData.h"
#include "IOrdoSuite.h"
#include "ISession.h"
#include "OrdoActions.h"
#include "OrdoCommands.h"
#include "OrdoIdleTasks.h"
#include "OrdoImgOptDialog.h"
#include "OrdoPanel.h"
#include "OrdoPlugInIDs.h"
#include "OrdoPrefsDialog.h"
#include "OrdoServices.h"
#include "SessionIDs.h"
#include "Signals.h"
#include "StringTables.h"

#include <iterator>

namespace {

const ImplementationFactory kFrameFactories[] = {
    {kOrdoServiceProviderImpl, "OrdoServiceProvider", CreateImplementation<OrdoServiceProvider>,
     false},
    {kOrdoResponderImpl, "OrdoResponder", CreateImplementation<OrdoResponder>, false},
    {kOrdoDataBaseObserverImpl, "OrdoDataBaseObserver", CreateImplementation<OrdoDataBaseObserver>,
     false},
    {kOrdoStartupShutdownImpl, "OrdoStartupShutdown", CreateImplementation<OrdoStartupShutdown>,
     false},
    {kOrdoIdleTaskImpl, "OrdoIdleTask", CreateImplementation<OrdoIdleTask>, false},
    {kOrdoAppObserverImpl, "OrdoAppObserver", CreateImplementation<OrdoAppObserver>, false},
    {kOrdoIdleUpdateTaskImpl, "OrdoIdleUpdateTask", CreateImplementation<OrdoIdleUpdateTask>,
     false},
};

// Host IDs that only the real host has: the action component's persistence
// and the service class built of host implementations. They are wired only
// where the host registers those implementations.
constexpr PMIID kHostServiceInterface{0x0162};
constexpr ImplementationID kHostPersistImpl{0x014F};
constexpr ImplementationID kHostServiceProviderImpl{0x0186};
constexpr ImplementationID kHostServiceImpl{0x0188};

void DefineFrameClasses() {
    ObjectModel& model = ObjectModel::Get();
    model.DefineClass({kOrdoResponderServiceBoss,
                       kInvalidClass,
                       {{IID_IK2SERVICEPROVIDER, kOrdoServiceProviderImpl},
                        {IID_IRESPONDER, kOrdoResponderImpl}}});
    model.DefineClass({kOrdoIdleTaskBoss, kInvalidClass, {{IID_IIDLETASK, kOrdoIdleTaskImpl}}});
    model.DefineClass({kOrdoStartupShutdownBoss,
                       kInvalidClass,
                       {{IID_IK2SERVICEPROVIDER, kStartupShutdownProviderImpl},
                        {IID_ISTARTUPSHUTDOWN, kOrdoStartupShutdownImpl}}});
    model.DefineClass(
        {kOrdoAppObserverBoss, kInvalidClass, {{IID_IOBSERVER, kOrdoAppObserverImpl}}});
    model.DefineClass(
        {kOrdoIdleUpdateTaskBoss, kInvalidClass, {{IID_IIDLETASK, kOrdoIdleUpdateTaskImpl}}});

    if (model.IsRegistered(kHostPersistImpl)) {
        model.AddIn(kOrdoActionComponentBoss, IID_IPERSISTENT, kHostPersistImpl);
    }
    if (model.IsRegistered(kHostServiceProviderImpl) && model.IsRegistered(kHostServiceImpl)) {
        model.DefineClass({kOrdoServiceBoss,
                           kInvalidClass,
                           {{IID_IK2SERVICEPROVIDER, kHostServiceProviderImpl},
                            {kHostServiceInterface, kHostServiceImpl}}});
    }
}

// The plug-in's interfaces on the host's own classes (the selection classes
// get theirs from RegisterOrdoSuite, the placed image from
// AddOrdoDataToImageItems).
void AddToHostClasses() {
    ObjectModel& model = ObjectModel::Get();
    model.AddIn(kSessionBoss, IID_IORDOPREFSDATA, kOrdoPrefsDataPersistImpl);
    model.AddIn(kSessionBoss, IID_IORDOQORDATA, kOrdoQORDataNonPersistImpl);
    model.AddIn(kDocBoss, IID_IORDODBOBSERVER, kOrdoDataBaseObserverImpl);
}

} // namespace

PlugIn::PlugIn() : modulePath(HostPlatform::GetModulePath()) {}

void PlugIn::RegisterFactories() {
    ObjectModel& model = ObjectModel::Get();
    for (const ImplementationFactory& factory : kFrameFactories) {
        model.RegisterImplementation(factory);
    }
    // The layers below register their own.
    RegisterOrdoData();
    RegisterOrdoSuite();
    RegisterPreferenceImplementations();
    RegisterServerLinkImplementations();
    RegisterOrdoPanel();
    RegisterImageOptionsDialog();
    RegisterPreferencesDialog();
}

PlugIn* GetPlugIn() {
    static PlugIn plugIn;
    return &plugIn;
}

const ImplementationFactory* OrdoFrameFactories(std::size_t& count) {
    count = std::size(kFrameFactories);
    return kFrameFactories;
}

bool LoadOrdoPlugIn() {
    RegisterHostServices();
    PlugIn* plugIn = GetPlugIn();
    plugIn->SetPluginID(kOrdoPlugInID);
    if (!plugIn->Load()) {
        return false;
    }
    RegisterStringTables();
    plugIn->RegisterFactories();
    DefineFrameClasses();
    AddOrdoDataToImageItems();
    AddToHostClasses();

    // From here on the session is made (or taken as it is).
    ISession* session = GetExecutionContextSession();
    if (session == nullptr) {
        return false;
    }
    InterfacePtr<IOrdoPrefsData> prefs(session, IID_IORDOPREFSDATA);
    InterfacePtr<IOrdoQORData> link(session, IID_IORDOQORDATA);
    if (!prefs || !link) {
        // The session was made before the plug-in was loaded.
        return false;
    }
    RegisterOrdoActions();
    InterfacePtr<IK2ServiceRegistry> registry(session, IID_IK2SERVICEREGISTRY);
    if (!registry) {
        return false;
    }
    return registry->AddServiceProviderClass(kOrdoStartupShutdownBoss) &&
           registry->AddServiceProviderClass(kOrdoResponderServiceBoss);
}
