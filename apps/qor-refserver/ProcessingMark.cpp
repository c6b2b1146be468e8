#include "ProcessingMark.h"

#include "Proxy_TIFF.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdint>

std::string ProcessingMarkBytes(int count, const std::string& text) {
    std::string cut = text.substr(0, 127);
    std::string bytes = "KRYO";
    bytes.push_back('\0');
    bytes.push_back('\0');
    bytes.push_back(static_cast<char>(std::clamp(count, 0, 127)));
    bytes.push_back(static_cast<char>(cut.size()));
    return bytes + cut;
}

int ReadProcessingCount(const std::string& path) {
    Proxy_TIFF_RegisterPrivateTags();
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (tif == nullptr) {
        return 0;
    }
    int count = 0;
    uint32_t length = 0;
    const uint8_t* data = nullptr;
    if (TIFFGetField(tif, kTiffTagProcOpt, &length, &data) == 1 && data != nullptr && length >= 7 &&
        std::equal(data, data + 4, "KRYO")) {
        count = std::max(0, static_cast<int>(static_cast<int8_t>(data[6])));
    }
    TIFFClose(tif);
    return count;
}

bool WriteProcessingMark(const std::string& path, int count, const std::string& text) {
    Proxy_TIFF_RegisterPrivateTags();
    TIFF* tif = TIFFOpen(path.c_str(), "r+");
    if (tif == nullptr) {
        return false;
    }
    std::string bytes = ProcessingMarkBytes(count, text);
    bool ok = TIFFSetField(tif, kTiffTagProcOpt, static_cast<uint32_t>(bytes.size()),
                           bytes.data()) == 1 &&
              TIFFRewriteDirectory(tif) == 1;
    TIFFClose(tif);
    return ok;
}
