// Result pickup: the finished-order handler against replies in a server's
// folder tree, the OPI low-resolution path, the content offset, the relink
// to the processed file with its undo record, and the whole road of one
// order through the reference server.
#include "OD_Pickup.h"

#include "../host/AreaCheck.h"
#include "../host/DocumentTestKit.h"
#include "DocumentFile.h"
#include "DocumentModel.h"
#include "DocumentUtils.h"
#include "HostStrings.h"
#include "ICommand.h"
#include "IDataLink.h"
#include "IGeometry.h"
#include "IHierarchy.h"
#include "IOrdoData.h"
#include "IOrdoUndoData.h"
#include "ITransform.h"
#include "ImportUtils.h"
#include "OD_ActionUndoRedo.h"
#include "OD_DataAccessor.h"
#include "OD_Geometry.h"
#include "OD_JobJournal.h"
#include "OD_Jobs.h"
#include "OD_Preferences.h"
#include "ObjectModel.h"
#include "OrdoCommands.h"
#include "OrdoDocumentKit.h"
#include "Paths.h"
#include "Platform.h"
#include "QOR_EndPointFile.h"
#include "RefServer.h"
#include "ServerTree.h"
#include "StringTables.h"
#include "TempDir.h"
#include "VipsEnvironment.h"

#include <gtest/gtest.h>
#include <vips/vips8>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

using dockit::SameArea;
using dockit::VisibleArea;

