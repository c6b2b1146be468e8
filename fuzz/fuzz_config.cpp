// Feeds arbitrary bytes to the configuration readers. The first byte picks the
// file the rest stands for; the other files of the server folder are good
// ones, so that the whole load runs around the broken file. Selector 5 splits
// the rest at lines "=====" into curparam.txt, ccoopt.txt, fileopt.txt, the
// profiles "A" and "B" and convpath.txt.
#include "FuzzServerFolder.h"
#include "QOR_Configuration.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char* const kCurparam = "????\n1\n258\nx\n1\ns\nC:\\s\\Sharp#3\n1\ns\nC:\\s\\Gray#1\n"
                              "0\n0\n0\n0\n0\nx\n2\nC:\\p\\A\nC:\\p\\B\n";
const char* const kColor = "????\n1\n260\na\nb\nc\nd\n1 2 5\nt1\nt2\nt3\nt4\ne\nf\n";
const char* const kFile = "????\n1\n260\nx\n0\n4\n1\nx\np\np\np\nb\nb\nb\np\np\np\nb\nb\nb\n"
                          "p\np\np\nb\nb\nb\nb\nb\nb\nb\nb\nb\nb\nb\nb\nb\nb\nb\nb\nb\nb\n"
                          "b\nb\nb\nb\nb\nb\nb\nb\nb\nb\nb\nb\nb\nb\nb\nb\nb\nb\n";
const char* const kConvPath = "\"Vol:Images:\" \"/nowhere/\"\n";

void CheckOptions(const QOR_JobProfileOptions& profile) {
    const QOR_ColorCorrectionOptions& cc = profile.colorCorrection;
    for (const auto& text : cc.texts) {
        if (::strnlen(text, sizeof text) >= sizeof text) {
            std::abort();
        }
    }
    for (int kind = -1; kind <= 3; ++kind) {
        int outcome = ProcessOutcome(cc, kind);
        if (outcome != 0 && outcome != 1 && outcome != 2 && outcome != 10) {
            std::abort();
        }
        if (std::strlen(FormatCodeName(ResultFormat(profile.fileOptions, outcome))) != 4) {
            std::abort();
        }
    }
}

void CheckNames(const QOR_CurparamData& data) {
    char name[32];
    for (int i = -1; i <= data.ParameterCountA(); ++i) {
        data.ParameterNameA(i, name, sizeof name);
    }
    for (int i = -1; i <= data.ParameterCountB(); ++i) {
        data.ParameterNameB(i, name, sizeof name);
    }
    for (int i = -1; i <= data.ProfileCount(); ++i) {
        data.ProfileName(i, name, sizeof name);
        if (std::strlen(data.ProfileEntry(i)) > 31) {
            std::abort();
        }
    }
}

std::vector<std::string> Split(const std::string& text) {
    std::vector<std::string> parts(1);
    std::size_t start = 0;
    for (;;) {
        std::size_t mark = text.find("=====\n", start);
        parts.back() +=
            text.substr(start, mark == std::string::npos ? std::string::npos : mark - start);
        if (mark == std::string::npos) {
            return parts;
        }
        start = mark + 6;
        parts.emplace_back();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static FuzzServerFolder server;
    if (size == 0) {
        return 0;
    }
    const int selector = data[0] % 6;
    const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);

    std::string files[6] = {kCurparam, kColor,
                            kFile,     std::string(kFile) + kColor,
                            kConvPath, std::string(kFile) + kColor};
    if (selector < 5) {
        files[selector] = input;
    } else {
        std::vector<std::string> parts = Split(input);
        for (std::size_t i = 0; i < parts.size() && i < 6; ++i) {
            files[i] = parts[i];
        }
    }
    server.Put(server.DataPath("curparam.txt"), files[0]);
    server.Put(server.DataPath("ccoopt.txt"), files[1]);
    server.Put(server.DataPath("fileopt.txt"), files[2]);
    server.Put(server.ProfilePath("A"), files[3]);
    server.Put(server.DataPath("convpath.txt"), files[4]);
    server.Put(server.ProfilePath("B"), files[5]);

    // Each reader on its own file.
    static const char* const kReaders[] = {"curparam.txt", "ccoopt.txt", "fileopt.txt"};
    for (int reader = 0; reader < 3; ++reader) {
        std::unique_ptr<QOR_FileStream> stream(server.OpenDataStream(kReaders[reader]));
        if (stream == nullptr) {
            std::abort();
        }
        if (reader == 0) {
            QOR_CurparamData curparam;
            curparam.Read(*stream);
            CheckNames(curparam);
        } else if (reader == 1) {
            QOR_JobProfileOptions profile;
            profile.colorCorrection.Read(*stream);
            CheckOptions(profile);
        } else {
            QOR_FileOptions options;
            options.Read(*stream);
        }
    }

    // The whole load.
    std::unique_ptr<QOR_Parameters> parameters = LoadParameters(&server);
    if (parameters == nullptr) {
        std::abort(); // curparam.txt is there
    }
    if (parameters->JobProfileCount() != parameters->Curparam().ProfileCount() + 1) {
        std::abort();
    }
    CheckNames(parameters->Curparam());
    for (int i = 0; i < parameters->JobProfileCount(); ++i) {
        CheckOptions(*parameters->JobProfile(i));
    }
    QOR_Parameters copy(*parameters);
    if (copy.JobProfileCount() != parameters->JobProfileCount()) {
        std::abort();
    }

    LoadPathConversions(&server);
    char path[kServerPathCapacity] = "Vol:Images:a:b.tif";
    MapServerPath(&server, path, 0);
    return 0;
}
