#include "FileStream.h"

#include "Paths.h"
#include "Platform.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <system_error>
#include <unistd.h>

namespace filestream_testing {
// Makes every attribute write fail as on a file system without extended
// attributes (tests of the fallback).
namespace {
bool refuseAttributes = false;
}
void RefuseAttributes(bool refuse) {
    refuseAttributes = refuse;
}
} // namespace filestream_testing

namespace {

constexpr std::size_t kFlushSize = 64 * 1024;

void PutCode(SysOSType code, char out[4]) {
    out[0] = static_cast<char>((code >> 24) & 0xFF);
    out[1] = static_cast<char>((code >> 16) & 0xFF);
    out[2] = static_cast<char>((code >> 8) & 0xFF);
    out[3] = static_cast<char>(code & 0xFF);
}

// Reads a four-byte code attribute: 1 when there is one (code set), 0 when
// there is none, -1 when there is something that is not a four-byte code.
int GetCode(int fd, const char* name, SysOSType& code) {
    unsigned char bytes[8];
    ssize_t n = ::fgetxattr(fd, name, bytes, sizeof bytes);
    if (n < 0) {
        return errno == ERANGE ? -1 : 0;
    }
    if (n != 4) {
        return -1;
    }
    code = (static_cast<uint32_t>(bytes[0]) << 24) | (static_cast<uint32_t>(bytes[1]) << 16) |
           (static_cast<uint32_t>(bytes[2]) << 8) | bytes[3];
    return 1;
}

bool SetCode(int fd, const char* name, SysOSType code) {
    if (filestream_testing::refuseAttributes) {
        return false;
    }
    char bytes[4];
    PutCode(code, bytes);
    return ::fsetxattr(fd, name, bytes, sizeof bytes, 0) == 0;
}

std::string WithReason(const char* what, int err) {
    std::string text = what;
    if (err != 0) {
        text += ": ";
        text += std::strerror(err);
    }
    return text;
}

const char* ErrorWords(FileStreamError e) {
    switch (e) {
    case FileStreamError::kNone:
        return "no error";
    case FileStreamError::kNotFound:
        return "no such file";
    case FileStreamError::kNotAFile:
        return "not a plain file";
    case FileStreamError::kCannotOpen:
        return "the file cannot be opened";
    case FileStreamError::kWrongType:
        return "the file is of another kind";
    case FileStreamError::kStreamFailed:
        return "the data could not be written";
    case FileStreamError::kCannotWrite:
        return "the file cannot be written";
    case FileStreamError::kCannotReplace:
        return "the file cannot be replaced";
    }
    return "unknown error";
}

} // namespace

std::string OSTypeText(SysOSType code) {
    if (code == 0) {
        return std::string();
    }
    char bytes[4];
    PutCode(code, bytes);
    std::string text;
    for (char c : bytes) {
        text += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return text;
}

// ---------------------------------------------------------------------------

FileStreamRead::FileStreamRead(const std::string& path, SysOSType fileType, SysOSType) {
    // Non-blocking, so that a pipe named by mistake does not wait for a writer.
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        systemError = errno;
        error = (systemError == ENOENT || systemError == ENOTDIR) ? FileStreamError::kNotFound
                                                                  : FileStreamError::kCannotOpen;
        SetFailed();
        return;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = FileStreamError::kNotAFile;
        ::close(fd);
        fd = -1;
        SetFailed();
        return;
    }
    size = static_cast<uint64_t>(st.st_size);

    int typeState = GetCode(fd, kFileTypeAttribute, recordedType);
    GetCode(fd, kFileCreatorAttribute, recordedCreator);
    bool otherKind = typeState < 0 || (typeState > 0 && recordedType != fileType);
    if (fileType != 0 && otherKind) {
        error = FileStreamError::kWrongType;
        ::close(fd);
        fd = -1;
        SetFailed();
    }
}

FileStreamRead::~FileStreamRead() {
    if (fd >= 0) {
        ::close(fd);
    }
}

std::string FileStreamRead::ErrorText() const {
    if (error == FileStreamError::kWrongType) {
        std::string text = ErrorWords(error);
        std::string type = OSTypeText(recordedType);
        text += type.empty() ? " (unreadable type record)" : " (type \"" + type + "\")";
        return text;
    }
    return WithReason(ErrorWords(error), systemError);
}

