// File URIs of links and the link path map.

#include "IdmlLinks.h"

#include <algorithm>
#include <cctype>

namespace idml {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool StartsWithNoCase(std::string_view text, std::string_view start) {
    if (text.size() < start.size()) {
        return false;
    }
    for (std::size_t i = 0; i < start.size(); ++i) {
        char a = text[i], b = start[i];
        if (a >= 'A' && a <= 'Z') {
            a = static_cast<char>(a - 'A' + 'a');
        }
        if (b >= 'A' && b <= 'Z') {
            b = static_cast<char>(b - 'A' + 'a');
        }
        if (a != b) {
            return false;
        }
    }
    return true;
}

// The prefix without its trailing slashes (a lone "/" stays).
std::string Trimmed(std::string text) {
    while (text.size() > 1 && text.back() == '/') {
        text.pop_back();
    }
    return text;
}

// The rest of path after prefix when prefix matches whole components:
// "" for the prefix itself, "/..." otherwise.
std::optional<std::string_view> RestAfter(std::string_view path, std::string_view prefix) {
    if (!StartsWithNoCase(path, prefix)) {
        return std::nullopt;
    }
    std::string_view rest = path.substr(prefix.size());
    if (!rest.empty() && rest.front() != '/' && prefix != "/") {
        return std::nullopt;
    }
    return rest;
}

bool ClimbsOut(std::string_view rest) {
    std::size_t start = 0;
    while (start <= rest.size()) {
        std::size_t end = rest.find('/', start);
        std::string_view part = rest.substr(
            start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (part == "..") {
            return true;
        }
        if (end == std::string_view::npos) {
            break;
        }
        start = end + 1;
    }
    return false;
}

} // namespace

std::optional<std::string> PathOfFileURI(std::string_view uri) {
    if (!StartsWithNoCase(uri, "file:")) {
        return std::nullopt;
    }
    std::string_view rest = uri.substr(5);
    std::string decoded;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        char c = rest[i];
        if (c == '%') {
            int hi = i + 2 < rest.size() ? HexValue(rest[i + 1]) : -1;
            int lo = i + 2 < rest.size() ? HexValue(rest[i + 2]) : -1;
            if (hi < 0 || lo < 0 || (hi == 0 && lo == 0)) {
                return std::nullopt;
            }
            decoded += static_cast<char>(hi * 16 + lo);
            i += 2;
        } else if (c == '\0') {
            return std::nullopt;
        } else {
            decoded += c == '\\' ? '/' : c;
        }
    }
    // file:///C:/x and file:///Volumes/x: an empty host; file:/Volumes/x: none.
    if (decoded.rfind("///", 0) == 0) {
        decoded.erase(0, 2);
    } else if (decoded.rfind("//localhost/", 0) == 0) {
        decoded.erase(0, 11);
    }
    // "/C:/x" is the drive path "C:/x".
    if (decoded.size() >= 3 && decoded[0] == '/' && decoded[2] == ':' &&
        std::isalpha(static_cast<unsigned char>(decoded[1]))) {
        decoded.erase(0, 1);
    }
    if (decoded.empty()) {
        return std::nullopt;
    }
    return decoded;
}

std::string FileURIOfPath(std::string_view path) {
    static const char kHex[] = "0123456789ABCDEF";
    bool drive = path.size() >= 2 && path[1] == ':';
    std::string uri = drive ? "file:///" : "file:";
    for (char c : path) {
        auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || c == '%' || c == '#' || c == '?' || c == '"' || c == '<' || c == '>' ||
            u == 0x7F) {
            uri += '%';
            uri += kHex[u >> 4];
            uri += kHex[u & 15];
        } else {
            uri += c;
        }
    }
    return uri;
}

bool LinkMap::Add(const std::string& foreignPrefix, const std::string& localFolder,
                  std::string& why) {
    std::string prefix = foreignPrefix;
    std::replace(prefix.begin(), prefix.end(), '\\', '/');
    prefix = Trimmed(prefix);
    std::string folder = Trimmed(localFolder);
    if (prefix.empty() || folder.empty()) {
        why = "a link path map entry needs a prefix and a folder";
        return false;
    }
    Remove(prefix);
    entries.emplace_back(prefix, folder);
    return true;
}

bool LinkMap::Remove(const std::string& foreignPrefix) {
    std::string prefix = Trimmed(foreignPrefix);
    auto it = std::find_if(entries.begin(), entries.end(), [&](const auto& e) {
        return e.first.size() == prefix.size() && StartsWithNoCase(e.first, prefix);
    });
    if (it == entries.end()) {
        return false;
    }
    entries.erase(it);
    return true;
}

std::optional<std::string> LinkMap::ToLocal(std::string_view foreignPath) const {
    const std::pair<std::string, std::string>* best = nullptr;
    std::string_view bestRest;
    for (const auto& e : entries) {
        if (auto rest = RestAfter(foreignPath, e.first);
            rest && (best == nullptr || e.first.size() > best->first.size())) {
            best = &e;
            bestRest = *rest;
        }
    }
    if (best == nullptr || ClimbsOut(bestRest)) {
        return std::nullopt;
    }
    std::string local = best->second;
    if (!bestRest.empty() && bestRest.front() != '/' && local.back() != '/') {
        local += '/';
    }
    local += bestRest;
    return local;
}

std::optional<std::string> LinkMap::ToForeign(std::string_view localPath) const {
    const std::pair<std::string, std::string>* best = nullptr;
    std::string_view bestRest;
    for (const auto& e : entries) {
        if (!localPath.starts_with(e.second)) {
            continue;
        }
        std::string_view rest = localPath.substr(e.second.size());
        if ((rest.empty() || rest.front() == '/' || e.second == "/") &&
            (best == nullptr || e.second.size() > best->second.size())) {
            best = &e;
            bestRest = rest;
        }
    }
    if (best == nullptr) {
        return std::nullopt;
    }
    return best->first + std::string(bestRest);
}

LinkMap& SessionLinkMap() {
    static LinkMap map;
    return map;
}

} // namespace idml
