#pragma once

// The preferences dialog: edits the session's preferences, chooses the
// server and the folders, saves and loads preference files.

#include "HostIDs.h"

inline constexpr ClassID kOrdoPrefDlgBoss{0x71912};

// Registers the dialog's implementations and class. Calling it again changes
// nothing.
void RegisterPreferencesDialog();

// Runs the dialog modally, loaded with the session's preferences; OK sets the
// edited preferences into the session. True on OK.
bool RunPreferencesDialog();
