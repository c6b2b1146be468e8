// server-config and map-path: what the plug-in reads of a QOR server's tree.
#include "Commands.h"
#include "JsonOutput.h"

#include "Paths.h"
#include "Platform.h"
#include "QOR_Configuration.h"
#include "QOR_EndPointFile.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

using nlohmann::ordered_json;

namespace {

// Opens the endpoint on a server path, writing nothing into the server's
// folders. On failure says on standard error which folder is missing.
bool OpenServer(QOR_EndPointFile& endpoint, const std::string& serverPath) {
    if (endpoint.Open(serverPath.c_str()) == 0) {
        return true;
    }
    std::string root = serverPath;
    auto last = root.rfind(kPathSeparator);
    if (last == std::string::npos) {
        std::cerr << "ordodesk: the server path \"" << serverPath
                  << "\" names no folder (it must name the server application inside the "
                     "server's root folder)\n";
        return false;
    }
    root.resize(last);
    const std::string sep(1, kPathSeparator);
    for (const char* folder : {"Data", "Data/service", "Data/tmp"}) {
        std::string path = root + sep + folder;
        for (auto& c : path) {
            c = c == '/' ? kPathSeparator : c;
        }
        if (!platform::IsDirectory(path.c_str())) {
            std::cerr << "ordodesk: missing folder " << path << "\n";
            return false;
        }
    }
    std::cerr << "ordodesk: the server path \"" << serverPath << "\" cannot be opened\n";
    return false;
}

const char* const kInputKinds[3] = {"gray", "rgb", "cmyk"};

ordered_json ProfileJson(const QOR_Parameters& params, int index) {
    const QOR_JobProfileOptions& p = *params.JobProfile(index);
    ordered_json j;
    j["index"] = index;
    if (index == 0) {
        j["name"] = nullptr;
    } else {
        char name[32];
        j["name"] = params.Curparam().ProfileName(index - 1, name, sizeof name);
    }
    j["usable"] = p.IsUsable();
    j["colorCorrection"] = {
        {"valid", p.colorCorrection.valid != 0},
        {"modes",
         {p.colorCorrection.modes[0], p.colorCorrection.modes[1], p.colorCorrection.modes[2]}}};
    ordered_json formats = ordered_json::array();
    for (int f : p.fileOptions.formats) {
        formats.push_back({{"code", f}, {"name", FormatCodeName(f)}});
    }
    j["fileOptions"] = {{"valid", p.fileOptions.valid != 0}, {"formats", formats}};
    ordered_json outcomes;
    for (int kind = 0; kind < 3; ++kind) {
        int outcome = ProcessOutcome(p.colorCorrection, kind);
        int format = ResultFormat(p.fileOptions, outcome);
        ordered_json o = {{"outcome", outcome}};
        if (format >= 0) {
            o["format"] = format;
            o["formatName"] = FormatCodeName(format);
        } else {
            o["format"] = nullptr;
            o["formatName"] = nullptr;
        }
        outcomes[kInputKinds[kind]] = o;
    }
    j["outcomes"] = outcomes;
    return j;
}

ordered_json NameList(const QOR_CurparamData& c, bool listA) {
    ordered_json list = ordered_json::array();
    int count = listA ? c.ParameterCountA() : c.ParameterCountB();
    for (int i = 0; i < count; ++i) {
        char name[32];
        if (listA) {
            c.ParameterNameA(i, name, sizeof name);
        } else {
            c.ParameterNameB(i, name, sizeof name);
        }
        list.push_back({{"raw", listA ? c.ParameterEntryA(i) : c.ParameterEntryB(i)},
                        {"name", std::string(name)}});
    }
    return list;
}

// The parameters carry the name lists only; the path style and the file
// version come from the file as read.
ordered_json ServerConfigJson(const std::string& serverPath, const QOR_CurparamData& file,
                              const QOR_Parameters& params) {
    const QOR_CurparamData& c = params.Curparam();
    ordered_json j;
    j["serverPath"] = serverPath;
    j["pathStyle"] = file.PathStyle();
    j["fileVersion"] = file.FileVersion();
    ordered_json profiles = ordered_json::array();
    for (int i = 0; i < c.ProfileCount(); ++i) {
        char name[32];
        profiles.push_back(c.ProfileName(i, name, sizeof name));
    }
    j["profileNames"] = profiles;
    j["parameterListA"] = NameList(c, true);
    j["parameterListB"] = NameList(c, false);
    ordered_json jobProfiles = ordered_json::array();
    for (int i = 0; i < params.JobProfileCount(); ++i) {
        jobProfiles.push_back(ProfileJson(params, i));
    }
    j["jobProfiles"] = jobProfiles;
    ordered_json pairs = ordered_json::array();
    for (const auto& pair : PathConversions()) {
        pairs.push_back({{"first", pair.first}, {"second", pair.second}});
    }
    j["pathConversions"] = pairs;
    return j;
}

void PrintServerConfig(const ordered_json& j) {
    static const char* const styles[] = {"0 (Mac, ':')", "1 (Windows, '\\')", "2 (Unix, '/')"};
    int style = j["pathStyle"].get<int>();
    std::cout << "Server path:   " << j["serverPath"].get<std::string>() << "\n";
    std::cout << "Path style:    " << (style >= 0 && style <= 2 ? styles[style] : "unknown")
              << "\n";
    std::cout << "File version:  " << j["fileVersion"].get<int>() << "\n";
    std::cout << "Profile names (" << j["profileNames"].size() << "):\n";
    for (const auto& n : j["profileNames"]) {
        std::cout << "  " << n.get<std::string>() << "\n";
    }
    for (const char* list : {"parameterListA", "parameterListB"}) {
        std::cout << (list[13] == 'A' ? "Named parameters, list A" : "Named parameters, list B")
                  << " (" << j[list].size() << "):\n";
        for (const auto& e : j[list]) {
            std::string name = e["name"].get<std::string>();
            std::cout << "  " << e["raw"].get<std::string>() << "  ->  "
                      << (name.empty() ? "(not offered)" : name) << "\n";
        }
    }
    std::cout << "Job profiles:\n" << std::boolalpha;
    for (const auto& p : j["jobProfiles"]) {
        std::cout << "  [" << p["index"].get<int>() << "] "
                  << (p["name"].is_null() ? "(default)" : p["name"].get<std::string>())
                  << (p["usable"].get<bool>() ? "" : "  (not usable)") << "\n";
        const auto& cc = p["colorCorrection"];
        const auto& fo = p["fileOptions"];
        std::cout << "      colour correction valid " << cc["valid"].get<bool>() << ", modes "
                  << cc["modes"][0] << " " << cc["modes"][1] << " " << cc["modes"][2] << "\n";
        std::cout << "      file options valid " << fo["valid"].get<bool>() << ", formats";
        for (const auto& f : fo["formats"]) {
            std::cout << " " << f["code"] << " \"" << f["name"].get<std::string>() << "\"";
        }
        std::cout << "\n      outcomes:";
        for (const char* kind : kInputKinds) {
            const auto& o = p["outcomes"][kind];
            std::cout << " " << kind << " -> " << o["outcome"];
            if (!o["formatName"].is_null()) {
                std::cout << " \"" << o["formatName"].get<std::string>() << "\"";
            }
            std::cout << (kind == kInputKinds[2] ? "" : ",");
        }
        std::cout << "\n";
    }
    std::cout << "Path conversions (" << j["pathConversions"].size() << "):\n";
    for (const auto& pair : j["pathConversions"]) {
        std::cout << "  \"" << pair["first"].get<std::string>() << "\"  <->  \""
                  << pair["second"].get<std::string>() << "\"\n";
    }
}

int ServerConfig(const std::string& serverPath, bool json) {
    QOR_EndPointFile endpoint;
    if (!OpenServer(endpoint, serverPath)) {
        return 2;
    }
    std::unique_ptr<QOR_CurparamData> file = LoadCurparam(&endpoint);
    std::unique_ptr<QOR_Parameters> params = LoadParameters(&endpoint);
    LoadPathConversions(&endpoint);
    if (!file || !params) {
        std::cerr << "ordodesk: the server's \"curparam.txt\" cannot be read\n";
        return 1;
    }
    ordered_json j = ServerConfigJson(serverPath, *file, *params);
    if (json) {
        std::cout << DumpJson(j) << "\n";
    } else {
        PrintServerConfig(j);
    }
    return 0;
}

int MapPath(const std::string& serverPath, int style, const std::string& path) {
    QOR_EndPointFile endpoint;
    if (!OpenServer(endpoint, serverPath)) {
        return 2;
    }
    LoadPathConversions(&endpoint);
    char buffer[kServerPathCapacity];
    if (!CopyBounded(buffer, sizeof buffer, path.c_str())) {
        std::cerr << "ordodesk: the path is longer than " << sizeof buffer - 1 << " bytes\n";
        return 1;
    }
    if (MapServerPath(&endpoint, buffer, style) != 0) {
        std::cerr << "ordodesk: no local path for \"" << path << "\" (path style " << style
                  << ")\n";
        return 1;
    }
    std::cout << buffer << "\n";
    return 0;
}

} // namespace

