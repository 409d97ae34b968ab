// Reading and building packed frame bitmaps in tests: header, grey table for 8-bit images,
// bottom-up rows padded to 4 bytes.
#pragma once

#include "avifile.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

namespace kestro::test::bitmaps {

using Bytes = std::vector<std::uint8_t>;

inline const std::uint8_t* pixelsOf(const BITMAPINFOHEADER* b)
{
    return reinterpret_cast<const std::uint8_t*>(b) + b->biSize + (b->biBitCount == 8 ? 1024 : 0);
}

inline Bytes pixelBytes(const BITMAPINFOHEADER* b) { return Bytes(pixelsOf(b), pixelsOf(b) + b->biSizeImage); }

// Rows top first without padding, as ffmpeg prints a picture.
inline Bytes topDown(const BITMAPINFOHEADER* b)
{
    const std::size_t rowBytes = static_cast<std::size_t>(b->biWidth) * (b->biBitCount / 8);
    const std::size_t stride = (rowBytes + 3) & ~std::size_t{3};
    Bytes out;
    for (LONG y = b->biHeight - 1; y >= 0; --y)
        out.insert(out.end(), pixelsOf(b) + y * stride, pixelsOf(b) + y * stride + rowBytes);
    return out;
}

inline bool hasGreyTable(const BITMAPINFOHEADER* b)
{
    const auto* table = reinterpret_cast<const std::uint8_t*>(b) + b->biSize;
    for (int i = 0; i < 256; ++i)
        if (table[4 * i] != i || table[4 * i + 1] != i || table[4 * i + 2] != i || table[4 * i + 3] != 0)
            return false;
    return true;
}

// A 24-bit bitmap in one block, rows padded to 4 bytes, from pixels given top row first.
inline Bytes bitmap24(int width, int height, const std::vector<std::array<std::uint8_t, 3>>& bgrTopDown)
{
    const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
    Bytes block(40 + stride * height, 0xEE); // padding that must not leak into the result
    BITMAPINFOHEADER h{};
    h.biSize = 40;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = 24;
    h.biSizeImage = static_cast<DWORD>(stride * height);
    std::memcpy(block.data(), &h, 40);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            std::memcpy(&block[40 + (height - 1 - y) * stride + 3 * x], bgrTopDown[y * width + x].data(), 3);
    return block;
}

} // namespace kestro::test::bitmaps
