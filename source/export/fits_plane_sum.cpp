// The FITS sums made straight from the stored sensor plane, at the depth the file holds it, band
// by band.
#include "fits_sum.h"

#include "video_source.h"

#include <algorithm>

namespace kestro::exports {

namespace {

// The band of the sum and the rows read for it are kept within this many bytes: half the L2 cache
// of the cores Kestro runs on (1 MB and more), leaving room for the file system's copy and the
// rest of the process.
constexpr std::size_t kBandBytes = 512 * 1024;

} // namespace

bool SumsStoredPlane(const CVideoSource& source)
{
    if (source.GetPlaneSampleBytes() == 0)
        return false;
    if (source.m_bRaw)
        return !source.m_bRawColour;
    // Normal shows a SER capture of one sample a pixel as its plane in grey; an AVI file's Normal
    // picture is what its decoder makes of the frame.
    return source.GetCaptureFormat() == CaptureFormat::Ser;
}

int SummedBits(const CVideoSource& source)
{
    return SumsStoredPlane(source) && source.GetPlaneSampleBytes() == 2 ? 16 : 8;
}

std::uint32_t MaxFramesInSum(const CVideoSource& source)
{
    return SummedBits(source) == 16 ? kMaxFramesInSum16 : kMaxFramesInSum;
}

CPlaneSummer::CPlaneSummer(CVideoSource& source, std::int32_t width, std::int32_t height, int sampleBytes)
    : m_source(source), m_nWidth(std::max(width, 0)), m_nHeight(std::max(height, 0)), m_nSampleBytes(sampleBytes)
{
    const std::size_t rowBytes = static_cast<std::size_t>(m_nWidth) * (sizeof(std::uint32_t) + m_nSampleBytes);
    m_nBandRows = static_cast<std::int32_t>(
        std::clamp<std::size_t>(kBandBytes / std::max<std::size_t>(rowBytes, 1), 1, std::max(m_nHeight, 1)));
    const std::size_t bandBytes = static_cast<std::size_t>(m_nBandRows) * m_nWidth * m_nSampleBytes;
    m_rows.resize((bandBytes + 1) / 2);
}

bool CPlaneSummer::AddBand(std::int32_t frame, std::int32_t firstRow, std::int32_t rows, CSumImage& sum)
{
    auto* bytes = reinterpret_cast<std::uint8_t*>(m_rows.data());
    const std::size_t width = static_cast<std::size_t>(m_nWidth);
    if (!m_source.ReadPlaneRows(frame, firstRow, rows, bytes, static_cast<std::ptrdiff_t>(width) * m_nSampleBytes))
        return false;
    std::uint32_t* out = sum.values.data() + static_cast<std::size_t>(firstRow) * width;
    const std::size_t n = static_cast<std::size_t>(rows) * width;
    if (m_nSampleBytes == 2)
        AddRow(out, m_rows.data(), n);
    else
        AddRow(out, bytes, n);
    return true;
}

CPlaneSummer::Outcome CPlaneSummer::SumFrames(const std::vector<std::int32_t>& frames, CSumImage& sum,
                                              const std::function<void(std::int32_t)>& unreadable,
                                              const std::function<void(std::int32_t, std::int32_t)>& bandDone)
{
    std::vector<bool> leftOut(frames.size(), false);
    const std::int32_t bands = (m_nHeight + m_nBandRows - 1) / m_nBandRows;
    // Cleared once here; the sums of a block of 1080p frames are 8 MB, whose zeroing shows.
    if (sum.nFrames != 0)
        sum.Clear();
    for (std::int32_t band = 0; band < bands; ++band) {
        const std::int32_t firstRow = band * m_nBandRows;
        const std::int32_t rows = std::min(m_nBandRows, m_nHeight - firstRow);
        bool redo = false;
        for (std::size_t k = 0; k < frames.size(); ++k) {
            if (leftOut[k])
                continue;
            if (m_source.StopRequested()) {
                sum.Clear(); // no half sum is left for the next caller to add to
                return Outcome::Stopped;
            }
            if (AddBand(frames[k], firstRow, rows, sum))
                continue;
            leftOut[k] = true;
            if (unreadable)
                unreadable(frames[k]);
            // Its rows above this band are in the sum already: the bands done are done again
            // without it. Failures are rare, and each redo leaves one more frame out.
            redo = redo || band > 0;
        }
        if (redo) {
            std::fill(sum.values.begin(), sum.values.end(), 0u);
            band = -1;
            continue;
        }
        if (bandDone)
            bandDone(band, bands);
    }
    for (std::size_t k = 0; k < frames.size(); ++k) {
        if (leftOut[k])
            continue;
        if (sum.nFrames++ == 0)
            sum.nFirstFrame = frames[k];
        sum.nLastFrame = frames[k];
    }
    return Outcome::Summed;
}

} // namespace kestro::exports