namespace {

[[maybe_unused]] testing::Environment* const kVips =
    testing::AddGlobalTestEnvironment(new VipsEnvironment("document_tests"));

// A log that keeps what it was given.
struct RecordingLog : OD_Log {
    void Append(const char* line) override {
        lines.emplace_back(line);
        busyWhileAppending = busyWhileAppending && IsOrdoBusy();
    }
    void Show() override { ++shown; }
    std::vector<std::string> lines;
    int shown = 0;
    bool busyWhileAppending = true;
};

std::string LinkOf(const UIDRef& item) {
    return InterfaceOf<IDataLink>(item)->GetLongName().GetUTF8String();
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

using ordokit::Order;
using ordokit::Undo;

class PickupTest : public ::testing::Test {
protected:
    void SetUp() override {
        ordokit::RegisterOrdoDocument();
        QOR_EndPointFile::ResetProcessStateForTesting();
        SetOrdoBusy(false);

        std::string why;
        ASSERT_TRUE(InitServerTree(root.Path(), why)) << why;
        serverPath = root / kServerAppName;
        ASSERT_EQ(endpoint.Open(serverPath.c_str()), 0);
        ASSERT_EQ(endpoint.Connect(serverPath.c_str()), 0);
        std::ostringstream serverLog;
        RefServer server(root.Path(), serverLog);
        ASSERT_EQ(server.RunOnce(), 1); // CONNECT makes the client's folder
        clientsDir = (fs::path(root.Path()) / "Data" / "clients").string();
        ASSERT_TRUE(fs::is_directory(fs::path(clientsDir) / endpoint.ClientId()));
        j1 = std::string(endpoint.ClientId()) + kPathSeparator + "job0001";
        j2 = std::string(endpoint.ClientId()) + kPathSeparator + "job0002";

        db = DocumentUtils::NewDocument();
        original = dir / "photo.tif";
        dockit::WriteTiff(original, 200, 100, 72);
        processed = dir / "photo_done.tif";
        dockit::WriteTiff(processed, 100, 50, 72);
        // 50 % in a frame that shows all of it.
        image = Place(Frame(PMRect(50, 60, 150, 110)), original);
        Change([&] {
            InterfaceOf<ITransform>(image)->SetInnerToParentMatrix(PMMatrix::MakeScale(0.5, 0.5));
        });
        SetOrder(image, kODStatusSent, j1);

        context.endpoint = &endpoint;
        context.prefs = &prefs;
        context.log = &log;
        context.panelItems = &panel;
        panel.push_back(image);
    }
    void TearDown() override {
        SetOrdoListRebuildHook(nullptr);
        db.reset();
        HostStrings::Reset();
        QOR_EndPointFile::ResetProcessStateForTesting();
    }

    UIDRef Frame(const PMRect& bounds) const { return dockit::AddFrame(db.get(), bounds); }
    static UIDRef Place(const UIDRef& frame, const std::string& path) {
        return dockit::PlaceFile(frame, path);
    }
    void Change(const std::function<void()>& change) const { dockit::Change(db.get(), change); }
    static void SetOrder(const UIDRef& item, uint16_t status, const std::string& job) {
        OD_ProcData order;
        order.status = status;
        order.jobName = PMString(job);
        order.processCode = 1;
        order.outputName = PMString("photo");
        order.linkPath = PMString(LinkOf(item));
        ASSERT_EQ(OD_DataAccessor(item).Write(order), kSuccess);
    }
    // Job names as the endpoint gives them: the client's folder and the name.
    std::string ReplyPath(const std::string& job) const {
        return clientsDir + kPathSeparator + job;
    }
    // A reply as the reference server writes it (path style 2).
    void Reply(const std::string& job, const char* status, const std::string& message,
               const std::string& outputPath) const {
        WriteText(ReplyPath(job), ReplyText(job, 3, status, message, outputPath));
    }
    int32_t Handle() { return HandleFinishedOrder(image, context); }

    ordokit::ScopedSystemFolder systemFolder;
    TempDir dir;
    TempDir root;
    std::string serverPath;
    std::string clientsDir;
    std::string j1;
    std::string j2;
    QOR_EndPointFile endpoint;
    std::unique_ptr<IDataBase> db;
    std::string original;
    std::string processed;
    UIDRef image;
    OD_PrefsData prefs;
    RecordingLog log;
    std::vector<UIDRef> panel;
    OD_PickupContext context;
};

// ===================================================== the handler's faults

TEST_F(PickupTest, ADoneOrderIsLeftAlone) {
    SetOrder(image, kODStatusDone, j1);
    Reply(j1, "finish", "done", processed);
    const std::string before = dockit::Content(*db);
    EXPECT_EQ(Handle(), kODPickupNotWaiting);
    EXPECT_EQ(dockit::Content(*db), before);
    EXPECT_TRUE(fs::exists(ReplyPath(j1)));
    EXPECT_EQ(QOR_EndPointFile::CachedReplyCount(), 0u); // not even read
}

TEST_F(PickupTest, AnItemWithoutAnOrderRecordOrWithoutAnyRecordGivesMinusOne) {
    SetOrder(image, kODStatusNone, "");
    EXPECT_EQ(Handle(), kODPickupNotWaiting);
    UIDRef frame = Frame(PMRect(300, 300, 350, 350));
    UIDRef none(db.get(), frame.GetUID());
    EXPECT_EQ(HandleFinishedOrder(none, context), kODPickupNotWaiting);
    UIDRef invalid;
    EXPECT_EQ(HandleFinishedOrder(invalid, context), kODPickupNotWaiting);
}

TEST_F(PickupTest, NoReplyYetLeavesTheOrderSentWithoutAMessage) {
    const std::string before = dockit::Content(*db);
    EXPECT_NE(Handle(), 0);
    EXPECT_EQ(dockit::Content(*db), before);
    EXPECT_EQ(Order(image).status, kODStatusSent);
    EXPECT_TRUE(log.lines.empty());
    EXPECT_FALSE(IsOrdoBusy());
}

TEST_F(PickupTest, AReplyUnderItsLockFileIsNotRead) {
    Reply(j1, "finish", "done", processed);
    WriteText(ReplyPath(j1) + ".lock", "");
    const std::string before = dockit::Content(*db);
    EXPECT_EQ(Handle(), -5);
    EXPECT_EQ(dockit::Content(*db), before);
    EXPECT_TRUE(log.lines.empty());
    // Once the server is done the next pickup finishes the order.
    fs::remove(ReplyPath(j1) + ".lock");
    EXPECT_EQ(Handle(), 0);
    EXPECT_EQ(Order(image).status, kODStatusDone);
}

TEST_F(PickupTest, AWarningWaitsForNothingAndLogsItsMessageOnceWithTheImage) {
    Reply(j1, "warning", "written as photo_done.tif", processed);
    EXPECT_EQ(Handle(), 0);
    EXPECT_EQ(LinkOf(image), processed);
    EXPECT_EQ(Order(image).status, kODStatusReplyMinus1);
    ASSERT_EQ(log.lines.size(), 2u);
    EXPECT_EQ(log.lines[0], "photo.tif: written as photo_done.tif");
    EXPECT_EQ(log.lines[1].rfind("photo.tif: processed, now linked to ", 0), 0u);
    EXPECT_TRUE(log.busyWhileAppending);
}

TEST_F(PickupTest, EveryReplyThatCannotBeFinishedFailsTheOrderOnceWithItsReason) {
    // A path that fills the reply record may be the first part of a longer
    // one: a file lies where it points, and taking it could relink the wrong
    // image.
    const std::string deep = dir / (std::string(200, 'd') + "/" + std::string(200, 'e'));
    fs::create_directories(deep);
    const std::string cut = (deep + "/" + std::string(200, 'n')).substr(0, kODReplyPathMax);
    dockit::WriteTiff(cut, 100, 50, 72);
    fs::create_directory(dir / "folder.tif");
    struct Case {
        const char* status;
        std::string path;
        const char* reason;
        int32_t result;
    } cases[] = {
        {"error", original, "could not process the image: what the server says", 0},
        {"stop", processed, "stopped the job: what the server says", kODPickupFailed},
        {"Finish", processed, "stopped the job: what the server says", kODPickupFailed},
        {"finish", dir / "missing.tif", "cannot be found here", kODPickupFailed},
        {"warning", dir / "folder.tif", "cannot be read", kODPickupFailed},
        {"finish", cut, "too long", kODPickupFailed},
        {"finish", "", "cannot be found here", kODPickupFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.status) + " " + c.path.substr(0, 40));
        SetOrder(image, kODStatusSent, j1);
        OD_JobJournal::ForIdentityFolder().Remove(j1);
        endpoint.ReleaseReply(j1.c_str());
        log.lines.clear();
        Reply(j1, c.status, "what the server says", c.path);
        EXPECT_EQ(Handle(), c.result);
        EXPECT_EQ(LinkOf(image), original);
        EXPECT_EQ(Order(image).status, kODStatusReplyMinus2);
        EXPECT_EQ(Undo(image).savedStatus, 0);
        ASSERT_EQ(log.lines.size(), 1u);
        EXPECT_EQ(log.lines[0].rfind("photo.tif: ", 0), 0u) << log.lines[0];
        EXPECT_NE(log.lines[0].find(c.reason), std::string::npos) << log.lines[0];
        // Said once: the order waits no more.
        EXPECT_EQ(Handle(), kODPickupNotWaiting);
        EXPECT_EQ(log.lines.size(), 1u);
        EXPECT_TRUE(fs::exists(ReplyPath(j1))); // until a saved document holds the result
        EXPECT_FALSE(IsOrdoBusy());
    }
    // A reply that stays cut short: waited for a while, then failed.
    SetOrder(image, kODStatusSent, j2);
    WriteText(ReplyPath(j2), "job0002\n2\n");
    EXPECT_EQ(HandleFinishedOrder(image, context), kQorReplyIncomplete);
    fs::last_write_time(ReplyPath(j2), fs::file_time_type::clock::now() - std::chrono::minutes(1));
    EXPECT_EQ(HandleFinishedOrder(image, context), kODPickupFailed);
    EXPECT_NE(log.lines.back().find("cut short"), std::string::npos);
}

// ===================================================== the reply and the saved document

// The result is taken in one step, as the idle pickup takes it; false when
// the step was dropped because it would clash with what can be redone.
bool PickUpInOneStep(IDataBase* db, UIDRef& image, const OD_PickupContext& context) {
    db->BeginTransaction(PMString(kOrdoPickupStepKey));
    HandleFinishedOrder(image, context);
    return db->EndTransactionKeepingRedo();
}

TEST_F(PickupTest, TheReplyStaysUntilASavedDocumentHoldsTheResult) {
    const std::string saved = dir / "doc.odd";
    std::string why;
    ASSERT_EQ(DocumentFile::Save(db.get(), PMString(saved), why), kSuccess) << why;
    const UIDRef sent = image;
    Reply(j1, "finish", "done", processed);
    ASSERT_TRUE(PickUpInOneStep(db.get(), image, context));
    EXPECT_EQ(Order(image).status, kODStatusDone);
    EXPECT_TRUE(fs::exists(ReplyPath(j1)));

    // The host's Undo of the pickup puts back link and records in one step.
    ASSERT_TRUE(db->Undo());
    image = UIDRef(db.get(), sent.GetUID());
    EXPECT_EQ(LinkOf(image), original);
    EXPECT_EQ(Order(image).status, kODStatusSent);
    EXPECT_EQ(Undo(image).savedStatus, 0);
    // While the user can redo it, the pickup leaves the order alone...
    const std::string undone = dockit::Content(*db);
    EXPECT_FALSE(PickUpInOneStep(db.get(), image, context));
    EXPECT_EQ(dockit::Content(*db), undone);
    EXPECT_TRUE(db->CanRedo());
    // ...and Redo brings the result back.
    ASSERT_TRUE(db->Redo());
    EXPECT_EQ(Order(panel[0]).status, kODStatusDone);

    // Closed without saving, or lost in a crash: the saved file holds the
    // order Sent, and a new run of the host takes the result from the record.
    NoteDocumentClosing(db.get());
    db = DocumentFile::Open(PMString(saved), why);
    ASSERT_TRUE(db) << why;
    NoteDocumentOpened(db.get(), &log);
    image = UIDRef(db.get(), sent.GetUID());
    panel = {image};
    EXPECT_EQ(Order(image).status, kODStatusSent);
    QOR_EndPointFile::ResetProcessStateForTesting();
    fs::remove(ReplyPath(j1));
    ASSERT_TRUE(PickUpInOneStep(db.get(), image, context));
    EXPECT_EQ(LinkOf(image), processed);

    // Saved with the result: the server's reply is released, and the record
    // goes when the document closes.
    WriteText(ReplyPath(j1), "the server's copy");
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
    const std::string saved = dir / "doc.odd";
    std::string why;
    Reply(j1, "finish", "done", processed);
    const UIDRef sent = image;
    ASSERT_TRUE(PickUpInOneStep(db.get(), image, context));
    const std::string unsaved = DocumentKey(db.get());
    ASSERT_EQ(DocumentFile::Save(db.get(), PMString(saved), why), kSuccess) << why;
    NoteDocumentSaved(db.get(), unsaved);
    EXPECT_FALSE(fs::exists(ReplyPath(j1))); // released

    ASSERT_TRUE(db->Undo());
    ASSERT_EQ(DocumentFile::Save(db.get(), PMString(saved), why), kSuccess) << why;
    NoteDocumentSaved(db.get(), saved);
    NoteDocumentClosing(db.get()); // the file holds the order Sent: the record stays
    QOR_EndPointFile::ResetProcessStateForTesting();

    db = DocumentFile::Open(PMString(saved), why);
    ASSERT_TRUE(db) << why;
    image = UIDRef(db.get(), sent.GetUID());
    panel = {image};
    EXPECT_EQ(Order(image).status, kODStatusSent);
    ASSERT_TRUE(PickUpInOneStep(db.get(), image, context));
    EXPECT_EQ(Order(image).status, kODStatusDone);
    EXPECT_EQ(LinkOf(image), processed);
}

// ===================================================== finishing

TEST_F(PickupTest, AFinishedOrderIsRelinkedDoneAndCarriesItsUndoRecord) {
    const UIDRef old = image;
    const auto area = VisibleArea(image);
    OD_PlacementCapture before;
    ASSERT_EQ(CapturePlacement(image, before), 0);
    Reply(j1, "finish", "done", processed);

    EXPECT_EQ(Handle(), 0);
    EXPECT_NE(image.GetUID(), old.GetUID());
    EXPECT_EQ(LinkOf(image), processed);
    EXPECT_EQ(Order(image).status, kODStatusDone);
    EXPECT_EQ(log.lines,
              std::vector<std::string>{"photo.tif: processed, now linked to " + processed});
    ASSERT_EQ(panel.size(), 1u);
    EXPECT_EQ(panel[0], image);
    EXPECT_TRUE(fs::exists(ReplyPath(j1))); // until a saved document holds the result
    EXPECT_FALSE(IsOrdoBusy());

    // The processed file (already at 50 %) sits unscaled at the frame's
    // corner: the same part of the page, at twice the image's own scale.
    const auto now = VisibleArea(image);
    for (std::size_t i = 0; i < now.size(); ++i) {
        EXPECT_NEAR(now[i].X(), area[i].X() / 2, 1e-9);
        EXPECT_NEAR(now[i].Y(), area[i].Y() / 2, 1e-9);
    }

    const OD_UndoData undo = Undo(image);
    EXPECT_EQ(undo.savedStatus, kODStatusReady);
    EXPECT_STREQ(undo.otherFile, original.c_str());
    EXPECT_EQ(undo.originalPlacement, OD_UndoPlacement::FromCapture(before.record));
    OD_PlacementCapture after;
    ASSERT_EQ(CapturePlacement(image, after), 0);
    EXPECT_EQ(undo.processedPlacement, OD_UndoPlacement::FromCapture(after.record));
    EXPECT_EQ(Handle(), kODPickupNotWaiting);
}

TEST_F(PickupTest, PathsThatDoNotFitTheRelinkOrTheUndoRecordFailTheOrderUncut) {
    // A reply line holds at most 255 bytes, so the long processed path comes
    // from a deep OPI low-resolution folder.
    std::string deep = dir.Path();
    while (deep.size() + 61 < kODPrefsPathSize) {
        deep += "/" + std::string(60, 'd');
        fs::create_directory(deep);
    }
    const std::string name(kODRelinkPathMax - deep.size(), 'n'); // one byte too many
    prefs.SetOpiActive(true);
    ASSERT_TRUE(prefs.SetOpiLoResFolder(deep.c_str()));
    prefs.SetOpiSuffix(PMString(".tif"));
    Reply(j1, "finish", "done", "/srv/qor/out/" + name);
    dockit::WriteTiff(deep + "/" + name + ".tif", 100, 50, 72);
    EXPECT_EQ(Handle(), kODPickupFailed);
    EXPECT_EQ(LinkOf(image), original);
    EXPECT_EQ(Order(image).status, kODStatusReplyMinus2);
    prefs.SetOpiActive(false);

    // The original's path would not fit the undo record.
    while (deep.size() <= kODUndoPathSize) {
        deep += "/" + std::string(60, 'o');
        fs::create_directory(deep);
    }
    const std::string longOriginal = deep + "/photo.tif";
    dockit::WriteTiff(longOriginal, 200, 100, 72);
    UIDRef item = Place(Frame(PMRect(300, 60, 400, 110)), longOriginal);
    SetOrder(item, kODStatusSent, j2);
    Reply(j2, "finish", "done", processed);
    EXPECT_EQ(HandleFinishedOrder(item, context), kODPickupFailed);
    EXPECT_EQ(LinkOf(item), longOriginal);
    ASSERT_EQ(log.lines.size(), 2u);
    EXPECT_NE(log.lines[1].find("260"), std::string::npos) << log.lines[1];
}

TEST_F(PickupTest, OpiResultsAreLookedForInTheLowResolutionFolder) {
    const std::string lowRes = dir / "lowres";
    fs::create_directory(lowRes);
    prefs.SetOpiActive(true);
    ASSERT_TRUE(prefs.SetOpiLoResFolder(lowRes.c_str()));
    prefs.SetOpiSuffix(PMString(".tif"));
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
    EXPECT_EQ(LinkOf(image), expected);
    EXPECT_EQ(Order(image).status, kODStatusDone);

    // A job sent with OPI off is picked up as it was sent, though OPI is on now.
    UIDRef plain = Place(Frame(PMRect(300, 160, 400, 210)), original);
    SetOrder(plain, kODStatusSent, j2);
    OD_JobEntry sentWithoutOpi;
    sentWithoutOpi.job = j2;
    sentWithoutOpi.server = serverPath;
    sentWithoutOpi.opi = 0;
    ASSERT_EQ(OD_JobJournal::ForIdentityFolder().Write(sentWithoutOpi), 0);
    Reply(j2, "finish", "done", processed);
    EXPECT_EQ(HandleFinishedOrder(plain, context), 0);
    EXPECT_EQ(LinkOf(plain), processed);

    // A low-resolution file that does not appear within the time the server
    // is given fails the order, once.
    UIDRef item = Place(Frame(PMRect(300, 60, 400, 110)), original);
    const std::string j3 = std::string(endpoint.ClientId()) + kPathSeparator + "job0003";
    SetOrder(item, kODStatusSent, j3);
    Reply(j3, "finish", "done", "/srv/qor/out/never");
    context.now = platform::CurrentTime() + context.waitLimitSeconds + 5;
    EXPECT_EQ(HandleFinishedOrder(item, context), kODPickupFailed);
    EXPECT_NE(log.lines.back().find("did not appear"), std::string::npos);
}

// ===================================================== the OPI path

TEST(OpiLowResPath, SplitsTheServersPathByItsStyle) {
    char out[512];
    const std::string f = std::string("lr") + kPathSeparator;
    struct Case {
        const char* path;
        int style;
        const char* name;
    } cases[] = {
        {"Server:Out:photo", 0, "photo"},
        {"Server:Out\\sub\\photo", 0, "Out\\sub\\photo"}, // ':' first
        {"Server\\Out\\photo", 0, "photo"},               // then '\'
        {"C:\\Out\\photo", 1, "photo"},                   // '\' first
        {"Server:photo", 1, "photo"},                     // then ':'
        {"/srv/out/photo", 2, "photo"},                   // a Unix server's path
        {"/srv/out\\photo", 2, "out\\photo"},             // '\' is part of a Unix name
        {"C:\\Out\\photo", 7, "photo"},
        {"photo", 0, ""},
        {"photo", 2, ""},
        {"", 1, ""},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(MakeOpiLowResPath("lr", c.path, c.style, ".tif", out, sizeof out)) << c.path;
        EXPECT_EQ(std::string(out), f + c.name + ".tif") << c.path << " style " << c.style;
    }
}

TEST(OpiLowResPath, AResultPathWithoutSeparatorGivesTheFolderASeparatorAndTheSuffix) {
    char out[512];
    ASSERT_TRUE(MakeOpiLowResPath("lr", "photo", 2, ".eps", out, sizeof out));
    EXPECT_EQ(std::string(out), std::string("lr") + kPathSeparator + ".eps");
}

TEST(OpiLowResPath, AFolderEndingInASeparatorGetsNoSecond) {
    char out[512];
    const std::string folder = std::string("lr") + kPathSeparator;
    ASSERT_TRUE(MakeOpiLowResPath(folder.c_str(), "/a/photo", 2, ".tif", out, sizeof out));
    EXPECT_EQ(std::string(out), folder + "photo.tif");
}

TEST(OpiLowResPath, TheSuffixGivesItsFirstFiveCharacters) {
    char out[512];
    ASSERT_TRUE(MakeOpiLowResPath("lr", "/a/p", 2, ".tiffile", out, sizeof out));
    EXPECT_EQ(std::string(out), std::string("lr") + kPathSeparator + "p.tiff");
    ASSERT_TRUE(MakeOpiLowResPath("lr", "/a/p", 2, "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9xy",
                                  out, sizeof out));
    EXPECT_EQ(std::string(out),
              std::string("lr") + kPathSeparator + "p\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9");
}

TEST(OpiLowResPath, WhatWouldBeCutIsRefused) {
    char out[64];
    const std::string longName = "/a/" + std::string(kODOpiNameMax + 1, 'n');
    EXPECT_FALSE(MakeOpiLowResPath("lr", longName.c_str(), 2, "", out, sizeof out));
    EXPECT_STREQ(out, "");
    EXPECT_FALSE(MakeOpiLowResPath("lr", ("/a/" + std::string(60, 'n')).c_str(), 2, ".tif", out,
                                   sizeof out));
    EXPECT_STREQ(out, "");
    char big[600];
    EXPECT_TRUE(MakeOpiLowResPath("lr", ("/a/" + std::string(kODOpiNameMax, 'n')).c_str(), 2,
                                  ".tif", big, sizeof big));
}

// ===================================================== the content offset

TEST(ContentOffset, NothingToMoveWhenTheFrameStartsInsideTheImage) {
    OD_OffsetInput in;
    in.cropRect = PMRect(10, 5, 60, 40);
    in.imageWidth = 20; // short of the frame: the image ends inside it
    in.imageHeight = 10;
    PMPoint d = ComputeContentOffset(in);
    EXPECT_EQ(d.X(), 0.0);
    EXPECT_EQ(d.Y(), 0.0);
    in.cropRect = PMRect(-1e-9, -1e-9, 60, 40); // below the tolerance
    d = ComputeContentOffset(in);
    EXPECT_EQ(d.X(), 0.0);
    EXPECT_EQ(d.Y(), 0.0);
}

TEST(ContentOffset, AFileThatCoversTheFrameStaysAtItsCorner) {
    // The frame starts 10 and 4 points before the image; the server rendered
    // all of it, within its rounding to whole pixels.
    OD_OffsetInput in;
    in.cropRect = PMRect(-10, -4, 90, 46);
    for (double shortBy : {0.0, 0.72, -0.72, 2.8}) {
        in.imageWidth = 100 - shortBy;
        in.imageHeight = 50 - shortBy;
        const PMPoint d = ComputeContentOffset(in);
        EXPECT_EQ(d.X(), 0.0) << shortBy;
        EXPECT_EQ(d.Y(), 0.0) << shortBy;
    }
    // A coarse output: one pixel is more than a millimetre.
    in.imageWidth = 96;
    in.tolerance = 72.0 / 15;
    EXPECT_EQ(ComputeContentOffset(in).X(), 0.0);
}

TEST(ContentOffset, AFileThatLeavesOutWhatLiesBeforeTheImageStartsAtTheImagesEdge) {
    OD_OffsetInput in;
    // The frame ends inside the image: the file is the frame less its part
    // before the image.
    in.cropRect = PMRect(-10, -4, 90, 46);
    in.imageWidth = 90;
    in.imageHeight = 46;
    PMPoint d = ComputeContentOffset(in);
    EXPECT_DOUBLE_EQ(d.X(), 10.0);
    EXPECT_DOUBLE_EQ(d.Y(), 4.0);
    // The frame reaches past both edges: the file is the image alone.
    in.cropRect = PMRect(-10, -4, 190, 96);
    in.imageWidth = 150;
    in.imageHeight = 80;
    d = ComputeContentOffset(in);
    EXPECT_DOUBLE_EQ(d.X(), 10.0);
    EXPECT_DOUBLE_EQ(d.Y(), 4.0);
    // Only one axis starts before the image.
    in.cropRect = PMRect(5, -4, 105, 96);
    in.imageWidth = 60;
    d = ComputeContentOffset(in);
    EXPECT_EQ(d.X(), 0.0);
    EXPECT_DOUBLE_EQ(d.Y(), 4.0);
}

TEST_F(PickupTest, TheRelinkMovesTheProcessedImageByTheOffset) {
    // Unscaled, the frame 20 pt left of the image and 10 pt above it, and
    // reaching past its far edges.
    UIDRef item = Place(Frame(PMRect(300, 60, 560, 180)), original);
    Change([&] {
        InterfaceOf<ITransform>(item)->SetInnerToParentMatrix(PMMatrix::MakeTranslation(20, 10));
    });
    UIDRef made;
    ASSERT_TRUE(RelinkToProcessedFile(item, processed.c_str(), 1, 0, made));
    const PMMatrix m = InterfaceOf<ITransform>(made)->GetInnerToParentMatrix();
    const PMRect box = InterfaceOf<IGeometry>(made)->GetBoundingBox();
    PMPoint corner = box.LeftTop();
    m.Transform(corner);
    const PMRect frame =
        InterfaceOf<IGeometry>(UIDRef(db.get(), InterfaceOf<IHierarchy>(made)->GetParentUID()))
            ->GetBoundingBox();
    EXPECT_NEAR(corner.X() - frame.Left(), 20.0, 1e-9);
    EXPECT_NEAR(corner.Y() - frame.Top(), 10.0, 1e-9);
    OD_PlacementCapture after;
    ASSERT_EQ(CapturePlacement(made, after), 0);
    EXPECT_EQ(Undo(made).processedPlacement, OD_UndoPlacement::FromCapture(after.record));
}

TEST_F(PickupTest, AFailedRelinkWritesNothing) {
    UIDRef made;
    const std::string before = dockit::Content(*db);
    EXPECT_FALSE(RelinkToProcessedFile(image, (dir / "missing.tif").c_str(), 1, 0, made));
    EXPECT_FALSE(RelinkToProcessedFile(image, nullptr, 1, 0, made));
    EXPECT_EQ(made, image);
    EXPECT_EQ(dockit::Content(*db), before);
}

// ===================================================== the whole road

// A ticket in the server's format for the image as it is placed, asking for
// RESX ppi.
std::string Ticket(const UIDRef& item, const std::string& in, const std::string& out, int res) {
    OD_PlacementGeometry g;
    EXPECT_EQ(GetPlacementGeometry(item, g), 0);
    const OD_TicketGeometry t = ComputeTicketGeometry(item, 0x100, 72, g);
    char text[1024];
    const int n = std::snprintf(
        text, sizeof text,
        "PROCESS\nPATHIN: %s\nPATHOUT: %s\nHUNITS: inch\nVUNITS: inch\nTOP: %lf\nLEFT: %lf\n"
        "WIDTH: %lf\nHEIGHT: %lf\nSCALEX: %lf\nSCALEY: %lf\nRESX: %d\nRESY: %d\nANGLE: %lf\n"
        "PREFIX: %s\nPROCESSOPT: %d\nFLIPGD: %d\nFLIPHB: %d\nSKEWH: %lf\nOVERWRITE: %d\n"
        "PROFILE: %s\nDOCROP: 1\nDEL_SRC_IMAGE: %d\n",
        in.c_str(), out.c_str(), g.cropRect.Top() / 72.0, g.cropRect.Left() / 72.0,
        g.cropRect.Width() / 72.0, g.cropRect.Height() / 72.0, t.scaleX, t.scaleY, res, res,
        t.angle, "", 0, t.flipGD, t.flipHB, t.skewH, 1, "", 0);
    EXPECT_GT(n, 0);
    EXPECT_LT(n, static_cast<int>(sizeof text));
    return text;
}

// The linear part m moved so that the image's transformed box starts at
// (x, y) of the frame.
PMMatrix BoxAt(const PMMatrix& m, double x, double y) {
    const PMRect b = TransformedBounds(PMRect(0, 0, 200, 100), m);
    return m * PMMatrix::MakeTranslation(x - b.Left(), y - b.Top());
}

TEST_F(PickupTest, TheWholeRoadThroughTheReferenceServer) {
    struct Case {
        const char* name;
        PMRect frame;    // on the page
        PMMatrix matrix; // image (200 x 100 pt) into frame
    } cases[] = {
        {"50 %, all of it", PMRect(50, 300, 150, 350), PMMatrix::MakeScale(0.5, 0.5)},
        {"turned 90, cropped by its frame", PMRect(200, 300, 260, 400),
         BoxAt(PMMatrix::MakeRotation(90), -20, -50)},
        {"mirrored, cropped", PMRect(300, 300, 420, 360),
         BoxAt(PMMatrix::MakeScale(-1, 1), -30, -20)},
    };
    const std::string out = dir / "out";
    fs::create_directory(out);
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string source = dir / ("road" + std::to_string(++n) + ".tif");
        dockit::WriteTiff(source, 200, 100, 72);
        UIDRef item = Place(Frame(c.frame), source);
        Change([&] { InterfaceOf<ITransform>(item)->SetInnerToParentMatrix(c.matrix); });
        const auto area = VisibleArea(item);
        OD_PlacementCapture before;
        ASSERT_EQ(CapturePlacement(item, before), 0);
        const std::string target = out + "/road" + std::to_string(n) + ".tif";
        const std::string ticket = Ticket(item, source, target, 72);
        char job[QOR_EndPointFile::kMessageCapacity] = {};
        ASSERT_EQ(endpoint.SendNamed(job, ticket.c_str(), static_cast<int>(ticket.size())), 0);
        SetOrder(item, kODStatusSent, job);

        std::ostringstream serverLog;
        RefServer server(root.Path(), serverLog);
        ASSERT_EQ(server.RunOnce(), 1);
        ASSERT_EQ(server.Totals().finished, 1) << serverLog.str();

        std::vector<UIDRef> list{item};
        OD_PickupContext ctx = context;
        ctx.panelItems = &list;
        ASSERT_EQ(HandleFinishedOrder(item, ctx), 0) << serverLog.str();
        EXPECT_EQ(list[0], item);
        EXPECT_EQ(LinkOf(item), target);
        EXPECT_EQ(Order(item).status, kODStatusDone);
        EXPECT_EQ(Undo(item).savedStatus, kODStatusReady);

        // The server rendered the frame's area at 72 ppi: the processed file
        // fills the frame exactly, unturned.
        const auto now = VisibleArea(item);
        const PMRect f(0, 0, c.frame.Width(), c.frame.Height());
        EXPECT_TRUE(
            SameArea(now, {f.LeftTop(), f.RightTop(), f.RightBottom(), f.LeftBottom()}, 1e-6));

        // Undo Redo Process twice: the original, then the processed file.
        OD_ActionUndoRedoItemsParams params;
        params.Append(item);
        OD_ActionUndoRedoItems action;
        action.SetParameters(params);
        action.Execute();
        const UIDRef undone = action.Parameters().At(0);
        EXPECT_EQ(LinkOf(undone), source);
        EXPECT_EQ(Order(undone).status, kODStatusReady);
        EXPECT_EQ(Undo(undone).savedStatus, kODStatusDone);
        EXPECT_STREQ(Undo(undone).otherFile, target.c_str());
        EXPECT_TRUE(SameArea(VisibleArea(undone), area, 1e-6));
        action.Execute();
        const UIDRef redone = action.Parameters().At(0);
        EXPECT_EQ(LinkOf(redone), target);
        EXPECT_EQ(Order(redone).status, kODStatusDone);
        EXPECT_EQ(Undo(redone).savedStatus, kODStatusReady);
        EXPECT_TRUE(SameArea(VisibleArea(redone), now, 1e-6));
    }
}

} // namespace
