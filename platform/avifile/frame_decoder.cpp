#include "frame_decoder.h"

#include "frame_decoder_base.h"
#include "ffmpeg_library.h"
#include "frame_decoder_formats.h"
#include "riff.h"

#include <cstring>
#include <optional>
#include <string>

namespace kestro::avi {

namespace {

std::unique_ptr<FrameDecoder> decoderFor(const StoredPicture& picture, FOURCC fourcc, const SampleSource& source)
{
    if (const auto layout = storedLayoutOf(fourcc)) {
        if (*layout == StoredLayout::Dib)
            return makeDibDecoder(picture, source);
        return makeRawYuvDecoder(picture, *layout, source);
    }
    return makeCodecDecoder(picture, fourcc, source);
}

} // namespace

std::optional<StoredLayout> storedLayoutOf(FOURCC fourcc)
{
    const FOURCC key = upperFourcc(fourcc);
    for (const auto& entry : kStoredFourccs)
        if (entry.fourcc == key)
            return entry.layout;
    return std::nullopt;
}

std::uint64_t rawYuvPictureBytes(StoredLayout layout, std::int64_t width, std::int64_t height)
{
    if (width <= 0 || height <= 0)
        return 0;
    const auto w = static_cast<std::uint64_t>(width);
    const auto h = static_cast<std::uint64_t>(height);
    const std::uint64_t cw = (w + 1) / 2;
    const std::uint64_t ch = (h + 1) / 2;
    switch (layout) {
    case StoredLayout::I420:
    case StoredLayout::YV12:
    case StoredLayout::NV12:
    case StoredLayout::NV21: return w * h + 2 * cw * ch;
    case StoredLayout::YUY2:
    case StoredLayout::UYVY:
    case StoredLayout::YVYU: return 4 * cw * h;
    case StoredLayout::Gray: return w * h;
    case StoredLayout::Dib: break;
    }
    return 0;
}

bool PackedBitmap::reset(std::int32_t width, std::int32_t height, int bitCount)
{
    if (width == m_width && height == m_height && bitCount == m_bitCount && !m_block.empty())
        return true;
    if (width <= 0 || height <= 0 || width > kMaxDimension || height > kMaxDimension)
        return false;
    // The header's biSizeImage is only read once the size is known to fit it.
    const BITMAPINFOHEADER bih = dib::header(width, height, bitCount);
    const std::size_t stride = dib::stride(width, bitCount);
    const std::size_t total = dib::formatBytes(bih) + stride * static_cast<std::size_t>(height);
    if (total > kMaxBitmapBytes)
        return false;

    // A fresh zeroed block, so no byte of an earlier picture's padding survives.
    std::vector<std::uint8_t> block(total + kBufferSlack);
    std::memcpy(block.data(), &bih, sizeof bih);

    m_block = std::move(block);
    m_width = width;
    m_height = height;
    m_bitCount = bitCount;
    m_stride = stride;
    m_pixelOffset = dib::formatBytes(bih);
    return true;
}

std::int64_t SampleDecoder::readPadded(std::int32_t position, std::vector<std::uint8_t>& out) const
{
    if (m_source.readSample(position, out) != AVIERR_OK)
        return -1;
    const std::size_t size = out.size();
    // Growing value-initialises, so the slack is zero whatever the vector held before.
    out.resize(size + kBufferSlack);
    return static_cast<std::int64_t>(size);
}

const BITMAPINFOHEADER* SampleDecoder::frame(std::int32_t position)
{
    const std::int64_t first = m_source.start();
    const std::int64_t end = first + m_source.length();
    if (position < first || position >= end)
        return nullptr;
    if (m_lastFrame && position == m_lastPosition)
        return m_lastFrame;
    m_lastFrame = nullptr;
    m_lastPosition = position;

    std::int64_t size = readPadded(position, m_sample);
    if (size == 0) {
        // A dropped frame shows what the camera last delivered.
        const std::int32_t earlier = m_source.findSample(position, FIND_ANY | FIND_PREV);
        if (earlier < first || earlier >= position)
            return nullptr;
        position = earlier;
        size = readPadded(position, m_sample);
    }
    if (size <= 0)
        return nullptr;
    m_lastFrame = decode(position, m_sample.data(), static_cast<std::size_t>(size));
    return m_lastFrame;
}

std::unique_ptr<FrameDecoder> FrameDecoder::create(const AVISTREAMINFOA& info, const std::uint8_t* format,
                                                   std::size_t formatSize, const SampleSource& source,
                                                   std::string* pWhy)
{
    auto refuse = [pWhy](std::string why) -> std::unique_ptr<FrameDecoder> {
        if (pWhy)
            *pWhy = std::move(why);
        return nullptr;
    };
    if (!format || formatSize < sizeof(BITMAPINFOHEADER))
        return refuse("its video format block is missing or too short");

    const auto width = static_cast<std::int32_t>(le32(format + 4));
    const auto height = static_cast<std::int32_t>(le32(format + 8));
    // 64 bits, so that the most negative height turns positive without overflow.
    const std::int64_t rows = height < 0 ? -static_cast<std::int64_t>(height) : height;
    if (width <= 0 || width > kMaxDimension || rows <= 0 || rows > kMaxDimension)
        return refuse("its frame size " + std::to_string(width) + "\u00d7" + std::to_string(rows) +
                      " is 0 or too large");

    StoredPicture picture;
    picture.width = width;
    picture.height = static_cast<std::int32_t>(rows);
    picture.topDown = height < 0;
    picture.bitCount = le16(format + 14);
    picture.compression = le32(format + 16);
    picture.clrUsed = le32(format + 32);
    picture.handler = info.fccHandler;
    picture.extra = {format + sizeof(BITMAPINFOHEADER), formatSize - sizeof(BITMAPINFOHEADER)};

    // Uncompressed frames have a known size: a stream none of whose samples could hold one is
    // refused here, before a bitmap is sized by a header that may claim anything (a 14 KB file
    // announcing 18000 x 18000 pixels). Compressed frames get their bitmap when the first one
    // has decoded, at the size the codec reports.
    const bool dib = picture.compression == BI_RGB || picture.compression == BI_BITFIELDS;
    std::optional<StoredLayout> layout = dib ? std::optional{StoredLayout::Dib} : storedLayoutOf(picture.compression);
    std::uint64_t needed = 0;
    if (layout == StoredLayout::Dib)
        needed = (static_cast<std::uint64_t>(width) * picture.bitCount + 7) / 8 * static_cast<std::uint64_t>(rows);
    else if (layout)
        needed = rawYuvPictureBytes(*layout, width, rows);
    const std::uint64_t largest = layout ? source.largestSample() : 0;
    if (layout && needed > largest) {
        const std::string size = std::to_string(width) + "\u00d7" + std::to_string(rows);
        if (largest == 0)
            return refuse("none of its " + size + " frames holds data");
        return refuse("its frames of " + size + " pixels need " + std::to_string(needed) +
                      " bytes each, but the largest stored frame holds " + std::to_string(largest));
    }

    std::unique_ptr<FrameDecoder> decoder;
    if (dib)
        decoder = makeDibDecoder(picture, source);
    else if (!(decoder = decoderFor(picture, picture.compression, source))) {
        // Some writers leave biCompression at a code nobody knows and name the codec only
        // in the stream header.
        // A handler that only says "uncompressed" tells nothing about such a sample.
        const FOURCC handler = picture.handler;
        if (handler != 0 && handler != picture.compression && storedLayoutOf(handler) != StoredLayout::Dib)
            decoder = decoderFor(picture, handler, source);
    }
    if (decoder)
        return decoder;
    if (dib)
        return refuse("its uncompressed frames of " + std::to_string(picture.bitCount) +
                      " bits per pixel cannot be decoded");
    if (!layout && !ffmpeg())
        return refuse("the FFmpeg libraries that decode its compression '" + fourccText(picture.compression) +
                      "' could not be loaded");
    return refuse("its compression '" + fourccText(picture.compression) + "' cannot be decoded");
}

} // namespace kestro::avi
