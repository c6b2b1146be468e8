#include "OrdoPrefsDialog.h"

#include "CAlert.h"
#include "Choosers.h"
#include "IOrdoPrefsData.h"
#include "IOrdoQORData.h"
#include "OD_ClientSettings.h"
#include "OD_ProcData.h"
#include "OrdoDialogSupport.h"
#include "Paths.h"
#include "PreferenceFiles.h"
#include "QOR_Configuration.h"
#include "QOR_EndPoint.h"
#include "SessionIDs.h"
#include "Widgets.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace OrdoDialogs;

namespace {

constexpr const char* kTitleKey = "0x71900kOrdoPrefDlgTitleKey";
constexpr const char* kServerTitleKey = "0x71900kOrdoPrefsServerTitleKey";
constexpr const char* kSelectFolderKey = "0x71900kOrdoPrefsSelectFolderKey";
constexpr const char* kSaveTitleKey = "0x71900kSavePrefsTitle";
constexpr const char* kSaveNameKey = "0x71900kDefaultPrefsFileName";
constexpr const char* kSaveFamilyKey = "0x71900kOrdoPrefSaveFamilyKey";
constexpr const char* kLoadFamilyKey = "0x71900kOrdoPrefLoadFamilyKey";
constexpr const char* kNotANumberKey = "0x71900kOrdoErrNotANumber";
constexpr const char* kFrequencyRangeKey = "0x71900kOrdoErrFrequencyRange";
constexpr const char* kWaitLimitRangeKey = "0x71900kOrdoErrWaitLimitRange";
constexpr const char* kResolutionRangeKey = "0x71900kOrdoErrResolutionRange";
constexpr const char* kLessThanRangeKey = "0x71900kOrdoErrLessThanRange";
constexpr const char* kGreaterThanRangeKey = "0x71900kOrdoErrGreaterThanRange";
constexpr const char* kLimitsOrderKey = "0x71900kOrdoErrLimitsOrder";
constexpr const char* kPathTooLongKey = "0x71900kOrdoErrPathTooLong";
constexpr const char* kServerChoiceKey = "0x71900kOrdoErrServerChoice";
constexpr const char* kPrefsSaveKey = "0x71900kOrdoErrPrefsSave";
constexpr const char* kPrefsLoadKey = "0x71900kOrdoErrPrefsLoad";

// The polling period is an int16 of seconds.
constexpr double kMostFrequency = 32767.0;

// Controls that follow a check box.
constexpr WidgetID kOPIControls[] = {kOrdoPrefLowResButtonWidgetID, kOrdoPrefLowResPathWidgetID,
                                     kOrdoPrefOPINoteWidgetID, kOrdoPrefLowResExtLabelWidgetID,
                                     kOrdoPrefLowResExtWidgetID};
constexpr WidgetID kLimitControls[] = {kOrdoPrefUpSmpMaxWidgetID, kOrdoPrefDownSmpMinWidgetID,
                                       kOrdoPrefLessThanLabelWidgetID,
                                       kOrdoPrefGreaterThanLabelWidgetID};
constexpr WidgetID kFrequencyControls[] = {kOrdoPrefFrequencyWidgetID,
                                           kOrdoPrefFrequencyLabelWidgetID};
// What the replace-original box takes over: where processed files go and
// what becomes of duplicates and originals.
constexpr WidgetID kReplaceDependants[] = {kOrdoPrefFolderButtonWidgetID,
                                           kOrdoPrefFolderPathWidgetID, kOrdoPrefOverwriteWidgetID,
                                           kOrdoPrefDelSrcWidgetID};

template <std::size_t N> void EnableAll(const IPMUnknown* root, const WidgetID (&ids)[N], bool on) {
    for (WidgetID id : ids) {
        WidgetUtils::Enable(root, id, on);
    }
}

bool IsEnabled(const IPMUnknown* root, WidgetID id) {
    IControlView* view = WidgetUtils::FindWidget(root, id);
    return view != nullptr && view->IsEnabled();
}

void Warn(const char* key) {
    CAlert::WarningAlert(PMString(key));
}

// ---- the dialog's own data

OD_PrefsData DialogPreferences(const IPMUnknown* root) {
    InterfacePtr<IOrdoPrefsData> prefs(root, IID_IORDOPREFSDATA);
    return prefs ? prefs->Get() : OD_PrefsData();
}

void SetDialogPreferences(const IPMUnknown* root, const OD_PrefsData& record) {
    InterfacePtr<IOrdoPrefsData> prefs(root, IID_IORDOPREFSDATA);
    if (prefs) {
        prefs->Set(record);
    }
}

OD_QORData DialogLink(const IPMUnknown* root) {
    InterfacePtr<IOrdoQORData> link(root, IID_IORDOQORDATA);
    return link ? link->Get() : OD_QORData();
}

// ---- fields

// The process list's description of the chosen server profile.
void Describe(const IPMUnknown* root) {
    const int32_t n = Selected(root, kOrdoPrefProcessListWidgetID);
    const OD_QORData link = DialogLink(root);
    const QOR_Parameters* parameters = link.GetParameters();
    const QOR_JobProfileOptions* profile =
        parameters != nullptr && n >= 0 ? parameters->JobProfile(n) : nullptr;
    WidgetUtils::SetText(root, kOrdoPrefDescriptionWidgetID, DescribeJobProfile(profile), false);
}

// "Default Process", then the profiles of the dialog's server; the entry of
// the name chosen.
void FillProcessList(const IPMUnknown* root, const PMString& defaultProcess) {
    const OD_QORData link = DialogLink(root);
    SetEntries(root, kOrdoPrefProcessListWidgetID, ProcessEntries(link.GetParameters()));
    Select(root, kOrdoPrefProcessListWidgetID,
           ProcessEntryFor(root, kOrdoPrefProcessListWidgetID, defaultProcess), false);
    Describe(root);
}

// Puts a record into the widgets; nobody is told.
void ShowPreferences(const IPMUnknown* root, const OD_PrefsData& prefs) {
    using WidgetUtils::SetChecked;
    using WidgetUtils::SetText;
    using WidgetUtils::SetValue;
    SetText(root, kOrdoPrefServerPathWidgetID, Literal(std::string(prefs.GetServerPath())), false);
    SetText(root, kOrdoPrefFolderPathWidgetID, Literal(std::string(prefs.GetOutFolder())), false);

    SetValue(root, kOrdoPrefResolutionWidgetID, prefs.GetResolution(), false);
    SetValue(root, kOrdoPrefDownSmpMinWidgetID, prefs.GetDownSmpMin(), false);
    SetValue(root, kOrdoPrefUpSmpMaxWidgetID, prefs.GetUpSmpMax(), false);
    SetValue(root, kOrdoPrefFrequencyWidgetID, prefs.GetFrequency(), false);
    SetValue(root, kOrdoPrefWaitLimitWidgetID, NotAnsweringSeconds(), false);

    SetChecked(root, kOrdoPrefRepSrcWidgetID, prefs.GetRepSrc(), false);
    SetChecked(root, kOrdoPrefDelSrcWidgetID, prefs.GetDelSrc(), false);
    SetChecked(root, kOrdoPrefOverwriteWidgetID, prefs.GetOvrWrDest(), false);
    SetChecked(root, kOrdoPrefCheckSrcWidgetID, prefs.GetCheckSrc(), false);
    SetChecked(root, kOrdoPrefAutoUpdateWidgetID, prefs.GetAutoUpdt(), false);
    SetChecked(root, kOrdoPrefOPIActiveWidgetID, prefs.GetOpiActive(), false);
    SetChecked(root, kOrdoPrefQualityControlWidgetID, prefs.GetQualityControl(), false);
    SetChecked(root, kOrdoPrefAutoImportWidgetID, prefs.GetAutoImport(), false);
    SetChecked(root, kOrdoPrefShowPrefsWidgetID, prefs.GetShowPrefs(), false);

    EnableAll(root, kOPIControls, prefs.GetOpiActive());
    EnableAll(root, kLimitControls, prefs.GetQualityControl());
    EnableAll(root, kFrequencyControls, prefs.GetAutoUpdt());
    EnableAll(root, kReplaceDependants, !prefs.GetRepSrc());

    SetText(root, kOrdoPrefLowResPathWidgetID, Literal(std::string(prefs.GetOpiLoResFolder())),
            false);
    SetText(root, kOrdoPrefLowResExtWidgetID, Literal(prefs.GetOpiSuffix()), false);

    FillProcessList(root, prefs.GetDefaultProcess());
}

// The polling period typed: a whole number of seconds that an int16 holds,
// never negative.
bool ReadFrequency(const IPMUnknown* root, int16_t& frequency) {
    bool valid = false;
    const double value = WidgetUtils::GetValue(root, kOrdoPrefFrequencyWidgetID, &valid);
    if (!valid || value < 0.0 || value > kMostFrequency || std::floor(value) != value) {
        return false;
    }
    frequency = static_cast<int16_t>(value);
    return true;
}

// The time limit typed: a whole number of seconds in the allowed range.
bool ReadWaitLimit(const IPMUnknown* root, int& seconds) {
    bool valid = false;
    const double value = WidgetUtils::GetValue(root, kOrdoPrefWaitLimitWidgetID, &valid);
    if (!valid || value < kODNotAnsweringMinSeconds || value > kODNotAnsweringMaxSeconds ||
        std::floor(value) != value) {
        return false;
    }
    seconds = static_cast<int>(value);
    return true;
}

// The field the user must put right before the values can be taken, or
// kInvalidWidgetID; the user is told why. A field that the user cannot
// reach (its box is cleared) is not held against the dialog.
WidgetID CheckFields(const IPMUnknown* root) {
    for (WidgetID id :
         {kOrdoPrefResolutionWidgetID, kOrdoPrefDownSmpMinWidgetID, kOrdoPrefUpSmpMaxWidgetID}) {
        bool valid = false;
        WidgetUtils::GetValue(root, id, &valid);
        if (!valid && IsEnabled(root, id)) {
            Warn(kNotANumberKey);
            return id;
        }
    }
    // The output resolution is at least 1 dpi; the resampling limits are
    // percentages above 0, "less than" below "greater than".
    const auto value = [&](WidgetID id) { return WidgetUtils::GetValue(root, id, nullptr); };
    const double resolution = value(kOrdoPrefResolutionWidgetID);
    if (!(resolution >= 1.0 && std::isfinite(resolution)) &&
        IsEnabled(root, kOrdoPrefResolutionWidgetID)) {
        Warn(kResolutionRangeKey);
        return kOrdoPrefResolutionWidgetID;
    }
    if (IsEnabled(root, kOrdoPrefDownSmpMinWidgetID) &&
        IsEnabled(root, kOrdoPrefUpSmpMaxWidgetID)) {
        const double lessThan = value(kOrdoPrefDownSmpMinWidgetID);
        const double greaterThan = value(kOrdoPrefUpSmpMaxWidgetID);
        if (!(lessThan > 0.0 && std::isfinite(lessThan))) {
            Warn(kLessThanRangeKey);
            return kOrdoPrefDownSmpMinWidgetID;
        }
        if (!(greaterThan > 0.0 && std::isfinite(greaterThan))) {
            Warn(kGreaterThanRangeKey);
            return kOrdoPrefUpSmpMaxWidgetID;
        }
        if (!(lessThan < greaterThan)) {
            Warn(kLimitsOrderKey);
            return kOrdoPrefDownSmpMinWidgetID;
        }
    }
    int16_t frequency = 0;
    if (!ReadFrequency(root, frequency) && IsEnabled(root, kOrdoPrefFrequencyWidgetID)) {
        Warn(kFrequencyRangeKey);
        return kOrdoPrefFrequencyWidgetID;
    }
    int seconds = 0;
    if (WidgetUtils::FindWidget(root, kOrdoPrefWaitLimitWidgetID) != nullptr &&
        !ReadWaitLimit(root, seconds)) {
        Warn(kWaitLimitRangeKey);
        return kOrdoPrefWaitLimitWidgetID;
    }
    return kInvalidWidgetID;
}

// "Accept OPI Images" needs a low-resolution folder: the OPI pickup waits for
// the low-resolution file there, so without one no order sent in OPI mode
// could ever finish. Checked when the dialog is closed with OK (a file saved
// meanwhile may hold the setting half made).
WidgetID CheckOpiFolder(const IPMUnknown* root) {
    if (WidgetUtils::IsChecked(root, kOrdoPrefOPIActiveWidgetID) &&
        DialogPreferences(root).GetOpiLoResFolder()[0] == '\0') {
        CAlert::WarningAlert(PMString("0x71900kOrdoErrOpiNeedsLowResFolder"));
        return kOrdoPrefLowResButtonWidgetID;
    }
    return kInvalidWidgetID;
}

// The record as the widgets show it, on top of base. A value that does not
// read (only possible in a field the user cannot reach) keeps base's; the
// polling period is never taken below 0.
OD_PrefsData CollectFields(const IPMUnknown* root, OD_PrefsData prefs) {
    auto number = [&](WidgetID id, double fallback) {
        bool valid = false;
        const double value = WidgetUtils::GetValue(root, id, &valid);
        return valid ? value : fallback;
    };
    prefs.SetResolution(number(kOrdoPrefResolutionWidgetID, prefs.GetResolution()));
    prefs.SetDownSmpMin(number(kOrdoPrefDownSmpMinWidgetID, prefs.GetDownSmpMin()));
    prefs.SetUpSmpMax(number(kOrdoPrefUpSmpMaxWidgetID, prefs.GetUpSmpMax()));
    int16_t frequency = 0;
    if (!ReadFrequency(root, frequency)) {
        frequency = prefs.GetFrequency() < 0 ? int16_t{0} : prefs.GetFrequency();
    }
    prefs.SetFrequency(frequency);

    using WidgetUtils::IsChecked;
    prefs.SetAutoUpdt(IsChecked(root, kOrdoPrefAutoUpdateWidgetID));
    prefs.SetOpiActive(IsChecked(root, kOrdoPrefOPIActiveWidgetID));
    prefs.SetOvrWrDest(IsChecked(root, kOrdoPrefOverwriteWidgetID));
    // A layout without the box carries checkSrc as it is.
    if (WidgetUtils::FindWidget(root, kOrdoPrefCheckSrcWidgetID) != nullptr) {
        prefs.SetCheckSrc(IsChecked(root, kOrdoPrefCheckSrcWidgetID));
    }
    prefs.SetDelSrc(IsChecked(root, kOrdoPrefDelSrcWidgetID));
    prefs.SetRepSrc(IsChecked(root, kOrdoPrefRepSrcWidgetID));
    prefs.SetQualityControl(IsChecked(root, kOrdoPrefQualityControlWidgetID));
    prefs.SetAutoImport(IsChecked(root, kOrdoPrefAutoImportWidgetID));
    prefs.SetShowPrefs(IsChecked(root, kOrdoPrefShowPrefsWidgetID));

    if (int32_t n = Selected(root, kOrdoPrefProcessListWidgetID); n >= 0) {
        prefs.SetDefaultProcess(ProcessNameAt(root, kOrdoPrefProcessListWidgetID, n));
    }
    prefs.SetOpiSuffix(Literal(WidgetUtils::GetText(root, kOrdoPrefLowResExtWidgetID)));
    return prefs;
}

// ---- controller

class OrdoPrefDlgController : public CDialogController {
public:
    using CDialogController::CDialogController;

