#include "OrdoImgOptDialog.h"

#include "IOrdoData.h"
#include "IOrdoPrefsData.h"
#include "OD_ServerLink.h"
#include "OrdoCommands.h"
#include "OrdoDialogSupport.h"
#include "PreferenceFiles.h"
#include "QOR_Configuration.h"
#include "SessionIDs.h"
#include "Widgets.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace OrdoDialogs;

namespace {

constexpr const char* kTitleKey = "0x71900kOrdoImgOptDialogTitleKey";
constexpr const char* kDefaultPrefsKey = "0x71900kOrdoImgOptPrefDefaultPrefsKey";
constexpr const char* kSameAsOriginalKey = "0x71900kOrdoImgOptOriginalNameStringKey";
constexpr const char* kImageTypeUnknownKey = "0x71900kImageTypeUnknown";

// The process types offered for an image class: count codes from base on.
// slot and model say which colour-correction mode of a server profile gives
// the image's process, and in which colour model its option is read.
struct TypeGroup {
    int16_t base;
    int16_t count;
    int slot;
    int model;
};

std::optional<TypeGroup> GroupOfClass(uint32_t imageClass) {
    switch (imageClass) {
    case kODClassGray:
        return TypeGroup{kODProcessGrayBase, 4, 0, kODModelGray};
    case kODClassRGB:
    case kODClassLab:
        return TypeGroup{kODProcessRGBBase, 8, 1, kODModelRGB};
    case kODClassCMYK:
        return TypeGroup{kODProcessCMYKBase, 5, 2, kODModelCMYK};
    default:
        return std::nullopt;
    }
}

// The configuration of the session's server as the session's link keeps it:
// read from the server only when the link holds none of it yet or its files
// changed. Null when there is no server to read it from.
std::unique_ptr<QOR_Parameters> SessionConfiguration() {
    return ServerConfiguration(Session());
}

// The preferences that govern an order: those of its preference file when
// the session lets orders name one and the file reads, else the session's.
OD_PrefsData GoverningPreferences(const OD_ProcData& order) {
    OD_PrefsData prefs = SessionPreferences();
    if (prefs.GetShowPrefs() && !order.prefsFileName.IsEmpty()) {
        const std::string path = PreferenceFilePath(order.prefsFileName.GetUTF8String());
        OD_PrefsData fromFile;
        if (!path.empty() && LoadPreferenceFile(path, fromFile)) {
            return fromFile;
        }
    }
    return prefs;
}

// The destination name as the preferences want it: disabled and reading
// "Same as original" when the processed image replaces the original, else
// the order's output name, to be edited. Shown only when the order has one.
void ShowDestination(const IPMUnknown* root, const OD_ProcData& order, bool replacesOriginal) {
    const bool hasName = !order.outputName.IsEmpty();
    WidgetUtils::Show(root, kOrdoImgOptDestNameWidgetID, hasName);
    WidgetUtils::Show(root, kOrdoImgOptDestLabelWidgetID, hasName);
    if (replacesOriginal) {
        WidgetUtils::SetText(root, kOrdoImgOptDestNameWidgetID, PMString(kSameAsOriginalKey),
                             false);
        WidgetUtils::Enable(root, kOrdoImgOptDestNameWidgetID, false);
    } else {
        WidgetUtils::SetText(root, kOrdoImgOptDestNameWidgetID, Literal(order.outputName), false);
        WidgetUtils::Enable(root, kOrdoImgOptDestNameWidgetID, true);
    }
}

void ShowPrefix(const IPMUnknown* root, int code) {
    const bool correction = HasCorrection(code);
    WidgetUtils::Show(root, kOrdoImgOptPrefixListWidgetID, correction);
    WidgetUtils::Show(root, kOrdoImgOptPrefixLabelWidgetID, correction);
}

bool IsShownAndEnabled(const IPMUnknown* root, WidgetID id) {
    IControlView* view = WidgetUtils::FindWidget(root, id);
    return view != nullptr && view->IsVisible() && view->IsEnabled();
}

bool IsShown(const IPMUnknown* root, WidgetID id) {
    IControlView* view = WidgetUtils::FindWidget(root, id);
    return view != nullptr && view->IsVisible();
}

// ---- controller

class OrdoImgOptDialogController : public CDialogController {
public:
    using CDialogController::CDialogController;

