// The whole road through the reference server: ordered, sent, processed, relinked, swapped; a
// relinked image shows the same part of the page, on the page model and in a render of the frame.
#include "OrdoDocumentKit.h"

#include <vips/vips8>

using dockit::SameArea, dockit::VisibleArea;
using namespace ordokit;

namespace {

constexpr double kPi = 3.14159265358979323846;

// Waves and a ramp: no two parts alike, a mirror, turn or shift shows, resampling changes little.
void PicturePixels(const samples::Raster& image, uint32_t x, uint32_t y, uint8_t* out) {
    const double fx = (x + 0.5) / image.width;
    const double fy = (y + 0.5) / image.height;
    const double rgb[3] = {128 + 100 * std::sin(2 * kPi * 2.5 * fx),
                           128 + 100 * std::sin(2 * kPi * 1.5 * fy + 0.7),
                           30 + 190 * fx * (1 - 0.4 * fy)};
    auto level = [](double v) {
        return static_cast<uint8_t>(std::lround(std::fmin(255.0, std::fmax(0.0, v))));
    };
    if (image.channels == 1) {
        out[0] = level(0.4 * rgb[0] + 0.4 * rgb[1] + 0.2 * rgb[2]);
        return;
    }
    for (int i = 0; i < 3; ++i) {
        out[i] = level(image.channels == 4 ? 255 - rgb[i] : rgb[i]);
    }
    if (image.channels == 4) {
        out[3] = 20;
    }
}

// The picture as TIFF (1 gray, 3 RGB, 4 CMYK channels), JPEG or Photoshop file, by extension.
std::string WritePicture(const std::string& path, uint32_t w, uint32_t h, double resolution = 72,
                         int channels = 3) {
    const std::string ext = fs::path(path).extension().string();
    if (ext == ".jpg") {
        samples::WriteJpeg(path, {w, h, 3}, PicturePixels, {static_cast<int>(resolution), 1, 95});
    } else if (ext == ".psd") {
        samples::WritePsd(path, {w, h, 3}, PicturePixels, static_cast<uint32_t>(resolution));
    } else {
        samples::TiffOptions options;
        options.resolution = resolution;
        samples::WriteTiff(path, {w, h, channels}, PicturePixels, options);
    }
    return path;
}

struct Raster {
    int width = 0;
    int height = 0;
    std::vector<double> rgb;
};

// A file decoded to RGB levels: gray repeated, CMYK by the plain formula.
Raster Decode(const std::string& path) {
    vips::VImage image = vips::VImage::new_from_file(path.c_str());
    if (image.format() != VIPS_FORMAT_UCHAR) {
        image = image.cast(VIPS_FORMAT_UCHAR);
    }
    const bool cmyk = image.interpretation() == VIPS_INTERPRETATION_CMYK && image.bands() >= 4;
    const int bands = image.bands();
    std::size_t size = 0;
    auto* data = static_cast<uint8_t*>(image.write_to_memory(&size));
    Raster out{image.width(), image.height(), {}};
    out.rgb.resize(static_cast<std::size_t>(out.width) * out.height * 3);
    for (std::size_t i = 0; i < static_cast<std::size_t>(out.width) * out.height; ++i) {
        const uint8_t* p = data + i * static_cast<std::size_t>(bands);
        for (int c = 0; c < 3; ++c) {
            out.rgb[i * 3 + c] =
                cmyk ? (255.0 - p[c]) * (255.0 - p[3]) / 255.0 : p[bands < 3 ? 0 : c];
        }
    }
    g_free(data);
    return out;
}

// The frame as the page shows it from the file (its link unless given), bilinear, white outside
// the image; shift moves the image in the frame.
Raster RenderFrame(const UIDRef& image, double dpi, const std::string& file = "",
                   PMPoint shift = PMPoint(0, 0)) {
    const Raster pixels = Decode(file.empty() ? LinkOf(image) : file);
    const PMRect box = InterfaceOf<IGeometry>(image)->GetBoundingBox();
    PMMatrix inverse = InterfaceOf<ITransform>(image)->GetInnerToParentMatrix() *
                       PMMatrix::MakeTranslation(shift.X(), shift.Y());
    EXPECT_TRUE(inverse.Invert());
    const UIDRef frame(image.GetDataBase(), InterfaceOf<IHierarchy>(image)->GetParentUID());
    const PMRect f = InterfaceOf<IGeometry>(frame)->GetBoundingBox();

    Raster out{static_cast<int>(std::lround(f.Width() * dpi / 72.0)),
               static_cast<int>(std::lround(f.Height() * dpi / 72.0)),
               {}};
    out.rgb.assign(static_cast<std::size_t>(out.width) * out.height * 3, 255.0);
    const double perPointX = pixels.width / box.Width();
    const double perPointY = pixels.height / box.Height();
    auto at = [&](int x, int y, int c) {
        x = std::max(0, std::min(pixels.width - 1, x));
        y = std::max(0, std::min(pixels.height - 1, y));
        return pixels.rgb[(static_cast<std::size_t>(y) * pixels.width + x) * 3 + c];
    };
    for (int j = 0; j < out.height; ++j) {
        for (int i = 0; i < out.width; ++i) {
            PMPoint p(f.Left() + (i + 0.5) * 72.0 / dpi, f.Top() + (j + 0.5) * 72.0 / dpi);
            inverse.Transform(p);
            const double u = (p.X() - box.Left()) * perPointX;
            const double v = (p.Y() - box.Top()) * perPointY;
            if (u < 0 || v < 0 || u >= pixels.width || v >= pixels.height) {
                continue;
            }
            const int x0 = static_cast<int>(std::floor(u - 0.5)),
                      y0 = static_cast<int>(std::floor(v - 0.5));
            const double ax = u - 0.5 - x0, ay = v - 0.5 - y0;
            for (int c = 0; c < 3; ++c) {
                const double top = at(x0, y0, c) * (1 - ax) + at(x0 + 1, y0, c) * ax;
                const double bottom = at(x0, y0 + 1, c) * (1 - ax) + at(x0 + 1, y0 + 1, c) * ax;
                out.rgb[(static_cast<std::size_t>(j) * out.width + i) * 3 + c] =
                    top * (1 - ay) + bottom * ay;
            }
        }
    }
    return out;
}

double MeanDifference(const Raster& a, const Raster& b) {
    EXPECT_EQ(a.width, b.width);
    EXPECT_EQ(a.height, b.height);
    if (a.rgb.size() != b.rgb.size() || a.rgb.empty()) {
        return 255.0;
    }
    double sum = 0;
    for (std::size_t i = 0; i < a.rgb.size(); ++i) {
        sum += std::fabs(a.rgb[i] - b.rgb[i]);
    }
    return sum / static_cast<double>(a.rgb.size());
}

constexpr double kRenderDpi = 36.0;
constexpr double kOutputResolution = 100.0;
// Mean difference of renders of the same place: resampling and JPEG give up to about 3 levels
// ("No Correction"), a misplacement of 3 points over 15.
constexpr double kSameRender = 6.0;
constexpr double kMisplacement = 3.0;

class RoadTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(VIPS_INIT("document_tests"), 0);
        ResetHostForTesting();
        ordokit::RegisterOrdoDocument();
        RegisterHostServices();
        RegisterPreferenceImplementations();
        RegisterServerLinkImplementations();
        ObjectModel& m = ObjectModel::Get();
        m.AddIn(kSessionBoss, IID_IORDOPREFSDATA, kOrdoPrefsDataPersistImpl);
        m.AddIn(kSessionBoss, IID_IORDOQORDATA, kOrdoQORDataNonPersistImpl);
        QOR_EndPointFile::ResetProcessStateForTesting();
        SetOrdoBusy(false);

