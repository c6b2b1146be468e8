#include "OD_OrderFromImage.h"

#include "IMG_ImageInfo.h"
#include "IMG_OpenImageFile.h"
#include "IOrdoPrefsData.h"
#include "IOrdoQORData.h"
#include "ISession.h"
#include "ImportUtils.h"
#include "PathKind.h"
#include "Paths.h"
#include "Platform.h"
#include "QOR_Configuration.h"
#include "QOR_EndPoint.h"

#include <cctype>
#include <cstring>
#include <memory>

namespace {

// Length of a cut of text to at most max bytes that does not end inside a
// UTF-8 sequence.
std::size_t Utf8CutLength(const std::string& text, std::size_t max) {
    if (text.size() <= max) {
        return text.size();
    }
    std::size_t cut = max;
    // Back off over continuation bytes so that a sequence is kept whole or
    // left out.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    return cut;
}

// The link's names as 8-bit text; false (both empty) when the item does not
// have exactly one link or a name does not fit its buffer.
bool TakeLinkNames(const UIDRef& item, char (&shortName)[kODNameBufferSize],
                   char (&longName)[kODNameBufferSize]) {
    shortName[0] = '\0';
    longName[0] = '\0';
    if (LinkUtils::CountLinks(item) != 1) {
        return false;
    }
    PMString shortText;
    PMString longText;
    if (!LinkUtils::GetLinkNames(item, shortText, longText)) {
        return false;
    }
    if (shortText.GetAsCString(shortName, sizeof shortName) != 0 ||
        longText.GetAsCString(longName, sizeof longName) != 0) {
        shortName[0] = '\0';
        longName[0] = '\0';
        return false;
    }
    return true;
}

int SlotOfClass(uint32_t imageClass) {
    switch (imageClass) {
    case kODClassGray:
        return 0;
    case kODClassRGB:
    case kODClassLab:
        return 1;
    case kODClassCMYK:
        return 2;
    default:
        return -1;
    }
}

// The colour model that a slot's colour-correction mode is read for.
constexpr int kSlotModels[kODPrefsClassSlots] = {kODModelGray, kODModelRGB, kODModelCMYK};

bool IsKnownModel(int model) {
    return model == kODModelRGB || model == kODModelCMYK || model == kODModelLab ||
           model == kODModelGray;
}

bool SameNameIgnoringCase(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (std::tolower(static_cast<unsigned char>(*a)) !=
            std::tolower(static_cast<unsigned char>(*b))) {
            return false;
        }
    }
    return *a == *b;
}

// The server's job profile of a name: the first whose name is the same
// without regard to case, the name cut to 30 bytes; else the default one.
const QOR_JobProfileOptions* FindJobProfile(const QOR_Parameters& parameters,
                                            const PMString& name) {
    char wanted[31] = "";
    // A cut here only shortens the name looked for, as the server's names are.
    name.GetAsCString(wanted, sizeof wanted);
    const QOR_CurparamData& names = parameters.Curparam();
    for (int i = 0; i < names.ProfileCount(); ++i) {
        char entry[sizeof(QOR_CurparamData::Name)] = "";
        names.ProfileName(i, entry, sizeof entry);
        if (SameNameIgnoringCase(entry, wanted)) {
            if (const QOR_JobProfileOptions* profile = parameters.JobProfile(i + 1)) {
                return profile;
            }
            break;
        }
    }
    return parameters.JobProfile(0);
}

// Opens the high-resolution file that a proxy names, when it can be reached
// as it is or through the server's path conversion. Null otherwise.
std::unique_ptr<Proxy_FileIOProcess> OpenNamedFile(const char* linkedName,
                                                   const QOR_EndPoint* endpoint) {
    char path[kServerPathCapacity] = "";
    if (!CopyBounded(path, sizeof path, linkedName)) {
        return nullptr;
    }
    const int kind = PathKind(path);
    if (!platform::Exists(path)) {
        if (kind < 0 || MapServerPath(endpoint, path, kind) != 0) {
            return nullptr;
        }
    }
    return IMG_OpenImageFile(path, "r", false);
}

} // namespace

OD_NameParts SplitOrderName(const char* fileName) {
    OD_NameParts parts;
    std::string base = fileName != nullptr ? fileName : "";
    const std::size_t dot = base.rfind('.');
    if (dot != std::string::npos && base.size() - dot - 1 <= 4) {
        base.erase(dot);
    }
    const std::size_t hash = base.find('#');
    if (hash != std::string::npos) {
        std::string prefix = base.substr(0, hash);
        prefix.resize(Utf8CutLength(prefix, kODPrefixMaxBytes));
        parts.namePrefix = prefix;
        parts.hasPrefix = true;
        base.erase(0, hash + 1);
    }
    parts.baseName = base;
    return parts;
}

