// Export Fits Frames: the ticked frames summed, as 8-bit grey values, in blocks, each block's sum
// saved as one FITS image through the FITS library.
#include "bayer_pattern.h"
#include "dib.h"
#include "export_frames.h"
#include "export_names.h"
#include "export_report.h"
#include "fits_sum.h"
#include "kxfits.h"
#include "video_source.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

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

bool CVideoSource::SaveFitsBlocks(std::string strPath, std::uint32_t nBlockSize, FramePredicate pfnTake,
                                  ProgressCallback pfnStep, ExportReport* pReport)
{
    return RunExport(*this, {ExportKind::Fits, strPath, nBlockSize, pfnTake}, pfnStep, pReport, [&](ExportRun& run) {
        ExportReport& report = run.report;
        // The sum takes the size of the pictures summed, which in RAW colour with the library's
        // algorithms is smaller than the stream's frame rectangle.
        const BITMAPINFOHEADER& first = run.format.Header();
        CSumImage sum;
        sum.Reset(first.biWidth, static_cast<std::int32_t>(kestro::dib::rows(first)));
        std::uint32_t nCounted = 0; // frames counted in this block, summed or not
        std::int32_t nBlock = 0, nFiles = 0, nFirstOfBlock = -1, nLast = -1;
        auto saveBlock = [&] {
            // A block whose every frame was left out would be a file of zeros that a stacking
            // program takes for a frame of black sky: its number stays unused instead, so that
            // each file keeps the block it always holds.
            const std::string file = run.plan.names.Name(nBlock++);
            nCounted = 0;
            if (sum.nFrames == 0)
                return true;
            std::string error;
            if (!SaveFitsFile(sum, file.substr(0, file.size() - std::strlen(kFitsExtension)), &error)) {
                report.Fail(messages::kFitsSave,
                            Format(messages::kFitsSave.text, static_cast<int>(nFirstOfBlock), static_cast<int>(nLast),
                                   error.c_str(), KeptFiles(nFiles, "saved").c_str()));
                return false;
            }
            ++nFiles;
            report.files.push_back(file);
            sum.Clear();
            return true;
        };
        // A frame without a picture adds nothing but still counts towards its block, so that the
        // blocks keep the frames they would have had.
        auto count = [&](std::int32_t nFrame) {
            if (nCounted++ == 0)
                nFirstOfBlock = nFrame;
            nLast = nFrame;
            return nCounted < nBlockSize || saveBlock();
        };
        run.ForEachFrame(
            [&](std::int32_t nFrame, const BITMAPINFOHEADER& bitmap) {
                if (AddFrameToSum(sum, bitmap))
                    ++report.nFramesWritten;
                else
                    report.LeaveOut(nFrame, run.scope.TakeLastMessage());
                return count(nFrame);
            },
            count);
        if (!report.failure && nCounted > 0)
            saveBlock();
        if (nFiles == 0)
            run.FailNothingWritten();
    });
}
