// The whole road through the reference server: ordered, sent, processed, relinked, swapped; a
// relinked image shows the same part of the page, on the page model and in a render of the frame.
#include "OrdoDocumentKit.h"

#include <vips/vips8>

using namespace ordokit;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRenderDpi = 36.0;
constexpr double kOutputResolution = 100.0;
// Mean render difference: resampling and JPEG give about 3 levels, 3 points off over 15.
constexpr double kSameRender = 6.0;
constexpr double kMisplacement = 3.0;

// Waves and a ramp: no two parts alike, a mirror, turn or shift shows, resampling changes little.
void PicturePixels(const samples::Raster& image, uint32_t x, uint32_t y, uint8_t* out) {
    const double fx = (x + 0.5) / image.width, fy = (y + 0.5) / image.height;
    const double rgb[3] = {128 + 100 * std::sin(2 * kPi * 2.5 * fx),
                           128 + 100 * std::sin(2 * kPi * 1.5 * fy + 0.7),
                           30 + 190 * fx * (1 - 0.4 * fy)};
    auto level = [](double v) {
        return static_cast<uint8_t>(std::lround(std::clamp(v, 0., 255.)));
    };
    for (int i = 0; i < image.channels; ++i) { // CMYK: inverted, a little black
        out[i] = image.channels == 1 ? level(0.4 * rgb[0] + 0.4 * rgb[1] + 0.2 * rgb[2])
                 : i == 3            ? 20
                                     : level(image.channels == 4 ? 255 - rgb[i] : rgb[i]);
    }
}

using vips::VImage;

// A file decoded to RGB levels: gray repeated, CMYK by the plain formula.
VImage Decode(const std::string& path) {
    const VImage image =
        VImage::new_from_file(path.c_str()).cast(VIPS_FORMAT_UCHAR).cast(VIPS_FORMAT_DOUBLE);
    if (image.bands() < 3) {
        return image[0].bandjoin({image[0], image[0]});
    }
    const VImage rgb = image.extract_band(0, VImage::option()->set("n", 3));
    const bool cmyk = image.interpretation() == VIPS_INTERPRETATION_CMYK && image.bands() >= 4;
    return cmyk ? (255 - rgb) * (255 - image[3]) / 255 : rgb;
}

// The frame shown from the file (its link unless given), bilinear, white outside, image shifted.
VImage RenderFrame(const UIDRef& image, const std::string& file = "", PMPoint shift = {0, 0}) {
    const VImage pixels = Decode(file.empty() ? LinkOf(image) : file);
    const PMRect box = Box(image), f = FrameBox(image);
    PMMatrix inverse = Matrix(image) * PMMatrix::MakeTranslation(shift.X(), shift.Y());
    EXPECT_TRUE(inverse.Invert());
    // The file's point, in its pixels, that the centre of render pixel (i, j) shows.
    auto source = [&](double i, double j) {
        PMPoint p(f.Left() + (i + 0.5) * 72.0 / kRenderDpi,
                  f.Top() + (j + 0.5) * 72.0 / kRenderDpi);
        inverse.Transform(p);
        return PMPoint((p.X() - box.Left()) * (pixels.width() / box.Width()),
                       (p.Y() - box.Top()) * (pixels.height() / box.Height()));
    };
    const PMPoint o = source(0, 0), di = source(1, 0) - o, dj = source(0, 1) - o;
    const VImage uv = VImage::xyz(static_cast<int>(std::lround(f.Width() * kRenderDpi / 72.0)),
                                  static_cast<int>(std::lround(f.Height() * kRenderDpi / 72.0)))
                          .recomb(VImage::new_matrixv(2, 2, di.X(), dj.X(), di.Y(), dj.Y()))
                          .linear({1, 1}, {o.X(), o.Y()});
    const VImage inside =
        (uv[0] >= 0) & (uv[1] >= 0) & (uv[0] < pixels.width()) & (uv[1] < pixels.height());
    // Pixel centres sit at whole coordinates; neighbours past the edge repeat it.
    const VImage sampled = pixels.mapim(
        uv - 0.5, VImage::option()
                      ->set("interpolate", vips::VInterpolate::new_from_name("bilinear"))
                      ->set("extend", VIPS_EXTEND_COPY));
    return inside.ifthenelse(sampled, 255.0).copy_memory();
}

