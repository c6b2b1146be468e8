#include "FolderEndPoint.h"
#include "Paths.h"
#include "Platform.h"
#include "QOR_EndPointFile.h"
#include "QOR_Stream.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <memory>
#include <regex>
#include <tuple>

namespace fs = std::filesystem;

namespace {

// A fixed clock, so that names made "in the same second" really are.
int64_t fixedNow = 0;

void SetModified(const std::string& path, int64_t t) {
    using namespace std::chrono;
    fs::last_write_time(path, file_clock::from_sys(sys_seconds(seconds(t))));
}

// The name part of a message name (clientId, separator, job name).
std::string JobName(const std::string& message) {
    return message.substr(message.rfind(kPathSeparator) + 1);
}
std::string Message(const QOR_EndPointFile& ep, const std::string& job) {
    return std::string(ep.ClientId()) + kPathSeparator + job;
}

const std::string kReply = "0\n2\nx\nfinish\nDone\n/o/a.tif\n";

struct EndPoint : ::testing::Test {
    void SetUp() override {
        QOR_EndPointFile::ResetProcessStateForTesting();
        fixedNow = 1700000000; // 2023-11-14
        platform::SetTimeSourceForTesting([] { return fixedNow; });
    }
    void TearDown() override {
        platform::SetTimeSourceForTesting(nullptr);
        QOR_EndPointFile::ResetProcessStateForTesting();
    }

    // An endpoint opened on the tree; a new process first when fresh.
    std::unique_ptr<QOR_EndPointFile> Opened(const char* suffix = nullptr, bool fresh = false) {
        if (fresh) {
            QOR_EndPointFile::ResetProcessStateForTesting();
        }
        auto ep = std::make_unique<QOR_EndPointFile>();
        if (suffix != nullptr) {
            ep->SetSuffixForTesting(suffix);
        }
        EXPECT_EQ(ep->Open(server.c_str()), 0);
        return ep;
    }

    // Places a reply for the endpoint's client under the given job name,
    // written ageSeconds before the clock's now (or at `when`).
    std::string PutReply(const QOR_EndPointFile& ep, const std::string& job,
                         const std::string& text, int64_t ageSeconds = 10, int64_t when = 0) {
        std::string path = clients + "/" + ep.ClientId() + "/" + job;
        WriteFile(path, text);
        SetModified(path, when != 0 ? when : fixedNow - ageSeconds);
        return path;
    }

    // Receives the reply to a job into text; cap is left as ReceiveFor leaves it.
    int Receive(QOR_EndPointFile& ep, const std::string& job, char* text, int capacity) {
        cap = capacity;
        return ep.ReceiveFor(Message(ep, job).c_str(), text, cap);
    }

    TempDir dir;
    std::string server = MakeServerTree(dir.Path()), tmp = dir / "Data/tmp",
                clients = dir / "Data/clients";
    int cap = 0;
};

} // namespace

TEST_F(EndPoint, RefusesPathsWithoutRootOrFolders) {
    QOR_EndPointFile ep;
    EXPECT_EQ(ep.Open("qorserver"), -1);
    EXPECT_EQ(ep.Connect("qorserver"), -1);
    EXPECT_STREQ(ep.ClientId(), "");
    EXPECT_EQ(ep.GetState(false), 0);
    char path[600];
    EXPECT_STREQ(ep.GetServerPath(path, sizeof path), "qorserver");
    // A path longer than the endpoint holds is refused, never cut.
    std::string longPath = dir.Path() + "/" + std::string(600, 'x');
    EXPECT_EQ(ep.Open(longPath.c_str()), -1);
    EXPECT_EQ(ep.OpenPath(longPath.c_str()), -1);

    TempDir bare;
    const std::string root = bare / "qorserver";
    WriteFile(root, "");
    EXPECT_EQ(ep.Open(root.c_str()), -1); // no Data/service
    MakeDirs(bare / "Data/service");
    EXPECT_EQ(ep.Open(root.c_str()), -1); // no Data/tmp
    MakeDirs(bare / "Data/tmp");
    EXPECT_EQ(ep.Open(root.c_str()), 0);
    EXPECT_EQ(ep.Connect(root.c_str()), -1); // no Data/service/qor2
    EXPECT_EQ(ep.GetState(false), 0);
    EXPECT_TRUE(FolderNames(bare / "Data/tmp").empty());
}

