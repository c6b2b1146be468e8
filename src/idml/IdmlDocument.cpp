// IDML documents in the host's document model: building a document of a
// package's layout, and writing the model's changes back into the package.

#include "IdmlDocument.h"

#include "Base64.h"
#include "DocumentFile.h"
#include "DocumentModel.h"
#include "DocumentUtils.h"
#include "IDataLink.h"
#include "IDocument.h"
#include "IGeometry.h"
#include "IHierarchy.h"
#include "IImageAttributes.h"
#include "IMG_OpenImageFile.h"
#include "ISpread.h"
#include "ITransform.h"
#include "ObjectModel.h"
#include "Platform.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

namespace idml {

namespace {

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%" PRIX32, value);
    return text;
}

// True when a loaded plug-in gives objects of the class the implementation.
bool Provides(ClassID cls, uint32_t id) {
    auto interfaces = ObjectModel::Get().InterfacesOf(cls);
    return std::any_of(interfaces.begin(), interfaces.end(),
                       [&](const auto& e) { return e.second.Get() == id; });
}

// ---- what is kept with an open document

// A page item of the model and the element it came from. For a frame that
// held a placed image, the image's element and what was written of it last
// (the image item itself changes on relink; the frame stays).
struct Binding {
    UID item;
    Part* part = nullptr;
    pugi::xml_node node;
    PMMatrix matrix;
    bool frame = false;
    pugi::xml_node image;
    pugi::xml_node link;
    PMMatrix imageMatrix;
    PMRect imageBounds;
    std::string linkPath;
};

// Where page items made in the document go: the spread's element in its
// part, and the layer (Self) they are put on.
struct SpreadPlace {
    Part* part = nullptr;
    pugi::xml_node node;
    std::string layer;
};

struct Opened {
    Package package;
    std::vector<Binding> bindings;
    std::map<UID, SpreadPlace> spreads;
    // The document object it was made for: a database that is gone (closed
    // without Forget) and another at the same address are told apart by it.
    const void* document = nullptr;
};

std::map<const IDataBase*, std::unique_ptr<Opened>>& Registry() {
    static std::map<const IDataBase*, std::unique_ptr<Opened>> registry;
    return registry;
}

const void* DocumentObject(IDataBase* db) {
    InterfacePtr<IDocument> doc = DocumentUtils::QueryDocument(db);
    return doc ? static_cast<const void*>(doc.get()) : nullptr;
}

// What is kept for the document, or null.
Opened* Find(IDataBase* db) {
    auto found = Registry().find(db);
    if (found == Registry().end()) {
        return nullptr;
    }
    if (found->second->document != DocumentObject(db)) {
        Registry().erase(found);
        return nullptr;
    }
    return found->second.get();
}

ClassID ClassOf(ItemKind kind) {
    switch (kind) {
    case ItemKind::kRectangle:
    case ItemKind::kOval:
    case ItemKind::kPolygon:
        return kSplineItemBoss;
    case ItemKind::kGraphicLine:
        return kShapeItemBoss;
    case ItemKind::kTextFrame:
        return kTextFrameItemBoss;
    case ItemKind::kGroup:
        return kGroupItemBoss;
    }
    return kShapeItemBoss;
}

// The local path of an image's link, with a message when it maps nowhere or
// names a missing file.
std::string LinkPath(const PlacedImage& image, const std::string& frame, const LinkMap& links,
                     std::vector<std::string>& messages) {
    std::string what = image.element + " " + image.self + " in " + frame;
    if (image.linkURI.empty()) {
        messages.push_back(what + " has no link (an embedded image?): it stays without a file");
        return {};
    }
    std::optional<std::string> path = PathOfFileURI(image.linkURI);
    if (!path) {
        messages.push_back(what + ": the link \"" + image.linkURI.substr(0, 200) +
                           "\" is not a file URI");
        return image.linkURI;
    }
    if (std::optional<std::string> local = links.ToLocal(*path)) {
        if (!platform::Exists(local->c_str())) {
            messages.push_back(what + ": the link " + *path + " maps to " + *local +
                               ", where there is no file");
        }
        return *local;
    }
    if (path->front() == '/' && platform::Exists(path->c_str())) {
        return *path;
    }
    messages.push_back(what + ": the link " + *path +
                       " maps nowhere (no link path map entry matches it; linkmap add PREFIX "
                       "FOLDER) and there is no file there");
    return *path;
}

// What the image item records of its file: the file's own pixel size and
// resolution when it can be read, else what the package states. The image's
// box is the package's GraphicBounds unless the file is of another size (it
// changed since the package was written): then the file's size is taken,
// from the same left-top corner, as an update of the link would.
PMRect SetImageInfo(IDataBase* db, UID uid, const PlacedImage& image, const std::string& path,
                    const std::string& what, std::vector<std::string>& messages) {
    uint32_t width = 0, height = 0;
    double xres = image.ppiX > 0 ? image.ppiX : 72.0;
    double yres = image.ppiY > 0 ? image.ppiY : 72.0;
    PMRect box = image.graphicBounds;
    if (!path.empty() && platform::Exists(path.c_str()) && !platform::IsDirectory(path.c_str())) {
        std::unique_ptr<Proxy_FileIOProcess> reader = IMG_OpenImageFile(path.c_str(), "r", false);
        const IMG_ImageInfo* info = reader ? reader->GetImageInfo() : nullptr;
        if (info != nullptr && info->width > 0 && info->height > 0) {
            width = info->width;
            height = info->height;
            if (std::isfinite(info->resolution) && info->resolution >= 1) {
                xres = yres = info->resolution;
            }
            PMRect own(box.Left(), box.Top(), box.Left() + width * 72.0 / xres,
                       box.Top() + height * 72.0 / yres);
            if (std::abs(own.Width() - box.Width()) > 0.5 ||
                std::abs(own.Height() - box.Height()) > 0.5) {
                messages.push_back(what + ": the file " + path + " is " +
                                   FormatNumber(own.Width()) + " x " + FormatNumber(own.Height()) +
                                   " pt, the package records " + FormatNumber(box.Width()) + " x " +
                                   FormatNumber(box.Height()) + "; its own size is taken");
                box = own;
            }
        }
    }
    if (width == 0) {
        width = static_cast<uint32_t>(std::lround(box.Width() * xres / 72.0));
        height = static_cast<uint32_t>(std::lround(box.Height() * yres / 72.0));
    }
    InterfaceOf<IImageAttributes>(UIDRef(db, uid))
        ->SetImageInfo(width, height, ToPMFixed(xres), ToPMFixed(yres));
    return box;
}

// The plug-in data in an element's Label: implementation ID -> bytes.
std::map<uint32_t, std::vector<uint8_t>> LabelData(pugi::xml_node node, const std::string& what,
                                                   std::vector<std::string>& messages) {
    std::map<uint32_t, std::vector<uint8_t>> data;
    const std::size_t prefix = std::strlen(kLabelKeyPrefix);
    for (pugi::xml_node kv : node.child("Properties").child("Label").children("KeyValuePair")) {
        std::string key = kv.attribute("Key").value();
        if (key.compare(0, prefix, kLabelKeyPrefix) != 0) {
            continue;
        }
        char* end = nullptr;
        unsigned long id = std::strtoul(key.c_str() + prefix, &end, 16);
        std::vector<uint8_t> bytes;
        if (end == key.c_str() + prefix || *end != '\0' || id == 0 || id > UINT32_MAX ||
            !base64::Decode(kv.attribute("Value").value(), bytes)) {
            messages.push_back(what + ": the label " + key.substr(0, 60) + " is damaged; ignored");
            continue;
        }
        data[static_cast<uint32_t>(id)] = std::move(bytes);
    }
    return data;
}

class Builder {
public:
    Builder(IDataBase* db, Opened& opened, const LinkMap& links, std::vector<std::string>& messages)
        : db(db), opened(opened), links(links), messages(messages) {}

