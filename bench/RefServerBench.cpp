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
// And for 8 large photographs (JPEG, 3000 x 2000 pixels at 300 ppi in their
// JFIF segment, RGB), placed at 25 % and made CMYK through Ghostscript's ICC
// profiles:
//
//   what `vips thumbnail` and `vips icc_transform` do, done through the same
//   library calls: the JPEG shrunk as it is read, transformed, saved as TIFF
//   vs  the server's jobs (shrink-on-load, placement, ICC transform, TIFF)
//
// reported as "ratio_to_vips_thumbnail_icc" (wall time) and
// "cpu_ratio_to_vips_thumbnail_icc" (the process's processor time), each
// round of jobs paired with a round of libvips alone.
//
// The program itself, `qor-refserver serve`, run as a child of this one (the
// one built beside this benchmark, or the one QOR_REFSERVER names):
//
//   200 mixed jobs (small and medium JPEG, TIFF and PSD, a few EPS; RGB and
//   CMYK results) answered by `--workers 1` and by `--workers 2`: jobs per
//   second, and for 2 "ratio_to_one_worker" (the speed-up)
//
//   one job of 100 megapixels (a 12000 x 8400 JPEG or TIFF at 300 ppi placed
//   at 25 % and made CMYK; the TIFF also turned by 90 degrees), answered by
//   `serve --once`: the process's peak resident memory, "peak_rss_mb"
//   (VmHWM), and the most its temporary files held at once, "temp_mb"
//   (libvips' files in TMPDIR, open or removed), both sampled every 2 ms
#include "ImageJob.h"
#include "RefServer.h"

#include "QOR_EndPointFile.h"
#include "TempDir.h"

#include <benchmark/benchmark.h>
#include <vips/vips8>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;
using vips::VImage;

namespace {

constexpr int kImages = 100;
double vipsSeconds = 0;
constexpr int kPhotos = 8;
const char* const kCmykProfile = "/usr/share/color/icc/ghostscript/default_cmyk.icc";

// Saves a JPEG whose resolution is in a JFIF segment, as cameras and editors
// write it: libvips puts it in EXIF only, and the plug-in's reader, whose
// reading the server follows, takes a JFIF density or 72 ppi.
void SaveJpeg(const VImage& image, const std::string& path) {
    VipsBlob* blob = image.jpegsave_buffer();
    std::size_t size = 0;
    const auto* data = static_cast<const char*>(vips_blob_get(blob, &size));
    std::string bytes(data, size);
    vips_area_unref(VIPS_AREA(blob));
    const int ppi = static_cast<int>(std::lround(image.xres() * 25.4));
    const char app0[] = {'\xFF',
                         '\xE0',
                         0,
                         16,
                         'J',
                         'F',
                         'I',
                         'F',
                         0,
                         1,
                         1,
                         1,
                         static_cast<char>(ppi >> 8),
                         static_cast<char>(ppi & 0xFF),
                         static_cast<char>(ppi >> 8),
                         static_cast<char>(ppi & 0xFF),
                         0,
                         0};
    bytes.insert(2, app0, sizeof app0);
    std::ofstream(path, std::ios::binary) << bytes;
}

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
        SaveJpeg(image, folder + "/photo" + std::to_string(i) + ".jpg");
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

// The photographs made thumbnails and CMYK by libvips alone.
void ThumbnailRound(const TempDir& dir) {
    for (int i = 0; i < kPhotos; ++i) {
        const std::string in = dir / ("in/photo" + std::to_string(i) + ".jpg");
        VImage::thumbnail(in.c_str(), 750)
            .icc_transform(kCmykProfile, VImage::option()->set("input_profile", "srgb"))
            .tiffsave((dir / ("out/thumb" + std::to_string(i) + ".tif")).c_str(),
                      VImage::option()->set("compression", VIPS_FOREIGN_TIFF_COMPRESSION_LZW));
    }
}

// Seconds of the process's processor time, over all its threads.
double ProcessorSeconds() {
    struct timespec now {};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void BM_VipsThumbnailIcc(benchmark::State& state) {
    TempDir dir;
    WritePhotos(dir / "in");
    MakeDirs(dir / "out");
    double total = 0;
    int64_t rounds = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        ThumbnailRound(dir);
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ++rounds;
    }
    state.counters["images_per_second"] = kPhotos * static_cast<double>(rounds) / total;
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
    // Each round of jobs follows a round of libvips alone, so that both see
    // the same load of the machine; wall and processor time are compared.
    double total = 0, thumbnails = 0, totalCpu = 0, thumbnailsCpu = 0;
    int64_t rounds = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        double cpu = ProcessorSeconds();
        ThumbnailRound(dir);
        thumbnails +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        thumbnailsCpu += ProcessorSeconds() - cpu;
        QOR_EndPointFile::ResetProcessStateForTesting();
        start = std::chrono::steady_clock::now();
        cpu = ProcessorSeconds();
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
        totalCpu += ProcessorSeconds() - cpu;
        ++rounds;
    }
    state.counters["jobs_per_second"] = kPhotos * static_cast<double>(rounds) / total;
    state.counters["ratio_to_vips_thumbnail_icc"] = total / thumbnails;
    state.counters["cpu_ratio_to_vips_thumbnail_icc"] = totalCpu / thumbnailsCpu;
    if (server.Totals().errors != 0) {
        state.SkipWithError("the server answered with errors");
    }
}

