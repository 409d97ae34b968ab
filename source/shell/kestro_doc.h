// The document: the one open capture (through the video source), the display settings'
// handlers, and the drawing handle the frame view paints with. It lives for the whole run.
#pragma once

#include "cmd_target.h"
#include "draw_dib.h"
#include "video_source.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class CKestroView;
class CLeftView;
class QComboBox;

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
    // Opens a capture; after a failure the previous one is opened again. Either way the frame
    // list is rebuilt and the frame view repainted.
    void OpenVideoFile(const QString& path);
    // Makes frame n current and repaints the frame view; returns what GoToFrame returned.
    std::int32_t SetCurrentFrame(std::int32_t n);

    // Display bar.
    void OnDisplayNormal();
    void OnDisplayRawY();
    void OnDisplayRawColour();
    void OnPatternBG();
    void OnPatternGB();
    void OnPatternGR();
    void OnPatternRG();
    void OnGrayscale();
    void OnAlgorithmSelChange();

    // Export commands.
    void OnSaveFrames();
    void OnSaveRgbChannels();
    void OnToolbarRgb();
    void OnExportFitsFrames();

    const QString& GetTitle() const { return m_strTitle; }
    void SetTitle(const QString& title);

    bool OnCmdMsg(int nId) override;

    // Empties the algorithm list, then lists the library's non-empty names in their order and
    // the program's own algorithm last, selected.
    static void FillAlgorithmList(QComboBox& list, const std::vector<std::string>& names);

    // The algorithm number an entry of the algorithm list stands for: its first two
    // characters read as a decimal number; nothing when they are not one.
    static std::optional<std::int32_t> AlgorithmNumberOf(const QString& entry);

private:
    void SelectPattern(int nButton, std::int32_t nPattern);
    void InvalidateView(bool bErase = false);
    bool RefuseWithoutVideo();
    template <class Engine> void RunExport(const char* pszMessage, Engine&& engine);

    QString m_strTitle;
};
