#include "ClipPath.h"

#include "IMG_Exception.h"
#include "IMG_File.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>

namespace clip {

namespace {

constexpr std::size_t kRecordBytes = 26;
constexpr int kFirstPath = 2000;
constexpr int kLastPath = 2997;
constexpr int kClippingPathName = 2999;
// Image resources larger than this are not read: paths take kilobytes.
constexpr uint64_t kMaxResourceBytes = 64 * 1024 * 1024;
// Bytes between JPEG segments that are passed over before the file is given up.
constexpr uint64_t kMaxJunkBytes = 64 * 1024;

uint32_t Be16(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 8 | p[1];
}
uint32_t Be32(const uint8_t* p) {
    return Be16(p) << 16 | Be16(p + 2);
}

// 8.24 fixed point, a share of the image's height or width.
double Fixed(const uint8_t* p) {
    return static_cast<int32_t>(Be32(p)) / 16777216.0;
}

// A point as the records store it: vertical first.
Point At(const uint8_t* p, uint32_t width, uint32_t height) {
    return {Fixed(p + 4) * width, Fixed(p) * height};
}

// Path records: subpath length records (0 closed, 3 open) each followed by
// their knots (1, 2 closed; 4, 5 open); fill rules and the clipboard record
// (6, 7, 8) carry nothing a path list keeps.
bool ParsePath(const uint8_t* data, std::size_t size, uint32_t width, uint32_t height, Path& out,
               std::string& why) {
    if (size % kRecordBytes != 0) {
        why = "its records are not whole";
        return false;
    }
    std::size_t knotsLeft = 0;
    for (std::size_t at = 0; at < size; at += kRecordBytes) {
        const uint8_t* r = data + at;
        const uint32_t selector = Be16(r);
        if (selector == 0 || selector == 3) {
            if (knotsLeft != 0) {
                why = "a subpath ends before its knots";
                return false;
            }
            out.subpaths.push_back({selector == 0, {}});
            knotsLeft = Be16(r + 2);
        } else if (selector == 1 || selector == 2 || selector == 4 || selector == 5) {
            if (knotsLeft == 0 || out.subpaths.back().closed != (selector <= 2)) {
                why = "a knot outside its subpath";
                return false;
            }
            out.subpaths.back().knots.push_back(
                {At(r + 2, width, height), At(r + 10, width, height), At(r + 18, width, height),
                 selector == 1 || selector == 4});
            --knotsLeft;
        } else if (selector > 8) {
            why = "a record of unknown kind " + std::to_string(selector);
            return false;
        }
    }
    if (knotsLeft != 0) {
        why = "the last subpath lacks knots";
        return false;
    }
    return true;
}

std::string PascalString(const uint8_t* p, std::size_t room) {
    return room == 0 ? ""
                     : std::string(reinterpret_cast<const char*>(p + 1),
                                   std::min<std::size_t>(p[0], room - 1));
}

std::string ReadPart(std::ifstream& in, uint64_t at, uint64_t n) {
    std::string bytes(n, '\0');
    in.clear(); // an earlier short read leaves the stream failed
    in.seekg(static_cast<std::streamoff>(at));
    in.read(bytes.data(), static_cast<std::streamsize>(n));
    return in.gcount() == static_cast<std::streamsize>(n) ? bytes : std::string();
}

ReadResult Failed(const std::string& why) {
    ReadResult r;
    r.error = why;
    return r;
}

ReadResult FromBytes(const std::string& bytes, uint32_t width, uint32_t height) {
    return ParseImageResources(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), width,
                               height);
}

// The imaging layer's document reader finds the image resources (and checks
// every length of the header against the file on the way).
ReadResult ReadPhotoshop(const std::string& path) {
    IMG_FilePsd document;
    bool header = false;
    try {
        document.Open(path.c_str(), "rb");
        header = document.ReadFileHeader();
    } catch (const IMG_Exception&) {
        header = false;
    }
    if (!header) {
        return Failed("a Photoshop file whose header does not hold up");
    }
    const uint32_t n = document.ResourcesLength();
    if (n > kMaxResourceBytes) {
        return Failed("image resources of " + std::to_string(n) + " bytes");
    }
    std::string resources(n, '\0');
    if (!document.ReadAt(document.ResourcesOffset(), resources.data(), n)) {
        return Failed("a Photoshop file cut short in its image resources");
    }
    return FromBytes(resources, document.Columns(), document.Rows());
}

// Segments up to the start of the scan: APP13 "Photoshop 3.0" blocks (one
// after another when one segment is not enough) and the frame's size.
ReadResult ReadJpeg(std::ifstream& in) {
    std::string resources;
    uint32_t width = 0;
    uint32_t height = 0;
    uint64_t at = 2;
    uint64_t skipped = 0;
    for (;;) {
        const std::string marker = ReadPart(in, at, 2);
        if (marker.size() != 2 || skipped > kMaxJunkBytes) {
            return Failed("a JPEG file whose segments do not follow each other");
        }
        const auto* m = reinterpret_cast<const uint8_t*>(marker.data());
        if (m[0] != 0xFF || m[1] == 0xFF) {
            // Junk before a marker, or fill bytes: passed over, as decoders do.
            ++at;
            ++skipped;
            continue;
        }
        if (m[1] == 0xDA || m[1] == 0xD9) {
            break; // the scan: no more segments with paths
        }
        const std::string field = ReadPart(in, at + 2, 2);
        const uint32_t length =
            field.size() == 2 ? Be16(reinterpret_cast<const uint8_t*>(field.data())) : 0;
        if (length < 2) {
            return Failed("a JPEG segment shorter than its length field");
        }
        const std::string body = ReadPart(in, at + 4, length - 2);
        if (body.size() != length - 2) {
            return Failed("a JPEG file cut short in a segment");
        }
        const auto* b = reinterpret_cast<const uint8_t*>(body.data());
        static constexpr char kTag[] = "Photoshop 3.0";
        if (m[1] == 0xED && body.size() >= sizeof kTag && std::memcmp(b, kTag, sizeof kTag) == 0) {
            resources.append(body, sizeof kTag, std::string::npos);
            if (resources.size() > kMaxResourceBytes) {
                return Failed("image resources of more than " + std::to_string(kMaxResourceBytes) +
                              " bytes");
            }
        }
        const bool frame =
            m[1] >= 0xC0 && m[1] <= 0xCF && m[1] != 0xC4 && m[1] != 0xC8 && m[1] != 0xCC;
        if (frame && body.size() >= 5) {
            height = Be16(b + 1);
            width = Be16(b + 3);
        }
        at += 2 + length;
    }
    return FromBytes(resources, width, height);
}

int Quiet(TIFF*, void*, const char*, const char*, va_list) {
    return 1; // handled: libtiff's complaints do not reach stderr
}

ReadResult ReadTiff(const std::string& path) {
    std::unique_ptr<TIFFOpenOptions, void (*)(TIFFOpenOptions*)> options(TIFFOpenOptionsAlloc(),
                                                                         TIFFOpenOptionsFree);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), static_cast<tmsize_t>(kMaxResourceBytes));
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), Quiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), Quiet, nullptr);
    std::unique_ptr<TIFF, void (*)(TIFF*)> tif(TIFFOpenExt(path.c_str(), "rm", options.get()),
                                               TIFFClose);
    if (!tif) {
        return Failed("not a TIFF file libtiff can open");
    }
    uint32_t width = 0;
    uint32_t height = 0;
    TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height);
    uint32_t count = 0;
    void* data = nullptr;
    if (TIFFGetField(tif.get(), TIFFTAG_PHOTOSHOP, &count, &data) != 1 || data == nullptr) {
        count = 0;
    }
    return ParseImageResources(static_cast<const uint8_t*>(data), count, width, height);
}

} // namespace

