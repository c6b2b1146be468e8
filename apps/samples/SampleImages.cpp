#include "SampleImages.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <jpeglib.h>
#include <sstream>
#include <stdexcept>
#include <tiffio.h>
#include <vector>

namespace samples {

namespace {

[[noreturn]] void CannotWrite(const std::string& path) {
    throw std::runtime_error("cannot write " + path);
}

// One row of the image, its samples contiguous.
void FillRow(const Raster& image, const Pixels& pixels, uint32_t y, uint8_t* row) {
    const auto n = static_cast<std::size_t>(image.channels);
    for (uint32_t x = 0; x < image.width; ++x) {
        pixels(image, x, y, row + x * n);
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

// The EPS text; extraComments go into the header before %ImageData.
std::string EpsText(const EpsImage& eps, const std::string& extraComments) {
    const Raster& image = eps.image;
    if (eps.pixels && image.channels != 1) {
        throw std::invalid_argument("an EPS sample draws a gray image");
    }
    std::ostringstream text;
    text << "%!PS-Adobe-3.0 EPSF-3.0\n"
         << "%%Creator: " << eps.creator << "\n"
         << "%%Title: " << eps.title << "\n"
         << "%%BoundingBox: 0 0 " << std::lround(eps.width) << ' ' << std::lround(eps.height)
         << "\n"
         << "%%HiResBoundingBox: 0 0 " << eps.width << ' ' << eps.height << "\n"
         << extraComments << "%ImageData: " << image.width << ' ' << image.height << " 8 "
         << image.channels << " 0 1 " << (eps.pixels ? 2 : 1) << " \"beginimage\"\n"
         << "%%EndComments\n";
    if (eps.pixels) {
        const std::size_t rowBytes = static_cast<std::size_t>(image.width) * image.channels;
        // The image operator under the name that %ImageData gives the data's
        // start, as Photoshop's EPS files define it.
        text << "/beginimage { image } bind def\n"
             << "gsave\n"
             << eps.width << ' ' << eps.height << " scale\n"
             << image.width << ' ' << image.height << " 8 [" << image.width << " 0 0 -"
             << image.height << " 0 " << image.height << "]\n"
             << "{currentfile " << rowBytes << " string readhexstring pop} bind\n"
             << "beginimage\n";
        static const char* kHex = "0123456789abcdef";
        std::vector<uint8_t> row(rowBytes);
        std::string line;
        for (uint32_t y = 0; y < image.height; ++y) {
            FillRow(image, eps.pixels, y, row.data());
            line.clear();
            for (uint8_t v : row) {
                line += kHex[v >> 4];
                line += kHex[v & 0xF];
            }
            text << line << "\n";
        }
        text << "grestore\n";
    }
    text << "%%EOF\n";
    return text.str();
}

} // namespace

Pixels Flat(uint8_t level) {
    return [level](const Raster& image, uint32_t, uint32_t, uint8_t* out) {
        for (int c = 0; c < image.channels; ++c) {
            out[c] = level;
        }
    };
}

void WriteTiff(const std::string& path, const Raster& image, const Pixels& pixels,
               const TiffOptions& options) {
    const int n = image.channels;
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (tif == nullptr) {
        CannotWrite(path);
    }
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, image.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, image.height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, n);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
                 n == 1   ? PHOTOMETRIC_MINISBLACK
                 : n == 3 ? PHOTOMETRIC_RGB
                          : PHOTOMETRIC_SEPARATED);
    if (n == 4) {
        TIFFSetField(tif, TIFFTAG_INKSET, INKSET_CMYK);
    }
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, options.lzw ? COMPRESSION_LZW : COMPRESSION_NONE);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP,
                 options.rowsPerStrip != 0 ? options.rowsPerStrip : image.height);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, options.resolution);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, options.resolution);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    if (!options.description.empty()) {
        TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, options.description.c_str());
    }
    std::vector<uint8_t> row(static_cast<std::size_t>(image.width) * n);
    bool ok = true;
    for (uint32_t y = 0; y < image.height && ok; ++y) {
        FillRow(image, pixels, y, row.data());
        ok = TIFFWriteScanline(tif, row.data(), y, 0) == 1;
    }
    TIFFClose(tif);
    if (!ok) {
        CannotWrite(path);
    }
}

