// The sharpness score against frames of known blur: it must rank them by their seeing whatever the
// Bayer pattern, the brightness and where the planet has drifted to.
#include "dib.h"
#include "planet_scene.h"
#include "sharpness.h"
#include "sharpness_rows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <numeric>
#include <random>

namespace {

using kestro::quality::SharpnessMeter;
using kestro::scene::Seeing;

constexpr int kWidth = 320, kHeight = 240;
constexpr double kRadius = 55;

double score(SharpnessMeter& meter, const kestro::bayer::Pattern& pattern, const Seeing& seeing, std::uint64_t seed = 1)
{
    const auto plane = kestro::scene::RenderMosaic(kWidth, kHeight, kRadius, pattern, seeing, seed);
    return meter.Measure({plane.data(), kWidth, kHeight, kWidth});
}

// 40 frames per pattern, sigma 0 to 3 pixels in shuffled order, brightness +-30%, drift up to 50
// pixels, sensor noise: the ranking follows the sigma, and the best tenth lies in the sharpest fifth.
TEST(Sharpness, RanksFramesOfKnownBlurForEveryPattern)
{
    constexpr int kFrames = 40;
    for (const auto& pattern : kestro::bayer::kPatterns) {
        SCOPED_TRACE(pattern.button);
        const auto seeings = kestro::scene::MakeSeeings(kFrames, 3.0, 0.3, 50.0, 17 + pattern.code);
        SharpnessMeter meter;
        std::vector<double> scores, sharpness;
        for (std::size_t i = 0; i < seeings.size(); ++i) {
            scores.push_back(score(meter, pattern, seeings[i], 100 + i));
            sharpness.push_back(-seeings[i].sigma);
        }
        const double rho = kestro::scene::Spearman(scores, sharpness);
        EXPECT_GE(rho, 0.95);

        std::vector<std::size_t> byScore(kFrames), bySigma(kFrames);
        std::iota(byScore.begin(), byScore.end(), 0);
        std::iota(bySigma.begin(), bySigma.end(), 0);
        std::sort(byScore.begin(), byScore.end(), [&](auto a, auto b) { return scores[a] > scores[b]; });
        std::sort(bySigma.begin(), bySigma.end(), [&](auto a, auto b) { return seeings[a].sigma < seeings[b].sigma; });
        const std::vector<std::size_t> sharpest(bySigma.begin(), bySigma.begin() + kFrames / 5);
        for (int k = 0; k < kFrames / 10; ++k)
            EXPECT_NE(std::find(sharpest.begin(), sharpest.end(), byScore[k]), sharpest.end())
                << "pick " << k << " has sigma " << seeings[byScore[k]].sigma;
        std::printf("[ pattern %s ] Spearman %.4f\n", pattern.button, rho);
    }
}

// A frame 30% brighter scores the same within a few percent, and a brighter frame that is more
// blurred still loses to a dimmer sharper one.
TEST(Sharpness, BrightnessDoesNotMakeAFrameSharper)
{
    SharpnessMeter meter;
    const double dim = score(meter, kestro::bayer::kBG, {1.0, 0.7, 0, 0});
    const double bright = score(meter, kestro::bayer::kBG, {1.0, 1.3, 0, 0});
    EXPECT_NEAR(bright / dim, 1.0, 0.05);
    EXPECT_GT(score(meter, kestro::bayer::kBG, {0.8, 0.7, 0, 0}), score(meter, kestro::bayer::kBG, {1.2, 1.3, 0, 0}));
}

// The same frame drifted to the corners of its 50-pixel box scores alike, and the region measured
// goes with the planet.
TEST(Sharpness, DriftIsFollowed)
{
    SharpnessMeter meter;
    const double centred = score(meter, kestro::bayer::kGB, {1.0, 1.0, 0, 0});
    for (const auto& [dx, dy] : {std::pair{-50.0, -50.0}, {50.0, 50.0}, {50.0, -50.0}}) {
        SCOPED_TRACE(testing::Message() << dx << ", " << dy);
        EXPECT_NEAR(score(meter, kestro::bayer::kGB, {1.0, 1.0, dx, dy}) / centred, 1.0, 0.05);
        const auto r = meter.LastRegion();
        const double cx = kWidth / 2 + dx, cy = kHeight / 2 + dy;
        EXPECT_LT(r.left, cx - kRadius);
        EXPECT_GT(r.right, cx + kRadius);
        EXPECT_LT(r.top, cy - 0.93 * kRadius);
        EXPECT_GT(r.bottom, cy + 0.93 * kRadius);
        // ...but not over the whole frame: the sky is left out.
        EXPECT_LT((r.right - r.left) * (r.bottom - r.top), kWidth * kHeight / 2);
    }
}

// The checkerboard of a strongly coloured object is not detail: the four patterns of one frame
// score alike, and a mosaic whose sites differ by colour alone scores as the luminance it holds.
TEST(Sharpness, TheMosaicIsNotDetail)
{
    SharpnessMeter meter;
    std::vector<double> scores;
    for (const auto& pattern : kestro::bayer::kPatterns)
        scores.push_back(score(meter, pattern, {1.5, 1.0, 10, -7}));
    const auto [lo, hi] = std::minmax_element(scores.begin(), scores.end());
    EXPECT_LT(*hi / *lo, 1.05);

    // A flat disc of whole 2 x 2 blocks, red sites 200 and the others 20: on the raw plane every site
    // is an edge, yet it scores as the grey disc of the same luminance.
    std::vector<std::uint8_t> plane(kWidth * kHeight, 0), flat(kWidth * kHeight, 0);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            if ((x / 2 - 80) * (x / 2 - 80) + (y / 2 - 60) * (y / 2 - 60) < 30 * 30) {
                plane[y * kWidth + x] = kestro::bayer::kBG.at(x, y) == kestro::bayer::kRed ? 200 : 20;
                flat[y * kWidth + x] = 65; // the same sum over each 2 x 2 block
            }
    const double mosaic = meter.Measure({plane.data(), kWidth, kHeight, kWidth});
    EXPECT_DOUBLE_EQ(mosaic, meter.Measure({flat.data(), kWidth, kHeight, kWidth}));
}

TEST(Sharpness, FramesWithoutAnObjectScoreZero)
{
    SharpnessMeter meter;
    std::vector<std::uint8_t> dark(kWidth * kHeight, 3);
    EXPECT_EQ(meter.Measure({dark.data(), kWidth, kHeight, kWidth}), 0.0);
    EXPECT_EQ(meter.Measure({dark.data(), 6, 6, kWidth}), 0.0);
    EXPECT_EQ(meter.Measure({nullptr, kWidth, kHeight, kWidth}), 0.0);
    std::vector<std::uint8_t> saturated(kWidth * kHeight, 255);
    EXPECT_EQ(meter.Measure({saturated.data(), kWidth, kHeight, kWidth}), 0.0);
}

// A decoded frame (bottom-up BGR with padded rows) scores as its luminance: the same as the grey
// plane of the same picture.
TEST(Sharpness, DecodedBitmapsScoreAsTheirLuminance)
{
    SharpnessMeter meter;
    constexpr int w = 158, h = 120; // rows of 474 bytes, padded to 476
    const auto grey = kestro::scene::RenderMosaic(w, h, 40, kestro::bayer::kBG, {0.5, 1.0, 0, 0}, 3);
    const std::size_t stride = kestro::dib::stride(w, 24);
    std::vector<std::uint8_t> bgr(stride * h, 0xEE);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            std::fill_n(&bgr[(h - 1 - y) * stride + 3 * x], 3, grey[y * w + x]);
    BITMAPINFOHEADER header = kestro::dib::header(w, h, 24);
    const double decoded = meter.MeasureBitmap(header, bgr.data());
    EXPECT_NEAR(decoded / meter.Measure({grey.data(), w, h, w}), 1.0, 0.02);
    header.biBitCount = 16;
    EXPECT_LT(meter.MeasureBitmap(header, bgr.data()), 0.0);
    // A height whose rows cannot be counted in 32 bits is refused (the sanitizer build catches
    // the overflow of negating it).
    header.biBitCount = 24;
    header.biHeight = std::numeric_limits<LONG>::min();
    EXPECT_LT(meter.MeasureBitmap(header, bgr.data()), 0.0);
}

} // namespace

