// Algorithm 11, bilinear interpolation over the 3 x 3 neighbourhood in integers.
//
// At a green site the row colour is the mean of the left and right neighbours and the cross colour
// the mean of the upper and lower ones; at a red or blue site green is the mean of the four direct
// neighbours and the cross colour the mean of the four diagonal ones. Means round half up:
// (a + b + 1) >> 1 and (a + b + c + d + 2) >> 2.
//
// This file is compiled once per SIMD target (Highway's foreach_target) and the best one for the
// running processor is chosen at the first call.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "debayer_bilinear.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "debayer_bilinear.h"

#ifndef KESTRO_DEBAYER_SCALAR_ONCE
#define KESTRO_DEBAYER_SCALAR_ONCE
namespace kestro::video::detail {

// One row of the plane and how its sites are coloured.
struct RowLayout {
    int greenParity;  // x parity of the green sites in this row
    bool rowRed;      // the non-green sites of this row are red (else blue)
};

inline RowLayout rowLayout(BayerLayout layout, int y) {
    // Rows with odd y are like row 1; rows with even y swap both properties.
    const bool likeRow1 = (y & 1) != 0;
    const int row1Parity = layout.row1GreenOdd ? 1 : 0;
    return {likeRow1 ? row1Parity : 1 - row1Parity, likeRow1 ? layout.row1Red : !layout.row1Red};
}

// Output pixel of the green site at column x (blue, green, red).
inline void greenSite(const std::uint8_t* up, const std::uint8_t* cur, const std::uint8_t* down, int x,
                      int rowOffset, int crossOffset, std::uint8_t* pixel) {
    pixel[1] = cur[x];
    pixel[rowOffset] = static_cast<std::uint8_t>((cur[x - 1] + cur[x + 1] + 1) >> 1);
    pixel[crossOffset] = static_cast<std::uint8_t>((up[x] + down[x] + 1) >> 1);
}

// Output pixel of the red or blue site at column x.
inline void otherSite(const std::uint8_t* up, const std::uint8_t* cur, const std::uint8_t* down, int x,
                      int rowOffset, int crossOffset, std::uint8_t* pixel) {
    pixel[rowOffset] = cur[x];
    pixel[1] = static_cast<std::uint8_t>((up[x] + down[x] + cur[x - 1] + cur[x + 1] + 2) >> 2);
    pixel[crossOffset] =
        static_cast<std::uint8_t>((up[x - 1] + up[x + 1] + down[x - 1] + down[x + 1] + 2) >> 2);
}

// Sites x0 <= x < x1 of one row, one at a time (the vector loop's tail).
inline void sitesOfRow(RowLayout row, const std::uint8_t* up, const std::uint8_t* cur,
                       const std::uint8_t* down, int x0, int x1, std::uint8_t* out) {
    const int rowOffset = row.rowRed ? 2 : 0;
    const int crossOffset = 2 - rowOffset;
    for (int x = x0; x < x1; ++x) {
        if ((x & 1) == row.greenParity)
            greenSite(up, cur, down, x, rowOffset, crossOffset, out + 3 * x);
        else
            otherSite(up, cur, down, x, rowOffset, crossOffset, out + 3 * x);
    }
}

}  // namespace kestro::video::detail
#endif

HWY_BEFORE_NAMESPACE();
namespace kestro::video::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Rounded mean of four bytes, (a + b + c + d + 2) >> 2, in 8-bit lanes. With p and q the rounded
// means of the pairs, p + q overshoots the exact sum by half the number of pairs that rounded up;
// the rounded mean of p and q is the answer except when a pair rounded up and p + q is odd, where it
// is one too high.
template <class D, class V>
HWY_INLINE V mean4(D d, V a, V b, V c, V d4) {
    const V p = hn::AverageRound(a, b);
    const V q = hn::AverageRound(c, d4);
    const V pairRounded = hn::Or(hn::Xor(a, b), hn::Xor(c, d4));
    const V oneTooHigh = hn::And(hn::And(hn::Xor(p, q), pairRounded), hn::Set(d, 1));
    return hn::Sub(hn::AverageRound(p, q), oneTooHigh);
}

