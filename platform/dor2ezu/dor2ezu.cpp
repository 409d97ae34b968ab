// The library's entry points: the list of algorithms, argument checks, and the split of the
// output into bands of rows that run on as many threads as the machine has.
#include "dor2ezu.h"

#include <algorithm>
#include <array>
#include <memory>
#include <atomic>
#include <new>
#include <span>
#include <vector>

#include "algorithms.h"
#include "parallel_for.h"

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
    const unsigned threads =
        parallel::threadsFor(static_cast<std::size_t>(bands), static_cast<unsigned>(std::max(0, g_threadCount.load())));

    // Everything is allocated before the first output byte is written.
    std::vector<AlignedBlock> scratch;
    std::unique_ptr<Mosaic> mosaic;
    try {
        mosaic = std::make_unique<Mosaic>(width, height, plane, pattern);
        const std::size_t bytes = algorithm.scratchBytes(width, kBandRows);
        scratch.reserve(threads);
        for (unsigned t = 0; t < threads; ++t)
            scratch.emplace_back(bytes);
    } catch (const std::bad_alloc&) {
        return DOR2EZU_ERR_MEMORY;
    }

    const OutputImage out(pixels, width, height);
    parallel::forEach(static_cast<std::size_t>(bands), threads, [&](std::size_t band, unsigned worker) {
        const int y0 = firstRow + static_cast<int>(band) * kBandRows;
        const int y1 = std::min(endRow, y0 + kBandRows);
        algorithm.run(*mosaic, out, y0, y1, Scratch(scratch[worker].bytes));
    });
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
