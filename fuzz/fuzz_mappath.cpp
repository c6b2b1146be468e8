// Maps arbitrary server paths through a few path conversions. The first byte
// picks the path style (including unknown ones); the rest is the path, which
// fills the whole buffer without a terminator when it is long enough.
#include "FuzzServerFolder.h"
#include "QOR_Configuration.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Setup {
    FuzzServerFolder server;
    Setup() {
        const std::string local = server.Root() + kPathSeparator + "local" + kPathSeparator;
        std::filesystem::create_directories(local + "sub");
        server.Put(local + "sub" + kPathSeparator + "pic.tif", "image");
        std::filesystem::create_directories(server.Root() + kPathSeparator + "Images");
        server.Put(server.Root() + kPathSeparator + "Images" + kPathSeparator + "pic.tif", "image");
        server.Put(server.DataPath("convpath.txt"), "\"Server:Images:\" \"" + local +
                                                        "\"\n"
                                                        "\"SERVER:Pics\" \"" +
                                                        local +
                                                        "\"\n"
                                                        "\"\\\\srv\\share\" \"" +
                                                        local +
                                                        "\"\n"
                                                        "\"" +
                                                        local +
                                                        "\" \"/srv/images/\"\n"
                                                        "\"" +
                                                        local +
                                                        "\" \"D:\\Data\"\n"
                                                        "\"plain\" \"words\"\n");
        LoadPathConversions(&server);
        if (PathConversions().size() != 6) {
            std::abort();
        }
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Setup setup;
    if (size == 0) {
        return 0;
    }
    const int style = static_cast<int>(data[0] % 5) - 1;
    char path[kServerPathCapacity];
    const std::size_t length = size - 1 < sizeof path ? size - 1 : sizeof path;
    std::memcpy(path, data + 1, length);
    if (length < sizeof path) {
        path[length] = '\0';
    }
    const bool terminated = ::strnlen(path, sizeof path) < sizeof path;
    char before[kServerPathCapacity];
    std::memcpy(before, path, sizeof path);

    int result = MapServerPath(&setup.server, path, style);
    if (result != 0 && result != -1) {
        std::abort();
    }
    if (!terminated || style < 0 || style > 2) {
        // Refused without touching the buffer.
        if (result != -1 || std::memcmp(before, path, sizeof path) != 0) {
            std::abort();
        }
    } else if (::strnlen(path, sizeof path) >= sizeof path) {
        std::abort();
    }
    return 0;
}
