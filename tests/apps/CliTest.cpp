// The ordodesk command line as scripts use it: exit codes, standard error and
// the JSON output.
#include "OrdodeskRun.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <filesystem>
#include <utility>

using nlohmann::json;

namespace {

// Runs ordodesk with the arguments, in a folder of its own.
ProgramRun Ordodesk(const std::vector<std::string>& args) {
    TempDir dir;
    return Ordodesk(args, dir);
}

// A server tree with a configuration of version 258.
std::string ServerWithConfiguration(const TempDir& dir) {
    std::string server = MakeServerTree(dir.Path());
    WriteFile(dir / "Data/curparam.txt", "????\n2\n258\nlists\n1\nBright\n/p/rgb/Bright#1\n"
                                         "1\nPlain\n/p/gray/Plain\n0\n0\n0\n0\n0\nProfiles\n1\n"
                                         "/qor/profiles/Web\n");
    const std::string cc = "????\n1\n260\n0\n0\n0\n0\n0 0 2\nt1\nt2\nt3\nt4\nr1\nr2\n";
    const std::string fo = "????\n1\n260\nformats\n4\n4\n4\n0\n"
                           "f\n0\n0\n1\n2\n3\nf\n0\n0\n1\n2\n3\nf\n0\n0\n1\n2\n3\n";
    WriteFile(dir / "Data/ccoopt.txt", cc);
    WriteFile(dir / "Data/fileopt.txt", fo);
    WriteFile(dir / "Data/profiles/Web", fo + cc);
    WriteFile(dir / "Data/convpath.txt", "\"" + dir.Path() + "/out/\" \"Vol:Out:\"\n");
    return server;
}

// A text as the JSON output holds it when it is not UTF-8: {"bytes": base64}.
json Bytes(const std::string& text) {
    const std::string digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < text.size(); i += 3) {
        const std::string group = text.substr(i, 3) + std::string(2, '\0');
        const unsigned bits = static_cast<unsigned char>(group[0]) << 16 |
                              static_cast<unsigned char>(group[1]) << 8 |
                              static_cast<unsigned char>(group[2]);
        for (std::size_t k = 0; k < 4; ++k) {
            out += i + k <= text.size() ? digits[bits >> (18 - 6 * k) & 63] : '=';
        }
    }
    return {{"bytes", out}};
}

// The JSON ordodesk prints for the arguments; it must exit with 0.
json JsonOf(const std::vector<std::string>& args) {
    const ProgramRun run = Ordodesk(args);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return json::parse(run.out);
}

// Checks j at each JSON pointer the object names; what is not there is null.
void ExpectAt(const json& j, const json& values) {
    for (const auto& [pointer, value] : values.items()) {
        const json::json_pointer at(pointer);
        EXPECT_EQ(j.contains(at) ? j.at(at) : json(), value) << pointer;
    }
}

} // namespace

