#include "OD_ServerLink.h"

#include "CAlert.h"
#include "IOrdoPrefsData.h"
#include "IOrdoQORData.h"
#include "ObjectModel.h"
#include "QOR_Configuration.h"
#include "QOR_EndPointFile.h"

// ---------------------------------------------------------------------------
// The record

OD_QORData::OD_QORData()
    : endpoint(std::make_unique<QOR_EndPointFile>()),
      parameters(std::make_unique<QOR_Parameters>()) {}

OD_QORData::~OD_QORData() = default;

OD_QORData::OD_QORData(const OD_QORData& other) {
    *this = other;
}

OD_QORData& OD_QORData::operator=(const OD_QORData& other) {
    if (this == &other) {
        return *this;
    }
    AssignEndPoint(other.endpoint.get());
    SetParameters(other.parameters.get());
    stamp = other.stamp;
    return *this;
}

void OD_QORData::AssignEndPoint(const QOR_EndPoint* source) {
    endpoint.reset();
    if (source != nullptr) {
        endpoint = std::make_unique<QOR_EndPointFile>();
        endpoint->Assign(*source);
    }
}

void OD_QORData::SetParameters(const QOR_Parameters* source) {
    stamp = QOR_ConfigurationStamp();
    parameters.reset();
    if (source != nullptr) {
        parameters = std::make_unique<QOR_Parameters>(*source);
    }
}

// ---------------------------------------------------------------------------
// The holder

namespace {

class OrdoQORDataNonPersist : public CPMUnknown<IOrdoQORData> {
public:
    explicit OrdoQORDataNonPersist(IPMUnknown* object) : CPMUnknown<IOrdoQORData>(object) {}

    OD_QORData Get() const override { return data; }
    void Set(const OD_QORData& value) override { data = value; }

private:
    OD_QORData data;
};

// Reads the server's configuration and path conversions into the link
// unless it holds them as read from the same files; false when it did not
// change (a configuration that cannot be read leaves the link as it was).
bool ReadConfiguration(OD_QORData& link, const QOR_EndPoint* endpoint) {
    const QOR_ConfigurationStamp now = ConfigurationStamp(endpoint);
    if (link.GetConfigurationStamp().Matches(now)) {
        return false;
    }
    std::unique_ptr<QOR_Parameters> loaded = LoadParameters(endpoint);
    LoadPathConversions(endpoint);
    if (!loaded) {
        return false;
    }
    link.SetParameters(loaded.get());
    link.SetConfigurationStamp(now);
    return true;
}

void AlertConnectionError(bool showAlerts) {
    if (showAlerts) {
        CAlert::WarningAlert(PMString("0x71900kOrdoErrSocketConnect"));
    }
}

} // namespace

void RegisterServerLinkImplementations() {
    ObjectModel::Get().RegisterImplementation({kOrdoQORDataNonPersistImpl, "OrdoQORDataNonPersist",
                                               CreateImplementation<OrdoQORDataNonPersist>, false});
}

// ---------------------------------------------------------------------------
// Session operations

bool OpenServerLink(IPMUnknown* owner, bool updateConfiguration, bool showAlerts,
                    std::unique_ptr<QOR_EndPoint>* endpointCopy) {
    if (owner == nullptr) {
        return false;
    }
    InterfacePtr<IOrdoPrefsData> prefsData(owner, IID_IORDOPREFSDATA);
    InterfacePtr<IOrdoQORData> linkData(owner, IID_IORDOQORDATA);
    if (!prefsData || !linkData) {
        return false;
    }
    const OD_PrefsData prefs = prefsData->Get();
    // Work on a copy: a failed open leaves the owner's link as it was.
    OD_QORData link = linkData->Get();
    QOR_EndPoint* endpoint = link.GetEndPoint();
    if (endpoint == nullptr) {
        link.AssignEndPoint(OD_QORData().GetEndPoint());
        endpoint = link.GetEndPoint();
    }

    bool ok = true;
    const int state = endpoint->GetState(false);
    if (state == 0) {
        ok = endpoint->OpenPath(prefs.GetServerPath()) == 0;
        if (ok) {
            if (updateConfiguration) {
                ReadConfiguration(link, endpoint);
            }
            linkData->Set(link);
        }
    }
    if (!ok) {
        AlertConnectionError(showAlerts);
        return false;
    }
    if (endpointCopy != nullptr) {
        endpointCopy->reset(endpoint->Clone());
    }
    return true;
}

