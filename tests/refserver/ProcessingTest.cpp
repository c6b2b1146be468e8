// What the server makes of a ticket: placement geometry, colour conversion,
// output format, names and the processing mark, checked on the files written
// (with libvips and with the client's own image readers).
#include "RefServerTestKit.h"

#include "IMG_OpenImageFile.h"
#include "ProcessingMark.h"
#include "QOR_Configuration.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <tuple>
#include <utility>
#include <vector>

namespace fs = std::filesystem;
using namespace std::string_literals;
using vips::VImage;

namespace {

VImage WithoutIcc(VImage image) {
    image = image.copy();
    image.remove(VIPS_META_ICC_NAME);
    return image;
}

// The size of the ICC profile a file carries, 0 for none.
std::size_t IccSize(const std::string& path) {
    const VImage image = VImage::new_from_file(path.c_str());
    std::size_t size = 0;
    if (image.get_typeof(VIPS_META_ICC_NAME) != 0) {
        image.get_blob(VIPS_META_ICC_NAME, &size);
    }
    return size;
}

// The colour at the fractions fx, fy (below 1) of the image; gray is one level in all three.
Rgb PixelAt(const VImage& image, double fx, double fy) {
    const std::vector<double> p =
        image.getpoint(static_cast<int>(fx * image.width()), static_cast<int>(fy * image.height()));
    const auto at = [&](std::size_t i) { return static_cast<int>(p.at(p.size() < 3 ? 0 : i)); };
    return {at(0), at(1), at(2)};
}

struct GeometryCase {
    const char* label;
    double angle;
    int flipGD, flipHB;
    double scale;
    double top, left, width, height; // inches
    int expectWidth, expectHeight;   // pixels at 40 ppi
    std::array<Rgb, 4> corners;      // top left, top right, bottom left, bottom right
};

// The plug-in sends the layout's turn negated: 90 turns clockwise.
const GeometryCase kGeometry[] = {
    {"as placed", 0, 0, 0, 1, 0, 0, 1, 0.5, 40, 20, {kRed, kGreen, kBlue, kYellow}},
    {"rotated 90", 90, 0, 0, 1, 0, 0, 0.5, 1, 20, 40, {kBlue, kRed, kYellow, kGreen}},
    {"rotated -90", -90, 0, 0, 1, 0, 0, 0.5, 1, 20, 40, {kGreen, kYellow, kRed, kBlue}},
    {"rotated 180", 180, 0, 0, 1, 0, 0, 1, 0.5, 40, 20, {kYellow, kBlue, kGreen, kRed}},
    {"both mirrors", 0, 1, 1, 1, 0, 0, 1, 0.5, 40, 20, {kYellow, kBlue, kGreen, kRed}}, // 180
    {"mirrored left to right", 0, 1, 0, 1, 0, 0, 1, 0.5, 40, 20, {kGreen, kRed, kYellow, kBlue}},
    {"mirrored top to bottom", 0, 0, 1, 1, 0, 0, 1, 0.5, 40, 20, {kBlue, kYellow, kRed, kGreen}},
    {"half size", 0, 0, 0, 0.5, 0, 0, 0.5, 0.25, 20, 10, {kRed, kGreen, kBlue, kYellow}},
    {"double size", 0, 0, 0, 2, 0, 0, 2, 1, 80, 40, {kRed, kGreen, kBlue, kYellow}},
    {"right half", 0, 0, 0, 1, 0, 0.5, 0.5, 0.5, 20, 20, {kGreen, kGreen, kYellow, kYellow}},
    {"crop after 90", 90, 0, 0, 1, 0.5, 0, 0.5, 0.5, 20, 20, {kYellow, kGreen, kYellow, kGreen}},
    {"wider frame", 0, 0, 0, 1, 0, -0.5, 1.5, 0.5, 60, 20, {kWhite, kGreen, kWhite, kYellow}}};

// The source is 80 x 40 pixels at 80 ppi: 1 x 0.5 inch, red, green / blue, yellow.
// Each case writes an output of its own: no image read before can stand in for it.
TEST(RefServerGeometry, QuadrantsLandInTheRightCornersAtTheRightSize) {
    ServerSandbox box;
    TicketFields f = QuadrantTicket(box);
    int n = 0;
    for (const GeometryCase& c : kGeometry) {
        SCOPED_TRACE(c.label);
        f.pathOut = box.Images() + "/out" + std::to_string(n++);
        std::tie(f.angle, f.flipGD, f.flipHB, f.scaleX, f.scaleY) =
            std::tie(c.angle, c.flipGD, c.flipHB, c.scale, c.scale);
        std::tie(f.top, f.left, f.width, f.height) = std::tie(c.top, c.left, c.width, c.height);
        const VImage out = VImage::new_from_file(box.Run(f).outputPath);
        EXPECT_EQ(std::pair(out.width(), out.height()), std::pair(c.expectWidth, c.expectHeight));
        const std::array<Rgb, 4> corners = {PixelAt(out, 0.25, 0.25), PixelAt(out, 0.75, 0.25),
                                            PixelAt(out, 0.25, 0.75), PixelAt(out, 0.75, 0.75)};
        EXPECT_EQ(corners, c.corners);
    }
}

// Each job reads its own file, even where libvips keeps earlier loads: the
// jobs read through descriptors whose names come again for other files.
TEST(RefServerGeometry, EachJobReadsItsOwnFileWhateverLibvipsCaches) {
    ServerSandbox box;
    vips_cache_set_max(100);
    for (const int level : {30, 120, 220}) {
        TicketFields f = QuadrantTicket(box, "q" + std::to_string(level) + ".tif");
        const VImage flat = VImage::black(80, 40, VImage::option()->set("bands", 3)) + level;
        SaveTiff(flat.cast(VIPS_FORMAT_UCHAR), VIPS_INTERPRETATION_sRGB, 80, f.pathIn);
        f.pathOut = box.Images() + "/o" + std::to_string(level);
        EXPECT_NEAR(VImage::new_from_file(box.Run(f).outputPath).avg(), level, 1.0);
    }
}

// Every option of each input kind (ConfigOutcome checks the client's table by hand):
// the model written is the one the client predicts; no prediction, an error reply.
// Gray correction stretches a low contrast image; an option left to the profile
// is the profile's ("Newsprint CMYK" makes RGB images CMYK).
TEST(RefServerColour, ModelAsPredictedCorrectionStretchesAndTheProfileChoosesALeftOption) {
    const struct {
        ImageKind input;
        int bands;
        VipsInterpretation interpretation;
        std::vector<int> options;
    } kinds[] = {{ImageKind::gray, 1, VIPS_INTERPRETATION_B_W, {0, 1, 4, 5, 2}},
                 {ImageKind::rgb, 3, VIPS_INTERPRETATION_sRGB, {0, 1, 2, 3, 4, 5, 6, 7, 8}},
                 {ImageKind::cmyk, 4, VIPS_INTERPRETATION_CMYK, {0, 1, 2, 5, 6, 3}}};
    ServerSandbox box;
    TicketFields f{.profile = "General"};
    int n = 0;
    for (const auto& k : kinds) {
        for (const int option : k.options) {
            const int kind = static_cast<int>(k.input);
            SCOPED_TRACE(testing::Message() << "kind " << kind << ", option " << option);
            f.pathIn = box.Images() + "/flat" + std::to_string(++n) + ".tif";
            f.pathOut = box.Images() + "/out" + std::to_string(n);
            f.processOpt = option;
            SaveTiff(VImage::black(40, 20, VImage::option()->set("bands", k.bands)) + 120,
                     k.interpretation, 40, f.pathIn);
            QOR_ColorCorrectionOptions options;
            options.valid = 1;
            options.modes[kind] = option;
            const int outcome = ProcessOutcome(options, kind);
            if (outcome == 0) {
                EXPECT_NE(std::string(box.Run(f, -2).message).find("does not apply"),
                          std::string::npos);
                continue;
            }
            auto reader = IMG_OpenImageFile(box.Run(f).outputPath, "r", false);
            ASSERT_NE(reader, nullptr);
            EXPECT_EQ(IMG_ColourModelOf(reader->GetImageInfo()->pixelType),
                      outcome == 10  ? kImgModelGray
                      : outcome == 1 ? kImgModelRGB
                                     : kImgModelCMYK);
        }
    }
    f.pathIn = box.Images() + "/dull.tif";
    f.pathOut = box.Images() + "/bright";
    f.processOpt = 1;
    SaveTiff( // left half level 100, right half level 150
        (VImage::black(20, 20) + 100).join(VImage::black(20, 20) + 150, VIPS_DIRECTION_HORIZONTAL),
        VIPS_INTERPRETATION_B_W, 40, f.pathIn);
    const VImage out = VImage::new_from_file(box.Run(f).outputPath);
    EXPECT_EQ(std::pair(PixelAt(out, 0.25, 0.5).r, PixelAt(out, 0.75, 0.5).r), std::pair(0, 255));
    f.pathIn = box.Images() + "/rgb.tif";
    f.pathOut = box.Images() + "/news";
    f.processOpt = -1;
    f.profile = "Newsprint CMYK";
    SaveTiff(VImage::black(40, 20, VImage::option()->set("bands", 3)) + 128,
             VIPS_INTERPRETATION_sRGB, 40, f.pathIn);
    EXPECT_EQ(VImage::new_from_file(box.Run(f).outputPath).bands(), 4);
}

TEST(RefServerOutput, MarkBytesFollowTheTagLayout) {
    const std::string bytes = ProcessingMarkBytes(3, "P2 General");
    ASSERT_EQ(bytes.size(), 18u);
    EXPECT_EQ(std::pair(bytes.substr(0, 4), bytes.substr(6, 2)), std::pair("KRYO"s, "\3\n"s));
    EXPECT_EQ(ProcessingMarkBytes(1, std::string(300, 'x')).size(), 8u + 127u);
}

TEST(RefServerOutput, JpegProfilePrefixOverwriteAndDeletingTheSource) {
    ServerSandbox box;
    TicketFields f = QuadrantTicket(box);
    f.profile = "Web RGB";
    f.res = 96;
    const std::string jpeg = box.Run(f).outputPath;
    EXPECT_EQ(fs::path(jpeg).extension(), ".jpg");
    EXPECT_NE(box.log.str().find("outcome=finish ms="), std::string::npos);
    auto reader = IMG_OpenImageFile(jpeg.c_str(), "r", false);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->GetFormatCode(), kImgFormatJpeg);
    EXPECT_NEAR(reader->GetImageInfo()->resolution, 96.0, 0.5);

