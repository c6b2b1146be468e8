#pragma once

#include "CObserver.h"
#include "HostInterfaceIDs.h"
#include "IPMUnknown.h"
#include "ISubject.h"
#include "ObjectModel.h"
#include "PMPoint.h"
#include "PMRect.h"
#include "PMString.h"
#include "SessionIDs.h"
#include "UIDRef.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

class IActiveContext;

// Widgets: panels and dialogs as trees of widget objects, each reached by its
// widget ID, drawn by whatever front end is attached.
//
// A widget is an object of a widget class (or of a plug-in class derived from
// one, which adds the plug-in's observer, controller, view or drop target).
// Every widget has an IControlView (ID, kind, enabled, visible, frame, tip)
// and an ISubject; the data interfaces depend on the kind:
//
//   panel, dialog, group, cluster   IPanelControlData (children), ITextControlData (title)
//   static text                     ITextControlData
//   edit box                        ITextControlData, ITextValue (numbers)
//   check box, radio button         ITextControlData (label), ITriStateControlData
//   button                          ITextControlData (label), ITriStateControlData
//   drop-down list                  IStringListControlData, IDropDownListController
//   list box                        IListBoxController (rows of cells, selection)
//   icon                            the icon's resource ID on IControlView
//
// Changes are told through the widget's subject, the protocol being the data
// interface's ID: kTrueStateMessage / kFalseStateMessage (check box set or
// cleared, radio button chosen or left, button pressed) on
// IID_ITRISTATECONTROLDATA; kTextChangeStateMessage on IID_ITEXTCONTROLDATA;
// kPopupChangeStateMessage on IID_ISTRINGLISTCONTROLDATA;
// kListSelectionChangedMessage and kListDoubleClickMessage (data: the row as
// int32_t*) on IID_ILISTBOXCONTROLLER. Setters tell observers unless asked not
// to; enabling, showing and moving tell nobody.

enum class WidgetKind {
    kUnknown,
    kPanel,
    kDialog,
    kGroup,
    kCluster,
    kStaticText,
    kEditBox,
    kCheckBox,
    kRadioButton,
    kDropDownList,
    kListBox,
    kButton,
    kIcon,
    kListElement,
    kListCell,
};

// The kind of widget a class makes: that of the host widget class it is or
// descends from.
WidgetKind WidgetKindOfClass(ClassID classID);
const char* WidgetKindName(WidgetKind kind);

class IControlView : public IPMUnknown {
public:
    enum { kDefaultIID = IID_ICONTROLVIEW.value };

    virtual WidgetID GetWidgetID() const = 0;
    virtual void SetWidgetID(WidgetID id) = 0;
    virtual WidgetKind GetKind() const = 0;

    virtual void Enable(bool enable = true) = 0;
    void Disable() { Enable(false); }
    virtual bool IsEnabled() const = 0;
    virtual void Show(bool show = true) = 0;
    void Hide() { Show(false); }
    virtual bool IsVisible() const = 0;

    // The frame in the parent's coordinates (points).
    virtual PMRect GetFrame() const = 0;
    virtual void SetFrame(const PMRect& frame) = 0;
    // The size the widget accepts for the size asked (width, height).
    virtual PMPoint ConstrainDimensions(const PMPoint& dimensions) const = 0;
    // Gives the widget the constrained size, its left-top corner kept.
    virtual void Resize(const PMPoint& dimensions) = 0;

    // The icon (icon widgets) or other resource the widget shows.
    virtual int32_t GetRsrcID() const = 0;
    virtual void SetRsrcID(int32_t id) = 0;
    virtual PMString GetTip() const = 0;
    virtual void SetTip(const PMString& tip) = 0;

    // The widget that holds this one (no reference added), or null.
    virtual IControlView* GetParentView() const = 0;
    virtual void SetParentView(IControlView* parent) = 0;
};

// The host's control view; a plug-in's view derives from it (to constrain
// its size, for example).
class CControlView : public CPMUnknown<IControlView> {
public:
    explicit CControlView(IPMUnknown* object) : CPMUnknown<IControlView>(object) {}

