#include "QOR_Stream.h"

#include "IMG_Exception.h"

#include <climits>
#include <cstdlib>

QOR_Stream::~QOR_Stream() = default;

int QOR_Stream::ParseInt(const char* text, int& value) {
    if (text == nullptr) {
        return -1;
    }
    // strtol in base 10 takes exactly what "%d" takes (leading blanks, a sign,
    // digits) but, unlike the scanf family, has a defined result for a number
    // that does not fit: it is held at the nearest int instead of wrapping.
    char* end = nullptr;
    long parsed = std::strtol(text, &end, 10);
    if (end == text) {
        return -1;
    }
    if (parsed > INT_MAX) {
        parsed = INT_MAX;
    } else if (parsed < INT_MIN) {
        parsed = INT_MIN;
    }
    value = static_cast<int>(parsed);
    return 0;
}

QOR_FileStream::~QOR_FileStream() {
    Close();
}

void QOR_FileStream::Open(const char* path, const char* mode) {
    Close();
    if (path == nullptr || mode == nullptr) {
        throw IMG_Exception(-4);
    }
    file = std::fopen(path, mode);
    if (file == nullptr) {
        throw IMG_Exception(-4);
    }
}

bool QOR_FileStream::IsGood() const {
    return file != nullptr && std::feof(file) == 0 && std::ferror(file) == 0;
}

int QOR_FileStream::Close() {
    if (file == nullptr) {
        return 0;
    }
    int result = std::fclose(file);
    file = nullptr;
    return result;
}

namespace {

// After a CR, takes the LF of a CR LF pair and leaves any other character.
void TakeLfAfterCr(std::FILE* file) {
    int next = std::getc(file);
    if (next != '\n' && next != EOF) {
        std::ungetc(next, file);
    }
}

// Skips the rest of a line, its line end included.
void SkipRestOfLine(std::FILE* file) {
    for (;;) {
        int c = std::getc(file);
        if (c == EOF || c == '\n') {
            return;
        }
        if (c == '\r') {
            TakeLfAfterCr(file);
            return;
        }
    }
}

} // namespace

int QOR_FileStream::ReadLine(char* buffer, int max) {
    // A buffer without room for one character cannot take a line; reporting the
    // end of the file keeps the callers' read-until-failure loops finite.
    if (buffer == nullptr || max < 0) {
        return -1;
    }
    buffer[0] = '\0';
    if (file == nullptr || max == 0) {
        return -1;
    }

    for (;;) {
        int stored = 0;
        bool consumed = false; // a character of this line was taken from the file
        bool comment = false;
        bool lineEnded = false;
        while (stored < max) {
            int c = std::getc(file);
            if (c == EOF) {
                lineEnded = true;
                break;
            }
            consumed = true;
            if (c == '\n') {
                lineEnded = true;
                break;
            }
            if (c == '\r') {
                TakeLfAfterCr(file);
                lineEnded = true;
                break;
            }
            if (c == '#') {
                int next = std::getc(file);
                if (next == '#') {
                    comment = true;
                    break;
                }
                if (next != EOF) {
                    std::ungetc(next, file);
                }
            }
            buffer[stored++] = static_cast<char>(c);
        }
        buffer[stored] = '\0';

        if (comment) {
            SkipRestOfLine(file);
            if (stored == 0) {
                continue; // a line that held only a remark is no line at all
            }
            return 0;
        }
        if (!lineEnded) {
            // Cut at max characters. A line end right behind the cut belongs to
            // this line, so that a line of exactly max characters is not
            // followed by an empty one; anything else starts the next line.
            int next = std::getc(file);
            if (next == '\r') {
                TakeLfAfterCr(file);
            } else if (next != '\n' && next != EOF) {
                std::ungetc(next, file);
            }
            return 0;
        }
        return consumed ? 0 : -1;
    }
}
