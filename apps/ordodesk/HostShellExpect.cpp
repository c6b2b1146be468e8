// expect, the checks of the host shell's scripts: `expect [not] WHAT ...`
// compares what the host shows (the panel's rows and their orders, menu
// entries and buttons, the log and the refresh state, alerts, the open dialog
// and its widgets, files, page items, preferences, the selection, the undo
// step) with what the script says, and fails when the check does not hold.
#include "HostShellImpl.h"

#include "DocumentUtils.h"
#include "IDocument.h"
#include "ILayoutSelection.h"
#include "ImportUtils.h"
#include "OrdoPanelState.h"

#include <fstream>
#include <sstream>

using namespace hostshell;

void HostShellImpl::CmdExpect(Args& a) {
    std::vector<std::string> w = a.Rest();
    bool negate = false;
    if (!w.empty() && w[0] == "not") {
        negate = true;
        w.erase(w.begin());
    }
    if (w.empty()) {
        Fail("usage: expect [not] WHAT ... (help lists them)");
    }
    const std::string what = Lower(w[0]);
    auto need = [&](std::size_t n, const char* usage) {
        if (w.size() != n) {
            Fail(std::string("usage: expect ") + usage);
        }
    };
    auto contains = [](const std::string& hay, const std::string& needle) {
        return hay.find(needle) != std::string::npos;
    };
    bool holds = false;
    std::string actual;
    if (what == "panel-rows") {
        need(2, "panel-rows N");
        const auto n = static_cast<std::size_t>(ParseInteger(w[1], "row count", 0, 1000000));
        const std::size_t rows = PanelRows().size();
        holds = rows == n;
        actual = std::to_string(rows) + " rows";
    } else if (what == "status" || what == "icon") {
        need(3, "status|icon ROW VALUE");
        const std::vector<RowView> rows = PanelRows();
        const RowView& r = Row(rows, w[1]);
        const long long want = ParseInteger(w[2], "value", -1, 0xFFFF);
        const long long have = what == "status" ? r.orderStatus : r.icon;
        holds = have == want;
        actual = have < 0 ? what + " unknown (no order read)"
                          : what + " " +
                                (what == "status" ? Hex(static_cast<uint32_t>(have))
                                                  : std::to_string(have));
    } else if (what == "row") {
        need(3, "row ROW TEXT");
        const std::vector<RowView> rows = PanelRows();
        const RowView& r = Row(rows, w[1]);
        actual = r.name + " | " + r.options + " | " + r.process + " | " + r.type + " | " + r.page;
        holds = contains(actual, w[2]);
    } else if (what == "link") {
        need(3, "link ROW TEXT");
        const std::vector<RowView> rows = PanelRows();
        const RowView& r = Row(rows, w[1]);
        PMString shortName, longName;
        if (r.item.GetDataBase() != nullptr) {
            LinkUtils::GetLinkNames(r.item, shortName, longName);
        }
        actual = longName.GetUTF8String();
        holds = contains(actual, w[2]);
    } else if (what == "menu") {
        need(3, "menu ACTION enabled|disabled");
        const ActionID id = ActionByName(w[1]);
        const std::string want = Lower(w[2]);
        if (want != "enabled" && want != "disabled") {
            Fail("usage: expect menu ACTION enabled|disabled");
        }
        bool found = false;
        for (const auto& e : MenuJson(kPanelMenuPath)) {
            if (e["action"] == Hex(id.Get())) {
                found = true;
                actual = e["enabled"].get<bool>() ? "enabled" : "disabled";
            }
        }
        if (!found) {
            Fail("the panel menu has no entry " + w[1]);
        }
        holds = actual == want;
    } else if (what == "button") {
        need(3, "button trash|go enabled|disabled");
        const std::string b = Lower(w[1]);
        if (b != "trash" && b != "go") {
            Fail("usage: expect button trash|go enabled|disabled");
        }
        const ordered_json j = PanelJson();
        actual = j[b]["enabled"].get<bool>() ? "enabled" : "disabled";
        holds = actual == Lower(w[2]);
    } else if (what == "log") {
        need(2, "log TEXT");
        actual = LogText();
        holds = contains(actual, w[1]);
    } else if (what == "log-lines") {
        // How many lines of the log hold the text: a thing said once is said once.
        need(3, "log-lines TEXT N");
        const auto n = static_cast<std::size_t>(ParseInteger(w[2], "count", 0, 1000000));
        std::size_t found = 0;
        std::istringstream lines(LogText());
        for (std::string line; std::getline(lines, line);) {
            found += contains(line, w[1]) ? 1 : 0;
        }
        holds = found == n;
        actual = std::to_string(found) + " lines";
    } else if (what == "alert") {
        need(2, "alert TEXT");
        for (const ShownAlert& s : alerts) {
            actual += s.request.message.GetUTF8String() + "\n";
            holds = holds || contains(s.request.message.GetUTF8String(), w[1]) ||
                    contains(s.request.title.GetUTF8String(), w[1]);
        }
    } else if (what == "alerts") {
        need(2, "alerts N");
        const auto n = static_cast<std::size_t>(ParseInteger(w[1], "count", 0, 1000000));
        holds = alerts.size() == n;
        actual = std::to_string(alerts.size()) + " alerts";
    } else if (what == "dialog") {
        need(2, "dialog ID|TITLE|none");
        if (dialogs.empty()) {
            actual = "none";
            holds = Lower(w[1]) == "none";
        } else {
            IControlView* d = dialogs.back().view;
            const std::string title = Text(WidgetUtils::GetText(d, d->GetWidgetID()));
            actual = Hex(d->GetWidgetID().Get()) + " \"" + title + "\"";
            holds = std::isdigit(static_cast<unsigned char>(w[1][0]))
                        ? d->GetWidgetID().Get() == ParseInteger(w[1], "dialog ID", 1, 0xFFFFFFFFll)
                        : title == w[1];
        }
    } else if (what == "widget") {
        if (w.size() < 3) {
            Fail("usage: expect widget WIDGET value TEXT|enabled|disabled|visible|hidden");
        }
        const ordered_json e = WidgetJson(FindWidget(CurrentDialog(), w[1], true));
        const std::string prop = Lower(w[2]);
        if (prop == "value") {
            need(4, "widget WIDGET value TEXT");
            actual = e["value"].get<std::string>();
            holds = actual == w[3];
        } else if (prop == "entries") {
            need(4, "widget WIDGET entries N");
            actual = std::to_string(e["entries"].size()) + " entries";
            holds = e["entries"].size() ==
                    static_cast<std::size_t>(ParseInteger(w[3], "count", 0, 1000000));
        } else {
            need(3, "widget WIDGET enabled|disabled|visible|hidden");
            actual = std::string(e["enabled"].get<bool>() ? "enabled" : "disabled") + ", " +
                     (e["visible"].get<bool>() ? "visible" : "hidden");
            if (prop == "enabled" || prop == "disabled") {
                holds = e["enabled"].get<bool>() == (prop == "enabled");
            } else if (prop == "visible" || prop == "hidden") {
                holds = e["visible"].get<bool>() == (prop == "visible");
            } else {
                Fail("expect widget: unknown property " + w[2]);
            }
        }
    } else if (what == "file") {
        need(2, "file PATH");
        holds = std::filesystem::exists(Absolute(w[1]));
        actual = holds ? "exists" : "missing";
    } else if (what == "file-contains") {
        need(3, "file-contains PATH TEXT");
        std::ifstream in(Absolute(w[1]), std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        actual = in ? "the file's text" : "no such file";
        holds = in && contains(text.str(), w[2]);
    } else if (what == "files") {
        need(3, "files FOLDER N");
        std::size_t count = 0;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(Absolute(w[1]), ec)) {
            if (entry.is_regular_file()) {
                ++count;
            }
        }
        holds = count == static_cast<std::size_t>(ParseInteger(w[2], "count", 0, 1000000));
        actual = std::to_string(count) + " files";
    } else if (what == "refresh") {
        need(2, "refresh up|down");
        actual = IsOrdoRefreshNeeded() ? "up" : "down";
        holds = actual == Lower(w[1]);
    } else if (what == "items") {
        need(3, "items KIND N");
        std::size_t count = 0;
        for (const auto& e : ItemsJson()) {
            count += e["kind"] == Lower(w[1]) ? 1 : 0;
        }
        holds = count == static_cast<std::size_t>(ParseInteger(w[2], "count", 0, 1000000));
        actual = std::to_string(count) + " " + w[1] + " items";
    } else if (what == "prefs") {
        need(3, "prefs FIELD TEXT");
        const ordered_json j = PrefsJson();
        if (!j.contains(w[1])) {
            Fail("no preferences field " + w[1]);
        }
        actual = j[w[1]].is_string() ? j[w[1]].get<std::string>() : DumpJson(j[w[1]], -1);
        holds = contains(actual, w[2]);
    } else if (what == "selected") {
        IDataBase* db = RequireDocument();
        InterfacePtr<IDocument> doc = DocumentUtils::QueryDocument(db);
        InterfacePtr<ILayoutSelection> selection(doc.get(), IID_ILAYOUTSELECTION);
        std::string want;
        if (w.size() == 3 && w[1] == "row") {
            // The page item that a panel row shows.
            const std::vector<RowView> rows = PanelRows();
            want = std::to_string(Row(rows, w[2]).item.GetUID().Get());
        } else {
            for (std::size_t i = 1; i < w.size(); ++i) {
                want += (i > 1 ? " " : "") + w[i];
            }
        }
        for (UID u : selection->GetSelectedItems()) {
            actual += (actual.empty() ? "" : " ") + std::to_string(u.Get());
        }
        holds = actual == want;
    } else if (what == "undo") {
        need(2, "undo NAME|none");
        IDataBase* db = RequireDocument();
        actual = db->CanUndo() ? Text(db->GetUndoName()) : "none";
        holds = actual == w[1];
    } else {
        Fail("unknown expectation \"" + w[0] + "\" (help lists them)");
    }
    if (holds == negate) {
        std::string said;
        for (const std::string& s : w) {
            said += " " + s;
        }
        Fail("expected" + std::string(negate ? " not" : "") + said + "; found " +
             (actual.empty() ? "nothing" : actual));
    }
}
