// ser_bench: how fast SER captures open and step, beside the floor of reading the same bytes.
//
//   ser_bench [--dir DIR] [--frames N] [--benchmark_... flags]
//
// The fixtures are written by bench/make_ser_fixtures.py (numpy, nothing of ours) into DIR
// (default $KESTRO_BENCH_DIR, else a fresh temporary folder removed at the end) and reused when
// they are there already:
// - N (default 300) frames of 1920x1080, 12-bit values in 16-bit samples, an RGGB mosaic with a
//   table of frame times, read once before the timing so that every read comes from the page
//   cache. Stepped in RAW Y-channel (the plane scaled to 8 bits by the real depth, as the window
//   shows it) beside the floor: pread of the same 4,147,200 plane bytes of each frame into one
//   buffer. Normal and RAW colour are timed too, for information.
// - 100,000 frames of 640x480 8-bit with a table of frame times, the frames a hole in a sparse
//   file: opening it (and closing, since each iteration opens again) beside pread of its table.
//
// One iteration of a step benchmark is GoToFrame(i) and GetFrameBitmap(), i running through the
// capture in order as holding the Down key does. Five repetitions of each by default, in random
// order with the peers'. The last thing printed is a Markdown table for docs/PERFORMANCE.md.
#include "bench_report.h"
#include "message_box.h"
#include "process_timing.h"
#include "video_source.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace kestro::bench;

#ifndef KESTRO_SOURCE_DIR
#define KESTRO_SOURCE_DIR "."
#endif

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr std::size_t kHeaderBytes = 178;
constexpr std::size_t kPlaneBytes = std::size_t{kWidth} * kHeight * 2;
constexpr int kLongFrames = 100000;
constexpr std::size_t kLongFrameBytes = 640 * 480;

std::vector<kestro::ui::Message> g_messages;

kestro::ui::Answer recordMessage(const kestro::ui::Message& m)
{
    std::fprintf(stderr, "ser_bench: the video source showed a message: \"%s: %s\"\n", m.caption.c_str(),
                 m.text.c_str());
    g_messages.push_back(m);
    return kestro::ui::cautiousAnswer(m.buttons);
}

struct Mode {
    std::string name, label;
    bool raw = false;
    bool colour = false;
};

void benchStep(benchmark::State& state, Mode mode, std::string path)
{
    CVideoSource source;
    if (!source.Open(path) || source.GetRealDepth() != 12 || source.GetStoredDepth() != 16) {
        state.SkipWithError("cannot open the capture as 12-bit data in 16-bit samples");
        return;
    }
    source.m_bRaw = mode.raw;
    source.m_bRawColour = mode.colour;
    const std::int32_t frames = source.GetFrameCount();
    source.GoToFrame(frames - 1);
    const BITMAPINFOHEADER* bih = source.GetFrameBitmap();
    if (!bih || !g_messages.empty() || source.m_bRaw != mode.raw) {
        state.SkipWithError("the first step gave no picture of the mode");
        return;
    }
    std::int32_t next = 0;
    for (auto _ : state) {
        if (source.GoToFrame(next) != next || !(bih = source.GetFrameBitmap()) || !g_messages.empty()) {
            state.SkipWithError("a step gave no picture");
            break;
        }
        benchmark::DoNotOptimize(bih->biSizeImage);
        if (++next == frames)
            next = 0;
    }
    state.counters["frames/s"] = benchmark::Counter(1, benchmark::Counter::kIsIterationInvariantRate);
}

// The floor of a RAW Y-channel step: the frame's plane bytes read with one pread.
void benchPlanePread(benchmark::State& state, std::string path, int frames)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        state.SkipWithError("cannot open the capture");
        return;
    }
    std::vector<std::uint8_t> buffer(kPlaneBytes);
    int next = 0;
    for (auto _ : state) {
        const off_t at = static_cast<off_t>(kHeaderBytes + std::size_t(next) * kPlaneBytes);
        if (::pread(fd, buffer.data(), kPlaneBytes, at) != static_cast<ssize_t>(kPlaneBytes)) {
            state.SkipWithError("short read");
            break;
        }
        benchmark::DoNotOptimize(buffer.data());
        if (++next == frames)
            next = 0;
    }
    ::close(fd);
    state.counters["frames/s"] = benchmark::Counter(1, benchmark::Counter::kIsIterationInvariantRate);
}

void benchOpen(benchmark::State& state, std::string path)
{
    CVideoSource source;
    for (auto _ : state) {
        if (!source.Open(path) || source.GetFrameCount() != kLongFrames || !source.GetFrameTimeUtc(kLongFrames - 1)) {
            state.SkipWithError("the 100,000-frame capture did not open whole, with its times");
            break;
        }
        source.Close();
    }
}

