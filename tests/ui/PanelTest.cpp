// The orders panel on a session document: what a scripted session cannot show.

#include "../host/DocumentTestKit.h"
#include "../orders/OrdoSessionKit.h"

#include "CAlert.h"
#include "HostStrings.h"
#include "IApplication.h"
#include "IHierarchy.h"
#include "ILayoutSelection.h"
#include "IOrdoData.h"
#include "IOrdoSuite.h"
#include "OD_DataAccessor.h"
#include "OrdoCommands.h"
#include "OrdoPanel.h"
#include "OrdoPanelInternal.h"
#include "OrdoPanelState.h"
#include "StringTables.h"
#include "TempDir.h"
#include "Widgets.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

class PanelTest : public ::testing::Test {
protected:
    static IApplication* App() { return GetExecutionContextSession()->QueryApplication(); }
    static InterfacePtr<IDocumentList> Documents() {
        return InterfacePtr<IDocumentList>(InterfacePtr<IApplication>(App())->QueryDocumentList());
    }
    static InterfacePtr<IPanelMgr> Panels() {
        return InterfacePtr<IPanelMgr>(InterfacePtr<IApplication>(App())->QueryPanelManager());
    }
    void SetUp() override {
        RegisterOrdoSession();
        RegisterDocumentModel();
        RegisterOrdoData();
        AddOrdoDataToImageItems();
        RegisterOrdoSuite();
        RegisterOrdoPanel();
        HostStrings::Reset();
        RegisterStringTables();
        ResetOrdoPanelStateForTesting();
        SetOrdoBusy(false);
        ErrorUtils::PMSetGlobalErrorCode(kSuccess);
        CAlert::SetAlertSink(&alerts);
        SetOrdoImageOptionsRunner(
            [this](OD_ProcData& record, const PMString& status, const PMString& heading) {
                calls.push_back(record);
                callTexts.push_back(status.GetUTF8String() + "|" + heading.GetUTF8String());
                if (dialogAnswer) {
                    record.prefix = PMString("EDIT");
                }
                return dialogAnswer;
            });
        db = DocumentUtils::NewDocument({.pageCount = 3});
        ASSERT_EQ(Documents()->AddNewDocument(db.get(), kInvalidUID, "Doc"), kSuccess);
        ASSERT_TRUE(
            Documents()->SetDocumentSelection(db.get(), NewDocumentSelection(db.get()).get()));
        dockit::WriteTiff(dir / "at200.tif", 400, 200, 200);
        dockit::WriteTiff(dir / "at72.tif", 400, 200, 72);
        panel = CreateOrdoPanel();
        ASSERT_TRUE(panel);
        ASSERT_TRUE(Panels()->RegisterPanel(panel.get()));
    }

    void TearDown() override {
        Panels()->UnregisterPanel(kOrdoPanelWidgetID);
        panel.reset();
        CloseDocument();
        SetOrdoImageOptionsRunner(nullptr);
        ResetHostForTesting();
        ResetOrdoPanelStateForTesting();
        SetOrdoListRebuildHook(nullptr);
        HostStrings::Reset();
    }

    void CloseDocument() {
        if (db) {
            Documents()->CloseDocument(db.get());
            db.reset();
        }
    }

    void Show() { ASSERT_TRUE(Panels()->ShowPanel(kOrdoPanelWidgetID)); }
    void Hide() { ASSERT_TRUE(Panels()->HidePanel(kOrdoPanelWidgetID)); }

    UIDRef Image(int32_t page = 0, const char* file = "at200.tif") const {
        return dockit::PlaceFile(dockit::AddFrame(db.get(), PMRect(36, 36, 236, 136), page),
                                 dir / file);
    }
    // The order written on the item; the item.
    static UIDRef SetOrder(const UIDRef& item, uint16_t status, int16_t code = 10,
                           const char* name = "photo", const char* prefix = "",
                           const char* profile = "", uint32_t imageClass = kODClassRGB,
                           double resolution = 200.0) {
        OD_ProcData order;
        order.status = status;
        order.processCode = code;
        order.outputName = PMString(name);
        order.prefix = PMString(prefix);
        order.profile = PMString(profile);
        order.imageClass = imageClass;
        order.resolution = resolution;
        EXPECT_EQ(OD_DataAccessor(item).Write(order), kSuccess);
        return item;
    }
    UIDRef Order(uint16_t status, const char* name = "photo") const {
        return SetOrder(Image(), status, 10, name);
    }
    static OD_ProcData Stored(const UIDRef& item) {
        OD_ProcData order;
        EXPECT_EQ(OD_DataAccessor(item).Read(order), 0);
        return order;
    }

