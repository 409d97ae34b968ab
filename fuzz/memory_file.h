// The fuzz targets' input as a file: the readers under test open paths, not buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace kestro::fuzz {

// Calls use(path) with the path of an in-memory file holding the bytes; nothing when the
// file cannot be made.
template <class Use> void withMemoryFile(const std::uint8_t* data, std::size_t size, Use use)
{
    const int fd = memfd_create("avi", MFD_CLOEXEC);
    if (fd < 0)
        return;
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    if (done == size)
        use("/proc/self/fd/" + std::to_string(fd));
    ::close(fd);
}

} // namespace kestro::fuzz
