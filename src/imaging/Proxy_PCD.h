#pragma once

#include "IMG_FileIOProcess.h"

#include <cstddef>
#include <cstdint>

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

    // False when the file cannot hold the signature "PCD_IPI" at byte 2048.
    static bool CanBe(const IMG_FileView& file);

private:
    int fd = -1; // the open file's descriptor
};
