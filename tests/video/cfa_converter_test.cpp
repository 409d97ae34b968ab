#include "cfa_converter.h"

#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "algorithm_list.h"
#include "bayer_fixtures.h"
#include "debayer_bilinear.h"
#include "dor2ezu.h"

namespace {

using kestro::test::mosaicOf;
using kestro::test::noisePlane;
using kestro::test::pixelAt;
using kestro::test::Rgb;

constexpr int BG = 0, GB = 1, GR = 2, RG = 3;

struct Converted {
    std::vector<std::uint8_t> pixels;
    std::int32_t width = -1, height = -1;
    bool ok = false;
};

Converted convert(CCfaConverter& converter, int w, int h, const std::vector<std::uint8_t>& plane,
                  std::uint8_t fill = 0xAB)
{
    Converted c;
    c.pixels.assign(static_cast<std::size_t>(w) * h * 3, fill);
    c.ok = converter.ConvertPlane(w, h, plane.data(), c.pixels.data(), c.width, c.height);
    return c;
}

Converted own(int w, int h, const std::vector<std::uint8_t>& plane, int pattern, std::uint8_t fill = 0xAB)
{
    CCfaConverter converter;
    converter.SetPattern(pattern);
    return convert(converter, w, h, plane, fill);
}

TEST(CfaConverter, StartsWithOwnAlgorithmAndPatternCode1)
{
    CCfaConverter converter;
    EXPECT_EQ(converter.GetAlgorithm(), 11);
    EXPECT_EQ(converter.GetPattern(), 1);
}

TEST(CfaConverter, UniformPlaneGivesItsValueInEveryComputedPixelForEveryPattern)
{
    for (int pattern : {BG, GB, GR, RG, 7, -1}) {
        for (int v : {0, 1, 128, 254, 255}) {
            const std::vector<std::uint8_t> plane(8 * 6, static_cast<std::uint8_t>(v));
            const Converted c = own(8, 6, plane, pattern);
            for (int y = 1; y < 5; ++y)
                for (int x = 1; x < 7; ++x) {
                    const auto u = static_cast<std::uint8_t>(v);
                    ASSERT_EQ(pixelAt(c.pixels, 8, 6, x, y), (Rgb{u, u, u}))
                        << "pattern " << pattern << " value " << v << " at " << x << "," << y;
                }
        }
    }
}

// A 4 x 3 plane has two interior photosites. With "BG", (1,1) is green and (2,1) blue.
TEST(CfaConverter, FourByThreePlaneComputesExactlyTwoPixelsAndBlacksTheRest)
{
    const std::vector<std::uint8_t> plane = {
        3, 8,   1,  250, //
        7, 100, 20, 9,   //
        5, 41,  6,  200,
    };
    const Converted c = own(4, 3, plane, BG);
    ASSERT_TRUE(c.ok);
    EXPECT_EQ(c.width, 4);
    EXPECT_EQ(c.height, 3);
    // Green site: blue from left/right, red from up/down.
    EXPECT_EQ(pixelAt(c.pixels, 4, 3, 1, 1), (Rgb{(8 + 41 + 1) / 2, 100, (7 + 20 + 1) / 2}));
    // Blue site: green from the four direct neighbours, red from the four diagonal ones.
    EXPECT_EQ(pixelAt(c.pixels, 4, 3, 2, 1), (Rgb{(8 + 250 + 41 + 200 + 2) / 4, (1 + 6 + 100 + 9 + 2) / 4, 20}));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            if (y != 1 || (x != 1 && x != 2)) {
                EXPECT_EQ(pixelAt(c.pixels, 4, 3, x, y), (Rgb{0, 0, 0})) << x << "," << y;
            }
}

TEST(CfaConverter, NeighbourhoodsOfGbAndBgOnFourByFour)
{
    const std::vector<std::uint8_t> plane = {
        200, 13,  90, 7,   //
        31,  64,  5,  250, //
        17,  180, 44, 3,   //
        9,   8,   7,  6,
    };
    const Converted gb = own(4, 4, plane, GB);
    // (1,1) is a blue site under "GB".
    EXPECT_EQ(pixelAt(gb.pixels, 4, 4, 1, 1), (Rgb{(200 + 90 + 17 + 44 + 2) >> 2, (13 + 180 + 31 + 5 + 2) >> 2, 64}));
    // (2,1) is a green site: blue across the row, red up and down.
    EXPECT_EQ(pixelAt(gb.pixels, 4, 4, 2, 1), (Rgb{(90 + 44 + 1) >> 1, 5, (64 + 250 + 1) >> 1}));

    // Under "BG" (1,1) is green with red above and below, blue left and right.
    const Converted bg = own(4, 4, plane, BG);
    EXPECT_EQ(pixelAt(bg.pixels, 4, 4, 1, 1), (Rgb{(13 + 180 + 1) >> 1, 64, (31 + 5 + 1) >> 1}));
}

TEST(CfaConverter, MeansRoundHalfUp)
{
    struct Case {
        int pattern;
        std::vector<std::uint8_t> plane; // 3 x 3: only (1,1) is computed
        Rgb expected;
    };
    const Case cases[] = {
        // "BG": (1,1) green; red is the mean of 1 above and 2 below, blue of 1 and 2 beside.
        {BG, {0, 1, 0, 1, 9, 2, 0, 2, 0}, {2, 9, 2}},
        // "GB": (1,1) blue; green is the mean of the four direct neighbours, red of the diagonals.
        {GB, {1, 1, 2, 1, 9, 2, 2, 2, 1}, {2, 2, 9}}, // 1,1,2,2 -> 2 (1.5 goes up)
        {GB, {1, 1, 1, 1, 9, 1, 1, 2, 2}, {1, 1, 9}}, // 1,1,1,2 -> 1 (1.25 goes down)
    };
    for (const Case& c : cases)
        EXPECT_EQ(pixelAt(own(3, 3, c.plane, c.pattern).pixels, 3, 3, 1, 1), c.expected) << "pattern " << c.pattern;
}

TEST(CfaConverter, UnknownPatternCodesDrawLikeBg)
{
    const auto plane = noisePlane(12, 10);
    const auto bg = own(12, 10, plane, BG).pixels;
    for (int pattern : {7, 4, -1, 1000})
        EXPECT_EQ(own(12, 10, plane, pattern).pixels, bg) << pattern;
}

// Each pattern puts its colours where the mosaic says; a picture of three flat colour bands
// therefore comes back with the bands' colours away from their borders.
TEST(CfaConverter, EveryPatternKeepsTheColoursOfFlatBands)
{
    const Rgb bands[] = {{200, 40, 10}, {10, 180, 90}, {60, 70, 240}};
    auto picture = [&](int, int y) { return bands[y / 6]; };
    for (int pattern : {BG, GB, GR, RG}) {
        const auto plane = mosaicOf(10, 18, pattern, picture);
        const Converted c = own(10, 18, plane, pattern);
        for (int band = 0; band < 3; ++band)
            for (int y = band * 6 + 2; y < band * 6 + 4; ++y)
                for (int x = 1; x < 9; ++x)
                    ASSERT_EQ(pixelAt(c.pixels, 10, 18, x, y), bands[band])
                        << kestro::test::kPatternNames[pattern] << " at " << x << "," << y;
    }
}

TEST(CfaConverter, RingIsBlackedAtEveryConversion)
{
    const auto plane = noisePlane(16, 8);
    CCfaConverter converter;
    std::vector<std::uint8_t> pixels(16 * 8 * 3, 0xFF);
    std::int32_t w = 0, h = 0;
    for (int round = 0; round < 2; ++round) {
        converter.ConvertPlane(16, 8, plane.data(), pixels.data(), w, h);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 16; ++x)
                if (x == 0 || y == 0 || x == 15 || y == 7) {
                    ASSERT_EQ(pixelAt(pixels, 16, 8, x, y), (Rgb{0, 0, 0})) << "round " << round;
                }
        std::fill(pixels.begin(), pixels.end(), 0x5A); // the stale picture of an earlier frame
    }
}

