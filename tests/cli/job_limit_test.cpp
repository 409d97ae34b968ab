// How many captures kestro-convert converts side by side, and what it says when that is fewer
// than --jobs asks: bounded by the cores and by the memory free, never below one.
#include "job_limit.h"

#include <gtest/gtest.h>

namespace {

using kestro::cli::limitJobs;

constexpr std::uint64_t kMB = 1024 * 1024;

TEST(JobLimit, JobsAreBoundedByCoresAndFreeMemory)
{
    struct Case {
        unsigned requested;
        bool given;
        std::size_t captures;
        unsigned cores;
        std::optional<std::uint64_t> available;
        std::uint64_t perJob;
        unsigned jobs;
        const char* lowered;
    };
    const Case cases[] = {
        // 64 full-HD captures on 2 cores with plenty of memory: the cores bound it.
        {64, true, 64, 2, 16000 * kMB, 37 * kMB, 2, "--jobs 64 lowered to 2: this machine has 2 cores"},
        // Fewer captures than jobs is no lowering worth a word.
        {64, true, 1, 2, 16000 * kMB, 37 * kMB, 1, ""},
        {4, true, 3, 8, 16000 * kMB, 37 * kMB, 3, ""},
        // 3/4 of 400 MB holds 8 jobs of 37 MB.
        {16, true, 16, 32, 400 * kMB, 37 * kMB, 8,
         "--jobs 16 lowered to 8: each capture needs about 37 MB and 400 MB of memory is free"},
        {16, true, 16, 4, 100 * kMB, 37 * kMB, 2,
         "--jobs 16 lowered to 2: this machine has 4 cores, and each capture needs about 37 MB and 100 MB of memory "
         "is free"},
        // Too little memory for even one still runs one.
        {4, true, 4, 4, 10 * kMB, 37 * kMB, 1,
         "--jobs 4 lowered to 1: each capture needs about 37 MB and 10 MB of memory is free"},
        // One per core, the default, lowered by memory alone, said without a --jobs the user never gave.
        {8, false, 20, 8, 100 * kMB, 37 * kMB, 2,
         "2 captures at a time rather than one per core: each capture needs about 37 MB and 100 MB of memory is free"},
        // Memory that cannot be read bounds nothing.
        {8, true, 8, 8, std::nullopt, 37 * kMB, 8, ""},
        {1, false, 5, 1, 16000 * kMB, 37 * kMB, 1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "--jobs " << c.requested << ", " << c.captures << " captures, " << c.cores
                                        << " cores");
        const kestro::cli::JobLimit limit = limitJobs(c.requested, c.given, c.captures, c.cores, c.available, c.perJob);
        EXPECT_EQ(limit.jobs, c.jobs);
        EXPECT_EQ(limit.lowered, c.lowered);
    }
}

TEST(JobLimit, AJobNeedsMoreForLargerFrames)
{
    const std::uint64_t hd = kestro::cli::memoryPerJob(1920 * 1080);
    // What a full-HD capture's job was measured to take at most (33 MB), and not wildly more.
    EXPECT_GE(hd, 33 * kMB);
    EXPECT_LE(hd, 64 * kMB);
    EXPECT_LT(kestro::cli::memoryPerJob(640 * 480), hd);
    EXPECT_GT(kestro::cli::memoryPerJob(0), 0u);
}

} // namespace