    void InitializeDialogFields(IActiveContext*) override {
        ShowPreferences(this, DialogPreferences(this));
    }

    WidgetID ValidateDialogFields(IActiveContext*) override {
        const WidgetID bad = CheckFields(this);
        return bad != kInvalidWidgetID ? bad : CheckOpiFolder(this);
    }

    void ApplyDialogFields(IActiveContext*, WidgetID) override {
        const OD_PrefsData prefs = CollectFields(this, DialogPreferences(this));
        InterfacePtr<IOrdoPrefsData> session(Session(), IID_IORDOPREFSDATA);
        if (session) {
            session->Set(prefs);
        }
        SetDialogPreferences(this, prefs);
        int seconds = 0;
        if (ReadWaitLimit(this, seconds) && seconds != NotAnsweringSeconds()) {
            SetNotAnsweringSeconds(seconds);
        }
    }
};

// ---- observer

class OrdoPrefDlgObserver : public CDialogObserver {
public:
    using CDialogObserver::CDialogObserver;

    void AutoAttach() override {
        for (WidgetID id : kBoxesAndButtons) {
            AttachToWidget(id, IID_ITRISTATECONTROLDATA);
        }
        AttachToWidget(kOrdoPrefProcessListWidgetID, IID_ISTRINGLISTCONTROLDATA);
    }

