// The benchmarks' fixture captures: whole I420 frames from the sample tool, kept between runs in
// a fixture folder and checked before they are reused.
#pragma once

#include <filesystem>
#include <string>

namespace kestro::bench {

// The capture at `path` is I420 of width x height, `frames` long, and every sample holds a whole
// frame: the sample tool drops none when told so, and a capture with dropped frames would give
// fewer pictures than it has positions.
bool isWholeI420Capture(const std::filesystem::path& path, int width, int height, int frames);

// Reuses `path` when it is such a capture; otherwise writes it with the sample tool (no dropped
// frames, a "BG" mosaic of the drifting planet in Y) and checks it. Says which on stdout.
bool ensureSampleCapture(const std::filesystem::path& path, int width, int height, int frames,
                         const std::string& sampleTool);

// The name the export, FITS and scoring benchmarks share, so that they reuse one fixture.
std::string sampleCaptureName(int width, int height, int frames);

} // namespace kestro::bench
