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

// Whether the processed file is there, with its local path in path.
bool CheckResultFile(const OD_PickupContext& context, const QorReply& reply, char* path,
                     std::size_t capacity) {
    if (context.prefs != nullptr && context.prefs->GetOpiActive()) {
        if (!MakeOpiLowResPath(context.prefs->GetOpiLoResFolder(), reply.outputPath,
                               reply.pathStyle, context.prefs->GetOpiSuffix().c_str(), path,
                               capacity)) {
            return false;
        }
        platform::FileTimes times;
        return platform::GetFileTimes(path, times) == 0 && times.modified >= reply.time1;
    }
    if (!CopyBounded(path, capacity, reply.outputPath)) {
        return false;
    }
    return MapServerPath(context.endpoint, path, reply.pathStyle) == 0;
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

    // The reply as the record of jobs out keeps it (taken before: the
    // document that took it was not saved, or its step was undone), else as
    // the server wrote it; then it goes into the record before the document
    // takes its result.
    char text[kODReplyCapacity];
    const OD_JobJournal journal = OD_JobJournal::ForIdentityFolder();
    std::string recorded;
    const bool wasRecorded = RecordedReply(journal, job, recorded) && recorded.size() < sizeof text;
    if (wasRecorded) {
        std::memcpy(text, recorded.c_str(), recorded.size() + 1);
    } else {
        int capacity = kODReplyCapacity;
        if (int32_t result = context.endpoint->ReceiveFor(job.c_str(), text, capacity);
            result != 0) {
            return result;
        }
        recorded = text;
    }
    QorReply reply;
    // ParseReply leaves the status as it is for a word it does not know; a
    // value that is none of the server's words keeps such a reply from being
    // taken as a finish.
    reply.status = kReplyStatusUnknown;
    if (int32_t result = ParseReply(text, kODReplyCapacity, reply); result != 0) {
        return result;
    }

    BusyScope busy;
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
        // A stop (or an unknown word) does not finish the job: nothing is
        // relinked and the order stays Sent. The reply is released so that
        // the server's next reply to this job is read from its folder; its
        // message is logged this once.
        LogLine(context.log, reply.message);
        if (context.log != nullptr) {
            context.log->Show();
        }
        context.endpoint->ReleaseReply(job.c_str());
        return kODPickupNotFinished;
    }

    // Kept before the document changes, so that an undo, a crash or a close
    // without saving can take it again.
    if (!wasRecorded) {
        RecordReply(journal, item, order, context.endpoint, recorded);
    }

    bool check = reply.status == -2; // an error has nothing to relink
    bool relinked = true;
    bool pathCut = false;
    char path[kServerPathCapacity];
    path[0] = '\0';
    if (!check) {
        pathCut = PathMayBeCut(reply);
        check = !pathCut && CheckResultFile(context, reply, path, sizeof path);
        if (check) {
            UIDRef made;
            relinked = RelinkToProcessedFile(item, path, 1, 0, made);
            if (relinked) {
                ReplacePanelItem(context.panelItems, item, made);
                item = made;
            }
        }
    }

    if (reply.status != 0) {
        LogLine(context.log, reply.message);
    }
    if (pathCut) {
        // Looking for the part that arrived could find some other file.
        PMString text(kODResultPathCutKey);
        text.Translate();
        LogLine(context.log, text.GetUTF8String() + reply.outputPath + "...");
    }
    if ((reply.status != 0 || pathCut) && context.log != nullptr) {
        context.log->Show();
    }

    if (pathCut) {
        return kODPickupResultPathCut;
    }
    if (!check) {
        return kODPickupNoResultFile;
    }
    if (!relinked) {
        return kODPickupRelinkFailed;
    }
    if (OD_DataAccessor(item).Write(order) != kSuccess) {
        // The reply stays, so the order is finished at the next pickup.
        return kODPickupWriteFailed;
    }
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
