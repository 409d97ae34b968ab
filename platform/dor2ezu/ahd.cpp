// 04-AHD: adaptive homogeneity-directed demosaicing (K. Hirakawa and T. W. Parks, "Adaptive
// homogeneity-directed demosaicing algorithm", IEEE Trans. Image Processing 14(3), 2005).
//
// Two full candidate images are built, one with green interpolated along rows and one along
// columns (the paper's filter: the average of the two green neighbours plus a quarter of the
// second difference of the site's own colour). Red and blue follow in each candidate from the
// colour differences R - G and B - G, interpolated bilinearly. Both candidates go to CIELab, and
// each pixel counts how many of its four neighbours lie inside the paper's adaptive ball: a
// luminance distance at most eps_L and a chroma distance at most eps_C, where eps_L is the smaller
// of the largest horizontal luminance step of the row candidate and the largest vertical step of
// the column candidate, and eps_C likewise for chroma. The counts are summed over the 3 x 3
// neighbourhood and every pixel takes the candidate with more homogeneous neighbours, or the
// average of both on a tie. One pass of the paper's artefact reduction follows: every colour a
// site did not sense is rebuilt from the 3 x 3 median of the colour differences.
//
// A band works row by row through rings of four rows: green and its colour differences for row g,
// then red, blue and Lab for row g - 1, the homogeneity of row g - 2, the chosen image of row
// g - 3 and the median pass and output of row g - 4. The rows a band needs above and below itself
// (six) are recomputed from the mosaic, so bands share nothing. The loops have no branches
// (selections are weights of 0 and 1, counts come from sign bits) and walk blocks of eight
// columns, which GCC vectorises even at -O2. Each stage is a function of its own that is not
// inlined, so that its rows keep their __restrict promise: vectorising without it would need
// run-time overlap checks, which -O2 does not make.
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>

#include "algorithms.h"