    WidgetID GetWidgetID() const override { return widgetID; }
    void SetWidgetID(WidgetID id) override { widgetID = id; }
    WidgetKind GetKind() const override;
    void Enable(bool enable = true) override { enabled = enable; }
    bool IsEnabled() const override { return enabled; }
    void Show(bool show = true) override { visible = show; }
    bool IsVisible() const override { return visible; }
    PMRect GetFrame() const override { return frame; }
    void SetFrame(const PMRect& value) override { frame = value; }
    PMPoint ConstrainDimensions(const PMPoint& dimensions) const override { return dimensions; }
    void Resize(const PMPoint& dimensions) override;
    int32_t GetRsrcID() const override { return rsrcID; }
    void SetRsrcID(int32_t id) override { rsrcID = id; }
    PMString GetTip() const override { return tip; }
    void SetTip(const PMString& value) override { tip = value; }
    IControlView* GetParentView() const override { return parent; }
    void SetParentView(IControlView* value) override { parent = value; }

private:
    WidgetID widgetID;
    bool enabled = true;
    bool visible = true;
    PMRect frame;
    int32_t rsrcID = 0;
    PMString tip;
    IControlView* parent = nullptr;
    mutable WidgetKind kind = WidgetKind::kUnknown;
    mutable bool kindKnown = false;
};

// The children of a container widget; it holds a reference to each.
class IPanelControlData : public IPMUnknown {
public:
    enum { kDefaultIID = IID_IPANELCONTROLDATA.value };

    virtual int32_t Length() const = 0;
    // The n-th child (no reference added), or null.
    virtual IControlView* GetWidget(int32_t n) const = 0;
    // The first widget of that ID among the descendants, depth first (no
    // reference added), or null.
    virtual IControlView* FindWidget(WidgetID id) const = 0;
    // Adds the child at the end and makes this widget its parent.
    virtual void AddWidget(IControlView* child) = 0;
};

class ITextControlData : public IPMUnknown {
public:
    enum { kDefaultIID = IID_ITEXTCONTROLDATA.value };

    virtual void SetString(const PMString& text, bool notify = true) = 0;
    virtual PMString GetString() const = 0;
};

// The number in an edit box's text: written in the shortest form that reads
// back the same value ("300", "2.5"), read as an optional sign, digits with
// at most one '.', and an optional exponent, blanks around allowed.
class ITextValue : public IPMUnknown {
public:
    enum { kDefaultIID = IID_ITEXTVALUE.value };

    virtual void SetTextFromValue(double value, bool notify = true) = 0;
    // The text's value; 0 with *valid false when the text is not a number.
    virtual double GetTextAsValue(bool* valid = nullptr) const = 0;
};

class ITriStateControlData : public IPMUnknown {
public:
    enum { kDefaultIID = IID_ITRISTATECONTROLDATA.value };
    enum TriState { kUnselected = 0, kSelected = 1, kUnknown = 2 };

    // Choosing a radio button leaves the other radio buttons of its cluster.
    // Observers are told only of a real change.
    virtual void SetState(TriState state, bool notify = true) = 0;
    virtual TriState GetState() const = 0;
    void Select(bool notify = true) { SetState(kSelected, notify); }
    void Deselect(bool notify = true) { SetState(kUnselected, notify); }
    bool IsSelected() const { return GetState() == kSelected; }
};

// The entries of a drop-down list.
class IStringListControlData : public IPMUnknown {
public:
    enum { kDefaultIID = IID_ISTRINGLISTCONTROLDATA.value };
    static constexpr int32_t kEnd = -1;

    // Inserts before index (kEnd or out of range: at the end).
    virtual void AddString(const PMString& entry, int32_t index = kEnd) = 0;
    virtual void Clear() = 0;
    virtual int32_t Length() const = 0;
    // Empty out of range.
    virtual PMString GetString(int32_t index) const = 0;
};

