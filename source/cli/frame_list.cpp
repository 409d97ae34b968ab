#include "frame_list.h"

#include <charconv>

namespace kestro::cli {

namespace {

bool number(const std::string& text, std::int64_t& value)
{
    if (text.empty() || text.size() > 10)
        return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && value >= 0;
}

} // namespace

std::optional<FrameList> FrameList::parse(const std::string& text, std::string* error)
{
    FrameList list;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const std::size_t dash = item.find('-');
        Range r{0, 0};
        bool ok = false, backwards = false;
        if (dash == std::string::npos) {
            ok = number(item, r.first);
            r.last = r.first;
        } else if (number(item.substr(0, dash), r.first)) {
            const std::string end = item.substr(dash + 1);
            if (end.empty()) {
                r.last = -1;
                ok = true;
            } else if (number(end, r.last)) {
                backwards = r.last < r.first;
                ok = !backwards;
            }
        }
        if (!ok) {
            if (error)
                *error = item.empty() ? "an empty entry in \"" + text + "\""
                         : backwards  ? "\"" + item + "\" ends before it begins; write the smaller frame first"
                                      : "\"" + item + "\" is not a frame number or a range such as 10-20 or 200-";
            return std::nullopt;
        }
        list.m_ranges.push_back(r);
        if (comma == std::string::npos)
            return list;
        start = comma + 1;
    }
}

bool FrameList::contains(std::int32_t frame) const
{
    for (const Range& r : m_ranges)
        if (frame >= r.first && (r.last < 0 || frame <= r.last))
            return true;
    return false;
}

std::vector<std::string> FrameList::outOfRange(std::int32_t count) const
{
    std::vector<std::string> outside;
    for (const Range& r : m_ranges) {
        if (r.last == r.first && r.first >= count)
            outside.push_back(std::to_string(r.first));
        else if (r.first >= count)
            outside.push_back(std::to_string(r.first) + "-" + (r.last < 0 ? std::string() : std::to_string(r.last)));
        else if (r.last >= count)
            outside.push_back(std::to_string(count) + "-" + std::to_string(r.last));
    }
    return outside;
}

std::string rangesText(const std::vector<std::int32_t>& frames)
{
    std::string text;
    for (std::size_t i = 0; i < frames.size();) {
        std::size_t j = i;
        while (j + 1 < frames.size() && frames[j + 1] == frames[j] + 1)
            ++j;
        text += (text.empty() ? "" : ",") + std::to_string(frames[i]);
        if (j > i)
            text += "-" + std::to_string(frames[j]);
        i = j + 1;
    }
    return text;
}

} // namespace kestro::cli
