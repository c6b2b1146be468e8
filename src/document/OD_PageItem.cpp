#include "OD_PageItem.h"

#include "DocumentModel.h"
#include "DocumentUtils.h"
#include "IApplication.h"
#include "IDocument.h"
#include "IGeometry.h"
#include "IGraphicFrameData.h"
#include "IHierarchy.h"
#include "ISession.h"
#include "ISpread.h"

int32_t OD_PageItem::GetChildCount() const {
    InterfacePtr<IHierarchy> hierarchy = InterfaceOf<IHierarchy>(item);
    return hierarchy ? hierarchy->GetChildCount() : 0;
}

UIDRef OD_PageItem::GetChild(int32_t index) const {
    InterfacePtr<IHierarchy> hierarchy = InterfaceOf<IHierarchy>(item);
    if (!hierarchy || index < 0 || index >= hierarchy->GetChildCount()) {
        return UIDRef();
    }
    return UIDRef(item.GetDataBase(), hierarchy->GetChildUID(index));
}

OD_PageItem::Kind OD_PageItem::GetKind() const {
    // A group has children but no outline; a frame with its image has one
    // child and an outline.
    InterfacePtr<IHierarchy> hierarchy = InterfaceOf<IHierarchy>(item);
    InterfacePtr<IPathGeometry> path = InterfaceOf<IPathGeometry>(item);
    if (hierarchy && !path && hierarchy->GetChildCount() > 1) {
        return kGroup;
    }
    if (InterfaceOf<IGraphicFrameData>(item) || PageItemTypeUtils::IsTextFrame(item) ||
        PageItemTypeUtils::IsUnassignedFrame(item)) {
        return kFrame;
    }
    if (PageItemTypeUtils::IsGraphic(item)) {
        return kGraphic;
    }
    return kOther;
}

bool IsPlacedImage(const UIDRef& item) {
    if (InterfaceOf<IGraphicFrameData>(item)) {
        return false;
    }
    return PageItemTypeUtils::IsGraphic(item);
}

namespace {

void CollectUnder(const UIDRef& item, UIDList& list) {
    InterfacePtr<IHierarchy> hierarchy = InterfaceOf<IHierarchy>(item);
    if (!hierarchy) {
        return;
    }
    int32_t count = hierarchy->GetChildCount();
    if (count == 0) {
        if (IsPlacedImage(item)) {
            list.Append(item.GetUID());
        }
        return;
    }
    // The host keeps groups from nesting deeper than kMaxNestingDepth, so the
    // recursion is bounded.
    for (int32_t i = 0; i < count; ++i) {
        CollectUnder(UIDRef(item.GetDataBase(), hierarchy->GetChildUID(i)), list);
    }
}

IDataBase* FrontDocument() {
    InterfacePtr<IApplication> app(GetExecutionContextSession()->QueryApplication());
    if (!app) {
        return nullptr;
    }
    InterfacePtr<IDocumentList> documents(app->QueryDocumentList());
    return documents ? documents->GetFrontDocument() : nullptr;
}

} // namespace

void CollectImages(const UIDRef& item, UIDList& list) {
    IDataBase* db = item.GetDataBase();
    if (db == nullptr) {
        return;
    }
    if (list.GetDataBase() == nullptr && list.IsEmpty()) {
        list = UIDList(db);
    }
    if (list.GetDataBase() != db) {
        return;
    }
    CollectUnder(item, list);
}

bool LiesOnAPage(const UIDRef& item) {
    return LayoutUtils::GetOwnerPageUID(item) != kInvalidUID;
}

void CollectDocumentImages(UIDList& list) {
    IDataBase* db = FrontDocument();
    InterfacePtr<IDocument> document = DocumentUtils::QueryDocument(db);
    if (!document) {
        return;
    }
    UIDList images(db);
    for (int32_t s = 0; s < document->GetSpreadCount(); ++s) {
        InterfacePtr<ISpread> spread =
            InterfaceOf<ISpread>(UIDRef(db, document->GetNthSpreadUID(s)));
        if (!spread) {
            continue;
        }
        for (int32_t p = 0; p < spread->GetNumPages(); ++p) {
            for (UID item : spread->GetItemsOnPage(p, false)) {
                CollectUnder(UIDRef(db, item), images);
            }
        }
    }
    list = images;
}
