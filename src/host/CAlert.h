#pragma once

#include "PMString.h"

#include <cstdint>
#include <deque>
#include <vector>

// Alerts. The plug-in calls CAlert; the alert goes to the front end that is
// attached (an IAlertSink), which shows it and answers with the button the
// user chose. Texts reach the sink translated (a text marked not
// translatable stays as it is).
//
// Without a front end the alert is written to stderr and answered with its
// default button.
//
// Don't-show-again. An alert with a don't-show-again ID offers the box; once
// the user has ticked it, later alerts of that ID are not shown and are
// answered with the button chosen then. The memory lasts for the process
// (CAlert::ResetDontShowAgain forgets it).

enum class AlertKind { kWarning, kError, kInformation, kModal };
enum class AlertIcon { kNoIcon, kWarningIcon, kErrorIcon, kInformationIcon };

struct AlertRequest {
    AlertKind kind = AlertKind::kModal;
    AlertIcon icon = AlertIcon::kNoIcon;
    PMString title;
    PMString message;
    // At least one; button n (1-based) is buttons[n - 1].
    std::vector<PMString> buttons;
    int16_t defaultButton = 1;
    // 0: no don't-show-again box.
    uint32_t dontShowAgainID = 0;
};

struct AlertResponse {
    // 1-based; anything out of range counts as the default button.
    int16_t button = 1;
    bool dontShowAgain = false;
};

class IAlertSink {
public:
    virtual ~IAlertSink();
    virtual AlertResponse ShowAlert(const AlertRequest& alert) = 0;
};

class CAlert {
public:
    static constexpr int16_t kOKButton = 1;
    static constexpr int16_t kCancelButton = 2;
    static constexpr const char* kOKString = "OK";
    static constexpr const char* kCancelString = "Cancel";

    // One button (OK); the message only.
    static void WarningAlert(const PMString& message);
    static void ErrorAlert(const PMString& message);

    // Up to three buttons (empty ones are left out; none at all gives OK).
    // Returns the chosen button, 1-based.
    static int16_t ModalAlert(const PMString& message, const PMString& button1,
                              const PMString& button2, const PMString& button3,
                              int16_t defaultButton, AlertIcon icon = AlertIcon::kNoIcon,
                              const PMString& title = PMString(), uint32_t dontShowAgainID = 0);

    // The front end's sink (null: none); returns the one it replaces.
    static IAlertSink* SetAlertSink(IAlertSink* sink);
    static IAlertSink* GetAlertSink();

    // Forgets the ticked boxes: all of them (id 0) or one.
    static void ResetDontShowAgain(uint32_t dontShowAgainID = 0);

private:
    static int16_t Deliver(AlertRequest request);
};

// Installs a sink for its lifetime, putting the previous one back after.
class ScopedAlertSink {
public:
    explicit ScopedAlertSink(IAlertSink* sink) : previous(CAlert::SetAlertSink(sink)) {}
    ~ScopedAlertSink() { CAlert::SetAlertSink(previous); }
    ScopedAlertSink(const ScopedAlertSink&) = delete;
    ScopedAlertSink& operator=(const ScopedAlertSink&) = delete;

private:
    IAlertSink* previous;
};

// Keeps every alert it is given and answers from a script: the queued
// responses in order, then the default button.
class RecordingAlertSink : public IAlertSink {
public:
    AlertResponse ShowAlert(const AlertRequest& alert) override;

    void Answer(int16_t button, bool dontShowAgain = false) {
        script.push_back({button, dontShowAgain});
    }
    const std::vector<AlertRequest>& Alerts() const { return alerts; }
    void Clear() {
        alerts.clear();
        script.clear();
    }

private:
    std::vector<AlertRequest> alerts;
    std::deque<AlertResponse> script;
};
