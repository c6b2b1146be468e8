// The image options and preferences dialogs, driven through the host's
// dialog manager as a user works them: a scripted front end answers each
// dialog after working its widgets, choosers and alerts answer from scripts.

#include "OrdoImgOptDialog.h"
#include "OrdoPrefsDialog.h"

#include "../orders/OrdoSessionKit.h"

#include "CAlert.h"
#include "Choosers.h"
#include "HostPlatform.h"
#include "HostStrings.h"
#include "IOrdoPrefsData.h"
#include "IOrdoQORData.h"
#include "ISession.h"
#include "OD_ServerLink.h"
#include "ObjectModel.h"
#include "PreferenceFiles.h"
#include "QOR_Configuration.h"
#include "QOR_EndPoint.h"
#include "SessionIDs.h"
#include "StringTables.h"
#include "TempDir.h"
#include "Widgets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// ---- a server tree with exact configuration files

// A file-options section (version 260) with TIFF (0) or JPEG (4) results.
std::string FileOptions(int gray, int rgb, int cmyk) {
    std::string s = "????\n1\n260\nformats\n" + std::to_string(gray) + "\n" + std::to_string(rgb) +
                    "\n" + std::to_string(cmyk) + "\n0\n";
    for (int format : {gray, rgb, cmyk}) {
        s += "format\n0\n0\n";
        s += format == 4 ? "80\n0\n0\n" : "1\n0\n0\n";
    }
    return s;
}

// A colour-correction section (version 260): the process option for gray,
// RGB and CMYK input.
std::string ColorCorrection(int gray, int rgb, int cmyk) {
    return "????\n1\n260\n0\n0\n0\n0\n" + std::to_string(gray) + " " + std::to_string(rgb) + " " +
           std::to_string(cmyk) + "\nTitle\nsRGB\nnone\nnone\n0\n0\n";
}

// "curparam.txt" (version 258, Unix paths) with the two named-parameter
// lists and the given profile names.
std::string Curparam(const std::vector<std::string>& profiles) {
    std::string s = "????\n2\n258\nNamed parameter sets\n"
                    "2\nBright\n/qor/params/rgb/Bright#1\nNeutral\n/qor/params/rgb/Neutral#2\n"
                    "2\nSoft\n/qor/params/gray/Soft#1\nArchive\n/qor/params/gray/Archive\n"
                    "1\n/qor/lut/default\n0\n0\n0\n"
                    "0\n"
                    "Job profiles\n" +
                    std::to_string(profiles.size()) + "\n";
    for (const std::string& p : profiles) {
        s += "/qor/profiles/" + p + "\n";
    }
    return s;
}

// A server whose default profile does gray Correction, RGB Correction and
// CMYK No Correction to TIFF, with the profiles listed in curparam.txt; each
// listed profile with a text gets a file of that text. Returns the server
// path (the application file).
std::string MakeServer(const std::string& root,
                       const std::vector<std::pair<std::string, std::string>>& profiles) {
    const std::string app = MakeServerTree(root);
    const fs::path data = fs::path(root) / "Data";
    std::vector<std::string> names;
    for (const auto& [name, text] : profiles) {
        names.push_back(name);
        if (!text.empty()) {
            WriteFile((data / "profiles" / name).string(), text);
        }
    }
    WriteFile((data / "curparam.txt").string(), Curparam(names));
    WriteFile((data / "ccoopt.txt").string(), ColorCorrection(1, 2, 0));
    WriteFile((data / "fileopt.txt").string(), FileOptions(0, 0, 0));
    return app;
}

// Server A: "Web RGB" (gray Correction, RGB Correction+Gray Conversion, CMYK
// RGB Conversion, JPEG), "Newsprint CMYK" (gray and RGB Correction+CMYK
// Conversion, CMYK No Correction, TIFF) and "Broken", whose file is missing.
std::string MakeServerA(const std::string& root) {
    return MakeServer(root, {{"Web RGB", FileOptions(4, 4, 4) + ColorCorrection(1, 3, 2)},
                             {"Newsprint CMYK", FileOptions(0, 0, 0) + ColorCorrection(5, 6, 0)},
                             {"Broken", ""}});
}

// Server B: one profile, "Press".
std::string MakeServerB(const std::string& root) {
    return MakeServer(root, {{"Press", FileOptions(0, 0, 0) + ColorCorrection(4, 4, 0)}});
}

// ---- what the dialog shows

PMString Text(IControlView* dialog, WidgetID id) {
    return WidgetUtils::GetText(dialog, id);
}

std::vector<std::string> Entries(IControlView* dialog, WidgetID id) {
    std::vector<std::string> out;
    InterfacePtr<IStringListControlData> list(WidgetUtils::FindWidget(dialog, id),
                                              IID_ISTRINGLISTCONTROLDATA);
    for (int32_t n = 0; list && n < list->Length(); ++n) {
        out.push_back(list->GetString(n).Translated().GetUTF8String());
    }
    return out;
}

int32_t Chosen(IControlView* dialog, WidgetID id) {
    InterfacePtr<IDropDownListController> list(WidgetUtils::FindWidget(dialog, id),
                                               IID_IDROPDOWNLISTCONTROLLER);
    return list ? list->GetSelected() : -2;
}

bool IsShown(IControlView* dialog, WidgetID id) {
    IControlView* v = WidgetUtils::FindWidget(dialog, id);
    return v != nullptr && v->IsVisible();
}

bool IsEnabled(IControlView* dialog, WidgetID id) {
    IControlView* v = WidgetUtils::FindWidget(dialog, id);
    return v != nullptr && v->IsEnabled();
}

std::string Shown(IControlView* dialog, WidgetID id) {
    return Text(dialog, id).Translated().GetUTF8String();
}

using Step = std::function<void(IControlView*)>;

// ---- fixture

class DialogsTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterOrdoSession();
        RegisterImageOptionsDialog();
        RegisterPreferencesDialog();
        HostStrings::Reset();
        RegisterStringTables();
        HostPlatform::SetSystemFolder(system.Path());
        identity = system / "velmaris/OD_ID";
        MakeDirs(identity);
        OD_PrefsData::ResetIdentityFolderForTesting();
        ASSERT_EQ(std::string(OD_PrefsData::IdentityFolder()), identity);
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

    OD_PrefsData Prefs() const {
        InterfacePtr<IOrdoPrefsData> data(session, IID_IORDOPREFSDATA);
        return data->Get();
    }
    void SetPrefs(const OD_PrefsData& prefs) const {
        InterfacePtr<IOrdoPrefsData> data(session, IID_IORDOPREFSDATA);
        data->Set(prefs);
    }
    OD_QORData Link() const {
        InterfacePtr<IOrdoQORData> data(session, IID_IORDOQORDATA);
        return data->Get();
    }
    // The session on a server, its configuration read as at start-up.
    void UseServer(const std::string& path) const {
        OD_PrefsData prefs = Prefs();
        ASSERT_TRUE(prefs.SetServerPath(path.c_str()));
        SetPrefs(prefs);
        ASSERT_TRUE(OpenServerLink(session, true, false));
    }
    std::string LinkPath() const {
        char path[kServerPathCapacity] = "";
        Link().GetEndPoint()->GetServerPath(path, sizeof path);
        return path;
    }

    // One run of the front end: works the dialog, then answers.
    void Then(Step work, DialogAnswer answer) {
        dialogs.Then([work, answer](IControlView* dialog, WidgetID) {
            work(dialog);
            return answer;
        });
    }

    // Runs the image options dialog on the order.
    bool Edit(OD_ProcData& order, Step work, DialogAnswer answer = DialogAnswer::kOK,
              const PMString& status = PMString("0x71900kOrdoStatusImgOK")) {
        Then(std::move(work), answer);
        return RunImageOptionsDialog(order, status, PMString("0x71900kOrdoImgOptDlgListRGBKey"));
    }

    bool EditPrefs(Step work, DialogAnswer answer = DialogAnswer::kOK) {
        Then(std::move(work), answer);
        return RunPreferencesDialog();
    }

    // The alerts' texts, as shown.
    std::vector<std::string> AlertTexts() const {
        std::vector<std::string> out;
        for (const AlertRequest& a : alerts.Alerts()) {
            out.push_back(a.message.GetUTF8String());
        }
        return out;
    }

    TempDir system;
    TempDir servers;
    std::string identity;
    ScriptedDialogSink dialogs;
    RecordingChooserSink choosers;
    RecordingAlertSink alerts;
    ISession* session = nullptr;
};

