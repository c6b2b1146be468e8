#pragma once

// An IDML package: the zip of XML parts that the page-layout application
// writes for interchange. Reading checks the package before anything else is
// trusted (entry names, counts, sizes and compression ratios), keeps every
// part's bytes as they were and parses every XML part into a DOM that stays as
// read; writing puts the parts back in their order, each part as read unless
// it was edited. Edits (TextEdits) change a part's text only where they
// apply, so that everything else keeps the application's own formatting.

#include <pugixml.hpp>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace idml {

// What a package may hold; past any of them it is refused.
struct Limits {
    std::size_t maxFileSize = std::size_t{512} << 20; // the zip itself
    std::size_t maxEntries = 20000;
    std::size_t maxEntrySize = std::size_t{256} << 20; // uncompressed
    std::size_t maxTotalSize = std::size_t{1} << 30;   // uncompressed, all entries
    // Uncompressed over compressed size, for entries larger than
    // ratioFloor bytes: text compresses ten- to thirty-fold, a zip bomb by
    // hundreds and more.
    double maxRatio = 200.0;
    std::size_t ratioFloor = std::size_t{1} << 20;
};

struct Part {
    std::string name;  // the entry's name in the zip
    std::string bytes; // as read
    // The parsed XML of .xml parts (null for others), as read.
    std::unique_ptr<pugi::xml_document> xml;
    // The text to write instead of bytes, when changed.
    std::string edited;
    bool changed = false;
    // Its entry in the zip it was read from (-1: none): an unchanged part is
    // copied from there as it was compressed.
    long long index = -1;
};

class Package {
public:
    std::vector<Part> parts;                // in the zip's order
    std::shared_ptr<const std::string> zip; // the bytes read, when read

    Part* Find(std::string_view name);
    const Part* Find(std::string_view name) const;
};

// The parse options every part is read with: declarations, processing
// instructions and comments kept in the DOM too.
inline constexpr unsigned kParseOptions = pugi::parse_full;

// Checks an entry's name: relative, no "..", no empty component, no drive
// letter, no backslash, no control character. Empty when good, else why not.
std::string CheckEntryName(std::string_view name);

// Reads a package from the zip's bytes; false with a reason that names what
// is wrong.
bool ReadPackage(std::string_view zip, Package& package, std::string& why,
                 const Limits& limits = {});
bool ReadPackageFile(const std::string& path, Package& package, std::string& why,
                     const Limits& limits = {});

// The text of a part as it is to be written.
const std::string& PartText(const Part& part);

// Edits of an XML part's text as read, made against the elements of its DOM:
// every byte that no edit touches stays as it was.
class TextEdits {
public:
    explicit TextEdits(const Part& part) : text(part.bytes) {}

    // Sets an attribute (a new one goes right after the element's name);
    // false when the element cannot be found in the text.
    bool SetAttribute(pugi::xml_node element, const char* name, const std::string& value);
    // Puts XML text in as the element's first content (an empty element
    // written as <X/> is opened as <X>...</X>).
    bool InsertFirst(pugi::xml_node element, const std::string& xml);
    // Puts XML text in as the element's last content, before its end tag
    // (false for an element written as <X/>).
    bool InsertLast(pugi::xml_node element, const std::string& xml);
    // Takes an element out, with the line it stood on when it stood alone.
    bool Remove(pugi::xml_node element);

    bool Empty() const { return edits.empty(); }
    std::string Apply() const;

private:
    struct Edit {
        std::size_t at, length;
        int order; // among edits at the same place: content 0, end tags 1
        std::size_t sequence;
        std::string text;
    };
    // The span of the element's start tag: '<' to '>' included.
    bool StartTag(pugi::xml_node element, std::size_t& begin, std::size_t& end) const;
    // Where the end tag of the element whose start tag ends at startEnd
    // begins, counting the elements of the same name nested in it; npos when
    // it has none.
    std::size_t EndTag(pugi::xml_node element, std::size_t startEnd) const;
    void Add(std::size_t at, std::size_t length, int order, std::string value);

    const std::string& text;
    std::vector<Edit> edits;
    std::vector<std::size_t> opened; // start tags of <X/> already opened
};

// The text with &, <, > and " written as entities (and tabs and line breaks
// as character references), for an attribute's value.
std::string EscapeAttribute(const std::string& value);

// The zip of the package (the "mimetype" part first and stored, as the
// format wants); false with a reason.
bool WritePackage(const Package& package, std::string& zip, std::string& why);
// Writes it to a file atomically (whole or not at all).
bool WritePackageFile(const Package& package, const std::string& path, std::string& why);

} // namespace idml
