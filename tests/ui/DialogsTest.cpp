// The image options and preferences dialogs, worked and answered through scripted sinks.

#include "OrdoImgOptDialog.h"
#include "OrdoPrefsDialog.h"

#include "../orders/OrdoSessionKit.h"

#include "CAlert.h"
#include "Choosers.h"
#include "HostPlatform.h"
#include "HostStrings.h"
#include "OD_ServerLink.h"
#include "PreferenceFiles.h"
#include "QOR_Configuration.h"
#include "QOR_EndPoint.h"
#include "StringTables.h"
#include "TempDir.h"
#include "Widgets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

using Strings = std::vector<std::string>;

// A file-options section (version 260) with TIFF (0) or JPEG (4) results for every class.
std::string FileOptions(int format) {
    const std::string n = std::to_string(format) + "\n";
    const std::string each = format == 4 ? "format\n0\n0\n80\n0\n0\n" : "format\n0\n0\n1\n0\n0\n";
    return "????\n1\n260\nformats\n" + n + n + n + "0\n" + each + each + each;
}

// A colour-correction section (version 260): the process option for gray, RGB and CMYK.
std::string ColorCorrection(int gray, int rgb, int cmyk) {
    return "????\n1\n260\n0\n0\n0\n0\n" + std::to_string(gray) + " " + std::to_string(rgb) + " " +
           std::to_string(cmyk) + "\nTitle\nsRGB\nnone\nnone\n0\n0\n";
}

// A server with the given profiles and the named sets Bright, Neutral, Soft, Archive (no set).
std::string MakeServer(const std::string& root,
                       const std::vector<std::pair<std::string, std::string>>& profiles) {
    const std::string app = MakeServerTree(root);
    const fs::path data = fs::path(root) / "Data";
    std::string curparam =
        "????\n2\n258\nNamed parameter sets\n"
        "2\nBright\n/qor/params/rgb/Bright#1\nNeutral\n/qor/params/rgb/Neutral#2\n"
        "2\nSoft\n/qor/params/gray/Soft#1\nArchive\n/qor/params/gray/Archive\n"
        "1\n/qor/lut/default\n0\n0\n0\n0\nJob profiles\n" +
        std::to_string(profiles.size()) + "\n";
    for (const auto& [name, text] : profiles) {
        curparam += "/qor/profiles/" + name + "\n";
        if (!text.empty()) {
            WriteFile((data / "profiles" / name).string(), text);
        }
    }
    WriteFile((data / "curparam.txt").string(), curparam);
    WriteFile((data / "ccoopt.txt").string(), ColorCorrection(1, 2, 0));
    WriteFile((data / "fileopt.txt").string(), FileOptions(0));
    return app;
}

// Server A: "Web RGB" (JPEG), "Newsprint CMYK" (TIFF) and "Broken", whose file is missing.
std::string MakeServerA(const std::string& root) {
    return MakeServer(root, {{"Web RGB", FileOptions(4) + ColorCorrection(1, 3, 2)},
                             {"Newsprint CMYK", FileOptions(0) + ColorCorrection(5, 6, 0)},
                             {"Broken", ""}});
}
std::string MakeServerB(const std::string& root) { // one profile, "Press"
    return MakeServer(root, {{"Press", FileOptions(0) + ColorCorrection(4, 4, 0)}});
}

// The entries of a list widget, translated; none when it is no list.
void AddEntries(IControlView* widget, Strings& out) {
    InterfacePtr<IStringListControlData> list(widget, IID_ISTRINGLISTCONTROLDATA);
    for (int32_t n = 0; list && n < list->Length(); ++n) {
        out.push_back(list->GetString(n).Translated().GetUTF8String());
    }
}
Strings Entries(IControlView* dialog, WidgetID id) {
    Strings out;
    AddEntries(WidgetUtils::FindWidget(dialog, id), out);
    return out;
}

using Step = std::function<void(IControlView*)>;

OD_ProcData Order(uint32_t imageClass, int16_t code, const char* profile = "",
                  const char* prefix = "", uint16_t status = kODStatusProvisional) {
    OD_ProcData order;
    order.status = status;
    order.imageClass = imageClass;
    order.processCode = code;
    order.outputName = PMString("Photo");
    order.profile = PMString(profile);
    order.prefix = PMString(prefix);
    return order;
}

// status|code|name|profile|prefix|preference file
std::string Summary(const OD_ProcData& o) {
    return std::to_string(o.status) + "|" + std::to_string(o.processCode) + "|" +
           o.outputName.GetUTF8String() + "|" + o.profile.GetUTF8String() + "|" +
           o.prefix.GetUTF8String() + "|" + o.prefsFileName.GetUTF8String();
}

constexpr WidgetID kTypes = kOrdoImgOptTypeListWidgetID;
constexpr WidgetID kProcesses = kOrdoImgOptProcessListWidgetID;
constexpr WidgetID kPrefixes = kOrdoImgOptPrefixListWidgetID;
constexpr WidgetID kPrefsFiles = kOrdoImgOptPrefsListWidgetID;
constexpr WidgetID kDest = kOrdoImgOptDestNameWidgetID;
constexpr WidgetID kPrefProcesses = kOrdoPrefProcessListWidgetID;
constexpr WidgetID kRes = kOrdoPrefResolutionWidgetID;
constexpr WidgetID kFreq = kOrdoPrefFrequencyWidgetID;
constexpr WidgetID kMin = kOrdoPrefDownSmpMinWidgetID;

