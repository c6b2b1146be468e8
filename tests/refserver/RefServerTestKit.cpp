#include "RefServerTestKit.h"

#include "ProcessingMark.h"

#include "VipsEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

using vips::VImage;

namespace {

[[maybe_unused]] testing::Environment* const kVips =
    testing::AddGlobalTestEnvironment(new VipsEnvironment("refserver_tests"));

} // namespace

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
    const auto block = [](int w, int h, Rgb c) {
        return VImage::black(w, h, VImage::option()->set("bands", 3)) +
               std::vector<double>{static_cast<double>(c.r), static_cast<double>(c.g),
                                   static_cast<double>(c.b)};
    };
    const int left = width / 2, top = height / 2;
    const VImage upper =
        block(left, top, kRed).join(block(width - left, top, kGreen), VIPS_DIRECTION_HORIZONTAL);
    const VImage lower =
        block(left, height - top, kBlue)
            .join(block(width - left, height - top, kYellow), VIPS_DIRECTION_HORIZONTAL);
    SaveTiff(upper.join(lower, VIPS_DIRECTION_VERTICAL), VIPS_INTERPRETATION_sRGB, ppi, path);
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
    int x = std::min(image.width() - 1, static_cast<int>(fx * image.width()));
    int y = std::min(image.height() - 1, static_cast<int>(fy * image.height()));
    std::vector<double> p = image.getpoint(x, y);
    if (p.size() < 3) {
        int v = static_cast<int>(p.at(0));
        return {v, v, v};
    }
    return {static_cast<int>(p[0]), static_cast<int>(p[1]), static_cast<int>(p[2])};
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

ServerSandbox::ServerSandbox() : server(dir.Path(), log) {
    QOR_EndPointFile::ResetProcessStateForTesting();
    std::string error;
    if (!InitServerTree(dir.Path(), error)) {
        ADD_FAILURE() << error;
    }
    EXPECT_EQ(endpoint.Connect(ServerPath().c_str()), 0);
    EXPECT_EQ(server.RunOnce(), 1); // the CONNECT
}

std::string ServerSandbox::Images() const {
    std::string path = Root() + "/images";
    MakeDirs(path);
    return path;
}

std::string ServerSandbox::Send(const std::string& body) {
    char name[512] = {};
    EXPECT_EQ(endpoint.SendNamed(name, body.c_str(), 1024), 0);
    return name;
}

bool ServerSandbox::Reply(const std::string& messageName, QorReply& reply, std::string* text) {
    char buffer[1024];
    int capacity = sizeof buffer;
    if (endpoint.ReceiveFor(messageName.c_str(), buffer, capacity) != 0) {
        return false;
    }
    if (text != nullptr) {
        *text = buffer;
    }
    reply = QorReply();
    reply.status = 99;
    bool parsed = ParseReply(buffer, sizeof buffer, reply) == 0;
    endpoint.ReleaseReply(messageName.c_str());
    return parsed;
}

QorReply ServerSandbox::Run(const TicketFields& fields) {
    std::string name = Send(TicketText(fields));
    EXPECT_EQ(Serve(), 1);
    QorReply reply;
    reply.status = 99;
    EXPECT_TRUE(Reply(name, reply)) << "no reply to " << name;
    return reply;
}

TicketFields QuadrantTicket(const ServerSandbox& box, const std::string& name) {
    TicketFields f;
    f.pathIn = box.Images() + "/" + name;
    f.pathOut = box.Images() + "/out";
    WriteQuadrants(f.pathIn, 80, 40, 80);
    return f;
}
