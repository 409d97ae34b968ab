// Work spread over threads: one shared counter hands out the items (or chunks of neighbouring
// items) to the threads as each becomes free, so a slow item holds up one thread and not a fixed
// share of the work. The calling thread works as one of them, so one thread means no thread is
// started at all.
//
// No exception leaves a thread: the first one thrown stops the handing out, and once every thread
// has finished the item in hand it is thrown again on the calling thread, as a plain loop would
// have thrown it. A helper thread the system will not start leaves its share to the others.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <type_traits>
#include <vector>

namespace kestro::parallel {

// Items [begin, end) handed to one thread at a time.
struct Range {
    std::size_t begin = 0;
    std::size_t end = 0;
};

// Hands out [0, count) `chunk` items at a time, each item once, from any thread.
class Share {
public:
    Share(std::size_t count, std::size_t chunk) : m_count(count), m_chunk(std::max<std::size_t>(chunk, 1)) {}
    Share(const Share&) = delete;
    Share& operator=(const Share&) = delete;

    // The next chunk, or false once every item has been handed out or the work was stopped.
    bool next(Range& range)
    {
        if (m_stopped.load(std::memory_order_relaxed))
            return false;
        const std::size_t first = m_next.fetch_add(m_chunk, std::memory_order_relaxed);
        if (first >= m_count)
            return false;
        // Written so that a chunk near the largest count does not wrap.
        range = {first, m_count - first > m_chunk ? first + m_chunk : m_count};
        return true;
    }

    // No further chunk is handed out; the ones in hand are finished.
    void stop() { m_stopped.store(true, std::memory_order_relaxed); }

    std::size_t chunks() const { return m_count / m_chunk + (m_count % m_chunk != 0 ? 1 : 0); }

private:
    const std::size_t m_count;
    const std::size_t m_chunk;
    std::atomic<std::size_t> m_next{0};
    std::atomic<bool> m_stopped{false};
};

// The threads that work on `chunks` chunks: `requested`, or one per core when it is 0, and never
// more than there are chunks to hand out, nor fewer than one.
inline unsigned threadsFor(std::size_t chunks, unsigned requested)
{
    const unsigned wanted = requested != 0 ? requested : std::max(1u, std::thread::hardware_concurrency());
    return static_cast<unsigned>(std::max<std::size_t>(1, std::min<std::size_t>(wanted, chunks)));
}

// Runs body(share, worker) on threadsFor(chunks, threads) threads, worker 0 being the calling
// thread, and returns when all have returned. Each thread takes its chunks with share.next(range);
// a body that keeps state of its own for its thread (a buffer, a decoder, results to hand in at
// the end) keeps it across its chunks this way.
template <class Body> void onThreads(std::size_t count, std::size_t chunk, unsigned threads, Body&& body)
{
    Share share(count, chunk);
    const unsigned workers = threadsFor(share.chunks(), threads);
    std::mutex failureMutex;
    std::exception_ptr failure;
    auto run = [&](unsigned worker) {
        try {
            body(share, worker);
        } catch (...) {
            share.stop();
            const std::lock_guard lock(failureMutex);
            if (!failure)
                failure = std::current_exception();
        }
    };
    std::vector<std::thread> helpers;
    try {
        helpers.reserve(workers - 1);
        for (unsigned t = 1; t < workers; ++t)
            helpers.emplace_back(run, t);
    } catch (const std::system_error&) {
        // Fewer threads only means slower: the ones started, and this one, take every chunk.
    } catch (const std::bad_alloc&) {
    }
    run(0);
    // The helpers use the share and the body, so they finish before those go.
    for (std::thread& helper : helpers)
        helper.join();
    if (failure)
        std::rethrow_exception(failure);
}

// Calls body(item, worker), or body(item), for every item of [0, count) on `threads` threads (0:
// one per core), the items handed out `chunk` at a time so that neighbouring items go to one
// thread. `worker` is below threadsFor(count / chunk rounded up, threads), for state kept per
// thread by the caller.
template <class Body> void forEach(std::size_t count, unsigned threads, Body&& body, std::size_t chunk = 1)
{
    onThreads(count, chunk, threads, [&body](Share& share, unsigned worker) {
        for (Range range; share.next(range);)
            for (std::size_t item = range.begin; item < range.end; ++item) {
                if constexpr (std::is_invocable_v<Body&, std::size_t, unsigned>)
                    body(item, worker);
                else
                    body(item);
            }
    });
}

} // namespace kestro::parallel
