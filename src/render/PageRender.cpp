#include "PageRender.h"

#include "ClipPath.h"
#include "DocumentModel.h"
#include "DocumentUtils.h"
#include "IDataLink.h"
#include "IGeometry.h"
#include "IGraphicFrameData.h"
#include "IHierarchy.h"
#include "IImageAttributes.h"
#include "IOrdoData.h"
#include "ISpread.h"
#include "ITransform.h"
#include "ImageRaster.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace render {

namespace {

// Images are never read at more than this many pixels, however far a frame
// enlarges them: past it the picture gets softer, the memory stays bounded.
constexpr double kMaxImagePixels = 64.0e6;

struct Colour {
    double r, g, b;
};
constexpr Colour kOutline{0.45, 0.45, 0.45};
constexpr Colour kFrameEdge{0.10, 0.45, 0.95};
constexpr Colour kMissing{0.85, 0.10, 0.10};
constexpr Colour kPageEdge{0.25, 0.25, 0.25};

cairo_matrix_t ToCairo(const PMMatrix& m) {
    cairo_matrix_t c;
    cairo_matrix_init(&c, m.A(), m.B(), m.C(), m.D(), m.Tx(), m.Ty());
    return c;
}

// A stroke one device pixel wide (a hairline in a PDF), whatever the scale.
void StrokeHairline(cairo_t* cr, const Colour& colour, double dash = 0) {
    double w = 1.0;
    double h = 0.0;
    cairo_device_to_user_distance(cr, &w, &h);
    cairo_set_line_width(cr, std::hypot(w, h));
    if (dash > 0) {
        double on = dash;
        double off = 0;
        cairo_device_to_user_distance(cr, &on, &off);
        const double d = std::hypot(on, off);
        cairo_set_dash(cr, &d, 1, 0);
    }
    cairo_set_source_rgb(cr, colour.r, colour.g, colour.b);
    cairo_stroke(cr);
    cairo_set_dash(cr, nullptr, 0, 0);
}

void Rectangle(cairo_t* cr, const PMRect& r) {
    cairo_rectangle(cr, r.Left(), r.Top(), r.Width(), r.Height());
}

// A box with its diagonals: an empty graphic frame, or an image that could
// not be shown (in red).
void CrossedBox(cairo_t* cr, const PMRect& r, const Colour& colour) {
    Rectangle(cr, r);
    cairo_move_to(cr, r.Left(), r.Top());
    cairo_line_to(cr, r.Right(), r.Bottom());
    cairo_move_to(cr, r.Right(), r.Top());
    cairo_line_to(cr, r.Left(), r.Bottom());
    StrokeHairline(cr, colour);
}

// The path's Bezier curves, in the image's pixels, mapped onto its box.
void AddClippingPath(cairo_t* cr, const clip::PathList& list, const clip::Path& path,
                     const PMRect& box) {
    const double sx = box.Width() / list.width;
    const double sy = box.Height() / list.height;
    auto x = [&](const clip::Point& p) { return box.Left() + p.x * sx; };
    auto y = [&](const clip::Point& p) { return box.Top() + p.y * sy; };
    cairo_new_path(cr);
    for (const clip::Subpath& sub : path.subpaths) {
        if (sub.knots.empty()) {
            continue;
        }
        cairo_move_to(cr, x(sub.knots[0].anchor), y(sub.knots[0].anchor));
        const std::size_t n = sub.knots.size();
        const std::size_t segments = sub.closed ? n : n - 1;
        for (std::size_t i = 0; i < segments; ++i) {
            const clip::Knot& from = sub.knots[i];
            const clip::Knot& to = sub.knots[(i + 1) % n];
            cairo_curve_to(cr, x(from.after), y(from.after), x(to.before), y(to.before),
                           x(to.anchor), y(to.anchor));
        }
        if (sub.closed) {
            cairo_close_path(cr);
        }
    }
}

struct Badge {
    PMRect frame; // in spread coordinates
    uint16_t status;
};

// The letter and colour of an order's badge, as the orders panel shows the
// status: Ready, Sent, Done, failed (X) or a warning (!).
bool BadgeLook(uint16_t status, const char*& text, Colour& colour) {
    struct Row {
        uint16_t status;
        const char* text;
        Colour colour;
    };
    static constexpr Row kRows[] = {
        {kODStatusReady, "R", {0.20, 0.45, 0.85}},
        {kODStatusReadyAlt, "R!", {0.90, 0.60, 0.10}},
        {kODStatusSent, "S", {0.55, 0.35, 0.80}},
        {kODStatusDone, "D", {0.15, 0.60, 0.25}},
        {kODStatusReplyMinus1, "D!", {0.60, 0.65, 0.10}},
        {kODStatusReplyMinus2, "X", {0.85, 0.15, 0.15}},
        {kODStatusUnreadable, "?", {0.85, 0.15, 0.15}},
        {kODStatusUnsupported, "?", {0.85, 0.15, 0.15}},
    };
    for (const Row& row : kRows) {
        if (status == row.status) {
            text = row.text;
            colour = row.colour;
            return true;
        }
    }
    return false;
}

void DrawBadge(cairo_t* cr, const Badge& badge) {
    const char* text = nullptr;
    Colour colour{};
    if (!BadgeLook(badge.status, text, colour)) {
        return;
    }
    const double h = 14.0;
    const double w = 8.0 + 7.0 * std::strlen(text);
    const double x = badge.frame.Right() - w - 2.0;
    const double y = badge.frame.Top() + 2.0;
    cairo_new_path(cr);
    cairo_arc(cr, x + 4, y + 4, 4, M_PI, 1.5 * M_PI);
    cairo_arc(cr, x + w - 4, y + 4, 4, 1.5 * M_PI, 2 * M_PI);
    cairo_arc(cr, x + w - 4, y + h - 4, 4, 0, 0.5 * M_PI);
    cairo_arc(cr, x + 4, y + h - 4, 4, 0.5 * M_PI, M_PI);
    cairo_close_path(cr);
    cairo_set_source_rgb(cr, colour.r, colour.g, colour.b);
    cairo_fill_preserve(cr);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_set_line_width(cr, 1.0);
    cairo_stroke(cr);
    cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr, 10.0);
    cairo_move_to(cr, x + 4.0, y + h - 3.5);
    cairo_show_text(cr, text);
}

