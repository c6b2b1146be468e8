// Host widget trees as Qt widgets; in a session the orders panel and the image options dialog.

#include "HostShell.h"
#include "OrdoImgOptDialog.h"
#include "OrdoPanel.h"
#include "TempDir.h"
#include "Workbench.h"

#include <QTest>
#include <QtWidgets>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sstream>

static std::string ValueAsListed(QWidget* w) {
    if (auto* box = qobject_cast<QAbstractButton*>(w)) {
        return box->isCheckable() ? (box->isChecked() ? "on" : "off") : "";
    }
    const char* name = w->property("currentText").isValid() ? "currentText" : "text";
    return w->property(w->inherits("QPlainTextEdit") ? "plainText" : name).toString().toStdString();
}

constexpr WidgetID kText{0x9301}, kEdit{0x9302}, kCheck{0x9303}, kRadioA{0x9304}, kRadioB{0x9305},
    kButton{0x9309};

// Each kind as made, and its Qt widget and value; the radio buttons go in the cluster.
const std::tuple<ClassID, WidgetID, const char*, const char*, const char*> kKinds[] = {
    {kStaticTextWidgetBoss, kText, "Resolution", "QLabel", "Resolution"},
    {kTextEditBoxWidgetBoss, kEdit, "300", "QLineEdit", "300"},
    {kIconWidgetBoss, WidgetID(0x9308), "", "QLabel", ""},
    {kButtonWidgetBoss, kButton, "Go", "QPushButton", ""},
    {kDropDownListWidgetBoss, WidgetID(0x9306), "", "QComboBox", ""},
    {kWidgetListBoxWidgetBoss, WidgetID(0x9307), "", "QTreeWidget", ""},
    {kCheckBoxWidgetBoss, kCheck, "Use", "QCheckBox", "off"},
    {kGroupPanelWidgetBoss, WidgetID(0x930A), "Mode", "QGroupBox", ""},
    {kClusterPanelWidgetBoss, WidgetID(0x930B), "", "QWidget", ""},
    {kRadioButtonWidgetBoss, kRadioA, "A", "QRadioButton", "on"},
    {kRadioButtonWidgetBoss, kRadioB, "B", "QRadioButton", "off"}};

class HostWidgetsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (QApplication::instance() == nullptr) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
            static int argc = 1;
            static char name[] = "test", *argv[] = {name, nullptr};
            new QApplication(argc, argv);
        }
        shell = new HostShell({folder / "system", folder / "session.json"}, out, out);
        std::string why;
        ASSERT_TRUE(shell->Start(why)) << why;
    }
    static void TearDownTestSuite() { delete shell; }
    static inline std::ostringstream out;
    static inline TempDir folder;
    static inline HostShell* shell = nullptr;
};

TEST_F(HostWidgetsTest, EveryKindMapsAndChangesGoBothWays) {
    WidgetResource d{.classID = kDialogBoss, .widgetID = WidgetID(0x9300)};
    for (const auto& [host, id, text, qt, value] : kKinds) {
        auto& in = host == kRadioButtonWidgetBoss ? d.children.back().children : d.children;
        const double y = 25.0 * static_cast<double>(in.size());
        in.push_back({.classID = host, .widgetID = id, .text = text, .frame = {10, y, 99, y + 20}});
    }
    d.children.back().children[0].selected = true;
    InterfacePtr<IControlView> dialog = CreateWidgetTree(d);
    workbench::HostWidgetView view(dialog.get());
    for (const auto& [host, id, text, qt, value] : kKinds) {
        ASSERT_TRUE(view.WidgetFor(id) && view.WidgetFor(id)->inherits(qt)) << id.Get();
        EXPECT_EQ(ValueAsListed(view.WidgetFor(id)), value) << id.Get();
    }
    EXPECT_EQ(view.WidgetFor(kEdit)->geometry(), QRect(10, 25, 89, 20));

    static_cast<QAbstractButton*>(view.WidgetFor(kCheck))->click();
    static_cast<QAbstractButton*>(view.WidgetFor(kRadioB))->click();
    QTest::keyClicks(view.WidgetFor(kEdit), "0");
    EXPECT_TRUE(WidgetUtils::IsChecked(dialog.get(), kCheck));
    EXPECT_FALSE(WidgetUtils::IsChecked(dialog.get(), kRadioA));
    EXPECT_EQ(WidgetUtils::GetText(dialog.get(), kEdit).GetUTF8String(), "3000");

    // The host changes without telling anyone; Sync shows it.
    WidgetUtils::SetText(dialog.get(), kText, PMString("DPI"), false);
    WidgetUtils::Show(dialog.get(), kButton, false);
    view.Sync();
    EXPECT_EQ(ValueAsListed(view.WidgetFor(kText)), "DPI");
    EXPECT_TRUE(view.WidgetFor(kButton)->isHidden());
}

