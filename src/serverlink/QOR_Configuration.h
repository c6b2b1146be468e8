#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class QOR_Stream;
class QOR_EndPoint;

// The QOR server publishes its job profiles, named parameter sets and path
// conversions as text files in its Data folder. The classes here read those
// files; the client never writes them.
//
// Every section of "curparam.txt", "ccoopt.txt", "fileopt.txt" and of a
// profile file begins with a line that is exactly "????"; a section without it
// reads as an empty object whose valid flag stays 0.

// The longest line the configuration readers take; a longer line is cut and its
// rest is read as the next line.
inline constexpr int kConfigLineMax = 256;

// Error codes of the loaders (raised inside, reported as a null result).
inline constexpr int kConfigMissingFile = -2;
inline constexpr int kConfigBadFormat = -11;

// Base of the option records: a version number and a reader.
class QOR_ConfigurationData {
public:
    virtual ~QOR_ConfigurationData();
    // Reads the section from the stream; 0 on success, else the failing
    // ReadLine or ParseInt result (or kConfigBadFormat).
    virtual int Read(QOR_Stream& stream) = 0;
    // The client never writes configuration files: does nothing, returns 0.
    virtual int Write(QOR_Stream& stream);
    virtual int16_t GetCurrentVersion() const = 0;
    virtual int16_t GetVersion() const { return version; }
    virtual void SetVersion(int16_t value) { version = value; }

protected:
    QOR_ConfigurationData() = default;
    QOR_ConfigurationData(const QOR_ConfigurationData&) = default;
    QOR_ConfigurationData& operator=(const QOR_ConfigurationData&) = default;

private:
    int16_t version = 0;
};

// The server keeps its gray-conversion settings in these two blocks; the
// client neither fills nor reads them, so they read nothing.
class QOR_GrayConversionOptions : public QOR_ConfigurationData {
public:
    int Read(QOR_Stream& stream) override;
    int16_t GetCurrentVersion() const override { return 258; }
};

class QOR_RGBGrayConversionOptions : public QOR_ConfigurationData {
public:
    int Read(QOR_Stream& stream) override;
    int16_t GetCurrentVersion() const override { return 260; }
};

// The colour-correction section: what each kind of input image is turned into.
class QOR_ColorCorrectionOptions : public QOR_ConfigurationData {
public:
    static constexpr int kTextMax = 256;

    int Read(QOR_Stream& stream) override;
    int16_t GetCurrentVersion() const override { return 260; }

    int32_t modes[3] = {0, 0, 0}; // for gray, RGB and CMYK input images
    // Kept and copied for the server's sake; the client does not interpret them.
    char texts[4][kTextMax + 1] = {};
    QOR_RGBGrayConversionOptions rgbGray;
    QOR_GrayConversionOptions gray;
    uint8_t valid = 0;
};

// The file-options section: the output file format of each result.
class QOR_FileOptions : public QOR_ConfigurationData {
public:
    int Read(QOR_Stream& stream) override;
    int16_t GetCurrentVersion() const override { return 260; }

    int32_t formats[3] = {0, 0, 0}; // file format code for gray, RGB and CMYK output
    uint8_t valid = 0;
};

// One job profile: a profile file holds its file options and then its colour
// correction.
class QOR_JobProfileOptions : public QOR_ConfigurationData {
public:
    int Read(QOR_Stream& stream) override;
    int16_t GetCurrentVersion() const override { return 260; }

    // A profile is offered only when both of its sections were read.
    bool IsUsable() const { return colorCorrection.valid != 0 && fileOptions.valid != 0; }

    QOR_ColorCorrectionOptions colorCorrection;
    QOR_FileOptions fileOptions;
};

// "curparam.txt": the server's path style, the two named-parameter lists and
// the job-profile names.
class QOR_CurparamData : public QOR_ConfigurationData {
public:
    using Name = std::array<char, 32>; // 31 characters and a NUL

    int Read(QOR_Stream& stream) override;
    int16_t GetCurrentVersion() const override { return 256; }

    // 0 Mac style (':'), 1 Windows ('\'), 2 Unix ('/'); -1 until read.
    int PathStyle() const { return pathStyle; }
    // The version written in the file (also kept as GetVersion()).
    int FileVersion() const { return fileVersion; }

    int ProfileCount() const { return static_cast<int>(profiles.size()); }
    int ParameterCountA() const { return static_cast<int>(listA.size()); }
    int ParameterCountB() const { return static_cast<int>(listB.size()); }

    // The entries as read (empty text for an index outside the list).
    const char* ProfileEntry(int index) const;
    const char* ParameterEntryA(int index) const;
    const char* ParameterEntryB(int index) const;

    // Copies profile name i into out (capacity bytes with the NUL); an index
    // outside the list gives an empty text. Returns out.
    char* ProfileName(int index, char* out, std::size_t capacity) const;
    // Copies entry i of list A or B cut at its first "#"; an entry without "#"
    // is no offered name and gives an empty text, as does an index outside the
    // list. Returns out.
    char* ParameterNameA(int index, char* out, std::size_t capacity) const;
    char* ParameterNameB(int index, char* out, std::size_t capacity) const;