double MeanDifference(const VImage& a, const VImage& b) {
    EXPECT_EQ(std::tuple(a.width(), a.height()), std::tuple(b.width(), b.height()));
    return (a - b).abs().avg();
}

struct Before {
    std::string file;
    PMMatrix matrix;
    std::array<PMPoint, 4> area;
    VImage render;
    OD_PlacementCapture capture;
    OD_TicketGeometry ticket;
};

Before Capture(const UIDRef& item, const std::string& renderFrom = "") {
    Before b{LinkOf(item), Matrix(item), VisibleArea(item), RenderFrame(item, renderFrom), {}, {}};
    OD_PlacementGeometry geometry;
    EXPECT_EQ(CapturePlacement(item, b.capture), 0);
    EXPECT_EQ(GetPlacementGeometry(item, geometry), 0);
    b.ticket = ComputeTicketGeometry(item, 0, 72, geometry);
    return b;
}

// Relinked, Done, undo naming the original; at the frame's corner within half a pixel, same render.
void ExpectRelinked(const UIDRef& item, const std::string& file, const std::string& original,
                    const VImage& before) {
    EXPECT_EQ(Linked(item), LinkStatus(file, kODStatusDone));
    EXPECT_EQ(Undo(item).savedStatus, kODStatusReady);
    EXPECT_EQ(std::string(Undo(item).otherFile), original);
    const PMRect f = FrameBox(item), local(0, 0, f.Width(), f.Height()), box = Box(item);
    EXPECT_TRUE(SameArea(
        VisibleArea(item),
        {local.LeftTop(), local.RightTop(), local.RightBottom(), local.LeftBottom()}, 1e-9));
    EXPECT_NEAR(box.Width(), f.Width(), 36.0 / kOutputResolution);
    EXPECT_NEAR(box.Height(), f.Height(), 36.0 / kOutputResolution);
    EXPECT_LT(MeanDifference(before, RenderFrame(item)), kSameRender);
    EXPECT_GT(MeanDifference(before, RenderFrame(item, "", {kMisplacement, kMisplacement})),
              kSameRender)
        << "the render check would not see a misplaced image";
}

// The offset an image cut to its own extent would need puts the relinked file off its place.
void ExpectFormerOffsetOff(const Before& before, const UIDRef& item) {
    const PMRect& r = before.capture.cropRect;
    const OD_CropFlags& flags = before.capture.cropFlags;
    const OD_TicketGeometry& t = before.ticket;
    const PMRect file = Box(item);
    auto along = [](bool a, bool b, double start, double length, double delivered, double s) {
        return a ? (start < 0 ? -start * s : 0.0)
                 : (b ? (length - delivered) * s + kODCropTolerance : 0.0);
    };
    const double dx = (t.flipGD != 0 ? -1 : 1) * along(flags.horizontalA, flags.horizontalB,
                                                       r.Left(), r.Width(), file.Width(), t.scaleX);
    const double dy = (t.flipHB != 0 ? -1 : 1) * along(flags.verticalA, flags.verticalB, r.Top(),
                                                       r.Height(), file.Height(), t.scaleY);
    const double a = t.angle * kPi / 180;
    const PMPoint former(dx * std::cos(a) - dy * std::sin(a), dx * std::sin(a) + dy * std::cos(a));
    EXPECT_GT(std::hypot(former.X(), former.Y()), 36.0 / kOutputResolution);
    EXPECT_GT(MeanDifference(before.render, RenderFrame(item, "", former)), kSameRender);
}

class RoadTest : public DocumentFixture {
protected:
    void SetUp() override {
        SetUpDocument(true);
        RegisterServerLinkImplementations();
        ObjectModel::Get().AddIn(kSessionBoss, IID_IORDOQORDATA, kOrdoQORDataNonPersistImpl);
        std::string why;
        ASSERT_TRUE(InitServerTree(root.Path(), why)) << why;
        fs::create_directory(out);
        ASSERT_TRUE(prefs.SetServerPath((root / kServerAppName).c_str()));
        ASSERT_TRUE(prefs.SetOutFolder(out.c_str()));
        prefs.SetResolution(kOutputResolution);
        prefs.SetOvrWrDest(true);
        // "No Correction" for gray, RGB and CMYK images.
        ASSERT_TRUE(prefs.SetClassDefault(0, 4, PMString(), PMString("General")));
        ASSERT_TRUE(prefs.SetClassDefault(1, 17, PMString(), PMString("General")));
        ASSERT_TRUE(prefs.SetClassDefault(2, 24, PMString(), PMString("General")));
        SetPrefs();
        ASSERT_TRUE(OpenServerLink(session(), true, false));
    }

