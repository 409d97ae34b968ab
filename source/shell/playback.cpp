#include "playback.h"

#include "frame_list_model.h"
#include "kestro_doc.h"
#include "kestro_view.h"
#include "left_view.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {

// The window's clock: a precise timer, so 25 frames/s is 40 ms and not whatever a coarse timer
// rounds it to.
class CTimerClock : public CPlaybackClock {
public:
    CTimerClock()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Tick(); });
    }
    void Start(std::chrono::microseconds interval) override
    {
        m_timer.start(std::chrono::duration_cast<std::chrono::milliseconds>(interval));
    }
    void Stop() override { m_timer.stop(); }

private:
    QTimer m_timer;
};

// Rates the timer can keep; a capture claiming more plays as fast as the timer goes.
constexpr double kLowestRate = 0.1;
constexpr double kHighestRate = 1000.0;

} // namespace

CPlayback::CPlayback(CKestroDoc& doc, CLeftView& list, CKestroView& view, QObject* pParent)
    : QObject(pParent), m_doc(doc), m_list(list), m_view(view)
{
    SetClock(std::make_unique<CTimerClock>());
    // Queued: the next step is taken after the paint has ended, never inside it.
    connect(&m_view, &CKestroView::pictureShown, this, &CPlayback::OnPictureShown, Qt::QueuedConnection);
    // Another capture, or the same one filled again: what played is gone.
    connect(&m_list.GetModel(), &QAbstractItemModel::modelReset, this, [this] {
        Stop();
        m_nSteps = 0;
        m_nStepsOverPending = 0;
    });
    m_list.installEventFilter(this);
    m_list.viewport()->installEventFilter(this);
}

CPlayback::~CPlayback()
{
    if (m_pClock)
        m_pClock->SetTickHandler({});
}

void CPlayback::SetClock(std::unique_ptr<CPlaybackClock> pClock)
{
    Stop();
    m_pClock = std::move(pClock);
    m_pClock->SetTickHandler([this] { OnTick(); });
}

bool CPlayback::eventFilter(QObject* pWatched, QEvent* pEvent)
{
    // The user took the list in hand: a click picks a frame, a key moves or ticks one, and the
    // film must not carry the row away from under them. The play key never gets here: its
    // shortcut takes it before the list sees it.
    // The list's viewport is asked for only on a key or a click: other events reach this filter
    // while the list is being destroyed, when it is a list no more.
    switch (pEvent->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        if (m_bPlaying && (pWatched == &m_list || pWatched == m_list.viewport()))
            Stop();
        break;
    default: break;
    }
    return QObject::eventFilter(pWatched, pEvent);
}

double CPlayback::CaptureRate(const CVideoSource& source)
{
    double rate = 0.0;
    if (source.GetCaptureFormat() == CaptureFormat::Avi) {
        const AVISTREAMINFOA& info = source.GetStreamInfo();
        if (info.dwRate != 0 && info.dwScale != 0)
            rate = double(info.dwRate) / info.dwScale;
    } else if (const std::int32_t nLast = source.GetFrameCount() - 1; nLast > 0) {
        // Times in 100 ns ticks; a capture whose clock stood still or ran backwards says nothing.
        const std::optional<std::int64_t> first = source.GetFrameTimeUtc(0);
        const std::optional<std::int64_t> last = source.GetFrameTimeUtc(nLast);
        if (first && last && *last > *first)
            rate = nLast * 1e7 / double(*last - *first);
    }
    if (!std::isfinite(rate) || rate < kLowestRate)
        return kDefaultRate;
    return std::min(rate, kHighestRate);
}

std::int32_t CPlayback::FirstPlayable(std::int32_t nFrom, std::int32_t nTo) const
{
    const CVideoSource& source = m_doc.m_videoSource;
    const CFrameListModel& model = m_list.GetModel();
    nTo = std::min<std::int32_t>(nTo, model.rowCount());
    for (std::int32_t n = std::max(nFrom, 0); n < nTo;) {
        // A jump over a run of frames stored empty, which would only show the frame before them.
        const std::int32_t nData = source.FindDataFrame(n);
        if (nData < 0 || nData >= nTo)
            return -1;
        if (!m_bTickedOnly || model.IsTicked(nData))
            return nData;
        n = nData + 1;
    }
    return -1;
}

