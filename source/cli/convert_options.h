// What kestro-convert is asked to do, read from its command line.
#pragma once

#include "best_frames.h"
#include "data_probe.h"
#include "export_plan.h"
#include "frame_list.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestro::cli {

// What --to asks for is one of the engines' kinds of export, so that their list of the files it
// writes is the command line's too.
using Target = kestro::exports::ExportKind;
enum class DisplayMode { Normal, RawY, RawColour };

struct ConvertOptions {
    std::vector<std::string> inputs; // captures and folders, as given
    Target target = Target::Avi;
    std::optional<std::string> output;
    DisplayMode mode = DisplayMode::Normal;
    // Code of the pattern button; none: the SER header's Bayer id, or BG for an AVI file and a SER
    // capture without one, as the window starts.
    std::optional<std::int32_t> pattern;
    // --pattern auto: each capture's pattern as the mosaic detector tells it from the data; a
    // capture whose green sites it cannot place for sure is not exported in a RAW mode.
    bool patternAuto = false;
    std::int32_t algorithm = 11; // the converter's number
    bool greyscale = false;
    // The byte order of SER captures' 16-bit samples; none (auto): the data decide.
    std::optional<kestro::ser::ByteOrder> byteOrder;
    std::optional<FrameList> frames; // none: every frame that holds data
    // Keep only the sharpest of the frames taken (after --frames); none: keep them all.
    std::optional<kestro::quality::BestCount> best;
    std::uint32_t block = 1;
    unsigned jobs = 1;      // captures side by side, before the bound by cores and memory
    bool jobsGiven = false; // --jobs was given, rather than one per core
    bool overwrite = false;
    bool dryRun = false;
    bool quiet = false;
    // --info: describe the captures (format, size, frames, depth, stored and detected Bayer
    // order) instead of exporting them; --json: as one JSON object a line.
    bool info = false;
    bool json = false;
};

// Reads the command line into `options`. Returns the exit status when the program is to end
// here: 0 after --help or --version (printed), 2 after a usage error (said on standard error,
// naming the option and what it takes). Every input must be something that exists.
std::optional<int> parseCommandLine(int argc, char** argv, ConvertOptions& options);

// The algorithm a --algorithm value names: its number ("11", "4", "04") or its name in the
// de-mosaic library's list, whole or after the number ("04-AHD", "AHD", "ahd").
std::optional<std::int32_t> algorithmNamed(const std::string& value);

// The captures the inputs name: files as given, and the *.avi and *.ser entries of folders,
// sorted, each to be read by its signature, whatever its name (FIFOs
// and the like among them too, for the export to refuse by name). A folder that cannot be read
// gives nothing, with the reason in *error.
std::vector<std::string> expandInputs(const std::vector<std::string>& inputs, std::string* error);

} // namespace kestro::cli
