#include "MainWindow.h"

#include "PageView.h"

#include "DocumentUtils.h"
#include "HostShell.h"
#include "IActionManager.h"
#include "IApplication.h"
#include "IDataBase.h"
#include "IDocument.h"
#include "IIdleTask.h"
#include "ILayoutSelection.h"
#include "IMenuManager.h"
#include "IOrdoPrefsData.h"
#include "ISession.h"
#include "IShortcutManager.h"
#include "IdmlDocument.h"
#include "OD_Preferences.h"
#include "OrdoPanel.h"
#include "OrdoPanelState.h"
#include "OrdoServices.h"
#include "Widgets.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>

#include <cmath>

namespace {

// The idle timer's period: the host clock follows real time in steps of this.
constexpr int kIdlePeriodMs = 100;

// The shell's output lines are prefixed so; the message boxes leave it out.
constexpr const char* kErrorPrefix = "ordodesk: ";

InterfacePtr<IApplication> Application() {
    ISession* session = GetExecutionContextSession();
    return InterfacePtr<IApplication>(session != nullptr ? session->QueryApplication() : nullptr);
}

QString Text(const PMString& s) {
    return QString::fromStdString(s.Translated().GetUTF8String());
}

// A menu name of a path without the '&' of its access key.
QString PlainName(QString name) {
    return name.remove('&');
}

// The Qt key of a host shortcut, or 0.
QKeyCombination QtKey(VirtualKey key, int16_t modifiers) {
    int qtKey = 0;
    const uint32_t code = key.code;
    if (code >= kVirtualF1Key.code && code < kVirtualF1Key.code + 24) {
        qtKey = Qt::Key_F1 + static_cast<int>(code - kVirtualF1Key.code);
    } else if (code > 0x20 && code < 0x7F) {
        // Letters (upper case), digits and punctuation: Qt's keys are ASCII.
        qtKey = static_cast<int>(code);
    } else {
        static constexpr struct {
            VirtualKey key;
            Qt::Key qt;
        } kNamed[] = {
            {kVirtualSpaceKey, Qt::Key_Space},
            {kVirtualTabKey, Qt::Key_Tab},
            {kVirtualEnterKey, Qt::Key_Return},
            {kVirtualEscapeKey, Qt::Key_Escape},
            {kVirtualBackspaceKey, Qt::Key_Backspace},
            {kVirtualDeleteKey, Qt::Key_Delete},
            {kVirtualInsertKey, Qt::Key_Insert},
            {kVirtualHomeKey, Qt::Key_Home},
            {kVirtualEndKey, Qt::Key_End},
            {kVirtualPageUpKey, Qt::Key_PageUp},
            {kVirtualPageDownKey, Qt::Key_PageDown},
            {kVirtualUpArrowKey, Qt::Key_Up},
            {kVirtualDownArrowKey, Qt::Key_Down},
            {kVirtualLeftArrowKey, Qt::Key_Left},
            {kVirtualRightArrowKey, Qt::Key_Right},
        };
        for (const auto& n : kNamed) {
            if (n.key == key) {
                qtKey = n.qt;
            }
        }
    }
    if (qtKey == 0) {
        return QKeyCombination();
    }
    Qt::KeyboardModifiers m;
    m.setFlag(Qt::ShiftModifier, (modifiers & kShiftModifier) != 0);
    m.setFlag(Qt::ControlModifier, (modifiers & kCtrlModifier) != 0);
    m.setFlag(Qt::AltModifier, (modifiers & kAltModifier) != 0);
    return QKeyCombination(m, static_cast<Qt::Key>(qtKey));
}

// The frame and the transformation that `place` takes, asked in one dialog.
class PlaceDialog : public QDialog {
public:
    PlaceDialog(const QString& file, int pages, QWidget* parent) : QDialog(parent) {
        setWindowTitle(tr("Place %1").arg(QFileInfo(file).fileName()));
        auto* form = new QFormLayout(this);
        page = new QSpinBox(this);
        page->setRange(1, std::max(1, pages));
        form->addRow(tr("Page"), page);
        x = Number(form, tr("Left (pt)"), -10000, 10000, 36);
        y = Number(form, tr("Top (pt)"), -10000, 10000, 36);
        width = Number(form, tr("Width (pt)"), 1, 10000, 200);
        height = Number(form, tr("Height (pt)"), 1, 10000, 150);
        scale = Number(form, tr("Image scale"), 0.01, 100, 1);
        scale->setDecimals(3);
        rotate = Number(form, tr("Rotation (degrees)"), -360, 360, 0);
        skew = Number(form, tr("Skew (degrees)"), -88, 88, 0);
        flip = new QComboBox(this);
        flip->addItems({tr("None"), tr("Left to right"), tr("Top to bottom")});
        form->addRow(tr("Flip"), flip);
        dx = Number(form, tr("Image offset x (pt)"), -10000, 10000, 0);
        dy = Number(form, tr("Image offset y (pt)"), -10000, 10000, 0);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
        connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        form->addRow(buttons);
    }

