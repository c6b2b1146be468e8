// Image inspection over a mixed corpus made by the benchmark itself, against
// two floors measured in the same run:
//   bare    open, read 64 KiB, close of the same files (the physical floor)
//   direct  libtiff and libjpeg called directly for the same header fields
//           (the floor the dependencies set)
// and two size checks: an EPS whose data block is many megabytes against a
// small one, and a TIFF that carries a large private tag (image editors keep
// layer data in tag 37724) against a plain one.
//
// Each inspection row reports files_per_second and, where a floor exists,
// ratio_to_bare and ratio_to_direct.
#include "IMG_OpenImageFile.h"
#include "TempDir.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

extern "C" {
#include <jpeglib.h>
}
#include <tiffio.h>

namespace {

constexpr int kFilesPerFormat = 250; // five formats: 1250 files

// ---- fixtures

void WriteTiff(const std::string& path, uint32_t width, uint32_t height, uint16_t samples,
               uint16_t photometric, std::size_t bigTagBytes = 0) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, 300.0);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, 300.0);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, height);
    if (bigTagBytes > 0) {
        // Tag 37724 is known to libtiff as "ImageSourceData" (undefined, counted).
        std::vector<uint8_t> layers(bigTagBytes, 0x5A);
        TIFFSetField(tif, TIFFTAG_IMAGESOURCEDATA, static_cast<uint32_t>(layers.size()),
                     layers.data());
    }
    std::vector<uint8_t> row(static_cast<std::size_t>(width) * samples, 0x80);
    for (uint32_t y = 0; y < height; ++y) {
        TIFFWriteScanline(tif, row.data(), y, 0);
    }
    TIFFClose(tif);
}

void WriteJpeg(const std::string& path, int width, int height, int components) {
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    jpeg_stdio_dest(&c, f);
    c.image_width = static_cast<JDIMENSION>(width);
    c.image_height = static_cast<JDIMENSION>(height);
    c.input_components = components;
    c.in_color_space = components == 1 ? JCS_GRAYSCALE : (components == 4 ? JCS_CMYK : JCS_RGB);
    jpeg_set_defaults(&c);
    c.density_unit = 1;
    c.X_density = 300;
    c.Y_density = 300;
    jpeg_start_compress(&c, TRUE);
    std::vector<JSAMPLE> row(static_cast<std::size_t>(width) * components, 0x80);
    while (c.next_scanline < c.image_height) {
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&c, rows, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::fclose(f);
}

void Put16(std::string& s, uint16_t v) {
    s += static_cast<char>(v >> 8);
    s += static_cast<char>(v & 0xFF);
}
void Put32(std::string& s, uint32_t v) {
    Put16(s, static_cast<uint16_t>(v >> 16));
    Put16(s, static_cast<uint16_t>(v & 0xFFFF));
}

std::string Psd(uint32_t width, uint32_t height, uint16_t channels, uint16_t mode,
                std::size_t pixelBytes) {
    std::string s = "8BPS";
    Put16(s, 1);
    s.append(6, '\0');
    Put16(s, channels);
    Put32(s, height);
    Put32(s, width);
    Put16(s, 8);
    Put16(s, mode);
    Put32(s, 0); // colour-mode data
    std::string res;
    res += "8BIM";
    Put16(res, 1004);
    res.append(2, '\0');
    Put32(res, 16);
    res.append(16, 'x');
    res += "8BIM";
    Put16(res, 1005);
    res.append(2, '\0');
    Put32(res, 16);
    Put32(res, 300u << 16);
    Put16(res, 1);
    Put16(res, 2);
    Put32(res, 300u << 16);
    Put16(res, 1);
    Put16(res, 2);
    Put32(s, static_cast<uint32_t>(res.size()));
    s += res;
    Put32(s, 0); // layer and mask
    Put16(s, 0); // raw
    s.append(pixelBytes, '\x7f');
    return s;
}

std::string Eps(std::size_t binaryBytes) {
    std::string s = "%!PS-Adobe-3.0 EPSF-3.0\n%%Creator: Adobe Photoshop\n%%Title: photo.eps\n"
                    "%%BoundingBox: 0 0 240 192\n%%HiResBoundingBox: 0 0 240 192\n"
                    "%ImageData: 1000 800 8 3 0 1 1 \"beginimage\"\n";
    s += "%%BeginBinary: " + std::to_string(binaryBytes) + "\n";
    s.append(binaryBytes, '\x01');
    s += "\n%%EndBinary\n%%EOF\n";
    return s;
}

struct Corpus {
    TempDir dir;
    std::map<std::string, std::vector<std::string>> files; // by format
    std::string smallEps, hugeEps, plainTiff, bigTagTiff;

    Corpus() {
        for (int i = 0; i < kFilesPerFormat; ++i) {
            std::string n = std::to_string(i);
            const uint32_t w = 64 + static_cast<uint32_t>(i % 7) * 16;
            std::string tif = dir / ("t" + n + ".tif");
            WriteTiff(tif, w, 48, i % 3 == 0 ? 1 : (i % 3 == 1 ? 3 : 4),
                      i % 3 == 0 ? PHOTOMETRIC_MINISBLACK
                                 : (i % 3 == 1 ? PHOTOMETRIC_RGB : PHOTOMETRIC_SEPARATED));
            files["tiff"].push_back(tif);
            std::string jpg = dir / ("j" + n + ".jpg");
            WriteJpeg(jpg, static_cast<int>(w), 48, i % 3 == 0 ? 1 : (i % 3 == 1 ? 3 : 4));
            files["jpeg"].push_back(jpg);
            std::string psd = dir / ("p" + n + ".psd");
            WriteFile(psd, Psd(w, 48, static_cast<uint16_t>(3 + i % 2), 3, w * 48 * 3));
            files["psd"].push_back(psd);
            std::string pcd = dir / ("c" + n + ".pcd");
            WriteFile(pcd, std::string(2048, '\xff') + "PCD_IPI" + std::string(4096, '\0'));
            files["pcd"].push_back(pcd);
            std::string eps = dir / ("e" + n + ".eps");
            WriteFile(eps, Eps(4096 + static_cast<std::size_t>(i) * 64));
            files["eps"].push_back(eps);
        }
        smallEps = dir / "small.eps";
        WriteFile(smallEps, Eps(1024));
        hugeEps = dir / "huge.eps";
        WriteFile(hugeEps, Eps(64u << 20));
        plainTiff = dir / "plain.tif";
        WriteTiff(plainTiff, 256, 256, 3, PHOTOMETRIC_RGB);
        bigTagTiff = dir / "layers.tif";
        WriteTiff(bigTagTiff, 256, 256, 3, PHOTOMETRIC_RGB, 48u << 20);
    }
};

Corpus& TheCorpus() {
    static Corpus corpus;
    return corpus;
}

// Seconds per file of the floors, by format.
std::map<std::string, double> bareSeconds, directSeconds;

double SecondsPerFile(benchmark::State& state, const std::vector<std::string>& files,
                      bool (*each)(const std::string&)) {
    double total = 0;
    int64_t n = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        for (const auto& f : files) {
            if (!each(f)) {
                state.SkipWithError(("failed on " + f).c_str());
                return 0;
            }
        }
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        n += static_cast<int64_t>(files.size());
    }
    state.counters["files_per_second"] = static_cast<double>(n) / total;
    return total / static_cast<double>(n);
}

