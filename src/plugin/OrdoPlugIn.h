#pragma once

// The plug-in as the host loads it: the plug-in object, its factory list and
// class table, the startup and shutdown service, the document responder and
// database observer, the application observer, the two idle tasks.

#include "HostIDs.h"

class PlugIn;

// The single plug-in object.
PlugIn* GetPlugIn();

// Loads the plug-in into the host session as the host would: the plug-in
// object, its string tables, factories and classes, the additions to host
// classes. The host then starts it with its startup services. Calling it
// again changes nothing.
bool LoadOrdoPlugIn();
