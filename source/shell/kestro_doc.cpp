#include "kestro_doc.h"

#include "algorithm_list.h"
#include "bayer_pattern.h"
#include "best_frames.h"
#include "capture_status.h"
#include "dialog_requests.h"
#include "display_bar.h"
#include "export_fits_dlg.h"
#include "export_names.h"
#include "export_runner.h"
#include "frame_list_model.h"
#include "frame_scoring.h"
#include "kestro_app.h"
#include "kestro_view.h"
#include "left_view.h"
#include "main_frame.h"
#include "message_box.h"
#include "mosaic_bar.h"
#include "playback.h"
#include "resource_ids.h"
#include "status_bar.h"

#include <QCheckBox>
#include <QComboBox>
#include <QProgressDialog>
#include <QRadioButton>

#include <algorithm>
#include <filesystem>

namespace {

QComboBox* AlgorithmList() { return static_cast<QComboBox*>(DisplayBarControl(ids::IDC_ALGORITHM)); }

std::optional<std::int32_t> AlgorithmNumberOf(const QString& entry)
{
    return kestro::video::AlgorithmNumberOf(entry.toStdString());
}

} // namespace

CKestroDoc::CKestroDoc() : m_pExports(std::make_unique<CExportRunner>(*this)) {}

// The runner goes first: it stops a running export and waits for it, while the video source
// and everything else it may look at still stand.
CKestroDoc::~CKestroDoc() { m_pExports.reset(); }

void CKestroDoc::FillAlgorithmList(QComboBox& list, const std::vector<std::string>& names)
{
    list.clear();
    for (const std::string& entry : kestro::video::AlgorithmEntries(names))
        list.addItem(QString::fromStdString(entry));
    list.setCurrentIndex(list.count() - 1);
}

bool CKestroDoc::OnNewDocument()
{
    QComboBox* pList = AlgorithmList();
    if (pList == nullptr)
        return false;
    // New runs this again: the list is filled afresh rather than appended to, and the
    // converter follows the entry that ends up selected, so list and converter agree.
    FillAlgorithmList(*pList, m_videoSource.m_converter.GetAlgorithmNames());

    const std::int32_t nPrevious = m_nSelAlgorithm;
    m_nSelAlgorithm = AlgorithmNumberOf(pList->currentText()).value_or(CCfaConverter::kOwnAlgorithm);
    m_videoSource.m_converter.SetAlgorithm(m_nSelAlgorithm);

    OnPatternBG();
    if (nPrevious != m_nSelAlgorithm)
        InvalidateView(true);

    DrawDibClose(m_hDrawDib);
    m_hDrawDib = DrawDibOpen();
    return true;
}

std::string CKestroDoc::CaptureFolder() const
{
    const std::filesystem::path capture(m_videoSource.GetFileName());
    return m_videoSource.IsOpen() && capture.has_parent_path() ? capture.parent_path().string() : std::string();
}

void CKestroDoc::OnFileOpen()
{
    if (RefuseWhileExporting())
        return;
    kestro::shell::FileDialogRequest request;
    request.mode = kestro::shell::FileDialogMode::Open;
    // The next capture of a night usually lies beside the one open.
    request.startFolder = CaptureFolder();
    request.defaultExtension = "avi";
    // The name only chooses what the dialog lists: a capture is read by its first bytes.
    request.filter = "Captures (*.avi *.ser)|*.avi;*.ser|All Files (*.*)|*.*||";
    if (const std::optional<std::string> path = kestro::shell::askForFile(request))
        OpenVideoFile(QString::fromStdString(*path));
}

void CKestroDoc::OnOpenRecentFile(int n)
{
    if (RefuseWhileExporting())
        return;
    // A file that is gone fails like any other open, and its entry stays in the list.
    OpenVideoFile(CKestroApp::Instance()->GetRecentFile(n));
}

