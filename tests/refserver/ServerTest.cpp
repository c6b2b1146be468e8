// The server's side of the hot folder, tested with the client's own endpoint,
// reply parser and configuration readers.
#include "RefServerTestKit.h"

#include "JobFile.h"
#include "Platform.h"
#include "QOR_Configuration.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string JobText(const std::string& clientId, const std::string& body) {
    return "VLMP\n1\n256\n" + clientId + "\nMon Jan  1 10:00:00 2024\nOrdoDesk Brisk\n" + body;
}

// ---- init: what the client reads of the published files

TEST(RefServerInit, PublishedFilesReadAsValidThroughTheClientReaders) {
    TempDir dir;
    std::string error;
    ASSERT_TRUE(InitServerTree(dir.Path(), error)) << error;
    QOR_EndPointFile endpoint;
    ASSERT_EQ(endpoint.Connect((dir / "qorserver").c_str()), 0);

    std::unique_ptr<QOR_Parameters> params = LoadParameters(&endpoint);
    ASSERT_NE(params, nullptr);
    EXPECT_EQ(LoadCurparam(&endpoint)->PathStyle(), 2);
    ASSERT_EQ(params->Curparam().ProfileCount(), 4);
    ASSERT_EQ(params->JobProfileCount(), 5);
    for (int i = 0; i < params->JobProfileCount(); ++i) {
        EXPECT_TRUE(params->JobProfile(i)->IsUsable()) << "profile " << i;
    }
    char name[32];
    char prefix[32];
    EXPECT_STREQ(params->Curparam().ProfileName(1, name, sizeof name), "Newsprint CMYK");
    EXPECT_STREQ(params->Curparam().ParameterNameA(0, prefix, sizeof prefix), "BRT");
    EXPECT_STREQ(params->Curparam().ParameterNameB(1, prefix, sizeof prefix), "ARC");

    // Outcomes and formats as the client predicts them, and as the server reads them.
    struct Row {
        int profile;
        int kind;
        int outcome;
        int format;
    };
    const Row rows[] = {{1, 1, 1, 0}, {2, 0, 2, 0},  {2, 1, 2, 0}, {3, 1, 1, 4},
                        {3, 2, 1, 4}, {4, 1, 10, 0}, {0, 2, 2, 0}};
    for (const Row& row : rows) {
        const QOR_JobProfileOptions* p = params->JobProfile(row.profile);
        int outcome = ProcessOutcome(p->colorCorrection, row.kind);
        EXPECT_EQ(outcome, row.outcome) << "profile " << row.profile << " kind " << row.kind;
        EXPECT_EQ(ResultFormat(p->fileOptions, outcome), row.format);
    }
    ServerProfile web;
    ASSERT_TRUE(LoadServerProfile(ServerFolders(dir.Path()), "Web RGB", web, error)) << error;
    EXPECT_EQ(web.outputs[1].code, 4);
    EXPECT_EQ(web.outputs[1].extension, "jpg");
    EXPECT_EQ(web.outputs[1].values[0], 85);
    EXPECT_EQ(web.modes[2], 2);
    EXPECT_EQ(web.cmykProfile, "cmyk");

    EXPECT_EQ(LoadPathConversions(&endpoint), 0);
    EXPECT_EQ(PathConversions().size(), 1u);
}

TEST(RefServerInit, KeepsEditedFilesAndRefusesUnknownProfiles) {
    TempDir dir;
    std::string error;
    ASSERT_TRUE(InitServerTree(dir.Path(), error));
    WriteFile(dir / "Data/ccoopt.txt", "edited\n");
    ASSERT_TRUE(InitServerTree(dir.Path(), error));
    EXPECT_EQ(ReadFile(dir / "Data/ccoopt.txt"), "edited\n");

    ServerProfile p;
    for (const char* bad : {"Nope", "../curparam.txt", "", "a/b"}) {
        EXPECT_FALSE(LoadServerProfile(ServerFolders(dir.Path()), bad, p, error)) << bad;
    }
}

// ---- the protocol