TEST(Cli, ServerConfigJsonHasEveryProfileInOrderAndMapPathPrintsTheLocalPath) {
    TempDir dir;
    std::string server = ServerWithConfiguration(dir);
    const json j = JsonOf({"server-config", server, "--json"});
    EXPECT_EQ(j["jobProfiles"].size(), 2u);
    ExpectAt(j, json::parse(R"({"/pathStyle": 2, "/fileVersion": 258, "/profileNames": ["Web"],
        "/parameterListA/0/raw": "Bright#1", "/parameterListA/0/name": "Bright",
        "/parameterListB/0/name": "", "/jobProfiles/0/name": null, "/jobProfiles/1/name": "Web",
        "/jobProfiles/1/usable": true, "/jobProfiles/1/fileOptions/formats/1/name": "JPEG",
        "/jobProfiles/1/outcomes/cmyk/outcome": 1, "/jobProfiles/1/outcomes/cmyk/formatName": "JPEG",
        "/pathConversions/0/second": "Vol:Out:"})"));
    // Reading only: nothing appears in the server's folders.
    EXPECT_TRUE(std::filesystem::is_empty(dir / "Data/tmp"));

    ProgramRun text = Ordodesk({"server-config", server});
    EXPECT_EQ(text.exitCode, 0);
    EXPECT_NE(text.out.find("Web"), std::string::npos);

    // map-path prints the local path or says there is none.
    WriteFile(dir / "out/a.tif", "x");
    ProgramRun run = Ordodesk({"map-path", server, "0", "Vol:Out:a.tif"});
    EXPECT_EQ(std::pair(run.exitCode, run.out), std::pair(0, dir / "out/a.tif" + "\n")) << run.err;
    EXPECT_EQ(Ordodesk({"map-path", server, "1", "out\\a.tif"}).out, dir / "out/a.tif" + "\n");
    ProgramRun none = Ordodesk({"map-path", server, "0", "Vol:Out:missing.tif"});
    EXPECT_EQ(std::pair(none.exitCode, none.out), std::pair(1, std::string()));
    EXPECT_NE(none.err.find("no local path"), std::string::npos);
    EXPECT_EQ(Ordodesk({"map-path", server, "7", "x"}).exitCode, 1);

    // Latin-1 names in the configuration files are printed as their bytes.
    WriteFile(dir / "Data/curparam.txt", "????\n2\n258\nlists\n1\nBright\xE9\n/p/Bright\xE9#1\n"
                                         "0\n0\n0\n0\n0\n0\nProfiles\n0\n");
    WriteFile(dir / "Data/convpath.txt", "\"/\xE9t\xE9/\" \"Vol:\xC9t\xE9:\"\n");
    ExpectAt(JsonOf({"server-config", server, "--json"}),
             {{"/parameterListA/0/raw", Bytes("Bright\xE9#1")},
              {"/parameterListA/0/name", Bytes("Bright\xE9")},
              {"/pathConversions/0",
               {{"first", Bytes("/\xE9t\xE9/")}, {"second", Bytes("Vol:\xC9t\xE9:")}}}});
}

TEST(Cli, AMissingFolderIsNamedOnStandardError) {
    TempDir dir;
    std::string server = MakeServerTree(dir.Path());
    std::filesystem::remove_all(dir / "Data/tmp");
    ProgramRun run = Ordodesk({"server-config", server});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("Data/tmp"), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1);
    EXPECT_EQ(Ordodesk({"server-config", "noseparator"}).exitCode, 2);
    // The tree opens but has no configuration.
    std::filesystem::create_directories(dir / "Data/tmp");
    EXPECT_EQ(Ordodesk({"server-config", server}).exitCode, 1);
}

TEST(Cli, InspectReportsEveryFileInOrderAndRejectionsAreResults) {
    TempDir dir;
    WriteFile(dir / "a.pcd", std::string(2048, '\0') + "PCD_IPI" + std::string(16, '\0'));
    // The OPI name is octal-escaped Latin-1; so is the last file's name.
    WriteFile(dir / "opi.eps", "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 10 10\n"
                               "%%BeginOPI: 2.0\n%%ImageFileName: (Vol:Images:Ph\\351to.tif)\n"
                               "%%ImageInks: full_color\n%%EndOPI\n%%EOF\n");
    WriteFile(dir / "Caf\xE9", "not an image");
    ProgramRun run = Ordodesk({"inspect", "--json", "--accept-opi", dir / "a.pcd", dir / "missing",
                               dir / "opi.eps", dir.Path(), dir / "Caf\xE9"});
    // Files that cannot be read are named on standard error and make it 1.
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("missing: no such file"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("a folder, not a regular file"), std::string::npos) << run.err;
    json j = json::parse(run.out);
    ASSERT_EQ(j.size(), 5u);
    // Format 0x800, pixel type 0x2101.
    ExpectAt(j, json::parse(R"({"/0/reader": "Proxy_PCD", "/0/formatCode": 2048,
        "/0/pixelType": 8449, "/0/width": 3072, "/0/resolution": 768.0, "/1/accepted": false,
        "/1/reader": null, "/1/reason": "no such file", "/2/reader": "Proxy_EPS_OPI",
        "/2/colourModel": 11, "/3/reason": "a folder, not a regular file",
        "/4/reason": "no reader accepts this file", "/0/paths": null})"));
    ExpectAt(j, {{"/2/linkedName", Bytes("Vol:Images:Ph\xE9to.tif")},
                 {"/4/file", Bytes(dir / "Caf\xE9")}});

    ProgramRun text = Ordodesk({"inspect", dir / "a.pcd", dir / "missing"});
    EXPECT_EQ(text.exitCode, 1);
    EXPECT_EQ(text.out.find("missing"), std::string::npos) << text.out;
    EXPECT_NE(text.err.find("missing: no such file"), std::string::npos) << text.err;

    EXPECT_EQ(JsonOf({"inspect", "--json", dir / "opi.eps"})[0]["reader"], "Proxy_EPS_Std");
    EXPECT_NE(Ordodesk({"inspect"}).exitCode, 0); // no file: wrong arguments
    // The Photoshop paths of a real JPEG, as measured by another reader.
    if (!SharedTestData().empty()) {
        const auto grape =
            std::filesystem::path(SharedTestData()) / "clippaths/grape_with_path.jpg";
        ExpectAt(JsonOf({"inspect", "--json", grape.string()}), json::parse(R"({"/0/clippingPath":
            "Path 1", "/0/paths/0/knots": 45, "/0/paths/0/bbox": [100.6, 100.1, 756.5, 1699.9]})"));
    }
}

