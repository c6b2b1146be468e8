#include "Proxy_EPS.h"

#include "IMG_Exception.h"
#include "IMG_PathNames.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

// Data blocks are skipped by moving the file position; blocks and files
// beyond 2 GB need 64-bit offsets.
static_assert(sizeof(off_t) >= 8, "the EPS readers need 64-bit file offsets");

namespace {

// Row identifiers of the keyword tables.
enum RowId : int {
    kRowCreator = 0,
    kRowTitle = 1,
    kRowCreationDate = 2,
    kRowImageData = 3,
    kRowBeginPhotoshop = 4,
    kRowBoundingBox = 5,
    kRowHiResBoundingBox = 6,
    kRowBeginBinary = 7,
    kRowBeginData = 8,
    kRowCyanPlate = 9,
    kRowMagentaPlate = 10,
    kRowYellowPlate = 11,
    kRowBlackPlate = 12,
    kRowCyanPlateFile = 13,
    kRowMagentaPlateFile = 14,
    kRowYellowPlateFile = 15,
    kRowBlackPlateFile = 16,
    kRowBeginIccProfile = 18,
    kRowBeginOpi = 19,
    kRowImageFileName = 20,
    kRowMainImage = 21,
    kRowImageInks = 22,
    kRowEndOpi = 23,
    kRowAldImageFileName = 24,
    kRowAldImageId = 25,
    kRowAldImageResolution = 26,
    kRowAldImageType = 27,
    kRowArchReplaceImage = 28,
    kRowHyphenInclude = 30,
    kRowHyphenIncludeMaster = 31,
};

using Row = Proxy_EPS::KeywordRow;

const Row kStdTable[] = {
    {kRowCreator, "%%Creator:", true, ""},
    {kRowTitle, "%%Title:", true, ""},
    {kRowImageData, "%ImageData:", true, ""},
    {kRowBoundingBox, "%%BoundingBox:", true, ""},
    {kRowHiResBoundingBox, "%%HiResBoundingBox:", true, ""},
    {kRowCyanPlate, "%%CyanPlate:", true, ""},
    {kRowMagentaPlate, "%%MagentaPlate:", true, ""},
    {kRowYellowPlate, "%%YellowPlate:", true, ""},
    {kRowBlackPlate, "%%BlackPlate:", true, ""},
    {kRowCyanPlateFile, "%%PlateFile: (Cyan) EPS #", true, ""},
    {kRowMagentaPlateFile, "%%PlateFile: (Magenta) EPS #", true, ""},
    {kRowYellowPlateFile, "%%PlateFile: (Yellow) EPS #", true, ""},
    {kRowBlackPlateFile, "%%PlateFile: (Black) EPS #", true, ""},
    {kRowBeginBinary, "%%BeginBinary:", true, "%%EndBinary"},
    {kRowBeginData, "%%BeginData:", true, "%%EndData"},
    {kRowBeginPhotoshop, "%BeginPhotoshop:", true, "%EndPhotoshop"},
    {kRowBeginIccProfile, "%%BeginICCProfile:", true, "%%EndICCProfile"},
    {-1, nullptr, false, nullptr},
};

const Row kOpiTable[] = {
    {kRowCreator, "%%Creator:", true, ""},
    {kRowTitle, "%%Title:", true, ""},
    {kRowImageData, "%ImageData:", true, ""},
    {kRowAldImageFileName, "%ALDImageFileName:", true, ""},
    {kRowAldImageId, "%ALDImageID:", true, ""},
    {kRowAldImageResolution, "%ALDImageResolution:", true, ""},
    {kRowAldImageType, "%ALDImageType:", true, ""},
    {kRowBeginOpi, "%%BeginOPI:", true, ""},
    {kRowImageFileName, "%%ImageFileName:", true, ""},
    {kRowMainImage, "%%MainImage:", true, ""},
    {kRowImageInks, "%%ImageInks:", true, ""},
    {kRowEndOpi, "%%EndOPI", true, ""},
    {kRowBeginBinary, "%%BeginBinary:", true, "%%EndBinary"},
    {kRowBeginData, "%%BeginData:", true, "%%EndData"},
    {kRowBeginPhotoshop, "%BeginPhotoshop:", true, "%EndPhotoshop"},
    {kRowBeginIccProfile, "%%BeginICCProfile:", true, "%%EndICCProfile"},
    {-1, nullptr, false, nullptr},
};

const Row kOtherTable[] = {
    {kRowCreator, "%%Creator:", true, ""},
    {kRowTitle, "%%Title:", true, ""},
    {kRowCreationDate, "%%CreationDate:", true, ""},
    {kRowBoundingBox, "%%BoundingBox:", true, ""},
    {kRowHiResBoundingBox, "%%HiResBoundingBox:", true, ""},
    {kRowArchReplaceImage, "%ArchReplaceImage:", true, ""},
    {kRowHyphenInclude, "%%HYPHENInclude:", true, ""},
    {kRowHyphenIncludeMaster, "%%HYPHENIncludeMaster:", true, ""},
    {kRowBeginBinary, "%%BeginBinary:", true, "%%EndBinary"},
    {kRowBeginData, "%%BeginData:", true, "%%EndData"},
    {kRowBeginPhotoshop, "%BeginPhotoshop:", true, "%EndPhotoshop"},
    {kRowBeginIccProfile, "%%BeginICCProfile:", true, "%%EndICCProfile"},
    {-1, nullptr, false, nullptr},
};

// The magic of a DOS EPS binary header, and the header's size.
constexpr unsigned char kBinaryMagic[4] = {0xC5, 0xD0, 0xD3, 0xC6};
constexpr int64_t kBinaryHeaderSize = 30;
constexpr std::size_t kMaxTableRows = 32;
constexpr std::size_t kLinkedNameMax = 515;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

const char* SkipBlanks(const char* p) {
    while (IsBlank(*p)) {
        ++p;
    }
    return p;
}

bool IsHexDigit(int c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

uint32_t ReadLE32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The number readers below take what scanf's %d, %ld, %f and %s take (white
// space first, then the number or word) and move p past it. A number that
// does not fit its range counts as not read: scanf leaves its value undefined.
bool ScanInteger(const char*& p, int64_t min, int64_t max, int64_t& out) {
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(p, &end, 10);
    if (end == p || errno == ERANGE || value < min || value > max) {
        return false;
    }
    p = end;
    out = value;
    return true;
}

bool ScanInt(const char*& p, int& out) {
    int64_t value = 0;
    if (!ScanInteger(p, std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), value)) {
        return false;
    }
    out = static_cast<int>(value);
    return true;
}

// Infinities and NaNs (and numbers beyond a float) are no box edges or
// resolutions; they count as not read.
bool ScanFloat(const char*& p, float& out) {
    char* end = nullptr;
    const double value = std::strtod(p, &end);
    if (end == p || !std::isfinite(value) || std::fabs(value) > FLT_MAX) {
        return false;
    }
    p = end;
    out = static_cast<float>(value);
    return true;
}

// A word of at most size - 1 characters, like "%255s" into size bytes.
bool ScanWord(const char*& p, char* out, std::size_t size) {
    while (*p != '\0' && std::isspace(static_cast<unsigned char>(*p))) {
        ++p;
    }
    if (*p == '\0') {
        return false;
    }
    std::size_t n = 0;
    while (*p != '\0' && !std::isspace(static_cast<unsigned char>(*p)) && n + 1 < size) {
        out[n++] = *p++;
    }
    out[n] = '\0';
    return true;
}

bool BeginsWith(const char* text, const char* prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// Copies a comment value into a text of size bytes, cut to fit.
void CopyValue(char* text, std::size_t size, const char* value) {
    std::strncpy(text, value, size - 1);
    text[size - 1] = '\0';
}

// Turns a comment value into a file name. Real OPI comments put a blank
// after the colon ("%%ImageFileName: (Vol:Images:Photo.tif)"); the blanks
// before the string are no part of the name.
int NameFromValue(const char* value, char* out, std::size_t max) {
    return NameFromDscValue(SkipBlanks(value), out, max);
}

} // namespace

// ---------------------------------------------------------------------------
// Proxy_EPS

Proxy_EPS::~Proxy_EPS() {
    CloseRead();
}

bool Proxy_EPS::CanBe(const IMG_FileView& file) {
    return file.MayHold(0, "%!PS", 4) || file.MayHold(0, kBinaryMagic, 4);
}

void Proxy_EPS::OpenRead() {
    CloseRead();
    const char* name = GetFileName();
    if (name == nullptr) {
        throw IMG_Exception(-4);
    }
    if (lentFile != nullptr) {
        fileSize = static_cast<int64_t>(lentFile->Size()); // a regular file
    } else {
        fd = ::open(name, O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            throw IMG_Exception(-4);
        }
        struct stat status {};
        if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
            throw IMG_Exception(-4);
        }
        fileSize = status.st_size;
    }
    opened = true;
    position = 0;
    psOffset = previewOffset = previewLength = 0;

