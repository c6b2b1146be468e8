#include "IOrdoData.h"

#include "IPMStream.h"
#include "ObjectModel.h"
#include "OrdoCommands.h"

#include <vector>

namespace {

void XferUInt16(IPMStream* stream, uint16_t& value) {
    auto v = static_cast<int16_t>(value);
    stream->XferInt16(v);
    value = static_cast<uint16_t>(v);
}

void XferUInt32Field(IPMStream* stream, uint32_t& value) {
    stream->XferUInt32(value);
}

// The fields of a record in their stored order, as far as `version` carries
// them.
void XferFields(IPMStream* stream, OD_ProcData& r, int16_t version) {
    XferUInt16(stream, r.status);
    stream->XferInt16(r.processCode);
    stream->XferPMString(r.profile);
    XferUInt16(stream, r.auxFlag);
    stream->XferPMString(r.auxText);
    stream->XferPMString(r.outputName);
    if (version >= kODProcDataVersionPrefix) {
        stream->XferPMString(r.prefix);
    }
    if (version >= kODProcDataVersionJobName) {
        stream->XferPMString(r.jobName);
    }
    if (version >= kODProcDataVersionClass) {
        XferUInt32Field(stream, r.imageClass);
    }
    if (version >= kODProcDataVersionPixels) {
        XferUInt32Field(stream, r.pixelWidth);
        XferUInt32Field(stream, r.pixelHeight);
        XferUInt32Field(stream, r.formatCode);
        stream->XferPMString(r.sourcePath);
    }
    if (version >= kODProcDataVersionResolution) {
        stream->XferReal(r.resolution);
    }
    if (version >= kODProcDataVersionLinkPath) {
        stream->XferPMString(r.linkPath);
    }
    if (version >= kODProcDataVersionPrefsFile) {
        stream->XferPMString(r.prefsFileName);
    }
}

// ---- the persistent record on page items

class OrdoDataPersist : public CPMUnknown<IOrdoData> {
public:
    explicit OrdoDataPersist(IPMUnknown* object) : CPMUnknown<IOrdoData>(object) {}

    void Set(const OD_ProcData& value) override {
        PreDirty();
        record = value;
    }
    OD_ProcData Get() const override { return record; }

    void ReadWrite(IPMStream* stream, ImplementationID) override {
        ReadWriteProcData(stream, record);
    }

private:
    OD_ProcData record;
};

// ---- the dialog's record

class OrdoDataNonPersist : public CPMUnknown<IOrdoDataNonPersist> {
public:
    explicit OrdoDataNonPersist(IPMUnknown* object) : CPMUnknown<IOrdoDataNonPersist>(object) {}

    void SetString(const PMString& value) override { text = value; }
    void SetData(const OD_ProcData& value) override { record = value; }
    OD_ProcData GetData() const override { return record; }
    PMString GetString() const override { return text; }

private:
    OD_ProcData record;
    PMString text;
};

// ---- the command's records

class OrdoDataArrayNonPersist : public CPMUnknown<IOrdoDataArray> {
public:
    explicit OrdoDataArrayNonPersist(IPMUnknown* object) : CPMUnknown<IOrdoDataArray>(object) {}

    void SetAt(const OD_ProcData& value, int32_t index) override {
        if (index >= 0 && static_cast<std::size_t>(index) < records.size()) {
            records[static_cast<std::size_t>(index)] = value;
        }
    }
    OD_ProcData GetAt(int32_t index) const override {
        if (index >= 0 && static_cast<std::size_t>(index) < records.size()) {
            return records[static_cast<std::size_t>(index)];
        }
        return OD_ProcData();
    }
    void SetCount(int32_t n) override {
        records.assign(n > 0 ? static_cast<std::size_t>(n) : 0, OD_ProcData());
    }
    int32_t GetCount() const override { return static_cast<int32_t>(records.size()); }

private:
    std::vector<OD_ProcData> records;
};

} // namespace

bool ReadWriteProcData(IPMStream* stream, OD_ProcData& record) {
    if (stream->IsWriting()) {
        int16_t marker = 1;
        int16_t version = kODProcDataVersionCurrent;
        stream->XferInt16(marker);
        stream->XferInt16(version);
        XferFields(stream, record, version);
        return stream->Good();
    }
    int16_t marker = 0;
    int16_t version = 0;
    stream->XferInt16(marker);
    stream->XferInt16(version);
    OD_ProcData read;
    XferFields(stream, read, version);
    if (stream->Good()) {
        record = std::move(read);
    }
    return stream->Good();
}

// Registered with the commands (OrdoCommands.cpp).
void RegisterOrdoDataImplementations() {
    ObjectModel& model = ObjectModel::Get();
    const ImplementationFactory factories[] = {
        {kOrdoDataPersistImpl, "OrdoDataPersist", CreateImplementation<OrdoDataPersist>, true},
        {kOrdoDataNonPersistImpl, "OrdoDataNonPersist", CreateImplementation<OrdoDataNonPersist>,
         false},
        {kOrdoDataArrayNonPersistImpl, "OrdoDataArrayNonPersist",
         CreateImplementation<OrdoDataArrayNonPersist>, false},
    };
    for (const ImplementationFactory& factory : factories) {
        if (!model.IsRegistered(factory.id)) {
            model.RegisterImplementation(factory);
        }
    }
}
