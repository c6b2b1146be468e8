// The host's widget trees as Qt widgets: one generic mapping (HostWidgetView)
// used for the orders panel (OrdersPanelDock) and for the plug-in's modal
// dialogs (QtSinks, with the alerts and the file and folder choosers).
//
// Every host widget becomes one Qt widget placed at the host widget's frame,
// as the plug-in laid the panel or dialog out. What the user does in Qt goes
// to the host through WidgetDriver (as the shell's commands send it, the
// observers told); Sync() then shows every host widget as it is now.
#include "Workbench.h"

#include "HostWidgetsInternal.h"

#include "DocumentUtils.h"
#include "HostStrings.h"
#include "IActionManager.h"
#include "IApplication.h"
#include "IDataBase.h"
#include "IMenuManager.h"
#include "ISession.h"
#include "IShortcutManager.h"
#include "OrdoActions.h"
#include "OrdoPanel.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyle>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>

namespace workbench {

// ---- texts, frames and icons

QString Shown(const PMString& text) {
    return QString::fromStdString(text.Translated().GetUTF8String());
}

QString WithoutAccessKeys(QString text) {
    return text.remove(QLatin1Char('&'));
}

QRect PixelRect(const PMRect& frame) {
    auto px = [](double points) { return static_cast<int>(std::lround(points * kPixelsPerPoint)); };
    return QRect(px(frame.Left()), px(frame.Top()), std::max(0, px(frame.Right() - frame.Left())),
                 std::max(0, px(frame.Bottom() - frame.Top())));
}

namespace {

struct StatusGlyph {
    int32_t icon;
    const char* letters;
    QColor colour;
    const char* meaning;
};

const StatusGlyph kStatusGlyphs[] = {
    {kOrdoIconReady, "R", QColor(0x2f, 0x6f, 0xc8), "ready"},
    {kOrdoIconResampling, "R!", QColor(0xe0, 0x8a, 0x10), "ready, resampling warning"},
    {kOrdoIconSent, "S", QColor(0xc8, 0xa0, 0x00), "sent, waiting"},
    {kOrdoIconDone, "D", QColor(0x2e, 0x9a, 0x3c), "done"},
    {kOrdoIconFailed, "X", QColor(0xc8, 0x28, 0x28), "failed on the server"},
    {kOrdoIconDoneWithWarning, "D!", QColor(0x6a, 0x8a, 0x20), "done with a server warning"},
};

const StatusGlyph* FindGlyph(int32_t iconID) {
    for (const StatusGlyph& g : kStatusGlyphs) {
        if (g.icon == iconID) {
            return &g;
        }
    }
    return nullptr;
}

} // namespace

QIcon IconForResource(int32_t iconID) {
    static std::map<int32_t, QIcon> cache;
    if (iconID == 0) {
        return QIcon();
    }
    auto it = cache.find(iconID);
    if (it != cache.end()) {
        return it->second;
    }
    const StatusGlyph* glyph = FindGlyph(iconID);
    QPixmap pixmap(18, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(glyph != nullptr ? glyph->colour : QColor(Qt::gray));
    painter.drawRoundedRect(QRectF(0.5, 0.5, 17, 15), 3, 3);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(glyph != nullptr && glyph->letters[1] == 0 ? 11 : 9);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(pixmap.rect(), Qt::AlignCenter,
                     glyph != nullptr ? QString::fromLatin1(glyph->letters) : QStringLiteral("?"));
    painter.end();
    return cache[iconID] = QIcon(pixmap);
}

QString IconMeaning(int32_t iconID) {
    const StatusGlyph* glyph = FindGlyph(iconID);
    return glyph != nullptr ? QString::fromLatin1(glyph->meaning)
           : iconID == 0    ? QString()
                            : QStringLiteral("icon %1").arg(iconID);
}

// ---- the list box

ListTree::ListTree(QWidget* parent) : QTreeWidget(parent) {
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setIconSize(QSize(18, 16));
    header()->setMinimumSectionSize(16);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DropOnly);
}

void ListTree::dragEnterEvent(QDragEnterEvent* event) {
    if (canDrop && canDrop(event->mimeData())) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void ListTree::dragMoveEvent(QDragMoveEvent* event) {
    if (canDrop && canDrop(event->mimeData())) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void ListTree::dropEvent(QDropEvent* event) {
    if (drop && drop(event->mimeData())) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

namespace {

IDataBase* FrontDocument() {
    ISession* session = GetExecutionContextSession();
    InterfacePtr<IApplication> app(session != nullptr ? session->QueryApplication() : nullptr);
    InterfacePtr<IDocumentList> docs(app ? app->QueryDocumentList() : nullptr);
    return docs ? docs->GetFrontDocument() : nullptr;
}

} // namespace

// The page items (of the front document) or the local files that the data
// carries; false when it carries neither, or names a UID that is not a page
// item of the front document.
bool DropDataFrom(const QMimeData* mime, DragDropData& data) {
    if (mime == nullptr) {
        return false;
    }
    if (mime->hasFormat(QString::fromLatin1(kPageItemsMimeType))) {
        IDataBase* db = FrontDocument();
        if (db == nullptr) {
            return false;
        }
        data.pageItems = UIDList(db);
        const QString text = QString::fromUtf8(mime->data(QString::fromLatin1(kPageItemsMimeType)));
        for (const QString& word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            bool ok = false;
            const uint32_t value = word.trimmed().toUInt(&ok);
            const UIDRef ref(db, UID(value));
            if (!ok || !db->IsValidUID(UID(value)) || !PageItemTypeUtils::IsPageItem(ref)) {
                return false;
            }
            data.pageItems.Append(ref);
        }
        return !data.pageItems.IsEmpty();
    }
    for (const QUrl& url : mime->urls()) {
        if (url.isLocalFile()) {
            data.filePaths.push_back(url.toLocalFile().toStdString());
        }
    }
    return !data.filePaths.empty();
}

// ---- HostWidgetView

struct HostWidgetView::Impl {
    struct Entry {
        IControlView* view;
        QWidget* widget;
    };
    HostWidgetView* self;
    std::vector<Entry> entries;
    // The host widgets the Qt widgets were made from, to see the tree change.
    std::vector<IControlView*> built;
    bool syncing = false;

    explicit Impl(HostWidgetView* self) : self(self) {}

    void Build();
    void BuildChildren(IControlView* container, QWidget* into);
    QWidget* Make(IControlView* view, QWidget* parent);
    void SyncEntry(const Entry& e);
    void SyncList(ListTree* tree, IControlView* view);
    // Runs what the user did unless it is Sync setting the widgets; then
    // shows the host as it is and tells of the change.
    template <class F> void User(F&& change) {
        if (syncing) {
            return;
        }
        change();
        self->Sync();
        emit self->Changed();
    }
};

HostWidgetView::HostWidgetView(IControlView* root, QWidget* parent)
    : QWidget(parent), root(root), impl(std::make_unique<Impl>(this)) {
    impl->Build();
    Sync();
}

HostWidgetView::~HostWidgetView() {
    // The Qt widgets go first: nothing they tell while going reaches the host.
    impl->syncing = true;
    qDeleteAll(findChildren<QWidget*>(Qt::FindDirectChildrenOnly));
}

void HostWidgetView::Impl::Build() {
    for (const Entry& e : entries) {
        if (e.widget != self) {
            e.widget->hide();
            e.widget->deleteLater();
        }
    }
    entries.clear();
    built = WidgetUtils::AllWidgets(self->root);
    if (self->root == nullptr) {
        return;
    }
    entries.push_back({self->root, self});
    BuildChildren(self->root, self);
}

void HostWidgetView::Impl::BuildChildren(IControlView* container, QWidget* into) {
    InterfacePtr<IPanelControlData> children(container, IID_IPANELCONTROLDATA);
    for (int32_t n = 0; children && n < children->Length(); ++n) {
        IControlView* child = children->GetWidget(n);
        if (child == nullptr) {
            continue;
        }
        if (QWidget* w = Make(child, into)) {
            entries.push_back({child, w});
            BuildChildren(child, w);
        }
    }
}

QWidget* HostWidgetView::Impl::Make(IControlView* view, QWidget* parent) {
    IPMUnknown* top = self->root;
    const WidgetID id = view->GetWidgetID();
    QWidget* made = nullptr;
    switch (view->GetKind()) {
    case WidgetKind::kPanel:
    case WidgetKind::kDialog:
    case WidgetKind::kCluster:
        made = new QWidget(parent);
        break;
    case WidgetKind::kGroup: {
        // A titled group shows its title in a frame; an untitled one only
        // holds its widgets.
        InterfacePtr<ITextControlData> title(view, IID_ITEXTCONTROLDATA);
        made = title && !title->GetString().IsEmpty() ? new QGroupBox(parent) : new QWidget(parent);
        break;
    }
    case WidgetKind::kStaticText:
        if (PixelRect(view->GetFrame()).height() >= kTallTextPixels) {
            // Texts of several lines (the log, the image status) scroll.
            auto* text = new QPlainTextEdit(parent);
            text->setReadOnly(true);
            text->setFrameShape(QFrame::NoFrame);
            text->viewport()->setAutoFillBackground(false);
            made = text;
        } else {
            auto* label = new QLabel(parent);
            label->setTextFormat(Qt::PlainText);
            label->setWordWrap(true);
            made = label;
        }
        break;
    case WidgetKind::kEditBox: {
        auto* edit = new QLineEdit(parent);
        QObject::connect(edit, &QLineEdit::textEdited, self, [this, top, id](const QString& t) {
            User([&] { WidgetDriver::Type(top, id, PMString(t.toStdString())); });
        });
        made = edit;
        break;
    }
    case WidgetKind::kCheckBox:
    case WidgetKind::kRadioButton: {
        QAbstractButton* box = nullptr;
        if (view->GetKind() == WidgetKind::kCheckBox) {
            box = new QCheckBox(parent);
        } else {
            // The host leaves the other radio buttons of the cluster.
            box = new QRadioButton(parent);
            box->setAutoExclusive(false);
        }
        QObject::connect(box, &QAbstractButton::toggled, self, [this, top, id](bool on) {
            User([&] { WidgetDriver::SetChecked(top, id, on); });
        });
        made = box;
        break;
    }
    case WidgetKind::kButton: {
        auto* button = new QPushButton(parent);
        button->setAutoDefault(false);
        QObject::connect(button, &QPushButton::clicked, self,
                         [this, top, id] { User([&] { WidgetDriver::Press(top, id); }); });
        made = button;
        break;
    }
    case WidgetKind::kDropDownList: {
        auto* combo = new QComboBox(parent);
        QObject::connect(combo, &QComboBox::currentIndexChanged, self, [this, top, id](int n) {
            User([&] { WidgetDriver::Choose(top, id, n); });
        });
        made = combo;
        break;
    }
    case WidgetKind::kListBox: {
        auto* tree = new ListTree(parent);
        QObject::connect(tree, &QTreeWidget::itemSelectionChanged, self, [this, top, id, tree] {
            User([&] {
                std::vector<int32_t> rows;
                for (int n = 0; n < tree->topLevelItemCount(); ++n) {
                    if (tree->topLevelItem(n)->isSelected()) {
                        rows.push_back(n);
                    }
                }
                WidgetDriver::SelectRows(top, id, rows);
            });
        });
        QObject::connect(tree, &QTreeWidget::itemDoubleClicked, self,
                         [this, top, id, tree](QTreeWidgetItem* item, int) {
                             const int row = tree->indexOfTopLevelItem(item);
                             User([&] { WidgetDriver::DoubleClickRow(top, id, row); });
                         });
        tree->canDrop = [top, id](const QMimeData* mime) {
            DragDropData data;
            InterfacePtr<IDragDropTarget> target(WidgetUtils::FindWidget(top, id),
                                                 IID_IDRAGDROPTARGET);
            return target && WidgetDriver::IsUsable(top, id) && DropDataFrom(mime, data) &&
                   target->CouldAcceptTypes(data);
        };
        tree->drop = [this, top, id](const QMimeData* mime) {
            DragDropData data;
            bool taken = false;
            if (DropDataFrom(mime, data)) {
                User([&] { taken = WidgetDriver::Drop(top, id, data) == kSuccess; });
            }
            return taken;
        };
        made = tree;
        break;
    }
    case WidgetKind::kIcon:
        made = new QLabel(parent);
        break;
    default:
        // List elements and cells are shown through their list box.
        return nullptr;
    }
    made->setObjectName(QStringLiteral("host-0x%1").arg(id.Get(), 0, 16));
    return made;
}

void HostWidgetView::Sync() {
    if (impl->built != WidgetUtils::AllWidgets(root)) {
        impl->Build();
    }
    const bool outer = impl->syncing;
    impl->syncing = true;
    for (const Impl::Entry& e : impl->entries) {
        impl->SyncEntry(e);
    }
    impl->syncing = outer;
}

QWidget* HostWidgetView::WidgetFor(WidgetID id) const {
    for (const Impl::Entry& e : impl->entries) {
        if (id.IsValid() && e.view->GetWidgetID() == id) {
            return e.widget;
        }
    }
    return nullptr;
}

void HostWidgetView::Impl::SyncEntry(const Entry& e) {
    IControlView* view = e.view;
    QWidget* w = e.widget;
    const QSignalBlocker blocker(w);
    InterfacePtr<ITextControlData> textData(view, IID_ITEXTCONTROLDATA);
    const QString text = textData ? Shown(textData->GetString()) : QString();
    QRect frame = PixelRect(view->GetFrame());
    if (w == self) {
        // The root: its size only; it is shown by whoever holds the view.
        self->setFixedSize(frame.size());
        self->setEnabled(view->IsEnabled());
        return;
    }
    auto* tree = dynamic_cast<ListTree*>(w);
    if (tree != nullptr) {
        frame.setTop(frame.top() - tree->raiseTop);
    }
    if (w->geometry() != frame) {
        w->setGeometry(frame);
    }
    w->setEnabled(view->IsEnabled());
    w->setVisible(view->IsVisible() && !w->property(kCoveredProperty).toBool());
    const QString tip = Shown(view->GetTip());
    if (w->toolTip() != tip) {
        w->setToolTip(tip);
    }
    InterfacePtr<ITriStateControlData> state(view, IID_ITRISTATECONTROLDATA);
    if (auto* group = qobject_cast<QGroupBox*>(w)) {
        group->setTitle(text);
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
        if (view->GetKind() == WidgetKind::kIcon) {
            const QIcon icon = IconForResource(view->GetRsrcID());
            label->setPixmap(icon.pixmap(18, 16));
            label->setToolTip(tip.isEmpty() ? IconMeaning(view->GetRsrcID()) : tip);
        } else if (label->text() != WithoutAccessKeys(text)) {
            label->setText(WithoutAccessKeys(text));
        }
    } else if (auto* plain = qobject_cast<QPlainTextEdit*>(w)) {
        if (plain->toPlainText() != text) {
            plain->setPlainText(text);
            plain->verticalScrollBar()->setValue(plain->verticalScrollBar()->maximum());
        }
    } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        if (edit->text() != text) {
            edit->setText(text);
        }
    } else if (auto* button = qobject_cast<QPushButton*>(w)) {
        button->setText(text);
        if (view->GetRsrcID() != 0) {
            button->setIcon(IconForResource(view->GetRsrcID()));
        }
    } else if (auto* box = qobject_cast<QAbstractButton*>(w)) {
        box->setText(text);
        const auto s = state ? state->GetState() : ITriStateControlData::kUnselected;
        if (auto* check = qobject_cast<QCheckBox*>(w)) {
            check->setTristate(s == ITriStateControlData::kUnknown);
            check->setCheckState(s == ITriStateControlData::kSelected  ? Qt::Checked
                                 : s == ITriStateControlData::kUnknown ? Qt::PartiallyChecked
                                                                       : Qt::Unchecked);
        } else {
            box->setChecked(s == ITriStateControlData::kSelected);
        }
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        InterfacePtr<IStringListControlData> strings(view, IID_ISTRINGLISTCONTROLDATA);
        InterfacePtr<IDropDownListController> chosen(view, IID_IDROPDOWNLISTCONTROLLER);
        QStringList entries;
        for (int32_t n = 0; strings && n < strings->Length(); ++n) {
            entries << Shown(strings->GetString(n));
        }
        QStringList now;
        for (int n = 0; n < combo->count(); ++n) {
            now << combo->itemText(n);
        }
        if (now != entries) {
            combo->clear();
            combo->addItems(entries);
        }
        combo->setCurrentIndex(chosen ? chosen->GetSelected() : -1);
    } else if (tree != nullptr) {
        SyncList(tree, view);
    }
}

void HostWidgetView::Impl::SyncList(ListTree* tree, IControlView* view) {
    InterfacePtr<IListBoxController> list(view, IID_ILISTBOXCONTROLLER);
    if (!list) {
        return;
    }
    tree->setSelectionMode(list->IsMultipleSelection() ? QAbstractItemView::ExtendedSelection
                                                       : QAbstractItemView::SingleSelection);
    std::vector<ListRow> rows;
    for (int32_t r = 0; r < list->GetRowCount(); ++r) {
        rows.push_back(list->GetRow(r));
    }
    // Without columns given, every cell of the first row, unnamed.
    std::vector<ListColumn> columns = tree->columns;
    if (columns.empty() && !rows.empty()) {
        for (const ListCell& cell : rows.front().cells) {
            columns.push_back({cell.cellID, kInvalidWidgetID, 0});
        }
    }
    QStringList headers;
    bool named = false;
    for (const ListColumn& c : columns) {
        headers << (c.header.IsValid()
                        ? WithoutAccessKeys(Shown(WidgetUtils::GetText(self->root, c.header)))
                        : QString());
        named = named || c.header.IsValid();
    }
    if (tree->columnCount() != static_cast<int>(columns.size())) {
        tree->setColumnCount(static_cast<int>(columns.size()));
        // The last column without a width takes what the others leave.
        for (std::size_t c = 0; c < columns.size(); ++c) {
            if (columns[c].width > 0 || c + 1 == columns.size()) {
                tree->setColumnWidth(static_cast<int>(c), std::max(columns[c].width, 16));
            }
        }
    }
    tree->setHeaderLabels(headers);
    tree->setHeaderHidden(!named);

    while (tree->topLevelItemCount() > static_cast<int>(rows.size())) {
        delete tree->takeTopLevelItem(tree->topLevelItemCount() - 1);
    }
    for (std::size_t r = 0; r < rows.size(); ++r) {
        QTreeWidgetItem* item = static_cast<int>(r) < tree->topLevelItemCount()
                                    ? tree->topLevelItem(static_cast<int>(r))
                                    : new QTreeWidgetItem(tree);
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const ListCell* cell = rows[r].FindCell(columns[c].cell);
            const int col = static_cast<int>(c);
            const QString text = cell != nullptr ? Shown(cell->text) : QString();
            const int32_t icon = cell != nullptr ? cell->iconID : 0;
            if (item->text(col) != text) {
                item->setText(col, text);
            }
            if (item->data(col, Qt::UserRole).toInt() != icon) {
                item->setData(col, Qt::UserRole, icon);
                item->setIcon(col, IconForResource(icon));
                item->setToolTip(col, IconMeaning(icon));
            }
        }
        item->setSelected(list->IsSelected(static_cast<int32_t>(r)));
    }
}

// ---- the orders panel

namespace {

InterfacePtr<IApplication> Application() {
    ISession* session = GetExecutionContextSession();
    return InterfacePtr<IApplication>(session != nullptr ? session->QueryApplication() : nullptr);
}

InterfacePtr<IPanelMgr> Panels() {
    InterfacePtr<IApplication> app = Application();
    return InterfacePtr<IPanelMgr>(app ? app->QueryPanelManager() : nullptr);
}

} // namespace

struct OrdersPanelDock::Impl {
    QScrollArea* scroll = nullptr;
    QToolButton* menuButton = nullptr;
    QMenu* menu = nullptr;
    HostWidgetView* view = nullptr;
    bool syncing = false;
    // The host panel's state as the dock last showed it.
    std::optional<bool> shown;
};

OrdersPanelDock::OrdersPanelDock(QWidget* parent)
    : QDockWidget(parent), impl(std::make_unique<Impl>()) {
    setObjectName(QStringLiteral("OrdersPanel"));
    setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable |
                QDockWidget::DockWidgetClosable);
    auto* content = new QWidget(this);
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);
    auto* bar = new QHBoxLayout;
    bar->addStretch(1);
    impl->menu = new QMenu(content);
    impl->menuButton = new QToolButton(content);
    impl->menuButton->setObjectName(QStringLiteral("PanelMenuButton"));
    impl->menuButton->setText(QStringLiteral("\u2261"));
    impl->menuButton->setToolTip(tr("Panel menu"));
    impl->menuButton->setPopupMode(QToolButton::InstantPopup);
    impl->menuButton->setAutoRaise(true);
    impl->menuButton->setMenu(impl->menu);
    bar->addWidget(impl->menuButton);
    layout->addLayout(bar);
    impl->scroll = new QScrollArea(content);
    impl->scroll->setWidgetResizable(false);
    impl->scroll->setFrameShape(QFrame::NoFrame);
    layout->addWidget(impl->scroll, 1);
    setWidget(content);

