// What kestro-convert checks of its outputs before it writes anything: that --output can be what
// the run needs, that no two captures write one file, that no export writes over a capture, and
// that nothing but an old output of the same name (and that only with --overwrite) is in the way.
#pragma once

#include "convert_options.h"
#include "convert_plan.h"

#include <cstddef>
#include <string>
#include <vector>

namespace kestro::cli {

// Whether --output fits the run: a folder when several captures are converted or a series of files
// is written, a file or a folder for one capture to one AVI. Empty when it does (or there is
// none); otherwise the usage error, naming the path and why.
std::string outputProblem(const ConvertOptions& options, std::size_t captures);

// Outputs the run must not write, one line each; empty when there is none.
struct OutputConflicts {
    // Files two captures would both write: the command line asks for something impossible.
    std::string clashes;
    // Files that are one of the captures (under their own name, another, or a link): the run is
    // refused, as an export never writes over what it reads, whatever --overwrite says.
    std::string overCaptures;
};
OutputConflicts outputConflicts(const std::vector<CapturePlan>& plans);

// Why the plan's outputs cannot be made: a file name longer than the file system takes. Empty
// when they can.
std::string outputNameProblem(const CapturePlan& plan);

// What is in the way of the outputs of the plans that can be exported, one line each: a folder,
// a FIFO or a device of an output's name (never replaced), or a file or link of that name (replaced
// only with `overwrite`). A capture's many files of one kind make one line. Empty when nothing is.
std::string outputsInTheWay(const std::vector<CapturePlan>& plans, bool overwrite);

} // namespace kestro::cli
