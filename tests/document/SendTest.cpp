// Sending placed images' orders, the sent stored back in one undo step; the resampling check.

#include "OrdoDocumentKit.h"

namespace {

using ordokit::ListOf;

class SendTest : public ordokit::DocumentFixture {
protected:
    void SetUp() override {
        SetUpDocument(true);
        dockit::WriteTiff(original, 40, 20, 72);
        for (int i = 0; i < 3; ++i) {
            items[i] = PlaceAt(PMRect(10 + 60 * i, 10, 50 + 60 * i, 30), original);
        }
    }
    OD_ProcData Order(uint16_t status, const char* job = "") const {
        OD_ProcData order;
        order.status = status;
        order.jobName = PMString(job);
        order.processCode = 1;
        order.outputName = PMString("photo");
        order.sourcePath = PMString(original);
        order.formatCode = 0x100;
        order.resolution = 72;
        return order;
    }
    void Store(int i, const OD_ProcData& order) const { ordokit::Store(items[i], order); }
    OD_ProcData Stored(int i) const { return ordokit::Order(items[i]); }
    UIDList All() const { return ListOf(db.get(), {items[0], items[1], items[2]}); }

    UIDRef items[3];
    RecordingEndPoint endpoint;
};

TEST_F(SendTest, OnlyReadyOrdersGoAndTheSentAreStoredInOneUndoStep) {
    OD_ProcData updated;
    EXPECT_EQ(SendOrder(UIDRef(db.get(), kInvalidUID), &endpoint, updated), -1);
    EXPECT_EQ(SendOrder(items[0], &endpoint, updated), -1); // status 0: not Ready
    EXPECT_TRUE(endpoint.bodies.empty());
    Store(0, Order(kODStatusReady));
    Store(1, Order(kODStatusDone));
    OD_ProcData tooLong = Order(kODStatusReadyAlt);
    tooLong.sourcePath = PMString("/" + std::string(600, 's'));
    Store(2, tooLong);
    std::vector<int> results;
    const int undoBefore = db->UndoCount();
    endpoint.answer = -4; // a failing server link: nothing is stored
    EXPECT_EQ(SendOrders(All(), &endpoint, &results), 0);
    EXPECT_EQ(std::tuple(results[0], db->UndoCount(), Stored(0)),
              std::tuple(-4, undoBefore, Order(kODStatusReady)));
    endpoint.answer = 0;
    endpoint.bodies.clear();

    // One order on its own: sent, but not stored.
    ASSERT_EQ(SendOrder(items[0], &endpoint, updated), 0);
    EXPECT_EQ(std::tuple(updated, Stored(0)),
              std::tuple(Order(kODStatusSent, "job0001"), Order(kODStatusReady)));
    ASSERT_EQ(endpoint.bodies.size(), 1u);
    EXPECT_NE(endpoint.bodies[0].find("PATHIN: " + original + "\n"), std::string::npos);
    endpoint.bodies.clear();

    EXPECT_EQ(SendOrders(All(), &endpoint, &results), 1);
    EXPECT_EQ(results, (std::vector<int>{0, -1, kODSendPathInTooLong}));
    EXPECT_EQ(db->UndoCount(), undoBefore + 1);
    EXPECT_EQ((std::vector{Stored(0), Stored(1), Stored(2)}),
              (std::vector{Order(kODStatusSent, "job0001"), Order(kODStatusDone), tooLong}));
    EXPECT_EQ(SendOrders(All(), &endpoint, &results), 0) << "sent orders are not sent again";
    EXPECT_EQ(endpoint.bodies.size(), 1u);
}

TEST_F(SendTest, OrdersThatCannotGoAndTooFewPixelsAreFoundBeforeAnythingIsSent) {
    // Two orders with one output, one that would take a placed file, one whose file is gone.
    const std::string other = dir / "photo-out.tif";
    dockit::WriteTiff(other, 40, 20, 72);
    const UIDRef placedOther = PlaceAt(PMRect(0, 60, 40, 80), other);
    OD_ProcData failed = Order(kODStatusReplyMinus2);
    failed.outputName = PMString("photo-out.tif");
    Store(0, Order(kODStatusReady));
    Store(1, Order(kODStatusReady));
    Store(2, failed);
    UIDList placed = All();
    placed.Append(placedOther);
    std::vector<OD_SendCheck> checks = CheckOrdersForSending(All(), placed);
    ASSERT_EQ(checks.size(), 3u);
    // The first one's output beside its source.
    EXPECT_EQ(std::tuple(checks[0].result, checks[0].outputPath, checks[1].result, checks[1].clash,
                         checks[2].result, checks[2].clash),
              std::tuple(0, dir / "photo-processed", kODSendSameOutput, "photo.tif",
                         kODSendSameOutput, "photo-out.tif"));
    EXPECT_EQ(SendRefusalText(checks[2]).rfind("photo.tif: ", 0), 0u);
    EXPECT_NE(SendRefusalText(checks[2]).find("photo-out.tif (photo-out.tif)"), std::string::npos);

    fs::remove(original);
    checks = CheckOrdersForSending(UIDList(items[0]), placed);
    ASSERT_EQ(checks.size(), 1u);
    EXPECT_EQ(checks[0].result, kODSendSourceMissing);
    EXPECT_NE(SendRefusalText(checks[0]).find("cannot be read: " + original), std::string::npos);
    EXPECT_TRUE(endpoint.bodies.empty());

    // A failed order is sent again under a new job.
    dockit::WriteTiff(original, 40, 20, 72);
    std::vector<int> results;
    EXPECT_EQ(SendOrders(UIDList(items[2]), &endpoint, &results), 1);
    EXPECT_EQ(Stored(2).status, kODStatusSent);

    // The resampling check reads the item's order.
    OD_PrefsData prefs;
    int factor = 0;
    EXPECT_EQ(CheckResampling(items[0], prefs, factor), kODResamplingTooSmall);
    EXPECT_EQ(factor, 54);
    EXPECT_EQ(ResamplingText(kODResamplingTooSmall, factor),
              "Insufficient number of pixels, the maximum scale factor is : 54 %");
    EXPECT_EQ(ResamplingText(kODResamplingTooBig, 120),
              "Too many pixels, the minimum scale factor is : 120 %");
    EXPECT_EQ(ResamplingText(kODResamplingUnknownRes, 0),
              "Cannot check image dimensions (OPI low res)");
    EXPECT_EQ(ResamplingText(kODResamplingOK, 0), "Dimensions are OK");
    EXPECT_EQ(CheckResampling(UIDRef(db.get(), kInvalidUID), prefs, factor), kODResamplingOK);
}

// Sends through a real hot folder; the server takes a job by moving it out of Data/tmp.
class SendRecordTest : public SendTest {
protected:
    void SetUp() override {
        SendTest::SetUp();
        server = MakeServerTree(root.Path());
        ASSERT_EQ(hotFolder.Connect(server.c_str()), 0);
        tmp = root / "Data/tmp";
        for (const auto& e : fs::directory_iterator(tmp)) { // no CONNECT in the way
            fs::remove(e.path());
        }
    }
    std::vector<std::string> Jobs() const { return FolderNames(tmp); }
    void ServerTakes() const {
        fs::create_directories(root / "taken");
        for (const std::string& job : Jobs()) {
            fs::rename(tmp + "/" + job, root / ("taken/" + job));
        }
    }
    int32_t SendAll(OD_SendReport* report = nullptr) {
        return SendOrders(All(), &hotFolder, nullptr, report);
    }

