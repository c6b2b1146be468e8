// The document file: writing it, reading it back and checking what was read.

#include "DocumentFile.h"

#include "Base64.h"
#include "DocumentModel.h"
#include "DocumentUtils.h"
#include "IDocument.h"
#include "IGeometry.h"
#include "IHierarchy.h"
#include "ISpread.h"
#include "ObjectModel.h"
#include "Paths.h"
#include "Platform.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <unistd.h>

namespace {

using StoredObject = IDataBase::StoredObject;

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%" PRIX32, value);
    return text;
}

std::string Quote(const std::string& text) {
    // Enough of a foreign text to recognise it, never the whole of it.
    constexpr std::size_t kShown = 40;
    return "\"" + (text.size() > kShown ? text.substr(0, kShown) + "..." : text) + "\"";
}

bool ParseHexID(const std::string& text, uint32_t& value) {
    if (text.size() < 3 || text.size() > 10 || text[0] != '0' ||
        (text[1] != 'x' && text[1] != 'X')) {
        return false;
    }
    uint64_t v = 0;
    for (std::size_t i = 2; i < text.size(); ++i) {
        char c = text[i];
        int d = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                       : -1;
        if (d < 0) {
            return false;
        }
        v = v * 16 + static_cast<uint64_t>(d);
    }
    value = static_cast<uint32_t>(v);
    return value != 0;
}

// ---- reading: a SAX handler that takes the file's JSON straight into the
// stored objects, refusing the first thing that does not fit, so that no
// tree of the whole text is built and a foreign file stops early.

class Reader final : public nlohmann::json_sax<nlohmann::json> {
public:
    explicit Reader(std::size_t size) : textSize(size) {}

    // What was read.
    std::string format;
    uint64_t version = 0;
    uint64_t root = 0;
    bool hasFormat = false, hasVersion = false, hasRoot = false, hasObjects = false;
    std::vector<StoredObject> objects;
    std::string error;

    bool null() override { return Scalar(Kind::Other, "null"); }
    bool boolean(bool) override { return Scalar(Kind::Other, "true or false"); }
    bool number_integer(number_integer_t v) override {
        if (v >= 0) {
            return number_unsigned(static_cast<number_unsigned_t>(v));
        }
        return Scalar(Kind::Other, "a negative number");
    }
    bool number_unsigned(number_unsigned_t v) override {
        number = v;
        return Scalar(Kind::Number, "a number");
    }
    bool number_float(number_float_t, const string_t&) override {
        return Scalar(Kind::Other, "a number with a fraction");
    }
    bool string(string_t& v) override {
        text = std::move(v);
        return Scalar(Kind::Text, "a text");
    }
    bool binary(binary_t&) override { return Scalar(Kind::Other, "binary data"); }

    bool start_object(std::size_t) override { return Open(true); }
    bool start_array(std::size_t) override { return Open(false); }
    bool end_object() override { return Close(); }
    bool end_array() override { return Close(); }
    bool key(string_t& k) override {
        stack.back().key = std::move(k);
        return true;
    }

    bool parse_error(std::size_t position, const std::string&,
                     const nlohmann::detail::exception& e) override {
        if (error.empty()) {
            if (position > textSize) {
                error = "the file is cut short: its text ends in the middle of the document";
            } else {
                std::string what = e.what();
                if (auto at = what.find("] "); at != std::string::npos) {
                    what = what.substr(at + 2);
                }
                error = "the file is not a document file: it is not JSON (" + what + ")";
            }
        }
        return false;
    }

private:
    enum class Ctx { Top, Root, Objects, Object, Impls, Impl, Skip };
    enum class Kind { Number, Text, Other };
    struct Frame {
        Ctx ctx;
        std::string key;
        int depth = 0; // Skip: containers still open
    };

    bool Fail(std::string why) {
        if (error.empty()) {
            error = std::move(why);
        }
        return false;
    }

    std::string Where() const {
        std::string where = "entry " + std::to_string(objects.size() + 1) + " of \"objects\"";
        if (hasUID) {
            where += " (object " + std::to_string(current.uid.Get()) + ")";
        }
        return where;
    }
    std::string ImplWhere() const {
        std::string where = Where() + ", implementation " + std::to_string(implIndex);
        if (hasImplID) {
            where += " (" + Hex(implID) + ")";
        }
        return where;
    }

