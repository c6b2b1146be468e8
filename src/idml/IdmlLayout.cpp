// Reading the spreads of an IDML package: pages, page items, placed images.

#include "IdmlLayout.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace idml {

namespace {

// Page items may nest this deep in a spread (a placed image one level
// deeper), as deep as the host's model takes; deeper ones are refused.
constexpr int kMaxDepth = 63;

struct KindEntry {
    const char* element;
    ItemKind kind;
};
constexpr KindEntry kKinds[] = {
    {"Rectangle", ItemKind::kRectangle}, {"Oval", ItemKind::kOval},
    {"Polygon", ItemKind::kPolygon},     {"GraphicLine", ItemKind::kGraphicLine},
    {"TextFrame", ItemKind::kTextFrame}, {"Group", ItemKind::kGroup},
};
constexpr const char* kImageElements[] = {"Image", "EPS", "PDF", "ImportedPage"};

const KindEntry* KindOf(const char* element) {
    for (const KindEntry& k : kKinds) {
        if (std::strcmp(k.element, element) == 0) {
            return &k;
        }
    }
    return nullptr;
}

bool IsImageElement(const char* element) {
    for (const char* e : kImageElements) {
        if (std::strcmp(e, element) == 0) {
            return true;
        }
    }
    return false;
}

// The box around a path's points (anchors and direction points), or false
// when there is no path.
bool PathBox(pugi::xml_node item, PMRect& box) {
    bool any = false;
    double minX = 0, minY = 0, maxX = 0, maxY = 0;
    pugi::xml_node geometry = item.child("Properties").child("PathGeometry");
    for (pugi::xml_node path : geometry.children("GeometryPathType")) {
        for (pugi::xml_node point : path.child("PathPointArray").children("PathPointType")) {
            for (const char* attr : {"Anchor", "LeftDirection", "RightDirection"}) {
                double xy[2];
                if (!ParseNumbers(point.attribute(attr).value(), xy, 2)) {
                    continue;
                }
                if (!any) {
                    minX = maxX = xy[0];
                    minY = maxY = xy[1];
                    any = true;
                }
                minX = std::min(minX, xy[0]);
                maxX = std::max(maxX, xy[0]);
                minY = std::min(minY, xy[1]);
                maxY = std::max(maxY, xy[1]);
            }
        }
    }
    if (any) {
        box = PMRect(minX, minY, maxX, maxY);
    }
    return any;
}

PMMatrix TransformOf(pugi::xml_node node, const std::string& what,
                     std::vector<std::string>& warnings) {
    PMMatrix m;
    pugi::xml_attribute a = node.attribute("ItemTransform");
    if (a && !ParseMatrix(a.value(), m)) {
        warnings.push_back(what + ": its ItemTransform \"" + std::string(a.value()).substr(0, 80) +
                           "\" is not six numbers; the identity is taken");
        m = PMMatrix();
    }
    return m;
}

PlacedImage ReadImage(pugi::xml_node node, std::vector<std::string>& warnings) {
    PlacedImage image;
    image.node = node;
    image.element = node.name();
    image.self = node.attribute("Self").value();
    std::string what = image.element + " " + image.self;
    image.transform = TransformOf(node, what, warnings);
    pugi::xml_node gb = node.child("Properties").child("GraphicBounds");
    double l = 0, t = 0, r = 0, b = 0;
    bool ok = ParseNumbers(gb.attribute("Left").value(), &l, 1) &&
              ParseNumbers(gb.attribute("Top").value(), &t, 1) &&
              ParseNumbers(gb.attribute("Right").value(), &r, 1) &&
              ParseNumbers(gb.attribute("Bottom").value(), &b, 1);
    if (ok && r >= l && b >= t) {
        image.graphicBounds = PMRect(l, t, r, b);
    } else {
        warnings.push_back(what + " has no usable GraphicBounds");
    }
    double ppi[2];
    if (ParseNumbers(node.attribute("ActualPpi").value(), ppi, 2) && ppi[0] > 0 && ppi[1] > 0) {
        image.ppiX = ppi[0];
        image.ppiY = ppi[1];
    }
    image.link = node.child("Link");
    image.linkURI = image.link.attribute("LinkResourceURI").value();
    return image;
}

bool ReadItem(pugi::xml_node node, ItemKind kind, const PMMatrix& parentToSpread,
              const std::map<std::string, std::string>& layers, int depth, PageItem& item,
              std::vector<std::string>& warnings, std::string& why);

// The page items among a node's children, back to front (document order).
bool ReadItems(pugi::xml_node parent, const PMMatrix& toSpread,
               const std::map<std::string, std::string>& layers, int depth,
               std::vector<PageItem>& items, std::vector<std::string>& warnings, std::string& why) {
    for (pugi::xml_node child : parent.children()) {
        if (child.type() != pugi::node_element) {
            continue;
        }
        const KindEntry* k = KindOf(child.name());
        if (k == nullptr) {
            continue;
        }
        PageItem item;
        if (!ReadItem(child, k->kind, toSpread, layers, depth, item, warnings, why)) {
            return false;
        }
        items.push_back(std::move(item));
    }
    return true;
}

bool ReadItem(pugi::xml_node node, ItemKind kind, const PMMatrix& parentToSpread,
              const std::map<std::string, std::string>& layers, int depth, PageItem& item,
              std::vector<std::string>& warnings, std::string& why) {
    if (depth > kMaxDepth) {
        why = "page items nest deeper than " + std::to_string(kMaxDepth) + " levels";
        return false;
    }
    item.kind = kind;
    item.node = node;
    item.self = node.attribute("Self").value();
    std::string what = std::string(node.name()) + " " + item.self;
    item.transform = TransformOf(node, what, warnings);
    item.toSpread = item.transform * parentToSpread;
    if (auto layer = layers.find(node.attribute("ItemLayer").value()); layer != layers.end()) {
        item.layer = layer->second;
    }
    item.hasPath = PathBox(node, item.box);
    if (kind == ItemKind::kGroup) {
        return ReadItems(node, item.toSpread, layers, depth + 1, item.children, warnings, why);
    }
    if (!item.hasPath) {
        warnings.push_back(what + " has no path; its box is empty");
    }
    for (pugi::xml_node child : node.children()) {
        if (child.type() == pugi::node_element && IsImageElement(child.name())) {
            item.images.push_back(ReadImage(child, warnings));
        }
    }
    if (item.images.size() > 1) {
        warnings.push_back(what + " holds " + std::to_string(item.images.size()) +
                           " placed images; only the first is kept in the document");
    }
    return true;
}

void CountItems(const std::vector<PageItem>& items, LayoutCounts& counts) {
    for (const PageItem& item : items) {
        ++counts.items[item.kind];
        counts.images += static_cast<int>(item.images.size());
        CountItems(item.children, counts);
    }
}

} // namespace

