// Page-item analysis: kinds and children of items, the placed images under an item and in the
// front document, and the selection suite that hands the order code the layout selection.

#include "OrdoDocumentKit.h"

namespace {

InterfacePtr<IDocumentList> Documents() {
    InterfacePtr<IApplication> app(GetExecutionContextSession()->QueryApplication());
    return InterfacePtr<IDocumentList>(app->QueryDocumentList());
}

struct OpenDocument {
    std::unique_ptr<IDataBase> db;

    // One page, opened as the front document with a layout selection.
    OpenDocument() : db(DocumentUtils::NewDocument()) {
        InterfacePtr<IDocumentList> docs = Documents();
        EXPECT_EQ(docs->AddNewDocument(db.get(), kInvalidUID, "Doc"), kSuccess);
        InterfacePtr<IIntegratorTarget> selection = NewDocumentSelection(db.get());
        EXPECT_TRUE(selection);
        EXPECT_TRUE(docs->SetDocumentSelection(db.get(), selection.get()));
    }
    ~OpenDocument() { Close(); }

    void Close() {
        if (db) {
            Documents()->CloseDocument(db.get());
            db.reset();
        }
    }
    IDataBase* Db() const { return db.get(); }
    UIDRef Page(int32_t index) const { return DocumentUtils::GetNthPage(db.get(), index); }
};

using ordokit::ListOf;

std::vector<uint32_t> UIDs(const UIDList& list) {
    std::vector<uint32_t> out;
    std::ranges::transform(list, std::back_inserter(out), &UID::Get);
    return out;
}

std::vector<uint32_t> UIDs(std::initializer_list<UIDRef> refs) {
    return UIDs(ListOf(nullptr, refs));
}

// An image item that also carries graphic-frame data, and a plain subclass of the image item.
inline constexpr ClassID kFramedImageTestBoss{0x90201};
inline constexpr ClassID kImageSubclassTestBoss{0x90202};

// A concrete selection whose suite answers as it is told and records calls.
inline constexpr ClassID kCountingSelectionTestBoss{0x90203};
inline constexpr ClassID kSuitelessSelectionTestBoss{0x90204};
inline constexpr ImplementationID kCountingSuiteTestImpl{0x90203};

// The calls made, as "Has1 Get2 " for Has... on the suite tagged 1, Get... on the one tagged 2.
std::string suiteCalls;

class CountingSuite : public CPMUnknown<IOrdoSuite> {
public:
    explicit CountingSuite(IPMUnknown* o) : CPMUnknown<IOrdoSuite>(o) {}
    bool HasSelectedItems() const override {
        suiteCalls += "Has" + std::to_string(tag) + " ";
        return answer;
    }
    void GetSelectedItems(UIDList& list) const override {
        suiteCalls += "Get" + std::to_string(tag) + " ";
        list.Append(UID(static_cast<uint32_t>(tag)));
    }
    int32_t tag = 0;
    bool answer = false;
};

class PageItemAnalysisTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetHostForTesting();
        ObjectModel& model = ObjectModel::Get();
        model.Reset();
        RegisterHostServices();
        RegisterDocumentModel();
        RegisterOrdoSuite();
        model.DefineClass({kFramedImageTestBoss,
                           kImageItemBoss,
                           {{IID_IGRAPHICFRAMEDATA, kGraphicFrameDataImpl}}});
        model.DefineClass({kImageSubclassTestBoss, kImageItemBoss, {}});
        model.RegisterImplementation(
            {kCountingSuiteTestImpl, "CountingSuite", CreateImplementation<CountingSuite>, false});
        model.DefineClass({kCountingSelectionTestBoss,
                           kInvalidClass,
                           {{IID_IORDOSUITE, kCountingSuiteTestImpl}}});
        model.DefineClass(
            {kSuitelessSelectionTestBoss, kInvalidClass, {{IID_ILAYOUTTARGET, kLayoutTargetImpl}}});
        ErrorUtils::PMSetGlobalErrorCode(kSuccess);
        suiteCalls.clear();
        image = dir / "photo.tif";
        dockit::WriteTiff(image, 40, 20, 72);
    }
    void TearDown() override {
        ResetHostForTesting();
        ObjectModel::Get().Reset();
    }

    // A graphic frame on the document's first page.
    static UIDRef Frame(IDataBase* db, double left, double top) {
        return dockit::AddFrame(db, PMRect(left, top, left + 50, top + 30));
    }
    static UIDRef Item(ClassID itemClass, const UIDRef& where, double left, double top) {
        ErrorCode error = kFailure;
        UIDRef item = DocumentUtils::AddPageItem(itemClass, where,
                                                 PMRect(left, top, left + 50, top + 30), &error);
        EXPECT_EQ(error, kSuccess) << DocumentErrorText(error);
        return item;
    }
    UIDRef Place(const UIDRef& frame) const { return dockit::PlaceFile(frame, image); }
    static UIDRef Group(IDataBase* db, std::initializer_list<UIDRef> items) {
        ErrorCode error = kFailure;
        UIDRef group = DocumentUtils::GroupItems(ListOf(db, items), &error);
        EXPECT_EQ(error, kSuccess) << DocumentErrorText(error);
        return group;
    }

    TempDir dir;
    std::string image;
};

} // namespace

