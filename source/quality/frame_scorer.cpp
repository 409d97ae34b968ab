#include "frame_scorer.h"

#include "avi_handles.h"
#include "avifile.h"
#include "capture_format.h"
#include "dib.h"
#include "parallel_for.h"
#include "ser_frames.h"
#include "ser_reader.h"
#include "sharpness.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace kestro::quality {

namespace {

// The capture's handles, released in order whatever path leaves the scorer. A SER capture has a
// reader instead, which the threads share: its reads are positioned and const.
class OpenCapture {
public:
    std::string Open(const std::string& path, const std::optional<ser::ByteOrder>& byteOrder)
    {
        if (video::CaptureFormatOf(path) == CaptureFormat::Ser) {
            ser::OpenResult opened = ser::openSer(path, {byteOrder});
            if (!opened.reader)
                return path + " cannot be opened as a SER capture: " + opened.error;
            m_ser = std::move(opened.reader);
            count = m_ser->frameCount();
            return {};
        }
        if (AVIFileOpenA(m_file.out(), path.c_str(), OF_READ, nullptr) != AVIERR_OK)
            return path + " cannot be opened as an AVI file";
        if (AVIFileGetStream(m_file.get(), m_stream.out(), streamtypeVIDEO, 0) != AVIERR_OK)
            return path + " holds no video stream";
        start = AVIStreamStart(m_stream.get());
        count = std::max<LONG>(0, AVIStreamLength(m_stream.get()));
        return {};
    }
    PAVISTREAM Stream() const { return m_stream.get(); }
    const ser::SerReader* Ser() const { return m_ser.get(); }
    // Frames are numbered from 0 as the list shows them; the services number samples from the
    // stream's start, which a header may set to anything.
    LONG PositionOf(std::int32_t frame) const { return static_cast<LONG>(std::int64_t{start} + frame); }
    bool HoldsData(std::int32_t frame) const
    {
        // Every frame a SER reader counts is whole.
        if (m_ser)
            return frame >= 0 && frame < count;
        return frame >= 0 && frame < count &&
               AVIStreamFindSample(m_stream.get(), PositionOf(frame), FIND_ANY | FIND_NEXT) == PositionOf(frame);
    }

    LONG start = 0;
    LONG count = 0;

private:
    kestro::avi::Session m_session;
    kestro::avi::FileHandle m_file;
    kestro::avi::StreamHandle m_stream;
    std::unique_ptr<ser::SerReader> m_ser;
};

// A decoder of the stream for one thread.
class Decoder {
public:
    explicit Decoder(PAVISTREAM stream) : m_frames(AVIStreamGetFrameOpen(stream, nullptr)) {}
    const BITMAPINFOHEADER* Get(std::int32_t frame)
    {
        return m_frames ? static_cast<const BITMAPINFOHEADER*>(AVIStreamGetFrame(m_frames.get(), frame)) : nullptr;
    }

private:
    kestro::avi::GetFrameHandle m_frames;
};

std::string format(const char* text, long a, long long b = 0, long long c = 0)
{
    char buffer[200];
    std::snprintf(buffer, sizeof buffer, text, a, b, c);
    return buffer;
}

// What the threads share: the frames to take, the batch hand-in, and the first reason a frame
// could not be scored.
struct Shared {
    const ScoreRequest& request;
    const ScoreBatchCallback& onBatch;
    const OpenCapture& capture;
    std::int32_t width = 0, height = 0;
    std::size_t batchFrames = 0;
    std::mutex mutex;
    std::size_t done = 0;
    ScoreOutcome& outcome;

    bool Stopped() const { return request.stop && request.stop->load(std::memory_order_relaxed); }

    void HandIn(std::vector<FrameScore>& batch)
    {
        if (batch.empty())
            return;
        std::lock_guard lock(mutex);
        done += batch.size();
        outcome.scores.insert(outcome.scores.end(), batch.begin(), batch.end());
        if (onBatch)
            onBatch(batch, done, request.frames.size());
        batch.clear();
    }