void WriteJpeg(const std::string& path, const Raster& image, const Pixels& pixels,
               const JpegOptions& options) {
    if (image.channels != 1 && image.channels != 3) {
        throw std::invalid_argument("a JPEG sample is gray or RGB: " + path);
    }
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        CannotWrite(path);
    }
    jpeg_compress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, out);
    cinfo.image_width = image.width;
    cinfo.image_height = image.height;
    cinfo.input_components = image.channels;
    cinfo.in_color_space = image.channels == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, options.quality, TRUE);
    cinfo.write_JFIF_header = TRUE;
    cinfo.density_unit = static_cast<UINT8>(options.densityUnit);
    cinfo.X_density = static_cast<UINT16>(options.density);
    cinfo.Y_density = static_cast<UINT16>(options.density);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(static_cast<std::size_t>(image.width) * image.channels);
    JSAMPROW rows[1] = {row.data()};
    for (uint32_t y = 0; y < image.height; ++y) {
        FillRow(image, pixels, y, row.data());
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    if (std::fclose(out) != 0) {
        CannotWrite(path);
    }
}

void WritePsd(const std::string& path, const Raster& image, const Pixels& pixels,
              uint32_t resolution) {
    if (image.channels != 3) {
        throw std::invalid_argument("a Photoshop sample is RGB: " + path);
    }
    const uint32_t w = image.width;
    const uint32_t h = image.height;
    std::string psd = "8BPS";
    Put16(psd, 1);       // version
    psd.append(6, '\0'); // reserved
    Put16(psd, 3);       // channels
    Put32(psd, h);
    Put32(psd, w);
    Put16(psd, 8); // bits per channel
    Put16(psd, 3); // RGB
    Put32(psd, 0); // colour-mode data
    std::string entry;
    for (int axis = 0; axis < 2; ++axis) {
        Put32(entry, resolution << 16); // 16.16
        Put16(entry, 1);                // shown in pixels per inch
        Put16(entry, 1);                // size shown in inches
    }
    std::string resources = "8BIM";
    Put16(resources, 1005);
    Put16(resources, 0); // empty name, padded to even
    Put32(resources, static_cast<uint32_t>(entry.size()));
    resources += entry;
    Put32(psd, static_cast<uint32_t>(resources.size()));
    psd += resources;
    Put32(psd, 0); // layer and mask information
    Put16(psd, 0); // raw image data
    std::vector<uint8_t> rgb(static_cast<std::size_t>(w) * h * 3);
    for (uint32_t y = 0; y < h; ++y) {
        FillRow(image, pixels, y, &rgb[static_cast<std::size_t>(y) * w * 3]);
    }
    for (std::size_t c = 0; c < 3; ++c) {
        for (std::size_t i = c; i < rgb.size(); i += 3) {
            psd += static_cast<char>(rgb[i]);
        }
    }
    WriteBytes(path, psd);
}

void WriteEps(const std::string& path, const EpsImage& eps) {
    WriteBytes(path, EpsText(eps, ""));
}

void WriteOpiPlaceholder(const std::string& path, const EpsImage& eps, const OpiLink& link) {
    std::ostringstream opi;
    opi << "%ALDImageFileName: " << link.fileName << "\n";
    if (!link.imageId.empty()) {
        opi << "%ALDImageID: " << link.imageId << "\n";
    }
    opi << "%ALDImageResolution: " << link.resolution << ' ' << link.resolution << "\n";
    WriteBytes(path, EpsText(eps, opi.str()));
}

} // namespace samples
