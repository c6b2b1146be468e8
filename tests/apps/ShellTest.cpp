// The host shell: `ordodesk run` on scripts (tests/apps/scripts) in a fresh
// workspace each, with the plug-in loaded and the reference QOR server run
// in-process by the script; and `ordodesk demo`.
#include "OrdodeskRun.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>

using nlohmann::json;

namespace {

// Runs a script with ${W} naming a fresh workspace; the system folder and the
// session file live in it too, so no user's own preferences are touched.
ProgramRun RunScriptFile(const std::string& script, const TempDir& w) {
    return Ordodesk({"run", "--set", "W=" + w.Path(), script, "--system-folder", w / "system",
                     "--session", w / "session.odsession"},
                    w);
}

ProgramRun RunText(const std::string& text, const TempDir& w) {
    WriteFile(w / "script.ods", text);
    return RunScriptFile(w / "script.ods", w);
}

// The text between two marker lines that the script echoes.
std::string Between(const std::string& out, const std::string& begin, const std::string& end) {
    const std::size_t a = out.find(begin + "\n");
    const std::size_t b = out.find(end + "\n", a); // none when a is none
    return b == std::string::npos ? "" : out.substr(a + begin.size() + 1, b - a - begin.size() - 1);
}

// The run failed, saying so, before a line echoing NOT-REACHED.
void ExpectStopped(const ProgramRun& run, const std::string& says) {
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find(says), std::string::npos) << run.err;
    EXPECT_EQ(run.out.find("NOT-REACHED"), std::string::npos) << run.out;
}

#define EXPECT_RAN(run)                                                                            \
    EXPECT_EQ((run).exitCode, 0) << "stdout:\n" << (run).out << "\nstderr:\n" << (run).err

} // namespace

TEST(ShellHost, DocumentSurvivesSaveAndOpen) {
    TempDir w;
    const ProgramRun run = RunScriptFile(SHELL_SCRIPTS_DIR "/document-round-trip.ods", w);
    EXPECT_RAN(run);
    const json before = json::parse(Between(run.out, "---items-before---", "---end---"));
    EXPECT_EQ(before, json::parse(Between(run.out, "---items-after---", "---end---")));
    ASSERT_EQ(before.size(), 9u); // a group, four frames, four images

    // The transformations the place options asked for.
    auto item = [&](const std::string& link) {
        const auto found = std::find_if(before.begin(), before.end(), [&](const json& e) {
            return e["link"].get<std::string>().find(link) != std::string::npos;
        });
        return found == before.end() ? json() : *found;
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
    const std::pair<const char*, const char*> cases[] = {
        {"frobnicate", "unknown command \"frobnicate\""},
        {"place ${W}/missing.tif 0 0 10 10", "cannot place"},
        {"place ${W}/img/photo-rgb.tif 0 ten 10 10", "Y is not a number"},
        {"place ${W}/img/photo-rgb.tif 0 0 10", "usage: place"},
        {"select 9999", "no page item has the UID 9999"},
        {"delete 9999", "no page item has the UID 9999"},
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
        {"render ${W}/p.tif", "the output must end in .png or .pdf"},
        {"render ${W}/p.png --page 1 --pages 1-", "cannot be used together"},
        {"render ${W}/p.pdf --pages 1-2", "the document has no page 2"},
        {"render ${W}/img/photo-rgb.tif.png --dpi 0", "--dpi must be between"},
    };
    const std::string before = "samples ${W}/img\n# a comment\n\nnew\n";
    for (const auto& [line, says] : cases) {
        SCOPED_TRACE(line);
        TempDir w;
        const ProgramRun run = RunText(before + line + "\necho NOT-REACHED\n", w);
        ExpectStopped(run, says);
        EXPECT_NE(run.err.find("script.ods:5: error:"), std::string::npos) << run.err;
    }
}

TEST(ShellHost, MissingScriptAndBadVariableAreRefused) {
    TempDir w;
    for (const std::string& script : {w / "nothing-here.ods", w.Path()}) { // missing, a folder
        SCOPED_TRACE(script);
        ExpectStopped(RunScriptFile(script, w), "cannot read the script");
    }
    WriteFile(w / "s.ods", "echo hi\n");
    ExpectStopped(Ordodesk({"run", w / "s.ods", "--set", "novalue", "--system-folder", w / "sys",
                            "--session", w / "session"},
                           w),
                  "--set takes NAME=VALUE");
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
        const ProgramRun run = RunText(text, w);
        ExpectStopped(run, says);
        EXPECT_NE(run.out.find("closed with Cancel"), std::string::npos);
    }
}

TEST(ShellHost, PreferencesLastInTheSessionFile) {
    TempDir w;
    EXPECT_RAN(RunText("action preferences\ndialog set 0x71942 17\ndialog ok\n", w));
    EXPECT_RAN(RunText("expect prefs frequency 17\n", w));
}