TEST_F(EndPoint, ConnectCloneAndDisconnectAndTheStateFollowsTheServer) {
    fs::remove(clients);
    QOR_EndPointFile ep;
    ASSERT_EQ(ep.ConnectPath(server.c_str()), 0);
    auto jobs = FolderNames(tmp);
    ASSERT_EQ(jobs.size(), 1u);
    std::string job = ReadFile(tmp + "/" + jobs[0]);
    EXPECT_TRUE(job.ends_with("OrdoDesk Brisk\nCONNECT")) << job;
    EXPECT_EQ(ep.GetState(false), 1); // the server has not made the clients folder yet
    MakeDirs(clients);
    EXPECT_EQ(ep.GetState(false), 2);
    EXPECT_EQ(ep.GetState(true), 2);
    fs::remove_all(dir / "Data/service");
    EXPECT_EQ(ep.GetState(false), 2);
    EXPECT_EQ(ep.GetState(true), 0);
    EXPECT_EQ(ep.GetState(false), 0);
    MakeDirs(dir / "Data/service/qor2");
    ASSERT_EQ(ep.Connect(server.c_str()), 0);
    // The suffix travels with a clone, but the message name does not.
    ASSERT_EQ(ep.Send("job", 1024), 0);
    std::unique_ptr<QOR_EndPoint> copy(ep.Clone());
    auto* file = dynamic_cast<QOR_EndPointFile*>(copy.get());
    ASSERT_NE(file, nullptr);
    char message[512];
    EXPECT_STREQ(file->GetMessageName(message, sizeof message), "");
    EXPECT_STREQ(file->ClientId(), ep.ClientId());
    EXPECT_STREQ(file->Suffix(), ep.Suffix());
    EXPECT_EQ(file->GetState(false), ep.GetState(false));
    QOR_EndPointFile other;
    other.Assign(ep);
    EXPECT_STREQ(other.ClientId(), ep.ClientId());
    // Any endpoint of the file kind can be assigned; another kind cannot.
    FolderEndPoint folder(dir.Path());
    EXPECT_THROW(folder.Assign(ep), const char*);
    other.Assign(folder); // another kind: nothing changes
    EXPECT_STREQ(other.ClientId(), ep.ClientId());
    // Disconnecting leaves state zero, even when the job cannot be written.
    ASSERT_EQ(ep.Disconnect(), 0);
    EXPECT_EQ(ep.GetState(false), 0);
    EXPECT_TRUE(std::ranges::any_of(FolderNames(tmp), [&](const std::string& name) {
        return ReadFile(tmp + "/" + name).ends_with("\nDECONNECT");
    }));
    ASSERT_EQ(ep.Connect(server.c_str()), 0);
    fs::remove_all(tmp);
    EXPECT_EQ(ep.Disconnect(), -5); // the lock file cannot be made
    EXPECT_EQ(ep.GetState(false), 0);
}

