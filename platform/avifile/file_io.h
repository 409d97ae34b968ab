// The AVI writer's output file: plain POSIX writes with 64-bit offsets, small header writes
// buffered, and the first error kept until the file is completed. (Reading goes through
// platform/fileio's InputFile, which every capture reader shares.)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestro::avi {

class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    // Creates the file, or empties an existing one. False (with errno kept in error()) on failure.
    bool create(const std::string& path);
    bool isOpen() const { return m_fd >= 0; }

    // Appends at the end. Large blocks bypass the buffer.
    void write(const void* data, std::size_t n);
    void writeZeros(std::size_t n);
    // Overwrites bytes already written (flushes first).
    void writeAt(std::uint64_t offset, const void* data, std::size_t n);
    std::uint64_t position() const { return m_position; }

    // Flushes and closes; false if any write failed at any time.
    bool close();
    bool failed() const { return m_error != 0; }
    int error() const { return m_error; }
    // Where the first failed write began: the first byte of the file that did not reach the disk,
    // which may belong to an earlier block than the write that reported the failure, since
    // small writes wait in the buffer. UINT64_MAX while nothing failed.
    std::uint64_t errorOffset() const { return m_errorOffset; }

private:
    void flush();
    // Appends n bytes at m_diskEnd.
    void writeAll(const void* data, std::size_t n);
    void fail(int error, std::uint64_t offset);

    int m_fd = -1;
    int m_error = 0;
    std::uint64_t m_position = 0;
    std::uint64_t m_diskEnd = 0; // bytes appended to the file itself, past the buffer
    std::uint64_t m_errorOffset = UINT64_MAX;
    std::vector<std::uint8_t> m_buffer;
};

} // namespace kestro::avi
