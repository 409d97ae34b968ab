// What kestro-convert will do with each capture, worked out before anything is written: the
// path handed to the export engine, every file it will write, and how many frames it takes.
#pragma once

#include "convert_options.h"

#include <cstdint>
#include <string>
#include <vector>

class CVideoSource;

namespace kestro::cli {

struct CapturePlan {
    std::string capture;
    std::string enginePath;         // the name the window's save dialog would return
    std::vector<std::string> files; // everything the export will write, in order
    std::int32_t sourceFrames = 0;  // frames of the capture, the progress's whole
    std::int32_t framesTaken = 0;   // frames that hold data and are asked for
    bool opened = false;            // false: the capture could not be opened (the reason was said)
};

// Sets the display mode, pattern, algorithm and greyscale of the options on a video source.
void applyDisplay(const ConvertOptions& options, CVideoSource& source);

// Whether the export takes frame i (the --frames list; every frame without one).
bool takesFrame(const ConvertOptions& options, std::int32_t frame);

// Opens the capture to count its frames and names the outputs as the window proposes them,
// beside the capture or in --output. Frames of the --frames list that the capture lacks go to
// *outOfRange.
CapturePlan planCapture(const ConvertOptions& options, const std::string& capture, bool singleCapture,
                        std::vector<std::string>* outOfRange);

} // namespace kestro::cli