    IControlView* List() { return WidgetUtils::FindWidget(panel.get(), kOrdoListBoxWidgetID); }
    InterfacePtr<IListBoxController> Rows() {
        return InterfacePtr<IListBoxController>(List(), IID_ILISTBOXCONTROLLER);
    }
    int32_t RowCount() { return Rows()->GetRowCount(); }
    PMString Cell(int32_t row, WidgetID id) { return PMString(Column(id).at(std::size_t(row))); }
    // One cell of every row (the icon of the status cell).
    std::vector<std::string> Column(WidgetID id = kOrdoNameCellID) {
        std::vector<std::string> out;
        for (int32_t r = 0; r < RowCount(); ++r) {
            const ListRow row = Rows()->GetRow(r);
            const ListCell* cell = row.FindCell(id);
            out.push_back(!cell                         ? "-"
                          : id == kOrdoStatusIconCellID ? std::to_string(cell->iconID)
                                                        : cell->text.GetUTF8String());
        }
        return out;
    }
    void Rebuild(bool addNew = true) { RebuildOrdoList(List(), true, addNew); }
    void DoubleClick(int32_t row) {
        ASSERT_TRUE(WidgetDriver::DoubleClickRow(panel.get(), kOrdoListBoxWidgetID, row));
    }

    TempDir dir;
    std::unique_ptr<IDataBase> db;
    InterfacePtr<IControlView> panel;
    RecordingAlertSink alerts;
    std::vector<OD_ProcData> calls;     // the records the options dialog was opened on
    std::vector<std::string> callTexts; // and "status|heading" of each
    bool dialogAnswer = true;
};

using Texts = std::vector<std::string>;

TEST_F(PanelTest, EachShownStatusHasItsIconOthersGiveNoRowAndPagesAreNumbered) {
    std::vector<UID> shown;
    for (uint16_t status : {1, 0, 2, 4, 0x40, 8, 0x80, 0x10, 0x100, 0x20, 3}) {
        UIDRef image = SetOrder(Image(status == 0x20 ? 2 : 0), status, 10,
                                ("s" + std::to_string(status)).c_str());
        if (OrdoStatusIcon(status) != 0) {
            shown.push_back(image.GetUID());
        }
    }
    const UIDRef spread(db.get(), DocumentUtils::QueryDocument(db.get())->GetNthSpreadUID(0));
    const UIDRef board = DocumentUtils::AddGraphicFrame(spread, PMRect(-500, -500, -300, -400));
    SetOrder(dockit::PlaceFile(board, dir / "at200.tif"), 1, 10, "pasteboard"); // not listed
    Show();
    EXPECT_EQ(Column(), (Texts{"s1", "s2", "s4", "s8", "s128", "s16", "s256", "s32"}));
    EXPECT_EQ(Column(kOrdoStatusIconCellID),
              (Texts{"129", "132", "130", "128", "134", "131", "135", "133"}));
    EXPECT_EQ(Column(kOrdoRowIndexCellID), (Texts{"0", "1", "2", "3", "4", "5", "6", "7"}));
    EXPECT_EQ(Column(kOrdoPageCellID), (Texts{"1", "1", "1", "1", "1", "1", "1", "3"}));
    // An image that cannot be ordered says so, and why.
    EXPECT_EQ(Cell(4, kOrdoOptionsCellID), PMString("Cannot be read"));
    EXPECT_EQ(Cell(4, kOrdoProcessCellID).Translated(), PMString("Unsupported File Format"));
    EXPECT_EQ(Cell(6, kOrdoOptionsCellID), PMString("Not supported"));
    EXPECT_EQ(Cell(6, kOrdoProcessCellID).Translated(), PMString("Unsupported Pixel Type"));
    UIDList items = OrdoPanelItemList();
    EXPECT_EQ(std::vector<UID>(items.begin(), items.end()), shown);
}

