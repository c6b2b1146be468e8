// The document model's implementations and their registration.

#include "DocumentModel.h"

#include "DocumentUtils.h"
#include "ICommand.h"
#include "IDataLink.h"
#include "IDocument.h"
#include "IGeometry.h"
#include "IGraphicFrameData.h"
#include "IHierarchy.h"
#include "IImageAttributes.h"
#include "ILayoutSelection.h"
#include "IPMStream.h"
#include "ISpread.h"
#include "ISubject.h"
#include "ITransform.h"
#include "ObjectModel.h"
#include "Paths.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <set>
#include <vector>

namespace {

// Upper bound of any walk up a hierarchy; a loaded document nests far less
// (kMaxNestingDepth), so this only keeps a damaged chain from looping.
constexpr int kMaxWalk = 1024;

bool IsFinite(const PMRect& r) {
    return std::isfinite(r.Left()) && std::isfinite(r.Top()) && std::isfinite(r.Right()) &&
           std::isfinite(r.Bottom());
}

bool IsFinite(const PMMatrix& m) {
    return std::isfinite(m.A()) && std::isfinite(m.B()) && std::isfinite(m.C()) &&
           std::isfinite(m.D()) && std::isfinite(m.Tx()) && std::isfinite(m.Ty());
}

bool IsA(IDataBase* db, UID uid, ClassID ancestor) {
    return db != nullptr && ObjectModel::Get().IsA(db->GetClass(uid), ancestor);
}

template <class T> InterfacePtr<T> Sibling(const IPMUnknown* self) {
    return InterfacePtr<T>(self, PMIID(T::kDefaultIID));
}

void XferUID(IPMStream* s, UID& uid) {
    uint32_t value = uid.Get();
    s->XferUInt32(value);
    if (s->IsReading() && s->Good()) {
        uid = UID(value);
    }
}

// A count and the UIDs; on reading, a count that the bytes left cannot hold
// fails the stream before anything is allocated, and the list changes only
// when the whole of it was read.
void XferUIDs(IPMStream* s, std::vector<UID>& uids) {
    if (s->IsWriting()) {
        int32_t count = static_cast<int32_t>(uids.size());
        s->XferInt32(count);
        for (UID& uid : uids) {
            XferUID(s, uid);
        }
        return;
    }
    int32_t count = 0;
    s->XferInt32(count);
    if (!s->Good() || count < 0 || static_cast<std::size_t>(count) > s->Remaining() / 4) {
        s->SetFailed();
        return;
    }
    std::vector<UID> read(static_cast<std::size_t>(count));
    for (UID& uid : read) {
        XferUID(s, uid);
    }
    if (s->Good()) {
        uids = std::move(read);
    }
}

// A real that must be finite when read back.
void XferFinite(IPMStream* s, double& value) {
    double v = value;
    s->XferReal(v);
    if (s->IsReading() && s->Good()) {
        if (!std::isfinite(v)) {
            s->SetFailed();
            return;
        }
        value = v;
    }
}

void InsertAt(std::vector<UID>& list, UID uid, int32_t position) {
    if (position < 0 || static_cast<std::size_t>(position) >= list.size()) {
        list.push_back(uid);
    } else {
        list.insert(list.begin() + position, uid);
    }
}

// ---- the document

class DocumentImpl : public CPMUnknown<IDocument> {
public:
    explicit DocumentImpl(IPMUnknown* o) : CPMUnknown<IDocument>(o) {}

    IDataBase* GetDocDataBase() const override { return ::GetDataBase(this); }
    PMString GetName() const override { return name; }
    void SetName(const PMString& value) override { name = value; }
    PMString GetFilePath() const override { return filePath; }
    void SetFilePath(const PMString& value) override { filePath = value; }

    int32_t GetSpreadCount() const override { return static_cast<int32_t>(spreads.size()); }
    UID GetNthSpreadUID(int32_t index) const override {
        return index >= 0 && index < GetSpreadCount() ? spreads[static_cast<std::size_t>(index)]
                                                      : kInvalidUID;
    }
    UIDList GetSpreads() const override {
        UIDList list(GetDocDataBase());
        for (UID uid : spreads) {
            list.Append(uid);
        }
        return list;
    }
    UIDList GetPages() const override {
        IDataBase* db = GetDocDataBase();
        UIDList list(db);
        for (UID spreadUID : spreads) {
            InterfacePtr<ISpread> spread = InterfaceOf<ISpread>(UIDRef(db, spreadUID));
            for (int32_t i = 0; spread && i < spread->GetNumPages(); ++i) {
                list.Append(spread->GetNthPageUID(i));
            }
        }
        return list;
    }
    void AddSpread(UID spread, int32_t position) override {
        PreDirty();
        InsertAt(spreads, spread, position);
    }

