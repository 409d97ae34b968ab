// quality_bench: how fast ScoreFrames scores the frames of a 1080p raw capture on every core,
// against the bound of reading the same sensor planes alone on as many threads, and what the
// sharpness measure costs a frame on one core.
//
//   quality_bench [--dir DIR] [--frames N] [--sample PATH] [--benchmark_... flags]
//
// The fixture is the I420 capture of the export benchmark (N frames of 1920x1080, default 2000,
// whose Y plane holds a "BG" mosaic), written by the sample tool PATH into DIR (default
// $KESTRO_BENCH_DIR, else a temporary folder removed at the end) and reused when valid. It is
// read once, untimed, before every repetition, so that every job finds it in the page cache.
//
// Timed in this process, one pass over the capture per repetition (five by default, in random
// order with the others):
//   - Score: ScoreFrames of every frame from the sensor plane, one thread per core;
//   - Bound/ReadPart: our reader reading each frame's plane (AVIStreamReadPart of its first
//     W x H bytes), on as many threads, frames handed out as the scorer hands them out;
//   - Bound/Pread: the same plane bytes read with pread alone, the offsets from our reader's index;
//   - Measure: SharpnessMeter::Measure of one plane in memory, one core.
// The last thing printed is a Markdown table for docs/PERFORMANCE.md.
#include "avi_handles.h"
#include "avi_reader.h"
#include "bench_report.h"
#include "sample_fixture.h"
#include "frame_scorer.h"
#include "parallel_for.h"
#include "sharpness.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace kestro::bench;

#ifndef KESTRO_SAMPLE
#define KESTRO_SAMPLE "kestro-sample"
#endif

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr std::size_t kPlane = std::size_t{kWidth} * kHeight;

struct Options {
    fs::path capture;
    int frames = 2000;
    unsigned threads = 1;
};
Options g;

double seconds(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Runs `read(frame, buffer)` over every frame on g.threads threads, handed out as ScoreFrames hands
// them out: four at a time, by the same parallel-for. False when any read failed.
bool onThreads(const std::function<bool(std::int32_t, std::vector<std::uint8_t>&)>& read)
{
    constexpr std::size_t kChunk = 4;
    std::atomic<bool> failed{false};
    auto work = [&](kestro::parallel::Share& share, unsigned) {
        std::vector<std::uint8_t> buffer(kPlane);
        for (kestro::parallel::Range range; share.next(range);)
            for (std::size_t i = range.begin; i < range.end; ++i)
                if (!read(static_cast<std::int32_t>(i), buffer))
                    failed = true;
    };
    kestro::parallel::onThreads(static_cast<std::size_t>(g.frames), kChunk, g.threads, work);
    return !failed;
}

void benchScore(benchmark::State& state)
{
    for (auto _ : state) {
        warmPageCache(g.capture);
        const auto start = std::chrono::steady_clock::now();
        const kestro::quality::ScoreOutcome outcome = kestro::quality::ScoreFrames(
            {g.capture.string(), {}, kestro::quality::ScoreSource::SensorPlane, 0, 0, nullptr});
        state.SetIterationTime(seconds(start));
        if (!outcome.error.empty() || outcome.unreadable > 0 || outcome.scores.size() != std::size_t(g.frames)) {
            state.SkipWithError("not every frame was scored");
            break;
        }
    }
}

void benchReadPart(benchmark::State& state)
{
    kestro::avi::FileHandle file;
    kestro::avi::StreamHandle stream;
    if (AVIFileOpenA(file.out(), g.capture.c_str(), OF_READ, nullptr) != AVIERR_OK ||
        AVIFileGetStream(file.get(), stream.out(), streamtypeVIDEO, 0) != AVIERR_OK) {
        state.SkipWithError("cannot open the capture");
        return;
    }
    for (auto _ : state) {
        warmPageCache(g.capture);
        const auto start = std::chrono::steady_clock::now();
        const bool ok = onThreads([&](std::int32_t i, std::vector<std::uint8_t>& buffer) {
            LONG bytes = 0;
            return AVIStreamReadPart(stream.get(), i, 0, static_cast<LONG>(kPlane), 1, buffer.data(), 0, &bytes) ==
                       AVIERR_OK &&
                   bytes == static_cast<LONG>(kPlane);
        });
        state.SetIterationTime(seconds(start));
        if (!ok) {
            state.SkipWithError("a plane could not be read");
            break;
        }
    }
}

void benchPread(benchmark::State& state)
{
    std::unique_ptr<kestro::avi::AviReader> reader;
    if (kestro::avi::AviReader::open(g.capture.string(), reader) != AVIERR_OK || reader->streamCount() < 1) {
        state.SkipWithError("cannot read the capture's index");
        return;
    }
    const kestro::avi::SampleIndex& index = reader->stream(0).index;
    const int fd = ::open(g.capture.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        state.SkipWithError("cannot open the capture");
        return;
    }
    for (auto _ : state) {
        warmPageCache(g.capture);
        const auto start = std::chrono::steady_clock::now();
        const bool ok = onThreads([&](std::int32_t i, std::vector<std::uint8_t>& buffer) {
            return ::pread(fd, buffer.data(), kPlane, static_cast<off_t>(index[i].offset)) ==
                   static_cast<ssize_t>(kPlane);
        });
        state.SetIterationTime(seconds(start));
        if (!ok) {
            state.SkipWithError("short read");
            break;
        }
    }
    ::close(fd);
}

// The measure alone: one plane of the capture, in memory, measured again and again on one core.
void benchMeasure(benchmark::State& state)
{
    std::vector<std::uint8_t> plane(kPlane);
    bool ok = false;
    {
        kestro::avi::FileHandle file;
        kestro::avi::StreamHandle stream;
        LONG bytes = 0;
        ok = AVIFileOpenA(file.out(), g.capture.c_str(), OF_READ, nullptr) == AVIERR_OK &&
             AVIFileGetStream(file.get(), stream.out(), streamtypeVIDEO, 0) == AVIERR_OK &&
             AVIStreamReadPart(stream.get(), 0, 0, static_cast<LONG>(kPlane), 1, plane.data(), 0, &bytes) == AVIERR_OK;
    }
    if (!ok) {
        state.SkipWithError("cannot read a plane");
        return;
    }
    kestro::quality::SharpnessMeter meter;
    for (auto _ : state)
        benchmark::DoNotOptimize(meter.Measure({plane.data(), kWidth, kHeight, kWidth}));
}

std::string perFrame(double wall)
{
    return fmt("%.0f frames/s", g.frames / wall) + fmt(" (%.2f ms a frame)", wall / g.frames * 1e3);
}

} // namespace

