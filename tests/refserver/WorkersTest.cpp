// `serve --workers 2`: two worker processes share one hot folder.
#include "RefServerTestKit.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

namespace {

const std::string kExe = QOR_REFSERVER_EXE;

// How many lines of the log name the job of a message name ("client/job").
int LinesAbout(const std::string& log, const std::string& messageName) {
    const std::string key = " job=" + messageName.substr(messageName.find('/') + 1) + " ";
    int count = 0;
    for (auto at = log.find(key); at != std::string::npos; at = log.find(key, at + 1)) {
        ++count;
    }
    return count;
}

// Jobs dropped while both workers run are each answered once: a reply and
// one log line each, one output each (a job done twice would leave a "-1"
// copy, as OVERWRITE is 0), nothing left in Data/tmp or either claim folder.
// Each worker did some of them.
TEST(RefServerWorkers, TwoWorkersAnswerEveryJobOnce) {
    constexpr int kJobs = 60;
    TempDir dir;
    ASSERT_EQ(std::system((kExe + " init '" + dir.Path() + "' > /dev/null").c_str()), 0);
    MakeDirs(dir / "out");
    WriteQuadrants(dir / "q.tif", 40, 20, 40);
    FILE* const out = ::popen(("echo $$; exec " + kExe + " serve '" + dir.Path() +
                               "' --poll-ms 20 --id t --workers 2 2>&1")
                                  .c_str(),
                              "r");
    ASSERT_NE(out, nullptr);
    pid_t pid = 0;
    ASSERT_EQ(std::fscanf(out, "%d", &pid), 1);
    for (int wait = 0; wait < 3000 && !(PathExists(dir / "Data/service/alive/t") &&
                                        PathExists(dir / "Data/service/alive/t-w2"));
         ++wait) { // a guard, not a limit
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    QOR_EndPointFile::ResetProcessStateForTesting();
    QOR_EndPointFile endpoint;
    ASSERT_EQ(endpoint.Connect((dir / "qorserver").c_str()), 0);
    std::vector<std::string> names;
    for (int i = 0; i < kJobs; ++i) {
        const TicketFields f{.pathIn = dir / "q.tif",
                             .pathOut = dir / ("out/o" + std::to_string(i)),
                             .overwrite = 0};
        char name[512] = {};
        ASSERT_EQ(endpoint.SendNamed(name, TicketText(f).c_str(), 1024), 0);
        names.push_back(name);
    }
    const auto start = std::chrono::steady_clock::now();
    for (const std::string& name : names) {
        QorReply reply;
        while (!ReceiveReply(endpoint, name, reply) &&
               std::chrono::steady_clock::now() - start < std::chrono::seconds(60)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_EQ(reply.status, 0) << name << ": " << reply.message;
    }
    ::kill(pid, SIGTERM);
    while (std::fgetc(out) != EOF) {
    }
    const int status = ::pclose(out);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const std::string log = ReadFile(dir / "Data/service/qor2/jobs.log");
    for (const std::string& name : names) {
        EXPECT_EQ(LinesAbout(log, name), 1) << name;
    }
    // Both took some (each line names its server).
    for (const char* server : {" server=t ", " server=t-w2 "}) {
        EXPECT_NE(log.find(server), std::string::npos) << server << "\n" << log;
    }
    EXPECT_EQ(FolderNames(dir / "out").size(), static_cast<std::size_t>(kJobs));
    EXPECT_TRUE(FolderNames(dir / "Data/tmp").empty());
    for (const char* claims : {"Data/claimed/t", "Data/claimed/t-w2"}) {
        EXPECT_EQ(FolderNames(dir / claims), std::vector<std::string>{".owner"}) << claims;
    }
}

} // namespace
