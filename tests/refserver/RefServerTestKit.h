#pragma once

#include "ImageJob.h"
#include "RefServer.h"

#include "QOR_EndPointFile.h"
#include "QorReply.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <vips/vips8>

#include <sstream>
#include <string>

// Pixel colours of the four-quadrant test image.
struct Rgb {
    int r, g, b;
    bool operator==(const Rgb&) const = default;
};
inline constexpr Rgb kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kYellow{255, 255, 0},
    kWhite{255, 255, 255};

// Saves the image as an 8-bit TIFF of that interpretation and resolution.
void SaveTiff(const vips::VImage& image, VipsInterpretation interpretation, double ppi,
              const std::string& path);

// Writes a TIFF of width x height pixels at ppi whose quadrants are red
// (top left), green (top right), blue (bottom left) and yellow (bottom right).
void WriteQuadrants(const std::string& path, int width, int height, double ppi);

// The ticket fields a test sets; the rest keep what a plain order sends.
struct TicketFields {
    std::string pathIn{}, pathOut{}, prefix{}, profile{};
    double top = 0, left = 0, width = 1, height = 0.5, scaleX = 1, scaleY = 1, angle = 0, skewH = 0;
    int res = 40, processOpt = 0, flipGD = 0, flipHB = 0, overwrite = 1, delSrc = 0;
};

// The ticket text, printed as the plug-in prints it.
std::string TicketText(const TicketFields& f);

// Receives and parses the reply of a message name (status 99 when its word is
// unknown); false when none is there or it does not parse.
bool ReceiveReply(QOR_EndPointFile& endpoint, const std::string& messageName, QorReply& reply,
                  std::string* text = nullptr);

// A server tree made by init, an endpoint connected to it and a server on it.
class ServerSandbox {
public:
    ServerSandbox() : server(dir.Path(), log) {
        QOR_EndPointFile::ResetProcessStateForTesting();
        std::string error;
        EXPECT_TRUE(InitServerTree(dir.Path(), error)) << error;
        EXPECT_EQ(endpoint.Connect((dir / "qorserver").c_str()), 0);
        EXPECT_EQ(server.RunOnce(), 1); // the CONNECT
    }

    std::string Root() const { return dir.Path(); }
    // A folder for images, made on first use.
    std::string Images() const {
        MakeDirs(dir / "images");
        return dir / "images";
    }

    // Sends a body through the endpoint; returns the message name.
    std::string Send(const std::string& body) {
        char name[512] = {};
        EXPECT_EQ(endpoint.SendNamed(name, body.c_str(), 1024), 0);
        return name;
    }
    int Serve() { return server.RunOnce(); }
    bool Reply(const std::string& messageName, QorReply& reply, std::string* text = nullptr) {
        return ReceiveReply(endpoint, messageName, reply, text);
    }
    // Sends a body (a ticket's text), serves it and returns the parsed reply,
    // whose status must be the one given.
    QorReply Run(const std::string& body, int status = 0) {
        const std::string name = Send(body);
        EXPECT_EQ(Serve(), 1);
        QorReply reply;
        std::string text;
        EXPECT_TRUE(Reply(name, reply, &text)) << "no reply to " << name;
        EXPECT_EQ(reply.status, status) << text;
        return reply;
    }
    QorReply Run(const TicketFields& f, int status = 0) { return Run(TicketText(f), status); }

    TempDir dir;
    std::ostringstream log;
    QOR_EndPointFile endpoint;
    RefServer server;
};

// A ticket for an 80 x 40 image of the four quadrants at 80 ppi, written
// under the name in the sandbox's images folder; the output is images/out.
inline TicketFields QuadrantTicket(const ServerSandbox& box, const std::string& name = "quad.tif") {
    const TicketFields f{.pathIn = box.Images() + "/" + name, .pathOut = box.Images() + "/out"};
    WriteQuadrants(f.pathIn, 80, 40, 80);
    return f;
}
