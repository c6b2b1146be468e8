// What the host shell shows: the orders panel's rows, buttons and log, the
// entries of a menu, an open dialog's widgets, the page items of the front
// document and the session's preferences; as JSON (--json and expect read
// these) and, for the panel, as the table that `panel` prints.
#include "HostShellImpl.h"

#include "DocumentModel.h"
#include "DocumentUtils.h"
#include "IActionManager.h"
#include "IDataLink.h"
#include "IDocument.h"
#include "IGeometry.h"
#include "IHierarchy.h"
#include "IMenuManager.h"
#include "IOrdoPrefsData.h"
#include "ISession.h"
#include "IShortcutManager.h"
#include "ISpread.h"
#include "ITransform.h"
#include "OD_ClientSettings.h"
#include "OD_DataAccessor.h"
#include "OD_Preferences.h"
#include "OD_ProcData.h"
#include "OrdoPanel.h"
#include "OrdoPanelState.h"

#include <algorithm>
#include <cmath>
#include <sstream>

using namespace hostshell;

// ---- the orders panel

namespace {

struct StatusIcon {
    int32_t icon;
    const char* symbol;
    const char* meaning;
};

// The panel's status icons as this front end draws them.
constexpr StatusIcon kStatusIcons[] = {
    {129, "[R]", "ready"},
    {132, "[R!]", "ready, resampling warning"},
    {130, "[S]", "sent, waiting"},
    {128, "[D]", "done"},
    {131, "[X]", "failed on the server"},
    {133, "[D!]", "done with a server warning"},
};

std::string IconSymbol(int32_t icon) {
    for (const StatusIcon& s : kStatusIcons) {
        if (s.icon == icon) {
            return s.symbol;
        }
    }
    return icon == 0 ? "[ ]" : "[" + std::to_string(icon) + "]";
}

std::string IconMeaning(int32_t icon) {
    for (const StatusIcon& s : kStatusIcons) {
        if (s.icon == icon) {
            return s.meaning;
        }
    }
    return "";
}

} // namespace

std::vector<HostShellImpl::RowView> HostShellImpl::PanelRows() const {
    std::vector<RowView> rows;
    IListBoxController* list = PanelList();
    const std::vector<UIDRef>& items = OrdoPanelItems();
    for (int32_t r = 0; r < list->GetRowCount(); ++r) {
        const ListRow row = list->GetRow(r);
        RowView v;
        v.row = r + 1;
        auto cell = [&](WidgetID id) -> const ListCell* { return row.FindCell(id); };
        auto text = [&](WidgetID id) {
            const ListCell* c = cell(id);
            return c != nullptr ? Text(c->text) : std::string();
        };
        bool numberOk = false;
        const int index = PMString(text(kOrdoRowIndexCellID)).GetAsNumber(&numberOk);
        v.index = numberOk ? index : -1;
        if (const ListCell* c = cell(kOrdoStatusIconCellID)) {
            v.icon = c->iconID;
        }
        v.page = text(kOrdoPageCellID);
        v.name = text(kOrdoNameCellID);
        v.options = text(kOrdoOptionsCellID);
        v.process = text(kOrdoProcessCellID);
        v.type = text(kOrdoImageTypeCellID);
        v.selected = list->IsSelected(r);
        // Rows the panel has not rebuilt since their document closed name a
        // database that is gone: only items of open documents are read.
        if (v.index >= 0 && static_cast<std::size_t>(v.index) < items.size() &&
            IsOpen(items[static_cast<std::size_t>(v.index)].GetDataBase())) {
            v.item = items[static_cast<std::size_t>(v.index)];
            OD_ProcData record;
            if (IsUsableItemRef(v.item) && OD_DataAccessor(v.item).Read(record) == 0) {
                v.orderStatus = record.status;
            }
        }
        rows.push_back(v);
    }
    return rows;
}

