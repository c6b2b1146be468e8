#include "PMRect.h"

#include <ostream>

void PMRect::MoveRel(double dx, double dy) noexcept {
    left_ += dx;
    right_ += dx;
    top_ += dy;
    bottom_ += dy;
}

void PMRect::MoveTo(double left, double top) noexcept {
    right_ += left - left_;
    bottom_ += top - top_;
    left_ = left;
    top_ = top;
}

void PMRect::Inset(double dx, double dy) noexcept {
    left_ += dx;
    right_ -= dx;
    top_ += dy;
    bottom_ -= dy;
}

std::ostream& operator<<(std::ostream& out, const PMRect& r) {
    return out << '[' << r.Left() << ", " << r.Top() << ", " << r.Right() << ", " << r.Bottom()
               << ']';
}
