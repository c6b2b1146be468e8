#include "PathKind.h"

#include <cstring>

int PathKind(const char* text) {
    if (text == nullptr) {
        return -1;
    }
    if (text[0] == '\\' && text[1] == '\\' && std::strchr(text + 2, '\\') != nullptr) {
        return 1;
    }
    if (text[0] >= 'A' && text[0] <= 'Z' && text[1] == ':') {
        return 1;
    }
    if (text[0] == '/' && std::strchr(text + 1, '/') != nullptr) {
        return 2;
    }
    if (text[0] != '\0' && std::strchr(text + 1, ':') != nullptr) {
        return 0;
    }
    return -1;
}
