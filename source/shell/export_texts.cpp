#include "export_texts.h"

#include <filesystem>

namespace kestro::shell {

namespace {

using kestro::exports::Count;
using kestro::exports::ExportKind;

std::string Name(const std::string& path) { return std::filesystem::path(path).filename().string(); }

// The files as a span: "a", "a and b", or the first and last, "a … z".
std::string Span(const std::vector<std::string>& files)
{
    switch (files.size()) {
    case 0: return {};
    case 1: return Name(files.front());
    case 2: return Name(files[0]) + " and " + Name(files[1]);
    default: return Name(files.front()) + " \u2026 " + Name(files.back());
    }
}

} // namespace

std::string NameFiles(const std::vector<std::string>& files)
{
    if (files.empty())
        return "no file";
    if (files.size() == 3)
        return Name(files[0]) + ", " + Name(files[1]) + " and " + Name(files[2]);
    if (files.size() > 3)
        return std::to_string(files.size()) + " files named " + Span(files);
    return Span(files);
}

std::string ExportSummary(ExportKind kind, const ExportReport& report)
{
    const std::vector<std::string>& files = report.files;
    if (files.empty())
        return {};
    std::string text = report.failure ? "Stopped: " : "";
    text += Count(report.nFramesWritten, "frame", "frames");
    switch (kind) {
    case ExportKind::Avi:
    case ExportKind::Rgb: text += " saved to " + NameFiles(files); break;
    case ExportKind::Bmp: text += " saved as " + Span(files); break;
    case ExportKind::Fits:
        text += " summed into ";
        if (files.size() > 1)
            text += Count(static_cast<std::int64_t>(files.size()), "file", "files") + ", ";
        text += Span(files);
        break;
    }
    if (report.nFramesLeftOut > 0)
        text += "; " + Count(report.nFramesLeftOut, "frame", "frames") + " left out";
    return text;
}

} // namespace kestro::shell
