#pragma once

#include "FileStream.h"
#include "OD_Preferences.h"

#include <cstdint>
#include <string>
#include <vector>

// Preference files: a preferences record saved by the user, exactly the
// bytes that the record's ReadWrite writes, in a file of type "ODPF" made by
// "InDn" with the extension "opf", kept in the identity folder.
inline constexpr SysOSType kPrefsFileType = MakeOSType("ODPF");
inline constexpr SysOSType kPrefsFileCreator = MakeOSType("InDn");
inline constexpr const char* kPrefsFileExtension = "opf";

enum class PrefsFileCode : int32_t {
    kOK = 0,
    kCannotOpen = -1,  // missing, unreadable, a folder
    kWrongType = -2,   // the file records another file type
    kBadVersion = -3,  // not a version of the record that can be read
    kDamaged = -4,     // ends early, a bad length or flag, bytes after the record
    kCannotWrite = -5, // saving failed; the old file is untouched
};

struct PrefsFileResult {
    PrefsFileCode code = PrefsFileCode::kOK;
    // What went wrong, in words (English, for the log); empty on success.
    std::string reason;
    explicit operator bool() const { return code == PrefsFileCode::kOK; }
};

// Writes the record to the file, replacing it whole or not at all.
PrefsFileResult SavePreferenceFile(const OD_PrefsData& record, const std::string& path);

// Reads the file into a fresh record (defaults first) and, only when the
// whole file reads as one record, hands it over in record. A file that cannot
// be opened, records another file type, holds a version outside 256..263, is
// damaged anywhere, or carries bytes after the record leaves record exactly as
// it was, and the result says why.
PrefsFileResult LoadPreferenceFile(const std::string& path, OD_PrefsData& record);

// The path of the preference file of that name in the identity folder. Empty
// when there is no identity folder or the name is not a plain file name (empty,
// ".", "..", holding a separator, or longer than 255 bytes).
std::string PreferenceFilePath(const std::string& name);

// The names of the preference files (extension "opf" in any case) in the
// identity folder, sorted; empty when there is no identity folder.
std::vector<std::string> ListPreferenceFiles();
