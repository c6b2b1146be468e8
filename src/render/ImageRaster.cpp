#include "ImageRaster.h"

#include "IMG_OpenImageFile.h"
#include "Subprocess.h"

#include <fontconfig/fontconfig.h>
#include <tiffio.h>
#include <vips/vips8>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

namespace render {

namespace {

using vips::VImage;

// Ghostscript gets this long for one EPS before it is stopped.
constexpr auto kGhostscriptTimeLimit = std::chrono::seconds(60);
// No picture is made wider or higher than this many pixels.
constexpr int kMaxSide = 30000;

// The pixels of an sRGB image of 8-bit bands (3, or 4 with alpha) as a cairo
// surface: native-endian 0xAARRGGBB words, alpha premultiplied.
Surface ToSurface(VImage image) {
    if (image.bands() == 2 || image.bands() == 4) {
        image = image.premultiply().cast(VIPS_FORMAT_UCHAR);
    }
    const bool alpha = image.bands() == 4 || image.bands() == 2;
    if (image.bands() < 3) {
        std::vector<VImage> bands{image[0], image[0], image[0]};
        if (alpha) {
            bands.push_back(image[1]);
        }
        image = VImage::bandjoin(bands);
    }
    const int w = image.width();
    const int h = image.height();
    std::size_t size = 0;
    auto* data = static_cast<uint8_t*>(image.write_to_memory(&size));
    const int bands = image.bands();
    Surface surface(
        cairo_image_surface_create(alpha ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24, w, h));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) {
        g_free(data);
        return nullptr;
    }
    cairo_surface_flush(surface.get());
    uint8_t* out = cairo_image_surface_get_data(surface.get());
    const int stride = cairo_image_surface_get_stride(surface.get());
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(out + static_cast<std::size_t>(y) * stride);
        const uint8_t* in = data + static_cast<std::size_t>(y) * w * bands;
        for (int x = 0; x < w; ++x, in += bands) {
            const uint32_t a = bands == 4 && alpha ? in[3] : 255;
            row[x] = a << 24 | uint32_t(in[0]) << 16 | uint32_t(in[1]) << 8 | in[2];
        }
    }
    g_free(data);
    cairo_surface_mark_dirty(surface.get());
    return surface;
}

// Any image libvips read, in 8-bit sRGB with its alpha, if any.
VImage ToSrgb8(VImage image) {
    if (image.interpretation() != VIPS_INTERPRETATION_sRGB || image.format() != VIPS_FORMAT_UCHAR) {
        image = image.colourspace(VIPS_INTERPRETATION_sRGB);
    }
    if (image.format() != VIPS_FORMAT_UCHAR) {
        image = image.cast(VIPS_FORMAT_UCHAR);
    }
    return image.bands() > 4 ? image.extract_band(0, VImage::option()->set("n", 4)) : image;
}

Raster ReadPostScript(const std::string& path, int width, int height) {
    Raster r;
    r.shownFile = path;
    const std::string& gs = GhostscriptProgram();
    if (gs.empty()) {
        r.error = "Ghostscript (gs) is not installed";
        return r;
    }
    const platform::TempFolder folder("ordodesk-render");
    if (folder.Path().empty()) {
        r.error = "cannot make a temporary folder";
        return r;
    }
    const std::string png = folder.Path() + "/page.png";
    platform::ConfinedRun how;
    how.folder = folder.Path();
    how.log = folder.Path() + "/gs.log";
    how.timeLimit = kGhostscriptTimeLimit;
    how.maxWrittenBytes =
        static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 4 + (1 << 20);
    // The picture is exactly the size asked for: the bounding box fitted to
    // a page of that many pixels.
    const std::string size = "-g" + std::to_string(width) + "x" + std::to_string(height);
    const platform::RunResult run = platform::RunConfined(
        {gs, "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-dEPSFitPage", "-dFIXEDMEDIA", "-r72", size,
         "-dTextAlphaBits=4", "-dGraphicsAlphaBits=4", "-sDEVICE=pngalpha", "-sOutputFile=" + png,
         "-f", path},
        how);
    if (run.exitStatus != 0) {
        const std::string why = platform::LastTextLine(how.log, 200);
        r.error = run.timedOut  ? "Ghostscript took too long"
                  : why.empty() ? "Ghostscript could not render it"
                                : "Ghostscript: " + why;
        return r;
    }
    try {
        r.pixels = ToSurface(ToSrgb8(VImage::new_from_file(png.c_str())));
        if (!r.pixels) {
            r.error = "not enough memory for its pixels";
        }
    } catch (const vips::VError& e) {
        r.error = std::string("cannot read Ghostscript's picture: ") + e.what();
    }
    return r;
}

