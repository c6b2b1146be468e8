#include "ImageJob.h"

#include "FileSteps.h"
#include "IMG_OpenImageFile.h"
#include "OpiPlaceholder.h"
#include "PostScript.h"
#include "ProcessingMark.h"
#include "Volumes.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;
using vips::VImage;

const char* StatusWord(ReplyStatus status) {
    switch (status) {
    case ReplyStatus::finish:
        return "finish";
    case ReplyStatus::warning:
        return "warning";
    case ReplyStatus::error:
        break;
    }
    return "error";
}

namespace {

// The first line of a libvips message, without its end: libvips puts one
// line per step it went through, the first being the reason.
std::string FirstLine(const char* text) {
    std::string line = text != nullptr ? text : "";
    const std::size_t end = line.find_first_of("\r\n");
    if (end != std::string::npos) {
        line.resize(end);
    }
    return line.empty() ? std::string("no reason given") : line;
}

constexpr double kPi = 3.14159265358979323846;
constexpr int kMaxSide = 40000;
constexpr double kMaxPixels = 400e6;

const char* KindName(ImageKind kind) {
    switch (kind) {
    case ImageKind::gray:
        return "gray";
    case ImageKind::rgb:
        return "RGB";
    case ImageKind::cmyk:
        break;
    }
    return "CMYK";
}

bool Wide(const VImage& in) {
    return in.format() == VIPS_FORMAT_USHORT;
}

// 8 bits per sample; 16-bit levels are rounded to the nearest 8-bit level.
VImage ToUchar(const VImage& in) {
    if (in.format() == VIPS_FORMAT_UCHAR) {
        return in;
    }
    if (Wide(in)) {
        return in.linear(1.0 / 257.0, 0.5).cast(VIPS_FORMAT_UCHAR);
    }
    return in.cast(VIPS_FORMAT_UCHAR);
}

// The interpretation for the image's sample size: 16-bit gray and RGB have
// their own.
VipsInterpretation Sized(const VImage& in, VipsInterpretation interpretation) {
    if (!Wide(in)) {
        return interpretation == VIPS_INTERPRETATION_GREY16  ? VIPS_INTERPRETATION_B_W
               : interpretation == VIPS_INTERPRETATION_RGB16 ? VIPS_INTERPRETATION_sRGB
                                                             : interpretation;
    }
    return interpretation == VIPS_INTERPRETATION_B_W    ? VIPS_INTERPRETATION_GREY16
           : interpretation == VIPS_INTERPRETATION_sRGB ? VIPS_INTERPRETATION_RGB16
                                                        : interpretation;
}

VImage Tagged(const VImage& in, VipsInterpretation interpretation) {
    return in.copy(VImage::option()->set("interpretation", Sized(in, interpretation)));
}

// 8 or 16 bits per sample, as the image has; anything else becomes 8 bits.
VImage ToUcharOrUshort(const VImage& in) {
    return Wide(in) ? in : ToUchar(in);
}

// An image whose colour model changed without an ICC transform: the profile
// it carried no longer describes it.
VImage WithoutProfile(VImage image) {
    if (image.get_typeof(VIPS_META_ICC_NAME) != 0) {
        image = image.copy();
        image.remove(VIPS_META_ICC_NAME);
    }
    return image;
}

// Levels from the profile: clip, stretch, gamma, brightness, as one table.
VImage Correct(const VImage& in, const ServerProfile& p) {
    VImage luminance = in.bands() > 1 ? in.bandmean() : in;
    double black = luminance.percent(std::clamp(p.blackClip, 0, 49));
    double white = luminance.percent(100 - std::clamp(p.whiteClip, 0, 49));
    if (white <= black) {
        black = 0;
        white = 255;
    }
    double gamma = std::clamp(p.gammaPercent, 10, 1000) / 100.0;
    std::array<unsigned char, 256> table{};
    for (int i = 0; i < 256; ++i) {
        double v = std::clamp((i - black) / (white - black), 0.0, 1.0);
        v = 255.0 * std::pow(v, 1.0 / gamma) + p.brightness;
        table[static_cast<std::size_t>(i)] =
            static_cast<unsigned char>(std::lround(std::clamp(v, 0.0, 255.0)));
    }
    VImage lut = VImage::new_from_memory(table.data(), table.size(), 256, 1, 1, VIPS_FORMAT_UCHAR)
                     .copy_memory();
    return Tagged(in.maplut(lut), in.interpretation());
}

// An ICC transform by lcms through libvips. The image's embedded profile,
// when it has one, describes it; input otherwise. The output profile is
// attached to the result. 16-bit images are transformed in 16 bits.
VImage IccOptions(VImage image, const char* output, const char* input, const ServerProfile& p) {
    return image.icc_transform(output,
                               VImage::option()
                                   ->set("input_profile", input)
                                   ->set("embedded", true)
                                   ->set("depth", Wide(image) ? 16 : 8)
                                   ->set("intent", std::clamp(p.intent, 0, 3))
                                   ->set("black_point_compensation", p.blackPointCompensation));
}

const char* OrDefault(const std::string& name, const char* fallback) {
    return name.empty() || name == "none" ? fallback : name.c_str();
}

VImage CmykToRgb(const VImage& in, const ServerProfile& p) {
    return ToUcharOrUshort(
        IccOptions(in, OrDefault(p.rgbProfile, "srgb"), OrDefault(p.cmykInputProfile, "cmyk"), p));
}

VImage ToCmyk(const VImage& in, ImageKind kind, const ServerProfile& p) {
    VImage rgb = kind == ImageKind::gray
                     ? WithoutProfile(in.colourspace(Sized(in, VIPS_INTERPRETATION_sRGB)))
                     : in;
    return Tagged(ToUcharOrUshort(IccOptions(rgb, OrDefault(p.cmykProfile, "cmyk"),
                                             OrDefault(p.rgbProfile, "srgb"), p)),
                  VIPS_INTERPRETATION_CMYK);
}

VImage ToGray(const VImage& rgb) {
    return WithoutProfile(
        Tagged(ToUcharOrUshort(rgb.colourspace(Sized(rgb, VIPS_INTERPRETATION_B_W))),
               VIPS_INTERPRETATION_B_W));
}

bool Exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

// The file name without an extension of at most four bytes.
std::string StemOf(const std::string& name) {
    std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0 && name.size() - dot - 1 <= 4) {
        return name.substr(0, dot);
    }
    return name;
}

