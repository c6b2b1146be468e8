// Feeds arbitrary bytes to the preferences reader, once as a preference file
// through LoadPreferenceFile and once straight from memory through the
// record's ReadWrite. A refused input must leave the record exactly as it was;
// an accepted one must write back into bytes that read as the same record.
#include "IPMStream.h"
#include "OD_Preferences.h"
#include "Paths.h"
#include "PreferenceFiles.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

namespace {

class TempFolder {
public:
    TempFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "ordodesk-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        path = pattern;
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    std::string path;
};

// A record whose every field differs from the defaults, so that a change by
// a refused read would show.
OD_PrefsData Marked() {
    OD_PrefsData r;
    r.SetResolution(123.0);
    r.SetOutFolder("marked");
    r.SetFrequency(99);
    r.SetShowPrefs(true);
    r.SetDefaultProcess("marked");
    return r;
}

void CheckPaths(const OD_PrefsData& r) {
    for (const char* p : {r.GetServerPath(), r.GetOutFolder(), r.GetOpiLoResFolder()}) {
        if (::strnlen(p, kODPrefsPathSize) >= kODPrefsPathSize) {
            std::abort();
        }
    }
}

// Writes the record and reads it back: the same record, every byte used.
void CheckRoundTrip(const OD_PrefsData& r) {
    MemoryStream out;
    r.Write(&out);
    MemoryStream in(out.TakeBytes());
    OD_PrefsData again;
    if (!again.Read(&in) || in.Remaining() != 0) {
        std::abort();
    }
    // Compare through the bytes, so that a NaN read from the input compares
    // equal to itself.
    MemoryStream first, second;
    r.Write(&first);
    again.Write(&second);
    if (first.Bytes() != second.Bytes()) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TempFolder folder;
    static const OD_PrefsData marked = Marked();
    static const std::vector<uint8_t> markedBytes = [] {
        MemoryStream out;
        Marked().Write(&out);
        return out.TakeBytes();
    }();
    auto unchanged = [&](const OD_PrefsData& r) {
        MemoryStream out;
        r.Write(&out);
        return out.Bytes() == markedBytes;
    };

    // From memory, through ReadWrite.
    {
        OD_PrefsData r = marked;
        MemoryStream in(std::vector<uint8_t>(data, data + size));
        r.ReadWrite(&in);
        CheckPaths(r);
        if (!in.Good() && !unchanged(r)) {
            std::abort();
        }
        if (in.Good()) {
            CheckRoundTrip(r);
        }
    }

    // As a preference file.
    const std::string path = folder.path + kPathSeparator + "input.opf";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    OD_PrefsData r = marked;
    PrefsFileResult result = LoadPreferenceFile(path, r);
    CheckPaths(r);
    if (!result) {
        if (!unchanged(r) || result.reason.empty()) {
            std::abort();
        }
    } else {
        CheckRoundTrip(r);
    }
    return 0;
}
