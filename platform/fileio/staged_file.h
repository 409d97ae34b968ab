// A file written under a hidden temporary name beside its target and renamed over the target only
// once it is complete. An export that fails or is interrupted then leaves no half-written file,
// and an earlier file of the target's name stays as it was. Renaming within one folder is atomic,
// so a reader sees either the old file or the whole new one.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestro::fileio {

// Whether a file name is that of a staged file's temporary file: "." + name + "." + eight
// hexadecimal digits + ".part". A folder that holds one after every export ended holds the
// remains of one that was killed.
bool isTemporaryName(std::string_view name);

class StagedFile {
public:
    explicit StagedFile(std::string target);
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;
    // Removes the temporary file unless commit() put it in place.
    ~StagedFile();

    // Claims a fresh hidden name ".<target's name>.XXXXXXXX.part" in the target's folder by
    // creating the file empty with O_EXCL, so that two writers into one folder never share one;
    // mode 0666 leaves the permissions to the umask, as for any new file, since the target is
    // replaced with this very file. False, with the operating system's reason in *osError, when
    // the folder refuses it (missing, read-only, full).
    bool create(int* osError);
    // Removes the claimed file but keeps its name, for a writer that insists on creating the file
    // itself. The name stays practically unique: it is random and was free a moment ago. Until
    // reclaim() says the writer created it, whatever has the name is not ours to remove.
    void yield();
    void reclaim() { m_owned = true; }

    const std::string& target() const { return m_target; }
    const std::string& tempPath() const { return m_temp; }

    // Sets aside room for `bytes` in the temporary file before it is written, without changing its
    // size, so that a full disk is reported before anything is written, with the operating system's
    // reason. A file system that cannot set room aside is no failure: comparing size() with what
    // was written still catches a short file there.
    bool makeRoom(std::uint64_t bytes, int* osError);
    // The temporary file's size on disk, or -1 with the reason in *osError.
    std::int64_t size(int* osError) const;
    // Whether the folder has fewer than `bytes` bytes left for an ordinary user.
    bool folderShortOf(std::uint64_t bytes) const;

    // Renames the written temporary file over the target; true again once it has. False with the
    // reason in *osError.
    bool commit(int* osError);

private:
    std::string m_target;
    std::string m_temp;
    bool m_owned = false;
    bool m_committed = false;
};

} // namespace kestro::fileio
