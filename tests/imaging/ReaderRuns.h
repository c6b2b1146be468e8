#pragma once

// The two ways a reader meets a file: on its own, opening the file itself,
// and through the factory, which opens the file once, reads its head, passes
// over the readers that the head rules out and lends the file to the others.
// Both must come to the same result for every file.

#include "IMG_Exception.h"
#include "IMG_FileView.h"
#include "IMG_OpenImageFile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

// Everything a reader tells after an inspection, as one text to compare.
inline std::string DescribeReader(const Proxy_FileIOProcess& reader) {
    std::string text = std::string("accepted by ") + reader.ReaderName();
    char line[200];
    std::snprintf(line, sizeof line, " format %#x count %d", reader.GetFormatCode(),
                  reader.GetProcessCount());
    text += line;
    if (const IMG_ImageInfo* info = reader.GetImageInfo()) {
        // The resolution as its exact bits: both ways must compute it alike.
        std::snprintf(line, sizeof line,
                      " %ux%u bits %d samples %d resolution %a type %#x space %u", info->width,
                      info->height, info->bitsPerSample, info->samplesPerPixel,
                      static_cast<double>(info->resolution), info->pixelType, info->colourSpace);
        text += line;
    }
    if (reader.LinkedName() != nullptr) {
        text += std::string(" linked ") + reader.LinkedName();
    }
    return text;
}

// Begin, Run and End as the factory calls them, End also after a failure: 0,
// or the code of the IMG_Exception that ended the attempt. Anything else
// thrown is passed on. The path may be null.
template <typename Reader> int RunInspection(Reader& reader, const char* path) {
    reader.SetFileName(path);
    reader.SetMode(kImgModeInspect);
    try {
        reader.Begin();
        reader.Run();
        reader.End();
        return 0;
    } catch (const IMG_Exception& e) {
        reader.End();
        return e.Code();
    }
}

// Runs one reader as the factory runs it (Begin, Run, End; End again after a
// failure), with the file lent or not, and describes the outcome.
inline std::string RunReader(Proxy_FileIOProcess& reader, const std::string& path,
                             IMG_FileView* lent) {
    reader.SetFileName(path.c_str());
    reader.SetMode(kImgModeInspect);
    reader.LendFile(lent);
    std::string outcome;
    try {
        reader.Begin();
        reader.Run();
        reader.End();
        outcome = DescribeReader(reader);
    } catch (const IMG_Exception& e) {
        reader.End();
        outcome = "refused with " + std::to_string(e.Code());
    } catch (int code) {
        reader.End();
        outcome = "refused with the integer " + std::to_string(code);
    }
    reader.LendFile(nullptr);
    return outcome;
}

// Runs Reader on the file both ways and expects the same outcome, and expects
// the reader's CanBe test to rule the file out only when it refuses it.
template <typename Reader> void ExpectSameWithTheFileLent(const std::string& path) {
    SCOPED_TRACE(path);
    Reader alone;
    const std::string byItself = RunReader(alone, path, nullptr);
    IMG_FileView view;
    ASSERT_TRUE(view.Open(path.c_str()));
    Reader lent;
    EXPECT_EQ(RunReader(lent, path, &view), byItself);
    if (!Reader::CanBe(view)) {
        EXPECT_EQ(byItself.rfind("refused", 0), 0u) << byItself;
    }
}

// The readers tried one after the other, each on its own: the first that
// accepts the file, or "none".
inline std::string RunEachReaderAlone(const std::string& path, bool acceptOpi) {
    for (const IMG_ReaderEntry& entry : kImgReaders) {
        if (entry.placeholderReader && !acceptOpi) {
            continue;
        }
        std::unique_ptr<Proxy_FileIOProcess> reader(entry.make());
        const std::string outcome = RunReader(*reader, path, nullptr);
        if (outcome.rfind("accepted", 0) == 0) {
            return outcome;
        }
    }
    return "none";
}

inline std::string RunFactory(const std::string& path, bool acceptOpi) {
    auto reader = IMG_OpenImageFile(path.c_str(), "r", acceptOpi);
    return reader ? DescribeReader(*reader) : "none";
}

// The factory comes to what the readers come to on their own, with and
// without OPI placeholders accepted.
inline void ExpectFactoryAsEachReaderAlone(const std::string& path) {
    SCOPED_TRACE(path);
    for (bool acceptOpi : {true, false}) {
        EXPECT_EQ(RunFactory(path, acceptOpi), RunEachReaderAlone(path, acceptOpi))
            << (acceptOpi ? "OPI accepted" : "OPI not accepted");
    }
}
