#include "export_runner.h"

#include "export_texts.h"
#include "kestro_app.h"
#include "kestro_doc.h"
#include "left_view.h"
#include "main_frame.h"
#include "progress_bar.h"
#include "status_bar.h"
#include "wait_cursor.h"

#include <QAbstractButton>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <system_error>

#include <sys/stat.h>

namespace {

using kestro::exports::ExportKind;
using kestro::exports::ExportPlan;

namespace fs = std::filesystem;

// How often the bar shows the steps the worker has counted.
constexpr int kProgressMsec = 50;

// The frames ticked at the last collection, copied: the worker consults its own copy, whatever
// the window does with the set meanwhile.
FramePredicate CheckedFramesNow()
{
    auto frames = std::make_shared<const std::vector<std::int32_t>>(g_checkedFrames.begin(), g_checkedFrames.end());
    return [frames](std::int32_t n) { return std::binary_search(frames->begin(), frames->end(), n); };
}

// The folder an export writes into.
std::string OutputFolder(const ExportPlan& plan, const std::string& strPath)
{
    const std::string any = plan.files.empty() ? strPath : plan.files.front();
    const fs::path folder = fs::path(any).parent_path();
    return folder.empty() ? std::string(".") : folder.string();
}

// Of the old files, those that removing could not harm: plain files or links, and never the
// capture under another name.
std::vector<std::string> Removable(const std::vector<std::string>& files, const std::string& strCapture)
{
    std::vector<std::string> removable;
    for (const std::string& file : files) {
        struct stat st {};
        if (::lstat(file.c_str(), &st) != 0 || !(S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)))
            continue;
        if (kestro::exports::SameFile(file, strCapture))
            continue;
        removable.push_back(file);
    }
    return removable;
}

} // namespace

CExportRunner::CExportRunner(CKestroDoc& doc) : m_doc(doc)
{
    m_progressTimer.setInterval(kProgressMsec);
    connect(&m_progressTimer, &QTimer::timeout, this, [this] {
        if (m_pBar)
            m_pBar->ShowCountedSteps();
    });
}

CExportRunner::~CExportRunner() { StopAndWait(); }

bool CExportRunner::Start(const char* pszMessage, ExportKind kind, const std::string& strPath, std::uint32_t nBlockSize)
{
    if (IsRunning())
        return false;
    CVideoSource& source = m_doc.m_videoSource;
    kestro::exports::ExportRequest request{kind, strPath, nBlockSize, CheckedFramesNow()};
    // Everything that would refuse the export is checked before anything is asked or shown: an
    // output that is the capture, nothing taken, a mode the capture cannot be shown in.
    ExportReport check;
    ExportPlan plan;
    if (!kestro::exports::CheckExport(source, request, check, &plan)) {
        if (const std::optional<kestro::ui::Message> m = DescribeExport(check))
            kestro::ui::showMessage(*m);
        return false;
    }
    if (!AskBeforeReplacing(plan, kind, strPath))
        return false;
    TellLeftovers(plan, strPath);

    m_kind = kind;
    CMainFrame* pFrame = CKestroApp::MainFrame();
    if (pFrame != nullptr)
        pFrame->GetStatusBar().ClearResult();
    ResetCountedSteps();
    m_pBar = std::make_unique<CProgressBar>();
    m_pBar->Create(QString::fromLatin1(pszMessage), 100, 100, false, 0);
    m_pBar->SetRange(0, source.GetFrameCount(), 1);
    g_pProgressBar = m_pBar.get();
    // The busy cursor, not the wait cursor: the window goes on working, and Cancel takes clicks.
    m_pCursor = std::make_unique<CWaitCursor>(Qt::BusyCursor);
    LockCommands(true);
    const std::uint64_t nJob = ++m_nJob;
    // Runs on the worker: it only posts the news to this object's thread. The runner waits for
    // the worker before it goes, so `this` outlives the call.
    auto onEnded = [this, nJob] {
        QMetaObject::invokeMethod(
            this, [this, nJob] { OnJobEnded(nJob); }, Qt::QueuedConnection);
    };
    m_pJob = std::make_unique<CExportJob>(source.GetFileName(), CExportJob::DisplaySettings::Of(source),
                                          std::move(request), m_hook, std::move(onEnded));
    m_progressTimer.start();
    return true;
}

