#include "export_names.h"

#include "export_report.h"

#include <array>
#include <cctype>
#include <filesystem>
#include <utility>

namespace kestro::exports {

namespace {

std::string CaptureStem(const CVideoSource& source)
{
    const std::string name = std::filesystem::path(source.GetFileName()).filename().string();
    return SplitExtension(name).base;
}

std::string NumberedName(const SplitPath& parts, std::int32_t n)
{
    return parts.base + Format("_%.4d", static_cast<int>(n)) + parts.extension;
}

} // namespace

std::string ProposedSaveName(const CVideoSource& source)
{
    if (!source.m_bRaw)
        return CaptureStem(source) + "_rgb";
    if (!source.m_bRawColour)
        return CaptureStem(source) + "_rlum";
    return CaptureStem(source) + Format("_rcol%.2i", static_cast<int>(source.m_converter.GetAlgorithm()));
}

std::string ProposedRgbName(const CVideoSource& source)
{
    return CaptureStem(source) + (source.m_bRaw ? "_raw" : "_rgb");
}

SplitPath SplitExtension(const std::string& strPath)
{
    const std::size_t nameStart = strPath.find_last_of('/') == std::string::npos ? 0 : strPath.find_last_of('/') + 1;
    const std::size_t dot = strPath.find_last_of('.');
    if (dot == std::string::npos || dot < nameStart)
        return {strPath, {}};
    return {strPath.substr(0, dot), strPath.substr(dot)};
}

namespace {

std::string LowerExtension(const std::string& strPath)
{
    std::string extension = SplitExtension(strPath).extension;
    for (char& c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension;
}

} // namespace

bool IsAviPath(const std::string& strPath) { return LowerExtension(strPath) == ".avi"; }

ExportKind SaveKindOf(const std::string& strPath)
{
    const std::string extension = LowerExtension(strPath);
    if (extension == ".avi")
        return ExportKind::Avi;
    return extension == ".ser" ? ExportKind::Ser : ExportKind::Bmp;
}

OutputNames::OutputNames(ExportKind kind, std::string strPath, std::uint32_t nBlockSize)
    : m_kind(kind), m_strPath(std::move(strPath)), m_parts(SplitExtension(m_strPath)), m_nBlockSize(nBlockSize)
{
}

std::int64_t OutputNames::Count(std::int64_t nFrames) const
{
    switch (m_kind) {
    case ExportKind::Avi:
    case ExportKind::Ser: return 1;
    case ExportKind::Bmp: return nFrames;
    case ExportKind::Rgb: return 3;
    case ExportKind::Fits: return m_nBlockSize == 0 ? 0 : (nFrames + m_nBlockSize - 1) / m_nBlockSize;
    }
    return 0;
}

std::string OutputNames::Name(std::int32_t n) const
{
    static constexpr std::array<const char*, 3> kChannelSuffixes{"_b.avi", "_g.avi", "_r.avi"};
    switch (m_kind) {
    case ExportKind::Avi:
    case ExportKind::Ser: return m_strPath;
    case ExportKind::Bmp: return NumberedName(m_parts, n);
    case ExportKind::Rgb: return m_parts.base + kChannelSuffixes.at(static_cast<std::size_t>(n));
    case ExportKind::Fits: return NumberedName(m_parts, n) + kFitsExtension;
    }
    return {};
}

} // namespace kestro::exports