    void AutoDetach() override {
        for (WidgetID id : kBoxesAndButtons) {
            DetachFromWidget(id, IID_ITRISTATECONTROLDATA);
        }
        DetachFromWidget(kOrdoPrefProcessListWidgetID, IID_ISTRINGLISTCONTROLDATA);
    }

    void Update(ClassID change, ISubject* subject, PMIID protocol, void*) override {
        InterfacePtr<IControlView> view(subject, IID_ICONTROLVIEW);
        if (!view) {
            return;
        }
        const WidgetID id = view->GetWidgetID();
        if (protocol == IID_ISTRINGLISTCONTROLDATA) {
            if (change == kPopupChangeStateMessage && id == kOrdoPrefProcessListWidgetID) {
                ProcessChosen();
            }
            return;
        }
        if (protocol != IID_ITRISTATECONTROLDATA ||
            (change != kTrueStateMessage && change != kFalseStateMessage)) {
            return;
        }
        const bool on = change == kTrueStateMessage;
        if (id == kOrdoPrefOPIActiveWidgetID) {
            EnableAll(this, kOPIControls, on);
        } else if (id == kOrdoPrefQualityControlWidgetID) {
            EnableAll(this, kLimitControls, on);
        } else if (id == kOrdoPrefAutoUpdateWidgetID) {
            EnableAll(this, kFrequencyControls, on);
        } else if (id == kOrdoPrefRepSrcWidgetID) {
            ReplaceOriginal(on);
        } else if (!on) {
            return; // the rest are buttons
        } else if (id == kOrdoPrefServerButtonWidgetID) {
            ChooseServer();
        } else if (id == kOrdoPrefFolderButtonWidgetID) {
            ChooseFolder(true);
        } else if (id == kOrdoPrefLowResButtonWidgetID) {
            ChooseFolder(false);
        } else if (id == kOrdoPrefSaveAsWidgetID) {
            SaveAs();
        } else if (id == kOrdoPrefLoadWidgetID) {
            Load();
        }
    }

private:
    static constexpr WidgetID kBoxesAndButtons[] = {
        kOrdoPrefOPIActiveWidgetID,    kOrdoPrefQualityControlWidgetID,
        kOrdoPrefAutoUpdateWidgetID,   kOrdoPrefRepSrcWidgetID,
        kOrdoPrefServerButtonWidgetID, kOrdoPrefFolderButtonWidgetID,
        kOrdoPrefLowResButtonWidgetID, kOrdoPrefSaveAsWidgetID,
        kOrdoPrefLoadWidgetID};

