#pragma once

#include "IMG_File.h"
#include "IMG_FileIOProcess.h"

#include <cstddef>
#include <cstdint>
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

    // False when the document class would refuse a file that begins with
    // these bytes: shorter than the 26 bytes of the header, or without the
    // signature "8BPS" and version 1.
    static bool CanBe(const IMG_FileView& file);

private:
    std::unique_ptr<IMG_FilePsd> document;
};