// The server program: the one QOR_REFSERVER names, else the one built beside
// this benchmark; empty when there is none.
std::string ServerProgram() {
    if (const char* given = std::getenv("QOR_REFSERVER"); given != nullptr && *given != '\0') {
        return given;
    }
    std::error_code ec;
    const fs::path beside = fs::read_symlink("/proc/self/exe", ec).parent_path().parent_path() /
                            "apps/qor-refserver/qor-refserver";
    return !ec && fs::exists(beside, ec) ? beside.string() : std::string();
}

// Starts the program with these arguments, its output thrown away (and with
// TMPDIR set to temp when one is given); -1 when it cannot be started.
pid_t StartServer(const std::vector<std::string>& args, const std::string& temp = "") {
    std::vector<std::string> variables;
    for (char** v = environ; *v != nullptr; ++v) {
        if (temp.empty() || std::string(*v).rfind("TMPDIR=", 0) != 0) {
            variables.emplace_back(*v);
        }
    }
    if (!temp.empty()) {
        variables.push_back("TMPDIR=" + temp);
    }
    std::vector<char*> argv, envp;
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    for (const std::string& v : variables) {
        envp.push_back(const_cast<char*>(v.c_str()));
    }
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

// A smooth RGB picture of width x height pixels at ppi.
VImage Picture(int width, int height, double ppi, int seed) {
    const VImage xy = VImage::xyz(width, height);
    return VImage::bandjoin({xy[0] * (256.0 / width) + seed, xy[1] * (256.0 / height),
                             (xy[0] + xy[1]) * (128.0 / (width + height))})
        .cast(VIPS_FORMAT_UCHAR)
        .copy(VImage::option()
                  ->set("interpretation", VIPS_INTERPRETATION_sRGB)
                  ->set("xres", ppi / 25.4)
                  ->set("yres", ppi / 25.4));
}

// An input of the mixed jobs, placed at scale and sampled at res ppi.
struct MixedInput {
    std::string name;
    double widthInches, heightInches, scale;
    int res;
};

// Small (600 x 400 at 150 ppi, placed at 100 %) and medium (2400 x 1600 at
// 300 ppi, placed at 50 %) pictures as JPEG, TIFF and PSD, and an EPS of
// 2 x 1.5 inches drawn in RGB.
std::vector<MixedInput> WriteMixedInputs(const std::string& folder) {
    MakeDirs(folder);
    std::vector<MixedInput> inputs;
    const struct {
        const char* size;
        int width, height, ppi;
        double scale;
    } sizes[] = {{"small", 600, 400, 150, 1.0}, {"medium", 2400, 1600, 300, 0.5}};
    for (const auto& s : sizes) {
        const VImage picture = Picture(s.width, s.height, s.ppi, 7);
        const std::string stem = folder + "/" + s.size;
        SaveJpeg(picture, stem + ".jpg");
        picture.tiffsave((stem + ".tif").c_str(),
                         VImage::option()->set("resunit", VIPS_FOREIGN_TIFF_RESUNIT_INCH));
        picture.magicksave((stem + ".psd").c_str(), VImage::option()->set("format", "psd"));
        for (const char* ext : {".jpg", ".tif", ".psd"}) {
            inputs.push_back(
                {stem + ext, 1.0 * s.width / s.ppi, 1.0 * s.height / s.ppi, s.scale, s.ppi});
        }
    }
    std::ofstream(folder + "/drawing.eps")
        << "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 144 108\n%%EndComments\n"
           "1 0 0 setrgbcolor 0 0 72 108 rectfill\n0 0 1 setrgbcolor 72 0 72 108 rectfill\n"
           "0 1 0 setrgbcolor 72 54 moveto 36 54 rlineto stroke\n%%EOF\n";
    inputs.push_back({folder + "/drawing.eps", 2.0, 1.5, 1.0, 300});
    return inputs;
}

// Sends the tickets, then waits until every one is answered; false when one
// is not answered within a minute of the last, or not with success.
bool SendAndWait(QOR_EndPointFile& endpoint, const std::vector<JobTicket>& tickets) {
    std::vector<std::string> names;
    for (const JobTicket& t : tickets) {
        char name[512];
        if (endpoint.SendNamed(name, TicketText(t).c_str(), 1024) != 0) {
            return false;
        }
        names.push_back(name);
    }
    auto last = std::chrono::steady_clock::now();
    for (const std::string& name : names) {
        char text[1024];
        int capacity = sizeof text;
        while (endpoint.ReceiveFor(name.c_str(), text, capacity) != 0) {
            if (std::chrono::steady_clock::now() - last > std::chrono::minutes(1)) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            capacity = sizeof text;
        }
        last = std::chrono::steady_clock::now();
        endpoint.ReleaseReply(name.c_str());
        if (std::string(text).find("\nfinish\n") == std::string::npos) {
            return false;
        }
    }
    return true;
}

constexpr int kMixedJobs = 200;
double oneWorkerSeconds = 0;

void BM_ServerWorkers(benchmark::State& state) {
    const std::string program = ServerProgram();
    if (program.empty()) {
        state.SkipWithError("qor-refserver not found: build it, or set QOR_REFSERVER");
        return;
    }
    const int workers = static_cast<int>(state.range(0));
    TempDir inputs;
    const std::vector<MixedInput> mixed = WriteMixedInputs(inputs / "in");
    double total = 0;
    int64_t rounds = 0;
    for (auto _ : state) {
        TempDir dir;
        std::string error;
        InitServerTree(dir.Path(), error);
        MakeDirs(dir / "out");
        WriteFile(dir / "Data/volumes.txt", inputs.Path() + "\n");
        std::vector<JobTicket> tickets;
        for (int i = 0; i < kMixedJobs; ++i) {
            // One EPS in twenty, the pictures in turn; RGB and CMYK results.
            const MixedInput& m = i % 20 == 19
                                      ? mixed.back()
                                      : mixed[static_cast<std::size_t>(i) % (mixed.size() - 1)];
            JobTicket t = PhotoTicket(m.name, dir / ("out/job" + std::to_string(i)));
            t.width = m.widthInches * m.scale;
            t.height = m.heightInches * m.scale;
            t.scaleX = t.scaleY = m.scale;
            t.resX = t.resY = m.res;
            t.processOpt = i % 2 == 0 ? 0 : 4;
            tickets.push_back(t);
        }
        const pid_t pid = StartServer({program, "serve", dir.Path(), "--poll-ms", "20", "--id", "b",
                                       "--workers", std::to_string(workers)});
        // Timed from when every worker beats.
        for (int wait = 0; wait < 3000; ++wait) {
            bool all = PathExists(dir / "Data/service/alive/b");
            for (int k = 2; k <= workers; ++k) {
                all = all && PathExists(dir / ("Data/service/alive/b-w" + std::to_string(k)));
            }
            if (all) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        QOR_EndPointFile::ResetProcessStateForTesting();
        QOR_EndPointFile endpoint;
        endpoint.Connect((dir / "qorserver").c_str());
        const auto start = std::chrono::steady_clock::now();
        const bool answered = pid > 0 && SendAndWait(endpoint, tickets);
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ++rounds;
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
        if (!answered) {
            state.SkipWithError("a job was not answered with success");
            return;
        }
    }
    const double seconds = total / static_cast<double>(rounds);
    state.counters["jobs_per_second"] = kMixedJobs / seconds;
    if (workers == 1) {
        oneWorkerSeconds = seconds;
    } else if (oneWorkerSeconds > 0) {
        state.counters["ratio_to_one_worker"] = oneWorkerSeconds / seconds;
    }
}

// The process's peak resident memory so far, in kilobytes (VmHWM: its own,
// from its start; a child's ru_maxrss would count what the parent had when it
// forked).
int64_t PeakResidentKb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::atoll(line.c_str() + 6);
        }
    }
    return 0;
}