// The row that a command names by its number, counted from 1.
const HostShellImpl::RowView& HostShellImpl::Row(const std::vector<RowView>& rows,
                                                 const std::string& text) const {
    const long long row = ParseInteger(text, "row", 1, 1000000);
    if (static_cast<std::size_t>(row) > rows.size()) {
        Fail("the panel has no row " + text + " (" + std::to_string(rows.size()) + " rows)");
    }
    return rows[static_cast<std::size_t>(row - 1)];
}

std::string HostShellImpl::LogText() const {
    return HasOrdoLog() ? GetOrdoLog()->Text() : std::string();
}

ordered_json HostShellImpl::PanelJson() const {
    IControlView* p = Panel();
    ordered_json j;
    j["open"] = PanelShown();
    ordered_json rows = ordered_json::array();
    for (const RowView& v : PanelRows()) {
        ordered_json r;
        r["row"] = v.row;
        r["index"] = v.index;
        r["icon"] = v.icon;
        r["iconMeaning"] = IconMeaning(v.icon);
        r["page"] = v.page;
        r["name"] = v.name;
        r["options"] = v.options;
        r["process"] = v.process;
        r["type"] = v.type;
        r["selected"] = v.selected;
        r["uid"] = v.item.GetUID().Get();
        r["status"] = v.orderStatus;
        rows.push_back(r);
    }
    j["rows"] = rows;
    auto button = [&](WidgetID id) {
        ordered_json b;
        IControlView* view = WidgetUtils::FindWidget(p, id);
        b["enabled"] = view != nullptr && view->IsEnabled();
        b["visible"] = view != nullptr && view->IsVisible();
        return b;
    };
    j["trash"] = button(kOrdoTrashButtonWidgetID);
    j["go"] = button(kOrdoGoButtonWidgetID);
    j["showLog"] = WidgetUtils::IsChecked(p, kOrdoShowLogWidgetID);
    IControlView* area = WidgetUtils::FindWidget(p, kOrdoLogAreaWidgetID);
    j["logAreaVisible"] = area != nullptr && area->IsVisible();
    j["refreshNeeded"] = IsOrdoRefreshNeeded();
    j["log"] = LogText();
    return j;
}

void HostShellImpl::PrintPanel() const {
    const ordered_json j = PanelJson();
    // The panel's own title and column headers, in the user's language.
    IControlView* p = Panel();
    auto panelText = [p](WidgetID id, const char* otherwise) {
        const std::string text = Text(WidgetUtils::GetText(p, id));
        return text.empty() ? std::string(otherwise) : text;
    };
    auto chars = [](const std::string& text) {
        std::size_t n = 0;
        for (unsigned char c : text) {
            n += (c & 0xC0) != 0x80 ? 1 : 0;
        }
        return n;
    };
    out << panelText(kOrdoPanelWidgetID, "Orders panel") << " ("
        << (j["open"].get<bool>() ? "open" : "closed") << "), " << j["rows"].size()
        << (j["rows"].size() == 1 ? " row" : " rows") << "\n";
    if (!j["rows"].empty()) {
        // The Options column holds three cells: options, process, image type.
        const std::string status = panelText(kOrdoStatusHeaderWidgetID, "Status");
        const std::string page = panelText(kOrdoPageHeaderWidgetID, "Page");
        const std::string name = panelText(kOrdoNameHeaderWidgetID, "File Name");
        const std::string options = panelText(kOrdoOptionsHeaderWidgetID, "Options");
        std::size_t statusWidth = std::max<std::size_t>(5, chars(status));
        std::size_t pageWidth = std::max<std::size_t>(4, chars(page));
        std::size_t nameWidth = std::max<std::size_t>(24, chars(name));
        std::size_t optionsWidth = 10;
        std::size_t processWidth = 34;
        for (const auto& r : j["rows"]) {
            nameWidth = std::max(nameWidth, chars(r["name"].get<std::string>()));
            optionsWidth = std::max(optionsWidth, chars(r["options"].get<std::string>()));
            processWidth = std::max(processWidth, chars(r["process"].get<std::string>()));
        }
        out << "    " << Pad("#", 3) << Pad(status, statusWidth) << Pad(page, pageWidth)
            << Pad(name, nameWidth) << options << "\n";
        for (const auto& r : j["rows"]) {
            out << "  " << (r["selected"].get<bool>() ? '>' : ' ') << " "
                << Pad(std::to_string(r["row"].get<int>()), 3)
                << Pad(IconSymbol(r["icon"].get<int32_t>()), statusWidth)
                << Pad(r["page"].get<std::string>(), pageWidth)
                << Pad(r["name"].get<std::string>(), nameWidth)
                << Pad(r["options"].get<std::string>(), optionsWidth)
                << Pad(r["process"].get<std::string>(), processWidth)
                << r["type"].get<std::string>() << "\n";
        }
    }
    out << "  buttons: trash " << (j["trash"]["enabled"].get<bool>() ? "enabled" : "disabled")
        << ", go " << (j["go"]["enabled"].get<bool>() ? "enabled" : "disabled") << "; log "
        << (j["logAreaVisible"].get<bool>() ? "shown" : "hidden") << "\n";
    const std::string log = j["log"].get<std::string>();
    if (!log.empty()) {
        out << "  log:\n";
        std::istringstream lines(log);
        std::string l;
        while (std::getline(lines, l)) {
            out << "    " << l << "\n";
        }
    }
}

