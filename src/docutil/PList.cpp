#include "PList.h"

#include "Base64.h"

#include <pugixml.hpp>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <unordered_map>

namespace plist {

namespace {

// A refusal on the way down the tree; ReadXml turns it into its result.
struct Refused : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string Where(const pugi::xml_node& node) {
    return "<" + std::string(node.name()) + "> at byte " + std::to_string(node.offset_debug());
}

// The text of an element: its character data and CDATA sections together
// (comments between them are left out); an element inside is refused.
std::string TextOf(const pugi::xml_node& node) {
    std::string text;
    for (const pugi::xml_node& child : node.children()) {
        if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
            text += child.value();
        } else if (child.type() == pugi::node_element) {
            throw Refused(Where(node) + " holds an element <" + child.name() + ">");
        }
    }
    return text;
}

std::string Trimmed(const std::string& s) {
    const char* blanks = " \t\r\n";
    const std::size_t first = s.find_first_not_of(blanks);
    return first == std::string::npos ? ""
                                      : s.substr(first, s.find_last_not_of(blanks) + 1 - first);
}

Integer ParseInteger(const std::string& raw, const pugi::xml_node& node) {
    const std::string text = Trimmed(raw);
    Integer out;
    std::size_t at = 0;
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) {
        out.negative = text[at] == '-';
        ++at;
    }
    int base = 10;
    if (text.compare(at, 2, "0x") == 0 || text.compare(at, 2, "0X") == 0) {
        base = 16;
        at += 2;
    }
    const char* first = text.data() + at;
    const char* last = text.data() + text.size();
    auto [end, error] = std::from_chars(first, last, out.magnitude, base);
    if (first == last || error != std::errc() || end != last) {
        throw Refused(Where(node) + ": \"" + raw + "\" is not an integer of 64 bits");
    }
    if (out.negative && out.magnitude > (uint64_t{1} << 63)) {
        throw Refused(Where(node) + ": \"" + raw + "\" is below the smallest integer of 64 bits");
    }
    if (out.magnitude == 0) {
        out.negative = false; // one zero
    }
    return out;
}

double ParseReal(const std::string& raw, const pugi::xml_node& node) {
    // from_chars reads the same in every locale; it takes no leading '+'.
    const std::string text = Trimmed(raw);
    const std::size_t at = text.size() > 1 && text[0] == '+' && text[1] != '-' ? 1 : 0;
    double r = 0;
    auto [end, error] = std::from_chars(text.data() + at, text.data() + text.size(), r);
    if (text.size() == at || error != std::errc() || end != text.data() + text.size()) {
        throw Refused(Where(node) + ": \"" + raw + "\" is not a number");
    }
    return r;
}

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

Data ParseBase64(const std::string& text, const pugi::xml_node& node) {
    Data out;
    uint32_t bits = 0;
    int count = 0;
    int padding = 0;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            continue;
        }
        const char* p = c == '\0' ? nullptr : std::strchr(kBase64, c);
        if (c == '=' && padding < 2) {
            ++padding;
            continue;
        }
        if (p == nullptr || padding > 0) {
            throw Refused(Where(node) + ": not base64 at '" + std::string(1, c) + "'");
        }
        bits = (bits << 6) | static_cast<uint32_t>(p - kBase64);
        if (++count == 4) {
            out.push_back(static_cast<uint8_t>(bits >> 16));
            out.push_back(static_cast<uint8_t>(bits >> 8));
            out.push_back(static_cast<uint8_t>(bits));
            bits = 0;
            count = 0;
        }
    }
    // What is left: 2 or 3 digits give 1 or 2 bytes; 1 digit is no byte at all.
    if (count == 1) {
        throw Refused(Where(node) + ": base64 that ends in the middle of a byte");
    }
    if (count == 2) {
        out.push_back(static_cast<uint8_t>(bits >> 4));
    } else if (count == 3) {
        out.push_back(static_cast<uint8_t>(bits >> 10));
        out.push_back(static_cast<uint8_t>(bits >> 2));
    }
    return out;
}

