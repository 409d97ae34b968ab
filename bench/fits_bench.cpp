// fits_bench: how fast Export Fits Frames sums the ticked frames of a 1080p capture into blocks
// and saves the sums, against the bound of its two unavoidable parts done alone in the same run:
// our reader reading the same stored samples, and CFITSIO writing the same files.
//
//   fits_bench [--dir DIR] [--out DIR] [--frames N] [--sample PATH] [--benchmark_... flags]
//
// The fixture is the I420 capture of the export benchmark (N frames of 1920x1080, default 1000,
// whose Y plane holds a "BG" mosaic), written by the sample tool PATH into DIR (default
// $KESTRO_BENCH_DIR, else a temporary folder removed at the end) and reused when valid. The FITS
// files go to a fresh folder in OUT (default /dev/shm), so that the disk's write-back stays out
// of the figures, and are removed after every run.
//
// Timed in this process, one whole job per repetition (five by default, in random order with the
// others so that a neighbour's load slows all alike), the capture read once untimed before each:
//   - the export in RAW Y-channel, Normal and RAW colour (algorithm 11), blocks of 100;
//   - stepping through the same frames in each of those modes (GoToFrame and GetFrameBitmap);
//   - the bound's parts: AVIStreamRead of every stored sample, and CFITSIO writing the sums of
//     the blocks, each as its own file, straight from the 32-bit sums (its unsigned 16-bit
//     conversion and BZERO) with nothing of ours around it;
//   - the add loop alone on one core: one 1080p plane added to a sum that stays in the caches.
// The last thing printed is a Markdown table for docs/PERFORMANCE.md.
#include "avi_handles.h"
#include "bench_report.h"
#include "sample_fixture.h"
#include "export_report.h"
#include "fits_sum.h"
#include "message_box.h"
#include "video_source.h"

#include <fitsio.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace kestro::bench;

#ifndef KESTRO_SAMPLE
#define KESTRO_SAMPLE "kestro-sample"
#endif

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr std::uint32_t kBlock = 100;

struct Options {
    fs::path capture;
    fs::path out;
    int frames = 1000;
};
Options g;

std::vector<kestro::ui::Message> g_messages;

kestro::ui::Answer recordMessage(const kestro::ui::Message& m)
{
    std::fprintf(stderr, "fits_bench: a message was shown: \"%s: %s\"\n", m.caption.c_str(), m.text.c_str());
    g_messages.push_back(m);
    return kestro::ui::cautiousAnswer(m.buttons);
}

void emptyFolder(const fs::path& dir)
{
    for (const auto& entry : fs::directory_iterator(dir))
        fs::remove(entry.path());
}

