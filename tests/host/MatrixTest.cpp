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
#include <tuple>
#include <vector>

namespace {

template <class T> std::string Text(const T& v) {
    std::ostringstream out;
    out.precision(17);
    out << v;
    return out.str();
}

// Axis by axis, relative to the length of each axis, so that a tiny axis next
// to a huge one is still checked at full precision.
testing::AssertionResult MatrixNear(const PMMatrix& got, const PMMatrix& want, double rel) {
    auto tol = [rel](double x, double y) {
        double n = std::hypot(x, y);
        return rel * (n > 0 ? n : 1.0);
    };
    double xt = tol(want.A(), want.B()), yt = tol(want.C(), want.D());
    double tt = rel * std::max({1.0, std::fabs(want.Tx()), std::fabs(want.Ty())});
    bool ok = std::fabs(got.A() - want.A()) <= xt && std::fabs(got.B() - want.B()) <= xt &&
              std::fabs(got.C() - want.C()) <= yt && std::fabs(got.D() - want.D()) <= yt &&
              std::fabs(got.Tx() - want.Tx()) <= tt && std::fabs(got.Ty() - want.Ty()) <= tt;
    return ok ? testing::AssertionSuccess()
              : testing::AssertionFailure() << "got " << Text(got) << "\nexpected " << Text(want);
}

std::string Describe(const PMMatrix::Parts& p) {
    return "scales (" + Text(p.xScale) + ", " + Text(p.yScale) + "), skew " + Text(p.xSkew) +
           ", rotation " + Text(p.rotation) + ", translation (" + Text(p.xTranslation) + ", " +
           Text(p.yTranslation) + ")";
}

auto Angles(const PMMatrix::Parts& p) {
    return std::tuple(p.xScale, p.yScale, p.xSkew, p.rotation);
}

// The documented canonical form of the parts of an invertible matrix.
testing::AssertionResult IsCanonical(const PMMatrix& m, const PMMatrix::Parts& p) {
    bool ok =
        p.xSkew > -90.0 && p.xSkew < 90.0 && p.xTranslation == m.Tx() && p.yTranslation == m.Ty();
    if (m.Determinant() > 0) {
        ok = ok && p.xScale > 0 && p.yScale > 0 && p.rotation > -180.0 && p.rotation <= 180.0;
    } else {
        ok = ok && (p.xScale < 0) != (p.yScale < 0) && p.rotation > -90.0 && p.rotation <= 90.0;
    }
    return ok ? testing::AssertionSuccess()
              : testing::AssertionFailure() << "not canonical: " << Describe(p) << " of " << m;
}

// Random matrices; every family is deterministic (fixed seeds).
class MatrixSource {
public:
    explicit MatrixSource(unsigned seed) : rng_(seed) {}
    double Uniform(double lo, double hi) { return std::uniform_real_distribution<>(lo, hi)(rng_); }
    int Int(int lo, int hi) { return std::uniform_int_distribution<>(lo, hi)(rng_); }
    bool Coin() { return std::bernoulli_distribution(0.5)(rng_); }
    // A scale between 1e-4 and 1e4, spread evenly over the decades.
    double Scale() { return std::pow(10.0, Uniform(-4.0, 4.0)); }
    double Sign() { return Coin() ? 1.0 : -1.0; }

