#pragma once

#include <ostream>

// A point (or a distance) on the page, in points; y grows downward.
class PMPoint {
public:
    constexpr PMPoint() noexcept = default;
    constexpr PMPoint(double x, double y) noexcept : x_(x), y_(y) {}

    constexpr double X() const noexcept { return x_; }
    constexpr double Y() const noexcept { return y_; }
    constexpr void X(double x) noexcept { x_ = x; }
    constexpr void Y(double y) noexcept { y_ = y; }
    constexpr void SetX(double x) noexcept { x_ = x; }
    constexpr void SetY(double y) noexcept { y_ = y; }

    constexpr PMPoint& operator+=(const PMPoint& p) noexcept {
        x_ += p.x_;
        y_ += p.y_;
        return *this;
    }
    constexpr PMPoint& operator-=(const PMPoint& p) noexcept {
        x_ -= p.x_;
        y_ -= p.y_;
        return *this;
    }
    friend constexpr PMPoint operator+(PMPoint p, const PMPoint& q) noexcept { return p += q; }
    friend constexpr PMPoint operator-(PMPoint p, const PMPoint& q) noexcept { return p -= q; }
    friend constexpr PMPoint operator-(const PMPoint& p) noexcept { return {-p.x_, -p.y_}; }
    friend constexpr PMPoint operator*(const PMPoint& p, double k) noexcept {
        return {p.x_ * k, p.y_ * k};
    }
    friend constexpr bool operator==(const PMPoint& p, const PMPoint& q) noexcept = default;

    friend std::ostream& operator<<(std::ostream& out, const PMPoint& p) {
        return out << '(' << p.x_ << ", " << p.y_ << ')';
    }

private:
    double x_ = 0.0;
    double y_ = 0.0;
};
