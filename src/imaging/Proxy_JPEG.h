#pragma once

#include "IMG_FileIOProcess.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Reads a JPEG header through libjpeg, without decoding the image: size,
// components, colour space and the JFIF density.
class Proxy_JPEG : public Proxy_FileIOProcess {
public:
    Proxy_JPEG() = default;
    ~Proxy_JPEG() override;

    // The whole inspection.
    void OpenRead() override;
    // Closes the file; harmless when nothing is open.
    void CloseRead() override;
    const char* ReaderName() const override { return "Proxy_JPEG"; }

    // False when libjpeg would refuse a file that does not begin with the
    // start-of-image marker FF D8.
    static bool CanBe(const IMG_FileView& file);

private:
    std::FILE* file = nullptr;
};
