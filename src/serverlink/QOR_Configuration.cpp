#include "QOR_Configuration.h"

#include "IMG_Exception.h"
#include "PathKind.h"
#include "Paths.h"
#include "Platform.h"
#include "QOR_EndPoint.h"
#include "QOR_Stream.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

namespace {

using Line = char[kConfigLineMax + 1];

int ReadLine(QOR_Stream& stream, Line& line) {
    return stream.ReadLine(line, kConfigLineMax);
}

// Reads a line and the integer it holds.
int ReadInt(QOR_Stream& stream, int& value) {
    Line line;
    int result = ReadLine(stream, line);
    if (result != 0) {
        return result;
    }
    return stream.ParseInt(line, value);
}

// Drops count lines; the first failed read ends the skip and is returned. The
// count comes from the file, so it is never used to size anything: a huge one
// just reads to the end of the file.
int SkipLines(QOR_Stream& stream, long long count) {
    Line line;
    for (long long i = 0; i < count; ++i) {
        int result = ReadLine(stream, line);
        if (result != 0) {
            return result;
        }
    }
    return 0;
}

// Reads the line that opens a section; present tells whether it is "????".
int ReadSectionHeader(QOR_Stream& stream, bool& present) {
    Line line;
    present = false;
    int result = ReadLine(stream, line);
    if (result == 0) {
        present = std::strcmp(line, "????") == 0;
    }
    return result;
}

// Parses three "%d" integers in a row, as the modes line holds them.
bool ParseThreeInts(const char* text, int32_t (&out)[3]) {
    const char* p = text;
    int32_t values[3];
    for (int32_t& value : values) {
        char* end = nullptr;
        long parsed = std::strtol(p, &end, 10);
        if (end == p) {
            return false;
        }
        if (parsed > INT32_MAX) {
            parsed = INT32_MAX;
        } else if (parsed < INT32_MIN) {
            parsed = INT32_MIN;
        }
        value = static_cast<int32_t>(parsed);
        p = end;
    }
    std::memcpy(out, values, sizeof values);
    return true;
}

// The text after the last separator of a line, cut to a name entry; an empty
// name when the line holds no separator.
QOR_CurparamData::Name NameAfterSeparator(const char* line, char sep) {
    QOR_CurparamData::Name name{};
    const char* last = std::strrchr(line, sep);
    if (last != nullptr) {
        CopyBounded(name.data(), name.size(), last + 1);
    }
    return name;
}

// Reads count entries of a named-parameter list: each is a line that is
// dropped and a line whose last part is the name. The list grows with the lines
// actually read, so a count larger than the file holds costs nothing; a file
// that ends early leaves the entries read so far.
int ReadNameList(QOR_Stream& stream, char sep, int count,
                 std::vector<QOR_CurparamData::Name>& list) {
    list.clear();
    Line line;
    for (int i = 0; i < count; ++i) {
        int result = ReadLine(stream, line);
        if (result == 0) {
            result = ReadLine(stream, line);
        }
        if (result != 0) {
            return result;
        }
        list.push_back(NameAfterSeparator(line, sep));
    }
    return 0;
}

const char* EntryText(const std::vector<QOR_CurparamData::Name>& list, int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= list.size()) {
        return "";
    }
    return list[static_cast<std::size_t>(index)].data();
}

// Copies a list entry cut at its first "#"; an entry without one is no name.
char* CopyNameBeforeHash(const char* entry, char* out, std::size_t capacity) {
    if (out == nullptr || capacity == 0) {
        return out;
    }
    char name[32];
    CopyBounded(name, sizeof name, entry);
    char* hash = std::strchr(name, '#');
    if (hash == nullptr) {
        out[0] = '\0';
        return out;
    }
    *hash = '\0';
    CopyBounded(out, capacity, name);
    return out;
}

// Opens a file of the Data folder or raises the missing-file failure.
std::unique_ptr<QOR_FileStream> OpenData(const QOR_EndPoint* endpoint, const char* fileName) {
    std::unique_ptr<QOR_FileStream> stream(endpoint->OpenDataStream(fileName));
    if (stream == nullptr) {
        throw IMG_Exception(kConfigMissingFile);
    }
    return stream;
}

