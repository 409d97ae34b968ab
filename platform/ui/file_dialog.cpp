#include "file_dialog.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace kestro::ui {

namespace {

// The handler installed for one kind of dialog (each kind has its own handler type).
template <class Handler> Handler& handlerOf()
{
    static Handler handler;
    return handler;
}

void sayNobodyToAsk(const std::string& what)
{
    std::fprintf(stderr, "%s: no dialog can be shown here; cancelled\n", what.c_str());
    std::fflush(stderr);
}

std::optional<std::string> nobodyToAsk(const std::string& what)
{
    sayNobodyToAsk(what);
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

std::optional<std::string> askForFile(const FileDialogRequest& request)
{
    const FileDialogHandler& handler = handlerOf<FileDialogHandler>();
    if (handler)
        return handler(request);
    return nobodyToAsk(request.title.empty() ? (request.mode == FileDialogMode::Open ? "Open" : "Save As")
                                             : request.title);
}

std::optional<std::string> askForFolder(const FolderRequest& request)
{
    const FolderHandler& handler = handlerOf<FolderHandler>();
    return handler ? handler(request) : nobodyToAsk(request.title.empty() ? "Browse for Folder" : request.title);
}

std::optional<FitsExportRequest> askForFitsExport(const FitsExportRequest& request)
{
    const FitsExportHandler& handler = handlerOf<FitsExportHandler>();
    if (!handler) {
        sayNobodyToAsk("Export Fits Frames");
        return std::nullopt;
    }
    std::optional<FitsExportRequest> answer = handler(request);
    // The caller puts the prefix straight after the folder, so a folder without its separator
    // would turn into the start of the file names; whatever the handler, the promise holds.
    if (answer && !answer->folder.empty() && answer->folder.back() != '/')
        answer->folder += '/';
    return answer;
}

std::optional<std::int32_t> askForNumber(const NumberRequest& request)
{
    const NumberHandler& handler = handlerOf<NumberHandler>();
    if (!handler) {
        sayNobodyToAsk(request.title);
        return std::nullopt;
    }
    const std::optional<std::int32_t> answer = handler(request);
    if (!answer)
        return std::nullopt;
    return std::clamp(*answer, request.minimum, std::max(request.minimum, request.maximum));
}

std::optional<BestFramesRequest> askForBestFrames(const BestFramesRequest& request)
{
    const BestFramesHandler& handler = handlerOf<BestFramesHandler>();
    if (!handler) {
        sayNobodyToAsk("Check best");
        return std::nullopt;
    }
    return handler(request);
}

FileDialogHandler setFileDialogHandler(FileDialogHandler handler)
{
    return std::exchange(handlerOf<FileDialogHandler>(), std::move(handler));
}

FolderHandler setFolderHandler(FolderHandler handler)
{
    return std::exchange(handlerOf<FolderHandler>(), std::move(handler));
}

FitsExportHandler setFitsExportHandler(FitsExportHandler handler)
{
    return std::exchange(handlerOf<FitsExportHandler>(), std::move(handler));
}

NumberHandler setNumberHandler(NumberHandler handler)
{
    return std::exchange(handlerOf<NumberHandler>(), std::move(handler));
}

BestFramesHandler setBestFramesHandler(BestFramesHandler handler)
{
    return std::exchange(handlerOf<BestFramesHandler>(), std::move(handler));
}

DialogScript::DialogScript()
{
    m_previousFile = setFileDialogHandler([this](const FileDialogRequest& r) {
        m_fileRequests.push_back(r);
        return next();
    });
    m_previousFolder = setFolderHandler([this](const FolderRequest& r) {
        m_folderRequests.push_back(r);
        return next();
    });
    m_previousFits = setFitsExportHandler([this](const FitsExportRequest& r) -> std::optional<FitsExportRequest> {
        m_fitsRequests.push_back(r);
        if (m_fitsAnswers.empty())
            return std::nullopt;
        std::optional<FitsExportRequest> a = std::move(m_fitsAnswers.front());
        m_fitsAnswers.pop_front();
        return a;
    });
    m_previousNumber = setNumberHandler([this](const NumberRequest& r) -> std::optional<std::int32_t> {
        m_numberRequests.push_back(r);
        if (m_numberAnswers.empty())
            return std::nullopt;
        const std::optional<std::int32_t> a = m_numberAnswers.front();
        m_numberAnswers.pop_front();
        return a;
    });
    m_previousBest = setBestFramesHandler([this](const BestFramesRequest& r) -> std::optional<BestFramesRequest> {
        m_bestRequests.push_back(r);
        if (m_bestAnswers.empty())
            return std::nullopt;
        std::optional<BestFramesRequest> a = std::move(m_bestAnswers.front());
        m_bestAnswers.pop_front();
        return a;
    });
}

DialogScript::~DialogScript()
{
    setFileDialogHandler(std::move(m_previousFile));
    setFolderHandler(std::move(m_previousFolder));
    setFitsExportHandler(std::move(m_previousFits));
    setNumberHandler(std::move(m_previousNumber));
    setBestFramesHandler(std::move(m_previousBest));
}

std::optional<std::string> DialogScript::next()
{
    if (m_answers.empty())
        return std::nullopt;
    std::optional<std::string> a = std::move(m_answers.front());
    m_answers.pop_front();
    return a;
}

} // namespace kestro::ui