// Scripts whose own expectations are the test, with lines they must print.
TEST(ShellHost, ScriptsRunToTheirEnd) {
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"select-undo-redo.ods", {"undone: "}},
        // The dialog listing names the widgets with their states.
        {"prefs-dialog.ods", {"closed with Cancel", "closed with OK", "0x71942 edit box = \"12\""}},
        // The processed-image warning was answered from the queue, then by default.
        {"panel-widgets.ods", {"[OK/Cancel] -> Cancel", "[OK/Cancel] -> OK"}},
        {"not-answering.ods", {}},    // a stopped server is not answering and its orders wait
        {"refused-send.ods", {}},     // orders that cannot go are named in one alert
        {"replace-original.ods", {}}, // a replaced original has nothing to go back to
    };
    for (const auto& [script, prints] : cases) {
        SCOPED_TRACE(script);
        TempDir w;
        const ProgramRun run = RunScriptFile(std::string(SHELL_SCRIPTS_DIR) + "/" + script, w);
        EXPECT_RAN(run);
        for (const std::string& line : prints) {
            EXPECT_NE(run.out.find(line), std::string::npos) << line;
        }
    }
}

TEST(ShellInteractive, ReadsStandardInputWithAPlainPrompt) {
    TempDir w;
    WriteFile(w / "input.txt", "help\nnew\nfrobnicate\nplace missing.tif 1 1 10 10\n"
                               "expect items frame 0\nexpect undo none\nitems\nquit\n"
                               "echo NOT-REACHED\n");
    const ProgramRun run =
        RunCommand(ShellQuoted(ORDODESK_EXE) + " shell --system-folder " +
                   ShellQuoted(w / "system") + " --session " + ShellQuoted(w / "session") + " <" +
                   ShellQuoted(w / "input.txt") + " 2>" + ShellQuoted(w / "err.txt"));
    // An unknown command is an error the shell goes on after; quit ends it.
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.out.find("ordodesk> "), std::string::npos);
    EXPECT_NE(run.out.find("new document Untitled-1"), std::string::npos);
    EXPECT_EQ(run.out.find("NOT-REACHED"), std::string::npos);
    // Errors name their line; a failed place leaves no frame and no undo step.
    const std::string err = ReadFile(w / "err.txt");
    EXPECT_NE(err.find("stdin:3: error: unknown command \"frobnicate\""), std::string::npos) << err;
    EXPECT_NE(err.find("stdin:4: error: cannot place"), std::string::npos) << err;
    EXPECT_EQ(err.find("expected"), std::string::npos) << err;
    EXPECT_TRUE(PathExists(w / "session"));
}

// Live, the host's clock follows the real one: the result is picked up while
// the shell waits for its next line, with no idle command (within the pickup
// period of 5 s, and the time the commands before took).
TEST(ShellInteractive, LiveShellPicksUpResultsWhileItWaits) {
    TempDir w;
    const std::string road = "samples " + (w / "img") + "\nserver init " + (w / "srv") +
                             "\nmkdir " + (w / "out") + "\nanswer " + (w / "srv/qorserver") +
                             "\nanswer " + (w / "out") +
                             "\naction preferences\ndialog click 0x71950\ndialog click 0x71939\n"
                             "dialog ok\nnew\npanel open\nplace " +
                             (w / "img/photo-rgb.tif") +
                             " 36 36 220 160\nselect --all\naction add-selected\ndialog ok\n"
                             "action send-all\nexpect status 1 0x4\nserver once " +
                             (w / "srv") + "\n";
    WriteFile(w / "road.txt", road);
    const ProgramRun run = RunCommand(
        "(cat " + ShellQuoted(w / "road.txt") + "; sleep 8; echo 'expect status 1 0x8') | " +
        ShellQuoted(ORDODESK_EXE) + " shell --live --system-folder " + ShellQuoted(w / "system") +
        " --session " + ShellQuoted(w / "session") + " 2>" + ShellQuoted(w / "err.txt"));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(ReadFile(w / "err.txt"), "");
    EXPECT_TRUE(PathExists(w / "out/photo-rgb.tif"));
}

TEST(ShellDemo, RunsTheWholeRoadAndLeavesNothing) {
    TempDir w;
    const std::string keep = w / "demo";
    const ProgramRun run = Ordodesk({"demo", "--keep", keep}, w);
    EXPECT_RAN(run);
    EXPECT_NE(run.out.find("demo finished"), std::string::npos);
    EXPECT_TRUE(PathExists(keep + "/demo-document.odoc"));
    EXPECT_TRUE(PathExists(keep + "/processed/photo-rgb.tif"));
    EXPECT_NE(run.out.find("[D]"), std::string::npos);

    // Without --keep the workspace goes.
    const ProgramRun plain = Ordodesk({"demo", "--locale", "fr"}, w);
    EXPECT_RAN(plain);
    EXPECT_NE(plain.out.find("workspace is removed"), std::string::npos);

    // A --keep folder with things in it is refused.
    ExpectStopped(Ordodesk({"demo", "--keep", keep}, w), "not empty");
}