    void ReadWrite(IPMStream* s, ImplementationID) override { XferUIDs(s, spreads); }

private:
    std::vector<UID> spreads;
    PMString name;     // of the open document, not saved
    PMString filePath; // likewise
};

// ---- spreads and pages

class SpreadImpl : public CPMUnknown<ISpread> {
public:
    explicit SpreadImpl(IPMUnknown* o) : CPMUnknown<ISpread>(o) {}

    int32_t GetNumPages() const override { return static_cast<int32_t>(pages.size()); }
    UID GetNthPageUID(int32_t index) const override {
        return index >= 0 && index < GetNumPages() ? pages[static_cast<std::size_t>(index)]
                                                   : kInvalidUID;
    }
    int32_t GetPageIndex(UID page) const override {
        auto it = std::find(pages.begin(), pages.end(), page);
        return it != pages.end() ? static_cast<int32_t>(it - pages.begin()) : -1;
    }

    int32_t GetPageIndexAt(const PMPoint& p) const override {
        IDataBase* db = ::GetDataBase(this);
        for (int32_t i = 0; i < GetNumPages(); ++i) {
            InterfacePtr<IPage> page = InterfaceOf<IPage>(UIDRef(db, GetNthPageUID(i)));
            if (!page) {
                continue;
            }
            PMRect r = page->GetBoundsInSpread();
            if (p.X() >= r.Left() && p.X() < r.Right() && p.Y() >= r.Top() && p.Y() < r.Bottom()) {
                return i;
            }
        }
        return -1;
    }

    UIDList GetItemsOnPage(int32_t pageIndex, bool includePage) const override {
        IDataBase* db = ::GetDataBase(this);
        UIDList list(db);
        if (pageIndex < 0 || pageIndex >= GetNumPages()) {
            return list;
        }
        if (includePage) {
            list.Append(GetNthPageUID(pageIndex));
        }
        InterfacePtr<IHierarchy> hierarchy = Sibling<IHierarchy>(this);
        for (int32_t i = 0; hierarchy && i < hierarchy->GetChildCount(); ++i) {
            UIDRef item(db, hierarchy->GetChildUID(i));
            InterfacePtr<IGeometry> geometry = InterfaceOf<IGeometry>(item);
            InterfacePtr<ITransform> transform = InterfaceOf<ITransform>(item);
            if (!geometry || !transform) {
                continue;
            }
            PMPoint centre =
                geometry->GetBoundingBox(transform->GetInnerToParentMatrix()).GetCenter();
            if (GetPageIndexAt(centre) == pageIndex) {
                list.Append(item.GetUID());
            }
        }
        return list;
    }

    void AddPage(UID page, int32_t position) override {
        PreDirty();
        InsertAt(pages, page, position);
    }

    void ReadWrite(IPMStream* s, ImplementationID) override { XferUIDs(s, pages); }

private:
    std::vector<UID> pages;
};

class PageImpl : public CPMUnknown<IPage> {
public:
    explicit PageImpl(IPMUnknown* o) : CPMUnknown<IPage>(o) {}

    int32_t GetPageNumber() const override {
        IDataBase* db = ::GetDataBase(this);
        InterfacePtr<IDocument> doc = DocumentUtils::QueryDocument(db);
        if (!doc) {
            return 0;
        }
        int32_t index = doc->GetPages().Location(::GetUID(this));
        return index + 1;
    }
    UID GetSpreadUID() const override { return spread; }
    void SetSpreadUID(UID value) override {
        PreDirty();
        spread = value;
    }
    PMRect GetBoundsInSpread() const override {
        InterfacePtr<IGeometry> geometry = Sibling<IGeometry>(this);
        InterfacePtr<ITransform> transform = Sibling<ITransform>(this);
        if (!geometry) {
            return PMRect();
        }
        return transform ? geometry->GetBoundingBox(transform->GetInnerToParentMatrix())
                         : geometry->GetBoundingBox();
    }

