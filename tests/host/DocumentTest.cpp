// The document model: documents, page items and their geometry, placing and
// relinking images, the layout selection.

#include "DocumentTestKit.h"

#include "DocumentModel.h"
#include "DocumentUtils.h"
#include "IGeometry.h"
#include "IGraphicFrameData.h"
#include "IHierarchy.h"
#include "IImageAttributes.h"
#include "ILayoutSelection.h"
#include "ISpread.h"
#include "ISubject.h"
#include "ITransform.h"
#include "ImportUtils.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>

using namespace dockit;
using PageItemTypeUtils::PageItemType;

namespace {

class DocumentTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterDocumentModel();
        ErrorUtils::PMSetGlobalErrorCode(kSuccess);
        db = DocumentUtils::NewDocument(); // one 612 x 792 page
        d = db.get();
    }

    UIDRef Page(int32_t index) const { return DocumentUtils::GetNthPage(d, index); }
    std::string Tiff(const std::string& name, uint32_t w, uint32_t h, double resolution) {
        std::string path = dir / name;
        WriteTiff(path, w, h, resolution);
        return path;
    }
    UIDList List(std::initializer_list<UIDRef> refs) const {
        UIDList l(d);
        for (const UIDRef& r : refs) {
            l.Append(r.GetUID());
        }
        return l;
    }

    static UID Parent(const UIDRef& item) { return InterfaceOf<IHierarchy>(item)->GetParentUID(); }
    static std::vector<UID> Children(const UIDRef& item) {
        std::vector<UID> uids;
        InterfacePtr<IHierarchy> h = InterfaceOf<IHierarchy>(item);
        for (int32_t i = 0; i < h->GetChildCount(); ++i) {
            uids.push_back(h->GetChildUID(i));
        }
        return uids;
    }
    static std::vector<UID> Uids(const UIDList& l) { return std::vector<UID>(l.begin(), l.end()); }
    static PMRect Box(const UIDRef& item) { return InterfaceOf<IGeometry>(item)->GetBoundingBox(); }

    TempDir dir;
    std::unique_ptr<IDataBase> db;
    IDataBase* d = nullptr;
};

