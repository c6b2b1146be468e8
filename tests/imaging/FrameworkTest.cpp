#include "IMG_Exception.h"
#include "IMG_FileIOProcess.h"
#include "IMG_ImageInfo.h"
#include "IMG_OpenImageFile.h"
#include "IMG_PathNames.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

TEST(PixelType, ComputedFromBitsSamplesAndModel) {
    struct Case {
        int bits, samples;
        uint32_t model, type; // type 0: throws -1
    };
    const Case cases[] = {
        // gray
        {8, 1, 10, 0x280A},
        {16, 1, 10, 0x000A},
        {32, 1, 10, 0x270A},
        {8, 2, 10, 0x208A},
        {16, 2, 10, 0x008A},
        {1, 3, 10, 0x208A}, // more than two samples: whatever the bits
        {4, 1, 10, 0},
        {32, 2, 10, 0},
        {8, 0, 10, 0},
        // RGB
        {5, 3, 1, 0x0501},
        {8, 3, 1, 0x2101},
        {16, 3, 1, 0x2901},
        {8, 4, 1, 0x0881},
        {16, 4, 1, 0x2981},
        {16, 6, 1, 0x0881},
        {8, 2, 1, 0},
        {32, 3, 1, 0},
        {5, 4, 1, 0},
        // CMYK
        {8, 4, 2, 0x0802},
        {16, 4, 2, 0x2A02},
        {8, 5, 2, 0x0882},
        {16, 5, 2, 0x2A82},
        {1, 7, 2, 0x0882},
        {8, 3, 2, 0},
        {32, 4, 2, 0},
        // Lab
        {8, 3, 8, 0x2108},
        {16, 3, 8, 0x2908},
        {8, 4, 8, 0},
        {32, 3, 8, 0},
        // palette, others
        {8, 1, 16, 0x0010},
        {1, 99, 16, 0x0010},
        {8, 3, 11, 0},
        {8, 3, 0, 0},
    };
    for (const auto& c : cases) {
        IMG_ImageInfo info;
        info.pixelType = 0x1234;
        if (c.type == 0) {
            try {
                ComputePixelType(info, c.bits, c.samples, c.model);
                ADD_FAILURE() << c.bits << "/" << c.samples << "/" << c.model << " gave a type";
            } catch (const IMG_Exception& e) {
                EXPECT_EQ(e.Code(), -1);
                EXPECT_EQ(info.pixelType, 0x1234u);
            }
        } else {
            ComputePixelType(info, c.bits, c.samples, c.model);
            EXPECT_EQ(info.pixelType, c.type) << c.bits << "/" << c.samples << "/" << c.model;
        }
    }
}

TEST(PixelType, SetPixelTypeStoresColourSpaceBitsAndSamples) {
    struct Case {
        uint32_t type, space;
        int16_t bits, samples;
    };
    const Case cases[] = {
        {0x2101, 3, 24, 3}, {0x0881, 3, 32, 4}, {0x2A82, 4, 80, 5}, {0x0802, 4, 32, 4},
        {0x2908, 6, 48, 3}, {0x280A, 1, 8, 1},  {0x270A, 1, 32, 1}, {0x008A, 1, 32, 2},
        {0x208A, 1, 0, 0},  {0x0010, 9, 0, 0},  {0x000B, 9, 0, 0},  {0, 9, 0, 0},
    };
    for (const auto& c : cases) {
        IMG_ImageInfo info;
        info.colourSpace = 9; // models without a colour space leave it
        info.bitsPerSample = 7;
        info.samplesPerPixel = 7;
        SetPixelType(info, c.type);
        EXPECT_EQ(info.pixelType, c.type);
        EXPECT_EQ(info.colourSpace, c.space) << std::hex << c.type;
        EXPECT_EQ(info.bitsPerSample, c.bits) << std::hex << c.type;
        EXPECT_EQ(info.samplesPerPixel, c.samples) << std::hex << c.type;
    }
}

TEST(DscNames, PostScriptStringsAreDecoded) {
    struct Case {
        const char* value;
        std::size_t max;
        const char* name;
    };
    const Case cases[] = {
        {"(Vol:Images:Photo.tif)", 515, "Vol:Images:Photo.tif"},
        {"(a\\(b\\)c\\\\d)", 515, "a(b)c\\d"},
        {"(x\\ny\\rz\\tw\\bv\\fu)", 515, "x\ny\rz\tw\bv\fu"},
        {"(\\101\\102C)", 515, "ABC"}, // octal escapes
        {"(\\1012)", 515, "A2"},       // at most three digits
        {"(\\7x)", 515, "\ax"},        // fewer digits
        {"(\\qx)", 515, "qx"},         // unknown escape: the character alone
        {"(nested (parens) here)", 515, "nested parens here"},
        {"(abcdef)", 3, "abc"}, // stops at the maximum
        {"(abc\\", 515, "abc"}, // a lone backslash at the end
    };
    for (const auto& c : cases) {
        char out[520];
        std::memset(out, 'Z', sizeof out);
        std::size_t n = DecodePsString(c.value, out, c.max);
        EXPECT_STREQ(out, c.name) << c.value;
        EXPECT_EQ(n, std::strlen(c.name));
    }
}