    unsigned char magic[28];
    auto readMagic = [this, &magic](std::size_t from, std::size_t to, int code) {
        for (std::size_t i = from; i < to; ++i) {
            const int c = NextChar();
            if (c == EOF) {
                throw IMG_Exception(code);
            }
            magic[i] = static_cast<unsigned char>(c);
        }
    };
    readMagic(0, 4, -8);
    if (std::memcmp(magic, "%!PS", 4) == 0) {
        psOffset = 0;
    } else if (std::memcmp(magic, kBinaryMagic, 4) == 0) {
        readMagic(4, sizeof magic, -11);
        psOffset = ReadLE32(magic + 4);
        previewOffset = ReadLE32(magic + 20);
        previewLength = ReadLE32(magic + 24);
        // The header's offsets are only as good as the file: the PostScript
        // section begins after the header and before the end, and a preview
        // lies wholly inside the file.
        if (psOffset < kBinaryHeaderSize || psOffset >= fileSize) {
            throw IMG_Exception(-11);
        }
        if (previewOffset > fileSize || previewLength > fileSize - previewOffset) {
            throw IMG_Exception(-11);
        }
        if (previewLength > 0 && previewOffset < kBinaryHeaderSize) {
            throw IMG_Exception(-11);
        }
    } else {
        throw IMG_Exception(-11);
    }
    SeekTo(psOffset);
    lineEndAt = psOffset;
}

