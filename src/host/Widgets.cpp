#include "Widgets.h"

#include "HostRegistration.h"
#include "IApplication.h"
#include "ISession.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <utility>

IDialogSink::~IDialogSink() = default;

namespace {

struct KindOfClass {
    ClassID hostClass;
    WidgetKind kind;
};

constexpr std::array<KindOfClass, 15> kWidgetClasses{{
    {kPalettePanelWidgetBoss, WidgetKind::kPanel},
    {kDialogBoss, WidgetKind::kDialog},
    {kGroupPanelWidgetBoss, WidgetKind::kGroup},
    {kClusterPanelWidgetBoss, WidgetKind::kCluster},
    {kStaticTextWidgetBoss, WidgetKind::kStaticText},
    {kTextEditBoxWidgetBoss, WidgetKind::kEditBox},
    {kCheckBoxWidgetBoss, WidgetKind::kCheckBox},
    {kRadioButtonWidgetBoss, WidgetKind::kRadioButton},
    {kDropDownListWidgetBoss, WidgetKind::kDropDownList},
    {kWidgetListBoxWidgetBoss, WidgetKind::kListBox},
    {kButtonWidgetBoss, WidgetKind::kButton},
    {kIconWidgetBoss, WidgetKind::kIcon},
    {kListElementWidgetBoss, WidgetKind::kListElement},
    {kListCellWidgetBoss, WidgetKind::kListCell},
    {kInvalidClass, WidgetKind::kUnknown},
}};

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

// Tells the observers of the widget's subject; the subject's reference keeps
// the widget alive while they react (one may close what holds it).
void Tell(const IPMUnknown* widget, ClassID change, PMIID protocol, void* data = nullptr) {
    InterfacePtr<ISubject> subject(widget, IID_ISUBJECT);
    if (subject) {
        subject->Change(change, protocol, data);
    }
}

WidgetKind KindOf(const IPMUnknown* widget) {
    InterfacePtr<IControlView> view(widget, IID_ICONTROLVIEW);
    return view ? view->GetKind() : WidgetKind::kUnknown;
}

// ---- data implementations

class PanelControlData : public CPMUnknown<IPanelControlData> {
public:
    explicit PanelControlData(IPMUnknown* object) : CPMUnknown<IPanelControlData>(object) {}
    ~PanelControlData() override {
        // A child that someone else still holds must not point at a parent
        // that is gone.
        for (const auto& child : children) {
            child->SetParentView(nullptr);
        }
    }

    int32_t Length() const override { return static_cast<int32_t>(children.size()); }

    IControlView* GetWidget(int32_t n) const override {
        return n >= 0 && n < Length() ? children[static_cast<std::size_t>(n)].get() : nullptr;
    }

    IControlView* FindWidget(WidgetID id) const override {
        for (const auto& child : children) {
            if (child->GetWidgetID() == id) {
                return child.get();
            }
            InterfacePtr<IPanelControlData> below(child, IID_IPANELCONTROLDATA);
            if (below) {
                if (IControlView* found = below->FindWidget(id)) {
                    return found;
                }
            }
        }
        return nullptr;
    }

    void AddWidget(IControlView* child) override {
        if (child == nullptr) {
            return;
        }
        InterfacePtr<IControlView> self(this, IID_ICONTROLVIEW);
        child->AddRef();
        children.emplace_back(child);
        child->SetParentView(self.get());
    }

private:
    std::vector<InterfacePtr<IControlView>> children;
};

class TextControlData : public CPMUnknown<ITextControlData> {
public:
    explicit TextControlData(IPMUnknown* object) : CPMUnknown<ITextControlData>(object) {}
    void SetString(const PMString& value, bool notify) override {
        text = value;
        if (notify) {
            Tell(this, kTextChangeStateMessage, IID_ITEXTCONTROLDATA);
        }
    }
    PMString GetString() const override { return text; }

private:
    PMString text;
};

class TextValue : public CPMUnknown<ITextValue> {
public:
    explicit TextValue(IPMUnknown* object) : CPMUnknown<ITextValue>(object) {}

    void SetTextFromValue(double value, bool notify) override {
        InterfacePtr<ITextControlData> text(this, IID_ITEXTCONTROLDATA);
        if (!text) {
            return;
        }
        char buffer[64];
        auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
        PMString written(std::string(buffer, result.ptr));
        written.SetTranslatable(false);
        text->SetString(written, notify);
    }