TEST_F(PanelTest, AReadyOrderNeedingMorePixelsShowsTheWarningIconButKeepsItsStatus) {
    Order(kODStatusReady, "fine");
    UIDRef small =
        SetOrder(Image(0, "at72.tif"), kODStatusReady, 10, "small", "", "", kODClassRGB, 72.0);
    Show();
    EXPECT_EQ(Column(kOrdoStatusIconCellID), (Texts{"129", "132"})); // ready, resampling
    EXPECT_EQ(Stored(small).status, kODStatusReady);
    OD_PrefsData prefs = OrdoPrefs();
    prefs.SetQualityControl(false); // nothing checked
    SetOrdoPrefs(prefs);
    Rebuild();
    EXPECT_EQ(Column(kOrdoStatusIconCellID), (Texts{"129", "129"}));
}

// Every cell of every row, as "text" ('*' when translated, '@icon'), in the cells' order.
Texts RowTexts(IListBoxController* rows) {
    const WidgetID ids[] = {kOrdoRowIndexCellID, kOrdoStatusIconCellID, kOrdoPageCellID,
                            kOrdoNameCellID,     kOrdoOptionsCellID,    kOrdoProcessCellID,
                            kOrdoImageTypeCellID};
    Texts out;
    for (int32_t r = 0; r < rows->GetRowCount(); ++r) {
        const ListRow row = rows->GetRow(r);
        EXPECT_EQ(row.cells.size(), std::size(ids));
        std::string text;
        for (std::size_t c = 0; c < row.cells.size() && c < std::size(ids); ++c) {
            EXPECT_EQ(row.cells[c].cellID, ids[c]);
            text += (c ? "|" : "") + row.cells[c].text.GetUTF8String() +
                    (row.cells[c].text.IsTranslatable() ? "*" : "") +
                    (row.cells[c].iconID ? "@" + std::to_string(row.cells[c].iconID) : "");
        }
        out.push_back(text);
    }
    return out;
}

TEST_F(PanelTest, EachRebuildShowsWholeNewRowsWhateverTheRowsBefore) {
    // Numbers and the order's own texts as they are; the status cell and the keys translated.
    const std::string key = "|0x71900kOrdoProcessBaseKey", type = "*|0x71900kStrImageType";
    const UIDRef a = SetOrder(Image(0), kODStatusReady, 12, "a-name-long-enough-for-the-heap",
                              "PRE", "Magazine");
    const UIDRef b = SetOrder(Image(1), kODStatusSent, 24, "b", "", "Cmyk", kODClassCMYK);
    SetOrder(Image(2), kODStatusDone, 1, "c", "", "GrayProf", kODClassGray);
    Show();
    const std::string rowC = "|*@128|3|c|GrayProf" + key + "1" + type + "Gray*";
    EXPECT_EQ(RowTexts(Rows().get()),
              (Texts{"0|*@129|1|a-name-long-enough-for-the-heap|PRE" + key + "12" + type + "RGB*",
                     "1|*@130|2|b|Cmyk" + key + "24" + type + "CMYK*", "2" + rowC}));
    // Fewer rows, then more, each with other texts than the row it replaces.
    SetOrder(a, kODStatusNone);
    SetOrder(b, kODStatusDone, 14, "b-now-with-a-much-longer-name", "PRE", "Press", kODClassLab);
    Rebuild();
    const std::string rowB =
        "|*@128|2|b-now-with-a-much-longer-name|Press" + key + "14" + type + "Lab*";
    EXPECT_EQ(RowTexts(Rows().get()), (Texts{"0" + rowB, "1" + rowC}));
    SetOrder(a, kODStatusSent, 99, "", "", "", kODClassFullColor);
    SetOrder(Image(2), kODStatusReady, 1, "d", "CORR", "GrayProf", kODClassGray);
    Rebuild();
    EXPECT_EQ(RowTexts(Rows().get()),
              (Texts{"0|*@130|1||" + key + "99" + type + "Unknown*", "1" + rowB, "2" + rowC,
                     "3|*@129|3|d|CORR" + key + "1" + type + "Gray*"}));
}