    // A field seen twice is damage, not something to choose from.
    bool Once(bool& seen, const std::string& what) {
        if (seen) {
            return Fail(what + " appears twice");
        }
        seen = true;
        return true;
    }

    bool Scalar(Kind kind, const char* kindName) {
        Frame& f = stack.empty() ? topFrame : stack.back();
        std::string got = std::string(" (it is ") + kindName + ")";
        switch (f.ctx) {
        case Ctx::Top:
            return Fail("the file is not a document file: its JSON is not an object");
        case Ctx::Skip:
            return true;
        case Ctx::Root:
            if (f.key == "format") {
                if (kind != Kind::Text) {
                    return Fail("\"format\" must be a text" + got);
                }
                if (!Once(hasFormat, "\"format\"")) {
                    return false;
                }
                format = text;
                if (format != DocumentFile::kFormatName) {
                    return Fail("the file is not a document file of this program: its format is " +
                                Quote(format));
                }
                return true;
            }
            if (f.key == "version") {
                if (kind != Kind::Number) {
                    return Fail("\"version\" must be a whole number" + got);
                }
                if (!Once(hasVersion, "\"version\"")) {
                    return false;
                }
                version = number;
                return CheckVersion();
            }
            if (f.key == "root") {
                if (kind != Kind::Number) {
                    return Fail("\"root\" must be a whole number" + got);
                }
                if (!Once(hasRoot, "\"root\"")) {
                    return false;
                }
                root = number;
                return true;
            }
            if (f.key == "objects") {
                return Fail("\"objects\" must be a list" + got);
            }
            return true; // fields of later versions are ignored
        case Ctx::Objects:
            return Fail(Where() + " is not an object" + got);
        case Ctx::Object:
            if (f.key == "uid") {
                if (kind != Kind::Number || number == 0 || number > UINT32_MAX) {
                    return Fail(Where() + ": \"uid\" must be a whole number from 1 to 4294967295");
                }
                if (!Once(hasUID, Where() + ": \"uid\"")) {
                    return false;
                }
                current.uid = UID(static_cast<uint32_t>(number));
                return true;
            }
            if (f.key == "class") {
                uint32_t id = 0;
                if (kind != Kind::Text || !ParseHexID(text, id)) {
                    return Fail(Where() + ": \"class\" must be a class ID such as \"0x2101\"");
                }
                if (!Once(hasClass, Where() + ": \"class\"")) {
                    return false;
                }
                current.classID = ClassID(id);
                return true;
            }
            if (f.key == "implementations") {
                return Fail(Where() + ": \"implementations\" must be a list" + got);
            }
            return true;
        case Ctx::Impls:
            return Fail(ImplWhere() + " is not an object" + got);
        case Ctx::Impl:
            if (f.key == "id") {
                if (kind != Kind::Text || !ParseHexID(text, implID)) {
                    return Fail(ImplWhere() +
                                ": \"id\" must be an implementation ID such as \"0x2204\"");
                }
                return Once(hasImplID, ImplWhere() + ": \"id\"");
            }
            if (f.key == "data") {
                if (kind != Kind::Text) {
                    return Fail(ImplWhere() + ": \"data\" must be a text" + got);
                }
                if (!Once(hasData, ImplWhere() + ": \"data\"")) {
                    return false;
                }
                // Decoded when the entry ends, so that the message can name
                // the implementation whatever the order of the fields.
                dataText = std::move(text);
                return true;
            }
            if (f.key == "name" && kind != Kind::Text) {
                return Fail(ImplWhere() + ": \"name\" must be a text" + got);
            }
            return true;
        }
        return true;
    }

    bool CheckVersion() {
        if (version == 0) {
            return Fail("the file's format version 0 is not valid");
        }
        if (version > static_cast<uint64_t>(DocumentFile::kFormatVersion)) {
            return Fail("the file was written by a newer version of the program (format version " +
                        std::to_string(version) + "; this one reads up to " +
                        std::to_string(DocumentFile::kFormatVersion) + ")");
        }
        return true;
    }