    double GetTextAsValue(bool* valid) const override {
        InterfacePtr<ITextControlData> text(this, IID_ITEXTCONTROLDATA);
        double value = 0.0;
        bool ok = text && Parse(text->GetString().GetUTF8String(), value);
        if (valid != nullptr) {
            *valid = ok;
        }
        return ok ? value : 0.0;
    }

private:
    static bool Parse(const std::string& all, double& value) {
        std::size_t begin = all.find_first_not_of(" \t");
        std::size_t end = all.find_last_not_of(" \t");
        if (begin == std::string::npos) {
            return false;
        }
        const char* first = all.data() + begin;
        const char* last = all.data() + end + 1;
        if (*first == '+') {
            ++first;
            if (first == last || *first == '-' || *first == '+') {
                return false;
            }
        }
        // Only digits, sign, point and exponent: no "inf", "nan" or hex.
        for (const char* c = first; c != last; ++c) {
            if (std::string_view("0123456789+-.eE").find(*c) == std::string_view::npos) {
                return false;
            }
        }
        double parsed = 0.0;
        auto result = std::from_chars(first, last, parsed, std::chars_format::general);
        if (result.ec != std::errc() || result.ptr != last || !std::isfinite(parsed)) {
            return false;
        }
        value = parsed;
        return true;
    }
};

class TriStateControlData : public CPMUnknown<ITriStateControlData> {
public:
    explicit TriStateControlData(IPMUnknown* object) : CPMUnknown<ITriStateControlData>(object) {}

    void SetState(TriState next, bool notify) override {
        if (next == state) {
            return;
        }
        if (next == kSelected && KindOf(this) == WidgetKind::kRadioButton) {
            LeaveOtherRadioButtons(notify);
        }
        state = next;
        if (notify && next != kUnknown) {
            Tell(this, next == kSelected ? kTrueStateMessage : kFalseStateMessage,
                 IID_ITRISTATECONTROLDATA);
        }
    }

    TriState GetState() const override { return state; }

private:
    // The radio buttons that share this one's parent are one cluster.
    void LeaveOtherRadioButtons(bool notify) {
        InterfacePtr<IControlView> self(this, IID_ICONTROLVIEW);
        IControlView* parent = self ? self->GetParentView() : nullptr;
        InterfacePtr<IPanelControlData> siblings(parent, IID_IPANELCONTROLDATA);
        if (!siblings) {
            return;
        }
        for (int32_t n = 0; n < siblings->Length(); ++n) {
            IControlView* other = siblings->GetWidget(n);
            if (other == self.get() || other->GetKind() != WidgetKind::kRadioButton) {
                continue;
            }
            InterfacePtr<ITriStateControlData> data(other, IID_ITRISTATECONTROLDATA);
            if (data) {
                data->Deselect(notify);
            }
        }
    }

    TriState state = kUnselected;
};

class StringListControlData : public CPMUnknown<IStringListControlData> {
public:
    explicit StringListControlData(IPMUnknown* object)
        : CPMUnknown<IStringListControlData>(object) {}

    void AddString(const PMString& entry, int32_t index) override {
        if (index < 0 || index > Length()) {
            index = Length();
        }
        entries.insert(entries.begin() + index, entry);
        if (auto controller = Controller()) {
            controller->EntryInserted(index);
        }
    }

    void Clear() override {
        entries.clear();
        if (auto controller = Controller()) {
            controller->EntriesCleared();
        }
    }

    int32_t Length() const override { return static_cast<int32_t>(entries.size()); }

    PMString GetString(int32_t index) const override {
        return index >= 0 && index < Length() ? entries[static_cast<std::size_t>(index)]
                                              : PMString();
    }

private:
    InterfacePtr<IDropDownListController> Controller() {
        return InterfacePtr<IDropDownListController>(this, IID_IDROPDOWNLISTCONTROLLER);
    }

    std::vector<PMString> entries;
};

class DropDownListController : public CPMUnknown<IDropDownListController> {
public:
    explicit DropDownListController(IPMUnknown* object)
        : CPMUnknown<IDropDownListController>(object) {}

    bool Select(int32_t index, bool notify) override {
        if (index < -1 || index >= Count()) {
            return false;
        }
        if (index != GetSelected()) {
            selected = index;
            if (notify) {
                Tell(this, kPopupChangeStateMessage, IID_ISTRINGLISTCONTROLDATA);
            }
        }
        return true;
    }

    int32_t GetSelected() const override { return selected < Count() ? selected : -1; }

    void EntryInserted(int32_t index) override {
        if (selected >= 0 && index <= selected) {
            ++selected;
        }
    }

    void EntriesCleared() override { selected = -1; }

private:
    int32_t Count() const {
        InterfacePtr<IStringListControlData> entries(this, IID_ISTRINGLISTCONTROLDATA);
        return entries ? entries->Length() : 0;
    }

