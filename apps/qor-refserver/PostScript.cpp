#include "PostScript.h"

#include "Subprocess.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Longest a rendering may take; a file that loops forever is stopped.
constexpr auto kTimeLimit = std::chrono::seconds(120);
// Largest file Ghostscript may write: the largest output this server makes
// (400 million pixels of four bytes) and room for the TIFF's own data.
constexpr uint64_t kMaxWritten = uint64_t(1700) * 1024 * 1024;

const std::string& GhostscriptPath() {
    static const std::string program = platform::FindProgram("gs");
    return program;
}

} // namespace

bool IsPostScriptFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char head[4] = {};
    if (!in.read(head, sizeof head)) {
        return false;
    }
    const unsigned char dosEps[4] = {0xC5, 0xD0, 0xD3, 0xC6};
    return (head[0] == '%' && head[1] == '!') || std::memcmp(head, dosEps, 4) == 0;
}

bool PostScriptSize(const std::string& path, double& width, double& height) {
    std::ifstream in(path, std::ios::binary);
    std::string text(64 * 1024, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    bool found = false;
    for (const char* key : {"%%HiResBoundingBox:", "%%BoundingBox:"}) {
        std::size_t at = text.find(key);
        double box[4] = {};
        if (at != std::string::npos &&
            std::sscanf(text.c_str() + at + std::strlen(key), "%lf %lf %lf %lf", &box[0], &box[1],
                        &box[2], &box[3]) == 4 &&
            box[2] > box[0] && box[3] > box[1]) {
            width = box[2] - box[0];
            height = box[3] - box[1];
            found = true;
            break;
        }
    }
    return found;
}

double PostScriptResolution(double outputResolution, double scale, double widthPt, double heightPt,
                            double maxPixels) {
    double resolution = std::max(1.0, outputResolution * scale);
    const double area = widthPt / 72.0 * heightPt / 72.0;
    if (area > 0 && resolution * resolution * area > maxPixels) {
        resolution = std::sqrt(maxPixels / area);
    }
    const double side = std::max(widthPt, heightPt) / 72.0;
    if (side > 0 && resolution * side > 40000) {
        resolution = 40000 / side;
    }
    return std::max(1.0, std::floor(resolution * 1000) / 1000);
}

PostScriptRendering::~PostScriptRendering() {
    if (!folder.empty()) {
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
}

bool PostScriptRendering::Render(const std::string& path, double resolution,
                                 PostScriptColour colour, std::string& error) {
    const std::string& gs = GhostscriptPath();
    if (gs.empty()) {
        error = "EPS and PostScript need Ghostscript (gs), which is not installed";
        return false;
    }
    if (folder.empty()) {
        std::error_code ec;
        std::string pattern = (fs::temp_directory_path(ec) / "qor-refserver-gs-XXXXXX").string();
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (::mkdtemp(name.data()) == nullptr) {
            error = "cannot make a temporary folder for Ghostscript";
            return false;
        }
        folder = name.data();
    }
    image = folder + "/page.tif";
    const std::string log = folder + "/gs.log";
    const char* device = colour == PostScriptColour::gray   ? "-sDEVICE=tiffgray"
                         : colour == PostScriptColour::cmyk ? "-sDEVICE=tiff32nc"
                                                            : "-sDEVICE=tiff24nc";
    char r[32];
    std::snprintf(r, sizeof r, "-r%.3f", resolution);
    platform::ConfinedRun how;
    how.folder = folder;
    how.log = log;
    how.timeLimit = kTimeLimit;
    how.maxWrittenBytes = kMaxWritten;
    const platform::RunResult run = platform::RunConfined(
        {gs, "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-dEPSCrop", "-dFirstPage=1", "-dLastPage=1",
         r, "-dTextAlphaBits=4", "-dGraphicsAlphaBits=4", device, "-sOutputFile=" + image, "-f",
         path},
        how);
    const int status = run.exitStatus;
    const bool timedOut = run.timedOut;
    std::error_code ec;
    if (status != 0 || !fs::is_regular_file(image, ec)) {
        const std::string why = platform::LastTextLine(log, 160);
        error = timedOut ? "Ghostscript took longer than " + std::to_string(kTimeLimit.count()) +
                               " s on " + path
                : why.empty() ? "Ghostscript could not render " + path
                              : "Ghostscript could not render " + path + ": " + why;
        return false;
    }
    return true;
}
