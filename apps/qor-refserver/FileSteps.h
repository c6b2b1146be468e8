#pragma once

#include <string>

// The file steps that make what the server stores survive a crash. Results
// are 0 or the system's error number.

// Forces a file's bytes to disk.
int SyncFile(const std::string& path);

// Forces a folder's entries (a rename into it, say) to disk.
int SyncFolder(const std::string& folder);

// Writes text into folder/name so that the file is either there whole or not
// changed: under a hidden name holding tag first (several writers may share
// the folder), forced to disk, renamed over name, then the folder is forced to
// disk. The hidden file is removed on failure.
int PublishFile(const std::string& folder, const std::string& name, const std::string& text,
                const std::string& tag);

// Moves a file to a name that must not exist, in one step: EEXIST when the
// name is taken, even by a file that appeared a moment ago. Where the file
// system has no hard links the move is a rename after a look at the name.
int MoveWithoutReplacing(const std::string& from, const std::string& to);
