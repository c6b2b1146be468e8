// Reading and writing the zip of an IDML package through libzip.

#include "IdmlPackage.h"

#include "Platform.h"

#include <zip.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <set>
#include <tuple>

namespace idml {

namespace {

const char kMimeType[] = "application/vnd.adobe.indesign-idml-package";

std::string ZipErrorText(zip_error_t* error) {
    const char* text = zip_error_strerror(error);
    return text != nullptr ? text : "unknown zip error";
}

bool EndsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

std::string Quoted(std::string_view name) {
    constexpr std::size_t kShown = 80;
    std::string out;
    for (char c : name.substr(0, kShown)) {
        out += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
    }
    return "\"" + out + (name.size() > kShown ? "...\"" : "\"");
}

// Closes an archive that was opened (and discards it when it was written to).
struct ArchiveCloser {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
using Archive = std::unique_ptr<zip_t, ArchiveCloser>;

bool ReadEntry(zip_t* archive, zip_uint64_t index, std::size_t size, std::string& out,
               std::string& why) {
    zip_file_t* file = zip_fopen_index(archive, index, 0);
    if (file == nullptr) {
        why = ZipErrorText(zip_get_error(archive));
        return false;
    }
    out.resize(size);
    std::size_t got = 0;
    bool ok = true;
    while (got < size) {
        zip_int64_t n = zip_fread(file, out.data() + got, size - got);
        if (n < 0) {
            why = ZipErrorText(zip_file_get_error(file));
            ok = false;
            break;
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    // Never more than the size the directory states: a longer stream is damage.
    char extra = 0;
    if (ok && (got != size || zip_fread(file, &extra, 1) != 0)) {
        why = "its data does not have the size the zip's directory states";
        ok = false;
    }
    zip_fclose(file);
    return ok;
}

} // namespace

Part* Package::Find(std::string_view name) {
    for (Part& p : parts) {
        if (p.name == name) {
            return &p;
        }
    }
    return nullptr;
}

const Part* Package::Find(std::string_view name) const {
    return const_cast<Package*>(this)->Find(name);
}

std::string CheckEntryName(std::string_view name) {
    if (name.empty()) {
        return "an entry has an empty name";
    }
    if (name.front() == '/' || name.find('\\') != std::string_view::npos ||
        (name.size() >= 2 && name[1] == ':')) {
        return "the entry " + Quoted(name) + " has an absolute path";
    }
    for (char c : name) {
        if (static_cast<unsigned char>(c) < 0x20) {
            return "the entry " + Quoted(name) + " has a control character in its name";
        }
    }
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find('/', start);
        std::string_view part =
            name.substr(start, end == std::string_view::npos ? end : end - start);
        if (part == "..") {
            return "the entry " + Quoted(name) + " climbs out of the package (\"..\")";
        }
        if (part.empty() && end != std::string_view::npos) {
            return "the entry " + Quoted(name) + " has an empty folder name";
        }
        if (end == std::string_view::npos) {
            break;
        }
        start = end + 1;
    }
    return {};
}

bool ReadPackage(std::string_view zip, Package& package, std::string& why, const Limits& limits) {
    package.parts.clear();
    package.zip.reset();
    if (zip.size() > limits.maxFileSize) {
        why = "the file is larger than " + std::to_string(limits.maxFileSize >> 20) + " MiB";
        return false;
    }
    if (zip.size() < 4 || zip.substr(0, 2) != "PK") {
        why = "the file is not an IDML package: it is not a zip file";
        return false;
    }
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(zip.data(), zip.size(), 0, &error);
    if (source == nullptr) {
        why = "cannot read the zip: " + ZipErrorText(&error);
        zip_error_fini(&error);
        return false;
    }
    Archive archive(zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error));
    if (!archive) {
        zip_source_free(source);
        why = "the file is not an IDML package: it is not a readable zip file (" +
              ZipErrorText(&error) + ")";
        zip_error_fini(&error);
        return false;
    }
    zip_error_fini(&error);
    zip_int64_t count = zip_get_num_entries(archive.get(), 0);
    if (count < 0 || static_cast<zip_uint64_t>(count) > limits.maxEntries) {
        why = "the package has more than " + std::to_string(limits.maxEntries) + " entries";
        return false;
    }
    // Every entry is checked before any is read.
    std::vector<zip_stat_t> stats(static_cast<std::size_t>(count));
    std::set<std::string> names;
    std::size_t total = 0;
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t& st = stats[static_cast<std::size_t>(i)];
        if (zip_stat_index(archive.get(), static_cast<zip_uint64_t>(i), 0, &st) != 0 ||
            (st.valid & (ZIP_STAT_NAME | ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE)) !=
                (ZIP_STAT_NAME | ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE)) {
            why = "entry " + std::to_string(i + 1) + " of the zip cannot be read";
            return false;
        }
        std::string name = st.name;
        if (std::string bad = CheckEntryName(name); !bad.empty()) {
            why = "the package is refused: " + bad;
            return false;
        }
        if (!names.insert(name).second) {
            why = "the package is refused: the entry " + Quoted(name) + " appears twice";
            return false;
        }
        if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE) {
            why = "the package is refused: the entry " + Quoted(name) + " is encrypted";
            return false;
        }
        if (st.size > limits.maxEntrySize) {
            why = "the package is refused: the entry " + Quoted(name) + " unpacks to " +
                  std::to_string(st.size) + " bytes, more than the limit of " +
                  std::to_string(limits.maxEntrySize);
            return false;
        }
        total += static_cast<std::size_t>(st.size);
        if (total > limits.maxTotalSize) {
            why = "the package is refused: its entries unpack to more than " +
                  std::to_string(limits.maxTotalSize) + " bytes in all";
            return false;
        }
        if (st.size > limits.ratioFloor &&
            static_cast<double>(st.size) >
                limits.maxRatio * static_cast<double>(std::max<zip_uint64_t>(st.comp_size, 1))) {
            why = "the package is refused: the entry " + Quoted(name) +
                  " is compressed more than " + std::to_string(static_cast<int>(limits.maxRatio)) +
                  " to 1 (" + std::to_string(st.size) + " bytes from " +
                  std::to_string(st.comp_size) + "), as in a zip bomb";
            return false;
        }
    }
    for (zip_int64_t i = 0; i < count; ++i) {
        const zip_stat_t& st = stats[static_cast<std::size_t>(i)];
        Part part;
        part.name = st.name;
        part.index = i;
        std::string readWhy;
        if (!ReadEntry(archive.get(), static_cast<zip_uint64_t>(i),
                       static_cast<std::size_t>(st.size), part.bytes, readWhy)) {
            why = "cannot read the entry " + Quoted(part.name) + ": " + readWhy;
            package.parts.clear();
            return false;
        }
        if (EndsWith(part.name, ".xml")) {
            part.xml = std::make_unique<pugi::xml_document>();
            pugi::xml_parse_result r =
                part.xml->load_buffer(part.bytes.data(), part.bytes.size(), kParseOptions);
            if (!r) {
                why = "the part " + Quoted(part.name) +
                      " is not well-formed XML: " + r.description() + " at byte " +
                      std::to_string(r.offset);
                package.parts.clear();
                return false;
            }
        }
        package.parts.push_back(std::move(part));
    }
    package.zip = std::make_shared<const std::string>(zip);
    const Part* designmap = package.Find("designmap.xml");
    if (designmap == nullptr) {
        why = "the file is not an IDML package: it has no designmap.xml";
        package.parts.clear();
        return false;
    }
    if (const Part* mime = package.Find("mimetype"); mime != nullptr && mime->bytes != kMimeType) {
        why = "the file is not an IDML package: its mimetype is " + Quoted(mime->bytes);
        package.parts.clear();
        return false;
    }
    return true;
}

