#include "file_io.h"

#include "write_all.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace kestro::avi {

namespace {
constexpr std::size_t kBufferSize = 1 << 20;

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
} // namespace

InputFile::~InputFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool InputFile::open(const std::string& path, std::string* pWhy)
{
    // Without O_NONBLOCK, opening a named pipe waits until something writes into it: a capture
    // named like one must be refused, not hang the program. Reads of a regular file never block
    // either way.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (pWhy)
            *pWhy = openFailure(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (pWhy)
            *pWhy = S_ISDIR(st.st_mode)                          ? openFailure(EISDIR)
                    : S_ISFIFO(st.st_mode)                       ? "it is a named pipe (FIFO), not a file"
                    : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? "it is a device, not a file"
                    : S_ISSOCK(st.st_mode)                       ? "it is a socket, not a file"
                                                                 : "it is not a regular file";
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

bool InputFile::readAt(std::uint64_t offset, void* buffer, std::size_t n) const
{
    if (m_fd < 0 || offset > m_size || n > m_size - offset)
        return false;
    auto* p = static_cast<char*>(buffer);
    while (n > 0) {
        const ssize_t got = ::pread(m_fd, p, n, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        p += got;
        n -= static_cast<std::size_t>(got);
        offset += static_cast<std::uint64_t>(got);
    }
    return true;
}

bool InputFile::readRowsAt(std::uint64_t offset, std::size_t rowBytes, std::size_t n, std::uint8_t* firstRow,
                           std::int64_t stride) const
{
    if (rowBytes == 0 || n == 0 || stride == static_cast<std::int64_t>(rowBytes))
        return readAt(offset, firstRow, n);
    if (m_fd < 0 || offset > m_size || n > m_size - offset)
        return false;
    // One preadv per IOV_MAX rows: the kernel copies each row to its place, so turning a plane
    // upside down costs no pass of its own.
    constexpr std::size_t kRowsPerCall = 1024;
    iovec rows[kRowsPerCall];
    std::size_t row = 0;
    const std::size_t total = (n + rowBytes - 1) / rowBytes;
    while (row < total) {
        const std::size_t count = std::min(kRowsPerCall, total - row);
        std::size_t bytes = 0;
        for (std::size_t k = 0; k < count; ++k) {
            const std::size_t r = row + k;
            rows[k].iov_base = firstRow + static_cast<std::int64_t>(r) * stride;
            rows[k].iov_len = std::min(rowBytes, n - r * rowBytes);
            bytes += rows[k].iov_len;
        }
        const std::uint64_t at = offset + row * rowBytes;
        ssize_t got;
        do
            got = ::preadv(m_fd, rows, static_cast<int>(count), static_cast<off_t>(at));
        while (got < 0 && errno == EINTR);
        if (got < 0)
            return false;
        if (static_cast<std::size_t>(got) != bytes) {
            // A short read (rare: a signal, a file on a network): the rest row by row.
            for (std::size_t k = 0; k < count; ++k) {
                const std::size_t done = std::min<std::size_t>(static_cast<std::size_t>(got), rows[k].iov_len);
                got -= static_cast<ssize_t>(done);
                if (done < rows[k].iov_len &&
                    !readAt(at + k * rowBytes + done, static_cast<std::uint8_t*>(rows[k].iov_base) + done,
                            rows[k].iov_len - done))
                    return false;
            }
        }
        row += count;
    }
    return true;
}

OutputFile::~OutputFile() { close(); }

bool OutputFile::create(const std::string& path)
{
    // No O_TRUNC: exports create their file empty just before, and ext4 takes a truncation, even
    // of an empty file, as a file rewritten in place and writes all of it back at close
    // (auto_da_alloc). Only a file that holds something is emptied.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        fail(errno, 0);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || (st.st_size != 0 && ::ftruncate(fd, 0) != 0)) {
        fail(errno, 0);
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_error = 0;
    m_position = 0;
    m_diskEnd = 0;
    m_errorOffset = UINT64_MAX;
    m_buffer.reserve(kBufferSize);
    return true;
}

void OutputFile::fail(int error, std::uint64_t offset)
{
    if (m_error == 0) {
        m_error = error;
        m_errorOffset = offset;
    }
}

void OutputFile::writeAll(const void* data, std::size_t n)
{
    if (m_error != 0)
        return;
    const fileio::WriteResult put = fileio::writeAll(m_fd, data, n);
    m_diskEnd += put.written;
    if (put.error != 0)
        fail(put.error, m_diskEnd);
}

void OutputFile::flush()
{
    if (!m_buffer.empty()) {
        writeAll(m_buffer.data(), m_buffer.size());
        m_buffer.clear();
    }
}

void OutputFile::write(const void* data, std::size_t n)
{
    if (m_fd < 0)
        return;
    m_position += n;
    if (m_buffer.size() + n <= kBufferSize) {
        const auto* p = static_cast<const std::uint8_t*>(data);
        m_buffer.insert(m_buffer.end(), p, p + n);
        return;
    }
    flush();
    writeAll(data, n);
}

void OutputFile::writeZeros(std::size_t n)
{
    static const std::uint8_t zeros[4096] = {};
    while (n > 0) {
        const std::size_t k = n < sizeof zeros ? n : sizeof zeros;
        write(zeros, k);
        n -= k;
    }
}

void OutputFile::writeAt(std::uint64_t offset, const void* data, std::size_t n)
{
    if (m_fd < 0)
        return;
    flush();
    if (m_error != 0)
        return;
    const fileio::WriteResult put = fileio::writeAllAt(m_fd, offset, data, n);
    if (put.error != 0)
        fail(put.error, offset + put.written);
}

bool OutputFile::close()
{
    if (m_fd < 0)
        return m_error == 0;
    flush();
    if (::close(m_fd) != 0)
        fail(errno, m_diskEnd);
    m_fd = -1;
    return m_error == 0;
}

} // namespace kestro::avi
