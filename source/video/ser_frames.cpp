#include "ser_frames.h"

#include "depth_scale.h"
#include "parallel_for.h"

#include <algorithm>
#include <utility>

namespace kestro::video {

namespace {
// The 16-bit rows read at a time: small enough to stay in a core's second-level cache with the
// 8-bit rows they become.
constexpr std::size_t kBandBytes = 128 * 1024;
} // namespace

BITMAPINFOHEADER SerFrames::NormalFormat() const
{
    const ser::FrameLayout& layout = m_reader.layout();
    return dib::header(layout.width, layout.height, layout.planes == 3 ? 24 : 8);
}

ser::Status SerFrames::ReadRows8(std::int32_t frame, std::uint8_t* firstRow, std::ptrdiff_t stride)
{
    const ser::FrameLayout& layout = m_reader.layout();
    const std::size_t samples = static_cast<std::size_t>(layout.width) * static_cast<std::size_t>(layout.planes);
    const std::size_t height = static_cast<std::size_t>(layout.height);
    // Read at each frame: the user may change the byte order, and with it the depth, at any time.
    const int depth = m_reader.realDepth();
    if (layout.bytesPerSample == 1) {
        if (ser::Status s = m_reader.readFrame(frame, firstRow, stride); !s)
            return s;
        if (depth < 8)
            for (std::size_t y = 0; y < height; ++y) {
                std::uint8_t* row = firstRow + static_cast<std::ptrdiff_t>(y) * stride;
                scaleTo8(row, row, samples, depth);
            }
        return {};
    }
    // Read a band of rows at a time into a buffer that stays in the cache, and scale each band
    // into its place from there: the reader turns the samples into this machine's order on the
    // way, and the frame's 16-bit samples never go through memory as a whole. The bands are
    // shared out among the threads, each with a buffer of its own: the reader's reads are
    // positioned and may run side by side.
    const std::size_t bandRows = std::clamp<std::size_t>(kBandBytes / (samples * 2), 1, height);
    const std::size_t bands = (height + bandRows - 1) / bandRows;
    const unsigned workers = parallel::threadsFor(bands, m_threads);
    m_wide.resize(workers);
    std::vector<ser::Status> failures(workers);
    parallel::onThreads(bands, 1, workers, [&](parallel::Share& share, unsigned worker) {
        std::vector<std::uint16_t>& wide = m_wide[worker];
        wide.resize(samples * bandRows);
        for (parallel::Range range; share.next(range);) {
            for (std::size_t band = range.begin; band < range.end; ++band) {
                const std::size_t y = band * bandRows;
                const std::size_t rows = std::min(bandRows, height - y);
                if (ser::Status s = m_reader.readRows(
                        frame, static_cast<std::int32_t>(y), static_cast<std::int32_t>(rows),
                        reinterpret_cast<std::uint8_t*>(wide.data()), static_cast<std::ptrdiff_t>(samples * 2));
                    !s) {
                    failures[worker] = std::move(s);
                    share.stop();
                    return;
                }
                for (std::size_t r = 0; r < rows; ++r)
                    scaleTo8(wide.data() + r * samples, firstRow + static_cast<std::ptrdiff_t>(y + r) * stride, samples,
                             depth);
            }
        }
    });
    for (ser::Status& s : failures)
        if (!s)
            return std::move(s);
    return {};
}

ser::Status SerFrames::ReadPlane8(std::int32_t frame, std::uint8_t* firstRow, std::ptrdiff_t stride)
{
    if (!HasPlane())
        return {"its frames hold " +
                std::string(ser::findColor(static_cast<std::int32_t>(m_reader.layout().colorId))->name) +
                " colour, not one sensor value per pixel"};
    return ReadRows8(frame, firstRow, stride);
}

ser::Status SerFrames::ReadNormal(std::int32_t frame, std::uint8_t* pixels)
{
    const BITMAPINFOHEADER format = NormalFormat();
    const std::size_t stride = dib::stride(format);
    const std::size_t height = static_cast<std::size_t>(format.biHeight);
    // The file's rows run top-down, the bitmap's bottom-up: the top row goes to the last row.
    std::uint8_t* top = pixels + (height - 1) * stride;
    if (ser::Status s = ReadRows8(frame, top, -static_cast<std::ptrdiff_t>(stride)); !s)
        return s;
    // RGB files store red first; a bitmap's pixel is blue, green, red.
    if (m_reader.layout().sampling == ser::Sampling::Rgb) {
        const std::size_t width = static_cast<std::size_t>(format.biWidth);
        for (std::size_t y = 0; y < height; ++y) {
            std::uint8_t* row = pixels + y * stride;
            for (std::size_t x = 0; x < width; ++x)
                std::swap(row[3 * x], row[3 * x + 2]);
        }
    }
    return {};
}

} // namespace kestro::video