    // The arguments of place after the image, only the options that change
    // something.
    std::string Arguments() const {
        auto n = [](const QDoubleSpinBox* box) { return QString::number(box->value()); };
        QStringList a{n(x), n(y), n(width), n(height), "--page", QString::number(page->value())};
        if (scale->value() != 1.0) {
            a << "--scale" << n(scale);
        }
        if (rotate->value() != 0.0) {
            a << "--rotate" << n(rotate);
        }
        if (skew->value() != 0.0) {
            a << "--skew" << n(skew);
        }
        if (flip->currentIndex() > 0) {
            a << "--flip" << (flip->currentIndex() == 1 ? "h" : "v");
        }
        if (dx->value() != 0.0 || dy->value() != 0.0) {
            a << "--image-offset" << n(dx) << n(dy);
        }
        return a.join(' ').toStdString();
    }

private:
    QDoubleSpinBox* Number(QFormLayout* form, const QString& label, double low, double high,
                           double value) {
        auto* box = new QDoubleSpinBox(this);
        box->setRange(low, high);
        box->setDecimals(2);
        box->setValue(value);
        form->addRow(label, box);
        return box;
    }

    QSpinBox* page;
    QDoubleSpinBox *x, *y, *width, *height, *scale, *rotate, *skew, *dx, *dy;
    QComboBox* flip;
};

} // namespace

// Counts the changes made to the front document (commands, undo, redo, the
// pickup's relinks), so that the idle timer draws the page again only then.
class MainWindow::ChangeWatch : public IDatabaseObserver {
public:
    explicit ChangeWatch(uint64_t& changes) : changes(changes) {}
    ~ChangeWatch() override { Watch(nullptr); }
    void Watch(IDataBase* db) {
        if (db == watched) {
            return;
        }
        if (watched != nullptr) {
            watched->RemoveObserver(this);
        }
        watched = db;
        if (watched != nullptr) {
            watched->AddObserver(this);
        }
        ++changes;
    }
    void Changed(UID, ClassID) override {}
    void Flushed() override { ++changes; }

private:
    uint64_t& changes;
    IDataBase* watched = nullptr;
};

MainWindow::MainWindow(HostShell& shell, std::ostringstream& out, std::ostringstream& err,
                       QWidget* parent)
    : QMainWindow(parent), shell(shell), out(out), err(err),
      watch(std::make_unique<ChangeWatch>(documentChanges)) {
    sinks = std::make_unique<workbench::QtSinks>(this);
    view = new PageView(shell, this);
    setCentralWidget(view);
    dock = new workbench::OrdersPanelDock(this);
    addDockWidget(Qt::RightDockWidgetArea, dock);
    resizeDocks({dock}, {460}, Qt::Horizontal);
    connect(dock, &workbench::OrdersPanelDock::Acted, this, &MainWindow::AfterUserAction);
    connect(view, &PageView::SelectionChanged, this, &MainWindow::AfterUserAction);
    connect(view, &PageView::ViewChanged, this, [this] {
        const int32_t count = view->PageCount();
        pageLabel->setText(count > 0 ? tr("Page %1 of %2").arg(view->Page() + 1).arg(count)
                                     : tr("No document"));
        previousPageAction->setEnabled(view->Page() > 0);
        nextPageAction->setEnabled(view->Page() + 1 < count);
        if (!view->Problems().isEmpty()) {
            statusBar()->showMessage(view->Problems().join("; "), 8000);
        }
    });

    waitingLabel = new QLabel(this);
    pageLabel = new QLabel(this);
    statusBar()->addPermanentWidget(pageLabel);
    statusBar()->addPermanentWidget(waitingLabel);
    BuildMenus();
    resize(1280, 860);

    // The orders panel opens with the window, as the host shows it.
    RunCommand("panel open", nullptr, true);
    idleTimer = new QTimer(this);
    connect(idleTimer, &QTimer::timeout, this, &MainWindow::IdleTick);
    idleTimer->start(kIdlePeriodMs);
    AfterUserAction();
}

