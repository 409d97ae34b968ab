// Reading and building packed frame bitmaps in tests: header, grey table for 8-bit images,
// bottom-up rows padded to 4 bytes.
#pragma once

#include "avifile.h"
#include "dib.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

namespace kestro::test::bitmaps {

using Bytes = std::vector<std::uint8_t>;

inline const std::uint8_t* pixelsOf(const BITMAPINFOHEADER* b) { return kestro::dib::pixels(*b); }

inline Bytes pixelBytes(const BITMAPINFOHEADER* b) { return Bytes(pixelsOf(b), pixelsOf(b) + b->biSizeImage); }

// Rows top first without padding, as ffmpeg prints a picture.
inline Bytes topDown(const BITMAPINFOHEADER* b)
{
    const std::size_t rowBytes = static_cast<std::size_t>(b->biWidth) * (b->biBitCount / 8);
    Bytes out;
    for (std::size_t y = 0; y < kestro::dib::rows(*b); ++y)
        out.insert(out.end(), kestro::dib::pictureRow(*b, y), kestro::dib::pictureRow(*b, y) + rowBytes);
    return out;
}

inline bool hasGreyTable(const BITMAPINFOHEADER* b)
{
    std::array<std::uint8_t, kestro::dib::kGreyTableBytes> grey;
    kestro::dib::fillGreyTable(grey.data());
    return std::memcmp(reinterpret_cast<const std::uint8_t*>(b) + b->biSize, grey.data(), grey.size()) == 0;
}

// A 24-bit bitmap in one block, rows padded to 4 bytes, from pixels given top row first.
inline Bytes bitmap24(int width, int height, const std::vector<std::array<std::uint8_t, 3>>& bgrTopDown)
{
    const BITMAPINFOHEADER h = kestro::dib::header(width, height, 24);
    Bytes block(kestro::dib::formatBytes(h) + h.biSizeImage, 0xEE); // padding that must not leak into the result
    std::memcpy(block.data(), &h, sizeof h);
    auto& bitmap = *reinterpret_cast<BITMAPINFOHEADER*>(block.data());
    static_assert(sizeof(bgrTopDown[0]) == 3, "the pixels of a row lie side by side");
    for (int y = 0; y < height; ++y)
        std::memcpy(kestro::dib::pictureRow(bitmap, static_cast<std::size_t>(y)),
                    bgrTopDown[static_cast<std::size_t>(y * width)].data(), 3 * static_cast<std::size_t>(width));
    return block;
}

} // namespace kestro::test::bitmaps
