#include "PMMatrix.h"
#include "PMPoint.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Matrices are compared axis by axis, relative to the length of each axis, so
// that a tiny axis next to a huge one is still checked at full precision.
testing::AssertionResult MatrixNear(const PMMatrix& actual, const PMMatrix& expected,
                                    double relTol) {
    double xLength = std::hypot(expected.A(), expected.B());
    double yLength = std::hypot(expected.C(), expected.D());
    double xTol = relTol * (xLength > 0 ? xLength : 1.0);
    double yTol = relTol * (yLength > 0 ? yLength : 1.0);
    double tTol = relTol * std::max({1.0, std::fabs(expected.Tx()), std::fabs(expected.Ty())});
    bool ok = std::fabs(actual.A() - expected.A()) <= xTol &&
              std::fabs(actual.B() - expected.B()) <= xTol &&
              std::fabs(actual.C() - expected.C()) <= yTol &&
              std::fabs(actual.D() - expected.D()) <= yTol &&
              std::fabs(actual.Tx() - expected.Tx()) <= tTol &&
              std::fabs(actual.Ty() - expected.Ty()) <= tTol;
    if (ok) {
        return testing::AssertionSuccess();
    }
    std::ostringstream msg;
    msg.precision(17);
    msg << "got " << actual << "\nexpected " << expected;
    return testing::AssertionFailure() << msg.str();
}

testing::AssertionResult PointNear(const PMPoint& actual, const PMPoint& expected, double tol) {
    if (std::fabs(actual.X() - expected.X()) <= tol &&
        std::fabs(actual.Y() - expected.Y()) <= tol) {
        return testing::AssertionSuccess();
    }
    std::ostringstream msg;
    msg.precision(17);
    msg << "got " << actual << ", expected " << expected;
    return testing::AssertionFailure() << msg.str();
}

std::string Describe(const PMMatrix::Parts& p) {
    std::ostringstream out;
    out.precision(17);
    out << "scales (" << p.xScale << ", " << p.yScale << "), skew " << p.xSkew << ", rotation "
        << p.rotation << ", translation (" << p.xTranslation << ", " << p.yTranslation << ")";
    return out.str();
}

// The documented canonical form of the parts of an invertible matrix.
testing::AssertionResult IsCanonical(const PMMatrix& m, const PMMatrix::Parts& p) {
    bool ok = p.xSkew > -90.0 && p.xSkew < 90.0;
    if (m.Determinant() > 0) {
        ok = ok && p.xScale > 0 && p.yScale > 0 && p.rotation > -180.0 && p.rotation <= 180.0;
    } else {
        ok = ok && (p.xScale < 0) != (p.yScale < 0) && p.rotation > -90.0 && p.rotation <= 90.0;
    }
    ok = ok && p.xTranslation == m.Tx() && p.yTranslation == m.Ty();
    if (ok) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << "not canonical: " << Describe(p) << " of " << m;
}

// ---------------------------------------------------------------------------
// Random matrices. Every family is deterministic (fixed seeds).

class MatrixSource {
public:
    explicit MatrixSource(unsigned seed) : rng_(seed) {}

    double Uniform(double lo, double hi) { return std::uniform_real_distribution<>(lo, hi)(rng_); }
    bool Coin() { return std::bernoulli_distribution(0.5)(rng_); }
    // A scale between 1e-4 and 1e4, spread evenly over the decades.
    double Scale() { return std::pow(10.0, Uniform(-4.0, 4.0)); }
    double Sign() { return Coin() ? 1.0 : -1.0; }

    // Parts spread over everything a page item may carry.
    PMMatrix FromParts() {
        double rotation = Uniform(-180.0, 180.0);
        switch (std::uniform_int_distribution<>(0, 3)(rng_)) {
        case 0: // close to a quarter turn
            rotation = 90.0 * std::uniform_int_distribution<>(-2, 2)(rng_) +
                       Sign() * std::pow(10.0, Uniform(-12.0, -1.0));
            break;
        case 1: // exactly a quarter turn
            rotation = 90.0 * std::uniform_int_distribution<>(-2, 2)(rng_);
            break;
        default:
            break;
        }
        return PMMatrix::Compose(Sign() * Scale(), Sign() * Scale(), Uniform(-80.0, 80.0), rotation,
                                 Uniform(-5000.0, 5000.0), Uniform(-5000.0, 5000.0));
    }

