#pragma once

// The page view: the front document's current page as the page renderer
// draws it (frame edges and order badges on) at a zoom, with the layout
// selection drawn over it. Frames are selected by click, shift-click (adds or
// takes away) and rubber band, through the document's layout selection;
// selected frames dragged out of the view carry their UIDs
// (workbench::kPageItemsMimeType).

#include "ImageRaster.h"

#include <QImage>
#include <QScrollArea>
#include <QStringList>

#include <cstdint>

class HostShell;
class IDataBase;
class PageCanvas;

class PageView : public QScrollArea {
    Q_OBJECT
public:
    explicit PageView(HostShell& shell, QWidget* parent = nullptr);
    ~PageView() override;

    // The page shown (from 0), and the front document's page count (0 without
    // a document).
    int32_t Page() const { return page; }
    int32_t PageCount() const;
    void SetPage(int32_t index);

    // 1 shows a point as a pixel. Setting a zoom leaves the fit mode.
    double Zoom() const { return zoom; }
    void SetZoom(double value);
    void ZoomIn();
    void ZoomOut();
    // The whole page in the view, kept so as the view changes size.
    void FitPage();

    // Draws the page again (the document or its files changed).
    void Redraw();
    // Shows the layout selection as it is now.
    void UpdateSelection();

    // The widget that shows the page: as large as the page at this zoom.
    QWidget* Canvas() const;
    // The page as last drawn, without the selection.
    const QImage& PageImage() const { return image; }
    // What the last drawing could not show (one line an image).
    const QStringList& Problems() const { return problems; }

signals:
    // The document, the page, the page count or the zoom changed.
    void ViewChanged();
    // The user changed the layout selection.
    void SelectionChanged();

protected:
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    friend class PageCanvas;
    double FitZoom() const;
    IDataBase* Document() const;

    HostShell& shell;
    PageCanvas* canvas;
    QImage image;
    QStringList problems;
    render::RasterCache cache;
    IDataBase* shownDocument = nullptr;
    int32_t page = 0;
    double zoom = 1.0;
    bool fit = true;
};
