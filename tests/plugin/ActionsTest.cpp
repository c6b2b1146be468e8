// The plug-in's actions as the host runs them: the menu entries, which of them the orders list
// enables, and the flows behind them on real documents, the orders panel and a server tree.

#include "PluginTestKit.h"

namespace {

using namespace plugkit;

// What the add and edit flows handed the options dialog.
struct DialogCall {
    OD_ProcData record;
    PMString status;
    PMString heading;
};

class ActionsTest : public PluginTest {
protected:
    // The options dialog answered by the script: each answer edits the record and says whether
    // the user confirmed; once they are used up the dialog is cancelled.
    using Answer = std::function<bool(OD_ProcData&)>;
    void ScriptOptionsDialog(std::vector<Answer> script) {
        answers = std::move(script);
        SetOrdoOptionsDialogRunner(
            [this](OD_ProcData& record, const PMString& status, const PMString& heading) {
                calls.push_back({record, status, heading});
                return calls.size() <= answers.size() && answers[calls.size() - 1](record);
            });
    }
    static bool Confirm(OD_ProcData& r) { return (r.status = kODStatusReady) != 0; }

    // A new document with placed images, orders filled from them, each then given the status.
    std::vector<UIDRef> ImagesWithOrders(const std::vector<uint16_t>& statuses) {
        db = NewDocument("doc");
        std::vector<UIDRef> items;
        for (std::size_t i = 0; i < statuses.size(); ++i) {
            items.push_back(PlaceImage(db, PMRect(10 + 60.0 * i, 10, 50 + 60.0 * i, 30)));
        }
        EXPECT_EQ(AddOrders(ListOf(db, items), false), 0);
        for (std::size_t i = 0; i < statuses.size(); ++i) {
            SetStatus(items[i], statuses[i]);
        }
        return items;
    }