    static ISession* session() { return GetExecutionContextSession(); }
    static OD_PrefsData Prefs() {
        return InterfacePtr<IOrdoPrefsData>(session(), IID_IORDOPREFSDATA)->Get();
    }
    void SetPrefs() const {
        InterfacePtr<IOrdoPrefsData>(session(), IID_IORDOPREFSDATA)->Set(prefs);
    }

    // The picture as TIFF (1 gray, 3 RGB, 4 CMYK channels), JPEG or Photoshop file, by extension.
    std::string Picture(const std::string& name, uint32_t w, uint32_t h, double resolution = 72,
                        int channels = 3) const {
        const std::string path = dir / name;
        if (name.ends_with(".jpg")) {
            samples::WriteJpeg(path, {w, h, 3}, PicturePixels,
                               {static_cast<int>(resolution), 1, 95});
        } else if (name.ends_with(".psd")) {
            samples::WritePsd(path, {w, h, 3}, PicturePixels, static_cast<uint32_t>(resolution));
        } else {
            samples::TiffOptions options;
            options.resolution = resolution;
            samples::WriteTiff(path, {w, h, channels}, PicturePixels, options);
        }
        return path;
    }

    // The file in a new frame with the matrix m, its box starting at (x, y) of the frame.
    UIDRef Place(const std::string& file, const PMRect& frameBounds, const PMMatrix& m = {},
                 double x = 0, double y = 0) const {
        UIDRef image = PlaceAt(frameBounds, file);
        const PMRect b = TransformedBounds(Box(image), m);
        dockit::SetMatrix(image, m * PMMatrix::MakeTranslation(x - b.Left(), y - b.Top()));
        return image;
    }

    // Orders and sends the items (one order edited first); the server answers: its log.
    std::string OrderSendAndServe(const std::vector<UIDRef>& items, const UIDRef& edited = {},
                                  const std::function<void(OD_ProcData&)>& edit = {}) {
        const UIDList list = ListOf(db.get(), items);
        EXPECT_EQ(AddOrders(list, false), 0);
        for (const UIDRef& item : items) {
            OD_ProcData order = Order(item);
            EXPECT_EQ(order.status, kODStatusReady);
            if (item == edited) {
                edit(order);
                Store(item, order);
            }
        }
        std::unique_ptr<QOR_EndPoint> endpoint = ConnectForSending(session(), false);
        if (!endpoint) {
            ADD_FAILURE() << "no server link to send through";
            return "";
        }
        EXPECT_EQ(SendOrders(list, endpoint.get()), static_cast<int32_t>(items.size()));
        for (const UIDRef& item : items) {
            EXPECT_EQ(Order(item).status, kODStatusSent);
        }
        std::ostringstream serverLog;
        RefServer(root.Path(), serverLog).RunOnce();
        return serverLog.str();
    }

    // The idle task's pickup of every item; the list follows relinked items.
    std::vector<int32_t> PickUp(std::vector<UIDRef>& items) {
        std::unique_ptr<QOR_EndPoint> endpoint;
        EXPECT_TRUE(OpenServerLink(session(), false, false, &endpoint));
        const OD_PrefsData current = Prefs();
        const OD_PickupContext context{
            .endpoint = endpoint.get(), .prefs = &current, .log = &log, .panelItems = &items};
        std::vector<int32_t> results;
        for (std::size_t i = 0; i < items.size(); ++i) {
            UIDRef item = items[i];
            results.push_back(HandleFinishedOrder(item, context));
            EXPECT_EQ(items[i], item);
        }
        return results;
    }

    TempDir root;
    std::string out = dir / "out";
    OD_PrefsData prefs; // the session's, once set
    ordokit::RecordingLog log;
};