    // The menu as the host has it when it opens: entries, enabled states.
    connect(impl->menu, &QMenu::aboutToShow, this, [this] { FillPanelMenu(impl->menu, this); });
    // Showing or hiding the dock opens or closes the host's panel.
    connect(toggleViewAction(), &QAction::toggled, this, [this](bool on) {
        InterfacePtr<IPanelMgr> panels = Panels();
        if (impl->syncing || !panels || panels->IsPanelShown(kOrdoPanelWidgetID) == on) {
            return;
        }
        if (on) {
            panels->ShowPanel(kOrdoPanelWidgetID);
        } else {
            panels->HidePanel(kOrdoPanelWidgetID);
        }
        Sync();
        emit Acted();
    });
}

OrdersPanelDock::~OrdersPanelDock() {
    // A floating dock is hidden as it goes: that closes nothing in the host.
    disconnect(toggleViewAction(), nullptr, this, nullptr);
}

HostWidgetView* OrdersPanelDock::View() const {
    return impl->view;
}

void OrdersPanelDock::Sync() {
    InterfacePtr<IPanelMgr> panels = Panels();
    IControlView* panel = panels ? panels->GetPanelFromWidgetID(kOrdoPanelWidgetID) : nullptr;
    if (panel == nullptr) {
        // No session (or the plug-in made no panel): nothing to show.
        if (impl->view != nullptr) {
            impl->scroll->takeWidget()->deleteLater();
            impl->view = nullptr;
        }
        return;
    }
    if (impl->view == nullptr || impl->view->Root() != panel) {
        // The old view may be the one telling of a change: it goes once that is done.
        if (QWidget* old = impl->scroll->takeWidget()) {
            old->deleteLater();
        }
        impl->view = new HostWidgetView(panel);
        ConfigureOrdersList(impl->view);
        impl->scroll->setWidget(impl->view);
        // The dock asks for the panel's own size (the scroll area's hint follows its widget).
        impl->scroll->updateGeometry();
        connect(impl->view, &HostWidgetView::Changed, this, [this] {
            Sync();
            emit Acted();
        });
    }
    impl->syncing = true;
    impl->view->Sync();
    setWindowTitle(WithoutAccessKeys(Shown(WidgetUtils::GetText(panel, kOrdoPanelWidgetID))));
    const bool shown = panels->IsPanelShown(kOrdoPanelWidgetID);
    if (impl->shown != shown) {
        impl->shown = shown;
        setVisible(shown);
    }
    impl->syncing = false;
}

