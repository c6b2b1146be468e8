// The document model: documents, page items and their geometry, placing and
// relinking images, the layout selection.

#include "DocumentTestKit.h"

#include "DocumentModel.h"
#include "DocumentUtils.h"
#include "ICommand.h"
#include "IDataLink.h"
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
#include <filesystem>
#include <fstream>
#include <limits>
#include <tuple>

using namespace dockit;
using PageItemTypeUtils::PageItemType;

namespace {

constexpr double kEps = 1e-9;

class DocumentTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterDocumentModel();
        ErrorUtils::PMSetGlobalErrorCode(kSuccess);
    }

    static std::unique_ptr<IDataBase> NewDoc(int32_t pages = 1, int32_t perSpread = 1) {
        DocumentUtils::NewDocumentOptions options;
        options.pageCount = pages;
        options.pagesPerSpread = perSpread;
        return DocumentUtils::NewDocument(options);
    }
    static UIDRef Page(IDataBase* db, int32_t index) {
        return DocumentUtils::GetNthPage(db, index);
    }
    static UIDRef Frame(IDataBase* db, int32_t page, const PMRect& bounds) {
        return AddFrame(db, bounds, page);
    }
    std::string Tiff(const std::string& name, uint32_t w, uint32_t h, double resolution) {
        std::string path = dir / name;
        WriteTiff(path, w, h, resolution);
        return path;
    }
    static UIDRef Place(const UIDRef& frame, const std::string& path) {
        return PlaceFile(frame, path);
    }
    static UIDList List(IDataBase* db, std::initializer_list<UIDRef> refs) {
        UIDList l(db);
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
    static PMMatrix Matrix(const UIDRef& item) {
        return InterfaceOf<ITransform>(item)->GetInnerToParentMatrix();
    }
    static PMRect Box(const UIDRef& item) { return InterfaceOf<IGeometry>(item)->GetBoundingBox(); }

    TempDir dir;
};

bool Near(std::initializer_list<double> got, std::initializer_list<double> want, double eps) {
    return std::equal(got.begin(), got.end(), want.begin(),
                      [eps](double g, double w) { return std::fabs(g - w) <= eps; });
}

void ExpectRect(const PMRect& got, const PMRect& want, double eps = kEps) {
    EXPECT_TRUE(Near({got.Left(), got.Top(), got.Right(), got.Bottom()},
                     {want.Left(), want.Top(), want.Right(), want.Bottom()}, eps))
        << got << " vs " << want;
}

void ExpectMatrix(const PMMatrix& got, const PMMatrix& want, double eps = 1e-9) {
    EXPECT_TRUE(Near({got.A(), got.B(), got.C(), got.D(), got.Tx(), got.Ty()},
                     {want.A(), want.B(), want.C(), want.D(), want.Tx(), want.Ty()}, eps))
        << got << " vs " << want;
}

TEST_F(DocumentTest, FramesImagesAndGroupsBuildTheHierarchy) {
    auto db = NewDoc();
    IDataBase* d = db.get();
    std::string file = Tiff("a.tif", 100, 50, 72);
    UIDRef f1 = Frame(d, 0, PMRect(10, 10, 110, 60));
    UIDRef f2 = Frame(d, 0, PMRect(200, 10, 300, 60));
    UIDRef empty = Frame(d, 0, PMRect(10, 400, 50, 450));
    UIDRef text = DocumentUtils::AddPageItem(kTextFrameItemBoss, Page(d, 0), PMRect(0, 0, 5, 5));
    UIDRef shape = DocumentUtils::AddPageItem(kShapeItemBoss, Page(d, 0), PMRect(0, 0, 5, 5));
    UIDRef i1 = Place(f1, file);
    UIDRef i2 = Place(f2, file);
    ErrorCode error = kFailure;
    UIDRef group = DocumentUtils::GroupItems(List(d, {f1, f2}), &error);
    ASSERT_EQ(error, kSuccess);

    UID spread = InterfaceOf<IPage>(Page(d, 0))->GetSpreadUID();
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
        {"page", Page(d, 0), PageItemType::kOther, false, false, false},
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
    ExpectRect(InterfaceOf<IPathGeometry>(f1)->GetPathBoundingBox(), PMRect(0, 0, 100, 50));

    // A group's box is the box around its children and follows them.
    ExpectRect(Box(group), PMRect(10, 10, 300, 60));
    InterfaceOf<ITransform>(f2)->MoveBy(0, 100);
    ExpectRect(Box(group), PMRect(10, 10, 300, 160));
    InterfaceOf<IGeometry>(group)->SetBoundingBox(PMRect(0, 0, 1, 1));
    ExpectRect(Box(group), PMRect(10, 10, 300, 160));
}

