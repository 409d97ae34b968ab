// Compressed samples through libavcodec. Stepping forward feeds one packet a frame;
// any other move flushes the codec and decodes from the key frame at or before the
// wanted position, so every position shows the picture a player would show there.

#include "frame_decoder_base.h"
#include "frame_decoder_ffmpeg.h"
#include "riff.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <limits>

namespace kestro::avi {

namespace {

// Four-character codes of the compressed formats met in AVI captures, and the codec that
// decodes each. Kept here rather than taken from the demuxing library, which the rest of
// the program never needs and which would cost every start-up its loading time. Grouped
// by codec, common spellings first; lookups ignore case, so each code is listed once.
// BI_RLE8 (1) and BI_RLE4 (2) are biCompression values, not letters.
struct CodecFourcc {
    FOURCC fourcc;
    AVCodecID codec;
};

constexpr FOURCC tag(const char (&s)[5]) { return mmioFOURCC(s[0], s[1], s[2], s[3]); }

const CodecFourcc kCodecFourccs[] = {
    {tag("MJPG"), AV_CODEC_ID_MJPEG},
    {tag("AVRN"), AV_CODEC_ID_MJPEG},
    {tag("AVDJ"), AV_CODEC_ID_MJPEG},
    {tag("ACDV"), AV_CODEC_ID_MJPEG},
    {tag("QIVG"), AV_CODEC_ID_MJPEG},
    {tag("DMB1"), AV_CODEC_ID_MJPEG},
    {tag("JPEG"), AV_CODEC_ID_MJPEG},
    {tag("IJPG"), AV_CODEC_ID_MJPEG},
    {tag("AVI1"), AV_CODEC_ID_MJPEG},
    {tag("JPGL"), AV_CODEC_ID_MJPEG},
    {tag("LJPG"), AV_CODEC_ID_LJPEG},
    {tag("MJLS"), AV_CODEC_ID_JPEGLS},
    {tag("H264"), AV_CODEC_ID_H264},
    {tag("X264"), AV_CODEC_ID_H264},
    {tag("AVC1"), AV_CODEC_ID_H264},
    {tag("DAVC"), AV_CODEC_ID_H264},
    {tag("VSSH"), AV_CODEC_ID_H264},
    {tag("Q264"), AV_CODEC_ID_H264},
    {tag("HEVC"), AV_CODEC_ID_HEVC},
    {tag("H265"), AV_CODEC_ID_HEVC},
    {tag("HEV1"), AV_CODEC_ID_HEVC},
    {tag("HVC1"), AV_CODEC_ID_HEVC},
    {tag("X265"), AV_CODEC_ID_HEVC},
    {tag("FMP4"), AV_CODEC_ID_MPEG4},
    {tag("DIVX"), AV_CODEC_ID_MPEG4},
    {tag("DX50"), AV_CODEC_ID_MPEG4},
    {tag("XVID"), AV_CODEC_ID_MPEG4},
    {tag("MP4S"), AV_CODEC_ID_MPEG4},
    {tag("M4S2"), AV_CODEC_ID_MPEG4},
    {tag("MP4V"), AV_CODEC_ID_MPEG4},
    {tag("DIV1"), AV_CODEC_ID_MPEG4},
    {tag("3IV2"), AV_CODEC_ID_MPEG4},
    {tag("RMP4"), AV_CODEC_ID_MPEG4},
    {tag("UMP4"), AV_CODEC_ID_MPEG4},
    {tag("SEDG"), AV_CODEC_ID_MPEG4},
    {tag("DIV3"), AV_CODEC_ID_MSMPEG4V3},
    {tag("MP43"), AV_CODEC_ID_MSMPEG4V3},
    {tag("MPG3"), AV_CODEC_ID_MSMPEG4V3},
    {tag("DIV4"), AV_CODEC_ID_MSMPEG4V3},
    {tag("DIV5"), AV_CODEC_ID_MSMPEG4V3},
    {tag("DIV6"), AV_CODEC_ID_MSMPEG4V3},
    {tag("AP41"), AV_CODEC_ID_MSMPEG4V3},
    {tag("COL1"), AV_CODEC_ID_MSMPEG4V3},
    {tag("MP42"), AV_CODEC_ID_MSMPEG4V2},
    {tag("DIV2"), AV_CODEC_ID_MSMPEG4V2},
    {tag("MPG4"), AV_CODEC_ID_MSMPEG4V1},
    {tag("MP41"), AV_CODEC_ID_MSMPEG4V1},
    {tag("WMV1"), AV_CODEC_ID_WMV1},
    {tag("WMV2"), AV_CODEC_ID_WMV2},
    {tag("WMV3"), AV_CODEC_ID_WMV3},
    {tag("WVC1"), AV_CODEC_ID_VC1},
    {tag("WMVA"), AV_CODEC_ID_VC1},
    {tag("H263"), AV_CODEC_ID_H263},
    {tag("U263"), AV_CODEC_ID_H263},
    {tag("S263"), AV_CODEC_ID_H263},
    {tag("I263"), AV_CODEC_ID_H263I},
    {tag("MPG1"), AV_CODEC_ID_MPEG1VIDEO},
    {tag("PIM1"), AV_CODEC_ID_MPEG1VIDEO},
    {tag("MPG2"), AV_CODEC_ID_MPEG2VIDEO},
    {tag("MPEG"), AV_CODEC_ID_MPEG2VIDEO},
    {tag("MMES"), AV_CODEC_ID_MPEG2VIDEO},
    {tag("DVSD"), AV_CODEC_ID_DVVIDEO},
    {tag("DVHD"), AV_CODEC_ID_DVVIDEO},
    {tag("DVSL"), AV_CODEC_ID_DVVIDEO},
    {tag("DV25"), AV_CODEC_ID_DVVIDEO},
    {tag("DV50"), AV_CODEC_ID_DVVIDEO},
    {tag("CDVC"), AV_CODEC_ID_DVVIDEO},
    {tag("HFYU"), AV_CODEC_ID_HUFFYUV},
    {tag("FFVH"), AV_CODEC_ID_FFVHUFF},
    {tag("FFV1"), AV_CODEC_ID_FFV1},
    {tag("CVID"), AV_CODEC_ID_CINEPAK},
    {tag("MSVC"), AV_CODEC_ID_MSVIDEO1},
    {tag("CRAM"), AV_CODEC_ID_MSVIDEO1},
    {tag("WHAM"), AV_CODEC_ID_MSVIDEO1},
    {tag("MRLE"), AV_CODEC_ID_MSRLE},
    {1, AV_CODEC_ID_MSRLE},
    {2, AV_CODEC_ID_MSRLE},
    {tag("MPNG"), AV_CODEC_ID_PNG},
    {tag("PNG1"), AV_CODEC_ID_PNG},
    {tag("PNG "), AV_CODEC_ID_PNG},
    {tag("MJ2C"), AV_CODEC_ID_JPEG2000},
    {tag("MJP2"), AV_CODEC_ID_JPEG2000},
    {tag("LJ2K"), AV_CODEC_ID_JPEG2000},
    {tag("VP80"), AV_CODEC_ID_VP8},
    {tag("VP90"), AV_CODEC_ID_VP9},
    {tag("AV01"), AV_CODEC_ID_AV1},
    {tag("TSCC"), AV_CODEC_ID_TSCC},
    {tag("ZMBV"), AV_CODEC_ID_ZMBV},
    {tag("CSCD"), AV_CODEC_ID_CSCD},
    {tag("IV31"), AV_CODEC_ID_INDEO3},
    {tag("IV32"), AV_CODEC_ID_INDEO3},
    {tag("IV41"), AV_CODEC_ID_INDEO4},
    {tag("IV50"), AV_CODEC_ID_INDEO5},
    {tag("LAGS"), AV_CODEC_ID_LAGARITH},
    {tag("MAGY"), AV_CODEC_ID_MAGICYUV},
    {tag("ULRA"), AV_CODEC_ID_UTVIDEO},
    {tag("ULRG"), AV_CODEC_ID_UTVIDEO},
    {tag("ULY0"), AV_CODEC_ID_UTVIDEO},
    {tag("ULY2"), AV_CODEC_ID_UTVIDEO},
    {tag("ULY4"), AV_CODEC_ID_UTVIDEO},
    {tag("ULH0"), AV_CODEC_ID_UTVIDEO},
    {tag("ULH2"), AV_CODEC_ID_UTVIDEO},
    {tag("ULH4"), AV_CODEC_ID_UTVIDEO},
    // Raw layouts the decoder does not convert itself; libavcodec's raw decoder knows them
    // by their code.
    {tag("YV16"), AV_CODEC_ID_RAWVIDEO},
    {tag("Y41P"), AV_CODEC_ID_RAWVIDEO},
    {tag("Y41B"), AV_CODEC_ID_RAWVIDEO},
    {tag("YVU9"), AV_CODEC_ID_RAWVIDEO},
    {tag("YUV9"), AV_CODEC_ID_RAWVIDEO},
    {tag("I422"), AV_CODEC_ID_RAWVIDEO},
    {tag("I444"), AV_CODEC_ID_RAWVIDEO},
    {tag("AYUV"), AV_CODEC_ID_RAWVIDEO},
    {tag("Y16 "), AV_CODEC_ID_RAWVIDEO},
};

AVCodecID codecOf(FOURCC fourcc)
{
    const FOURCC key = upperFourcc(fourcc);
    for (const CodecFourcc& c : kCodecFourccs)
        if (c.fourcc == key)
            return c.codec;
    return AV_CODEC_ID_NONE;
}

// Codec delay is a few frames at most; a decoder that has taken this many packets past
// the wanted one without producing it is not going to.
constexpr std::int32_t kMaxLookahead = 32;
constexpr std::size_t kMaxExtradata = std::size_t{1} << 24;
constexpr std::int64_t kNothingShown = std::numeric_limits<std::int64_t>::min();

// The scaler warns about the old full-range formats; it gets the plain format and the
// range separately instead.
AVPixelFormat withoutJpegRange(AVPixelFormat format, bool& fullRange)
{
    switch (format) {
    case AV_PIX_FMT_YUVJ420P: fullRange = true; return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P: fullRange = true; return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P: fullRange = true; return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P: fullRange = true; return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P: fullRange = true; return AV_PIX_FMT_YUV411P;
    default: return format;
    }
}

struct ScalerKey {
    int width = 0;
    int height = 0;
    int format = AV_PIX_FMT_NONE;
    int range = AVCOL_RANGE_UNSPECIFIED;
    int colorspace = AVCOL_SPC_UNSPECIFIED;
    bool operator==(const ScalerKey&) const = default;
};

class CodecDecoder final : public SampleDecoder {
public:
    CodecDecoder(const StoredPicture& picture, const SampleSource& source) : SampleDecoder(source), m_picture(picture)
    {
    }

