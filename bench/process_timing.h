// Timing other programs as whole processes, for the peer figures the benchmarks print
// beside ours: wall and CPU time of one run, medians over interleaved rounds.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kestro::bench {

double median(std::vector<double> v);

struct ProcessTime {
    double wall = 0; // seconds from spawn to exit
    double cpu = 0;  // the child's user + system seconds
    // The child's ru_maxrss. posix_spawn starts the child in the parent's address space, and the
    // kernel carries that space's high-water mark over the exec, so this is never below the
    // parent's own peak at the time: it tells a child's memory only when the parent is smaller.
    long maxRssKiB = 0;
};

// Runs a program (looked up in PATH) with its output thrown away; nullopt when it cannot
// start or exits with a failure.
std::optional<ProcessTime> timeProcess(const std::vector<std::string>& args);

// Medians of wall and CPU seconds.
ProcessTime medianOf(const std::vector<ProcessTime>& v);

// Runs the commands in turn, `runs` rounds after one untimed warm-up round, so that a
// neighbour's build disturbs all of them alike. Medians per command; all zero for a
// command that failed (reported on standard error).
std::vector<ProcessTime> timeInterleaved(const std::vector<std::vector<std::string>>& commands, int runs);

// Standard output of a shell command, trailing newlines removed.
std::string captureOutput(const std::string& command);
std::string shellQuote(const std::string& s);

} // namespace kestro::bench
