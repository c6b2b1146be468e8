#include "OD_JobJournal.h"

#include "OD_Preferences.h"
#include "Paths.h"
#include "Platform.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <map>

namespace {

constexpr std::string_view kHeader = "OrdoDesk job 1";
constexpr std::string_view kSuffix = ".job";
// An entry is small: a reply is at most a kilobyte or so.
constexpr std::size_t kMaxEntryBytes = 64 * 1024;
constexpr std::size_t kMaxReplyBytes = 16 * 1024;

bool OneLine(const std::string& text) {
    return text.find_first_of("\r\n") == std::string::npos;
}

template <typename T> bool ParseNumber(std::string_view text, T& out) {
    if (text.empty()) {
        return false;
    }
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && p == end;
}

bool ParseFlag(std::string_view text, bool& out) {
    if (text == "0" || text == "1") {
        out = text == "1";
        return true;
    }
    return false;
}

// The file name of a job's entry: the message name with its separators (and
// anything else that is no plain name character) turned into '_'.
std::string FileNameOf(const std::string& job) {
    std::string name;
    for (unsigned char c : job) {
        const bool plain = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
                           (c >= 'a' && c <= 'z') || c == '.' || c == '-';
        name.push_back(plain ? static_cast<char>(c) : '_');
    }
    return name + std::string(kSuffix);
}

} // namespace

std::string FormatJobEntry(const OD_JobEntry& e) {
    std::string text(kHeader);
    text += "\njob " + e.job;
    text += "\nserver " + e.server;
    text += "\ndocument " + e.document;
    text += "\nitem " + std::to_string(e.item);
    text += "\nsource " + e.source;
    text += "\nsent " + std::to_string(e.sent);
    text +=
        std::string("\nstate ") + (e.state == OD_JobEntry::State::answered ? "answered" : "sent");
    text += std::string("\nreleased ") + (e.released ? "1" : "0");
    text += std::string("\nsaved ") + (e.saved ? "1" : "0");
    if (e.opi >= 0) {
        text += std::string("\nopi ") + (e.opi == 1 ? "1" : "0");
    }
    text += "\nreply " + std::to_string(e.reply.size()) + "\n";
    text += e.reply;
    return text;
}

bool ParseJobEntry(std::string_view text, OD_JobEntry& entry, std::string& why) {
    OD_JobEntry e;
    std::map<std::string, std::string, std::less<>> fields;
    std::size_t at = 0;
    bool first = true;
    static const char* const kKeys[] = {"job",  "server", "document", "item",  "source",
                                        "sent", "state",  "released", "saved", "reply"};
    // Keys an entry may leave out.
    static const char* const kOptionalKeys[] = {"opi"};
    while (true) {
        const std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) {
            why = "the entry ends before its reply";
            return false;
        }
        const std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (first) {
            if (line != kHeader) {
                why = "not a job entry";
                return false;
            }
            first = false;
            continue;
        }
        const std::size_t space = line.find(' ');
        const std::string key(line.substr(0, space));
        const std::string_view value =
            space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
        if (std::find(std::begin(kKeys), std::end(kKeys), key) == std::end(kKeys) &&
            std::find(std::begin(kOptionalKeys), std::end(kOptionalKeys), key) ==
                std::end(kOptionalKeys)) {
            why = "unknown key '" + key + "'";
            return false;
        }
        if (!fields.emplace(key, std::string(value)).second) {
            why = "key '" + key + "' given twice";
            return false;
        }
        if (key == "reply") {
            break;
        }
    }
    for (const char* key : kKeys) {
        if (fields.find(key) == fields.end()) {
            why = std::string("key '") + key + "' missing";
            return false;
        }
    }
    std::size_t replyBytes = 0;
    if (!ParseNumber(fields["reply"], replyBytes) || replyBytes > kMaxReplyBytes ||
        replyBytes != text.size() - at) {
        why = "the reply's length does not match";
        return false;
    }
    e.reply.assign(text.substr(at));
    e.job = fields["job"];
    e.server = fields["server"];
    e.document = fields["document"];
    e.source = fields["source"];
    const std::string& state = fields["state"];
    if (e.job.empty() || !ParseNumber(fields["item"], e.item) ||
        !ParseNumber(fields["sent"], e.sent) || (state != "sent" && state != "answered") ||
        !ParseFlag(fields["released"], e.released) || !ParseFlag(fields["saved"], e.saved)) {
        why = "a field does not read";
        return false;
    }
    e.state = state == "answered" ? OD_JobEntry::State::answered : OD_JobEntry::State::sent;
    if (auto opi = fields.find("opi"); opi != fields.end()) {
        bool on = false;
        if (!ParseFlag(opi->second, on)) {
            why = "a field does not read";
            return false;
        }
        e.opi = on ? 1 : 0;
    }
    entry = std::move(e);
    return true;
}