// Kind, children, placed or not, and the images under it (depth first); no value: not asked.
TEST_F(PageItemAnalysisTest, ItemsReportKindChildrenAndThePlacedImagesUnderThem) {
    OpenDocument doc;
    IDataBase* db = doc.Db();
    UIDRef frameA = Frame(db, 10, 10), imageA = Place(frameA); // a frame with its image
    // Two framed images grouped; C placed first, so the UIDs are not in the hierarchy's order.
    UIDRef frameB = Frame(db, 10, 100), frameC = Frame(db, 70, 100);
    UIDRef imageC = Place(frameC), imageB = Place(frameB);
    UIDRef pair = Group(db, {frameB, frameC});
    UIDRef emptyFrame = Frame(db, 10, 200);
    UIDRef text = Item(kTextFrameItemBoss, doc.Page(0), 70, 200);
    UIDRef shape = Item(kShapeItemBoss, doc.Page(0), 130, 200);
    UIDRef frameD = Frame(db, 10, 300), imageD = Place(frameD);
    UIDRef frameE = Frame(db, 70, 300), imageE = Place(frameE);
    UIDRef frameF = Frame(db, 130, 300), imageF = Place(frameF);
    UIDRef inner = Group(db, {frameD, frameE});
    UIDRef nested = Group(db, {inner, frameF});
    UIDRef frameG = Frame(db, 10, 400), imageG = Place(frameG);
    UIDRef single = Group(db, {frameG}); // a group of one frame
    UIDRef deleted = Frame(db, 300, 10);
    Place(deleted);
    ASSERT_EQ(DocumentUtils::DeletePageItem(deleted), kSuccess);
    UIDRef framedImage(db, db->NewUID(kFramedImageTestBoss));
    UIDRef imageSubclass(db, db->NewUID(kImageSubclassTestBoss));
    UIDRef spread(db, DocumentUtils::QueryDocument(db)->GetNthSpreadUID(0));
    using K = OD_PageItem::Kind;
    using Found = std::optional<std::vector<uint32_t>>;
    const Found none = std::vector<uint32_t>{};
    const Found all = UIDs({imageA, imageB, imageC, imageD, imageE, imageF, imageG});
    struct Case {
        const char* name;
        UIDRef item;
        std::optional<K> kind;
        std::vector<UIDRef> children;
        std::optional<bool> placed;
        Found images;
    } cases[] = {
        {"frame with image", frameA, K::kFrame, {imageA}, false, UIDs({imageA})},
        {"placed image", imageA, K::kGraphic, {}, true, UIDs({imageA})},
        {"pair", pair, K::kGroup, {frameB, frameC}, false, UIDs({imageB, imageC})},
        {"empty frame", emptyFrame, K::kFrame, {}, false, none},
        {"text frame", text, K::kFrame, {}, false, none},
        {"unassigned frame", shape, K::kFrame, {}, false, none},
        {"nested", nested, K::kGroup, {inner, frameF}, {}, UIDs({imageD, imageE, imageF})},
        {"inner group alone", inner, {}, {}, {}, UIDs({imageD, imageE})},
        // A group needs more than one child to count as one.
        {"group of one frame", single, K::kOther, {frameG}, {}, UIDs({imageG})},
        {"page", doc.Page(0), K::kOther, {}, false, none},
        {"spread: all", spread, {}, {}, false, all},
        {"deleted frame", deleted, K::kOther, {}, {}, none},
        {"invalid reference", UIDRef(), K::kOther, {}, false, none},
        {"unknown UID", UIDRef(db, UID(9999)), K::kOther, {}, {}, {}},
        {"image in a group's frame", imageB, {}, {}, true, {}},
        {"image subclass", imageSubclass, {}, {}, true, {}},
        {"image that carries frame data", framedImage, {}, {}, false, none},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.kind) {
            OD_PageItem item(c.item);
            EXPECT_EQ(std::tuple(item.GetRef(), item.GetKind()), std::tuple(c.item, *c.kind));
            ASSERT_EQ(item.GetChildCount(), static_cast<int32_t>(c.children.size()));
            for (std::size_t i = 0; i < c.children.size(); ++i) {
                EXPECT_EQ(item.GetChild(static_cast<int32_t>(i)), c.children[i]) << "child " << i;
            }
            EXPECT_EQ(item.GetChild(item.GetChildCount()), UIDRef());
            EXPECT_EQ(item.GetChild(-1), UIDRef());
            // An image item is a graphic without children, whatever it wraps (virtual calls).
            OD_ImageItem image(c.item);
            const OD_PageItem& asItem = image;
            EXPECT_EQ(std::tuple(asItem.GetRef(), asItem.GetKind(), asItem.GetChildCount()),
                      std::tuple(c.item, OD_PageItem::kGraphic, 0));
            EXPECT_EQ(asItem.GetChild(0), UIDRef());
        }
        if (c.placed) {
            EXPECT_EQ(IsPlacedImage(c.item), *c.placed);
        }
        if (c.images) {
            UIDList list(db);
            CollectImages(c.item, list);
            EXPECT_EQ(UIDs(list), *c.images);
            EXPECT_EQ(list.GetDataBase(), db);
        }
    }
    OD_PageItem item;
    EXPECT_EQ(std::tuple(item.GetRef(), item.GetKind(), item.GetChildCount()),
              std::tuple(UIDRef(), OD_PageItem::kOther, 0));
    item.SetRef(pair);
    EXPECT_EQ(item.GetKind(), OD_PageItem::kGroup);

    // Collecting appends to a list of the item's database only: after what the list holds,
    // found twice when asked twice.
    UIDList list = ListOf(db, {text});
    CollectImages(frameA, list);
    CollectImages(pair, list);
    CollectImages(frameA, list);
    EXPECT_EQ(UIDs(list), UIDs({text, imageA, imageB, imageC, imageA}));

    // An empty list without a database takes the item's.
    UIDList fresh;
    CollectImages(pair, fresh);
    EXPECT_EQ(std::pair(fresh.GetDataBase(), UIDs(fresh)), std::pair(db, UIDs({imageB, imageC})));

    // A list of another document is left alone.
    OpenDocument other;
    UIDList foreign = ListOf(other.Db(), {UIDRef(other.Db(), UID(7))});
    CollectImages(pair, foreign);
    EXPECT_EQ(std::pair(foreign.GetDataBase(), UIDs(foreign)),
              std::pair(other.Db(), std::vector<uint32_t>{7}));
    UIDList emptyForeign(other.Db());
    CollectImages(frameA, emptyForeign);
    EXPECT_TRUE(emptyForeign.IsEmpty());

    // An image gone from its frame is no longer found; Undo brings it back.
    UIDList afterDeleting(db), afterUndoing(db);
    ASSERT_EQ(DocumentUtils::DeletePageItem(imageB), kSuccess);
    CollectImages(pair, afterDeleting);
    EXPECT_EQ(UIDs(afterDeleting), UIDs({imageC}));
    ASSERT_TRUE(db->Undo());
    CollectImages(pair, afterUndoing);
    EXPECT_EQ(UIDs(afterUndoing), UIDs({imageB, imageC}));
}