    // An existing target is never overwritten unless the ticket asks for it.
    f = {.pathIn = f.pathIn, .pathOut = box.Images() + "/Photo", .prefix = "BRT"};
    EXPECT_EQ(std::string(box.Run(f).outputPath), box.Images() + "/BRTPhoto.tif");

    f.overwrite = 0; // the target exists: another name and a warning
    EXPECT_EQ(std::string(box.Run(f, -1).outputPath), box.Images() + "/BRTPhoto-1.tif");

    f.overwrite = 1;
    EXPECT_EQ(std::string(box.Run(f).outputPath), box.Images() + "/BRTPhoto.tif");

    f.delSrc = 1;
    EXPECT_TRUE(PathExists(box.Run(f).outputPath));
    EXPECT_FALSE(PathExists(f.pathIn));
}

// Two servers may pick one free name at once: the one that moves its output
// second takes the next name.
TEST(RefServerOutput, AFileThatAppearsAtTheTargetMeanwhileIsNotReplaced) {
    ServerSandbox box;
    TicketFields f = QuadrantTicket(box);
    f.pathOut = box.Images() + "/Photo";
    f.overwrite = 0;
    JobTicket ticket;
    std::string error;
    ASSERT_TRUE(ParseTicket(TicketText(f), ticket, error)) << error;
    const std::string other = box.Images() + "/Photo.tif";
    OutputSteps steps;
    steps.tag = "t";
    int calls = 0;
    steps.beforeMove = [&](const JobResult& planned, const std::string& part, std::string&) {
        EXPECT_TRUE(PathExists(part));
        if (calls++ == 0) {
            EXPECT_EQ(planned.outputPath, other);
            WriteFile(other, "another server's output");
        }
        return true;
    };
    JobResult result = ProcessTicket(box.server.Folders(), ticket, steps);
    EXPECT_EQ(result.status, ReplyStatus::warning) << result.message;
    EXPECT_EQ(result.outputPath, box.Images() + "/Photo-1.tif");
    EXPECT_EQ(ReadFile(other), "another server's output");
    EXPECT_EQ(FolderNames(box.Images()),
              (std::vector<std::string>{"Photo-1.tif", "Photo.tif", "quad.tif"}));
}

