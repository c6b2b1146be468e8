#pragma once

// IDML documents in the host's document model. Opening reads the package
// (IdmlPackage.h), its layout (IdmlLayout.h) and builds a document of it:
// spreads and pages, page items in stacking order with their matrices and
// boxes, placed images linked to local paths through the link path map. The
// package stays with the open document, so that saving writes it back with
// only what the model changed: the matrices of page items, a relinked
// image's link, matrix and bounds, and the data plug-ins keep on page items
// (in each element's Properties/Label, one KeyValuePair per implementation,
// its bytes in base64).

#include "IDataBase.h"
#include "IdmlLayout.h"
#include "IdmlLinks.h"

#include <memory>
#include <string>
#include <vector>

namespace idml {

// The key prefix of plug-in data in an element's Label.
inline constexpr const char* kLabelKeyPrefix = "OrdoDesk:";

// True for a path that ends in ".idml" (any case).
bool HasIdmlExtension(const std::string& path);

// Builds a document from a package that ReadPackage accepted; null with a
// reason. Every link that maps nowhere or names a missing file, and every
// oddity of the layout, gives one line in messages. The document keeps the
// package (it is moved from) for SaveDocument.
std::unique_ptr<IDataBase> MakeDocument(Package&& package, const LinkMap& links,
                                        std::vector<std::string>& messages, std::string& why);

// Reads the file and makes its document (named after the file, with its path).
std::unique_ptr<IDataBase> OpenDocument(const std::string& path, const LinkMap& links,
                                        std::vector<std::string>& messages, std::string& why);

// The package of the document as the model has it now (for tests and the
// save). False when the document was not made from IDML.
bool UpdatePackage(IDataBase* db, const LinkMap& links, std::vector<std::string>& messages,
                   std::string& why);
const Package* PackageOf(IDataBase* db);

// Writes the document's package to the path (atomically). On success the
// document takes the path and is unmodified.
bool SaveDocument(IDataBase* db, const std::string& path, const LinkMap& links,
                  std::vector<std::string>& messages, std::string& why);

// True when the document was made from IDML (and so can be saved as IDML).
bool IsIdmlDocument(IDataBase* db);
// Drops what is kept for the document; called when it closes.
void Forget(IDataBase* db);

// Makes the host open and save ".idml" paths as IDML, links mapped through
// the session's link path map, and forget a document's package when the
// document closes.
void RegisterDocumentFormat();

} // namespace idml