class DialogsTest : public ::testing::Test {
protected:
    static int32_t Chosen(IControlView* d, WidgetID id) {
        InterfacePtr<IDropDownListController> list(WidgetUtils::FindWidget(d, id),
                                                   IID_IDROPDOWNLISTCONTROLLER);
        return list ? list->GetSelected() : -2;
    }
    static bool IsShown(IControlView* d, WidgetID id) { return Find(d, id)->IsVisible(); }
    static bool IsEnabled(IControlView* d, WidgetID id) { return Find(d, id)->IsEnabled(); }
    static IControlView* Find(IControlView* d, WidgetID id) {
        IControlView* v = WidgetUtils::FindWidget(d, id);
        EXPECT_NE(v, nullptr) << id.Get();
        return v != nullptr ? v : d;
    }
    static std::string Shown(IControlView* d, WidgetID id) {
        return WidgetUtils::GetText(d, id).Translated().GetUTF8String();
    }
    // The chosen process and process type, and the destination ('-' before it when fixed).
    static std::string State(IControlView* d) {
        return std::to_string(Chosen(d, kProcesses)) + "|" + std::to_string(Chosen(d, kTypes)) +
               "|" + (IsEnabled(d, kDest) ? "" : "-") + Shown(d, kDest);
    }
    static int Usable(IControlView* d, std::initializer_list<WidgetID> ids) {
        return static_cast<int>(std::count_if(
            ids.begin(), ids.end(), [d](WidgetID id) { return WidgetDriver::IsUsable(d, id); }));
    }
    void SetUp() override {
        RegisterOrdoSession();
        RegisterImageOptionsDialog();
        RegisterPreferencesDialog();
        HostStrings::Reset();
        RegisterStringTables();
        HostPlatform::SetSystemFolder(system.Path());
        MakeDirs(identity);
        OD_PrefsData::ResetIdentityFolderForTesting();
        DialogMgr::SetDialogSink(&dialogs);
        Choosers::SetChooserSink(&choosers);
        CAlert::SetAlertSink(&alerts);
        session = GetExecutionContextSession();
    }

    void TearDown() override {
        ResetHostForTesting();
        HostStrings::SetLocale(0);
        HostPlatform::Reset();
        OD_PrefsData::ResetIdentityFolderForTesting();
    }

    void EditSessionPrefs(const std::function<void(OD_PrefsData&)>& edit) const {
        OD_PrefsData prefs = OrdoPrefs();
        edit(prefs);
        SetOrdoPrefs(prefs);
    }
    OD_QORData Link() const { return InterfacePtr<IOrdoQORData>(session, IID_IORDOQORDATA)->Get(); }
    // The session on a server, its configuration read as at start-up; the server path.
    std::string UseServer(const std::string& path) const {
        EditSessionPrefs([&](OD_PrefsData& p) { ASSERT_TRUE(p.SetServerPath(path.c_str())); });
        EXPECT_TRUE(OpenServerLink(session, true, false));
        return path;
    }
    std::string Servers() const {
        return std::string(OrdoPrefs().GetServerPath()) + "|" + LinkPath();
    }
    std::string LinkPath() const {
        char path[kServerPathCapacity] = "";
        Link().GetEndPoint()->GetServerPath(path, sizeof path);
        return path;
    }

    void Then(Step work, DialogAnswer answer) {
        dialogs.Then([work, answer](IControlView* dialog, WidgetID) {
            work(dialog);
            return answer;
        });
    }
    bool Edit(OD_ProcData& order, Step work, DialogAnswer answer = DialogAnswer::kOK) {
        Then(std::move(work), answer);
        return RunImageOptionsDialog(order, PMString("0x71900kOrdoStatusImgOK"),
                                     PMString("0x71900kOrdoImgOptDlgListRGBKey"));
    }
    // The Summary of a ready order of Order() with that code.
    static std::string Coded(int code) { return "1|" + std::to_string(code) + "|Photo|||"; }
    // An OK run on the order, and the order it leaves; or an order only looked at (Cancel).
    void ExpectEdited(const std::string& want, OD_ProcData order, Step work) {
        EXPECT_TRUE(Edit(order, std::move(work))) << want;
        EXPECT_EQ(Summary(order), want);
    }
    void Look(OD_ProcData order, Step work) {
        const OD_ProcData before = order;
        EXPECT_FALSE(Edit(order, std::move(work), DialogAnswer::kCancel));
        EXPECT_EQ(order, before);
    }
    bool EditPrefs(Step work, DialogAnswer answer = DialogAnswer::kOK) {
        Then(std::move(work), answer);
        return RunPreferencesDialog();
    }
    // A step typing each text into its field.
    static Step Typed(std::vector<std::pair<WidgetID, const char*>> texts) {
        return [texts](IControlView* d) {
            for (const auto& [field, text] : texts) {
                WidgetDriver::Type(d, field, text);
            }
        };
    }
    // Runs the preferences dialog; each run after the first checks the field it was sent back on.
    void RefusedRuns(const std::vector<std::pair<Step, WidgetID>>& runs) {
        for (const auto& [work, refused] : runs) {
            dialogs.Then([work, refused](IControlView* d, WidgetID was) {
                EXPECT_EQ(was, refused);
                work(d);
                return DialogAnswer::kOK;
            });
        }
        EXPECT_TRUE(RunPreferencesDialog());
    }