TEST_F(EndPoint, JobFileHasTheHeaderTheWholeBodyAndANameOfItsOwn) {
    auto ep = Opened();
    const std::string body = "P" + std::string(1999, 'b');
    char name[512] = "unchanged";
    ASSERT_EQ(ep->SendNamed(name, body.c_str(), 1024), 0);
    auto jobs = FolderNames(tmp);
    ASSERT_EQ(jobs.size(), 1u) << "the lock file must be gone";
    EXPECT_EQ(Message(*ep, jobs[0]), name);
    char message[512];
    EXPECT_STREQ(ep->GetMessageName(message, sizeof message), name);
    std::string job = ReadFile(tmp + "/" + jobs[0]);
    std::string head = "VLMP\n1\n256\n" + std::string(ep->ClientId()) + "\n";
    ASSERT_TRUE(job.starts_with(head));
    std::string stamp = job.substr(head.size(), 25);
    EXPECT_TRUE(std::regex_match(stamp, std::regex("[A-Z][a-z]{2} [A-Z][a-z]{2} [ 123][0-9] "
                                                   "[0-2][0-9]:[0-5][0-9]:[0-6][0-9] [0-9]{4}\n")))
        << stamp;
    EXPECT_EQ(job.substr(head.size() + 25), "OrdoDesk Brisk\n" + body);
    // Names made in one second take consecutive seconds.
    std::vector<int> seconds;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(ep->SendNamed(name, "x", 1024), 0);
        std::smatch m;
        const std::string sent = JobName(name);
        ASSERT_TRUE(std::regex_match(sent, m, std::regex("([0-9]{8})(\\.[0-9]{1,3})"))) << sent;
        EXPECT_EQ(m[2].str(), ep->Suffix());
        seconds.push_back(std::stoi(m[1].str().substr(6, 2)));
    }
    // The clock stood still: each job took the next second.
    EXPECT_EQ((seconds[1] - seconds[0] + 60) % 60, 1);
    EXPECT_EQ((seconds[2] - seconds[1] + 60) % 60, 1);
    EXPECT_EQ(FolderNames(tmp).size(), 4u);
    // Names never repeat when summer time ends. On 2023-10-29 in Berlin the clock goes back from
    // 03:00 to 02:00 at 01:00 UTC: a job sent by a new process at 02:30 summer time and one an hour
    // later, at 02:30 standard time, must not share a name.
    const char* previous = std::getenv("TZ");
    const std::string saved = previous != nullptr ? previous : "";
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    QOR_EndPointFile::ResetProcessStateForTesting();
    QOR_EndPointFile berlin;
    berlin.SetSuffixForTesting(".1");
    fixedNow = 1698539400; // 00:30 UTC, 02:30 summer time
    ASSERT_EQ(berlin.Open(server.c_str()), 0);
    char first[512], second[512];
    ASSERT_EQ(berlin.SendNamed(first, "a", 1024), 0);
    fixedNow += 3600; // 01:30 UTC, 02:30 standard time
    ASSERT_EQ(berlin.SendNamed(second, "b", 1024), 0);
    EXPECT_EQ(JobName(first).substr(0, 8), "29013001"); // standard time, day first: they differ
    EXPECT_EQ(JobName(second).substr(0, 8), "29023000");
    previous != nullptr ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ");
    tzset();
}

// The same client id and job name drawn again by a later run: another client's job lock, a reply, a
// reply lock or a job the caller knows of under that name keeps it from being used.
TEST_F(EndPoint, ANameInUseIsNotTaken) {
    auto probe = Opened(".3");
    char name[512];
    ASSERT_EQ(probe->SendNamed(name, "first job", 1024), 0);
    const std::string taken = JobName(name);
    // Two processes started alike in the same second never replace each other's jobs.
    auto second = Opened(".3", true);
    EXPECT_STREQ(second->ClientId(), probe->ClientId());
    ASSERT_EQ(second->SendNamed(name, "second job", 1024), 0); // under another name, then:
    EXPECT_TRUE(ReadFile(tmp + "/" + taken).ends_with("first job"));
    EXPECT_TRUE(ReadFile(tmp + "/" + JobName(name)).ends_with("second job"));
    fs::remove(tmp + "/" + taken);
    const std::string lock = tmp + "/" + taken + ".lock";
    const std::string reply = clients + "/" + probe->ClientId() + "/" + taken;
    for (const std::string& file : {lock, reply, reply + ".lock", std::string()}) {
        SCOPED_TRACE(file); // none: a job the caller knows of
        auto ep = Opened(".3", true);
        ASSERT_STREQ(ep->ClientId(), probe->ClientId());
        QOR_SendHooks hooks;
        if (file.empty()) {
            hooks.nameInUse = [&](const char* message) { return JobName(message) == taken; };
        } else {
            WriteFile(file, file == reply ? kReply : "");
        }
        ASSERT_EQ(ep->SendNamedWith(name, "mine", 1024, hooks), 0);
        EXPECT_NE(JobName(name), taken);
        EXPECT_EQ(PathExists(lock), file == lock); // another client's lock is left alone
        fs::remove(file);
    }
}