// A profile name must name one file inside the profiles folder: a name that is
// empty, that holds a separator of this machine or that climbs out of the
// folder cannot be a profile file of the server.
bool IsProfileFileName(const char* name) {
    if (name[0] == '\0' || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) {
        return false;
    }
    return std::strchr(name, kPathSeparator) == nullptr && std::strchr(name, '/') == nullptr;
}

std::vector<QOR_PathConversion>& ConversionList() {
    static std::vector<QOR_PathConversion> list;
    return list;
}

// Fills a pair from the texts between the first two and the next two double
// quotes of a line; false when a quote is missing (the pair keeps what it got).
bool ParseConversionLine(const char* line, QOR_PathConversion& pair) {
    std::string* texts[2] = {&pair.first, &pair.second};
    const char* p = line;
    for (std::string* text : texts) {
        const char* open = std::strchr(p, '"');
        if (open == nullptr) {
            return false;
        }
        const char* close = std::strchr(open + 1, '"');
        if (close == nullptr) {
            return false;
        }
        text->assign(open + 1, close);
        p = close + 1;
    }
    return true;
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWithNoCase(const char* text, const std::string& prefix) {
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (text[i] == '\0' || LowerAscii(text[i]) != LowerAscii(prefix[i])) {
            return false;
        }
    }
    return true;
}

bool IsAsciiLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsRelativeServerPath(const char* path, int pathStyle) {
    switch (pathStyle) {
    case 0:
        return path[0] == ':';
    case 1: {
        bool drive = IsAsciiLetter(path[0]) && path[1] == ':' && path[2] == '\\';
        bool share = path[0] == '\\' && path[1] == '\\';
        return !drive && !share;
    }
    default:
        return path[0] != '/';
    }
}

// Appends text to out with every server separator turned into the native one.
void AppendWithNativeSeparators(std::string& out, const char* text, char sep) {
    for (const char* p = text; *p != '\0'; ++p) {
        out.push_back(*p == sep ? kPathSeparator : *p);
    }
}

// The start of an option section: the "????" header, a number the client
// does not keep, and the section's version. present is false (and nothing
// more is read) when the header is missing.
int ReadSectionStart(QOR_Stream& stream, bool& present, int& version) {
    int result = ReadSectionHeader(stream, present);
    if (result != 0 || !present) {
        return result;
    }
    int unused = 0;
    if ((result = ReadInt(stream, unused)) != 0) {
        return result;
    }
    return ReadInt(stream, version);
}

} // namespace

// ---------------------------------------------------------------------------
// Option records

QOR_ConfigurationData::~QOR_ConfigurationData() = default;

int QOR_ConfigurationData::Write(QOR_Stream&) {
    return 0;
}

int QOR_GrayConversionOptions::Read(QOR_Stream&) {
    return 0;
}

int QOR_RGBGrayConversionOptions::Read(QOR_Stream&) {
    return 0;
}

int QOR_ColorCorrectionOptions::Read(QOR_Stream& stream) {
    valid = 0;
    bool present = false;
    int fileVersion = 0;
    int result = ReadSectionStart(stream, present, fileVersion);
    if (result != 0 || !present) {
        return result;
    }
    SetVersion(static_cast<int16_t>(fileVersion));

    if ((result = SkipLines(stream, 4)) != 0) {
        return result;
    }
    Line line;
    if ((result = ReadLine(stream, line)) != 0) {
        return result;
    }
    if (!ParseThreeInts(line, modes)) {
        return 0;
    }

    if ((result = stream.ReadLine(texts[0], kTextMax)) != 0 ||
        (result = stream.ReadLine(texts[1], kTextMax)) != 0) {
        return result;
    }
    if (fileVersion < 257 && (result = SkipLines(stream, 1)) != 0) {
        return result;
    }
    if ((result = stream.ReadLine(texts[2], kTextMax)) != 0 ||
        (result = stream.ReadLine(texts[3], kTextMax)) != 0) {
        return result;
    }
    if ((result = rgbGray.Read(stream)) != 0 || (result = gray.Read(stream)) != 0) {
        return result;
    }
    if (fileVersion >= 259 && (result = SkipLines(stream, 2)) != 0) {
        return result;
    }
    valid = 1;
    return 0;
}

