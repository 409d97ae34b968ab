#include "write_all.h"

#include <algorithm>
#include <cerrno>
#include <optional>

#include <unistd.h>

namespace kestro::fileio {

namespace {

// Large blocks go to the kernel in pieces of this size: one write of a whole 6 MB frame makes
// ext4 fill the page cache with large folios, which cost several times more than small pieces
// on the virtual machines measured (docs/PERFORMANCE.md, "The disk").
constexpr std::size_t kWritePiece = 64 * 1024;

WriteResult writeLoop(int fd, std::optional<std::uint64_t> offset, const void* data, std::size_t n)
{
    WriteResult result;
    const auto* p = static_cast<const char*>(data);
    while (result.written < n) {
        const std::size_t piece = std::min(n - result.written, kWritePiece);
        const ssize_t put = offset
                                ? ::pwrite(fd, p + result.written, piece, static_cast<off_t>(*offset + result.written))
                                : ::write(fd, p + result.written, piece);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            result.error = put < 0 ? errno : EIO;
            break;
        }
        result.written += static_cast<std::size_t>(put);
    }
    return result;
}

} // namespace

WriteResult writeAll(int fd, const void* data, std::size_t n) { return writeLoop(fd, std::nullopt, data, n); }

WriteResult writeAllAt(int fd, std::uint64_t offset, const void* data, std::size_t n)
{
    return writeLoop(fd, offset, data, n);
}

} // namespace kestro::fileio