        std::string why;
        ASSERT_TRUE(InitServerTree(root.Path(), why)) << why;
        out = dir / "out";
        fs::create_directory(out);
        OD_PrefsData prefs;
        ASSERT_TRUE(prefs.SetServerPath((root / kServerAppName).c_str()));
        ASSERT_TRUE(prefs.SetOutFolder(out.c_str()));
        prefs.SetResolution(kOutputResolution);
        prefs.SetOvrWrDest(true);
        // "No Correction" for gray, RGB and CMYK images.
        ASSERT_TRUE(prefs.SetClassDefault(0, 4, PMString(), PMString("General")));
        ASSERT_TRUE(prefs.SetClassDefault(1, 17, PMString(), PMString("General")));
        ASSERT_TRUE(prefs.SetClassDefault(2, 24, PMString(), PMString("General")));
        SetPrefs(prefs);
        ASSERT_TRUE(OpenServerLink(session(), true, false));
        db = DocumentUtils::NewDocument();
    }
    void TearDown() override {
        SetOrdoListRebuildHook(nullptr);
        db.reset();
        HostStrings::Reset();
        QOR_EndPointFile::ResetProcessStateForTesting();
        ResetHostForTesting();
    }

    static ISession* session() { return GetExecutionContextSession(); }
    static OD_PrefsData Prefs() {
        InterfacePtr<IOrdoPrefsData> data(session(), IID_IORDOPREFSDATA);
        return data->Get();
    }
    static void SetPrefs(const OD_PrefsData& prefs) {
        InterfacePtr<IOrdoPrefsData> data(session(), IID_IORDOPREFSDATA);
        data->Set(prefs);
    }

    // The file in a new frame with the matrix m, its box starting at (x, y) of the frame.
    UIDRef Place(const std::string& file, const PMRect& frameBounds, const PMMatrix& m, double x,
                 double y) const {
        UIDRef image = dockit::PlaceFile(dockit::AddFrame(db.get(), frameBounds), file);
        const PMRect b = TransformedBounds(InterfaceOf<IGeometry>(image)->GetBoundingBox(), m);
        dockit::SetMatrix(image, m * PMMatrix::MakeTranslation(x - b.Left(), y - b.Top()));
        return image;
    }

    // Orders and sends the items and lets the server answer; returns the server's log.
    std::string OrderSendAndServe(const std::vector<UIDRef>& items,
                                  const std::function<void(const UIDRef&)>& edit = {}) {
        const UIDList list = ListOf(db.get(), items);
        EXPECT_EQ(AddOrders(list, false), 0);
        for (const UIDRef& item : items) {
            EXPECT_EQ(Order(item).status, kODStatusReady);
            if (edit) {
                edit(item);
            }
        }
        std::unique_ptr<QOR_EndPoint> endpoint = ConnectForSending(session(), false);
        EXPECT_NE(endpoint, nullptr);
        if (!endpoint) {
            return "";
        }
        std::vector<int> results;
        EXPECT_EQ(SendOrders(list, endpoint.get(), &results), static_cast<int32_t>(items.size()));
        for (const UIDRef& item : items) {
            EXPECT_EQ(Order(item).status, kODStatusSent);
        }
        std::ostringstream serverLog;
        RefServer server(root.Path(), serverLog);
        server.RunOnce();
        return serverLog.str();
    }

    // The idle task's pickup of every item; the list follows relinked items.
    std::vector<int32_t> PickUp(std::vector<UIDRef>& items) {
        std::unique_ptr<QOR_EndPoint> endpoint;
        EXPECT_TRUE(OpenServerLink(session(), false, false, &endpoint));
        const OD_PrefsData prefs = Prefs();
        OD_PickupContext context;
        context.endpoint = endpoint.get();
        context.prefs = &prefs;
        context.log = &log;
        context.panelItems = &items;
        std::vector<int32_t> results;
        for (std::size_t i = 0; i < items.size(); ++i) {
            UIDRef item = items[i];
            results.push_back(HandleFinishedOrder(item, context));
            EXPECT_EQ(items[i], item);
        }
        return results;
    }

    // Unturned at the frame's corner, covering it within half an output pixel.
    static ::testing::AssertionResult ShowsTheFrame(const UIDRef& item) {
        const double halfPixel = 36.0 / kOutputResolution;
        const PMRect f =
            InterfaceOf<IGeometry>(
                UIDRef(item.GetDataBase(), InterfaceOf<IHierarchy>(item)->GetParentUID()))
                ->GetBoundingBox();
        const PMRect local(0, 0, f.Width(), f.Height());
        ::testing::AssertionResult corners = SameArea(
            VisibleArea(item),
            {local.LeftTop(), local.RightTop(), local.RightBottom(), local.LeftBottom()}, 1e-9);
        if (!corners) {
            return corners;
        }
        const PMRect file = InterfaceOf<IGeometry>(item)->GetBoundingBox();
        if (!(std::fabs(file.Width() - f.Width()) <= halfPixel &&
              std::fabs(file.Height() - f.Height()) <= halfPixel)) {
            return ::testing::AssertionFailure()
                   << "the file is " << file.Width() << " x " << file.Height()
                   << " points, the frame " << f.Width() << " x " << f.Height();
        }
        return ::testing::AssertionSuccess();
    }

    static void ExpectSameRender(const Raster& before, const UIDRef& after) {
        const double same = MeanDifference(before, RenderFrame(after, kRenderDpi));
        EXPECT_LT(same, kSameRender);
        const double moved = MeanDifference(
            before, RenderFrame(after, kRenderDpi, "", PMPoint(kMisplacement, kMisplacement)));
        EXPECT_GT(moved, kSameRender) << "the render check would not see a misplaced image";
    }

    ordokit::ScopedSystemFolder systemFolder;
    TempDir dir;
    TempDir root;
    std::string out;
    std::unique_ptr<IDataBase> db;
    ordokit::RecordingLog log;
};

