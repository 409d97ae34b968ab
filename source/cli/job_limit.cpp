#include "job_limit.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <sstream>
#include <thread>

#include <sched.h>
#include <unistd.h>

namespace kestro::cli {

namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;

// Measured peaks per job, 1920 x 1080 captures: 13 MB (an AVI in Normal) to 33 MB (FITS sums
// de-mosaiced with AHD), about 3 MB of it whatever the frame size. 16 bytes a pixel and 4 MiB
// cover the worst of them.
constexpr std::uint64_t kBytesPerPixel = 16;
constexpr std::uint64_t kFixedPerJob = 4 * kMiB;

// The jobs take no more than this share of the free memory, leaving the rest to the system and
// to whatever else runs.
constexpr std::uint64_t kShareNumerator = 3, kShareDenominator = 4;

std::optional<std::uint64_t> readNumber(const std::string& path)
{
    std::ifstream in(path);
    std::string text;
    if (!(in >> text))
        return std::nullopt;
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt; // "max": no limit
    return value;
}

// What a memory limit of the control group leaves: cgroup v2 as a container sees its own group at
// the mount's root, or cgroup v1's memory controller there. A limit near 2^63 means none.
std::optional<std::uint64_t> cgroupRoom()
{
    const std::pair<const char*, const char*> files[] = {
        {"/sys/fs/cgroup/memory.max", "/sys/fs/cgroup/memory.current"},
        {"/sys/fs/cgroup/memory/memory.limit_in_bytes", "/sys/fs/cgroup/memory/memory.usage_in_bytes"},
    };
    for (const auto& [limitFile, usageFile] : files) {
        const std::optional<std::uint64_t> limit = readNumber(limitFile);
        const std::optional<std::uint64_t> usage = readNumber(usageFile);
        if (limit && usage && *limit < (std::uint64_t{1} << 60))
            return *limit > *usage ? *limit - *usage : 0;
    }
    return std::nullopt;
}

std::string megabytes(std::uint64_t bytes) { return std::to_string((bytes + kMiB / 2) / kMiB) + " MB"; }

} // namespace

unsigned usableCores()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return static_cast<unsigned>(CPU_COUNT(&set));
    return std::max(1u, std::thread::hardware_concurrency());
}

std::optional<std::uint64_t> availableMemory()
{
    std::optional<std::uint64_t> available;
    std::ifstream meminfo("/proc/meminfo");
    for (std::string line; std::getline(meminfo, line);) {
        std::istringstream fields(line);
        std::string key;
        std::uint64_t kib = 0;
        if (fields >> key >> kib && key == "MemAvailable:") {
            available = kib * 1024;
            break;
        }
    }
    if (!available) {
        const long pages = ::sysconf(_SC_AVPHYS_PAGES);
        const long pageSize = ::sysconf(_SC_PAGESIZE);
        if (pages > 0 && pageSize > 0)
            available = static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
    }
    if (const std::optional<std::uint64_t> room = cgroupRoom())
        available = available ? std::min(*available, *room) : *room;
    return available;
}

std::uint64_t memoryPerJob(std::int64_t framePixels)
{
    return kFixedPerJob + static_cast<std::uint64_t>(std::max<std::int64_t>(framePixels, 0)) * kBytesPerPixel;
}

JobLimit limitJobs(unsigned requested, bool given, std::size_t captures, unsigned cores,
                   std::optional<std::uint64_t> available, std::uint64_t perJob)
{
    const unsigned wanted = static_cast<unsigned>(std::clamp<std::size_t>(captures, 1, std::max(requested, 1u)));
    cores = std::max(cores, 1u);
    unsigned byMemory = wanted;
    if (available && perJob > 0)
        byMemory = static_cast<unsigned>(
            std::clamp<std::uint64_t>(*available / kShareDenominator * kShareNumerator / perJob, 1, wanted));
    JobLimit limit;
    limit.jobs = std::min({wanted, cores, byMemory});
    if (limit.jobs == wanted)
        return limit;

    std::string why;
    if (cores < wanted)
        why = "this machine has " + std::to_string(cores) + (cores == 1 ? " core" : " cores");
    if (byMemory < wanted)
        why += std::string(why.empty() ? "" : ", and ") + "each capture needs about " + megabytes(perJob) + " and " +
               megabytes(*available) + " of memory is free";
    limit.lowered =
        given ? "--jobs " + std::to_string(requested) + " lowered to " + std::to_string(limit.jobs) + ": " + why
              : std::to_string(limit.jobs) + (limit.jobs == 1 ? " capture" : " captures") +
                    " at a time rather than one per core: " + why;
    return limit;
}

} // namespace kestro::cli
