// Save RGB channels: the ticked frames' blue, green and red planes as three 8-bit AVI files.
#include "avi_output.h"
#include "avi_write.h"
#include "channel_split.h"
#include "dib.h"
#include "export_frames.h"
#include "export_report.h"
#include "video_source.h"

#include <array>
#include <cstring>
#include <vector>

namespace {

using namespace kestro::exports;

constexpr DWORD kChannelRate = 2;
constexpr int kChannels = 3;

// One channel's frame bitmap: the 24-bit frame's picture in 8-bit grey, with the grey colour
// table, and rows padded to 4 bytes as every bitmap row is, the padding zero.
std::vector<std::uint8_t> ChannelBitmap(const BITMAPINFOHEADER& frame)
{
    const BITMAPINFOHEADER bih = kestro::dib::greyHeader(frame);
    std::vector<std::uint8_t> block(kestro::dib::formatBytes(bih) + bih.biSizeImage, 0);
    std::memcpy(block.data(), &bih, sizeof bih);
    kestro::dib::fillGreyTable(block.data() + sizeof bih);
    return block;
}

} // namespace

bool CVideoSource::SaveRgbChannels(std::string strPath, FramePredicate pfnTake, ProgressCallback pfnStep,
                                   ExportReport* pReport)
{
    return RunExport(*this, {ExportKind::Rgb, strPath, 1, pfnTake}, pfnStep, pReport, [&](ExportRun& run) {
        ExportReport& report = run.report;
        const BITMAPINFOHEADER& frame = run.format.Header();
        const std::size_t width = static_cast<std::size_t>(frame.biWidth);
        const std::size_t rows = kestro::dib::rows(frame);
        const std::size_t inStride = kestro::dib::stride(frame), outStride = kestro::dib::stride(frame.biWidth, 8);
        std::array<std::vector<std::uint8_t>, kChannels> bitmaps;
        for (auto& b : bitmaps)
            b = ChannelBitmap(frame);

        CAviWriteSession session;
        std::array<CAviOutput, kChannels> outputs{
            CAviOutput(run.plan.names.Name(0)), CAviOutput(run.plan.names.Name(1)), CAviOutput(run.plan.names.Name(2))};
        for (int c = 0; c < kChannels; ++c)
            if (!outputs[c].Open(kChannelRate, frame.biSizeImage,
                                 *reinterpret_cast<const BITMAPINFOHEADER*>(bitmaps[c].data()), report))
                return;
        std::array<std::uint8_t*, kChannels> planes;
        for (int c = 0; c < kChannels; ++c)
            planes[c] = kestro::dib::pixels(*reinterpret_cast<BITMAPINFOHEADER*>(bitmaps[c].data()));
        LONG nWritten = 0;
        run.ForEachFrame([&](std::int32_t nFrame, const BITMAPINFOHEADER& bitmap) {
            const std::uint8_t* in = kestro::dib::pixels(bitmap);
            for (std::size_t y = 0; y < rows; ++y)
                SplitChannels(in + y * inStride, width, planes[0] + y * outStride, planes[1] + y * outStride,
                              planes[2] + y * outStride);
            for (int c = 0; c < kChannels; ++c) {
                const auto* channel = reinterpret_cast<const BITMAPINFOHEADER*>(bitmaps[c].data());
                if (!outputs[c].Write(nWritten, *channel, nFrame, report))
                    return false;
            }
            ++nWritten;
            return true;
        });
        FinishAviOutputs(run, outputs, nWritten);
    });
}