    int32_t selected = -1;
};

class ListBoxController : public CPMUnknown<IListBoxController> {
public:
    explicit ListBoxController(IPMUnknown* object) : CPMUnknown<IListBoxController>(object) {}

    int32_t AddRow(const ListRow& row, int32_t at) override {
        if (at < 0 || at > GetRowCount()) {
            at = GetRowCount();
        }
        if (spare.empty()) {
            rows.insert(rows.begin() + at, row);
        } else {
            // Copied into the storage of a row cleared before: cells and texts
            // of the same shape take the new values in place.
            ListRow recycled = std::move(spare.back());
            spare.pop_back();
            recycled = row;
            rows.insert(rows.begin() + at, std::move(recycled));
        }
        for (int32_t& s : selected) {
            if (s >= at) {
                ++s;
            }
        }
        return at;
    }

    void Clear(bool notify) override {
        // A list is mostly cleared to be filled again at once, with rows of
        // the same shape: the cleared rows are kept for AddRow to fill.
        if (spare.empty()) {
            spare.swap(rows);
        } else {
            std::move(rows.begin(), rows.end(), std::back_inserter(spare));
            rows.clear();
        }
        Change({}, notify);
    }

    int32_t GetRowCount() const override { return static_cast<int32_t>(rows.size()); }

    ListRow GetRow(int32_t index) const override {
        return InRange(index) ? rows[static_cast<std::size_t>(index)] : ListRow();
    }

    bool Select(int32_t index, bool extend, bool notify) override {
        if (!InRange(index)) {
            return false;
        }
        std::vector<int32_t> next;
        if (extend && multiple) {
            next = selected;
        }
        next.push_back(index);
        Change(std::move(next), notify);
        return true;
    }

    void DeselectAll(bool notify) override { Change({}, notify); }

    bool SetSelection(const std::vector<int32_t>& wanted, bool notify) override {
        if (!std::all_of(wanted.begin(), wanted.end(), [&](int32_t r) { return InRange(r); })) {
            return false;
        }
        std::vector<int32_t> next = Normal(wanted);
        if (!multiple && next.size() > 1) {
            return false;
        }
        Change(std::move(next), notify);
        return true;
    }

    std::vector<int32_t> GetSelected() const override { return selected; }

    bool IsSelected(int32_t index) const override {
        return std::find(selected.begin(), selected.end(), index) != selected.end();
    }

    void SetMultipleSelection(bool value) override {
        multiple = value;
        if (!multiple && selected.size() > 1) {
            Change({selected.front()}, true);
        }
    }

    bool IsMultipleSelection() const override { return multiple; }

private:
    bool InRange(int32_t index) const { return index >= 0 && index < GetRowCount(); }

    static std::vector<int32_t> Normal(std::vector<int32_t> rows) {
        std::sort(rows.begin(), rows.end());
        rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
        return rows;
    }

    void Change(std::vector<int32_t> next, bool notify) {
        next = Normal(std::move(next));
        if (next == selected) {
            return;
        }
        selected = std::move(next);
        if (notify) {
            TellSelection();
        }
    }

    void TellSelection() { Tell(this, kListSelectionChangedMessage, IID_ILISTBOXCONTROLLER); }

    std::vector<ListRow> rows;
    std::vector<ListRow> spare;    // cleared rows, whose storage AddRow reuses
    std::vector<int32_t> selected; // increasing
    bool multiple = false;
};

class PanelMgr : public CPMUnknown<IPanelMgr> {
public:
    explicit PanelMgr(IPMUnknown* object) : CPMUnknown<IPanelMgr>(object) {}
    ~PanelMgr() override { HideAll(); }

    bool RegisterPanel(IControlView* panel) override {
        if (panel == nullptr || Find(panel->GetWidgetID()) != nullptr) {
            return false;
        }
        panel->AddRef();
        panels.push_back({InterfacePtr<IControlView>(panel), false});
        return true;
    }

    bool UnregisterPanel(WidgetID panelID) override {
        if (Find(panelID) == nullptr) {
            return false;
        }
        HidePanel(panelID);
        auto it = std::find_if(panels.begin(), panels.end(),
                               [&](const Panel& p) { return p.view->GetWidgetID() == panelID; });
        if (it != panels.end()) {
            InterfacePtr<IControlView> keep = std::move(it->view);
            panels.erase(it);
        }
        return true;
    }

    IControlView* GetPanelFromWidgetID(WidgetID panelID) const override {
        const Panel* p = Find(panelID);
        return p != nullptr ? p->view.get() : nullptr;
    }

