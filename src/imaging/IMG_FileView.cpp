#include "IMG_FileView.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

static_assert(sizeof(off_t) >= 8, "file offsets must be 64-bit");

IMG_FileView::~IMG_FileView() {
    if (fd >= 0) {
        ::close(fd);
    }
}

namespace {

// What a path names when it is no regular file, or null.
const char* NotAFile(mode_t mode) {
    if (S_ISREG(mode)) {
        return nullptr;
    }
    if (S_ISDIR(mode)) {
        return "a folder, not a regular file";
    }
    if (S_ISFIFO(mode)) {
        return "a named pipe, not a regular file";
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return "a device, not a regular file";
    }
    if (S_ISSOCK(mode)) {
        return "a socket, not a regular file";
    }
    return "not a regular file";
}

std::string ErrorText(const char* what, int error) {
    if (error == ENOENT || error == ENOTDIR) {
        return "no such file";
    }
    return std::string(what) + ": " + std::strerror(error);
}

} // namespace

bool IMG_FileView::Refuse(std::string why) {
    if (fd >= 0) {
        ::close(fd);
    }
    fd = -1;
    size = 0;
    refusal = std::move(why);
    return false;
}

bool IMG_FileView::Open(const char* path) {
    if (path == nullptr || fd >= 0) {
        refusal = path == nullptr ? "no file name" : "already open";
        return false;
    }
    // A pipe, a device or a folder is refused before it is opened: opening
    // one may wait or act on the device. The open does not wait either, and
    // what it opened is checked again, since the path may have changed.
    struct stat st {};
    if (::stat(path, &st) != 0) {
        return Refuse(ErrorText("cannot be opened", errno));
    }
    if (const char* what = NotAFile(st.st_mode)) {
        return Refuse(what);
    }
    fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        return Refuse(ErrorText("cannot be opened", errno));
    }
    if (::fstat(fd, &st) != 0) {
        return Refuse(ErrorText("cannot be opened", errno));
    }
    if (const char* what = NotAFile(st.st_mode)) {
        return Refuse(what);
    }
    if (st.st_size < 0) {
        return Refuse("cannot be read: no size");
    }
    size = static_cast<uint64_t>(st.st_size);
    const std::size_t want = size < kHeadBytes ? static_cast<std::size_t>(size) : kHeadBytes;
    const int64_t got = ReadFromFile(0, head, want);
    if (got < 0) {
        return Refuse(ErrorText("cannot be read", errno));
    }
    headLength = static_cast<std::size_t>(got);
    refusal.clear();
    return true;
}

bool IMG_FileView::MayHold(std::size_t offset, const void* expected, std::size_t count) const {
    if (size < uint64_t{offset} + count) {
        return false;
    }
    const auto* want = static_cast<const uint8_t*>(expected);
    for (std::size_t i = 0; i < count && offset + i < headLength; ++i) {
        if (head[offset + i] != want[i]) {
            return false;
        }
    }
    return true;
}

int64_t IMG_FileView::ReadFromFile(uint64_t offset, uint8_t* out, std::size_t count) const {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::pread(fd, out + done, count - done, static_cast<off_t>(offset + done));
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            return -1;
        }
    }
    return static_cast<int64_t>(done);
}

const uint8_t* IMG_FileView::Bytes(uint64_t offset, std::size_t& available) {
    available = 0;
    if (offset >= size) {
        return nullptr;
    }
    if (offset < headLength) {
        available = headLength - static_cast<std::size_t>(offset);
        return head + offset;
    }
    if (!block || offset < blockStart || offset - blockStart >= blockLength) {
        if (!block) {
            block.reset(new (std::nothrow) uint8_t[kMaxBlockBytes]);
            if (!block) {
                return nullptr;
            }
        }
        const bool goingOn = blockLength > 0 && offset == blockStart + blockLength;
        std::size_t want = kFirstBlockBytes;
        if (goingOn && blockRead < kMaxBlockBytes) {
            want = 2 * blockRead;
        } else if (goingOn) {
            want = kMaxBlockBytes;
        }
        blockRead = want;
        const uint64_t left = size - offset;
        if (left < want) {
            want = static_cast<std::size_t>(left);
        }
        const int64_t got = ReadFromFile(offset, block.get(), want);
        blockLength = got > 0 ? static_cast<std::size_t>(got) : 0;
        blockStart = offset;
        if (blockLength == 0) {
            return nullptr;
        }
    }
    const auto skip = static_cast<std::size_t>(offset - blockStart);
    available = blockLength - skip;
    return block.get() + skip;
}

std::size_t IMG_FileView::Read(uint64_t offset, void* out, std::size_t count) {
    auto* to = static_cast<uint8_t*>(out);
    std::size_t done = 0;
    while (done < count) {
        const uint64_t at = offset + done;
        if (at >= size) {
            break;
        }
        const bool cached =
            at < headLength || (block && at >= blockStart && at - blockStart < blockLength);
        const uint64_t left = size - at;
        const std::size_t want =
            left < count - done ? static_cast<std::size_t>(left) : count - done;
        if (!cached && want >= kFirstBlockBytes) {
            const int64_t got = ReadFromFile(at, to + done, want);
            return got > 0 ? done + static_cast<std::size_t>(got) : done;
        }
        std::size_t available = 0;
        const uint8_t* bytes = Bytes(at, available);
        if (bytes == nullptr) {
            break;
        }
        const std::size_t n = available < want ? available : want;
        std::memcpy(to + done, bytes, n);
        done += n;
    }
    return done;
}