MainWindow::~MainWindow() {
    // The dock and the view are closed after this: what they tell then
    // reaches no part of the window.
    disconnect(dock, nullptr, this, nullptr);
    disconnect(view, nullptr, this, nullptr);
    idleTimer->stop();
    watch.reset();
    // The host's sinks go back to the shell's before the session stops.
    sinks.reset();
}

void MainWindow::SetPath(const QString& path) {
    shell.SetVariable("WB_PATH", path.toStdString());
}

bool MainWindow::RunCommand(const std::string& line, std::string* output, bool quiet) {
    out.str("");
    err.str("");
    ++hostCalls;
    const bool ok = shell.RunLine(line);
    --hostCalls;
    if (output != nullptr) {
        *output = out.str();
    }
    if (!ok && !quiet) {
        QString why = QString::fromStdString(err.str()).trimmed();
        why.remove(QRegularExpression(QString("^") + kErrorPrefix + "(error: )?"));
        QMessageBox::warning(this, tr("OrdoDesk Workbench"), why);
    }
    AfterUserAction();
    return ok;
}

bool MainWindow::RunAction(ActionID id) {
    InterfacePtr<IApplication> app = Application();
    InterfacePtr<IActionManager> actions(app ? app->QueryActionManager() : nullptr);
    if (!actions || !actions->IsValidAction(id)) {
        return false;
    }
    actions->UpdateActionStates(nullptr, {id});
    ++hostCalls;
    const bool ran = actions->IsEnabled(id) && actions->PerformAction(id) == kSuccess;
    --hostCalls;
    AfterUserAction();
    return ran;
}

