#include "OD_OrderFromImage.h"
#include "OD_ProcData.h"

#include "../host/DocumentTestKit.h"
#include "DocumentModel.h"
#include "DocumentUtils.h"
#include "OrdoSessionKit.h"
#include "SampleImages.h"
#include "ServerTree.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <sstream>
#include <string>
#include <vector>

TEST(ProcessTable, OptionsCodesCorrectionTextKeysImageClassesAndNameRules) {
    // Numbers outside the table have no option.
    for (int other : {0, 5, 25, -1}) {
        EXPECT_EQ(OptionForCode(other), -1) << other;
    }
    // {option, model, code}: the search starts at the group of the colour model
    // (only its low seven bits), so no gray code carries 7 or 2 and nothing from
    // the CMYK codes on carries 3 or 4; an unknown model searches the whole table.
    const int highCMYK = 0x100 | kODModelCMYK;
    const int none = 0;
    const int unknown = 16;
    const std::tuple<int, int, int> cases[] = {
        {5, kODModelGray, 3},  {5, kODModelCMYK, 22},      {5, kODModelRGB, 15},
        {5, kODModelLab, 15},  {1, kODModelRGB, 14},       {0, kODModelCMYK, 24},
        {2, highCMYK, 21},     {7, kODModelGray, 16},      {2, kODModelGray, 10},
        {3, kODModelCMYK, -1}, {4, kODModelCMYK, -1},      {8, kODModelGray, -1},
        {1, none, 1},          {7, kODModelFullColor, 16}, {2, unknown, 10},
    };
    for (const auto& [option, model, code] : cases) {
        EXPECT_EQ(CodeForOption(option, model), code) << option << " " << model;
        if (code > 0) {
            EXPECT_EQ(OptionForCode(code), option) << code;
        }
    }

    // A code outside the table is taken as its own option (5, 0, 6, 18, 19).
    for (int code : {13, 3, 1, 10, 12, 16, 5}) {
        EXPECT_TRUE(HasCorrection(code)) << code;
    }
    for (int code : {14, 20, 2, 4, 11, 15, 17, 21, 23, 0, 6, 18, 19}) {
        EXPECT_FALSE(HasCorrection(code)) << code;
    }
    EXPECT_EQ(ProcessCodeTextKey(12), PMString("0x71900kOrdoProcessBaseKey12"));
    EXPECT_STREQ(ImageClassTextKey(kODClassGray), "0x71900kOrdoImgOptDlgListGrayKey");
    EXPECT_STREQ(ImageClassTextKey(kODClassFullColor), "0x71900kOrdoImgOptDlgListColor");
    EXPECT_STREQ(ImageClassTextKey(3), "0x71900kOrdoImgOptDlgListUnknown");
    // The image class from the colour model.
    const std::pair<int, uint32_t> classes[] = {
        {10, kODClassGray},    {1, kODClassRGB},         {8, kODClassLab},
        {2, kODClassCMYK},     {11, kODClassFullColor},  {0, kODClassUnknown},
        {16, kODClassUnknown}, {0x80 | 2, kODClassCMYK},
    };
    for (const auto& [model, imageClass] : classes) {
        EXPECT_EQ(ImageClassForModel(model), imageClass) << model;
    }

    // Names split into the base and the prefix: {name, baseName, prefix (nullptr: none)}
    const std::tuple<const char*, const char*, const char*> names[] = {
        {"Photo.tif", "Photo", nullptr},
        {"archive.backup", "archive.backup", nullptr},
        {"ABCDEFG#Photo.tif", "Photo", "ABCDE"},
        {"#Photo.tif", "Photo", ""},
        // Four bytes after the point are an extension, five are not.
        {"a.tiff", "a", nullptr},
        {"a.jpeg2", "a.jpeg2", nullptr},
        {"a.b.c", "a.b", nullptr},
        {"name.", "name", nullptr},
        {"noext", "noext", nullptr},
        // Only the first "#" splits.
        {"AB#CD#x.psd", "CD#x", "AB"},
        {nullptr, "", nullptr},
        // A prefix is never cut inside a character.
        {"ABCD\xC3\xA9X#name.tif", "name", "ABCD"},
        {"ABC\xC3\xA9X#name.tif", "name", "ABC\xC3\xA9"},
    };
    for (const auto& [name, baseName, prefix] : names) {
        SCOPED_TRACE(name != nullptr ? name : "(null)");
        OD_NameParts p = SplitOrderName(name);
        EXPECT_EQ(p.baseName, baseName);
        EXPECT_EQ(p.hasPrefix, prefix != nullptr);
        if (prefix != nullptr) {
            EXPECT_EQ(p.namePrefix, prefix);
        }
    }
}

