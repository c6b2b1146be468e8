// The workbench window on Qt's offscreen platform with the reference server in
// a process of its own; each row reports its baseline, measured in the same run.
//   BM_RelinkShown/P  20 orders sent in rounds of 1 to 4, the pickup's period
//     P seconds: from a reply whole in the server's clients folder (a thread
//     looks every millisecond) to its row shown Done in the dock's list
//     (looked at after every event). "target_ms" is P plus one pass of the
//     idle timer, "ratio" is max / target; "baseline_ms" is P, the wait the
//     period makes unavoidable.
//   BM_PageRedraw/n   a page of n small images in a grid, one in three turned,
//     drawn again by the page view and painted, at zoom 1; "baseline_ms" is the
//     page renderer alone on a cairo image of the same size, "ratio" view / it.
#include "MainWindow.h"
#include "PageView.h"
#include "Workbench.h"

#include "HostShell.h"
#include "IOrdoPrefsData.h"
#include "ISession.h"
#include "OD_Preferences.h"
#include "OrdoActions.h"
#include "OrdoPanel.h"
#include "PageRender.h"
#include "SampleFiles.h"
#include "TempDir.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <numeric>
#include <sstream>
#include <thread>

#include <csignal>
#include <sys/prctl.h>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const QString kServer = QStringLiteral(QOR_REFSERVER_EXE);
constexpr int kRounds[] = {1, 2, 3, 4, 1, 2, 3, 4};
constexpr int kIdlePassMs = 100;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// Runs the event loop until done() holds or timeoutMs have passed; a
// millisecond timer wakes the loop so that done() is asked often.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.start(1);
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (Clock::now() > end) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Notes when each reply in the clients folder becomes whole: present, its
// name not hidden, and no lock file beside it.
class ReplyWatch {
public:
    explicit ReplyWatch(fs::path clients) : clients(std::move(clients)) {}
    std::map<std::string, Clock::time_point> Landed() {
        std::lock_guard<std::mutex> hold(mutex);
        return landed;
    }

private:
    void Scan() {
        std::error_code ec;
        for (fs::recursive_directory_iterator it(clients, ec), end; !ec && it != end;
             it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (it->is_regular_file(ec) && name.front() != '.' && !name.ends_with(".lock") &&
                !fs::exists(it->path().string() + ".lock", ec)) {
                std::lock_guard<std::mutex> hold(mutex);
                landed.try_emplace(it->path().lexically_relative(clients).generic_string(),
                                   Clock::now());
            }
        }
    }

    fs::path clients;
    std::mutex mutex;
    std::map<std::string, Clock::time_point> landed;
    std::jthread thread{[this](std::stop_token stop) {
        for (; !stop.stop_requested(); std::this_thread::sleep_for(std::chrono::milliseconds(1))) {
            Scan();
        }
    }};
};

// The session the workbench test sets up: sample images, a server, the
// shell with its preferences, the window, and the plug-in's dialogs
// answered with OK.
struct Session {
    Session() {
        WriteSampleFiles(dir / "images");
        MakeDirs(dir / "orders");
        server.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        const QString root = QString::fromStdString(dir / "server");
        QProcess init; // says where the tree went: not for the benchmark's output
        init.setStandardOutputFile(QProcess::nullDevice());
        init.start(kServer, {"init", root});
        if (init.waitForFinished() && init.exitCode() == 0) {
            server.start(kServer, {"serve", root, "--poll-ms", "100"});
        }
        ShellOptions options;
        options.systemFolder = dir / "system";
        options.sessionFile = dir / "session.odsession";
        shell = std::make_unique<HostShell>(options, out, err);
        shell->SetVariable("W", dir.Path());
        std::istringstream script("mkdir ${W}/processed\nanswer ${W}/server/qorserver\n"
                                  "answer ${W}/processed\naction preferences\n"
                                  "dialog click 0x71950\ndialog click 0x71939\n"
                                  "dialog set 0x71942 1\ndialog ok\nnew\npanel open\nidle 6\n");
        if (!server.waitForStarted() || !shell->Start(failure) ||
            shell->Run(*MakeStreamSource(script, "setup"), true) != 0) {
            failure = "the server or the session does not start: " + failure + err.str();
            return;
        }
        window = std::make_unique<MainWindow>(*shell, out, err);
        window->show();
        QObject::connect(&answering, &QTimer::timeout, [this] {
            QWidget* shown = window->Sinks()->OpenDialog();
            if (auto* box = qobject_cast<QMessageBox*>(shown)) {
                box->defaultButton()->click();
            } else if (auto* dialog = qobject_cast<QDialog*>(shown)) {
                dialog->accept();
            }
        });
        answering.start(50);
    }
    ~Session() {
        window.reset();
        shell->Stop();
        server.terminate();
        server.waitForFinished();
    }