void CKestroDoc::OpenVideoFile(const QString& path)
{
    // Playing on would carry the row away from under whatever the opening shows or says.
    if (CMainFrame* pFrame = CKestroApp::MainFrame(); pFrame && pFrame->GetPlayback())
        pFrame->GetPlayback()->Stop();
    // A file dropped just before an export started arrives here afterwards.
    if (RefuseWhileExporting())
        return;
    const std::string strPath = path.toStdString();
    // The ticks are the user's work, and the video source closes its capture before it tries
    // another. So a file is first tried by a source of its own: one that fails has told the
    // user why and leaves the capture on show, ticks, current frame and scroll position, as it
    // was.
    if (m_videoSource.IsOpen()) {
        CVideoSource trial;
        // What a capture that opens has to say (a SER file's corrected frame count) is said once,
        // by the real opening below; a failure is said here.
        std::vector<kestro::ui::Message> held;
        trial.HoldMessages(&held);
        const bool bTrialOpened = trial.Open(strPath);
        trial.HoldMessages(nullptr);
        if (!bTrialOpened) {
            for (const kestro::ui::Message& m : held)
                kestro::ui::showMessage(m);
            return;
        }
    }
    const std::string strPrevious = m_videoSource.GetFileName();
    // The byte order chosen was for the capture on show; another one starts on Auto.
    const std::optional<kestro::ser::ByteOrder> previousOrder = m_videoSource.GetByteOrderChoice();
    m_videoSource.SetByteOrder(std::nullopt);
    const bool bOpened = m_videoSource.Open(strPath);
    if (bOpened) {
        CKestroApp::Instance()->AddToRecentList(path);
        SetTitle(path);
        if (m_pFrameView != nullptr) {
            m_pFrameView->ScrollToTopLeft();
            // Levels suit one capture's exposure: another one, or the same one again, starts
            // as it is.
            m_pFrameView->ResetLevels();
        }
    } else if (!strPrevious.empty()) {
        // Only a file that changed between the trial and now gets here; the video source has
        // told the user why. What the previous capture had to say was said when it first opened.
        std::vector<kestro::ui::Message> held;
        m_videoSource.HoldMessages(&held);
        m_videoSource.SetByteOrder(previousOrder);
        m_videoSource.Open(strPrevious);
        m_videoSource.HoldMessages(nullptr);
    }
    ShowPatternInForce();
    m_nCurrentRow = -1;
    m_nDroppedFrames = 0;
    m_told.clear();
    if (m_pFrameList != nullptr)
        m_pFrameList->FillFrameList();
    else
        SetCurrentFrame(0);
    InvalidateView();
    // The list was filled afresh, so its scores are gone whichever capture it now shows.
    ScoreOpenCapture(true);
    if (CMainFrame* pFrame = CKestroApp::MainFrame()) {
        pFrame->EnableCommand(ids::ID_CHECK_BEST, m_videoSource.IsOpen());
        pFrame->GetStatusBar().SetCaptureNote(CaptureNoteText());
        pFrame->ShowByteOrderInForce();
        // The detector reads the capture on a thread of its own; the first picture is not kept
        // waiting for it.
        if (CMosaicBar* pBar = pFrame->GetMosaicBar())
            pBar->CaptureOpened();
    }
}

QString CKestroDoc::CaptureNoteText() const
{
    const std::int32_t nFrames = m_videoSource.GetFrameCount();
    const std::int32_t nPromised = m_videoSource.GetPromisedFrameCount();
    if (!m_videoSource.IsOpen() || nPromised <= nFrames)
        return {};
    // The frames the list shows without data were dropped by the recorder, not lost at the end.
    return QStringLiteral("%1 of %2 frames hold data; the file ends early")
        .arg(std::max(nFrames - m_nDroppedFrames, 0))
        .arg(nPromised);
}

kestro::quality::ScoreSource CKestroDoc::ScoreSourceInForce() const
{
    const bool bRaw = m_videoSource.m_bRaw;
    return kestro::quality::ScoreSourceFor(bRaw, bRaw && m_videoSource.CanShowRaw(m_videoSource.m_bRawColour));
}

