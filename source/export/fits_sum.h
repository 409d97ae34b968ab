// The sum image of the FITS export and the loop that adds a grey frame to it.
#pragma once

#include "avifile.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class CVideoSource;

// width x height sums of 8- or 16-bit values, the picture's top row first (index y * width + x, y = 0 at
// the top), with what the FITS header says of them.
struct CSumImage {
    std::int32_t nWidth = 0;
    std::int32_t nHeight = 0;
    std::vector<std::uint32_t> values;
    // How many frames were added, and the first and last of them (source frame numbers).
    std::int32_t nFrames = 0;
    std::int32_t nFirstFrame = -1;
    std::int32_t nLastFrame = -1;

    void Reset(std::int32_t width, std::int32_t height);
    void Clear();
};

namespace kestro::exports {

// The largest number of 8-bit values whose sum a 32-bit value always holds (255 x 16,843,009 =
// 2^32 - 1): a block of more frames could wrap.
inline constexpr std::uint32_t kMaxFramesInSum = 16843009;
// The same for 16-bit values (65535 x 65,537 = 2^32 - 1). The container's range counts, not the
// depth the data seem to use: one frame brighter than those sampled would wrap the sum.
inline constexpr std::uint32_t kMaxFramesInSum16 = 65537;

// Whether the sums are made of the stored sensor plane as the file holds it, at full depth: where
// the grey picture summed is that plane (RAW Y-channel, and Normal of a SER capture of one sample
// a pixel, which shows its plane in grey). Elsewhere the sums are of the 8-bit grey picture.
bool SumsStoredPlane(const CVideoSource& source);
// The largest block whose sums cannot wrap, for the values the display mode in force sums.
std::uint32_t MaxFramesInSum(const CVideoSource& source);
// The bits of the values summed: 8, or 16 for a stored plane of 2-byte samples.
int SummedBits(const CVideoSource& source);

// Adds an 8-bit bitmap of the sum's size, bottom-up as bitmaps are, to the sum, top row first.
// False, adding nothing, when it is not 8-bit or not the sum's size.
bool AddGreyBitmap(CSumImage& sum, const BITMAPINFOHEADER& grey);

// out[k] += in[k] for k < n: the hot loop, vectorised.
void AddRow(std::uint32_t* out, const std::uint8_t* in, std::size_t n);
void AddRow(std::uint32_t* out, const std::uint16_t* in, std::size_t n);

// Sums frames of the stored plane into a CSumImage band by band: for each band of rows, every
// frame's rows of that band are read and added while the band of the sum stays in the core's
// cache. Reading whole frames and adding them afterwards would stream the 8 MB of a 1080p sum
// through memory once per frame, which costs more than the read itself.
class CPlaneSummer {
public:
    // width x height: the plane's size, which the sum has; sampleBytes 1 or 2.
    CPlaneSummer(CVideoSource& source, std::int32_t width, std::int32_t height, int sampleBytes);

    enum class Outcome { Summed, Stopped };
    // Adds the frames (ascending) to the sum, cleared first unless it holds no frame (it is then
    // all zeros, as Reset and Clear leave it), then records in it how many were added
    // and the first and last. The bands are shared out among the cores. A frame that cannot be
    // read in any band is left out wholly, not only from that band: the block is summed again
    // without it. unreadable(frame) is called once for it, on the calling thread, while the video
    // source's message about it is the last one held. bandDone(done, bands) is called on the
    // calling thread after bands it finished, done counting the bands finished so far less one
    // (and counting again when the block is summed again), and once more for the last band at the
    // end. Stops before the next read once the source is asked to stop, and at the end when it was
    // asked to while the progress was shown; the sum is then cleared.
    Outcome SumFrames(const std::vector<std::int32_t>& frames, CSumImage& sum,
                      const std::function<void(std::int32_t)>& unreadable,
                      const std::function<void(std::int32_t, std::int32_t)>& bandDone);

    std::int32_t BandRows() const { return m_nBandRows; }

private:
    CVideoSource& m_source;
    std::int32_t m_nWidth, m_nHeight;
    int m_nSampleBytes;
    std::int32_t m_nBandRows;
};

} // namespace kestro::exports
