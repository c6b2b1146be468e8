#pragma once

#include "Paths.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// What the host tells its plug-ins about the machine: the system folder, the
// path of the running module, and the few file calls that code above the host
// makes (existence, status, removal, folder listing). Code above the host uses
// these instead of the C runtime.
//
// Process-wide state used from the host's main thread only; nothing locks.
class HostPlatform {
public:
    static constexpr char kSeparator = kPathSeparator;
    // The longest system folder the host hands out, in bytes (a buffer of
    // kSystemFolderMax + 1 bytes always holds it).
    static constexpr std::size_t kSystemFolderMax = 511;

    // The system folder: the machine-wide folder under which plug-ins keep
    // their shared files (the Windows folder on Windows). The front end sets
    // it at start; tests give a temporary one. Trailing separators are dropped
    // (the root folder stays "/"). Until it is set it is empty, and plug-ins
    // then have no system folder to work in.
    static void SetSystemFolder(const std::string& path);
    static const std::string& GetSystemFolder();

    // Copies the system folder into buffer, NUL-terminated, in the manner of
    // the Windows call: returns its length (without the NUL) when it fits;
    // when it does not, writes an empty text (capacity permitting) and returns
    // the capacity needed, NUL included. Returns 0 when no system folder is
    // set or it is longer than kSystemFolderMax.
    static std::size_t GetSystemFolder(char* buffer, std::size_t capacity);

    // The path of the module that holds the plug-in: the path of the running
    // program (empty when even that cannot be found).
    static std::string GetModulePath();

    // True when the path names something that exists (file or folder).
    static bool Access(const char* path);
    static bool IsDirectory(const char* path);

    struct FileInfo {
        bool isDirectory = false;
        int64_t modified = 0; // seconds since 1970
        int64_t created = 0;  // birth time where kept, else change time
    };
    // The status of a file or folder: 0, or the system's error number (info
    // unchanged).
    static int Stat(const char* path, FileInfo& info);

    // Removes a file: 0, or the system's error number.
    static int Unlink(const char* path);

    // The names of the plain files in a folder (no sub-folders, no "." or
    // ".."), sorted byte-wise: 0, or the system's error number (names empty).
    static int ListFiles(const char* folder, std::vector<std::string>& names);

    // Forgets the system folder (shutdown and tests).
    static void Reset();
};
