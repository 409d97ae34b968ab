// The per-pixel loops of the sharpness measure, compiled for every SIMD target of the processor
// family and chosen at the first call: the compiler leaves the pair sums of the binning and the
// 32-bit squares of the gradient scalar or nearly so, and they run over the object of every frame.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestro::quality {

// out[x] = r0[2x] + r0[2x + 1] + r1[2x] + r1[2x + 1] for x in [0, n): one row of 2 x 2 bins.
void BinRows(const std::uint8_t* r0, const std::uint8_t* r1, std::uint16_t* out, std::size_t n);

// Counts the values of `row` above `threshold`: adds 1 to columns[x] for each, and adds their
// heights above `sky` (which must not exceed threshold) to `signal`. Returns how many there were.
std::uint32_t CountRow(const std::uint16_t* row, std::size_t n, std::uint16_t threshold, std::uint16_t sky,
                       std::uint32_t* columns, std::uint64_t& signal);

// The squared Sobel gradient (gx² + gy²) summed over columns [x0, x1) of `mid`, whose rows above
// and below are `up` and `down`; x0 >= 1 and column x1 must exist. Binned values up to 1020.
std::uint64_t SobelRowEnergy(const std::uint16_t* up, const std::uint16_t* mid, const std::uint16_t* down,
                             std::size_t x0, std::size_t x1);

} // namespace kestro::quality
