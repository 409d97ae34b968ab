// Small generated planes for the de-mosaic tests: a noise plane from a fixed seed, and the mosaic of
// a colour picture for a given pattern code, with the pattern table written out here on its own so
// that a mistake in the code's table cannot hide behind itself.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace kestro::test {

struct Rgb {
    std::uint8_t r, g, b;
    bool operator==(const Rgb&) const = default;
    friend std::ostream& operator<<(std::ostream& os, const Rgb& c)
    {
        return os << "(r " << int(c.r) << ", g " << int(c.g) << ", b " << int(c.b) << ")";
    }
};

// The colours of the top-left 2 x 2 photosites, top row first, for pattern codes 0..3.
inline const std::array<std::string, 4> kPatternQuads = {"GRBG", "RGGB", "GBRG", "BGGR"};
inline const std::array<std::string, 4> kPatternNames = {"BG", "GB", "GR", "RG"};

inline char siteColour(int pattern, int x, int y)
{
    const int code = pattern >= 0 && pattern <= 3 ? pattern : 0;
    return kPatternQuads[static_cast<std::size_t>(code)][static_cast<std::size_t>((y & 1) * 2 + (x & 1))];
}

// Deterministic pseudo-random bytes (a linear congruential generator), the same on every machine.
inline std::vector<std::uint8_t> noisePlane(int width, int height, std::uint32_t seed = 12345)
{
    std::vector<std::uint8_t> plane(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (auto& v : plane) {
        seed = seed * 1664525u + 1013904223u;
        v = static_cast<std::uint8_t>(seed >> 24);
    }
    return plane;
}

// The raw plane a camera with the given pattern would record of `picture` (x, y with y = 0 on top).
inline std::vector<std::uint8_t> mosaicOf(int width, int height, int pattern,
                                          const std::function<Rgb(int x, int y)>& picture)
{
    std::vector<std::uint8_t> plane(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const Rgb c = picture(x, y);
            const char site = siteColour(pattern, x, y);
            plane[static_cast<std::size_t>(y) * width + x] = site == 'R' ? c.r : site == 'G' ? c.g : c.b;
        }
    return plane;
}

// Pixel (x, y) of a bottom-up blue-green-red image w x h, y = 0 being the picture's top row.
inline Rgb pixelAt(const std::vector<std::uint8_t>& pixels, int w, int h, int x, int y)
{
    const std::size_t i = (static_cast<std::size_t>(h - 1 - y) * w + x) * 3;
    return {pixels[i + 2], pixels[i + 1], pixels[i]};
}

} // namespace kestro::test
