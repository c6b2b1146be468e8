#pragma once

#include "QOR_Configuration.h"

#include <memory>

class IPMUnknown;
class OD_PrefsData;
class QOR_EndPoint;
class QOR_Parameters;

// The session's link to its QOR server: the live hot-folder endpoint and the
// configuration last read from the server. Both objects are owned.
//
// A new record holds a new, closed endpoint (state 0) and an empty
// configuration. Copying makes new objects of both: the endpoint takes the
// source's folders, client ID, suffix and state (not its message name), the
// configuration the source's name lists and every profile, with its stamp.
class OD_QORData {
public:
    OD_QORData();
    ~OD_QORData();
    OD_QORData(const OD_QORData& other);
    OD_QORData& operator=(const OD_QORData& other);

    // Null only after a copy from a record that had none.
    QOR_EndPoint* GetEndPoint() const { return endpoint.get(); }
    QOR_Parameters* GetParameters() const { return parameters.get(); }

    // Takes a copy of the given endpoint's link (Assign), or drops the
    // endpoint for null.
    void AssignEndPoint(const QOR_EndPoint* source);
    // Takes a copy of the given configuration, or drops it for null; either
    // way without a stamp.
    void SetParameters(const QOR_Parameters* source);

    // The stamp of the server's files taken when the configuration was read
    // from them; none (empty) for a configuration that was not.
    const QOR_ConfigurationStamp& GetConfigurationStamp() const { return stamp; }
    void SetConfigurationStamp(const QOR_ConfigurationStamp& value) { stamp = value; }

private:
    std::unique_ptr<QOR_EndPoint> endpoint;
    std::unique_ptr<QOR_Parameters> parameters;
    QOR_ConfigurationStamp stamp;
};

// --- session operations ------------------------------------------------------
// Each takes the object that carries the preferences (IOrdoPrefsData) and the
// link (IOrdoQORData): the host session, or the preferences dialog's object
// while a new server is tried. Without either interface they fail quietly.

// Makes sure the owner's link is open on the server of its preferences. A
// closed link (state 0) is opened again, which draws a new client ID, and,
// when updateConfiguration is set, the server's configuration and path
// conversions are read again unless the link holds them as read from the same
// server with its files unchanged since (a server whose "curparam.txt" cannot
// be read keeps the configuration it had). A connected link (state 1 or 2) is
// left as it is. On failure, with showAlerts, the user is told to check the server;
// the owner's link is then unchanged. When endpointCopy is given, success
// puts a copy of the link's endpoint there, which the caller owns.
bool OpenServerLink(IPMUnknown* owner, bool updateConfiguration, bool showAlerts,
                    std::unique_ptr<QOR_EndPoint>* endpointCopy = nullptr);

// A copy of the configuration of the owner's server, as OpenServerLink keeps
// it in the owner's link: read first (with the path conversions) when the
// link holds none of the server its endpoint has open, or when the server's
// files changed since. Null while the link holds none that was read from a
// server.
std::unique_ptr<QOR_Parameters> ServerConfiguration(IPMUnknown* owner);

// Connects the owner's link for sending: a closed link writes "CONNECT" into
// the server's hot folder and becomes connected; a connected one is used as
// it is, so a session connects once. Returns a copy of the endpoint for the
// sends of one batch (the caller owns it), or null when the link cannot be
// connected (with showAlerts the user is told).
std::unique_ptr<QOR_EndPoint> ConnectForSending(IPMUnknown* owner, bool showAlerts);

// Writes "DECONNECT" to the server when the owner's link is connected and
// closes it; nothing otherwise.
void DisconnectServer(IPMUnknown* owner);

// The preferences dialog's change of server. The dialog's own preferences copy
// takes the new server path and its object tries the link on a closed link,
// without reading the configuration; when that fails the dialog's copy keeps
// its old path and link and nothing else changes (false). Otherwise the session is switched to the
// dialog's preferences as by UseSessionPreferences (true).
bool ChangeServer(IPMUnknown* dialogObject, IPMUnknown* session, const char* serverPath);

// Puts a preferences record (the dialog's, or one loaded from a preference
// file) into the session and moves its link over: the old server is sent
// "DECONNECT" when the session was connected to it, then the link is opened
// on the record's server and its configuration read.
void UseSessionPreferences(IPMUnknown* session, const OD_PrefsData& prefs);
