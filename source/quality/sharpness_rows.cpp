// Compiled once per SIMD target (Highway's foreach_target); see sharpness_rows.h.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "sharpness_rows.cpp"
#include <hwy/foreach_target.h> // IWYU pragma: keep
#include <hwy/highway.h>

#include "sharpness_rows.h"

// The plain loops: the tails of the rows, and the whole rows where there is no SIMD at all.
#ifndef KESTRO_SHARPNESS_ROWS_PLAIN
#define KESTRO_SHARPNESS_ROWS_PLAIN
namespace kestro::quality::plain {

inline void binRows(const std::uint8_t* r0, const std::uint8_t* r1, std::uint16_t* out, std::size_t x, std::size_t n)
{
    for (; x < n; ++x)
        out[x] = static_cast<std::uint16_t>(r0[2 * x] + r0[2 * x + 1] + r1[2 * x] + r1[2 * x + 1]);
}

inline std::uint32_t countRow(const std::uint16_t* row, std::size_t x, std::size_t n, std::uint16_t threshold,
                              std::uint16_t sky, std::uint32_t* columns, std::uint64_t& signal)
{
    std::uint32_t count = 0;
    for (; x < n; ++x) {
        if (row[x] > threshold) {
            ++columns[x];
            ++count;
            signal += static_cast<std::uint32_t>(row[x] - sky);
        }
    }
    return count;
}

inline std::uint64_t sobelRow(const std::uint16_t* up, const std::uint16_t* mid, const std::uint16_t* down,
                              std::size_t x, std::size_t x1)
{
    std::uint64_t energy = 0;
    for (; x < x1; ++x) {
        const std::int32_t gx = (up[x + 1] - up[x - 1]) + 2 * (mid[x + 1] - mid[x - 1]) + (down[x + 1] - down[x - 1]);
        const std::int32_t gy = (down[x - 1] - up[x - 1]) + 2 * (down[x] - up[x]) + (down[x + 1] - up[x + 1]);
        energy += static_cast<std::uint32_t>(gx * gx) + static_cast<std::uint32_t>(gy * gy);
    }
    return energy;
}

} // namespace kestro::quality::plain
#endif

HWY_BEFORE_NAMESPACE();
namespace kestro::quality::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

void BinRowsSimd(const std::uint8_t* HWY_RESTRICT r0, const std::uint8_t* HWY_RESTRICT r1,
                 std::uint16_t* HWY_RESTRICT out, std::size_t n)
{
#if HWY_TARGET == HWY_SCALAR
    plain::binRows(r0, r1, out, 0, n);
#else
    // Each pair of sites is loaded as one 16-bit lane (little-endian: the left site in its low
    // byte) and split by a mask and a shift.
    const hn::ScalableTag<std::uint16_t> d16;
    const hn::Repartition<std::uint8_t, decltype(d16)> d8;
    const auto low = hn::Set(d16, 0xFF);
    const std::size_t lanes = hn::Lanes(d16);
    std::size_t x = 0;
    for (; x + lanes <= n; x += lanes) {
        const auto a = hn::BitCast(d16, hn::LoadU(d8, r0 + 2 * x));
        const auto b = hn::BitCast(d16, hn::LoadU(d8, r1 + 2 * x));
        const auto sum =
            hn::Add(hn::Add(hn::And(a, low), hn::ShiftRight<8>(a)), hn::Add(hn::And(b, low), hn::ShiftRight<8>(b)));
        hn::StoreU(sum, d16, out + x);
    }
    plain::binRows(r0, r1, out, x, n);
#endif
}

std::uint32_t CountRowSimd(const std::uint16_t* HWY_RESTRICT row, std::size_t n, std::uint16_t threshold,
                           std::uint16_t sky, std::uint32_t* HWY_RESTRICT columns, std::uint64_t& signal)
{
#if HWY_TARGET == HWY_SCALAR
    return plain::countRow(row, 0, n, threshold, sky, columns, signal);
#else
    const hn::ScalableTag<std::uint16_t> d16;
    const hn::Half<decltype(d16)> dHalf;
    const hn::Repartition<std::uint32_t, decltype(d16)> d32;
    const std::size_t lanes = hn::Lanes(d16), half = lanes / 2;
    const auto above = hn::Set(d16, threshold), floor = hn::Set(d16, sky), one = hn::Set(d16, 1);
    // Per lane at most one count and 1020 of height a step: 32 bits hold any row.
    auto counts = hn::Zero(d32), heights = hn::Zero(d32);
    std::size_t x = 0;
    for (; x + lanes <= n; x += lanes) {
        const auto v = hn::LoadU(d16, row + x);
        const auto isObject = hn::Gt(v, above);
        const auto hit = hn::IfThenElseZero(isObject, one);
        const auto height = hn::IfThenElseZero(isObject, hn::Sub(v, floor));
        const auto hitLow = hn::PromoteTo(d32, hn::LowerHalf(dHalf, hit));
        const auto hitHigh = hn::PromoteTo(d32, hn::UpperHalf(dHalf, hit));
        hn::StoreU(hn::Add(hn::LoadU(d32, columns + x), hitLow), d32, columns + x);
        hn::StoreU(hn::Add(hn::LoadU(d32, columns + x + half), hitHigh), d32, columns + x + half);
        counts = hn::Add(counts, hn::Add(hitLow, hitHigh));
        heights = hn::Add(heights, hn::Add(hn::PromoteTo(d32, hn::LowerHalf(dHalf, height)),
                                           hn::PromoteTo(d32, hn::UpperHalf(dHalf, height))));
    }
    signal += hn::GetLane(hn::SumOfLanes(d32, heights));
    return hn::GetLane(hn::SumOfLanes(d32, counts)) + plain::countRow(row, x, n, threshold, sky, columns, signal);
#endif
}

