// Behaviour every algorithm of the de-mosaic library shares, checked for each one it lists.
#include "dor2ezu.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "algorithms.h"
#include "bayer_pattern.h"
#include "bayer_fixtures.h"

namespace {

using kestro::test::mosaicOf;
using kestro::test::noisePlane;
using kestro::test::pixelAt;
using kestro::test::Rgb;

struct Listed {
    std::int32_t number;
    std::string name;
    friend void PrintTo(const Listed& a, std::ostream* os) { *os << a.name; }
};

std::vector<Listed> listedAlgorithms()
{
    const char* const* names = nullptr;
    std::int32_t count = 0;
    Dor2EzuEnumAlgorithms(&names, &count);
    std::vector<Listed> all;
    for (std::int32_t i = 0; i < count; ++i)
        all.push_back({std::stoi(std::string(names[i], 2)), names[i]});
    return all;
}

// Runs one algorithm; the output buffer is exactly the size the library may write.
std::vector<std::uint8_t> demosaic(int w, int h, const std::vector<std::uint8_t>& plane, int algorithm, int pattern,
                                   std::uint8_t fill = 0x5A)
{
    std::vector<std::uint8_t> out(static_cast<std::size_t>(w - 8) * (h - 8) * 3, fill);
    EXPECT_EQ(Dor2EzuPlane(w, h, plane.data(), out.data(), algorithm, pattern), DOR2EZU_OK);
    return out;
}

class EveryAlgorithm : public testing::TestWithParam<Listed> {};

TEST_P(EveryAlgorithm, UniformPlaneGivesItsValueEverywhere)
{
    // 75 rows make several bands of rows, so the joins between bands are covered too.
    for (int pattern : {0, 1, 2, 3}) {
        for (int v : {0, 1, 77, 254, 255}) {
            const std::vector<std::uint8_t> plane(37 * 75, static_cast<std::uint8_t>(v));
            const auto out = demosaic(37, 75, plane, GetParam().number, pattern);
            ASSERT_EQ(out, std::vector<std::uint8_t>(out.size(), static_cast<std::uint8_t>(v)))
                << "pattern " << pattern << ", value " << v;
        }
    }
}

// A flat colour patch on a different background keeps its colour away from its edges, for every
// pattern: a mix-up of sites or channels shows at once as a wrong colour.
TEST_P(EveryAlgorithm, FlatColourPatchKeepsItsColour)
{
    const Rgb patch{210, 120, 40}, background{30, 60, 200};
    auto picture = [&](int x, int y) { return x >= 12 && x < 40 && y >= 10 && y < 38 ? patch : background; };
    for (int pattern : {0, 1, 2, 3}) {
        const auto plane = mosaicOf(52, 48, pattern, picture);
        const auto out = demosaic(52, 48, plane, GetParam().number, pattern);
        // Output pixel (x, y) shows plane photosite (x + 4, y + 4).
        for (int y = 10 + 6; y < 38 - 6; ++y)
            for (int x = 12 + 6; x < 40 - 6; ++x)
                ASSERT_EQ(pixelAt(out, 44, 40, x - 4, y - 4), patch)
                    << kestro::test::kPatternNames[pattern] << " at plane " << x << "," << y;
        // Well inside the background, the background's colour: the margin's photosites are read
        // as real neighbours, so the picture's own edge comes out right too.
        EXPECT_EQ(pixelAt(out, 44, 40, 0, 0), background);
        EXPECT_EQ(pixelAt(out, 44, 40, 43, 39), background);
    }
}

// A white square at the top-left of the shown area appears at the top-left of the picture: the
// first row in memory is the bottom row, and nothing is mirrored left to right.
TEST_P(EveryAlgorithm, KeepsThePicturesOrientation)
{
    auto picture = [](int x, int y) {
        return x >= 4 && x < 10 && y >= 4 && y < 10 ? Rgb{255, 255, 255} : Rgb{0, 0, 0};
    };
    for (int pattern : {0, 1, 2, 3}) {
        const auto out = demosaic(40, 30, mosaicOf(40, 30, pattern, picture), GetParam().number, pattern);
        const Rgb topLeft = pixelAt(out, 32, 22, 2, 2);
        EXPECT_GT(topLeft.r + topLeft.g + topLeft.b, 3 * 200) << "pattern " << pattern;
        for (auto [x, y] : {std::pair{29, 2}, {2, 19}, {29, 19}}) {
            const Rgb p = pixelAt(out, 32, 22, x, y);
            EXPECT_EQ(p.r + p.g + p.b, 0) << "pattern " << pattern << " at " << x << "," << y;
        }
    }
}

// Every byte of the (W - 8) x (H - 8) picture is written, and nothing after it. Two runs over
// buffers filled differently must agree, and a guard area after the picture must stay as it was.
TEST_P(EveryAlgorithm, WritesEveryByteOfThePictureAndNothingElse)
{
    for (auto [w, h] : {std::pair{9, 9}, {13, 11}, {64, 41}}) {
        const auto plane = noisePlane(w, h);
        const std::size_t picture = static_cast<std::size_t>(w - 8) * (h - 8) * 3;
        std::vector<std::uint8_t> a(picture + 64, 0x00), b(picture + 64, 0xFF);
        ASSERT_EQ(Dor2EzuPlane(w, h, plane.data(), a.data(), GetParam().number, 0), DOR2EZU_OK);
        ASSERT_EQ(Dor2EzuPlane(w, h, plane.data(), b.data(), GetParam().number, 0), DOR2EZU_OK);
        EXPECT_TRUE(std::equal(a.begin(), a.begin() + picture, b.begin())) << w << "x" << h;
        EXPECT_EQ(std::vector<std::uint8_t>(a.begin() + picture, a.end()), std::vector<std::uint8_t>(64, 0x00));
        EXPECT_EQ(std::vector<std::uint8_t>(b.begin() + picture, b.end()), std::vector<std::uint8_t>(64, 0xFF));
    }
}

// The picture's edge is drawn the way its centre is: the same plane, embedded in a larger one
// that continues it by mirroring about its outermost photosites (which keeps every site's colour),
// must give the same pixels. A read past the working copy's mirrored border would show here,
// since it finds other rows' bytes where the larger plane holds the true continuation.
TEST_P(EveryAlgorithm, EdgeIsDrawnLikeTheCentre)
{
    constexpr int kExtra = 16;
    for (auto [w, h] : {std::pair{9, 9}, {23, 41}, {40, 70}}) {
        const auto plane = noisePlane(w, h, static_cast<std::uint32_t>(w + h));
        const int bigW = w + 2 * kExtra, bigH = h + 2 * kExtra;
        // Reflected as often as it takes: 16 photosites reach further than a 9-photosite plane.
        auto mirror = [](int i, int n) {
            const int period = 2 * (n - 1);
            i %= period;
            if (i < 0)
                i += period;
            return i < n ? i : period - i;
        };
        std::vector<std::uint8_t> big(static_cast<std::size_t>(bigW) * bigH);
        for (int y = 0; y < bigH; ++y)
            for (int x = 0; x < bigW; ++x)
                big[static_cast<std::size_t>(y) * bigW + x] =
                    plane[static_cast<std::size_t>(mirror(y - kExtra, h)) * w + mirror(x - kExtra, w)];
        // The larger plane starts kExtra photosites earlier; an even offset keeps the pattern.
        const auto small = demosaic(w, h, plane, GetParam().number, 1);
        const auto large = demosaic(bigW, bigH, big, GetParam().number, 1);
        for (int y = 0; y < h - 8; ++y)
            for (int x = 0; x < w - 8; ++x)
                ASSERT_EQ(pixelAt(small, w - 8, h - 8, x, y),
                          pixelAt(large, bigW - 8, bigH - 8, x + kExtra, y + kExtra))
                    << w << "x" << h << " at " << x << "," << y;
    }
}

// Rows are cut into bands and rows into blocks of columns; where the cuts fall must not show. The
// same plane cropped by even offsets (which keep the pattern) moves every cut to other pixels, and
// the pixels far enough from the crop's edges must not change.
TEST_P(EveryAlgorithm, CutsBetweenBandsAndBlocksDoNotShow)
{
    constexpr int kW = 120, kH = 150, kAway = 12;
    const auto plane = noisePlane(kW, kH, 7);
    const auto whole = demosaic(kW, kH, plane, GetParam().number, 3);
    for (auto [dx, dy] : {std::pair{0, 2}, {2, 6}, {10, 16}, {34, 30}}) {
        const int w = kW - dx, h = kH - dy;
        std::vector<std::uint8_t> crop(static_cast<std::size_t>(w) * h);
        for (int y = 0; y < h; ++y)
            std::copy_n(plane.begin() + static_cast<std::ptrdiff_t>(y + dy) * kW + dx, w,
                        crop.begin() + static_cast<std::ptrdiff_t>(y) * w);
        const auto part = demosaic(w, h, crop, GetParam().number, 3);
        for (int y = kAway; y < h - 8 - kAway; ++y)
            for (int x = kAway; x < w - 8 - kAway; ++x)
                ASSERT_EQ(pixelAt(part, w - 8, h - 8, x, y), pixelAt(whole, kW - 8, kH - 8, x + dx, y + dy))
                    << "crop " << dx << "," << dy << " at " << x << "," << y;
    }
}

// Bands of rows may run on several threads; the picture must not depend on how many.
TEST_P(EveryAlgorithm, SameResultOnOneThreadOrMany)
{
    const auto plane = noisePlane(70, 150, 99);
    kestro::dor2ezu::setThreadCount(1);
    const auto single = demosaic(70, 150, plane, GetParam().number, 2);
    kestro::dor2ezu::setThreadCount(3);
    const auto several = demosaic(70, 150, plane, GetParam().number, 2);
    kestro::dor2ezu::setThreadCount(0);
    EXPECT_EQ(single, several);
}

TEST_P(EveryAlgorithm, UnknownPatternCodesDrawLikeBg)
{
    const auto plane = noisePlane(24, 20);
    const auto bg = demosaic(24, 20, plane, GetParam().number, 0);
    for (int pattern : {4, 7, -1, INT_MAX})
        EXPECT_EQ(demosaic(24, 20, plane, GetParam().number, pattern), bg);
}

INSTANTIATE_TEST_SUITE_P(Dor2Ezu, EveryAlgorithm, testing::ValuesIn(listedAlgorithms()),
                         [](const auto& info) { return "A" + std::to_string(info.param.number); });

TEST(Dor2Ezu, ListsNumberedAlgorithmsWithoutEleven)
{
    const auto all = listedAlgorithms();
    ASSERT_GE(all.size(), 4u);
    for (std::size_t i = 0; i < all.size(); ++i) {
        EXPECT_NE(all[i].number, 11) << all[i].name;
        EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(all[i].name[0])) &&
                    std::isdigit(static_cast<unsigned char>(all[i].name[1])) && all[i].name[2] == '-')
            << all[i].name;
        for (std::size_t j = 0; j < i; ++j)
            EXPECT_NE(all[i].number, all[j].number);
    }
    EXPECT_EQ(Dor2EzuEnumAlgorithms(nullptr, nullptr), DOR2EZU_ERR_ARGUMENT);
}