    void ReadWrite(IPMStream* s, ImplementationID) override { XferUID(s, spread); }

private:
    UID spread;
};

// ---- page items

class HierarchyImpl : public CPMUnknown<IHierarchy> {
public:
    explicit HierarchyImpl(IPMUnknown* o) : CPMUnknown<IHierarchy>(o) {}

    UID GetParentUID() const override { return parent; }
    IHierarchy* QueryParent() const override { return Query(parent); }
    int32_t GetChildCount() const override { return static_cast<int32_t>(children.size()); }
    UID GetChildUID(int32_t index) const override {
        return index >= 0 && index < GetChildCount() ? children[static_cast<std::size_t>(index)]
                                                     : kInvalidUID;
    }
    IHierarchy* QueryChild(int32_t index) const override { return Query(GetChildUID(index)); }
    int32_t GetChildIndex(UID child) const override {
        auto it = std::find(children.begin(), children.end(), child);
        return it != children.end() ? static_cast<int32_t>(it - children.begin()) : -1;
    }

    UID GetSpreadUID() const override {
        IDataBase* db = ::GetDataBase(this);
        UID uid = ::GetUID(this);
        for (int step = 0; step < kMaxWalk && uid != kInvalidUID; ++step) {
            if (IsA(db, uid, kSpreadBoss)) {
                return uid;
            }
            InterfacePtr<IHierarchy> h = InterfaceOf<IHierarchy>(UIDRef(db, uid));
            if (!h) {
                break;
            }
            uid = h->GetParentUID();
        }
        return kInvalidUID;
    }

    bool AddChild(UID child, int32_t position) override {
        IDataBase* db = ::GetDataBase(this);
        UID self = ::GetUID(this);
        if (db == nullptr || child == self || !db->IsValidUID(child) ||
            !IsA(db, child, kPageItemBoss)) {
            return false;
        }
        // The child must not be this item or one of its ancestors.
        UID up = parent;
        for (int step = 0; step < kMaxWalk && up != kInvalidUID; ++step) {
            if (up == child) {
                return false;
            }
            InterfacePtr<IHierarchy> h = InterfaceOf<IHierarchy>(UIDRef(db, up));
            up = h ? h->GetParentUID() : kInvalidUID;
        }
        InterfacePtr<IHierarchy> childHierarchy = InterfaceOf<IHierarchy>(UIDRef(db, child));
        if (!childHierarchy) {
            return false;
        }
        if (UID former = childHierarchy->GetParentUID(); former != kInvalidUID) {
            if (InterfacePtr<IHierarchy> h = InterfaceOf<IHierarchy>(UIDRef(db, former))) {
                h->RemoveChild(child);
            }
        }
        PreDirty();
        InsertAt(children, child, position);
        childHierarchy->SetParentUID(self);
        return true;
    }

    void RemoveChild(UID child) override {
        auto it = std::find(children.begin(), children.end(), child);
        if (it == children.end()) {
            return;
        }
        PreDirty();
        children.erase(it);
        IDataBase* db = ::GetDataBase(this);
        InterfacePtr<IHierarchy> h = InterfaceOf<IHierarchy>(UIDRef(db, child));
        if (h && h->GetParentUID() == ::GetUID(this)) {
            h->SetParentUID(kInvalidUID);
        }
    }

    void SetParentUID(UID value) override {
        if (value == parent) {
            return;
        }
        PreDirty();
        parent = value;
    }

    void ReadWrite(IPMStream* s, ImplementationID) override {
        UID p = parent;
        std::vector<UID> c = children;
        XferUID(s, p);
        XferUIDs(s, c);
        if (s->IsReading() && s->Good()) {
            parent = p;
            children = std::move(c);
        }
    }

private:
    IHierarchy* Query(UID uid) const {
        IDataBase* db = ::GetDataBase(this);
        if (db == nullptr || uid == kInvalidUID) {
            return nullptr;
        }
        return static_cast<IHierarchy*>(db->Instantiate(uid, IID_IHIERARCHY));
    }

