// The document: the one open capture (through the video source), the display settings'
// handlers, and the drawing handle the frame view paints with. It lives for the whole run.
#pragma once

#include "cmd_target.h"
#include "draw_dib.h"
#include "frame_scorer.h"
#include "message_box.h"
#include "video_source.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class CExportRunner;
class CKestroView;
class CFrameScoring;
class CLeftView;
class QComboBox;

// A render of the chosen row: the picture in the display settings in force (null when there is
// none), the note drawn instead of a missing one, and what the video source had to say
// meanwhile, held back to be shown after the render. Each message is told once while the capture
// stays open and the display mode stays chosen.
struct FrameRendering {
    const BITMAPINFOHEADER* pBitmap = nullptr;
    QString note;
    std::vector<kestro::ui::Message> tell;
};

class CKestroDoc : public CCmdTarget {
public:
    CKestroDoc();
    ~CKestroDoc() override;
    CKestroDoc(const CKestroDoc&) = delete;
    CKestroDoc& operator=(const CKestroDoc&) = delete;

    CVideoSource m_videoSource;
    HDRAWDIB m_hDrawDib;
    CLeftView* m_pFrameList = nullptr;   // set by the frame list's initial update
    CKestroView* m_pFrameView = nullptr; // set by the frame view's initial update
    std::int32_t m_nSelAlgorithm = CCfaConverter::kOwnAlgorithm;

    // Runs at start-up and on every New: fills the algorithm list, presses BG, opens a new
    // drawing handle. The open capture and the display mode stay as they are.
    bool OnNewDocument();
    void OnFileOpen();
    void OnOpenRecentFile(int n);
    // Opens a capture: the frame list is rebuilt and the frame view repainted. A file that
    // cannot be opened changes nothing: the capture on show stays with its ticks, its current
    // frame and the list's scroll position.
    void OpenVideoFile(const QString& path);
    // Makes frame n current and repaints the frame view; returns what GoToFrame returned.
    std::int32_t SetCurrentFrame(std::int32_t n);
    // The frame the user chose last (the frame list's current row), -1 with no capture open.
    // A row stored empty shows the nearest earlier frame with data, so this may differ from
    // the video source's current position.
    std::int32_t GetCurrentRow() const { return m_nCurrentRow; }
    // The chosen row holds no data and no frame with data comes before it: there is no picture
    // to show for it.
    bool IsFrameMissing() const;
    // What the frame view shows for the chosen row (see FrameRendering). The mode buttons
    // afterwards show the mode the video source actually used.
    FrameRendering RenderCurrentFrame();
    // The text of the status bar's frame pane: the chosen frame, the capture's size, format,
    // rate and dropped frames; empty with no capture open.
    QString FrameStatusText() const;
    // What the status bar says about the capture as a whole: that the file ends before the
    // frames its headers promised ("9 of 20 frames hold data; the file ends early"); empty for
    // a whole file or with none open.
    QString CaptureNoteText() const;
    // Frames stored empty in the open capture, counted when the frame list was filled.
    std::int32_t m_nDroppedFrames = 0;

    // Display bar.
    void OnDisplayNormal();
    void OnDisplayRawY();
    void OnDisplayRawColour();
    void OnPatternBG();
    void OnPatternGB();
    void OnPatternGR();
    void OnPatternRG();
    // Keeps the green sites and exchanges red and blue: the one step of a Bayer order the data
    // can only make likely, one click to put right.
    void OnSwapRedBlue();
    void OnGrayscale();
    void OnAlgorithmSelChange();
    // Checks the mode button of the mode in force (after the video source fell back to Normal,
    // say) and shows the entry of the algorithm in use in the algorithm list's field.
    void ShowDisplayModeInForce();
    void ShowAlgorithmInUse();
    // Ctrl+G: asks for a frame number and makes that frame current and visible in the list.
    void OnGoToFrame();
    // View ▸ Byte Order: how the 16-bit samples of the open SER capture are read (none: as their
    // values show). The choice holds for this capture; the next one opens on Auto.
    void OnByteOrder(std::optional<kestro::ser::ByteOrder> order);

    // What the frames are scored from: the stored sensor values while a RAW mode is chosen and
    // the capture can be shown raw, the decoded picture otherwise (Normal shows a raw capture's
    // bytes as false colours, and a colour capture has no sensor plane).
    kestro::quality::ScoreSource ScoreSourceInForce() const;
    // Edit ▸ Check best…: asks how many of the sharpest frames to keep ticked and among which,
    // then ticks those and clears the others. While the frames are still being scored (a stopped
    // scoring is resumed) it waits for the last score, with the progress shown, first.
    void OnCheckBest();
    // Edit ▸ Undo: the ticks as they were before the last change.
    void OnEditUndo();
    // The last choice confirmed in the Check best dialog in this run.
    std::string m_strLastBest = "10%";
    bool m_bLastBestTickedOnly = true;

    // Export commands. Each asks for its output, then runs in the background (CExportRunner):
    // the command returns while the export works.
    void OnSaveFrames();
    void OnSaveRgbChannels();
    void OnToolbarRgb();
    void OnExportFitsFrames();
    // Whether an export runs; the commands that would change the capture or start another
    // export refuse meanwhile.
    bool IsExporting() const;
    // Cancel and Esc: the running export stops before its next frame; false when none runs.
    bool CancelExport();
    // The window closes: a running export stops, is waited for, and ends without a message.
    void EndExportNow();
    CExportRunner& GetExports() const { return *m_pExports; }

    const QString& GetTitle() const { return m_strTitle; }
    void SetTitle(const QString& title);

    bool OnCmdMsg(int nId) override;

    // Empties the algorithm list, then lists the library's non-empty names in their order and
    // the program's own algorithm last, selected.
    static void FillAlgorithmList(QComboBox& list, const std::vector<std::string>& names);

private:
    void SelectPattern(int nButton, std::int32_t nPattern);
    // Presses the pattern button of the converter's pattern: a SER capture's header chose it.
    void ShowPatternInForce();
    void ChooseDisplayMode();
    // Lets the Bayer-order bar judge its advice against the mode and pattern now in force.
    void ShowMosaicAdvice();
    void InvalidateView(bool bErase = false);
    void UpdateFrameStatus();
    // Starts scoring the open capture in the background; unless bRestart, a run of this capture
    // from the same source is left as it is.
    void ScoreOpenCapture(bool bRestart);
    bool RefuseWithoutVideo();
    // Shows the scoring's progress until it has ended; false when the user gave up waiting.
    bool WaitForScores(CFrameScoring& scoring);
    // The open capture's folder, where the file dialogs start; empty with none open.
    std::string CaptureFolder() const;
    // Tells the user that a command must wait for the export, when one runs.
    bool RefuseWhileExporting();

    QString m_strTitle;
    std::int32_t m_nCurrentRow = -1;
    // Messages the renders have told about the open capture in the display mode chosen.
    std::vector<kestro::ui::Message> m_told;
    std::unique_ptr<CExportRunner> m_pExports;
};
