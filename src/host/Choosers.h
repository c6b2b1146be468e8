#pragma once

#include "PMString.h"

#include <deque>
#include <optional>
#include <string>
#include <vector>

// File and folder choosers. The plug-in fills in a chooser and shows it; the
// front end that is attached (an IChooserSink) asks the user and answers with
// a path, or with nothing when the user cancels. Without a front end every
// chooser is cancelled.
//
// The filters are what the front end offers the user; the host does not hold
// an opened file to them. A saved file's name without an extension gets the
// first filter's. A folder chooser takes only an existing folder: any other
// answer counts as cancelled.

enum class ChooserKind { kOpenFile, kSaveFile, kFolder };

struct FileFilter {
    // What the files are ("Preferences", "Application (*.exe)"), a string key.
    PMString family;
    // Without the dot: "opf".
    std::string extension;
};

struct ChooserRequest {
    ChooserKind kind = ChooserKind::kOpenFile;
    PMString title;
    // Save choosers: the name offered.
    PMString suggestedName;
    std::vector<FileFilter> filters;
    std::string startFolder;
};

class IChooserSink {
public:
    virtual ~IChooserSink();
    // The chosen path, or nothing when cancelled.
    virtual std::optional<std::string> Choose(const ChooserRequest& request) = 0;
};

namespace Choosers {
// The front end's sink (null: none); returns the one it replaces.
IChooserSink* SetChooserSink(IChooserSink* sink);
IChooserSink* GetChooserSink();
} // namespace Choosers

class ScopedChooserSink {
public:
    explicit ScopedChooserSink(IChooserSink* sink) : previous(Choosers::SetChooserSink(sink)) {}
    ~ScopedChooserSink() { Choosers::SetChooserSink(previous); }
    ScopedChooserSink(const ScopedChooserSink&) = delete;
    ScopedChooserSink& operator=(const ScopedChooserSink&) = delete;

private:
    IChooserSink* previous;
};

// Keeps every request and answers from a script: the queued answers in
// order, then cancelled.
class RecordingChooserSink : public IChooserSink {
public:
    std::optional<std::string> Choose(const ChooserRequest& request) override;
    void Answer(std::optional<std::string> path) { script.push_back(std::move(path)); }
    const std::vector<ChooserRequest>& Requests() const { return requests; }

private:
    std::vector<ChooserRequest> requests;
    std::deque<std::optional<std::string>> script;
};

// What the three choosers share.
class FileChooserBase {
public:
    void SetTitle(const PMString& title) { request.title = title; }
    void SetStartFolder(const std::string& folder) { request.startFolder = folder; }
    // Shows the chooser; true when the user chose something.
    bool ShowDialog();
    bool IsChosen() const { return chosen; }
    // The chosen path (empty when cancelled).
    const std::string& GetPath() const { return path; }

protected:
    explicit FileChooserBase(ChooserKind kind) { request.kind = kind; }
    ChooserRequest request;

private:
    bool chosen = false;
    std::string path;
};

class OpenFileChooser : public FileChooserBase {
public:
    OpenFileChooser() : FileChooserBase(ChooserKind::kOpenFile) {}
    void AddFilter(const PMString& family, const std::string& extension) {
        request.filters.push_back({family, extension});
    }
};

class SaveFileChooser : public FileChooserBase {
public:
    SaveFileChooser() : FileChooserBase(ChooserKind::kSaveFile) {}
    void SetFileName(const PMString& suggestedName) { request.suggestedName = suggestedName; }
    void AddFilter(const PMString& family, const std::string& extension) {
        request.filters.push_back({family, extension});
    }
};

class FolderChooser : public FileChooserBase {
public:
    FolderChooser() : FileChooserBase(ChooserKind::kFolder) {}
};