    std::map<UID, std::map<uint32_t, std::vector<uint8_t>>> data; // plug-in data by item

    void Items(const std::vector<PageItem>& items, UID parent, Part* part) {
        for (const PageItem& item : items) {
            UID uid = db->NewUID(ClassOf(item.kind));
            UIDRef ref(db, uid);
            InterfaceOf<IGeometry>(ref)->SetBoundingBox(item.box);
            InterfaceOf<ITransform>(ref)->SetInnerToParentMatrix(item.transform);
            InterfaceOf<IHierarchy>(UIDRef(db, parent))->AddChild(uid);
            Binding b;
            b.item = uid;
            b.part = part;
            b.node = item.node;
            b.matrix = item.transform;
            std::string what = std::string(KindName(item.kind)) + " " + item.self;
            Collect(uid, item.node, what);
            if (ClassOf(item.kind) == kSplineItemBoss && !item.images.empty()) {
                const PlacedImage& image = item.images.front();
                UID imageUID = db->NewUID(kImageItemBoss);
                UIDRef imageRef(db, imageUID);
                InterfaceOf<ITransform>(imageRef)->SetInnerToParentMatrix(image.transform);
                std::string path = LinkPath(image, what, links, messages);
                InterfaceOf<IDataLink>(imageRef)->SetLongName(PMString(path));
                InterfaceOf<IGeometry>(imageRef)->SetBoundingBox(SetImageInfo(
                    db, imageUID, image, path, image.element + " " + image.self, messages));
                InterfaceOf<IHierarchy>(ref)->AddChild(imageUID);
                Collect(imageUID, image.node, image.element + " " + image.self);
                b.frame = true;
                b.image = image.node;
                b.link = image.link;
                b.imageMatrix = image.transform;
                b.imageBounds = image.graphicBounds;
                b.linkPath = path;
            }
            opened.bindings.push_back(b);
            Items(item.children, uid, part);
        }
    }

private:
    void Collect(UID uid, pugi::xml_node node, const std::string& what) {
        auto found = LabelData(node, what, messages);
        if (!found.empty()) {
            data[uid] = std::move(found);
        }
    }

