// Owning handles for the FFmpeg objects the decoders keep.
#pragma once

#include "ffmpeg_library.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace kestro::avi {

// Only objects FFmpeg made are ever held, so the library is loaded whenever one is released.
struct CodecContextDeleter {
    void operator()(AVCodecContext* c) const { ffmpeg()->avcodec_free_context(&c); }
};
struct FrameDeleter {
    void operator()(AVFrame* f) const { ffmpeg()->av_frame_free(&f); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { ffmpeg()->av_packet_free(&p); }
};
struct SwsContextDeleter {
    void operator()(SwsContext* s) const { ffmpeg()->sws_freeContext(s); }
};

using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using SwsContextPtr = std::unique_ptr<SwsContext, SwsContextDeleter>;

class PackedBitmap;

// The filter ffmpeg's command line converts with. Same size in and out, it only shapes
// chroma upsampling in the general converters (NV12, 4:2:2); I420 takes a fast path
// that ignores it. Anything else shows colour fringes where ffmpeg shows none.
constexpr int kScalerFlags = SWS_BICUBIC;

// Runs a scaler into a 24-bit packed bitmap. libswscale gets a top-down scratch picture
// with wide, aligned rows: its fast converters store whole groups of pixels past the
// last one, and with a negative or tight stride some of them leave pixels unconverted
// or overwrite a row already written. The rows are then copied bottom-up.
class BottomUpScaler {
public:
    bool run(SwsContext* scaler, const std::uint8_t* const planes[], const int strides[], PackedBitmap& bitmap);

    // The same for sources whose rows convert independently of the rows around them
    // (I420 on the fast path, grey): bands of kBandRows rows go through
    // `band`, the remainder through `tail`, each band copied out while still in cache.
    // About a quarter faster than run() on full-HD frames. rowShift[p] is plane p's
    // vertical subsampling as a shift.
    // Rows [firstRow, endRow) only, so that two scalers can share one picture; firstRow
    // is a multiple of kBandRows and endRow the picture's height or another multiple.
    static constexpr int kBandRows = 16;
    bool runBands(SwsContext* band, SwsContext* tail, const std::uint8_t* const planes[4], const int strides[4],
                  const int rowShift[4], PackedBitmap& bitmap, int firstRow, int endRow);

private:
    std::size_t prepare(const PackedBitmap& bitmap, int rows);

    std::vector<std::uint8_t> m_scratch;
};

} // namespace kestro::avi
