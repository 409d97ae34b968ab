#include "sharpness.h"

#include "dib.h"
#include "sharpness_rows.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace kestro::quality {

namespace {

// A binned value is the sum of four 8-bit sites.
constexpr int kBinnedLevels = 4 * 255 + 1;
// The object is where the binned picture rises this far from the sky towards the brightest part.
constexpr double kObjectLevel = 0.25;
// Rows and columns with fewer object pixels than this share of the fullest one are left out, so
// a hot pixel, a star or a moon beside the planet does not stretch the region over the sky.
constexpr double kRowShare = 0.10;
// The region is widened by this many binned pixels on each side, so the limb's gradient stays in
// it even when seeing spreads it: a sigma of 3 sensor pixels reaches about 5 binned pixels.
constexpr std::int32_t kMargin = 6;
// Below this contrast between sky and object (in binned levels, 4 per 8-bit level) there is no
// object to measure: a dark frame scores 0 instead of a ratio of noise to noise.
constexpr int kMinContrast = 16;
// The object is found on every kGrid-th binned pixel of every kGrid-th binned row.
constexpr std::int32_t kGrid = 4;

// The first and last index whose count reaches `least`.
std::pair<std::int32_t, std::int32_t> span(const std::uint32_t* counts, std::int32_t n, std::uint32_t least)
{
    std::int32_t first = 0, last = n - 1;
    while (first < n && counts[first] < least)
        ++first;
    while (last > first && counts[last] < least)
        --last;
    return {first, last};
}

} // namespace

double SharpnessMeter::Measure(const PlaneView& plane)
{
    m_region = {};
    const std::int32_t w = plane.width / 2, h = plane.height / 2;
    if (!plane.pixels || w < 4 || h < 4)
        return 0.0;

    // The object is looked for on a coarse grid of binned pixels, every kGrid-th of every
    // kGrid-th row, binned straight from the plane: a sixteenth of the work of binning it all, and
    // only the object's region is binned in full below. On a planet that fills a tenth of the frame
    // that is most of the time a frame took, the gradients of the sky being worth nothing.
    const std::int32_t gw = (w + kGrid - 1) / kGrid, gh = (h + kGrid - 1) / kGrid;
    const std::size_t gridWidth = static_cast<std::size_t>(gw);
    m_grid.resize(gridWidth * static_cast<std::size_t>(gh));
    std::array<std::uint32_t, kBinnedLevels> histogram{};
    for (std::int32_t gy = 0; gy < gh; ++gy) {
        const std::uint8_t* r0 = plane.pixels + 2 * kGrid * static_cast<std::ptrdiff_t>(gy) * plane.stride;
        std::uint16_t* out = m_grid.data() + static_cast<std::size_t>(gy) * gridWidth;
        for (std::int32_t gx = 0; gx < gw; ++gx) {
            const std::uint8_t* p = r0 + 2 * kGrid * gx;
            out[gx] = static_cast<std::uint16_t>(p[0] + p[1] + p[plane.stride] + p[plane.stride + 1]);
            ++histogram[out[gx]];
        }
    }
    const auto samples = static_cast<std::uint32_t>(m_grid.size());
    auto percentile = [&](double share) {
        const auto wanted = static_cast<std::uint32_t>(share * samples);
        std::uint32_t seen = 0;
        for (int v = 0; v < kBinnedLevels; ++v) {
            seen += histogram[static_cast<std::size_t>(v)];
            if (seen > wanted)
                return v;
        }
        return kBinnedLevels - 1;
    };
    // The sky is the low tenth; the object's top the 99.9th percentile, so that a few hot pixels
    // do not set it.
    const int sky = percentile(0.10);
    const int top = percentile(0.999);
    if (top - sky < kMinContrast)
        return 0.0;
    const auto threshold = static_cast<std::uint16_t>(sky + kObjectLevel * (top - sky));

    // Where the object is, roughly; its level is taken below from every pixel of it.
    m_columns.assign(gridWidth, 0);
    m_rows.assign(static_cast<std::size_t>(gh), 0);
    std::uint64_t roughSignal = 0;
    for (std::int32_t gy = 0; gy < gh; ++gy)
        m_rows[static_cast<std::size_t>(gy)] =
            CountRow(m_grid.data() + static_cast<std::size_t>(gy) * gridWidth, gridWidth, threshold,
                     static_cast<std::uint16_t>(sky), m_columns.data(), roughSignal);
    const std::uint32_t fullestRow = *std::max_element(m_rows.begin(), m_rows.end());
    const std::uint32_t fullestColumn = *std::max_element(m_columns.begin(), m_columns.end());
    if (fullestRow == 0)
        return 0.0;
    const auto [gy0, gy1] = span(m_rows.data(), gh, std::max<std::uint32_t>(1, std::uint32_t(kRowShare * fullestRow)));
    const auto [gx0, gx1] =
        span(m_columns.data(), gw, std::max<std::uint32_t>(1, std::uint32_t(kRowShare * fullestColumn)));

    // The object's edge lies somewhere between a grid line inside it and the next one out: the
    // rough region reaches one grid step further than the margin, so that it holds the exact
    // region found below, with the neighbours the gradient needs.
    const std::int32_t reach = kMargin + kGrid;
    const std::int32_t roughTop = std::max(0, gy0 * kGrid - reach), roughBottom = std::min(h, gy1 * kGrid + reach + 1);
    const std::int32_t roughLeft = std::max(0, gx0 * kGrid - reach), roughRight = std::min(w, gx1 * kGrid + reach + 1);
    const std::int32_t rw = roughRight - roughLeft, rh = roughBottom - roughTop;
    if (rw < 3 || rh < 3)
        return 0.0;
    const std::size_t regionWidth = static_cast<std::size_t>(rw);
    m_binned.resize(regionWidth * static_cast<std::size_t>(rh));
    m_columns.assign(regionWidth, 0);
    m_rows.assign(static_cast<std::size_t>(rh), 0);
    std::uint64_t signal = 0;
    for (std::int32_t y = 0; y < rh; ++y) {
        const std::uint8_t* r0 =
            plane.pixels + 2 * static_cast<std::ptrdiff_t>(roughTop + y) * plane.stride + 2 * roughLeft;
        std::uint16_t* row = m_binned.data() + static_cast<std::size_t>(y) * regionWidth;
        BinRows(r0, r0 + plane.stride, row, regionWidth);
        m_rows[static_cast<std::size_t>(y)] =
            CountRow(row, regionWidth, threshold, static_cast<std::uint16_t>(sky), m_columns.data(), signal);
    }

    // The exact object inside the rough region, pixel by pixel, widened by the margin.
    const std::uint32_t objectRow = *std::max_element(m_rows.begin(), m_rows.end());
    const std::uint32_t objectColumn = *std::max_element(m_columns.begin(), m_columns.end());
    if (objectRow == 0)
        return 0.0;
    const auto [y0, y1] = span(m_rows.data(), rh, std::max<std::uint32_t>(1, std::uint32_t(kRowShare * objectRow)));
    const auto [x0, x1] =
        span(m_columns.data(), rw, std::max<std::uint32_t>(1, std::uint32_t(kRowShare * objectColumn)));
    std::uint64_t objectPixels = 0;
    for (std::int32_t y = y0; y <= y1; ++y)
        objectPixels += m_rows[static_cast<std::size_t>(y)];

    // The gradient needs a neighbour on each side (region coordinates from here on).
    const std::int32_t top0 = std::max(1, y0 - kMargin), bottom = std::min(rh - 1, y1 + kMargin + 1);
    const std::int32_t left = std::max(1, x0 - kMargin), right = std::min(rw - 1, x1 + kMargin + 1);
    std::uint64_t energy = 0;
    for (std::int32_t y = top0; y < bottom; ++y) {
        const std::uint16_t* mid = m_binned.data() + static_cast<std::size_t>(y) * regionWidth;
        energy += SobelRowEnergy(mid - regionWidth, mid, mid + regionWidth, static_cast<std::size_t>(left),
                                 static_cast<std::size_t>(right));
    }
    m_region = {2 * (roughLeft + left), 2 * (roughTop + top0), 2 * (roughLeft + right), 2 * (roughTop + bottom)};
    const double pixels = double(bottom - top0) * double(right - left);
    const double level = double(signal) / double(objectPixels);
    if (pixels <= 0 || level <= 0)
        return 0.0;
    return std::sqrt(double(energy) / pixels) / level;
}

