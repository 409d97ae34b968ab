// Reading a file at explicit 64-bit offsets, so that several readers of one capture (the display,
// an export, the frame scorer) never disturb each other and no read depends on an earlier one.
// Every capture reader opens its file through this class, so that a FIFO, a folder or a device
// named as a capture is refused in the same words whatever the format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestro::fileio {

class InputFile {
public:
    InputFile() = default;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile();

    // False when the path cannot be opened for reading or is not a regular file; *why then
    // says which, in words ("no such file", "it is a named pipe (FIFO), not a file", ...).
    bool open(const std::string& path, std::string* why = nullptr);
    std::uint64_t size() const { return m_size; }

    // Reads exactly n bytes at offset. False on any shortfall, with the reason in *why.
    bool readAt(std::uint64_t offset, void* buffer, std::size_t n, std::string* why = nullptr) const;
    // Reads exactly n bytes at offset into rows of rowBytes, row k to firstRow + k * stride (the
    // stride may be negative, for a bottom-up bitmap; the last row may be short), with as few
    // system calls as the rows allow.
    bool readRowsAt(std::uint64_t offset, std::size_t rowBytes, std::size_t n, std::uint8_t* firstRow,
                    std::ptrdiff_t stride, std::string* why = nullptr) const;

private:
    int m_fd = -1;
    std::uint64_t m_size = 0;
};

} // namespace kestro::fileio
