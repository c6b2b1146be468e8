#pragma once

#include <string>

// A job file as a client writes it into Data/tmp: six header lines, then the
// body.
//   VLMP
//   1                       layout version
//   256                     longest client name the client makes
//   <clientId>
//   <date and time>         24 characters, as asctime writes them
//   <client program>
//   <body>                  "CONNECT", "DECONNECT" or a "PROCESS" ticket
struct JobFile {
    std::string clientId;
    std::string sent;
    std::string program;
    std::string body;
};

// True for a name that can be one folder under another: not empty, "." or
// "..", at most 256 bytes, without '/', '\\', ':' or control characters.
// Client ids and server ids are such names.
bool IsPlainFolderName(const std::string& name);

// Reads the header; false with a reason when the text is not a job file (or
// names a client that could not be a folder name).
bool ParseJobFile(const std::string& text, JobFile& job, std::string& error);

enum class JobKind { connect, disconnect, process, unknown };
JobKind KindOf(const std::string& body);

// A "PROCESS" ticket, one "KEY: value" line each.
struct JobTicket {
    std::string pathIn;
    std::string pathOut;
    double top = 0, left = 0, width = 0, height = 0; // inches
    double scaleX = 1, scaleY = 1;
    int resX = 0, resY = 0; // pixels per inch
    double angle = 0;       // degrees, counter-clockwise on the page
    std::string prefix;
    int processOpt = -1; // -1: the profile's choice for the image's kind
    bool flipH = false;  // FLIPGD: mirrored left to right
    bool flipV = false;  // FLIPHB: mirrored top to bottom
    double skewH = 0;    // degrees; positive leans the top to the right
    bool overwrite = false;
    std::string profile;
    bool doCrop = true;
    bool deleteSource = false;
};

// Reads a ticket body; false with a reason a person can act on when a line is
// missing, repeated or holds a value out of range.
bool ParseTicket(const std::string& body, JobTicket& ticket, std::string& error);
