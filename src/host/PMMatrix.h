#pragma once

#include "PMPoint.h"

#include <iosfwd>

// A 2-D affine transformation of the page: six doubles (a, b, c, d, tx, ty)
// in the row-vector convention. A point (x, y) is taken to
//
//     x' = a*x + c*y + tx
//     y' = b*x + d*y + ty
//
// that is [x' y' 1] = [x y 1] * | a  b  0 |
//                               | c  d  0 |
//                               | tx ty 1 |
//
// so (a, b) is where the x axis goes, (c, d) where the y axis goes and
// (tx, ty) where the origin goes. Page coordinates have y growing downward.
//
// Products read left to right in the order the transformations happen:
// (m1 * m2) applies m1 first, then m2. A page item's matrix maps the item's
// own coordinates to its parent's; a child's matrix times its parent's maps
// the child into the grandparent.
//
// Decomposition (docs/matrix.md has the details): every invertible matrix is
//
//     Compose(xScale, yScale, xSkew, rotation, tx, ty)
//       = MakeScale(xScale, yScale) * MakeXSkew(xSkew) * MakeRotation(rotation)
//         * MakeTranslation(tx, ty)
//
// scale first, then skew, then rotation, then translation. Angles are in
// degrees; a positive rotation turns counter-clockwise as seen on the page, a
// positive x skew leans vertical lines to the right going up (like italic
// type). Canonical parts, as the getters report them: the skew lies in
// (-90, 90); a matrix that keeps orientation (determinant > 0) has both scales
// positive and the rotation in (-180, 180]; a mirroring matrix (determinant
// < 0) has exactly one negative scale and the rotation in (-90, 90]. Compose of
// the parts gives the matrix back.
class PMMatrix {
public:
    struct Parts {
        double xScale = 1.0;
        double yScale = 1.0;
        double xSkew = 0.0;    // degrees, (-90, 90)
        double rotation = 0.0; // degrees
        double xTranslation = 0.0;
        double yTranslation = 0.0;
    };

    // The identity.
    constexpr PMMatrix() noexcept = default;
    constexpr PMMatrix(double a, double b, double c, double d, double tx, double ty) noexcept
        : a_(a), b_(b), c_(c), d_(d), tx_(tx), ty_(ty) {}

    static PMMatrix MakeTranslation(double dx, double dy) noexcept;
    static PMMatrix MakeScale(double xScale, double yScale) noexcept;
    static PMMatrix MakeRotation(double degrees) noexcept;
    static PMMatrix MakeXSkew(double degrees) noexcept;

    // The matrix with these parts (see above). Exact for angles that are
    // multiples of 90 degrees. The skew must lie strictly between -90 and 90.
    static PMMatrix Compose(double xScale, double yScale, double xSkewDegrees,
                            double rotationDegrees, double tx = 0.0, double ty = 0.0) noexcept;
    static PMMatrix Compose(const Parts& parts) noexcept;

    // The canonical parts. For a singular matrix the parts are still filled
    // (a collapsed axis has scale 0 and the angles it cannot tell are 0), but
    // Compose does not always give such a matrix back.
    Parts Decompose() const noexcept;

    constexpr double A() const noexcept { return a_; }
    constexpr double B() const noexcept { return b_; }
    constexpr double C() const noexcept { return c_; }
    constexpr double D() const noexcept { return d_; }
    constexpr double Tx() const noexcept { return tx_; }
    constexpr double Ty() const noexcept { return ty_; }

    constexpr double Determinant() const noexcept { return a_ * d_ - b_ * c_; }
    constexpr bool IsIdentity() const noexcept { return *this == PMMatrix(); }
    // True when the matrix has no inverse: its axes are parallel (or one is
    // zero) to the precision of doubles, or an entry is not finite.
    bool IsSingular() const noexcept;

    // Moves the point through the matrix.
    void Transform(PMPoint& p) const noexcept;
    PMPoint TransformedPoint(const PMPoint& p) const noexcept;
    // Moves a distance through the linear part only (no translation).
    void TransformDistance(PMPoint& v) const noexcept;

    // *this = *this * then: the result applies this matrix, then `then`.
    PMMatrix& Concat(const PMMatrix& then) noexcept;
    // *this = first * *this: the result applies `first`, then this matrix.
    PMMatrix& PreConcat(const PMMatrix& first) noexcept;
    PMMatrix& operator*=(const PMMatrix& then) noexcept { return Concat(then); }
    friend PMMatrix operator*(const PMMatrix& first, const PMMatrix& then) noexcept;

    // Replaces the matrix by its inverse; false (and nothing changed) when it
    // is singular.
    bool Invert() noexcept;

    // Builders: each appends a transformation that happens after the current
    // one, in the parent's coordinates (about the parent's origin).
    PMMatrix& Translate(double dx, double dy) noexcept;
    PMMatrix& Scale(double xScale, double yScale) noexcept;
    PMMatrix& Rotate(double degrees) noexcept;
    PMMatrix& SkewX(double degrees) noexcept;

    // The canonical parts one by one.
    double GetXScale() const noexcept { return Decompose().xScale; }
    double GetYScale() const noexcept { return Decompose().yScale; }
    // The rotation in (-180, 180] (mirrored: (-90, 90]); with zeroTo360 set
    // the same angle in [0, 360).
    double GetRotationAngle(bool zeroTo360 = false) const noexcept;
    double GetXSkewAngle() const noexcept { return Decompose().xSkew; }
    constexpr double GetXTranslation() const noexcept { return tx_; }
    constexpr double GetYTranslation() const noexcept { return ty_; }

    // Setters that change one part and keep the others as the getters report
    // them. The reference point is in the parent's coordinates (where the
    // matrix maps to): the point of the item that sits there stays there, and
    // the translation follows. Each returns false, changing nothing, when the
    // matrix is singular (there is no rotation or skew to keep). The result
    // is read back in canonical form: setting a mirroring scale on a matrix
    // rotated by more than 90 degrees reports the other, equivalent parts.
    bool SetScale(double xScale, double yScale, const PMPoint& about = PMPoint()) noexcept;
    bool SetRotationAngle(double degrees, const PMPoint& about = PMPoint()) noexcept;
    bool SetXSkewAngle(double degrees, const PMPoint& about = PMPoint()) noexcept;
    constexpr void SetTranslation(double tx, double ty) noexcept {
        tx_ = tx;
        ty_ = ty;
    }

    friend constexpr bool operator==(const PMMatrix& x, const PMMatrix& y) noexcept = default;

private:
    // Takes the linear part of `linear` and sets the translation so that the
    // point that this matrix took to `about` still goes there.
    bool ReplaceLinearPart(const PMMatrix& linear, const PMPoint& about) noexcept;

    double a_ = 1.0;
    double b_ = 0.0;
    double c_ = 0.0;
    double d_ = 1.0;
    double tx_ = 0.0;
    double ty_ = 0.0;
};

std::ostream& operator<<(std::ostream& out, const PMMatrix& m);
