// Reads arbitrary bytes as a configuration file, line by line. The first byte
// picks the line limit; every line must fit its buffer and be terminated, and
// the stream must come to its end.
#include "IMG_Exception.h"
#include "QOR_Stream.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

std::string TempFile() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "ordodesk-fuzz-XXXXXX").string();
    int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        std::abort();
    }
    ::close(fd);
    return pattern;
}

struct Scratch {
    std::string path = TempFile();
    ~Scratch() { std::remove(path.c_str()); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Scratch scratch;
    if (size == 0) {
        return 0;
    }
    static const int kLimits[] = {1, 2, 3, 4, 7, 16, 31, 255, 256, 511};
    const int max = kLimits[data[0] % (sizeof kLimits / sizeof kLimits[0])];
    {
        std::ofstream out(scratch.path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
    }

    QOR_FileStream stream;
    try {
        stream.Open(scratch.path.c_str(), "rb");
    } catch (const IMG_Exception&) {
        std::abort();
    }
    // Exactly max+1 bytes, so that the sanitizers see any write past them.
    std::unique_ptr<char[]> buffer(new char[static_cast<std::size_t>(max) + 1]);
    // Every line that is returned takes at least one byte of the file.
    for (std::size_t lines = 0;; ++lines) {
        if (lines > size) {
            std::abort();
        }
        int result = stream.ReadLine(buffer.get(), max);
        if (::strnlen(buffer.get(), static_cast<std::size_t>(max) + 1) >
            static_cast<std::size_t>(max)) {
            std::abort();
        }
        if (result != 0) {
            if (result != -1 || buffer[0] != '\0') {
                std::abort();
            }
            break;
        }
        int value = 0;
        stream.ParseInt(buffer.get(), value);
        (void)stream.IsGood();
    }
    if (stream.ReadLine(buffer.get(), max) != -1) {
        std::abort();
    }
    stream.Close();
    return 0;
}