    bool ShowPanel(WidgetID panelID) override {
        Panel* p = Find(panelID);
        if (p == nullptr) {
            return false;
        }
        if (!p->shown) {
            p->shown = true;
            InterfacePtr<IControlView> view = p->view;
            view->Show(true);
            WidgetUtils::AttachObserversInTree(view.get());
        }
        return true;
    }

    bool HidePanel(WidgetID panelID) override {
        Panel* p = Find(panelID);
        if (p == nullptr) {
            return false;
        }
        if (p->shown) {
            p->shown = false;
            InterfacePtr<IControlView> view = p->view;
            WidgetUtils::DetachObserversInTree(view.get());
            view->Show(false);
        }
        return true;
    }

    bool IsPanelShown(WidgetID panelID) const override {
        const Panel* p = Find(panelID);
        return p != nullptr && p->shown;
    }

    void HideAll() override {
        std::vector<WidgetID> shown;
        for (const Panel& p : panels) {
            if (p.shown) {
                shown.push_back(p.view->GetWidgetID());
            }
        }
        for (WidgetID id : shown) {
            HidePanel(id);
        }
    }

private:
    struct Panel {
        InterfacePtr<IControlView> view;
        bool shown;
    };

    const Panel* Find(WidgetID id) const {
        for (const Panel& p : panels) {
            if (p.view->GetWidgetID() == id) {
                return &p;
            }
        }
        return nullptr;
    }
    Panel* Find(WidgetID id) {
        return const_cast<Panel*>(static_cast<const PanelMgr*>(this)->Find(id));
    }

    std::vector<Panel> panels;
};

IDialogSink* dialogSink = nullptr;

} // namespace

// ---- kinds and views

WidgetKind WidgetKindOfClass(ClassID classID) {
    const ObjectModel& model = ObjectModel::Get();
    for (const KindOfClass& entry : kWidgetClasses) {
        if (entry.hostClass.IsValid() && model.IsA(classID, entry.hostClass)) {
            return entry.kind;
        }
    }
    return WidgetKind::kUnknown;
}

const char* WidgetKindName(WidgetKind kind) {
    switch (kind) {
    case WidgetKind::kPanel:
        return "panel";
    case WidgetKind::kDialog:
        return "dialog";
    case WidgetKind::kGroup:
        return "group";
    case WidgetKind::kCluster:
        return "cluster";
    case WidgetKind::kStaticText:
        return "static text";
    case WidgetKind::kEditBox:
        return "edit box";
    case WidgetKind::kCheckBox:
        return "check box";
    case WidgetKind::kRadioButton:
        return "radio button";
    case WidgetKind::kDropDownList:
        return "drop-down list";
    case WidgetKind::kListBox:
        return "list box";
    case WidgetKind::kButton:
        return "button";
    case WidgetKind::kIcon:
        return "icon";
    case WidgetKind::kListElement:
        return "list element";
    case WidgetKind::kListCell:
        return "list cell";
    case WidgetKind::kUnknown:
        break;
    }
    return "unknown";
}

WidgetKind CControlView::GetKind() const {
    if (!kindKnown) {
        kind = WidgetKindOfClass(::GetClass(this));
        kindKnown = true;
    }
    return kind;
}

void CControlView::Resize(const PMPoint& dimensions) {
    PMPoint size = ConstrainDimensions(dimensions);
    frame = PMRect(frame.Left(), frame.Top(), frame.Left() + size.X(), frame.Top() + size.Y());
}

const ListCell* ListRow::FindCell(WidgetID id) const {
    for (const ListCell& cell : cells) {
        if (cell.cellID == id) {
            return &cell;
        }
    }
    return nullptr;
}

// ---- building

