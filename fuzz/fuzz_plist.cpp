// Feeds arbitrary bytes to the property-list reader. An accepted text must
// write back into a text that reads as the same value, and that text must
// write the same again.
#include "PList.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// NaN equals nothing, not even itself: a value holding one cannot be compared.
bool HasNaN(const plist::Value& v) {
    if (const double* r = v.AsReal()) {
        return std::isnan(*r);
    }
    if (const plist::Array* a = v.AsArray()) {
        for (const plist::Value& item : *a) {
            if (HasNaN(item)) {
                return true;
            }
        }
    }
    if (const plist::Dictionary* d = v.AsDictionary()) {
        for (const auto& entry : *d) {
            if (HasNaN(entry.second)) {
                return true;
            }
        }
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const plist::ReadResult read =
        plist::ReadXml(std::string(reinterpret_cast<const char*>(data), size));
    if (!read.ok) {
        if (read.error.empty()) {
            std::abort(); // a refusal always says why
        }
        return 0;
    }
    const std::string written = plist::WriteXml(read.value);
    const plist::ReadResult again = plist::ReadXml(written);
    if (!again.ok || (!HasNaN(read.value) && !(again.value == read.value)) ||
        plist::WriteXml(again.value) != written) {
        std::abort();
    }
    return 0;
}