    IDataBase* db = nullptr;
    std::vector<Answer> answers;
    std::vector<DialogCall> calls;
};

// The actions whose states the orders list sets, in the order of its menu.
const ActionID kListActions[] = {kOrdoSendSelectionActionID, kOrdoEditSelectionActionID,
                                 kOrdoSendAllActionID, kOrdoUndoRedoActionID,
                                 kOrdoShowSelectedActionID};

TEST_F(ActionsTest, WithoutDocumentOrPanelTheActionsDoNothing) {
    ScriptOptionsDialog({Confirm});
    auto performAll = [] { // Add last: with a document, nothing is selected in its layout
        for (ActionID action : kListActions) {
            Perform(action);
        }
        Perform(kOrdoAddSelectionActionID);
    };
    performAll();
    // A document with a ready order, but no panel.
    const UIDRef image = ImagesWithOrders({kODStatusReady})[0];
    const OD_ProcData before = Order(image);
    performAll();
    EXPECT_TRUE(alerts.Alerts().empty());
    EXPECT_TRUE(calls.empty());
    EXPECT_TRUE(dialogs.Runs().empty());
    EXPECT_EQ(Order(image), before);
    EXPECT_TRUE(Enabled(kOrdoSendSelectionActionID)); // the states stay as the host gave them
    EXPECT_TRUE(Enabled(kOrdoShowSelectedActionID));
}

TEST_F(ActionsTest, MenuStatesFollowTheSelectedOrders) {
    const auto items = ImagesWithOrders(
        {kODStatusReady, kODStatusSent, kODStatusDone, kODStatusReplyMinus1, kODStatusReplyMinus2});
    const UIDRef ready = items[0], sent = items[1], done = items[2], warned = items[3],
                 failed = items[4];
    OpenPanel();
    using States = std::array<bool, std::size(kListActions)>;
    auto expect = [&](const std::vector<UIDRef>& selection, States s, const char* what) {
        SCOPED_TRACE(what);
        SelectItems(selection);
        for (std::size_t i = 0; i < s.size(); ++i) {
            EXPECT_EQ(Enabled(kListActions[i]), s[i]) << i;
        }
        // Never touched by the orders list.
        EXPECT_TRUE(Enabled(kOrdoAddSelectionActionID));
        EXPECT_TRUE(Enabled(kOrdoPreferencesActionID));
    };
    expect({}, {false, false, true, false, false}, "nothing selected");
    expect({sent}, {false, false, true, false, true}, "all sent");
    expect({ready, sent}, {true, true, true, false, true}, "one ready among them");
    expect({done}, {false, false, true, true, true}, "all done");
    expect({sent, warned}, {false, false, true, true, true}, "done with a warning");
    // A failed order goes again when it is selected and sent.
    expect({failed}, {true, false, true, false, true}, "failed on the server");

    // A processed image's undo record enables "Undo Redo Process" too.
    OD_UndoData undo;
    undo.savedStatus = kODStatusReady;
    ASSERT_EQ(undo.SetOtherFile((dir / "original.tif").c_str()), 0);
    ASSERT_EQ(OD_UndoDataAccessor(failed).Write(undo), kSuccess);
    expect({failed}, {true, false, true, true, true}, "an undo record");

    SetStatus(ready, kODStatusSent); // no ready order left in the list
    expect({}, {false, false, false, false, false}, "none ready");

    // Without the panel the states stay as they were last set.
    expect({done}, {false, false, false, true, true}, "all done, none ready");
    ClosePanel();
    EXPECT_TRUE(Enabled(kOrdoUndoRedoActionID));
    EXPECT_FALSE(Enabled(kOrdoSendSelectionActionID));
}

TEST_F(ActionsTest, SendingTakesOnlyTheReadyOrdersInOneStep) {
    plugkit::Server server;
    UseServer(server.path);
    const auto items =
        ImagesWithOrders({kODStatusReady, kODStatusSent, kODStatusDone, kODStatusReady,
                          kODStatusProvisional, kODStatusReplyMinus2});
    const UIDRef selectedReady = items[0], sent = items[1], done = items[2], otherReady = items[3],
                 provisional = items[4], failed = items[5];
    std::vector<OD_ProcData> before(items.size());
    std::transform(items.begin(), items.end(), before.begin(), Order);
    OpenPanel();
    SelectItems({selectedReady, sent, done});
    const int32_t steps = db->UndoCount();
    Perform(kOrdoSendSelectionActionID);
    EXPECT_EQ(Order(selectedReady).status, kODStatusSent);
    EXPECT_FALSE(Order(selectedReady).jobName.IsEmpty());
    EXPECT_EQ(Order(sent), before[1]);
    EXPECT_EQ(Order(done), before[2]);
    EXPECT_EQ(Order(otherReady), before[3]);
    EXPECT_EQ(db->UndoCount(), steps + 1);
    EXPECT_EQ(server.JobFiles(), 2); // CONNECT and one ticket

    Perform(kOrdoSendAllActionID);
    EXPECT_EQ(Order(otherReady).status, kODStatusSent);
    EXPECT_EQ(Order(provisional), before[4]);
    EXPECT_EQ(Order(sent), before[1]);
    EXPECT_EQ(server.JobFiles(), 3);
    EXPECT_EQ(Order(failed), before[5]) << "Send All leaves a failed order alone";
    SelectItems({failed});
    Perform(kOrdoSendSelectionActionID);
    EXPECT_EQ(Order(failed).status, kODStatusSent) << "a failed order goes again when selected";
    EXPECT_TRUE(alerts.Alerts().empty()); // none all along
}

TEST_F(ActionsTest, AHotFolderThatTakesNoJobGivesOneAlertAndLeavesTheOrdersReady) {
    plugkit::Server server;
    UseServer(server.path);
    const auto items = ImagesWithOrders({kODStatusReady, kODStatusReady, kODStatusReady});
    OpenPanel();
    ASSERT_NE(ConnectForSending(Session(), false), nullptr); // CONNECT is in
    platform::SetWriteFaultForTesting([](const char* path) {
        return std::string(path).find("/Data/tmp/") != std::string::npos ? ENOSPC : 0;
    });
    Perform(kOrdoSendAllActionID);
    platform::SetWriteFaultForTesting(nullptr);
    ASSERT_EQ(alerts.Alerts().size(), 1u);
    const std::string text = alerts.Alerts()[0].message.GetUTF8String();
    EXPECT_EQ(text.rfind("3 order(s) could not be sent and stay Ready", 0), 0u) << text;
    EXPECT_NE(text.find(std::strerror(ENOSPC)), std::string::npos) << text;
    for (const UIDRef& item : items) {
        EXPECT_EQ(Order(item).status, kODStatusReady);
    }
    EXPECT_EQ(server.JobFiles(), 1); // CONNECT alone: nothing half-written
}

TEST_F(ActionsTest, SendingWithoutAServerWarnsInTheUsersLanguageAndSendsNothing) {
    UseServer(dir / "nowhere/qorserver");
    const UIDRef ready = ImagesWithOrders({kODStatusReady})[0];
    OpenPanel();
    SelectItems({ready});
    const OD_ProcData before = Order(ready);
    for (auto [locale, table] : {std::pair{0, 301}, std::pair{4, 304}, std::pair{6, 306}}) {
        SCOPED_TRACE(locale);
        HostStrings::SetLocale(locale);
        alerts.Clear();
        Perform(locale == 4 ? kOrdoSendSelectionActionID : kOrdoSendAllActionID);
        ASSERT_EQ(alerts.Alerts().size(), 1u);
        EXPECT_EQ(alerts.Alerts()[0].kind, AlertKind::kWarning);
        const std::string* own = HostStrings::LookupInTable(table, "0x71900kOrdoErrSocketConnect");
        ASSERT_NE(own, nullptr);
        EXPECT_EQ(alerts.Alerts()[0].message.GetUTF8String(), *own);
        EXPECT_EQ(Order(ready), before);
    }
    HostStrings::SetLocale(0);
}

TEST_F(ActionsTest, EditingShowsOneDialogPerImageClassPresent) {
    db = NewDocument("doc");
    std::vector<UIDRef> items;
    const uint32_t classes[] = {kODClassRGB, kODClassCMYK, kODClassRGB, kODClassRGB};
    const uint16_t statuses[] = {kODStatusReady, kODStatusReady, kODStatusReady, kODStatusSent};
    for (int i = 0; i < 4; ++i) {
        items.push_back(PlaceImage(db, PMRect(10 + 60 * i, 10, 50 + 60 * i, 30)));
        Store(items.back(), MakeOrder(statuses[i], classes[i], "name" + std::to_string(i)));
    }
    const UIDRef rgb1 = items[0], cmyk = items[1], rgb2 = items[2], sentRgb = items[3];
    OpenPanel();
    SelectItems(items);

    ScriptOptionsDialog({[](OD_ProcData& record) {
        record.processCode = 12;
        record.profile = PMString("sharpen");
        record.prefix = PMString("SH");
        record.outputName = PMString("not for all");
        return true;
    }});
    const int32_t steps = db->UndoCount();
    Perform(kOrdoEditSelectionActionID);

    // RGB first (two orders: no name, no image status), then CMYK.
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].heading, "RGB Image Parameter(s)");
    EXPECT_TRUE(calls[0].record.outputName.IsEmpty());
    EXPECT_TRUE(calls[0].status.IsEmpty());
    EXPECT_EQ(calls[0].record.profile, "profile-name0");
    EXPECT_EQ(calls[1].heading, "CMYK Image Parameter(s)");
    EXPECT_EQ(calls[1].record.outputName, "name1");
    // 40 x 20 pixels at 72 ppi over 40 x 20 points: too few for the output.
    EXPECT_EQ(calls[1].status, "Insufficient number of pixels, the maximum scale factor is : 54 %");

    // Each RGB order took the options and kept its own name; one step.
    for (const auto& [item, name] : {std::pair{rgb1, "name0"}, std::pair{rgb2, "name2"}}) {
        const OD_ProcData order = Order(item);
        EXPECT_EQ(order.processCode, 12);
        EXPECT_EQ(order.profile, "sharpen");
        EXPECT_EQ(order.prefix, "SH");
        EXPECT_EQ(order.outputName, name);
        EXPECT_EQ(order.status, kODStatusReady);
    }
    EXPECT_EQ(db->UndoCount(), steps + 1);
    // The cancelled CMYK dialog and the sent order changed nothing.
    EXPECT_EQ(Order(cmyk), MakeOrder(kODStatusReady, kODClassCMYK, "name1"));
    EXPECT_EQ(Order(sentRgb), MakeOrder(kODStatusSent, kODClassRGB, "name3"));

    calls.clear(); // one order alone takes the edited record whole
    SelectItems({cmyk});
    ScriptOptionsDialog({[](OD_ProcData& record) {
        record.outputName = PMString("renamed");
        return true;
    }});
    Perform(kOrdoEditSelectionActionID);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(Order(cmyk).outputName, "renamed");
}

