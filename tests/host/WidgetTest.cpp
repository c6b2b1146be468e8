#include "Choosers.h"
#include "HostStrings.h"
#include "IApplication.h"
#include "ISession.h"
#include "Widgets.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using W = WidgetID;

// A panel like the orders panel, and a dialog built from plug-in classes.
constexpr ClassID kTestDialogBoss{0x92003}, kTestNotAWidgetBoss{0x92004};
constexpr ImplementationID kTestDialogControllerImpl{0x92004}, kTestDialogObserverImpl{0x92005};

constexpr WidgetID kPanelID{0x92000}, kLogTextID{0x92001}, kTrashID{0x92002}, kGoID{0x92003},
    kShowLogID{0x92004}, kListID{0x92006}, kLogAreaID{0x9200F}, kClearID{0x92012};
constexpr WidgetID kDialogID{0x92020}, kResolutionID{0x92021}, kUseResolutionID{0x92022},
    kProcessListID{0x92023}, kModeClusterID{0x92024}, kGrayID{0x92025}, kRGBID{0x92026},
    kCMYKID{0x92027}, kIconID{0x92028};

// A dialog that edits a resolution, usable only when its box is ticked, and what it stored.
struct Stored {
    double resolution = 300;
    bool use = true;
    int applied = 0;
    int updates = 0; // what the dialog's observer was told
} stored;

class TestDialogController : public CDialogController {
public:
    using CDialogController::CDialogController;
    void InitializeDialogFields(IActiveContext*) override {
        WidgetUtils::SetValue(this, kResolutionID, stored.resolution);
        WidgetUtils::SetChecked(this, kUseResolutionID, stored.use);
        WidgetUtils::FindWidget(this, kResolutionID)->Enable(stored.use);
    }
    WidgetID ValidateDialogFields(IActiveContext*) override {
        bool valid = false;
        double value = WidgetUtils::GetValue(this, kResolutionID, &valid);
        return valid && value > 0 ? kInvalidWidgetID : kResolutionID;
    }
    void ApplyDialogFields(IActiveContext*, WidgetID widgetID) override {
        EXPECT_EQ(widgetID, kOKButtonWidgetID);
        stored.resolution = WidgetUtils::GetValue(this, kResolutionID);
        stored.use = WidgetUtils::IsChecked(this, kUseResolutionID);
        ++stored.applied;
    }
};

class TestDialogObserver : public CDialogObserver {
public:
    using CDialogObserver::CDialogObserver;
    void AutoAttach() override { AttachToWidget(kUseResolutionID, IID_ITRISTATECONTROLDATA); }
    void AutoDetach() override { DetachFromWidget(kUseResolutionID, IID_ITRISTATECONTROLDATA); }
    void Update(ClassID change, ISubject*, PMIID, void*) override {
        ++stored.updates;
        WidgetUtils::Enable(this, kResolutionID, change == kTrueStateMessage);
    }
};

// An observer that is no object: counts what it is told.
class Recorder : public IObserver {
public:
    IPMUnknown* QueryInterface(PMIID) const override { return nullptr; }
    void AddRef() const override {}
    void Release() const override {}
    void Update(ClassID, ISubject*, PMIID, void*) override { ++told; }
    int Take() { return std::exchange(told, 0); }
    int told = 0;
};

const WidgetResource kPanelResource{
    .classID = kPalettePanelWidgetBoss,
    .widgetID = kPanelID,
    .text = "0x71900kOrdoPanelTitleKey",
    .frame = PMRect(0, 0, 300, 400),
    .children = {
        {.classID = kWidgetListBoxWidgetBoss,
         .widgetID = kListID,
         .frame = PMRect(0, 20, 300, 300),
         .tip = "Image Path",
         .multipleSelection = true},
        {.classID = kButtonWidgetBoss, .widgetID = kTrashID, .enabled = false},
        {.classID = kButtonWidgetBoss, .widgetID = kGoID, .enabled = false},
        {.classID = kCheckBoxWidgetBoss, .widgetID = kShowLogID, .text = "Show Log"},
        {.classID = kGroupPanelWidgetBoss,
         .widgetID = kLogAreaID,
         .frame = PMRect(0, 300, 300, 370),
         .visible = false,
         .children = {{.classID = kStaticTextWidgetBoss, .widgetID = kLogTextID},
                      {.classID = kButtonWidgetBoss, .widgetID = kClearID}}},
    }};