OD_ProcData Order(uint32_t imageClass, int16_t code, uint16_t status = kODStatusProvisional) {
    OD_ProcData order;
    order.status = status;
    order.imageClass = imageClass;
    order.processCode = code;
    order.outputName = PMString("Photo");
    return order;
}

constexpr WidgetID kTypes = kOrdoImgOptTypeListWidgetID;
constexpr WidgetID kProcesses = kOrdoImgOptProcessListWidgetID;
constexpr WidgetID kPrefixes = kOrdoImgOptPrefixListWidgetID;
constexpr WidgetID kPrefsFiles = kOrdoImgOptPrefsListWidgetID;
constexpr WidgetID kDest = kOrdoImgOptDestNameWidgetID;

std::vector<std::string> ProcessTexts(std::initializer_list<int> codes) {
    std::vector<std::string> out;
    for (int code : codes) {
        out.push_back(ProcessCodeTextKey(static_cast<int16_t>(code)).Translated().GetUTF8String());
    }
    return out;
}

} // namespace

// ============================================================================
// The image options dialog

TEST_F(DialogsTest, ImageOptionsLabImagesGetTheRGBProcessTypesAndStoreCodes10To17) {
    std::vector<std::string> rgbEntries;
    OD_ProcData rgb = Order(kODClassRGB, 10);
    Edit(
        rgb, [&](IControlView* d) { rgbEntries = Entries(d, kTypes); }, DialogAnswer::kCancel);
    EXPECT_EQ(rgbEntries, ProcessTexts({10, 11, 12, 13, 14, 15, 16, 17}));

    for (int entry = 0; entry < 8; ++entry) {
        OD_ProcData lab = Order(kODClassLab, 17);
        std::vector<std::string> labEntries;
        ASSERT_TRUE(Edit(lab, [&](IControlView* d) {
            labEntries = Entries(d, kTypes);
            EXPECT_EQ(Chosen(d, kTypes), 7);
            EXPECT_TRUE(WidgetDriver::Choose(d, kTypes, entry));
        }));
        EXPECT_EQ(labEntries, rgbEntries);
        EXPECT_EQ(lab.processCode, 10 + entry);
    }
}

TEST_F(DialogsTest, ImageOptionsOpenOnTheEntryOfTheStoredCode) {
    struct Case {
        uint32_t imageClass;
        int16_t code;
        std::vector<std::string> entries;
        int32_t chosen;
    };
    const Case cases[] = {
        {kODClassGray, 3, ProcessTexts({1, 2, 3, 4}), 2},
        {kODClassRGB, 16, ProcessTexts({10, 11, 12, 13, 14, 15, 16, 17}), 6},
        {kODClassCMYK, 22, ProcessTexts({20, 21, 22, 23, 24}), 2},
        // A code of another group chooses nothing, and OK keeps it.
        {kODClassCMYK, 12, ProcessTexts({20, 21, 22, 23, 24}), -1},
    };
    for (const Case& c : cases) {
        OD_ProcData order = Order(c.imageClass, c.code);
        ASSERT_TRUE(Edit(order, [&](IControlView* d) {
            EXPECT_EQ(Entries(d, kTypes), c.entries);
            EXPECT_EQ(Chosen(d, kTypes), c.chosen) << c.code;
            EXPECT_TRUE(IsEnabled(d, kTypes));
            EXPECT_TRUE(IsEnabled(d, kOrdoImgOptTypeLabelWidgetID));
        }));
        EXPECT_EQ(order.processCode, c.code);
    }
}

TEST_F(DialogsTest, ImageOptionsOKMakesAnOrderReadyAndKeepsOtherStatuses) {
    const std::pair<uint16_t, uint16_t> cases[] = {
        {kODStatusNone, kODStatusReady},  {kODStatusProvisional, kODStatusReady},
        {kODStatusDone, kODStatusDone},   {kODStatusReplyMinus1, kODStatusReplyMinus1},
        {kODStatusReady, kODStatusReady},
    };
    for (auto [before, after] : cases) {
        OD_ProcData order = Order(kODClassRGB, 10, before);
        EXPECT_TRUE(Edit(order, [](IControlView*) {}));
        EXPECT_EQ(order.status, after) << before;
    }
    // Cancel leaves the order alone, whatever was done in the dialog.
    OD_ProcData order = Order(kODClassRGB, 10, kODStatusProvisional);
    const OD_ProcData before = order;
    EXPECT_FALSE(Edit(
        order,
        [](IControlView* d) {
            WidgetDriver::Choose(d, kTypes, 3);
            WidgetDriver::Type(d, kDest, "Other");
        },
        DialogAnswer::kCancel));
    EXPECT_EQ(order, before);
}

TEST_F(DialogsTest, ImageOptionsUnsupportedPixelTypesFixTheProcessAndSaySo) {
    for (uint32_t imageClass : {kODClassFullColor, kODClassUnknown}) {
        OD_ProcData order = Order(imageClass, 0);
        ASSERT_TRUE(Edit(order, [](IControlView* d) {
            EXPECT_TRUE(Entries(d, kTypes).empty());
            EXPECT_FALSE(IsEnabled(d, kTypes));
            EXPECT_FALSE(IsEnabled(d, kOrdoImgOptTypeLabelWidgetID));
            EXPECT_FALSE(WidgetDriver::Choose(d, kTypes, 0));
            EXPECT_EQ(Shown(d, kOrdoImgOptStatusTextWidgetID),
                      "Dimensions are OK\nThe image type is unknown so the process option is "
                      "disabled");
        }));
        EXPECT_EQ(order.processCode, 0);
        EXPECT_EQ(order.status, kODStatusReady);
    }
    // A supported type shows the status as it is given.
    OD_ProcData order = Order(kODClassRGB, 10);
    Edit(order, [](IControlView* d) {
        EXPECT_EQ(Shown(d, kOrdoImgOptStatusTextWidgetID), "Dimensions are OK");
        EXPECT_EQ(Shown(d, kOrdoImgOptHeadingWidgetID), "RGB Image Parameter(s)");
    });
}

TEST_F(DialogsTest, ImageOptionsWithoutAServerConfigurationLeaveTheListsEmptyAndStillStore) {
    // No server at all, then a server path whose tree is missing.
    for (bool withPath : {false, true}) {
        if (withPath) {
            OD_PrefsData prefs = Prefs();
            prefs.SetServerPath((servers / "nowhere/qorserver").c_str());
            SetPrefs(prefs);
            EXPECT_FALSE(OpenServerLink(session, true, false));
        }
        OD_ProcData order = Order(kODClassRGB, 10);
        order.profile = PMString("Web RGB");
        order.prefix = PMString("Neutral");
        ASSERT_TRUE(Edit(order, [](IControlView* d) {
            EXPECT_TRUE(Entries(d, kProcesses).empty());
            EXPECT_TRUE(Entries(d, kPrefixes).empty());
            EXPECT_TRUE(WidgetDriver::Choose(d, kTypes, 2));
            EXPECT_TRUE(WidgetDriver::Type(d, kDest, "Renamed"));
        }));
        EXPECT_EQ(order.status, kODStatusReady);
        EXPECT_EQ(order.processCode, 12);
        EXPECT_EQ(order.outputName, "Renamed");
        EXPECT_EQ(order.profile, "Web RGB");
        EXPECT_EQ(order.prefix, "Neutral");
    }
}