// The SIMD row kernels against plain loops, on rows of every length around the vector widths and
// on the extreme values: stripes two pixels wide of 0 and 1020, inverted in the row below, make
// gradients near the largest at every pixel, which is where
// 32-bit partial sums would overflow if they were kept too long; rows of 20,000 binned pixels sum
// to far more than 32 bits.
TEST(Sharpness, RowKernelsAgreeWithPlainLoops)
{
    std::mt19937 random(7);
    for (const std::size_t n : {1u, 2u, 15u, 16u, 17u, 33u, 63u, 64u, 65u, 1000u, 2500u, 20000u}) {
        for (const bool extreme : {false, true}) {
            SCOPED_TRACE(testing::Message() << "n " << n << (extreme ? " extreme" : " random"));
            std::vector<std::uint8_t> r0(2 * n), r1(2 * n);
            std::vector<std::uint16_t> rows[3];
            for (std::size_t x = 0; x < 2 * n; ++x) {
                r0[x] = extreme ? 255 * ((x / 2) % 2) : random() % 256;
                r1[x] = extreme ? r0[x] : random() % 256;
            }
            std::vector<std::uint16_t> binned(n);
            kestro::quality::BinRows(r0.data(), r1.data(), binned.data(), n);
            for (std::size_t x = 0; x < n; ++x)
                ASSERT_EQ(binned[x], r0[2 * x] + r0[2 * x + 1] + r1[2 * x] + r1[2 * x + 1]) << "x " << x;

            for (int k = 0; k < 3; ++k) {
                rows[k].resize(n + 2);
                for (std::size_t x = 0; x < n + 2; ++x)
                    rows[k][x] = extreme ? 1020 * (((x / 2) % 2) ^ (k == 2)) : random() % 1021;
            }
            std::uint64_t energy = 0;
            for (std::size_t x = 1; x <= n; ++x) {
                const auto& [u, m, d] = rows;
                const std::int64_t gx = (u[x + 1] - u[x - 1]) + 2 * (m[x + 1] - m[x - 1]) + (d[x + 1] - d[x - 1]);
                const std::int64_t gy = (d[x - 1] - u[x - 1]) + 2 * (d[x] - u[x]) + (d[x + 1] - u[x + 1]);
                energy += gx * gx + gy * gy;
            }
            EXPECT_EQ(kestro::quality::SobelRowEnergy(rows[0].data(), rows[1].data(), rows[2].data(), 1, n + 1),
                      energy);

            const std::uint16_t sky = 100, threshold = 500;
            std::vector<std::uint32_t> columns(n + 2, 3), expectedColumns(n + 2, 3);
            std::uint64_t signal = 11, expectedSignal = 11;
            std::uint32_t expectedCount = 0;
            for (std::size_t x = 0; x < n + 2; ++x)
                if (rows[1][x] > threshold) {
                    ++expectedColumns[x];
                    ++expectedCount;
                    expectedSignal += rows[1][x] - sky;
                }
            EXPECT_EQ(kestro::quality::CountRow(rows[1].data(), n + 2, threshold, sky, columns.data(), signal),
                      expectedCount);
            EXPECT_EQ(columns, expectedColumns);
            EXPECT_EQ(signal, expectedSignal);
        }
    }
}
