#pragma once

#include <cstdint>
#include <string>
#include <vector>

class PMString;

// The host's persistence stream: one set of transfer calls that reads or
// writes, as the stream says. Values have one fixed encoding: little-endian
// integers, 1-byte booleans, IEEE doubles, texts as a 32-bit byte count and
// UTF-8 bytes. Reading past the end, or a length that runs past it, puts the
// stream in its error state; the target keeps its value and later reads move
// nothing.
class IPMStream {
public:
    virtual ~IPMStream();

    virtual bool IsReading() const = 0;
    bool IsWriting() const { return !IsReading(); }
    // False once a transfer failed.
    bool Good() const { return !failed; }
    void SetFailed() { failed = true; }

    void XferInt16(int16_t& value);
    void XferInt32(int32_t& value);
    void XferUInt32(uint32_t& value);
    void XferBool(bool& value);
    // A boolean stored in 16 bits (0 or 1).
    void XferBool16(bool& value);
    void XferReal(double& value);
    // count bytes; on reading, a short read fails the stream.
    void XferByte(uint8_t* buffer, std::size_t count);
    void XferString(std::string& text);
    void XferPMString(PMString& text);

    // Raw transfer of the stream's kind; returns the bytes moved.
    virtual std::size_t Read(void* buffer, std::size_t count) = 0;
    virtual std::size_t Write(const void* buffer, std::size_t count) = 0;
    // Bytes left to read (reading streams); a length read from the stream is
    // checked against it before anything is allocated.
    virtual std::size_t Remaining() const = 0;

private:
    template <typename T> void XferValue(T& value);
    bool failed = false;
};

// A stream over bytes in memory: reads a given block or writes into its own.
class MemoryStream : public IPMStream {
public:
    // A writing stream.
    MemoryStream() = default;
    // A reading stream over a copy of bytes.
    explicit MemoryStream(std::vector<uint8_t> bytes) : data(std::move(bytes)), reading(true) {}

    bool IsReading() const override { return reading; }
    std::size_t Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void* buffer, std::size_t count) override;
    std::size_t Remaining() const override { return reading ? data.size() - position : 0; }

    const std::vector<uint8_t>& Bytes() const { return data; }
    std::vector<uint8_t> TakeBytes() { return std::move(data); }

private:
    std::vector<uint8_t> data;
    std::size_t position = 0;
    bool reading = false;
};
