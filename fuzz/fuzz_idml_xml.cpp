// Arbitrary bytes as an IDML part: read as designmap.xml and as a spread, and
// when a spread reads, its items are walked and counted. Nothing may crash or
// read out of bounds, whatever the attributes hold.

#include "IdmlLayout.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    pugi::xml_document doc;
    if (!doc.load_buffer(data, size, idml::kParseOptions)) {
        return 0;
    }
    std::vector<std::string> parts, warnings;
    std::map<std::string, std::string> layers;
    std::string why;
    idml::ReadDesignMap(doc, parts, layers, why);
    idml::Spread spread;
    if (idml::ReadSpread(doc, layers, spread, warnings, why)) {
        idml::Layout layout;
        layout.spreads.push_back(spread);
        idml::LayoutCounts counts = idml::Count(layout);
        if (counts.pages != static_cast<int>(spread.pages.size())) {
            std::abort();
        }
        for (const idml::Page& page : spread.pages) {
            // Bounds that were read are ordered.
            if (page.bounds.Right() < page.bounds.Left() ||
                page.bounds.Bottom() < page.bounds.Top()) {
                std::abort();
            }
        }
    }
    return 0;
}