    Strings AlertTexts() const {
        Strings out;
        for (const AlertRequest& a : alerts.Alerts()) {
            out.push_back(a.message.GetUTF8String());
        }
        return out;
    }

    TempDir system;
    TempDir servers;
    const std::string identity = system / "velmaris/OD_ID";
    ScriptedDialogSink dialogs;
    RecordingChooserSink choosers;
    RecordingAlertSink alerts;
    ISession* session = nullptr;
};

Strings ProcessTexts(std::initializer_list<int> codes) {
    Strings out;
    for (int code : codes) {
        out.push_back(ProcessCodeTextKey(static_cast<int16_t>(code)).Translated().GetUTF8String());
    }
    return out;
}

TEST_F(DialogsTest, ImageOptionsOpenOnTheStoredCodeStoreTheChosenOneAndMakeTheOrderReady) {
    const Strings rgb = ProcessTexts({10, 11, 12, 13, 14, 15, 16, 17});
    const std::tuple<uint32_t, int16_t, Strings, int32_t> cases[] = {
        {kODClassGray, 3, ProcessTexts({1, 2, 3, 4}), 2},
        {kODClassRGB, 16, rgb, 6},
        {kODClassLab, 17, rgb, 7}, // Lab images get the RGB process types
        {kODClassCMYK, 22, ProcessTexts({20, 21, 22, 23, 24}), 2},
        // A code of another group chooses nothing, and OK keeps it.
        {kODClassCMYK, 12, ProcessTexts({20, 21, 22, 23, 24}), -1},
    };
    for (const auto& [imageClass, code, entries, chosen] : cases) {
        SCOPED_TRACE(code);
        ExpectEdited(Coded(code), Order(imageClass, code), [&](IControlView* d) {
            EXPECT_EQ(Entries(d, kTypes), entries);
            EXPECT_EQ(Chosen(d, kTypes), chosen);
            EXPECT_TRUE(IsEnabled(d, kTypes) && IsEnabled(d, kOrdoImgOptTypeLabelWidgetID));
        });
    }
    for (int entry = 0; entry < 8; ++entry) { // a Lab order stores codes 10 to 17
        ExpectEdited(Coded(10 + entry), Order(kODClassLab, 17),
                     [&](IControlView* d) { WidgetDriver::Choose(d, kTypes, entry); });
    }

    // OK makes an order ready, Cancel keeps all, and unsupported types say so.
    const std::pair<uint16_t, uint16_t> statuses[] = {
        {kODStatusNone, kODStatusReady},  {kODStatusProvisional, kODStatusReady},
        {kODStatusDone, kODStatusDone},   {kODStatusReplyMinus1, kODStatusReplyMinus1},
        {kODStatusReady, kODStatusReady},
    };
    for (auto [before, after] : statuses) { // the dialog shows the status as it is given
        OD_ProcData order = Order(kODClassRGB, 10, "", "", before);
        EXPECT_TRUE(Edit(order, [](IControlView* d) {
            EXPECT_EQ(Shown(d, kOrdoImgOptStatusTextWidgetID) + "|" +
                          Shown(d, kOrdoImgOptHeadingWidgetID),
                      "Dimensions are OK|RGB Image Parameter(s)");
        }));
        EXPECT_EQ(order.status, after) << before;
    }
    Look(Order(kODClassRGB, 10), [](IControlView* d) {
        WidgetDriver::Choose(d, kTypes, 3);
        WidgetDriver::Type(d, kDest, "Other");
    });
    // Pixel types with no process types: the process fixed at 0, and said why.
    for (uint32_t imageClass : {kODClassFullColor, kODClassUnknown}) {
        ExpectEdited(Coded(0), Order(imageClass, 0), [](IControlView* d) {
            EXPECT_TRUE(Entries(d, kTypes).empty());
            EXPECT_FALSE(IsEnabled(d, kTypes) || IsEnabled(d, kOrdoImgOptTypeLabelWidgetID));
            EXPECT_FALSE(WidgetDriver::Choose(d, kTypes, 0));
            EXPECT_EQ(Shown(d, kOrdoImgOptStatusTextWidgetID),
                      "Dimensions are OK\nThe image type is unknown so the process option is "
                      "disabled");
        });
    }
}

