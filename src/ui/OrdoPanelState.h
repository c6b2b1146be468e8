#pragma once

// Process-wide state shared by the plug-in frame, the idle tasks and the
// orders panel: the orders list of the open panel, the refresh flag, the
// page items the panel shows and the panel's message log. One instance of
// each, used on the host's main thread only (no lock).

#include "OD_Pickup.h"
#include "PMString.h"
#include "UIDRef.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class IControlView;

// The orders list box of the open panel (no reference held), or null. Set
// when the list's observer attaches, cleared when it detaches.
IControlView* GetOrdoPanelList();
void SetOrdoPanelList(IControlView* list);

// The orders list needs rebuilding: raised by the document's database
// observer while the panel is open, lowered by the rebuild.
bool IsOrdoRefreshNeeded();
void SetOrdoRefreshNeeded(bool needed);

// The page items the panel shows, in row order; replaced at every rebuild.
std::vector<UIDRef>& OrdoPanelItems();

// The panel's message log. Lines accumulate until cleared; the text is shown
// in the panel's log widget when there is one.
class OrdoLog : public OD_Log {
public:
    // Adds the line and "\n" (only while the log widget exists).
    void Append(const char* line) override;
    // Puts the text into the log widget.
    void Show() override;
    // Empties the text and shows it.
    void Clear();
    const std::string& Text() const { return text; }

private:
    std::string text;
};

// Tells the user about some images at once: each line (one image, "<file
// name>: <why>") goes to the log, which is shown, and one warning alert
// gives the headline with the lines under it. Nothing without lines.
void TellInLogAndAlert(const std::string& headline, const std::vector<std::string>& lines);

// The log, made on first use.
OrdoLog* GetOrdoLog();
bool HasOrdoLog();
// Deletes the log (at shutdown); harmless without one.
void DeleteOrdoLog();

// Where the log shows its text: the panel installs the widget's text setter
// while its log widget exists (null: none).
using OrdoLogWidgetSetter = void (*)(const std::string& text);
void SetOrdoLogWidget(OrdoLogWidgetSetter setter);
bool HasOrdoLogWidget();

// Where a sent order stands while it waits for its result, as the pickup
// last saw it; the panel's rows show it. By job name.
enum class OrdoWaitKind {
    waiting,      // within the time the server is given
    busy,         // past it, but the server's heartbeat is fresh
    notAnswering, // past it, and no fresh heartbeat
};
struct OrdoWait {
    uint64_t sinceHostMs = 0;  // the host clock when the wait began in this run
    int64_t waitedSeconds = 0; // how long the order has waited
    OrdoWaitKind kind = OrdoWaitKind::waiting;
};
std::map<std::string, OrdoWait>& OrdoWaits();

// Back to the state of a new process (tests).
void ResetOrdoPanelStateForTesting();