Value ReadValue(const pugi::xml_node& node, int depth) {
    if (depth > kMaxDepth) {
        throw Refused(Where(node) + ": nested deeper than " + std::to_string(kMaxDepth));
    }
    const std::string name = node.name();
    if (name == "dict") {
        Dictionary dict;
        std::unordered_map<std::string, std::size_t> places; // key -> its place in dict
        const std::string* key = nullptr;
        std::string keyText;
        for (const pugi::xml_node& child : node.children()) {
            if (child.type() != pugi::node_element) {
                if ((child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) &&
                    !Trimmed(child.value()).empty()) {
                    throw Refused(Where(node) + " holds text outside its keys and values");
                }
                continue;
            }
            if (key == nullptr) {
                if (std::string(child.name()) != "key") {
                    throw Refused(Where(child) + " where a <key> was expected");
                }
                keyText = TextOf(child);
                key = &keyText;
                continue;
            }
            Value value = ReadValue(child, depth + 1);
            if (auto [at, added] = places.try_emplace(*key, dict.size()); added) {
                dict.emplace_back(*key, std::move(value));
            } else {
                dict[at->second].second = std::move(value);
            }
            key = nullptr;
        }
        if (key != nullptr) {
            throw Refused(Where(node) + ": the key \"" + keyText + "\" has no value");
        }
        return dict;
    }
    if (name == "array") {
        Array array;
        for (const pugi::xml_node& child : node.children()) {
            if (child.type() == pugi::node_element) {
                array.push_back(ReadValue(child, depth + 1));
            } else if ((child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) &&
                       !Trimmed(child.value()).empty()) {
                throw Refused(Where(node) + " holds text outside its values");
            }
        }
        return array;
    }
    if (name == "string") {
        return TextOf(node);
    }
    if (name == "integer") {
        return ParseInteger(TextOf(node), node);
    }
    if (name == "real") {
        return ParseReal(TextOf(node), node);
    }
    if (name == "true" || name == "false") {
        if (!Trimmed(TextOf(node)).empty()) {
            throw Refused(Where(node) + " is not empty");
        }
        return name == "true";
    }
    if (name == "date") {
        Date d;
        if (!ParseDate(Trimmed(TextOf(node)), d)) {
            throw Refused(Where(node) + ": \"" + TextOf(node) + "\" is not a date");
        }
        return d;
    }
    if (name == "data") {
        return ParseBase64(TextOf(node), node);
    }
    throw Refused(Where(node) + " is not a property-list value");
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
}

void Escape(std::string& out, const std::string& text) {
    for (unsigned char c : text) {
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
        default:
            // A carriage return would come back as a line end, other
            // control characters not at all: they go as references.
            if ((c < 0x20 && c != '\t' && c != '\n') || c == 0x7F) {
                out += "&#" + std::to_string(c) + ";";
            } else {
                out += static_cast<char>(c);
            }
        }
    }
}

std::string RealText(double r) {
    if (std::isnan(r)) {
        return "nan";
    }
    if (std::isinf(r)) {
        return r > 0 ? "+infinity" : "-infinity";
    }
    char buf[64];
    auto [end, error] = std::to_chars(buf, buf + sizeof buf, r);
    return error == std::errc() ? std::string(buf, end) : "0";
}

void WriteValue(std::string& out, const Value& v, int depth) {
    const std::string indent(static_cast<std::size_t>(depth), '\t');
    auto element = [&](const char* name, const std::string& text) {
        out += indent + "<" + name + ">";
        Escape(out, text);
        out += std::string("</") + name + ">\n";
    };
    switch (v.GetKind()) {
    case Kind::kDictionary:
        if (v.AsDictionary()->empty()) {
            out += indent + "<dict/>\n";
            return;
        }
        out += indent + "<dict>\n";
        for (const auto& [key, value] : *v.AsDictionary()) {
            out += indent + "\t<key>";
            Escape(out, key);
            out += "</key>\n";
            WriteValue(out, value, depth + 1);
        }
        out += indent + "</dict>\n";
        return;
    case Kind::kArray:
        if (v.AsArray()->empty()) {
            out += indent + "<array/>\n";
            return;
        }
        out += indent + "<array>\n";
        for (const Value& item : *v.AsArray()) {
            WriteValue(out, item, depth + 1);
        }
        out += indent + "</array>\n";
        return;
    case Kind::kString:
        element("string", *v.AsString());
        return;
    case Kind::kInteger: {
        const Integer& i = *v.AsInteger();
        element("integer", (i.negative ? "-" : "") + std::to_string(i.magnitude));
        return;
    }
    case Kind::kReal:
        element("real", RealText(*v.AsReal()));
        return;
    case Kind::kBoolean:
        out += indent + (*v.AsBoolean() ? "<true/>\n" : "<false/>\n");
        return;
    case Kind::kDate:
        element("date", FormatDate(*v.AsDate()));
        return;
    case Kind::kData:
        element("data", EncodeBase64(*v.AsData()));
        return;
    }
}

} // namespace

std::string EncodeBase64(const Data& data) {
    return base64::Encode(data);
}