    UID parent;
    std::vector<UID> children;
};

class GeometryImpl : public CPMUnknown<IGeometry> {
public:
    explicit GeometryImpl(IPMUnknown* o) : CPMUnknown<IGeometry>(o) {}

    PMRect GetBoundingBox() const override { return box; }
    PMRect GetBoundingBox(const PMMatrix& m) const override { return TransformedBounds(box, m); }
    void SetBoundingBox(const PMRect& value) override {
        if (!IsFinite(value) || value == box) {
            return;
        }
        PreDirty();
        box = value;
    }

    void ReadWrite(IPMStream* s, ImplementationID) override {
        double l = box.Left(), t = box.Top(), r = box.Right(), b = box.Bottom();
        XferFinite(s, l);
        XferFinite(s, t);
        XferFinite(s, r);
        XferFinite(s, b);
        if (s->IsReading() && s->Good()) {
            box = PMRect(l, t, r, b);
        }
    }

private:
    PMRect box;
};

// A group's box: the box around its children's boxes in its coordinates.
class GroupGeometryImpl : public CPMUnknown<IGeometry> {
public:
    explicit GroupGeometryImpl(IPMUnknown* o) : CPMUnknown<IGeometry>(o) {}

    PMRect GetBoundingBox() const override {
        // Nesting is bounded in every document the model makes or loads; the
        // depth count keeps a damaged one from recursing without end.
        static int depth = 0;
        if (depth > kMaxWalk) {
            return PMRect();
        }
        ++depth;
        IDataBase* db = ::GetDataBase(this);
        InterfacePtr<IHierarchy> hierarchy = Sibling<IHierarchy>(this);
        bool any = false;
        PMRect all;
        for (int32_t i = 0; hierarchy && i < hierarchy->GetChildCount(); ++i) {
            UIDRef child(db, hierarchy->GetChildUID(i));
            InterfacePtr<IGeometry> geometry = InterfaceOf<IGeometry>(child);
            InterfacePtr<ITransform> transform = InterfaceOf<ITransform>(child);
            if (!geometry || !transform) {
                continue;
            }
            PMRect r = geometry->GetBoundingBox(transform->GetInnerToParentMatrix());
            if (!any) {
                all = r;
                any = true;
            } else {
                all = PMRect(std::min(all.Left(), r.Left()), std::min(all.Top(), r.Top()),
                             std::max(all.Right(), r.Right()), std::max(all.Bottom(), r.Bottom()));
            }
        }
        --depth;
        return all;
    }
    PMRect GetBoundingBox(const PMMatrix& m) const override {
        return TransformedBounds(GetBoundingBox(), m);
    }
    void SetBoundingBox(const PMRect&) override {}
};

class PathGeometryImpl : public CPMUnknown<IPathGeometry> {
public:
    explicit PathGeometryImpl(IPMUnknown* o) : CPMUnknown<IPathGeometry>(o) {}

    int32_t GetNumPaths() const override { return 1; }
    PMRect GetPathBoundingBox() const override {
        InterfacePtr<IGeometry> geometry = Sibling<IGeometry>(this);
        return geometry ? geometry->GetBoundingBox() : PMRect();
    }
};

class TransformImpl : public CPMUnknown<ITransform> {
public:
    explicit TransformImpl(IPMUnknown* o) : CPMUnknown<ITransform>(o) {}

    PMMatrix GetInnerToParentMatrix() const override { return matrix; }

    PMMatrix GetInnerToSpreadMatrix() const override {
        PMMatrix result = matrix;
        InterfacePtr<IHierarchy> hierarchy = Sibling<IHierarchy>(this);
        if (!hierarchy) {
            return result; // a page: its matrix goes to the spread
        }
        IDataBase* db = ::GetDataBase(this);
        UID up = hierarchy->GetParentUID();
        for (int step = 0; step < kMaxWalk && up != kInvalidUID; ++step) {
            if (IsA(db, up, kSpreadBoss)) {
                break;
            }
            UIDRef ref(db, up);
            InterfacePtr<ITransform> transform = InterfaceOf<ITransform>(ref);
            InterfacePtr<IHierarchy> h = InterfaceOf<IHierarchy>(ref);
            if (!transform || !h) {
                break;
            }
            result *= transform->GetInnerToParentMatrix();
            up = h->GetParentUID();
        }
        return result;
    }

