// Making documents and page items; classifying page items and finding their
// pages.

#include "DocumentUtils.h"

#include "DocumentModel.h"
#include "ICommand.h"
#include "IGeometry.h"
#include "IHierarchy.h"
#include "ISpread.h"
#include "ITransform.h"
#include "ObjectModel.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <vector>

namespace {

constexpr int32_t kMaxPages = 9999;
constexpr int kMaxWalk = 1024;

bool IsA(const UIDRef& ref, ClassID ancestor) {
    IDataBase* db = ref.GetDataBase();
    return db != nullptr && db->IsValidUID(ref.GetUID()) &&
           ObjectModel::Get().IsA(db->GetClass(ref.GetUID()), ancestor);
}

void SetError(ErrorCode* error, ErrorCode code) {
    if (error != nullptr) {
        *error = code;
    }
}

// Levels below the spread: a spread's child is at level 1; 0 for a spread,
// -1 when the chain does not end at a spread.
int32_t LevelOf(IDataBase* db, UID uid) {
    for (int32_t level = 0; level < kMaxWalk; ++level) {
        if (ObjectModel::Get().IsA(db->GetClass(uid), kSpreadBoss)) {
            return level;
        }
        InterfacePtr<IHierarchy> h = InterfaceOf<IHierarchy>(UIDRef(db, uid));
        if (!h || h->GetParentUID() == kInvalidUID) {
            return -1;
        }
        uid = h->GetParentUID();
    }
    return -1;
}

// The levels that an item and what it holds take: 1 for an item without
// children.
int32_t HeightOf(IDataBase* db, UID uid, int32_t depth = 0) {
    InterfacePtr<IHierarchy> h = InterfaceOf<IHierarchy>(UIDRef(db, uid));
    if (!h || depth > kMaxNestingDepth) {
        return 1;
    }
    int32_t most = 0;
    for (int32_t i = 0; i < h->GetChildCount(); ++i) {
        most = std::max(most, HeightOf(db, h->GetChildUID(i), depth + 1));
    }
    return 1 + most;
}

} // namespace

const char* DocumentErrorText(ErrorCode code) {
    switch (code) {
    case kSuccess:
        return "no error";
    case kInvalidItemError:
        return "the item is not a page item of an open document";
    case kNotAGraphicFrameError:
        return "the item is not a graphic frame";
    case kNotAnImageError:
        return "the item is not a placed image";
    case kFileNotFoundError:
        return "there is no file at the path";
    case kUnsupportedFileError:
        return "the file is not an image that can be placed";
    case kNestingTooDeepError:
        return "groups would nest too deep";
    case kChangeInProgressError:
        return "a change to the document is in progress";
    default:
        return "the operation failed";
    }
}

std::unique_ptr<IDataBase> DocumentUtils::NewDocument(const NewDocumentOptions& options) {
    RegisterDocumentModel();
    auto db = std::make_unique<IDataBase>();
    UID docUID = db->NewUID(kDocBoss);
    db->SetRootUID(docUID);
    InterfacePtr<IDocument> doc = InterfaceOf<IDocument>(UIDRef(db.get(), docUID));
    doc->SetName(options.name);

    int32_t pageCount = std::clamp(options.pageCount, 1, kMaxPages);
    int32_t perSpread = std::clamp(options.pagesPerSpread, 1, kMaxPages);
    NewDocumentOptions defaults;
    double width = std::isfinite(options.pageWidth) && options.pageWidth > 0 ? options.pageWidth
                                                                             : defaults.pageWidth;
    double height = std::isfinite(options.pageHeight) && options.pageHeight > 0
                        ? options.pageHeight
                        : defaults.pageHeight;
    UID spreadUID;
    for (int32_t i = 0; i < pageCount; ++i) {
        if (i % perSpread == 0) {
            spreadUID = db->NewUID(kSpreadBoss);
            doc->AddSpread(spreadUID);
        }
        UID pageUID = db->NewUID(kPageBoss);
        UIDRef page(db.get(), pageUID);
        InterfaceOf<IGeometry>(page)->SetBoundingBox(PMRect(0, 0, width, height));
        InterfaceOf<ITransform>(page)->SetInnerToParentMatrix(
            PMMatrix::MakeTranslation(width * (i % perSpread), 0));
        InterfaceOf<IPage>(page)->SetSpreadUID(spreadUID);
        InterfaceOf<ISpread>(UIDRef(db.get(), spreadUID))->AddPage(pageUID);
    }
    db->SetModified(false);
    return db;
}

