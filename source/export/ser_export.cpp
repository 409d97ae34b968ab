// Save As a SER file: the ticked frames as one SER capture, the format planetary stacking programs
// read best. In the RAW modes the file holds the stored sensor values untouched, at the depth the
// capture stores them, labelled with the pattern the user chose, so that a raw AVI capture becomes
// a Bayer SER the stacking program de-mosaics itself; in Normal it holds the picture as shown.
#include "bayer_pattern.h"
#include "dib.h"
#include "export_frames.h"
#include "export_report.h"
#include "ser_writer.h"
#include "video_source.h"

#include <cstring>
#include <optional>
#include <vector>

namespace {

using namespace kestro::exports;
namespace ser = kestro::ser;

// The colour id of the stored plane as the RAW modes export it: the pattern of the button pressed
// (which a Bayer SER capture pressed itself when it opened). A cyan, yellow and magenta mosaic is
// none of the four the buttons offer and keeps its own id. A MONO capture exported in RAW
// Y-channel stays MONO: a monochrome camera's frames labelled as a mosaic would be de-mosaiced into
// false colours; in RAW colour the user has said it is a mosaic, and of which pattern.
ser::ColorId RawColorId(const CVideoSource& source)
{
    if (const ser::Header* header = source.GetSerHeader()) {
        const ser::ColorInfo* color = ser::findColor(header->colorId);
        if (color && color->sampling == ser::Sampling::Cmy)
            return color->id;
        if (color && color->sampling == ser::Sampling::Mono && !source.m_bRawColour)
            return ser::ColorId::Mono;
    }
    const std::string_view sensor = kestro::bayer::patternFromCode(source.m_converter.GetPattern()).sensorName;
    for (const ser::ColorInfo& color : ser::colors())
        if (color.sampling == ser::Sampling::Bayer && sensor == color.name)
            return color.id;
    return ser::ColorId::Mono;
}

// What a SER source says beside its frames, kept in the export: who, with what, and the local
// time's distance from UTC. An AVI file says none of it.
void TakeSourceHeader(const CVideoSource& source, ser::WriteFormat& format)
{
    const ser::Header* header = source.GetSerHeader();
    if (!header)
        return;
    format.observer = header->observer;
    format.instrument = header->instrument;
    format.telescope = header->telescope;
    auto valid = [](std::int64_t ticks) { return ticks > 0 && ticks <= ser::kMaxTicks; };
    if (valid(header->dateTime) && valid(header->dateTimeUtc))
        format.localOffsetTicks = header->dateTime - header->dateTimeUtc;
}

// How a picture as Normal shows it goes into the file.
enum class PictureLayout {
    Grey,    // 8-bit with the grey table: its values are the grey levels, MONO
    Bgr,     // 24-bit: the bitmap's bytes are the file's BGR samples
    Bgra,    // 32-bit: BGR with the fourth byte dropped
    Palette, // 8-bit with a colour table of its own: BGR looked up
};

bool HasGreyTable(const BITMAPINFOHEADER& b)
{
    if (kestro::dib::tableEntries(b) != kestro::dib::kGreyTableEntries)
        return false;
    const RGBQUAD* table = kestro::dib::colourTable(b);
    for (std::size_t i = 0; i < kestro::dib::kGreyTableEntries; ++i)
        if (table[i].rgbBlue != i || table[i].rgbGreen != i || table[i].rgbRed != i)
            return false;
    return true;
}

std::optional<PictureLayout> LayoutOf(const BITMAPINFOHEADER& b)
{
    if (b.biCompression != BI_RGB || b.biWidth <= 0 || b.biHeight == 0)
        return std::nullopt;
    switch (b.biBitCount) {
    case 8: return HasGreyTable(b) ? PictureLayout::Grey : PictureLayout::Palette;
    case 24: return PictureLayout::Bgr;
    case 32: return PictureLayout::Bgra;
    default: return std::nullopt;
    }
}

// The signed distance from one picture row to the next one down.
std::ptrdiff_t DownStride(const BITMAPINFOHEADER& b)
{
    const auto stride = static_cast<std::ptrdiff_t>(kestro::dib::stride(b));
    return b.biHeight < 0 ? stride : -stride;
}

// A picture that cannot go into the file as it is, made BGR in `out`, rows top-down and unpadded.
void ToBgr(const BITMAPINFOHEADER& b, PictureLayout layout, std::vector<std::uint8_t>& out)
{
    const std::size_t width = static_cast<std::size_t>(b.biWidth);
    const std::size_t rows = kestro::dib::rows(b);
    out.resize(width * rows * 3);
    const RGBQUAD* table = kestro::dib::colourTable(b);
    const std::size_t entries = kestro::dib::tableEntries(b);
    for (std::size_t y = 0; y < rows; ++y) {
        const std::uint8_t* src = kestro::dib::pictureRow(b, y);
        std::uint8_t* dst = out.data() + y * width * 3;
        for (std::size_t x = 0; x < width; ++x, dst += 3) {
            if (layout == PictureLayout::Bgra) {
                std::memcpy(dst, src + 4 * x, 3);
                continue;
            }
            // An index past a short table has no colour: black, as viewers show it.
            const std::size_t index = src[x];
            const RGBQUAD c = index < entries ? table[index] : RGBQUAD{};
            dst[0] = c.rgbBlue;
            dst[1] = c.rgbGreen;
            dst[2] = c.rgbRed;
        }
    }
}

// The one SER file of an export being written, each failure recorded in the report with the file,
// the frame and the reason.
class CSerOutput {
public:
    CSerOutput(ExportRun& run) : m_run(run), m_writer(run.plan.names.Name(0)) {}

