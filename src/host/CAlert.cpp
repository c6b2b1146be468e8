#include "CAlert.h"

#include "HostRegistration.h"

#include <cstdio>
#include <map>

IAlertSink::~IAlertSink() = default;

namespace {

IAlertSink* alertSink = nullptr;
// The button given when the box was ticked, by don't-show-again ID.
std::map<uint32_t, int16_t> suppressed;

const char* KindName(AlertKind kind) {
    switch (kind) {
    case AlertKind::kWarning:
        return "Warning";
    case AlertKind::kError:
        return "Error";
    case AlertKind::kInformation:
        return "Information";
    case AlertKind::kModal:
        break;
    }
    return "Alert";
}

AlertResponse ShowOnStderr(const AlertRequest& alert) {
    std::fprintf(stderr, "[%s]%s%s %s (answered: %s)\n", KindName(alert.kind),
                 alert.title.IsEmpty() ? "" : " ", alert.title.c_str(), alert.message.c_str(),
                 alert.buttons[static_cast<std::size_t>(alert.defaultButton - 1)].c_str());
    return {alert.defaultButton, false};
}

AlertRequest Simple(AlertKind kind, AlertIcon icon, const PMString& message) {
    AlertRequest request;
    request.kind = kind;
    request.icon = icon;
    request.message = message;
    request.buttons.emplace_back(CAlert::kOKString);
    return request;
}

} // namespace

void ResetAlerts() {
    alertSink = nullptr;
    suppressed.clear();
}

int16_t CAlert::Deliver(AlertRequest request) {
    if (request.dontShowAgainID != 0) {
        auto it = suppressed.find(request.dontShowAgainID);
        if (it != suppressed.end()) {
            return it->second;
        }
    }
    if (request.buttons.empty()) {
        request.buttons.emplace_back(kOKString);
    }
    auto buttonCount = static_cast<int16_t>(request.buttons.size());
    if (request.defaultButton < 1 || request.defaultButton > buttonCount) {
        request.defaultButton = 1;
    }
    request.title.Translate();
    request.message.Translate();
    for (PMString& button : request.buttons) {
        button.Translate();
    }

    AlertResponse response =
        alertSink != nullptr ? alertSink->ShowAlert(request) : ShowOnStderr(request);
    int16_t button = response.button >= 1 && response.button <= buttonCount ? response.button
                                                                            : request.defaultButton;
    if (request.dontShowAgainID != 0 && response.dontShowAgain) {
        suppressed[request.dontShowAgainID] = button;
    }
    return button;
}

void CAlert::WarningAlert(const PMString& message) {
    Deliver(Simple(AlertKind::kWarning, AlertIcon::kWarningIcon, message));
}

void CAlert::ErrorAlert(const PMString& message) {
    Deliver(Simple(AlertKind::kError, AlertIcon::kErrorIcon, message));
}

int16_t CAlert::ModalAlert(const PMString& message, const PMString& button1,
                           const PMString& button2, const PMString& button3, int16_t defaultButton,
                           AlertIcon icon, const PMString& title, uint32_t dontShowAgainID) {
    AlertRequest request;
    request.kind = AlertKind::kModal;
    request.icon = icon;
    request.title = title;
    request.message = message;
    for (const PMString* button : {&button1, &button2, &button3}) {
        if (!button->IsEmpty()) {
            request.buttons.push_back(*button);
        }
    }
    request.defaultButton = defaultButton;
    request.dontShowAgainID = dontShowAgainID;
    return Deliver(std::move(request));
}

IAlertSink* CAlert::SetAlertSink(IAlertSink* sink) {
    IAlertSink* previous = alertSink;
    alertSink = sink;
    return previous;
}

IAlertSink* CAlert::GetAlertSink() {
    return alertSink;
}

void CAlert::ResetDontShowAgain(uint32_t dontShowAgainID) {
    if (dontShowAgainID == 0) {
        suppressed.clear();
    } else {
        suppressed.erase(dontShowAgainID);
    }
}

AlertResponse RecordingAlertSink::ShowAlert(const AlertRequest& alert) {
    alerts.push_back(alert);
    if (script.empty()) {
        return {alert.defaultButton, false};
    }
    AlertResponse response = script.front();
    script.pop_front();
    return response;
}
