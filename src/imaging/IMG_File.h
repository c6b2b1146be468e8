#pragma once

#include "IMG_FileView.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>

// Raw access to an image file: its name, how it is open and the handle. The
// base class provides no file format; Open, Close and WriteFileHeader answer
// IMG_Exception(-26) until a concrete class supplies them.
class IMG_File {
public:
    enum OpenState : int32_t {
        kClosed = 0,
        kOpenRead = 2,
        kOpenWrite = 4,
    };

    IMG_File() = default;
    virtual ~IMG_File();
    IMG_File(const IMG_File&) = delete;
    IMG_File& operator=(const IMG_File&) = delete;

    // Opens path; the first character of mode (r or w) sets the open state.
    virtual void Open(const char* path, const char* mode);
    virtual void Close();
    virtual void WriteFileHeader();
    // The stored name, or null.
    virtual const char* GetName() const { return name.get(); }
    // Replaces the stored name with a copy of the whole text (null clears it).
    virtual void SetName(const char* text);

    int32_t GetOpenState() const { return openState; }

protected:
    std::unique_ptr<char[]> name;
    int32_t openState = kClosed;
    std::FILE* file = nullptr;
};

// A Photoshop document (version 1): the header fields, the colour-mode data
// (kept in memory), and where the image-resource section, the layer section
// and the image data lie. The resources are walked in the file when one of
// them is asked for. Nothing of the file is trusted: every length is checked
// against the real size of the file before it is used.
class IMG_FilePsd : public IMG_File {
public:
    IMG_FilePsd() = default;
    ~IMG_FilePsd() override;

    // Opens the file for reading (mode "rb"); throws IMG_Exception(-2) when it
    // cannot be opened. Writing is not provided (-26).
    void Open(const char* path, const char* mode) override;
    // Reads the file at path through view, which someone else opened, for
    // as long as the document is open; the view must outlive that.
    void OpenThrough(const char* path, IMG_FileView& view);
    // Closes the file; harmless when nothing is open.
    void Close() override;

    // Reads and checks the header up to the start of the image data. Returns
    // false for a file that is not a supported document or whose lengths do
    // not fit in it; throws IMG_Exception(-2) when a stored block cannot be
    // allocated.
    virtual bool ReadFileHeader();
    // Pixel data is never read by this program: answers IMG_Exception(-26).
    virtual bool ReadChannelRows(uint32_t channel, uint8_t* buffer, std::size_t size);
    // The document is never written back.
    virtual bool CanWrite() const { return false; }

    uint16_t Channels() const { return channels; }
    uint32_t Rows() const { return rows; }
    uint32_t Columns() const { return columns; }
    uint16_t Depth() const { return depth; }
    uint16_t Mode() const { return mode; }
    uint16_t Compression() const { return compression; }
    uint32_t LayerAndMaskLength() const { return layerAndMaskLength; }
    uint32_t LayerInfoLength() const { return layerInfoLength; }
    int16_t LayerCount() const { return layerCount; }
    // A negative layer count marks the first extra channel as transparency.
    bool FirstExtraChannelIsTransparency() const { return layerCount < 0; }
    std::span<const uint8_t> ColourModeData() const {
        return {colourModeData.get(), colourModeSize};
    }
    // Where the image-resource section lies in the file, and its length.
    int64_t ResourcesOffset() const { return resourcesOffset; }
    uint32_t ResourcesLength() const { return resourcesLength; }
    // Walks the image resources from the start of the section to the first
    // entry with this identifier and tells where its data lies and how long
    // it is. Each entry is "8BIM", a 16-bit identifier, a name (a length
    // byte and the characters, padded to an even size), a 32-bit data size
    // and the data, padded to an even size (the last entry may lack its pad
    // byte). The walk gives up, returning false, at the end of the section,
    // at an entry with another signature, and at an entry whose name, size
    // field or data would reach past the section; only the entry headers are
    // read on the way.
    bool FindResource(uint16_t id, int64_t& dataOffset, uint32_t& dataSize);
    // Reads count bytes at a position inside the file; false when they are
    // not all there.
    bool ReadAt(int64_t offset, void* buffer, std::size_t count);
    // File positions of the row byte counts (compression 1) and the image data.
    int64_t RowCountsOffset() const { return rowCountsOffset; }
    int64_t ImageDataOffset() const { return imageDataOffset; }

private:
    // One read of this size brings the header, the colour-mode data and the
    // resource entries up to the resolution of most documents; larger blocks
    // in between are skipped by seeking.
    static constexpr std::size_t kStreamBufferSize = 4 * 1024;

    void Forget();

    std::unique_ptr<char[]> streamBuffer; // the open stream's buffer
    int64_t streamPosition = 0;           // where the stream stands; -1 when not known
    IMG_FileView* view = nullptr;         // not owned

    uint16_t channels = 0;
    uint32_t rows = 0;
    uint32_t columns = 0;
    uint16_t depth = 0;
    uint16_t mode = 0;
    std::unique_ptr<uint8_t[]> colourModeData;
    std::size_t colourModeSize = 0;
    int64_t fileSize = 0; // as it was when the header was read
    int64_t resourcesOffset = 0;
    uint32_t resourcesLength = 0;
    uint32_t layerAndMaskLength = 0;
    uint32_t layerInfoLength = 0;
    int16_t layerCount = 0;
    uint16_t compression = 0;
    int64_t rowCountsOffset = 0;
    int64_t imageDataOffset = 0;
};
