// Export Fits Frames: the ticked frames summed in blocks, each block's sum saved as one FITS image
// through the FITS library. The values summed are the stored sensor values where the display mode
// shows the stored plane (at the depth the file holds them), the 8-bit grey picture elsewhere.
#include "bayer_pattern.h"
#include "dib.h"
#include "export_frames.h"
#include "export_names.h"
#include "export_report.h"
#include "fits_sum.h"
#include "kxfits.h"
#include "ser_format.h"
#include "video_source.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <optional>
#include <vector>

#ifndef KESTRO_VERSION
#define KESTRO_VERSION ""
#endif

void CSumImage::Reset(std::int32_t width, std::int32_t height)
{
    nWidth = width;
    nHeight = height;
    values.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
    Clear();
}

void CSumImage::Clear()
{
    std::fill(values.begin(), values.end(), 0u);
    nFrames = 0;
    nFirstFrame = nLastFrame = -1;
}

namespace kestro::exports {

bool AddGreyBitmap(CSumImage& sum, const BITMAPINFOHEADER& grey)
{
    const std::size_t rows = kestro::dib::rows(grey);
    if (grey.biBitCount != 8 || grey.biWidth != sum.nWidth || rows != static_cast<std::size_t>(sum.nHeight))
        return false;
    const std::size_t width = static_cast<std::size_t>(sum.nWidth);
    // The sum is kept top row first, as the FITS writer takes it.
    for (std::size_t y = 0; y < rows; ++y)
        AddRow(sum.values.data() + y * width, kestro::dib::pictureRow(grey, y), width);
    return true;
}

} // namespace kestro::exports

using namespace kestro::exports;

bool CVideoSource::AddFrameToSum(CSumImage& sum)
{
    // A SER capture's plane is summed as the file holds it, as the export sums it. An AVI file's
    // plane is 8-bit, and RAW Y-channel's picture holds it as stored.
    if (m_pSer && SumsStoredPlane(*this)) {
        const std::int32_t width = GetFrameWidth(), height = GetFrameHeight();
        if (m_lCurrent < 0 || sum.nWidth != width || sum.nHeight != height)
            return false;
        const int bytes = GetPlaneSampleBytes();
        const std::size_t samples = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
        std::vector<std::uint16_t> plane((samples * static_cast<std::size_t>(bytes) + 1) / 2);
        auto* first = reinterpret_cast<std::uint8_t*>(plane.data());
        if (!ReadPlaneRows(m_lCurrent, 0, height, first, static_cast<std::ptrdiff_t>(width) * bytes))
            return false;
        if (bytes == 2)
            AddRow(sum.values.data(), plane.data(), samples);
        else
            AddRow(sum.values.data(), first, samples);
        if (sum.nFrames++ == 0)
            sum.nFirstFrame = m_lCurrent;
        sum.nLastFrame = m_lCurrent;
        return true;
    }
    const BITMAPINFOHEADER* pBitmap = GetFrameBitmap();
    return pBitmap && AddFrameToSum(sum, *pBitmap);
}

// Adds the frame in grey: the luminance of colour frames, the sensor values of RAW Y-channel.
bool CVideoSource::AddFrameToSum(CSumImage& sum, const BITMAPINFOHEADER& bitmap)
{
    const BITMAPINFOHEADER* grey = MakeGreyscale(&bitmap);
    if (!grey || !AddGreyBitmap(sum, *grey))
        return false;
    if (sum.nFrames++ == 0)
        sum.nFirstFrame = GetCurrentPosition();
    sum.nLastFrame = GetCurrentPosition();
    return true;
}

