// The host shell's commands, all but expect (HostShellExpect.cpp): those of
// scripts, documents and page items, menus and actions, the orders panel,
// dialogs, choosers and alerts, time, undo, preferences, the reference server
// and files. help lists them.
#include "HostShellImpl.h"

#include "SampleFiles.h"

#include "DocumentFile.h"
#include "DocumentIDs.h"
#include "DocumentModel.h"
#include "DocumentUtils.h"
#include "IActionManager.h"
#include "IDocument.h"
#include "IHierarchy.h"
#include "IIdleTask.h"
#include "ILayoutSelection.h"
#include "IMenuManager.h"
#include "IShortcutManager.h"
#include "ITransform.h"
#include "IdmlDocument.h"
#include "ImportUtils.h"
#include "OD_JobJournal.h"
#include "OrdoActions.h"
#include "OrdoPanel.h"
#include "Platform.h"
#include "RefServer.h"
#include "ServerTree.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include <vips/vips.h>

using namespace hostshell;

// ---- numbers

namespace {

std::string Number(double value) {
    // Short and stable: at most three decimals, no trailing zeros, no "-0".
    double rounded = std::round(value * 1000.0) / 1000.0;
    if (rounded == 0.0) {
        rounded = 0.0;
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", rounded);
    std::string s = text;
    while (!s.empty() && s.back() == '0') {
        s.pop_back();
    }
    if (!s.empty() && s.back() == '.') {
        s.pop_back();
    }
    return s;
}

} // namespace

// ---- scripts

void HostShellImpl::CmdHelp(Args& a) {
    a.Expect(0, 0, "help");
    out << ShellCommandHelp();
}

void HostShellImpl::CmdEcho(Args& a) {
    const auto& words = a.Words();
    for (std::size_t i = 0; i < words.size(); ++i) {
        out << (i ? " " : "") << words[i];
    }
    out << "\n";
}

void HostShellImpl::CmdSet(Args& a) {
    const auto& w = a.Expect(2, 2, "set NAME VALUE");
    variables[w[0]] = w[1];
}

void HostShellImpl::CmdQuit(Args& a) {
    a.Expect(0, 0, "quit");
    quitting = true;
    for (OpenDialog& d : dialogs) {
        d.answer = DialogAnswer::kCancel;
    }
}

// ---- documents and page items

void HostShellImpl::CmdNew(Args& a) {
    DocumentUtils::NewDocumentOptions o;
    if (auto pages = a.Option("--pages")) {
        o.pageCount = static_cast<int32_t>(ParseInteger(*pages, "page count", 1, 1000));
    }
    a.Expect(0, 0, "new [--pages N]");
    o.name = PMString("Untitled-" + std::to_string(++untitled));
    std::unique_ptr<IDataBase> db = DocumentUtils::NewDocument(o);
    AddDocument(std::move(db), o.name, false);
    out << "new document " << o.name.GetUTF8String() << " (" << o.pageCount
        << (o.pageCount == 1 ? " page" : " pages") << ")\n";
}

void HostShellImpl::CmdOpen(Args& a) {
    const std::string path = Absolute(a.Expect(1, 1, "open PATH")[0]);
    std::string why;
    std::vector<std::string> warnings;
    std::unique_ptr<IDataBase> db = DocumentFile::Open(PMString(path), why, &warnings);
    if (!db) {
        Fail("cannot open " + path + ": " + why);
    }
    for (const std::string& w : warnings) {
        out << "warning: " << w << "\n";
    }
    InterfacePtr<IDocument> doc = DocumentUtils::QueryDocument(db.get());
    const PMString name = doc ? doc->GetName() : PMString(path);
    AddDocument(std::move(db), name, true);
    out << "opened " << name.GetUTF8String() << "\n";
}

void HostShellImpl::CmdSave(Args& a) {
    const auto& w = a.Expect(0, 1, "save [PATH]");
    IDataBase* db = RequireDocument();
    InterfacePtr<IDocument> doc = DocumentUtils::QueryDocument(db);
    std::string path = w.empty() ? doc->GetFilePath().GetUTF8String() : Absolute(w[0]);
    if (path.empty()) {
        Fail("the document was never saved: give a path");
    }
    std::string why;
    std::vector<std::string> warnings;
    if (Documents()->SaveDocument(db, PMString(path), why, &warnings) != kSuccess) {
        Fail("cannot save " + path + ": " + why);
    }
    for (const std::string& warning : warnings) {
        out << "warning: " << warning << "\n";
    }
    out << "saved " << path << "\n";
}

void HostShellImpl::CmdLinkMap(Args& a) {
    const auto& w = a.Expect(0, 3, "linkmap [add PREFIX FOLDER | remove PREFIX | clear]");
    idml::LinkMap& map = idml::SessionLinkMap();
    std::string why;
    if (!w.empty() && w[0] == "add" && w.size() == 3) {
        if (!map.Add(w[1], Absolute(w[2]), why)) {
            Fail(why);
        }
    } else if (!w.empty() && w[0] == "remove" && w.size() == 2) {
        if (!map.Remove(w[1])) {
            Fail("no link path map entry for " + w[1]);
        }
    } else if (!w.empty() && w[0] == "clear" && w.size() == 1) {
        map.Clear();
    } else if (!w.empty()) {
        Fail("usage: linkmap [add PREFIX FOLDER | remove PREFIX | clear]");
    }
    if (map.Entries().empty()) {
        out << "link path map: empty\n";
    }
    for (const auto& [prefix, folder] : map.Entries()) {
        out << "link path map: " << prefix << " -> " << folder << "\n";
    }
}

void HostShellImpl::CmdClose(Args& a) {
    a.Expect(0, 0, "close");
    IDataBase* db = RequireDocument();
    InterfacePtr<IDocumentList> docs = Documents();
    const bool modified = db->IsModified();
    std::string name;
    if (InterfacePtr<IDocument> doc = DocumentUtils::QueryDocument(db)) {
        name = doc->GetName().GetUTF8String();
    }
    docs->CloseDocument(db);
    auto it = std::find_if(databases.begin(), databases.end(),
                           [&](const std::unique_ptr<IDataBase>& d) { return d.get() == db; });
    if (it != databases.end()) {
        databases.erase(it);
    }
    out << "closed " << name << (modified ? " (its changes were not saved)" : "") << "\n";
}

void HostShellImpl::CmdPlace(Args& a) {
    const auto pageOption = a.Option("--page");
    const auto scaleOption = a.Option("--scale");
    const auto rotateOption = a.Option("--rotate");
    const auto skewOption = a.Option("--skew");
    const auto flipOption = a.Option("--flip");
    const auto offsetOption = a.Option("--image-offset", 2);
    const auto nameOption = a.Option("--name");
    const auto& w = a.Expect(5, 5,
                             "place IMAGE X Y W H [--page N] [--scale S] [--rotate DEG] "
                             "[--skew DEG] [--flip h|v] [--image-offset DX DY] [--name VAR]");
    IDataBase* db = RequireDocument();
    const std::string path = Absolute(w[0]);
    const double x = ParseNumber(w[1], "X");
    const double y = ParseNumber(w[2], "Y");
    const double width = ParseNumber(w[3], "W");
    const double height = ParseNumber(w[4], "H");
    if (width <= 0 || height <= 0) {
        Fail("the frame needs a positive width and height");
    }
    const int32_t pageNumber =
        pageOption ? static_cast<int32_t>(ParseInteger(*pageOption, "page", 1, 100000)) : 1;
    const UIDRef page = DocumentUtils::GetNthPage(db, pageNumber - 1);
    if (!page.GetUID().Get()) {
        Fail("the document has no page " + std::to_string(pageNumber));
    }
    double scale = 1.0, rotate = 0.0, skew = 0.0;
    if (scaleOption) {
        scale = ParseNumber(*scaleOption, "scale");
        if (scale <= 0) {
            Fail("the scale must be positive");
        }
    }
    if (rotateOption) {
        rotate = ParseNumber(*rotateOption, "rotation");
    }
    if (skewOption) {
        skew = ParseNumber(*skewOption, "skew");
        if (std::abs(skew) >= 89.0) {
            Fail("the skew must lie between -89 and 89 degrees");
        }
    }
    if (flipOption && *flipOption != "h" && *flipOption != "v") {
        Fail("--flip takes h (left to right) or v (top to bottom)");
    }
    double dx = 0, dy = 0;
    if (offsetOption) {
        dx = ParseNumber((*offsetOption)[0], "DX");
        dy = ParseNumber((*offsetOption)[1], "DY");
    }

    // The frame, the place and the transformation make one undo step, and a
    // failure anywhere leaves the document as it was. The scale is about the
    // frame's left-top corner (where placing puts the image); mirror, skew and
    // rotation about the frame's centre; then the image moves.
    UIDRef frame;
    UIDRef image;
    std::string failure;
    const PMPoint centre(width / 2.0, height / 2.0);
    const ErrorCode result =
        DocumentUtils::ProcessChange(db, PMString("Place"), [&]() -> ErrorCode {
            ErrorCode error = kSuccess;
            frame =
                DocumentUtils::AddGraphicFrame(page, PMRect(x, y, x + width, y + height), &error);
            if (error != kSuccess) {
                failure = std::string("cannot make the frame: ") + DocumentErrorText(error);
                return error;
            }
            image = ImportUtils::PlaceFile(frame, PMString(path), &error);
            if (error != kSuccess) {
                failure = "cannot place " + path + ": " + DocumentErrorText(error);
                return error;
            }
            InterfacePtr<ITransform> t = InterfaceOf<ITransform>(image);
            bool ok = t != nullptr;
            if (ok && scaleOption) {
                ok = t->SetScale(scale, scale, PMPoint(0, 0));
            }
            if (ok && flipOption) {
                const PMMatrix::Parts parts = t->GetInnerToParentMatrix().Decompose();
                ok = *flipOption == "h" ? t->SetScale(-parts.xScale, parts.yScale, centre)
                                        : t->SetScale(parts.xScale, -parts.yScale, centre);
            }
            if (ok && skewOption) {
                ok = t->SetXSkewAngle(skew, centre);
            }
            if (ok && rotateOption) {
                ok = t->SetRotationAngle(rotate, centre);
            }
            if (ok && offsetOption) {
                t->MoveBy(dx, dy);
            }
            if (!ok) {
                failure = "the image could not be transformed as asked";
                return kFailure;
            }
            return kSuccess;
        });
    if (result != kSuccess) {
        Fail(failure.empty() ? std::string("cannot place ") + path : failure);
    }
    out << "placed " << std::filesystem::path(path).filename().string() << ": frame "
        << frame.GetUID().Get() << ", image " << image.GetUID().Get() << "\n";
    if (nameOption) {
        variables[*nameOption] = std::to_string(frame.GetUID().Get());
        variables[*nameOption + "_image"] = std::to_string(image.GetUID().Get());
    }
}

void HostShellImpl::CmdGroup(Args& a) {
    const auto& w = a.Expect(1, 1000, "group UID...");
    IDataBase* db = RequireDocument();
    UIDList list(db);
    for (const std::string& u : w) {
        list.Append(ItemRef(u));
    }
    ErrorCode error = kSuccess;
    const UIDRef group = DocumentUtils::GroupItems(list, &error);
    if (error != kSuccess) {
        Fail(std::string("cannot group: ") + DocumentErrorText(error));
    }
    out << "group " << group.GetUID().Get() << "\n";
}

void HostShellImpl::CmdDelete(Args& a) {
    const auto& w = a.Expect(1, 1000, "delete UID...");
    RequireDocument();
    std::vector<UIDRef> items;
    for (const std::string& u : w) {
        items.push_back(ItemRef(u));
    }
    for (const UIDRef& item : items) {
        // An item inside one deleted before it went with it.
        if (!item.GetDataBase()->IsValidUID(item.GetUID())) {
            continue;
        }
        if (ErrorCode error = DocumentUtils::DeletePageItem(item); error != kSuccess) {
            Fail("cannot delete " + std::to_string(item.GetUID().Get()) + ": " +
                 DocumentErrorText(error));
        }
        out << "deleted " << item.GetUID().Get() << "\n";
    }
}

void HostShellImpl::CmdItems(Args& a) {
    const bool json = a.Flag("--json");
    a.Expect(0, 0, "items [--json]");
    const ordered_json items = ItemsJson();
    if (json) {
        out << DumpJson(items) << "\n";
        return;
    }
    for (const auto& e : items) {
        out << std::string(static_cast<std::size_t>(e["depth"].get<int>()) * 2 + 2, ' ')
            << e["kind"].get<std::string>() << " " << e["uid"].get<uint32_t>() << " page "
            << e["page"].get<int>();
        if (e.contains("bounds")) {
            const auto& b = e["bounds"];
            out << " [" << Number(b[0].get<double>()) << ", " << Number(b[1].get<double>()) << ", "
                << Number(b[2].get<double>()) << ", " << Number(b[3].get<double>()) << "]";
            const auto& t = e["transform"];
            out << " scale " << Number(t["xScale"].get<double>()) << "/"
                << Number(t["yScale"].get<double>()) << " rot "
                << Number(t["rotation"].get<double>()) << " skew "
                << Number(t["skew"].get<double>());
        }
        if (!e["link"].get<std::string>().empty()) {
            out << " link " << e["link"].get<std::string>();
        }
        if (e.contains("orderStatus")) {
            out << " order " << Hex(e["orderStatus"].get<uint32_t>());
        }
        out << "\n";
    }
}

void HostShellImpl::CmdSelect(Args& a) {
    const bool all = a.Flag("--all");
    const bool add = a.Flag("--add");
    const auto& w = a.Rest();
    IDataBase* db = RequireDocument();
    InterfacePtr<IDocument> doc = DocumentUtils::QueryDocument(db);
    InterfacePtr<ILayoutSelection> selection(doc.get(), IID_ILAYOUTSELECTION);
    if (!selection) {
        Fail("the document has no layout selection");
    }
    UIDList list(db);
    if (all) {
        for (UID spread : doc->GetSpreads()) {
            InterfacePtr<IHierarchy> h = InterfaceOf<IHierarchy>(UIDRef(db, spread));
            for (int32_t i = 0; h && i < h->GetChildCount(); ++i) {
                list.Append(h->GetChildUID(i));
            }
        }
    }
    for (const std::string& u : w) {
        list.Append(ItemRef(u));
    }
    if (list.IsEmpty() && !add) {
        selection->DeselectAll();
    } else {
        selection->Select(list, add ? ILayoutSelection::kAddTo : ILayoutSelection::kReplace);
    }
    const UIDList now = selection->GetSelectedItems();
    out << "selected:";
    for (UID u : now) {
        out << " " << u.Get();
    }
    out << (now.IsEmpty() ? " nothing\n" : "\n");
}

// ---- menus and actions

namespace {

struct ActionName {
    const char* name;
    ActionID id;
};

const ActionName kActionNames[] = {
    {"about", kOrdoAboutActionID},
    {"about-panel", kOrdoPanelAboutActionID},
    {"add-selected", kOrdoAddSelectionActionID},
    {"send-selected", kOrdoSendSelectionActionID},
    {"preferences", kOrdoPreferencesActionID},
    {"edit-selected", kOrdoEditSelectionActionID},
    {"send-all", kOrdoSendAllActionID},
    {"undo-redo", kOrdoUndoRedoActionID},
    {"show-selected", kOrdoShowSelectedActionID},
    {"pickup", kOrdoPickupActionID},
};

} // namespace

std::string hostshell::NameOfAction(ActionID id) {
    for (const ActionName& a : kActionNames) {
        if (a.id == id) {
            return a.name;
        }
    }
    return Hex(id.Get());
}

ActionID hostshell::ActionByName(const std::string& name) {
    for (const ActionName& a : kActionNames) {
        if (Lower(name) == a.name) {
            return a.id;
        }
    }
    if (!name.empty() && std::isdigit(static_cast<unsigned char>(name[0]))) {
        return ActionID(static_cast<uint32_t>(ParseInteger(name, "action ID", 1, 0xFFFFFFFFll)));
    }
    std::string known;
    for (const ActionName& a : kActionNames) {
        known += std::string(known.empty() ? "" : ", ") + a.name;
    }
    Fail("unknown action \"" + name + "\" (known: " + known + ")");
}

void HostShellImpl::RunAction(ActionID id, bool force, const std::string& shown) {
    InterfacePtr<IApplication> app = App();
    InterfacePtr<IActionManager> actions(app->QueryActionManager());
    if (!actions || !actions->IsValidAction(id)) {
        Fail("the action " + shown + " is not defined (is the plug-in loaded?)");
    }
    if (!force) {
        actions->UpdateActionStates(nullptr, {id});
        if (!actions->IsEnabled(id)) {
            Fail("the action " + shown + " is disabled");
        }
    }
    if (actions->PerformAction(id) != kSuccess) {
        Fail("the action " + shown + " failed");
    }
}

void HostShellImpl::CmdAction(Args& a) {
    const bool force = a.Flag("--force");
    const std::string name = a.Expect(1, 1, "action NAME [--force]")[0];
    RunAction(ActionByName(name), force, name);
}

void HostShellImpl::CmdShortcut(Args& a) {
    const bool force = a.Flag("--force");
    const auto& w = a.Expect(1, 1, "shortcut TEXT");
    VirtualKey key;
    int16_t modifiers = 0;
    std::string why;
    if (!ShortcutUtils::ParseShortcutString(PMString(w[0]), key, modifiers, &why)) {
        Fail("not a shortcut: " + w[0] + " (" + why + ")");
    }
    InterfacePtr<IApplication> app = App();
    InterfacePtr<IShortcutManager> shortcuts(app->QueryShortcutManager());
    const ActionID id =
        shortcuts
            ? shortcuts->GetActionFromShortcut(PMString(kDefaultShortcutContext), key, modifiers)
            : kInvalidActionID;
    if (!id.IsValid()) {
        Fail("no action has the shortcut " +
             ShortcutUtils::GetShortcutString(key, modifiers).GetUTF8String());
    }
    out << ShortcutUtils::GetShortcutString(key, modifiers).GetUTF8String() << ": "
        << NameOfAction(id) << "\n";
    RunAction(id, force, NameOfAction(id));
}

void HostShellImpl::CmdMenu(Args& a) {
    const bool json = a.Flag("--json");
    const bool listMenus = a.Flag("--list");
    const auto& w = a.Expect(0, 1, "menu [PATH] [--json] [--list]");
    if (listMenus) {
        InterfacePtr<IApplication> app = App();
        InterfacePtr<IMenuManager> menus(app->QueryMenuManager());
        for (const PMString& p : menus->GetMenuPaths()) {
            out << p.GetUTF8String() << "\n";
        }
        return;
    }
    const std::string path = w.empty() ? kPanelMenuPath : w[0];
    const ordered_json items = MenuJson(path);
    if (json) {
        out << DumpJson(items) << "\n";
        return;
    }
    if (items.empty()) {
        Fail("the menu " + path + " has no entries (is the plug-in loaded?)");
    }
    for (const auto& e : items) {
        if (e["separator"].get<bool>()) {
            out << "  ----\n";
            continue;
        }
        out << "  [" << (e["enabled"].get<bool>() ? 'x' : ' ') << "] "
            << Pad(e["text"].get<std::string>(), 42) << Pad(e["shortcut"].get<std::string>(), 12)
            << e["name"].get<std::string>() << "\n";
    }
}

// ---- the orders panel

void HostShellImpl::CmdPanel(Args& a) {
    const bool json = a.Flag("--json");
    const std::vector<std::string> w = a.Rest();
    const std::string sub = w.empty() ? "" : Lower(w[0]);
    if (!sub.empty() && !dialogs.empty()) {
        Fail("the panel cannot be used while a dialog is open (dialog ok or cancel first)");
    }
    IControlView* p = Panel();
    auto needRows = [&](std::size_t low) {
        if (w.size() < low) {
            Fail("usage: panel " + sub + " ROW...");
        }
    };
    if (sub.empty()) {
        if (json) {
            out << DumpJson(PanelJson()) << "\n";
        } else {
            PrintPanel();
        }
        return;
    }
    if (sub == "open" || sub == "close") {
        InterfacePtr<IApplication> app = App();
        InterfacePtr<IPanelMgr> panels(app->QueryPanelManager());
        const bool ok = sub == "open" ? panels->ShowPanel(kOrdoPanelWidgetID)
                                      : panels->HidePanel(kOrdoPanelWidgetID);
        if (!ok) {
            Fail("the panel could not be " + std::string(sub == "open" ? "opened" : "closed"));
        }
        out << "panel " << (sub == "open" ? "open" : "closed") << "\n";
        return;
    }
    if (!PanelShown()) {
        Fail("the panel is closed (panel open first)");
    }
    if (sub == "select") {
        std::vector<int32_t> rows;
        const int32_t count = PanelList()->GetRowCount();
        for (std::size_t i = 1; i < w.size(); ++i) {
            const long long r = ParseInteger(w[i], "row", 1, 1000000);
            if (r > count) {
                Fail("the panel has no row " + w[i] + " (" + std::to_string(count) + " rows)");
            }
            rows.push_back(static_cast<int32_t>(r - 1));
        }
        if (!WidgetDriver::SelectRows(p, kOrdoListBoxWidgetID, rows)) {
            Fail("the rows could not be selected");
        }
        return;
    }
    if (sub == "double-click") {
        needRows(2);
        const long long r = ParseInteger(w[1], "row", 1, 1000000);
        if (r > PanelList()->GetRowCount()) {
            Fail("the panel has no row " + w[1]);
        }
        if (!WidgetDriver::DoubleClickRow(p, kOrdoListBoxWidgetID, static_cast<int32_t>(r - 1))) {
            Fail("the row could not be double-clicked");
        }
        return;
    }
    if (sub == "trash" || sub == "go") {
        const WidgetID id = sub == "trash" ? kOrdoTrashButtonWidgetID : kOrdoGoButtonWidgetID;
        if (!WidgetDriver::Press(p, id)) {
            Fail("the " + sub + " button is disabled");
        }
        return;
    }
    if (sub == "log") {
        const std::string what = w.size() == 2 ? Lower(w[1]) : "";
        bool ok = false;
        if (what == "show" || what == "hide") {
            ok = WidgetDriver::SetChecked(p, kOrdoShowLogWidgetID, what == "show");
        } else if (what == "clear") {
            ok = WidgetDriver::Press(p, kOrdoClearLogWidgetID);
        } else {
            Fail("usage: panel log show|hide|clear");
        }
        if (!ok) {
            Fail("the log control is not usable");
        }
        return;
    }
    if (sub == "drop") {
        needRows(2);
        DragDropData data;
        data.pageItems = UIDList(RequireDocument());
        for (std::size_t i = 1; i < w.size(); ++i) {
            data.pageItems.Append(ItemRef(w[i]));
        }
        const ErrorCode code = WidgetDriver::Drop(p, kOrdoListBoxWidgetID, data);
        if (code != kSuccess) {
            Fail("the orders list did not take the drop");
        }
        return;
    }
    Fail("unknown panel command \"" + w[0] +
         "\" (open, close, select, double-click, trash, go, log, drop)");
}

// ---- dialogs, choosers and alerts

void HostShellImpl::CmdDialog(Args& a) {
    const bool json = a.Flag("--json");
    const std::vector<std::string> w = a.Rest();
    IControlView* dialog = CurrentDialog();
    if (w.empty()) {
        const ordered_json j = DialogJson(dialog);
        if (json) {
            out << DumpJson(j) << "\n";
            return;
        }
        out << "dialog \"" << j["title"].get<std::string>() << "\" (" << j["id"].get<std::string>()
            << ")\n";
        for (const auto& e : j["widgets"]) {
            out << "  " << e["id"].get<std::string>() << " " << e["kind"].get<std::string>();
            if (!e["label"].get<std::string>().empty()) {
                out << " \"" << e["label"].get<std::string>() << "\"";
            }
            if (!e["value"].get<std::string>().empty() || e["kind"] == "edit box") {
                std::string value = e["value"].get<std::string>();
                for (std::size_t i = 0; (i = value.find('\n', i)) != std::string::npos;) {
                    value.replace(i, 1, "\\n");
                }
                out << " = \"" << value << "\"";
            }
            if (!e["enabled"].get<bool>()) {
                out << " (disabled)";
            }
            if (!e["visible"].get<bool>()) {
                out << " (hidden)";
            }
            if (!e["entries"].empty()) {
                out << " entries:";
                int i = 0;
                for (const auto& entry : e["entries"]) {
                    out << (i++ ? " |" : "") << " " << entry.get<std::string>();
                }
            }
            out << "\n";
        }
        return;
    }
    const std::string sub = Lower(w[0]);
    if (sub == "ok" || sub == "cancel") {
        if (w.size() != 1) {
            Fail("usage: dialog " + sub);
        }
        dialogs.back().answer = sub == "ok" ? DialogAnswer::kOK : DialogAnswer::kCancel;
        return;
    }
    if (sub == "click") {
        if (w.size() != 2) {
            Fail("usage: dialog click WIDGET");
        }
        IControlView* view = FindWidget(dialog, w[1]);
        if (!WidgetDriver::Press(dialog, view->GetWidgetID())) {
            Fail("widget " + Hex(view->GetWidgetID().Get()) +
                 " cannot be clicked (disabled, hidden "
                 "or not a button or box)");
        }
        return;
    }
    if (sub == "set") {
        if (w.size() < 3) {
            Fail("usage: dialog set WIDGET VALUE");
        }
        IControlView* view = FindWidget(dialog, w[1], true);
        const WidgetID id = view->GetWidgetID();
        std::string value = w[2];
        for (std::size_t i = 3; i < w.size(); ++i) {
            value += " " + w[i];
        }
        bool ok = false;
        switch (view->GetKind()) {
        case WidgetKind::kEditBox:
            ok = WidgetDriver::Type(dialog, id, PMString(value));
            break;
        case WidgetKind::kCheckBox:
        case WidgetKind::kRadioButton: {
            const std::string v = Lower(value);
            const bool on = v == "on" || v == "1" || v == "true" || v == "yes";
            if (!on && v != "off" && v != "0" && v != "false" && v != "no") {
                Fail("a box takes on or off");
            }
            ok = WidgetDriver::SetChecked(dialog, id, on);
            break;
        }
        case WidgetKind::kDropDownList:
            ok = WidgetDriver::ChooseEntry(dialog, id, PMString(value));
            if (!ok && !value.empty() && value[0] == '@') {
                ok = WidgetDriver::Choose(
                    dialog, id,
                    static_cast<int32_t>(ParseInteger(value.substr(1), "entry", 0, 100000)));
            }
            break;
        case WidgetKind::kListBox: {
            std::vector<int32_t> rows;
            for (std::size_t i = 2; i < w.size(); ++i) {
                rows.push_back(static_cast<int32_t>(ParseInteger(w[i], "row", 0, 1000000)));
            }
            ok = WidgetDriver::SelectRows(dialog, id, rows);
            break;
        }
        default:
            Fail("widget " + Hex(id.Get()) + " (" + WidgetKindName(view->GetKind()) +
                 ") takes no value");
        }
        if (!ok) {
            Fail("widget " + Hex(id.Get()) + " did not take \"" + value +
                 "\" (disabled, hidden, or not one of its entries)");
        }
        return;
    }
    Fail("unknown dialog command \"" + w[0] + "\" (set, click, ok, cancel)");
}

void HostShellImpl::CmdOk(Args& a) {
    a.Expect(0, 0, "ok");
    CurrentDialog();
    dialogs.back().answer = DialogAnswer::kOK;
}

void HostShellImpl::CmdCancel(Args& a) {
    a.Expect(0, 0, "cancel");
    CurrentDialog();
    dialogs.back().answer = DialogAnswer::kCancel;
}

void HostShellImpl::CmdAnswer(Args& a) {
    const auto& w = a.Expect(1, 1, "answer PATH|cancel");
    if (w[0] == "cancel") {
        chooserAnswers.push_back(std::nullopt);
    } else {
        chooserAnswers.push_back(Absolute(w[0]));
    }
}

void HostShellImpl::CmdAlertAnswer(Args& a) {
    const bool dontShow = a.Flag("--dont-show-again");
    const auto& w = a.Expect(1, 1, "alert-answer N|ok|cancel [--dont-show-again]");
    AlertResponse r;
    const std::string v = Lower(w[0]);
    if (v == "ok") {
        r.button = CAlert::kOKButton;
    } else if (v == "cancel") {
        r.button = CAlert::kCancelButton;
    } else {
        r.button = static_cast<int16_t>(ParseInteger(w[0], "button", 1, 3));
    }
    r.dontShowAgain = dontShow;
    alertAnswers.push_back(r);
}

void HostShellImpl::CmdAlerts(Args& a) {
    const bool json = a.Flag("--json");
    a.Expect(0, 0, "alerts [--json]");
    ordered_json list = ordered_json::array();
    for (const ShownAlert& s : alerts) {
        ordered_json e;
        e["kind"] = AlertKindName(s.request.kind);
        e["title"] = s.request.title.GetUTF8String();
        e["message"] = s.request.message.GetUTF8String();
        ordered_json buttons = ordered_json::array();
        for (const PMString& b : s.request.buttons) {
            buttons.push_back(b.GetUTF8String());
        }
        e["buttons"] = buttons;
        e["answer"] = s.answer;
        list.push_back(e);
    }
    if (json) {
        out << DumpJson(list) << "\n";
    } else if (list.empty()) {
        out << "no alerts\n";
    } else {
        for (const auto& e : list) {
            out << "  " << e["kind"].get<std::string>() << ": " << e["message"].get<std::string>()
                << "\n";
        }
    }
    alerts.clear();
}

// ---- time, undo, preferences, the server, files

void HostShellImpl::CmdIdle(Args& a) {
    const auto& w = a.Expect(1, 1, "idle SECONDS");
    const double seconds = ParseNumber(w[0], "seconds");
    if (seconds < 0 || seconds > 4e6) {
        Fail("idle takes 0 to 4000000 seconds");
    }
    HostClock::Advance(static_cast<uint32_t>(std::llround(seconds * 1000.0)));
}

void HostShellImpl::CmdUndo(Args& a) {
    a.Expect(0, 0, "undo");
    IDataBase* db = RequireDocument();
    if (!db->CanUndo()) {
        Fail("nothing to undo");
    }
    const std::string name = Text(db->GetUndoName());
    db->Undo();
    out << "undone: " << name << "\n";
}

void HostShellImpl::CmdRedo(Args& a) {
    a.Expect(0, 0, "redo");
    IDataBase* db = RequireDocument();
    if (!db->CanRedo()) {
        Fail("nothing to redo");
    }
    const std::string name = Text(db->GetRedoName());
    db->Redo();
    out << "redone: " << name << "\n";
}

void HostShellImpl::CmdPrefs(Args& a) {
    const bool json = a.Flag("--json");
    a.Expect(0, 0, "prefs [--json]");
    const ordered_json j = PrefsJson();
    if (json) {
        out << DumpJson(j) << "\n";
        return;
    }
    for (const auto& [key, value] : j.items()) {
        out << "  " << key << ": "
            << (value.is_string() ? value.get<std::string>() : DumpJson(value, -1)) << "\n";
    }
}

void HostShellImpl::CmdJobs(Args& a) {
    const bool json = a.Flag("--json");
    a.Expect(0, 0, "jobs [--json]");
    const OD_JobJournal journal = OD_JobJournal::ForIdentityFolder();
    int unreadable = 0;
    const std::vector<OD_JobEntry> entries = journal.List(&unreadable);
    const int64_t now = platform::CurrentTime();
    ordered_json list = ordered_json::array();
    for (const OD_JobEntry& e : entries) {
        const int64_t age = std::max<int64_t>(0, now - e.sent) / (24 * 3600);
        ordered_json j;
        j["job"] = Text(PMString(e.job.c_str()));
        j["document"] = e.document;
        j["item"] = e.item;
        j["source"] = e.source;
        j["state"] = e.state == OD_JobEntry::State::answered ? "answered" : "sent";
        j["replyReleased"] = e.released;
        j["resultSaved"] = e.saved;
        j["daysLeft"] = std::max<int64_t>(0, kODJobKeepDays - age);
        list.push_back(j);
    }
    if (json) {
        out << DumpJson(ordered_json{
                   {"folder", journal.Folder()}, {"jobs", list}, {"unreadable", unreadable}})
            << "\n";
        return;
    }
    out << "record of jobs out: " << (journal.Usable() ? journal.Folder() : "(no identity folder)")
        << ", " << entries.size() << (entries.size() == 1 ? " job" : " jobs") << "\n";
    for (const ordered_json& j : list) {
        out << "  " << j["job"].get<std::string>() << "  " << j["state"].get<std::string>()
            << (j["resultSaved"].get<bool>() ? ", result saved" : "")
            << (j["replyReleased"].get<bool>() ? ", reply released" : "") << ", "
            << j["daysLeft"].get<int64_t>() << " days left  " << j["document"].get<std::string>()
            << "\n";
    }
    if (unreadable > 0) {
        out << "  (" << unreadable << " entries do not read)\n";
    }
}

void HostShellImpl::CmdServer(Args& a) {
    const auto& w = a.Expect(2, 2, "server init|once ROOT");
    const std::string what = Lower(w[0]);
    const std::string root = Absolute(w[1]);
    if (what == "init") {
        std::string why;
        if (!InitServerTree(root, why)) {
            Fail("cannot make the server tree: " + why);
        }
        out << "server tree " << root << " (server path " << ServerFolders(root).app << ")\n";
        return;
    }
    if (what == "once") {
        // libvips starts with the first pass and stops with the session.
        if (!vipsStarted) {
            if (VIPS_INIT("ordodesk") != 0) {
                Fail("the image library of the reference server did not start");
            }
            vipsStarted = true;
        }
        std::ostringstream log;
        RefServer server(root, log);
        std::string why;
        if (!server.Check(why)) {
            Fail("not a server tree: " + why);
        }
        const int handled = server.RunOnce();
        std::istringstream lines(log.str());
        std::string l;
        while (std::getline(lines, l)) {
            out << "  server: " << l << "\n";
        }
        out << "server pass: " << handled << (handled == 1 ? " job\n" : " jobs\n");
        return;
    }
    Fail("usage: server init|once ROOT");
}

void HostShellImpl::CmdSamples(Args& a) {
    const auto& w = a.Expect(1, 1, "samples FOLDER");
    const std::string folder = Absolute(w[0]);
    for (const SampleFile& f : WriteSampleFiles(folder)) {
        out << "  " << f.name << ": " << f.description << "\n";
    }
}

void HostShellImpl::CmdMkdir(Args& a) {
    const std::string folder = Absolute(a.Expect(1, 1, "mkdir FOLDER")[0]);
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        Fail("cannot make " + folder + ": " + ec.message());
    }
}
