// The paths a user types, looked at before anything opens them: what each names (a file, a folder,
// a FIFO, a device) or why it cannot be reached, in words. Nothing here opens a file, so a FIFO or
// a device never blocks the command line, and nothing here throws.
#pragma once

#include <string>

namespace kestro::cli {

enum class PathKind {
    Missing,     // nothing of that name (yet)
    File,        // a regular file, or a link to one
    Folder,      // a folder, or a link to one
    Special,     // a FIFO, socket or device: never opened, never replaced
    Unreachable, // the name cannot be looked up: a loop of links, too long, a file used as a folder...
};

struct PathInfo {
    PathKind kind = PathKind::Missing;
    // Special: what it is ("a FIFO (named pipe)"); Missing and Unreachable: why, in words ("it does
    // not exist", "its symbolic links go round in a loop").
    std::string what;
};

// What the path names, following links.
PathInfo lookAt(const std::string& path);

// What the name itself is, not following a link at its end: a link of that name, wherever it leads,
// is a File to be replaced, as renaming a new file onto it replaces the link alone.
PathInfo lookAtName(const std::string& path);

// Why a look-up of a path failed, from its errno, in words ("the name is too long").
std::string lookupFailure(int error);

// Why a capture cannot be read, judged without opening it; empty when it is a file.
std::string captureProblem(const std::string& path);

// The file name of the path when it is longer than the file system of its folder takes (255 bytes
// on the usual ones); empty otherwise. The folder need not exist yet.
std::string nameTooLong(const std::string& path);

// One spelling of the file a path names, for telling whether two outputs are one file: the
// canonical path of the part that exists, followed by the rest.
std::string pathKey(const std::string& path);

} // namespace kestro::cli
