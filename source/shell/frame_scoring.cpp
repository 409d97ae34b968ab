#include "frame_scoring.h"

#include "frame_list_model.h"

#include <QLocale>

#include <algorithm>

using kestro::quality::FrameScore;
using kestro::quality::ScoreOutcome;
using kestro::quality::ScoreRequest;
using kestro::quality::ScoreSource;
using kestro::quality::ScoringJob;

namespace {

QString Count(std::size_t n) { return QLocale().toString(static_cast<qulonglong>(n)); }

} // namespace

CFrameScoring::CFrameScoring(CFrameListModel& model, QObject* pParent) : QObject(pParent), m_model(model) {}

CFrameScoring::~CFrameScoring() { StopAndWait(); }

void CFrameScoring::StopAndWait()
{
    // Whatever the old run has posted and not yet delivered now belongs to an old generation.
    ++m_nGeneration;
    // The job's destructor stops its threads and waits for them.
    m_pJob.reset();
}

void CFrameScoring::Start(const std::string& path, ScoreSource source, std::vector<std::int32_t> frames,
                          std::optional<kestro::ser::ByteOrder> byteOrder)
{
    StopAndWait();
    m_model.ClearScores();
    m_strPath = path;
    m_source = source;
    m_byteOrder = byteOrder;
    m_nFrameCount = m_model.rowCount();
    m_finished.assign(static_cast<std::size_t>(m_nFrameCount), 0);
    std::erase_if(frames, [this](std::int32_t n) { return n < 0 || n >= m_nFrameCount; });
    m_frames = std::move(frames);
    m_nDone = m_nDoneBefore = 0;
    m_nTotal = m_frames.size();
    m_nBatches = 0;
    if (path.empty() || m_frames.empty()) {
        m_state = path.empty() ? State::Idle : State::Finished;
        SetStatus(path.empty() ? QString() : tr("No frame holds data to score"));
        emit stateChanged();
        return;
    }
    Launch(m_frames);
}

void CFrameScoring::Resume()
{
    if (m_state != State::Stopped || m_strPath.empty())
        return;
    StopAndWait();
    std::vector<std::int32_t> frames;
    for (const std::int32_t n : m_frames) {
        if (m_finished[static_cast<std::size_t>(n)] == 0)
            frames.push_back(n);
    }
    m_nDoneBefore = m_nDone;
    m_nTotal = m_nDone + frames.size();
    if (frames.empty()) {
        m_state = State::Finished;
        SetStatus(tr("%1 frames scored").arg(Count(m_nDone)));
        emit stateChanged();
        return;
    }
    Launch(std::move(frames));
}

void CFrameScoring::Launch(std::vector<std::int32_t> frames)
{
    const std::uint64_t nGeneration = ++m_nGeneration;
    ScoreRequest request;
    request.path = m_strPath;
    request.frames = std::move(frames);
    request.source = m_source;
    request.byteOrder = m_byteOrder;
    request.batchFrames = m_nBatchFrames;
    // The callbacks run on the scoring threads: they only post to this object's thread. They can
    // rely on `this`, because it stops the job and waits for it before it goes.
    auto onBatch = [this, nGeneration](const std::vector<FrameScore>& batch, std::size_t nDone, std::size_t nTotal) {
        QMetaObject::invokeMethod(
            this, [this, nGeneration, batch, nDone, nTotal] { ShowBatch(nGeneration, batch, nDone, nTotal); },
            Qt::QueuedConnection);
    };
    auto onFinished = [this, nGeneration](const ScoreOutcome& outcome) {
        // The scores themselves came with the batches.
        RunEnd end{outcome.error, outcome.stopped, outcome.unreadable, outcome.unreadableReason};
        QMetaObject::invokeMethod(
            this, [this, nGeneration, end = std::move(end)] { Finish(nGeneration, end); }, Qt::QueuedConnection);
    };
    m_state = State::Running;
    m_bStopAsked = false;
    SetStatus(tr("Scoring frames\u2026 %1%").arg(GetPercent()));
    emit stateChanged();
    m_pJob = std::make_unique<ScoringJob>(std::move(request), std::move(onBatch), std::move(onFinished));
}

bool CFrameScoring::Cancel()
{
    if (m_state != State::Running || !m_pJob)
        return false;
    m_pJob->Cancel();
    m_bStopAsked = true;
    SetStatus(tr("Stopping scoring\u2026"));
    return true;
}

void CFrameScoring::Clear()
{
    StopAndWait();
    m_model.ClearScores();
    m_strPath.clear();
    m_frames.clear();
    m_finished.clear();
    m_nFrameCount = 0;
    m_nDone = m_nTotal = m_nDoneBefore = m_nBatches = 0;
    m_state = State::Idle;
    SetStatus(QString());
    emit stateChanged();
}

int CFrameScoring::GetPercent() const
{
    return m_nTotal == 0 ? 0 : static_cast<int>(std::min<std::size_t>(100, m_nDone * 100 / m_nTotal));
}

void CFrameScoring::ShowBatch(std::uint64_t nGeneration, const std::vector<FrameScore>& batch, std::size_t nDone,
                              std::size_t nTotal)
{
    if (nGeneration != m_nGeneration)
        return;
    for (const FrameScore& s : batch) {
        if (s.frame >= 0 && s.frame < m_nFrameCount)
            m_finished[static_cast<std::size_t>(s.frame)] = 1;
    }
    m_model.SetScores(batch);
    ++m_nBatches;
    m_nDone = m_nDoneBefore + nDone;
    m_nTotal = m_nDoneBefore + nTotal;
    if (m_state == State::Running && !m_bStopAsked)
        SetStatus(tr("Scoring frames\u2026 %1%").arg(GetPercent()));
}

void CFrameScoring::Finish(std::uint64_t nGeneration, const RunEnd& end)
{
    if (nGeneration != m_nGeneration)
        return;
    // The thread has handed in its last batch and is returning; joining it takes a moment.
    m_pJob.reset();
    if (!end.error.empty()) {
        m_state = State::Failed;
        SetStatus(tr("Frames cannot be scored: %1").arg(QString::fromStdString(end.error)));
    } else if (end.bStopped) {
        m_state = State::Stopped;
        SetStatus(tr("Scoring stopped: %1 of %2 frames scored").arg(Count(m_nDone), Count(m_nTotal)));
    } else {
        m_state = State::Finished;
        m_nTotal = m_nDone;
        QString text = tr("%1 frames scored").arg(Count(m_nDone));
        if (end.nUnreadable > 0)
            text += tr("; %1 could not be read: %2")
                        .arg(Count(static_cast<std::size_t>(end.nUnreadable)),
                             QString::fromStdString(end.unreadableReason));
        SetStatus(text);
    }
    emit stateChanged();
}

void CFrameScoring::SetStatus(const QString& text)
{
    if (text == m_strStatus)
        return;
    m_strStatus = text;
    emit statusChanged(text);
}