TEST_F(DocumentTest, FramesImagesAndGroupsBuildTheHierarchy) {
    std::string file = Tiff("a.tif", 100, 50, 72);
    UIDRef f1 = AddFrame(d, PMRect(10, 10, 110, 60));
    UIDRef f2 = AddFrame(d, PMRect(200, 10, 300, 60));
    UIDRef empty = AddFrame(d, PMRect(10, 400, 50, 450));
    UIDRef text = DocumentUtils::AddPageItem(kTextFrameItemBoss, Page(0), PMRect(0, 0, 5, 5));
    UIDRef shape = DocumentUtils::AddPageItem(kShapeItemBoss, Page(0), PMRect(0, 0, 5, 5));
    UIDRef i1 = PlaceFile(f1, file);
    UIDRef i2 = PlaceFile(f2, file);
    ErrorCode error = kFailure;
    UIDRef group = DocumentUtils::GroupItems(List({f1, f2}), &error);
    ASSERT_EQ(error, kSuccess);

    UID spread = InterfaceOf<IPage>(Page(0))->GetSpreadUID();
    InterfacePtr<IHierarchy> top = InterfaceOf<IHierarchy>(UIDRef(d, spread));
    // Back to front: the group took the place of f2, the frontmost of the two.
    EXPECT_EQ(Children(UIDRef(d, spread)),
              (std::vector<UID>{group.GetUID(), empty.GetUID(), text.GetUID(), shape.GetUID()}));
    EXPECT_EQ(top->GetChildUID(4), kInvalidUID);
    EXPECT_EQ(top->GetParentUID(), kInvalidUID);
    InterfacePtr<IHierarchy> g = InterfaceOf<IHierarchy>(group);
    EXPECT_EQ(Children(group), (std::vector<UID>{f1.GetUID(), f2.GetUID()}));
    EXPECT_EQ((std::vector<UID>{Parent(f1), Parent(i1), Parent(i2)}),
              (std::vector<UID>{group.GetUID(), f1.GetUID(), f2.GetUID()}));
    EXPECT_EQ(InterfaceOf<IHierarchy>(i2)->GetSpreadUID(), spread);
    InterfacePtr<IHierarchy> parent(InterfaceOf<IHierarchy>(i1)->QueryParent());
    ASSERT_TRUE(parent);
    EXPECT_EQ(::GetUID(parent.get()), f1.GetUID());
    InterfacePtr<IHierarchy> child(g->QueryChild(1));
    EXPECT_EQ(::GetUID(child.get()), f2.GetUID());
    EXPECT_FALSE(InterfacePtr<IHierarchy>(g->QueryChild(2)));

    // What each kind of item is and carries.
    struct Kind {
        const char* name;
        UIDRef item;
        PageItemType type;
        bool frameData, path, content;
    } kinds[] = {
        {"frame with image", f1, PageItemType::kGraphicFrame, true, true, true},
        {"empty frame", empty, PageItemType::kGraphicFrame, true, true, false},
        {"image", i1, PageItemType::kImage, false, false, false},
        {"group", group, PageItemType::kGroup, false, false, false},
        {"text frame", text, PageItemType::kOther, false, true, false},
        {"shape", shape, PageItemType::kOther, false, true, false},
        {"page", Page(0), PageItemType::kOther, false, false, false},
        {"nothing", UIDRef(d, UID(9999)), PageItemType::kOther, false, false, false},
    };
    for (const Kind& k : kinds) {
        SCOPED_TRACE(k.name);
        EXPECT_EQ(PageItemTypeUtils::GetPageItemType(k.item), k.type);
        EXPECT_EQ(PageItemTypeUtils::IsGraphic(k.item), k.type == PageItemType::kImage);
        EXPECT_EQ(PageItemTypeUtils::IsGraphicFrame(k.item), k.type == PageItemType::kGraphicFrame);
        EXPECT_EQ(PageItemTypeUtils::IsGroup(k.item), k.type == PageItemType::kGroup);
        EXPECT_EQ(PageItemTypeUtils::IsTextFrame(k.item), k.item == text);
        EXPECT_EQ(PageItemTypeUtils::IsUnassignedFrame(k.item), k.item == shape);
        InterfacePtr<IGraphicFrameData> frameData = InterfaceOf<IGraphicFrameData>(k.item);
        EXPECT_EQ(bool(frameData), k.frameData);
        EXPECT_EQ(bool(InterfaceOf<IPathGeometry>(k.item)), k.path);
        if (frameData) {
            EXPECT_TRUE(frameData->IsGraphicFrame());
            EXPECT_EQ(frameData->HasContent(), k.content);
            EXPECT_EQ(frameData->GetContentUID() != kInvalidUID, k.content);
        }
    }
    EXPECT_EQ(InterfaceOf<IGraphicFrameData>(f1)->GetContentUID(), i1.GetUID());
    EXPECT_EQ(InterfaceOf<IPathGeometry>(f1)->GetPathBoundingBox(), PMRect(0, 0, 100, 50));

    // A group's box is the box around its children and follows them.
    EXPECT_EQ(Box(group), PMRect(10, 10, 300, 60));
    InterfaceOf<ITransform>(f2)->MoveBy(0, 100);
    EXPECT_EQ(Box(group), PMRect(10, 10, 300, 160));
    InterfaceOf<IGeometry>(group)->SetBoundingBox(PMRect(0, 0, 1, 1));
    EXPECT_EQ(Box(group), PMRect(10, 10, 300, 160));
}