TEST(RefServerProtocol, ConnectMakesTheClientFolderAndDisconnectRemovesIt) {
    ServerSandbox box;
    std::string clientDir = box.Root() + "/Data/clients/" + box.endpoint.ClientId();
    EXPECT_TRUE(fs::is_directory(clientDir));
    EXPECT_EQ(box.endpoint.GetState(true), 2);
    EXPECT_EQ(box.endpoint.Disconnect(), 0);
    EXPECT_EQ(box.Serve(), 1);
    EXPECT_FALSE(fs::exists(clientDir));
    EXPECT_TRUE(fs::is_empty(box.Root() + "/Data/tmp"));
    EXPECT_NE(box.log.str().find("outcome=disconnect"), std::string::npos);
}

TEST(RefServerProtocol, RoundTripGivesFinishAndAPathTheClientFinds) {
    ServerSandbox box;
    TicketFields f = QuadrantTicket(box, "photo.tif");
    f.pathOut = box.Images() + "/Photo";
    std::string name = box.Send(TicketText(f));
    EXPECT_EQ(box.Serve(), 1);

    QorReply reply;
    std::string text;
    ASSERT_TRUE(box.Reply(name, reply, &text));
    EXPECT_EQ(reply.status, 0) << text;
    EXPECT_EQ(reply.pathStyle, 2);
    EXPECT_GT(reply.time1, 0);
    char path[kServerPathCapacity];
    std::strncpy(path, reply.outputPath, sizeof path - 1);
    path[sizeof path - 1] = '\0';
    ASSERT_EQ(MapServerPath(&box.endpoint, path, reply.pathStyle), 0) << path;
    EXPECT_EQ(std::string(path), box.Images() + "/Photo.tif");

    // One log line: time, client, job, outcome, duration.
    std::string log = box.log.str();
    EXPECT_NE(log.find(std::string("client=") + box.endpoint.ClientId()), std::string::npos);
    EXPECT_NE(log.find("outcome=finish ms="), std::string::npos);
    EXPECT_TRUE(PathExists(box.Root() + "/Data/service/qor2/jobs.log"));
}

TEST(RefServerProtocol, LockedJobWaitsForItsLock) {
    ServerSandbox box;
    std::string job = box.Root() + "/Data/tmp/01020304.5";
    WriteFile(job + ".lock", "");
    WriteFile(job, JobText(box.endpoint.ClientId(), "CONNECT"));
    EXPECT_EQ(box.Serve(), 0);
    EXPECT_TRUE(PathExists(job));
    std::remove((job + ".lock").c_str());
    EXPECT_EQ(box.Serve(), 1);
    EXPECT_FALSE(PathExists(job));
}

TEST(RefServerProtocol, FilesThatAreNoJobsAreSetAsideWithTheirReason) {
    const struct {
        const char* label;
        std::string text;
        const char* reason;
    } cases[] = {
        {"empty", "", "cut short"},
        {"plain text", "hello world\n", "cut short"},
        {"truncated header", "VLMP\n1\n256\n", "cut short"},
        {"wrong marker", "XXXX\n1\n256\nc\nd\np\nCONNECT", "VLMP"},
        {"unknown layout", "VLMP\n7\n256\nc\nd\np\nCONNECT", "layout"},
        {"client climbs out", "VLMP\n1\n256\n..\nd\np\nCONNECT", "client"},
        {"client with a slash", "VLMP\n1\n256\na/b\nd\np\nCONNECT", "client"},
        {"binary", std::string("\0\x01\x02VLMP\n", 8), "cut short"},
    };
    ServerSandbox box;
    int n = 0;
    for (const auto& c : cases) {
        std::string name = "bad" + std::to_string(n++);
        WriteFile(box.Root() + "/Data/tmp/" + name, c.text);
        EXPECT_EQ(box.Serve(), 1) << c.label;
        std::string aside = box.Root() + "/Data/rejected/" + name;
        EXPECT_TRUE(PathExists(aside)) << c.label;
        EXPECT_NE(ReadFile(aside + ".reason").find(c.reason), std::string::npos) << c.label;
        EXPECT_FALSE(PathExists(box.Root() + "/Data/tmp/" + name)) << c.label;
    }
    EXPECT_EQ(box.server.Totals().rejected, n);
    // Nothing of it stops the server: a real job is still answered.
    TicketFields f;
    f.pathIn = box.Root() + "/missing.tif";
    f.pathOut = box.Root() + "/out";
    EXPECT_EQ(box.Run(f).status, -2);
}

