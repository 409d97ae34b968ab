// The loop every writer needs around write(2): a call may write less than it was given, or be
// interrupted by a signal before it wrote anything, and neither is a failure.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestro::fileio {

// How far a write got: every byte when error is 0; otherwise the bytes that reached the file
// before the system refused the next ones, and its reason (EIO for a write that wrote nothing).
struct WriteResult {
    std::size_t written = 0;
    int error = 0;
};

// Writes all n bytes at the file's position, retrying after signals.
WriteResult writeAll(int fd, const void* data, std::size_t n);
// The same at offset, leaving the file's position where it was.
WriteResult writeAllAt(int fd, std::uint64_t offset, const void* data, std::size_t n);

} // namespace kestro::fileio