    void ReplaceOriginal(bool on) {
        OD_PrefsData prefs = DialogPreferences(this);
        prefs.SetRepSrc(on);
        SetDialogPreferences(this, prefs);
        EnableAll(this, kReplaceDependants, !on);
        // The processed image takes the original's place: it overwrites, and
        // there is no original left to delete.
        WidgetUtils::SetChecked(this, kOrdoPrefOverwriteWidgetID, on, false);
        WidgetUtils::SetChecked(this, kOrdoPrefDelSrcWidgetID, false, false);
    }

    void ProcessChosen() {
        const int32_t n = Selected(this, kOrdoPrefProcessListWidgetID);
        if (n < 0) {
            return;
        }
        OD_PrefsData prefs = DialogPreferences(this);
        prefs.SetDefaultProcess(ProcessNameAt(this, kOrdoPrefProcessListWidgetID, n));
        SetDialogPreferences(this, prefs);
        Describe(this);
    }

    // The server is chosen by a file inside its root folder (the server
    // application). A server that cannot be opened is not taken.
    void ChooseServer() {
        const OD_PrefsData prefs = DialogPreferences(this);
        OpenFileChooser chooser;
        chooser.SetTitle(PMString(kServerTitleKey));
        char root[kODPrefsPathSize] = "";
        CopyBounded(root, sizeof root, prefs.GetServerPath());
        if (char* last = LastSeparator(root)) {
            *last = '\0';
            chooser.SetStartFolder(root);
        }
        if (!chooser.ShowDialog()) {
            return;
        }
        const std::string& path = chooser.GetPath();
        if (path.size() >= kODPrefsPathSize) {
            Warn(kPathTooLongKey);
            return;
        }
        if (!ChangeServer(this, Session(), path.c_str())) {
            Warn(kServerChoiceKey);
            return;
        }
        FollowSession();
        const OD_PrefsData now = DialogPreferences(this);
        WidgetUtils::SetText(this, kOrdoPrefServerPathWidgetID,
                             Literal(std::string(now.GetServerPath())), false);
        FillProcessList(this, now.GetDefaultProcess());
    }