InterfacePtr<IDocument> DocumentUtils::QueryDocument(IDataBase* db) {
    if (db == nullptr || !ObjectModel::Get().IsA(db->GetClass(db->GetRootUID()), kDocBoss)) {
        return InterfacePtr<IDocument>();
    }
    return InterfaceOf<IDocument>(UIDRef(db, db->GetRootUID()));
}

UIDRef DocumentUtils::GetNthPage(IDataBase* db, int32_t index) {
    InterfacePtr<IDocument> doc = QueryDocument(db);
    if (!doc) {
        return UIDRef();
    }
    UIDList pages = doc->GetPages();
    return index >= 0 && index < pages.Length() ? pages.GetRef(index) : UIDRef();
}

UIDRef DocumentUtils::AddPageItem(ClassID itemClass, const UIDRef& where, const PMRect& bounds,
                                  ErrorCode* error) {
    IDataBase* db = where.GetDataBase();
    const ObjectModel& model = ObjectModel::Get();
    bool itemClassOk = model.IsA(itemClass, kSplineItemBoss) ||
                       model.IsA(itemClass, kTextFrameItemBoss) ||
                       model.IsA(itemClass, kShapeItemBoss);
    bool boundsOk = std::isfinite(bounds.Left()) && std::isfinite(bounds.Top()) &&
                    std::isfinite(bounds.Right()) && std::isfinite(bounds.Bottom()) &&
                    bounds.Width() >= 0 && bounds.Height() >= 0;
    UID spreadUID;
    PMMatrix base;
    if (IsA(where, kPageBoss)) {
        InterfacePtr<IPage> page = InterfaceOf<IPage>(where);
        spreadUID = page->GetSpreadUID();
        base = InterfaceOf<ITransform>(where)->GetInnerToParentMatrix();
    } else if (IsA(where, kSpreadBoss)) {
        spreadUID = where.GetUID();
    }
    if (!itemClassOk || !boundsOk || !IsA(UIDRef(db, spreadUID), kSpreadBoss)) {
        ErrorUtils::PMSetGlobalErrorCode(kFailure);
        SetError(error, !itemClassOk || !boundsOk ? kFailure : kInvalidItemError);
        return UIDRef();
    }
    UID made;
    ErrorCode code = ProcessChange(db, PMString("New Item"), [&]() -> ErrorCode {
        made = db->NewUID(itemClass);
        UIDRef item(db, made);
        InterfaceOf<IGeometry>(item)->SetBoundingBox(PMRect(0, 0, bounds.Width(), bounds.Height()));
        InterfaceOf<ITransform>(item)->SetInnerToParentMatrix(
            PMMatrix::MakeTranslation(bounds.Left(), bounds.Top()) * base);
        return InterfaceOf<IHierarchy>(UIDRef(db, spreadUID))->AddChild(made) ? kSuccess : kFailure;
    });
    SetError(error, code);
    return code == kSuccess ? UIDRef(db, made) : UIDRef();
}

UIDRef DocumentUtils::AddGraphicFrame(const UIDRef& where, const PMRect& bounds, ErrorCode* error) {
    return AddPageItem(kSplineItemBoss, where, bounds, error);
}

UIDRef DocumentUtils::GroupItems(const UIDList& items, ErrorCode* error) {
    IDataBase* db = items.GetDataBase();
    auto fail = [&](ErrorCode code) {
        ErrorUtils::PMSetGlobalErrorCode(kFailure);
        SetError(error, code);
        return UIDRef();
    };
    if (db == nullptr || items.IsEmpty()) {
        return fail(kInvalidItemError);
    }
    // One parent for all, no image (it stays in its frame), none twice.
    UID parentUID;
    std::set<UID> distinct;
    for (UID uid : items) {
        UIDRef ref(db, uid);
        InterfacePtr<IHierarchy> h = InterfaceOf<IHierarchy>(ref);
        if (!IsA(ref, kPageItemBoss) || IsA(ref, kImageItemBoss) || !h ||
            !distinct.insert(uid).second) {
            return fail(kInvalidItemError);
        }
        if (parentUID == kInvalidUID) {
            parentUID = h->GetParentUID();
        } else if (h->GetParentUID() != parentUID) {
            return fail(kInvalidItemError);
        }
    }
    InterfacePtr<IHierarchy> parent = InterfaceOf<IHierarchy>(UIDRef(db, parentUID));
    int32_t parentLevel = parentUID != kInvalidUID ? LevelOf(db, parentUID) : -1;
    if (!parent || parentLevel < 0) {
        return fail(kInvalidItemError);
    }
    int32_t tallest = 0;
    for (UID uid : items) {
        tallest = std::max(tallest, HeightOf(db, uid));
    }
    if (parentLevel + 1 + tallest > kMaxNestingDepth) {
        return fail(kNestingTooDeepError);
    }

    std::vector<std::pair<int32_t, UID>> byIndex;
    for (UID uid : items) {
        byIndex.emplace_back(parent->GetChildIndex(uid), uid);
    }
    std::sort(byIndex.begin(), byIndex.end());
    // The group goes where the frontmost item was, once the others are out.
    int32_t position = byIndex.back().first - static_cast<int32_t>(byIndex.size() - 1);
    UID group;
    ErrorCode code = DocumentUtils::ProcessChange(db, PMString("Group"), [&]() -> ErrorCode {
        group = db->NewUID(kGroupItemBoss);
        InterfacePtr<IHierarchy> groupHierarchy = InterfaceOf<IHierarchy>(UIDRef(db, group));
        for (const auto& [index, uid] : byIndex) {
            if (!groupHierarchy->AddChild(uid)) {
                return kFailure;
            }
        }
        return parent->AddChild(group, position) ? kSuccess : kFailure;
    });
    SetError(error, code);
    return code == kSuccess ? UIDRef(db, group) : UIDRef();
}

