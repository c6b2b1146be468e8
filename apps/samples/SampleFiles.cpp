#include "SampleFiles.h"

#include "SampleImages.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <stdexcept>

namespace {

// A smooth picture with some structure, so that processed results can be
// told apart by eye: a diagonal gradient with a disc in the middle. Channel c
// of n at (x, y).
uint8_t Pixel(uint32_t x, uint32_t y, uint32_t w, uint32_t h, int c, int n) {
    const double fx = static_cast<double>(x) / w;
    const double fy = static_cast<double>(y) / h;
    const double dx = fx - 0.5;
    const double dy = fy - 0.5;
    const bool disc = dx * dx + dy * dy < 0.06;
    double v = 0.0;
    switch (n == 1 ? 3 : c) {
    case 0:
        v = disc ? 0.9 : fx;
        break;
    case 1:
        v = disc ? 0.2 : fy;
        break;
    case 2:
        v = disc ? 0.1 : 1.0 - fx;
        break;
    case 3:
    default:
        v = disc ? 0.15 : 0.5 * (fx + fy);
        break;
    }
    if (n == 4) {
        // Ink: a light picture, black only in the disc.
        v = c == 3 ? (disc ? 0.6 : 0.0) : 0.6 * v;
    }
    return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0));
}

// The picture as the writers take it.
void DemoPicture(const samples::Raster& image, uint32_t x, uint32_t y, uint8_t* out) {
    for (int c = 0; c < image.channels; ++c) {
        out[c] = Pixel(x, y, image.width, image.height, c, image.channels);
    }
}

void WriteTiff(const std::string& path, uint32_t w, uint32_t h, int channels, double ppi) {
    samples::TiffOptions options;
    options.resolution = ppi;
    options.lzw = true;
    options.rowsPerStrip = 16;
    samples::WriteTiff(path, {w, h, channels}, DemoPicture, options);
}

// An EPS that draws a gray image: the bounding box is the image's size in
// points and the %ImageData comment gives its pixels, so its resolution is
// pixels over inches.
samples::EpsImage GrayEps(uint32_t w, uint32_t h, double widthPt, double heightPt) {
    samples::EpsImage eps;
    eps.image = {w, h, 1};
    eps.width = widthPt;
    eps.height = heightPt;
    eps.pixels = DemoPicture;
    return eps;
}

} // namespace

std::vector<SampleFile> WriteSampleFiles(const std::string& folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        throw std::runtime_error("cannot make the folder " + folder + ": " + ec.message());
    }
    auto at = [&](const char* name) { return (std::filesystem::path(folder) / name).string(); };

    std::vector<SampleFile> files;
    WriteTiff(at("photo-rgb.tif"), 600, 400, 3, 300.0);
    files.push_back({"photo-rgb.tif", "RGB TIFF, 600 x 400 px at 300 ppi"});
    WriteTiff(at("press-cmyk.tif"), 480, 360, 4, 300.0);
    files.push_back({"press-cmyk.tif", "CMYK TIFF, 480 x 360 px at 300 ppi"});
    WriteTiff(at("scan-gray.tif"), 400, 400, 1, 200.0);
    files.push_back({"scan-gray.tif", "gray TIFF, 400 x 400 px at 200 ppi"});
    samples::WriteJpeg(at("web-rgb.jpg"), {640, 480, 3}, DemoPicture, {72, 1, 90});
    files.push_back({"web-rgb.jpg", "RGB JPEG, 640 x 480 px at 72 ppi"});
    samples::WritePsd(at("layout-rgb.psd"), {360, 240, 3}, DemoPicture, 150);
    files.push_back({"layout-rgb.psd", "RGB Photoshop file, 360 x 240 px at 150 ppi"});
    samples::WriteEps(at("drawing-gray.eps"), GrayEps(300, 200, 72.0, 48.0));
    files.push_back({"drawing-gray.eps", "EPS with a gray image, 300 x 200 px at 300 ppi"});

    // The OPI pair: the high-resolution file stays with the server; the page
    // holds a low-resolution placeholder that names it.
    const std::string hires = at("opi-hires.tif");
    WriteTiff(hires, 900, 600, 4, 300.0);
    files.push_back({"opi-hires.tif", "CMYK TIFF, 900 x 600 px at 300 ppi (OPI high resolution)"});
    samples::WriteOpiPlaceholder(at("opi-lowres.eps"), GrayEps(150, 100, 216.0, 144.0),
                                 {hires, "", 300.0});
    files.push_back({"opi-lowres.eps", "OPI placeholder EPS, 150 x 100 px at 50 ppi"});
    return files;
}
