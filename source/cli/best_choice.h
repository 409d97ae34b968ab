// kestro-convert --best: scores the frames a capture's export would take and keeps the sharpest,
// before anything is written, so that --dry-run already lists the frames kept.
#pragma once

#include "convert_plan.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>

namespace kestro::cli {

struct BestChoice {
    bool stopped = false; // the stop flag was set: the plan is as it was
    // Frames that could not be scored and were left out, in words; empty when every one was.
    std::string unscored;
};

// Scores plan.taken on `threads` threads, from what the export reads (the sensor plane in the RAW
// modes, the decoded picture in Normal), and narrows plan.taken to the best of them, as --best
// asks, and plan.files to what those make. A capture that cannot be scored keeps its frames and
// gets plan.failure. onProgress hears how many frames are scored so far, from scoring threads.
BestChoice chooseBest(const ConvertOptions& options, CapturePlan& plan, unsigned threads, const std::atomic<bool>* stop,
                      const std::function<void(std::size_t done)>& onProgress);

} // namespace kestro::cli
