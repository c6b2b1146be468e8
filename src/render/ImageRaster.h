#pragma once

// The pixels of an image file, read at the size a drawing needs: TIFF, JPEG,
// Photoshop and the other formats libvips reads through libvips (JPEG shrunk
// while it is decoded), EPS and PostScript through Ghostscript. The result is
// in sRGB, as a cairo image surface.

#include <cairo.h>

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

namespace render {

struct SurfaceDeleter {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
using Surface = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;

struct Raster {
    Surface pixels;    // ARGB32 (premultiplied) with transparency, RGB24 without
    int fileWidth = 0; // the file's own size in pixels (0 for PostScript)
    int fileHeight = 0;
    std::string shownFile; // the file the pixels come from (an OPI image's high-resolution file)
    std::string error;     // why there are no pixels
    std::string note;      // something the user should know about the pixels shown
};

// Starts libvips once for the process (the renderer calls it itself).
bool EnsureVips();

struct RasterRequest {
    // The size wanted, in pixels. An image with pixels of its own is read at
    // that size, stretched to it, or at its own size along an axis where that
    // is smaller (never made larger than the file holds).
    int width = 1;
    int height = 1;
    // OPI placeholders: read the high-resolution file the placeholder names,
    // when it is found, instead of the placeholder itself.
    bool opiHighResolution = false;
};

// Reads the image at `path`. The file's kind is found from its content;
// PostScript (EPS, DCS, OPI placeholders) is rendered by Ghostscript only
// (run with -dSAFER, stopped after a time limit) at the resolution that gives
// the size asked for, never by another reader.
Raster ReadRaster(const std::string& path, const RasterRequest& request);

// Pixels read before, kept for drawings that come again (a window drawn
// anew at every scroll, selection and idle change): found by the file and
// the request, and read again when the file, or the high-resolution file an
// OPI placeholder showed, has changed since (its size or its time of change).
// At most the budget's bytes of pixels are kept, the least recently used
// going first. A raster it gives shares its pixels with the cache: they are
// to be drawn, not changed.
class RasterCache {
public:
    explicit RasterCache(std::size_t budgetBytes = std::size_t{256} << 20) : budget(budgetBytes) {}
    Raster Read(const std::string& path, const RasterRequest& request);
    void Clear();
    std::size_t Bytes() const { return bytes; }
    int Hits() const { return hits; }
    int Misses() const { return misses; }

private:
    struct Stamp {
        std::string file;
        int64_t size = -1;
        int64_t changed = 0; // nanoseconds
        bool operator==(const Stamp&) const = default;
    };
    struct Entry {
        std::string key;
        std::vector<Stamp> files;
        Raster raster;
        std::size_t bytes = 0;
    };
    static Stamp StampOf(const std::string& file);

    std::size_t budget;
    std::size_t bytes = 0;
    int hits = 0;
    int misses = 0;
    std::list<Entry> entries; // most recently used first
};

// Lets go of what cairo and fontconfig keep for the whole process (their
// font caches), so that a program ends clean under a leak checker. Called at
// the end, when nothing is being drawn; drawing afterwards starts them again.
void ReleaseStaticData();

// Ghostscript's program, or empty when none is installed.
const std::string& GhostscriptProgram();

} // namespace render