TEST(CfaConverter, PlanesWithoutInteriorComeOutBlack)
{
    for (auto [w, h] : {std::pair{1, 1}, {2, 5}, {5, 2}, {1, 9}}) {
        const Converted c = own(w, h, noisePlane(w, h), BG);
        EXPECT_EQ(c.width, w);
        EXPECT_EQ(c.height, h);
        EXPECT_EQ(c.pixels, std::vector<std::uint8_t>(static_cast<std::size_t>(w) * h * 3, 0)) << w << "x" << h;
    }
}

// The vector kernel against the algorithm walked two sites per step, for every instruction set this
// machine runs, over sizes that leave every kind of row tail and odd and even numbers of rows.
TEST(CfaConverter, VectorKernelMatchesTheReferenceBitForBit)
{
    using kestro::video::BayerLayout;
    for (std::int64_t target : hwy::SupportedAndGeneratedTargets()) {
        SCOPED_TRACE(hwy::TargetName(target));
        hwy::SetSupportedTargetsForTest(target);
        for (int layout = 40; layout <= 43; ++layout)
            for (auto [w, h] : {std::pair{3, 3},
                                {4, 3},
                                {5, 7},
                                {17, 5},
                                {33, 4},
                                {64, 6},
                                {67, 5},
                                {130, 4},
                                {131, 9},
                                {641, 3},
                                {700, 6}}) {
                const auto plane = noisePlane(w, h, static_cast<std::uint32_t>(w * 131 + h));
                std::vector<std::uint8_t> fast(static_cast<std::size_t>(w) * h * 3, 0x11);
                std::vector<std::uint8_t> reference = fast;
                kestro::video::deBayerInterior(BayerLayout::fromCode(layout), w, h, plane.data(), fast.data());
                kestro::video::deBayerInteriorReference(BayerLayout::fromCode(layout), w, h, plane.data(),
                                                        reference.data());
                ASSERT_EQ(fast, reference) << "layout " << layout << ", " << w << "x" << h;
            }
    }
    hwy::SetSupportedTargetsForTest(0);
}

