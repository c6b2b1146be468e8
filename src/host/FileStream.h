#pragma once

#include "IPMStream.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A file's kind and the application that made it, as four-character codes
// ("ODPF", "InDn"), packed first character highest. 0 means none.
using SysOSType = uint32_t;

constexpr SysOSType MakeOSType(const char (&code)[5]) {
    return (static_cast<uint32_t>(static_cast<unsigned char>(code[0])) << 24) |
           (static_cast<uint32_t>(static_cast<unsigned char>(code[1])) << 16) |
           (static_cast<uint32_t>(static_cast<unsigned char>(code[2])) << 8) |
           static_cast<uint32_t>(static_cast<unsigned char>(code[3]));
}

// The four characters of a code ("" for 0); bytes outside printable ASCII
// show as '?'.
std::string OSTypeText(SysOSType code);

// Why a file stream could not do its work.
enum class FileStreamError {
    kNone,
    kNotFound,     // no such file
    kNotAFile,     // a folder or a device, not a plain file
    kCannotOpen,   // exists but cannot be opened (rights, ...)
    kWrongType,    // reading: the file's recorded type is another kind's
    kStreamFailed, // writing: a transfer failed, nothing was put in place
    kCannotWrite,  // writing: the temporary file could not be made or filled
    kCannotReplace // writing: the temporary file could not take the file's place
};

// Where the file system keeps no file type and creator of its own, the host
// records them as extended attributes of the file, four bytes each:
inline constexpr const char* kFileTypeAttribute = "user.ordodesk.type";
inline constexpr const char* kFileCreatorAttribute = "user.ordodesk.creator";

// A stream that reads a file, opened with the file type the caller expects
// and the creator it names.
//
// Type check: a file whose recorded type differs from the expected one is
// refused (kWrongType), since it is a file of another kind. A file with no
// record at all (made by another program, copied through a file system or a
// tool that drops attributes) is accepted, and its contents must prove
// themselves. The creator names the application that made the file, not its
// kind, so it is reported (RecordedCreator) but not checked. An expected type
// of 0 accepts any file.
//
// Only plain files are opened, so a folder or a device never blocks a read.
// A stream that did not open is in the error state and reads nothing.
class FileStreamRead final : public IPMStream {
public:
    FileStreamRead(const std::string& path, SysOSType fileType, SysOSType creator);
    ~FileStreamRead() override;
    FileStreamRead(const FileStreamRead&) = delete;
    FileStreamRead& operator=(const FileStreamRead&) = delete;

    bool IsOpen() const { return fd >= 0; }
    FileStreamError Error() const { return error; }
    // The system's error number behind Error(), 0 when there is none.
    int SystemError() const { return systemError; }
    // Error() in words, with the system's reason where there is one.
    std::string ErrorText() const;

    // What the file records, 0 when nothing (or the file is not open).
    SysOSType RecordedType() const { return recordedType; }
    SysOSType RecordedCreator() const { return recordedCreator; }
    // The file's size in bytes when it was opened.
    uint64_t Size() const { return size; }

    bool IsReading() const override { return true; }
    std::size_t Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void*, std::size_t) override { return 0; }
    std::size_t Remaining() const override;

private:
    int fd = -1;
    uint64_t size = 0;
    uint64_t position = 0;
    SysOSType recordedType = 0;
    SysOSType recordedCreator = 0;
    FileStreamError error = FileStreamError::kNone;
    int systemError = 0;
};

// A stream that writes a file with a file type and creator, all or nothing.
//
// The bytes go to a temporary file beside the target. Commit() forces them to
// disk, records the type and creator on the temporary file and renames it
// over the target, so the target is at every moment either the old file whole
// or the new one whole. A stream destroyed without a successful Commit()
// removes its temporary file and leaves the old file as it was.
//
// Recording: a file system that refuses extended attributes does not fail
// the save; the file is written without a record (TypeRecorded() tells), and
// a reader then accepts it on its contents. A replaced file's access rights
// are kept.
class FileStreamWrite final : public IPMStream {
public:
    FileStreamWrite(const std::string& path, SysOSType fileType, SysOSType creator);
    ~FileStreamWrite() override;
    FileStreamWrite(const FileStreamWrite&) = delete;
    FileStreamWrite& operator=(const FileStreamWrite&) = delete;

    // False when the temporary file could not be made (the stream is then in
    // the error state and Commit() fails).
    bool IsOpen() const { return fd >= 0; }

    // Puts the written bytes in place; kNone on success. After a failure the
    // target is untouched. A stream commits once; later transfers fail.
    FileStreamError Commit();

    FileStreamError Error() const { return error; }
    int SystemError() const { return systemError; }
    std::string ErrorText() const;
    // After a successful Commit(): whether the type and creator were recorded.
    bool TypeRecorded() const { return typeRecorded; }

    bool IsReading() const override { return false; }
    std::size_t Read(void*, std::size_t) override { return 0; }
    std::size_t Write(const void* buffer, std::size_t count) override;
    std::size_t Remaining() const override { return 0; }

private:
    bool Flush();
    void Discard();
    void Fail(FileStreamError e, int err);

    std::string target;
    std::string temporary;
    int fd = -1;
    SysOSType fileType = 0;
    SysOSType creator = 0;
    std::vector<uint8_t> pending;
    bool committed = false;
    bool typeRecorded = false;
    FileStreamError error = FileStreamError::kNone;
    int systemError = 0;
};

namespace filestream_testing {
// Tests only: while set, writing streams behave as on a file system that
// refuses extended attributes.
void RefuseAttributes(bool refuse);
} // namespace filestream_testing
