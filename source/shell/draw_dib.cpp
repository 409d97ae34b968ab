#include "draw_dib.h"

#include "dib_rows.h"

#include <QPainter>

#include <cstdlib>

using namespace kestro::shell;

bool CDrawDib::Draw(QPainter& painter, int x, int y, const BITMAPINFOHEADER* pBitmap, const QRect& area)
{
    if (pBitmap == nullptr || pBitmap->biWidth <= 0 || pBitmap->biHeight == 0 || pBitmap->biHeight == INT32_MIN ||
        pBitmap->biCompression != 0)
        return false;
    const int nBits = pBitmap->biBitCount;
    if (nBits != 8 && nBits != 24 && nBits != 32)
        return false;
    const int nWidth = pBitmap->biWidth;
    const int nHeight = std::abs(pBitmap->biHeight);
    const std::size_t nStride = ((static_cast<std::size_t>(nWidth) * nBits + 31) / 32) * 4;
    const std::uint32_t nColours = nBits == 8 ? (pBitmap->biClrUsed ? pBitmap->biClrUsed : 256) : 0;
    if (nColours > 256)
        return false;

    const auto* pBlock = reinterpret_cast<const std::uint8_t*>(pBitmap);
    const auto* pTable = pBlock + pBitmap->biSize;
    const auto* pRows = pTable + 4 * nColours;

    // The part to draw, in the picture's own coordinates (row 0 at the top).
    QRect part(0, 0, nWidth, nHeight);
    if (!area.isEmpty())
        part &= area.translated(-x, -y);
    if (part.isEmpty())
        return true;

    if (nBits == 8) {
        for (std::uint32_t i = 0; i < 256; ++i) {
            // Pixel values beyond a short table draw black rather than reading past it.
            m_colourTable[i] = i < nColours ? qRgb(pTable[4 * i + 2], pTable[4 * i + 1], pTable[4 * i]) : qRgb(0, 0, 0);
        }
    }
    if (m_pixels.size() != part.size())
        m_pixels = QImage(part.size(), QImage::Format_RGB32);

    const std::size_t nBytesPerPixel = static_cast<std::size_t>(nBits) / 8;
    for (int row = 0; row < part.height(); ++row) {
        const int nPictureRow = part.top() + row;
        // Bottom-up rows: the first row in memory is the bottom line of the picture.
        const int nStoredRow = pBitmap->biHeight > 0 ? nHeight - 1 - nPictureRow : nPictureRow;
        const std::uint8_t* pIn = pRows + nStride * static_cast<std::size_t>(nStoredRow) +
                                  nBytesPerPixel * static_cast<std::size_t>(part.left());
        auto* pOut = reinterpret_cast<std::uint32_t*>(m_pixels.scanLine(row));
        switch (nBits) {
        case 8: IndexedRowToRgb32(pIn, m_colourTable.data(), pOut, part.width()); break;
        case 24: BgrRowToRgb32(pIn, pOut, part.width()); break;
        default: Bgrx32RowToRgb32(pIn, pOut, part.width()); break;
        }
    }
    painter.drawImage(x + part.left(), y + part.top(), m_pixels);
    return true;
}
