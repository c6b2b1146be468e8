#pragma once

#include <compare>
#include <cstddef>
#include <iosfwd>
#include <string>

// The host's string: UTF-8 text with a translation mark.
//
// A string that holds a string key (for example "0x71900kOrdoErrInternal") is
// turned into the user's language by Translate(), which looks the key up in
// the string tables of HostStrings. Texts built at run time (file names, server
// messages, numbers) must not be looked up by accident, so they are marked not
// translatable before they are shown; Translate() then leaves them alone.
class PMString {
public:
    PMString() = default;
    PMString(const char* text); // null gives the empty string
    PMString(std::string text);
    PMString(const char* text, std::size_t byteCount);

    // The text as UTF-8.
    const std::string& GetUTF8String() const noexcept { return text_; }
    const char* c_str() const noexcept { return text_.c_str(); }
    std::size_t ByteCount() const noexcept { return text_.size(); }

    bool IsEmpty() const noexcept { return text_.empty(); }

    // Replaces the text; the translation mark is kept.
    void SetString(const std::string& text) { text_ = text; }
    void SetCString(const char* text);
    void Clear() noexcept { text_.clear(); }

    void Append(const PMString& other) { text_ += other.text_; }
    void Append(const char* text);
    void Append(char c) { text_ += c; }
    // Appends the value in decimal ("-12").
    void AppendNumber(long long value);

    // The text as a decimal integer: optional blanks, an optional sign, at
    // least one digit, optional blanks, nothing else, within the range of int.
    // Returns 0 and sets *ok to false when the text is not such a number.
    int GetAsNumber(bool* ok = nullptr) const;

    // Copies the text as 8-bit, NUL-terminated text into a buffer of capacity
    // bytes (the terminator included). At most capacity - 1 bytes are copied,
    // and a cut never falls inside a UTF-8 sequence: a sequence that does not
    // fit whole is left out. The copy also ends at a NUL inside the text.
    // Returns 0 when the whole text was copied, -1 when it was cut. With
    // capacity 0 nothing is written (not even the terminator) and -1 is
    // returned; buffer may then be null.
    int GetAsCString(char* buffer, std::size_t capacity) const;

    // Translation. A translatable string whose text is a key of the current
    // locale's string table (or of the default table) takes the translation as
    // its text; any other text stays as it is. Not translatable strings never
    // change.
    void Translate();
    PMString Translated() const;
    void SetTranslatable(bool translatable) noexcept { translatable_ = translatable; }
    bool IsTranslatable() const noexcept { return translatable_; }

    // Builds a text from a translated pattern and a number: the first "%d" of
    // the pattern (scanning from the left) is replaced by the value in
    // decimal; every other character, '%' included, is copied as it is ("%%"
    // stays two percent signs, "%s" stays "%s"). A pattern without "%d" comes
    // back unchanged. The pattern is never used as a printf format, so user
    // text with '%' in it is safe. The result is marked not translatable.
    static PMString Format(const PMString& translatedPattern, int value);

    // Comparisons look at the text only, byte by byte; the translation mark
    // does not take part.
    friend bool operator==(const PMString& x, const PMString& y) noexcept {
        return x.text_ == y.text_;
    }
    friend auto operator<=>(const PMString& x, const PMString& y) noexcept {
        return x.text_.compare(y.text_) <=> 0;
    }
    friend bool operator==(const PMString& x, const char* y) noexcept {
        return x.text_ == (y ? y : "");
    }

    PMString& operator+=(const PMString& other) {
        Append(other);
        return *this;
    }
    friend PMString operator+(PMString x, const PMString& y) {
        x.Append(y);
        return x;
    }

private:
    std::string text_;
    bool translatable_ = true;
};

std::ostream& operator<<(std::ostream& out, const PMString& s);
