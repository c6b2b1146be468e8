#include "Paths.h"

#include <cstring>

bool CopyBounded(char* dst, std::size_t cap, const char* src) {
    if (cap == 0) {
        return src == nullptr || *src == '\0';
    }
    if (src == nullptr) {
        dst[0] = '\0';
        return true;
    }
    std::size_t n = std::strlen(src);
    bool whole = n < cap;
    if (!whole) {
        n = cap - 1;
    }
    std::memmove(dst, src, n);
    dst[n] = '\0';
    return whole;
}

bool AppendBounded(char* dst, std::size_t cap, const char* src) {
    std::size_t used = ::strnlen(dst, cap);
    if (used >= cap) {
        return false;
    }
    return CopyBounded(dst + used, cap - used, src);
}

bool AppendPathPart(char* dst, std::size_t cap, const char* name) {
    const char sep[2] = {kPathSeparator, '\0'};
    return AppendBounded(dst, cap, sep) && AppendBounded(dst, cap, name);
}

char* LastSeparator(char* path) {
    return std::strrchr(path, kPathSeparator);
}

const char* LastSeparator(const char* path) {
    return std::strrchr(path, kPathSeparator);
}

const char* FileNamePart(const char* path) {
    const char* last = LastSeparator(path);
    return last != nullptr ? last + 1 : path;
}