TEST_F(RoadTest, EveryKindOfImageComesBackAtItsPlaceAndSwapsBackAndForth) {
    struct Case {
        const char* name;
        std::string file;
        PMRect frame; // on the page
        PMMatrix m;   // image into frame, before the move
        double x, y;  // where the image's box starts in the frame; past 0: white fill there
    } const cases[] = {
        {"plain TIFF at 50 %", Picture("plain.tif", 160, 100), PMRect(40, 40, 100, 76),
         PMMatrix::MakeScale(0.5, 0.5), -10, -6},
        {"JPEG turned 90 and cropped by its frame", Picture("turned.jpg", 160, 100),
         PMRect(140, 40, 210, 150), PMMatrix::MakeRotation(90), -15, -20},
        {"mirrored Photoshop document", Picture("mirrored.psd", 120, 80), PMRect(260, 40, 350, 100),
         PMMatrix::MakeScale(-1, 1), -12, -8},
        {"gray TIFF at 150 %", Picture("gray.tif", 120, 80, 144, 1), PMRect(40, 200, 110, 245),
         PMMatrix::MakeScale(1.5, 1.5), -5, -5},
        {"CMYK TIFF at 75 %, turned 30", Picture("cmyk.tif", 120, 80, 72, 4),
         PMRect(160, 200, 220, 240), PMMatrix::MakeScale(0.75, 0.75) * PMMatrix::MakeRotation(30),
         -30, -25},
        {"TIFF leaning 20 degrees", Picture("leaning.tif", 160, 100), PMRect(40, 300, 150, 370),
         PMMatrix::MakeXSkew(20), -20, -10},
        {"50 %, the frame past every edge", Picture("small0.tif", 120, 80),
         PMRect(40, 400, 120, 460), PMMatrix::MakeScale(0.5, 0.5), 12, 9},
        {"turned 90, the frame starting before the image and ending inside it",
         Picture("small1.tif", 120, 80), PMRect(160, 400, 220, 510), PMMatrix::MakeRotation(90), 14,
         10},
        {"turned 90 at 50 %, mirrored, the frame past the far edges",
         Picture("small2.tif", 120, 80), PMRect(260, 400, 330, 480),
         PMMatrix::MakeScale(-0.5, 0.5) * PMMatrix::MakeRotation(90), -6, 8},
    };
    std::vector<UIDRef> items;
    std::vector<Before> before;
    for (const Case& c : cases) {
        items.push_back(Place(c.file, c.frame, c.m, c.x, c.y));
        before.push_back(Capture(items.back()));
    }
    // A job the server refuses: its profile is unknown there.
    const std::string refused = Picture("refused.tif", 80, 60, 72, 1);
    items.push_back(Place(refused, PMRect(300, 200, 380, 260)));
    const Before refusedBefore = Capture(items.back());
    const std::size_t n = std::size(cases);

    const std::string serverLog = OrderSendAndServe(
        items, items[n], [](OD_ProcData& order) { order.profile = PMString("No Such Profile"); });
    std::vector<UIDRef> panel = items;
    ASSERT_EQ(PickUp(panel), std::vector<int32_t>(items.size(), 0)) << serverLog;
    std::vector<Before> processed;
    for (std::size_t i = 0; i < n; ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_NE(panel[i], items[i]); // the relink made a new item
        const std::string stem = fs::path(cases[i].file).stem().string();
        ExpectRelinked(panel[i], out + "/" + stem + ".tif", cases[i].file, before[i].render);
        if (cases[i].x > 0 || cases[i].y > 0) {
            ExpectFormerOffsetOff(before[i], panel[i]);
        }
        processed.push_back(Capture(panel[i]));
    }
    // The refused job: failed, its message logged, nothing relinked.
    EXPECT_EQ(std::tuple(panel[n], Linked(panel[n]), Undo(panel[n]).savedStatus),
              std::tuple(items[n], LinkStatus(refused, kODStatusReplyMinus2), 0));
    // One line per image: processed, or why not.
    ASSERT_EQ(log.lines.size(), n + 1);
    EXPECT_EQ(
        std::ranges::count_if(
            log.lines, [](const std::string& l) { return l.find("No Such Profile") != l.npos; }),
        1);

    // Undo Redo Process: originals, then processed files again; the refused job stays.
    OD_ActionUndoRedoItems action;
    SetSwapItems(action, panel);
    for (const bool undone : {true, false}) {
        SCOPED_TRACE(undone ? "undone" : "redone");
        action.Execute();
        for (std::size_t i = 0; i < n; ++i) {
            SCOPED_TRACE(cases[i].name);
            const UIDRef item = action.Parameters().At(static_cast<int32_t>(i));
            const Before& want = undone ? before[i] : processed[i];
            EXPECT_EQ(Linked(item), LinkStatus(want.file, undone ? kODStatusReady : kODStatusDone));
            EXPECT_TRUE(SameMatrix(Matrix(item), want.matrix));
            EXPECT_TRUE(SameArea(VisibleArea(item), want.area, 1e-6));
            EXPECT_EQ(Undo(item).savedStatus, undone ? kODStatusDone : kODStatusReady);
            EXPECT_EQ(std::string(Undo(item).otherFile), (undone ? processed : before)[i].file);
            EXPECT_LT(MeanDifference(want.render, RenderFrame(item)), 1e-9);
        }
        const UIDRef item = action.Parameters().At(static_cast<int32_t>(n));
        EXPECT_EQ(Linked(item), LinkStatus(refused, kODStatusReplyMinus2));
        EXPECT_TRUE(SameMatrix(Matrix(item), refusedBefore.matrix));
    }
}

