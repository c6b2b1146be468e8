// "Undo Redo Process": swapping processed and original files with their
// placements and the order's status, the action's parameters, and items the
// action must leave alone.
#include "OD_ActionUndoRedo.h"

#include "../host/DocumentTestKit.h"
#include "DocumentModel.h"
#include "DocumentUtils.h"
#include "HostStrings.h"
#include "ICommand.h"
#include "IDataLink.h"
#include "IGeometry.h"
#include "IHierarchy.h"
#include "IMG_Exception.h"
#include "ITransform.h"
#include "ImportUtils.h"
#include "OD_DataAccessor.h"
#include "OD_Geometry.h"
#include "OD_Pickup.h"
#include "ObjectModel.h"
#include "OrdoCommands.h"
#include "OrdoDocumentKit.h"
#include "StringTables.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

std::string LinkOf(const UIDRef& item) {
    return InterfaceOf<IDataLink>(item)->GetLongName().GetUTF8String();
}

PMMatrix Matrix(const UIDRef& item) {
    return InterfaceOf<ITransform>(item)->GetInnerToParentMatrix();
}

bool SameMatrix(const PMMatrix& a, const PMMatrix& b) {
    return std::fabs(a.A() - b.A()) < 1e-9 && std::fabs(a.B() - b.B()) < 1e-9 &&
           std::fabs(a.C() - b.C()) < 1e-9 && std::fabs(a.D() - b.D()) < 1e-9 &&
           std::fabs(a.Tx() - b.Tx()) < 1e-9 && std::fabs(a.Ty() - b.Ty()) < 1e-9;
}

::testing::AssertionResult NearPlacement(const OD_UndoPlacement& got,
                                         const OD_UndoPlacement& want) {
    const double g[6] = {got.rotation, got.xSkew, got.xScale, got.yScale, got.xOffset, got.yOffset};
    const double w[6] = {want.rotation, want.xSkew,   want.xScale,
                         want.yScale,   want.xOffset, want.yOffset};
    for (int i = 0; i < 6; ++i) {
        if (!(std::fabs(g[i] - w[i]) < 1e-9)) {
            return ::testing::AssertionFailure()
                   << "part " << i << ": " << g[i] << " instead of " << w[i];
        }
    }
    if (got.xMirrored != want.xMirrored || got.yMirrored != want.yMirrored) {
        return ::testing::AssertionFailure() << "mirror flags differ";
    }
    return ::testing::AssertionSuccess();
}

using ordokit::Order;
using ordokit::Undo;

struct RecordingLog : OD_Log {
    void Append(const char* line) override { lines.emplace_back(line); }
    void Show() override { ++shown; }
    std::vector<std::string> lines;
    int shown = 0;
};

class UndoRedoTest : public ::testing::Test {
protected:
    void SetUp() override {
        ordokit::RegisterOrdoDocument();
        db = DocumentUtils::NewDocument();
        original = dir / "photo.tif";
        dockit::WriteTiff(original, 200, 100, 72);
        processed = dir / "photo_done.tif";
        dockit::WriteTiff(processed, 90, 60, 72);
    }
    void TearDown() override {
        db.reset();
        HostStrings::Reset();
    }

    // A placed image, turned and scaled, carrying an order of the status.
    UIDRef Image(double left, uint16_t status) {
        UIDRef image = dockit::PlaceFile(
            dockit::AddFrame(db.get(), PMRect(left, 60, left + 90, 120)), original);
        dockit::SetMatrix(image, PMMatrix::MakeRotation(30) * PMMatrix::MakeScale(0.7, -0.7) *
                                     PMMatrix::MakeTranslation(-20, -15));
        OD_ProcData order;
        order.status = status;
        order.jobName = PMString("job");
        EXPECT_EQ(OD_DataAccessor(image).Write(order), kSuccess);
        return image;
    }
    // An image relinked to the processed file as the pickup does it, Done.
    UIDRef ProcessedImage(double left) {
        UIDRef image = Image(left, kODStatusSent);
        UIDRef made;
        EXPECT_TRUE(RelinkToProcessedFile(image, processed.c_str(), 1, 0, made));
        OD_ProcData order = Order(made);
        order.status = kODStatusDone;
        EXPECT_EQ(OD_DataAccessor(made).Write(order), kSuccess);
        return made;
    }

    TempDir dir;
    std::unique_ptr<IDataBase> db;
    std::string original;
    std::string processed;
};

TEST(UndoRedoParams, NewParametersAskForTheUsualOptions) {
    OD_ActionUndoRedoItemsParams p;
    EXPECT_EQ(p.option1, 1);
    EXPECT_EQ(p.option2, 0);
    EXPECT_EQ(p.Count(), 0);
    EXPECT_EQ(p.At(0), UIDRef());
    EXPECT_EQ(p.target, UIDRef());
}

