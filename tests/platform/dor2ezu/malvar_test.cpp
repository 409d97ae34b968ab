// 02-Malvar against the four 5 x 5 filters as the paper draws them, evaluated here site by site in
// the plainest way. Flat pictures cannot tell the filters apart (every one of them keeps a constant),
// so only this catches a wrong weight, the row and column filters swapped at green sites, or a
// rounding that is not to nearest.
#include "dor2ezu.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "bayer_fixtures.h"

namespace {

using kestro::test::noisePlane;
using kestro::test::pixelAt;
using kestro::test::Rgb;
using kestro::test::siteColour;

using Kernel = int[5][5]; // weights in sixteenths, [dy + 2][dx + 2]

// Green at a red or blue site.
const Kernel kGreenAtRedBlue = {{0, 0, -2, 0, 0},
                                {0, 0, 4, 0, 0},
                                {-2, 4, 8, 4, -2},
                                {0, 0, 4, 0, 0},
                                {0, 0, -2, 0, 0}};
// At a green site, the colour of its left and right neighbours.
const Kernel kAlongRowAtGreen = {{0, 0, 1, 0, 0},
                                 {0, -2, 0, -2, 0},
                                 {-2, 8, 10, 8, -2},
                                 {0, -2, 0, -2, 0},
                                 {0, 0, 1, 0, 0}};
// At a green site, the colour of its upper and lower neighbours.
const Kernel kAlongColumnAtGreen = {{0, 0, -2, 0, 0},
                                    {0, -2, 8, -2, 0},
                                    {1, 0, 10, 0, 1},
                                    {0, -2, 8, -2, 0},
                                    {0, 0, -2, 0, 0}};
// Blue at a red site, red at a blue one.
const Kernel kCrossAtRedBlue = {{0, 0, -3, 0, 0},
                                {0, 4, 0, 4, 0},
                                {-3, 0, 12, 0, -3},
                                {0, 4, 0, 4, 0},
                                {0, 0, -3, 0, 0}};

// The expected pixel at plane site (x, y), at least two sites from every edge of the plane.
Rgb expectedAt(const std::vector<std::uint8_t>& plane, int w, int pattern, int x, int y)
{
    auto filter = [&](const Kernel& k) {
        int sum = 0;
        for (int dy = -2; dy <= 2; ++dy)
            for (int dx = -2; dx <= 2; ++dx)
                sum += k[dy + 2][dx + 2] * plane[static_cast<std::size_t>(y + dy) * w + (x + dx)];
        return static_cast<std::uint8_t>(std::clamp(std::floor(sum / 16.0 + 0.5), 0.0, 255.0));
    };
    const std::uint8_t own = plane[static_cast<std::size_t>(y) * w + x];
    const char site = siteColour(pattern, x, y);
    if (site == 'G') {
        const bool redAlongRow = siteColour(pattern, x + 1, y) == 'R';
        const std::uint8_t alongRow = filter(kAlongRowAtGreen), alongColumn = filter(kAlongColumnAtGreen);
        return redAlongRow ? Rgb{alongRow, own, alongColumn} : Rgb{alongColumn, own, alongRow};
    }
    const std::uint8_t green = filter(kGreenAtRedBlue), cross = filter(kCrossAtRedBlue);
    return site == 'R' ? Rgb{own, green, cross} : Rgb{cross, green, own};
}

TEST(Malvar, EveryPixelIsThePapersFilterRoundedToNearest)
{
    // Noise drives the filters past 0 and 255, so the clamping is covered. Widths: narrower than the
    // implementation's chunk of columns, exactly one chunk, and one that leaves a part chunk over.
    for (const auto& [w, h] : {std::pair{21, 13}, std::pair{40, 40}, std::pair{83, 45}}) {
        const std::vector<std::uint8_t> plane = noisePlane(w, h, static_cast<std::uint32_t>(w * h));
        for (int pattern : {0, 1, 2, 3}) {
            std::vector<std::uint8_t> out(static_cast<std::size_t>(w - 8) * (h - 8) * 3);
            ASSERT_EQ(Dor2EzuPlane(w, h, plane.data(), out.data(), 2, pattern), DOR2EZU_OK);
            int wrong = 0;
            for (int y = 4; y < h - 4; ++y) {
                for (int x = 4; x < w - 4; ++x) {
                    const Rgb expected = expectedAt(plane, w, pattern, x, y);
                    const Rgb got = pixelAt(out, w - 8, h - 8, x - 4, y - 4);
                    if (got != expected && ++wrong <= 3)
                        ADD_FAILURE() << w << "x" << h << ", pattern " << pattern << ", site (" << x << ", " << y
                                      << "): " << got << ", expected " << expected;
                }
            }
            EXPECT_EQ(wrong, 0) << w << "x" << h << ", pattern " << pattern;
        }
    }
}

// Single bright photosites on a grey ground, worked by hand from the paper's weights (pattern GB,
// R G / G B, so (8, 8) is red and (9, 8) green): each checked site shows one weight of one filter.
TEST(Malvar, SingleBrightPhotositeWorkedByHand)
{
    struct Site {
        int x, y;
        Rgb expected;
    };
    struct Case {
        const char* what;
        int x, y; // the photosite 160 above the ground of 64
        std::vector<Site> sites;
    };
    const Case cases[] = {
        {"red photosite",
         8,
         8,
         {{8, 8, {224, 64 + 80, 64 + 120}},  // green 8/16, blue 12/16 of 160
          {9, 8, {64 + 80, 64, 64}},         // green site, red along its row: 8/16
          {8, 9, {64 + 80, 64, 64}},         // green site, red along its column: 8/16
          {9, 9, {64 + 40, 64, 64}},         // blue site, red diagonal: 4/16
          {10, 8, {64, 64 - 20, 64 - 30}}}}, // red site two across: green -2/16, blue -3/16
        {"green photosite",
         9,
         8,
         {{9, 8, {64 + 100, 224, 64 + 100}}, // both colours 10/16 at the centre
          {9, 10, {64 + 10, 64, 64 - 20}},   // two down: +1/16 to the row colour, -2/16 to the column's
          {11, 8, {64 - 20, 64, 64 + 10}},   // two across: the other way round
          {10, 8, {64, 64 + 40, 64}},        // red site beside it: green 4/16
          {10, 9, {64 - 20, 64, 64 - 20}}}}, // diagonal green site: -2/16 to both colours
    };
    const int w = 17, h = 17;
    for (const Case& c : cases) {
        std::vector<std::uint8_t> plane(static_cast<std::size_t>(w) * h, 64);
        plane[static_cast<std::size_t>(c.y) * w + c.x] = 224;
        std::vector<std::uint8_t> out(static_cast<std::size_t>(w - 8) * (h - 8) * 3);
        ASSERT_EQ(Dor2EzuPlane(w, h, plane.data(), out.data(), 2, 1), DOR2EZU_OK);
        for (const Site& s : c.sites)
            EXPECT_EQ(pixelAt(out, w - 8, h - 8, s.x - 4, s.y - 4), s.expected)
                << c.what << ", site (" << s.x << ", " << s.y << ")";
    }
}

} // namespace
