// The bitmap drawing service the frame view paints with: frame bitmaps of the video source
// (a header, a colour table when 8-bit, then rows, normally bottom-up) copied 1:1 onto a
// painter. The document owns one handle for the run; it keeps the colour table between draws.
#pragma once

#include "avifile.h"

#include <QList>
#include <QRgb>

#include <memory>

class QPainter;

class CDrawDib {
public:
    // Draws the bitmap unscaled with its top-left corner at (x, y). 8-bit bitmaps go through
    // their colour table (256 entries when biClrUsed is 0); 24- and 32-bit rows are blue,
    // green, red (and a fourth byte that is ignored). False, with nothing drawn, for a bitmap
    // it cannot read.
    bool Draw(QPainter& painter, int x, int y, const BITMAPINFOHEADER* pBitmap);

private:
    QList<QRgb> m_colourTable;
};

using HDRAWDIB = std::unique_ptr<CDrawDib>;

inline HDRAWDIB DrawDibOpen() { return std::make_unique<CDrawDib>(); }
inline void DrawDibClose(HDRAWDIB& hDrawDib) { hDrawDib.reset(); }
