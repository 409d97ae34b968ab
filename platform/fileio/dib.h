// Packed device-independent bitmaps, the one picture format every part of Kestro hands around:
// a 40-byte BITMAPINFOHEADER, its colour table (256 grey entries for Kestro's 8-bit frames), then
// the rows, each padded to a multiple of 4 bytes, the bottom row first unless the height is
// negative. The structures keep the layout the files fix; the rules below are the only place that
// works out strides, tables and offsets, for readers, writers and exports alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;

constexpr DWORD BI_RGB = 0;
constexpr DWORD BI_BITFIELDS = 3;

#pragma pack(push, 2)
struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};
#pragma pack(pop)
static_assert(sizeof(BITMAPINFOHEADER) == 40);

struct RGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
};
static_assert(sizeof(RGBQUAD) == 4);

// Sizes below are worked out in std::size_t; a frame of the largest width at 32 bits passes 4 GiB.
static_assert(sizeof(std::size_t) >= sizeof(std::uint64_t));

namespace kestro::dib {

constexpr std::size_t kHeaderBytes = sizeof(BITMAPINFOHEADER);
// The colour table of an 8-bit bitmap: entry v is the grey (v, v, v).
constexpr std::size_t kGreyTableEntries = 256;
constexpr std::size_t kGreyTableBytes = kGreyTableEntries * sizeof(RGBQUAD);
// A .bmp file: "BM", the file's size, two reserved words and the pixels' offset, then the bitmap.
constexpr std::size_t kFileHeaderBytes = 14;

// The bytes of one row of `width` pixels of `bitCount` bits: padded to a multiple of 4.
constexpr std::size_t stride(std::int64_t width, int bitCount)
{
    const std::uint64_t w = width < 0 ? 0 : static_cast<std::uint64_t>(width);
    return static_cast<std::size_t>((w * static_cast<std::uint64_t>(bitCount < 0 ? 0 : bitCount) + 31) / 32 * 4);
}
constexpr std::size_t stride(const BITMAPINFOHEADER& h) { return stride(h.biWidth, h.biBitCount); }

// The rows, whichever way they are stored.
constexpr std::size_t rows(const BITMAPINFOHEADER& h)
{
    return static_cast<std::size_t>(h.biHeight < 0 ? -std::int64_t{h.biHeight} : std::int64_t{h.biHeight});
}

// The colour table's entries: biClrUsed, or for 8 bits and fewer 2^biBitCount when it is 0.
constexpr std::size_t tableEntries(const BITMAPINFOHEADER& h)
{
    if (h.biClrUsed == 0 && h.biBitCount <= 8)
        return std::size_t{1} << h.biBitCount;
    return h.biClrUsed;
}

// The format block (the header and its colour table): where the pixels of a packed bitmap start.
constexpr std::size_t formatBytes(const BITMAPINFOHEADER& h) { return h.biSize + tableEntries(h) * sizeof(RGBQUAD); }

// The pixel bytes: biSizeImage, or, for uncompressed bitmaps that leave it 0, the padded rows.
constexpr std::size_t imageBytes(const BITMAPINFOHEADER& h)
{
    if (h.biSizeImage != 0 || h.biCompression != BI_RGB)
        return h.biSizeImage;
    return stride(h) * rows(h);
}

// The colour table, right after the header (however long the header says it is).
inline const RGBQUAD* colourTable(const BITMAPINFOHEADER& h)
{
    return reinterpret_cast<const RGBQUAD*>(reinterpret_cast<const std::uint8_t*>(&h) + h.biSize);
}

inline const std::uint8_t* pixels(const BITMAPINFOHEADER& h)
{
    return reinterpret_cast<const std::uint8_t*>(&h) + formatBytes(h);
}
inline std::uint8_t* pixels(BITMAPINFOHEADER& h) { return reinterpret_cast<std::uint8_t*>(&h) + formatBytes(h); }

// The stored row that holds row y of the picture, counted from its top.
constexpr std::size_t storedRow(const BITMAPINFOHEADER& h, std::size_t y)
{
    return h.biHeight < 0 ? y : rows(h) - 1 - y;
}
inline const std::uint8_t* pictureRow(const BITMAPINFOHEADER& h, std::size_t y)
{
    return pixels(h) + storedRow(h, y) * stride(h);
}
inline std::uint8_t* pictureRow(BITMAPINFOHEADER& h, std::size_t y) { return pixels(h) + storedRow(h, y) * stride(h); }

// The header of an uncompressed bottom-up bitmap of width x height pixels, its rows padded and
// counted in biSizeImage; 8-bit ones say they carry the full grey table.
BITMAPINFOHEADER header(std::int32_t width, std::int32_t height, int bitCount);
// The header of the 8-bit grey bitmap of the picture `like` describes: same size, same row order.
BITMAPINFOHEADER greyHeader(const BITMAPINFOHEADER& like);
// Writes the grey colour table at `table` (kGreyTableBytes bytes).
void fillGreyTable(std::uint8_t* table);

// What a .bmp file holds before the pixels of the bitmap: the file header, the information
// header with biSizeImage filled in, and for 8 bits and fewer the full 256-entry colour table
// (taken from the bitmap, zero where it lists fewer). Bitmaps of more bits have no table there:
// their pixels follow at byte 54.
std::vector<std::uint8_t> bmpFileHead(const BITMAPINFOHEADER& bitmap);

} // namespace kestro::dib