void Proxy_EPS::CloseRead() {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
    opened = false;
    window = cursor = limit = nullptr; // they may point into the lent file
}

int Proxy_EPS::NextChar() {
    if (cursor != limit) {
        ++position;
        return *cursor++;
    }
    return NextCharFromFile();
}

int Proxy_EPS::NextCharFromFile() {
    // The file ends where it did when it was opened.
    if (position >= fileSize) {
        return EOF;
    }
    std::size_t available = 0;
    if (lentFile != nullptr) {
        window = lentFile->Bytes(static_cast<uint64_t>(position), available);
    } else {
        if (!buffer) {
            buffer.reset(new (std::nothrow) uint8_t[kBufferBytes]);
            if (!buffer) {
                throw IMG_Exception(-2);
            }
        }
        const auto left = static_cast<uint64_t>(fileSize - position);
        const std::size_t want =
            left < kBufferBytes ? static_cast<std::size_t>(left) : kBufferBytes;
        ssize_t got = 0;
        do {
            got = ::pread(fd, buffer.get(), want, static_cast<off_t>(position));
        } while (got < 0 && errno == EINTR);
        window = got > 0 ? buffer.get() : nullptr;
        available = got > 0 ? static_cast<std::size_t>(got) : 0;
    }
    if (window == nullptr) {
        cursor = limit = nullptr;
        return EOF; // a read error ends the file as its end does
    }
    windowStart = position;
    cursor = window;
    limit = window + available;
    ++position;
    return *cursor++;
}

void Proxy_EPS::SeekTo(int64_t offset) {
    if (offset < 0 || offset > fileSize) {
        throw IMG_Exception(-11);
    }
    position = offset;
    if (window != nullptr && offset >= windowStart && offset - windowStart <= limit - window) {
        cursor = window + (offset - windowStart);
    } else {
        window = cursor = limit = nullptr; // read from there when asked
    }
}