TEST_F(PanelTest, NewImagesBecomeOrdersOnlyWhenThePreferencesAskAndTheCallerAllows) {
    UIDRef image = Image();
    Show();
    EXPECT_EQ(RowCount(), 0);
    OD_PrefsData prefs = OrdoPrefs();
    prefs.SetAutoImport(true);
    SetOrdoPrefs(prefs);
    Rebuild(false);
    EXPECT_EQ(Stored(image).status, kODStatusNone);
    Image();
    const int32_t undoBefore = db->UndoCount();
    Rebuild(true);
    EXPECT_EQ(RowCount(), 2);
    EXPECT_EQ(Stored(image).status, kODStatusReady);
    EXPECT_EQ(Stored(image).outputName, PMString("at200"));
    EXPECT_EQ(db->UndoCount(), undoBefore + 1); // both in one step
}

TEST_F(PanelTest, TheLogShowsAndHidesUnderTheListAndThePanelSizeIsHeld) {
    GetOrdoLog()->Append("before the panel");
    Show();
    const PMRect before = List()->GetFrame();
    IControlView* area = WidgetUtils::FindWidget(panel.get(), kOrdoLogAreaWidgetID);
    EXPECT_FALSE(WidgetDriver::IsUsable(panel.get(), kOrdoClearLogWidgetID));
    ASSERT_TRUE(WidgetDriver::SetChecked(panel.get(), kOrdoShowLogWidgetID, true));
    EXPECT_TRUE(area->IsVisible());
    EXPECT_DOUBLE_EQ(List()->GetFrame().Bottom(), before.Bottom() - kOrdoLogAreaHeight);
    EXPECT_GE(area->GetFrame().Top(), List()->GetFrame().Bottom());
    EXPECT_LE(area->GetFrame().Bottom(), before.Bottom());
    GetOrdoLog()->Append("first");
    GetOrdoLog()->Append("second");
    GetOrdoLog()->Show();
    EXPECT_EQ(WidgetUtils::GetText(panel.get(), kOrdoLogTextWidgetID), PMString("first\nsecond\n"));
    ASSERT_TRUE(WidgetDriver::SetChecked(panel.get(), kOrdoShowLogWidgetID, false));
    EXPECT_FALSE(area->IsVisible());
    EXPECT_EQ(List()->GetFrame(), before);
    GetOrdoLog()->Append("kept"); // closed, the log keeps its text and takes no lines
    Hide();
    GetOrdoLog()->Append("dropped");
    EXPECT_EQ(GetOrdoLog()->Text(), "first\nsecond\nkept\n");

    // The panel's size is held at its limits.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const double cases[][4] = {
        {1200.00000001, 1024.00000001, 1200.00000001, 1024.00000001},
        {1200.0000001, 1024.0000001, 1200.0, 1024.0},
        {206.99999999, 111.99999999, 207.0, 112.0},
        {206.999999995, 111.999999995, 206.999999995, 111.999999995},
        {300.0, 200.0, 300.0, 200.0},
        {0.0, -10.0, 207.0, 112.0},
        {nan, inf, 207.0, 1024.0},
        {-inf, nan, 207.0, 112.0},
    };
    for (const auto& c : cases) {
        PMPoint size = panel->ConstrainDimensions(PMPoint(c[0], c[1]));
        EXPECT_EQ(std::pair(size.X(), size.Y()), std::pair(c[2], c[3])) << c[0] << " " << c[1];
    }
    panel->Resize(PMPoint(100, 2000));
    EXPECT_EQ(std::pair(panel->GetFrame().Width(), panel->GetFrame().Height()),
              std::pair(207.0, 1024.0));
}

