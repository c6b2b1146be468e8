#pragma once

#include "IMG_File.h"
#include "IMG_FileIOProcess.h"

#include <memory>

// Reads the header of a Photoshop document (8 bits per channel, grayscale,
// RGB or CMYK) and its resolution from the image resources.
class Proxy_PSD : public Proxy_FileIOProcess {
public:
    Proxy_PSD() = default;
    ~Proxy_PSD() override;

    // The whole inspection: size, channels, pixel type, resolution.
    void OpenRead() override;
    // Drops the document, which closes its file; harmless when nothing is open.
    void CloseRead() override;
    const char* ReaderName() const override { return "Proxy_PSD"; }

private:
    std::unique_ptr<IMG_FilePsd> document;
};
