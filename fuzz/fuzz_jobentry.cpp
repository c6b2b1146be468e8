// Feeds arbitrary bytes to the reader of the record of jobs out (and to the
// reader of the client's settings, which lie beside it). An accepted entry
// must write back into the same text and read again as the same entry.
#include "OD_ClientSettings.h"
#include "OD_JobJournal.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    int seconds = 0;
    ParseClientSettings(text, seconds);
    if (seconds < kODNotAnsweringMinSeconds || seconds > kODNotAnsweringMaxSeconds) {
        std::abort();
    }
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
