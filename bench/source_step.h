// The peer of the window's steps: the video source alone stepping through a capture in a RAW
// mode, GoToFrame and GetFrameBitmap, as the window asks it for each frame it shows.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>

namespace kestro::bench {

// One iteration is one frame, frames 0 .. frames - 1 in turn; RAW colour (algorithm 11) when
// bColour, else RAW Y-channel.
void benchStepSource(benchmark::State& state, std::filesystem::path capture, bool bColour, std::int32_t frames);

} // namespace kestro::bench