// No output folder: the output goes beside its source, under the source's
// own name, and must never land on the source. The reason libvips gives for
// an input it cannot read reaches the reply, and only that job's reply.
TEST(RefServerOutput, NeverOnItsSourceAndTheReasonOfLibvipsReachesOnlyItsOwnJob) {
    ServerSandbox box;
    for (const int overwrite : {0, 1}) {
        SCOPED_TRACE(overwrite);
        const std::string name = "quad" + std::to_string(overwrite);
        TicketFields f = QuadrantTicket(box, name + ".tif");
        const std::string before = ReadFile(f.pathIn);
        f.pathOut = fs::path(f.pathIn).replace_extension().string();
        f.overwrite = overwrite;
        EXPECT_EQ(std::string(box.Run(f, -1).outputPath), box.Images() + "/" + name + "-1.tif");
        EXPECT_EQ(ReadFile(f.pathIn), before);
    }
    TicketFields f = QuadrantTicket(box);
    for (const auto& [name, other] :
         {std::pair("bad-one.tif", "bad-two.tif"), std::pair("bad-two.tif", "bad-one.tif")}) {
        f.pathIn = box.Images() + "/" + name;
        WriteFile(f.pathIn, "II*\0 not really a TIFF");
        const std::string message = box.Run(f, -2).message;
        EXPECT_NE(message.find("cannot be read: " + f.pathIn + " ("), std::string::npos) << message;
        EXPECT_EQ(message.find("no reason given"), std::string::npos) << message;
        EXPECT_EQ(message.find('\n'), std::string::npos) << message;
        EXPECT_EQ(message.find(other), std::string::npos) << message;
    }
}

