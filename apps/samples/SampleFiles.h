#pragma once

// The demo's sample images, one of every format the plug-in reads, written on
// the spot for the demo and for scripted sessions (the `samples` command):
// gray, RGB and CMYK TIFF, an RGB JPEG, a Photoshop file, an EPS with its
// image data comment, and an OPI placeholder EPS with the high-resolution
// TIFF it stands for. The writers are those of SampleImages.h.

#include <string>
#include <vector>

struct SampleFile {
    std::string name;        // file name in the folder
    std::string description; // what it is, for the demo's listing
};

// Writes the samples into folder (made when missing) and lists them; throws
// std::runtime_error naming the file that could not be written.
std::vector<SampleFile> WriteSampleFiles(const std::string& folder);
