#include "OD_Pickup.h"

#include "DocumentModel.h"
#include "DocumentUtils.h"
#include "IGeometry.h"
#include "IImageAttributes.h"
#include "IOrdoData.h"
#include "IOrdoUndoData.h"
#include "ITransform.h"
#include "OD_DataAccessor.h"
#include "OD_Jobs.h"
#include "OD_Preferences.h"
#include "PMString.h"
#include "Paths.h"
#include "Platform.h"
#include "QOR_Configuration.h"
#include "QOR_EndPoint.h"
#include "QorReply.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

namespace {

bool busyFlag = false;

// Sets the busy flag for as long as it lives; clears it on every way out.
class BusyScope {
public:
    BusyScope() { SetOrdoBusy(true); }
    ~BusyScope() { SetOrdoBusy(false); }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;
};

// Longest job name handed to the endpoint, without the NUL.
constexpr std::size_t kJobNameMax = 256;
// Characters of the OPI suffix that are used.
constexpr std::size_t kOpiSuffixChars = 5;
// The reply's status before it is parsed: none of the server's words.
constexpr int32_t kReplyStatusUnknown = 1;

// The byte length of the first `chars` UTF-8 characters of text.
std::size_t PrefixBytes(const char* text, std::size_t chars) {
    std::size_t i = 0;
    std::size_t seen = 0;
    while (text[i] != '\0') {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (seen == chars) {
                break;
            }
            ++seen;
        }
        ++i;
    }
    return i;
}

// The file name at the end of a path the server wrote, by its path style.
const char* ServerFileName(const char* path, int pathStyle) {
    const char* split = nullptr;
    switch (pathStyle) {
    case 0:
        split = std::strrchr(path, ':');
        if (split == nullptr) {
            split = std::strrchr(path, '\\');
        }
        break;
    case 1:
        split = std::strrchr(path, '\\');
        if (split == nullptr) {
            split = std::strrchr(path, ':');
        }
        break;
    case 2:
        split = std::strrchr(path, '/');
        break;
    default:
        split = std::strrchr(path, '\\');
        break;
    }
    return split != nullptr ? split + 1 : "";
}

// Where the processed file of a reply stands.
enum class ResultFile {
    found,    // path holds the local path of a file that can be read
    notYet,   // the OPI low-resolution file has not appeared (or is older than the reply)
    missing,  // the server's path names no file here (or no path conversion fits)
    unusable, // the file is there but cannot be read (why holds the error number)
};

// Whether the processed file is there, with its local path in path (also
// when it is not: the path looked at, for the reason).
ResultFile CheckResultFile(const OD_PickupContext& context, const QorReply& reply,
                           const OD_JobEntry* entry, char* path, std::size_t capacity, int& why) {
    why = 0;
    // The mode the job was sent in holds: "Accept OPI Images" may have been
    // switched since.
    const bool opi = entry != nullptr && entry->opi >= 0
                         ? entry->opi == 1
                         : context.prefs != nullptr && context.prefs->GetOpiActive();
    if (opi && context.prefs != nullptr) {
        if (!MakeOpiLowResPath(context.prefs->GetOpiLoResFolder(), reply.outputPath,
                               reply.pathStyle, context.prefs->GetOpiSuffix().c_str(), path,
                               capacity)) {
            CopyBounded(path, capacity, reply.outputPath);
            return ResultFile::missing;
        }
        platform::FileTimes times;
        if (platform::GetFileTimes(path, times) != 0 || times.modified < reply.time1) {
            return ResultFile::notYet;
        }
    } else {
        if (!CopyBounded(path, capacity, reply.outputPath)) {
            return ResultFile::missing;
        }
        if (MapServerPath(context.endpoint, path, reply.pathStyle) != 0) {
            CopyBounded(path, capacity, reply.outputPath);
            return ResultFile::missing;
        }
    }
    why = platform::CheckReadableFile(path);
    return why == 0 ? ResultFile::found : ResultFile::unusable;
}

