// Compiled once per SIMD target (Highway's foreach_target); the best one for the running
// processor is chosen at the first call. Splitting is a de-interleave of three bytes, which the
// compiler does not vectorise from a plain loop, and it runs over every pixel of every frame.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "channel_split.cpp"
#include <hwy/foreach_target.h> // IWYU pragma: keep
#include <hwy/highway.h>

#include "channel_split.h"

HWY_BEFORE_NAMESPACE();
namespace kestro::exports::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

void SplitChannelsSimd(const std::uint8_t* HWY_RESTRICT bgr, std::size_t n, std::uint8_t* HWY_RESTRICT blue,
                       std::uint8_t* HWY_RESTRICT green, std::uint8_t* HWY_RESTRICT red)
{
    const hn::ScalableTag<std::uint8_t> d;
    const std::size_t lanes = hn::Lanes(d);
    std::size_t k = 0;
    for (; k + lanes <= n; k += lanes) {
        hn::Vec<decltype(d)> b, g, r;
        hn::LoadInterleaved3(d, bgr + 3 * k, b, g, r);
        hn::StoreU(b, d, blue + k);
        hn::StoreU(g, d, green + k);
        hn::StoreU(r, d, red + k);
    }
    for (; k < n; ++k) {
        blue[k] = bgr[3 * k];
        green[k] = bgr[3 * k + 1];
        red[k] = bgr[3 * k + 2];
    }
}

} // namespace kestro::exports::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kestro::exports {

HWY_EXPORT(SplitChannelsSimd);

void SplitChannels(const std::uint8_t* bgr, std::size_t n, std::uint8_t* blue, std::uint8_t* green, std::uint8_t* red)
{
    HWY_DYNAMIC_DISPATCH(SplitChannelsSimd)(bgr, n, blue, green, red);
}

} // namespace kestro::exports
#endif