OD_JobJournal::OD_JobJournal(std::string folderPath) : folder(std::move(folderPath)) {}

OD_JobJournal OD_JobJournal::ForIdentityFolder() {
    const char* identity = OD_PrefsData::IdentityFolder();
    if (identity == nullptr || identity[0] == '\0') {
        return OD_JobJournal(std::string());
    }
    std::string path = identity;
    if (path.back() != kPathSeparator) {
        path += kPathSeparator;
    }
    return OD_JobJournal(path + kODJobFolderName);
}

std::string OD_JobJournal::PathOf(const std::string& job) const {
    return folder + kPathSeparator + FileNameOf(job);
}

int OD_JobJournal::Write(const OD_JobEntry& entry) const {
    if (!Usable() || entry.job.empty() || !OneLine(entry.job) || !OneLine(entry.server) ||
        !OneLine(entry.document) || !OneLine(entry.source)) {
        return EINVAL;
    }
    if (!platform::IsDirectory(folder.c_str())) {
        const int err = platform::MakeDirectory(folder.c_str());
        if (err != 0 && err != EEXIST) {
            return err;
        }
    }
    const std::string text = FormatJobEntry(entry);
    return platform::WriteFileAtomically(PathOf(entry.job).c_str(), text.data(), text.size());
}

int OD_JobJournal::Remove(const std::string& job) const {
    if (!Usable() || job.empty()) {
        return EINVAL;
    }
    return platform::RemoveFile(PathOf(job).c_str());
}

bool OD_JobJournal::Find(const std::string& job, OD_JobEntry& entry) const {
    if (!Usable() || job.empty()) {
        return false;
    }
    std::string text;
    std::string why;
    return platform::ReadWholeFile(PathOf(job).c_str(), kMaxEntryBytes, text) == 0 &&
           ParseJobEntry(text, entry, why) && entry.job == job;
}

std::vector<OD_JobEntry> OD_JobJournal::List(int* unreadable) const {
    std::vector<OD_JobEntry> entries;
    if (unreadable != nullptr) {
        *unreadable = 0;
    }
    if (!Usable()) {
        return entries;
    }
    std::vector<std::string> names;
    platform::ListFolder(folder.c_str(), names);
    for (const std::string& name : names) {
        if (name.empty() || name[0] == '.' || name.size() <= kSuffix.size() ||
            name.compare(name.size() - kSuffix.size(), kSuffix.size(), kSuffix) != 0) {
            continue;
        }
        std::string text;
        std::string why;
        OD_JobEntry entry;
        const std::string path = folder + kPathSeparator + name;
        if (platform::ReadWholeFile(path.c_str(), kMaxEntryBytes, text) == 0 &&
            ParseJobEntry(text, entry, why) && FileNameOf(entry.job) == name) {
            entries.push_back(std::move(entry));
        } else if (unreadable != nullptr) {
            ++*unreadable;
        }
    }
    std::sort(entries.begin(), entries.end(),
              [](const OD_JobEntry& a, const OD_JobEntry& b) { return a.job < b.job; });
    return entries;
}

int OD_JobJournal::RemoveLeftovers(int64_t olderThan) const {
    int removed = 0;
    std::vector<std::string> names;
    if (!Usable() || platform::ListFolder(folder.c_str(), names) != 0) {
        return 0;
    }
    constexpr std::string_view kPart = ".part";
    for (const std::string& name : names) {
        if (name.size() <= kPart.size() || name[0] != '.' ||
            name.compare(name.size() - kPart.size(), kPart.size(), kPart) != 0) {
            continue;
        }
        const std::string path = folder + kPathSeparator + name;
        platform::FileTimes times;
        if (platform::GetFileTimes(path.c_str(), times) == 0 && times.modified < olderThan &&
            platform::RemoveFile(path.c_str()) == 0) {
            ++removed;
        }
    }
    return removed;
}
