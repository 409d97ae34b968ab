// The four Bayer patterns, in one table that the de-mosaic library, the program's own
// converter, the sample tool, the display bar and the exports all read.
//
// A pattern is chosen by its code (0..3, what the converter and Dor2EzuPlane take) or by the
// name on its display-bar button. The button names are the program's own labels and follow no
// rule a user could derive from the sites (GR and RG would swap under any), so they are only
// ever looked up here; the sensor's usual name (what FITS headers and stacking programs call
// it) reads the top-left 2 x 2 block row by row from the top.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace kestro::bayer {

enum Colour : std::uint8_t { kRed = 0, kGreen = 1, kBlue = 2 };

struct Pattern {
    std::int32_t code;
    const char* button;                          // "BG", "GB", "GR", "RG"
    const char* sensorName;                      // "GRBG": top row left to right, then the second row
    std::array<std::array<Colour, 2>, 2> colour; // [y & 1][x & 1], y = 0 the plane's top row

    constexpr Colour at(int x, int y) const { return colour[y & 1][x & 1]; }
};

inline constexpr std::array<Pattern, 4> kPatterns{{
    {0, "BG", "GRBG", {{{kGreen, kRed}, {kBlue, kGreen}}}},
    {1, "GB", "RGGB", {{{kRed, kGreen}, {kGreen, kBlue}}}},
    {2, "GR", "GBRG", {{{kGreen, kBlue}, {kRed, kGreen}}}},
    {3, "RG", "BGGR", {{{kBlue, kGreen}, {kGreen, kRed}}}},
}};

inline constexpr const Pattern& kBG = kPatterns[0];
inline constexpr const Pattern& kGB = kPatterns[1];
inline constexpr const Pattern& kGR = kPatterns[2];
inline constexpr const Pattern& kRG = kPatterns[3];

// Any code outside 0..3 reads as BG, the pattern selected at start-up, so a stray value still
// gives a picture rather than none.
constexpr const Pattern& patternFromCode(std::int32_t code)
{
    return code >= 0 && code < static_cast<std::int32_t>(kPatterns.size()) ? kPatterns[static_cast<std::size_t>(code)]
                                                                           : kBG;
}

// The pattern whose button carries this name (exact, upper case), or null.
constexpr const Pattern* patternFromButton(std::string_view name)
{
    for (const Pattern& p : kPatterns)
        if (name == p.button)
            return &p;
    return nullptr;
}

// The pattern whose sites read as this sensor name ("RGGB": the picture's top row left to right,
// then the second), or null.
constexpr const Pattern* patternFromSensorName(std::string_view name)
{
    for (const Pattern& p : kPatterns)
        if (name == p.sensorName)
            return &p;
    return nullptr;
}

// Whether the green sites lie on the block's main diagonal (top-left and bottom-right).
constexpr bool greenOnMainDiagonal(const Pattern& p) { return p.colour[0][0] == kGreen; }

// The pattern with the same green sites and red and blue exchanged: what "Swap red and blue"
// turns a pattern into.
constexpr const Pattern& withRedBlueSwapped(const Pattern& p)
{
    for (const Pattern& q : kPatterns)
        if (q.code != p.code && greenOnMainDiagonal(q) == greenOnMainDiagonal(p))
            return q;
    return p;
}

namespace detail {
constexpr char letter(Colour c) { return c == kRed ? 'R' : c == kGreen ? 'G' : 'B'; }
constexpr bool consistent()
{
    for (std::size_t i = 0; i < kPatterns.size(); ++i) {
        const Pattern& p = kPatterns[i];
        if (p.code != static_cast<std::int32_t>(i))
            return false;
        const char expected[4] = {letter(p.colour[0][0]), letter(p.colour[0][1]), letter(p.colour[1][0]),
                                  letter(p.colour[1][1])};
        if (std::string_view(p.sensorName) != std::string_view(expected, 4))
            return false;
    }
    return true;
}
} // namespace detail
static_assert(detail::consistent(), "each sensor name must read the same sites as the colour table");
static_assert(&withRedBlueSwapped(kGB) == &kRG && &withRedBlueSwapped(kBG) == &kGR,
              "RGGB and BGGR, GRBG and GBRG are each other's red-blue swaps");

} // namespace kestro::bayer
