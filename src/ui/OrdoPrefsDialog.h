#pragma once

// The preferences dialog: edits the session's preferences, chooses the
// server and the folders, saves and loads preference files.

#include "HostIDs.h"
#include "IPMUnknown.h"
#include "PMString.h"

class IControlView;
class QOR_JobProfileOptions;
struct WidgetResource;

inline constexpr ClassID kOrdoPrefDlgBoss{0x71912};

inline constexpr ImplementationID kOrdoPrefDlgControllerImpl{0x71914};
inline constexpr ImplementationID kOrdoPrefDlgObserverImpl{0x71915};

// Widgets of the dialog, in the order of its layout.
inline constexpr WidgetID kOrdoPrefDlgWidgetID{0x71928};
inline constexpr WidgetID kOrdoPrefServerGroupWidgetID{0x71929};
inline constexpr WidgetID kOrdoPrefServerPathWidgetID{0x71940};
inline constexpr WidgetID kOrdoPrefServerButtonWidgetID{0x71950};
inline constexpr WidgetID kOrdoPrefProcessingGroupWidgetID{0x7192a};
inline constexpr WidgetID kOrdoPrefProcessLabelWidgetID{0x71961};
inline constexpr WidgetID kOrdoPrefProcessListWidgetID{0x71918};
inline constexpr WidgetID kOrdoPrefResolutionLabelWidgetID{0x71960};
inline constexpr WidgetID kOrdoPrefResolutionWidgetID{0x7192b};
inline constexpr WidgetID kOrdoPrefDescriptionWidgetID{0x71954};
inline constexpr WidgetID kOrdoPrefFileSavingGroupWidgetID{0x7192e};
inline constexpr WidgetID kOrdoPrefFolderButtonWidgetID{0x71939};
inline constexpr WidgetID kOrdoPrefFolderPathWidgetID{0x7193e};
inline constexpr WidgetID kOrdoPrefDelSrcWidgetID{0x7193d};
inline constexpr WidgetID kOrdoPrefOverwriteWidgetID{0x71931};
inline constexpr WidgetID kOrdoPrefRepSrcWidgetID{0x71930};
// checkSrc's box; this layout has none, and checkSrc is carried unchanged.
inline constexpr WidgetID kOrdoPrefCheckSrcWidgetID{0x71932};
inline constexpr WidgetID kOrdoPrefOrdersGroupWidgetID{0x71958};
inline constexpr WidgetID kOrdoPrefAutoImportWidgetID{0x7194d};
inline constexpr WidgetID kOrdoPrefAutoUpdateWidgetID{0x71941};
inline constexpr WidgetID kOrdoPrefFrequencyLabelWidgetID{0x71943};
inline constexpr WidgetID kOrdoPrefFrequencyWidgetID{0x71942};
// How long a sent order waits before the server counts as not answering; kept
// with the client's settings, not in the preferences file.
inline constexpr WidgetID kOrdoPrefWaitLimitLabelWidgetID{0x71963};
inline constexpr WidgetID kOrdoPrefWaitLimitWidgetID{0x71964};
inline constexpr WidgetID kOrdoPrefQualityControlWidgetID{0x71959};
inline constexpr WidgetID kOrdoPrefLessThanLabelWidgetID{0x7195a};
inline constexpr WidgetID kOrdoPrefGreaterThanLabelWidgetID{0x7195b};
inline constexpr WidgetID kOrdoPrefDownSmpMinWidgetID{0x7192d};
inline constexpr WidgetID kOrdoPrefUpSmpMaxWidgetID{0x7192c};
inline constexpr WidgetID kOrdoPrefOPIGroupWidgetID{0x71962};
inline constexpr WidgetID kOrdoPrefOPIActiveWidgetID{0x71934};
inline constexpr WidgetID kOrdoPrefLowResButtonWidgetID{0x71944};
inline constexpr WidgetID kOrdoPrefLowResPathWidgetID{0x71948};
inline constexpr WidgetID kOrdoPrefOPINoteWidgetID{0x71955};
inline constexpr WidgetID kOrdoPrefLowResExtLabelWidgetID{0x71947};
inline constexpr WidgetID kOrdoPrefLowResExtWidgetID{0x71949};
inline constexpr WidgetID kOrdoPrefAdvancedGroupWidgetID{0x7195c};
inline constexpr WidgetID kOrdoPrefShowPrefsWidgetID{0x7195d};
inline constexpr WidgetID kOrdoPrefSaveAsWidgetID{0x71957};
inline constexpr WidgetID kOrdoPrefLoadWidgetID{0x71956};

// Registers the dialog's implementations and class. Calling it again changes
// nothing.
void RegisterPreferencesDialog();

// The dialog's widgets as its resource describes them, and a new dialog made
// from it (null when the class is not registered).
WidgetResource PreferencesDialogResource();
InterfacePtr<IControlView> CreatePreferencesDialog();

// What a server profile does to each kind of image, one line per kind (gray,
// RGB, CMYK), as the dialog shows it under the default process:
//   "-%-4s: %s, %s, %s, %s\n"  kind, correction, conversion, colour outcome,
//                              format name, for a process that corrects and
//                              converts;
//   "-%-4s: %s, %s, %s\n"      kind, process, colour outcome, format name,
//                              for any other.
// Texts in the user's language; empty for no profile.
PMString DescribeJobProfile(const QOR_JobProfileOptions* profile);

// Runs the dialog modally, loaded with the session's preferences; OK sets the
// edited preferences into the session. True on OK.
bool RunPreferencesDialog();