// On server A: the processes and named sets by class, what a chosen process or preference file
// brings, and the destination under replace-original.
TEST_F(DialogsTest, ImageOptionsOnAServer) {
    UseServer(MakeServerA(servers / "a"));
    const Strings processes = {"Default Process", "Web RGB", "Newsprint CMYK", "Broken"};
    const std::tuple<uint32_t, int16_t, Strings> byClass[] = {
        {kODClassGray, 1, {"Soft"}}, // "Archive" names no set
        {kODClassRGB, 10, {"Bright", "Neutral"}},
        {kODClassLab, 10, {"Bright", "Neutral"}},
        {kODClassCMYK, 20, {}},
    };
    for (const auto& [imageClass, code, prefixes] : byClass) {
        SCOPED_TRACE(imageClass);
        Look(Order(imageClass, code, "Newsprint CMYK"), [&](IControlView* d) {
            EXPECT_EQ(Entries(d, kProcesses), processes);
            EXPECT_EQ(Chosen(d, kProcesses), 2);
            EXPECT_EQ(Entries(d, kPrefixes), prefixes);
        });
    }
    // The prefix list (and its label) goes with correction processes.
    auto prefixShown = [](IControlView* d) {
        return std::vector<bool>{IsShown(d, kPrefixes), IsShown(d, kOrdoImgOptPrefixLabelWidgetID)};
    };
    // Web RGB gives RGB images Correction+Gray Conversion.
    ExpectEdited("1|13|Photo|Web RGB|Bright|", Order(kODClassRGB, 10, "", "Neutral"),
                 [&](IControlView* d) {
                     EXPECT_EQ(Chosen(d, kPrefixes), 1);
                     EXPECT_EQ(Chosen(d, kProcesses), 0) << "an empty profile is the default";
                     EXPECT_EQ(prefixShown(d), (std::vector<bool>{true, true}));
                     EXPECT_TRUE(WidgetDriver::Choose(d, kTypes, 4)); // Gray Conversion
                     EXPECT_EQ(prefixShown(d), (std::vector<bool>{false, false}));
                     EXPECT_TRUE(WidgetDriver::Choose(d, kTypes, 3)); // Correction+Gray Conv.
                     EXPECT_EQ(prefixShown(d), (std::vector<bool>{true, true}));
                     EXPECT_TRUE(WidgetDriver::Choose(d, kPrefixes, 0));
                     EXPECT_TRUE(WidgetDriver::Choose(d, kProcesses, 1));
                 });
    Look(Order(kODClassRGB, 14), [](IControlView* d) { EXPECT_FALSE(IsShown(d, kPrefixes)); });

    // "Default Process" stores an empty name; a profile the server no longer has stays; so
    // does a prefix that is none of the server's sets (from "ABCDE#Photo.tif").
    ExpectEdited(Coded(10), Order(kODClassRGB, 10, "Web RGB"),
                 [](IControlView* d) { WidgetDriver::Choose(d, kProcesses, 0); });
    ExpectEdited("1|10|Photo|Retired|ABCDE|", Order(kODClassRGB, 10, "Retired", "ABCDE"),
                 [](IControlView* d) {
                     EXPECT_EQ(Chosen(d, kProcesses), -1);
                     EXPECT_EQ(Entries(d, kPrefixes), (Strings{"ABCDE", "Bright", "Neutral"}));
                     EXPECT_EQ(Chosen(d, kPrefixes), 0);
                 });

    // A chosen process sets the process type it gives the image; "Broken" did not read.
    const std::tuple<uint32_t, int16_t, const char*, int16_t> chosen[] = {
        {kODClassGray, 4, "Newsprint CMYK", 3},    {kODClassRGB, 17, "Newsprint CMYK", 12},
        {kODClassLab, 17, "Web RGB", 13},          {kODClassCMYK, 20, "Web RGB", 21},
        {kODClassCMYK, 20, "Default Process", 24}, {kODClassRGB, 15, "Broken", 15},
    };
    for (const auto& [imageClass, start, profile, code] : chosen) {
        SCOPED_TRACE(profile);
        OD_ProcData o = Order(imageClass, start, "Retired"); // none of the server's
        ASSERT_TRUE(Edit(o, [&](IControlView* d) {
            EXPECT_TRUE(WidgetDriver::ChooseEntry(d, kProcesses, PMString(profile)));
        }));
        EXPECT_EQ(o.processCode, code);
    }

    OD_PrefsData newsprint;
    newsprint.SetRepSrc(true);
    newsprint.SetDefaultProcess(PMString("Newsprint CMYK"));
    ASSERT_TRUE(SavePreferenceFile(newsprint, PreferenceFilePath("Newsprint.opf")));
    ASSERT_TRUE(SavePreferenceFile(OD_PrefsData(), PreferenceFilePath("Plain.opf")));
    WriteFile(PreferenceFilePath("Damaged.opf"), "not a preference file either");
    // Switched off: no list, and the order's preference file stays.
    OD_ProcData filed = Order(kODClassRGB, 17);
    filed.prefsFileName = PMString("Plain.opf");
    ExpectEdited("1|17|Photo|||Plain.opf", filed, [](IControlView* d) {
        EXPECT_FALSE(IsShown(d, kPrefsFiles) || IsShown(d, kOrdoImgOptPrefsLabelWidgetID) ||
                     WidgetDriver::Choose(d, kPrefsFiles, 0));
    });
    EditSessionPrefs([](OD_PrefsData& p) { p.SetShowPrefs(true); });
    ASSERT_TRUE(Edit(filed, [](IControlView* d) {
        EXPECT_EQ(Entries(d, kPrefsFiles),
                  (Strings{"Default Preferences", "Damaged.opf", "Newsprint.opf", "Plain.opf"}));
        EXPECT_EQ(Chosen(d, kPrefsFiles), 3);
        // A file that does not read brings nothing.
        EXPECT_TRUE(WidgetDriver::Choose(d, kPrefsFiles, 1));
        EXPECT_EQ(State(d), "0|7|Photo");
        // A file brings its default process, the type that gives, and its replace-original.
        EXPECT_TRUE(WidgetDriver::Choose(d, kPrefsFiles, 2));
        EXPECT_EQ(State(d), "2|2|-Same as original");
    }));
    EXPECT_EQ(Summary(filed), "1|12|Photo|Newsprint CMYK||Newsprint.opf");
    // Opened as that file says; "Default Preferences" brings back the session's.
    ExpectEdited(Coded(10), filed, [](IControlView* d) {
        EXPECT_EQ(State(d), "2|2|-Same as original");
        EXPECT_TRUE(WidgetDriver::Choose(d, kPrefsFiles, 0));
        EXPECT_EQ(State(d), "0|0|Photo");
    });

    // Replacing the original: the destination fixed, "Same as original"; the name kept.
    EditSessionPrefs([](OD_PrefsData& p) { p.SetRepSrc(true); });
    ExpectEdited(Coded(10), Order(kODClassRGB, 10), [](IControlView* d) {
        EXPECT_TRUE(IsShown(d, kDest));
        EXPECT_EQ(State(d), "0|0|-Same as original");
        EXPECT_FALSE(WidgetDriver::Type(d, kDest, "x"));
    });
    // Orders edited as a group come without a name: field and label hidden.
    OD_ProcData group = Order(kODClassRGB, 10);
    group.outputName = PMString();
    ExpectEdited("1|10||||", group, [](IControlView* d) {
        EXPECT_FALSE(IsShown(d, kDest) || IsShown(d, kOrdoImgOptDestLabelWidgetID));
    });
}