    // A shell command as the window runs it; its output, or the failure noted.
    std::string Run(const std::string& line) {
        std::string output;
        if (!window->RunCommand(line, &output, true)) {
            failure = line + ": " + err.str();
        }
        return output;
    }

    TempDir dir;
    QProcess server;
    std::ostringstream out;
    std::ostringstream err;
    std::unique_ptr<HostShell> shell;
    std::unique_ptr<MainWindow> window;
    QTimer answering;
    std::string failure;
    int placed = 0;
};

std::unique_ptr<Session> session;

// The session, made at first use; null when it could not start.
Session* SessionFor(benchmark::State& state) {
    if (!session) {
        session = std::make_unique<Session>();
    }
    if (!session->window) {
        state.SkipWithError(session->failure.c_str());
        return nullptr;
    }
    session->failure.clear();
    return session.get();
}

QTreeWidget* OrdersList(Session& s) {
    return qobject_cast<QTreeWidget*>(s.window->Dock()->View()->WidgetFor(kOrdoListBoxWidgetID));
}

// Whether a cell of the row holds the text (no text: the Done icon).
bool Holds(const QTreeWidgetItem* row, const QString& text) {
    for (int c = 0; row != nullptr && c < row->columnCount(); ++c) {
        if (text.isEmpty() ? row->data(c, Qt::UserRole).toInt() == kOrdoIconDone
                           : row->text(c) == text) {
            return true;
        }
    }
    return false;
}

// One round: n new images placed and selected, their orders added, part of
// the period waited (so that replies fall at various points of it), all
// sent; then the latency of each order, once its row shows Done.
bool SendRound(Session& s, ReplyWatch& watch, int n, int waitMs, std::vector<double>& latencies) {
    std::string select = "select";
    QStringList names;
    for (int i = 0; i < n; ++i, ++s.placed) {
        const std::string name = "order-" + std::to_string(s.placed);
        fs::copy_file(s.dir / "images/photo-rgb.tif", s.dir / ("orders/" + name + ".tif"));
        s.Run("place ${W}/orders/" + name + ".tif " + std::to_string(36 + s.placed % 5 * 110) +
              " " + std::to_string(36 + s.placed / 5 * 85) + " 100 70 --name F" +
              std::to_string(i));
        select += " ${F" + std::to_string(i) + "}";
        names << QString::fromStdString(name);
    }
    s.Run(select);
    s.window->RunAction(kOrdoAddSelectionActionID);
    WaitUntil([] { return false; }, waitMs);
    s.window->RunAction(kOrdoSendAllActionID);
    QTreeWidget* list = OrdersList(s);
    std::map<std::string, int> rowOfJob; // job: the row of its order
    const nlohmann::json jobs = nlohmann::json::parse(s.Run("jobs --json"));
    for (const auto& job : jobs["jobs"]) {
        const QString name =
            QString::fromStdString(fs::path(job["source"].get<std::string>()).stem().string());
        for (int r = 0; names.contains(name) && r < list->topLevelItemCount(); ++r) {
            if (Holds(list->topLevelItem(r), name)) {
                rowOfJob[job["job"].get<std::string>()] = r;
            }
        }
    }
    if (!s.failure.empty() || static_cast<int>(rowOfJob.size()) != n) {
        s.failure +=
            " (" + std::to_string(rowOfJob.size()) + " orders sent of " + std::to_string(n) + ")";
        return false;
    }
    std::map<int, Clock::time_point> shown;
    const bool done = WaitUntil(
        [&] {
            for (const auto& [job, row] : rowOfJob) {
                if (Holds(list->topLevelItem(row), {})) {
                    shown.try_emplace(row, Clock::now());
                }
            }
            return shown.size() == rowOfJob.size();
        },
        20000);
    const auto landed = watch.Landed();
    for (const auto& [job, row] : rowOfJob) {
        const auto reply = landed.find(job);
        if (!done || reply == landed.end()) {
            s.failure = "job " + job + (done ? ": no reply seen" : ": not shown Done");
            return false;
        }
        latencies.push_back(Ms(shown[row] - reply->second));
    }
    return true;
}