// ---- menus

ordered_json HostShellImpl::MenuJson(const std::string& path) const {
    InterfacePtr<IApplication> app = App();
    InterfacePtr<IMenuManager> menus(app->QueryMenuManager());
    InterfacePtr<IActionManager> actions(app->QueryActionManager());
    InterfacePtr<IShortcutManager> shortcuts(actions.get(), IID_ISHORTCUTMANAGER);
    if (!menus || !actions) {
        Fail("the host has no menu or action manager");
    }
    const std::vector<MenuItemDefinition> items = MenuItemsToShow(*menus, *actions, PMString(path));
    ordered_json list = ordered_json::array();
    for (const MenuItemDefinition& item : items) {
        ordered_json e;
        e["action"] = Hex(item.action.Get());
        e["name"] = NameOfAction(item.action);
        e["separator"] = item.separator;
        if (item.separator) {
            e["text"] = "";
            e["enabled"] = false;
        } else {
            // Shown as the host draws it: a single '&' marks the access key.
            std::string text =
                Text(item.text.IsEmpty() ? actions->GetActionName(item.action) : item.text);
            for (std::size_t i = 0; i < text.size(); ++i) {
                if (text[i] == '&') {
                    text.erase(i, 1);
                }
            }
            e["text"] = text;
            e["enabled"] = actions->IsEnabled(item.action);
        }
        e["checked"] = !item.separator && actions->IsChecked(item.action);
        std::string keys;
        if (shortcuts && !item.separator) {
            for (const ShortcutBinding& b : shortcuts->GetShortcutsForAction(item.action)) {
                keys += (keys.empty() ? "" : ", ") +
                        ShortcutUtils::GetShortcutString(b.key, b.modifiers).GetUTF8String();
            }
        }
        e["shortcut"] = keys;
        e["position"] = item.position;
        list.push_back(e);
    }
    return list;
}

// ---- dialogs