    // The reason kept is that of the lowest frame, whichever thread meets it first: the message
    // calls it "the first", and the same capture must read the same every run.
    void Unreadable(std::int32_t frame, const std::string& why)
    {
        std::lock_guard lock(mutex);
        if (outcome.unreadable++ == 0 || frame < firstUnreadable) {
            firstUnreadable = frame;
            outcome.unreadableReason = why;
        }
    }
    std::int32_t firstUnreadable = 0;
};

// A score as FrameScore hands it out: to float precision.
double asKept(double score) { return static_cast<double>(static_cast<float>(score)); }

// Frames are handed to the threads a few at a time, so that neighbouring frames are read by one
// thread and the file is read nearly in order.
constexpr std::size_t kChunk = 4;

// A frame of a SER capture, read as the display shows it: the plane in 8 bits in the RAW modes,
// the Normal picture otherwise (and for RGB and BGR frames, which have no plane).
FrameScore ScoreSerFrame(Shared& s, video::SerFrames& frames, SharpnessMeter& meter, std::vector<std::uint8_t>& buffer,
                         std::int32_t frame)
{
    ser::Status read;
    double score = 0.0;
    if (s.request.source == ScoreSource::SensorPlane && frames.HasPlane()) {
        buffer.resize(static_cast<std::size_t>(s.width) * static_cast<std::size_t>(s.height));
        read = frames.ReadPlane8(frame, buffer.data(), s.width);
        if (read)
            score = meter.Measure({buffer.data(), s.width, s.height, static_cast<std::ptrdiff_t>(s.width)});
    } else {
        const BITMAPINFOHEADER format = frames.NormalFormat();
        const std::size_t pixelsAt = kestro::dib::formatBytes(format);
        buffer.resize(pixelsAt + kestro::dib::imageBytes(format));
        std::memcpy(buffer.data(), &format, sizeof format);
        read = frames.ReadNormal(frame, buffer.data() + pixelsAt);
        if (read)
            score = meter.MeasureBitmap(format, buffer.data() + pixelsAt);
    }
    if (!read) {
        s.Unreadable(frame, read.error);
        return {frame, 0.0, false};
    }
    return {frame, asKept(std::max(score, 0.0)), score >= 0};
}

// A thread's share of the frames.
void work(Shared& s, parallel::Share& share)
{
    SharpnessMeter meter;
    std::vector<std::uint8_t> sample;
    std::unique_ptr<Decoder> decoder;
    std::unique_ptr<video::SerFrames> serFrames;
    if (const ser::SerReader* reader = s.capture.Ser())
        serFrames = std::make_unique<video::SerFrames>(*reader, 1); // the scorer has a thread per core already
    else if (s.request.source == ScoreSource::Decoded)
        decoder = std::make_unique<Decoder>(s.capture.Stream());
    const std::size_t plane = static_cast<std::size_t>(s.width) * static_cast<std::size_t>(s.height);
    std::vector<FrameScore> batch;
    const std::vector<std::int32_t>& frames = s.request.frames;
    for (parallel::Range range; share.next(range);)
        for (std::size_t k = range.begin; k < range.end; ++k) {
            if (s.Stopped()) {
                s.HandIn(batch);
                return;
            }
            FrameScore result{frames[k], 0.0, false};
            if (!s.capture.HoldsData(result.frame)) {
                batch.push_back(result);
                continue;
            }
            if (serFrames) {
                result = ScoreSerFrame(s, *serFrames, meter, sample, result.frame);
            } else if (decoder) {
                const BITMAPINFOHEADER* frame = decoder->Get(s.capture.PositionOf(result.frame));
                const double score = frame ? asKept(meter.MeasureBitmap(*frame, kestro::dib::pixels(*frame))) : -1.0;
                if (score < 0)
                    s.Unreadable(result.frame,
                                 format(frame ? "frame %ld decodes to a bitmap of %lld bits per pixel, which is not "
                                                "scored"
                                              : "frame %ld cannot be decoded",
                                        result.frame, frame ? frame->biBitCount : 0));
                result = {result.frame, std::max(score, 0.0), score >= 0};
            } else {
                // Only the plane is read: the rest of a sample (the chroma of an I420 capture, a
                // third of it) would be copied for nothing.
                LONG bytes = 0;
                sample.resize(plane);
                const HRESULT hr = AVIStreamReadPart(s.capture.Stream(), s.capture.PositionOf(result.frame), 0,
                                                     static_cast<LONG>(plane), 1, sample.data(), 0, &bytes);
                if (hr != AVIERR_OK)
                    s.Unreadable(result.frame, format("frame %ld cannot be read from the file", result.frame));
                else if (static_cast<std::size_t>(bytes) < plane)
                    s.Unreadable(result.frame,
                                 format("frame %ld is stored in %lld bytes, too few for its %lld sensor values",
                                        result.frame, static_cast<long long>(bytes), static_cast<long long>(plane)));
                else
                    result = {
                        result.frame,
                        asKept(meter.Measure({sample.data(), s.width, s.height, static_cast<std::ptrdiff_t>(s.width)})),
                        true};
            }
            batch.push_back(result);
            if (batch.size() >= s.batchFrames)
                s.HandIn(batch);
        }
    s.HandIn(batch);
}

} // namespace