namespace {

// Skips the option block that follows a format code in the file options; the
// block's length depends on the format and the section's version. A failed
// read ends the block and is returned.
int SkipFormatBlock(QOR_Stream& stream, int format, int version) {
    int result = 0;
    switch (format) {
    case 0:
        return SkipLines(stream, 3);
    case 1:
        if ((result = SkipLines(stream, 6)) != 0) {
            return result;
        }
        if (version > 256 && (result = SkipLines(stream, 2)) != 0) {
            return result;
        }
        if ((result = SkipLines(stream, 9)) != 0 || (result = SkipLines(stream, 16)) != 0 ||
            (result = SkipLines(stream, 2)) != 0) {
            return result;
        }
        if (version > 257) {
            result = SkipLines(stream, 1);
        }
        return result;
    case 4:
        if ((result = SkipLines(stream, 1)) != 0) {
            return result;
        }
        if (version > 259 && (result = SkipLines(stream, 2)) != 0) {
            return result;
        }
        if (version >= 261) {
            result = SkipLines(stream, 1);
        }
        return result;
    case 5:
        return SkipLines(stream, 2);
    case 8: {
        Line line;
        if ((result = SkipLines(stream, 1)) != 0 || (result = ReadLine(stream, line)) != 0) {
            return result;
        }
        // A line without a number counts as "not 2".
        int variant = 0;
        if (stream.ParseInt(line, variant) == 0 && variant == 2 &&
            (result = SkipLines(stream, 1)) != 0) {
            return result;
        }
        return SkipLines(stream, 2);
    }
    default:
        return 0;
    }
}

} // namespace

int QOR_FileOptions::Read(QOR_Stream& stream) {
    valid = 0;
    bool present = false;
    int fileVersion = 0;
    int result = ReadSectionStart(stream, present, fileVersion);
    if (result != 0 || !present) {
        return result;
    }
    SetVersion(static_cast<int16_t>(fileVersion));

    if ((result = SkipLines(stream, 1)) != 0) {
        return result;
    }
    int read[3] = {0, 0, 0};
    for (int& format : read) {
        if ((result = ReadInt(stream, format)) != 0) {
            return result;
        }
    }
    std::memcpy(formats, read, sizeof formats);
    if (fileVersion > 257 && (result = SkipLines(stream, 1)) != 0) {
        return result;
    }

    for (int32_t format : formats) {
        if ((result = SkipLines(stream, 3)) != 0) {
            break;
        }
        result = SkipFormatBlock(stream, format, fileVersion);
    }
    valid = 1;
    return result;
}

int QOR_JobProfileOptions::Read(QOR_Stream& stream) {
    int result = fileOptions.Read(stream);
    if (result != 0) {
        return result;
    }
    return colorCorrection.Read(stream);
}

// ---------------------------------------------------------------------------
// curparam.txt

