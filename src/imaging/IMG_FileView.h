#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// A regular file as the factory opens it once for every reader that tries
// it: the first bytes (the head), read at once, the size, and reads anywhere
// else through the one descriptor.
//
// A reader whose very first check would refuse the head is not tried at all:
// each reader states that check as a CanBe test (see IMG_ReaderEntry), which
// answers false only when the reader would certainly refuse the file, and
// true whenever the head cannot tell. The readers that are tried read through
// the view (Proxy_FileIOProcess::LendFile) instead of opening the file again.
class IMG_FileView {
public:
    static constexpr std::size_t kHeadBytes = 4096;

    IMG_FileView() = default;
    IMG_FileView(const IMG_FileView&) = delete;
    IMG_FileView& operator=(const IMG_FileView&) = delete;
    ~IMG_FileView();

    // Opens path and reads its head: false when it cannot be opened, names
    // something other than a regular file, or cannot be read. The open does
    // not wait (a FIFO without a writer) and takes no terminal; a path that
    // names no regular file is refused before it is opened.
    bool Open(const char* path);
    // Why the last Open failed ("no such file", "a named pipe, not a regular
    // file", ...); empty after a success.
    const std::string& Refusal() const { return refusal; }

    // The head: kHeadBytes, or fewer when the file is shorter (or the read
    // came up short, in which case what lies beyond is unknown).
    const uint8_t* Head() const { return head; }
    std::size_t HeadLength() const { return headLength; }
    // The size of the file as it was opened; the file is taken to end there.
    uint64_t Size() const { return size; }

    // Whether the file may hold the count bytes of expected at offset: false
    // when it ends before them or the head shows other bytes there; true
    // when the head shows them, or does not reach them although the file does.
    bool MayHold(std::size_t offset, const void* expected, std::size_t count) const;

    // The bytes of the file from offset on: a pointer to available (at least
    // one) of them, valid until the next call; null at the end of the file
    // or on a read error. Bytes past the head come from a block that is read
    // where it is asked for and kept for the next reader: a small one at
    // first, a larger one each time the reading goes on where the last
    // block ended.
    const uint8_t* Bytes(uint64_t offset, std::size_t& available);

    // Reads up to count bytes at offset into out and returns how many: fewer
    // than count at the end of the file or when it cannot be read. A long
    // read goes straight to out.
    std::size_t Read(uint64_t offset, void* out, std::size_t count);

private:
    static constexpr std::size_t kFirstBlockBytes = 4 * 1024;
    static constexpr std::size_t kMaxBlockBytes = 64 * 1024;

    // Up to count bytes at offset straight from the file; -1 on an error.
    int64_t ReadFromFile(uint64_t offset, uint8_t* out, std::size_t count) const;

    bool Refuse(std::string why);

    int fd = -1;
    std::string refusal;
    uint64_t size = 0;
    uint8_t head[kHeadBytes];
    std::size_t headLength = 0;
    std::unique_ptr<uint8_t[]> block; // made when first needed
    uint64_t blockStart = 0;
    std::size_t blockLength = 0;
    std::size_t blockRead = 0; // how much the last block read asked for
};