    void InitializeDialogFields(IActiveContext*) override {
        InterfacePtr<IOrdoDataNonPersist> data(this, IID_IORDODATANONPERSIST);
        if (!data) {
            return;
        }
        const OD_ProcData order = data->GetData();
        PMString status = data->GetString();

        ShowPrefix(this, order.processCode);

        // Process types by the image's class.
        const std::optional<TypeGroup> group = GroupOfClass(order.imageClass);
        std::vector<PMString> types;
        for (int16_t n = 0; group && n < group->count; ++n) {
            types.push_back(ProcessCodeTextKey(static_cast<int16_t>(group->base + n)));
        }
        SetEntries(this, kOrdoImgOptTypeListWidgetID, types);
        WidgetUtils::Enable(this, kOrdoImgOptTypeListWidgetID, group.has_value());
        WidgetUtils::Enable(this, kOrdoImgOptTypeLabelWidgetID, group.has_value());
        if (group) {
            Select(this, kOrdoImgOptTypeListWidgetID, order.processCode - group->base, false);
        } else {
            // The status may be a key; it is translated before the reason is
            // added to it.
            status = status.Translated();
            status.Append("\n");
            status.Append(PMString(kImageTypeUnknownKey).Translated());
            status.SetTranslatable(false);
        }
        WidgetUtils::SetText(this, kOrdoImgOptStatusTextWidgetID, status, false);

        ShowDestination(this, order, GoverningPreferences(order).GetRepSrc());

        const OD_PrefsData session = SessionPreferences();
        FillPreferenceFiles(order, session.GetShowPrefs());

        configuration = SessionConfiguration();
        if (!configuration) {
            SetEntries(this, kOrdoImgOptProcessListWidgetID, {});
            SetEntries(this, kOrdoImgOptPrefixListWidgetID, {});
            return;
        }
        SetEntries(this, kOrdoImgOptProcessListWidgetID, ProcessEntries(configuration.get()));
        Select(this, kOrdoImgOptProcessListWidgetID,
               ProcessEntryFor(this, kOrdoImgOptProcessListWidgetID, order.profile), false);
        FillPrefixes(order);
    }

    void ApplyDialogFields(IActiveContext*, WidgetID) override {
        InterfacePtr<IOrdoDataNonPersist> data(this, IID_IORDODATANONPERSIST);
        if (!data) {
            return;
        }
        OD_ProcData order = data->GetData();

        // A list without a choice keeps what the order had: its prefix may
        // come from the file's name and be none of the server's sets.
        if (int32_t n = Selected(this, kOrdoImgOptPrefixListWidgetID); n >= 0) {
            order.prefix = Literal(EntryText(this, kOrdoImgOptPrefixListWidgetID, n));
        }
        // "Same as original" (or a hidden field) is no name of the order's.
        if (IsShownAndEnabled(this, kOrdoImgOptDestNameWidgetID)) {
            order.outputName = Literal(GetTextControlData(kOrdoImgOptDestNameWidgetID));
        }
        if (order.status == kODStatusNone || order.status == kODStatusProvisional) {
            order.status = kODStatusReady;
        }
        if (int32_t n = Selected(this, kOrdoImgOptTypeListWidgetID); n >= 0) {
            if (std::optional<TypeGroup> group = GroupOfClass(order.imageClass)) {
                order.processCode = static_cast<int16_t>(group->base + n);
            }
        }
        if (int32_t n = Selected(this, kOrdoImgOptProcessListWidgetID); n >= 0) {
            order.profile = ProcessNameAt(this, kOrdoImgOptProcessListWidgetID, n);
        }
        if (IsShown(this, kOrdoImgOptPrefsListWidgetID)) {
            if (int32_t n = Selected(this, kOrdoImgOptPrefsListWidgetID); n == 0) {
                order.prefsFileName = PMString();
            } else if (n > 0) {
                order.prefsFileName = Literal(EntryText(this, kOrdoImgOptPrefsListWidgetID, n));
            }
        }
        data->SetData(order);
    }