const WidgetResource kDialogResource{
    .classID = kTestDialogBoss,
    .widgetID = kDialogID,
    .text = "Image Processing Options",
    .children = {
        {.classID = kTextEditBoxWidgetBoss, .widgetID = kResolutionID},
        {.classID = kCheckBoxWidgetBoss, .widgetID = kUseResolutionID},
        {.classID = kDropDownListWidgetBoss,
         .widgetID = kProcessListID,
         .entries = {"0x71900kOrdoImgOptDialogDefProfileKey", "Fogra", "Newsprint"}},
        {.classID = kClusterPanelWidgetBoss,
         .widgetID = kModeClusterID,
         .children = {{.classID = kRadioButtonWidgetBoss, .widgetID = kGrayID},
                      {.classID = kRadioButtonWidgetBoss, .widgetID = kRGBID, .selected = true},
                      {.classID = kRadioButtonWidgetBoss, .widgetID = kCMYKID}}},
        {.classID = kIconWidgetBoss, .widgetID = kIconID, .rsrcID = 129},
    }};

class WidgetTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetHostForTesting();
        ObjectModel& m = ObjectModel::Get();
        m.Reset();
        RegisterHostServices();
        m.RegisterImplementation({kTestDialogControllerImpl, "TestDialogController",
                                  CreateImplementation<TestDialogController>, false});
        m.RegisterImplementation({kTestDialogObserverImpl, "TestDialogObserver",
                                  CreateImplementation<TestDialogObserver>, false});
        m.DefineClass({kTestDialogBoss,
                       kDialogBoss,
                       {{IID_IDIALOGCONTROLLER, kTestDialogControllerImpl},
                        {IID_IOBSERVER, kTestDialogObserverImpl}}});
        m.DefineClass(
            {kTestNotAWidgetBoss, kInvalidClass, {{IID_IOBSERVER, kTestDialogObserverImpl}}});
        stored = {};

        std::string why;
        panel = CreateWidgetTree(kPanelResource, &why);
        ASSERT_TRUE(panel) << why;
        dialog = CreateWidgetTree(kDialogResource, &why);
        ASSERT_TRUE(dialog) << why;
        list = InterfacePtr<IListBoxController>(WidgetUtils::FindWidget(panel.get(), kListID),
                                                IID_ILISTBOXCONTROLLER);
    }

    void TearDown() override {
        list.reset();
        panel.reset();
        dialog.reset();
        ResetHostForTesting();
        ObjectModel::Get().Reset();
        HostStrings::Reset();
    }

    void FillList(int rows) {
        for (int i = 0; i < rows; ++i) {
            list->AddRow({{{W(0x7190C), PMString(std::to_string(i)), 0}, {W(0x71909), {}, 129}}});
        }
    }

    // Outlives the widgets it is attached to.
    Recorder recorder;
    InterfacePtr<IControlView> panel;
    InterfacePtr<IControlView> dialog;
    InterfacePtr<IListBoxController> list;
};

} // namespace

