#include "parallel_for.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using kestro::parallel::forEach;
using kestro::parallel::threadsFor;

unsigned cores() { return std::max(1u, std::thread::hardware_concurrency()); }

TEST(ThreadsFor, TheRequestOrTheCoresBoundByTheChunks)
{
    struct Case {
        std::size_t chunks;
        unsigned requested;
        unsigned expected;
    };
    for (const Case& c :
         {Case{0, 4, 1}, Case{3, 8, 3}, Case{10, 2, 2}, Case{1, 1, 1}, Case{1000, 0, cores()}, Case{1, 0, 1}})
        EXPECT_EQ(threadsFor(c.chunks, c.requested), c.expected) << c.chunks << " chunks, " << c.requested;
}

struct Visits {
    std::mutex mutex;
    std::vector<int> count;
    std::vector<unsigned> worker;
    std::map<unsigned, std::thread::id> threadOf;
    bool sameThreadPerWorker = true;

    explicit Visits(std::size_t items) : count(items, 0), worker(items, ~0u) {}

    void add(std::size_t item, unsigned w)
    {
        const std::lock_guard lock(mutex);
        ++count[item];
        worker[item] = w;
        const auto [it, added] = threadOf.emplace(w, std::this_thread::get_id());
        sameThreadPerWorker = sameThreadPerWorker && (added || it->second == std::this_thread::get_id());
    }
};

// Every item is taken once, by a worker below the thread count, each worker being one thread and
// worker 0 the calling one; the items of a chunk go to one worker.
TEST(ForEach, EveryItemOnceChunksKeptTogether)
{
    struct Case {
        std::size_t count;
        unsigned threads;
        std::size_t chunk;
    };
    for (const Case& c : {Case{0, 4, 1}, Case{1, 4, 1}, Case{10, 3, 4}, Case{7, 2, 100}, Case{1000, 0, 1},
                          Case{1001, 4, 4}, Case{50, 1, 3}}) {
        SCOPED_TRACE(testing::Message() << c.count << " items, " << c.threads << " threads, chunks of " << c.chunk);
        Visits v(c.count);
        forEach(
            c.count, c.threads, [&v](std::size_t item, unsigned worker) { v.add(item, worker); }, c.chunk);
        const unsigned workers = threadsFor((c.count + c.chunk - 1) / c.chunk, c.threads);
        for (std::size_t i = 0; i < c.count; ++i) {
            ASSERT_EQ(v.count[i], 1) << "item " << i;
            EXPECT_LT(v.worker[i], workers) << "item " << i;
            EXPECT_EQ(v.worker[i], v.worker[i - i % c.chunk]) << "item " << i << " left its chunk";
        }
        EXPECT_TRUE(v.sameThreadPerWorker);
        if (v.threadOf.count(0)) {
            EXPECT_EQ(v.threadOf[0], std::this_thread::get_id());
        }
        if (c.threads == 1) {
            EXPECT_EQ(v.threadOf.size(), c.count ? 1u : 0u);
        }
    }
}

TEST(ForEach, TakesABodyWithoutTheWorker)
{
    std::atomic<std::size_t> sum{0};
    forEach(100, 3, [&sum](std::size_t item) { sum += item; });
    EXPECT_EQ(sum.load(), 4950u);
}

// A throw on any thread reaches the caller once every thread has stopped, and stops the handing
// out: no thread takes a chunk after it, so at most one item per thread is begun.
TEST(ForEach, AnExceptionStopsTheWorkAndReachesTheCaller)
{
    for (unsigned threads : {1u, 4u}) {
        std::atomic<int> begun{0};
        try {
            forEach(1000, threads, [&begun](std::size_t item) {
                ++begun;
                throw std::runtime_error("item " + std::to_string(item) + " failed");
            });
            ADD_FAILURE() << "nothing was thrown";
        } catch (const std::runtime_error& e) {
            EXPECT_TRUE(std::string(e.what()).starts_with("item ")) << e.what();
        }
        EXPECT_GE(begun.load(), 1);
        EXPECT_LE(begun.load(), static_cast<int>(threads));
    }
}

// State kept per thread lasts across that thread's chunks and is seen once the work is done.
TEST(OnThreads, EachThreadKeepsItsStateAcrossItsChunks)
{
    std::mutex mutex;
    std::size_t total = 0;
    kestro::parallel::onThreads(1003, 8, 3, [&](kestro::parallel::Share& share, unsigned) {
        std::size_t mine = 0;
        for (kestro::parallel::Range r; share.next(r);)
            mine += r.end - r.begin;
        const std::lock_guard lock(mutex);
        total += mine;
    });
    EXPECT_EQ(total, 1003u);
}

} // namespace
