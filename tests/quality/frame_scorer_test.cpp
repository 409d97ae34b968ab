// Scoring a capture on several threads: every frame with data scored once and alike on any number
// of threads, batches handed in one at a time, a stop obeyed, and captures that cannot be scored
// told apart from frames that cannot.
#include "frame_scorer.h"
#include "planet_scene.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <map>
#include <mutex>

namespace {

using namespace kestro::quality;
using kestro::test::ScratchDir;

constexpr int kWidth = 200, kHeight = 160, kFrames = 26;

class FrameScorer : public testing::Test {
protected:
    void SetUp() override
    {
        seeings = kestro::scene::MakeSeeings(kFrames, 3.0, 0.3, 20.0, 5);
        ASSERT_TRUE(kestro::scene::WriteRawCapture(
            path, kWidth, kHeight, kFrames,
            [&](int i) {
                return kestro::scene::RenderMosaic(kWidth, kHeight, 40, kestro::bayer::kRG,
                                                   seeings[static_cast<std::size_t>(i)], 50 + i);
            },
            kEmpty));
    }

    const std::set<int> kEmpty{4, 11};
    ScratchDir dir;
    std::string path = dir.file("capture.avi");
    std::vector<kestro::scene::Seeing> seeings;
};

TEST_F(FrameScorer, ScoresEveryFrameWithDataOnceInBatchesHandedInOneAtATime)
{
    std::vector<FrameScore> single;
    for (unsigned threads : {1u, 3u}) {
        SCOPED_TRACE(threads);
        std::mutex seen;
        bool inside = false, overlapped = false;
        std::size_t calls = 0, delivered = 0, lastDone = 0;
        ScoreRequest request{path, {}, ScoreSource::SensorPlane, threads, 5, nullptr};
        const ScoreOutcome outcome = ScoreFrames(request, [&](const auto& batch, std::size_t done, std::size_t total) {
            {
                std::lock_guard lock(seen);
                overlapped = overlapped || inside;
                inside = true;
            }
            EXPECT_LE(batch.size(), 5u);
            EXPECT_EQ(total, std::size_t{kFrames - 2});
            EXPECT_GT(done, lastDone);
            lastDone = done;
            delivered += batch.size();
            ++calls;
            std::lock_guard lock(seen);
            inside = false;
        });
        EXPECT_TRUE(outcome.error.empty()) << outcome.error;
        EXPECT_FALSE(outcome.stopped);
        EXPECT_FALSE(overlapped);
        EXPECT_EQ(delivered, std::size_t{kFrames - 2});
        EXPECT_EQ(lastDone, delivered);
        EXPECT_GE(calls, 5u);
        EXPECT_EQ(outcome.frameCount, kFrames);
        EXPECT_EQ(outcome.unreadable, 0);
        ASSERT_EQ(outcome.scores.size(), std::size_t{kFrames - 2});
        std::vector<double> score, sharpness;
        for (std::size_t k = 0; k < outcome.scores.size(); ++k) {
            const FrameScore& s = outcome.scores[k];
            EXPECT_TRUE(s.valid);
            EXPECT_EQ(kEmpty.count(s.frame), 0u);
            if (k > 0) {
                EXPECT_LT(outcome.scores[k - 1].frame, s.frame);
            }
            score.push_back(s.score);
            sharpness.push_back(-seeings[static_cast<std::size_t>(s.frame)].sigma);
            if (!single.empty()) {
                EXPECT_EQ(s.score, single[k].score) << "frame " << s.frame;
            }
        }
        EXPECT_GE(kestro::scene::Spearman(score, sharpness), 0.95);
        single = outcome.scores;
    }
}

// Frames asked for by number: those without data, or past the end, come back invalid and unread.
TEST_F(FrameScorer, FramesWithoutDataAreInvalidNotUnreadable)
{
    ScoreRequest request{path, {3, 4, 11, 12, 400, -1}, ScoreSource::SensorPlane, 2, 0, nullptr};
    const ScoreOutcome outcome = ScoreFrames(request);
    ASSERT_EQ(outcome.scores.size(), 6u);
    std::map<std::int32_t, bool> valid;
    for (const FrameScore& s : outcome.scores)
        valid[s.frame] = s.valid;
    EXPECT_EQ(valid, (std::map<std::int32_t, bool>{
                         {-1, false}, {3, true}, {4, false}, {11, false}, {12, true}, {400, false}}));
    EXPECT_EQ(outcome.unreadable, 0);
}

// The decoded picture of a raw capture is its mosaic in grey: it ranks the frames the same way.
TEST_F(FrameScorer, DecodedFramesRankAlike)
{
    const ScoreOutcome raw = ScoreFrames({path, {}, ScoreSource::SensorPlane, 2, 0, nullptr});
    const ScoreOutcome decoded = ScoreFrames({path, {}, ScoreSource::Decoded, 2, 0, nullptr});
    ASSERT_EQ(decoded.scores.size(), raw.scores.size());
    std::vector<double> a, b;
    for (std::size_t k = 0; k < raw.scores.size(); ++k) {
        EXPECT_TRUE(decoded.scores[k].valid);
        a.push_back(raw.scores[k].score);
        b.push_back(decoded.scores[k].score);
    }
    EXPECT_GE(kestro::scene::Spearman(a, b), 0.95);
}

TEST_F(FrameScorer, StopsWhenAskedAndSaysSo)
{
    std::atomic<bool> stop{false};
    const ScoreOutcome outcome = ScoreFrames({path, {}, ScoreSource::SensorPlane, 2, 2, &stop},
                                             [&](const auto&, std::size_t, std::size_t) { stop = true; });
    EXPECT_TRUE(outcome.stopped);
    EXPECT_LT(outcome.scores.size(), std::size_t{kFrames - 2});
    EXPECT_GE(outcome.scores.size(), 2u);
}

TEST_F(FrameScorer, AJobCancelledAtOnceStillFinishesOnce)
{
    int finished = 0;
    bool stopped = false;
    {
        ScoringJob job({path, {}, ScoreSource::SensorPlane, 2, 1, nullptr}, {}, [&](const ScoreOutcome& outcome) {
            ++finished;
            stopped = outcome.stopped;
        });
        job.Cancel();
        job.Wait();
        EXPECT_EQ(finished, 1);
    }
    EXPECT_EQ(finished, 1);
    EXPECT_TRUE(stopped);

    // Left to run, the job scores everything before its destructor returns.
    std::size_t scored = 0;
    {
        ScoringJob job({path, {}, ScoreSource::SensorPlane, 2, 0, nullptr}, {},
                       [&](const ScoreOutcome& outcome) { scored = outcome.scores.size(); });
        job.Wait();
    }
    EXPECT_EQ(scored, std::size_t{kFrames - 2});
}

TEST_F(FrameScorer, CapturesThatCannotBeScoredSayWhy)
{
    EXPECT_NE(ScoreFrames({dir.file("missing.avi"), {}, ScoreSource::SensorPlane, 1, 0, nullptr})
                  .error.find("cannot be opened"),
              std::string::npos);
    kestro::test::writeFile(dir.file("text.avi"), {'n', 'o', 't', ' ', 'a', 'v', 'i'});
    EXPECT_FALSE(ScoreFrames({dir.file("text.avi"), {}, ScoreSource::SensorPlane, 1, 0, nullptr}).error.empty());

    // A compressed capture stores far fewer bytes than a sensor plane: its frames are unreadable as
    // raw, with the reason, and score from their decoded pictures.
    if (!kestro::test::haveTool("ffmpeg"))
        GTEST_SKIP() << "ffmpeg writes the compressed capture";
    const std::string mjpeg = dir.file("mjpeg.avi");
    ASSERT_EQ(kestro::test::run("ffmpeg -v error -f lavfi -i testsrc2=size=160x120:rate=10 -frames 6 -c:v mjpeg " +
                                kestro::test::quote(mjpeg)),
              0);
    const ScoreOutcome raw = ScoreFrames({mjpeg, {}, ScoreSource::SensorPlane, 2, 0, nullptr});
    EXPECT_EQ(raw.unreadable, 6);
    EXPECT_NE(raw.unreadableReason.find("too few for its 19200 sensor values"), std::string::npos)
        << raw.unreadableReason;
    for (const FrameScore& s : raw.scores)
        EXPECT_FALSE(s.valid);
    // "The first" reason is the lowest frame's, in whatever order the frames are met.
    const ScoreOutcome backwards = ScoreFrames({mjpeg, {5, 4, 3, 2, 1, 0}, ScoreSource::SensorPlane, 1, 0, nullptr});
    EXPECT_EQ(backwards.unreadable, 6);
    EXPECT_EQ(backwards.unreadableReason.rfind("frame 0 ", 0), 0u) << backwards.unreadableReason;
    const ScoreOutcome decoded = ScoreFrames({mjpeg, {}, ScoreSource::Decoded, 2, 0, nullptr});
    EXPECT_EQ(decoded.unreadable, 0);
    ASSERT_EQ(decoded.scores.size(), 6u);
    for (const FrameScore& s : decoded.scores)
        EXPECT_TRUE(s.valid && s.score > 0);
}

} // namespace
