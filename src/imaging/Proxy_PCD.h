#pragma once

#include "IMG_FileIOProcess.h"

#include <cstdio>

// Recognises a Photo CD image pack by its signature and reports the fixed
// size of its base image.
class Proxy_PCD : public Proxy_FileIOProcess {
public:
    Proxy_PCD() = default;
    ~Proxy_PCD() override;

    void OpenRead() override;
    // Closes the file; harmless when nothing is open.
    void CloseRead() override;
    const char* ReaderName() const override { return "Proxy_PCD"; }

private:
    std::FILE* file = nullptr;
};
