// The mosaic detector on planes made here, whose truth is known: raw colour discs through each of
// the four filters, and planes that are no mosaic (a monochrome sensor with its fixed-pattern
// noise, a grey object after white balance, sky alone). The broad sweep over targets, depths
// and containers is tools/mosaic_validation.py's; these cases pin the rules themselves.
#include "bayer_fixtures.h"
#include "mosaic_detect.h"
#include "test_support.h"
#include "video_source.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

using kestro::video::Certainty;
using kestro::video::MosaicEvidence;
using kestro::video::MosaicGuess;
namespace bayer = kestro::bayer;

// A deterministic normal deviate (Box-Muller over a linear congruential generator).
class Noise {
public:
    explicit Noise(std::uint32_t seed) : m_state(seed) {}
    double uniform()
    {
        m_state = m_state * 1664525u + 1013904223u;
        return (static_cast<double>(m_state >> 8) + 0.5) / 16777216.0;
    }
    double normal() { return std::sqrt(-2.0 * std::log(uniform())) * std::cos(6.283185307179586 * uniform()); }

private:
    std::uint32_t m_state;
};

struct Scene {
    // The object's raw level in each channel at full brightness, as a share of the full scale.
    double red = 0.45, green = 0.8, blue = 0.3;
    // Per-site gain noise fixed over the frames (a sensor's fixed pattern), and even columns' gain.
    double fixedPattern = 0.0, evenColumns = 1.0, evenRows = 1.0;
    double black = 0.03; // black level, share of full scale
    double readNoise = 0.004;
    double radius = 0.35; // of the smaller side; 0: no object
    double bands = 0.2;   // depth of the disc's bands
    bool monochrome = false;
};

// A banded, limb-darkened disc on black sky through the filter `pattern`, frame by frame drifting.
std::vector<std::uint16_t> planeOf(const Scene& s, const bayer::Pattern& pattern, int width, int height, int depth,
                                   int frame)
{
    const double full = (1 << depth) - 1;
    std::vector<std::uint16_t> plane(static_cast<std::size_t>(width) * height);
    Noise noise(1234u + 7u * static_cast<std::uint32_t>(frame));
    Noise fixed(99u);
    const double cx = width * 0.5 + frame * 0.7, cy = height * 0.5 + frame * 0.4;
    const double r = s.radius * std::min(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double d2 = ((x - cx) * (x - cx) + (y - cy) * (y - cy)) / (r * r + 1e-9);
            double light = 0;
            if (d2 < 1) {
                const double band = 1 - s.bands + s.bands * std::sin((y - cy) * 0.35);
                light = band * (0.4 + 0.6 * std::sqrt(1 - d2));
            }
            double level = s.green;
            if (!s.monochrome) {
                const bayer::Colour c = pattern.at(x, y);
                level = c == bayer::kRed ? s.red : c == bayer::kGreen ? s.green : s.blue;
            }
            double v = light * level * (1 + s.fixedPattern * fixed.normal()) * (x % 2 == 0 ? s.evenColumns : 1.0) *
                       (y % 2 == 0 ? s.evenRows : 1.0);
            v = s.black + v + std::sqrt(std::max(v, 0.0) / full) * noise.normal() + s.readNoise * noise.normal();
            plane[static_cast<std::size_t>(y) * width + x] =
                static_cast<std::uint16_t>(std::clamp(std::lround(v * full), 0L, static_cast<long>(full)));
        }
    return plane;
}

MosaicGuess judge(const Scene& s, const bayer::Pattern& pattern, int depth, int frames = 4, int width = 320,
                  int height = 240)
{
    MosaicEvidence evidence;
    for (int f = 0; f < frames; ++f) {
        const std::vector<std::uint16_t> plane = planeOf(s, pattern, width, height, depth, f);
        if (depth <= 8) {
            std::vector<std::uint8_t> bytes(plane.begin(), plane.end());
            evidence.AddPlane(bytes.data(), width, width, height, 1, depth);
        } else {
            evidence.AddPlane(reinterpret_cast<const std::uint8_t*>(plane.data()), 2 * width, width, height, 2, depth);
        }
    }
    return evidence.Judge();
}

std::string said(const MosaicGuess& g) { return kestro::video::DescribeGuess(g); }