TEST(DscNames, OnlyAbsolutePathsBecomeNames) {
    struct Case {
        const char* value;
        int kind;
        const char* name;
    };
    const Case cases[] = {
        {"(Vol:Images:Photo.tif)", 0, "Vol:Images:Photo.tif"},
        {"Vol:Images:Photo.tif", 0, "Vol:Images:Photo.tif"},
        {"(C:\\\\Images\\\\a.tif)", 1, "C:\\Images\\a.tif"},
        {"/srv/images/a.tif", 2, "/srv/images/a.tif"},
        {"(photo.tif)", -1, ""},
        {" (Vol:Images:Photo.tif)", 0, " (Vol:Images:Photo.tif)"}, // not decoded: no "(" first
        {"", -1, ""},
    };
    for (const auto& c : cases) {
        char out[516];
        EXPECT_EQ(NameFromDscValue(c.value, out, 515), c.kind) << c.value;
        EXPECT_STREQ(out, c.name) << c.value;
    }
    char out[8];
    EXPECT_EQ(NameFromDscValue(nullptr, out, 7), -1);
    EXPECT_STREQ(out, "");
    // A long value is cut at the maximum and still terminated.
    std::string longValue = "/" + std::string(600, 'a');
    char big[516];
    EXPECT_EQ(NameFromDscValue(longValue.c_str(), big, 515), -1); // one slash only
    std::string longPath = "/srv/x/" + std::string(600, 'a');
    EXPECT_EQ(NameFromDscValue(longPath.c_str(), big, 515), 2);
    EXPECT_EQ(std::strlen(big), 515u);
}

namespace {

// A reader that records the calls the dispatch makes.
class Recorder : public Proxy_FileIOProcess {
public:
    std::vector<std::string>* calls;
    explicit Recorder(std::vector<std::string>* c) : calls(c) {}
    void OpenRead() override { calls->push_back("OpenRead"); }
    void CloseRead() override { calls->push_back("CloseRead"); }
    void ReadHeader() override { calls->push_back("ReadHeader"); }
    const char* ReaderName() const override { return "Recorder"; }
};

} // namespace

TEST(ModeDispatch, InspectionOpensReadsAndCloses) {
    std::vector<std::string> calls;
    Recorder r(&calls);
    r.SetMode(kImgModeInspect);
    r.Begin();
    r.Run();
    r.End();
    EXPECT_EQ(calls, (std::vector<std::string>{"OpenRead", "ReadHeader", "CloseRead"}));

    calls.clear();
    r.SetMode(kImgModeNone);
    r.Begin();
    r.Run();
    r.End();
    EXPECT_TRUE(calls.empty());

    // The write mode reaches the readers' unsupported operations.
    r.SetMode(kImgModeWrite);
    try {
        r.Begin();
        FAIL();
    } catch (const IMG_Exception& e) {
        EXPECT_EQ(e.Code(), -1);
    }
    EXPECT_THROW(r.Run(), IMG_Exception);

    // The read mode without a target image has no row buffer (-2) once there
    // are rows to read.
    r.SetMode(kImgModeRead);
    r.Run(); // no rows in an empty description
}

TEST(ModeDispatch, FileNameIsCopiedAndANullNameChangesNothing) {
    std::vector<std::string> calls;
    Recorder r(&calls);
    std::string name = "photo.tif";
    r.SetFileName(name.c_str());
    name[0] = 'X';
    EXPECT_STREQ(r.GetFileName(), "photo.tif");
    r.SetFileName(nullptr);
    EXPECT_STREQ(r.GetFileName(), "photo.tif");
    char linked[8] = "keep";
    r.GetLinkedName(linked, sizeof linked);
    EXPECT_STREQ(linked, "keep"); // none: nothing copied
}

TEST(Factory, AFileThatNoReaderTakesGivesNone) {
    TempDir dir;
    const std::string files[] = {
        "", "not an image at all\n", std::string(5000, '\0'),
        "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: (atend)\n%%EndComments\n"};
    int i = 0;
    for (const auto& bytes : files) {
        std::string path = dir / ("f" + std::to_string(i++));
        WriteFile(path, bytes);
        EXPECT_EQ(IMG_OpenImageFile(path.c_str(), "r", true), nullptr) << i;
        EXPECT_EQ(IMG_OpenImageFile(path.c_str(), "r", false), nullptr) << i;
    }
    EXPECT_EQ(IMG_OpenImageFile((dir / "missing").c_str(), "r", true), nullptr);
    EXPECT_EQ(IMG_OpenImageFile(nullptr, "r", true), nullptr);
    EXPECT_EQ(IMG_OpenImageFile(dir.Path().c_str(), "r", true), nullptr); // a folder
}

TEST(Factory, ReadersAreTriedInTheirOrder) {
    const char* expected[] = {"Proxy_TIFF",    "Proxy_JPEG",    "Proxy_PCD",          "Proxy_PSD",
                              "Proxy_EPS_OPI", "Proxy_EPS_Std", "Proxy_EPS_OPI_Other"};
    for (int i = 0; i < 7; ++i) {
        EXPECT_STREQ(kImgReaders[i].name, expected[i]);
        std::unique_ptr<Proxy_FileIOProcess> reader(kImgReaders[i].make());
        EXPECT_STREQ(reader->ReaderName(), expected[i]);
        EXPECT_EQ(kImgReaders[i].placeholderReader, i == 4 || i == 6);
        EXPECT_EQ(reader->GetProcessCount(), -1);
        EXPECT_EQ(reader->GetImageInfo(), nullptr);
    }
}
