#include "ServerTree.h"

#include "IMG_Exception.h"
#include "QOR_Stream.h"
#include "Volumes.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace fs = std::filesystem;

ServerFolders::ServerFolders(const std::string& rootPath) : root(rootPath) {
    fs::path r(rootPath);
    app = (r / kServerAppName).string();
    data = (r / "Data").string();
    service = (r / "Data" / "service").string();
    qor2 = (r / "Data" / "service" / "qor2").string();
    alive = (r / "Data" / "service" / "alive").string();
    tmp = (r / "Data" / "tmp").string();
    clients = (r / "Data" / "clients").string();
    claimed = (r / "Data" / "claimed").string();
    profiles = (r / "Data" / "profiles").string();
    rejected = (r / "Data" / "rejected").string();
    log = (r / "Data" / "service" / "qor2" / "jobs.log").string();
}

namespace {

// ---- what init publishes

struct FormatChoice {
    int code;      // 0 TIFF, 4 JPEG
    int values[3]; // the format's option block
};

const FormatChoice kTiffLzw = {0, {1, 1, 0}};
const FormatChoice kJpeg85 = {4, {85, 0, 1}};

struct ProfileText {
    const char* name; // empty for the default profile
    FormatChoice formats[3];
    int correction[4]; // black clip, white clip, gamma x100, brightness
    const char* modes;
    const char* title;
    const char* cmyk;
    const char* rgb;
    const char* opiFolder = nullptr; // relative to the root; null: no OPI section
};

const ProfileText kProfiles[] = {
    {"",
     {kTiffLzw, kTiffLzw, kTiffLzw},
     {0, 0, 100, 0},
     "0 0 0",
     "Keep colour space",
     "cmyk",
     "srgb"},
    {"General",
     {kTiffLzw, kTiffLzw, kTiffLzw},
     {1, 1, 100, 0},
     "1 2 0",
     "General correction",
     "cmyk",
     "srgb"},
    {"Newsprint CMYK",
     {kTiffLzw, kTiffLzw, kTiffLzw},
     {2, 1, 90, 0},
     "4 4 0",
     "Newsprint CMYK",
     "cmyk",
     "srgb"},
    {"Web RGB", {kJpeg85, kJpeg85, kJpeg85}, {1, 1, 100, 0}, "0 0 2", "Web RGB", "cmyk", "srgb"},
    {"Gray", {kTiffLzw, kTiffLzw, kTiffLzw}, {1, 1, 100, 0}, "1 1 1", "Gray", "cmyk", "srgb"},
    {"OPI",
     {kTiffLzw, kTiffLzw, kTiffLzw},
     {0, 0, 100, 0},
     "0 0 0",
     "OPI high resolution",
     "cmyk",
     "srgb",
     "Data/lowres"},
};

// The low-resolution placeholders' suffix when a profile gives none.
constexpr const char* kNoSuffix = "-";

const char* ExtensionOf(int code) {
    return code == 4 ? "jpg" : "tif";
}

const char* NameOf(int code) {
    return code == 4 ? "JPEG" : "TIFF";
}

std::string FileOptionsText(const ProfileText& p) {
    std::ostringstream s;
    s << "????\n"
      << "## section revision of this server (not used when read)\n1\n"
      << "## layout version\n260\n"
      << "File options\n"
      << "## output format of a gray, an RGB and a CMYK result: 0 TIFF, 4 JPEG\n"
      << p.formats[0].code << "\n"
      << p.formats[1].code << "\n"
      << p.formats[2].code << "\n"
      << "## resolution unit written into the output: 0 inch, 1 centimetre\n0\n";
    const char* kinds[3] = {"gray", "RGB", "CMYK"};
    for (int i = 0; i < 3; ++i) {
        const FormatChoice& f = p.formats[i];
        s << "## " << kinds[i] << " result: format name, file extension, embed ICC profile (0/1)\n"
          << NameOf(f.code) << "\n"
          << ExtensionOf(f.code) << "\n"
          << 1 << "\n";
        if (f.code == 4) {
            s << "## JPEG: quality (1-100), progressive (0/1), optimized coding (0/1)\n";
        } else {
            s << "## TIFF: compression (0 none, 1 LZW, 2 Deflate), predictor (0 none, 1 "
                 "horizontal), tile edge (0 strips)\n";
        }
        s << f.values[0] << "\n" << f.values[1] << "\n" << f.values[2] << "\n";
    }
    return s.str();
}

// Ghostscript's ICC profiles where it is installed (Debian's ghostscript
// package); libvips' built-in ones otherwise.
std::string IccName(const std::string& builtIn) {
    const std::string file = builtIn == "cmyk" ? "default_cmyk.icc" : "srgb.icc";
    const fs::path path = fs::path("/usr/share/color/icc/ghostscript") / file;
    std::error_code ec;
    return fs::is_regular_file(path, ec) ? path.string() : builtIn;
}

std::string ColourCorrectionText(const ProfileText& p) {
    std::ostringstream s;
    s << "????\n"
      << "## section revision of this server (not used when read)\n1\n"
      << "## layout version\n260\n"
      << "## correction: percent clipped to black, percent clipped to white, gamma x100, "
         "brightness offset\n"
      << p.correction[0] << "\n"
      << p.correction[1] << "\n"
      << p.correction[2] << "\n"
      << p.correction[3] << "\n"
      << "## process option for gray, RGB and CMYK input when a ticket leaves it to the "
         "profile\n"
      << p.modes << "\n"
      << "## title, ICC profile of CMYK results, ICC profile of RGB results, ICC profile "
         "assumed for CMYK input\n"
      << p.title << "\n"
      << IccName(p.cmyk) << "\n"
      << IccName(p.rgb) << "\n"
      << IccName("cmyk") << "\n"
      << "## rendering intent (0 perceptual, 1 relative, 2 saturation, 3 absolute), black "
         "point compensation (0/1)\n"
      << "0\n1\n";
    return s.str();
}

std::string OpiText(const ProfileText& p) {
    std::ostringstream s;
    s << "????\n"
      << "## section revision of this server (not used when read)\n1\n"
      << "## layout version\n260\n"
      << "OPI\n"
      << "## folder of the low-resolution placeholders: a full path, or one relative to the root\n"
      << p.opiFolder << "\n"
      << "## appended to the output's file name there (\"" << kNoSuffix << "\": nothing)\n"
      << kNoSuffix << "\n"
      << "## the placeholder's preview: pixels per inch, at most\n72\n";
    return s.str();
}

std::string CurparamText() {
    std::ostringstream s;
    s << "????\n"
      << "## path style of the paths this server writes: 2 '/'\n2\n"
      << "## file version\n258\n"
      << "Named parameter sets\n"
      << "## list A, offered as output-name prefixes for RGB and Lab images: a title line, "
         "then the set's path, its name and its number after '#'\n"
      << "2\n"
      << "Bright\nData/params/rgb/BRT#1\n"
      << "Neutral\nData/params/rgb/NTR#2\n"
      << "## list B, offered as prefixes for gray images\n"
      << "2\n"
      << "Soft\nData/params/gray/SFT#1\n"
      << "Archive\nData/params/gray/ARC#2\n"
      << "## four lists of this server's own (look-up tables, watched folders, printers, "
         "proofers): a count, then that many lines; none are published\n"
      << "0\n0\n0\n0\n"
      << "## processing sets: a count, then each block; none are published\n"
      << "0\n"
      << "## job profiles: a title line, the count, one path per profile relative to the root\n"
      << "Job profiles\n";
    int count = 0;
    for (const ProfileText& p : kProfiles) {
        count += p.name[0] != '\0' ? 1 : 0;
    }
    s << count << "\n";
    for (const ProfileText& p : kProfiles) {
        if (p.name[0] != '\0') {
            s << "Data/profiles/" << p.name << "\n";
        }
    }
    return s.str();
}

std::string ConvpathText(const std::string& root) {
    std::string r = fs::absolute(fs::path(root)).lexically_normal().string();
    if (r.empty() || r.back() != '/') {
        r += '/';
    }
    std::ostringstream s;
    s << "## a folder as a client machine sees it, then the same folder as this server writes "
         "it;\n"
      << "## edit the first text where clients mount the server's root elsewhere\n"
      << "\"" << r << "\" \"" << r << "\"\n";
    return s.str();
}

bool WriteIfMissing(const std::string& path, const std::string& text, std::string& error) {
    std::error_code ec;
    if (fs::exists(path, ec)) {
        return true;
    }
    std::ofstream out(path, std::ios::binary);
    out << text;
    out.close();
    if (!out) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

// ---- reading a profile back

class SectionReader {
public:
    explicit SectionReader(QOR_FileStream& s) : stream(s) {}

    bool Line(std::string& out) {
        char buffer[kLineMax + 1];
        if (stream.ReadLine(buffer, kLineMax) != 0) {
            return false;
        }
        out = buffer;
        return true;
    }
    bool Skip(int count) {
        std::string dropped;
        for (int i = 0; i < count; ++i) {
            if (!Line(dropped)) {
                return false;
            }
        }
        return true;
    }
    bool Int(int& value) {
        std::string text;
        if (!Line(text)) {
            return false;
        }
        char* end = nullptr;
        long v = std::strtol(text.c_str(), &end, 10);
        if (end == text.c_str() || v < -100000 || v > 100000) {
            return false;
        }
        value = static_cast<int>(v);
        return true;
    }
    bool Header() {
        std::string text;
        return Line(text) && text == "????";
    }

private:
    static constexpr int kLineMax = 256;
    QOR_FileStream& stream;
};

bool ReadFileOptions(SectionReader& r, ServerProfile& p) {
    int revision = 0;
    int version = 0;
    if (!r.Header() || !r.Int(revision) || !r.Int(version) || !r.Skip(1)) {
        return false;
    }
    for (OutputFormat& o : p.outputs) {
        if (!r.Int(o.code)) {
            return false;
        }
    }
    if (version > 257 && !r.Int(p.resolutionUnit)) {
        return false;
    }
    for (OutputFormat& o : p.outputs) {
        std::string title;
        int embed = 0;
        if (!r.Line(title) || !r.Line(o.extension) || !r.Int(embed)) {
            return false;
        }
        o.embedIcc = embed != 0;
        int lines = 0;
        if (o.code == 0) {
            lines = 3;
        } else if (o.code == 4) {
            lines = 1 + (version > 259 ? 2 : 0) + (version >= 261 ? 1 : 0);
        } else {
            // A format this server does not write: the rest of the section
            // cannot be followed; the kinds read so far keep their values.
            return true;
        }
        for (int i = 0; i < lines; ++i) {
            int v = 0;
            if (!r.Int(v)) {
                return false;
            }
            if (i < 3) {
                o.values[i] = v;
            }
        }
    }
    return true;
}

bool ReadColourCorrection(SectionReader& r, ServerProfile& p) {
    int revision = 0;
    int version = 0;
    if (!r.Header() || !r.Int(revision) || !r.Int(version)) {
        return false;
    }
    if (!r.Int(p.blackClip) || !r.Int(p.whiteClip) || !r.Int(p.gammaPercent) ||
        !r.Int(p.brightness)) {
        return false;
    }
    std::string modes;
    if (!r.Line(modes)) {
        return false;
    }
    std::istringstream m(modes);
    if (!(m >> p.modes[0] >> p.modes[1] >> p.modes[2])) {
        return false;
    }
    if (!r.Line(p.title) || !r.Line(p.cmykProfile) || (version < 257 && !r.Skip(1)) ||
        !r.Line(p.rgbProfile) || !r.Line(p.cmykInputProfile)) {
        return false;
    }
    int bpc = 1;
    if (version >= 259 && (!r.Int(p.intent) || !r.Int(bpc))) {
        return false;
    }
    p.blackPointCompensation = bpc != 0;
    return true;
}

// The OPI section, when the file has one after its colour correction.
bool ReadOpi(SectionReader& r, const ServerFolders& folders, ServerProfile& p) {
    if (!r.Header()) {
        return true; // none: no placeholders
    }
    int revision = 0;
    int version = 0;
    std::string title;
    if (!r.Int(revision) || !r.Int(version) || !r.Line(title) || !r.Line(p.opiFolder) ||
        !r.Line(p.opiSuffix) || !r.Int(p.opiPreviewResolution)) {
        return false;
    }
    if (p.opiSuffix == kNoSuffix) {
        p.opiSuffix.clear();
    }
    if (p.opiSuffix.size() > 5 || p.opiSuffix.find('/') != std::string::npos ||
        p.opiPreviewResolution < 1 || p.opiPreviewResolution > 1200 || p.opiFolder.empty()) {
        return false;
    }
    if (fs::path(p.opiFolder).is_relative()) {
        p.opiFolder = (fs::path(folders.root) / p.opiFolder).lexically_normal().string();
    }
    return true;
}

bool OpenSection(QOR_FileStream& stream, const std::string& path) {
    try {
        stream.Open(path.c_str(), "rb");
        return true;
    } catch (const IMG_Exception&) {
        return false;
    }
}

// A profile name names a file in the profiles folder and nothing else.
bool IsPlainName(const std::string& name) {
    return !name.empty() && name.size() <= 31 && name != "." && name != ".." &&
           name.find('/') == std::string::npos && name.find('\\') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

} // namespace

bool InitServerTree(const std::string& root, std::string& error,
                    const std::vector<std::string>& volumes) {
    ServerFolders f(root);
    std::error_code ec;
    for (const std::string& dir : {f.qor2, f.tmp, f.clients, f.claimed, f.profiles, f.rejected}) {
        fs::create_directories(dir, ec);
        if (ec) {
            error = "cannot make folder " + dir + ": " + ec.message();
            return false;
        }
    }
    if (!WriteIfMissing(f.app,
                        "The reference QOR server's application file: the server path that "
                        "clients are given names it; its folder is the server root.\n",
                        error) ||
        !WriteIfMissing((fs::path(f.data) / "curparam.txt").string(), CurparamText(), error) ||
        !WriteIfMissing((fs::path(f.data) / "convpath.txt").string(), ConvpathText(root), error) ||
        !WriteIfMissing((fs::path(f.data) / kVolumesFile).string(), VolumesText(root, volumes),
                        error)) {
        return false;
    }
    for (const ProfileText& p : kProfiles) {
        if (p.name[0] == '\0') {
            if (!WriteIfMissing((fs::path(f.data) / "fileopt.txt").string(), FileOptionsText(p),
                                error) ||
                !WriteIfMissing((fs::path(f.data) / "ccoopt.txt").string(), ColourCorrectionText(p),
                                error)) {
                return false;
            }
        } else if (!WriteIfMissing((fs::path(f.profiles) / p.name).string(),
                                   FileOptionsText(p) + ColourCorrectionText(p) +
                                       (p.opiFolder != nullptr ? OpiText(p) : ""),
                                   error)) {
            return false;
        }
        if (p.opiFolder != nullptr) {
            fs::create_directories(fs::path(root) / p.opiFolder, ec);
            if (ec) {
                error = "cannot make folder " + (fs::path(root) / p.opiFolder).string() + ": " +
                        ec.message();
                return false;
            }
        }
    }
    return true;
}

bool LoadServerProfile(const ServerFolders& folders, const std::string& name,
                       ServerProfile& profile, std::string& error) {
    profile = ServerProfile();
    profile.name = name;
    if (name.empty()) {
        QOR_FileStream fileOpt;
        QOR_FileStream cco;
        if (!OpenSection(fileOpt, (fs::path(folders.data) / "fileopt.txt").string()) ||
            !OpenSection(cco, (fs::path(folders.data) / "ccoopt.txt").string())) {
            error = "the default profile's files are missing";
            return false;
        }
        SectionReader f(fileOpt);
        SectionReader c(cco);
        if (!ReadFileOptions(f, profile) || !ReadColourCorrection(c, profile)) {
            error = "the default profile does not read";
            return false;
        }
        return true;
    }
    if (!IsPlainName(name)) {
        error = "unknown profile \"" + name + "\"";
        return false;
    }
    QOR_FileStream stream;
    if (!OpenSection(stream, (fs::path(folders.profiles) / name).string())) {
        error = "unknown profile \"" + name + "\"";
        return false;
    }
    SectionReader r(stream);
    if (!ReadFileOptions(r, profile) || !ReadColourCorrection(r, profile) ||
        !ReadOpi(r, folders, profile)) {
        error = "profile \"" + name + "\" does not read";
        return false;
    }
    return true;
}