void CKestroDoc::ScoreOpenCapture(bool bRestart)
{
    if (m_pFrameList == nullptr)
        return;
    CFrameScoring& scoring = m_pFrameList->GetScoring();
    if (!m_videoSource.IsOpen()) {
        scoring.Clear();
        return;
    }
    const kestro::quality::ScoreSource source = ScoreSourceInForce();
    if (!bRestart && scoring.GetState() != CFrameScoring::State::Idle &&
        scoring.GetPath() == m_videoSource.GetFileName() && scoring.GetSource() == source &&
        scoring.GetByteOrder() == m_videoSource.GetByteOrderChoice())
        return;
    // The frames the list shows as holding data, as it was filled.
    std::vector<std::int32_t> frames;
    for (std::int32_t i = 0; i < m_videoSource.GetFrameCount(); ++i) {
        if (m_videoSource.FindDataFrame(i) == i)
            frames.push_back(i);
    }
    scoring.Start(m_videoSource.GetFileName(), source, std::move(frames), m_videoSource.GetByteOrderChoice());
}

namespace {

constexpr const char* kCheckBestCaption = "Check best";

// True once every frame with data has its score; otherwise says why Check best cannot choose.
bool EveryFrameScored(const CFrameScoring& scoring)
{
    switch (scoring.GetState()) {
    case CFrameScoring::State::Finished: break;
    case CFrameScoring::State::Running:
    case CFrameScoring::State::Stopped:
        // Stopped again while it was waited for: the choice would leave frames out.
        kestro::ui::showMessage("Scoring was stopped before every frame had its score (" +
                                    std::to_string(scoring.GetDone()) + " of " + std::to_string(scoring.GetTotal()) +
                                    "); Check best chooses once every frame has one.",
                                kCheckBestCaption, kestro::ui::Icon::Information);
        return false;
    case CFrameScoring::State::Failed:
    case CFrameScoring::State::Idle:
        kestro::ui::showMessage("The frames of this capture have no scores. " + scoring.GetStatusText().toStdString(),
                                kCheckBestCaption, kestro::ui::Icon::Warning);
        return false;
    }
    return true;
}

// How many frames the answer of Check best keeps; nothing, said why, when it gives neither a
// share nor a number.
std::optional<kestro::quality::BestCount> ReadBestCount(const std::string& typed)
{
    std::string error;
    std::optional<kestro::quality::BestCount> count = kestro::quality::BestCount::Parse(typed, &error);
    if (!count)
        kestro::ui::showMessage("\"" + typed +
                                    "\" says neither a share of the frames (10%) nor a number "
                                    "of frames (500): " +
                                    error,
                                kCheckBestCaption, kestro::ui::Icon::Warning);
    return count;
}

// The frames Check best chooses among: those ticked now, or every frame with a score.
std::vector<std::int32_t> BestCandidates(bool bTickedOnly, const std::vector<std::int32_t>& ticked,
                                         const std::vector<kestro::quality::FrameScore>& scores)
{
    if (bTickedOnly)
        return ticked;
    std::vector<std::int32_t> candidates;
    for (const kestro::quality::FrameScore& s : scores)
        candidates.push_back(s.frame);
    return candidates;
}

} // namespace

