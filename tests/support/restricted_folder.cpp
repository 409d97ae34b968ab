#include "restricted_folder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kestro::test {

namespace {

// Room for what a fill callback puts in before the folder is restricted, besides the room asked.
constexpr std::size_t kFillRoom = 1 << 20;

std::string errorText(const std::string& what) { return what + ": " + std::strerror(errno); }

// Writes zeros until the file system has no block left, then gives `room` bytes back.
bool fillToTheBrim(const std::filesystem::path& file, std::size_t room)
{
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const std::vector<char> zeros(4096, 0);
    ssize_t put;
    do
        put = ::write(fd, zeros.data(), zeros.size());
    while (put > 0 || (put < 0 && errno == EINTR));
    bool full = errno == ENOSPC;
    if (full && room > 0) {
        struct stat st {};
        full = ::fstat(fd, &st) == 0 && static_cast<std::size_t>(st.st_size) >= room &&
               ::ftruncate(fd, st.st_size - static_cast<off_t>(room)) == 0;
    }
    ::close(fd);
    return full;
}

} // namespace

RestrictedFolder::RestrictedFolder(Kind kind, const Fill& fill, std::size_t room)
{
    std::string pattern = (std::filesystem::temp_directory_path() / "kestro-restricted-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        m_reason = errorText("cannot make a folder in " + std::filesystem::temp_directory_path().string());
        return;
    }
    m_root = pattern;
    m_path = m_root / "folder";

    if (::geteuid() == 0) {
        restrictAsRoot(kind, fill, room);
        return;
    }
    if (kind == Kind::Full) {
        m_reason = "a full folder needs a small file system of its own, and only root may mount one";
        return;
    }
    std::filesystem::create_directory(m_path);
    if (fill)
        fill(m_path);
    if (::chmod(m_path.c_str(), 0555) != 0) {
        m_reason = errorText("cannot take the write permission from " + m_path.string());
        return;
    }
    m_chmodded = true;
}

void RestrictedFolder::restrictAsRoot(Kind kind, const Fill& fill, std::size_t room)
{
    const std::string options = "size=" + std::to_string(kFillRoom + room) + ",mode=0755";
    if (::mount("tmpfs", m_root.c_str(), "tmpfs", 0, options.c_str()) != 0) {
        m_reason = errorText("cannot mount a small tmpfs on " + m_root.string());
        return;
    }
    m_mounted = true;
    std::filesystem::create_directory(m_path);
    if (fill)
        fill(m_path);
    if (kind == Kind::ReadOnly) {
        if (::mount(nullptr, m_root.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, options.c_str()) != 0)
            m_reason = errorText("cannot remount " + m_root.string() + " read-only");
    } else if (!fillToTheBrim(m_root / ".filler", room)) {
        m_reason = errorText("cannot fill the tmpfs on " + m_root.string());
    }
}

RestrictedFolder::~RestrictedFolder()
{
    if (m_mounted && ::umount2(m_root.c_str(), 0) != 0)
        ::umount2(m_root.c_str(), MNT_DETACH); // a test left a file open in it
    if (m_chmodded)
        ::chmod(m_path.c_str(), 0755);
    if (!m_root.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(m_root, ec);
    }
}

} // namespace kestro::test
