// 05-RCD: Ratio Corrected Demosaicing, after the method Luis Sanz Rodríguez published in 2017.
//
// Green is restored first, at every red and blue site, from its vertical and horizontal
// neighbours. Each neighbour is scaled by the ratio of a low-pass (luminance-like) plane at the site
// and two sites beyond the neighbour, which corrects it for the local change in brightness without
// the overshoot of colour-difference methods; round edges such as a planet's limb keep their shape.
// The two sides of a direction are mixed by how smooth each is, and the two directions by how much
// each varies over the neighbourhood. Red and blue then follow as colour differences against the
// full green: along the diagonals at the opposite chroma sites, then along vertical and horizontal at
// the green sites.
//
// All work is on floats normalised to 0..1. A band recomputes every intermediate plane it needs
// from the mosaic, so it reads kReach rows and columns beyond its own output.
#include <cmath>

#include "algorithms.h"

namespace kestro::dor2ezu {
namespace {

// How far beyond the output the first stage (the float copy of the mosaic) reaches: the direction
// statistics read 3 + 1 sites around a site, are smoothed over 1, and feed green 5 sites out.
constexpr int kReach = 10;
static_assert(kReach - OutputImage::kMargin <= Mosaic::kPad, "reads beyond the mirrored border");

constexpr int kColumnPad = 8; // plane column of photosite x is x + kColumnPad

// Keeps gradient weights positive on flat areas, where all directions are alike.
constexpr float kGradientEps = 1e-5f;
// Added to both sides of the ratio so that a black area gives a ratio of one instead of 0 / 0.
constexpr float kRatioEps = 1e-5f;
// Makes a direction weight 0.5 where neither direction varies at all.
constexpr float kStatEps = 1e-10f;

// Planes of a band: the mosaic as floats, green, the V/H weight, and three that are reused as the
// stages go (see rcdRun).
constexpr int kPlanes = 6;
// Per row parity: a green and a red and a blue mask; then two rows for the output's red and blue.
constexpr int kMaskRows = 6;
constexpr int kOutRows = 2;
constexpr int kByteRows = 3; // the output row as bytes, one row per colour

struct Layout {
    std::size_t pitch; // floats per plane row, a multiple of 16 so rows stay 64-byte aligned
    std::size_t rows;
    std::size_t planeFloats() const { return pitch * rows; }
};

Layout layoutFor(int width, int bandRows)
{
    const std::size_t w = static_cast<std::size_t>(width) + 2 * kColumnPad;
    return {(w + 15) & ~std::size_t{15}, static_cast<std::size_t>(bandRows) + 2 * kReach};
}

std::size_t rcdScratch(int width, int bandRows)
{
    const Layout l = layoutFor(width, bandRows);
    return kPlanes * Scratch::bytesFor<float>(l.planeFloats()) +
           (kMaskRows + kOutRows) * Scratch::bytesFor<float>(l.pitch) +
           kByteRows * Scratch::bytesFor<std::uint8_t>(l.pitch);
}

// One plane of the band, addressed by plane row and column.
class Plane {
public:
    Plane(std::span<float> memory, std::size_t pitch, int topRow)
        : m_data(memory.data()), m_pitch(static_cast<std::ptrdiff_t>(pitch)), m_top(topRow)
    {
    }