std::unique_ptr<QOR_Parameters> ServerConfiguration(IPMUnknown* owner) {
    if (owner == nullptr) {
        return nullptr;
    }
    InterfacePtr<IOrdoQORData> linkData(owner, IID_IORDOQORDATA);
    if (!linkData) {
        return nullptr;
    }
    OD_QORData link = linkData->Get();
    if (link.GetEndPoint() != nullptr && ReadConfiguration(link, link.GetEndPoint())) {
        linkData->Set(link);
    }
    if (link.GetParameters() == nullptr || link.GetConfigurationStamp().files.empty()) {
        return nullptr;
    }
    return std::make_unique<QOR_Parameters>(*link.GetParameters());
}

std::unique_ptr<QOR_EndPoint> ConnectForSending(IPMUnknown* owner, bool showAlerts) {
    if (owner == nullptr) {
        return nullptr;
    }
    InterfacePtr<IOrdoPrefsData> prefsData(owner, IID_IORDOPREFSDATA);
    InterfacePtr<IOrdoQORData> linkData(owner, IID_IORDOQORDATA);
    if (!prefsData || !linkData) {
        return nullptr;
    }
    const OD_PrefsData prefs = prefsData->Get();
    OD_QORData link = linkData->Get();
    std::unique_ptr<QOR_EndPoint> endpoint;
    if (link.GetEndPoint() != nullptr) {
        endpoint.reset(link.GetEndPoint()->Clone());
    } else {
        endpoint = std::make_unique<QOR_EndPointFile>();
    }
    if (endpoint->GetState(true) != 0) {
        return endpoint;
    }
    if (endpoint->ConnectPath(prefs.GetServerPath()) != 0) {
        AlertConnectionError(showAlerts);
        return nullptr;
    }
    link.AssignEndPoint(endpoint.get());
    linkData->Set(link);
    return endpoint;
}

void DisconnectServer(IPMUnknown* owner) {
    if (owner == nullptr) {
        return;
    }
    InterfacePtr<IOrdoQORData> linkData(owner, IID_IORDOQORDATA);
    if (!linkData) {
        return;
    }
    OD_QORData link = linkData->Get();
    QOR_EndPoint* endpoint = link.GetEndPoint();
    if (endpoint == nullptr) {
        return;
    }
    const int state = endpoint->GetState(false);
    if (state == 1 || state == 2) {
        endpoint->Disconnect();
        linkData->Set(link);
    }
}

bool ChangeServer(IPMUnknown* dialogObject, IPMUnknown* session, const char* serverPath) {
    if (dialogObject == nullptr || session == nullptr || serverPath == nullptr) {
        return false;
    }
    InterfacePtr<IOrdoPrefsData> dialogPrefs(dialogObject, IID_IORDOPREFSDATA);
    if (!dialogPrefs) {
        return false;
    }
    const OD_PrefsData before = dialogPrefs->Get();
    OD_PrefsData tried = before;
    // A path too long for the record is refused, not cut.
    if (!tried.SetServerPath(serverPath)) {
        return false;
    }
    // The trial opens the chosen server on a closed link: a link copied from
    // a connected session would take any path as already open.
    InterfacePtr<IOrdoQORData> dialogLink(dialogObject, IID_IORDOQORDATA);
    if (!dialogLink) {
        return false;
    }
    const OD_QORData linkBefore = dialogLink->Get();
    dialogLink->Set(OD_QORData());
    dialogPrefs->Set(tried);
    if (!OpenServerLink(dialogObject, false, false)) {
        dialogPrefs->Set(before);
        dialogLink->Set(linkBefore);
        return false;
    }
    UseSessionPreferences(session, tried);
    return true;
}

void UseSessionPreferences(IPMUnknown* session, const OD_PrefsData& prefs) {
    if (session == nullptr) {
        return;
    }
    InterfacePtr<IOrdoPrefsData> sessionPrefs(session, IID_IORDOPREFSDATA);
    if (!sessionPrefs) {
        return;
    }
    // The old server hears of the change before anything touches the new one.
    DisconnectServer(session);
    sessionPrefs->Set(prefs);
    OpenServerLink(session, true, false);
}
