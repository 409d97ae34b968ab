// The kernels of the converter's own algorithm (number 11): bilinear interpolation over the 3 x 3
// neighbourhood in integers, at full frame size.
#pragma once

#include <cstdint>

namespace kestro::video {

// Which sites of a plane carry which colour, given as one of the layout codes 40..43. Row 1 of the
// plane has its green sites at odd x (41, 43) or even x (40, 42) and its other sites blue (40, 41)
// or red (42, 43); every other row swaps both.
struct BayerLayout {
    bool row1GreenOdd;
    bool row1Red;

    static BayerLayout fromCode(std::int32_t layout) { return {(layout & 1) != 0, (layout & 2) != 0}; }
};

// Compute every interior pixel (1 <= x <= W-2, 1 <= y <= H-2) of the bottom-up output and nothing
// else. The reference walks two sites per step exactly as the algorithm is defined; the fast one is
// vectorised with run-time dispatch and must give the same bytes.
void deBayerInteriorReference(BayerLayout layout, int width, int height, const std::uint8_t* plane,
                              std::uint8_t* pixels);
void deBayerInterior(BayerLayout layout, int width, int height, const std::uint8_t* plane, std::uint8_t* pixels);

// Set the outer ring of the output (rows 0 and H-1, columns 0 and W-1) to black.
void clearRing(int width, int height, std::uint8_t* pixels);

} // namespace kestro::video
