#pragma once

#include <string>

// EPS and PostScript input, rendered by Ghostscript (the gs program).
//
// Ghostscript runs with -dSAFER, under a time limit, with a temporary folder
// of its own as its only one; the page is the file's own bounding box
// (-dEPSCrop; a plain PostScript file gives its first page).

// True when the file begins as PostScript does: "%!", or the header of a DOS
// EPS binary file.
bool IsPostScriptFile(const std::string& path);

// The colour model a PostScript file is rendered in.
enum class PostScriptColour { gray, rgb, cmyk };

// A rendering in a temporary folder of its own, removed with everything in it
// when the object goes.
class PostScriptRendering {
public:
    PostScriptRendering() = default;
    ~PostScriptRendering();
    PostScriptRendering(const PostScriptRendering&) = delete;
    PostScriptRendering& operator=(const PostScriptRendering&) = delete;

    // Renders the first page of path at resolution pixels per inch into a
    // TIFF (Image()). False with a reason a person can act on when Ghostscript
    // is missing, fails, or takes longer than the time limit.
    bool Render(const std::string& path, double resolution, PostScriptColour colour,
                std::string& error);

    const std::string& Image() const { return image; }

private:
    std::string folder;
    std::string image;
};

// The bounding box's width and height in points from the file's
// %%HiResBoundingBox or %%BoundingBox comment; false when it has neither in
// its first 64 KiB.
bool PostScriptSize(const std::string& path, double& width, double& height);

// The resolution at which the file is rendered for an output of outputResolution
// pixels per inch whose placement scales it by scale: the output's own, so that
// it is sampled once, kept below maxPixels for the bounding box given in points.
double PostScriptResolution(double outputResolution, double scale, double widthPt, double heightPt,
                            double maxPixels);
