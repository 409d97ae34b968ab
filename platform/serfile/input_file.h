// Reading at explicit 64-bit offsets, so that several readers of one capture (the display, an
// export, the frame scorer) never disturb each other and no read depends on an earlier one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestro::ser {

class InputFile {
public:
    InputFile() = default;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile();

    // False when the path cannot be opened for reading or is not a regular file; *why then
    // says which, in words ("no such file", "it is a named pipe (FIFO), not a file", ...).
    bool open(const std::string& path, std::string* why);
    std::uint64_t size() const { return m_size; }

    // Reads exactly n bytes at offset. False on any shortfall, with the reason in *why.
    bool readAt(std::uint64_t offset, void* buffer, std::size_t n, std::string* why) const;
    // Reads rows of rowBytes each, row k to firstRow + k * stride (stride may be negative).
    bool readRowsAt(std::uint64_t offset, std::size_t rowBytes, std::size_t rows, std::uint8_t* firstRow,
                    std::ptrdiff_t stride, std::string* why) const;

private:
    int m_fd = -1;
    std::uint64_t m_size = 0;
};

} // namespace kestro::ser