// The chosen entry of a drop-down list; follows its entry as entries are
// added (the choice goes when the entries are cleared).
class IDropDownListController : public IPMUnknown {
public:
    enum { kDefaultIID = IID_IDROPDOWNLISTCONTROLLER.value };

    // -1 chooses nothing; false (nothing changed) out of range. Observers are
    // told of a real change.
    virtual bool Select(int32_t index, bool notify = true) = 0;
    virtual int32_t GetSelected() const = 0;
    // Called by the entries: one inserted before index; all of them removed.
    virtual void EntryInserted(int32_t index) = 0;
    virtual void EntriesCleared() = 0;
};

// One cell of a list-box row: a text or an icon, named by its widget ID.
struct ListCell {
    WidgetID cellID;
    PMString text;
    int32_t iconID = 0;
};

struct ListRow {
    std::vector<ListCell> cells;
    // The cell of that ID, or null.
    const ListCell* FindCell(WidgetID id) const;
};

class IListBoxController : public IPMUnknown {
public:
    enum { kDefaultIID = IID_ILISTBOXCONTROLLER.value };

    // Rows. Adding (at = -1 or out of range: at the end) returns the row's
    // index.
    virtual int32_t AddRow(const ListRow& row, int32_t at = -1) = 0;
    virtual void Clear(bool notify = true) = 0;
    virtual int32_t GetRowCount() const = 0;
    // An empty row out of range.
    virtual ListRow GetRow(int32_t index) const = 0;

    // Selection. Select replaces the selection, or adds to it when extend is
    // set and the list takes several. False (nothing changed) out of range,
    // or for several rows in a single-selection list. Observers are told of a
    // real change, once per call.
    virtual bool Select(int32_t index, bool extend = false, bool notify = true) = 0;
    virtual void DeselectAll(bool notify = true) = 0;
    virtual bool SetSelection(const std::vector<int32_t>& rows, bool notify = true) = 0;
    // Selected rows, increasing.
    virtual std::vector<int32_t> GetSelected() const = 0;
    virtual bool IsSelected(int32_t index) const = 0;
    virtual void SetMultipleSelection(bool multiple) = 0;
    virtual bool IsMultipleSelection() const = 0;
};

// ---- building

// A widget as a panel's or dialog's resource describes it.
struct WidgetResource {
    ClassID classID{};
    WidgetID widgetID{};
    // Title, label, static text or the edit box's first text (a string key
    // or a text).
    PMString text{};
    PMRect frame{};
    bool enabled = true;
    bool visible = true;
    PMString tip{};
    // Drop-down entries.
    std::vector<PMString> entries{};
    // Icon.
    int32_t rsrcID = 0;
    // Check box, radio button: set at first.
    bool selected = false;
    // List box: takes several rows.
    bool multipleSelection = false;
    // Containers only.
    std::vector<WidgetResource> children{};
};

// Makes the widget and the widgets under it. Null, with the reason in why,
// when a class is unknown or makes no widget, or a widget that is not a
// container is given children.
InterfacePtr<IControlView> CreateWidgetTree(const WidgetResource& resource,
                                            std::string* why = nullptr);

namespace WidgetUtils {
// The widget of that ID: root itself or one of its descendants, depth first
// (no reference added), or null. root is any interface of the root widget.
IControlView* FindWidget(const IPMUnknown* root, WidgetID id);
// Every widget of the tree, root first, depth first.
std::vector<IControlView*> AllWidgets(const IPMUnknown* root);

// Controller and observer helpers; each is false (or empty, or 0) when the
// widget is missing or lacks the data.
bool SetText(const IPMUnknown* root, WidgetID id, const PMString& text, bool notify = true);
PMString GetText(const IPMUnknown* root, WidgetID id);
bool SetValue(const IPMUnknown* root, WidgetID id, double value, bool notify = true);
double GetValue(const IPMUnknown* root, WidgetID id, bool* valid = nullptr);
bool SetChecked(const IPMUnknown* root, WidgetID id, bool checked, bool notify = true);
bool IsChecked(const IPMUnknown* root, WidgetID id);
bool Enable(const IPMUnknown* root, WidgetID id, bool enable);
bool Show(const IPMUnknown* root, WidgetID id, bool show);

// Attaches (detaches) the observer to the widget's subject for the protocol.
bool AttachToWidget(const IPMUnknown* root, WidgetID id, PMIID protocol, IObserver* observer);
bool DetachFromWidget(const IPMUnknown* root, WidgetID id, PMIID protocol, IObserver* observer);

// Calls AutoAttach (AutoDetach) on the IObserver of every widget of the tree
// that has one, root first (last).
void AttachObserversInTree(const IPMUnknown* root);
void DetachObserversInTree(const IPMUnknown* root);
} // namespace WidgetUtils

