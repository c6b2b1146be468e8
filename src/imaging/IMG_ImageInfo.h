#pragma once

#include <cstdint>

// What inspecting an image file tells: pixel size, resolution and the packed
// pixel type. A plain record owned by the reader that made it; callers copy
// what they need before the reader goes.
struct IMG_ImageInfo {
    uint32_t width = 0;          // pixel columns; 0 when the file cannot tell (OPI placeholders)
    uint32_t height = 0;         // pixel rows
    int16_t bitsPerSample = 0;   // as TIFF states it; bits per pixel through SetPixelType
    int16_t samplesPerPixel = 0; // channels
    float resolution = 72.0f;    // pixels per inch
    uint32_t pixelType = 0;      // packed pixel type; the low seven bits are the colour model
    uint32_t colourSpace = 3;    // 1 Gray, 3 RGB, 4 CMYK, 6 Lab
};

// Colour models, the low seven bits of a pixel type.
enum IMG_ColourModel : uint32_t {
    kImgModelNone = 0,
    kImgModelRGB = 1,
    kImgModelCMYK = 2,
    kImgModelLab = 8,
    kImgModelGray = 10,
    kImgModelFullColour = 11, // from OPI comments, without a stated model
    kImgModelPalette = 16,
};

inline uint32_t IMG_ColourModelOf(uint32_t pixelType) {
    return pixelType & 0x7F;
}

// Format codes; bit 0 set means the reader holds a linked name.
enum IMG_FormatCode : uint32_t {
    kImgFormatTiff = 0x100,
    kImgFormatTiffProxy = 0x101,
    kImgFormatTiffOpi = 0x111,
    kImgFormatEps = 0x200,
    kImgFormatEpsPlaceholder = 0x211,
    kImgFormatJpeg = 0x400,
    kImgFormatPhotoCd = 0x800,
    kImgFormatPhotoshop = 0x1000,
};

// Stores the pixel type that bits per sample, samples and colour model give
// (models 1 RGB, 2 CMYK, 8 Lab, 10 Gray, 16 palette). Throws IMG_Exception(-1)
// for a combination that has no pixel type.
void ComputePixelType(IMG_ImageInfo& info, int bitsPerSample, int samples, uint32_t model);

// Stores a pixel type with the colour space, bits per pixel and samples that
// go with it (both 0 for a type without bits per pixel).
void SetPixelType(IMG_ImageInfo& info, uint32_t pixelType);
