#include "AreaCheck.h"

#include "DocumentModel.h"
#include "IGeometry.h"
#include "IHierarchy.h"
#include "ITransform.h"
#include "PMMatrix.h"

#include <cmath>

namespace dockit {

std::array<PMPoint, 4> VisibleArea(const UIDRef& image) {
    PMMatrix inverse = InterfaceOf<ITransform>(image)->GetInnerToParentMatrix();
    EXPECT_TRUE(inverse.Invert());
    UIDRef frame(image.GetDataBase(), InterfaceOf<IHierarchy>(image)->GetParentUID());
    PMRect f = InterfaceOf<IGeometry>(frame)->GetBoundingBox();
    std::array<PMPoint, 4> corners = {f.LeftTop(), f.RightTop(), f.RightBottom(), f.LeftBottom()};
    for (PMPoint& p : corners) {
        inverse.Transform(p);
    }
    return corners;
}

::testing::AssertionResult SameArea(const std::array<PMPoint, 4>& got,
                                    const std::array<PMPoint, 4>& want, double eps) {
    for (std::size_t i = 0; i < got.size(); ++i) {
        if (!(std::fabs(got[i].X() - want[i].X()) <= eps) ||
            !(std::fabs(got[i].Y() - want[i].Y()) <= eps)) {
            return ::testing::AssertionFailure()
                   << "corner " << i << ": " << got[i] << " instead of " << want[i];
        }
    }
    return ::testing::AssertionSuccess();
}

} // namespace dockit
