#include "staged_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace kestro::fileio {

namespace {

// Leaves room in a 255-byte file name for the dot before and the ".XXXXXXXX.part" after the
// target's name.
constexpr std::size_t kMaxStem = 200;
constexpr int kAttempts = 100;
constexpr std::string_view kSuffix = ".part";
constexpr std::size_t kHexDigits = 8;
// The name taken when even a shortened one is too long for the folder's path.
constexpr std::string_view kFallbackStem = "kestro-export";

// At most kMaxStem bytes of the name, cut before a character rather than inside one, so that the
// name a message shows is still valid UTF-8.
std::string stemOf(const std::string& name)
{
    std::size_t end = std::min(name.size(), kMaxStem);
    while (end < name.size() && end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80)
        --end;
    return name.substr(0, end);
}

void tell(int* osError, int error)
{
    if (osError)
        *osError = error;
}

} // namespace

bool isTemporaryName(std::string_view name)
{
    constexpr std::size_t kTail = 1 + kHexDigits + kSuffix.size();
    if (name.size() < 1 + 1 + kTail || name.front() != '.' || !name.ends_with(kSuffix))
        return false;
    const std::size_t dot = name.size() - kTail;
    const std::string_view digits = name.substr(dot + 1, kHexDigits);
    return name[dot] == '.' &&
           std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isxdigit(c) != 0; });
}

StagedFile::StagedFile(std::string target) : m_target(std::move(target)) {}

StagedFile::~StagedFile()
{
    if (m_owned && !m_committed)
        ::unlink(m_temp.c_str());
}

bool StagedFile::create(int* osError)
{
    const std::filesystem::path target(m_target);
    std::string stem = stemOf(target.filename().string());
    std::mt19937 rng(std::random_device{}());
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        char digits[16];
        std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(rng()));
        const std::string candidate =
            (target.parent_path() / ("." + stem + "." + digits + std::string(kSuffix))).string();
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            m_temp = candidate;
            m_owned = true;
            return true;
        }
        // A folder's path near the system's limit leaves no room for the name's decoration.
        if (errno == ENAMETOOLONG && stem != kFallbackStem) {
            stem = kFallbackStem;
            continue;
        }
        if (errno != EEXIST) {
            tell(osError, errno);
            return false;
        }
    }
    tell(osError, EEXIST);
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
        tell(osError, errno);
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
    tell(osError, error);
    return false;
}

std::int64_t StagedFile::size(int* osError) const
{
    struct stat st {};
    if (::stat(m_temp.c_str(), &st) != 0) {
        tell(osError, errno);
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
    if (m_committed)
        return true;
    if (m_temp.empty()) {
        tell(osError, ENOENT);
        return false;
    }
    if (std::rename(m_temp.c_str(), m_target.c_str()) != 0) {
        tell(osError, errno);
        return false;
    }
    m_committed = true;
    m_owned = false;
    return true;
}

} // namespace kestro::fileio
