#pragma once

#include "JobFile.h"
#include "ServerTree.h"

#include <vips/vips8>

#include <functional>
#include <string>
#include <vector>

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

// Brings an image to 8 bits per sample (16-bit images keep 16 bits until
// ConvertColour) without alpha and tells its kind (Lab and other colour
// spaces become RGB). Throws vips::VError when it cannot.
vips::VImage NormalizeImage(const vips::VImage& in, ImageKind& kind);

// Places the image as the ticket says (mirror, scale, skew, rotation), crops
// it to the ticket's rectangle and samples it at RESX by RESY. The input's
// resolution is in pixels per inch. False with a reason when the crop misses
// the image or the output would be too large. readOnce: the image's pixels
// can be read only once, top to bottom (loaded with sequential access); a
// placement that turns, leans or mirrors it top to bottom then works on a
// copy of it (after the block averaging), in memory or, beyond 100 MB, in a
// temporary file of libvips' in TMPDIR.
bool RenderPlacement(const vips::VImage& in, ImageKind kind, double inputResolution,
                     const JobTicket& ticket, vips::VImage& out, std::string& error,
                     bool readOnce = false);

// Applies the ticket's process option (or the profile's for -1) to an image
// of the given kind; kind becomes the result's. False with a reason when the
// option does not apply to the kind or a profile cannot be used.
bool ConvertColour(vips::VImage& image, ImageKind& kind, int processOpt,
                   const ServerProfile& profile, std::string& error);

// How ProcessTicket puts its output in place. The output is written beside its
// target under HiddenName(target name, tag) (the process id when tag is empty)
// and forced to disk before it is moved over the target. A file already under
// that hidden name is removed first, not written over.
struct OutputSteps {
    std::string tag;
    // Called with the hidden name before anything is written there. False
    // stops the job with the reason in error.
    std::function<bool(const std::string& part, std::string& error)> beforeWrite;
    // Called after the output is written under its hidden name (part) and
    // before it is moved, with the result the job has once it is; called again
    // when the target had to change meanwhile. False stops the job with the
    // reason in error.
    std::function<bool(const JobResult& planned, const std::string& part, std::string& error)>
        beforeMove;
};

// Processes one ticket from the input file to the written output.
JobResult ProcessTicket(const ServerFolders& folders, const JobTicket& ticket,
                        const OutputSteps& steps = {});

// For a profile with OPI results: once the output is in place, writes its
// low-resolution placeholder into the profile's low-resolution folder (the
// output's file name with the profile's suffix). One that cannot be written
// makes the result a warning that says why.
void WriteLowResolutionIfAsked(const ServerFolders& folders, const JobTicket& ticket,
                               const std::string& tag, JobResult& result);

// DEL_SRC_IMAGE once the output is in place: deletes the ticket's input unless
// it is the output itself or gone already. Its folder is checked against the
// volumes and opened again, and only the plain file of that name in it is
// removed; a deletion that fails or is refused makes the result a warning.
void DeleteSourceIfAsked(const std::vector<std::string>& volumes, const JobTicket& ticket,
                         JobResult& result);
