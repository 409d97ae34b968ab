// What kestro-convert will do with each capture, worked out before anything is written: the
// path handed to the export engine, every file it will write, and the frames it takes.
#pragma once

#include "convert_options.h"
#include "video_source.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestro::cli {

struct CapturePlan {
    std::string capture;
    std::string enginePath;         // the name the window's save dialog would return
    std::vector<std::string> files; // everything the export will write, in order
    std::int32_t sourceFrames = 0;  // frames of the capture, the progress's whole
    std::int64_t framePixels = 0;   // width x height of its frames, for the memory a job needs
    // Frames that hold data and are asked for, ascending; with --best, the ones kept of them.
    std::vector<std::int32_t> taken;
    bool chosen = false;            // `taken` was narrowed by --best
    std::int32_t candidates = 0;    // frames --best chose among
    bool opened = false;            // false: the capture could not be opened, or is no file (see failure)
    std::string failure;            // why the capture cannot be exported; empty when it can
    std::vector<std::string> notes; // what the video source said of a capture that opened, for the summary
    std::string unscored;           // frames --best had to leave out because they could not be scored
    std::string earlierSeries;      // the warning of files an earlier, longer series leaves beside these
    // With --pattern auto: the pattern chosen for this capture, and the line that says which and
    // how sure the choice is.
    std::optional<std::int32_t> pattern;
    std::string patternChoice;
};

// Sets the display mode, pattern, algorithm, greyscale and byte order of the options on a video
// source that has opened its capture (a SER capture's own pattern is kept without --pattern; with
// --pattern auto, the plan's choice is taken).
void applyDisplay(const ConvertOptions& options, CVideoSource& source, const CapturePlan* plan = nullptr);

// The frames the export of the plan takes, for the engine: those of plan.taken, or every frame
// when neither --frames nor --best narrowed them.
FramePredicate takenFrames(const ConvertOptions& options, const CapturePlan& plan);

// Opens the capture to count its frames and names the outputs as the window proposes them,
// beside the capture or in --output. Frames of the --frames list that the capture lacks go to
// *outOfRange. What is not a file (a FIFO, a device, a folder) is never opened: the plan's failure
// says what it is. What the video source says while the capture is opened goes to the message
// handler, which the caller may hold for the capture's summary.
CapturePlan planCapture(const ConvertOptions& options, const std::string& capture, bool singleCapture,
                        std::vector<std::string>* outOfRange);

// Makes every check the export engine makes before it writes (a RAW mode the capture can take,
// colour frames for --to rgb, some frame taken, no output that is the capture or not a file), on
// the capture opened afresh, without writing. Empty when the export would go ahead; otherwise the
// reason as the summary says it, "caption: text". The dry run and the real run both ask it before
// either writes or scores anything, so that they refuse alike.
std::string exportRefusal(const ConvertOptions& options, const CapturePlan& plan);

// The files the plan's export writes for the frames it takes now (after --best narrowed them).
void planFiles(const ConvertOptions& options, CapturePlan& plan);

// The warning for files of an earlier, longer numbered series (a BMP series, FITS sums) that the
// plan's export leaves beside its own, which a stacking program given the folder would read too.
// Empty when there are none.
std::string earlierSeriesWarning(const ConvertOptions& options, const CapturePlan& plan);

} // namespace kestro::cli
