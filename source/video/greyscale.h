// Greyscale of 24-bit rows: grey = (0.299 R + 0.587 G) + 0.114 B in double precision, in that
// order, truncated toward zero. The order and the truncation are part of the result users see
// (mid-grey 128 becomes 127), so every implementation must produce the same bytes as the
// reference, to the last rounding of the double sums.
#pragma once

#include <cstdint>

namespace kestro::video {

// The definition, one pixel at a time.
std::uint8_t greyOf(std::uint8_t blue, std::uint8_t green, std::uint8_t red);
void greyRowReference(const std::uint8_t* bgr, std::uint8_t* grey, int width);
// The same, vectorised with run-time dispatch.
void greyRow(const std::uint8_t* bgr, std::uint8_t* grey, int width);

} // namespace kestro::video
