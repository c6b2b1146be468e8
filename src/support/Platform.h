#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

// The few file-system calls that the lower layers make, in one place so that
// the rest of the code never calls the C runtime's or the system's file
// functions directly. Results are 0 for success or the system's error number.
namespace platform {

struct FileTimes {
    int64_t modified = 0; // seconds since 1970
    int64_t created = 0;  // birth time where the file system keeps one, else change time
};

// The current calendar time in seconds since 1970. Tests may replace the
// source (null restores the system clock).
int64_t CurrentTime();
void SetTimeSourceForTesting(int64_t (*source)());

// Breaks a time into local calendar fields; false when it cannot.
bool LocalTime(int64_t t, struct ::tm& out);

// Breaks a time into the calendar fields of the local standard time: the
// local time without summer time, so that it never goes back when summer time
// ends. False when it cannot.
bool StandardTime(int64_t t, struct ::tm& out);

// True when the path names something that exists (file or folder).
bool Exists(const char* path);

// True when the path names a folder.
bool IsDirectory(const char* path);

// Whether the path names a regular file this process may read: 0, or the
// error number (EISDIR for a folder, EINVAL for a pipe or a device).
int CheckReadableFile(const char* path);

// The times of a file; 0, or the error number (ENOENT while it is missing).
int GetFileTimes(const char* path, FileTimes& times);

// Creates the file (or empties it when it exists), writes nothing.
int CreateEmptyFile(const char* path);

// Creates a file that must not exist yet, writes size bytes and, when sync is
// set, forces them to disk before closing. EEXIST when the name is taken; on
// any other failure the half-made file is removed.
int CreateNewFile(const char* path, const void* data, std::size_t size, bool sync);

// Tests only: a stand-in for the writes of CreateNewFile and WriteFileAtomically
// (of files that are not empty).
// Given the path, it returns the error number the write fails with (ENOSPC for
// a full disk, say) or 0 to let it write. Null restores the plain writes.
void SetWriteFaultForTesting(int (*fault)(const char* path));

// Writes a whole file so that it is either there whole or not changed at all:
// the bytes go to a hidden file beside it, are forced to disk and renamed over
// the target, and the folder's entries are forced to disk. 0 or the error
// number; on failure the hidden file is removed.
int WriteFileAtomically(const char* path, const void* data, std::size_t size);

// Removes a file; 0 or the error number.
int RemoveFile(const char* path);

// The names of the entries of a folder, without "." and ".."; 0 or the error
// number.
int ListFolder(const char* path, std::vector<std::string>& names);

// Makes a folder (the parent must exist); 0, or the error number (EEXIST
// counts as failure so that callers see a name that is already taken).
int MakeDirectory(const char* path);

// ---- whole files, for the document files of the host

// Renames a file over another in the same file system, replacing the target
// in one step; 0 or the error number.
int RenameFile(const char* from, const char* to);

// Forces a folder's entries (a rename into it, say) to disk; 0 or the error
// number.
int SyncDirectory(const char* path);

// Reads a whole regular file into out. EFBIG, without reading, when it is
// larger than maxSize bytes; EISDIR for a folder and EINVAL for anything else
// that is not a regular file; else 0 or the error number. out is left empty on
// failure.
int ReadWholeFile(const char* path, std::size_t maxSize, std::string& out);

} // namespace platform