TEST_F(ActionsTest, AddingOffersEachImageWithoutAnOrderOnce) {
    const UIDRef ordered = ImagesWithOrders({kODStatusReady})[0];
    const UIDRef second = PlaceImage(db, PMRect(70, 10, 110, 30));
    const UIDRef third = PlaceImage(db, PMRect(130, 10, 170, 30));
    const OD_ProcData orderedBefore = Order(ordered);
    ErrorCode error = kFailure;
    const UIDRef group = DocumentUtils::GroupItems(
        ListOf(db, {FrameOf(ordered), FrameOf(second), FrameOf(third)}), &error);
    ASSERT_EQ(error, kSuccess);
    // The group, and one of its frames once more.
    SelectInLayout(db, {group, FrameOf(second)});

    // The user cancels the first image and confirms the second.
    ScriptOptionsDialog({[](OD_ProcData&) { return false; }, Confirm});
    Perform(kOrdoAddSelectionActionID);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].record.status, kODStatusProvisional);
    EXPECT_EQ(calls[0].record.outputName, "image2");
    EXPECT_EQ(calls[0].heading, "Gray Image Parameter(s)");
    EXPECT_EQ(calls[0].status, "Insufficient number of pixels, the maximum scale factor is : 54 %");
    EXPECT_EQ(calls[1].record.outputName, "image3");
    EXPECT_EQ(Order(second).status, kODStatusProvisional);
    EXPECT_EQ(Order(third).status, kODStatusReady);
    EXPECT_EQ(Order(ordered), orderedBefore);

    // The cancelled image is offered again, and only it.
    calls.clear();
    ScriptOptionsDialog({});
    Perform(kOrdoAddSelectionActionID);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].record.outputName, "image2");
    EXPECT_TRUE(alerts.Alerts().empty());
}

