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

} // namespace
