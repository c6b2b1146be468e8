// Reply text from the server: through Receive (as a reply file, read into a
// buffer of a capacity chosen by the input) and then through ParseReply.
#include "Paths.h"
#include "QOR_EndPointFile.h"
#include "QorReply.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

struct Tree {
    std::string root;
    std::string server;
    QOR_EndPointFile endpoint;
    std::string clientDir;

    Tree() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "ordodesk-fuzz-reply-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        root = pattern;
        for (const char* d : {"/Data", "/Data/service", "/Data/tmp", "/Data/clients"}) {
            ::mkdir((root + d).c_str(), 0777);
        }
        server = root + "/qorserver";
        std::fclose(std::fopen(server.c_str(), "w"));
        if (endpoint.Open(server.c_str()) != 0) {
            std::abort();
        }
        clientDir = root + "/Data/clients/" + endpoint.ClientId();
        ::mkdir(clientDir.c_str(), 0777);
    }
    ~Tree() {
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Tree tree;

    // The first two bytes choose the capacity of the caller's buffer.
    int capacity = 1024;
    if (size >= 2) {
        capacity = 1 + ((data[0] << 8 | data[1]) % 2048);
        data += 2;
        size -= 2;
    }

    QorReply direct;
    ParseReply(reinterpret_cast<const char*>(data), static_cast<int>(size), direct);

    std::string path = tree.clientDir + "/job";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return 0;
    }
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    std::vector<char> text(static_cast<std::size_t>(capacity));
    int cap = capacity;
    std::string name = std::string(tree.endpoint.ClientId()) + kPathSeparator + "job";
    if (tree.endpoint.ReceiveFor(name.c_str(), text.data(), cap) == 0) {
        if (std::strlen(text.data()) >= static_cast<std::size_t>(capacity)) {
            std::abort();
        }
        QorReply reply;
        ParseReply(text.data(), capacity, reply);
        cap = capacity;
        tree.endpoint.ReceiveFor(name.c_str(), text.data(), cap); // from the cache
    }
    tree.endpoint.ReleaseReply(name.c_str());
    std::remove(path.c_str());
    return 0;
}
