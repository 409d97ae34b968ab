#include "depth_scale.h"

#include <algorithm>

namespace kestro::video {

namespace {

// Plain indexed loops of one shift and one minimum: the compiler turns them into vector code.
template <class Sample> void shiftDown(const Sample* in, std::uint8_t* out, std::size_t n, int shift)
{
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned v = static_cast<unsigned>(in[i]) >> shift;
        out[i] = static_cast<std::uint8_t>(v > 255u ? 255u : v);
    }
}

template <class Sample> void stretch(const Sample* in, std::uint8_t* out, std::size_t n, int depth)
{
    const unsigned top = (1u << depth) - 1;
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned v = std::min<unsigned>(in[i], top);
        out[i] = static_cast<std::uint8_t>(v * 255u / top);
    }
}

template <class Sample> void scale(const Sample* in, std::uint8_t* out, std::size_t n, int depth)
{
    depth = std::clamp(depth, 1, 16);
    if (depth < 8)
        stretch(in, out, n, depth);
    else
        shiftDown(in, out, n, depth - 8);
}

} // namespace

void scaleTo8(const std::uint16_t* in, std::uint8_t* out, std::size_t n, int depth) { scale(in, out, n, depth); }

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
