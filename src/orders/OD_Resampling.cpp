#include "OD_Resampling.h"

#include "OD_Preferences.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// value truncated toward zero, held within the range of int.
int TruncatedFactor(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    constexpr double kMax = static_cast<double>(std::numeric_limits<int>::max());
    constexpr double kMin = static_cast<double>(std::numeric_limits<int>::min());
    return static_cast<int>(std::clamp(std::trunc(value), kMin, kMax));
}

} // namespace

int CheckResamplingMatrix(const PMMatrix& imageMatrix, const OD_ProcData* order,
                          const OD_PrefsData& prefs, int& factor) {
    if (!prefs.GetQualityControl() || order == nullptr) {
        return kODResamplingOK;
    }
    const PMMatrix::Parts parts = imageMatrix.Decompose(); // once for both scales
    const double sx = std::fabs(parts.xScale);
    const double sy = std::fabs(parts.yScale);
    const double s = sx > sy ? sx : sy;
    const double r = ODKnownResolution(order->resolution);
    const double out = prefs.GetResolution();
    const double f = out / r * s;
    const double up = prefs.GetUpSmpMax();
    const double down = prefs.GetDownSmpMin();
    if (f > up / 100.0) {
        factor = TruncatedFactor(r * up / out);
        return kODResamplingTooSmall;
    }
    if (f < down / 100.0) {
        factor = TruncatedFactor(r * down / out);
        return kODResamplingTooBig;
    }
    return kODResamplingOK;
}

int CheckResampling(const UIDRef& item, const OD_ProcData* order, const OD_PrefsData& prefs,
                    int& factor) {
    if (!prefs.GetQualityControl()) {
        return kODResamplingOK;
    }
    OD_PlacementGeometry placement;
    if (GetPlacementGeometry(item, placement) != 0) {
        return kODResamplingOK;
    }
    return CheckResamplingMatrix(placement.imageMatrix, order, prefs, factor);
}

const char* ResamplingTextKey(int result) {
    switch (result) {
    case kODResamplingTooSmall:
        return "0x71900kOrdoErrImgTooSmall";
    case kODResamplingTooBig:
        return "0x71900kOrdoErrImgTooBig";
    case kODResamplingUnknownRes:
        return "0x71900kOrdoErrImgCannotCheckDim";
    default:
        return "0x71900kOrdoStatusImgOK";
    }
}

PMString FormatResamplingText(const PMString& translatedPattern, int result, int factor) {
    if (result == kODResamplingTooSmall || result == kODResamplingTooBig) {
        return PMString::Format(translatedPattern, factor);
    }
    PMString text = translatedPattern;
    text.SetTranslatable(false);
    return text;
}

PMString ResamplingText(int result, int factor) {
    return FormatResamplingText(PMString(ResamplingTextKey(result)).Translated(), result, factor);
}
