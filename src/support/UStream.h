#pragma once

#include <cstdint>

// Byte streams that serialise records into a memory block. One set of
// transfer calls serves both directions: a record's serialise routine calls
// the same Xfer operations on a reading or a writing stream. Values are
// stored little-endian; with swapBytes set, 16- and 32-bit integers are
// byte-swapped and doubles are moved byte by byte in reverse order.
//
// Every transfer returns the status of the raw transfer below it: 0 when all
// bytes moved, 1 when fewer moved.
class UStream {
public:
    virtual ~UStream();

    // 3 when there is no block or it is empty, 1 when no byte (read) or no room
    // (write) remains, else 0.
    virtual int Status() const = 0;
    virtual bool IsWriting() const = 0;
    virtual bool IsReading() const = 0;
    virtual int XferInt16(int16_t& value) = 0;
    virtual int16_t XferInt16Value(int16_t& value) = 0;
    virtual int XferBool(bool& value) = 0;
    virtual int XferDouble(double& value) = 0;
    virtual int XferInt32(int32_t& value) = 0;
    virtual int XferUInt32(uint32_t& value) = 0;
    virtual int XferBytes(void* buffer, uint32_t& count) = 0;
    virtual int XferBytesReversed(void* buffer, uint32_t& count) = 0;
    virtual int32_t GetPosition() const = 0;
    // origin 0: from the start; 1: from the current position; 2: back from the end.
    virtual int Seek(int32_t offset, int origin) = 0;
    virtual int WriteRaw(const void* buffer, uint32_t& count) = 0;
    virtual int ReadRaw(void* buffer, uint32_t& count) = 0;

    uint8_t swapBytes = 0;
};

class UStreamRead : public UStream {
public:
    bool IsWriting() const override { return false; }
    bool IsReading() const override { return true; }
    int XferInt16(int16_t& value) override;
    int16_t XferInt16Value(int16_t& value) override;
    int XferBool(bool& value) override;
    int XferDouble(double& value) override;
    int XferInt32(int32_t& value) override;
    int XferUInt32(uint32_t& value) override;
    int XferBytes(void* buffer, uint32_t& count) override;
    int XferBytesReversed(void* buffer, uint32_t& count) override;
    // A reading stream cannot write: throws IMG_Exception(-1).
    int WriteRaw(const void* buffer, uint32_t& count) override;
};

class UStreamWrite : public UStream {
public:
    bool IsWriting() const override { return true; }
    bool IsReading() const override { return false; }
    int XferInt16(int16_t& value) override;
    int16_t XferInt16Value(int16_t& value) override;
    int XferBool(bool& value) override;
    int XferDouble(double& value) override;
    int XferInt32(int32_t& value) override;
    int XferUInt32(uint32_t& value) override;
    int XferBytes(void* buffer, uint32_t& count) override;
    int XferBytesReversed(void* buffer, uint32_t& count) override;
    // A writing stream cannot read: throws IMG_Exception(-1).
    int ReadRaw(void* buffer, uint32_t& count) override;
};

// Reads from a caller's block, which it never frees.
class UBufferStreamRead : public UStreamRead {
public:
    UBufferStreamRead(const void* block, uint32_t size);

    int Status() const override;
    int32_t GetPosition() const override { return static_cast<int32_t>(current); }
    int Seek(int32_t offset, int origin) override;
    int ReadRaw(void* buffer, uint32_t& count) override;
    virtual uint32_t GetSize() const { return size; }

private:
    const uint8_t* start;
    int64_t current = 0; // offset from start; may lie outside the block after Seek
    uint32_t size;
};

// Writes into a block that grows in steps of 1024 bytes. A new stream has no
// block; given one it takes it over (it must come from malloc) and frees it
// when destroyed.
class UBufferStreamWrite : public UStreamWrite {
public:
    UBufferStreamWrite() = default;
    UBufferStreamWrite(void* block, uint32_t capacity);
    ~UBufferStreamWrite() override;
    UBufferStreamWrite(const UBufferStreamWrite&) = delete;
    UBufferStreamWrite& operator=(const UBufferStreamWrite&) = delete;

    int Status() const override;
    int32_t GetPosition() const override { return static_cast<int32_t>(current); }
    int Seek(int32_t offset, int origin) override;
    // Grows the block when the bytes do not fit; throws IMG_Exception(-1) when
    // it cannot.
    int WriteRaw(const void* buffer, uint32_t& count) override;

    const uint8_t* GetBlock() const { return start; }
    uint32_t GetCapacity() const { return capacity; }

private:
    uint8_t* start = nullptr;
    int64_t current = 0;
    uint32_t capacity = 0;
    uint8_t owned = 0;
};