    void SetInnerToParentMatrix(const PMMatrix& m) override { Commit(m); }

    bool SetScale(double xScale, double yScale, const PMPoint& about) override {
        PMMatrix m = matrix;
        return m.SetScale(xScale, yScale, about) && Commit(m);
    }
    bool SetRotationAngle(double degrees, const PMPoint& about) override {
        PMMatrix m = matrix;
        return m.SetRotationAngle(degrees, about) && Commit(m);
    }
    bool SetXSkewAngle(double degrees, const PMPoint& about) override {
        PMMatrix m = matrix;
        return m.SetXSkewAngle(degrees, about) && Commit(m);
    }
    void MoveBy(double dx, double dy) override {
        PMMatrix m = matrix;
        m.Translate(dx, dy);
        Commit(m);
    }
    void MoveTo(const PMPoint& leftTop) override {
        InterfacePtr<IGeometry> geometry = Sibling<IGeometry>(this);
        PMRect box = geometry ? geometry->GetBoundingBox(matrix)
                              : PMRect(matrix.Tx(), matrix.Ty(), matrix.Tx(), matrix.Ty());
        MoveBy(leftTop.X() - box.Left(), leftTop.Y() - box.Top());
    }

    void ReadWrite(IPMStream* s, ImplementationID) override {
        double v[6] = {matrix.A(), matrix.B(), matrix.C(), matrix.D(), matrix.Tx(), matrix.Ty()};
        for (double& x : v) {
            XferFinite(s, x);
        }
        if (s->IsReading() && s->Good()) {
            matrix = PMMatrix(v[0], v[1], v[2], v[3], v[4], v[5]);
        }
    }

private:
    // Takes the new matrix unless a part of it is not finite (a document must
    // always save and load back).
    bool Commit(const PMMatrix& m) {
        if (!IsFinite(m)) {
            return false;
        }
        if (m != matrix) {
            PreDirty();
            matrix = m;
        }
        return true;
    }

    PMMatrix matrix;
};

class GraphicFrameDataImpl : public CPMUnknown<IGraphicFrameData> {
public:
    explicit GraphicFrameDataImpl(IPMUnknown* o) : CPMUnknown<IGraphicFrameData>(o) {}

    bool IsGraphicFrame() const override { return true; }
    bool HasContent() const override { return GetContentUID() != kInvalidUID; }
    UID GetContentUID() const override {
        InterfacePtr<IHierarchy> hierarchy = Sibling<IHierarchy>(this);
        return hierarchy ? hierarchy->GetChildUID(0) : kInvalidUID;
    }
};

class ImageAttributesImpl : public CPMUnknown<IImageAttributes> {
public:
    explicit ImageAttributesImpl(IPMUnknown* o) : CPMUnknown<IImageAttributes>(o) {}

    bool GetXResolution(PMFixed& value) const override {
        if (hasResolution) {
            value = xResolution;
        }
        return hasResolution;
    }
    bool GetYResolution(PMFixed& value) const override {
        if (hasResolution) {
            value = yResolution;
        }
        return hasResolution;
    }
    uint32_t GetPixelWidth() const override { return width; }
    uint32_t GetPixelHeight() const override { return height; }

    void SetImageInfo(uint32_t w, uint32_t h, PMFixed x, PMFixed y) override {
        PreDirty();
        width = w;
        height = h;
        xResolution = x;
        yResolution = y;
        hasResolution = true;
    }

    void ReadWrite(IPMStream* s, ImplementationID) override {
        bool has = hasResolution;
        int32_t x = xResolution, y = yResolution;
        uint32_t w = width, h = height;
        s->XferBool(has);
        s->XferInt32(x);
        s->XferInt32(y);
        s->XferUInt32(w);
        s->XferUInt32(h);
        if (s->IsReading() && s->Good()) {
            hasResolution = has;
            xResolution = x;
            yResolution = y;
            width = w;
            height = h;
        }
    }

private:
    bool hasResolution = false;
    PMFixed xResolution = 0;
    PMFixed yResolution = 0;
    uint32_t width = 0;
    uint32_t height = 0;
};

class DataLinkImpl : public CPMUnknown<IDataLink> {
public:
    explicit DataLinkImpl(IPMUnknown* o) : CPMUnknown<IDataLink>(o) {}