double SharpnessMeter::MeasureBitmap(const BITMAPINFOHEADER& header, const std::uint8_t* pixels)
{
    const std::int32_t w = header.biWidth;
    // Counted in 64 bits: the most negative height has no positive 32-bit twin.
    const std::size_t rows = kestro::dib::rows(header);
    const auto h = static_cast<std::int32_t>(std::min<std::size_t>(rows, INT32_MAX));
    const int bytes = header.biBitCount / 8;
    if (!pixels || w <= 0 || h <= 0 || rows > INT32_MAX || header.biCompression != BI_RGB ||
        (bytes != 1 && bytes != 3 && bytes != 4))
        return -1.0;
    const std::size_t stride = kestro::dib::stride(w, 8 * bytes);
    if (bytes == 1)
        return Measure({pixels, w, h, static_cast<std::ptrdiff_t>(stride)});
    // Luminance as (B + 2G + R) / 4: the weights of a Bayer block, so a frame scores alike decoded
    // and raw.
    m_grey.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    for (std::int32_t y = 0; y < h; ++y) {
        const std::uint8_t* in = pixels + static_cast<std::size_t>(y) * stride;
        std::uint8_t* out = m_grey.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(w);
        for (std::int32_t x = 0; x < w; ++x) {
            const std::uint8_t* p = in + static_cast<std::size_t>(x) * static_cast<std::size_t>(bytes);
            out[x] = static_cast<std::uint8_t>((p[0] + 2 * p[1] + p[2] + 2) >> 2);
        }
    }
    return Measure({m_grey.data(), w, h, static_cast<std::ptrdiff_t>(w)});
}

} // namespace kestro::quality
