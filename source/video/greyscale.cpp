// Greyscale of 24-bit rows. This file is compiled once per SIMD target (Highway's
// foreach_target) and the best one for the running processor is chosen at the first call.
//
// It is built with -ffp-contract=off: fusing a product into the following sum would round once
// instead of twice and change the truncated result for some colours of the definition.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "greyscale.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
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
}  // namespace kestro::video::detail
#endif

HWY_BEFORE_NAMESPACE();
namespace kestro::video::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Mathematically the grey value is S / 1000 rounded down, with S = 299 R + 587 G + 114 B. The
// double sums differ from that exact value by far less than a thousandth, so rounding S / 1000
// down gives the same byte except where S is a multiple of 1000: there the double sum may land
// just below the whole number (mid-grey 128 gives 127). The vector loop computes S in integers
// and S / 1000 in single precision, which is exact for all other S up to 255,000 (its error is
// below 0.0001), and hands a vector holding such a multiple to the definition itself. Black
// (S = 0) is exact either way and stays on the fast path.
void greyRowSimd(const std::uint8_t* bgr, std::uint8_t* grey, int width) {
    const hn::ScalableTag<float> df;
    const hn::RebindToSigned<decltype(df)> di;
    const hn::Rebind<std::uint8_t, decltype(df)> d8;
    const int lanes = static_cast<int>(hn::Lanes(df));
    const auto red = hn::Set(di, 299), green = hn::Set(di, 587), blue = hn::Set(di, 114);
    const auto thousand = hn::Set(di, 1000), zero = hn::Zero(di);
    const auto thousandth = hn::Set(df, 0.001f);
    int x = 0;
    for (; x + lanes <= width; x += lanes) {
        const std::uint8_t* p = bgr + 3 * static_cast<std::ptrdiff_t>(x);
        hn::Vec<decltype(d8)> b, g, r;
        hn::LoadInterleaved3(d8, p, b, g, r);
        const auto sum = hn::Add(hn::Add(hn::Mul(red, hn::PromoteTo(di, r)), hn::Mul(green, hn::PromoteTo(di, g))),
                                 hn::Mul(blue, hn::PromoteTo(di, b)));
        // Float to int truncates toward zero. At a multiple of 1000 the quotient may come out one
        // low, leaving a remainder of 1000 instead of 0; both send the vector to the definition.
        const auto quotient = hn::ConvertTo(di, hn::Mul(hn::ConvertTo(df, sum), thousandth));
        const auto remainder = hn::Sub(sum, hn::Mul(quotient, thousand));
        const auto onMultiple =
            hn::And(hn::Or(hn::Eq(remainder, zero), hn::Eq(remainder, thousand)), hn::Ne(sum, zero));
        if (!hn::AllFalse(di, onMultiple)) {
            for (int i = 0; i < lanes; ++i) grey[x + i] = greyOf(p[3 * i], p[3 * i + 1], p[3 * i + 2]);
            continue;
        }
        hn::StoreU(hn::DemoteTo(d8, quotient), d8, grey + x);
    }
    for (; x < width; ++x) {
        const std::uint8_t* p = bgr + 3 * static_cast<std::ptrdiff_t>(x);
        grey[x] = greyOf(p[0], p[1], p[2]);
    }
}

}  // namespace kestro::video::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kestro::video {

HWY_EXPORT(greyRowSimd);

std::uint8_t greyOf(std::uint8_t blue, std::uint8_t green, std::uint8_t red) {
    const double value = (detail::kRed * red + detail::kGreen * green) + detail::kBlue * blue;
    return static_cast<std::uint8_t>(value);
}

void greyRowReference(const std::uint8_t* bgr, std::uint8_t* grey, int width) {
    for (int x = 0; x < width; ++x) grey[x] = greyOf(bgr[3 * x], bgr[3 * x + 1], bgr[3 * x + 2]);
}

void greyRow(const std::uint8_t* bgr, std::uint8_t* grey, int width) {
    HWY_DYNAMIC_DISPATCH(greyRowSimd)(bgr, grey, width);
}

}  // namespace kestro::video
#endif
