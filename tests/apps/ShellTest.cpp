// The host shell: `ordodesk run` on scripts (tests/apps/scripts) in a fresh
// workspace each, with the plug-in loaded and the reference QOR server run
// in-process by the script; and `ordodesk demo`.
#include "OrdodeskRun.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using nlohmann::json;

namespace {

using ShellRun = ProgramRun;

// Runs a script with ${W} naming a fresh workspace; the system folder and the
// session file live in it too, so no user's own preferences are touched.
ShellRun RunScriptFile(const std::string& script, const TempDir& w) {
    return Ordodesk({"run", "--set", "W=" + w.Path(), script, "--system-folder", w / "system",
                     "--session", w / "session.odsession"},
                    w);
}

ShellRun RunScript(const std::string& name, const TempDir& w) {
    return RunScriptFile(std::string(SHELL_SCRIPTS_DIR) + "/" + name, w);
}

ShellRun RunText(const std::string& text, const TempDir& w) {
    const std::string path = w / "script.ods";
    WriteFile(path, text);
    return RunScriptFile(path, w);
}

// The text between two marker lines that the script echoes.
std::string Between(const std::string& out, const std::string& begin, const std::string& end) {
    const std::size_t a = out.find(begin + "\n");
    const std::size_t b = out.find(end + "\n", a == std::string::npos ? 0 : a);
    if (a == std::string::npos || b == std::string::npos) {
        return "";
    }
    return out.substr(a + begin.size() + 1, b - a - begin.size() - 1);
}

#define EXPECT_RAN(run)                                                                            \
    EXPECT_EQ((run).exitCode, 0) << "stdout:\n" << (run).out << "\nstderr:\n" << (run).err

} // namespace

// ---- the host's own behaviour

TEST(ShellHost, DocumentSurvivesSaveAndOpen) {
    TempDir w;
    const ShellRun run = RunScript("document-round-trip.ods", w);
    EXPECT_RAN(run);
    const json before = json::parse(Between(run.out, "---items-before---", "---end---"));
    const std::string afterText = Between(run.out.substr(run.out.find("---items-after---")),
                                          "---items-after---", "---end---");
    const json after = json::parse(afterText);
    EXPECT_EQ(before, after);
    ASSERT_EQ(before.size(), 9u); // a group, four frames, four images

    // The transformations the place options asked for.
    auto item = [&](const std::string& link) {
        for (const auto& e : before) {
            if (e["link"].get<std::string>().find(link) != std::string::npos) {
                return e;
            }
        }
        return json();
    };
    EXPECT_EQ(item("photo-rgb.tif")["transform"]["xScale"], 0.5);
    EXPECT_EQ(item("press-cmyk.tif")["transform"]["rotation"], 30);
    EXPECT_EQ(item("press-cmyk.tif")["transform"]["xScale"], -1);
    EXPECT_EQ(item("web-rgb.jpg")["transform"]["skew"], 10);
    EXPECT_EQ(item("web-rgb.jpg")["page"], 2);
    EXPECT_EQ(item("scan-gray.tif")["transform"]["yScale"], -1);
    EXPECT_EQ(before[0]["kind"], "group");
}