Integer Integer::Of(int64_t v) {
    // The magnitude of the smallest value does not fit an int64_t: negate unsigned.
    return {v < 0, v < 0 ? ~static_cast<uint64_t>(v) + 1 : static_cast<uint64_t>(v)};
}

Kind Value::GetKind() const {
    return static_cast<Kind>(v_.index());
}

const Dictionary* Value::AsDictionary() const {
    auto* p = std::get_if<std::shared_ptr<Dictionary>>(&v_);
    return p != nullptr ? p->get() : nullptr;
}
const Array* Value::AsArray() const {
    auto* p = std::get_if<std::shared_ptr<Array>>(&v_);
    return p != nullptr ? p->get() : nullptr;
}
const std::string* Value::AsString() const {
    return std::get_if<std::string>(&v_);
}
const Integer* Value::AsInteger() const {
    return std::get_if<Integer>(&v_);
}
const double* Value::AsReal() const {
    return std::get_if<double>(&v_);
}
const bool* Value::AsBoolean() const {
    return std::get_if<bool>(&v_);
}
const Date* Value::AsDate() const {
    return std::get_if<Date>(&v_);
}
const Data* Value::AsData() const {
    return std::get_if<Data>(&v_);
}

const Value* Value::Find(const std::string& key) const {
    if (const Dictionary* d = AsDictionary()) {
        for (const auto& [k, v] : *d) {
            if (k == key) {
                return &v;
            }
        }
    }
    return nullptr;
}

bool operator==(const Value& a, const Value& b) {
    if (a.GetKind() != b.GetKind()) {
        return false;
    }
    if (const Dictionary* d = a.AsDictionary()) {
        return *d == *b.AsDictionary();
    }
    if (const Array* arr = a.AsArray()) {
        return *arr == *b.AsArray();
    }
    return a.v_ == b.v_;
}

std::string FormatDate(Date d) {
    int64_t days = d.seconds / 86400;
    int64_t rest = d.seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    int64_t y = 0;
    unsigned m = 0;
    unsigned day = 0;
    CivilFromDays(days, y, m, day);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02uT%02lld:%02lld:%02lldZ",
                  static_cast<long long>(y), m, day, static_cast<long long>(rest / 3600),
                  static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
    return buf;
}

bool ParseDate(const std::string& text, Date& out) {
    // "YYYY-MM-DDTHH:MM:SSZ", digits where digits go and nothing else.
    static constexpr char kShape[] = "0000-00-00T00:00:00Z";
    if (text.size() != sizeof kShape - 1) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (kShape[i] == '0' ? (text[i] < '0' || text[i] > '9') : text[i] != kShape[i]) {
            return false;
        }
    }
    auto number = [&](std::size_t at, std::size_t n) {
        unsigned v = 0;
        for (std::size_t i = at; i < at + n; ++i) {
            v = v * 10 + static_cast<unsigned>(text[i] - '0');
        }
        return v;
    };
    const unsigned y = number(0, 4);
    const unsigned mo = number(5, 2);
    const unsigned d = number(8, 2);
    const unsigned h = number(11, 2);
    const unsigned mi = number(14, 2);
    const unsigned s = number(17, 2);
    static constexpr unsigned kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (mo < 1 || mo > 12 || d < 1 || d > kDays[mo - 1] || (mo == 2 && d == 29 && !leap) ||
        h > 23 || mi > 59 || s > 59) {
        return false;
    }
    out.seconds = DaysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s;
    return true;
}

ReadResult ReadXml(const std::string& text) {
    ReadResult result;
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed =
        doc.load_buffer(text.data(), text.size(),
                        pugi::parse_default | pugi::parse_ws_pcdata_single, pugi::encoding_utf8);
    if (!parsed) {
        result.error = std::string("not well-formed XML at byte ") + std::to_string(parsed.offset) +
                       ": " + parsed.description();
        return result;
    }
    pugi::xml_node root = doc.document_element();
    if (!root) {
        result.error = "no element";
        return result;
    }
    try {
        if (std::string(root.name()) == "plist") {
            pugi::xml_node only;
            for (const pugi::xml_node& child : root.children()) {
                if (child.type() != pugi::node_element) {
                    continue;
                }
                if (only) {
                    throw Refused("<plist> holds more than one value");
                }
                only = child;
            }
            if (!only) {
                throw Refused("<plist> holds no value");
            }
            root = only;
        }
        result.value = ReadValue(root, 1);
        result.ok = true;
    } catch (const Refused& e) {
        result.error = e.what();
    }
    return result;
}

std::string WriteXml(const Value& value) {
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                      "<plist version=\"1.0\">\n";
    WriteValue(out, value, 0);
    out += "</plist>\n";
    return out;
}

} // namespace plist
