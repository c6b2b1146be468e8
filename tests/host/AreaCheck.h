#pragma once

#include "PMPoint.h"
#include "UIDRef.h"

#include <gtest/gtest.h>

#include <array>

namespace dockit {

// The points of the image, in its own coordinates, under its frame's four
// corners: the part of itself that the image shows.
std::array<PMPoint, 4> VisibleArea(const UIDRef& image);

// Whether two such areas agree corner by corner within eps points.
::testing::AssertionResult SameArea(const std::array<PMPoint, 4>& got,
                                    const std::array<PMPoint, 4>& want, double eps);

} // namespace dockit
