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
#include <hwy/foreach_target.h> // IWYU pragma: keep
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
    int greenParity; // x parity of the green sites in this row
    bool rowRed;     // the non-green sites of this row are red (else blue)
};

inline RowLayout rowLayout(BayerLayout layout, int y)
{
    // Rows with odd y are like row 1; rows with even y swap both properties.
    const bool likeRow1 = (y & 1) != 0;
    const int row1Parity = layout.row1GreenOdd ? 1 : 0;
    return {likeRow1 ? row1Parity : 1 - row1Parity, likeRow1 ? layout.row1Red : !layout.row1Red};
}

// Output pixel of the green site at column x (blue, green, red).
inline void greenSite(const std::uint8_t* up, const std::uint8_t* cur, const std::uint8_t* down, int x, int rowOffset,
                      int crossOffset, std::uint8_t* pixel)
{
    pixel[1] = cur[x];
    pixel[rowOffset] = static_cast<std::uint8_t>((cur[x - 1] + cur[x + 1] + 1) >> 1);
    pixel[crossOffset] = static_cast<std::uint8_t>((up[x] + down[x] + 1) >> 1);
}

// Output pixel of the red or blue site at column x.
inline void otherSite(const std::uint8_t* up, const std::uint8_t* cur, const std::uint8_t* down, int x, int rowOffset,
                      int crossOffset, std::uint8_t* pixel)
{
    pixel[rowOffset] = cur[x];
    pixel[1] = static_cast<std::uint8_t>((up[x] + down[x] + cur[x - 1] + cur[x + 1] + 2) >> 2);
    pixel[crossOffset] = static_cast<std::uint8_t>((up[x - 1] + up[x + 1] + down[x - 1] + down[x + 1] + 2) >> 2);
}

// Sites x0 <= x < x1 of one row, one at a time (the vector loop's tail).
inline void sitesOfRow(RowLayout row, const std::uint8_t* up, const std::uint8_t* cur, const std::uint8_t* down, int x0,
                       int x1, std::uint8_t* out)
{
    const int rowOffset = row.rowRed ? 2 : 0;
    const int crossOffset = 2 - rowOffset;
    for (int x = x0; x < x1; ++x) {
        if ((x & 1) == row.greenParity)
            greenSite(up, cur, down, x, rowOffset, crossOffset, out + 3 * x);
        else
            otherSite(up, cur, down, x, rowOffset, crossOffset, out + 3 * x);
    }
}

} // namespace kestro::video::detail
#endif

HWY_BEFORE_NAMESPACE();
namespace kestro::video::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Rounded mean of four bytes, (a + b + c + d + 2) >> 2, in 8-bit lanes. With p and q the rounded
// means of the pairs, p + q overshoots the exact sum by half the number of pairs that rounded up;
// the rounded mean of p and q is the answer except when a pair rounded up and p + q is odd, where it
// is one too high.
// A rounded pair mean, (a + b + 1) >> 1, with a ^ b kept: its low bit says the mean rounded up.
template <class V> struct PairMean {
    V mean;
    V odd;
};

template <class V> HWY_INLINE PairMean<V> pairMean(V a, V b) { return {hn::AverageRound(a, b), hn::Xor(a, b)}; }

// Rounded mean of four bytes, (a + b + c + d + 2) >> 2, from the rounded means p and q of two pairs.
// p + q overshoots the exact half-sum by half the number of pairs that rounded up, so the rounded
// mean of p and q is the answer except when a pair rounded up and p + q is odd: then it is one
// too high.
template <class D, class V> HWY_INLINE V mean4(D d, PairMean<V> p, PairMean<V> q)
{
    const V oneTooHigh = hn::And(hn::And(hn::Xor(p.mean, q.mean), hn::Or(p.odd, q.odd)), hn::Set(d, 1));
    return hn::Sub(hn::AverageRound(p.mean, q.mean), oneTooHigh);
}