namespace {

enum class Kind { gray, rgb, cmyk };

// A TIFF of the kind; a description that starts with a digit is a processing
// mark with that count.
void WriteKindTiff(const std::string& path, Kind kind, uint32_t w, uint32_t h, double resolution,
                   const char* description = "") {
    const int channels = kind == Kind::gray ? 1 : kind == Kind::rgb ? 3 : 4;
    samples::WriteTiff(path, {w, h, channels}, samples::Flat(0x80),
                       {.resolution = resolution, .description = description});
}

// An 8-bit palette TIFF (a colour model the orders do not take), naming a
// high-resolution file in its OPI image ID when one is given.
void WritePaletteTiff(const std::string& path, const char* highRes) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tif, nullptr) << path;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 16);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 8);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE);
    std::vector<uint16_t> map(256, 0);
    TIFFSetField(tif, TIFFTAG_COLORMAP, map.data(), map.data(), map.data());
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 8);
    if (highRes != nullptr) {
        TIFFSetField(tif, TIFFTAG_OPIIMAGEID, highRes);
    }
    std::vector<uint8_t> strip(16 * 8, 0);
    TIFFWriteEncodedStrip(tif, 0, strip.data(), static_cast<tmsize_t>(strip.size()));
    TIFFClose(tif);
}

class FillOrderTest : public ::testing::Test {
protected:
    void SetUp() override { Start(true, true); }
    void TearDown() override {
        db.reset();
        ResetHostForTesting();
    }

    // A fresh session that carries the preferences and, when asked, the
    // server link.
    void Start(bool withPrefs, bool withLink) {
        db.reset();
        RegisterOrdoSession(withPrefs, withLink);
        RegisterDocumentModel();
        db = DocumentUtils::NewDocument();
    }

    UIDRef Place(const std::string& path) const {
        return dockit::PlaceFile(dockit::AddFrame(db.get(), PMRect(36, 36, 336, 336)), path);
    }
    std::string Image(const std::string& name, Kind kind, const char* mark = "",
                      double resolution = 150.0) const {
        std::string path = dir / name;
        WriteKindTiff(path, kind, 40, 30, resolution, mark);
        return path;
    }
    // status, name, prefix/profile, class, size, format, resolution and code.
    static std::string Sum(const OD_ProcData& r) {
        std::ostringstream out;
        out << r.status << ' ' << r.outputName << ' ' << r.prefix << '/' << r.profile << " class "
            << r.imageClass << ' ' << r.pixelWidth << 'x' << r.pixelHeight << " fmt "
            << r.formatCode << ' ' << r.resolution << " ppi code " << r.processCode;
        return out.str();
    }
    // The server path of a tree made in dir by the reference server's init.
    std::string NewServer() const {
        std::string why;
        EXPECT_TRUE(InitServerTree(dir / "server", why)) << why;
        return dir / (std::string("server/") + kServerAppName);
    }
    OD_ProcData Fill(const std::string& path, bool provisional = false) const {
        OD_ProcData record;
        EXPECT_EQ(FillOrderFromImage(Place(path), record, provisional), 0);
        return record;
    }