void MainWindow::BuildMenus() {
    QMenu* file = menuBar()->addMenu(tr("&File"));
    file->addAction(tr("&New"), QKeySequence::New, this, &MainWindow::NewDocument);
    file->addAction(tr("&Open..."), QKeySequence::Open, this, &MainWindow::OpenDocument);
    file->addAction(tr("&Place Image..."), QKeySequence(Qt::CTRL | Qt::Key_D), this,
                    &MainWindow::PlaceImage);
    file->addSeparator();
    file->addAction(tr("&Save"), QKeySequence::Save, this, &MainWindow::Save);
    file->addAction(tr("Save &As..."), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), this,
                    &MainWindow::SaveAs);
    file->addAction(tr("&Export PDF..."), QKeySequence(Qt::CTRL | Qt::Key_E), this,
                    &MainWindow::ExportPdf);
    file->addAction(tr("&Link Path Map..."), this, &MainWindow::EditLinkMap);
    file->addSeparator();
    file->addAction(tr("&Quit"), QKeySequence(Qt::CTRL | Qt::Key_Q), this, &QWidget::close);

    QMenu* edit = menuBar()->addMenu(tr("&Edit"));
    undoAction =
        edit->addAction(tr("&Undo"), QKeySequence::Undo, this, [this] { RunCommand("undo"); });
    redoAction =
        edit->addAction(tr("&Redo"), QKeySequence::Redo, this, [this] { RunCommand("redo"); });
    edit->addSeparator();
    edit->addAction(tr("&Delete"), QKeySequence::Delete, this, &MainWindow::DeleteSelection);
    edit->addAction(tr("Select &All"), QKeySequence::SelectAll, this,
                    [this] { RunCommand("select --all", nullptr, true); });
    edit->addAction(tr("&Deselect All"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A), this,
                    [this] { RunCommand("select", nullptr, true); });
    connect(edit, &QMenu::aboutToShow, this, &MainWindow::RefreshActions);

    QMenu* viewMenu = menuBar()->addMenu(tr("&View"));
    viewMenu->addAction(tr("Zoom &In"), QKeySequence::ZoomIn, view, &PageView::ZoomIn);
    viewMenu->addAction(tr("Zoom &Out"), QKeySequence::ZoomOut, view, &PageView::ZoomOut);
    viewMenu->addAction(tr("&Actual Size"), QKeySequence(Qt::CTRL | Qt::Key_1), view,
                        [this] { view->SetZoom(1.0); });
    viewMenu->addAction(tr("&Fit Page"), QKeySequence(Qt::CTRL | Qt::Key_0), view,
                        &PageView::FitPage);
    viewMenu->addSeparator();
    previousPageAction = viewMenu->addAction(tr("&Previous Page"), QKeySequence(Qt::Key_PageUp),
                                             view, [this] { view->SetPage(view->Page() - 1); });
    nextPageAction = viewMenu->addAction(tr("&Next Page"), QKeySequence(Qt::Key_PageDown), view,
                                         [this] { view->SetPage(view->Page() + 1); });
    viewMenu->addSeparator();
    // The dock follows the host's panel: the action opens and closes that.
    panelAction = viewMenu->addAction(tr("Orders &Panel"), this, [this](bool open) {
        RunCommand(open ? "panel open" : "panel close");
    });
    panelAction->setCheckable(true);
    connect(viewMenu, &QMenu::aboutToShow, this, &MainWindow::RefreshActions);

    AddPlugInMenus();
}

// The plug-in's menus: those under the host's main menu go into the menu of
// that name (Help among them), a panel's own menu into a menu of its own;
// each entry runs its action, with the action's shortcuts.
void MainWindow::AddPlugInMenus() {
    InterfacePtr<IApplication> app = Application();
    InterfacePtr<IMenuManager> menus(app ? app->QueryMenuManager() : nullptr);
    InterfacePtr<IActionManager> actions(app ? app->QueryActionManager() : nullptr);
    InterfacePtr<IShortcutManager> shortcuts(app ? app->QueryShortcutManager() : nullptr);
    QMenu* help = nullptr;
    auto topMenu = [&](const QString& title) {
        for (QAction* a : menuBar()->actions()) {
            if (a->menu() != nullptr && PlainName(a->text()) == PlainName(title)) {
                return a->menu();
            }
        }
        QMenu* menu = new QMenu(title, this);
        menuBar()->insertMenu(help != nullptr ? help->menuAction() : nullptr, menu);
        connect(menu, &QMenu::aboutToShow, this, &MainWindow::RefreshActions);
        return menu;
    };
    help = topMenu(tr("&Help"));
    if (!menus || !actions) {
        help->addAction(tr("(the plug-in is not loaded)"))->setEnabled(false);
        return;
    }
    for (const PMString& path : menus->GetMenuPaths()) {
        const QStringList parts = QString::fromStdString(path.GetUTF8String()).split(':');
        QMenu* menu =
            parts.size() > 1 && parts[0] == "Main" ? topMenu(parts[1]) : topMenu(tr("&Orders"));
        if (!menu->isEmpty()) {
            menu->addSeparator();
        }
        for (const MenuItemDefinition& item : menus->GetMenuItems(path)) {
            if (item.separator) {
                menu->addSeparator();
                continue;
            }
            const ActionID id = item.action;
            QAction* action =
                menu->addAction(Text(item.text.IsEmpty() ? actions->GetActionName(id) : item.text));
            action->setObjectName(QString("action-0x%1").arg(id.Get(), 0, 16));
            QList<QKeySequence> keys;
            for (const ShortcutBinding& b : shortcuts ? shortcuts->GetShortcutsForAction(id)
                                                      : std::vector<ShortcutBinding>{}) {
                if (b.context.GetUTF8String() == kDefaultShortcutContext) {
                    if (const QKeyCombination k = QtKey(b.key, b.modifiers); k.toCombined() != 0) {
                        keys << QKeySequence(k);
                    }
                }
            }
            action->setShortcuts(keys);
            connect(action, &QAction::triggered, this, [this, id] { RunAction(id); });
            plugInActions.push_back({id, action});
        }
    }
}