int QOR_CurparamData::Read(QOR_Stream& stream) {
    bool present = false;
    int result = ReadSectionHeader(stream, present);
    if (result != 0 || !present) {
        return result;
    }
    int style = 0;
    if ((result = ReadInt(stream, style)) != 0) {
        return result;
    }
    static constexpr char kStyleSeparators[3] = {':', '\\', '/'};
    if (style < 0 || style > 2) {
        return kConfigBadFormat;
    }
    const char sep = kStyleSeparators[style];
    pathStyle = style;

    int fileVersionRead = 0;
    if ((result = ReadInt(stream, fileVersionRead)) != 0) {
        return result;
    }
    fileVersion = fileVersionRead;
    SetVersion(static_cast<int16_t>(fileVersionRead));

    // Counts come from the file: a negative one is a broken file, a large one
    // only reads on until the lines run out.
    int count = 0;
    if ((result = SkipLines(stream, 1)) != 0 || (result = ReadInt(stream, count)) != 0) {
        return result;
    }
    if (count < 0) {
        return kConfigBadFormat;
    }
    if ((result = ReadNameList(stream, sep, count, listA)) != 0) {
        return result;
    }
    if ((result = ReadInt(stream, count)) != 0) {
        return result;
    }
    if (count < 0) {
        return kConfigBadFormat;
    }
    if ((result = ReadNameList(stream, sep, count, listB)) != 0) {
        return result;
    }

    const int skippedLists = fileVersion > 256 ? 4 : 1;
    for (int i = 0; i < skippedLists; ++i) {
        if ((result = ReadInt(stream, count)) != 0) {
            return result;
        }
        if (count < 0) {
            return kConfigBadFormat;
        }
        if ((result = SkipLines(stream, count)) != 0) {
            return result;
        }
    }

    // The processing sets: blocks that the client only steps over.
    int blocks = 0;
    if ((result = ReadInt(stream, blocks)) != 0) {
        return result;
    }
    if (blocks < 0) {
        return kConfigBadFormat;
    }
    for (int i = 0; i < blocks; ++i) {
        bool blockHeader = false;
        if ((result = ReadSectionHeader(stream, blockHeader)) != 0) {
            return result;
        }
        if (!blockHeader) {
            break;
        }
        int unused = 0;
        int blockVersion = 0;
        if ((result = ReadInt(stream, unused)) != 0 ||
            (result = ReadInt(stream, blockVersion)) != 0 ||
            (result = SkipLines(stream, blockVersion >= 259 ? 4 : 3)) != 0 ||
            (result = SkipLines(stream, 10)) != 0) {
            return result;
        }
        if (blockVersion > 257) {
            int more = 0;
            if ((result = ReadInt(stream, more)) != 0) {
                return result;
            }
            if (more != 0 && (result = SkipLines(stream, 1)) != 0) {
                return result;
            }
        }
    }

    if (fileVersion > 257) {
        int profileCount = 0;
        if ((result = SkipLines(stream, 1)) != 0 || (result = ReadInt(stream, profileCount)) != 0) {
            return result;
        }
        if (profileCount < 0) {
            return kConfigBadFormat;
        }
        if (profileCount != 0) {
            // Grown line by line like the lists above.
            profiles.clear();
            Line line;
            for (int i = 0; i < profileCount; ++i) {
                if ((result = ReadLine(stream, line)) != 0) {
                    return result;
                }
                profiles.push_back(NameAfterSeparator(line, sep));
            }
        }
    }
    return 0;
}

const char* QOR_CurparamData::ProfileEntry(int index) const {
    return EntryText(profiles, index);
}

const char* QOR_CurparamData::ParameterEntryA(int index) const {
    return EntryText(listA, index);
}

const char* QOR_CurparamData::ParameterEntryB(int index) const {
    return EntryText(listB, index);
}

char* QOR_CurparamData::ProfileName(int index, char* out, std::size_t capacity) const {
    if (out != nullptr) {
        CopyBounded(out, capacity, ProfileEntry(index));
    }
    return out;
}

char* QOR_CurparamData::ParameterNameA(int index, char* out, std::size_t capacity) const {
    return CopyNameBeforeHash(ParameterEntryA(index), out, capacity);
}

char* QOR_CurparamData::ParameterNameB(int index, char* out, std::size_t capacity) const {
    return CopyNameBeforeHash(ParameterEntryB(index), out, capacity);
}

void QOR_CurparamData::CopyNamesFrom(const QOR_CurparamData& other) {
    profiles = other.profiles;
    listA = other.listA;
    listB = other.listB;
}

// ---------------------------------------------------------------------------
// QOR_Parameters

namespace {

void CopyProfileContent(QOR_JobProfileOptions& to, const QOR_JobProfileOptions& from) {
    QOR_ColorCorrectionOptions& cc = to.colorCorrection;
    std::memcpy(cc.modes, from.colorCorrection.modes, sizeof cc.modes);
    std::memcpy(cc.texts, from.colorCorrection.texts, sizeof cc.texts);
    cc.valid = from.colorCorrection.valid;
    std::memcpy(to.fileOptions.formats, from.fileOptions.formats, sizeof to.fileOptions.formats);
    to.fileOptions.valid = from.fileOptions.valid;
}

} // namespace