TEST_F(DocumentTest, ItemsBelongToThePageThatHoldsTheirCentre) {
    db = DocumentUtils::NewDocument({.pageCount = 4, .pagesPerSpread = 2}); // two spreads
    d = db.get();
    std::string file = Tiff("p.tif", 20, 20, 72);
    UIDRef spread2 = UIDRef(d, InterfaceOf<IPage>(Page(2))->GetSpreadUID());
    struct Case {
        const char* name;
        UIDRef where;
        PMRect bounds;
        int32_t pageNumber;
    } cases[] = {
        {"on page 1", Page(0), PMRect(10, 10, 100, 100), 1},
        {"on page 2", Page(1), PMRect(10, 10, 100, 100), 2},
        {"reaching into page 2, centre on page 1", Page(0), PMRect(500, 10, 700, 100), 1},
        {"centre on the shared edge goes right", Page(0), PMRect(562, 10, 662, 100), 2},
        {"on page 3", Page(2), PMRect(0, 0, 10, 10), 3},
        {"on page 4 through spread coordinates", spread2, PMRect(700, 700, 800, 780), 4},
        {"above the pages: pasteboard", spread2, PMRect(100, -300, 200, -200), 0},
        {"left of the pages: pasteboard", spread2, PMRect(-100, 0, -10, 50), 0},
    };
    std::vector<std::vector<UID>> onPage(4);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ErrorCode error = kFailure;
        UIDRef frame = DocumentUtils::AddGraphicFrame(c.where, c.bounds, &error);
        ASSERT_EQ(error, kSuccess);
        UIDRef image = PlaceFile(frame, file);
        EXPECT_EQ(LayoutUtils::GetPageNumber(frame), c.pageNumber);
        EXPECT_EQ(LayoutUtils::GetPageNumber(image), c.pageNumber) << "the page of its frame";
        if (c.pageNumber > 0) {
            EXPECT_EQ(LayoutUtils::GetOwnerPageUID(frame), Page(c.pageNumber - 1).GetUID());
            onPage[static_cast<std::size_t>(c.pageNumber - 1)].push_back(frame.GetUID());
        } else {
            EXPECT_EQ(LayoutUtils::GetOwnerPageUID(frame), kInvalidUID);
        }
    }
    EXPECT_EQ(LayoutUtils::GetPageNumber(Page(0)), 0) << "a page is not on a page";
    for (int32_t p = 0; p < 4; ++p) {
        UIDRef page = Page(p);
        InterfacePtr<ISpread> spread =
            InterfaceOf<ISpread>(UIDRef(d, InterfaceOf<IPage>(page)->GetSpreadUID()));
        int32_t index = spread->GetPageIndex(page.GetUID());
        std::vector<UID> want = onPage[static_cast<std::size_t>(p)];
        EXPECT_EQ(Uids(spread->GetItemsOnPage(index)), want) << "page " << p + 1;
        want.insert(want.begin(), page.GetUID());
        EXPECT_EQ(Uids(spread->GetItemsOnPage(index, true)), want) << "with the page";
        EXPECT_TRUE(spread->GetItemsOnPage(5).IsEmpty());
    }
}

TEST_F(DocumentTest, RegistrationIsIdempotentAndKeepsPlugInAdditions) {
    std::string file = Tiff("r.tif", 10, 10, 72);
    // Additions made before the model is registered, and after.
    using Steps = std::vector<void (*)()>;
    for (const Steps& steps :
         {Steps{RegisterTestNote, RegisterDocumentModel, RegisterDocumentModel},
          Steps{RegisterDocumentModel, RegisterTestNote, RegisterDocumentModel}}) {
        SCOPED_TRACE(steps[0] == RegisterTestNote ? "added before registration"
                                                  : "added after registration");
        ObjectModel::Get().Reset();
        for (auto step : steps) {
            step();
        }
        auto doc = DocumentUtils::NewDocument();
        UIDRef image = PlaceFile(AddFrame(doc.get(), PMRect(0, 0, 10, 10)), file);
        EXPECT_TRUE(InterfaceOf<ITestNote>(image));
        EXPECT_TRUE(InterfaceOf<IImageAttributes>(image));
        EXPECT_TRUE(InterfaceOf<IHierarchy>(image)) << "from the parent class";
        EXPECT_TRUE(ObjectModel::Get().IsA(kImageItemBoss, kPageItemBoss));
    }
    EXPECT_TRUE(IsDocumentModelImplementation(kHierarchyImpl));
    EXPECT_FALSE(IsDocumentModelImplementation(kTestNoteImpl));
}

