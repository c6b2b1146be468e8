#include "OD_Pickup.h"

#include "DocumentModel.h"
#include "DocumentUtils.h"
#include "IGeometry.h"
#include "IOrdoData.h"
#include "IOrdoUndoData.h"
#include "ITransform.h"
#include "OD_DataAccessor.h"
#include "OD_Preferences.h"
#include "PMString.h"
#include "Paths.h"
#include "Platform.h"
#include "QOR_Configuration.h"
#include "QOR_EndPoint.h"
#include "QorReply.h"

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
// Degrees to radians as the offset's turn has always been computed.
constexpr double kDegreesToRadians = 3.141592653 / 180.0;

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

void ReplaceInPanel(std::vector<UIDRef>* panelItems, const UIDRef& old, const UIDRef& made) {
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
    const double sx = std::fabs(in.scaleX);
    const double sy = std::fabs(in.scaleY);
    double dx = 0.0;
    if (in.cropFlags.horizontalA) {
        dx = r.Left() < 0.0 ? -r.Left() * sx : 0.0;
    } else if (in.cropFlags.horizontalB) {
        dx = ((r.Right() - r.Left()) - in.imageWidth) * sx + kODCropTolerance;
    }
    double dy = 0.0;
    if (in.cropFlags.verticalA) {
        dy = r.Top() < 0.0 ? -r.Top() * sy : 0.0;
    } else if (in.cropFlags.verticalB) {
        dy = ((r.Bottom() - r.Top()) - in.imageHeight) * sy + kODCropTolerance;
    }
    if (std::fabs(dx) < kODMatchTolerance && std::fabs(dy) < kODMatchTolerance) {
        return PMPoint(0.0, 0.0);
    }
    if (in.flipGD) {
        dx = -dx;
    }
    if (in.flipHB) {
        dy = -dy;
    }
    if (in.angle != 0.0) {
        const double a = in.angle * kDegreesToRadians;
        const double c = std::cos(a);
        const double s = std::sin(a);
        const double x = dx * c - dy * s;
        const double y = dx * s + dy * c;
        dx = x;
        dy = y;
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

    // The ticket's view of the placement, as the order was sent with it.
    OD_ProcData order;
    if (OD_DataAccessor(item).Read(order) != 0) {
        order = OD_ProcData();
    }
    OD_PlacementGeometry geometry;
    if (GetPlacementGeometry(item, geometry) != 0) {
        return false;
    }
    const OD_TicketGeometry ticket =
        ComputeTicketGeometry(item, order.formatCode, order.resolution, geometry);

    UIDRef made;
    if (RelinkWithGeometry(item, path, nullptr, option1, option2, made) != 0) {
        return false;
    }
    newItem = made;

    OD_OffsetInput in;
    in.cropRect = before.cropRect;
    in.cropFlags = before.cropFlags;
    in.scaleX = ticket.scaleX;
    in.scaleY = ticket.scaleY;
    in.angle = ticket.angle;
    in.flipGD = ticket.flipGD != 0;
    in.flipHB = ticket.flipHB != 0;
    if (InterfacePtr<IGeometry> g = InterfaceOf<IGeometry>(made)) {
        const PMRect box = g->GetBoundingBox();
        in.imageWidth = box.Width();
        in.imageHeight = box.Height();
    }
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

    char text[kODReplyCapacity];
    int capacity = kODReplyCapacity;
    if (int32_t result = context.endpoint->ReceiveFor(job.c_str(), text, capacity); result != 0) {
        return result;
    }
    QorReply reply;
    if (int32_t result = ParseReply(text, kODReplyCapacity, reply); result != 0) {
        return result;
    }

    BusyScope busy;
    bool check = false;
    char path[kServerPathCapacity];
    path[0] = '\0';
    switch (reply.status) {
    case -2:
        order.status = kODStatusReplyMinus2;
        check = true; // nothing to relink
        break;
    case -1:
        order.status = kODStatusReplyMinus1;
        break;
    case 0:
        order.status = kODStatusDone;
        break;
    default:
        break;
    }
    bool relinked = true;
    if (reply.status != -2) {
        check = CheckResultFile(context, reply, path, sizeof path);
        if (check) {
            UIDRef made;
            relinked = RelinkToProcessedFile(item, path, 1, 0, made);
            if (relinked) {
                ReplaceInPanel(context.panelItems, item, made);
                item = made;
            }
        }
    }

    if (reply.status != 0 && context.log != nullptr) {
        std::string line = reply.message;
        line += '\n';
        context.log->Append(line.c_str());
        context.log->Show();
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
    context.endpoint->ReleaseReply(job.c_str());
    return 0;
}
