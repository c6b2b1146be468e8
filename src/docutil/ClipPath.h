#pragma once

// Photoshop paths and the clipping path: the path resources (IDs 2000 to
// 2997) and the clipping path's name (2999) that Photoshop files carry in
// their image resources, TIFF files in tag 34377 and JPEG files in an APP13
// segment, read into Bezier path lists in the image's pixels.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace clip {

struct Point {
    double x = 0; // pixels from the left edge
    double y = 0; // pixels from the top edge
};

// An anchor with the control points of the curve that comes in and of the
// one that goes out; linked when the two move together.
struct Knot {
    Point before;
    Point anchor;
    Point after;
    bool linked = false;
};

struct Subpath {
    bool closed = false;
    std::vector<Knot> knots;
};

struct Path {
    int id = 0;
    std::string name;
    std::vector<Subpath> subpaths;
};

struct Box {
    double x0 = 0;
    double y0 = 0;
    double x1 = 0;
    double y1 = 0;
};

struct PathList {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<Path> paths;
    std::string clippingPathName; // empty when the image names none
    // The path the image names as its clipping path; null when none.
    const Path* ClippingPath() const;
};

struct ReadResult {
    bool ok = false;
    PathList list;
    std::string error; // why, when !ok
};

// Photoshop image resource blocks ("8BIM", ID, name, size, data), with the
// size of the image that the path coordinates are relative to.
ReadResult ParseImageResources(const uint8_t* data, std::size_t size, uint32_t width,
                               uint32_t height);

// The paths of a Photoshop, TIFF or JPEG file. A file of such a kind without
// paths gives an empty list; any other file, or a damaged one, an error.
ReadResult ReadClippingPaths(const std::string& path);

// The knots of every subpath together.
std::size_t KnotCount(const Path& path);

// The box around the anchor points of every subpath; all zero for no knots.
Box AnchorBounds(const Path& path);

} // namespace clip
