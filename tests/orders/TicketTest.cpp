#include "OD_Ticket.h"

#include "../host/DocumentTestKit.h"
#include "../host/RecordingEndPoint.h"
#include "DocumentModel.h"
#include "DocumentUtils.h"
#include "HostPlatform.h"
#include "IGeometry.h"
#include "OrdoSessionKit.h"
#include "PreferenceFiles.h"
#include "TempDir.h"
#include "VipsEnvironment.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <sstream>
#include <string>

namespace {

[[maybe_unused]] testing::Environment* const kVips =
    testing::AddGlobalTestEnvironment(new VipsEnvironment("orders_tests"));

const std::string kSep(1, kPathSeparator);

// The lines of a ticket as "KEY" -> value; "PROCESS" maps to "".
std::map<std::string, std::string> Lines(const std::string& ticket) {
    std::map<std::string, std::string> lines;
    std::istringstream in(ticket);
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t colon = line.find(": ");
        lines[line.substr(0, colon)] = colon == std::string::npos ? "" : line.substr(colon + 2);
    }
    return lines;
}

class TicketTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterOrdoSession(true, false);
        RegisterDocumentModel();
        HostPlatform::SetSystemFolder(system.Path());
        OD_PrefsData::ResetIdentityFolderForTesting();
        ErrorUtils::PMSetGlobalErrorCode(kSuccess);
        db = DocumentUtils::NewDocument();
    }
    void TearDown() override {
        db.reset();
        HostPlatform::Reset();
        OD_PrefsData::ResetIdentityFolderForTesting();
        ResetHostForTesting();
    }

    // A 144 x 72 pixel TIFF at 72 ppi placed at 100 % in a frame of its size,
    // then given the linear part m about the frame's top-left corner.
    UIDRef Image(const PMMatrix& m = PMMatrix()) {
        const std::string path = dir / ("img" + std::to_string(++files) + ".tif");
        dockit::WriteTiff(path, 144, 72, 72);
        UIDRef image =
            dockit::PlaceFile(dockit::AddFrame(db.get(), PMRect(36, 36, 180, 108)), path);
        if (!m.IsIdentity()) {
            // The image's box turned by m and moved back onto the frame.
            const PMRect turned = TransformedBounds(PMRect(0, 0, 144, 72), m);
            dockit::SetMatrix(image, m * PMMatrix::MakeTranslation(-turned.Left(), -turned.Top()));
        }
        source = path;
        return image;
    }
    OD_ProcData Order() const {
        OD_ProcData order;
        order.status = kODStatusReady;
        order.processCode = 1;
        order.outputName = PMString("Photo");
        order.prefix = PMString("ABC");
        order.profile = PMString("Standard");
        order.sourcePath = PMString(source);
        order.linkPath = PMString(source);
        order.formatCode = 0x100;
        order.resolution = 72.0;
        order.imageClass = kODClassGray;
        return order;
    }

    TempDir dir;
    TempDir system;
    std::unique_ptr<IDataBase> db;
    std::string source;
    int files = 0;
    RecordingEndPoint endpoint;
};

