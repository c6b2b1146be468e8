#pragma once

// Writers of small image files in every format the plug-in reads: gray, RGB
// and CMYK TIFF through libtiff, gray and RGB JPEG through libjpeg, flat RGB
// Photoshop files, EPS files with an %ImageData comment, and OPI 1.3
// placeholders that name their high-resolution file. The demo writes its
// sample images with them, the tests their fixtures. What the pictures show
// is up to the caller (a Pixels function); the bytes written depend only on
// the arguments, so a caller gets the same file every time.
//
// Every writer throws std::runtime_error("cannot write PATH") when the file
// cannot be written.

#include <cstdint>
#include <functional>
#include <string>

namespace samples {

// The size and colour of an image: channels 1 (gray), 3 (RGB) or 4 (CMYK,
// ink levels).
struct Raster {
    uint32_t width = 0;
    uint32_t height = 0;
    int channels = 1;
};

// Fills out[0 .. image.channels) with the levels of pixel (x, y).
using Pixels = std::function<void(const Raster& image, uint32_t x, uint32_t y, uint8_t* out)>;

// Every sample at the same level.
Pixels Flat(uint8_t level);

struct TiffOptions {
    // Pixels per inch, both ways.
    double resolution = 72.0;
    // LZW compression, else none.
    bool lzw = false;
    // Rows in each strip; 0 puts the whole image in one strip.
    uint32_t rowsPerStrip = 0;
    // The ImageDescription tag, left out when empty.
    std::string description;
};

// An 8-bit TIFF with contiguous samples (CMYK with the CMYK ink set).
void WriteTiff(const std::string& path, const Raster& image, const Pixels& pixels,
               const TiffOptions& options = {});

struct JpegOptions {
    // The JFIF density and its unit (0: no unit, the pixels' proportions
    // only; 1: per inch; 2: per centimetre).
    int density = 72;
    int densityUnit = 1;
    // libjpeg's quality scale; 75 is its default.
    int quality = 75;
};

// A baseline JFIF JPEG of a gray (1 channel) or RGB (3 channels) image.
void WriteJpeg(const std::string& path, const Raster& image, const Pixels& pixels,
               const JpegOptions& options = {});

// A flat RGB Photoshop file (image.channels must be 3): no colour-mode data,
// one image resource (the resolution entry, 1005, in pixels per inch), no
// layers, the image uncompressed one plane per channel.
void WritePsd(const std::string& path, const Raster& image, const Pixels& pixels,
              uint32_t resolution);

// An EPS that says in its %ImageData comment that it holds image (mode 1
// gray, 3 RGB, 4 CMYK) over a bounding box of width x height points from
// 0 0. The %%BoundingBox is rounded to whole points and followed by the
// exact %%HiResBoundingBox.
struct EpsImage {
    Raster image;
    double width = 0;
    double height = 0;
    std::string creator = "OrdoDesk sample writer";
    std::string title = "sample";
    // With pixels the body draws the image (gray only) from hexadecimal
    // data; without, the file holds its comments only.
    Pixels pixels;
};

void WriteEps(const std::string& path, const EpsImage& eps);

// The high-resolution file an OPI placeholder stands for.
struct OpiLink {
    // Written as it stands in %ALDImageFileName.
    std::string fileName;
    // %ALDImageID, left out when empty.
    std::string imageId;
    // %ALDImageResolution, pixels per inch both ways.
    double resolution = 300.0;
};

// An OPI 1.3 placeholder: the EPS with the OPI comments that name the
// high-resolution file.
void WriteOpiPlaceholder(const std::string& path, const EpsImage& eps, const OpiLink& link);

} // namespace samples