int main(int argc, char** argv)
{
    std::string dir, frameCount, sample = KESTRO_SAMPLE;
    if (!initialiseBenchmark(argc, argv, {{"--dir", &dir}, {"--frames", &frameCount}, {"--sample", &sample}}, 5))
        return 2;
    if (!frameCount.empty())
        g.frames = std::max(100, std::atoi(frameCount.c_str()));
    g.threads = std::max(1u, std::thread::hardware_concurrency());

    FixtureDir fixtures;
    if (!fixtures.prepare(dir, "quality_bench"))
        return 1;
    g.capture = fixtures.path() / sampleCaptureName(kWidth, kHeight, g.frames);
    const kestro::avi::Session session;
    if (!ensureSampleCapture(g.capture, kWidth, kHeight, g.frames, sample)) {
        std::fprintf(stderr, "quality_bench: cannot prepare %s\n", g.capture.c_str());
        return 1;
    }

    auto timed = [](benchmark::internal::Benchmark* b) {
        b->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
    };
    timed(benchmark::RegisterBenchmark("Score", benchScore));
    timed(benchmark::RegisterBenchmark("Bound/ReadPart", benchReadPart));
    timed(benchmark::RegisterBenchmark("Bound/Pread", benchPread));
    benchmark::RegisterBenchmark("Measure", benchMeasure)->Unit(benchmark::kMillisecond)->MinTime(1.0);

    CollectingReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_ColorTabular
                                                      : benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    if (!reporter.errors().empty()) {
        for (const std::string& e : reporter.errors())
            std::fprintf(stderr, "quality_bench: %s\n", e.c_str());
        std::fprintf(stderr, "quality_bench: no figures\n");
        return 1;
    }

    const double score = reporter.median("Score").wall;
    const double readPart = reporter.median("Bound/ReadPart").wall;
    const double pread = reporter.median("Bound/Pread").wall;
    const double measure = reporter.median("Measure").wall;
    const std::string cores = std::to_string(g.threads) + (g.threads == 1 ? " core" : " cores");
    std::vector<Row> rows;
    rows.push_back({"Score " + std::to_string(g.frames) + " frames of 1920×1080 from the sensor plane, " + cores +
                        ", against our reader reading the planes alone",
                    perFrame(score), perFrame(readPart) + ", AVIStreamReadPart on " + cores,
                    fmt("%.2f×", readPart / score), "≥ 0.7× the bound", yesNo(readPart / score >= 0.7)});
    rows.push_back({"The same, against pread of the plane bytes alone", perFrame(score),
                    perFrame(pread) + ", pread on " + cores, fmt("%.2f×", pread / score), "≥ 0.7× the bound",
                    yesNo(pread / score >= 0.7)});
    rows.push_back({"The measure alone, one 1080p plane in memory, one core", fmt("%.2f ms a frame", measure * 1e3),
                    "—", "—", "—", "info"});
    printTable(rows);
    return 0;
}