int Proxy_EPS::SkipLineEnds() {
    int c = 0;
    do {
        c = NextChar();
    } while (c == '\r' || c == '\n');
    return c;
}

bool Proxy_EPS::ReachedPreview() const {
    return previewLength > 0 && previewOffset > psOffset && position >= previewOffset;
}

int Proxy_EPS::ReadDscLine(char* line, int& lookAhead) {
    if (!opened) {
        throw IMG_Exception(-4);
    }
    std::size_t n = 0;
    line[0] = '\0';
    if (lookAhead == EOF) {
        lineEndAt = position;
        return -1;
    }
    if (lookAhead != kLookAheadNone) {
        line[n++] = static_cast<char>(lookAhead);
    }
    int ending = 0; // CR, LF or EOF; 0 when the line was cut at kLineMax
    for (;;) {
        const int c = NextChar();
        if (c == EOF || c == '\r' || c == '\n') {
            ending = c;
            break;
        }
        if (n == kLineMax) {
            // The rest of an over-long line is read as the next line.
            lineEndAt = position - 1;
            lookAhead = c;
            break;
        }
        line[n++] = static_cast<char>(c);
    }
    line[n] = '\0';
    if (ending == EOF) {
        lineEndAt = position;
        lookAhead = EOF;
    } else if (ending != 0) {
        // The line end is one CR, one LF or one CR LF; further line ends are
        // blank lines, which the scan passes over.
        lineEndAt = position;
        int next = NextChar();
        if (ending == '\r' && next == '\n') {
            lineEndAt = position;
            next = NextChar();
        }
        while (next == '\r' || next == '\n') {
            next = NextChar();
        }
        lookAhead = next;
    }
    if (lookAhead == EOF || std::strcmp(line, "%%EOF") == 0 || ReachedPreview()) {
        return -1;
    }
    return static_cast<int>(n);
}

void Proxy_EPS::SkipBlock(int64_t count, int unit, int type, const char* endKeyword,
                          int& lookAhead) {
    if (!opened) {
        throw IMG_Exception(-4);
    }
    if (endKeyword == nullptr) {
        endKeyword = "";
    }
    char line[kLineMax + 1];
    if (count == -1 || unit == kEpsUnitUnknown || type == kEpsTypeUnknown) {
        // Without a size the block ends at its closing comment.
        if (*endKeyword == '\0') {
            throw IMG_Exception(-11);
        }
        do {
            if (ReadDscLine(line, lookAhead) < 0) {
                throw IMG_Exception(-11);
            }
        } while (!BeginsWith(line, endKeyword));
        return;
    }
    if (count < 0) {
        throw IMG_Exception(-11);
    }
    if (unit == kEpsUnitLines) {
        // Every line takes at least one character of the file.
        if (count > fileSize - position + 1) {
            throw IMG_Exception(-11);
        }
        for (int64_t i = 0; i < count; ++i) {
            if (ReadDscLine(line, lookAhead) < 0) {
                throw IMG_Exception(-11);
            }
        }
    } else if (unit == kEpsUnitBytes) {
        // The data begins right after the line end of the opening comment;
        // the line reader has read on past further line ends, which belong
        // to the data, so the block is taken from there.
        const int64_t available = fileSize - lineEndAt;
        switch (type) {
        case kEpsTypeBinary:
            if (count > available) {
                throw IMG_Exception(-11);
            }
            SeekTo(lineEndAt + count);
            lookAhead = kLookAheadNone;
            break;
        case kEpsTypeHex: {
            if (count > available / 2) {
                throw IMG_Exception(-11);
            }
            SeekTo(lineEndAt);
            // Two hex digits a byte; line ends, blanks and the "%" that opens
            // each line of a comment-wrapped block are no data. "%%" is a
            // comment line, so the block was shorter than it said.
            int64_t digits = count * 2;
            bool afterPercent = false;
            while (digits > 0) {
                const int c = NextChar();
                if (c == EOF) {
                    throw IMG_Exception(-11);
                }
                if (c == '%') {
                    if (afterPercent) {
                        throw IMG_Exception(-11);
                    }
                    afterPercent = true;
                    continue;
                }
                afterPercent = false;
                if (IsHexDigit(c)) {
                    --digits;
                } else if (c != '\r' && c != '\n' && c != ' ' && c != '\t') {
                    throw IMG_Exception(-11);
                }
            }
            lookAhead = SkipLineEnds();
            break;
        }
        case kEpsTypeAscii: {
            if (count > available) {
                throw IMG_Exception(-11);
            }
            SeekTo(lineEndAt);
            // A "%" after a "%" (blanks and line ends between do not count)
            // means the reading ran into a comment: the block lied.
            int last = 0;
            for (int64_t i = 0; i < count; ++i) {
                const int c = NextChar();
                if (c == EOF) {
                    throw IMG_Exception(-11);
                }
                if (c == '%' && last == '%') {
                    throw IMG_Exception(-11);
                }
                if (c != ' ' && c != '\t' && c != '\r' && c != '\n') {
                    last = c;
                }
            }
            lookAhead = SkipLineEnds();
            break;
        }
        default:
            throw IMG_Exception(-11);
        }
    } else {
        throw IMG_Exception(-11);
    }
    // The closing comment; it is not compared.
    if (*endKeyword != '\0' && ReadDscLine(line, lookAhead) < 0) {
        throw IMG_Exception(-11);
    }
}