// Refusals return a negative result and leave the caller's buffer untouched. The plane is
// exactly W x H bytes so that the sanitizer build catches any read beyond it.
TEST(Dor2Ezu, RefusesUnknownAlgorithmsAndTinyPlanesWithoutTouchingMemory)
{
    struct Case {
        int w, h, algorithm;
        std::int32_t result;
    };
    const Case cases[] = {
        {20, 20, 11, DOR2EZU_ERR_ALGORITHM},      {20, 20, 0, DOR2EZU_ERR_ALGORITHM},
        {20, 20, 99, DOR2EZU_ERR_ALGORITHM},      {20, 20, -1, DOR2EZU_ERR_ALGORITHM},
        {20, 20, INT_MIN, DOR2EZU_ERR_ALGORITHM}, {8, 20, 1, DOR2EZU_ERR_TOO_SMALL},
        {20, 8, 1, DOR2EZU_ERR_TOO_SMALL},        {1, 1, 1, DOR2EZU_ERR_TOO_SMALL},
        {0, 0, 1, DOR2EZU_ERR_TOO_SMALL},         {-20, 20, 1, DOR2EZU_ERR_TOO_SMALL},
        {20, INT_MIN, 1, DOR2EZU_ERR_TOO_SMALL},
    };
    for (const Case& c : cases) {
        const auto plane = noisePlane(std::max(c.w, 1), std::max(c.h, 1));
        std::vector<std::uint8_t> out(32, 0x77);
        EXPECT_EQ(Dor2EzuPlane(c.w, c.h, plane.data(), out.data(), c.algorithm, 0), c.result)
            << c.w << "x" << c.h << " algorithm " << c.algorithm;
        EXPECT_EQ(out, std::vector<std::uint8_t>(32, 0x77));
    }
    std::vector<std::uint8_t> out(12 * 3, 0x77);
    const auto plane = noisePlane(20, 20);
    EXPECT_EQ(Dor2EzuPlane(20, 20, nullptr, out.data(), 1, 0), DOR2EZU_ERR_ARGUMENT);
    EXPECT_EQ(Dor2EzuPlane(20, 20, plane.data(), nullptr, 1, 0), DOR2EZU_ERR_ARGUMENT);
    EXPECT_EQ(out, std::vector<std::uint8_t>(12 * 3, 0x77));
}

} // namespace

// The one table every part of the program reads, against the sites written out by hand in the
// fixtures: a swapped row or a misnamed button would give every picture wrong colours.
TEST(BayerPattern, TableNamesTheSitesACameraRecords)
{
    using namespace kestro::bayer;
    for (const Pattern& p : kPatterns) {
        SCOPED_TRACE(p.button);
        const auto code = static_cast<std::size_t>(p.code);
        EXPECT_EQ(p.sensorName, kestro::test::kPatternQuads[code]);
        EXPECT_EQ(p.button, kestro::test::kPatternNames[code]);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x)
                EXPECT_EQ("RGB"[p.at(x, y)], kestro::test::siteColour(p.code, x, y)) << x << "," << y;
        EXPECT_EQ(patternFromButton(p.button), &p);
        EXPECT_EQ(&patternFromCode(p.code), &p);
    }
    EXPECT_EQ(&patternFromCode(-1), &kBG);
    EXPECT_EQ(&patternFromCode(4), &kBG);
    EXPECT_EQ(patternFromButton("bg"), nullptr);
    EXPECT_EQ(patternFromButton(""), nullptr);
}