bool CVideoSource::SaveFitsFile(const CSumImage& sum, std::string strName, std::string* pError)
{
    kxFitsFile file;
    file.params().set_params(16, 2, sum.nWidth, sum.nHeight);
    kxFitsFile::saveOptions options;
    options.version = KESTRO_VERSION;
    options.add("NCOMBINE", std::int64_t{sum.nFrames}, "frames summed into this image");
    options.add("SRCFILE", std::filesystem::path(m_strFileName).filename().string(), "capture the frames came from");
    if (sum.nFrames > 0) {
        options.add("FRAME1", std::int64_t{sum.nFirstFrame}, "first frame summed (0-based)");
        options.add("FRAMEN", std::int64_t{sum.nLastFrame}, "last frame summed (0-based)");
        // Only a time the capture holds: a guessed one would mislead whoever aligns the sums in
        // time (a planet's rotation, say). FITS writes dates without a zone letter; UTC is its
        // default time scale.
        if (const std::optional<std::int64_t> ticks = GetFrameTimeUtc(sum.nFirstFrame)) {
            std::string when = kestro::ser::formatIso8601(*ticks);
            if (!when.empty() && when.back() == 'Z')
                when.pop_back();
            if (!when.empty())
                options.add("DATE-OBS", when, "UTC time of the first frame summed");
        }
    }
    options.add("DISPMODE", DisplayModeName(*this) + (m_bGreyscale ? ", greyscale" : ""), "display mode summed");
    if (m_bRaw && !m_bRawColour) {
        // The sums are still a mosaic; stacking programs de-mosaic it when told its layout, named
        // from the picture's top-left as shown, whatever order the rows are stored in.
        options.add("BAYERPAT", kestro::bayer::patternFromCode(m_converter.GetPattern()).sensorName,
                    "Bayer pattern at the top-left, read top-down");
        options.add("XBAYROFF", std::int64_t{0}, "Bayer pattern offset in x");
        options.add("YBAYROFF", std::int64_t{0}, "Bayer pattern offset in y");
    }
    const bool bSaved = file.saveToFile(strName + kFitsExtension, sum.values.data(), &options);
    if (!bSaved && pError)
        *pError = file.lastError();
    return bSaved;
}

namespace {

// The blocks of one FITS export as they are saved: the sum of the block under way, its number,
// and the files saved so far.
class CFitsBlocks {
public:
    CFitsBlocks(CVideoSource& source, ExportRun& run, std::int32_t width, std::int32_t height)
        : m_source(source), m_run(run)
    {
        m_sum.Reset(width, height);
    }

    CSumImage& Sum() { return m_sum; }
    std::int32_t Files() const { return m_nFiles; }