TEST(Cli, OrderFromPrintsTheRecordOfAPlacedImage) {
    // The shell's gray sample (400 x 400 pixels at 200 ppi) under a prefixed name.
    TempDir dir;
    WriteFile(dir / "s.ods", "samples " + (dir / "img") + "\n");
    const ProgramRun samples =
        Ordodesk({"run", dir / "s.ods", "--system-folder", dir / "sys", "--session", dir / "ses"});
    ASSERT_EQ(samples.exitCode, 0) << samples.err;
    const std::string image = dir / "ABCDEFG#Photo.tif";
    std::filesystem::copy_file(dir / "img/scan-gray.tif", image);
    // Format 0x100; the gray slot's default without a server: "Correction".
    const json order = JsonOf({"order-from", image, "--json"});
    ExpectAt(order, json::parse(R"({"/status": 1, "/statusFlags": ["ready"], "/outputName": "Photo",
        "/prefix": "ABCDE", "/imageClass": 1, "/pixelWidth": 400, "/pixelHeight": 400,
        "/formatCode": 256, "/resolution": 200.0, "/processCode": 1, "/processOption": 1,
        "/processText": "Correction"})"));
    ExpectAt(order, {{"/linkPath", image}, {"/sourcePath", image}});

    // With a server whose default profile corrects gray images with mode 0.
    std::string server = ServerWithConfiguration(dir);
    EXPECT_EQ(JsonOf({"order-from", image, "--server", server, "--json"})["processCode"], 4);

    ProgramRun text = Ordodesk({"order-from", image});
    EXPECT_EQ(text.exitCode, 0);
    EXPECT_NE(text.out.find("outputName       Photo"), std::string::npos);

    const std::string latin1 = dir / "ABCDEFG#Caf\xE9.tif";
    std::filesystem::copy_file(image, latin1);
    ExpectAt(JsonOf({"order-from", latin1, "--json"}),
             {{"/outputName", Bytes("Caf\xE9")}, {"/linkPath", Bytes(latin1)}});

    EXPECT_EQ(Ordodesk({"order-from", dir / "missing.tif"}).exitCode, 1);
    EXPECT_EQ(Ordodesk({"order-from", image, "--server", dir / "nowhere/qorserver"}).exitCode, 1);
    EXPECT_EQ(Ordodesk({"order-from", image, "--prefs", dir / "missing.opf"}).exitCode, 1);
}

