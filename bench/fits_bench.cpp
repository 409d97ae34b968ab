// fits_bench: how fast Export Fits Frames sums the ticked frames of 1080p captures into blocks
// and saves the sums, against the bound of its two unavoidable parts done alone in the same run:
// our reader reading the same sensor planes, and CFITSIO writing the same files.
//
//   fits_bench [--dir DIR] [--out DIR] [--frames N] [--ser-frames N] [--sample PATH]
//              [--benchmark_... flags]
//
// Two fixtures in DIR (default $KESTRO_BENCH_DIR, else a temporary folder removed at the end),
// reused when valid:
//   - the I420 capture of the export benchmark (N frames of 1920x1080, default 1000, whose Y
//     plane holds a "BG" mosaic), written by the sample tool PATH: 8-bit sums;
//   - a SER capture of 1920x1080 RGGB samples of 12 bits stored in 16 (--ser-frames, default 500,
//     with a table of frame times), written here: 16-bit sums, past 65535, so in 32-bit files.
// The FITS files go to a fresh folder in OUT (default /dev/shm), so that the disk's write-back
// stays out of the figures, and are removed after every run.
//
// Timed in this process, one whole job per repetition (five by default, in random order with the
// others so that a neighbour's load slows all alike), the capture read once untimed before each:
//   - the export, blocks of 100: the AVI in RAW Y-channel, Normal and RAW colour (algorithm 11),
//     the SER in RAW Y-channel and Normal (both its stored plane at full depth);
//   - stepping through the same frames in each of those modes (GoToFrame and GetFrameBitmap);
//   - the bound's parts: ReadPlaneRows of every frame's whole plane into one buffer, and CFITSIO
//     writing the sums of the blocks, each as its own file, straight from the 32-bit sums (16-bit
//     unsigned with BZERO for the 8-bit sums, 32-bit for the 16-bit ones) with nothing of ours
//     around it;
//   - the add loops alone on one core: one 1080p plane of 8- or 16-bit values added to a sum
//     that stays in the caches.
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
#include <cstring>
#include <filesystem>
#include <fstream>
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
    fs::path capture; // the 8-bit AVI
    fs::path ser;     // the 16-bit SER
    fs::path out;
    int frames = 1000;
    int serFrames = 500;
};
Options g;

enum class Capture { Avi, Ser };

const fs::path& pathOf(Capture c) { return c == Capture::Avi ? g.capture : g.ser; }
int framesOf(Capture c) { return c == Capture::Avi ? g.frames : g.serFrames; }

