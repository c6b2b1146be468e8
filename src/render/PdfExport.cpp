#include "PdfExport.h"

#include "DocumentUtils.h"
#include "IDocument.h"
#include "ImageRaster.h"

#include <cairo-pdf.h>
#include <lcms2.h>
#include <vips/vips8>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>

namespace render {

namespace {

namespace fs = std::filesystem;

// A page picture is refused past this many pixels (about 1.2 GB of memory).
constexpr double kMaxPagePixels = 300.0e6;
constexpr double kMaxResolution = 2400.0;
// Crop marks: how far from the trim (past the bleed) they start, and how long.
constexpr double kMarkOffset = 3.0;
constexpr double kMarkLength = 12.0;

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

bool ParsePageNumber(const std::string& text, int32_t& value) {
    if (text.empty() || text.size() > 6 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    value = std::stoi(text);
    return value >= 1;
}

// The document's page count, or 0.
int32_t PageCount(IDataBase* db) {
    InterfacePtr<IDocument> doc = DocumentUtils::QueryDocument(db);
    return doc ? static_cast<int32_t>(doc->GetPages().Length()) : 0;
}

// The page indexes (from 0) of a range, or false with the reason.
bool PagesOf(IDataBase* db, const PageRange& range, std::vector<int32_t>& pages,
             std::string& error) {
    const int32_t count = PageCount(db);
    const int32_t last = range.last == 0 ? count : range.last;
    if (count == 0) {
        error = "the document has no pages";
        return false;
    }
    if (range.first > count || last > count || range.first > last) {
        error = "the document has " + std::to_string(count) + " page" + (count == 1 ? "" : "s") +
                "; there is no page " + std::to_string(std::max(range.first, last));
        return false;
    }
    for (int32_t p = range.first; p <= last; ++p) {
        pages.push_back(p - 1);
    }
    return true;
}

// Writes through a temporary file beside the target and puts it in place at
// the end, so that a failed write leaves no half file and an existing file is
// replaced only when asked.
class Placement {
public:
    Placement(std::string target, bool replace) : target(std::move(target)), replace(replace) {}
    ~Placement() {
        if (!temp.empty()) {
            ::unlink(temp.c_str());
        }
    }
    Placement(const Placement&) = delete;
    Placement& operator=(const Placement&) = delete;

    bool Begin(std::string& error) {
        std::error_code ec;
        if (!replace && fs::exists(target, ec)) {
            error = target + " exists; it is replaced only when asked";
            return false;
        }
        std::string pattern = target + ".partXXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        const int fd = ::mkstemp(name.data());
        if (fd < 0) {
            error = "cannot write in the folder of " + target + ": " + std::strerror(errno);
            return false;
        }
        // mkstemp makes the file private; the output gets the usual
        // permissions of a new file.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask);
        ::close(fd);
        temp = name.data();
        return true;
    }
    const std::string& TempPath() const { return temp; }

    bool Finish(std::string& error) {
        // Without replace, link() refuses a file that appeared meanwhile.
        const int result = replace ? std::rename(temp.c_str(), target.c_str())
                                   : ::link(temp.c_str(), target.c_str());
        if (result != 0) {
            error = "cannot write " + target + ": " + std::strerror(errno);
            return false;
        }
        if (!replace) {
            ::unlink(temp.c_str());
        }
        temp.clear();
        return true;
    }

private:
    std::string target;
    bool replace;
    std::string temp;
};

// The names of the pictures of several pages: NAME-N.png beside NAME.png.
std::string PagePictureName(const std::string& path, int32_t pageNumber, bool several) {
    if (!several) {
        return path;
    }
    const fs::path p(path);
    return (p.parent_path() /
            (p.stem().string() + "-" + std::to_string(pageNumber) + p.extension().string()))
        .string();
}

void Append(DrawReport& to, const DrawReport& from) {
    to.imagesDrawn += from.imagesDrawn;
    to.problems.insert(to.problems.end(), from.problems.begin(), from.problems.end());
}

// ---- the settings dictionary

using KeyReader = std::function<bool(const plist::Value&, PdfSettings&, std::string&)>;

bool NumberOf(const plist::Value& v, double& out) {
    if (const double* r = v.AsReal()) {
        out = *r;
        return std::isfinite(out);
    }
    if (const plist::Integer* i = v.AsInteger()) {
        out = static_cast<double>(i->magnitude) * (i->negative ? -1.0 : 1.0);
        return true;
    }
    return false;
}

KeyReader Number(double PdfSettings::*field, double low, double high) {
    return [=](const plist::Value& v, PdfSettings& s, std::string& why) {
        double d = 0;
        if (!NumberOf(v, d)) {
            why = "is not a number";
            return false;
        }
        if (d < low || d > high || (low == 0 && d == 0 && field != &PdfSettings::bleed)) {
            std::ostringstream range;
            range << "must lie between " << low << " and " << high;
            why = range.str();
            return false;
        }
        s.*field = d;
        return true;
    };
}

KeyReader Flag(bool PdfSettings::*field) {
    return [=](const plist::Value& v, PdfSettings& s, std::string& why) {
        const bool* b = v.AsBoolean();
        if (b == nullptr) {
            why = "is not true or false";
            return false;
        }
        s.*field = *b;
        return true;
    };
}

KeyReader Text(std::string PdfSettings::*field) {
    return [=](const plist::Value& v, PdfSettings& s, std::string& why) {
        const std::string* t = v.AsString();
        if (t == nullptr) {
            why = "is not a string";
            return false;
        }
        s.*field = *t;
        return true;
    };
}

// A string that must be one of the words given (compared without case).
template <class T>
KeyReader Choice(T PdfSettings::*field, std::vector<std::pair<std::string, T>> words) {
    return [=](const plist::Value& v, PdfSettings& s, std::string& why) {
        const std::string* t = v.AsString();
        for (const auto& [word, value] : words) {
            if (t != nullptr && Lower(*t) == Lower(word)) {
                s.*field = value;
                return true;
            }
        }
        why = "must be one of";
        for (const auto& w : words) {
            why += " \"" + w.first + "\"";
        }
        return false;
    };
}

const std::map<std::string, KeyReader>& KeyReaders() {
    static const std::map<std::string, KeyReader> readers = {
        {"PageRange",
         [](const plist::Value& v, PdfSettings& s, std::string& why) {
             const std::string* t = v.AsString();
             if (t == nullptr) {
                 why = "is not a string";
                 return false;
             }
             return ParsePageRange(*t, s.pages, &why);
         }},
        {"ImageResolution", Number(&PdfSettings::imageResolution, 0, kMaxResolution)},
        {"DownsampleAbove", Number(&PdfSettings::downsampleAbove, 0, 100 * kMaxResolution)},
        {"ImageCompression",
         Choice(&PdfSettings::compression,
                std::vector<std::pair<std::string, ImageCompression>>{
                    {"JPEG", ImageCompression::kJpeg}, {"Flate", ImageCompression::kFlate}})},
        {"JPEGQuality",
         [](const plist::Value& v, PdfSettings& s, std::string& why) {
             const plist::Integer* i = v.AsInteger();
             if (i == nullptr || i->negative || i->magnitude < 1 || i->magnitude > 100) {
                 why = "must be a whole number from 1 to 100";
                 return false;
             }
             s.jpegQuality = static_cast<int>(i->magnitude);
             return true;
         }},
        {"ColorOutput", Choice(&PdfSettings::colour,
                               std::vector<std::pair<std::string, ColourOutput>>{
                                   {"Keep", ColourOutput::kKeep}, {"CMYK", ColourOutput::kCmyk}})},
        {"OutputProfile", Text(&PdfSettings::outputProfile)},
        {"Bleed", Number(&PdfSettings::bleed, 0, 72)},
        {"CropMarks", Flag(&PdfSettings::cropMarks)},
        {"Badges", Flag(&PdfSettings::badges)},
        {"FrameEdges", Flag(&PdfSettings::frameEdges)},
        {"OPIHighResolution", Flag(&PdfSettings::opiHighResolution)},
        {"Title", Text(&PdfSettings::title)},
        {"Author", Text(&PdfSettings::author)},
        {"Subject", Text(&PdfSettings::subject)},
        {"Keywords", Text(&PdfSettings::keywords)},
        {"Creator", Text(&PdfSettings::creator)},
    };
    return readers;
}

// ---- images in the PDF

// Converts the pixels of images to the output's colours and compresses them
// as the settings ask, by attaching the JPEG that the PDF is to embed.
class ImagePreparer {
public:
    explicit ImagePreparer(const PdfSettings& settings) : settings(settings) {}
    ~ImagePreparer() {
        if (transform != nullptr) {
            cmsDeleteTransform(transform);
        }
    }
    ImagePreparer(const ImagePreparer&) = delete;
    ImagePreparer& operator=(const ImagePreparer&) = delete;

    bool Start(std::string& error) {
        if (settings.colour != ColourOutput::kCmyk) {
            return true;
        }
        const std::string path =
            settings.outputProfile.empty() ? DefaultCmykProfile() : settings.outputProfile;
        if (path.empty()) {
            error = "no CMYK profile is installed; name one with OutputProfile";
            return false;
        }
        cmsHPROFILE out = cmsOpenProfileFromFile(path.c_str(), "r");
        if (out == nullptr) {
            error = "cannot read the ICC profile " + path;
            return false;
        }
        if (cmsGetColorSpace(out) != cmsSigCmykData) {
            cmsCloseProfile(out);
            error = "the ICC profile " + path + " is not a CMYK profile";
            return false;
        }
        cmsHPROFILE in = cmsCreate_sRGBProfile();
        const cmsUInt32Number pixels =
            std::endian::native == std::endian::little ? TYPE_BGRA_8 : TYPE_ARGB_8;
        transform = cmsCreateTransform(in, pixels, out, TYPE_CMYK_8, INTENT_RELATIVE_COLORIMETRIC,
                                       cmsFLAGS_BLACKPOINTCOMPENSATION);
        cmsCloseProfile(in);
        cmsCloseProfile(out);
        if (transform == nullptr) {
            error = "lcms2 cannot convert to the ICC profile " + path;
            return false;
        }
        return true;
    }

    static void Prepare(cairo_surface_t* pixels, void* self) {
        static_cast<ImagePreparer*>(self)->Attach(pixels);
    }

private:
    void Attach(cairo_surface_t* pixels) {
        // Pixels with transparency go as they are (cairo compresses them
        // with Flate and keeps their mask).
        if (cairo_image_surface_get_format(pixels) != CAIRO_FORMAT_RGB24 ||
            (settings.compression != ImageCompression::kJpeg && transform == nullptr)) {
            return;
        }
        cairo_surface_flush(pixels);
        const int w = cairo_image_surface_get_width(pixels);
        const int h = cairo_image_surface_get_height(pixels);
        const int stride = cairo_image_surface_get_stride(pixels);
        const uint8_t* data = cairo_image_surface_get_data(pixels);
        const int bands = transform != nullptr ? 4 : 3;
        std::vector<uint8_t> packed(static_cast<std::size_t>(w) * h * bands);
        for (int y = 0; y < h; ++y) {
            const uint8_t* row = data + static_cast<std::size_t>(y) * stride;
            uint8_t* out = packed.data() + static_cast<std::size_t>(y) * w * bands;
            if (transform != nullptr) {
                // Stored inverted, as Adobe's CMYK JPEGs are: cairo's PDF
                // decodes CMYK JPEG images that way.
                cmsDoTransform(transform, row, out, static_cast<cmsUInt32Number>(w));
                for (std::size_t i = 0; i < static_cast<std::size_t>(w) * 4; ++i) {
                    out[i] = static_cast<uint8_t>(255 - out[i]);
                }
                continue;
            }
            const auto* words = reinterpret_cast<const uint32_t*>(row);
            for (int x = 0; x < w; ++x) {
                out[3 * x] = static_cast<uint8_t>(words[x] >> 16);
                out[3 * x + 1] = static_cast<uint8_t>(words[x] >> 8);
                out[3 * x + 2] = static_cast<uint8_t>(words[x]);
            }
        }
        try {
            vips::VImage image = vips::VImage::new_from_memory(packed.data(), packed.size(), w, h,
                                                               bands, VIPS_FORMAT_UCHAR);
            if (bands == 4) {
                image = image.copy(
                    vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_CMYK));
            }
            // CMYK goes as JPEG whatever the compression: cairo embeds CMYK
            // only that way; at Flate it is written at the best quality.
            const int quality =
                settings.compression == ImageCompression::kJpeg ? settings.jpegQuality : 100;
            VipsBlob* jpeg = image.jpegsave_buffer(vips::VImage::option()->set("Q", quality));
            std::size_t length = 0;
            const void* bytes = vips_blob_get(jpeg, &length);
            cairo_surface_set_mime_data(
                pixels, CAIRO_MIME_TYPE_JPEG,
                static_cast<const unsigned char*>(const_cast<void*>(bytes)), length,
                [](void* blob) { vips_area_unref(static_cast<VipsArea*>(blob)); }, jpeg);
        } catch (const vips::VError&) {
            // The image stays as pixels, compressed by cairo.
        }
    }

    const PdfSettings& settings;
    cmsHTRANSFORM transform = nullptr;
};

void CropMarks(cairo_t* cr, double width, double height, double bleed) {
    const double from = bleed + kMarkOffset;
    const double to = from + kMarkLength;
    for (const double x : {0.0, width}) {
        for (const double y : {0.0, height}) {
            const double sx = x == 0 ? -1 : 1;
            const double sy = y == 0 ? -1 : 1;
            cairo_move_to(cr, x + sx * from, y);
            cairo_line_to(cr, x + sx * to, y);
            cairo_move_to(cr, x, y + sy * from);
            cairo_line_to(cr, x, y + sy * to);
        }
    }
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_set_line_width(cr, 0.25);
    cairo_stroke(cr);
}

} // namespace

bool ParsePageRange(const std::string& text, PageRange& range, std::string* error) {
    PageRange r;
    const std::size_t dash = text.find('-');
    bool ok = false;
    if (Lower(text) == "all") {
        ok = true;
    } else if (dash == std::string::npos) {
        ok = ParsePageNumber(text, r.first);
        r.last = r.first;
    } else {
        ok = ParsePageNumber(text.substr(0, dash), r.first) &&
             (dash + 1 == text.size() || ParsePageNumber(text.substr(dash + 1), r.last)) &&
             (r.last == 0 || r.last >= r.first);
    }
    if (!ok) {
        if (error != nullptr) {
            *error = "the page range \"" + text + "\" is not N, A-B, A- or All (pages from 1)";
        }
        return false;
    }
    range = r;
    return true;
}

bool SettingsFromPList(const plist::Value& dictionary, PdfSettings& settings, std::string* error) {
    const plist::Dictionary* d = dictionary.AsDictionary();
    std::string why;
    if (d == nullptr) {
        why = "the PDF settings are not a dictionary";
    }
    PdfSettings s;
    for (std::size_t i = 0; d != nullptr && i < d->size() && why.empty(); ++i) {
        const auto& [key, value] = (*d)[i];
        const auto reader = KeyReaders().find(key);
        if (reader == KeyReaders().end()) {
            why = "unknown PDF setting \"" + key + "\"";
        } else if (!reader->second(value, s, why)) {
            why = "the PDF setting \"" + key + "\" " + why;
        }
    }
    if (why.empty() && s.downsampleAbove < s.imageResolution) {
        why = "the PDF setting \"DownsampleAbove\" must be at least \"ImageResolution\"";
    }
    if (!why.empty()) {
        if (error != nullptr) {
            *error = why;
        }
        return false;
    }
    settings = s;
    return true;
}

bool LoadPdfSettings(const std::string& path, PdfSettings& settings, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    if (!in || !(text << in.rdbuf())) {
        if (error != nullptr) {
            *error = "cannot read the PDF settings " + path;
        }
        return false;
    }
    const plist::ReadResult read = plist::ReadXml(text.str());
    if (!read.ok) {
        if (error != nullptr) {
            *error = path + ": " + read.error;
        }
        return false;
    }
    std::string why;
    if (!SettingsFromPList(read.value, settings, &why)) {
        if (error != nullptr) {
            *error = path + ": " + why;
        }
        return false;
    }
    return true;
}

std::string DefaultCmykProfile() {
    for (const char* candidate : {"/usr/share/color/icc/ghostscript/default_cmyk.icc",
                                  "/usr/share/ghostscript/iccprofiles/default_cmyk.icc"}) {
        if (::access(candidate, R_OK) == 0) {
            return candidate;
        }
    }
    return "";
}

bool WritePng(IDataBase* db, const PngOptions& options, const std::string& path, bool replace,
              OutputReport& report) {
    std::vector<int32_t> pages;
    if (!(options.dpi > 0 && options.dpi <= kMaxResolution)) {
        report.error = "the resolution must lie between 0 and 2400 dpi";
        return false;
    }
    if (!PagesOf(db, options.pages, pages, report.error)) {
        return false;
    }
    const bool several = pages.size() > 1;
    for (const int32_t page : pages) {
        const std::string target = PagePictureName(path, page + 1, several);
        std::error_code ec;
        if (!replace && fs::exists(target, ec)) {
            report.error = target + " exists; it is replaced only when asked";
            return false;
        }
    }
    DrawOptions draw;
    draw.badges = options.badges;
    draw.frameEdges = options.frameEdges;
    draw.opiHighResolution = options.opiHighResolution;
    const double scale = options.dpi / 72.0;
    for (const int32_t page : pages) {
        double w = 0;
        double h = 0;
        PageSize(db, page, w, h);
        const double pw = std::ceil(w * scale - 1e-6);
        const double ph = std::ceil(h * scale - 1e-6);
        if (pw * ph > kMaxPagePixels) {
            report.error = "page " + std::to_string(page + 1) +
                           " would be too large a picture at " + std::to_string(options.dpi) +
                           " dpi";
            return false;
        }
        Placement out(PagePictureName(path, page + 1, several), replace);
        if (!out.Begin(report.error)) {
            return false;
        }
        const Surface surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, static_cast<int>(pw),
                                                         static_cast<int>(ph)));
        cairo_t* cr = cairo_create(surface.get());
        cairo_scale(cr, scale, scale);
        DrawReport drawn;
        DrawPage(cr, db, page, draw, drawn);
        const cairo_status_t status = cairo_status(cr);
        cairo_destroy(cr);
        Append(report.drawing, drawn);
        if (status != CAIRO_STATUS_SUCCESS ||
            cairo_surface_write_to_png(surface.get(), out.TempPath().c_str()) !=
                CAIRO_STATUS_SUCCESS ||
            !out.Finish(report.error)) {
            if (report.error.empty()) {
                report.error = "cannot write the picture of page " + std::to_string(page + 1);
            }
            return false;
        }
        report.written.push_back(PagePictureName(path, page + 1, several));
    }
    return true;
}