    // Saves the sum as the next file, frames nFirst to nLast (those counted in the block, summed
    // or not), and clears it. A block whose every frame was left out would be a file of zeros that
    // a stacking program takes for a frame of black sky: its number stays unused instead, so that
    // each file keeps the block it always holds. False, recorded, when the file cannot be saved.
    bool Save(std::int32_t nFirst, std::int32_t nLast)
    {
        const std::string file = m_run.plan.names.Name(m_nBlock++);
        if (m_sum.nFrames == 0)
            return true;
        std::string error;
        if (!m_source.SaveFitsFile(m_sum, file.substr(0, file.size() - std::strlen(kFitsExtension)), &error)) {
            m_run.report.Fail(messages::kFitsSave,
                              Format(messages::kFitsSave.text, static_cast<int>(nFirst), static_cast<int>(nLast),
                                     error.c_str(), KeptFiles(m_nFiles, "saved").c_str()));
            return false;
        }
        ++m_nFiles;
        m_run.report.files.push_back(file);
        m_sum.Clear();
        return true;
    }

private:
    CVideoSource& m_source;
    ExportRun& m_run;
    CSumImage m_sum;
    std::int32_t m_nBlock = 0, m_nFiles = 0;
};

// The sums of the picture the display mode renders, in grey, frame after frame: addFrame(sum,
// bitmap) adds one.
template <class AddFrame>
void SumPictures(ExportRun& run, std::uint32_t nBlockSize, CFitsBlocks& blocks, AddFrame&& addFrame)
{
    std::uint32_t nCounted = 0; // frames counted in this block, summed or not
    std::int32_t nFirstOfBlock = -1, nLast = -1;
    // A frame without a picture adds nothing but still counts towards its block, so that the
    // blocks keep the frames they would have had.
    auto count = [&](std::int32_t nFrame) {
        if (nCounted++ == 0)
            nFirstOfBlock = nFrame;
        nLast = nFrame;
        if (nCounted < nBlockSize)
            return true;
        nCounted = 0;
        return blocks.Save(nFirstOfBlock, nLast);
    };
    run.ForEachFrame(
        [&](std::int32_t nFrame, const BITMAPINFOHEADER& bitmap) {
            if (addFrame(blocks.Sum(), bitmap))
                ++run.report.nFramesWritten;
            else
                run.report.LeaveOut(nFrame, run.scope.TakeLastMessage());
            return count(nFrame);
        },
        count);
    if (!run.report.failure && nCounted > 0)
        blocks.Save(nFirstOfBlock, nLast);
}

// The sums of the stored plane, a block at a time, each band by band (CPlaneSummer). The same
// frames go into the same blocks as above, and the progress is stepped once per frame index, in
// order, spread over the bands of each block.
void SumPlanes(CVideoSource& source, ExportRun& run, std::uint32_t nBlockSize, CFitsBlocks& blocks)
{
    CSumImage& sum = blocks.Sum();
    CPlaneSummer summer(source, sum.nWidth, sum.nHeight, source.GetPlaneSampleBytes());
    const FramePredicate& pfnTake = run.request.pfnTake;
    const std::int32_t nCount = source.GetFrameCount();
    std::int32_t nStepped = 0; // frame indices stepped so far
    auto stepTo = [&](std::int64_t nEnd) {
        for (; nStepped < nEnd; ++nStepped)
            if (run.pfnStep)
                run.pfnStep();
    };
    std::vector<std::int32_t> frames;
    for (std::int32_t i = 0; i < nCount;) {
        if (source.StopRequested()) {
            run.report.Stop(i);
            return;
        }
        // The block: the next nBlockSize frames taken that hold data, as the frame walk finds them.
        frames.clear();
        std::int32_t nEnd = i;
        for (; nEnd < nCount && frames.size() < nBlockSize; ++nEnd)
            if ((!pfnTake || pfnTake(nEnd)) && source.FindDataFrame(nEnd) == nEnd)
                frames.push_back(nEnd);
        if (frames.empty()) {
            stepTo(nEnd);
            break;
        }
        const std::int32_t nBegin = i;
        const CPlaneSummer::Outcome outcome = summer.SumFrames(
            frames, sum, [&](std::int32_t nFrame) { run.report.LeaveOut(nFrame, run.scope.TakeLastMessage()); },
            [&](std::int32_t band, std::int32_t bands) {
                stepTo(nBegin + std::int64_t{nEnd - nBegin} * (band + 1) / bands);
            });
        if (outcome == CPlaneSummer::Outcome::Stopped) {
            // The block under way is dropped whole: the files saved hold the frames before it.
            run.report.Stop(nBegin);
            return;
        }
        stepTo(nEnd);
        run.report.nFramesWritten += sum.nFrames;
        if (!blocks.Save(frames.front(), frames.back()))
            return;
        i = nEnd;
    }
}

} // namespace

bool CVideoSource::SaveFitsBlocks(std::string strPath, std::uint32_t nBlockSize, FramePredicate pfnTake,
                                  ProgressCallback pfnStep, ExportReport* pReport)
{
    return RunExport(*this, {ExportKind::Fits, strPath, nBlockSize, pfnTake}, pfnStep, pReport, [&](ExportRun& run) {
        // The sum takes the size of the pictures summed, which in RAW colour with the library's
        // algorithms is smaller than the stream's frame rectangle. The stored plane has the size
        // of the grey pictures that show it.
        const BITMAPINFOHEADER& first = run.format.Header();
        CFitsBlocks blocks(*this, run, first.biWidth, static_cast<std::int32_t>(kestro::dib::rows(first)));
        if (SumsStoredPlane(*this))
            SumPlanes(*this, run, nBlockSize, blocks);
        else
            SumPictures(run, nBlockSize, blocks,
                        [this](CSumImage& sum, const BITMAPINFOHEADER& bitmap) { return AddFrameToSum(sum, bitmap); });
        if (blocks.Files() == 0)
            run.FailNothingWritten();
    });
}