TEST_F(ActionsTest, ImagesThatCannotBeTakenAreNamedOnceAndOfferedAgain) {
    db = NewDocument("doc");
    OpenPanel();
    const UIDRef broken = PlaceImage(db, PMRect(10, 10, 50, 30));
    const UIDRef fine = PlaceImage(db, PMRect(70, 10, 110, 30));
    const UIDRef gone = PlaceImage(db, PMRect(130, 10, 170, 30));
    // Files replaced or removed after they were placed.
    WriteFile(dir / "image1.tif", "not an image at all");
    std::remove((dir / "image3.tif").c_str());
    SelectInLayout(db, {FrameOf(broken), FrameOf(fine), FrameOf(gone)});
    const std::string both = "image1.tif: Unsupported File Format\nimage3.tif: File missing";
    using Round = std::tuple<bool, std::size_t, std::string>; // repaired: image1.tif is an image
    for (const auto& [repaired, dialogs, named] : {Round{false, 1, both}, Round{false, 0, both},
                                                   Round{true, 1, "image3.tif: File missing"}}) {
        if (repaired) {
            dockit::WriteTiff(dir / "image1.tif", 40, 20, 72);
        }
        calls.clear();
        alerts.Clear();
        GetOrdoLog()->Clear();
        ScriptOptionsDialog({Confirm});
        Perform(kOrdoAddSelectionActionID);
        ASSERT_EQ(calls.size(), dialogs);
        // One warning names every image left out, and the log holds the lines.
        ASSERT_EQ(alerts.Alerts().size(), 1u);
        EXPECT_EQ(alerts.Alerts()[0].message.GetUTF8String(),
                  "These images could not be added:\n" + named);
        EXPECT_EQ(GetOrdoLog()->Text(), named + "\n");
        EXPECT_EQ(Order(broken).status, repaired ? kODStatusReady : kODStatusUnreadable);
        EXPECT_EQ(Order(gone).status, kODStatusUnreadable);
        InterfacePtr<IListBoxController> rows(GetOrdoPanelList(), IID_ILISTBOXCONTROLLER);
        EXPECT_EQ(rows->GetRowCount(), 3); // the two that were left out show why
    }
    EXPECT_EQ(Order(fine).status, kODStatusReady);
    EXPECT_EQ(calls[0].record.outputName, "image1");
    // Never taken for an order that may be sent or edited.
    SelectItems({gone});
    EXPECT_FALSE(Enabled(kOrdoSendSelectionActionID));
    EXPECT_FALSE(Enabled(kOrdoEditSelectionActionID));

    // The dialog does not take a missing file for one whose dimensions are OK.
    std::remove((dir / "image2.tif").c_str());
    SelectItems({fine});
    Perform(kOrdoEditSelectionActionID);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].status.GetUTF8String(), "image2.tif: File missing");
}

