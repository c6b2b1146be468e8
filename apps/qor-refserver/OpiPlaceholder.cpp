#include "OpiPlaceholder.h"

#include "FileSteps.h"

#include <vips/vips8>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <sstream>
#include <vector>

namespace fs = std::filesystem;
using vips::VImage;

namespace {

// The preview in 8 bits, gray, RGB or CMYK as the output is.
VImage Preview(const std::string& highRes, double resolution, int previewResolution) {
    VImage image = VImage::new_from_file(highRes.c_str(),
                                         VImage::option()->set("access", VIPS_ACCESS_SEQUENTIAL));
    const double factor = std::min(1.0, previewResolution / resolution);
    if (factor < 1.0) {
        image = image.resize(factor, VImage::option()->set("kernel", VIPS_KERNEL_LINEAR));
    }
    if (image.format() != VIPS_FORMAT_UCHAR) {
        image = image.cast(VIPS_FORMAT_UCHAR);
    }
    const int bands = image.bands() >= 4 && image.interpretation() == VIPS_INTERPRETATION_CMYK ? 4
                      : image.bands() >= 3                                                     ? 3
                                                                                               : 1;
    return image.extract_band(0, VImage::option()->set("n", bands)).copy_memory();
}

} // namespace

std::string OpiPlaceholderText(const std::string& highRes, double resolution,
                               int previewResolution) {
    VImage full = VImage::new_from_file(highRes.c_str());
    const VImage preview = Preview(highRes, resolution, previewResolution);
    const int w = preview.width(), h = preview.height(), bands = preview.bands();
    // The placeholder covers the output's extent; its preview's resolution is
    // what the readers of placeholders report, so preview pixels over it give
    // that extent.
    const double widthPt = full.width() * 72.0 / resolution;
    const double heightPt = full.height() * 72.0 / resolution;
    const double previewResolution2 = w * 72.0 / widthPt;
    std::ostringstream s;
    s.precision(10);
    s << "%!PS-Adobe-3.0 EPSF-3.0\n"
      << "%%Creator: qor-refserver\n"
      << "%%Title: " << fs::path(highRes).filename().string() << "\n"
      << "%%BoundingBox: 0 0 " << std::ceil(widthPt) << ' ' << std::ceil(heightPt) << "\n"
      << "%%HiResBoundingBox: 0 0 " << widthPt << ' ' << heightPt << "\n"
      << "%ALDImageFileName: " << highRes << "\n"
      << "%ALDImageDimensions: " << full.width() << ' ' << full.height() << "\n"
      << "%ALDImageCropRect: 0 0 " << full.width() << ' ' << full.height() << "\n"
      << "%ALDImagePosition: 0 0 0 " << heightPt << ' ' << widthPt << ' ' << heightPt << ' '
      << widthPt << " 0\n"
      << "%ALDImageResolution: " << previewResolution2 << ' ' << previewResolution2 << "\n"
      << "%ImageData: " << w << ' ' << h << " 8 " << bands << " 0 1 2 \"beginimage\"\n"
      << "%ALDImageType: " << bands << " 8\n"
      << "%%EndComments\n"
      << "/beginimage { "
      << (bands == 1 ? "image" : "false " + std::to_string(bands) + " colorimage")
      << " } bind def\n"
      << "gsave\n"
      << widthPt << ' ' << heightPt << " scale\n"
      << w << ' ' << h << " 8 [" << w << " 0 0 -" << h << " 0 " << h << "]\n"
      << "{currentfile " << w * bands << " string readhexstring pop} bind\n"
      << "beginimage\n";
    std::size_t size = 0;
    void* memory = preview.write_to_memory(&size);
    const auto* pixels = static_cast<const unsigned char*>(memory);
    static const char* kHex = "0123456789abcdef";
    std::string line;
    const std::size_t rowBytes = static_cast<std::size_t>(w) * bands;
    for (int y = 0; y < h; ++y) {
        line.clear();
        for (std::size_t i = 0; i < rowBytes; ++i) {
            const unsigned char v = pixels[static_cast<std::size_t>(y) * rowBytes + i];
            line += kHex[v >> 4];
            line += kHex[v & 0xF];
            if (i % 32 == 31 && i + 1 < rowBytes) {
                line += '\n';
            }
        }
        s << line << "\n";
    }
    g_free(memory);
    s << "grestore\n%%EOF\n";
    return s.str();
}

bool WriteOpiPlaceholder(const std::string& highRes, double resolution, int previewResolution,
                         const std::string& folder, const std::string& name, const std::string& tag,
                         std::string& error) {
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        error = "the OPI low-resolution folder does not exist: " + folder;
        return false;
    }
    std::string text;
    try {
        text = OpiPlaceholderText(highRes, resolution, previewResolution);
    } catch (const vips::VError& e) {
        std::string why = e.what();
        error = "the OPI placeholder's preview cannot be made: " + why.substr(0, why.find('\n'));
        return false;
    }
    if (PublishFile(folder, name, text, tag) != 0) {
        error = "the OPI placeholder cannot be written into " + folder;
        return false;
    }
    return true;
}