bool WritePdf(IDataBase* db, const PdfSettings& settings, const std::string& path, bool replace,
              OutputReport& report) {
    std::vector<int32_t> pages;
    if (!PagesOf(db, settings.pages, pages, report.error)) {
        return false;
    }
    ImagePreparer preparer(settings);
    Placement out(path, replace);
    if (!preparer.Start(report.error) || !out.Begin(report.error)) {
        return false;
    }
    const double bleed = std::max(0.0, settings.bleed);
    const double margin = settings.cropMarks ? bleed + kMarkOffset + kMarkLength + 3.0 : bleed;
    cairo_surface_t* pdf = cairo_pdf_surface_create(out.TempPath().c_str(), 612, 792);
    const std::pair<cairo_pdf_metadata_t, std::string> metadata[] = {
        {CAIRO_PDF_METADATA_TITLE, settings.title},
        {CAIRO_PDF_METADATA_AUTHOR, settings.author},
        {CAIRO_PDF_METADATA_SUBJECT, settings.subject},
        {CAIRO_PDF_METADATA_KEYWORDS, settings.keywords},
        {CAIRO_PDF_METADATA_CREATOR, settings.creator.empty() ? "OrdoDesk" : settings.creator},
    };
    for (const auto& [key, value] : metadata) {
        if (!value.empty()) {
            cairo_pdf_surface_set_metadata(pdf, key, value.c_str());
        }
    }
    DrawOptions draw;
    draw.pixelsPerPoint = settings.imageResolution / 72.0;
    draw.keepResolutionUpTo = settings.downsampleAbove;
    draw.badges = settings.badges;
    draw.frameEdges = settings.frameEdges;
    draw.opiHighResolution = settings.opiHighResolution;
    draw.bleed = bleed;
    draw.pageBoundary = false;
    draw.prepareImage = &ImagePreparer::Prepare;
    draw.prepareContext = &preparer;
    cairo_t* cr = cairo_create(pdf);
    for (const int32_t page : pages) {
        double w = 0;
        double h = 0;
        PageSize(db, page, w, h);
        cairo_pdf_surface_set_size(pdf, w + 2 * margin, h + 2 * margin);
        cairo_save(cr);
        cairo_translate(cr, margin, margin);
        DrawReport drawn;
        DrawPage(cr, db, page, draw, drawn);
        Append(report.drawing, drawn);
        if (settings.cropMarks) {
            CropMarks(cr, w, h, bleed);
        }
        cairo_restore(cr);
        cairo_show_page(cr);
    }
    const cairo_status_t drawn = cairo_status(cr);
    cairo_destroy(cr);
    cairo_surface_finish(pdf);
    const cairo_status_t written = cairo_surface_status(pdf);
    cairo_surface_destroy(pdf);
    if (drawn != CAIRO_STATUS_SUCCESS || written != CAIRO_STATUS_SUCCESS) {
        report.error = std::string("cannot write ") + path + ": " +
                       cairo_status_to_string(drawn != CAIRO_STATUS_SUCCESS ? drawn : written);
        return false;
    }
    if (!out.Finish(report.error)) {
        return false;
    }
    report.written.push_back(path);
    return true;
}

} // namespace render
