#include "Choosers.h"

#include "HostRegistration.h"
#include "Platform.h"

#include <cstdio>

IChooserSink::~IChooserSink() = default;

namespace {

IChooserSink* chooserSink = nullptr;

const char* KindName(ChooserKind kind) {
    switch (kind) {
    case ChooserKind::kOpenFile:
        return "open file";
    case ChooserKind::kSaveFile:
        return "save file";
    case ChooserKind::kFolder:
        break;
    }
    return "folder";
}

bool HasExtension(const std::string& path) {
    std::size_t name = path.find_last_of("/\\");
    name = name == std::string::npos ? 0 : name + 1;
    std::size_t dot = path.rfind('.');
    // A leading dot ("~/.profile") starts a name, not an extension.
    return dot != std::string::npos && dot > name && dot + 1 < path.size();
}

} // namespace

void ResetChoosers() {
    chooserSink = nullptr;
}

IChooserSink* Choosers::SetChooserSink(IChooserSink* sink) {
    IChooserSink* previous = chooserSink;
    chooserSink = sink;
    return previous;
}

IChooserSink* Choosers::GetChooserSink() {
    return chooserSink;
}

std::optional<std::string> RecordingChooserSink::Choose(const ChooserRequest& request) {
    requests.push_back(request);
    if (script.empty()) {
        return std::nullopt;
    }
    std::optional<std::string> answer = std::move(script.front());
    script.pop_front();
    return answer;
}

bool FileChooserBase::ShowDialog() {
    chosen = false;
    path.clear();
    ChooserRequest shown = request;
    shown.title.Translate();
    shown.suggestedName.Translate();
    for (FileFilter& filter : shown.filters) {
        filter.family.Translate();
    }
    if (chooserSink == nullptr) {
        std::fprintf(stderr, "[Chooser] %s \"%s\": no front end, cancelled\n", KindName(shown.kind),
                     shown.title.c_str());
        return false;
    }
    std::optional<std::string> answer = chooserSink->Choose(shown);
    if (!answer || answer->empty()) {
        return false;
    }
    std::string chosenPath = *answer;
    if (shown.kind == ChooserKind::kFolder && !platform::IsDirectory(chosenPath.c_str())) {
        std::fprintf(stderr, "[Chooser] \"%s\" is not a folder, cancelled\n", chosenPath.c_str());
        return false;
    }
    if (shown.kind == ChooserKind::kSaveFile && !shown.filters.empty() &&
        !shown.filters.front().extension.empty() && !HasExtension(chosenPath)) {
        chosenPath += "." + shown.filters.front().extension;
    }
    path = std::move(chosenPath);
    chosen = true;
    return true;
}