void CKestroDoc::OnCheckBest()
{
    if (RefuseWhileExporting() || RefuseWithoutVideo() || m_pFrameList == nullptr)
        return;
    CFrameScoring& scoring = m_pFrameList->GetScoring();
    // A run stopped with Esc goes on from where it stopped; the scores found so far are kept.
    if (scoring.GetState() == CFrameScoring::State::Stopped)
        scoring.Resume();
    if (scoring.IsRunning() && !WaitForScores(scoring))
        return;
    if (!EveryFrameScored(scoring))
        return;

    CFrameListModel& model = m_pFrameList->GetModel();
    const std::vector<kestro::quality::FrameScore> scores = model.Scores();
    const std::vector<std::int32_t> ticked = model.TickedRows();
    kestro::shell::BestFramesRequest request;
    request.count = m_strLastBest;
    request.tickedOnly = m_bLastBestTickedOnly;
    request.ticked = static_cast<std::int32_t>(ticked.size());
    request.scored = static_cast<std::int32_t>(scores.size());
    const std::optional<kestro::shell::BestFramesRequest> answer = kestro::shell::askForBestFrames(request);
    if (!answer)
        return;
    const std::optional<kestro::quality::BestCount> count = ReadBestCount(answer->count);
    if (!count)
        return;
    m_strLastBest = count->Text();
    m_bLastBestTickedOnly = answer->tickedOnly;

    const std::vector<std::int32_t> chosen =
        kestro::quality::ChooseBest(BestCandidates(answer->tickedOnly, ticked, scores), scores, *count);
    if (chosen.empty()) {
        // Nothing to keep would untick every frame: more likely a slip than a wish.
        kestro::ui::showMessage(answer->tickedOnly
                                    ? "No frame with a score is ticked, so there is nothing to choose "
                                      "from; the ticks stay as they are."
                                    : "No frame of this capture has a score; the ticks stay as they are.",
                                kCheckBestCaption, kestro::ui::Icon::Information);
        return;
    }
    model.SaveTicksForUndo();
    model.SetTickedRows(chosen);
    if (CMainFrame* pFrame = CKestroApp::MainFrame())
        pFrame->GetStatusBar().SetPaneText(
            0, QStringLiteral("%1 sharpest frames kept ticked").arg(static_cast<qulonglong>(chosen.size())));
}

bool CKestroDoc::WaitForScores(CFrameScoring& scoring)
{
    // The window's own event loop goes on under the dialog: the scores arrive, the list and the
    // picture repaint, and the dialog closes by itself once the last frame has its score.
    QProgressDialog dlg(QStringLiteral("Check best waits for the frames to be scored\u2026"), QStringLiteral("Cancel"),
                        0, 100, CKestroApp::MainFrame());
    dlg.setObjectName(QStringLiteral("waitForScores"));
    dlg.setWindowTitle(QStringLiteral("Check best"));
    dlg.setAutoClose(false);
    dlg.setAutoReset(false);
    dlg.setMinimumDuration(0);
    dlg.setValue(scoring.GetPercent());
    QObject::connect(&scoring, &CFrameScoring::statusChanged, &dlg,
                     [&dlg, &scoring] { dlg.setValue(scoring.GetPercent()); });
    QObject::connect(&scoring, &CFrameScoring::stateChanged, &dlg, [&dlg, &scoring] {
        if (!scoring.IsRunning())
            dlg.accept();
    });
    // Cancel and Esc give up the wait, not the scoring, which goes on in the background.
    return dlg.exec() == QDialog::Accepted;
}

void CKestroDoc::OnEditUndo()
{
    if (m_pFrameList != nullptr)
        m_pFrameList->GetModel().Undo();
}

std::int32_t CKestroDoc::SetCurrentFrame(std::int32_t n)
{
    const std::int32_t r = m_videoSource.GoToFrame(n);
    if (!m_videoSource.IsOpen())
        m_nCurrentRow = -1;
    else if (n >= 0 && n < m_videoSource.GetFrameCount())
        m_nCurrentRow = n;
    InvalidateView();
    UpdateFrameStatus();
    return r;
}

bool CKestroDoc::IsFrameMissing() const
{
    return m_videoSource.IsOpen() && m_nCurrentRow >= 0 && m_videoSource.GetCurrentPosition() < 0;
}