const char* KindName(ItemKind kind) {
    for (const KindEntry& k : kKinds) {
        if (k.kind == kind) {
            return k.element;
        }
    }
    return "?";
}

bool ParseNumbers(const char* text, double* out, int count) {
    const char* p = text;
    const char* end = text + std::strlen(text);
    for (int i = 0; i < count; ++i) {
        while (p < end && *p == ' ') {
            ++p;
        }
        auto [next, ec] = std::from_chars(p, end, out[i]);
        if (ec != std::errc() || !std::isfinite(out[i])) {
            return false;
        }
        p = next;
    }
    while (p < end && *p == ' ') {
        ++p;
    }
    return p == end;
}

bool ParseMatrix(const char* text, PMMatrix& m) {
    double v[6];
    if (!ParseNumbers(text, v, 6)) {
        return false;
    }
    m = PMMatrix(v[0], v[1], v[2], v[3], v[4], v[5]);
    return true;
}

std::string FormatNumber(double value) {
    char text[32];
    auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    return ec == std::errc() ? std::string(text, end) : "0";
}

std::string FormatMatrix(const PMMatrix& m) {
    return FormatNumber(m.A()) + " " + FormatNumber(m.B()) + " " + FormatNumber(m.C()) + " " +
           FormatNumber(m.D()) + " " + FormatNumber(m.Tx()) + " " + FormatNumber(m.Ty());
}

bool ReadDesignMap(const pugi::xml_document& designmap, std::vector<std::string>& spreadParts,
                   std::map<std::string, std::string>& layers, std::string& why) {
    pugi::xml_node doc = designmap.child("Document");
    if (!doc) {
        why = "designmap.xml has no Document element";
        return false;
    }
    for (pugi::xml_node child : doc.children()) {
        if (std::strcmp(child.name(), "idPkg:Spread") == 0) {
            std::string src = child.attribute("src").value();
            if (src.empty()) {
                why = "designmap.xml names a spread without its part (src)";
                return false;
            }
            spreadParts.push_back(src);
        } else if (std::strcmp(child.name(), "Layer") == 0) {
            layers[child.attribute("Self").value()] = child.attribute("Name").value();
        }
    }
    return true;
}

bool ReadSpread(const pugi::xml_document& part, const std::map<std::string, std::string>& layers,
                Spread& spread, std::vector<std::string>& warnings, std::string& why) {
    pugi::xml_node node = part.child("idPkg:Spread").child("Spread");
    if (!node) {
        why = "it has no Spread element";
        return false;
    }
    spread.self = node.attribute("Self").value();
    spread.transform = TransformOf(node, "Spread " + spread.self, warnings);
    for (pugi::xml_node p : node.children("Page")) {
        Page page;
        page.self = p.attribute("Self").value();
        page.name = p.attribute("Name").value();
        double gb[4];
        if (!ParseNumbers(p.attribute("GeometricBounds").value(), gb, 4) || gb[2] < gb[0] ||
            gb[3] < gb[1]) {
            why = "page " + page.self + " has no usable GeometricBounds";
            return false;
        }
        page.bounds = PMRect(gb[1], gb[0], gb[3], gb[2]);
        page.transform = TransformOf(p, "Page " + page.self, warnings);
        spread.pages.push_back(std::move(page));
    }
    return ReadItems(node, PMMatrix(), layers, 1, spread.items, warnings, why);
}

bool ReadLayout(const Package& package, Layout& layout, std::string& why) {
    layout = Layout();
    const Part* designmap = package.Find("designmap.xml");
    if (designmap == nullptr || !designmap->xml) {
        why = "the package has no designmap.xml";
        return false;
    }
    std::vector<std::string> parts;
    if (!ReadDesignMap(*designmap->xml, parts, layout.layers, why)) {
        return false;
    }
    for (const std::string& name : parts) {
        const Part* part = package.Find(name);
        if (part == nullptr || !part->xml) {
            why = "designmap.xml names the spread " + name + ", which is not in the package";
            return false;
        }
        Spread spread;
        spread.part = name;
        std::string spreadWhy;
        if (!ReadSpread(*part->xml, layout.layers, spread, layout.warnings, spreadWhy)) {
            why = name + ": " + spreadWhy;
            return false;
        }
        layout.spreads.push_back(std::move(spread));
    }
    return true;
}

LayoutCounts Count(const Layout& layout) {
    LayoutCounts counts;
    counts.spreads = static_cast<int>(layout.spreads.size());
    for (const Spread& s : layout.spreads) {
        counts.pages += static_cast<int>(s.pages.size());
        CountItems(s.items, counts);
    }
    return counts;
}

} // namespace idml
