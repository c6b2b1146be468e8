#include "OrdoDialogSupport.h"

#include "IOrdoPrefsData.h"
#include "ISession.h"
#include "QOR_Configuration.h"

namespace OrdoDialogs {

IPMUnknown* Session() {
    return GetExecutionContextSession();
}

OD_PrefsData SessionPreferences(bool* ok) {
    InterfacePtr<IOrdoPrefsData> prefs(Session(), IID_IORDOPREFSDATA);
    if (ok != nullptr) {
        *ok = static_cast<bool>(prefs);
    }
    return prefs ? prefs->Get() : OD_PrefsData();
}

PMString Literal(const std::string& text) {
    PMString s(text);
    s.SetTranslatable(false);
    return s;
}

PMString Literal(const PMString& text) {
    PMString s(text);
    s.SetTranslatable(false);
    return s;
}

namespace {

InterfacePtr<IStringListControlData> Entries(const IPMUnknown* root, WidgetID id) {
    return InterfacePtr<IStringListControlData>(WidgetUtils::FindWidget(root, id),
                                                IID_ISTRINGLISTCONTROLDATA);
}

InterfacePtr<IDropDownListController> Chooser(const IPMUnknown* root, WidgetID id) {
    return InterfacePtr<IDropDownListController>(WidgetUtils::FindWidget(root, id),
                                                 IID_IDROPDOWNLISTCONTROLLER);
}

} // namespace

void SetEntries(const IPMUnknown* root, WidgetID id, const std::vector<PMString>& entries) {
    auto list = Entries(root, id);
    if (!list) {
        return;
    }
    // Clearing drops the choice without telling anyone.
    list->Clear();
    for (const PMString& entry : entries) {
        list->AddString(entry);
    }
}

int32_t EntryCount(const IPMUnknown* root, WidgetID id) {
    auto list = Entries(root, id);
    return list ? list->Length() : 0;
}

PMString EntryText(const IPMUnknown* root, WidgetID id, int32_t index) {
    auto list = Entries(root, id);
    return list ? list->GetString(index) : PMString();
}

int32_t Selected(const IPMUnknown* root, WidgetID id) {
    auto chooser = Chooser(root, id);
    return chooser ? chooser->GetSelected() : -1;
}

bool Select(const IPMUnknown* root, WidgetID id, int32_t index, bool notify) {
    auto chooser = Chooser(root, id);
    return chooser && chooser->Select(index, notify);
}

std::vector<PMString> ProcessEntries(const QOR_Parameters* parameters) {
    std::vector<PMString> entries{PMString(kOrdoDefaultProcessKey)};
    if (parameters == nullptr) {
        return entries;
    }
    const QOR_CurparamData& names = parameters->Curparam();
    for (int i = 0; i < names.ProfileCount(); ++i) {
        char name[sizeof(QOR_CurparamData::Name)];
        names.ProfileName(i, name, sizeof name);
        entries.push_back(Literal(std::string(name)));
    }
    return entries;
}

int32_t ProcessEntryFor(const IPMUnknown* root, WidgetID id, const PMString& name) {
    const PMString key(kOrdoDefaultProcessKey);
    if (name.IsEmpty() || name == key || name == key.Translated()) {
        return EntryCount(root, id) > 0 ? 0 : -1;
    }
    auto list = Entries(root, id);
    if (!list) {
        return -1;
    }
    // Entry 0 is the default process whatever its text.
    for (int32_t n = 1; n < list->Length(); ++n) {
        if (list->GetString(n) == name) {
            return n;
        }
    }
    return -1;
}

PMString ProcessNameAt(const IPMUnknown* root, WidgetID id, int32_t index) {
    return index <= 0 ? PMString() : Literal(EntryText(root, id, index));
}

WidgetResource Widget(ClassID classID, WidgetID id, const PMString& text, const PMRect& frame,
                      std::vector<WidgetResource> children) {
    WidgetResource resource;
    resource.classID = classID;
    resource.widgetID = id;
    resource.text = text;
    resource.frame = frame;
    resource.children = std::move(children);
    return resource;
}

} // namespace OrdoDialogs
