// The frame scorer and the choice of the best frames over fuzzed captures.
//
// Input: a settings byte, then the capture. Bit 0 chooses what is scored (the stored sensor plane
// or the decoded picture); bits 1-7 the share kept by the choice, 1 to 100 percent. The first 32
// positions of the capture are scored, also those without data.
//
// Properties:
// - an error comes alone: no scores with it;
// - without one, every position asked for has exactly one score, in frame order, and valid scores
//   are finite and not negative; a frame that is not valid holds no data or is counted unreadable,
//   with the reason given;
// - the batches handed to the callback add up to the frames scored, `done` counting up to them;
// - scoring on three threads, one frame per batch, gives the very same scores as on one;
// - the choice keeps the share's number of the valid frames, in frame order, each as sharp as
//   any frame left out.
#include "best_frames.h"
#include "frame_scorer.h"
#include "fuzz_support.h"
#include "memory_file.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using kestro::fuzz::require;
using namespace kestro::quality;

constexpr std::int32_t kPositions = 32;

std::string name(ScoreSource source) { return source == ScoreSource::Decoded ? "decoded" : "sensor plane"; }

void checkOutcome(const ScoreOutcome& o, const std::vector<std::int32_t>& asked, ScoreSource source)
{
    if (!o.error.empty()) {
        require(o.scores.empty() && o.unreadable == 0, "scores came with the error \"" + o.error + "\"");
        return;
    }
    require(!o.stopped, "scoring stopped without being asked to, " + name(source));
    require(o.scores.size() == asked.size(), "scored " + std::to_string(o.scores.size()) + " of " +
                                                 std::to_string(asked.size()) + " frames, " + name(source));
    std::int32_t invalid = 0;
    for (std::size_t k = 0; k < o.scores.size(); ++k) {
        const FrameScore& s = o.scores[k];
        require(s.frame == asked[k], "the scores are not one per frame in frame order, " + name(source));
        if (s.valid)
            require(std::isfinite(s.score) && s.score >= 0.0,
                    "frame " + std::to_string(s.frame) + " scored " + std::to_string(s.score));
        else
            ++invalid;
    }
    require(o.unreadable <= invalid, "more frames unreadable than frames without a score, " + name(source));
    require(o.unreadable == 0 || !o.unreadableReason.empty(), "unreadable frames without a reason, " + name(source));
}

void checkChoice(const ScoreOutcome& o, const BestCount& count)
{
    std::vector<std::int32_t> candidates;
    std::vector<double> validScores;
    for (const FrameScore& s : o.scores) {
        candidates.push_back(s.frame);
        if (s.valid)
            validScores.push_back(s.score);
    }
    const std::vector<std::int32_t> kept = ChooseBest(candidates, o.scores, count);
    require(kept.size() == count.Of(validScores.size()), "the choice kept " + std::to_string(kept.size()) +
                                                             " frames of " + std::to_string(validScores.size()) +
                                                             " for " + count.Text());
    require(std::is_sorted(kept.begin(), kept.end()) && std::adjacent_find(kept.begin(), kept.end()) == kept.end(),
            "the frames kept are not in frame order");
    double worstKept = INFINITY;
    for (const std::int32_t frame : kept) {
        const auto it =
            std::find_if(o.scores.begin(), o.scores.end(), [&](const FrameScore& s) { return s.frame == frame; });
        require(it != o.scores.end() && it->valid,
                "the choice kept frame " + std::to_string(frame) + " without a score");
        worstKept = std::min(worstKept, it->score);
    }
    for (const FrameScore& s : o.scores)
        if (s.valid && !std::binary_search(kept.begin(), kept.end(), s.frame))
            require(s.score <= worstKept, "frame " + std::to_string(s.frame) + " was left out though sharper");
}

void exercise(const std::string& path, ScoreSource source, const BestCount& count)
{
    std::vector<std::int32_t> asked(kPositions);
    for (std::int32_t k = 0; k < kPositions; ++k)
        asked[static_cast<std::size_t>(k)] = k;

    ScoreRequest request;
    request.path = path;
    request.frames = asked;
    request.source = source;
    request.threads = 1;
    std::size_t handedIn = 0, lastDone = 0;
    const ScoreOutcome one =
        ScoreFrames(request, [&](const std::vector<FrameScore>& batch, std::size_t done, std::size_t total) {
            handedIn += batch.size();
            require(done == handedIn && done > lastDone && total == asked.size(), "the batches do not add up");
            lastDone = done;
        });
    checkOutcome(one, asked, source);
    if (one.error.empty())
        require(handedIn == one.scores.size(), "the batches do not add up to the frames scored");

    request.threads = 3;
    request.batchFrames = 1;
    const ScoreOutcome three = ScoreFrames(request);
    require(three.error == one.error && three.unreadable == one.unreadable && three.scores.size() == one.scores.size(),
            "three threads did not score as one, " + name(source));
    for (std::size_t k = 0; k < one.scores.size(); ++k)
        require(three.scores[k].frame == one.scores[k].frame && three.scores[k].valid == one.scores[k].valid &&
                    three.scores[k].score == one.scores[k].score,
                "frame " + std::to_string(one.scores[k].frame) + " scored otherwise on three threads, " + name(source));

    if (one.error.empty())
        checkChoice(one, count);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const ScoreSource source = (data[0] & 1) ? ScoreSource::Decoded : ScoreSource::SensorPlane;
    BestCount count;
    count.kind = BestCount::Kind::Percent;
    count.value = 1 + (data[0] >> 1) % 100;
    kestro::fuzz::withMemoryFile(data + 1, size - 1, [&](const std::string& path) { exercise(path, source, count); });
    return 0;
}
