#pragma once

// The words of a host shell command line, as `ordodesk shell` and
// `ordodesk run` read them: blanks separate words, '...' is taken as it
// stands, "..." takes \" and \\ as escapes, a word that begins with '#'
// starts a comment that runs to the end of the line, and ${NAME} inside a
// word is replaced by the variable's value. Only text: running the commands
// is the shell's.

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

// A line that cannot be read: a quote or a ${ not closed, an unknown variable.
struct ShellSyntaxError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

using ShellVariables = std::map<std::string, std::string>;

// Splits a line into words, quotes taken away; none for a blank line or a
// comment. Throws ShellSyntaxError on a quote that is not closed.
std::vector<std::string> SplitWords(const std::string& line);

// Replaces each ${NAME} in text by the variable's value; a value is put in
// as it stands (a ${ in it is not replaced again). Throws ShellSyntaxError on
// a ${ that is not closed or a name that is not a variable.
std::string ExpandVariables(const std::string& text, const ShellVariables& variables);

// The words of a command line with the variables replaced inside each word,
// so that a value with blanks or quotes in it stays one word.
std::vector<std::string> CommandWords(const std::string& line, const ShellVariables& variables);

// Reads NAME=VALUE (`ordodesk run --set`): false when there is no '=' or the
// name is empty. The value may be empty and may hold further '='.
bool SplitAssignment(const std::string& text, std::string& name, std::string& value);
