// The greyscale formula as users see it, and the vector kernel against it for every colour.
#include "greyscale.h"

#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <cstdint>
#include <vector>

using kestro::video::greyOf;

TEST(Greyscale, DefinitionTruncatesTheDoubleSums)
{
    struct Case {
        std::uint8_t b, g, r, grey;
    };
    // Mid-grey and white are where rounding of the double sums shows: 128 lands just below 128.
    const Case cases[] = {
        {255, 255, 255, 255}, {128, 128, 128, 127}, {1, 1, 1, 0}, {0, 0, 255, 76},
        {0, 255, 0, 149},     {255, 0, 0, 29},      {0, 0, 0, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(greyOf(c.b, c.g, c.r), c.grey) << "B " << int{c.b} << " G " << int{c.g} << " R " << int{c.r};
}

// Every one of the 16.7 million colours, under every instruction set this machine runs. A row
// is cut so that the vector loop leaves a tail, and a fused multiply-add would show here.
TEST(Greyscale, VectorKernelMatchesTheDefinitionForEveryColour)
{
    std::vector<std::uint8_t> bgr(256 * 256 * 3);
    std::vector<std::uint8_t> fast(256 * 256), reference(256 * 256);
    for (std::int64_t target : hwy::SupportedAndGeneratedTargets()) {
        SCOPED_TRACE(hwy::TargetName(target));
        hwy::SetSupportedTargetsForTest(target);
        for (int r = 0; r < 256; ++r) {
            for (int i = 0; i < 256 * 256; ++i) {
                bgr[3 * i] = static_cast<std::uint8_t>(i & 255);
                bgr[3 * i + 1] = static_cast<std::uint8_t>(i >> 8);
                bgr[3 * i + 2] = static_cast<std::uint8_t>(r);
            }
            constexpr int head = 256 * 256 - 5;
            kestro::video::greyRow(bgr.data(), fast.data(), head);
            kestro::video::greyRow(bgr.data() + 3 * head, fast.data() + head, 256 * 256 - head);
            kestro::video::greyRowReference(bgr.data(), reference.data(), 256 * 256);
            ASSERT_EQ(fast, reference) << "red " << r;
        }
    }
    hwy::SetSupportedTargetsForTest(0);
}