    // Parts spread over everything a page item may carry, quarter turns and
    // near quarter turns included.
    PMMatrix FromParts() {
        double rotation = Uniform(-180.0, 180.0);
        const int kind = Int(0, 3);
        if (kind == 0) {
            rotation = 90.0 * Int(-2, 2) + Sign() * std::pow(10.0, Uniform(-12.0, -1.0));
        } else if (kind == 1) {
            rotation = 90.0 * Int(-2, 2);
        }
        return PMMatrix::Compose(Sign() * Scale(), Sign() * Scale(), Uniform(-80.0, 80.0), rotation,
                                 Uniform(-5000.0, 5000.0), Uniform(-5000.0, 5000.0));
    }
    // Six arbitrary entries; the axes are kept at least 0.06 degrees apart.
    PMMatrix FromEntries() {
        for (;;) {
            PMMatrix m(Uniform(-10, 10), Uniform(-10, 10), Uniform(-10, 10), Uniform(-10, 10),
                       Uniform(-1e4, 1e4), Uniform(-1e4, 1e4));
            if (std::fabs(m.Determinant()) >
                1e-3 * std::hypot(m.A(), m.B()) * std::hypot(m.C(), m.D())) {
                return m;
            }
        }
    }
    // A rotation near a quarter turn, then a mirror of neither, one or both axes.
    PMMatrix MirroredNearQuarterTurns() {
        double rotation = 90.0 * Int(-4, 4) + Uniform(-1e-6, 1e-6) * (Coin() ? 1.0 : 0.0);
        double s = Scale();
        return PMMatrix::MakeRotation(rotation) * PMMatrix::MakeScale(Sign() * s, Sign() * s);
    }

private:
    std::mt19937_64 rng_;
};

struct Family {
    const char* name;
    std::function<PMMatrix(MatrixSource&)> make;
};
const Family kFamilies[] = {
    {"parts", [](MatrixSource& s) { return s.FromParts(); }},
    {"entries", [](MatrixSource& s) { return s.FromEntries(); }},
    {"mirrors near quarter turns", [](MatrixSource& s) { return s.MirroredNearQuarterTurns(); }},
    {"products", [](MatrixSource& s) { return s.FromParts() * s.FromEntries(); }},
};
constexpr int kCasesPerFamily = 2000;

// Runs check on kCasesPerFamily matrices of every family.
void ForEachMatrix(unsigned seed,
                   const std::function<void(const PMMatrix&, MatrixSource&)>& check) {
    for (const Family& family : kFamilies) {
        SCOPED_TRACE(family.name);
        MatrixSource src(seed);
        for (int i = 0; i < kCasesPerFamily && !testing::Test::HasFatalFailure(); ++i) {
            check(family.make(src), src);
        }
    }
}

TEST(MatrixConvention, ProductsApplyLeftFactorFirst) {
    PMMatrix scale = PMMatrix::MakeScale(2, 3);
    PMMatrix move = PMMatrix::MakeTranslation(10, 20);
    EXPECT_EQ((scale * move).TransformedPoint(PMPoint(1, 1)), PMPoint(12, 23));
    EXPECT_EQ((move * scale).TransformedPoint(PMPoint(1, 1)), PMPoint(22, 63));
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
    // -0.0 and 0.0 compare equal, so exact equality is the right test.
    const std::pair<double, PMMatrix> cases[] = {
        {0, {1, 0, 0, 1, 0, 0}},    {90, {0, -1, 1, 0, 0, 0}},   {180, {-1, 0, 0, -1, 0, 0}},
        {270, {0, 1, -1, 0, 0, 0}}, {-90, {0, 1, -1, 0, 0, 0}},  {-180, {-1, 0, 0, -1, 0, 0}},
        {360, {1, 0, 0, 1, 0, 0}},  {-630, {0, -1, 1, 0, 0, 0}}, {450, {0, -1, 1, 0, 0, 0}},
    };
    for (const auto& [degrees, expected] : cases) {
        EXPECT_EQ(PMMatrix::MakeRotation(degrees), expected) << degrees << " degrees";
    }
}

TEST(MatrixInvert, InverseUndoesTheMatrix) {
    ForEachMatrix(21, [](const PMMatrix& m, MatrixSource& src) {
        PMMatrix inv = m;
        ASSERT_TRUE(inv.Invert()) << m;
        PMPoint p(src.Uniform(-1000, 1000), src.Uniform(-1000, 1000));
        // The round trip loses what the condition number of m costs.
        double xs = std::hypot(m.A(), m.B()), ys = std::hypot(m.C(), m.D());
        double cond = (xs * xs + ys * ys) / std::fabs(m.Determinant());
        double scale = 1000 + std::hypot(m.Tx(), m.Ty()) / std::min(xs, ys);
        PMPoint back = inv.TransformedPoint(m.TransformedPoint(p));
        ASSERT_NEAR(back.X(), p.X(), 1e-13 * cond * scale) << m;
        ASSERT_NEAR(back.Y(), p.Y(), 1e-13 * cond * scale) << m;
    });
}

TEST(MatrixInvert, SingularMatricesAreRefusedAndKept) {
    const double nan = std::nan(""), inf = std::numeric_limits<double>::infinity();
    const PMMatrix cases[] = {
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

// Axis-aligned matrices (mirrors, quarter turns) give exact signs and angles:
// the placement code compares them with thresholds, so 179.99999999999997 or
// -0.9999999999999999 would not do. Singular ones still give parts.
TEST(MatrixDecomposition, DocumentedCases) {
    const double t30 = std::tan(30 * std::acos(-1.0) / 180);
    const struct {
        const char* name;
        PMMatrix matrix;
        PMMatrix::Parts parts;
    } cases[] = {
        {"identity", {}, {1, 1, 0, 0, 0, 0}},
        {"50 %", {0.5, 0, 0, 0.5, 0, 0}, {0.5, 0.5, 0, 0, 0, 0}},
        {"rotation 90", PMMatrix::MakeRotation(90), {1, 1, 0, 90, 0, 0}},
        {"rotation 180", PMMatrix::MakeRotation(180), {1, 1, 0, 180, 0, 0}},
        {"rotation 270", PMMatrix::MakeRotation(270), {1, 1, 0, -90, 0, 0}},
        {"rotation -90", PMMatrix::MakeRotation(-90), {1, 1, 0, -90, 0, 0}},
        {"horizontal mirror", {-1, 0, 0, 1, 0, 0}, {-1, 1, 0, 0, 0, 0}},
        {"vertical mirror", {1, 0, 0, -1, 0, 0}, {1, -1, 0, 0, 0, 0}},
        {"both mirrors are a half turn", {-1, 0, 0, -1, 0, 0}, {1, 1, 0, 180, 0, 0}},
        {"mirror of both axes turned", {0, -1, -1, 0, 0, 0}, {1, -1, 0, 90, 0, 0}},
        {"unequal mirror", {-3, 0, 0, 2, 0, 0}, {-3, 2, 0, 0, 0, 0}},
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
        {"singular: nothing", {0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0}},
        {"singular: x axis collapsed", {0, 0, 0, 2, 0, 0}, {0, 2, 0, 0, 0, 0}},
        {"singular: x axis collapsed, y turned", {0, 0, 3, 0, 0, 0}, {0, 3, 0, 90, 0, 0}},
        {"singular: y axis on the x axis", {2, 0, 4, 0, 0, 0}, {2, 0, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const PMMatrix& m = c.matrix;
        PMMatrix::Parts p = m.Decompose();
        EXPECT_EQ(p.xTranslation, c.parts.xTranslation);
        EXPECT_EQ(p.yTranslation, c.parts.yTranslation);
        if ((m.B() == 0 && m.C() == 0) || (m.A() == 0 && m.D() == 0) || m.IsSingular()) {
            EXPECT_EQ(Angles(p), Angles(c.parts)) << Describe(p);
        } else {
            EXPECT_NEAR(p.xScale, c.parts.xScale, 1e-12);
            EXPECT_NEAR(p.yScale, c.parts.yScale, 1e-12);
            EXPECT_NEAR(p.xSkew, c.parts.xSkew, 1e-12);
            EXPECT_NEAR(p.rotation, c.parts.rotation, 1e-12);
        }
        if (!m.IsSingular()) {
            EXPECT_TRUE(MatrixNear(PMMatrix::Compose(p), m, 1e-15));
        }
    }
}

TEST(MatrixDecomposition, ComposingThePartsGivesTheMatrixBack) {
    ForEachMatrix(41, [](const PMMatrix& m, MatrixSource&) {
        PMMatrix::Parts p = m.Decompose();
        ASSERT_TRUE(IsCanonical(m, p));
        ASSERT_TRUE(MatrixNear(PMMatrix::Compose(p), m, 1e-9)) << Describe(p);
    });
}

TEST(MatrixDecomposition, RotationCanBeReadInZeroTo360) {
    const std::pair<double, double> cases[] = {{0, 0},     {90, 90},   {-90, 270},
                                               {180, 180}, {-45, 315}, {-179.5, 180.5}};
    for (auto [rotation, expected] : cases) {
        PMMatrix m = PMMatrix::MakeRotation(rotation);
        EXPECT_NEAR(m.GetRotationAngle(true), expected, 1e-12) << rotation;
        EXPECT_NEAR(m.GetRotationAngle(), rotation, 1e-12) << rotation;
    }
}

} // namespace
