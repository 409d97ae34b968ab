#include "display_levels.h"

#include "dib.h"

#include <algorithm>
#include <cmath>

namespace kestro::shell {

DisplayLevels DisplayLevels::Clamped() const
{
    DisplayLevels l = *this;
    l.nBlack = std::clamp(l.nBlack, 0, 255 - kMinGap);
    l.nWhite = std::clamp(l.nWhite, l.nBlack + kMinGap, 255);
    // NaN fails every comparison; it means no gamma at all.
    l.dGamma = std::isnan(l.dGamma) ? 1.0 : std::clamp(l.dGamma, kMinGamma, kMaxGamma);
    return l;
}

LevelsTable MakeLevelsTable(const DisplayLevels& levels)
{
    const DisplayLevels l = levels.Clamped();
    LevelsTable table{};
    const double dSpan = l.nWhite - l.nBlack;
    const double dExponent = 1.0 / l.dGamma;
    for (int v = 0; v < 256; ++v) {
        const double t = std::clamp((v - l.nBlack) / dSpan, 0.0, 1.0);
        table[v] = static_cast<std::uint8_t>(std::lround(255.0 * std::pow(t, dExponent)));
    }
    return table;
}

namespace {

bool IsGreyTable(const RGBQUAD* pTable, std::size_t nEntries)
{
    return std::all_of(pTable, pTable + nEntries,
                       [](const RGBQUAD& q) { return q.rgbRed == q.rgbGreen && q.rgbGreen == q.rgbBlue; });
}

} // namespace

FrameHistogram CountFrame(const BITMAPINFOHEADER* pBitmap)
{
    FrameHistogram h;
    if (pBitmap == nullptr || pBitmap->biWidth <= 0 || pBitmap->biHeight == 0 || pBitmap->biHeight == INT32_MIN ||
        pBitmap->biCompression != BI_RGB || pBitmap->biSize < sizeof(BITMAPINFOHEADER))
        return h;
    const int nBits = pBitmap->biBitCount;
    if ((nBits != 8 && nBits != 24 && nBits != 32) || kestro::dib::tableEntries(*pBitmap) > 256)
        return h;
    const std::size_t nWidth = static_cast<std::size_t>(pBitmap->biWidth);
    const std::size_t nRows = kestro::dib::rows(*pBitmap);
    const std::size_t nStride = kestro::dib::stride(*pBitmap);
    const std::uint8_t* pPixels = kestro::dib::pixels(*pBitmap);
    if (nBits == 8) {
        std::array<std::uint32_t, 256> indexes{};
        for (std::size_t y = 0; y < nRows; ++y) {
            const std::uint8_t* pRow = pPixels + y * nStride;
            for (std::size_t x = 0; x < nWidth; ++x)
                ++indexes[pRow[x]];
        }
        // What the pixels show is their table's colour; values past a short table show black.
        const RGBQUAD* pTable = kestro::dib::colourTable(*pBitmap);
        const std::size_t nEntries = kestro::dib::tableEntries(*pBitmap);
        h.bColour = !IsGreyTable(pTable, nEntries);
        for (std::size_t i = 0; i < 256; ++i) {
            const RGBQUAD q = i < nEntries ? pTable[i] : RGBQUAD{};
            h.counts[0][h.bColour ? q.rgbBlue : q.rgbRed] += indexes[i];
            if (h.bColour) {
                h.counts[1][q.rgbGreen] += indexes[i];
                h.counts[2][q.rgbRed] += indexes[i];
            }
        }
    } else {
        const std::size_t nStep = static_cast<std::size_t>(nBits) / 8;
        h.bColour = true;
        for (std::size_t y = 0; y < nRows; ++y) {
            const std::uint8_t* p = pPixels + y * nStride;
            for (std::size_t x = 0; x < nWidth; ++x, p += nStep) {
                ++h.counts[0][p[0]];
                ++h.counts[1][p[1]];
                ++h.counts[2][p[2]];
            }
        }
    }
    h.bValid = true;
    return h;
}

DisplayLevels AutoLevels(const FrameHistogram& histogram)
{
    if (!histogram.bValid)
        return {};
    std::array<std::uint64_t, 256> all{};
    const int nChannels = histogram.bColour ? 3 : 1;
    for (int c = 0; c < nChannels; ++c)
        for (std::size_t v = 0; v < 256; ++v)
            all[v] += histogram.counts[c][v];
    std::uint64_t nTotal = 0;
    for (std::uint64_t n : all)
        nTotal += n;
    if (nTotal == 0)
        return {};
    // The darkest and brightest thousandth are left to clip: a few hot pixels or a dead column
    // would otherwise hold the stretch where it was.
    const std::uint64_t nTail = nTotal / 1000;
    int nLow = 0;
    for (std::uint64_t nSeen = 0; nLow < 255; ++nLow) {
        nSeen += all[nLow];
        if (nSeen > nTail)
            break;
    }
    int nHigh = 255;
    for (std::uint64_t nSeen = 0; nHigh > 0; --nHigh) {
        nSeen += all[nHigh];
        if (nSeen > nTail)
            break;
    }
    DisplayLevels l;
    l.nBlack = nLow;
    l.nWhite = std::max(nHigh, nLow + DisplayLevels::kMinGap);
    if (l.nWhite > 255) {
        l.nWhite = 255;
        l.nBlack = 255 - DisplayLevels::kMinGap;
    }
    return l;
}

} // namespace kestro::shell
