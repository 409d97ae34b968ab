// The choice of the sharpest frames: "the best 25 %" or "the best 500" of a set of candidates, by
// their scores. A pure function, so that the window's command and kestro-convert --best keep the
// same frames for the same scores.
#pragma once

#include "frame_scorer.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestro::quality {

// How many to keep: a share of the candidates in percent (0 < value <= 100, fractions allowed) or
// a number of frames (>= 1).
struct BestCount {
    enum class Kind { Percent, Frames };
    Kind kind = Kind::Percent;
    double value = 0.0;

    // "25%" (also "25 %" and "12.5%") or "500"; nothing, with the reason in *error, otherwise.
    static std::optional<BestCount> Parse(const std::string& text, std::string* error);
    // The number of frames this keeps of `candidates`: a percentage is rounded up, so any share
    // above 0 of a non-empty set keeps at least one frame; never more than there are.
    std::size_t Of(std::size_t candidates) const;
    // "25%" or "500", as Parse reads it.
    std::string Text() const;
};

// The frames to keep ticked: the `count` best of the candidates, sorted by frame number.
// Candidates without a valid score (no data, unreadable, not scored) are never kept and do not
// count towards the share; the share is taken of the candidates that have one. Equal scores are
// ranked by frame number, the earlier first, so the choice never depends on the order of scoring.
std::vector<std::int32_t> ChooseBest(const std::vector<std::int32_t>& candidates, const std::vector<FrameScore>& scores,
                                     const BestCount& count);

} // namespace kestro::quality
