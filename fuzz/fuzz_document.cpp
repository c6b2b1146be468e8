// Arbitrary bytes as a document file through the loader. A file that loads is
// then used the way the plug-in uses a document (spreads, pages, the items on
// them, their geometry and links), changed and undone, and saved again: the
// saved text must load back to the same content.

#include "DocumentFile.h"
#include "DocumentModel.h"
#include "DocumentUtils.h"
#include "IDataLink.h"
#include "IGeometry.h"
#include "IGraphicFrameData.h"
#include "IHierarchy.h"
#include "IImageAttributes.h"
#include "ISpread.h"
#include "ITransform.h"
#include "ImportUtils.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::string Content(const IDataBase& db) {
    std::string out;
    for (const auto& object : db.Snapshot()) {
        out += std::to_string(object.uid.Get()) + ":" + std::to_string(object.classID.Get());
        for (const auto& [id, bytes] : object.implementations) {
            out += " " + std::to_string(id) + "=" + std::string(bytes.begin(), bytes.end());
        }
        out += "\n";
    }
    return out;
}

// Everything below an item, depth first, the way the plug-in looks for images.
void Visit(IDataBase* db, UID uid, int depth, double& sink) {
    UIDRef item(db, uid);
    if (depth > kMaxNestingDepth + 1) {
        std::abort(); // the loader lets no deeper nesting through
    }
    if (InterfacePtr<IGeometry> geometry = InterfaceOf<IGeometry>(item)) {
        PMRect box = geometry->GetBoundingBox();
        sink += box.Width();
        if (InterfacePtr<ITransform> transform = InterfaceOf<ITransform>(item)) {
            sink += geometry->GetBoundingBox(transform->GetInnerToSpreadMatrix()).Height();
        }
    }
    sink += LayoutUtils::GetPageNumber(item);
    sink += static_cast<double>(PageItemTypeUtils::GetPageItemType(item));
    if (InterfacePtr<IGraphicFrameData> frame = InterfaceOf<IGraphicFrameData>(item)) {
        sink += frame->GetContentUID().Get();
    }
    PMString shortName, longName;
    if (LinkUtils::GetLinkNames(item, shortName, longName)) {
        sink += static_cast<double>(shortName.ByteCount());
    }
    if (InterfacePtr<IImageAttributes> attributes = InterfaceOf<IImageAttributes>(item)) {
        PMFixed x = 0;
        attributes->GetXResolution(x);
        sink += PMFixedToDouble(x);
    }
    InterfacePtr<IHierarchy> hierarchy = InterfaceOf<IHierarchy>(item);
    for (int32_t i = 0; hierarchy && i < hierarchy->GetChildCount(); ++i) {
        Visit(db, hierarchy->GetChildUID(i), depth + 1, sink);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool registered = (RegisterDocumentModel(), true);
    (void)registered;
    std::string why;
    std::vector<std::string> warnings;
    std::unique_ptr<IDataBase> db = DocumentFile::Parse(
        std::string_view(reinterpret_cast<const char*>(data), size), why, &warnings);
    if (!db) {
        if (why.empty()) {
            std::abort(); // every refusal says why
        }
        return 0;
    }
    IDataBase* d = db.get();
    InterfacePtr<IDocument> doc = DocumentUtils::QueryDocument(d);
    if (!doc) {
        std::abort();
    }
    double total = 0;
    UIDList firstItems(d);
    for (int32_t s = 0; s < doc->GetSpreadCount(); ++s) {
        InterfacePtr<ISpread> spread = InterfaceOf<ISpread>(UIDRef(d, doc->GetNthSpreadUID(s)));
        for (int32_t p = 0; p < spread->GetNumPages(); ++p) {
            UIDList items = spread->GetItemsOnPage(p, true);
            for (UID uid : items) {
                Visit(d, uid, 0, total);
            }
        }
        InterfacePtr<IHierarchy> h = InterfaceOf<IHierarchy>(UIDRef(d, doc->GetNthSpreadUID(s)));
        if (h->GetChildCount() > 0) {
            firstItems.Append(h->GetChildUID(0));
        }
    }
    (void)total;

    // A change and its undo give the content back.
    const std::string loaded = Content(*d);
    if (!firstItems.IsEmpty()) {
        if (DocumentUtils::DeletePageItem(firstItems.GetRef(0)) != kSuccess || !d->Undo() ||
            Content(*d) != loaded) {
            std::abort();
        }
    }

    // What loads saves, and loads back the same.
    std::string text = DocumentFile::Serialize(d, why);
    std::unique_ptr<IDataBase> again = DocumentFile::Parse(text, why);
    if (!again || Content(*again) != loaded) {
        std::abort();
    }
    return 0;
}
