#pragma once

// Property lists: the value tree of the common XML property-list format
// (dictionary, array, string, integer, real, boolean, date, data), its reader
// and its writer. Settings dictionaries (the PDF export's, among others) are
// kept in this form, so a file written by another program reads here and a
// file written here reads there.
//
// Dictionaries keep their keys in the order of the file, so that a file read
// and written again keeps its order. Integers cover both the signed and the
// unsigned 64-bit range, as the format's writers use both. Dates are whole
// seconds in UTC.

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace plist {

class Value;

using Array = std::vector<Value>;
using Dictionary = std::vector<std::pair<std::string, Value>>;
using Data = std::vector<uint8_t>;

// -2^63 to 2^64 - 1: a sign and a magnitude.
struct Integer {
    bool negative = false;
    uint64_t magnitude = 0;
    static Integer Of(int64_t v);
    friend bool operator==(const Integer&, const Integer&) = default;
};

// Seconds since 1970-01-01T00:00:00Z (negative before); the format writes
// years 1 to 9999, so only dates in those years read back.
struct Date {
    int64_t seconds = 0;
    friend bool operator==(const Date&, const Date&) = default;
};

enum class Kind { kDictionary, kArray, kString, kInteger, kReal, kBoolean, kDate, kData };

class Value {
public:
    Value() : v_(std::string()) {}
    Value(Dictionary d) : v_(std::make_shared<Dictionary>(std::move(d))) {}
    Value(Array a) : v_(std::make_shared<Array>(std::move(a))) {}
    Value(std::string s) : v_(std::move(s)) {}
    Value(const char* s) : v_(std::string(s)) {}
    // Minus zero is zero; a magnitude past 2^63 with a minus is no integer
    // of the format, and does not read back.
    Value(Integer i) : v_(i.magnitude == 0 ? Integer{} : i) {}
    Value(double r) : v_(r) {}
    Value(bool b) : v_(b) {}
    Value(Date d) : v_(d) {}
    Value(Data d) : v_(std::move(d)) {}

    Kind GetKind() const;
    // Null when the value is of another kind.
    const Dictionary* AsDictionary() const;
    const Array* AsArray() const;
    const std::string* AsString() const;
    const Integer* AsInteger() const;
    const double* AsReal() const;
    const bool* AsBoolean() const;
    const Date* AsDate() const;
    const Data* AsData() const;
    // The value of key in a dictionary; null when there is none.
    const Value* Find(const std::string& key) const;

    // Deep comparison; reals compare by value, so NaN equals nothing.
    friend bool operator==(const Value& a, const Value& b);

private:
    // Containers are shared so that a Value stays small; copies share them,
    // which is safe because nothing here changes a value once made.
    std::variant<std::shared_ptr<Dictionary>, std::shared_ptr<Array>, std::string, Integer, double,
                 bool, Date, Data>
        v_;
};

struct ReadResult {
    bool ok = false;
    Value value;
    std::string error; // why the text is not a property list, when !ok
};

// Reads the XML form: a <plist> element holding one value, or the value
// element alone. Integers may be decimal or hexadecimal ("0x..."); in a
// dictionary a key given twice keeps its first place and its last value.
// Nesting deeper than kMaxDepth is refused rather than followed.
ReadResult ReadXml(const std::string& text);
inline constexpr int kMaxDepth = 256;

// The XML form, with the usual declaration and doctype, tabs for indentation.
// Reals are written so that they read back to the same double.
std::string WriteXml(const Value& value);

// Data as the format writes it: base64 with padding, no line breaks.
std::string EncodeBase64(const Data& data);

// Dates as the format writes them: "2010-11-12T13:14:15Z"; false when the text
// is not such a date.
std::string FormatDate(Date d);
bool ParseDate(const std::string& text, Date& out);

} // namespace plist