struct Before {
    std::string file;
    PMMatrix matrix;
    std::array<PMPoint, 4> area;
    Raster render;
    OD_PlacementCapture capture;
    OD_TicketGeometry ticket;
};

Before Capture(const UIDRef& item, const std::string& renderFrom = "") {
    Before b;
    b.file = LinkOf(item);
    b.matrix = Matrix(item);
    b.area = VisibleArea(item);
    b.render = RenderFrame(item, kRenderDpi, renderFrom);
    OD_PlacementGeometry geometry;
    EXPECT_EQ(CapturePlacement(item, b.capture), 0);
    EXPECT_EQ(GetPlacementGeometry(item, geometry), 0);
    b.ticket = ComputeTicketGeometry(item, 0, 72, geometry);
    return b;
}

// The offset an image cut to its own extent would need puts the relinked file off its place.
void ExpectFormerOffsetOff(const Before& before, const UIDRef& item) {
    const PMRect& r = before.capture.cropRect;
    const OD_CropFlags& flags = before.capture.cropFlags;
    const OD_TicketGeometry& t = before.ticket;
    const PMRect file = InterfaceOf<IGeometry>(item)->GetBoundingBox();
    auto along = [](bool a, bool b, double start, double length, double delivered, double s) {
        if (a) {
            return start < 0 ? -start * s : 0.0;
        }
        return b ? (length - delivered) * s + kODCropTolerance : 0.0;
    };
    double dx =
        along(flags.horizontalA, flags.horizontalB, r.Left(), r.Width(), file.Width(), t.scaleX);
    double dy =
        along(flags.verticalA, flags.verticalB, r.Top(), r.Height(), file.Height(), t.scaleY);
    dx = t.flipGD != 0 ? -dx : dx;
    dy = t.flipHB != 0 ? -dy : dy;
    const double a = t.angle * kPi / 180;
    const PMPoint former(dx * std::cos(a) - dy * std::sin(a), dx * std::sin(a) + dy * std::cos(a));
    EXPECT_GT(std::hypot(former.X(), former.Y()), 36.0 / kOutputResolution);
    EXPECT_GT(MeanDifference(before.render, RenderFrame(item, kRenderDpi, "", former)),
              kSameRender);
}