    bool Open(const ser::WriteFormat& format)
    {
        if (m_writer.open(format, m_run.plan.frames.size()))
            return true;
        m_run.report.Fail(messages::kSerCreate, Format(messages::kSerCreate.text, m_writer.target().c_str(),
                                                       DescribeSystemError(m_writer.error()).c_str()));
        return false;
    }

    bool Write(std::int32_t nFrame, const std::uint8_t* pFirstRow, std::ptrdiff_t nStride)
    {
        if (m_writer.writeFrame(pFirstRow, nStride, m_run.source.GetFrameTimeUtc(nFrame)))
            return true;
        m_run.report.Fail(messages::kSerWrite,
                          Format(messages::kSerWrite.text, static_cast<int>(nFrame), m_writer.target().c_str(),
                                 DescribeSystemError(m_writer.error()).c_str()));
        return false;
    }

    // Completes the file and puts it in place, unless the export stopped or failed before: then
    // the unfinished file goes with the writer.
    void Finish()
    {
        ExportReport& report = m_run.report;
        if (report.failure)
            return;
        if (m_writer.framesWritten() == 0) {
            m_run.FailNothingWritten();
            return;
        }
        const char* target = m_writer.target().c_str();
        if (!m_writer.complete()) {
            report.Fail(messages::kSerComplete,
                        Format(messages::kSerComplete.text, target, DescribeSystemError(m_writer.error()).c_str()));
            return;
        }
        if (!m_writer.commit()) {
            report.Fail(messages::kAviReplace,
                        Format(messages::kAviReplace.text, target, DescribeSystemError(m_writer.error()).c_str()));
            return;
        }
        report.nFramesWritten = m_writer.framesWritten();
        report.files.push_back(m_writer.target());
    }

private:
    ExportRun& m_run;
    ser::SerWriter m_writer;
};

// The stored planes of the frames taken, read without rendering them: RAW colour's de-mosaic is
// not what the file holds.
void WriteStoredPlanes(ExportRun& run)
{
    CVideoSource& source = run.source;
    ExportReport& report = run.report;
    const ser::Header* header = source.GetSerHeader();
    ser::WriteFormat format;
    format.colorId = RawColorId(source);
    format.width = source.GetPlaneWidth();
    format.height = source.GetPlaneHeight();
    format.pixelDepth = header ? header->pixelDepth : 8;
    TakeSourceHeader(source, format);
    const int nSampleBytes = source.GetPlaneSampleBytes();
    if (nSampleBytes != (format.pixelDepth > 8 ? 2 : 1)) {
        // The checks before the export refuse the RAW modes for captures without a sensor plane.
        report.Fail(messages::kRawRefused, Format(messages::kRawRefused.text, report.strCapture.c_str(),
                                                  DisplayModeName(source).c_str(), "it holds no sensor plane"));
        return;
    }
    CSerOutput output(run);
    if (!output.Open(format))
        return;
    const auto nRowBytes = static_cast<std::ptrdiff_t>(format.width) * nSampleBytes;
    std::vector<std::uint8_t> plane(static_cast<std::size_t>(nRowBytes) * static_cast<std::size_t>(format.height));
    for (std::int32_t i = 0; i < source.GetFrameCount(); ++i) {
        if (source.StopRequested()) {
            report.Stop(i);
            break;
        }
        if (run.pfnStep)
            run.pfnStep();
        if ((run.request.pfnTake && !run.request.pfnTake(i)) || source.FindDataFrame(i) != i)
            continue;
        if (!source.ReadPlaneRows(i, 0, format.height, plane.data(), nRowBytes)) {
            report.LeaveOut(i, run.scope.TakeLastMessage());
            continue;
        }
        if (!output.Write(i, plane.data(), nRowBytes))
            break;
    }
    output.Finish();
}

// The frames as Normal shows them, in 8 bits.
void WritePictures(ExportRun& run)
{
    const BITMAPINFOHEADER& first = run.format.Header();
    const std::optional<PictureLayout> layout = LayoutOf(first);
    if (!layout) {
        run.report.Fail(messages::kSerPicture,
                        Format(messages::kSerPicture.text, run.report.strCapture.c_str(),
                               DisplayModeName(run.source).c_str(), static_cast<int>(first.biBitCount)));
        return;
    }
    ser::WriteFormat format;
    format.colorId = *layout == PictureLayout::Grey ? ser::ColorId::Mono : ser::ColorId::BGR;
    format.width = first.biWidth;
    format.height = static_cast<std::int32_t>(kestro::dib::rows(first));
    format.pixelDepth = 8;
    TakeSourceHeader(run.source, format);
    CSerOutput output(run);
    if (!output.Open(format))
        return;
    std::vector<std::uint8_t> bgr;
    run.ForEachFrame([&](std::int32_t nFrame, const BITMAPINFOHEADER& bitmap) {
        if (*layout == PictureLayout::Grey || *layout == PictureLayout::Bgr)
            return output.Write(nFrame, kestro::dib::pictureRow(bitmap, 0), DownStride(bitmap));
        ToBgr(bitmap, *layout, bgr);
        return output.Write(nFrame, bgr.data(), static_cast<std::ptrdiff_t>(format.width) * 3);
    });
    output.Finish();
}

} // namespace

bool CVideoSource::SaveFramesAsSer(std::string strPath, FramePredicate pfnTake, ProgressCallback pfnStep,
                                   ExportReport* pReport)
{
    return RunExport(*this, {ExportKind::Ser, strPath, 1, pfnTake}, pfnStep, pReport, [&](ExportRun& run) {
        if (run.source.m_bRaw)
            WriteStoredPlanes(run);
        else
            WritePictures(run);
    });
}