TEST(RefServerProtocol, BadTicketsAreAnsweredWithErrorAndReason) {
    ServerSandbox box;
    std::string good = box.Images() + "/q.tif";
    WriteQuadrants(good, 40, 20, 40);
    std::string garbage = box.Images() + "/garbage.tif";
    WriteFile(garbage, "II*\0 this is no image at all");
    TicketFields base;
    base.pathIn = good;
    base.pathOut = box.Images() + "/out";
    std::string full = TicketText(base);

    const struct {
        const char* label;
        std::string body;
        const char* words;
    } cases[] = {
        {"cut after ten lines", full.substr(0, full.find("SCALEY")), "no SCALEY"},
        {"not a number",
         [&] {
             std::string b = full;
             b.replace(b.find("TOP: "), 5, "TOP: x");
             return b;
         }(),
         "TOP"},
        {"twice", full + "RESX: 10\n", "twice"},
        {"unknown word", "PRINT\n", "neither"},
        {"missing input",
         [&] {
             TicketFields f = base;
             f.pathIn = box.Images() + "/none.tif";
             return TicketText(f);
         }(),
         "not found"},
        {"unreadable input",
         [&] {
             TicketFields f = base;
             f.pathIn = garbage;
             return TicketText(f);
         }(),
         "cannot be read"},
        {"unknown profile",
         [&] {
             TicketFields f = base;
             f.profile = "Nope";
             return TicketText(f);
         }(),
         "unknown profile"},
        {"crop outside",
         [&] {
             TicketFields f = base;
             f.left = 5;
             return TicketText(f);
         }(),
         "outside"},
        {"zero resolution",
         [&] {
             TicketFields f = base;
             f.res = 0;
             return TicketText(f);
         }(),
         "resolution"},
        {"output folder missing",
         [&] {
             TicketFields f = base;
             f.pathOut = box.Images() + "/no/such/out";
             return TicketText(f);
         }(),
         "does not exist"},
        {"option not for gray",
         [&] {
             TicketFields f = base;
             f.processOpt = 9;
             return TicketText(f);
         }(),
         "does not apply"},
    };
    for (const auto& c : cases) {
        std::string name = box.Send(c.body);
        EXPECT_EQ(box.Serve(), 1) << c.label;
        QorReply reply;
        std::string text;
        ASSERT_TRUE(box.Reply(name, reply, &text)) << c.label;
        EXPECT_EQ(reply.status, -2) << c.label << "\n" << text;
        EXPECT_NE(std::string(reply.message).find(c.words), std::string::npos)
            << c.label << ": " << reply.message;
    }
    EXPECT_EQ(box.server.Totals().errors, static_cast<int>(std::size(cases)));
}

