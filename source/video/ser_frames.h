// The frames of a SER capture as the display modes show them: the sensor plane in 8 bits for
// the RAW modes, and the picture Normal shows (grey for one sample per pixel, colour for RGB and
// BGR). Samples are brought to 8 bits from the capture's real depth by scaleTo8, the one rule.
//
// Several SerFrames may read one SerReader on several threads at once (the frame scorer does);
// each has its own buffers for 16-bit rows.
#pragma once

#include "dib.h"
#include "ser_reader.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestro::video {

class SerFrames {
public:
    // threads: how many a 16-bit frame is read and scaled on (0: one per core). A caller that
    // reads frames on several threads already (the frame scorer) gives 1.
    explicit SerFrames(const ser::SerReader& reader, unsigned threads = 0) : m_reader(reader), m_threads(threads) {}

    // True when a frame is one sensor value per pixel (MONO, a Bayer or CMY mosaic): what the RAW
    // modes show and the scorer measures. RGB and BGR frames have no such plane.
    bool HasPlane() const { return m_reader.layout().planes == 1; }
    // The header of the Normal picture: width x height, bottom-up, rows padded; 8-bit grey for
    // one sample per pixel, 24-bit blue-green-red for RGB and BGR.
    BITMAPINFOHEADER NormalFormat() const;

    // The sensor plane of a frame in 8 bits, row y of the picture (from the top) at
    // firstRow + y * stride; a negative stride writes a bottom-up bitmap.
    ser::Status ReadPlane8(std::int32_t frame, std::uint8_t* firstRow, std::ptrdiff_t stride);
    // The Normal picture of a frame into the pixel rows of a bitmap of NormalFormat(). The
    // padding at the end of each row is left as it was.
    ser::Status ReadNormal(std::int32_t frame, std::uint8_t* pixels);

private:
    ser::Status ReadRows8(std::int32_t frame, std::uint8_t* firstRow, std::ptrdiff_t stride);

    const ser::SerReader& m_reader;
    unsigned m_threads;
    // A band of 16-bit rows per thread, kept between frames.
    std::vector<std::vector<std::uint16_t>> m_wide;
};

} // namespace kestro::video
