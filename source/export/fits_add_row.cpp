// Compiled once per SIMD target (Highway's foreach_target); the best one for the running processor
// is chosen at the first call. Widening bytes (or 16-bit samples) to 32-bit sums is left scalar by
// the compiler at -O2, and it runs over every pixel of every frame summed.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "fits_add_row.cpp"
#include <hwy/foreach_target.h> // IWYU pragma: keep
#include <hwy/highway.h>

#include "fits_sum.h"

HWY_BEFORE_NAMESPACE();
namespace kestro::exports::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

void AddRowSimd(std::uint32_t* HWY_RESTRICT out, const std::uint8_t* HWY_RESTRICT in, std::size_t n)
{
    const hn::ScalableTag<std::uint32_t> d32;
    const hn::Rebind<std::uint8_t, decltype(d32)> d8;
    const std::size_t lanes = hn::Lanes(d32);
    std::size_t k = 0;
    for (; k + lanes <= n; k += lanes)
        hn::StoreU(hn::Add(hn::LoadU(d32, out + k), hn::PromoteTo(d32, hn::LoadU(d8, in + k))), d32, out + k);
    for (; k < n; ++k)
        out[k] += in[k];
}

void AddRow16Simd(std::uint32_t* HWY_RESTRICT out, const std::uint16_t* HWY_RESTRICT in, std::size_t n)
{
    const hn::ScalableTag<std::uint32_t> d32;
    const hn::Rebind<std::uint16_t, decltype(d32)> d16;
    const std::size_t lanes = hn::Lanes(d32);
    std::size_t k = 0;
    for (; k + lanes <= n; k += lanes)
        hn::StoreU(hn::Add(hn::LoadU(d32, out + k), hn::PromoteTo(d32, hn::LoadU(d16, in + k))), d32, out + k);
    for (; k < n; ++k)
        out[k] += in[k];
}

} // namespace kestro::exports::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kestro::exports {

HWY_EXPORT(AddRowSimd);
HWY_EXPORT(AddRow16Simd);

void AddRow(std::uint32_t* out, const std::uint8_t* in, std::size_t n) { HWY_DYNAMIC_DISPATCH(AddRowSimd)(out, in, n); }

void AddRow(std::uint32_t* out, const std::uint16_t* in, std::size_t n)
{
    HWY_DYNAMIC_DISPATCH(AddRow16Simd)(out, in, n);
}

} // namespace kestro::exports
#endif