TEST(TicketText, TheLinesInOrderAndOutputPathsAndWhatDoesNotFitIsRefusedNotCut) {
    OD_TicketValues v{"/in/a.tif", "/out/a", {0.25, -0.125, 2, 1, 0.5, 0.75, -45, 1, 0, -10},
                      300,         "ABCDE",  7,
                      1,           "Prof",   0};
    char buffer[kODTicketSize];
    const std::string want = "PROCESS\nPATHIN: /in/a.tif\nPATHOUT: /out/a\nHUNITS: inch\n"
                             "VUNITS: inch\nTOP: 0.250000\nLEFT: -0.125000\nWIDTH: 2.000000\n"
                             "HEIGHT: 1.000000\nSCALEX: 0.500000\nSCALEY: 0.750000\nRESX: 300\n"
                             "RESY: 300\nANGLE: -45.000000\nPREFIX: ABCDE\nPROCESSOPT: 7\n"
                             "FLIPGD: 1\nFLIPHB: 0\nSKEWH: -10.000000\nOVERWRITE: 1\n"
                             "PROFILE: Prof\nDOCROP: 1\nDEL_SRC_IMAGE: 0\n";
    EXPECT_EQ(FormatTicket(v, buffer), static_cast<int>(want.size()));
    EXPECT_EQ(std::string(buffer), want);

    // No minus zero.
    v.geometry.angle = -0.0;
    v.geometry.skewH = -1e-9;
    v.geometry.top = -2e-6;
    ASSERT_GT(FormatTicket(v, buffer), 0);
    auto lines = Lines(buffer);
    EXPECT_EQ(std::tuple(lines["ANGLE"], lines["SKEWH"], lines["TOP"]),
              std::tuple("0.000000", "0.000000", "-0.000002"));

    // A ticket that does not fit is refused, not cut.
    const std::string longIn(511, 'i');
    const std::string longOut(511, 'o');
    v = OD_TicketValues();
    v.pathIn = longIn.c_str();
    v.pathOut = longOut.c_str();
    EXPECT_EQ(FormatTicket(v, buffer), kODSendTicketTooLong);
    EXPECT_STREQ(buffer, "");
    // A buffer one byte short of the text and its NUL refuses it; one that fits takes it.
    v.pathIn = v.pathOut = "/a";
    const int n = FormatTicket(v, buffer);
    ASSERT_GT(n, 0);
    EXPECT_EQ(FormatTicket(v, buffer, n), kODSendTicketTooLong);
    EXPECT_EQ(FormatTicket(v, buffer, n + 1), n);

    // Texts cut to five bytes never split a character.
    const std::pair<const char*, const char*> cuts[] = {
        {"ABCDEFGH", "ABCDE"},
        {"ABCD\xC3\xA9", "ABCD"},                     // "ABCDé": the é would be split
        {"ABC\xC3\xA9Z", "ABC\xC3\xA9"},              // the é ends exactly at the cut
        {"\xE2\x82\xAC\xE2\x82\xAC", "\xE2\x82\xAC"}, // two euro signs
        {"AB", "AB"},
    };
    for (const auto& [text, cut] : cuts) {
        CopyCutUTF8(buffer, text, 5);
        EXPECT_STREQ(buffer, cut);
    }

    // The output path: the folder and the name or the source; paths that do not fit.
    const std::string out = "C:" + kSep + "Out";
    const std::string in = kSep + "in" + kSep;
    const std::string source = in + "Photo.tif";
    const std::string longFolder(250, 'f');
    const std::string n260(260, 'n');
    const int tooLong = kODSendPathOutTooLong;
    // {what, outFolder (empty: none set), replace the source, outputName, sourcePath, code, path}
    using Row =
        std::tuple<const char*, std::string, bool, std::string, std::string, int, std::string>;
    const Row cases[] = {
        {"folder, then the name", out, false, "Photo", source, 0, out + kSep + "Photo"},
        {"folder with its separator", out + kSep, false, "Photo", source, 0, out + kSep + "Photo"},
        {"replacing the original", "Out", true, "Photo", source, 0, source},
        {"no folder: the source's", "", false, "Photo", source, 0, in + "Photo-processed"},
        {"no folder, source without one", "", false, "Photo", "Photo.tif", kODSendNoOutFolder, ""},
        // No folder: beside its source, never the source's own name.
        {"its name", "", false, "photo.tif", in + "photo.tif", 0, in + "photo-processed.tif"},
        {"its stem", "", false, "photo", in + "photo.psd", 0, in + "photo-processed"},
        {"another stem", "", false, "other", kSep + "in.d" + kSep + "photo.tif", 0,
         kSep + "in.d" + kSep + "other"},
        // 250 + 1 + 261 = 512: one past the limit; 511 exactly fits.
        {"one byte too long", longFolder, false, n260 + "n", source, tooLong, ""},
        {"longest that fits", longFolder, false, n260, source, 0, longFolder + kSep + n260},
        {"replacing a source too long", longFolder, true, n260, std::string(512, 's'), tooLong, ""},
    };
    for (const auto& [what, outFolder, replaceSource, outputName, sourcePath, code, path] : cases) {
        SCOPED_TRACE(what);
        OD_PrefsData prefs;
        if (!outFolder.empty()) {
            ASSERT_TRUE(prefs.SetOutFolder(outFolder.c_str()));
        }
        prefs.SetRepSrc(replaceSource);
        OD_ProcData order;
        order.outputName = PMString(outputName);
        order.sourcePath = PMString(sourcePath);
        char got[kODTicketPathSize];
        std::memset(got, 'x', sizeof got - 1); // what was there before
        got[sizeof got - 1] = '\0';
        EXPECT_EQ(FormOutputPath(prefs, order, got), code);
        EXPECT_EQ(std::string(got), path);
    }
}

