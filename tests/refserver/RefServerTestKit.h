#pragma once

#include "ImageJob.h"
#include "RefServer.h"

#include "QOR_EndPointFile.h"
#include "QorReply.h"
#include "TempDir.h"

#include <vips/vips8>

#include <sstream>
#include <string>
#include <vector>

// Pixel colours of the four-quadrant test image.
struct Rgb {
    int r, g, b;
    bool operator==(const Rgb&) const = default;
};
inline constexpr Rgb kRed{255, 0, 0};
inline constexpr Rgb kGreen{0, 255, 0};
inline constexpr Rgb kBlue{0, 0, 255};
inline constexpr Rgb kYellow{255, 255, 0};
inline constexpr Rgb kWhite{255, 255, 255};

// Saves the image as an 8-bit TIFF of that interpretation and resolution.
void SaveTiff(const vips::VImage& image, VipsInterpretation interpretation, double ppi,
              const std::string& path);

// Writes a TIFF of width x height pixels at ppi whose quadrants are red
// (top left), green (top right), blue (bottom left) and yellow (bottom right).
void WriteQuadrants(const std::string& path, int width, int height, double ppi);

// Writes a flat image of the given kind (gray level / RGB / CMYK zeros) as TIFF.
void WriteFlat(const std::string& path, ImageKind kind, int width, int height, double ppi,
               int level = 128);

// The colour of the output pixel nearest to the fractions fx, fy of its size.
Rgb PixelAt(const vips::VImage& image, double fx, double fy);

// The ticket fields a test sets; the rest keep what a plain order sends.
struct TicketFields {
    std::string pathIn;
    std::string pathOut;
    double top = 0, left = 0, width = 1, height = 0.5;
    double scaleX = 1, scaleY = 1;
    int res = 40;
    double angle = 0;
    std::string prefix;
    int processOpt = 0;
    int flipGD = 0, flipHB = 0;
    double skewH = 0;
    int overwrite = 1;
    std::string profile;
    int delSrc = 0;
};

// The ticket text, printed as the plug-in prints it.
std::string TicketText(const TicketFields& f);

// A server tree made by init, an endpoint connected to it and a server on it.
class ServerSandbox {
public:
    ServerSandbox();

    std::string Root() const { return dir.Path(); }
    std::string ServerPath() const { return Root() + "/qorserver"; }
    // A folder for images, made on first use.
    std::string Images() const;

    // Sends a body through the endpoint; returns the message name.
    std::string Send(const std::string& body);
    int Serve() { return server.RunOnce(); }
    // Receives and parses the reply of a message name; false when none is there.
    bool Reply(const std::string& messageName, QorReply& reply, std::string* text = nullptr);
    // Sends a ticket, serves and returns the parsed reply.
    QorReply Run(const TicketFields& fields);

    TempDir dir;
    std::ostringstream log;
    QOR_EndPointFile endpoint;
    RefServer server;
};

// A ticket for an 80 x 40 image of the four quadrants at 80 ppi, written
// under the name in the sandbox's images folder; the output is images/out.
TicketFields QuadrantTicket(const ServerSandbox& box, const std::string& name = "quad.tif");