TEST_F(DialogsTest, ImageOptionsOfferTheServersProcessesAndNamedSetsByClass) {
    UseServer(MakeServerA(servers / "a"));
    const std::vector<std::string> processes = {"Default Process", "Web RGB", "Newsprint CMYK",
                                                "Broken"};
    struct Case {
        uint32_t imageClass;
        int16_t code;
        std::vector<std::string> prefixes;
    };
    const Case cases[] = {
        {kODClassGray, 1, {"Soft"}}, // "Archive" names no set
        {kODClassRGB, 10, {"Bright", "Neutral"}},
        {kODClassLab, 10, {"Bright", "Neutral"}},
        {kODClassCMYK, 20, {}},
    };
    for (const Case& c : cases) {
        OD_ProcData order = Order(c.imageClass, c.code);
        order.profile = PMString("Newsprint CMYK");
        Edit(
            order,
            [&](IControlView* d) {
                EXPECT_EQ(Entries(d, kProcesses), processes);
                EXPECT_EQ(Chosen(d, kProcesses), 2);
                EXPECT_EQ(Entries(d, kPrefixes), c.prefixes);
            },
            DialogAnswer::kCancel);
    }

    // The prefix list goes with correction processes.
    OD_ProcData order = Order(kODClassRGB, 10);
    order.prefix = PMString("Neutral");
    ASSERT_TRUE(Edit(order, [](IControlView* d) {
        EXPECT_EQ(Chosen(d, kPrefixes), 1);
        EXPECT_EQ(Chosen(d, kProcesses), 0) << "an empty profile is the default process";
        EXPECT_TRUE(IsShown(d, kPrefixes));
        EXPECT_TRUE(WidgetDriver::Choose(d, kTypes, 4)); // Gray Conversion
        EXPECT_FALSE(IsShown(d, kPrefixes));
        EXPECT_FALSE(IsShown(d, kOrdoImgOptPrefixLabelWidgetID));
        EXPECT_TRUE(WidgetDriver::Choose(d, kTypes, 3)); // Correction+Gray Conversion
        EXPECT_TRUE(IsShown(d, kPrefixes));
        EXPECT_TRUE(IsShown(d, kOrdoImgOptPrefixLabelWidgetID));
        EXPECT_TRUE(WidgetDriver::Choose(d, kPrefixes, 0));
        EXPECT_TRUE(WidgetDriver::Choose(d, kProcesses, 1));
    }));
    EXPECT_EQ(order.prefix, "Bright");
    EXPECT_EQ(order.profile, "Web RGB");
    EXPECT_EQ(order.processCode, 13) << "Web RGB gives RGB images Correction+Gray Conversion";

    // A non-correction order opens without the prefix list.
    OD_ProcData plain = Order(kODClassRGB, 14);
    Edit(
        plain, [](IControlView* d) { EXPECT_FALSE(IsShown(d, kPrefixes)); }, DialogAnswer::kCancel);

    // Choosing "Default Process" names the server's default profile: an empty name.
    OD_ProcData named = Order(kODClassRGB, 10);
    named.profile = PMString("Web RGB");
    ASSERT_TRUE(Edit(named, [](IControlView* d) { WidgetDriver::Choose(d, kProcesses, 0); }));
    EXPECT_EQ(named.profile, "");
    // A profile the server no longer has stays as it was.
    OD_ProcData gone = Order(kODClassRGB, 10);
    gone.profile = PMString("Retired");
    ASSERT_TRUE(Edit(gone, [](IControlView* d) { EXPECT_EQ(Chosen(d, kProcesses), -1); }));
    EXPECT_EQ(gone.profile, "Retired");
}

TEST_F(DialogsTest, ImageOptionsAChosenProcessSetsTheProcessTypeItGivesTheImage) {
    UseServer(MakeServerA(servers / "a"));
    struct Case {
        uint32_t imageClass;
        int16_t start;
        const char* profile;
        int16_t code;
    };
    const Case cases[] = {
        {kODClassGray, 4, "Newsprint CMYK", 3},
        {kODClassRGB, 17, "Newsprint CMYK", 12},
        {kODClassLab, 17, "Web RGB", 13},
        {kODClassCMYK, 20, "Web RGB", 21},
        {kODClassCMYK, 20, "Default Process", 24},
        // A profile that did not read leaves the process type alone.
        {kODClassRGB, 15, "Broken", 15},
    };
    for (const Case& c : cases) {
        OD_ProcData order = Order(c.imageClass, c.start);
        order.profile = PMString("Retired"); // none of the server's: nothing chosen yet
        ASSERT_TRUE(Edit(order, [&](IControlView* d) {
            EXPECT_TRUE(WidgetDriver::ChooseEntry(d, kProcesses, PMString(c.profile)));
        }));
        EXPECT_EQ(order.processCode, c.code) << c.profile;
    }
}

TEST_F(DialogsTest, ImageOptionsKeepAPrefixThatIsNoneOfTheServersSets) {
    UseServer(MakeServerA(servers / "a"));
    OD_ProcData order = Order(kODClassRGB, 10);
    order.prefix = PMString("ABCDE"); // from a file named "ABCDE#Photo.tif"
    ASSERT_TRUE(Edit(order, [](IControlView* d) {
        EXPECT_EQ(Entries(d, kPrefixes), (std::vector<std::string>{"ABCDE", "Bright", "Neutral"}));
        EXPECT_EQ(Chosen(d, kPrefixes), 0);
    }));
    EXPECT_EQ(order.prefix, "ABCDE");
}

TEST_F(DialogsTest, ImageOptionsDestinationFollowsReplaceOriginal) {
    // Editable when the processed image is saved beside the original.
    OD_ProcData order = Order(kODClassRGB, 10);
    ASSERT_TRUE(Edit(order, [](IControlView* d) {
        EXPECT_TRUE(IsShown(d, kDest));
        EXPECT_TRUE(IsShown(d, kOrdoImgOptDestLabelWidgetID));
        EXPECT_EQ(Shown(d, kDest), "Photo");
        EXPECT_TRUE(WidgetDriver::Type(d, kDest, "Photo-web"));
    }));
    EXPECT_EQ(order.outputName, "Photo-web");

    // Fixed, reading "Same as original", when it replaces the original; the
    // order keeps its name.
    OD_PrefsData prefs = Prefs();
    prefs.SetRepSrc(true);
    SetPrefs(prefs);
    OD_ProcData replaced = Order(kODClassRGB, 10);
    ASSERT_TRUE(Edit(replaced, [](IControlView* d) {
        EXPECT_TRUE(IsShown(d, kDest));
        EXPECT_FALSE(IsEnabled(d, kDest));
        EXPECT_EQ(Shown(d, kDest), "Same as original");
        EXPECT_FALSE(WidgetDriver::Type(d, kDest, "x"));
    }));
    EXPECT_EQ(replaced.outputName, "Photo");

    // Orders edited as a group come without a name: field and label hidden.
    OD_ProcData group = Order(kODClassRGB, 10);
    group.outputName = PMString();
    ASSERT_TRUE(Edit(group, [](IControlView* d) {
        EXPECT_FALSE(IsShown(d, kDest));
        EXPECT_FALSE(IsShown(d, kOrdoImgOptDestLabelWidgetID));
    }));
    EXPECT_EQ(group.outputName, "");
}