TEST_F(RoadTest, AnOpiPlaceholderComesBackThroughTheLowResolutionFolder) {
    const std::string highRes = Picture("highres.tif", 200, 120, 100);
    const std::string placeholder = dir / "placeholder.eps";
    samples::EpsImage eps;
    eps.image = {50, 30, 3};
    eps.width = 144;
    eps.height = 86.4;
    samples::WriteOpiPlaceholder(placeholder, eps, {highRes, "", 100});
    const std::string lowRes = UseOpi(prefs, dir / "lowres", ".lr");
    SetPrefs();

    UIDRef item = Place(placeholder, PMRect(50, 50, 150, 110),
                        PMMatrix::MakeScale(0.8, 0.8) * PMMatrix::MakeRotation(-90), -10, -12);
    const Before before = Capture(item, highRes);
    const std::string serverLog = OrderSendAndServe({item});
    EXPECT_EQ(Order(item).sourcePath.GetUTF8String(), highRes);
    EXPECT_EQ(Order(item).formatCode, 0x211u);

    std::vector<UIDRef> panel{item};
    ASSERT_EQ(PickUp(panel), std::vector<int32_t>{kODPickupNoResultFile}) << serverLog;
    EXPECT_EQ(Order(item).status, kODStatusSent);
    // Not there until the OPI server makes the low-res of the processed file.
    const std::string processed = out + "/placeholder.tif", low = lowRes + "/placeholder.tif.lr";
    ASSERT_TRUE(fs::exists(processed)) << serverLog;
    fs::copy_file(processed, low);
    ASSERT_EQ(PickUp(panel), std::vector<int32_t>{0});
    ExpectRelinked(panel[0], low, placeholder, before.render);

    OD_ActionUndoRedoItems action;
    SetSwapItems(action, panel);
    action.Execute();
    const UIDRef undone = action.Parameters().At(0);
    EXPECT_EQ(Linked(undone), LinkStatus(placeholder, kODStatusReady));
    EXPECT_TRUE(SameMatrix(Matrix(undone), before.matrix));
}

TEST_F(RoadTest, WithTheDefaultFileOptionsEveryPlacedOriginalStaysByteForByte) {
    // No output folder, no overwriting: results go beside their sources.
    ASSERT_TRUE(prefs.SetOutFolder(""));
    prefs.SetOvrWrDest(false);
    SetPrefs();
    const std::vector<std::string> files{Picture("flowers.tif", 80, 50),
                                         Picture("flowers.psd", 60, 40),
                                         Picture("photo.jpg", 80, 50)};
    std::vector<std::string> bytes;
    std::vector<UIDRef> items;
    for (const std::string& file : files) {
        bytes.push_back(ReadFile(file));
        items.push_back(
            Place(file, PMRect(40, 40 + 60 * items.size(), 120, 90 + 60 * items.size())));
    }
    // The TIFF goes with RGB "Correction" (option 2), not the default.
    const std::string serverLog =
        OrderSendAndServe(items, items[0], [](OD_ProcData& order) { order.processCode = 10; });
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
    EXPECT_EQ(std::tuple(Order(panel[0]).processCode, Prefs().GetDefaultCode(1)),
              std::tuple(10, 17));
}

} // namespace
