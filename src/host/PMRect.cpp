#include "PMRect.h"

#include <ostream>

void PMRect::MoveRel(double dx, double dy) noexcept {
    left_ += dx;
    right_ += dx;
    top_ += dy;
    bottom_ += dy;
}

std::ostream& operator<<(std::ostream& out, const PMRect& r) {
    return out << '[' << r.Left() << ", " << r.Top() << ", " << r.Right() << ", " << r.Bottom()
               << ']';
}
