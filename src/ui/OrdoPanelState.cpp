#include "OrdoPanelState.h"

#include "CAlert.h"

#include <memory>

namespace {

IControlView* gPanelList = nullptr;
bool gRefreshNeeded = false;
std::vector<UIDRef> gPanelItems;
std::unique_ptr<OrdoLog> gLog;
OrdoLogWidgetSetter gLogWidget = nullptr;

} // namespace

IControlView* GetOrdoPanelList() {
    return gPanelList;
}
void SetOrdoPanelList(IControlView* list) {
    gPanelList = list;
}

bool IsOrdoRefreshNeeded() {
    return gRefreshNeeded;
}
void SetOrdoRefreshNeeded(bool needed) {
    gRefreshNeeded = needed;
}

std::vector<UIDRef>& OrdoPanelItems() {
    return gPanelItems;
}

void OrdoLog::Append(const char* line) {
    if (gLogWidget == nullptr || line == nullptr) {
        return;
    }
    text += line;
    text += '\n';
}

void OrdoLog::Show() {
    if (gLogWidget != nullptr) {
        gLogWidget(text);
    }
}

void OrdoLog::Clear() {
    text.clear();
    Show();
}

OrdoLog* GetOrdoLog() {
    if (!gLog) {
        gLog = std::make_unique<OrdoLog>();
    }
    return gLog.get();
}

bool HasOrdoLog() {
    return gLog != nullptr;
}
void DeleteOrdoLog() {
    gLog.reset();
}

void SetOrdoLogWidget(OrdoLogWidgetSetter setter) {
    gLogWidget = setter;
}
bool HasOrdoLogWidget() {
    return gLogWidget != nullptr;
}

void ResetOrdoPanelStateForTesting() {
    gPanelList = nullptr;
    gRefreshNeeded = false;
    gPanelItems.clear();
    gLog.reset();
    gLogWidget = nullptr;
    OrdoWaits().clear();
}

std::map<std::string, OrdoWait>& OrdoWaits() {
    static std::map<std::string, OrdoWait> waits;
    return waits;
}

void TellInLogAndAlert(const std::string& headline, const std::vector<std::string>& lines) {
    if (lines.empty()) {
        return;
    }
    OrdoLog* log = GetOrdoLog();
    std::string text = headline;
    for (const std::string& line : lines) {
        log->Append(line.c_str());
        text += "\n" + line;
    }
    log->Show();
    PMString shown(text.c_str());
    shown.SetTranslatable(false);
    CAlert::WarningAlert(shown);
}
