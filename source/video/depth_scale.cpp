// Compiled once per SIMD target (Highway's foreach_target); the best one for the running
// processor is chosen at the first call. Stepping through a 16-bit capture in a RAW mode scales
// every sample of every frame, and GCC leaves the plain loop scalar at -O2.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "depth_scale.cpp"
#include <hwy/foreach_target.h> // IWYU pragma: keep
#include <hwy/highway.h>

#include "depth_scale.h"

#include <algorithm>

HWY_BEFORE_NAMESPACE();
namespace kestro::video::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// v >> shift, with anything above 255 white.
void shiftDownSimd(const std::uint16_t* HWY_RESTRICT in, std::uint8_t* HWY_RESTRICT out, std::size_t n, int shift)
{
    const hn::ScalableTag<std::uint16_t> d16;
    const hn::RebindToSigned<decltype(d16)> di16;
    const hn::Rebind<std::uint8_t, decltype(d16)> d8;
    const auto white = hn::Set(d16, 255);
    const std::size_t lanes = hn::Lanes(d16);
    std::size_t i = 0;
    // Clamped to 255 first, the values are the same as signed 16-bit ones, which narrow to bytes.
    for (; i + lanes <= n; i += lanes) {
        const auto v = hn::Min(hn::ShiftRightSame(hn::LoadU(d16, in + i), shift), white);
        hn::StoreU(hn::DemoteTo(d8, hn::BitCast(di16, v)), d8, out + i);
    }
    for (; i < n; ++i) {
        const unsigned v = static_cast<unsigned>(in[i]) >> shift;
        out[i] = static_cast<std::uint8_t>(v > 255u ? 255u : v);
    }
}

} // namespace kestro::video::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kestro::video {

HWY_EXPORT(shiftDownSimd);

namespace {

// Below 8 bits the range is stretched; such captures are rare and small, the plain loop does.
template <class Sample> void stretch(const Sample* in, std::uint8_t* out, std::size_t n, int depth)
{
    const unsigned top = (1u << depth) - 1;
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned v = std::min<unsigned>(in[i], top);
        out[i] = static_cast<std::uint8_t>(v * 255u / top);
    }
}

} // namespace

void scaleTo8(const std::uint16_t* in, std::uint8_t* out, std::size_t n, int depth)
{
    depth = std::clamp(depth, 1, 16);
    if (depth < 8)
        stretch(in, out, n, depth);
    else
        HWY_DYNAMIC_DISPATCH(shiftDownSimd)(in, out, n, depth - 8);
}

void scaleTo8(const std::uint8_t* in, std::uint8_t* out, std::size_t n, int depth)
{
    // 8-bit data at 8 bits and more are shown as stored; only a deeper claim could change them,
    // and 8 bits cannot hold a value above 255.
    if (depth >= 8) {
        if (in != out)
            std::copy(in, in + n, out);
        return;
    }
    stretch(in, out, n, depth);
}

} // namespace kestro::video
#endif