ordered_json HostShellImpl::WidgetJson(IControlView* view) const {
    ordered_json w;
    w["id"] = Hex(view->GetWidgetID().Get());
    w["kind"] = WidgetKindName(view->GetKind());
    InterfacePtr<ITextControlData> text(view, IID_ITEXTCONTROLDATA);
    InterfacePtr<ITriStateControlData> state(view, IID_ITRISTATECONTROLDATA);
    InterfacePtr<IStringListControlData> strings(view, IID_ISTRINGLISTCONTROLDATA);
    InterfacePtr<IDropDownListController> dropDown(view, IID_IDROPDOWNLISTCONTROLLER);
    InterfacePtr<IListBoxController> listBox(view, IID_ILISTBOXCONTROLLER);
    const std::string shown = text ? Text(text->GetString()) : std::string();
    switch (view->GetKind()) {
    case WidgetKind::kEditBox:
    case WidgetKind::kStaticText:
        w["label"] = "";
        w["value"] = shown;
        break;
    case WidgetKind::kCheckBox:
    case WidgetKind::kRadioButton:
        w["label"] = shown;
        w["value"] = state && state->IsSelected() ? "on" : "off";
        break;
    case WidgetKind::kDropDownList:
        w["label"] = "";
        w["value"] = strings && dropDown && dropDown->GetSelected() >= 0
                         ? Text(strings->GetString(dropDown->GetSelected()))
                         : "";
        break;
    default:
        w["label"] = shown;
        w["value"] = "";
        break;
    }
    w["enabled"] = view->IsEnabled();
    w["visible"] = view->IsVisible();
    ordered_json entries = ordered_json::array();
    if (strings) {
        for (int32_t i = 0; i < strings->Length(); ++i) {
            entries.push_back(Text(strings->GetString(i)));
        }
    }
    w["entries"] = entries;
    ordered_json selection = ordered_json::array();
    if (dropDown && dropDown->GetSelected() >= 0) {
        selection.push_back(dropDown->GetSelected());
    }
    if (listBox) {
        for (int32_t r : listBox->GetSelected()) {
            selection.push_back(r);
        }
    }
    w["selection"] = selection;
    return w;
}

ordered_json HostShellImpl::DialogJson(IControlView* dialog) const {
    ordered_json j;
    j["id"] = Hex(dialog->GetWidgetID().Get());
    j["title"] = Text(WidgetUtils::GetText(dialog, dialog->GetWidgetID()));
    ordered_json widgets = ordered_json::array();
    for (IControlView* view : WidgetUtils::AllWidgets(dialog)) {
        if (view != dialog) {
            widgets.push_back(WidgetJson(view));
        }
    }
    j["widgets"] = widgets;
    return j;
}

// ---- page items

namespace {

// Lengths and angles as the JSON output gives them: three decimals.
double Rounded(double value) {
    const double r = std::round(value * 1000.0) / 1000.0;
    return r == 0.0 ? 0.0 : r;
}

const char* ItemKind(const UIDRef& ref) {
    using namespace PageItemTypeUtils;
    switch (GetPageItemType(ref)) {
    case PageItemType::kGraphicFrame:
        return "frame";
    case PageItemType::kGroup:
        return "group";
    case PageItemType::kImage:
        return "image";
    case PageItemType::kOther:
        break;
    }
    if (IsTextFrame(ref)) {
        return "text";
    }
    if (IsUnassignedFrame(ref)) {
        return "shape";
    }
    return "other";
}

void CollectItems(IDataBase* db, UID uid, int depth, ordered_json& list) {
    const UIDRef ref(db, uid);
    InterfacePtr<IHierarchy> hierarchy = InterfaceOf<IHierarchy>(ref);
    if (!hierarchy) {
        return;
    }
    ordered_json e;
    e["uid"] = uid.Get();
    e["kind"] = ItemKind(ref);
    e["depth"] = depth;
    e["parent"] = hierarchy->GetParentUID().Get();
    e["page"] = LayoutUtils::GetPageNumber(ref);
    InterfacePtr<IGeometry> geometry = InterfaceOf<IGeometry>(ref);
    InterfacePtr<ITransform> transform = InterfaceOf<ITransform>(ref);
    if (geometry && transform) {
        // Bounds as the page sees them: spread coordinates less the page's
        // position on its spread, so they read like the place command's.
        PMRect box = geometry->GetBoundingBox(transform->GetInnerToSpreadMatrix());
        const UID pageUID = LayoutUtils::GetOwnerPageUID(ref);
        if (InterfacePtr<IPage> page = InterfaceOf<IPage>(UIDRef(db, pageUID))) {
            const PMRect pageBox = page->GetBoundsInSpread();
            box.MoveRel(-pageBox.Left(), -pageBox.Top());
        }
        e["bounds"] = {Rounded(box.Left()), Rounded(box.Top()), Rounded(box.Right()),
                       Rounded(box.Bottom())};
        const PMMatrix m = transform->GetInnerToParentMatrix();
        const PMMatrix::Parts parts = m.Decompose();
        ordered_json t;
        t["xScale"] = Rounded(parts.xScale);
        t["yScale"] = Rounded(parts.yScale);
        t["rotation"] = Rounded(parts.rotation);
        t["skew"] = Rounded(parts.xSkew);
        t["tx"] = Rounded(parts.xTranslation);
        t["ty"] = Rounded(parts.yTranslation);
        e["transform"] = t;
    }
    InterfacePtr<IDataLink> link = InterfaceOf<IDataLink>(ref);
    e["link"] = link ? link->GetLongName().GetUTF8String() : "";
    OD_ProcData record;
    if (PageItemTypeUtils::IsGraphic(ref) && OD_DataAccessor(ref).Read(record) == 0 &&
        record.status != 0) {
        e["orderStatus"] = record.status;
        e["outputName"] = record.outputName.GetUTF8String();
    }
    list.push_back(e);
    for (int32_t i = 0; i < hierarchy->GetChildCount(); ++i) {
        CollectItems(db, hierarchy->GetChildUID(i), depth + 1, list);
    }
}

} // namespace

