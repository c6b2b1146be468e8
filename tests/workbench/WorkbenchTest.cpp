// The workbench as a user drives it, on Qt's offscreen platform: images
// placed, orders added through the plug-in's dialog shown as Qt widgets, sent
// to the reference server running in a process of its own, and picked up by
// the idle timer alone; the orders list as Qt shows it against the shell's
// `panel --json`, and the page view against the page renderer.
#include "Workbench.h"
#include "MainWindow.h"
#include "PageView.h"

#include "HostShell.h"
#include "OrdoActions.h"
#include "OrdoPanel.h"
#include "PageRender.h"
#include "SampleFiles.h"
#include "TempDir.h"

#include <nlohmann/json.hpp>

#include <QAction>
#include <QDialog>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QWheelEvent>
#include <QtTest>

#include <csignal>
#include <memory>
#include <sstream>

#include <sys/prctl.h>

namespace {

// The pickup's period the test's preferences set, in seconds.
constexpr int kPickupSeconds = 2;

const QString kServer = QStringLiteral(QOR_REFSERVER_EXE);

} // namespace

class WorkbenchTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void ordersGoToTheServerAndComeBackDone();
    void panelListShowsWhatTheShellShows();
    void pageViewShowsTheRenderersPixels();
    void framesDroppedOnTheListBecomeOrdersAndCtrlWheelZooms();
    void menusAgreeWithTheShell();

private:
    nlohmann::json PanelJson();
    void Trigger(ActionID id);

    std::unique_ptr<TempDir> dir;
    QProcess server;
    std::ostringstream out;
    std::ostringstream err;
    std::unique_ptr<HostShell> shell;
    std::unique_ptr<MainWindow> window;
    QTimer answering;
    int dialogsAnswered = 0;
};

void WorkbenchTest::initTestCase() {
    dir = std::make_unique<TempDir>();
    WriteSampleFiles(*dir / "images");
    MakeDirs(*dir / "processed");
    QCOMPARE(QProcess::execute(kServer, {"init", QString::fromStdString(*dir / "server")}), 0);
    // The server goes with the test, even when the test is killed.
    server.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    server.start(kServer, {"serve", QString::fromStdString(*dir / "server"), "--poll-ms", "100"});
    QVERIFY(server.waitForStarted());

    ShellOptions options;
    options.systemFolder = *dir / "system";
    options.sessionFile = *dir / "session.odsession";
    shell = std::make_unique<HostShell>(options, out, err);
    std::string why;
    QVERIFY2(shell->Start(why), why.c_str());
    // The preferences as the user sets them (the server, the output folder,
    // the pickup's period), and a document in the open panel; one idle pass
    // past the pickup's first delay puts it on its period.
    shell->SetVariable("W", dir->Path());
    std::istringstream script("answer ${W}/server/qorserver\n"
                              "answer ${W}/processed\n"
                              "action preferences\n"
                              "dialog click 0x71950\n"
                              "dialog click 0x71939\n"
                              "dialog set 0x71942 " +
                              std::to_string(kPickupSeconds) +
                              "\n"
                              "dialog ok\n"
                              "new\n"
                              "panel open\n"
                              "idle 6\n");
    auto source = MakeStreamSource(script, "setup");
    QVERIFY2(shell->Run(*source, true) == 0, err.str().c_str());

    window = std::make_unique<MainWindow>(*shell, out, err);
    window->show();
    // Whatever the plug-in shows (its dialogs, its alerts) is answered with
    // OK, as a user accepting it would.
    connect(&answering, &QTimer::timeout, this, [this] {
        QWidget* shown = window->Sinks()->OpenDialog();
        if (auto* box = qobject_cast<QMessageBox*>(shown)) {
            box->defaultButton()->click();
            ++dialogsAnswered;
        } else if (auto* dialog = qobject_cast<QDialog*>(shown)) {
            dialog->accept();
            ++dialogsAnswered;
        }
    });
    answering.start(50);
}

void WorkbenchTest::cleanupTestCase() {
    answering.stop();
    window.reset();
    shell->Stop();
    server.terminate();
    if (!server.waitForFinished(5000)) {
        server.kill();
        server.waitForFinished();
    }
}

nlohmann::json WorkbenchTest::PanelJson() {
    std::string text;
    if (!window->RunCommand("panel --json", &text, true)) {
        return {};
    }
    return nlohmann::json::parse(text);
}