// An EPS of 1 x 0.5 inch: red on the left, green on the right, drawn in RGB.
const char* const kTwoHalvesEps = "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 72 36\n"
                                  "%%EndComments\n1 0 0 setrgbcolor 0 0 36 36 rectfill\n"
                                  "0 1 0 setrgbcolor 36 0 36 36 rectfill\n%%EOF\n";

// Ghostscript renders EPS and PostScript at the ticket's resolution over the
// bounding box; a file it cannot render, or one that reaches for other files
// (refused by -dSAFER), is an error and leaves nothing behind.
TEST(RefServerPostScript, RenderedAtTheTicketsResolutionOrRefused) {
    ServerSandbox box;
    TicketFields f{.pathIn = box.Images() + "/halves.eps", .pathOut = box.Images() + "/out"};
    WriteFile(f.pathIn, kTwoHalvesEps);
    for (const double scale : {1.0, 2.0}) {
        std::tie(f.scaleX, f.scaleY, f.width, f.height) = std::tie(scale, scale, scale, scale);
        f.height /= 2;
        const VImage out = VImage::new_from_file(box.Run(f).outputPath);
        EXPECT_EQ(std::pair(out.width(), out.height()),
                  std::pair(int(40 * scale), int(20 * scale)));
        EXPECT_EQ(std::pair(PixelAt(out, 0.2, 0.5), PixelAt(out, 0.8, 0.5)),
                  std::pair(kRed, kGreen));
    }
    const std::string outside = box.Images() + "/written-by-gs";
    for (const std::string& body :
         {"%!PS\n/x y z\n"s, "%!PS\n(" + outside + ") (w) file (x) writestring\nshowpage\n"}) {
        f.pathIn = box.Images() + "/bad.ps";
        WriteFile(f.pathIn, body);
        EXPECT_NE(std::string(box.Run(f, -2).message).find("Ghostscript"), std::string::npos);
        EXPECT_FALSE(PathExists(outside));
    }
}