TEST_F(HostWidgetsTest, PanelAndImageOptionsDialogShowAsTheShellListsThem) {
    workbench::OrdersPanelDock dock;
    dock.toggleViewAction()->setChecked(true);
    std::istringstream script("samples " + folder / "img" + "\nnew\nplace " +
                              folder / "img/photo-rgb.tif" + " 9 9 90 90 --name a\n" +
                              "panel drop ${a}\nidle 1\npanel select 1\n" +
                              "panel double-click 1\ndialog --json\ncancel\n");
    ASSERT_EQ(shell->Run(*MakeStreamSource(script, "script"), true), 0) << out.str();
    dock.Sync();
    auto* tree = static_cast<QTreeWidget*>(dock.View()->WidgetFor(kOrdoListBoxWidgetID));
    ASSERT_TRUE(tree->topLevelItemCount() == 1 && tree->topLevelItem(0)->isSelected());
    EXPECT_EQ(tree->headerItem()->text(2) + tree->topLevelItem(0)->text(2), "File Namephoto-rgb");
    EXPECT_EQ(tree->topLevelItem(0)->data(0, Qt::UserRole).toInt(), kOrdoIconReady);

    const std::string listed = out.str().substr(out.str().rfind("is open\n") + 8);
    const auto json = nlohmann::json::parse(listed.substr(0, listed.find("\ndialog \"")));
    workbench::QtSinks sinks(nullptr);
    int prefixesShown = 0, types = 0;
    QTimer::singleShot(0, [&] {
        auto* window = qobject_cast<QDialog*>(sinks.OpenDialog());
        auto* view = window ? window->findChild<workbench::HostWidgetView*>() : nullptr;
        ASSERT_TRUE(view && window->windowTitle().toStdString() == json["title"]);
        for (const auto& e : json["widgets"]) {
            QWidget* w = view->WidgetFor(WidgetID(std::stoul(e["id"].get<std::string>(), 0, 16)));
            ASSERT_NE(w, nullptr) << e["id"];
            EXPECT_EQ(ValueAsListed(w), e["value"]) << e["id"];
            EXPECT_EQ(w->isEnabledTo(w->parentWidget()), e["enabled"]) << e["id"];
            EXPECT_EQ(!w->isHidden(), e["visible"]) << e["id"];
            auto* combo = qobject_cast<QComboBox*>(w);
            EXPECT_EQ(combo ? combo->count() : 0, static_cast<int>(e["entries"].size())) << e["id"];
        }
        // Each process type chosen in Qt: the dialog's observer shows or hides the prefixes.
        auto* list = static_cast<QComboBox*>(view->WidgetFor(kOrdoImgOptTypeListWidgetID));
        for (types = 0; types < list->count(); ++types) {
            list->setCurrentIndex(types);
            prefixesShown += !view->WidgetFor(kOrdoImgOptPrefixListWidgetID)->isHidden();
        }
        window->reject();
    });
    ASSERT_TRUE(shell->RunLine("panel double-click 1")) << out.str();
    EXPECT_TRUE(prefixesShown > 0 && prefixesShown < types) << prefixesShown << "/" << types;
}
