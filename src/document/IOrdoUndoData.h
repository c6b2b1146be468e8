#pragma once

// The undo record of a processed image: which file is not linked at present
// and the placement that goes with each of the two files, so that "Undo Redo
// Process" can swap them back and forth. Kept on the image beside its order
// record (IOrdoUndoData, saved with the document) and carried by the
// set-undo-data command (IOrdoUndoDataArray).

#include "HostIDs.h"
#include "IPMUnknown.h"
#include "OD_Geometry.h"

#include <cstddef>
#include <cstdint>

class IPMStream;
class UStream;

inline constexpr PMIID IID_IORDOUNDODATA{0x71909};
inline constexpr PMIID IID_IORDOUNDODATAARRAY{0x7190A};

inline constexpr ImplementationID kOrdoUndoDataPersistImpl{0x7191D};
inline constexpr ImplementationID kOrdoUndoDataArrayNonPersistImpl{0x7191F};

// The path field of the undo record: 260 bytes of path and the NUL.
inline constexpr std::size_t kODUndoPathSize = 261;
// The version written before the record and before each placement; not
// looked at on reading.
inline constexpr int16_t kODUndoDataVersion = 256;
// Longest path length (NUL included) a stored record may claim before the
// length alone marks it as damaged. A length that passes this test must
// still fit the path field.
inline constexpr uint32_t kODUndoPathLengthLimit = 256000;

// Errors of reading an undo record (raised as IMG_Exception).
inline constexpr int32_t kODUndoShortBlockError = -1; // the block ends inside the record
inline constexpr int32_t kODUndoNoMemoryError = -2;   // no memory for the block
inline constexpr int32_t kODUndoBadPathError = -27;   // path length 0, too long, or not one text

// The part of a captured placement that the undo record keeps: the matrix
// parts and the offsets of OD_CaptureRecord, without its bounding box.
struct OD_UndoPlacement {
    double rotation = 0.0;
    double xSkew = 0.0;
    double xScale = 1.0;
    double yScale = 1.0;
    double xOffset = 0.0;
    double yOffset = 0.0;
    bool xMirrored = false;
    bool yMirrored = false;

    static OD_UndoPlacement FromCapture(const OD_CaptureRecord& capture);
    // A capture record with these parts and an empty bounding box, as
    // RestorePlacement takes it.
    OD_CaptureRecord ToCapture() const;

    friend bool operator==(const OD_UndoPlacement&, const OD_UndoPlacement&) = default;
};

struct OD_UndoData {
    // Status the order gets back at the next swap; 0: the record holds nothing.
    uint16_t savedStatus = 0;
    // The file that is not linked at present (NUL-terminated, at most 260
    // bytes): the original while the processed file is placed, the processed
    // file after an undo.
    char otherFile[kODUndoPathSize] = {};
    // The placement for the original file and for the processed one.
    OD_UndoPlacement originalPlacement;
    OD_UndoPlacement processedPlacement;

    // Puts a path into otherFile. A path that does not fit (261 bytes or more)
    // is refused: -1, and otherFile is left empty, never cut into the name of
    // another file. 0 when copied.
    int SetOtherFile(const char* path);

    // Moves the record through a buffer stream in either direction: the
    // version, the saved status, the path as a 32-bit length (NUL included)
    // and its bytes, then the two placements, each with its own version.
    // Reading throws IMG_Exception: kODUndoBadPathError for a path length of
    // 0, one that does not fit otherFile, or bytes that are not one
    // NUL-terminated text of that length; kODUndoShortBlockError when the
    // block ends before the record does. The record is only changed when the
    // whole of it was read; bytes after it are not looked at. Returns 0.
    int Serialize(UStream& stream);

    friend bool operator==(const OD_UndoData& a, const OD_UndoData& b);
};

// Moves an undo record through the host's stream as one block: a 32-bit
// byte count, then the bytes that Serialize writes. A block that does not
// read as a whole record, or a count that runs past the stream, fails the
// stream and leaves `record` as it was. Returns whether the stream is still
// good.
bool ReadWriteUndoData(IPMStream* stream, OD_UndoData& record);

// The undo record of a placed image; a fresh one holds nothing (saved status
// 0, empty path).
class IOrdoUndoData : public IPMUnknown {
public:
    enum { kDefaultIID = IID_IORDOUNDODATA.value };

    // Marks the item changed, then takes a copy of the record.
    virtual void Set(const OD_UndoData& record) = 0;
    virtual OD_UndoData Get() const = 0;
};

// The records a set-undo-data command gives its items. Not saved.
class IOrdoUndoDataArray : public IPMUnknown {
public:
    enum { kDefaultIID = IID_IORDOUNDODATAARRAY.value };

    // As IOrdoDataArray: out-of-range indexes change nothing and read a new
    // record.
    virtual void SetAt(const OD_UndoData& record, int32_t index) = 0;
    virtual OD_UndoData GetAt(int32_t index) const = 0;
    virtual void SetCount(int32_t n) = 0;
    virtual int32_t GetCount() const = 0;
};
