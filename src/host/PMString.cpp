#include "PMString.h"

#include "HostStrings.h"

#include <charconv>
#include <cstring>
#include <ostream>

namespace {

// The length of the UTF-8 sequence that starts at text[pos]: 2 to 4 for a lead
// byte followed by enough continuation bytes, else 1 (ASCII, or a byte that
// starts no valid sequence and so stands for itself).
std::size_t SequenceLength(const std::string& text, std::size_t pos) {
    auto lead = static_cast<unsigned char>(text[pos]);
    std::size_t len = 1;
    if ((lead & 0xE0) == 0xC0) {
        len = 2;
    } else if ((lead & 0xF0) == 0xE0) {
        len = 3;
    } else if ((lead & 0xF8) == 0xF0) {
        len = 4;
    }
    if (len == 1 || pos + len > text.size()) {
        return 1;
    }
    for (std::size_t i = 1; i < len; ++i) {
        if ((static_cast<unsigned char>(text[pos + i]) & 0xC0) != 0x80) {
            return 1;
        }
    }
    return len;
}

} // namespace

PMString::PMString(const char* text) : text_(text ? text : "") {}

PMString::PMString(std::string text) : text_(std::move(text)) {}

PMString::PMString(const char* text, std::size_t byteCount)
    : text_(text ? std::string(text, byteCount) : std::string()) {}

void PMString::SetCString(const char* text) {
    text_ = text ? text : "";
}

void PMString::Append(const char* text) {
    if (text) {
        text_ += text;
    }
}

void PMString::AppendNumber(long long value) {
    char digits[24];
    auto result = std::to_chars(digits, digits + sizeof digits, value);
    text_.append(digits, result.ptr);
}

int PMString::GetAsNumber(bool* ok) const {
    auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    std::size_t begin = 0;
    std::size_t end = text_.size();
    while (begin < end && isBlank(text_[begin])) {
        ++begin;
    }
    while (end > begin && isBlank(text_[end - 1])) {
        --end;
    }
    const char* first = text_.data() + begin;
    const char* last = text_.data() + end;
    // from_chars takes a minus sign but no plus sign.
    if (first != last && *first == '+' && last - first > 1 && *(first + 1) != '-') {
        ++first;
    }
    int value = 0;
    auto result = std::from_chars(first, last, value);
    bool good = first != last && result.ec == std::errc() && result.ptr == last;
    if (ok) {
        *ok = good;
    }
    return good ? value : 0;
}

int PMString::GetAsCString(char* buffer, std::size_t capacity) const {
    if (capacity == 0) {
        return -1;
    }
    std::size_t limit = capacity - 1;
    std::size_t used = 0;
    bool whole = true;
    while (used < text_.size()) {
        if (text_[used] == '\0') {
            whole = false;
            break;
        }
        std::size_t len = SequenceLength(text_, used);
        if (used + len > limit) {
            whole = false;
            break;
        }
        used += len;
    }
    std::memcpy(buffer, text_.data(), used);
    buffer[used] = '\0';
    return whole ? 0 : -1;
}

void PMString::Translate() {
    if (!translatable_) {
        return;
    }
    if (const std::string* translation = HostStrings::Lookup(text_)) {
        text_ = *translation;
    }
}

PMString PMString::Translated() const {
    PMString copy(*this);
    copy.Translate();
    return copy;
}

PMString PMString::Format(const PMString& translatedPattern, int value) {
    const std::string& pattern = translatedPattern.text_;
    PMString result;
    std::size_t at = pattern.find("%d");
    if (at == std::string::npos) {
        result.text_ = pattern;
    } else {
        result.text_.assign(pattern, 0, at);
        result.AppendNumber(value);
        result.text_.append(pattern, at + 2);
    }
    result.translatable_ = false;
    return result;
}

std::ostream& operator<<(std::ostream& out, const PMString& s) {
    return out << s.GetUTF8String();
}
