#include "data_probe.h"

#include <bit>

namespace kestro::ser {

namespace {
// Fewer pairs than this are noise, not evidence.
constexpr std::uint64_t kMinPairs = 32;
// In the wrong order the noisy low byte becomes the high byte, so its neighbours differ by
// hundreds of times more; a ratio below this is a file the data do not decide.
constexpr std::uint64_t kDecisiveRatio = 4;

std::uint16_t swapped(std::uint16_t v) { return static_cast<std::uint16_t>(v >> 8 | v << 8); }
} // namespace

void addRow(ProbeTotals& totals, const std::uint8_t* row, std::size_t samples, int bytesPerSample, int step)
{
    const std::size_t gap = static_cast<std::size_t>(step);
    if (bytesPerSample == 1) {
        std::uint8_t bits = 0;
        for (std::size_t i = 0; i < samples; ++i)
            bits |= row[i];
        totals.bitsLittle |= bits;
        return;
    }
    std::uint64_t little = 0;
    std::uint64_t big = 0;
    std::uint16_t bits = 0;
    for (std::size_t i = 0; i < samples; ++i) {
        const int lo = row[2 * i];
        const int hi = row[2 * i + 1];
        bits |= static_cast<std::uint16_t>(hi << 8 | lo);
        if (i >= gap) {
            const int plo = row[2 * (i - gap)];
            const int phi = row[2 * (i - gap) + 1];
            const int a = hi << 8 | lo;
            const int b = phi << 8 | plo;
            const int c = lo << 8 | hi;
            const int d = plo << 8 | phi;
            little += static_cast<std::uint64_t>(a > b ? a - b : b - a);
            big += static_cast<std::uint64_t>(c > d ? c - d : d - c);
        }
    }
    totals.diffLittle += little;
    totals.diffBig += big;
    totals.bitsLittle |= bits;
    if (samples > gap)
        totals.pairs += samples - gap;
}

std::optional<ByteOrder> orderFromData(const ProbeTotals& t)
{
    if (t.pairs < kMinPairs)
        return std::nullopt;
    if (t.diffBig > t.diffLittle && t.diffBig / kDecisiveRatio >= t.diffLittle)
        return ByteOrder::Little;
    if (t.diffLittle > t.diffBig && t.diffLittle / kDecisiveRatio >= t.diffBig)
        return ByteOrder::Big;
    return std::nullopt;
}

int bitsUsed(const ProbeTotals& t, ByteOrder order)
{
    const std::uint16_t bits = order == ByteOrder::Little ? t.bitsLittle : swapped(t.bitsLittle);
    return std::bit_width(bits);
}

} // namespace kestro::ser
