#include "frame_decoder_base.h"
#include "frame_decoder_ffmpeg.h"

#include <algorithm>
#include <cstring>

namespace kestro::avi {

std::size_t BottomUpScaler::prepare(const PackedBitmap& bitmap, int rows)
{
    const auto width = static_cast<std::size_t>(bitmap.width());
    // Whole 16-pixel groups, rounded up to a cache line.
    const std::size_t stride = ((width + 15) / 16 * 16 * 3 + 63) / 64 * 64;
    const std::size_t needed = stride * static_cast<std::size_t>(rows) + kBufferSlack;
    if (m_scratch.size() < needed)
        m_scratch.resize(needed);
    return stride;
}

bool BottomUpScaler::run(SwsContext* scaler, const std::uint8_t* const planes[], const int strides[],
                         PackedBitmap& bitmap)
{
    const int height = bitmap.height();
    const std::size_t stride = prepare(bitmap, height);
    std::uint8_t* out[4] = {m_scratch.data(), nullptr, nullptr, nullptr};
    const int outStrides[4] = {static_cast<int>(stride), 0, 0, 0};
    if (ffmpeg()->sws_scale(scaler, planes, strides, 0, height, out, outStrides) != height)
        return false;
    const std::size_t rowBytes = static_cast<std::size_t>(bitmap.width()) * 3;
    for (int y = 0; y < height; ++y)
        std::memcpy(bitmap.topRow(y), m_scratch.data() + static_cast<std::size_t>(y) * stride, rowBytes);
    return true;
}

bool BottomUpScaler::runBands(SwsContext* band, SwsContext* tail, const std::uint8_t* const planes[4],
                              const int strides[4], const int rowShift[4], PackedBitmap& bitmap, int firstRow,
                              int endRow)
{
    const int height = endRow;
    const std::size_t stride = prepare(bitmap, kBandRows);
    const std::size_t rowBytes = static_cast<std::size_t>(bitmap.width()) * 3;
    std::uint8_t* out[4] = {m_scratch.data(), nullptr, nullptr, nullptr};
    const int outStrides[4] = {static_cast<int>(stride), 0, 0, 0};
    for (int top = firstRow; top < height; top += kBandRows) {
        const int rows = std::min(kBandRows, height - top);
        SwsContext* scaler = rows == kBandRows ? band : tail;
        if (!scaler)
            return false;
        const std::uint8_t* in[4] = {};
        for (int p = 0; p < 4; ++p)
            if (planes[p])
                in[p] = planes[p] + static_cast<std::size_t>(top >> rowShift[p]) * static_cast<std::size_t>(strides[p]);
        if (ffmpeg()->sws_scale(scaler, in, strides, 0, rows, out, outStrides) != rows)
            return false;
        for (int y = 0; y < rows; ++y)
            std::memcpy(bitmap.topRow(top + y), m_scratch.data() + static_cast<std::size_t>(y) * stride, rowBytes);
    }
    return true;
}

} // namespace kestro::avi
