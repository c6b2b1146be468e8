#pragma once

#include "OD_ProcData.h"
#include "UIDRef.h"

#include <cstddef>
#include <string>

// Size of the buffers that take a link's names and a proxy's linked name,
// with the NUL.
inline constexpr std::size_t kODNameBufferSize = 512;

// What a linked file's name gives an order: the output base name and the
// name prefix.
struct OD_NameParts {
    std::string baseName;   // without a short extension and a leading "prefix#"
    std::string namePrefix; // the part before the first "#", at most 5 bytes
    bool hasPrefix = false; // the name had a "#" (the prefix may be empty)
};

// Splits a file name: an extension of at most 4 bytes after the last "." is
// dropped ("Photo.tif" gives "Photo", "archive.backup" stays whole); then,
// when the rest has a "#", the part before the first one is the name prefix
// (cut to its first 5 bytes, never inside a UTF-8 sequence) and the part
// after it the base name ("ABCDEFG#Photo.tif" gives "Photo" and "ABCDE").
OD_NameParts SplitOrderName(const char* fileName);

// Builds or refreshes the order record of a placed image from its link, its
// file and the session's preferences and server link:
// - the output name and name prefix from the link's file name, linkPath from
//   its full path, status Ready, or Provisional when provisional is set;
// - the file is inspected with the session's OPI switch; a file that no
//   reader accepts gives status kODStatusUnreadable;
// - pixel size, format code, colour class and resolution (a file that gives
//   none, resolution 0, is taken at kODUnknownResolution); a proxy that names
//   its high-resolution file has that file as sourcePath, and when the
//   proxy's own colour model or resolution tells nothing the named file is
//   inspected (found directly or through the server's path conversion) for
//   class and resolution, each taken only where the proxy's is unknown and
//   the named file's is known;
// - when the session holds the server link, the process code, prefix and
//   profile by class from the preferences' slot defaults, a processing mark
//   in the file (gray, RGB and Lab only) and the server's profile named by
//   "Default Process"; an image of no supported class that is not a TIFF
//   naming its high-resolution file gives status kODStatusUnsupported.
// Without the session's preferences only the names and status are set.
// A link name or path that does not fit its 512-byte buffer is taken as no
// link, and a high-resolution file name that does not fit it makes the order
// unreadable with an empty sourcePath: a name is never cut into the name of
// another file. Fields the steps do
// not reach keep what the record held. Always returns 0; what went wrong is
// in status.
int FillOrderFromImage(const UIDRef& item, OD_ProcData& record, bool provisional);

// String keys of why an image cannot be ordered.
inline constexpr const char* kODUnsupportedFormatKey = "0x71900kOrdoErrStrUnsupportedFormat";
inline constexpr const char* kODUnsupportedPixelTypeKey = "0x71900kOrdoErrStrUnsupportedPixelType";
inline constexpr const char* kODFileMissingKey = "0x71900kOrdoErrFileMissing";

// Why an order record's image cannot be ordered: for an unreadable one the
// missing file (its linkPath names a file that is not there) or the
// unsupported format, for an unsupported one the pixel type; null for any
// other status. Such a record is filled again when the user adds the image
// once more.
const char* OrderProblemKey(const OD_ProcData& record);

// True when the record tells that its image cannot be ordered.
constexpr bool ODStatusIsUnorderable(uint16_t status) {
    return (status & (kODStatusUnreadable | kODStatusUnsupported)) != 0;
}

// The file name of a placed image's link, the way messages name the image
// (empty without a link); missing, when given, tells whether the linked file
// is not there.
PMString LinkedFileName(const UIDRef& item, bool* missing = nullptr);

// "<file name>: <reason>", the reason key translated, not translatable: the
// line that names an image in the messages about it. Without a link the
// record's output name stands for the file name.
PMString ImageProblemLine(const UIDRef& item, const OD_ProcData& record, const char* reasonKey);
