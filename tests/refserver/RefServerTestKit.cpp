#include "RefServerTestKit.h"

#include "VipsEnvironment.h"

#include <gtest/gtest.h>

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
    reply = QorReply{.status = 99};
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