bool Bare(const std::string& path) {
    static std::vector<char> buffer(64 * 1024);
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    bool ok = ::read(fd, buffer.data(), buffer.size()) > 0;
    ::close(fd);
    return ok;
}

bool DirectTiff(const std::string& path) {
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (tif == nullptr) {
        return false;
    }
    uint32_t w = 0, h = 0;
    uint16_t spp = 0, bps = 0, photo = 0, unit = 2;
    float xres = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bps);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photo);
    TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xres);
    TIFFGetField(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    char* text = nullptr;
    TIFFGetField(tif, TIFFTAG_IMAGEDESCRIPTION, &text);
    TIFFGetField(tif, TIFFTAG_MODEL, &text);
    benchmark::DoNotOptimize(w + h + spp + bps + photo + unit + xres);
    TIFFClose(tif);
    return true;
}

struct JpegError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

void JpegExit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1);
}

bool DirectJpeg(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return false;
    }
    jpeg_decompress_struct d{};
    JpegError err{};
    d.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = JpegExit;
    if (setjmp(err.jump) != 0) {
        jpeg_destroy_decompress(&d);
        std::fclose(f);
        return false;
    }
    jpeg_create_decompress(&d);
    jpeg_stdio_src(&d, f);
    bool ok = jpeg_read_header(&d, FALSE) == JPEG_HEADER_OK;
    benchmark::DoNotOptimize(d.image_width + d.image_height + d.num_components + d.X_density);
    jpeg_destroy_decompress(&d);
    std::fclose(f);
    return ok;
}

bool Inspect(const std::string& path) {
    return IMG_OpenImageFile(path.c_str(), "r", true) != nullptr;
}

void BM_Bare(benchmark::State& state, const char* format) {
    bareSeconds[format] = SecondsPerFile(state, TheCorpus().files[format], Bare);
}

void BM_Direct(benchmark::State& state, const char* format) {
    directSeconds[format] = SecondsPerFile(state, TheCorpus().files[format],
                                           std::string(format) == "tiff" ? DirectTiff : DirectJpeg);
}

void BM_Inspect(benchmark::State& state, const char* format) {
    double s = SecondsPerFile(state, TheCorpus().files[format], Inspect);
    if (bareSeconds.count(format) && bareSeconds[format] > 0) {
        state.counters["ratio_to_bare"] = s / bareSeconds[format];
    }
    if (directSeconds.count(format) && directSeconds[format] > 0) {
        state.counters["ratio_to_direct"] = s / directSeconds[format];
    }
}

double smallSeconds = 0;

void BM_InspectOne(benchmark::State& state, const std::string* (*which)(), bool baseline) {
    const std::string& path = *which();
    double s = SecondsPerFile(state, {path}, Inspect);
    if (baseline) {
        smallSeconds = s;
    } else if (smallSeconds > 0) {
        state.counters["ratio_to_small"] = s / smallSeconds;
    }
}

const std::string* SmallEps() {
    return &TheCorpus().smallEps;
}
const std::string* HugeEps() {
    return &TheCorpus().hugeEps;
}
const std::string* PlainTiff() {
    return &TheCorpus().plainTiff;
}
const std::string* BigTagTiff() {
    return &TheCorpus().bigTagTiff;
}

} // namespace

BENCHMARK_CAPTURE(BM_Bare, tiff, "tiff")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Direct, tiff, "tiff")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Inspect, tiff, "tiff")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Bare, jpeg, "jpeg")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Direct, jpeg, "jpeg")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Inspect, jpeg, "jpeg")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Bare, psd, "psd")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Inspect, psd, "psd")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Bare, pcd, "pcd")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Inspect, pcd, "pcd")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Bare, eps, "eps")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Inspect, eps, "eps")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_InspectOne, eps_small, SmallEps, true)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_InspectOne, eps_64MiB_block, HugeEps, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_InspectOne, tiff_plain, PlainTiff, true)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_InspectOne, tiff_48MiB_tag37724, BigTagTiff, false)
    ->Unit(benchmark::kMicrosecond);
