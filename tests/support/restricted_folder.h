// A folder that refuses what an export writes into it, for tests of how writers fail.
//
// Tests run as root here, and root writes through a chmod 0555 folder. So, as root, the folder is
// a small tmpfs mounted for the test alone: remounted read-only, or filled to the last byte. Without
// root a read-only folder is an ordinary folder with its write permission taken away, and a full
// folder is not available.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>

namespace kestro::test {

class RestrictedFolder {
public:
    enum class Kind {
        ReadOnly, // nothing can be created, replaced or removed in it
        Full,     // empty files can be created, but no more than `room` bytes written in all
    };
    using Fill = std::function<void(const std::filesystem::path& folder)>;

    // fill, when given, puts files into the folder before it is restricted, such as an earlier
    // export that a failed one must leave alone. A Full folder keeps about `room` bytes free, so
    // that a writer can get some way before the disk fills up.
    explicit RestrictedFolder(Kind kind, const Fill& fill = {}, std::size_t room = 0);
    ~RestrictedFolder();
    RestrictedFolder(const RestrictedFolder&) = delete;
    RestrictedFolder& operator=(const RestrictedFolder&) = delete;

    // False when this machine cannot make such a folder; reason() then says why, for GTEST_SKIP.
    bool available() const { return m_reason.empty(); }
    const std::string& reason() const { return m_reason; }

    const std::filesystem::path& path() const { return m_path; }
    std::string file(const std::string& name) const { return (m_path / name).string(); }

private:
    void restrictAsRoot(Kind kind, const Fill& fill, std::size_t room);

    std::filesystem::path m_root; // the mount point when mounted
    std::filesystem::path m_path; // the folder handed to the test, inside m_root
    std::string m_reason;
    bool m_mounted = false;
    bool m_chmodded = false;
};

} // namespace kestro::test