void Proxy_EPS::ParseBlockArguments(int id, const char* endKeyword, const char* value,
                                    int& lookAhead) {
    if (id == kRowBeginPhotoshop || id == kRowBeginBinary) {
        // A count that does not read leaves the block to its closing comment.
        const char* p = value;
        int64_t count = -1;
        if (!ScanInteger(p, std::numeric_limits<int64_t>::min(),
                         std::numeric_limits<int64_t>::max(), count)) {
            count = -1;
        }
        SkipBlock(count, kEpsUnitBytes, id == kRowBeginPhotoshop ? kEpsTypeHex : kEpsTypeBinary,
                  endKeyword, lookAhead);
        return;
    }
    if (id != kRowBeginData && id != kRowBeginIccProfile) {
        SkipBlock(-1, kEpsUnitUnknown, kEpsTypeUnknown, endKeyword, lookAhead);
        return;
    }

    // "<count> <type> [<unit>]", taken apart from the right end.
    char text[kLineMax + 1];
    CopyValue(text, sizeof text, value);
    std::size_t length = std::strlen(text);
    auto trim = [&] {
        while (length > 0 && IsBlank(text[length - 1])) {
            --length;
        }
        text[length] = '\0';
    };
    auto lastWord = [&] {
        std::size_t start = length;
        while (start > 0 && !IsBlank(text[start - 1])) {
            --start;
        }
        return start;
    };
    trim();
    if (lastWord() == 0) {
        throw IMG_Exception(-11); // no blank: not even a count and a type
    }
    int unit = kEpsUnitBytes;
    std::size_t start = lastWord();
    if (std::strcmp(text + start, "Lines") == 0 || std::strcmp(text + start, "Bytes") == 0) {
        unit = text[start] == 'L' ? kEpsUnitLines : kEpsUnitBytes;
        length = start;
        trim();
        start = lastWord();
    }
    int type = kEpsTypeUnknown;
    if (std::strcmp(text + start, "ASCII") == 0) {
        type = kEpsTypeAscii;
    } else if (std::strcmp(text + start, "Hex") == 0) {
        type = kEpsTypeHex;
    } else if (std::strcmp(text + start, "Binary") == 0) {
        type = kEpsTypeBinary;
    } else {
        throw IMG_Exception(-11);
    }
    length = start;
    trim();
    const char* p = text + lastWord();
    int64_t count = 0;
    if (!ScanInteger(p, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max(),
                     count)) {
        throw IMG_Exception(-11);
    }
    SkipBlock(count, unit, type, endKeyword, lookAhead);
}

