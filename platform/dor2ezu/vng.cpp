// 03-VNG: interpolation with a threshold-based variable number of gradients, after E. Chang,
// S. Cheung and D. Pang, "Color filter array recovery using a threshold-based variable number of
// gradients", Proc. SPIE 3650 (1999).
//
// Every photosite gets eight gradients (N, E, S, W, NE, SE, NW, SW) summed from absolute differences
// in its 5 x 5 neighbourhood, with the terms the paper gives for green sites and for red/blue sites.
// The directions whose gradient is at most T = 1.5 Min + 0.5 (Max - Min) are kept; in each the paper
// names an average of every colour, and a missing colour is the site's own value plus the mean over
// the kept directions of (that colour's average - the average of the site's own colour).
//
// The arithmetic is the paper's, regrouped so that every loop runs over whole rows:
// - Gradients are kept doubled, so the paper's half-weighted terms stay integers; the threshold test
//   g <= Min + Max / 2 becomes 2g <= 2 Min + Max. Every gradient is a sum of pieces that each belong
//   to one plane row (N = vertical piece of row y-1 + that of row y, NE = a diagonal piece of row y
//   + one of row y-1 at x+1, ...), and the N and S, E and W, NE and SW, NW and SE gradients of a row
//   are the same row sums taken one row and column apart, so each is computed once per row.
// - A direction's colour differences are the same two formulas at the photosite q one step away in
//   that direction (N uses q = (x, y-1), NE uses q = (x+1, y-1), ...), so they too are per-row arrays,
//   times four to stay integral. Of the two missing colours, one is always the colour of the red/blue
//   sites of the rows above and below (the "cross" colour); the other is green at a red/blue site and
//   the row's own red/blue colour at a green site.
// All of it is 16-bit integers; only the one reciprocal per pixel is taken in float.
#include <algorithm>
#include <bit>
#include <cstring>

#include "algorithms.h"