    // The server configuration read when the dialog opened, or null.
    const QOR_Parameters* Configuration() const { return configuration.get(); }

private:
    void FillPreferenceFiles(const OD_ProcData& order, bool shown) {
        WidgetUtils::Show(this, kOrdoImgOptPrefsListWidgetID, shown);
        WidgetUtils::Show(this, kOrdoImgOptPrefsLabelWidgetID, shown);
        if (!shown) {
            SetEntries(this, kOrdoImgOptPrefsListWidgetID, {});
            return;
        }
        std::vector<PMString> entries{PMString(kDefaultPrefsKey)};
        for (const std::string& name : ListPreferenceFiles()) {
            entries.push_back(Literal(name));
        }
        SetEntries(this, kOrdoImgOptPrefsListWidgetID, entries);
        int32_t chosen = 0;
        if (!order.prefsFileName.IsEmpty()) {
            chosen = -1;
            for (int32_t n = 1; n < static_cast<int32_t>(entries.size()); ++n) {
                if (entries[static_cast<std::size_t>(n)] == order.prefsFileName) {
                    chosen = n;
                }
            }
        }
        Select(this, kOrdoImgOptPrefsListWidgetID, chosen, false);
    }

    // The server's named parameter sets for the image's class: list B for
    // gray images, list A for RGB and Lab images, none for the others. A
    // prefix of the order's that is none of them is offered first, so that
    // the dialog shows what the order holds.
    void FillPrefixes(const OD_ProcData& order) {
        const QOR_CurparamData& names = configuration->Curparam();
        std::vector<PMString> entries;
        auto add = [&](const char* name) {
            if (name[0] != '\0') {
                entries.push_back(Literal(std::string(name)));
            }
        };
        char name[sizeof(QOR_CurparamData::Name)];
        if (order.imageClass == kODClassGray) {
            for (int i = 0; i < names.ParameterCountB(); ++i) {
                add(names.ParameterNameB(i, name, sizeof name));
            }
        } else if (order.imageClass == kODClassRGB || order.imageClass == kODClassLab) {
            for (int i = 0; i < names.ParameterCountA(); ++i) {
                add(names.ParameterNameA(i, name, sizeof name));
            }
        }
        int32_t chosen = -1;
        for (std::size_t n = 0; n < entries.size(); ++n) {
            if (entries[n] == order.prefix) {
                chosen = static_cast<int32_t>(n);
                break;
            }
        }
        if (chosen < 0 && !order.prefix.IsEmpty() && !entries.empty()) {
            entries.insert(entries.begin(), Literal(order.prefix));
            chosen = 0;
        }
        SetEntries(this, kOrdoImgOptPrefixListWidgetID, entries);
        Select(this, kOrdoImgOptPrefixListWidgetID, chosen, false);
    }

    std::unique_ptr<QOR_Parameters> configuration;
};

// ---- observer

class OrdoImgOptDialogObserver : public CDialogObserver {
public:
    using CDialogObserver::CDialogObserver;

    void AutoAttach() override {
        for (WidgetID id : kLists) {
            AttachToWidget(id, IID_ISTRINGLISTCONTROLDATA);
        }
    }

    void AutoDetach() override {
        for (WidgetID id : kLists) {
            DetachFromWidget(id, IID_ISTRINGLISTCONTROLDATA);
        }
    }

    void Update(ClassID change, ISubject* subject, PMIID protocol, void*) override {
        if (change != kPopupChangeStateMessage || protocol != IID_ISTRINGLISTCONTROLDATA) {
            return;
        }
        InterfacePtr<IControlView> view(subject, IID_ICONTROLVIEW);
        if (!view) {
            return;
        }
        const WidgetID id = view->GetWidgetID();
        if (id == kOrdoImgOptTypeListWidgetID) {
            TypeChosen();
        } else if (id == kOrdoImgOptProcessListWidgetID) {
            ProcessChosen();
        } else if (id == kOrdoImgOptPrefsListWidgetID) {
            PreferencesChosen();
        }
    }

private:
    static constexpr WidgetID kLists[] = {
        kOrdoImgOptTypeListWidgetID, kOrdoImgOptProcessListWidgetID, kOrdoImgOptPrefsListWidgetID};

    OD_ProcData Order() const {
        InterfacePtr<IOrdoDataNonPersist> data(this, IID_IORDODATANONPERSIST);
        return data ? data->GetData() : OD_ProcData();
    }

