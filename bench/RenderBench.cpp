// The page renderer and the PDF export over a document of large photographs:
// n images of 5472 x 3648 pixels (20 megapixels) at 300 ppi, five in six
// JPEG and one in six uncompressed TIFF, each with its own content, placed
// ten to a page (US Letter) at scales from 10 to 35 % and turned by various
// angles, some cropped by their frame, two frames a page turned as well.
// The images are written once per run into a temporary folder that goes at
// the end.
//
// Rows:
//   BM_RenderPng/n   every page at 72 dpi to PNG pictures, against libvips
//                    making a thumbnail of each image at the size its page
//                    needs (the work the renderer cannot avoid), measured in
//                    the same run: "ratio_to_thumbnail" (render / thumbnails)
//   BM_PdfExport/n/r every page into one PDF file, default settings (r 0)
//                    or images brought down to r ppi: "file_MB"
//
// Each case runs in a child process of its own, so that its "peak_MB" (the
// resident high-water mark, VmHWM) is its own; "start_MB" is what the child
// held before the work began (the document, inherited). The time is that of
// the work alone, in the child, on the wall clock. Sizes 20 and 100 show
// whether the peak stays bounded or grows with the number of images.
#include "DocumentIDs.h"
#include "DocumentModel.h"
#include "DocumentUtils.h"
#include "IDataBase.h"
#include "IGeometry.h"
#include "ITransform.h"
#include "ImportUtils.h"
#include "PageRender.h"
#include "PdfExport.h"

#include <benchmark/benchmark.h>
#include <vips/vips8>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using vips::VImage;

namespace {

constexpr int kPixelWidth = 5472;
constexpr int kPixelHeight = 3648;
constexpr double kResolution = 300.0;
constexpr int kImagesPerPage = 10;
constexpr int kMaxImages = 100;
constexpr int kTiffEvery = 6;

// Where each image of a page goes: its scale and turn inside its frame, and
// the frame's own turn (degrees).
struct Placement {
    double scale;
    double imageAngle;
    double frameAngle;
};
constexpr Placement kPlacements[kImagesPerPage] = {
    {0.20, 0, 0},   {0.25, 90, 0}, {0.15, 15, 0},   {0.20, 0, 10}, {0.30, -30, 0},
    {0.12, 180, 0}, {0.22, 45, 0}, {0.18, 270, -8}, {0.35, 0, 0},  {0.10, -12, 0},
};

const Placement& PlacementOf(int image) {
    return kPlacements[image % kImagesPerPage];
}

// The pixel size the image takes on a page drawn at 72 dpi (its own axes).
int PagePixels(int pixels, int image) {
    return std::max(
        1, static_cast<int>(std::lround(pixels * 72.0 / kResolution * PlacementOf(image).scale)));
}

// ---- work in a child process

struct Outcome {
    bool ok = false;
    double seconds = 0;
    double startMb = 0;
    double peakMb = 0;
    double fileMb = 0;
    char error[512] = {};
};

// The value of a "Name:   N kB" line of /proc/self/status, in megabytes.
double StatusMb(const char* name) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::size_t length = std::strlen(name);
    while (std::getline(status, line)) {
        if (line.compare(0, length, name) == 0 && line.size() > length && line[length] == ':') {
            return std::atof(line.c_str() + length + 1) / 1024.0;
        }
    }
    return 0;
}

void SetError(Outcome& outcome, const std::string& text) {
    std::snprintf(outcome.error, sizeof outcome.error, "%s", text.c_str());
}