QOR_Parameters::QOR_Parameters(int profileNames)
    : profiles(static_cast<std::size_t>(profileNames > 0 ? profileNames : 0) + 1) {}

QOR_Parameters::~QOR_Parameters() = default;

QOR_Parameters::QOR_Parameters(const QOR_Parameters& other) {
    *this = other;
}

QOR_Parameters& QOR_Parameters::operator=(const QOR_Parameters& other) {
    if (this == &other) {
        return *this;
    }
    curparam = QOR_CurparamData();
    curparam.CopyNamesFrom(other.curparam);
    profiles.assign(other.profiles.size(), QOR_JobProfileOptions());
    for (std::size_t i = 0; i < profiles.size(); ++i) {
        CopyProfileContent(profiles[i], other.profiles[i]);
    }
    return *this;
}

const QOR_JobProfileOptions* QOR_Parameters::JobProfile(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= profiles.size()) {
        return nullptr;
    }
    return &profiles[static_cast<std::size_t>(index)];
}

QOR_JobProfileOptions* QOR_Parameters::JobProfile(int index) {
    return const_cast<QOR_JobProfileOptions*>(std::as_const(*this).JobProfile(index));
}

// ---------------------------------------------------------------------------
// Loaders

std::unique_ptr<QOR_CurparamData> LoadCurparam(const QOR_EndPoint* endpoint) {
    if (endpoint == nullptr) {
        return nullptr;
    }
    try {
        std::unique_ptr<QOR_FileStream> stream = OpenData(endpoint, "curparam.txt");
        auto data = std::make_unique<QOR_CurparamData>();
        // A file that ends early or breaks off keeps the names read before.
        data->Read(*stream);
        stream->Close();
        return data;
    } catch (const IMG_Exception&) {
        return nullptr;
    }
}

std::unique_ptr<QOR_JobProfileOptions> LoadJobProfile(const QOR_EndPoint* endpoint,
                                                      const char* name) {
    try {
        if (endpoint == nullptr) {
            throw IMG_Exception(kConfigMissingFile);
        }
        auto profile = std::make_unique<QOR_JobProfileOptions>();
        if (name == nullptr) {
            std::unique_ptr<QOR_FileStream> stream = OpenData(endpoint, "ccoopt.txt");
            if (profile->colorCorrection.Read(*stream) != 0) {
                throw IMG_Exception(kConfigBadFormat);
            }
            stream = OpenData(endpoint, "fileopt.txt");
            if (profile->fileOptions.Read(*stream) != 0) {
                throw IMG_Exception(kConfigBadFormat);
            }
        } else {
            char fileName[kServerPathCapacity] = "profiles";
            if (!IsProfileFileName(name) || !AppendPathPart(fileName, sizeof fileName, name)) {
                throw IMG_Exception(kConfigMissingFile);
            }
            std::unique_ptr<QOR_FileStream> stream = OpenData(endpoint, fileName);
            if (profile->Read(*stream) != 0) {
                throw IMG_Exception(kConfigBadFormat);
            }
        }
        return profile;
    } catch (const IMG_Exception&) {
        return nullptr;
    }
}

std::unique_ptr<QOR_Parameters> LoadParameters(const QOR_EndPoint* endpoint) {
    std::unique_ptr<QOR_CurparamData> curparam = LoadCurparam(endpoint);
    if (curparam == nullptr) {
        return nullptr;
    }
    const int names = curparam->ProfileCount();
    auto parameters = std::make_unique<QOR_Parameters>(names);
    parameters->Curparam().CopyNamesFrom(*curparam);

    if (std::unique_ptr<QOR_JobProfileOptions> profile = LoadJobProfile(endpoint, nullptr)) {
        QOR_JobProfileOptions* entry = parameters->JobProfile(0);
        entry->colorCorrection = profile->colorCorrection;
        entry->fileOptions = profile->fileOptions;
    }
    for (int i = 0; i < names; ++i) {
        char name[sizeof(QOR_CurparamData::Name)];
        curparam->ProfileName(i, name, sizeof name);
        if (std::unique_ptr<QOR_JobProfileOptions> profile = LoadJobProfile(endpoint, name)) {
            QOR_JobProfileOptions* entry = parameters->JobProfile(i + 1);
            entry->colorCorrection = profile->colorCorrection;
            entry->fileOptions = profile->fileOptions;
        }
    }
    return parameters;
}