// What opening must read at least: the table of frame times at the end.
void benchTablePread(benchmark::State& state, std::string path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        state.SkipWithError("cannot open the capture");
        return;
    }
    std::vector<std::uint8_t> table(std::size_t{kLongFrames} * 8);
    const off_t at = static_cast<off_t>(kHeaderBytes + std::size_t{kLongFrames} * kLongFrameBytes);
    for (auto _ : state) {
        if (::pread(fd, table.data(), table.size(), at) != static_cast<ssize_t>(table.size())) {
            state.SkipWithError("short read");
            break;
        }
        benchmark::DoNotOptimize(table.data());
    }
    ::close(fd);
}

} // namespace

int main(int argc, char** argv)
{
    std::string dir, frameCount;
    if (!initialiseBenchmark(argc, argv, {{"--dir", &dir}, {"--frames", &frameCount}}, 5))
        return 2;
    const int frames = frameCount.empty() ? 300 : std::max(2, std::atoi(frameCount.c_str()));
    FixtureDir fixtures;
    if (!fixtures.prepare(dir, "ser_bench"))
        return 1;
    const fs::path deep = fixtures.path() / ("ser16-1080p-" + std::to_string(frames) + "f.ser");
    const fs::path longCapture = fixtures.path() / ("ser8-640x480-" + std::to_string(kLongFrames) + "f.ser");
    const std::string script = std::string(KESTRO_SOURCE_DIR) + "/bench/make_ser_fixtures.py";
    if (!timeProcess({"/usr/bin/python3", script, fixtures.path().string(), std::to_string(frames)}) ||
        !warmPageCache(deep)) {
        std::fprintf(stderr, "ser_bench: cannot prepare the fixtures in %s\n", fixtures.path().c_str());
        return 1;
    }

    kestro::ui::setMessageHandler(recordMessage);
    const Mode modes[] = {{"Step16/RawY", "RAW Y-channel", true},
                          {"Step16/Normal", "Normal (grey)"},
                          {"Step16/RawColour", "RAW colour, 11-DeBayerToRGB", true, true}};
    for (const Mode& m : modes)
        benchmark::RegisterBenchmark(m.name.c_str(), benchStep, m, deep.string())
            ->Unit(benchmark::kMillisecond)
            ->MinTime(1.0)
            ->UseRealTime()
            ->MeasureProcessCPUTime();
    benchmark::RegisterBenchmark("Step16/PeerPlanePread", benchPlanePread, deep.string(), frames)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(1.0)
        ->UseRealTime()
        ->MeasureProcessCPUTime();
    benchmark::RegisterBenchmark("Open100k", benchOpen, longCapture.string())
        ->Unit(benchmark::kMillisecond)
        ->MinTime(1.0)
        ->UseRealTime()
        ->MeasureProcessCPUTime();
    benchmark::RegisterBenchmark("Open100k/PeerTablePread", benchTablePread, longCapture.string())
        ->Unit(benchmark::kMillisecond)
        ->MinTime(1.0)
        ->UseRealTime()
        ->MeasureProcessCPUTime();

    CollectingReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_ColorTabular
                                                      : benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    kestro::ui::setMessageHandler({});
    if (!g_messages.empty() || !reporter.errors().empty()) {
        for (const std::string& e : reporter.errors())
            std::fprintf(stderr, "ser_bench: %s\n", e.c_str());
        std::fprintf(stderr, "ser_bench: no figures\n");
        return 1;
    }

    std::vector<Row> rows;
    const ProcessTime pread = reporter.median("Step16/PeerPlanePread");
    for (const Mode& m : modes) {
        const ProcessTime ours = reporter.median(m.name);
        if (ours.wall <= 0 || pread.wall <= 0)
            continue;
        const bool y = m.name == "Step16/RawY";
        const double ratio = pread.wall / ours.wall;
        rows.push_back({"Step through every frame of the 16-bit capture, " + m.label +
                            ", against reading its plane bytes with pread alone",
                        frameRate(ours), frameRate(pread) + ", pread of 4,147,200 bytes", fmt("%.2f×", ratio),
                        y ? "≥ 0.8× pread" : "—", y ? yesNo(ratio >= 0.8) : "info"});
    }
    const ProcessTime open = reporter.median("Open100k");
    const ProcessTime table = reporter.median("Open100k/PeerTablePread");
    if (open.wall > 0 && table.wall > 0)
        rows.push_back({"Open and close a 100,000-frame capture (640×480, 8-bit, with its frame times)",
                        fmt("%.2f ms", open.wall * 1e3) + fmt(" (CPU %.2f ms)", open.cpu * 1e3),
                        fmt("%.3f ms", table.wall * 1e3) + ", pread of its 800,000-byte table", "—",
                        "no per-frame work beyond the table", "info"});
    std::printf("\nCaptures: %d frames of %dx%d, 12-bit data in 16-bit samples (RGGB), in the page cache; "
                "100,000 frames of 640x480 8-bit, sparse. Medians over the repetitions, interleaved with the "
                "peers'.\n",
                frames, kWidth, kHeight);
    printTable(rows);
    return 0;
}