// libtiff's own RGBA reading, for TIFF layouts libvips does not read (YCbCr
// subsampled in strips, JPEG-compressed YCbCr): the whole image, so only up
// to kMaxFallbackPixels.
constexpr double kMaxFallbackPixels = 100.0e6;

void QuietTiff(const char*, const char*, va_list) {}

std::optional<VImage> ReadTiffRgba(const std::string& path) {
    TIFFSetErrorHandler(&QuietTiff);
    TIFFSetWarningHandler(&QuietTiff);
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (tif == nullptr) {
        return std::nullopt;
    }
    uint32_t w = 0;
    uint32_t h = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    std::optional<VImage> image;
    if (w > 0 && h > 0 && static_cast<double>(w) * h <= kMaxFallbackPixels) {
        std::vector<uint32_t> pixels(static_cast<std::size_t>(w) * h);
        if (TIFFReadRGBAImageOriented(tif, w, h, pixels.data(), ORIENTATION_TOPLEFT, 0) == 1) {
            // Each word is A B G R from the high byte: in memory R G B A on
            // a little-endian machine.
            std::vector<uint8_t> bytes(pixels.size() * 4);
            for (std::size_t i = 0; i < pixels.size(); ++i) {
                bytes[4 * i] = static_cast<uint8_t>(TIFFGetR(pixels[i]));
                bytes[4 * i + 1] = static_cast<uint8_t>(TIFFGetG(pixels[i]));
                bytes[4 * i + 2] = static_cast<uint8_t>(TIFFGetB(pixels[i]));
                bytes[4 * i + 3] = static_cast<uint8_t>(TIFFGetA(pixels[i]));
            }
            image = VImage::new_from_memory(bytes.data(), bytes.size(), static_cast<int>(w),
                                            static_cast<int>(h), 4, VIPS_FORMAT_UCHAR)
                        .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB))
                        .copy_memory();
        }
    }
    TIFFClose(tif);
    return image;
}

bool IsPostScriptReader(const char* name) {
    return std::strncmp(name, "Proxy_EPS", 9) == 0;
}

} // namespace

bool EnsureVips() {
    static const bool started = VIPS_INIT("ordodesk") == 0;
    return started;
}

void ReleaseStaticData() {
    cairo_debug_reset_static_data();
    FcFini();
}

const std::string& GhostscriptProgram() {
    static const std::string program = platform::FindProgram("gs");
    return program;
}

