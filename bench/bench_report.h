// What the benchmark programs share beyond timing processes: a reporter that keeps every
// repetition for the summary's own medians, peer programs run as benchmarks, the folder for
// fixture captures, and the Markdown table pasted into docs/PERFORMANCE.md.
#pragma once

#include "process_timing.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace kestro::bench {

// Keeps every repetition's wall and CPU seconds per iteration, so that the summary takes its
// own medians whatever aggregates the command line asks Google Benchmark for.
class CollectingReporter : public benchmark::ConsoleReporter {
public:
    struct Sample {
        double wall;
        double cpu;
    };
    // A peer program's CPU time is its own, not this process's: runPeer reports it here.
    static constexpr const char* kChildCpuCounter = "child_cpu_ms";

    explicit CollectingReporter(OutputOptions options) : ConsoleReporter(options) {}
    void ReportRuns(const std::vector<Run>& reports) override;

    const std::vector<Sample>* samples(const std::string& name) const;
    // Medians of a benchmark's repetitions; all zero when it has none.
    ProcessTime median(const std::string& name) const;
    // "name: message" of every run that failed.
    const std::vector<std::string>& errors() const { return m_errors; }

private:
    std::map<std::string, std::vector<Sample>> m_samples;
    std::vector<std::string> m_errors;
};

// The body of a peer program's benchmark: one run of it per iteration, so that its
// repetitions interleave with ours. Register it with UseManualTime.
void runPeer(benchmark::State& state, const std::vector<std::string>& args);

// Where fixture captures live: the folder given, else $KESTRO_BENCH_DIR (kept between runs so
// that later runs reuse them), else a fresh temporary folder removed when this goes.
class FixtureDir {
public:
    FixtureDir() = default;
    FixtureDir(const FixtureDir&) = delete;
    FixtureDir& operator=(const FixtureDir&) = delete;
    ~FixtureDir();
    // False, with the reason on standard error, when no folder could be had.
    bool prepare(const std::filesystem::path& given, const char* program);
    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
    bool m_temporary = false;
};

// Google Benchmark's initialisation after the program's own "--name VALUE" options are taken
// out of the command line: `values` says where each one's value goes. Unless asked otherwise,
// repetitions run in random order with the peers', so that a neighbour's build slows both
// alike; a later flag on the command line still wins. False when an argument is not
// understood (Google Benchmark has said which).
bool initialiseBenchmark(int argc, char** argv, const std::map<std::string, std::string*>& values, int repetitions = 0);

// Runs the sample-capture tool with `args` (output path excepted) into a temporary name and
// renames the result, so that an interrupted run never leaves a half-written file that a later
// run would take for a fixture.
bool writeSample(const std::filesystem::path& path, const std::string& sampleTool,
                 const std::vector<std::string>& args);

// Reads the whole file once, so that every run, ours or a peer's, finds it in the page cache.
// Its pages are dropped first (once written back), so every capture is cached the way reading
// caches it, whoever wrote it: a file still cached from being written keeps the page sizes of
// its writer's writes (64 KiB pieces for ours, 256 KiB for ffmpeg), and RAW Y-channel steps
// through a capture our writer has just written at half the speed it does once it is read back.
bool warmPageCache(const std::filesystem::path& path);

std::string fmt(const char* format, double v);
// "2672 frames/s (CPU 0.67 ms a frame)" of a time a frame.
std::string frameRate(const ProcessTime& t);

struct Row {
    std::string what, ours, peer, ratio, goal, met;
};
const char* yesNo(bool met);
void printTable(const std::vector<Row>& rows);

} // namespace kestro::bench