// The panel's list with the panel's column headers (the host's header texts
// above the list are then shown by the list itself), the buttons with icons.
void ConfigureOrdersList(HostWidgetView* view) {
    auto* tree = dynamic_cast<ListTree*>(view->WidgetFor(kOrdoListBoxWidgetID));
    if (tree == nullptr) {
        return;
    }
    int headerHeight = 0;
    for (WidgetID id : {kOrdoStatusHeaderWidgetID, kOrdoPageHeaderWidgetID, kOrdoNameHeaderWidgetID,
                        kOrdoOptionsHeaderWidgetID}) {
        if (QWidget* header = view->WidgetFor(id)) {
            header->setProperty(kCoveredProperty, true);
            headerHeight = std::max(headerHeight, header->geometry().bottom() + 1);
        }
    }
    tree->raiseTop = headerHeight;
    auto width = [](double points) {
        return static_cast<int>(std::lround(points * kPixelsPerPoint));
    };
    tree->columns = {
        {kOrdoStatusIconCellID, kOrdoStatusHeaderWidgetID, width(48)},
        {kOrdoPageCellID, kOrdoPageHeaderWidgetID, width(40)},
        {kOrdoNameCellID, kOrdoNameHeaderWidgetID, width(152)},
        {kOrdoOptionsCellID, kOrdoOptionsHeaderWidgetID, width(60)},
        {kOrdoProcessCellID, kInvalidWidgetID, width(80)},
        {kOrdoImageTypeCellID, kInvalidWidgetID, 0},
    };
    const std::pair<WidgetID, QStyle::StandardPixmap> icons[] = {
        {kOrdoTrashButtonWidgetID, QStyle::SP_TrashIcon},
        {kOrdoGoButtonWidgetID, QStyle::SP_MediaPlay},
        {kOrdoClearLogWidgetID, QStyle::SP_DialogResetButton},
    };
    for (const auto& [id, pixmap] : icons) {
        if (auto* button = qobject_cast<QPushButton*>(view->WidgetFor(id))) {
            button->setIcon(button->style()->standardIcon(pixmap));
        }
    }
    view->Sync();
}

