// 01-Nearest: pixel replication. Every pixel takes red and blue from the Bayer quad (the 2 x 2
// block on even coordinates) that holds it, and green from the green site of its own row in that
// quad. No arithmetic at all: a quick preview that shows the raw sampling as it is.
#include "algorithms.h"

namespace kestro::dor2ezu {
namespace {

std::size_t nearestScratch(int, int) { return 0; }

void nearestRun(const Mosaic& m, const OutputImage& out, int yBegin, int yEnd, Scratch)
{
    const CfaPattern& cfa = m.cfa();
    for (int y = yBegin; y < yEnd; ++y) {
        const int top = y & ~1;
        const std::uint8_t* rows[2] = {m.row(top), m.row(top + 1)};
        // Within a quad row, the green site is the column whose colour is green.
        const int ownRow = y & 1;
        const int greenColumn = cfa.at(0, y) == kGreen ? 0 : 1;
        // The quad row that holds red, and the one that holds blue (the other one).
        const int redRow = (cfa.at(0, 0) == kRed || cfa.at(1, 0) == kRed) ? 0 : 1;
        const int redColumn = cfa.at(0, redRow) == kRed ? 0 : 1;
        const int blueColumn = cfa.at(0, 1 - redRow) == kBlue ? 0 : 1;
        // The output starts at an even plane column, so its pixels pair up within quads: both
        // pixels of a pair take the same three values.
        const std::uint8_t* blue = rows[1 - redRow] + blueColumn;
        const std::uint8_t* green = rows[ownRow] + greenColumn;
        const std::uint8_t* red = rows[redRow] + redColumn;
        std::uint8_t* dst = out.rowFor(y);
        const int first = out.firstPlaneX();
        const int pairs = out.width() / 2;
        for (int k = 0; k < pairs; ++k) {
            const int x = first + 2 * k;
            const std::uint8_t b = blue[x], g = green[x], r = red[x];
            std::uint8_t* pixel = dst + 6 * k;
            pixel[0] = b, pixel[1] = g, pixel[2] = r, pixel[3] = b, pixel[4] = g, pixel[5] = r;
        }
        if (out.width() % 2 != 0) {
            const int x = first + 2 * pairs;
            std::uint8_t* pixel = dst + 6 * pairs;
            pixel[0] = blue[x], pixel[1] = green[x], pixel[2] = red[x];
        }
    }
}

} // namespace

const Algorithm kNearest{1, "01-Nearest", nearestScratch, nearestRun};

} // namespace kestro::dor2ezu