    // After the session moved to another server, the dialog's link is the
    // session's, with the configuration of the server now named (none when
    // it cannot be read, rather than the previous server's).
    void FollowSession() {
        InterfacePtr<IOrdoQORData> sessionLink(Session(), IID_IORDOQORDATA);
        InterfacePtr<IOrdoQORData> link(this, IID_IORDOQORDATA);
        if (!link) {
            return;
        }
        OD_QORData data = sessionLink ? sessionLink->Get() : OD_QORData();
        const OD_PrefsData prefs = DialogPreferences(this);
        std::unique_ptr<QOR_Parameters> loaded;
        if (const QOR_EndPoint* endpoint = data.GetEndPoint()) {
            char open[kServerPathCapacity] = "";
            endpoint->GetServerPath(open, sizeof open);
            if (prefs.GetServerPath()[0] != '\0' && std::strcmp(open, prefs.GetServerPath()) == 0) {
                loaded = LoadParameters(endpoint);
            }
        }
        const QOR_Parameters none;
        data.SetParameters(loaded ? loaded.get() : &none);
        link->Set(data);
    }

    void ChooseFolder(bool outputFolder) {
        OD_PrefsData prefs = DialogPreferences(this);
        FolderChooser chooser;
        chooser.SetTitle(PMString(kSelectFolderKey));
        chooser.SetStartFolder(outputFolder ? prefs.GetOutFolder() : prefs.GetOpiLoResFolder());
        if (!chooser.ShowDialog()) {
            return;
        }
        const std::string& folder = chooser.GetPath();
        const bool kept = outputFolder ? prefs.SetOutFolder(folder.c_str())
                                       : prefs.SetOpiLoResFolder(folder.c_str());
        if (!kept) {
            Warn(kPathTooLongKey);
            return;
        }
        SetDialogPreferences(this, prefs);
        WidgetUtils::SetText(
            this, outputFolder ? kOrdoPrefFolderPathWidgetID : kOrdoPrefLowResPathWidgetID,
            Literal(folder), false);
    }

    // Saves the preferences as the dialog shows them.
    void SaveAs() {
        if (CheckFields(this).IsValid()) {
            return;
        }
        SaveFileChooser chooser;
        chooser.SetTitle(PMString(kSaveTitleKey));
        chooser.SetFileName(PMString(kSaveNameKey));
        chooser.AddFilter(PMString(kSaveFamilyKey), kPrefsFileExtension);
        chooser.SetStartFolder(OD_PrefsData::IdentityFolder());
        if (!chooser.ShowDialog()) {
            return;
        }
        const OD_PrefsData prefs = CollectFields(this, DialogPreferences(this));
        if (!SavePreferenceFile(prefs, chooser.GetPath())) {
            Warn(kPrefsSaveKey);
        }
    }