Raster ReadRaster(const std::string& path, const RasterRequest& request) {
    Raster r;
    r.shownFile = path;
    const int width = std::clamp(request.width, 1, kMaxSide);
    const int height = std::clamp(request.height, 1, kMaxSide);
    std::string why;
    const std::unique_ptr<Proxy_FileIOProcess> reader =
        IMG_OpenImageFile(path.c_str(), "r", request.opiHighResolution, &why);
    if (!reader) {
        r.error = why.empty() ? std::string("no reader knows the file") : why;
        return r;
    }
    const uint32_t format = reader->GetFormatCode();
    if (request.opiHighResolution && (format & 1) != 0 && reader->LinkedName() != nullptr) {
        const std::string highResolution = reader->LinkedName();
        RasterRequest plain = request;
        plain.opiHighResolution = false;
        if (highResolution != path && ::access(highResolution.c_str(), R_OK) == 0) {
            return ReadRaster(highResolution, plain);
        }
        r = ReadRaster(path, plain);
        r.error = r.pixels ? "" : r.error;
        r.note =
            "its high-resolution file " + highResolution + " is not found; its preview is shown";
        return r;
    }
    if (IsPostScriptReader(reader->ReaderName())) {
        return ReadPostScript(path, width, height);
    }
    if (!EnsureVips()) {
        r.error = "libvips could not start";
        return r;
    }
    try {
        const VImage header = VImage::new_from_file(path.c_str());
        r.fileWidth = header.width();
        r.fileHeight = header.height();
        const int w = std::min(width, r.fileWidth);
        const int h = std::min(height, r.fileHeight);
        const VImage image = VImage::thumbnail(path.c_str(), w,
                                               VImage::option()
                                                   ->set("height", h)
                                                   ->set("size", VIPS_SIZE_FORCE)
                                                   ->set("no_rotate", true));
        r.pixels = ToSurface(ToSrgb8(image));
        if (!r.pixels) {
            r.error = "not enough memory for its pixels";
        }
    } catch (const vips::VError& e) {
        if (std::strcmp(reader->ReaderName(), "Proxy_TIFF") == 0) {
            if (std::optional<VImage> whole = ReadTiffRgba(path)) {
                r.fileWidth = whole->width();
                r.fileHeight = whole->height();
                const double sx = std::min(1.0, static_cast<double>(width) / whole->width());
                const double sy = std::min(1.0, static_cast<double>(height) / whole->height());
                r.pixels =
                    ToSurface(ToSrgb8(whole->resize(sx, VImage::option()->set("vscale", sy))));
                r.error = r.pixels ? "" : "not enough memory for its pixels";
                return r;
            }
        }
        std::string text = e.what();
        while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
            text.pop_back();
        }
        r.error = text.substr(0, text.find('\n'));
    }
    return r;
}

} // namespace render

namespace render {

RasterCache::Stamp RasterCache::StampOf(const std::string& file) {
    Stamp stamp;
    stamp.file = file;
    struct stat st {};
    if (::stat(file.c_str(), &st) == 0) {
        stamp.size = static_cast<int64_t>(st.st_size);
        stamp.changed = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    }
    return stamp;
}

namespace {

Raster Shared(const Raster& kept) {
    Raster r;
    r.pixels.reset(kept.pixels ? cairo_surface_reference(kept.pixels.get()) : nullptr);
    r.fileWidth = kept.fileWidth;
    r.fileHeight = kept.fileHeight;
    r.shownFile = kept.shownFile;
    r.error = kept.error;
    r.note = kept.note;
    return r;
}

} // namespace

Raster RasterCache::Read(const std::string& path, const RasterRequest& request) {
    const std::string key = path + '\n' + std::to_string(request.width) + 'x' +
                            std::to_string(request.height) +
                            (request.opiHighResolution ? " high" : "");
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        if (it->key != key) {
            continue;
        }
        const bool unchanged = std::all_of(it->files.begin(), it->files.end(),
                                           [](const Stamp& f) { return StampOf(f.file) == f; });
        if (unchanged) {
            ++hits;
            entries.splice(entries.begin(), entries, it);
            return Shared(entries.front().raster);
        }
        bytes -= it->bytes;
        entries.erase(it);
        break;
    }
    ++misses;
    Entry entry;
    entry.key = key;
    entry.files.push_back(StampOf(path));
    entry.raster = ReadRaster(path, request);
    if (entry.raster.shownFile != path && !entry.raster.shownFile.empty()) {
        entry.files.push_back(StampOf(entry.raster.shownFile));
    }
    // A file that could not be read is tried again next time: it may be
    // there by then.
    if (!entry.raster.pixels) {
        return std::move(entry.raster);
    }
    cairo_surface_t* surface = entry.raster.pixels.get();
    entry.bytes = static_cast<std::size_t>(cairo_image_surface_get_stride(surface)) *
                  static_cast<std::size_t>(cairo_image_surface_get_height(surface));
    Raster shown = Shared(entry.raster);
    if (entry.bytes > budget) {
        return shown;
    }
    bytes += entry.bytes;
    entries.push_front(std::move(entry));
    while (bytes > budget && !entries.empty()) {
        bytes -= entries.back().bytes;
        entries.pop_back();
    }
    return shown;
}

void RasterCache::Clear() {
    entries.clear();
    bytes = 0;
}

} // namespace render
