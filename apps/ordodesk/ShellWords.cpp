#include "ShellWords.h"

#include <cctype>

namespace {

[[noreturn]] void Fail(const std::string& message) {
    throw ShellSyntaxError(message);
}

bool IsBlank(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

} // namespace

std::vector<std::string> SplitWords(const std::string& line) {
    std::vector<std::string> words;
    std::size_t i = 0;
    const std::size_t n = line.size();
    while (i < n) {
        while (i < n && IsBlank(line[i])) {
            ++i;
        }
        if (i >= n || line[i] == '#') {
            break;
        }
        std::string word;
        while (i < n && !IsBlank(line[i])) {
            const char c = line[i];
            if (c == '\'') {
                const std::size_t end = line.find('\'', i + 1);
                if (end == std::string::npos) {
                    Fail("a quote (') is not closed");
                }
                word += line.substr(i + 1, end - i - 1);
                i = end + 1;
            } else if (c == '"') {
                ++i;
                bool closed = false;
                while (i < n) {
                    if (line[i] == '\\' && i + 1 < n &&
                        (line[i + 1] == '"' || line[i + 1] == '\\')) {
                        word += line[i + 1];
                        i += 2;
                    } else if (line[i] == '"') {
                        closed = true;
                        ++i;
                        break;
                    } else {
                        word += line[i++];
                    }
                }
                if (!closed) {
                    Fail("a quote (\") is not closed");
                }
            } else {
                word += c;
                ++i;
            }
        }
        words.push_back(word);
    }
    return words;
}

std::string ExpandVariables(const std::string& text, const ShellVariables& variables) {
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '$' && i + 1 < text.size() && text[i + 1] == '{') {
            const std::size_t end = text.find('}', i + 2);
            if (end == std::string::npos) {
                Fail("a ${ is not closed");
            }
            const std::string name = text.substr(i + 2, end - i - 2);
            auto it = variables.find(name);
            if (it == variables.end()) {
                Fail("unknown variable ${" + name + "}");
            }
            result += it->second;
            i = end;
        } else {
            result += text[i];
        }
    }
    return result;
}

std::vector<std::string> CommandWords(const std::string& line, const ShellVariables& variables) {
    std::vector<std::string> words = SplitWords(line);
    for (std::string& word : words) {
        word = ExpandVariables(word, variables);
    }
    return words;
}

bool SplitAssignment(const std::string& text, std::string& name, std::string& value) {
    const std::size_t eq = text.find('=');
    if (eq == std::string::npos || eq == 0) {
        return false;
    }
    name = text.substr(0, eq);
    value = text.substr(eq + 1);
    return true;
}
