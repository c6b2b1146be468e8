// Result pickup: replies in a server's folder tree, OPI low-res paths, content offset, relinks.
#include "OrdoDocumentKit.h"

using namespace ordokit;

namespace {

[[maybe_unused]] testing::Environment* const kVips =
    testing::AddGlobalTestEnvironment(new VipsEnvironment("document_tests"));

class PickupTest : public DocumentFixture {
protected:
    void SetUp() override {
        SetUpDocument(false);
        std::string why;
        ASSERT_TRUE(InitServerTree(root.Path(), why)) << why;
        serverPath = root / kServerAppName;
        ASSERT_EQ(endpoint.Open(serverPath.c_str()), 0);
        ASSERT_EQ(endpoint.Connect(serverPath.c_str()), 0);
        std::ostringstream serverLog; // CONNECT makes the client's folder
        ASSERT_EQ(RefServer(root.Path(), serverLog).RunOnce(), 1);
        ASSERT_TRUE(fs::is_directory(ReplyPath(endpoint.ClientId())));
        j1 = Job("job0001");
        j2 = Job("job0002");
        dockit::WriteTiff(original, 200, 100, 72);
        dockit::WriteTiff(processed, 100, 50, 72);
        image = PlaceAt(PMRect(50, 60, 150, 110), original);
        dockit::SetMatrix(image, PMMatrix::MakeScale(0.5, 0.5));
        SetOrder(image, kODStatusSent, j1);
        panel.push_back(image);
    }
    std::string Job(const char* name) const {
        return std::string(endpoint.ClientId()) + kPathSeparator + name;
    }
    static void SetOrder(const UIDRef& item, uint16_t status, const std::string& job) {
        OD_ProcData order;
        order.status = status;
        order.jobName = PMString(job);
        order.processCode = 1;
        order.outputName = PMString("photo");
        order.linkPath = PMString(LinkOf(item));
        Store(item, order);
    }
    std::string ReplyPath(const std::string& job) const {
        return (fs::path(root.Path()) / "Data" / "clients").string() + kPathSeparator + job;
    }
    // A reply as the reference server writes it (path style 2).
    void Reply(const std::string& job, const char* status, const std::string& message,
               const std::string& outputPath) const {
        WriteFile(ReplyPath(job), ReplyText(job, 3, status, message, outputPath));
    }
    int32_t Handle() { return HandleFinishedOrder(image, context); }
    // The result taken in one step as the idle pickup does; false: dropped as it clashes with redo.
    bool PickUpInOneStep() {
        db->BeginTransaction(PMString(kOrdoPickupStepKey));
        HandleFinishedOrder(image, context);
        return db->EndTransactionKeepingRedo();
    }
    // The saved document opened anew; the image (the item of the uid) and the panel on it.
    void Reopen(UID uid) {
        std::string why;
        db = DocumentFile::Open(PMString(saved), why);
        ASSERT_TRUE(db) << why;
        image = UIDRef(db.get(), uid);
        panel = {image};
    }

