#pragma once

#include <string>
#include <vector>

// The folders of one server, all under its root:
//   <root>/qorserver             the server application file (the server path)
//   <root>/Data                  configuration files
//   <root>/Data/service/qor2     present while the server accepts connections
//   <root>/Data/service/alive/<id>  a running server's heartbeat (Heartbeat.h)
//   <root>/Data/tmp              job files and their lock files
//   <root>/Data/clients/<id>     replies, one folder per client
//   <root>/Data/claimed/<id>        jobs a server has taken, one folder per server
//   <root>/Data/profiles         one file per job profile
//   <root>/Data/rejected         job files that were not jobs, with the reason
struct ServerFolders {
    explicit ServerFolders(const std::string& root);

    std::string root;
    std::string app;
    std::string data;
    std::string service;
    std::string qor2;
    std::string alive;
    std::string tmp;
    std::string clients;
    std::string claimed;
    std::string profiles;
    std::string rejected;
    std::string log;
};

// The name of the server application file in the root.
inline constexpr const char* kServerAppName = "qorserver";

// Creates the folder tree and publishes the configuration files. Files that
// exist already are kept, so init can be run again over a tree whose files
// were edited. False with a reason when a folder or file cannot be made.
// volumes: the folders the server may read and write besides its tree
// (Volumes.h); none: the folder that holds the root.
bool InitServerTree(const std::string& root, std::string& error,
                    const std::vector<std::string>& volumes = {});

// Output settings for one kind of result (gray, RGB or CMYK).
struct OutputFormat {
    int code = 0;              // 0 TIFF, 4 JPEG; others are refused when used
    std::string extension;     // without the point
    bool embedIcc = false;     // keep the image's ICC profile in the file
    int values[3] = {0, 0, 0}; // TIFF: compression, predictor, tile edge;
                               // JPEG: quality, progressive, optimized coding
};

// One job profile as the server uses it.
struct ServerProfile {
    std::string name;        // empty for the default profile
    int resolutionUnit = 0;  // 0 inch, 1 centimetre
    OutputFormat outputs[3]; // for a gray, an RGB and a CMYK result

    int blackClip = 0;        // percent of the darkest pixels made black by a correction
    int whiteClip = 0;        // percent of the lightest pixels made white
    int gammaPercent = 100;   // gamma of a correction times 100
    int brightness = 0;       // added to every level after a correction
    int modes[3] = {0, 0, 0}; // process option for gray, RGB, CMYK input when a ticket gives -1
    std::string title;
    std::string cmykProfile;      // ICC profile of CMYK results ("cmyk" is libvips' own)
    std::string rgbProfile;       // ICC profile of RGB results ("srgb")
    std::string cmykInputProfile; // assumed for CMYK input without an embedded profile
    int intent = 0;               // 0 perceptual, 1 relative, 2 saturation, 3 absolute
    bool blackPointCompensation = true;

    // OPI results (a third section of a profile file, "OPI"): besides the
    // output, a low-resolution placeholder that names it is written into
    // opiFolder (a full path) as the output's file name with opiSuffix
    // appended. Empty: no placeholders.
    std::string opiFolder;
    std::string opiSuffix;
    int opiPreviewResolution = 72; // pixels per inch of the placeholder's preview, at most
};

// Reads a job profile from the Data folder: an empty name gives the default
// profile ("fileopt.txt" and "ccoopt.txt"), any other the file of that name in
// "profiles". False with a reason for an unknown name or a file that does not
// read.
bool LoadServerProfile(const ServerFolders& folders, const std::string& name,
                       ServerProfile& profile, std::string& error);