    float* row(int y) const { return m_data + (y - m_top) * m_pitch + kColumnPad; }

private:
    float* m_data;
    std::ptrdiff_t m_pitch;
    int m_top;
};

// The rows [y0, y1) and columns [x0, x1) a stage covers: the output area widened by `reach`.
struct Area {
    int y0, y1, x0, x1;
};

Area around(int width, int yBegin, int yEnd, int reach)
{
    return {yBegin - reach, yEnd + reach, OutputImage::kMargin - reach, width - OutputImage::kMargin + reach};
}

// A high-pass filter along a Bayer line, [1 -3 -1 6 -1 -3 1]: it gives nothing for a flat area
// and nothing for the alternation of two flat colours along the line, so only real structure
// counts, whichever two colours the line holds.
inline float highPass(float m3, float m2, float m1, float c, float p1, float p2, float p3)
{
    return (m3 + p3) - 3.0f * (m2 + p2) - (m1 + p1) + 6.0f * c;
}

// The weight of the second direction: near 1 where the first varies much more than the second.
inline float directionWeight(float firstStat, float secondStat)
{
    return (firstStat + kStatEps) / (firstStat + secondStat + 2.0f * kStatEps);
}

// Mixes the estimates of the two sides of a direction, each weighted by the other side's gradient.
inline float sideMix(float estA, float gradA, float estB, float gradB)
{
    return (gradB * estA + gradA * estB) / (gradA + gradB);
}

// The neighbour value scaled by lowpass(site) / mean of lowpass(site) and lowpass(two sites beyond).
inline float ratioCorrected(float neighbour, float lpSite, float lpFar)
{
    return neighbour * (lpSite + lpSite + kRatioEps) / (lpSite + lpFar + kRatioEps);
}

// The per-site choices below are arithmetic rather than comparisons: at -O2 the compiler's cheap
// vectorisation gives up on any loop with a floating-point comparison (it may trap), and these
// loops are most of the time spent.

// mask is 1 or 0; exact for finite a and b.
inline float pick(float mask, float a, float b) { return mask * a + (1.0f - mask) * b; }

inline float atLeastZero(float v) { return 0.5f * (v + std::fabs(v)); } // exact
// Clamps to 0..1; within 1 - v's rounding (below 1e-7) of v in between, far below a byte step.
inline float unit(float v) { return 1.0f - atLeastZero(1.0f - atLeastZero(v)); }

// A site's own direction weight, pulled towards its neighbours' mean where that one is the more
// decided (further from 0.5): the weight of each is its distance from 0.5.
inline float decisive(float own, float neighbours)
{
    const float ownPull = std::fabs(own - 0.5f);
    const float neighbourPull = std::fabs(neighbours - 0.5f);
    return (ownPull * own + neighbourPull * neighbours + kStatEps * 0.5f) / (ownPull + neighbourPull + kStatEps);
}

// Runs body(x) for x0 <= x < x1 in blocks of sixteen: a fixed inner count is what the cheap
// vectorisation accepts, where an open-ended loop would stay scalar. Each row kernel below is a
// function of its own with __restrict pointers, since the compiler drops the no-alias promise when
// it inlines one into the band loop; the bodies in turn are forced inline into the kernel (each
// appears twice, so the inliner would otherwise keep it as a call, which nothing can vectorise).
template <typename Body> [[gnu::always_inline]] inline void forColumns(int x0, int x1, Body body)
{
    int x = x0;
    for (; x + 16 <= x1; x += 16)
        for (int k = 0; k < 16; ++k)
            body(x + k);
    for (; x < x1; ++x)
        body(x);
}

// ---- row kernels: every pointer is the kernel's row of a plane, p the plane pitch -----------------

[[gnu::noinline]] void toFloatRow(const std::uint8_t* __restrict src, float* __restrict dst, int x0, int x1)
{
    forColumns(
        x0, x1, [&](int x) __attribute__((always_inline)) { dst[x] = static_cast<float>(src[x]) * (1.0f / 255.0f); });
}

// (1) Squared vertical and horizontal high-pass responses.
[[gnu::noinline]] void lineHighPassRow(const float* __restrict c, float* __restrict sqV, float* __restrict sqH,
                                       std::ptrdiff_t p, int x0, int x1)
{
    forColumns(
        x0, x1, [&](int x) __attribute__((always_inline)) {
            const float hv = highPass(c[x - 3 * p], c[x - 2 * p], c[x - p], c[x], c[x + p], c[x + 2 * p], c[x + 3 * p]);
            const float hh = highPass(c[x - 3], c[x - 2], c[x - 1], c[x], c[x + 1], c[x + 2], c[x + 3]);
            sqV[x] = hv * hv;
            sqH[x] = hh * hh;
        });
}

// (1) The V/H weight from the responses summed over the site and its two neighbours along each
// direction.
[[gnu::noinline]] void lineWeightRow(const float* __restrict sqV, const float* __restrict sqH, float* __restrict dir,
                                     std::ptrdiff_t p, int x0, int x1)
{
    forColumns(
        x0, x1, [&](int x) __attribute__((always_inline)) {
            dir[x] = directionWeight(sqV[x - p] + sqV[x] + sqV[x + p], sqH[x - 1] + sqH[x] + sqH[x + 1]);
        });
}

// (1) The V/H weight smoothed over the four direct neighbours.
[[gnu::noinline]] void lineSmoothRow(const float* __restrict dir, float* __restrict disc, std::ptrdiff_t p, int x0,
                                     int x1)
{
    forColumns(
        x0, x1, [&](int x) __attribute__((always_inline)) {
            disc[x] = decisive(dir[x], 0.25f * ((dir[x - p] + dir[x + p]) + (dir[x - 1] + dir[x + 1])));
        });
}

// (2) The low-pass plane, weights 4 / 2 / 1 over 3 x 3, normalised so a flat area keeps its
// level. It is read only at red and blue sites, where it mixes all three colours alike.
[[gnu::noinline]] void lowPassRow(const float* __restrict c, float* __restrict lp, std::ptrdiff_t p, int x0, int x1)
{
    forColumns(
        x0, x1, [&](int x) __attribute__((always_inline)) {
            const float cross = (c[x - p] + c[x + p]) + (c[x - 1] + c[x + 1]);
            const float diagonal = (c[x - p - 1] + c[x - p + 1]) + (c[x + p - 1] + c[x + p + 1]);
            lp[x] = 0.25f * c[x] + 0.125f * cross + 0.0625f * diagonal;
        });
}

// (3) Green at red and blue sites: ratio-corrected neighbours, sides mixed by gradient,
// directions by the V/H weight.
[[gnu::noinline]] void greenRow(const float* __restrict c, const float* __restrict lp, const float* __restrict disc,
                                const float* __restrict isGreen, float* __restrict g, std::ptrdiff_t p, int x0, int x1)
{
    forColumns(
        x0, x1, [&](int x) __attribute__((always_inline)) {
            const float nGrad = kGradientEps + std::fabs(c[x - p] - c[x + p]) + std::fabs(c[x] - c[x - 2 * p]) +
                                std::fabs(c[x - p] - c[x - 3 * p]) + std::fabs(c[x - 2 * p] - c[x - 4 * p]);
            const float sGrad = kGradientEps + std::fabs(c[x + p] - c[x - p]) + std::fabs(c[x] - c[x + 2 * p]) +
                                std::fabs(c[x + p] - c[x + 3 * p]) + std::fabs(c[x + 2 * p] - c[x + 4 * p]);
            const float wGrad = kGradientEps + std::fabs(c[x - 1] - c[x + 1]) + std::fabs(c[x] - c[x - 2]) +
                                std::fabs(c[x - 1] - c[x - 3]) + std::fabs(c[x - 2] - c[x - 4]);
            const float eGrad = kGradientEps + std::fabs(c[x + 1] - c[x - 1]) + std::fabs(c[x] - c[x + 2]) +
                                std::fabs(c[x + 1] - c[x + 3]) + std::fabs(c[x + 2] - c[x + 4]);
            const float nEst = ratioCorrected(c[x - p], lp[x], lp[x - 2 * p]);
            const float sEst = ratioCorrected(c[x + p], lp[x], lp[x + 2 * p]);
            const float wEst = ratioCorrected(c[x - 1], lp[x], lp[x - 2]);
            const float eEst = ratioCorrected(c[x + 1], lp[x], lp[x + 2]);
            const float vEst = sideMix(nEst, nGrad, sEst, sGrad);
            const float hEst = sideMix(wEst, wGrad, eEst, eGrad);
            g[x] = pick(isGreen[x], c[x], unit(vEst + disc[x] * (hEst - vEst)));
        });
}

// (4) Squared high-pass responses along P (down-right) and Q (down-left).
[[gnu::noinline]] void diagonalHighPassRow(const float* __restrict c, float* __restrict sqP, float* __restrict sqQ,
                                           std::ptrdiff_t p, int x0, int x1)
{
    const std::ptrdiff_t dp = p + 1; // one step along P
    const std::ptrdiff_t dq = p - 1; // one step along Q
    forColumns(
        x0, x1, [&](int x) __attribute__((always_inline)) {
            const float hp =
                highPass(c[x - 3 * dp], c[x - 2 * dp], c[x - dp], c[x], c[x + dp], c[x + 2 * dp], c[x + 3 * dp]);
            const float hq =
                highPass(c[x - 3 * dq], c[x - 2 * dq], c[x - dq], c[x], c[x + dq], c[x + 2 * dq], c[x + 3 * dq]);
            sqP[x] = hp * hp;
            sqQ[x] = hq * hq;
        });
}

[[gnu::noinline]] void diagonalWeightRow(const float* __restrict sqP, const float* __restrict sqQ,
                                         float* __restrict dir, std::ptrdiff_t p, int x0, int x1)
{
    const std::ptrdiff_t dp = p + 1, dq = p - 1;
    forColumns(
        x0, x1, [&](int x) __attribute__((always_inline)) {
            dir[x] = directionWeight(sqP[x - dp] + sqP[x] + sqP[x + dp], sqQ[x - dq] + sqQ[x] + sqQ[x + dq]);
        });
}

// The P/Q weight is only read at red and blue sites, whose diagonal neighbours are red and blue
// sites too, so it is smoothed over those.
[[gnu::noinline]] void diagonalSmoothRow(const float* __restrict dir, float* __restrict disc, std::ptrdiff_t p, int x0,
                                         int x1)
{
    forColumns(
        x0, x1, [&](int x) __attribute__((always_inline)) {
            disc[x] = decisive(dir[x], 0.25f * ((dir[x - p - 1] + dir[x + p + 1]) + (dir[x - p + 1] + dir[x + p - 1])));
        });
}

// (5) Red at blue sites and blue at red sites, from the colour differences at the four diagonal
// neighbours. The red and blue planes then hold both colours at every non-green site.
[[gnu::noinline]] void oppositeRow(const float* __restrict c, const float* __restrict g, const float* __restrict disc,
                                   const float* __restrict isRed, const float* __restrict isBlue, float* __restrict red,
                                   float* __restrict blue, std::ptrdiff_t p, int x0, int x1)
{
    const std::ptrdiff_t dp = p + 1, dq = p - 1;
    forColumns(
        x0, x1, [&](int x) __attribute__((always_inline)) {
            const float nwGrad = kGradientEps + std::fabs(c[x - dp] - c[x + dp]) +
                                 std::fabs(c[x - dp] - c[x - 3 * dp]) + std::fabs(g[x] - g[x - 2 * dp]);
            const float seGrad = kGradientEps + std::fabs(c[x + dp] - c[x - dp]) +
                                 std::fabs(c[x + dp] - c[x + 3 * dp]) + std::fabs(g[x] - g[x + 2 * dp]);
            const float neGrad = kGradientEps + std::fabs(c[x - dq] - c[x + dq]) +
                                 std::fabs(c[x - dq] - c[x - 3 * dq]) + std::fabs(g[x] - g[x - 2 * dq]);
            const float swGrad = kGradientEps + std::fabs(c[x + dq] - c[x - dq]) +
                                 std::fabs(c[x + dq] - c[x + 3 * dq]) + std::fabs(g[x] - g[x + 2 * dq]);
            const float pEst = sideMix(c[x - dp] - g[x - dp], nwGrad, c[x + dp] - g[x + dp], seGrad);
            const float qEst = sideMix(c[x - dq] - g[x - dq], neGrad, c[x + dq] - g[x + dq], swGrad);
            const float other = unit(g[x] + pEst + disc[x] * (qEst - pEst));
            red[x] = pick(isRed[x], c[x], other);
            blue[x] = pick(isBlue[x], c[x], other);
        });
}

// (6) One colour (k, red or blue, known at every non-green site) at the green sites, from the
// colour differences at the four direct neighbours mixed by the V/H weight; elsewhere k itself.
[[gnu::noinline]] void atGreenRow(const float* __restrict k, const float* __restrict g, const float* __restrict disc,
                                  const float* __restrict isGreen, float* __restrict result, std::ptrdiff_t p, int x0,
                                  int x1)
{
    forColumns(
        x0, x1, [&](int x) __attribute__((always_inline)) {
            const float nGrad = kGradientEps + std::fabs(k[x - p] - k[x + p]) + std::fabs(k[x - p] - k[x - 3 * p]) +
                                std::fabs(g[x] - g[x - 2 * p]);
            const float sGrad = kGradientEps + std::fabs(k[x + p] - k[x - p]) + std::fabs(k[x + p] - k[x + 3 * p]) +
                                std::fabs(g[x] - g[x + 2 * p]);
            const float wGrad = kGradientEps + std::fabs(k[x - 1] - k[x + 1]) + std::fabs(k[x - 1] - k[x - 3]) +
                                std::fabs(g[x] - g[x - 2]);
            const float eGrad = kGradientEps + std::fabs(k[x + 1] - k[x - 1]) + std::fabs(k[x + 1] - k[x + 3]) +
                                std::fabs(g[x] - g[x + 2]);
            const float vEst = sideMix(k[x - p] - g[x - p], nGrad, k[x + p] - g[x + p], sGrad);
            const float hEst = sideMix(k[x - 1] - g[x - 1], wGrad, k[x + 1] - g[x + 1], eGrad);
            result[x] = pick(isGreen[x], g[x] + vEst + disc[x] * (hEst - vEst), k[x]);
        });
}

// Scales 0..1 to the nearest byte value, with arithmetic that vectorises.
[[gnu::noinline]] void toByteRow(const float* __restrict v, std::uint8_t* __restrict dst, int x0, int x1)
{
    forColumns(
        x0, x1, [&](int x) __attribute__((always_inline)) {
            dst[x] = static_cast<std::uint8_t>(static_cast<int>(unit(v[x]) * 255.0f + 0.5f));
        });
}

void rcdRun(const Mosaic& m, const OutputImage& out, int yBegin, int yEnd, Scratch scratch)
{
    const int width = m.width();
    const Layout layout = layoutFor(width, yEnd - yBegin);
    const std::ptrdiff_t p = static_cast<std::ptrdiff_t>(layout.pitch);
    const int top = yBegin - kReach;
    auto takePlane = [&] { return Plane(scratch.take<float>(layout.planeFloats()), layout.pitch, top); };
    const Plane cfa = takePlane();    // the mosaic, 0..1
    const Plane green = takePlane();  // green at every site
    const Plane vhDisc = takePlane(); // weight of the horizontal estimates
    const Plane work1 = takePlane();  // vertical high-pass², low-pass, P high-pass², P/Q weight
    const Plane work2 = takePlane();  // horizontal high-pass², Q high-pass², red
    const Plane work3 = takePlane();  // V/H weight before smoothing, P/Q before smoothing, blue

    // Colour masks (1 or 0) per row parity, so that the per-site choice is arithmetic.
    const float* masks[2][3];
    for (int parity = 0; parity < 2; ++parity) {
        for (int colour = 0; colour < 3; ++colour) {
            float* mask = scratch.take<float>(layout.pitch).data() + kColumnPad;
            for (int x = -kColumnPad; x < width + kColumnPad; ++x)
                mask[x] = m.cfa().at(x, parity) == colour ? 1.0f : 0.0f;
            masks[parity][colour] = mask;
        }
    }
    float* const outRed = scratch.take<float>(layout.pitch).data() + kColumnPad;
    float* const outBlue = scratch.take<float>(layout.pitch).data() + kColumnPad;
    std::uint8_t* bytes[kByteRows]; // blue, green, red, before interleaving
    for (std::uint8_t*& row : bytes)
        row = scratch.take<std::uint8_t>(layout.pitch).data() + kColumnPad;

    // Each stage covers the output area widened by what the later stages read around it: the
    // output reads red and blue 3 away, which read green 2 further (5); green reads the low-pass
    // 2 away (7) and the smoothed V/H weight (5), which reads the weight 1 away (6), which reads the
    // high-pass 1 away (7), which reads the mosaic 3 away (10).
    auto stage = [&](int reach, auto&& rowKernel) {
        const Area a = around(width, yBegin, yEnd, reach);
        for (int y = a.y0; y < a.y1; ++y)
            rowKernel(y, a.x0, a.x1);
    };
    stage(kReach, [&](int y, int x0, int x1) { toFloatRow(m.row(y), cfa.row(y), x0, x1); });
    stage(7, [&](int y, int x0, int x1) { lineHighPassRow(cfa.row(y), work1.row(y), work2.row(y), p, x0, x1); });
    stage(6, [&](int y, int x0, int x1) { lineWeightRow(work1.row(y), work2.row(y), work3.row(y), p, x0, x1); });
    stage(5, [&](int y, int x0, int x1) { lineSmoothRow(work3.row(y), vhDisc.row(y), p, x0, x1); });
    stage(7, [&](int y, int x0, int x1) { lowPassRow(cfa.row(y), work1.row(y), p, x0, x1); });
    stage(5, [&](int y, int x0, int x1) {
        greenRow(cfa.row(y), work1.row(y), vhDisc.row(y), masks[y & 1][kGreen], green.row(y), p, x0, x1);
    });
    stage(5, [&](int y, int x0, int x1) { diagonalHighPassRow(cfa.row(y), work1.row(y), work2.row(y), p, x0, x1); });
    stage(4, [&](int y, int x0, int x1) { diagonalWeightRow(work1.row(y), work2.row(y), work3.row(y), p, x0, x1); });
    stage(3, [&](int y, int x0, int x1) { diagonalSmoothRow(work3.row(y), work1.row(y), p, x0, x1); });
    stage(3, [&](int y, int x0, int x1) {
        oppositeRow(cfa.row(y), green.row(y), work1.row(y), masks[y & 1][kRed], masks[y & 1][kBlue], work2.row(y),
                    work3.row(y), p, x0, x1);
    });

    const int x0 = OutputImage::kMargin;
    const int x1 = width - OutputImage::kMargin;
    for (int y = yBegin; y < yEnd; ++y) {
        const float* g = green.row(y);
        atGreenRow(work2.row(y), g, vhDisc.row(y), masks[y & 1][kGreen], outRed, p, x0, x1);
        atGreenRow(work3.row(y), g, vhDisc.row(y), masks[y & 1][kGreen], outBlue, p, x0, x1);
        toByteRow(outBlue, bytes[0], x0, x1);
        toByteRow(g, bytes[1], x0, x1);
        toByteRow(outRed, bytes[2], x0, x1);
        std::uint8_t* dst = out.rowFor(y);
        for (int x = x0; x < x1; ++x, dst += 3) {
            dst[0] = bytes[0][x];
            dst[1] = bytes[1][x];
            dst[2] = bytes[2][x];
        }
    }
}

} // namespace

const Algorithm kRcd{5, "05-RCD", rcdScratch, rcdRun};

} // namespace kestro::dor2ezu
