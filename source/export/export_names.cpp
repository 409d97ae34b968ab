#include "export_names.h"

#include "export_report.h"

#include <array>
#include <cctype>
#include <filesystem>

namespace kestro::exports {

namespace {

std::string CaptureStem(const CVideoSource& source)
{
    const std::string name = std::filesystem::path(source.GetFileName()).filename().string();
    return SplitExtension(name).base;
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

bool IsAviPath(const std::string& strPath)
{
    std::string extension = SplitExtension(strPath).extension;
    for (char& c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension == ".avi";
}

std::string NumberedName(const SplitPath& parts, std::int32_t n)
{
    return parts.base + Format("_%.4d", static_cast<int>(n)) + parts.extension;
}

std::string RgbChannelFile(const std::string& strPath, int nChannel)
{
    static constexpr std::array<const char*, 3> kSuffixes{"_b.avi", "_g.avi", "_r.avi"};
    return SplitExtension(strPath).base + kSuffixes.at(static_cast<std::size_t>(nChannel));
}

} // namespace kestro::exports