// ---- dialogs

// A dialog's controller, on the dialog object: fills the widgets when the
// dialog opens, checks them and takes their values when the user clicks OK.
class IDialogController : public IPMUnknown {
public:
    enum { kDefaultIID = IID_IDIALOGCONTROLLER.value };

    virtual void InitializeDialogFields(IActiveContext* ac) = 0;
    // The widget whose value is not acceptable (the dialog stays open), or
    // kInvalidWidgetID.
    virtual WidgetID ValidateDialogFields(IActiveContext* ac) = 0;
    virtual void ApplyDialogFields(IActiveContext* ac, WidgetID widgetID) = 0;
};

// Base of dialog controllers, with the field helpers working on the
// dialog's own widgets.
class CDialogController : public CPMUnknown<IDialogController> {
public:
    explicit CDialogController(IPMUnknown* object) : CPMUnknown<IDialogController>(object) {}

    void InitializeDialogFields(IActiveContext*) override {}
    WidgetID ValidateDialogFields(IActiveContext*) override { return kInvalidWidgetID; }
    void ApplyDialogFields(IActiveContext*, WidgetID) override {}

    PMString GetTextControlData(WidgetID id) const;
};

// Base of dialog and panel observers, attaching to widgets of its own tree.
class CDialogObserver : public CObserver {
public:
    explicit CDialogObserver(IPMUnknown* object, PMIID observerID = IID_IOBSERVER)
        : CObserver(object, observerID) {}

    bool AttachToWidget(WidgetID id, PMIID protocol);
    bool DetachFromWidget(WidgetID id, PMIID protocol);
};

enum class DialogAnswer { kOK, kCancel };

// The front end's side of a modal dialog: shows it, lets the user work in it
// (through WidgetDriver) and answers when the user clicks OK or Cancel.
// invalidField is the widget that the controller refused at the last OK
// (kInvalidWidgetID the first time).
class IDialogSink {
public:
    virtual ~IDialogSink();
    virtual DialogAnswer RunDialog(IControlView* dialog, WidgetID invalidField) = 0;
};

namespace DialogMgr {
// The front end's sink (null: none); returns the one it replaces.
IDialogSink* SetDialogSink(IDialogSink* sink);

// Runs the dialog modally: the controller fills the fields, the dialog's
// observers attach, the application's modal flag is set; the front end
// answers; on OK the controller validates (a refused field sends the dialog
// back to the front end) and applies; then the observers detach and the flag
// clears. Without a front end the dialog is cancelled (and said so on
// stderr). kCancel for a null dialog.
DialogAnswer RunModalDialog(IControlView* dialog, IActiveContext* ac = nullptr);
} // namespace DialogMgr

class ScopedDialogSink {
public:
    explicit ScopedDialogSink(IDialogSink* sink) : previous(DialogMgr::SetDialogSink(sink)) {}
    ~ScopedDialogSink() { DialogMgr::SetDialogSink(previous); }
    ScopedDialogSink(const ScopedDialogSink&) = delete;
    ScopedDialogSink& operator=(const ScopedDialogSink&) = delete;

private:
    IDialogSink* previous;
};

// Runs the queued steps, one per dialog run (or per return after a refused
// field); once they are used up, cancels. Records the ID of each dialog
// shown and the refused field it was shown with.
class ScriptedDialogSink : public IDialogSink {
public:
    using Step = std::function<DialogAnswer(IControlView* dialog, WidgetID invalidField)>;

