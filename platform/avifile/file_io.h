// Plain POSIX file access with 64-bit offsets. The reader reads at explicit offsets so
// that several decoders of one file never disturb each other; the writer buffers small
// header writes and keeps its first error until the file is completed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestro::avi {

class InputFile {
public:
    InputFile() = default;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile();

    // False when the path cannot be opened for reading or is not a regular file; *pWhy then
    // says which, in words ("no such file", "it is a folder", ...).
    bool open(const std::string& path, std::string* pWhy = nullptr);
    std::uint64_t size() const { return m_size; }
    // Reads exactly n bytes at offset; false on any shortfall or error.
    bool readAt(std::uint64_t offset, void* buffer, std::size_t n) const;
    // Reads exactly n bytes at offset into rows of rowBytes, row k at firstRow + k * stride (the
    // last row may be short), with as few system calls as the rows allow.
    bool readRowsAt(std::uint64_t offset, std::size_t rowBytes, std::size_t n, std::uint8_t* firstRow,
                    std::int64_t stride) const;

private:
    int m_fd = -1;
    std::uint64_t m_size = 0;
};

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