TEST_F(PageItemAnalysisTest, TheFrontDocumentDecidesAndASelectionKeptPastItsDocumentIsEmpty) {
    // The front document's images replace the list, database and all; no document: left alone.
    auto expectFound = [](IDataBase* front, const std::vector<uint32_t>& images) {
        UIDList list = ListOf(nullptr, {UIDRef(nullptr, UID(42))});
        CollectDocumentImages(list);
        EXPECT_EQ(list.GetDataBase(), front);
        EXPECT_EQ(UIDs(list), front ? images : std::vector<uint32_t>{42});
    };
    expectFound(nullptr, {});
    auto a = std::make_unique<OpenDocument>();
    UIDRef inA = Place(Frame(a->Db(), 10, 10));
    OpenDocument b;
    UIDRef inB1 = Place(Frame(b.Db(), 10, 10));
    UIDRef inB2 = Place(Frame(b.Db(), 10, 100));
    expectFound(b.Db(), UIDs({inB1, inB2})); // opened last, in front
    ASSERT_TRUE(Documents()->SetFrontDocument(a->Db()));
    expectFound(a->Db(), UIDs({inA}));
    a.reset();
    b.Close();
    OpenDocument empty;
    expectFound(empty.Db(), {});
    empty.Close();
    expectFound(nullptr, {}); // all closed: nothing changes again

    // A selection kept past its document is empty.
    auto doc = std::make_unique<OpenDocument>();
    UIDRef frame = Frame(doc->Db(), 10, 10);
    InterfacePtr<ILayoutSelection>(DocumentUtils::QueryDocument(doc->Db()).get(),
                                   IID_ILAYOUTSELECTION)
        ->Select(ListOf(doc->Db(), {frame}));
    InterfacePtr<IApplication> app(GetExecutionContextSession()->QueryApplication());
    InterfacePtr<IOrdoSuite> suite(app->GetActiveContext()->GetContextSelection(), IID_IORDOSUITE);
    ASSERT_TRUE(suite);
    ASSERT_TRUE(suite->HasSelectedItems());

    // Held past its document's closing, then past its database.
    ASSERT_EQ(Documents()->CloseDocument(doc->Db()), kSuccess);
    EXPECT_FALSE(suite->HasSelectedItems());
    doc.reset();
    EXPECT_FALSE(suite->HasSelectedItems());
    UIDList items = ListOf(nullptr, {UIDRef(nullptr, UID(1))});
    suite->GetSelectedItems(items);
    EXPECT_TRUE(items.IsEmpty());
    // And without a front document, an action has no selection to ask.
    EXPECT_EQ(app->GetActiveContext()->GetContextSelection(), nullptr);

    // A layout selection for no document has nothing either.
    InterfacePtr<IIntegratorTarget> loose = NewDocumentSelection(nullptr);
    InterfacePtr<IOrdoSuite> looseSuite(loose, IID_IORDOSUITE);
    ASSERT_TRUE(looseSuite);
    EXPECT_FALSE(looseSuite->HasSelectedItems());
}