class PageDrawer {
public:
    PageDrawer(cairo_t* cr, IDataBase* db, const DrawOptions& options, DrawReport& report)
        : cr(cr), db(db), options(options), report(report) {}

    void DrawItem(UID uid, int depth) {
        const UIDRef ref(db, uid);
        if (depth > kMaxNestingDepth || !PageItemTypeUtils::IsPageItem(ref)) {
            return;
        }
        InterfacePtr<ITransform> transform = InterfaceOf<ITransform>(ref);
        InterfacePtr<IGeometry> geometry = InterfaceOf<IGeometry>(ref);
        if (!transform || !geometry) {
            return;
        }
        const PMMatrix m = transform->GetInnerToParentMatrix();
        if (m.IsSingular()) {
            return;
        }
        cairo_save(cr);
        const cairo_matrix_t c = ToCairo(m);
        cairo_transform(cr, &c);
        const PMRect box = geometry->GetBoundingBox();
        switch (PageItemTypeUtils::GetPageItemType(ref)) {
        case PageItemTypeUtils::PageItemType::kGraphicFrame:
            DrawFrame(ref, box, depth);
            break;
        case PageItemTypeUtils::PageItemType::kGroup:
            DrawChildren(ref, depth);
            Rectangle(cr, box);
            StrokeHairline(cr, kOutline, 3.0);
            break;
        case PageItemTypeUtils::PageItemType::kImage:
            DrawImage(ref, box);
            break;
        case PageItemTypeUtils::PageItemType::kOther:
            // Text frames (no text layout here) and shapes: their outline.
            Rectangle(cr, box);
            StrokeHairline(cr, options.frameEdges ? kFrameEdge : kOutline);
            break;
        }
        cairo_restore(cr);
    }