// The panel menu's entries: their texts and shortcuts, enabled and checked as
// the action manager has them now; choosing one runs its action as the
// host's menu does (refused when it has become disabled).
void FillPanelMenu(QMenu* menu, OrdersPanelDock* dock) {
    menu->clear();
    InterfacePtr<IApplication> app = Application();
    InterfacePtr<IMenuManager> menus(app ? app->QueryMenuManager() : nullptr);
    InterfacePtr<IActionManager> actions(app ? app->QueryActionManager() : nullptr);
    if (!menus || !actions) {
        return;
    }
    InterfacePtr<IShortcutManager> shortcuts(actions.get(), IID_ISHORTCUTMANAGER);
    const std::vector<MenuItemDefinition> items =
        MenuItemsToShow(*menus, *actions, PMString(kOrdoPanelMenuPath));
    for (const MenuItemDefinition& item : items) {
        if (item.separator) {
            menu->addSeparator();
            continue;
        }
        QString text = Shown(item.text.IsEmpty() ? actions->GetActionName(item.action) : item.text);
        QStringList keys;
        for (const ShortcutBinding& b : shortcuts ? shortcuts->GetShortcutsForAction(item.action)
                                                  : std::vector<ShortcutBinding>()) {
            keys << QString::fromStdString(
                ShortcutUtils::GetShortcutString(b.key, b.modifiers).GetUTF8String());
        }
        if (!keys.isEmpty()) {
            text += QLatin1Char('\t') + keys.join(QStringLiteral(", "));
        }
        QAction* action = menu->addAction(text);
        action->setEnabled(actions->IsEnabled(item.action));
        action->setCheckable(actions->IsChecked(item.action));
        action->setChecked(actions->IsChecked(item.action));
        const ActionID id = item.action;
        QObject::connect(action, &QAction::triggered, dock, [dock, id] {
            InterfacePtr<IApplication> a = Application();
            InterfacePtr<IActionManager> am(a ? a->QueryActionManager() : nullptr);
            if (am) {
                am->UpdateActionStates(nullptr, {id});
                am->PerformActionIfEnabled(id);
            }
            dock->Sync();
            emit dock->Acted();
        });
    }
}

