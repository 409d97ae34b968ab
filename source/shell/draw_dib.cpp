#include "draw_dib.h"

#include "dib_rows.h"

#include <QPainter>

#include <cmath>
#include <vector>

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

bool CDrawDib::MakeImage(const BITMAPINFOHEADER* pBitmap, QImage& image, const LevelsTable* pLevels)
{
    Layout layout;
    if (!Check(pBitmap, layout)) {
        image = QImage();
        return false;
    }
    const QSize size(layout.nWidth, layout.nHeight);
    if (image.size() != size || image.format() != QImage::Format_RGB32) {
        image = QImage(size, QImage::Format_RGB32);
        if (image.isNull()) // no memory for it
            return false;
    }
    LevelsTable identity;
    if (pLevels == nullptr) {
        for (std::size_t v = 0; v < identity.size(); ++v)
            identity[v] = static_cast<std::uint8_t>(v);
    }
    const LevelsTable& levels = pLevels != nullptr ? *pLevels : identity;

    // An 8-bit frame's levels go into its colour table, so they cost nothing per pixel. The
    // video source's grey frames have a grey table: those take the byte path below.
    std::array<std::uint32_t, 256> table{};
    LevelsTable greyTable{};
    bool bGrey = true;
    if (layout.nBits == 8) {
        const RGBQUAD* pTable = kestro::dib::colourTable(*pBitmap);
        const std::size_t nColours = kestro::dib::tableEntries(*pBitmap);
        for (std::size_t i = 0; i < table.size(); ++i) {
            // Pixel values beyond a short table draw black rather than reading past it.
            const RGBQUAD q = i < nColours ? pTable[i] : RGBQUAD{};
            table[i] = qRgb(levels[q.rgbRed], levels[q.rgbGreen], levels[q.rgbBlue]);
            greyTable[i] = levels[q.rgbRed];
            bGrey = bGrey && q.rgbRed == q.rgbGreen && q.rgbGreen == q.rgbBlue;
        }
    }
    // Levels go through a row buffer that stays in the first-level cache, so the frame is still
    // read once and written once. (Bands of rows on two threads were tried: starting the
    // threads for every frame cost more than they saved on a busy two-core machine.)
    const bool bMapRow = layout.nBits == 8 ? bGrey : pLevels != nullptr;
    const auto nWidth = static_cast<std::size_t>(layout.nWidth);
    const std::size_t nRowBytes = nWidth * static_cast<std::size_t>(layout.nBits / 8);
    uchar* const pImage = image.bits();
    const auto nImageStride = static_cast<std::size_t>(image.bytesPerLine());
    thread_local std::vector<std::uint8_t> row;
    if (bMapRow && row.size() < nRowBytes)
        row.resize(nRowBytes);
    for (std::size_t y = 0; y < static_cast<std::size_t>(layout.nHeight); ++y) {
        const std::uint8_t* pIn = layout.pPixels + layout.nStride * kestro::dib::storedRow(*pBitmap, y);
        auto* pOut = reinterpret_cast<std::uint32_t*>(pImage + nImageStride * y);
        if (bMapRow) {
            MapBytes(pIn, row.data(), nRowBytes, layout.nBits == 8 ? greyTable.data() : levels.data());
            pIn = row.data();
        }
        switch (layout.nBits) {
        case 8:
            if (bGrey)
                GreyRowToRgb32(pIn, pOut, layout.nWidth);
            else
                IndexedRowToRgb32(pIn, table.data(), pOut, layout.nWidth);
            break;
        case 24: BgrRowToRgb32(pIn, pOut, layout.nWidth); break;
        default: Bgrx32RowToRgb32(pIn, pOut, layout.nWidth); break;
        }
    }
    return true;
}

void CDrawDib::DrawImage(QPainter& painter, const QPoint& origin, const QImage& image, const QRect& area)
{
    // Only the rows and columns in sight, in the picture's own coordinates.
    const QRect part = QRect(QPoint(), image.size()) & area.translated(-origin);
    if (!part.isEmpty())
        painter.drawImage(origin + part.topLeft(), image, part);
}

void CDrawDib::DrawImageScaled(QPainter& painter, const QRectF& target, const QImage& image, const QRect& area,
                               bool bSmooth)
{
    if (image.isNull() || target.isEmpty())
        return;
    const double sx = target.width() / image.width();
    const double sy = target.height() / image.height();
    const QRectF visible = target.intersected(QRectF(area));
    if (visible.isEmpty())
        return;
    // As in DrawScaled: the pixels in sight and one more all round for the smoothing.
    const int nMargin = bSmooth ? 1 : 0;
    const QRect part = QRect(QPoint(static_cast<int>(std::floor((visible.left() - target.left()) / sx)) - nMargin,
                                    static_cast<int>(std::floor((visible.top() - target.top()) / sy)) - nMargin),
                             QPoint(static_cast<int>(std::ceil((visible.right() - target.left()) / sx)) + nMargin,
                                    static_cast<int>(std::ceil((visible.bottom() - target.top()) / sy)) + nMargin)) &
                       image.rect();
    if (part.isEmpty())
        return;
    const QRectF dest(target.left() + part.left() * sx, target.top() + part.top() * sy, part.width() * sx,
                      part.height() * sy);
    painter.save();
    painter.setClipRect(visible);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, bSmooth);
    painter.drawImage(dest, image, QRectF(part));
    painter.restore();
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
