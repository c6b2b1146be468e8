// Offsets in Photoshop documents are 64-bit, also where off_t is not by default.
#ifndef _FILE_OFFSET_BITS
#define _FILE_OFFSET_BITS 64
#endif

#include "IMG_File.h"

#include "IMG_Exception.h"

#include <cstring>
#include <new>
#include <sys/stat.h>
#include <sys/types.h>

static_assert(sizeof(off_t) >= 8, "file offsets must be 64-bit");

namespace {

uint16_t Be16(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

uint32_t Be32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// Sequential reading that knows the size of the file and where it stands, so
// that a length taken from the file is compared with what is really left
// before anything is allocated or skipped. Moving only sets the position; the
// document reads from wherever it is asked to.
class Cursor {
public:
    Cursor(IMG_FilePsd& d, int64_t fileSize) : document(d), size(fileSize) {}

    int64_t Position() const { return pos; }
    int64_t Left() const { return size - pos; }
    bool Fits(uint64_t count) const { return count <= static_cast<uint64_t>(Left()); }

    bool Read(void* buffer, std::size_t count) {
        if (!Fits(count) || !document.ReadAt(pos, buffer, count)) {
            return false;
        }
        pos += static_cast<int64_t>(count);
        return true;
    }

    // Moves to an absolute position inside the file (its end included).
    bool SeekTo(int64_t target) {
        if (target < 0 || target > size) {
            return false;
        }
        pos = target;
        return true;
    }

private:
    IMG_FilePsd& document;
    int64_t size;
    int64_t pos = 0;
};

// Reads a block of count bytes that the caller has checked to fit in the file.
// The buffer is left uninitialised: the read fills all of it or fails.
bool ReadBlock(Cursor& in, uint32_t count, std::unique_ptr<uint8_t[]>& block, std::size_t& size) {
    if (count == 0) {
        return true;
    }
    std::unique_ptr<uint8_t[]> data(new (std::nothrow) uint8_t[count]);
    if (!data) {
        throw IMG_Exception(-2);
    }
    if (!in.Read(data.get(), count)) {
        return false;
    }
    block = std::move(data);
    size = count;
    return true;
}

} // namespace

IMG_File::~IMG_File() {
    if (file != nullptr) {
        std::fclose(file);
    }
}

void IMG_File::Open(const char*, const char*) {
    throw IMG_Exception(-26);
}
void IMG_File::Close() {
    throw IMG_Exception(-26);
}
void IMG_File::WriteFileHeader() {
    throw IMG_Exception(-26);
}

void IMG_File::SetName(const char* text) {
    if (text == nullptr) {
        name.reset();
        return;
    }
    const std::size_t n = std::strlen(text);
    std::unique_ptr<char[]> copy(new (std::nothrow) char[n + 1]);
    if (!copy) {
        throw IMG_Exception(-2);
    }
    std::memcpy(copy.get(), text, n + 1);
    name = std::move(copy);
}

IMG_FilePsd::~IMG_FilePsd() {
    Close();
}

void IMG_FilePsd::Open(const char* path, const char* openMode) {
    Close();
    if (openMode != nullptr && openMode[0] == 'w') {
        throw IMG_Exception(-26); // documents are only read
    }
    if (path == nullptr || openMode == nullptr || openMode[0] != 'r') {
        throw IMG_Exception(-2);
    }
    SetName(path);
    file = std::fopen(path, openMode);
    if (file == nullptr) {
        throw IMG_Exception(-2);
    }
    streamPosition = 0;
    // A buffer of a size that suits the header; without it the stream's own
    // is used.
    streamBuffer.reset(new (std::nothrow) char[kStreamBufferSize]);
    if (streamBuffer) {
        std::setvbuf(file, streamBuffer.get(), _IOFBF, kStreamBufferSize);
    }
    openState = kOpenRead;
}

void IMG_FilePsd::OpenThrough(const char* path, IMG_FileView& fileView) {
    Close();
    if (path == nullptr) {
        throw IMG_Exception(-2);
    }
    SetName(path);
    view = &fileView;
    openState = kOpenRead;
}

void IMG_FilePsd::Close() {
    if (file != nullptr) {
        std::fclose(file);
        file = nullptr;
    }
    streamBuffer.reset(); // only once the stream that used it is closed
    view = nullptr;
    openState = kClosed;
    Forget();
}

void IMG_FilePsd::Forget() {
    channels = 0;
    rows = columns = 0;
    depth = mode = compression = 0;
    colourModeData.reset();
    colourModeSize = 0;
    fileSize = 0;
    resourcesOffset = 0;
    resourcesLength = 0;
    layerAndMaskLength = layerInfoLength = 0;
    layerCount = 0;
    rowCountsOffset = imageDataOffset = 0;
}

bool IMG_FilePsd::ReadFileHeader() {
    Forget();
    if (openState != kOpenRead || (file == nullptr && view == nullptr)) {
        return false;
    }
    // The size comes from the file system (through the view, which has it):
    // seeking to the end through the stream would read the last block.
    if (view != nullptr) {
        fileSize = static_cast<int64_t>(view->Size());
    } else {
        struct stat st {};
        if (fstat(fileno(file), &st) != 0 || st.st_size < 0) {
            return false;
        }
        fileSize = static_cast<int64_t>(st.st_size);
    }
    Cursor in(*this, fileSize);

    // Signature, version, reserved, channels, rows, columns, depth, mode.
    uint8_t head[26];
    if (!in.Read(head, sizeof head)) {
        return false;
    }
    if (std::memcmp(head, "8BPS", 4) != 0 || Be16(head + 4) != 1) {
        return false;
    }
    channels = Be16(head + 12);
    rows = Be32(head + 14);
    columns = Be32(head + 18);
    depth = Be16(head + 22);
    mode = Be16(head + 24);
    if (depth != 1 && depth != 8 && depth != 16) {
        return false;
    }
    switch (mode) {
    case 0: // bitmap
    case 1: // grayscale
    case 2: // indexed
    case 3: // RGB
    case 4: // CMYK
    case 7: // multichannel
    case 8: // duotone
    case 9: // Lab
        break;
    default:
        return false;
    }

    // Colour-mode data: only indexed and duotone documents carry any.
    uint8_t word[4];
    if (!in.Read(word, 4)) {
        return false;
    }
    const uint32_t colourLength = Be32(word);
    if (colourLength != 0 && mode != 2 && mode != 8) {
        return false;
    }
    if (!in.Fits(colourLength) || !ReadBlock(in, colourLength, colourModeData, colourModeSize)) {
        return false;
    }

    // The image resources: only where they lie is noted, FindResource walks
    // them when asked.
    if (!in.Read(word, 4)) {
        return false;
    }
    const uint32_t resourceLength = Be32(word);
    if (!in.Fits(resourceLength)) {
        return false;
    }
    resourcesOffset = in.Position();
    resourcesLength = resourceLength;
    if (!in.SeekTo(resourcesOffset + resourceLength)) {
        return false;
    }

    // The layer-and-mask section: only its layer count is of interest; the
    // rest is skipped by its length.
    if (!in.Read(word, 4)) {
        return false;
    }
    layerAndMaskLength = Be32(word);
    const int64_t sectionStart = in.Position();
    if (!in.Fits(layerAndMaskLength)) {
        return false;
    }
    uint8_t layerInfo[6];
    if (!in.Read(layerInfo, sizeof layerInfo)) {
        return false;
    }
    layerInfoLength = Be32(layerInfo);
    layerCount = static_cast<int16_t>(Be16(layerInfo + 4));
    if (!in.SeekTo(sectionStart + layerAndMaskLength)) {
        return false;
    }

    // Compression of the image data, then (run-length) one 16-bit byte count
    // per row of every channel. The counts are not needed for inspection: once
    // they are known to be there, the image data is placed after them without
    // moving the stream, which stays where the counts begin.
    uint8_t method[2];
    if (!in.Read(method, 2)) {
        return false;
    }
    compression = Be16(method);
    if (compression != 0 && compression != 1) {
        return false;
    }
    const uint64_t countBytes = compression == 1 ? uint64_t{channels} * rows * 2 : 0;
    if (!in.Fits(countBytes)) {
        return false;
    }
    rowCountsOffset = in.Position();
    imageDataOffset = rowCountsOffset + static_cast<int64_t>(countBytes);
    return true;
}

bool IMG_FilePsd::ReadAt(int64_t offset, void* buffer, std::size_t count) {
    if (openState != kOpenRead || offset < 0 || offset > fileSize ||
        count > static_cast<uint64_t>(fileSize - offset)) {
        return false;
    }
    if (view != nullptr) {
        return view->Read(static_cast<uint64_t>(offset), buffer, count) == count;
    }
    // The stream is moved only when it is not already there.
    if (streamPosition != offset) {
        if (fseeko(file, static_cast<off_t>(offset), SEEK_SET) != 0) {
            streamPosition = -1;
            return false;
        }
        streamPosition = offset;
    }
    if (std::fread(buffer, 1, count, file) != count) {
        streamPosition = -1;
        return false;
    }
    streamPosition += static_cast<int64_t>(count);
    return true;
}

bool IMG_FilePsd::FindResource(uint16_t id, int64_t& dataOffset, uint32_t& dataSize) {
    const uint64_t end = resourcesLength;
    uint64_t pos = 0;
    // Signature, identifier and the name's length byte.
    while (end - pos >= 7) {
        uint8_t entry[7];
        if (!ReadAt(resourcesOffset + static_cast<int64_t>(pos), entry, sizeof entry) ||
            std::memcmp(entry, "8BIM", 4) != 0) {
            return false;
        }
        // The name (length byte and characters) is padded to an even size.
        uint64_t nameField = 1 + uint64_t{entry[6]};
        nameField += nameField & 1;
        const uint64_t headerSize = 6 + nameField + 4;
        if (headerSize > end - pos) {
            return false;
        }
        uint8_t size[4];
        if (!ReadAt(resourcesOffset + static_cast<int64_t>(pos + 6 + nameField), size, 4)) {
            return false;
        }
        const uint32_t entrySize = Be32(size);
        if (entrySize > end - pos - headerSize) {
            return false;
        }
        if (Be16(entry + 4) == id) {
            dataOffset = resourcesOffset + static_cast<int64_t>(pos + headerSize);
            dataSize = entrySize;
            return true;
        }
        // The data is padded to an even size too; the last entry may lack
        // its pad byte.
        pos += headerSize + entrySize + (entrySize & 1);
        if (pos > end) {
            return false;
        }
    }
    return false;
}

bool IMG_FilePsd::ReadChannelRows(uint32_t, uint8_t*, std::size_t) {
    throw IMG_Exception(-26);
}