std::int32_t CPlayback::NextRow(std::int32_t nRow) const
{
    const std::int32_t nCount = m_list.GetModel().rowCount();
    if (!m_doc.m_videoSource.IsOpen() || nCount <= 0)
        return -1;
    const std::int32_t nNext = FirstPlayable(nRow + 1, nCount);
    if (nNext >= 0 || !m_bLoop)
        return nNext;
    return FirstPlayable(0, std::min(nRow + 1, nCount));
}

void CPlayback::Play()
{
    if (m_bPlaying || !m_doc.m_videoSource.IsOpen())
        return;
    const std::int32_t nCount = m_list.GetModel().rowCount();
    const std::int32_t nRow = m_doc.GetCurrentRow();
    // Play at the end of the film (or on its last ticked frame) shows it again from the start.
    const bool bFromStart = FirstPlayable(nRow + 1, nCount) < 0 && !m_bLoop;
    const std::int32_t nFirst = bFromStart ? FirstPlayable(0, nCount) : NextRow(nRow);
    if (nFirst < 0)
        return;
    m_bPlaying = true;
    if (bFromStart)
        m_list.GoToRow(nFirst);
    // The frame on show has been painted, unless a render of it still waits: then its paint is
    // awaited as a step's would be.
    m_bWaiting = m_view.IsRenderPending();
    StartClock();
    // As fast as possible starts at once.
    if (m_nRate == kFastest && !m_bWaiting)
        QMetaObject::invokeMethod(this, &CPlayback::OnPictureShown, Qt::QueuedConnection);
    emit stateChanged();
}

void CPlayback::Stop()
{
    if (m_pClock)
        m_pClock->Stop();
    m_bWaiting = false;
    if (!m_bPlaying)
        return;
    m_bPlaying = false;
    emit stateChanged();
}

void CPlayback::Toggle()
{
    if (m_bPlaying)
        Stop();
    else
        Play();
}

void CPlayback::SetRate(int nRate)
{
    if (nRate != kOwnRate && nRate != kFastest &&
        std::find(kFixedRates.begin(), kFixedRates.end(), nRate) == kFixedRates.end())
        return;
    m_nRate = nRate;
    if (m_bPlaying) {
        StartClock();
        if (m_nRate == kFastest && !m_bWaiting)
            QMetaObject::invokeMethod(this, &CPlayback::OnPictureShown, Qt::QueuedConnection);
    }
    emit stateChanged();
}

void CPlayback::SetLoop(bool bLoop)
{
    m_bLoop = bLoop;
    emit stateChanged();
}

void CPlayback::SetTickedOnly(bool bTickedOnly)
{
    m_bTickedOnly = bTickedOnly;
    emit stateChanged();
}

std::chrono::microseconds CPlayback::Interval() const
{
    if (m_nRate == kFastest)
        return std::chrono::duration_cast<std::chrono::microseconds>(kStallTime) / 2;
    const double rate = m_nRate == kOwnRate ? CaptureRate(m_doc.m_videoSource) : double(m_nRate);
    return std::chrono::microseconds(std::max<std::int64_t>(std::llround(1e6 / rate), 1000));
}

int CPlayback::StallTicks() const
{
    const auto interval = Interval();
    return std::max<int>(2, static_cast<int>(std::chrono::microseconds(kStallTime) / interval));
}

void CPlayback::StartClock()
{
    m_nStalledTicks = 0;
    m_pClock->Start(Interval());
}

void CPlayback::OnTick()
{
    // Nothing moves behind a dialog or a message box; playback goes on once it has closed.
    if (!m_bPlaying || QApplication::activeModalWidget() != nullptr)
        return;
    // A frame still on its way is waited for, so the pictures are all shown and none pile up;
    // a picture that is never painted (a hidden window) holds playback up for a moment only.
    if (m_bWaiting && ++m_nStalledTicks < StallTicks())
        return;
    Step();
}

void CPlayback::OnPictureShown()
{
    // A picture painted while another render waits is not the one stepped to: that one will be
    // painted and say so in its turn.
    if (!m_bPlaying || m_view.IsRenderPending())
        return;
    m_bWaiting = false;
    if (m_nRate == kFastest && QApplication::activeModalWidget() == nullptr)
        Step();
}

void CPlayback::Step()
{
    const std::int32_t nNext = NextRow(m_doc.GetCurrentRow());
    if (nNext < 0) {
        Stop();
        return;
    }
    if (m_view.IsRenderPending())
        ++m_nStepsOverPending;
    ++m_nSteps;
    m_bWaiting = true;
    m_nStalledTicks = 0;
    m_list.GoToRow(nNext);
}
