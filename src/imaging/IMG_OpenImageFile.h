#pragma once

#include "IMG_FileIOProcess.h"

#include <memory>

// Inspects a file with each reader in turn (TIFF, JPEG, Photo CD, Photoshop,
// then the EPS readers: OPI placeholder, plain EPS/DCS, other placeholders)
// and returns the first whose inspection succeeded, or null. The two
// placeholder readers take part only when acceptOpi is set. The open mode is
// "r" and is not otherwise consulted.
std::unique_ptr<Proxy_FileIOProcess> IMG_OpenImageFile(const char* path, const char* openMode,
                                                       bool acceptOpi);

// The readers in the order the factory tries them.
struct IMG_ReaderEntry {
    const char* name;
    bool placeholderReader; // tried only when OPI placeholders are accepted
    Proxy_FileIOProcess* (*make)();
};
extern const IMG_ReaderEntry kImgReaders[7];
