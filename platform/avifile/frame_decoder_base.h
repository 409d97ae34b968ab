// Pieces the concrete frame decoders share: the checked description of the stored
// picture, the packed bitmap they fill, and the base class that resolves dropped frames.
#pragma once

#include "frame_decoder.h"
#include "frame_decoder_formats.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace kestro::avi {

// Limits on what a strf block may ask for; anything larger is treated as hostile.
constexpr std::int64_t kMaxDimension = 32768;
constexpr std::uint64_t kMaxBitmapBytes = std::uint64_t{1} << 30;
// Zero bytes kept after every buffer handed to libswscale or libavcodec: their SIMD
// loops read (and some write) a little past the last pixel of a row.
constexpr std::size_t kBufferSlack = 64;

// The strf block, checked: dimensions within limits, height made positive.
struct StoredPicture {
    std::int32_t width = 0;
    std::int32_t height = 0;
    bool topDown = false; // a negative biHeight: rows stored top row first
    std::uint16_t bitCount = 0;
    std::uint32_t compression = 0;
    std::uint32_t clrUsed = 0;
    FOURCC handler = 0; // fccHandler of the stream header
    // Whatever follows the 40-byte header: palette, bit masks or codec extradata.
    std::span<const std::uint8_t> extra;
};

// A packed bitmap in one block: header, colour table for 8-bit, bottom-up rows. Rows are
// zero when allocated, so padding bytes stay zero as long as writers keep to the width.
class PackedBitmap {
public:
    // Sizes the block for a picture (keeping it when the shape is unchanged). False when
    // the bitmap would pass kMaxBitmapBytes.
    bool reset(std::int32_t width, std::int32_t height, int bitCount);

    const BITMAPINFOHEADER* header() const { return reinterpret_cast<const BITMAPINFOHEADER*>(m_block.data()); }
    std::int32_t width() const { return m_width; }
    std::int32_t height() const { return m_height; }
    std::size_t stride() const { return m_stride; }
    // Row y counted from the bottom, as stored.
    std::uint8_t* row(std::int32_t y)
    {
        return m_block.data() + m_pixelOffset + static_cast<std::size_t>(y) * m_stride;
    }
    // Row y counted from the top of the picture.
    std::uint8_t* topRow(std::int32_t y) { return row(m_height - 1 - y); }
    // The 256 entries of an 8-bit bitmap's colour table.
    RGBQUAD* palette() { return reinterpret_cast<RGBQUAD*>(m_block.data() + dib::kHeaderBytes); }

private:
    std::vector<std::uint8_t> m_block;
    std::int32_t m_width = 0;
    std::int32_t m_height = 0;
    int m_bitCount = 0;
    std::size_t m_stride = 0;
    std::size_t m_pixelOffset = 0;
};

// Reads samples and stands in for dropped frames; subclasses only turn one stored
// sample into the bitmap.
class SampleDecoder : public FrameDecoder {
public:
    explicit SampleDecoder(const SampleSource& source) : m_source(source) {}
    const BITMAPINFOHEADER* frame(std::int32_t position) final;

protected:
    // Decodes the sample at position: size stored bytes (never 0) at data, followed by
    // kBufferSlack zero bytes that belong to no picture.
    virtual const BITMAPINFOHEADER* decode(std::int32_t position, const std::uint8_t* data, std::size_t size) = 0;
    // Reads a sample and appends kBufferSlack zero bytes; returns the stored size, or -1
    // when the read fails.
    std::int64_t readPadded(std::int32_t position, std::vector<std::uint8_t>& out) const;

    const SampleSource& m_source;

private:
    std::vector<std::uint8_t> m_sample;
    // Asking again for the position just shown is common (repaints) and costs nothing.
    std::int32_t m_lastPosition = 0;
    const BITMAPINFOHEADER* m_lastFrame = nullptr;
};

std::unique_ptr<FrameDecoder> makeDibDecoder(const StoredPicture& picture, const SampleSource& source);
std::unique_ptr<FrameDecoder> makeRawYuvDecoder(const StoredPicture& picture, StoredLayout layout,
                                                const SampleSource& source);
std::unique_ptr<FrameDecoder> makeCodecDecoder(const StoredPicture& picture, FOURCC fourcc, const SampleSource& source);

} // namespace kestro::avi
