#include "IOrdoUndoData.h"

#include "IMG_Exception.h"
#include "IPMStream.h"
#include "ObjectModel.h"
#include "OrdoCommands.h"
#include "UStream.h"

#include <cstring>
#include <new>
#include <vector>

// ---- the record

OD_UndoPlacement OD_UndoPlacement::FromCapture(const OD_CaptureRecord& capture) {
    OD_UndoPlacement p;
    p.rotation = capture.rotation;
    p.xSkew = capture.xSkew;
    p.xScale = capture.xScale;
    p.yScale = capture.yScale;
    p.xOffset = capture.xOffset;
    p.yOffset = capture.yOffset;
    p.xMirrored = capture.xMirrored;
    p.yMirrored = capture.yMirrored;
    return p;
}

OD_CaptureRecord OD_UndoPlacement::ToCapture() const {
    OD_CaptureRecord capture;
    capture.rotation = rotation;
    capture.xSkew = xSkew;
    capture.xScale = xScale;
    capture.yScale = yScale;
    capture.xOffset = xOffset;
    capture.yOffset = yOffset;
    capture.xMirrored = xMirrored;
    capture.yMirrored = yMirrored;
    return capture;
}

int OD_UndoData::SetOtherFile(const char* path) {
    otherFile[0] = '\0';
    if (path == nullptr) {
        return 0;
    }
    std::size_t length = ::strnlen(path, kODUndoPathSize);
    if (length >= kODUndoPathSize) {
        return -1;
    }
    std::memcpy(otherFile, path, length + 1);
    return 0;
}

bool operator==(const OD_UndoData& a, const OD_UndoData& b) {
    return a.savedStatus == b.savedStatus &&
           ::strncmp(a.otherFile, b.otherFile, kODUndoPathSize) == 0 &&
           a.originalPlacement == b.originalPlacement &&
           a.processedPlacement == b.processedPlacement;
}

namespace {

// A transfer that must move every byte: a short one while reading means the
// block ends inside the record.
void Must(int status) {
    if (status != 0) {
        throw IMG_Exception(kODUndoShortBlockError);
    }
}

void XferPlacement(UStream& stream, OD_UndoPlacement& p) {
    int16_t version = kODUndoDataVersion;
    Must(stream.XferInt16(version));
    Must(stream.XferDouble(p.rotation));
    Must(stream.XferDouble(p.xSkew));
    Must(stream.XferDouble(p.xScale));
    Must(stream.XferDouble(p.yScale));
    Must(stream.XferDouble(p.xOffset));
    Must(stream.XferDouble(p.yOffset));
    Must(stream.XferBool(p.xMirrored));
    Must(stream.XferBool(p.yMirrored));
}

void XferStatus(UStream& stream, uint16_t& status) {
    auto v = static_cast<int16_t>(status);
    Must(stream.XferInt16(v));
    status = static_cast<uint16_t>(v);
}

} // namespace

int OD_UndoData::Serialize(UStream& stream) {
    if (stream.IsWriting()) {
        std::size_t length = ::strnlen(otherFile, kODUndoPathSize);
        if (length >= kODUndoPathSize) {
            // Not one text within the field: nothing that would read back.
            throw IMG_Exception(kODUndoBadPathError);
        }
        int16_t version = kODUndoDataVersion;
        Must(stream.XferInt16(version));
        XferStatus(stream, savedStatus);
        auto count = static_cast<uint32_t>(length + 1); // the NUL counts
        Must(stream.XferUInt32(count));
        Must(stream.XferBytes(otherFile, count));
        XferPlacement(stream, originalPlacement);
        XferPlacement(stream, processedPlacement);
        return 0;
    }

    // Reading: into a new record, which replaces this one when it is whole.
    OD_UndoData read;
    int16_t version = 0;
    Must(stream.XferInt16(version));
    XferStatus(stream, read.savedStatus);
    uint32_t count = 0;
    Must(stream.XferUInt32(count));
    // A length of 0 or past the limit marks a damaged record; one that passes
    // that test must still fit the field, since cutting the path would name
    // some other file.
    if (count == 0 || count > kODUndoPathLengthLimit || count > kODUndoPathSize) {
        throw IMG_Exception(kODUndoBadPathError);
    }
    uint32_t moved = count;
    Must(stream.XferBytes(read.otherFile, moved));
    // Exactly one text: the NUL is the last byte and the only one.
    if (read.otherFile[count - 1] != '\0' || ::strnlen(read.otherFile, count) != count - 1) {
        throw IMG_Exception(kODUndoBadPathError);
    }
    XferPlacement(stream, read.originalPlacement);
    XferPlacement(stream, read.processedPlacement);
    *this = read;
    return 0;
}