// ---- alerts, dialogs and choosers

namespace {

// The window's own texts of the host's alerts, in the host's languages.
constexpr const char* kDontShowAgainKey = "Workbench::DontShowAgain";

void RegisterWindowStrings() {
    HostStrings::RegisterStringTable(HostStrings::kDefaultTable,
                                     {{kDontShowAgainKey, "Do not show this again"}});
    HostStrings::RegisterStringTable(HostStrings::kFrenchTable,
                                     {{kDontShowAgainKey, "Ne plus afficher ce message"}});
    HostStrings::RegisterStringTable(HostStrings::kSpanishTable,
                                     {{kDontShowAgainKey, "No volver a mostrar este mensaje"}});
}

} // namespace

QtSinks::QtSinks(QWidget* parent)
    : parent(parent), previousAlerts(CAlert::SetAlertSink(this)),
      previousDialogs(DialogMgr::SetDialogSink(this)),
      previousChoosers(Choosers::SetChooserSink(this)) {
    RegisterWindowStrings();
}

QtSinks::~QtSinks() {
    CAlert::SetAlertSink(previousAlerts);
    DialogMgr::SetDialogSink(previousDialogs);
    Choosers::SetChooserSink(previousChoosers);
}

QWidget* QtSinks::OpenDialog() const {
    return openDialog.data();
}

