// The server's side of the hot folder, tested with the client's own endpoint,
// reply parser and configuration readers.
#include "RefServerTestKit.h"
#include "Volumes.h"

#include "JobFile.h"
#include "Platform.h"
#include "QOR_Configuration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <filesystem>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string kExe = QOR_REFSERVER_EXE;

std::string JobText(const std::string& clientId, const std::string& body) {
    return "VLMP\n1\n256\n" + clientId + "\nMon Jan  1 10:00:00 2024\nOrdoDesk Brisk\n" + body;
}

// How many lines of a log are about the job (with that outcome, when given).
int LinesAbout(const std::string& log, const std::string& job, const std::string& outcome = "") {
    const std::string key =
        " job=" + job + " " + (outcome.empty() ? "" : "outcome=" + outcome + " ");
    int count = 0;
    for (std::size_t at = log.find(key); at != std::string::npos; at = log.find(key, at + 1)) {
        ++count;
    }
    return count;
}

// Writes a file and sets its times that many seconds back.
void WriteOlder(const std::string& path, const std::string& bytes, int64_t seconds) {
    WriteFile(path, bytes);
    const struct timespec then = {static_cast<time_t>(std::time(nullptr) - seconds), 0};
    const struct timespec times[2] = {then, then};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

TEST(RefServerInit, PublishedFilesReadAsValidAndSurviveASecondInit) {
    ServerSandbox box; // made by init
    const auto params = LoadParameters(&box.endpoint);
    ASSERT_NE(params, nullptr);
    EXPECT_EQ(LoadCurparam(&box.endpoint)->PathStyle(), 2);
    ASSERT_EQ(params->Curparam().ProfileCount(),
              5); // and "OPI", whose third section the client passes over
    ASSERT_EQ(params->JobProfileCount(), 6);
    for (int i = 0; i < params->JobProfileCount(); ++i) {
        EXPECT_TRUE(params->JobProfile(i)->IsUsable()) << "profile " << i;
    }
    char name[32];
    EXPECT_STREQ(params->Curparam().ProfileName(1, name, sizeof name), "Newsprint CMYK");
    EXPECT_STREQ(params->Curparam().ParameterNameA(0, name, sizeof name), "BRT");
    EXPECT_STREQ(params->Curparam().ParameterNameB(1, name, sizeof name), "ARC");
    // Outcomes and formats as the client predicts them: profile, kind, outcome, format.
    const int rows[][4] = {{1, 1, 1, 0}, {2, 0, 2, 0},  {2, 1, 2, 0}, {3, 1, 1, 4},
                           {3, 2, 1, 4}, {4, 1, 10, 0}, {0, 2, 2, 0}};
    for (const auto& row : rows) {
        const QOR_JobProfileOptions* p = params->JobProfile(row[0]);
        const int outcome = ProcessOutcome(p->colorCorrection, row[1]);
        EXPECT_EQ(outcome, row[2]) << "profile " << row[0] << " kind " << row[1];
        EXPECT_EQ(ResultFormat(p->fileOptions, outcome), row[3]);
    }
    // ... and as the server reads them.
    ServerProfile web;
    std::string error;
    ASSERT_TRUE(LoadServerProfile(ServerFolders(box.Root()), "Web RGB", web, error)) << error;
    EXPECT_EQ(std::tuple(web.outputs[1].code, web.outputs[1].extension, web.outputs[1].values[0],
                         web.modes[2], web.opiFolder.empty()),
              std::tuple(4, "jpg", 85, 2, true));
    EXPECT_NE(web.cmykProfile.find("cmyk"), std::string::npos); // Ghostscript's, or libvips'
    ASSERT_TRUE(LoadServerProfile(ServerFolders(box.Root()), "OPI", web, error)) << error;
    EXPECT_EQ(web.opiFolder, box.Root() + "/Data/lowres");
    EXPECT_EQ(LoadPathConversions(&box.endpoint), 0);
    EXPECT_EQ(PathConversions().size(), 1u);
    // A second init keeps edited files.
    WriteFile(box.dir / "Data/ccoopt.txt", "edited\n");
    ASSERT_TRUE(InitServerTree(box.Root(), error));
    EXPECT_EQ(ReadFile(box.dir / "Data/ccoopt.txt"), "edited\n");
    // Unknown profiles are refused (the edited default no longer reads).
    for (const char* bad : {"Nope", "../curparam.txt", "", "a/b"}) {
        EXPECT_FALSE(LoadServerProfile(ServerFolders(box.Root()), bad, web, error)) << bad;
    }
}

// A locked job waits for its lock unless its sender was stopped. Files that
// are no jobs are set aside with their reason; they stop nothing: bad tickets
// after them are answered with an error and its reason.
TEST(RefServerProtocol, LockedJobsWaitAndNoJobsAndBadTicketsAreAnsweredWithTheirReason) {
    constexpr int64_t kOld = RefServer::kStaleLockSeconds + 60;
    constexpr int64_t kRecent = RefServer::kStaleLockSeconds - 60;
    const struct {
        const char* label;
        int64_t lockAge, jobAge;  // jobAge -1: no job file
        bool setAside, lockStays; // setAside: moved into Data/rejected, once
    } locks[] = {{"young locked job", 0, 0, false, true},
                 {"locked job unchanged for less than the limit", kRecent, kRecent, false, true},
                 {"old lock, job written lately", kOld, kRecent, false, true},
                 {"old job, lock made lately", kRecent, kOld, false, true},
                 {"old locked job", kOld, kOld, true, false},
                 {"young lock without its job", 0, -1, false, true},
                 {"old lock without its job", kOld, -1, false, false}};
    ServerSandbox box;
    // Another server's claim folder is never looked at, however old.
    const std::string otherClaim = box.Root() + "/Data/claimed/other/01020304.9";
    WriteOlder(otherClaim + ".lock", "", kOld);
    WriteOlder(otherClaim, JobText(box.endpoint.ClientId(), "CONNECT"), kOld);
    int n = 0;
    for (const auto& c : locks) {
        SCOPED_TRACE(c.label);
        const std::string name = "0102030" + std::to_string(n++) + ".5";
        const std::string job = box.Root() + "/Data/tmp/" + name;
        WriteOlder(job + ".lock", "", c.lockAge);
        if (c.jobAge >= 0) {
            WriteOlder(job, JobText(box.endpoint.ClientId(), "CONNECT"), c.jobAge);
        }
        EXPECT_EQ(box.Serve(), c.setAside ? 1 : 0);
        EXPECT_EQ(box.Serve(), 0);
        EXPECT_EQ(PathExists(job), c.jobAge >= 0 && !c.setAside);
        EXPECT_EQ(PathExists(job + ".lock"), c.lockStays);
        const std::string aside = box.Root() + "/Data/rejected/" + name;
        EXPECT_EQ(PathExists(aside), c.setAside);
        if (c.setAside) {
            EXPECT_EQ(ReadFile(aside + ".reason"), "its sender never unlocked it\n");
        }
        EXPECT_EQ(LinesAbout(box.log.str(), name), c.setAside ? 1 : 0) << box.log.str();
        EXPECT_EQ(LinesAbout(box.log.str(), name, "rejected"), c.setAside ? 1 : 0);
        std::remove((job + ".lock").c_str()); // published at last: a waiting job is taken then
        if (c.lockStays && c.jobAge >= 0) {
            EXPECT_EQ(box.Serve(), 1);
            EXPECT_FALSE(PathExists(job));
        }
    }
    EXPECT_TRUE(PathExists(otherClaim));
    EXPECT_TRUE(PathExists(otherClaim + ".lock"));

    const struct {
        const char* label;
        std::string text;
        const char* reason;
    } noJobs[] = {{"empty", "", "cut short"},
                  {"plain text", "hello world\n", "cut short"},
                  {"truncated header", "VLMP\n1\n256\n", "cut short"},
                  {"wrong marker", "XXXX\n1\n256\nc\nd\np\nCONNECT", "VLMP"},
                  {"unknown layout", "VLMP\n7\n256\nc\nd\np\nCONNECT", "layout"},
                  {"client climbs out", "VLMP\n1\n256\n..\nd\np\nCONNECT", "client"},
                  {"client with a slash", "VLMP\n1\n256\na/b\nd\np\nCONNECT", "client"},
                  {"binary", std::string("\0\x01\x02VLMP\n", 8), "cut short"}};
    for (const auto& c : noJobs) {
        SCOPED_TRACE(c.label);
        const std::string name = "bad" + std::to_string(n++);
        WriteFile(box.Root() + "/Data/tmp/" + name, c.text);
        EXPECT_EQ(box.Serve(), 1);
        const std::string aside = box.Root() + "/Data/rejected/" + name;
        EXPECT_TRUE(PathExists(aside));
        EXPECT_NE(ReadFile(aside + ".reason").find(c.reason), std::string::npos);
        EXPECT_FALSE(PathExists(box.Root() + "/Data/tmp/" + name));
    }
    // The old locked job was set aside too.
    EXPECT_EQ(box.server.Totals().rejected, 1 + static_cast<int>(std::size(noJobs)));
    TicketFields base = QuadrantTicket(box);
    const std::string full = TicketText(base);
    const auto edited = [&](const auto& edit) {
        TicketFields f = base;
        edit(f);
        return TicketText(f);
    };
    std::string notANumber = full;
    notANumber.replace(notANumber.find("TOP: "), 5, "TOP: x");
    const struct {
        const char* label;
        std::string body;
        const char* words;
    } cases[] = {
        {"cut after ten lines", full.substr(0, full.find("SCALEY")), "no SCALEY"},
        {"not a number", notANumber, "TOP"},
        {"twice", full + "RESX: 10\n", "twice"},
        {"unknown word", "PRINT\n", "neither"},
        {"missing input", edited([&](auto& f) { f.pathIn = box.Images() + "/none.tif"; }),
         "not found"},
        {"unknown profile", edited([](auto& f) { f.profile = "Nope"; }), "unknown profile"},
        {"crop outside", edited([](auto& f) { f.left = 5; }), "outside"},
        {"zero resolution", edited([](auto& f) { f.res = 0; }), "resolution"},
        {"output folder missing",
         edited([&](auto& f) { f.pathOut = box.Images() + "/no/such/out"; }), "does not exist"},
        {"option not for gray", edited([](auto& f) { f.processOpt = 9; }), "does not apply"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string message = box.Run(c.body, -2).message;
        EXPECT_NE(message.find(c.words), std::string::npos) << message;
    }
    EXPECT_EQ(box.server.Totals().errors, static_cast<int>(std::size(cases)));
}

TEST(RefServerClaims, ClaimNamesGiveTheJobBackAndNeverTakeANameInUse) {
    TempDir dir;
    for (const char* taken : {"a", "b~1", "c.target", "g.answered", "h.output"}) {
        WriteFile(dir / taken, "");
    }
    for (const char* job : {"a", "b", "b~1", "c", "d~2", "e.target", "~1", "f~", "g", "h",
                            "i.answered", "j.output"}) {
        const std::string claimed = ClaimName(dir.Path(), job);
        EXPECT_EQ(JobNameOf(claimed), job) << claimed;
        for (const char* end : {"", kOutputRecordEnd, kTargetRecordEnd, kAnsweredEnd}) {
            EXPECT_FALSE(PathExists(dir / (claimed + end))) << claimed << end;
        }
        EXPECT_FALSE(IsRecordName(claimed)) << claimed;
    }
}

TEST(RefServerClaims, ServersShareATreeButTwoOfOneIdNeverServeIt) {
    ServerSandbox box;
    std::ostringstream logA, logB, logAgain;
    RefServer a(box.Root(), logA, "a");
    RefServer b(box.Root(), logB, "b");
    RefServer again(box.Root(), logAgain, "a");
    std::string error;
    ASSERT_TRUE(a.Start(error)) << error;
    ASSERT_TRUE(b.Start(error)) << error;
    EXPECT_FALSE(again.Start(error));
    EXPECT_NE(error.find("--id"), std::string::npos) << error;

    const std::string ticket =
        TicketText({.pathIn = box.Root() + "/missing.tif", .pathOut = box.Root() + "/out"});
    const std::vector<std::string> names = {box.Send(ticket), box.Send(ticket), box.Send(ticket)};
    EXPECT_EQ(again.RunOnce(), 0); // refused: takes nothing
    EXPECT_NE(logAgain.str().find("serves this tree already"), std::string::npos);
    EXPECT_EQ(a.RunOnce() + b.RunOnce(), 3);
    EXPECT_EQ(box.endpoint.JobWaiting(names[0].c_str()), 0);
    for (const std::string& name : names) {
        QorReply reply;
        EXPECT_TRUE(box.Reply(name, reply)) << name;
        const std::string job = name.substr(name.rfind('/') + 1);
        EXPECT_EQ(LinesAbout(logA.str(), job) + LinesAbout(logB.str(), job), 1) << job;
    }
    for (const RefServer* s : {&a, &b}) {
        EXPECT_EQ(FolderNames(s->ClaimFolder()), std::vector<std::string>{".owner"});
        // Written at the start of the pass, idle again once the jobs are done.
        const std::string beat = ReadFile(s->HeartbeatFile());
        EXPECT_EQ(beat.rfind("qor-refserver " + s->Id() + " " + std::to_string(::getpid()), 0), 0u);
        EXPECT_TRUE(beat.ends_with(" idle\n")) << beat;
    }
    int64_t age = -1;
    EXPECT_EQ(box.endpoint.ServerHeartbeat(platform::CurrentTime(), age), 1);
    for (const char* bad : {"", "..", "a/b", "a:b"}) {
        EXPECT_FALSE(RefServer(box.Root(), logAgain, bad).Check(error)) << bad;
    }
    const int status =
        std::system((kExe + " serve '" + box.Root() + "' --once --id a > /dev/null 2>&1").c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
}

TEST(RefServerClaims, AJobThatCannotBeTakenOrReadIsLoggedOnceAndLeftAlone) {
    const struct {
        const char* label;
        mode_t tmpMode, jobMode;
        const char* outcome;
        const char* left; // where the job file stays
    } cases[] = {{"read-only hot folder", 0555, 0644, "outcome=claim-failed", "Data/tmp"},
                 {"unreadable job that cannot be set aside", 0777, 0000, "outcome=rejected",
                  "Data/claimed/s"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        ServerSandbox box;
        std::ostringstream log;
        RefServer server(box.Root(), log, "s");
        std::string error;
        ASSERT_TRUE(server.Start(error)) << error;
        const std::string tmp = box.dir / "Data/tmp", rejected = box.dir / "Data/rejected";
        const std::string job = tmp + "/01020304.5";
        const std::string clientDir = box.Root() + "/Data/clients/" + box.endpoint.ClientId();
        WriteFile(job, JobText(box.endpoint.ClientId(), TicketText(QuadrantTicket(box))));
        // Open to the unprivileged user wherever the job could leave a trace.
        for (const std::string& open :
             {box.Root(), box.Images(), server.ClaimFolder(), clientDir}) {
            ::chmod(open.c_str(), 0777);
        }
        ::chmod(job.c_str(), c.jobMode);
        ::chmod(rejected.c_str(), 0555);
        ::chmod(tmp.c_str(), c.tmpMode);
        {
            AsUnprivilegedUser user;
            ASSERT_TRUE(user.Active()) << "cannot act as an unprivileged user";
            for (int pass = 0; pass < 3; ++pass) {
                server.RunOnce();
            }
        }
        ::chmod(tmp.c_str(), 0755);
        ::chmod(rejected.c_str(), 0755);
        EXPECT_EQ(LinesAbout(log.str(), "01020304.5"), 1) << log.str();
        EXPECT_NE(log.str().find(c.outcome), std::string::npos) << log.str();
        EXPECT_TRUE(PathExists(box.Root() + "/" + c.left + "/01020304.5"));
        EXPECT_FALSE(PathExists(clientDir + "/01020304.5"));
        EXPECT_EQ(FolderNames(box.Images()), std::vector<std::string>{"quad.tif"});
    }
}

TEST(RefServerClaims, ARestartFinishesTheJobsLeftInTheClaimFolderOnce) {
    enum Job { kClaimed, kAnswered, kGone };
    enum Reply { kNoReply, kPublished, kLockLeft, kCutOff };
    // kWriting: hidden name recorded, half an output under it; kRecording: output written, its
    // target half recorded; kWritten: target recorded, output still under its hidden name;
    // kMoved: target recorded, output moved there.
    enum Output { kNothing, kWriting, kRecording, kWritten, kMoved };
    const struct {
        const char* label;
        Job job; // in the claim folder: taken, marked answered, or gone
        Reply reply;
        Output output;
        bool made, inputGone; // a file at the target before the restart; the input removed since
        int status;           // message nullptr: no reply to pick up
        const char* message;
        bool outputRemade;
    } cases[] = {
        {"nothing answered yet", kClaimed, kNoReply, kNothing, false, false, 0, "processed", 1},
        {"reply published", kClaimed, kPublished, kNothing, false, false, 0, "answered before", 0},
        {"output moved and recorded", kClaimed, kNoReply, kMoved, true, false, -1, "recorded", 0},
        {"output written, not moved", kClaimed, kNoReply, kWritten, true, false, 0, "processed", 1},
        {"reply write cut off", kClaimed, kCutOff, kNothing, false, false, 0, "processed", 1},
        {"input gone, half output", kClaimed, kNoReply, kWriting, false, true, -2, "not found", 0},
        {"target half recorded", kClaimed, kNoReply, kRecording, false, false, 0, "processed", 1},
        {"reply lock left", kAnswered, kLockLeft, kMoved, true, false, 0, "answered before", 0},
        {"picked up, target record left", kAnswered, kNoReply, kMoved, true, false, 0, nullptr, 0},
        {"answered and picked up", kAnswered, kNoReply, kNothing, true, false, 0, nullptr, 0},
        {"target record, job gone", kGone, kNoReply, kMoved, true, false, 0, nullptr, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        ServerSandbox box;
        TicketFields f = QuadrantTicket(box);
        const std::string id = box.server.Id(), client = box.endpoint.ClientId();
        const std::string name = "01020304.5", claimed = box.server.ClaimFolder() + "/" + name;
        const std::string clientDir = box.Root() + "/Data/clients/" + client;
        const std::string reply = clientDir + "/" + name;
        const std::string target = box.Images() + "/out.tif";
        // As an earlier process of this server named it.
        const std::string part = box.Images() + "/.out.tif." + id + ".1.part";
        // Hidden files of another server, writing into the same folders.
        const std::string other = id + "-other";
        WriteFile(box.Images() + "/.out.tif." + other + ".part", "");
        WriteFile(clientDir + "/." + name + "." + other + ".part", "");

        const std::string job = JobText(client, TicketText(f));
        const std::string cutPart = clientDir + "/." + name + "." + id + ".part";
        const std::string targetPart =
            box.server.ClaimFolder() + "/." + name + kTargetRecordEnd + "." + id + ".part";
        const bool published = c.reply == kPublished || c.reply == kLockLeft;
        // In the order an earlier process wrote them: whether, where, what.
        const std::tuple<bool, std::string, std::string> files[] = {
            {c.job == kClaimed, claimed, job},
            {c.job == kAnswered, claimed + kAnsweredEnd, job},
            {published, reply, ReplyText(name, 7, "finish", "answered before", target)},
            {c.reply == kLockLeft || c.reply == kCutOff, reply + ".lock", ""},
            {c.reply == kCutOff, reply, name + "\n2\n"},
            {c.reply == kCutOff, cutPart, name + "\n2\n3\n"},
            {c.made, target, "made before"},
            {c.output != kNothing, claimed + kOutputRecordEnd, part + "\n"},
            {c.output != kNothing && c.output != kMoved, part, "half an output"},
            {c.output == kRecording, targetPart, target + "\n"},
            {c.output == kWritten || c.output == kMoved, claimed + kTargetRecordEnd,
             TargetRecordText({target, part, "warning", "recorded"})}};
        for (const auto& [written, path, bytes] : files) {
            if (written) {
                WriteFile(path, bytes);
            }
        }
        if (c.inputGone) {
            std::remove(f.pathIn.c_str());
        }

        EXPECT_EQ(box.Serve(), c.job == kGone ? 0 : 1);
        QorReply r;
        std::string text;
        ASSERT_EQ(box.Reply(client + "/" + name, r, &text), c.message != nullptr);
        if (c.message != nullptr) {
            EXPECT_EQ(r.status, c.status) << text;
            EXPECT_NE(std::string(r.message).find(c.message), std::string::npos) << text;
            EXPECT_EQ(std::string(r.outputPath), c.inputGone ? f.pathIn : target);
        }
        // Answered in this run only when no reply was published before.
        const bool answeredNow = c.job == kClaimed && c.reply != kPublished;
        int answers = 0;
        for (const char* outcome : {"finish", "warning", "error"}) {
            answers += LinesAbout(box.log.str(), name, outcome);
        }
        EXPECT_EQ(answers, answeredNow ? 1 : 0) << box.log.str();
        EXPECT_EQ(FolderNames(box.server.ClaimFolder()), std::vector<std::string>{".owner"});
        // No lock, no hidden file of this server, nothing to keep the folder.
        EXPECT_EQ(FolderNames(clientDir),
                  std::vector<std::string>{"." + name + "." + other + ".part"});
        const bool targetThere = c.made || c.outputRemade;
        std::vector<std::string> images{".out.tif." + other + ".part"};
        images.insert(images.end(), targetThere ? 1 : 0, "out.tif");
        images.insert(images.end(), c.inputGone ? 0 : 1, "quad.tif");
        EXPECT_EQ(FolderNames(box.Images()), images);
        // Remade: a TIFF of this run, not what was there before.
        EXPECT_EQ(targetThere && ReadFile(target).substr(0, 2) == "II", c.outputRemade);
    }
}

// Clients write jobs while two or three servers serve the folder. The jobs of one client all ask
// for one output name with overwriting off, so the servers race for the free names too.
class RefServerShare : public ::testing::TestWithParam<int> {};
INSTANTIATE_TEST_SUITE_P(Servers, RefServerShare, ::testing::Values(2, 3));

TEST_P(RefServerShare, ServersLoseNoJobOfTwoClientsAndAnswerNoneTwice) {
    const int kServers = GetParam();
    // In the memory file system where there is one: forcing 400 outputs and
    // replies onto a disk would only make this slow.
    const char* const tmpdir = std::getenv("TMPDIR");
    const std::string savedTmpdir = tmpdir != nullptr ? tmpdir : "";
    if (fs::is_directory("/dev/shm")) {
        ::setenv("TMPDIR", "/dev/shm", 1);
    }
    TempDir dir;
    tmpdir != nullptr ? ::setenv("TMPDIR", savedTmpdir.c_str(), 1) : ::unsetenv("TMPDIR");
    std::string error;
    ASSERT_TRUE(InitServerTree(dir.Path(), error)) << error;
    const std::string in = dir / "in.tif";
    WriteQuadrants(in, 8, 8, 8);
    MakeDirs(dir / "out");
    constexpr int kClients = 2, kJobs = 200;
    const auto jobName = [](int n, int c) { // n in eight digits
        return std::to_string(100000000 + n).substr(1) + "." + std::to_string(c);
    };
    std::atomic<int> writing{kClients};
    auto client = [&](int c) {
        for (int n = 0; n < kJobs; ++n) {
            TicketFields f{.pathIn = in, .height = 1, .res = 8, .overwrite = c == 0 ? 0 : 1};
            f.pathOut = dir / (c == 0 ? "out/shared" : "out/own" + std::to_string(n));
            // Written under its lock file, as a client does.
            const std::string job = dir / ("Data/tmp/" + jobName(n, c));
            WriteFile(job + ".lock", "");
            WriteFile(job, JobText("client" + std::to_string(c), TicketText(f)));
            std::remove((job + ".lock").c_str());
        }
        --writing;
    };
    std::deque<std::ostringstream> logs;
    std::deque<RefServer> servers;
    std::vector<std::thread> threads;
    for (int i = 0; i < kServers; ++i) {
        RefServer* const s =
            &servers.emplace_back(dir.Path(), logs.emplace_back(), "s" + std::to_string(i));
        threads.emplace_back([&, s] {
            for (;;) {
                const bool last = writing.load() == 0;
                if (s->RunOnce() == 0) {
                    if (last) {
                        return;
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            }
        });
    }
    for (int c = 0; c < kClients; ++c) {
        threads.emplace_back(client, c);
    }
    for (std::thread& t : threads) {
        t.join();
    }
    std::string allLogs;
    for (const std::ostringstream& log : logs) {
        allLogs += log.str();
    }
    std::set<std::string> outputs;
    for (int c = 0; c < kClients; ++c) {
        const std::string replyDir = dir / ("Data/clients/client" + std::to_string(c));
        const std::vector<std::string> replies = FolderNames(replyDir);
        ASSERT_EQ(replies.size(), static_cast<std::size_t>(kJobs));
        for (int n = 0; n < kJobs; ++n) {
            const std::string name = jobName(n, c);
            EXPECT_EQ(LinesAbout(allLogs, name), 1) << name;
            ASSERT_TRUE(std::binary_search(replies.begin(), replies.end(), name)) << name;
            QorReply reply;
            const std::string text = ReadFile(replyDir + "/" + name);
            ASSERT_EQ(ParseReply(text.c_str(), static_cast<int>(text.size()) + 1, reply), 0);
            EXPECT_GE(reply.status, -1) << text;
            outputs.insert(reply.outputPath);
        }
    }
    EXPECT_EQ(outputs.size(), static_cast<std::size_t>(kClients * kJobs));
    EXPECT_EQ(FolderNames(dir / "out").size(), outputs.size());
    EXPECT_TRUE(FolderNames(dir / "Data/tmp").empty());
    for (const RefServer& s : servers) {
        EXPECT_EQ(FolderNames(s.ClaimFolder()), std::vector<std::string>{".owner"});
    }
}

TEST(RefServerProtocol, ReplyLinesAreNeverEmpty) {
    EXPECT_EQ(ReplyText("job", 3, "error", "two\nlines", ""), "job\n2\n3\nerror\ntwo lines\n-\n");
    EXPECT_EQ(ReplyText("j", 0, "finish", "", "/x"), "j\n2\n0\nfinish\nno message\n/x\n");
}

TEST(RefServerProgram, StopsCleanlyOnSigtermAndServesOnceWhenAsked) {
    TempDir dir;
    ASSERT_EQ(std::system((kExe + " init '" + dir.Path() + "' > /dev/null").c_str()), 0);
    // The shell tells its process id, which the server takes over.
    FILE* const out = ::popen(
        ("echo $$; exec " + kExe + " serve '" + dir.Path() + "' --poll-ms 20 --id t").c_str(), "r");
    ASSERT_NE(out, nullptr);
    pid_t pid = 0;
    ASSERT_EQ(std::fscanf(out, "%d", &pid), 1);
    ASSERT_GT(pid, 0);
    // Wait until the server says it serves: its handlers are in place then.
    std::string seen;
    for (int c; seen.find("serving") == std::string::npos && (c = std::fgetc(out)) != EOF;) {
        seen.push_back(static_cast<char>(c));
    }
    ASSERT_NE(seen.find("serving"), std::string::npos);
    const std::string beat = dir / "Data/service/alive/t";
    for (int wait = 0; wait < 6000 && !PathExists(beat); ++wait) { // a guard, not a limit
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(PathExists(beat));
    ::kill(pid, SIGTERM);
    for (int c; (c = std::fgetc(out)) != EOF;) {
        seen.push_back(static_cast<char>(c));
    }
    const int status = ::pclose(out);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_NE(seen.find("stopped"), std::string::npos);
    EXPECT_TRUE(FolderNames(dir / "Data/service/alive").empty()); // removed, nor a hidden one left

    QOR_EndPointFile::ResetProcessStateForTesting();
    QOR_EndPointFile endpoint;
    ASSERT_EQ(endpoint.Connect((dir / "qorserver").c_str()), 0);
    const TicketFields f{.pathIn = dir / "q.tif", .pathOut = dir / "out"};
    WriteQuadrants(f.pathIn, 40, 20, 40);
    char name[512];
    ASSERT_EQ(endpoint.SendNamed(name, TicketText(f).c_str(), 1024), 0);
    ASSERT_EQ(std::system((kExe + " serve '" + dir.Path() + "' --once > /dev/null").c_str()), 0);
    QorReply reply;
    std::string text;
    ASSERT_TRUE(ReceiveReply(endpoint, name, reply, &text));
    EXPECT_EQ(reply.status, 0) << text;
}

// Tickets that reach out of the server's volumes (here its tree alone) are
// answered with an error and touch nothing: paths outside, "..", symbolic
// links out (to a file or through a folder), a pipe, a device, over-long
// lines, control characters and binary garbage.
TEST(RefServerVolumes, HostileTicketsAreRefusedAndTouchNothingOutside) {
    ServerSandbox box;
    WriteFile(box.dir / "Data/volumes.txt", "## the tree alone\n");
    TempDir outside;
    const std::string secret = outside / "secret.tif";
    WriteQuadrants(secret, 8, 8, 80);
    const std::string before = ReadFile(secret);
    const std::string in = box.Images();
    fs::create_symlink(secret, in + "/link.tif");
    fs::create_directory_symlink(outside.Path(), in + "/door");
    ASSERT_EQ(::mkfifo((in + "/pipe.tif").c_str(), 0600), 0);
    const TicketFields good = QuadrantTicket(box);
    const struct {
        std::string pathIn, pathOut, reason;
    } kCases[] = {
        {secret, good.pathOut, "outside the volumes"},
        {in + "/../../" + fs::path(outside.Path()).filename().string() + "/secret.tif",
         good.pathOut, "\"..\""},
        {in + "/link.tif", good.pathOut, "symbolic link"},
        {in + "/door/secret.tif", good.pathOut, "outside the volumes"},
        {good.pathIn, in + "/door/out", "outside the volumes"},
        {good.pathIn, outside / "out", "outside the volumes"},
        {good.pathIn, in + "/../out", "\"..\""},
        {in + "/pipe.tif", good.pathOut, "not a plain file"},
        {"/dev/zero", good.pathOut, "outside the volumes"},
        {in + "/" + std::string(1100, 'x'), good.pathOut, "longer than 1024 bytes"},
        {in + "/a\tb.tif", good.pathOut, "control characters"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.pathIn.substr(0, 80) + " -> " + c.pathOut);
        TicketFields f = good;
        std::tie(f.pathIn, f.pathOut, f.delSrc) = std::tuple(c.pathIn, c.pathOut, 1);
        const QorReply reply = box.Run(f, -2);
        EXPECT_NE(std::string(reply.message).find(c.reason), std::string::npos) << reply.message;
    }
    std::string garbage;
    for (int i = 1; i < 2000; ++i) {
        garbage += static_cast<char>(i * 37 % 255 + 1);
    }
    box.Run("PROCESS\n" + garbage, -2);
    box.Run(garbage, -2);
    EXPECT_EQ(FolderNames(outside.Path()), std::vector<std::string>{"secret.tif"});
    EXPECT_EQ(ReadFile(secret), before);
    EXPECT_EQ(FolderNames(in),
              (std::vector<std::string>{"door", "link.tif", "pipe.tif", "quad.tif"}));
    box.Run(good); // what lies inside is served
}

// A folder swapped for a link after the check leads nowhere new: the job
// reads and writes what it opened; opened after the swap, it is refused.
TEST(RefServerVolumes, WhatWasCheckedIsWhatIsReachedEvenWhenSwappedAfterwards) {
    TempDir inside, outside;
    MakeDirs(inside / "job");
    WriteFile(inside / "job/in.tif", "checked");
    WriteFile(outside / "in.tif", "secret");
    const std::vector<std::string> volumes{fs::canonical(inside.Path()).string()};
    TicketPath in, out;
    std::string error;
    ASSERT_TRUE(in.Open(volumes, inside / "job/in.tif", true, error)) << error;
    ASSERT_TRUE(out.Open(volumes, inside / "job/out.tif", false, error)) << error;
    fs::rename(inside / "job", inside / "moved");
    fs::create_directory_symlink(outside.Path(), inside / "job");
    EXPECT_EQ(ReadFile(in.Path()), "checked");
    WriteFile(out.At("out.tif"), "result");
    EXPECT_EQ(ReadFile(inside / "moved/out.tif"), "result");
    EXPECT_EQ(FolderNames(outside.Path()), std::vector<std::string>{"in.tif"});
    TicketPath late;
    EXPECT_FALSE(late.Open(volumes, inside / "job/in.tif", true, error));
    EXPECT_NE(error.find("outside the volumes"), std::string::npos) << error;
}

// While serving, a job is taken as soon as its lock goes, long before the
// next look of a slow poll.
TEST(RefServerProgram, AJobIsTakenWhenItArrivesNotAtTheNextPoll) {
    ServerSandbox box;
    const TicketFields f = QuadrantTicket(box);
    std::atomic<bool> stop{false};
    std::thread serving([&] { box.server.Run(stop, 60000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // the first pass is done
    const std::string name = box.Send(TicketText(f));
    QorReply reply;
    const auto start = std::chrono::steady_clock::now();
    while (!box.Reply(name, reply) &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(10)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    stop = true;
    serving.join();
    EXPECT_EQ(reply.status, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

} // namespace
