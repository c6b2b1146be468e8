#pragma once

#include <cstddef>

// Local paths are joined and split with one separator, the native one. Every
// place that builds a path on this machine uses it through these helpers;
// separators that belong to a protocol (the server's path styles, the texts
// the server writes) are spelled out where they are used instead.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// Copies src into dst, which holds cap bytes with the terminating NUL. Returns
// false when src did not fit; dst then holds as much as fitted, terminated, and
// callers that would otherwise name another file must treat it as a failure.
bool CopyBounded(char* dst, std::size_t cap, const char* src);

// Appends src to the text in dst (capacity cap with the NUL); false when cut.
bool AppendBounded(char* dst, std::size_t cap, const char* src);

// Appends the native separator and then name; false when cut.
bool AppendPathPart(char* dst, std::size_t cap, const char* name);

// The last native separator in path, or null when there is none.
char* LastSeparator(char* path);
const char* LastSeparator(const char* path);

// The file name at the end of a path: what follows its last native separator
// (the whole path when it has none).
const char* FileNamePart(const char* path);
