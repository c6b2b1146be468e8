// Reads arbitrary bytes as a host shell script, line by line as `ordodesk run`
// does: each line split into words with its variables replaced, `set` lines
// kept as the shell keeps them. A line may be refused (a quote or a ${ not
// closed, an unknown variable) but never otherwise fail, and the words must
// keep their promises: replacing variables never adds or drops a word, a word
// quoted back reads as itself, and every NAME=VALUE splits back into its text.
#include "ShellWords.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The word in double quotes, escaped as the splitter reads it back.
std::string Quote(const std::string& word) {
    std::string quoted = "\"";
    for (char c : word) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
        }
        quoted += c;
    }
    return quoted + "\"";
}

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void RunLine(const std::string& line, ShellVariables& variables) {
    std::string name;
    std::string value;
    if (SplitAssignment(line, name, value)) {
        Check(!name.empty() && name.find('=') == std::string::npos);
        Check(name + "=" + value == line);
    }

    std::vector<std::string> split;
    try {
        split = SplitWords(line);
    } catch (const ShellSyntaxError&) {
        return;
    }
    // The shell echoes a line from its first character that is not a blank.
    Check(split.empty() || line.find_first_not_of(" \t") != std::string::npos);

    std::string again;
    for (const std::string& word : split) {
        again += (again.empty() ? "" : " ") + Quote(word);
        if (word.find("${") == std::string::npos) {
            Check(ExpandVariables(word, variables) == word);
        }
    }
    Check(SplitWords(again) == split);

    std::vector<std::string> words;
    try {
        words = CommandWords(line, variables);
    } catch (const ShellSyntaxError&) {
        return;
    }
    Check(words.size() == split.size());
    // `set NAME VALUE`, with values kept small so that a line that doubles a
    // value cannot make the run about memory.
    if (words.size() == 3 && words[0] == "set" && words[2].size() <= 1024 &&
        variables.size() < 64) {
        variables[words[1]] = words[2];
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string script(reinterpret_cast<const char*>(data), size);
    ShellVariables variables = {
        {"W", "/Volumes/Work Folder"},
        {"SCRIPT_DIR", "/tmp/scripts"},
        {"IMG", "it's \"quoted\" # not a comment"},
        {"EMPTY", ""},
        {"SELF", "${W}"},
    };
    std::size_t start = 0;
    while (start <= script.size()) {
        std::size_t end = script.find('\n', start);
        if (end == std::string::npos) {
            end = script.size();
        }
        std::string line = script.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        RunLine(line, variables);
        start = end + 1;
    }
    return 0;
}
