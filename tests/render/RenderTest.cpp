// The page renderer and its PNG and PDF outputs, against libvips, Ghostscript, qpdf and poppler.
#include "ClipPath.h"
#include "DocumentModel.h"
#include "DocumentUtils.h"
#include "IDataLink.h"
#include "IGeometry.h"
#include "IHierarchy.h"
#include "ITransform.h"
#include "ImageRaster.h"
#include "ImportUtils.h"
#include "ObjectModel.h"
#include "PdfExport.h"
#include "SampleFiles.h"
#include "SampleImages.h"
#include "TempDir.h"
#include "VipsEnvironment.h"

#include <cstdio>
#include <regex>

namespace {

using vips::VImage;

[[maybe_unused]] testing::Environment* const kVips =
    testing::AddGlobalTestEnvironment(new VipsEnvironment("render_tests"));

// Mean difference of two pictures of a placement, in levels per sample: the render and libvips'
// bilinear sample of the file differ by 0.6 at most (edges of turned images), poppler's picture of
// the PDF and the PNG by 0.7; an image 2 points off gives 2.9 or more.
constexpr double kSameRender = 1.5;

// Waves and a ramp: a mirror, turn or shift shows; resampling changes little.
void PicturePixels(const samples::Raster& image, uint32_t x, uint32_t y, uint8_t* out) {
    const double fx = (x + 0.5) / image.width, fy = (y + 0.5) / image.height;
    const double rgb[3] = {128 + 100 * std::sin(2 * M_PI * 2.5 * fx),
                           128 + 100 * std::sin(2 * M_PI * 1.5 * fy + 0.7),
                           30 + 190 * fx * (1 - 0.4 * fy)};
    for (int i = 0; i < image.channels; ++i) {
        out[i] = static_cast<uint8_t>(
            std::lround(image.channels == 1 ? 0.4 * rgb[0] + 0.4 * rgb[1] + 0.2 * rgb[2] : rgb[i]));
    }
}

// The picture as a TIFF, or as a JPEG by the name, RGB or gray (channels 1).
std::string Picture(const TempDir& dir, const std::string& name, uint32_t w, uint32_t h,
                    double ppi = 72, int channels = 3) {
    const std::string path = dir / name;
    name.ends_with(".jpg")
        ? samples::WriteJpeg(path, {w, h, channels}, PicturePixels, {static_cast<int>(ppi), 1, 95})
        : samples::WriteTiff(path, {w, h, channels}, PicturePixels,
                             {.resolution = ppi, .description = ""});
    return path;
}

struct Placement {
    double scale = 1, skew = 0, rotate = 0, dx = 0, dy = 0;
    char flip = 0; // 'h' or 'v'
};

void Transform(const UIDRef& item, const std::function<void(ITransform&)>& change) {
    const InterfacePtr<ITransform> t = InterfaceOf<ITransform>(item);
    ASSERT_NE(t, nullptr) << "no item to transform";
    const auto step = [&] { return change(*t), kSuccess; };
    EXPECT_EQ(DocumentUtils::ProcessChange(item.GetDataBase(), PMString("Change"), step), kSuccess);
}

// The file in a new frame, transformed as the shell's place does it: the scale about the frame's
// left-top corner, mirror, skew and rotation about its centre, then the move.
UIDRef Place(IDataBase* db, int32_t page, const std::string& file, const PMRect& frame,
             const Placement& p = {}) {
    ErrorCode error = kFailure;
    const UIDRef image = ImportUtils::PlaceFile(
        DocumentUtils::AddGraphicFrame(DocumentUtils::GetNthPage(db, page), frame), PMString(file),
        &error);
    EXPECT_EQ(error, kSuccess) << file;
    const PMPoint centre(frame.Width() / 2, frame.Height() / 2);
    Transform(image, [&](ITransform& t) {
        EXPECT_TRUE(t.SetScale(p.scale, p.scale, PMPoint(0, 0)));
        const PMMatrix::Parts s = t.GetInnerToParentMatrix().Decompose();
        EXPECT_TRUE(!p.flip || t.SetScale(p.flip == 'h' ? -s.xScale : s.xScale,
                                          p.flip == 'v' ? -s.yScale : s.yScale, centre));
        EXPECT_TRUE(p.skew == 0 || t.SetXSkewAngle(p.skew, centre));
        EXPECT_TRUE(p.rotate == 0 || t.SetRotationAngle(p.rotate, centre));
        t.MoveBy(p.dx, p.dy);
    });
    return image;
}

PMRect Box(const UIDRef& item) {
    return InterfaceOf<IGeometry>(item)->GetBoundingBox();
}
// An item's coordinates to its page's (each page begins its own spread here).
PMMatrix ToPage(const UIDRef& item) {
    return InterfaceOf<ITransform>(item)->GetInnerToSpreadMatrix();
}
PMRect Grown(const PMRect& r, double by) {
    return {r.Left() - by, r.Top() - by, r.Right() + by, r.Bottom() + by};
}

// 255 where the centre of a pixel at 72 per inch lies in the rectangle (page points), else 0.
VImage Within(int w, int h, const PMRect& r) {
    const VImage c = VImage::xyz(w, h) + 0.5;
    return (c[0] >= r.Left()) & (c[0] < r.Right()) & (c[1] >= r.Top()) & (c[1] < r.Bottom());
}
double MeanOver(const VImage& v, const VImage& mask) {
    return (v * (mask / 255.0)).avg() / (mask / 255.0).avg();
}

// A file's pixels as RGB levels: gray repeated, alpha dropped.
VImage ReadRgb(const std::string& path) {
    const VImage image = VImage::new_from_file(path.c_str()).cast(VIPS_FORMAT_DOUBLE);
    return image.bands() < 3 ? VImage::bandjoin({image[0], image[0], image[0]})
                             : image.extract_band(0, VImage::option()->set("n", 3));
}

// The page as the placed files show it at 72 pixels per inch: each image sampled bilinearly from
// its file through its matrix, white inside its frame where the image does not reach.
VImage ExpectedPage(IDataBase* db, int32_t page, const std::vector<UIDRef>& images) {
    double pw = 0, ph = 0;
    EXPECT_TRUE(render::PageSize(db, page, pw, ph));
    const int w = static_cast<int>(std::lround(pw)), h = static_cast<int>(std::lround(ph));
    VImage out = VImage::black(w, h, VImage::option()->set("bands", 3)) + 255;
    for (const UIDRef& image : images) {
        VImage pixels = ReadRgb(InterfaceOf<IDataLink>(image)->GetLongName().GetUTF8String());
        const PMRect box = Box(image);
        const UIDRef frame(db, InterfaceOf<IHierarchy>(image)->GetParentUID());
        PMMatrix inverse = ToPage(image);
        EXPECT_TRUE(inverse.Invert());
        // The file's point, in its pixels, that the centre of page pixel (i, j) shows.
        auto source = [&](double i, double j) {
            const PMPoint p = inverse.TransformedPoint(PMPoint(i + 0.5, j + 0.5));
            return PMPoint((p.X() - box.Left()) * pixels.width() / box.Width(),
                           (p.Y() - box.Top()) * pixels.height() / box.Height());
        };
        // A file much finer than the page is brought down first, as a reader for this size does.
        const PMPoint a = source(1, 0) - source(0, 0), b = source(0, 1) - source(0, 0);
        if (const double s = std::sqrt(std::fabs(a.X() * b.Y() - a.Y() * b.X())); s > 1.5) {
            pixels = pixels.resize(1 / s);
        }
        const PMPoint o = source(0, 0), di = source(1, 0) - o, dj = source(0, 1) - o;
        const VImage uv = VImage::xyz(w, h)
                              .recomb(VImage::new_matrixv(2, 2, di.X(), dj.X(), di.Y(), dj.Y()))
                              .linear({1, 1}, {o.X(), o.Y()});
        const VImage inImage =
            (uv[0] >= 0) & (uv[1] >= 0) & (uv[0] < pixels.width()) & (uv[1] < pixels.height());
        // Pixel centres sit at whole coordinates; neighbours past the edge repeat it.
        const VImage sampled = pixels.mapim(
            uv - 0.5, VImage::option()
                          ->set("interpolate", vips::VInterpolate::new_from_name("bilinear"))
                          ->set("extend", VIPS_EXTEND_COPY));
        out = Within(w, h, TransformedBounds(Box(frame), ToPage(frame)))
                  .ifthenelse(inImage.ifthenelse(sampled, 255.0), out);
    }
    return out.copy_memory();
}

// The page (from 0) as the PNG output draws it at 72 pixels per inch, as RGB levels.
VImage DrawnPage(IDataBase* db, int32_t page, const TempDir& dir, render::DrawReport& drawn) {
    const render::PngOptions options{.pages = {page + 1, page + 1}};
    render::OutputReport report;
    EXPECT_TRUE(render::WritePng(db, options, dir / "drawn.png", true, report)) << report.error;
    drawn = report.drawing;
    return ReadRgb(dir / "drawn.png").copy_memory();
}

// A new document in a fresh object model.
std::unique_ptr<IDataBase> NewDocument(double w, double h, int32_t pages = 1) {
    ObjectModel::Get().Reset();
    RegisterDocumentModel();
    return DocumentUtils::NewDocument({.pageCount = pages, .pageWidth = w, .pageHeight = h});
}

std::pair<int, std::string> RunTool(const std::string& command) { // status, output
    std::string out(1 << 16, '\0');
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    out.resize(pipe != nullptr ? fread(out.data(), 1, out.size(), pipe) : 0);
    return {pipe != nullptr ? pclose(pipe) : -1, out};
}

// Whether pdfimages -list shows an image on the page in the colour at the x resolution.
bool Listed(const std::string& pdf, int page, const std::string& colour, int ppi) {
    const std::regex line("\n +" + std::to_string(page) + " +\\d+ +image +\\d+ +\\d+ +" + colour +
                          "( +\\S+){6} +" + std::to_string(ppi) + " ");
    return std::regex_search(RunTool("pdfimages -list " + pdf).second, line);
}

struct RenderTest : testing::Test {
    TempDir dir;
};

TEST_F(RenderTest, EachPlacementTheShellOffersShowsTheFileThroughItsMatrix) {
    const std::string rgb = Picture(dir, "waves.tif", 400, 240, 144); // 200 x 120 points
    const std::string gray = Picture(dir, "waves.jpg", 200, 120, 72, 1);
    const std::tuple<const char*, const std::string&, PMRect, Placement> cases[] = {
        {"60 %", rgb, PMRect(40, 30, 240, 170), {.scale = 0.6}},
        {"turned 30 degrees", rgb, PMRect(40, 30, 280, 210), {.rotate = 30}},
        {"leaning 20 degrees", rgb, PMRect(30, 30, 290, 170), {.skew = 20}},
        {"mirrored left to right", rgb, PMRect(40, 30, 260, 170), {.flip = 'h'}},
        {"gray JPEG mirrored top to bottom", gray, PMRect(40, 30, 260, 170), {.flip = 'v'}},
        {"moved so that the frame crops it", rgb, PMRect(40, 30, 190, 130), {.dx = -30, .dy = -20}},
        {"gray JPEG, all of them",
         gray,
         PMRect(30, 20, 270, 200),
         {.scale = 0.8, .skew = 15, .rotate = -40, .dx = 10, .dy = -5, .flip = 'h'}},
    };
    for (const auto& [name, file, frame, placement] : cases) {
        SCOPED_TRACE(name);
        const auto db = NewDocument(320, 240);
        const UIDRef image = Place(db.get(), 0, file, frame, placement);
        const VImage expected = ExpectedPage(db.get(), 0, {image});
        const VImage near = Within(320, 240, Grown(frame, 4)); // nothing drawn past the frame
        render::DrawReport report;
        EXPECT_LT(MeanOver((DrawnPage(db.get(), 0, dir, report) - expected).abs(), near),
                  kSameRender);
        EXPECT_EQ(std::tuple(report.imagesDrawn, report.problems.size()), std::tuple(1, 0u));
        Transform(image, [](ITransform& t) { t.MoveBy(2, 2); });
        EXPECT_GT(MeanOver((DrawnPage(db.get(), 0, dir, report) - expected).abs(), near),
                  kSameRender)
            << "the comparison would not see an image 2 points off";
    }
}

TEST_F(RenderTest, ARealFilesClippingPathShowsWhatIsBehindOutsideIt) {
    const std::string folder = SharedTestData() + "/clippaths";
    if (SharedTestData().empty() || !PathExists(folder)) {
        GTEST_SKIP() << "no clippaths folder in the shared test data";
    }
    const std::string waves = Picture(dir, "behind.tif", 280, 420);
    for (const char* name :
         {"grape_with_path.jpg", "grape_with_path.psd", "little-endian-grape_with_path.tif"}) {
        SCOPED_TRACE(name);
        const clip::ReadResult paths = clip::ReadClippingPaths(folder + "/" + name);
        ASSERT_TRUE(paths.ok && paths.list.ClippingPath() != nullptr) << paths.error;
        // The grapes, on white, in front of a picture that fills the page; 400 points high.
        const auto db = NewDocument(300, 440);
        const UIDRef behind = Place(db.get(), 0, waves, PMRect(10, 10, 290, 430));
        const UIDRef image = Place(db.get(), 0, folder + "/" + name, PMRect(20, 20, 280, 420));
        const double s = 400 / Box(image).Height();
        Transform(image, [&](ITransform& t) { EXPECT_TRUE(t.SetScale(s, s)); });
        // The box of the path's anchors on the page (the image is only scaled and moved).
        const clip::Box a = clip::AnchorBounds(*paths.list.ClippingPath());
        const PMMatrix m = PMMatrix::MakeScale(Box(image).Width() / paths.list.width,
                                               Box(image).Height() / paths.list.height) *
                           ToPage(image);
        const PMRect anchors(m.TransformedPoint({a.x0, a.y0}), m.TransformedPoint({a.x1, a.y1}));
        const VImage outside = Within(300, 440, TransformedBounds(Box(image), ToPage(image))) &
                               (Within(300, 440, Grown(anchors, 2)) == 0);
        render::DrawReport report;
        const VImage drawn = DrawnPage(db.get(), 0, dir, report);
        const VImage both = ExpectedPage(db.get(), 0, {behind, image});
        const VImage back = ExpectedPage(db.get(), 0, {behind});
        EXPECT_LT(MeanOver((drawn - back).abs(), outside), kSameRender);
        EXPECT_GT(MeanOver((both - back).abs(), outside), kSameRender) << "nothing to see there";
        const VImage grapes = Within(300, 440, Grown(anchors, -2)) &
                              (ExpectedPage(db.get(), 0, {image}) < 250).bandor();
        EXPECT_LT(MeanOver((drawn - both).abs(), grapes), 5.0); // a photo brought down: 3 to 4
        EXPECT_EQ(std::tuple(report.imagesDrawn, report.problems.size()), std::tuple(2, 0u));
    }
}

// An EPS through Ghostscript, and a JPEG-compressed YCbCr TIFF that libvips
// does not read, through libtiff.
TEST_F(RenderTest, RealEpsAndYCbCrTiffAreDrawn) {
    for (const char* name :
         {"eps-photoshop-binary-tiff-preview.eps", "tiff-ycbcr-jpeg-75dpi.tif"}) {
        SCOPED_TRACE(name);
        const std::string file = SharedTestData() + "/images/" + name;
        if (SharedTestData().empty() || !PathExists(file) || render::GhostscriptProgram().empty()) {
            GTEST_SKIP() << "needs the shared test images and Ghostscript";
        }
        const auto db = NewDocument(300, 300);
        Place(db.get(), 0, file, PMRect(40, 30, 240, 270), {.scale = 0.5});
        render::DrawReport report;
        const VImage drawn = DrawnPage(db.get(), 0, dir, report).extract_area(40, 30, 200, 240);
        EXPECT_EQ(std::tuple(report.imagesDrawn, report.problems.size()), std::tuple(1, 0u));
        EXPECT_GT((drawn < 240).bandor().avg(), 0.2 * 255) << "the picture covers a good part";
    }
}

// An OPI placeholder shows its own preview, or, when asked, the high-resolution file it names.
TEST_F(RenderTest, AnOpiPlaceholderShowsItsHighResolutionFileWhenAsked) {
    WriteSampleFiles(dir / "samples");
    auto page = [&](const std::string& file, bool highResolution) {
        const auto db = NewDocument(300, 200);
        Place(db.get(), 0, dir / ("samples/" + file), PMRect(20, 20, 236, 164), {});
        render::OutputReport report;
        render::PngOptions options;
        options.opiHighResolution = highResolution;
        EXPECT_TRUE(render::WritePng(db.get(), options, dir / "opi.png", true, report));
        EXPECT_EQ(std::tuple(report.drawing.imagesDrawn, report.drawing.problems.size()),
                  std::tuple(1, 0u));
        return ReadRgb(dir / "opi.png").copy_memory();
    };
    const VImage highResolution = page("opi-hires.tif", false);
    EXPECT_LT((page("opi-lowres.eps", true) - highResolution).abs().avg(), kSameRender);
    EXPECT_GT((page("opi-lowres.eps", false) - highResolution).abs().avg(), kSameRender);
}

TEST_F(RenderTest, FilesThatCannotBeReadAreReportedAndTheRestIsDrawn) {
    const auto db = NewDocument(320, 240);
    Place(db.get(), 0, Picture(dir, "good.tif", 100, 60), PMRect(20, 20, 120, 80));
    samples::WriteEps(dir / "broken.eps", {{40, 30, 1}, 80, 60, "", "", samples::Flat(90)});
    Place(db.get(), 0, dir / "broken.eps", PMRect(20, 120, 100, 180));
    Place(db.get(), 0, Picture(dir, "spoilt.tif", 80, 60), PMRect(140, 20, 220, 80));
    Place(db.get(), 0, Picture(dir, "gone.tif", 80, 60), PMRect(140, 120, 220, 180));
    WriteFile(dir / "broken.eps", "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 80 60\nnosuchop\n");
    WriteFile(dir / "spoilt.tif", Pattern(3000));
    std::remove((dir / "gone.tif").c_str());
    render::DrawReport report;
    const VImage drawn = DrawnPage(db.get(), 0, dir, report);
    ASSERT_EQ(std::tuple(report.imagesDrawn, report.problems.size()), std::tuple(1, 3u));
    for (int i = 0; const char* name : {"broken.eps", "spoilt.tif", "gone.tif"}) {
        EXPECT_TRUE(report.problems[i++].starts_with(std::string("cannot show ") + name + ": "));
    }
    EXPECT_LT(MeanOver(drawn, Within(320, 240, PMRect(140, 20, 220, 80))), 254.5)
        << "no crossed box where the image would be";
}

// The cache gives the pixels read before until the file changes, keeps
// within its budget, and never keeps a failure.
TEST_F(RenderTest, TheRasterCacheReadsAFileAgainOnlyWhenItChanged) {
    const std::string a = Picture(dir, "a.tif", 100, 60), b = Picture(dir, "b.tif", 100, 60);
    const render::RasterRequest request{50, 30};
    const std::size_t one = 50 * 30 * 4; // an RGB24 surface: 4 bytes a pixel, no padding
    render::RasterCache cache(2 * one);
    auto read = [&](const std::string& path) { return cache.Read(path, request); };
    const render::Raster first = read(a);
    EXPECT_EQ(read(a).pixels.get(), first.pixels.get());
    EXPECT_EQ(std::pair(cache.Hits(), cache.Misses()), std::pair(1, 1));
    EXPECT_NE(cache.Read(a, {25, 15}).pixels.get(), first.pixels.get()); // another size
    read(b); // all three would pass the budget: the least recently used goes
    EXPECT_EQ(cache.Bytes(), one + one / 4);
    read(b);
    read(a);
    EXPECT_EQ(std::pair(cache.Hits(), cache.Misses()), std::pair(2, 4));
    Picture(dir, "b.tif", 80, 60); // the file changes: read again
    EXPECT_EQ(read(b).fileWidth, 80);
    EXPECT_EQ(cache.Misses(), 5);
    std::remove(b.c_str());
    EXPECT_FALSE(read(b).pixels);
    Picture(dir, "b.tif", 100, 60); // back: read, not a kept failure
    EXPECT_EQ(read(b).fileWidth, 100);
}

TEST_F(RenderTest, TwoPagesPassQpdfLookAsTheirPngsAndHoldTheirImagesAtTheAskedResolution) {
    if (RunTool("command -v qpdf pdftoppm pdfimages").first != 0) {
        GTEST_SKIP() << "needs qpdf, and pdftoppm and pdfimages of poppler";
    }
    const auto db = NewDocument(300, 200, 2);
    // 288 pixels per inch on the page: brought down to 100; 90: kept as they are.
    Place(db.get(), 0, Picture(dir, "fine.tif", 400, 300, 288), PMRect(30, 30, 150, 130),
          {.rotate = 10});
    Place(db.get(), 1, Picture(dir, "coarse.jpg", 150, 100, 72, 1), PMRect(50, 40, 250, 160),
          {.scale = 0.8});
    render::PdfSettings settings;
    settings.imageResolution = 100;
    settings.downsampleAbove = 150;
    const std::string pdf = dir / "pages.pdf";
    render::OutputReport report;
    ASSERT_TRUE(render::WritePdf(db.get(), settings, pdf, false, report)) << report.error;
    EXPECT_EQ(report.drawing.imagesDrawn, 2);
    EXPECT_EQ(RunTool("qpdf --check " + pdf).first, 0);

    // The PNG pictures draw the boundary of the page, a PDF leaves it out.
    ASSERT_TRUE(render::WritePng(db.get(), {}, dir / "page.png", false, report)) << report.error;
    for (const std::string page : {"1", "2"}) {
        RunTool("pdftoppm -r 72 -png -singlefile -f " + page + " -l " + page + " " + pdf + " " +
                dir / "poppler");
        const VImage diff = ReadRgb(dir / "poppler.png") - ReadRgb(dir / ("page-" + page + ".png"));
        EXPECT_LT(MeanOver(diff.abs(), Within(300, 200, PMRect(2, 2, 298, 198))), kSameRender);
    }
    EXPECT_TRUE(Listed(pdf, 1, "rgb", 100) && Listed(pdf, 2, "rgb", 90))
        << RunTool("pdfimages -list " + pdf).second;
    if (render::DefaultCmykProfile().empty()) {
        GTEST_SKIP() << "no CMYK profile for the CMYK output";
    }
    settings.colour = render::ColourOutput::kCmyk;
    ASSERT_TRUE(render::WritePdf(db.get(), settings, pdf, true, report)) << report.error;
    EXPECT_EQ(RunTool("qpdf --check " + pdf).first, 0);
    EXPECT_TRUE(Listed(pdf, 1, "cmyk", 100) && Listed(pdf, 2, "cmyk", 90))
        << RunTool("pdfimages -list " + pdf).second;
}

TEST_F(RenderTest, AFileThatIsThereIsReplacedOnlyWhenAsked) {
    const auto db = NewDocument(200, 100, 2);
    Place(db.get(), 1, Picture(dir, "waves.tif", 100, 60), PMRect(20, 20, 120, 80));
    // The file asked for, the one that is there, the last page (0: the document's).
    const std::tuple<std::string, std::string, int32_t> cases[] = {
        {"one.png", "one.png", 1}, {"doc.pdf", "doc.pdf", 0}, {"two.png", "two-2.png", 0}};
    for (const auto& [asked, there, last] : cases) {
        auto write = [&](bool replace, render::OutputReport& r) {
            const render::PngOptions png{.pages = {1, last}};
            return asked.ends_with(".pdf")
                       ? render::WritePdf(db.get(), {}, dir / asked, replace, r)
                       : render::WritePng(db.get(), png, dir / asked, replace, r);
        };
        WriteFile(dir / there, "keep me");
        render::OutputReport report, replaced;
        EXPECT_FALSE(write(false, report)) << asked;
        EXPECT_EQ(std::tuple(report.error.empty(), ReadFile(dir / there)),
                  std::tuple(false, "keep me"));
        EXPECT_TRUE(write(true, replaced)) << replaced.error;
        EXPECT_NE(ReadFile(dir / there), "keep me") << asked;
    }
}

TEST(PdfSettingsTest, RefusedNamingTheKeyOrReadInFullAndPageRanges) {
    const std::pair<std::string, std::string> refused[] = {
        {"Resolution", "<integer>300</integer>"},    {"ImageResolution", "<string>300</string>"},
        {"ImageResolution", "<integer>0</integer>"}, {"ImageResolution", "<real>-72</real>"},
        {"PageRange", "<string>5-2</string>"},       {"ColorOutput", "<string>Purple</string>"},
        {"JPEGQuality", "<integer>101</integer>"},   {"CropMarks", "<string>yes</string>"}};
    for (const auto& [key, value] : refused) {
        const plist::ReadResult read =
            plist::ReadXml("<dict><key>" + key + "</key>" + value + "</dict>");
        render::PdfSettings settings;
        std::string error;
        EXPECT_FALSE(render::SettingsFromPList(read.value, settings, &error)) << key << value;
        EXPECT_NE(error.find(key), std::string::npos) << key << value << ": " << error;
    }
    // Every key of a full settings file.
    const TempDir dir;
    WriteFile(dir / "full.plist", R"(<plist><dict><key>PageRange</key><string>2-5</string>
<key>ImageResolution</key><integer>150</integer><key>DownsampleAbove</key><real>225.5</real>
<key>ImageCompression</key><string>Flate</string><key>JPEGQuality</key><integer>70</integer>
<key>ColorOutput</key><string>CMYK</string><key>OutputProfile</key><string>press.icc</string>
<key>Bleed</key><real>9</real><key>CropMarks</key><true/><key>Badges</key><true/>
<key>FrameEdges</key><true/><key>OPIHighResolution</key><true/><key>Title</key><string>T</string>
<key>Author</key><string>A</string><key>Subject</key><string>S</string>
<key>Keywords</key><string>K</string><key>Creator</key><string>C</string></dict></plist>)");
    render::PdfSettings s;
    std::string error;
    ASSERT_TRUE(render::LoadPdfSettings(dir / "full.plist", s, &error)) << error;
    EXPECT_EQ(std::tuple(s.pages.first, s.pages.last, s.imageResolution, s.downsampleAbove,
                         s.compression, s.jpegQuality, s.colour, s.outputProfile, s.bleed),
              std::tuple(2, 5, 150.0, 225.5, render::ImageCompression::kFlate, 70,
                         render::ColourOutput::kCmyk, "press.icc", 9.0));
    EXPECT_EQ(std::tuple(s.cropMarks, s.badges, s.frameEdges, s.opiHighResolution, s.title,
                         s.author, s.subject, s.keywords, s.creator),
              std::tuple(true, true, true, true, "T", "A", "S", "K", "C"));
    // Page ranges: the pages read, or 0 0 for a text refused.
    const std::tuple<const char*, int32_t, int32_t> cases[] = {
        {"3", 3, 3}, {"2-5", 2, 5}, {"4-", 4, 0},  {"All", 1, 0},  {"7-7", 7, 7},
        {"", 0, 0},  {"0", 0, 0},   {"-3", 0, 0},  {"5-2", 0, 0},  {"2-5-7", 0, 0},
        {"x", 0, 0}, {"1.5", 0, 0}, {"3-0", 0, 0}, {"2 - 5", 0, 0}};
    for (const auto& [text, first, last] : cases) {
        render::PageRange range;
        error.clear();
        const bool ok = render::ParsePageRange(text, range, &error);
        EXPECT_EQ(std::tuple(ok ? range.first : 0, ok ? range.last : 0, error.empty()),
                  std::tuple(first, last, first > 0))
            << text;
    }
}

} // namespace