TEST_F(DialogsTest, ImageOptionsPreferenceFileList) {
    UseServer(MakeServerA(servers / "a"));
    OD_PrefsData own;
    own.SetRepSrc(true);
    own.SetDefaultProcess(PMString("Newsprint CMYK"));
    ASSERT_TRUE(SavePreferenceFile(own, PreferenceFilePath("Newsprint.opf")));
    ASSERT_TRUE(SavePreferenceFile(OD_PrefsData(), PreferenceFilePath("Plain.opf")));
    WriteFile(PreferenceFilePath("notes.txt"), "not a preference file");
    WriteFile(PreferenceFilePath("Damaged.opf"), "not a preference file either");

    // Switched off: no list, and the order's preference file stays.
    OD_ProcData order = Order(kODClassRGB, 17);
    order.prefsFileName = PMString("Plain.opf");
    ASSERT_TRUE(Edit(order, [](IControlView* d) {
        EXPECT_FALSE(IsShown(d, kPrefsFiles));
        EXPECT_FALSE(IsShown(d, kOrdoImgOptPrefsLabelWidgetID));
        EXPECT_FALSE(WidgetDriver::Choose(d, kPrefsFiles, 0));
    }));
    EXPECT_EQ(order.prefsFileName, "Plain.opf");

    OD_PrefsData prefs = Prefs();
    prefs.SetShowPrefs(true);
    SetPrefs(prefs);
    // Switched on: the files of the identity folder; the order's is chosen.
    ASSERT_TRUE(Edit(order, [](IControlView* d) {
        EXPECT_TRUE(IsShown(d, kPrefsFiles));
        EXPECT_EQ(Entries(d, kPrefsFiles),
                  (std::vector<std::string>{"Default Preferences", "Damaged.opf", "Newsprint.opf",
                                            "Plain.opf"}));
        EXPECT_EQ(Chosen(d, kPrefsFiles), 3);
        EXPECT_TRUE(IsEnabled(d, kDest));
        // A file that does not read brings nothing.
        EXPECT_TRUE(WidgetDriver::Choose(d, kPrefsFiles, 1));
        EXPECT_EQ(Chosen(d, kProcesses), 0);
        EXPECT_EQ(Chosen(d, kTypes), 7);
        EXPECT_TRUE(IsEnabled(d, kDest));
        // A file brings its default process, with the process type that
        // gives, and its replace-original setting.
        EXPECT_TRUE(WidgetDriver::Choose(d, kPrefsFiles, 2));
        EXPECT_EQ(Chosen(d, kProcesses), 2);
        EXPECT_EQ(Chosen(d, kTypes), 2);
        EXPECT_FALSE(IsEnabled(d, kDest));
        EXPECT_EQ(Shown(d, kDest), "Same as original");
    }));
    EXPECT_EQ(order.prefsFileName, "Newsprint.opf");
    EXPECT_EQ(order.profile, "Newsprint CMYK");
    EXPECT_EQ(order.processCode, 12);
    EXPECT_EQ(order.outputName, "Photo");

    // An order governed by that file opens as it says; "Default Preferences"
    // brings back the session's and names no file.
    ASSERT_TRUE(Edit(order, [](IControlView* d) {
        EXPECT_FALSE(IsEnabled(d, kDest));
        EXPECT_TRUE(WidgetDriver::Choose(d, kPrefsFiles, 0));
        EXPECT_TRUE(IsEnabled(d, kDest));
        EXPECT_EQ(Shown(d, kDest), "Photo");
        EXPECT_EQ(Chosen(d, kProcesses), 0);
    }));
    EXPECT_EQ(order.prefsFileName, "");
    EXPECT_EQ(order.profile, "");
}

// ============================================================================
// The preferences dialog

namespace {
constexpr WidgetID kOPIControls[] = {kOrdoPrefLowResButtonWidgetID, kOrdoPrefLowResPathWidgetID,
                                     kOrdoPrefOPINoteWidgetID, kOrdoPrefLowResExtLabelWidgetID,
                                     kOrdoPrefLowResExtWidgetID};
constexpr WidgetID kLimitControls[] = {kOrdoPrefUpSmpMaxWidgetID, kOrdoPrefDownSmpMinWidgetID,
                                       kOrdoPrefLessThanLabelWidgetID,
                                       kOrdoPrefGreaterThanLabelWidgetID};
constexpr WidgetID kReplaceDependants[] = {kOrdoPrefFolderButtonWidgetID,
                                           kOrdoPrefFolderPathWidgetID, kOrdoPrefOverwriteWidgetID,
                                           kOrdoPrefDelSrcWidgetID};
template <std::size_t N> int Usable(IControlView* d, const WidgetID (&ids)[N]) {
    int n = 0;
    for (WidgetID id : ids) {
        n += WidgetDriver::IsUsable(d, id) ? 1 : 0;
    }
    return n;
}
bool Checked(IControlView* d, WidgetID id) {
    return WidgetUtils::IsChecked(d, id);
}
} // namespace

TEST_F(DialogsTest, PreferencesOpenWithTheSessionsRecord) {
    const std::string server = MakeServerA(servers / "a");
    UseServer(server);
    OD_PrefsData prefs = Prefs();
    prefs.SetResolution(300);
    prefs.SetDownSmpMin(12.5);
    prefs.SetUpSmpMax(175);
    prefs.SetFrequency(9);
    prefs.SetOutFolder((servers / "out").c_str());
    prefs.SetOpiLoResFolder((servers / "lowres").c_str());
    prefs.SetOpiSuffix(PMString("_lr"));
    prefs.SetOpiActive(true);
    prefs.SetQualityControl(false);
    prefs.SetAutoImport(true);
    prefs.SetDefaultProcess(PMString("Web RGB"));
    SetPrefs(prefs);

    EXPECT_TRUE(EditPrefs([&](IControlView* d) {
        EXPECT_EQ(d->GetWidgetID(), kOrdoPrefDlgWidgetID);
        EXPECT_EQ(Shown(d, kOrdoPrefDlgWidgetID), "velmaris OrdoDesk Preferences");
        EXPECT_EQ(Shown(d, kOrdoPrefServerPathWidgetID), server);
        EXPECT_EQ(Shown(d, kOrdoPrefFolderPathWidgetID), servers / "out");
        EXPECT_EQ(Shown(d, kOrdoPrefLowResPathWidgetID), servers / "lowres");
        EXPECT_EQ(Shown(d, kOrdoPrefLowResExtWidgetID), "_lr");
        EXPECT_EQ(Shown(d, kOrdoPrefResolutionWidgetID), "300");
        EXPECT_EQ(Shown(d, kOrdoPrefDownSmpMinWidgetID), "12.5");
        EXPECT_EQ(Shown(d, kOrdoPrefUpSmpMaxWidgetID), "175");
        EXPECT_EQ(Shown(d, kOrdoPrefFrequencyWidgetID), "9");
        EXPECT_TRUE(Checked(d, kOrdoPrefAutoUpdateWidgetID));
        EXPECT_TRUE(Checked(d, kOrdoPrefOPIActiveWidgetID));
        EXPECT_FALSE(Checked(d, kOrdoPrefQualityControlWidgetID));
        EXPECT_TRUE(Checked(d, kOrdoPrefAutoImportWidgetID));
        EXPECT_FALSE(Checked(d, kOrdoPrefRepSrcWidgetID));
        EXPECT_EQ(Usable(d, kOPIControls), 5);
        EXPECT_EQ(Usable(d, kLimitControls), 0);
        EXPECT_TRUE(WidgetDriver::IsUsable(d, kOrdoPrefFrequencyWidgetID));
        EXPECT_EQ(Usable(d, kReplaceDependants), 4);
        EXPECT_EQ(
            Entries(d, kOrdoPrefProcessListWidgetID),
            (std::vector<std::string>{"Default Process", "Web RGB", "Newsprint CMYK", "Broken"}));
        EXPECT_EQ(Chosen(d, kOrdoPrefProcessListWidgetID), 1);
        EXPECT_EQ(WidgetUtils::FindWidget(d, kOrdoPrefCheckSrcWidgetID), nullptr);
    }));
    // OK without a change gives the record back as it was.
    EXPECT_EQ(Prefs(), prefs);

    // checkSrc has no box: it is carried either way.
    prefs.SetCheckSrc(false);
    SetPrefs(prefs);
    EXPECT_TRUE(EditPrefs([](IControlView*) {}));
    EXPECT_FALSE(Prefs().GetCheckSrc());
}