    PMString GetShortName() const override {
        const std::string& path = longName.GetUTF8String();
        const char* separator = LastSeparator(path.c_str());
        return PMString(separator != nullptr ? separator + 1 : path.c_str());
    }
    PMString GetLongName() const override { return longName; }
    void SetLongName(const PMString& path) override {
        PreDirty();
        longName = path;
    }

    void ReadWrite(IPMStream* s, ImplementationID) override { s->XferPMString(longName); }

private:
    PMString longName;
};

// ---- the layout selection

class LayoutSelectionImpl : public CPMUnknown<ILayoutSelection> {
public:
    explicit LayoutSelectionImpl(IPMUnknown* o) : CPMUnknown<ILayoutSelection>(o) {}

    void Select(const UIDList& items, SelectionMode mode) override {
        std::vector<UID> next = mode == kReplace ? std::vector<UID>() : Existing();
        if (items.GetDataBase() == ::GetDataBase(this)) {
            for (UID uid : items) {
                if (IsSelectable(uid) && std::find(next.begin(), next.end(), uid) == next.end()) {
                    next.push_back(uid);
                }
            }
        }
        Change(std::move(next));
    }
    void Deselect(const UIDList& items) override {
        std::vector<UID> next = Existing();
        if (items.GetDataBase() == ::GetDataBase(this)) {
            std::erase_if(next, [&](UID uid) { return items.Location(uid) >= 0; });
        }
        Change(std::move(next));
    }
    void DeselectAll() override { Change({}); }
    bool HasSelectedItems() const override { return !Existing().empty(); }
    UIDList GetSelectedItems() const override {
        UIDList list(::GetDataBase(this));
        for (UID uid : Existing()) {
            list.Append(uid);
        }
        return list;
    }
    bool IsSelected(UID item) const override {
        std::vector<UID> now = Existing();
        return std::find(now.begin(), now.end(), item) != now.end();
    }
    void ReplaceItem(UID from, UID to) override {
        auto it = std::find(selected.begin(), selected.end(), from);
        if (it == selected.end() || !IsSelectable(to)) {
            return;
        }
        std::vector<UID> next;
        for (UID uid : selected) {
            UID now = uid == from ? to : uid;
            if (std::find(next.begin(), next.end(), now) == next.end()) {
                next.push_back(now);
            }
        }
        Change(std::move(next));
    }

    void BringIntoView(UID item) override {
        if (!IsSelectable(item)) {
            return;
        }
        inView = item;
        Notify(kItemBroughtIntoViewMessage);
    }
    UID GetItemBroughtIntoView() const override { return inView; }

private:
    bool IsSelectable(UID uid) const {
        IDataBase* db = ::GetDataBase(this);
        return db != nullptr && db->IsValidUID(uid) && IsA(db, uid, kPageItemBoss);
    }
    std::vector<UID> Existing() const {
        std::vector<UID> now;
        for (UID uid : selected) {
            if (IsSelectable(uid)) {
                now.push_back(uid);
            }
        }
        return now;
    }
    // Takes the new selection; observers are told only when what is seen
    // changes, not when items that are gone drop out.
    void Change(std::vector<UID> next) {
        std::erase_if(next, [&](UID uid) { return !IsSelectable(uid); });
        bool seen = next != Existing();
        selected = std::move(next);
        if (seen) {
            Notify(kSelectionChangedMessage);
        }
    }
    void Notify(ClassID change) {
        if (InterfacePtr<ISubject> subject = Sibling<ISubject>(this)) {
            subject->Change(change, IID_ILAYOUTSELECTION, static_cast<ILayoutSelection*>(this));
        }
    }

    std::vector<UID> selected;
    UID inView;
};

// ---- the command of the model's changes

class DocumentChangeCmd : public CCommand {
public:
    explicit DocumentChangeCmd(IPMUnknown* o) : CCommand(o) {}

    void Do() override {
        result = kFailure;
        if (change != nullptr) {
            result = (*change)();
        }
        if (result != kSuccess) {
            ErrorUtils::PMSetGlobalErrorCode(kFailure);
        }
    }