TEST(CfaConverter, LibraryAlgorithmsReportTheFrameWithoutItsMargin)
{
    const char* const* names = nullptr;
    std::int32_t count = 0;
    Dor2EzuEnumAlgorithms(&names, &count);
    ASSERT_GT(count, 0);
    CCfaConverter converter;
    converter.SetPattern(BG);
    converter.SetAlgorithm(std::stoi(std::string(names[0], 2)));
    const Converted library = convert(converter, 20, 16, noisePlane(20, 16));
    EXPECT_TRUE(library.ok);
    EXPECT_EQ(library.width, 12);
    EXPECT_EQ(library.height, 8);

    // Back to the own algorithm: full size again.
    converter.SetAlgorithm(11);
    const Converted ownResult = convert(converter, 20, 16, noisePlane(20, 16));
    EXPECT_EQ(ownResult.width, 20);
    EXPECT_EQ(ownResult.height, 16);
}

TEST(CfaConverter, LibraryRefusalLeavesThePicturesBufferAlone)
{
    CCfaConverter converter;
    for (auto [w, h, algorithm] : {std::tuple{8, 40, 1}, {40, 8, 1}, {40, 40, 99}, {40, 40, 0}}) {
        converter.SetAlgorithm(algorithm);
        const Converted c = convert(converter, w, h, noisePlane(w, h), 0x77);
        EXPECT_FALSE(c.ok) << w << "x" << h << " algorithm " << algorithm;
        EXPECT_EQ(c.pixels, std::vector<std::uint8_t>(static_cast<std::size_t>(w) * h * 3, 0x77));
    }
}

// The list as the library gives it: two-digit numbers that are distinct and never 11.
TEST(CfaConverter, ListsTheLibrarysAlgorithmsInItsOrder)
{
    const char* const* names = nullptr;
    std::int32_t count = 0;
    Dor2EzuEnumAlgorithms(&names, &count);
    CCfaConverter converter;
    const auto& list = converter.GetAlgorithmNames();
    ASSERT_EQ(list.size(), static_cast<std::size_t>(count));
    std::set<std::string> numbers;
    for (std::size_t i = 0; i < list.size(); ++i) {
        EXPECT_EQ(list[i], names[i]);
        ASSERT_GE(list[i].size(), 3u);
        EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(list[i][0])) &&
                    std::isdigit(static_cast<unsigned char>(list[i][1])))
            << list[i];
        EXPECT_NE(list[i].substr(0, 2), "11");
        EXPECT_TRUE(numbers.insert(list[i].substr(0, 2)).second) << "repeated number in " << list[i];
    }
}

TEST(AlgorithmList, NumberOfAnEntry)
{
    constexpr int kNone = -1000;
    for (const auto& [entry, number] : std::vector<std::pair<std::string, int>>{{"11-DeBayerToRGB", 11},
                                                                                {"03-VNG", 3},
                                                                                {"42", 42},
                                                                                {"AHD", kNone},
                                                                                {"4a-Odd", kNone},
                                                                                {" 4-Odd", kNone},
                                                                                {"", kNone}})
        EXPECT_EQ(kestro::video::AlgorithmNumberOf(entry).value_or(kNone), number) << '"' << entry << '"';
}

// Stand-ins for the library's enumeration entry.
std::int32_t enumerateNothing(const char* const** names, std::int32_t* count)
{
    *names = nullptr;
    *count = 0;
    return 0;
}
std::int32_t enumerateNegative(const char* const** names, std::int32_t* count)
{
    static const char* const list[] = {"01-A"};
    *names = list;
    *count = -3;
    return 0;
}
char g_mutableName[] = "07-Changing";
std::int32_t enumerateWithEmptyName(const char* const** names, std::int32_t* count)
{
    static const char* const list[] = {"01-A", "", g_mutableName};
    *names = list;
    *count = 3;
    return 0;
}

TEST(CfaConverter, ListIsCopiedOnceAndKeepsEmptyNames)
{
    EXPECT_TRUE(CCfaConverter(enumerateNothing).GetAlgorithmNames().empty());
    EXPECT_TRUE(CCfaConverter(enumerateNegative).GetAlgorithmNames().empty());

    CCfaConverter converter(enumerateWithEmptyName);
    std::strcpy(g_mutableName, "08-Changed!"); // the library's strings may change afterwards
    EXPECT_EQ(converter.GetAlgorithmNames(), (std::vector<std::string>{"01-A", "", "07-Changing"}));
}

} // namespace