    void DrawChildren(const UIDRef& ref, int depth) {
        InterfacePtr<IHierarchy> h = InterfaceOf<IHierarchy>(ref);
        for (int32_t i = 0; h && i < h->GetChildCount(); ++i) {
            DrawItem(h->GetChildUID(i), depth + 1);
        }
    }

    void DrawBadges() {
        for (const Badge& b : badges) {
            DrawBadge(cr, b);
        }
    }

private:
    void DrawFrame(const UIDRef& frame, const PMRect& box, int depth) {
        InterfacePtr<IGraphicFrameData> data = InterfaceOf<IGraphicFrameData>(frame);
        const UID content = data ? data->GetContentUID() : kInvalidUID;
        if (content != kInvalidUID) {
            cairo_save(cr);
            Rectangle(cr, box);
            cairo_clip(cr);
            DrawItem(content, depth + 1);
            cairo_restore(cr);
            InterfacePtr<IOrdoData> order = InterfaceOf<IOrdoData>(UIDRef(db, content));
            InterfacePtr<ITransform> t = InterfaceOf<ITransform>(frame);
            if (options.badges && order && t && order->Get().IsOrdered()) {
                badges.push_back(
                    {TransformedBounds(box, t->GetInnerToSpreadMatrix()), order->Get().status});
            }
            if (options.frameEdges) {
                Rectangle(cr, box);
                StrokeHairline(cr, kFrameEdge);
            }
        } else {
            CrossedBox(cr, box, options.frameEdges ? kFrameEdge : kOutline);
        }
    }

    void DrawImage(const UIDRef& image, const PMRect& box) {
        InterfacePtr<IDataLink> link = InterfaceOf<IDataLink>(image);
        InterfacePtr<IImageAttributes> attributes = InterfaceOf<IImageAttributes>(image);
        const std::string path = link ? link->GetLongName().GetUTF8String() : std::string();
        const std::string name = link ? link->GetShortName().GetUTF8String() : std::string();
        if (box.IsEmpty()) {
            return;
        }
        // How many output pixels the image's box covers along each of its axes.
        cairo_matrix_t ctm;
        cairo_get_matrix(cr, &ctm);
        const double xAxis = std::hypot(ctm.xx, ctm.yx) * box.Width();
        const double yAxis = std::hypot(ctm.xy, ctm.yy) * box.Height();
        double w = xAxis * options.pixelsPerPoint;
        double h = yAxis * options.pixelsPerPoint;
        const double ownW = attributes ? attributes->GetPixelWidth() : 0;
        const double ownH = attributes ? attributes->GetPixelHeight() : 0;
        if (options.keepResolutionUpTo > 0 && ownW > 0 && ownH > 0 &&
            std::max(ownW / xAxis, ownH / yAxis) * 72.0 <= options.keepResolutionUpTo) {
            w = ownW;
            h = ownH;
        }
        if (w * h > kMaxImagePixels) {
            const double f = std::sqrt(kMaxImagePixels / (w * h));
            w *= f;
            h *= f;
        }
        RasterRequest request;
        request.width = std::max(1, static_cast<int>(std::ceil(w - 1e-6)));
        request.height = std::max(1, static_cast<int>(std::ceil(h - 1e-6)));
        request.opiHighResolution = options.opiHighResolution;
        const Raster raster = path.empty()
                                  ? Raster{nullptr, 0, 0, "", "it is linked to no file", ""}
                              : options.cache != nullptr && options.prepareImage == nullptr
                                  ? options.cache->Read(path, request)
                                  : ReadRaster(path, request);
        if (!raster.pixels) {
            report.problems.push_back("cannot show " + (name.empty() ? path : name) + ": " +
                                      raster.error);
            CrossedBox(cr, box, kMissing);
            return;
        }
        if (!raster.note.empty()) {
            report.problems.push_back(name + ": " + raster.note);
        }
        cairo_save(cr);
        ClipToClippingPath(raster, box);
        if (options.prepareImage != nullptr) {
            options.prepareImage(raster.pixels.get(), options.prepareContext);
        }
        const int rw = cairo_image_surface_get_width(raster.pixels.get());
        const int rh = cairo_image_surface_get_height(raster.pixels.get());
        cairo_translate(cr, box.Left(), box.Top());
        cairo_scale(cr, box.Width() / rw, box.Height() / rh);
        cairo_set_source_surface(cr, raster.pixels.get(), 0, 0);
        cairo_pattern_t* pattern = cairo_get_source(cr);
        // On a raster the edge pixels reach to the box's edge; a PDF keeps
        // the image whole and leaves the sampling to the viewer.
        const bool onRaster =
            cairo_surface_get_type(cairo_get_target(cr)) == CAIRO_SURFACE_TYPE_IMAGE;
        cairo_pattern_set_extend(pattern, onRaster ? CAIRO_EXTEND_PAD : CAIRO_EXTEND_NONE);
        cairo_pattern_set_filter(pattern, CAIRO_FILTER_GOOD);
        cairo_rectangle(cr, 0, 0, rw, rh);
        cairo_fill(cr);
        cairo_restore(cr);
        ++report.imagesDrawn;
    }

