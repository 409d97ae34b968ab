// Folders that refuse writes the way real disks do, for the tests of every writer: a read-only
// folder, and a folder on a tiny file system that fills up. Tests run as root on our machines,
// where a chmod stops nobody, so both are small tmpfs mounts when the process may mount; a
// non-root run gets a chmod 0555 folder for the read-only case, and skips the full one.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

namespace kestro::test {

class RestrictedFolder {
public:
    enum class Kind { ReadOnly, Full };

    // The folder is made inside parent and is writable until seal(); a Full folder holds about
    // `bytes` in all.
    RestrictedFolder(Kind kind, const std::filesystem::path& parent, std::size_t bytes = 256 * 1024);
    ~RestrictedFolder();
    RestrictedFolder(const RestrictedFolder&) = delete;
    RestrictedFolder& operator=(const RestrictedFolder&) = delete;

    // False when this machine cannot make such a folder; whyNot() then says why (for GTEST_SKIP).
    bool available() const { return m_whyNot.empty(); }
    const std::string& whyNot() const { return m_whyNot; }
    const std::filesystem::path& path() const { return m_path; }
    std::string file(const std::string& name) const { return (m_path / name).string(); }

    // From now on the folder refuses writes (ReadOnly); a Full folder is full from the start.
    void seal();

private:
    Kind m_kind;
    std::filesystem::path m_path;
    std::string m_whyNot;
    bool m_mounted = false;
};

} // namespace kestro::test