TEST_F(DialogsTest, PreferencesAServerThatCannotBeOpenedIsNotTakenOneThatOpensIsAtOnce) {
    const std::string a = UseServer(MakeServerA(servers / "a"));
    const std::string noTmp = MakeServerB(servers / "no-tmp");
    fs::remove_all(servers / "no-tmp/Data/tmp");
    const std::string noService = MakeServerB(servers / "no-service");
    fs::remove_all(servers / "no-service/Data/service");
    // Also while connected, when the link it lends the dialog is open already.
    for (bool connected : {false, true}) {
        if (connected) {
            ASSERT_TRUE(ConnectForSending(session, false));
        }
        for (const std::string& bad : {noTmp, noService, servers / "missing/qorserver"}) {
            SCOPED_TRACE(bad);
            alerts.Clear();
            choosers.Answer(bad);
            EXPECT_TRUE(EditPrefs([&](IControlView* d) {
                EXPECT_TRUE(WidgetDriver::Press(d, kOrdoPrefServerButtonWidgetID));
                EXPECT_EQ(Shown(d, kOrdoPrefServerPathWidgetID), a);
                EXPECT_EQ(Entries(d, kPrefProcesses).size(), 4u);
            }));
            EXPECT_EQ(Servers(), a + "|" + a);
            EXPECT_EQ(Link().GetEndPoint()->GetState(false) != 0, connected);
            ASSERT_EQ(alerts.Alerts().size(), 1u);
            EXPECT_EQ(alerts.Alerts()[0].kind, AlertKind::kWarning);
        }
    }
    EXPECT_EQ(CountLines(servers / "a/Data/tmp", "DECONNECT"), 0);

    // One that opens is taken at once, and Cancel keeps it.
    const std::string b = MakeServerB(servers / "b");
    ASSERT_EQ(CountLines(servers / "a/Data/tmp", "CONNECT"), 1);
    choosers.Answer(b);
    EXPECT_FALSE(EditPrefs(
        [&](IControlView* d) {
            EXPECT_TRUE(WidgetDriver::Type(d, kRes, "600"));
            EXPECT_TRUE(WidgetDriver::Press(d, kOrdoPrefServerButtonWidgetID));
            // At once: the old server heard of it, the session and the dialog name the new one.
            EXPECT_EQ(CountLines(servers / "a/Data/tmp", "DECONNECT"), 1);
            EXPECT_EQ(Servers(), b + "|" + b);
            EXPECT_EQ(Shown(d, kOrdoPrefServerPathWidgetID), b);
            EXPECT_EQ(Entries(d, kPrefProcesses), (Strings{"Default Process", "Press"}));
            EXPECT_EQ(Shown(d, kRes), "600");
        },
        DialogAnswer::kCancel));
    EXPECT_EQ(Servers(), b + "|" + b);
    EXPECT_EQ(Link().GetParameters()->Curparam().ProfileCount(), 1);
    EXPECT_EQ(OrdoPrefs().GetResolution(), 200.0) << "typed edits go with Cancel";
    EXPECT_EQ(choosers.Requests().back().startFolder, servers / "a");
}

TEST_F(DialogsTest, PreferencesFoldersAreChosenWithTheFolderChooser) {
    MakeDirs(servers / "out");
    MakeDirs(servers / "lowres");
    choosers.Answer(servers / "out");
    choosers.Answer(servers / "lowres");
    EXPECT_TRUE(EditPrefs([&](IControlView* d) {
        WidgetDriver::Press(d, kOrdoPrefOPIActiveWidgetID);
        EXPECT_TRUE(WidgetDriver::Press(d, kOrdoPrefFolderButtonWidgetID));
        EXPECT_TRUE(WidgetDriver::Press(d, kOrdoPrefLowResButtonWidgetID));
        EXPECT_EQ(
            (Strings{Shown(d, kOrdoPrefFolderPathWidgetID), Shown(d, kOrdoPrefLowResPathWidgetID)}),
            (Strings{servers / "out", servers / "lowres"}));
    }));
    EXPECT_EQ((Strings{OrdoPrefs().GetOutFolder(), OrdoPrefs().GetOpiLoResFolder()}),
              (Strings{servers / "out", servers / "lowres"}));
    ASSERT_EQ(choosers.Requests().size(), 2u);
    for (const ChooserRequest& r : choosers.Requests()) {
        EXPECT_EQ(r.kind, ChooserKind::kFolder);
    }
    // A folder whose path the record cannot hold is refused, not cut.
    const std::string deep = servers / (std::string(160, 'd') + "/" + std::string(160, 'd'));
    MakeDirs(deep);
    choosers.Answer(deep);
    EXPECT_TRUE(EditPrefs([&](IControlView* d) {
        WidgetDriver::Press(d, kOrdoPrefFolderButtonWidgetID);
        EXPECT_EQ(Shown(d, kOrdoPrefFolderPathWidgetID), servers / "out");
    }));
    EXPECT_EQ(std::string(OrdoPrefs().GetOutFolder()), servers / "out");
    EXPECT_EQ(alerts.Alerts().size(), 1u);
}