FrameRendering CKestroDoc::RenderCurrentFrame()
{
    FrameRendering r;
    if (!m_videoSource.IsOpen()) {
        r.note = CKestroView::NoCaptureNote();
    } else if (IsFrameMissing()) {
        // Without a frame with data at or before the chosen row, the decoder still holds
        // whatever was shown before: no picture is better than a wrong one.
        r.note = CKestroView::MissingFrameNote(m_nCurrentRow);
    } else {
        std::vector<kestro::ui::Message> held;
        m_videoSource.HoldMessages(&held);
        r.pBitmap = m_videoSource.GetFrameBitmap();
        m_videoSource.HoldMessages(nullptr);
        if (r.pBitmap == nullptr)
            r.note = CKestroView::UnreadableFrameNote(m_videoSource.GetCurrentPosition());
        // Held, the video source tells about a frame at every render of it; the user hears of
        // each cause once.
        for (kestro::ui::Message& m : held) {
            if (std::find(m_told.begin(), m_told.end(), m) == m_told.end()) {
                m_told.push_back(m);
                r.tell.push_back(std::move(m));
            }
        }
    }
    // The video source falls back to Normal by itself when a capture cannot be shown raw.
    ShowDisplayModeInForce();
    return r;
}

QString CKestroDoc::FrameStatusText() const
{
    if (!m_videoSource.IsOpen() || m_nCurrentRow < 0)
        return {};
    QString text = QStringLiteral("Frame %1 of %2").arg(m_nCurrentRow).arg(m_videoSource.GetFrameCount());
    if (m_videoSource.GetCurrentPosition() != m_nCurrentRow)
        text += QStringLiteral(" (dropped)");
    text += QStringLiteral(" \u00b7 ") + CaptureDescription(m_videoSource, m_nCurrentRow);
    // A SER capture holds whole frames only: nothing is ever dropped from one.
    if (m_videoSource.GetCaptureFormat() == CaptureFormat::Avi)
        text += QStringLiteral(" \u00b7 %1 dropped").arg(m_nDroppedFrames);
    return text;
}

void CKestroDoc::UpdateFrameStatus()
{
    if (CMainFrame* pFrame = CKestroApp::MainFrame())
        pFrame->GetStatusBar().SetFrameText(FrameStatusText());
}

void CKestroDoc::OnGoToFrame()
{
    if (RefuseWithoutVideo())
        return;
    const std::int32_t nCount = m_videoSource.GetFrameCount();
    if (nCount <= 0 || m_pFrameList == nullptr)
        return;
    kestro::shell::NumberRequest request;
    request.title = "Go to Frame";
    request.label = "Frame number (0 to " + std::to_string(nCount - 1) + "):";
    request.value = std::max(m_nCurrentRow, 0);
    request.minimum = 0;
    request.maximum = nCount - 1;
    if (const std::optional<std::int32_t> n = kestro::shell::askForNumber(request))
        m_pFrameList->GoToRow(*n);
}

void CKestroDoc::OnDisplayNormal()
{
    m_videoSource.m_bRaw = false;
    ChooseDisplayMode();
    ScoreOpenCapture(false);
    ShowMosaicAdvice();
}

void CKestroDoc::OnDisplayRawY()
{
    m_videoSource.m_bRaw = true;
    m_videoSource.m_bRawColour = false;
    ChooseDisplayMode();
    ScoreOpenCapture(false);
    ShowMosaicAdvice();
}

void CKestroDoc::OnDisplayRawColour()
{
    m_videoSource.m_bRaw = true;
    m_videoSource.m_bRawColour = true;
    ChooseDisplayMode();
    ScoreOpenCapture(false);
    ShowMosaicAdvice();
}

void CKestroDoc::ChooseDisplayMode()
{
    // A mode chosen again is tried again, and what stands in its way is told again.
    m_told.clear();
    InvalidateView();
}

void CKestroDoc::ShowMosaicAdvice()
{
    if (CMainFrame* pFrame = CKestroApp::MainFrame(); pFrame && pFrame->GetMosaicBar())
        pFrame->GetMosaicBar()->SettingsChanged();
}

