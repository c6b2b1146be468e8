#include "PageView.h"

#include "Workbench.h"

#include "DocumentModel.h"
#include "DocumentUtils.h"
#include "HostShell.h"
#include "IDocument.h"
#include "IGeometry.h"
#include "IHierarchy.h"
#include "ILayoutSelection.h"
#include "ISpread.h"
#include "ITransform.h"
#include "PageRender.h"

#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QRubberBand>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

namespace {

constexpr double kMinZoom = 0.1;
constexpr double kMaxZoom = 8.0;
constexpr double kZoomStep = 1.25;
// Room left around the page when it is fitted to the view.
constexpr int kFitMargin = 24;

const QColor kSelectionColour(0, 120, 215);

// A top-level page item of the page's spread and its outline in the page's
// coordinates (points).
struct ItemShape {
    UID uid;
    QPolygonF outline;
};

QPolygonF Outline(const PMRect& box, const PMMatrix& toSpread, const PMPoint& pageOrigin) {
    QPolygonF polygon;
    for (const PMPoint& corner :
         {box.LeftTop(), box.RightTop(), box.RightBottom(), box.LeftBottom()}) {
        const PMPoint p = toSpread.TransformedPoint(corner);
        polygon << QPointF(p.X() - pageOrigin.X(), p.Y() - pageOrigin.Y());
    }
    return polygon;
}

// The page's box in its spread and the spread, or nothing.
std::optional<std::pair<PMRect, UID>> PagePlace(IDataBase* db, int32_t pageIndex) {
    InterfacePtr<IPage> page = InterfaceOf<IPage>(DocumentUtils::GetNthPage(db, pageIndex));
    if (!page) {
        return std::nullopt;
    }
    return std::make_pair(page->GetBoundsInSpread(), page->GetSpreadUID());
}

std::optional<QPolygonF> ItemOutline(IDataBase* db, UID uid, const PMPoint& pageOrigin) {
    InterfacePtr<ITransform> transform = InterfaceOf<ITransform>(UIDRef(db, uid));
    InterfacePtr<IGeometry> geometry = InterfaceOf<IGeometry>(UIDRef(db, uid));
    if (!transform || !geometry) {
        return std::nullopt;
    }
    return Outline(geometry->GetBoundingBox(), transform->GetInnerToSpreadMatrix(), pageOrigin);
}

// Every page item laid on the page's spread (the renderer draws them all),
// back to front.
std::vector<ItemShape> ItemsOfPage(IDataBase* db, int32_t pageIndex) {
    std::vector<ItemShape> items;
    const auto place = PagePlace(db, pageIndex);
    if (!place) {
        return items;
    }
    InterfacePtr<IHierarchy> spread = InterfaceOf<IHierarchy>(UIDRef(db, place->second));
    for (int32_t i = 0; spread && i < spread->GetChildCount(); ++i) {
        const UID uid = spread->GetChildUID(i);
        if (!PageItemTypeUtils::IsPageItem(UIDRef(db, uid))) {
            continue;
        }
        if (auto outline = ItemOutline(db, uid, place->first.LeftTop())) {
            items.push_back({uid, *outline});
        }
    }
    return items;
}

InterfacePtr<ILayoutSelection> SelectionOf(IDataBase* db) {
    if (db == nullptr) {
        return InterfacePtr<ILayoutSelection>();
    }
    InterfacePtr<IDocument> doc = DocumentUtils::QueryDocument(db);
    return InterfacePtr<ILayoutSelection>(doc.get(), IID_ILAYOUTSELECTION);
}

// The page drawn by the page renderer on an image of the page's size at the
// zoom: a cairo surface over the image's own pixels. The images' pixels come
// from the view's cache: read once for a zoom, not at every redraw.
QImage DrawPageImage(IDataBase* db, int32_t pageIndex, double zoom, render::RasterCache& cache,
                     QStringList& problems) {
    double width = 0;
    double height = 0;
    if (db == nullptr || !render::PageSize(db, pageIndex, width, height)) {
        return {};
    }
    QImage image(std::max(1, static_cast<int>(std::lround(width * zoom))),
                 std::max(1, static_cast<int>(std::lround(height * zoom))), QImage::Format_RGB32);
    image.fill(Qt::white);
    cairo_surface_t* surface =
        cairo_image_surface_create_for_data(image.bits(), CAIRO_FORMAT_RGB24, image.width(),
                                            image.height(), static_cast<int>(image.bytesPerLine()));
    cairo_t* cr = cairo_create(surface);
    cairo_scale(cr, zoom, zoom);
    render::DrawOptions options;
    options.frameEdges = true;
    options.badges = true;
    options.cache = &cache;
    render::DrawReport report;
    render::DrawPage(cr, db, pageIndex, options, report);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    cairo_surface_destroy(surface);
    for (const std::string& p : report.problems) {
        problems << QString::fromStdString(p);
    }
    return image;
}

} // namespace