TEST_F(EndPoint, ReplyIsReadOnceCachedAndReleasedAndGivenWholeOrNotAtAll) {
    auto ep = Opened();
    const std::string job = "01020304.5", message = Message(*ep, job);
    char text[1024];
    EXPECT_EQ(Receive(*ep, job, text, sizeof text), ENOENT);
    const std::string path = PutReply(*ep, job, kReply, 0, 1600000000);
    ASSERT_EQ(Receive(*ep, job, text, sizeof text), 0);
    EXPECT_TRUE(std::string(text).starts_with(kReply + "1600000000\n")) << text;
    EXPECT_TRUE(PathExists(path)) << "the reply stays on disk until it is released";
    const std::string first = text;
    auto restarted = Opened(nullptr, true); // read before a restart of the host: read again
    ASSERT_EQ(restarted->ReceiveFor(message.c_str(), text, cap = sizeof text), 0);
    EXPECT_EQ(text, first);
    fs::remove(path); // the second call does not touch the disk
    ASSERT_EQ(Receive(*ep, job, text, sizeof text), 0);
    EXPECT_EQ(text, first);
    EXPECT_EQ(cap, static_cast<int>(sizeof text - first.size() - 1));
    // No room left over: refused.
    EXPECT_EQ(Receive(*ep, job, text, static_cast<int>(first.size()) + 1), -3);
    EXPECT_EQ(ep->ReleaseReply(job.c_str()), -3); // not the message name
    EXPECT_EQ(ep->ReleaseReply(message.c_str()), 0);
    EXPECT_EQ(ep->ReleaseReply(message.c_str()), -3);
    EXPECT_EQ(Receive(*ep, job, text, sizeof text), ENOENT);
    // Releasing a reply still on disk deletes it.
    const std::string again = PutReply(*ep, "job", "0\n2\nx\nerror\nFailed\n");
    ASSERT_EQ(Receive(*ep, "job", text, sizeof text), 0);
    ASSERT_TRUE(PathExists(again));
    ASSERT_EQ(ep->ReleaseReply(Message(*ep, "job").c_str()), 0);
    EXPECT_FALSE(PathExists(again));
    EXPECT_EQ(QOR_EndPointFile::CachedReplyCount(), 0u);

    // Line ends of every kind read alike; a reply being written (locked), cut or still growing is
    // neither given nor kept; a message over a thousand characters loses its tail but never spills
    // into the path; the times follow the lines even when the reply is cut.
    const std::string head = "0\n2\nx\nfinish\n",
                      longPath = "/out/" + std::string(300, 'p') + ".tif";
    const std::string m250 = std::string(250, 'm') + "\n", p250 = std::string(250, 'p') + "\n";
    const std::string t0 = "1700000000\n", t10 = "1699999990\n";
    const int incomplete = kQorReplyIncomplete;
    // Short lines whose newlines the capacity does not count.
    const std::string many = std::regex_replace(std::string(400, 'l'), std::regex("l"), "l\n");
    const struct {
        std::string reply;
        int64_t age;
        int result;
        std::string starts;
        int capacity = 1024;
    } cases[] = {
        {kReply, 0, 0, kReply + t0},
        {"0\r\n2\r\nx\r\nfinish\r\nDone\r\n/o/a.tif\r\n", 0, 0, kReply + t0},
        {"0\r2\rx\rfinish\rDone\r/o/a.tif\r", 0, 0, kReply + t0},
        {"\n\n0\n2\n\nx\nfinish\nDone\n/o/a.tif\n\n\n", 0, 0, kReply + t0},
        {"0\n2\nx\nfinish\nDone\n/o/a.tif", 10, 0, kReply + t10}, // settled without a line end
        {"half", 10, -5, "", 64},                                 // locked
        {"0\n2\nx\n", 10, incomplete, ""},                        // no status line
        {"0\n2\nx\nfini", 10, incomplete, ""},                    // status word cut
        {"0\n2\nx\nfinish\nDone\n", 10, incomplete, ""},          // no output path
        {"0\n2\nx\nfinish\nDone\n/o/a.t", 0, incomplete, ""},     // last line still growing
        {"0\n2\nx\nerror\nNo such profile\n", 0, 0,
         "0\n2\nx\nerror\nNo such profile\n"}, // an error needs no path
        {"0\n2\nx\nstop\nStopped", 10, 0, "0\n2\nx\nstop\nStopped\n"},
        {head + std::string(1100, 'm') + "\n" + longPath + "\n", 10, 0,
         head + std::string(1023, 'm') + "\n" + longPath + "\n" + t10, 4096},
        {head + m250 + p250 + std::string(250, 'q') + "\n", 0, 0, head + m250 + p250 + t0, 600},
        {std::string(2000, 'r'), 10, incomplete, ""},
        {many, 10, 0, ""},
        {many, 10, 0, "", 100},
        {kReply, 10, 0, "", 40},
        {kReply, 10, 0, "", 2},
        {"0\n2\n", 10, incomplete, "", 1}};
    int i = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(i);
        auto fresh = Opened(nullptr, true);
        const std::string name = "job" + std::to_string(i++);
        const std::string file = PutReply(*fresh, name, c.reply, c.age);
        if (c.result == -5) {
            WriteFile(file + ".lock", "");
        }
        std::vector<char> buffer(static_cast<std::size_t>(c.capacity) + 64, '\x7f');
        EXPECT_EQ(Receive(*fresh, name, buffer.data(), c.capacity), c.result);
        for (std::size_t b = static_cast<std::size_t>(c.capacity); b < buffer.size(); ++b) {
            ASSERT_EQ(buffer[b], '\x7f') << "wrote past its buffer at " << b;
        }
        const std::string got = buffer.data();
        EXPECT_LT(got.size(), static_cast<std::size_t>(c.capacity));
        EXPECT_TRUE(got.starts_with(c.starts)) << got;
        EXPECT_EQ(got.find('q'), std::string::npos) << got; // no line past the capacity
        EXPECT_TRUE(c.result == 0 || got.empty()) << got;
        // The long-line row: the capacity counts the text without newlines.
        EXPECT_TRUE(c.capacity != 4096 || cap == 4096 - 9 - 1023 - int(longPath.size())) << cap;
        EXPECT_EQ(QOR_EndPointFile::CachedReplyCount(), c.result == 0 ? 1u : 0u);
        EXPECT_EQ(ReadFile(file), c.reply);
        // What was read is served again from the cache in the same buffer.
        if (Receive(*fresh, name, buffer.data(), c.capacity) == 0) {
            EXPECT_EQ(got, buffer.data());
        }
    }
}