void CKestroDoc::ShowDisplayModeInForce()
{
    const int nButton = !m_videoSource.m_bRaw        ? ids::IDC_DISPLAY_NORMAL
                        : m_videoSource.m_bRawColour ? ids::IDC_DISPLAY_RAW_COLOUR
                                                     : ids::IDC_DISPLAY_RAW_Y;
    // The buttons are exclusive: checking one clears the others, and raises no command.
    if (auto* pButton = static_cast<QRadioButton*>(DisplayBarControl(nButton)); pButton && !pButton->isChecked()) {
        pButton->setChecked(true);
        // The video source fell back to another mode (a frame the de-mosaic refused, say): the
        // scores follow what is shown, as they would had the user chosen it.
        ScoreOpenCapture(false);
    }
}

void CKestroDoc::OnPatternBG() { SelectPattern(ids::IDC_PATTERN_BG, kestro::bayer::kBG.code); }

void CKestroDoc::OnPatternGB() { SelectPattern(ids::IDC_PATTERN_GB, kestro::bayer::kGB.code); }

void CKestroDoc::OnPatternGR() { SelectPattern(ids::IDC_PATTERN_GR, kestro::bayer::kGR.code); }

void CKestroDoc::OnPatternRG() { SelectPattern(ids::IDC_PATTERN_RG, kestro::bayer::kRG.code); }

void CKestroDoc::OnSwapRedBlue()
{
    // The pattern the converter uses, not the button's: they agree, and the converter's is the
    // one the picture shows.
    const kestro::bayer::Pattern& swapped =
        kestro::bayer::withRedBlueSwapped(kestro::bayer::patternFromCode(m_videoSource.m_converter.GetPattern()));
    SelectPattern(PatternButtonId(swapped), swapped.code);
}

void CKestroDoc::ShowPatternInForce()
{
    ShowPatternButton(PatternButtonId(kestro::bayer::patternFromCode(m_videoSource.m_converter.GetPattern())));
}

void CKestroDoc::OnByteOrder(std::optional<kestro::ser::ByteOrder> order)
{
    if (m_videoSource.HasByteOrder()) {
        m_videoSource.SetByteOrder(order);
        // The picture, its depth and the scores all follow the order the samples are read in.
        m_told.clear();
        InvalidateView();
        UpdateFrameStatus();
        ScoreOpenCapture(true);
    }
    if (CMainFrame* pFrame = CKestroApp::MainFrame()) {
        pFrame->ShowByteOrderInForce();
        // Samples read the other way round are other data: the detector looks again, and what
        // it said of the old reading goes.
        if (m_videoSource.HasByteOrder())
            if (CMosaicBar* pBar = pFrame->GetMosaicBar())
                pBar->CaptureOpened();
    }
}

void CKestroDoc::SelectPattern(int nButton, std::int32_t nPattern)
{
    ShowPatternButton(nButton);
    m_videoSource.m_converter.SetPattern(nPattern);
    InvalidateView();
    ShowMosaicAdvice();
}

void CKestroDoc::OnGrayscale()
{
    const auto* pBox = static_cast<const QCheckBox*>(DisplayBarControl(ids::IDC_GRAYSCALE));
    m_videoSource.m_bGreyscale = pBox != nullptr && pBox->isChecked();
    InvalidateView();
}

void CKestroDoc::OnAlgorithmSelChange()
{
    const QComboBox* pList = AlgorithmList();
    if (pList == nullptr || pList->currentIndex() < 0)
        return;
    // An entry that does not start with a number names no algorithm; the one in use stays.
    const std::optional<std::int32_t> nNumber = AlgorithmNumberOf(pList->itemText(pList->currentIndex()));
    if (!nNumber) {
        ShowAlgorithmInUse();
        return;
    }
    m_videoSource.m_converter.SetAlgorithm(*nNumber);
    // Algorithm 11 draws the whole frame, the library's algorithms 4 pixels less on each
    // side: switching between the two kinds erases the old picture's rim.
    const bool bErase = *nNumber != m_nSelAlgorithm &&
                        (*nNumber == CCfaConverter::kOwnAlgorithm || m_nSelAlgorithm == CCfaConverter::kOwnAlgorithm);
    m_nSelAlgorithm = *nNumber;
    InvalidateView(bErase);
}