TEST(UndoRedoParams, OtherParametersAreRefused) {
    OD_ActionParameters other;
    OD_ActionUndoRedoItems action;
    try {
        action.SetParameters(other);
        FAIL() << "no exception";
    } catch (const IMG_Exception& e) {
        EXPECT_EQ(e.Code(), -1);
    }
}

TEST(UndoRedoParams, TheActionCopiesTheListAndTheOptions) {
    IDataBase* fakeDb = reinterpret_cast<IDataBase*>(0x10);
    UIDList list(fakeDb);
    list.Append(UID(5));
    list.Append(UID(9));
    OD_ActionParameters base;
    base.SetItems(list);
    OD_ActionUndoRedoItemsParams p(base);
    p.option2 = 1;
    OD_ActionUndoRedoItems action;
    action.SetParameters(p);
    p.Append(UIDRef(fakeDb, UID(11)));
    ASSERT_EQ(action.Parameters().Count(), 2);
    EXPECT_EQ(action.Parameters().At(1), UIDRef(fakeDb, UID(9)));
    EXPECT_EQ(action.Parameters().At(2), UIDRef());
    EXPECT_EQ(action.Parameters().At(-1), UIDRef());
    EXPECT_EQ(action.Parameters().option1, 1);
    EXPECT_EQ(action.Parameters().option2, 1);
}

TEST_F(UndoRedoTest, TwoExecutesReturnFileGeometryAndStatus) {
    UIDRef item = ProcessedImage(50);
    const OD_UndoData record = Undo(item);
    const PMMatrix processedMatrix = Matrix(item);

    OD_ActionUndoRedoItemsParams p;
    p.Append(item);
    OD_ActionUndoRedoItems action;
    action.SetParameters(p);

    action.Execute();
    UIDRef undone = action.Parameters().At(0);
    EXPECT_EQ(LinkOf(undone), original);
    EXPECT_EQ(Order(undone).status, kODStatusReady);
    OD_PlacementCapture cap;
    ASSERT_EQ(CapturePlacement(undone, cap), 0);
    EXPECT_TRUE(NearPlacement(OD_UndoPlacement::FromCapture(cap.record), record.originalPlacement));
    OD_UndoData afterUndo = Undo(undone);
    EXPECT_EQ(afterUndo.savedStatus, kODStatusDone);
    EXPECT_STREQ(afterUndo.otherFile, processed.c_str());
    EXPECT_EQ(afterUndo.originalPlacement, record.originalPlacement);
    EXPECT_EQ(afterUndo.processedPlacement, record.processedPlacement);

    action.Execute();
    UIDRef redone = action.Parameters().At(0);
    EXPECT_EQ(LinkOf(redone), processed);
    EXPECT_EQ(Order(redone).status, kODStatusDone);
    EXPECT_EQ(GetUndoRedoState(redone), OD_UndoRedoState::kSwappable);
    EXPECT_TRUE(SameMatrix(Matrix(redone), processedMatrix));
    EXPECT_EQ(Undo(redone), record);
}

TEST_F(UndoRedoTest, AWarningStatusComesBackToo) {
    UIDRef item = ProcessedImage(50);
    OD_ProcData order = Order(item);
    order.status = kODStatusReplyMinus1;
    ASSERT_EQ(OD_DataAccessor(item).Write(order), kSuccess);
    ASSERT_TRUE(UndoRedoProcess(item));
    EXPECT_EQ(Order(item).status, kODStatusReady);
    EXPECT_EQ(Undo(item).savedStatus, kODStatusReplyMinus1);
    ASSERT_TRUE(UndoRedoProcess(item));
    EXPECT_EQ(Order(item).status, kODStatusReplyMinus1);
}

TEST_F(UndoRedoTest, AnItemWithoutAnUndoRecordIsSkippedAndTheNextIsSwapped) {
    UIDRef plain = Image(200, kODStatusDone);
    UIDRef item = ProcessedImage(50);
    const std::string plainBefore = LinkOf(plain);
    const PMMatrix plainMatrix = Matrix(plain);

    OD_ActionUndoRedoItemsParams p;
    p.Append(plain);
    p.Append(UIDRef()); // not an item at all
    p.Append(item);
    OD_ActionUndoRedoItems action;
    action.SetParameters(p);
    action.Execute();

    EXPECT_EQ(action.Parameters().At(0), plain);
    EXPECT_EQ(LinkOf(plain), plainBefore);
    EXPECT_TRUE(SameMatrix(Matrix(plain), plainMatrix));
    EXPECT_EQ(Order(plain).status, kODStatusDone);
    EXPECT_EQ(Undo(plain).savedStatus, 0);
    EXPECT_EQ(GetUndoRedoState(plain), OD_UndoRedoState::kNothingToSwap);
    const UIDRef swapped = action.Parameters().At(2);
    EXPECT_EQ(LinkOf(swapped), original);
    EXPECT_EQ(Order(swapped).status, kODStatusReady);
}

