#include "PMMatrix.h"

#include <cmath>
#include <numbers>
#include <ostream>

namespace {

constexpr double kDegreesPerRadian = 180.0 / std::numbers::pi;
constexpr double kRadiansPerDegree = std::numbers::pi / 180.0;

// Two axes count as parallel when the sine of the angle between them is below
// this; the inverse would then be mostly rounding noise.
constexpr double kSingularSine = 1e-14;

// The angle in (-180, 180] folded from any angle. fmod is exact, and so is
// the one subtraction that follows.
double FoldDegrees(double degrees) {
    double r = std::fmod(degrees, 360.0);
    if (r > 180.0) {
        r -= 360.0;
    } else if (r <= -180.0) {
        r += 360.0;
    }
    return r;
}

// Sine and cosine of an angle in degrees, exact at the multiples of 90.
void SinCosDegrees(double degrees, double& s, double& c) {
    double r = FoldDegrees(degrees);
    if (r == 0.0) {
        s = 0.0;
        c = 1.0;
    } else if (r == 90.0) {
        s = 1.0;
        c = 0.0;
    } else if (r == 180.0) {
        s = 0.0;
        c = -1.0;
    } else if (r == -90.0) {
        s = -1.0;
        c = 0.0;
    } else {
        s = std::sin(r * kRadiansPerDegree);
        c = std::cos(r * kRadiansPerDegree);
    }
}

double TanDegrees(double degrees) {
    return degrees == 0.0 ? 0.0 : std::tan(degrees * kRadiansPerDegree);
}

// The direction of (x, y) in degrees, (-180, 180], exact along the axes.
// Note the sign: callers pass y already turned so that positive means up.
double DirectionDegrees(double y, double x) {
    if (y == 0.0) {
        return x < 0.0 ? 180.0 : 0.0;
    }
    if (x == 0.0) {
        return y > 0.0 ? 90.0 : -90.0;
    }
    double angle = std::atan2(y, x) * kDegreesPerRadian;
    return angle <= -180.0 ? angle + 360.0 : angle;
}

} // namespace

PMMatrix PMMatrix::MakeTranslation(double dx, double dy) noexcept {
    return {1.0, 0.0, 0.0, 1.0, dx, dy};
}

PMMatrix PMMatrix::MakeScale(double xScale, double yScale) noexcept {
    return {xScale, 0.0, 0.0, yScale, 0.0, 0.0};
}

// With y growing downward, counter-clockwise on the page takes the x axis
// to (cos, -sin) and the y axis to (sin, cos).
PMMatrix PMMatrix::MakeRotation(double degrees) noexcept {
    double s = 0.0;
    double c = 1.0;
    SinCosDegrees(degrees, s, c);
    return {c, -s, s, c, 0.0, 0.0};
}

// The y axis leans: a point above the x axis (negative y) moves right.
PMMatrix PMMatrix::MakeXSkew(double degrees) noexcept {
    return {1.0, 0.0, -TanDegrees(degrees), 1.0, 0.0, 0.0};
}

PMMatrix PMMatrix::Compose(double xScale, double yScale, double xSkewDegrees,
                           double rotationDegrees, double tx, double ty) noexcept {
    // MakeScale * MakeXSkew * MakeRotation * MakeTranslation, multiplied out.
    double s = 0.0;
    double c = 1.0;
    SinCosDegrees(rotationDegrees, s, c);
    double t = TanDegrees(xSkewDegrees);
    return {xScale * c, -xScale * s, yScale * (s - t * c), yScale * (c + t * s), tx, ty};
}

PMMatrix PMMatrix::Compose(const Parts& p) noexcept {
    return Compose(p.xScale, p.yScale, p.xSkew, p.rotation, p.xTranslation, p.yTranslation);
}

PMMatrix::Parts PMMatrix::Decompose() const noexcept {
    // The x axis goes to xScale * (cos r, -sin r): its length is |xScale| and
    // its direction (measured with y up) is the rotation. The y axis goes to
    // yScale * (sin r - tan k * cos r, cos r + tan k * sin r); turned back by
    // the rotation it is yScale * (-tan k, 1).
    Parts p;
    p.xTranslation = tx_;
    p.yTranslation = ty_;
    double xLength = std::hypot(a_, b_);
    if (xLength == 0.0) {
        p.xScale = 0.0;
        p.xSkew = 0.0;
        p.yScale = std::hypot(c_, d_);
        p.rotation = p.yScale == 0.0 ? 0.0 : DirectionDegrees(c_, d_);
        return p;
    }
    double rotation = DirectionDegrees(-b_, a_);
    double xScale = xLength;
    if (Determinant() < 0.0 && !(rotation > -90.0 && rotation <= 90.0)) {
        // A mirror keeps its rotation within a quarter turn either way; the x
        // axis then points against its direction and the x scale is negative.
        xScale = -xLength;
        rotation += rotation > 0.0 ? -180.0 : 180.0;
    }
    double cosR = a_ / xScale;
    double sinR = -b_ / xScale;
    double yScale = sinR * c_ + cosR * d_;
    double lean = sinR * d_ - cosR * c_; // yScale * tan(skew)
    p.xScale = xScale;
    p.yScale = yScale;
    p.rotation = rotation;
    p.xSkew = yScale == 0.0 ? 0.0 : std::atan(lean / yScale) * kDegreesPerRadian;
    return p;
}

