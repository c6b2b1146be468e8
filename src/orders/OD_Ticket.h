#pragma once

// The job ticket of an order and the sending of one order through the
// server link's hot folder.

#include "OD_Geometry.h"
#include "OD_ProcData.h"
#include "UIDRef.h"

#include <cstddef>
#include <string>

class OD_PrefsData;
class QOR_EndPoint;
struct QOR_SendHooks;

// The ticket buffer: 1023 bytes of text and the NUL.
inline constexpr std::size_t kODTicketSize = 1024;
// The buffers of PATHIN and PATHOUT, and of the job name the link returns:
// 511 bytes and the NUL.
inline constexpr std::size_t kODTicketPathSize = 512;
// Bytes of the profile name that go into the ticket.
inline constexpr std::size_t kODProfileMaxBytes = 31;

// Why an order was not sent (besides -1 and what the endpoint returns). An
// order refused for any of these stays as it was: nothing is cut.
inline constexpr int kODSendPathInTooLong = -20;  // the source path needs more than 511 bytes
inline constexpr int kODSendPathOutTooLong = -21; // the output path needs more than 511 bytes
inline constexpr int kODSendNoOutFolder = -22;    // no folder for the output (see FormOutputPath)
inline constexpr int kODSendTicketTooLong = -23;  // the ticket needs more than 1023 bytes
inline constexpr int kODSendBadResolution = -24;  // output resolution below 1 or not a number

// What a processed file's name takes beside its source when it would
// otherwise be the source's own name.
inline constexpr const char* kODProcessedNameMark = "-processed";

// The longest extension the server's file names are taken to have, and a
// path without its extension (the last '.' of its file name, followed by at
// most that many bytes): what the server's output file is named after.
inline constexpr std::size_t kODExtensionMaxBytes = 4;
std::string PathStem(const std::string& path);

// English words for a result of SendOrder, for the log; "" for 0.
const char* SendOrderProblem(int result);

// Everything a ticket says, once taken from the order, the preferences and
// the placement.
struct OD_TicketValues {
    const char* pathIn = "";
    const char* pathOut = "";
    OD_TicketGeometry geometry;
    int resolution = 0; // RESX and RESY
    const char* prefix = "";
    int processOption = -1;
    int overwrite = 0;
    const char* profile = "";
    int deleteSource = 0;
};

// Prints the 23 lines of the ticket into buffer (capacity bytes with the
// NUL). The text's length, or kODSendTicketTooLong when it does not fit
// (buffer then holds the empty text).
int FormatTicket(const OD_TicketValues& values, char* buffer, std::size_t capacity = kODTicketSize);

// Copies at most maxBytes bytes of text into buffer (which holds at least
// maxBytes + 1), ending before a UTF-8 sequence that would not fit whole.
void CopyCutUTF8(char* buffer, const char* text, std::size_t maxBytes);

// The preferences that govern an order: the session's copy, replaced by the
// order's preference file from the identity folder when "Show preference
// file list in image options" is set and the order names one that reads
// whole. A missing or unreadable file leaves the session's copy.
OD_PrefsData GoverningPreferences(const OD_PrefsData& session, const OD_ProcData& order);

// The output path of an order into buffer (kODTicketPathSize bytes):
// - "Replace original image by processed image": the source path itself;
// - otherwise the "Save in folder:" path, the native separator added when it
//   does not end in one, then the output name;
// - an empty "Save in folder:" names the source file's own folder; when the
//   output name is the source's own name but for the extension (which the
//   server chooses), kODProcessedNameMark goes before the name's extension
//   ("photo" beside "photo.tif" becomes "photo-processed"), so that the
//   result never takes the place of the original.
// 0, kODSendPathOutTooLong when the path would not fit, kODSendNoOutFolder
// when the folder is empty and the source path has no folder either. On
// failure buffer holds the empty text.
int FormOutputPath(const OD_PrefsData& prefs, const OD_ProcData& order, char* buffer,
                   std::size_t capacity = kODTicketPathSize);

// Builds the ticket of an order (the record that the page item carries) into
// ticket (kODTicketSize bytes) and its output path into pathOut
// (kODTicketPathSize bytes), without sending anything. 0, -1 (see SendOrder)
// or a kODSend... refusal.
int BuildTicket(const UIDRef& item, const OD_ProcData& order, char* ticket, char* pathOut);

// Builds the ticket of an order (the record that the page item carries) and
// hands it to the endpoint with SendNamed.
// 0: sent; updated then holds the order with status Sent and the job name.
// -1: the order is not Ready (status neither exactly 0x0001 nor 0x0002), the
// session's preferences cannot be read, there is no endpoint, or the
// placement geometry cannot be obtained. kODSend...: refused before sending
// (see above). Any other value is the endpoint's. updated is written only on
// success.
// hooks, when given, go with the job to the endpoint (SendNamedWith).
int SendOrder(const UIDRef& item, const OD_ProcData& order, QOR_EndPoint* endpoint,
              OD_ProcData& updated, const QOR_SendHooks* hooks = nullptr);
