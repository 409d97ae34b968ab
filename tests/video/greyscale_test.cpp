// The greyscale formula as users see it, and the vector kernel against it for every colour.
#include "greyscale.h"

#include "frame_bitmaps.h"
#include "video_source.h"

#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <cstdint>
#include <vector>

using kestro::video::greyOf;
using namespace kestro::test::bitmaps;

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
    struct ResetTargets {
        ~ResetTargets() { hwy::SetSupportedTargetsForTest(0); }
    } reset;
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
        // Whole vectors of grey, as the Normal picture of a raw capture is.
        for (int i = 0; i < 256 * 256; ++i)
            bgr[3 * i] = bgr[3 * i + 1] = bgr[3 * i + 2] = static_cast<std::uint8_t>(i / 7);
        kestro::video::greyRow(bgr.data(), fast.data(), 256 * 256);
        kestro::video::greyRowReference(bgr.data(), reference.data(), 256 * 256);
        ASSERT_EQ(fast, reference) << "grey ramp";
    }
}

// MakeGreyscale on bitmaps built here, so every colour and every row padding is known.
TEST(Greyscale, OfTheSevenColoursAndOfPaddedRows)
{
    CVideoSource v;
    // Widths 7 and 5 leave padded rows in both the 24-bit and the 8-bit image.
    const std::vector<std::array<std::uint8_t, 3>> colours = {
        {255, 255, 255}, {128, 128, 128}, {1, 1, 1}, {0, 0, 255}, {0, 255, 0}, {255, 0, 0}, {0, 0, 0},
    };
    const Bytes greys = {255, 127, 0, 76, 149, 29, 0};
    for (auto [w, h] : {std::pair{7, 1}, std::pair{7, 3}, std::pair{5, 2}, std::pair{4, 2}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        std::vector<std::array<std::uint8_t, 3>> pixels;
        Bytes expected;
        for (int i = 0; i < w * h; ++i) {
            pixels.push_back(colours[(i * 3) % 7]);
            expected.push_back(greys[(i * 3) % 7]);
        }
        const Bytes block = bitmap24(w, h, pixels);
        const BITMAPINFOHEADER* g = v.MakeGreyscale(reinterpret_cast<const BITMAPINFOHEADER*>(block.data()));
        ASSERT_NE(g, nullptr);
        EXPECT_EQ(g->biBitCount, 8);
        EXPECT_EQ(g->biClrUsed, 256u);
        EXPECT_EQ(g->biWidth, w);
        EXPECT_EQ(g->biHeight, h);
        const std::size_t stride = kestro::dib::stride(w, 8);
        EXPECT_EQ(g->biSizeImage, stride * h);
        EXPECT_TRUE(hasGreyTable(g));
        EXPECT_EQ(topDown(g), expected);
        for (int y = 0; y < h; ++y)
            for (std::size_t x = w; x < stride; ++x)
                EXPECT_EQ(pixelsOf(g)[y * stride + x], 0) << "padding of row " << y;
    }
}
