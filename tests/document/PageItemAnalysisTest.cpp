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

    explicit OpenDocument(int32_t pages = 1, int32_t perSpread = 1) {
        DocumentUtils::NewDocumentOptions options;
        options.pageCount = pages;
        options.pagesPerSpread = perSpread;
        db = DocumentUtils::NewDocument(options);
        InterfacePtr<IDocumentList> docs = Documents();
        EXPECT_EQ(docs->AddNewDocument(db.get(), kInvalidUID, "Doc"), kSuccess);
        InterfacePtr<IIntegratorTarget> selection = NewDocumentSelection(db.get());
        EXPECT_TRUE(selection);
        EXPECT_TRUE(docs->SetDocumentSelection(db.get(), selection.get()));
    }
    ~OpenDocument() { Close(); }
    OpenDocument(const OpenDocument&) = delete;
    OpenDocument& operator=(const OpenDocument&) = delete;

    void Close() {
        if (db) {
            Documents()->CloseDocument(db.get());
            db.reset();
        }
    }
    IDataBase* Db() const { return db.get(); }
    UIDRef Page(int32_t index) const { return DocumentUtils::GetNthPage(db.get(), index); }
    UIDRef Spread(int32_t index) const {
        InterfacePtr<IDocument> doc = DocumentUtils::QueryDocument(db.get());
        return UIDRef(db.get(), doc->GetNthSpreadUID(index));
    }
    InterfacePtr<ILayoutSelection> Selection() const {
        InterfacePtr<IDocument> doc = DocumentUtils::QueryDocument(db.get());
        return InterfacePtr<ILayoutSelection>(doc.get(), IID_ILAYOUTSELECTION);
    }
};

UIDList List(IDataBase* db, std::initializer_list<UIDRef> refs) {
    return ordokit::ListOf(db, refs);
}

std::vector<uint32_t> UIDs(const UIDList& list) {
    std::vector<uint32_t> out;
    for (UID uid : list) {
        out.push_back(uid.Get());
    }
    return out;
}

std::vector<uint32_t> UIDs(std::initializer_list<UIDRef> refs) {
    std::vector<uint32_t> out;
    for (const UIDRef& ref : refs) {
        out.push_back(ref.GetUID().Get());
    }
    return out;
}

// An image item that also carries graphic-frame data, and a plain subclass of the image item.
inline constexpr ClassID kFramedImageTestBoss{0x90201};
inline constexpr ClassID kImageSubclassTestBoss{0x90202};

// A concrete selection whose suite answers as it is told and records calls.
inline constexpr ClassID kCountingSelectionTestBoss{0x90203};
inline constexpr ClassID kSuitelessSelectionTestBoss{0x90204};
inline constexpr ImplementationID kCountingSuiteTestImpl{0x90203};

struct SuiteCall {
    int32_t tag;
    const char* operation;
};
std::vector<SuiteCall> suiteCalls;

