#include "JsonOutput.h"

#include <cstdint>

using nlohmann::ordered_json;

bool IsValidUtf8(std::string_view text) {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char c = s[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        // The lead byte fixes the length and the range of the second byte
        // (no overlong forms, no surrogates, nothing above U+10FFFF).
        std::size_t length = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            low = c == 0xE0 ? 0xA0 : 0x80;
            high = c == 0xED ? 0x9F : 0xBF;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            low = c == 0xF0 ? 0x90 : 0x80;
            high = c == 0xF4 ? 0x8F : 0xBF;
        } else {
            return false;
        }
        if (n - i < length || s[i + 1] < low || s[i + 1] > high) {
            return false;
        }
        for (std::size_t k = 2; k < length; ++k) {
            if (s[i + k] < 0x80 || s[i + k] > 0xBF) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

std::string Base64(std::string_view bytes) {
    static const char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t left = bytes.size() - i;
        uint32_t v = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
        if (left > 1) {
            v |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
        }
        if (left > 2) {
            v |= static_cast<unsigned char>(bytes[i + 2]);
        }
        out += kDigits[(v >> 18) & 63];
        out += kDigits[(v >> 12) & 63];
        out += left > 1 ? kDigits[(v >> 6) & 63] : '=';
        out += left > 2 ? kDigits[v & 63] : '=';
    }
    return out;
}

namespace {

ordered_json Printable(const ordered_json& j) {
    if (j.is_string()) {
        const std::string& text = j.get_ref<const std::string&>();
        if (IsValidUtf8(text)) {
            return j;
        }
        ordered_json bytes;
        bytes["bytes"] = Base64(text);
        return bytes;
    }
    if (j.is_array()) {
        ordered_json out = ordered_json::array();
        for (const auto& e : j) {
            out.push_back(Printable(e));
        }
        return out;
    }
    if (j.is_object()) {
        ordered_json out = ordered_json::object();
        for (const auto& [key, value] : j.items()) {
            // Keys are the commands' own names, never text that was read.
            out[key] = Printable(value);
        }
        return out;
    }
    return j;
}

} // namespace

std::string DumpJson(const ordered_json& j, int indent) {
    return Printable(j).dump(indent);
}