    bool Open(bool isObject) {
        const char* kindName = isObject ? " (it is an object)" : " (it is a list)";
        if (stack.empty()) {
            if (!isObject) {
                return Fail("the file is not a document file: its JSON is not an object");
            }
            stack.push_back({Ctx::Root, {}});
            return true;
        }
        Frame& f = stack.back();
        switch (f.ctx) {
        case Ctx::Top:
            break;
        case Ctx::Skip:
            ++f.depth;
            return true;
        case Ctx::Root:
            if (f.key == "objects") {
                if (!isObject) {
                    if (!Once(hasObjects, "\"objects\"")) {
                        return false;
                    }
                    stack.push_back({Ctx::Objects, {}});
                    return true;
                }
                return Fail(std::string("\"objects\" must be a list") + kindName);
            }
            if (f.key == "format" || f.key == "version" || f.key == "root") {
                return Fail("\"" + f.key + "\" must be a " +
                            (f.key == "format" ? "text" : "whole number") + kindName);
            }
            break;
        case Ctx::Objects:
            if (!isObject) {
                return Fail(Where() + " is not an object (it is a list)");
            }
            if (objects.size() >= DocumentFile::kMaxObjects) {
                return Fail("the file holds more than " +
                            std::to_string(DocumentFile::kMaxObjects) + " objects");
            }
            current = StoredObject{};
            hasUID = hasClass = hasImpls = false;
            implIndex = 0;
            stack.push_back({Ctx::Object, {}});
            return true;
        case Ctx::Object:
            if (f.key == "implementations") {
                if (!isObject) {
                    if (!Once(hasImpls, Where() + ": \"implementations\"")) {
                        return false;
                    }
                    stack.push_back({Ctx::Impls, {}});
                    return true;
                }
                return Fail(Where() + ": \"implementations\" must be a list" + kindName);
            }
            if (f.key == "uid" || f.key == "class") {
                return Fail(Where() + ": \"" + f.key + "\" must be a " +
                            (f.key == "uid" ? "whole number" : "text") + kindName);
            }
            break;
        case Ctx::Impls:
            if (!isObject) {
                return Fail(ImplWhere() + " is not an object (it is a list)");
            }
            ++implIndex;
            if (current.implementations.size() >= DocumentFile::kMaxImplementationsPerObject) {
                return Fail(Where() + " has more than " +
                            std::to_string(DocumentFile::kMaxImplementationsPerObject) +
                            " implementations");
            }
            hasImplID = hasData = false;
            data.clear();
            dataText.clear();
            stack.push_back({Ctx::Impl, {}});
            return true;
        case Ctx::Impl:
            if (f.key == "id" || f.key == "data" || f.key == "name") {
                return Fail(ImplWhere() + ": \"" + f.key + "\" must be a text" + kindName);
            }
            break;
        }
        // A field this version does not know: its value is passed over.
        stack.push_back({Ctx::Skip, {}, 1});
        return true;
    }

    bool Close() {
        if (stack.empty()) {
            return Fail("the file's JSON is not well formed");
        }
        Frame& f = stack.back();
        if (f.ctx == Ctx::Skip && --f.depth > 0) {
            return true;
        }
        Ctx ctx = f.ctx;
        stack.pop_back();
        switch (ctx) {
        case Ctx::Object:
            if (!hasUID) {
                return Fail(Where() + " has no \"uid\"");
            }
            if (!hasClass) {
                return Fail(Where() + " has no \"class\"");
            }
            if (!hasImpls) {
                return Fail(Where() + " has no \"implementations\"");
            }
            objects.push_back(std::move(current));
            current = StoredObject{};
            hasUID = false;
            return true;
        case Ctx::Impl:
            if (!hasImplID) {
                return Fail(ImplWhere() + " has no \"id\"");
            }
            if (!hasData) {
                return Fail(ImplWhere() + " has no \"data\"");
            }
            if (!base64::Decode(dataText, data)) {
                return Fail(ImplWhere() + ": \"data\" is not valid base64");
            }
            dataText.clear();
            if (!current.implementations.emplace(implID, std::move(data)).second) {
                return Fail(Where() + ": implementation " + Hex(implID) + " appears twice");
            }
            data.clear();
            hasImplID = false;
            return true;
        default:
            return true;
        }
    }

