#pragma once

#include "IMG_FileIOProcess.h"

#include <memory>
#include <string>

// Inspects a file with each reader in turn (TIFF, JPEG, Photo CD, Photoshop,
// then the EPS readers: OPI placeholder, plain EPS/DCS, other placeholders)
// and returns the first whose inspection succeeded, or null. The two
// placeholder readers take part only when acceptOpi is set. The open mode is
// "r" and is not otherwise consulted.
//
// A regular file is opened once, and its head read, beforehand; a reader
// whose CanBe test rules the file out is passed over as if it had failed, and
// the others read through the open file (Proxy_FileIOProcess::LendFile).
// Only a regular file is tried: a path that is missing, cannot be read, or
// names a named pipe, a device or a folder gives null at once, with no
// reader tried (none waits on a pipe). When no reader is returned and why is
// given, it says why: the refusal of the path (IMG_FileView::Refusal) or
// kImgNoReaderAccepts.
std::unique_ptr<Proxy_FileIOProcess> IMG_OpenImageFile(const char* path, const char* openMode,
                                                       bool acceptOpi, std::string* why = nullptr);

extern const char* const kImgNoReaderAccepts;

// The readers in the order the factory tries them.
struct IMG_ReaderEntry {
    const char* name;
    bool placeholderReader; // tried only when OPI placeholders are accepted
    Proxy_FileIOProcess* (*make)();
    // False when the reader would refuse a file with this head.
    bool (*canBe)(const IMG_FileView& file);
};
extern const IMG_ReaderEntry kImgReaders[7];
