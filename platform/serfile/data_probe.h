// What a few sampled rows of 16-bit frames tell about the file: the byte order in which
// neighbouring values are close, and the highest bit the data use. The header's flag is written
// inverted by most capture programs and its depth field often says 16 for 12-bit data, so both
// are judged from the samples themselves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace kestro::ser {

enum class ByteOrder { Little, Big };

struct ProbeTotals {
    std::uint64_t pairs = 0;      // neighbouring same-colour samples compared
    std::uint64_t diffLittle = 0; // sum of their differences, samples read little-endian
    std::uint64_t diffBig = 0;    // the same, samples read big-endian
    std::uint16_t bitsLittle = 0; // every sample read little-endian, ORed
};

// Adds one sampled row of n samples of bytesPerSample (1 or 2) bytes. Samples `step` apart are
// compared: the same filter colour of a mosaic (2), the same channel of RGB pixels (3).
void addRow(ProbeTotals& totals, const std::uint8_t* row, std::size_t samples, int bytesPerSample, int step);

// The order in which the data are smooth, or nothing when the data cannot tell: too few pairs,
// flat or empty frames, or two sums too close to call.
std::optional<ByteOrder> orderFromData(const ProbeTotals& totals);

// The bits the samples use, read in the given order: 0 when every sample is 0.
int bitsUsed(const ProbeTotals& totals, ByteOrder order);

} // namespace kestro::ser