TEST_F(RoadTest, EveryKindOfImageComesBackAtItsPlaceAndSwapsBackAndForth) {
    struct Case {
        const char* name;
        std::string file;
        PMRect frame;           // on the page
        PMMatrix m;             // image into frame, before the move
        double x, y;            // where the image's box starts in the frame
        bool pastImage = false; // white fill; the former offset (once applied) is off
    };
    const std::string tiff = WritePicture(dir / "plain.tif", 160, 100);
    const std::string jpeg = WritePicture(dir / "turned.jpg", 160, 100);
    const std::string psd = WritePicture(dir / "mirrored.psd", 120, 80);
    const std::string gray = WritePicture(dir / "gray.tif", 120, 80, 144, 1);
    const std::string cmyk = WritePicture(dir / "cmyk.tif", 120, 80, 72, 4);
    const std::string leaning = WritePicture(dir / "leaning.tif", 160, 100);
    const std::string refused = WritePicture(dir / "refused.tif", 80, 60, 72, 1);
    const Case cases[] = {
        {"plain TIFF at 50 %", tiff, PMRect(40, 40, 100, 76), PMMatrix::MakeScale(0.5, 0.5), -10,
         -6},
        {"JPEG turned 90 and cropped by its frame", jpeg, PMRect(140, 40, 210, 150),
         PMMatrix::MakeRotation(90), -15, -20},
        {"mirrored Photoshop document", psd, PMRect(260, 40, 350, 100), PMMatrix::MakeScale(-1, 1),
         -12, -8},
        {"gray TIFF at 150 %", gray, PMRect(40, 200, 110, 245), PMMatrix::MakeScale(1.5, 1.5), -5,
         -5},
        {"CMYK TIFF at 75 %, turned 30", cmyk, PMRect(160, 200, 220, 240),
         PMMatrix::MakeScale(0.75, 0.75) * PMMatrix::MakeRotation(30), -30, -25},
        {"TIFF leaning 20 degrees", leaning, PMRect(40, 300, 150, 370), PMMatrix::MakeXSkew(20),
         -20, -10},
        {"50 %, the frame past every edge", WritePicture(dir / "small0.tif", 120, 80),
         PMRect(40, 400, 120, 460), PMMatrix::MakeScale(0.5, 0.5), 12, 9, true},
        {"turned 90, the frame starting before the image and ending inside it",
         WritePicture(dir / "small1.tif", 120, 80), PMRect(160, 400, 220, 510),
         PMMatrix::MakeRotation(90), 14, 10, true},
        {"turned 90 at 50 %, mirrored, the frame past the far edges",
         WritePicture(dir / "small2.tif", 120, 80), PMRect(260, 400, 330, 480),
         PMMatrix::MakeScale(-0.5, 0.5) * PMMatrix::MakeRotation(90), -6, 8, true},
    };
    std::vector<UIDRef> items;
    std::vector<Before> before;
    for (const Case& c : cases) {
        items.push_back(Place(c.file, c.frame, c.m, c.x, c.y));
        before.push_back(Capture(items.back()));
    }
    // A job the server refuses: its profile is unknown there.
    items.push_back(Place(refused, PMRect(300, 200, 380, 260), PMMatrix(), 0, 0));
    const Before refusedBefore = Capture(items.back());
    const std::size_t n = std::size(cases);

    const std::string serverLog = OrderSendAndServe(items, [&](const UIDRef& item) {
        if (item == items.back()) {
            OD_ProcData order = Order(item);
            order.profile = PMString("No Such Profile");
            ASSERT_EQ(OD_DataAccessor(item).Write(order), kSuccess);
        }
    });
    std::vector<UIDRef> panel = items;
    const std::vector<int32_t> results = PickUp(panel);
    ASSERT_EQ(results, std::vector<int32_t>(items.size(), 0)) << serverLog;

    for (std::size_t i = 0; i < n; ++i) {
        SCOPED_TRACE(cases[i].name);
        const UIDRef item = panel[i];
        EXPECT_NE(item, items[i]); // the relink made a new item
        const std::string stem = fs::path(cases[i].file).stem().string();
        EXPECT_EQ(LinkOf(item), out + "/" + stem + ".tif");
        EXPECT_EQ(Order(item).status, kODStatusDone);
        const OD_UndoData undo = Undo(item);
        EXPECT_EQ(undo.savedStatus, kODStatusReady);
        EXPECT_EQ(std::string(undo.otherFile), cases[i].file);
        EXPECT_TRUE(ShowsTheFrame(item));
        ExpectSameRender(before[i].render, item);
        if (cases[i].pastImage) {
            ExpectFormerOffsetOff(before[i], item);
        }
    }
    // The refused job: failed, its message logged, nothing relinked.
    const UIDRef refusedItem = panel[n];
    EXPECT_EQ(refusedItem, items[n]);
    EXPECT_EQ(Order(refusedItem).status, kODStatusReplyMinus2);
    EXPECT_EQ(LinkOf(refusedItem), refused);
    EXPECT_EQ(Undo(refusedItem).savedStatus, 0);
    // One line per image: processed, or why not.
    ASSERT_EQ(log.lines.size(), n + 1);
    EXPECT_EQ(std::count_if(log.lines.begin(), log.lines.end(),
                            [](const std::string& line) {
                                return line.find("No Such Profile") != std::string::npos;
                            }),
              1);

    // Undo Redo Process: originals, then processed files again; the refused job stays.
    std::vector<Before> processed;
    for (std::size_t i = 0; i < n; ++i) {
        processed.push_back(Capture(panel[i]));
    }
    OD_ActionUndoRedoItems action;
    SetSwapItems(action, panel);
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round == 1 ? "undone" : "redone");
        action.Execute();
        for (std::size_t i = 0; i < n; ++i) {
            SCOPED_TRACE(cases[i].name);
            const UIDRef item = action.Parameters().At(static_cast<int32_t>(i));
            const Before& want = round == 1 ? before[i] : processed[i];
            EXPECT_EQ(LinkOf(item), want.file);
            EXPECT_TRUE(SameMatrix(Matrix(item), want.matrix));
            EXPECT_TRUE(SameArea(VisibleArea(item), want.area, 1e-6));
            EXPECT_EQ(Order(item).status, round == 1 ? kODStatusReady : kODStatusDone);
            EXPECT_EQ(Undo(item).savedStatus, round == 1 ? kODStatusDone : kODStatusReady);
            EXPECT_EQ(std::string(Undo(item).otherFile), (round == 1 ? processed : before)[i].file);
            EXPECT_LT(MeanDifference(want.render, RenderFrame(item, kRenderDpi)), 1e-9);
        }
        const UIDRef item = action.Parameters().At(static_cast<int32_t>(n));
        EXPECT_EQ(LinkOf(item), refused);
        EXPECT_TRUE(SameMatrix(Matrix(item), refusedBefore.matrix));
        EXPECT_EQ(Order(item).status, kODStatusReplyMinus2);
    }
}