InterfacePtr<IControlView> CreateWidgetTree(const WidgetResource& resource, std::string* why) {
    auto fail = [&](std::string text) {
        if (why != nullptr) {
            *why = std::move(text);
        }
        return InterfacePtr<IControlView>();
    };
    auto view = CreateObject2<IControlView>(resource.classID, IID_ICONTROLVIEW);
    if (!view) {
        return fail("widget " + Hex(resource.widgetID.Get()) + ": class " +
                    Hex(resource.classID.Get()) + " makes no widget");
    }
    view->SetWidgetID(resource.widgetID);
    view->SetFrame(resource.frame);
    view->Enable(resource.enabled);
    view->Show(resource.visible);
    view->SetTip(resource.tip);
    view->SetRsrcID(resource.rsrcID);
    if (InterfacePtr<ITextControlData> text{view, IID_ITEXTCONTROLDATA}) {
        text->SetString(resource.text, false);
    }
    if (InterfacePtr<IStringListControlData> entries{view, IID_ISTRINGLISTCONTROLDATA}) {
        for (const PMString& entry : resource.entries) {
            entries->AddString(entry);
        }
    }
    if (InterfacePtr<ITriStateControlData> state{view, IID_ITRISTATECONTROLDATA}) {
        state->SetState(resource.selected ? ITriStateControlData::kSelected
                                          : ITriStateControlData::kUnselected,
                        false);
    }
    if (InterfacePtr<IListBoxController> list{view, IID_ILISTBOXCONTROLLER}) {
        list->SetMultipleSelection(resource.multipleSelection);
    }
    if (!resource.children.empty()) {
        InterfacePtr<IPanelControlData> panel(view, IID_IPANELCONTROLDATA);
        if (!panel) {
            return fail("widget " + Hex(resource.widgetID.Get()) + " (" +
                        WidgetKindName(view->GetKind()) + ") cannot hold widgets");
        }
        for (const WidgetResource& child : resource.children) {
            InterfacePtr<IControlView> made = CreateWidgetTree(child, why);
            if (!made) {
                return {};
            }
            panel->AddWidget(made.get());
            // A radio button chosen by the resource leaves those before it.
            InterfacePtr<ITriStateControlData> state(made, IID_ITRISTATECONTROLDATA);
            if (state && child.selected && made->GetKind() == WidgetKind::kRadioButton) {
                state->Deselect(false);
                state->Select(false);
            }
        }
    }
    return view;
}

// ---- helpers

IControlView* WidgetUtils::FindWidget(const IPMUnknown* root, WidgetID id) {
    InterfacePtr<IControlView> view(root, IID_ICONTROLVIEW);
    if (!view) {
        return nullptr;
    }
    if (view->GetWidgetID() == id) {
        return view.get();
    }
    InterfacePtr<IPanelControlData> panel(root, IID_IPANELCONTROLDATA);
    return panel ? panel->FindWidget(id) : nullptr;
}

std::vector<IControlView*> WidgetUtils::AllWidgets(const IPMUnknown* root) {
    std::vector<IControlView*> all;
    InterfacePtr<IControlView> view(root, IID_ICONTROLVIEW);
    if (!view) {
        return all;
    }
    all.push_back(view.get());
    InterfacePtr<IPanelControlData> panel(root, IID_IPANELCONTROLDATA);
    for (int32_t n = 0; panel && n < panel->Length(); ++n) {
        auto below = AllWidgets(panel->GetWidget(n));
        all.insert(all.end(), below.begin(), below.end());
    }
    return all;
}

bool WidgetUtils::SetText(const IPMUnknown* root, WidgetID id, const PMString& text, bool notify) {
    InterfacePtr<ITextControlData> data(FindWidget(root, id), IID_ITEXTCONTROLDATA);
    if (!data) {
        return false;
    }
    data->SetString(text, notify);
    return true;
}

PMString WidgetUtils::GetText(const IPMUnknown* root, WidgetID id) {
    InterfacePtr<ITextControlData> data(FindWidget(root, id), IID_ITEXTCONTROLDATA);
    return data ? data->GetString() : PMString();
}

bool WidgetUtils::SetValue(const IPMUnknown* root, WidgetID id, double value, bool notify) {
    InterfacePtr<ITextValue> data(FindWidget(root, id), IID_ITEXTVALUE);
    if (!data) {
        return false;
    }
    data->SetTextFromValue(value, notify);
    return true;
}

double WidgetUtils::GetValue(const IPMUnknown* root, WidgetID id, bool* valid) {
    InterfacePtr<ITextValue> data(FindWidget(root, id), IID_ITEXTVALUE);
    if (!data) {
        if (valid != nullptr) {
            *valid = false;
        }
        return 0.0;
    }
    return data->GetTextAsValue(valid);
}

bool WidgetUtils::SetChecked(const IPMUnknown* root, WidgetID id, bool checked, bool notify) {
    InterfacePtr<ITriStateControlData> data(FindWidget(root, id), IID_ITRISTATECONTROLDATA);
    if (!data) {
        return false;
    }
    data->SetState(checked ? ITriStateControlData::kSelected : ITriStateControlData::kUnselected,
                   notify);
    return true;
}

bool WidgetUtils::IsChecked(const IPMUnknown* root, WidgetID id) {
    InterfacePtr<ITriStateControlData> data(FindWidget(root, id), IID_ITRISTATECONTROLDATA);
    return data && data->IsSelected();
}