ordered_json HostShellImpl::ItemsJson() const {
    IDataBase* db = RequireDocument();
    InterfacePtr<IDocument> doc = DocumentUtils::QueryDocument(db);
    ordered_json list = ordered_json::array();
    for (UID spread : doc->GetSpreads()) {
        InterfacePtr<IHierarchy> hierarchy = InterfaceOf<IHierarchy>(UIDRef(db, spread));
        for (int32_t i = 0; hierarchy && i < hierarchy->GetChildCount(); ++i) {
            CollectItems(db, hierarchy->GetChildUID(i), 0, list);
        }
    }
    return list;
}

// ---- preferences

ordered_json HostShellImpl::PrefsJson() const {
    InterfacePtr<IOrdoPrefsData> data(GetExecutionContextSession(), IID_IORDOPREFSDATA);
    if (!data) {
        Fail("the session carries no preferences (the plug-in is not loaded)");
    }
    const OD_PrefsData p = data->Get();
    ordered_json j;
    j["serverPath"] = p.GetServerPath();
    j["resolution"] = p.GetResolution();
    j["downSmpMin"] = p.GetDownSmpMin();
    j["upSmpMax"] = p.GetUpSmpMax();
    j["outFolder"] = p.GetOutFolder();
    j["repSrc"] = p.GetRepSrc();
    j["delSrc"] = p.GetDelSrc();
    j["ovrWrDest"] = p.GetOvrWrDest();
    j["checkSrc"] = p.GetCheckSrc();
    j["defaultProcess"] = p.GetDefaultProcess().GetUTF8String();
    j["autoUpdt"] = p.GetAutoUpdt();
    j["frequency"] = p.GetFrequency();
    // Kept with the client's settings, beside the preferences file.
    j["notAnsweringSeconds"] = NotAnsweringSeconds();
    j["opiActive"] = p.GetOpiActive();
    j["opiSuffix"] = p.GetOpiSuffix().GetUTF8String();
    j["opiLoResFolder"] = p.GetOpiLoResFolder();
    j["autoImport"] = p.GetAutoImport();
    j["qualityControl"] = p.GetQualityControl();
    j["showPrefs"] = p.GetShowPrefs();
    j["identityFolder"] = OD_PrefsData::IdentityFolder();
    return j;
}
