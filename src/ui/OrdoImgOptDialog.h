#pragma once

// The image options dialog: edits the processing options of one order.

#include "HostIDs.h"
#include "OD_ProcData.h"
#include "PMString.h"

inline constexpr ClassID kOrdoImgOptDialogBoss{0x7190E};

// Registers the dialog's implementations and class. Calling it again changes
// nothing.
void RegisterImageOptionsDialog();

// Runs the dialog modally over the order: statusText is the image status it
// shows, heading the text above the process type list (the image class's
// "... Image Parameter(s)"). On OK the edited record (Ready) replaces record
// and the result is true; on Cancel record is left as it was.
bool RunImageOptionsDialog(OD_ProcData& record, const PMString& statusText,
                           const PMString& heading);