TEST_F(DocumentTest, HierarchyChangesUndoAndBadOnesLeaveNothing) {
    UIDRef a = AddFrame(d, PMRect(10, 20, 60, 70));
    UIDRef b = AddFrame(d, PMRect(100, 20, 160, 90));
    UIDRef c = AddFrame(d, PMRect(300, 20, 360, 90));
    InterfaceOf<ITransform>(b)->SetRotationAngle(30, PMPoint(100, 20));
    PMMatrix bToSpread = InterfaceOf<ITransform>(b)->GetInnerToSpreadMatrix();
    std::string before = Content(*d);

    // The order of the list does not matter: z-order does.
    UIDRef group = DocumentUtils::GroupItems(List({c, a}));
    ASSERT_NE(group, UIDRef());
    EXPECT_EQ(Children(group), (std::vector<UID>{a.GetUID(), c.GetUID()}));
    EXPECT_EQ(Children(UIDRef(d, InterfaceOf<IHierarchy>(group)->GetSpreadUID())),
              (std::vector<UID>{b.GetUID(), group.GetUID()}))
        << "where c, the frontmost, was";
    EXPECT_EQ(InterfaceOf<ITransform>(c)->GetInnerToSpreadMatrix(),
              PMMatrix::MakeTranslation(300, 20));
    EXPECT_EQ(InterfaceOf<ITransform>(b)->GetInnerToSpreadMatrix(), bToSpread);
    EXPECT_EQ(d->GetUndoName(), PMString("Group"));

    ASSERT_TRUE(d->Undo());
    EXPECT_EQ(Content(*d), before);
    EXPECT_FALSE(d->IsValidUID(group.GetUID()));
    ASSERT_TRUE(d->Redo());
    EXPECT_EQ(Parent(a), group.GetUID());
    // The hierarchy refuses loops and what is no page item.
    InterfacePtr<IHierarchy> ha = InterfaceOf<IHierarchy>(a);
    EXPECT_FALSE(ha->AddChild(a.GetUID())) << "itself";
    EXPECT_FALSE(ha->AddChild(group.GetUID())) << "its parent";
    EXPECT_FALSE(ha->AddChild(Page(0).GetUID())) << "a page is no page item";
    EXPECT_FALSE(ha->AddChild(UID(4242))) << "no such object";
    EXPECT_EQ(ha->GetChildCount(), 0);

    // Refused: items of different parents, an image, nothing, a foreign UID.
    UIDRef image = PlaceFile(b, Tiff("g.tif", 10, 10, 72));
    for (const UIDList& bad : {List({a, b}), List({image}), List({b, b}), List({})}) {
        std::string now = Content(*d);
        ErrorCode error = kSuccess;
        EXPECT_EQ(DocumentUtils::GroupItems(bad, &error), UIDRef());
        EXPECT_EQ(error, kInvalidItemError);
        EXPECT_EQ(Content(*d), now);
    }

    // Deleting takes the content too and undoes; a change failing half-way leaves nothing.
    before = Content(*d);
    ASSERT_EQ(DocumentUtils::DeletePageItem(b), kSuccess);
    EXPECT_FALSE(d->IsValidUID(b.GetUID()));
    EXPECT_FALSE(d->IsValidUID(image.GetUID()));
    EXPECT_EQ(DocumentUtils::DeletePageItem(b), kInvalidItemError);
    ASSERT_TRUE(d->Undo());
    EXPECT_EQ(Content(*d), before);
    EXPECT_EQ(Parent(image), b.GetUID());
    ErrorUtils::PMSetGlobalErrorCode(kSuccess);
    int32_t steps = d->UndoCount();
    EXPECT_EQ(DocumentUtils::ProcessChange(d, PMString("Half"),
                                           [&]() -> ErrorCode {
                                               InterfaceOf<ITransform>(b)->MoveBy(5, 5);
                                               d->NewUID(kSplineItemBoss);
                                               return kNotAGraphicFrameError;
                                           }),
              kNotAGraphicFrameError);
    EXPECT_EQ(ErrorUtils::PMGetGlobalErrorCode(), kFailure);
    EXPECT_EQ(Content(*d), before);
    EXPECT_EQ(d->UndoCount(), steps);
    EXPECT_EQ(DocumentUtils::ProcessChange(nullptr, PMString("x"), [] { return kSuccess; }),
              kInvalidItemError);

    // Moving a child takes it out of its former parent.
    InterfacePtr<IHierarchy> spread = InterfaceOf<IHierarchy>(UIDRef(d, ha->GetSpreadUID()));
    EXPECT_TRUE(spread->AddChild(c.GetUID(), 0));
    EXPECT_EQ(InterfaceOf<IHierarchy>(group)->GetChildIndex(c.GetUID()), -1);
    EXPECT_EQ(spread->GetChildIndex(c.GetUID()), 0);
    EXPECT_EQ(Parent(c), spread->GetSpreadUID());
    spread->RemoveChild(c.GetUID());
    EXPECT_EQ(Parent(c), kInvalidUID);
}