void MainWindow::RefreshActions() {
    IDataBase* db = shell.FrontDocument();
    undoAction->setEnabled(db != nullptr && db->CanUndo());
    undoAction->setText(db != nullptr && db->CanUndo() ? tr("&Undo %1").arg(Text(db->GetUndoName()))
                                                       : tr("&Undo"));
    redoAction->setEnabled(db != nullptr && db->CanRedo());
    redoAction->setText(db != nullptr && db->CanRedo() ? tr("&Redo %1").arg(Text(db->GetRedoName()))
                                                       : tr("&Redo"));
    InterfacePtr<IApplication> app = Application();
    InterfacePtr<IPanelMgr> panels(app ? app->QueryPanelManager() : nullptr);
    panelAction->setChecked(panels && panels->IsPanelShown(kOrdoPanelWidgetID));
    InterfacePtr<IActionManager> actions(app ? app->QueryActionManager() : nullptr);
    if (!actions || plugInActions.empty()) {
        return;
    }
    std::vector<ActionID> ids;
    for (const PlugInAction& a : plugInActions) {
        ids.push_back(a.id);
    }
    actions->UpdateActionStates(nullptr, ids);
    for (const PlugInAction& a : plugInActions) {
        a.action->setEnabled(actions->IsEnabled(a.id));
        a.action->setCheckable(actions->IsChecked(a.id));
        a.action->setChecked(actions->IsChecked(a.id));
    }
}

// Shows the panel as the host has it, and draws the page again when the
// front document, or anything in it, changed since it was drawn; true then.
bool MainWindow::SyncViews() {
    dock->Sync();
    IDataBase* db = shell.FrontDocument();
    watch->Watch(db);
    if (db == shown.document && documentChanges == shown.changes) {
        return false;
    }
    shown.document = db;
    shown.changes = documentChanges;
    view->Redraw();
    return true;
}

void MainWindow::AfterUserAction() {
    if (!SyncViews()) {
        view->UpdateSelection();
    }
    RefreshActions();
    UpdateStatus();
    UpdateTitle();
}

void MainWindow::IdleTick() {
    // While the host is in a call (a dialog or an alert of the plug-in open
    // in it) the clock waits: idle passes do not run inside user actions.
    if (hostCalls > 0 || QApplication::activeModalWidget() != nullptr) {
        return;
    }
    HostClock::SyncWithRealTime();
    if (SyncViews()) {
        RefreshActions();
        UpdateTitle();
    }
    UpdateStatus();
}

QString MainWindow::StatusText() const {
    int waiting = 0;
    InterfacePtr<IListBoxController> list(GetOrdoPanelList(), IID_ILISTBOXCONTROLLER);
    for (int32_t r = 0; list && r < list->GetRowCount(); ++r) {
        const ListRow row = list->GetRow(r); // the cell points into it
        const ListCell* icon = row.FindCell(kOrdoStatusIconCellID);
        waiting += icon != nullptr && icon->iconID == kOrdoIconSent ? 1 : 0;
    }
    QString text = tr("Orders waiting: %1").arg(waiting);
    ISession* session = GetExecutionContextSession();
    InterfacePtr<IOrdoPrefsData> prefs(session, IID_IORDOPREFSDATA);
    if (prefs) {
        const OD_PrefsData p = prefs->Get();
        text += p.GetAutoUpdt() ? tr("  |  pickup every %1 s").arg(p.GetFrequency())
                                : tr("  |  automatic pickup off");
    }
    const int64_t next = MillisecondsToNextOrdoPickup();
    if (next >= 0 && waiting > 0) {
        text += tr("  |  next pickup in %1 s").arg(static_cast<double>(next) / 1000.0, 0, 'f', 1);
    }
    return text;
}

void MainWindow::UpdateStatus() {
    waitingLabel->setText(StatusText());
}

