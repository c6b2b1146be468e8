// Arbitrary bytes as an IDML package: the zip is checked and read within small
// limits; a package that reads is made into a document, written back, and
// what it writes must read again with the same parts. Then every other item
// of each spread is deleted: every part written after that must still be
// well-formed XML.

#include "IdmlDocument.h"

#include "DocumentModel.h"
#include "DocumentUtils.h"
#include "IDocument.h"
#include "IHierarchy.h"
#include "ObjectModel.h"

#include <pugixml.hpp>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    idml::Limits limits;
    limits.maxEntries = 64;
    limits.maxEntrySize = 1 << 20;
    limits.maxTotalSize = 4 << 20;
    limits.ratioFloor = 64 << 10;
    idml::Package package;
    std::string why;
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (!idml::ReadPackage(bytes, package, why, limits)) {
        if (why.empty()) {
            std::abort(); // a refusal always says why
        }
        return 0;
    }
    std::vector<std::string> messages;
    std::unique_ptr<IDataBase> db =
        idml::MakeDocument(std::move(package), idml::LinkMap(), messages, why);
    if (!db) {
        return 0;
    }
    std::string zip;
    if (!idml::UpdatePackage(db.get(), idml::LinkMap(), messages, why) ||
        !idml::WritePackage(*idml::PackageOf(db.get()), zip, why)) {
        if (why.empty()) {
            std::abort();
        }
        idml::Forget(db.get());
        return 0;
    }
    idml::Package back;
    if (!idml::ReadPackage(zip, back, why) ||
        back.parts.size() != idml::PackageOf(db.get())->parts.size()) {
        std::abort();
    }
    for (const idml::Part& part : idml::PackageOf(db.get())->parts) {
        const idml::Part* again = back.Find(part.name);
        if (again == nullptr || again->bytes != part.bytes) {
            std::abort(); // nothing changed, so every part is written as read
        }
    }
    InterfacePtr<IDocument> doc = DocumentUtils::QueryDocument(db.get());
    for (int32_t i = 0; doc && i < doc->GetSpreadCount(); ++i) {
        InterfacePtr<IHierarchy> spread =
            InterfaceOf<IHierarchy>(UIDRef(db.get(), doc->GetNthSpreadUID(i)));
        std::vector<UID> items;
        for (int32_t k = 0; spread && k < spread->GetChildCount(); k += 2) {
            items.push_back(spread->GetChildUID(k));
        }
        for (UID item : items) {
            DocumentUtils::ProcessChange(db.get(), PMString("Delete"), [&] {
                DeleteItemTree(db.get(), item);
                return kSuccess;
            });
        }
    }
    if (idml::UpdatePackage(db.get(), idml::LinkMap(), messages, why)) {
        for (const idml::Part& part : idml::PackageOf(db.get())->parts) {
            pugi::xml_document xml;
            if (part.changed && !xml.load_string(part.edited.c_str())) {
                std::abort(); // an edit broke the part
            }
        }
    }
    idml::Forget(db.get());
    return 0;
}
