#pragma once

#include "PMString.h"

#include <cstddef>
#include <cstdint>
#include <string>

class IPMStream;

// Size of a path field of the record: 260 characters and the NUL.
inline constexpr std::size_t kODPrefsPathSize = 261;

// Versions of the record's stream layout: written as the current one, read
// from the oldest on.
inline constexpr int16_t kODPrefsVersion = 263;
inline constexpr int16_t kODPrefsOldestVersion = 256;
// Version of the OPI block inside the record.
inline constexpr int16_t kODPrefsOPIVersion = 257;

// Number of per-image-class default slots: 0 gray, 1 RGB and Lab, 2 CMYK.
inline constexpr int kODPrefsClassSlots = 3;

// Why reading a record from a stream failed.
enum class OD_PrefsReadError {
    kNone,
    kEndOfData,   // the data ends inside a field
    kBadVersion,  // a version this code does not read
    kTextTooLong, // a path field longer than 260 characters
    kBadLength,   // a negative text length
    kBadFlag      // a 16-bit flag that is neither 0 nor 1
};

struct OD_PrefsReadResult {
    OD_PrefsReadError error = OD_PrefsReadError::kNone;
    // The field and what was wrong with it, in words; empty on success.
    std::string reason;
    // The version the stream held (0 when not even that could be read).
    int16_t version = 0;
    explicit operator bool() const { return error == OD_PrefsReadError::kNone; }
};

// The preferences: which server, output resolution and resampling limits,
// where processed files go, OPI handling, result polling and the defaults of
// new orders by image class. A plain value; copying copies every field.
//
// Path fields hold at most 260 bytes and their NUL; a setter given a longer
// text refuses it (false) and keeps the old one, rather than cut it into the
// name of some other folder.
class OD_PrefsData {
public:
    // A record with the defaults. The first record made in the process also
    // fixes the identity folder.
    OD_PrefsData();

    // --- fields -----------------------------------------------------------
    bool GetHeadFlag() const { return headFlag; }
    void SetHeadFlag(bool v) { headFlag = v; }

    // Output resolution in dpi.
    double GetResolution() const { return resolution; }
    void SetResolution(double v) { resolution = v; }
    // Resampling warning limits in percent: warn below the first, above the second.
    double GetDownSmpMin() const { return downSmpMin; }
    void SetDownSmpMin(double v) { downSmpMin = v; }
    double GetUpSmpMax() const { return upSmpMax; }
    void SetUpSmpMax(double v) { upSmpMax = v; }

    // A file inside the server's root folder.
    const char* GetServerPath() const { return serverPath; }
    bool SetServerPath(const char* path) { return SetPath(serverPath, path); }
    // Folder for processed files.
    const char* GetOutFolder() const { return outFolder; }
    bool SetOutFolder(const char* path) { return SetPath(outFolder, path); }

    bool GetRepSrc() const { return repSrc; }
    void SetRepSrc(bool v) { repSrc = v; }
    bool GetDelSrc() const { return delSrc; }
    void SetDelSrc(bool v) { delSrc = v; }

    const PMString& GetDefaultProcess() const { return defaultProcess; }
    void SetDefaultProcess(const PMString& v) { defaultProcess = v; }

    bool GetOvrWrDest() const { return ovrWrDest; }
    void SetOvrWrDest(bool v) { ovrWrDest = v; }
    bool GetCheckSrc() const { return checkSrc; }
    void SetCheckSrc(bool v) { checkSrc = v; }
    bool GetAutoUpdt() const { return autoUpdt; }
    void SetAutoUpdt(bool v) { autoUpdt = v; }
    // Polling period in seconds.
    int16_t GetFrequency() const { return frequency; }
    void SetFrequency(int16_t v) { frequency = v; }

    bool GetOpiActive() const { return opiActive; }
    void SetOpiActive(bool v) { opiActive = v; }
    const PMString& GetOpiText1() const { return opiText1; }
    void SetOpiText1(const PMString& v) { opiText1 = v; }
    const PMString& GetOpiText2() const { return opiText2; }
    void SetOpiText2(const PMString& v) { opiText2 = v; }
    // Extension of the OPI low-resolution files.
    const PMString& GetOpiSuffix() const { return opiSuffix; }
    void SetOpiSuffix(const PMString& v) { opiSuffix = v; }
    int16_t GetOpiValue() const { return opiValue; }
    void SetOpiValue(int16_t v) { opiValue = v; }
    const char* GetOpiLoResFolder() const { return opiLoResFolder; }
    bool SetOpiLoResFolder(const char* path) { return SetPath(opiLoResFolder, path); }

