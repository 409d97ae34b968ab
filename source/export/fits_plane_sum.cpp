// The FITS sums made straight from the stored sensor plane, at the depth the file holds it, band
// by band.
#include "fits_sum.h"

#include "video_source.h"

#include "parallel_for.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <utility>

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
}

CPlaneSummer::Outcome CPlaneSummer::SumFrames(const std::vector<std::int32_t>& frames, CSumImage& sum,
                                              const std::function<void(std::int32_t)>& unreadable,
                                              const std::function<void(std::int32_t, std::int32_t)>& bandDone)
{
    const std::int32_t bands = (m_nHeight + m_nBandRows - 1) / m_nBandRows;
    const std::size_t width = static_cast<std::size_t>(m_nWidth);
    const std::size_t bandSamples = static_cast<std::size_t>(m_nBandRows) * width;
    const auto rowStride = static_cast<std::ptrdiff_t>(width) * m_nSampleBytes;
    std::vector<char> leftOut(frames.size(), 0);
    // Cleared once here; the sums of a block of 1080p frames are 8 MB, whose zeroing shows.
    if (sum.nFrames != 0)
        sum.Clear();
    for (;;) {
        // The bands are shared out among the cores: each adds every frame's rows of its band to
        // its own rows of the sum, so the read of one band and the adding of another overlap,
        // and neither waits for the other. The reads tell no one from the helper threads; what
        // failed is told here afterwards, in frame order.
        std::vector<std::vector<std::pair<std::size_t, CVideoSource::ReadFailure>>> failures;
        std::mutex failuresMutex;
        std::atomic<bool> stopped{false};
        std::atomic<std::int32_t> bandsDone{0};
        parallel::onThreads(static_cast<std::size_t>(bands), 1, 0, [&](parallel::Share& share, unsigned worker) {
            std::vector<std::uint16_t> rows((bandSamples * m_nSampleBytes + 1) / 2);
            auto* bytes = reinterpret_cast<std::uint8_t*>(rows.data());
            std::vector<std::pair<std::size_t, CVideoSource::ReadFailure>> failed;
            for (parallel::Range range; share.next(range);) {
                for (std::size_t band = range.begin; band < range.end; ++band) {
                    const auto firstRow = static_cast<std::int32_t>(band) * m_nBandRows;
                    const std::int32_t n = std::min(m_nBandRows, m_nHeight - firstRow);
                    std::uint32_t* out = sum.values.data() + static_cast<std::size_t>(firstRow) * width;
                    const std::size_t samples = static_cast<std::size_t>(n) * width;
                    for (std::size_t k = 0; k < frames.size(); ++k) {
                        if (leftOut[k])
                            continue;
                        if (m_source.StopRequested()) {
                            stopped = true;
                            share.stop();
                            return;
                        }
                        CVideoSource::ReadFailure failure;
                        if (!m_source.ReadPlaneRows(frames[k], firstRow, n, bytes, rowStride, &failure)) {
                            failed.emplace_back(k, std::move(failure));
                            continue;
                        }
                        if (m_nSampleBytes == 2)
                            AddRow(out, rows.data(), samples);
                        else
                            AddRow(out, bytes, samples);
                    }
                    const std::int32_t done = ++bandsDone;
                    // Progress is the calling thread's to show.
                    if (worker == 0 && bandDone)
                        bandDone(done - 1, bands);
                }
            }
            std::lock_guard lock(failuresMutex);
            failures.push_back(std::move(failed));
        });
        if (stopped) {
            sum.Clear(); // no half sum is left for the next caller to add to
            return Outcome::Stopped;
        }
        std::vector<std::pair<std::size_t, CVideoSource::ReadFailure>> failed;
        for (auto& list : failures)
            for (auto& f : list)
                failed.push_back(std::move(f));
        std::sort(failed.begin(), failed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        bool newlyLeftOut = false;
        for (const auto& [k, failure] : failed) {
            if (leftOut[k])
                continue; // another band of the same frame failed too: told once
            leftOut[k] = 1;
            newlyLeftOut = true;
            m_source.TellReadFailure(frames[k], failure);
            if (unreadable)
                unreadable(frames[k]);
        }
        if (!newlyLeftOut)
            break;
        // The frames left out may be in the sum in the bands where they did read: the block is
        // summed again without them. Failures are rare.
        std::fill(sum.values.begin(), sum.values.end(), 0u);
    }
    // The helper threads may have finished the last bands: the block's progress is complete
    // here, and a stop asked for while it was shown drops the block, as one asked for during the
    // reads does, whichever thread read last.
    if (bandDone)
        bandDone(bands - 1, bands);
    if (m_source.StopRequested()) {
        sum.Clear();
        return Outcome::Stopped;
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