TEST(RefServerProtocol, TwoClientsInTheSameSecondAreBothAnswered) {
    TempDir dir;
    std::string error;
    ASSERT_TRUE(InitServerTree(dir.Path(), error));
    std::string in = dir / "q.tif";
    WriteQuadrants(in, 40, 20, 40);
    platform::SetTimeSourceForTesting([]() -> int64_t { return 1700000000; });

    QOR_EndPointFile::ResetProcessStateForTesting();
    QOR_EndPointFile a;
    a.SetSuffixForTesting(".11");
    ASSERT_EQ(a.Connect((dir / "qorserver").c_str()), 0);
    TicketFields fa;
    fa.pathIn = in;
    fa.pathOut = dir / "A";
    char nameA[512];
    ASSERT_EQ(a.SendNamed(nameA, TicketText(fa).c_str(), 1024), 0);

    QOR_EndPointFile::ResetProcessStateForTesting(); // another process, the same clock
    QOR_EndPointFile b;
    b.SetSuffixForTesting(".22");
    ASSERT_EQ(b.Connect((dir / "qorserver").c_str()), 0);
    TicketFields fb = fa;
    fb.pathOut = dir / "B";
    char nameB[512];
    ASSERT_EQ(b.SendNamed(nameB, TicketText(fb).c_str(), 1024), 0);
    platform::SetTimeSourceForTesting(nullptr);

    std::string jobA = std::strrchr(nameA, '/') + 1;
    std::string jobB = std::strrchr(nameB, '/') + 1;
    EXPECT_EQ(jobA.substr(0, 8), jobB.substr(0, 8)); // the same second

    std::ostringstream log;
    RefServer server(dir.Path(), log);
    EXPECT_EQ(server.RunOnce(), 4);
    for (auto [endpoint, name] : {std::pair{&a, nameA}, std::pair{&b, nameB}}) {
        char text[1024];
        int capacity = sizeof text;
        ASSERT_EQ(endpoint->ReceiveFor(name, text, capacity), 0) << name;
        QorReply reply;
        reply.status = 99;
        ASSERT_EQ(ParseReply(text, sizeof text, reply), 0);
        EXPECT_EQ(reply.status, 0) << text;
    }
    EXPECT_TRUE(PathExists(dir / "A.tif"));
    EXPECT_TRUE(PathExists(dir / "B.tif"));
}

TEST(RefServerProtocol, ReplyLinesAreNeverEmpty) {
    std::string text = ReplyText("job", 3, "error", "two\nlines", "");
    EXPECT_EQ(text, "job\n2\n3\nerror\ntwo lines\n-\n");
    EXPECT_EQ(ReplyText("j", 0, "finish", "", "/x"), "j\n2\n0\nfinish\nno message\n/x\n");
}

// ---- the program itself

#ifdef QOR_REFSERVER_EXE
TEST(RefServerProgram, InitThenServeOnceAnswersAJob) {
    TempDir dir;
    std::string exe = QOR_REFSERVER_EXE;
    ASSERT_EQ(std::system((exe + " init '" + dir.Path() + "' > /dev/null").c_str()), 0);
    QOR_EndPointFile::ResetProcessStateForTesting();
    QOR_EndPointFile endpoint;
    ASSERT_EQ(endpoint.Connect((dir / "qorserver").c_str()), 0);
    std::string in = dir / "q.tif";
    WriteQuadrants(in, 40, 20, 40);
    TicketFields f;
    f.pathIn = in;
    f.pathOut = dir / "out";
    char name[512];
    ASSERT_EQ(endpoint.SendNamed(name, TicketText(f).c_str(), 1024), 0);
    ASSERT_EQ(std::system((exe + " serve '" + dir.Path() + "' --once > /dev/null").c_str()), 0);
    char text[1024];
    int capacity = sizeof text;
    ASSERT_EQ(endpoint.ReceiveFor(name, text, capacity), 0);
    QorReply reply;
    ASSERT_EQ(ParseReply(text, sizeof text, reply), 0);
    EXPECT_EQ(reply.status, 0) << text;
}

TEST(RefServerProgram, StopsCleanlyOnSigterm) {
    TempDir dir;
    std::string exe = QOR_REFSERVER_EXE;
    ASSERT_EQ(std::system((exe + " init '" + dir.Path() + "' > /dev/null").c_str()), 0);
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        execl(exe.c_str(), exe.c_str(), "serve", dir.Path().c_str(), "--poll-ms", "20",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    // Wait until the server says it serves: its handlers are in place then.
    std::string seen;
    char c;
    while (seen.find("serving") == std::string::npos && read(out[0], &c, 1) == 1) {
        seen.push_back(c);
    }
    ASSERT_NE(seen.find("serving"), std::string::npos);
    kill(pid, SIGTERM);
    while (read(out[0], &c, 1) == 1) {
        seen.push_back(c);
    }
    close(out[0]);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_NE(seen.find("stopped"), std::string::npos);
}
#endif

} // namespace