namespace {

// Marks the window as the one shown while it is up (tests find it), the one
// shown before it taking over again after.
class ShownWindow {
public:
    ShownWindow(QPointer<QWidget>& slot, QWidget* window) : slot(slot), before(slot) {
        slot = window;
    }
    ~ShownWindow() { slot = before; }
    ShownWindow(const ShownWindow&) = delete;
    ShownWindow& operator=(const ShownWindow&) = delete;

private:
    QPointer<QWidget>& slot;
    QPointer<QWidget> before;
};

} // namespace

AlertResponse QtSinks::ShowAlert(const AlertRequest& alert) {
    QMessageBox box(openDialog ? openDialog.data() : parent.data());
    switch (alert.icon) {
    case AlertIcon::kWarningIcon:
        box.setIcon(QMessageBox::Warning);
        break;
    case AlertIcon::kErrorIcon:
        box.setIcon(QMessageBox::Critical);
        break;
    case AlertIcon::kInformationIcon:
        box.setIcon(QMessageBox::Information);
        break;
    case AlertIcon::kNoIcon:
        box.setIcon(alert.kind == AlertKind::kError     ? QMessageBox::Critical
                    : alert.kind == AlertKind::kWarning ? QMessageBox::Warning
                                                        : QMessageBox::NoIcon);
        break;
    }
    box.setWindowTitle(alert.title.IsEmpty() ? QStringLiteral("OrdoDesk")
                                             : QString::fromStdString(alert.title.GetUTF8String()));
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromStdString(alert.message.GetUTF8String()));
    std::vector<QPushButton*> buttons;
    for (const PMString& b : alert.buttons) {
        buttons.push_back(
            box.addButton(QString::fromStdString(b.GetUTF8String()), QMessageBox::AcceptRole));
    }
    if (buttons.empty()) {
        buttons.push_back(box.addButton(QMessageBox::Ok));
    }
    const auto at = [&](int16_t n) {
        return n >= 1 && n <= static_cast<int16_t>(buttons.size())
                   ? buttons[static_cast<std::size_t>(n - 1)]
                   : buttons.front();
    };
    box.setDefaultButton(at(alert.defaultButton));
    // Escape answers with the second button (Cancel by custom), or the only one.
    box.setEscapeButton(at(buttons.size() > 1 ? CAlert::kCancelButton : CAlert::kOKButton));
    if (alert.dontShowAgainID != 0) {
        box.setCheckBox(new QCheckBox(Shown(PMString(kDontShowAgainKey)), &box));
    }
    ShownWindow shown(openDialog, &box);
    box.exec();
    AlertResponse response;
    response.button = alert.defaultButton;
    for (std::size_t n = 0; n < buttons.size(); ++n) {
        if (box.clickedButton() == buttons[n]) {
            response.button = static_cast<int16_t>(n + 1);
        }
    }
    response.dontShowAgain = box.checkBox() != nullptr && box.checkBox()->isChecked();
    return response;
}

