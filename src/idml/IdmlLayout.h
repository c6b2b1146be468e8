#pragma once

// The layout that an IDML package describes: the spreads of designmap.xml in
// order, their pages, and the page items on them with their transformations,
// their outlines' boxes and the images placed in their frames. What is read
// points back into the parts' DOMs, which stay as they were read.

#include "IdmlPackage.h"
#include "PMMatrix.h"
#include "PMRect.h"

#include <map>
#include <string>
#include <vector>

namespace idml {

enum class ItemKind { kRectangle, kOval, kPolygon, kGraphicLine, kTextFrame, kGroup };

// The element name of a kind ("Rectangle", ...).
const char* KindName(ItemKind kind);

// An image, EPS, PDF or imported page placed in a frame.
struct PlacedImage {
    std::string self;
    std::string element;           // "Image", "EPS", "PDF" or "ImportedPage"
    PMMatrix transform;            // into the frame
    PMRect graphicBounds;          // in its own coordinates
    std::string linkURI;           // empty when it has no link
    double ppiX = 0.0, ppiY = 0.0; // ActualPpi, when given
    pugi::xml_node node;
    pugi::xml_node link;
};

struct PageItem {
    ItemKind kind = ItemKind::kRectangle;
    std::string self;
    std::string layer;  // the name of its layer (ItemLayer), or empty
    PMMatrix transform; // into its parent (the spread or its group)
    PMMatrix toSpread;  // through its parents into the spread
    PMRect box;         // of its outline, in its own coordinates
    bool hasPath = false;
    std::vector<PageItem> children;  // of a group, back to front
    std::vector<PlacedImage> images; // placed in a frame (one, normally)
    pugi::xml_node node;
};

struct Page {
    std::string self;
    std::string name;
    PMRect bounds;      // GeometricBounds, in the page's own coordinates
    PMMatrix transform; // onto the spread
};

struct Spread {
    std::string part; // the spread's part in the package
    std::string self;
    PMMatrix transform;
    std::vector<Page> pages;
    std::vector<PageItem> items; // back to front
};

struct Layout {
    std::vector<Spread> spreads;
    std::map<std::string, std::string> layers; // Self -> Name
    std::vector<std::string> warnings;
};

// Number lists as the format writes them; false when the text is not exactly
// that many finite numbers.
bool ParseNumbers(const char* text, double* out, int count);
bool ParseMatrix(const char* text, PMMatrix& m);
// "a b c d tx ty" in the shortest form that reads back the same doubles.
std::string FormatMatrix(const PMMatrix& m);
std::string FormatNumber(double value);

// The spread parts (idPkg:Spread src) in order and the layers of the
// designmap; false with a reason.
bool ReadDesignMap(const pugi::xml_document& designmap, std::vector<std::string>& spreadParts,
                   std::map<std::string, std::string>& layers, std::string& why);
// One spread part; false with a reason. Items of kinds it does not know are
// passed over (and stay in the DOM); oddities go to warnings.
bool ReadSpread(const pugi::xml_document& part, const std::map<std::string, std::string>& layers,
                Spread& spread, std::vector<std::string>& warnings, std::string& why);
// The whole layout of a package that ReadPackage accepted.
bool ReadLayout(const Package& package, Layout& layout, std::string& why);

// Counts over a layout (items inside groups included).
struct LayoutCounts {
    int spreads = 0, pages = 0, images = 0;
    std::map<ItemKind, int> items;
};
LayoutCounts Count(const Layout& layout);

} // namespace idml