TEST_F(UndoRedoTest, AnItemWithoutItsOtherFileIsLeftAsItIsAndTheLogSaysWhy) {
    struct Case {
        const char* what;
        std::function<UIDRef()> make;
        OD_UndoRedoState state;
        std::string line;
    } cases[] = {
        {"the original was deleted",
         [&] {
             UIDRef item = ProcessedImage(50);
             std::filesystem::remove(original);
             return item;
         },
         OD_UndoRedoState::kOtherFileGone,
         "photo_done.tif: Undo Redo Process is not possible, the other file is gone (deleted "
         "after processing?): " +
             original},
        {"the server wrote over the original",
         [&] {
             processed = original; // the ticket's output path is the original's
             return ProcessedImage(50);
         },
         OD_UndoRedoState::kOriginalReplaced,
         "photo.tif: Undo Redo Process is not possible, the original was replaced by the "
         "processed image"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        dockit::WriteTiff(original, 200, 100, 72);
        const UIDRef item = c.make();
        const std::string link = LinkOf(item);
        const OD_UndoData record = Undo(item);
        const int32_t steps = db->UndoCount();
        EXPECT_EQ(GetUndoRedoState(item), c.state);

        RecordingLog log;
        OD_ActionUndoRedoItemsParams p;
        p.Append(item);
        p.Append(item);
        p.log = &log;
        OD_ActionUndoRedoItems action;
        action.SetParameters(p);
        action.Execute();
        ASSERT_EQ(action.Parameters().At(0), item); // neither relinked nor replaced
        EXPECT_EQ(LinkOf(item), link);
        EXPECT_EQ(Order(item).status, kODStatusDone);
        EXPECT_EQ(Undo(item), record);
        EXPECT_EQ(db->UndoCount(), steps);
        EXPECT_EQ(log.lines, std::vector<std::string>{c.line}); // once for the two
        EXPECT_EQ(log.shown, 1);
    }
}

TEST_F(UndoRedoTest, AMissingOtherFileLeavesTheItemAsItIs) {
    UIDRef item = ProcessedImage(50);
    std::filesystem::remove(original);
    const std::string before = dockit::Content(*db);
    EXPECT_FALSE(UndoRedoProcess(item));
    EXPECT_EQ(dockit::Content(*db), before);
}

TEST_F(UndoRedoTest, ALinkedPathThatWouldNotFitTheRecordIsNotSwapped) {
    UIDRef item = ProcessedImage(50);
    // Link a file with a long path as the processed one would be.
    std::string deep = dir.Path();
    while (deep.size() <= kODUndoPathSize) {
        deep += "/" + std::string(60, 'p');
        std::filesystem::create_directory(deep);
    }
    const std::string longPath = deep + "/photo.tif";
    dockit::WriteTiff(longPath, 90, 60, 72);
    UIDRef relinked;
    ASSERT_EQ(RelinkWithGeometry(item, longPath.c_str(), nullptr, 1, 0, relinked), 0);
    const std::string before = dockit::Content(*db);
    EXPECT_FALSE(UndoRedoProcess(relinked));
    EXPECT_EQ(dockit::Content(*db), before);
}

TEST_F(UndoRedoTest, EachExecuteIsOneStepOfTheHostsHistory) {
    UIDRef item = ProcessedImage(50);
    const std::string processed = dockit::Content(*db);
    auto execute = [&] {
        OD_ActionUndoRedoItemsParams p;
        p.Append(item);
        OD_ActionUndoRedoItems action;
        action.SetParameters(p);
        action.Execute();
        item = action.Parameters().At(0);
    };
    const int32_t steps = db->UndoCount();
    const uint16_t done = Order(item).status;
    execute();
    const std::string original = dockit::Content(*db);
    ASSERT_NE(original, processed);
    // The relink, the move, the undo record and the order record: one step,
    // so link, geometry and both records never disagree whichever way the
    // host's history goes.
    EXPECT_EQ(db->UndoCount(), steps + 1);
    ASSERT_TRUE(db->Undo());
    EXPECT_EQ(dockit::Content(*db), processed);
    ASSERT_TRUE(db->Redo());
    EXPECT_EQ(dockit::Content(*db), original);
    item = UIDRef(db.get(), item.GetUID());
    EXPECT_EQ(Order(item).status, kODStatusReady);
    execute(); // and the swap goes on from there
    EXPECT_EQ(Order(item).status, done);
}

} // namespace
