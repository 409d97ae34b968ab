#include "input_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace kestro::fileio {

namespace {

std::string openFailure(int error)
{
    switch (error) {
    case ENOENT: return "no such file";
    case EACCES:
    case EPERM: return "permission denied";
    case EISDIR: return "it is a folder";
    case ENAMETOOLONG: return "the name is too long";
    case ENOTDIR: return "a part of the path is not a folder";
    case ELOOP: return "too many symbolic links";
    default: return std::strerror(error);
    }
}

std::string kindProblem(const struct stat& st)
{
    if (S_ISDIR(st.st_mode))
        return openFailure(EISDIR);
    if (S_ISFIFO(st.st_mode))
        return "it is a named pipe (FIFO), not a file";
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
        return "it is a device, not a file";
    if (S_ISSOCK(st.st_mode))
        return "it is a socket, not a file";
    return "it is not a regular file";
}

void say(std::string* why, std::string text)
{
    if (why)
        *why = std::move(text);
}

// The reason for a read that returned less than asked: the file shrank after it was opened,
// or the system said why.
std::string readFailure(long long got)
{
    return got < 0 ? std::string(std::strerror(errno)) : "the file is shorter than when it was opened";
}

} // namespace

InputFile::~InputFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool InputFile::open(const std::string& path, std::string* why)
{
    // Without O_NONBLOCK, opening a named pipe waits until something writes into it: a capture
    // named like one must be refused, not hang the program. Reads of a regular file never block
    // either way.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        say(why, openFailure(errno));
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        say(why, std::strerror(errno));
        ::close(fd);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        say(why, kindProblem(st));
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

bool InputFile::readAt(std::uint64_t offset, void* buffer, std::size_t n, std::string* why) const
{
    if (m_fd < 0 || offset > m_size || n > m_size - offset) {
        say(why, "the read reaches past the end of the file");
        return false;
    }
    auto* p = static_cast<char*>(buffer);
    while (n > 0) {
        const ssize_t got = ::pread(m_fd, p, n, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            say(why, readFailure(got));
            return false;
        }
        p += got;
        n -= static_cast<std::size_t>(got);
        offset += static_cast<std::uint64_t>(got);
    }
    return true;
}

bool InputFile::readRowsAt(std::uint64_t offset, std::size_t rowBytes, std::size_t n, std::uint8_t* firstRow,
                           std::ptrdiff_t stride, std::string* why) const
{
    if (rowBytes == 0 || n == 0 || stride == static_cast<std::ptrdiff_t>(rowBytes))
        return readAt(offset, firstRow, n, why);
    if (m_fd < 0 || offset > m_size || n > m_size - offset) {
        say(why, "the read reaches past the end of the file");
        return false;
    }
    // One preadv per batch of rows: the kernel puts each row in its place, so a caller's stride
    // (turning a plane upside down, say) costs no pass of its own.
    constexpr std::size_t kRowsPerCall = 1024;
    iovec vec[kRowsPerCall];
    const std::size_t rows = (n + rowBytes - 1) / rowBytes;
    for (std::size_t row = 0; row < rows;) {
        const std::size_t count = std::min(kRowsPerCall, rows - row);
        std::size_t bytes = 0;
        for (std::size_t k = 0; k < count; ++k) {
            vec[k].iov_base = firstRow + static_cast<std::ptrdiff_t>(row + k) * stride;
            vec[k].iov_len = std::min(rowBytes, n - (row + k) * rowBytes);
            bytes += vec[k].iov_len;
        }
        const std::uint64_t at = offset + row * rowBytes;
        ssize_t got;
        do
            got = ::preadv(m_fd, vec, static_cast<int>(count), static_cast<off_t>(at));
        while (got < 0 && errno == EINTR);
        if (got < 0) {
            say(why, readFailure(got));
            return false;
        }
        if (static_cast<std::size_t>(got) != bytes) {
            // A short read (a signal, a network file): the rest of these rows one by one.
            std::size_t done = static_cast<std::size_t>(got);
            for (std::size_t k = 0; k < count; ++k) {
                const std::size_t have = std::min(done, vec[k].iov_len);
                done -= have;
                if (have < vec[k].iov_len &&
                    !readAt(at + k * rowBytes + have, static_cast<std::uint8_t*>(vec[k].iov_base) + have,
                            vec[k].iov_len - have, why))
                    return false;
            }
        }
        row += count;
    }
    return true;
}

} // namespace kestro::fileio