TEST_F(TicketTest, SentLinesOfChangedOrdersAndThePreferenceFileThatGoverns) {
    using Change = std::function<void(OD_ProcData&, OD_PrefsData&)>;
    // The session at 200 ppi, its list shown or not, and the order naming a preference file.
    auto byFile = [](bool shown, const char* name) -> Change {
        return [=](OD_ProcData& o, OD_PrefsData& p) {
            p.SetResolution(200);
            p.SetShowPrefs(shown);
            o.prefsFileName = PMString(name);
        };
    };
    OD_PrefsData file;
    file.SetResolution(300);
    file.SetOvrWrDest(true);
    ASSERT_TRUE(SavePreferenceFile(file, PreferenceFilePath("press.opf")));
    const std::tuple<const char*, PMMatrix, Change, const char*> cases[] = {
        // A record filled before unknown resolutions were taken at 72.
        {"no resolution is sent at 72, never at scale 0", PMMatrix(),
         [](OD_ProcData& o, OD_PrefsData&) { o.resolution = 0.0; },
         "SCALEX: 1.000000\nSCALEY: 1.000000"},
        {"a half turn is both mirrors and no angle", PMMatrix::MakeRotation(180),
         [](OD_ProcData&, OD_PrefsData&) {}, "ANGLE: 0.000000\nFLIPGD: 1\nFLIPHB: 1"},
        {"long prefix and profile are sent cut", PMMatrix(),
         [](OD_ProcData& o, OD_PrefsData&) {
             o.prefix = PMString("ABCDEFGH");
             o.profile = PMString(std::string(40, 'p'));
         },
         "PREFIX: ABCDE\nPROFILE: ppppppppppppppppppppppppppppppp"},
        {"the resolution is truncated", PMMatrix(),
         [](OD_ProcData&, OD_PrefsData& p) { p.SetResolution(299.9); }, "RESX: 299\nRESY: 299"},
        // Not shown, the session governs; shown, the order's file; a missing
        // file: the session again, with no message.
        {"list not shown", PMMatrix(), byFile(false, "press.opf"), "RESX: 200\nOVERWRITE: 0"},
        {"list shown", PMMatrix(), byFile(true, "press.opf"), "RESX: 300\nOVERWRITE: 1"},
        {"file missing", PMMatrix(), byFile(true, "missing.opf"), "RESX: 200\nOVERWRITE: 0"},
    };
    const OD_PrefsData base = OrdoPrefs();
    for (const auto& [name, m, change, sent] : cases) {
        SCOPED_TRACE(name);
        OD_PrefsData prefs = base;
        const UIDRef item = Image(m);
        OD_ProcData order = Order();
        change(order, prefs);
        SetOrdoPrefs(prefs);
        OD_ProcData updated;
        EXPECT_EQ(SendOrder(item, order, &endpoint, updated), 0);
        EXPECT_EQ(updated.status, kODStatusSent);
        auto lines = Lines(endpoint.LastBody());
        for (const auto& [key, value] : Lines(sent)) {
            EXPECT_EQ(lines[key], value) << key;
        }
    }
}

TEST_F(TicketTest, OnlyReadyOrdersWithGeometryAnEndpointAndTextsThatFitAreSent) {
    const UIDRef item = Image();
    OD_ProcData order = Order();
    OD_ProcData updated;
    updated.outputName = PMString("untouched");
    const OD_ProcData untouched = updated;
    for (uint16_t status : {0x0000, 0x0003, 0x0004, 0x0008, 0x0040, 0x0080}) {
        order.status = status;
        EXPECT_EQ(SendOrder(item, order, &endpoint, updated), -1) << status;
    }
    EXPECT_EQ(SendOrder(UIDRef(db.get(), kInvalidUID), Order(), &endpoint, updated), -1);
    EXPECT_EQ(SendOrder(item, Order(), nullptr, updated), -1);

    // Too long texts are refused.
    order = Order();
    order.sourcePath = PMString(kSep + std::string(511, 's'));
    EXPECT_EQ(SendOrder(item, order, &endpoint, updated), kODSendPathInTooLong);
    order = Order();
    const OD_PrefsData base = OrdoPrefs();
    OD_PrefsData prefs = base;
    ASSERT_TRUE(prefs.SetOutFolder(std::string(260, 'f').c_str()));
    SetOrdoPrefs(prefs);
    order.outputName = PMString(std::string(251, 'n'));
    EXPECT_EQ(SendOrder(item, order, &endpoint, updated), kODSendPathOutTooLong);
    // Each path fits, the ticket does not.
    order.outputName = PMString(std::string(250, 'n'));
    order.sourcePath = PMString(kSep + std::string(500, 's'));
    EXPECT_EQ(SendOrder(item, order, &endpoint, updated), kODSendTicketTooLong);
    for (double bad : {std::numeric_limits<double>::quiet_NaN(), 0.0, 0.5, -300.0}) {
        prefs.SetResolution(bad);
        SetOrdoPrefs(prefs);
        EXPECT_EQ(SendOrder(item, Order(), &endpoint, updated), kODSendBadResolution) << bad;
    }
    EXPECT_STRNE(SendOrderProblem(kODSendTicketTooLong), "");
    EXPECT_EQ(std::tuple(endpoint.Calls(), updated), std::tuple(0, untouched));

    SetOrdoPrefs(base);
    endpoint.answer = -5; // the endpoint's failure is returned and the record left
    EXPECT_EQ(SendOrder(item, Order(), &endpoint, updated), -5);
    EXPECT_EQ(std::tuple(endpoint.Calls(), updated), std::tuple(1, untouched));
    endpoint.answer = 0;
    order = Order();
    order.status = kODStatusReadyAlt;
    EXPECT_EQ(SendOrder(item, order, &endpoint, updated), 0);
    EXPECT_EQ(updated.status, kODStatusSent);
}

} // namespace