// Runs work in a forked child and returns what it reported. The work fills
// ok, fileMb and error; the child adds the time and its memory. The child
// leaves with _exit, so the parent's objects (the temporary folder) stay.
Outcome InChild(const std::function<void(Outcome&)>& work) {
    Outcome outcome;
    int channel[2];
    if (pipe(channel) != 0) {
        SetError(outcome, "cannot make a pipe");
        return outcome;
    }
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) {
        close(channel[0]);
        close(channel[1]);
        SetError(outcome, "cannot fork");
        return outcome;
    }
    if (child == 0) {
        close(channel[0]);
        Outcome mine;
        mine.startMb = StatusMb("VmRSS");
        const auto start = std::chrono::steady_clock::now();
        try {
            work(mine);
        } catch (const std::exception& e) {
            mine.ok = false;
            SetError(mine, e.what());
        }
        mine.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        mine.peakMb = StatusMb("VmHWM");
        const char* bytes = reinterpret_cast<const char*>(&mine);
        std::size_t left = sizeof mine;
        while (left > 0) {
            const ssize_t n = write(channel[1], bytes, left);
            if (n <= 0) {
                break;
            }
            bytes += n;
            left -= static_cast<std::size_t>(n);
        }
        _exit(0);
    }
    close(channel[1]);
    char* bytes = reinterpret_cast<char*>(&outcome);
    std::size_t got = 0;
    while (got < sizeof outcome) {
        const ssize_t n = read(channel[0], bytes + got, sizeof outcome - got);
        if (n <= 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (got != sizeof outcome) {
        outcome = Outcome{};
        SetError(outcome, WIFSIGNALED(status)
                              ? "the child stopped on signal " + std::to_string(WTERMSIG(status))
                              : std::string("the child stopped without an answer"));
    }
    return outcome;
}

// ---- the images and the documents

std::string ImageName(int image) {
    return "photo" + std::to_string(image) + (image % kTiffEvery == 3 ? ".tif" : ".jpg");
}

// One picture of gradients under a coarse noise, which gives the JPEG files
// the size of photographs (6 to 7 MB); made once, it is the ground of every
// image.
VImage BasePicture() {
    VImage xy = VImage::xyz(kPixelWidth, kPixelHeight);
    VImage x = xy[0];
    VImage y = xy[1];
    VImage noise = VImage::gaussnoise(kPixelWidth / 8, kPixelHeight / 8,
                                      VImage::option()->set("sigma", 40.0)->set("seed", 1))
                       .resize(8.0);
    VImage red = x * 0.03 + y * 0.02 + noise;
    VImage green = x * 0.01 - y * 0.025 + 128 + noise * 0.5;
    VImage blue = (x + y) * 0.015 - noise;
    return VImage::bandjoin({red, green, blue})
        .abs()
        .remainder_const({256})
        .cast(VIPS_FORMAT_UCHAR)
        .copy_memory();
}

// Each image is the ground shifted (wrapped round) and given a tone curve of
// its own. JPEG files get a JFIF header with their resolution in pixels per
// inch, the one place the host reads it from in a JPEG file.
void WriteImage(const VImage& base, const std::string& path, int image) {
    const double k = image;
    VImage curve = (VImage::identity(VImage::option()->set("bands", 3)) * (1.0 + k * 0.01) +
                    std::vector<double>{k * 17, k * 5, k * 29})
                       .remainder_const({256})
                       .cast(VIPS_FORMAT_UCHAR);
    VImage picture = base.wrap(VImage::option()->set("x", image * 389)->set("y", image * 211))
                         .maplut(curve)
                         .copy(VImage::option()
                                   ->set("interpretation", VIPS_INTERPRETATION_sRGB)
                                   ->set("xres", kResolution / 25.4)
                                   ->set("yres", kResolution / 25.4));
    if (path.ends_with(".tif")) {
        picture.tiffsave(path.c_str());
        return;
    }
    void* data = nullptr;
    std::size_t size = 0;
    picture.write_to_buffer(".jpg", &data, &size,
                            VImage::option()->set("Q", 85)->set("strip", true));
    const std::unique_ptr<void, decltype(&g_free)> owned(data, &g_free);
    const auto* bytes = static_cast<const char*>(data);
    const int ppi = static_cast<int>(kResolution);
    // APP0: JFIF 1.1, the density in dots per inch, no thumbnail.
    std::string jfif("\xFF\xE0\x00\x10JFIF\x00\x01\x01\x01", 12);
    for (int axis = 0; axis < 2; ++axis) {
        jfif += static_cast<char>(ppi >> 8);
        jfif += static_cast<char>(ppi & 0xFF);
    }
    jfif.append(2, '\0');
    std::ofstream file(path, std::ios::binary);
    file.write(bytes, 2); // start of image
    file.write(jfif.data(), static_cast<std::streamsize>(jfif.size()));
    file.write(bytes + 2, static_cast<std::streamsize>(size - 2));
    if (!file.flush()) {
        throw std::runtime_error("cannot write " + path);
    }
}

// n images placed ten to a page: two columns of five frames.
std::unique_ptr<IDataBase> MakeDocument(const fs::path& folder, int n, std::string& error) {
    DocumentUtils::NewDocumentOptions options;
    options.pageCount = (n + kImagesPerPage - 1) / kImagesPerPage;
    auto db = DocumentUtils::NewDocument(options);
    const double imageWidth = kPixelWidth * 72.0 / kResolution;
    const double imageHeight = kPixelHeight * 72.0 / kResolution;
    for (int i = 0; i < n; ++i) {
        const int cell = i % kImagesPerPage;
        const double left = 36 + (cell % 2) * 276;
        const double top = 36 + (cell / 2) * 144;
        const PMRect bounds(left, top, left + 264, top + 136);
        ErrorCode code = kSuccess;
        const UIDRef frame = DocumentUtils::AddGraphicFrame(
            DocumentUtils::GetNthPage(db.get(), i / kImagesPerPage), bounds, &code);
        const std::string path = (folder / ImageName(i)).string();
        const UIDRef placed =
            code == kSuccess ? ImportUtils::PlaceFile(frame, PMString(path), &code) : UIDRef();
        if (code != kSuccess) {
            error = path + ": " + DocumentErrorText(code);
            return nullptr;
        }
        InterfacePtr<IGeometry> geometry = InterfaceOf<IGeometry>(placed);
        const PMRect box = geometry->GetBoundingBox();
        if (std::abs(box.Width() - imageWidth) > 0.5 ||
            std::abs(box.Height() - imageHeight) > 0.5) {
            error = path + ": placed at " + std::to_string(box.Width()) + " x " +
                    std::to_string(box.Height()) + " points, not at 300 ppi";
            return nullptr;
        }
        // The image turned about its centre, scaled, its centre on the
        // frame's; the frame turned about its own centre.
        const Placement& p = PlacementOf(i);
        const PMMatrix m = PMMatrix::MakeTranslation(-imageWidth / 2, -imageHeight / 2) *
                           PMMatrix::MakeScale(p.scale, p.scale) *
                           PMMatrix::MakeRotation(p.imageAngle) *
                           PMMatrix::MakeTranslation(bounds.Width() / 2, bounds.Height() / 2);
        code = DocumentUtils::ProcessChange(db.get(), PMString("Arrange"), [&] {
            InterfaceOf<ITransform>(placed)->SetInnerToParentMatrix(m);
            if (p.frameAngle != 0) {
                InterfaceOf<ITransform>(frame)->SetRotationAngle(
                    p.frameAngle, PMPoint(left + bounds.Width() / 2, top + bounds.Height() / 2));
            }
            return kSuccess;
        });
        if (code != kSuccess) {
            error = "cannot arrange " + path;
            return nullptr;
        }
    }
    return db;
}

// The images, and a document for each size asked for. The parent process
// never starts libvips itself (the images are written in a child), so that
// every child starts it afresh.
class Corpus {
public:
    ~Corpus() {
        documents.clear();
        if (!folder.empty()) {
            std::error_code ignored;
            fs::remove_all(folder, ignored);
        }
    }

    // The document of n images, or null with error set.
    IDataBase* Document(int n, std::string& error) {
        if (!Ready(error)) {
            return nullptr;
        }
        auto& db = documents[n];
        if (!db) {
            db = MakeDocument(folder, n, error);
        }
        return db.get();
    }

    const fs::path& Folder() const { return folder; }

private:
    bool Ready(std::string& error) {
        if (!failure.empty()) {
            error = failure;
            return false;
        }
        if (!folder.empty()) {
            return true;
        }
        std::string name = (fs::temp_directory_path() / "ordodesk-render-bench-XXXXXX").string();
        if (mkdtemp(name.data()) == nullptr) {
            error = failure = "cannot make a temporary folder";
            return false;
        }
        folder = name;
        const Outcome made = InChild([this](Outcome& outcome) {
            if (VIPS_INIT("ordodesk_render_bench") != 0) {
                SetError(outcome, "cannot start libvips");
                return;
            }
            const VImage base = BasePicture();
            for (int i = 0; i < kMaxImages; ++i) {
                WriteImage(base, (folder / ImageName(i)).string(), i);
            }
            outcome.ok = true;
        });
        if (!made.ok) {
            error = failure = std::string("cannot write the images: ") + made.error;
            return false;
        }
        std::fprintf(stderr, "%d images written in %.1f s\n", kMaxImages, made.seconds);
        return true;
    }

    fs::path folder;
    std::string failure;
    std::map<int, std::unique_ptr<IDataBase>> documents;
};

std::unique_ptr<Corpus> corpus;

IDataBase* DocumentOf(int n, benchmark::State& state) {
    if (!corpus) {
        RegisterDocumentModel();
        corpus = std::make_unique<Corpus>();
    }
    std::string error;
    IDataBase* db = corpus->Document(n, error);
    if (db == nullptr) {
        state.SkipWithError(error.c_str());
    }
    return db;
}

double FolderMb(const fs::path& folder) {
    std::uintmax_t bytes = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        bytes += entry.file_size();
    }
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

// What a drawing reported, as the child's outcome.
void Take(Outcome& outcome, bool written, const render::OutputReport& report, int n) {
    if (!written) {
        SetError(outcome, report.error);
    } else if (!report.drawing.problems.empty()) {
        SetError(outcome, report.drawing.problems.front());
    } else if (report.drawing.imagesDrawn != n) {
        SetError(outcome, std::to_string(report.drawing.imagesDrawn) + " images drawn of " +
                              std::to_string(n));
    } else {
        outcome.ok = true;
    }
}

// A fresh folder for one case's output, beside the images.
fs::path OutputFolder(const std::string& name) {
    const fs::path out = corpus->Folder() / name;
    fs::remove_all(out);
    fs::create_directories(out);
    return out;
}

void BM_RenderPng(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    IDataBase* db = DocumentOf(n, state);
    if (db == nullptr) {
        return;
    }
    const fs::path out = OutputFolder("png");
    Outcome render;
    Outcome thumbnails;
    for (auto _ : state) {
        thumbnails = InChild([n](Outcome& outcome) {
            if (VIPS_INIT("ordodesk_render_bench") != 0) {
                SetError(outcome, "cannot start libvips");
                return;
            }
            for (int i = 0; i < n; ++i) {
                VImage small = VImage::thumbnail(
                    (corpus->Folder() / ImageName(i)).c_str(), PagePixels(kPixelWidth, i),
                    VImage::option()->set("height", PagePixels(kPixelHeight, i)));
                small.copy_memory();
            }
            outcome.ok = true;
        });
        render = InChild([db, n, &out](Outcome& outcome) {
            render::PngOptions options;
            render::OutputReport report;
            const bool written =
                render::WritePng(db, options, (out / "page.png").string(), true, report);
            Take(outcome, written, report, n);
            outcome.fileMb = FolderMb(out);
        });
        if (!thumbnails.ok || !render.ok) {
            state.SkipWithError(!render.ok ? render.error : thumbnails.error);
            return;
        }
        state.SetIterationTime(render.seconds);
    }
    state.counters["peak_MB"] = render.peakMb;
    state.counters["start_MB"] = render.startMb;
    state.counters["png_MB"] = render.fileMb;
    state.counters["thumbnail_s"] = thumbnails.seconds;
    state.counters["thumbnail_peak_MB"] = thumbnails.peakMb;
    state.counters["ratio_to_thumbnail"] = render.seconds / thumbnails.seconds;
}

void BM_PdfExport(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const double resolution = static_cast<double>(state.range(1));
    IDataBase* db = DocumentOf(n, state);
    if (db == nullptr) {
        return;
    }
    const fs::path out = OutputFolder("pdf");
    Outcome exported;
    for (auto _ : state) {
        exported = InChild([db, n, resolution, &out](Outcome& outcome) {
            render::PdfSettings settings;
            if (resolution > 0) {
                settings.imageResolution = resolution;
            }
            render::OutputReport report;
            const bool written =
                render::WritePdf(db, settings, (out / "pages.pdf").string(), true, report);
            Take(outcome, written, report, n);
            outcome.fileMb = FolderMb(out);
        });
        if (!exported.ok) {
            state.SkipWithError(exported.error);
            return;
        }
        state.SetIterationTime(exported.seconds);
    }
    state.counters["peak_MB"] = exported.peakMb;
    state.counters["start_MB"] = exported.startMb;
    state.counters["file_MB"] = exported.fileMb;
}

BENCHMARK(BM_RenderPng)
    ->ArgName("images")
    ->Arg(20)
    ->Arg(kMaxImages)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PdfExport)
    ->ArgNames({"images", "ppi"})
    ->Args({20, 0})
    ->Args({kMaxImages, 0})
    ->Args({kMaxImages, 150})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    corpus.reset();
    return 0;
}
