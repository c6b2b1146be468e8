#pragma once

#include "PMString.h"

#include <cstddef>
#include <cstdint>
#include <limits>

// --- status flags -------------------------------------------------------------
// OD_ProcData::status is a set of these; code tests bits with a mask.

inline constexpr uint16_t kODStatusNone = 0x0000;        // the item carries no order
inline constexpr uint16_t kODStatusReady = 0x0001;       // complete, may be sent
inline constexpr uint16_t kODStatusReadyAlt = 0x0002;    // also taken as ready by the send paths
inline constexpr uint16_t kODStatusSent = 0x0004;        // handed to the server link, waiting
inline constexpr uint16_t kODStatusDone = 0x0008;        // the server reported success
inline constexpr uint16_t kODStatusReplyMinus2 = 0x0010; // the server replied -2
inline constexpr uint16_t kODStatusReplyMinus1 = 0x0020; // the server replied -1
inline constexpr uint16_t kODStatusProvisional = 0x0040; // added, not yet confirmed: no order
inline constexpr uint16_t kODStatusUnreadable = 0x0080;  // no reader accepts the linked file
inline constexpr uint16_t kODStatusUnsupported = 0x0100; // unsupported model, no high-res file
// What the send filter asks for.
inline constexpr uint16_t kODStatusSendable = kODStatusReady | kODStatusReadyAlt;

// True when a status means the item carries an order: neither 0 nor
// Provisional alone.
constexpr bool ODStatusIsOrdered(uint16_t status) {
    return status != kODStatusNone && status != kODStatusProvisional;
}

// --- image classes --------------------------------------------------------------
// OD_ProcData::imageClass, derived from the colour model of the image
// information record (pixelType & 0x7F).

inline constexpr uint32_t kODClassGray = 1;       // model 10
inline constexpr uint32_t kODClassRGB = 2;        // model 1
inline constexpr uint32_t kODClassCMYK = 4;       // model 2
inline constexpr uint32_t kODClassLab = 8;        // model 8
inline constexpr uint32_t kODClassFullColor = 14; // model 11
inline constexpr uint32_t kODClassUnknown = 15;   // anything else

// Colour models of the image information record (pixelType & 0x7F) that the
// orders code looks at.
inline constexpr int kODModelRGB = 1;
inline constexpr int kODModelCMYK = 2;
inline constexpr int kODModelLab = 8;
inline constexpr int kODModelGray = 10;
inline constexpr int kODModelFullColor = 11;

// The image class of a colour model (pixelType; only the low 7 bits count).
uint32_t ImageClassForModel(int pixelType);
// String key of the user-interface text of an image class
// ("0x71900kOrdoImgOptDlgList...Key"); the unknown class's key for any value
// that is not one of the six classes.
const char* ImageClassTextKey(uint32_t imageClass);

// Format codes of the image readers that the orders code looks at.
// Bit set: the file names a high-resolution file.
inline constexpr uint32_t kODFormatNamesHighRes = 0x0001;
// All bits set: a TIFF that names its high-resolution file.
inline constexpr uint32_t kODFormatTiffProxyMask = 0x0011;

// --- process codes ----------------------------------------------------------------

inline constexpr int16_t kODProcessUnknown = 0;
// Lower bounds of the three groups of codes.
inline constexpr int16_t kODProcessGrayBase = 1;
inline constexpr int16_t kODProcessRGBBase = 10;
inline constexpr int16_t kODProcessCMYKBase = 20;

// One entry of the process table: a process code and the process option that
// goes into the ticket for it.
struct OD_ProcessEntry {
    int16_t code;
    int16_t option;
};

// The table, in the order in which it is searched (17 entries, code 0 is not
// in it).
inline constexpr std::size_t kODProcessTableSize = 17;
extern const OD_ProcessEntry kODProcessTable[kODProcessTableSize];

// String key base of a process code's text: the key is this followed by the
// code in decimal ("0x71900kOrdoProcessBaseKey12").
inline constexpr const char* kODProcessBaseKey = "0x71900kOrdoProcessBaseKey";
PMString ProcessCodeTextKey(int16_t code);

// The process option of the first entry with this code; -1 when the code is
// not in the table (0 is not).
int OptionForCode(int code);

// The code of the first entry, from the group's lower bound on, that carries
// this option. The bound comes from the colour model (pixelType & 0x7F):
// gray 1, RGB and Lab 10, CMYK 20, any other model 0 (the whole table). The
// search does not stop at the end of the group: option 7 with a gray model
// gives 16. -1 when no entry matches.
int CodeForOption(int option, int pixelType);

// Whether a process code includes a colour correction. The option is that of
// the last entry with the code (the code itself when there is none); codes
// below 10 correct with options 1 and 5, codes 10 to 19 with 2, 3, 6 and 7,
// codes from 20 on never.
bool HasCorrection(int code);

// --- the record -------------------------------------------------------------------

// One order: what the server is to do with a placed image's file, where the
// result goes, what is known of the file and where the order stands. A plain
// value; copying copies every field. The fields are in their stored order.
struct OD_ProcData {
    uint16_t status = 0;     // kODStatus... flags; 0 = no order
    int16_t processCode = 0; // process table code; 0 = Unknown
    PMString profile;        // the server's process profile (sent as PROFILE)
    PMString auxText;        // image options dialog text, kept with the record
    PMString outputName;     // output file base name
    PMString prefix;         // output file name prefix; at most 5 bytes are sent
    PMString jobName;        // job file name the server link returned on sending
    PMString sourcePath;     // the file the server processes
    PMString linkPath;       // the linked file, as the link gives it
    PMString prefsFileName;  // preference file governing the order; empty = session's
    uint16_t auxFlag = 0;    // carried and stored, not interpreted here
    uint32_t imageClass = 0; // kODClass...
    uint32_t pixelWidth = 0;
    uint32_t pixelHeight = 0;
    uint32_t formatCode = 0; // the image reader's format code
    // Pixels per inch; always written by the filling, kODUnknownResolution
    // for a file that gives none. 0 in a new record, and so in a stored
    // record too old to hold it; the users take it through ODKnownResolution.
    double resolution = 0.0;

    bool IsOrdered() const { return ODStatusIsOrdered(status); }

    friend bool operator==(const OD_ProcData&, const OD_ProcData&) = default;
};

// The resolution an image without one is taken at, in pixels per inch.
inline constexpr double kODUnknownResolution = 72.0;

// A resolution as the orders use it: the readers report 0 for a file that
// gives none; that, and any value that is not a positive number, is taken as
// kODUnknownResolution.
constexpr double ODKnownResolution(double resolution) {
    return resolution > 0.0 && resolution < std::numeric_limits<double>::infinity()
               ? resolution
               : kODUnknownResolution;
}

// Bytes of a prefix that go into the ticket, and of a name prefix taken from a
// linked file's name ("ABCDE#name.tif").
inline constexpr std::size_t kODPrefixMaxBytes = 5;