TEST_F(DocumentTest, HierarchyRefusesLoopsAndForeignChildren) {
    auto db = NewDoc();
    IDataBase* d = db.get();
    UIDRef a = Frame(d, 0, PMRect(0, 0, 10, 10));
    UIDRef b = Frame(d, 0, PMRect(20, 0, 30, 10));
    UIDRef group = DocumentUtils::GroupItems(List(d, {a, b}));
    ASSERT_NE(group, UIDRef());
    InterfacePtr<IHierarchy> ha = InterfaceOf<IHierarchy>(a);
    EXPECT_FALSE(ha->AddChild(a.GetUID())) << "itself";
    EXPECT_FALSE(ha->AddChild(group.GetUID())) << "its parent";
    EXPECT_FALSE(ha->AddChild(Page(d, 0).GetUID())) << "a page is no page item";
    EXPECT_FALSE(ha->AddChild(UID(4242))) << "no such object";
    EXPECT_EQ(ha->GetChildCount(), 0);
    // Moving a child takes it out of its former parent.
    InterfacePtr<IHierarchy> spread = InterfaceOf<IHierarchy>(UIDRef(d, ha->GetSpreadUID()));
    EXPECT_TRUE(spread->AddChild(b.GetUID(), 0));
    EXPECT_EQ(InterfaceOf<IHierarchy>(group)->GetChildIndex(b.GetUID()), -1);
    EXPECT_EQ(spread->GetChildIndex(b.GetUID()), 0);
    EXPECT_EQ(Parent(b), spread->GetSpreadUID());
    spread->RemoveChild(b.GetUID());
    EXPECT_EQ(Parent(b), kInvalidUID);
}

TEST_F(DocumentTest, ItemsBelongToThePageThatHoldsTheirCentre) {
    auto db = NewDoc(4, 2); // two spreads of two pages, 612 x 792 each
    IDataBase* d = db.get();
    std::string file = Tiff("p.tif", 20, 20, 72);
    UIDRef spread2 = UIDRef(d, InterfaceOf<IPage>(Page(d, 2))->GetSpreadUID());
    struct Case {
        const char* name;
        UIDRef where;
        PMRect bounds;
        int32_t pageNumber;
    } cases[] = {
        {"on page 1", Page(d, 0), PMRect(10, 10, 100, 100), 1},
        {"on page 2", Page(d, 1), PMRect(10, 10, 100, 100), 2},
        {"reaching into page 2, centre on page 1", Page(d, 0), PMRect(500, 10, 700, 100), 1},
        {"centre on the shared edge goes right", Page(d, 0), PMRect(562, 10, 662, 100), 2},
        {"on page 3", Page(d, 2), PMRect(0, 0, 10, 10), 3},
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
        UIDRef image = Place(frame, file);
        EXPECT_EQ(LayoutUtils::GetPageNumber(frame), c.pageNumber);
        EXPECT_EQ(LayoutUtils::GetPageNumber(image), c.pageNumber) << "the page of its frame";
        if (c.pageNumber > 0) {
            EXPECT_EQ(LayoutUtils::GetOwnerPageUID(frame), Page(d, c.pageNumber - 1).GetUID());
            onPage[static_cast<std::size_t>(c.pageNumber - 1)].push_back(frame.GetUID());
        } else {
            EXPECT_EQ(LayoutUtils::GetOwnerPageUID(frame), kInvalidUID);
        }
    }
    EXPECT_EQ(LayoutUtils::GetPageNumber(Page(d, 0)), 0) << "a page is not on a page";
    for (int32_t p = 0; p < 4; ++p) {
        UIDRef page = Page(d, p);
        InterfacePtr<ISpread> spread =
            InterfaceOf<ISpread>(UIDRef(d, InterfaceOf<IPage>(page)->GetSpreadUID()));
        int32_t index = spread->GetPageIndex(page.GetUID());
        UIDList items = spread->GetItemsOnPage(index);
        std::vector<UID> got(items.begin(), items.end());
        EXPECT_EQ(got, onPage[static_cast<std::size_t>(p)]) << "page " << p + 1;
        UIDList withPage = spread->GetItemsOnPage(index, true);
        ASSERT_GE(withPage.Length(), 1);
        EXPECT_EQ(withPage[0], page.GetUID());
        EXPECT_TRUE(spread->GetItemsOnPage(5).IsEmpty());
    }
}