// The page itself: paints the drawn page and the selection, and takes the
// mouse.
class PageCanvas : public QWidget {
public:
    explicit PageCanvas(PageView* view) : QWidget(view), view(view) {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.drawImage(0, 0, view->image);
        IDataBase* db = view->Document();
        InterfacePtr<ILayoutSelection> selection = SelectionOf(db);
        const auto place = db ? PagePlace(db, view->page) : std::nullopt;
        if (!selection || !place) {
            return;
        }
        painter.setRenderHint(QPainter::Antialiasing);
        const UIDList selected = selection->GetSelectedItems();
        for (int32_t i = 0; i < selected.Length(); ++i) {
            const auto outline = ItemOutline(db, selected[i], place->first.LeftTop());
            if (!outline) {
                continue;
            }
            QPolygonF shown;
            for (const QPointF& p : *outline) {
                shown << p * view->zoom;
            }
            painter.setPen(QPen(kSelectionColour, 1.5));
            painter.setBrush(Qt::NoBrush);
            painter.drawPolygon(shown);
            // Handles at the corners and the middles of the edges.
            painter.setBrush(Qt::white);
            painter.setPen(QPen(kSelectionColour, 1));
            for (int c = 0; c < 4; ++c) {
                const QPointF a = shown[c];
                const QPointF b = shown[(c + 1) % 4];
                for (const QPointF& h : {a, (a + b) / 2}) {
                    painter.drawRect(QRectF(h - QPointF(3, 3), QSizeF(6, 6)));
                }
            }
        }
    }

    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton) {
            return;
        }
        IDataBase* db = view->Document();
        InterfacePtr<ILayoutSelection> selection = SelectionOf(db);
        if (!selection) {
            return;
        }
        pressAt = event->position().toPoint();
        dragging = false;
        const bool shift = (event->modifiers() & Qt::ShiftModifier) != 0;
        const std::optional<UID> hit = ItemAt(db, event->position() / view->zoom);
        if (hit) {
            UIDList one(db);
            one.Append(*hit);
            if (shift) {
                if (selection->IsSelected(*hit)) {
                    selection->Deselect(one);
                } else {
                    selection->Select(one, ILayoutSelection::kAddTo);
                }
            } else if (!selection->IsSelected(*hit)) {
                selection->Select(one, ILayoutSelection::kReplace);
            }
            // Pressed on a selected frame: a drag may start from here.
            dragging = selection->IsSelected(*hit);
        } else {
            if (!shift) {
                selection->DeselectAll();
            }
            if (!band) {
                band = new QRubberBand(QRubberBand::Rectangle, this);
            }
            band->setGeometry(QRect(pressAt, QSize()));
            band->show();
            bandAdds = shift;
        }
        update();
        emit view->SelectionChanged();
    }

    void mouseMoveEvent(QMouseEvent* event) override {
        const QPoint at = event->position().toPoint();
        if (band && band->isVisible()) {
            band->setGeometry(QRect(pressAt, at).normalized());
            return;
        }
        if (dragging && (at - pressAt).manhattanLength() >= QApplication::startDragDistance()) {
            dragging = false;
            StartDrag();
        }
    }

    void mouseReleaseEvent(QMouseEvent* event) override {
        dragging = false;
        if (event->button() != Qt::LeftButton || !band || !band->isVisible()) {
            return;
        }
        band->hide();
        IDataBase* db = view->Document();
        InterfacePtr<ILayoutSelection> selection = SelectionOf(db);
        if (!selection) {
            return;
        }
        const QRect shown = band->geometry();
        const QRectF area(QPointF(shown.topLeft()) / view->zoom,
                          QPointF(shown.bottomRight()) / view->zoom);
        UIDList within(db);
        for (const ItemShape& item : ItemsOfPage(db, view->page)) {
            if (item.outline.boundingRect().intersects(area)) {
                within.Append(item.uid);
            }
        }
        if (!within.IsEmpty()) {
            selection->Select(within,
                              bandAdds ? ILayoutSelection::kAddTo : ILayoutSelection::kReplace);
        }
        update();
        emit view->SelectionChanged();
    }

