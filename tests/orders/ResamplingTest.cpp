// The resampling check: the factor against the preferences' limits, on
// matrices and on placed images, and the texts the panel and dialog show.

#include "OD_Resampling.h"

#include "../host/DocumentTestKit.h"
#include "DocumentModel.h"
#include "DocumentUtils.h"
#include "ICommand.h"
#include "ITransform.h"
#include "ImportUtils.h"
#include "OD_Preferences.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace {

OD_ProcData OrderAt(double resolution) {
    OD_ProcData order;
    order.status = kODStatusReady;
    order.resolution = resolution;
    return order;
}

struct Outcome {
    int result;
    int factor;
};

Outcome Check(const PMMatrix& m, double resolution, const OD_PrefsData& prefs = OD_PrefsData()) {
    const OD_ProcData order = OrderAt(resolution);
    int factor = -12345;
    const int result = CheckResamplingMatrix(m, &order, prefs, factor);
    return {result, factor};
}

TEST(Resampling, TheFourExamples) {
    // 200 dpi out, limits 10 % and 150 % (the defaults).
    Outcome o = Check(PMMatrix(), 300);
    EXPECT_EQ(o.result, kODResamplingOK);
    EXPECT_EQ(o.factor, -12345); // not written

    o = Check(PMMatrix(), 72);
    EXPECT_EQ(o.result, kODResamplingTooSmall);
    EXPECT_EQ(o.factor, 54);

    o = Check(PMMatrix::MakeScale(0.5, 0.5), 2400);
    EXPECT_EQ(o.result, kODResamplingTooBig);
    EXPECT_EQ(o.factor, 120);

    // No resolution counts as 72 ppi.
    for (double none : {0.0, -1.0, std::numeric_limits<double>::quiet_NaN()}) {
        o = Check(PMMatrix(), none);
        EXPECT_EQ(o.result, kODResamplingTooSmall);
        EXPECT_EQ(o.factor, 54);
    }
}

TEST(Resampling, QualityControlOffPassesEverything) {
    OD_PrefsData prefs;
    prefs.SetQualityControl(false);
    for (double r : {0.0, 72.0, 2400.0}) {
        Outcome o = Check(PMMatrix::MakeScale(0.5, 0.5), r, prefs);
        EXPECT_EQ(o.result, kODResamplingOK) << r;
        EXPECT_EQ(o.factor, -12345);
    }
}

TEST(Resampling, TheLargerScaleCountsAndALimitItselfPasses) {
    // 200 / 400 x 3 = 1.5 exactly: passes; the smaller scale is not looked at.
    EXPECT_EQ(Check(PMMatrix::MakeScale(0.1, 3), 400).result, kODResamplingOK);
    EXPECT_EQ(Check(PMMatrix::MakeScale(3.01, 0.1), 400).result, kODResamplingTooSmall);
    // 200 / 2000 x 1 = 0.1 exactly: passes.
    EXPECT_EQ(Check(PMMatrix(), 2000).result, kODResamplingOK);
    EXPECT_EQ(Check(PMMatrix(), 2001).result, kODResamplingTooBig);
    // A turn does not change the scale.
    EXPECT_EQ(Check(PMMatrix::MakeRotation(90), 300).result, kODResamplingOK);
    EXPECT_EQ(Check(PMMatrix::MakeRotation(33) * PMMatrix::MakeScale(0.5, 0.5), 2400).result,
              kODResamplingTooBig);
}

TEST(Resampling, MirroredImagesAreCheckedByTheMagnitudesOfTheirScales) {
    for (const PMMatrix& m : {PMMatrix::MakeScale(-1, 1), PMMatrix::MakeScale(1, -1),
                              PMMatrix::MakeScale(-1, -1), PMMatrix::MakeRotation(180)}) {
        EXPECT_EQ(Check(m, 300).result, kODResamplingOK) << m;
        Outcome o = Check(m, 72);
        EXPECT_EQ(o.result, kODResamplingTooSmall) << m;
        EXPECT_EQ(o.factor, 54);
    }
}

