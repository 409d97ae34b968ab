#include "export_frames.h"

#include "avi_write.h"

#include <cstring>
#include <filesystem>

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
    m_block.assign(p, p + DibFormatBytes(bitmap));
    // The stored header always says how many pixel bytes follow, as readers of the format block
    // expect, even where the bitmap left biSizeImage 0.
    auto* h = reinterpret_cast<BITMAPINFOHEADER*>(m_block.data());
    h->biSizeImage = static_cast<DWORD>(DibImageBytes(bitmap));
}

bool CFrameFormat::Matches(const BITMAPINFOHEADER& b) const
{
    const BITMAPINFOHEADER& f = Header();
    return b.biWidth == f.biWidth && b.biHeight == f.biHeight && b.biBitCount == f.biBitCount &&
           b.biCompression == f.biCompression && DibImageBytes(b) == f.biSizeImage &&
           DibFormatBytes(b) == m_block.size();
}

std::string DisplayModeName(const CVideoSource& source)
{
    if (!source.m_bRaw)
        return "Normal";
    return source.m_bRawColour ? "RAW colour" : "RAW Y-channel";
}

bool PrepareExport(CVideoSource& source, CExportScope& scope, ExportReport& report, CFrameFormat& format)
{
    if (!source.IsOpen()) {
        report.Fail(messages::kNoVideo, messages::kNoVideo.text);
        return false;
    }
    const std::string name = std::filesystem::path(source.GetFileName()).filename().string();
    std::string why;
    if (source.m_bRaw && !source.CanShowRaw(source.m_bRawColour, &why)) {
        report.Fail(messages::kRawRefused,
                    Format(messages::kRawRefused.text, name.c_str(), DisplayModeName(source).c_str(), why.c_str()));
        return false;
    }
    // The first frame that holds data and renders fixes the format, ticked or not: frame 0 may
    // have been dropped, and a frame that cannot be read says nothing about the others.
    for (std::int32_t i = source.FindDataFrame(0); i >= 0; i = source.FindDataFrame(i + 1)) {
        if (source.GoToFrame(i) != i)
            continue;
        if (const BITMAPINFOHEADER* pBitmap = source.GetFrameBitmap()) {
            format.Take(*pBitmap);
            scope.TakeLastMessage();
            return true;
        }
    }
    report.Fail(messages::kNothingToExport, Format(messages::kNothingToExport.text, name.c_str()));
    return false;
}

} // namespace kestro::exports