DialogAnswer QtSinks::RunDialog(IControlView* dialog, WidgetID invalidField) {
    if (dialog == nullptr) {
        return DialogAnswer::kCancel;
    }
    QPointer<QDialog> window = new QDialog(openDialog ? openDialog.data() : parent.data());
    window->setObjectName(
        QStringLiteral("host-dialog-0x%1").arg(dialog->GetWidgetID().Get(), 0, 16));
    window->setWindowTitle(
        WithoutAccessKeys(Shown(WidgetUtils::GetText(dialog, dialog->GetWidgetID()))));
    auto* layout = new QVBoxLayout(window);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    auto* view = new HostWidgetView(dialog, window);
    layout->addWidget(view);
    // The dialog's own OK and Cancel buttons answer it; without them, Qt's.
    auto* ok = qobject_cast<QPushButton*>(view->WidgetFor(kOKButtonWidgetID));
    auto* cancel = qobject_cast<QPushButton*>(view->WidgetFor(kCancelButtonWidgetID));
    if (ok != nullptr && cancel != nullptr) {
        QObject::connect(ok, &QPushButton::clicked, window, &QDialog::accept);
        QObject::connect(cancel, &QPushButton::clicked, window, &QDialog::reject);
        ok->setDefault(true);
    } else {
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        QObject::connect(buttons, &QDialogButtonBox::accepted, window, &QDialog::accept);
        QObject::connect(buttons, &QDialogButtonBox::rejected, window, &QDialog::reject);
        layout->addWidget(buttons);
    }
    if (QWidget* refused = view->WidgetFor(invalidField)) {
        refused->setFocus();
        if (auto* edit = qobject_cast<QLineEdit*>(refused)) {
            edit->selectAll();
        }
    }
    int result = QDialog::Rejected;
    {
        ShownWindow shown(openDialog, window);
        result = window->exec();
    }
    delete window.data();
    return result == QDialog::Accepted ? DialogAnswer::kOK : DialogAnswer::kCancel;
}