struct SelectionWatch : IObserver {
    std::vector<ClassID> changes;
    IPMUnknown* QueryInterface(PMIID) const override { return nullptr; }
    void AddRef() const override {}
    void Release() const override {}
    void Update(ClassID change, ISubject*, PMIID protocol, void*) override {
        if (protocol == IID_ILAYOUTSELECTION) {
            changes.push_back(change);
        }
    }
};

TEST_F(DocumentTest, SelectionTellsItsChangesAndDropsWhatIsGone) {
    auto other = DocumentUtils::NewDocument();
    UIDRef a = AddFrame(d, PMRect(0, 0, 10, 10));
    UIDRef b = AddFrame(d, PMRect(20, 0, 30, 10));
    UIDRef image = PlaceFile(b, Tiff("s.tif", 4, 4, 72));
    InterfacePtr<IDocument> doc = DocumentUtils::QueryDocument(d);
    InterfacePtr<ILayoutSelection> selection(doc.get(), IID_ILAYOUTSELECTION);
    InterfacePtr<ISubject> subject(doc.get(), IID_ISUBJECT);
    ASSERT_TRUE(selection && subject);
    SelectionWatch watch;
    subject->AttachObserver(&watch, IID_ILAYOUTSELECTION);

    auto selected = [&] { return Uids(selection->GetSelectedItems()); };
    EXPECT_FALSE(selection->HasSelectedItems());
    selection->Select(List({a, Page(0), UIDRef(d, UID(777))}));
    EXPECT_EQ(selected(), std::vector<UID>{a.GetUID()}) << "pages and unknown UIDs are no items";
    selection->Select(List({image, a}), ILayoutSelection::kAddTo);
    EXPECT_EQ(selected(), (std::vector<UID>{a.GetUID(), image.GetUID()}));
    selection->Select(List({a, image}), ILayoutSelection::kAddTo);
    EXPECT_EQ(watch.changes.size(), 2u) << "selecting what is selected tells nothing";
    UIDList foreign(other.get());
    foreign.Append(a.GetUID());
    selection->Select(foreign, ILayoutSelection::kAddTo);
    EXPECT_EQ(watch.changes.size(), 2u) << "another document's items are not taken";
    EXPECT_TRUE(selection->IsSelected(image.GetUID()));

    // A relinked image stays selected as its new item.
    UIDRef relinked = LinkUtils::RelinkImage(image, PMString(Tiff("s2.tif", 8, 8, 72)));
    ASSERT_NE(relinked, UIDRef());
    EXPECT_EQ(selected(), (std::vector<UID>{a.GetUID(), relinked.GetUID()}));
    EXPECT_EQ(watch.changes.size(), 3u);

    // A deleted item drops out without a word; undo brings it back selected.
    ASSERT_EQ(DocumentUtils::DeletePageItem(a), kSuccess);
    EXPECT_EQ(selected(), std::vector<UID>{relinked.GetUID()});
    ASSERT_TRUE(d->Undo());
    EXPECT_TRUE(selection->IsSelected(a.GetUID()));

    selection->Deselect(List({relinked}));
    EXPECT_EQ(selected(), std::vector<UID>{a.GetUID()});
    selection->DeselectAll();
    EXPECT_FALSE(selection->HasSelectedItems());
    std::size_t told = watch.changes.size();
    selection->DeselectAll();
    EXPECT_EQ(watch.changes.size(), told);

    EXPECT_EQ(selection->GetItemBroughtIntoView(), kInvalidUID);
    selection->BringIntoView(b.GetUID());
    EXPECT_EQ(selection->GetItemBroughtIntoView(), b.GetUID());
    selection->BringIntoView(Page(0).GetUID());
    EXPECT_EQ(selection->GetItemBroughtIntoView(), b.GetUID());
    EXPECT_EQ(watch.changes.back(), kItemBroughtIntoViewMessage);
    EXPECT_EQ(std::count(watch.changes.begin(), watch.changes.end(), kSelectionChangedMessage),
              static_cast<long>(watch.changes.size() - 1));
    subject->DetachObserver(&watch, IID_ILAYOUTSELECTION);
}

