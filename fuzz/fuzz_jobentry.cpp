// Feeds arbitrary bytes to the reader of the record of jobs out. An accepted
// entry must write back into the same text and read again as the same entry.
#include "OD_JobJournal.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    OD_JobEntry entry;
    std::string why;
    if (!ParseJobEntry(text, entry, why)) {
        return 0;
    }
    const std::string again = FormatJobEntry(entry);
    OD_JobEntry back;
    if (!ParseJobEntry(again, back, why) || !(back == entry)) {
        std::abort();
    }
    return 0;
}
