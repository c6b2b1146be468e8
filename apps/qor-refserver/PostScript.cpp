#include "PostScript.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Longest a rendering may take; a file that loops forever is stopped.
constexpr auto kTimeLimit = std::chrono::seconds(120);
// Largest file Ghostscript may write: the largest output this server makes
// (400 million pixels of four bytes) and room for the TIFF's own data.
constexpr rlim_t kMaxWritten = rlim_t(1700) * 1024 * 1024;

const std::string& GhostscriptPath() {
    static const std::string program = [] {
        const char* path = std::getenv("PATH");
        const std::string dirs = path != nullptr && path[0] != '\0' ? path : "/usr/bin:/bin";
        std::size_t start = 0;
        while (start <= dirs.size()) {
            const std::size_t end = std::min(dirs.find(':', start), dirs.size());
            if (end > start) {
                const std::string candidate = dirs.substr(start, end - start) + "/gs";
                if (::access(candidate.c_str(), X_OK) == 0) {
                    return candidate;
                }
            }
            start = end + 1;
        }
        return std::string();
    }();
    return program;
}

// Runs args[0] with standard output and errors into log, a small environment
// whose only temporary folder is tempFolder, and a limit on the size of the
// files it writes; its exit status, or -1 when it could not be started, was
// stopped by a signal or took longer than kTimeLimit (timedOut).
int Run(const std::vector<std::string>& args, const std::string& log, const std::string& tempFolder,
        bool& timedOut) {
    timedOut = false;
    // Everything the child needs is made before the fork: after it only
    // calls that are safe in a child of a threaded process are made.
    std::vector<char*> argv;
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    // No variable of the server's reaches Ghostscript (GS_OPTIONS and GS_LIB
    // would change what it does), only a path and the temporary folder.
    const std::vector<std::string> environment = {"PATH=/usr/bin:/bin",   "LC_ALL=C",
                                                  "TMPDIR=" + tempFolder, "TEMP=" + tempFolder,
                                                  "TMP=" + tempFolder,    "HOME=" + tempFolder};
    std::vector<char*> envp;
    for (const std::string& e : environment) {
        envp.push_back(const_cast<char*>(e.c_str()));
    }
    envp.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        return -1;
    }
    if (pid == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (in < 0 || out < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(out, 2) < 0 ||
            ::chdir(tempFolder.c_str()) != 0) {
            ::_exit(127);
        }
        const struct rlimit written = {kMaxWritten, kMaxWritten};
        ::setrlimit(RLIMIT_FSIZE, &written);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + kTimeLimit;
    int status = 0;
    for (auto pause = std::chrono::milliseconds(1);;
         pause = std::min(pause * 2, std::chrono::milliseconds(50))) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            break;
        }
        if (done < 0 && errno != EINTR) {
            return -1;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            timedOut = true;
            return -1;
        }
        std::this_thread::sleep_for(pause);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The last line Ghostscript wrote that says something, to tell why it failed.
std::string LastLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::string last;
    while (std::getline(in, line)) {
        if (line.find_first_not_of(" \t\r") != std::string::npos) {
            last = line;
        }
    }
    return last.size() > 160 ? last.substr(0, 160) : last;
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
    bool timedOut = false;
    const int status = Run({gs, "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-dEPSCrop",
                            "-dFirstPage=1", "-dLastPage=1", r, "-dTextAlphaBits=4",
                            "-dGraphicsAlphaBits=4", device, "-sOutputFile=" + image, "-f", path},
                           log, folder, timedOut);
    std::error_code ec;
    if (status != 0 || !fs::is_regular_file(image, ec)) {
        const std::string why = LastLine(log);
        error = timedOut ? "Ghostscript took longer than " + std::to_string(kTimeLimit.count()) +
                               " s on " + path
                : why.empty() ? "Ghostscript could not render " + path
                              : "Ghostscript could not render " + path + ": " + why;
        return false;
    }
    return true;
}
