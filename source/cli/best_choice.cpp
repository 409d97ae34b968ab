#include "best_choice.h"

#include "best_frames.h"
#include "frame_scorer.h"
#include "list_text.h"

namespace kestro::cli {

namespace {

// The scorer's reasons begin with the capture's path, which the summary line names already.
std::string withoutPath(const std::string& reason, const std::string& path)
{
    if (!reason.starts_with(path))
        return reason;
    std::string rest = reason.substr(path.size());
    while (!rest.empty() && (rest.front() == ':' || rest.front() == ' '))
        rest.erase(rest.begin());
    return rest;
}

std::string describeUnscored(const std::vector<std::int32_t>& frames, const std::string& reason)
{
    constexpr std::size_t kListed = 8;
    const std::vector<std::int32_t> listed(frames.begin(), frames.begin() + std::min(frames.size(), kListed));
    std::string text = std::to_string(frames.size()) +
                       " of the frames to score could not be read and were left out: " + rangesText(listed) +
                       kestro::exports::MoreText(frames.size() - listed.size()) + ".";
    if (!reason.empty())
        text += " The first: " + reason + ".";
    return text;
}

} // namespace

BestChoice chooseBest(const ConvertOptions& o, CapturePlan& plan, unsigned threads, const std::atomic<bool>* stop,
                      const std::function<void(std::size_t done)>& onProgress)
{
    BestChoice choice;
    plan.chosen = true;
    plan.candidates = static_cast<std::int32_t>(plan.taken.size());
    // An empty list would ask the scorer for every frame of the capture.
    if (plan.taken.empty())
        return choice;

    quality::ScoreRequest request;
    request.path = plan.capture;
    request.frames = plan.taken;
    // A capture its RAW mode cannot show was refused, in the export's words, before scoring.
    request.source = quality::ScoreSourceFor(o.mode != DisplayMode::Normal, true);
    request.threads = threads;
    request.stop = stop;
    request.byteOrder = o.byteOrder;
    const quality::ScoreOutcome outcome =
        quality::ScoreFrames(request, [&](const std::vector<quality::FrameScore>&, std::size_t done, std::size_t) {
            if (onProgress)
                onProgress(done);
        });
    if (!outcome.error.empty()) {
        plan.failure = "it cannot be scored: " + withoutPath(outcome.error, plan.capture);
        return choice;
    }
    if (outcome.stopped) {
        choice.stopped = true;
        return choice;
    }
    std::vector<std::int32_t> unscored;
    for (const quality::FrameScore& s : outcome.scores)
        if (!s.valid)
            unscored.push_back(s.frame);
    if (!unscored.empty())
        choice.unscored = describeUnscored(unscored, outcome.unreadableReason);
    plan.taken = quality::ChooseBest(plan.taken, outcome.scores, *o.best);
    planFiles(o, plan);
    return choice;
}

} // namespace kestro::cli