TEST_F(ActionsTest, UndoRedoProcessSwapsTheSelectedProcessedImage) {
    const UIDRef image = ImagesWithOrders({kODStatusSent})[0];
    const std::string original = LinkOf(image);
    const std::string processed = dir / "processed.tif";
    dockit::WriteTiff(processed, 40, 20, 72);
    UIDRef made;
    ASSERT_TRUE(RelinkToProcessedFile(image, processed.c_str(), 1, 0, made));
    SetStatus(made, kODStatusDone);
    OpenPanel();
    SelectItems({made});
    ASSERT_TRUE(Enabled(kOrdoUndoRedoActionID));
    // Each swap: the panel shows the item it left, its row still selected.
    for (const auto& [link, status] :
         {std::pair{original, kODStatusReady}, std::pair{processed, kODStatusDone}}) {
        Perform(kOrdoUndoRedoActionID);
        ASSERT_EQ(OrdoPanelItems().size(), 1u);
        EXPECT_EQ(LinkOf(OrdoPanelItems()[0]), link);
        EXPECT_EQ(Order(OrdoPanelItems()[0]).status, status);
        EXPECT_EQ(OrdoPanelSelectedItems().Length(), 1);
    }
}

TEST_F(ActionsTest, AddingWithThePanelOpenRebuildsTheListOnceAtTheEnd) {
    db = NewDocument("doc");
    std::vector<UIDRef> images;
    for (int i = 0; i < 5; ++i) {
        images.push_back(PlaceImage(db, PMRect(10 + 60.0 * i, 10, 50 + 60.0 * i, 30)));
    }
    OpenPanel();
    SelectInLayout(db, images);
    ScriptOptionsDialog(std::vector<Answer>(images.size(), Confirm));
    const uint64_t before = OrdoListRebuildCount();
    Perform(kOrdoAddSelectionActionID); // two commands an image
    EXPECT_EQ(OrdoListRebuildCount(), before + 1);
    EXPECT_EQ(OrdoPanelItems(), images); // a row each: Ready
}

} // namespace
