// The one rule by which samples of another depth than 8 bits are shown in 8: the display, the
// RAW modes, the frame scorer and every 8-bit export go through it, so a picture looks the same
// wherever it is made.
//
// A sample of d real bits is brought to 0..255 so that the whole grey range is used: a 12-bit
// capture's 4095 is white, not the 16th part of white. Above 8 bits the low bits are dropped
// (v >> (d - 8)); below 8 the range is stretched (v * 255 / (2^d - 1)). A value above the real
// depth (a frame brighter than the sampled ones) is white, never wrapped round into black.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestro::video {

// n samples of `depth` bits (1 to 16) to 8 bits. The 8-bit form may work in place.
void scaleTo8(const std::uint16_t* in, std::uint8_t* out, std::size_t n, int depth);
void scaleTo8(const std::uint8_t* in, std::uint8_t* out, std::size_t n, int depth);

} // namespace kestro::video
