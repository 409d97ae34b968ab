#include "export_texts.h"

#include "list_text.h"

#include <algorithm>
#include <filesystem>

namespace kestro::shell {

namespace {

using kestro::exports::Count;
using kestro::exports::ExportKind;
using kestro::exports::ListFirst;
using kestro::exports::SentenceWording;

constexpr std::size_t kListedFailures = 8;

std::string Name(const std::string& path) { return std::filesystem::path(path).filename().string(); }

std::string Folder(const std::string& path) { return std::filesystem::path(path).parent_path().string(); }

// The files named whole, as a sentence reads them: "a", "a and b", "a, b and c".
std::string Names(const std::vector<std::string>& files)
{
    std::vector<std::string> names;
    std::transform(files.begin(), files.end(), std::back_inserter(names), Name);
    return ListFirst(names, names.size(), SentenceWording());
}

// The files as a span: "a", "a and b", or the first and last, "a … z".
std::string Span(const std::vector<std::string>& files)
{
    if (files.size() <= 2)
        return Names(files);
    return kestro::exports::FirstToLast(Name(files.front()), Name(files.back()));
}

std::string InFolder(const std::vector<std::string>& files)
{
    const std::string folder = files.empty() ? std::string() : Folder(files.front());
    return folder.empty() ? std::string() : " in " + folder;
}

} // namespace

std::string NameFiles(const std::vector<std::string>& files)
{
    if (files.empty())
        return "no file";
    if (files.size() > 3)
        return std::to_string(files.size()) + " files named " + Span(files);
    return Names(files);
}

std::optional<kestro::ui::Message> ReplaceQuestion(const std::vector<std::string>& existing,
                                                   const std::vector<std::string>& stale, std::size_t nWritten)
{
    if (existing.empty() && stale.empty())
        return std::nullopt;
    const bool bOneStale = stale.size() == 1;
    // A stacking program given the folder takes every file of the series' names.
    const std::string why = ": a stacking program given the folder would take " +
                            std::string(bOneStale ? "it" : "them") + " for frames of this export.";
    kestro::ui::Message m;
    m.icon = kestro::ui::Icon::Question;
    if (existing.empty()) {
        m.caption = "Files of an earlier export";
        m.text = "An earlier export left " + NameFiles(stale) + InFolder(stale) + ", beside the " +
                 Count(static_cast<std::int64_t>(nWritten), "file", "files") + " this export writes" + why +
                 "\n\nRemove " + (bOneStale ? "it" : "them") + " once the export has completed?";
        m.buttons = kestro::ui::Buttons::YesNoCancel;
        m.buttonTexts = {bOneStale ? "Remove it" : "Remove them", bOneStale ? "Keep it" : "Keep them", "Cancel"};
        return m;
    }
    m.caption = "Replace files";
    const bool bOne = existing.size() == 1;
    m.text = NameFiles(existing) + (bOne ? " exists" : " exist") + InFolder(existing) + ". Replace " +
             (bOne ? "it" : "them") + "?";
    if (stale.empty()) {
        m.buttons = kestro::ui::Buttons::YesNo;
        return m;
    }
    m.text += "\n\nAn earlier, longer export also left " + NameFiles(stale) + ", which this one does not write" + why +
              " They can be removed once the export has completed.";
    m.buttons = kestro::ui::Buttons::YesNoCancel;
    m.buttonTexts = {"Replace and remove the rest", "Replace", "Cancel"};
    return m;
}

kestro::ui::Message LeftoverNote(const std::string& strFolder, const std::vector<std::string>& files)
{
    const bool bOne = files.size() == 1;
    std::string text = "The folder " + strFolder + " holds " + (bOne ? "a temporary file, " : "temporary files: ") +
                       NameFiles(files) + ".\nAn export that was stopped before it finished left " +
                       (bOne ? "it" : "them") + ", or one still running is writing " + (bOne ? "it" : "them") +
                       ". Kestro leaves " + (bOne ? "it" : "them") + " alone: remove " + (bOne ? "it" : "them") +
                       " once no export is writing there.";
    return {std::move(text), "Temporary files in the folder", kestro::ui::Icon::Information};
}

std::string ExportSummary(ExportKind kind, const ExportReport& report, std::size_t nRemoved)
{
    const std::vector<std::string>& files = report.files;
    if (files.empty())
        return {};
    std::string text = report.failure ? "Stopped: " : "";
    text += Count(report.nFramesWritten, "frame", "frames");
    switch (kind) {
    case ExportKind::Avi:
    case ExportKind::Ser:
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
    if (nRemoved > 0)
        text += "; " + Count(static_cast<std::int64_t>(nRemoved), "older file", "older files") + " removed";
    return text;
}

std::string RemovalFailures(const std::vector<std::pair<std::string, std::string>>& failures)
{
    if (failures.size() == 1)
        return "Unable to remove " + failures.front().first + ": " + failures.front().second +
               ".\nIt stays beside the new files.";
    std::string text =
        "Unable to remove " + std::to_string(failures.size()) + " of the older files; they stay beside the new ones:";
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < failures.size() && i < kListedFailures; ++i)
        lines.push_back("\n" + failures[i].first + ": " + failures[i].second);
    kestro::exports::ListWording wording;
    wording.separator = wording.lastSeparator = "";
    wording.moreBefore = "\nand ";
    return text + ListFirst(lines, kListedFailures, failures.size(), wording);
}

} // namespace kestro::shell