// The host shell's JSON prints a text that is not UTF-8 (a Latin-1 folder
// name) in the bytes form, and the session goes on.
TEST(Cli, ShellJsonPrintsLatin1TextsAsBytes) {
    // Script lines after the samples are written into ${L}, the command, and
    // where its JSON holds ${L} followed by tail.
    const std::array<const char*, 4> cases[] = {
        {"new\nplace ${L}/photo-rgb.tif 0 0 100 100\n", "items --json", "/1/link",
         "/photo-rgb.tif"},
        {"answer ${L}\naction preferences\ndialog click \"Folder...\"\nok\n", "prefs --json",
         "/outFolder", ""},
    };
    for (const auto& [lines, command, pointer, tail] : cases) {
        SCOPED_TRACE(command);
        TempDir w;
        const std::string latin1 = w / "caf\xE9";
        WriteFile(w / "s.ods", "samples ${L}\n" + std::string(lines) + "echo ---json---\n" +
                                   command + "\necho ---end---\n");
        const ProgramRun run =
            Ordodesk({"run", w / "s.ods", "--set", "L=" + latin1, "--system-folder", w / "system",
                      "--session", w / "session"});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        const std::size_t a = run.out.find("---json---\n"), b = run.out.find("---end---\n");
        ASSERT_LT(a, b) << run.out;
        ExpectAt(json::parse(run.out.substr(a + 11, b - a - 11)),
                 {{pointer, Bytes(latin1 + tail)}});
    }
    // No JSON of the program is printed but through DumpJson.
    for (const auto& entry :
         std::filesystem::directory_iterator(SHELL_SCRIPTS_DIR "/../../../apps/ordodesk")) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "JsonOutput.cpp" ||
                    ReadFile(entry.path().string()).find(".dump(") == std::string::npos)
            << name;
    }
}

// A document made by a script, drawn as PNG pictures (a US Letter page at 144
// dpi: 1224 x 1584) and as PDF; bad options are refused and nothing is written.
TEST(Cli, RenderWritesPicturesAndPdfAndRefusesBadOptions) {
    TempDir dir;
    const std::string doc = dir / "d.odoc";
    WriteFile(dir / "s.ods", "samples ${D}/img\nnew --pages 2\n"
                             "place ${D}/img/photo-rgb.tif 36 36 200 150\nsave ${D}/d.odoc\n");
    const ProgramRun made = Ordodesk({"run", dir / "s.ods", "--set", "D=" + dir.Path(),
                                      "--system-folder", dir / "sys", "--session", dir / "ses"});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    const ProgramRun png =
        Ordodesk({"render", doc, "--page", "1", "--dpi", "144", "-o", dir / "p.png"});
    EXPECT_EQ(png.exitCode, 0) << png.err;
    EXPECT_NE(png.out.find("images drawn: 1"), std::string::npos) << png.out;
    EXPECT_EQ(ReadFile(dir / "p.png").substr(12, 12), "IHDR" + Be32(1224) + Be32(1584));
    EXPECT_EQ(Ordodesk({"render", doc, "--badges", "-o", dir / "all.png"}).exitCode, 0);
    EXPECT_TRUE(PathExists(dir / "all-1.png") && PathExists(dir / "all-2.png"));
    EXPECT_EQ(Ordodesk({"render", doc, "--pages", "2", "-o", dir / "d.pdf"}).exitCode, 0);
    EXPECT_EQ(ReadFile(dir / "d.pdf").substr(0, 5), "%PDF-");

    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"-o", dir / "q.gif"}, "must end in .png or .pdf"},
        {{"-o", dir / "p.png", "--page", "1"}, "p.png exists (--replace replaces it)"},
        {{"-o", dir / "all.png", "--pages", "1-"}, "all-1.png exists"},
        {{"-o", dir / "q.png", "--page", "1", "--pages", "1-2"}, "cannot be used together"},
        {{"-o", dir / "q.pdf", "--page", "3"}, "the document has no page 3"},
        {{"-o", dir / "q.png", "--dpi", "0"}, "--dpi must be between"},
        {{"-o", dir / "q.pdf", "--settings", dir / "none.plist"}, "none.plist"},
    };
    for (const auto& [args, says] : cases) {
        std::vector<std::string> line = {"render", doc};
        line.insert(line.end(), args.begin(), args.end());
        const ProgramRun run = Ordodesk(line);
        EXPECT_EQ(run.exitCode, 1) << says;
        EXPECT_NE(run.err.find(says), std::string::npos) << run.err;
    }
    EXPECT_FALSE(PathExists(dir / "q.png") || PathExists(dir / "q.pdf"));
    EXPECT_EQ(Ordodesk({"render", dir / "none.odoc", "-o", dir / "q.png"}).exitCode, 1);
    const ProgramRun replaced =
        Ordodesk({"render", doc, "--page", "2", "--replace", "-o", dir / "p.png"});
    EXPECT_EQ(replaced.exitCode, 0) << replaced.err;
}
