#pragma once

// What the image options and preferences dialogs share: the session's
// preferences and server link, the drop-down lists they fill, and the small
// builders of their widget resources.

#include "HostIDs.h"
#include "OD_Preferences.h"
#include "PMString.h"
#include "Widgets.h"

#include <memory>
#include <string>
#include <vector>

class IPMUnknown;
class QOR_Parameters;

// String key of the first entry of both process lists ("Default Process"):
// it stands for the server's default profile, which orders and preferences
// name with an empty text.
inline constexpr const char* kOrdoDefaultProcessKey = "0x71900kOrdoImgOptDialogDefProfileKey";

namespace OrdoDialogs {

// The host session (carrying IOrdoPrefsData and IOrdoQORData), or null.
IPMUnknown* Session();

// A copy of the session's preferences; the defaults when the session has
// none (ok then false).
OD_PrefsData SessionPreferences(bool* ok = nullptr);

// A text built at run time or given by the user: shown as it stands.
PMString Literal(const std::string& text);
PMString Literal(const PMString& text);

// --- drop-down lists of a dialog's tree

// Replaces the entries (no selection afterwards; observers are not told).
void SetEntries(const IPMUnknown* root, WidgetID id, const std::vector<PMString>& entries);
int32_t EntryCount(const IPMUnknown* root, WidgetID id);
PMString EntryText(const IPMUnknown* root, WidgetID id, int32_t index);
// The selected entry, or -1.
int32_t Selected(const IPMUnknown* root, WidgetID id);
// Selects the entry (-1: none); false when out of range.
bool Select(const IPMUnknown* root, WidgetID id, int32_t index, bool notify);

// The process list's entries: "Default Process", then the configuration's
// profile names in list order (none without a configuration).
std::vector<PMString> ProcessEntries(const QOR_Parameters* parameters);
// The entry that shows a profile name: 0 for the empty name (the default
// profile; also for the entry's own key or text, which older records may
// hold), else the entry of that name, or -1.
int32_t ProcessEntryFor(const IPMUnknown* root, WidgetID id, const PMString& name);
// The name an entry stands for: empty for "Default Process".
PMString ProcessNameAt(const IPMUnknown* root, WidgetID id, int32_t index);

// --- widget resources

WidgetResource Widget(ClassID classID, WidgetID id, const PMString& text, const PMRect& frame,
                      std::vector<WidgetResource> children = {});

} // namespace OrdoDialogs