std::size_t FileStreamRead::Remaining() const {
    if (fd < 0 || position >= size) {
        return 0;
    }
    return static_cast<std::size_t>(size - position);
}

std::size_t FileStreamRead::Read(void* buffer, std::size_t count) {
    if (fd < 0) {
        return 0;
    }
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        ssize_t n = ::read(fd, out + done, count - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    position += done;
    return done;
}

// ---------------------------------------------------------------------------

FileStreamWrite::FileStreamWrite(const std::string& path, SysOSType type, SysOSType maker)
    : target(path), fileType(type), creator(maker) {
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name =
            path + ".~" + std::to_string(::getpid()) + "-" + std::to_string(++counter) + ".tmp";
        fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            temporary = name;
            break;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    if (fd < 0) {
        Fail(FileStreamError::kCannotWrite, errno);
        return;
    }
    // A replaced file keeps its access rights.
    std::error_code ec;
    auto status = std::filesystem::status(target, ec);
    if (!ec && std::filesystem::is_regular_file(status)) {
        ::fchmod(fd, static_cast<mode_t>(status.permissions() & std::filesystem::perms::mask));
    }
}

FileStreamWrite::~FileStreamWrite() {
    Discard();
}

void FileStreamWrite::Fail(FileStreamError e, int err) {
    if (error == FileStreamError::kNone) {
        error = e;
        systemError = err;
    }
    SetFailed();
}

void FileStreamWrite::Discard() {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
    if (!temporary.empty()) {
        platform::RemoveFile(temporary.c_str());
        temporary.clear();
    }
    pending.clear();
}

bool FileStreamWrite::Flush() {
    const uint8_t* p = pending.data();
    std::size_t left = pending.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            Fail(FileStreamError::kCannotWrite, errno);
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    pending.clear();
    return true;
}

std::size_t FileStreamWrite::Write(const void* buffer, std::size_t count) {
    if (fd < 0 || committed || !Good()) {
        return 0;
    }
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    pending.insert(pending.end(), bytes, bytes + count);
    if (pending.size() >= kFlushSize && !Flush()) {
        return 0;
    }
    return count;
}

FileStreamError FileStreamWrite::Commit() {
    if (committed) {
        Fail(FileStreamError::kStreamFailed, 0);
        return FileStreamError::kStreamFailed;
    }
    if (fd < 0) {
        return error;
    }
    if (!Good()) {
        Fail(FileStreamError::kStreamFailed, 0);
        Discard();
        return error;
    }
    if (!Flush()) {
        Discard();
        return error;
    }
    if (::fsync(fd) != 0) {
        Fail(FileStreamError::kCannotWrite, errno);
        Discard();
        return error;
    }
    bool recorded = true;
    if (fileType != 0) {
        recorded = SetCode(fd, kFileTypeAttribute, fileType) && recorded;
    }
    if (creator != 0) {
        recorded = SetCode(fd, kFileCreatorAttribute, creator) && recorded;
    }
    if (!recorded) {
        // Leave no half record behind: a type without its creator or the
        // other way round would tell readers less than the truth.
        ::fremovexattr(fd, kFileTypeAttribute);
        ::fremovexattr(fd, kFileCreatorAttribute);
    }
    int closing = ::close(fd);
    fd = -1;
    if (closing != 0) {
        Fail(FileStreamError::kCannotWrite, errno);
        Discard();
        return error;
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        Fail(FileStreamError::kCannotReplace, errno);
        Discard();
        return error;
    }
    temporary.clear();
    committed = true;
    typeRecorded = recorded && (fileType != 0 || creator != 0);

    // Make the rename itself durable.
    std::string folder = target;
    const char* separator = LastSeparator(folder.c_str());
    if (separator == nullptr) {
        folder = ".";
    } else if (separator == folder.c_str()) {
        folder = std::string(1, kPathSeparator);
    } else {
        folder.resize(static_cast<std::size_t>(separator - folder.c_str()));
    }
    int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return FileStreamError::kNone;
}

std::string FileStreamWrite::ErrorText() const {
    return WithReason(ErrorWords(error), systemError);
}
