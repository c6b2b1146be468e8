#pragma once

// The two commands through which the order and undo records of page items
// change: each processed command is one undo step ("Add Images Ordo") and is
// announced to the document's observers.
//
// The caller sets the command's item list to the page items, fills the
// command's array (IOrdoDataArray or IOrdoUndoDataArray) with one record per
// item in the list's order, and has the host process the command. Items
// without the record interface are passed over; an empty item list, an
// array with fewer records than there are items, or an undo record whose
// path does not end inside its field fails the command (the host's global
// error code 1) and changes nothing.

#include "HostIDs.h"

inline constexpr ClassID kOrdoSetDataCmdBoss{0x7190A};
inline constexpr ClassID kOrdoSetUndoDataCmdBoss{0x71914};

inline constexpr ImplementationID kOrdoSetDataCmdImpl{0x71907};
inline constexpr ImplementationID kOrdoSetUndoDataCmdImpl{0x7191E};

// String key of the commands' undo step name ("Add Images Ordo").
inline constexpr const char* kOrdoCommandStringKey = "0x71900kOrdoCommandStringKey";

// Registers the record implementations (persistent and not) and the two
// command classes with the session's object model. Calling it again changes
// nothing.
void RegisterOrdoData();

// Puts IOrdoData and IOrdoUndoData on the host's placed-image class, so that
// every placed image carries the two records. Calling it again changes
// nothing.
void AddOrdoDataToImageItems();

// Called by a command after it changed records, before the change is
// broadcast, to have the orders list rebuilt (first option on, second off).
// The orders panel installs it while its list exists; null (the default)
// when there is no list.
using OrdoListRebuildHook = void (*)(bool firstOption, bool secondOption);
void SetOrdoListRebuildHook(OrdoListRebuildHook hook);

// The parts of RegisterOrdoData kept with their implementations.
void RegisterOrdoDataImplementations();
void RegisterOrdoUndoDataImplementations();