TEST_F(DialogsTest, PreferencesCheckBoxesSwitchTheirControlsAndReachTheSessionOnOK) {
    EXPECT_TRUE(EditPrefs([&](IControlView* d) {
        // Defaults: OPI off, quality control on, automatic update on.
        EXPECT_EQ(Usable(d, kOPIControls), 0);
        EXPECT_TRUE(WidgetDriver::Press(d, kOrdoPrefOPIActiveWidgetID));
        EXPECT_EQ(Usable(d, kOPIControls), 5);
        EXPECT_TRUE(WidgetDriver::Type(d, kOrdoPrefLowResExtWidgetID, "_lo"));
        EXPECT_TRUE(WidgetDriver::Press(d, kOrdoPrefOPIActiveWidgetID));
        EXPECT_EQ(Usable(d, kOPIControls), 0);
        EXPECT_TRUE(WidgetDriver::Press(d, kOrdoPrefOPIActiveWidgetID));

        EXPECT_EQ(Usable(d, kLimitControls), 4);
        EXPECT_TRUE(WidgetDriver::SetChecked(d, kOrdoPrefQualityControlWidgetID, false));
        EXPECT_EQ(Usable(d, kLimitControls), 0);

        EXPECT_TRUE(WidgetDriver::IsUsable(d, kOrdoPrefFrequencyWidgetID));
        EXPECT_TRUE(WidgetDriver::SetChecked(d, kOrdoPrefAutoUpdateWidgetID, false));
        EXPECT_FALSE(WidgetDriver::IsUsable(d, kOrdoPrefFrequencyWidgetID));
        EXPECT_FALSE(WidgetDriver::IsUsable(d, kOrdoPrefFrequencyLabelWidgetID));

        EXPECT_TRUE(WidgetDriver::Press(d, kOrdoPrefShowPrefsWidgetID));
        EXPECT_TRUE(WidgetDriver::Press(d, kOrdoPrefAutoImportWidgetID));
        // Nothing has reached the session yet.
        EXPECT_EQ(Prefs(), OD_PrefsData());
    }));
    const OD_PrefsData prefs = Prefs();
    EXPECT_TRUE(prefs.GetOpiActive());
    EXPECT_EQ(prefs.GetOpiSuffix(), "_lo");
    EXPECT_FALSE(prefs.GetQualityControl());
    EXPECT_FALSE(prefs.GetAutoUpdt());
    EXPECT_TRUE(prefs.GetShowPrefs());
    EXPECT_TRUE(prefs.GetAutoImport());

    // The same work cancelled changes nothing.
    EXPECT_FALSE(EditPrefs(
        [](IControlView* d) {
            WidgetDriver::Press(d, kOrdoPrefOPIActiveWidgetID);
            WidgetDriver::Type(d, kOrdoPrefResolutionWidgetID, "600");
        },
        DialogAnswer::kCancel));
    EXPECT_EQ(Prefs(), prefs);
}

TEST_F(DialogsTest, PreferencesReplaceOriginalTakesOverItsFourDependants) {
    EXPECT_TRUE(EditPrefs([](IControlView* d) {
        WidgetDriver::SetChecked(d, kOrdoPrefDelSrcWidgetID, true);
        EXPECT_TRUE(WidgetDriver::Press(d, kOrdoPrefRepSrcWidgetID));
        EXPECT_EQ(Usable(d, kReplaceDependants), 0);
        EXPECT_TRUE(Checked(d, kOrdoPrefOverwriteWidgetID));
        EXPECT_FALSE(Checked(d, kOrdoPrefDelSrcWidgetID));
    }));
    EXPECT_TRUE(Prefs().GetRepSrc());
    EXPECT_TRUE(Prefs().GetOvrWrDest());
    EXPECT_FALSE(Prefs().GetDelSrc());

    EXPECT_TRUE(EditPrefs([](IControlView* d) {
        // Opens with the four fixed, as they were left.
        EXPECT_EQ(Usable(d, kReplaceDependants), 0);
        EXPECT_TRUE(WidgetDriver::Press(d, kOrdoPrefRepSrcWidgetID));
        EXPECT_EQ(Usable(d, kReplaceDependants), 4);
        EXPECT_FALSE(Checked(d, kOrdoPrefOverwriteWidgetID));
        EXPECT_FALSE(Checked(d, kOrdoPrefDelSrcWidgetID));
        EXPECT_TRUE(WidgetDriver::Press(d, kOrdoPrefDelSrcWidgetID));
    }));
    EXPECT_FALSE(Prefs().GetRepSrc());
    EXPECT_FALSE(Prefs().GetOvrWrDest());
    EXPECT_TRUE(Prefs().GetDelSrc());
}

TEST_F(DialogsTest, PreferencesDescribeTheChosenDefaultProcess) {
    UseServer(MakeServerA(servers / "a"));
    std::vector<std::string> descriptions;
    EXPECT_TRUE(EditPrefs([&](IControlView* d) {
        descriptions.push_back(Shown(d, kOrdoPrefDescriptionWidgetID));
        for (int32_t n : {1, 2, 3, 0}) {
            EXPECT_TRUE(WidgetDriver::Choose(d, kOrdoPrefProcessListWidgetID, n));
            descriptions.push_back(Shown(d, kOrdoPrefDescriptionWidgetID));
        }
        EXPECT_TRUE(WidgetDriver::Choose(d, kOrdoPrefProcessListWidgetID, 2));
    }));
    const std::string byDefault = "-Gray: Correction, Gray, TIFF\n"
                                  "-RGB : Correction, RGB, TIFF\n"
                                  "-CMYK: No Correction, CMYK, TIFF\n";
    EXPECT_EQ(descriptions, (std::vector<std::string>{
                                byDefault,
                                "-Gray: Correction, Gray, JPEG\n"
                                "-RGB : Correction, Gray Conversion, Gray, JPEG\n"
                                "-CMYK: RGB Conversion, RGB, JPEG\n",
                                "-Gray: Correction, CMYK Conversion, CMYK, TIFF\n"
                                "-RGB : Correction, CMYK Conversion, CMYK, TIFF\n"
                                "-CMYK: No Correction, CMYK, TIFF\n",
                                "-Gray: Unknown, ?, ????\n"
                                "-RGB : Unknown, ?, ????\n"
                                "-CMYK: Unknown, ?, ????\n",
                                byDefault,
                            }));
    EXPECT_EQ(Prefs().GetDefaultProcess(), "Newsprint CMYK");
    EXPECT_EQ(DescribeJobProfile(nullptr), "");

    // "Default Process" is the server's default profile: an empty name, which
    // orders and tickets take as the default.
    EXPECT_TRUE(EditPrefs([](IControlView* d) {
        EXPECT_EQ(Chosen(d, kOrdoPrefProcessListWidgetID), 2);
        WidgetDriver::Choose(d, kOrdoPrefProcessListWidgetID, 0);
    }));
    EXPECT_EQ(Prefs().GetDefaultProcess(), "");
    EXPECT_TRUE(
        EditPrefs([](IControlView* d) { EXPECT_EQ(Chosen(d, kOrdoPrefProcessListWidgetID), 0); }));
}