TEST_F(DocumentTest, RegistrationIsIdempotentAndKeepsPlugInAdditions) {
    // Additions made before the model is registered, and after.
    ObjectModel::Get().Reset();
    RegisterTestNote();
    RegisterDocumentModel();
    RegisterDocumentModel();
    auto db = NewDoc();
    UIDRef frame = Frame(db.get(), 0, PMRect(0, 0, 10, 10));
    std::string file = Tiff("r.tif", 10, 10, 72);
    UIDRef image = Place(frame, file);
    EXPECT_TRUE(InterfaceOf<ITestNote>(image)) << "added before registration";
    EXPECT_TRUE(InterfaceOf<IImageAttributes>(image));
    EXPECT_TRUE(ObjectModel::Get().IsA(kImageItemBoss, kPageItemBoss));

    ObjectModel::Get().Reset();
    RegisterDocumentModel();
    RegisterTestNote();
    RegisterDocumentModel();
    auto db2 = NewDoc();
    UIDRef image2 = Place(Frame(db2.get(), 0, PMRect(0, 0, 10, 10)), file);
    EXPECT_TRUE(InterfaceOf<ITestNote>(image2)) << "added after registration";
    EXPECT_TRUE(InterfaceOf<IHierarchy>(image2)) << "from the parent class";
    EXPECT_TRUE(IsDocumentModelImplementation(kHierarchyImpl));
    EXPECT_FALSE(IsDocumentModelImplementation(kTestNoteImpl));
}

TEST_F(DocumentTest, GroupingKeepsWhereItemsAreAndUndoes) {
    auto db = NewDoc();
    IDataBase* d = db.get();
    UIDRef a = Frame(d, 0, PMRect(10, 20, 60, 70));
    UIDRef b = Frame(d, 0, PMRect(100, 20, 160, 90));
    UIDRef c = Frame(d, 0, PMRect(300, 20, 360, 90));
    InterfaceOf<ITransform>(b)->SetRotationAngle(30, PMPoint(100, 20));
    PMMatrix bToSpread = InterfaceOf<ITransform>(b)->GetInnerToSpreadMatrix();
    std::string before = Content(*d);

    // The order of the list does not matter: z-order does.
    UIDRef group = DocumentUtils::GroupItems(List(d, {c, a}));
    ASSERT_NE(group, UIDRef());
    EXPECT_EQ(Children(group), (std::vector<UID>{a.GetUID(), c.GetUID()}));
    EXPECT_EQ(Children(UIDRef(d, InterfaceOf<IHierarchy>(group)->GetSpreadUID())),
              (std::vector<UID>{b.GetUID(), group.GetUID()}))
        << "where c, the frontmost, was";
    ExpectMatrix(InterfaceOf<ITransform>(c)->GetInnerToSpreadMatrix(),
                 PMMatrix::MakeTranslation(300, 20));
    ExpectMatrix(InterfaceOf<ITransform>(b)->GetInnerToSpreadMatrix(), bToSpread);
    EXPECT_EQ(d->GetUndoName(), PMString("Group"));

    ASSERT_TRUE(d->Undo());
    EXPECT_EQ(Content(*d), before);
    EXPECT_FALSE(d->IsValidUID(group.GetUID()));
    ASSERT_TRUE(d->Redo());
    EXPECT_EQ(Parent(a), group.GetUID());

    // Refused: items of different parents, an image, nothing, a foreign UID.
    std::string file = Tiff("g.tif", 10, 10, 72);
    UIDRef image = Place(b, file);
    for (const UIDList& bad : {List(d, {a, b}), List(d, {image}), List(d, {b, b}), List(d, {})}) {
        std::string now = Content(*d);
        ErrorCode error = kSuccess;
        EXPECT_EQ(DocumentUtils::GroupItems(bad, &error), UIDRef());
        EXPECT_EQ(error, kInvalidItemError);
        EXPECT_EQ(Content(*d), now);
    }
}

