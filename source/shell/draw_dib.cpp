#include "draw_dib.h"

#include "dib_rows.h"

#include <QPainter>

#include <cmath>

using namespace kestro::shell;

bool CDrawDib::Check(const BITMAPINFOHEADER* pBitmap, Layout& layout)
{
    if (pBitmap == nullptr || pBitmap->biWidth <= 0 || pBitmap->biHeight == 0 || pBitmap->biHeight == INT32_MIN ||
        pBitmap->biCompression != BI_RGB || pBitmap->biSize < sizeof(BITMAPINFOHEADER))
        return false;
    const int nBits = pBitmap->biBitCount;
    if (nBits != 8 && nBits != 24 && nBits != 32)
        return false;
    // The rows follow the colour table; one longer than 8-bit values can index comes with no
    // frame, and its length would put the rows anywhere.
    if (kestro::dib::tableEntries(*pBitmap) > 256)
        return false;
    layout.pBitmap = pBitmap;
    layout.nBits = nBits;
    layout.nWidth = pBitmap->biWidth;
    layout.nHeight = static_cast<int>(kestro::dib::rows(*pBitmap));
    layout.pPixels = kestro::dib::pixels(*pBitmap);
    layout.nStride = kestro::dib::stride(*pBitmap);
    return true;
}

std::size_t CDrawDib::PackedSize(const BITMAPINFOHEADER* pBitmap)
{
    Layout layout;
    if (!Check(pBitmap, layout))
        return 0;
    // The rows as drawn, whatever biSizeImage says.
    return kestro::dib::formatBytes(*pBitmap) + layout.nStride * static_cast<std::size_t>(layout.nHeight);
}

bool CDrawDib::Read(const BITMAPINFOHEADER* pBitmap, Layout& layout)
{
    if (!Check(pBitmap, layout))
        return false;
    if (layout.nBits == 8) {
        const RGBQUAD* pTable = kestro::dib::colourTable(*pBitmap);
        const std::size_t nColours = kestro::dib::tableEntries(*pBitmap);
        for (std::size_t i = 0; i < m_colourTable.size(); ++i) {
            // Pixel values beyond a short table draw black rather than reading past it.
            m_colourTable[i] =
                i < nColours ? qRgb(pTable[i].rgbRed, pTable[i].rgbGreen, pTable[i].rgbBlue) : qRgb(0, 0, 0);
        }
    }
    return true;
}

void CDrawDib::Convert(const Layout& layout, const QRect& part)
{
    if (m_pixels.size() != part.size())
        m_pixels = QImage(part.size(), QImage::Format_RGB32);
    const std::size_t nBytesPerPixel = static_cast<std::size_t>(layout.nBits) / 8;
    for (int row = 0; row < part.height(); ++row) {
        const std::size_t nStoredRow =
            kestro::dib::storedRow(*layout.pBitmap, static_cast<std::size_t>(part.top() + row));
        const std::uint8_t* pIn =
            layout.pPixels + layout.nStride * nStoredRow + nBytesPerPixel * static_cast<std::size_t>(part.left());
        auto* pOut = reinterpret_cast<std::uint32_t*>(m_pixels.scanLine(row));
        switch (layout.nBits) {
        case 8: IndexedRowToRgb32(pIn, m_colourTable.data(), pOut, part.width()); break;
        case 24: BgrRowToRgb32(pIn, pOut, part.width()); break;
        default: Bgrx32RowToRgb32(pIn, pOut, part.width()); break;
        }
    }
}

bool CDrawDib::Draw(QPainter& painter, int x, int y, const BITMAPINFOHEADER* pBitmap, const QRect& area)
{
    Layout layout;
    if (!Read(pBitmap, layout))
        return false;
    // The part to draw, in the picture's own coordinates (row 0 at the top).
    QRect part(0, 0, layout.nWidth, layout.nHeight);
    if (!area.isEmpty())
        part &= area.translated(-x, -y);
    if (part.isEmpty())
        return true;
    Convert(layout, part);
    painter.drawImage(x + part.left(), y + part.top(), m_pixels);
    return true;
}

bool CDrawDib::DrawScaled(QPainter& painter, const QRectF& target, const BITMAPINFOHEADER* pBitmap, const QRect& area,
                          bool bSmooth)
{
    Layout layout;
    if (!Read(pBitmap, layout) || target.isEmpty())
        return false;
    const double sx = target.width() / layout.nWidth;
    const double sy = target.height() / layout.nHeight;
    // The picture's pixels that land in the area, and one more all round for the smoothing to
    // blend the edge pixels with their neighbours rather than with nothing.
    const QRectF visible = area.isEmpty() ? target : target.intersected(QRectF(area));
    if (visible.isEmpty())
        return true;
    const int nMargin = bSmooth ? 1 : 0;
    const QRect part = QRect(QPoint(static_cast<int>(std::floor((visible.left() - target.left()) / sx)) - nMargin,
                                    static_cast<int>(std::floor((visible.top() - target.top()) / sy)) - nMargin),
                             QPoint(static_cast<int>(std::ceil((visible.right() - target.left()) / sx)) + nMargin,
                                    static_cast<int>(std::ceil((visible.bottom() - target.top()) / sy)) + nMargin)) &
                       QRect(0, 0, layout.nWidth, layout.nHeight);
    if (part.isEmpty())
        return true;
    Convert(layout, part);
    const QRectF dest(target.left() + part.left() * sx, target.top() + part.top() * sy, part.width() * sx,
                      part.height() * sy);
    painter.save();
    painter.setClipRect(visible);
    // Without smoothing Qt repeats each pixel, so a sensor pixel shows as a sharp square.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, bSmooth);
    painter.drawImage(dest, m_pixels);
    painter.restore();
    return true;
}
