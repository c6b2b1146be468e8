#pragma once

#include "IDataBase.h"
#include "PMString.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The document file: a JSON text with a header, the root UID and every
// object with its class and the bytes that each of its persistent
// implementations writes (docs/document-file.md).
namespace DocumentFile {

inline constexpr const char* kFormatName = "OrdoDesk host document";
inline constexpr int kFormatVersion = 1;
// Limits that keep a damaged or hostile file from taking all memory: larger
// files are refused before they are read, and reading stops at the first
// object or implementation beyond the counts (each object costs about a
// kilobyte once loaded).
inline constexpr std::size_t kMaxFileSize = std::size_t{256} << 20;
inline constexpr std::size_t kMaxObjects = 250000;
inline constexpr std::size_t kMaxImplementationsPerObject = 256;

// The file's text for the database's content. Empty, with a reason, when the
// database has no document at its root or a change is in progress.
std::string Serialize(IDataBase* db, std::string& why);

// A new database from a file's text, or null with a reason that names what is
// wrong. Data of implementations that no loaded plug-in provides is dropped,
// each such case noted in *warnings. The document's name is left empty.
std::unique_ptr<IDataBase> Parse(std::string_view text, std::string& why,
                                 std::vector<std::string>* warnings = nullptr);

// Writes the document to the path atomically: a temporary file in the same
// folder, forced to disk, then renamed over the target, and the folder
// synced. A save that fails leaves the previous file as it was, removes the
// temporary file and says why. On success the document takes the path and
// the file's name and is no longer modified.
ErrorCode Save(IDataBase* db, const PMString& path, std::string& why);

// Reads a document file; null with a reason on failure. The document takes
// the path and the file's name, and is unmodified with nothing to undo.
std::unique_ptr<IDataBase> Open(const PMString& path, std::string& why,
                                std::vector<std::string>* warnings = nullptr);

} // namespace DocumentFile
