// Raw YUV samples: libswscale reads the planes straight out of the stored sample, with
// no codec and no copy in between.

#include "frame_decoder_base.h"
#include "frame_decoder_ffmpeg.h"

#include <future>
#include <thread>

namespace kestro::avi {

namespace {

AVPixelFormat pixelFormatOf(StoredLayout layout)
{
    switch (layout) {
    case StoredLayout::I420:
    case StoredLayout::YV12: // the same planes in another order; the pointers swap them
        return AV_PIX_FMT_YUV420P;
    case StoredLayout::NV12: return AV_PIX_FMT_NV12;
    case StoredLayout::NV21: return AV_PIX_FMT_NV21;
    case StoredLayout::YUY2: return AV_PIX_FMT_YUYV422;
    case StoredLayout::UYVY: return AV_PIX_FMT_UYVY422;
    case StoredLayout::YVYU: return AV_PIX_FMT_YVYU422;
    case StoredLayout::Gray: return AV_PIX_FMT_GRAY8;
    case StoredLayout::Dib: break;
    }
    return AV_PIX_FMT_NONE;
}

class RawYuvDecoder final : public SampleDecoder {
public:
    RawYuvDecoder(const StoredPicture& picture, StoredLayout layout, const SampleSource& source)
        : SampleDecoder(source), m_picture(picture), m_layout(layout)
    {
    }

    bool init();
    int outputBitCount() const override { return 24; }

protected:
    const BITMAPINFOHEADER* decode(std::int32_t position, const std::uint8_t* data, std::size_t size) override;

private:
    StoredPicture m_picture;
    StoredLayout m_layout;
    std::uint64_t m_pictureBytes = 0;
    // The whole picture's scaler, or with bands the band's and the remainder's.
    SwsContextPtr m_sws;
    SwsContextPtr m_tailSws;
    bool m_banded = false;
    BottomUpScaler m_scaler;
    // Large pictures are split: a second thread converts the upper bands with a scaler
    // of its own (a scaler is not shared between threads), which nearly halves the time
    // a full-HD frame takes on a machine with two cores.
    SwsContextPtr m_helperSws;
    BottomUpScaler m_helperScaler;
    PackedBitmap m_bitmap;
};

// Below this many pixels a second thread costs more than it saves.
constexpr std::int64_t kSplitPixels = 640 * 480;

bool RawYuvDecoder::init()
{
    const AVPixelFormat format = pixelFormatOf(m_layout);
    if (format == AV_PIX_FMT_NONE)
        return false;
    m_pictureBytes = rawYuvPictureBytes(m_layout, m_picture.width, m_picture.height);
    if (m_pictureBytes == 0)
        return false;
    const FfmpegLibrary* av = ffmpeg();
    if (!av)
        return false;
    // No colour details are set: the library's defaults (BT.601, limited range for YUV,
    // full range for grey) are what ffmpeg applies to these untagged samples.
    const auto scaler = [&](int rows) {
        return SwsContextPtr(av->sws_getContext(m_picture.width, rows, format, m_picture.width, rows, AV_PIX_FMT_BGR24,
                                                kScalerFlags, nullptr, nullptr, nullptr));
    };
    // Bands, and the split across two threads, are used only where they give exactly the
    // bytes of a whole-picture conversion: grey, and 4:2:0 planes of even height, which
    // libswscale converts on its fast path row pair by row pair. Packed 4:2:2 is not among
    // them: its general path rounds a few pixels differently when cut into bands.
    const bool planar420 = m_layout == StoredLayout::I420 || m_layout == StoredLayout::YV12;
    m_banded = (planar420 && (m_picture.height & 1) == 0) || m_layout == StoredLayout::Gray;
    if (!m_banded) {
        m_sws = scaler(m_picture.height);
        return m_sws != nullptr;
    }
    const int bandRows = BottomUpScaler::kBandRows;
    if (m_picture.height >= bandRows && !(m_sws = scaler(bandRows)))
        return false;
    if (m_picture.height % bandRows != 0 && !(m_tailSws = scaler(m_picture.height % bandRows)))
        return false;
    if (static_cast<std::int64_t>(m_picture.width) * m_picture.height >= kSplitPixels &&
        m_picture.height >= 4 * bandRows && std::thread::hardware_concurrency() > 1)
        m_helperSws = scaler(bandRows); // without it the whole picture stays on one thread
    return true;
}

const BITMAPINFOHEADER* RawYuvDecoder::decode(std::int32_t, const std::uint8_t* data, std::size_t size)
{
    // The bitmap is made by the first sample that holds a whole picture, not by the header.
    if (size < m_pictureBytes || !m_bitmap.reset(m_picture.width, m_picture.height, 24))
        return nullptr;

    const auto w = static_cast<std::size_t>(m_picture.width);
    const auto h = static_cast<std::size_t>(m_picture.height);
    const std::size_t cw = (w + 1) / 2;
    const std::size_t ch = (h + 1) / 2;
    const std::uint8_t* planes[4] = {data, nullptr, nullptr, nullptr};
    int strides[4] = {static_cast<int>(w), 0, 0, 0};
    int rowShift[4] = {0, 0, 0, 0};
    switch (m_layout) {
    case StoredLayout::I420:
    case StoredLayout::YV12: {
        const std::uint8_t* first = data + w * h;
        const std::uint8_t* second = first + cw * ch;
        const bool swapped = m_layout == StoredLayout::YV12;
        planes[1] = swapped ? second : first;
        planes[2] = swapped ? first : second;
        strides[1] = strides[2] = static_cast<int>(cw);
        rowShift[1] = rowShift[2] = 1;
        break;
    }
    case StoredLayout::NV12:
    case StoredLayout::NV21:
        planes[1] = data + w * h;
        strides[1] = static_cast<int>(2 * cw);
        rowShift[1] = 1;
        break;
    case StoredLayout::YUY2:
    case StoredLayout::UYVY:
    case StoredLayout::YVYU: strides[0] = static_cast<int>(4 * cw); break;
    case StoredLayout::Gray:
        // Grey rows follow the DIB habit of 4-byte padding when the sample holds it.
        if (size >= dib::stride(m_picture.width, 8) * h)
            strides[0] = static_cast<int>(dib::stride(m_picture.width, 8));
        break;
    case StoredLayout::Dib: return nullptr;
    }

    bool converted = false;
    if (!m_banded) {
        converted = m_scaler.run(m_sws.get(), planes, strides, m_bitmap);
    } else if (!m_helperSws) {
        converted =
            m_scaler.runBands(m_sws.get(), m_tailSws.get(), planes, strides, rowShift, m_bitmap, 0, m_picture.height);
    } else {
        const int split = m_picture.height / BottomUpScaler::kBandRows / 2 * BottomUpScaler::kBandRows;
        auto upper = std::async(std::launch::async, [&] {
            return m_helperScaler.runBands(m_helperSws.get(), nullptr, planes, strides, rowShift, m_bitmap, 0, split);
        });
        const bool lower = m_scaler.runBands(m_sws.get(), m_tailSws.get(), planes, strides, rowShift, m_bitmap, split,
                                             m_picture.height);
        converted = upper.get() && lower;
    }
    if (!converted)
        return nullptr;
    return m_bitmap.header();
}

} // namespace

std::unique_ptr<FrameDecoder> makeRawYuvDecoder(const StoredPicture& picture, StoredLayout layout,
                                                const SampleSource& source)
{
    auto decoder = std::make_unique<RawYuvDecoder>(picture, layout, source);
    if (!decoder->init())
        return nullptr;
    return decoder;
}

} // namespace kestro::avi
