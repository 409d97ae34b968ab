#include "draw_dib.h"

#include <QImage>
#include <QPainter>

#include <cstdint>
#include <cstdlib>

bool CDrawDib::Draw(QPainter& painter, int x, int y, const BITMAPINFOHEADER* pBitmap)
{
    if (pBitmap == nullptr || pBitmap->biWidth <= 0 || pBitmap->biHeight == 0 ||
        pBitmap->biHeight == INT32_MIN || pBitmap->biCompression != 0)
        return false;

    QImage::Format format;
    switch (pBitmap->biBitCount) {
    case 8:
        format = QImage::Format_Indexed8;
        break;
    case 24:
        format = QImage::Format_BGR888;
        break;
    case 32:
        format = QImage::Format_RGB32;
        break;
    default:
        return false;
    }
    const int nWidth = pBitmap->biWidth;
    const int nHeight = std::abs(pBitmap->biHeight);
    const qsizetype nStride = ((qsizetype(nWidth) * pBitmap->biBitCount + 31) / 32) * 4;
    const std::uint32_t nColours = pBitmap->biBitCount == 8 ? (pBitmap->biClrUsed ? pBitmap->biClrUsed : 256) : 0;
    if (nColours > 256)
        return false;

    const auto* pBlock = reinterpret_cast<const std::uint8_t*>(pBitmap);
    const auto* pTable = pBlock + pBitmap->biSize;
    const auto* pPixels = pTable + 4 * nColours;

    // The image only looks at the bitmap's rows; nothing is copied.
    QImage image(pPixels, nWidth, nHeight, nStride, format);
    if (format == QImage::Format_Indexed8) {
        m_colourTable.resize(256);
        for (std::uint32_t i = 0; i < 256; ++i) {
            // Pixel values beyond a short table draw black rather than reading past it.
            m_colourTable[i] = i < nColours ? qRgb(pTable[4 * i + 2], pTable[4 * i + 1], pTable[4 * i]) : qRgb(0, 0, 0);
        }
        image.setColorTable(m_colourTable);
    }

    if (pBitmap->biHeight < 0) {
        painter.drawImage(x, y, image);
        return true;
    }
    // Bottom-up rows: the first row in memory is the bottom line of the picture.
    painter.save();
    painter.translate(x, y + nHeight);
    painter.scale(1, -1);
    painter.drawImage(0, 0, image);
    painter.restore();
    return true;
}