void Proxy_EPS::ScanComments(const KeywordRow* table) {
    struct RowState {
        std::size_t length = 0;
        bool seen = false;
    };
    std::array<RowState, kMaxTableRows> rows{};
    std::size_t rowCount = 0;
    while (table[rowCount].keyword != nullptr) {
        if (rowCount == kMaxTableRows) {
            throw IMG_Exception(-2);
        }
        rows[rowCount].length = std::strlen(table[rowCount].keyword);
        ++rowCount;
    }

    char line[kLineMax + 1];
    int lookAhead = kLookAheadNone;
    for (;;) {
        const int length = ReadDscLine(line, lookAhead);
        if (length < 0) {
            return;
        }
        if (length == 0 || line[0] != '%') {
            continue;
        }
        std::size_t match = rowCount;
        bool repeated = false;
        for (std::size_t i = 0; i < rowCount; ++i) {
            if (std::strncmp(line, table[i].keyword, rows[i].length) != 0) {
                continue;
            }
            if (table[i].firstOnly && rows[i].seen) {
                repeated = true;
                continue;
            }
            match = i;
            break;
        }
        if (match == rowCount) {
            // A repeated comment (nested documents repeat the header
            // comments) is not handled again, nor is it some other comment.
            if (!repeated) {
                HandleOtherComment(line);
            }
            continue;
        }
        const bool end = HandleComment(table[match], line + rows[match].length, lookAhead);
        rows[match].seen = true;
        if (end) {
            return;
        }
    }
}

void Proxy_EPS::KeepText(char* text, const char* value) {
    CopyValue(text, 64, value);
}

void Proxy_EPS::ReadImageData(const char* value, ImageData& data) {
    // "%ld %ld %d %d %d %ld %d %s": columns, rows, depth, mode, pad channels,
    // block size, encoding and the begin string; all eight must be there.
    // Negative or oversized pixel counts are no image that can be reported.
    const char* p = value;
    int64_t columns = 0, rows = 0, blockSize = 0;
    int depth = 0, colourMode = 0, padChannels = 0, encoding = 0;
    char begin[256];
    const int64_t maxPixels = std::numeric_limits<uint32_t>::max();
    const bool complete = ScanInteger(p, 0, maxPixels, columns) &&
                          ScanInteger(p, 0, maxPixels, rows) && ScanInt(p, depth) &&
                          ScanInt(p, colourMode) && ScanInt(p, padChannels) &&
                          ScanInteger(p, std::numeric_limits<int64_t>::min(),
                                      std::numeric_limits<int64_t>::max(), blockSize) &&
                          ScanInt(p, encoding) && ScanWord(p, begin, sizeof begin);
    if (!complete) {
        throw IMG_Exception(-11);
    }
    int dataEncodingRead = kEpsEncodingNone;
    if (encoding == 1) {
        dataEncodingRead = kEpsEncodingBinary;
    } else if (encoding == 2) {
        dataEncodingRead = kEpsEncodingHex;
    } else if (encoding >= 3 && encoding <= 6) {
        dataEncodingRead = kEpsEncodingAscii;
    } else {
        throw IMG_Exception(-11);
    }
    data.columns = columns;
    data.rows = rows;
    data.depth = depth;
    data.mode = colourMode;
    dataEncoding = dataEncodingRead;
}

uint32_t Proxy_EPS::PixelTypeOfMode(int colourMode) {
    switch (colourMode) {
    case 1:
        return 0x280A; // Gray
    case 2:
        return 0x2108; // Lab
    case 3:
        return 0x2101; // RGB
    case 4:
        return 0x0802; // CMYK
    default:
        return 0;
    }
}

// ---------------------------------------------------------------------------
// Proxy_EPS_Std

