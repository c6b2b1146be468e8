#include "IMG_PathNames.h"

#include "PathKind.h"

#include <cstring>

std::size_t DecodePsString(const char* value, char* out, std::size_t max) {
    std::size_t n = 0;
    const char* p = value;
    while (*p != '\0' && n < max) {
        char c = *p++;
        if (c == '(' || c == ')') {
            continue;
        }
        if (c != '\\') {
            out[n++] = c;
            continue;
        }
        char e = *p;
        if (e == '\0') {
            break;
        }
        ++p;
        switch (e) {
        case 'n':
            out[n++] = '\n';
            break;
        case 'r':
            out[n++] = '\r';
            break;
        case 't':
            out[n++] = '\t';
            break;
        case 'b':
            out[n++] = '\b';
            break;
        case 'f':
            out[n++] = '\f';
            break;
        case '(':
        case ')':
        case '\\':
            out[n++] = e;
            break;
        case '\r':
        case '\n':
            // A backslash at the end of a line continues the string.
            if (e == '\r' && *p == '\n') {
                ++p;
            }
            break;
        default:
            if (e >= '0' && e <= '7') {
                int code = e - '0';
                for (int digits = 1; digits < 3 && *p >= '0' && *p <= '7'; ++digits) {
                    code = code * 8 + (*p++ - '0');
                }
                out[n++] = static_cast<char>(code & 0xFF);
            }
            // Any other escaped character stands for itself without the backslash.
            else {
                out[n++] = e;
            }
            break;
        }
    }
    out[n] = '\0';
    return n;
}

int NameFromDscValue(const char* value, char* out, std::size_t max) {
    if (out == nullptr) {
        return -1;
    }
    if (value == nullptr) {
        out[0] = '\0';
        return -1;
    }
    if (value[0] == '(') {
        DecodePsString(value, out, max);
    } else {
        std::strncpy(out, value, max);
        out[max] = '\0';
    }
    int kind = PathKind(out);
    if (kind < 0 || kind > 2) {
        out[0] = '\0';
        return -1;
    }
    return kind;
}