// A job that cannot be published whole is removed; one that was can be withdrawn while it waits.
TEST_F(EndPoint, AJobIsPublishedWholeAndWithdrawnOnlyWhileTheServerHasNotTakenIt) {
    EXPECT_EQ(QOR_EndPointFile().JobWaiting("c/01020304.5"), -1); // neither opened nor connected
    EXPECT_EQ(FolderEndPoint(dir.Path()).JobWaiting("c/01020304.5"), -1);
    auto ep = Opened();
    char name[512] = "", waiting[512], taken[512], locked[512];

    // The sender's record of the job cannot be written: the job never shows.
    QOR_SendHooks refuse;
    std::string seenLocked;
    refuse.beforePublish = [&](const char* message) {
        seenLocked = tmp + "/" + JobName(message) + ".lock";
        return !PathExists(seenLocked); // the job is still locked here
    };
    EXPECT_EQ(ep->SendNamedWith(name, "x", 1024, refuse), kQorSendRefused);
    EXPECT_TRUE(FolderNames(tmp).empty());

    // A full disk: the half-written job and its lock go, and the reason stays.
    platform::SetWriteFaultForTesting([](const char*) { return ENOSPC; });
    EXPECT_EQ(ep->SendNamed(name, "x", 1024), -4);
    platform::SetWriteFaultForTesting(nullptr);
    EXPECT_EQ(ep->LastSystemError(), ENOSPC);
    EXPECT_TRUE(FolderNames(tmp).empty());

    // A job waits in the hot folder, and can be withdrawn, only while no server has taken it.
    ASSERT_EQ(ep->SendNamed(waiting, "a", 1024), 0);
    ASSERT_EQ(ep->SendNamed(taken, "b", 1024), 0);
    ASSERT_EQ(ep->SendNamed(locked, "c", 1024), 0);
    fs::rename(tmp + "/" + JobName(taken), dir / "taken"); // a server took it
    WriteFile(tmp + "/" + JobName(locked) + ".lock", "");  // a sender stopped before unlocking
    EXPECT_EQ(std::tuple(ep->JobWaiting(waiting), ep->JobWaiting(locked), ep->JobWaiting(taken),
                         ep->JobWaiting(""), ep->JobWaiting(std::string(600, 'x').c_str())),
              std::tuple(1, 1, 0, -1, -1));

    EXPECT_EQ(ep->WithdrawJob(waiting), 0);
    EXPECT_EQ(ep->WithdrawJob(waiting), 0); // a caller stopped before it noted it asks again
    EXPECT_EQ(ep->WithdrawJob(taken), ENOENT);
    EXPECT_EQ(ep->PublishJob(taken), ENOENT);
    EXPECT_EQ(ep->PublishJob(locked), 0);
    EXPECT_EQ(FolderNames(tmp),
              (std::vector<std::string>{".withdrawn." + JobName(waiting), JobName(locked)}));
    ep->ForgetWithdrawnJob(waiting);
    EXPECT_EQ(FolderNames(tmp), std::vector<std::string>{JobName(locked)});
}

