// The reference server against the libvips work it cannot avoid, measured in
// the same run, for 100 small images (64 x 48 pixels, RGB, placed at 50 % and
// rotated by 90 degrees, written as TIFF at 150 ppi):
//
//   load, place, convert and save 100 images with libvips alone
//   vs  100 tickets sent through the client endpoint and answered by the
//       server (job pickup, ticket, profile, processing mark, reply file)
//
// The server's row reports "jobs_per_second", "ratio_to_vips" and
// "overhead_ms_per_job" (the server's time per job beyond the libvips work).
//
// And for 8 large photographs (JPEG, 3000 x 2000 pixels at 300 ppi, RGB),
// placed at 25 % and made CMYK through Ghostscript's ICC profiles:
//
//   what `vips thumbnail` and `vips icc_transform` do, done through the same
//   library calls: the JPEG shrunk as it is read, transformed, saved as TIFF
//   vs  the server's jobs (shrink-on-load, placement, ICC transform, TIFF)
//
// reported as "ratio_to_vips_thumbnail_icc".
#include "ImageJob.h"
#include "RefServer.h"

#include "QOR_EndPointFile.h"
#include "TempDir.h"

#include <benchmark/benchmark.h>
#include <vips/vips8>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using vips::VImage;

namespace {

constexpr int kImages = 100;
double vipsSeconds = 0;
double thumbnailSeconds = 0;
constexpr int kPhotos = 8;
const char* const kCmykProfile = "/usr/share/color/icc/ghostscript/default_cmyk.icc";

void WritePhotos(const std::string& folder) {
    MakeDirs(folder);
    for (int i = 0; i < kPhotos; ++i) {
        const VImage xy = VImage::xyz(3000, 2000);
        VImage image = VImage::bandjoin({xy[0] / 12 + i, xy[1] / 8, (xy[0] + xy[1]) / 20})
                           .cast(VIPS_FORMAT_UCHAR)
                           .copy(VImage::option()
                                     ->set("interpretation", VIPS_INTERPRETATION_sRGB)
                                     ->set("xres", 300 / 25.4)
                                     ->set("yres", 300 / 25.4));
        image.jpegsave((folder + "/photo" + std::to_string(i) + ".jpg").c_str());
    }
}

JobTicket PhotoTicket(const std::string& in, const std::string& out) {
    JobTicket t;
    t.pathIn = in;
    t.pathOut = out;
    t.width = 10.0 * 0.25;
    t.height = 2000.0 / 300 * 0.25;
    t.scaleX = t.scaleY = 0.25;
    t.resX = t.resY = 300;
    t.processOpt = 4;
    t.overwrite = true;
    return t;
}

void WriteImages(const std::string& folder) {
    MakeDirs(folder);
    for (int i = 0; i < kImages; ++i) {
        VImage image = (VImage::black(64, 48, VImage::option()->set("bands", 3)) + (i * 2))
                           .cast(VIPS_FORMAT_UCHAR)
                           .copy(VImage::option()
                                     ->set("interpretation", VIPS_INTERPRETATION_sRGB)
                                     ->set("xres", 72 / 25.4)
                                     ->set("yres", 72 / 25.4));
        image.tiffsave((folder + "/img" + std::to_string(i) + ".tif").c_str());
    }
}

JobTicket Ticket(const std::string& in, const std::string& out) {
    JobTicket t;
    t.pathIn = in;
    t.pathOut = out;
    t.width = 48.0 / 72 * 0.5;
    t.height = 64.0 / 72 * 0.5;
    t.scaleX = t.scaleY = 0.5;
    t.angle = 90;
    t.resX = t.resY = 150;
    t.processOpt = 0;
    t.overwrite = true;
    return t;
}

std::string TicketText(const JobTicket& t) {
    char text[2048];
    std::snprintf(text, sizeof text,
                  "PROCESS\nPATHIN: %s\nPATHOUT: %s\nHUNITS: inch\nVUNITS: inch\nTOP: %lf\nLEFT: "
                  "%lf\nWIDTH: %lf\nHEIGHT: %lf\nSCALEX: %lf\nSCALEY: %lf\nRESX: %d\nRESY: "
                  "%d\nANGLE: %lf\nPREFIX: \nPROCESSOPT: %d\nFLIPGD: 0\nFLIPHB: 0\nSKEWH: "
                  "0.000000\nOVERWRITE: 1\nPROFILE: \nDOCROP: 1\nDEL_SRC_IMAGE: 0\n",
                  t.pathIn.c_str(), t.pathOut.c_str(), t.top, t.left, t.width, t.height, t.scaleX,
                  t.scaleY, t.resX, t.resY, t.angle, t.processOpt);
    return text;
}

void BM_VipsWorkAlone(benchmark::State& state) {
    TempDir dir;
    WriteImages(dir / "in");
    MakeDirs(dir / "out");
    ServerProfile profile;
    std::string error;
    double total = 0;
    int64_t rounds = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kImages; ++i) {
            std::string in = dir / ("in/img" + std::to_string(i) + ".tif");
            JobTicket t = Ticket(in, dir / ("out/img" + std::to_string(i)));
            VImage loaded = VImage::new_from_file(
                in.c_str(), VImage::option()->set("access", VIPS_ACCESS_RANDOM));
            ImageKind kind;
            VImage placed;
            RenderPlacement(NormalizeImage(loaded, kind), kind, 72, t, placed, error);
            ConvertColour(placed, kind, 0, profile, error);
            placed.tiffsave(
                (t.pathOut + ".tif").c_str(),
                VImage::option()->set("compression", VIPS_FOREIGN_TIFF_COMPRESSION_LZW));
        }
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ++rounds;
    }
    vipsSeconds = total / static_cast<double>(rounds);
    state.counters["images_per_second"] = kImages / vipsSeconds;
}

