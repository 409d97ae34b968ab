// 02-Malvar: gradient-corrected linear interpolation, after H. S. Malvar, L.-W. He and R. Cutler,
// "High-quality linear interpolation for demosaicing of Bayer-patterned color images", ICASSP 2004.
//
// Every missing colour is its bilinear estimate plus a gain times the Laplacian of the colour the
// site did record, since edges show up in all three colours alike: alpha = 1/2 for green at red and
// blue sites, beta = 5/8 for red and blue at green sites, gamma = 3/4 for red at blue sites and blue
// at red ones. Folded together these are four 5 x 5 filters whose weights are multiples of 1/16, so
// they are summed exactly in integers and rounded to nearest, half up.
//
// All four filters are built from the same few neighbour sums, so each site computes the sums once,
// evaluates the filters both kinds of site in its row need and keeps the ones its parity asks for:
// a select, not a branch, so the loop over a row vectorises in 16-bit lanes. The colours go to
// three separate arrays first and are interleaved into blue-green-red pixels in a loop of their
// own, since a vectoriser without byte shuffles gives up on a loop that does both. Rows are walked
// in chunks of fixed length (the last one overlapping its predecessor): a known trip count lets the
// compiler vectorise at -O2 as well, where it does not add scalar epilogues.
#include <algorithm>

#include "algorithms.h"

namespace kestro::dor2ezu {
namespace {

constexpr int kChunk = 32;

std::size_t malvarScratch(int, int) { return 0; }

// Plane rows y - 2 .. y + 2 around the row being drawn.
struct Window {
    const std::uint8_t* up2;
    const std::uint8_t* up1;
    const std::uint8_t* cur;
    const std::uint8_t* down1;
    const std::uint8_t* down2;
};

// The filter sums lie within -3060 .. 7140, so 16-bit lanes hold them; every step is narrowed to
// 16 bits, which tells the compiler that it need not widen to 32.
using Sum = std::int16_t;

inline std::uint8_t round16(Sum sum)
{
    const Sum v = static_cast<Sum>(static_cast<Sum>(sum + 8) >> 4);
    return static_cast<std::uint8_t>(std::clamp<Sum>(v, 0, 255));
}

// Plane columns x .. x + count - 1 of one row into separate arrays: green, the colour of the row's
// other sites (rowColour) and the third colour. The row's green sites have x parity `greenParity`.
inline void drawSites(const Window& w, int x, int count, int greenParity, std::uint8_t* __restrict green,
                      std::uint8_t* __restrict rowColour, std::uint8_t* __restrict otherColour)
{
    // Columns relative to x from here on, through local pointers that the compiler may take as not
    // overlapping the output.
    const std::uint8_t* __restrict up2 = w.up2 + x;
    const std::uint8_t* __restrict up1 = w.up1 + x;
    const std::uint8_t* __restrict cur = w.cur + x;
    const std::uint8_t* __restrict down1 = w.down1 + x;
    const std::uint8_t* __restrict down2 = w.down2 + x;
    const int greenLane = (x ^ greenParity) & 1;
    for (int i = 0; i < count; ++i) {
        const Sum c = cur[i];
        const Sum h1 = static_cast<Sum>(cur[i - 1] + cur[i + 1]);
        const Sum h2 = static_cast<Sum>(cur[i - 2] + cur[i + 2]);
        const Sum v1 = static_cast<Sum>(up1[i] + down1[i]);
        const Sum v2 = static_cast<Sum>(up2[i] + down2[i]);
        const Sum d = static_cast<Sum>(up1[i - 1] + up1[i + 1] + down1[i - 1] + down1[i + 1]);

        // In sixteenths. At a red or blue site: green, and the colour of the diagonal neighbours.
        const Sum greenHere = static_cast<Sum>(8 * c + 4 * (h1 + v1) - 2 * (h2 + v2));
        const Sum crossHere = static_cast<Sum>(12 * c + 4 * d - 3 * (h2 + v2));
        // At a green site: the colour of the left and right neighbours, and that of the ones above
        // and below.
        const Sum alongRow = static_cast<Sum>(10 * c + 8 * h1 - 2 * h2 - 2 * d + v2);
        const Sum alongColumn = static_cast<Sum>(10 * c + 8 * v1 - 2 * v2 - 2 * d + h2);

        // The site's own colour goes through the same rounding as sixteen times itself, exactly.
        const Sum own = static_cast<Sum>(16 * c);
        const bool isGreen = (i & 1) == greenLane;
        green[i] = round16(isGreen ? own : greenHere);
        rowColour[i] = round16(isGreen ? alongRow : own);
        otherColour[i] = round16(isGreen ? alongColumn : crossHere);
    }
}

inline void interleave(int count, const std::uint8_t* __restrict blue, const std::uint8_t* __restrict green,
                       const std::uint8_t* __restrict red, std::uint8_t* __restrict dst)
{
    for (int i = 0; i < count; ++i) {
        dst[3 * i] = blue[i];
        dst[3 * i + 1] = green[i];
        dst[3 * i + 2] = red[i];
    }
}

// How one row is laid out: the x parity of its green sites, and whether its other sites are red.
struct RowKind {
    int greenParity;
    bool red;
};

// Output pixels of plane columns x .. x + count - 1, count <= kChunk.
inline void drawPixels(const Window& w, RowKind row, int x, int count, std::uint8_t* dst)
{
    std::uint8_t blue[kChunk], green[kChunk], red[kChunk];
    drawSites(w, x, count, row.greenParity, green, row.red ? red : blue, row.red ? blue : red);
    interleave(count, blue, green, red, dst);
}

// A full chunk, on its own so that the compiler sees the loops with their fixed length.
[[gnu::noinline]] void drawChunk(const Window& w, RowKind row, int x, std::uint8_t* dst)
{
    drawPixels(w, row, x, kChunk, dst);
}

void drawRow(const Window& w, RowKind row, int x0, int x1, std::uint8_t* dst)
{
    const int n = x1 - x0;
    if (n < kChunk) {
        drawPixels(w, row, x0, n, dst);
        return;
    }
    int i = 0;
    for (; i + kChunk <= n; i += kChunk)
        drawChunk(w, row, x0 + i, dst + 3 * i);
    // The rest as one more full chunk ending at the row's end; its overlap is drawn twice, alike.
    if (i < n)
        drawChunk(w, row, x1 - kChunk, dst + 3 * (n - kChunk));
}

void malvarRun(const Mosaic& m, const OutputImage& out, int yBegin, int yEnd, Scratch)
{
    const CfaPattern& cfa = m.cfa();
    for (int y = yBegin; y < yEnd; ++y) {
        const Window w{m.row(y - 2), m.row(y - 1), m.row(y), m.row(y + 1), m.row(y + 2)};
        const int greenParity = cfa.isGreen(0, y) ? 0 : 1;
        const RowKind row{greenParity, cfa.at(1 - greenParity, y) == kRed};
        drawRow(w, row, out.firstPlaneX(), out.endPlaneX(), out.rowFor(y));
    }
}

} // namespace

const Algorithm kMalvar{2, "02-Malvar", malvarScratch, malvarRun};

} // namespace kestro::dor2ezu