const Path* PathList::ClippingPath() const {
    for (const Path& p : paths) {
        if (!clippingPathName.empty() && p.name == clippingPathName) {
            return &p;
        }
    }
    return nullptr;
}

ReadResult ParseImageResources(const uint8_t* data, std::size_t size, uint32_t width,
                               uint32_t height) {
    ReadResult result;
    result.list.width = width;
    result.list.height = height;
    std::size_t at = 0;
    while (at < size) {
        // "8BIM", ID, name (a Pascal string, even in length with its count),
        // data size, data (even in length).
        if (size - at < 12 || std::memcmp(data + at, "8BIM", 4) != 0) {
            return Failed("image resources that are not 8BIM blocks at byte " + std::to_string(at));
        }
        const int id = static_cast<int>(Be16(data + at + 4));
        const std::size_t nameBytes = (std::size_t{data[at + 6]} + 2) & ~std::size_t{1};
        if (size - at - 6 < nameBytes + 4) {
            return Failed("an image resource cut short in its name");
        }
        const std::string name = PascalString(data + at + 6, nameBytes);
        const std::size_t dataAt = at + 6 + nameBytes + 4;
        const std::size_t n = Be32(data + dataAt - 4);
        if (n > size - dataAt) {
            return Failed("image resource " + std::to_string(id) + " runs past the end");
        }
        if (id >= kFirstPath && id <= kLastPath) {
            Path path{id, name, {}};
            std::string why;
            if (!ParsePath(data + dataAt, n, width, height, path, why)) {
                return Failed("path \"" + name + "\" (" + std::to_string(id) + "): " + why);
            }
            result.list.paths.push_back(std::move(path));
        } else if (id == kClippingPathName && n > 0) {
            result.list.clippingPathName = PascalString(data + dataAt, n);
        }
        at = dataAt + n + (n % 2);
    }
    if ((width == 0 || height == 0) && !result.list.paths.empty()) {
        return Failed("paths in an image without a size");
    }
    result.ok = true;
    return result;
}

ReadResult ReadClippingPaths(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open()) {
        return Failed("cannot open " + path);
    }
    std::string magic(4, '\0');
    in.read(magic.data(), 4);
    magic.resize(static_cast<std::size_t>(in.gcount()));
    if (magic == "8BPS") {
        return ReadPhotoshop(path);
    }
    if (magic.size() >= 2 && static_cast<uint8_t>(magic[0]) == 0xFF &&
        static_cast<uint8_t>(magic[1]) == 0xD8) {
        return ReadJpeg(in);
    }
    if (magic == std::string("II*\0", 4) || magic == std::string("MM\0*", 4)) {
        return ReadTiff(path);
    }
    return Failed(path + " is not a Photoshop, TIFF or JPEG file");
}

std::size_t KnotCount(const Path& path) {
    std::size_t n = 0;
    for (const Subpath& s : path.subpaths) {
        n += s.knots.size();
    }
    return n;
}

Box AnchorBounds(const Path& path) {
    Box box;
    bool first = true;
    for (const Subpath& s : path.subpaths) {
        for (const Knot& k : s.knots) {
            if (first) {
                box = {k.anchor.x, k.anchor.y, k.anchor.x, k.anchor.y};
                first = false;
            }
            box = {std::min(box.x0, k.anchor.x), std::min(box.y0, k.anchor.y),
                   std::max(box.x1, k.anchor.x), std::max(box.y1, k.anchor.y)};
        }
    }
    return box;
}

} // namespace clip