// The double-click: the order refilled from its file, an unreadable image read again, a
// processed order's question (a sent order and Cancel are the scripted panel session's).
TEST_F(PanelTest, ADoubleClickOpensTheRefilledOrder) {
    UIDRef image = SetOrder(Image(0, "at72.tif"), kODStatusReady, 12, "Custom", "PRE", "Magazine");
    dockit::WriteTiff(dir / "damaged.tif", 400, 200, 72);
    UIDRef still = SetOrder(Image(0, "damaged.tif"), kODStatusUnreadable, 10, "damaged");
    WriteFile(dir / "damaged.tif", "no longer an image");
    UIDRef readable = Order(kODStatusUnreadable, "readable");
    UIDRef done = Order(kODStatusDone, "done");
    Show();
    ASSERT_EQ(RowCount(), 4);
    DoubleClick(0);
    ASSERT_EQ(calls.size(), 1u);
    // Refilled from the file (gray, 72 ppi: 54 % at most for 200 dpi), the options kept.
    const OD_ProcData& r = calls[0];
    EXPECT_TRUE(r.imageClass == kODClassGray && r.resolution == 72.0 && r.processCode == 12 &&
                r.outputName == PMString("Custom") && r.profile == PMString("Magazine"));
    EXPECT_EQ(callTexts[0], "Insufficient number of pixels, the maximum scale factor is : 54 %|"
                            "Gray Image Parameter(s)");
    EXPECT_EQ(Stored(image).prefix, PMString("EDIT"));
    EXPECT_EQ(Cell(0, kOrdoOptionsCellID), PMString("EDIT"));
    dialogAnswer = false; // Cancel changes nothing
    const OD_ProcData before = Stored(image);
    DoubleClick(0);
    EXPECT_EQ(calls.size(), 2u);
    EXPECT_EQ(Stored(image), before);
    dialogAnswer = true;

    // Still unreadable: the row stays with its reason, and the user is told.
    DoubleClick(1);
    EXPECT_EQ(calls.size(), 2u);
    EXPECT_EQ(Stored(still).status, kODStatusUnreadable);
    ASSERT_EQ(alerts.Alerts().size(), 1u);
    EXPECT_EQ(alerts.Alerts()[0].message,
              "These images could not be added:\ndamaged.tif: Unsupported File Format");
    EXPECT_EQ(GetOrdoLog()->Text(), "damaged.tif: Unsupported File Format\n");
    // Readable now: offered as a new image, filled afresh from its file.
    DoubleClick(2);
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[2].status, kODStatusProvisional);
    EXPECT_EQ(callTexts[2] + "|" + Stored(readable).prefix.GetUTF8String(),
              "Dimensions are OK|Gray Image Parameter(s)|EDIT");

    // Processed: OK with the box ticked opens the dialog, and the next time without asking.
    alerts.Answer(CAlert::kOKButton, true); // the stand-in dialog left "readable" provisional
    DoubleClick(2);
    ASSERT_EQ(alerts.Alerts().size(), 2u);
    EXPECT_EQ(alerts.Alerts()[1].dontShowAgainID, kOrdoAlreadyProcessedAlertID);
    EXPECT_EQ(Stored(done).status, kODStatusReady);
    SetOrder(done, kODStatusReplyMinus1, 10, "warned");
    DoubleClick(2);
    EXPECT_EQ(alerts.Alerts().size(), 2u);
    EXPECT_EQ(calls.size(), 5u);
}