TEST_F(EndPoint, TheNewestHeartbeatTellsHowLongAgoAServerLived) {
    const std::string alive = dir / "Data/service/alive";
    const struct {
        const char* label;
        std::vector<std::pair<std::string, int64_t>> files; // name, age
        int found;
        int64_t age; // -1: not set
    } cases[] = {{"no folder", {}, 0, -1},
                 {"two servers", {{"a", 30}, {"b", 4}}, 1, 4},
                 {"a hidden file being written", {{"a", 30}, {".b.b.part", 1}}, 1, 30},
                 {"only a hidden file", {{".a.a.part", 1}}, 0, -1}};
    QOR_EndPointFile ep;
    int64_t age = -1;
    EXPECT_EQ(ep.ServerHeartbeat(fixedNow, age), -1); // not opened
    EXPECT_EQ(FolderEndPoint(dir.Path()).ServerHeartbeat(fixedNow, age), -1);
    ASSERT_EQ(ep.Open(server.c_str()), 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        fs::remove_all(alive);
        for (const auto& [name, seconds] : c.files) {
            MakeDirs(alive);
            WriteFile(alive + "/" + name, "qor-refserver " + name + " 1 0 idle\n");
            SetModified(alive + "/" + name, fixedNow - seconds);
        }
        age = -1;
        EXPECT_EQ(ep.ServerHeartbeat(fixedNow, age), c.found);
        EXPECT_EQ(age, c.age);
    }
}