void Proxy_EPS_Std::ReadHeader() {
    creator[0] = title[0] = '\0';
    dataEncoding = kEpsEncodingNone;
    image = ImageData{};
    left = bottom = right = top = 0;
    dcs2 = false;

    ScanComments(kStdTable);

    if (image.depth == 1) {
        throw IMG_Exception(-11); // bitmap images are not handled
    }
    IMG_ImageInfo& out = Info();
    out.width = static_cast<uint32_t>(image.columns);
    out.height = static_cast<uint32_t>(image.rows);
    SetPixelType(out, PixelTypeOfMode(image.mode));
    const float extent = right - left;
    out.resolution = extent > 0 ? static_cast<float>(image.columns) / extent * 72.0f : 0.0f;
    formatCode = kImgFormatEps;
}

bool Proxy_EPS_Std::HandleComment(const KeywordRow& row, const char* value, int& lookAhead) {
    switch (row.id) {
    case kRowCreator:
        KeepText(creator, value);
        break;
    case kRowTitle:
        KeepText(title, value);
        break;
    case kRowImageData:
        // In a DCS 2 file the plate comments decide.
        if (!dcs2) {
            ReadImageData(value, image);
        }
        break;
    case kRowBoundingBox:
    case kRowHiResBoundingBox: {
        // The high-resolution box wins whichever comes first; a deferred
        // box ("(atend)") does not read and rejects the file.
        if (row.id == kRowBoundingBox && (right != 0 || top != 0)) {
            break;
        }
        const char* p = value;
        float box[4];
        if (!(ScanFloat(p, box[0]) && ScanFloat(p, box[1]) && ScanFloat(p, box[2]) &&
              ScanFloat(p, box[3]))) {
            throw IMG_Exception(-11);
        }
        left = box[0];
        bottom = box[1];
        right = box[2];
        top = box[3];
        break;
    }
    case kRowCyanPlateFile:
    case kRowMagentaPlateFile:
    case kRowYellowPlateFile:
    case kRowBlackPlateFile:
        dcs2 = true;
        [[fallthrough]];
    case kRowCyanPlate:
    case kRowMagentaPlate:
    case kRowYellowPlate:
    case kRowBlackPlate:
        image.depth = 8;
        image.mode = 4;
        break;
    default:
        ParseBlockArguments(row.id, row.endKeyword, value, lookAhead);
        break;
    }
    return false;
}

// ---------------------------------------------------------------------------
// Proxy_EPS_OPI

void Proxy_EPS_OPI::ReadHeader() {
    creator[0] = title[0] = '\0';
    dataEncoding = kEpsEncodingNone;
    image = ImageData{};
    fileName[0] = imageId[0] = '\0';
    aldResolution[0] = aldResolution[1] = 0;
    inksPixelType = 0;
    opiVersion = 0;

    ScanComments(kOpiTable);

    if (opiVersion == 0) {
        throw IMG_Exception(-11);
    }
    LinkFirstPathOf(imageId, fileName);
    IMG_ImageInfo& out = Info();
    out.width = static_cast<uint32_t>(image.columns);
    out.height = static_cast<uint32_t>(image.rows);
    uint32_t pixelType = PixelTypeOfMode(image.mode);
    if (pixelType == 0) {
        pixelType = inksPixelType;
    }
    SetPixelType(out, pixelType);
    out.resolution = aldResolution[0] != 0 ? aldResolution[0] : aldResolution[1];
    formatCode = kImgFormatEpsPlaceholder;
}

void Proxy_EPS_OPI::LinkFirstPathOf(const char* first, const char* second) {
    char name[kLinkedNameMax + 1] = {};
    if (first != nullptr && first[0] != '\0') {
        NameFromValue(first, name, kLinkedNameMax);
    }
    if (name[0] == '\0' && second != nullptr && second[0] != '\0') {
        NameFromValue(second, name, kLinkedNameMax);
    }
    if (name[0] == '\0') {
        throw IMG_Exception(-11);
    }
    SetLinkedName(name, kLinkedNameMax);
}