bool WidgetUtils::Enable(const IPMUnknown* root, WidgetID id, bool enable) {
    IControlView* view = FindWidget(root, id);
    if (view == nullptr) {
        return false;
    }
    view->Enable(enable);
    return true;
}

bool WidgetUtils::Show(const IPMUnknown* root, WidgetID id, bool show) {
    IControlView* view = FindWidget(root, id);
    if (view == nullptr) {
        return false;
    }
    view->Show(show);
    return true;
}

bool WidgetUtils::AttachToWidget(const IPMUnknown* root, WidgetID id, PMIID protocol,
                                 IObserver* observer) {
    InterfacePtr<ISubject> subject(FindWidget(root, id), IID_ISUBJECT);
    if (!subject || observer == nullptr) {
        return false;
    }
    subject->AttachObserver(observer, protocol);
    return true;
}

bool WidgetUtils::DetachFromWidget(const IPMUnknown* root, WidgetID id, PMIID protocol,
                                   IObserver* observer) {
    InterfacePtr<ISubject> subject(FindWidget(root, id), IID_ISUBJECT);
    if (!subject) {
        return false;
    }
    subject->DetachObserver(observer, protocol);
    return true;
}

void WidgetUtils::AttachObserversInTree(const IPMUnknown* root) {
    for (IControlView* widget : AllWidgets(root)) {
        InterfacePtr<IObserver> observer(widget, IID_IOBSERVER);
        if (observer) {
            observer->AutoAttach();
        }
    }
}

void WidgetUtils::DetachObserversInTree(const IPMUnknown* root) {
    auto all = AllWidgets(root);
    for (auto it = all.rbegin(); it != all.rend(); ++it) {
        InterfacePtr<IObserver> observer(*it, IID_IOBSERVER);
        if (observer) {
            observer->AutoDetach();
        }
    }
}

// ---- dialogs

PMString CDialogController::GetTextControlData(WidgetID id) const {
    return WidgetUtils::GetText(this, id);
}

bool CDialogObserver::AttachToWidget(WidgetID id, PMIID protocol) {
    return WidgetUtils::AttachToWidget(this, id, protocol, this);
}

bool CDialogObserver::DetachFromWidget(WidgetID id, PMIID protocol) {
    return WidgetUtils::DetachFromWidget(this, id, protocol, this);
}

IDialogSink* DialogMgr::SetDialogSink(IDialogSink* sink) {
    IDialogSink* previous = dialogSink;
    dialogSink = sink;
    return previous;
}

DialogAnswer DialogMgr::RunModalDialog(IControlView* dialog, IActiveContext* ac) {
    if (dialog == nullptr) {
        return DialogAnswer::kCancel;
    }
    // Held for the run: an observer may let go of the dialog while it is up.
    InterfacePtr<IControlView> held(dialog, IID_ICONTROLVIEW);
    InterfacePtr<IDialogController> controller(dialog, IID_IDIALOGCONTROLLER);
    if (controller) {
        controller->InitializeDialogFields(ac);
    }
    ISession* session = GetExecutionContextSession();
    InterfacePtr<IApplication> app(session != nullptr ? session->QueryApplication() : nullptr);
    bool wasModal = app && (app->GetAppFlags() & IApplication::kAppFlagModalDialog) != 0;
    if (app) {
        app->SetAppFlags(IApplication::kAppFlagModalDialog, true);
    }
    dialog->Show(true);
    WidgetUtils::AttachObserversInTree(dialog);

    // A front end that keeps answering OK to a refused field gets the dialog
    // cancelled in the end rather than holding the host forever.
    constexpr int kMostRounds = 100;
    DialogAnswer answer = DialogAnswer::kCancel;
    WidgetID refused = kInvalidWidgetID;
    for (int round = 0; round < kMostRounds; ++round) {
        if (dialogSink == nullptr) {
            std::fprintf(stderr, "[Dialog] %s: no front end, cancelled\n",
                         Hex(dialog->GetWidgetID().Get()).c_str());
            answer = DialogAnswer::kCancel;
            break;
        }
        answer = dialogSink->RunDialog(dialog, refused);
        if (answer != DialogAnswer::kOK || !controller) {
            break;
        }
        refused = controller->ValidateDialogFields(ac);
        if (!refused.IsValid()) {
            controller->ApplyDialogFields(ac, kOKButtonWidgetID);
            break;
        }
        answer = DialogAnswer::kCancel;
    }

    WidgetUtils::DetachObserversInTree(dialog);
    dialog->Show(false);
    if (app && !wasModal) {
        app->SetAppFlags(IApplication::kAppFlagModalDialog, false);
    }
    return answer;
}