    const std::function<ErrorCode()>* change = nullptr;
    ErrorCode result = kFailure;
};

// ---- registration

const ImplementationFactory kFactories[] = {
    {kDocumentImpl, "Document", CreateImplementation<DocumentImpl>, true},
    {kSpreadImpl, "Spread", CreateImplementation<SpreadImpl>, true},
    {kPageImpl, "Page", CreateImplementation<PageImpl>, true},
    {kHierarchyImpl, "Hierarchy", CreateImplementation<HierarchyImpl>, true},
    {kGeometryImpl, "Geometry", CreateImplementation<GeometryImpl>, true},
    {kTransformImpl, "Transform", CreateImplementation<TransformImpl>, true},
    {kImageAttributesImpl, "ImageAttributes", CreateImplementation<ImageAttributesImpl>, true},
    {kDataLinkImpl, "DataLink", CreateImplementation<DataLinkImpl>, true},
    {kGraphicFrameDataImpl, "GraphicFrameData", CreateImplementation<GraphicFrameDataImpl>, false},
    {kPathGeometryImpl, "PathGeometry", CreateImplementation<PathGeometryImpl>, false},
    {kGroupGeometryImpl, "GroupGeometry", CreateImplementation<GroupGeometryImpl>, false},
    {kLayoutSelectionImpl, "LayoutSelection", CreateImplementation<LayoutSelectionImpl>, false},
    {kDocumentSubjectImpl, "DocumentSubject", CreateImplementation<CSubject>, false},
    {kDocumentChangeCmdImpl, "DocumentChangeCmd", CreateImplementation<DocumentChangeCmd>, false},
};

const ClassDefinition& Def(int i) {
    static const ClassDefinition kClasses[] = {
        {kDocBoss,
         kInvalidClass,
         {{IID_IDOCUMENT, kDocumentImpl},
          {IID_ILAYOUTSELECTION, kLayoutSelectionImpl},
          {IID_ISUBJECT, kDocumentSubjectImpl}}},
        {kSpreadBoss,
         kInvalidClass,
         {{IID_ISPREAD, kSpreadImpl}, {IID_IHIERARCHY, kHierarchyImpl}}},
        {kPageBoss,
         kInvalidClass,
         {{IID_IPAGE, kPageImpl},
          {IID_IGEOMETRY, kGeometryImpl},
          {IID_ITRANSFORM, kTransformImpl}}},
        {kPageItemBoss,
         kInvalidClass,
         {{IID_IHIERARCHY, kHierarchyImpl},
          {IID_IGEOMETRY, kGeometryImpl},
          {IID_ITRANSFORM, kTransformImpl}}},
        {kSplineItemBoss,
         kPageItemBoss,
         {{IID_IGRAPHICFRAMEDATA, kGraphicFrameDataImpl}, {IID_IPATHGEOMETRY, kPathGeometryImpl}}},
        {kImageItemBoss,
         kPageItemBoss,
         {{IID_IIMAGEATTRIBUTES, kImageAttributesImpl}, {IID_IDATALINK, kDataLinkImpl}}},
        {kGroupItemBoss, kPageItemBoss, {{IID_IGEOMETRY, kGroupGeometryImpl}}},
        {kTextFrameItemBoss, kPageItemBoss, {{IID_IPATHGEOMETRY, kPathGeometryImpl}}},
        {kShapeItemBoss, kPageItemBoss, {{IID_IPATHGEOMETRY, kPathGeometryImpl}}},
        {kDocumentChangeCmdBoss, kInvalidClass, {{IID_ICOMMAND, kDocumentChangeCmdImpl}}},
    };
    return kClasses[i];
}
constexpr int kClassCount = 10;

// Defines a class unless it is defined as the model defines it, keeping the
// interfaces that plug-ins added to it before it was defined.
void DefineKeepingAddIns(const ClassDefinition& definition) {
    ObjectModel& model = ObjectModel::Get();
    std::vector<std::pair<PMIID, ImplementationID>> existing;
    if (model.HasClass(definition.id)) {
        existing = model.InterfacesOf(definition.id);
        bool parentKnown =
            !definition.parent.IsValid() ||
            (model.HasClass(definition.parent) && model.IsA(definition.id, definition.parent));
        bool interfacesThere = std::all_of(
            definition.interfaces.begin(), definition.interfaces.end(), [&](const auto& own) {
                return std::any_of(existing.begin(), existing.end(),
                                   [&](const auto& e) { return e.first == own.first; });
            });
        if (parentKnown && interfacesThere) {
            return;
        }
    }
    model.DefineClass(definition);
    for (const auto& entry : existing) {
        bool own = std::any_of(definition.interfaces.begin(), definition.interfaces.end(),
                               [&](const auto& e) { return e.first == entry.first; });
        if (!own) {
            model.AddIn(definition.id, entry.first, entry.second);
        }
    }
}

} // namespace

