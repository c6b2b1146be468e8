#pragma once
// Result pickup: what happens to a sent order when the server has answered.
// The finished-order handler reads the server's reply for one order, finds
// the processed file and relinks the placed image to it at the same visual
// position; the relink writes the undo record that "Undo Redo Process"
// works from. Records change only through the two set-data commands.
#include "OD_Geometry.h"
#include "PMPoint.h"
#include "PMRect.h"
#include "UIDRef.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class OD_PrefsData;
class QOR_EndPoint;

// Where the server's messages go: the orders panel's log. One line a call,
// ending in "\n"; Show brings the log into view.
class OD_Log {
public:
    virtual ~OD_Log() = default;
    virtual void Append(const char* line) = 0;
    virtual void Show() = 0;
};

// The process-wide busy flag: set while a finished order is handled (and
// while the panel list is rebuilt), so that the rebuild that the commands'
// notifications ask for does not run in the middle of a handler.
bool IsOrdoBusy();
void SetOrdoBusy(bool busy);

// Results of the handler besides those of ReceiveFor and ParseReply, which
// it passes on unchanged.
inline constexpr int32_t kODPickupNotWaiting = -1;    // no order record, or not exactly Sent
inline constexpr int32_t kODPickupNoResultFile = -1;  // the processed file is not there yet
inline constexpr int32_t kODPickupRelinkFailed = -20; // the relink to the processed file failed
inline constexpr int32_t kODPickupWriteFailed = -21;  // the order record could not be written

// Size of the buffer a reply is read into.
inline constexpr int kODReplyCapacity = 1024;
// Longest path (without the NUL) that the relink links to or remembers in
// the undo record.
inline constexpr std::size_t kODRelinkPathMax = 260;
// Longest OPI file name taken from the server's path, without the NUL.
inline constexpr std::size_t kODOpiNameMax = 256;

// What the handler works with besides the order itself.
struct OD_PickupContext {
    QOR_EndPoint* endpoint = nullptr;
    // The governing preferences: the session's copy.
    const OD_PrefsData* prefs = nullptr;
    // The panel's log; null: messages are dropped.
    OD_Log* log = nullptr;
    // The page items the panel shows; the handler replaces the reference of
    // a relinked item by its new one. Null when there is no panel list.
    std::vector<UIDRef>* panelItems = nullptr;
};

// The finished-order handler, for one page item whose order is exactly
// Sent: reads and parses the reply to its job, then by the reply's status
// sets the order to Done (finish), Done with a warning (warning) or failed
// (error, no relink); any other status leaves it. The processed file is
// looked for in the OPI low-resolution folder (when OPI is on) or through
// the server's path conversion; when it is there the item is relinked to it,
// the record is written and the reply released. The reply's message of a
// status other than finish goes to the log at every attempt.
//
// Returns 0 when the order was finished; kODPickupNotWaiting; the non-zero
// result of ReceiveFor (no reply yet, the reply still locked) or ParseReply;
// kODPickupNoResultFile; kODPickupRelinkFailed. Whenever it does not return
// 0 the order record is as it was (kODPickupWriteFailed: after the relink) and the order is asked
// again at the next pickup. The relink replaces the page item: item is updated to the new one.
int32_t HandleFinishedOrder(UIDRef& item, const OD_PickupContext& context);

// The OPI low-resolution file for a processed file as the server names it:
// the part of serverPath after its last separator by the path style (0:
// ':', then '\'; 1: '\', then ':'; 2: '/'; any other: '\'), empty when there
// is none, after the folder and a separator (unless the folder ends with
// one), then the first 5 characters of the suffix. False when a name longer
// than kODOpiNameMax bytes or a result that does not fit capacity would have
// to be cut (out is then empty).
bool MakeOpiLowResPath(const char* folder, const char* serverPath, int pathStyle,
                       const char* suffix, char* out, std::size_t capacity);

// The crop and ticket values the content offset is computed from.
struct OD_OffsetInput {
    PMRect cropRect; // the frame relative to the image's transformed top-left corner
    OD_CropFlags cropFlags;
    double scaleX = 1.0; // the ticket's SCALEX and SCALEY
    double scaleY = 1.0;
    double angle = 0.0; // the ticket's ANGLE, degrees
    bool flipGD = false;
    bool flipHB = false;
    // Width and height of the relinked image item's own bounding box.
    double imageWidth = 0.0;
    double imageHeight = 0.0;
};

// How far the processed image moves inside its frame after the relink, in
// the frame's units: the part of the frame that the server left out before
// the image (a frame starting before it), or the shortfall against the
// frame's far edge, mirrored and turned as the ticket says. (0, 0) when
// both parts are below the match tolerance.
PMPoint ComputeContentOffset(const OD_OffsetInput& input);

// Relinks a placed image to its processed file and writes its undo record:
// the order is given saved status 1, the file linked now and the placement
// of both files. The processed file is placed at the frame's corner unturned
// (the server has already turned, scaled and cropped it), then moved by the
// content offset. Option bytes as for RelinkWithGeometry. False when the
// placement cannot be captured, when a path does not fit kODRelinkPathMax
// (it is never cut) or when the relink fails: nothing is then changed.
// True with newItem set to the (new) item otherwise.
bool RelinkToProcessedFile(const UIDRef& item, const char* path, uint8_t option1, uint8_t option2,
                           UIDRef& newItem);