// What the process's open files under folder hold, in bytes (removed ones
// too).
int64_t OpenFileBytes(pid_t pid, const std::string& folder) {
    int64_t bytes = 0;
    std::error_code ec;
    const fs::path fds = "/proc/" + std::to_string(pid) + "/fd";
    for (fs::directory_iterator it(fds, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code linkError;
        const std::string target = fs::read_symlink(it->path(), linkError).string();
        struct stat info {};
        if (!linkError && target.rfind(folder, 0) == 0 && ::stat(it->path().c_str(), &info) == 0) {
            bytes += static_cast<int64_t>(info.st_size);
        }
    }
    return bytes;
}

void BM_LargeJobMemory(benchmark::State& state) {
    const std::string program = ServerProgram();
    if (program.empty()) {
        state.SkipWithError("qor-refserver not found: build it, or set QOR_REFSERVER");
        return;
    }
    TempDir dir;
    std::string error;
    InitServerTree(dir.Path(), error);
    MakeDirs(dir / "in");
    MakeDirs(dir / "out");
    MakeDirs(dir / "temp");
    const bool tiff = state.range(0) >= 1;
    const bool turned = state.range(0) == 2;
    const std::string in = dir / (tiff ? "in/large.tif" : "in/large.jpg");
    const VImage picture = Picture(12000, 8400, 300, 0);
    if (tiff) {
        picture.tiffsave(in.c_str(),
                         VImage::option()->set("resunit", VIPS_FOREIGN_TIFF_RESUNIT_INCH));
    } else {
        SaveJpeg(picture, in);
    }
    state.SetLabel(turned ? "TIFF 12000 x 8400 turned 90 degrees"
                   : tiff ? "TIFF 12000 x 8400"
                          : "JPEG 12000 x 8400");
    QOR_EndPointFile endpoint;
    endpoint.Connect((dir / "qorserver").c_str());
    int64_t peakRss = 0, tempBytes = 0;
    for (auto _ : state) {
        QOR_EndPointFile::ResetProcessStateForTesting();
        JobTicket t = PhotoTicket(in, dir / "out/large");
        t.width = (turned ? 28.0 : 40.0) * 0.25;
        t.height = (turned ? 40.0 : 28.0) * 0.25;
        t.angle = turned ? 90 : 0;
        char name[512];
        endpoint.SendNamed(name, TicketText(t).c_str(), 1024);
        const pid_t pid =
            StartServer({program, "serve", dir.Path(), "--once", "--workers", "1"}, dir / "temp");
        if (pid < 0) {
            state.SkipWithError("qor-refserver cannot be started");
            return;
        }
        // Both sampled every 2 ms until the process ends.
        int status = 0;
        while (::waitpid(pid, &status, WNOHANG) == 0) {
            peakRss = std::max(peakRss, PeakResidentKb(pid));
            tempBytes = std::max(tempBytes, OpenFileBytes(pid, dir / "temp"));
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        char text[1024];
        int capacity = sizeof text;
        if (endpoint.ReceiveFor(name, text, capacity) != 0 ||
            std::string(text).find("\nfinish\n") == std::string::npos) {
            state.SkipWithError("the job was not answered with success");
            return;
        }
        endpoint.ReleaseReply(name);
    }
    state.counters["peak_rss_mb"] = static_cast<double>(peakRss) / 1024.0;
    state.counters["temp_mb"] = static_cast<double>(tempBytes) / (1024.0 * 1024.0);
}

BENCHMARK(BM_VipsWorkAlone)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_ServerJobs)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_VipsThumbnailIcc)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ServerPhotos)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ServerWorkers)->Arg(1)->Arg(2)->Iterations(2)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_LargeJobMemory)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

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