class CountingSuite : public CPMUnknown<IOrdoSuite> {
public:
    explicit CountingSuite(IPMUnknown* o) : CPMUnknown<IOrdoSuite>(o) {}
    bool HasSelectedItems() const override {
        suiteCalls.push_back({tag, "Has"});
        return answer;
    }
    void GetSelectedItems(UIDList& list) const override {
        suiteCalls.push_back({tag, "Get"});
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

    static UIDRef Frame(const UIDRef& where, double left, double top) {
        ErrorCode error = kFailure;
        UIDRef frame =
            DocumentUtils::AddGraphicFrame(where, PMRect(left, top, left + 50, top + 30), &error);
        EXPECT_EQ(error, kSuccess) << DocumentErrorText(error);
        return frame;
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
        UIDRef group = DocumentUtils::GroupItems(List(db, items), &error);
        EXPECT_EQ(error, kSuccess) << DocumentErrorText(error);
        return group;
    }
    static UIDList Collected(const UIDRef& item) {
        UIDList list(item.GetDataBase());
        CollectImages(item, list);
        return list;
    }
    static InterfacePtr<IOrdoSuite> ContextSuite() {
        InterfacePtr<IApplication> app(GetExecutionContextSession()->QueryApplication());
        IPMUnknown* selection = app->GetActiveContext()->GetContextSelection();
        return InterfacePtr<IOrdoSuite>(selection, IID_IORDOSUITE);
    }

    TempDir dir;
    std::string image;
};

struct Layout {
    OpenDocument doc;
    UIDRef frameA, imageA;       // a frame with its image
    UIDRef pair, frameB, imageB; // a group of two frames with images
    UIDRef frameC, imageC;
    UIDRef emptyFrame, text, shape;
    UIDRef nested, inner, frameD, imageD, frameE, imageE, frameF, imageF;
    UIDRef single, frameG, imageG; // a group of one frame
};

class PageItemAnalysisLayoutTest : public PageItemAnalysisTest {
protected:
    void SetUp() override {
        PageItemAnalysisTest::SetUp();
        l = std::make_unique<Layout>();
        UIDRef page = l->doc.Page(0);
        l->frameA = Frame(page, 10, 10);
        l->imageA = Place(l->frameA);
        l->frameB = Frame(page, 10, 100);
        l->frameC = Frame(page, 70, 100);
        // C gets its image first: the images' UIDs are not in the hierarchy's order.
        l->imageC = Place(l->frameC);
        l->imageB = Place(l->frameB);
        l->pair = Group(l->doc.Db(), {l->frameB, l->frameC});
        l->emptyFrame = Frame(page, 10, 200);
        l->text = Item(kTextFrameItemBoss, page, 70, 200);
        l->shape = Item(kShapeItemBoss, page, 130, 200);
        l->frameD = Frame(page, 10, 300);
        l->frameE = Frame(page, 70, 300);
        l->frameF = Frame(page, 130, 300);
        l->imageD = Place(l->frameD);
        l->imageE = Place(l->frameE);
        l->imageF = Place(l->frameF);
        l->inner = Group(l->doc.Db(), {l->frameD, l->frameE});
        l->nested = Group(l->doc.Db(), {l->inner, l->frameF});
        l->frameG = Frame(page, 10, 400);
        l->imageG = Place(l->frameG);
        l->single = Group(l->doc.Db(), {l->frameG});
    }
    void TearDown() override {
        l.reset();
        PageItemAnalysisTest::TearDown();
    }

    std::unique_ptr<Layout> l;
};

} // namespace