void MainWindow::UpdateTitle() {
    InterfacePtr<IDocument> doc = DocumentUtils::QueryDocument(shell.FrontDocument());
    if (!doc) {
        setWindowTitle(tr("OrdoDesk Workbench"));
        return;
    }
    setWindowTitle(tr("%1%2 - OrdoDesk Workbench")
                       .arg(Text(doc->GetName()))
                       .arg(shell.FrontDocument()->IsModified() ? "*" : ""));
}

// The page items selected in the layout, deleted as the shell's delete
// does: one undo step each.
void MainWindow::DeleteSelection() {
    IDataBase* db = shell.FrontDocument();
    InterfacePtr<IDocument> doc = DocumentUtils::QueryDocument(db);
    InterfacePtr<ILayoutSelection> selection(doc.get(), IID_ILAYOUTSELECTION);
    if (!selection || selection->GetSelectedItems().IsEmpty()) {
        return;
    }
    std::string line = "delete";
    for (UID uid : selection->GetSelectedItems()) {
        line += " " + std::to_string(uid.Get());
    }
    RunCommand(line);
}

// ---- File

void MainWindow::NewDocument() {
    RunCommand("new");
    view->FitPage();
}

void MainWindow::OpenDocument() {
    const QString path = QFileDialog::getOpenFileName(
        this, tr("Open Document"), QString(),
        tr("Documents (*.odoc *.idml);;OrdoDesk documents (*.odoc);;IDML packages (*.idml);;"
           "All files (*)"));
    if (path.isEmpty()) {
        return;
    }
    SetPath(path);
    std::string output;
    if (!RunCommand("open ${WB_PATH}", &output)) {
        return;
    }
    view->FitPage();
    // What the document could not bring (links that map nowhere, missing
    // images) is said at once, not left for the user to find.
    QStringList warnings;
    for (const QString& line : QString::fromStdString(output).split('\n')) {
        if (line.startsWith("warning: ")) {
            warnings << line.mid(9);
        }
    }
    if (!warnings.isEmpty()) {
        QMessageBox box(QMessageBox::Warning, tr("Open Document"),
                        tr("%n problem(s) while opening %1.", nullptr, warnings.size())
                            .arg(QFileInfo(path).fileName()),
                        QMessageBox::Ok, this);
        box.setDetailedText(warnings.join('\n'));
        box.exec();
    }
}

void MainWindow::PlaceImage() {
    if (shell.FrontDocument() == nullptr) {
        QMessageBox::information(this, tr("Place Image"), tr("Make or open a document first."));
        return;
    }
    const QString path = QFileDialog::getOpenFileName(
        this, tr("Place Image"), QString(),
        tr("Images (*.tif *.tiff *.jpg *.jpeg *.psd *.eps *.pcd);;All files (*)"));
    if (path.isEmpty()) {
        return;
    }
    PlaceDialog dialog(path, view->PageCount(), this);
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    SetPath(path);
    RunCommand("place ${WB_PATH} " + dialog.Arguments());
}

bool MainWindow::Save() {
    InterfacePtr<IDocument> doc = DocumentUtils::QueryDocument(shell.FrontDocument());
    if (!doc) {
        return false;
    }
    if (doc->GetFilePath().IsEmpty()) {
        return SaveAs();
    }
    return RunCommand("save");
}

bool MainWindow::SaveAs() {
    if (shell.FrontDocument() == nullptr) {
        return false;
    }
    // A document read from IDML is written back as IDML (its package keeps
    // what the model does not hold); others as the host's document file.
    const bool idml = idml::IsIdmlDocument(shell.FrontDocument());
    QString path = QFileDialog::getSaveFileName(this, tr("Save Document"), QString(),
                                                idml ? tr("IDML packages (*.idml)")
                                                     : tr("OrdoDesk documents (*.odoc)"));
    if (path.isEmpty()) {
        return false;
    }
    if (QFileInfo(path).suffix().isEmpty()) {
        path += idml ? ".idml" : ".odoc";
    }
    SetPath(path);
    return RunCommand("save ${WB_PATH}");
}

