#pragma once

#include "IMG_FileIOProcess.h"

#include <cstddef>
#include <cstdint>
#include <memory>

struct tiff; // libtiff's handle (TIFF)
struct Proxy_TIFFSource;

// Tags that the processing server writes into the images it produces, each a
// BYTE field of any length. The reader looks at the processing mark and the
// proxy geometry; the other three are only made known to the library.
enum Proxy_TIFFTag : uint32_t {
    kTiffTagFileOpt = 37458,
    kTiffTagProcOpt = 37459, // processing mark: "KRYO", 2 bytes, count K, length T, T bytes
    kTiffTagGeoOpt = 37460,
    kTiffTagIccOpt = 37461,
    kTiffTagZpaxOpt = 37462,    // proxy: "KRYO", 4 bytes, N, N (columns, rows) pairs, L, L bytes
    kTiffTagOpiImageId = 32781, // ASCII name of the high-resolution image
};

// Makes the private tags and the OPI image-ID tag known to libtiff and turns
// the library's error and warning output off. Runs once per process; every
// TIFF opened afterwards (for reading or writing) knows the tags.
void Proxy_TIFF_RegisterPrivateTags();

// Reads a TIFF header through libtiff: a proxy made by the processing server
// (0x101, the source image's size and name), a TIFF naming its high-resolution
// image in the OPI tag (0x111) or a plain TIFF (0x100), and the processing
// mark.
class Proxy_TIFF : public Proxy_FileIOProcess {
public:
    Proxy_TIFF();
    ~Proxy_TIFF() override;

    // The whole inspection.
    void OpenRead() override;
    // Closes the libtiff handle; harmless when nothing is open.
    void CloseRead() override;
    const char* ReaderName() const override { return "Proxy_TIFF"; }

    // False when libtiff would refuse a file that begins with these bytes:
    // shorter than its 8-byte header, no byte order mark, or a version other
    // than 42 (43 is BigTIFF, which this reader refuses).
    static bool CanBe(const IMG_FileView& file);

private:
    // A BYTE tag's value; false when the tag is absent or empty.
    bool GetBytes(uint32_t tag, const uint8_t*& data, uint32_t& count) const;
    // XResolution into info (kept when absent), in pixels per inch.
    void ReadResolution(IMG_ImageInfo& target) const;
    // Samples, bits and photometric into info and its pixel type.
    void ReadPixelType(IMG_ImageInfo& target);
    // The processing count from the mark, the description or the model.
    void ReadProcessingMark();

    struct tiff* handle = nullptr;
    // The file under the handle; it outlives the handle.
    std::unique_ptr<Proxy_TIFFSource> source;
};
