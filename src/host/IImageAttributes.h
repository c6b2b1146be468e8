#pragma once

#include "DocumentIDs.h"
#include "IPMUnknown.h"

#include <cstdint>

// A signed 16.16 fixed-point number: the integer part in the high 16 bits,
// the fraction in the low 16 bits (fraction = low bits / 65536).
using PMFixed = int32_t;

// The nearest PMFixed; values beyond the range are clamped to it and a value
// that is not a number gives 0.
PMFixed ToPMFixed(double value);
double PMFixedToDouble(PMFixed value);

// What the host recorded of a placed image's file when it placed it: the
// pixel size and the horizontal and vertical resolution (pixels per inch).
class IImageAttributes : public IPMUnknown {
public:
    enum { kDefaultIID = IID_IIMAGEATTRIBUTES.value };

    // The recorded resolution; false (value untouched) when none is recorded.
    virtual bool GetXResolution(PMFixed& value) const = 0;
    virtual bool GetYResolution(PMFixed& value) const = 0;
    virtual uint32_t GetPixelWidth() const = 0;
    virtual uint32_t GetPixelHeight() const = 0;

    virtual void SetImageInfo(uint32_t pixelWidth, uint32_t pixelHeight, PMFixed xResolution,
                              PMFixed yResolution) = 0;
};
