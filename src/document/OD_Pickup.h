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
// given without its line end (the log adds it); Show brings the log into
// view.
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

// Results of the handler besides those of ReceiveFor, which it passes on
// unchanged.
inline constexpr int32_t kODPickupNotWaiting = -1;   // no order record, or not exactly Sent
inline constexpr int32_t kODPickupNoResultFile = -1; // the OPI low-resolution file is not there yet
inline constexpr int32_t kODPickupWriteFailed = -21; // the order record could not be written
// The order was given up: it is marked failed (kODStatusReplyMinus2) with
// its reason in the log, and can be sent again.
inline constexpr int32_t kODPickupFailed = -24;

// The name of the host's undo step of one pickup (relink, move, both records).
inline constexpr const char* kOrdoPickupStepKey = "0x71900kOrdoPickupStepKey";

// String key of the log line that refuses such a path; the path follows it.
inline constexpr const char* kODResultPathCutKey = "0x71900kOrdoErrResultPathCut";

// Size of the buffer a reply is read into.
inline constexpr int kODReplyCapacity = 1024;
// The longest path of a processed file that a reply record holds; a longer
// one does not read, and one of this length may have been cut to it.
inline constexpr std::size_t kODReplyPathMax = 511;
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
    // Now, in seconds since 1970, and how long a result is waited for: an OPI
    // low-resolution file that has not appeared this long after the reply
    // fails the order.
    int64_t now = 0;
    int64_t waitLimitSeconds = 60;
    // The page items the panel shows; the handler replaces the reference of
    // a relinked item by its new one. Null when there is no panel list.
    std::vector<UIDRef>* panelItems = nullptr;
};

// The finished-order handler, for one page item whose order is exactly
// Sent: reads and parses the reply to its job, finds the processed file (in
// the OPI low-resolution folder when the job went out with OPI on, else
// through the server's path conversion), relinks the item to it and writes
// the record: Done for a finish, Done with a warning for a warning (its
// message logged).
//
// Every reply ends the wait, one way or the other: an error, a stop (or a
// status word this client does not know), a reply that does not parse, a path
// that may have been cut (kODReplyPathMax characters or longer), a processed
// file that is not there or cannot be read, a placed file whose path the undo
// record cannot hold, a relink that fails: the order is marked failed, with
// one line in the log that names the image and says why; it can be sent
// again. Only an OPI low-resolution file is waited for (the OPI server makes
// it after the reply), for context.waitLimitSeconds.
//
// The reply is copied into the record of jobs out before the document
// changes, and read from there at later attempts; the server's reply file
// stays until a saved document holds the result (NoteDocumentSaved), so that
// a host Undo, a crash or a document closed without saving leaves the order
// Sent with its reply still to be taken.
//
// Returns 0 when the order was finished (an error reply included);
// kODPickupFailed; kODPickupNotWaiting; the non-zero result of ReceiveFor
// (no reply yet, the reply still locked or not whole);
// kODPickupNoResultFile; kODPickupWriteFailed. The relink replaces the page
// item: item is updated to the new one.
int32_t HandleFinishedOrder(UIDRef& item, const OD_PickupContext& context);

// Puts the item a relink made in the place of the one it replaced in the
// panel's items (same database and UID); nothing without a list.
void ReplacePanelItem(std::vector<UIDRef>* panelItems, const UIDRef& old, const UIDRef& made);

// The OPI low-resolution file for a processed file as the server names it:
// the part of serverPath after its last separator by the path style (0:
// ':', then '\'; 1: '\', then ':'; 2: '/'; any other: '\'), empty when there
// is none, after the folder and a separator (unless the folder ends with
// one), then the first 5 characters of the suffix. False when a name longer
// than kODOpiNameMax bytes or a result that does not fit capacity would have
// to be cut (out is then empty).
bool MakeOpiLowResPath(const char* folder, const char* serverPath, int pathStyle,
                       const char* suffix, char* out, std::size_t capacity);

// What the content offset is computed from.
struct OD_OffsetInput {
    // The capture's crop rectangle: the frame relative to the top-left corner
    // of the box that the image took in the frame, in the frame's units.
    PMRect cropRect;
    // Width and height of the relinked (processed) image item's own bounding
    // box: the part of the frame that the server's file covers.
    double imageWidth = 0.0;
    double imageHeight = 0.0;
    // How far the file may fall short of the frame and still count as
    // covering all of it (the server rounds its output to whole pixels).
    double tolerance = kODCropTolerance;
};

// How far the processed image moves inside its frame after the relink, in
// the frame's units along the frame's axes. The processed file is placed
// unturned at 100 % with its top-left corner on the frame's, since the server
// has already mirrored, turned, scaled and cropped it to the frame. Along
// each axis:
// - a frame that starts inside the image: nothing moves, the file starts at
//   the frame's edge;
// - a frame that starts before the image, with a file that covers the frame
//   (a server that renders the part outside the image, as white): nothing
//   moves either;
// - a frame that starts before the image, with a file short of the frame by
//   more than the tolerance (a server that leaves out what lies outside the
//   image): the file starts at the image's edge, which lies -left (-top) into
//   the frame.
// (0, 0) when both parts are below the match tolerance.
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
