#include "SampleFiles.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <jpeglib.h>
#include <sstream>
#include <stdexcept>
#include <tiffio.h>

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

[[noreturn]] void CannotWrite(const std::string& path) {
    throw std::runtime_error("cannot write " + path);
}

void WriteTiff(const std::string& path, uint32_t w, uint32_t h, int samples, double ppi) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (tif == nullptr) {
        CannotWrite(path);
    }
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
                 samples == 1   ? PHOTOMETRIC_MINISBLACK
                 : samples == 3 ? PHOTOMETRIC_RGB
                                : PHOTOMETRIC_SEPARATED);
    if (samples == 4) {
        TIFFSetField(tif, TIFFTAG_INKSET, INKSET_CMYK);
    }
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 16);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, ppi);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, ppi);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    std::vector<uint8_t> row(static_cast<std::size_t>(w) * samples);
    bool ok = true;
    for (uint32_t y = 0; y < h && ok; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            for (int c = 0; c < samples; ++c) {
                row[static_cast<std::size_t>(x) * samples + c] = Pixel(x, y, w, h, c, samples);
            }
        }
        ok = TIFFWriteScanline(tif, row.data(), y, 0) == 1;
    }
    TIFFClose(tif);
    if (!ok) {
        CannotWrite(path);
    }
}

void WriteJpeg(const std::string& path, uint32_t w, uint32_t h, int density) {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        CannotWrite(path);
    }
    jpeg_compress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, out);
    cinfo.image_width = w;
    cinfo.image_height = h;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 90, TRUE);
    cinfo.write_JFIF_header = TRUE;
    cinfo.density_unit = 1; // per inch
    cinfo.X_density = static_cast<UINT16>(density);
    cinfo.Y_density = static_cast<UINT16>(density);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(static_cast<std::size_t>(w) * 3);
    JSAMPROW rows[1] = {row.data()};
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            for (int c = 0; c < 3; ++c) {
                row[static_cast<std::size_t>(x) * 3 + c] = Pixel(x, y, w, h, c, 3);
            }
        }
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    if (std::fclose(out) != 0) {
        CannotWrite(path);
    }
}

void Put16(std::string& out, uint32_t v) {
    out += static_cast<char>((v >> 8) & 0xFF);
    out += static_cast<char>(v & 0xFF);
}

void Put32(std::string& out, uint32_t v) {
    Put16(out, v >> 16);
    Put16(out, v & 0xFFFF);
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        CannotWrite(path);
    }
}

// A flat RGB Photoshop file: header, no colour-mode data, one image resource
// (the resolution entry, 1005), no layers, the image uncompressed in planes.
void WritePsd(const std::string& path, uint32_t w, uint32_t h, uint32_t ppi) {
    std::string psd = "8BPS";
    Put16(psd, 1);       // version
    psd.append(6, '\0'); // reserved
    Put16(psd, 3);       // channels
    Put32(psd, h);
    Put32(psd, w);
    Put16(psd, 8); // bits per channel
    Put16(psd, 3); // RGB
    Put32(psd, 0); // colour-mode data
    std::string resolution;
    Put32(resolution, ppi << 16); // horizontal, 16.16
    Put16(resolution, 1);         // pixels per inch
    Put16(resolution, 1);         // width shown in inches
    Put32(resolution, ppi << 16); // vertical
    Put16(resolution, 1);
    Put16(resolution, 1);
    std::string resources = "8BIM";
    Put16(resources, 1005);
    Put16(resources, 0); // empty name, padded to even
    Put32(resources, static_cast<uint32_t>(resolution.size()));
    resources += resolution;
    Put32(psd, static_cast<uint32_t>(resources.size()));
    psd += resources;
    Put32(psd, 0); // layer and mask information
    Put16(psd, 0); // raw image data
    for (int c = 0; c < 3; ++c) {
        for (uint32_t y = 0; y < h; ++y) {
            for (uint32_t x = 0; x < w; ++x) {
                psd += static_cast<char>(Pixel(x, y, w, h, c, 3));
            }
        }
    }
    WriteBytes(path, psd);
}

// An EPS that draws a gray image: the bounding box is the image's size in
// points, the %ImageData comment gives its pixels (so its resolution is
// pixels over inches), and the image follows as hexadecimal data.
std::string EpsText(uint32_t w, uint32_t h, double widthPt, double heightPt,
                    const std::string& extraComments) {
    std::ostringstream eps;
    eps << "%!PS-Adobe-3.0 EPSF-3.0\n"
        << "%%Creator: OrdoDesk sample writer\n"
        << "%%Title: sample\n"
        << "%%BoundingBox: 0 0 " << std::lround(widthPt) << ' ' << std::lround(heightPt) << "\n"
        << "%%HiResBoundingBox: 0 0 " << widthPt << ' ' << heightPt << "\n"
        << extraComments << "%ImageData: " << w << ' ' << h << " 8 1 0 1 1 \"beginimage\"\n"
        << "%%EndComments\n"
        << "gsave\n"
        << widthPt << ' ' << heightPt << " scale\n"
        << w << ' ' << h << " 8 [" << w << " 0 0 -" << h << " 0 " << h << "]\n"
        << "{currentfile " << w << " string readhexstring pop} bind\n"
        << "beginimage\n";
    static const char* kHex = "0123456789abcdef";
    for (uint32_t y = 0; y < h; ++y) {
        std::string line;
        for (uint32_t x = 0; x < w; ++x) {
            const uint8_t v = Pixel(x, y, w, h, 0, 1);
            line += kHex[v >> 4];
            line += kHex[v & 0xF];
        }
        eps << line << "\n";
    }
    eps << "grestore\n%%EOF\n";
    return eps.str();
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
    WriteJpeg(at("web-rgb.jpg"), 640, 480, 72);
    files.push_back({"web-rgb.jpg", "RGB JPEG, 640 x 480 px at 72 ppi"});
    WritePsd(at("layout-rgb.psd"), 360, 240, 150);
    files.push_back({"layout-rgb.psd", "RGB Photoshop file, 360 x 240 px at 150 ppi"});
    WriteBytes(at("drawing-gray.eps"), EpsText(300, 200, 72.0, 48.0, ""));
    files.push_back({"drawing-gray.eps", "EPS with a gray image, 300 x 200 px at 300 ppi"});

    // The OPI pair: the high-resolution file stays with the server; the page
    // holds a low-resolution placeholder that names it.
    const std::string hires = at("opi-hires.tif");
    WriteTiff(hires, 900, 600, 4, 300.0);
    files.push_back({"opi-hires.tif", "CMYK TIFF, 900 x 600 px at 300 ppi (OPI high resolution)"});
    WriteBytes(at("opi-lowres.eps"), EpsText(150, 100, 216.0, 144.0,
                                             "%ALDImageFileName: " + hires +
                                                 "\n%ALDImageID: opi-hires\n"
                                                 "%ALDImageResolution: 300 300\n"));
    files.push_back({"opi-lowres.eps", "OPI placeholder EPS, 150 x 100 px at 50 ppi"});
    return files;
}