    void TypeChosen() {
        const std::optional<TypeGroup> group = GroupOfClass(Order().imageClass);
        const int32_t n = Selected(this, kOrdoImgOptTypeListWidgetID);
        if (group && n >= 0) {
            ShowPrefix(this, group->base + n);
        }
    }

    // The chosen server process sets the process type that it gives the
    // image's class.
    void ProcessChosen() {
        InterfacePtr<IDialogController> controller(this, IID_IDIALOGCONTROLLER);
        auto* own = dynamic_cast<OrdoImgOptDialogController*>(controller.get());
        const QOR_Parameters* configuration = own != nullptr ? own->Configuration() : nullptr;
        const int32_t n = Selected(this, kOrdoImgOptProcessListWidgetID);
        const std::optional<TypeGroup> group = GroupOfClass(Order().imageClass);
        if (configuration == nullptr || n < 0 || !group) {
            return;
        }
        const QOR_JobProfileOptions* profile = configuration->JobProfile(n);
        // A profile whose colour correction did not read says nothing of the
        // process.
        if (profile == nullptr || profile->colorCorrection.valid == 0) {
            return;
        }
        const int code = CodeForOption(profile->colorCorrection.modes[group->slot], group->model);
        const int entry = code - group->base;
        if (code < 0 || entry < 0 || entry >= group->count) {
            return;
        }
        Select(this, kOrdoImgOptTypeListWidgetID, entry, true);
        WidgetUtils::Enable(this, kOrdoImgOptTypeListWidgetID, true);
        WidgetUtils::Enable(this, kOrdoImgOptTypeLabelWidgetID, true);
    }

    // A chosen preference file brings its default process and tells whether
    // the processed image replaces the original; "Default Preferences" brings
    // the session's.
    void PreferencesChosen() {
        const int32_t n = Selected(this, kOrdoImgOptPrefsListWidgetID);
        if (n < 0) {
            return;
        }
        OD_PrefsData chosen = SessionPreferences();
        if (n > 0) {
            const std::string name =
                EntryText(this, kOrdoImgOptPrefsListWidgetID, n).GetUTF8String();
            const std::string path = PreferenceFilePath(name);
            OD_PrefsData fromFile;
            if (path.empty() || !LoadPreferenceFile(path, fromFile)) {
                return;
            }
            chosen = fromFile;
        }
        const int32_t process =
            ProcessEntryFor(this, kOrdoImgOptProcessListWidgetID, chosen.GetDefaultProcess());
        if (process >= 0) {
            Select(this, kOrdoImgOptProcessListWidgetID, process, true);
        }
        ShowDestination(this, Order(), chosen.GetRepSrc());
    }
};

// The dialog's view; the dialog shows itself as the host's dialogs do.
class OrdoImageOptionsDialogView : public CControlView {
public:
    using CControlView::CControlView;
};

} // namespace

void RegisterImageOptionsDialog() {
    ObjectModel& model = ObjectModel::Get();
    RegisterOrdoDataImplementations();
    const ImplementationFactory factories[] = {
        {kOrdoImgOptDialogControllerImpl, "OrdoImgOptDialogController",
         CreateImplementation<OrdoImgOptDialogController>, false},
        {kOrdoImgOptDialogObserverImpl, "OrdoImgOptDialogObserver",
         CreateImplementation<OrdoImgOptDialogObserver>, false},
        {kOrdoImageOptionsDialogViewImpl, "OrdoImageOptionsDialogView",
         CreateImplementation<OrdoImageOptionsDialogView>, false},
    };
    for (const ImplementationFactory& factory : factories) {
        if (!model.IsRegistered(factory.id)) {
            model.RegisterImplementation(factory);
        }
    }
    if (!model.HasClass(kOrdoImgOptDialogBoss)) {
        model.DefineClass({kOrdoImgOptDialogBoss,
                           kDialogBoss,
                           {{IID_IDIALOGCONTROLLER, kOrdoImgOptDialogControllerImpl},
                            {IID_IOBSERVER, kOrdoImgOptDialogObserverImpl},
                            {IID_IORDODATANONPERSIST, kOrdoDataNonPersistImpl},
                            {IID_ICONTROLVIEW, kOrdoImageOptionsDialogViewImpl}}});
    }
}

