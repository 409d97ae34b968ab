// The bitmap drawing service the frame view paints with: frame bitmaps of the video source
// (a header, a colour table when 8-bit, then rows, normally bottom-up) copied 1:1 onto a
// painter. The document owns one handle for the run; it keeps its pixel buffer between draws,
// so stepping through a capture allocates nothing.
#pragma once

#include "avifile.h"
#include "display_levels.h"

#include <QImage>
#include <QRect>
#include <QRectF>

#include <array>
#include <cstdint>
#include <memory>

class QPainter;

class CDrawDib {
public:
    // Draws the bitmap unscaled with its top-left corner at (x, y). 8-bit bitmaps go through
    // their colour table (256 entries when biClrUsed is 0); 24- and 32-bit rows, after any table
    // they list, are blue, green, red (and a fourth byte that is ignored). Only the part inside `area` (painter
    // coordinates; an empty one means all of it) is drawn, so a paint of part of the window
    // converts only that part. False, with nothing drawn, for a bitmap it cannot read.
    bool Draw(QPainter& painter, int x, int y, const BITMAPINFOHEADER* pBitmap, const QRect& area = {});
    // Draws the bitmap stretched over `target` (painter coordinates), nearest neighbour or, with
    // bSmooth, interpolated. Only the pixels that land inside `area` are converted.
    bool DrawScaled(QPainter& painter, const QRectF& target, const BITMAPINFOHEADER* pBitmap, const QRect& area,
                    bool bSmooth);
    // The frame view's one copy of a rendered frame: `image` becomes the whole bitmap in the
    // window's own pixel format (Format_RGB32, top row first), each value passed through
    // pLevels on the way when given, so a paint draws it with a plain copy. Its buffer is
    // reused when the size is the same. False, with `image` made null, for a bitmap it cannot
    // read.
    static bool MakeImage(const BITMAPINFOHEADER* pBitmap, QImage& image,
                          const kestro::shell::LevelsTable* pLevels = nullptr);
    // Draws the part of such an image inside `area` (painter coordinates) with its top-left
    // corner at `origin`, unscaled.
    static void DrawImage(QPainter& painter, const QPoint& origin, const QImage& image, const QRect& area);
    // Draws the image stretched over `target` as DrawScaled does, reading only the pixels that
    // land inside `area`.
    static void DrawImageScaled(QPainter& painter, const QRectF& target, const QImage& image, const QRect& area,
                                bool bSmooth);
    // The bytes a bitmap it can draw takes in one block (header, colour table, rows), so a copy
    // of it draws the same; 0 for one it cannot read.
    static std::size_t PackedSize(const BITMAPINFOHEADER* pBitmap);

private:
    struct Layout {
        const BITMAPINFOHEADER* pBitmap = nullptr;
        int nBits = 0;
        int nWidth = 0;
        int nHeight = 0;
        const std::uint8_t* pPixels = nullptr;
        std::size_t nStride = 0;
    };
    // Checks the bitmap and reads its size; false for one it cannot read.
    static bool Check(const BITMAPINFOHEADER* pBitmap, Layout& layout);
    bool Read(const BITMAPINFOHEADER* pBitmap, Layout& layout);
    // Converts `part` (picture coordinates, inside the picture) into m_pixels.
    void Convert(const Layout& layout, const QRect& part);

    std::array<std::uint32_t, 256> m_colourTable{};
    // The drawn part, converted to the window's own pixel format.
    QImage m_pixels;
};

using HDRAWDIB = std::unique_ptr<CDrawDib>;

inline HDRAWDIB DrawDibOpen() { return std::make_unique<CDrawDib>(); }
inline void DrawDibClose(HDRAWDIB& hDrawDib) { hDrawDib.reset(); }
