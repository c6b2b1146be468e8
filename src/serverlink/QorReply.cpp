#include "QorReply.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string_view>

namespace {

// An integer at the start of a token (leading blanks and a sign allowed);
// false when there is none. Out-of-range values are clamped to the type.
template <typename T> bool ParseInteger(std::string_view token, T& value) {
    char digits[32];
    std::size_t n = token.size() < sizeof digits - 1 ? token.size() : sizeof digits - 1;
    std::memcpy(digits, token.data(), n);
    digits[n] = '\0';
    char* end = nullptr;
    errno = 0;
    long long parsed = std::strtoll(digits, &end, 10);
    if (end == digits) {
        return false;
    }
    if (parsed > static_cast<long long>(std::numeric_limits<T>::max())) {
        parsed = std::numeric_limits<T>::max();
    } else if (parsed < static_cast<long long>(std::numeric_limits<T>::min())) {
        parsed = std::numeric_limits<T>::min();
    }
    value = static_cast<T>(parsed);
    return true;
}

bool CopyToken(char* dst, std::size_t cap, std::string_view token) {
    std::size_t n = token.size() < cap - 1 ? token.size() : cap - 1;
    std::memcpy(dst, token.data(), n);
    dst[n] = '\0';
    return n == token.size();
}

} // namespace

int ParseReply(const char* text, int capacity, QorReply& reply) {
    if (text == nullptr || capacity <= 0) {
        return -1;
    }
    std::string_view all(text, ::strnlen(text, static_cast<std::size_t>(capacity)));
    int index = 0;
    bool pathFits = true;
    std::size_t pos = 0;
    while (pos < all.size() && index < 8) {
        std::size_t end = all.find('\n', pos);
        if (end == std::string_view::npos) {
            end = all.size();
        }
        std::string_view token = all.substr(pos, end - pos);
        pos = end + 1;
        if (token.empty()) {
            continue; // empty lines vanish
        }
        switch (index) {
        case 1: {
            int32_t style = 0;
            reply.pathStyle = ParseInteger(token, style) ? style : 0;
            break;
        }
        case 3:
            if (token == "finish") {
                reply.status = 0;
            } else if (token == "warning") {
                reply.status = -1;
            } else if (token == "error") {
                reply.status = -2;
            } else if (token == "stop") {
                reply.status = -3;
            }
            break;
        case 4:
            CopyToken(reply.message, sizeof reply.message, token);
            break;
        case 5:
            // A cut path would name another file: an over-long one is refused.
            pathFits = CopyToken(reply.outputPath, sizeof reply.outputPath, token);
            if (!pathFits) {
                reply.outputPath[0] = '\0';
            }
            break;
        case 6:
            ParseInteger(token, reply.time1);
            break;
        case 7:
            ParseInteger(token, reply.time2);
            break;
        default:
            break;
        }
        ++index;
    }
    if (index == 0) {
        return -1;
    }
    return index > 4 && pathFits ? 0 : -1;
}
