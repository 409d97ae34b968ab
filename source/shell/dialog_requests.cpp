#include "dialog_requests.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace kestro::shell {

namespace {

void sayNobodyToAsk(const std::string& what)
{
    std::fprintf(stderr, "%s: no dialog can be shown here; cancelled\n", what.c_str());
    std::fflush(stderr);
}

std::optional<std::string> nobodyToAskForFile(const FileDialogRequest& request)
{
    sayNobodyToAsk(request.title.empty() ? (request.mode == FileDialogMode::Open ? "Open" : "Save As") : request.title);
    return std::nullopt;
}

std::optional<std::string> nobodyToAskForFolder(const FolderRequest& request)
{
    sayNobodyToAsk(request.title.empty() ? "Browse for Folder" : request.title);
    return std::nullopt;
}

std::optional<FitsExportRequest> nobodyToAskForFits(const FitsExportRequest&)
{
    sayNobodyToAsk("Export Fits Frames");
    return std::nullopt;
}

std::optional<std::int32_t> nobodyToAskForNumber(const NumberRequest& request)
{
    sayNobodyToAsk(request.title);
    return std::nullopt;
}

std::optional<BestFramesRequest> nobodyToAskForBest(const BestFramesRequest&)
{
    sayNobodyToAsk("Check best");
    return std::nullopt;
}

std::vector<std::string> splitPatterns(const std::string& list)
{
    std::vector<std::string> patterns;
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t end = std::min(list.find(';', start), list.size());
        if (end > start)
            patterns.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return patterns;
}

// Made at the first ask or install, whenever that is, so that no order of static
// initialisation can meet a seam not made yet.
template <class Seam, typename Seam::Fallback fallback> Seam& seamMadeOnFirstUse()
{
    static Seam seam(fallback);
    return seam;
}

// The next scripted answer, or Cancel once there is none.
template <class T> std::optional<T> takeFirst(std::deque<std::optional<T>>& answers)
{
    if (answers.empty())
        return std::nullopt;
    std::optional<T> a = std::move(answers.front());
    answers.pop_front();
    return a;
}

} // namespace

std::vector<FileFilter> parseFileFilter(const std::string& filter)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start < filter.size()) {
        const std::size_t end = filter.find('|', start);
        if (end == std::string::npos) {
            parts.push_back(filter.substr(start));
            break;
        }
        if (end == start) // "||" ends the list
            break;
        parts.push_back(filter.substr(start, end - start));
        start = end + 1;
    }
    std::vector<FileFilter> filters;
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2)
        filters.push_back({parts[i], splitPatterns(parts[i + 1])});
    return filters;
}

FileDialogSeam& fileDialogSeam() { return seamMadeOnFirstUse<FileDialogSeam, nobodyToAskForFile>(); }

FolderSeam& folderSeam() { return seamMadeOnFirstUse<FolderSeam, nobodyToAskForFolder>(); }

FitsExportSeam& fitsExportSeam() { return seamMadeOnFirstUse<FitsExportSeam, nobodyToAskForFits>(); }

NumberSeam& numberSeam() { return seamMadeOnFirstUse<NumberSeam, nobodyToAskForNumber>(); }

BestFramesSeam& bestFramesSeam() { return seamMadeOnFirstUse<BestFramesSeam, nobodyToAskForBest>(); }

std::optional<std::string> askForFile(const FileDialogRequest& request) { return fileDialogSeam().ask(request); }

std::optional<std::string> askForFolder(const FolderRequest& request) { return folderSeam().ask(request); }

std::optional<FitsExportRequest> askForFitsExport(const FitsExportRequest& request)
{
    std::optional<FitsExportRequest> answer = fitsExportSeam().ask(request);
    // The caller puts the prefix straight after the folder, so a folder without its separator
    // would turn into the start of the file names; whatever the handler, the promise holds.
    if (answer && !answer->folder.empty() && answer->folder.back() != '/')
        answer->folder += '/';
    return answer;
}

std::optional<std::int32_t> askForNumber(const NumberRequest& request)
{
    const std::optional<std::int32_t> answer = numberSeam().ask(request);
    if (!answer)
        return std::nullopt;
    return std::clamp(*answer, request.minimum, std::max(request.minimum, request.maximum));
}

std::optional<BestFramesRequest> askForBestFrames(const BestFramesRequest& request)
{
    return bestFramesSeam().ask(request);
}

DialogScript::DialogScript()
    : m_file(fileDialogSeam(),
             [this](const FileDialogRequest& r) {
                 m_fileRequests.push_back(r);
                 return takeFirst(m_answers);
             }),
      m_folder(folderSeam(),
               [this](const FolderRequest& r) {
                   m_folderRequests.push_back(r);
                   return takeFirst(m_answers);
               }),
      m_fits(fitsExportSeam(),
             [this](const FitsExportRequest& r) {
                 m_fitsRequests.push_back(r);
                 return takeFirst(m_fitsAnswers);
             }),
      m_number(numberSeam(),
               [this](const NumberRequest& r) {
                   m_numberRequests.push_back(r);
                   return takeFirst(m_numberAnswers);
               }),
      m_best(bestFramesSeam(), [this](const BestFramesRequest& r) {
          m_bestRequests.push_back(r);
          return takeFirst(m_bestAnswers);
      })
{
}

DialogScript::~DialogScript() = default;

} // namespace kestro::shell