std::optional<std::string> QtSinks::Choose(const ChooserRequest& request) {
    QStringList filters;
    for (const FileFilter& f : request.filters) {
        const QString family = Shown(f.family);
        filters
            << (family.contains(QStringLiteral("(*"))
                    ? family
                    : QStringLiteral("%1 (*.%2)").arg(family, QString::fromStdString(f.extension)));
    }
    QFileDialog chooser(openDialog ? openDialog.data() : parent.data(), Shown(request.title),
                        QString::fromStdString(request.startFolder));
    chooser.setObjectName(QStringLiteral("host-chooser"));
    if (!filters.isEmpty()) {
        chooser.setNameFilters(filters);
    }
    switch (request.kind) {
    case ChooserKind::kOpenFile:
        chooser.setFileMode(QFileDialog::ExistingFile);
        break;
    case ChooserKind::kSaveFile:
        chooser.setFileMode(QFileDialog::AnyFile);
        chooser.setAcceptMode(QFileDialog::AcceptSave);
        if (!request.suggestedName.IsEmpty()) {
            chooser.selectFile(Shown(request.suggestedName));
        }
        break;
    case ChooserKind::kFolder:
        chooser.setFileMode(QFileDialog::Directory);
        chooser.setOption(QFileDialog::ShowDirsOnly);
        break;
    }
    ShownWindow shown(openDialog, &chooser);
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return chooser.selectedFiles().front().toStdString();
}

} // namespace workbench
