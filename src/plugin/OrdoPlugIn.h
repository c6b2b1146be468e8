#pragma once

// The plug-in as the host loads it: the plug-in object, its factory list and
// class table, the startup and shutdown service, the document responder and
// database observer, the application observer, the two idle tasks.

#include "HostIDs.h"
#include "ObjectModel.h"

#include <cstddef>
#include <string>

// The plug-in object. The host asks for it once, sets its ID and has it
// register its implementation factories.
class PlugIn {
public:
    PlugIn();

    // Nothing to do on load.
    bool Load() { return true; }
    uint32_t GetPluginID() const { return pluginID; }
    void SetPluginID(uint32_t id) { pluginID = id; }
    // The module the plug-in's resources are read from (captured when the
    // plug-in object was made).
    const std::string& OpenResourceAccess() const { return modulePath; }
    // Hands every implementation factory of the plug-in to the session's
    // object model.
    void RegisterFactories();

private:
    uint32_t pluginID = 0;
    std::string modulePath;
};

// The single plug-in object.
PlugIn* GetPlugIn();

// The frame's own implementation factories.
const ImplementationFactory* OrdoFrameFactories(std::size_t& count);

// Loads the plug-in into the host session as the host would: the plug-in
// object, its string tables, factories and classes, the additions to host
// classes. The host then starts it with its startup services. Calling it
// again changes nothing.
//
// The session carries the plug-in's preferences and server link only when
// it is made after the load: load before anything asks for the session (a
// session made earlier makes the load fail).
bool LoadOrdoPlugIn();