void BM_RelinkShown(benchmark::State& state) {
    Session* s = SessionFor(state);
    if (s == nullptr) {
        return;
    }
    const int period = static_cast<int>(state.range(0));
    InterfacePtr<IOrdoPrefsData> prefs(GetExecutionContextSession(), IID_IORDOPREFSDATA);
    OD_PrefsData edited = prefs->Get();
    edited.SetFrequency(static_cast<int16_t>(period));
    prefs->Set(edited);
    ReplyWatch watch(s->dir / "server/Data/clients");
    std::vector<double> latencies;
    for (auto _ : state) {
        for (int round = 0; round < static_cast<int>(std::size(kRounds)); ++round) {
            const int waitMs = static_cast<int>(1000 * period * std::fmod(0.37 * (round + 1), 1.0));
            if (!SendRound(*s, watch, kRounds[round], waitMs, latencies)) {
                state.SkipWithError(s->failure.c_str());
                return;
            }
        }
        state.SetIterationTime(*std::max_element(latencies.begin(), latencies.end()) / 1000.0);
    }
    const double target = 1000.0 * period + kIdlePassMs;
    const double max = *std::max_element(latencies.begin(), latencies.end());
    state.counters["orders"] = static_cast<double>(latencies.size());
    state.counters["max_ms"] = max;
    state.counters["mean_ms"] = std::accumulate(latencies.begin(), latencies.end(), 0.0) /
                                static_cast<double>(latencies.size());
    state.counters["target_ms"] = target;
    state.counters["ratio"] = max / target;
    state.counters["baseline_ms"] = 1000.0 * period;
}

// The page drawn by the renderer alone, as the view draws it at zoom 1; the
// images it drew.
int DrawAlone(IDataBase* db, QImage& drawn) {
    drawn.fill(Qt::white);
    cairo_surface_t* surface =
        cairo_image_surface_create_for_data(drawn.bits(), CAIRO_FORMAT_RGB24, drawn.width(),
                                            drawn.height(), static_cast<int>(drawn.bytesPerLine()));
    cairo_t* cr = cairo_create(surface);
    render::DrawOptions options;
    options.frameEdges = true;
    options.badges = true;
    render::DrawReport report;
    render::DrawPage(cr, db, 0, options, report);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    return report.problems.empty() ? report.imagesDrawn : -1;
}

void BM_PageRedraw(benchmark::State& state) {
    Session* s = SessionFor(state);
    if (s == nullptr) {
        return;
    }
    const int n = static_cast<int>(state.range(0));
    const char* images[] = {"photo-rgb.tif", "press-cmyk.tif", "scan-gray.tif", "web-rgb.jpg",
                            "layout-rgb.psd"};
    s->Run("new");
    IDataBase* db = s->shell->FrontDocument();
    double width = 0;
    double height = 0;
    render::PageSize(db, 0, width, height);
    const int columns = static_cast<int>(std::ceil(std::sqrt(n)));
    const double cellWidth = (width - 72) / columns;
    const double cellHeight = (height - 72) / columns;
    std::ostringstream script;
    for (int i = 0; i < n; ++i) {
        script << "place ${W}/images/" << images[i % std::size(images)] << " "
               << 36 + i % columns * cellWidth << " " << 36 + i / columns * cellHeight << " "
               << cellWidth - 6 << " " << cellHeight - 6 << (i % 3 == 0 ? " --rotate 15\n" : "\n");
    }
    std::istringstream lines(script.str());
    if (s->shell->Run(*MakeStreamSource(lines, "page"), true) != 0) {
        s->failure = s->err.str();
    }
    s->Run("select");
    PageView* view = s->window->View();
    view->SetZoom(1.0);
    QImage drawn(static_cast<int>(width), static_cast<int>(height), QImage::Format_RGB32);
    if (!s->failure.empty() || !view->Problems().isEmpty() || DrawAlone(db, drawn) != n ||
        view->PageImage().size() != drawn.size()) {
        s->failure += " (the page does not draw whole)";
        state.SkipWithError(s->failure.c_str());
        return;
    }
    double viewMs = 0;
    double aloneMs = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        view->Redraw();
        view->Canvas()->repaint();
        const auto between = Clock::now();
        DrawAlone(db, drawn);
        viewMs += Ms(between - start);
        aloneMs += Ms(Clock::now() - between);
        state.SetIterationTime(Ms(between - start) / 1000.0);
    }
    const auto times = static_cast<double>(state.iterations());
    state.counters["view_ms"] = viewMs / times;
    state.counters["baseline_ms"] = aloneMs / times;
    state.counters["ratio"] = viewMs / aloneMs;
}

BENCHMARK(BM_RelinkShown)->ArgName("period_s")->DenseRange(1, 2)->Iterations(1)->UseManualTime();
BENCHMARK(BM_PageRedraw)->ArgName("images")->Arg(100)->Iterations(20)->UseManualTime();

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    benchmark::SetDefaultTimeUnit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    session.reset();
    return 0;
}
