// Feeds arbitrary bytes, read as a property list, to the PDF export's
// settings. A refusal always says why; accepted settings stay in their
// ranges.
#include "PdfExport.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const plist::ReadResult read =
        plist::ReadXml(std::string(reinterpret_cast<const char*>(data), size));
    if (!read.ok) {
        return 0;
    }
    render::PdfSettings settings;
    std::string error;
    if (!render::SettingsFromPList(read.value, settings, &error)) {
        if (error.empty()) {
            std::abort();
        }
        return 0;
    }
    if (!(settings.imageResolution > 0 && settings.imageResolution <= 2400) ||
        settings.downsampleAbove < settings.imageResolution || settings.jpegQuality < 1 ||
        settings.jpegQuality > 100 || !(settings.bleed >= 0 && settings.bleed <= 72) ||
        settings.pages.first < 1 ||
        (settings.pages.last != 0 && settings.pages.last < settings.pages.first)) {
        std::abort();
    }
    return 0;
}
