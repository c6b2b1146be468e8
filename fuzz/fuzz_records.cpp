// Feeds arbitrary bytes to the readers of the records stored on placed
// images: the order record through the host stream, the undo record as the
// host stream's length-prefixed block, and the undo record's own reader on a
// bare buffer stream. A refused input must leave the record exactly as it
// was; an accepted one must write back into bytes that read as the same
// record, and its path must end inside its field.
#include "IMG_Exception.h"
#include "IOrdoData.h"
#include "IOrdoUndoData.h"
#include "IPMStream.h"
#include "UStream.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// Records whose every field differs from a new record's, so that a change
// by a refused read would show.
OD_ProcData MarkedOrder() {
    OD_ProcData r;
    r.status = 0x0004;
    r.processCode = 22;
    r.profile = "marked";
    r.outputName = "marked";
    r.prefsFileName = "marked.opf";
    r.imageClass = 4;
    r.resolution = 123.0;
    return r;
}

OD_UndoData MarkedUndo() {
    OD_UndoData r;
    r.savedStatus = 0x0008;
    r.SetOtherFile("marked.tif");
    r.originalPlacement.rotation = 33.0;
    r.processedPlacement.yMirrored = true;
    return r;
}

Bytes OrderBytes(OD_ProcData r) {
    MemoryStream out;
    if (!ReadWriteProcData(&out, r)) {
        std::abort();
    }
    return out.TakeBytes();
}

Bytes UndoBytes(OD_UndoData r) {
    MemoryStream out;
    if (!ReadWriteUndoData(&out, r)) {
        std::abort();
    }
    return out.TakeBytes();
}

void CheckPath(const OD_UndoData& r) {
    if (::strnlen(r.otherFile, kODUndoPathSize) >= kODUndoPathSize) {
        std::abort();
    }
}

// Writes and reads back: the same record, every byte used. Compared through
// the bytes, so that a NaN read from the input equals itself.
void CheckRoundTrip(const OD_ProcData& r) {
    Bytes bytes = OrderBytes(r);
    MemoryStream in(bytes);
    OD_ProcData again;
    if (!ReadWriteProcData(&in, again) || in.Remaining() != 0 || OrderBytes(again) != bytes) {
        std::abort();
    }
}

void CheckRoundTrip(const OD_UndoData& r) {
    Bytes bytes = UndoBytes(r);
    MemoryStream in(bytes);
    OD_UndoData again;
    if (!ReadWriteUndoData(&in, again) || in.Remaining() != 0 || UndoBytes(again) != bytes) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const Bytes markedOrder = OrderBytes(MarkedOrder());
    static const Bytes markedUndo = UndoBytes(MarkedUndo());
    const Bytes input(data, data + size);

    // The order record through the host stream.
    {
        OD_ProcData r = MarkedOrder();
        MemoryStream in(input);
        if (ReadWriteProcData(&in, r)) {
            CheckRoundTrip(r);
        } else if (OrderBytes(r) != markedOrder) {
            std::abort();
        }
    }

    // The undo record as the host stream carries it.
    {
        OD_UndoData r = MarkedUndo();
        MemoryStream in(input);
        if (ReadWriteUndoData(&in, r)) {
            CheckPath(r);
            CheckRoundTrip(r);
        } else if (in.Good() || UndoBytes(r) != markedUndo) {
            std::abort();
        }
    }

    // The undo record's own reader on the bytes as a block.
    {
        OD_UndoData r = MarkedUndo();
        UBufferStreamRead block(input.data(), static_cast<uint32_t>(input.size()));
        bool accepted = true;
        try {
            r.Serialize(block);
        } catch (const IMG_Exception& e) {
            accepted = false;
            if (e.Code() != kODUndoBadPathError && e.Code() != kODUndoShortBlockError) {
                std::abort();
            }
        }
        if (accepted) {
            CheckPath(r);
            CheckRoundTrip(r);
        } else if (UndoBytes(r) != markedUndo) {
            std::abort();
        }
    }
    return 0;
}