    IDataBase* db;
    Opened& opened;
    const LinkMap& links;
    std::vector<std::string>& messages;
};

// Puts the plug-in data read from labels into the items: through the
// database's stored form, as the document file loader does.
bool RestoreData(std::unique_ptr<IDataBase>& db,
                 const std::map<UID, std::map<uint32_t, std::vector<uint8_t>>>& data,
                 std::vector<std::string>& messages, std::string& why) {
    if (data.empty()) {
        return true;
    }
    std::vector<IDataBase::StoredObject> objects = db->Snapshot();
    for (IDataBase::StoredObject& object : objects) {
        auto it = data.find(object.uid);
        if (it == data.end()) {
            continue;
        }
        for (const auto& [id, bytes] : it->second) {
            if (!Provides(object.classID, id) ||
                IsDocumentModelImplementation(ImplementationID(id))) {
                messages.push_back("item " + std::to_string(object.uid.Get()) + ": the data of " +
                                   Hex(id) +
                                   " is kept in the file, but no loaded plug-in reads it");
                continue;
            }
            object.implementations[id] = bytes;
        }
    }
    auto restored = std::make_unique<IDataBase>();
    if (!restored->Restore(objects, db->GetRootUID(), why)) {
        why = "the data plug-ins keep on page items cannot be read back: " + why;
        return false;
    }
    db = std::move(restored);
    return true;
}

// The persistent bytes of plug-in implementations on a fresh object of each
// class: data equal to them is not written.
const std::map<uint32_t, std::vector<uint8_t>>& DefaultData(ClassID cls) {
    static std::map<uint32_t, std::map<uint32_t, std::vector<uint8_t>>> cache;
    auto it = cache.find(cls.Get());
    if (it != cache.end()) {
        return it->second;
    }
    IDataBase scratch;
    UID uid = scratch.NewUID(cls);
    for (const auto& entry : ObjectModel::Get().InterfacesOf(cls)) {
        if (IPMUnknown* unknown = scratch.Instantiate(uid, entry.first)) {
            unknown->Release();
        }
    }
    auto& defaults = cache[cls.Get()];
    for (const auto& object : scratch.Snapshot()) {
        if (object.uid == uid) {
            defaults = object.implementations;
        }
    }
    return defaults;
}

// The edits of each part, made as the model is compared with the package.
using PartEdits = std::map<Part*, TextEdits>;

TextEdits& EditsOf(PartEdits& edits, Part* part) {
    return edits.try_emplace(part, *part).first->second;
}

std::string KeyValueText(const std::string& key, const std::string& value) {
    return "<KeyValuePair Key=\"" + EscapeAttribute(key) + "\" Value=\"" + EscapeAttribute(value) +
           "\" />";
}

// The label entries of the plug-in data an item has now, key to base64
// value (data equal to a fresh object's is left out).
std::map<std::string, std::string>
LabelEntries(UID uid, const std::map<UID, const IDataBase::StoredObject*>& stored) {
    std::map<std::string, std::string> entries;
    if (auto it = stored.find(uid); it != stored.end()) {
        const auto& defaults = DefaultData(it->second->classID);
        for (const auto& [id, bytes] : it->second->implementations) {
            auto d = defaults.find(id);
            if (IsDocumentModelImplementation(ImplementationID(id)) ||
                (d != defaults.end() && d->second == bytes)) {
                continue;
            }
            char key[32];
            std::snprintf(key, sizeof key, "%s%08" PRIX32, kLabelKeyPrefix, id);
            entries[key] = base64::Encode(bytes);
        }
    }
    return entries;
}

// Makes the element's Label hold exactly the plug-in data the item has now
// (data equal to a fresh object's is left out). Data of implementations that
// no loaded plug-in provides stays as it was.
void SyncLabel(TextEdits& edits, pugi::xml_node node, IDataBase* db, UID uid,
               const std::map<UID, const IDataBase::StoredObject*>& stored) {
    std::map<std::string, std::string> wanted = LabelEntries(uid, stored);
    const std::size_t prefix = std::strlen(kLabelKeyPrefix);
    pugi::xml_node properties = node.child("Properties");
    pugi::xml_node label = properties.child("Label");
    for (pugi::xml_node kv : label.children("KeyValuePair")) {
        std::string key = kv.attribute("Key").value();
        if (key.compare(0, prefix, kLabelKeyPrefix) != 0 ||
            !Provides(db->GetClass(uid),
                      static_cast<uint32_t>(std::strtoul(key.c_str() + prefix, nullptr, 16)))) {
            continue;
        }
        auto w = wanted.find(key);
        if (w == wanted.end()) {
            edits.Remove(kv);
        } else {
            if (w->second != kv.attribute("Value").value()) {
                edits.SetAttribute(kv, "Value", w->second);
            }
            wanted.erase(w);
        }
    }
    if (wanted.empty()) {
        return;
    }
    std::string pairs;
    for (const auto& [key, value] : wanted) {
        pairs += KeyValueText(key, value);
    }
    if (label) {
        edits.InsertFirst(label, pairs);
    } else if (properties) {
        edits.InsertFirst(properties, "<Label>" + pairs + "</Label>");
    } else {
        edits.InsertFirst(node, "<Properties><Label>" + pairs + "</Label></Properties>");
    }
}

// The Self of the document's first layer, or empty.
std::string FirstLayer(const Package& package) {
    const Part* designmap = package.Find("designmap.xml");
    if (designmap == nullptr || !designmap->xml) {
        return {};
    }
    return designmap->xml->child("Document").child("Layer").attribute("Self").value();
}

// The plug-in data of an item as KeyValuePair elements, as SyncLabel writes
// them.
std::string LabelPairs(UID uid, const std::map<UID, const IDataBase::StoredObject*>& stored) {
    std::string pairs;
    for (const auto& [key, value] : LabelEntries(uid, stored)) {
        pairs += KeyValueText(key, value);
    }
    return pairs;
}

// A Self that no element of the package has yet, made from the UID.
std::string NewSelf(const Package& package, UID uid, const char* suffix,
                    std::set<std::string>& taken) {
    if (taken.empty()) {
        taken.insert("");
        for (const Part& part : package.parts) {
            if (part.xml) {
                for (const pugi::xpath_node& self : part.xml->select_nodes("//@Self")) {
                    taken.insert(self.attribute().value());
                }
            }
        }
    }
    std::string self = "uod" + std::to_string(uid.Get()) + suffix;
    for (int n = 2; taken.count(self) != 0; ++n) {
        self = "uod" + std::to_string(uid.Get()) + suffix + "-" + std::to_string(n);
    }
    taken.insert(self);
    return self;
}

std::string BoundsAttributes(const PMRect& box) {
    return "Left=\"" + FormatNumber(box.Left()) + "\" Top=\"" + FormatNumber(box.Top()) +
           "\" Right=\"" + FormatNumber(box.Right()) + "\" Bottom=\"" + FormatNumber(box.Bottom()) +
           "\"";
}

// A frame made in the document, and the image placed in it, as a Rectangle
// element of the spread; false (with a message) for items of other kinds.
bool NewItemText(IDataBase* db, UID uid, const SpreadPlace& place, const Package& package,
                 const LinkMap& links, const std::map<UID, const IDataBase::StoredObject*>& stored,
                 std::set<std::string>& taken, std::string& xml,
                 std::vector<std::string>& messages) {
    const UIDRef item(db, uid);
    if (db->GetClass(uid) != kSplineItemBoss ||
        InterfaceOf<IHierarchy>(item)->GetChildCount() > 1) {
        messages.push_back("the page item " + std::to_string(uid.Get()) +
                           " made in the document is not a frame; it is not written into the "
                           "package");
        return false;
    }
    const PMRect box = InterfaceOf<IGeometry>(item)->GetBoundingBox();
    std::string points;
    for (const auto& [x, y] : {std::pair{box.Left(), box.Top()},
                               {box.Left(), box.Bottom()},
                               {box.Right(), box.Bottom()},
                               {box.Right(), box.Top()}}) {
        const std::string at = FormatNumber(x) + " " + FormatNumber(y);
        points += "<PathPointType Anchor=\"" + at + "\" LeftDirection=\"" + at +
                  "\" RightDirection=\"" + at + "\" />";
    }
    xml = "<Rectangle Self=\"" + NewSelf(package, uid, "", taken) + "\" ItemLayer=\"" +
          EscapeAttribute(place.layer) + "\" Visible=\"true\" ContentType=\"GraphicType\" " +
          "ItemTransform=\"" +
          FormatMatrix(InterfaceOf<ITransform>(item)->GetInnerToParentMatrix()) +
          "\"><Properties><PathGeometry><GeometryPathType PathOpen=\"false\"><PathPointArray>" +
          points + "</PathPointArray></GeometryPathType></PathGeometry>";
    if (std::string pairs = LabelPairs(uid, stored); !pairs.empty()) {
        xml += "<Label>" + pairs + "</Label>";
    }
    xml += "</Properties>";
    const UIDRef image(db, InterfaceOf<IHierarchy>(item)->GetChildUID(0));
    if (PageItemTypeUtils::IsGraphic(image)) {
        const std::string path = InterfaceOf<IDataLink>(image)->GetLongName().GetUTF8String();
        const std::optional<std::string> foreign = links.ToForeign(path);
        xml += "<Image Self=\"" + NewSelf(package, image.GetUID(), "", taken) +
               "\" ItemTransform=\"" +
               FormatMatrix(InterfaceOf<ITransform>(image)->GetInnerToParentMatrix()) +
               "\"><Properties><GraphicBounds " +
               BoundsAttributes(InterfaceOf<IGeometry>(image)->GetBoundingBox()) + " />";
        if (std::string pairs = LabelPairs(image.GetUID(), stored); !pairs.empty()) {
            xml += "<Label>" + pairs + "</Label>";
        }
        xml += "</Properties><Link Self=\"" + NewSelf(package, image.GetUID(), "l", taken) +
               "\" LinkResourceURI=\"" + EscapeAttribute(FileURIOfPath(foreign ? *foreign : path)) +
               "\" StoredState=\"Normal\" /></Image>";
    }
    xml += "</Rectangle>\n\t";
    return true;
}

std::string FileNameOf(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

bool HasIdmlExtension(const std::string& path) {
    if (path.size() < 5) {
        return false;
    }
    std::string end = path.substr(path.size() - 5);
    for (char& c : end) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return end == ".idml";
}

std::unique_ptr<IDataBase> MakeDocument(Package&& package, const LinkMap& links,
                                        std::vector<std::string>& messages, std::string& why) {
    auto opened = std::make_unique<Opened>();
    opened->package = std::move(package);
    Layout layout;
    if (!ReadLayout(opened->package, layout, why)) {
        return nullptr;
    }
    if (layout.spreads.empty()) {
        why = "the package has no spreads";
        return nullptr;
    }
    messages.insert(messages.end(), layout.warnings.begin(), layout.warnings.end());
    RegisterDocumentModel();
    auto db = std::make_unique<IDataBase>();
    UID docUID = db->NewUID(kDocBoss);
    db->SetRootUID(docUID);
    InterfacePtr<IDocument> doc = InterfaceOf<IDocument>(UIDRef(db.get(), docUID));
    Builder builder(db.get(), *opened, links, messages);
    for (const Spread& spread : layout.spreads) {
        UID spreadUID = db->NewUID(kSpreadBoss);
        doc->AddSpread(spreadUID);
        for (const Page& p : spread.pages) {
            UIDRef page(db.get(), db->NewUID(kPageBoss));
            InterfaceOf<IGeometry>(page)->SetBoundingBox(p.bounds);
            InterfaceOf<ITransform>(page)->SetInnerToParentMatrix(p.transform);
            InterfaceOf<IPage>(page)->SetSpreadUID(spreadUID);
            InterfaceOf<ISpread>(UIDRef(db.get(), spreadUID))->AddPage(page.GetUID());
        }
        Part* part = opened->package.Find(spread.part);
        builder.Items(spread.items, spreadUID, part);
        SpreadPlace& place = opened->spreads[spreadUID];
        place.part = part;
        place.node = part != nullptr && part->xml ? part->xml->select_node("//Spread").node()
                                                  : pugi::xml_node();
        place.layer = spread.items.empty()
                          ? FirstLayer(opened->package)
                          : spread.items.back().node.attribute("ItemLayer").value();
    }
    doc.reset();
    if (!RestoreData(db, builder.data, messages, why)) {
        return nullptr;
    }
    db->SetModified(false);
    opened->document = DocumentObject(db.get());
    Registry()[db.get()] = std::move(opened);
    return db;
}

std::unique_ptr<IDataBase> OpenDocument(const std::string& path, const LinkMap& links,
                                        std::vector<std::string>& messages, std::string& why) {
    Package package;
    if (!ReadPackageFile(path, package, why)) {
        return nullptr;
    }
    std::unique_ptr<IDataBase> db = MakeDocument(std::move(package), links, messages, why);
    if (db) {
        InterfacePtr<IDocument> doc = DocumentUtils::QueryDocument(db.get());
        doc->SetFilePath(PMString(path));
        doc->SetName(PMString(FileNameOf(path)));
    }
    return db;
}

bool UpdatePackage(IDataBase* db, const LinkMap& links, std::vector<std::string>& messages,
                   std::string& why) {
    Opened* found = Find(db);
    if (found == nullptr) {
        why = "the document was not opened from an IDML package";
        return false;
    }
    if (db->InTransaction()) {
        why = "a change to the document is in progress";
        return false;
    }
    std::vector<IDataBase::StoredObject> snapshot = db->Snapshot();
    std::map<UID, const IDataBase::StoredObject*> stored;
    for (const auto& object : snapshot) {
        stored[object.uid] = &object;
    }
    // Every time against the package as read: what the model holds now is
    // what the written package says.
    PartEdits edits;
    for (const Binding& b : found->bindings) {
        std::string self = b.node.attribute("Self").value();
        if (b.part == nullptr) {
            continue;
        }
        if (!db->IsValidUID(b.item)) {
            // A text frame's story is elsewhere in the package and others may
            // flow into it: the frame stays.
            if (std::strcmp(b.node.name(), "TextFrame") == 0) {
                messages.push_back("the text frame " + self +
                                   " was deleted in the document; the package keeps it with "
                                   "its story");
            } else if (!EditsOf(edits, b.part).Remove(b.node)) {
                messages.push_back("the page item " + self +
                                   " was deleted in the document, but cannot be taken out of "
                                   "the package");
            }
            continue;
        }
        TextEdits& e = EditsOf(edits, b.part);
        UIDRef item(db, b.item);
        if (PMMatrix m = InterfaceOf<ITransform>(item)->GetInnerToParentMatrix(); m != b.matrix) {
            e.SetAttribute(b.node, "ItemTransform", FormatMatrix(m));
        }
        SyncLabel(e, b.node, db, b.item, stored);
        if (!b.frame) {
            continue;
        }
        UIDRef image(db, InterfaceOf<IHierarchy>(item)->GetChildUID(0));
        if (!PageItemTypeUtils::IsGraphic(image)) {
            if (!e.Remove(b.image)) {
                messages.push_back("the image of " + self +
                                   " was removed in the document, but cannot be taken out of "
                                   "the package");
            }
            continue;
        }
        if (PMMatrix m = InterfaceOf<ITransform>(image)->GetInnerToParentMatrix();
            m != b.imageMatrix) {
            e.SetAttribute(b.image, "ItemTransform", FormatMatrix(m));
        }
        if (PMRect box = InterfaceOf<IGeometry>(image)->GetBoundingBox(); box != b.imageBounds) {
            const std::pair<const char*, double> sides[] = {{"Left", box.Left()},
                                                            {"Top", box.Top()},
                                                            {"Right", box.Right()},
                                                            {"Bottom", box.Bottom()}};
            pugi::xml_node properties = b.image.child("Properties");
            if (pugi::xml_node gb = properties.child("GraphicBounds")) {
                for (const auto& [side, value] : sides) {
                    e.SetAttribute(gb, side, FormatNumber(value));
                }
            } else {
                std::string text = "<GraphicBounds";
                for (const auto& [side, value] : sides) {
                    text += std::string(" ") + side + "=\"" + FormatNumber(value) + "\"";
                }
                text += " />";
                if (properties) {
                    e.InsertFirst(properties, text);
                } else {
                    e.InsertFirst(b.image, "<Properties>" + text + "</Properties>");
                }
            }
        }
        std::string path = InterfaceOf<IDataLink>(image)->GetLongName().GetUTF8String();
        if (path != b.linkPath) {
            std::optional<std::string> foreign = links.ToForeign(path);
            std::string uri = FileURIOfPath(foreign ? *foreign : path);
            if (b.link) {
                e.SetAttribute(b.link, "LinkResourceURI", uri);
            } else {
                messages.push_back("the image of " + self + " now links to " + path +
                                   ", but the package has no link for it to name the file");
            }
        }
        SyncLabel(e, b.image, db, image.GetUID(), stored);
    }
    // Frames made in the document go on top of their spread.
    std::set<UID> bound;
    for (const Binding& b : found->bindings) {
        bound.insert(b.item);
    }
    std::set<std::string> taken;
    for (const auto& [spreadUID, place] : found->spreads) {
        if (!db->IsValidUID(spreadUID) || place.part == nullptr || !place.node) {
            continue;
        }
        InterfacePtr<IHierarchy> spread = InterfaceOf<IHierarchy>(UIDRef(db, spreadUID));
        for (int32_t i = 0; spread && i < spread->GetChildCount(); ++i) {
            const UID child = spread->GetChildUID(i);
            std::string xml;
            if (bound.count(child) == 0 &&
                NewItemText(db, child, place, found->package, links, stored, taken, xml,
                            messages) &&
                !EditsOf(edits, place.part).InsertLast(place.node, xml)) {
                messages.push_back("the spread " +
                                   std::string(place.node.attribute("Self").value()) +
                                   " cannot take the frame " + std::to_string(child.Get()));
            }
        }
    }
    for (Part& part : found->package.parts) {
        auto it = edits.find(&part);
        part.changed = it != edits.end() && !it->second.Empty();
        part.edited = part.changed ? it->second.Apply() : std::string();
    }
    return true;
}

const Package* PackageOf(IDataBase* db) {
    Opened* found = Find(db);
    return found != nullptr ? &found->package : nullptr;
}

bool SaveDocument(IDataBase* db, const std::string& path, const LinkMap& links,
                  std::vector<std::string>& messages, std::string& why) {
    if (!UpdatePackage(db, links, messages, why)) {
        return false;
    }
    if (!WritePackageFile(Find(db)->package, path, why)) {
        return false;
    }
    InterfacePtr<IDocument> doc = DocumentUtils::QueryDocument(db);
    doc->SetFilePath(PMString(path));
    doc->SetName(PMString(FileNameOf(path)));
    db->SetModified(false);
    return true;
}

bool IsIdmlDocument(IDataBase* db) {
    return Find(db) != nullptr;
}

void Forget(IDataBase* db) {
    Registry().erase(db);
}

void RegisterDocumentFormat() {
    DocumentFile::Format format;
    format.name = "IDML";
    format.claims = HasIdmlExtension;
    format.open = [](const std::string& path, std::vector<std::string>& messages,
                     std::string& why) {
        return OpenDocument(path, SessionLinkMap(), messages, why);
    };
    format.save = [](IDataBase* db, const std::string& path, std::vector<std::string>& messages,
                     std::string& why) {
        if (!IsIdmlDocument(db)) {
            why = "only a document opened from IDML can be saved as IDML";
            return false;
        }
        return SaveDocument(db, path, SessionLinkMap(), messages, why);
    };
    format.closed = Forget;
    DocumentFile::RegisterFormat(format);
}

} // namespace idml
