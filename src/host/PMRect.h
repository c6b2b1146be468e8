#pragma once

#include "PMPoint.h"

#include <iosfwd>

// An axis-parallel rectangle on the page: left, top, right, bottom in points,
// y growing downward, so top is the smaller y of a rectangle that is not
// empty. The edges are kept as given; a rectangle whose right lies left of its
// left (or whose bottom lies above its top) has a negative width (height).
class PMRect {
public:
    constexpr PMRect() noexcept = default;
    constexpr PMRect(double left, double top, double right, double bottom) noexcept
        : left_(left), top_(top), right_(right), bottom_(bottom) {}
    constexpr PMRect(const PMPoint& leftTop, const PMPoint& rightBottom) noexcept
        : PMRect(leftTop.X(), leftTop.Y(), rightBottom.X(), rightBottom.Y()) {}

    constexpr double Left() const noexcept { return left_; }
    constexpr double Top() const noexcept { return top_; }
    constexpr double Right() const noexcept { return right_; }
    constexpr double Bottom() const noexcept { return bottom_; }
    constexpr void Left(double v) noexcept { left_ = v; }
    constexpr void Top(double v) noexcept { top_ = v; }
    constexpr void Right(double v) noexcept { right_ = v; }
    constexpr void Bottom(double v) noexcept { bottom_ = v; }

    constexpr PMPoint LeftTop() const noexcept { return {left_, top_}; }
    constexpr PMPoint RightTop() const noexcept { return {right_, top_}; }
    constexpr PMPoint RightBottom() const noexcept { return {right_, bottom_}; }
    constexpr PMPoint LeftBottom() const noexcept { return {left_, bottom_}; }
    constexpr PMPoint GetCenter() const noexcept {
        return {(left_ + right_) / 2.0, (top_ + bottom_) / 2.0};
    }

    constexpr double Width() const noexcept { return right_ - left_; }
    constexpr double Height() const noexcept { return bottom_ - top_; }

    // True when the rectangle encloses no area (width or height 0 or less).
    constexpr bool IsEmpty() const noexcept { return !(right_ > left_ && bottom_ > top_); }

    // Moves all four edges by (dx, dy); the size stays.
    void MoveRel(double dx, double dy) noexcept;

    friend constexpr bool operator==(const PMRect& x, const PMRect& y) noexcept = default;

private:
    double left_ = 0.0;
    double top_ = 0.0;
    double right_ = 0.0;
    double bottom_ = 0.0;
};

std::ostream& operator<<(std::ostream& out, const PMRect& r);
