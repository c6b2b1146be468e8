// What the server makes of a ticket: placement geometry, colour conversion,
// output format, names and the processing mark, checked on the files written
// (with libvips and with the client's own image readers).
#include "RefServerTestKit.h"

#include "IMG_OpenImageFile.h"
#include "ProcessingMark.h"
#include "QOR_Configuration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>

namespace fs = std::filesystem;
using vips::VImage;

namespace {

// ---- geometry

struct GeometryCase {
    const char* label;
    double angle;
    int flipGD, flipHB;
    double scale;
    double top, left, width, height; // inches
    int expectWidth, expectHeight;   // pixels at 40 ppi
    Rgb topLeft, topRight, bottomLeft, bottomRight;
};

class Geometry : public testing::TestWithParam<GeometryCase> {};

// The source is 80 x 40 pixels at 80 ppi: 1 x 0.5 inch, red, green / blue, yellow.
TEST_P(Geometry, QuadrantsLandInTheRightCornersAtTheRightSize) {
    const GeometryCase& c = GetParam();
    ServerSandbox box;
    TicketFields f = QuadrantTicket(box);
    f.pathOut = box.Images() + "/out";
    f.angle = c.angle;
    f.flipGD = c.flipGD;
    f.flipHB = c.flipHB;
    f.scaleX = f.scaleY = c.scale;
    f.top = c.top;
    f.left = c.left;
    f.width = c.width;
    f.height = c.height;
    f.res = 40;
    QorReply reply = box.Run(f);
    ASSERT_EQ(reply.status, 0) << reply.message;

    VImage out = VImage::new_from_file(reply.outputPath);
    EXPECT_EQ(out.width(), c.expectWidth);
    EXPECT_EQ(out.height(), c.expectHeight);
    EXPECT_EQ(PixelAt(out, 0.25, 0.25), c.topLeft);
    EXPECT_EQ(PixelAt(out, 0.75, 0.25), c.topRight);
    EXPECT_EQ(PixelAt(out, 0.25, 0.75), c.bottomLeft);
    EXPECT_EQ(PixelAt(out, 0.75, 0.75), c.bottomRight);
}

INSTANTIATE_TEST_SUITE_P(
    RefServer, Geometry,
    testing::Values(
        GeometryCase{"as placed", 0, 0, 0, 1, 0, 0, 1, 0.5, 40, 20, kRed, kGreen, kBlue, kYellow},
        // The plug-in sends the layout's turn negated: 90 turns clockwise.
        GeometryCase{"rotated 90", 90, 0, 0, 1, 0, 0, 0.5, 1, 20, 40, kBlue, kRed, kYellow, kGreen},
        GeometryCase{"rotated -90", -90, 0, 0, 1, 0, 0, 0.5, 1, 20, 40, kGreen, kYellow, kRed,
                     kBlue},
        GeometryCase{"rotated 180", 180, 0, 0, 1, 0, 0, 1, 0.5, 40, 20, kYellow, kBlue, kGreen,
                     kRed},
        GeometryCase{"both mirrors (180 as sent)", 0, 1, 1, 1, 0, 0, 1, 0.5, 40, 20, kYellow, kBlue,
                     kGreen, kRed},
        GeometryCase{"mirrored left to right", 0, 1, 0, 1, 0, 0, 1, 0.5, 40, 20, kGreen, kRed,
                     kYellow, kBlue},
        GeometryCase{"mirrored top to bottom", 0, 0, 1, 1, 0, 0, 1, 0.5, 40, 20, kBlue, kYellow,
                     kRed, kGreen},
        GeometryCase{"half size", 0, 0, 0, 0.5, 0, 0, 0.5, 0.25, 20, 10, kRed, kGreen, kBlue,
                     kYellow},
        GeometryCase{"double size", 0, 0, 0, 2, 0, 0, 2, 1, 80, 40, kRed, kGreen, kBlue, kYellow},
        GeometryCase{"crop of the right half", 0, 0, 0, 1, 0, 0.5, 0.5, 0.5, 20, 20, kGreen, kGreen,
                     kYellow, kYellow},
        GeometryCase{"crop of the bottom half after 90", 90, 0, 0, 1, 0.5, 0, 0.5, 0.5, 20, 20,
                     kYellow, kGreen, kYellow, kGreen},
        GeometryCase{"frame wider than the image", 0, 0, 0, 1, 0, -0.5, 1.5, 0.5, 60, 20, kWhite,
                     kGreen, kWhite, kYellow}),
    [](const testing::TestParamInfo<GeometryCase>& info) {
        std::string name;
        for (const char* p = info.param.label; *p != '\0'; ++p) {
            name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
        }
        return name;
    });

// The plug-in sends the layout's lean negated: a positive SKEWH leans the
// top to the left.
TEST(RefServerGeometry, SkewLeansTheTopToTheLeft) {
    ServerSandbox box;
    TicketFields f = QuadrantTicket(box);
    f.pathOut = box.Images() + "/skew";
    f.skewH = 45; // the bottom edge moves half an inch to the right
    f.width = 1.5;
    f.height = 0.5;
    QorReply reply = box.Run(f);
    ASSERT_EQ(reply.status, 0) << reply.message;
    VImage out = VImage::new_from_file(reply.outputPath);
    EXPECT_EQ(out.width(), 60);
    EXPECT_EQ(out.height(), 20);
    EXPECT_EQ(PixelAt(out, 0.1, 0.05), kRed);
    EXPECT_EQ(PixelAt(out, 0.98, 0.05), kWhite);
    EXPECT_EQ(PixelAt(out, 0.02, 0.95), kWhite);
    EXPECT_EQ(PixelAt(out, 0.9, 0.95), kYellow);
}

// ---- colour

struct ColourCase {
    ImageKind input;
    int option;
    uint32_t model; // as the client's reader reports it; 0 for an error reply
};

class Colour : public testing::TestWithParam<ColourCase> {};

TEST_P(Colour, ProcessOptionGivesTheColourModelOfTheProcessTable) {
    const ColourCase& c = GetParam();
    ServerSandbox box;
    std::string in = box.Images() + "/flat.tif";
    WriteFlat(in, c.input, 40, 20, 40, 120);
    TicketFields f;
    f.pathIn = in;
    f.pathOut = box.Images() + "/out";
    f.processOpt = c.option;
    f.profile = "General";
    QorReply reply = box.Run(f);
    if (c.model == 0) {
        EXPECT_EQ(reply.status, -2);
        EXPECT_NE(std::string(reply.message).find("does not apply"), std::string::npos);
        return;
    }
    ASSERT_EQ(reply.status, 0) << reply.message;
    std::unique_ptr<Proxy_FileIOProcess> reader = IMG_OpenImageFile(reply.outputPath, "r", false);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(IMG_ColourModelOf(reader->GetImageInfo()->pixelType), c.model);

    // The client predicts the same result for a profile with this option.
    QOR_ColorCorrectionOptions options;
    options.valid = 1;
    options.modes[static_cast<int>(c.input)] = c.option;
    const int outcome = ProcessOutcome(options, static_cast<int>(c.input));
    EXPECT_EQ(outcome == 10 ? kImgModelGray : outcome == 1 ? kImgModelRGB : kImgModelCMYK, c.model);
}

INSTANTIATE_TEST_SUITE_P(
    RefServer, Colour,
    testing::Values(
        ColourCase{ImageKind::gray, 0, kImgModelGray},
        ColourCase{ImageKind::gray, 1, kImgModelGray},
        ColourCase{ImageKind::gray, 4, kImgModelCMYK},
        ColourCase{ImageKind::gray, 5, kImgModelCMYK}, ColourCase{ImageKind::gray, 2, 0},
        ColourCase{ImageKind::rgb, 0, kImgModelRGB}, ColourCase{ImageKind::rgb, 1, kImgModelGray},
        ColourCase{ImageKind::rgb, 2, kImgModelRGB}, ColourCase{ImageKind::rgb, 3, kImgModelGray},
        ColourCase{ImageKind::rgb, 4, kImgModelCMYK}, ColourCase{ImageKind::rgb, 5, kImgModelCMYK},
        ColourCase{ImageKind::rgb, 6, kImgModelCMYK}, ColourCase{ImageKind::rgb, 7, kImgModelCMYK},
        ColourCase{ImageKind::rgb, 8, 0}, ColourCase{ImageKind::cmyk, 0, kImgModelCMYK},
        ColourCase{ImageKind::cmyk, 1, kImgModelGray}, ColourCase{ImageKind::cmyk, 2, kImgModelRGB},
        ColourCase{ImageKind::cmyk, 5, kImgModelCMYK},
        ColourCase{ImageKind::cmyk, 6, kImgModelCMYK}, ColourCase{ImageKind::cmyk, 3, 0}));

TEST(RefServerColour, CorrectionStretchesALowContrastImage) {
    ServerSandbox box;
    // Left half level 100, right half level 150.
    VImage left = VImage::black(20, 20) + 100;
    VImage right = VImage::black(20, 20) + 150;
    std::string in = box.Images() + "/dull.tif";
    left.join(right, VIPS_DIRECTION_HORIZONTAL)
        .cast(VIPS_FORMAT_UCHAR)
        .copy(VImage::option()
                  ->set("interpretation", VIPS_INTERPRETATION_B_W)
                  ->set("xres", 40 / 25.4)
                  ->set("yres", 40 / 25.4))
        .tiffsave(in.c_str(), VImage::option()->set("resunit", VIPS_FOREIGN_TIFF_RESUNIT_INCH));
    TicketFields f;
    f.pathIn = in;
    f.pathOut = box.Images() + "/bright";
    f.processOpt = 1; // gray correction
    f.profile = "General";
    QorReply reply = box.Run(f);
    ASSERT_EQ(reply.status, 0) << reply.message;
    VImage out = VImage::new_from_file(reply.outputPath);
    EXPECT_EQ(PixelAt(out, 0.25, 0.5).r, 0);
    EXPECT_EQ(PixelAt(out, 0.75, 0.5).r, 255);
}

TEST(RefServerColour, ProfileChoosesTheOptionWhenTheTicketLeavesIt) {
    ServerSandbox box;
    std::string in = box.Images() + "/rgb.tif";
    WriteFlat(in, ImageKind::rgb, 40, 20, 40);
    TicketFields f;
    f.pathIn = in;
    f.pathOut = box.Images() + "/news";
    f.processOpt = -1;
    f.profile = "Newsprint CMYK"; // RGB images become CMYK
    QorReply reply = box.Run(f);
    ASSERT_EQ(reply.status, 0) << reply.message;
    EXPECT_EQ(VImage::new_from_file(reply.outputPath).bands(), 4);
}

// ---- output file

TEST(RefServerOutput, TiffRecordsResolutionAndTheMarkRecordsTheAppliedOption) {
    ServerSandbox box;
    TicketFields f = QuadrantTicket(box);
    f.pathOut = box.Images() + "/pass1";
    f.res = 150;
    f.processOpt = 2; // RGB correction
    QorReply first = box.Run(f);
    ASSERT_EQ(first.status, 0) << first.message;

    auto reader = IMG_OpenImageFile(first.outputPath, "r", false);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->GetFormatCode(), kImgFormatTiff);
    EXPECT_FLOAT_EQ(reader->GetImageInfo()->resolution, 150.0f);
    EXPECT_EQ(reader->GetProcessCount(), 2);
    EXPECT_EQ(reader->GetImageInfo()->width, 150u);