private:
    // The frontmost item whose outline holds the point (page points).
    std::optional<UID> ItemAt(IDataBase* db, const QPointF& point) const {
        const std::vector<ItemShape> items = ItemsOfPage(db, view->page);
        for (auto it = items.rbegin(); it != items.rend(); ++it) {
            if (it->outline.containsPoint(point, Qt::OddEvenFill)) {
                return it->uid;
            }
        }
        return std::nullopt;
    }

    void StartDrag() {
        IDataBase* db = view->Document();
        InterfacePtr<ILayoutSelection> selection = SelectionOf(db);
        if (!selection || !selection->HasSelectedItems()) {
            return;
        }
        QStringList uids;
        const UIDList selected = selection->GetSelectedItems();
        for (int32_t i = 0; i < selected.Length(); ++i) {
            uids << QString::number(selected[i].Get());
        }
        auto* data = new QMimeData;
        data->setData(workbench::kPageItemsMimeType, uids.join(' ').toUtf8());
        data->setText(uids.join(' '));
        auto* drag = new QDrag(this);
        drag->setMimeData(data);
        drag->exec(Qt::CopyAction);
    }

    PageView* view;
    QPointer<QRubberBand> band;
    QPoint pressAt;
    bool bandAdds = false;
    bool dragging = false;
};

PageView::PageView(HostShell& shell, QWidget* parent)
    : QScrollArea(parent), shell(shell), canvas(new PageCanvas(this)) {
    setWidget(canvas);
    setAlignment(Qt::AlignCenter);
    setBackgroundRole(QPalette::Dark);
}

PageView::~PageView() = default;

IDataBase* PageView::Document() const {
    return shell.FrontDocument();
}

int32_t PageView::PageCount() const {
    InterfacePtr<IDocument> doc = DocumentUtils::QueryDocument(Document());
    return doc ? doc->GetPages().Length() : 0;
}

QWidget* PageView::Canvas() const {
    return canvas;
}

void PageView::SetPage(int32_t index) {
    page = std::clamp(index, 0, std::max(0, PageCount() - 1));
    Redraw();
}

void PageView::SetZoom(double value) {
    fit = false;
    zoom = std::clamp(value, kMinZoom, kMaxZoom);
    Redraw();
}

void PageView::ZoomIn() {
    SetZoom(zoom * kZoomStep);
}

void PageView::ZoomOut() {
    SetZoom(zoom / kZoomStep);
}

void PageView::FitPage() {
    fit = true;
    zoom = FitZoom();
    Redraw();
}

double PageView::FitZoom() const {
    double width = 0;
    double height = 0;
    if (!render::PageSize(Document(), page, width, height) || width <= 0 || height <= 0) {
        return zoom;
    }
    const QSize room = viewport()->size() - QSize(kFitMargin, kFitMargin);
    return std::clamp(std::min(room.width() / width, room.height() / height), kMinZoom, kMaxZoom);
}

void PageView::Redraw() {
    IDataBase* db = Document();
    if (db != shownDocument) {
        shownDocument = db;
        page = 0;
    }
    page = std::clamp(page, 0, std::max(0, PageCount() - 1));
    if (fit) {
        zoom = FitZoom();
    }
    problems.clear();
    image = DrawPageImage(db, page, zoom, cache, problems);
    canvas->setFixedSize(image.isNull() ? QSize(0, 0) : image.size());
    canvas->update();
    emit ViewChanged();
}

void PageView::UpdateSelection() {
    canvas->update();
}

void PageView::wheelEvent(QWheelEvent* event) {
    if ((event->modifiers() & Qt::ControlModifier) == 0) {
        QScrollArea::wheelEvent(event);
        return;
    }
    const int steps = event->angleDelta().y() / 120;
    if (steps != 0) {
        SetZoom(zoom * std::pow(kZoomStep, steps));
    }
    event->accept();
}

void PageView::resizeEvent(QResizeEvent* event) {
    QScrollArea::resizeEvent(event);
    if (fit && std::abs(FitZoom() - zoom) > 1e-3) {
        Redraw();
    }
}
