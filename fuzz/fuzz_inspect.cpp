// Arbitrary bytes as an image file through the reader factory, with OPI
// placeholders accepted so that every reader sees them.
#include "IMG_OpenImageFile.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

struct Scratch {
    std::string path;
    Scratch() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "ordodesk-fuzz-inspect-XXXXXX").string();
        int fd = ::mkstemp(pattern.data());
        if (fd < 0) {
            std::abort();
        }
        ::close(fd);
        path = pattern;
    }
    ~Scratch() { std::remove(path.c_str()); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Scratch scratch;
    std::FILE* f = std::fopen(scratch.path.c_str(), "wb");
    if (f == nullptr) {
        return 0;
    }
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    auto reader = IMG_OpenImageFile(scratch.path.c_str(), "r", true);
    if (reader && reader->GetImageInfo() != nullptr && (reader->GetFormatCode() & 1)) {
        char linked[513];
        reader->GetLinkedName(linked, sizeof linked - 1);
    }
    return 0;
}
