// "Undo Redo Process": swapping files, placements and status; its parameters; items left alone.
#include "OrdoDocumentKit.h"

namespace {

using namespace ordokit;

class UndoRedoTest : public DocumentFixture {
protected:
    void SetUp() override {
        SetUpDocument(false);
        dockit::WriteTiff(original, 200, 100, 72);
        dockit::WriteTiff(processed, 90, 60, 72);
    }
    // A placed image, turned and scaled, carrying an order of the status.
    UIDRef Image(double left, uint16_t status) {
        UIDRef image = PlaceAt(PMRect(left, 60, left + 90, 120), original);
        dockit::SetMatrix(image, PMMatrix::MakeRotation(30) * PMMatrix::MakeScale(0.7, -0.7) *
                                     PMMatrix::MakeTranslation(-20, -15));
        OD_ProcData order;
        order.status = status;
        order.jobName = PMString("job");
        Store(image, order);
        return image;
    }
    // An image relinked to the processed file as the pickup does it, with the status.
    UIDRef ProcessedImage(double left, uint16_t status = kODStatusDone) {
        UIDRef image = Image(left, kODStatusSent);
        UIDRef made;
        EXPECT_TRUE(RelinkToProcessedFile(image, processed.c_str(), 1, 0, made));
        OD_ProcData order = Order(made);
        order.status = status;
        Store(made, order);
        return made;
    }
};

TEST(UndoRedoParams, OtherParametersAreRefusedAndTheActionCopiesListAndOptions) {
    OD_ActionUndoRedoItems action;
    try {
        action.SetParameters(OD_ActionParameters());
        FAIL() << "no exception";
    } catch (const IMG_Exception& e) {
        EXPECT_EQ(e.Code(), -1);
    }
    IDataBase* fakeDb = reinterpret_cast<IDataBase*>(0x10);
    OD_ActionParameters base;
    base.SetItems(ListOf(fakeDb, {UIDRef(fakeDb, UID(5)), UIDRef(fakeDb, UID(9))}));
    OD_ActionUndoRedoItemsParams p(base);
    p.option2 = 1;
    action.SetParameters(p);
    p.Append(UIDRef(fakeDb, UID(11)));
    const OD_ActionUndoRedoItemsParams& copy = action.Parameters();
    ASSERT_EQ(copy.Count(), 2);
    EXPECT_EQ(std::tuple(copy.At(1), copy.At(2), copy.At(-1), copy.option1, copy.option2),
              std::tuple(UIDRef(fakeDb, UID(9)), UIDRef(), UIDRef(), 1, 1));
}

// Execute swaps file, geometry, status in one history step, and back; unrecorded items skipped.
TEST_F(UndoRedoTest, EachExecuteSwapsFileGeometryAndStatusInOneStep) {
    UIDRef plain = Image(200, kODStatusDone);
    UIDRef item = ProcessedImage(50);
    const OD_UndoData record = Undo(item);
    const PMMatrix processedMatrix = Matrix(item), plainMatrix = Matrix(plain);
    const std::string processedState = dockit::Content(*db);
    const int32_t steps = db->UndoCount();

    OD_ActionUndoRedoItems action;
    SetSwapItems(action, {plain, UIDRef(), item});
    action.Execute();
    EXPECT_EQ(std::tuple(action.Parameters().At(0), Linked(plain), Undo(plain).savedStatus,
                         GetUndoRedoState(plain)),
              std::tuple(plain, LinkStatus(original, kODStatusDone), 0,
                         OD_UndoRedoState::kNothingToSwap));
    EXPECT_TRUE(SameMatrix(Matrix(plain), plainMatrix));
    UIDRef undone = action.Parameters().At(2);
    EXPECT_EQ(Linked(undone), LinkStatus(original, kODStatusReady));
    EXPECT_TRUE(SamePlacement(PlacementOf(undone), record.originalPlacement));
    OD_UndoData swapped = record;
    swapped.savedStatus = kODStatusDone;
    ASSERT_EQ(swapped.SetOtherFile(processed.c_str()), 0);
    EXPECT_EQ(Undo(undone), swapped);

    // Relink, move and both records in one step: they never disagree whichever way history goes.
    const std::string originalState = dockit::Content(*db);
    EXPECT_EQ(db->UndoCount(), steps + 1);
    ASSERT_TRUE(db->Undo());
    EXPECT_EQ(dockit::Content(*db), processedState);
    ASSERT_TRUE(db->Redo());
    EXPECT_EQ(dockit::Content(*db), originalState);

    action.Execute();
    UIDRef redone = action.Parameters().At(2);
    EXPECT_EQ(
        std::tuple(Linked(redone), GetUndoRedoState(redone), Undo(redone)),
        std::tuple(LinkStatus(processed, kODStatusDone), OD_UndoRedoState::kSwappable, record));
    EXPECT_TRUE(SameMatrix(Matrix(redone), processedMatrix));

    // A warning status comes back too.
    UIDRef warned = ProcessedImage(300, kODStatusReplyMinus1);
    ASSERT_TRUE(UndoRedoProcess(warned));
    EXPECT_EQ(std::tuple(Order(warned).status, Undo(warned).savedStatus),
              std::tuple(kODStatusReady, kODStatusReplyMinus1));
    ASSERT_TRUE(UndoRedoProcess(warned));
    EXPECT_EQ(Order(warned).status, kODStatusReplyMinus1);

    // A linked path that would not fit the record is not swapped.
    const std::string longPath = DeepFolder(dir.Path(), kODUndoPathSize + 1, 'p') + "/photo.tif";
    dockit::WriteTiff(longPath, 90, 60, 72);
    UIDRef relinked;
    ASSERT_EQ(RelinkWithGeometry(ProcessedImage(400), longPath.c_str(), nullptr, 1, 0, relinked),
              0);
    const std::string unswapped = dockit::Content(*db);
    EXPECT_FALSE(UndoRedoProcess(relinked));
    EXPECT_EQ(dockit::Content(*db), unswapped);
}

TEST_F(UndoRedoTest, AnItemWithoutItsOtherFileIsLeftAsItIsAndTheLogSaysWhy) {
    // What happened, the item made so, its state, the log's line.
    const std::tuple<const char*, std::function<UIDRef()>, OD_UndoRedoState, std::string> cases[] =
        {
            {"the original was deleted",
             [&] {
                 UIDRef item = ProcessedImage(50);
                 fs::remove(original);
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
    for (const auto& [what, make, state, line] : cases) {
        SCOPED_TRACE(what);
        dockit::WriteTiff(original, 200, 100, 72);
        UIDRef item = make();
        const std::string before = dockit::Content(*db);
        const int32_t steps = db->UndoCount();
        EXPECT_EQ(GetUndoRedoState(item), state);
        EXPECT_FALSE(UndoRedoProcess(item));
        ordokit::RecordingLog log;
        OD_ActionUndoRedoItems action;
        SetSwapItems(action, {item, item}, &log);
        action.Execute();
        ASSERT_EQ(action.Parameters().At(0), item); // neither relinked nor replaced
        EXPECT_EQ(std::tuple(dockit::Content(*db), db->UndoCount(), log.shown),
                  std::tuple(before, steps, 1));
        EXPECT_EQ(log.lines, std::vector<std::string>{line}); // once for the two
    }
}

} // namespace