std::uint64_t SobelRowEnergySimd(const std::uint16_t* HWY_RESTRICT up, const std::uint16_t* HWY_RESTRICT mid,
                                 const std::uint16_t* HWY_RESTRICT down, std::size_t x0, std::size_t x1)
{
#if HWY_TARGET == HWY_SCALAR
    return plain::sobelRow(up, mid, down, x0, x1);
#else
    const hn::ScalableTag<std::int32_t> d32;
    const hn::Rebind<std::uint16_t, decltype(d32)> d16;
    const hn::Repartition<std::int64_t, decltype(d32)> d64;
    const std::size_t lanes = hn::Lanes(d32);
    auto load = [&](const std::uint16_t* p) { return hn::PromoteTo(d32, hn::LoadU(d16, p)); };
    // A lane's square is at most 2 x 4080² (33.3 million); 64 of them still fit 32 bits unsigned,
    // so the lanes are widened to 64 bits every 64 steps only.
    constexpr std::size_t kFlush = 64;
    auto total = hn::Zero(d64);
    auto flush = [&](hn::Vec<decltype(d32)> part) {
        const auto u = hn::BitCast(hn::RebindToUnsigned<decltype(d32)>(), part);
        const hn::Half<hn::RebindToUnsigned<decltype(d32)>> uHalf;
        const hn::Repartition<std::uint64_t, decltype(d32)> du64;
        total = hn::Add(total, hn::BitCast(d64, hn::PromoteTo(du64, hn::LowerHalf(uHalf, u))));
        total = hn::Add(total, hn::BitCast(d64, hn::PromoteTo(du64, hn::UpperHalf(uHalf, u))));
    };
    auto part = hn::Zero(d32);
    std::size_t steps = 0;
    std::size_t x = x0;
    for (; x + lanes <= x1; x += lanes) {
        const auto ul = load(up + x - 1), ur = load(up + x + 1), uc = load(up + x);
        const auto ml = load(mid + x - 1), mr = load(mid + x + 1);
        const auto dl = load(down + x - 1), dr = load(down + x + 1), dc = load(down + x);
        const auto gx = hn::Add(hn::Add(hn::Sub(ur, ul), hn::Sub(dr, dl)), hn::ShiftLeft<1>(hn::Sub(mr, ml)));
        const auto gy = hn::Add(hn::Add(hn::Sub(dl, ul), hn::Sub(dr, ur)), hn::ShiftLeft<1>(hn::Sub(dc, uc)));
        part = hn::Add(part, hn::Add(hn::Mul(gx, gx), hn::Mul(gy, gy)));
        if (++steps == kFlush) {
            flush(part);
            part = hn::Zero(d32);
            steps = 0;
        }
    }
    flush(part);
    return static_cast<std::uint64_t>(hn::GetLane(hn::SumOfLanes(d64, total))) + plain::sobelRow(up, mid, down, x, x1);
#endif
}

} // namespace kestro::quality::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kestro::quality {

HWY_EXPORT(BinRowsSimd);
HWY_EXPORT(CountRowSimd);
HWY_EXPORT(SobelRowEnergySimd);

void BinRows(const std::uint8_t* r0, const std::uint8_t* r1, std::uint16_t* out, std::size_t n)
{
    HWY_DYNAMIC_DISPATCH(BinRowsSimd)(r0, r1, out, n);
}

std::uint32_t CountRow(const std::uint16_t* row, std::size_t n, std::uint16_t threshold, std::uint16_t sky,
                       std::uint32_t* columns, std::uint64_t& signal)
{
    return HWY_DYNAMIC_DISPATCH(CountRowSimd)(row, n, threshold, sky, columns, signal);
}

std::uint64_t SobelRowEnergy(const std::uint16_t* up, const std::uint16_t* mid, const std::uint16_t* down,
                             std::size_t x0, std::size_t x1)
{
    return HWY_DYNAMIC_DISPATCH(SobelRowEnergySimd)(up, mid, down, x0, x1);
}

} // namespace kestro::quality
#endif
