// Scores the open capture's frames in the background and fills the frame list's Quality column
// as the scores arrive.
//
// The scoring threads hand in batches one at a time; each batch is posted to the window's thread
// and shown there as one change of the list, so a capture of a hundred thousand frames repaints
// the list a few hundred times, not once per frame. Every run has a generation number: a batch
// posted by a run that has since been stopped (another capture opened, the display mode changed)
// finds a newer generation when it arrives and is dropped, so no score reaches the wrong capture.
// Scores live in memory for the capture on show only; nothing is written anywhere.
#pragma once

#include "frame_scorer.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CFrameListModel;

class CFrameScoring : public QObject {
    Q_OBJECT
public:
    enum class State { Idle, Running, Stopped, Finished, Failed };

    explicit CFrameScoring(CFrameListModel& model, QObject* pParent = nullptr);
    // Stops a run and waits for its threads.
    ~CFrameScoring() override;

    // Stops any run, clears the scores on show and scores the listed frames (those holding
    // data) of the capture at `path` from `source`. An empty path only stops.
    // A SER capture's 16-bit samples are read in byteOrder (none: as their values show).
    void Start(const std::string& path, kestro::quality::ScoreSource source, std::vector<std::int32_t> frames,
               std::optional<kestro::ser::ByteOrder> byteOrder = std::nullopt);
    // Scores the frames a stopped run did not reach, keeping the scores it found.
    void Resume();
    // Asks a run to stop after the frames in hand (Esc); returns at once. False when none runs.
    bool Cancel();
    // Stops a run, waits for its threads and forgets its scores; nothing is scored afterwards.
    void Clear();

    State GetState() const { return m_state; }
    bool IsRunning() const { return m_state == State::Running; }
    const std::string& GetPath() const { return m_strPath; }
    kestro::quality::ScoreSource GetSource() const { return m_source; }
    const std::optional<kestro::ser::ByteOrder>& GetByteOrder() const { return m_byteOrder; }
    // Frames finished (scored or found without data) and frames asked for, in this capture.
    std::size_t GetDone() const { return m_nDone; }
    std::size_t GetTotal() const { return m_nTotal; }
    // Whole percent of the frames finished.
    int GetPercent() const;
    // Batches shown since the last Start.
    std::size_t GetBatchesShown() const { return m_nBatches; }
    // What the status bar shows about scoring: progress, the end, or why it failed; empty when idle.
    const QString& GetStatusText() const { return m_strStatus; }

    // Frames per batch; 0 lets the scorer choose (about a hundredth of the frames). For tests.
    void SetBatchFrames(std::size_t n) { m_nBatchFrames = n; }

signals:
    void statusChanged(const QString& text);
    void stateChanged();

private:
    // What the window needs of a finished run.
    struct RunEnd {
        std::string error;
        bool bStopped = false;
        std::int32_t nUnreadable = 0;
        std::string unreadableReason;
    };

    void Launch(std::vector<std::int32_t> frames);
    void StopAndWait();
    void ShowBatch(std::uint64_t nGeneration, const std::vector<kestro::quality::FrameScore>& batch, std::size_t nDone,
                   std::size_t nTotal);
    void Finish(std::uint64_t nGeneration, const RunEnd& end);
    void SetStatus(const QString& text);

    CFrameListModel& m_model;
    std::unique_ptr<kestro::quality::ScoringJob> m_pJob;
    std::uint64_t m_nGeneration = 0;
    State m_state = State::Idle;
    std::string m_strPath;
    kestro::quality::ScoreSource m_source = kestro::quality::ScoreSource::SensorPlane;
    std::optional<kestro::ser::ByteOrder> m_byteOrder;
    // The frames asked for, and per frame of the capture whether some run has finished it.
    std::vector<std::int32_t> m_frames;
    std::vector<std::uint8_t> m_finished;
    std::int32_t m_nFrameCount = 0;
    std::size_t m_nDone = 0;
    std::size_t m_nTotal = 0;
    // Of the current run: frames finished before it started (a resumed run).
    std::size_t m_nDoneBefore = 0;
    std::size_t m_nBatches = 0;
    std::size_t m_nBatchFrames = 0;
    bool m_bStopAsked = false;
    QString m_strStatus;
};
