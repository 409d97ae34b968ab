// Runs the window's exports: checks one on the window's video source, asks before it replaces
// files, tells of temporary files left in its folder, then runs it in the background (CExportJob)
// with the progress bar and a Cancel button in the status bar, and the commands that would
// change the capture or start another export greyed. At the end it gives the window back as it
// was, removes the old files the user chose to have removed, says in the status bar what was
// written, and tells what went wrong in one message.
#pragma once

#include "export_job.h"

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

class CKestroDoc;
class CProgressBar;
class CWaitCursor;

class CExportRunner : public QObject {
    Q_OBJECT
public:
    explicit CExportRunner(CKestroDoc& doc);
    // Stops a running export and waits for it.
    ~CExportRunner() override;

    // Exports the frames ticked at the last collection to strPath (for FITS the folder and
    // prefix), showing pszMessage beside the progress bar. False when it does not start: it was
    // refused (told why) or the user chose not to replace files; nothing was written then.
    bool Start(const char* pszMessage, kestro::exports::ExportKind kind, const std::string& strPath,
               std::uint32_t nBlockSize = 1);
    bool IsRunning() const { return m_pJob != nullptr; }
    // Asks the running export to stop before its next frame; false when none runs.
    bool Cancel();
    // Stops a running export, waits for it and gives the window back without a message: the
    // window is closing.
    void StopAndWait();

    // For tests: called on the worker at every step of the exports started from now on.
    void SetStepHook(CExportJob::StepHook hook) { m_hook = std::move(hook); }

signals:
    // An export that had started has ended and the window is as before it.
    void finished();

private:
    // Asks about files in the way; false when the user chose to write nothing. Fills m_stale
    // with the old files to remove afterwards.
    bool AskBeforeReplacing(const kestro::exports::ExportPlan& plan, kestro::exports::ExportKind kind,
                            const std::string& strPath);
    // Names the temporary files a stopped export left in the folder, once in a run.
    void TellLeftovers(const kestro::exports::ExportPlan& plan, const std::string& strPath);
    void OnJobEnded(std::uint64_t nJob);
    void Finish(bool bTell);
    void LockCommands(bool bLock);

    CKestroDoc& m_doc;
    std::unique_ptr<CExportJob> m_pJob;
    // Counts the jobs started, so that the news of one that was ended otherwise (the window
    // closed) is not taken for the next one's.
    std::uint64_t m_nJob = 0;
    kestro::exports::ExportKind m_kind = kestro::exports::ExportKind::Avi;
    std::unique_ptr<CProgressBar> m_pBar;
    std::unique_ptr<CWaitCursor> m_pCursor;
    QTimer m_progressTimer;
    // Files of an earlier, longer series to remove once the export has completed.
    std::vector<std::string> m_stale;
    // Temporary files the user has been told about in this run.
    std::set<std::string> m_toldLeftovers;
    CExportJob::StepHook m_hook;
};
