#pragma once

// How the tests run a reader: on its own, and as the factory does, lending it
// the file it opened once; both must come to the same result for every file.

#include "IMG_Exception.h"
#include "IMG_FileView.h"
#include "IMG_OpenImageFile.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Everything a reader tells after an inspection, the resolution to its exact bits.
inline std::string DescribeReader(const Proxy_FileIOProcess& reader) {
    char line[300];
    int n = std::snprintf(line, sizeof line, "accepted by %s format %#x count %d",
                          reader.ReaderName(), reader.GetFormatCode(), reader.GetProcessCount());
    if (const IMG_ImageInfo* info = reader.GetImageInfo())
        std::snprintf(line + n, sizeof line - n,
                      " %ux%u bits %d samples %d resolution %a type %#x space %u", info->width,
                      info->height, info->bitsPerSample, info->samplesPerPixel,
                      static_cast<double>(info->resolution), info->pixelType, info->colourSpace);
    return line + (reader.LinkedName() ? std::string(" linked ") + reader.LinkedName() : "");
}

// The code of the IMG_Exception that f throws, or 0 when it throws none.
inline int ThrownCode(const std::function<void()>& f) {
    try {
        f();
    } catch (const IMG_Exception& e) {
        return e.Code();
    }
    return 0;
}

// What one inspection gave: code 0 when the reader accepted the file, else
// the IMG_Exception's code or the plain integer thrown.
struct Inspected {
    int code = 0, processCount = -1;
    bool plainInt = false, hasLinkedName = false;
    uint32_t formatCode = 0;
    IMG_ImageInfo info;
    std::string linkedName;
};

// The facts of an accepted file as one text (the resolution to two places).
inline std::string Facts(uint32_t format, uint32_t width, uint32_t height, double resolution,
                         uint32_t type, int samples, int bits, int count = -1,
                         const std::string* linked = nullptr) {
    char line[200];
    std::snprintf(line, sizeof line,
                  "format %#x %ux%u at %.2f type %#x %d samples %d bits count %d", format, width,
                  height, resolution, type, samples, bits, count);
    return linked ? line + (" linked " + *linked) : line;
}

inline std::string Facts(const Inspected& r) {
    if (r.code != 0)
        return "refused with " + std::to_string(r.code);
    return Facts(r.formatCode, r.info.width, r.info.height, r.info.resolution, r.info.pixelType,
                 r.info.samplesPerPixel, r.info.bitsPerSample, r.processCount,
                 r.hasLinkedName ? &r.linkedName : nullptr);
}

// Readers that may refuse with a plain integer; any other that does fails the test.
template <typename Reader> inline constexpr bool kMayThrowPlainInt = false;

// Runs one reader as the factory runs it (Begin, Run, End; End also after a
// failure), the file lent or not: 0, or the IMG_Exception's or plain integer's
// code (plainInt then set). The path may be null.
inline int RunReader(Proxy_FileIOProcess& reader, const char* path, IMG_FileView* lent,
                     bool& plainInt) {
    reader.SetFileName(path);
    reader.SetMode(kImgModeInspect);
    reader.LendFile(lent);
    int code = 0;
    try {
        reader.Begin();
        reader.Run();
        reader.End();
    } catch (const IMG_Exception& e) {
        reader.End();
        code = e.Code();
    } catch (int thrown) {
        reader.End();
        code = thrown;
        plainInt = true;
    }
    reader.LendFile(nullptr);
    return code;
}

// Inspects the file with a fresh Reader; more reads what else the reader knows.
template <typename Reader>
Inspected Inspect(const char* path, const std::function<void(Reader&)>& more = {}) {
    Inspected r;
    Reader reader;
    r.code = RunReader(reader, path, nullptr, r.plainInt);
    EXPECT_TRUE(kMayThrowPlainInt<Reader> || !r.plainInt)
        << "refused with the plain integer " << r.code;
    if (r.code != 0)
        return r;
    r.formatCode = reader.GetFormatCode();
    EXPECT_NE(reader.GetImageInfo(), nullptr);
    r.info = reader.GetImageInfo() ? *reader.GetImageInfo() : IMG_ImageInfo{};
    r.processCount = reader.GetProcessCount();
    r.hasLinkedName = reader.LinkedName() != nullptr;
    r.linkedName = r.hasLinkedName ? reader.LinkedName() : "";
    if (more)
        more(reader);
    return r;
}

template <typename Reader>
Inspected Inspect(const std::string& path, const std::function<void(Reader&)>& more = {}) {
    return Inspect<Reader>(path.c_str(), more);
}

// Writes a file anew (removing it spares the flush of the old contents).
inline void WriteFresh(const std::string& path, const std::string& bytes) {
    std::filesystem::remove(path);
    WriteFile(path, bytes);
}

// The outcome of RunReader as one text.
inline std::string RunReader(Proxy_FileIOProcess& reader, const std::string& path,
                             IMG_FileView* lent) {
    bool plainInt = false;
    const int code = RunReader(reader, path.c_str(), lent, plainInt);
    return code == 0
               ? DescribeReader(reader)
               : (plainInt ? "refused with the integer " : "refused with ") + std::to_string(code);
}

// Runs Reader on the file both ways and expects the same outcome, and expects
// the reader's CanBe test to rule the file out only when it refuses it.
template <typename Reader> void ExpectSameWithTheFileLent(const std::string& path) {
    SCOPED_TRACE(path);
    Reader alone, lent;
    const std::string byItself = RunReader(alone, path, nullptr);
    IMG_FileView view;
    ASSERT_TRUE(view.Open(path.c_str()));
    EXPECT_EQ(RunReader(lent, path, &view), byItself);
    EXPECT_TRUE(Reader::CanBe(view) || byItself.rfind("refused", 0) == 0) << byItself;
}

