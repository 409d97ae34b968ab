// The sum image of the FITS export and the loop that adds a grey frame to it.
#pragma once

#include "avifile.h"

#include <cstdint>
#include <string>
#include <vector>

// width x height sums of 8-bit values, the picture's top row first (index y * width + x, y = 0 at
// the top), with what the FITS header says of them.
struct CSumImage {
    std::int32_t nWidth = 0;
    std::int32_t nHeight = 0;
    std::vector<std::uint32_t> values;
    // How many frames were added, and the first and last of them (source frame numbers).
    std::int32_t nFrames = 0;
    std::int32_t nFirstFrame = -1;
    std::int32_t nLastFrame = -1;

    void Reset(std::int32_t width, std::int32_t height);
    void Clear();
};

namespace kestro::exports {

// The largest number of 8-bit values whose sum a 32-bit value always holds (255 x 16,843,009 =
// 2^32 - 1): a block of more frames could wrap.
inline constexpr std::uint32_t kMaxFramesInSum = 16843009;

// Adds an 8-bit bitmap of the sum's size, bottom-up as bitmaps are, to the sum, top row first.
// False, adding nothing, when it is not 8-bit or not the sum's size.
bool AddGreyBitmap(CSumImage& sum, const BITMAPINFOHEADER& grey);

// out[k] += in[k] for k < n: the hot loop, vectorised.
void AddRow(std::uint32_t* out, const std::uint8_t* in, std::size_t n);

} // namespace kestro::exports