bool PMMatrix::IsSingular() const noexcept {
    double det = Determinant();
    if (!std::isfinite(det) || !std::isfinite(tx_) || !std::isfinite(ty_)) {
        return true;
    }
    double axes = std::hypot(a_, b_) * std::hypot(c_, d_);
    return det == 0.0 || !(std::fabs(det) > kSingularSine * axes);
}

void PMMatrix::Transform(PMPoint& p) const noexcept {
    double x = p.X();
    double y = p.Y();
    p = PMPoint(a_ * x + c_ * y + tx_, b_ * x + d_ * y + ty_);
}

PMPoint PMMatrix::TransformedPoint(const PMPoint& p) const noexcept {
    PMPoint q = p;
    Transform(q);
    return q;
}

void PMMatrix::TransformDistance(PMPoint& v) const noexcept {
    double x = v.X();
    double y = v.Y();
    v = PMPoint(a_ * x + c_ * y, b_ * x + d_ * y);
}

PMMatrix operator*(const PMMatrix& m, const PMMatrix& n) noexcept {
    return {m.a_ * n.a_ + m.b_ * n.c_,           m.a_ * n.b_ + m.b_ * n.d_,
            m.c_ * n.a_ + m.d_ * n.c_,           m.c_ * n.b_ + m.d_ * n.d_,
            m.tx_ * n.a_ + m.ty_ * n.c_ + n.tx_, m.tx_ * n.b_ + m.ty_ * n.d_ + n.ty_};
}

PMMatrix& PMMatrix::Concat(const PMMatrix& then) noexcept {
    *this = *this * then;
    return *this;
}

PMMatrix& PMMatrix::PreConcat(const PMMatrix& first) noexcept {
    *this = first * *this;
    return *this;
}

bool PMMatrix::Invert() noexcept {
    if (IsSingular()) {
        return false;
    }
    double det = Determinant();
    double ia = d_ / det;
    double ib = -b_ / det;
    double ic = -c_ / det;
    double id = a_ / det;
    double itx = -(tx_ * ia + ty_ * ic);
    double ity = -(tx_ * ib + ty_ * id);
    *this = PMMatrix(ia, ib, ic, id, itx, ity);
    return true;
}

PMMatrix& PMMatrix::Translate(double dx, double dy) noexcept {
    return Concat(MakeTranslation(dx, dy));
}

PMMatrix& PMMatrix::Scale(double xScale, double yScale) noexcept {
    return Concat(MakeScale(xScale, yScale));
}

PMMatrix& PMMatrix::Rotate(double degrees) noexcept {
    return Concat(MakeRotation(degrees));
}

PMMatrix& PMMatrix::SkewX(double degrees) noexcept {
    return Concat(MakeXSkew(degrees));
}

double PMMatrix::GetRotationAngle(bool zeroTo360) const noexcept {
    double rotation = Decompose().rotation;
    if (zeroTo360 && rotation < 0.0) {
        rotation += 360.0;
    }
    return rotation;
}

bool PMMatrix::ReplaceLinearPart(const PMMatrix& linear, const PMPoint& about) noexcept {
    PMMatrix inverse = *this;
    if (!inverse.Invert()) {
        return false;
    }
    PMPoint inner = inverse.TransformedPoint(about);
    a_ = linear.a_;
    b_ = linear.b_;
    c_ = linear.c_;
    d_ = linear.d_;
    tx_ = about.X() - (a_ * inner.X() + c_ * inner.Y());
    ty_ = about.Y() - (b_ * inner.X() + d_ * inner.Y());
    return true;
}

bool PMMatrix::SetScale(double xScale, double yScale, const PMPoint& about) noexcept {
    if (IsSingular()) {
        return false;
    }
    Parts p = Decompose();
    p.xScale = xScale;
    p.yScale = yScale;
    return ReplaceLinearPart(Compose(p), about);
}

bool PMMatrix::SetRotationAngle(double degrees, const PMPoint& about) noexcept {
    if (IsSingular()) {
        return false;
    }
    Parts p = Decompose();
    p.rotation = degrees;
    return ReplaceLinearPart(Compose(p), about);
}

bool PMMatrix::SetXSkewAngle(double degrees, const PMPoint& about) noexcept {
    if (IsSingular()) {
        return false;
    }
    Parts p = Decompose();
    p.xSkew = degrees;
    return ReplaceLinearPart(Compose(p), about);
}

std::ostream& operator<<(std::ostream& out, const PMMatrix& m) {
    return out << "[a " << m.A() << ", b " << m.B() << ", c " << m.C() << ", d " << m.D() << ", tx "
               << m.Tx() << ", ty " << m.Ty() << ']';
}