TEST_F(WidgetTest, BadResourcesAndInputAreRefusedDialogsAreCancelledOrFilledCheckedApplied) {
    const std::tuple<const char*, WidgetResource, const char*> cases[] = {
        {"unknown class", {.classID = ClassID(0x12345), .widgetID = W(1)}, "makes no widget"},
        {"not a widget", {.classID = kTestNotAWidgetBoss, .widgetID = W(2)}, "makes no widget"},
        {"children under a button",
         {.classID = kButtonWidgetBoss,
          .widgetID = W(3),
          .children = {{.classID = kButtonWidgetBoss, .widgetID = W(4)}}},
         "cannot hold widgets"},
        {"a bad widget deep down",
         {.classID = kDialogBoss,
          .widgetID = W(5),
          .children = {{.classID = kGroupPanelWidgetBoss,
                        .widgetID = W(6),
                        .children = {{.classID = ClassID(0x777), .widgetID = W(7)}}}}},
         "widget 0x7: class 0x777"},
    };
    for (const auto& [name, resource, reason] : cases) {
        SCOPED_TRACE(name);
        std::string why;
        EXPECT_FALSE(CreateWidgetTree(resource, &why));
        EXPECT_NE(why.find(reason), std::string::npos) << why;
    }

    WidgetUtils::AttachToWidget(panel.get(), kTrashID, IID_ITRISTATECONTROLDATA, &recorder);
    WidgetUtils::AttachToWidget(panel.get(), kClearID, IID_ITRISTATECONTROLDATA, &recorder);
    FillList(2);
    WidgetUtils::Enable(dialog.get(), kResolutionID, true);

    namespace D = WidgetDriver;
    IControlView *p = panel.get(), *d = dialog.get();
    const std::vector<int32_t> pastTheEnd{0, 2};
    const std::pair<const char*, std::function<bool()>> refused[] = {
        {"disabled button", [&] { return D::Press(p, kTrashID); }},
        {"button in a hidden group", [&] { return D::Press(p, kClearID); }},
        {"missing widget", [&] { return D::Press(p, W(0x4242)); }},
        {"typing into a button", [&] { return D::Type(p, kGoID, "x"); }},
        {"typing into static text", [&] { return D::Type(p, kLogTextID, "x"); }},
        {"pressing an icon", [&] { return D::Press(d, kIconID); }},
        {"choosing in a list box", [&] { return D::Choose(p, kListID, 0); }},
        {"a row past the end", [&] { return D::SelectRows(p, kListID, pastTheEnd); }},
        {"double-click past the end", [&] { return D::DoubleClickRow(p, kListID, 5); }},
        {"unticking a radio button", [&] { return D::SetChecked(d, kRGBID, false); }},
        {"choosing -1", [&] { return D::Choose(d, kProcessListID, -1); }},
    };
    for (const auto& [name, input] : refused) {
        EXPECT_FALSE(input()) << name;
    }
    EXPECT_EQ(std::tuple(recorder.told, list->GetSelected().size()), std::tuple(0, 0u));

    // A disabled parent makes its children unreachable; enabling it again gives them back.
    WidgetUtils::Enable(d, kModeClusterID, false);
    EXPECT_FALSE(D::Press(d, kCMYKID));
    WidgetUtils::Enable(d, kModeClusterID, true);
    EXPECT_TRUE(D::Press(d, kCMYKID));
    WidgetUtils::Show(p, kLogAreaID, true);
    EXPECT_TRUE(D::Press(p, kClearID));
    EXPECT_EQ(recorder.told, 1);

    ASSERT_EQ(Choosers::GetChooserSink(), nullptr);
    testing::internal::CaptureStderr();
    EXPECT_EQ(DialogMgr::RunModalDialog(dialog.get()), DialogAnswer::kCancel);
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("cancelled"), std::string::npos) << said;
    EXPECT_EQ(stored.applied, 0);
    testing::internal::CaptureStderr();
    OpenFileChooser open;
    FolderChooser folder;
    EXPECT_FALSE(open.ShowDialog());
    EXPECT_FALSE(folder.ShowDialog());
    said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("cancelled"), std::string::npos) << said;
    EXPECT_TRUE(open.GetPath().empty());

    InterfacePtr<IApplication> app(GetExecutionContextSession()->QueryApplication());
    ScriptedDialogSink sink;
    ScopedDialogSink installed(&sink);
    sink.Then([&](IControlView* d, WidgetID) {
        EXPECT_EQ(WidgetUtils::GetText(d, kResolutionID).GetUTF8String(), "300");
        EXPECT_TRUE(WidgetUtils::IsChecked(d, kUseResolutionID));
        EXPECT_NE(app->GetAppFlags() & IApplication::kAppFlagModalDialog, 0u);
        // The dialog's observer makes the edit box follow the box.
        EXPECT_TRUE(WidgetDriver::Press(d, kUseResolutionID));
        EXPECT_FALSE(WidgetDriver::Type(d, kResolutionID, "150"));
        EXPECT_TRUE(WidgetDriver::Press(d, kUseResolutionID));
        EXPECT_TRUE(WidgetDriver::Type(d, kResolutionID, "-5"));
        return DialogAnswer::kOK;
    });
    sink.Then([](IControlView* d, WidgetID invalid) {
        EXPECT_EQ(invalid, kResolutionID);
        WidgetDriver::Type(d, kResolutionID, "72");
        return DialogAnswer::kOK;
    });
    EXPECT_EQ(DialogMgr::RunModalDialog(dialog.get()), DialogAnswer::kOK);
    EXPECT_EQ(std::tuple(stored.applied, stored.resolution, stored.use, stored.updates),
              std::tuple(1, 72.0, true, 2));
    ASSERT_EQ(sink.Runs().size(), 2u);
    EXPECT_EQ(sink.Runs()[0].dialogID, kDialogID);
    EXPECT_EQ(std::pair(sink.Runs()[0].invalidField, sink.Runs()[1].invalidField),
              std::pair(kInvalidWidgetID, kResolutionID));
    EXPECT_EQ(app->GetAppFlags() & IApplication::kAppFlagModalDialog, 0u);

    // Closed: its observer hears nothing more.
    WidgetUtils::SetChecked(dialog.get(), kUseResolutionID, false);
    EXPECT_EQ(stored.updates, 2);

    // Cancel keeps what was stored; so does the end of the script.
    sink.Then([](IControlView* d, WidgetID) {
        WidgetDriver::Type(d, kResolutionID, "99");
        return DialogAnswer::kCancel;
    });
    EXPECT_EQ(DialogMgr::RunModalDialog(dialog.get()), DialogAnswer::kCancel);
    EXPECT_EQ(DialogMgr::RunModalDialog(dialog.get()), DialogAnswer::kCancel);
    EXPECT_EQ(std::pair(stored.applied, stored.resolution), std::pair(1, 72.0));
    EXPECT_EQ(DialogMgr::RunModalDialog(nullptr), DialogAnswer::kCancel);
}

