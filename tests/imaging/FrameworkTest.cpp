#include "IMG_PathNames.h"
#include "ReaderRuns.h"

#include <cstring>

using namespace std::string_literals;

namespace {

// A reader that records the calls the dispatch makes, and has rows.
class Recorder : public Proxy_FileIOProcess {
public:
    std::vector<std::string> calls;
    void OpenRead() override { calls.push_back("OpenRead"); }
    void CloseRead() override { calls.push_back("CloseRead"); }
    void ReadHeader() override { calls.push_back("ReadHeader"); }
    void ReadRow(uint32_t row, uint8_t* buffer) override { buffer[0] = static_cast<uint8_t>(row); }
    void SetRows(uint32_t rows) { description->height = rows; }
    const char* ReaderName() const override { return "Recorder"; }
};

// An image lending row buffers and a progress that cancels.
class Target : public IMG_Image, public IMG_Progress {
public:
    std::vector<uint8_t> data = std::vector<uint8_t>(8, 0xFF);
    uint32_t missing = UINT32_MAX;
    int released = 0, steps = 0, stopAfter = 1000;
    bool finished = false;
    uint8_t* GetRow(uint32_t row) override { return row == missing ? nullptr : &data[row]; }
    void ReleaseRow(uint32_t, uint8_t*) override { ++released; }
    void Start(uint32_t) override {}
    bool Step() override { return ++steps < stopAfter; }
    void Finish() override { finished = true; }
};

} // namespace

TEST(PixelType, ComputedFromBitsSamplesAndModel) {
    // Bits, samples, model and type (0: throws -1), for gray, RGB, CMYK, Lab,
    // palette and others; more than two gray samples whatever the bits.
    const std::tuple<int, int, uint32_t, uint32_t> cases[] = {
        {8, 1, 10, 0x280A},  {16, 1, 10, 0x000A}, {32, 1, 10, 0x270A}, {8, 2, 10, 0x208A},
        {16, 2, 10, 0x008A}, {1, 3, 10, 0x208A},  {4, 1, 10, 0},       {32, 2, 10, 0},
        {8, 0, 10, 0},       {5, 3, 1, 0x0501},   {8, 3, 1, 0x2101},   {16, 3, 1, 0x2901},
        {8, 4, 1, 0x0881},   {16, 4, 1, 0x2981},  {16, 6, 1, 0x0881},  {8, 2, 1, 0},
        {32, 3, 1, 0},       {5, 4, 1, 0},        {8, 4, 2, 0x0802},   {16, 4, 2, 0x2A02},
        {8, 5, 2, 0x0882},   {16, 5, 2, 0x2A82},  {1, 7, 2, 0x0882},   {8, 3, 2, 0},
        {32, 4, 2, 0},       {8, 3, 8, 0x2108},   {16, 3, 8, 0x2908},  {8, 4, 8, 0},
        {32, 3, 8, 0},       {8, 1, 16, 0x0010},  {1, 99, 16, 0x0010}, {8, 3, 11, 0},
        {8, 3, 0, 0}};
    for (const auto& [bits, samples, model, type] : cases) {
        IMG_ImageInfo info;
        info.pixelType = 0x1234; // a refused combination leaves the type as it was
        const int code = ThrownCode([&] { ComputePixelType(info, bits, samples, model); });
        EXPECT_EQ(std::pair(code, info.pixelType), std::pair(type ? 0 : -1, type ? type : 0x1234))
            << bits << "/" << samples << "/" << model;
    }
}

TEST(DscNames, PostScriptStringsAreDecoded) {
    const std::tuple<const char*, std::size_t, const char*> cases[] = {
        {"(Vol:Images:Photo.tif)", 515, "Vol:Images:Photo.tif"},
        {"(a\\(b\\)c\\\\d)", 515, "a(b)c\\d"},
        {"(x\\ny\\rz\\tw\\bv\\fu)", 515, "x\ny\rz\tw\bv\fu"},
        {"(\\101\\102C)", 515, "ABC"}, // octal escapes
        {"(\\1012)", 515, "A2"},       // at most three digits
        {"(\\7x)", 515, "\ax"},        // fewer digits
        {"(\\qx)", 515, "qx"},         // unknown escape: the character alone
        {"(nested (parens) here)", 515, "nested parens here"},
        {"(abcdef)", 3, "abc"},  // stops at the maximum
        {"(abc\\", 515, "abc"}}; // a lone backslash at the end
    for (const auto& [value, max, name] : cases) {
        char out[520];
        std::memset(out, 'Z', sizeof out);
        const std::size_t n = DecodePsString(value, out, max);
        EXPECT_EQ(std::pair(std::string(out), n), std::pair(std::string(name), std::strlen(name)))
            << value;
    }
}