// A profile with OPI results writes, besides the output, a placeholder into
// its low-resolution folder that the client's OPI reader takes, naming the
// output; without a low-resolution folder no placeholder is written.
TEST(RefServerOpi, PlaceholderNamesTheHighResolutionFile) {
    ServerSandbox box;
    TicketFields f = QuadrantTicket(box);
    f.profile = "OPI";
    f.res = 144;
    const std::string out = box.Run(f).outputPath;
    const std::string low = box.Root() + "/Data/lowres/" + fs::path(out).filename().string();
    auto reader = IMG_OpenImageFile(low.c_str(), "r", true);
    ASSERT_NE(reader, nullptr);
    EXPECT_STREQ(reader->ReaderName(), "Proxy_EPS_OPI");
    EXPECT_STREQ(reader->LinkedName(), out.c_str());
    EXPECT_EQ(IMG_ColourModelOf(reader->GetImageInfo()->pixelType), kImgModelRGB);
    const IMG_ImageInfo& info = *reader->GetImageInfo();
    EXPECT_NEAR(info.width / info.resolution, 1.0, 0.02); // the output's width in inches
    fs::remove_all(box.Root() + "/Data/lowres");
    EXPECT_NE(std::string(box.Run(f, -1).message).find("low-resolution folder does not exist"),
              std::string::npos);
}

const std::string kGsIcc = "/usr/share/color/icc/ghostscript/";

// Mean and largest difference of two images of one size, in levels.
std::pair<double, double> Difference(const VImage& a, const VImage& b) {
    const VImage d = (a.cast(VIPS_FORMAT_INT) - b.cast(VIPS_FORMAT_INT)).abs();
    return {d.avg(), d.max()};
}

