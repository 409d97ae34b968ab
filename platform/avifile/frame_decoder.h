// Turns the stored samples of a video stream into packed bitmaps: a BITMAPINFOHEADER,
// a 256-entry colour table for 8-bit frames, then bottom-up rows padded to 4 bytes.
#pragma once

#include "avifile.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kestro::avi {

// What the decoder needs from a stream: positions, searches and stored bytes.
class SampleSource {
public:
    virtual ~SampleSource() = default;
    virtual std::int32_t start() const = 0;
    virtual std::int32_t length() const = 0;
    // As AVIStreamFindSample (FIND_ANY / FIND_KEY with FIND_NEXT / FIND_PREV).
    virtual std::int32_t findSample(std::int32_t position, std::int32_t flags) const = 0;
    // Reads the stored bytes of the sample at position into out (resized to fit).
    virtual HRESULT readSample(std::int32_t position, std::vector<std::uint8_t>& out) const = 0;
    // Bytes of the largest stored sample: what the stream can really deliver, whatever its
    // format block claims.
    virtual std::uint64_t largestSample() const = 0;
};

class FrameDecoder {
public:
    virtual ~FrameDecoder() = default;
    // Null when the format cannot be decoded (unknown codec, bad dimensions, uncompressed
    // frames larger than any stored sample, ...); *pWhy then says which, in words.
    // `format` is the stream's strf block; the source outlives the decoder.
    static std::unique_ptr<FrameDecoder> create(const AVISTREAMINFOA& info, const std::uint8_t* format,
                                                std::size_t formatSize, const SampleSource& source,
                                                std::string* pWhy = nullptr);
    // The frame at position as a packed bitmap, valid until the next call; null on failure.
    virtual const BITMAPINFOHEADER* frame(std::int32_t position) = 0;
    // Bit depth of the frames this decoder delivers (8, 24 or 32).
    virtual int outputBitCount() const = 0;
};

} // namespace kestro::avi