    // A loaded file becomes the dialog's and the session's preferences at
    // once, with its server; the dialog then shows it.
    void Load() {
        OpenFileChooser chooser;
        chooser.AddFilter(PMString(kLoadFamilyKey), kPrefsFileExtension);
        chooser.AddFilter(PMString(kLoadFamilyKey), "indd");
        chooser.SetStartFolder(OD_PrefsData::IdentityFolder());
        if (!chooser.ShowDialog()) {
            return;
        }
        OD_PrefsData loaded;
        if (!LoadPreferenceFile(chooser.GetPath(), loaded)) {
            Warn(kPrefsLoadKey);
            return;
        }
        SetDialogPreferences(this, loaded);
        UseSessionPreferences(Session(), loaded);
        FollowSession();
        ShowPreferences(this, loaded);
    }
};

// ---- description lines

// The process codes that correct and convert, with the code of their
// correction and the code of their conversion alone.
struct SplitProcess {
    int code;
    int correction;
    int conversion;
};
constexpr SplitProcess kSplitProcesses[] = {{3, 1, 2}, {12, 10, 11}, {13, 10, 14}, {16, 10, 15}};

std::string ProcessText(int code) {
    return ProcessCodeTextKey(static_cast<int16_t>(code)).Translated().GetUTF8String();
}

std::string OutcomeText(int outcome) {
    switch (outcome) {
    case 10:
        return PMString("0x71900kStrImageTypeGray").Translated().GetUTF8String();
    case 1:
        return PMString("0x71900kStrImageTypeRGB").Translated().GetUTF8String();
    case 2:
        return PMString("0x71900kStrImageTypeCMYK").Translated().GetUTF8String();
    default:
        return PMString("0x71900kStrImageTypeUnknown").Translated().GetUTF8String();
    }
}

// The two patterns of a description line, as literals that the compiler checks.
std::string LongLine(const std::string& kind, const std::string& correction,
                     const std::string& conversion, const std::string& outcome,
                     const std::string& format) {
    const int size =
        std::snprintf(nullptr, 0, "-%-4s: %s, %s, %s, %s\n", kind.c_str(), correction.c_str(),
                      conversion.c_str(), outcome.c_str(), format.c_str());
    std::vector<char> line(static_cast<std::size_t>(size > 0 ? size : 0) + 1);
    std::snprintf(line.data(), line.size(), "-%-4s: %s, %s, %s, %s\n", kind.c_str(),
                  correction.c_str(), conversion.c_str(), outcome.c_str(), format.c_str());
    return line.data();
}

std::string ShortLine(const std::string& kind, const std::string& process,
                      const std::string& outcome, const std::string& format) {
    const int size = std::snprintf(nullptr, 0, "-%-4s: %s, %s, %s\n", kind.c_str(), process.c_str(),
                                   outcome.c_str(), format.c_str());
    std::vector<char> line(static_cast<std::size_t>(size > 0 ? size : 0) + 1);
    std::snprintf(line.data(), line.size(), "-%-4s: %s, %s, %s\n", kind.c_str(), process.c_str(),
                  outcome.c_str(), format.c_str());
    return line.data();
}

} // namespace

PMString DescribeJobProfile(const QOR_JobProfileOptions* profile) {
    if (profile == nullptr) {
        return Literal(std::string());
    }
    struct Kind {
        const char* key;
        int model;
        int first;
        int last;
    };
    static constexpr Kind kKinds[] = {
        {"0x71900kStrImageTypeGray", kODModelGray, 1, 4},
        {"0x71900kStrImageTypeRGB", kODModelRGB, 10, 17},
        {"0x71900kStrImageTypeCMYK", kODModelCMYK, 20, 24},
    };
    const QOR_ColorCorrectionOptions& correction = profile->colorCorrection;
    std::string text;
    for (int k = 0; k < 3; ++k) {
        const Kind& kind = kKinds[k];
        const std::string label = PMString(kind.key).Translated().GetUTF8String();
        // The process the profile gives this kind; unknown when its colour
        // correction did not read or names no process of the kind's group.
        int code = 0;
        if (correction.valid != 0) {
            const int found = CodeForOption(correction.modes[k], kind.model);
            code = found >= kind.first && found <= kind.last ? found : 0;
        }
        const int outcome = ProcessOutcome(correction, k);
        const std::string outcomeText = OutcomeText(outcome);
        const std::string format = FormatCodeName(
            profile->fileOptions.valid != 0 ? ResultFormat(profile->fileOptions, outcome) : -1);
        const SplitProcess* split = nullptr;
        for (const SplitProcess& s : kSplitProcesses) {
            if (s.code == code) {
                split = &s;
            }
        }
        if (split != nullptr) {
            text += LongLine(label, ProcessText(split->correction), ProcessText(split->conversion),
                             outcomeText, format);
        } else {
            text += ShortLine(label, ProcessText(code), outcomeText, format);
        }
    }
    return Literal(text);
}

