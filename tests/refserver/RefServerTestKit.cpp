#include "RefServerTestKit.h"

#include "VipsEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <vector>

using vips::VImage;

[[maybe_unused]] static testing::Environment* const kVips =
    testing::AddGlobalTestEnvironment(new VipsEnvironment("refserver_tests"));

void SaveTiff(const VImage& image, VipsInterpretation interpretation, double ppi,
              const std::string& path) {
    image.cast(VIPS_FORMAT_UCHAR)
        .copy(VImage::option()
                  ->set("interpretation", interpretation)
                  ->set("xres", ppi / 25.4)
                  ->set("yres", ppi / 25.4))
        .tiffsave(path.c_str(), VImage::option()->set("resunit", VIPS_FOREIGN_TIFF_RESUNIT_INCH));
}

void WriteQuadrants(const std::string& path, int width, int height, double ppi) {
    const auto colour = [](Rgb c) { return std::vector<double>{1.0 * c.r, 1.0 * c.g, 1.0 * c.b}; };
    const VImage xy = VImage::xyz(width, height);
    const VImage lower = xy[1] >= height / 2;
    const VImage image = (xy[0] >= width / 2)
                             .ifthenelse(lower.ifthenelse(colour(kYellow), colour(kGreen)),
                                         lower.ifthenelse(colour(kBlue), colour(kRed)));
    SaveTiff(image, VIPS_INTERPRETATION_sRGB, ppi, path);
}

void WriteFlat(const std::string& path, ImageKind kind, int width, int height, double ppi,
               int level) {
    const int bands = kind == ImageKind::gray ? 1 : kind == ImageKind::rgb ? 3 : 4;
    SaveTiff(VImage::black(width, height, VImage::option()->set("bands", bands)) + level,
             kind == ImageKind::gray  ? VIPS_INTERPRETATION_B_W
             : kind == ImageKind::rgb ? VIPS_INTERPRETATION_sRGB
                                      : VIPS_INTERPRETATION_CMYK,
             ppi, path);
}

Rgb PixelAt(const VImage& image, double fx, double fy) {
    const std::vector<double> p =
        image.getpoint(std::min(image.width() - 1, static_cast<int>(fx * image.width())),
                       std::min(image.height() - 1, static_cast<int>(fy * image.height())));
    // A gray pixel reads as the same level in all three.
    const auto at = [&](std::size_t i) { return static_cast<int>(p.at(p.size() < 3 ? 0 : i)); };
    return {at(0), at(1), at(2)};
}

std::string TicketText(const TicketFields& f) {
    char text[4096];
    std::snprintf(text, sizeof text,
                  "PROCESS\nPATHIN: %s\nPATHOUT: %s\nHUNITS: inch\nVUNITS: inch\nTOP: %lf\nLEFT: "
                  "%lf\nWIDTH: %lf\nHEIGHT: %lf\nSCALEX: %lf\nSCALEY: %lf\nRESX: %d\nRESY: "
                  "%d\nANGLE: %lf\nPREFIX: %s\nPROCESSOPT: %d\nFLIPGD: %d\nFLIPHB: %d\nSKEWH: "
                  "%lf\nOVERWRITE: %d\nPROFILE: %s\nDOCROP: 1\nDEL_SRC_IMAGE: %d\n",
                  f.pathIn.c_str(), f.pathOut.c_str(), f.top, f.left, f.width, f.height, f.scaleX,
                  f.scaleY, f.res, f.res, f.angle, f.prefix.c_str(), f.processOpt, f.flipGD,
                  f.flipHB, f.skewH, f.overwrite, f.profile.c_str(), f.delSrc);
    return text;
}

bool ReceiveReply(QOR_EndPointFile& endpoint, const std::string& messageName, QorReply& reply,
                  std::string* text) {
    char buffer[1024];
    int capacity = sizeof buffer;
    reply = QorReply();
    reply.status = 99;
    if (endpoint.ReceiveFor(messageName.c_str(), buffer, capacity) != 0) {
        return false;
    }
    if (text != nullptr) {
        *text = buffer;
    }
    const bool parsed = ParseReply(buffer, sizeof buffer, reply) == 0;
    endpoint.ReleaseReply(messageName.c_str());
    return parsed;
}

ServerSandbox::ServerSandbox() : server(dir.Path(), log) {
    QOR_EndPointFile::ResetProcessStateForTesting();
    std::string error;
    EXPECT_TRUE(InitServerTree(dir.Path(), error)) << error;
    EXPECT_EQ(endpoint.Connect((dir / "qorserver").c_str()), 0);
    EXPECT_EQ(server.RunOnce(), 1); // the CONNECT
}

std::string ServerSandbox::Send(const std::string& body) {
    char name[512] = {};
    EXPECT_EQ(endpoint.SendNamed(name, body.c_str(), 1024), 0);
    return name;
}

QorReply ServerSandbox::Run(const std::string& body, int status) {
    const std::string name = Send(body);
    EXPECT_EQ(Serve(), 1);
    QorReply reply;
    std::string text;
    EXPECT_TRUE(Reply(name, reply, &text)) << "no reply to " << name;
    EXPECT_EQ(reply.status, status) << text;
    return reply;
}

TicketFields QuadrantTicket(const ServerSandbox& box, const std::string& name) {
    TicketFields f;
    f.pathIn = box.Images() + "/" + name;
    f.pathOut = box.Images() + "/out";
    WriteQuadrants(f.pathIn, 80, 40, 80);
    return f;
}
