// Greyscale of 24-bit rows. This file is compiled once per SIMD target (Highway's
// foreach_target) and the best one for the running processor is chosen at the first call.
//
// It is built with -ffp-contract=off: fusing a product into the following sum would round once
// instead of twice and change the truncated result for some colours.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "greyscale.cpp"
#include <hwy/foreach_target.h> // IWYU pragma: keep
#include <hwy/highway.h>

#include <cstddef>
#include <cstdint>

#include "greyscale.h"

#ifndef KESTRO_GREYSCALE_ONCE
#define KESTRO_GREYSCALE_ONCE
namespace kestro::video::detail {
constexpr double kRed = 0.299;
constexpr double kGreen = 0.587;
constexpr double kBlue = 0.114;
} // namespace kestro::video::detail
#endif

HWY_BEFORE_NAMESPACE();
namespace kestro::video::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// As many pixels per step as a vector holds doubles: the bytes are widened to 32-bit integers
// and then to doubles, and the truncated results narrowed back to bytes.
void greyRowSimd(const std::uint8_t* bgr, std::uint8_t* grey, int width)
{
    const hn::ScalableTag<double> df;
    const hn::Rebind<std::int32_t, decltype(df)> di;
    const hn::Rebind<std::uint8_t, decltype(df)> d8;
    const int lanes = static_cast<int>(hn::Lanes(df));
    const auto red = hn::Set(df, detail::kRed), green = hn::Set(df, detail::kGreen), blue = hn::Set(df, detail::kBlue);
    auto toDouble = [&](auto bytes) { return hn::PromoteTo(df, hn::PromoteTo(di, bytes)); };
    int x = 0;
    for (; x + lanes <= width; x += lanes) {
        hn::Vec<decltype(d8)> b, g, r;
        hn::LoadInterleaved3(d8, bgr + 3 * static_cast<std::ptrdiff_t>(x), b, g, r);
        const auto sum =
            hn::Add(hn::Add(hn::Mul(red, toDouble(r)), hn::Mul(green, toDouble(g))), hn::Mul(blue, toDouble(b)));
        // Double to int32 truncates toward zero; the sums lie in [0, 255].
        hn::StoreU(hn::DemoteTo(d8, hn::DemoteTo(di, sum)), d8, grey + x);
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