    // The host places no file whose size it cannot tell, as an OPI placeholder's:
    // an ordinary image is placed and the placeholder then written over its file.
    OD_ProcData FillPlaceholder(const std::string& name, const char* highRes) const {
        UIDRef image = Place(Image(name, Kind::gray));
        WritePaletteTiff(dir / name, highRes);
        OD_ProcData record;
        EXPECT_EQ(FillOrderFromImage(image, record, false), 0);
        record.pixelWidth = record.pixelHeight = 0; // the placeholder's size is not asserted
        return record;
    }

    TempDir dir;
    std::unique_ptr<IDataBase> db;
};

} // namespace

TEST_F(FillOrderTest, UnreadableUnlinkedAndUnsupportedItemsAreMarkedAndLessIsFilledWithoutLinks) {
    const std::string path = Image("Broken#Pic.tif", Kind::rgb);
    UIDRef image = Place(path);
    WriteFile(path, "this is no image at all");
    OD_ProcData record;
    record.processCode = 17;
    EXPECT_EQ(FillOrderFromImage(image, record, true), 0);
    EXPECT_EQ(Sum(record), "128 Pic / class 0 0x0 fmt 0 0 ppi code 17");
    EXPECT_EQ(record.linkPath, PMString(path));

    OD_ProcData none;
    EXPECT_EQ(FillOrderFromImage(dockit::AddFrame(db.get(), PMRect(0, 0, 10, 10)), none, false), 0);
    EXPECT_EQ(Sum(none), "128  / class 0 0x0 fmt 0 0 ppi code 0");
    EXPECT_TRUE(none.linkPath.IsEmpty());

    // An image of no supported colour model is unsupported.
    WritePaletteTiff(dir / "palette.tif", nullptr);
    EXPECT_EQ(Sum(Fill(dir / "palette.tif")), "256 palette / class 15 16x8 fmt 256 72 ppi code 0");

    Start(true, false); // only the file is described
    EXPECT_EQ(Sum(Fill(Image("x.tif", Kind::rgb, "5 mark"))),
              "1 x / class 2 40x30 fmt 256 150 ppi code 0");
    Start(false, true); // only the names and status
    EXPECT_EQ(Sum(Fill(Image("y.tif", Kind::rgb))), "1 y / class 0 0x0 fmt 0 0 ppi code 0");
}

TEST_F(FillOrderTest, TheDefaultProcessNamesAServerProfileAndAPlaceholderFindsItsFile) {
    OD_PrefsData prefs = OrdoPrefs();
    prefs.SetDefaultProcess(PMString("General"));
    SetOrdoPrefs(prefs);
    // Without server profiles the name is kept.
    EXPECT_EQ(Sum(Fill(Image("n.tif", Kind::rgb))),
              "1 n /General class 2 40x30 fmt 256 150 ppi code 10");

    ASSERT_TRUE(prefs.SetServerPath(NewServer().c_str()));
    const std::string hires = dir / "hires";
    MakeDirs(hires);
    WriteKindTiff(hires + "/big.tif", Kind::rgb, 400, 300, 240.0);
    // The server writes the folder as a Windows share.
    WriteFile(dir / "server/Data/convpath.txt", "\"" + hires + "/\" \"S:\\hires\\\"\n");
    prefs.SetDefaultProcess(PMString(""));
    SetOrdoPrefs(prefs);
    ASSERT_TRUE(OpenServerLink(GetExecutionContextSession(), true, false));
    // A placeholder finds its file through the server's path conversion.
    OD_ProcData r = FillPlaceholder("proxy.tif", "S:\\hires\\big.tif");
    EXPECT_EQ(r.sourcePath, PMString("S:\\hires\\big.tif"));
    // No "Default Process": the server's default profile ("0 0 0"), mode 0 for RGB, code 17.
    EXPECT_EQ(Sum(r), "1 proxy / class 2 0x0 fmt 273 240 ppi code 17");

    prefs.SetDefaultProcess(PMString("newsprint cmyk")); // compared without regard to case
    SetOrdoPrefs(prefs);
    // "Newsprint CMYK" corrects with mode 4 for gray and RGB, 0 for CMYK.
    EXPECT_EQ(Sum(Fill(Image("r.tif", Kind::rgb, "2 mark"))),
              "1 r /newsprint cmyk class 2 40x30 fmt 256 150 ppi code 11");
    EXPECT_EQ(Fill(Image("g.tif", Kind::gray)).processCode, 2);
    EXPECT_EQ(Fill(Image("c.tif", Kind::cmyk)).processCode, 24);

    // A name the server does not know takes the default profile ("0 0 0").
    prefs.SetDefaultProcess(PMString("No Such Profile"));
    SetOrdoPrefs(prefs);
    EXPECT_EQ(Sum(Fill(Image("r2.tif", Kind::rgb))),
              "1 r2 /No Such Profile class 2 40x30 fmt 256 150 ppi code 17");
    prefs.SetClassDefault(1, 13, PMString(""), PMString("General")); // wins over the process
    SetOrdoPrefs(prefs);
    EXPECT_EQ(Sum(Fill(Image("r3.tif", Kind::rgb))),
              "1 r3 /General class 2 40x30 fmt 256 150 ppi code 13");
}

