#pragma once

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
// and the image-resource section, kept in memory, and where the layer
// section and the image data lie. Nothing of the file is trusted: every
// length is checked against the real size of the file before it is used.
class IMG_FilePsd : public IMG_File {
public:
    IMG_FilePsd() = default;
    ~IMG_FilePsd() override;

    // Opens the file for reading (mode "rb"); throws IMG_Exception(-2) when it
    // cannot be opened. Writing is not provided (-26).
    void Open(const char* path, const char* mode) override;
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
    std::span<const uint8_t> Resources() const { return {resources.get(), resourcesSize}; }
    // File positions of the row byte counts (compression 1) and the image data.
    int64_t RowCountsOffset() const { return rowCountsOffset; }
    int64_t ImageDataOffset() const { return imageDataOffset; }

private:
    static constexpr std::size_t kStreamBufferSize = 64 * 1024;

    void Forget();

    std::unique_ptr<char[]> streamBuffer; // the open stream's buffer
    bool headerRead = false;              // the stream has moved since Open

    uint16_t channels = 0;
    uint32_t rows = 0;
    uint32_t columns = 0;
    uint16_t depth = 0;
    uint16_t mode = 0;
    std::unique_ptr<uint8_t[]> colourModeData;
    std::size_t colourModeSize = 0;
    std::unique_ptr<uint8_t[]> resources;
    std::size_t resourcesSize = 0;
    uint32_t layerAndMaskLength = 0;
    uint32_t layerInfoLength = 0;
    int16_t layerCount = 0;
    uint16_t compression = 0;
    int64_t rowCountsOffset = 0;
    int64_t imageDataOffset = 0;
};