TEST_F(RoadTest, AnOpiPlaceholderComesBackThroughTheLowResolutionFolder) {
    const std::string highRes = WritePicture(dir / "highres.tif", 200, 120, 100);
    const std::string placeholder = dir / "placeholder.eps";
    samples::EpsImage eps;
    eps.image = {50, 30, 3};
    eps.width = 144;
    eps.height = 86.4;
    samples::WriteOpiPlaceholder(placeholder, eps, {highRes, "", 100});
    const std::string lowRes = dir / "lowres";
    fs::create_directory(lowRes);
    OD_PrefsData prefs = Prefs();
    prefs.SetOpiActive(true);
    ASSERT_TRUE(prefs.SetOpiLoResFolder(lowRes.c_str()));
    prefs.SetOpiSuffix(PMString(".lr"));
    SetPrefs(prefs);

    UIDRef item = Place(placeholder, PMRect(50, 50, 150, 110),
                        PMMatrix::MakeScale(0.8, 0.8) * PMMatrix::MakeRotation(-90), -10, -12);
    const Before before = Capture(item, highRes);
    const std::string serverLog = OrderSendAndServe({item});
    const OD_ProcData sent = Order(item);
    EXPECT_EQ(sent.sourcePath.GetUTF8String(), highRes);
    EXPECT_EQ(sent.formatCode, 0x211u);

    std::vector<UIDRef> panel{item};
    ASSERT_EQ(PickUp(panel), std::vector<int32_t>{kODPickupNoResultFile}) << serverLog;
    EXPECT_EQ(Order(item).status, kODStatusSent);
    // Not there until the OPI server makes the low-res of the processed file.
    const std::string processed = out + "/placeholder.tif";
    ASSERT_TRUE(fs::exists(processed)) << serverLog;
    const std::string low = lowRes + "/placeholder.tif.lr";
    fs::copy_file(processed, low);
    ASSERT_EQ(PickUp(panel), std::vector<int32_t>{0});

    item = panel[0];
    EXPECT_EQ(LinkOf(item), low);
    EXPECT_EQ(Order(item).status, kODStatusDone);
    EXPECT_EQ(std::string(Undo(item).otherFile), placeholder);
    EXPECT_TRUE(ShowsTheFrame(item));
    ExpectSameRender(before.render, item);

    OD_ActionUndoRedoItems action;
    SetSwapItems(action, {item});
    action.Execute();
    const UIDRef undone = action.Parameters().At(0);
    EXPECT_EQ(LinkOf(undone), placeholder);
    EXPECT_TRUE(SameMatrix(Matrix(undone), before.matrix));
    EXPECT_EQ(Order(undone).status, kODStatusReady);
}