TEST_F(DocumentTest, ValuesThatCannotBeSavedAreRefused) {
    UIDRef item = AddFrame(d, PMRect(0, 0, 10, 10));
    InterfacePtr<ITransform> t = InterfaceOf<ITransform>(item);
    InterfacePtr<IGeometry> g = InterfaceOf<IGeometry>(item);
    PMMatrix m = t->GetInnerToParentMatrix();
    double inf = std::numeric_limits<double>::infinity();
    double nan = std::numeric_limits<double>::quiet_NaN();
    t->SetInnerToParentMatrix(PMMatrix(1, 0, 0, 1, inf, 0));
    t->SetInnerToParentMatrix(PMMatrix(nan, 0, 0, 1, 0, 0));
    EXPECT_FALSE(t->SetScale(1e308, 1e308, PMPoint(1e308, 1e308)));
    EXPECT_EQ(t->GetInnerToParentMatrix(), m);
    g->SetBoundingBox(PMRect(0, 0, nan, 5));
    EXPECT_EQ(g->GetBoundingBox(), PMRect(0, 0, 10, 10));

    // A singular matrix has no rotation or skew to keep.
    t->SetInnerToParentMatrix(PMMatrix(0, 0, 0, 1, 3, 3));
    EXPECT_FALSE(t->SetRotationAngle(10));
    EXPECT_FALSE(t->SetXSkewAngle(10));
    EXPECT_EQ(t->GetInnerToParentMatrix(), PMMatrix(0, 0, 0, 1, 3, 3));
}

TEST(FixedPoint, KeepsSixteenBitsOfFraction) {
    struct Case {
        double value;
        PMFixed fixed;
    } cases[] = {
        {72.0, 72 << 16}, {300.0, 300 << 16},   {0.5, 0x8000},         {299.72, 19642450},
        {-1.0, -65536},   {40000.0, INT32_MAX}, {-40000.0, INT32_MIN}, {std::nan(""), 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ToPMFixed(c.value), c.fixed) << c.value;
    }
    EXPECT_EQ(PMFixedToDouble(0x12345), 1.0 + 0x2345 / 65536.0);
}

