// An export's progress inside a pane of the main window's status bar: the pane shows a message
// such as "Saving AVI Frames" and a progress control fills the rest of the pane to its right.
// An export command keeps one as a local object; when it goes, the pane gets its text back.
//
// The bar is not a widget itself: a local object that was a child of the status bar would be
// deleted twice if the status bar went first. It owns its control instead, a child of the
// status bar placed by hand over the pane (the status bar's layout knows nothing of it), and
// watches the status bar and the pane so the control follows the pane when the layout moves it.
#pragma once

#include <QPointer>
#include <QProgressBar>
#include <QString>

#include <memory>

class CProgressBar {
public:
    // A rectangle by its edges; right and bottom lie just outside it.
    struct PaneRect {
        int left = 0;
        int top = 0;
        int right = 0;
        int bottom = 0;
        friend bool operator==(const PaneRect&, const PaneRect&) = default;
    };

    CProgressBar();
    // Restore(), then the control goes; g_pProgressBar no longer names this bar.
    ~CProgressBar();
    CProgressBar(const CProgressBar&) = delete;
    CProgressBar& operator=(const CProgressBar&) = delete;

    // Shows the message in the pane (0 is the message pane) and the control beside it, taking
    // nSizePercent of the room right of the message, with the range 0..nMaximum and step 1.
    // bSmooth is kept for the callers, but Qt's styles draw one look and it changes nothing.
    // False when there is no main window or the status bar has no such pane. Creating again
    // first gives the pane back and drops the earlier control.
    bool Create(const QString& message, int nSizePercent, int nMaximum, bool bSmooth, int nPane);

    // False without a control. The position is kept inside the new range; a control that has
    // not moved yet stands at the minimum.
    bool SetRange(int nLower, int nUpper, int nStep);
    void SetStep(int nStep);
    // One step on; past the maximum it starts over from the minimum. Paints at once.
    void Step();
    // Takes the steps an export running in the background has counted since the last call
    // (StepExportProgress off the interface thread) and shows them, painted with the next turn
    // of the event loop. Returns how many there were.
    int ShowCountedSteps();
    // Shows the message and places the control for where the pane is now; false without a
    // control or a status bar.
    bool FitToPane();
    // Hides the control and puts back the pane's text: "Ready" in the message pane, whatever
    // it showed before in any other.
    void Restore();

    // Where the control goes in a pane: right of the message and four blanks, nSizePercent of
    // the remaining width (none when the message fills the pane; a share outside 0..100 is
    // held to it), a tenth of the height off the top and off the bottom. A message width of 0
    // means no message: the control starts at the pane's left edge.
    static PaneRect PlaceInPane(PaneRect pane, int nMessageWidth, int nBlankWidth, int nSizePercent);

    QProgressBar* GetControl() const { return m_pControl.data(); }
    PaneRect GetLastRect() const { return m_rcLast; }

private:
    class CPaneWatcher;

    void DestroyControl();

    int m_nSizePercent = 0;
    int m_nPane = 0;
    QString m_strMessage;
    QString m_strSavedText;
    PaneRect m_rcLast;
    // QProgressBar has a range but no step of its own.
    int m_nStep = 1;
    QPointer<QProgressBar> m_pControl;
    std::unique_ptr<CPaneWatcher> m_pWatcher;
};

// The bar of the export that is running, for the export engines; null between exports.
extern CProgressBar* g_pProgressBar;

// The export engines' callback, once per source frame. On the interface thread it steps
// g_pProgressBar when there is one. An export running on a thread of its own must not touch a
// widget: there it only counts the step, and the bar shows the count (ShowCountedSteps).
void StepExportProgress();
// Forgets steps counted and not yet shown, before an export starts.
void ResetCountedSteps();