    std::size_t textSize;
    Frame topFrame{Ctx::Top, {}};
    std::vector<Frame> stack;
    // The scalar just read.
    uint64_t number = 0;
    std::string text;
    // The object and the implementation being read.
    StoredObject current;
    bool hasUID = false, hasClass = false, hasImpls = false;
    int implIndex = 0;
    uint32_t implID = 0;
    bool hasImplID = false, hasData = false;
    std::string dataText;
    std::vector<uint8_t> data;
};

// ---- checking the model that was read

std::string ClassName(ClassID id) {
    static const std::map<uint32_t, const char*> kNames = {
        {kDocBoss.Get(), "the document"},
        {kSpreadBoss.Get(), "a spread"},
        {kPageBoss.Get(), "a page"},
        {kSplineItemBoss.Get(), "a graphic frame"},
        {kImageItemBoss.Get(), "an image"},
        {kGroupItemBoss.Get(), "a group"},
        {kTextFrameItemBoss.Get(), "a text frame"},
        {kShapeItemBoss.Get(), "a shape"},
    };
    auto it = kNames.find(id.Get());
    return it != kNames.end() ? it->second : "an object of class " + Hex(id.Get());
}

std::string Describe(IDataBase* db, UID uid) {
    return "object " + std::to_string(uid.Get()) + " (" + ClassName(db->GetClass(uid)) + ")";
}

// May `child` be a child of `parent` in the hierarchy?
bool MayHold(ClassID parent, ClassID child) {
    const ObjectModel& m = ObjectModel::Get();
    if (!m.IsA(child, kPageItemBoss)) {
        return false;
    }
    bool image = m.IsA(child, kImageItemBoss);
    if (m.IsA(parent, kSplineItemBoss)) {
        return image;
    }
    if (m.IsA(parent, kSpreadBoss) || m.IsA(parent, kGroupItemBoss)) {
        return !image;
    }
    return false;
}