QOR_ConfigurationStamp ConfigurationStamp(const QOR_EndPoint* endpoint) {
    QOR_ConfigurationStamp stamp;
    char data[kServerPathCapacity] = "";
    if (endpoint == nullptr) {
        return stamp;
    }
    endpoint->GetServerPath(data, sizeof data);
    char* last = LastSeparator(data);
    if (data[0] == '\0' || last == nullptr) {
        return stamp;
    }
    stamp.files = data;
    *last = '\0';
    if (!AppendPathPart(data, sizeof data, "Data")) {
        return QOR_ConfigurationStamp();
    }
    // Taken before the files are looked at: a file whose time is older than
    // this second cannot change again without a later time.
    const int64_t takenAt = platform::CurrentTime();
    stamp.settled = true;
    auto add = [&](const std::string& name) {
        platform::FileTimes times;
        const int error =
            platform::GetFileTimes((std::string(data) + kPathSeparator + name).c_str(), times);
        stamp.files.append("\n").append(name).append(error != 0 ? " -" : " ");
        if (error == 0) {
            stamp.files.append(std::to_string(times.modified));
        }
        stamp.settled = stamp.settled && (error != 0 || times.modified < takenAt);
    };
    for (const char* name : {"curparam.txt", "ccoopt.txt", "fileopt.txt", "convpath.txt"}) {
        add(name);
    }
    std::vector<std::string> profiles;
    platform::ListFolder((std::string(data) + kPathSeparator + "profiles").c_str(), profiles);
    std::sort(profiles.begin(), profiles.end());
    for (const std::string& name : profiles) {
        add(std::string("profiles") + kPathSeparator + name);
    }
    return stamp;
}

// ---------------------------------------------------------------------------
// Path conversion

int LoadPathConversions(const QOR_EndPoint* endpoint) {
    std::vector<QOR_PathConversion>& list = ConversionList();
    list.clear();
    if (endpoint == nullptr) {
        return kConfigMissingFile;
    }
    try {
        std::unique_ptr<QOR_FileStream> stream = OpenData(endpoint, "convpath.txt");
        Line line;
        while (stream->IsGood()) {
            if (ReadLine(*stream, line) != 0) {
                break;
            }
            if (line[0] == '\0') {
                continue;
            }
            list.emplace_back();
            if (!ParseConversionLine(line, list.back())) {
                break;
            }
        }
        stream->Close();
        return 0;
    } catch (const IMG_Exception& e) {
        return e.Code();
    }
}

const std::vector<QOR_PathConversion>& PathConversions() {
    return ConversionList();
}