// Warm and near-grey raw colour through each filter, in 8 and 12 bits: the order is found, the
// green sites for sure, red and blue as likely, never more.
TEST(MosaicDetect, RawColourDiscsShowTheirOrder)
{
    const Scene warm;
    Scene nearGrey;
    nearGrey.red = 0.5, nearGrey.green = 0.85, nearGrey.blue = 0.42;
    for (const bayer::Pattern& p : bayer::kPatterns)
        for (const Scene* s : {&warm, static_cast<const Scene*>(&nearGrey)})
            for (const int depth : {8, 12, 16}) {
                SCOPED_TRACE(std::string(p.sensorName) + ", " + std::to_string(depth) + "-bit" +
                             (s == &warm ? ", warm" : ", near grey"));
                const MosaicGuess g = judge(*s, p, depth);
                ASSERT_TRUE(g.mosaic) << said(g);
                ASSERT_NE(g.pattern, nullptr) << said(g);
                EXPECT_STREQ(g.pattern->sensorName, p.sensorName) << said(g);
                EXPECT_EQ(g.diagonal, Certainty::Sure) << said(g);
                EXPECT_EQ(g.redBlue, Certainty::Likely) << said(g);
                EXPECT_EQ(g.frames, 4);
            }
}

// What holds no mosaic is never called one, whatever its noise: a monochrome sensor with per-pixel
// gains and even columns 4% brighter, a grey object whose sites were balanced, a sky with nothing
// in it, and a disc clipped white.
TEST(MosaicDetect, PlanesWithoutAMosaicAreNotCalledOne)
{
    struct Case {
        const char* name;
        Scene scene;
        const char* reason;
    };
    Scene mono;
    mono.monochrome = true, mono.fixedPattern = 0.02, mono.evenColumns = 1.04;
    // Even rows 6% and even columns 8% brighter: the block is 1, 1.08 / 1.06, 1.14, which has a
    // diagonal that agrees and one that differs by 14%, as red and blue would.
    Scene columnsAndRows = mono;
    columnsAndRows.fixedPattern = 0.002, columnsAndRows.evenColumns = 1.08, columnsAndRows.evenRows = 1.06;
    columnsAndRows.bands = 0;
    Scene balanced;
    balanced.red = balanced.green = balanced.blue = 0.7;
    Scene sky;
    sky.radius = 0;
    Scene clipped;
    clipped.red = clipped.green = clipped.blue = 3.0;
    const Case cases[] = {{"monochrome", mono, "agree"},
                          {"monochrome, even rows and columns brighter", columnsAndRows, "rows and columns"},
                          {"balanced grey", balanced, "agree"},
                          {"sky alone", sky, ""},
                          {"clipped", clipped, "too little"}};
    for (const Case& c : cases)
        for (const int depth : {8, 12}) {
            SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(depth) + "-bit");
            const MosaicGuess g = judge(c.scene, bayer::kGB, depth);
            EXPECT_FALSE(g.mosaic) << said(g);
            EXPECT_EQ(g.pattern, nullptr);
            EXPECT_EQ(g.diagonal, Certainty::Unsure);
            EXPECT_NE(g.reason.find(c.reason), std::string::npos) << g.reason;
        }
}

// When red and blue are as bright as each other, both pairs of sites agree and nothing in the data
// says which one is green: the brighter is taken as green, as raw data have it, but only as likely.
// Where the pair that disagrees is much brighter than the pair that agrees (a magenta object), the
// rule that the agreeing pair is green stands against the levels and is not sure either.
TEST(MosaicDetect, WhatRestsOnAnAssumptionIsNeverSure)
{
    Scene level;
    level.red = level.blue = 0.4;
    Scene magenta;
    magenta.red = 0.9, magenta.green = 0.25, magenta.blue = 0.6;
    for (const bayer::Pattern& p : bayer::kPatterns) {
        SCOPED_TRACE(p.sensorName);
        const MosaicGuess g = judge(level, p, 12);
        ASSERT_TRUE(g.mosaic) << said(g);
        ASSERT_NE(g.pattern, nullptr) << said(g);
        EXPECT_EQ(bayer::greenOnMainDiagonal(*g.pattern), bayer::greenOnMainDiagonal(p)) << said(g);
        EXPECT_EQ(g.diagonal, Certainty::Likely) << said(g);
        EXPECT_NE(g.redBlue, Certainty::Sure);

        const MosaicGuess m = judge(magenta, p, 12);
        EXPECT_NE(m.diagonal, Certainty::Sure) << said(m);
    }
}