// One axis of the content offset: start is where the frame begins measured
// from the image's near edge, length the frame's size, delivered the
// processed file's. The server's file always begins at the frame's edge or at
// the image's, whichever lies further in; it is placed at the frame's edge.
// The capture's crop rectangle is already in the frame's units, and the
// processed file is placed unturned and unmirrored at 100 %, so the offset is
// neither scaled nor turned: the ticket's SCALEX, ANGLE and flips describe
// what the server did to the image, not how the file lies in the frame.
double OffsetAlong(double start, double length, double delivered, double tolerance) {
    if (start >= 0.0) {
        return 0.0; // the frame starts inside the image, and so does the file
    }
    if (length - delivered < tolerance) {
        return 0.0; // the server rendered the part before the image as well
    }
    return -start; // the file starts at the image's edge
}

// The processed file's pixel in points, from the resolution the host
// recorded for it; 0 when it has none.
double PixelSize(const UIDRef& image) {
    InterfacePtr<IImageAttributes> attributes = InterfaceOf<IImageAttributes>(image);
    PMFixed x = 0;
    PMFixed y = 0;
    if (!attributes || !attributes->GetXResolution(x) || !attributes->GetYResolution(y)) {
        return 0.0;
    }
    const double resolution = std::min(PMFixedToDouble(x), PMFixedToDouble(y));
    return resolution > 0.0 ? 72.0 / resolution : 0.0;
}

// A path that fills the reply record may be the first part of a longer one.
bool PathMayBeCut(const QorReply& reply) {
    return std::strlen(reply.outputPath) >= kODReplyPathMax;
}

void LogLine(OD_Log* log, const std::string& text) {
    if (log == nullptr) {
        return;
    }
    log->Append(text.c_str());
}

// Moves an image inside its frame by (dx, dy) of the frame's units, as one
// undo step.
bool MoveContent(const UIDRef& image, double dx, double dy) {
    ErrorCode code = DocumentUtils::ProcessChange(
        image.GetDataBase(), PMString("Move Content"), [&]() -> ErrorCode {
            InterfacePtr<ITransform> transform = InterfaceOf<ITransform>(image);
            if (!transform) {
                return kFailure;
            }
            transform->SetInnerToParentMatrix(transform->GetInnerToParentMatrix() *
                                              PMMatrix::MakeTranslation(dx, dy));
            return kSuccess;
        });
    return code == kSuccess;
}

} // namespace

bool IsOrdoBusy() {
    return busyFlag;
}

void SetOrdoBusy(bool busy) {
    busyFlag = busy;
}

bool MakeOpiLowResPath(const char* folder, const char* serverPath, int pathStyle,
                       const char* suffix, char* out, std::size_t capacity) {
    if (out == nullptr || capacity == 0) {
        return false;
    }
    out[0] = '\0';
    const char* name = ServerFileName(serverPath != nullptr ? serverPath : "", pathStyle);
    if (std::strlen(name) > kODOpiNameMax) {
        return false;
    }
    std::string ext;
    if (suffix != nullptr) {
        ext.assign(suffix, PrefixBytes(suffix, kOpiSuffixChars));
    }
    const char* base = folder != nullptr ? folder : "";
    const std::size_t baseLength = std::strlen(base);
    const bool endsWithSeparator = baseLength > 0 && base[baseLength - 1] == kPathSeparator;
    bool fits = CopyBounded(out, capacity, base);
    fits = fits && (endsWithSeparator ? AppendBounded(out, capacity, name)
                                      : AppendPathPart(out, capacity, name));
    fits = fits && AppendBounded(out, capacity, ext.c_str());
    if (!fits) {
        out[0] = '\0';
    }
    return fits;
}

PMPoint ComputeContentOffset(const OD_OffsetInput& in) {
    const PMRect& r = in.cropRect;
    const double dx = OffsetAlong(r.Left(), r.Width(), in.imageWidth, in.tolerance);
    const double dy = OffsetAlong(r.Top(), r.Height(), in.imageHeight, in.tolerance);
    if (std::fabs(dx) < kODMatchTolerance && std::fabs(dy) < kODMatchTolerance) {
        return PMPoint(0.0, 0.0);
    }
    return PMPoint(dx, dy);
}