// As the user chooses the plug-in's menu entry.
void WorkbenchTest::Trigger(ActionID id) {
    auto* action = window->findChild<QAction*>(QString("action-0x%1").arg(id.Get(), 0, 16));
    QVERIFY(action != nullptr);
    action->trigger();
}

void WorkbenchTest::ordersGoToTheServerAndComeBackDone() {
    for (const char* line :
         {"place ${W}/images/photo-rgb.tif 36 36 220 160",
          "place ${W}/images/scan-gray.tif 300 60 150 150 --rotate 10", "select --all"}) {
        QVERIFY2(window->RunCommand(line, nullptr, true), err.str().c_str());
    }
    Trigger(kOrdoAddSelectionActionID);
    QVERIFY(dialogsAnswered >= 2);
    QCOMPARE(PanelJson()["rows"].size(), 2u);

    QVERIFY(window->RunCommand("panel select 1 2", nullptr, true));
    Trigger(kOrdoSendSelectionActionID);
    const auto sent = PanelJson();
    for (const auto& row : sent["rows"]) {
        QCOMPARE(row["icon"].get<int>(), kOrdoIconSent);
    }
    const QString status = window->StatusText();
    QVERIFY2(status.contains("Orders waiting: 2"), qPrintable(status));
    // The time shown is the pickup's own, never more than its period.
    const QRegularExpressionMatch next =
        QRegularExpression("next pickup in ([0-9.]+) s").match(status);
    QVERIFY2(next.hasMatch(), qPrintable(status));
    QVERIFY(next.captured(1).toDouble() <= kPickupSeconds);

    // No idle command from here: the window's timer moves the host clock.
    auto allDone = [this] {
        const nlohmann::json rows = PanelJson()["rows"];
        return !rows.empty() && std::all_of(rows.begin(), rows.end(), [](const auto& row) {
            return row["icon"].template get<int>() == kOrdoIconDone;
        });
    };
    QTRY_VERIFY_WITH_TIMEOUT(allDone(), (kPickupSeconds + 1) * 1000);
    QVERIFY(window->StatusText().contains("Orders waiting: 0"));
}

void WorkbenchTest::panelListShowsWhatTheShellShows() {
    auto* list =
        qobject_cast<QTreeWidget*>(window->Dock()->View()->WidgetFor(kOrdoListBoxWidgetID));
    QVERIFY(list != nullptr);
    window->Dock()->Sync();
    const nlohmann::json rows = PanelJson()["rows"];
    QCOMPARE(list->topLevelItemCount(), static_cast<int>(rows.size()));
    for (int r = 0; r < list->topLevelItemCount(); ++r) {
        const QTreeWidgetItem* item = list->topLevelItem(r);
        QStringList texts;
        QList<int> icons;
        for (int c = 0; c < item->columnCount(); ++c) {
            texts << item->text(c);
            icons << item->data(c, Qt::UserRole).toInt();
        }
        for (const char* field : {"page", "name", "options", "process", "type"}) {
            const QString value = QString::fromStdString(rows[r][field].get<std::string>());
            QVERIFY2(value.isEmpty() || texts.contains(value), qPrintable(value));
        }
        QVERIFY(icons.contains(rows[r]["icon"].get<int>()));
    }
}

void WorkbenchTest::pageViewShowsTheRenderersPixels() {
    QVERIFY(window->RunCommand("select", nullptr, true));
    PageView* view = window->View();
    view->SetZoom(1.0);
    const QImage shown = view->Canvas()->grab().toImage().convertToFormat(QImage::Format_RGB32);

    IDataBase* db = shell->FrontDocument();
    double width = 0;
    double height = 0;
    QVERIFY(render::PageSize(db, 0, width, height));
    QImage drawn(static_cast<int>(width), static_cast<int>(height), QImage::Format_RGB32);
    drawn.fill(Qt::white);
    cairo_surface_t* surface =
        cairo_image_surface_create_for_data(drawn.bits(), CAIRO_FORMAT_RGB24, drawn.width(),
                                            drawn.height(), static_cast<int>(drawn.bytesPerLine()));
    cairo_t* cr = cairo_create(surface);
    render::DrawOptions options;
    options.frameEdges = true;
    options.badges = true;
    render::DrawReport report;
    QVERIFY(render::DrawPage(cr, db, 0, options, report));
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    QCOMPARE(report.imagesDrawn, 2);
    QCOMPARE(shown.size(), drawn.size());
    QVERIFY(shown == drawn);
}

