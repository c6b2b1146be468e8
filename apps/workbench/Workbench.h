#pragma once

// The workbench: the host session of the shell (HostShell: the plug-in
// loaded, documents, the orders panel, the reference server) in a Qt window.
// The page view and the main window (menus, shortcuts, the idle timer, the
// status bar) live in MainWindow.cpp and PageView.cpp; the host's widget trees
// (the orders panel, the plug-in's dialogs) are shown through one generic
// mapping in HostWidgets.cpp, with the alerts and choosers as Qt dialogs.

#include "CAlert.h"
#include "Choosers.h"
#include "Widgets.h"

#include <QDockWidget>
#include <QPointer>
#include <QWidget>

#include <memory>
#include <string>
#include <vector>

class HostShell;
class IDataBase;

namespace workbench {

// Drag and drop of page items from the page view onto the orders list: the
// items' UIDs as decimal numbers separated by blanks.
inline constexpr const char* kPageItemsMimeType = "application/x-ordodesk-page-items";

// ---- HostWidgets.cpp

// Qt widgets built from a host widget tree by one generic mapping (edit box,
// drop-down list, check box, radio button, button, static text, group and
// cluster, list box with its cells and icons, icon), kept in step both ways:
// a change the user makes is given to the host widget (its observers told),
// and Sync() shows the host widgets as they are now (values, entries, rows,
// selection, enabled, visible).
class HostWidgetView : public QWidget {
    Q_OBJECT
public:
    HostWidgetView(IControlView* root, QWidget* parent = nullptr);
    ~HostWidgetView() override;
    void Sync();
    // The Qt widget that shows the host widget of that ID, or null.
    QWidget* WidgetFor(WidgetID id) const;
    IControlView* Root() const { return root; }

signals:
    // After any change the user made through this view.
    void Changed();

private:
    struct Impl;
    IControlView* root;
    std::unique_ptr<Impl> impl;
};

// The orders panel as a dock that floats or docks, with its panel menu; page
// items dropped on its list are given to the panel's drop target. Shown and
// hidden with the host's panel (the panel manager's show and hide).
class OrdersPanelDock : public QDockWidget {
    Q_OBJECT
public:
    explicit OrdersPanelDock(QWidget* parent = nullptr);
    ~OrdersPanelDock() override;
    // Shows the panel as the host has it now (built on first use).
    void Sync();
    HostWidgetView* View() const;

signals:
    // After the user did something in the panel (the host may have changed).
    void Acted();

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

// The host's alerts, modal dialogs and file and folder choosers as Qt
// dialogs. Installs itself as the host's sinks while it lives.
class QtSinks : public IAlertSink, public IDialogSink, public IChooserSink {
public:
    explicit QtSinks(QWidget* parent);
    ~QtSinks() override;
    QtSinks(const QtSinks&) = delete;
    QtSinks& operator=(const QtSinks&) = delete;

    AlertResponse ShowAlert(const AlertRequest& alert) override;
    DialogAnswer RunDialog(IControlView* dialog, WidgetID invalidField) override;
    std::optional<std::string> Choose(const ChooserRequest& request) override;

    // The dialog being shown, or null (tests drive it).
    QWidget* OpenDialog() const;

private:
    QPointer<QWidget> parent;
    QPointer<QWidget> openDialog;
    IAlertSink* previousAlerts;
    IDialogSink* previousDialogs;
    IChooserSink* previousChoosers;
};

} // namespace workbench