TEST_F(RoadTest, WithTheDefaultFileOptionsEveryPlacedOriginalStaysByteForByte) {
    // No output folder, no overwriting: results go beside their sources.
    OD_PrefsData prefs = Prefs();
    ASSERT_TRUE(prefs.SetOutFolder(""));
    prefs.SetOvrWrDest(false);
    SetPrefs(prefs);
    const std::vector<std::string> files{WritePicture(dir / "flowers.tif", 80, 50),
                                         WritePicture(dir / "flowers.psd", 60, 40),
                                         WritePicture(dir / "photo.jpg", 80, 50)};
    std::vector<std::string> bytes;
    std::vector<UIDRef> items;
    for (const std::string& file : files) {
        bytes.push_back(ReadFile(file));
        items.push_back(Place(file, PMRect(40, 40 + 60 * items.size(), 120, 90 + 60 * items.size()),
                              PMMatrix(), 0, 0));
    }
    // The TIFF goes with RGB "Correction" (option 2), not the default.
    const std::string serverLog = OrderSendAndServe(items, [&](const UIDRef& ordered) {
        if (ordered == items[0]) {
            OD_ProcData order = Order(ordered);
            order.processCode = 10;
            ASSERT_EQ(OD_DataAccessor(ordered).Write(order), kSuccess);
        }
    });
    std::vector<UIDRef> panel = items;
    PickUp(panel);
    for (std::size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(files[i]);
        EXPECT_TRUE(ReadFile(files[i]) == bytes[i]) << serverLog;
        EXPECT_NE(LinkOf(panel[i]), files[i]);
        // flowers.psd's result takes a free name: the server says so.
        EXPECT_EQ(Order(panel[i]).status, i == 1 ? kODStatusReplyMinus1 : kODStatusDone);
    }
    // Ordered again, the processed image is proposed the option applied, not the default.
    ASSERT_EQ(AddOrder(panel[0], false), 0);
    EXPECT_EQ(Order(panel[0]).processCode, 10);
    EXPECT_EQ(Prefs().GetDefaultCode(1), 17);
}

} // namespace