// The structure every document of the model has: the document lists its
// spreads, the spreads their pages, each page item is reached once from one
// spread through parents that name it, graphic frames hold one image at most,
// images sit in graphic frames, nesting stays within kMaxNestingDepth.
bool CheckModel(IDataBase* db, std::string& why) {
    const ObjectModel& m = ObjectModel::Get();
    UID rootUID = db->GetRootUID();
    InterfacePtr<IDocument> doc = DocumentUtils::QueryDocument(db);
    if (!doc) {
        why = "the root object " + std::to_string(rootUID.Get()) + " is not a document";
        return false;
    }
    std::set<UID> listed{rootUID};
    std::vector<std::pair<UID, int32_t>> pending; // item and its level
    for (int32_t s = 0; s < doc->GetSpreadCount(); ++s) {
        UID spreadUID = doc->GetNthSpreadUID(s);
        if (!m.IsA(db->GetClass(spreadUID), kSpreadBoss)) {
            why = "the document lists object " + std::to_string(spreadUID.Get()) +
                  " as a spread, but " +
                  (db->IsValidUID(spreadUID) ? "it is " + ClassName(db->GetClass(spreadUID))
                                             : std::string("there is no such object"));
            return false;
        }
        if (!listed.insert(spreadUID).second) {
            why = "the document lists spread " + std::to_string(spreadUID.Get()) + " twice";
            return false;
        }
        InterfacePtr<ISpread> spread = InterfaceOf<ISpread>(UIDRef(db, spreadUID));
        for (int32_t p = 0; p < spread->GetNumPages(); ++p) {
            UID pageUID = spread->GetNthPageUID(p);
            if (!m.IsA(db->GetClass(pageUID), kPageBoss)) {
                why = "spread " + std::to_string(spreadUID.Get()) + " lists object " +
                      std::to_string(pageUID.Get()) + " as a page, but " +
                      (db->IsValidUID(pageUID) ? "it is " + ClassName(db->GetClass(pageUID))
                                               : std::string("there is no such object"));
                return false;
            }
            if (!listed.insert(pageUID).second) {
                why = "page " + std::to_string(pageUID.Get()) + " is listed twice";
                return false;
            }
            if (InterfaceOf<IPage>(UIDRef(db, pageUID))->GetSpreadUID() != spreadUID) {
                why = "page " + std::to_string(pageUID.Get()) + " does not name spread " +
                      std::to_string(spreadUID.Get()) + ", which lists it";
                return false;
            }
        }
        InterfacePtr<IHierarchy> h = InterfaceOf<IHierarchy>(UIDRef(db, spreadUID));
        if (h->GetParentUID() != kInvalidUID) {
            why = "spread " + std::to_string(spreadUID.Get()) + " names a parent";
            return false;
        }
        pending.emplace_back(spreadUID, 0);
    }
    // Down the hierarchy from the spreads, without recursion.
    while (!pending.empty()) {
        auto [uid, level] = pending.back();
        pending.pop_back();
        InterfacePtr<IHierarchy> h = InterfaceOf<IHierarchy>(UIDRef(db, uid));
        ClassID cls = db->GetClass(uid);
        if (m.IsA(cls, kSplineItemBoss) && h->GetChildCount() > 1) {
            why = Describe(db, uid) + " holds more than one item";
            return false;
        }
        for (int32_t i = 0; i < h->GetChildCount(); ++i) {
            UID child = h->GetChildUID(i);
            if (!db->IsValidUID(child)) {
                why = Describe(db, uid) + " lists child " + std::to_string(child.Get()) +
                      ", which is not in the file";
                return false;
            }
            if (!MayHold(cls, db->GetClass(child))) {
                why = Describe(db, uid) + " cannot hold " + Describe(db, child);
                return false;
            }
            if (!listed.insert(child).second) {
                why = Describe(db, child) + " is reached twice in the hierarchy";
                return false;
            }
            InterfacePtr<IHierarchy> ch = InterfaceOf<IHierarchy>(UIDRef(db, child));
            if (ch->GetParentUID() != uid) {
                why = Describe(db, child) + " is a child of object " + std::to_string(uid.Get()) +
                      " but names object " + std::to_string(ch->GetParentUID().Get()) +
                      " as its parent";
                return false;
            }
            if (level + 1 > kMaxNestingDepth) {
                why = "page items nest deeper than " + std::to_string(kMaxNestingDepth) + " levels";
                return false;
            }
            pending.emplace_back(child, level + 1);
        }
    }
    // Everything of the model's classes must have been reached.
    for (UID uid : db->AllUIDs()) {
        ClassID cls = db->GetClass(uid);
        bool ofModel = m.IsA(cls, kDocBoss) || m.IsA(cls, kSpreadBoss) || m.IsA(cls, kPageBoss) ||
                       m.IsA(cls, kPageItemBoss);
        if (ofModel && listed.count(uid) == 0) {
            why = Describe(db, uid) + " is not part of the document (" +
                  (m.IsA(cls, kPageItemBoss) ? "no spread holds it" : "nothing lists it") + ")";
            return false;
        }
    }
    return true;
}

std::string FileNameOf(const std::string& path) {
    const char* separator = LastSeparator(path.c_str());
    return separator != nullptr ? separator + 1 : path;
}

std::string FolderOf(const std::string& path) {
    const char* separator = LastSeparator(path.c_str());
    if (separator == nullptr) {
        return ".";
    }
    if (separator == path.c_str()) {
        return std::string(1, kPathSeparator);
    }
    return path.substr(0, static_cast<std::size_t>(separator - path.c_str()));
}

std::string ErrnoText(int err) {
    return std::strerror(err);
}

} // namespace

