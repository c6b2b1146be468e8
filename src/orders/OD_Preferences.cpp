#include "OD_Preferences.h"

#include "HostPlatform.h"
#include "IPMStream.h"

#include <cstring>

namespace {

// The identity folder, fixed once per process (host main thread only).
struct IdentityFolderState {
    bool fixed = false;
    char folder[kODPrefsPathSize] = {};
    const char* problem = "";
};

IdentityFolderState& Identity() {
    static IdentityFolderState state;
    return state;
}

void FixIdentityFolder() {
    IdentityFolderState& state = Identity();
    if (state.fixed) {
        return;
    }
    state = IdentityFolderState();
    state.fixed = true;

    char system[HostPlatform::kSystemFolderMax + 1];
    std::size_t length = HostPlatform::GetSystemFolder(system, sizeof system);
    if (length == 0 || length >= sizeof system) {
        state.problem = HostPlatform::GetSystemFolder().empty()
                            ? "no system folder is set"
                            : "the system folder's path is longer than 511 characters";
        return;
    }
    std::string chosen = system;
    std::string own = chosen;
    if (own.back() != kPathSeparator) {
        own += kPathSeparator;
    }
    own += "velmaris";
    own += kPathSeparator;
    own += "OD_ID";
    if (HostPlatform::IsDirectory(own.c_str())) {
        chosen = own;
    }
    if (chosen.size() >= kODPrefsPathSize) {
        state.problem = "the preference folder's path is longer than 260 characters";
        return;
    }
    std::memcpy(state.folder, chosen.c_str(), chosen.size() + 1);
}

} // namespace

// Moves the fields of a record through a stream in the record's layout. The
// one sequence serves both ways, so that reading can never drift from
// writing. Reading checks every value and stops at the first bad one.
class OD_PrefsTransfer {
public:
    explicit OD_PrefsTransfer(IPMStream* s) : stream(s), reading(s->IsReading()) {}

    OD_PrefsReadResult Run(OD_PrefsData& r) {
        int16_t v = kODPrefsVersion;
        Int16(v, "version");
        if (reading && Ok()) {
            result.version = v;
            if (v < kODPrefsOldestVersion || v > kODPrefsVersion) {
                Fail(OD_PrefsReadError::kBadVersion, "version " + std::to_string(v) +
                                                         " is not one of " +
                                                         std::to_string(kODPrefsOldestVersion) +
                                                         " to " + std::to_string(kODPrefsVersion));
            }
        }
        Flag(r.headFlag, "headFlag");
        Real(r.resolution, "resolution");
        Real(r.downSmpMin, "downSmpMin");
        Real(r.upSmpMax, "upSmpMax");
        if (v >= 260) {
            Path(r.serverPath, "serverPath");
        }
        Path(r.outFolder, "outFolder");
        if (v >= 257) {
            Flag(r.repSrc, "repSrc");
            Flag(r.delSrc, "delSrc");
        }
        Text(r.defaultProcess, "defaultProcess");
        Flag(r.ovrWrDest, "ovrWrDest");
        Flag(r.checkSrc, "checkSrc");
        Flag(r.autoUpdt, "autoUpdt");
        Int16(r.frequency, "frequency");
        Flag(r.opiActive, "opiActive");
        if (v >= 259) {
            // The OPI block's own version is written for older readers and
            // not needed to read the block.
            int16_t opiVersion = kODPrefsOPIVersion;
            Int16(opiVersion, "OPI block version");
            Text(r.opiText1, "opiText1");
            Text(r.opiText2, "opiText2");
            Int16(r.opiValue, "opiValue");
            Text(r.opiSuffix, "opiSuffix");
        }
        Path(r.opiLoResFolder, "opiLoResFolder");
        for (auto& slot : r.classDefaults) {
            Int16(slot.code, "defaultCode");
            Text(slot.prefix, "defaultPrefix");
            Text(slot.profile, "defaultProfile");
        }
        if (v >= 258) {
            Flag(r.spareFlagA, "spareFlagA");
            Flag(r.autoImport, "autoImport");
        }
        if (v >= 259) {
            Flag(r.spareFlagB, "spareFlagB");
            Text(r.spareText, "spareText");
        }
        if (v >= 261) {
            Flag(r.qualityControl, "qualityControl");
        }
        if (v >= 262) {
            Flag(r.showPrefs, "showPrefs");
        }
        if (reading && !Ok() && result.error == OD_PrefsReadError::kNone) {
            Fail(OD_PrefsReadError::kEndOfData, "the data cannot be read");
        }
        return result;
    }

private:
    bool Ok() const { return result.error == OD_PrefsReadError::kNone && stream->Good(); }

