#pragma once

#include "ObjectModel.h"

#include <utility>
#include <vector>

// Inside the host: how each part registers its implementations and classes
// (called by RegisterHostServices).

// Defines the class when the object model does not know it; otherwise gives
// it those of the interfaces it lacks, so that a plug-in's additions (made
// before or after) are kept.
void EnsureHostClass(ClassID id, ClassID parent,
                     const std::vector<std::pair<PMIID, ImplementationID>>& interfaces);

void RegisterSignalImplementations();
void RegisterIdleTaskImplementations();
void RegisterActionImplementations();
void RegisterShortcutImplementations();
void RegisterMenuImplementations();
void RegisterApplicationImplementations();
void RegisterWidgetImplementations();

// Forgets the front end's sinks and the alerts' memory (ResetHostForTesting).
void ResetAlerts();
void ResetChoosers();
void ResetDialogs();
