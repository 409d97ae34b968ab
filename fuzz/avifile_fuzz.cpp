// Feeds arbitrary bytes to the AVI reader as a file and drives every reading operation
// over it. The library itself is built with coverage and sanitizers (scripts/fuzz).
#include "avi_exercise.h"

#include <cstdint>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const int fd = memfd_create("avi", MFD_CLOEXEC);
    if (fd < 0)
        return 0;
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    if (done == size)
        kestro::test::exerciseAvi("/proc/self/fd/" + std::to_string(fd), 16);
    ::close(fd);
    return 0;
}
