#include "sharpness.h"

#include "dib.h"
#include "sharpness_rows.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <utility>
#include <vector>

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

using Histogram = std::array<std::uint32_t, kBinnedLevels>;

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

// The sky's level and the level above which a binned pixel belongs to the object.
struct Levels {
    std::uint16_t sky = 0;
    std::uint16_t threshold = 0;
};

// The rows y0..y1 and columns x0..x1 (inclusive) that hold the object.
struct Extent {
    std::int32_t x0 = 0, x1 = 0, y0 = 0, y1 = 0;
};

// A rectangle of binned pixels, right and bottom exclusive.
struct Box {
    std::int32_t left = 0, top = 0, right = 0, bottom = 0;
};

// The object is looked for on a coarse grid of binned pixels, every kGrid-th of every kGrid-th
// row, binned straight from the plane: a sixteenth of the work of binning it all, and only the
// object's region is binned in full afterwards. On a planet that fills a tenth of the frame that
// is most of the time a frame took, the gradients of the sky being worth nothing. Fills the gw x
// gh grid and returns the histogram of its values.
Histogram binGrid(const PlaneView& plane, std::int32_t gw, std::int32_t gh, std::vector<std::uint16_t>& grid)
{
    const std::size_t gridWidth = static_cast<std::size_t>(gw);
    grid.resize(gridWidth * static_cast<std::size_t>(gh));
    Histogram histogram{};
    for (std::int32_t gy = 0; gy < gh; ++gy) {
        const std::uint8_t* r0 = plane.pixels + 2 * kGrid * static_cast<std::ptrdiff_t>(gy) * plane.stride;
        std::uint16_t* out = grid.data() + static_cast<std::size_t>(gy) * gridWidth;
        for (std::int32_t gx = 0; gx < gw; ++gx) {
            const std::uint8_t* p = r0 + 2 * kGrid * gx;
            out[gx] = static_cast<std::uint16_t>(p[0] + p[1] + p[plane.stride] + p[plane.stride + 1]);
            ++histogram[out[gx]];
        }
    }
    return histogram;
}

// The sky is the low tenth of the samples; the object's top the 99.9th percentile, so that a few
// hot pixels do not set it. Nothing when the two are too close for an object.
std::optional<Levels> objectLevels(const Histogram& histogram, std::uint32_t samples)
{
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
    const int sky = percentile(0.10);
    const int top = percentile(0.999);
    if (top - sky < kMinContrast)
        return std::nullopt;
    return Levels{static_cast<std::uint16_t>(sky), static_cast<std::uint16_t>(sky + kObjectLevel * (top - sky))};
}

// The rows and columns whose counts of object pixels reach kRowShare of the fullest; nothing when
// no pixel belongs to the object.
std::optional<Extent> objectExtent(const std::vector<std::uint32_t>& rows, const std::vector<std::uint32_t>& columns)
{
    const std::uint32_t fullestRow = *std::max_element(rows.begin(), rows.end());
    const std::uint32_t fullestColumn = *std::max_element(columns.begin(), columns.end());
    if (fullestRow == 0)
        return std::nullopt;
    const auto [y0, y1] = span(rows.data(), static_cast<std::int32_t>(rows.size()),
                               std::max<std::uint32_t>(1, std::uint32_t(kRowShare * fullestRow)));
    const auto [x0, x1] = span(columns.data(), static_cast<std::int32_t>(columns.size()),
                               std::max<std::uint32_t>(1, std::uint32_t(kRowShare * fullestColumn)));
    return Extent{x0, x1, y0, y1};
}

// Where the object is, roughly, from the grid, in binned pixels of the w x h picture. The object's
// edge lies somewhere between a grid line inside it and the next one out: the rough region reaches
// one grid step further than the margin, so that it holds the exact region found afterwards, with
// the neighbours the gradient needs. Nothing when there is no object or too little of it.
std::optional<Box> roughRegion(const std::vector<std::uint16_t>& grid, std::int32_t gw, std::int32_t gh, std::int32_t w,
                               std::int32_t h, Levels levels, std::vector<std::uint32_t>& rows,
                               std::vector<std::uint32_t>& columns)
{
    const std::size_t gridWidth = static_cast<std::size_t>(gw);
    columns.assign(gridWidth, 0);
    rows.assign(static_cast<std::size_t>(gh), 0);
    // The object's level is taken from every pixel of it afterwards; this one is not used.
    std::uint64_t roughSignal = 0;
    for (std::int32_t gy = 0; gy < gh; ++gy)
        rows[static_cast<std::size_t>(gy)] = CountRow(grid.data() + static_cast<std::size_t>(gy) * gridWidth, gridWidth,
                                                      levels.threshold, levels.sky, columns.data(), roughSignal);
    const std::optional<Extent> onGrid = objectExtent(rows, columns);
    if (!onGrid)
        return std::nullopt;
    const std::int32_t reach = kMargin + kGrid;
    const Box rough{std::max(0, onGrid->x0 * kGrid - reach), std::max(0, onGrid->y0 * kGrid - reach),
                    std::min(w, onGrid->x1 * kGrid + reach + 1), std::min(h, onGrid->y1 * kGrid + reach + 1)};
    if (rough.right - rough.left < 3 || rough.bottom - rough.top < 3)
        return std::nullopt;
    return rough;
}

