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
// A path that a registered format claims is written by that format instead,
// its messages (what it could not keep) added to *warnings.
ErrorCode Save(IDataBase* db, const PMString& path, std::string& why,
               std::vector<std::string>* warnings = nullptr);

// Reads a document file; null with a reason on failure. The document takes
// the path and the file's name, and is unmodified with nothing to undo.
// A path that a registered format claims is read by that format.
std::unique_ptr<IDataBase> Open(const PMString& path, std::string& why,
                                std::vector<std::string>* warnings = nullptr);

// Another file format that documents are opened from and saved to, known by
// its paths (an interchange format of other applications). Open and Save, and
// so the document list's save with its signals, hand such paths to it.
struct Format {
    const char* name = "";
    bool (*claims)(const std::string& path) = nullptr;
    std::unique_ptr<IDataBase> (*open)(const std::string& path, std::vector<std::string>& messages,
                                       std::string& why) = nullptr;
    // On success the document takes the path and is no longer modified.
    bool (*save)(IDataBase* db, const std::string& path, std::vector<std::string>& messages,
                 std::string& why) = nullptr;
    // Lets go of what the format keeps for a document that was closed.
    void (*closed)(IDataBase* db) = nullptr;
};
// Adds the format, or replaces the one of the same name.
void RegisterFormat(const Format& format);
// The format that claims the path, or null for the document file itself.
const Format* FormatFor(const std::string& path);
// Tells every format that the document closed (the document list does).
void DocumentClosed(IDataBase* db);

} // namespace DocumentFile