    // Takes the three name lists of another object, nothing else.
    void CopyNamesFrom(const QOR_CurparamData& other);

private:
    int pathStyle = -1;
    int fileVersion = 0;
    std::vector<Name> profiles;
    std::vector<Name> listA;
    std::vector<Name> listB;
};

// The whole configuration of one server: the names of "curparam.txt" and one
// job profile per profile name plus the default profile at index 0.
class QOR_Parameters {
public:
    // A set with the default profile and profileNames further (empty) profiles.
    explicit QOR_Parameters(int profileNames = 0);
    virtual ~QOR_Parameters();
    // A copy takes the three name lists and every profile's modes, texts, valid
    // flags and formats.
    QOR_Parameters(const QOR_Parameters& other);
    QOR_Parameters& operator=(const QOR_Parameters& other);

    const QOR_CurparamData& Curparam() const { return curparam; }
    QOR_CurparamData& Curparam() { return curparam; }

    // Number of job profiles with the default one: profile names + 1.
    int JobProfileCount() const { return static_cast<int>(profiles.size()); }
    // Profile 0 is the default one ("ccoopt.txt" and "fileopt.txt"), profile
    // i+1 the one named by profile name i. Null outside 0..JobProfileCount()-1.
    const QOR_JobProfileOptions* JobProfile(int index) const;
    QOR_JobProfileOptions* JobProfile(int index);

private:
    QOR_CurparamData curparam;
    std::vector<QOR_JobProfileOptions> profiles;
};

// Reads "curparam.txt"; null when it cannot be opened or there is no endpoint.
// A file that ends early keeps what was read before its end.
std::unique_ptr<QOR_CurparamData> LoadCurparam(const QOR_EndPoint* endpoint);

// Reads the default job profile (name null: "ccoopt.txt" then "fileopt.txt")
// or the named one from the "profiles" folder. Null when a file is missing or
// a section does not read.
std::unique_ptr<QOR_JobProfileOptions> LoadJobProfile(const QOR_EndPoint* endpoint,
                                                      const char* name);

// Builds the whole set from the server's Data folder; null when "curparam.txt"
// cannot be opened. A profile that does not load keeps its defaults (invalid).
std::unique_ptr<QOR_Parameters> LoadParameters(const QOR_EndPoint* endpoint);

// What the loaders above would find in a server's Data folder, as far as the
// files' times tell: the server path and the modification time of
// "curparam.txt", "ccoopt.txt", "fileopt.txt", "convpath.txt" and of every file
// in "profiles" (a missing file counts as such). A configuration read after a
// stamp was taken is still the server's while a new stamp matches it. A file
// changed in the second the stamp was taken may change again unseen within
// that second: such a stamp is not settled and matches nothing.
struct QOR_ConfigurationStamp {
    std::string files;
    bool settled = false;

    bool Matches(const QOR_ConfigurationStamp& now) const {
        return settled && !files.empty() && files == now.files;
    }
};

// The stamp of the endpoint's server now; an empty, unsettled one without an
// endpoint or a server path.
QOR_ConfigurationStamp ConfigurationStamp(const QOR_EndPoint* endpoint);

// One line of "convpath.txt": the same folder as written on two machines.
struct QOR_PathConversion {
    std::string first;
    std::string second;
};

// Rebuilds the process-wide path-conversion list from "convpath.txt". 0 when
// the file was read, kConfigMissingFile when it (or the endpoint) is missing;
// the list is then empty.
int LoadPathConversions(const QOR_EndPoint* endpoint);

// The path-conversion list as last loaded, in file order.
const std::vector<QOR_PathConversion>& PathConversions();

// The size of a path buffer handed to MapServerPath, with its NUL.
inline constexpr std::size_t kServerPathCapacity = 512;

// Turns a path written by the server in the given path style (0 Mac, 1
// Windows, 2 Unix) into a path of this machine, in place. A conversion pair
// fits only whole folders (its text is the whole path or is followed by the
// style's separator); of the pairs that fit, those with the longest text are
// tried in file order and shorter ones never. 0 when the result
// exists; -1 when it does not, when no conversion fits, when the style is
// unknown or when the result would not fit the buffer (which then keeps the
// server's path).
int MapServerPath(const QOR_EndPoint* endpoint, char* path, int pathStyle);

// What a profile's colour correction makes of an input image of kind 0 (gray),
// 1 (RGB) or 2 (CMYK): 10 a gray result, 1 an RGB result, 2 a CMYK result, 0
// unknown (also for options that are not valid).
int ProcessOutcome(const QOR_ColorCorrectionOptions& options, int kind);

// The file format code of a result: formats[0] for a gray result (10),
// formats[1] for RGB (1), formats[2] for CMYK (2); -1 for any other outcome.
int ResultFormat(const QOR_FileOptions& options, int outcome);

// The four-character name of a file format code ("TIFF", "EPS ", ... "????").
const char* FormatCodeName(int code);
