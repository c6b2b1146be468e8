#include "OD_Preferences.h"
#include "OD_Resampling.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

OD_PrefsData Limits(double resolution, double up, double down, bool control = true) {
    OD_PrefsData prefs;
    prefs.SetResolution(resolution);
    prefs.SetUpSmpMax(up);
    prefs.SetDownSmpMin(down);
    prefs.SetQualityControl(control);
    return prefs;
}

TEST(Resampling, TheFactorAgainstTheLimits) {
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    constexpr int kUnset = -12345; // the factor is only written on a failure
    const OD_PrefsData standard = Limits(200, 150, 10);
    const OD_PrefsData off = Limits(200, 150, 10, false);
    // {name, matrix, resolution, limits, result, factor}
    const std::tuple<const char*, PMMatrix, double, OD_PrefsData, int, int> cases[] = {
        {"fine", PMMatrix(), 300, standard, kODResamplingOK, kUnset},
        {"too few pixels", PMMatrix(), 72, standard, kODResamplingTooSmall, 54},
        {"too many pixels", PMMatrix::MakeScale(0.5, 0.5), 2400, standard, kODResamplingTooBig,
         120},
        // No resolution counts as 72 ppi.
        {"resolution 0", PMMatrix(), 0, standard, kODResamplingTooSmall, 54},
        {"resolution -1", PMMatrix(), -1, standard, kODResamplingTooSmall, 54},
        {"resolution NaN", PMMatrix(), kNaN, standard, kODResamplingTooSmall, 54},
        {"quality control off", PMMatrix::MakeScale(0.5, 0.5), 72, off, kODResamplingOK, kUnset},
        {"quality control off, too many", PMMatrix::MakeScale(0.5, 0.5), 2400, off, kODResamplingOK,
         kUnset},
        // The larger scale counts and a limit itself passes: 200 / 400 x 3 = 1.5.
        {"at the upper limit", PMMatrix::MakeScale(0.1, 3), 400, standard, kODResamplingOK, kUnset},
        {"past the upper limit", PMMatrix::MakeScale(3.01, 0.1), 400, standard,
         kODResamplingTooSmall, 300},
        {"at the lower limit", PMMatrix(), 2000, standard, kODResamplingOK, kUnset},
        {"past the lower limit", PMMatrix(), 2001, standard, kODResamplingTooBig, 100},
        {"a turn keeps the scale", PMMatrix::MakeRotation(90), 300, standard, kODResamplingOK,
         kUnset},
        {"turned and too many", PMMatrix::MakeRotation(33) * PMMatrix::MakeScale(0.5, 0.5), 2400,
         standard, kODResamplingTooBig, 120},
        // Mirrors count by the magnitudes of their scales.
        {"mirrored across", PMMatrix::MakeScale(-1, 1), 72, standard, kODResamplingTooSmall, 54},
        {"mirrored down", PMMatrix::MakeScale(1, -1), 72, standard, kODResamplingTooSmall, 54},
        {"mirrored both ways", PMMatrix::MakeScale(-1, -1), 300, standard, kODResamplingOK, kUnset},
        {"half turn", PMMatrix::MakeRotation(180), 72, standard, kODResamplingTooSmall, 54},
        // Factors follow the limits and truncate: 100 x 200 / 300 = 66.67.
        {"other limits, too few", PMMatrix(), 100, Limits(300, 200, 25), kODResamplingTooSmall, 66},
        // 1300 x 25 / 300 = 108.3.
        {"other limits, too many", PMMatrix(), 1300, Limits(300, 200, 25), kODResamplingTooBig,
         108},
    };
    for (const auto& [name, m, resolution, prefs, result, want] : cases) {
        SCOPED_TRACE(name);
        OD_ProcData order;
        order.status = kODStatusReady;
        order.resolution = resolution;
        int factor = kUnset;
        EXPECT_EQ(CheckResamplingMatrix(m, &order, prefs, factor), result);
        EXPECT_EQ(factor, want);
    }
    int factor = 7;
    EXPECT_EQ(CheckResamplingMatrix(PMMatrix(), nullptr, standard, factor), kODResamplingOK);
    EXPECT_EQ(factor, 7) << "without an order nothing is checked";
}

} // namespace
