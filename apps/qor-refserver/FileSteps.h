#pragma once

#include <string>

// The file steps that make what the server stores survive a crash. Results
// are 0 or the system's error number.

// Forces a file's bytes to disk.
int SyncFile(const std::string& path);

// Forces a folder's entries (a rename into it, say) to disk.
int SyncFolder(const std::string& folder);

// The hidden name a file is written under before it is moved onto name:
// ".<name>.<tag>.part". A server's tag holds its id, so that servers writing
// into one folder keep apart.
std::string HiddenName(const std::string& name, const std::string& tag);

// True for a file name that HiddenName gives with this tag, or, with
// anyProcess, with this tag, a point and a process number.
bool IsHiddenName(const std::string& fileName, const std::string& tag, bool anyProcess = false);

// Writes text into folder/name so that the file is either there whole or not
// changed: under HiddenName(name, tag) first (several writers may share the
// folder), forced to disk, renamed over name, then the folder is forced to
// disk. A hidden file of that name left by a run that was killed is written
// over; the hidden file is removed on failure.
int PublishFile(const std::string& folder, const std::string& name, const std::string& text,
                const std::string& tag);

// Moves a file to a name that must not exist, in one step: EEXIST when the
// name is taken, even by a file that appeared a moment ago. Where the file
// system has no hard links the move is a rename after a look at the name.
int MoveWithoutReplacing(const std::string& from, const std::string& to);

// Renames a file to a name that must not exist, in one step: EEXIST when the
// name is taken, ENOENT when the file is gone (another took it). Where the
// file system cannot refuse to replace, the rename follows a look at the name.
int RenameWithoutReplacing(const std::string& from, const std::string& to);
