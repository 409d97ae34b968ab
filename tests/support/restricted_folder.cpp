#include "restricted_folder.h"

#include <cerrno>
#include <cstring>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestro::test {

RestrictedFolder::RestrictedFolder(Kind kind, const std::filesystem::path& parent, std::size_t bytes)
    : m_kind(kind), m_path(parent / (kind == Kind::ReadOnly ? "read-only" : "full"))
{
    std::filesystem::create_directories(m_path);
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0777";
    if (::mount("tmpfs", m_path.c_str(), "tmpfs", 0, options.c_str()) == 0) {
        m_mounted = true;
        return;
    }
    const std::string error = std::strerror(errno);
    if (kind == Kind::Full)
        m_whyNot = "cannot mount a small tmpfs here (" + error + "), so no disk can be filled";
    else if (::geteuid() == 0)
        m_whyNot = "running as root without the right to mount (" + error + "), so no folder is read-only";
}

RestrictedFolder::~RestrictedFolder()
{
    if (m_mounted)
        ::umount2(m_path.c_str(), MNT_DETACH);
    else
        ::chmod(m_path.c_str(), 0755);
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

void RestrictedFolder::seal()
{
    if (m_kind != Kind::ReadOnly)
        return;
    if (m_mounted)
        ::mount("tmpfs", m_path.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr);
    else
        ::chmod(m_path.c_str(), 0555);
}

} // namespace kestro::test
