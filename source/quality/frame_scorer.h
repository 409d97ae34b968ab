// Scores the frames of a capture for sharpness on several threads, without a window: the frame
// list fills its Quality column from it as scores arrive, and kestro-convert --best ranks the
// frames with it before exporting.
//
// The scorer opens the capture itself, so it never touches the CVideoSource the window is showing
// and the user can keep stepping through frames while it runs. Each thread reads samples with its
// own buffer (and decodes with its own decoder), and measures them with its own SharpnessMeter.
#pragma once

#include "data_probe.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kestro::quality {

// What a frame's score is computed from: the stored sensor values (the first width x height
// bytes of each sample, as the RAW display modes show them) or the decoded picture (Normal). A
// SER capture is read through the same rendering as the display: its plane, or its Normal
// picture, in 8 bits scaled from its real depth; RGB and BGR frames, having no plane, are
// always scored as Normal shows them.
enum class ScoreSource { SensorPlane, Decoded };

// What the scores are computed from in a display mode, so that the frames are ranked as that mode
// shows and exports them: the sensor values in the RAW modes, the decoded picture in Normal. A
// capture that cannot be shown in the RAW mode chosen is shown decoded, and scored so.
constexpr ScoreSource ScoreSourceFor(bool bRawMode, bool bRawShowable)
{
    return bRawMode && bRawShowable ? ScoreSource::SensorPlane : ScoreSource::Decoded;
}

struct FrameScore {
    std::int32_t frame = -1;
    // >= 0, larger is sharper; 0 for a frame without an object. Rounded to float precision, which
    // is what the frame list keeps of a million frames: the window and kestro-convert then rank
    // the very same numbers and choose the same frames.
    double score = 0.0;
    bool valid = false; // false: the frame holds no data, lies outside the capture, or could not be read
};

// Called with each batch of finished frames, in the order they finished (not by frame number):
// `done` frames of `total` are finished with this batch. Calls come from the scoring threads, one
// at a time (never two at once), and the batch is only valid during the call.
using ScoreBatchCallback =
    std::function<void(const std::vector<FrameScore>& batch, std::size_t done, std::size_t total)>;

struct ScoreRequest {
    std::string path;
    // Frames to score, numbered from 0 as the list shows them, each once; empty: every frame that
    // holds data.
    std::vector<std::int32_t> frames;
    ScoreSource source = ScoreSource::SensorPlane;
    // Threads to score on; 0: one per core.
    unsigned threads = 0;
    // Frames per batch handed to the callback; 0: about one hundredth of the frames, 8 to 256.
    std::size_t batchFrames = 0;
    // Looked at before each frame: once set, the threads finish the frame in hand, hand in what
    // they have, and stop.
    const std::atomic<bool>* stop = nullptr;
    // The byte order of a SER capture's 16-bit samples as the user set it; none: the data decide,
    // as they do for the display.
    std::optional<ser::ByteOrder> byteOrder = std::nullopt;
};

struct ScoreOutcome {
    // Why nothing could be scored (the capture cannot be opened, has no video, its first frame
    // cannot be decoded), in words; empty otherwise.
    std::string error;
    // Stopped by the request's stop flag before every frame was scored.
    bool stopped = false;
    // Frames asked for that hold data but could not be read or measured, and why the first was not.
    std::int32_t unreadable = 0;
    std::string unreadableReason;
    // Every frame finished, sorted by frame number (the ones not reached after a stop are absent).
    std::vector<FrameScore> scores;
    // The frames of the capture, whatever was asked.
    std::int32_t frameCount = 0;
};

// Scores the frames and returns when all are done, the stop flag was set, or the capture could
// not be read. onBatch may be empty.
ScoreOutcome ScoreFrames(const ScoreRequest& request, const ScoreBatchCallback& onBatch = {});

// ScoreFrames on a thread of its own, for a caller that must stay responsive (the window). The
// callbacks run on scoring threads: a window posts what they carry to its own thread. onFinished is
// called exactly once, last, also after Cancel. Destroying the job cancels it and waits for it.
class ScoringJob {
public:
    ScoringJob(ScoreRequest request, ScoreBatchCallback onBatch, std::function<void(const ScoreOutcome&)> onFinished);
    ~ScoringJob();
    ScoringJob(const ScoringJob&) = delete;
    ScoringJob& operator=(const ScoringJob&) = delete;

    // Asks the threads to stop at their next frame; returns at once.
    void Cancel() { m_stop.store(true, std::memory_order_relaxed); }
    // Waits until onFinished has returned.
    void Wait();

private:
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace kestro::quality