bool RelinkToProcessedFile(const UIDRef& item, const char* path, uint8_t option1, uint8_t option2,
                           UIDRef& newItem) {
    newItem = item;
    OD_PlacementCapture before;
    if (CapturePlacement(item, before) != 0) {
        return false;
    }
    // A path that would have to be cut names some other file: the relink is
    // refused, and the order is asked again.
    if (path == nullptr || std::strlen(path) > kODRelinkPathMax) {
        return false;
    }
    OD_UndoData undo;
    undo.savedStatus = kODStatusReady;
    char linked[kODLinkPathSize];
    if (GetLinkPath(item, linked, sizeof linked) != 0 || undo.SetOtherFile(linked) != 0) {
        return false;
    }
    undo.originalPlacement = OD_UndoPlacement::FromCapture(before.record);

    UIDRef made;
    if (RelinkWithGeometry(item, path, nullptr, option1, option2, made) != 0) {
        return false;
    }
    newItem = made;

    OD_OffsetInput in;
    in.cropRect = before.cropRect;
    if (InterfacePtr<IGeometry> g = InterfaceOf<IGeometry>(made)) {
        const PMRect box = g->GetBoundingBox();
        in.imageWidth = box.Width();
        in.imageHeight = box.Height();
    }
    // The server's output is a whole number of pixels: up to a pixel short of
    // the frame is rounding, not a part left out.
    in.tolerance = std::max(kODCropTolerance, PixelSize(made));
    const PMPoint offset = ComputeContentOffset(in);
    if (offset.X() != 0.0 || offset.Y() != 0.0) {
        MoveContent(made, offset.X(), offset.Y());
    }

    OD_PlacementCapture after;
    if (CapturePlacement(made, after) == 0) {
        undo.processedPlacement = OD_UndoPlacement::FromCapture(after.record);
    }
    OD_UndoDataAccessor(made).Write(undo);
    return true;
}

