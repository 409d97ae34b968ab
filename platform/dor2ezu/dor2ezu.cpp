// The library's entry points: the list of algorithms, argument checks, and the split of the
// output into bands of rows that run on as many threads as the machine has.
#include "dor2ezu.h"

#include <algorithm>
#include <array>
#include <memory>
#include <span>
#include <system_error>
#include <atomic>
#include <new>
#include <thread>
#include <vector>

#include "algorithms.h"

namespace kestro::dor2ezu {
namespace {

// Listed in this order; numbers never change once published, since users pick them by number.
const Algorithm* const kAlgorithms[] = {&kNearest, &kMalvar, &kVng, &kAhd, &kRcd};
constexpr int kAlgorithmCount = sizeof(kAlgorithms) / sizeof(kAlgorithms[0]);

const char* const* algorithmNames()
{
    static const auto names = [] {
        std::array<const char*, kAlgorithmCount> n{};
        for (int i = 0; i < kAlgorithmCount; ++i)
            n[i] = kAlgorithms[i]->name;
        return n;
    }();
    return names.data();
}

const Algorithm* findAlgorithm(std::int32_t number)
{
    for (const Algorithm* a : kAlgorithms)
        if (a->number == number)
            return a;
    return nullptr;
}

std::atomic<int> g_threadCount{0};

// Rows per band: enough to make a band's start-up rows cheap, few enough that a band's working
// rows stay in the cache of one core.
constexpr int kBandRows = 32;

// A block of working memory aligned for the widest vectors.
struct AlignedBlock {
    std::unique_ptr<std::byte[]> storage;
    std::span<std::byte> bytes;

    explicit AlignedBlock(std::size_t size) : storage(new std::byte[size + 64])
    {
        auto address = reinterpret_cast<std::uintptr_t>(storage.get());
        std::size_t skip = (64 - address % 64) % 64;
        bytes = {storage.get() + skip, size};
    }
};

std::int32_t convert(const Algorithm& algorithm, int width, int height, const std::uint8_t* plane, std::uint8_t* pixels,
                     std::int32_t pattern)
{
    const int firstRow = OutputImage::kMargin;
    const int endRow = height - OutputImage::kMargin;
    const int bands = (endRow - firstRow + kBandRows - 1) / kBandRows;
    int threads = g_threadCount.load();
    if (threads <= 0)
        threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    threads = std::min(threads, bands);

    // Everything is allocated before the first output byte is written.
    std::vector<AlignedBlock> scratch;
    std::unique_ptr<Mosaic> mosaic;
    std::vector<std::jthread> helpers;
    try {
        mosaic = std::make_unique<Mosaic>(width, height, plane, pattern);
        const std::size_t bytes = algorithm.scratchBytes(width, kBandRows);
        scratch.reserve(static_cast<std::size_t>(threads));
        for (int t = 0; t < threads; ++t)
            scratch.emplace_back(bytes);
        helpers.reserve(static_cast<std::size_t>(threads));
    } catch (const std::bad_alloc&) {
        return DOR2EZU_ERR_MEMORY;
    }

    const OutputImage out(pixels, width, height);
    std::atomic<int> nextBand{0};
    auto work = [&](int worker) {
        for (int band; (band = nextBand.fetch_add(1)) < bands;) {
            const int y0 = firstRow + band * kBandRows;
            const int y1 = std::min(endRow, y0 + kBandRows);
            algorithm.run(*mosaic, out, y0, y1, Scratch(scratch[static_cast<std::size_t>(worker)].bytes));
        }
    };
    for (int t = 1; t < threads; ++t) {
        try {
            helpers.emplace_back(work, t);
        } catch (const std::system_error&) {
            break; // fewer threads only means slower; the calling thread finishes the bands
        }
    }
    work(0);
    // The helpers use the band counter and the lambda above, so they finish before those go.
    for (std::jthread& helper : helpers)
        helper.join();
    return DOR2EZU_OK;
}

} // namespace

void setThreadCount(int threads) { g_threadCount.store(threads); }

} // namespace kestro::dor2ezu

std::int32_t Dor2EzuEnumAlgorithms(const char* const** names, std::int32_t* count)
{
    using namespace kestro::dor2ezu;
    if (names == nullptr || count == nullptr)
        return DOR2EZU_ERR_ARGUMENT;
    *names = algorithmNames();
    *count = kAlgorithmCount;
    return DOR2EZU_OK;
}

std::int32_t Dor2EzuPlane(std::int32_t width, std::int32_t height, const std::uint8_t* plane, std::uint8_t* pixels,
                          std::int32_t algorithm, std::int32_t pattern)
{
    using namespace kestro::dor2ezu;
    if (plane == nullptr || pixels == nullptr)
        return DOR2EZU_ERR_ARGUMENT;
    if (width <= 2 * DOR2EZU_MARGIN || height <= 2 * DOR2EZU_MARGIN)
        return DOR2EZU_ERR_TOO_SMALL;
    const Algorithm* chosen = findAlgorithm(algorithm);
    if (chosen == nullptr)
        return DOR2EZU_ERR_ALGORITHM;
    return convert(*chosen, width, height, plane, pixels, pattern);
}
