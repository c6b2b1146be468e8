// order-from: the order record that OrdoDesk makes for an image file placed
// alone in a fresh document, with the session's (or a saved) preferences and
// a server's configuration.
#include "Commands.h"
#include "JsonOutput.h"

#include "DocumentIDs.h"
#include "DocumentModel.h"
#include "DocumentUtils.h"
#include "IOrdoPrefsData.h"
#include "IOrdoQORData.h"
#include "ISession.h"
#include "ImportUtils.h"
#include "OD_OrderFromImage.h"
#include "OD_ProcData.h"
#include "OD_ServerLink.h"
#include "ObjectModel.h"
#include "Platform.h"
#include "PreferenceFiles.h"
#include "SessionIDs.h"
#include "StringTables.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

using nlohmann::ordered_json;

namespace {

struct StatusName {
    uint16_t flag;
    const char* name;
};

constexpr StatusName kStatusNames[] = {
    {kODStatusReady, "ready"},
    {kODStatusReadyAlt, "ready-alt"},
    {kODStatusSent, "sent"},
    {kODStatusDone, "done"},
    {kODStatusReplyMinus2, "reply-2"},
    {kODStatusReplyMinus1, "reply-1"},
    {kODStatusProvisional, "provisional"},
    {kODStatusUnreadable, "unreadable"},
    {kODStatusUnsupported, "unsupported"},
};

std::string Hex(uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

std::string Translated(const PMString& key) {
    return key.Translated().GetUTF8String();
}

ordered_json RecordJson(const OD_ProcData& r) {
    ordered_json j;
    j["status"] = r.status;
    ordered_json flags = ordered_json::array();
    for (const StatusName& s : kStatusNames) {
        if ((r.status & s.flag) != 0) {
            flags.push_back(s.name);
        }
    }
    j["statusFlags"] = flags;
    j["ordered"] = r.IsOrdered();
    j["processCode"] = r.processCode;
    const int option = OptionForCode(r.processCode);
    j["processText"] = option >= 0 ? ordered_json(Translated(ProcessCodeTextKey(r.processCode)))
                                   : ordered_json(nullptr);
    j["processOption"] = option;
    j["hasCorrection"] = HasCorrection(r.processCode);
    j["profile"] = r.profile.GetUTF8String();
    j["auxText"] = r.auxText.GetUTF8String();
    j["outputName"] = r.outputName.GetUTF8String();
    j["prefix"] = r.prefix.GetUTF8String();
    j["jobName"] = r.jobName.GetUTF8String();
    j["sourcePath"] = r.sourcePath.GetUTF8String();
    j["linkPath"] = r.linkPath.GetUTF8String();
    j["prefsFileName"] = r.prefsFileName.GetUTF8String();
    j["auxFlag"] = r.auxFlag;
    j["imageClass"] = r.imageClass;
    j["imageClassText"] = Translated(PMString(ImageClassTextKey(r.imageClass)));
    j["pixelWidth"] = r.pixelWidth;
    j["pixelHeight"] = r.pixelHeight;
    j["formatCode"] = r.formatCode;
    // Resolutions come from 32-bit floats; three decimals say all they hold.
    j["resolution"] = std::round(r.resolution * 1000.0) / 1000.0;
    return j;
}

void PrintText(const std::string& file, const ordered_json& j) {
    std::cout << file << "\n";
    std::cout << "  status           " << Hex(j["status"].get<uint32_t>(), 4);
    for (const auto& flag : j["statusFlags"]) {
        std::cout << " " << flag.get<std::string>();
    }
    std::cout << "\n";
    std::cout << "  processCode      " << j["processCode"];
    if (!j["processText"].is_null()) {
        std::cout << " (" << j["processText"].get<std::string>() << ", option "
                  << j["processOption"] << ")";
    }
    std::cout << "\n";
    std::cout << "  profile          " << j["profile"].get<std::string>() << "\n";
    std::cout << "  outputName       " << j["outputName"].get<std::string>() << "\n";
    std::cout << "  prefix           " << j["prefix"].get<std::string>() << "\n";
    std::cout << "  sourcePath       " << j["sourcePath"].get<std::string>() << "\n";
    std::cout << "  linkPath         " << j["linkPath"].get<std::string>() << "\n";
    std::cout << "  imageClass       " << j["imageClass"] << " ("
              << j["imageClassText"].get<std::string>() << ")\n";
    std::cout << "  size             " << j["pixelWidth"] << " x " << j["pixelHeight"] << "\n";
    std::cout << "  formatCode       " << Hex(j["formatCode"].get<uint32_t>(), 1) << "\n";
    std::cout << "  resolution       " << j["resolution"] << " ppi\n";
}

// The session as the plug-in sets it up: its preferences and server link.
void SetUpSession() {
    RegisterHostServices();
    RegisterDocumentModel();
    RegisterStringTables();
    RegisterPreferenceImplementations();
    RegisterServerLinkImplementations();
    ObjectModel::Get().AddIn(kSessionBoss, IID_IORDOPREFSDATA, kOrdoPrefsDataPersistImpl);
    ObjectModel::Get().AddIn(kSessionBoss, IID_IORDOQORDATA, kOrdoQORDataNonPersistImpl);
}

struct Options {
    std::string file;
    std::string prefsFile;
    std::string serverPath;
    bool json = false;
};

int OrderFrom(const Options& o) {
    if (!platform::Exists(o.file.c_str()) || platform::IsDirectory(o.file.c_str())) {
        std::cerr << "ordodesk: no such file: " << o.file << "\n";
        return 1;
    }
    SetUpSession();
    ISession* session = GetExecutionContextSession();

    OD_PrefsData prefs;
    if (!o.prefsFile.empty()) {
        PrefsFileResult loaded = LoadPreferenceFile(o.prefsFile, prefs);
        if (!loaded) {
            std::cerr << "ordodesk: cannot use the preference file " << o.prefsFile << ": "
                      << loaded.reason << "\n";
            return 1;
        }
    }
    if (!o.serverPath.empty() && !prefs.SetServerPath(o.serverPath.c_str())) {
        std::cerr << "ordodesk: the server path is longer than a preferences record holds\n";
        return 1;
    }
    {
        InterfacePtr<IOrdoPrefsData> data(session, IID_IORDOPREFSDATA);
        data->Set(prefs);
    }
    if (prefs.GetServerPath()[0] != '\0' && !OpenServerLink(session, true, false)) {
        if (!o.serverPath.empty()) {
            std::cerr << "ordodesk: the server \"" << o.serverPath
                      << "\" cannot be opened (its root needs Data and Data/service)\n";
            return 1;
        }
        std::cerr << "ordodesk: warning: the preferences' server \"" << prefs.GetServerPath()
                  << "\" cannot be opened; its configuration is not used\n";
    }

    std::unique_ptr<IDataBase> db = DocumentUtils::NewDocument();
    ErrorCode error = kFailure;
    UIDRef frame = DocumentUtils::AddGraphicFrame(DocumentUtils::GetNthPage(db.get(), 0),
                                                  PMRect(36, 36, 576, 756), &error);
    UIDRef image;
    if (error == kSuccess) {
        image = ImportUtils::PlaceFile(frame, PMString(o.file), &error);
    }
    if (error != kSuccess) {
        std::cerr << "ordodesk: the file cannot be placed: " << DocumentErrorText(error) << "\n";
        return 1;
    }

    OD_ProcData record;
    FillOrderFromImage(image, record, false);
    ordered_json j = RecordJson(record);
    if (o.json) {
        std::cout << DumpJson(j) << "\n";
    } else {
        PrintText(o.file, j);
    }
    db.reset();
    ResetHostForTesting();
    return 0;
}

} // namespace

void AddOrderCommand(CLI::App& app, int& exitCode) {
    auto options = std::make_shared<Options>();
    auto* cmd = app.add_subcommand(
        "order-from",
        "Place an image file alone in a fresh document and print the order record that "
        "OrdoDesk makes for it (names, status, process code, profile, prefix, what the file "
        "is), with the default or a saved preferences record and a server's configuration.");
    cmd->add_option("FILE", options->file, "Image file")->required();
    cmd->add_option("--prefs", options->prefsFile,
                    "Preference file (.opf) to use instead of the default preferences");
    cmd->add_option("--server", options->serverPath,
                    "Server path (the server application inside its root folder); replaces the "
                    "preferences' server");
    cmd->add_flag("--json", options->json, "Print the record as one JSON object");
    cmd->callback([&exitCode, options] { exitCode = OrderFrom(*options); });
}