// The interior of the picture, a vector of sites at a time, two rows at a time: the horizontal pair
// means of a row serve both as its own left/right means and as the diagonal means of the rows above
// and below it. Both formulas are computed for every lane and the site colour picks one, so the
// loop has no branch. A row's last vector is placed to end on its last site and may overlap the one
// before: the overlap is computed twice, to the same values, instead of a scalar tail.
void deBayerInteriorSimd(BayerLayout layout, int width, int height, const std::uint8_t* plane, std::uint8_t* pixels)
{
    const hn::ScalableTag<std::uint8_t> d8;
    using V = hn::Vec<decltype(d8)>;
    const int lanes = static_cast<int>(hn::Lanes(d8));
    const std::size_t rowBytes = static_cast<std::size_t>(width);
    if (width - 2 < lanes) {
        for (int y = 1; y + 1 < height; ++y) {
            const std::uint8_t* cur = plane + static_cast<std::size_t>(y) * rowBytes;
            detail::sitesOfRow(detail::rowLayout(layout, y), cur - rowBytes, cur, cur + rowBytes, 1, width - 1,
                               pixels + static_cast<std::size_t>(height - 1 - y) * 3 * rowBytes);
        }
        return;
    }
    // Lanes of a vector that starts at an even x hold even x at even lanes.
    const auto evenLane = hn::Eq(hn::And(hn::Iota(d8, 0), hn::Set(d8, 1)), hn::Zero(d8));

    // One output row from its centre values, its own horizontal pair, the vertical pair around it
    // and the horizontal pairs of the rows above and below.
    auto storeRow = [&](const detail::RowLayout& row, int x, V centre, PairMean<V> across, PairMean<V> vertical,
                        PairMean<V> above, PairMean<V> below, std::uint8_t* out) {
        const bool greenAtEven = ((x & 1) == 0) == (row.greenParity == 0);
        const auto green = greenAtEven ? evenLane : hn::Not(evenLane);
        const V g = hn::IfThenElse(green, centre, mean4(d8, vertical, across));
        const V rowColour = hn::IfThenElse(green, across.mean, centre);
        const V crossColour = hn::IfThenElse(green, vertical.mean, mean4(d8, above, below));
        const V red = row.rowRed ? rowColour : crossColour;
        const V blue = row.rowRed ? crossColour : rowColour;
        hn::StoreInterleaved3(blue, g, red, d8, out + 3 * x);
    };
    auto rowAt = [&](int y) { return plane + static_cast<std::ptrdiff_t>(y) * width; };
    auto outAt = [&](int y) { return pixels + static_cast<std::size_t>(height - 1 - y) * 3 * rowBytes; };
    auto horizontal = [&](const std::uint8_t* r, int x) {
        return pairMean(hn::LoadU(d8, r + x - 1), hn::LoadU(d8, r + x + 1));
    };

    int y = 1;
    for (; y + 2 < height; y += 2) {
        const detail::RowLayout first = detail::rowLayout(layout, y), second = detail::rowLayout(layout, y + 1);
        const std::uint8_t *a = rowAt(y - 1), *b = rowAt(y), *c = rowAt(y + 1), *d = rowAt(y + 2);
        std::uint8_t *outB = outAt(y), *outC = outAt(y + 1);
        auto twoRowsAt = [&](int x) {
            const V ac = hn::LoadU(d8, a + x), bc = hn::LoadU(d8, b + x);
            const V cc = hn::LoadU(d8, c + x), dc = hn::LoadU(d8, d + x);
            const auto ha = horizontal(a, x), hb = horizontal(b, x), hc = horizontal(c, x), hd = horizontal(d, x);
            storeRow(first, x, bc, hb, pairMean(ac, cc), ha, hc, outB);
            storeRow(second, x, cc, hc, pairMean(bc, dc), hb, hd, outC);
        };
        int x = 1;
        for (; x + lanes <= width - 1; x += lanes)
            twoRowsAt(x);
        if (x < width - 1)
            twoRowsAt(width - 1 - lanes);
    }
    if (y + 1 < height) { // an odd number of interior rows leaves one
        const detail::RowLayout row = detail::rowLayout(layout, y);
        const std::uint8_t *a = rowAt(y - 1), *b = rowAt(y), *c = rowAt(y + 1);
        auto oneRowAt = [&](int x) {
            storeRow(row, x, hn::LoadU(d8, b + x), horizontal(b, x),
                     pairMean(hn::LoadU(d8, a + x), hn::LoadU(d8, c + x)), horizontal(a, x), horizontal(c, x),
                     outAt(y));
        };
        int x = 1;
        for (; x + lanes <= width - 1; x += lanes)
            oneRowAt(x);
        if (x < width - 1)
            oneRowAt(width - 1 - lanes);
    }
}

} // namespace kestro::video::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kestro::video {

HWY_EXPORT(deBayerInteriorSimd);

void deBayerInterior(BayerLayout layout, int width, int height, const std::uint8_t* plane, std::uint8_t* pixels)
{
    if (width < 3 || height < 3)
        return;
    HWY_DYNAMIC_DISPATCH(deBayerInteriorSimd)(layout, width, height, plane, pixels);
}

// The algorithm as written: row by row, two sites per step (a red or blue site and a green site),
// one site alone at either end of a row when the row's parity leaves it over.
void deBayerInteriorReference(BayerLayout layout, int width, int height, const std::uint8_t* plane,
                              std::uint8_t* pixels)
{
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
        if (x <= width - 2)
            detail::otherSite(up, cur, down, x, rowOffset, crossOffset, out + 3 * x);
    }
}

void clearRing(int width, int height, std::uint8_t* pixels)
{
    const std::size_t rowBytes = 3 * static_cast<std::size_t>(width);
    std::memset(pixels, 0, rowBytes);
    if (height > 1)
        std::memset(pixels + (static_cast<std::size_t>(height) - 1) * rowBytes, 0, rowBytes);
    for (int y = 1; y + 1 < height; ++y) {
        std::uint8_t* row = pixels + static_cast<std::size_t>(y) * rowBytes;
        std::memset(row, 0, 3);
        std::memset(row + rowBytes - 3, 0, 3);
    }
}

} // namespace kestro::video
#endif