    bool init(FOURCC fourcc);
    int outputBitCount() const override { return 24; }

protected:
    const BITMAPINFOHEADER* decode(std::int32_t position, const std::uint8_t* data, std::size_t size) override;

private:
    void restartAt(std::int32_t key);
    // Sends the packet of position; false when the codec cannot take packets any more.
    bool send(std::int32_t position, const std::uint8_t* data, std::size_t size);
    std::int64_t outputPosition(const AVFrame& frame);
    const BITMAPINFOHEADER* show(const AVFrame& frame, std::int64_t position);
    bool prepareScaler(const AVFrame& frame);

    StoredPicture m_picture;
    const FfmpegLibrary* m_ffmpeg = nullptr;
    CodecContextPtr m_codec;
    PacketPtr m_packet;
    FramePtr m_frame;
    SwsContextPtr m_sws;
    ScalerKey m_scalerKey;
    BottomUpScaler m_scaler;
    PackedBitmap m_bitmap;
    std::vector<std::uint8_t> m_read;

    // Where the codec stands: the next position to send (-1: flush before use), the
    // key frame it started from, and positions sent but not yet matched to a picture.
    std::int32_t m_nextSend = -1;
    std::int32_t m_runStart = 0;
    bool m_draining = false;
    std::deque<std::int32_t> m_sent;
    std::int64_t m_lastOutput = kNothingShown;
    std::int64_t m_shown = kNothingShown;
    // A picture that came out past the one asked for, kept for the next request.
    FramePtr m_pending;
    std::int64_t m_pendingPosition = kNothingShown;
};

bool CodecDecoder::init(FOURCC fourcc)
{
    const AVCodecID id = codecOf(fourcc);
    if (id == AV_CODEC_ID_NONE)
        return false;
    m_ffmpeg = ffmpeg();
    if (!m_ffmpeg)
        return false;
    const AVCodec* codec = m_ffmpeg->avcodec_find_decoder(id);
    if (!codec)
        return false;

    m_codec.reset(m_ffmpeg->avcodec_alloc_context3(codec));
    m_packet.reset(m_ffmpeg->av_packet_alloc());
    m_frame.reset(m_ffmpeg->av_frame_alloc());
    m_pending.reset(m_ffmpeg->av_frame_alloc());
    if (!m_codec || !m_packet || !m_frame || !m_pending)
        return false;

    // The header's size is only a hint to codecs whose bitstream carries its own; one that
    // libavcodec's size check would refuse (a damaged or hostile header claiming 18000 x 18000)
    // is left out, so the codec opens and the first picture decides the size.
    const std::uint64_t paddedPixels =
        (static_cast<std::uint64_t>(m_picture.width) + 128) * (static_cast<std::uint64_t>(m_picture.height) + 128);
    if (paddedPixels < static_cast<std::uint64_t>(std::numeric_limits<int>::max() / 8)) {
        m_codec->width = m_picture.width;
        m_codec->height = m_picture.height;
    }
    m_codec->codec_tag = fourcc;
    m_codec->bits_per_coded_sample = m_picture.bitCount;
    // Slice threads only: frame threads would add a delay of one frame a thread, which
    // every random access would have to decode through.
    m_codec->thread_count = 0;
    m_codec->thread_type = FF_THREAD_SLICE;
    if (!m_picture.extra.empty() && m_picture.extra.size() <= kMaxExtradata) {
        const std::size_t n = m_picture.extra.size();
        m_codec->extradata = static_cast<std::uint8_t*>(m_ffmpeg->av_mallocz(n + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!m_codec->extradata)
            return false;
        std::memcpy(m_codec->extradata, m_picture.extra.data(), n);
        m_codec->extradata_size = static_cast<int>(n);
    }
    return m_ffmpeg->avcodec_open2(m_codec.get(), codec, nullptr) >= 0;
}

void CodecDecoder::restartAt(std::int32_t key)
{
    m_ffmpeg->avcodec_flush_buffers(m_codec.get());
    m_ffmpeg->av_frame_unref(m_pending.get());
    m_pendingPosition = kNothingShown;
    m_sent.clear();
    m_nextSend = key;
    m_runStart = key;
    m_draining = false;
    m_lastOutput = kNothingShown;
}

bool CodecDecoder::send(std::int32_t position, const std::uint8_t* data, std::size_t size)
{
    if (size > static_cast<std::size_t>(std::numeric_limits<int>::max() - AV_INPUT_BUFFER_PADDING_SIZE))
        return true; // no codec takes such a packet; skip it like a damaged one
    // Not reference counted: the codec copies what it keeps, and data carries the
    // zeroed padding libavcodec's bit readers run into.
    m_ffmpeg->av_packet_unref(m_packet.get());
    m_packet->data = const_cast<std::uint8_t*>(data);
    m_packet->size = static_cast<int>(size);
    m_packet->pts = position;
    m_packet->dts = position;
    if (m_source.findSample(position, FIND_KEY | FIND_PREV) == position)
        m_packet->flags |= AV_PKT_FLAG_KEY;
    const int result = m_ffmpeg->avcodec_send_packet(m_codec.get(), m_packet.get());
    m_packet->data = nullptr;
    m_packet->size = 0;
    if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
        return false;
    // A damaged packet is dropped; the codec conceals what it can in the pictures after.
    if (result >= 0)
        m_sent.push_back(position);
    return true;
}

std::int64_t CodecDecoder::outputPosition(const AVFrame& frame)
{
    // Without reordering a picture carries the position of its own packet, which stays
    // right when a damaged packet yields nothing. With reordering, AVI keeps no display
    // times: the n-th picture out belongs to the n-th position sent.
    std::int64_t position;
    if (m_codec->has_b_frames == 0 && frame.pts != AV_NOPTS_VALUE) {
        position = frame.pts;
        while (!m_sent.empty() && m_sent.front() <= position)
            m_sent.pop_front();
    } else if (!m_sent.empty()) {
        position = m_sent.front();
        m_sent.pop_front();
    } else {
        position = m_lastOutput + 1;
    }
    if (position <= m_lastOutput)
        position = m_lastOutput + 1;
    m_lastOutput = position;
    return position;
}

const BITMAPINFOHEADER* CodecDecoder::decode(std::int32_t position, const std::uint8_t* data, std::size_t size)
{
    if (position == m_shown)
        return m_bitmap.header();
    if (m_pendingPosition == position) {
        m_pendingPosition = kNothingShown;
        const BITMAPINFOHEADER* shown = show(*m_pending, position);
        m_ffmpeg->av_frame_unref(m_pending.get());
        return shown;
    }

    if (m_pendingPosition < position) {
        m_ffmpeg->av_frame_unref(m_pending.get());
        m_pendingPosition = kNothingShown;
    }

    const std::int32_t first = m_source.start();
    const std::int32_t end = first + m_source.length();
    std::int32_t key = m_source.findSample(position, FIND_KEY | FIND_PREV);
    if (key < first || key > position)
        key = first; // no key frame flagged before it: the codec gets everything
    // With reordering, AVI stores no display times, so a picture's position is only its
    // count of pictures out since the start; after a key frame the codec may drop the
    // pictures that referenced the group before it, and the count is lost. Only a
    // decode from the start keeps it exact.
    if (m_codec->has_b_frames > 0)
        key = first;
    const bool continues = m_nextSend >= 0 && position >= m_runStart && m_lastOutput < position &&
                           m_pendingPosition < position && key < m_nextSend;
    if (!continues)
        restartAt(key);

    for (;;) {
        // A codec learns that it reorders only from the stream itself.
        if (m_codec->has_b_frames > 0 && m_runStart > first)
            restartAt(first);
        int received;
        while ((received = m_ffmpeg->avcodec_receive_frame(m_codec.get(), m_frame.get())) >= 0) {
            const std::int64_t at = outputPosition(*m_frame);
            if (at == position) {
                const BITMAPINFOHEADER* shown = show(*m_frame, position);
                m_ffmpeg->av_frame_unref(m_frame.get());
                return shown;
            }
            if (at > position) {
                // The codec produced nothing for the wanted packet; keep what it did
                // produce for the request that most likely follows.
                m_ffmpeg->av_frame_unref(m_pending.get());
                m_ffmpeg->av_frame_move_ref(m_pending.get(), m_frame.get());
                m_pendingPosition = at;
                return nullptr;
            }
            m_ffmpeg->av_frame_unref(m_frame.get());
        }
        if (received != AVERROR(EAGAIN)) {
            // Drained or broken: the codec takes nothing more until it is flushed.
            m_nextSend = -1;
            return nullptr;
        }
        if (m_draining) {
            m_nextSend = -1;
            return nullptr;
        }
        if (m_nextSend >= end) {
            // Pictures still held back for reordering come out when the codec is told
            // no more packets follow.
            m_ffmpeg->avcodec_send_packet(m_codec.get(), nullptr);
            m_draining = true;
            continue;
        }
        if (m_nextSend > position + kMaxLookahead)
            return nullptr;

        const std::int32_t next = m_nextSend;
        const std::uint8_t* bytes = data;
        std::size_t count = size;
        if (next != position) {
            const std::int64_t read = readPadded(next, m_read);
            if (read < 0) {
                m_nextSend = -1;
                return nullptr;
            }
            bytes = m_read.data();
            count = static_cast<std::size_t>(read);
        }
        if (count == 0) {
            ++m_nextSend; // a dropped frame has no packet
            continue;
        }
        if (!send(next, bytes, count)) {
            m_nextSend = -1;
            return nullptr;
        }
        ++m_nextSend;
    }
}

bool CodecDecoder::prepareScaler(const AVFrame& frame)
{
    bool fullRange = frame.color_range == AVCOL_RANGE_JPEG;
    const AVPixelFormat format = withoutJpegRange(static_cast<AVPixelFormat>(frame.format), fullRange);
    const ScalerKey key{frame.width, frame.height, format, fullRange ? AVCOL_RANGE_JPEG : frame.color_range,
                        frame.colorspace};
    if (m_sws && key == m_scalerKey)
        return true;
    m_scalerKey = {};
    m_sws.reset(m_ffmpeg->sws_getContext(frame.width, frame.height, format, frame.width, frame.height, AV_PIX_FMT_BGR24,
                                         kScalerFlags, nullptr, nullptr, nullptr));
    if (!m_sws)
        return false;

    // What the picture says about its colours overrides the scaler's defaults; what it
    // leaves open keeps them, as ffmpeg does.
    int* inverse = nullptr;
    int* table = nullptr;
    int srcRange = 0;
    int dstRange = 0;
    int brightness = 0;
    int contrast = 0;
    int saturation = 0;
    const bool yuv = !(m_ffmpeg->av_pix_fmt_desc_get(format)->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL));
    if (yuv && m_ffmpeg->sws_getColorspaceDetails(m_sws.get(), &inverse, &srcRange, &table, &dstRange, &brightness,
                                                  &contrast, &saturation) >= 0) {
        if (key.range == AVCOL_RANGE_JPEG || key.range == AVCOL_RANGE_MPEG)
            srcRange = key.range == AVCOL_RANGE_JPEG ? 1 : 0;
        const int* coefficients = m_ffmpeg->sws_getCoefficients(
            frame.colorspace == AVCOL_SPC_UNSPECIFIED ? SWS_CS_DEFAULT : frame.colorspace);
        m_ffmpeg->sws_setColorspaceDetails(m_sws.get(), coefficients, srcRange, table, dstRange, brightness, contrast,
                                           saturation);
    }
    m_scalerKey = key;
    return true;
}

const BITMAPINFOHEADER* CodecDecoder::show(const AVFrame& frame, std::int64_t position)
{
    m_shown = kNothingShown;
    if (frame.width <= 0 || frame.height <= 0 || frame.width > kMaxDimension || frame.height > kMaxDimension)
        return nullptr;
    if (!m_ffmpeg->av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format)))
        return nullptr;
    // The codec may decide on another size than the stream header announced.
    if (!m_bitmap.reset(frame.width, frame.height, 24) || !prepareScaler(frame))
        return nullptr;

    if (!m_scaler.run(m_sws.get(), frame.data, frame.linesize, m_bitmap))
        return nullptr;
    m_shown = position;
    return m_bitmap.header();
}

} // namespace

std::unique_ptr<FrameDecoder> makeCodecDecoder(const StoredPicture& picture, FOURCC fourcc, const SampleSource& source)
{
    auto decoder = std::make_unique<CodecDecoder>(picture, source);
    if (!decoder->init(fourcc))
        return nullptr;
    return decoder;
}

} // namespace kestro::avi
