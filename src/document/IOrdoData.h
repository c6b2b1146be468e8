#pragma once

// The order record as the document keeps it: on every placed image (behind
// IOrdoData, saved with the document), on the image options dialog (behind
// IOrdoDataNonPersist) and on the set-order-data command (IOrdoDataArray).

#include "HostIDs.h"
#include "IPMUnknown.h"
#include "OD_ProcData.h"
#include "PMString.h"

#include <cstdint>

class IPMStream;

inline constexpr PMIID IID_IORDODATA{0x71900};
inline constexpr PMIID IID_IORDODATAARRAY{0x71904};
inline constexpr PMIID IID_IORDODATANONPERSIST{0x71907};

inline constexpr ImplementationID kOrdoDataPersistImpl{0x71905};
inline constexpr ImplementationID kOrdoDataArrayNonPersistImpl{0x71906};
inline constexpr ImplementationID kOrdoDataNonPersistImpl{0x71919};

// Stream versions of the stored order record. Each version added fields at
// the end; a record of an older version reads with the later fields at the
// values of a new record.
inline constexpr int16_t kODProcDataVersionFirst = 256;      // up to outputName
inline constexpr int16_t kODProcDataVersionPrefix = 257;     // + prefix
inline constexpr int16_t kODProcDataVersionJobName = 258;    // + jobName
inline constexpr int16_t kODProcDataVersionClass = 259;      // + imageClass
inline constexpr int16_t kODProcDataVersionPixels = 260;     // + pixel size, format, sourcePath
inline constexpr int16_t kODProcDataVersionResolution = 261; // + resolution
inline constexpr int16_t kODProcDataVersionLinkPath = 262;   // + linkPath
inline constexpr int16_t kODProcDataVersionPrefsFile = 263;  // + prefsFileName
inline constexpr int16_t kODProcDataVersionCurrent = kODProcDataVersionPrefsFile;

// Moves an order record through the host's stream: a marker (written 1, not
// looked at on reading), the version (written kODProcDataVersionCurrent), then
// the fields the version carries. Reading starts from a new record, so the
// fields an older version lacks keep their defaults (a resolution of 0 among
// them), and replaces `record` only when the stream read the whole record;
// otherwise the stream is failed and `record` is left as it was. Returns
// whether the stream is still good.
bool ReadWriteProcData(IPMStream* stream, OD_ProcData& record);

// The order record of a page item. A page item that is not on the orders
// list carries a record with status 0.
class IOrdoData : public IPMUnknown {
public:
    enum { kDefaultIID = IID_IORDODATA.value };

    // Marks the item changed (so that the change is one undo step and the
    // document is dirty), then takes a copy of the record.
    virtual void Set(const OD_ProcData& record) = 0;
    virtual OD_ProcData Get() const = 0;
};

// The record that the image options dialog edits, with the status text it
// shows for the image. Not saved.
class IOrdoDataNonPersist : public IPMUnknown {
public:
    enum { kDefaultIID = IID_IORDODATANONPERSIST.value };

    virtual void SetString(const PMString& text) = 0;
    virtual void SetData(const OD_ProcData& record) = 0;
    virtual OD_ProcData GetData() const = 0;
    virtual PMString GetString() const = 0;
};

// The records a set-order-data command gives its items, one per item in the
// item list's order. Not saved.
class IOrdoDataArray : public IPMUnknown {
public:
    enum { kDefaultIID = IID_IORDODATAARRAY.value };

    // Copies the record into slot index; an index outside the array changes
    // nothing.
    virtual void SetAt(const OD_ProcData& record, int32_t index) = 0;
    // The record of slot index; a new record for an index outside the array.
    virtual OD_ProcData GetAt(int32_t index) const = 0;
    // Replaces the array by n new records (none for n <= 0).
    virtual void SetCount(int32_t n) = 0;
    virtual int32_t GetCount() const = 0;
};