void AddServerCommands(CLI::App& app, int& exitCode) {
    // The options live as long as the application's callbacks.
    struct Options {
        std::string serverPath;
        bool json = false;
        int style = 0;
        std::string path;
    };
    auto config = std::make_shared<Options>();
    auto* configCmd = app.add_subcommand(
        "server-config",
        "Open a QOR server's folder tree (reading only) and show its configuration: path style, "
        "file version, profile names, named-parameter lists, every job profile with its modes, "
        "formats and outcomes, and the path conversions.");
    configCmd
        ->add_option("SERVER_PATH", config->serverPath,
                     "The server application file inside the server's root folder")
        ->required();
    configCmd->add_flag("--json", config->json, "Print the configuration as JSON (docs/cli.md)");
    configCmd->callback(
        [&exitCode, config] { exitCode = ServerConfig(config->serverPath, config->json); });

    auto map = std::make_shared<Options>();
    auto* mapCmd = app.add_subcommand(
        "map-path", "Turn a path as the server writes it into a path of this machine, through "
                    "the server root and its \"convpath.txt\". Exit 1 when there is none.");
    mapCmd
        ->add_option("SERVER_PATH", map->serverPath,
                     "The server application file inside the server's root folder")
        ->required();
    mapCmd
        ->add_option("STYLE", map->style,
                     "Path style of the server: 0 Mac (':'), 1 Windows ('\\'), 2 Unix ('/')")
        ->required();
    mapCmd->add_option("PATH", map->path, "The path as the server wrote it")->required();
    mapCmd->callback(
        [&exitCode, map] { exitCode = MapPath(map->serverPath, map->style, map->path); });
}