    // Six arbitrary entries; the axes are kept at least 0.06 degrees apart.
    PMMatrix FromEntries() {
        for (;;) {
            PMMatrix m(Uniform(-10, 10), Uniform(-10, 10), Uniform(-10, 10), Uniform(-10, 10),
                       Uniform(-1e4, 1e4), Uniform(-1e4, 1e4));
            double axes = std::hypot(m.A(), m.B()) * std::hypot(m.C(), m.D());
            if (std::fabs(m.Determinant()) > 1e-3 * axes) {
                return m;
            }
        }
    }

    // A rotation near a quarter turn, then a mirror of neither, one or both
    // axes, at various scales.
    PMMatrix MirroredNearQuarterTurns() {
        double rotation = 90.0 * std::uniform_int_distribution<>(-4, 4)(rng_) +
                          Uniform(-1e-6, 1e-6) * (Coin() ? 1.0 : 0.0);
        double s = Scale();
        return PMMatrix::MakeRotation(rotation) * PMMatrix::MakeScale(Sign() * s, Sign() * s);
    }

private:
    std::mt19937_64 rng_;
};

using Generator = std::function<PMMatrix(MatrixSource&)>;

struct Family {
    const char* name;
    Generator make;
};

const std::vector<Family>& Families() {
    static const std::vector<Family> families = {
        {"parts", [](MatrixSource& s) { return s.FromParts(); }},
        {"entries", [](MatrixSource& s) { return s.FromEntries(); }},
        {"mirrors near quarter turns",
         [](MatrixSource& s) { return s.MirroredNearQuarterTurns(); }},
        {"products", [](MatrixSource& s) { return s.FromParts() * s.FromEntries(); }},
    };
    return families;
}

constexpr int kCasesPerFamily = 2000;

// ---------------------------------------------------------------------------

TEST(MatrixConvention, RowVectorsMapAxesAndOrigin) {
    PMMatrix m(2, 3, 5, 7, 11, 13);
    struct Case {
        PMPoint in;
        PMPoint out;
    } cases[] = {
        {{0, 0}, {11, 13}}, // origin goes to (tx, ty)
        {{1, 0}, {13, 16}}, // x axis adds (a, b)
        {{0, 1}, {16, 20}}, // y axis adds (c, d)
        {{2, -1}, {4 - 5 + 11, 6 - 7 + 13}},
    };
    for (const Case& c : cases) {
        PMPoint p = c.in;
        m.Transform(p);
        EXPECT_EQ(p, c.out) << "from " << c.in;
        EXPECT_EQ(m.TransformedPoint(c.in), c.out);
        PMPoint v = c.in;
        m.TransformDistance(v);
        EXPECT_EQ(v, c.out - PMPoint(11, 13)) << "distances ignore the translation";
    }
}

TEST(MatrixConvention, ProductsApplyLeftFactorFirst) {
    PMMatrix scale = PMMatrix::MakeScale(2, 3);
    PMMatrix move = PMMatrix::MakeTranslation(10, 20);
    PMPoint p(1, 1);
    EXPECT_EQ((scale * move).TransformedPoint(p), PMPoint(12, 23));
    EXPECT_EQ((move * scale).TransformedPoint(p), PMPoint(22, 63));

    PMMatrix m = scale;
    m.Concat(move);
    EXPECT_EQ(m, scale * move);
    m = scale;
    m.PreConcat(move);
    EXPECT_EQ(m, move * scale);
    m = scale;
    m *= move;
    EXPECT_EQ(m, scale * move);

    m = scale;
    m.Translate(10, 20);
    EXPECT_EQ(m, scale * move) << "builders act after the current matrix";
    PMMatrix built;
    built.Scale(-2, 0.5).SkewX(20).Rotate(130).Translate(7, -9);
    EXPECT_TRUE(MatrixNear(built, PMMatrix::Compose(-2, 0.5, 20, 130, 7, -9), 1e-14));
}

