#include "best_frames.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <unordered_map>

namespace kestro::quality {

std::optional<BestCount> BestCount::Parse(const std::string& text, std::string* error)
{
    auto refuse = [&](const std::string& why) -> std::optional<BestCount> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    std::string number = text;
    const bool percent = !number.empty() && number.back() == '%';
    if (percent) {
        number.pop_back();
        while (!number.empty() && number.back() == ' ')
            number.pop_back();
    }
    const char* const kForm = " (give a share such as 25% or a number of frames such as 500)";
    if (number.empty())
        return refuse("\"" + text + "\" is not a number" + kForm);
    BestCount count;
    count.kind = percent ? Kind::Percent : Kind::Frames;
    if (percent) {
        const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), count.value);
        if (ec != std::errc() || end != number.data() + number.size() || !std::isfinite(count.value))
            return refuse("\"" + text + "\" is not a number" + kForm);
        if (count.value <= 0.0 || count.value > 100.0)
            return refuse("a share of " + text +
                          " keeps no frame or more than all; give more than 0% and at most 100%");
        return count;
    }
    std::int64_t frames = 0;
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), frames);
    if (ec != std::errc() || end != number.data() + number.size())
        return refuse("\"" + text + "\" is not a number" + kForm);
    if (frames < 1)
        return refuse("keeping " + text + " frames keeps nothing; give 1 or more, or a share such as 25%");
    // No capture holds more frames than a 32-bit position counts, so a larger number keeps them all
    // just as this one does. Kept as it was typed, a number past 2^53 would not survive the double,
    // and Text() would write one that Parse refuses.
    count.value = static_cast<double>(std::min<std::int64_t>(frames, std::numeric_limits<std::int32_t>::max()));
    return count;
}

std::size_t BestCount::Of(std::size_t candidates) const
{
    if (kind == Kind::Frames)
        return std::min(candidates, static_cast<std::size_t>(value));
    // A small tolerance, so that 10% of 30 is 3 and not 4 after rounding in binary; a share so
    // small that the tolerance takes it to nothing still keeps one frame, as any share above 0
    // does.
    if (candidates == 0 || value <= 0.0)
        return 0;
    const double share = value / 100.0 * static_cast<double>(candidates);
    return std::clamp<std::size_t>(static_cast<std::size_t>(std::ceil(share - 1e-9)), 1, candidates);
}

std::string BestCount::Text() const
{
    // The shortest text that reads back as the same double: "12.5%", "21.00001%", never rounded to
    // six digits, so that a share shown again or passed on keeps exactly the frames it kept.
    char buffer[64];
    if (kind == Kind::Percent) {
        const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer - 1, value);
        *end = '%';
        return std::string(buffer, end + 1);
    }
    std::snprintf(buffer, sizeof buffer, "%.0f", value);
    return buffer;
}

std::vector<std::int32_t> ChooseBest(const std::vector<std::int32_t>& candidates, const std::vector<FrameScore>& scores,
                                     const BestCount& count)
{
    std::unordered_map<std::int32_t, double> scoreOf;
    for (const FrameScore& s : scores)
        if (s.valid)
            scoreOf.emplace(s.frame, s.score);
    std::vector<std::pair<double, std::int32_t>> ranked;
    for (std::int32_t frame : candidates)
        if (const auto it = scoreOf.find(frame); it != scoreOf.end())
            ranked.emplace_back(it->second, frame);
    std::sort(ranked.begin(), ranked.end());
    ranked.erase(std::unique(ranked.begin(), ranked.end()), ranked.end());
    std::sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    ranked.resize(count.Of(ranked.size()));
    std::vector<std::int32_t> keep;
    keep.reserve(ranked.size());
    for (const auto& r : ranked)
        keep.push_back(r.second);
    std::sort(keep.begin(), keep.end());
    return keep;
}

} // namespace kestro::quality