TEST_F(DialogsTest, PreferencesSaveAsThenLoadGivesTheSameRecord) {
    const std::string a = UseServer(MakeServerA(servers / "a"));
    const std::string b = MakeServerB(servers / "b");
    MakeDirs(servers / "out");
    MakeDirs(servers / "lowres");
    // Save what the dialog shows, typed values included, then cancel.
    choosers.Answer(servers / "out");
    choosers.Answer(servers / "lowres");
    choosers.Answer(PreferenceFilePath("Studio"));
    EXPECT_FALSE(EditPrefs(
        [&](IControlView* d) {
            Typed({{kRes, "300"}, {kFreq, "12"}, {kMin, "20"}})(d);
            WidgetDriver::Press(d, kOrdoPrefOPIActiveWidgetID);
            WidgetDriver::Type(d, kOrdoPrefLowResExtWidgetID, "_lr");
            WidgetDriver::Press(d, kOrdoPrefShowPrefsWidgetID);
            EXPECT_TRUE(WidgetDriver::Press(d, kOrdoPrefFolderButtonWidgetID));
            EXPECT_TRUE(WidgetDriver::Press(d, kOrdoPrefLowResButtonWidgetID));
            EXPECT_TRUE(WidgetDriver::Press(d, kOrdoPrefRepSrcWidgetID));
            WidgetDriver::Choose(d, kPrefProcesses, 1);
            EXPECT_TRUE(WidgetDriver::Press(d, kOrdoPrefSaveAsWidgetID));
        },
        DialogAnswer::kCancel));
    EXPECT_EQ(choosers.Requests().at(2).kind, ChooserKind::kSaveFile);
    EXPECT_EQ(choosers.Requests().at(2).startFolder, identity);
    EXPECT_EQ(OrdoPrefs().GetResolution(), 200.0); // the cancelled dialog left the session alone
    OD_PrefsData want = OrdoPrefs();
    want.SetResolution(300);
    want.SetFrequency(12);
    want.SetDownSmpMin(20);
    want.SetOpiActive(true);
    want.SetOpiSuffix(PMString("_lr"));
    want.SetShowPrefs(true);
    want.SetRepSrc(true);
    want.SetOvrWrDest(true);
    want.SetDefaultProcess(PMString("Web RGB"));
    want.SetOutFolder((servers / "out").c_str());
    want.SetOpiLoResFolder((servers / "lowres").c_str());

    // Another server and values; loading brings back what was saved at once, server included,
    // and the dialog shows it.
    EditSessionPrefs([](OD_PrefsData& p) { p.SetResolution(72); });
    choosers.Answer(b);
    choosers.Answer(PreferenceFilePath("Studio.opf"));
    EXPECT_TRUE(EditPrefs([&](IControlView* d) {
        WidgetDriver::Press(d, kOrdoPrefServerButtonWidgetID);
        ASSERT_EQ(std::string(OrdoPrefs().GetServerPath()), b);
        EXPECT_TRUE(WidgetDriver::Press(d, kOrdoPrefLoadWidgetID));
        EXPECT_EQ(OrdoPrefs(), want);
        EXPECT_EQ(LinkPath(), a);
        EXPECT_EQ(CountLines(servers / "b/Data/tmp", "DECONNECT"), 0) << "b was never connected";
        EXPECT_EQ((Strings{Shown(d, kOrdoPrefServerPathWidgetID), Shown(d, kRes), Shown(d, kFreq),
                           Shown(d, kOrdoPrefLowResExtWidgetID)}),
                  (Strings{a, "300", "12", "_lr"}));
        // replace-original ticked, its dependants off, OPI on, the server's processes.
        EXPECT_EQ(
            (std::vector<int>{WidgetUtils::IsChecked(d, kOrdoPrefRepSrcWidgetID),
                              Usable(d, {kOrdoPrefFolderButtonWidgetID, kOrdoPrefFolderPathWidgetID,
                                         kOrdoPrefOverwriteWidgetID, kOrdoPrefDelSrcWidgetID}),
                              Usable(d, {kOrdoPrefLowResButtonWidgetID, kOrdoPrefLowResPathWidgetID,
                                         kOrdoPrefOPINoteWidgetID, kOrdoPrefLowResExtLabelWidgetID,
                                         kOrdoPrefLowResExtWidgetID}),
                              static_cast<int>(Entries(d, kPrefProcesses).size()),
                              Chosen(d, kPrefProcesses)}),
            (std::vector<int>{1, 0, 5, 4, 1}));
    }));
    EXPECT_EQ(OrdoPrefs(), want); // OK keeps what was loaded
    EXPECT_EQ(choosers.Requests().back().kind, ChooserKind::kOpenFile);
    EXPECT_EQ(choosers.Requests().back().startFolder, identity);
}