bool ReadPackageFile(const std::string& path, Package& package, std::string& why,
                     const Limits& limits) {
    std::string bytes;
    int err = platform::ReadWholeFile(path.c_str(), limits.maxFileSize, bytes);
    if (err == EFBIG) {
        why = "the file is larger than " + std::to_string(limits.maxFileSize >> 20) + " MiB";
        return false;
    }
    if (err != 0) {
        why = "cannot read " + path + ": " + std::strerror(err);
        return false;
    }
    return ReadPackage(bytes, package, why, limits);
}

const std::string& PartText(const Part& part) {
    return part.changed ? part.edited : part.bytes;
}

std::string EscapeAttribute(const std::string& value) {
    std::string out;
    for (char c : value) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\t':
            out += "&#x9;";
            break;
        case '\n':
            out += "&#xA;";
            break;
        case '\r':
            out += "&#xD;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

bool TextEdits::StartTag(pugi::xml_node element, std::size_t& begin, std::size_t& end) const {
    std::ptrdiff_t name = element.offset_debug();
    std::size_t length = std::strlen(element.name());
    if (name < 1 || static_cast<std::size_t>(name) + length > text.size() ||
        text[static_cast<std::size_t>(name) - 1] != '<' ||
        text.compare(static_cast<std::size_t>(name), length, element.name()) != 0) {
        return false;
    }
    begin = static_cast<std::size_t>(name) - 1;
    char quote = 0;
    for (std::size_t i = begin + 1 + length; i < text.size(); ++i) {
        char c = text[i];
        if (quote != 0) {
            quote = c == quote ? 0 : quote;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            end = i + 1;
            return true;
        }
    }
    return false;
}

void TextEdits::Add(std::size_t at, std::size_t length, int order, std::string value) {
    edits.push_back({at, length, order, edits.size(), std::move(value)});
}

bool TextEdits::SetAttribute(pugi::xml_node element, const char* name, const std::string& value) {
    std::size_t begin = 0, end = 0;
    if (!StartTag(element, begin, end)) {
        return false;
    }
    const std::string escaped = EscapeAttribute(value);
    const std::size_t wanted = std::strlen(name);
    std::size_t i = begin + 1 + std::strlen(element.name());
    while (i < end) {
        while (i < end && std::isspace(static_cast<unsigned char>(text[i]))) {
            ++i;
        }
        std::size_t nameStart = i;
        while (i < end && text[i] != '=' && text[i] != '>' && text[i] != '/' &&
               !std::isspace(static_cast<unsigned char>(text[i]))) {
            ++i;
        }
        std::size_t nameEnd = i;
        while (i < end && (text[i] == '=' || std::isspace(static_cast<unsigned char>(text[i])))) {
            ++i;
        }
        if (nameEnd == nameStart || i >= end || (text[i] != '"' && text[i] != '\'')) {
            break;
        }
        char quote = text[i];
        std::size_t valueStart = ++i;
        while (i < end && text[i] != quote) {
            ++i;
        }
        if (nameEnd - nameStart == wanted && text.compare(nameStart, wanted, name) == 0) {
            Add(valueStart, i - valueStart, 0, escaped);
            return true;
        }
        ++i;
    }
    Add(begin + 1 + std::strlen(element.name()), 0, 0,
        std::string(" ") + name + "=\"" + escaped + "\"");
    return true;
}

bool TextEdits::InsertFirst(pugi::xml_node element, const std::string& xml) {
    std::size_t begin = 0, end = 0;
    if (!StartTag(element, begin, end)) {
        return false;
    }
    if (text[end - 2] != '/') {
        Add(end, 0, 0, xml);
        return true;
    }
    if (std::find(opened.begin(), opened.end(), begin) == opened.end()) {
        std::size_t slash = end - 2;
        while (slash > begin && std::isspace(static_cast<unsigned char>(text[slash - 1]))) {
            --slash;
        }
        Add(slash, end - slash, 0, ">");
        Add(end, 0, 1, std::string("</") + element.name() + ">");
        opened.push_back(begin);
    }
    Add(end, 0, 0, xml);
    return true;
}

std::size_t TextEdits::EndTag(pugi::xml_node element, std::size_t startEnd) const {
    // Markup inside the element's content only starts with '<' (attribute
    // values hold it escaped); comments and CDATA sections are passed over.
    const std::string name = element.name();
    int depth = 1;
    for (std::size_t at = text.find('<', startEnd); at != std::string::npos;
         at = text.find('<', at + 1)) {
        if (text.compare(at, 4, "<!--") == 0) {
            at = text.find("-->", at);
        } else if (text.compare(at, 9, "<![CDATA[") == 0) {
            at = text.find("]]>", at);
        } else if (text.compare(at + 1, 1, "/") == 0 &&
                   text.compare(at + 2, name.size(), name) == 0 &&
                   text.compare(at + 2 + name.size(), 1, ">") == 0) {
            if (--depth == 0) {
                return at;
            }
        } else if (text.compare(at + 1, name.size(), name) == 0 &&
                   at + 1 + name.size() < text.size() &&
                   std::strchr(" \t\r\n/>", text[at + 1 + name.size()]) != nullptr) {
            const std::size_t close = text.find('>', at);
            if (close == std::string::npos) {
                return std::string::npos;
            }
            depth += text[close - 1] == '/' ? 0 : 1;
            at = close;
        }
        if (at == std::string::npos) {
            return std::string::npos;
        }
    }
    return std::string::npos;
}

bool TextEdits::InsertLast(pugi::xml_node element, const std::string& xml) {
    std::size_t begin = 0, end = 0;
    if (!StartTag(element, begin, end) || text[end - 2] == '/') {
        return false;
    }
    const std::size_t at = EndTag(element, end);
    if (at == std::string::npos) {
        return false;
    }
    Add(at, 0, 0, xml);
    return true;
}

bool TextEdits::Remove(pugi::xml_node element) {
    std::size_t begin = 0, end = 0;
    if (!StartTag(element, begin, end)) {
        return false;
    }
    if (text[end - 2] != '/') {
        std::size_t at = EndTag(element, end);
        if (at == std::string::npos) {
            return false;
        }
        end = text.find('>', at) + 1;
    }
    // The whole line when the element stands alone on it.
    std::size_t lineStart = begin;
    while (lineStart > 0 && (text[lineStart - 1] == ' ' || text[lineStart - 1] == '\t')) {
        --lineStart;
    }
    if (lineStart > 0 && text[lineStart - 1] == '\n' &&
        (end == text.size() || text[end] == '\n' || text[end] == '\r')) {
        begin = lineStart - 1;
    }
    Add(begin, end - begin, 0, "");
    return true;
}

std::string TextEdits::Apply() const {
    std::vector<const Edit*> sorted;
    for (const Edit& e : edits) {
        sorted.push_back(&e);
    }
    std::sort(sorted.begin(), sorted.end(), [](const Edit* a, const Edit* b) {
        return std::tie(a->at, a->order, a->sequence) < std::tie(b->at, b->order, b->sequence);
    });
    std::string out;
    std::size_t copied = 0;
    for (const Edit* e : sorted) {
        if (e->at < copied) {
            continue; // inside a span already replaced
        }
        out.append(text, copied, e->at - copied);
        out += e->text;
        copied = e->at + e->length;
    }
    out.append(text, copied, std::string::npos);
    return out;
}

bool WritePackage(const Package& package, std::string& zip, std::string& why) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* target = zip_source_buffer_create(nullptr, 0, 0, &error);
    if (target == nullptr) {
        why = ZipErrorText(&error);
        zip_error_fini(&error);
        return false;
    }
    zip_source_keep(target);
    zip_t* archive = zip_open_from_source(target, ZIP_TRUNCATE, &error);
    if (archive == nullptr) {
        why = ZipErrorText(&error);
        zip_error_fini(&error);
        zip_source_free(target);
        return false;
    }
    zip_error_fini(&error);
    // The zip read, for the parts that did not change: libzip copies their
    // compressed data as it is. It reads every source when the archive is
    // closed.
    Archive original;
    if (package.zip) {
        zip_source_t* from =
            zip_source_buffer_create(package.zip->data(), package.zip->size(), 0, nullptr);
        original.reset(from != nullptr ? zip_open_from_source(from, ZIP_RDONLY, nullptr) : nullptr);
        if (from != nullptr && !original) {
            zip_source_free(from);
        }
    }
    auto add = [&](const Part& part) {
        if (original && !part.changed && part.index >= 0 && part.name != "mimetype") {
            zip_source_t* src = zip_source_zip(archive, original.get(),
                                               static_cast<zip_uint64_t>(part.index), 0, 0, -1);
            if (src != nullptr &&
                zip_file_add(archive, part.name.c_str(), src, ZIP_FL_ENC_UTF_8) >= 0) {
                return true;
            }
            zip_source_free(src);
            return false;
        }
        const std::string& text = PartText(part);
        zip_source_t* src = zip_source_buffer(archive, text.data(), text.size(), 0);
        zip_int64_t index =
            src != nullptr ? zip_file_add(archive, part.name.c_str(), src, ZIP_FL_ENC_UTF_8) : -1;
        if (index < 0) {
            zip_source_free(src);
            return false;
        }
        return zip_set_file_compression(archive, static_cast<zip_uint64_t>(index),
                                        part.name == "mimetype" ? ZIP_CM_STORE : ZIP_CM_DEFLATE,
                                        0) == 0;
    };
    bool ok = true;
    if (const Part* mime = package.Find("mimetype")) {
        ok = add(*mime);
    }
    for (const Part& part : package.parts) {
        if (ok && part.name != "mimetype") {
            ok = add(part);
        }
    }
    if (!ok || zip_close(archive) != 0) {
        why = "cannot write the zip: " + ZipErrorText(zip_get_error(archive));
        zip_discard(archive);
        zip_source_free(target);
        return false;
    }
    zip_stat_t st;
    zip.clear();
    if (zip_source_stat(target, &st) == 0 && zip_source_open(target) == 0) {
        zip.resize(static_cast<std::size_t>(st.size));
        zip_int64_t n = zip_source_read(target, zip.data(), zip.size());
        zip_source_close(target);
        if (n != static_cast<zip_int64_t>(zip.size())) {
            zip.clear();
        }
    }
    zip_source_free(target);
    if (zip.empty()) {
        why = "cannot write the zip";
        return false;
    }
    return true;
}

bool WritePackageFile(const Package& package, const std::string& path, std::string& why) {
    std::string zip;
    if (!WritePackage(package, zip, why)) {
        return false;
    }
    if (int err = platform::WriteFileAtomically(path.c_str(), zip.data(), zip.size()); err != 0) {
        why = "cannot write " + path + ": " + std::strerror(err);
        return false;
    }
    return true;
}

} // namespace idml