int FillOrderFromImage(const UIDRef& item, OD_ProcData& record, bool provisional) {
    char shortName[kODNameBufferSize];
    char longName[kODNameBufferSize];
    TakeLinkNames(item, shortName, longName);

    const OD_NameParts name = SplitOrderName(shortName);
    record.outputName = PMString(name.baseName);
    record.status = provisional ? kODStatusProvisional : kODStatusReady;
    record.linkPath = PMString(longName);

    ISession* session = GetExecutionContextSession();
    InterfacePtr<IOrdoPrefsData> prefsData(session, IID_IORDOPREFSDATA);
    if (!prefsData) {
        return 0;
    }
    const OD_PrefsData prefs = prefsData->Get();
    InterfacePtr<IOrdoQORData> linkData(session, IID_IORDOQORDATA);
    std::unique_ptr<OD_QORData> link;
    if (linkData) {
        link = std::make_unique<OD_QORData>(linkData->Get());
    }

    std::unique_ptr<Proxy_FileIOProcess> reader =
        IMG_OpenImageFile(longName, "r", prefs.GetOpiActive());
    const IMG_ImageInfo* info = reader ? reader->GetImageInfo() : nullptr;
    if (info == nullptr) {
        record.status = kODStatusUnreadable;
        return 0;
    }

    int model = static_cast<int>(IMG_ColourModelOf(info->pixelType));
    double resolution = info->resolution;
    const int32_t processCount = reader->GetProcessCount();
    const int historyCode = processCount != -1 ? CodeForOption(processCount, model) : -1;
    record.pixelWidth = info->width;
    record.pixelHeight = info->height;
    record.formatCode = reader->GetFormatCode();

    if ((record.formatCode & kODFormatNamesHighRes) == 0) {
        record.sourcePath = PMString(longName);
    } else {
        // One byte more than the buffer holds tells a name that fits from one
        // that the copy would cut into the name of some other file.
        char linked[kODNameBufferSize + 1] = {};
        reader->GetLinkedName(linked, sizeof linked);
        if (linked[kODNameBufferSize - 1] != '\0') {
            record.sourcePath.Clear();
            record.status = kODStatusUnreadable;
            return 0;
        }
        record.sourcePath = PMString(linked);
        // The high-resolution file tells what the proxy leaves open: its
        // colour model when the proxy's is unknown, its resolution when the
        // proxy gives none (a monochrome OPI 2.0 placeholder).
        const bool modelKnown = IsKnownModel(model);
        if (!modelKnown || ODKnownResolution(resolution) != resolution) {
            const QOR_EndPoint* endpoint = link ? link->GetEndPoint() : nullptr;
            std::unique_ptr<Proxy_FileIOProcess> named = OpenNamedFile(linked, endpoint);
            if (const IMG_ImageInfo* namedInfo = named ? named->GetImageInfo() : nullptr) {
                if (!modelKnown) {
                    model = static_cast<int>(IMG_ColourModelOf(namedInfo->pixelType));
                }
                if (ODKnownResolution(namedInfo->resolution) == namedInfo->resolution) {
                    resolution = namedInfo->resolution;
                }
            }
        }
    }

    record.imageClass = ImageClassForModel(model);
    record.resolution = ODKnownResolution(resolution);

    if (!link) {
        return 0;
    }
    const int slot = SlotOfClass(record.imageClass);
    if (slot < 0) {
        if ((record.formatCode & kODFormatTiffProxyMask) == kODFormatTiffProxyMask) {
            record.profile = prefs.GetDefaultProfile(2);
        } else {
            record.status = kODStatusUnsupported;
        }
        return 0;
    }

    // A CMYK image always starts from the slot's default, whatever the file
    // says it went through before.
    if (record.imageClass != kODClassCMYK && historyCode != -1) {
        record.processCode = static_cast<int16_t>(historyCode);
    } else {
        record.processCode = prefs.GetDefaultCode(slot);
    }
    record.prefix = name.hasPrefix ? PMString(name.namePrefix) : prefs.GetDefaultPrefix(slot);
    if (!prefs.GetDefaultProfile(slot).IsEmpty()) {
        record.profile = prefs.GetDefaultProfile(slot);
        return 0;
    }
    record.profile = prefs.GetDefaultProcess();
    const QOR_Parameters* parameters = link->GetParameters();
    if (parameters == nullptr || parameters->JobProfileCount() == 0) {
        return 0;
    }
    const QOR_JobProfileOptions* profile = FindJobProfile(*parameters, record.profile);
    if (profile != nullptr && profile->IsUsable()) {
        const int code = CodeForOption(profile->colorCorrection.modes[slot], kSlotModels[slot]);
        record.processCode = static_cast<int16_t>(code);
    }
    return 0;
}

const char* OrderProblemKey(const OD_ProcData& record) {
    if ((record.status & kODStatusUnreadable) != 0) {
        const std::string& path = record.linkPath.GetUTF8String();
        return !path.empty() && !platform::Exists(path.c_str()) ? kODFileMissingKey
                                                                : kODUnsupportedFormatKey;
    }
    if ((record.status & kODStatusUnsupported) != 0) {
        return kODUnsupportedPixelTypeKey;
    }
    return nullptr;
}

PMString LinkedFileName(const UIDRef& item, bool* missing) {
    PMString shortName;
    PMString longName;
    const bool linked =
        LinkUtils::CountLinks(item) == 1 && LinkUtils::GetLinkNames(item, shortName, longName);
    if (missing != nullptr) {
        *missing = linked && !platform::Exists(longName.GetUTF8String().c_str());
    }
    shortName.SetTranslatable(false);
    return shortName;
}

PMString ImageProblemLine(const UIDRef& item, const OD_ProcData& record, const char* reasonKey) {
    PMString line = LinkedFileName(item);
    if (line.IsEmpty()) {
        line = record.outputName.IsEmpty() ? PMString("?") : record.outputName;
    }
    line.Append(": ");
    line.Append(PMString(reasonKey).Translated());
    line.SetTranslatable(false);
    return line;
}