TEST_F(PanelTest, DroppedImagesBecomeReadyOrders) {
    UIDRef fresh = Image();
    UIDRef sent = Order(kODStatusSent, "sent");
    Show();
    auto drop = [&](std::vector<UID> uids) {
        DragDropData drag{{}, UIDList(db.get())};
        for (UID uid : uids) {
            drag.pageItems.Append(uid);
        }
        return WidgetDriver::Drop(panel.get(), kOrdoListBoxWidgetID, drag);
    };
    // The frame of the new image, and the sent image itself (left as it is).
    EXPECT_EQ(drop({InterfaceOf<IHierarchy>(fresh)->GetParentUID(), sent.GetUID()}), kSuccess);
    EXPECT_EQ(Stored(fresh).status, kODStatusReady);
    EXPECT_EQ(Stored(sent).status, kODStatusSent);
    EXPECT_EQ(Column(), (Texts{"at200", "sent"}));
    // Nothing that can become an order: refused quietly.
    EXPECT_EQ(drop({dockit::AddFrame(db.get(), PMRect(36, 36, 236, 136), 1).GetUID(), UID(999999)}),
              kFailure);
    EXPECT_EQ(WidgetDriver::Drop(panel.get(), kOrdoListBoxWidgetID, DragDropData{}), kFailure);
    EXPECT_TRUE(alerts.Alerts().empty());
    EXPECT_EQ(RowCount(), 2);
    // An image on the pasteboard is one the list never shows: named, not ordered.
    UIDRef aside = dockit::PlaceFile(dockit::AddFrame(db.get(), PMRect(-400, 36, -200, 136)),
                                     dir / "at200.tif");
    EXPECT_EQ(drop({aside.GetUID()}), kFailure);
    EXPECT_FALSE(IsOrdered(aside));
    ASSERT_EQ(alerts.Alerts().size(), 1u);
    EXPECT_NE(alerts.Alerts()[0].message.GetUTF8String().find("at200.tif: lies on the pasteboard"),
              std::string::npos);
}

// The flag a burst of changes raises and the refresh task that takes it are the plug-in's.
TEST_F(PanelTest, TheListRebuildsOnADocumentMessageNotWhileBusyNorOnceClosed) {
    Show(); // empty: no rows, Go refused
    EXPECT_EQ(GetOrdoPanelList(), List());
    EXPECT_FALSE(WidgetDriver::Press(panel.get(), kOrdoGoButtonWidgetID));
    const uint64_t before = OrdoListRebuildCount();
    InterfacePtr<ISubject>(DocumentUtils::QueryDocument(db.get()), IID_ISUBJECT)
        ->Change(kOrdoDocumentChangedMessage, kOrdoDocumentProtocol);
    EXPECT_EQ(OrdoListRebuildCount(), before + 1);

    SetOrdoBusy(true);
    UIDRef image = Order(kODStatusReady); // its command asks for a rebuild
    EXPECT_EQ(OrdoListRebuildCount(), before + 1);
    EXPECT_EQ(RowCount(), 0);
    EXPECT_TRUE(IsOrdoBusy());
    SetOrdoBusy(false);
    SetOrdoRefreshNeeded(true);
    Rebuild();
    EXPECT_EQ(OrdoPanelItemList().GetRef(0), image);
    EXPECT_FALSE(IsOrdoRefreshNeeded());
    EXPECT_FALSE(IsOrdoBusy());

    // Bad calls change nothing; closing the panel or its document lets go of both.
    RebuildOrdoList(nullptr, true, true);
    RebuildOrdoList(panel.get(), true, true); // not a list
    EXPECT_EQ(RowCount(), 1);
    EXPECT_FALSE(WidgetDriver::DoubleClickRow(panel.get(), kOrdoListBoxWidgetID, 5));
    for (const char* index : {"", "x", "-1", "7"}) {
        ListRow row;
        row.cells.push_back({kOrdoRowIndexCellID, PMString(index), 0});
        InterfacePtr<IEventHandler> handler(CreateOrdoListElement(row), IID_IEVENTHANDLER);
        ASSERT_TRUE(handler);
        EXPECT_EQ(handler->LButtonDblClk(), std::string(index) == "7") << index;
    }
    EXPECT_TRUE(calls.empty());
    Hide();
    EXPECT_EQ(GetOrdoPanelList(), nullptr);
    EXPECT_EQ(RowCount(), 0);
    EXPECT_TRUE(OrdoPanelItemList().IsEmpty() && OrdoPanelSelectedItems().IsEmpty());
    const uint64_t hidden = OrdoListRebuildCount();
    Order(kODStatusReady); // no list: its command rebuilds nothing
    EXPECT_EQ(OrdoListRebuildCount(), hidden);
    Show();
    EXPECT_EQ(RowCount(), 2);
    CloseDocument();
    Rebuild();
    EXPECT_EQ(RowCount(), 0);
}

} // namespace