TEST_F(DialogsTest, PreferencesANewServerIsTakenAtOnceAndCancelKeepsIt) {
    const std::string a = MakeServerA(servers / "a");
    const std::string b = MakeServerB(servers / "b");
    UseServer(a);
    ASSERT_TRUE(ConnectForSending(session, false));
    ASSERT_EQ(CountLines(servers / "a/Data/tmp", "CONNECT"), 1);

    choosers.Answer(b);
    EXPECT_FALSE(EditPrefs(
        [&](IControlView* d) {
            EXPECT_TRUE(WidgetDriver::Type(d, kOrdoPrefResolutionWidgetID, "600"));
            EXPECT_TRUE(WidgetDriver::Press(d, kOrdoPrefServerButtonWidgetID));
            // The switch is immediate: the old server heard of it, the
            // session names the new one, the dialog shows its processes.
            EXPECT_EQ(CountLines(servers / "a/Data/tmp", "DECONNECT"), 1);
            EXPECT_EQ(std::string(Prefs().GetServerPath()), b);
            EXPECT_EQ(LinkPath(), b);
            EXPECT_EQ(Shown(d, kOrdoPrefServerPathWidgetID), b);
            EXPECT_EQ(Entries(d, kOrdoPrefProcessListWidgetID),
                      (std::vector<std::string>{"Default Process", "Press"}));
            EXPECT_EQ(Shown(d, kOrdoPrefResolutionWidgetID), "600");
        },
        DialogAnswer::kCancel));
    EXPECT_EQ(std::string(Prefs().GetServerPath()), b);
    EXPECT_EQ(Link().GetParameters()->Curparam().ProfileCount(), 1);
    EXPECT_EQ(Prefs().GetResolution(), 200.0) << "typed edits go with Cancel";

    const ChooserRequest& asked = choosers.Requests().at(0);
    EXPECT_EQ(asked.kind, ChooserKind::kOpenFile);
    EXPECT_EQ(asked.title, "Select the QOR Server Application");
    EXPECT_EQ(asked.startFolder, servers / "a");
}

TEST_F(DialogsTest, PreferencesAServerThatCannotBeOpenedIsNotTaken) {
    const std::string a = MakeServerA(servers / "a");
    UseServer(a);
    const std::string noTmp = MakeServerB(servers / "no-tmp");
    fs::remove_all(servers / "no-tmp/Data/tmp");
    const std::string noService = MakeServerB(servers / "no-service");
    fs::remove_all(servers / "no-service/Data/service");

    // Also while the session is connected, when the link it lends the dialog
    // is open already.
    for (bool connected : {false, true}) {
        if (connected) {
            ASSERT_TRUE(ConnectForSending(session, false));
        }
        for (const std::string& bad : {noTmp, noService, servers / "missing/qorserver"}) {
            alerts.Clear();
            choosers.Answer(bad);
            EXPECT_TRUE(EditPrefs([&](IControlView* d) {
                EXPECT_TRUE(WidgetDriver::Press(d, kOrdoPrefServerButtonWidgetID));
                EXPECT_EQ(Shown(d, kOrdoPrefServerPathWidgetID), a);
                EXPECT_EQ(Entries(d, kOrdoPrefProcessListWidgetID).size(), 4u);
            }));
            EXPECT_EQ(std::string(Prefs().GetServerPath()), a) << bad;
            EXPECT_EQ(LinkPath(), a);
            EXPECT_EQ(Link().GetEndPoint()->GetState(false) != 0, connected);
            ASSERT_EQ(alerts.Alerts().size(), 1u);
            EXPECT_EQ(alerts.Alerts()[0].kind, AlertKind::kWarning);
        }
    }
    EXPECT_EQ(CountLines(servers / "a/Data/tmp", "DECONNECT"), 0);
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
        EXPECT_EQ(Shown(d, kOrdoPrefFolderPathWidgetID), servers / "out");
        EXPECT_EQ(Shown(d, kOrdoPrefLowResPathWidgetID), servers / "lowres");
    }));
    EXPECT_EQ(std::string(Prefs().GetOutFolder()), servers / "out");
    EXPECT_EQ(std::string(Prefs().GetOpiLoResFolder()), servers / "lowres");
    ASSERT_EQ(choosers.Requests().size(), 2u);
    for (const ChooserRequest& r : choosers.Requests()) {
        EXPECT_EQ(r.kind, ChooserKind::kFolder);
        EXPECT_EQ(r.title, "Select Folder");
    }

    // A folder whose path the record cannot hold is refused, not cut.
    std::string deep = servers.Path();
    while (deep.size() <= 300) {
        deep = (fs::path(deep) / "deeper-and-deeper").string();
    }
    MakeDirs(deep);
    choosers.Answer(deep);
    EXPECT_TRUE(EditPrefs([&](IControlView* d) {
        WidgetDriver::Press(d, kOrdoPrefFolderButtonWidgetID);
        EXPECT_EQ(Shown(d, kOrdoPrefFolderPathWidgetID), servers / "out");
    }));
    EXPECT_EQ(std::string(Prefs().GetOutFolder()), servers / "out");
    EXPECT_EQ(alerts.Alerts().size(), 1u);
}

TEST_F(DialogsTest, PreferencesSaveAsThenLoadGivesTheSameRecord) {
    const std::string a = MakeServerA(servers / "a");
    const std::string b = MakeServerB(servers / "b");
    UseServer(a);
    MakeDirs(servers / "out");

    // Save what the dialog shows, typed values included.
    choosers.Answer(servers / "out");
    choosers.Answer(PreferenceFilePath("Studio"));
    EXPECT_FALSE(EditPrefs(
        [&](IControlView* d) {
            WidgetDriver::Type(d, kOrdoPrefResolutionWidgetID, "300");
            WidgetDriver::Type(d, kOrdoPrefFrequencyWidgetID, "12");
            WidgetDriver::Type(d, kOrdoPrefDownSmpMinWidgetID, "20");
            WidgetDriver::Press(d, kOrdoPrefOPIActiveWidgetID);
            WidgetDriver::Type(d, kOrdoPrefLowResExtWidgetID, "_lr");
            WidgetDriver::Press(d, kOrdoPrefShowPrefsWidgetID);
            EXPECT_TRUE(WidgetDriver::Press(d, kOrdoPrefFolderButtonWidgetID));
            EXPECT_TRUE(WidgetDriver::Press(d, kOrdoPrefRepSrcWidgetID));
            WidgetDriver::Choose(d, kOrdoPrefProcessListWidgetID, 1);
            EXPECT_TRUE(WidgetDriver::Press(d, kOrdoPrefSaveAsWidgetID));
        },
        DialogAnswer::kCancel));
    const ChooserRequest& save = choosers.Requests().at(1);
    EXPECT_EQ(save.kind, ChooserKind::kSaveFile);
    EXPECT_EQ(save.title, "Save Preferences As");
    EXPECT_EQ(save.suggestedName, "OrdoDeskPref");
    ASSERT_EQ(save.filters.size(), 1u);
    EXPECT_EQ(save.filters[0].family, "Preference File");
    EXPECT_EQ(save.filters[0].extension, "opf");
    EXPECT_EQ(save.startFolder, identity);

    OD_PrefsData saved;
    ASSERT_TRUE(LoadPreferenceFile(PreferenceFilePath("Studio.opf"), saved));
    EXPECT_EQ(saved.GetResolution(), 300.0);
    EXPECT_EQ(saved.GetFrequency(), 12);
    EXPECT_EQ(saved.GetDownSmpMin(), 20.0);
    EXPECT_TRUE(saved.GetOpiActive());
    EXPECT_EQ(saved.GetOpiSuffix(), "_lr");
    EXPECT_TRUE(saved.GetShowPrefs());
    EXPECT_TRUE(saved.GetRepSrc());
    EXPECT_TRUE(saved.GetOvrWrDest());
    EXPECT_EQ(saved.GetDefaultProcess(), "Web RGB");
    EXPECT_EQ(std::string(saved.GetOutFolder()), servers / "out");
    EXPECT_EQ(std::string(saved.GetServerPath()), a);
    // The cancelled dialog left the session alone.
    EXPECT_EQ(Prefs().GetResolution(), 200.0);

    // Another server and other values; loading brings the file back at once,
    // server included, and the dialog shows it.
    OD_PrefsData other = Prefs();
    other.SetResolution(72);
    SetPrefs(other);
    choosers.Answer(b);
    choosers.Answer(PreferenceFilePath("Studio.opf"));
    EXPECT_TRUE(EditPrefs([&](IControlView* d) {
        WidgetDriver::Press(d, kOrdoPrefServerButtonWidgetID);
        ASSERT_EQ(std::string(Prefs().GetServerPath()), b);
        EXPECT_TRUE(WidgetDriver::Press(d, kOrdoPrefLoadWidgetID));
        EXPECT_EQ(Prefs(), saved);
        EXPECT_EQ(LinkPath(), a);
        EXPECT_EQ(CountLines(servers / "b/Data/tmp", "DECONNECT"), 0) << "b was never connected";
        EXPECT_EQ(Shown(d, kOrdoPrefServerPathWidgetID), a);
        EXPECT_EQ(Shown(d, kOrdoPrefResolutionWidgetID), "300");
        EXPECT_EQ(Shown(d, kOrdoPrefFrequencyWidgetID), "12");
        EXPECT_EQ(Shown(d, kOrdoPrefLowResExtWidgetID), "_lr");
        EXPECT_TRUE(Checked(d, kOrdoPrefRepSrcWidgetID));
        EXPECT_EQ(Usable(d, kReplaceDependants), 0);
        EXPECT_EQ(Usable(d, kOPIControls), 5);
        EXPECT_EQ(Entries(d, kOrdoPrefProcessListWidgetID).size(), 4u);
        EXPECT_EQ(Chosen(d, kOrdoPrefProcessListWidgetID), 1);
    }));
    // OK keeps what was loaded rather than what the dialog showed before.
    EXPECT_EQ(Prefs(), saved);
    const ChooserRequest& load = choosers.Requests().back();
    EXPECT_EQ(load.kind, ChooserKind::kOpenFile);
    EXPECT_EQ(load.startFolder, identity);
    ASSERT_EQ(load.filters.size(), 2u);
    EXPECT_EQ(load.filters[0].family, "Preferences");
    EXPECT_EQ(load.filters[0].extension, "opf");
    EXPECT_EQ(load.filters[1].extension, "indd");
}

