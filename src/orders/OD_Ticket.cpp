#include "OD_Ticket.h"

#include "IOrdoPrefsData.h"
#include "ISession.h"
#include "OD_Preferences.h"
#include "Paths.h"
#include "PreferenceFiles.h"
#include "QOR_EndPoint.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

namespace {

constexpr const char* kTicketFormat =
    "PROCESS\nPATHIN: %s\nPATHOUT: %s\nHUNITS: inch\nVUNITS: inch\nTOP: %lf\nLEFT: %lf\n"
    "WIDTH: %lf\nHEIGHT: %lf\nSCALEX: %lf\nSCALEY: %lf\nRESX: %d\nRESY: %d\nANGLE: %lf\n"
    "PREFIX: %s\nPROCESSOPT: %d\nFLIPGD: %d\nFLIPHB: %d\nSKEWH: %lf\nOVERWRITE: %d\n"
    "PROFILE: %s\nDOCROP: 1\nDEL_SRC_IMAGE: %d\n";

// A value that "%lf" would print as "-0.000000" (minus zero, or a negative
// value that rounds to it), as zero: the server reads no sign into a zero.
double Unsigned0(double value) {
    return value < 0.0 && value > -5e-7 ? 0.0 : value + 0.0;
}

bool IsReady(uint16_t status) {
    return status == kODStatusReady || status == kODStatusReadyAlt;
}

} // namespace

const char* SendOrderProblem(int result) {
    switch (result) {
    case 0:
        return "";
    case -1:
        return "the order is not ready, or its preferences or placement cannot be read";
    case kODSendPathInTooLong:
        return "the source path is longer than 511 bytes";
    case kODSendPathOutTooLong:
        return "the output path is longer than 511 bytes";
    case kODSendNoOutFolder:
        return "no output folder: \"Save in folder:\" is empty and the source path has no folder";
    case kODSendTicketTooLong:
        return "the job ticket is longer than 1023 bytes";
    case kODSendBadResolution:
        return "the output resolution is not a usable number";
    default:
        return "the server link could not write the job file";
    }
}

int FormatTicket(const OD_TicketValues& v, char* buffer, std::size_t capacity) {
    if (capacity == 0) {
        return kODSendTicketTooLong;
    }
    const OD_TicketGeometry& g = v.geometry;
    const int n = std::snprintf(
        buffer, capacity, kTicketFormat, v.pathIn, v.pathOut, Unsigned0(g.top), Unsigned0(g.left),
        Unsigned0(g.width), Unsigned0(g.height), Unsigned0(g.scaleX), Unsigned0(g.scaleY),
        v.resolution, v.resolution, Unsigned0(g.angle), v.prefix, v.processOption, g.flipGD,
        g.flipHB, Unsigned0(g.skewH), v.overwrite, v.profile, v.deleteSource);
    if (n < 0 || static_cast<std::size_t>(n) >= capacity) {
        buffer[0] = '\0';
        return kODSendTicketTooLong;
    }
    return n;
}

void CopyCutUTF8(char* buffer, const char* text, std::size_t maxBytes) {
    std::size_t n = std::strlen(text);
    if (n > maxBytes) {
        n = maxBytes;
        // Back up over continuation bytes to the start of the sequence that
        // the cut would split, unless that sequence ends exactly at the cut.
        std::size_t start = n;
        while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) {
            --start;
        }
        n = start;
    }
    std::memcpy(buffer, text, n);
    buffer[n] = '\0';
}

OD_PrefsData GoverningPreferences(const OD_PrefsData& session, const OD_ProcData& order) {
    OD_PrefsData prefs = session;
    if (session.GetShowPrefs() && !order.prefsFileName.IsEmpty()) {
        const std::string path = PreferenceFilePath(order.prefsFileName.GetUTF8String());
        if (!path.empty()) {
            // Replaces the copy only when the whole file reads.
            (void)LoadPreferenceFile(path, prefs);
        }
    }
    return prefs;
}

std::string PathStem(const std::string& path) {
    const char* last = LastSeparator(path.c_str());
    const std::size_t nameAt =
        last != nullptr ? static_cast<std::size_t>(last - path.c_str()) + 1 : 0;
    const std::size_t dot = path.rfind('.');
    if (dot != std::string::npos && dot > nameAt && path.size() - dot - 1 <= kODExtensionMaxBytes) {
        return path.substr(0, dot);
    }
    return path;
}

