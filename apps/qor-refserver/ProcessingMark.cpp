#include "ProcessingMark.h"

#include "Proxy_TIFF.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdint>

std::string ProcessingMarkBytes(int option, const std::string& text) {
    std::string cut = text.substr(0, 127);
    std::string bytes = "KRYO";
    bytes.push_back('\0');
    bytes.push_back('\0');
    bytes.push_back(static_cast<char>(std::clamp(option, 0, 127)));
    bytes.push_back(static_cast<char>(cut.size()));
    return bytes + cut;
}

bool WriteProcessingMark(const std::string& path, int option, const std::string& text) {
    Proxy_TIFF_RegisterPrivateTags();
    TIFF* tif = TIFFOpen(path.c_str(), "r+");
    if (tif == nullptr) {
        return false;
    }
    std::string bytes = ProcessingMarkBytes(option, text);
    bool ok = TIFFSetField(tif, kTiffTagProcOpt, static_cast<uint32_t>(bytes.size()),
                           bytes.data()) == 1 &&
              TIFFRewriteDirectory(tif) == 1;
    TIFFClose(tif);
    return ok;
}
