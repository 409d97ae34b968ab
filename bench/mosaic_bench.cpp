// mosaic_bench: how long telling a capture's Bayer order takes, beside the floor of reading the
// same planes, and kestro-convert --info over a hundred captures.
//
//   mosaic_bench [--dir DIR] [--benchmark_... flags]
//
// Fixtures, written into DIR (default $KESTRO_BENCH_DIR, else a temporary folder removed at the
// end) and reused when there:
// - a 1920x1080 8-bit raw AVI of 16 frames from the sample tool (a banded disc, GB pattern);
// - a 1920x1080 SER of 16 frames, 12-bit data in 16-bit samples, RGGB, written by
//   bench/make_ser_fixtures.py (numpy);
// - a hundred 640x480 raw AVIs of 20 frames from the sample tool, the four patterns in turn.
// Detection is timed on a capture opened once (the window's worker and --info open it anyway),
// against reading the same eight planes with the video source and nothing else. It runs on one
// thread: its process CPU time is one core's.
#include "bench_report.h"
#include "message_box.h"
#include "mosaic_detect.h"
#include "process_timing.h"
#include "video_source.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace kestro::bench;

#ifndef KESTRO_SOURCE_DIR
#define KESTRO_SOURCE_DIR "."
#endif
#ifndef KESTRO_SAMPLE
#define KESTRO_SAMPLE "kestro-sample"
#endif
#ifndef KESTRO_CONVERT
#define KESTRO_CONVERT "kestro-convert"
#endif

constexpr int kInfoCaptures = 100;

void benchDetect(benchmark::State& state, std::string path, std::string expected)
{
    CVideoSource source;
    if (!source.Open(path)) {
        state.SkipWithError("cannot open the capture");
        return;
    }
    for (auto _ : state) {
        const kestro::video::MosaicGuess g = kestro::video::DetectMosaic(source);
        if (!g.pattern || g.pattern->sensorName != expected || g.frames != kestro::video::kMosaicFrames) {
            state.SkipWithError(("the detector said " + kestro::video::DescribeGuess(g)).c_str());
            break;
        }
    }
}

// The floor: the eight planes the detector reads, read by the video source into one buffer.
void benchReadPlanes(benchmark::State& state, std::string path)
{
    CVideoSource source;
    if (!source.Open(path)) {
        state.SkipWithError("cannot open the capture");
        return;
    }
    const std::int32_t w = source.GetPlaneWidth(), h = source.GetPlaneHeight(), n = source.GetFrameCount();
    const std::ptrdiff_t stride = std::ptrdiff_t{w} * source.GetPlaneSampleBytes();
    std::vector<std::uint8_t> plane(static_cast<std::size_t>(stride) * static_cast<std::size_t>(h));
    for (auto _ : state)
        for (int k = 0; k < kestro::video::kMosaicFrames; ++k) {
            const std::int32_t frame = source.FindDataFrame(static_cast<std::int32_t>((2 * k + 1) * n / 16));
            CVideoSource::ReadFailure failure;
            if (!source.ReadPlaneRows(frame, 0, h, plane.data(), stride, &failure)) {
                state.SkipWithError("a plane could not be read");
                return;
            }
            benchmark::DoNotOptimize(plane.data());
        }
}

std::string ms(const ProcessTime& t) { return fmt("%.1f ms", t.wall * 1e3) + fmt(" (CPU %.1f ms)", t.cpu * 1e3); }

} // namespace

