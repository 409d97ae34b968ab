// Display levels: a black point, a white point and a gamma that brighten or stretch the picture
// on screen so a dim capture can be judged. They live in the frame view only; the video source,
// and so every export, never sees them.
//
// The mapping is one table of 256 entries, the same for every channel so colours keep their
// balance, applied where the frame view makes its one copy of a rendered frame. The histogram of
// a frame and the Auto stretch work on the rendered frame before the levels.
#pragma once

#include "avifile.h"

#include <array>
#include <cstdint>

namespace kestro::shell {

struct DisplayLevels {
    static constexpr int kMinGap = 1;
    static constexpr double kMinGamma = 0.1;
    static constexpr double kMaxGamma = 10.0;

    // Input values at or below the black point show black, those at or above the white point
    // white; between them the ramp is raised to 1/gamma, so a gamma above 1 lifts the shadows.
    int nBlack = 0;
    int nWhite = 255;
    double dGamma = 1.0;

    bool IsIdentity() const { return nBlack == 0 && nWhite == 255 && dGamma == 1.0; }
    // The same levels brought inside their ranges: black below white, gamma within its limits.
    DisplayLevels Clamped() const;
    bool operator==(const DisplayLevels&) const = default;
};

using LevelsTable = std::array<std::uint8_t, 256>;
LevelsTable MakeLevelsTable(const DisplayLevels& levels);

// Counts of each 8-bit value in a rendered frame: for colour frames one table per channel
// (blue, green, red, as the bitmap stores them), for grey ones the first table only.
struct FrameHistogram {
    std::array<std::array<std::uint32_t, 256>, 3> counts{};
    bool bColour = false;
    bool bValid = false;
};

// The histogram of a frame bitmap of the video source (8-bit through its colour table, 24- or
// 32-bit blue, green, red); an invalid one for a bitmap it cannot read.
FrameHistogram CountFrame(const BITMAPINFOHEADER* pBitmap);

// A stretch of the whole picture from its histogram: the black point at the value 0.1% of the
// samples lie below, the white point at the one 0.1% lie above, gamma 1. A flat picture, whose
// percentiles meet, keeps a gap of one value rather than dividing by nothing.
DisplayLevels AutoLevels(const FrameHistogram& histogram);

} // namespace kestro::shell
