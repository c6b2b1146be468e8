#pragma once

// The links of placed images: the file URIs the page-layout application
// writes (file:///C:/..., file:/Volumes/..., file:///Volumes/...) taken to
// paths, and foreign paths taken to local ones through the link path map.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace idml {

// The path of a file URI, percent-decoded: "file:/Volumes/a%20b.jpg" gives
// "/Volumes/a b.jpg", "file:///C:/x.jpg" gives "C:/x.jpg" and
// "file://server/share/x.jpg" gives "//server/share/x.jpg". Backslashes become
// slashes. Nothing for a text that is not a file URI or decodes to a NUL or
// to bad percent-escapes.
std::optional<std::string> PathOfFileURI(std::string_view uri);
// The file URI of a path: "C:/x" gives "file:///C:/x", "/a b" "file:/a%20b".
std::string FileURIOfPath(std::string_view path);

// Pairs of a foreign path prefix and the local folder that stands for it. A
// prefix matches whole path components (ASCII letters matched without regard
// to case, as the file systems of those machines do): "/Volumes/Jobs"
// matches "/Volumes/Jobs/a.jpg" but not "/Volumes/Jobs2/a.jpg". The longest
// matching prefix wins.
class LinkMap {
public:
    // False, with a reason, for an empty prefix or folder.
    bool Add(const std::string& foreignPrefix, const std::string& localFolder, std::string& why);
    bool Remove(const std::string& foreignPrefix);
    void Clear() { entries.clear(); }
    const std::vector<std::pair<std::string, std::string>>& Entries() const { return entries; }

    // The local path of a foreign one, or nothing when no prefix matches (or
    // the rest would climb out of the folder with "..").
    std::optional<std::string> ToLocal(std::string_view foreignPath) const;
    // The foreign path of a local one under a mapped folder, or nothing.
    std::optional<std::string> ToForeign(std::string_view localPath) const;

private:
    std::vector<std::pair<std::string, std::string>> entries;
};

// The map of the session: `linkmap add` sets it, opening IDML uses it.
LinkMap& SessionLinkMap();

} // namespace idml
