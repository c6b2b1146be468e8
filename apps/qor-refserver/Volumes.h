#pragma once

#include "ServerTree.h"

#include <string>
#include <vector>

// The folders a server reads images from and writes results into: its own
// tree and the volumes named in Data/volumes.txt (one full path a line, "##"
// comments), which init writes from its --volume folders, by default the
// folder that holds the root. A tree without the file has that default.
// Nothing a ticket names outside them is read, written or deleted.

// The name of the volume list in the Data folder.
inline constexpr const char* kVolumesFile = "volumes.txt";

// The text init writes: the folders given, or the one that holds the root.
std::string VolumesText(const std::string& root, const std::vector<std::string>& volumes);

// The volumes of a tree with its root, each resolved (symbolic links
// followed); ones that do not resolve are left out.
std::vector<std::string> ReadVolumes(const ServerFolders& folders);

// Whether a ticket may use path: a full path without "." or ".." parts whose
// folder resolves inside one of the volumes; the file itself must not be a
// symbolic link, and for input must be a regular file (no device, pipe or
// folder). resolved receives the path through the resolved folder. False
// with a reason a person can act on.
bool CheckTicketPath(const std::vector<std::string>& volumes, const std::string& path, bool input,
                     std::string& resolved, std::string& error);

// A ticket's path opened once CheckTicketPath passed it, so that the job
// reaches what was checked and nothing else: a folder swapped for a symbolic
// link afterwards leads nowhere new. For input the file itself is opened and
// read through Path() (/dev/fd/N, which Ghostscript inherits as it is); for
// output, and for deleting a source, its folder, whose entries are At(name).
// Where the process's descriptors cannot be named (no /proc), the checked
// path itself is used.
class TicketPath {
public:
    TicketPath() = default;
    ~TicketPath();
    TicketPath(const TicketPath&) = delete;
    TicketPath& operator=(const TicketPath&) = delete;

    // False with a reason, as CheckTicketPath, or when what was opened lies
    // elsewhere than what was checked.
    bool Open(const std::vector<std::string>& volumes, const std::string& path, bool input,
              std::string& error);
    const std::string& Path() const { return io; }
    std::string At(const std::string& name) const { return io + "/" + name; }
    int Descriptor() const { return fd; }

private:
    int fd = -1;
    std::string io;
};