// The SER fixture: a smooth 12-bit slope that moves with the frame, so that the byte order and
// the real depth are found from the data as in a real capture, and a table of frame times 10 ms
// apart. Reused when the file has the size it would be written with.
bool ensureSerCapture(const fs::path& path, int frames)
{
    const std::uint64_t frameBytes = std::uint64_t{kWidth} * kHeight * 2;
    const std::uint64_t size = 178 + frameBytes * static_cast<std::uint64_t>(frames) + 8ull * frames;
    std::error_code ec;
    if (fs::file_size(path, ec) == size && !ec) {
        std::printf("Reusing %s\n", path.c_str());
        return true;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    char header[178] = {};
    auto put32 = [&](std::size_t at, std::int32_t v) { std::memcpy(header + at, &v, 4); };
    std::memcpy(header, "LUCAM-RECORDER", 14);
    put32(18, 8); // RGGB
    put32(22, 0);
    put32(26, kWidth);
    put32(30, kHeight);
    put32(34, 12);
    put32(38, frames);
    const std::int64_t firstTick = 621'355'968'000'000'000 + 1'796'000'000LL * 10'000'000; // Dec 2026
    std::memcpy(header + 162, &firstTick, 8);
    std::memcpy(header + 170, &firstTick, 8);
    out.write(header, sizeof header);
    std::vector<std::uint16_t> frame(std::size_t{kWidth} * kHeight);
    for (int f = 0; f < frames; ++f) {
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                frame[std::size_t(y) * kWidth + x] = static_cast<std::uint16_t>((x + y + 3 * f) % 4096);
        out.write(reinterpret_cast<const char*>(frame.data()), static_cast<std::streamsize>(frameBytes));
    }
    for (int f = 0; f < frames; ++f) {
        const std::int64_t tick = firstTick + std::int64_t{f} * 100'000;
        out.write(reinterpret_cast<const char*>(&tick), 8);
    }
    out.close();
    if (!out) {
        std::fprintf(stderr, "fits_bench: cannot write %s\n", path.c_str());
        return false;
    }
    std::printf("Wrote %s\n", path.c_str());
    return true;
}

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
void benchExport(benchmark::State& state, Capture capture, Mode mode)
{
    CVideoSource source;
    if (!source.Open(pathOf(capture).string())) {
        state.SkipWithError("cannot open the capture");
        return;
    }
    setMode(source, mode);
    const std::vector<bool> ticks(static_cast<std::size_t>(source.GetFrameCount()), true);
    const FramePredicate take = [&](std::int32_t i) { return ticks[static_cast<std::size_t>(i)]; };
    std::int64_t steps = 0;
    const ProgressCallback step = [&] { ++steps; };
    for (auto _ : state) {
        warmPageCache(pathOf(capture));
        emptyFolder(g.out);
        ExportReport report;
        const auto start = std::chrono::steady_clock::now();
        const bool ok = source.SaveFitsBlocks((g.out / "sum").string(), kBlock, take, step, &report);
        state.SetIterationTime(seconds(start));
        if (!ok || !report.Complete() || report.nFramesWritten != framesOf(capture) || !g_messages.empty()) {
            state.SkipWithError("the export did not write every frame");
            break;
        }
        emptyFolder(g.out);
    }
}

// Stepping through the same frames in the same mode, as the window's Down key does.
void benchStep(benchmark::State& state, Capture capture, Mode mode)
{
    CVideoSource source;
    if (!source.Open(pathOf(capture).string())) {
        state.SkipWithError("cannot open the capture");
        return;
    }
    setMode(source, mode);
    for (auto _ : state) {
        warmPageCache(pathOf(capture));
        const auto start = std::chrono::steady_clock::now();
        for (std::int32_t i = 0; i < framesOf(capture); ++i) {
            if (source.GoToFrame(i) != i || !source.GetFrameBitmap() || !g_messages.empty()) {
                state.SkipWithError("a step gave no picture");
                return;
            }
        }
        state.SetIterationTime(seconds(start));
    }
}

// The first part of the bound: our reader reading every frame's whole sensor plane, as the
// sums need it (for the AVI the plane only, not the chroma after it), nothing done with it.
void benchReadPlanes(benchmark::State& state, Capture capture)
{
    CVideoSource source;
    if (!source.Open(pathOf(capture).string())) {
        state.SkipWithError("cannot open the capture");
        return;
    }
    const int bytes = source.GetPlaneSampleBytes();
    std::vector<std::uint8_t> buffer(std::size_t{kWidth} * kHeight * static_cast<std::size_t>(bytes));
    for (auto _ : state) {
        warmPageCache(pathOf(capture));
        const auto start = std::chrono::steady_clock::now();
        for (std::int32_t i = 0; i < framesOf(capture); ++i) {
            if (!source.ReadPlaneRows(i, 0, kHeight, buffer.data(), std::ptrdiff_t{kWidth} * bytes)) {
                state.SkipWithError("a plane could not be read");
                return;
            }
        }
        state.SetIterationTime(seconds(start));
    }
}

// The second part: CFITSIO writing the same number of 1920x1080 sums straight from 32-bit
// values, as the export stores them: unsigned 16-bit with BZERO for sums of 100 8-bit frames,
// unsigned 32-bit for sums of 100 12-bit ones.
void benchCfitsio(benchmark::State& state, Capture capture)
{
    const bool wide = capture == Capture::Ser;
    std::vector<std::uint32_t> sum(std::size_t{kWidth} * kHeight);
    for (std::size_t i = 0; i < sum.size(); ++i)
        sum[i] = static_cast<std::uint32_t>((i * 2654435761u) % (wide ? 409501u : 25501u));
    const int files = (framesOf(capture) + static_cast<int>(kBlock) - 1) / static_cast<int>(kBlock);
    for (auto _ : state) {
        emptyFolder(g.out);
        const auto start = std::chrono::steady_clock::now();
        for (int n = 0; n < files; ++n) {
            const std::string name = (g.out / ("peer" + std::to_string(n) + ".fit")).string();
            fitsfile* f = nullptr;
            int status = 0;
            long axes[2] = {kWidth, kHeight};
            fits_create_diskfile(&f, name.c_str(), &status);
            fits_create_img(f, wide ? ULONG_IMG : USHORT_IMG, 2, axes, &status);
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
template <class Sample> void benchAddRow(benchmark::State& state)
{
    std::vector<Sample> plane(std::size_t{kWidth} * kHeight);
    for (std::size_t i = 0; i < plane.size(); ++i)
        plane[i] = static_cast<Sample>(i * 7);
    std::vector<std::uint32_t> sum(plane.size());
    for (auto _ : state) {
        kestro::exports::AddRow(sum.data(), plane.data(), plane.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(plane.size() * sizeof(Sample)));
}

std::string perFrame(double wall, int frames = g.frames)
{
    return fmt("%.0f frames/s", frames / wall) + fmt(" (%.2f ms a frame)", wall / frames * 1e3);
}

} // namespace

int main(int argc, char** argv)
{
    std::string dir, out = "/dev/shm", frameCount, serFrameCount, sample = KESTRO_SAMPLE;
    if (!initialiseBenchmark(argc, argv,
                             {{"--dir", &dir},
                              {"--out", &out},
                              {"--frames", &frameCount},
                              {"--ser-frames", &serFrameCount},
                              {"--sample", &sample}},
                             5))
        return 2;
    if (!frameCount.empty())
        g.frames = std::max(int(kBlock), std::atoi(frameCount.c_str()));
    if (!serFrameCount.empty())
        g.serFrames = std::max(int(kBlock), std::atoi(serFrameCount.c_str()));

    FixtureDir fixtures;
    if (!fixtures.prepare(dir, "fits_bench"))
        return 1;
    g.capture = fixtures.path() / sampleCaptureName(kWidth, kHeight, g.frames);
    g.ser = fixtures.path() / ("fits16-" + std::to_string(kWidth) + "x" + std::to_string(kHeight) + "-" +
                               std::to_string(g.serFrames) + ".ser");
    const kestro::avi::Session session;
    if (!ensureSampleCapture(g.capture, kWidth, kHeight, g.frames, sample)) {
        std::fprintf(stderr, "fits_bench: cannot prepare %s\n", g.capture.c_str());
        return 1;
    }
    if (!ensureSerCapture(g.ser, g.serFrames))
        return 1;
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
    timed(benchmark::RegisterBenchmark("Export/RawY", benchExport, Capture::Avi, Mode::RawY));
    timed(benchmark::RegisterBenchmark("Export/Normal", benchExport, Capture::Avi, Mode::Normal));
    timed(benchmark::RegisterBenchmark("Export/RawColour", benchExport, Capture::Avi, Mode::RawColour));
    timed(benchmark::RegisterBenchmark("Export16/RawY", benchExport, Capture::Ser, Mode::RawY));
    timed(benchmark::RegisterBenchmark("Export16/Normal", benchExport, Capture::Ser, Mode::Normal));
    timed(benchmark::RegisterBenchmark("Step/RawY", benchStep, Capture::Avi, Mode::RawY));
    timed(benchmark::RegisterBenchmark("Step/Normal", benchStep, Capture::Avi, Mode::Normal));
    timed(benchmark::RegisterBenchmark("Step/RawColour", benchStep, Capture::Avi, Mode::RawColour));
    timed(benchmark::RegisterBenchmark("Bound/Read", benchReadPlanes, Capture::Avi));
    timed(benchmark::RegisterBenchmark("Bound/Cfitsio", benchCfitsio, Capture::Avi));
    timed(benchmark::RegisterBenchmark("Bound16/Read", benchReadPlanes, Capture::Ser));
    timed(benchmark::RegisterBenchmark("Bound16/Cfitsio", benchCfitsio, Capture::Ser));
    benchmark::RegisterBenchmark("AddRow", benchAddRow<std::uint8_t>)->Unit(benchmark::kMicrosecond)->MinTime(0.5);
    benchmark::RegisterBenchmark("AddRow16", benchAddRow<std::uint16_t>)->Unit(benchmark::kMicrosecond)->MinTime(0.5);

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

    const double planeSamples = double(kWidth) * kHeight;
    std::vector<Row> rows;
    auto againstBound = [&](const char* what, const std::string& exportName, const std::string& boundName, int frames,
                            bool goal) {
        const double sum = reporter.median(exportName).wall;
        const double read = reporter.median(boundName + "/Read").wall;
        const double write = reporter.median(boundName + "/Cfitsio").wall;
        const double bound = read + write;
        rows.push_back({std::string(what), perFrame(sum, frames),
                        perFrame(bound, frames) + fmt(": our plane reads alone %.2f s", read) +
                            fmt(" + CFITSIO writing the files %.2f s", write),
                        fmt("%.2f×", bound / sum), goal ? "≥ 0.8× the bound" : "—",
                        goal ? yesNo(bound / sum >= 0.8) : "info"});
    };
    againstBound(("Sum " + std::to_string(g.serFrames) +
                  " 16-bit frames (12-bit data) in RAW Y-channel, blocks of 100, to memory (tmpfs)")
                     .c_str(),
                 "Export16/RawY", "Bound16", g.serFrames, true);
    againstBound("… the same in Normal (a Bayer SER shows its plane in grey)", "Export16/Normal", "Bound16",
                 g.serFrames, false);
    againstBound(
        ("Sum " + std::to_string(g.frames) + " 8-bit frames in RAW Y-channel, blocks of 100, to memory (tmpfs)")
            .c_str(),
        "Export/RawY", "Bound", g.frames, true);
    for (const auto& [mode, label] : {std::pair{"Normal", "Normal"}, std::pair{"RawColour", "RAW colour (11)"}}) {
        const double exportTime = reporter.median(std::string("Export/") + mode).wall;
        const double stepTime = reporter.median(std::string("Step/") + mode).wall;
        rows.push_back({std::string("Sum 8-bit frames in ") + label + ", against stepping through the same frames",
                        perFrame(exportTime), perFrame(stepTime), fmt("%.2f× its time", exportTime / stepTime),
                        "≤ 1.3× its time", yesNo(exportTime / stepTime <= 1.3)});
    }
    rows.push_back({"Sum 8-bit frames in RAW Y-channel, against stepping through the same frames",
                    perFrame(reporter.median("Export/RawY").wall), perFrame(reporter.median("Step/RawY").wall),
                    fmt("%.2f× its time", reporter.median("Export/RawY").wall / reporter.median("Step/RawY").wall), "—",
                    "info"});
    for (const auto& [name, bytes] : {std::pair{"AddRow", 1}, std::pair{"AddRow16", 2}}) {
        const double t = reporter.median(name).wall;
        rows.push_back({std::string("Add loop alone, one 1080p plane of ") + (bytes == 1 ? "8" : "16") +
                            "-bit values into the sum, one core",
                        fmt("%.3f ms", t * 1e3) + fmt(", %.1f GB/s of input", planeSamples * bytes / t / 1e9) +
                            fmt(" (%.1f GB/s moved with the sum)", planeSamples * (bytes + 8) / t / 1e9),
                        "—", "—", "—", "info"});
    }
    printTable(rows);
    return 0;
}
