#include "sample_index.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using kestro::avi::SampleIndex;

// The searches against a plain walk, over layouts with runs of empty samples at the
// start, the middle and the end, and over a random layout.
std::int32_t walk(const std::vector<int>& sizes, const std::vector<bool>& keys, std::int32_t i, bool forward,
                  bool keyOnly)
{
    const auto n = static_cast<std::int32_t>(sizes.size());
    for (; i >= 0 && i < n; i += forward ? 1 : -1)
        if (sizes[static_cast<std::size_t>(i)] != 0 && (!keyOnly || keys[static_cast<std::size_t>(i)]))
            return i;
    return -1;
}

void checkAgainstWalk(const std::vector<int>& sizes, const std::vector<bool>& keys)
{
    SampleIndex index;
    for (std::size_t i = 0; i < sizes.size(); ++i)
        index.append(1000 + i, static_cast<std::uint32_t>(sizes[i]), keys[i]);
    index.finish();
    const auto n = static_cast<std::int32_t>(sizes.size());
    for (std::int32_t i = -2; i < n + 2; ++i) {
        for (bool forward : {false, true}) {
            EXPECT_EQ(index.findData(i, forward), (i < 0 || i >= n) ? -1 : walk(sizes, keys, i, forward, false))
                << "data at " << i << (forward ? " forward" : " back");
            EXPECT_EQ(index.findKey(i, forward), (i < 0 || i >= n) ? -1 : walk(sizes, keys, i, forward, true))
                << "key at " << i << (forward ? " forward" : " back");
        }
    }
}

TEST(SampleIndex, SearchesMatchAWalkOverEmptyRuns)
{
    const std::vector<std::vector<int>> layouts = {
        {}, {0}, {5}, {0, 0, 0}, {0, 0, 5, 5, 0, 5, 0, 0, 0, 5, 0, 0}, {5, 0, 5, 0, 5, 0, 5},
    };
    for (const auto& sizes : layouts) {
        checkAgainstWalk(sizes, std::vector<bool>(sizes.size(), true));
        std::vector<bool> someKeys(sizes.size());
        for (std::size_t i = 0; i < sizes.size(); ++i)
            someKeys[i] = i % 3 == 1;
        checkAgainstWalk(sizes, someKeys);
    }
    std::mt19937 rng(7);
    std::vector<int> sizes(500);
    std::vector<bool> keys(500);
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        sizes[i] = rng() % 4 == 0 ? 0 : 10;
        keys[i] = rng() % 5 == 0;
    }
    checkAgainstWalk(sizes, keys);
}

TEST(SampleIndex, StaysNearSixteenBytesASample)
{
    SampleIndex index;
    constexpr int n = 100000;
    index.reserve(n);
    for (int i = 0; i < n; ++i)
        index.append(static_cast<std::uint64_t>(i) * 1000, i % 1000 == 0 ? 0 : 900, true);
    index.finish();
    EXPECT_LE(index.memoryBytes(), static_cast<std::size_t>(n) * 16 + n / 1000 * 4 + 64);
    EXPECT_EQ(index.largestSample(), 900u);
}

} // namespace
