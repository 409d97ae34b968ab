// The hot loop of the RGB channel export: one row of blue-green-red pixels into three planes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestro::exports {

// Pixel k of bgr (bytes 3k, 3k + 1, 3k + 2) goes to blue[k], green[k] and red[k], k < n.
void SplitChannels(const std::uint8_t* bgr, std::size_t n, std::uint8_t* blue, std::uint8_t* green, std::uint8_t* red);

} // namespace kestro::exports