double seconds(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

enum class Mode { RawY, Normal, RawColour };

void setMode(CVideoSource& source, Mode mode)
{
    source.m_bRaw = mode != Mode::Normal;
    source.m_bRawColour = mode == Mode::RawColour;
    source.m_bGreyscale = false;
    source.m_converter.SetAlgorithm(CCfaConverter::kOwnAlgorithm);
    source.m_converter.SetPattern(0);
}

// The export as the window runs it: every frame ticked, a progress step each, blocks of 100.
void benchExport(benchmark::State& state, Mode mode)
{
    CVideoSource source;
    if (!source.Open(g.capture.string())) {
        state.SkipWithError("cannot open the capture");
        return;
    }
    setMode(source, mode);
    const std::vector<bool> ticks(static_cast<std::size_t>(source.GetFrameCount()), true);
    const FramePredicate take = [&](std::int32_t i) { return ticks[static_cast<std::size_t>(i)]; };
    std::int64_t steps = 0;
    const ProgressCallback step = [&] { ++steps; };
    for (auto _ : state) {
        warmPageCache(g.capture);
        emptyFolder(g.out);
        ExportReport report;
        const auto start = std::chrono::steady_clock::now();
        const bool ok = source.SaveFitsBlocks((g.out / "sum").string(), kBlock, take, step, &report);
        state.SetIterationTime(seconds(start));
        if (!ok || !report.Complete() || report.nFramesWritten != g.frames || !g_messages.empty()) {
            state.SkipWithError("the export did not write every frame");
            break;
        }
        emptyFolder(g.out);
    }
}

// Stepping through the same frames in the same mode, as the window's Down key does.
void benchStep(benchmark::State& state, Mode mode)
{
    CVideoSource source;
    if (!source.Open(g.capture.string())) {
        state.SkipWithError("cannot open the capture");
        return;
    }
    setMode(source, mode);
    for (auto _ : state) {
        warmPageCache(g.capture);
        const auto start = std::chrono::steady_clock::now();
        for (std::int32_t i = 0; i < g.frames; ++i) {
            if (source.GoToFrame(i) != i || !source.GetFrameBitmap() || !g_messages.empty()) {
                state.SkipWithError("a step gave no picture");
                return;
            }
        }
        state.SetIterationTime(seconds(start));
    }
}

// The first part of the bound: our reader reading every stored sample, nothing done with it.
void benchRead(benchmark::State& state)
{
    kestro::avi::FileHandle file;
    kestro::avi::StreamHandle stream;
    if (AVIFileOpenA(file.out(), g.capture.c_str(), OF_READ, nullptr) != AVIERR_OK ||
        AVIFileGetStream(file.get(), stream.out(), streamtypeVIDEO, 0) != AVIERR_OK) {
        state.SkipWithError("cannot open the capture");
        return;
    }
    std::vector<std::uint8_t> buffer(std::size_t{kWidth} * kHeight * 3 / 2);
    for (auto _ : state) {
        warmPageCache(g.capture);
        const auto start = std::chrono::steady_clock::now();
        for (LONG i = 0; i < g.frames; ++i) {
            LONG bytes = 0;
            if (AVIStreamRead(stream.get(), i, 1, buffer.data(), static_cast<LONG>(buffer.size()), &bytes, nullptr) !=
                AVIERR_OK) {
                state.SkipWithError("a sample could not be read");
                break;
            }
        }
        state.SetIterationTime(seconds(start));
    }
}

// The second part: CFITSIO writing the same number of 1920x1080 sums, unsigned 16-bit with
// BZERO as the export's sums of 100 8-bit frames are, straight from 32-bit values.
void benchCfitsio(benchmark::State& state)
{
    std::vector<std::uint32_t> sum(std::size_t{kWidth} * kHeight);
    for (std::size_t i = 0; i < sum.size(); ++i)
        sum[i] = static_cast<std::uint32_t>((i * 2654435761u) % 25501u);
    const int files = (g.frames + static_cast<int>(kBlock) - 1) / static_cast<int>(kBlock);
    for (auto _ : state) {
        emptyFolder(g.out);
        const auto start = std::chrono::steady_clock::now();
        for (int n = 0; n < files; ++n) {
            const std::string name = (g.out / ("peer" + std::to_string(n) + ".fit")).string();
            fitsfile* f = nullptr;
            int status = 0;
            long axes[2] = {kWidth, kHeight};
            fits_create_diskfile(&f, name.c_str(), &status);
            fits_create_img(f, USHORT_IMG, 2, axes, &status);
            fits_write_img(f, TUINT, 1, static_cast<LONGLONG>(sum.size()), sum.data(), &status);
            fits_close_file(f, &status);
            if (status) {
                state.SkipWithError("CFITSIO could not write a file");
                return;
            }
        }
        state.SetIterationTime(seconds(start));
        emptyFolder(g.out);
    }
}

// The add loop alone: one plane added to a sum; the counter is the plane's bytes per second.
void benchAddRow(benchmark::State& state)
{
    std::vector<std::uint8_t> plane(std::size_t{kWidth} * kHeight);
    for (std::size_t i = 0; i < plane.size(); ++i)
        plane[i] = static_cast<std::uint8_t>(i * 7);
    std::vector<std::uint32_t> sum(plane.size());
    for (auto _ : state) {
        kestro::exports::AddRow(sum.data(), plane.data(), plane.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(plane.size()));
}

std::string perFrame(double wall)
{
    return fmt("%.0f frames/s", g.frames / wall) + fmt(" (%.2f ms a frame)", wall / g.frames * 1e3);
}

} // namespace

int main(int argc, char** argv)
{
    std::string dir, out = "/dev/shm", frameCount, sample = KESTRO_SAMPLE;
    if (!initialiseBenchmark(argc, argv,
                             {{"--dir", &dir}, {"--out", &out}, {"--frames", &frameCount}, {"--sample", &sample}}, 5))
        return 2;
    if (!frameCount.empty())
        g.frames = std::max(int(kBlock), std::atoi(frameCount.c_str()));

    FixtureDir fixtures;
    if (!fixtures.prepare(dir, "fits_bench"))
        return 1;
    g.capture = fixtures.path() / sampleCaptureName(kWidth, kHeight, g.frames);
    const kestro::avi::Session session;
    if (!ensureSampleCapture(g.capture, kWidth, kHeight, g.frames, sample)) {
        std::fprintf(stderr, "fits_bench: cannot prepare %s\n", g.capture.c_str());
        return 1;
    }
    char outTemplate[4096];
    std::snprintf(outTemplate, sizeof outTemplate, "%s/fits_bench.XXXXXX", out.c_str());
    if (!mkdtemp(outTemplate)) {
        std::perror("fits_bench: cannot make the output folder");
        return 1;
    }
    g.out = outTemplate;

    kestro::ui::setMessageHandler(recordMessage);
    auto timed = [](benchmark::internal::Benchmark* b) {
        b->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
    };
    timed(benchmark::RegisterBenchmark("Export/RawY", benchExport, Mode::RawY));
    timed(benchmark::RegisterBenchmark("Export/Normal", benchExport, Mode::Normal));
    timed(benchmark::RegisterBenchmark("Export/RawColour", benchExport, Mode::RawColour));
    timed(benchmark::RegisterBenchmark("Step/RawY", benchStep, Mode::RawY));
    timed(benchmark::RegisterBenchmark("Step/Normal", benchStep, Mode::Normal));
    timed(benchmark::RegisterBenchmark("Step/RawColour", benchStep, Mode::RawColour));
    timed(benchmark::RegisterBenchmark("Bound/Read", benchRead));
    timed(benchmark::RegisterBenchmark("Bound/Cfitsio", benchCfitsio));
    benchmark::RegisterBenchmark("AddRow", benchAddRow)->Unit(benchmark::kMicrosecond)->MinTime(0.5);

    CollectingReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_ColorTabular
                                                      : benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    kestro::ui::setMessageHandler({});
    fs::remove_all(g.out);
    if (!g_messages.empty() || !reporter.errors().empty()) {
        for (const std::string& e : reporter.errors())
            std::fprintf(stderr, "fits_bench: %s\n", e.c_str());
        std::fprintf(stderr, "fits_bench: no figures\n");
        return 1;
    }

    const double rawY = reporter.median("Export/RawY").wall;
    const double read = reporter.median("Bound/Read").wall;
    const double write = reporter.median("Bound/Cfitsio").wall;
    const double bound = read + write;
    const double addRow = reporter.median("AddRow").wall;
    const double planeBytes = double(kWidth) * kHeight;
    std::vector<Row> rows;
    rows.push_back(
        {"Sum " + std::to_string(g.frames) + " frames in RAW Y-channel, blocks of 100, to memory (tmpfs)",
         perFrame(rawY),
         perFrame(bound) + fmt(": our reader alone %.2f s", read) + fmt(" + CFITSIO writing the files %.2f s", write),
         fmt("%.2f×", bound / rawY), "≥ 0.8× the bound", yesNo(bound / rawY >= 0.8)});
    for (const auto& [mode, label] : {std::pair{"Normal", "Normal"}, std::pair{"RawColour", "RAW colour (11)"}}) {
        const double exportTime = reporter.median(std::string("Export/") + mode).wall;
        const double stepTime = reporter.median(std::string("Step/") + mode).wall;
        rows.push_back({std::string("Sum in ") + label + ", against stepping through the same frames",
                        perFrame(exportTime), perFrame(stepTime), fmt("%.2f× its time", exportTime / stepTime),
                        "≤ 1.10× its time", yesNo(exportTime / stepTime <= 1.10)});
    }
    rows.push_back({"Sum in RAW Y-channel, against stepping through the same frames", perFrame(rawY),
                    perFrame(reporter.median("Step/RawY").wall),
                    fmt("%.2f× its time", rawY / reporter.median("Step/RawY").wall), "—", "info"});
    rows.push_back({"Add loop alone, one 1080p plane into the sum, one core",
                    fmt("%.3f ms", addRow * 1e3) + fmt(", %.1f GB/s of 8-bit values", planeBytes / addRow / 1e9) +
                        fmt(" (%.1f GB/s moved with the sum)", planeBytes * 9 / addRow / 1e9),
                    "—", "—", "—", "info"});
    printTable(rows);
    return 0;
}