TEST_F(DialogsTest, PreferencesACancelledChooserOrABadFileChangesNothing) {
    const std::string a = MakeServerA(servers / "a");
    UseServer(a);
    OD_PrefsData prefs = Prefs();
    prefs.SetOutFolder((servers / "out").c_str());
    SetPrefs(prefs);
    WriteFile(PreferenceFilePath("Damaged.opf"), "not a preference file at all");
    const std::size_t filesBefore = ListPreferenceFiles().size();

    const WidgetID buttons[] = {kOrdoPrefServerButtonWidgetID, kOrdoPrefFolderButtonWidgetID,
                                kOrdoPrefLowResButtonWidgetID, kOrdoPrefSaveAsWidgetID,
                                kOrdoPrefLoadWidgetID};
    for (WidgetID button : buttons) {
        choosers.Answer(std::nullopt);
        EXPECT_TRUE(EditPrefs([&](IControlView* d) {
            WidgetDriver::Press(d, kOrdoPrefOPIActiveWidgetID);
            EXPECT_TRUE(WidgetDriver::Press(d, button));
            EXPECT_EQ(Shown(d, kOrdoPrefServerPathWidgetID), a);
            EXPECT_EQ(Shown(d, kOrdoPrefFolderPathWidgetID), servers / "out");
            WidgetDriver::Press(d, kOrdoPrefOPIActiveWidgetID);
        }));
        EXPECT_EQ(Prefs(), prefs) << button.Get();
    }
    EXPECT_EQ(choosers.Requests().size(), 5u);
    EXPECT_EQ(ListPreferenceFiles().size(), filesBefore);
    EXPECT_TRUE(alerts.Alerts().empty());

    // A file that does not read as preferences: told, nothing changes.
    choosers.Answer(PreferenceFilePath("Damaged.opf"));
    EXPECT_TRUE(EditPrefs([&](IControlView* d) {
        WidgetDriver::Type(d, kOrdoPrefResolutionWidgetID, "400");
        EXPECT_TRUE(WidgetDriver::Press(d, kOrdoPrefLoadWidgetID));
        EXPECT_EQ(Prefs(), prefs);
        EXPECT_EQ(Shown(d, kOrdoPrefResolutionWidgetID), "400");
    }));
    EXPECT_EQ(Prefs().GetResolution(), 400.0);
    EXPECT_EQ(AlertTexts(), (std::vector<std::string>{
                                "The preference file could not be read; the preferences are "
                                "unchanged"}));

    // A save that fails says so.
    alerts.Clear();
    choosers.Answer(servers / "no-such-folder/Mine.opf");
    EXPECT_TRUE(EditPrefs(
        [](IControlView* d) { EXPECT_TRUE(WidgetDriver::Press(d, kOrdoPrefSaveAsWidgetID)); }));
    EXPECT_EQ(AlertTexts(), (std::vector<std::string>{"The preference file could not be saved"}));
}

TEST_F(DialogsTest, PreferencesRefuseANegativeOrUnreadableUpdatePeriod) {
    // Each refused value sends the dialog back on its field, with a word
    // why; then a good value is taken.
    dialogs.Then([](IControlView* d, WidgetID refused) {
        EXPECT_EQ(refused, kInvalidWidgetID);
        WidgetDriver::Type(d, kOrdoPrefFrequencyWidgetID, "-5");
        return DialogAnswer::kOK;
    });
    for (const char* bad : {"2.5", "40000", "soon"}) {
        dialogs.Then([bad](IControlView* d, WidgetID refused) {
            EXPECT_EQ(refused, kOrdoPrefFrequencyWidgetID);
            WidgetDriver::Type(d, kOrdoPrefFrequencyWidgetID, bad);
            return DialogAnswer::kOK;
        });
    }
    dialogs.Then([](IControlView* d, WidgetID refused) {
        EXPECT_EQ(refused, kOrdoPrefFrequencyWidgetID);
        WidgetDriver::Type(d, kOrdoPrefResolutionWidgetID, "high");
        WidgetDriver::Type(d, kOrdoPrefFrequencyWidgetID, "0");
        return DialogAnswer::kOK;
    });
    dialogs.Then([](IControlView* d, WidgetID refused) {
        EXPECT_EQ(refused, kOrdoPrefResolutionWidgetID);
        WidgetDriver::Type(d, kOrdoPrefResolutionWidgetID, "250");
        return DialogAnswer::kOK;
    });
    EXPECT_TRUE(RunPreferencesDialog());
    EXPECT_EQ(dialogs.Runs().size(), 6u);
    EXPECT_EQ(Prefs().GetFrequency(), 0);
    EXPECT_EQ(Prefs().GetResolution(), 250.0);
    EXPECT_EQ(alerts.Alerts().size(), 5u);
    EXPECT_EQ(AlertTexts().front(),
              "The update period must be a whole number of seconds from 0 to 32767");
    EXPECT_EQ(AlertTexts().back(), "Please enter a number");

    // A value the user cannot reach does not hold the dialog: with automatic
    // update off, a negative period from an old record becomes 0.
    OD_PrefsData prefs = Prefs();
    prefs.SetAutoUpdt(false);
    prefs.SetFrequency(-3);
    SetPrefs(prefs);
    EXPECT_TRUE(EditPrefs([](IControlView* d) {
        EXPECT_FALSE(WidgetDriver::IsUsable(d, kOrdoPrefFrequencyWidgetID));
    }));
    EXPECT_EQ(Prefs().GetFrequency(), 0);

    // Save As refuses the same values before asking for a file.
    alerts.Clear();
    EXPECT_TRUE(EditPrefs([](IControlView* d) {
        WidgetDriver::Press(d, kOrdoPrefAutoUpdateWidgetID);
        WidgetDriver::Type(d, kOrdoPrefFrequencyWidgetID, "-1");
        EXPECT_TRUE(WidgetDriver::Press(d, kOrdoPrefSaveAsWidgetID));
        WidgetDriver::Type(d, kOrdoPrefFrequencyWidgetID, "30");
    }));
    EXPECT_TRUE(choosers.Requests().empty());
    EXPECT_EQ(alerts.Alerts().size(), 1u);
    EXPECT_EQ(Prefs().GetFrequency(), 30);
}