TEST_F(WidgetTest, RadioButtonsChoicesEditBoxesAndListBoxesKeepTheirValuesInStep) {
    auto mark = [&](WidgetID id) { return WidgetUtils::IsChecked(dialog.get(), id) ? 'x' : '-'; };
    auto selected = [&] { return std::string{mark(kGrayID), mark(kRGBID), mark(kCMYKID)}; };
    EXPECT_EQ(selected(), "-x-") << "as the resource chose";
    WidgetDriver::Press(dialog.get(), kCMYKID);
    EXPECT_EQ(selected(), "--x");
    WidgetDriver::SetChecked(dialog.get(), kGrayID, true);
    EXPECT_EQ(selected(), "x--");
    WidgetUtils::SetChecked(dialog.get(), kRGBID, true, false);
    EXPECT_EQ(selected(), "-x-");

    IControlView* view = WidgetUtils::FindWidget(dialog.get(), kProcessListID);
    InterfacePtr<IStringListControlData> entries(view, IID_ISTRINGLISTCONTROLDATA);
    InterfacePtr<IDropDownListController> choice(view, IID_IDROPDOWNLISTCONTROLLER);
    EXPECT_EQ(std::pair(entries->Length(), choice->GetSelected()), std::pair(3, -1));
    ASSERT_TRUE(choice->Select(1, false));
    EXPECT_EQ(entries->GetString(choice->GetSelected()).GetUTF8String(), "Fogra");

    entries->AddString("First", 0);
    EXPECT_EQ(entries->GetString(choice->GetSelected()).GetUTF8String(), "Fogra");
    entries->AddString("Last");
    EXPECT_EQ(entries->GetString(choice->GetSelected()).GetUTF8String(), "Fogra");
    entries->Clear();
    EXPECT_EQ(choice->GetSelected(), -1);
    EXPECT_FALSE(choice->Select(0));
    EXPECT_TRUE(entries->GetString(0).IsEmpty());

    const std::tuple<const char*, bool, double> cases[] = {
        {"300", true, 300},  {" 2.5 ", true, 2.5}, {"+4", true, 4},   {"-0.25", true, -0.25},
        {"1e3", true, 1000}, {".5", true, 0.5},    {"", false, 0},    {"  ", false, 0},
        {"abc", false, 0},   {"1,5", false, 0},    {"inf", false, 0}, {"nan", false, 0},
        {"0x10", false, 0},  {"--1", false, 0},    {"+-1", false, 0}, {"1.2.3", false, 0},
        {"12px", false, 0},  {"1e999", false, 0},  {"+", false, 0},   {"e5", false, 0},
    };
    for (const auto& [text, ok, number] : cases) {
        SCOPED_TRACE(text);
        WidgetUtils::SetText(dialog.get(), kResolutionID, text, false);
        bool valid = !ok;
        double value = WidgetUtils::GetValue(dialog.get(), kResolutionID, &valid);
        EXPECT_EQ(std::pair(valid, value), std::pair(ok, number));
    }
    const std::pair<double, const char*> written[] = {
        {300, "300"}, {2.5, "2.5"}, {-72, "-72"}, {0.1, "0.1"}, {1e21, "1e+21"}};
    for (auto [value, text] : written) {
        SCOPED_TRACE(text);
        WidgetUtils::SetValue(dialog.get(), kResolutionID, value, false);
        EXPECT_EQ(WidgetUtils::GetText(dialog.get(), kResolutionID).GetUTF8String(), text);
        EXPECT_EQ(WidgetUtils::GetValue(dialog.get(), kResolutionID), value);
    }
    bool valid = true;
    EXPECT_EQ(WidgetUtils::GetValue(panel.get(), kTrashID, &valid), 0.0);
    EXPECT_FALSE(valid) << "a button has no number";

    // A list box keeps its selection in step with its rows.
    WidgetUtils::AttachToWidget(panel.get(), kListID, IID_ILISTBOXCONTROLLER, &recorder);
    FillList(5);
    EXPECT_EQ(list->GetRowCount(), 5);
    ASSERT_TRUE(list->SetSelection({4, 1, 3, 1}));
    EXPECT_EQ(list->GetSelected(), (std::vector<int32_t>{1, 3, 4}));

    list->AddRow(ListRow{}, 0);
    EXPECT_EQ(list->GetSelected(), (std::vector<int32_t>{2, 4, 5}));
    EXPECT_EQ(list->GetRow(4).FindCell(W(0x7190C))->text.GetUTF8String(), "3");
    EXPECT_EQ(recorder.Take(), 1) << "an insertion that keeps the selection is no change";
    list->SetSelection({0, 4});
    ASSERT_TRUE(list->Select(2, true));
    EXPECT_EQ(list->GetSelected(), (std::vector<int32_t>{0, 2, 4}));
    EXPECT_EQ(recorder.Take(), 2);

    // A single-selection list takes one row at a time.
    list->SetMultipleSelection(false);
    EXPECT_EQ(list->GetSelected(), std::vector<int32_t>{0});
    EXPECT_FALSE(list->SetSelection({0, 1}));
    ASSERT_TRUE(list->Select(3, true));
    EXPECT_EQ(list->GetSelected(), std::vector<int32_t>{3});
    EXPECT_FALSE(list->Select(-1));
    EXPECT_TRUE(list->GetRow(-1).cells.empty());
    EXPECT_EQ(list->GetRow(1).FindCell(W(0x71909))->iconID, 129);
    EXPECT_EQ(list->GetRow(0).FindCell(W(0x1)), nullptr);
    recorder.Take();

    list->Clear();
    EXPECT_EQ(std::pair(list->GetRowCount(), recorder.Take()), std::pair(0, 1));
    list->Clear();
    EXPECT_EQ(recorder.Take(), 0);
}
