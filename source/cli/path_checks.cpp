#include "path_checks.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

namespace kestro::cli {

namespace {

namespace fs = std::filesystem;

// File names longer than this are refused by every file system Linux commonly mounts.
constexpr long kUsualNameMax = 255;

std::string specialKind(mode_t mode)
{
    if (S_ISFIFO(mode))
        return "a FIFO (named pipe)";
    if (S_ISSOCK(mode))
        return "a socket";
    if (S_ISCHR(mode))
        return "a character device";
    if (S_ISBLK(mode))
        return "a block device";
    return "not a regular file";
}

PathInfo fromStat(const struct stat& st)
{
    PathInfo info;
    if (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) {
        info.kind = S_ISREG(st.st_mode) ? PathKind::File : PathKind::Folder;
    } else {
        info.kind = PathKind::Special;
        info.what = specialKind(st.st_mode);
    }
    return info;
}

PathInfo failed(int error)
{
    PathInfo info;
    info.kind = error == ENOENT ? PathKind::Missing : PathKind::Unreachable;
    info.what = lookupFailure(error);
    return info;
}

} // namespace

std::string lookupFailure(int error)
{
    switch (error) {
    case ENOENT: return "it does not exist";
    case ELOOP: return "its symbolic links go round in a loop";
    case ENAMETOOLONG: return "the name is too long";
    case ENOTDIR: return "a part of the path is a file, not a folder";
    case EACCES: return "permission to look into a folder of the path was refused";
    case EIO: return "the disk reported an input/output error";
    // The look-ups run on one thread, but strerror's buffer is not to be relied on.
    default: return std::system_category().message(error);
    }
}

PathInfo lookAt(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0)
        return fromStat(st);
    const int error = errno;
    PathInfo info = failed(error);
    // A link whose target is gone reads as missing; saying where it leads tells the user which.
    struct stat link {};
    if (error == ENOENT && ::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        std::error_code ec;
        const fs::path target = fs::read_symlink(path, ec);
        info.what = ec ? "it is a symbolic link that leads nowhere"
                       : "it is a symbolic link to " + target.string() + ", which does not exist";
    }
    return info;
}

PathInfo lookAtName(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return failed(errno);
    // The exports write a new file and rename it onto the name, which replaces a link there and
    // leaves whatever it leads to alone: the link is just a name in the way.
    if (S_ISLNK(st.st_mode))
        return PathInfo{PathKind::File, {}};
    return fromStat(st);
}

std::string captureProblem(const std::string& path)
{
    const PathInfo info = lookAt(path);
    switch (info.kind) {
    case PathKind::File: return {};
    case PathKind::Folder: return "it is a folder, not a capture file";
    case PathKind::Special: return "it is " + info.what + ", not a capture file";
    case PathKind::Missing:
    case PathKind::Unreachable: return info.what;
    }
    return {};
}

std::string nameTooLong(const std::string& path)
{
    const fs::path p(path);
    const std::string name = p.filename().string();
    // The limit is the file system's where the folder is; a folder still to be made will be on the
    // file system of the nearest one that exists.
    fs::path folder = p.parent_path().empty() ? fs::path(".") : p.parent_path();
    long limit = -1;
    for (int depth = 0; depth < 64 && limit < 0; ++depth) {
        errno = 0;
        limit = ::pathconf(folder.c_str(), _PC_NAME_MAX);
        if (limit >= 0 || !folder.has_parent_path() || folder.parent_path() == folder)
            break;
        folder = folder.parent_path();
    }
    if (limit <= 0)
        limit = kUsualNameMax;
    return static_cast<long>(name.size()) > limit ? name : std::string();
}

std::string pathKey(const std::string& path)
{
    std::error_code ec;
    fs::path key = fs::weakly_canonical(path, ec);
    if (ec) {
        // A name too long or a loop of links: the path as written, made absolute, is a fair key.
        key = fs::absolute(path, ec).lexically_normal();
        if (ec)
            key = fs::path(path).lexically_normal();
    }
    return key.string();
}

} // namespace kestro::cli
