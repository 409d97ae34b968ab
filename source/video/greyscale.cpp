// Greyscale of 24-bit rows. This file is compiled once per SIMD target (Highway's
// foreach_target) and the best one for the running processor is chosen at the first call.
//
// The reference is built with -ffp-contract=off: fusing a product into the following sum would
// round once instead of twice and change the truncated result for some colours.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "greyscale.cpp"
#include <hwy/foreach_target.h> // IWYU pragma: keep
#include <hwy/highway.h>

#include <array>
#include <cstddef>
#include <cstdint>

#include "greyscale.h"

#ifndef KESTRO_GREYSCALE_ONCE
#define KESTRO_GREYSCALE_ONCE
namespace kestro::video::detail {
constexpr double kRed = 0.299;
constexpr double kGreen = 0.587;
constexpr double kBlue = 0.114;
// greyOf(v, v, v) for every v, made at the first call.
const std::int32_t* greyTable();
} // namespace kestro::video::detail
#endif

HWY_BEFORE_NAMESPACE();
namespace kestro::video::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// In 32-bit integers: 1000 x (0.299 R + 0.587 G + 0.114 B) is n = 299 R + 587 G + 114 B exactly,
// and the truncated double sum is n / 1000 except where n is a multiple of 1000, where the double
// sums may land just below the whole number. Grey pixels (R = G = B), which the Normal picture of
// a raw capture is made of, are all such cases and take their value from a table of the
// definition; the few coloured ones are worked out by the definition itself.
void greyRowSimd(const std::uint8_t* HWY_RESTRICT bgr, std::uint8_t* HWY_RESTRICT grey, int width)
{
    const hn::ScalableTag<std::uint32_t> d32;
    const hn::RebindToSigned<decltype(d32)> di;
    const hn::Rebind<std::uint8_t, decltype(d32)> d8;
    const int lanes = static_cast<int>(hn::Lanes(d32));
    const std::int32_t* table = detail::greyTable();
    const auto kR = hn::Set(d32, 299), kG = hn::Set(d32, 587), kB = hn::Set(d32, 114), k1000 = hn::Set(d32, 1000);
    // n / 1000 = (n / 8) / 125, and (m * 33555) >> 22 is m / 125 for every m up to 31875.
    const auto k125 = hn::Set(d32, 33555);
    int x = 0;
    for (; x + lanes <= width; x += lanes) {
        const std::uint8_t* p = bgr + 3 * static_cast<std::ptrdiff_t>(x);
        hn::Vec<decltype(d8)> b8, g8, r8;
        hn::LoadInterleaved3(d8, p, b8, g8, r8);
        const auto b = hn::PromoteTo(d32, b8), g = hn::PromoteTo(d32, g8), r = hn::PromoteTo(d32, r8);
        const auto n = hn::Add(hn::Add(hn::Mul(r, kR), hn::Mul(g, kG)), hn::Mul(b, kB));
        auto q = hn::ShiftRight<22>(hn::Mul(hn::ShiftRight<3>(n), k125));
        // Black (n = 0), the sky around a planet, is exact and needs nothing more.
        const auto whole = hn::AndNot(hn::Eq(n, hn::Zero(d32)), hn::Eq(n, hn::Mul(q, k1000)));
        if (!hn::AllFalse(d32, whole)) {
            const auto isGrey = hn::And(hn::Eq(r, g), hn::Eq(g, b));
            q = hn::IfThenElse(isGrey, hn::BitCast(d32, hn::GatherIndex(di, table, hn::BitCast(di, r))), q);
            const auto rest = hn::AndNot(isGrey, whole);
            if (!hn::AllFalse(d32, rest)) {
                HWY_ALIGN std::uint32_t values[hn::MaxLanes(d32)];
                HWY_ALIGN std::uint32_t which[hn::MaxLanes(d32)];
                hn::Store(q, d32, values);
                hn::Store(hn::VecFromMask(d32, rest), d32, which);
                for (int i = 0; i < lanes; ++i)
                    if (which[i])
                        values[i] = greyOf(p[3 * i], p[3 * i + 1], p[3 * i + 2]);
                q = hn::Load(d32, values);
            }
        }
        hn::StoreU(hn::DemoteTo(d8, hn::BitCast(di, q)), d8, grey + x);
    }
    for (; x < width; ++x) {
        const std::uint8_t* p = bgr + 3 * static_cast<std::ptrdiff_t>(x);
        grey[x] = greyOf(p[0], p[1], p[2]);
    }
}

} // namespace kestro::video::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kestro::video {

HWY_EXPORT(greyRowSimd);

std::uint8_t greyOf(std::uint8_t blue, std::uint8_t green, std::uint8_t red)
{
    const double value = (detail::kRed * red + detail::kGreen * green) + detail::kBlue * blue;
    return static_cast<std::uint8_t>(value);
}

const std::int32_t* detail::greyTable()
{
    static const auto table = [] {
        std::array<std::int32_t, 256> t{};
        for (int v = 0; v < 256; ++v)
            t[static_cast<std::size_t>(v)] =
                greyOf(static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v));
        return t;
    }();
    return table.data();
}

void greyRowReference(const std::uint8_t* bgr, std::uint8_t* grey, int width)
{
    for (int x = 0; x < width; ++x)
        grey[x] = greyOf(bgr[3 * x], bgr[3 * x + 1], bgr[3 * x + 2]);
}

void greyRow(const std::uint8_t* bgr, std::uint8_t* grey, int width)
{
    HWY_DYNAMIC_DISPATCH(greyRowSimd)(bgr, grey, width);
}

} // namespace kestro::video
#endif
