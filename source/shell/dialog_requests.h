// The dialogs the commands open: the file dialogs, the folder browser, the FITS export's
// parameters, the one number the Go to Frame command asks for, and the choice of Check best.
// Commands ask through these functions; the program installs handlers that show the real
// dialogs, tests install a DialogScript that answers from a list, and without a handler nobody
// can be asked, so the answer is "cancelled" (said on standard error), and headless runs never
// block. No Qt here: the answers' rules are tested without widgets.
#pragma once

#include "dialog_seam.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace kestro::shell {

enum class FileDialogMode { Open, Save };

struct FileDialogRequest {
    FileDialogMode mode = FileDialogMode::Open;
    std::string title;            // empty: the dialog's own title for its mode
    std::string defaultExtension; // added to a typed name that has none, without the dot
    std::string fileName;         // proposed name, may be empty
    // Pairs of a description and a pattern list, each part ended by '|', the whole by "||":
    // "AVI files (*.avi)|*.avi|All Files (*.*)|*.*||". The first pair is preselected.
    std::string filter;
    // A save dialog asks before it returns the name of a file that exists.
    bool confirmOverwrite = true;
    // The folder the dialog opens in; empty: the dialog's own choice.
    std::string startFolder;
    bool operator==(const FileDialogRequest&) const = default;
};

struct FolderRequest {
    std::string title;
    std::string startFolder;
    bool operator==(const FolderRequest&) const = default;
};

struct FitsExportRequest {
    std::uint32_t blockSize = 1; // the number of ticked frames summed into each file
    std::string prefix;          // start of every file name
    std::string folder;          // folder that receives the files
    bool operator==(const FitsExportRequest&) const = default;
};

struct NumberRequest {
    std::string title;
    std::string label;      // what the number stands for, shown beside the field
    std::int32_t value = 0; // proposed
    std::int32_t minimum = 0;
    std::int32_t maximum = 0;
    bool operator==(const NumberRequest&) const = default;
};

// Check best: how many of the sharpest frames to keep ticked, and among which frames.
struct BestFramesRequest {
    std::string count;       // as typed: "10%" (a share) or "500" (frames); the caller parses it
    bool tickedOnly = false; // among the frames ticked now; false: among all frames with data
    std::int32_t ticked = 0; // frames ticked now, for the dialog to show
    std::int32_t scored = 0; // frames with a score
    bool operator==(const BestFramesRequest&) const = default;
};

struct FileFilter {
    std::string description;
    std::vector<std::string> patterns;
    bool operator==(const FileFilter&) const = default;
};

// Splits a filter string into its pairs; a pattern list is separated by ';'. A trailing
// description without a pattern is dropped.
std::vector<FileFilter> parseFileFilter(const std::string& filter);

using FileDialogSeam = kestro::ui::DialogSeam<FileDialogRequest, std::optional<std::string>>;
using FolderSeam = kestro::ui::DialogSeam<FolderRequest, std::optional<std::string>>;
using FitsExportSeam = kestro::ui::DialogSeam<FitsExportRequest, std::optional<FitsExportRequest>>;
using NumberSeam = kestro::ui::DialogSeam<NumberRequest, std::optional<std::int32_t>>;
using BestFramesSeam = kestro::ui::DialogSeam<BestFramesRequest, std::optional<BestFramesRequest>>;

// Where the handlers are installed; the answers' rules below hold whatever the handler.
FileDialogSeam& fileDialogSeam();
FolderSeam& folderSeam();
FitsExportSeam& fitsExportSeam();
NumberSeam& numberSeam();
BestFramesSeam& bestFramesSeam();

// The chosen path, or nothing when the user cancelled.
std::optional<std::string> askForFile(const FileDialogRequest& request);
std::optional<std::string> askForFolder(const FolderRequest& request);
// Asks for the FITS export's parameters, proposing those given. The answer's folder ends with a
// path separator unless it is empty; nothing when the user cancelled. Without a handler nobody can
// be asked: cancelled (said on standard error).
std::optional<FitsExportRequest> askForFitsExport(const FitsExportRequest& request);
// A whole number from minimum to maximum (an answer outside is brought inside); nothing when the
// user cancelled or nobody can be asked.
std::optional<std::int32_t> askForNumber(const NumberRequest& request);
// The choice of Check best, proposing the one given; nothing when the user cancelled or nobody can
// be asked.
std::optional<BestFramesRequest> askForBestFrames(const BestFramesRequest& request);

// Answers every dialog from a queue while it lives (nothing, that is Cancel, once the queue is
// empty), records the requests, and puts the previous handlers back when it goes. File and
// folder dialogs share one queue of paths; the FITS parameters, the numbers and the choices of
// Check best have queues of their own.
class DialogScript {
public:
    DialogScript();
    ~DialogScript();
    DialogScript(const DialogScript&) = delete;
    DialogScript& operator=(const DialogScript&) = delete;

    void answer(std::optional<std::string> path) { m_answers.push_back(std::move(path)); }
    void answerFits(std::optional<FitsExportRequest> answer) { m_fitsAnswers.push_back(std::move(answer)); }
    void answerNumber(std::optional<std::int32_t> answer) { m_numberAnswers.push_back(answer); }
    void answerBest(std::optional<BestFramesRequest> answer) { m_bestAnswers.push_back(std::move(answer)); }
    const std::vector<FileDialogRequest>& fileRequests() const { return m_fileRequests; }
    const std::vector<FolderRequest>& folderRequests() const { return m_folderRequests; }
    const std::vector<FitsExportRequest>& fitsRequests() const { return m_fitsRequests; }
    const std::vector<NumberRequest>& numberRequests() const { return m_numberRequests; }
    const std::vector<BestFramesRequest>& bestRequests() const { return m_bestRequests; }

private:
    std::deque<std::optional<std::string>> m_answers;
    std::vector<FileDialogRequest> m_fileRequests;
    std::vector<FolderRequest> m_folderRequests;
    std::deque<std::optional<FitsExportRequest>> m_fitsAnswers;
    std::vector<FitsExportRequest> m_fitsRequests;
    std::deque<std::optional<std::int32_t>> m_numberAnswers;
    std::vector<NumberRequest> m_numberRequests;
    std::deque<std::optional<BestFramesRequest>> m_bestAnswers;
    std::vector<BestFramesRequest> m_bestRequests;
    // Last, so that the handlers are gone before the queues they read.
    FileDialogSeam::Override m_file;
    FolderSeam::Override m_folder;
    FitsExportSeam::Override m_fits;
    NumberSeam::Override m_number;
    BestFramesSeam::Override m_best;
};

} // namespace kestro::shell