    void Fail(OD_PrefsReadError error, const std::string& reason) {
        if (result.error == OD_PrefsReadError::kNone) {
            result.error = error;
            result.reason = reason;
        }
        stream->SetFailed();
    }

    // After a transfer: a reading stream that failed ran out of data.
    void Check(const char* field) {
        if (reading && !stream->Good() && result.error == OD_PrefsReadError::kNone) {
            Fail(OD_PrefsReadError::kEndOfData, std::string("the data ends inside ") + field);
        }
    }

    void Int16(int16_t& value, const char* field) {
        if (Ok()) {
            stream->XferInt16(value);
            Check(field);
        }
    }

    void Real(double& value, const char* field) {
        if (Ok()) {
            stream->XferReal(value);
            Check(field);
        }
    }

    // A 16-bit flag, 0 or 1.
    void Flag(bool& value, const char* field) {
        if (!Ok()) {
            return;
        }
        int16_t raw = value ? 1 : 0;
        stream->XferInt16(raw);
        Check(field);
        if (!reading || !Ok()) {
            return;
        }
        if (raw != 0 && raw != 1) {
            Fail(OD_PrefsReadError::kBadFlag,
                 std::string(field) + " holds " + std::to_string(raw) + ", not 0 or 1");
            return;
        }
        value = raw == 1;
    }

    // A host string: a 32-bit byte count, then the UTF-8 bytes.
    void Text(PMString& value, const char* field) {
        if (!Ok()) {
            return;
        }
        if (!reading) {
            stream->XferPMString(value);
            return;
        }
        int32_t length = 0;
        stream->XferInt32(length);
        Check(field);
        if (!Ok()) {
            return;
        }
        if (length < 0) {
            Fail(OD_PrefsReadError::kBadLength,
                 std::string(field) + " has a negative length (" + std::to_string(length) + ")");
            return;
        }
        if (static_cast<std::size_t>(length) > stream->Remaining()) {
            Fail(OD_PrefsReadError::kEndOfData, std::string("the data ends inside ") + field);
            return;
        }
        std::string bytes(static_cast<std::size_t>(length), '\0');
        stream->XferByte(reinterpret_cast<uint8_t*>(bytes.data()), bytes.size());
        Check(field);
        if (Ok()) {
            value = PMString(std::move(bytes));
        }
    }

    // A path field: a 32-bit length n (the text and its NUL), then n bytes.
    // Reading never writes past the field: a length above its size is
    // refused before anything is read; a length of 0 leaves the field alone.
    void Path(char (&field)[kODPrefsPathSize], const char* name) {
        if (!Ok()) {
            return;
        }
        uint8_t block[kODPrefsPathSize] = {};
        if (!reading) {
            std::size_t length = ::strnlen(field, kODPrefsPathSize - 1);
            std::memcpy(block, field, length);
            int32_t n = static_cast<int32_t>(length + 1);
            stream->XferInt32(n);
            stream->XferByte(block, length + 1);
            return;
        }
        int32_t n = 0;
        stream->XferInt32(n);
        Check(name);
        if (!Ok()) {
            return;
        }
        if (n < 0) {
            Fail(OD_PrefsReadError::kBadLength,
                 std::string(name) + " has a negative length (" + std::to_string(n) + ")");
            return;
        }
        if (static_cast<std::size_t>(n) > kODPrefsPathSize) {
            Fail(OD_PrefsReadError::kTextTooLong, std::string(name) + " is " + std::to_string(n) +
                                                      " bytes long, more than " +
                                                      std::to_string(kODPrefsPathSize));
            return;
        }
        if (n == 0) {
            return;
        }
        stream->XferByte(block, static_cast<std::size_t>(n));
        Check(name);
        if (!Ok()) {
            return;
        }
        std::size_t length = ::strnlen(reinterpret_cast<const char*>(block), kODPrefsPathSize);
        if (length >= kODPrefsPathSize) {
            Fail(OD_PrefsReadError::kTextTooLong, std::string(name) + " has no end within " +
                                                      std::to_string(kODPrefsPathSize) + " bytes");
            return;
        }
        std::memset(field, 0, kODPrefsPathSize);
        std::memcpy(field, block, length);
    }

    IPMStream* stream;
    bool reading;
    OD_PrefsReadResult result;
};

