// The de-mosaic algorithms a user picks from, in the one order the display bar lists them and
// kestro-convert --algorithm takes them: the library's names as it lists them, then the
// converter's own. Each entry begins with the algorithm's number, and that number is what the
// converter, the output names and the command line go by.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestro::video {

// The number an entry of the algorithm list stands for: its first two characters read as a
// decimal number ("03-VNG" is 3, "11-DeBayerToRGB" 11); nothing when they are not one.
std::optional<std::int32_t> AlgorithmNumberOf(std::string_view entry);

// The algorithm list: the library's names in its order, the empty ones left out since they can
// be neither shown nor typed, then the converter's own algorithm.
std::vector<std::string> AlgorithmEntries(const std::vector<std::string>& libraryNames);

} // namespace kestro::video