void RegisterPreferencesDialog() {
    ObjectModel& model = ObjectModel::Get();
    if (!model.IsRegistered(kOrdoPrefsDataNonPersistImpl)) {
        RegisterPreferenceImplementations();
    }
    if (!model.IsRegistered(kOrdoQORDataNonPersistImpl)) {
        RegisterServerLinkImplementations();
    }
    const ImplementationFactory factories[] = {
        {kOrdoPrefDlgControllerImpl, "OrdoPrefDlgController",
         CreateImplementation<OrdoPrefDlgController>, false},
        {kOrdoPrefDlgObserverImpl, "OrdoPrefDlgObserver", CreateImplementation<OrdoPrefDlgObserver>,
         false},
    };
    for (const ImplementationFactory& factory : factories) {
        if (!model.IsRegistered(factory.id)) {
            model.RegisterImplementation(factory);
        }
    }
    if (!model.HasClass(kOrdoPrefDlgBoss)) {
        model.DefineClass({kOrdoPrefDlgBoss,
                           kDialogBoss,
                           {{IID_IDIALOGCONTROLLER, kOrdoPrefDlgControllerImpl},
                            {IID_IOBSERVER, kOrdoPrefDlgObserverImpl},
                            {IID_IORDOPREFSDATA, kOrdoPrefsDataNonPersistImpl},
                            {IID_IORDOQORDATA, kOrdoQORDataNonPersistImpl}}});
    }
}

