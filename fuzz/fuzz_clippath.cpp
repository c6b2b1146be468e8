// Feeds arbitrary bytes to the reader of Photoshop image resources. Whatever
// it accepts holds only knots inside subpaths, and every point is a number.
#include "ClipPath.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const clip::ReadResult r = clip::ParseImageResources(data, size, 857, 1800);
    if (!r.ok) {
        if (r.error.empty()) {
            std::abort(); // a refusal always says why
        }
        return 0;
    }
    for (const clip::Path& p : r.list.paths) {
        const clip::Box b = clip::AnchorBounds(p);
        if (!std::isfinite(b.x0 + b.y0 + b.x1 + b.y1)) {
            std::abort();
        }
    }
    return 0;
}
