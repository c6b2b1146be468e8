#pragma once

#include "IMG_FileIOProcess.h"

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

private:
    std::FILE* file = nullptr;
};
