#include "progress_bar.h"

#include "kestro_app.h"
#include "main_frame.h"
#include "resource_ids.h"
#include "resource_strings.h"
#include "status_bar.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QThread>

#include <algorithm>
#include <atomic>

CProgressBar* g_pProgressBar = nullptr;

namespace {

// Steps counted by an export on its own thread, waiting to be shown. Only the count crosses
// between the threads; the bar and g_pProgressBar stay on the interface thread.
std::atomic<int> g_nCountedSteps{0};

bool OnInterfaceThread()
{
    const QCoreApplication* pApp = QCoreApplication::instance();
    return pApp == nullptr || QThread::currentThread() == pApp->thread();
}

CStatusBar* FindStatusBar()
{
    CMainFrame* pFrame = CKestroApp::MainFrame();
    return pFrame ? &pFrame->GetStatusBar() : nullptr;
}

} // namespace

// The status bar's layout moves and sizes the pane, but knows nothing of the control laid over
// it; this brings the control along whenever the pane may have changed.
class CProgressBar::CPaneWatcher : public QObject {
public:
    CPaneWatcher(CProgressBar& bar, QWidget* pStatusBar, QWidget* pPane)
        : m_bar(bar), m_pStatusBar(pStatusBar), m_pPane(pPane)
    {
        pStatusBar->installEventFilter(this);
        pPane->installEventFilter(this);
    }

    ~CPaneWatcher() override
    {
        if (m_pStatusBar)
            m_pStatusBar->removeEventFilter(this);
        if (m_pPane)
            m_pPane->removeEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* pEvent) override
    {
        // The layout has already placed the panes when these arrive, so the pane's rectangle
        // is the new one.
        switch (pEvent->type()) {
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::LayoutRequest: m_bar.FitToPane(); break;
        default: break;
        }
        return false;
    }

private:
    CProgressBar& m_bar;
    QPointer<QWidget> m_pStatusBar;
    QPointer<QWidget> m_pPane;
};

CProgressBar::CProgressBar() = default;

CProgressBar::~CProgressBar()
{
    DestroyControl();
    // An export that forgot to clear it would otherwise leave the engines stepping a dead bar.
    if (g_pProgressBar == this)
        g_pProgressBar = nullptr;
}

bool CProgressBar::Create(const QString& message, int nSizePercent, int nMaximum, bool bSmooth, int nPane)
{
    Q_UNUSED(bSmooth);
    // Two controls over one pane would fight over its text; the earlier one gives it back first.
    DestroyControl();

    CStatusBar* pStatusBar = FindStatusBar();
    if (!pStatusBar)
        return false;
    QLabel* pPane = pStatusBar->GetPane(nPane);
    if (!pPane)
        return false;

    auto* pControl = new QProgressBar(pStatusBar);
    pControl->setTextVisible(false);
    pControl->setGeometry(pStatusBar->GetItemRect(nPane));
    pControl->show();
    m_pControl = pControl;

    SetRange(0, nMaximum, 1);
    SetStep(1);

    m_strMessage = message;
    m_nSizePercent = nSizePercent;
    m_nPane = nPane;
    m_strSavedText = pStatusBar->GetPaneText(nPane);
    m_rcLast = {};
    // Watching starts only now: a fit before the fields above are set would place the control
    // for the wrong message.
    m_pWatcher = std::make_unique<CPaneWatcher>(*this, pStatusBar, pPane);

    FitToPane();
    return true;
}

bool CProgressBar::SetRange(int nLower, int nUpper, int nStep)
{
    if (!m_pControl)
        return false;
    m_pControl->setRange(nLower, nUpper);
    // A fresh QProgressBar stands one below its minimum ("not started") and keeps a position
    // outside a new range; both would upset Step, which counts on and wraps from the position.
    const int nValue = m_pControl->value();
    const int nBounded = std::clamp(nValue, m_pControl->minimum(), m_pControl->maximum());
    if (nBounded != nValue)
        m_pControl->setValue(nBounded);
    m_nStep = nStep;
    return true;
}

void CProgressBar::SetStep(int nStep)
{
    if (!m_pControl)
        return;
    m_pControl->show();
    m_nStep = nStep;
}