int32_t HandleFinishedOrder(UIDRef& item, const OD_PickupContext& context) {
    if (!IsUsableItemRef(item) || !InterfaceOf<IOrdoData>(item)) {
        return kODPickupNotWaiting;
    }
    OD_ProcData order;
    if (OD_DataAccessor(item).Read(order) != 0 || order.status != kODStatusSent) {
        return kODPickupNotWaiting;
    }
    const std::string& job = order.jobName.GetUTF8String();
    if (job.size() > kJobNameMax || context.endpoint == nullptr) {
        return kODPickupNotWaiting;
    }
    const std::string image = OrderImageName(order);

    // The reply as the record of jobs out keeps it (taken before: the
    // document that took it was not saved, or its step was undone), else as
    // the server wrote it; then it goes into the record before the document
    // takes its result.
    char text[kODReplyCapacity];
    const OD_JobJournal journal = OD_JobJournal::ForIdentityFolder();
    OD_JobEntry entry;
    const bool hasEntry = journal.Usable() && journal.Find(job, entry);
    std::string recorded;
    const bool wasRecorded = RecordedReply(journal, job, recorded) && recorded.size() < sizeof text;
    int32_t result = 0;
    if (wasRecorded) {
        std::memcpy(text, recorded.c_str(), recorded.size() + 1);
    } else {
        int capacity = kODReplyCapacity;
        result = context.endpoint->ReceiveFor(job.c_str(), text, capacity);
        if (result != 0 && result != kQorReplyCut) {
            return result;
        }
        recorded = result == 0 ? text : "";
    }

    BusyScope busy;
    // Gives the order up: failed, its reason in the log this once, the
    // server's reply kept in the record like any other answer. The order can
    // be sent again.
    auto fail = [&](const std::string& reason) -> int32_t {
        if (!wasRecorded) {
            RecordReply(journal, item, order, context.endpoint, recorded);
        }
        order.status = kODStatusReplyMinus2;
        if (OD_DataAccessor(item).Write(order) != kSuccess) {
            return kODPickupWriteFailed;
        }
        LogLine(context.log, image + ": " + reason);
        if (context.log != nullptr) {
            context.log->Show();
        }
        return kODPickupFailed;
    };

    if (result == kQorReplyCut) {
        return fail(OrdoMessage("0x71900kOrdoFailReplyCut", {}));
    }
    QorReply reply;
    // ParseReply leaves the status as it is for a word it does not know; a
    // value that is none of the server's words keeps such a reply from being
    // taken as a finish.
    reply.status = kReplyStatusUnknown;
    if (ParseReply(text, kODReplyCapacity, reply) != 0) {
        return fail(OrdoMessage("0x71900kOrdoFailReplyUnreadable", {}));
    }

    switch (reply.status) {
    case -2:
        order.status = kODStatusReplyMinus2;
        break;
    case -1:
        order.status = kODStatusReplyMinus1;
        break;
    case 0:
        order.status = kODStatusDone;
        break;
    default:
        // A stop (or a word this client does not know) ends the job without
        // a result.
        return fail(OrdoMessage("0x71900kOrdoFailStopped", {}, reply.message));
    }

    if (reply.status == -2) {
        // An error has nothing to relink.
        return fail(OrdoMessage("0x71900kOrdoFailServerError", {}, reply.message)) ==
                       kODPickupWriteFailed
                   ? kODPickupWriteFailed
                   : 0;
    }
    if (PathMayBeCut(reply)) {
        // Looking for the part that arrived could find some other file.
        return fail(OrdoMessage(kODResultPathCutKey, {}, std::string(reply.outputPath) + "..."));
    }
    char path[kServerPathCapacity];
    path[0] = '\0';
    int why = 0;
    const ResultFile found =
        CheckResultFile(context, reply, hasEntry ? &entry : nullptr, path, sizeof path, why);
    if (found == ResultFile::notYet) {
        // The OPI server makes the low-resolution file after the reply: it
        // is waited for as long as the server is waited for.
        const int64_t since = reply.time1 > 0 ? reply.time1 : entry.sent;
        if (since <= 0 || context.now - since < context.waitLimitSeconds) {
            return kODPickupNoResultFile;
        }
        return fail(OrdoMessage("0x71900kOrdoFailNoLowRes", {}, path));
    }
    if (found == ResultFile::missing) {
        return fail(OrdoMessage("0x71900kOrdoFailNoResultFile", {}, path));
    }
    if (found == ResultFile::unusable) {
        return fail(OrdoMessage("0x71900kOrdoFailResultUnreadable", {},
                                std::string(path) + " (" + std::strerror(why) + ")"));
    }

    // Kept before the document changes, so that an undo, a crash or a close
    // without saving can take it again.
    if (!wasRecorded) {
        RecordReply(journal, item, order, context.endpoint, recorded);
    }
    char linked[kODLinkPathSize];
    if (GetLinkPath(item, linked, sizeof linked) == 0 && std::strlen(linked) > kODRelinkPathMax) {
        return fail(OrdoMessage("0x71900kOrdoFailOriginalPathLong", {}, linked));
    }
    UIDRef made;
    if (!RelinkToProcessedFile(item, path, 1, 0, made)) {
        return fail(OrdoMessage("0x71900kOrdoFailRelink", {}, path));
    }
    ReplacePanelItem(context.panelItems, item, made);
    item = made;
    if (OD_DataAccessor(item).Write(order) != kSuccess) {
        // The reply stays, so the order is finished at the next pickup.
        return kODPickupWriteFailed;
    }
    if (reply.status != 0) {
        LogLine(context.log, image + ": " + reply.message);
        if (context.log != nullptr) {
            context.log->Show();
        }
    }
    LogLine(context.log, image + ": " + OrdoMessage("0x71900kOrdoLogPickedUp", {}, path));
    // The server's reply stays until a saved document holds the result.
    return 0;
}

void ReplacePanelItem(std::vector<UIDRef>* panelItems, const UIDRef& old, const UIDRef& made) {
    if (panelItems == nullptr) {
        return;
    }
    for (UIDRef& ref : *panelItems) {
        if (ref.GetDataBase() == old.GetDataBase() && ref.GetUID() == old.GetUID()) {
            ref = made;
            return;
        }
    }
}
