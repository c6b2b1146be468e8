#include "OD_ClientSettings.h"

#include "OD_Preferences.h"
#include "Paths.h"
#include "Platform.h"

#include <charconv>
#include <optional>
#include <string>

namespace {

constexpr std::size_t kMaxSettingsBytes = 4096;

std::optional<int>& Cached() {
    static std::optional<int> seconds;
    return seconds;
}

std::string SettingsPath() {
    const char* identity = OD_PrefsData::IdentityFolder();
    if (identity == nullptr || identity[0] == '\0') {
        return std::string();
    }
    std::string path = identity;
    if (path.back() != kPathSeparator) {
        path += kPathSeparator;
    }
    return path + kODClientSettingsFileName;
}

bool InRange(int seconds) {
    return seconds >= kODNotAnsweringMinSeconds && seconds <= kODNotAnsweringMaxSeconds;
}

} // namespace

bool ParseClientSettings(std::string_view text, int& notAnsweringSeconds) {
    notAnsweringSeconds = kODNotAnsweringDefaultSeconds;
    bool whole = true;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        const std::size_t space = line.find(' ');
        if (line.empty() || space == std::string_view::npos) {
            whole = whole && line.empty();
            continue;
        }
        if (line.substr(0, space) != "notAnsweringSeconds") {
            continue;
        }
        const std::string_view value = line.substr(space + 1);
        int seconds = 0;
        auto [p, ec] = std::from_chars(value.data(), value.data() + value.size(), seconds);
        if (ec != std::errc() || p != value.data() + value.size() || !InRange(seconds)) {
            whole = false;
            continue;
        }
        notAnsweringSeconds = seconds;
    }
    return whole;
}

int NotAnsweringSeconds() {
    if (!Cached()) {
        int seconds = kODNotAnsweringDefaultSeconds;
        std::string text;
        const std::string path = SettingsPath();
        if (!path.empty() && platform::ReadWholeFile(path.c_str(), kMaxSettingsBytes, text) == 0) {
            ParseClientSettings(text, seconds);
        }
        Cached() = seconds;
    }
    return *Cached();
}

bool SetNotAnsweringSeconds(int seconds) {
    const std::string path = SettingsPath();
    if (!InRange(seconds) || path.empty()) {
        return false;
    }
    const std::string text = "notAnsweringSeconds " + std::to_string(seconds) + "\n";
    if (platform::WriteFileAtomically(path.c_str(), text.data(), text.size()) != 0) {
        return false;
    }
    Cached() = seconds;
    return true;
}

void ForgetClientSettingsForTesting() {
    Cached().reset();
}