int MapServerPath(const QOR_EndPoint* endpoint, char* path, int pathStyle) {
    static constexpr char kStyleSeparators[3] = {':', '\\', '/'};
    if (path == nullptr || pathStyle < 0 || pathStyle > 2) {
        return -1;
    }
    const char sep = kStyleSeparators[pathStyle];
    if (::strnlen(path, kServerPathCapacity) >= kServerPathCapacity) {
        return -1; // not a terminated path of the buffer's size
    }

    if (IsRelativeServerPath(path, pathStyle)) {
        // Relative paths name files under the server's root folder.
        if (endpoint == nullptr) {
            return -1;
        }
        char root[kServerPathCapacity] = "";
        if (endpoint->GetServerPath(root, static_cast<int>(sizeof root)) == nullptr) {
            return -1;
        }
        root[sizeof root - 1] = '\0';
        char* last = LastSeparator(root);
        if (last == nullptr) {
            return -1;
        }
        *last = '\0';
        std::string result(root);
        std::string relative;
        AppendWithNativeSeparators(relative, path, sep);
        if (relative.empty() || relative[0] != kPathSeparator) {
            result.push_back(kPathSeparator);
        }
        result += relative;
        if (result.size() >= kServerPathCapacity) {
            return -1;
        }
        std::memcpy(path, result.c_str(), result.size() + 1);
        return platform::Exists(path) ? 0 : -1;
    }

    if (platform::Exists(path)) {
        return 0;
    }
    // A pair fits when its server text is a whole leading run of the path's
    // folders; of the pairs that fit, only those with the longest server text
    // are tried, in file order, so a deeper folder is never read as a sibling
    // or parent of another pair's folder.
    struct Fit {
        const std::string* replacement;
        const char* rest;
        std::size_t depth;
    };
    std::vector<Fit> fits;
    std::size_t deepest = 0;
    for (const QOR_PathConversion& pair : PathConversions()) {
        const std::string* prefix = nullptr;
        const std::string* replacement = nullptr;
        if (PathKind(pair.second.c_str()) == pathStyle) {
            prefix = &pair.second;
            replacement = &pair.first;
        } else if (PathKind(pair.first.c_str()) == pathStyle) {
            prefix = &pair.first;
            replacement = &pair.second;
        } else {
            continue;
        }
        if (prefix->empty() || !StartsWithNoCase(path, *prefix)) {
            continue;
        }
        const char* rest = path + prefix->size();
        if (prefix->back() != sep) {
            if (*rest != '\0' && *rest != sep) {
                continue; // the prefix ends inside a folder or file name
            }
            // The separator behind a prefix that does not end with one is
            // dropped along with it.
            if (*rest == sep) {
                ++rest;
            }
        }
        std::size_t depth = prefix->size();
        while (depth > 0 && (*prefix)[depth - 1] == sep) {
            --depth;
        }
        fits.push_back({replacement, rest, depth});
        deepest = std::max(deepest, depth);
    }
    for (const Fit& fit : fits) {
        if (fit.depth != deepest) {
            continue;
        }
        if (fit.replacement->size() >= kServerPathCapacity) {
            return -1;
        }
        std::string candidate(*fit.replacement);
        AppendWithNativeSeparators(candidate, fit.rest, sep);
        if (candidate.size() >= kServerPathCapacity) {
            return -1;
        }
        if (platform::Exists(candidate.c_str())) {
            std::memcpy(path, candidate.c_str(), candidate.size() + 1);
            return 0;
        }
    }
    return -1;
}

// ---------------------------------------------------------------------------
// Outcome and format names

int ProcessOutcome(const QOR_ColorCorrectionOptions& options, int kind) {
    if (options.valid == 0 || kind < 0 || kind > 2) {
        return 0;
    }
    const int32_t mode = options.modes[kind];
    switch (kind) {
    case 0:
        if (mode == 0 || mode == 1) {
            return 10;
        }
        return (mode == 4 || mode == 5) ? 2 : 0;
    case 1:
        if (mode == 0 || mode == 2) {
            return 1;
        }
        if (mode == 1 || mode == 3) {
            return 10;
        }
        return (mode >= 4 && mode <= 7) ? 2 : 0;
    default:
        if (mode == 0 || mode == 5 || mode == 6) {
            return 2;
        }
        if (mode == 1) {
            return 10;
        }
        return mode == 2 ? 1 : 0;
    }
}

int ResultFormat(const QOR_FileOptions& options, int outcome) {
    switch (outcome) {
    case 10:
        return options.formats[0];
    case 1:
        return options.formats[1];
    case 2:
        return options.formats[2];
    default:
        return -1;
    }
}

const char* FormatCodeName(int code) {
    switch (code) {
    case 0:
        return "TIFF";
    case 1:
        return "EPS ";
    case 4:
        return "JPEG";
    case 5:
        return "TGA ";
    case 6:
        return "PCD ";
    case 8:
        return "ZPAX";
    default:
        return "????";
    }
}
