// How many captures kestro-convert converts side by side: what --jobs asks, bounded by the cores
// the program may run on and by the memory free for the jobs, so that a large --jobs neither
// slows a run down nor pushes the machine into swap.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kestro::cli {

// The cores this process may run on (its CPU affinity), at least 1.
unsigned usableCores();

// The bytes of memory free for new work: the kernel's MemAvailable, or less when a memory limit
// of the process's control group leaves less; nothing when neither can be read.
std::optional<std::uint64_t> availableMemory();

// What one export or scoring job of a capture of this many pixels a frame holds at most: its
// decoded, de-mosaiced and written frames, the FITS sum and the decoder's own buffers.
std::uint64_t memoryPerJob(std::int64_t framePixels);

struct JobLimit {
    unsigned jobs = 1;   // captures side by side
    std::string lowered; // why fewer than asked for (and than there are captures); empty when not
};

// The jobs to run: `requested` (--jobs, or one per core when `given` is false), no more than
// there are captures, bounded by `cores` and by the jobs that fit in `available` bytes at
// `perJob` each. `lowered` says so, in the terms the user gave, when that is fewer than the
// captures and the request would have run.
JobLimit limitJobs(unsigned requested, bool given, std::size_t captures, unsigned cores,
                   std::optional<std::uint64_t> available, std::uint64_t perJob);

} // namespace kestro::cli
