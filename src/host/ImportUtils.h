#pragma once

#include "DocumentIDs.h"
#include "PMString.h"
#include "UIDRef.h"

// Placing image files into graphic frames.
//
// A placed image's size comes from its file, read through the image library
// (IMG_OpenImageFile, placeholders not accepted): width = pixel width x 72 /
// resolution points, height likewise, resolution in pixels per inch. A file
// that states no usable resolution is taken at 72 pixels per inch, and that
// is what is recorded. The image item's bounding box is (0, 0, width, height);
// its IImageAttributes record the pixel size and the resolution (16.16) and
// its IDataLink the path.
//
// A file that the image library cannot read is not placed: the operation
// fails with kFileNotFoundError when nothing is at the path and with
// kUnsupportedFileError when no reader knows the file or it has no pixel
// size, and the document does not change.
namespace ImportUtils {

// Places the file into a graphic frame, replacing what it held. The image's
// left-top corner goes to the left-top corner of the frame's bounding box,
// at 100 %. One undo step ("Place"). Returns the image, or an invalid
// reference with *error set (the host's global error code is set too).
UIDRef PlaceFile(const UIDRef& frame, const PMString& path, ErrorCode* error = nullptr);

} // namespace ImportUtils

namespace LinkUtils {

// The number of file links on the item: 1 for a placed image linked to a
// file, 0 otherwise.
int32_t CountLinks(const UIDRef& item);
// The link's short name (the file's name) and long name (its full path);
// false, and both emptied, when the item has no link.
bool GetLinkNames(const UIDRef& item, PMString& shortName, PMString& longName);

// Replaces the file of a placed image. The image item is replaced by a new
// one, with a new UID, in the same frame at the same place among its
// children: it keeps the old item's matrix, and the data that plug-ins stored
// on it, and takes its bounding box, attributes and link from the new file.
// A selected old item is selected as the new one. One undo step ("Relink").
// Callers continue with the returned reference; invalid, with *error set,
// on failure (nothing changed).
UIDRef RelinkImage(const UIDRef& image, const PMString& path, ErrorCode* error = nullptr);

} // namespace LinkUtils