std::string DocumentFile::Serialize(IDataBase* db, std::string& why) {
    if (!DocumentUtils::QueryDocument(db)) {
        why = "there is no document to save";
        return {};
    }
    if (db->InTransaction()) {
        why = "a change to the document is in progress";
        return {};
    }
    nlohmann::ordered_json file;
    file["format"] = kFormatName;
    file["version"] = kFormatVersion;
    file["root"] = db->GetRootUID().Get();
    nlohmann::ordered_json objects = nlohmann::ordered_json::array();
    const ObjectModel& model = ObjectModel::Get();
    for (const StoredObject& stored : db->Snapshot()) {
        nlohmann::ordered_json object;
        object["uid"] = stored.uid.Get();
        object["class"] = Hex(stored.classID.Get());
        nlohmann::ordered_json implementations = nlohmann::ordered_json::array();
        for (const auto& [id, bytes] : stored.implementations) {
            nlohmann::ordered_json entry;
            entry["id"] = Hex(id);
            entry["name"] = model.ImplementationName(ImplementationID(id));
            entry["data"] = base64::Encode(bytes);
            implementations.push_back(std::move(entry));
        }
        object["implementations"] = std::move(implementations);
        objects.push_back(std::move(object));
    }
    file["objects"] = std::move(objects);
    // Texts are written as they are; invalid UTF-8 in an implementation name
    // would be replaced rather than stop the save.
    return file.dump(1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

std::unique_ptr<IDataBase> DocumentFile::Parse(std::string_view text, std::string& why,
                                               std::vector<std::string>* warnings) {
    RegisterDocumentModel();
    if (text.empty()) {
        why = "the file is empty";
        return nullptr;
    }
    if (text.size() > kMaxFileSize) {
        why = "the file is larger than " + std::to_string(kMaxFileSize >> 20) + " MiB";
        return nullptr;
    }
    Reader reader(text.size());
    bool parsed = false;
    try {
        parsed = nlohmann::json::sax_parse(text.begin(), text.end(), &reader);
    } catch (const std::exception& e) {
        reader.error = std::string("the file could not be read: ") + e.what();
    }
    if (!parsed) {
        why = reader.error.empty() ? "the file is not a document file" : reader.error;
        return nullptr;
    }
    if (!reader.hasFormat) {
        why = "the file is not a document file: it has no \"format\"";
        return nullptr;
    }
    if (!reader.hasVersion) {
        why = "the file has no format \"version\"";
        return nullptr;
    }
    if (!reader.hasRoot) {
        why = "the file has no \"root\"";
        return nullptr;
    }
    if (!reader.hasObjects) {
        why = "the file has no \"objects\"";
        return nullptr;
    }
    const ObjectModel& model = ObjectModel::Get();
    const StoredObject* root = nullptr;
    for (const StoredObject& object : reader.objects) {
        if (reader.root != 0 && object.uid.Get() == reader.root) {
            root = &object;
        }
    }
    if (root == nullptr) {
        why = "the root object " + std::to_string(reader.root) + " is not in the file";
        return nullptr;
    }
    if (!model.IsA(root->classID, kDocBoss)) {
        why = "the root object " + std::to_string(reader.root) + " is not a document (it is " +
              ClassName(root->classID) + ")";
        return nullptr;
    }
    std::vector<std::string> dropped;
    for (const StoredObject& object : reader.objects) {
        if (!model.HasClass(object.classID)) {
            continue; // Restore refuses it below, with its reason
        }
        auto interfaces = model.InterfacesOf(object.classID);
        for (const auto& entry : object.implementations) {
            uint32_t id = entry.first;
            bool known = std::any_of(interfaces.begin(), interfaces.end(),
                                     [&](const auto& e) { return e.second.Get() == id; });
            if (!known) {
                dropped.push_back("object " + std::to_string(object.uid.Get()) + ": the data of " +
                                  Hex(id) + " was dropped (no loaded plug-in provides it)");
            }
        }
    }
    auto db = std::make_unique<IDataBase>();
    std::string restoreWhy;
    if (!db->Restore(reader.objects, UID(static_cast<uint32_t>(reader.root)), restoreWhy)) {
        why = restoreWhy;
        return nullptr;
    }
    if (!CheckModel(db.get(), why)) {
        return nullptr;
    }
    if (warnings != nullptr) {
        warnings->insert(warnings->end(), dropped.begin(), dropped.end());
    }
    return db;
}

namespace {

std::vector<DocumentFile::Format>& Formats() {
    static std::vector<DocumentFile::Format> formats;
    return formats;
}

} // namespace

void DocumentFile::RegisterFormat(const Format& format) {
    auto& formats = Formats();
    auto it = std::find_if(formats.begin(), formats.end(), [&](const Format& f) {
        return std::string_view(f.name) == format.name;
    });
    if (it != formats.end()) {
        *it = format;
    } else {
        formats.push_back(format);
    }
}

const DocumentFile::Format* DocumentFile::FormatFor(const std::string& path) {
    for (const Format& format : Formats()) {
        if (format.claims != nullptr && format.claims(path)) {
            return &format;
        }
    }
    return nullptr;
}

void DocumentFile::DocumentClosed(IDataBase* db) {
    for (const Format& format : Formats()) {
        if (format.closed != nullptr) {
            format.closed(db);
        }
    }
}

ErrorCode DocumentFile::Save(IDataBase* db, const PMString& path, std::string& why,
                             std::vector<std::string>* warnings) {
    const std::string& target = path.GetUTF8String();
    if (target.empty() || target.back() == kPathSeparator) {
        why = "no file name to save to";
        return kFailure;
    }
    if (const Format* format = FormatFor(target); format != nullptr && format->save != nullptr) {
        std::vector<std::string> messages;
        const bool saved = format->save(db, target, messages, why);
        if (warnings != nullptr) {
            warnings->insert(warnings->end(), messages.begin(), messages.end());
        }
        return saved ? kSuccess : kFailure;
    }
    std::string text = Serialize(db, why);
    if (text.empty()) {
        return kFailure;
    }
    // A temporary file beside the target, so that the rename stays within one
    // file system; a name that is taken is passed over.
    std::string temporary;
    int err = EEXIST;
    for (int attempt = 0; attempt < 100 && err == EEXIST; ++attempt) {
        temporary =
            target + ".saving-" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
        err = platform::CreateNewFile(temporary.c_str(), text.data(), text.size(), true);
    }
    if (err != 0) {
        why = "cannot write the file in " + FolderOf(target) + ": " + ErrnoText(err);
        return kFailure;
    }
    if (int renameErr = platform::RenameFile(temporary.c_str(), target.c_str()); renameErr != 0) {
        platform::RemoveFile(temporary.c_str());
        why = "cannot replace " + target + ": " + ErrnoText(renameErr);
        return kFailure;
    }
    // The new file is whole and in place. Syncing the folder makes the rename
    // itself durable; should that fail, a crash could at worst bring back the
    // previous file, whole, so the save still counts as done.
    platform::SyncDirectory(FolderOf(target).c_str());
    InterfacePtr<IDocument> doc = DocumentUtils::QueryDocument(db);
    doc->SetFilePath(path);
    doc->SetName(PMString(FileNameOf(target)));
    db->SetModified(false);
    return kSuccess;
}

std::unique_ptr<IDataBase> DocumentFile::Open(const PMString& path, std::string& why,
                                              std::vector<std::string>* warnings) {
    if (const Format* format = FormatFor(path.GetUTF8String());
        format != nullptr && format->open != nullptr) {
        std::vector<std::string> messages;
        std::unique_ptr<IDataBase> db = format->open(path.GetUTF8String(), messages, why);
        if (warnings != nullptr) {
            warnings->insert(warnings->end(), messages.begin(), messages.end());
        }
        return db;
    }
    std::string text;
    int err = platform::ReadWholeFile(path.c_str(), kMaxFileSize, text);
    if (err == EFBIG) {
        why = "the file is larger than " + std::to_string(kMaxFileSize >> 20) + " MiB";
        return nullptr;
    }
    if (err == EISDIR) {
        why = path.GetUTF8String() + " is a folder, not a document file";
        return nullptr;
    }
    if (err != 0) {
        why = "cannot read " + path.GetUTF8String() + ": " + ErrnoText(err);
        return nullptr;
    }
    std::unique_ptr<IDataBase> db = Parse(text, why, warnings);
    if (!db) {
        return nullptr;
    }
    InterfacePtr<IDocument> doc = DocumentUtils::QueryDocument(db.get());
    doc->SetFilePath(path);
    doc->SetName(PMString(FileNameOf(path.GetUTF8String())));
    return db;
}