    DialogAnswer RunDialog(IControlView* dialog, WidgetID invalidField) override;
    void Then(Step step) { script.push_back(std::move(step)); }
    void ThenAnswer(DialogAnswer answer) {
        script.push_back([answer](IControlView*, WidgetID) { return answer; });
    }

    struct Run {
        WidgetID dialogID;
        WidgetID invalidField;
    };
    const std::vector<Run>& Runs() const { return runs; }

private:
    std::deque<Step> script;
    std::vector<Run> runs;
};

// ---- panels

// The application's panels by widget ID. Showing a panel attaches the
// observers of its tree, hiding it detaches them.
class IPanelMgr : public IPMUnknown {
public:
    enum { kDefaultIID = IID_IPANELMGR.value };

    // Keeps a reference; false for null or a widget ID already registered.
    virtual bool RegisterPanel(IControlView* panel) = 0;
    // Hides the panel first when shown.
    virtual bool UnregisterPanel(WidgetID panelID) = 0;
    // No reference added; null when none.
    virtual IControlView* GetPanelFromWidgetID(WidgetID panelID) const = 0;
    virtual bool ShowPanel(WidgetID panelID) = 0;
    virtual bool HidePanel(WidgetID panelID) = 0;
    virtual bool IsPanelShown(WidgetID panelID) const = 0;
    // Hides every shown panel (the application stopping).
    virtual void HideAll() = 0;
};

// ---- drag and drop

// What is dropped: files from outside, or page items of a document.
struct DragDropData {
    std::vector<std::string> filePaths;
    UIDList pageItems;
};

class IDragDropTarget : public IPMUnknown {
public:
    enum { kDefaultIID = IID_IDRAGDROPTARGET.value };

    virtual bool CouldAcceptTypes(const DragDropData& data) const = 0;
    virtual ErrorCode ProcessDragDropCommand(const DragDropData& data) = 0;
};

// Base of drop targets: accepts nothing.
class CDragDropTarget : public CPMUnknown<IDragDropTarget> {
public:
    explicit CDragDropTarget(IPMUnknown* object) : CPMUnknown<IDragDropTarget>(object) {}
    bool CouldAcceptTypes(const DragDropData&) const override { return false; }
    ErrorCode ProcessDragDropCommand(const DragDropData&) override { return kFailure; }
};

// ---- the front end's input

// What a user does to widgets, as a front end or a test passes it on. Each
// call is refused (false, nothing changes, nobody is told) when the widget is
// missing, of another kind, or not usable: it, or a widget above it up to
// root, is disabled or hidden.
namespace WidgetDriver {
// True when the user could reach the widget now.
bool IsUsable(const IPMUnknown* root, WidgetID id);
// Buttons are pressed, check boxes toggle, radio buttons are chosen.
bool Press(const IPMUnknown* root, WidgetID id);
// Sets a check box (or chooses a radio button with true).
bool SetChecked(const IPMUnknown* root, WidgetID id, bool checked);
// Replaces an edit box's text (marked not translatable: it is the user's).
bool Type(const IPMUnknown* root, WidgetID id, const PMString& text);
// Chooses a drop-down entry by index, or by its text (as given or translated).
bool Choose(const IPMUnknown* root, WidgetID id, int32_t index);
bool ChooseEntry(const IPMUnknown* root, WidgetID id, const PMString& entry);
// Replaces a list box's selection.
bool SelectRows(const IPMUnknown* root, WidgetID id, const std::vector<int32_t>& rows);
// Selects the row alone, then tells of the double-click.
bool DoubleClickRow(const IPMUnknown* root, WidgetID id, int32_t row);
// Drops onto the widget's IDragDropTarget: kFailure when there is none, it
// cannot take the data or the widget is not usable; else what it returns.
ErrorCode Drop(const IPMUnknown* root, WidgetID id, const DragDropData& data);
} // namespace WidgetDriver