TEST_F(DialogsTest, PreferencesACancelledChooserOrABadFileChangesNothing) {
    const std::string a = UseServer(MakeServerA(servers / "a"));
    EditSessionPrefs([&](OD_PrefsData& p) { p.SetOutFolder((servers / "out").c_str()); });
    const OD_PrefsData prefs = OrdoPrefs();
    WriteFile(PreferenceFilePath("Damaged.opf"), "not a preference file at all");
    const std::size_t filesBefore = ListPreferenceFiles().size();
    for (WidgetID button :
         {kOrdoPrefServerButtonWidgetID, kOrdoPrefFolderButtonWidgetID,
          kOrdoPrefLowResButtonWidgetID, kOrdoPrefSaveAsWidgetID, kOrdoPrefLoadWidgetID}) {
        choosers.Answer(std::nullopt);
        EXPECT_TRUE(EditPrefs([&](IControlView* d) {
            WidgetDriver::Press(d, kOrdoPrefOPIActiveWidgetID);
            EXPECT_TRUE(WidgetDriver::Press(d, button));
            EXPECT_EQ((Strings{Shown(d, kOrdoPrefServerPathWidgetID),
                               Shown(d, kOrdoPrefFolderPathWidgetID)}),
                      (Strings{a, servers / "out"}));
            WidgetDriver::Press(d, kOrdoPrefOPIActiveWidgetID);
        }));
        EXPECT_EQ(OrdoPrefs(), prefs) << button.Get();
    }
    EXPECT_EQ(choosers.Requests().size(), 5u);
    EXPECT_EQ(ListPreferenceFiles().size(), filesBefore);
    EXPECT_TRUE(alerts.Alerts().empty());

    // A file that does not read as preferences: told, nothing changes.
    choosers.Answer(PreferenceFilePath("Damaged.opf"));
    EXPECT_TRUE(EditPrefs([&](IControlView* d) {
        WidgetDriver::Type(d, kRes, "400");
        EXPECT_TRUE(WidgetDriver::Press(d, kOrdoPrefLoadWidgetID));
        EXPECT_EQ(OrdoPrefs(), prefs);
        EXPECT_EQ(Shown(d, kRes), "400");
    }));
    EXPECT_EQ(OrdoPrefs().GetResolution(), 400.0);
    EXPECT_EQ(AlertTexts(),
              Strings{"The preference file could not be read; the preferences are unchanged"});
    // A save that fails says so.
    alerts.Clear();
    choosers.Answer(servers / "no-such-folder/Mine.opf");
    EXPECT_TRUE(EditPrefs(
        [](IControlView* d) { EXPECT_TRUE(WidgetDriver::Press(d, kOrdoPrefSaveAsWidgetID)); }));
    EXPECT_EQ(AlertTexts(), Strings{"The preference file could not be saved"});
}

TEST_F(DialogsTest, PreferencesRefuseBadPeriodsResolutionsAndLimits) {
    // Each refused value sends the dialog back on its field, with a word why.
    RefusedRuns({{Typed({{kFreq, "-5"}}), kInvalidWidgetID},
                 {Typed({{kFreq, "2.5"}}), kFreq},
                 {Typed({{kFreq, "40000"}}), kFreq},
                 {Typed({{kFreq, "soon"}}), kFreq},
                 {Typed({{kRes, "high"}, {kFreq, "0"}}), kFreq},
                 {Typed({{kRes, "250"}}), kRes}});
    EXPECT_EQ(dialogs.Runs().size(), 6u);
    EXPECT_EQ(OrdoPrefs().GetFrequency(), 0);
    EXPECT_EQ(OrdoPrefs().GetResolution(), 250.0);
    EXPECT_EQ(alerts.Alerts().size(), 5u);
    EXPECT_EQ(AlertTexts().front(),
              "The update period must be a whole number of seconds from 0 to 32767");
    EXPECT_EQ(AlertTexts().back(), "Please enter a number");

    // A value the user cannot reach does not hold the dialog: with automatic
    // update off, a negative period from an old record becomes 0.
    EditSessionPrefs([](OD_PrefsData& p) {
        p.SetAutoUpdt(false);
        p.SetFrequency(-3);
    });
    EXPECT_TRUE(EditPrefs([](IControlView*) {}));
    EXPECT_EQ(OrdoPrefs().GetFrequency(), 0);

    // Save As refuses the same values before asking for a file.
    alerts.Clear();
    EXPECT_TRUE(EditPrefs([](IControlView* d) {
        WidgetDriver::Press(d, kOrdoPrefAutoUpdateWidgetID);
        WidgetDriver::Type(d, kFreq, "-1");
        EXPECT_TRUE(WidgetDriver::Press(d, kOrdoPrefSaveAsWidgetID));
        WidgetDriver::Type(d, kFreq, "30");
    }));
    EXPECT_TRUE(choosers.Requests().empty());
    EXPECT_EQ(alerts.Alerts().size(), 1u);
    EXPECT_EQ(OrdoPrefs().GetFrequency(), 30);

    // Resolutions below 1 and resampling limits out of order.
    const std::string order =
        "The resampling limit \"less than\" must be below the limit \"or greater than\"";
    const std::string resolution = "The output resolution must be at least 1 dpi";
    static constexpr WidgetID kMax = kOrdoPrefUpSmpMaxWidgetID;
    const std::tuple<WidgetID, const char*, WidgetID, std::string> cases[] = {
        {kRes, "0", kRes, resolution},
        {kRes, "0.5", kRes, resolution},
        {kRes, "-300", kRes, resolution},
        {kMin, "0", kMin, "The resampling limit \"less than\" must be above 0"},
        {kMax, "-150", kMax, "The resampling limit \"or greater than\" must be above 0"},
        {kMin, "150", kMin, order},
        {kMax, "5", kMin, order},
    };
    const OD_PrefsData before = OrdoPrefs();
    for (const auto& [field, bad, refused, alert] : cases) {
        SCOPED_TRACE(bad);
        alerts.Clear();
        const char* good = field == kRes ? "1" : field == kMax ? "150" : "10";
        RefusedRuns({{Typed({{field, bad}}), kInvalidWidgetID}, {Typed({{field, good}}), refused}});
        EXPECT_EQ(AlertTexts(), Strings{alert});
    }
    OD_PrefsData want = before;
    want.SetResolution(1);
    EXPECT_EQ(OrdoPrefs(), want);
    // With quality control off the limits cannot be reached and hold nothing.
    EditSessionPrefs([](OD_PrefsData& p) {
        p.SetQualityControl(false);
        p.SetDownSmpMin(0);
    });
    alerts.Clear();
    EXPECT_TRUE(EditPrefs([](IControlView*) {}));
    EXPECT_TRUE(alerts.Alerts().empty());
}

