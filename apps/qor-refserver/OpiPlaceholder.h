#pragma once

#include <string>

// OPI results: beside the high-resolution output the server writes a
// low-resolution placeholder for the page, an EPS file whose OPI 1.3
// comments (%ALDImageFileName and the rest) name the output and whose body
// draws a preview of it. Layout programs place the placeholder; an OPI
// server swaps the high-resolution file in when the page is printed.

// The placeholder's text for the image file highRes (a TIFF or JPEG this
// server wrote, 8 bits gray, RGB or CMYK) of the given resolution: the
// preview is sampled at previewResolution pixels per inch at most. Throws
// vips::VError when the file does not read.
std::string OpiPlaceholderText(const std::string& highRes, double resolution,
                               int previewResolution);

// Writes the placeholder of highRes into folder as name, whole or not at all
// (under a hidden name with tag first, then renamed). False with a reason a
// person can act on.
bool WriteOpiPlaceholder(const std::string& highRes, double resolution, int previewResolution,
                         const std::string& folder, const std::string& name, const std::string& tag,
                         std::string& error);
