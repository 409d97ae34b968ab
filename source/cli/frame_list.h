// The --frames list of the command line: single frames and ranges, "0-99,120,200-".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestro::cli {

class FrameList {
public:
    // Parses the text; nothing, with the reason in *error, when it is not a list of numbers and
    // ranges (a range may leave out its end: "200-" runs to the last frame).
    static std::optional<FrameList> parse(const std::string& text, std::string* error);

    bool contains(std::int32_t frame) const;
    // The numbers the list names that a capture of `count` frames does not have, for the usage
    // error that names them ("300-310" for a range past the end).
    std::vector<std::string> outOfRange(std::int32_t count) const;

private:
    struct Range {
        std::int64_t first;
        std::int64_t last; // -1: to the end
    };
    std::vector<Range> m_ranges;
};

// Frames in ascending order written as --frames reads them, runs joined into ranges: "3,7-9,12".
std::string rangesText(const std::vector<std::int32_t>& frames);

} // namespace kestro::cli