void CProgressBar::Step()
{
    if (!m_pControl)
        return;
    m_pControl->show();
    const int nMinimum = m_pControl->minimum();
    const int nMaximum = m_pControl->maximum();
    // Wider arithmetic, so a step near the top of int's range cannot wrap round.
    const long long nNext = static_cast<long long>(std::max(m_pControl->value(), nMinimum)) + m_nStep;
    // A step made by work on the interface thread is seen only if it is painted now, since no
    // events are handled until that work ends. The control does that itself, at once, whenever
    // the step changes what it shows (the bar by a chunk, or the percentage); painting the steps
    // that change nothing cost 0.3 ms each, more than a RAW Y-channel export spends on a frame.
    m_pControl->setValue(nNext > nMaximum ? nMinimum : static_cast<int>(std::max<long long>(nNext, nMinimum)));
}

int CProgressBar::ShowCountedSteps()
{
    const int nSteps = g_nCountedSteps.exchange(0, std::memory_order_relaxed);
    if (!m_pControl || nSteps <= 0)
        return nSteps;
    // Many steps come at once; the control is painted once for them, with the event loop that
    // runs while the export works, instead of at every chunk they pass.
    m_pControl->setUpdatesEnabled(false);
    for (int i = 0; i < nSteps; ++i)
        Step();
    m_pControl->setUpdatesEnabled(true);
    return nSteps;
}

bool CProgressBar::FitToPane()
{
    CStatusBar* pStatusBar = FindStatusBar();
    if (!m_pControl || !pStatusBar)
        return false;

    // Hidden means Restore has given the pane back; the message must not come back with it.
    // Only a change of text is painted at once (an export keeps the event loop from running);
    // the layout's own moves arrive with the loop running and are painted with the rest.
    if (!m_pControl->isHidden() && pStatusBar->GetPaneText(m_nPane) != m_strMessage) {
        pStatusBar->SetPaneText(m_nPane, m_strMessage);
        pStatusBar->repaint();
    }

    const QFontMetrics metrics(pStatusBar->font());
    const QRect pane = pStatusBar->GetItemRect(m_nPane);
    const PaneRect rc = PlaceInPane({pane.x(), pane.y(), pane.x() + pane.width(), pane.y() + pane.height()},
                                    m_strMessage.isEmpty() ? 0 : metrics.horizontalAdvance(m_strMessage),
                                    metrics.horizontalAdvance(QChar(u' ')), m_nSizePercent);
    // Moving a child costs a repaint of what lay under it; every resize of the window asks for
    // a fit, and most leave the pane where it was.
    if (!(rc == m_rcLast)) {
        m_pControl->setGeometry(rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top);
        m_rcLast = rc;
    }
    return true;
}

void CProgressBar::Restore()
{
    if (!m_pControl)
        return;
    m_pControl->hide();
    // The message pane goes back to idle rather than to what it showed at the start (a
    // command's prompt, stale by now); any other pane gets its own text back.
    const QString text = m_nPane == 0 ? LoadResourceString(ids::AFX_IDS_IDLEMESSAGE) : m_strSavedText;
    if (CStatusBar* pStatusBar = FindStatusBar()) {
        pStatusBar->SetPaneText(m_nPane, text);
        pStatusBar->repaint();
    }
}

CProgressBar::PaneRect CProgressBar::PlaceInPane(PaneRect pane, int nMessageWidth, int nBlankWidth, int nSizePercent)
{
    PaneRect rc = pane;
    if (nMessageWidth > 0)
        rc.left += nMessageWidth + 4 * nBlankWidth;
    const int nPercent = std::clamp(nSizePercent, 0, 100);
    rc.right -= (100 - nPercent) * (rc.right - rc.left) / 100;
    // A message as wide as the pane leaves the control no room, rather than a negative width.
    if (rc.right < rc.left)
        rc.right = rc.left;
    const int nInset = (rc.bottom - rc.top) / 10;
    rc.top += nInset;
    rc.bottom -= nInset;
    return rc;
}

void CProgressBar::DestroyControl()
{
    Restore();
    // The filters go before the control, so no fit runs against a control being deleted.
    m_pWatcher.reset();
    delete m_pControl.data();
    m_rcLast = {};
}

void StepExportProgress()
{
    if (!OnInterfaceThread()) {
        g_nCountedSteps.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    if (g_pProgressBar)
        g_pProgressBar->Step();
}

void ResetCountedSteps() { g_nCountedSteps.store(0, std::memory_order_relaxed); }
