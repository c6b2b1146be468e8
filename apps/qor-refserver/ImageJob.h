#pragma once

#include "JobFile.h"
#include "ServerTree.h"

#include <vips/vips8>

#include <string>

enum class ReplyStatus { finish, warning, error };

const char* StatusWord(ReplyStatus status);

// What one ticket came to: the reply's status, a message a person can act on
// and the file written (or the one the ticket was about when nothing was).
struct JobResult {
    ReplyStatus status = ReplyStatus::error;
    std::string message;
    std::string outputPath;
};

// The kind of an image as the process options group it.
enum class ImageKind { gray = 0, rgb = 1, cmyk = 2 };

// Brings an image to 8 bits per sample without alpha and tells its kind (Lab
// and other colour spaces become RGB). Throws vips::VError when it cannot.
vips::VImage NormalizeImage(const vips::VImage& in, ImageKind& kind);

// Places the image as the ticket says (mirror, scale, skew, rotation), crops
// it to the ticket's rectangle and samples it at RESX by RESY. The input's
// resolution is in pixels per inch. False with a reason when the crop misses
// the image or the output would be too large.
bool RenderPlacement(const vips::VImage& in, ImageKind kind, double inputResolution,
                     const JobTicket& ticket, vips::VImage& out, std::string& error);

// Applies the ticket's process option (or the profile's for -1) to an image
// of the given kind; kind becomes the result's. False with a reason when the
// option does not apply to the kind or a profile cannot be used.
bool ConvertColour(vips::VImage& image, ImageKind& kind, int processOpt,
                   const ServerProfile& profile, std::string& error);

// Processes one ticket from the input file to the written output.
JobResult ProcessTicket(const ServerFolders& folders, const JobTicket& ticket);
