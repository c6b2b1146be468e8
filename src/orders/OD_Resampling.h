#pragma once

// The resampling check: how much the server would resample an order's image
// to reach the output resolution at the size it has on the page, and whether
// that lies outside the limits the preferences set.

#include "OD_Geometry.h"
#include "OD_ProcData.h"
#include "PMString.h"
#include "UIDRef.h"

class OD_PrefsData;

// Results of the check.
inline constexpr int kODResamplingOK = 0;        // within the limits, or not checked
inline constexpr int kODResamplingTooSmall = -1; // upsampling beyond the limit
inline constexpr int kODResamplingTooBig = -2;   // downsampling beyond the limit
// Not given by the check, which takes an unknown resolution as 72 ppi; kept
// for its text.
inline constexpr int kODResamplingUnknownRes = -3;

// The check on a placement (the image matrix) and an order. With quality
// control off, or without an order, 0. The scale is the larger of the
// magnitudes of the matrix's x and y scales, so a mirrored image is checked
// as its unmirrored self; an image resolution of 0 (none given) counts as
// kODUnknownResolution. F = output resolution / image resolution x scale:
// above the upsampling limit (percent / 100) gives -1 with factor the largest
// scale in percent that the limit allows; below the downsampling limit -2
// with the smallest; a factor equal to a limit passes. factor is written only
// for -1 and -2, truncated toward zero.
int CheckResamplingMatrix(const PMMatrix& imageMatrix, const OD_ProcData* order,
                          const OD_PrefsData& prefs, int& factor);

// The same for a placed image: 0 also when its placement geometry cannot be
// obtained. order is the record the item carries (null: none).
int CheckResampling(const UIDRef& item, const OD_ProcData* order, const OD_PrefsData& prefs,
                    int& factor);

// The string key of a result's text; the OK key for any other value.
const char* ResamplingTextKey(int result);

// A result's text from its translated pattern, as the panel and the image
// options dialog show it: for -1 and -2 the factor in place of "%d" (the
// lone "%" after it stays a percent sign: "... is : 54 %"); the pattern as
// it stands for the others. Not translatable.
PMString FormatResamplingText(const PMString& translatedPattern, int result, int factor);

// The same with the pattern translated from the string tables.
PMString ResamplingText(int result, int factor);
