#include "IMG_Exception.h"
#include "IMG_ImageInfo.h"

namespace {

struct PixelTypeRow {
    uint32_t pixelType;
    int16_t samples;
    int16_t bitsPerPixel; // 0: none
};

// The pixel types the readers produce, with what SetPixelType stores for them.
constexpr PixelTypeRow kPixelTypes[] = {
    {0x0501, 3, 16}, {0x2101, 3, 24}, {0x2901, 3, 48}, {0x0881, 4, 32}, {0x2981, 4, 64},
    {0x0802, 4, 32}, {0x2A02, 4, 64}, {0x0882, 5, 40}, {0x2A82, 5, 80}, {0x2108, 3, 24},
    {0x2908, 3, 48}, {0x280A, 1, 8},  {0x000A, 1, 16}, {0x270A, 1, 32}, {0x208A, 2, 0},
    {0x008A, 2, 32}, {0x0010, 0, 0},  {0x000B, 0, 0},
};

} // namespace

void ComputePixelType(IMG_ImageInfo& info, int bits, int samples, uint32_t model) {
    uint32_t type = 0;
    switch (model) {
    case kImgModelGray:
        if (samples > 2) {
            type = 0x208A;
        } else if (samples == 1 && bits == 8) {
            type = 0x280A;
        } else if (samples == 1 && bits == 16) {
            type = 0x000A;
        } else if (samples == 1 && bits == 32) {
            type = 0x270A;
        } else if (samples == 2 && bits == 8) {
            type = 0x208A;
        } else if (samples == 2 && bits == 16) {
            type = 0x008A;
        }
        break;
    case kImgModelRGB:
        if (samples > 4) {
            type = 0x0881;
        } else if (samples == 3 && bits == 5) {
            type = 0x0501;
        } else if (samples == 3 && bits == 8) {
            type = 0x2101;
        } else if (samples == 3 && bits == 16) {
            type = 0x2901;
        } else if (samples == 4 && bits == 8) {
            type = 0x0881;
        } else if (samples == 4 && bits == 16) {
            type = 0x2981;
        }
        break;
    case kImgModelCMYK:
        if (samples > 5) {
            type = 0x0882;
        } else if (samples == 4 && bits == 8) {
            type = 0x0802;
        } else if (samples == 4 && bits == 16) {
            type = 0x2A02;
        } else if (samples == 5 && bits == 8) {
            type = 0x0882;
        } else if (samples == 5 && bits == 16) {
            type = 0x2A82;
        }
        break;
    case kImgModelLab:
        if (samples == 3 && bits == 8) {
            type = 0x2108;
        } else if (samples == 3 && bits == 16) {
            type = 0x2908;
        }
        break;
    case kImgModelPalette:
        type = 0x0010;
        break;
    default:
        break;
    }
    if (type == 0) {
        throw IMG_Exception(-1);
    }
    info.pixelType = type;
}

void SetPixelType(IMG_ImageInfo& info, uint32_t pixelType) {
    info.pixelType = pixelType;
    switch (IMG_ColourModelOf(pixelType)) {
    case kImgModelRGB:
        info.colourSpace = 3;
        break;
    case kImgModelCMYK:
        info.colourSpace = 4;
        break;
    case kImgModelLab:
        info.colourSpace = 6;
        break;
    case kImgModelGray:
        info.colourSpace = 1;
        break;
    default:
        break;
    }
    info.bitsPerSample = 0;
    info.samplesPerPixel = 0;
    for (const auto& row : kPixelTypes) {
        if (row.pixelType == pixelType && row.bitsPerPixel != 0) {
            info.bitsPerSample = row.bitsPerPixel;
            info.samplesPerPixel = row.samples;
            break;
        }
    }
}