TEST_F(DialogsTest, PreferencesRefuseResolutionsBelow1AndLimitsOutOfOrder) {
    struct Case {
        WidgetID field;
        const char* bad;
        WidgetID refused;
        const char* alert;
    };
    const std::string lessThan = "The resampling limit \"less than\" must be above 0";
    const std::string order =
        "The resampling limit \"less than\" must be below the limit \"or greater than\"";
    const std::string resolution = "The output resolution must be at least 1 dpi";
    const Case cases[] = {
        {kOrdoPrefResolutionWidgetID, "0", kOrdoPrefResolutionWidgetID, resolution.c_str()},
        {kOrdoPrefResolutionWidgetID, "0.5", kOrdoPrefResolutionWidgetID, resolution.c_str()},
        {kOrdoPrefResolutionWidgetID, "-300", kOrdoPrefResolutionWidgetID, resolution.c_str()},
        {kOrdoPrefDownSmpMinWidgetID, "0", kOrdoPrefDownSmpMinWidgetID, lessThan.c_str()},
        {kOrdoPrefUpSmpMaxWidgetID, "-150", kOrdoPrefUpSmpMaxWidgetID,
         "The resampling limit \"or greater than\" must be above 0"},
        {kOrdoPrefDownSmpMinWidgetID, "150", kOrdoPrefDownSmpMinWidgetID, order.c_str()},
        {kOrdoPrefUpSmpMaxWidgetID, "5", kOrdoPrefDownSmpMinWidgetID, order.c_str()},
    };
    const OD_PrefsData before = Prefs();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bad);
        alerts.Clear();
        dialogs.Then([&](IControlView* d, WidgetID) {
            WidgetDriver::Type(d, c.field, c.bad);
            return DialogAnswer::kOK;
        });
        dialogs.Then([&](IControlView* d, WidgetID refused) {
            EXPECT_EQ(refused, c.refused);
            WidgetDriver::Type(d, c.field,
                               c.field == kOrdoPrefResolutionWidgetID ? "1"
                               : c.field == kOrdoPrefUpSmpMaxWidgetID ? "150"
                                                                      : "10");
            return DialogAnswer::kOK;
        });
        EXPECT_TRUE(RunPreferencesDialog());
        EXPECT_EQ(AlertTexts(), std::vector<std::string>{c.alert});
    }
    OD_PrefsData want = before;
    want.SetResolution(1);
    EXPECT_EQ(Prefs(), want);

    // With quality control off the limits cannot be reached and hold nothing.
    OD_PrefsData off = Prefs();
    off.SetQualityControl(false);
    off.SetDownSmpMin(0);
    SetPrefs(off);
    alerts.Clear();
    EXPECT_TRUE(EditPrefs([](IControlView*) {}));
    EXPECT_TRUE(alerts.Alerts().empty());
}

// ============================================================================
// Both dialogs in the user's language

namespace {

// Every text the dialog shows, translated as the front end shows it.
std::vector<std::string> AllTexts(IControlView* dialog) {
    std::vector<std::string> texts;
    for (IControlView* widget : WidgetUtils::AllWidgets(dialog)) {
        InterfacePtr<ITextControlData> text(widget, IID_ITEXTCONTROLDATA);
        if (text) {
            texts.push_back(text->GetString().Translated().GetUTF8String());
        }
        texts.push_back(widget->GetTip().Translated().GetUTF8String());
        InterfacePtr<IStringListControlData> list(widget, IID_ISTRINGLISTCONTROLDATA);
        for (int32_t n = 0; list && n < list->Length(); ++n) {
            texts.push_back(list->GetString(n).Translated().GetUTF8String());
        }
    }
    return texts;
}

bool Holds(const std::vector<std::string>& texts, const std::string& text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

} // namespace

TEST_F(DialogsTest, BothDialogsSpeakTheUsersLanguage) {
    UseServer(MakeServerA(servers / "a"));
    OD_PrefsData prefs = Prefs();
    prefs.SetShowPrefs(true);
    prefs.SetRepSrc(true);
    SetPrefs(prefs);
    struct Language {
        int locale;
        std::vector<std::string> imageOptions;
        std::vector<std::string> preferences;
        std::string description;
    };
    const Language languages[] = {
        {4,
         {"Options de traitement de l'image", "Type de traitement", "Traitement par défaut",
          "Préférences par défaut", "Identique à l'original", "Paramètre(s) d'image RVB",
          "Les dimensions sont correctes\nLe type de l'image est inconnu, l'option de traitement "
          "est donc désactivée",
          "Annuler"},
         {"Préférences velmaris OrdoDesk", "Accepter les images OPI", "Charger...", "Annuler"},
         "-Niveaux de gris: Correction, Conversion CMJN, CMJN, TIFF\n"
         "-RVB : Correction, Conversion CMJN, CMJN, TIFF\n"
         "-CMJN: Sans correction, CMJN, TIFF\n"},
        {6,
         {"Opciones de proceso de la imagen", "Tipo de proceso", "Proceso predeterminado",
          "Preferencias predeterminadas", "Igual que el original", "Parámetro(s) de imagen RGB",
          "Cancelar"},
         {"Preferencias de velmaris OrdoDesk", "Aceptar imágenes OPI", "Cargar...", "Cancelar"},
         "-Escala de grises: Corrección, Conversión CMYK, CMYK, TIFF\n"
         "-RGB : Corrección, Conversión CMYK, CMYK, TIFF\n"
         "-CMYK: Sin corrección, CMYK, TIFF\n"},
    };
    for (const Language& language : languages) {
        HostStrings::SetLocale(language.locale);
        std::vector<std::string> texts;
        // An unknown pixel type shows the status with its reason; an RGB
        // image shows the process types.
        OD_ProcData unknown = Order(kODClassUnknown, 0);
        Edit(
            unknown, [&](IControlView* d) { texts = AllTexts(d); }, DialogAnswer::kCancel);
        OD_ProcData rgb = Order(kODClassRGB, 10);
        Edit(
            rgb,
            [&](IControlView* d) {
                const auto more = AllTexts(d);
                texts.insert(texts.end(), more.begin(), more.end());
            },
            DialogAnswer::kCancel);
        for (const std::string& expected : language.imageOptions) {
            EXPECT_TRUE(Holds(texts, expected)) << language.locale << ": " << expected;
        }
        for (const std::string& text : texts) {
            EXPECT_EQ(text.find("0x71900k"), std::string::npos) << language.locale << ": " << text;
        }

        EditPrefs(
            [&](IControlView* d) {
                WidgetDriver::Choose(d, kOrdoPrefProcessListWidgetID, 2);
                texts = AllTexts(d);
            },
            DialogAnswer::kCancel);
        for (const std::string& expected : language.preferences) {
            EXPECT_TRUE(Holds(texts, expected)) << language.locale << ": " << expected;
        }
        EXPECT_TRUE(Holds(texts, language.description)) << language.locale;
        for (const std::string& text : texts) {
            EXPECT_EQ(text.find("0x71900k"), std::string::npos) << language.locale << ": " << text;
        }
    }
}
