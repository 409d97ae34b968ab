#include "staged_file.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <random>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace kestro::kxfits {

namespace {

// Leaves room in a 255-byte file name for the dot before and the ".XXXXXXXX.part" after the
// target's name.
constexpr std::size_t kMaxStem = 200;
constexpr int kAttempts = 100;

// Eight hexadecimal digits and ".part", as every export names its temporary files, so that a
// later export can tell the user of those a killed one left behind.
std::string randomSuffix(std::mt19937& rng)
{
    char s[16];
    std::snprintf(s, sizeof s, "%08x.part", static_cast<unsigned>(rng()));
    return s;
}

} // namespace

StagedFile::StagedFile(std::string target) : m_target(std::move(target)) {}

StagedFile::~StagedFile()
{
    if (m_owned)
        ::unlink(m_temp.c_str());
}

bool StagedFile::reserve(int* osError)
{
    const std::filesystem::path target(m_target);
    const std::string stem = target.filename().string().substr(0, kMaxStem);
    std::mt19937 rng(std::random_device{}());
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const std::string candidate = (target.parent_path() / ("." + stem + "." + randomSuffix(rng))).string();
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            m_temp = candidate;
            m_owned = true;
            return true;
        }
        if (errno != EEXIST) {
            *osError = errno;
            return false;
        }
    }
    *osError = EEXIST;
    return false;
}

void StagedFile::yield()
{
    if (m_owned)
        ::unlink(m_temp.c_str());
    m_owned = false;
}

bool StagedFile::makeRoom(std::uint64_t bytes, int* osError)
{
    const int fd = ::open(m_temp.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        *osError = errno;
        return false;
    }
    int result;
    do
        result = ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(bytes));
    while (result != 0 && errno == EINTR);
    const int error = result == 0 ? 0 : errno;
    ::close(fd);
    if (error == 0 || error == EOPNOTSUPP || error == ENOSYS)
        return true;
    *osError = error;
    return false;
}

std::int64_t StagedFile::size(int* osError) const
{
    struct stat st {};
    if (::stat(m_temp.c_str(), &st) != 0) {
        *osError = errno;
        return -1;
    }
    return st.st_size;
}

bool StagedFile::folderShortOf(std::uint64_t bytes) const
{
    const std::filesystem::path folder = std::filesystem::path(m_temp).parent_path();
    struct statvfs vfs {};
    if (::statvfs(folder.empty() ? "." : folder.c_str(), &vfs) != 0)
        return false;
    return static_cast<std::uint64_t>(vfs.f_bavail) * vfs.f_frsize < bytes;
}

bool StagedFile::commit(int* osError)
{
    if (std::rename(m_temp.c_str(), m_target.c_str()) != 0) {
        *osError = errno;
        return false;
    }
    m_owned = false;
    return true;
}

} // namespace kestro::kxfits
