// What every de-mosaic algorithm of the library shares: the colour layout, the plane with a
// mirrored border, the output image and the working memory of one band of rows.
#pragma once

#include "bayer_pattern.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <vector>

// Tells the vectoriser that a loop's iterations do not depend on each other through memory.
#if defined(__clang__)
#define DOR2EZU_IVDEP _Pragma("clang loop vectorize(assume_safety)")
#elif defined(__GNUC__)
#define DOR2EZU_IVDEP _Pragma("GCC ivdep")
#else
#define DOR2EZU_IVDEP
#endif

namespace kestro::dor2ezu {

using bayer::Colour;
using bayer::kBlue;
using bayer::kGreen;
using bayer::kRed;

// The colour of every photosite as a 2 x 2 tile looked up by row and column parity, in the plane's
// coordinates (y = 0 is the top row).
struct CfaPattern {
    std::array<std::array<std::uint8_t, 2>, 2> colour; // [y & 1][x & 1]

    int at(int x, int y) const { return colour[y & 1][x & 1]; }
    bool isGreen(int x, int y) const { return at(x, y) == kGreen; }

    // Pattern codes 0..3 are BG, GB, GR, RG (bayer_pattern.h); anything else is read as BG.
    static CfaPattern fromCode(std::int32_t code);
};

// The plane with kPad extra photosites on every side, mirrored about the outermost row and column
// (x' = -x and x' = 2(W-1) - x). Mirroring about a photosite keeps the parity of the coordinate, so
// every mirrored photosite carries the right colour, and algorithms read their neighbours without
// bounds checks or border branches.
class Mosaic {
public:
    static constexpr int kPad = 8; // needs W and H above kPad, which the library checks first

    Mosaic(int width, int height, const std::uint8_t* plane, std::int32_t patternCode);

    int width() const { return m_width; }
    int height() const { return m_height; }
    const CfaPattern& cfa() const { return m_cfa; }

    // Row y of the plane, -kPad <= y < height + kPad; index it with -kPad <= x < width + kPad.
    const std::uint8_t* row(int y) const
    {
        return m_data.get() + static_cast<std::ptrdiff_t>(y + kPad) * m_stride + kPad;
    }

private:
    int m_width;
    int m_height;
    std::ptrdiff_t m_stride;
    CfaPattern m_cfa;
    std::unique_ptr<std::uint8_t[]> m_data;
};

// The caller's pixel area. Plane photosite (x, y) with margin <= x < W - margin and
// margin <= y < H - margin is output pixel (x - margin) of the row rowFor(y); rows are stored bottom
// up, blue, green, red.
class OutputImage {
public:
    static constexpr int kMargin = 4;

    OutputImage(std::uint8_t* pixels, int planeWidth, int planeHeight)
        : m_pixels(pixels), m_width(planeWidth - 2 * kMargin), m_height(planeHeight - 2 * kMargin)
    {
    }

    int width() const { return m_width; }   // W - 8
    int height() const { return m_height; } // H - 8
    int firstPlaneX() const { return kMargin; }
    int endPlaneX() const { return kMargin + m_width; }

    // The output row showing plane row y, starting at the pixel of plane column kMargin.
    std::uint8_t* rowFor(int planeY) const
    {
        return m_pixels + static_cast<std::ptrdiff_t>(m_height - 1 - (planeY - kMargin)) * m_width * 3;
    }

private:
    std::uint8_t* m_pixels;
    int m_width;
    int m_height;
};

// Working memory of one band, handed out in 64-byte aligned typed pieces. The library sizes and
// allocates it before any output byte is written, so running out of memory leaves the caller's
// buffer untouched.
class Scratch {
public:
    explicit Scratch(std::span<std::byte> memory) : m_memory(memory) {}

    // An algorithm that takes more than its scratchBytes promised is a bug that would otherwise
    // write over another band's memory; stop at once instead.
    template <typename T> std::span<T> take(std::size_t count)
    {
        std::size_t bytes = roundUp(count * sizeof(T));
        if (bytes > m_memory.size() - m_used)
            std::abort();
        std::byte* p = m_memory.data() + m_used;
        m_used += bytes;
        return {reinterpret_cast<T*>(p), count};
    }

    // The bytes `take` needs for `count` elements of T, for computing an algorithm's scratch size.
    template <typename T> static std::size_t bytesFor(std::size_t count) { return roundUp(count * sizeof(T)); }

private:
    static std::size_t roundUp(std::size_t n) { return (n + 63) & ~std::size_t{63}; }
    std::span<std::byte> m_memory;
    std::size_t m_used = 0;
};

// One algorithm of the library. `run` computes the output rows of plane rows yBegin..yEnd-1
// (margin <= yBegin < yEnd <= H - margin) and only those; it may read the mosaic up to kPad beyond
// the plane. Bands run independently and possibly on different threads, so `run` keeps all its
// state in `scratch`, which holds at least scratchBytes(W, yEnd - yBegin) bytes.
struct Algorithm {
    std::int32_t number;
    const char* name;
    std::size_t (*scratchBytes)(int planeWidth, int bandRows);
    void (*run)(const Mosaic& mosaic, const OutputImage& out, int yBegin, int yEnd, Scratch scratch);
};

} // namespace kestro::dor2ezu
