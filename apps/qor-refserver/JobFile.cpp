#include "JobFile.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <map>
#include <vector>

namespace {

// The longest ticket line read: a path of the longest the plug-in sends
// (511 bytes) with room to spare.
constexpr std::size_t kLongestTicketLine = 1024;

// Splits at LF, dropping a CR before it.
std::vector<std::string> Lines(const std::string& text, std::size_t maxLines,
                               std::size_t& consumed) {
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (lines.size() < maxLines && pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) {
            break; // a header line without its line end: the file is cut short
        }
        std::string line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
        pos = end + 1;
    }
    consumed = pos;
    return lines;
}

bool ToDouble(const std::string& text, double& out) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v)) {
        return false;
    }
    out = v;
    return true;
}

bool ToInt(const std::string& text, int& out) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < -1000000 || v > 1000000) {
        return false;
    }
    out = static_cast<int>(v);
    return true;
}

} // namespace

bool IsPlainFolderName(const std::string& name) {
    if (name.empty() || name.size() > 256 || name == "." || name == "..") {
        return false;
    }
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F || c == '/' || c == '\\' || c == ':') {
            return false;
        }
    }
    return true;
}

bool ParseJobFile(const std::string& text, JobFile& job, std::string& error) {
    std::size_t consumed = 0;
    std::vector<std::string> head = Lines(text, 6, consumed);
    if (head.size() < 6) {
        error = "job file cut short: " + std::to_string(head.size()) + " of 6 header lines";
        return false;
    }
    if (head[0] != "VLMP") {
        error = "not a job file (no VLMP marker)";
        return false;
    }
    if (head[1] != "1") {
        error = "job file layout " + head[1] + " is not known";
        return false;
    }
    if (!IsPlainFolderName(head[3])) {
        error = "job file names no usable client";
        return false;
    }
    job.clientId = head[3];
    job.sent = head[4];
    job.program = head[5];
    job.body = text.substr(consumed);
    return true;
}

JobKind KindOf(const std::string& body) {
    std::string word = body.substr(0, body.find('\n'));
    if (!word.empty() && word.back() == '\r') {
        word.pop_back();
    }
    if (word == "CONNECT" && body.size() <= word.size() + 2) {
        return JobKind::connect;
    }
    if (word == "DECONNECT" && body.size() <= word.size() + 2) {
        return JobKind::disconnect;
    }
    if (word == "PROCESS") {
        return JobKind::process;
    }
    return JobKind::unknown;
}

bool ParseTicket(const std::string& body, JobTicket& t, std::string& error) {
    static const char* const kKeys[] = {
        "PATHIN",    "PATHOUT", "HUNITS",     "VUNITS",       "TOP",    "LEFT",
        "WIDTH",     "HEIGHT",  "SCALEX",     "SCALEY",       "RESX",   "RESY",
        "ANGLE",     "PREFIX",  "PROCESSOPT", "FLIPGD",       "FLIPHB", "SKEWH",
        "OVERWRITE", "PROFILE", "DOCROP",     "DEL_SRC_IMAGE"};
    std::size_t consumed = 0;
    std::vector<std::string> lines = Lines(body + "\n", 64, consumed);
    if (lines.empty() || lines[0] != "PROCESS") {
        error = "ticket does not begin with PROCESS";
        return false;
    }
    std::map<std::string, std::string> values;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (line.empty()) {
            continue;
        }
        if (line.size() > kLongestTicketLine) {
            error = "ticket line " + std::to_string(i + 1) + " is longer than " +
                    std::to_string(kLongestTicketLine) + " bytes";
            return false;
        }
        std::size_t colon = line.find(':');
        if (colon == std::string::npos) {
            error = "ticket line " + std::to_string(i + 1) + " has no key";
            return false;
        }
        std::string key = line.substr(0, colon);
        std::string value = line.substr(colon + 1);
        if (!value.empty() && value[0] == ' ') {
            value.erase(0, 1);
        }
        if (!values.emplace(key, value).second) {
            error = "ticket gives " + key + " twice";
            return false;
        }
    }
    for (const char* key : kKeys) {
        if (values.find(key) == values.end()) {
            error = std::string("ticket has no ") + key + " line";
            return false;
        }
    }
    auto num = [&](const char* key, double& out) {
        if (!ToDouble(values[key], out)) {
            error = std::string("ticket's ") + key + " is not a number: " + values[key];
            return false;
        }
        return true;
    };
    auto integer = [&](const char* key, int& out) {
        if (!ToInt(values[key], out)) {
            error = std::string("ticket's ") + key + " is not a whole number: " + values[key];
            return false;
        }
        return true;
    };
    auto flag = [&](const char* key, bool& out) {
        int v = 0;
        if (!integer(key, v)) {
            return false;
        }
        if (v != 0 && v != 1) {
            error = std::string("ticket's ") + key + " is neither 0 nor 1";
            return false;
        }
        out = v == 1;
        return true;
    };
    if (values["HUNITS"] != "inch" || values["VUNITS"] != "inch") {
        error = "ticket's units are not inches";
        return false;
    }
    t.pathIn = values["PATHIN"];
    t.pathOut = values["PATHOUT"];
    t.prefix = values["PREFIX"];
    t.profile = values["PROFILE"];
    if (!num("TOP", t.top) || !num("LEFT", t.left) || !num("WIDTH", t.width) ||
        !num("HEIGHT", t.height) || !num("SCALEX", t.scaleX) || !num("SCALEY", t.scaleY) ||
        !integer("RESX", t.resX) || !integer("RESY", t.resY) || !num("ANGLE", t.angle) ||
        !integer("PROCESSOPT", t.processOpt) || !flag("FLIPGD", t.flipH) ||
        !flag("FLIPHB", t.flipV) || !num("SKEWH", t.skewH) || !flag("OVERWRITE", t.overwrite) ||
        !flag("DOCROP", t.doCrop) || !flag("DEL_SRC_IMAGE", t.deleteSource)) {
        return false;
    }
    if (t.pathIn.empty()) {
        error = "ticket names no input image";
        return false;
    }
    for (const std::string* text : {&t.pathIn, &t.pathOut, &t.prefix, &t.profile}) {
        if (std::any_of(text->begin(), text->end(),
                        [](unsigned char c) { return c < 0x20 || c == 0x7F; })) {
            error = "ticket's paths, prefix or profile hold control characters";
            return false;
        }
    }
    if (t.resX < 1 || t.resY < 1 || t.resX > 10000 || t.resY > 10000) {
        error = "output resolution must lie between 1 and 10000 pixels per inch";
        return false;
    }
    if (!(t.scaleX > 0 && t.scaleY > 0 && t.scaleX <= 1000 && t.scaleY <= 1000)) {
        error = "scale must lie above 0 and at most 1000";
        return false;
    }
    if (!(t.width > 0 && t.height > 0)) {
        error = "crop width and height must be above 0";
        return false;
    }
    if (std::fabs(t.angle) > 360 || std::fabs(t.skewH) >= 85) {
        error = "angle or skew out of range";
        return false;
    }
    if (t.prefix.size() > 5) {
        t.prefix.resize(5);
    }
    return true;
}