namespace kestro::dor2ezu {
namespace {

constexpr int kBlock = 8;
constexpr int kRing = 4;  // rows kept per stage; a power of two so that y & (kRing - 1) picks one
constexpr int kReach = 6; // green 2 rows, colour 1, homogeneity 1, its 3 x 3 sum 1, median 1

// Columns begin..end-1 in blocks of kBlock and a scalar tail. The blocks have a fixed trip count,
// which is what GCC's -O2 cost model asks before it vectorises.
template <typename Body> inline void columns(int begin, int end, Body body)
{
    int x = begin;
    for (; x + kBlock <= end; x += kBlock)
        for (int j = 0; j < kBlock; ++j)
            body(x + j);
    for (; x < end; ++x)
        body(x);
}

// Branch-free integer helpers: GCC's -O2 vectoriser takes no selects and, for SSE2, no min or max
// of 32-bit integers, but it takes shifts, masks and sums. No argument here comes near overflow.
inline std::int32_t negativeMask(std::int32_t v) { return v >> 31; } // -1 when v < 0, else 0
inline std::int32_t minInt(std::int32_t a, std::int32_t b) { return b + ((a - b) & negativeMask(a - b)); }
inline std::int32_t maxInt(std::int32_t a, std::int32_t b) { return a - ((a - b) & negativeMask(a - b)); }
inline std::int32_t clampInt(std::int32_t v, std::int32_t hi)
{ // to 0..hi
    return minInt(v & ~negativeMask(v), hi);
}

// A float that is not negative (and not NaN) orders like its bits read as an integer, which lets
// distances be compared and maximised with the integer helpers.
inline std::int32_t bitsOf(float v) { return std::bit_cast<std::int32_t>(v); }

// The Lab companding function f(t) = t^(1/3) (or its linear toe) tabulated over t in steps of
// 1 / kLabScale. The input has 8 bits, so steps sixteen times finer than one input level are
// plenty; candidates overshoot a little, hence the table runs to 1.5.
constexpr int kLabScale = 4096;
constexpr int kLabEntries = kLabScale * 3 / 2 + 1;

const float* labTable()
{
    static const auto table = [] {
        std::array<float, kLabEntries> t{};
        for (int i = 0; i < kLabEntries; ++i) {
            const double v = static_cast<double>(i) / kLabScale;
            t[i] = static_cast<float>(v > 0.008856 ? std::cbrt(v) : 7.787 * v + 16.0 / 116.0);
        }
        return t;
    }();
    return table.data();
}

// Linear sRGB (D65) to XYZ, each row divided by the white point's value and scaled from 0..255 to
// table steps.
constexpr float kToTable = static_cast<float>(kLabScale) / 255.0f;
constexpr float kXr = 0.4124564f / 0.95047f * kToTable, kXg = 0.3575761f / 0.95047f * kToTable,
                kXb = 0.1804375f / 0.95047f * kToTable;
constexpr float kYr = 0.2126729f * kToTable, kYg = 0.7151522f * kToTable, kYb = 0.0721750f * kToTable;
constexpr float kZr = 0.0193339f / 1.08883f * kToTable, kZg = 0.1191920f / 1.08883f * kToTable,
                kZb = 0.9503041f / 1.08883f * kToTable;

inline std::int32_t tableIndex(float v) { return clampInt(static_cast<std::int32_t>(v + 0.5f), kLabEntries - 1); }

// Green of one row along the row (gh) and along the column (gv), and the colour differences
// mosaic - green (dh, dv), which are 0 on green sites. nonGreen is 1 on the row's red or blue
// sites and 0 on its green ones.
[[gnu::noinline]] void greenRow(const std::uint8_t* __restrict up2, const std::uint8_t* __restrict up1,
                                const std::uint8_t* __restrict m0, const std::uint8_t* __restrict dn1,
                                const std::uint8_t* __restrict dn2, const float* __restrict nonGreen,
                                float* __restrict gh, float* __restrict gv, float* __restrict dh, float* __restrict dv,
                                int begin, int end)
{
    columns(
        begin, end, [&](int x) __attribute__((always_inline)) {
            const float m = m0[x];
            const float h =
                0.5f * (float(m0[x - 1]) + float(m0[x + 1])) + 0.25f * (2.0f * m - float(m0[x - 2]) - float(m0[x + 2]));
            const float v = 0.5f * (float(up1[x]) + float(dn1[x])) + 0.25f * (2.0f * m - float(up2[x]) - float(dn2[x]));
            const float k = nonGreen[x];
            const float gH = k * h + (1.0f - k) * m;
            const float gV = k * v + (1.0f - k) * m;
            gh[x] = gH;
            gv[x] = gV;
            dh[x] = m - gH;
            dv[x] = m - gV;
        });
}

// Red and blue of one row of one candidate: `own` is the row's non-green colour, `other` the
// colour of the rows above and below. Both come from the colour differences d (rows y - 1, y,
// y + 1): along the row or down the column on green sites, from the four diagonals on the site of
// the other colour.
[[gnu::noinline]] void colourRow(const std::uint8_t* __restrict m0, const float* __restrict g,
                                 const float* __restrict du, const float* __restrict d0, const float* __restrict dd,
                                 const float* __restrict nonGreen, float* __restrict own, float* __restrict other,
                                 int begin, int end)
{
    columns(
        begin, end, [&](int x) __attribute__((always_inline)) {
            const float k = nonGreen[x];
            const float gx = g[x];
            const float alongRow = 0.5f * (d0[x - 1] + d0[x + 1]);
            const float alongColumn = 0.5f * (du[x] + dd[x]);
            const float diagonal = 0.25f * ((du[x - 1] + du[x + 1]) + (dd[x - 1] + dd[x + 1]));
            own[x] = k * float(m0[x]) + (1.0f - k) * (gx + alongRow);
            other[x] = gx + (k * diagonal + (1.0f - k) * alongColumn);
        });
}

// CIELab of one row of one candidate (L without its constant -16, which no difference sees).
[[gnu::noinline]] void labRow(const float* __restrict r, const float* __restrict g, const float* __restrict b,
                              std::int32_t* __restrict ix, std::int32_t* __restrict iy, std::int32_t* __restrict iz,
                              const float* __restrict table, float* __restrict lL, float* __restrict la,
                              float* __restrict lb, int begin, int end)
{
    columns(
        begin, end, [&](int x) __attribute__((always_inline)) {
            ix[x] = tableIndex(kXr * r[x] + kXg * g[x] + kXb * b[x]);
            iy[x] = tableIndex(kYr * r[x] + kYg * g[x] + kYb * b[x]);
            iz[x] = tableIndex(kZr * r[x] + kZg * g[x] + kZb * b[x]);
        });
    for (int x = begin; x < end; ++x) {
        const float fx = table[ix[x]], fy = table[iy[x]], fz = table[iz[x]];
        lL[x] = 116.0f * fy;
        la[x] = 500.0f * (fx - fy);
        lb[x] = 200.0f * (fy - fz);
    }
}

// Homogeneity of one row: the row candidate's count of neighbours inside the adaptive ball minus
// the column candidate's. Distances are compared as the bits of non-negative floats.
[[gnu::noinline]] void homogeneityRow(
    const float* __restrict hL0, const float* __restrict hLu, const float* __restrict hLd, const float* __restrict ha0,
    const float* __restrict hau, const float* __restrict had, const float* __restrict hb0, const float* __restrict hbu,
    const float* __restrict hbd, const float* __restrict vL0, const float* __restrict vLu, const float* __restrict vLd,
    const float* __restrict va0, const float* __restrict vau, const float* __restrict vad, const float* __restrict vb0,
    const float* __restrict vbu, const float* __restrict vbd, std::int32_t* __restrict diff, int begin, int end)
{
    columns(
        begin, end, [&](int x) __attribute__((always_inline)) {
            auto luma = [](float l0, float l1) { return bitsOf(std::fabs(l0 - l1)); };
            auto chroma = [](float a0, float a1, float b0, float b1) {
                return bitsOf((a0 - a1) * (a0 - a1) + (b0 - b1) * (b0 - b1));
            };
            // Neighbours left, right, up, down.
            const std::int32_t hl0 = luma(hL0[x], hL0[x - 1]), hl1 = luma(hL0[x], hL0[x + 1]);
            const std::int32_t hl2 = luma(hL0[x], hLu[x]), hl3 = luma(hL0[x], hLd[x]);
            const std::int32_t hc0 = chroma(ha0[x], ha0[x - 1], hb0[x], hb0[x - 1]);
            const std::int32_t hc1 = chroma(ha0[x], ha0[x + 1], hb0[x], hb0[x + 1]);
            const std::int32_t hc2 = chroma(ha0[x], hau[x], hb0[x], hbu[x]);
            const std::int32_t hc3 = chroma(ha0[x], had[x], hb0[x], hbd[x]);
            const std::int32_t vl0 = luma(vL0[x], vL0[x - 1]), vl1 = luma(vL0[x], vL0[x + 1]);
            const std::int32_t vl2 = luma(vL0[x], vLu[x]), vl3 = luma(vL0[x], vLd[x]);
            const std::int32_t vc0 = chroma(va0[x], va0[x - 1], vb0[x], vb0[x - 1]);
            const std::int32_t vc1 = chroma(va0[x], va0[x + 1], vb0[x], vb0[x + 1]);
            const std::int32_t vc2 = chroma(va0[x], vau[x], vb0[x], vbu[x]);
            const std::int32_t vc3 = chroma(va0[x], vad[x], vb0[x], vbd[x]);
            const std::int32_t epsL = minInt(maxInt(hl0, hl1), maxInt(vl2, vl3));
            const std::int32_t epsC = minInt(maxInt(hc0, hc1), maxInt(vc2, vc3));
            // -1 for a neighbour outside the ball, 0 inside.
            auto outside = [&](std::int32_t l, std::int32_t c) { return negativeMask((epsL - l) | (epsC - c)); };
            diff[x] = (outside(hl0, hc0) + outside(hl1, hc1) + outside(hl2, hc2) + outside(hl3, hc3)) -
                      (outside(vl0, vc0) + outside(vl1, vc1) + outside(vl2, vc2) + outside(vl3, vc3));
        });
}

// The chosen image of one row: sums the homogeneity difference over 3 x 3 and weighs the
// candidates 1 : 0, 0 : 1 or 1/2 : 1/2 by its sign. Kept as green and the differences red - green
// and blue - green, which is what the median pass reads.
[[gnu::noinline]] void chooseRow(const std::int32_t* __restrict hu, const std::int32_t* __restrict h0,
                                 const std::int32_t* __restrict hd, std::int32_t* __restrict columnSum,
                                 const float* __restrict rh, const float* __restrict gh, const float* __restrict bh,
                                 const float* __restrict rv, const float* __restrict gv, const float* __restrict bv,
                                 float* __restrict g, float* __restrict redDiff, float* __restrict blueDiff, int begin,
                                 int end)
{
    columns(
        begin - 1, end + 1, [&](int x) __attribute__((always_inline)) { columnSum[x] = hu[x] + h0[x] + hd[x]; });
    columns(
        begin, end, [&](int x) __attribute__((always_inline)) {
            const std::int32_t s = columnSum[x - 1] + columnSum[x] + columnSum[x + 1];
            const std::int32_t sign = negativeMask(s) | static_cast<std::int32_t>(static_cast<std::uint32_t>(-s) >> 31);
            const float w = 0.5f + 0.5f * static_cast<float>(sign);
            const float wv = 1.0f - w;
            const float green = w * gh[x] + wv * gv[x];
            g[x] = green;
            redDiff[x] = (w * rh[x] + wv * rv[x]) - green;
            blueDiff[x] = (w * bh[x] + wv * bv[x]) - green;
        });
}

// Between two variables (not against a constant) these become minps and maxps.
inline float minf(float a, float b) { return b < a ? b : a; }
inline float maxf(float a, float b) { return a < b ? b : a; }

inline void sort2(float& a, float& b)
{
    const float lo = minf(a, b);
    b = maxf(a, b);
    a = lo;
}
inline float median3(float a, float b, float c) { return maxf(minf(a, b), minf(maxf(a, b), c)); }

// The median of the 3 x 3 neighbourhood of column x in rows u, c, d: the largest of the columns'
// minima, the median of their medians and the smallest of their maxima have the median of all
// nine as their own median.
[[gnu::always_inline]] inline float median9(const float* u, const float* c, const float* d, int x)
{
    float lo0 = u[x - 1], mid0 = c[x - 1], hi0 = d[x - 1];
    float lo1 = u[x], mid1 = c[x], hi1 = d[x];
    float lo2 = u[x + 1], mid2 = c[x + 1], hi2 = d[x + 1];
    auto sort3 = [](float& lo, float& mid, float& hi) {
        sort2(lo, mid);
        sort2(mid, hi);
        sort2(lo, mid);
    };
    sort3(lo0, mid0, hi0);
    sort3(lo1, mid1, hi1);
    sort3(lo2, mid2, hi2);
    return median3(maxf(maxf(lo0, lo1), lo2), median3(mid0, mid1, mid2), minf(minf(hi0, hi1), hi2));
}

inline std::int32_t roundToByte(float v) { return clampInt(static_cast<std::int32_t>(v + 0.5f), 255); }

// The paper's artefact reduction, one pass: every colour a site did not sense becomes a neighbour
// median of the colour differences added to what the site has. `own` is the row's sensed non-green
// colour (red or blue), `other` the colour of the rows above and below; their differences to green
// come in rows above, at and below. Sensed values stay as they are.
[[gnu::noinline]] void medianRow(const float* __restrict g, const float* __restrict ownU, const float* __restrict own0,
                                 const float* __restrict ownD, const float* __restrict otherU,
                                 const float* __restrict other0, const float* __restrict otherD,
                                 const float* __restrict nonGreen, std::int32_t* __restrict ownOut,
                                 std::int32_t* __restrict greenOut, std::int32_t* __restrict otherOut, int begin,
                                 int end)
{
    columns(
        begin, end, [&](int x) __attribute__((always_inline)) {
            const float k = nonGreen[x];
            const float ownMedian = median9(ownU, own0, ownD, x);
            const float otherMedian = median9(otherU, other0, otherD, x);
            const float gx = g[x];
            const float sensed = gx + own0[x]; // the own colour where it was sensed
            ownOut[x] = roundToByte(k * sensed + (1.0f - k) * (gx + ownMedian));
            greenOut[x] = roundToByte(k * (sensed - ownMedian) + (1.0f - k) * gx);
            otherOut[x] = roundToByte(gx + otherMedian);
        });
}

void packRow(const std::int32_t* r, const std::int32_t* g, const std::int32_t* b, std::uint8_t* dst, int begin, int end)
{
    for (int x = begin; x < end; ++x, dst += 3) {
        dst[0] = static_cast<std::uint8_t>(b[x]);
        dst[1] = static_cast<std::uint8_t>(g[x]);
        dst[2] = static_cast<std::uint8_t>(r[x]);
    }
}

// Row layout: every working row holds plane columns -kColumnPad .. width + kColumnPad - 1.
constexpr int kColumnPad = 8;
constexpr int kStages = 7; // per candidate: green, difference, red, blue, L, a, b
constexpr int kCandidateRows = kStages * kRing;
// Two candidates, the homogeneity ring, the chosen image's three rings, the nonGreen masks of both
// parities, the column sums, three output rows and three index rows.
constexpr int kRowCount = 2 * kCandidateRows + 4 * kRing + 2 + 1 + 3 + 3;

std::size_t rowStride(int width) { return (static_cast<std::size_t>(width) + 2 * kColumnPad + 15) & ~std::size_t{15}; }

std::size_t ahdScratch(int width, int) { return Scratch::bytesFor<float>(rowStride(width) * kRowCount); }

struct Candidate {
    float* green[kRing];
    float* diff[kRing];
    float* red[kRing];
    float* blue[kRing];
    float* L[kRing];
    float* a[kRing];
    float* b[kRing];
};

inline int slot(int y) { return y & (kRing - 1); }

void ahdRun(const Mosaic& m, const OutputImage& out, int yBegin, int yEnd, Scratch scratch)
{
    const int width = m.width();
    const std::size_t stride = rowStride(width);
    float* memory = scratch.take<float>(stride * kRowCount).data();
    int next = 0;
    auto newRow = [&] { return memory + stride * static_cast<std::size_t>(next++) + kColumnPad; };

    Candidate cand[2]; // 0: green along rows, 1: along columns
    for (Candidate& c : cand) {
        for (float** stage : {c.green, c.diff, c.red, c.blue, c.L, c.a, c.b})
            for (int i = 0; i < kRing; ++i)
                stage[i] = newRow();
    }
    auto newIntRow = [&] { return reinterpret_cast<std::int32_t*>(newRow()); };
    std::int32_t* homogeneity[kRing];
    for (std::int32_t*& row : homogeneity)
        row = newIntRow();
    float* chosenGreen[kRing];
    float* chosenRed[kRing];
    float* chosenBlue[kRing];
    for (int i = 0; i < kRing; ++i) {
        chosenGreen[i] = newRow();
        chosenRed[i] = newRow();
        chosenBlue[i] = newRow();
    }
    float* nonGreen[2] = {newRow(), newRow()}; // by the parity of the row's first green column
    std::int32_t* columnSum = newIntRow();
    std::int32_t* outRed = newIntRow();
    std::int32_t* outGreen = newIntRow();
    std::int32_t* outBlue = newIntRow();
    std::int32_t* index0 = newIntRow();
    std::int32_t* index1 = newIntRow();
    std::int32_t* index2 = newIntRow();
    const float* table = labTable();

    for (int x = -kColumnPad; x < width + kColumnPad; ++x) {
        nonGreen[0][x] = static_cast<float>(x & 1);
        nonGreen[1][x] = static_cast<float>(1 - (x & 1));
    }
    const CfaPattern& cfa = m.cfa();
    auto greenParity = [&](int y) { return cfa.isGreen(0, y) ? 0 : 1; };
    auto rowHasRed = [&](int y) { return cfa.at(1 - greenParity(y), y) == kRed; };

    // Each stage works on the columns the next one reads: output 4..W-5, the chosen image one more
    // each side, homogeneity two more, colour and Lab three more, green four more (reading the
    // mosaic six beyond).
    const int outBegin = out.firstPlaneX(), outEnd = out.endPlaneX();
    for (int y = yBegin - kReach + 2; y < yEnd + kReach - 2; ++y) {
        // Green and colour differences of row y.
        {
            const int s = slot(y);
            greenRow(m.row(y - 2), m.row(y - 1), m.row(y), m.row(y + 1), m.row(y + 2), nonGreen[greenParity(y)],
                     cand[0].green[s], cand[1].green[s], cand[0].diff[s], cand[1].diff[s], outBegin - 4, outEnd + 4);
        }
        // Red, blue and Lab of row y - 1.
        if (const int r = y - 1; r >= yBegin - 3) {
            const int s = slot(r);
            const bool red = rowHasRed(r);
            for (Candidate& c : cand) {
                colourRow(m.row(r), c.green[s], c.diff[slot(r - 1)], c.diff[s], c.diff[slot(r + 1)],
                          nonGreen[greenParity(r)], red ? c.red[s] : c.blue[s], red ? c.blue[s] : c.red[s],
                          outBegin - 3, outEnd + 3);
                labRow(c.red[s], c.green[s], c.blue[s], index0, index1, index2, table, c.L[s], c.a[s], c.b[s],
                       outBegin - 3, outEnd + 3);
            }
        }
        // Homogeneity of row y - 2.
        if (const int h = y - 2; h >= yBegin - 2) {
            const int s = slot(h), u = slot(h - 1), d = slot(h + 1);
            const Candidate& ch = cand[0];
            const Candidate& cv = cand[1];
            homogeneityRow(ch.L[s], ch.L[u], ch.L[d], ch.a[s], ch.a[u], ch.a[d], ch.b[s], ch.b[u], ch.b[d], cv.L[s],
                           cv.L[u], cv.L[d], cv.a[s], cv.a[u], cv.a[d], cv.b[s], cv.b[u], cv.b[d], homogeneity[s],
                           outBegin - 2, outEnd + 2);
        }
        // The chosen image of row y - 3.
        if (const int c = y - 3; c >= yBegin - 1) {
            const int s = slot(c);
            chooseRow(homogeneity[slot(c - 1)], homogeneity[s], homogeneity[slot(c + 1)], columnSum, cand[0].red[s],
                      cand[0].green[s], cand[0].blue[s], cand[1].red[s], cand[1].green[s], cand[1].blue[s],
                      chosenGreen[s], chosenRed[s], chosenBlue[s], outBegin - 1, outEnd + 1);
        }
        // Output row y - 4.
        if (const int o = y - 4; o >= yBegin) {
            const int s = slot(o), u = slot(o - 1), d = slot(o + 1);
            float* const* own = rowHasRed(o) ? chosenRed : chosenBlue;
            float* const* other = rowHasRed(o) ? chosenBlue : chosenRed;
            std::int32_t* ownOut = rowHasRed(o) ? outRed : outBlue;
            std::int32_t* otherOut = rowHasRed(o) ? outBlue : outRed;
            medianRow(chosenGreen[s], own[u], own[s], own[d], other[u], other[s], other[d], nonGreen[greenParity(o)],
                      ownOut, outGreen, otherOut, outBegin, outEnd);
            packRow(outRed, outGreen, outBlue, out.rowFor(o), outBegin, outEnd);
        }
    }
}

} // namespace

const Algorithm kAhd{4, "04-AHD", ahdScratch, ahdRun};

} // namespace kestro::dor2ezu
