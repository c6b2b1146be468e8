#pragma once

// The inside of HostWidgets.cpp: how host texts, frames and icons are shown,
// and the list box's Qt widget.

#include "Workbench.h"

#include <QIcon>
#include <QRect>
#include <QString>
#include <QTreeWidget>

#include <functional>
#include <vector>

class QMenu;
class QMimeData;

namespace workbench {

// Host frames are in points; one point is drawn as this many pixels.
inline constexpr double kPixelsPerPoint = 1.0;
// A static text at least this tall (pixels) holds several lines: it scrolls.
inline constexpr int kTallTextPixels = 60;
// Set (true) on the Qt widget of a host widget that is shown some other way:
// it stays hidden (the panel's column headers, shown by the list's header).
inline constexpr const char* kCoveredProperty = "hostCovered";

// The text as the user reads it (translated unless marked not translatable).
QString Shown(const PMString& text);
QString WithoutAccessKeys(QString text);
QRect PixelRect(const PMRect& frame);

// An icon resource as drawn here: the order status icons as coloured letters
// (R ready, R! ready with a resampling warning, S sent, D done, X failed, D!
// done with a warning), any other as a grey mark; none for 0.
QIcon IconForResource(int32_t iconID);
QString IconMeaning(int32_t iconID);

// One column of a list box: the cell it shows and the widget whose text
// heads it (kInvalidWidgetID: none), its width in pixels (0: Qt's).
struct ListColumn {
    WidgetID cell;
    WidgetID header;
    int width;
};

// A host list box: rows of cells as items, drops given to the host.
class ListTree : public QTreeWidget {
public:
    explicit ListTree(QWidget* parent);

    // Empty: every cell of the first row, without a header.
    std::vector<ListColumn> columns;
    // Pixels the list reaches above its host frame (over covered headers).
    int raiseTop = 0;
    std::function<bool(const QMimeData*)> canDrop;
    std::function<bool(const QMimeData*)> drop;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
};

// What a drag carries as the host takes it: page items of the front document
// (kPageItemsMimeType) or local files; false when it is neither, or names a
// UID that is no page item of the front document.
bool DropDataFrom(const QMimeData* mime, DragDropData& data);

// The orders panel's list given its columns and headers, its buttons icons.
void ConfigureOrdersList(HostWidgetView* view);
// Fills the menu with the panel menu's entries as the host has them now.
void FillPanelMenu(QMenu* menu, OrdersPanelDock* dock);

} // namespace workbench
