#include "staged_file.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <random>

#include <fcntl.h>
#include <unistd.h>

CStagedFile::CStagedFile(std::string strTarget) : m_strTarget(std::move(strTarget)) {}

CStagedFile::~CStagedFile()
{
    if (!m_strTemp.empty() && !m_bCommitted)
        ::unlink(m_strTemp.c_str());
}

bool CStagedFile::Create(int* pError)
{
    const std::filesystem::path target(m_strTarget);
    const std::string folder = target.parent_path().string();
    std::string name = target.filename().string();
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".%08x", static_cast<unsigned>(random()));
        std::string temp = (folder.empty() ? std::string() : folder + "/") + "." + name + suffix + ".part";
        // Mode 0666 through the umask, as any new file gets: the export replaces the target with
        // this very file, so it must not end up readable by its owner alone.
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            m_strTemp = std::move(temp);
            return true;
        }
        // A target name near the file system's limit leaves no room for the decoration.
        if (errno == ENAMETOOLONG && name != "kestro-export") {
            name = "kestro-export";
            continue;
        }
        if (errno != EEXIST) {
            if (pError)
                *pError = errno;
            return false;
        }
    }
    if (pError)
        *pError = EEXIST;
    return false;
}

bool CStagedFile::Commit(int* pError)
{
    if (m_strTemp.empty() || m_bCommitted)
        return m_bCommitted;
    if (::rename(m_strTemp.c_str(), m_strTarget.c_str()) != 0) {
        if (pError)
            *pError = errno;
        return false;
    }
    m_bCommitted = true;
    return true;
}
