#include "file_io.h"

#include "write_all.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestro::avi {

namespace {
constexpr std::size_t kBufferSize = 1 << 20;
} // namespace

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