void CKestroDoc::ShowAlgorithmInUse()
{
    QComboBox* pList = AlgorithmList();
    if (pList == nullptr)
        return;
    // The entry selected normally is the one in use; when it names no algorithm, the first
    // entry that names the one in use is selected instead.
    if (AlgorithmNumberOf(pList->itemText(pList->currentIndex())) != m_nSelAlgorithm) {
        for (int i = 0; i < pList->count(); ++i) {
            if (AlgorithmNumberOf(pList->itemText(i)) == m_nSelAlgorithm) {
                pList->setCurrentIndex(i);
                break;
            }
        }
    }
    pList->setEditText(pList->itemText(pList->currentIndex()));
}

bool CKestroDoc::RefuseWithoutVideo()
{
    if (m_videoSource.IsOpen())
        return false;
    kestro::ui::showMessage("No AVI file open", "Open AVI file first");
    return true;
}

bool CKestroDoc::RefuseWhileExporting()
{
    if (!IsExporting())
        return false;
    kestro::ui::showMessage("An export is running. Wait for it to end, or stop it with Cancel or Esc, first.",
                            "Export running", kestro::ui::Icon::Information);
    return true;
}

bool CKestroDoc::IsExporting() const { return m_pExports && m_pExports->IsRunning(); }

bool CKestroDoc::CancelExport() { return m_pExports && m_pExports->Cancel(); }

void CKestroDoc::EndExportNow()
{
    if (m_pExports)
        m_pExports->StopAndWait();
}

void CKestroDoc::OnSaveFrames()
{
    if (RefuseWhileExporting() || RefuseWithoutVideo())
        return;
    kestro::shell::FileDialogRequest request;
    request.mode = kestro::shell::FileDialogMode::Save;
    request.defaultExtension = "avi";
    request.fileName = kestro::exports::ProposedSaveName(m_videoSource);
    request.startFolder = CaptureFolder();
    request.filter =
        "One AVI File (*.avi)|*.avi|BMP Files (*.bmp)|*.bmp|SER capture (*.ser)|*.ser|All Files (*.*)|*.*||";
    request.confirmOverwrite = true;
    const std::optional<std::string> path = kestro::shell::askForFile(request);
    if (!path)
        return;
    // The extension of the name chosen decides, not the filter entry picked.
    const kestro::exports::ExportKind kind = kestro::exports::SaveKindOf(*path);
    m_pExports->Start(kind == kestro::exports::ExportKind::Ser ? "Saving SER Frames" : "Saving AVI Frames", kind,
                      *path);
}

void CKestroDoc::OnSaveRgbChannels()
{
    if (RefuseWhileExporting() || RefuseWithoutVideo())
        return;
    kestro::shell::FileDialogRequest request;
    request.mode = kestro::shell::FileDialogMode::Save;
    request.defaultExtension = "avi";
    request.fileName = kestro::exports::ProposedRgbName(m_videoSource);
    request.startFolder = CaptureFolder();
    request.filter = "3 AVI Files (*.avi)|*.avi|All Files (*.*)|*.*||";
    // The name chosen is not written itself (its _b, _g and _r files are), so there is nothing
    // to ask about it here; the three files are asked about before they are written.
    request.confirmOverwrite = false;
    const std::optional<std::string> path = kestro::shell::askForFile(request);
    if (!path)
        return;
    m_pExports->Start("Saving AVI Frames", kestro::exports::ExportKind::Rgb, *path);
}