// RGB to CMYK and back through the profile's ICC profiles (Ghostscript's),
// against lcms's own tificc given the same profiles, on a chart of known Lab
// values; embedded profiles are honoured and kept; a 16-bit gradient is
// converted before it is reduced to 8 bits, so no level is skipped.
TEST(RefServerColour, IccTransformsMatchTificcKeepProfilesAndDoNotBand) {
    if (!PathExists(kGsIcc + "default_cmyk.icc") ||
        std::system("command -v tificc > /dev/null 2>&1") != 0) {
        GTEST_SKIP() << "needs Ghostscript's ICC profiles and tificc (liblcms2-utils)";
    }
    ServerSandbox box;
    std::vector<float> lab;
    for (double l : {25, 50, 75})
        for (double a : {-40, 0, 40})
            for (double b : {-40, 0, 40})
                lab.insert(lab.end(), {float(l), float(a), float(b)});
    const VImage chart =
        VImage::new_from_memory(lab.data(), lab.size() * 4, 9, 3, 3, VIPS_FORMAT_FLOAT)
            .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_LAB))
            .zoom(8, 8)
            .icc_export(VImage::option()->set("output_profile", (kGsIcc + "srgb.icc").c_str()));
    TicketFields f{.pathIn = box.Images() + "/chart.tif", .pathOut = box.Images() + "/cmyk"};
    std::tie(f.width, f.height, f.processOpt) = std::tuple(72.0 / 40, 24.0 / 40, 4);
    SaveTiff(WithoutIcc(chart), VIPS_INTERPRETATION_sRGB, 40, f.pathIn);
    const std::string cmyk = box.Run(f).outputPath;
    const std::string flags = " -t0 -b -i" + kGsIcc;
    ASSERT_EQ(std::system(("tificc" + flags + "srgb.icc -o" + kGsIcc + "default_cmyk.icc " +
                           f.pathIn + " " + box.Images() + "/lcms-cmyk.tif > /dev/null")
                              .c_str()),
              0);
    const auto [meanC, maxC] =
        Difference(VImage::new_from_file(cmyk.c_str()),
                   VImage::new_from_file((box.Images() + "/lcms-cmyk.tif").c_str()));
    std::tie(f.pathIn, f.pathOut, f.processOpt) = std::tuple(cmyk, box.Images() + "/rgb", 2);
    const std::string rgb = box.Run(f).outputPath;
    ASSERT_EQ(std::system(("tificc" + flags + "default_cmyk.icc -o" + kGsIcc + "srgb.icc " + cmyk +
                           " " + box.Images() + "/lcms-rgb.tif > /dev/null")
                              .c_str()),
              0);
    const auto [meanR, maxR] =
        Difference(VImage::new_from_file(rgb.c_str()),
                   VImage::new_from_file((box.Images() + "/lcms-rgb.tif").c_str()));
    std::printf("against tificc: RGB to CMYK mean %.3f max %.0f, back mean %.3f max %.0f levels\n",
                meanC, maxC, meanR, maxR);
    EXPECT_LT(meanC, 0.5);
    EXPECT_LE(maxC, 2);
    EXPECT_LT(meanR, 0.5);
    EXPECT_LE(maxR, 2);
    // The CMYK result carries the profile it was made for.
    EXPECT_EQ(IccSize(cmyk), fs::file_size(kGsIcc + "default_cmyk.icc"));

    // An embedded Adobe RGB profile is kept as it is and honoured (any colours will do).
    VImage tagged = VImage::new_from_file((box.Images() + "/lcms-rgb.tif").c_str()).copy();
    const std::string profile = ReadFile(kGsIcc + "a98.icc");
    tagged.set(VIPS_META_ICC_NAME, nullptr, const_cast<char*>(profile.data()), profile.size());
    std::tie(f.pathIn, f.pathOut, f.processOpt) =
        std::tuple(box.Images() + "/a98.tif", box.Images() + "/kept", 0);
    tagged.tiffsave(f.pathIn.c_str());
    EXPECT_EQ(IccSize(box.Run(f).outputPath), profile.size());
    std::tie(f.pathOut, f.processOpt) = std::tuple(box.Images() + "/a98-cmyk", 4);
    EXPECT_GT(Difference(VImage::new_from_file(box.Run(f).outputPath),
                         VImage::new_from_file(cmyk.c_str()))
                  .first,
              1.0);

    // 16-bit gradient, 1024 pixels: neighbouring pixels differ by one level at most.
    const VImage ramp = (VImage::xyz(1024, 8)[0] * 64).cast(VIPS_FORMAT_USHORT);
    VImage::bandjoin({ramp, ramp, ramp})
        .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_RGB16))
        .tiffsave((box.Images() + "/ramp.tif").c_str(),
                  VImage::option()->set("xres", 40 / 25.4)->set("yres", 40 / 25.4));
    std::tie(f.pathIn, f.pathOut, f.width, f.height) =
        std::tuple(box.Images() + "/ramp.tif", box.Images() + "/ramp-cmyk", 1024.0 / 40, 8.0 / 40);
    const VImage out = VImage::new_from_file(box.Run(f).outputPath).cast(VIPS_FORMAT_INT);
    const VImage step = (out.extract_area(1, 0, 1023, 8) - out.extract_area(0, 0, 1023, 8)).abs();
    EXPECT_LE(step.max(), 1.0);
}

} // namespace