bool Proxy_EPS_OPI::HandleComment(const KeywordRow& row, const char* value, int& lookAhead) {
    switch (row.id) {
    case kRowCreator:
        KeepText(creator, value);
        break;
    case kRowTitle:
        KeepText(title, value);
        break;
    case kRowImageData:
        ReadImageData(value, image);
        break;
    case kRowBeginOpi:
        opiVersion = 20;
        break;
    case kRowImageFileName:
        CopyValue(fileName, sizeof fileName, value);
        break;
    case kRowMainImage:
        CopyValue(imageId, sizeof imageId, value);
        break;
    case kRowImageInks: {
        const char* inks = SkipBlanks(value);
        if (BeginsWith(inks, "monochrome")) {
            inksPixelType = 0x280A;
        } else if (BeginsWith(inks, "full_color")) {
            inksPixelType = 0x000B;
        }
        break;
    }
    case kRowEndOpi:
        return true;
    case kRowAldImageFileName:
        CopyValue(fileName, sizeof fileName, value);
        opiVersion = 13;
        break;
    case kRowAldImageId:
        CopyValue(imageId, sizeof imageId, value);
        opiVersion = 13;
        break;
    case kRowAldImageResolution: {
        const char* p = value;
        float x = 0, y = 0;
        if (!(ScanFloat(p, x) && ScanFloat(p, y))) {
            throw IMG_Exception(-11);
        }
        aldResolution[0] = x;
        aldResolution[1] = y;
        break;
    }
    case kRowAldImageType: {
        // The last comment of an OPI 1.3 header that this reader needs.
        const char* p = value;
        int samples = 0, bits = 0;
        if (!(ScanInt(p, samples) && ScanInt(p, bits)) || bits != 8) {
            throw IMG_Exception(-11);
        }
        if (samples == 1) {
            inksPixelType = 0x280A;
        } else if (samples == 3) {
            inksPixelType = 0x2101;
        } else if (samples == 4) {
            inksPixelType = 0x0802;
        }
        return true;
    }
    default:
        ParseBlockArguments(row.id, row.endKeyword, value, lookAhead);
        break;
    }
    return false;
}

// ---------------------------------------------------------------------------
// Proxy_EPS_OPI_Other

void Proxy_EPS_OPI_Other::ReadHeader() {
    creator[0] = title[0] = '\0';
    dataEncoding = kEpsEncodingNone;
    primaryName[0] = fallbackName[0] = '\0';

    ScanComments(kOtherTable);

    // The fallback text already holds a decoded absolute path.
    char name[kLinkedNameMax + 1] = {};
    if (primaryName[0] != '\0') {
        NameFromValue(primaryName, name, kLinkedNameMax);
    }
    if (name[0] == '\0') {
        CopyValue(name, sizeof name, fallbackName);
    }
    if (name[0] == '\0') {
        throw IMG_Exception(-11);
    }
    SetLinkedName(name, kLinkedNameMax);
    IMG_ImageInfo& out = Info();
    SetPixelType(out, 0);
    formatCode = kImgFormatEpsPlaceholder;
}

bool Proxy_EPS_OPI_Other::HandleComment(const KeywordRow& row, const char* value, int& lookAhead) {
    switch (row.id) {
    case kRowCreator:
        KeepText(creator, value);
        break;
    case kRowTitle:
        KeepText(title, value);
        break;
    case kRowCreationDate:
    case kRowBoundingBox:
    case kRowHiResBoundingBox:
        // Every real EPS carries a bounding box and most a date; neither
        // tells anything of a replacement file. They are taken here only so
        // that their values (dates with colons and slashes) are never read
        // as a file name.
        break;
    case kRowArchReplaceImage:
    case kRowHyphenInclude:
    case kRowHyphenIncludeMaster:
        CopyValue(primaryName, sizeof primaryName, value);
        break;
    default:
        ParseBlockArguments(row.id, row.endKeyword, value, lookAhead);
        break;
    }
    return false;
}

void Proxy_EPS_OPI_Other::HandleOtherComment(const char* line) {
    // Any other comment whose value is an absolute path may name the file
    // that this one stands for; the first such value is kept.
    if (fallbackName[0] != '\0' || line[0] == '\0') {
        return;
    }
    const char* p = line + 1;
    while (*p != '\0' && *p != ':' && !IsBlank(*p)) {
        ++p;
    }
    if (*p == ':') {
        NameFromValue(p + 1, fallbackName, sizeof fallbackName - 1);
    }
}
