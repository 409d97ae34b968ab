// Uncompressed DIB samples: copied or widened row by row into the packed bitmap.

#include "frame_decoder_base.h"
#include "riff.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace kestro::avi {

namespace {

constexpr std::uint32_t kDefaultMask555[3] = {0x7C00, 0x03E0, 0x001F};
constexpr std::uint32_t kMasksBgrx[3] = {0x00FF0000, 0x0000FF00, 0x000000FF};

// One colour channel of a 16-bit pixel: where its bits sit and what 8-bit value each
// of their values stands for (the top bits repeated into the low ones, so full scale
// maps to 255 and zero to zero).
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    std::array<std::uint8_t, 256> value{};

    bool set(std::uint32_t m)
    {
        if (m == 0 || m > 0xFFFF)
            return false;
        shift = std::countr_zero(m);
        const int bits = std::popcount(m);
        // The bits must be one contiguous run of at most 8.
        if (bits > 8 || (m >> shift) != (std::uint32_t{1} << bits) - 1)
            return false;
        mask = m;
        for (std::uint32_t v = 0; v < (std::uint32_t{1} << bits); ++v) {
            std::uint32_t out = 0;
            for (int pos = 8 - bits; pos > -bits; pos -= bits)
                out |= pos >= 0 ? v << pos : v >> -pos;
            value[v] = static_cast<std::uint8_t>(out);
        }
        return true;
    }
    std::uint8_t operator()(std::uint32_t pixel) const { return value[(pixel & mask) >> shift]; }
};

class DibDecoder final : public SampleDecoder {
public:
    DibDecoder(const StoredPicture& picture, const SampleSource& source) : SampleDecoder(source), m_picture(picture) {}

    bool init();
    int outputBitCount() const override { return m_outBits; }

protected:
    const BITMAPINFOHEADER* decode(std::int32_t position, const std::uint8_t* data, std::size_t size) override;

private:
    void loadPalette();
    void convertRow(const std::uint8_t* src, std::uint8_t* dst) const;

    StoredPicture m_picture;
    int m_outBits = 0;
    std::size_t m_rowBytes = 0; // stored bytes of pixels in a row, without padding
    std::array<RGBQUAD, 256> m_palette{};
    Channel m_red;
    Channel m_green;
    Channel m_blue;
    PackedBitmap m_bitmap;
};

bool DibDecoder::init()
{
    const int bits = m_picture.bitCount;
    const bool bitfields = m_picture.compression == BI_BITFIELDS;
    std::uint32_t masks[3] = {kDefaultMask555[0], kDefaultMask555[1], kDefaultMask555[2]};
    if (bitfields) {
        if (bits != 16 && bits != 32)
            return false;
        if (m_picture.extra.size() < 12)
            return false;
        for (int i = 0; i < 3; ++i)
            masks[i] = le32(m_picture.extra.data() + 4 * i);
    }

    switch (bits) {
    case 1:
    case 4:
    case 8:
        m_outBits = 8;
        loadPalette();
        break;
    case 16:
        m_outBits = 24;
        if (!m_red.set(masks[0]) || !m_green.set(masks[1]) || !m_blue.set(masks[2]))
            return false;
        break;
    case 24: m_outBits = 24; break;
    case 32:
        // Other channel orders are legal but no capture program writes them.
        if (bitfields && (masks[0] != kMasksBgrx[0] || masks[1] != kMasksBgrx[1] || masks[2] != kMasksBgrx[2]))
            return false;
        m_outBits = 32;
        break;
    default: return false;
    }
    m_rowBytes = static_cast<std::size_t>((static_cast<std::uint64_t>(m_picture.width) * bits + 7) / 8);
    // The bitmap is made by the first sample that holds a whole picture, not by the header.
    return true;
}

void DibDecoder::loadPalette()
{
    const int bits = m_picture.bitCount;
    const std::size_t possible = std::size_t{1} << bits;
    const std::size_t available = m_picture.extra.size() / sizeof(RGBQUAD);
    if (available == 0) {
        // No colour table at all: the values are grey levels over the full range.
        const std::size_t step = 255 / (possible - 1);
        for (std::size_t i = 0; i < possible; ++i) {
            const auto v = static_cast<BYTE>(i * step);
            m_palette[i] = {v, v, v, 0};
        }
    } else {
        std::size_t entries = m_picture.clrUsed == 0 ? possible : m_picture.clrUsed;
        entries = std::min({entries, possible, available});
        for (std::size_t i = 0; i < entries; ++i) {
            const std::uint8_t* q = m_picture.extra.data() + 4 * i;
            m_palette[i] = {q[0], q[1], q[2], 0};
        }
    }
}

void DibDecoder::convertRow(const std::uint8_t* src, std::uint8_t* dst) const
{
    const auto width = static_cast<std::size_t>(m_picture.width);
    switch (m_picture.bitCount) {
    case 1:
        for (std::size_t x = 0; x < width; ++x)
            dst[x] = static_cast<std::uint8_t>((src[x >> 3] >> (7 - (x & 7))) & 1);
        break;
    case 4:
        for (std::size_t x = 0; x < width; ++x)
            dst[x] = static_cast<std::uint8_t>((x & 1) ? (src[x >> 1] & 0x0F) : (src[x >> 1] >> 4));
        break;
    case 16:
        for (std::size_t x = 0; x < width; ++x) {
            const std::uint32_t v = le16(src + 2 * x);
            dst[3 * x] = m_blue(v);
            dst[3 * x + 1] = m_green(v);
            dst[3 * x + 2] = m_red(v);
        }
        break;
    default: std::memcpy(dst, src, m_rowBytes); break;
    }
}

const BITMAPINFOHEADER* DibDecoder::decode(std::int32_t, const std::uint8_t* data, std::size_t size)
{
    const auto height = static_cast<std::uint64_t>(m_picture.height);
    const std::uint64_t padded = dib::stride(m_picture.width, m_picture.bitCount);
    // Rows are padded to 4 bytes, but some writers store them tight; accept that when
    // the sample is too short for padded rows yet holds every tight one.
    std::uint64_t stride = padded;
    if (size < padded * height) {
        if (size < m_rowBytes * height)
            return nullptr;
        stride = m_rowBytes;
    }
    // The block is allocated by the first whole picture, not from the header; the shape never
    // changes, so later calls find it made and only copy the palette again (1 KiB).
    if (!m_bitmap.reset(m_picture.width, m_picture.height, m_outBits))
        return nullptr;
    if (m_outBits == 8)
        std::memcpy(m_bitmap.palette(), m_palette.data(), sizeof m_palette);

    const std::int32_t rows = m_picture.height;
    for (std::int32_t y = 0; y < rows; ++y) {
        const std::int32_t stored = m_picture.topDown ? rows - 1 - y : y;
        convertRow(data + static_cast<std::size_t>(stored) * stride, m_bitmap.row(y));
    }
    return m_bitmap.header();
}

} // namespace

std::unique_ptr<FrameDecoder> makeDibDecoder(const StoredPicture& picture, const SampleSource& source)
{
    auto decoder = std::make_unique<DibDecoder>(picture, source);
    if (!decoder->init())
        return nullptr;
    return decoder;
}

} // namespace kestro::avi
