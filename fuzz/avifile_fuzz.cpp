// Feeds arbitrary bytes to the AVI reader as a file and drives every reading operation
// over it. The library itself is built with coverage and sanitizers (scripts/fuzz).
#include "avi_exercise.h"
#include "memory_file.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    kestro::fuzz::withMemoryFile(data, size, [](const std::string& path) { kestro::test::exerciseAvi(path, 16); });
    return 0;
}