WidgetResource PreferencesDialogResource() {
    auto text = [](WidgetID id, const char* label, PMRect frame) {
        return Widget(kStaticTextWidgetBoss, id, PMString(label), frame);
    };
    auto shown = [](WidgetID id, PMRect frame) {
        return Widget(kStaticTextWidgetBoss, id, PMString(), frame);
    };
    auto box = [](WidgetID id, const char* label, PMRect frame) {
        return Widget(kCheckBoxWidgetBoss, id, PMString(label), frame);
    };
    auto button = [](WidgetID id, const char* label, PMRect frame) {
        return Widget(kButtonWidgetBoss, id, PMString(label), frame);
    };
    auto edit = [](WidgetID id, PMRect frame) {
        return Widget(kTextEditBoxWidgetBoss, id, PMString(), frame);
    };
    auto group = [](WidgetID id, const char* label, PMRect frame,
                    std::vector<WidgetResource> children) {
        return Widget(kGroupPanelWidgetBoss, id, PMString(label), frame, std::move(children));
    };

    WidgetResource showPrefs =
        box(kOrdoPrefShowPrefsWidgetID, "0x71900kOrdoPrefsShowPrefsKey", PMRect(10, 20, 390, 40));
    showPrefs.tip = PMString("0x71900kOrdoPrefsShowPrefsTip");

    WidgetResource dialog =
        Widget(kOrdoPrefDlgBoss, kOrdoPrefDlgWidgetID, PMString(kTitleKey), PMRect(0, 0, 820, 560),
               {
                   group(kOrdoPrefServerGroupWidgetID, "0x71900kOrdoPrefsServerGroupKey",
                         PMRect(10, 10, 400, 70),
                         {
                             shown(kOrdoPrefServerPathWidgetID, PMRect(10, 20, 290, 40)),
                             button(kOrdoPrefServerButtonWidgetID,
                                    "0x71900kOrdoPrefsServerButtonKey", PMRect(300, 20, 380, 40)),
                         }),
                   group(kOrdoPrefProcessingGroupWidgetID, "0x71900kOrdoPrefsProcessingGroupKey",
                         PMRect(10, 80, 400, 250),
                         {
                             text(kOrdoPrefProcessLabelWidgetID,
                                  "0x71900kOrdoImgOptDialogDefProfileKey", PMRect(10, 20, 150, 40)),
                             Widget(kDropDownListWidgetBoss, kOrdoPrefProcessListWidgetID,
                                    PMString(), PMRect(160, 20, 380, 40)),
                             text(kOrdoPrefResolutionLabelWidgetID,
                                  "0x71900kOrdoPrefsResolutionKey", PMRect(10, 50, 250, 70)),
                             edit(kOrdoPrefResolutionWidgetID, PMRect(260, 50, 380, 70)),
                             shown(kOrdoPrefDescriptionWidgetID, PMRect(10, 80, 380, 160)),
                         }),
                   group(kOrdoPrefFileSavingGroupWidgetID, "0x71900kOrdoPrefsFileSavingGroupKey",
                         PMRect(10, 260, 400, 400),
                         {
                             button(kOrdoPrefFolderButtonWidgetID,
                                    "0x71900kOrdoPrefsFolderButtonKey", PMRect(10, 20, 90, 40)),
                             shown(kOrdoPrefFolderPathWidgetID, PMRect(100, 20, 380, 40)),
                             box(kOrdoPrefDelSrcWidgetID, "0x71900kOrdoPrefsDelSrcKey",
                                 PMRect(10, 50, 380, 70)),
                             box(kOrdoPrefOverwriteWidgetID, "0x71900kOrdoPrefsOverwriteKey",
                                 PMRect(10, 75, 380, 95)),
                             box(kOrdoPrefRepSrcWidgetID, "0x71900kOrdoPrefsRepSrcKey",
                                 PMRect(10, 100, 380, 120)),
                         }),
                   group(kOrdoPrefOrdersGroupWidgetID, "0x71900kOrdoPrefsOrdersGroupKey",
                         PMRect(410, 10, 810, 200),
                         {
                             box(kOrdoPrefAutoImportWidgetID, "0x71900kOrdoPrefsAutoImportKey",
                                 PMRect(10, 20, 390, 40)),
                             box(kOrdoPrefAutoUpdateWidgetID, "0x71900kOrdoPrefsAutoUpdateKey",
                                 PMRect(10, 45, 180, 65)),
                             text(kOrdoPrefFrequencyLabelWidgetID, "0x71900kOrdoPrefsFrequencyKey",
                                  PMRect(190, 45, 290, 65)),
                             edit(kOrdoPrefFrequencyWidgetID, PMRect(300, 45, 380, 65)),
                             text(kOrdoPrefWaitLimitLabelWidgetID, "0x71900kOrdoPrefsWaitLimitKey",
                                  PMRect(10, 155, 290, 175)),
                             edit(kOrdoPrefWaitLimitWidgetID, PMRect(300, 155, 380, 175)),
                             box(kOrdoPrefQualityControlWidgetID,
                                 "0x71900kOrdoPrefsQualityControlKey", PMRect(10, 75, 390, 95)),
                             text(kOrdoPrefLessThanLabelWidgetID, "0x71900kOrdoPrefsLessThanKey",
                                  PMRect(30, 100, 150, 120)),
                             edit(kOrdoPrefDownSmpMinWidgetID, PMRect(160, 100, 230, 120)),
                             text(kOrdoPrefGreaterThanLabelWidgetID,
                                  "0x71900kOrdoPrefsGreaterThanKey", PMRect(30, 125, 150, 145)),
                             edit(kOrdoPrefUpSmpMaxWidgetID, PMRect(160, 125, 230, 145)),
                         }),
                   group(kOrdoPrefOPIGroupWidgetID, "", PMRect(410, 210, 810, 400),
                         {
                             box(kOrdoPrefOPIActiveWidgetID, "0x71900kOrdoPrefsOPIActiveKey",
                                 PMRect(10, 5, 250, 25)),
                             button(kOrdoPrefLowResButtonWidgetID,
                                    "0x71900kOrdoPrefsLowResFolderKey", PMRect(10, 35, 150, 55)),
                             shown(kOrdoPrefLowResPathWidgetID, PMRect(160, 35, 390, 55)),
                             text(kOrdoPrefOPINoteWidgetID, "0x71900kOrdoPrefsOPINoteKey",
                                  PMRect(10, 65, 390, 115)),
                             text(kOrdoPrefLowResExtLabelWidgetID, "0x71900kOrdoPrefsLowResExtKey",
                                  PMRect(10, 125, 200, 145)),
                             edit(kOrdoPrefLowResExtWidgetID, PMRect(210, 125, 300, 145)),
                         }),
                   group(kOrdoPrefAdvancedGroupWidgetID, "0x71900kOrdoPrefsAdvancedGroupKey",
                         PMRect(10, 410, 810, 500),
                         {
                             showPrefs,
                             button(kOrdoPrefSaveAsWidgetID, "0x71900kOrdoPrefsSaveAsKey",
                                    PMRect(10, 50, 130, 70)),
                             button(kOrdoPrefLoadWidgetID, "0x71900kOrdoPrefsLoadKey",
                                    PMRect(140, 50, 260, 70)),
                         }),
                   button(kOKButtonWidgetID, "0x71900kOrdoDialogOKKey", PMRect(620, 520, 710, 545)),
                   button(kCancelButtonWidgetID, "0x71900kOrdoDialogCancelKey",
                          PMRect(720, 520, 810, 545)),
               });
    dialog.visible = false;
    return dialog;
}

InterfacePtr<IControlView> CreatePreferencesDialog() {
    return CreateWidgetTree(PreferencesDialogResource());
}

bool RunPreferencesDialog() {
    InterfacePtr<IOrdoPrefsData> sessionPrefs(Session(), IID_IORDOPREFSDATA);
    InterfacePtr<IOrdoQORData> sessionLink(Session(), IID_IORDOQORDATA);
    if (!sessionPrefs || !sessionLink) {
        return false;
    }
    InterfacePtr<IControlView> dialog = CreatePreferencesDialog();
    InterfacePtr<IOrdoPrefsData> prefs(dialog, IID_IORDOPREFSDATA);
    InterfacePtr<IOrdoQORData> link(dialog, IID_IORDOQORDATA);
    if (!prefs || !link) {
        return false;
    }
    prefs->Set(sessionPrefs->Get());
    link->Set(sessionLink->Get());
    return DialogMgr::RunModalDialog(dialog.get()) == DialogAnswer::kOK;
}