    // A second pass records its own option, not a count of passes; -1 takes
    // the profile's ("General" corrects RGB images: 2).
    f.pathIn = first.outputPath;
    f.pathOut = box.Images() + "/pass2";
    f.processOpt = 0;
    QorReply second = box.Run(f);
    ASSERT_EQ(second.status, 0) << second.message;
    auto again = IMG_OpenImageFile(second.outputPath, "r", false);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->GetProcessCount(), 0);

    f.pathIn = second.outputPath;
    f.pathOut = box.Images() + "/pass3";
    f.processOpt = -1;
    f.profile = "General";
    QorReply third = box.Run(f);
    ASSERT_EQ(third.status, 0) << third.message;
    auto byProfile = IMG_OpenImageFile(third.outputPath, "r", false);
    ASSERT_NE(byProfile, nullptr);
    EXPECT_EQ(byProfile->GetProcessCount(), 2);
}

TEST(RefServerOutput, MarkBytesFollowTheTagLayout) {
    std::string bytes = ProcessingMarkBytes(3, "P2 General");
    ASSERT_EQ(bytes.size(), 18u);
    EXPECT_EQ(bytes.substr(0, 4), "KRYO");
    EXPECT_EQ(bytes[6], 3);
    EXPECT_EQ(bytes[7], 10);
    EXPECT_EQ(ProcessingMarkBytes(1, std::string(300, 'x')).size(), 8u + 127u);
}

