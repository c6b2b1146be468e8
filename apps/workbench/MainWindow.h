#pragma once

// The workbench's main window: the page view in the middle, the orders panel
// as a dock, the menus (File, Edit, View, the plug-in's own, Help) with the
// plug-in's shortcuts, the idle timer that moves the host clock in real time,
// and a status bar with the orders waiting and the next pickup. Everything
// the window does goes through the host shell's session: its commands or the
// host's API.

#include "Workbench.h"

#include "ObjectModel.h"

#include <QMainWindow>
#include <QPointer>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

class HostShell;
class PageView;
class QAction;
class QLabel;
class QMenu;
class QTimer;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // The session has started; out and err are the streams the shell prints
    // to (the window reads them after each command it runs).
    MainWindow(HostShell& shell, std::ostringstream& out, std::ostringstream& err,
               QWidget* parent = nullptr);
    ~MainWindow() override;

    // Runs a shell command line as the menus do: the shell's output in
    // *output, the error shown in a message box unless quiet. Paths go in as
    // ${WB_PATH} (SetPath) so that no character of theirs is read as syntax.
    bool RunCommand(const std::string& line, std::string* output = nullptr, bool quiet = false);
    void SetPath(const QString& path);

    // Runs a plug-in action as its menu entry does: only when enabled.
    bool RunAction(ActionID id);

    // One pass of the idle timer: the host clock moved to now, due idle tasks
    // run, the panel and the page shown again when something changed.
    void IdleTick();

    PageView* View() const { return view; }
    workbench::OrdersPanelDock* Dock() const { return dock; }
    workbench::QtSinks* Sinks() const { return sinks.get(); }
    // The status bar's text: the orders waiting and the next pickup.
    QString StatusText() const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildMenus();
    void AddPlugInMenus();
    void RefreshActions();
    // After anything the user did: the panel, the page, the menus and the
    // status shown as they are now.
    bool SyncViews();
    void AfterUserAction();
    void UpdateStatus();
    void UpdateTitle();

    void NewDocument();
    void OpenDocument();
    void PlaceImage();
    bool Save();
    bool SaveAs();
    void ExportPdf();
    void EditLinkMap();
    void DeleteSelection();
    // Asks about each document with unsaved changes; false when the user
    // cancels.
    bool MayDiscardChanges();

    HostShell& shell;
    std::ostringstream& out;
    std::ostringstream& err;
    std::unique_ptr<workbench::QtSinks> sinks;
    PageView* view = nullptr;
    workbench::OrdersPanelDock* dock = nullptr;
    QTimer* idleTimer = nullptr;
    QLabel* waitingLabel = nullptr;
    QLabel* pageLabel = nullptr;

    QAction* undoAction = nullptr;
    QAction* redoAction = nullptr;
    QAction* previousPageAction = nullptr;
    QAction* nextPageAction = nullptr;
    QAction* panelAction = nullptr;
    // Host calls the window is in (commands, actions): no idle pass then.
    int hostCalls = 0;
    // The plug-in's actions in the menus.
    struct PlugInAction {
        ActionID id;
        QAction* action;
    };
    std::vector<PlugInAction> plugInActions;
    // What the page was last drawn from: a change to any of these draws it
    // again.
    struct Shown {
        IDataBase* document = nullptr;
        int32_t undoCount = -1;
        bool canRedo = false;
        uint64_t changes = 0;
    } shown;
    uint64_t documentChanges = 0;
    class ChangeWatch;
    std::unique_ptr<ChangeWatch> watch;
};