// The interior of the picture, a vector of sites at a time. Both formulas are computed for every
// lane and the site colour picks one, so the loop has no branch. The row's last vector is placed
// to end on its last site and may overlap the one before: the overlap is computed twice, to the
// same values, instead of a scalar tail.
void deBayerInteriorSimd(BayerLayout layout, int width, int height, const std::uint8_t* plane,
                         std::uint8_t* pixels) {
    const hn::ScalableTag<std::uint8_t> d8;
    const int lanes = static_cast<int>(hn::Lanes(d8));
    const std::size_t rowBytes = static_cast<std::size_t>(width);
    // Lanes of a vector that starts at an even x hold even x at even lanes.
    const auto evenLane = hn::Eq(hn::And(hn::Iota(d8, 0), hn::Set(d8, 1)), hn::Zero(d8));

    for (int y = 1; y + 1 < height; ++y) {
        const detail::RowLayout row = detail::rowLayout(layout, y);
        const std::uint8_t* cur = plane + static_cast<std::size_t>(y) * rowBytes;
        const std::uint8_t* up = cur - rowBytes;
        const std::uint8_t* down = cur + rowBytes;
        std::uint8_t* out = pixels + static_cast<std::size_t>(height - 1 - y) * 3 * rowBytes;
        if (width - 2 < lanes) {
            detail::sitesOfRow(row, up, cur, down, 1, width - 1, out);
            continue;
        }
        // Green lanes for a vector starting at an even x, and at an odd x.
        const auto greenFromEven = row.greenParity == 0 ? evenLane : hn::Not(evenLane);
        const auto greenFromOdd = hn::Not(greenFromEven);

        auto vectorAt = [&](int x) {
            const auto ul = hn::LoadU(d8, up + x - 1), u = hn::LoadU(d8, up + x), ur = hn::LoadU(d8, up + x + 1);
            const auto l = hn::LoadU(d8, cur + x - 1), c = hn::LoadU(d8, cur + x), r = hn::LoadU(d8, cur + x + 1);
            const auto dl = hn::LoadU(d8, down + x - 1), dn = hn::LoadU(d8, down + x),
                       dr = hn::LoadU(d8, down + x + 1);
            const auto green = (x & 1) == 0 ? greenFromEven : greenFromOdd;

            const auto g = hn::IfThenElse(green, c, mean4(d8, u, dn, l, r));
            const auto rowColour = hn::IfThenElse(green, hn::AverageRound(l, r), c);
            const auto crossColour = hn::IfThenElse(green, hn::AverageRound(u, dn), mean4(d8, ul, ur, dl, dr));
            const auto red = row.rowRed ? rowColour : crossColour;
            const auto blue = row.rowRed ? crossColour : rowColour;
            hn::StoreInterleaved3(blue, g, red, d8, out + 3 * x);
        };
        int x = 1;
        for (; x + lanes <= width - 1; x += lanes) vectorAt(x);
        if (x < width - 1) vectorAt(width - 1 - lanes);
    }
}

}  // namespace kestro::video::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kestro::video {

HWY_EXPORT(deBayerInteriorSimd);

void deBayerInterior(BayerLayout layout, int width, int height, const std::uint8_t* plane,
                     std::uint8_t* pixels) {
    if (width < 3 || height < 3) return;
    HWY_DYNAMIC_DISPATCH(deBayerInteriorSimd)(layout, width, height, plane, pixels);
}

// The algorithm as written: row by row, two sites per step (a red or blue site and a green site),
// one site alone at either end of a row when the row's parity leaves it over.
void deBayerInteriorReference(BayerLayout layout, int width, int height, const std::uint8_t* plane,
                              std::uint8_t* pixels) {
    const std::size_t rowBytes = static_cast<std::size_t>(width);
    for (int y = 1; y + 1 < height; ++y) {
        const detail::RowLayout row = detail::rowLayout(layout, y);
        const std::uint8_t* cur = plane + static_cast<std::size_t>(y) * rowBytes;
        const std::uint8_t* up = cur - rowBytes;
        const std::uint8_t* down = cur + rowBytes;
        std::uint8_t* out = pixels + static_cast<std::size_t>(height - 1 - y) * 3 * rowBytes;
        const int rowOffset = row.rowRed ? 2 : 0;
        const int crossOffset = 2 - rowOffset;
        int x = 1;
        if ((x & 1) == row.greenParity && x <= width - 2) {
            detail::greenSite(up, cur, down, x, rowOffset, crossOffset, out + 3 * x);
            ++x;
        }
        for (; x + 1 <= width - 2; x += 2) {
            detail::otherSite(up, cur, down, x, rowOffset, crossOffset, out + 3 * x);
            detail::greenSite(up, cur, down, x + 1, rowOffset, crossOffset, out + 3 * (x + 1));
        }
        if (x <= width - 2) detail::otherSite(up, cur, down, x, rowOffset, crossOffset, out + 3 * x);
    }
}

void clearRing(int width, int height, std::uint8_t* pixels) {
    const std::size_t rowBytes = 3 * static_cast<std::size_t>(width);
    std::memset(pixels, 0, rowBytes);
    if (height > 1) std::memset(pixels + (static_cast<std::size_t>(height) - 1) * rowBytes, 0, rowBytes);
    for (int y = 1; y + 1 < height; ++y) {
        std::uint8_t* row = pixels + static_cast<std::size_t>(y) * rowBytes;
        std::memset(row, 0, 3);
        std::memset(row + rowBytes - 3, 0, 3);
    }
}

}  // namespace kestro::video
#endif