WidgetResource ImageOptionsDialogResource() {
    auto text = [](WidgetID id, const char* label, PMRect frame) {
        return Widget(kStaticTextWidgetBoss, id, PMString(label), frame);
    };
    auto list = [](WidgetID id, PMRect frame) {
        return Widget(kDropDownListWidgetBoss, id, PMString(), frame);
    };

    WidgetResource edit =
        Widget(kGroupPanelWidgetBoss, kOrdoImgOptEditGroupWidgetID,
               PMString("0x71900kOrdoImgOptEditLabelKey"), PMRect(10, 70, 410, 220),
               {
                   Widget(kStaticTextWidgetBoss, kOrdoImgOptHeadingWidgetID, PMString(),
                          PMRect(10, 15, 390, 35)),
                   text(kOrdoImgOptTypeLabelWidgetID, "0x71900kOrdoImgOptTypeLabelKey",
                        PMRect(10, 45, 120, 65)),
                   list(kOrdoImgOptTypeListWidgetID, PMRect(130, 45, 390, 65)),
                   text(kOrdoImgOptProcessLabelWidgetID, "0x71900kOrdoImgOptProcessLabelKey",
                        PMRect(10, 75, 120, 95)),
                   list(kOrdoImgOptProcessListWidgetID, PMRect(130, 75, 390, 95)),
                   text(kOrdoImgOptPrefixLabelWidgetID, "0x71900kOrdoImgOptPrefixLabelKey",
                        PMRect(10, 105, 120, 125)),
                   list(kOrdoImgOptPrefixListWidgetID, PMRect(130, 105, 390, 125)),
               });

    WidgetResource dialog =
        Widget(kOrdoImgOptDialogBoss, kOrdoImgOptDialogWidgetID, PMString(kTitleKey),
               PMRect(0, 0, 420, 380),
               {
                   text(kOrdoImgOptPrefsLabelWidgetID, "0x71900kOrdoImgOptPrefsLabelKey",
                        PMRect(10, 10, 140, 30)),
                   list(kOrdoImgOptPrefsListWidgetID, PMRect(140, 10, 410, 30)),
                   text(kOrdoImgOptDestLabelWidgetID, "0x71900kOrdoImgOptDestLabelKey",
                        PMRect(10, 40, 140, 60)),
                   Widget(kTextEditBoxWidgetBoss, kOrdoImgOptDestNameWidgetID, PMString(),
                          PMRect(140, 40, 410, 60)),
                   edit,
                   text(kOrdoImgOptStatusLabelWidgetID, "0x71900kOrdoImgOptStatusLabelKey",
                        PMRect(10, 230, 410, 250)),
                   Widget(kStaticTextWidgetBoss, kOrdoImgOptStatusTextWidgetID, PMString(),
                          PMRect(10, 250, 410, 320)),
                   Widget(kButtonWidgetBoss, kOKButtonWidgetID, PMString("0x71900kOrdoDialogOKKey"),
                          PMRect(230, 340, 310, 365)),
                   Widget(kButtonWidgetBoss, kCancelButtonWidgetID,
                          PMString("0x71900kOrdoDialogCancelKey"), PMRect(320, 340, 400, 365)),
               });
    // Hidden until the dialog opens on an order.
    dialog.visible = false;
    return dialog;
}

InterfacePtr<IControlView> CreateImageOptionsDialog() {
    return CreateWidgetTree(ImageOptionsDialogResource());
}

bool RunImageOptionsDialog(OD_ProcData& record, const PMString& statusText,
                           const PMString& heading) {
    InterfacePtr<IControlView> dialog = CreateImageOptionsDialog();
    InterfacePtr<IOrdoDataNonPersist> data(dialog, IID_IORDODATANONPERSIST);
    if (!data) {
        return false;
    }
    data->SetData(record);
    data->SetString(statusText);
    WidgetUtils::SetText(dialog.get(), kOrdoImgOptHeadingWidgetID, heading, false);
    if (DialogMgr::RunModalDialog(dialog.get()) != DialogAnswer::kOK) {
        return false;
    }
    record = data->GetData();
    return true;
}