    // An image that names a clipping path shows only what lies inside it.
    void ClipToClippingPath(const Raster& raster, const PMRect& box) {
        if (raster.fileWidth <= 0 || raster.fileHeight <= 0) {
            return;
        }
        const clip::ReadResult paths = clip::ReadClippingPaths(raster.shownFile);
        const clip::Path* clipping = paths.ok ? paths.list.ClippingPath() : nullptr;
        if (clipping == nullptr || paths.list.width == 0 || paths.list.height == 0) {
            return;
        }
        AddClippingPath(cr, paths.list, *clipping, box);
        cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
        cairo_clip(cr);
        cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
    }

    cairo_t* cr;
    IDataBase* db;
    const DrawOptions& options;
    DrawReport& report;
    std::vector<Badge> badges;
};

bool PageBounds(IDataBase* db, int32_t pageIndex, PMRect& bounds, UID& spread) {
    if (db == nullptr || pageIndex < 0) {
        return false;
    }
    const UIDRef page = DocumentUtils::GetNthPage(db, pageIndex);
    InterfacePtr<IPage> p = InterfaceOf<IPage>(page);
    if (!p) {
        return false;
    }
    bounds = p->GetBoundsInSpread();
    spread = p->GetSpreadUID();
    return !bounds.IsEmpty();
}

} // namespace

bool PageSize(IDataBase* db, int32_t pageIndex, double& width, double& height) {
    PMRect bounds;
    UID spread = kInvalidUID;
    if (!PageBounds(db, pageIndex, bounds, spread)) {
        return false;
    }
    width = bounds.Width();
    height = bounds.Height();
    return true;
}

bool DrawPage(cairo_t* cr, IDataBase* db, int32_t pageIndex, const DrawOptions& options,
              DrawReport& report) {
    PMRect bounds;
    UID spread = kInvalidUID;
    if (!PageBounds(db, pageIndex, bounds, spread)) {
        return false;
    }
    const double bleed = std::max(0.0, options.bleed);
    cairo_save(cr);
    cairo_rectangle(cr, -bleed, -bleed, bounds.Width() + 2 * bleed, bounds.Height() + 2 * bleed);
    cairo_clip(cr);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_translate(cr, -bounds.Left(), -bounds.Top());
    // Every item of the spread, so that one reaching over from the next page
    // shows where it lies on this one.
    PageDrawer drawer(cr, db, options, report);
    drawer.DrawChildren(UIDRef(db, spread), -1);
    drawer.DrawBadges();
    if (options.pageBoundary) {
        Rectangle(cr, bounds);
        StrokeHairline(cr, kPageEdge);
    }
    cairo_restore(cr);
    return true;
}

} // namespace render