bool SafeExtension(const std::string& ext) {
    if (ext.empty() || ext.size() > 4) {
        return false;
    }
    return std::all_of(ext.begin(), ext.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

// What the plug-in's image readers tell of a file: its resolution (0 when
// they do not know the file) and its colour model.
struct ReaderView {
    double resolution = 0;
    uint32_t model = kImgModelNone;
};

ReaderView ReadWithPlugInReaders(const std::string& path) {
    ReaderView view;
    std::unique_ptr<Proxy_FileIOProcess> reader = IMG_OpenImageFile(path.c_str(), "r", false);
    if (reader && reader->GetImageInfo() != nullptr) {
        const IMG_ImageInfo& info = *reader->GetImageInfo();
        if (info.resolution > 1.0 && std::isfinite(info.resolution)) {
            view.resolution = info.resolution;
        }
        view.model = IMG_ColourModelOf(info.pixelType);
    }
    return view;
}

double InputResolution(const ReaderView& view, const VImage& image) {
    if (view.resolution > 0) {
        return view.resolution;
    }
    double r = image.xres() * 25.4;
    return r > 26.0 ? r : 72.0;
}

bool IsJpeg(const std::string& path) {
    const char* loader = vips_foreign_find_load(path.c_str());
    return loader != nullptr && std::string(loader).rfind("VipsForeignLoadJpeg", 0) == 0;
}

// The JPEG decoder's shrink (1, 2, 4 or 8) that still leaves at least as
// many pixels as the output samples from the image, so that quality is kept.
int JpegShrink(const JobTicket& t, double inputResolution) {
    const double needed = std::max(t.resX * t.scaleX, t.resY * t.scaleY) / inputResolution;
    int shrink = 1;
    while (shrink < 8 && needed * shrink * 2 <= 1.0) {
        shrink *= 2;
    }
    return shrink;
}

// An EPS or PostScript file rendered by Ghostscript at the resolution the
// output needs (the ticket's, times its scale), over the file's bounding box,
// in the colour model its header gives (RGB when it gives none).
bool LoadPostScript(const JobTicket& t, const std::string& source, VipsAccess access,
                    PostScriptRendering& rendering, VImage& loaded, double& resolution,
                    std::string& error) {
    const ReaderView view = ReadWithPlugInReaders(source);
    double width = 612, height = 792; // a page, when the file gives no bounding box
    PostScriptSize(source, width, height);
    resolution = PostScriptResolution(std::max(t.resX, t.resY), std::max(t.scaleX, t.scaleY), width,
                                      height, kMaxPixels);
    const PostScriptColour colour = view.model == kImgModelGray   ? PostScriptColour::gray
                                    : view.model == kImgModelCMYK ? PostScriptColour::cmyk
                                                                  : PostScriptColour::rgb;
    if (!rendering.Render(source, resolution, colour, error)) {
        return false;
    }
    loaded =
        VImage::new_from_file(rendering.Image().c_str(), VImage::option()->set("access", access));
    return true;
}

// libvips records a JPEG's resolution in EXIF only; readers that look at the
// JFIF density alone would see none. A JFIF segment with the density is put
// right after the start-of-image marker.
bool AddJfifDensity(const std::string& path, int resX, int resY, int unit) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    if (bytes.size() < 4 || static_cast<unsigned char>(bytes[0]) != 0xFF ||
        static_cast<unsigned char>(bytes[1]) != 0xD8) {
        return false;
    }
    if (static_cast<unsigned char>(bytes[2]) == 0xFF &&
        static_cast<unsigned char>(bytes[3]) == 0xE0) {
        return true; // a JFIF segment is there already
    }
    auto density = [&](int ppi) {
        double v = unit == 1 ? ppi / 2.54 : ppi;
        return static_cast<int>(std::clamp(std::lround(v), 1L, 65535L));
    };
    const int dx = density(resX), dy = density(resY);
    const unsigned char app0[] = {0xFF,
                                  0xE0,
                                  0x00,
                                  0x10,
                                  'J',
                                  'F',
                                  'I',
                                  'F',
                                  0x00,
                                  0x01,
                                  0x01,
                                  static_cast<unsigned char>(unit == 1 ? 2 : 1),
                                  static_cast<unsigned char>(dx >> 8),
                                  static_cast<unsigned char>(dx & 0xFF),
                                  static_cast<unsigned char>(dy >> 8),
                                  static_cast<unsigned char>(dy & 0xFF),
                                  0x00,
                                  0x00};
    bytes.insert(2, reinterpret_cast<const char*>(app0), sizeof app0);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

void Save(const VImage& image, const OutputFormat& format, int unit, const std::string& path) {
    if (format.code == 4) {
        image.jpegsave(path.c_str(), VImage::option()
                                         ->set("Q", std::clamp(format.values[0], 1, 100))
                                         ->set("interlace", format.values[1] != 0)
                                         ->set("optimize_coding", format.values[2] != 0)
                                         ->set("strip", !format.embedIcc));
        return;
    }
    VipsForeignTiffCompression compression = VIPS_FOREIGN_TIFF_COMPRESSION_NONE;
    if (format.values[0] == 1) {
        compression = VIPS_FOREIGN_TIFF_COMPRESSION_LZW;
    } else if (format.values[0] == 2) {
        compression = VIPS_FOREIGN_TIFF_COMPRESSION_DEFLATE;
    }
    VImage out = image;
    if (!format.embedIcc && out.get_typeof(VIPS_META_ICC_NAME) != 0) {
        out = out.copy();
        out.remove(VIPS_META_ICC_NAME);
    }
    auto* options =
        VImage::option()
            ->set("compression", compression)
            ->set("predictor", format.values[1] == 1 ? VIPS_FOREIGN_TIFF_PREDICTOR_HORIZONTAL
                                                     : VIPS_FOREIGN_TIFF_PREDICTOR_NONE)
            ->set("resunit",
                  unit == 1 ? VIPS_FOREIGN_TIFF_RESUNIT_CM : VIPS_FOREIGN_TIFF_RESUNIT_INCH);
    if (format.values[2] >= 16) {
        int edge = std::min(format.values[2], 4096) / 16 * 16;
        options->set("tile", true)->set("tile_width", edge)->set("tile_height", edge);
    }
    out.tiffsave(path.c_str(), options);
}

JobResult Fail(const std::string& message, const std::string& path) {
    JobResult r;
    r.status = ReplyStatus::error;
    r.message = message;
    r.outputPath = path;
    return r;
}

// What a process option does to an image of a kind.
struct ColourSteps {
    bool known = true, correct = false, toGray = false, toRgb = false, toCmyk = false;
};

ColourSteps StepsFor(ImageKind kind, int option) {
    ColourSteps s;
    switch (kind) {
    case ImageKind::gray: // 0 none, 1 correction, 4 CMYK, 5 correction + CMYK
        s.known = option == 0 || option == 1 || option == 4 || option == 5;
        s.correct = option == 1 || option == 5;
        s.toCmyk = option == 4 || option == 5;
        break;
    case ImageKind::rgb: // bit 1 correction, bit 0 gray, 4..7 CMYK; 0 none
        s.known = option >= 0 && option <= 7;
        s.correct = option == 2 || option == 3 || option == 6 || option == 7;
        s.toGray = option == 1 || option == 3 || option == 5 || option == 7;
        s.toCmyk = option >= 4;
        break;
    case ImageKind::cmyk: // 0 none, 1 gray, 2 RGB, 5 gray + CMYK, 6 RGB + CMYK
        s.known = option == 0 || option == 1 || option == 2 || option == 5 || option == 6;
        s.toGray = option == 1 || option == 5;
        s.toRgb = option == 2 || option == 6;
        s.toCmyk = option == 5 || option == 6;
        break;
    }
    return s;
}

// How the job reads its input. Once, top to bottom, lets libvips stream the
// file, with little memory and no temporary file, where reading it in any
// order loads it whole first (in memory, or in a temporary file beyond
// libvips' threshold of 100 MB). A correction reads the placed image twice
// (its levels, then the image through its table), so a job that may correct
// (whatever kind the image turns out to be) reads it in any order. A
// placement that reads it otherwise copies what it needs (RenderPlacement).
VipsAccess AccessFor(const JobTicket& t, const ServerProfile& p) {
    for (const ImageKind kind : {ImageKind::gray, ImageKind::rgb, ImageKind::cmyk}) {
        if (StepsFor(kind, t.processOpt == -1 ? p.modes[static_cast<int>(kind)] : t.processOpt)
                .correct) {
            return VIPS_ACCESS_RANDOM;
        }
    }
    return VIPS_ACCESS_SEQUENTIAL;
}

// Up to this size an image a placement reads in any order is copied into
// memory; a larger one goes into a temporary file (libvips' own threshold).
constexpr double kInMemoryBytes = 100.0 * 1024 * 1024;

// The image computed once and kept, so that it can be read in any order:
// in memory, or in a temporary file of libvips' (in TMPDIR, removed when the
// image goes).
VImage Kept(const VImage& image) {
    const double bytes = 1.0 * image.width() * image.height() * image.bands() *
                         static_cast<double>(vips_format_sizeof(image.format()));
    if (bytes <= kInMemoryBytes) {
        return image.copy_memory();
    }
    VipsImage* file = vips_image_new_temp_file("%s.v");
    if (file == nullptr) {
        throw vips::VError();
    }
    VImage kept(file); // takes it over
    if (vips_image_write(image.get_image(), kept.get_image()) != 0) {
        throw vips::VError();
    }
    return kept;
}

} // namespace

VImage NormalizeImage(const VImage& in, ImageKind& kind) {
    VipsInterpretation interpretation = in.interpretation();
    int bands = in.bands();
    if (interpretation == VIPS_INTERPRETATION_CMYK && bands >= 4) {
        kind = ImageKind::cmyk;
        VImage cmyk = bands > 4 ? in.extract_band(0, VImage::option()->set("n", 4)) : in;
        return Tagged(ToUcharOrUshort(cmyk), VIPS_INTERPRETATION_CMYK);
    }
    VImage image = in;
    switch (interpretation) {
    case VIPS_INTERPRETATION_LAB:
    case VIPS_INTERPRETATION_LABQ:
    case VIPS_INTERPRETATION_LABS:
    case VIPS_INTERPRETATION_LCH:
    case VIPS_INTERPRETATION_CMC:
    case VIPS_INTERPRETATION_XYZ:
    case VIPS_INTERPRETATION_YXY:
    case VIPS_INTERPRETATION_scRGB:
    case VIPS_INTERPRETATION_HSV:
        image = WithoutProfile(image.colourspace(VIPS_INTERPRETATION_sRGB));
        bands = image.bands();
        break;
    default:
        break;
    }
    if (bands == 2 || bands == 4) {
        image = image.flatten(VImage::option()->set(
            "background",
            std::vector<double>{image.format() == VIPS_FORMAT_USHORT ? 65535.0 : 255.0}));
        bands = image.bands();
    }
    if (bands < 3) {
        kind = ImageKind::gray;
        return Tagged(ToUcharOrUshort(image.extract_band(0)), VIPS_INTERPRETATION_B_W);
    }
    kind = ImageKind::rgb;
    VImage rgb = bands > 3 ? image.extract_band(0, VImage::option()->set("n", 3)) : image;
    return Tagged(ToUcharOrUshort(rgb), VIPS_INTERPRETATION_sRGB);
}

bool RenderPlacement(const VImage& in, ImageKind kind, double inputResolution, const JobTicket& t,
                     VImage& out, std::string& error, bool readOnce) {
    // The plug-in sends the layout's turn and lean negated: a positive ANGLE
    // turns clockwise as seen and a positive SKEWH leans the top to the left.
    // a and k below are the layout's own (counter-clockwise, top to the
    // right).
    const double a = -t.angle * kPi / 180.0;
    const double k = -std::tan(t.skewH * kPi / 180.0);
    // Source pixel -> inches on the page: mirror, scale, skew, rotate
    // (counter-clockwise as seen for a positive a, y growing downward), then
    // -> output pixels.
    const double sx = (t.flipH ? -1.0 : 1.0) * t.scaleX / inputResolution;
    const double sy = (t.flipV ? -1.0 : 1.0) * t.scaleY / inputResolution;
    // K * S: [[sx, -k*sy], [0, sy]]
    const double ks00 = sx, ks01 = -k * sy, ks10 = 0.0, ks11 = sy;
    const double c = std::cos(a), s = std::sin(a);
    double m00 = c * ks00 + s * ks10, m01 = c * ks01 + s * ks11;
    double m10 = -s * ks00 + c * ks10, m11 = -s * ks01 + c * ks11;
    m00 *= t.resX;
    m01 *= t.resX;
    m10 *= t.resY;
    m11 *= t.resY;

    const double w = in.width(), h = in.height();
    const double xs[4] = {0, m00 * w, m00 * w + m01 * h, m01 * h};
    const double ys[4] = {0, m10 * w, m10 * w + m11 * h, m11 * h};
    const double minX = *std::min_element(xs, xs + 4), maxX = *std::max_element(xs, xs + 4);
    const double minY = *std::min_element(ys, ys + 4), maxY = *std::max_element(ys, ys + 4);

    double cropX = 0, cropY = 0, outW = std::ceil(maxX - minX), outH = std::ceil(maxY - minY);
    if (t.doCrop) {
        cropX = t.left * t.resX;
        cropY = t.top * t.resY;
        outW = std::max(1.0, std::round(t.width * t.resX));
        outH = std::max(1.0, std::round(t.height * t.resY));
    }
    if (!(outW <= kMaxSide && outH <= kMaxSide && outW * outH <= kMaxPixels)) {
        error = "output of " + std::to_string(static_cast<long long>(outW)) + " x " +
                std::to_string(static_cast<long long>(outH)) +
                " pixels is larger than this server writes";
        return false;
    }
    const double overlapX = std::min(cropX + outW, maxX - minX) - std::max(cropX, 0.0);
    const double overlapY = std::min(cropY + outH, maxY - minY) - std::max(cropY, 0.0);
    if (!(overlapX > 0.5 && overlapY > 0.5)) {
        error = "the crop lies outside the placed image";
        return false;
    }

    VImage source = in;
    // A strong reduction is done by block averaging first, so that the
    // resampling below does not alias.
    const double area = std::fabs(m00 * m11 - m01 * m10);
    int shrink = area > 0 ? static_cast<int>(std::floor(1.0 / std::sqrt(area))) : 1;
    if (shrink >= 2) {
        shrink = std::min({shrink, in.width(), in.height()});
        source = in.shrink(shrink, shrink);
        const double fx = static_cast<double>(in.width()) / source.width();
        const double fy = static_cast<double>(in.height()) / source.height();
        m00 *= fx;
        m10 *= fx;
        m01 *= fy;
        m11 *= fy;
    }
    // Turned, leaned or mirrored top to bottom, the placement reads its
    // source in any order: one that can be read only once is kept first,
    // after the block averaging so that as little as can be is kept.
    if (readOnce && !(m01 == 0 && m10 == 0 && m11 > 0)) {
        source = Kept(source);
    }
    const double white = kind == ImageKind::cmyk ? 0.0 : Wide(source) ? 65535.0 : 255.0;
    std::vector<double> background(static_cast<std::size_t>(source.bands()), white);
    out = source.affine(
        {m00, m01, m10, m11},
        VImage::option()
            ->set("interpolate", vips::VInterpolate::new_from_name("bilinear"))
            ->set("oarea", std::vector<int>{0, 0, static_cast<int>(outW), static_cast<int>(outH)})
            // The matrix maps the image's extent (pixel i spans i to i + 1)
            // onto the output's; affine maps pixel indices, so the offsets
            // carry the half pixel between a pixel's index and its centre
            // on both sides.
            ->set("odx", -minX - cropX + 0.5 * (m00 + m01) - 0.5)
            ->set("ody", -minY - cropY + 0.5 * (m10 + m11) - 0.5)
            ->set("extend", VIPS_EXTEND_BACKGROUND)
            ->set("background", background));
    out = Tagged(out.cast(source.format()), source.interpretation());
    return true;
}

bool ConvertColour(VImage& image, ImageKind& kind, int option, const ServerProfile& p,
                   std::string& error) {
    if (option == -1) {
        option = p.modes[static_cast<int>(kind)];
    }
    const ColourSteps steps = StepsFor(kind, option);
    const bool correct = steps.correct, toGray = steps.toGray, toRgb = steps.toRgb,
               toCmyk = steps.toCmyk;
    if (!steps.known) {
        error = "process option " + std::to_string(option) + " does not apply to a " +
                KindName(kind) + " image";
        return false;
    }
    try {
        if (kind == ImageKind::cmyk && (toGray || toRgb)) {
            image = Tagged(CmykToRgb(image, p), VIPS_INTERPRETATION_sRGB);
            kind = ImageKind::rgb;
        }
        if (toGray && kind == ImageKind::rgb) {
            image = ToGray(image);
            kind = ImageKind::gray;
        }
        if (correct) {
            image = Correct(Tagged(ToUchar(image), image.interpretation()), p);
        }
        if (toCmyk) {
            image = ToCmyk(image, kind, p);
            kind = ImageKind::cmyk;
        }
        // Reduced to 8 bits only now, after every conversion.
        image = Tagged(ToUchar(image), image.interpretation());
    } catch (const vips::VError& e) {
        error = std::string("colour conversion failed (check the profile's ICC profiles): ") +
                FirstLine(e.what());
        return false;
    }
    return true;
}

JobResult ProcessTicket(const ServerFolders& folders, const JobTicket& t,
                        const OutputSteps& steps) {
    // libvips keeps its messages until they are cleared: a job quotes its own
    // reasons, never an earlier job's.
    vips_error_clear();
    ServerProfile profile;
    std::string error;
    if (!LoadServerProfile(folders, t.profile, profile, error)) {
        return Fail(error, t.pathIn);
    }
    fs::path in(t.pathIn);
    if (!in.is_absolute()) {
        return Fail("input path is not a full path: " + t.pathIn, t.pathIn);
    }
    std::error_code ec;
    if (t.pathOut.empty() || !fs::path(t.pathOut).is_absolute()) {
        return Fail("output path is missing or not a full path", t.pathIn);
    }
    if (t.prefix.find('/') != std::string::npos || t.prefix.find('\\') != std::string::npos) {
        return Fail("prefix holds a path separator", t.pathIn);
    }
    // Nothing outside the server's volumes is read or written, not even
    // through a symbolic link: the input and the output's folder are opened
    // once checked, and reached through their descriptors from then on.
    const std::vector<std::string> volumes = ReadVolumes(folders);
    TicketPath input, output;
    if (!input.Open(volumes, t.pathIn, true, error) ||
        !output.Open(volumes, t.pathOut, false, error)) {
        return Fail(error, t.pathIn);
    }
    const std::string& source = input.Path();

    const bool replacing = t.pathOut == t.pathIn;
    fs::path outPath(t.pathOut);
    fs::path folder = outPath.parent_path();

    VImage image;
    ImageKind kind = ImageKind::rgb;
    double resolution = 72.0;
    const VipsAccess access = AccessFor(t, profile);
    // Holds Ghostscript's picture of an EPS or PostScript input until the
    // job is done with it.
    PostScriptRendering rendering;
    try {
        VImage loaded;
        if (IsPostScriptFile(source)) {
            if (!LoadPostScript(t, source, access, rendering, loaded, resolution, error)) {
                return Fail(error, t.pathIn);
            }
        } else {
            const ReaderView view = ReadWithPlugInReaders(source);
            loaded = VImage::new_from_file(source.c_str(), VImage::option()->set("access", access));
            resolution = InputResolution(view, loaded);
            // A JPEG read at the size the output needs: its decoder shrinks by
            // 2, 4 or 8 as it reads, far faster than reading it whole.
            const int shrink = JpegShrink(t, resolution);
            if (shrink > 1 && IsJpeg(source)) {
                const int width = loaded.width();
                loaded = VImage::new_from_file(
                    source.c_str(), VImage::option()->set("access", access)->set("shrink", shrink));
                resolution *= static_cast<double>(loaded.width()) / width;
            }
        }
        image = NormalizeImage(loaded, kind);
    } catch (const vips::VError& e) {
        return Fail("input image cannot be read: " + t.pathIn + " (" + FirstLine(e.what()) + ")",
                    t.pathIn);
    }

    VImage placed;
    try {
        if (!RenderPlacement(image, kind, resolution, t, placed, error,
                             access == VIPS_ACCESS_SEQUENTIAL)) {
            return Fail(error, t.pathIn);
        }
    } catch (const vips::VError& e) {
        return Fail(std::string("placement failed: ") + FirstLine(e.what()), t.pathIn);
    }
    // The option this job applies, as the profile decides it for -1; the
    // processing mark records it.
    const int applied = t.processOpt == -1 ? profile.modes[static_cast<int>(kind)] : t.processOpt;
    if (!ConvertColour(placed, kind, t.processOpt, profile, error)) {
        return Fail(error, t.pathIn);
    }

    const OutputFormat& format = profile.outputs[static_cast<int>(kind)];
    if (format.code != 0 && format.code != 4) {
        return Fail("profile asks for file format " + std::to_string(format.code) +
                        ", which this server does not write",
                    t.pathIn);
    }
    std::string ext =
        SafeExtension(format.extension) ? format.extension : (format.code == 4 ? "jpg" : "tif");
    std::string stem = StemOf(outPath.filename().string());
    if (stem.empty()) {
        return Fail("output path names no file", t.pathIn);
    }
    const fs::path wanted = folder / (t.prefix + stem + "." + ext);
    auto nameFor = [&](int n) {
        return n == 0 ? wanted : folder / (t.prefix + stem + "-" + std::to_string(n) + "." + ext);
    };
    // The same names in the opened folder, where the files are made.
    auto opened = [&](const fs::path& name) { return output.At(name.filename().string()); };
    // With overwriting off an existing file is never replaced, not even one
    // that another server puts there while this output is made: the output
    // takes the first free name of "-1" to "-999" and is moved there only
    // while that name is free. The source itself is never written over unless
    // the ticket asks for exactly that (PATHOUT is PATHIN): an output folder
    // and name that lead back to it take a free name even with overwriting on.
    const bool overSource = fs::equivalent(opened(wanted), source, ec);
    const bool keepExisting = !replacing && (!t.overwrite || overSource);
    auto firstFree = [&](int from) {
        for (int n = from; n < 1000; ++n) {
            if (!keepExisting || !Exists(opened(nameFor(n)))) {
                return n;
            }
        }
        return -1;
    };
    int choice = firstFree(0);
    if (choice < 0) {
        return Fail("output exists and overwriting is off: " + wanted.string(), t.pathIn);
    }

    placed = placed.copy(VImage::option()->set("xres", t.resX / 25.4)->set("yres", t.resY / 25.4));
    if (format.code == 4) {
        placed.set("resolution-unit", profile.resolutionUnit == 1 ? "cm" : "in");
    }
    // Written beside the target under a hidden name and moved over it in one
    // step, so that a client never sees half a file.
    const std::string tag =
        steps.tag.empty() ? std::to_string(static_cast<long long>(getpid())) : steps.tag;
    const fs::path part = folder / HiddenName(wanted.filename().string(), tag);
    const std::string partAt = opened(part);
    if (steps.beforeWrite && !steps.beforeWrite(part.string(), error)) {
        return Fail(error, t.pathIn);
    }
    auto failWritten = [&](const std::string& reason) {
        fs::remove(partAt, ec);
        return Fail(reason, t.pathIn);
    };
    // One left by a run that was killed may be a second name of an output
    // already in place (moved by a link); writing over it would change that.
    fs::remove(partAt, ec);
    try {
        Save(placed, format, profile.resolutionUnit, partAt);
    } catch (const vips::VError& e) {
        return failWritten(std::string("output cannot be written: ") + FirstLine(e.what()));
    }
    if (format.code == 4 && !AddJfifDensity(partAt, t.resX, t.resY, profile.resolutionUnit)) {
        return failWritten("resolution cannot be recorded in " + wanted.string());
    }
    if (format.code == 0) {
        std::string text =
            "P" + std::to_string(applied) + " " + (t.profile.empty() ? "default" : t.profile);
        if (!WriteProcessingMark(partAt, applied, text)) {
            return failWritten("processing mark cannot be written into " + wanted.string());
        }
    }
    if (SyncFile(partAt) != 0) {
        return failWritten("output cannot be forced to disk: " + wanted.string());
    }
    const std::string processed = "processed " + std::to_string(placed.width()) + " x " +
                                  std::to_string(placed.height()) + " px at " +
                                  std::to_string(t.resX) + " ppi, " + KindName(kind) + " " +
                                  (format.code == 4 ? "JPEG" : "TIFF");
    JobResult result;
    for (;;) {
        const fs::path target = nameFor(choice);
        result.outputPath = target.string();
        result.status = choice == 0 ? ReplyStatus::finish : ReplyStatus::warning;
        result.message = choice == 0 ? processed
                                     : wanted.filename().string() + " exists; written as " +
                                           target.filename().string() + ". " + processed;
        if (steps.beforeMove && !steps.beforeMove(result, part.string(), error)) {
            return failWritten(error);
        }
        int rc = 0;
        if (keepExisting) {
            rc = MoveWithoutReplacing(partAt, opened(target));
        } else {
            fs::rename(partAt, opened(target), ec);
            rc = ec ? ec.value() : 0;
        }
        if (rc == EEXIST && (choice = firstFree(choice + 1)) >= 0) {
            continue; // taken meanwhile
        }
        if (rc != 0) {
            return failWritten("output cannot be moved into place: " + target.string());
        }
        break;
    }
    SyncFolder(output.Path());
    DeleteSourceIfAsked(volumes, t, result);
    return result;
}

void WriteLowResolutionIfAsked(const ServerFolders& folders, const JobTicket& t,
                               const std::string& tag, JobResult& result) {
    ServerProfile profile;
    std::string error;
    if (result.status == ReplyStatus::error ||
        !LoadServerProfile(folders, t.profile, profile, error) || profile.opiFolder.empty()) {
        return;
    }
    const std::string name = fs::path(result.outputPath).filename().string() + profile.opiSuffix;
    if (!WriteOpiPlaceholder(result.outputPath, std::min(t.resX, t.resY),
                             profile.opiPreviewResolution, profile.opiFolder, name, tag, error)) {
        result.status = ReplyStatus::warning;
        result.message = error + ". " + result.message;
    }
}

void DeleteSourceIfAsked(const std::vector<std::string>& volumes, const JobTicket& t,
                         JobResult& result) {
    if (!t.deleteSource) {
        return;
    }
    // Only the plain file the ticket named, in its folder checked and opened
    // again, never what a link put there since.
    TicketPath folder;
    std::string error;
    const std::string name = fs::path(t.pathIn).filename().string();
    struct stat source {};
    struct stat output {};
    if (!folder.Open(volumes, t.pathIn, false, error)) {
        result.status = ReplyStatus::warning;
        result.message = "the original was not deleted: " + error + ". " + result.message;
        return;
    }
    if (::fstatat(folder.Descriptor(), name.c_str(), &source, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(source.st_mode) ||
        (::stat(result.outputPath.c_str(), &output) == 0 && output.st_dev == source.st_dev &&
         output.st_ino == source.st_ino)) {
        return;
    }
    if (::unlinkat(folder.Descriptor(), name.c_str(), 0) != 0) {
        result.status = ReplyStatus::warning;
        result.message = "the original could not be deleted. " + result.message;
    }
}