// Deleting takes the content too and undoes; a change failing half-way leaves nothing.
TEST_F(DocumentTest, DeletingAnItemUndoesAndChangesFailingHalfWayLeaveNothing) {
    auto db = NewDoc();
    IDataBase* d = db.get();
    UIDRef frame = Frame(d, 0, PMRect(0, 0, 10, 10));
    UIDRef image = Place(frame, Tiff("d.tif", 4, 4, 72));
    std::string before = Content(*d);
    ASSERT_EQ(DocumentUtils::DeletePageItem(frame), kSuccess);
    EXPECT_FALSE(d->IsValidUID(frame.GetUID()));
    EXPECT_FALSE(d->IsValidUID(image.GetUID()));
    EXPECT_EQ(DocumentUtils::DeletePageItem(frame), kInvalidItemError);
    ASSERT_TRUE(d->Undo());
    EXPECT_EQ(Content(*d), before);
    EXPECT_EQ(Parent(image), frame.GetUID());

    ErrorUtils::PMSetGlobalErrorCode(kSuccess);
    int32_t steps = d->UndoCount();
    EXPECT_EQ(DocumentUtils::ProcessChange(d, PMString("Half"),
                                           [&]() -> ErrorCode {
                                               InterfaceOf<ITransform>(frame)->MoveBy(5, 5);
                                               d->NewUID(kSplineItemBoss);
                                               return kNotAGraphicFrameError;
                                           }),
              kNotAGraphicFrameError);
    EXPECT_EQ(ErrorUtils::PMGetGlobalErrorCode(), kFailure);
    EXPECT_EQ(Content(*d), before);
    EXPECT_EQ(d->UndoCount(), steps);
    EXPECT_EQ(DocumentUtils::ProcessChange(nullptr, PMString("x"), [] { return kSuccess; }),
              kInvalidItemError);
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
    auto db = NewDoc();
    IDataBase* d = db.get();
    auto other = NewDoc();
    UIDRef a = Frame(d, 0, PMRect(0, 0, 10, 10));
    UIDRef b = Frame(d, 0, PMRect(20, 0, 30, 10));
    UIDRef image = Place(b, Tiff("s.tif", 4, 4, 72));
    InterfacePtr<IDocument> doc = DocumentUtils::QueryDocument(d);
    InterfacePtr<ILayoutSelection> selection(doc.get(), IID_ILAYOUTSELECTION);
    InterfacePtr<ISubject> subject(doc.get(), IID_ISUBJECT);
    ASSERT_TRUE(selection && subject);
    SelectionWatch watch;
    subject->AttachObserver(&watch, IID_ILAYOUTSELECTION);

    auto list = [d](std::initializer_list<UIDRef> refs) { return List(d, refs); };
    auto selected = [&] {
        UIDList s = selection->GetSelectedItems();
        return std::vector<UID>(s.begin(), s.end());
    };
    EXPECT_FALSE(selection->HasSelectedItems());
    selection->Select(list({a, Page(d, 0), UIDRef(d, UID(777))}));
    EXPECT_EQ(selected(), std::vector<UID>{a.GetUID()}) << "pages and unknown UIDs are no items";
    selection->Select(list({image, a}), ILayoutSelection::kAddTo);
    EXPECT_EQ(selected(), (std::vector<UID>{a.GetUID(), image.GetUID()}));
    selection->Select(list({a, image}), ILayoutSelection::kAddTo);
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

    selection->Deselect(list({relinked}));
    EXPECT_EQ(selected(), std::vector<UID>{a.GetUID()});
    selection->DeselectAll();
    EXPECT_FALSE(selection->HasSelectedItems());
    std::size_t told = watch.changes.size();
    selection->DeselectAll();
    EXPECT_EQ(watch.changes.size(), told);

    EXPECT_EQ(selection->GetItemBroughtIntoView(), kInvalidUID);
    selection->BringIntoView(b.GetUID());
    EXPECT_EQ(selection->GetItemBroughtIntoView(), b.GetUID());
    selection->BringIntoView(Page(d, 0).GetUID());
    EXPECT_EQ(selection->GetItemBroughtIntoView(), b.GetUID());
    EXPECT_EQ(watch.changes.back(), kItemBroughtIntoViewMessage);
    EXPECT_EQ(std::count(watch.changes.begin(), watch.changes.end(), kSelectionChangedMessage),
              static_cast<long>(watch.changes.size() - 1));
    subject->DetachObserver(&watch, IID_ILAYOUTSELECTION);
}

class PageItemTransform : public DocumentTest {};

