// The values of kestro-convert's --frames and --best: the whole input (up to 256 bytes) is the text
// given, read both ways.
//
// --frames (FrameList::parse):
// - a text is refused with a reason, or read into a list;
// - round trip: the frames the list holds below 512, written by rangesText, read back as the same
//   frames, and rangesText of those gives the same text again;
// - outOfRange(count) names, as lists that parse, exactly the frames from count on that the list
//   holds (checked below 512; a range open to the end that starts below count is not named), and
//   nothing below count.
// --best (BestCount::Parse):
// - a text is refused with a reason, or read into a share in (0, 100] or a count of at least 1;
// - round trip: Text() is read back as the same count;
// - Of(n) keeps at most n, at least 1 of a non-empty set, and never fewer of more;
// - the choice among frames with scores taken from the text keeps Of(valid) of them, in order.
#include "best_frames.h"
#include "frame_list.h"
#include "fuzz_support.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using kestro::cli::FrameList;
using kestro::fuzz::require;
using kestro::quality::BestCount;

constexpr std::int32_t kWindow = 512;

std::vector<std::int32_t> framesBelow(const FrameList& list, std::int32_t end, std::int32_t from = 0)
{
    std::vector<std::int32_t> frames;
    for (std::int32_t f = from; f < end; ++f)
        if (list.contains(f))
            frames.push_back(f);
    return frames;
}

void checkFrames(const std::string& text)
{
    std::string why;
    const std::optional<FrameList> list = FrameList::parse(text, &why);
    if (!list) {
        require(!why.empty(), "--frames \"" + text + "\" refused without a reason");
        return;
    }
    require(!list->contains(-1) && !list->contains(INT32_MIN), "--frames \"" + text + "\" holds a negative frame");
    const std::vector<std::int32_t> frames = framesBelow(*list, kWindow);
    const std::string written = kestro::cli::rangesText(frames);
    if (!frames.empty()) {
        const std::optional<FrameList> again = FrameList::parse(written, &why);
        require(again.has_value(),
                "--frames \"" + text + "\" written as \"" + written + "\", which is refused: " + why);
        require(framesBelow(*again, kWindow + 1) == frames,
                "--frames \"" + text + "\" written as \"" + written + "\" reads back as other frames");
        require(kestro::cli::rangesText(framesBelow(*again, kWindow)) == written,
                "rangesText is not stable for \"" + written + "\"");
    }

    for (const std::int32_t count : {0, 1, 7, 100, kWindow - 1}) {
        std::vector<bool> named(kWindow, false);
        for (const std::string& outside : list->outOfRange(count)) {
            const std::optional<FrameList> part = FrameList::parse(outside, &why);
            require(part.has_value(), "outOfRange(" + std::to_string(count) + ") of \"" + text + "\" gave \"" +
                                          outside + "\", which is refused");
            require(framesBelow(*part, count).empty(), "outOfRange(" + std::to_string(count) + ") of \"" + text +
                                                           "\" names a frame below the count: \"" + outside + "\"");
            for (const std::int32_t f : framesBelow(*part, kWindow, count))
                named[static_cast<std::size_t>(f)] = true;
        }
        // A range open to the end that starts below the count runs to the last frame there is: what
        // it holds from the count on is not out of range.
        const bool openFromBelow =
            framesBelow(*list, kWindow, count).size() == static_cast<std::size_t>(kWindow - count);
        for (std::int32_t f = count; f < kWindow; ++f)
            require(openFromBelow ? !named[static_cast<std::size_t>(f)] || list->contains(f)
                                  : named[static_cast<std::size_t>(f)] == list->contains(f),
                    "outOfRange(" + std::to_string(count) + ") of \"" + text + "\" is wrong about frame " +
                        std::to_string(f));
    }
}

void checkBest(const std::string& text)
{
    std::string why;
    const std::optional<BestCount> count = BestCount::Parse(text, &why);
    if (!count) {
        require(!why.empty(), "--best \"" + text + "\" refused without a reason");
        return;
    }
    const bool percent = count->kind == BestCount::Kind::Percent;
    require(percent ? count->value > 0.0 && count->value <= 100.0
                    : count->value >= 1.0 && count->value == std::floor(count->value),
            "--best \"" + text + "\" read as " + std::to_string(count->value));
    const std::string written = count->Text();
    const std::optional<BestCount> again = BestCount::Parse(written, &why);
    require(again && again->kind == count->kind && again->value == count->value,
            "--best \"" + text + "\" written as \"" + written + "\", which reads back otherwise" +
                (again ? "" : ": " + why));

    std::size_t previous = 0;
    for (const std::size_t n : {0, 1, 2, 3, 7, 10, 30, 99, 100, 101, 1000, 1000000}) {
        const std::size_t kept = count->Of(n);
        require(kept <= n && (n == 0 || kept >= 1) && kept >= previous,
                "--best \"" + text + "\" keeps " + std::to_string(kept) + " of " + std::to_string(n));
        previous = kept;
    }

    // Scores from the text's bytes, every third frame without one.
    std::vector<std::int32_t> candidates;
    std::vector<kestro::quality::FrameScore> scores;
    std::size_t valid = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto frame = static_cast<std::int32_t>(i);
        candidates.push_back(frame);
        const bool scored = i % 3 != 2;
        valid += scored;
        scores.push_back({frame, static_cast<double>(static_cast<unsigned char>(text[i]) % 16), scored});
    }
    const std::vector<std::int32_t> kept = kestro::quality::ChooseBest(candidates, scores, *count);
    require(kept.size() == count->Of(valid) && std::is_sorted(kept.begin(), kept.end()),
            "the choice for --best \"" + text + "\" kept " + std::to_string(kept.size()) + " of " +
                std::to_string(valid));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 256)
        return 0;
    const std::string text(reinterpret_cast<const char*>(data), size);
    checkFrames(text);
    checkBest(text);
    return 0;
}