DialogAnswer ScriptedDialogSink::RunDialog(IControlView* dialog, WidgetID invalidField) {
    runs.push_back({dialog != nullptr ? dialog->GetWidgetID() : kInvalidWidgetID, invalidField});
    if (script.empty()) {
        return DialogAnswer::kCancel;
    }
    Step step = std::move(script.front());
    script.pop_front();
    return step(dialog, invalidField);
}

void ResetDialogs() {
    dialogSink = nullptr;
}

// ---- the front end's input

namespace {

// The widget when the user can reach it: it and every widget above it up
// to root are enabled and visible.
IControlView* Usable(const IPMUnknown* root, WidgetID id) {
    IControlView* widget = WidgetUtils::FindWidget(root, id);
    InterfacePtr<IControlView> top(root, IID_ICONTROLVIEW);
    for (IControlView* v = widget; v != nullptr; v = v->GetParentView()) {
        if (!v->IsEnabled() || !v->IsVisible()) {
            return nullptr;
        }
        if (v == top.get()) {
            break;
        }
    }
    return widget;
}

} // namespace

bool WidgetDriver::IsUsable(const IPMUnknown* root, WidgetID id) {
    return Usable(root, id) != nullptr;
}

bool WidgetDriver::Press(const IPMUnknown* root, WidgetID id) {
    IControlView* widget = Usable(root, id);
    if (widget == nullptr) {
        return false;
    }
    InterfacePtr<ITriStateControlData> state(widget, IID_ITRISTATECONTROLDATA);
    switch (widget->GetKind()) {
    case WidgetKind::kButton:
        Tell(widget, kTrueStateMessage, IID_ITRISTATECONTROLDATA);
        return true;
    case WidgetKind::kCheckBox:
        if (!state) {
            return false;
        }
        state->SetState(state->IsSelected() ? ITriStateControlData::kUnselected
                                            : ITriStateControlData::kSelected);
        return true;
    case WidgetKind::kRadioButton:
        if (!state) {
            return false;
        }
        state->Select();
        return true;
    default:
        return false;
    }
}

bool WidgetDriver::SetChecked(const IPMUnknown* root, WidgetID id, bool checked) {
    IControlView* widget = Usable(root, id);
    InterfacePtr<ITriStateControlData> state(widget, IID_ITRISTATECONTROLDATA);
    if (!state) {
        return false;
    }
    switch (widget->GetKind()) {
    case WidgetKind::kCheckBox:
        state->SetState(checked ? ITriStateControlData::kSelected
                                : ITriStateControlData::kUnselected);
        return true;
    case WidgetKind::kRadioButton:
        // A radio button is left by choosing another.
        if (!checked) {
            return false;
        }
        state->Select();
        return true;
    default:
        return false;
    }
}

bool WidgetDriver::Type(const IPMUnknown* root, WidgetID id, const PMString& text) {
    IControlView* widget = Usable(root, id);
    if (widget == nullptr || widget->GetKind() != WidgetKind::kEditBox) {
        return false;
    }
    InterfacePtr<ITextControlData> data(widget, IID_ITEXTCONTROLDATA);
    if (!data) {
        return false;
    }
    PMString typed = text;
    typed.SetTranslatable(false);
    data->SetString(typed);
    return true;
}

bool WidgetDriver::Choose(const IPMUnknown* root, WidgetID id, int32_t index) {
    IControlView* widget = Usable(root, id);
    if (widget == nullptr || widget->GetKind() != WidgetKind::kDropDownList || index < 0) {
        return false;
    }
    InterfacePtr<IDropDownListController> list(widget, IID_IDROPDOWNLISTCONTROLLER);
    return list && list->Select(index);
}

bool WidgetDriver::ChooseEntry(const IPMUnknown* root, WidgetID id, const PMString& entry) {
    InterfacePtr<IStringListControlData> entries(Usable(root, id), IID_ISTRINGLISTCONTROLDATA);
    if (!entries) {
        return false;
    }
    for (int32_t n = 0; n < entries->Length(); ++n) {
        PMString text = entries->GetString(n);
        if (text == entry || text.Translated() == entry) {
            return Choose(root, id, n);
        }
    }
    return false;
}

bool WidgetDriver::SelectRows(const IPMUnknown* root, WidgetID id,
                              const std::vector<int32_t>& rows) {
    IControlView* widget = Usable(root, id);
    if (widget == nullptr || widget->GetKind() != WidgetKind::kListBox) {
        return false;
    }
    InterfacePtr<IListBoxController> list(widget, IID_ILISTBOXCONTROLLER);
    return list && list->SetSelection(rows);
}