TEST_F(PageItemTransform, ValuesThatCannotBeSavedAreRefused) {
    auto db = NewDoc();
    UIDRef item = Frame(db.get(), 0, PMRect(0, 0, 10, 10));
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

class DocumentPlace : public DocumentTest {};

TEST_F(DocumentPlace, FixedPointKeepsSixteenBitsOfFraction) {
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

TEST_F(DocumentPlace, WhatCannotBePlacedLeavesTheDocumentAlone) {
    auto db = NewDoc();
    IDataBase* d = db.get();
    UIDRef frame = Frame(d, 0, PMRect(0, 0, 100, 100));
    UIDRef text = DocumentUtils::AddPageItem(kTextFrameItemBoss, Page(d, 0), PMRect(0, 0, 9, 9));
    UIDRef image = Place(Frame(d, 0, PMRect(0, 0, 9, 9)), Tiff("ok.tif", 4, 4, 72));
    std::string good = Tiff("good.tif", 4, 4, 72);
    WriteFile(dir / "notes.txt", "these are not pixels\n");
    WriteFile(dir / "empty.tif", "");
    MakeDirs(dir / "folder.tif");
    struct Case {
        const char* name;
        UIDRef target;
        std::string path;
        ErrorCode code;
    } cases[] = {
        {"no file", frame, dir / "missing.tif", kFileNotFoundError},
        {"empty path", frame, "", kFileNotFoundError},
        {"a folder", frame, dir / "folder.tif", kFileNotFoundError},
        {"a text file", frame, dir / "notes.txt", kUnsupportedFileError},
        {"an empty file", frame, dir / "empty.tif", kUnsupportedFileError},
        {"into a text frame", text, good, kNotAGraphicFrameError},
        {"into an image", image, good, kNotAGraphicFrameError},
        {"into a page", Page(d, 0), good, kInvalidItemError},
        {"into nothing", UIDRef(), good, kInvalidItemError},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string before = Content(*d);
        int32_t steps = d->UndoCount();
        ErrorCode error = kSuccess;
        EXPECT_EQ(ImportUtils::PlaceFile(c.target, PMString(c.path), &error), UIDRef());
        EXPECT_EQ(error, c.code) << DocumentErrorText(error);
        EXPECT_EQ(ErrorUtils::PMGetGlobalErrorCode(), kFailure);
        EXPECT_EQ(Content(*d), before);
        EXPECT_EQ(d->UndoCount(), steps);
        EXPECT_STRNE(DocumentErrorText(error), DocumentErrorText(kFailure));
    }
}

TEST_F(DocumentPlace, RealFilesArePlacedAtTheSizeTheirHeadersGive) {
    std::string data = SharedTestData();
    if (data.empty()) {
        GTEST_SKIP() << "no shared test data";
    }
    std::ifstream in(data + "/images/manifest.json");
    ASSERT_TRUE(in) << "the image corpus has a manifest";
    nlohmann::json manifest = nlohmann::json::parse(in);
    auto db = NewDoc();
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
        UIDRef frame = Frame(db.get(), 0, PMRect(0, 0, 100, 100));
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

class RelinkTest : public DocumentTest {};

TEST_F(RelinkTest, WhatCannotBeRelinkedLeavesTheItemAlone) {
    auto db = NewDoc();
    IDataBase* d = db.get();
    UIDRef frame = Frame(d, 0, PMRect(0, 0, 100, 100));
    UIDRef image = Place(frame, Tiff("a.tif", 10, 10, 72));
    std::string good = Tiff("b.tif", 10, 10, 72);
    WriteFile(dir / "text.tif", "II*\0 not really");
    struct Case {
        const char* name;
        UIDRef item;
        std::string path;
        ErrorCode code;
    } cases[] = {
        {"no file", image, dir / "gone.tif", kFileNotFoundError},
        {"not an image file", image, dir / "text.tif", kUnsupportedFileError},
        {"a frame", frame, good, kNotAnImageError},
        {"a page", Page(d, 0), good, kInvalidItemError},
        {"a deleted item", UIDRef(d, UID(5000)), good, kInvalidItemError},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string before = Content(*d);
        ErrorCode error = kSuccess;
        EXPECT_EQ(LinkUtils::RelinkImage(c.item, PMString(c.path), &error), UIDRef());
        EXPECT_EQ(error, c.code);
        EXPECT_EQ(Content(*d), before);
        EXPECT_TRUE(d->IsValidUID(image.GetUID()));
    }
}

} // namespace