// A small disc still tells its order from a few frames, and a hot pixel in the sky changes nothing.
TEST(MosaicDetect, SmallDiscsAndHotPixels)
{
    Scene small;
    small.radius = 0.08;
    MosaicEvidence evidence;
    for (int f = 0; f < 8; ++f) {
        std::vector<std::uint16_t> plane = planeOf(small, bayer::kRG, 320, 240, 12, f);
        plane[5 * 320 + 7] = 4095;
        plane[200 * 320 + 300] = 4000;
        evidence.AddPlane(reinterpret_cast<const std::uint8_t*>(plane.data()), 640, 320, 240, 2, 12);
    }
    const MosaicGuess g = evidence.Judge();
    ASSERT_NE(g.pattern, nullptr) << said(g);
    EXPECT_STREQ(g.pattern->sensorName, "BGGR") << said(g);
    EXPECT_EQ(g.diagonal, Certainty::Sure) << said(g);
}

// Nonsense handed to the evidence is passed over, not read past.
TEST(MosaicDetect, PlanesThatCannotBeMeasuredAreIgnored)
{
    MosaicEvidence evidence;
    const std::vector<std::uint8_t> plane(64, 200);
    evidence.AddPlane(nullptr, 8, 8, 8, 1, 8);
    evidence.AddPlane(plane.data(), 8, 1, 8, 1, 8);
    evidence.AddPlane(plane.data(), 8, 8, 8, 3, 8);
    evidence.AddPlane(plane.data(), 8, 8, 8, 1, 12);
    evidence.AddPlane(plane.data(), 8, 8, 1, 1, 8);
    const MosaicGuess g = evidence.Judge();
    EXPECT_EQ(g.frames, 0);
    EXPECT_FALSE(g.mosaic);
}

// The file's word against the data's: kept unless the data put green on the other diagonal for
// sure; where the two agree on the diagonal, the file settles red and blue.
TEST(MosaicDetect, ChoosingBetweenTheFileAndTheData)
{
    MosaicGuess sure;
    sure.mosaic = true, sure.pattern = &bayer::kBG, sure.diagonal = Certainty::Sure, sure.redBlue = Certainty::Likely;
    MosaicGuess likely = sure;
    likely.diagonal = Certainty::Likely;
    const MosaicGuess none;
    struct Case {
        const MosaicGuess& guess;
        const bayer::Pattern* stated;
        const bayer::Pattern* chosen;
        bool contradicts;
    } const cases[] = {
        {sure, &bayer::kGR, &bayer::kGR, false},   // GBRG said, GRBG seen: same green sites, file's red
        {sure, &bayer::kGB, &bayer::kBG, true},    // RGGB said: green on the other diagonal
        {likely, &bayer::kGB, &bayer::kGB, false}, // a likely diagonal does not overrule the file
        {sure, nullptr, &bayer::kBG, false},       {none, &bayer::kRG, &bayer::kRG, false},
        {none, nullptr, nullptr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.stated ? c.stated->sensorName : "nothing") + " stated");
        EXPECT_EQ(kestro::video::ChoosePattern(c.guess, c.stated), c.chosen);
        if (c.stated) {
            EXPECT_EQ(kestro::video::ContradictsDiagonal(c.guess, *c.stated), c.contradicts);
        }
    }
}

// On a capture: at most eight frames are read, spread over it, and a sample AVI shows its pattern.
TEST(MosaicDetect, CapturesAreJudgedFromEightFramesSpreadOverThem)
{
    kestro::test::ScratchDir dir;
    for (const bayer::Pattern& p : bayer::kPatterns) {
        SCOPED_TRACE(p.button);
        const std::string path = dir.file(std::string("s") + p.button + ".avi");
        kestro::test::makeSample(path, std::string("--width 160 --height 120 --frames 30 --pattern ") + p.button);
        std::string error;
        const MosaicGuess g = kestro::video::DetectMosaic(path, std::nullopt, nullptr, &error);
        EXPECT_EQ(error, "");
        EXPECT_EQ(g.frames, kestro::video::kMosaicFrames);
        ASSERT_NE(g.pattern, nullptr) << said(g);
        EXPECT_EQ(g.pattern, &p) << said(g);
    }
    std::string error;
    const MosaicGuess missing = kestro::video::DetectMosaic(dir.file("missing.avi"), std::nullopt, nullptr, &error);
    EXPECT_FALSE(missing.mosaic);
    EXPECT_NE(error, "");
    std::atomic<bool> stop{true};
    const MosaicGuess stopped = kestro::video::DetectMosaic(dir.file("sBG.avi"), std::nullopt, &stop, nullptr);
    EXPECT_EQ(stopped.frames, 0);
    EXPECT_FALSE(stopped.mosaic);
}

} // namespace
