// The rules of packed bitmaps, against figures worked out by hand, and a .bmp file head read back
// by ffmpeg, which knows nothing of them.
#include "dib.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

namespace dib = kestro::dib;
using namespace kestro::test;

BITMAPINFOHEADER headerOf(LONG width, LONG height, WORD bits, DWORD clrUsed = 0, DWORD sizeImage = 0,
                          DWORD compression = BI_RGB)
{
    BITMAPINFOHEADER h{};
    h.biSize = 40;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = bits;
    h.biCompression = compression;
    h.biSizeImage = sizeImage;
    h.biClrUsed = clrUsed;
    return h;
}

TEST(Dib, StridesTablesAndOffsets)
{
    struct Case {
        const char* name;
        BITMAPINFOHEADER header;
        std::size_t stride, entries, format, image;
    };
    const Case cases[] = {
        {"24-bit, 474 bytes padded to 476", headerOf(158, 120, 24), 476, 0, 40, 476 * 120},
        {"24-bit, rows already whole", headerOf(4, 3, 24), 12, 0, 40, 36},
        {"8-bit, table of 256 said as 0", headerOf(5, 2, 8), 8, 256, 1064, 16},
        {"8-bit, table of 256 said as 256", headerOf(5, 2, 8, 256), 8, 256, 1064, 16},
        {"8-bit, a short table", headerOf(5, 2, 8, 16), 8, 16, 104, 16},
        {"4-bit, 9 pixels in 5 bytes", headerOf(9, 2, 4), 8, 16, 104, 16},
        {"1-bit, 33 pixels in 5 bytes", headerOf(33, 1, 1), 8, 2, 48, 8},
        {"32-bit", headerOf(3, 2, 32), 12, 0, 40, 24},
        {"24-bit with an optional table", headerOf(2, 2, 24, 3), 8, 3, 52, 16},
        {"top-down rows count alike", headerOf(3, -4, 24), 12, 0, 40, 48},
        {"biSizeImage given wins", headerOf(3, 2, 24, 0, 100), 12, 0, 40, 100},
        {"compressed: only biSizeImage says", headerOf(3, 2, 12, 0, 0, 0x30323449), 8, 0, 40, 0},
        {"negative width has no pixels", headerOf(-3, 2, 24), 0, 0, 40, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(dib::stride(c.header), c.stride);
        EXPECT_EQ(dib::tableEntries(c.header), c.entries);
        EXPECT_EQ(dib::formatBytes(c.header), c.format);
        EXPECT_EQ(dib::imageBytes(c.header), c.image);
    }
    // The most negative height still counts its rows.
    EXPECT_EQ(dib::rows(headerOf(1, INT32_MIN, 8)), std::size_t{1} << 31);
}

// Row 0 of the picture is its top: the last stored row of a bottom-up bitmap, the first of a
// top-down one, each after the colour table.
TEST(Dib, PictureRowsFollowTheRowOrder)
{
    for (const LONG height : {3, -3}) {
        SCOPED_TRACE(height);
        std::vector<std::uint8_t> block(40 + 1024 + 3 * 8);
        BITMAPINFOHEADER& h = *reinterpret_cast<BITMAPINFOHEADER*>(block.data());
        h = headerOf(5, height, 8);
        EXPECT_EQ(dib::pixels(h), block.data() + 1064);
        const std::uint8_t* top = dib::pictureRow(h, 0);
        EXPECT_EQ(top, block.data() + 1064 + (height > 0 ? 16 : 0));
        EXPECT_EQ(dib::pictureRow(h, 2), block.data() + 1064 + (height > 0 ? 0 : 16));
    }
}

TEST(Dib, MadeHeadersDescribeTheirPixels)
{
    const BITMAPINFOHEADER grey = dib::header(5, 3, 8);
    EXPECT_EQ(grey.biSize, 40u);
    EXPECT_EQ(grey.biPlanes, 1u);
    EXPECT_EQ(grey.biCompression, BI_RGB);
    EXPECT_EQ(grey.biSizeImage, 24u);
    EXPECT_EQ(grey.biClrUsed, 256u);
    EXPECT_EQ(dib::header(5, 3, 24).biSizeImage, 48u);
    EXPECT_EQ(dib::header(5, 3, 24).biClrUsed, 0u);

    // The grey twin of a 24-bit picture keeps its size and row order, and nothing else of it.
    BITMAPINFOHEADER colour = headerOf(6, -2, 24);
    colour.biSize = 52;
    colour.biClrImportant = 9;
    colour.biXPelsPerMeter = 3780;
    const BITMAPINFOHEADER twin = dib::greyHeader(colour);
    EXPECT_EQ(twin.biSize, 40u);
    EXPECT_EQ(twin.biWidth, 6);
    EXPECT_EQ(twin.biHeight, -2);
    EXPECT_EQ(twin.biBitCount, 8u);
    EXPECT_EQ(twin.biSizeImage, 16u);
    EXPECT_EQ(twin.biClrUsed, 256u);
    EXPECT_EQ(twin.biClrImportant, 0u);
    EXPECT_EQ(twin.biXPelsPerMeter, 3780);

    std::vector<std::uint8_t> table(dib::kGreyTableBytes, 0xEE);
    dib::fillGreyTable(table.data());
    for (std::size_t v = 0; v < 256; ++v) {
        const std::vector<std::uint8_t> entry(table.begin() + 4 * v, table.begin() + 4 * v + 4);
        EXPECT_EQ(entry, (std::vector<std::uint8_t>{std::uint8_t(v), std::uint8_t(v), std::uint8_t(v), 0})) << v;
    }
}

// A .bmp file made of the head and the pixels opens in ffmpeg as the picture, for an 8-bit bitmap
// whose table lists fewer than 256 entries (the file's table is zero past them) and for a 24-bit
// one.
TEST(Dib, BmpFileHeadsOpenInAnIndependentReader)
{
    if (!haveTool("ffmpeg"))
        GTEST_SKIP() << "ffmpeg not installed";
    ScratchDir dir;
    struct Case {
        const char* name;
        WORD bits;
        DWORD clrUsed;
        std::vector<std::uint8_t> stored;     // table entries, then the rows, bottom row first
        std::vector<std::uint8_t> bgrTopDown; // what ffmpeg should decode, 3 x 2 pixels
    };
    const Case cases[] = {
        {"grey8",
         8,
         4,
         {0, 0, 0, 0, 10, 10, 10, 0, 20, 20, 20, 0, 30, 30, 30, 0, 0, 3, 0, 0xAA, 1, 2, 3, 0xAA},
         {10, 10, 10, 20, 20, 20, 30, 30, 30, 0, 0, 0, 30, 30, 30, 0, 0, 0}},
        {"bgr24",
         24,
         0,
         {10, 11, 12, 13, 14, 15, 16, 17, 18, 0xAA, 0xAA, 0xAA, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0xAA, 0xAA, 0xAA},
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const BITMAPINFOHEADER h = headerOf(3, 2, c.bits, c.clrUsed);
        std::vector<std::uint8_t> block(sizeof h);
        std::memcpy(block.data(), &h, sizeof h);
        block.insert(block.end(), c.stored.begin(), c.stored.end());
        const auto& bitmap = *reinterpret_cast<const BITMAPINFOHEADER*>(block.data());
        ASSERT_EQ(dib::formatBytes(bitmap) + dib::imageBytes(bitmap), block.size());

        std::vector<std::uint8_t> file = dib::bmpFileHead(bitmap);
        file.insert(file.end(), dib::pixels(bitmap), dib::pixels(bitmap) + dib::imageBytes(bitmap));
        ASSERT_EQ(file.size(), 14u + 40 + (c.bits == 8 ? 1024 + 2 * 4 : 2 * 12));
        if (c.bits == 8) {
            EXPECT_TRUE(std::all_of(file.begin() + 14 + 40 + 16, file.begin() + 14 + 40 + 1024,
                                    [](std::uint8_t b) { return b == 0; }));
        }
        const std::string path = dir.file(std::string(c.name) + ".bmp");
        writeFile(path, file);
        EXPECT_EQ(ffmpegFrame(path, 0, "bgr24"), c.bgrTopDown);
    }
}

} // namespace