namespace kestro::dor2ezu {
namespace {

using i16 = std::int16_t;

// Rows are computed in blocks of kBlock photosites, a whole number of vectors of any width a build
// may use: g++ -O2 vectorises only loops that need no scalar tail, and a loop of constant length
// is one it can prove that of.
constexpr int kBlock = 64;
int spanOf(int planeWidth) { return (planeWidth + kBlock - 1) / kBlock * kBlock; }

// Working rows hold x in [-kSpill, span + kSpill): every step reads what it builds on at most two
// photosites further out, and the output needs x in [4, W - 4).
constexpr int kSpill = 32;
// Memory kept on each side of a working row. Photosite rows are zero beyond the mirrored border;
// working rows are zero beyond kSpill, so a read one place past the computed range sees zero.
constexpr int kGuard = 64;

// Written so that g++ keeps it in bytes (max, min, subtract); doubling below is written as a shift
// for the same reason (it otherwise picks a multiply).
inline std::uint8_t absDiff(std::uint8_t a, std::uint8_t b)
{
    const std::uint8_t high = a > b ? a : b;
    const std::uint8_t low = a < b ? a : b;
    return static_cast<std::uint8_t>(high - low);
}

// Gradient pieces (doubled) of one plane row r that the next row still needs.
struct RawGradients {
    i16* vertical;   // |p(x, r-1) - p(x, r+1)| twice, plus the same at x-1 and x+1
    i16* horizontal; // |p(x-1, r) - p(x+1, r)| + |p(x, r) - p(x+2, r)|
    i16* antiB;      // the diagonal pieces of row r that the sums of row r+1 take, see gradients
    i16* mainB;
};

// Each direction's gradient at row y is the sum of one entry of row y's sums and one of row y+1's:
// N = vertical[y], S = vertical[y+1], E = horizontal[y] + horizontal[y+1] (at x-1 for W),
// NE = anti[y], SW = anti[y+1] at x-1, NW = main[y], SE = main[y+1] at x+1.
struct GradientSums {
    i16* vertical;
    i16* horizontal;
    i16* anti;
    i16* main;
};

// Colour differences (x4) at the photosite q = (x, r) for the direction from a site towards q:
// "other" is green at a red/blue site and the row's own red/blue at a green site, "cross" the
// red/blue colour of the rows above and below. N takes them from row y-1 at x, NE from row y-1 at
// x+1, E from row y at x+1, and so on.
struct ColourDifferences {
    i16* verticalOther; // N and S
    i16* verticalCross;
    i16* horizontalOther; // E and W
    i16* horizontalCross;
    i16* antiOther; // NE and SW
    i16* antiCross;
    i16* mainOther; // NW and SE
    i16* mainCross;
};

// Rows in use at once: raw gradients of r-1 and r, sums of y and y+1, colours of y-1 .. y+1 (and
// y+2 being written), photosites of y-1 .. y+2.
constexpr int kRawRing = 2;
constexpr int kSumRing = 2;
constexpr int kColourRing = 4;
constexpr int kByteRing = 4;
constexpr int kWorkRows = kRawRing * 4 + kSumRing * 4 + kColourRing * 8 + 3;

// One cache line more than the guards need: with an odd number of cache lines per 16-bit row, the
// 30-odd rows a step reads never share cache sets (at 1920 photosites they all did, and it cost 20%).
std::size_t workRowLength(int span) { return static_cast<std::size_t>(span) + 2 * kGuard + 32; }

std::size_t vngScratch(int planeWidth, int)
{
    const int span = spanOf(planeWidth);
    return kByteRing * Scratch::bytesFor<std::uint8_t>(workRowLength(span)) +
           kWorkRows * Scratch::bytesFor<i16>(workRowLength(span)) +
           Scratch::bytesFor<std::uint32_t>(static_cast<std::size_t>(span));
}

// All ones at the green sites of a block, zero at the red/blue ones. Blocks start at even x.
struct GreenMask {
    i16 lanes[kBlock];
    explicit GreenMask(int greenParity)
    {
        for (int k = 0; k < kBlock; ++k)
            lanes[k] = static_cast<i16>(((k ^ greenParity) & 1) == 0 ? -1 : 0);
    }
};

inline i16 select(i16 mask, int ifSet, int ifClear) { return static_cast<i16>((mask & ifSet) | (~mask & ifClear)); }

// The gradient pieces of row r from the photosites of rows r-1 (above), r and r+1 (below), and
// their sums with the pieces of row r-1 (previous).
void gradients(const std::uint8_t* __restrict above, const std::uint8_t* __restrict row,
               const std::uint8_t* __restrict below, const GreenMask& green, int span, const RawGradients& previous,
               const RawGradients& current, const GradientSums& sums)
{
    const i16* __restrict verticalPrevious = previous.vertical;
    const i16* __restrict horizontalPrevious = previous.horizontal;
    const i16* __restrict antiPrevious = previous.antiB;
    const i16* __restrict mainPrevious = previous.mainB;
    i16* __restrict vertical = current.vertical;
    i16* __restrict horizontal = current.horizontal;
    i16* __restrict antiB = current.antiB;
    i16* __restrict mainB = current.mainB;
    i16* __restrict verticalSum = sums.vertical;
    i16* __restrict horizontalSum = sums.horizontal;
    i16* __restrict antiSum = sums.anti;
    i16* __restrict mainSum = sums.main;
    for (int x0 = -kSpill; x0 < span + kSpill; x0 += kBlock) {
        DOR2EZU_IVDEP
        for (int k = 0; k < kBlock; ++k) {
            const int x = x0 + k;
            const i16 m = green.lanes[k];
            // N/S: the differences across two rows at x-1, x, x+1, the middle one counting twice.
            const i16 v = static_cast<i16>((absDiff(above[x], below[x]) << 1) + absDiff(above[x - 1], below[x - 1]) +
                                           absDiff(above[x + 1], below[x + 1]));
            // E/W: the differences across two columns at x and x+1 (this row's share; the rows above
            // and below add theirs).
            const i16 h = static_cast<i16>(absDiff(row[x - 1], row[x + 1]) + absDiff(row[x], row[x + 2]));

            // Diagonals. A green site's diagonal gradient has four whole terms along the diagonal,
            // a red/blue site's two whole ones and four half ones between the greens beside it.
            const int anti = absDiff(above[x + 1], below[x - 1]) << 1;
            const int antiEast = absDiff(above[x + 2], below[x]) << 1;
            const int antiWest = absDiff(above[x], below[x - 2]) << 1;
            const int antiHalves = absDiff(above[x], row[x - 1]) + absDiff(row[x + 1], below[x]);
            const int main = absDiff(above[x - 1], below[x + 1]) << 1;
            const int mainWest = absDiff(above[x - 2], below[x]) << 1;
            const int mainEast = absDiff(above[x], below[x + 2]) << 1;
            const int mainHalves = absDiff(row[x - 1], below[x]) + absDiff(above[x], row[x + 1]);
            vertical[x] = v;
            horizontal[x] = h;
            antiB[x] = static_cast<i16>(anti + select(m, antiWest, antiHalves));
            mainB[x] = static_cast<i16>(main + select(m, mainEast, mainHalves));
            verticalSum[x] = static_cast<i16>(verticalPrevious[x] + v);
            horizontalSum[x] = static_cast<i16>(horizontalPrevious[x] + h);
            antiSum[x] = static_cast<i16>(anti + select(m, antiEast, antiHalves) + antiPrevious[x + 1]);
            mainSum[x] = static_cast<i16>(main + select(m, mainWest, mainHalves) + mainPrevious[x - 1]);
        }
    }
}

// The colour differences of row r, from the photosites of rows r-1 .. r+1.
void colourDifferences(const std::uint8_t* __restrict above, const std::uint8_t* __restrict row,
                       const std::uint8_t* __restrict below, const GreenMask& green, int span,
                       const ColourDifferences& out)
{
    i16* __restrict verticalOther = out.verticalOther;
    i16* __restrict verticalCross = out.verticalCross;
    i16* __restrict horizontalOther = out.horizontalOther;
    i16* __restrict horizontalCross = out.horizontalCross;
    i16* __restrict antiOther = out.antiOther;
    i16* __restrict antiCross = out.antiCross;
    i16* __restrict mainOther = out.mainOther;
    i16* __restrict mainCross = out.mainCross;
    for (int x0 = -kSpill; x0 < span + kSpill; x0 += kBlock) {
        DOR2EZU_IVDEP
        for (int k = 0; k < kBlock; ++k) {
            const int x = x0 + k;
            const i16 m = green.lanes[k];
            const i16 a = above[x], b = row[x], c = below[x];
            const i16 aw = above[x - 1], ae = above[x + 1], cw = below[x - 1], ce = below[x + 1];
            // Colour averages around q, times four: pairs beside (h) and above and below (v) q, its
            // four diagonal neighbours, and q itself.
            const i16 h = static_cast<i16>(row[x - 1] + row[x + 1]), v = static_cast<i16>(a + c);
            const i16 h2 = static_cast<i16>(h << 1), v2 = static_cast<i16>(v << 1);
            const i16 corners = static_cast<i16>(aw + ae + cw + ce);
            const i16 b4 = static_cast<i16>(b << 2);
            // N/S: the own colour is v / 2 around q; E/W: h / 2.
            verticalOther[x] = static_cast<i16>(select(m, b4, corners) - v2);
            verticalCross[x] = static_cast<i16>(select(m, h2, b4) - v2);
            horizontalOther[x] = static_cast<i16>(b4 - h2);
            horizontalCross[x] = static_cast<i16>(select(m, v2, corners) - h2);
            // Diagonals: q has the site's colour. At a green site the site itself is in none of the
            // averages; at a red/blue site the own colour is (site + far site) / 2.
            const i16 greenOther = static_cast<i16>(v2 - b4), greenCross = static_cast<i16>(h2 - b4);
            const i16 antiOwn = static_cast<i16>((ae + cw) << 1), mainOwn = static_cast<i16>((aw + ce) << 1);
            const i16 rbOther = static_cast<i16>(v + h);
            antiOther[x] = select(m, greenOther, rbOther - antiOwn);
            antiCross[x] = select(m, greenCross, b4 - antiOwn);
            mainOther[x] = select(m, greenOther, rbOther - mainOwn);
            mainCross[x] = select(m, greenCross, b4 - mainOwn);
        }
    }
}

// Row y: thresholds the eight gradients and sums the colour differences of the kept directions.
void selectDirections(const GradientSums& here, const GradientSums& next, const ColourDifferences& up,
                      const ColourDifferences& mid, const ColourDifferences& down, int span, i16* __restrict otherSum,
                      i16* __restrict crossSum, i16* __restrict kept)
{
    const i16* __restrict vH = here.vertical;
    const i16* __restrict vN = next.vertical;
    const i16* __restrict hH = here.horizontal;
    const i16* __restrict hN = next.horizontal;
    const i16* __restrict aH = here.anti;
    const i16* __restrict aN = next.anti;
    const i16* __restrict mH = here.main;
    const i16* __restrict mN = next.main;
    for (int x0 = 0; x0 < span; x0 += kBlock) {
        DOR2EZU_IVDEP
        for (int k = 0; k < kBlock; ++k) {
            const int x = x0 + k;
            const i16 gN = vH[x];
            const i16 gS = vN[x];
            const i16 gE = static_cast<i16>(hH[x] + hN[x]);
            const i16 gW = static_cast<i16>(hH[x - 1] + hN[x - 1]);
            const i16 gNE = aH[x];
            const i16 gSW = aN[x - 1];
            const i16 gNW = mH[x];
            const i16 gSE = mN[x + 1];

            const i16 lo = std::min(std::min(std::min(gN, gS), std::min(gE, gW)),
                                    std::min(std::min(gNE, gSW), std::min(gNW, gSE)));
            const i16 hi = std::max(std::max(std::max(gN, gS), std::max(gE, gW)),
                                    std::max(std::max(gNE, gSW), std::max(gNW, gSE)));
            const i16 limit = static_cast<i16>((lo << 1) + hi);
            // All ones for a kept direction, else zero.
            auto keep = [limit](i16 g) { return static_cast<i16>(-(static_cast<i16>(g << 1) <= limit)); };
            const i16 kN = keep(gN), kS = keep(gS), kE = keep(gE), kW = keep(gW);
            const i16 kNE = keep(gNE), kSW = keep(gSW), kNW = keep(gNW), kSE = keep(gSE);

            otherSum[x] = static_cast<i16>((kN & up.verticalOther[x]) + (kS & down.verticalOther[x]) +
                                           (kE & mid.horizontalOther[x + 1]) + (kW & mid.horizontalOther[x - 1]) +
                                           (kNE & up.antiOther[x + 1]) + (kSW & down.antiOther[x - 1]) +
                                           (kNW & up.mainOther[x - 1]) + (kSE & down.mainOther[x + 1]));
            crossSum[x] = static_cast<i16>((kN & up.verticalCross[x]) + (kS & down.verticalCross[x]) +
                                           (kE & mid.horizontalCross[x + 1]) + (kW & mid.horizontalCross[x - 1]) +
                                           (kNE & up.antiCross[x + 1]) + (kSW & down.antiCross[x - 1]) +
                                           (kNW & up.mainCross[x - 1]) + (kSE & down.mainCross[x + 1]));
            kept[x] = static_cast<i16>(-(kN + kS + kE + kW + kNE + kSW + kNW + kSE));
        }
    }
}

// Row y's colours as blue | green << 8 | red << 16: the site's value, and for the two missing
// colours the site's value plus the mean of the kept differences.
//
// The mean, sum / (4 n) with n = 1..8, is a 16-bit multiply by round(2^14 / n), doubled so the last
// bit rounds half up. The reciprocal is off by less than 2e-4, so a uniform difference (a flat
// colour) comes out exact.
void composeRow(const std::uint8_t* __restrict row, const i16* __restrict otherSum, const i16* __restrict crossSum,
                const i16* __restrict kept, const GreenMask& green, bool rowIsRed, int span,
                std::uint32_t* __restrict packed)
{
    const i16 redRow = rowIsRed ? i16{-1} : i16{0}; // a mask: a select, not a branch, in the loop
    for (int x0 = 0; x0 < span; x0 += kBlock) {
        DOR2EZU_IVDEP
        for (int k = 0; k < kBlock; ++k) {
            const int x = x0 + k;
            const int n = kept[x];
            const auto reciprocal = static_cast<i16>(static_cast<int>(16384.0f / static_cast<float>(n) + 0.5f));
            const i16 site = row[x];
            auto shifted = [site, reciprocal](i16 sum) {
                const i16 twiceSum = static_cast<i16>(sum << 1);
                const i16 twice = static_cast<i16>((twiceSum * reciprocal) >> 16);
                return std::min(std::max(static_cast<i16>(site + ((twice + 1) >> 1)), i16{0}), i16{255});
            };
            const i16 other = shifted(otherSum[x]);
            const i16 cross = shifted(crossSum[x]);
            const i16 m = green.lanes[k];
            const i16 g = select(m, site, other);
            const i16 own = select(m, other, site); // the row's red/blue colour
            const i16 red = select(redRow, own, cross);
            const i16 blue = select(redRow, cross, own);
            const auto low = static_cast<std::uint16_t>(blue | (g << 8));
            packed[x] = low | (static_cast<std::uint32_t>(red) << 16);
        }
    }
}

// Writes packed pixels as blue, green, red bytes, four pixels per two stores where byte order allows.
void storePixels(const std::uint32_t* src, int count, std::uint8_t* dst)
{
    int i = 0;
    if constexpr (std::endian::native == std::endian::little) {
        for (; i + 4 <= count; i += 4, dst += 12) {
            const std::uint64_t first = src[i] | (std::uint64_t{src[i + 1]} << 24) | (std::uint64_t{src[i + 2]} << 48);
            const std::uint32_t last = (src[i + 2] >> 16) | (src[i + 3] << 8);
            std::memcpy(dst, &first, 8);
            std::memcpy(dst + 8, &last, 4);
        }
    }
    for (; i < count; ++i, dst += 3) {
        dst[0] = static_cast<std::uint8_t>(src[i]);
        dst[1] = static_cast<std::uint8_t>(src[i] >> 8);
        dst[2] = static_cast<std::uint8_t>(src[i] >> 16);
    }
}

void vngRun(const Mosaic& m, const OutputImage& out, int yBegin, int yEnd, Scratch scratch)
{
    const CfaPattern& cfa = m.cfa();
    const int width = m.width();
    const int span = spanOf(width);
    const std::size_t length = workRowLength(span);

    std::uint8_t* bytes[kByteRing];
    for (auto& b : bytes) {
        const auto row = scratch.take<std::uint8_t>(length);
        std::memset(row.data(), 0, row.size());
        b = row.data() + kGuard;
    }
    auto workRow = [&] {
        i16* row = scratch.take<i16>(length).data();
        std::fill_n(row, kGuard - kSpill, i16{0});
        std::fill_n(row + kGuard + span + kSpill, length - (kGuard + span + kSpill), i16{0});
        return row + kGuard;
    };
    // Zeroed whole: the first row a band prepares adds the (unused) pieces of the row before it.
    auto zeroedRow = [&] {
        i16* row = scratch.take<i16>(length).data();
        std::fill_n(row, length, i16{0});
        return row + kGuard;
    };
    RawGradients raw[kRawRing];
    for (auto& r : raw)
        r = {zeroedRow(), zeroedRow(), zeroedRow(), zeroedRow()};
    GradientSums sums[kSumRing];
    for (auto& s : sums)
        s = {workRow(), workRow(), workRow(), workRow()};
    ColourDifferences colours[kColourRing];
    for (auto& c : colours)
        c = {workRow(), workRow(), workRow(), workRow(), workRow(), workRow(), workRow(), workRow()};
    i16* otherSum = workRow();
    i16* crossSum = workRow();
    i16* kept = workRow();
    std::uint32_t* packed = scratch.take<std::uint32_t>(static_cast<std::size_t>(span)).data();

    const GreenMask greenMasks[2] = {GreenMask(0), GreenMask(1)};
    auto greenParity = [&cfa](int y) { return cfa.isGreen(0, y) ? 0 : 1; };
    auto photosites = [&](int y) { return bytes[y & (kByteRing - 1)]; };
    auto load = [&](int y) {
        std::memcpy(photosites(y) - Mosaic::kPad, m.row(y) - Mosaic::kPad,
                    static_cast<std::size_t>(width + 2 * Mosaic::kPad));
    };
    auto prepare = [&](int y) {
        const GreenMask& green = greenMasks[greenParity(y)];
        gradients(photosites(y - 1), photosites(y), photosites(y + 1), green, span, raw[(y - 1) & (kRawRing - 1)],
                  raw[y & (kRawRing - 1)], sums[y & (kSumRing - 1)]);
        colourDifferences(photosites(y - 1), photosites(y), photosites(y + 1), green, span,
                          colours[y & (kColourRing - 1)]);
    };

    for (int y = yBegin - 2; y <= yBegin + 1; ++y)
        load(y);
    prepare(yBegin - 1); // only its raw pieces and colours are used
    prepare(yBegin);
    for (int y = yBegin; y < yEnd; ++y) {
        load(y + 2);
        prepare(y + 1);
        const int gp = greenParity(y);
        selectDirections(sums[y & (kSumRing - 1)], sums[(y + 1) & (kSumRing - 1)], colours[(y - 1) & (kColourRing - 1)],
                         colours[y & (kColourRing - 1)], colours[(y + 1) & (kColourRing - 1)], span, otherSum, crossSum,
                         kept);
        composeRow(photosites(y), otherSum, crossSum, kept, greenMasks[gp], cfa.at(1 - gp, y) == kRed, span, packed);
        storePixels(packed + out.firstPlaneX(), out.width(), out.rowFor(y));
    }
}

} // namespace

const Algorithm kVng{3, "03-VNG", vngScratch, vngRun};

} // namespace kestro::dor2ezu