bool ReadWriteUndoData(IPMStream* stream, OD_UndoData& record) {
    if (stream->IsWriting()) {
        UBufferStreamWrite block;
        try {
            record.Serialize(block);
        } catch (const IMG_Exception&) {
            stream->SetFailed();
            return false;
        }
        auto size = static_cast<uint32_t>(block.GetPosition());
        stream->XferUInt32(size);
        // GetBlock() is const: the host stream only reads from it here.
        stream->XferByte(const_cast<uint8_t*>(block.GetBlock()), size);
        return stream->Good();
    }

    uint32_t size = 0;
    stream->XferUInt32(size);
    if (!stream->Good()) {
        return false;
    }
    if (size > stream->Remaining()) {
        stream->SetFailed();
        return false;
    }
    std::vector<uint8_t> bytes;
    try {
        bytes.resize(size);
    } catch (const std::bad_alloc&) {
        stream->SetFailed();
        return false;
    }
    stream->XferByte(bytes.data(), bytes.size());
    if (!stream->Good()) {
        return false;
    }
    UBufferStreamRead block(bytes.data(), size);
    try {
        record.Serialize(block);
    } catch (const IMG_Exception&) {
        stream->SetFailed();
        return false;
    }
    return true;
}

namespace {

class OrdoUndoDataPersist : public CPMUnknown<IOrdoUndoData> {
public:
    explicit OrdoUndoDataPersist(IPMUnknown* object) : CPMUnknown<IOrdoUndoData>(object) {}

    void Set(const OD_UndoData& value) override {
        PreDirty();
        record = value;
    }
    OD_UndoData Get() const override { return record; }

    void ReadWrite(IPMStream* stream, ImplementationID) override {
        ReadWriteUndoData(stream, record);
    }

private:
    OD_UndoData record;
};

class OrdoUndoDataArrayNonPersist : public CPMUnknown<IOrdoUndoDataArray> {
public:
    explicit OrdoUndoDataArrayNonPersist(IPMUnknown* object)
        : CPMUnknown<IOrdoUndoDataArray>(object) {}

    void SetAt(const OD_UndoData& value, int32_t index) override {
        if (index >= 0 && static_cast<std::size_t>(index) < records.size()) {
            records[static_cast<std::size_t>(index)] = value;
        }
    }
    OD_UndoData GetAt(int32_t index) const override {
        if (index >= 0 && static_cast<std::size_t>(index) < records.size()) {
            return records[static_cast<std::size_t>(index)];
        }
        return OD_UndoData();
    }
    void SetCount(int32_t n) override {
        records.assign(n > 0 ? static_cast<std::size_t>(n) : 0, OD_UndoData());
    }
    int32_t GetCount() const override { return static_cast<int32_t>(records.size()); }

private:
    std::vector<OD_UndoData> records;
};

} // namespace

void RegisterOrdoUndoDataImplementations() {
    ObjectModel& model = ObjectModel::Get();
    const ImplementationFactory factories[] = {
        {kOrdoUndoDataPersistImpl, "OrdoUndoDataPersist", CreateImplementation<OrdoUndoDataPersist>,
         true},
        {kOrdoUndoDataArrayNonPersistImpl, "OrdoUndoDataArrayNonPersist",
         CreateImplementation<OrdoUndoDataArrayNonPersist>, false},
    };
    for (const ImplementationFactory& factory : factories) {
        if (!model.IsRegistered(factory.id)) {
            model.RegisterImplementation(factory);
        }
    }
}