// What the user does with the mouse: page items dragged from the page view
// onto the list (the page view's drag data), and Ctrl+wheel on the page.
void WorkbenchTest::framesDroppedOnTheListBecomeOrdersAndCtrlWheelZooms() {
    std::string placed;
    QVERIFY(window->RunCommand("place ${W}/images/web-rgb.jpg 60 420 160 120", &placed, true));
    const QRegularExpressionMatch frame =
        QRegularExpression("frame (\\d+)").match(QString::fromStdString(placed));
    QVERIFY2(frame.hasMatch(), placed.c_str());
    const std::size_t rows = PanelJson()["rows"].size();

    auto* list =
        qobject_cast<QTreeWidget*>(window->Dock()->View()->WidgetFor(kOrdoListBoxWidgetID));
    QVERIFY(list != nullptr);
    auto drop = [&](const QByteArray& uids) {
        QMimeData data;
        data.setData(workbench::kPageItemsMimeType, uids);
        const QPoint at = list->viewport()->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(list->viewport(), &enter);
        QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(list->viewport(), &dropped);
        return enter.isAccepted() && dropped.isAccepted();
    };
    QVERIFY(!drop("999999")); // no such page item: refused at the door
    QVERIFY(drop(frame.captured(1).toUtf8()));
    window->Dock()->Sync();
    QCOMPARE(PanelJson()["rows"].size(), rows + 1);
    QCOMPARE(list->topLevelItemCount(), static_cast<int>(rows + 1));

    PageView* view = window->View();
    view->SetZoom(1.0);
    auto wheel = [&](Qt::KeyboardModifiers modifiers) {
        const QPointF at(10, 10);
        QWheelEvent event(at, view->mapToGlobal(at.toPoint()), QPoint(), QPoint(0, 120),
                          Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(view->viewport(), &event);
    };
    wheel(Qt::NoModifier); // scrolls
    QCOMPARE(view->Zoom(), 1.0);
    wheel(Qt::ControlModifier);
    QVERIFY(view->Zoom() > 1.0);
}

// Every entry of the plug-in's menus, the window's and the panel's, as the
// shell lists it (text, enabled), with a Done order selected and with a
// Ready one.
void WorkbenchTest::menusAgreeWithTheShell() {
    auto plain = [](QString text) { return text.remove('&').section('\t', 0, 0); };
    auto* button = window->Dock()->findChild<QToolButton*>("PanelMenuButton");
    QVERIFY(button != nullptr && button->menu() != nullptr);
    for (const char* selection : {"panel select 1", "panel select 3"}) {
        QVERIFY(window->RunCommand(selection, nullptr, true));
        std::string listed;
        QVERIFY(window->RunCommand("menu --list", &listed, true));
        std::istringstream paths(listed);
        int compared = 0;
        for (std::string path; std::getline(paths, path);) {
            std::string text;
            QVERIFY(window->RunCommand("menu \"" + path + "\" --json", &text, true));
            const nlohmann::json entries = nlohmann::json::parse(text);
            const bool panel = path.find("Popup") != std::string::npos;
            emit button->menu()->aboutToShow();
            QList<QAction*> panelActions;
            for (QAction* a : button->menu()->actions()) {
                if (!a->isSeparator()) {
                    panelActions << a;
                }
            }
            int n = 0;
            for (const auto& e : entries) {
                if (e["separator"].get<bool>()) {
                    continue;
                }
                QAction* shown = nullptr;
                if (panel) {
                    shown = n < panelActions.size() ? panelActions[n++] : nullptr;
                } else {
                    const auto id = std::stoul(e["action"].get<std::string>(), nullptr, 16);
                    shown = window->findChild<QAction*>(QString("action-0x%1").arg(id, 0, 16));
                    QVERIFY(shown != nullptr);
                    for (QObject* menu : shown->associatedObjects()) {
                        if (auto* m = qobject_cast<QMenu*>(menu)) {
                            emit m->aboutToShow();
                        }
                    }
                }
                const QString name = QString::fromStdString(e["text"].get<std::string>());
                QVERIFY2(shown != nullptr, qPrintable(name));
                QCOMPARE(plain(shown->text()), plain(name));
                QVERIFY2(shown->isEnabled() == e["enabled"].get<bool>(), qPrintable(name));
                ++compared;
            }
        }
        QVERIFY(compared >= 8);
    }
}

QTEST_MAIN(WorkbenchTest)
#include "WorkbenchTest.moc"