    // Defaults of new orders by slot (0 gray, 1 RGB and Lab, 2 CMYK). A slot
    // outside 0..2 gives code 0 and the texts of slot 0.
    int16_t GetDefaultCode(int slot) const;
    const PMString& GetDefaultPrefix(int slot) const;
    const PMString& GetDefaultProfile(int slot) const;
    // False (nothing changed) for a slot outside 0..2.
    bool SetClassDefault(int slot, int16_t code, const PMString& prefix, const PMString& profile);

    bool GetSpareFlagA() const { return spareFlagA; }
    void SetSpareFlagA(bool v) { spareFlagA = v; }
    bool GetAutoImport() const { return autoImport; }
    void SetAutoImport(bool v) { autoImport = v; }
    bool GetSpareFlagB() const { return spareFlagB; }
    void SetSpareFlagB(bool v) { spareFlagB = v; }
    const PMString& GetSpareText() const { return spareText; }
    void SetSpareText(const PMString& v) { spareText = v; }
    bool GetQualityControl() const { return qualityControl; }
    void SetQualityControl(bool v) { qualityControl = v; }
    bool GetShowPrefs() const { return showPrefs; }
    void SetShowPrefs(bool v) { showPrefs = v; }

    // --- persistence --------------------------------------------------------

    // Moves the whole record through a host stream, which reads or writes.
    // Writing writes the current version. Reading reads any version from the
    // oldest on; fields an older version does not hold keep the values they
    // had. A stream that cannot be read as a record (see Read) is put in its
    // error state and the record is left entirely as it was.
    void ReadWrite(IPMStream* stream);

    void Write(IPMStream* stream) const;
    // Reads a record, replacing this one only when the whole record reads.
    // Refused, with the field named: a version outside 256..263, a path field
    // whose length is above 261 bytes or that has no end within them, a
    // negative text length, a flag other than 0 or 1, data that ends early.
    // On failure the stream is put in its error state.
    OD_PrefsReadResult Read(IPMStream* stream);

    // --- identity folder ----------------------------------------------------

    // The folder in which preference files are kept: the system folder, then
    // "velmaris" and "OD_ID" when that folder exists, else the system folder
    // itself. Fixed once per process, by the first record made (or the first
    // call here). Empty when there is none: no system folder is set, or the
    // folder's path is longer than 260 characters (cutting it would name some
    // other folder, and moving to the system folder would save the files
    // where they are not looked for); IdentityFolderProblem() then says why.
    static const char* IdentityFolder();
    static const char* IdentityFolderProblem();
    // Tests only: forget the identity folder so that the next record fixes it
    // again.
    static void ResetIdentityFolderForTesting();

    friend bool operator==(const OD_PrefsData& a, const OD_PrefsData& b);

private:
    struct ClassDefault {
        int16_t code = 0;
        PMString prefix;
        PMString profile;
    };

    static bool SetPath(char (&field)[kODPrefsPathSize], const char* path);

    bool headFlag = true;
    double resolution = 200.0;
    double downSmpMin = 10.0;
    double upSmpMax = 150.0;
    char serverPath[kODPrefsPathSize] = {};
    char outFolder[kODPrefsPathSize] = {};
    bool repSrc = false;
    bool delSrc = false;
    PMString defaultProcess;
    bool ovrWrDest = false;
    bool checkSrc = true;
    bool autoUpdt = true;
    int16_t frequency = 5;
    bool opiActive = false;
    PMString opiText1;
    PMString opiText2;
    PMString opiSuffix;
    int16_t opiValue = -1;
    char opiLoResFolder[kODPrefsPathSize] = {};
    ClassDefault classDefaults[kODPrefsClassSlots] = {{1, {}, {}}, {10, {}, {}}, {20, {}, {}}};
    bool spareFlagA = true;
    bool autoImport = false;
    bool spareFlagB = false;
    PMString spareText;
    bool qualityControl = true;
    bool showPrefs = false;

    friend class OD_PrefsTransfer;
};