TEST(ShellHost, BadLinesStopTheScriptAndNameTheirLine) {
    struct Case {
        const char* line;
        const char* says;
    };
    const Case cases[] = {
        {"frobnicate", "unknown command \"frobnicate\""},
        {"place ${W}/missing.tif 0 0 10 10", "cannot place"},
        {"place ${W}/img/photo-rgb.tif 0 ten 10 10", "Y is not a number"},
        {"place ${W}/img/photo-rgb.tif 0 0 10", "usage: place"},
        {"select 9999", "no page item has the UID 9999"},
        {"echo \"open quote", "quote (\") is not closed"},
        {"echo ${NOPE}", "unknown variable ${NOPE}"},
        {"open ${W}/no-such.odoc", "cannot open"},
        {"dialog ok", "no dialog is open"},
        {"panel select 1", "the panel is closed"},
        {"action frobnicate", "unknown action"},
        {"shortcut Ctrl+Q", "no action has the shortcut"},
        {"shortcut Hyper+", "not a shortcut"},
        {"idle -3", "idle takes"},
        {"undo", "nothing to undo"},
        {"expect panel-rows 3", "expected panel-rows 3; found 0 rows"},
        {"expect bogus", "unknown expectation"},
        {"items --bogus", "unknown option --bogus"},
        {"save", "the document was never saved: give a path"},
        {"save ${W}/no-folder/doc.odoc", "cannot save"},
        {"place ${W}/img/photo-rgb.tif 0 0 0 10", "positive width and height"},
        {"place ${W}/img/photo-rgb.tif 0 0 10 10 --page 9", "the document has no page 9"},
        {"place ${W}/img/photo-rgb.tif 0 0 10 10 --scale 0", "the scale must be positive"},
        {"place ${W}/img/photo-rgb.tif 0 0 10 10 --skew 89", "between -89 and 89 degrees"},
        {"place ${W}/img/photo-rgb.tif 0 0 10 10 --flip x", "--flip takes h"},
        {"redo", "nothing to redo"},
        {"action 99", "is not defined"},
        {"menu Nowhere", "has no entries"},
        {"alert-answer 7", "button"},
        {"server ${W}/img init", "usage: server init|once ROOT"},
        {"server once ${W}/img", "not a server tree"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        TempDir w;
        const ShellRun run = RunText("samples ${W}/img\n# a comment\n\nnew\n" +
                                         std::string(c.line) + "\necho NOT-REACHED\n",
                                     w);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_NE(run.err.find("script.ods:5: error:"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_EQ(run.out.find("NOT-REACHED"), std::string::npos);
    }
}

TEST(ShellHost, MissingScriptAndBadVariableAreRefused) {
    TempDir w;
    ShellRun run;
    for (const std::string& script : {w / "nothing-here.ods", w.Path()}) { // missing, a folder
        run = RunScriptFile(script, w);
        EXPECT_EQ(run.exitCode, 1) << script;
        EXPECT_NE(run.err.find("cannot read the script"), std::string::npos) << script;
    }
    WriteFile(w / "s.ods", "echo hi\n");
    run = Ordodesk({"run", w / "s.ods", "--set", "novalue", "--system-folder", w / "sys",
                    "--session", w / "session"},
                   w);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("--set takes NAME=VALUE"), std::string::npos);
}

// A script that ends inside a dialog, or a failed command inside one,
// cancels the dialog and fails.
TEST(ShellHost, AScriptStoppedInsideADialogCancelsIt) {
    const std::pair<const char*, const char*> cases[] = {
        {"action preferences\ndialog\n", "ended while the dialog"},
        {"action preferences\ndialog set 0x71942 9\ndialog click 0x7FFFF\ndialog ok\n"
         "echo NOT-REACHED\n",
         "script.ods:3: error: no widget 0x7FFFF"},
    };
    for (const auto& [text, says] : cases) {
        TempDir w;
        const ShellRun run = RunText(text, w);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_NE(run.err.find(says), std::string::npos) << run.err;
        EXPECT_NE(run.out.find("closed with Cancel"), std::string::npos);
        EXPECT_EQ(run.out.find("NOT-REACHED"), std::string::npos);
    }
}

TEST(ShellHost, PreferencesLastInTheSessionFile) {
    TempDir w;
    EXPECT_RAN(RunText("action preferences\ndialog set 0x71942 17\ndialog ok\n", w));
    const ShellRun second = RunText("expect prefs frequency 17\n", w);
    EXPECT_RAN(second);
}

// ---- scripts whose own expectations are the test, with lines they must print

struct ScriptCase {
    const char* test;
    const char* script;
    std::vector<std::string> prints;
};

class ShellScript : public ::testing::TestWithParam<ScriptCase> {};

TEST_P(ShellScript, RunsToItsEnd) {
    TempDir w;
    const ShellRun run = RunScript(GetParam().script, w);
    EXPECT_RAN(run);
    for (const std::string& line : GetParam().prints) {
        EXPECT_NE(run.out.find(line), std::string::npos) << line;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Shell, ShellScript,
    ::testing::Values(
        ScriptCase{"SelectionUndoAndRedo", "select-undo-redo.ods", {"undone: "}},
        // The dialog listing names the widgets with their states.
        ScriptCase{"DialogCommandsDriveThePreferencesDialog",
                   "prefs-dialog.ods",
                   {"closed with Cancel", "closed with OK", "0x71942 edit box = \"12\""}},
        // The processed-image warning was answered from the queue, then by default.
        ScriptCase{"PanelDropDoubleClickTrashAndLog",
                   "panel-widgets.ods",
                   {"[OK/Cancel] -> Cancel", "[OK/Cancel] -> OK"}},
        ScriptCase{"AStoppedServerIsNotAnsweringAndItsOrdersWait", "not-answering.ods", {}},
        ScriptCase{"OrdersThatCannotGoAreNamedInOneAlert", "refused-send.ods", {}},
        ScriptCase{"AReplacedOriginalHasNothingToGoBackTo", "replace-original.ods", {}}),
    [](const ::testing::TestParamInfo<ScriptCase>& info) { return std::string(info.param.test); });

TEST(ShellInteractive, ReadsStandardInputWithAPlainPrompt) {
    TempDir w;
    WriteFile(w / "input.txt", "help\nnew\nfrobnicate\nplace missing.tif 1 1 10 10\n"
                               "expect items frame 0\nexpect undo none\nitems\nquit\n"
                               "echo NOT-REACHED\n");
    const std::string command = std::string("'") + ORDODESK_EXE + "' shell --system-folder '" +
                                (w / "system") + "' --session '" + (w / "session") + "' <'" +
                                (w / "input.txt") + "' 2>'" + (w / "err.txt") + "'";
    const ProgramRun run = RunCommand(command);
    const std::string& out = run.out;
    // An unknown command is an error the shell goes on after; quit ends it.
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(out.find("ordodesk> "), std::string::npos);
    EXPECT_NE(out.find("new document Untitled-1"), std::string::npos);
    EXPECT_EQ(out.find("NOT-REACHED"), std::string::npos);
    // Errors name their line; a failed place leaves no frame and no undo step.
    const std::string err = ReadFile(w / "err.txt");
    EXPECT_NE(err.find("stdin:3: error: unknown command \"frobnicate\""), std::string::npos) << err;
    EXPECT_NE(err.find("stdin:4: error: cannot place"), std::string::npos) << err;
    EXPECT_EQ(err.find("expected"), std::string::npos) << err;
    EXPECT_TRUE(PathExists(w / "session"));
}

// ---- the demo

TEST(ShellDemo, RunsTheWholeRoadAndLeavesNothing) {
    TempDir w;
    const std::string keep = w / "demo";
    const ShellRun run = Ordodesk({"demo", "--keep", keep}, w);
    EXPECT_RAN(run);
    EXPECT_NE(run.out.find("demo finished"), std::string::npos);
    EXPECT_TRUE(PathExists(keep + "/demo-document.odoc"));
    EXPECT_TRUE(PathExists(keep + "/processed/photo-rgb.tif"));
    EXPECT_NE(run.out.find("[D]"), std::string::npos);

    // Without --keep the workspace goes.
    const ShellRun plain = Ordodesk({"demo", "--locale", "fr"}, w);
    EXPECT_RAN(plain);
    EXPECT_NE(plain.out.find("workspace is removed"), std::string::npos);

    // A --keep folder with things in it is refused.
    const ShellRun refused = Ordodesk({"demo", "--keep", keep}, w);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("not empty"), std::string::npos);
}