ErrorCode DocumentUtils::DeletePageItem(const UIDRef& item) {
    if (!IsA(item, kPageItemBoss)) {
        ErrorUtils::PMSetGlobalErrorCode(kFailure);
        return kInvalidItemError;
    }
    IDataBase* db = item.GetDataBase();
    return ProcessChange(db, PMString("Delete"), [&]() -> ErrorCode {
        DeleteItemTree(db, item.GetUID());
        return kSuccess;
    });
}

// ---- classification

bool PageItemTypeUtils::IsPageItem(const UIDRef& item) {
    return IsA(item, kPageItemBoss);
}

PageItemTypeUtils::PageItemType PageItemTypeUtils::GetPageItemType(const UIDRef& item) {
    if (IsA(item, kImageItemBoss)) {
        return PageItemType::kImage;
    }
    if (IsA(item, kSplineItemBoss)) {
        return PageItemType::kGraphicFrame;
    }
    if (IsA(item, kGroupItemBoss)) {
        return PageItemType::kGroup;
    }
    return PageItemType::kOther;
}

bool PageItemTypeUtils::IsGraphic(const UIDRef& item) {
    return IsA(item, kImageItemBoss);
}

bool PageItemTypeUtils::IsGraphicFrame(const UIDRef& item) {
    return IsA(item, kSplineItemBoss);
}

bool PageItemTypeUtils::IsGroup(const UIDRef& item) {
    return IsA(item, kGroupItemBoss);
}

bool PageItemTypeUtils::IsTextFrame(const UIDRef& item) {
    return IsA(item, kTextFrameItemBoss);
}

bool PageItemTypeUtils::IsUnassignedFrame(const UIDRef& item) {
    return IsA(item, kShapeItemBoss);
}

// ---- pages

UID LayoutUtils::GetOwnerPageUID(const UIDRef& item) {
    if (!IsA(item, kPageItemBoss)) {
        return kInvalidUID;
    }
    IDataBase* db = item.GetDataBase();
    UID top = item.GetUID();
    for (int step = 0; step < kMaxWalk; ++step) {
        InterfacePtr<IHierarchy> h = InterfaceOf<IHierarchy>(UIDRef(db, top));
        UID parent = h ? h->GetParentUID() : kInvalidUID;
        if (parent == kInvalidUID) {
            return kInvalidUID;
        }
        if (IsA(UIDRef(db, parent), kSpreadBoss)) {
            UIDRef topRef(db, top);
            InterfacePtr<IGeometry> geometry = InterfaceOf<IGeometry>(topRef);
            InterfacePtr<ITransform> transform = InterfaceOf<ITransform>(topRef);
            InterfacePtr<ISpread> spread = InterfaceOf<ISpread>(UIDRef(db, parent));
            if (!geometry || !transform || !spread) {
                return kInvalidUID;
            }
            PMPoint centre =
                geometry->GetBoundingBox(transform->GetInnerToParentMatrix()).GetCenter();
            return spread->GetNthPageUID(spread->GetPageIndexAt(centre));
        }
        top = parent;
    }
    return kInvalidUID;
}

int32_t LayoutUtils::GetPageNumber(const UIDRef& item) {
    UID page = GetOwnerPageUID(item);
    InterfacePtr<IPage> p = InterfaceOf<IPage>(UIDRef(item.GetDataBase(), page));
    return p ? p->GetPageNumber() : 0;
}
