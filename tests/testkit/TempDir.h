#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A fresh folder under the system's temporary folder, removed with everything
// in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path; }
    // Path() joined with a relative name (native separators).
    std::string operator/(const std::string& name) const;

private:
    std::string path;
};

// Writes bytes to a file, making its parent folders; throws on failure.
void WriteFile(const std::string& path, const std::string& bytes);
// Reads a whole file; throws when it cannot be read.
std::string ReadFile(const std::string& path);
// How many lines, over the files of a folder, are exactly the text (the
// server's job files hold one word a line).
int CountLines(const std::string& folder, const std::string& text);
// The names in a folder, sorted (to see which files a step left behind).
std::vector<std::string> FolderNames(const std::string& folder);
// Makes a folder and its parents.
void MakeDirs(const std::string& path);
bool PathExists(const std::string& path);

// Lays out an empty server tree under root (Data/service[/qor2], Data/tmp,
// Data/clients) with a server application file, and returns the server path
// that names that file.
std::string MakeServerTree(const std::string& root, bool withQor2 = true);

// The folder of shared real-world test files (testdata/ beside the checkout),
// or an empty text when it is not there; tests that need it skip then.
// Integers as bytes, big-endian and little-endian.
inline std::string Be16(uint16_t v) {
    return {static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)};
}
inline std::string Be32(uint32_t v) {
    return Be16(static_cast<uint16_t>(v >> 16)) + Be16(v & 0xFFFF);
}
inline std::string Le16(uint16_t v) {
    return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}
inline std::string Le32(uint32_t v) {
    return Le16(v & 0xFFFF) + Le16(static_cast<uint16_t>(v >> 16));
}

// n bytes of no format, each byte value among them.
inline std::string Pattern(std::size_t n) {
    std::string bytes(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<char>((i * 131 + i / 251) & 0xFF);
    return bytes;
}

std::string SharedTestData();

// While it lives, the process acts as an unprivileged user (when it runs as
// the super-user, whom folder rights do not stop), so that a test can see a
// write refused by a read-only folder. Active() is false when that cannot be
// arranged.
class AsUnprivilegedUser {
public:
    AsUnprivilegedUser();
    ~AsUnprivilegedUser();
    AsUnprivilegedUser(const AsUnprivilegedUser&) = delete;
    AsUnprivilegedUser& operator=(const AsUnprivilegedUser&) = delete;
    bool Active() const { return active; }

private:
    bool wasRoot = false;
    bool active = false;
};