    TempDir root;
    std::string server, tmp;
    QOR_EndPointFile hotFolder;
};

TEST_F(SendRecordTest, AnOrderSentButShownReadyIsNeverSentTwice) {
    // Shown Ready again after the host's Undo of the send, or a crash before saving.
    for (const auto& [undo, taken] :
         {std::pair(true, true), {true, false}, {false, true}, {false, false}}) {
        SCOPED_TRACE(std::string(undo ? "undo" : "crash") + (taken ? ", taken" : ", waiting"));
        for (const OD_JobEntry& e : OD_JobJournal::ForIdentityFolder().List()) {
            OD_JobJournal::ForIdentityFolder().Remove(e.job);
        }
        Store(0, Order(kODStatusReady));
        const std::string saved = dir / "doc.odd";
        std::string why;
        ASSERT_EQ(DocumentFile::Save(db.get(), PMString(saved), why), kSuccess) << why;
        ASSERT_EQ(SendAll(), 1);
        const std::string first = Stored(0).jobName.GetUTF8String();
        if (taken) {
            ServerTakes();
        }
        if (undo) {
            ASSERT_TRUE(db->Undo());
        } else {
            if (!taken) {
                // Stopped after the job's record, before its lock went: never published.
                WriteFile(tmp + "/" + first.substr(first.rfind(kPathSeparator) + 1) + ".lock", "");
            }
            db = DocumentFile::Open(PMString(saved), why);
            ASSERT_TRUE(db) << why;
            for (UIDRef& item : items) {
                item = UIDRef(db.get(), item.GetUID());
            }
            ASSERT_EQ(Stored(0).status, kODStatusReady);
            // Opening the document finds the job again: Sent under it, published for the server.
            EXPECT_EQ(NoteDocumentOpened(db.get(), nullptr), 1);
            EXPECT_EQ(
                std::tuple(Stored(0).status, Stored(0).jobName.GetUTF8String(), Jobs().size()),
                std::tuple(kODStatusSent, first, taken ? 0u : 1u));
            ASSERT_TRUE(db->Undo()); // and should that be undone, the send finds it
        }
        ASSERT_EQ(Stored(0).status, kODStatusReady);

        OD_SendReport report;
        EXPECT_EQ(SendAll(&report), 1);
        EXPECT_EQ(Stored(0).status, kODStatusSent);
        if (taken) {
            // Waits for the job the server has: no new one.
            EXPECT_EQ(std::tuple(report.waiting, Stored(0).jobName.GetUTF8String(), Jobs().size()),
                      std::tuple(1, first, 0u));
        } else {
            // Taken back and sent once more: one job in the hot folder.
            EXPECT_EQ(std::tuple(report.sent, Jobs().size()), std::tuple(1, 1u));
            EXPECT_NE(Stored(0).jobName.GetUTF8String(), first);
            OD_JobEntry gone;
            EXPECT_FALSE(OD_JobJournal::ForIdentityFolder().Find(first, gone));
        }
        ServerTakes();
    }
}

TEST_F(SendRecordTest, AHotFolderThatRefusesJobsStopsTheBatchAndSaysWhy) {
    for (int i = 0; i < 3; ++i) {
        Store(i, Order(kODStatusReady));
    }
    // A full disk: nothing half-written is left, every order stays Ready.
    platform::SetWriteFaultForTesting([](const char* path) {
        return std::string(path).find("/Data/tmp/") != std::string::npos ? ENOSPC : 0;
    });
    OD_SendReport report;
    EXPECT_EQ(SendAll(&report), 0);
    platform::SetWriteFaultForTesting(nullptr);
    EXPECT_EQ(std::tuple(report.stopResult, report.systemError, report.notSent),
              std::tuple(-4, ENOSPC, 3));
    EXPECT_TRUE(Jobs().empty());
    EXPECT_EQ((std::vector{Stored(0).status, Stored(1).status, Stored(2).status}),
              std::vector<uint16_t>(3, kODStatusReady));
    EXPECT_TRUE(OD_JobJournal::ForIdentityFolder().List().empty());

    // The record of jobs out cannot be written: no job is published.
    platform::SetWriteFaultForTesting([](const char* path) {
        return std::string(path).find(kODJobFolderName) != std::string::npos ? EIO : 0;
    });
    EXPECT_EQ(SendAll(&report), 0);
    platform::SetWriteFaultForTesting(nullptr);
    EXPECT_EQ(std::pair(report.stopResult, report.systemError), std::pair(kODSendNoJournal, EIO));
    EXPECT_TRUE(Jobs().empty());

    // The folder takes jobs again: all three go, each once.
    EXPECT_EQ(SendAll(&report), 3);
    EXPECT_EQ(std::tuple(Jobs().size(), OD_JobJournal::ForIdentityFolder().List().size()),
              std::tuple(3u, 3u));
}

} // namespace