    TempDir root;
    std::string serverPath, j1, j2, saved = dir / "doc.odd";
    QOR_EndPointFile endpoint;
    UIDRef image;
    OD_PrefsData prefs;
    ordokit::RecordingLog log;
    std::vector<UIDRef> panel;
    OD_PickupContext context{
        .endpoint = &endpoint, .prefs = &prefs, .log = &log, .panelItems = &panel};
};

// Not waiting (the reply not even read), no reply yet, or one under its lock: nothing changes.
TEST_F(PickupTest, OnlyAnOrderWaitingForAnUnlockedReplyIsTouched) {
    const std::string before = dockit::Content(*db);
    EXPECT_NE(Handle(), 0);
    EXPECT_EQ(std::tuple(dockit::Content(*db), IsOrdoBusy()), std::tuple(before, false));
    SetOrder(image, kODStatusDone, j1);
    Reply(j1, "finish", "done", processed);
    EXPECT_EQ(Handle(), kODPickupNotWaiting);
    EXPECT_EQ(QOR_EndPointFile::CachedReplyCount(), 0u);
    SetOrder(image, kODStatusNone, "");
    EXPECT_EQ(Handle(), kODPickupNotWaiting);
    // A frame without records; no item at all.
    for (UIDRef item : {dockit::AddFrame(db.get(), PMRect(300, 300, 350, 350)), UIDRef()}) {
        EXPECT_EQ(HandleFinishedOrder(item, context), kODPickupNotWaiting);
    }
    SetOrder(image, kODStatusSent, j1);
    const std::string sent = dockit::Content(*db);
    Reply(j1, "warning", "written as photo_done.tif", processed);
    WriteFile(ReplyPath(j1) + ".lock", "");
    EXPECT_EQ(Handle(), -5);
    EXPECT_EQ(std::tuple(dockit::Content(*db), log.lines.empty()), std::tuple(sent, true));
    fs::remove(ReplyPath(j1) + ".lock"); // the server is done: the next pickup finishes it
    // A warning waits for nothing and logs its message once with the image.
    EXPECT_EQ(Handle(), 0);
    EXPECT_EQ(Linked(image), LinkStatus(processed, kODStatusReplyMinus1));
    EXPECT_EQ(log.lines,
              (std::vector<std::string>{"photo.tif: written as photo_done.tif",
                                        "photo.tif: processed, now linked to " + processed}));
    EXPECT_TRUE(log.busyWhileAppending);
}

TEST_F(PickupTest, EveryReplyThatCannotBeFinishedFailsTheOrderOnceWithItsReason) {
    // A path that fills the reply record may be cut from a longer one: never taken.
    const std::string deep = dir / (std::string(200, 'd') + "/" + std::string(200, 'e'));
    fs::create_directories(deep);
    const std::string cut = (deep + "/" + std::string(200, 'n')).substr(0, kODReplyPathMax);
    dockit::WriteTiff(cut, 100, 50, 72);
    fs::create_directory(dir / "folder.tif");
    // The reply's status and path, what the log says why, what the handler returns.
    const std::tuple<const char*, std::string, const char*, int32_t> cases[] = {
        {"error", original, "could not process the image: what the server says", 0},
        {"stop", processed, "stopped the job: what the server says", kODPickupFailed},
        {"Finish", processed, "stopped the job: what the server says", kODPickupFailed},
        {"finish", dir / "missing.tif", "cannot be found here", kODPickupFailed},
        {"warning", dir / "folder.tif", "cannot be read", kODPickupFailed},
        {"finish", cut, "too long", kODPickupFailed},
        {"finish", "", "cannot be found here", kODPickupFailed},
    };
    for (const auto& [status, path, reason, result] : cases) {
        SCOPED_TRACE(std::string(status) + " " + path.substr(0, 40));
        SetOrder(image, kODStatusSent, j1);
        OD_JobJournal::ForIdentityFolder().Remove(j1);
        endpoint.ReleaseReply(j1.c_str());
        log.lines.clear();
        Reply(j1, status, "what the server says", path);
        EXPECT_EQ(Handle(), result);
        EXPECT_EQ(Linked(image), LinkStatus(original, kODStatusReplyMinus2));
        EXPECT_EQ(Undo(image).savedStatus, 0);
        ASSERT_EQ(log.lines.size(), 1u);
        EXPECT_EQ(log.lines[0].rfind("photo.tif: ", 0), 0u) << log.lines[0];
        EXPECT_NE(log.lines[0].find(reason), std::string::npos) << log.lines[0];
        // Said once, it waits no more; the reply stays till a saved document holds the result.
        EXPECT_EQ(Handle(), kODPickupNotWaiting);
        EXPECT_EQ(std::tuple(log.lines.size(), fs::exists(ReplyPath(j1)), IsOrdoBusy()),
                  std::tuple(1u, true, false));
    }
    // A reply that stays cut short: waited for a while, then failed.
    SetOrder(image, kODStatusSent, j2);
    WriteFile(ReplyPath(j2), "job0002\n2\n");
    EXPECT_EQ(HandleFinishedOrder(image, context), kQorReplyIncomplete);
    fs::last_write_time(ReplyPath(j2), fs::file_time_type::clock::now() - std::chrono::minutes(1));
    EXPECT_EQ(HandleFinishedOrder(image, context), kODPickupFailed);
    EXPECT_NE(log.lines.back().find("cut short"), std::string::npos);
}

TEST_F(PickupTest, TheReplyStaysUntilASavedDocumentHoldsTheResult) {
    std::string why;
    ASSERT_EQ(DocumentFile::Save(db.get(), PMString(saved), why), kSuccess) << why;
    const UID sent = image.GetUID();
    Reply(j1, "finish", "done", processed);
    ASSERT_TRUE(PickUpInOneStep());
    EXPECT_EQ(std::tuple(Order(image).status, fs::exists(ReplyPath(j1))),
              std::tuple(kODStatusDone, true));

    // The host's Undo of the pickup puts back link and records in one step.
    ASSERT_TRUE(db->Undo());
    image = UIDRef(db.get(), sent);
    EXPECT_EQ(Linked(image), LinkStatus(original, kODStatusSent));
    EXPECT_EQ(Undo(image).savedStatus, 0);
    // While the user can redo it, the pickup leaves the order alone...
    const std::string undone = dockit::Content(*db);
    EXPECT_FALSE(PickUpInOneStep());
    EXPECT_EQ(std::tuple(dockit::Content(*db), db->CanRedo()), std::tuple(undone, true));
    // ...and Redo brings the result back.
    ASSERT_TRUE(db->Redo());
    EXPECT_EQ(Order(panel[0]).status, kODStatusDone);

    // Closed unsaved or lost in a crash: a new run takes the result from the record.
    NoteDocumentClosing(db.get());
    ASSERT_NO_FATAL_FAILURE(Reopen(sent));
    NoteDocumentOpened(db.get(), &log);
    EXPECT_EQ(Order(image).status, kODStatusSent);
    QOR_EndPointFile::ResetProcessStateForTesting();
    fs::remove(ReplyPath(j1));
    ASSERT_TRUE(PickUpInOneStep());
    EXPECT_EQ(LinkOf(image), processed);

    // Saved with the result: the reply is released, the record goes when the document closes.
    WriteFile(ReplyPath(j1), "the server's copy");
    ASSERT_EQ(DocumentFile::Save(db.get(), PMString(saved), why), kSuccess) << why;
    NoteDocumentSaved(db.get(), saved);
    EXPECT_FALSE(fs::exists(ReplyPath(j1)));
    OD_JobEntry entry;
    ASSERT_TRUE(OD_JobJournal::ForIdentityFolder().Find(j1, entry));
    EXPECT_TRUE(entry.saved && entry.released);
    NoteDocumentClosing(db.get());
    EXPECT_FALSE(OD_JobJournal::ForIdentityFolder().Find(j1, entry));
}

TEST_F(PickupTest, AResultSavedThenUndoneIsTakenAgainFromTheRecord) {
    std::string why;
    Reply(j1, "finish", "done", processed);
    const UID sent = image.GetUID();
    ASSERT_TRUE(PickUpInOneStep());
    const std::string unsaved = DocumentKey(db.get());
    ASSERT_EQ(DocumentFile::Save(db.get(), PMString(saved), why), kSuccess) << why;
    NoteDocumentSaved(db.get(), unsaved);
    EXPECT_FALSE(fs::exists(ReplyPath(j1))); // released

    ASSERT_TRUE(db->Undo());
    ASSERT_EQ(DocumentFile::Save(db.get(), PMString(saved), why), kSuccess) << why;
    NoteDocumentSaved(db.get(), saved);
    NoteDocumentClosing(db.get()); // the file holds the order Sent: the record stays
    QOR_EndPointFile::ResetProcessStateForTesting();

    ASSERT_NO_FATAL_FAILURE(Reopen(sent));
    EXPECT_EQ(Order(image).status, kODStatusSent);
    ASSERT_TRUE(PickUpInOneStep());
    EXPECT_EQ(Linked(image), LinkStatus(processed, kODStatusDone));
}

TEST_F(PickupTest, TheRelinkMovesByTheOffsetAndAFinishedOrderIsRelinkedDoneWithItsUndoRecord) {
    // The frame 20 pt left of the unscaled image, 10 pt above it, and past its far edges.
    UIDRef item = PlaceAt(PMRect(300, 60, 560, 180), original);
    dockit::SetMatrix(item, PMMatrix::MakeTranslation(20, 10));
    UIDRef made;
    ASSERT_TRUE(RelinkToProcessedFile(item, processed.c_str(), 1, 0, made));
    PMPoint corner = Box(made).LeftTop();
    Matrix(made).Transform(corner);
    const PMRect frame = FrameBox(made);
    EXPECT_NEAR(corner.X() - frame.Left(), 20.0, 1e-9);
    EXPECT_NEAR(corner.Y() - frame.Top(), 10.0, 1e-9);
    EXPECT_EQ(Undo(made).processedPlacement, PlacementOf(made));
    // A failed relink writes nothing.
    const std::string content = dockit::Content(*db);
    EXPECT_FALSE(RelinkToProcessedFile(image, (dir / "missing.tif").c_str(), 1, 0, made));
    EXPECT_FALSE(RelinkToProcessedFile(image, nullptr, 1, 0, made));
    EXPECT_EQ(std::tuple(made, dockit::Content(*db)), std::tuple(image, content));

    const UIDRef old = image;
    const auto area = VisibleArea(image);
    const OD_UndoPlacement before = PlacementOf(image);
    Reply(j1, "finish", "done", processed);

    EXPECT_EQ(Handle(), 0);
    EXPECT_NE(image.GetUID(), old.GetUID());
    EXPECT_EQ(Linked(image), LinkStatus(processed, kODStatusDone));
    EXPECT_EQ(log.lines,
              std::vector<std::string>{"photo.tif: processed, now linked to " + processed});
    // The reply stays until a saved document holds the result.
    EXPECT_EQ(std::tuple(panel, fs::exists(ReplyPath(j1)), IsOrdoBusy()),
              std::tuple(std::vector<UIDRef>{image}, true, false));

    // The processed file (already at 50 %) sits unscaled at the frame's corner.
    EXPECT_TRUE(SameArea(VisibleArea(image),
                         {area[0] * 0.5, area[1] * 0.5, area[2] * 0.5, area[3] * 0.5}, 1e-9));

    const OD_UndoData undo = Undo(image);
    EXPECT_EQ(std::tuple(undo.savedStatus, std::string(undo.otherFile), undo.originalPlacement,
                         undo.processedPlacement),
              std::tuple(kODStatusReady, original, before, PlacementOf(image)));
    EXPECT_EQ(Handle(), kODPickupNotWaiting);
}

TEST_F(PickupTest, PathsThatDoNotFitTheRelinkOrTheUndoRecordFailTheOrderUncut) {
    // A reply line holds 255 bytes: the long processed path comes from a deep OPI folder.
    std::string deep = UseOpi(prefs, DeepFolder(dir.Path(), kODPrefsPathSize - 61, 'd'), ".tif");
    const std::string name(kODRelinkPathMax - deep.size(), 'n'); // one byte too many
    Reply(j1, "finish", "done", "/srv/qor/out/" + name);
    dockit::WriteTiff(deep + "/" + name + ".tif", 100, 50, 72);
    EXPECT_EQ(Handle(), kODPickupFailed);
    EXPECT_EQ(Linked(image), LinkStatus(original, kODStatusReplyMinus2));
    prefs.SetOpiActive(false);

    // The original's path would not fit the undo record.
    const std::string longOriginal = DeepFolder(deep, kODUndoPathSize + 1, 'o') + "/photo.tif";
    dockit::WriteTiff(longOriginal, 200, 100, 72);
    UIDRef item = PlaceAt(PMRect(300, 60, 400, 110), longOriginal);
    SetOrder(item, kODStatusSent, j2);
    Reply(j2, "finish", "done", processed);
    EXPECT_EQ(HandleFinishedOrder(item, context), kODPickupFailed);
    EXPECT_EQ(LinkOf(item), longOriginal);
    ASSERT_EQ(log.lines.size(), 2u);
    EXPECT_NE(log.lines[1].find("260"), std::string::npos) << log.lines[1];
}

TEST_F(PickupTest, OpiResultsAreLookedForInTheLowResolutionFolder) {
    const std::string lowRes = UseOpi(prefs, dir / "lowres", ".tif");
    Reply(j1, "finish", "done", "/srv/qor/out/photo_lr");
    const std::string expected = lowRes + "/photo_lr.tif";

    EXPECT_EQ(Handle(), kODPickupNoResultFile); // not there yet
    dockit::WriteTiff(expected, 100, 50, 72);
    // Older than the reply: an earlier run's file.
    fs::last_write_time(expected, fs::last_write_time(ReplyPath(j1)) - std::chrono::hours(1));
    EXPECT_EQ(Handle(), kODPickupNoResultFile);
    EXPECT_EQ(Order(image).status, kODStatusSent);

    fs::last_write_time(expected, fs::last_write_time(ReplyPath(j1)));
    EXPECT_EQ(Handle(), 0);
    EXPECT_EQ(Linked(image), LinkStatus(expected, kODStatusDone));

    // A job sent with OPI off is picked up as it was sent, though OPI is on now.
    UIDRef plain = PlaceAt(PMRect(300, 160, 400, 210), original);
    SetOrder(plain, kODStatusSent, j2);
    // Job, server, no document, item, source or time; sent, not answered, released or saved.
    const OD_JobEntry sentWithoutOpi(j2, serverPath, "", 0, "", 0, OD_JobEntry::State::sent, false,
                                     false, 0, "");
    ASSERT_EQ(OD_JobJournal::ForIdentityFolder().Write(sentWithoutOpi), 0);
    Reply(j2, "finish", "done", processed);
    EXPECT_EQ(HandleFinishedOrder(plain, context), 0);
    EXPECT_EQ(LinkOf(plain), processed);

    // A low-resolution file that does not appear in the server's time fails the order.
    UIDRef item = PlaceAt(PMRect(300, 60, 400, 110), original);
    const std::string j3 = Job("job0003");
    SetOrder(item, kODStatusSent, j3);
    Reply(j3, "finish", "done", "/srv/qor/out/never");
    context.now = platform::CurrentTime() + context.waitLimitSeconds + 5;
    EXPECT_EQ(HandleFinishedOrder(item, context), kODPickupFailed);
    EXPECT_NE(log.lines.back().find("did not appear"), std::string::npos);
}

TEST(OpiLowResPath, SplitsTheServersPathByItsStyleAndRefusesWhatWouldBeCut) {
    const std::string f = std::string("lr") + kPathSeparator;
    const std::string e5 = "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9";
    const std::string n(kODOpiNameMax, 'n');
    // Folder, the server's path, its style, suffix, wanted ("": refused, emptied), buffer size.
    using Case = std::tuple<std::string, std::string, int, std::string, std::string, std::size_t>;
    const Case cases[] = {
        {"lr", "Server:Out:photo", 0, ".tif", f + "photo.tif", 512},
        {"lr", "Server:Out\\sub\\photo", 0, ".tif", f + "Out\\sub\\photo.tif", 512}, // ':' first
        {"lr", "Server\\Out\\photo", 0, ".tif", f + "photo.tif", 512},               // then '\'
        {"lr", "C:\\Out\\photo", 1, ".tif", f + "photo.tif", 512},                   // '\' first
        {"lr", "Server:photo", 1, ".tif", f + "photo.tif", 512},                     // then ':'
        {"lr", "/srv/out/photo", 2, ".tif", f + "photo.tif", 512},
        {"lr", "/srv/out\\photo", 2, ".tif", f + "out\\photo.tif", 512}, // '\' is part of a name
        {"lr", "C:\\Out\\photo", 7, ".tif", f + "photo.tif", 512},
        {"lr", "photo", 0, ".tif", f + ".tif", 512}, // no separator: the folder and the suffix
        {"lr", "photo", 2, ".eps", f + ".eps", 512},
        {"lr", "", 1, ".tif", f + ".tif", 512},
        {f, "/a/photo", 2, ".tif", f + "photo.tif", 512}, // no second separator
        {"lr", "/a/p", 2, ".tiffile", f + "p.tiff", 512}, // the suffix's first five characters
        {"lr", "/a/p", 2, e5 + "xy", f + "p" + e5, 512},
        {"lr", "/a/" + n, 2, ".tif", f + n + ".tif", 600},
        {"lr", "/a/" + n + "n", 2, "", "", 64}, // what would be cut is refused
        {"lr", "/a/" + std::string(60, 'n'), 2, ".tif", "", 64},
    };
    for (const auto& [folder, path, style, suffix, want, size] : cases) {
        SCOPED_TRACE(path + " style " + std::to_string(style));
        std::string out(size, 'x');
        EXPECT_EQ(MakeOpiLowResPath(folder.c_str(), path.c_str(), style, suffix.c_str(), out.data(),
                                    size),
                  !want.empty());
        EXPECT_EQ(out.c_str(), want);
    }
}

// What the file leaves out before the image moves it; one covering the frame stays at its corner.
TEST(ContentOffset, TheFileMovesByWhatItLeavesOutBeforeTheImage) {
    // The crop, the file's width and height, a tolerance (0: the default), the offset expected.
    const std::tuple<const char*, PMRect, double, double, double, double, double> cases[] = {
        {"the frame starts inside the image", PMRect(10, 5, 60, 40), 20, 10, 0, 0, 0},
        {"before it by less than the tolerance", PMRect(-1e-9, -1e-9, 60, 40), 20, 10, 0, 0, 0},
        {"covers the frame", PMRect(-10, -4, 90, 46), 100, 50, 0, 0, 0},
        {"covers it a pixel short", PMRect(-10, -4, 90, 46), 99.28, 49.28, 0, 0, 0},
        {"covers it a pixel long", PMRect(-10, -4, 90, 46), 100.72, 50.72, 0, 0, 0},
        {"covers it 2.8 short", PMRect(-10, -4, 90, 46), 97.2, 47.2, 0, 0, 0},
        {"a coarse output", PMRect(-10, -4, 90, 46), 96, 47.2, 72.0 / 15, 0, 0},
        {"the frame less its part before the image", PMRect(-10, -4, 90, 46), 90, 46, 0, 10, 4},
        {"the image alone", PMRect(-10, -4, 190, 96), 150, 80, 0, 10, 4},
        {"one axis before the image", PMRect(5, -4, 105, 96), 60, 80, 0, 0, 4},
    };
    for (const auto& [name, crop, width, height, tolerance, dx, dy] : cases) {
        SCOPED_TRACE(name);
        const PMPoint d = ComputeContentOffset(
            {crop, width, height, tolerance != 0 ? tolerance : kODCropTolerance});
        EXPECT_NEAR(d.X(), dx, 1e-12);
        EXPECT_NEAR(d.Y(), dy, 1e-12);
    }
}

} // namespace
