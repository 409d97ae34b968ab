#include "mosaic.h"

#include <algorithm>
#include <cstring>

namespace kestro::dor2ezu {

CfaPattern CfaPattern::fromCode(std::int32_t code)
{
    const bayer::Pattern& p = bayer::patternFromCode(code);
    CfaPattern cfa{};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x)
            cfa.colour[y][x] = p.at(x, y);
    return cfa;
}

namespace {
int mirror(int i, int n)
{
    if (i < 0)
        return -i;
    if (i >= n)
        return 2 * (n - 1) - i;
    return i;
}
} // namespace

Mosaic::Mosaic(int width, int height, const std::uint8_t* plane, std::int32_t patternCode)
    : m_width(width),
      m_height(height),
      m_stride(static_cast<std::ptrdiff_t>(width) + 2 * kPad),
      m_cfa(CfaPattern::fromCode(patternCode)),
      m_data(new std::uint8_t[static_cast<std::size_t>(m_stride) * (static_cast<std::size_t>(height) + 2 * kPad)])
{
    for (int y = -kPad; y < height + kPad; ++y) {
        const std::uint8_t* src = plane + static_cast<std::ptrdiff_t>(mirror(y, height)) * width;
        std::uint8_t* dst = m_data.get() + static_cast<std::ptrdiff_t>(y + kPad) * m_stride;
        std::memcpy(dst + kPad, src, static_cast<std::size_t>(width));
        for (int x = 1; x <= kPad; ++x) {
            dst[kPad - x] = src[x];
            dst[kPad + width - 1 + x] = src[width - 1 - x];
        }
    }
}

} // namespace kestro::dor2ezu