TEST_F(FillOrderTest, APlaceholdersHighResolutionFileIsNeverCutAndGivesAnUnknownResolution) {
    // 511 bytes and the NUL fit; one more does not.
    const std::string fits = dir / std::string(511 - (dir.Path().size() + 1), 'f');
    ASSERT_EQ(fits.size(), 511u);
    OD_ProcData r = FillPlaceholder("fits.tif", fits.c_str());
    EXPECT_EQ(std::tuple(r.status, r.sourcePath), std::tuple(kODStatusReady, PMString(fits)));

    const std::string tooLong = fits + "g";
    r = FillPlaceholder("long.tif", tooLong.c_str());
    EXPECT_EQ(std::tuple(r.status, r.sourcePath.IsEmpty(), r.outputName),
              std::tuple(kODStatusUnreadable, true, PMString("long")));

    // An unknown resolution is the high-resolution file's, else 72.
    OD_PrefsData prefs = OrdoPrefs();
    prefs.SetOpiActive(true);
    SetOrdoPrefs(prefs);
    WriteKindTiff(dir / "big.tif", Kind::cmyk, 400, 300, 300.0);
    WriteKindTiff(dir / "unknown.tif", Kind::cmyk, 400, 300, 0.0);
    const auto opi = [&](const std::string& file, const std::string& more = "") {
        return "%%BeginOPI: 2.0\n%%ImageFileName: (" + (dir / file) +
               ")\n%%ImageInks: monochrome\n" + more + "%%EndOPI\n";
    };
    // {name, comments of the OPI 2.0 placeholder (none: a plain TIFF at 0 ppi), resolution}
    const std::tuple<const char*, std::string, double> cases[] = {
        {"a TIFF without resolution", "", 72.0},
        {"monochrome placeholder, file found", opi("big.tif"), 300.0},
        {"its own resolution wins", opi("big.tif", "%ALDImageResolution: 150 150\n"), 150.0},
        {"file without resolution", opi("unknown.tif"), 72.0},
        {"file missing", opi("nowhere.tif"), 72.0},
    };
    for (const auto& [name, comments, resolution] : cases) {
        SCOPED_TRACE(name);
        UIDRef image = Place(Image("proxy.tif", Kind::gray));
        if (comments.empty()) {
            WriteKindTiff(dir / "proxy.tif", Kind::gray, 40, 30, 0.0);
        } else {
            WriteFile(dir / "proxy.tif", "%!PS-Adobe-3.0 EPSF-3.0\n" + comments + "%%EOF\n");
        }
        r = OD_ProcData();
        ASSERT_EQ(FillOrderFromImage(image, r, false), 0);
        EXPECT_EQ(std::tuple(r.status, r.resolution, r.imageClass),
                  std::tuple(kODStatusReady, resolution, kODClassGray));
    }
}