// Every text the dialog shows, translated as the front end shows it.
void AddAllTexts(IControlView* dialog, Strings& texts) {
    for (IControlView* widget : WidgetUtils::AllWidgets(dialog)) {
        InterfacePtr<ITextControlData> text(widget, IID_ITEXTCONTROLDATA);
        if (text) {
            texts.push_back(text->GetString().Translated().GetUTF8String());
        }
        texts.push_back(widget->GetTip().Translated().GetUTF8String());
        AddEntries(widget, texts);
    }
}

// In French and Spanish no key shows untranslated in either dialog, whatever they show (an unknown
// pixel type and why, process types and descriptions, the preference files, "Same as original").
TEST_F(DialogsTest, BothDialogsSpeakTheUsersLanguage) {
    UseServer(MakeServerA(servers / "a"));
    EditSessionPrefs([](OD_PrefsData& p) {
        p.SetShowPrefs(true);
        p.SetRepSrc(true);
    });
    const std::pair<int, Strings> languages[] = {
        {4,
         {"Identique à l'original",
          "Les dimensions sont correctes\nLe type de l'image est inconnu, l'option de traitement "
          "est donc désactivée",
          "-Niveaux de gris: Correction, Conversion CMJN, CMJN, TIFF\n"
          "-RVB : Correction, Conversion CMJN, CMJN, TIFF\n-CMJN: Sans correction, CMJN, TIFF\n"}},
        {6, {"Igual que el original", "Parámetro(s) de imagen RGB"}},
    };
    for (const auto& [locale, expected] : languages) {
        SCOPED_TRACE(locale);
        HostStrings::SetLocale(locale);
        Strings texts;
        auto collect = [&texts](IControlView* d) { AddAllTexts(d, texts); };
        Look(Order(kODClassUnknown, 0), collect);
        Look(Order(kODClassRGB, 10), collect);
        EditPrefs(
            [&](IControlView* d) {
                WidgetDriver::Choose(d, kPrefProcesses, 2);
                collect(d);
            },
            DialogAnswer::kCancel);
        for (const std::string& text : expected) {
            EXPECT_NE(std::find(texts.begin(), texts.end(), text), texts.end()) << text;
        }
        for (const std::string& text : texts) {
            EXPECT_EQ(text.find("0x71900k"), std::string::npos) << text;
        }
    }
}

// The server's files are read once, and again only when their times change.
TEST_F(DialogsTest, ImageOptionsReadTheServersConfigurationAgainOnlyOnceItChanged) {
    const std::string root = servers / "b";
    UseServer(MakeServerB(root));
    const fs::path curparam = fs::path(root) / "Data/curparam.txt";
    const auto past = fs::file_time_type::clock::now() - std::chrono::hours(2);
    auto dateAll = [&](fs::file_time_type when) { // files of this very second are read every time
        for (const auto& file : fs::recursive_directory_iterator(fs::path(root) / "Data")) {
            fs::last_write_time(file.path(), when);
        }
    };
    auto processes = [&](const Strings& want) {
        Look(Order(kODClassRGB, 10),
             [&](IControlView* d) { EXPECT_EQ(Entries(d, kProcesses), want); });
    };
    dateAll(past);
    processes({"Default Process", "Press"});
    std::string text = ReadFile(curparam.string());
    text.replace(text.find("/Press"), 6, "/Proof");
    WriteFile(curparam.string(), text);
    fs::last_write_time(curparam, past); // the same time: not read again
    processes({"Default Process", "Press"});
    dateAll(past + std::chrono::hours(1));
    processes({"Default Process", "Proof"});
}

} // namespace