int main(int argc, char** argv)
{
    std::string dir;
    if (!initialiseBenchmark(argc, argv, {{"--dir", &dir}}, 5))
        return 2;
    FixtureDir fixtures;
    if (!fixtures.prepare(dir, "mosaic_bench"))
        return 1;
    const fs::path avi = fixtures.path() / "mosaic8-1080p.avi";
    const fs::path ser = fixtures.path() / "ser16-1080p-mosaic.ser";
    const std::string script = std::string(KESTRO_SOURCE_DIR) + "/bench/make_ser_fixtures.py";
    bool ready = (fs::exists(avi) || writeSample(avi, KESTRO_SAMPLE,
                                                 {"--width", "1920", "--height", "1080", "--frames", "16", "--pattern",
                                                  "GB", "--dropped", "none"})) &&
                 timeProcess({"/usr/bin/python3", script, fixtures.path().string(), "0", "mosaic"});
    std::vector<std::string> infoArgs{KESTRO_CONVERT, "--info", "--json"};
    const char* const buttons[] = {"BG", "GB", "GR", "RG"};
    for (int i = 0; ready && i < kInfoCaptures; ++i) {
        const fs::path capture = fixtures.path() / ("info" + std::to_string(i) + ".avi");
        ready = fs::exists(capture) ||
                writeSample(capture, KESTRO_SAMPLE,
                            {"--width", "640", "--height", "480", "--frames", "20", "--pattern", buttons[i % 4]});
        infoArgs.push_back(capture.string());
    }
    for (int i = 0; ready && i < kInfoCaptures; ++i)
        ready = warmPageCache(infoArgs[static_cast<std::size_t>(i) + 3]);
    if (!ready || !warmPageCache(avi) || !warmPageCache(ser)) {
        std::fprintf(stderr, "mosaic_bench: cannot prepare the fixtures in %s\n", fixtures.path().c_str());
        return 1;
    }

    struct Case {
        std::string name, path, order, label;
    } const cases[] = {{"Detect/Avi8", avi.string(), "RGGB", "1920×1080 8-bit AVI"},
                       {"Detect/Ser16", ser.string(), "RGGB", "1920×1080 SER, 12-bit in 16"}};
    for (const Case& c : cases) {
        benchmark::RegisterBenchmark(c.name.c_str(), benchDetect, c.path, c.order)
            ->Unit(benchmark::kMillisecond)
            ->MinTime(1.0)
            ->UseRealTime()
            ->MeasureProcessCPUTime();
        benchmark::RegisterBenchmark((c.name + "/PeerReadPlanes").c_str(), benchReadPlanes, c.path)
            ->Unit(benchmark::kMillisecond)
            ->MinTime(1.0)
            ->UseRealTime()
            ->MeasureProcessCPUTime();
    }
    std::vector<std::string> infoOneJob = infoArgs;
    infoOneJob.insert(infoOneJob.begin() + 3, {"--jobs", "1"});
    benchmark::RegisterBenchmark("Info100", runPeer, infoArgs)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(1);
    benchmark::RegisterBenchmark("Info100/OneJob", runPeer, infoOneJob)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(1);

    CollectingReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_ColorTabular
                                                      : benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    if (!reporter.errors().empty()) {
        for (const std::string& e : reporter.errors())
            std::fprintf(stderr, "mosaic_bench: %s\n", e.c_str());
        std::fprintf(stderr, "mosaic_bench: no figures\n");
        return 1;
    }

    std::vector<Row> rows;
    for (const Case& c : cases) {
        const ProcessTime ours = reporter.median(c.name), floor = reporter.median(c.name + "/PeerReadPlanes");
        if (ours.wall > 0 && floor.wall > 0)
            rows.push_back({"Tell the Bayer order of a " + c.label + " from 8 frames", ms(ours),
                            ms(floor) + ", reading the same 8 planes", fmt("%.2f×", ours.wall / floor.wall),
                            "≤ 30 ms of one core", yesNo(ours.cpu <= 0.030)});
    }
    const ProcessTime info = reporter.median("Info100"), one = reporter.median("Info100/OneJob");
    if (info.wall > 0 && one.wall > 0)
        rows.push_back({"kestro-convert --info --json on 100 captures (640×480, 20 frames, 8-bit AVI)",
                        fmt("%.2f s", info.wall) + fmt(" (%.1f ms a capture)", info.wall * 1e3 / kInfoCaptures),
                        fmt("%.2f s with --jobs 1", one.wall), "—", "state it", "info"});
    std::printf("\nMedians over the repetitions, interleaved with the peers'; the captures in the page cache.\n");
    printTable(rows);
    return 0;
}