// Bins the rough region in full into `binned`, counting its object pixels by row and column.
// Returns the object's signal: the sum of its pixels' heights above the sky.
std::uint64_t binRegion(const PlaneView& plane, const Box& rough, Levels levels, std::vector<std::uint16_t>& binned,
                        std::vector<std::uint32_t>& rows, std::vector<std::uint32_t>& columns)
{
    const std::int32_t rh = rough.bottom - rough.top;
    const std::size_t regionWidth = static_cast<std::size_t>(rough.right - rough.left);
    binned.resize(regionWidth * static_cast<std::size_t>(rh));
    columns.assign(regionWidth, 0);
    rows.assign(static_cast<std::size_t>(rh), 0);
    std::uint64_t signal = 0;
    for (std::int32_t y = 0; y < rh; ++y) {
        const std::uint8_t* r0 =
            plane.pixels + 2 * static_cast<std::ptrdiff_t>(rough.top + y) * plane.stride + 2 * rough.left;
        std::uint16_t* row = binned.data() + static_cast<std::size_t>(y) * regionWidth;
        BinRows(r0, r0 + plane.stride, row, regionWidth);
        rows[static_cast<std::size_t>(y)] =
            CountRow(row, regionWidth, levels.threshold, levels.sky, columns.data(), signal);
    }
    return signal;
}

// The squared Sobel gradient summed over the box of the rw-wide binned region.
std::uint64_t gradientEnergy(const std::vector<std::uint16_t>& binned, std::int32_t rw, const Box& box)
{
    const std::size_t regionWidth = static_cast<std::size_t>(rw);
    std::uint64_t energy = 0;
    for (std::int32_t y = box.top; y < box.bottom; ++y) {
        const std::uint16_t* mid = binned.data() + static_cast<std::size_t>(y) * regionWidth;
        energy += SobelRowEnergy(mid - regionWidth, mid, mid + regionWidth, static_cast<std::size_t>(box.left),
                                 static_cast<std::size_t>(box.right));
    }
    return energy;
}

} // namespace

double SharpnessMeter::Measure(const PlaneView& plane)
{
    m_region = {};
    const std::int32_t w = plane.width / 2, h = plane.height / 2;
    if (!plane.pixels || w < 4 || h < 4)
        return 0.0;

    const std::int32_t gw = (w + kGrid - 1) / kGrid, gh = (h + kGrid - 1) / kGrid;
    const Histogram histogram = binGrid(plane, gw, gh, m_grid);
    const std::optional<Levels> levels = objectLevels(histogram, static_cast<std::uint32_t>(m_grid.size()));
    if (!levels)
        return 0.0;
    const std::optional<Box> rough = roughRegion(m_grid, gw, gh, w, h, *levels, m_rows, m_columns);
    if (!rough)
        return 0.0;
    const std::uint64_t signal = binRegion(plane, *rough, *levels, m_binned, m_rows, m_columns);

    // The exact object inside the rough region, pixel by pixel (region coordinates from here on).
    const std::optional<Extent> object = objectExtent(m_rows, m_columns);
    if (!object)
        return 0.0;
    std::uint64_t objectPixels = 0;
    for (std::int32_t y = object->y0; y <= object->y1; ++y)
        objectPixels += m_rows[static_cast<std::size_t>(y)];

    // Widened by the margin, keeping the neighbour on each side that the gradient needs.
    const std::int32_t rw = rough->right - rough->left, rh = rough->bottom - rough->top;
    const Box measured{std::max(1, object->x0 - kMargin), std::max(1, object->y0 - kMargin),
                       std::min(rw - 1, object->x1 + kMargin + 1), std::min(rh - 1, object->y1 + kMargin + 1)};
    const std::uint64_t energy = gradientEnergy(m_binned, rw, measured);
    m_region = {2 * (rough->left + measured.left), 2 * (rough->top + measured.top), 2 * (rough->left + measured.right),
                2 * (rough->top + measured.bottom)};
    const double pixels = double(measured.bottom - measured.top) * double(measured.right - measured.left);
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