// The link path map that IDML packages from other machines are opened
// through: the pairs of a foreign prefix and a local folder, added and
// removed by the shell's own linkmap command.
void MainWindow::EditLinkMap() {
    QDialog dialog(this);
    dialog.setWindowTitle(tr("Link Path Map"));
    auto* form = new QFormLayout(&dialog);
    auto* entries = new QListWidget(&dialog);
    auto* prefix = new QLineEdit(&dialog);
    prefix->setPlaceholderText(tr("/Volumes/Jobs or C:/Jobs"));
    auto* folder = new QLineEdit(&dialog);
    auto* browse = new QPushButton(tr("Choose..."), &dialog);
    auto* add = new QPushButton(tr("Add"), &dialog);
    auto* remove = new QPushButton(tr("Remove"), &dialog);
    auto fill = [entries] {
        entries->clear();
        for (const auto& [foreign, local] : idml::SessionLinkMap().Entries()) {
            auto* item = new QListWidgetItem(QString::fromStdString(foreign + "  ->  " + local));
            item->setData(Qt::UserRole, QString::fromStdString(foreign));
            entries->addItem(item);
        }
    };
    connect(browse, &QPushButton::clicked, &dialog, [&] {
        const QString chosen = QFileDialog::getExistingDirectory(&dialog, tr("Local Folder"));
        if (!chosen.isEmpty()) {
            folder->setText(chosen);
        }
    });
    connect(add, &QPushButton::clicked, &dialog, [&] {
        shell.SetVariable("WB_PREFIX", prefix->text().toStdString());
        SetPath(folder->text());
        if (RunCommand("linkmap add ${WB_PREFIX} ${WB_PATH}")) {
            prefix->clear();
            folder->clear();
        }
        fill();
    });
    connect(remove, &QPushButton::clicked, &dialog, [&] {
        if (QListWidgetItem* item = entries->currentItem()) {
            shell.SetVariable("WB_PREFIX", item->data(Qt::UserRole).toString().toStdString());
            RunCommand("linkmap remove ${WB_PREFIX}", nullptr, true);
            fill();
        }
    });
    fill();
    form->addRow(entries);
    form->addRow(remove);
    form->addRow(tr("Foreign prefix"), prefix);
    form->addRow(tr("Local folder"), folder);
    form->addRow(browse, add);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    form->addRow(buttons);
    dialog.exec();
}

void MainWindow::ExportPdf() {
    if (shell.FrontDocument() == nullptr) {
        return;
    }
    QString path = QFileDialog::getSaveFileName(this, tr("Export PDF"), QString(),
                                                tr("PDF files (*.pdf);;PNG pictures (*.png)"));
    if (path.isEmpty()) {
        return;
    }
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix != "pdf" && suffix != "png") {
        path += ".pdf";
    }
    SetPath(path);
    // The file dialog asked before an existing file is replaced.
    std::string output;
    if (RunCommand("render ${WB_PATH} --replace", &output)) {
        statusBar()->showMessage(QString::fromStdString(output).trimmed(), 8000);
    }
}

bool MainWindow::MayDiscardChanges() {
    InterfacePtr<IApplication> app = Application();
    InterfacePtr<IDocumentList> docs(app ? app->QueryDocumentList() : nullptr);
    for (int32_t i = 0; docs && i < docs->GetDocCount(); ++i) {
        IDataBase* db = docs->GetNthDoc(i).GetDataBase();
        if (db == nullptr || !db->IsModified()) {
            continue;
        }
        // The shell saves the front document: the one asked about comes to
        // the front.
        docs->SetFrontDocument(db);
        AfterUserAction();
        InterfacePtr<IDocument> doc = DocumentUtils::QueryDocument(db);
        const QMessageBox::StandardButton answer = QMessageBox::question(
            this, tr("Unsaved Changes"),
            tr("Save the changes to %1?").arg(doc ? Text(doc->GetName()) : tr("the document")),
            QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
        if (answer == QMessageBox::Cancel || (answer == QMessageBox::Save && !Save())) {
            return false;
        }
    }
    return true;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (MayDiscardChanges()) {
        idleTimer->stop();
        event->accept();
    } else {
        event->ignore();
    }
}