TEST(MatrixConvention, QuarterTurnsAreExact) {
    struct Case {
        double degrees;
        PMMatrix expected;
    } cases[] = {
        {0, {1, 0, 0, 1, 0, 0}},    {90, {0, -1, 1, 0, 0, 0}},   {180, {-1, 0, 0, -1, 0, 0}},
        {270, {0, 1, -1, 0, 0, 0}}, {-90, {0, 1, -1, 0, 0, 0}},  {-180, {-1, 0, 0, -1, 0, 0}},
        {360, {1, 0, 0, 1, 0, 0}},  {-630, {0, -1, 1, 0, 0, 0}}, {450, {0, -1, 1, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        PMMatrix m = PMMatrix::MakeRotation(c.degrees);
        // -0.0 and 0.0 compare equal, so exact equality is the right test.
        EXPECT_EQ(m, c.expected) << c.degrees << " degrees";
    }
}

// ---------------------------------------------------------------------------

TEST(MatrixInvert, InverseUndoesTheMatrix) {
    for (const Family& family : Families()) {
        SCOPED_TRACE(family.name);
        MatrixSource src(21);
        for (int i = 0; i < kCasesPerFamily; ++i) {
            PMMatrix m = family.make(src);
            PMMatrix inv = m;
            ASSERT_TRUE(inv.Invert()) << m;
            PMPoint p(src.Uniform(-1000, 1000), src.Uniform(-1000, 1000));
            PMPoint back = inv.TransformedPoint(m.TransformedPoint(p));
            // The round trip loses what the condition number of m costs.
            double xs = std::hypot(m.A(), m.B());
            double ys = std::hypot(m.C(), m.D());
            double cond = (xs * xs + ys * ys) / std::fabs(m.Determinant());
            double scale = 1000 + std::hypot(m.Tx(), m.Ty()) / std::min(xs, ys);
            ASSERT_TRUE(PointNear(back, p, 1e-13 * cond * scale)) << m;
        }
    }
}

TEST(MatrixInvert, SingularMatricesAreRefusedAndKept) {
    const double nan = std::nan("");
    const double inf = std::numeric_limits<double>::infinity();
    PMMatrix cases[] = {
        {0, 0, 0, 0, 1, 2},         // everything collapses
        {1, 2, 2, 4, 0, 0},         // parallel axes
        {0, 0, 3, 4, 0, 0},         // x axis of length 0
        {1e8, 1, 1e8, 1, 0, 0},     // parallel to 1e-16
        {3, 1, 3 + 1e-14, 1, 0, 0}, // determinant not 0, but axes 1e-15 apart
        {nan, 0, 0, 1, 0, 0},       // not a number
        {1, 0, 0, 1, inf, 0},       // infinite translation
        {-2, 6, 1, -3, 5, 5},       // mirrored and parallel
    };
    for (const PMMatrix& m : cases) {
        EXPECT_TRUE(m.IsSingular()) << m;
        PMMatrix copy = m;
        EXPECT_FALSE(copy.Invert()) << m;
        if (!std::isnan(m.A())) {
            EXPECT_EQ(copy, m) << "a refused inversion changes nothing";
        }
    }
    EXPECT_FALSE(PMMatrix::Compose(1e-4, 1e4, 80, 33).IsSingular())
        << "a lopsided but invertible matrix is not singular";
}

// ---------------------------------------------------------------------------

struct DecompositionCase {
    const char* name;
    PMMatrix matrix;
    PMMatrix::Parts parts;
};

TEST(MatrixDecomposition, DocumentedCases) {
    const double t30 = std::tan(30 * std::acos(-1.0) / 180);
    const DecompositionCase cases[] = {
        {"identity", {}, {1, 1, 0, 0, 0, 0}},
        {"50 %", {0.5, 0, 0, 0.5, 0, 0}, {0.5, 0.5, 0, 0, 0, 0}},
        {"rotation 90", PMMatrix::MakeRotation(90), {1, 1, 0, 90, 0, 0}},
        {"rotation 180", PMMatrix::MakeRotation(180), {1, 1, 0, 180, 0, 0}},
        {"rotation 270", PMMatrix::MakeRotation(270), {1, 1, 0, -90, 0, 0}},
        {"rotation -90", PMMatrix::MakeRotation(-90), {1, 1, 0, -90, 0, 0}},
        {"horizontal mirror", {-1, 0, 0, 1, 0, 0}, {-1, 1, 0, 0, 0, 0}},
        {"vertical mirror", {1, 0, 0, -1, 0, 0}, {1, -1, 0, 0, 0, 0}},
        {"both mirrors are a half turn", {-1, 0, 0, -1, 0, 0}, {1, 1, 0, 180, 0, 0}},
        {"skew 30", {1, 0, -t30, 1, 0, 0}, {1, 1, 30, 0, 0, 0}},
        {"translation only", {1, 0, 0, 1, 36, -72.5}, {1, 1, 0, 0, 36, -72.5}},
        {"mirror then rotation 120",
         PMMatrix::MakeScale(-1, 1) * PMMatrix::MakeRotation(120),
         {1, -1, 0, -60, 0, 0}},
        {"vertical mirror then rotation -100",
         PMMatrix::MakeScale(1, -1) * PMMatrix::MakeRotation(-100),
         {-1, 1, 0, 80, 0, 0}},
        {"mirror of the x axis turned a quarter", {0, 1, 1, 0, 0, 0}, {-1, 1, 0, 90, 0, 0}},
        {"50 % mirrored, rotated 45, moved",
         PMMatrix::MakeScale(-0.5, 0.5) * PMMatrix::MakeRotation(45) *
             PMMatrix::MakeTranslation(10, 20),
         {-0.5, 0.5, 0, 45, 10, 20}},
    };
    for (const DecompositionCase& c : cases) {
        SCOPED_TRACE(c.name);
        PMMatrix::Parts p = c.matrix.Decompose();
        EXPECT_NEAR(p.xScale, c.parts.xScale, 1e-12);
        EXPECT_NEAR(p.yScale, c.parts.yScale, 1e-12);
        EXPECT_NEAR(p.xSkew, c.parts.xSkew, 1e-12);
        EXPECT_NEAR(p.rotation, c.parts.rotation, 1e-12);
        EXPECT_EQ(p.xTranslation, c.parts.xTranslation);
        EXPECT_EQ(p.yTranslation, c.parts.yTranslation);

        EXPECT_TRUE(MatrixNear(PMMatrix::Compose(p), c.matrix, 1e-15));
    }
}

TEST(MatrixDecomposition, SignsAndAnglesOfAxisAlignedMatricesAreExact) {
    // Mirrors and quarter turns must not come out as 179.99999999999997 or
    // -0.9999999999999999: the placement code compares them with thresholds.
    struct Case {
        PMMatrix m;
        double xScale, yScale, rotation;
    } cases[] = {
        {{-1, 0, 0, 1, 0, 0}, -1, 1, 0},   {{1, 0, 0, -1, 0, 0}, 1, -1, 0},
        {{-1, 0, 0, -1, 0, 0}, 1, 1, 180}, {{0, -1, 1, 0, 0, 0}, 1, 1, 90},
        {{0, 1, -1, 0, 0, 0}, 1, 1, -90},  {{0, -1, -1, 0, 0, 0}, 1, -1, 90},
        {{-3, 0, 0, 2, 0, 0}, -3, 2, 0},
    };
    for (const Case& c : cases) {
        PMMatrix::Parts p = c.m.Decompose();
        EXPECT_EQ(p.xScale, c.xScale) << c.m;
        EXPECT_EQ(p.yScale, c.yScale) << c.m;
        EXPECT_EQ(p.rotation, c.rotation) << c.m;
        EXPECT_EQ(p.xSkew, 0.0) << c.m;
    }
}

TEST(MatrixDecomposition, ComposingThePartsGivesTheMatrixBack) {
    for (const Family& family : Families()) {
        SCOPED_TRACE(family.name);
        MatrixSource src(41);
        for (int i = 0; i < kCasesPerFamily; ++i) {
            PMMatrix m = family.make(src);
            PMMatrix::Parts p = m.Decompose();
            ASSERT_TRUE(IsCanonical(m, p));
            ASSERT_TRUE(MatrixNear(PMMatrix::Compose(p), m, 1e-9)) << Describe(p);
        }
    }
}

TEST(MatrixDecomposition, RotationCanBeReadInZeroTo360) {
    struct Case {
        double rotation, expected;
    } cases[] = {{0, 0}, {90, 90}, {-90, 270}, {180, 180}, {-45, 315}, {-179.5, 180.5}};
    for (const Case& c : cases) {
        PMMatrix m = PMMatrix::MakeRotation(c.rotation);
        EXPECT_NEAR(m.GetRotationAngle(true), c.expected, 1e-12) << c.rotation;
        EXPECT_NEAR(m.GetRotationAngle(), c.rotation, 1e-12) << c.rotation;
    }
}

TEST(MatrixDecomposition, SingularMatricesStillGiveParts) {
    struct Case {
        PMMatrix m;
        double xScale, yScale, skew, rotation;
    } cases[] = {
        {{0, 0, 0, 0, 0, 0}, 0, 0, 0, 0},
        {{0, 0, 0, 2, 0, 0}, 0, 2, 0, 0},  // x axis collapsed
        {{0, 0, 3, 0, 0, 0}, 0, 3, 0, 90}, // x axis collapsed, y axis turned
        {{2, 0, 4, 0, 0, 0}, 2, 0, 0, 0},  // y axis on the x axis
    };
    for (const Case& c : cases) {
        PMMatrix::Parts p = c.m.Decompose();
        EXPECT_EQ(p.xScale, c.xScale) << c.m;
        EXPECT_EQ(p.yScale, c.yScale) << c.m;
        EXPECT_EQ(p.xSkew, c.skew) << c.m;
        EXPECT_EQ(p.rotation, c.rotation) << c.m;
    }
}

// ---------------------------------------------------------------------------
// Setting one part about a reference point.

enum class Part { Scale, Rotation, Skew };

struct SetterCase {
    const char* name;
    Part part;
};

void PrintTo(const SetterCase& c, std::ostream* out) {
    *out << c.name;
}

class MatrixSetters : public testing::TestWithParam<SetterCase> {};

TEST_P(MatrixSetters, ChangeOnePartKeepOthersAndTheReferencePoint) {
    const Part part = GetParam().part;
    for (const Family& family : Families()) {
        SCOPED_TRACE(family.name);
        MatrixSource src(61);
        for (int i = 0; i < kCasesPerFamily; ++i) {
            PMMatrix m = family.make(src);
            PMMatrix::Parts before = m.Decompose();
            bool mirrored = m.Determinant() < 0;
            PMPoint about(src.Uniform(-1e3, 1e3), src.Uniform(-1e3, 1e3));
            PMMatrix inverse = m;
            ASSERT_TRUE(inverse.Invert());
            PMPoint pinned = inverse.TransformedPoint(about); // the item's point at `about`

            // New values within the canonical form of m, so they read back.
            PMMatrix::Parts want = before;
            PMMatrix changed = m;
            bool done = false;
            switch (part) {
            case Part::Scale:
                want.xScale = std::copysign(src.Scale(), before.xScale);
                want.yScale = std::copysign(src.Scale(), before.yScale);
                done = changed.SetScale(want.xScale, want.yScale, about);
                break;
            case Part::Rotation:
                want.rotation = mirrored ? src.Uniform(-89.9, 89.9) : src.Uniform(-179.9, 179.9);
                done = changed.SetRotationAngle(want.rotation, about);
                break;
            case Part::Skew:
                want.xSkew = src.Uniform(-80, 80);
                done = changed.SetXSkewAngle(want.xSkew, about);
                break;
            }
            ASSERT_TRUE(done) << m;

            PMMatrix::Parts after = changed.Decompose();
            ASSERT_NEAR(after.xScale / want.xScale, 1.0, 1e-9) << Describe(after);
            ASSERT_NEAR(after.yScale / want.yScale, 1.0, 1e-9) << Describe(after);
            ASSERT_NEAR(after.xSkew, want.xSkew, 1e-8) << Describe(after);
            ASSERT_NEAR(after.rotation, want.rotation, 1e-8) << Describe(after);

            // Same linear part as composing the wanted parts.
            PMMatrix linear = PMMatrix::Compose(want);
            linear.SetTranslation(changed.Tx(), changed.Ty());
            ASSERT_TRUE(MatrixNear(changed, linear, 1e-9));

            // The pinned point did not move on the parent.
            double span =
                std::hypot(pinned.X(), pinned.Y()) *
                    (std::hypot(changed.A(), changed.B()) + std::hypot(changed.C(), changed.D())) +
                std::hypot(about.X(), about.Y());
            ASSERT_TRUE(PointNear(changed.TransformedPoint(pinned), about, 1e-9 * span + 1e-9))
                << "before " << m << "\nafter " << changed;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EachPart, MatrixSetters,
                         testing::Values(SetterCase{"Scale", Part::Scale},
                                         SetterCase{"Rotation", Part::Rotation},
                                         SetterCase{"Skew", Part::Skew}),
                         [](const testing::TestParamInfo<SetterCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(MatrixSettersAbout, OriginAndOtherPointsStayPut) {
    // A 100 x 50 item at (200, 300), turned 90 degrees about its top-left corner.
    PMMatrix m = PMMatrix::MakeTranslation(200, 300);
    ASSERT_TRUE(m.SetRotationAngle(90, PMPoint(200, 300)));
    EXPECT_TRUE(MatrixNear(m, PMMatrix(0, -1, 1, 0, 200, 300), 1e-15));
    EXPECT_EQ(m.TransformedPoint(PMPoint(100, 0)), PMPoint(200, 200)) << "right edge now points up";

    // Halve it about the parent's origin: the translation halves as well...
    PMMatrix n = PMMatrix::MakeTranslation(200, 300);
    ASSERT_TRUE(n.SetScale(0.5, 0.5));
    EXPECT_TRUE(MatrixNear(n, PMMatrix(0.5, 0, 0, 0.5, 100, 150), 1e-15));
    // ...but not about its own corner.
    n = PMMatrix::MakeTranslation(200, 300);
    ASSERT_TRUE(n.SetScale(0.5, 0.5, PMPoint(200, 300)));
    EXPECT_TRUE(MatrixNear(n, PMMatrix(0.5, 0, 0, 0.5, 200, 300), 1e-15));

    // Skew about the item's bottom-left corner (0, 50) -> (200, 350).
    PMMatrix k = PMMatrix::MakeTranslation(200, 300);
    ASSERT_TRUE(k.SetXSkewAngle(45, PMPoint(200, 350)));
    EXPECT_TRUE(PointNear(k.TransformedPoint(PMPoint(0, 50)), PMPoint(200, 350), 1e-12));
    EXPECT_TRUE(PointNear(k.TransformedPoint(PMPoint(0, 0)), PMPoint(250, 300), 1e-12))
        << "the top edge leans 50 points to the right";
}

TEST(MatrixSettersAbout, SingularMatricesAreLeftAlone) {
    const PMMatrix singular(1, 2, 2, 4, 5, 6);
    PMMatrix m = singular;
    EXPECT_FALSE(m.SetScale(1, 1));
    EXPECT_FALSE(m.SetRotationAngle(30));
    EXPECT_FALSE(m.SetXSkewAngle(10));
    EXPECT_EQ(m, singular);
}

} // namespace