bool WidgetDriver::DoubleClickRow(const IPMUnknown* root, WidgetID id, int32_t row) {
    IControlView* widget = Usable(root, id);
    if (widget == nullptr || widget->GetKind() != WidgetKind::kListBox) {
        return false;
    }
    InterfacePtr<IListBoxController> list(widget, IID_ILISTBOXCONTROLLER);
    if (!list || !list->Select(row)) {
        return false;
    }
    Tell(widget, kListDoubleClickMessage, IID_ILISTBOXCONTROLLER, &row);
    return true;
}

ErrorCode WidgetDriver::Drop(const IPMUnknown* root, WidgetID id, const DragDropData& data) {
    InterfacePtr<IDragDropTarget> target(Usable(root, id), IID_IDRAGDROPTARGET);
    if (!target || !target->CouldAcceptTypes(data)) {
        return kFailure;
    }
    return target->ProcessDragDropCommand(data);
}

// ---- registration

void RegisterWidgetImplementations() {
    ObjectModel& model = ObjectModel::Get();
    model.RegisterImplementation(
        {kControlViewImpl, "CControlView", CreateImplementation<CControlView>, false});
    model.RegisterImplementation(
        {kPanelControlDataImpl, "PanelControlData", CreateImplementation<PanelControlData>, false});
    model.RegisterImplementation(
        {kTextControlDataImpl, "TextControlData", CreateImplementation<TextControlData>, false});
    model.RegisterImplementation(
        {kTextValueImpl, "TextValue", CreateImplementation<TextValue>, false});
    model.RegisterImplementation({kTriStateControlDataImpl, "TriStateControlData",
                                  CreateImplementation<TriStateControlData>, false});
    model.RegisterImplementation({kStringListControlDataImpl, "StringListControlData",
                                  CreateImplementation<StringListControlData>, false});
    model.RegisterImplementation({kDropDownListControllerImpl, "DropDownListController",
                                  CreateImplementation<DropDownListController>, false});
    model.RegisterImplementation({kListBoxControllerImpl, "ListBoxController",
                                  CreateImplementation<ListBoxController>, false});
    model.RegisterImplementation(
        {kPanelMgrImpl, "PanelMgr", CreateImplementation<PanelMgr>, false});

    using Interfaces = std::vector<std::pair<PMIID, ImplementationID>>;
    auto with = [](Interfaces more) {
        Interfaces all{{IID_ICONTROLVIEW, kControlViewImpl}, {IID_ISUBJECT, kHostSubjectImpl}};
        all.insert(all.end(), more.begin(), more.end());
        return all;
    };
    const Interfaces container = with({{IID_IPANELCONTROLDATA, kPanelControlDataImpl},
                                       {IID_ITEXTCONTROLDATA, kTextControlDataImpl}});
    const Interfaces labelled = with({{IID_ITEXTCONTROLDATA, kTextControlDataImpl},
                                      {IID_ITRISTATECONTROLDATA, kTriStateControlDataImpl}});
    for (ClassID id : {kPalettePanelWidgetBoss, kDialogBoss, kGroupPanelWidgetBoss,
                       kClusterPanelWidgetBoss, kListElementWidgetBoss}) {
        EnsureHostClass(id, kInvalidClass, container);
    }
    for (ClassID id : {kCheckBoxWidgetBoss, kRadioButtonWidgetBoss, kButtonWidgetBoss}) {
        EnsureHostClass(id, kInvalidClass, labelled);
    }
    EnsureHostClass(kStaticTextWidgetBoss, kInvalidClass,
                    with({{IID_ITEXTCONTROLDATA, kTextControlDataImpl}}));
    EnsureHostClass(kListCellWidgetBoss, kInvalidClass,
                    with({{IID_ITEXTCONTROLDATA, kTextControlDataImpl}}));
    EnsureHostClass(
        kTextEditBoxWidgetBoss, kInvalidClass,
        with({{IID_ITEXTCONTROLDATA, kTextControlDataImpl}, {IID_ITEXTVALUE, kTextValueImpl}}));
    EnsureHostClass(kDropDownListWidgetBoss, kInvalidClass,
                    with({{IID_ISTRINGLISTCONTROLDATA, kStringListControlDataImpl},
                          {IID_IDROPDOWNLISTCONTROLLER, kDropDownListControllerImpl}}));
    EnsureHostClass(kWidgetListBoxWidgetBoss, kInvalidClass,
                    with({{IID_ILISTBOXCONTROLLER, kListBoxControllerImpl}}));
    EnsureHostClass(kIconWidgetBoss, kInvalidClass, with({}));
}
