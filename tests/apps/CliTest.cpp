// The ordodesk command line as scripts use it: exit codes, standard error and
// the JSON output.
#include "OrdodeskRun.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>

using nlohmann::json;

namespace {

using CliRun = ProgramRun;

// Runs ordodesk with the arguments, in a folder of its own.
CliRun Ordodesk(const std::vector<std::string>& args) {
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

// A text as the JSON output holds it: a string, or {"bytes": base64} for a
// text that is not UTF-8.
std::string TextOf(const json& j) {
    if (j.is_string()) {
        return j.get<std::string>();
    }
    const std::string digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (char c : j.at("bytes").get<std::string>()) {
        if (c == '=') {
            break;
        }
        bits = (bits << 6) | static_cast<unsigned>(digits.find(c));
        if ((count += 6) >= 8) {
            out += static_cast<char>((bits >> (count -= 8)) & 0xFF);
        }
    }
    return out;
}

} // namespace

TEST(Cli, ServerConfigJsonHasEveryProfileInOrder) {
    TempDir dir;
    std::string server = ServerWithConfiguration(dir);
    CliRun run = Ordodesk({"server-config", server, "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    json j = json::parse(run.out);
    EXPECT_EQ(j["pathStyle"], 2);
    EXPECT_EQ(j["fileVersion"], 258);
    EXPECT_EQ(j["profileNames"], json::array({"Web"}));
    EXPECT_EQ(j["parameterListA"][0]["raw"], "Bright#1");
    EXPECT_EQ(j["parameterListA"][0]["name"], "Bright");
    EXPECT_EQ(j["parameterListB"][0]["name"], "");
    ASSERT_EQ(j["jobProfiles"].size(), 2u);
    EXPECT_TRUE(j["jobProfiles"][0]["name"].is_null());
    EXPECT_EQ(j["jobProfiles"][1]["name"], "Web");
    const json& web = j["jobProfiles"][1];
    EXPECT_TRUE(web["usable"]);
    EXPECT_EQ(web["fileOptions"]["formats"][1]["name"], "JPEG");
    EXPECT_EQ(web["outcomes"]["cmyk"]["outcome"], 1);
    EXPECT_EQ(web["outcomes"]["cmyk"]["formatName"], "JPEG");
    EXPECT_EQ(j["pathConversions"][0]["second"], "Vol:Out:");
    // Reading only: nothing appears in the server's folders.
    EXPECT_TRUE(std::filesystem::is_empty(dir / "Data/tmp"));

    CliRun text = Ordodesk({"server-config", server});
    EXPECT_EQ(text.exitCode, 0);
    EXPECT_NE(text.out.find("Web"), std::string::npos);

    // Latin-1 names in the configuration files are printed as their bytes.
    WriteFile(dir / "Data/curparam.txt", "????\n2\n258\nlists\n1\nBright\xE9\n/p/Bright\xE9#1\n"
                                         "0\n0\n0\n0\n0\n0\nProfiles\n0\n");
    WriteFile(dir / "Data/convpath.txt", "\"/\xE9t\xE9/\" \"Vol:\xC9t\xE9:\"\n");
    CliRun latin1 = Ordodesk({"server-config", server, "--json"});
    ASSERT_EQ(latin1.exitCode, 0) << latin1.err;
    j = json::parse(latin1.out);
    EXPECT_EQ(j["parameterListA"][0]["raw"], json({{"bytes", "QnJpZ2h06SMx"}}));
    EXPECT_EQ(j["parameterListA"][0]["name"], json({{"bytes", "QnJpZ2h06Q=="}}));
    EXPECT_EQ(j["pathConversions"][0], json::parse(R"({"first": {"bytes": "L+l06S8="},
                                                       "second": {"bytes": "Vm9sOsl06To="}})"));
}

TEST(Cli, AMissingFolderIsNamedOnStandardError) {
    TempDir dir;
    std::string server = MakeServerTree(dir.Path());
    std::filesystem::remove_all(dir / "Data/tmp");
    CliRun run = Ordodesk({"server-config", server});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("Data/tmp"), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1);
    EXPECT_EQ(Ordodesk({"server-config", "noseparator"}).exitCode, 2);
    // The tree opens but has no configuration.
    std::filesystem::create_directories(dir / "Data/tmp");
    EXPECT_EQ(Ordodesk({"server-config", server}).exitCode, 1);
}

TEST(Cli, MapPathPrintsTheLocalPathOrSaysThereIsNone) {
    TempDir dir;
    std::string server = ServerWithConfiguration(dir);
    WriteFile(dir / "out/a.tif", "x");
    CliRun run = Ordodesk({"map-path", server, "0", "Vol:Out:a.tif"});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(run.out, dir / "out/a.tif" + "\n");
    CliRun relative = Ordodesk({"map-path", server, "1", "out\\a.tif"});
    EXPECT_EQ(relative.out, dir / "out/a.tif" + "\n");
    CliRun none = Ordodesk({"map-path", server, "0", "Vol:Out:missing.tif"});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_EQ(none.out, "");
    EXPECT_NE(none.err.find("no local path"), std::string::npos);
    EXPECT_EQ(Ordodesk({"map-path", server, "7", "x"}).exitCode, 1);
}

TEST(Cli, InspectReportsEveryFileInOrderAndRejectionsAreResults) {
    TempDir dir;
    WriteFile(dir / "a.pcd", std::string(2048, '\0') + "PCD_IPI" + std::string(16, '\0'));
    // The OPI name is octal-escaped Latin-1; so is the last file's name.
    WriteFile(dir / "opi.eps", "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 10 10\n"
                               "%%BeginOPI: 2.0\n%%ImageFileName: (Vol:Images:Ph\\351to.tif)\n"
                               "%%ImageInks: full_color\n%%EndOPI\n%%EOF\n");
    WriteFile(dir / "Caf\xE9", "not an image");
    CliRun run = Ordodesk({"inspect", "--json", "--accept-opi", dir / "a.pcd", dir / "missing",
                           dir / "opi.eps", dir.Path(), dir / "Caf\xE9"});
    // Files that cannot be read are named on standard error and make it 1.
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("missing: no such file"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("a folder, not a regular file"), std::string::npos) << run.err;
    json j = json::parse(run.out);
    ASSERT_EQ(j.size(), 5u);
    EXPECT_EQ(j[0]["reader"], "Proxy_PCD");
    EXPECT_EQ(j[0]["formatCode"], 0x800);
    EXPECT_EQ(j[0]["pixelType"], 0x2101);
    EXPECT_EQ(j[0]["width"], 3072);
    EXPECT_EQ(j[0]["resolution"], 768.0);
    EXPECT_FALSE(j[1]["accepted"]);
    EXPECT_TRUE(j[1]["reader"].is_null());
    EXPECT_EQ(j[1]["reason"], "no such file");
    EXPECT_EQ(j[2]["reader"], "Proxy_EPS_OPI");
    EXPECT_EQ(j[2]["linkedName"], json({{"bytes", "Vm9sOkltYWdlczpQaOl0by50aWY="}}));
    EXPECT_EQ(j[2]["colourModel"], 11);
    EXPECT_EQ(j[3]["reason"], "a folder, not a regular file");
    EXPECT_EQ(TextOf(j[4]["file"]), dir / "Caf\xE9");
    EXPECT_EQ(j[4]["reason"], "no reader accepts this file");

    CliRun text = Ordodesk({"inspect", dir / "a.pcd", dir / "missing"});
    EXPECT_EQ(text.exitCode, 1);
    EXPECT_EQ(text.out.find("missing"), std::string::npos) << text.out;
    EXPECT_NE(text.err.find("missing: no such file"), std::string::npos) << text.err;

    CliRun noOpi = Ordodesk({"inspect", "--json", dir / "opi.eps"});
    EXPECT_EQ(json::parse(noOpi.out)[0]["reader"], "Proxy_EPS_Std");
    EXPECT_NE(Ordodesk({"inspect"}).exitCode, 0); // no file: wrong arguments
}

TEST(Cli, OrderFromPrintsTheRecordOfAPlacedImage) {
    // The shell's gray sample (400 x 400 pixels at 200 ppi) under a prefixed name.
    TempDir dir;
    WriteFile(dir / "s.ods", "samples " + (dir / "img") + "\n");
    ASSERT_EQ(
        Ordodesk({"run", dir / "s.ods", "--system-folder", dir / "sys", "--session", dir / "ses"})
            .exitCode,
        0);
    const std::string image = dir / "ABCDEFG#Photo.tif";
    std::filesystem::copy_file(dir / "img/scan-gray.tif", image);
    CliRun run = Ordodesk({"order-from", image, "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    json j = json::parse(run.out);
    EXPECT_EQ(j["status"], 1);
    EXPECT_EQ(j["statusFlags"], json::array({"ready"}));
    EXPECT_EQ(j["outputName"], "Photo");
    EXPECT_EQ(j["prefix"], "ABCDE");
    EXPECT_EQ(j["linkPath"], image);
    EXPECT_EQ(j["sourcePath"], image);
    EXPECT_EQ(j["imageClass"], 1);
    EXPECT_EQ(j["pixelWidth"], 400);
    EXPECT_EQ(j["pixelHeight"], 400);
    EXPECT_EQ(j["formatCode"], 0x100);
    EXPECT_EQ(j["resolution"], 200.0);
    // The gray slot's default without a server: "Correction".
    EXPECT_EQ(j["processCode"], 1);
    EXPECT_EQ(j["processOption"], 1);
    EXPECT_EQ(j["processText"], "Correction");

    // With a server whose default profile corrects gray images with mode 0.
    std::string server = ServerWithConfiguration(dir);
    CliRun withServer = Ordodesk({"order-from", image, "--server", server, "--json"});
    ASSERT_EQ(withServer.exitCode, 0) << withServer.err;
    EXPECT_EQ(json::parse(withServer.out)["processCode"], 4);

    CliRun text = Ordodesk({"order-from", image});
    EXPECT_EQ(text.exitCode, 0);
    EXPECT_NE(text.out.find("outputName       Photo"), std::string::npos);

    const std::string latin1 = dir / "ABCDEFG#Caf\xE9.tif";
    std::filesystem::copy_file(image, latin1);
    CliRun named = Ordodesk({"order-from", latin1, "--json"});
    ASSERT_EQ(named.exitCode, 0) << named.err;
    EXPECT_EQ(json::parse(named.out)["outputName"], json({{"bytes", "Q2Fm6Q=="}}));
    EXPECT_EQ(TextOf(json::parse(named.out)["linkPath"]), latin1);

    EXPECT_EQ(Ordodesk({"order-from", dir / "missing.tif"}).exitCode, 1);
    EXPECT_EQ(Ordodesk({"order-from", image, "--server", dir / "nowhere/qorserver"}).exitCode, 1);
    EXPECT_EQ(Ordodesk({"order-from", image, "--prefs", dir / "missing.opf"}).exitCode, 1);
}

// The host shell's JSON prints a text that is not UTF-8 (a Latin-1 folder
// name) in the bytes form, and the session goes on.
TEST(Cli, ShellJsonPrintsLatin1TextsAsBytes) {
    // Script lines after the samples are written into ${L}, the command, and
    // where its JSON holds ${L} followed by tail.
    struct Case {
        const char *lines, *command, *pointer, *tail;
    };
    const Case cases[] = {
        {"new\nplace ${L}/photo-rgb.tif 0 0 100 100\n", "items --json", "/1/link",
         "/photo-rgb.tif"},
        {"answer ${L}\naction preferences\ndialog click \"Folder...\"\nok\n", "prefs --json",
         "/outFolder", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        TempDir w;
        const std::string latin1 = w / "caf\xE9";
        WriteFile(w / "s.ods", "samples ${L}\n" + std::string(c.lines) + "echo ---json---\n" +
                                   c.command + "\necho ---end---\n");
        const CliRun run = Ordodesk({"run", w / "s.ods", "--set", "L=" + latin1, "--system-folder",
                                     w / "system", "--session", w / "session"},
                                    w);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        const std::size_t a = run.out.find("---json---\n"), b = run.out.find("---end---\n");
        ASSERT_LT(a, b) << run.out;
        const json text =
            json::parse(run.out.substr(a + 11, b - a - 11)).at(json::json_pointer(c.pointer));
        EXPECT_TRUE(text.contains("bytes")) << text;
        EXPECT_EQ(TextOf(text), latin1 + c.tail);
    }
    // No JSON of the program is printed but through DumpJson.
    const std::filesystem::path sources =
        std::string(SHELL_SCRIPTS_DIR) + "/../../../apps/ordodesk";
    for (const auto& entry : std::filesystem::directory_iterator(sources)) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "JsonOutput.cpp" ||
                    ReadFile(entry.path().string()).find(".dump(") == std::string::npos)
            << name;
    }
}