TEST(RefServerOutput, JpegProfileWritesAJpegWithItsResolution) {
    ServerSandbox box;
    TicketFields f = QuadrantTicket(box);
    f.pathOut = box.Images() + "/web";
    f.profile = "Web RGB";
    f.res = 96;
    QorReply reply = box.Run(f);
    ASSERT_EQ(reply.status, 0) << reply.message;
    EXPECT_EQ(fs::path(reply.outputPath).extension(), ".jpg");
    auto reader = IMG_OpenImageFile(reply.outputPath, "r", false);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->GetFormatCode(), kImgFormatJpeg);
    EXPECT_NEAR(reader->GetImageInfo()->resolution, 96.0, 0.5);
}

TEST(RefServerOutput, PrefixOverwriteAndDeletingTheSource) {
    ServerSandbox box;
    TicketFields f = QuadrantTicket(box);
    const std::string in = f.pathIn;
    f.pathOut = box.Images() + "/Photo";
    f.prefix = "BRT";

    QorReply first = box.Run(f);
    ASSERT_EQ(first.status, 0) << first.message;
    EXPECT_EQ(std::string(first.outputPath), box.Images() + "/BRTPhoto.tif");

    f.overwrite = 0; // the target exists: another name and a warning
    QorReply second = box.Run(f);
    EXPECT_EQ(second.status, -1) << second.message;
    EXPECT_EQ(std::string(second.outputPath), box.Images() + "/BRTPhoto-1.tif");

    f.overwrite = 1;
    QorReply third = box.Run(f);
    EXPECT_EQ(third.status, 0) << third.message;
    EXPECT_EQ(std::string(third.outputPath), box.Images() + "/BRTPhoto.tif");

    f.delSrc = 1;
    QorReply fourth = box.Run(f);
    EXPECT_EQ(fourth.status, 0) << fourth.message;
    EXPECT_FALSE(PathExists(in));
    EXPECT_TRUE(PathExists(fourth.outputPath));
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
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(box.Images())) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Photo-1.tif", "Photo.tif", "quad.tif"}));
}