OD_PrefsData::OD_PrefsData() {
    FixIdentityFolder();
}

int16_t OD_PrefsData::GetDefaultCode(int slot) const {
    return slot >= 0 && slot < kODPrefsClassSlots ? classDefaults[slot].code : 0;
}

const PMString& OD_PrefsData::GetDefaultPrefix(int slot) const {
    return classDefaults[slot >= 0 && slot < kODPrefsClassSlots ? slot : 0].prefix;
}

const PMString& OD_PrefsData::GetDefaultProfile(int slot) const {
    return classDefaults[slot >= 0 && slot < kODPrefsClassSlots ? slot : 0].profile;
}

bool OD_PrefsData::SetClassDefault(int slot, int16_t code, const PMString& prefix,
                                   const PMString& profile) {
    if (slot < 0 || slot >= kODPrefsClassSlots) {
        return false;
    }
    classDefaults[slot] = ClassDefault{code, prefix, profile};
    return true;
}

bool OD_PrefsData::SetPath(char (&field)[kODPrefsPathSize], const char* path) {
    if (path == nullptr) {
        path = "";
    }
    std::size_t length = ::strnlen(path, kODPrefsPathSize);
    if (length >= kODPrefsPathSize) {
        return false;
    }
    std::memset(field, 0, kODPrefsPathSize);
    std::memcpy(field, path, length);
    return true;
}

void OD_PrefsData::Write(IPMStream* stream) const {
    if (stream == nullptr || stream->IsReading()) {
        return;
    }
    // Writing only reads the record's fields.
    OD_PrefsTransfer(stream).Run(const_cast<OD_PrefsData&>(*this));
}

OD_PrefsReadResult OD_PrefsData::Read(IPMStream* stream) {
    OD_PrefsReadResult result;
    if (stream == nullptr || !stream->IsReading()) {
        result.error = OD_PrefsReadError::kEndOfData;
        result.reason = "no stream to read";
        if (stream != nullptr) {
            stream->SetFailed();
        }
        return result;
    }
    if (!stream->Good()) {
        result.error = OD_PrefsReadError::kEndOfData;
        result.reason = "the stream has failed already";
        return result;
    }
    OD_PrefsData next(*this);
    result = OD_PrefsTransfer(stream).Run(next);
    if (result) {
        *this = std::move(next);
    }
    return result;
}

void OD_PrefsData::ReadWrite(IPMStream* stream) {
    if (stream == nullptr) {
        return;
    }
    if (stream->IsReading()) {
        Read(stream);
    } else {
        Write(stream);
    }
}

const char* OD_PrefsData::IdentityFolder() {
    FixIdentityFolder();
    return Identity().folder;
}

const char* OD_PrefsData::IdentityFolderProblem() {
    FixIdentityFolder();
    return Identity().problem;
}

void OD_PrefsData::ResetIdentityFolderForTesting() {
    Identity() = IdentityFolderState();
}

bool operator==(const OD_PrefsData& a, const OD_PrefsData& b) {
    for (int i = 0; i < kODPrefsClassSlots; ++i) {
        const auto& x = a.classDefaults[i];
        const auto& y = b.classDefaults[i];
        if (x.code != y.code || x.prefix != y.prefix || x.profile != y.profile) {
            return false;
        }
    }
    return a.headFlag == b.headFlag && a.resolution == b.resolution &&
           a.downSmpMin == b.downSmpMin && a.upSmpMax == b.upSmpMax &&
           std::strcmp(a.serverPath, b.serverPath) == 0 &&
           std::strcmp(a.outFolder, b.outFolder) == 0 && a.repSrc == b.repSrc &&
           a.delSrc == b.delSrc && a.defaultProcess == b.defaultProcess &&
           a.ovrWrDest == b.ovrWrDest && a.checkSrc == b.checkSrc && a.autoUpdt == b.autoUpdt &&
           a.frequency == b.frequency && a.opiActive == b.opiActive && a.opiText1 == b.opiText1 &&
           a.opiText2 == b.opiText2 && a.opiSuffix == b.opiSuffix && a.opiValue == b.opiValue &&
           std::strcmp(a.opiLoResFolder, b.opiLoResFolder) == 0 && a.spareFlagA == b.spareFlagA &&
           a.autoImport == b.autoImport && a.spareFlagB == b.spareFlagB &&
           a.spareText == b.spareText && a.qualityControl == b.qualityControl &&
           a.showPrefs == b.showPrefs;
}