TEST_F(PageItemAnalysisTest, TheAbstractSuiteAsksEachConcreteSuiteInOrder) {
    auto abstract = CreateObject2<IIntegratorTarget>(kAbstractSelectionBoss, IID_IINTEGRATORTARGET);
    ASSERT_TRUE(abstract);
    InterfacePtr<IOrdoSuite> suite(abstract, IID_IORDOSUITE);
    ASSERT_TRUE(suite);

    // No concrete selection: nothing selected, the caller's list emptied, not left stale.
    EXPECT_FALSE(suite->HasSelectedItems());
    UIDList stale = ListOf(nullptr, {UIDRef(nullptr, UID(9))});
    suite->GetSelectedItems(stale);
    EXPECT_TRUE(stale.IsEmpty());

    auto first = CreateObject2<IOrdoSuite>(kCountingSelectionTestBoss, IID_IORDOSUITE);
    auto suiteless = CreateObject2<ILayoutTarget>(kSuitelessSelectionTestBoss, IID_ILAYOUTTARGET);
    auto second = CreateObject2<IOrdoSuite>(kCountingSelectionTestBoss, IID_IORDOSUITE);
    static_cast<CountingSuite*>(first.get())->tag = 1;
    static_cast<CountingSuite*>(second.get())->tag = 2;
    // The last three are refused: a repeat, nothing, and the abstract selection (would recurse).
    for (IPMUnknown* s : std::initializer_list<IPMUnknown*>{
             first.get(), suiteless.get(), second.get(), first.get(), nullptr, suite.get()}) {
        abstract->AddConcreteSelection(s);
    }
    EXPECT_EQ(abstract->GetConcreteSelectionCount(), 3);
    EXPECT_EQ(abstract->GetTarget(IID_IORDOSUITE).size(), 2u);

    struct Case {
        const char* name;
        bool firstAnswers, secondAnswers, has;
        const char* calls; // the suites asked, in order
    } cases[] = {
        {"neither", false, false, false, "Has1 Has2 "},
        {"only the second", false, true, true, "Has1 Has2 "},
        {"the first: the second is not asked", true, false, true, "Has1 "},
        {"both", true, true, true, "Has1 "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        static_cast<CountingSuite*>(first.get())->answer = c.firstAnswers;
        static_cast<CountingSuite*>(second.get())->answer = c.secondAnswers;
        suiteCalls.clear();
        EXPECT_EQ(suite->HasSelectedItems(), c.has);
        EXPECT_EQ(suiteCalls, c.calls);
    }

    // Every concrete suite writes into the caller's own list, in order.
    suiteCalls.clear();
    UIDList items;
    suite->GetSelectedItems(items);
    EXPECT_EQ(std::pair(UIDs(items), suiteCalls),
              std::pair(std::vector<uint32_t>{1, 2}, std::string("Get1 Get2 ")));
}
