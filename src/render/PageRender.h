#pragma once

// Drawing the pages of a document: every page item in its place and stacking
// order, placed images from their own pixels through their whole
// transformation, clipped by their frame and by their clipping path; empty
// frames, text frames, shapes and groups as outlines. One drawing code serves
// every output (a PNG picture, a PDF file, a window): it draws on a cairo
// context whose user space is the page in points.

#include "IDataBase.h"

#include <cairo.h>

#include <cstdint>
#include <string>
#include <vector>

namespace render {

class RasterCache;

struct DrawOptions {
    // Pixels an image gets per point of the output's user space along each
    // of its axes, on top of the context's own scale: 1 for a raster output
    // whose context is scaled to its pixels, resolution / 72 for a PDF.
    double pixelsPerPoint = 1.0;
    // When above 0, images whose own resolution on the page (pixels per inch)
    // is at most this are kept at their own pixels, and only those above are
    // brought down to pixelsPerPoint (the PDF export's downsampling
    // threshold). At 0, every image is read at the size the output needs.
    double keepResolutionUpTo = 0.0;
    // Draws the edges of every frame, and a badge of each order's status.
    bool frameEdges = false;
    bool badges = false;
    // OPI placeholders: show the high-resolution image the placeholder names
    // (when it is found) instead of the placeholder's own preview.
    bool opiHighResolution = false;
    // Draws the boundary of the page (a PDF export leaves it out).
    bool pageBoundary = true;
    // Points drawn past each edge of the page (the PDF export's bleed).
    double bleed = 0.0;
    // Called for each image's pixels before they are drawn (the PDF export
    // converts colours and compresses there). May be empty.
    void (*prepareImage)(cairo_surface_t* pixels, void* context) = nullptr;
    void* prepareContext = nullptr;
    // Where pixels read for earlier drawings are kept (a window's page view);
    // null reads every image anew. Not used with prepareImage, which changes
    // the pixels it is given.
    RasterCache* cache = nullptr;
};

// What a drawing met: the images drawn and each problem, one line each
// ("cannot show NAME: why"). An image that cannot be shown is drawn as a
// crossed box, never left out silently.
struct DrawReport {
    int32_t imagesDrawn = 0;
    std::vector<std::string> problems;
};

// The size of a page in points; false when the document has no such page
// (index from 0).
bool PageSize(IDataBase* db, int32_t pageIndex, double& width, double& height);

// Draws the page (index from 0) on cr, whose user space is the page's: the
// page's left-top corner at the origin, one unit a point. The page is filled
// white (with the bleed) and its boundary drawn; nothing is drawn outside it
// and its bleed. False when there is no such page.
bool DrawPage(cairo_t* cr, IDataBase* db, int32_t pageIndex, const DrawOptions& options,
              DrawReport& report);

} // namespace render