TEST(Factory, NoReaderGivesNoneAndReadingTheHeadFirstChangesNoResult) {
    TempDir dir;
    for (const std::string& bytes :
         {""s, std::string(5000, '\0'),
          "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: (atend)\n%%EndComments\n"s,
          "not an image at all\n"s}) {
        WriteFresh(dir / "f", bytes);
        for (bool acceptOpi : {true, false})
            EXPECT_EQ(IMG_OpenImageFile((dir / "f").c_str(), "r", acceptOpi), nullptr)
                << bytes.size();
    }
    std::string why; // of the last file, text
    EXPECT_EQ(IMG_OpenImageFile((dir / "f").c_str(), "r", true, &why), nullptr);
    EXPECT_EQ(why, kImgNoReaderAccepts);
    EXPECT_EQ(IMG_OpenImageFile(nullptr, "r", true), nullptr);
    // The first bytes of every format, whole and cut short, and near misses.
    const std::string pcd = Pattern(2048) + "PCD_IPI" + Pattern(3000), zeros(20, '\0');
    std::vector<std::string> starts = {"II*\0\x08\0\0\0"s,    "MM\0*\0\0\0\x08"s,
                                       "EP*\0\x08\0\0\0"s,    "II+\0\x08\0\0\0"s,
                                       "MM\0+\0\x08\0\0"s,    "II\0*"s,
                                       "\xFF\xD8\xFF\xE0"s,   "\xFF\xD9"s,
                                       "8BPS\0\x01"s + zeros, "8BPS\0\x02"s + zeros};
    for (std::string& start : starts)
        start += Pattern(100);
    starts.insert(
        starts.end(),
        {"%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 10 10\n%%EOF\n",
         "%!PS-Adobe-3.0\n%ALDImageFileName: (Vol:Images:Photo.tif)\n%ALDImageType: 4 8\n",
         "%!Ps\n", pcd, "PCD_IPI" + Pattern(3000),
         "\xC5\xD0\xD3\xC6\x1E\0\0\0\x40\0\0\0"s + std::string(18, '\0') +
             "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 1 1\n%%EOF\n"}); // a DOS EPS
    for (const std::string& start : starts) {
        for (std::size_t cut : {0, 1, 2, 3, 4, 5, 7, 8, 9, 25, 26, 27, 29, 30, 31, 60})
            ExpectFactoryAsEachReaderAloneForBytes(start.substr(0, cut));
        ExpectFactoryAsEachReaderAloneForBytes(start);
    }
    for (std::size_t cut = 2040; cut <= 2060; ++cut)
        ExpectFactoryAsEachReaderAloneForBytes(pcd.substr(0, cut));
    ExpectFactoryAsEachReaderAloneForBytes(Pattern(4096) + "PCD_IPI");
    ExpectFactoryAsEachReaderAloneForBytes(std::string(3, '\0'));

    // No file at all, and things that are no regular files.
    ExpectFactoryAsEachReaderAlone(dir / "missing");
    ExpectFactoryAsEachReaderAlone(dir.Path());
}

TEST(ModeDispatch, InspectionReadsTheHeaderAndRowLoopsFillEveryRow) {
    Recorder r;
    for (const auto mode : {kImgModeInspect, kImgModeNone}) {
        r.calls.clear();
        r.SetMode(mode);
        r.Begin();
        r.Run();
        r.End();
        EXPECT_EQ(r.calls, (mode == kImgModeNone
                                ? std::vector<std::string>{}
                                : std::vector<std::string>{"OpenRead", "ReadHeader", "CloseRead"}));
    }

    // The write mode reaches the readers' unsupported operations.
    r.SetMode(kImgModeWrite);
    EXPECT_EQ(ThrownCode([&] { r.Begin(); }), -1);
    EXPECT_THROW(r.Run(), IMG_Exception);

    // The read mode without a target image reads no rows of an empty description.
    r.SetMode(kImgModeRead);
    r.Run();
    // The file name is copied, and a null name changes nothing.
    std::string name = "photo.tif";
    r.SetFileName(name.c_str());
    name[0] = 'X';
    EXPECT_STREQ(r.GetFileName(), "photo.tif");
    r.SetFileName(nullptr);
    EXPECT_STREQ(r.GetFileName(), "photo.tif");
    char linked[8] = "keep";
    r.GetLinkedName(linked, sizeof linked);
    EXPECT_STREQ(linked, "keep"); // none: nothing copied

    Target image, progress;
    r.SetRows(5);
    r.SetTargetImage(&image);
    r.SetProgress(&progress);
    r.ReadRows();
    EXPECT_EQ(std::tuple(image.data, image.released, progress.finished),
              std::tuple(std::vector<uint8_t>{0, 1, 2, 3, 4, 0xFF, 0xFF, 0xFF}, 5, true));
    Target cancel;
    cancel.stopAfter = 2;
    r.SetProgress(&cancel);
    EXPECT_EQ(std::tuple(ThrownCode([&] { r.ReadRows(); }), cancel.steps, cancel.finished),
              std::tuple(-25, 2, false));

    image.missing = 3;
    r.SetProgress(nullptr);
    EXPECT_EQ(ThrownCode([&] { r.ReadRows(); }), -2); // a missing row buffer
    // Writing rows reaches the readers' unsupported write (-1).
    image.missing = UINT32_MAX;
    EXPECT_THROW(r.WriteRows(), IMG_Exception);
}