void BM_ServerJobs(benchmark::State& state) {
    TempDir dir;
    std::string error;
    InitServerTree(dir.Path(), error);
    WriteImages(dir / "in");
    MakeDirs(dir / "out");
    std::ostringstream log;
    RefServer server(dir.Path(), log);
    QOR_EndPointFile endpoint;
    endpoint.Connect((dir / "qorserver").c_str());
    server.RunOnce();
    std::vector<std::string> names(kImages);
    double total = 0;
    int64_t rounds = 0;
    for (auto _ : state) {
        QOR_EndPointFile::ResetProcessStateForTesting(); // names need not wait for the clock
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kImages; ++i) {
            JobTicket t = Ticket(dir / ("in/img" + std::to_string(i) + ".tif"),
                                 dir / ("out/img" + std::to_string(i)));
            char name[512];
            endpoint.SendNamed(name, TicketText(t).c_str(), 1024);
            names[static_cast<std::size_t>(i)] = name;
        }
        server.RunOnce();
        for (const std::string& name : names) {
            char text[1024];
            int capacity = sizeof text;
            endpoint.ReceiveFor(name.c_str(), text, capacity);
            endpoint.ReleaseReply(name.c_str());
        }
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ++rounds;
    }
    const double seconds = total / static_cast<double>(rounds);
    state.counters["jobs_per_second"] = kImages / seconds;
    if (vipsSeconds > 0) {
        state.counters["ratio_to_vips"] = seconds / vipsSeconds;
        state.counters["overhead_ms_per_job"] = (seconds - vipsSeconds) * 1000.0 / kImages;
    }
    if (server.Totals().errors != 0) {
        state.SkipWithError("the server answered with errors");
    }
}

void BM_VipsThumbnailIcc(benchmark::State& state) {
    TempDir dir;
    WritePhotos(dir / "in");
    MakeDirs(dir / "out");
    double total = 0;
    int64_t rounds = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kPhotos; ++i) {
            const std::string in = dir / ("in/photo" + std::to_string(i) + ".jpg");
            VImage::thumbnail(in.c_str(), 750)
                .icc_transform(kCmykProfile, VImage::option()->set("input_profile", "srgb"))
                .tiffsave((dir / ("out/photo" + std::to_string(i) + ".tif")).c_str(),
                          VImage::option()->set("compression", VIPS_FOREIGN_TIFF_COMPRESSION_LZW));
        }
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ++rounds;
    }
    thumbnailSeconds = total / static_cast<double>(rounds);
    state.counters["images_per_second"] = kPhotos / thumbnailSeconds;
}

void BM_ServerPhotos(benchmark::State& state) {
    TempDir dir;
    std::string error;
    InitServerTree(dir.Path(), error);
    WritePhotos(dir / "in");
    MakeDirs(dir / "out");
    std::ostringstream log;
    RefServer server(dir.Path(), log);
    QOR_EndPointFile endpoint;
    endpoint.Connect((dir / "qorserver").c_str());
    server.RunOnce();
    double total = 0;
    int64_t rounds = 0;
    for (auto _ : state) {
        QOR_EndPointFile::ResetProcessStateForTesting();
        auto start = std::chrono::steady_clock::now();
        std::vector<std::string> names;
        for (int i = 0; i < kPhotos; ++i) {
            JobTicket t = PhotoTicket(dir / ("in/photo" + std::to_string(i) + ".jpg"),
                                      dir / ("out/photo" + std::to_string(i)));
            char name[512];
            endpoint.SendNamed(name, TicketText(t).c_str(), 1024);
            names.push_back(name);
        }
        server.RunOnce();
        for (const std::string& name : names) {
            char text[1024];
            int capacity = sizeof text;
            endpoint.ReceiveFor(name.c_str(), text, capacity);
            endpoint.ReleaseReply(name.c_str());
        }
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ++rounds;
    }
    const double seconds = total / static_cast<double>(rounds);
    state.counters["jobs_per_second"] = kPhotos / seconds;
    if (thumbnailSeconds > 0) {
        state.counters["ratio_to_vips_thumbnail_icc"] = seconds / thumbnailSeconds;
    }
    if (server.Totals().errors != 0) {
        state.SkipWithError("the server answered with errors");
    }
}

BENCHMARK(BM_VipsWorkAlone)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_ServerJobs)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_VipsThumbnailIcc)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ServerPhotos)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

int main(int argc, char** argv) {
    if (VIPS_INIT(argv[0]) != 0) {
        return 1;
    }
    vips_cache_set_max(0);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    vips_shutdown();
    return 0;
}