// The factory chooses as the readers tried one by one alone, OPI accepted or not.
inline void ExpectFactoryAsEachReaderAlone(const std::string& path) {
    SCOPED_TRACE(path);
    for (bool acceptOpi : {true, false}) {
        std::string alone = "none";
        for (const IMG_ReaderEntry& entry : kImgReaders) {
            std::unique_ptr<Proxy_FileIOProcess> reader(entry.make());
            if (alone == "none" && (acceptOpi || !entry.placeholderReader) &&
                RunReader(*reader, path, nullptr).rfind("accepted", 0) == 0)
                alone = DescribeReader(*reader);
        }
        auto reader = IMG_OpenImageFile(path.c_str(), "r", acceptOpi);
        EXPECT_EQ(reader ? DescribeReader(*reader) : "none", alone)
            << "OPI accepted: " << acceptOpi;
    }
}

// The same for the bytes as a file of their own (named by its size).
inline void ExpectFactoryAsEachReaderAloneForBytes(const std::string& bytes) {
    TempDir dir;
    WriteFile(dir / ("size" + std::to_string(bytes.size())), bytes);
    ExpectFactoryAsEachReaderAlone(dir / ("size" + std::to_string(bytes.size())));
}

// Both of the above for one reader.
template <typename Reader> void ExpectAlikeEveryWay(const std::string& path) {
    ExpectSameWithTheFileLent<Reader>(path);
    ExpectFactoryAsEachReaderAlone(path);
}

// The bytes as a file of their own, inspected, and run every way when asked.
template <typename Reader>
Inspected InspectBytes(const std::string& bytes, bool everyWay = false,
                       const std::function<void(Reader&)>& more = {}) {
    TempDir dir;
    WriteFile(dir / "file", bytes);
    if (everyWay)
        ExpectAlikeEveryWay<Reader>(dir / "file");
    return Inspect<Reader>(dir / "file", more);
}

// Every cut of the file (the whole one too) and every byte before damageEnd
// set to 00, FF and 80 in turn: the reader refuses only with one of the codes,
// alike with the file lent, and cutCheck judges what it says of each cut.
template <typename Reader>
void ExpectEveryCutAndDamageHandled(
    const std::string& whole, std::size_t damageEnd, std::initializer_list<int> codes,
    const std::function<void(std::size_t, const Inspected&)>& cutCheck) {
    TempDir dir;
    const std::string path = dir / "file";
    auto inspect = [&](const std::string& bytes) {
        WriteFresh(path, bytes);
        ExpectSameWithTheFileLent<Reader>(path);
        const Inspected r = Inspect<Reader>(path);
        EXPECT_NE(std::find(codes.begin(), codes.end(), r.code), codes.end()) << r.code;
        return r;
    };
    for (std::size_t n = 0; n <= whole.size(); ++n) {
        SCOPED_TRACE("cut at " + std::to_string(n));
        cutCheck(n, inspect(whole.substr(0, n)));
    }
    for (std::size_t at = 0; at < damageEnd; ++at) {
        SCOPED_TRACE("byte " + std::to_string(at));
        for (char value : {'\x00', '\xFF', '\x80'})
            inspect(whole.substr(0, at) + value + whole.substr(at + 1));
    }
}

// Open file descriptors of this process, or -1 where that cannot be told.
inline int OpenFileCount() {
    std::error_code error;
    std::filesystem::directory_iterator it("/proc/self/fd", error);
    int n = 0;
    for (; !error && it != std::filesystem::directory_iterator(); it.increment(error))
        ++n;
    return error ? -1 : n;
}

// Of the files with these bytes: closing a reader that has nothing open, or twice, is harmless,
// opening again closes the first handle, the results outlive the file, no name, a missing file
// (a name longer than a reader opens too) fails with -4, and no reader keeps a file
// open after it is gone, whether it accepted the file, refused it or was never closed.
template <typename Reader>
void ExpectCloseHarmlessAndNoLeak(const std::string& goodBytes, uint32_t goodFormat,
                                  std::initializer_list<std::string> refusedBytes) {
    TempDir dir;
    std::vector<std::string> paths; // the files refused, then the good one
    for (const std::string& bytes : refusedBytes)
        WriteFile(paths.emplace_back(dir / std::to_string(paths.size())), bytes);
    const std::string good = paths.emplace_back(dir / "good");
    WriteFile(good, goodBytes);
    const int before = OpenFileCount();
    {
        Reader reader;
        reader.CloseRead(); // nothing open
        reader.SetFileName(good.c_str());
        reader.SetMode(kImgModeInspect);
        reader.Begin();
        reader.Begin();
        reader.Run();
        reader.End();
        reader.End();
        EXPECT_EQ(reader.GetFormatCode(), goodFormat);
        EXPECT_NE(reader.GetImageInfo(), nullptr);
    }
    EXPECT_EQ(Inspect<Reader>(static_cast<const char*>(nullptr)).code, -4);
    for (const std::string& path : {good + ".missing", dir / std::string(1100, 'a')})
        EXPECT_EQ(Inspect<Reader>(path).code, -4) << path.size();
    for (const std::string& path : paths) {
        Reader reader; // destroyed without CloseRead
        reader.SetFileName(path.c_str());
        try {
            reader.OpenRead(); // a refusal throws an IMG_Exception or a plain integer
        } catch (...) {
        }
    }
    EXPECT_TRUE(before < 0 || OpenFileCount() == before)
        << OpenFileCount() << " open, not " << before;
}