TEST_F(DocumentTest, WhatCannotBePlacedOrRelinkedLeavesTheDocumentAlone) {
    UIDRef frame = AddFrame(d, PMRect(0, 0, 100, 100));
    UIDRef text = DocumentUtils::AddPageItem(kTextFrameItemBoss, Page(0), PMRect(0, 0, 9, 9));
    UIDRef image = PlaceFile(AddFrame(d, PMRect(0, 0, 9, 9)), Tiff("ok.tif", 4, 4, 72));
    std::string good = Tiff("good.tif", 4, 4, 72);
    WriteFile(dir / "notes.txt", "these are not pixels\n");
    WriteFile(dir / "empty.tif", "");
    WriteFile(dir / "text.tif", "II*\0 not really");
    MakeDirs(dir / "folder.tif");
    struct Case {
        const char* name;
        bool relink;
        UIDRef target;
        std::string path;
        ErrorCode code;
    } cases[] = {
        {"no file", false, frame, dir / "missing.tif", kFileNotFoundError},
        {"empty path", false, frame, "", kFileNotFoundError},
        {"a folder", false, frame, dir / "folder.tif", kFileNotFoundError},
        {"a text file", false, frame, dir / "notes.txt", kUnsupportedFileError},
        {"an empty file", false, frame, dir / "empty.tif", kUnsupportedFileError},
        {"into a text frame", false, text, good, kNotAGraphicFrameError},
        {"into an image", false, image, good, kNotAGraphicFrameError},
        {"into a page", false, Page(0), good, kInvalidItemError},
        {"into nothing", false, UIDRef(), good, kInvalidItemError},
        {"relink to no file", true, image, dir / "gone.tif", kFileNotFoundError},
        {"relink to no image file", true, image, dir / "text.tif", kUnsupportedFileError},
        {"relink a frame", true, frame, good, kNotAnImageError},
        {"relink a page", true, Page(0), good, kInvalidItemError},
        {"relink a deleted item", true, UIDRef(d, UID(5000)), good, kInvalidItemError},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string before = Content(*d);
        int32_t steps = d->UndoCount();
        ErrorCode error = kSuccess;
        EXPECT_EQ(c.relink ? LinkUtils::RelinkImage(c.target, PMString(c.path), &error)
                           : ImportUtils::PlaceFile(c.target, PMString(c.path), &error),
                  UIDRef());
        EXPECT_EQ(error, c.code) << DocumentErrorText(error);
        EXPECT_EQ(ErrorUtils::PMGetGlobalErrorCode(), kFailure);
        EXPECT_EQ(Content(*d), before);
        EXPECT_EQ(d->UndoCount(), steps);
        EXPECT_STRNE(DocumentErrorText(error), DocumentErrorText(kFailure));
        EXPECT_TRUE(d->IsValidUID(image.GetUID()));
    }
}

TEST_F(DocumentTest, RealFilesArePlacedAtTheSizeTheirHeadersGive) {
    std::string data = SharedTestData();
    if (data.empty()) {
        GTEST_SKIP() << "no shared test data";
    }
    std::ifstream in(data + "/images/manifest.json");
    ASSERT_TRUE(in) << "the image corpus has a manifest";
    nlohmann::json manifest = nlohmann::json::parse(in);
    int placed = 0;
    for (const auto& entry : manifest) {
        const auto& expected = entry["expected_no_opi"];
        std::string file = entry["file"].get<std::string>();
        if (expected["reader"].is_null() || expected["width"].get<int64_t>() == 0 ||
            expected["height"].get<int64_t>() == 0) {
            continue;
        }
        SCOPED_TRACE(file);
        double resolution = expected["resolution"].get<double>();
        if (!(resolution >= 1 && resolution <= 32767)) {
            resolution = 72;
        }
        UIDRef frame = AddFrame(d, PMRect(0, 0, 100, 100));
        ErrorCode error = kFailure;
        UIDRef image = ImportUtils::PlaceFile(frame, PMString(data + "/images/" + file), &error);
        ASSERT_EQ(error, kSuccess) << DocumentErrorText(error);
        PMRect box = Box(image);
        double w = expected["width"].get<double>() * 72.0 / resolution;
        double h = expected["height"].get<double>() * 72.0 / resolution;
        EXPECT_NEAR(box.Width(), w, w * 1e-4);
        EXPECT_NEAR(box.Height(), h, h * 1e-4);
        ++placed;
    }
    EXPECT_GT(placed, 0);
}

} // namespace
