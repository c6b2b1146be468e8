#pragma once

#include <cstdint>

// The exception of the image library, the byte streams and the server
// configuration loaders. Failures are small negative codes; every throw in
// the image library sets the flag byte to 1.
class CMyException {
public:
    explicit CMyException(int32_t code = 0, uint8_t flag = 0) noexcept : code(code), flag(flag) {}
    virtual ~CMyException() = default;

    int32_t Code() const noexcept { return code; }
    uint8_t Flag() const noexcept { return flag; }

    int32_t code;
    uint8_t flag;
};

class IMG_Exception : public CMyException {
public:
    explicit IMG_Exception(int32_t code) noexcept : CMyException(code, 1) {}
};
