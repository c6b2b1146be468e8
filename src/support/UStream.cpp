#include "UStream.h"

#include "IMG_Exception.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>

namespace {

// The stored layout is little-endian; a value is turned into its stored bytes
// (and back) here, swapped once more when the stream asks for swapped bytes.
// Reverses the bytes when the machine's order and the swap request call for it.
template <std::size_t N> void Order(uint8_t (&bytes)[N], bool swap) {
    if ((std::endian::native == std::endian::big) != swap) {
        std::reverse(bytes, bytes + N);
    }
}

template <typename T> void ToStored(const T& value, uint8_t (&bytes)[sizeof(T)], bool swap) {
    std::memcpy(bytes, &value, sizeof(T));
    Order(bytes, swap);
}

template <typename T> void FromStored(T& value, uint8_t (&bytes)[sizeof(T)], bool swap) {
    Order(bytes, swap);
    std::memcpy(&value, bytes, sizeof(T));
}

// Reads a value; on a short read the target keeps its value.
template <typename T> int ReadValue(UStream& s, T& value) {
    uint8_t bytes[sizeof(T)];
    uint32_t count = sizeof(T);
    int status = s.ReadRaw(bytes, count);
    if (count == sizeof(T)) {
        FromStored(value, bytes, s.swapBytes != 0);
    }
    return status;
}

template <typename T> int WriteValue(UStream& s, const T& value) {
    uint8_t bytes[sizeof(T)];
    ToStored(value, bytes, s.swapBytes != 0);
    uint32_t count = sizeof(T);
    return s.WriteRaw(bytes, count);
}

} // namespace

UStream::~UStream() = default;

// ---- reading direction

int UStreamRead::XferInt16(int16_t& value) {
    return ReadValue(*this, value);
}

int16_t UStreamRead::XferInt16Value(int16_t& value) {
    ReadValue(*this, value);
    return value;
}

int UStreamRead::XferBool(bool& value) {
    uint8_t byte = 0;
    uint32_t count = 1;
    int status = ReadRaw(&byte, count);
    if (count == 1) {
        value = byte != 0;
    }
    return status;
}

int UStreamRead::XferDouble(double& value) {
    return ReadValue(*this, value);
}

int UStreamRead::XferInt32(int32_t& value) {
    return ReadValue(*this, value);
}

int UStreamRead::XferUInt32(uint32_t& value) {
    return ReadValue(*this, value);
}

int UStreamRead::XferBytes(void* buffer, uint32_t& count) {
    return ReadRaw(buffer, count);
}

int UStreamRead::XferBytesReversed(void* buffer, uint32_t& count) {
    auto* bytes = static_cast<uint8_t*>(buffer);
    uint32_t moved = 0;
    int status = 0;
    for (uint32_t i = count; i > 0; --i) {
        uint32_t one = 1;
        status = ReadRaw(bytes + i - 1, one);
        if (one != 1) {
            status = 1;
            break;
        }
        ++moved;
    }
    count = moved;
    return status;
}

int UStreamRead::WriteRaw(const void*, uint32_t&) {
    throw IMG_Exception(-1);
}

// ---- writing direction

int UStreamWrite::XferInt16(int16_t& value) {
    return WriteValue(*this, value);
}

int16_t UStreamWrite::XferInt16Value(int16_t& value) {
    WriteValue(*this, value);
    return value;
}

int UStreamWrite::XferBool(bool& value) {
    uint8_t byte = value ? 1 : 0;
    uint32_t count = 1;
    return WriteRaw(&byte, count);
}

int UStreamWrite::XferDouble(double& value) {
    return WriteValue(*this, value);
}

int UStreamWrite::XferInt32(int32_t& value) {
    return WriteValue(*this, value);
}

int UStreamWrite::XferUInt32(uint32_t& value) {
    return WriteValue(*this, value);
}

int UStreamWrite::XferBytes(void* buffer, uint32_t& count) {
    return WriteRaw(buffer, count);
}

int UStreamWrite::XferBytesReversed(void* buffer, uint32_t& count) {
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    uint32_t moved = 0;
    int status = 0;
    for (uint32_t i = count; i > 0; --i) {
        uint32_t one = 1;
        status = WriteRaw(bytes + i - 1, one);
        if (one != 1) {
            status = 1;
            break;
        }
        ++moved;
    }
    count = moved;
    return status;
}

int UStreamWrite::ReadRaw(void*, uint32_t&) {
    throw IMG_Exception(-1);
}

// ---- memory block, reading

UBufferStreamRead::UBufferStreamRead(const void* block, uint32_t size)
    : start(static_cast<const uint8_t*>(block)), size(block != nullptr ? size : 0) {}

int UBufferStreamRead::Status() const {
    if (start == nullptr || size == 0) {
        return 3;
    }
    return (current < 0 || current >= size) ? 1 : 0;
}

int UBufferStreamRead::Seek(int32_t offset, int origin) {
    switch (origin) {
    case 0:
        current = offset;
        break;
    case 1:
        current += offset;
        break;
    case 2:
        current = static_cast<int64_t>(size) - offset;
        break;
    default:
        break;
    }
    return 0;
}

int UBufferStreamRead::ReadRaw(void* buffer, uint32_t& count) {
    int64_t left = (start == nullptr || current < 0 || current > size) ? 0 : size - current;
    uint32_t n = count < left ? count : static_cast<uint32_t>(left);
    if (n == 0) {
        count = 0;
        return 1;
    }
    std::memcpy(buffer, start + current, n);
    current += n;
    int status = n == count ? 0 : 1;
    count = n;
    return status;
}

// ---- memory block, writing

UBufferStreamWrite::UBufferStreamWrite(void* block, uint32_t capacity)
    : start(static_cast<uint8_t*>(block)), capacity(block != nullptr ? capacity : 0),
      owned(block != nullptr ? 1 : 0) {}

UBufferStreamWrite::~UBufferStreamWrite() {
    if (owned) {
        std::free(start);
    }
}

int UBufferStreamWrite::Status() const {
    if (start == nullptr || capacity == 0) {
        return 3;
    }
    return (current < 0 || current >= capacity) ? 1 : 0;
}

int UBufferStreamWrite::Seek(int32_t offset, int origin) {
    switch (origin) {
    case 0:
        current = offset;
        break;
    case 1:
        current += offset;
        break;
    case 2:
        current = static_cast<int64_t>(capacity) - offset;
        break;
    default:
        break;
    }
    return 0;
}

int UBufferStreamWrite::WriteRaw(const void* buffer, uint32_t& count) {
    if (current < 0) {
        throw IMG_Exception(-1); // nothing may be written before the block
    }
    uint64_t end = static_cast<uint64_t>(current) + count;
    if (end > capacity) {
        uint64_t grown = (end + 1023) / 1024 * 1024;
        void* block = grown <= UINT32_MAX ? std::realloc(start, grown) : nullptr;
        if (block == nullptr) {
            if (owned) {
                std::free(start);
            }
            start = nullptr;
            capacity = 0;
            owned = 0;
            throw IMG_Exception(-1);
        }
        auto* bytes = static_cast<uint8_t*>(block);
        std::memset(bytes + capacity, 0, grown - capacity);
        start = bytes;
        capacity = static_cast<uint32_t>(grown);
        owned = 1;
    }
    if (count > 0) {
        std::memcpy(start + current, buffer, count);
    }
    current += count;
    return 0;
}
