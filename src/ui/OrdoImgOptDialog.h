#pragma once

// The image options dialog: edits the processing options of one order.

#include "HostIDs.h"
#include "IPMUnknown.h"
#include "OD_ProcData.h"
#include "PMString.h"

class IControlView;
struct WidgetResource;

inline constexpr ClassID kOrdoImgOptDialogBoss{0x7190E};

inline constexpr ImplementationID kOrdoImgOptDialogControllerImpl{0x7190F};
inline constexpr ImplementationID kOrdoImgOptDialogObserverImpl{0x71910};
inline constexpr ImplementationID kOrdoImageOptionsDialogViewImpl{0x7191A};

// Widgets of the dialog.
inline constexpr WidgetID kOrdoImgOptDialogWidgetID{0x71913};
// Preference file list: "Default Preferences", then the preference files;
// shown with its label while the preferences ask for it (showPrefs).
inline constexpr WidgetID kOrdoImgOptPrefsListWidgetID{0x71920};
inline constexpr WidgetID kOrdoImgOptPrefsLabelWidgetID{0x71922};
// Destination (output) name and its label.
inline constexpr WidgetID kOrdoImgOptDestNameWidgetID{0x71915};
inline constexpr WidgetID kOrdoImgOptDestLabelWidgetID{0x7191B};
// Process type list, filled by the image's class, and its label.
inline constexpr WidgetID kOrdoImgOptTypeListWidgetID{0x71916};
inline constexpr WidgetID kOrdoImgOptTypeLabelWidgetID{0x7191F};
// Prefix list (the server's named parameter sets), shown for correction
// processes only, and its label.
inline constexpr WidgetID kOrdoImgOptPrefixListWidgetID{0x71917};
inline constexpr WidgetID kOrdoImgOptPrefixLabelWidgetID{0x71919};
// Process list: "Default Process", then the server's processes.
inline constexpr WidgetID kOrdoImgOptProcessListWidgetID{0x71918};
inline constexpr WidgetID kOrdoImgOptProcessLabelWidgetID{0x71923};
// Image status text and its label.
inline constexpr WidgetID kOrdoImgOptStatusTextWidgetID{0x7191E};
inline constexpr WidgetID kOrdoImgOptStatusLabelWidgetID{0x71924};
// The heading above the lists ("RGB Image Parameter(s)" and so on) and the
// "Edit" group that holds the three lists.
inline constexpr WidgetID kOrdoImgOptHeadingWidgetID{0x71921};
inline constexpr WidgetID kOrdoImgOptEditGroupWidgetID{0x71925};

// Registers the dialog's implementations and class. Calling it again changes
// nothing.
void RegisterImageOptionsDialog();

// The dialog's widgets as its resource describes them, and a new dialog made
// from it (null when the class is not registered).
WidgetResource ImageOptionsDialogResource();
InterfacePtr<IControlView> CreateImageOptionsDialog();

// Runs the dialog modally over the order: statusText is the image status it
// shows, heading the text above the process type list (the image class's
// "... Image Parameter(s)"). On OK the edited record (Ready) replaces record
// and the result is true; on Cancel record is left as it was.
bool RunImageOptionsDialog(OD_ProcData& record, const PMString& statusText,
                           const PMString& heading);
