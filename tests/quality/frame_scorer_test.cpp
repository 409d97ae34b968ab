// Scoring a capture on several threads: every frame with data scored once and alike on any number
// of threads, batches handed in one at a time, a stop obeyed, and captures that cannot be scored
// told apart from frames that cannot.
#include "frame_scorer.h"
#include "frame_bitmaps.h"
#include "planet_scene.h"
#include "ser_fixtures.h"
#include "sharpness.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <array>
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

// A SER capture is scored through the same choice of reader as the display: a 12-bit Bayer
// capture on its plane scaled to 8 bits from its real depth (the scores equal the measure of the
// writer's stored values brought to 8 bits by hand, and rank the blur) or on its grey Normal
// picture, and RGB frames, which have no plane, as Normal shows them in either mode.
TEST(FrameScorerSer, ScoresThePlaneOrPictureTheDisplayShows)
{
    const kestro::test::SerFixtures fx{"planet12-RGGB", "planet8-RGB", "width0"};
    const kestro::test::NpyArray bayer = fx.truth("planet12-RGGB");
    const int width = static_cast<int>(bayer.shape[2]), height = static_cast<int>(bayer.shape[1]);
    // The stored values brought to 8 bits by hand, measured as the plane (rows top-down) and as
    // the Normal picture (the same rows in a bottom-up bitmap).
    std::vector<double> plane, picture, blur;
    SharpnessMeter meter;
    for (std::size_t i = 0; i < bayer.frames(); ++i) {
        std::vector<std::uint8_t> values;
        for (std::size_t k = 0; k + 1 < bayer.frameBytes(); k += 2)
            values.push_back(static_cast<std::uint8_t>((bayer.frame(i)[k] | bayer.frame(i)[k + 1] << 8) >> 4));
        plane.push_back(static_cast<float>(meter.Measure({values.data(), width, height, width})));
        picture.push_back(static_cast<float>(
            meter.Measure({values.data() + (height - 1) * width, width, height, -static_cast<std::ptrdiff_t>(width)})));
        blur.push_back(-kestro::test::kPlanetSigmas[i]);
    }
    for (ScoreSource source : {ScoreSource::SensorPlane, ScoreSource::Decoded}) {
        const ScoreOutcome outcome = ScoreFrames({fx.ser("planet12-RGGB"), {}, source, 2, 0, nullptr});
        ASSERT_TRUE(outcome.error.empty()) << outcome.error;
        EXPECT_EQ(outcome.frameCount, static_cast<std::int32_t>(bayer.frames()));
        ASSERT_EQ(outcome.scores.size(), bayer.frames());
        std::vector<double> scores;
        for (const FrameScore& s : outcome.scores) {
            EXPECT_TRUE(s.valid);
            scores.push_back(s.score);
        }
        EXPECT_EQ(scores, source == ScoreSource::SensorPlane ? plane : picture);
        EXPECT_GE(kestro::scene::Spearman(scores, blur), 0.9);
    }
    // Forced into the wrong byte order the samples are noise: the choice reaches the scorer.
    ScoreRequest swapped{fx.ser("planet12-RGGB"), {}, ScoreSource::SensorPlane, 1, 0, nullptr};
    swapped.byteOrder = kestro::ser::ByteOrder::Big;
    EXPECT_NE(ScoreFrames(swapped).scores.front().score, plane.front());

    const kestro::test::NpyArray rgb = fx.truth("planet8-RGB");
    for (ScoreSource source : {ScoreSource::SensorPlane, ScoreSource::Decoded}) {
        const ScoreOutcome outcome = ScoreFrames({fx.ser("planet8-RGB"), {}, source, 2, 0, nullptr});
        ASSERT_EQ(outcome.scores.size(), rgb.frames());
        for (std::size_t i = 0; i < rgb.frames(); ++i) {
            // The bitmap Normal shows: blue, green, red, bottom row first.
            std::vector<std::array<std::uint8_t, 3>> bgr;
            for (std::size_t k = 0; k < rgb.frameBytes(); k += 3)
                bgr.push_back({rgb.frame(i)[k + 2], rgb.frame(i)[k + 1], rgb.frame(i)[k]});
            const auto bitmap = kestro::test::bitmaps::bitmap24(width, height, bgr);
            const auto& header = *reinterpret_cast<const BITMAPINFOHEADER*>(bitmap.data());
            EXPECT_EQ(outcome.scores[i].score,
                      static_cast<float>(meter.MeasureBitmap(header, kestro::dib::pixels(header))))
                << "frame " << i;
        }
    }

    const ScoreOutcome refused = ScoreFrames({fx.ser("width0"), {}, ScoreSource::SensorPlane, 1, 0, nullptr});
    EXPECT_NE(refused.error.find("cannot be opened as a SER capture: its frame width is 0"), std::string::npos)
        << refused.error;
}

} // namespace
