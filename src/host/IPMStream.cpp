#include "IPMStream.h"

#include "PMString.h"

#include <algorithm>
#include <bit>
#include <cstring>

IPMStream::~IPMStream() = default;

template <typename T> void IPMStream::XferValue(T& value) {
    uint8_t bytes[sizeof(T)];
    if (IsReading()) {
        if (failed || Read(bytes, sizeof bytes) != sizeof bytes) {
            failed = true;
            return;
        }
        if constexpr (std::endian::native == std::endian::big) {
            std::reverse(bytes, bytes + sizeof bytes);
        }
        std::memcpy(&value, bytes, sizeof bytes);
    } else {
        std::memcpy(bytes, &value, sizeof bytes);
        if constexpr (std::endian::native == std::endian::big) {
            std::reverse(bytes, bytes + sizeof bytes);
        }
        if (Write(bytes, sizeof bytes) != sizeof bytes) {
            failed = true;
        }
    }
}

void IPMStream::XferInt16(int16_t& value) {
    XferValue(value);
}
void IPMStream::XferInt32(int32_t& value) {
    XferValue(value);
}
void IPMStream::XferUInt32(uint32_t& value) {
    XferValue(value);
}
void IPMStream::XferReal(double& value) {
    XferValue(value);
}

void IPMStream::XferBool(bool& value) {
    uint8_t b = value ? 1 : 0;
    XferValue(b);
    if (IsReading() && !failed) {
        value = b != 0;
    }
}

void IPMStream::XferBool16(bool& value) {
    int16_t v = value ? 1 : 0;
    XferValue(v);
    if (IsReading() && !failed) {
        value = v != 0;
    }
}

void IPMStream::XferByte(uint8_t* buffer, std::size_t count) {
    if (count == 0) {
        return;
    }
    if (IsReading()) {
        if (failed || count > Remaining() || Read(buffer, count) != count) {
            failed = true;
        }
    } else if (Write(buffer, count) != count) {
        failed = true;
    }
}

void IPMStream::XferString(std::string& text) {
    if (IsReading()) {
        int32_t length = 0;
        XferInt32(length);
        if (failed || length < 0 || static_cast<std::size_t>(length) > Remaining()) {
            failed = true;
            return;
        }
        std::string read(static_cast<std::size_t>(length), '\0');
        XferByte(reinterpret_cast<uint8_t*>(read.data()), read.size());
        if (!failed) {
            text = std::move(read);
        }
    } else {
        if (text.size() > INT32_MAX) {
            failed = true;
            return;
        }
        int32_t length = static_cast<int32_t>(text.size());
        XferInt32(length);
        XferByte(reinterpret_cast<uint8_t*>(text.data()), text.size());
    }
}

void IPMStream::XferPMString(PMString& text) {
    std::string utf8 = text.GetUTF8String();
    XferString(utf8);
    if (IsReading() && !failed) {
        text = PMString(utf8);
    }
}

std::size_t MemoryStream::Read(void* buffer, std::size_t count) {
    if (!reading) {
        return 0;
    }
    std::size_t n = std::min(count, data.size() - position);
    if (n > 0) {
        std::memcpy(buffer, data.data() + position, n);
        position += n;
    }
    return n;
}

std::size_t MemoryStream::Write(const void* buffer, std::size_t count) {
    if (reading) {
        return 0;
    }
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    data.insert(data.end(), bytes, bytes + count);
    return count;
}