// The toolbar's RGB button takes the ticks as they are now, as the menu command does: the set
// of the last collection would be empty before the first export and stale after it.
void CKestroDoc::OnToolbarRgb()
{
    if (RefuseWhileExporting())
        return;
    if (m_pFrameList != nullptr && m_videoSource.IsOpen())
        m_pFrameList->CollectCheckedFrames();
    OnSaveRgbChannels();
}

void CKestroDoc::OnExportFitsFrames()
{
    if (RefuseWhileExporting() || RefuseWithoutVideo())
        return;
    if (m_pFrameList != nullptr)
        m_pFrameList->CollectCheckedFrames();
    // The files are proposed beside the capture, named after it; the block size is the last one
    // confirmed in this run.
    const std::filesystem::path video(m_videoSource.GetFileName());
    kestro::shell::FitsExportRequest request;
    request.blockSize = g_nLastBlockSize;
    request.prefix = kestro::exports::SplitExtension(video.filename().string()).base;
    request.folder = video.has_parent_path() ? video.parent_path().string() + "/" : std::string();
    const std::optional<kestro::shell::FitsExportRequest> answer = kestro::shell::askForFitsExport(request);
    if (!answer)
        return;
    // The folder ends with its separator, so folder and prefix make the files' base path.
    const std::string path = answer->folder + answer->prefix;
    m_pExports->Start("Saving FITS Frames", kestro::exports::ExportKind::Fits, path, answer->blockSize);
}

void CKestroDoc::SetTitle(const QString& title)
{
    m_strTitle = title;
    if (CMainFrame* pFrame = CKestroApp::MainFrame())
        pFrame->OnUpdateFrameTitle(m_strTitle);
}

void CKestroDoc::InvalidateView(bool bErase)
{
    if (m_pFrameView != nullptr)
        m_pFrameView->RequestRender(bErase);
}

bool CKestroDoc::OnCmdMsg(int nId)
{
    if (nId >= ids::ID_FILE_MRU_FIRST && nId <= ids::ID_FILE_MRU_LAST) {
        OnOpenRecentFile(nId - ids::ID_FILE_MRU_FIRST + 1);
        return true;
    }
    switch (nId) {
    case ids::ID_FILE_OPEN: OnFileOpen(); return true;
    case ids::ID_TOOLBAR_RGB: OnToolbarRgb(); return true;
    case ids::ID_EXPORT_FITS: OnExportFitsFrames(); return true;
    case ids::IDC_DISPLAY_NORMAL: OnDisplayNormal(); return true;
    case ids::IDC_DISPLAY_RAW_Y: OnDisplayRawY(); return true;
    case ids::IDC_DISPLAY_RAW_COLOUR: OnDisplayRawColour(); return true;
    case ids::IDC_PATTERN_BG: OnPatternBG(); return true;
    case ids::IDC_PATTERN_GB: OnPatternGB(); return true;
    case ids::IDC_PATTERN_GR: OnPatternGR(); return true;
    case ids::IDC_PATTERN_RG: OnPatternRG(); return true;
    case ids::IDC_SWAP_RED_BLUE: OnSwapRedBlue(); return true;
    case ids::IDC_GRAYSCALE: OnGrayscale(); return true;
    case ids::IDC_ALGORITHM: OnAlgorithmSelChange(); return true;
    case ids::ID_GOTO_FRAME: OnGoToFrame(); return true;
    case ids::ID_CHECK_BEST: OnCheckBest(); return true;
    case ids::ID_EDIT_UNDO: OnEditUndo(); return true;
    case ids::ID_EXPORT_CANCEL: CancelExport(); return true;
    case ids::ID_BYTE_ORDER_AUTO: OnByteOrder(std::nullopt); return true;
    case ids::ID_BYTE_ORDER_LITTLE: OnByteOrder(kestro::ser::ByteOrder::Little); return true;
    case ids::ID_BYTE_ORDER_BIG: OnByteOrder(kestro::ser::ByteOrder::Big); return true;
    default: return false;
    }
}