TEST(RefServerOutput, AnOutputThatWouldLandOnItsSourceTakesAnotherName) {
    // No output folder: the output goes beside its source, under the
    // source's own name.
    for (const int overwrite : {0, 1}) {
        ServerSandbox box;
        TicketFields f = QuadrantTicket(box);
        const std::string in = f.pathIn;
        const std::string before = ReadFile(in);
        f.pathOut = fs::path(in).replace_extension().string();
        f.overwrite = overwrite;
        QorReply reply = box.Run(f);
        EXPECT_EQ(reply.status, -1) << reply.message;
        EXPECT_EQ(std::string(reply.outputPath), box.Images() + "/quad-1.tif");
        EXPECT_EQ(ReadFile(in), before) << "overwrite " << overwrite;
    }
}

TEST(RefServerOutput, TheReasonOfLibvipsReachesTheReplyAndOnlyItsOwnJob) {
    ServerSandbox box;
    TicketFields f = QuadrantTicket(box);
    std::string previous;
    f.pathOut = box.Images() + "/Photo";
    for (const char* name : {"bad-one.tif", "bad-two.tif"}) {
        f.pathIn = box.Images() + "/" + name;
        WriteFile(f.pathIn, "II*\0 not really a TIFF");
        const QorReply reply = box.Run(f);
        const std::string message = reply.message;
        EXPECT_EQ(reply.status, -2);
        EXPECT_NE(message.find("cannot be read: " + f.pathIn + " ("), std::string::npos) << message;
        EXPECT_EQ(message.find("no reason given"), std::string::npos) << message;
        EXPECT_EQ(message.find('\n'), std::string::npos) << message;
        if (!previous.empty()) {
            EXPECT_EQ(message.find(previous), std::string::npos) << message;
        }
        previous = name;
    }
}

TEST(RefServerOutput, ReplacingTheOriginalWritesOverIt) {
    ServerSandbox box;
    TicketFields f = QuadrantTicket(box);
    const std::string in = f.pathIn;
    f.pathOut = in; // "replace original image by processed image"
    f.overwrite = 0;
    f.delSrc = 1;
    f.angle = 180;
    QorReply reply = box.Run(f);
    ASSERT_EQ(reply.status, 0) << reply.message;
    EXPECT_EQ(std::string(reply.outputPath), in);
    ASSERT_TRUE(PathExists(in));
    EXPECT_EQ(PixelAt(VImage::new_from_file(in.c_str()), 0.25, 0.25), kYellow);
    EXPECT_EQ(fs::directory_iterator(box.Images()) == fs::directory_iterator(), false);
}

} // namespace