// Kind, children, placed or not, and the images under it (depth first); no value: not asked.
TEST_F(PageItemAnalysisLayoutTest, ItemsReportKindChildrenAndThePlacedImagesUnderThem) {
    const Layout& L = *l;
    IDataBase* db = L.doc.Db();
    UIDRef deleted = Frame(L.doc.Page(0), 300, 10);
    Place(deleted);
    ASSERT_EQ(DocumentUtils::DeletePageItem(deleted), kSuccess);
    UIDRef framedImage(db, db->NewUID(kFramedImageTestBoss));
    UIDRef imageSubclass(db, db->NewUID(kImageSubclassTestBoss));
    using K = OD_PageItem::Kind;
    using Found = std::optional<std::vector<uint32_t>>;
    const Found none = std::vector<uint32_t>{};
    struct Case {
        const char* name;
        UIDRef item;
        std::optional<K> kind;
        std::vector<UIDRef> children;
        std::optional<bool> placed;
        Found images;
    } cases[] = {
        {"frame with image", L.frameA, K::kFrame, {L.imageA}, false, UIDs({L.imageA})},
        {"placed image", L.imageA, K::kGraphic, {}, true, UIDs({L.imageA})},
        {"pair", L.pair, K::kGroup, {L.frameB, L.frameC}, false, UIDs({L.imageB, L.imageC})},
        {"empty frame", L.emptyFrame, K::kFrame, {}, false, none},
        {"text frame", L.text, K::kFrame, {}, false, none},
        {"unassigned frame", L.shape, K::kFrame, {}, false, none},
        {"nested",
         L.nested,
         K::kGroup,
         {L.inner, L.frameF},
         {},
         UIDs({L.imageD, L.imageE, L.imageF})},
        {"inner group alone", L.inner, {}, {}, {}, UIDs({L.imageD, L.imageE})},
        // A group needs more than one child to count as one.
        {"group of one frame", L.single, K::kOther, {L.frameG}, {}, UIDs({L.imageG})},
        {"page", L.doc.Page(0), K::kOther, {}, false, none},
        {"spread: all",
         L.doc.Spread(0),
         {},
         {},
         false,
         UIDs({L.imageA, L.imageB, L.imageC, L.imageD, L.imageE, L.imageF, L.imageG})},
        {"deleted frame", deleted, K::kOther, {}, {}, none},
        {"invalid reference", UIDRef(), K::kOther, {}, false, none},
        {"unknown UID", UIDRef(db, UID(9999)), K::kOther, {}, {}, {}},
        {"image in a group's frame", L.imageB, {}, {}, true, {}},
        {"image subclass", imageSubclass, {}, {}, true, {}},
        {"image that carries frame data", framedImage, {}, {}, false, none},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.kind) {
            OD_PageItem item(c.item);
            EXPECT_EQ(item.GetRef(), c.item);
            EXPECT_EQ(item.GetKind(), *c.kind);
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
    item.SetRef(L.pair);
    EXPECT_EQ(item.GetKind(), OD_PageItem::kGroup);
}

TEST_F(PageItemAnalysisLayoutTest, CollectingAppendsToTheListOfTheItemsDatabaseOnly) {
    IDataBase* db = l->doc.Db();
    // Appends after what the list holds, found twice when asked twice.
    UIDList list = List(db, {l->text});
    CollectImages(l->frameA, list);
    CollectImages(l->pair, list);
    CollectImages(l->frameA, list);
    EXPECT_EQ(UIDs(list), UIDs({l->text, l->imageA, l->imageB, l->imageC, l->imageA}));

    // An empty list without a database takes the item's.
    UIDList fresh;
    CollectImages(l->pair, fresh);
    EXPECT_EQ(fresh.GetDataBase(), db);
    EXPECT_EQ(UIDs(fresh), UIDs({l->imageB, l->imageC}));

    // A list of another document is left alone.
    OpenDocument other;
    UIDList foreign(other.Db());
    foreign.Append(UID(7));
    CollectImages(l->pair, foreign);
    EXPECT_EQ(foreign.GetDataBase(), other.Db());
    EXPECT_EQ(UIDs(foreign), std::vector<uint32_t>{7});
    UIDList emptyForeign(other.Db());
    CollectImages(l->frameA, emptyForeign);
    EXPECT_TRUE(emptyForeign.IsEmpty());

    // An image gone from its frame is no longer found; Undo brings it back.
    ASSERT_EQ(DocumentUtils::DeletePageItem(l->imageB), kSuccess);
    EXPECT_EQ(UIDs(Collected(l->pair)), UIDs({l->imageC}));
    ASSERT_TRUE(db->Undo());
    EXPECT_EQ(UIDs(Collected(l->pair)), UIDs({l->imageB, l->imageC}));
}

TEST_F(PageItemAnalysisTest, TheFrontDocumentDecidesAndWithoutOneTheListStaysAsItWas) {
    // The front document's images replace the list, database and all; no document: left alone.
    auto expectFound = [](IDataBase* front, const std::vector<uint32_t>& images) {
        UIDList list;
        list.Append(UID(42));
        CollectDocumentImages(list);
        EXPECT_EQ(list.GetDataBase(), front);
        EXPECT_EQ(UIDs(list), front ? images : std::vector<uint32_t>{42});
    };
    expectFound(nullptr, {});
    auto a = std::make_unique<OpenDocument>();
    UIDRef inA = Place(Frame(a->Page(0), 10, 10));
    OpenDocument b;
    UIDRef inB1 = Place(Frame(b.Page(0), 10, 10));
    UIDRef inB2 = Place(Frame(b.Page(0), 10, 100));
    expectFound(b.Db(), UIDs({inB1, inB2})); // opened last, in front
    ASSERT_TRUE(Documents()->SetFrontDocument(a->Db()));
    expectFound(a->Db(), UIDs({inA}));
    a.reset();
    b.Close();
    OpenDocument empty;
    expectFound(empty.Db(), {});
    empty.Close();
    expectFound(nullptr, {}); // all closed: nothing changes again
}

TEST_F(PageItemAnalysisTest, TheAbstractSuiteAsksEachConcreteSuiteInOrder) {
    auto abstract = CreateObject2<IIntegratorTarget>(kAbstractSelectionBoss, IID_IINTEGRATORTARGET);
    ASSERT_TRUE(abstract);
    InterfacePtr<IOrdoSuite> suite(abstract, IID_IORDOSUITE);
    ASSERT_TRUE(suite);

    // No concrete selection: nothing selected, the caller's list emptied, not left stale.
    EXPECT_FALSE(suite->HasSelectedItems());
    UIDList stale = List(nullptr, {UIDRef(nullptr, UID(9))});
    suite->GetSelectedItems(stale);
    EXPECT_TRUE(stale.IsEmpty());

    auto first = CreateObject2<IOrdoSuite>(kCountingSelectionTestBoss, IID_IORDOSUITE);
    auto suiteless = CreateObject2<ILayoutTarget>(kSuitelessSelectionTestBoss, IID_ILAYOUTTARGET);
    auto second = CreateObject2<IOrdoSuite>(kCountingSelectionTestBoss, IID_IORDOSUITE);
    static_cast<CountingSuite*>(first.get())->tag = 1;
    static_cast<CountingSuite*>(second.get())->tag = 2;
    abstract->AddConcreteSelection(first.get());
    abstract->AddConcreteSelection(suiteless.get());
    abstract->AddConcreteSelection(second.get());
    // Refused: one already there, nothing, and the abstract selection itself (would recurse).
    abstract->AddConcreteSelection(first.get());
    abstract->AddConcreteSelection(nullptr);
    abstract->AddConcreteSelection(suite.get());
    EXPECT_EQ(abstract->GetConcreteSelectionCount(), 3);
    EXPECT_EQ(abstract->GetTarget(IID_IORDOSUITE).size(), 2u);

    struct Case {
        const char* name;
        bool firstAnswers, secondAnswers;
        bool has;
        std::vector<int32_t> asked; // tags of the suites asked, in order
    } cases[] = {
        {"neither", false, false, false, {1, 2}},
        {"only the second", false, true, true, {1, 2}},
        {"the first: the second is not asked", true, false, true, {1}},
        {"both", true, true, true, {1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        static_cast<CountingSuite*>(first.get())->answer = c.firstAnswers;
        static_cast<CountingSuite*>(second.get())->answer = c.secondAnswers;
        suiteCalls.clear();
        EXPECT_EQ(suite->HasSelectedItems(), c.has);
        std::vector<int32_t> asked;
        for (const SuiteCall& call : suiteCalls) {
            EXPECT_STREQ(call.operation, "Has");
            asked.push_back(call.tag);
        }
        EXPECT_EQ(asked, c.asked);
    }

    // Every concrete suite writes into the caller's own list, in order.
    suiteCalls.clear();
    UIDList items;
    suite->GetSelectedItems(items);
    EXPECT_EQ(UIDs(items), (std::vector<uint32_t>{1, 2}));
    ASSERT_EQ(suiteCalls.size(), 2u);
    EXPECT_STREQ(suiteCalls[0].operation, "Get");
    EXPECT_STREQ(suiteCalls[1].operation, "Get");
}

TEST_F(PageItemAnalysisTest, ASelectionKeptPastItsDocumentIsEmpty) {
    auto doc = std::make_unique<OpenDocument>();
    UIDRef frame = Frame(doc->Page(0), 10, 10);
    doc->Selection()->Select(List(doc->Db(), {frame}));
    InterfacePtr<IOrdoSuite> suite = ContextSuite();
    ASSERT_TRUE(suite);
    ASSERT_TRUE(suite->HasSelectedItems());

    // Held past its document's closing, then past its database.
    ASSERT_EQ(Documents()->CloseDocument(doc->Db()), kSuccess);
    EXPECT_FALSE(suite->HasSelectedItems());
    doc.reset();
    EXPECT_FALSE(suite->HasSelectedItems());
    UIDList items = List(nullptr, {UIDRef(nullptr, UID(1))});
    suite->GetSelectedItems(items);
    EXPECT_TRUE(items.IsEmpty());
    // And without a front document, an action has no selection to ask.
    InterfacePtr<IApplication> app(GetExecutionContextSession()->QueryApplication());
    EXPECT_EQ(app->GetActiveContext()->GetContextSelection(), nullptr);

    // A layout selection for no document has nothing either.
    InterfacePtr<IIntegratorTarget> loose = NewDocumentSelection(nullptr);
    InterfacePtr<IOrdoSuite> looseSuite(loose, IID_IORDOSUITE);
    ASSERT_TRUE(looseSuite);
    EXPECT_FALSE(looseSuite->HasSelectedItems());
}