ScoreOutcome ScoreFrames(const ScoreRequest& asked, const ScoreBatchCallback& onBatch)
{
    ScoreOutcome outcome;
    OpenCapture capture;
    outcome.error = capture.Open(asked.path, asked.byteOrder);
    if (!outcome.error.empty())
        return outcome;
    outcome.frameCount = capture.count;

    ScoreRequest request = asked;
    if (request.frames.empty())
        for (LONG i = 0; i < capture.count; ++i)
            if (capture.HoldsData(i))
                request.frames.push_back(i);
    if (request.frames.empty())
        return outcome;

    // The size of the sensor plane is that of the decoded frames, as the RAW display modes take it.
    std::int32_t width = 0, height = 0;
    if (const ser::SerReader* reader = capture.Ser()) {
        width = reader->layout().width;
        height = reader->layout().height;
    } else {
        Decoder decoder(capture.Stream());
        LONG first = AVIStreamFindSample(capture.Stream(), capture.start, FIND_ANY | FIND_NEXT);
        const BITMAPINFOHEADER* frame = first >= 0 ? decoder.Get(first) : nullptr;
        if (first >= 0 && !frame) {
            outcome.error = asked.path + ": its first frame cannot be decoded";
            return outcome;
        }
        if (frame) {
            width = frame->biWidth;
            height = static_cast<std::int32_t>(kestro::dib::rows(*frame));
        }
    }

    Shared shared{request, onBatch, capture, width, height, request.batchFrames, {}, 0, outcome};
    if (shared.batchFrames == 0)
        shared.batchFrames = std::clamp<std::size_t>(request.frames.size() / 100, 8, 256);
    parallel::onThreads(request.frames.size(), kChunk, request.threads,
                        [&shared](parallel::Share& share, unsigned) { work(shared, share); });

    std::sort(outcome.scores.begin(), outcome.scores.end(),
              [](const FrameScore& a, const FrameScore& b) { return a.frame < b.frame; });
    outcome.stopped = outcome.scores.size() < request.frames.size();
    return outcome;
}

ScoringJob::ScoringJob(ScoreRequest request, ScoreBatchCallback onBatch,
                       std::function<void(const ScoreOutcome&)> onFinished)
{
    request.stop = &m_stop;
    m_thread = std::thread(
        [this, request = std::move(request), onBatch = std::move(onBatch), onFinished = std::move(onFinished)] {
            const ScoreOutcome outcome = ScoreFrames(request, onBatch);
            if (onFinished)
                onFinished(outcome);
        });
}

ScoringJob::~ScoringJob()
{
    Cancel();
    Wait();
}

void ScoringJob::Wait()
{
    if (m_thread.joinable())
        m_thread.join();
}

} // namespace kestro::quality