TEST(Resampling, FactorsFollowTheLimitsAndTruncate) {
    OD_PrefsData prefs;
    prefs.SetResolution(300);
    prefs.SetUpSmpMax(200);
    prefs.SetDownSmpMin(25);
    // 300 / 100 = 3 > 2: largest scale 100 x 200 / 300 = 66.67 -> 66.
    Outcome o = Check(PMMatrix(), 100, prefs);
    EXPECT_EQ(o.result, kODResamplingTooSmall);
    EXPECT_EQ(o.factor, 66);
    // 300 / 1300 = 0.23 < 0.25: smallest scale 1300 x 25 / 300 = 108.3 -> 108.
    o = Check(PMMatrix(), 1300, prefs);
    EXPECT_EQ(o.result, kODResamplingTooBig);
    EXPECT_EQ(o.factor, 108);
}

TEST(Resampling, WithoutAnOrderNothingIsChecked) {
    int factor = 7;
    EXPECT_EQ(CheckResamplingMatrix(PMMatrix(), nullptr, OD_PrefsData(), factor), kODResamplingOK);
    EXPECT_EQ(factor, 7);
}

TEST(ResamplingText, KeysAndFormattedTexts) {
    EXPECT_STREQ(ResamplingTextKey(0), "0x71900kOrdoStatusImgOK");
    EXPECT_STREQ(ResamplingTextKey(-1), "0x71900kOrdoErrImgTooSmall");
    EXPECT_STREQ(ResamplingTextKey(-2), "0x71900kOrdoErrImgTooBig");
    EXPECT_STREQ(ResamplingTextKey(-3), "0x71900kOrdoErrImgCannotCheckDim");
    EXPECT_STREQ(ResamplingTextKey(5), "0x71900kOrdoStatusImgOK");

    const PMString small("Insufficient number of pixels, the maximum scale factor is : %d %");
    PMString text = FormatResamplingText(small, -1, 54);
    EXPECT_EQ(text, "Insufficient number of pixels, the maximum scale factor is : 54 %");
    EXPECT_FALSE(text.IsTranslatable());
    EXPECT_EQ(FormatResamplingText(PMString("Too many pixels, the minimum scale factor is : %d %"),
                                   -2, 120),
              "Too many pixels, the minimum scale factor is : 120 %");
    // The other texts are shown as they stand, "%d" and all.
    text = FormatResamplingText(PMString("Cannot check image dimensions (OPI low res)"), -3, 9);
    EXPECT_EQ(text, "Cannot check image dimensions (OPI low res)");
    EXPECT_FALSE(text.IsTranslatable());
    EXPECT_EQ(FormatResamplingText(PMString("Dimensions are OK %d"), 0, 9), "Dimensions are OK %d");
}

// ---------------------------------------------------------- placed images

class PlacedResamplingTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterDocumentModel();
        ErrorUtils::PMSetGlobalErrorCode(kSuccess);
        db = DocumentUtils::NewDocument();
    }
    UIDRef Image(const PMMatrix& m) {
        const std::string path = dir / "img.tif";
        dockit::WriteTiff(path, 100, 100, 72);
        UIDRef image = dockit::PlaceFile(dockit::AddFrame(db.get(), PMRect(0, 0, 100, 100)), path);
        dockit::SetMatrix(image, m);
        return image;
    }
    TempDir dir;
    std::unique_ptr<IDataBase> db;
};

TEST_F(PlacedResamplingTest, TheImagesMatrixGivesTheScale) {
    const UIDRef item = Image(PMMatrix::MakeScale(0.5, -0.5));
    const OD_ProcData big = OrderAt(2400);
    int factor = 0;
    EXPECT_EQ(CheckResampling(item, &big, OD_PrefsData(), factor), kODResamplingTooBig);
    EXPECT_EQ(factor, 120);
    const OD_ProcData fine = OrderAt(300);
    EXPECT_EQ(CheckResampling(item, &fine, OD_PrefsData(), factor), kODResamplingOK);
}

TEST_F(PlacedResamplingTest, NoGeometryOrNoOrderPasses) {
    Image(PMMatrix());
    const OD_ProcData big = OrderAt(2400);
    int factor = 3;
    EXPECT_EQ(CheckResampling(UIDRef(db.get(), kInvalidUID), &big, OD_PrefsData(), factor),
              kODResamplingOK);
    EXPECT_EQ(factor, 3);
}

} // namespace