int FormOutputPath(const OD_PrefsData& prefs, const OD_ProcData& order, char* buffer,
                   std::size_t capacity) {
    if (capacity == 0) {
        return kODSendPathOutTooLong;
    }
    buffer[0] = '\0';
    const char* source = order.sourcePath.GetUTF8String().c_str();
    if (prefs.GetRepSrc()) {
        if (!CopyBounded(buffer, capacity, source)) {
            buffer[0] = '\0';
            return kODSendPathOutTooLong;
        }
        return 0;
    }
    const char* folder = prefs.GetOutFolder();
    bool fits = true;
    if (folder[0] != '\0') {
        fits = CopyBounded(buffer, capacity, folder);
        const std::size_t n = std::strlen(buffer);
        if (fits && buffer[n - 1] != kPathSeparator) {
            const char separator[2] = {kPathSeparator, '\0'};
            fits = AppendBounded(buffer, capacity, separator);
        }
    } else {
        // The source file's own folder, its separator kept.
        const char* last = LastSeparator(source);
        if (last == nullptr) {
            return kODSendNoOutFolder;
        }
        const std::size_t n = static_cast<std::size_t>(last - source) + 1;
        fits = n < capacity;
        if (fits) {
            std::memcpy(buffer, source, n);
            buffer[n] = '\0';
        }
    }
    if (fits) {
        fits = AppendBounded(buffer, capacity, order.outputName.GetUTF8String().c_str());
    }
    if (fits && folder[0] == '\0' && PathStem(buffer) == PathStem(source)) {
        // Beside its source, a processed file never takes the source's own
        // name, whatever extension the server gives it: "-processed" goes
        // before the name's extension.
        const std::string name = order.outputName.GetUTF8String();
        const std::size_t stem = PathStem(name).size();
        const std::string renamed = name.substr(0, stem) + kODProcessedNameMark + name.substr(stem);
        *(LastSeparator(buffer) + 1) = '\0';
        fits = AppendBounded(buffer, capacity, renamed.c_str());
    }
    if (!fits) {
        buffer[0] = '\0';
        return kODSendPathOutTooLong;
    }
    return 0;
}

int BuildTicket(const UIDRef& item, const OD_ProcData& order, char* ticket, char* pathOut) {
    if (!IsReady(order.status)) {
        return -1;
    }
    InterfacePtr<IOrdoPrefsData> prefsData(GetExecutionContextSession(), IID_IORDOPREFSDATA);
    if (!prefsData) {
        return -1;
    }
    const OD_PrefsData prefs = GoverningPreferences(prefsData->Get(), order);

    OD_TicketValues values;
    values.processOption = OptionForCode(order.processCode);

    char pathIn[kODTicketPathSize];
    if (!CopyBounded(pathIn, sizeof pathIn, order.sourcePath.GetUTF8String().c_str())) {
        return kODSendPathInTooLong;
    }
    values.pathIn = pathIn;
    if (const int result = FormOutputPath(prefs, order, pathOut, kODTicketPathSize); result != 0) {
        return result;
    }
    values.pathOut = pathOut;

    const double resolution = prefs.GetResolution();
    if (!std::isfinite(resolution) || resolution < 1.0 ||
        std::fabs(resolution) >= static_cast<double>(std::numeric_limits<int>::max())) {
        return kODSendBadResolution;
    }
    values.resolution = static_cast<int>(resolution); // toward zero

    OD_PlacementGeometry placement;
    if (GetPlacementGeometry(item, placement) != 0) {
        return -1;
    }
    values.geometry = ComputeTicketGeometry(item, order.formatCode, order.resolution, placement);

    char prefix[kODPrefixMaxBytes + 1];
    CopyCutUTF8(prefix, order.prefix.GetUTF8String().c_str(), kODPrefixMaxBytes);
    values.prefix = prefix;
    char profile[kODProfileMaxBytes + 1];
    CopyCutUTF8(profile, order.profile.GetUTF8String().c_str(), kODProfileMaxBytes);
    values.profile = profile;
    values.overwrite = prefs.GetOvrWrDest() ? 1 : 0;
    values.deleteSource = prefs.GetDelSrc() ? 1 : 0;

    if (const int n = FormatTicket(values, ticket, kODTicketSize); n < 0) {
        return n;
    }
    return 0;
}

int SendOrder(const UIDRef& item, const OD_ProcData& order, QOR_EndPoint* endpoint,
              OD_ProcData& updated, const QOR_SendHooks* hooks) {
    if (endpoint == nullptr) {
        return -1;
    }
    char ticket[kODTicketSize];
    char pathOut[kODTicketPathSize];
    if (const int result = BuildTicket(item, order, ticket, pathOut); result != 0) {
        return result;
    }
    char jobName[kODTicketPathSize] = "";
    const int result =
        hooks != nullptr
            ? endpoint->SendNamedWith(jobName, ticket, static_cast<int>(kODTicketSize), *hooks)
            : endpoint->SendNamed(jobName, ticket, static_cast<int>(kODTicketSize));
    if (result == 0) {
        updated = order;
        updated.jobName = PMString(jobName);
        updated.status = kODStatusSent;
    }
    return result;
}