bool CExportRunner::AskBeforeReplacing(const ExportPlan& plan, ExportKind kind, const std::string& strPath)
{
    m_stale.clear();
    // One AVI or SER file was asked about by the save dialog already.
    if (kestro::exports::WritesOneFile(kind))
        return true;
    const std::vector<std::string> existing = kestro::exports::ExistingFiles(plan.files);
    const std::vector<std::string> stale =
        Removable(kestro::exports::EarlierSeriesFiles(kind, strPath, static_cast<std::int64_t>(plan.files.size())),
                  m_doc.m_videoSource.GetFileName());
    const std::optional<kestro::ui::Message> question =
        kestro::shell::ReplaceQuestion(existing, stale, plan.files.size());
    if (!question)
        return true;
    const kestro::ui::Answer answer = kestro::ui::showMessage(*question);
    if (question->buttons == kestro::ui::Buttons::YesNo)
        return answer == kestro::ui::Answer::Yes;
    if (answer == kestro::ui::Answer::Cancel)
        return false;
    if (answer == kestro::ui::Answer::Yes)
        m_stale = stale;
    return true;
}

void CExportRunner::TellLeftovers(const ExportPlan& plan, const std::string& strPath)
{
    const std::string folder = OutputFolder(plan, strPath);
    std::vector<std::string> leftovers = kestro::exports::LeftoverTemporaries(folder);
    // Told once in a run: the next export into the folder does not repeat it.
    std::erase_if(leftovers, [this](const std::string& file) { return m_toldLeftovers.contains(file); });
    if (leftovers.empty())
        return;
    m_toldLeftovers.insert(leftovers.begin(), leftovers.end());
    kestro::ui::showMessage(kestro::shell::LeftoverNote(folder, leftovers));
}

bool CExportRunner::Cancel()
{
    if (!m_pJob)
        return false;
    m_pJob->Cancel();
    // The button has done its work; the export stops at its next frame.
    if (CMainFrame* pFrame = CKestroApp::MainFrame())
        pFrame->GetStatusBar().GetCancelButton()->setEnabled(false);
    return true;
}

void CExportRunner::StopAndWait()
{
    if (!m_pJob)
        return;
    m_pJob->Cancel();
    Finish(false);
}

void CExportRunner::OnJobEnded(std::uint64_t nJob)
{
    if (nJob == m_nJob && m_pJob)
        Finish(true);
}

void CExportRunner::Finish(bool bTell)
{
    m_progressTimer.stop();
    std::unique_ptr<CExportJob> pJob = std::move(m_pJob);
    pJob->Wait();
    const ExportReport report = pJob->GetReport();
    pJob.reset();

    // The last steps, so the bar was full when an export ran through; then it goes.
    if (m_pBar)
        m_pBar->ShowCountedSteps();
    m_pBar.reset();
    g_pProgressBar = nullptr;
    m_pCursor.reset();
    LockCommands(false);

    // The old files go only after an export that ran through, and only those the user was asked
    // about.
    std::size_t nRemoved = 0;
    std::vector<std::pair<std::string, std::string>> failures;
    std::optional<kestro::ui::Message> message = DescribeExport(report);
    if (!m_stale.empty() && report.failure) {
        if (message)
            message->text += "\n\nThe older files of the earlier export were not removed.";
    } else {
        for (const std::string& file : m_stale) {
            std::error_code ec;
            if (fs::remove(file, ec))
                ++nRemoved;
            else if (ec)
                failures.emplace_back(file, kestro::exports::DescribeSystemError(ec.value()));
        }
    }
    m_stale.clear();
    if (!failures.empty()) {
        const std::string text = kestro::shell::RemovalFailures(failures);
        if (message)
            message->text += "\n\n" + text;
        else
            message = kestro::ui::Message{text, "Remove older files", kestro::ui::Icon::Warning};
    }

    if (CMainFrame* pFrame = CKestroApp::MainFrame()) {
        const std::string summary = kestro::shell::ExportSummary(m_kind, report, nRemoved);
        if (!summary.empty())
            pFrame->GetStatusBar().ShowResult(QString::fromStdString(summary));
    }
    if (bTell && message)
        kestro::ui::showMessage(*message);
    emit finished();
}

void CExportRunner::LockCommands(bool bLock)
{
    if (CMainFrame* pFrame = CKestroApp::MainFrame())
        pFrame->ShowExportRunning(bLock);
}