PMRect TransformedBounds(const PMRect& r, const PMMatrix& m) {
    PMPoint corners[4] = {r.LeftTop(), r.RightTop(), r.RightBottom(), r.LeftBottom()};
    double minX = std::numeric_limits<double>::infinity();
    double minY = minX;
    double maxX = -minX;
    double maxY = -minX;
    for (PMPoint& p : corners) {
        m.Transform(p);
        minX = std::min(minX, p.X());
        minY = std::min(minY, p.Y());
        maxX = std::max(maxX, p.X());
        maxY = std::max(maxY, p.Y());
    }
    return PMRect(minX, minY, maxX, maxY);
}

PMFixed ToPMFixed(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    double scaled = std::round(value * 65536.0);
    if (scaled >= 2147483647.0) {
        return std::numeric_limits<PMFixed>::max();
    }
    if (scaled <= -2147483648.0) {
        return std::numeric_limits<PMFixed>::min();
    }
    return static_cast<PMFixed>(scaled);
}

double PMFixedToDouble(PMFixed value) {
    return static_cast<double>(value) / 65536.0;
}

void RegisterDocumentModel() {
    ObjectModel& model = ObjectModel::Get();
    for (const auto& factory : kFactories) {
        if (!model.IsRegistered(factory.id)) {
            model.RegisterImplementation(factory);
        }
    }
    for (int i = 0; i < kClassCount; ++i) {
        DefineKeepingAddIns(Def(i));
    }
}

bool IsDocumentModelImplementation(ImplementationID id) {
    return std::any_of(std::begin(kFactories), std::end(kFactories),
                       [&](const ImplementationFactory& f) { return f.id == id; });
}

void DeleteItemTree(IDataBase* db, UID item) {
    if (db == nullptr || !db->IsValidUID(item)) {
        return;
    }
    if (InterfacePtr<IHierarchy> h = InterfaceOf<IHierarchy>(UIDRef(db, item))) {
        if (InterfacePtr<IHierarchy> parent = InterfacePtr<IHierarchy>(h->QueryParent())) {
            parent->RemoveChild(item);
        }
    }
    // Depth first, without recursion; every item is deleted once even when a
    // damaged hierarchy names it twice.
    std::vector<UID> pending{item};
    std::vector<UID> order;
    std::set<UID> seen;
    while (!pending.empty()) {
        UID uid = pending.back();
        pending.pop_back();
        if (!db->IsValidUID(uid) || !seen.insert(uid).second) {
            continue;
        }
        order.push_back(uid);
        if (InterfacePtr<IHierarchy> h = InterfaceOf<IHierarchy>(UIDRef(db, uid))) {
            for (int32_t i = 0; i < h->GetChildCount(); ++i) {
                pending.push_back(h->GetChildUID(i));
            }
        }
    }
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        db->DeleteUID(*it);
    }
}

ErrorCode DocumentUtils::ProcessChange(IDataBase* db, const PMString& name,
                                       const std::function<ErrorCode()>& change) {
    if (db == nullptr) {
        ErrorUtils::PMSetGlobalErrorCode(kFailure);
        return kInvalidItemError;
    }
    RegisterDocumentModel();
    InterfacePtr<ICommand> command(CmdUtils::CreateCommand(kDocumentChangeCmdBoss));
    auto* impl = dynamic_cast<DocumentChangeCmd*>(command.get());
    if (impl == nullptr) {
        ErrorUtils::PMSetGlobalErrorCode(kFailure);
        return kFailure;
    }
    impl->SetName(name);
    impl->change = &change;
    command->SetItemList(UIDList(db));
    ErrorCode processed = CmdUtils::ProcessCommand(command.get());
    ErrorCode result = impl->result;
    impl->change = nullptr;
    if (processed != kSuccess && result == kSuccess) {
        result = kFailure;
    }
    return result;
}
