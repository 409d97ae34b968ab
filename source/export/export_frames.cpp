#include "export_frames.h"

#include "avi_write.h"
#include "dib.h"
#include "fits_sum.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include <sys/stat.h>

namespace kestro::exports {

CExportScope::CExportScope(CVideoSource& source) : m_source(source), m_nCurrent(source.GetCurrentPosition())
{
    m_source.HoldMessages(&m_held);
}

CExportScope::~CExportScope()
{
    m_source.HoldMessages(nullptr);
    if (m_nCurrent >= 0)
        m_source.GoToFrame(m_nCurrent);
}

std::string CExportScope::TakeLastMessage()
{
    std::string text = m_held.empty() ? std::string() : m_held.back().text;
    m_held.clear();
    return text;
}

void CFrameFormat::Take(const BITMAPINFOHEADER& bitmap)
{
    const auto* p = reinterpret_cast<const std::uint8_t*>(&bitmap);
    m_block.assign(p, p + kestro::dib::formatBytes(bitmap));
    // The stored header always says how many pixel bytes follow, as readers of the format block
    // expect, even where the bitmap left biSizeImage 0.
    auto* h = reinterpret_cast<BITMAPINFOHEADER*>(m_block.data());
    h->biSizeImage = static_cast<DWORD>(kestro::dib::imageBytes(bitmap));
}

bool CFrameFormat::Matches(const BITMAPINFOHEADER& b) const
{
    const BITMAPINFOHEADER& f = Header();
    return b.biWidth == f.biWidth && b.biHeight == f.biHeight && b.biBitCount == f.biBitCount &&
           b.biCompression == f.biCompression && kestro::dib::imageBytes(b) == f.biSizeImage &&
           kestro::dib::formatBytes(b) == m_block.size();
}

std::string DisplayModeName(const CVideoSource& source)
{
    if (!source.m_bRaw)
        return "Normal";
    return source.m_bRawColour ? "RAW colour" : "RAW Y-channel";
}

namespace {

// What stands at a path that is not a plain file, in words; empty for a file or nothing.
std::string NotAFile(const std::string& strPath)
{
    struct stat st {};
    if (::stat(strPath.c_str(), &st) != 0 || S_ISREG(st.st_mode))
        return {};
    if (S_ISDIR(st.st_mode))
        return "a folder";
    if (S_ISFIFO(st.st_mode))
        return "a named pipe (FIFO)";
    if (S_ISSOCK(st.st_mode))
        return "a socket";
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
        return "a device";
    return "not a regular file";
}

} // namespace

bool PrepareExport(CVideoSource& source, const ExportRequest& request, CExportScope& scope, ExportReport& report,
                   CFrameFormat& format, ExportPlan& plan)
{
    if (!source.IsOpen()) {
        report.Fail(messages::kNoVideo, messages::kNoVideo.text);
        return false;
    }
    const std::string name = std::filesystem::path(source.GetFileName()).filename().string();
    report.strCapture = name;
    plan = PlanExport(source, request.kind, request.strPath, request.nBlockSize, request.pfnTake);
    std::string why;
    if (source.m_bRaw && !source.CanShowRaw(source.m_bRawColour, &why)) {
        report.Fail(messages::kRawRefused,
                    Format(messages::kRawRefused.text, name.c_str(), DisplayModeName(source).c_str(), why.c_str()));
        return false;
    }
    if (request.kind == ExportKind::Fits) {
        if (request.nBlockSize == 0) {
            report.Fail(messages::kFitsNoBlock, messages::kFitsNoBlock.text);
            return false;
        }
        // A block can hold no more frames than are taken, so a block larger than the limit is
        // only refused when it could reach past it.
        const std::uint32_t nMost = MaxFramesInSum(source);
        if (std::min<std::uint64_t>(request.nBlockSize, plan.frames.size()) > nMost) {
            report.Fail(messages::kFitsHugeBlock,
                        Format(messages::kFitsHugeBlock.text, request.nBlockSize, SummedBits(source), nMost));
            return false;
        }
    }
    if (plan.frames.empty()) {
        report.Fail(messages::kNothingTaken, Format(messages::kNothingTaken.text, name.c_str()));
        return false;
    }
    if (const std::optional<std::string> input = FileThatIsAnInput(plan.files, {source.GetFileName()})) {
        report.Fail(messages::kOutputIsInput, Format(messages::kOutputIsInput.text, input->c_str(), name.c_str()));
        return false;
    }
    for (const std::string& file : plan.files) {
        if (const std::string what = NotAFile(file); !what.empty()) {
            report.Fail(messages::kOutputNotAFile, Format(messages::kOutputNotAFile.text, file.c_str(), what.c_str()));
            return false;
        }
    }
    // The first frame that holds data and renders fixes the format, ticked or not: frame 0 may
    // have been dropped, and a frame that cannot be read says nothing about the others.
    // FITS sums of the stored plane and a SER file of it in the RAW modes read planes, never the
    // picture of the display mode.
    const bool bPlane = (request.kind == ExportKind::Fits && SumsStoredPlane(source)) ||
                        (request.kind == ExportKind::Ser && source.m_bRaw);
    for (std::int32_t i = source.FindDataFrame(0); i >= 0; i = source.FindDataFrame(i + 1)) {
        if (bPlane) {
            // Rendering a picture here would only cost a frame's read and conversion (a de-mosaic
            // in RAW colour). A frame whose top row reads holds a plane, and what is written has
            // the plane's size, that of the grey picture showing it.
            const std::int32_t nWidth = source.GetPlaneWidth(), nHeight = source.GetPlaneHeight();
            std::vector<std::uint8_t> row(static_cast<std::size_t>(std::max(nWidth, 0)) *
                                          static_cast<std::size_t>(source.GetPlaneSampleBytes()));
            if (nHeight <= 0 || row.empty() ||
                !source.ReadPlaneRows(i, 0, 1, row.data(), static_cast<std::ptrdiff_t>(row.size())))
                continue;
            const BITMAPINFOHEADER grey = kestro::dib::header(nWidth, nHeight, 8);
            std::vector<std::uint8_t> block(kestro::dib::formatBytes(grey));
            std::memcpy(block.data(), &grey, sizeof grey);
            kestro::dib::fillGreyTable(block.data() + sizeof grey);
            format.Take(*reinterpret_cast<const BITMAPINFOHEADER*>(block.data()));
            scope.TakeLastMessage();
            return true;
        }
        if (source.GoToFrame(i) != i)
            continue;
        if (const BITMAPINFOHEADER* pBitmap = source.GetFrameBitmap()) {
            format.Take(*pBitmap);
            scope.TakeLastMessage();
            // RAW Y-channel and greyscale frames have no colour planes to split.
            if (request.kind == ExportKind::Rgb && pBitmap->biBitCount != 24) {
                report.Fail(messages::kNot24Bit, messages::kNot24Bit.text);
                return false;
            }
            return true;
        }
    }
    report.Fail(messages::kNothingToExport, Format(messages::kNothingToExport.text, name.c_str()));
    return false;
}

void ExportRun::FailNothingWritten()
{
    report.Fail(messages::kNothingWritten, Format(messages::kNothingWritten.text, static_cast<int>(plan.frames.size()),
                                                  report.strCapture.c_str()));
}

bool CheckExport(CVideoSource& source, const ExportRequest& request, ExportReport& report, ExportPlan* pPlan)
{
    report = {};
    ExportPlan plan;
    bool bReady = false;
    {
        CExportScope scope(source);
        CFrameFormat format;
        bReady = PrepareExport(source, request, scope, report, format, plan);
    }
    if (pPlan)
        *pPlan = std::move(plan);
    return bReady;
}

} // namespace kestro::exports
