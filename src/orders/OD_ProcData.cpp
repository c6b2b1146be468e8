#include "OD_ProcData.h"

const OD_ProcessEntry kODProcessTable[kODProcessTableSize] = {
    // gray images
    {1, 1}, // Correction
    {2, 4}, // CMYK Conversion
    {3, 5}, // Correction+CMYK Conversion
    {4, 0}, // No Correction
    // RGB and Lab images
    {10, 2}, // Correction
    {11, 4}, // CMYK Conversion
    {12, 6}, // Correction+CMYK Conversion
    {13, 3}, // Correction+Gray Conversion
    {14, 1}, // Gray Conversion
    {15, 5}, // Gray Conversion+CMYK Conversion
    {16, 7}, // Correction+Gray Conversion+CMYK Conversion
    {17, 0}, // No Correction
    // CMYK images
    {20, 1}, // Gray Conversion
    {21, 2}, // RGB Conversion
    {22, 5}, // Gray Conversion+CMYK Conversion
    {23, 6}, // RGB Conversion+CMYK Conversion
    {24, 0}, // No Correction
};

uint32_t ImageClassForModel(int pixelType) {
    switch (pixelType & 0x7F) {
    case kODModelGray:
        return kODClassGray;
    case kODModelRGB:
        return kODClassRGB;
    case kODModelLab:
        return kODClassLab;
    case kODModelCMYK:
        return kODClassCMYK;
    case kODModelFullColor:
        return kODClassFullColor;
    default:
        return kODClassUnknown;
    }
}

const char* ImageClassTextKey(uint32_t imageClass) {
    switch (imageClass) {
    case kODClassGray:
        return "0x71900kOrdoImgOptDlgListGrayKey";
    case kODClassRGB:
        return "0x71900kOrdoImgOptDlgListRGBKey";
    case kODClassLab:
        return "0x71900kOrdoImgOptDlgListLabKey";
    case kODClassCMYK:
        return "0x71900kOrdoImgOptDlgListCMYKKey";
    case kODClassFullColor:
        return "0x71900kOrdoImgOptDlgListColor";
    default:
        return "0x71900kOrdoImgOptDlgListUnknown";
    }
}

PMString ProcessCodeTextKey(int16_t code) {
    PMString key(kODProcessBaseKey);
    key.AppendNumber(code);
    return key;
}

int OptionForCode(int code) {
    for (const OD_ProcessEntry& entry : kODProcessTable) {
        if (entry.code == code) {
            return entry.option;
        }
    }
    return -1;
}

int CodeForOption(int option, int pixelType) {
    int bound = 0;
    switch (pixelType & 0x7F) {
    case kODModelGray:
        bound = kODProcessGrayBase;
        break;
    case kODModelRGB:
    case kODModelLab:
        bound = kODProcessRGBBase;
        break;
    case kODModelCMYK:
        bound = kODProcessCMYKBase;
        break;
    default:
        bound = 0;
        break;
    }
    // The search goes on past the group's end: a gray image asked for an
    // option that no gray code carries gets the first RGB code that does.
    for (const OD_ProcessEntry& entry : kODProcessTable) {
        if (entry.code >= bound && entry.option == option) {
            return entry.code;
        }
    }
    return -1;
}

bool HasCorrection(int code) {
    int option = code;
    for (const OD_ProcessEntry& entry : kODProcessTable) {
        if (entry.code == code) {
            option = entry.option;
        }
    }
    if (code < kODProcessRGBBase) {
        return option == 1 || option == 5;
    }
    if (code < kODProcessCMYKBase) {
        return option == 2 || option == 3 || option == 6 || option == 7;
    }
    return false;
}
